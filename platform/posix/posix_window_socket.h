// The socket file that stands for a top-level window of a class (R/windows/<class>), shared by
// the client side (posix_ipc.cpp) and the serving side (posix_ipc_server.cpp). Any thread.
#pragma once

#include <sys/un.h>

#include <cstdint>

namespace platform::posix {

// Fills `address` with R/windows/<className>. False with the Windows code in *error
// (kErrorInvalidName for a bad class name, kErrorFilenameTooLong when the path does not fit a
// socket address, or the reason R cannot be made).
bool WindowSocketAddress(const char* className, sockaddr_un* address, std::uint32_t* error);

enum class WindowState { None, Stale, Live };

// Whether a window listens at `address`: Live while its socket accepts connections (a full
// backlog is a busy window, still live), Stale for a socket file nobody listens on.
WindowState ProbeWindowSocket(const sockaddr_un& address);

}  // namespace platform::posix
