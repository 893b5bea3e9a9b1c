#include "platform/posix/posix_clock.h"

#include <time.h>

#include <climits>

#include "platform/clock.h"

namespace platform::posix {

std::uint64_t MonotonicMs() {
  timespec now{};
  // CLOCK_MONOTONIC cannot fail on Linux; a zeroed value would only stall ticks, never crash.
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1000u +
         static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
}

int PollTimeoutUntil(std::uint64_t deadline) {
  const std::uint64_t now = MonotonicMs();
  if (now >= deadline) return 0;
  return deadline - now > INT_MAX ? INT_MAX : static_cast<int>(deadline - now);
}

}  // namespace platform::posix

namespace platform {

std::uint32_t TimeGetTime() {
  return static_cast<std::uint32_t>(posix::MonotonicMs());
}

void BeginFineTimer() {}
void EndFineTimer() {}

int OptOutOfPowerThrottling() {
  return 0;
}

}  // namespace platform
