// korvan-bench's driver: runs every registered measurement, or those whose name contains
// --only TEXT.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "tests/bench/bench.h"

namespace bench {

namespace {

std::vector<std::pair<const char*, Function>>& Registry() {
  static std::vector<std::pair<const char*, Function>> registry;
  return registry;
}

bool PositiveNumber(const char* text, int* out) {
  char* end = nullptr;
  const long n = std::strtol(text, &end, 10);
  if (*end != '\0' || n <= 0 || n > 100000000) return false;
  *out = static_cast<int>(n);
  return true;
}

}  // namespace

Registration::Registration(const char* name, Function function) {
  Registry().emplace_back(name, function);
}

void Report(const std::string& name, double value, const char* unit) {
  std::printf("{\"name\": \"%s\", \"value\": %.3f, \"unit\": \"%s\"}\n", name.c_str(), value, unit);
  std::fflush(stdout);
}

void ReportBeside(const std::string& name, double value, double floor, const char* unit) {
  Report(name, value, unit);
  Report(name + "_floor", floor, unit);
  Report(name + "_ratio", floor > 0 ? value / floor : 0, "x");
}

double Median(std::vector<double> samples) {
  if (samples.empty()) return 0;
  std::sort(samples.begin(), samples.end());
  const std::size_t n = samples.size();
  return n % 2 ? samples[n / 2] : (samples[n / 2 - 1] + samples[n / 2]) / 2;
}

double Percentile(std::vector<double> samples, double p) {
  if (samples.empty()) return 0;
  std::sort(samples.begin(), samples.end());
  const auto rank = static_cast<std::size_t>(std::ceil(p / 100.0 * samples.size()));
  return samples[std::clamp<std::size_t>(rank, 1, samples.size()) - 1];
}

}  // namespace bench

int main(int argc, char** argv) {
  bench::Context context;
  const char* only = nullptr;
  bool list = false;
  for (int i = 1; i < argc; ++i) {
    const bool hasValue = i + 1 < argc;
    if (std::strcmp(argv[i], "--iterations") == 0 && hasValue) {
      if (!bench::PositiveNumber(argv[++i], &context.iterations)) {
        std::fprintf(stderr, "korvan-bench: --iterations needs a positive number\n");
        return 2;
      }
    } else if (std::strcmp(argv[i], "--seconds") == 0 && hasValue) {
      if (!bench::PositiveNumber(argv[++i], &context.seconds)) {
        std::fprintf(stderr, "korvan-bench: --seconds needs a positive number\n");
        return 2;
      }
    } else if (std::strcmp(argv[i], "--windows-bin") == 0 && hasValue) {
      context.windowsBin = argv[++i];
    } else if (std::strcmp(argv[i], "--only") == 0 && hasValue) {
      only = argv[++i];
    } else if (std::strcmp(argv[i], "--list") == 0) {
      list = true;
    } else {
      std::fprintf(stderr,
                   "Usage: korvan-bench [--seconds S] [--iterations N] [--only TEXT] [--list]\n"
                   "                    [--windows-bin DIR]\n"
                   "Runs the measurements and prints one JSON object per result line, each\n"
                   "figure beside its floor. --seconds: each timed run (default 60);\n"
                   "--iterations: samples of each timed call; --windows-bin: the Windows\n"
                   "build's bin directory, for the figures under Wine.\n");
      return std::strcmp(argv[i], "--help") == 0 ? 0 : 2;
    }
  }
  int ran = 0, failed = 0;
  for (const auto& [name, function] : bench::Registry()) {
    if (only != nullptr && std::strstr(name, only) == nullptr) continue;
    if (list) {
      std::printf("%s\n", name);
      continue;
    }
    ++ran;
    // How busy the machine was going in: the figures of a shared machine need it beside them.
    double load = 0;
    if (std::FILE* in = std::fopen("/proc/loadavg", "r")) {
      if (std::fscanf(in, "%lf", &load) != 1) load = 0;
      std::fclose(in);
    }
    std::string label = std::string("load_average_before_") + name;
    std::replace(label.begin(), label.end(), ' ', '_');
    bench::Report(label, load, "runnable");
    if (!function(context)) {
      std::fprintf(stderr, "korvan-bench: %s failed\n", name);
      ++failed;
    }
  }
  if (!list && ran == 0) {
    std::fprintf(stderr, "korvan-bench: no measurement matches\n");
    return 1;
  }
  return failed == 0 ? 0 : 1;
}
