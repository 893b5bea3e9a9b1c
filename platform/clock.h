// The millisecond clock of the frame timer, and the scheduler precision the message loop needs
// to wait for a tick to the millisecond. Each declaration says what it returns, its errors,
// threads and waits as platform/ipc.h lays out; nothing here fails.
#pragma once

#include <cstdint>

namespace platform {

// timeGetTime: milliseconds since an arbitrary start, wrapping modulo 2^32 (about every 49.7
// days); callers take differences modulo 2^32. POSIX: CLOCK_MONOTONIC in milliseconds, the low
// 32 bits (posix/posix_clock.h).
// Thread   any.   Blocks  no.
std::uint32_t TimeGetTime();

// timeBeginPeriod(1) / timeEndPeriod(1): while begun, timed waits of the process end within
// about a millisecond of their due time instead of the default scheduler granularity (15.6 ms on
// Windows). Calls nest and must pair; the loop that waits for ticks brackets its run with them.
// POSIX: waits are already that precise; both do nothing.
// Thread   the user-interface thread.   Blocks  no.
void BeginFineTimer();
void EndFineTimer();

}  // namespace platform
