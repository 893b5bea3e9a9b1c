// The Win32 loop's timed wait, under Wine: it ends as the millisecond clock shows the one due,
// never before it, and a wake or a message ends it at once. And what the loop sets up before
// its first wait: the opt-out of power throttling that keeps the fine timer behind a covering
// window.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/toolkit_backend.h"
#include "platform/win32/win32_power.h"

namespace {

class Win32Wait : public ::testing::Test {
 protected:
  void SetUp() override {
    ToolkitBackendRunBegins();  // the fine timer, as the loop has it
    MSG drained;
    while (PeekMessageA(&drained, nullptr, 0, 0, PM_REMOVE)) {
    }
  }
  void TearDown() override { ToolkitBackendRunEnded(); }
};

TEST_F(Win32Wait, EndsWhenTheClockHasMovedOnByTheSpanNeverBefore) {
  for (std::uint32_t span : {1u, 2u, 3u, 7u, 50u}) {
    for (int round = 0; round < 10; ++round) {
      SCOPED_TRACE(testing::Message() << span << " ms, round " << round);
      const std::uint32_t from = platform::TimeGetTime();
      ASSERT_TRUE(ToolkitBackendWait(span)) << "nothing but the time can have ended it";
      const std::uint32_t waited = platform::TimeGetTime() - from;
      EXPECT_GE(waited, span);
      EXPECT_LT(waited, span + 2000) << "a loaded machine may be late, not this late";
    }
  }
}

TEST_F(Win32Wait, AWakeFromAnotherThreadEndsItAtOnce) {
  std::thread waker([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ToolkitBackendWake();
  });
  const auto from = std::chrono::steady_clock::now();
  EXPECT_FALSE(ToolkitBackendWait(60000));
  waker.join();
  EXPECT_LT(std::chrono::steady_clock::now() - from, std::chrono::seconds(30));
}

TEST_F(Win32Wait, APostedMessageEndsItAndAWaitWithoutLimitToo) {
  PostThreadMessageA(GetCurrentThreadId(), WM_APP, 0, 0);
  EXPECT_FALSE(ToolkitBackendWait(60000));
  PostThreadMessageA(GetCurrentThreadId(), WM_APP, 0, 0);
  EXPECT_FALSE(ToolkitBackendWait(kToolkitWaitForever));
  MSG drained;
  while (PeekMessageA(&drained, nullptr, 0, 0, PM_REMOVE)) {
  }
}

// ---- The opt-out of power throttling ----

struct ThrottlingCall {
  HANDLE process;
  PROCESS_INFORMATION_CLASS informationClass;
  DWORD size;
  PROCESS_POWER_THROTTLING_STATE state;
};
std::vector<ThrottlingCall> Calls;
BOOL Answer = TRUE;

BOOL WINAPI RecordingSetProcessInformation(HANDLE process, PROCESS_INFORMATION_CLASS kind,
                                           LPVOID information, DWORD size) {
  ThrottlingCall call{process, kind, size, {}};
  if (size == sizeof call.state) std::memcpy(&call.state, information, size);
  Calls.push_back(call);
  if (!Answer) SetLastError(ERROR_INVALID_PARAMETER);
  return Answer;
}

class PowerThrottling : public ::testing::Test {
 protected:
  void SetUp() override {
    Calls.clear();
    Answer = TRUE;
  }
  void TearDown() override { platform::win32::LookUpSetProcessInformation = saved_; }

  // What the loop's start (TApplication::Run's first step, before it shows a window or waits)
  // has called.
  static std::vector<ThrottlingCall> CallsOfTheLoopsStart() {
    ToolkitBackendRunBegins();
    std::vector<ThrottlingCall> seen = Calls;
    ToolkitBackendRunEnded();
    return seen;
  }
  static void UseRecorder() {
    platform::win32::LookUpSetProcessInformation = [] {
      return static_cast<platform::win32::SetProcessInformationFunction>(
          RecordingSetProcessInformation);
    };
  }

  platform::win32::SetProcessInformationLookup saved_ =
      platform::win32::LookUpSetProcessInformation;
};

TEST_F(PowerThrottling, TheLoopOptsOutOfBothFlagsOneCallEachBeforeItsFirstWait) {
  UseRecorder();
  const std::vector<ThrottlingCall> calls = CallsOfTheLoopsStart();
  ASSERT_EQ(calls.size(), 2u);
  // Timer requests honoured while hidden, then no EcoQoS: each flag controlled and off.
  const ULONG flags[] = {0x4, 0x1};
  for (std::size_t i = 0; i < calls.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(calls[i].process, GetCurrentProcess());
    EXPECT_EQ(static_cast<int>(calls[i].informationClass), 4) << "ProcessPowerThrottling";
    EXPECT_EQ(calls[i].size, 12u);
    EXPECT_EQ(calls[i].state.Version, 1u);
    EXPECT_EQ(calls[i].state.ControlMask, flags[i]);
    EXPECT_EQ(calls[i].state.StateMask, 0u);
  }
}

TEST_F(PowerThrottling, ARefusedFlagCostsNotTheOtherAndNoFunctionIsNoCall) {
  UseRecorder();
  Answer = FALSE;  // an older Windows: the second call is still made
  EXPECT_EQ(platform::OptOutOfPowerThrottling(), 0);
  EXPECT_EQ(Calls.size(), 2u);
  Answer = TRUE;
  EXPECT_EQ(platform::OptOutOfPowerThrottling(), 2);
  platform::win32::LookUpSetProcessInformation =
      []() -> platform::win32::SetProcessInformationFunction { return nullptr; };
  Calls.clear();
  EXPECT_EQ(platform::OptOutOfPowerThrottling(), 0);
  EXPECT_TRUE(CallsOfTheLoopsStart().empty());
}

// This Wine has the function and refuses these classes; real Windows 11 takes both.
TEST_F(PowerThrottling, TheSystemsOwnFunctionIsFoundAndAsked) {
  ASSERT_NE(platform::win32::LookUpSetProcessInformation(), nullptr);
  const int taken = platform::OptOutOfPowerThrottling();
  EXPECT_GE(taken, 0);
  EXPECT_LE(taken, 2);
}

}  // namespace
