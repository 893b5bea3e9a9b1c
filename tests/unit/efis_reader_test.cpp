// The reader's read and decode against the recording device layer: what each inbound frame
// does to the shared state, the servo mapping, the servo status frame as it goes out, and the
// reads that are dropped. Expected values are worked out by hand from the frame layouts.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "efis/EfisFrames.h"
#include "efis/EfisLink.h"
#include "efis/EfisReader.h"
#include "efis/SharedState.h"
#include "tests/unit/efis_fake_device.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes QnhFrame(std::uint8_t low, std::uint8_t high) {
  return {2, 0, 1, 6, low, high};
}

// Modes at bytes 4 and 8, positions as upper (x 128) and lower bytes at 6-7 and 10-11.
Bytes ServoFrame(std::uint8_t bankMode, std::uint8_t bankHi, std::uint8_t bankLo,
                 std::uint8_t pitchMode, std::uint8_t pitchHi, std::uint8_t pitchLo) {
  return {8, 0, 1, 14, bankMode, 0, bankHi, bankLo, pitchMode, 0, pitchHi, pitchLo};
}

Bytes Cut(Bytes bytes, std::size_t size) {
  bytes.resize(size);
  return bytes;
}

class EfisReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fakedevice::Reset();
    ResetSharedState();
    EfisAttachWindow(nullptr, nullptr);
    fakedevice::config.paths = {"\\\\?\\usb#efis"};
    EfisConnect();  // handles 100 (device), 101 (read), 102 (write)
    ASSERT_TRUE(EfisLink.EfisConnected);
    fakedevice::calls.clear();
  }
  void TearDown() override { EfisCloseHandles(); }

  // One poll that reads `bytes`.
  void Deliver(const Bytes& bytes) {
    fakedevice::config.reads.push_back({true, bytes});
    PollEfisInput(input);
  }

  // The servo status frame as it goes out now.
  Bytes SentStatus() {
    fakedevice::written.clear();
    SendServoStatusFrame();
    return fakedevice::written.empty() ? Bytes{} : fakedevice::written.back();
  }

  std::uint8_t input[kEfisInputSize] = {};
};

// Everything a frame could change, to show that a frame changed nothing.
struct Snapshot {
  std::uint16_t heldQnh;
  std::uint8_t qnhFromEfis, engaged, seen, idle;
  std::int16_t bankCmd, pitchCmd;
  std::uint16_t countdown;
  std::uint32_t status;
  bool operator==(const Snapshot&) const = default;
};

Snapshot Now() {
  return {HeldQnh.load(),        QnhFromEfis.load(),        AutopilotEngaged.load(),
          ServoFrameSeen.load(), ReaderIdleTicks.load(),    BankServoCmd.load(),
          PitchServoCmd.load(),  DisengageCountdown.load(), ServoStatusValues.load()};
}

void Preset() {
  HeldQnh = 1111;
  AutopilotEngaged = 1;
  BankServoCmd = 123;
  PitchServoCmd = -456;
  DisengageCountdown = 7;
  ReaderIdleTicks = 9;
  BankServoShown = 3200;
}

TEST_F(EfisReaderTest, FramesWhoseByteTwoIsNotOneChangeNothing) {
  Preset();
  const Snapshot before = Now();
  for (std::uint8_t byte2 : {0, 2, 255}) {
    Bytes qnh = QnhFrame(0x94, 0x27);
    Bytes servo = ServoFrame(3, 0x36, 0x58, 3, 0x36, 0x58);
    qnh[2] = servo[2] = byte2;
    Deliver(qnh);
    Deliver(servo);
    EXPECT_EQ(Now(), before) << "byte 2 = " << int{byte2};
  }
}

TEST_F(EfisReaderTest, OtherTypesAndShortReadsAreDropped) {
  Preset();
  const Snapshot before = Now();
  Bytes other = ServoFrame(3, 0x36, 0x58, 3, 0x36, 0x58);
  for (std::uint8_t type : {0, 5, 7, 13, 15, 255}) {
    other[3] = type;
    Deliver(other);
  }
  Deliver(QnhFrame(0x94, 0x27));  // a full frame leaves its bytes in the buffer...
  QnhFromEfis = 0;
  HeldQnh = 1111;
  Deliver(Cut(QnhFrame(0x95, 0x27), 5));                       // ...a QNH of 5 bytes
  Deliver(Cut(ServoFrame(0, 0x36, 0x58, 0, 0x36, 0x58), 11));  // a servo frame of 11
  Deliver({});  // nothing at all: the last frame is not decoded again
  Deliver(Cut(ServoFrame(0, 0x36, 0x58, 0, 0x36, 0x58), 4));  // a header alone
  EXPECT_EQ(Now(), before);
}

TEST_F(EfisReaderTest, QnhBecomesSixteenthsWithTheFlagAndLeavesTheWatchdogAlone) {
  struct Case {
    std::uint8_t low, high;
    std::uint16_t held;
  };
  const Case cases[] = {
      {0x94, 0x27, 16211},  // 10132 x 16 / 10 = 16211.2
      {0x95, 0x27, 16212},  // 10133: 16212.8, truncated
      {0x00, 0x00, 0},
      {0xFF, 0xFF, 39320},  // 65535 x 16 / 10 = 104856, low 16 bits
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.held);
    ReaderIdleTicks = 7;
    Deliver(QnhFrame(c.low, c.high));
    EXPECT_EQ(HeldQnh.load(), c.held);
    EXPECT_EQ(QnhFromEfis.load(), 1);
    EXPECT_EQ(ServoFrameSeen.load(), 0);
    EXPECT_EQ(ReaderIdleTicks.load(), 7);
    std::uint16_t taken = 0;
    EXPECT_TRUE(TakeQnhFromEfis(&taken));
    EXPECT_EQ(taken, c.held);
    EXPECT_FALSE(TakeQnhFromEfis(&taken));
  }
  ServoFrameSeen = 1;
  Deliver(QnhFrame(0x94, 0x27));
  EXPECT_EQ(ServoFrameSeen.load(), 1);
  EXPECT_EQ(ReaderIdleTicks.load(), 7);
}

TEST_F(EfisReaderTest, PositionsMapToCommandsWhileEngaged) {
  struct Case {
    std::uint8_t hi, lo;  // position = hi x 128 + lo
    std::int16_t command;
  };
  const Case cases[] = {
      {0x36, 0x58, 0},       // 7000
      {0x0A, 0x78, 16384},   // 1400
      {0x62, 0x38, -16384},  // 12600
      {0x10, 0x34, 14336},   // 2100
      {0x36, 0x59, -2},      // 7001: 16384 - 16386
      {0x07, 0x68, 17554},   // 1000: 16384 + 1170
      {0x00, 0x00, 20480},   // 0: 16384 + 4096
      {0xFF, 0xFF, -10225},  // 32895, bytes not masked: 16384 - 92145, low 16 bits
      {0x00, 0xFF, 19733},   // 255: the lower byte is not cut to 7 bits, 16384 + 3349
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    AutopilotEngaged = 1;
    Deliver(ServoFrame(3, c.hi, c.lo, 3, 0x36, 0x58));
    EXPECT_EQ(BankServoCmd.load(), c.command);
    EXPECT_EQ(PitchServoCmd.load(), 0);
    EXPECT_EQ(BankServoPos.load(), c.hi * 128 + c.lo);
    Deliver(ServoFrame(3, 0x36, 0x58, 0, c.hi, c.lo));
    EXPECT_EQ(PitchServoCmd.load(), c.command);
    EXPECT_EQ(BankServoCmd.load(), 0);
  }
}

TEST_F(EfisReaderTest, TheFrameThatEngagesComputesNoCommand) {
  BankServoCmd = 123;
  PitchServoCmd = -456;
  ReaderIdleTicks = 12;
  Deliver(ServoFrame(3, 0x0A, 0x78, 0, 0x62, 0x38));
  // held, flag, engaged, seen, idle, bank and pitch commands, countdown, status
  EXPECT_EQ(Now(), (Snapshot{0, 0, 1, 1, 0, 123, -456, 20, 0}));
  EXPECT_EQ(BankServoMode.load(), 3);
  EXPECT_EQ(PitchServoPos.load(), 12600);

  // The next one computes; pitch mode 3 alone also keeps it engaged.
  DisengageCountdown = 4;
  Deliver(ServoFrame(0, 0x0A, 0x78, 3, 0x62, 0x38));
  EXPECT_EQ(Now(), (Snapshot{0, 0, 1, 1, 0, 16384, -16384, 20, 0}));
}

TEST_F(EfisReaderTest, ADisengagingFrameComputesThenDisengagesKeepingTheCountdown) {
  AutopilotEngaged = 1;
  DisengageCountdown = 7;
  ReaderIdleTicks = 3;
  Deliver(ServoFrame(0, 0x10, 0x34, 2, 0x07, 0x68));  // 2100 and 1000, modes 0 and 2
  EXPECT_EQ(Now(), (Snapshot{0, 0, 0, 1, 0, 14336, 17554, 7, 0}));

  // Disengaged, frames keep the commands and still feed the watchdog.
  ReaderIdleTicks = 3;
  Deliver(ServoFrame(0, 0x36, 0x58, 0, 0x36, 0x58));
  EXPECT_EQ(Now(), (Snapshot{0, 0, 0, 1, 0, 14336, 17554, 7, 0}));
}

TEST_F(EfisReaderTest, ServoStatusCarriesMinusTheShownInputsOverThirtyTwo) {
  const Bytes zeros = {16, 0, 1, 15, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(SentStatus(), zeros) << "zeros before the first servo frame";
  BankServoShown = 3200;
  Deliver(QnhFrame(0x94, 0x27));
  EXPECT_EQ(SentStatus(), zeros) << "a QNH frame does not fill it";

  struct Case {
    std::int16_t bank, pitch;
    std::uint8_t b6, b7, b10, b11;
  };
  const Case cases[] = {
      {33, -16384, 0xFF, 0xFF, 0x00, 0x02},     // -1 and 512
      {-31, 0, 0x00, 0x00, 0x00, 0x00},         // 0
      {-32, 31, 0x01, 0x00, 0x00, 0x00},        // 1 and 0
      {16383, -32768, 0x01, 0xFE, 0x00, 0x04},  // -511 and 1024
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bank);
    BankServoShown = c.bank;
    PitchServoShown = c.pitch;
    EXPECT_EQ(SentStatus()[6], zeros[6]) << "the shown values count only when a frame comes";
    Deliver(ServoFrame(0, 0x36, 0x58, 0, 0x36, 0x58));
    Bytes expected = zeros;
    expected[6] = c.b6;
    expected[7] = c.b7;
    expected[10] = c.b10;
    expected[11] = c.b11;
    EXPECT_EQ(SentStatus(), expected);
    EXPECT_EQ(SentStatus(), expected) << "sent again as it stands";
    BankServoShown = 0;
    PitchServoShown = 0;
    Deliver(ServoFrame(0, 0x36, 0x58, 0, 0x36, 0x58));
    EXPECT_EQ(SentStatus(), zeros);
  }
}

TEST_F(EfisReaderTest, AReadAsksForSixtyFourBytesAndAFailedOnePauses) {
  Deliver(ServoFrame(0, 0x36, 0x58, 0, 0x36, 0x58));
  fakedevice::config.reads.push_back({false, {}});
  PollEfisInput(input);
  const std::string read = "read " + std::to_string(EfisLink.ReadChannel.load()) + " 64";
  EXPECT_EQ(fakedevice::calls, (std::vector<std::string>{read, read, "pause 10"}));
}

// Without a read pipe the reader makes no read and no pause: it waits on the link's event,
// which the close resets and the next connect sets once its pipe is stored.
TEST_F(EfisReaderTest, WithoutAReadPipeTheReaderWaitsForTheConnectInsteadOfPolling) {
  fakedevice::eventCalls.clear();
  EfisCloseHandles();
  const std::string event = std::to_string(EfisLink.ReadChannelOpen.load());
  ASSERT_NE(event, "0");
  EXPECT_EQ(fakedevice::eventCalls, (std::vector<std::string>{"reset " + event}));
  fakedevice::calls.clear();
  fakedevice::eventCalls.clear();
  PollEfisInput(input);
  PollEfisInput(input);
  EXPECT_TRUE(fakedevice::calls.empty()) << "no read, no pause";
  EXPECT_EQ(fakedevice::eventCalls, (std::vector<std::string>{"wait " + event, "wait " + event}));

  // A refused read pipe is no pipe either.
  fakedevice::config.paths = {"\\\\?\\usb#vid_1234#efis"};
  fakedevice::config.refusedOpens = {"\\\\?\\usb#vid_1234#efis\\PIPE00"};
  fakedevice::eventCalls.clear();
  EfisConnect();
  EXPECT_EQ(fakedevice::eventCalls, (std::vector<std::string>{"reset " + event}));
  fakedevice::calls.clear();
  PollEfisInput(input);
  EXPECT_TRUE(fakedevice::calls.empty());

  // The connect that opens it sets the event after storing the pipe.
  fakedevice::config.refusedOpens.clear();
  fakedevice::eventCalls.clear();
  EfisConnect();
  EXPECT_EQ(fakedevice::eventCalls, (std::vector<std::string>{"reset " + event, "set " + event}));
  fakedevice::calls.clear();
  fakedevice::config.reads.push_back({false, {}});
  PollEfisInput(input);
  EXPECT_EQ(fakedevice::calls,
            (std::vector<std::string>{"read " + std::to_string(EfisLink.ReadChannel.load()) + " 64",
                                      "pause 10"}))
      << "a failed read of an open pipe still pauses";
}

TEST_F(EfisReaderTest, ALongFrameIsCutToSixtyFourBytesAndDecoded) {
  Bytes frame = ServoFrame(3, 0x36, 0x58, 0, 0x36, 0x58);
  frame.resize(100, 0xEE);
  Deliver(frame);
  EXPECT_EQ(AutopilotEngaged.load(), 1);
  EXPECT_EQ(input[63], 0xEE);
}

}  // namespace
