/* The floor of the bridge's window on Windows: one window and a 50 ms timer that does nothing,
 * in a plain message loop. Runs until its window is closed. */
#include <windows.h>

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
  WNDCLASSA windowClass = {0};
  windowClass.lpfnWndProc = procedure;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = "BareWin32Window";
  RegisterClassA(&windowClass);
  HWND window = CreateWindowA("BareWin32Window", "bare Win32 window", WS_OVERLAPPEDWINDOW, 262, 250,
                              587, 430, NULL, NULL, instance, NULL);
  ShowWindow(window, show);
  SetTimer(window, 1, 50, NULL);
  MSG message;
  while (GetMessageA(&message, NULL, 0, 0) > 0) DispatchMessageA(&message);
  return 0;
}
