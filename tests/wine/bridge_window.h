// The bridge's main window as another program sees it: the toolkit's fixed control IDs of its
// controls (platform/toolkit.h), and the text of a window of another process.
#pragma once

#include <windows.h>

#include <string>

constexpr int kMemo1 = 1001;
constexpr int kButton1 = 1002;
constexpr int kButton2 = 1003;
constexpr int kTrackBar1 = 1004;
constexpr int kTrackBar2 = 1005;
constexpr int kLabel7 = 1017;

// WM_GETTEXT, which Windows carries across processes.
inline std::string TextOf(HWND window) {
  const LRESULT length = SendMessageA(window, WM_GETTEXTLENGTH, 0, 0);
  std::string text(static_cast<std::size_t>(length) + 1, '\0');
  const LRESULT got =
      SendMessageA(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<std::size_t>(got));
  return text;
}
