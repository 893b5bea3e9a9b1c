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
std::atomic<std::uint32_t> ServoStatusValues{0};

// Lock-free at these widths on every target we build; a lock inside would stall the reader.
static_assert(std::atomic<std::uint8_t>::is_always_lock_free);
static_assert(std::atomic<std::uint16_t>::is_always_lock_free);
static_assert(std::atomic<std::int16_t>::is_always_lock_free);
static_assert(std::atomic<std::uint32_t>::is_always_lock_free);

void PostQnhFromEfis(std::uint16_t qnh) {
  HeldQnh.store(qnh, std::memory_order_relaxed);
  QnhFromEfis.store(1, std::memory_order_release);
}

bool TakeQnhFromEfis(std::uint16_t* qnh) {
  if (QnhFromEfis.exchange(0, std::memory_order_acquire) == 0) return false;
  *qnh = HeldQnh.load(std::memory_order_relaxed);
  return true;
}

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
  ServoStatusValues = 0;
}
