// The manual-reset events of platform/thread.h, on the backend of the build (POSIX, or Win32
// under Wine): set until reset, a wait that changes nothing, a set from another thread that ends
// a wait, and on POSIX a kill that ends it too.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/ipc.h"
#include "platform/thread.h"

namespace {

using namespace std::chrono_literals;

// A platform thread that waits on `event` once and tells how the wait ended; its handle is
// released with the kill at the end.
struct Waiter {
  explicit Waiter(platform::Handle waitOn) : event(waitOn), thread(platform::StartThread(&start)) {}
  ~Waiter() {
    if (thread != 0) platform::KillThread(thread);
  }
  platform::Handle event;
  std::atomic<int> result{-1};  // -1 waiting, 0 false, 1 true
  std::atomic<std::uint32_t> error{0};
  const platform::ThreadStart start{Body, this};
  platform::Handle thread;

  static void Body(void* context) {
    auto& waiter = *static_cast<Waiter*>(context);
    const bool set = platform::WaitForManualEvent(waiter.event);
    waiter.error = platform::LastError();
    waiter.result = set ? 1 : 0;
  }
  bool Ended() {
    for (int i = 0; i < 3000 && result.load() < 0; ++i) std::this_thread::sleep_for(10ms);
    return result.load() >= 0;
  }
};

class ManualEvent : public ::testing::Test {
 protected:
  void SetUp() override { event_ = platform::CreateManualEvent(); }
  void TearDown() override {
    if (event_ != 0) platform::CloseKernelHandle(event_);
  }
  platform::Handle event_ = 0;
};

TEST_F(ManualEvent, StaysSetForEveryWaitUntilReset) {
  ASSERT_NE(event_, 0u);
  EXPECT_TRUE(platform::SetManualEvent(event_));
  EXPECT_TRUE(platform::SetManualEvent(event_)) << "setting a set event changes nothing";
  EXPECT_TRUE(platform::WaitForManualEvent(event_));
  EXPECT_TRUE(platform::WaitForManualEvent(event_)) << "a wait takes nothing away";
  EXPECT_TRUE(platform::ResetManualEvent(event_));
  EXPECT_TRUE(platform::ResetManualEvent(event_));
  EXPECT_TRUE(platform::SetManualEvent(event_));
  EXPECT_TRUE(platform::WaitForManualEvent(event_));
}

TEST_F(ManualEvent, ASetFromAnotherThreadEndsAWaitAndAResetOneWaits) {
  ASSERT_NE(event_, 0u);
  Waiter waiter(event_);
  ASSERT_NE(waiter.thread, 0u);
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(waiter.result.load(), -1) << "a reset event holds its waiter";
  ASSERT_TRUE(platform::SetManualEvent(event_));
  ASSERT_TRUE(waiter.Ended());
  EXPECT_EQ(waiter.result.load(), 1);
}

// A body that has returned may be killed at any moment after: its thread may be on its way out
// or gone. Every kill releases its handle and leaves the process able to start threads (on
// Windows a thread killed in its own exit path would leave the loader's lock held: the next
// thread would never start, the process never exit).
TEST(Threads, AThreadWhoseBodyHasReturnedCanBeKilledAtAnyMoment) {
  static std::atomic<int> ran{0};
  static const platform::ThreadStart quick{[](void*) { ran.fetch_add(1); }, nullptr};
  for (int i = 0; i < 300; ++i) {
    const int before = ran.load();
    const platform::Handle thread = platform::StartThread(&quick);
    ASSERT_NE(thread, 0u) << "thread " << i;
    for (int spin = 0; spin < 200000 && ran.load() == before; ++spin) std::this_thread::yield();
    for (int spin = 0; spin < i % 50; ++spin) std::this_thread::yield();
    platform::KillThread(thread);
  }
  Waiter last(0);  // the event 0 is refused at once: the thread only has to run
  ASSERT_NE(last.thread, 0u);
  EXPECT_TRUE(last.Ended());
}

#ifndef _WIN32
// Windows ends a killed thread wherever it is; the POSIX kill has to end the wait itself.
TEST_F(ManualEvent, AKillEndsAWaitAtOnceWithoutSettingTheEvent) {
  ASSERT_NE(event_, 0u);
  Waiter waiter(event_);
  ASSERT_NE(waiter.thread, 0u);
  std::this_thread::sleep_for(50ms);
  ASSERT_TRUE(platform::KillThread(waiter.thread));
  waiter.thread = 0;
  ASSERT_TRUE(waiter.Ended());
  EXPECT_EQ(waiter.result.load(), 0);
  EXPECT_EQ(waiter.error.load(), platform::kErrorOperationAborted);

  // A killed waiter takes nothing from the next one: it never changes the event.
  Waiter next(event_);
  ASSERT_TRUE(platform::SetManualEvent(event_));
  ASSERT_TRUE(next.Ended());
  EXPECT_EQ(next.result.load(), 1);
}

TEST_F(ManualEvent, AHandleThatIsNoEventIsRefused) {
  EXPECT_FALSE(platform::SetManualEvent(0x3FF));
  EXPECT_EQ(platform::LastError(), platform::kErrorInvalidHandle);
  EXPECT_FALSE(platform::WaitForManualEvent(0x3FF));
  EXPECT_EQ(platform::LastError(), platform::kErrorInvalidHandle);
}
#endif

}  // namespace
