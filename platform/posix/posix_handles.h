// The POSIX layer's handle table: what a platform::Handle stands for. Every kernel object of
// the layer (mapping, device file, pipe) is an entry here, so CloseKernelHandle closes any of
// them. Thread-safe: the reader thread reads a pipe while the user-interface thread may close it.
#pragma once

#include <cstdint>

#include "platform/ipc.h"

namespace platform::posix {

struct HandleEntry;
// Releases what the entry holds (its fd and any data); called once, by CloseKernelHandle.
using HandleCloser = void (*)(HandleEntry& entry);

struct HandleEntry {
  int fd = -1;
  HandleCloser closer = nullptr;
  void* data = nullptr;  // owned by the kind of handle
  bool socket = false;   // calls blocked on the fd end when the handle is closed
};

// A new handle for an open fd; 0 (and LastError kErrorTooManyOpenFiles) when the table is
// full. Handles are small non-zero numbers, never kInvalidHandle. `socket`: the fd is a socket
// that calls may block on (see WithHandle).
Handle AllocateHandle(int fd, HandleCloser closer, void* data, bool socket = false);

// Runs `use` with the entry of a live handle while the entry cannot be closed underneath it:
// its fd stays open and the same for the whole call, with no copy made. False (LastError
// kErrorInvalidHandle) for a handle that is not open. CloseKernelHandle waits for `use` to
// return, so `use` must not close the handle itself, and may block on the fd only when the entry
// is a socket: the close then shuts the socket down first, which ends the blocked call at once.
bool WithHandle(Handle handle, void (*use)(HandleEntry& entry, void* context), void* context);

// Ready-made closers. CloseFdEntry closes the fd. CloseSocketEntry shuts the socket down first,
// so the peer sees the end at once even while another process shares the socket.
void CloseFdEntry(HandleEntry& entry);
void CloseSocketEntry(HandleEntry& entry);

// Number of handles the table holds at most.
inline constexpr int kHandleTableSize = 1024;

}  // namespace platform::posix
