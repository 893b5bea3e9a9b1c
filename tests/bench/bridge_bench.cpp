// The real korvan-bridge (GTK, under Xvfb when there is no display) beside two floors, all
// running over the same --seconds (60): bare-gtk-window, a GTK window with the same widgets and
// a 50 ms timer that does nothing, and work-gtk-window (work_floor.h), the same window doing the
// bridge's work by hand between stand-ins of its own (its own namespace root), the conversions it
// leaves out timed apart and added to it:
//   cpu       the share of one core each takes: connected to korvan-sim and korvan-efis (its
//             autopilot engaged), with no EFIS (beside the floor's form without one), and with
//             no simulator (korvan-efis sending its servo frames); with the exchanges and frames
//             a minute each side made, which show that the floor did the same work;
//   schedule  exchanges a minute from korvan-sim's exchange log; ticks a minute and their
//             intervals from bridge-ticks, the same bridge with its ticks timed as they come
//             (a run of its own, between both stand-ins), on the steady clock and on the frame
//             timer's own millisecond clock;
//   latency   korvan-sim's bank steps every 347 ms: from a step to the first attitude frame
//             carrying it in korvan-efis's record, beside the fast group's 100 ms spacing;
//   rss       the peak resident memory of each.
#include <sys/stat.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/bench/bench.h"
#include "tests/bench/stand_in_logs.h"
#include "tests/support/child_process.h"

namespace {

using testsupport::ChildProcess;
using testsupport::Stream;

constexpr int kBankStepMs = 347;  // shares no short period with the 50 ms ticks

struct Scenario {
  const char* name;
  bool sim;
  bool efis;
  bool latency = false;  // korvan-sim steps its bank
};

// One program between stand-ins of its own, in the namespace root under `runtime`.
struct Side {
  std::string runtime;
  std::vector<std::string> env;  // XDG_RUNTIME_DIR for its processes
  ChildProcess sim, efis, program;
  std::string ExchangeLog() const { return runtime + "/exchanges.log"; }
  std::string Record() const { return runtime + "/efis.rec"; }
};

bool ReportLatency(const ChildProcess& sim, const std::string& recordPath, std::int64_t from,
                   std::int64_t to) {
  long long stepsFrom = -1;
  for (const std::string& line : sim.Lines()) {
    unsigned ms;
    if (std::sscanf(line.c_str(), "bank steps every %u ms from %lld us", &ms, &stepsFrom) == 2)
      break;
  }
  const std::vector<bench::Attitude> frames = bench::ReadAttitudes(recordPath);
  std::vector<double> latencyMs;
  for (long k = 1;; ++k) {
    const std::int64_t stepUs = stepsFrom + k * kBankStepMs * 1000LL;
    if (stepUs > to - 1000000) break;
    if (stepUs < from) continue;
    const int tenths = 10 * static_cast<int>(1 + k % 20);
    for (const bench::Attitude& frame : frames) {
      // A record's time is the millisecond it fell in: its middle stands for it.
      const std::int64_t frameUs = frame.ms * 1000 + 500;
      if (frameUs + 500 < stepUs || std::abs(frame.bankTenths) != tenths) continue;
      latencyMs.push_back((frameUs - stepUs) / 1000.0);
      break;
    }
  }
  if (stepsFrom < 0 || latencyMs.empty()) {
    std::fprintf(stderr, "korvan-bench: no bank step reached korvan-efis\n");
    return false;
  }
  bench::Report("latency_bank_to_efis_median", bench::Median(latencyMs), "ms");
  bench::Report("latency_bank_to_efis_p99", bench::Percentile(latencyMs, 99), "ms");
  bench::Report("latency_bank_to_efis_max", bench::Percentile(latencyMs, 100), "ms");
  bench::Report("latency_bound_fast_group_spacing", 100, "ms");
  bench::Report("latency_samples", static_cast<double>(latencyMs.size()), "steps");
  return true;
}

// korvan-sim logging its exchanges, and korvan-efis recording its frames with its autopilot
// engaged on both servos (commands 4096 and -2048, as the screenshots show).
bool StartStandIns(const Scenario& scenario, Side& side) {
  const std::string bin = bench::ProgramDir();
  std::vector<std::string> simArgs = {"--exchange-log", side.ExchangeLog()};
  if (scenario.latency) {
    simArgs.insert(simArgs.end(), {"--step-bank", std::to_string(kBankStepMs)});
  }
  if (scenario.sim && (!side.sim.Start(bin + "/korvan-sim", simArgs, side.env) ||
                       !side.sim.WaitForLine("korvan-sim ready", 20000))) {
    std::fprintf(stderr, "korvan-bench: korvan-sim did not start %s\n",
                 side.sim.ErrorText().c_str());
    return false;
  }
  const std::vector<std::string> efisArgs = {"--panel",     "none", "--record",     side.Record(),
                                             "--bank-mode", "3",    "--pitch-mode", "3",
                                             "--bank-pos",  "5600", "--pitch-pos",  "7700"};
  if (scenario.efis && (!side.efis.Start(bin + "/korvan-efis", efisArgs, side.env) ||
                        !side.efis.WaitForLine("korvan-efis ready", 20000))) {
    std::fprintf(stderr, "korvan-bench: korvan-efis did not start %s\n",
                 side.efis.ErrorText().c_str());
    return false;
  }
  return true;
}

// The bridge's log says how its start went; its second line is the EFIS's first. The work
// floor says when it is connected.
bool StartPrograms(const Scenario& scenario, Side& bridge, Side& work, ChildProcess& bare) {
  const std::string bin = bench::ProgramDir();
  const std::vector<std::string> workArgs =
      scenario.efis ? std::vector<std::string>{} : std::vector<std::string>{"--no-efis"};
  if (!bare.Start(bin + "/bare-gtk-window", {}) ||
      !bridge.program.Start(bin + "/korvan-bridge", {}, bridge.env) ||
      (scenario.sim && !work.program.Start(bin + "/work-gtk-window", workArgs, work.env))) {
    std::fprintf(stderr, "korvan-bench: cannot start the bridge or its floors\n");
    return false;
  }
  const char* simLine = scenario.sim ? "Connected to" : "Cannot connect to Flight Simulator";
  const char* efisLine = scenario.efis ? "EFIS data write channel OK" : "EFIS";
  if (!bridge.program.WaitForLine(simLine, 30000, Stream::Err) ||
      !bridge.program.WaitForLine(efisLine, 30000, Stream::Err)) {
    std::fprintf(stderr, "korvan-bench: korvan-bridge did not start as expected\n");
    return false;
  }
  if (scenario.sim && !work.program.WaitForLine("work floor ready", 30000)) {
    std::fprintf(stderr, "korvan-bench: work-gtk-window did not start\n");
    return false;
  }
  bench::SleepMs(2000);  // the windows up and settled
  return bridge.program.Running() && bare.Running() && (!scenario.sim || work.program.Running());
}

// The bridge beside the floor that does its work (and the conversions it leaves out), and the
// work each side did: the exchanges and frames a minute.
bool ReportBesideWork(const Scenario& scenario, const Side& bridge, const Side& work,
                      double bridgeCpu, double workCpu, std::int64_t from, std::int64_t to) {
  const std::string name = std::string("cpu_") + scenario.name;
  const double conversions = bench::ConversionsPercentOfOneCore(scenario.efis);
  bench::Report(name + "_work_floor_percent_of_one_core", workCpu, "%");
  bench::Report(name + "_conversions_percent_of_one_core", conversions, "%");
  bench::ReportBeside(name + "_beside_work_floor", bridgeCpu, workCpu + conversions, "%");
  const double exchanges = bench::ExchangesPerMinute(work.ExchangeLog(), from, to);
  bench::ReportBeside(name + "_exchanges_per_minute",
                      bench::ExchangesPerMinute(bridge.ExchangeLog(), from, to), exchanges,
                      "exchanges");
  double frames = 1;
  if (scenario.efis) {
    frames = bench::FramesPerMinute(work.Record(), from, to);
    bench::ReportBeside(name + "_frames_per_minute",
                        bench::FramesPerMinute(bridge.Record(), from, to), frames, "frames");
  }
  if (exchanges <= 0 || frames <= 0) {
    std::fprintf(stderr, "korvan-bench: the work floor did not work\n");
    return false;
  }
  return true;
}

// Each side's processes stopped, the stand-ins last: their logs are complete once they have.
void StopSide(Side& side) {
  side.program.Stop();
  side.efis.Stop();
  side.sim.Stop();
}

// The share of one core of the bridge and its floors over the run, and what goes with it.
bool Measure(const bench::Context& context, const Scenario& scenario, Side& bridge, Side& work,
             ChildProcess& bare) {
  std::vector<pid_t> pids = {static_cast<pid_t>(bridge.program.ProcessId()),
                             static_cast<pid_t>(bare.ProcessId())};
  if (scenario.sim) pids.push_back(static_cast<pid_t>(work.program.ProcessId()));
  const std::int64_t from = bench::NowUs();
  const std::vector<double> cpu = bench::CpuPercentOver(pids, context.seconds);
  const std::int64_t to = bench::NowUs();
  bench::ReportBeside(std::string("cpu_") + scenario.name + "_percent_of_one_core", cpu[0], cpu[1],
                      "%");
  if (scenario.sim && scenario.efis) {
    bench::ReportBeside("rss_peak", bench::PeakRssKiB(pids[0]) / 1024.0,
                        bench::PeakRssKiB(pids[1]) / 1024.0, "MiB");
  }
  bool ok = bridge.program.Running() && (!scenario.sim || work.program.Running());
  bare.Stop();
  StopSide(bridge);
  StopSide(work);
  if (ok && scenario.sim) ok = ReportBesideWork(scenario, bridge, work, cpu[0], cpu[2], from, to);
  if (ok && scenario.latency) {
    const double exchanges = bench::ExchangesPerMinute(bridge.ExchangeLog(), from, to);
    bench::Report("schedule_exchanges_per_minute", exchanges, "exchanges");
    bench::Report("schedule_exchanges_per_minute_nominal", 840, "exchanges");
    ok = ReportLatency(bridge.sim, bridge.Record(), from, to);
  }
  return ok;
}

bool RunScenario(const bench::Context& context, const Scenario& scenario) {
  const std::string runtime = testsupport::MakeTestRuntimeDir("bench-bridge");
  bool ok = false;
  {
    Side bridge, work;
    ChildProcess bare;
    bridge.runtime = runtime;
    bridge.env = {"XDG_RUNTIME_DIR=" + runtime};
    work.runtime = runtime + "/work-floor";
    work.env = {"XDG_RUNTIME_DIR=" + work.runtime};
    ok = mkdir(work.runtime.c_str(), 0700) == 0 && StartStandIns(scenario, bridge) &&
         (!scenario.sim || StartStandIns(scenario, work)) &&
         StartPrograms(scenario, bridge, work, bare) &&
         Measure(context, scenario, bridge, work, bare);
  }
  testsupport::RemoveTree(runtime);
  return ok;
}

// The ticks of bridge-ticks (the bridge with its ticks timed) between both stand-ins.
bool RunSchedule(const bench::Context& context) {
  const std::string runtime = testsupport::MakeTestRuntimeDir("bench-schedule");
  std::vector<double> intervalsMs, clockIntervalsMs;
  double spanUs = 0;
  {
    Side side;
    side.runtime = runtime;
    side.env = {"XDG_RUNTIME_DIR=" + runtime};
    ChildProcess& bridge = side.program;
    if (StartStandIns({"schedule", true, true}, side) &&
        bridge.Start(bench::ProgramDir() + "/bridge-ticks", {std::to_string(context.seconds)}) &&
        bridge.WaitForExit((context.seconds + 60) * 1000)) {
      long long previous = -1, first = -1;
      unsigned previousMs = 0;
      for (const std::string& line : bridge.Lines()) {
        long long us;
        unsigned ms;
        if (std::sscanf(line.c_str(), "tick %lld %u", &us, &ms) != 2) continue;
        if (previous >= 0) {
          intervalsMs.push_back((us - previous) / 1000.0);
          clockIntervalsMs.push_back(static_cast<std::uint32_t>(ms - previousMs));
        }
        previousMs = ms;
        if (first < 0) first = us;
        previous = us;
      }
      spanUs = static_cast<double>(previous - first);
    }
  }
  testsupport::RemoveTree(runtime);
  if (intervalsMs.size() < 2 || spanUs <= 0) {
    std::fprintf(stderr, "korvan-bench: bridge-ticks did not tick\n");
    return false;
  }
  bench::Report("schedule_ticks_per_minute", intervalsMs.size() * 60e6 / spanUs, "ticks");
  bench::Report("schedule_ticks_per_minute_nominal", 1200, "ticks");
  bench::Report("schedule_tick_interval_min", bench::Percentile(intervalsMs, 0), "ms");
  bench::Report("schedule_tick_interval_median", bench::Median(intervalsMs), "ms");
  bench::Report("schedule_tick_interval_p99", bench::Percentile(intervalsMs, 99), "ms");
  bench::Report("schedule_tick_interval_max", bench::Percentile(intervalsMs, 100), "ms");
  long shorter = 0;
  for (double ms : intervalsMs) shorter += ms < 50 ? 1 : 0;
  bench::Report("schedule_tick_intervals_under_50ms", 100.0 * shorter / intervalsMs.size(), "%");
  // The same intervals on the frame timer's own millisecond clock, which decides each tick: a
  // tick read late within its millisecond and the next early in its own are under 50 ms apart
  // on the steady clock, never on this one.
  bench::Report("schedule_tick_interval_min_timer_clock", bench::Percentile(clockIntervalsMs, 0),
                "ms");
  bench::Report("schedule_tick_interval_nominal", 50, "ms");
  return true;
}

}  // namespace

KORVAN_BENCH(schedule) {
  bench::Display display;
  return display.Ready() && RunSchedule(context);
}

KORVAN_BENCH_NAMED(bridge, "cpu latency rss") {
  bench::Display display;
  if (!display.Ready()) return false;
  const Scenario scenarios[] = {
      {"connected", true, true, true}, {"no_efis", true, false}, {"no_sim", false, true}};
  bool ok = true;
  for (const Scenario& scenario : scenarios) ok = RunScenario(context, scenario) && ok;
  return ok;
}
