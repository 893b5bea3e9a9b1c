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

// Keeps the fine timer while every window of the process is hidden (the bridge behind a
// full-screen simulator): from Windows 11 a hidden process is not given a higher timer
// resolution than the default 15.6 ms unless it opts out of power throttling, which would make
// 50 ms ticks 62.5 ms apart. Win32: SetProcessInformation(GetCurrentProcess(),
// ProcessPowerThrottling, ...), looked up in kernel32 at run time, once per flag so that a flag
// an older Windows refuses does not cost the other: ControlMask
// PROCESS_POWER_THROTTLING_IGNORE_TIMER_RESOLUTION with StateMask 0 (timer requests honoured),
// then PROCESS_POWER_THROTTLING_EXECUTION_SPEED with StateMask 0 (no EcoQoS). A refusal or a
// Windows without the function changes nothing else. POSIX: nothing to opt out of.
// Returns  how many of the two settings the system took (0 to 2); POSIX 0.
// Thread   the user-interface thread, before its loop runs.   Blocks  no.
int OptOutOfPowerThrottling();

}  // namespace platform
