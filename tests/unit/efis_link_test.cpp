// The EFIS link's connect, close and send steps against a recording device layer: the exact
// calls, their arguments and order, the log lines and the reconnect button.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

#include "efis/EfisFrames.h"
#include "efis/EfisLink.h"
#include "efis/FlightFrames.h"
#include "efis/FrameMath.h"
#include "efis/SharedState.h"
#include "efis/SimSnapshot.h"
#include "platform/device.h"
#include "platform/toolkit.h"
#include "tests/unit/efis_fake_device.h"

namespace {

using fakedevice::calls;
using Lines = std::vector<std::string>;

const char kDetected[] = "EFIS detected on USB, driver initialized.";
const char kNotFound[] = "Cannot find EFIS on USB. EFIS not responding or driver not installed.";
const char kNoDevice[] = "Cannot get device handle for EFIS USB connection";
const char kReadOk[] = "EFIS data read channel OK";
const char kReadFailed[] = "Cannot open data read channel to EFIS";
const char kWriteOk[] = "EFIS data write channel OK";
const char kWriteFailed[] = "Cannot open data write channel to EFIS";

// The interface data record is 32 bytes in a 64-bit build and 28 in a 32-bit one; the detail
// record's size field 8 and 5.
const std::string kDataSize = sizeof(void*) == 8 ? "32" : "28";
const std::string kDetailCb = sizeof(void*) == 8 ? "8" : "5";

struct AllFrames {
  std::uint8_t* buffer;
  std::size_t size;
};
const AllFrames kAllFrames[] = {
    {SensorFrame, 30},    {Engine1Frame, 64},   {Engine2Frame, 64},     {Gps3Frame, 20},
    {Gps1Frame, 43},      {Gps2Frame, 24},      {QnhFrame, 6},          {AttitudeFrame, 37},
    {Engine1AuxFrame, 9}, {Engine2AuxFrame, 9}, {ServoStatusFrame, 20},
};

class EfisLinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fakedevice::Reset();
    EfisAttachWindow(&log, &button);
    EfisLink.DevicePath.clear();
    EfisLink.DeviceHandle = 0;
    EfisLink.ReadChannel = 0;
    EfisLink.WriteChannel = 0;
    EfisLink.EfisConnected = false;
    for (const AllFrames& f : kAllFrames) std::memset(f.buffer, 0, f.size);
  }
  void TearDown() override { EfisAttachWindow(nullptr, nullptr); }

  // A connect with every step succeeding on one interface, then the call record cleared.
  void ConnectOk() {
    fakedevice::config.paths = {"\\\\?\\usb#vid_1234#efis"};
    EfisConnect();
    ASSERT_TRUE(EfisLink.EfisConnected);
    calls.clear();
  }

  Lines LogLines() const { return log.Lines.All(); }

  TMemo log{nullptr};
  TButton button{nullptr};
};

TEST_F(EfisLinkTest, FullConnectMakesTheCallsInOrderAndLogsThreeLines) {
  const std::string path = "\\\\?\\usb#vid_1234&pid_0001#7&1#{0577abc6}";
  fakedevice::config.paths = {path};
  EfisConnect();
  const Lines expected = {
      "set 0x12 0577ABC6-B5F2-4025-8230-AA4F8C0E9E60",
      "enum 0",
      "size 0 0",
      "fill 0 " + std::to_string(4 + path.size() + 1) + " cb " + kDetailCb,
      "enum 1",
      "free",
      "open " + path + " 0xC0000000 3 3 0",
      "open " + path + "\\PIPE00 0x80000000 0 3 0",
      "open " + path + "\\PIPE01 0x40000000 0 3 0",
  };
  EXPECT_EQ(calls, expected);
  EXPECT_EQ(LogLines(), (Lines{kDetected, kReadOk, kWriteOk}));
  EXPECT_TRUE(EfisLink.EfisConnected);
  EXPECT_FALSE(button.Enabled());
  EXPECT_EQ(EfisLink.DevicePath, path);
  EXPECT_EQ(EfisLink.DeviceHandle, 100u);
  EXPECT_EQ(EfisLink.ReadChannel.load(), 101u);
  EXPECT_EQ(EfisLink.WriteChannel, 102u);
}

TEST_F(EfisLinkTest, InterfaceRecordCarriesTheSizeOfThisBuild) {
  // The fake refuses any other size, as SetupAPI does; so finding the device proves it.
  EXPECT_EQ(std::to_string(platform::kDeviceInterfaceDataSize), kDataSize);
  fakedevice::config.paths = {"p"};
  EXPECT_TRUE(FindEfisDevice());
}

struct FailureCase {
  const char* name;
  bool noSet;
  std::vector<std::string> paths;
  std::set<std::string> refused;
  Lines lines;
  int opens;  // open calls made
};

void PrintTo(const FailureCase& c, std::ostream* os) {
  *os << c.name;
}

class EfisConnectFailureTest : public EfisLinkTest,
                               public ::testing::WithParamInterface<FailureCase> {};

TEST_P(EfisConnectFailureTest, LogsItsLinesStaysDisconnectedAndStampsHeaders) {
  const FailureCase& c = GetParam();
  fakedevice::config.noSet = c.noSet;
  fakedevice::config.paths = c.paths;
  fakedevice::config.refusedOpens = c.refused;
  button.SetEnabled(true);
  EfisConnect();
  EXPECT_EQ(LogLines(), c.lines);
  EXPECT_FALSE(EfisLink.EfisConnected);
  EXPECT_TRUE(button.Enabled());
  EXPECT_EQ(static_cast<int>(fakedevice::CallsStartingWith("open ").size()), c.opens);
  // The headers are stamped whatever the outcome.
  EXPECT_EQ(AttitudeFrame[0], 33);
  EXPECT_EQ(AttitudeFrame[3], 11);
  EXPECT_EQ(ServoStatusFrame[0], 16);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EfisConnectFailureTest,
    ::testing::Values(
        FailureCase{"NoSet", true, {}, {}, {kNotFound}, 0},
        FailureCase{"NoInterface", false, {}, {}, {kNotFound}, 0},
        FailureCase{"DeviceOpenFails", false, {"D"}, {"D"}, {kDetected, kNoDevice}, 1},
        FailureCase{
            "ReadPipeFails", false, {"D"}, {"D\\PIPE00"}, {kDetected, kReadFailed, kWriteOk}, 3},
        FailureCase{
            "WritePipeFails", false, {"D"}, {"D\\PIPE01"}, {kDetected, kReadOk, kWriteFailed}, 3},
        FailureCase{"BothPipesFail",
                    false,
                    {"D"},
                    {"D\\PIPE00", "D\\PIPE01"},
                    {kDetected, kReadFailed, kWriteFailed},
                    3}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(EfisLinkTest, NoSetMeansNoEnumeration) {
  fakedevice::config.noSet = true;
  EXPECT_FALSE(FindEfisDevice());
  EXPECT_EQ(calls.size(), 1u);
}

TEST_F(EfisLinkTest, LastEnumeratedInterfaceWins) {
  fakedevice::config.paths = {"first", "second", "third"};
  EfisConnect();
  EXPECT_EQ(EfisLink.DevicePath, "third");
  EXPECT_EQ(fakedevice::CallsStartingWith("open ").front(), "open third 0xC0000000 3 3 0");
  EXPECT_EQ(fakedevice::CallsStartingWith("enum ").size(), 4u);
}

TEST_F(EfisLinkTest, FailingDetailEndsTheLoopKeepingWhatWasRead) {
  fakedevice::config.paths = {"first", "second", "third"};
  fakedevice::config.detailFailsAt = 1;
  EXPECT_TRUE(FindEfisDevice());
  EXPECT_EQ(EfisLink.DevicePath, "first");
  EXPECT_EQ(fakedevice::CallsStartingWith("enum ").size(), 2u);  // index 2 never looked at
  EXPECT_EQ(calls.back(), "free");
}

TEST_F(EfisLinkTest, FailedDiscoveryLeavesThePathAlone) {
  EfisLink.DevicePath = "earlier";
  fakedevice::config.paths = {"p"};
  fakedevice::config.detailFailsAt = 0;
  EXPECT_FALSE(FindEfisDevice());
  EXPECT_EQ(EfisLink.DevicePath, "earlier");
}

TEST_F(EfisLinkTest, PathsAtAndBeyondTheRecordAreReadWhole) {
  // 256 characters fill the 261-byte record exactly; longer ones need their own buffer.
  for (std::size_t length : {256u, 257u, 300u, 5000u}) {
    fakedevice::Reset();
    std::string path(length, 'x');
    path[0] = '\\';
    path[length - 1] = 'z';
    fakedevice::config.paths = {path};
    ASSERT_TRUE(FindEfisDevice()) << length;
    EXPECT_EQ(EfisLink.DevicePath, path) << length;
    EXPECT_EQ(calls[3], "fill 0 " + std::to_string(length + 5) + " cb " + kDetailCb);
  }
}

TEST_F(EfisLinkTest, ReconnectClosesWriteReadDeviceBeforeDiscovery) {
  ConnectOk();
  fakedevice::config.writeFailsAt = fakedevice::writes;
  SendAttitudeFrame();  // the link drops, the handles stay open
  ASSERT_FALSE(EfisLink.EfisConnected);
  EXPECT_TRUE(fakedevice::CallsStartingWith("close").empty());
  calls.clear();
  EfisConnect();
  ASSERT_GE(calls.size(), 4u);
  EXPECT_EQ((Lines{calls[0], calls[1], calls[2]}), (Lines{"close 102", "close 101", "close 100"}));
  EXPECT_EQ(calls[3].substr(0, 4), "set ");
  EXPECT_EQ(EfisLink.DeviceHandle, 103u);  // fresh handles
  EXPECT_TRUE(EfisLink.EfisConnected);
}

TEST_F(EfisLinkTest, FirstConnectClosesNothingAndFailedOpensAreNotClosed) {
  fakedevice::config.paths = {"D"};
  fakedevice::config.refusedOpens = {"D\\PIPE00"};
  EfisConnect();
  EXPECT_TRUE(fakedevice::CallsStartingWith("close").empty());
  EXPECT_EQ(EfisLink.ReadChannel.load(), platform::kInvalidHandle);
  EXPECT_EQ(EfisLink.WriteChannel, 101u);
  calls.clear();
  EfisCloseHandles();  // the device and the write pipe are open, the read pipe is not
  EXPECT_EQ(calls, (Lines{"close 101", "close 100"}));
  EXPECT_EQ(EfisLink.DeviceHandle, 0u);
  EXPECT_EQ(EfisLink.ReadChannel.load(), 0u);
  EXPECT_EQ(EfisLink.WriteChannel, 0u);
  calls.clear();
  EfisCloseHandles();
  EXPECT_TRUE(calls.empty());
}

TEST_F(EfisLinkTest, InitEfisFramesStampsHeadersAndNoPayloadByte) {
  for (const AllFrames& f : kAllFrames) std::memset(f.buffer, 0xA5, f.size);
  InitEfisFrames();
  InitEfisFrames();
  struct Expected {
    std::uint8_t* buffer;
    std::size_t size;
    int length, type;
  };
  const Expected expected[] = {
      {SensorFrame, 30, 26, 0},    {Engine1Frame, 64, 60, 1},      {Engine2Frame, 64, 60, 2},
      {Gps3Frame, 20, 16, 3},      {Gps1Frame, 43, 39, 4},         {Gps2Frame, 24, 20, 5},
      {QnhFrame, 6, 2, 6},         {AttitudeFrame, 37, 33, 11},    {Engine1AuxFrame, 9, 5, 12},
      {Engine2AuxFrame, 9, 5, 13}, {ServoStatusFrame, 20, 16, 15},
  };
  for (const Expected& e : expected) {
    SCOPED_TRACE(e.type);
    EXPECT_EQ(e.buffer[0], e.length);
    EXPECT_EQ(e.buffer[1], 0);
    EXPECT_EQ(e.buffer[2], 1);
    EXPECT_EQ(e.buffer[3], e.type);
    for (std::size_t i = 4; i < e.size; ++i) EXPECT_EQ(e.buffer[i], 0xA5) << i;
  }
}

struct SenderCase {
  const char* name;
  void (*send)();
  std::uint8_t type;
  std::size_t size;
  bool flush;
  const char* failure;
};

const SenderCase kSenders[] = {
    {"Sensor", SendSensorFrame, 0, 30, true, "Cannot send sensor data to USB, EFIS disconnected"},
    {"Engine1", SendEngine1Frame, 1, 64, true, "Cannot send ZENDA1 data to USB, EFIS disconnected"},
    {"Engine2", SendEngine2Frame, 2, 64, true, "Cannot send ZENDA2 data to USB, EFIS disconnected"},
    {"Qnh", SendQnhFrame, 6, 6, false, "Cannot send QNH to USB, EFIS disconnected"},
    {"Attitude", SendAttitudeFrame, 11, 37, true, "Cannot send attitude to USB, EFIS disconnected"},
    {"Engine1Aux", SendEngine1AuxFrame, 12, 9, true,
     "Cannot send ZENDA1a data to USB, EFIS disconnected"},
    {"Engine2Aux", SendEngine2AuxFrame, 13, 9, true,
     "Cannot send ZENDA2a data to USB, EFIS disconnected"},
    {"ServoStatus", SendServoStatusFrame, 15, 20, false,
     "Cannot send servo status to USB, EFIS disconnected"},
};

void PrintTo(const SenderCase& c, std::ostream* os) {
  *os << c.name;
}

class EfisSenderTest : public EfisLinkTest, public ::testing::WithParamInterface<SenderCase> {};

TEST_P(EfisSenderTest, WritesTheWholeFrameOnceAndFlushesAsItsKindSays) {
  const SenderCase& c = GetParam();
  ConnectOk();
  c.send();
  Lines expected = {"write 102 " + std::to_string(c.size)};
  if (c.flush) expected.push_back("flush 102");
  EXPECT_EQ(calls, expected);
  ASSERT_EQ(fakedevice::written.size(), 1u);
  const std::vector<std::uint8_t>& frame = fakedevice::written[0];
  ASSERT_EQ(frame.size(), c.size);
  EXPECT_EQ(frame[0], c.size - 4);
  EXPECT_EQ(frame[1], 0);
  EXPECT_EQ(frame[2], 1);
  EXPECT_EQ(frame[3], c.type);
  EXPECT_EQ(LogLines().size(), 3u);  // only the connect's lines
}

TEST_P(EfisSenderTest, FailedWriteLogsOnceDropsTheLinkAndSilencesEverySender) {
  const SenderCase& c = GetParam();
  ConnectOk();
  fakedevice::config.writeFailsAt = fakedevice::writes;
  c.send();
  EXPECT_EQ(calls, (Lines{"write 102 " + std::to_string(c.size)}));  // no flush after a failure
  EXPECT_EQ(LogLines().back(), c.failure);
  EXPECT_FALSE(EfisLink.EfisConnected);
  EXPECT_TRUE(button.Enabled());
  calls.clear();
  for (const SenderCase& other : kSenders) other.send();
  SendGpsFrames();
  EXPECT_TRUE(calls.empty());
  EXPECT_EQ(LogLines().size(), 4u);
  EXPECT_TRUE(EfisHandleOpen(EfisLink.WriteChannel));  // a failed send closes nothing
}

INSTANTIATE_TEST_SUITE_P(Kinds, EfisSenderTest, ::testing::ValuesIn(kSenders),
                         [](const auto& info) { return std::string(info.param.name); });

// What each sender hands its fill step: the module state the cycle and the reader keep.
TEST_F(EfisLinkTest, SendersFillFromTheSnapshotTheDerivedValuesAndTheSharedState) {
  SetExtendedPrecision();
  ConnectOk();
  SimSnapshot = TSimSnapshot{};
  FlightDerived = TFlightDerived{};
  ResetSharedState();
  FlightDerived.AltitudeFeet = 0x01020304;
  FlightDerived.BankTenths = 0x0506;
  FlightDerived.LongitudeE7 = 0x0708090A;
  FlightDerived.TrackE5 = 0x0B0C0D0E;
  SimSnapshot.Eng1SpeedA0898 = 65535;  // x 65535 >> 16 = 65534
  SimSnapshot.Eng1ScalerB08C8 = 65535;
  SimSnapshot.Eng2SpeedA0930 = 16384;  // x 10000 >> 16 = 2500
  SimSnapshot.Eng2ScalerB0960 = 10000;
  HeldQnh = 16211;  // 10131 tenths
  ServoStatusValues = 0x00800100u;
  SendSensorFrame();
  SendAttitudeFrame();
  SendGpsFrames();
  SendEngine1Frame();
  SendEngine2Frame();
  SendQnhFrame();
  SendServoStatusFrame();
  const auto& w = fakedevice::written;
  ASSERT_EQ(w.size(), 9u);
  using Bytes = std::vector<std::uint8_t>;
  EXPECT_EQ(Bytes(w[0].begin() + 4, w[0].begin() + 8), (Bytes{4, 3, 2, 1}));
  EXPECT_EQ(Bytes(w[1].begin() + 4, w[1].begin() + 6), (Bytes{6, 5}));
  EXPECT_EQ(Bytes(w[2].begin() + 8, w[2].begin() + 12), (Bytes{0x0A, 9, 8, 7}));
  EXPECT_EQ(Bytes(w[3].begin() + 15, w[3].begin() + 19), (Bytes{0x0E, 0x0D, 0x0C, 0x0B}));
  EXPECT_EQ(Bytes(w[5].begin() + 4, w[5].begin() + 6), (Bytes{0xFE, 0xFF}));
  EXPECT_EQ(Bytes(w[6].begin() + 4, w[6].begin() + 6), (Bytes{0xC4, 0x09}));
  EXPECT_EQ(Bytes(w[7].begin() + 4, w[7].begin() + 6), (Bytes{0x93, 0x27}));
  EXPECT_EQ(Bytes(w[8].begin() + 6, w[8].begin() + 12), (Bytes{0, 1, 0, 0, 0x80, 0}));

  // A value the fill cannot convert: the fault goes to the cycle, nothing to the pipe.
  calls.clear();
  SimSnapshot.Sensor2848 = std::numeric_limits<double>::quiet_NaN();
  EXPECT_THROW(SendSensorFrame(), EInvalidOp);
  EXPECT_TRUE(calls.empty());
  EXPECT_TRUE(EfisLink.EfisConnected);
  EXPECT_EQ(LogLines().size(), 3u);
  SimSnapshot = TSimSnapshot{};
  FlightDerived = TFlightDerived{};
  ResetSharedState();
}

TEST_F(EfisLinkTest, NothingIsWrittenOrLoggedWhileDisconnected) {
  for (int tick = 0; tick < 50; ++tick) {
    for (const SenderCase& c : kSenders) c.send();
    SendGpsFrames();
  }
  EXPECT_TRUE(calls.empty());
  EXPECT_TRUE(LogLines().empty());
}

TEST_F(EfisLinkTest, GpsGroupWritesOneTwoThreeThenFlushesOnce) {
  ConnectOk();
  SendGpsFrames();
  EXPECT_EQ(calls, (Lines{"write 102 43", "write 102 24", "write 102 20", "flush 102"}));
  ASSERT_EQ(fakedevice::written.size(), 3u);
  EXPECT_EQ(fakedevice::written[0][3], 4);
  EXPECT_EQ(fakedevice::written[1][3], 5);
  EXPECT_EQ(fakedevice::written[2][3], 3);
}

TEST_F(EfisLinkTest, GpsFailureStopsTheRestOfTheGroupAndTheFlush) {
  struct Case {
    int failing;
    Lines calls;
    const char* line;
  };
  const Case cases[] = {
      {0, {"write 102 43"}, "Cannot send GPS 1 data to USB, EFIS disconnected"},
      {1, {"write 102 43", "write 102 24"}, "Cannot send GPS 2 data to USB, EFIS disconnected"},
      {2,
       {"write 102 43", "write 102 24", "write 102 20"},
       "Cannot send GPS 3 data to USB, EFIS disconnected"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.failing);
    SetUp();
    ConnectOk();
    fakedevice::config.writeFailsAt = fakedevice::writes + c.failing;
    const std::size_t before = LogLines().size();
    SendGpsFrames();
    EXPECT_EQ(calls, c.calls);
    const Lines lines = LogLines();
    EXPECT_EQ(Lines(lines.begin() + before, lines.end()), Lines{c.line});
    EXPECT_FALSE(EfisLink.EfisConnected);
    EXPECT_TRUE(button.Enabled());
  }
}

TEST_F(EfisLinkTest, SensorFailureSilencesTheEngineFramesOfTheSameTick) {
  ConnectOk();
  fakedevice::config.writeFailsAt = fakedevice::writes;
  SendSensorFrame();
  SendGpsFrames();
  SendEngine1Frame();
  SendEngine1AuxFrame();
  SendEngine2Frame();
  SendEngine2AuxFrame();
  SendQnhFrame();
  EXPECT_EQ(calls, (Lines{"write 102 30"}));
  EXPECT_EQ(LogLines(), (Lines{kDetected, kReadOk, kWriteOk,
                               "Cannot send sensor data to USB, EFIS disconnected"}));
}

}  // namespace
