/* The bridge's window on Win32 without the bridge, for the floors: the same controls (an edit
 * box, two buttons, two trackbars, nine static labels) at the same places. */
#pragma once

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct {
  HWND window;
  HWND bank;      /* the horizontal trackbar, -512..512 */
  HWND pitch;     /* the vertical one */
  HWND autopilot; /* the autopilot's line */
} BareWin32Widgets;

/* Registers the window class with `procedure`, makes the window and its controls and shows
 * it; false when a window cannot be made. */
BOOL bare_win32_widgets_show(HINSTANCE instance, WNDPROC procedure, const char* title, int show,
                             BareWin32Widgets* out);

#ifdef __cplusplus
}
#endif
