// The device contract, both halves at once: an opener through platform/device.h against a unit
// served through platform/device_server.h, on the backend of the build (POSIX sockets under the
// namespace root; Win32 named pipes and SetupAPI, under Wine). One list for both backends: what
// is one backend's own is in posix_device_test.cpp and tests/wine/efis_wine_test.cpp.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/device.h"
#include "platform/device_server.h"
#include "tests/support/child_process.h"
#include "tests/support/test_unit.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

using namespace platform;

// The unit's driver hands over one transfer per read. A Win32 named pipe does that only in
// message read mode, which its opener chooses (and needs the right to set its handle's state
// for); a POSIX packet is one frame already.
#ifdef _WIN32
constexpr std::uint32_t kMayReadWholeMessages = FILE_WRITE_ATTRIBUTES;
bool ReadWholeMessages(Handle pipe) {
  DWORD mode = PIPE_READMODE_MESSAGE;
  return SetNamedPipeHandleState(reinterpret_cast<HANDLE>(pipe), &mode, nullptr, nullptr);
}
#else
constexpr std::uint32_t kMayReadWholeMessages = 0;
bool ReadWholeMessages(Handle) {
  return true;
}
#endif
using testsupport::Frame;
using Lines = std::vector<std::string>;

constexpr std::uint32_t kPresentInterfaces = kDigcfPresent | kDigcfDeviceInterface;

// A frame of `size` bytes whose bytes count up from `first`.
Frame Counting(std::size_t size, std::uint8_t first) {
  Frame frame(size);
  for (std::size_t i = 0; i < size; ++i) frame[i] = static_cast<std::uint8_t>(first + i);
  return frame;
}

Lines Sorted(Lines lines) {
  std::sort(lines.begin(), lines.end());
  return lines;
}

// The events of one channel and the frames, in order.
Lines EventsOf(const Lines& events, const std::string& channel) {
  Lines found;
  for (const std::string& event : events) {
    if (event.rfind("frame ", 0) == 0 || event.substr(event.find(' ') + 1) == channel)
      found.push_back(event);
  }
  return found;
}

class DeviceContract : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = testsupport::MakeTestRuntimeDir("device-contract"); }
  void TearDown() override {
    for (Handle h : open_) CloseKernelHandle(h);
    unit.Stop();
    testsupport::RemoveTree(dir_);
  }

  void Serve(const testsupport::UnitSetup& setup = {}) {
    ASSERT_TRUE(unit.Start(setup)) << unit.ErrorText();
  }
  // The device as the bridge opens it, or one of its pipes (read: PIPE00, write: PIPE01). The
  // handle is closed at the end of the test unless Close closed it first.
  Handle OpenDevice() {
    return Kept(OpenDeviceFile(unit.Path().c_str(), kGenericRead | kGenericWrite,
                               kFileShareRead | kFileShareWrite, kOpenExisting, 0));
  }
  Handle OpenPipe(const char* pipe, std::uint32_t access) {
    return Kept(OpenDeviceFile(unit.Path(pipe).c_str(), access, 0, kOpenExisting, 0));
  }
  void Close(Handle h) {
    open_.erase(std::remove(open_.begin(), open_.end(), h), open_.end());
    EXPECT_TRUE(CloseKernelHandle(h));
  }
  // The paths of the class's interfaces present now.
  Lines Enumerate() {
    Lines paths;
    DeviceInfoSet set = OpenDeviceInterfaceSet(testsupport::kEfisClass, kPresentInterfaces);
    EXPECT_NE(set, kInvalidDeviceInfoSet);
    DeviceInterfaceData data{};
    data.cbSize = kDeviceInterfaceDataSize;
    for (std::uint32_t i = 0; EnumDeviceInterface(set, testsupport::kEfisClass, i, &data); ++i) {
      std::uint32_t required = 0;
      EXPECT_FALSE(GetDeviceInterfaceDetail(set, &data, nullptr, 0, &required));
      EXPECT_EQ(LastError(), kErrorInsufficientBuffer);
      std::vector<char> detail(required + 8, '#');
      std::memcpy(detail.data(), &kDeviceInterfaceDetailSize, 4);
      EXPECT_TRUE(GetDeviceInterfaceDetail(set, &data, detail.data(), required, nullptr));
      paths.emplace_back(detail.data() + kDeviceInterfaceDetailPathOffset);
      EXPECT_EQ(required, kDeviceInterfaceDetailPathOffset + paths.back().size() + 1);
      EXPECT_EQ(detail[required], '#') << "not one byte past the size given";
    }
    EXPECT_EQ(LastError(), kErrorNoMoreItems);
    EXPECT_TRUE(CloseDeviceInterfaceSet(set));
    return paths;
  }

  testsupport::TestUnit unit;

 private:
  Handle Kept(Handle h) {
    if (h != kInvalidHandle) open_.push_back(h);
    return h;
  }
  std::string dir_;
  std::vector<Handle> open_;
};

TEST_F(DeviceContract, APublishedUnitIsFoundThroughItsClassUntilItStops) {
  testsupport::UnitSetup setup;
  setup.publish = true;
  Serve(setup);
  const std::string path = unit.Path();
  const Lines present = Enumerate();
  EXPECT_EQ(std::count(present.begin(), present.end(), path), 1) << path;
  // The path the interface gives leads to the device and its pipes.
  EXPECT_NE(OpenDevice(), kInvalidHandle) << LastError();
  const Handle toUnit = OpenPipe("PIPE01", kGenericWrite);
  const Handle fromUnit = OpenPipe("PIPE00", kGenericRead);
  ASSERT_NE(toUnit, kInvalidHandle) << LastError();
  ASSERT_NE(fromUnit, kInvalidHandle) << LastError();
  const Frame qnh = {2, 0, 1, 6, 0x94, 0x27};
  EXPECT_TRUE(WriteDeviceFile(toUnit, qnh.data(), 6, nullptr)) << LastError();
  ASSERT_TRUE(unit.WaitForFrames(1));
  EXPECT_EQ(unit.Frames()[0], qnh);
  ASSERT_TRUE(unit.WaitForEvent("open PIPE00"));
  ASSERT_TRUE(unit.Send(qnh));
  std::uint8_t buffer[64];
  std::uint32_t done = 0;
  EXPECT_TRUE(ReadDeviceFile(fromUnit, buffer, sizeof buffer, &done)) << LastError();
  EXPECT_EQ(Frame(buffer, buffer + done), qnh);
  unit.Stop();
  const Lines after = Enumerate();
  EXPECT_EQ(std::count(after.begin(), after.end(), path), 0) << "withdrawn with its server";

  Serve();  // not published: served, but listed by no set
  const Lines unlisted = Enumerate();
  EXPECT_EQ(std::count(unlisted.begin(), unlisted.end(), unit.Path()), 0);
  EXPECT_NE(OpenDevice(), kInvalidHandle);
}

TEST_F(DeviceContract, TheDeviceTakesSeveralOpenersAndEachPipeOne) {
  Serve();
  EXPECT_FALSE(DeviceReadPipeOpen(unit.Server()));
  ASSERT_NE(OpenDevice(), kInvalidHandle) << LastError();
  ASSERT_TRUE(unit.WaitForEvent("open device"));
  ASSERT_NE(OpenDevice(), kInvalidHandle) << LastError();
  ASSERT_NE(OpenPipe("PIPE00", kGenericRead), kInvalidHandle) << LastError();
  ASSERT_NE(OpenPipe("PIPE01", kGenericWrite), kInvalidHandle) << LastError();
  ASSERT_TRUE(unit.WaitForEvent("open PIPE01"));
  ASSERT_TRUE(unit.WaitForEvent("open device", 2));
  ASSERT_TRUE(unit.WaitForEvent("open PIPE00"));
  EXPECT_EQ(Sorted(unit.Events()),
            (Lines{"open PIPE00", "open PIPE01", "open device", "open device"}));
  EXPECT_TRUE(DeviceReadPipeOpen(unit.Server()));
}

TEST_F(DeviceContract, ARefusedChannelFailsItsOpenAndLeavesTheOthersOpen) {
  const char* const pipes[kDeviceChannels] = {nullptr, "PIPE00", "PIPE01"};
  for (int refused = 0; refused < kDeviceChannels; ++refused) {
    SCOPED_TRACE(kDeviceChannelNames[refused]);
    testsupport::UnitSetup setup;
    setup.refuse[refused] = true;
    Serve(setup);
    for (int c = 0; c < kDeviceChannels; ++c) {
      const Handle h =
          c == 0 ? OpenDevice() : OpenPipe(pipes[c], c == 1 ? kGenericRead : kGenericWrite);
      if (c == refused) {
        EXPECT_EQ(h, kInvalidHandle);
        EXPECT_EQ(LastError(), kRefusedOpenError);
      } else {
        EXPECT_NE(h, kInvalidHandle) << kDeviceChannelNames[c] << " " << LastError();
        if (h != kInvalidHandle) Close(h);
      }
    }
    unit.Stop();
  }
}

// Each write is one frame at the unit, whole, and each frame the unit sends is one read; a frame
// longer than the unit keeps is still one frame, its size told.
TEST_F(DeviceContract, OneWriteIsOneFrameAndOneFrameIsOneRead) {
  Serve();
  const Handle toUnit = OpenPipe("PIPE01", kGenericWrite);
  const Handle fromUnit = OpenPipe("PIPE00", kGenericRead);
  ASSERT_NE(toUnit, kInvalidHandle);
  ASSERT_NE(fromUnit, kInvalidHandle);
  const Frame written[3] = {Counting(37, 1), Counting(kServedFrameBytes + 88, 7), Counting(6, 9)};
  for (const Frame& frame : written) {
    std::uint32_t done = 0;
    ASSERT_TRUE(
        WriteDeviceFile(toUnit, frame.data(), static_cast<std::uint32_t>(frame.size()), &done))
        << LastError();
    EXPECT_EQ(done, frame.size());
  }
  ASSERT_TRUE(unit.WaitForFrames(3));
  EXPECT_EQ(unit.FrameSizes(), (std::vector<std::uint32_t>{37, kServedFrameBytes + 88, 6}));
  const std::vector<Frame> taken = unit.Frames();
  EXPECT_EQ(taken[0], written[0]);
  EXPECT_EQ(taken[1], Frame(written[1].begin(), written[1].begin() + kServedFrameBytes));
  EXPECT_EQ(taken[2], written[2]);

  ASSERT_TRUE(unit.WaitForEvent("open PIPE00"));
  const Frame sent[2] = {Counting(12, 40), Counting(6, 60)};
  for (const Frame& frame : sent) ASSERT_TRUE(unit.Send(frame));
  for (const Frame& frame : sent) {
    std::uint8_t buffer[64] = {};
    std::uint32_t done = 0;
    ASSERT_TRUE(ReadDeviceFile(fromUnit, buffer, sizeof buffer, &done)) << LastError();
    EXPECT_EQ(Frame(buffer, buffer + done), frame);
  }
}

// The reader asks for 64 bytes: a longer frame gives its first 64, and the rest of it is gone.
TEST_F(DeviceContract, AFrameLongerThanTheReadIsOneFrameCutToTheRead) {
  Serve();
  const Handle fromUnit = OpenPipe("PIPE00", kGenericRead | kMayReadWholeMessages);
  ASSERT_NE(fromUnit, kInvalidHandle);
  ASSERT_TRUE(ReadWholeMessages(fromUnit)) << LastError();
  ASSERT_TRUE(unit.WaitForEvent("open PIPE00"));
  const Frame longFrame = Counting(100, 0);
  const Frame servo = {8, 0, 1, 14, 3, 0, 0x36, 0x58, 0, 0, 0x0A, 0x78};
  ASSERT_TRUE(unit.Send(longFrame));
  ASSERT_TRUE(unit.Send(servo));
  std::uint8_t buffer[64] = {};
  std::uint32_t done = 0;
  EXPECT_TRUE(ReadDeviceFile(fromUnit, buffer, sizeof buffer, &done)) << LastError();
  EXPECT_EQ(Frame(buffer, buffer + done), Frame(longFrame.begin(), longFrame.begin() + 64));
  EXPECT_TRUE(ReadDeviceFile(fromUnit, buffer, sizeof buffer, &done)) << LastError();
  EXPECT_EQ(Frame(buffer, buffer + done), servo);
}

// A unit that stops reading its pipe: once the pipe is full, the write that finds no room fails
// after the bound instead of holding its caller for as long as the unit hangs. The frames that
// went are whole when the unit reads again, and the next write goes through.
TEST_F(DeviceContract, AWriteTheUnitDoesNotTakeFailsAfterTheBound) {
  Serve();
  unit.Hold(true);
  const Handle toUnit = OpenPipe("PIPE01", kGenericWrite);
  ASSERT_NE(toUnit, kInvalidHandle);
  std::atomic<bool> finished{false};
  int written = 0;
  std::uint32_t error = 0;
  auto failedAfter = std::chrono::steady_clock::duration::zero();
  std::thread writer([&] {
    for (;;) {
      const Frame frame = Counting(64, static_cast<std::uint8_t>(written));
      const auto start = std::chrono::steady_clock::now();
      if (!WriteDeviceFile(toUnit, frame.data(), 64, nullptr)) {
        failedAfter = std::chrono::steady_clock::now() - start;
        error = LastError();
        break;
      }
      ++written;
    }
    finished = true;
  });
  for (int i = 0; i < 6000 && !finished; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  if (!finished) unit.Drop();  // frees the writer, so the test can end
  writer.join();
  ASSERT_TRUE(finished.load());
  EXPECT_GT(written, 10) << "the frames that had room went out";
  EXPECT_EQ(error, kErrorOperationAborted);
  EXPECT_GE(failedAfter, std::chrono::milliseconds(kDeviceWriteBoundMs - 20));  // the timer's grain

  unit.Hold(false);
  ASSERT_TRUE(unit.WaitForFrames(static_cast<std::size_t>(written)));
  const Frame last = Counting(64, 0xA0);
  EXPECT_TRUE(WriteDeviceFile(toUnit, last.data(), 64, nullptr)) << LastError();
  ASSERT_TRUE(unit.WaitForFrames(static_cast<std::size_t>(written) + 1));
  const std::vector<Frame> taken = unit.Frames();
  ASSERT_EQ(taken.size(), static_cast<std::size_t>(written) + 1) << "the failed write sent nothing";
  for (int i = 0; i < written; ++i) EXPECT_EQ(taken[i], Counting(64, static_cast<std::uint8_t>(i)));
  EXPECT_EQ(taken.back(), last);
}

TEST_F(DeviceContract, ACloseEndsAReadBlockedOnAnotherThread) {
  Serve();
  const Handle fromUnit = OpenPipe("PIPE00", kGenericRead);
  ASSERT_NE(fromUnit, kInvalidHandle);
  std::atomic<bool> ended{false};
  bool readOk = true;
  std::thread reader([&] {
    std::uint8_t buffer[64];
    std::uint32_t done = 0;
    readOk = ReadDeviceFile(fromUnit, buffer, sizeof buffer, &done);
    ended = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // in its read (or about to be)
  EXPECT_FALSE(ended.load()) << "no frame came";
  Close(fromUnit);
  EXPECT_TRUE(unit.WaitForEvent("close PIPE00"));
  reader.join();
  EXPECT_FALSE(readOk);
}

// The unit sees the close before the next open, so a pipe's one opener may open it again at once
// (each open once the one before was told: Win32 needs that long to make the next instance).
TEST_F(DeviceContract, APipeIsFreeForItsNextOpenerOnceClosed) {
  Serve();
  constexpr int kOpens = 20;
  for (int i = 0; i < kOpens; ++i) {
    const Handle toUnit = OpenPipe("PIPE01", kGenericWrite);
    ASSERT_NE(toUnit, kInvalidHandle) << "open " << i << ": " << LastError();
    ASSERT_TRUE(unit.WaitForEvent("open PIPE01", i + 1));
    const Frame frame = Counting(6, static_cast<std::uint8_t>(i));
    ASSERT_TRUE(WriteDeviceFile(toUnit, frame.data(), 6, nullptr)) << LastError();
    Close(toUnit);
  }
  ASSERT_TRUE(unit.WaitForEvent("close PIPE01", kOpens));
  Lines expected;
  for (int i = 0; i < kOpens; ++i) {
    for (const char* event : {"open PIPE01", "frame 6", "close PIPE01"}) expected.push_back(event);
  }
  EXPECT_EQ(EventsOf(unit.Events(), "PIPE01"), expected);
  const std::vector<Frame> taken = unit.Frames();
  for (int i = 0; i < kOpens; ++i) EXPECT_EQ(taken[i], Counting(6, static_cast<std::uint8_t>(i)));
}

TEST_F(DeviceContract, TheUnitSeesEachOpenerGoAndItsOpenersSeeItGo) {
  Serve();
  const Handle device = OpenDevice();
  const Handle fromUnit = OpenPipe("PIPE00", kGenericRead);
  const Handle toUnit = OpenPipe("PIPE01", kGenericWrite);
  ASSERT_TRUE(device != kInvalidHandle && fromUnit != kInvalidHandle && toUnit != kInvalidHandle);
  ASSERT_TRUE(unit.WaitForEvent("open PIPE00"));
  Close(fromUnit);
  ASSERT_TRUE(unit.WaitForEvent("close PIPE00"));
  EXPECT_FALSE(DeviceReadPipeOpen(unit.Server()));
  EXPECT_FALSE(unit.Send({2, 0, 1, 6, 0x94, 0x27})) << "no opener to send to";
  Close(device);
  EXPECT_TRUE(unit.WaitForEvent("close device"));

  // Unplugged and plugged in again: the opener's write fails; new opens are taken.
  ASSERT_TRUE(unit.WaitForEvent("open PIPE01"));
  unit.Drop();
  ASSERT_TRUE(unit.WaitForEvent("close PIPE01"));
  const Frame frame = Counting(6, 0);
  EXPECT_FALSE(WriteDeviceFile(toUnit, frame.data(), 6, nullptr));
  const Handle again = OpenPipe("PIPE00", kGenericRead);
  ASSERT_NE(again, kInvalidHandle) << LastError();
  ASSERT_TRUE(unit.WaitForEvent("open PIPE00", 2));
  unit.Stop();  // and gone for good: the opener's read fails
  std::uint8_t buffer[64];
  std::uint32_t done = 0;
  EXPECT_FALSE(ReadDeviceFile(again, buffer, sizeof buffer, &done));
}

// An opener that does not read never holds the unit: a frame with no room is not sent; one sent
// with a wait says whether the opener read it.
TEST_F(DeviceContract, TheUnitsSendsNeverWaitForAnOpenerThatDoesNotRead) {
  Serve();
  const Handle fromUnit = OpenPipe("PIPE00", kGenericRead);
  ASSERT_NE(fromUnit, kInvalidHandle);
  ASSERT_TRUE(unit.WaitForEvent("open PIPE00"));
  const Frame servo = {8, 0, 1, 14, 3, 0, 0x36, 0x58, 0, 0, 0x0A, 0x78};
  EXPECT_FALSE(unit.Send(servo, 100)) << "handed over, but not read";
  int handedOver = 0, refused = 0;
  for (int i = 0; i < 10000; ++i) (unit.Send(servo) ? handedOver : refused) += 1;
  EXPECT_GT(handedOver, 0);
  EXPECT_GT(refused, 0) << "an opener that does not read has no room for 10000 frames";
  EXPECT_FALSE(unit.Send(servo, 100)) << "no room";

  // The opener reads again: what was handed over comes whole and in order, then a frame sent
  // with a wait is read.
  const Frame marker = Counting(6, 0xE0), last = Counting(6, 0xF0);
  std::vector<Frame> read;
  std::atomic<bool> markerSeen{false};
  std::thread reader([&] {
    std::uint8_t buffer[64];
    std::uint32_t done = 0;
    while (ReadDeviceFile(fromUnit, buffer, sizeof buffer, &done)) {
      read.emplace_back(buffer, buffer + done);
      if (read.back() == marker) markerSeen = true;
      if (read.back() == last) break;
    }
  });
  bool queued = false;
  for (int i = 0; i < 6000 && !(queued = unit.Send(marker)); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  for (int i = 0; i < 6000 && queued && !markerSeen; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  const bool lastRead = markerSeen && unit.Send(last, testsupport::kUnitWaitMs);
  if (!lastRead) unit.Drop();  // ends the reader
  reader.join();
  EXPECT_TRUE(lastRead);
  ASSERT_GE(read.size(), 2u);
  EXPECT_EQ(read[read.size() - 2], marker);
  for (std::size_t i = 0; i + 2 < read.size(); ++i) EXPECT_EQ(read[i], servo) << "frame " << i;
}

TEST_F(DeviceContract, AccessIsChecked) {
  Serve();
  const Handle toUnit = OpenPipe("PIPE01", kGenericWrite);
  const Handle fromUnit = OpenPipe("PIPE00", kGenericRead);
  ASSERT_TRUE(toUnit != kInvalidHandle && fromUnit != kInvalidHandle);
  std::uint8_t bytes[6] = {2, 0, 1, 6, 0, 0};
  std::uint32_t done = 0;
  EXPECT_FALSE(ReadDeviceFile(toUnit, bytes, sizeof bytes, &done));
  EXPECT_EQ(LastError(), kErrorAccessDenied);
  EXPECT_FALSE(WriteDeviceFile(fromUnit, bytes, sizeof bytes, &done));
  EXPECT_EQ(LastError(), kErrorAccessDenied);
}

}  // namespace
