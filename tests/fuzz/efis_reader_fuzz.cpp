// Fuzz target of the EFIS reader's decode: whatever one read of the read pipe delivers, 0 to 64
// bytes. Built on the reader's own file (efis/EfisReader.cpp) and the shared state it fills
// (efis/SharedState.cpp); the read itself is played here, so the same bytes go through
// PollEfisInput as the reader thread gets them, and through DecodeEfisInput in a buffer of
// exactly their length (the address sanitizer sees any byte read past them).
//
// Checked, from the frame layouts: a QNH frame (byte 2 = 1, type 6, at least 6 bytes) sets the
// held setting to tenths x 16 / 10 and raises its flag; a servo frame (type 14, at least 12
// bytes) sets the positions, modes and engagement, and the commands korvan-efis's own mapping
// expects of its positions (standins/efis/efis_autopilot.h, written apart from the bridge);
// anything else changes no shared value at all. An input longer than one read and the
// engagement byte instead describes a frame that korvan-efis's own encoder makes
// (standins/efis/efis_outputs.h): the bridge must read back exactly what the unit put in.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "efis/EfisLink.h"
#include "efis/EfisReader.h"
#include "efis/SharedState.h"
#include "platform/device.h"
#include "platform/thread.h"
#include "standins/efis/efis_autopilot.h"
#include "standins/efis/efis_outputs.h"
#include "tests/fuzz/fuzz_support.h"

// What EfisReader.cpp uses of the rest of the EFIS link, and the read it makes.
TEfisLink EfisLink;

namespace {

const std::uint8_t* ReadData = nullptr;
std::size_t ReadSize = 0;
int Pauses = 0;

using fuzzsupport::Check;

struct Shared {
  std::uint16_t heldQnh;
  std::uint8_t qnhFromEfis;
  std::int16_t bankCmd, pitchCmd;
  std::uint8_t engaged;
  std::uint16_t countdown;
  std::uint8_t seen, idle;
  std::uint16_t bankPos, pitchPos;
  std::uint8_t bankMode, pitchMode;
  std::uint32_t status;
  bool operator==(const Shared&) const = default;
};

Shared Now() {
  return {HeldQnh.load(),          QnhFromEfis.load(),      BankServoCmd.load(),
          PitchServoCmd.load(),    AutopilotEngaged.load(), DisengageCountdown.load(),
          ServoFrameSeen.load(),   ReaderIdleTicks.load(),  BankServoPos.load(),
          PitchServoPos.load(),    BankServoMode.load(),    PitchServoMode.load(),
          ServoStatusValues.load()};
}

// A state before the read that every kind of frame changes.
void Prime(std::uint8_t engaged) {
  ResetSharedState();
  HeldQnh.store(0x1234);
  BankServoCmd.store(-5);
  PitchServoCmd.store(5);
  AutopilotEngaged.store(engaged);
  DisengageCountdown.store(7);
  ReaderIdleTicks.store(9);
  BankServoShown.store(-1000);
  PitchServoShown.store(2000);
  BankServoPos.store(1);
  PitchServoPos.store(2);
  BankServoMode.store(99);
  PitchServoMode.store(98);
}

// The command the unit expects for a position.
std::int16_t Command(std::uint16_t position) {
  return static_cast<std::int16_t>(efisunit::CommandForPosition(position));
}

void CheckDecoded(const std::uint8_t* bytes, std::size_t size, const Shared& before,
                  std::uint8_t engagedBefore) {
  const Shared after = Now();
  const bool frame = size >= 4 && bytes[2] == 1;
  if (frame && bytes[3] == 6 && size >= 6) {
    const std::uint32_t tenths = bytes[4] | bytes[5] << 8;
    Check(after.heldQnh == static_cast<std::uint16_t>(tenths * 16 / 10), "QNH not converted");
    Check(after.qnhFromEfis == 1, "QNH flag not raised");
    Shared rest = after;
    rest.heldQnh = before.heldQnh;
    rest.qnhFromEfis = before.qnhFromEfis;
    Check(rest == before, "a QNH frame changed more than the setting");
    return;
  }
  if (frame && bytes[3] == 14 && size >= 12) {
    const std::uint16_t bank = static_cast<std::uint16_t>(bytes[6] * 128 + bytes[7]);
    const std::uint16_t pitch = static_cast<std::uint16_t>(bytes[10] * 128 + bytes[11]);
    Check(after.bankPos == bank && after.pitchPos == pitch, "positions not taken");
    Check(after.bankMode == bytes[4] && after.pitchMode == bytes[8], "modes not taken");
    const bool engaged = bytes[4] == 3 || bytes[8] == 3;
    Check(after.engaged == (engaged ? 1 : 0), "engagement not taken");
    Check(after.countdown == (engaged ? 20 : before.countdown), "countdown wrong");
    Check(after.seen == 1 && after.idle == 0, "watchdog not fed");
    if (engagedBefore != 0) {
      Check(after.bankCmd == Command(bank) && after.pitchCmd == Command(pitch), "commands wrong");
    } else {
      Check(after.bankCmd == before.bankCmd && after.pitchCmd == before.pitchCmd,
            "the engaging frame computed commands");
    }
    // Minus the shown value over 32: -(-1000) / 32 = 31, -(2000) / 32 = -62.
    Check(after.status == (31u | static_cast<std::uint32_t>(0xFFC2) << 16), "status values wrong");
    Check(after.heldQnh == before.heldQnh && after.qnhFromEfis == before.qnhFromEfis,
          "a servo frame changed the QNH");
    return;
  }
  Check(after == before, "a read that is no frame of ours changed the shared state");
}

}  // namespace

// The read pipe as the reader sees it: the input is the one frame the unit sent.
namespace platform {
bool ReadDeviceFile(Handle, void* buffer, std::uint32_t size, std::uint32_t* done) {
  const std::size_t n = ReadSize < size ? ReadSize : size;
  if (ReadData == nullptr) return false;
  std::memcpy(buffer, ReadData, n);
  if (done != nullptr) *done = static_cast<std::uint32_t>(n);
  return true;
}
void PauseThread(std::uint32_t) {
  ++Pauses;
}
bool WaitForManualEvent(Handle) {
  return false;
}
}  // namespace platform

// A frame the unit's encoder makes from the input's first bytes: a servo frame with its modes
// and positions (0..16383), or a QNH frame; the bridge reads back what went in.
void CheckUnitsOwnFrame(const std::uint8_t* data) {
  const std::uint8_t engaged = data[0] & 1;
  Prime(engaged);
  if (data[0] & 2) {
    const long tenths = data[1] | data[2] << 8;
    std::uint8_t frame[efisunit::kQnhFrameBytes];
    efisunit::MakeQnhFrame(tenths, frame);
    DecodeEfisInput(frame, sizeof frame);
    Check(HeldQnh.load() == static_cast<std::uint16_t>(tenths * 16 / 10), "the unit's QNH");
    return;
  }
  efisunit::OutputOptions options;
  options.bankMode = data[1];
  options.bankPos = (data[2] << 8 | data[3]) & 0x3FFF;
  options.pitchMode = data[4];
  options.pitchPos = (data[5] << 8 | data[6]) & 0x3FFF;
  std::uint8_t frame[efisunit::kServoFrameBytes];
  efisunit::MakeServoFrame(options, frame);
  const Shared before = Now();
  DecodeEfisInput(frame, sizeof frame);
  const Shared after = Now();
  Check(after.bankPos == options.bankPos && after.pitchPos == options.pitchPos,
        "the unit's positions not read back");
  Check(after.bankMode == options.bankMode && after.pitchMode == options.pitchMode,
        "the unit's modes not read back");
  const bool unitEngaged = options.bankMode == 3 || options.pitchMode == 3;
  Check(after.engaged == (unitEngaged ? 1 : 0), "the unit's engagement not taken");
  if (engaged != 0) {
    Check(after.bankCmd == Command(options.bankPos) && after.pitchCmd == Command(options.pitchPos),
          "commands not those the unit expects of its positions");
  } else {
    Check(after.bankCmd == before.bankCmd, "the engaging frame computed commands");
  }
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > kEfisInputSize + 1) {
    CheckUnitsOwnFrame(data);
    return 0;
  }
  // The last byte beyond 64 picks the engagement before the read.
  const std::uint8_t engaged = size == kEfisInputSize + 1 ? data[size - 1] % 2 : size % 2;
  const std::size_t count = size > kEfisInputSize ? kEfisInputSize : size;

  Prime(engaged);
  EfisLink.ReadChannel.store(7);  // an open read pipe: the reader reads it
  const std::vector<std::uint8_t> exact(data, data + count);
  Shared before = Now();
  DecodeEfisInput(exact.data(), static_cast<std::uint32_t>(count));
  CheckDecoded(exact.data(), count, before, engaged);

  // The same bytes through the reader's own read, into its 64-byte buffer.
  Prime(engaged);
  before = Now();
  std::uint8_t input[kEfisInputSize];
  std::memset(input, 0xCC, sizeof input);
  ReadData = exact.data();
  ReadSize = count;
  PollEfisInput(input);
  CheckDecoded(exact.data(), count, before, engaged);
  // A failed read changes nothing and pauses.
  Prime(engaged);
  before = Now();
  ReadData = nullptr;
  const int pauses = Pauses;
  PollEfisInput(input);
  Check(Now() == before && Pauses == pauses + 1, "a failed read changed something");
  return 0;
}
