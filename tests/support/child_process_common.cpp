// The parts of the child-process helper that need nothing but the standard library.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/child_state.h"

namespace fs = std::filesystem;

namespace testsupport {

namespace {

int IndexOf(Stream stream) {
  return stream == Stream::Out ? 0 : 1;
}

}  // namespace

void ChildState::AddOutput(int index, std::string& partial, const char* data, std::size_t size) {
  std::lock_guard lock(mutex);
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] != '\n') {
      partial.push_back(data[i]);
      continue;
    }
    if (!partial.empty() && partial.back() == '\r') partial.pop_back();
    lines[index].push_back(std::move(partial));
    partial.clear();
  }
  changed.notify_all();
}

void ChildState::EndOutput(int index, std::string& partial) {
  std::lock_guard lock(mutex);
  if (!partial.empty()) lines[index].push_back(std::move(partial));
  eof[index] = true;
  changed.notify_all();
}

void ChildState::Join() {
  for (auto& reader : readers)
    if (reader.joinable()) reader.join();
  if (waiter.joinable()) waiter.join();
}

bool ChildProcess::WaitForLine(const std::string& text, int timeoutMs, Stream stream) {
  return WaitForLines(text, 1, timeoutMs, stream);
}

bool ChildProcess::WaitForLines(const std::string& text, int count, int timeoutMs, Stream stream) {
  ChildState& s = StateOf(*impl_);
  const int index = IndexOf(stream);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  std::unique_lock lock(s.mutex);
  size_t scanned = 0;
  int found = 0;
  auto scan = [&] {
    for (; scanned < s.lines[index].size() && found < count; ++scanned)
      if (s.lines[index][scanned].find(text) != std::string::npos) ++found;
    return found >= count;
  };
  for (;;) {
    if (scan()) return true;
    if (!s.started || s.eof[index]) return false;
    if (s.changed.wait_until(lock, deadline) == std::cv_status::timeout) return scan();
  }
}

int ChildProcess::CountLines(const std::string& text, Stream stream) const {
  const ChildState& s = StateOf(*impl_);
  std::lock_guard lock(s.mutex);
  int count = 0;
  for (const auto& line : s.lines[IndexOf(stream)])
    if (line.find(text) != std::string::npos) ++count;
  return count;
}

std::vector<std::string> ChildProcess::Lines(Stream stream) const {
  const ChildState& s = StateOf(*impl_);
  std::lock_guard lock(s.mutex);
  return s.lines[IndexOf(stream)];
}

bool ChildProcess::WaitForExit(int timeoutMs) {
  ChildState& s = StateOf(*impl_);
  std::unique_lock lock(s.mutex);
  if (!s.started) return true;
  if (!s.changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                          [&s] { return s.Finished(); }))
    return false;
  lock.unlock();
  s.Join();
  return true;
}

bool ChildProcess::Running() {
  const ChildState& s = StateOf(*impl_);
  std::lock_guard lock(s.mutex);
  return s.started && !s.exited;
}

int ChildProcess::ExitCode() const {
  const ChildState& s = StateOf(*impl_);
  std::lock_guard lock(s.mutex);
  return s.exited ? s.exitCode : -1;
}

std::string ChildProcess::ErrorText() const {
  const ChildState& s = StateOf(*impl_);
  std::lock_guard lock(s.mutex);
  return s.error;
}

std::string MakeTestRuntimeDir(const char* tag) {
  static std::atomic<unsigned> counter{0};
  std::error_code error;
  const fs::path base = fs::temp_directory_path(error);
  if (error) throw std::runtime_error("no temporary directory: " + error.message());
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  for (int attempt = 0; attempt < 100; ++attempt) {
    const fs::path dir = base / ("korvan-" + std::string(tag) + "-" + std::to_string(stamp) + "-" +
                                 std::to_string(counter.fetch_add(1)));
    if (fs::create_directory(dir, error)) {
      fs::permissions(dir, fs::perms::owner_all, fs::perm_options::replace, error);
      const std::string path = dir.string();
      SetTestEnvironment("XDG_RUNTIME_DIR", path.c_str());
      SetTestEnvironment("XDG_STATE_HOME", (dir / "state").string().c_str());
      return path;
    }
  }
  throw std::runtime_error("cannot make a temporary directory under " + base.string());
}

std::vector<std::string> FilesUnder(const std::string& dir) {
  std::vector<std::string> files;
  std::error_code error;
  if (!fs::is_directory(dir, error)) return files;
  for (fs::recursive_directory_iterator it(dir, error), end; !error && it != end;
       it.increment(error)) {
    if (!it->is_directory(error)) files.push_back(fs::relative(it->path(), dir, error).string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

void RemoveTree(const std::string& dir) {
  std::error_code error;
  fs::remove_all(dir, error);
}

}  // namespace testsupport
