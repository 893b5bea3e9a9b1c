// The toolkit on Win32: a registered window class per form, the standard EDIT, BUTTON and
// STATIC controls and the common-controls trackbar, and a message loop that sleeps in
// MsgWaitForMultipleObjectsEx until a message or the idle handler's wake time. The application
// has a window of its own, which carries its title and owns the forms. A form's window scales
// the portable geometry (pixels at 96 per inch) and its font by its own DPI, at creation and
// whenever Windows moves it to a monitor of another DPI.
#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

#include "platform/clock.h"
#include "platform/ipc.h"
#include "platform/toolkit_backend.h"
#include "platform/win32/win32_dpi.h"

namespace {

struct ControlPeer : TControlPeer {
  HWND Window = nullptr;

  void StateChanged(const TControl& control) override;
  void LineAdded(const TControl& control, const std::string& line) override;
};

struct FormPeer : TFormPeer {
  HWND Window = nullptr;
  HFONT Font = nullptr;  // the form's font at Dpi
  int Dpi = win32::kDesignDpi;
  HWND SavedFocus = nullptr;  // the control that had the focus when the window went inactive

  void StateChanged(const TControl& control) override;
};

FormPeer* FormPeerOf(const TForm* form) {
  return static_cast<FormPeer*>(ToolkitFormPeer(form));
}

bool Initialized = false;
// The application's window: captioned, of no size, showing only as the task bar's button. It
// carries the application's title, so that is what the task bar shows, and owns every form,
// so no form gets a button of its own. (Windows hides owned windows with their owner by itself;
// Wine only owned pop-ups: so the toolkit keeps which forms its minimizing hid.)
HWND AppWindow = nullptr;
constexpr char kAppWindowClass[] = "TApplication";
HANDLE WakeEvent = nullptr;
std::once_flag WakeEventMade;

std::string AppTitle() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  return ToolkitAppTitle(path);
}

[[noreturn]] void Fatal(const std::string& what) {
  const DWORD error = GetLastError();
  std::string text = "Win32: " + what + ": " + platform::ErrorText(error) + " (error " +
                     std::to_string(error) + ")";
  std::fprintf(stderr, "%s\n", text.c_str());
  MessageBoxA(nullptr, text.c_str(), AppTitle().c_str(), MB_OK | MB_ICONERROR);
  std::exit(1);
}

HANDLE TheWakeEvent() {
  std::call_once(WakeEventMade, [] { WakeEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr); });
  return WakeEvent;
}

void EnsureInitialized() {
  if (Initialized) return;
  INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_BAR_CLASSES};
  if (!InitCommonControlsEx(&controls)) Fatal("failed to load the common controls");
  if (TheWakeEvent() == nullptr) Fatal("failed to create the loop's wake event");
  Initialized = true;
}

// The fixed control IDs of the window table (see toolkit.h); others follow from 1100.
int ControlId(const TControl& control, int index) {
  static const struct {
    const char* name;
    int id;
  } table[] = {{"Memo1", 1001},     {"Button1", 1002}, {"Button2", 1003}, {"TrackBar1", 1004},
               {"TrackBar2", 1005}, {"Label1", 1011},  {"Label2", 1012},  {"Label3", 1013},
               {"Label4", 1014},    {"Label5", 1015},  {"Label6", 1016},  {"Label7", 1017},
               {"Label8", 1018},    {"Label9", 1019}};
  for (const auto& entry : table) {
    if (control.Name == entry.name) return entry.id;
  }
  return 1100 + index;
}

void AutoSizeLabel(ControlPeer& peer, const FormPeer& form);
void ApplyDpi(FormPeer& form, int dpi);

// ---- The peers mirror the portable state ----

void ControlPeer::StateChanged(const TControl& control) {
  EnableWindow(Window, control.Enabled());
  if (auto* memo = dynamic_cast<const TMemo*>(&control)) {
    SetWindowTextA(Window, memo->Lines.Text().c_str());
  } else if (auto* bar = dynamic_cast<const TTrackBar*>(&control)) {
    SendMessageA(Window, TBM_SETPOS, TRUE, bar->Position());
  } else {
    SetWindowTextA(Window, control.Caption().c_str());
    // A label that sizes itself follows its new text, as at creation.
    AutoSizeLabel(*this, *static_cast<FormPeer*>(Form));
  }
}

void ControlPeer::LineAdded(const TControl& control, const std::string& line) {
  // Appended after whatever the edit control holds, typing included; the caret follows.
  auto* memo = static_cast<const TMemo*>(&control);
  int length = GetWindowTextLengthA(Window);
  std::string text = (length > 0 || memo->Lines.Count() > 1) ? "\r\n" + line : line;
  SendMessageA(Window, EM_SETSEL, length, length);
  SendMessageA(Window, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
}

void FormPeer::StateChanged(const TControl& control) {
  SetWindowTextA(Window, control.Caption().c_str());
  EnableWindow(Window, control.Enabled());
}

FormPeer* PeerOf(HWND window) {
  return reinterpret_cast<FormPeer*>(GetWindowLongPtrA(window, GWLP_USERDATA));
}

ControlPeer* ChildPeer(FormPeer& form, HWND child) {
  for (TControlPeer* peer : form.Controls) {
    auto* native = static_cast<ControlPeer*>(peer);
    if (native->Window == child) return native;
  }
  return nullptr;
}

// ---- Window messages, one function each ----

void OnCommand(FormPeer& form, WPARAM wParam, LPARAM lParam) {
  if (HIWORD(wParam) != BN_CLICKED) return;
  ControlPeer* peer = ChildPeer(form, reinterpret_cast<HWND>(lParam));
  if (peer == nullptr) return;
  if (auto* button = dynamic_cast<TButton*>(peer->Control)) button->Click();
}

void OnScroll(FormPeer& form, LPARAM lParam) {
  ControlPeer* peer = ChildPeer(form, reinterpret_cast<HWND>(lParam));
  if (peer == nullptr) return;
  if (auto* bar = dynamic_cast<TTrackBar*>(peer->Control)) {
    bar->PositionMovedByUser(static_cast<int>(SendMessageA(peer->Window, TBM_GETPOS, 0, 0)));
  }
}

void OnActivate(FormPeer& form, WPARAM wParam) {
  if (LOWORD(wParam) == WA_INACTIVE) {
    HWND focus = GetFocus();
    if (focus != nullptr && IsChild(form.Window, focus)) form.SavedFocus = focus;
    return;
  }
  HWND focus = form.SavedFocus;
  if (focus == nullptr && form.Form->ActiveControl != nullptr) {
    if (TControlPeer* peer = ToolkitControlPeer(*form.Form->ActiveControl)) {
      focus = static_cast<ControlPeer*>(peer)->Window;
    }
  }
  if (focus != nullptr) SetFocus(focus);
  ToolkitFormActivated(*form.Form);
}

// Windows may end the process at any moment once this returns: the main form's close, with
// everything its handlers do, runs in here, as a click on its close button would.
void OnEndSession(FormPeer& form, WPARAM ending) {
  if (ending == FALSE || form.Form != Application->MainForm) return;
  ToolkitGuard([&form] { form.Form->Close(); });
}

// The window has moved to a monitor of another DPI (or that monitor's scale has changed):
// Windows suggests the rectangle at the new DPI, which the window takes itself, then the
// font and the controls follow.
void OnDpiChanged(FormPeer& form, WPARAM wParam, LPARAM lParam) {
  const int dpi = LOWORD(wParam);
  if (dpi <= 0) return;
  if (const auto* suggested = reinterpret_cast<const RECT*>(lParam)) {
    SetWindowPos(form.Window, nullptr, suggested->left, suggested->top,
                 suggested->right - suggested->left, suggested->bottom - suggested->top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
  }
  ApplyDpi(form, dpi);
}

LRESULT CALLBACK FormProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  FormPeer* form = PeerOf(window);
  if (form == nullptr) return DefWindowProcA(window, msg, wParam, lParam);
  switch (msg) {
    case WM_COMMAND:
      ToolkitGuard([&] { OnCommand(*form, wParam, lParam); });
      return 0;
    case WM_HSCROLL:
    case WM_VSCROLL:
      ToolkitGuard([&] { OnScroll(*form, lParam); });
      return 0;
    case WM_ACTIVATEAPP:
      ToolkitAppActivation(wParam != FALSE);
      return 0;
    case WM_ACTIVATE:
      OnActivate(*form, wParam);
      return 0;
    case WM_DPICHANGED:
      OnDpiChanged(*form, wParam, lParam);
      return 0;
    case WM_CLOSE:
      ToolkitGuard([form] { form->Form->Close(); });
      return 0;  // the toolkit hides the window itself when the close is allowed
    case WM_QUERYENDSESSION:
      return TRUE;  // a close is never refused, a logoff neither
    case WM_ENDSESSION:
      OnEndSession(*form, wParam);
      return 0;
    case WM_SYSCOMMAND:
      // The main form minimizes the application: its button stays, the forms hide with it.
      if ((wParam & 0xFFF0) == SC_MINIMIZE && form->Form == Application->MainForm) {
        return SendMessageA(AppWindow, WM_SYSCOMMAND, SC_MINIMIZE, 0);
      }
      return DefWindowProcA(window, msg, wParam, lParam);
    default:
      return DefWindowProcA(window, msg, wParam, lParam);
  }
}

HWND MainWindow();

// The application window's messages: those of its task bar button.
LRESULT CALLBACK AppProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_CLOSE:  // "Close" on the button's menu closes the main form
      if (Application->MainForm != nullptr) ToolkitGuard([] { Application->MainForm->Close(); });
      return 0;
    case WM_SETFOCUS: {  // activated through its button: the main form takes the focus
      HWND main = MainWindow();
      if (main != nullptr && IsWindowVisible(main) && IsWindowEnabled(main)) SetFocus(main);
      return 0;
    }
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) == SC_MINIMIZE) {
        auto shows = [](const TFormPeer& form) {
          return IsWindowVisible(static_cast<const FormPeer&>(form).Window) != FALSE;
        };
        for (TFormPeer* form : ToolkitAppMinimized(shows)) {
          ShowWindow(static_cast<FormPeer*>(form)->Window, SW_HIDE);
        }
      }
      return DefWindowProcA(window, msg, wParam, lParam);
    case WM_SIZE:
      if (wParam == SIZE_RESTORED || wParam == SIZE_MAXIMIZED) {
        for (TFormPeer* form : ToolkitAppRestored()) {
          ShowWindow(static_cast<FormPeer*>(form)->Window, SW_SHOW);
        }
      }
      return DefWindowProcA(window, msg, wParam, lParam);
    default:
      return DefWindowProcA(window, msg, wParam, lParam);
  }
}

// ---- Building the native window ----

HICON MainIcon() {
  HICON icon = LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(1));
  return icon != nullptr ? icon : LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_APPLICATION));
}

// Registered once: a later form of the same class, or a later run, finds it.
void RegisterWindowClass(const std::string& name, WNDPROC procedure, HBRUSH background) {
  WNDCLASSEXA existing = {};
  existing.cbSize = sizeof(existing);
  if (GetClassInfoExA(GetModuleHandleA(nullptr), name.c_str(), &existing)) return;
  WNDCLASSEXA wc = {};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = procedure;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.hIcon = MainIcon();
  wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  wc.hbrBackground = background;
  wc.lpszClassName = name.c_str();
  if (RegisterClassExA(&wc) == 0) Fatal("failed to register window class " + name);
}

// Made with the first form, titled then; shown, without taking the activation, with each form.
HWND TheAppWindow() {
  if (AppWindow != nullptr) return AppWindow;
  RegisterWindowClass(kAppWindowClass, AppProc, nullptr);
  AppWindow = CreateWindowExA(0, kAppWindowClass, AppTitle().c_str(),
                              WS_POPUP | WS_CAPTION | WS_CLIPSIBLINGS | WS_SYSMENU | WS_MINIMIZEBOX,
                              GetSystemMetrics(SM_CXSCREEN) / 2, GetSystemMetrics(SM_CYSCREEN) / 2,
                              0, 0, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
  if (AppWindow == nullptr) Fatal("failed to create the application's window");
  return AppWindow;
}

struct NativeKind {
  const char* windowClass;
  DWORD style;
  DWORD exStyle;
};

NativeKind KindOf(const TControl& control) {
  const DWORD child = WS_CHILD | WS_VISIBLE;
  if (auto* memo = dynamic_cast<const TMemo*>(&control)) {
    DWORD style = child | WS_TABSTOP | ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN;
    if (!memo->WordWrap) style |= ES_AUTOHSCROLL;
    if (memo->ReadOnly) style |= ES_READONLY;
    return {"EDIT", style, WS_EX_CLIENTEDGE};
  }
  if (dynamic_cast<const TButton*>(&control) != nullptr) {
    return {"BUTTON", child | WS_TABSTOP | BS_PUSHBUTTON, 0};
  }
  if (auto* label = dynamic_cast<const TLabel*>(&control)) {
    DWORD style = child | SS_NOPREFIX;
    if (label->Alignment == TTextAlign::Center) {
      style |= SS_CENTER;  // wraps
    } else {
      style |= label->WordWrap ? SS_LEFT : SS_LEFTNOWORDWRAP;
    }
    return {"STATIC", style, 0};
  }
  if (auto* bar = dynamic_cast<const TTrackBar*>(&control)) {
    DWORD style = child | WS_TABSTOP | TBS_AUTOTICKS;
    style |= bar->Orientation == TTrackBarOrientation::Vertical ? TBS_VERT : TBS_HORZ;
    if (bar->TickMarks == TTickMarks::TopLeft) style |= TBS_TOP;  // TBS_LEFT when vertical
    if (bar->TickMarks == TTickMarks::Both) style |= TBS_BOTH;
    return {TRACKBAR_CLASSA, style, 0};
  }
  return {nullptr, 0, 0};
}

// A label that sizes itself takes the size of its text in the form's font (a wrapping one
// keeps its width).
void AutoSizeLabel(ControlPeer& peer, const FormPeer& form) {
  auto* label = dynamic_cast<TLabel*>(peer.Control);
  if (label == nullptr || !label->AutoSize) return;
  HDC dc = GetDC(peer.Window);
  HGDIOBJ old = SelectObject(dc, form.Font);
  RECT r = {0, 0, label->Width > 0 ? win32::ScaleToDpi(label->Width, form.Dpi) : 1, 0};
  UINT flags = DT_CALCRECT | DT_NOPREFIX | (label->WordWrap ? DT_WORDBREAK : DT_SINGLELINE);
  DrawTextA(dc, label->Caption().c_str(), -1, &r, flags);
  SelectObject(dc, old);
  ReleaseDC(peer.Window, dc);
  SetWindowPos(peer.Window, nullptr, 0, 0, r.right - r.left, r.bottom - r.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void SetUpTrackBar(ControlPeer& peer) {
  auto* bar = dynamic_cast<TTrackBar*>(peer.Control);
  if (bar == nullptr) return;
  SendMessageA(peer.Window, TBM_SETRANGEMIN, FALSE, bar->Min);
  SendMessageA(peer.Window, TBM_SETRANGEMAX, FALSE, bar->Max);
  SendMessageA(peer.Window, TBM_SETTICFREQ, bar->Frequency, 0);
}

// The portable geometry (pixels at 96 per inch) at the form's DPI.
RECT ScaledRect(const TControl& control, int dpi) {
  const int left = win32::ScaleToDpi(control.Left, dpi);
  const int top = win32::ScaleToDpi(control.Top, dpi);
  return {left, top, left + win32::ScaleToDpi(control.Width, dpi),
          top + win32::ScaleToDpi(control.Height, dpi)};
}

void AddControl(FormPeer& form, TControl& control, int index) {
  NativeKind kind = KindOf(control);
  if (kind.windowClass == nullptr) return;
  auto* peer = new ControlPeer;
  const RECT r = ScaledRect(control, form.Dpi);
  peer->Window =
      CreateWindowExA(kind.exStyle, kind.windowClass, control.Caption().c_str(), kind.style, r.left,
                      r.top, r.right - r.left, r.bottom - r.top, form.Window,
                      reinterpret_cast<HMENU>(static_cast<INT_PTR>(ControlId(control, index))),
                      GetModuleHandleA(nullptr), nullptr);
  if (peer->Window == nullptr) Fatal(std::string("failed to create a ") + kind.windowClass);
  SendMessageA(peer->Window, WM_SETFONT, reinterpret_cast<WPARAM>(form.Font), FALSE);
  if (dynamic_cast<TMemo*>(&control) != nullptr) {
    SendMessageA(peer->Window, EM_SETLIMITTEXT, 0, 0);  // the log may outgrow 32 KB
  }
  ToolkitAddControlPeer(form, control, peer);
  SetUpTrackBar(*peer);
  AutoSizeLabel(*peer, form);
  peer->StateChanged(control);
}

// The font and the controls' geometry at `dpi`; the old font goes once no control uses it
// (should GDI fail to make the new one, the old stays, at its size).
void ApplyDpi(FormPeer& form, int dpi) {
  form.Dpi = dpi;
  HFONT old = form.Font;
  HFONT font = win32::CreateFontAtDpi(form.Form->FontName, form.Form->FontPoints, dpi);
  if (font != nullptr) form.Font = font;
  for (TControlPeer* control : form.Controls) {
    auto& peer = *static_cast<ControlPeer*>(control);
    SendMessageA(peer.Window, WM_SETFONT, reinterpret_cast<WPARAM>(form.Font), TRUE);
    const RECT r = ScaledRect(*peer.Control, dpi);
    SetWindowPos(peer.Window, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    AutoSizeLabel(peer, form);
  }
  if (font != nullptr && old != nullptr) DeleteObject(old);
}

// Made at the table's place on the screen, the window learns there the DPI of its monitor,
// then takes the table's geometry and font at that DPI. Moved to a monitor of another DPI on
// the way, it has had its WM_DPICHANGED already, and keeps what that gave it.
void ScaleToItsDpi(FormPeer& peer) {
  const TForm& form = *peer.Form;
  peer.Dpi = win32::WindowDpi(peer.Window);
  peer.Font = win32::CreateFontAtDpi(form.FontName, form.FontPoints, peer.Dpi);
  if (peer.Dpi == win32::kDesignDpi) return;
  const RECT r = ScaledRect(form, peer.Dpi);
  SetWindowPos(peer.Window, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
               SWP_NOZORDER | SWP_NOACTIVATE);
}

FormPeer& CreateFormPeer(TForm& form) {
  EnsureInitialized();
  RegisterWindowClass(form.ClassName, FormProc, reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1));
  auto* peer = new FormPeer;
  // Listed first: the window procedure reaches the form through its peer during the creation.
  ToolkitAddFormPeer(form, peer);
  peer->Window =
      CreateWindowExA(0, form.ClassName.c_str(), form.Caption().c_str(),
                      WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, form.Left, form.Top, form.Width,
                      form.Height, TheAppWindow(), nullptr, GetModuleHandleA(nullptr), peer);
  if (peer->Window == nullptr) Fatal("failed to create the window of " + form.Name);
  ScaleToItsDpi(*peer);
  // Created in tab order, so the dialog navigation of the loop follows it.
  for (const TTabStop& stop : ToolkitTabOrder(form)) AddControl(*peer, *stop.Control, stop.Index);
  return *peer;
}

HWND MainWindow() {
  FormPeer* peer = FormPeerOf(Application->MainForm);
  return peer != nullptr ? peer->Window : nullptr;
}

// The top-level window of class `windowClass` that `owner` owns, or null.
HWND OwnedWindowOfClass(HWND owner, const std::string& windowClass) {
  struct Search {
    HWND owner;
    const std::string& windowClass;
    HWND found;
  } search{owner, windowClass, nullptr};
  EnumWindows(
      [](HWND window, LPARAM context) -> BOOL {
        auto* s = reinterpret_cast<Search*>(context);
        char name[256] = {};
        GetClassNameA(window, name, sizeof name);
        if (GetWindow(window, GW_OWNER) != s->owner || s->windowClass != name) return TRUE;
        s->found = window;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

}  // namespace

// ---- The backend ----

void ToolkitBackendInitialize() {
  EnsureInitialized();
}

bool ToolkitBackendShowForm(TForm& form) {
  FormPeer* peer = FormPeerOf(&form);
  if (peer == nullptr) peer = &CreateFormPeer(form);
  SetWindowTextA(AppWindow, AppTitle().c_str());
  ShowWindow(AppWindow, SW_SHOWNOACTIVATE);
  ShowWindow(peer->Window, SW_SHOWNORMAL);
  UpdateWindow(peer->Window);
  // Showing activates the window (WM_ACTIVATEAPP, WM_ACTIVATE, sent before ShowWindow returns)
  // unless another program keeps the foreground, or, under Wine, no window manager gives the
  // focus: then the toolkit counts this showing as the activation.
  if (!Application->Active()) SetForegroundWindow(peer->Window);
  return Application->Active();
}

void ToolkitBackendHideForm(TForm& form) {
  if (FormPeer* peer = FormPeerOf(&form)) ShowWindow(peer->Window, SW_HIDE);
}

void ToolkitBackendDestroyWindow(TFormPeer& form) {
  auto& peer = static_cast<FormPeer&>(form);
  SetWindowLongPtrA(peer.Window, GWLP_USERDATA, 0);
  DestroyWindow(peer.Window);  // and its controls
  DeleteObject(peer.Font);
}

void ToolkitBackendDestroyWidget(TControlPeer& control) {
  DestroyWindow(static_cast<ControlPeer&>(control).Window);
}

bool ToolkitBackendDispatchPending() {
  MSG msg;
  if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) return false;
  if (msg.message == WM_QUIT) {
    Application->Terminate();
    return true;
  }
  // Tab and the arrow keys move between the controls of the form the message is for.
  HWND top = msg.hwnd != nullptr ? GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
  bool ours = top != nullptr && PeerOf(top) != nullptr;
  if (ours && IsDialogMessageA(top, &msg)) return true;
  TranslateMessage(&msg);
  DispatchMessageA(&msg);
  return true;
}

// Windows ends a timed wait on a tick of its timer (1 ms under timeBeginPeriod(1)), up to a
// tick after the time asked for: waiting the whole span would end most of a millisecond into
// the one due, and a tick measured from that starts that much late, every tick. So it waits a
// tick short, then a tick at a time until the millisecond clock shows the one due.
bool ToolkitBackendWait(std::uint32_t timeoutMs) {
  HANDLE wake = TheWakeEvent();
  if (timeoutMs == kToolkitWaitForever) {
    MsgWaitForMultipleObjectsEx(1, &wake, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    return false;
  }
  const std::uint32_t due = platform::TimeGetTime() + timeoutMs;  // modulo 2^32
  for (;;) {
    const auto left = static_cast<std::int32_t>(due - platform::TimeGetTime());
    if (left <= 0) return true;
    const DWORD slice = left > 1 ? static_cast<DWORD>(left - 1) : 1;
    if (MsgWaitForMultipleObjectsEx(1, &wake, slice, QS_ALLINPUT, MWMO_INPUTAVAILABLE) !=
        WAIT_TIMEOUT)
      return false;
  }
}

void ToolkitBackendWake() {
  SetEvent(TheWakeEvent());
}

void ToolkitBackendRunBegins() {
  EnsureInitialized();
  // Before the first wait: the loop's ticks need the fine timer while the window is covered.
  platform::OptOutOfPowerThrottling();
  platform::BeginFineTimer();
}

void ToolkitBackendRunEnded() {
  platform::EndFineTimer();
  // The forms' windows are gone already.
  if (AppWindow != nullptr) DestroyWindow(AppWindow);
  AppWindow = nullptr;
}

void ToolkitBackendMessageBox(const std::string& title, const std::string& text) {
  MessageBoxA(MainWindow(), text.c_str(), title.c_str(), MB_OK | MB_ICONERROR);
}

void ToolkitBackendEchoLine(const std::string&) {}

void ToolkitBackendShowRunningCopy(const std::string& title, const std::string& formClass) {
  HWND app = FindWindowA(kAppWindowClass, title.c_str());
  if (app == nullptr) return;
  // A minimized application is restored through its own window, which shows its forms again.
  // Bounded: the other copy may be in the middle of an exchange.
  DWORD_PTR ignored = 0;
  if (IsIconic(app)) {
    SendMessageTimeoutA(app, WM_SYSCOMMAND, SC_RESTORE, 0, SMTO_ABORTIFHUNG, 2000, &ignored);
  }
  HWND form = OwnedWindowOfClass(app, formClass);
  if (form == nullptr) return;
  if (IsIconic(form)) ShowWindowAsync(form, SW_RESTORE);
  // Allowed because this process was just started by the user; Windows may still only flash
  // the task bar button.
  SetForegroundWindow(form);
}
