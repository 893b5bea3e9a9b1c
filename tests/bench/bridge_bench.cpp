// The bridge's own cost while it runs connected to korvan-sim and korvan-efis: the share of one
// core the whole loop takes, and how evenly the frame timer's ticks come. The window is the
// headless one, so the numbers are the cycle, the link, the frames and the loop's waits.
// --iterations N runs N seconds instead of 60.
#include <chrono>
#include <cstdio>
#include <ctime>
#include <vector>

#include "app/Unit1.h"
#include "efis/FrameMath.h"
#include "platform/null/null_toolkit.h"
#include "simlink/SimLinkClient.h"
#include "tests/bench/bench.h"
#include "tests/support/child_process.h"

namespace {

using Clock = std::chrono::steady_clock;

std::vector<double> TickIntervalsMs;
Clock::time_point LastTick;
bool TickSeen;

bool StartStandIns(testsupport::ChildProcess& sim, testsupport::ChildProcess& efis,
                   const std::string& runtime) {
  const std::vector<std::string> env = {"XDG_RUNTIME_DIR=" + runtime};
  if (!sim.Start(KORVAN_SIM_PATH, {}, env) || !sim.WaitForLine("korvan-sim ready", 20000)) {
    std::fprintf(stderr, "korvan-bench: korvan-sim did not start %s\n", sim.ErrorText().c_str());
    return false;
  }
  if (!efis.Start(KORVAN_EFIS_PATH, {}, env) || !efis.WaitForLine("korvan-efis ready", 20000)) {
    std::fprintf(stderr, "korvan-bench: korvan-efis did not start %s\n", efis.ErrorText().c_str());
    return false;
  }
  return true;
}

}  // namespace

KORVAN_BENCH(bridge) {
  const std::string runtime = testsupport::MakeTestRuntimeDir("bench-bridge");
  testsupport::ChildProcess sim, efis;
  SetExtendedPrecision();  // the cycle converts on this thread
  if (!StartStandIns(sim, efis, runtime)) return false;

  Application->Title = "Korvan EFIS to Flightsim bridge";
  Form1 = new TForm1(Application);
  Application->CreateForm(Form1, [](TForm& form) { static_cast<TForm1&>(form).CreateDesign(); });
  if (!SimConnected) {
    std::fprintf(stderr, "korvan-bench: the bridge did not connect to korvan-sim\n");
    return false;
  }
  // Time each tick on its way into the cycle.
  Form1->FrameTimer1->OnTimer = [](TObject* sender, std::int32_t lag) {
    const Clock::time_point now = Clock::now();
    if (TickSeen)
      TickIntervalsMs.push_back(std::chrono::duration<double, std::milli>(now - LastTick).count());
    LastTick = now;
    TickSeen = true;
    Form1->FrameTimer1Timer(sender, lag);
  };

  const int seconds = context.Iterations(60);
  TickIntervalsMs.reserve(static_cast<std::size_t>(seconds) * 25);
  const std::clock_t cpuStart = std::clock();
  const Clock::time_point wallStart = Clock::now();
  NullToolkitRunFor(static_cast<std::uint32_t>(seconds) * 1000);
  const double cpu = static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
  const double wall = std::chrono::duration<double>(Clock::now() - wallStart).count();

  const bool ok = SimConnected && TickIntervalsMs.size() > 2;
  if (!ok) std::fprintf(stderr, "korvan-bench: the bridge lost its link or did not tick\n");
  NullToolkitReset();
  Form1 = nullptr;
  SimLinkClose();
  efis.Stop();
  sim.Stop();
  testsupport::RemoveTree(runtime);
  if (!ok) return false;

  bench::Report("bridge_cpu_percent_of_one_core", 100.0 * cpu / wall, "%");
  bench::Report("bridge_tick_interval_median", bench::Median(TickIntervalsMs), "ms");
  bench::Report("bridge_tick_interval_p99", bench::Percentile(TickIntervalsMs, 99), "ms");
  bench::Report("bridge_ticks", static_cast<double>(TickIntervalsMs.size() + 1), "ticks");
  return true;
}
