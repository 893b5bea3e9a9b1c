#include "efis/EfisReader.h"

#include "efis/EfisLink.h"
#include "efis/SharedState.h"
#include "platform/device.h"
#include "platform/thread.h"

std::atomic<std::uint16_t> BankServoPos{0};
std::atomic<std::uint16_t> PitchServoPos{0};
std::atomic<std::uint8_t> BankServoMode{0};
std::atomic<std::uint8_t> PitchServoMode{0};

namespace {

constexpr std::uint8_t kQnhType = 6;
constexpr std::uint8_t kServoType = 14;
constexpr std::uint32_t kQnhBytes = 6;
constexpr std::uint32_t kServoBytes = 12;
constexpr std::uint8_t kEngagedMode = 3;
constexpr std::uint16_t kDisengageFastTicks = 20;
constexpr std::uint32_t kFailedReadPauseMs = 10;

std::uint16_t PositionAt(const std::uint8_t* input, int upper) {
  return static_cast<std::uint16_t>(input[upper] * 128 + input[upper + 1]);
}

// Minus the shown input over 32, truncated toward zero, as the frame's signed 16-bit field.
std::uint16_t StatusValue(std::int16_t shown) {
  return static_cast<std::uint16_t>(static_cast<std::int16_t>(-static_cast<int>(shown) / 32));
}

void DecodeQnhFrame(const std::uint8_t* input) {
  const std::uint32_t tenths = input[4] | static_cast<std::uint32_t>(input[5]) << 8;
  PostQnhFromEfis(static_cast<std::uint16_t>(tenths * 16 / 10));
}

void DecodeServoFrame(const std::uint8_t* input) {
  const std::uint16_t bankPos = PositionAt(input, 6);
  const std::uint16_t pitchPos = PositionAt(input, 10);
  const std::uint8_t bankMode = input[4];
  const std::uint8_t pitchMode = input[8];
  BankServoPos.store(bankPos);
  BankServoMode.store(bankMode);
  PitchServoPos.store(pitchPos);
  PitchServoMode.store(pitchMode);
  // The engagement from before this frame: the frame that engages computes no command.
  if (AutopilotEngaged.load() != 0) {
    BankServoCmd.store(ServoCommand(bankPos));
    PitchServoCmd.store(ServoCommand(pitchPos));
  }
  ServoStatusValues.store(StatusValue(BankServoShown.load()) |
                          static_cast<std::uint32_t>(StatusValue(PitchServoShown.load())) << 16);
  const bool engaged = bankMode == kEngagedMode || pitchMode == kEngagedMode;
  AutopilotEngaged.store(engaged ? 1 : 0);
  if (engaged) DisengageCountdown.store(kDisengageFastTicks);
  ServoFrameSeen.store(1);
  ReaderIdleTicks.store(0);
}

// No pipe to read: sleep until a connect opens one (or the thread is killed). Without the
// event, the pause of a failed read.
void WaitForReadChannel() {
  const platform::Handle opened = EfisLink.ReadChannelOpen.load();
  if (opened != 0 && platform::WaitForManualEvent(opened)) return;
  platform::PauseThread(kFailedReadPauseMs);
}

}  // namespace

std::int16_t ServoCommand(std::uint16_t position) {
  const std::int32_t deflection = (static_cast<std::int32_t>(position) - 1400) * 2048;
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(16384 - deflection / 700));
}

void DecodeEfisInput(const std::uint8_t* input, std::uint32_t count) {
  if (count < 4 || input[2] != 1) return;
  if (input[3] == kQnhType && count >= kQnhBytes) {
    DecodeQnhFrame(input);
  } else if (input[3] == kServoType && count >= kServoBytes) {
    DecodeServoFrame(input);
  }
}

void PollEfisInput(std::uint8_t (&input)[kEfisInputSize]) {
  const platform::Handle channel = EfisLink.ReadChannel.load();
  if (!EfisHandleOpen(channel)) {
    WaitForReadChannel();
    return;
  }
  std::uint32_t count = 0;
  if (!platform::ReadDeviceFile(channel, input, kEfisInputSize, &count)) {
    platform::PauseThread(kFailedReadPauseMs);
    return;
  }
  DecodeEfisInput(input, count);
}

void FillServoStatusFrame(std::uint32_t values, std::uint8_t (&frame)[kServoStatusFrameSize]) {
  for (std::uint32_t i = 4; i < kServoStatusFrameSize; ++i) frame[i] = 0;
  frame[6] = static_cast<std::uint8_t>(values);
  frame[7] = static_cast<std::uint8_t>(values >> 8);
  frame[10] = static_cast<std::uint8_t>(values >> 16);
  frame[11] = static_cast<std::uint8_t>(values >> 24);
}
