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
};

// A new handle for an open fd; 0 (and LastError kErrorTooManyOpenFiles) when the table is
// full. Handles are small non-zero numbers, never kInvalidHandle.
Handle AllocateHandle(int fd, HandleCloser closer, void* data);

// Runs `use` with the entry of a live handle while the entry cannot be closed underneath it;
// false (LastError kErrorInvalidHandle) for a handle that is not open. A blocking call inside
// `use` must not hold up CloseKernelHandle: use DuplicateFd for those. `use` must not close
// the handle itself (CloseKernelHandle waits for `use` to return).
bool WithHandle(Handle handle, void (*use)(HandleEntry& entry, void* context), void* context);

// A dup() of the handle's fd for one blocking call, or -1 (LastError kErrorInvalidHandle).
// The caller closes it.
int DuplicateFd(Handle handle);

// Ready-made closers. CloseFdEntry closes the fd. CloseSocketEntry shuts the socket down first,
// so a read blocked on a dup of it (another thread's DuplicateFd) returns at once.
void CloseFdEntry(HandleEntry& entry);
void CloseSocketEntry(HandleEntry& entry);

// Number of handles the table holds at most.
inline constexpr int kHandleTableSize = 1024;

}  // namespace platform::posix
