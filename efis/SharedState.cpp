#include "efis/SharedState.h"

std::atomic<std::uint16_t> HeldQnh{0};
std::atomic<std::uint8_t> QnhFromEfis{0};
std::atomic<std::int16_t> BankServoCmd{0};
std::atomic<std::int16_t> PitchServoCmd{0};
std::atomic<std::uint8_t> AutopilotEngaged{0};
std::atomic<std::uint16_t> DisengageCountdown{0};
std::atomic<std::uint8_t> ServoFrameSeen{0};
std::atomic<std::uint8_t> ReaderIdleTicks{0};
std::atomic<std::int16_t> BankServoShown{0};
std::atomic<std::int16_t> PitchServoShown{0};

// Lock-free at these widths on every target we build; a lock inside would stall the reader.
static_assert(std::atomic<std::uint8_t>::is_always_lock_free);
static_assert(std::atomic<std::uint16_t>::is_always_lock_free);
static_assert(std::atomic<std::int16_t>::is_always_lock_free);

void ResetSharedState() {
  HeldQnh = 0;
  QnhFromEfis = 0;
  BankServoCmd = 0;
  PitchServoCmd = 0;
  AutopilotEngaged = 0;
  DisengageCountdown = 0;
  ServoFrameSeen = 0;
  ReaderIdleTicks = 0;
  BankServoShown = 0;
  PitchServoShown = 0;
}
