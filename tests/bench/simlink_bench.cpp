// The cost of one slow-group exchange: 30 reads queued and sent to korvan-sim in another
// process, results copied back, as the bridge cycle does at phases 1 and 5.
#include <chrono>
#include <cstdint>
#include <cstdio>

#include "simlink/SimLinkClient.h"
#include "tests/bench/bench.h"
#include "tests/support/child_process.h"

namespace {

struct Read {
  std::uint32_t offset, size;
};

constexpr Read kSlowGroup[30] = {
    {0x6010, 8}, {0x6018, 8}, {0x0580, 4}, {0x6030, 8}, {0x6020, 8}, {0x0574, 4},
    {0x02BC, 4}, {0x02C8, 4}, {0x0E8C, 2}, {0x28C8, 8}, {0x2840, 8}, {0x2848, 8},
    {0x0898, 2}, {0x0930, 2}, {0x08C8, 2}, {0x0960, 2}, {0x3B70, 8}, {0x3AB0, 8},
    {0x3B58, 8}, {0x3B60, 8}, {0x3A98, 8}, {0x3AA0, 8}, {0x08C0, 2}, {0x0918, 8},
    {0x0958, 2}, {0x09B0, 8}, {0x08E8, 8}, {0x0980, 8}, {0x0330, 2}, {0x02A0, 2},
};

std::uint8_t Destinations[30][8];

bool SlowExchange() {
  SimResult code = SimOkay;
  for (int i = 0; i < 30; ++i)
    if (!SimLinkRead(kSlowGroup[i].offset, kSlowGroup[i].size, Destinations[i], code)) return false;
  return SimLinkProcess(code);
}

}  // namespace

KORVAN_BENCH(simlink) {
  const std::string runtime = testsupport::MakeTestRuntimeDir("bench");
  bool ok = false;
  {
    testsupport::ChildProcess sim;
    if (!sim.Start(KORVAN_SIM_PATH, {}, {"XDG_RUNTIME_DIR=" + runtime}) ||
        !sim.WaitForLine("korvan-sim ready", 20000)) {
      std::fprintf(stderr, "korvan-bench: korvan-sim did not start %s\n", sim.ErrorText().c_str());
    } else {
      SimResult code = SimOkay;
      if (!SimLinkOpen(0, code)) {
        std::fprintf(stderr, "korvan-bench: link: %s\n", SimResultText[code]);
      } else {
        const int n = context.Iterations(2000);
        std::vector<double> micros;
        micros.reserve(n);
        ok = true;
        for (int i = 0; i < 20 && ok; ++i) ok = SlowExchange();  // warm caches and paths
        for (int i = 0; i < n && ok; ++i) {
          const auto start = std::chrono::steady_clock::now();
          ok = SlowExchange();
          const auto end = std::chrono::steady_clock::now();
          micros.push_back(std::chrono::duration<double, std::micro>(end - start).count());
        }
        if (ok) {
          bench::Report("simlink_exchange_30_reads_median", bench::Median(micros), "us");
          bench::Report("simlink_exchange_30_reads_p99", bench::Percentile(micros, 99), "us");
        } else {
          std::fprintf(stderr, "korvan-bench: an exchange failed\n");
        }
        SimLinkClose();
      }
      ok = sim.Stop() == 0 && ok;
    }
  }
  testsupport::RemoveTree(runtime);
  return ok;
}
