// The serving side of the simulator IPC on Windows: a hidden top-level window of the module's
// class whose procedure hands registered and application messages to the handler. A handler
// that does not answer keeps the procedure from returning, which is exactly what a hung module
// looks like to a sender's SendMessageTimeout.
#include <windows.h>

#include <atomic>
#include <cstring>

#include "platform/ipc_server.h"

namespace platform {

struct ServerWindow {
  HWND hwnd;
  ServerHandler handler;
  void* context;
  std::atomic<bool> stop;
  char className[256];
};

namespace {

// Windows that a console Ctrl-C or close should stop. The console's handler runs on a thread of
// its own and may race a DestroyServerWindow, so it touches only window handles (posting to a
// destroyed one just fails) and a process-wide flag, never a ServerWindow.
constexpr int kMaxServers = 8;
std::atomic<HWND> LiveWindows[kMaxServers];
std::atomic<bool> ConsoleStop{false};
std::atomic<bool> ConsoleHandlerInstalled{false};

constexpr UINT kFirstRegisteredMessage = 0xC000;
// Sleep step of a held sender; a stop request ends the hold within one step.
constexpr DWORD kHoldStepMs = 20;

bool Stopping(const ServerWindow* window) {
  return window->stop.load() || ConsoleStop.load();
}

BOOL WINAPI OnConsoleControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) {
    return FALSE;
  }
  bool any = false;
  for (auto& slot : LiveWindows) {
    if (HWND hwnd = slot.load()) {
      ConsoleStop.store(true);
      ::PostMessageA(hwnd, WM_CLOSE, 0, 0);
      any = true;
    }
  }
  return any ? TRUE : FALSE;
}

void Track(HWND hwnd) {
  for (auto& slot : LiveWindows) {
    HWND empty = nullptr;
    if (slot.compare_exchange_strong(empty, hwnd)) break;
  }
  if (!ConsoleHandlerInstalled.exchange(true)) ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

void Untrack(HWND hwnd) {
  for (auto& slot : LiveWindows) {
    HWND expected = hwnd;
    slot.compare_exchange_strong(expected, nullptr);
  }
}

bool IsServedMessage(UINT msg) {
  return msg >= kFirstRegisteredMessage || (msg >= WM_USER && msg < kFirstRegisteredMessage);
}

LRESULT ServeMessage(ServerWindow* window, UINT msg, WPARAM wParam, LPARAM lParam) {
  const ServerMessage message{msg, static_cast<std::uint32_t>(wParam),
                              static_cast<std::uint32_t>(lParam), 0};
  std::uint32_t reply = 0;
  if (window->handler(window->context, message, &reply)) return static_cast<LRESULT>(reply);
  // Sleep only: peeking for a posted WM_CLOSE would also dispatch the senders' queued
  // messages and nest one hold inside another, so a hold ends on a stop request alone.
  while (!Stopping(window)) ::Sleep(kHoldStepMs);
  return 0;
}

LRESULT OnClose(ServerWindow* window) {
  window->stop.store(true);
  // Wakes GetMessage even when WM_CLOSE came as a sent message, which GetMessage handles
  // without returning.
  ::PostMessageA(window->hwnd, WM_NULL, 0, 0);
  return 0;
}

LRESULT CALLBACK ServerWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
    ::SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    return ::DefWindowProcA(hwnd, msg, wParam, lParam);
  }
  auto* window = reinterpret_cast<ServerWindow*>(::GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (window == nullptr) return ::DefWindowProcA(hwnd, msg, wParam, lParam);
  if (IsServedMessage(msg)) return ServeMessage(window, msg, wParam, lParam);
  if (msg == WM_CLOSE) return OnClose(window);
  return ::DefWindowProcA(hwnd, msg, wParam, lParam);
}

bool RegisterServerClass(const char* className) {
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = ServerWindowProc;
  windowClass.hInstance = ::GetModuleHandleA(nullptr);
  windowClass.lpszClassName = className;
  return ::RegisterClassA(&windowClass) != 0;
}

}  // namespace

ServerWindow* CreateServerWindow(const char* className, ServerHandler handler, void* context) {
  if (className == nullptr || handler == nullptr || className[0] == '\0' ||
      std::strlen(className) >= sizeof(ServerWindow::className)) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (::FindWindowExA(nullptr, nullptr, className, nullptr) != nullptr) {
    ::SetLastError(ERROR_CLASS_ALREADY_EXISTS);
    return nullptr;
  }
  if (!RegisterServerClass(className)) return nullptr;

  auto* window = new ServerWindow{};
  window->handler = handler;
  window->context = context;
  std::strcpy(window->className, className);
  // Top-level (not message-only), so that FindWindowEx with no parent finds it; never shown.
  window->hwnd = ::CreateWindowExA(0, className, className, WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                   ::GetModuleHandleA(nullptr), window);
  if (window->hwnd == nullptr) {
    const DWORD error = ::GetLastError();
    ::UnregisterClassA(className, ::GetModuleHandleA(nullptr));
    delete window;
    ::SetLastError(error);
    return nullptr;
  }
  Track(window->hwnd);
  return window;
}

bool RunServerWindow(ServerWindow* window) {
  MSG message;
  while (!Stopping(window)) {
    const BOOL got = ::GetMessageA(&message, nullptr, 0, 0);
    if (got == -1) return false;
    if (got == 0) {
      // Someone ended the thread's loop; pass the quit on to an outer loop, if any.
      ::PostQuitMessage(static_cast<int>(message.wParam));
      break;
    }
    ::TranslateMessage(&message);
    ::DispatchMessageA(&message);
  }
  return true;
}

void RequestServerStop(ServerWindow* window) {
  if (window == nullptr) return;
  window->stop.store(true);
  ::PostMessageA(window->hwnd, WM_CLOSE, 0, 0);
}

bool ServerStopRequested(const ServerWindow* window) {
  return window == nullptr || Stopping(window);
}

// A window procedure has no connections: nothing ever ends.
void SetServerConnectionEnd(ServerWindow*, ServerConnectionEnd) {}

void DestroyServerWindow(ServerWindow* window) {
  if (window == nullptr) return;
  Untrack(window->hwnd);
  // What the window still receives while it is destroyed must not reach freed state.
  ::SetWindowLongPtrA(window->hwnd, GWLP_USERDATA, 0);
  ::DestroyWindow(window->hwnd);
  ::UnregisterClassA(window->className, ::GetModuleHandleA(nullptr));
  delete window;
}

}  // namespace platform
