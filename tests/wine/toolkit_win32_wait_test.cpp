// The Win32 loop's timed wait, under Wine: it ends as the millisecond clock shows the one due,
// never before it, and a wake or a message ends it at once.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <thread>

#include "platform/clock.h"
#include "platform/toolkit_backend.h"

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

}  // namespace
