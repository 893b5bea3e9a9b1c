// The headless backend: the loop's events are closures posted by tests.
#include "platform/null/null_toolkit.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <vector>

#include "platform/toolkit_backend.h"

namespace {

std::mutex QueueLock;
std::condition_variable QueueChanged;
std::deque<std::function<void()>> Posted;  // guarded by QueueLock
bool WakeRequested = false;                // guarded by QueueLock

std::vector<const TForm*> VisibleForms;
int MessageBoxCount = 0;
NullMessageBox LastMessageBox;

void WriteErrorLine(const std::string& text) {
  std::string line = text + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

}  // namespace

// ---- The backend ----

void ToolkitBackendInitialize() {}

bool ToolkitBackendShowForm(TForm& form) {
  if (!NullToolkitFormVisible(form)) VisibleForms.push_back(&form);
  return false;
}

void ToolkitBackendHideForm(TForm& form) {
  VisibleForms.erase(std::remove(VisibleForms.begin(), VisibleForms.end(), &form),
                     VisibleForms.end());
}

// This backend lists no peers (those of the tests are their own), so the toolkit never asks.
void ToolkitBackendDestroyWindow(TFormPeer&) {}
void ToolkitBackendDestroyWidget(TControlPeer&) {}

bool ToolkitBackendDispatchPending() {
  std::deque<std::function<void()>> ready;
  {
    std::lock_guard<std::mutex> lock(QueueLock);
    ready.swap(Posted);
  }
  for (auto& event : ready) ToolkitGuard(event);
  return !ready.empty();
}

bool ToolkitBackendWait(std::uint32_t timeoutMs) {
  std::unique_lock<std::mutex> lock(QueueLock);
  auto ready = [] { return WakeRequested || !Posted.empty(); };
  bool timeCame = false;
  if (timeoutMs == kToolkitWaitForever) {
    QueueChanged.wait(lock, ready);
  } else {
    // The millisecond clock's next turns: its value now is the start of the current one.
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    const auto due = std::chrono::steady_clock::time_point(
        std::chrono::duration_cast<std::chrono::milliseconds>(now) +
        std::chrono::milliseconds(timeoutMs));
    timeCame = !QueueChanged.wait_until(lock, due, ready);
  }
  WakeRequested = false;
  return timeCame;
}

void ToolkitBackendWake() {
  {
    std::lock_guard<std::mutex> lock(QueueLock);
    WakeRequested = true;
  }
  QueueChanged.notify_all();
}

void ToolkitBackendRunBegins() {}

void ToolkitBackendRunEnded() {
  VisibleForms.clear();
}

void ToolkitBackendMessageBox(const std::string& title, const std::string& text) {
  ++MessageBoxCount;
  LastMessageBox = {title, text};
  WriteErrorLine(text);
}

void ToolkitBackendEchoLine(const std::string& line) {
  WriteErrorLine(line);
}

void ToolkitBackendShowRunningCopy(const std::string&, const std::string&) {}

// ---- Test entries ----

void NullToolkitReset() {
  TApplicationAccess::Reset(*Application);
  {
    std::lock_guard<std::mutex> lock(QueueLock);
    Posted.clear();
    WakeRequested = false;
  }
  VisibleForms.clear();
  MessageBoxCount = 0;
  LastMessageBox = {};
}

std::uint64_t NullToolkitRunFor(std::uint32_t milliseconds) {
  if (milliseconds == kToolkitWaitForever) --milliseconds;  // stays bounded
  return TApplicationAccess::Loop(*Application, milliseconds);
}

bool NullToolkitProcessIdle() {
  ToolkitBackendDispatchPending();
  return TApplicationAccess::IdleOnce(*Application);
}

void NullToolkitPost(std::function<void()> event) {
  {
    std::lock_guard<std::mutex> lock(QueueLock);
    Posted.push_back(std::move(event));
  }
  QueueChanged.notify_all();
}

void NullToolkitActivate(bool active) {
  if (ToolkitAppActivation(active) && active && Application->MainForm != nullptr) {
    ToolkitFormActivated(*Application->MainForm);
  }
}

bool NullToolkitFormVisible(const TForm& form) {
  return std::find(VisibleForms.begin(), VisibleForms.end(), &form) != VisibleForms.end();
}

int NullToolkitMessageBoxCount() {
  return MessageBoxCount;
}

NullMessageBox NullToolkitLastMessageBox() {
  return LastMessageBox;
}
