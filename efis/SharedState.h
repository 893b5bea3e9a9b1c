// The state shared between the EFIS reader thread and the bridge cycle on the user-interface
// thread. No lock guards it: each value is read and written whole, as an atomic of its width.
//
// Ordering relied on: the reader stores HeldQnh before it raises QnhFromEfis, and the cycle
// takes the flag before it reads HeldQnh, so a raised flag always comes with its setting.
// PostQnhFromEfis and TakeQnhFromEfis are the two sides of that order; nothing else raises or
// takes the flag.
//
// BankServoShown and PitchServoShown are also filled by a simulator exchange. The link copies
// raw bytes, so the cycle reads into a plain 16-bit staging value and stores it here after the
// exchange has succeeded; the reader never sees a half-written value.
#pragma once

#include <atomic>
#include <cstdint>

// Altimeter setting held by the bridge, 1/16 hPa. Reader: EFIS QNH; cycle: simulator QNH.
extern std::atomic<std::uint16_t> HeldQnh;
// Raised by the reader after it stored HeldQnh; taken by the cycle when it queues the write.
extern std::atomic<std::uint8_t> QnhFromEfis;
// Aileron and elevator inputs the servos ask for, in simulator input units (reader writes).
extern std::atomic<std::int16_t> BankServoCmd;
extern std::atomic<std::int16_t> PitchServoCmd;
// Either servo reported mode 3 in the last servo frame; the cycle clears it at disengagement.
extern std::atomic<std::uint8_t> AutopilotEngaged;
// Fast ticks left before an engaged autopilot without news counts as disengaged.
extern std::atomic<std::uint16_t> DisengageCountdown;
// At least one servo frame has arrived; arms the reader watchdog. Never cleared.
extern std::atomic<std::uint8_t> ServoFrameSeen;
// Cycle ticks since the last servo frame or the last reader restart.
extern std::atomic<std::uint8_t> ReaderIdleTicks;
// Aileron and elevator inputs as the sliders show them and the servo status frame reports them.
extern std::atomic<std::int16_t> BankServoShown;
extern std::atomic<std::int16_t> PitchServoShown;

// The servo status frame's two values as the reader computed them from the shown inputs:
// bytes 6-7 in the low half, bytes 10-11 in the high half. One word, so the sender never sees
// one frame's bank value with another frame's pitch value. Zero until the first servo frame.
extern std::atomic<std::uint32_t> ServoStatusValues;

// Reader thread: stores `qnh` as HeldQnh, then raises QnhFromEfis (release: the setting is
// visible to whoever sees the flag).
void PostQnhFromEfis(std::uint16_t qnh);
// Cycle: takes the flag down; when it was raised, true with the setting it came with in *qnh
// (acquire: read after the flag).
bool TakeQnhFromEfis(std::uint16_t* qnh);

// Puts every value back to its start (zero). For tests that run several scenarios in one process.
void ResetSharedState();
