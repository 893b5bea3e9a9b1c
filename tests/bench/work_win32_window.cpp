// work-win32-window.exe [--no-efis]: the floor that does the bridge's work (work_floor.h) in
// the bridge's window on Win32, ticked by a 50 ms SetTimer in a plain message loop. Prints
// "work floor ready" once it is connected and its window is up; runs until its window is closed
// or the process is ended, or ends with 1 when its work fails.
#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <cstring>

#include "tests/bench/bare_win32_widgets.h"
#include "tests/bench/work_floor.h"

namespace {

BareWin32Widgets Widgets;

void ShowSliders(void*, int bank, int pitch) {
  SendMessageA(Widgets.bank, TBM_SETPOS, TRUE, bank);
  SendMessageA(Widgets.pitch, TBM_SETPOS, TRUE, pitch);
}

void ShowCaption(void*, const char* caption) {
  SetWindowTextA(Widgets.autopilot, caption);
}

const workfloor::Window kWindow = {ShowSliders, ShowCaption, nullptr};

LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_TIMER) {
    workfloor::Tick(kWindow);
    return 0;
  }
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR command, int show) {
  const bool efis = std::strcmp(command, "--no-efis") != 0;
  if (efis && command[0] != '\0') {
    std::fprintf(stderr, "usage: work-win32-window.exe [--no-efis]\n");
    return 2;
  }
  if (!bare_win32_widgets_show(instance, Procedure, "work Win32 window", show, &Widgets) ||
      !workfloor::Open(efis))
    return 1;
  SetTimer(Widgets.window, 1, 50, nullptr);
  std::printf("work floor ready\n");
  std::fflush(stdout);
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) DispatchMessageA(&message);
  return 0;
}
