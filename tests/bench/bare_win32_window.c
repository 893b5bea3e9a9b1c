/* The floor of the bridge's window on Windows: the same controls at the same places, and a
 * 50 ms timer that does nothing, in a plain message loop. Runs until its window is closed. */
#include "bare_win32_widgets.h"

static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command, int show) {
  (void)previous;
  (void)command;
  BareWin32Widgets widgets;
  if (!bare_win32_widgets_show(instance, procedure, "bare Win32 window", show, &widgets)) return 1;
  SetTimer(widgets.window, 1, 50, NULL);
  MSG message;
  while (GetMessageA(&message, NULL, 0, 0) > 0) DispatchMessageA(&message);
  return 0;
}
