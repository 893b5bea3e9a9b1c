#include <time.h>

#include "platform/clock.h"

namespace platform {

std::uint32_t TimeGetTime() {
  timespec now{};
  // CLOCK_MONOTONIC cannot fail on Linux; a zeroed value would only stall ticks, never crash.
  clock_gettime(CLOCK_MONOTONIC, &now);
  const std::uint64_t ms = static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                           static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
  return static_cast<std::uint32_t>(ms);
}

void BeginFineTimer() {}
void EndFineTimer() {}

}  // namespace platform
