// Fuzz target of korvan-sim's record walk. The input is the shared area itself (any length up
// to 64 KiB); its first byte also picks the hostile rewrite modes. Checks, beyond the address
// sanitizer: an accepted batch keeps every header byte, a refused one keeps every byte.
//
// Built with clang -fsanitize=fuzzer the libFuzzer entry point is used as is; with g++ the
// driver below replays the corpus and then runs seeded random and structured inputs.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

#include "standins/sim/sim_exchange.h"
#include "standins/sim/sim_rewrite.h"
#include "standins/sim/sim_space.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using fuzzsupport::Check;
using fuzzsupport::Get32;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > sim::kSpaceSize) return 0;
  static bool loaded = false;
  if (!loaded) sim::LoadFixedState(sim::kDefaultVersion, sim::kDefaultSimId), loaded = true;
  // An area of exactly the input's size on the heap: any access past it is caught.
  std::vector<std::uint8_t> area(data, data + size);
  const std::vector<std::uint8_t> original = area;
  const auto result =
      sim::RunExchange(area.data(), static_cast<std::uint32_t>(size), nullptr, nullptr);
  if (!result.accepted) {
    Check(area == original, "a refused batch changed the area");
    return 0;
  }
  Check(result.length < size, "accepted batch without room for its terminator");
  for (std::uint32_t at = 0; at < result.length;) {
    const std::uint32_t id = Get32(&area[at]);
    const std::uint32_t header = id == sim::kReadRecordId ? 16 : 12;
    Check(std::memcmp(&area[at], &original[at], header) == 0, "a record header changed");
    at += header + Get32(&area[at + 8]);
  }
  Check(std::memcmp(&area[result.length], &original[result.length], size - result.length) == 0,
        "bytes after the terminator changed");
  char what[256];
  const unsigned modes = size > 0 ? data[0] & sim::kRewriteAll : 0;
  sim::RewriteArea(area.data(), static_cast<std::uint32_t>(size), result.length, modes, size, what,
                   sizeof what);
  return 0;
}

#ifndef KORVAN_LIBFUZZER
namespace {

// A well-formed batch of random records, then a few random byte changes.
std::vector<std::uint8_t> Structured(std::mt19937_64& rng) {
  std::vector<std::uint8_t> area;
  auto put = [&](std::uint32_t v) {
    for (int i = 0; i < 4; ++i) area.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  };
  const int records = static_cast<int>(rng() % 40);
  for (int r = 0; r < records; ++r) {
    const bool read = rng() % 2;
    const std::uint32_t size = rng() % 4 == 0 ? static_cast<std::uint32_t>(rng() % 600) : rng() % 9;
    put(read ? 1 : 2);
    put(rng() % 3 == 0 ? static_cast<std::uint32_t>(rng())
                       : static_cast<std::uint32_t>(rng() % 0x10008));
    put(size);
    if (read) put(static_cast<std::uint32_t>(rng()));
    for (std::uint32_t i = 0; i < size; ++i) area.push_back(static_cast<std::uint8_t>(rng()));
  }
  if (rng() % 8 != 0) put(0);
  area.resize(area.size() + rng() % 64);
  for (int flips = static_cast<int>(rng() % 4); flips > 0 && !area.empty(); --flips)
    area[rng() % area.size()] = static_cast<std::uint8_t>(rng());
  return area;
}

}  // namespace

int main(int argc, char** argv) {
  long iterations = 20000;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--iterations") == 0 && i + 1 < argc) {
      iterations = std::strtol(argv[++i], nullptr, 10);
      continue;
    }
    if (std::strcmp(argv[i], "--max-len") == 0 && i + 1 < argc) {
      ++i;  // the structured inputs below have their own sizes
      continue;
    }
    // A corpus directory or file: replay every input.
    std::error_code error;
    std::vector<std::filesystem::path> inputs;
    if (std::filesystem::is_directory(argv[i], error)) {
      for (const auto& entry : std::filesystem::directory_iterator(argv[i], error))
        inputs.push_back(entry.path());
    } else {
      inputs.emplace_back(argv[i]);
    }
    for (const auto& path : inputs) {
      std::ifstream in(path, std::ios::binary);
      const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                            std::istreambuf_iterator<char>());
      LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    }
    std::printf("replayed %zu inputs from %s\n", inputs.size(), argv[i]);
  }
  std::mt19937_64 rng(20261208);
  for (long i = 0; i < iterations; ++i) {
    std::vector<std::uint8_t> input;
    if (i % 4 == 0) {
      input.resize(rng() % 256);
      for (auto& b : input) b = static_cast<std::uint8_t>(rng() % 3 == 0 ? rng() : rng() % 3);
    } else {
      input = Structured(rng);
    }
    LLVMFuzzerTestOneInput(input.data(), input.size());
  }
  std::printf("ran %ld generated inputs\n", iterations);
  return 0;
}
#endif
