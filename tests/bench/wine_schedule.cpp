// The schedule korvan-sim.exe's exchange log shows under Wine (wine_schedule.h).
#include "tests/bench/wine_schedule.h"

#include <cstdio>
#include <fstream>
#include <vector>

#include "tests/bench/bench.h"

namespace bench {
namespace {

struct Exchange {
  long long us;
  bool slow;
};

// The ten phases' exchanges: 1 and 5 slow (30 reads), the even ones fast.
constexpr int kExchangePhases[7] = {1, 2, 4, 5, 6, 8, 0};

}  // namespace

bool ReportExchangeSchedule(const std::string& name, const std::string& logPath, long long spanUs) {
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
    std::fprintf(stderr, "korvan-bench: %s: korvan-sim.exe logged too few exchanges\n",
                 name.c_str());
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
  bench::Report(name + "_exchanges_per_minute", (last - start) / minutes, "exchanges");
  bench::Report(name + "_tick_interval_median", bench::Median(intervalsMs), "ms");
  bench::Report(name + "_tick_interval_p99", bench::Percentile(intervalsMs, 99), "ms");
  bench::Report(name + "_tick_interval_min", bench::Percentile(intervalsMs, 0), "ms");
  return true;
}

}  // namespace bench
