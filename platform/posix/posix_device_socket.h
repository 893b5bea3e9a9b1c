// What both halves of the POSIX device contract share: the opener (posix_device.cpp) and the
// server (posix_device_server.cpp). Where a class's interface entries live, the socket address
// of a device path, the byte that answers an open, and the lock that makes an entry present.
// Any thread; nothing here keeps state.
#pragma once

#include <sys/un.h>

#include <string>

#include "platform/device.h"

namespace platform::posix {

// "devices/{0577ABC6-B5F2-4025-8230-AA4F8C0E9E60}": the class's entries, relative to R.
std::string ClassEntriesDir(const DeviceClassGuid& interfaceClass);

// Fills `address` with `path`; false when the path does not fit a socket address.
bool DeviceSocketAddress(const char* path, sockaddr_un* address);

// The server's answer to each opener's connect, before anything else on the connection.
inline constexpr unsigned char kOpenTaken = 1;
inline constexpr unsigned char kOpenRefused = 0;

// True while the entry open at `fd` is present: its owner holds an flock on it (so this process
// cannot take it exclusively). Never waits.
bool EntryHeld(int fd);

}  // namespace platform::posix
