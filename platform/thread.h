// Threads: start one, kill one. The bridge has one thread of its own besides the user-interface
// thread, the EFIS reader; it is never asked to stop, only killed, and nobody waits for it.
//
// Win32: CreateThread and TerminateThread, arguments passed through; the kill closes the
// thread's handle too. POSIX has no forcible kill that is safe, so a thread started here carries
// a kill event: the kill sets it and returns at once, the thread's blocking calls of this layer
// (ReadDeviceFile of platform/device.h, PauseThread) also wait on it and give up when it is set,
// and the thread's body ends at its next look at ThreadKilled(). Either way the killer never
// waits for the thread and the killed thread starts no further read. Failures are reported as
// Windows reports them: a 0/false result and an error code readable with LastError() of
// platform/ipc.h.
#pragma once

#include <cstdint>

#include "platform/ipc.h"

namespace platform {

// A thread's body and what it gets. The caller keeps it valid for as long as the thread may run
// (a static): the thread reads it when it starts.
struct ThreadStart {
  void (*Body)(void* context);
  void* Context;
};

// CreateThread(NULL, 0, ..., 0, NULL): a new thread running start->Body(start->Context) at once.
// Returns its handle, or 0 when no thread could be made (LastError 8, not enough memory;
// kErrorInvalidParameter without a body). A thread whose body returns ends and releases what it
// holds, except the handle: that goes with KillThread. Any thread (the bridge: the user-interface
// thread).
Handle StartThread(const ThreadStart* start);

// TerminateThread(thread, 0), then CloseHandle(thread), without waiting for the thread: the
// handle is gone when this returns, whatever the outcome. False when the thread could not be
// killed (kErrorInvalidHandle for a handle that is not a thread of StartThread). Win32: the
// thread stops wherever it is (in the middle of a read, which is abandoned with it). POSIX: the
// thread's kill event is set; a read it is blocked in returns at once, taking no frame, and any
// work it is doing between two calls of this layer runs on to its next look at ThreadKilled().
// Any thread but the one killed.
bool KillThread(Handle thread);

// On the calling thread: true once it has been killed. Win32 never sees it (a killed thread
// runs no more); POSIX bodies look at it to end after a kill. False on a thread not made by
// StartThread.
bool ThreadKilled();

// Sleep(milliseconds). POSIX: returns early when the calling thread is killed.
void PauseThread(std::uint32_t milliseconds);

}  // namespace platform
