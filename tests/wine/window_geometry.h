// A window's controls as the Wine tests measure them: rectangles in the client area of their
// window, written "left,top WxH", and the size a text takes on one line in a given font.
#pragma once

#include <windows.h>

#include <string>

inline std::string Describe(const RECT& r) {
  return std::to_string(r.left) + "," + std::to_string(r.top) + " " +
         std::to_string(r.right - r.left) + "x" + std::to_string(r.bottom - r.top);
}

// Where `child` is in `parent`'s client area (any process's windows).
inline RECT ClientRectOf(HWND parent, HWND child) {
  RECT r = {};
  GetWindowRect(child, &r);
  MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

// What DrawText gives `text` on one line in a normal font `height` pixels high (negative: the
// character height) of `face`, made here.
inline SIZE TextSize(const std::string& text, int height, const char* face) {
  HFONT font = CreateFontA(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                           OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                           DEFAULT_PITCH | FF_DONTCARE, face);
  HDC dc = GetDC(nullptr);
  HGDIOBJ old = SelectObject(dc, font);
  RECT r = {0, 0, 1, 0};
  DrawTextA(dc, text.c_str(), -1, &r, DT_CALCRECT | DT_NOPREFIX | DT_SINGLELINE);
  SelectObject(dc, old);
  ReleaseDC(nullptr, dc);
  DeleteObject(font);
  return {r.right - r.left, r.bottom - r.top};
}
