// What the measurements share: where the programs are, what a process has cost, a display.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <thread>

#include "tests/bench/bench.h"

namespace bench {

std::string ProgramDir() {
  char path[4096];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return ".";
  path[n] = '\0';
  std::string dir(path);
  return dir.substr(0, dir.rfind('/'));
}

namespace {

// Each thread's CPU time so far, in nanoseconds (the scheduler's own count, not clock ticks),
// into `threads` by thread id.
void ReadThreadCpuNs(pid_t pid, std::map<long, std::uint64_t>& threads) {
  const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
  DIR* dir = opendir(tasks.c_str());
  if (dir == nullptr) return;
  while (dirent* entry = readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    std::ifstream in(tasks + "/" + entry->d_name + "/schedstat");
    std::uint64_t onCpu = 0;
    if (in >> onCpu) threads[std::atol(entry->d_name)] = onCpu;
  }
  closedir(dir);
}

}  // namespace

std::vector<double> CpuPercentOver(const std::vector<pid_t>& pids, int seconds) {
  constexpr int kSampleMs = 100;
  std::vector<std::map<long, std::uint64_t>> first(pids.size()), last(pids.size());
  for (std::size_t i = 0; i < pids.size(); ++i) ReadThreadCpuNs(pids[i], first[i]);
  last = first;
  const std::int64_t from = NowUs();
  for (std::int64_t end = from + seconds * 1000000LL; NowUs() < end;) {
    SleepMs(static_cast<int>(std::min<std::int64_t>(kSampleMs, (end - NowUs()) / 1000 + 1)));
    for (std::size_t i = 0; i < pids.size(); ++i) ReadThreadCpuNs(pids[i], last[i]);
  }
  const double wallNs = (NowUs() - from) * 1000.0;
  std::vector<double> percent;
  for (std::size_t i = 0; i < pids.size(); ++i) {
    std::uint64_t used = 0;
    for (const auto& [thread, ns] : last[i]) {
      // A thread that started meanwhile counts from 0, as does one that took an ended one's id.
      const auto before = first[i].find(thread);
      const std::uint64_t base = before == first[i].end() ? 0 : before->second;
      used += ns >= base ? ns - base : ns;
    }
    percent.push_back(100.0 * static_cast<double>(used) / wallNs);
  }
  return percent;
}

long PeakRssKiB(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return 0;
}

std::int64_t NowUs() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void SleepMs(int ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

Display::Display() {
  const char* display = std::getenv("DISPLAY");
  if (display != nullptr && display[0] != '\0') {
    ready_ = true;
    return;
  }
  int numberPipe[2];
  if (pipe(numberPipe) != 0) return;
  xvfb_ = fork();
  if (xvfb_ == 0) {
    close(numberPipe[0]);
    // Xvfb tries display numbers until one is free and says so for each taken one.
    const int quiet = open("/dev/null", O_WRONLY);
    if (quiet >= 0) dup2(quiet, STDERR_FILENO);
    const std::string fd = std::to_string(numberPipe[1]);
    execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x1024x24", "-nolisten",
           "tcp", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(numberPipe[1]);
  char number[32] = {};
  std::size_t got = 0;
  while (got < sizeof number - 1) {
    const ssize_t n = read(numberPipe[0], number + got, sizeof number - 1 - got);
    if (n <= 0 || number[got + n - 1] == '\n') {
      if (n > 0) got += static_cast<std::size_t>(n);
      break;
    }
    got += static_cast<std::size_t>(n);
  }
  close(numberPipe[0]);
  if (xvfb_ < 0 || got == 0) {
    std::fprintf(stderr, "korvan-bench: no DISPLAY and Xvfb did not start\n");
    return;
  }
  number[std::strcspn(number, "\n")] = '\0';
  setenv("DISPLAY", (std::string(":") + number).c_str(), 1);
  ready_ = true;
}

Display::~Display() {
  if (xvfb_ <= 0) return;
  kill(xvfb_, SIGTERM);
  waitpid(xvfb_, nullptr, 0);
  unsetenv("DISPLAY");
}

}  // namespace bench
