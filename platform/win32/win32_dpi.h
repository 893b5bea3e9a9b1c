// The Win32 toolkit's dots per inch: the window table is in pixels at 96 per inch, and the
// window scales it, and its font, by the DPI Windows gives the window. Every function here runs
// on the user-interface thread and returns at once.
#pragma once

#include <windows.h>

#include <string>

namespace win32 {

// The DPI of the table, and of a screen at 100 %.
inline constexpr int kDesignDpi = 96;

// The DPI of `window`: GetDpiForWindow where user32 has it (Windows 10 1607 and later), looked
// up at run time so that the exe still loads on Windows 7; elsewhere the system DPI (the
// screen's LOGPIXELSY, which a DPI-aware process reads unscaled). Never below 1.
int WindowDpi(HWND window);

// `pixels` at 96 per inch in `dpi`: MulDiv, so a half pixel rounds away from zero.
int ScaleToDpi(int pixels, int dpi);

// The form font at `dpi`: `points` high (as a character height, -MulDiv(points, dpi, 72)),
// in `face`, or at any DPI but 96 in its TrueType twin when `face` is a bitmap font that does
// not scale. Null when GDI cannot make it.
HFONT CreateFontAtDpi(const std::string& face, int points, int dpi);

// The face CreateFontAtDpi asks for.
std::string FontFaceAtDpi(const std::string& face, int dpi);

}  // namespace win32
