// The EFIS channels of the Windows build, for real under Wine: a unit served by the test
// (tests/support/test_unit.h, message-mode named pipes) stands for the device and its two pipes;
// SetupAPI is asked for real too, and takes only this build's record sizes.
#include <windows.h>
// windows.h first.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "efis/EfisFrames.h"
#include "efis/EfisLink.h"
#include "platform/device.h"
#include "platform/toolkit.h"
#include "standins/efis/frame_check.h"
#include "tests/support/child_process.h"
#include "tests/support/test_unit.h"

namespace {

using Lines = std::vector<std::string>;
using testsupport::Frame;
using testsupport::kEfisClass;

Frame Header(int type, int size) {
  Frame f(size, 0);
  f[0] = static_cast<std::uint8_t>(size - 4);
  f[2] = 1;
  f[3] = static_cast<std::uint8_t>(type);
  return f;
}

// Lower-case hex, for readable failures.
std::string Hex(const Frame& frame) {
  std::string hex;
  char byte[3];
  for (std::uint8_t b : frame) {
    std::snprintf(byte, sizeof byte, "%02x", b);
    hex += byte;
  }
  return hex;
}

// `frame` with `bytes` at `offset`.
Frame With(Frame frame, std::size_t offset, std::initializer_list<std::uint8_t> bytes) {
  for (std::uint8_t b : bytes) frame[offset++] = b;
  return frame;
}

class EfisWineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    EfisAttachWindow(&log, &button);
    EfisLink.EfisConnected = false;
  }
  void TearDown() override {
    EfisCloseHandles();
    EfisAttachWindow(nullptr, nullptr);
  }
  // Serves the unit (one that never reads PIPE01 when `held`) and opens both channels to its
  // pipes, as a click on "Reconnect to EFIS " would.
  void OpenChannels(bool held = false) {
    ASSERT_TRUE(unit.Start()) << unit.ErrorText();
    unit.Hold(held);
    EfisLink.DevicePath = unit.Path();
    EfisLink.EfisConnected = true;
    EfisOpenChannels();
    ASSERT_TRUE(EfisLink.EfisConnected);
  }
  testsupport::TestUnit unit;
  TMemo log{nullptr};
  TButton button{nullptr};
};

TEST_F(EfisWineTest, SetupApiTakesOnlyTheRecordSizeOfThisBuild) {
  static_assert(sizeof(void*) == 8, "the bridge ships as an x86_64 program");
  EXPECT_EQ(platform::kDeviceInterfaceDataSize, 32u);
  EXPECT_EQ(platform::kDeviceInterfaceDetailSize, 8u);
  platform::DeviceInfoSet set = platform::OpenDeviceInterfaceSet(
      kEfisClass, platform::kDigcfPresent | platform::kDigcfDeviceInterface);
  ASSERT_NE(set, platform::kInvalidDeviceInfoSet);
  platform::DeviceInterfaceData data{};
  data.cbSize = 28;  // the 32-bit layout
  EXPECT_FALSE(platform::EnumDeviceInterface(set, kEfisClass, 0, &data));
  const DWORD wrongSize = GetLastError();
  data.cbSize = platform::kDeviceInterfaceDataSize;
  EXPECT_FALSE(platform::EnumDeviceInterface(set, kEfisClass, 0, &data));  // no EFIS here
  EXPECT_EQ(GetLastError(), platform::kErrorNoMoreItems);
  // Refused either way: Windows says ERROR_INVALID_USER_BUFFER, Wine ERROR_INVALID_PARAMETER.
  EXPECT_TRUE(wrongSize == platform::kErrorInvalidUserBuffer ||
              wrongSize == platform::kErrorInvalidParameter)
      << wrongSize;
  EXPECT_TRUE(platform::CloseDeviceInterfaceSet(set));

  EfisConnect();
  EXPECT_EQ(log.Lines.All(),
            (Lines{"Cannot find EFIS on USB. EFIS not responding or driver not installed."}));
  EXPECT_FALSE(EfisLink.EfisConnected);
}

// The paths of the EFIS interfaces present now.
Lines Present() {
  Lines paths;
  platform::DeviceInfoSet set = platform::OpenDeviceInterfaceSet(
      kEfisClass, platform::kDigcfPresent | platform::kDigcfDeviceInterface);
  platform::DeviceInterfaceData data{};
  data.cbSize = platform::kDeviceInterfaceDataSize;
  for (std::uint32_t i = 0; platform::EnumDeviceInterface(set, kEfisClass, i, &data); ++i) {
    alignas(8) char detail[1024];
    std::memcpy(detail, &platform::kDeviceInterfaceDetailSize, 4);
    if (platform::GetDeviceInterfaceDetail(set, &data, detail, sizeof detail, nullptr))
      paths.emplace_back(detail + platform::kDeviceInterfaceDetailPathOffset);
  }
  platform::CloseDeviceInterfaceSet(set);
  return paths;
}

// A unit that is killed cannot withdraw its interface; its link goes with it, and the next
// unit's start removes the entry, so the bridge never keeps finding a unit that has gone.
TEST_F(EfisWineTest, AKilledUnitsInterfaceGoesWithTheNextStart) {
  testsupport::ChildProcess killed;
  const std::string name = testsupport::UniqueUnitName("killed");
  ASSERT_TRUE(killed.Start(KORVAN_EFIS_EXE, {"--unit", name, "--panel", "none"}))
      << killed.ErrorText();
  ASSERT_TRUE(killed.WaitForLine("korvan-efis ready", 60000));
  const Lines ready = killed.Lines();
  const std::string line = ready.front();
  const std::string path = line.substr(line.find(", device ") + 9);
  EXPECT_EQ(Present(), Lines{path});
  HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, killed.ProcessId());
  ASSERT_NE(process, nullptr);
  ASSERT_TRUE(TerminateProcess(process, 9));
  WaitForSingleObject(process, 60000);
  CloseHandle(process);
  EXPECT_EQ(Present(), Lines{path}) << "nobody has removed it yet";

  testsupport::UnitSetup published;
  published.publish = true;
  ASSERT_TRUE(unit.Start(published)) << unit.ErrorText();
  EXPECT_EQ(Present(), Lines{unit.Path()});
  unit.Stop();
  EXPECT_EQ(Present(), Lines{});
}

TEST_F(EfisWineTest, ChannelsOpenAndFramesTravelWhole) {
  OpenChannels();
  ASSERT_EQ(log.Lines.All(), (Lines{"EFIS data read channel OK", "EFIS data write channel OK"}));
  ASSERT_TRUE(EfisHandleOpen(EfisLink.DeviceHandle));

  InitEfisFrames();
  SendAttitudeFrame();  // flushed: returns once the unit has read it
  SendGpsFrames();
  SendQnhFrame();
  SendServoStatusFrame();
  SendEngine1Frame();  // flushed, so every frame before it has been read too
  // With the simulator state all zero: the constants, and the engine temperatures of 0,
  // (0 - 34) / 1.8 = -18 and 0 Rankine = -273 C.
  Frame engine1 = With(Header(1, 64), 10, {0xEE, 0xFF, 0xEE, 0xFF});
  engine1 = With(engine1, 18, {0x64, 0, 0x64, 0, 0xE8, 0x03, 0xEF, 0xFE});
  for (std::size_t at = 32; at < 44; at += 2) engine1 = With(engine1, at, {0xEF, 0xFE});
  for (std::size_t at = 44; at < 56; at += 2) engine1 = With(engine1, at, {0xEE, 0xFF});
  const std::vector<Frame> expected = {
      With(Header(11, 37), 32, {1, 1, 1}),
      With(Header(4, 43), 24, {0xB8, 0x0B, 0, 0, 0xB8, 0x0B, 0, 0}),
      Header(5, 24),
      With(With(Header(3, 20), 4, {6, 0, 0xAA, 0x55, 3}), 16, {0xB8, 0x0B, 0, 0}),
      Header(6, 6),
      Header(15, 20),
      engine1};
  ASSERT_TRUE(unit.WaitForFrames(expected.size()));
  const std::vector<Frame> frames = unit.Frames();
  ASSERT_EQ(frames.size(), expected.size());
  for (std::size_t i = 0; i < frames.size(); ++i) EXPECT_EQ(Hex(frames[i]), Hex(expected[i]));
  for (const Frame& f : frames) {  // and as the unit's own reading of the catalogue has them
    char reason[96];
    EXPECT_EQ(efisunit::CheckOutboundFrame(f.data(), f.size(), reason, sizeof reason), nullptr)
        << reason;
  }

  // A frame from the unit arrives whole in one read.
  const Frame servo = {8, 0, 1, 14, 3, 0, 0x36, 0x58, 0, 0, 0x0A, 0x78};
  ASSERT_TRUE(unit.Send(servo));
  std::uint8_t input[64] = {};
  std::uint32_t got = 0;
  ASSERT_TRUE(platform::ReadDeviceFile(EfisLink.ReadChannel.load(), input, 64, &got));
  EXPECT_EQ(Frame(input, input + got), servo);
}

TEST_F(EfisWineTest, WriteToAClosedPipeIsASendFailure) {
  OpenChannels();
  button.SetEnabled(false);
  InitEfisFrames();
  SendQnhFrame();
  SendQnhFrame();
  ASSERT_TRUE(unit.WaitForFrames(2));
  unit.Drop();  // the unit has gone
  ASSERT_TRUE(unit.WaitForEvent("close PIPE01"));
  SendAttitudeFrame();
  EXPECT_EQ(log.Lines.All(), (Lines{"EFIS data read channel OK", "EFIS data write channel OK",
                                    "Cannot send attitude to USB, EFIS disconnected"}));
  EXPECT_FALSE(EfisLink.EfisConnected);
  EXPECT_TRUE(button.Enabled());
  SendSensorFrame();
  EXPECT_EQ(log.Lines.Count(), 3u);
  EXPECT_EQ(unit.FrameCount(), 2u);
}

// A unit that stops reading its pipe: once the pipe's buffer is full a write would wait for as
// long as the unit hangs. It is cancelled after the bound and fails as an unplugged unit's does.
TEST_F(EfisWineTest, AWriteTheUnitDoesNotTakeFailsWithinTheBound) {
  OpenChannels(true);
  button.SetEnabled(false);
  InitEfisFrames();
  int sent = 0;
  ULONGLONG lastStart = 0, lastEnd = 0;
  while (EfisLink.EfisConnected && sent < 100000) {
    lastStart = GetTickCount64();
    SendServoStatusFrame();  // no flush: only the write waits
    lastEnd = GetTickCount64();
    ++sent;
  }
  EXPECT_GT(sent, 10) << "the frames that had room went out";
  EXPECT_FALSE(EfisLink.EfisConnected);
  EXPECT_GE(lastEnd - lastStart, platform::kDeviceWriteBoundMs - 20);  // the timer's grain
  EXPECT_LT(lastEnd - lastStart, 30000u);
  EXPECT_EQ(log.Lines.All(), (Lines{"EFIS data read channel OK", "EFIS data write channel OK",
                                    "Cannot send servo status to USB, EFIS disconnected"}));
  EXPECT_TRUE(button.Enabled());
  // The next write is its own: it waits its own bound, not the last one's.
  std::uint8_t frame[20] = {16, 0, 1, 15};
  EXPECT_FALSE(platform::WriteDeviceFile(EfisLink.WriteChannel, frame, sizeof frame, nullptr));
  EXPECT_EQ(platform::LastError(), platform::kErrorOperationAborted);
}

// A named pipe's flush waits until the unit has read everything; it is bounded as a write is,
// and its failure changes nothing (the next write says whether the unit is there).
TEST_F(EfisWineTest, AFlushTheUnitDoesNotAnswerEndsWithinTheBound) {
  OpenChannels(true);
  InitEfisFrames();
  const ULONGLONG start = GetTickCount64();
  SendAttitudeFrame();
  const ULONGLONG took = GetTickCount64() - start;
  EXPECT_GE(took, platform::kDeviceWriteBoundMs - 20);
  EXPECT_LT(took, 30000u);
  EXPECT_TRUE(EfisLink.EfisConnected);
  EXPECT_EQ(log.Lines.Count(), 2u);
}

}  // namespace
