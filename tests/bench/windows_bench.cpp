// The Windows build under Wine: korvan-bridge.exe and work-win32-window.exe (work_floor.h, the
// floor that does the bridge's work) in turn, each between korvan-sim.exe and korvan-efis.exe
// with its autopilot engaged, then both again with no EFIS (the floor's form without one);
// bare-win32-window.exe, the same window with a 50 ms timer that does nothing, runs beside each,
// all under the same Wine session over the same --seconds, so Wine's round trips belong to both
// sides. For each program:
//   the share of one core it takes and the bare window beside it (Wine's own wineserver is
//   counted for neither); the bridge beside the work floor with the conversions it leaves out
//   (timed on Linux) added;
//   exchanges a minute, and the intervals between exchanges one tick apart, from korvan-sim.exe's
//   exchange log (phases 1-2, 4-5, 5-6 and 0-1 of the ten: the ticks that both exchange), and
//   frames a minute from korvan-efis.exe's record.
// The order (bridge, floor, floor, bridge) cancels a load that rises or falls steadily.
// korvan-efis.exe is stopped by a Ctrl-C, so that its device registration goes with it. The
// programs come from --windows-bin DIR (default: build/windows/bin of the source tree); the
// measurement is skipped, with a line on stderr, when they are not there.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "tests/bench/bench.h"
#include "tests/bench/wine_schedule.h"
#include "tests/support/child_process.h"

namespace {

using testsupport::ChildProcess;

bool Exists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0;
}

// The Linux process that runs `exe` under Wine: the child itself, as wine-run.sh and Wine's
// loader take its process over (never another run's, of another work tree, on the same machine).
// 0 while it is not yet that program.
pid_t WineProcessOf(ChildProcess& child, const std::string& exe) {
  const pid_t pid = static_cast<pid_t>(child.ProcessId());
  std::ifstream in("/proc/" + std::to_string(pid) + "/cmdline", std::ios::binary);
  const std::string cmdline((std::istreambuf_iterator<char>(in)), {});
  const bool runsExe =
      cmdline.find(exe) != std::string::npos && cmdline.find("wine-run.sh") == std::string::npos;
  return child.Running() && runsExe ? pid : 0;
}

bool StartUnderWine(ChildProcess& child, const std::string& exe,
                    const std::vector<std::string>& args) {
  std::vector<std::string> all = {std::string(KORVAN_SOURCE_DIR) + "/tests/wine/wine-run.sh", exe};
  all.insert(all.end(), args.begin(), args.end());
  // The figures of the README were taken with each window on the X server, not in a Wine
  // desktop: the same here, whatever the tests' session does.
  return child.Start("/bin/bash", all, {"KORVAN_WINE_DESKTOP=none"});
}

// The frames a minute of each session of the write pipe (from its open to its close) in
// korvan-efis.exe's record, on the unit's own clock.
std::vector<double> FramesPerMinuteOfSessions(const std::string& recordPath) {
  std::vector<double> rates;
  std::ifstream in(recordPath);
  std::string line;
  long long opened = -1;
  long frames = 0;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    long long ms;
    std::string what, channel;
    if (!(fields >> ms >> what)) continue;
    fields >> channel;
    if (what == "frame" && opened >= 0) ++frames;
    if (what == "open" && channel == "PIPE01") opened = ms, frames = 0;
    if (what == "close" && channel == "PIPE01" && opened >= 0 && ms > opened) {
      rates.push_back(frames * 60000.0 / static_cast<double>(ms - opened));
      opened = -1;
    }
  }
  return rates;
}

struct Setting {
  std::string bin, runtime;
  pid_t bare = 0;
  int seconds = 60;
};

// One program between a korvan-sim.exe of its own and the unit: its CPU beside the bare
// window's, and its schedule. `cpu` gets the program's share, `bareCpu` the bare window's.
bool RunProgram(const Setting& setting, const std::string& name, const std::string& exe,
                const std::vector<std::string>& args, double& cpu, double& bareCpu) {
  const std::string logPath = setting.runtime + "/" + name + ".exchanges.log";
  ChildProcess sim, program;
  if (!StartUnderWine(sim, setting.bin + "/korvan-sim.exe", {"--exchange-log", "Z:" + logPath}) ||
      !sim.WaitForLine("korvan-sim ready", 120000) ||
      !StartUnderWine(program, setting.bin + "/" + exe, args)) {
    std::fprintf(stderr, "korvan-bench: %s: cannot start it under Wine\n", name.c_str());
    return false;
  }
  bench::SleepMs(5000);  // the window up, connected and ticking
  const pid_t pid = WineProcessOf(program, exe);
  if (pid == 0 || !program.Running()) {
    std::fprintf(stderr, "korvan-bench: %s: its Wine process was not found\n", name.c_str());
    return false;
  }
  const long long from = bench::NowUs();
  const std::vector<double> shares = bench::CpuPercentOver({pid, setting.bare}, setting.seconds);
  const long long span = bench::NowUs() - from;
  cpu = shares[0];
  bareCpu = shares[1];
  const bool ran = program.Running();
  program.Stop();
  sim.Stop(20000);  // its log is complete once it has stopped
  bench::ReportBeside(name + "_cpu_percent_of_one_core", cpu, bareCpu, "%");
  return bench::ReportExchangeSchedule(name, logPath, span) && ran;
}

// The bridge, then the floor, or the other way round; the bridge beside the floor.
bool RunPair(const Setting& setting, const char* form, bool efis, bool bridgeFirst) {
  const std::string prefix = std::string("windows_") + form;
  const std::vector<std::string> floorArgs =
      efis ? std::vector<std::string>{} : std::vector<std::string>{"--no-efis"};
  double bridge = 0, floor = 0, bare = 0;
  bool ok = true;
  for (int turn = 0; turn < 2; ++turn) {
    if ((turn == 0) == bridgeFirst) {
      ok = RunProgram(setting, prefix, "korvan-bridge.exe", {}, bridge, bare) && ok;
    } else {
      ok = RunProgram(setting, prefix + "_work_floor", "work-win32-window.exe", floorArgs, floor,
                      bare) &&
           ok;
    }
  }
  const double conversions = bench::ConversionsPercentOfOneCore(efis);
  bench::Report(prefix + "_conversions_percent_of_one_core", conversions, "%");
  bench::ReportBeside(prefix + "_beside_work_floor", bridge, floor + conversions, "%");
  return ok;
}

// Ctrl-C, and its last line: only a unit that stopped so has removed its registration.
bool StopUnit(ChildProcess& efis) {
  efis.RequestStop(testsupport::StopKind::Interrupt);
  const bool stopped = efis.WaitForLine("korvan-efis stopped", 30000) && efis.WaitForExit(30000);
  if (!stopped) std::fprintf(stderr, "korvan-bench: korvan-efis.exe did not stop on Ctrl-C\n");
  efis.Stop();
  return stopped;
}

bool RunConnectedThenAlone(Setting& setting) {
  const std::string recordPath = setting.runtime + "/efis.rec";
  ChildProcess efis;
  if (!StartUnderWine(efis, setting.bin + "/korvan-efis.exe",
                      {"--panel", "none", "--record", "Z:" + recordPath, "--bank-mode", "3",
                       "--pitch-mode", "3", "--bank-pos", "5600", "--pitch-pos", "7700"}) ||
      !efis.WaitForLine("korvan-efis ready", 120000)) {
    std::fprintf(stderr, "korvan-bench: korvan-efis.exe did not start under Wine\n");
    return false;
  }
  bool ok = RunPair(setting, "connected", true, true);
  ok = StopUnit(efis) && ok;
  const std::vector<double> frames = FramesPerMinuteOfSessions(recordPath);
  if (frames.size() == 2) {
    bench::ReportBeside("windows_connected_frames_per_minute", frames[0], frames[1], "frames");
  } else {
    std::fprintf(stderr, "korvan-bench: korvan-efis.exe recorded %zu sessions, not 2\n",
                 frames.size());
    ok = false;
  }
  return RunPair(setting, "no_efis", false, false) && ok;
}

}  // namespace

KORVAN_BENCH(windows) {
  Setting setting;
  setting.bin = context.windowsBin.empty() ? std::string(KORVAN_SOURCE_DIR) + "/build/windows/bin"
                                           : context.windowsBin;
  setting.seconds = context.seconds;
  for (const char* exe : {"korvan-sim.exe", "korvan-efis.exe", "korvan-bridge.exe",
                          "bare-win32-window.exe", "work-win32-window.exe"}) {
    if (Exists(setting.bin + "/" + exe)) continue;
    std::fprintf(stderr, "korvan-bench: windows: no %s in %s; skipped\n", exe, setting.bin.c_str());
    return true;
  }
  setting.runtime = testsupport::MakeTestRuntimeDir("bench-windows");
  bool ok = false;
  {
    ChildProcess bare;
    if (!StartUnderWine(bare, setting.bin + "/bare-win32-window.exe", {})) {
      std::fprintf(stderr, "korvan-bench: cannot start bare-win32-window.exe under Wine\n");
    } else {
      // A first run may start the Wine session.
      for (int waited = 0; setting.bare == 0 && waited < 120 && bare.Running(); ++waited) {
        bench::SleepMs(1000);
        setting.bare = WineProcessOf(bare, "bare-win32-window.exe");
      }
      if (setting.bare == 0)
        std::fprintf(stderr, "korvan-bench: bare-win32-window.exe did not run\n");
      ok = setting.bare != 0 && RunConnectedThenAlone(setting);
    }
  }
  testsupport::RemoveTree(setting.runtime);
  return ok;
}
