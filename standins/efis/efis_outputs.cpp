#include "standins/efis/efis_outputs.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "standins/common/number_option.h"
#include "standins/common/say.h"

namespace efisunit {

const char kOutputUsage[] =
    "What it sends on \\PIPE00 while the bridge has it open:\n"
    "  --servo-rate HZ   servo frames per second, steady (default 20; 0: none; at most 1000)\n"
    "  --bank-mode N     servo 1 mode byte, 0..255 (3: engaged; default 0)\n"
    "  --pitch-mode N    servo 2 mode byte, 0..255 (default 0)\n"
    "  --bank-pos P      servo 1 position, 0..16383 (default 7000, the centre)\n"
    "  --pitch-pos P     servo 2 position, 0..16383 (default 7000)\n"
    "  --qnh TENTHS      the altimeter setting in 0.1 hPa (default 10132), sent when the pipe\n"
    "                    opens\n"
    "  --qnh-every MS    send the setting every MS milliseconds as well, and keep it: without\n"
    "                    this option the unit takes the setting the bridge sends as its own\n"
    "  --silent-after S  fall silent (send nothing) S seconds after the pipe first opened\n"
    "  --silent-for S    speak again after S seconds of silence, fall silent again after the\n"
    "                    seconds of --silent-after, and so on (default: silent for good)\n"
    "Keys on its terminal: + raises the setting by 1 hPa, - lowers it; each change is sent.\n";

namespace {

constexpr long kMaxServoHz = 1000;
constexpr long kQnhStep = 10;  // 1 hPa
constexpr long kMaxQnh = 65535;

using standins::Say;

using standins::NumberKind;
using OutputNumber = standins::NumberOption<OutputOptions>;

const OutputNumber kNumberOptions[] = {
    {"--servo-rate", NumberKind::Signed, 0, kMaxServoHz, "a rate of 0 to 1000",
     [](OutputOptions& o, double v) { o.servoHz = static_cast<long>(v); }},
    {"--bank-mode", NumberKind::Signed, 0, 255, "a mode of 0 to 255",
     [](OutputOptions& o, double v) { o.bankMode = static_cast<int>(v); }},
    {"--pitch-mode", NumberKind::Signed, 0, 255, "a mode of 0 to 255",
     [](OutputOptions& o, double v) { o.pitchMode = static_cast<int>(v); }},
    {"--bank-pos", NumberKind::Signed, 0, 16383, "a position of 0 to 16383",
     [](OutputOptions& o, double v) { o.bankPos = static_cast<int>(v); }},
    {"--pitch-pos", NumberKind::Signed, 0, 16383, "a position of 0 to 16383",
     [](OutputOptions& o, double v) { o.pitchPos = static_cast<int>(v); }},
    {"--qnh", NumberKind::Signed, 0, kMaxQnh, "a setting of 0 to 65535 tenths of a hPa",
     [](OutputOptions& o, double v) {
       o.qnh = static_cast<long>(v);
       o.qnhAtOpen = true;
     }},
    {"--qnh-every", NumberKind::Signed, 1, 3600000, "a period of 1 to 3600000 ms",
     [](OutputOptions& o, double v) { o.qnhEveryMs = static_cast<long>(v); }},
    {"--silent-after", NumberKind::Signed, 1, 86400, "1 to 86400 seconds",
     [](OutputOptions& o, double v) { o.silentAfterS = static_cast<long>(v); }},
    {"--silent-for", NumberKind::Signed, 1, 86400, "1 to 86400 seconds",
     [](OutputOptions& o, double v) { o.silentForS = static_cast<long>(v); }},
};

}  // namespace

bool ParseOutputOption(int argc, char** argv, int* i, OutputOptions* options, std::string* error) {
  const OutputNumber* option = standins::FindNumberOption(kNumberOptions, argv[*i]);
  if (option == nullptr) return false;
  if (*i + 1 >= argc || !standins::StoreNumberOption(*option, argv[++*i], *options))
    *error = std::string(option->name) + " needs " + option->needs;
  return true;
}

void MakeQnhFrame(long tenths, std::uint8_t (&frame)[kQnhFrameBytes]) {
  const std::uint8_t bytes[kQnhFrameBytes] = {2,
                                              0,
                                              1,
                                              6,
                                              static_cast<std::uint8_t>(tenths & 0xFF),
                                              static_cast<std::uint8_t>(tenths >> 8 & 0xFF)};
  std::memcpy(frame, bytes, sizeof bytes);
}

void MakeServoFrame(const OutputOptions& options, std::uint8_t (&frame)[kServoFrameBytes]) {
  const std::uint8_t bytes[kServoFrameBytes] = {8,
                                                0,
                                                1,
                                                14,
                                                static_cast<std::uint8_t>(options.bankMode),
                                                0,
                                                static_cast<std::uint8_t>(options.bankPos >> 7),
                                                static_cast<std::uint8_t>(options.bankPos & 0x7F),
                                                static_cast<std::uint8_t>(options.pitchMode),
                                                0,
                                                static_cast<std::uint8_t>(options.pitchPos >> 7),
                                                static_cast<std::uint8_t>(options.pitchPos & 0x7F)};
  std::memcpy(frame, bytes, sizeof bytes);
}

void UnitOutputs::End() {
  RestoreKeys();
  Say("sent %ld servo frames and %ld QNH frames, dropped %ld", servoSent_, qnhSent_, dropped_);
}

int UnitOutputs::MsUntilDue(std::uint64_t now) const {
  if (!opened_) return -1;
  if (qnhPending_) return 0;
  std::uint64_t due = ~std::uint64_t{0};
  if (options_.servoHz > 0) due = nextServo_;
  if (options_.qnhEveryMs > 0 && nextQnh_ < due) due = nextQnh_;
  if (due == ~std::uint64_t{0}) return -1;
  return due <= now ? 0 : static_cast<int>(due - now);
}

void UnitOutputs::ReadPipeOpened(std::uint64_t now) {
  if (!opened_) firstOpen_ = now;
  opened_ = true;
  servoBase_ = now;
  servoIndex_ = 0;
  nextServo_ = now;
  nextQnh_ = now + static_cast<std::uint64_t>(options_.qnhEveryMs);
  if (options_.qnhAtOpen) qnhPending_ = true;
}

void UnitOutputs::TakeKey(char key, std::uint64_t now) {
  if (onKey_ != nullptr) {
    onKey_(hookContext_, key);
  } else {
    Key(key, now);
  }
}

void UnitOutputs::Key(char key, std::uint64_t) {
  long qnh = qnh_;
  if (key == '+') qnh += kQnhStep;
  if (key == '-') qnh -= kQnhStep;
  if (qnh == qnh_ || qnh < 0 || qnh > kMaxQnh) return;
  qnh_ = qnh;
  qnhPending_ = true;
  Say("QNH set to %ld.%ld hPa", qnh_ / 10, qnh_ % 10);
}

void UnitOutputs::SetServos(int bankMode, int bankPos, int pitchMode, int pitchPos) {
  options_.bankMode = bankMode;
  options_.bankPos = bankPos;
  options_.pitchMode = pitchMode;
  options_.pitchPos = pitchPos;
}

bool UnitOutputs::Silent(std::uint64_t now) const {
  if (options_.silentAfterS <= 0 || !opened_) return false;
  const std::uint64_t since = now - firstOpen_;
  const std::uint64_t speak = static_cast<std::uint64_t>(options_.silentAfterS) * 1000;
  if (since < speak) return false;
  if (options_.silentForS <= 0) return true;
  const std::uint64_t quiet = static_cast<std::uint64_t>(options_.silentForS) * 1000;
  return since % (speak + quiet) >= speak;
}

void UnitOutputs::Sent(bool whole, const std::uint8_t* frame, std::size_t size, long* sent) {
  if (!whole) {
    ++dropped_;  // no room (a bridge that does not read) or the connection is ending
    return;
  }
  ++*sent;
  if (onSent_ != nullptr) onSent_(hookContext_, frame, size);
}

void UnitOutputs::Send(const std::uint8_t* frame, std::size_t size, long* sent) {
  Sent(sink_ != nullptr && sink_(sinkContext_, frame, size), frame, size, sent);
}

void UnitOutputs::SendQnh() {
  std::uint8_t frame[kQnhFrameBytes];
  MakeQnhFrame(qnh_, frame);
  Send(frame, sizeof frame, &qnhSent_);
}

void UnitOutputs::SendDue(bool pipeOpen, std::uint64_t now) {
  if (!opened_) return;
  const bool silent = Silent(now);
  if (silent != wasSilent_) {
    wasSilent_ = silent;
    Say(silent ? "falling silent" : "speaking again");
  }
  const bool speak = !silent && pipeOpen;
  if (options_.servoHz > 0 && now >= nextServo_) {
    if (speak) {
      std::uint8_t frame[kServoFrameBytes];
      MakeServoFrame(options_, frame);
      Send(frame, sizeof frame, &servoSent_);
    }
    // The next point of the grid; points missed while late are skipped, not made up.
    const std::uint64_t hz = static_cast<std::uint64_t>(options_.servoHz);
    servoIndex_ = std::max(servoIndex_ + 1, (now - servoBase_) * hz / 1000 + 1);
    nextServo_ = servoBase_ + servoIndex_ * 1000 / hz;
  }
  if (qnhPending_ && speak) {
    qnhPending_ = false;
    SendQnh();
  }
  if (options_.qnhEveryMs > 0 && now >= nextQnh_) {
    if (speak) SendQnh();
    nextQnh_ = now + static_cast<std::uint64_t>(options_.qnhEveryMs);
  }
}

}  // namespace efisunit
