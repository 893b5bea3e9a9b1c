// Threads on the real Windows API: CreateThread and TerminateThread, then the handle is closed;
// manual-reset events.
#include <windows.h>

#include "platform/thread.h"

namespace platform {
namespace {

// A body that returns leaves its thread asleep until KillThread ends it. A thread on its own way
// out holds the loader's lock while the DLLs hear of its end; a TerminateThread landing there
// would leave that lock held, and the process could start no thread and never exit.
DWORD WINAPI RunThread(LPVOID argument) {
  const ThreadStart* start = static_cast<const ThreadStart*>(argument);
  start->Body(start->Context);
  for (;;) ::Sleep(INFINITE);
}

}  // namespace

Handle StartThread(const ThreadStart* start) {
  if (start == nullptr || start->Body == nullptr) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  HANDLE thread =
      ::CreateThread(nullptr, 0, RunThread, const_cast<ThreadStart*>(start), 0, nullptr);
  return reinterpret_cast<Handle>(thread);
}

bool KillThread(Handle thread) {
  HANDLE native = reinterpret_cast<HANDLE>(thread);
  const BOOL killed = ::TerminateThread(native, 0);
  const DWORD error = ::GetLastError();
  // The handle goes whatever the outcome: nothing uses a killed reader again.
  ::CloseHandle(native);
  if (!killed) ::SetLastError(error);
  return killed != FALSE;
}

bool ThreadKilled() {
  return false;
}

void PauseThread(std::uint32_t milliseconds) {
  ::Sleep(milliseconds);
}

Handle CreateManualEvent() {
  return reinterpret_cast<Handle>(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
}

bool SetManualEvent(Handle event) {
  return ::SetEvent(reinterpret_cast<HANDLE>(event)) != FALSE;
}

bool ResetManualEvent(Handle event) {
  return ::ResetEvent(reinterpret_cast<HANDLE>(event)) != FALSE;
}

bool WaitForManualEvent(Handle event) {
  // A kill ends the thread in here, as anywhere.
  return ::WaitForSingleObject(reinterpret_cast<HANDLE>(event), INFINITE) == WAIT_OBJECT_0;
}

}  // namespace platform
