// Starts korvan-sim.exe and korvan-bridge.exe and reads the bridge's window back from this
// process through window messages, as another program on the desktop would see it: caption,
// log, button state, slider ranges and positions, the autopilot line; then closes both.
#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include <cstdio>
#include <string>

#include "tests/support/child_process.h"
#include "tests/support/log_home.h"
#include "tests/wine/bridge_window.h"

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

std::string Beside(const char* program) {
  char path[MAX_PATH];
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string dir = path;
  return dir.substr(0, dir.find_last_of("\\/") + 1) + program;
}

bool Start(const std::string& program, PROCESS_INFORMATION& pi) {
  STARTUPINFOA si = {};
  si.cb = sizeof(si);
  if (CreateProcessA(program.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                     &pi))
    return true;
  std::printf("FAIL: cannot start %s (error %lu)\n", program.c_str(), GetLastError());
  return false;
}

// The Wine prefix is shared: another program may show a window of the same class and caption.
struct WindowSearch {
  DWORD process;
  const char* windowClass;
  const char* caption;
  HWND found;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM context) {
  auto* search = reinterpret_cast<WindowSearch*>(context);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  char name[64] = {};
  GetClassNameA(window, name, sizeof(name));
  if (owner != search->process || std::string(name) != search->windowClass) return TRUE;
  if (search->caption != nullptr) {
    char text[128] = {};
    GetWindowTextA(window, text, sizeof(text));
    if (std::string(text) != search->caption) return TRUE;
  }
  search->found = window;
  return FALSE;
}

HWND WaitForWindowOf(DWORD process, const char* windowClass, const char* caption) {
  for (int i = 0; i < kWaitMs / kPollMs; ++i) {
    WindowSearch search{process, windowClass, caption, nullptr};
    EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
    if (search.found != nullptr) return search.found;
    Sleep(kPollMs);
  }
  return nullptr;
}

template <typename Condition>
bool WaitUntil(Condition condition) {
  for (int i = 0; i < kWaitMs / kPollMs; ++i) {
    if (condition()) return true;
    Sleep(kPollMs);
  }
  return false;
}

// Asks the program's window to close and waits for the exit; kills it when it will not go.
DWORD Close(HWND window, PROCESS_INFORMATION& pi) {
  if (window != nullptr) PostMessageA(window, WM_CLOSE, 0, 0);
  if (WaitForSingleObject(pi.hProcess, kWaitMs) != WAIT_OBJECT_0) {
    TerminateProcess(pi.hProcess, 99);
    WaitForSingleObject(pi.hProcess, 5000);
  }
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return code;
}

void CheckSlider(HWND form, int id, const char* name) {
  HWND bar = GetDlgItem(form, id);
  if (bar == nullptr) return Check(false, std::string(name) + " missing");
  const LRESULT min = SendMessageA(bar, TBM_GETRANGEMIN, 0, 0);
  const LRESULT max = SendMessageA(bar, TBM_GETRANGEMAX, 0, 0);
  const LRESULT pos = SendMessageA(bar, TBM_GETPOS, 0, 0);
  Check(min == -512 && max == 512,
        std::string(name) + " range " + std::to_string(min) + ".." + std::to_string(max));
  Check(pos == 0, std::string(name) + " at " + std::to_string(pos));
}

}  // namespace

int CheckBridgeWindow() {
  PROCESS_INFORMATION sim = {}, bridge = {};
  if (!Start(Beside("korvan-sim.exe"), sim)) return 1;
  HWND simWindow = WaitForWindowOf(sim.dwProcessId, "UIPCMAIN", nullptr);
  if (simWindow == nullptr) {
    std::printf("FAIL: korvan-sim.exe shows no UIPCMAIN window\n");
    Close(nullptr, sim);
    return 1;
  }
  if (!Start(Beside("korvan-bridge.exe"), bridge)) {
    Close(simWindow, sim);
    return 1;
  }

  const char* caption = "Microsoft FlightSim to Korvan Avionics EFIS bridge";
  HWND form = WaitForWindowOf(bridge.dwProcessId, "TForm1", caption);
  if (form == nullptr) {
    std::printf("FAIL: no window of class TForm1 titled \"%s\"\n", caption);
    Close(nullptr, bridge);
    Close(simWindow, sim);
    return 1;
  }
  Check(TextOf(form) == caption, "caption \"" + TextOf(form) + "\"");
  // The controls follow the window's own creation.
  WaitUntil([form] { return GetDlgItem(form, kLabel7) != nullptr; });

  HWND memo = GetDlgItem(form, kMemo1);
  Check(memo != nullptr, "Memo1 missing");
  if (memo != nullptr) {
    const bool connected =
        WaitUntil([memo] { return TextOf(memo).find("Connected to FSX") != std::string::npos; });
    Check(connected, "log without \"Connected to FSX\": \"" + TextOf(memo) + "\"");
    Check(TextOf(memo).rfind("Connected to FSX\r\n", 0) == 0,
          "log starts \"" + TextOf(memo) + "\"");
  }

  HWND button1 = GetDlgItem(form, kButton1);
  HWND button2 = GetDlgItem(form, kButton2);
  Check(button1 != nullptr && !IsWindowEnabled(button1), "Button1 enabled with the link up");
  Check(button2 != nullptr && IsWindowEnabled(button2), "Button2 disabled without an EFIS");
  CheckSlider(form, kTrackBar1, "TrackBar1");
  CheckSlider(form, kTrackBar2, "TrackBar2");

  // The first fast tick replaces the start caption.
  HWND label7 = GetDlgItem(form, kLabel7);
  Check(label7 != nullptr, "Label7 missing");
  if (label7 != nullptr) {
    const bool ticking =
        WaitUntil([label7] { return TextOf(label7) == "AutoPilot is not engaged"; });
    Check(ticking, "Label7 \"" + TextOf(label7) + "\"");
  }

  const DWORD bridgeExit = Close(form, bridge);
  Check(bridgeExit == 0, "korvan-bridge.exe exit code " + std::to_string(bridgeExit));
  const DWORD simExit = Close(simWindow, sim);
  Check(simExit == 0, "korvan-sim.exe exit code " + std::to_string(simExit));

  if (Failures == 0)
    std::printf("bridge window read back: caption, log, buttons, sliders, Label7\n");
  return Failures == 0 ? 0 : 1;
}

int main() {
  // The bridge keeps its log in a folder of this check's own.
  const std::string home = testsupport::MakeTestRuntimeDir("bridge-window");
  int result = 1;
  {
    testsupport::TestLogHome logHome(home + "\\local");
    result = CheckBridgeWindow();
  }
  testsupport::RemoveTree(home);
  return result;
}
