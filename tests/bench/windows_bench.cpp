// The Windows build under Wine: korvan-bridge.exe beside korvan-sim.exe (no EFIS unit on that
// side), and beside it over the same --seconds a bare Win32 window with a 50 ms timer
// (bare-win32-window.exe) under the same Wine:
//   the share of one core each process takes (Wine's own wineserver is counted for neither);
//   exchanges a minute, and the intervals between exchanges one tick apart, from korvan-sim.exe's
//   exchange log (phases 1-2, 4-5, 5-6 and 0-1 of the ten: the ticks that both exchange).
// The programs come from --windows-bin DIR (default: build/windows/bin of the source tree); the
// measurement is skipped, with a line on stderr, when they are not there.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/bench/bench.h"
#include "tests/support/child_process.h"

namespace {

using testsupport::ChildProcess;

bool Exists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0;
}

// The Linux process that runs `exe` under Wine: the newest one whose command line names it.
pid_t WineProcessOf(const std::string& exe) {
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return 0;
  pid_t found = 0;
  unsigned long long newest = 0;
  while (dirent* entry = readdir(proc)) {
    const pid_t pid = static_cast<pid_t>(std::atoi(entry->d_name));
    if (pid <= 0) continue;
    std::ifstream in("/proc/" + std::to_string(pid) + "/cmdline", std::ios::binary);
    std::string cmdline((std::istreambuf_iterator<char>(in)), {});
    if (cmdline.find(exe) == std::string::npos || cmdline.find("wine-run.sh") != std::string::npos)
      continue;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string field;
    for (int i = 0; i < 22 && stat >> field; ++i) {
    }
    const unsigned long long started = std::strtoull(field.c_str(), nullptr, 10);
    if (started >= newest) {
      newest = started;
      found = pid;
    }
  }
  closedir(proc);
  return found;
}

struct Exchange {
  long long us;
  bool slow;
};

// The ten phases' exchanges: 1 and 5 slow (30 reads), the even ones fast.
constexpr int kExchangePhases[7] = {1, 2, 4, 5, 6, 8, 0};

// Exchanges a minute, and the intervals of exchanges one tick apart, over the last `spanUs` of
// the log (the Windows steady clock need not count from where Linux's does; the bridge stopped
// right after the measurement). The log's phases are found from its first slow exchange
// (followed by two fast ones: phase 1; by three: phase 5).
bool ReportExchangeSchedule(const std::string& logPath, long long spanUs) {
  std::vector<Exchange> all, log;
  std::ifstream in(logPath);
  long long us;
  unsigned reads, writes;
  while (in >> us >> reads >> writes) all.push_back({us, reads >= 30});
  for (const Exchange& exchange : all) {
    if (exchange.us >= all.back().us - spanUs) log.push_back(exchange);
  }
  std::size_t start = 0;
  int index = -1;
  for (std::size_t i = 0; i + 4 < log.size() && index < 0; ++i) {
    if (!log[i].slow) continue;
    std::size_t fast = 0;
    while (i + 1 + fast < log.size() && !log[i + 1 + fast].slow) ++fast;
    if (fast == 2 || fast == 3) {
      start = i;
      index = fast == 2 ? 0 : 3;
    }
  }
  if (index < 0) {
    std::fprintf(stderr, "korvan-bench: korvan-sim.exe logged too few exchanges\n");
    return false;
  }
  std::vector<double> intervalsMs;
  std::size_t last = start;
  for (std::size_t i = start + 1; i < log.size(); ++i) {
    const int next = (index + 1) % 7;
    const bool slow = kExchangePhases[next] == 1 || kExchangePhases[next] == 5;
    if (log[i].slow != slow) break;  // the schedule broke off: stop there
    if ((kExchangePhases[next] - kExchangePhases[index] + 10) % 10 == 1)
      intervalsMs.push_back((log[i].us - log[i - 1].us) / 1000.0);
    index = next;
    last = i;
  }
  const double minutes = (log[last].us - log[start].us) / 60e6;
  if (minutes <= 0 || intervalsMs.empty()) return false;
  bench::Report("windows_exchanges_per_minute", (last - start) / minutes, "exchanges");
  bench::Report("windows_exchanges_per_minute_nominal", 840, "exchanges");
  bench::Report("windows_tick_interval_median", bench::Median(intervalsMs), "ms");
  bench::Report("windows_tick_interval_p99", bench::Percentile(intervalsMs, 99), "ms");
  bench::Report("windows_tick_interval_min", bench::Percentile(intervalsMs, 0), "ms");
  return true;
}

bool StartUnderWine(ChildProcess& child, const std::string& exe,
                    const std::vector<std::string>& args) {
  std::vector<std::string> all = {std::string(KORVAN_SOURCE_DIR) + "/tests/wine/wine-run.sh", exe};
  all.insert(all.end(), args.begin(), args.end());
  return child.Start("/bin/bash", all);
}

}  // namespace

KORVAN_BENCH(windows) {
  const std::string bin = context.windowsBin.empty()
                              ? std::string(KORVAN_SOURCE_DIR) + "/build/windows/bin"
                              : context.windowsBin;
  const std::string sim = bin + "/korvan-sim.exe", bridge = bin + "/korvan-bridge.exe",
                    bare = bin + "/bare-win32-window.exe";
  if (!Exists(sim) || !Exists(bridge) || !Exists(bare)) {
    std::fprintf(stderr, "korvan-bench: windows: no Windows build in %s; skipped\n", bin.c_str());
    return true;
  }
  const std::string runtime = testsupport::MakeTestRuntimeDir("bench-windows");
  const std::string logPath = runtime + "/exchanges.log";
  bool ok = false;
  {
    ChildProcess simChild, bridgeChild, bareChild;
    if (!StartUnderWine(simChild, sim, {"--exchange-log", "Z:" + logPath}) ||
        !simChild.WaitForLine("korvan-sim ready", 120000)) {
      std::fprintf(stderr, "korvan-bench: korvan-sim.exe did not start under Wine\n");
    } else if (!StartUnderWine(bridgeChild, bridge, {}) || !StartUnderWine(bareChild, bare, {})) {
      std::fprintf(stderr, "korvan-bench: cannot start the programs under Wine\n");
    } else {
      bench::SleepMs(5000);  // both windows up, the bridge connected and ticking
      const pid_t bridgePid = WineProcessOf("korvan-bridge.exe");
      const pid_t barePid = WineProcessOf("bare-win32-window.exe");
      if (bridgePid == 0 || barePid == 0) {
        std::fprintf(stderr, "korvan-bench: the Wine processes were not found\n");
      } else {
        const long long from = bench::NowUs();
        const std::vector<double> cpu =
            bench::CpuPercentOver({bridgePid, barePid}, context.seconds);
        const long long to = bench::NowUs();
        bench::ReportBeside("windows_cpu_percent_of_one_core", cpu[0], cpu[1], "%");
        ok = true;
        bridgeChild.Stop();
        bareChild.Stop();
        simChild.Stop(20000);  // its log is complete once it has stopped
        ok = ReportExchangeSchedule(logPath, to - from);
      }
    }
  }
  testsupport::RemoveTree(runtime);
  return ok;
}
