// Starts korvan-sim.exe and korvan-bridge.exe and reads the bridge's window back from this
// process through window messages, as another program on the desktop would see it: caption,
// log, button state, slider ranges and positions, the autopilot line, and every control's
// place and size at the DPI of the Wine prefix (`--dpi N`, 96 or 144; default 96); then closes
// both. It also reads the exe's manifest as Windows' loader does, and which comctl32 the
// running bridge has loaded.
#include <windows.h>
// After windows.h, which they need.
#include <commctrl.h>
#include <psapi.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/log_home.h"
#include "tests/wine/bridge_window.h"
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

// ---- The manifest, as the loader reads it ----

std::wstring Setting(HANDLE context, const wchar_t* space, const wchar_t* name) {
  wchar_t value[128] = {};
  SIZE_T written = 0;
  if (!QueryActCtxSettingsW(0, context, space, name, value, 128, &written)) return L"(none)";
  return value;
}

std::vector<unsigned char> Query(HANDLE context, ULONG what, void* index = nullptr) {
  SIZE_T needed = 0;
  QueryActCtxW(0, context, index, what, nullptr, 0, &needed);
  std::vector<unsigned char> info(needed);
  if (needed == 0 || !QueryActCtxW(0, context, index, what, info.data(), needed, &needed)) {
    info.clear();
  }
  return info;
}

std::string Narrow(const wchar_t* text) {
  std::string out;
  for (; text != nullptr && *text != 0; ++text) out += static_cast<char>(*text);
  return out;
}

// The supported-OS entries in order. Windows 7 lists 20-byte entries after a 4-byte count;
// later Windows and Wine add the highest version tested: 32 bytes after 8.
std::vector<std::string> SupportedOs(HANDLE context) {
  const std::vector<unsigned char> info =
      Query(context, CompatibilityInformationInActivationContext);
  std::vector<std::string> ids;
  if (info.size() < 4) return ids;
  DWORD count;
  std::memcpy(&count, info.data(), 4);
  const std::size_t offset = info.size() == 4 + count * 20u ? 4 : 8;
  const std::size_t stride = offset == 4 ? 20 : 32;
  if (info.size() != offset + count * stride)
    return {"(entries of " + std::to_string(info.size()) + " bytes)"};
  for (DWORD i = 0; i < count; ++i) {
    GUID id;
    DWORD type;
    std::memcpy(&id, info.data() + offset + i * stride, sizeof(id));
    std::memcpy(&type, info.data() + offset + i * stride + sizeof(id), sizeof(type));
    char text[64];
    std::snprintf(text, sizeof(text), "%s{%08lx-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}",
                  type == ACTCTX_COMPATIBILITY_ELEMENT_TYPE_OS ? "" : "not an OS: ", id.Data1,
                  id.Data2, id.Data3, id.Data4[0], id.Data4[1], id.Data4[2], id.Data4[3],
                  id.Data4[4], id.Data4[5], id.Data4[6], id.Data4[7]);
    ids.push_back(text);
  }
  return ids;
}

void CheckRunLevel(HANDLE context) {
  const std::vector<unsigned char> info = Query(context, RunlevelInformationInActivationContext);
  ACTIVATION_CONTEXT_RUN_LEVEL_INFORMATION level = {};
  if (info.size() >= sizeof(level)) std::memcpy(&level, info.data(), sizeof(level));
  Check(info.size() >= sizeof(level) && level.RunLevel == ACTCTX_RUN_LEVEL_AS_INVOKER &&
            level.UiAccess == 0,
        "requested execution level: " + std::to_string(level.RunLevel) + ", uiAccess " +
            std::to_string(level.UiAccess) + " (asInvoker, false wanted)");
}

// The second assembly of the context, the one the exe depends on.
void CheckCommonControlsDependency(HANDLE context) {
  DWORD second = 2;
  const std::vector<unsigned char> info =
      Query(context, AssemblyDetailedInformationInActivationContext, &second);
  std::string identity = "(none)";
  if (info.size() >= sizeof(ACTIVATION_CONTEXT_ASSEMBLY_DETAILED_INFORMATION)) {
    identity = Narrow(
        reinterpret_cast<const ACTIVATION_CONTEXT_ASSEMBLY_DETAILED_INFORMATION*>(info.data())
            ->lpAssemblyEncodedAssemblyIdentity);
  }
  Check(identity.rfind("Microsoft.Windows.Common-Controls,", 0) == 0 &&
            identity.find("publicKeyToken=\"6595b64144ccf1df\"") != std::string::npos &&
            identity.find("version=\"6.0.") != std::string::npos,
        "the manifest's dependency: " + identity);
}

// Windows' own parser takes the manifest resource (it refuses one that is not well-formed),
// and finds in it what the window relies on.
void CheckManifest(const std::string& exe) {
  ACTCTXA request = {};
  request.cbSize = sizeof(request);
  request.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
  request.lpSource = exe.c_str();
  request.lpResourceName = CREATEPROCESS_MANIFEST_RESOURCE_ID;
  HANDLE context = CreateActCtxA(&request);
  if (context == INVALID_HANDLE_VALUE) {
    return Check(false, "no manifest the loader takes in " + exe + " (error " +
                            std::to_string(GetLastError()) + ")");
  }
  const std::wstring aware =
      Setting(context, L"http://schemas.microsoft.com/SMI/2005/WindowsSettings", L"dpiAware");
  const std::wstring awareness =
      Setting(context, L"http://schemas.microsoft.com/SMI/2016/WindowsSettings", L"dpiAwareness");
  Check(aware == L"true/pm", "dpiAware " + Narrow(aware.c_str()));
  Check(awareness == L"PerMonitorV2, PerMonitor", "dpiAwareness " + Narrow(awareness.c_str()));
  const std::vector<std::string> os = SupportedOs(context);
  const std::vector<std::string> wanted = {
      "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}", "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
      "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"};
  std::string listed;
  for (const std::string& id : os) listed += " " + id;
  Check(os == wanted, "supported OS (10/11, 8.1, 8, 7 wanted):" + listed);
  CheckRunLevel(context);
  CheckCommonControlsDependency(context);
  ReleaseActCtx(context);
}

// The bridge has one comctl32, the side-by-side 6.0 the manifest asks for, not system32's 5.8.
void CheckLoadedCommonControls(HANDLE process) {
  HMODULE modules[512];
  DWORD bytes = 0;
  if (!EnumProcessModules(process, modules, sizeof(modules), &bytes)) {
    return Check(false,
                 "cannot list the bridge's modules (error " + std::to_string(GetLastError()) + ")");
  }
  std::vector<std::string> found;
  for (DWORD i = 0; i < bytes / sizeof(HMODULE) && i < 512; ++i) {
    char path[MAX_PATH] = {};
    GetModuleFileNameExA(process, modules[i], path, MAX_PATH);
    std::string lower = path;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower.size() >= 13 && lower.compare(lower.size() - 13, 13, "\\comctl32.dll") == 0) {
      found.push_back(lower);
    }
  }
  const char* winsxs = "\\winsxs\\amd64_microsoft.windows.common-controls_6595b64144ccf1df_6.0.";
  Check(found.size() == 1 && found[0].find(winsxs) != std::string::npos,
        "the bridge's comctl32: " + (found.empty() ? std::string("none") : found[0]) +
            (found.size() > 1 ? " and " + std::to_string(found.size() - 1) + " more" : ""));
}

// ---- The window's geometry at the prefix's DPI ----

// The window table at 96 DPI and at 144 (times 1.5, halves rounded up), left, top, width and
// height. A label that sizes itself has a place only (size 0): its size is its text's.
struct Placed {
  int id;
  RECT at96, at144;  // left, top, width, height
};

const Placed kTable[] = {
    {1001, {8, 8, 553, 161}, {12, 12, 830, 242}},      // Memo1
    {1002, {16, 184, 169, 25}, {24, 276, 254, 38}},    // Button1
    {1003, {16, 216, 169, 25}, {24, 324, 254, 38}},    // Button2
    {1004, {328, 240, 150, 41}, {492, 360, 225, 62}},  // TrackBar1
    {1005, {496, 184, 33, 150}, {744, 276, 50, 225}},  // TrackBar2
    {1011, {24, 360, 0, 0}, {36, 540, 0, 0}},          // Label1
    {1012, {336, 224, 0, 0}, {504, 336, 0, 0}},        // Label2
    {1013, {446, 224, 0, 0}, {669, 336, 0, 0}},        // Label3
    {1014, {536, 192, 0, 0}, {804, 288, 0, 0}},        // Label4
    {1015, {328, 288, 0, 0}, {492, 432, 0, 0}},        // Label5
    {1016, {472, 336, 89, 41}, {708, 504, 134, 62}},   // Label6
    {1017, {352, 312, 0, 0}, {528, 468, 0, 0}},        // Label7
    {1018, {536, 312, 0, 0}, {804, 468, 0, 0}},        // Label8
    {1019, {336, 336, 137, 41}, {504, 504, 206, 62}},  // Label9
};

// `text` on one line in the font the window should have at `dpi`: 8 points, MS Sans Serif at
// 96, its TrueType twin elsewhere.
SIZE TextAtDpi(const std::string& text, int dpi) {
  return dpi == 96 ? TextSize(text, -11, "MS Sans Serif")
                   : TextSize(text, -16, "Microsoft Sans Serif");
}

// Where the table and the control's text put it at `dpi`, as a rectangle.
RECT Expected(HWND form, const Placed& entry, int dpi) {
  const RECT& at = dpi == 96 ? entry.at96 : entry.at144;
  SIZE size = {at.right, at.bottom};
  if (size.cx == 0) size = TextAtDpi(TextOf(GetDlgItem(form, entry.id)), dpi);
  return {at.left, at.top, at.left + size.cx, at.top + size.cy};
}

bool Overlap(const RECT& a, const RECT& b) {
  return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

// Scaled, nothing overlaps that did not at 96 (under Wine's stand-in fonts the 96-DPI design
// may be tight already), and each button's caption fits as it did.
void CheckNothingNewOverlaps(HWND form, int dpi) {
  std::vector<RECT> scaled, design;
  for (const Placed& entry : kTable) {
    scaled.push_back(Expected(form, entry, dpi));
    design.push_back(Expected(form, entry, 96));
  }
  for (std::size_t a = 0; a < scaled.size(); ++a) {
    for (std::size_t b = a + 1; b < scaled.size(); ++b) {
      Check(!Overlap(scaled[a], scaled[b]) || Overlap(design[a], design[b]),
            std::to_string(kTable[a].id) + " and " + std::to_string(kTable[b].id) + " overlap at " +
                std::to_string(dpi) + " DPI, not at 96");
    }
  }
  for (int id : {kButton1, kButton2}) {
    const std::string caption = TextOf(GetDlgItem(form, id));
    const RECT r = ClientRectOf(form, GetDlgItem(form, id));
    const LONG room = r.right - r.left - TextAtDpi(caption, dpi).cx;
    const LONG room96 = 169 - TextAtDpi(caption, 96).cx;
    Check(room >= room96 || room >= 8, "the caption of " + std::to_string(id) + " has " +
                                           std::to_string(room) + " pixels to spare in " +
                                           Describe(r) + ", " + std::to_string(room96) + " at 96");
  }
}

// The window and every control where the table (and for a label that sizes itself, its text)
// puts it at `dpi`, inside the client area.
void CheckGeometry(HWND form, int dpi) {
  RECT outer = {}, client = {};
  GetWindowRect(form, &outer);
  GetClientRect(form, &client);
  const char* wanted = dpi == 96 ? "262,250 587x430" : "393,375 881x645";
  Check(Describe(outer) == wanted, "window at " + Describe(outer) + ", not " + wanted);
  for (const Placed& entry : kTable) {
    const RECT r = ClientRectOf(form, GetDlgItem(form, entry.id));
    const std::string expected = Describe(Expected(form, entry, dpi));
    const std::string name = "control " + std::to_string(entry.id) + " at " + Describe(r);
    Check(Describe(r) == expected, name + ", not " + expected);
    Check(r.left >= 0 && r.top >= 0 && r.right <= client.right && r.bottom <= client.bottom,
          name + ", outside the client area " + Describe(client));
  }
  CheckNothingNewOverlaps(form, dpi);
}

int DpiWanted(int argc, char** argv) {
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::string(argv[i]) == "--dpi") return std::atoi(argv[i + 1]);
  }
  return 96;
}

}  // namespace

int CheckBridgeWindow(int dpi) {
  HDC screen = GetDC(nullptr);
  const int prefixDpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  if ((dpi != 96 && dpi != 144) || prefixDpi != dpi) {
    std::printf("FAIL: --dpi %d asked (96 or 144), the Wine prefix is at %d\n", dpi, prefixDpi);
    return 1;
  }
  CheckManifest(Beside("korvan-bridge.exe"));
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
  CheckGeometry(form, dpi);
  CheckLoadedCommonControls(bridge.hProcess);

  const DWORD bridgeExit = Close(form, bridge);
  Check(bridgeExit == 0, "korvan-bridge.exe exit code " + std::to_string(bridgeExit));
  const DWORD simExit = Close(simWindow, sim);
  Check(simExit == 0, "korvan-sim.exe exit code " + std::to_string(simExit));

  if (Failures == 0) {
    std::printf(
        "bridge window read back at %d DPI: caption, log, buttons, sliders, Label7, "
        "geometry, manifest, comctl32 6\n",
        dpi);
  }
  return Failures == 0 ? 0 : 1;
}

int main(int argc, char** argv) {
  const int dpi = DpiWanted(argc, argv);
  // The bridge keeps its log in a folder of this check's own.
  const std::string home = testsupport::MakeTestRuntimeDir("bridge-window");
  int result = 1;
  {
    testsupport::TestLogHome logHome(home + "\\local");
    result = CheckBridgeWindow(dpi);
  }
  testsupport::RemoveTree(home);
  return result;
}
