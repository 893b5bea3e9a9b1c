// The server half of the IPC tests: a window of the test's own class, made, served and
// destroyed on a thread of its own (as Win32 requires of a window; POSIX allows it too). It
// answers msg * 3 + wParam * 5 + lParam, so a reply shows all three arrived, or holds the
// sender while `answer` is false.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/ipc.h"
#include "platform/ipc_server.h"

namespace testsupport {

// What the handler saw, shared with the test's threads.
struct Serving {
  std::atomic<bool> answer{true};
  std::atomic<int> handled{0};
  std::atomic<std::uint32_t> senderPid{0};
  std::atomic<std::uint32_t> lastMsg{0}, lastWParam{0}, lastLParam{0};
  std::mutex lock;
  std::vector<std::uint32_t> connections;  // of each message, in order
  std::vector<std::uint32_t> ended;        // connections, as they ended
};

inline std::uint32_t ServedReply(std::uint32_t msg, std::uint32_t wParam, std::uint32_t lParam) {
  return msg * 3u + wParam * 5u + lParam;
}

inline bool AnswerServed(void* context, const platform::ServerMessage& message,
                         std::uint32_t* reply) {
  auto* serving = static_cast<Serving*>(context);
  serving->senderPid = message.senderPid;
  serving->lastMsg = message.msg;
  serving->lastWParam = message.wParam;
  serving->lastLParam = message.lParam;
  {
    std::lock_guard<std::mutex> hold(serving->lock);
    serving->connections.push_back(message.connection);
  }
  *reply = ServedReply(message.msg, message.wParam, message.lParam);
  // Counted last: a test that sees the count sees the rest.
  serving->handled.fetch_add(1);
  return serving->answer.load();
}

inline void ServedConnectionEnded(void* context, std::uint32_t connection) {
  auto* serving = static_cast<Serving*>(context);
  std::lock_guard<std::mutex> hold(serving->lock);
  serving->ended.push_back(connection);
}

class ServedWindow {
 public:
  ServedWindow(const char* className, Serving* serving) {
    thread_ = std::thread([this, className, serving] {
      window_ = platform::CreateServerWindow(className, AnswerServed, serving);
      createError_ = platform::LastError();
      if (window_ != nullptr) platform::SetServerConnectionEnd(window_, ServedConnectionEnded);
      ready_ = true;
      if (window_ == nullptr) return;
      ran_ = platform::RunServerWindow(window_);
      {
        std::lock_guard<std::mutex> hold(liveLock_);
        stopSeen_ = platform::ServerStopRequested(window_);
        live_ = false;
      }
      platform::DestroyServerWindow(window_);
    });
    while (!ready_) platform::SleepMs(1);
  }
  ~ServedWindow() { Stop(); }
  ServedWindow(const ServedWindow&) = delete;
  ServedWindow& operator=(const ServedWindow&) = delete;

  bool Created() const { return window_ != nullptr; }
  std::uint32_t CreateError() const { return createError_; }
  // The window, for the test's calls while it is served.
  platform::ServerWindow* window() const { return window_; }
  std::thread& thread() { return thread_; }
  // Once the serving thread has ended: whether a stop had been requested when its loop ended.
  bool StopWasRequested() const { return stopSeen_; }

  // Requests the stop (unless the loop has ended by itself), waits for the window to be
  // destroyed; RunServerWindow's result.
  bool Stop() {
    if (thread_.joinable()) {
      {
        std::lock_guard<std::mutex> hold(liveLock_);
        if (live_) platform::RequestServerStop(window_);
      }
      thread_.join();
    }
    return ran_;
  }

 private:
  std::thread thread_;
  std::atomic<bool> ready_{false};
  platform::ServerWindow* window_ = nullptr;
  std::uint32_t createError_ = 0;
  bool ran_ = false;
  std::mutex liveLock_;
  bool live_ = true;  // until the loop has ended: the window may still be asked to stop
  bool stopSeen_ = false;
};

}  // namespace testsupport
