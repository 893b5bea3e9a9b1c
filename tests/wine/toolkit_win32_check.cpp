// Starts toolkit-win32-demo.exe and reads its window back from this process through window
// messages: geometry, control IDs and classes, texts, states, slider ranges and ticks; clicks a
// button, closes the window and checks from the exit code that the idle loop slept.
#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include <cstdio>
#include <string>

#include "tests/wine/window_geometry.h"

namespace {

int Failures = 0;

// The longest any wait here lasts: far more than Wine ever takes, so a busy machine slows the
// check down but never fails it.
constexpr int kWaitMs = 60000;
constexpr int kPollMs = 50;

void Check(bool ok, const std::string& what) {
  if (!ok) {
    std::printf("FAIL: %s\n", what.c_str());
    ++Failures;
  }
}

std::string TextOf(HWND window) {
  char buffer[4096] = {};
  SendMessageA(window, WM_GETTEXT, sizeof(buffer), reinterpret_cast<LPARAM>(buffer));
  return buffer;
}

std::string ClassOf(HWND window) {
  char buffer[64] = {};
  GetClassNameA(window, buffer, sizeof(buffer));
  return buffer;
}

bool WaitForText(HWND memo, const std::string& part) {
  for (int i = 0; i < kWaitMs / kPollMs; ++i) {
    if (TextOf(memo).find(part) != std::string::npos) return true;
    Sleep(kPollMs);
  }
  return false;
}

}  // namespace

int main() {
  char path[MAX_PATH];
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string demo = path;
  demo = demo.substr(0, demo.find_last_of("\\/") + 1) + "toolkit-win32-demo.exe";
  STARTUPINFOA si = {};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessA(demo.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                      &pi)) {
    std::printf("FAIL: cannot start %s (error %lu)\n", demo.c_str(), GetLastError());
    return 1;
  }
  const char* caption = "Microsoft FlightSim to Korvan Avionics EFIS bridge";
  HWND form = nullptr;
  for (int i = 0; i < kWaitMs / kPollMs && form == nullptr; ++i) {
    form = FindWindowA("TToolkitDemo", caption);
    if (form == nullptr) Sleep(kPollMs);
  }
  if (form == nullptr) {
    std::printf("FAIL: no window of class TToolkitDemo titled \"%s\"\n", caption);
    TerminateProcess(pi.hProcess, 1);
    return 1;
  }
  // The window is complete once the loop runs: its first showing is the activation.
  HWND memo = GetDlgItem(form, 1001);
  Check(WaitForText(memo, "activated"), "the window's activation reached OnActivate");
  RECT outer;
  GetWindowRect(form, &outer);
  Check(Describe(outer) == "262,250 587x430", "window at " + Describe(outer));

  struct Expected {
    int id;
    const char* windowClass;
    const char* rect;  // client coordinates; null for a label that sizes itself
    const char* text;
  };
  const Expected controls[] = {
      {1001, "Edit", "8,8 553x161", nullptr},
      {1002, "Button", "16,184 169x25", "Reconnect to Flight simulator"},
      {1003, "Button", "16,216 169x25", "Reconnect to EFIS "},
      {1004, "msctls_trackbar32", "328,240 150x41", nullptr},
      {1005, "msctls_trackbar32", "496,184 33x150", nullptr},
      {1011, "Static", nullptr, "Version 1.1 released 29/October/2010"},
      {1016, "Static", "472,336 89x41", "Pitch servo (Trio Varex port 2)"},
  };
  for (const Expected& e : controls) {
    HWND child = GetDlgItem(form, e.id);
    std::string name = "control " + std::to_string(e.id);
    if (child == nullptr) {
      Check(false, name + " missing");
      continue;
    }
    Check(ClassOf(child) == e.windowClass, name + " class " + ClassOf(child));
    RECT r = ClientRectOf(form, child);
    if (e.rect != nullptr) Check(Describe(r) == e.rect, name + " at " + Describe(r));
    if (e.rect == nullptr) Check(r.left == 24 && r.top == 360, name + " at " + Describe(r));
    if (e.text != nullptr) Check(TextOf(child) == e.text, name + " text \"" + TextOf(child) + "\"");
  }
  HWND button1 = GetDlgItem(form, 1002);
  HWND button2 = GetDlgItem(form, 1003);
  HWND bank = GetDlgItem(form, 1004);
  HWND pitch = GetDlgItem(form, 1005);
  LONG memoStyle = GetWindowLongA(memo, GWL_STYLE);
  Check((memoStyle & ES_MULTILINE) && !(memoStyle & (WS_VSCROLL | WS_HSCROLL | ES_AUTOHSCROLL)),
        "memo: multi-line, wrapping, no scroll bars");
  Check(IsWindowEnabled(button1) && !IsWindowEnabled(button2), "Button1 enabled, Button2 not");
  for (HWND bar : {bank, pitch}) {
    Check(SendMessageA(bar, TBM_GETRANGEMIN, 0, 0) == -512, "slider minimum");
    Check(SendMessageA(bar, TBM_GETRANGEMAX, 0, 0) == 512, "slider maximum");
    Check(SendMessageA(bar, TBM_GETNUMTICS, 0, 0) == 17, "17 tick marks");
  }
  Check(SendMessageA(bank, TBM_GETPOS, 0, 0) == -512, "bank slider clamped to -512");
  Check(SendMessageA(pitch, TBM_GETPOS, 0, 0) == 128, "pitch slider at 128");
  Check((GetWindowLongA(bank, GWL_STYLE) & (TBS_VERT | TBS_TOP)) == TBS_TOP, "bank: marks above");
  Check((GetWindowLongA(pitch, GWL_STYLE) & (TBS_VERT | TBS_LEFT)) == (TBS_VERT | TBS_LEFT),
        "pitch: vertical, marks left");
  Check((GetWindowLongA(GetDlgItem(form, 1016), GWL_STYLE) & SS_TYPEMASK) == SS_CENTER,
        "Label6 centred");

  SendMessageA(button2, BM_CLICK, 0, 0);
  SendMessageA(button1, BM_CLICK, 0, 0);
  Check(WaitForText(memo, "activated\r\nButton1 clicked"), "memo: " + TextOf(memo));
  Check(TextOf(memo).find("Button2") == std::string::npos, "a disabled button was clicked");

  // Two seconds of the demo's loop, whose idle handler wants to run every 50 ms.
  Sleep(2000);
  PostMessageA(form, WM_CLOSE, 0, 0);
  DWORD waited = WaitForSingleObject(pi.hProcess, kWaitMs);
  Check(waited == WAIT_OBJECT_0, "demo still running after WM_CLOSE");
  DWORD code = 1;
  GetExitCodeProcess(pi.hProcess, &code);
  // The exit code: idle calls per second, about 20 when the loop sleeps between them, fewer
  // on a busy machine, thousands when it spins.
  std::printf("demo idle calls per second: %lu\n", code);
  Check(code >= 1 && code <= 100, "idle calls per second (exit code): " + std::to_string(code));
  if (waited != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 1);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  std::printf(Failures == 0 ? "Win32 window read back\n" : "%d failures\n", Failures);
  return Failures == 0 ? 0 : 1;
}
