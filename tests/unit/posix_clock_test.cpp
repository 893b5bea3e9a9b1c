// The POSIX clock is CLOCK_MONOTONIC in milliseconds, cut to 32 bits.
#include <gtest/gtest.h>
#include <time.h>

#include <cstdint>

#include "platform/clock.h"

namespace {

std::uint32_t MonotonicMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint32_t>(static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                                    static_cast<std::uint64_t>(now.tv_nsec / 1000000));
}

TEST(PosixClock, ReadsTheMonotonicClockInMilliseconds) {
  for (int i = 0; i < 1000; ++i) {
    const std::uint32_t before = MonotonicMs();
    const std::uint32_t clock = platform::TimeGetTime();
    const std::uint32_t after = MonotonicMs();
    // Differences modulo 2^32, as every user of the clock takes them.
    ASSERT_LE(static_cast<std::uint32_t>(clock - before),
              static_cast<std::uint32_t>(after - before));
  }
}

}  // namespace
