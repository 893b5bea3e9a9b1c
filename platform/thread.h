// Threads: start one, kill one, and the events a thread waits on. The bridge has one thread of
// its own besides the user-interface thread, the EFIS reader; it is never asked to stop, only
// killed, and nobody waits for it.
//
// Win32: CreateThread and TerminateThread, arguments passed through; the kill closes the
// thread's handle too. POSIX has no forcible kill that is safe, so a thread started here carries
// a kill event: the kill sets it and returns at once, the thread's blocking calls of this layer
// (ReadDeviceFile of platform/device.h, PauseThread) also wait on it and give up when it is set,
// and the thread's body ends at its next look at ThreadKilled(). Either way the killer never
// waits for the thread and the killed thread starts no further read. Failures are reported as
// Windows reports them: a 0/false result and an error code readable with LastError() of
// platform/ipc.h. Each declaration says what it returns, its errors, threads and waits as
// platform/ipc.h lays out.
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
// A thread whose body returns ends and releases what it holds, except its handle. Win32: it
// sleeps until KillThread instead, so that no kill ever lands in Windows' own thread exit.
// Returns  the thread's handle (release it with KillThread, even after the body has returned);
//          0 when no thread could be made.
// Errors   kErrorInvalidParameter: start or its Body null. kErrorNotEnoughMemory: no thread
//          could be made. POSIX: the errno's code when no kill event can be made;
//          kErrorTooManyOpenFiles when the handle table is full.
// Thread   any (the bridge: the user-interface thread).   Blocks  no.
Handle StartThread(const ThreadStart* start);

// TerminateThread(thread, 0), then CloseHandle(thread), without waiting for the thread: the
// handle is gone when this returns, whatever the outcome. Win32: the thread stops wherever it
// is (in the middle of a read, which is abandoned with it). POSIX: the thread's kill event is
// set; a read it is blocked in returns at once, taking no frame, and any work it is doing
// between two calls of this layer runs on to its next look at ThreadKilled().
// Returns  true; false when the thread could not be killed.
// Errors   kErrorInvalidHandle: not a thread handle of StartThread (POSIX: nor open).
// Thread   any but the one killed.   Blocks  no: never waits for the thread.
bool KillThread(Handle thread);

// Whether the calling thread has been killed: POSIX bodies look at it to end after a kill.
// Returns  true once killed; always false on Win32 (a killed thread runs no more) and on a
//          thread not made by StartThread.
// Thread   any (about itself).   Blocks  no.
bool ThreadKilled();

// Sleep(milliseconds). POSIX: returns early, at once, when the calling thread is killed.
// Thread   any.   Blocks  for that time.
void PauseThread(std::uint32_t milliseconds);

// A manual-reset event: a flag that one thread sets and resets while others wait for it to be
// set. Waiters only wait: none of them changes it, so a waiter that is killed can take nothing
// from the one that follows it.

// CreateEventA(NULL, TRUE, FALSE, NULL): a new unnamed manual-reset event, not set.
// Returns  its handle (release it with CloseKernelHandle); 0 when none could be made.
// Errors   POSIX: the errno's code; kErrorTooManyOpenFiles when the handle table is full.
// Thread   any.   Blocks  no.
Handle CreateManualEvent();

// SetEvent / ResetEvent: the event is set until it is reset; setting a set event, or resetting
// one that is not, changes nothing.
// Returns  true; false for a handle that is not an event.
// Errors   kErrorInvalidHandle.
// Thread   any (the bridge: the user-interface thread, one thread for both).   Blocks  no.
bool SetManualEvent(Handle event);
bool ResetManualEvent(Handle event);

// WaitForSingleObject(event, INFINITE): returns once the event is set, at once when it is
// already; the event stays as it is. POSIX: also returns, at once, when the calling thread (one
// of StartThread) is killed, or when the event is closed (Win32 leaves a wait on a closed
// handle undefined: nothing here closes an event that is waited on).
// Returns  true when the event is set; false for a kill or a close (POSIX) or a handle that is
//          not an event.
// Errors   kErrorOperationAborted: the calling thread was killed (POSIX). kErrorInvalidHandle:
//          not an event, or closed during the wait.
// Thread   any.   Blocks  until the event is set (POSIX: or the thread killed); no time limit.
bool WaitForManualEvent(Handle event);

}  // namespace platform
