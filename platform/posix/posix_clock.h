// The POSIX backend's one clock: CLOCK_MONOTONIC in milliseconds. TimeGetTime of
// platform/clock.h is its low 32 bits; every deadline of the backend is counted on it.
// Any thread; never blocks, never fails.
#pragma once

#include <cstdint>

namespace platform::posix {

// Milliseconds since an arbitrary start (the machine's boot), never going back. 64 bits: a
// deadline never wraps.
std::uint64_t MonotonicMs();

// The milliseconds from now to `deadline` (a MonotonicMs value) as poll() takes them: 0 once it
// has passed, at most INT_MAX, so a far deadline never turns into a negative, endless wait.
int PollTimeoutUntil(std::uint64_t deadline);

}  // namespace platform::posix
