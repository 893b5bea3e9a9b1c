// The EFIS link on the POSIX backend against korvan-efis in another process.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <string>
#include <vector>

#include "efis/EfisFrames.h"
#include "efis/EfisLink.h"
#include "platform/device.h"
#include "platform/toolkit.h"
#include "tests/support/child_process.h"

namespace {

using testsupport::ChildProcess;
using Lines = std::vector<std::string>;

const char kDetected[] = "EFIS detected on USB, driver initialized.";
const char kNotFound[] = "Cannot find EFIS on USB. EFIS not responding or driver not installed.";
const char kReadOk[] = "EFIS data read channel OK";
const char kWriteOk[] = "EFIS data write channel OK";
constexpr int kWaitMs = 30000;

class EfisUnitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = testsupport::MakeTestRuntimeDir("efis");
    EfisAttachWindow(&log, &button);
    EfisLink.DevicePath.clear();
    EfisLink.EfisConnected = false;
  }
  void TearDown() override {
    EfisCloseHandles();
    EfisAttachWindow(nullptr, nullptr);
    for (ChildProcess& unit : units) unit.Stop();
    testsupport::RemoveTree(dir);
  }

  ChildProcess& StartUnit(std::vector<std::string> args) {
    args.push_back("--verbose");
    ChildProcess& unit = units[started++];
    EXPECT_TRUE(unit.Start(KORVAN_EFIS_PATH, args)) << unit.ErrorText();
    EXPECT_TRUE(unit.WaitForLine("korvan-efis ready", kWaitMs));
    return unit;
  }

  // The namespace root of docs/posix-platform.md, under the test's XDG_RUNTIME_DIR.
  std::string Root() const { return dir + "/korvan-win32"; }
  std::string UsbPath(const std::string& unit) const { return Root() + "/usb/" + unit; }

  std::string dir;
  TMemo log{nullptr};
  TButton button{nullptr};
  ChildProcess units[2];
  int started = 0;
};

// Payload bytes (lower-case hex) at an offset; every byte not given is 0.
struct PayloadAt {
  int offset;
  const char* hex;
};

// The frame as the catalogue lays it out: header, then the payload.
std::string ExpectedHex(int type, int size, std::initializer_list<PayloadAt> payload = {}) {
  std::string hex;
  char byte[3];
  const int header[4] = {size - 4, 0, 1, type};
  for (int i = 0; i < size; ++i) {
    std::snprintf(byte, sizeof byte, "%02x", i < 4 ? header[i] : 0);
    hex += byte;
  }
  for (const PayloadAt& p : payload) hex.replace(2 * p.offset, std::strlen(p.hex), p.hex);
  return hex;
}

TEST_F(EfisUnitTest, FullConnectOpensDeviceAndBothPipes) {
  ChildProcess& unit = StartUnit({"--unit", "efis0"});
  button.SetEnabled(true);
  EfisConnect();
  EXPECT_EQ(log.Lines.All(), (Lines{kDetected, kReadOk, kWriteOk}));
  EXPECT_TRUE(EfisLink.EfisConnected);
  EXPECT_FALSE(button.Enabled());
  EXPECT_EQ(EfisLink.DevicePath, UsbPath("efis0"));
  EXPECT_TRUE(unit.WaitForLine("open device", kWaitMs));
  EXPECT_TRUE(unit.WaitForLine("open PIPE00", kWaitMs));
  EXPECT_TRUE(unit.WaitForLine("open PIPE01", kWaitMs));
}

TEST_F(EfisUnitTest, NoUnitGivesOneLineAndStillStampsHeaders) {
  std::memset(QnhFrame, 0, sizeof QnhFrame);
  EfisConnect();
  EXPECT_EQ(log.Lines.All(), (Lines{kNotFound}));
  EXPECT_FALSE(EfisLink.EfisConnected);
  EXPECT_TRUE(button.Enabled());
  EXPECT_EQ(QnhFrame[0], 2);
  EXPECT_EQ(QnhFrame[3], 6);
}

TEST_F(EfisUnitTest, RefusedOpensGiveTheirLines) {
  struct Case {
    const char* option;
    Lines lines;
    const char* refused;
  };
  const Case cases[] = {
      {"--fail-device", {kDetected, "Cannot get device handle for EFIS USB connection"}, "device"},
      {"--refuse-read", {kDetected, "Cannot open data read channel to EFIS", kWriteOk}, "PIPE00"},
      {"--refuse-write", {kDetected, kReadOk, "Cannot open data write channel to EFIS"}, "PIPE01"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.option);
    ChildProcess unit;
    ASSERT_TRUE(unit.Start(KORVAN_EFIS_PATH, {c.option, "--verbose"}));
    ASSERT_TRUE(unit.WaitForLine("korvan-efis ready", kWaitMs));
    TMemo caseLog(nullptr);
    EfisAttachWindow(&caseLog, &button);
    button.SetEnabled(true);
    EfisConnect();
    EXPECT_EQ(caseLog.Lines.All(), c.lines);
    EXPECT_FALSE(EfisLink.EfisConnected);
    EXPECT_TRUE(button.Enabled());
    EXPECT_TRUE(unit.WaitForLine(std::string("refuse ") + c.refused, kWaitMs));
    EfisCloseHandles();
    EfisAttachWindow(&log, &button);
    unit.Stop();
    if (std::strcmp(c.option, "--fail-device") == 0) {
      EXPECT_EQ(unit.CountLines("PIPE0"), 0);  // no pipe open was tried
    }
  }
}

TEST_F(EfisUnitTest, OfTwoUnitsTheLastEnumeratedIsOpened) {
  ChildProcess& b = StartUnit({"--unit", "b"});
  ChildProcess& a = StartUnit({"--unit", "a"});
  EfisConnect();
  EXPECT_EQ(EfisLink.DevicePath, UsbPath("b"));
  EXPECT_TRUE(b.WaitForLine("open PIPE01", kWaitMs));
  EXPECT_EQ(a.CountLines("open"), 0);
}

TEST_F(EfisUnitTest, AStaleEntryIsNotPresent) {
  {
    ChildProcess unit;
    ASSERT_TRUE(unit.Start(KORVAN_EFIS_PATH, {"--unit", "gone"}));
    ASSERT_TRUE(unit.WaitForLine("korvan-efis ready", kWaitMs));
    unit.Stop();
  }
  // An entry left by a unit that died without cleaning up: no lock on it.
  const std::string classDir = Root() + "/devices/{0577ABC6-B5F2-4025-8230-AA4F8C0E9E60}";
  std::ofstream(classDir + "/gone") << UsbPath("gone");
  EfisConnect();
  EXPECT_EQ(log.Lines.All(), (Lines{kNotFound}));
}

TEST_F(EfisUnitTest, EveryKindArrivesWithItsHeaderAndSize) {
  ChildProcess& unit = StartUnit({});
  EfisConnect();
  ASSERT_TRUE(EfisLink.EfisConnected);
  SendSensorFrame();
  SendEngine1Frame();
  SendEngine2Frame();
  SendGpsFrames();
  SendQnhFrame();
  SendAttitudeFrame();
  SendEngine1AuxFrame();
  SendEngine2AuxFrame();
  SendServoStatusFrame();
  // What an all-zero simulator state gives: static pressure 0 - 389 at sensor offset 8;
  // engine temperatures (0 - 34) / 1.8 = -18 and 0 Rankine = -273 C; the constants.
  const std::string engine1 = ExpectedHex(1, 64,
                                          {{10, "eeffeeff"},
                                           {18, "64006400e803"},
                                           {24, "effe"},
                                           {32, "effeeffeeffeeffeeffeeffe"},
                                           {44, "eeffeeffeeffeeffeeffeeff"}});
  const std::string engine2 = ExpectedHex(2, 64,
                                          {{10, "eeffeeff"},
                                           {24, "effe"},
                                           {32, "effeeffeeffeeffeeffeeffe"},
                                           {44, "eeffeeffeeffeeffeeffeeff"}});
  struct Kind {
    int type;
    int size;
    std::string hex;
  };
  const Kind kinds[] = {
      {0, 30, ExpectedHex(0, 30, {{8, "7bfe"}})},
      {1, 64, engine1},
      {2, 64, engine2},
      {4, 43, ExpectedHex(4, 43, {{24, "b80b0000b80b0000"}})},
      {5, 24, ExpectedHex(5, 24)},
      {3, 20, ExpectedHex(3, 20, {{4, "0600aa5503"}, {16, "b80b0000"}})},
      {6, 6, ExpectedHex(6, 6)},
      {11, 37, ExpectedHex(11, 37, {{32, "010101"}})},
      {12, 9, ExpectedHex(12, 9, {{4, "fc08"}})},
      {13, 9, ExpectedHex(13, 9, {{4, "fc08"}})},
      {15, 20, ExpectedHex(15, 20)},
  };
  for (const Kind& k : kinds) {
    const std::string line =
        "frame type " + std::to_string(k.type) + ", " + std::to_string(k.size) + " bytes: " + k.hex;
    EXPECT_TRUE(unit.WaitForLine(line, kWaitMs)) << line;
  }
  unit.Stop();
  EXPECT_EQ(unit.CountLines("bad frame"), 0);
  EXPECT_EQ(unit.CountLines(" bytes: "), 11);
  // The unit keeps the last frame of each kind and shows them as it stops.
  EXPECT_EQ(unit.CountLines("last frame type "), 11);
  EXPECT_EQ(unit.CountLines("last frame type 11: " + kinds[7].hex), 1);
  EXPECT_TRUE(unit.WaitForLine("stopped after 11 frames", kWaitMs));
  EXPECT_EQ(log.Lines.Count(), 3u);
}

TEST_F(EfisUnitTest, UnitReportsAMalformedFrameWithItsBytes) {
  ChildProcess& unit = StartUnit({});
  EfisConnect();
  ASSERT_TRUE(EfisLink.EfisConnected);
  const std::uint8_t shortAttitude[5] = {33, 0, 1, 11, 0x7F};
  EXPECT_TRUE(platform::WriteDeviceFile(EfisLink.WriteChannel, shortAttitude, 5, nullptr));
  const std::uint8_t badMarker[6] = {2, 0, 2, 6, 0, 0};
  EXPECT_TRUE(platform::WriteDeviceFile(EfisLink.WriteChannel, badMarker, 6, nullptr));
  EXPECT_TRUE(unit.WaitForLine("bad frame (type 11 has 5 bytes, not 37): 2100010b7f", kWaitMs));
  EXPECT_TRUE(unit.WaitForLine("bad frame (type 6: byte 2 is 2, not 1): 020002060000", kWaitMs));
}

TEST_F(EfisUnitTest, UnplugDropsTheLinkOnceAndAReconnectOpensFreshHandles) {
  ChildProcess& unit = StartUnit({"--drop-after", "2"});
  EfisConnect();
  ASSERT_TRUE(EfisLink.EfisConnected);
  SendAttitudeFrame();
  SendAttitudeFrame();
  ASSERT_TRUE(unit.WaitForLine("dropped every connection after 2 frames", kWaitMs));
  ASSERT_TRUE(unit.WaitForLine("close PIPE01", kWaitMs));
  SendAttitudeFrame();  // the unit is gone: this write fails
  EXPECT_EQ(log.Lines.All(), (Lines{kDetected, kReadOk, kWriteOk,
                                    "Cannot send attitude to USB, EFIS disconnected"}));
  EXPECT_FALSE(EfisLink.EfisConnected);
  EXPECT_TRUE(button.Enabled());
  SendSensorFrame();  // later senders of the tick stay silent
  SendServoStatusFrame();
  SendGpsFrames();
  EXPECT_EQ(log.Lines.Count(), 4u);

  EfisConnect();  // the unit serves again, as after a re-plug
  const Lines lines = log.Lines.All();
  EXPECT_EQ(Lines(lines.begin() + 4, lines.end()), (Lines{kDetected, kReadOk, kWriteOk}));
  EXPECT_TRUE(EfisLink.EfisConnected);
  EXPECT_FALSE(button.Enabled());
  SendQnhFrame();
  EXPECT_TRUE(unit.WaitForLine("frame type 6, 6 bytes: 020001060000", kWaitMs));
  EXPECT_EQ(unit.CountLines("open PIPE01"), 2);
}

TEST_F(EfisUnitTest, ReconnectReleasesThePipesBeforeOpeningThemAgain) {
  // A pipe takes one opener: a reconnect that did not close first would be refused.
  ChildProcess& unit = StartUnit({});
  EfisConnect();
  ASSERT_TRUE(EfisLink.EfisConnected);
  EfisConnect();
  EXPECT_TRUE(EfisLink.EfisConnected);
  const Lines lines = log.Lines.All();
  EXPECT_EQ(Lines(lines.begin() + 3, lines.end()), (Lines{kDetected, kReadOk, kWriteOk}));
  EXPECT_TRUE(unit.WaitForLine("close PIPE00", kWaitMs));
  EXPECT_TRUE(unit.WaitForLines("open PIPE01", 2, kWaitMs));
  EXPECT_EQ(unit.CountLines("refuse"), 0);
  EXPECT_EQ(unit.CountLines("open PIPE00"), 2);
}

// An opener of the test's own, by the device contract: a connect to the pipe's socket.
int ConnectRaw(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
  const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// The unit's answer byte to an open (1 opened, 0 refused), -1 when none came.
int AnswerOf(int fd) {
  pollfd p{fd, POLLIN, 0};
  unsigned char answer = 0;
  if (fd < 0 || poll(&p, 1, kWaitMs) != 1 || recv(fd, &answer, 1, 0) != 1) return -1;
  return answer;
}

// True once the process is stopped (state T in /proc), waiting up to kWaitMs.
bool WaitStopped(pid_t pid) {
  for (int i = 0; i < kWaitMs / 10; ++i) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const std::size_t end = text.rfind(')');
    if (end != std::string::npos && end + 2 < text.size() && text[end + 2] == 'T') return true;
    usleep(10000);
  }
  return false;
}

// The unit's opens, closes and refusals of one channel in order; for PIPE01 also the frames
// (their kind only).
Lines EventsOf(ChildProcess& unit, const std::string& channel) {
  Lines events;
  for (const std::string& line : unit.Lines()) {
    if (line.rfind("frame type ", 0) == 0 && channel == "PIPE01") {
      events.push_back(line.substr(0, line.find(',')));
    } else if (line.size() > channel.size() &&
               line.rfind(channel) == line.size() - channel.size() &&
               line.find(' ') == line.rfind(' ')) {
      events.push_back(line);
    }
  }
  return events;
}

// The unit is held still while the link closes its pipes and new openers connect: when it
// wakes it finds each close and the next open together, and counts the close first. A frame
// sent just before the close is still taken in.
TEST_F(EfisUnitTest, APipeClosedWhileTheUnitIsBusyIsFreeForTheNextOpen) {
  ChildProcess& unit = StartUnit({});
  EfisConnect();
  ASSERT_TRUE(EfisLink.EfisConnected);
  ASSERT_TRUE(unit.WaitForLine("open PIPE01", kWaitMs));
  const pid_t pid = static_cast<pid_t>(unit.ProcessId());
  ASSERT_EQ(kill(pid, SIGSTOP), 0);
  ASSERT_TRUE(WaitStopped(pid));
  SendQnhFrame();
  EfisCloseHandles();
  const int readPipe = ConnectRaw(UsbPath("efis0") + "\\PIPE00");
  const int writePipe = ConnectRaw(UsbPath("efis0") + "\\PIPE01");
  ASSERT_EQ(kill(pid, SIGCONT), 0);
  EXPECT_EQ(AnswerOf(readPipe), 1);
  EXPECT_EQ(AnswerOf(writePipe), 1);
  EXPECT_EQ(unit.Stop(), 0);
  if (readPipe >= 0) close(readPipe);
  if (writePipe >= 0) close(writePipe);
  EXPECT_EQ(EventsOf(unit, "PIPE00"), (Lines{"open PIPE00", "close PIPE00", "open PIPE00"}));
  EXPECT_EQ(EventsOf(unit, "PIPE01"),
            (Lines{"open PIPE01", "frame type 6", "close PIPE01", "open PIPE01"}));
  EXPECT_EQ(unit.CountLines("refuse"), 0);
}

TEST_F(EfisUnitTest, ShutdownCloseReleasesAllThreeAndTheUnitLeavesNothingBehind) {
  ChildProcess& unit = StartUnit({});
  EfisConnect();
  ASSERT_TRUE(EfisLink.EfisConnected);
  EfisCloseHandles();
  EXPECT_EQ(EfisLink.DeviceHandle, 0u);
  EXPECT_EQ(EfisLink.ReadChannel.load(), 0u);
  EXPECT_EQ(EfisLink.WriteChannel, 0u);
  EXPECT_TRUE(unit.WaitForLine("close device", kWaitMs));
  EXPECT_TRUE(unit.WaitForLine("close PIPE00", kWaitMs));
  EXPECT_TRUE(unit.WaitForLine("close PIPE01", kWaitMs));
  EXPECT_EQ(unit.Stop(), 0);
  EXPECT_TRUE(testsupport::FilesUnder(Root()).empty());
}

TEST_F(EfisUnitTest, RecordKeepsEveryEventAndFrame) {
  const std::string record = dir + "/record.txt";
  ChildProcess& unit = StartUnit({"--record", record});
  EfisConnect();
  SendQnhFrame();
  ASSERT_TRUE(unit.WaitForLine("frame type 6", kWaitMs));
  unit.Stop();
  std::ifstream in(record);
  Lines events;
  for (std::string line; std::getline(in, line);) {
    events.push_back(line.substr(line.find(' ') + 1));  // without the time stamp
  }
  EXPECT_EQ(events, (Lines{"open device", "open PIPE00", "open PIPE01", "frame 6 6 020001060000"}));
}

TEST(EfisUnitOptions, BadOptionsAreRefused) {
  const std::string dir = testsupport::MakeTestRuntimeDir("efis-options");
  for (const Lines& args :
       {Lines{"--drop-after", "0"}, Lines{"--bogus"}, Lines{"--unit"}, Lines{"--unit", "a/b"}}) {
    ChildProcess unit;
    EXPECT_TRUE(unit.Start(KORVAN_EFIS_PATH, args));
    EXPECT_TRUE(unit.WaitForExit(kWaitMs));
    EXPECT_EQ(unit.ExitCode(), 2) << args[0];
  }
  testsupport::RemoveTree(dir);
}

}  // namespace
