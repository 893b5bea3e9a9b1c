// korvan-bench: the project's measurements, one JSON object per line on standard output:
//   {"name": "...", "value": ..., "unit": "..."}
// Every figure stands beside a floor taken in the same run (the same work done with nothing
// wasted, by a plain program of tests/bench/), interleaved or side by side, so the ratio holds
// on a noisy machine. A measurement is a function registered with KORVAN_BENCH in its own file
// (tests/bench/*.cpp, added to the korvan-bench target by its own CMake fragment). Speed belongs
// here, never in a unit test.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace bench {

struct Context {
  // --seconds S: how long each timed run lasts (default 60).
  int seconds = 60;
  // --iterations N when given, else 0: each measurement then uses its own default.
  int iterations = 0;
  // --windows-bin DIR: the Windows build's programs, for the figures under Wine.
  std::string windowsBin;
  int Iterations(int fallback) const { return iterations > 0 ? iterations : fallback; }
};

// Runs one measurement and reports its results; false (after a line on stderr) when it could
// not measure.
using Function = bool (*)(const Context& context);

struct Registration {
  Registration(const char* name, Function function);
};

#define KORVAN_BENCH(name) KORVAN_BENCH_NAMED(name, #name)

// One run that gives several figures: `names` lists them ("cpu schedule"), so --only finds it by
// any of them.
#define KORVAN_BENCH_NAMED(id, names)                                      \
  static bool id##_bench(const ::bench::Context& context);                 \
  static const ::bench::Registration id##_registration(names, id##_bench); \
  static bool id##_bench(const ::bench::Context& context)

// Prints one result line and flushes it.
void Report(const std::string& name, double value, const char* unit);
// A figure beside its floor: NAME, NAME_floor and NAME_ratio (figure / floor).
void ReportBeside(const std::string& name, double value, double floor, const char* unit);

// The median and the nearest-rank percentile (0 < p <= 100) of `samples`; 0 when empty.
double Median(std::vector<double> samples);
double Percentile(std::vector<double> samples, double p);

// ---- Helpers of the measurements (bench_support.cpp) ----

// The directory of korvan-bench itself, where the build puts every program of the project.
std::string ProgramDir();

// The share of one core (%) each process takes over the next `seconds`, side by side: the
// scheduler's own count of each thread (not clock ticks), read every 100 ms, so that a thread
// that ends meanwhile (a reader restarted, a helper of Wine's) keeps what it used until its
// last reading.
std::vector<double> CpuPercentOver(const std::vector<pid_t>& pids, int seconds);

// The process's peak resident memory (VmHWM) in KiB; 0 when it cannot be read.
long PeakRssKiB(pid_t pid);

// Steady-clock microseconds (Linux: CLOCK_MONOTONIC, the clock korvan-sim logs with).
std::int64_t NowUs();

// Sleeps `ms` milliseconds.
void SleepMs(int ms);

// The share of one core (%) that the conversions and frame fills of efis/ and the reader's
// decode take at the bridge's nominal rates, timed here in a tight loop: with the EFIS
// connected, or (efis false) the conversions alone (conversion_cost.cpp).
double ConversionsPercentOfOneCore(bool efis);

// A display for GTK programs: the caller's DISPLAY, else an Xvfb of its own for as long as the
// object lives (DISPLAY is set for this process and its children).
class Display {
 public:
  Display();
  ~Display();
  bool Ready() const { return ready_; }
  Display(const Display&) = delete;
  Display& operator=(const Display&) = delete;

 private:
  bool ready_ = false;
  pid_t xvfb_ = -1;
};

}  // namespace bench
