// The socket file that stands for a top-level window of a class (R/windows/<class>), and the
// packets that travel on it, shared by the client side (posix_ipc.cpp) and the serving side
// (posix_ipc_server.cpp). Any thread; nothing here keeps state.
#pragma once

#include <sys/un.h>

#include <cstddef>
#include <cstdint>

#include "platform/ipc_server.h"

namespace platform::posix {

// Fills `address` with R/windows/<className>. False with the Windows code in *error
// (kErrorInvalidName for a bad class name, kErrorAccessDenied when R cannot be made,
// kErrorFilenameTooLong when the path does not fit a socket address). Never blocks.
bool WindowSocketAddress(const char* className, sockaddr_un* address, std::uint32_t* error);

enum class WindowState { None, Stale, Live };

// Whether a window listens at `address`: Live while its socket accepts connections (a full
// backlog is a busy window, still live), Stale for a socket file nobody listens on, None for
// no socket at all. One non-blocking connect, closed at once: never waits for the server.
WindowState ProbeWindowSocket(const sockaddr_un& address);

// A connection carries message packets, {msg, wParam, lParam, sender pid}, one at a time, each
// answered by one reply packet, {result, 0}, before the next: each field a little-endian 32-bit
// value. A sender keeps its connection to a window from one message to the next; a server may
// close one after any reply.
//
// What a server looked up for an atom of a message (its name, the area it names) it may keep
// until the connection ends. An atom may be deleted and its value given to another name at
// once, so a sender ends its connections to windows before it deletes an atom.
inline constexpr std::size_t kMessagePacketSize = 16;
inline constexpr std::size_t kReplyPacketSize = 8;

// Ends this process's kept connections to windows: shuts each down and waits (1 s at most in
// all) for its server to close its end, having released what it kept for the connection. Called
// by DeleteGlobalAtom. Any thread; waits for a message another thread has in flight.
void EndWindowConnections();

void PutMessagePacket(unsigned char (&packet)[kMessagePacketSize], const ServerMessage& message);
ServerMessage GetMessagePacket(const unsigned char* packet);
void PutReplyPacket(unsigned char (&packet)[kReplyPacketSize], std::uint32_t result);
// The result of a reply; the second field is not read.
std::uint32_t GetReplyPacket(const unsigned char* packet);

}  // namespace platform::posix
