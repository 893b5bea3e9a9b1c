// korvan-efis.exe: the unit's thread waits for the console's stop, a wake-up from the device's
// serving thread and the next turn, and polls the console's keys.
#include <windows.h>

#include "standins/efis/unit_loop.h"

namespace efisunit {

namespace {

constexpr DWORD kKeyPollMs = 100;

HANDLE StopEvent = nullptr;
HANDLE WakeEvent = nullptr;

BOOL WINAPI OnConsoleStop(DWORD) {
  SetEvent(StopEvent);
  return TRUE;
}

}  // namespace

const bool kUnitHasPanelWindow = false;

bool BeginUnitLoop() {
  StopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  WakeEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  SetConsoleCtrlHandler(OnConsoleStop, TRUE);
  return StopEvent != nullptr && WakeEvent != nullptr;
}

void WakeUnitLoop() {
  SetEvent(WakeEvent);
}

bool ServeUnitLoop(RunningUnit& unit) {
  HANDLE waits[2] = {StopEvent, WakeEvent};
  for (;;) {
    DWORD wait = static_cast<DWORD>(UnitTurn(unit, true));
    if (unit.outputs->KeyFd() >= 0 && wait > kKeyPollMs) wait = kKeyPollMs;
    if (WaitForMultipleObjects(2, waits, FALSE, wait) == WAIT_OBJECT_0) break;
  }
  return true;
}

// The panel line and the text panel at the end (korvan-efis.exe has no window).
int RunReplay(const UnitOptions& options) {
  static PanelSession session;
  return ReplayRecording(options, session) > 0 ? 0 : 1;
}

}  // namespace efisunit
