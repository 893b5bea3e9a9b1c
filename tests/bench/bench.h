// korvan-bench: the project's measurements, one JSON object per line on standard output:
//   {"name": "...", "value": ..., "unit": "..."}
// A measurement is a function registered with KORVAN_BENCH in its own file (tests/bench/*.cpp,
// added to the korvan-bench target by its own CMake fragment). Speed belongs here, never in a
// unit test.
#pragma once

#include <string>
#include <vector>

namespace bench {

struct Context {
  // --iterations N when given, else 0: each measurement then uses its own default.
  int iterations = 0;
  int Iterations(int fallback) const { return iterations > 0 ? iterations : fallback; }
};

// Runs one measurement and reports its results; false (after a line on stderr) when it could
// not measure.
using Function = bool (*)(const Context& context);

struct Registration {
  Registration(const char* name, Function function);
};

#define KORVAN_BENCH(name)                                                     \
  static bool name##_bench(const ::bench::Context& context);                   \
  static const ::bench::Registration name##_registration(#name, name##_bench); \
  static bool name##_bench(const ::bench::Context& context)

// Prints one result line and flushes it.
void Report(const std::string& name, double value, const char* unit);

// The median and the nearest-rank percentile (0 < p <= 100) of `samples`; 0 when empty.
double Median(std::vector<double> samples);
double Percentile(std::vector<double> samples, double p);

}  // namespace bench
