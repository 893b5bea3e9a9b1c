/* The bridge's window on Win32 without the bridge (bare_win32_widgets.h). */
#include "bare_win32_widgets.h"

#include <commctrl.h>

#include "bare_window_layout.h"

static HWND control(HWND parent, const char* windowClass, const char* text, DWORD style, int x,
                    int y, int width, int height) {
  HWND made = CreateWindowExA(0, windowClass, text, WS_CHILD | WS_VISIBLE | style, x, y, width,
                              height, parent, NULL, GetModuleHandleA(NULL), NULL);
  SendMessageA(made, WM_SETFONT, (WPARAM)GetStockObject(DEFAULT_GUI_FONT), FALSE);
  return made;
}

static HWND trackbar(HWND parent, DWORD orientation, int x, int y, int width, int height) {
  HWND bar = control(parent, TRACKBAR_CLASSA, "",
                     WS_TABSTOP | TBS_AUTOTICKS | TBS_TOP | orientation, x, y, width, height);
  SendMessageA(bar, TBM_SETRANGEMIN, FALSE, -512);
  SendMessageA(bar, TBM_SETRANGEMAX, FALSE, 512);
  SendMessageA(bar, TBM_SETTICFREQ, 64, 0);
  return bar;
}

BOOL bare_win32_widgets_show(HINSTANCE instance, WNDPROC procedure, const char* title, int show,
                             BareWin32Widgets* out) {
  INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_BAR_CLASSES};
  InitCommonControlsEx(&controls);
  WNDCLASSA windowClass = {0};
  windowClass.lpfnWndProc = procedure;
  windowClass.hInstance = instance;
  windowClass.hbrBackground = (HBRUSH)(COLOR_BTNFACE + 1);
  windowClass.lpszClassName = "BareWin32Window";
  RegisterClassA(&windowClass);
  HWND window = CreateWindowA("BareWin32Window", title, WS_OVERLAPPEDWINDOW, 262, 250, 587, 430,
                              NULL, NULL, instance, NULL);
  if (window == NULL) return FALSE;
  HWND log = control(window, "EDIT", "", WS_TABSTOP | ES_MULTILINE | ES_AUTOVSCROLL | ES_READONLY,
                     8, 8, 553, 161);
  control(window, "BUTTON", "Reconnect to Flight simulator", WS_TABSTOP | BS_PUSHBUTTON, 16, 184,
          169, 25);
  control(window, "BUTTON", "Reconnect to EFIS ", WS_TABSTOP | BS_PUSHBUTTON, 16, 216, 169, 25);
  out->bank = trackbar(window, TBS_HORZ, 328, 240, 150, 41);
  out->pitch = trackbar(window, TBS_VERT, 496, 184, 33, 150);
  for (int i = 0; i < kBareLabels; ++i) {
    const BareLabel* at = &kBareLabel[i];
    HWND label = control(window, "STATIC", at->text, SS_NOPREFIX | SS_LEFT, at->left, at->top,
                         at->width, at->height);
    if (i == kBareAutopilotLabel) out->autopilot = label;
  }
  ShowWindow(window, show);
  SetFocus(log); /* the bridge's log has the focus, its caret blinking */
  out->window = window;
  return TRUE;
}
