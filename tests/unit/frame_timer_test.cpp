// The frame timer against a headless application and a clock the tests set by hand.
#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <stdexcept>
#include <vector>

#include "platform/clock.h"
#include "platform/null/null_toolkit.h"
#include "platform/toolkit.h"
#include "timer/FrameTimer.h"

namespace {

std::uint32_t fakeNow = 0;
std::uint32_t FakeClock() {
  return fakeNow;
}

void Deliver(std::uint32_t msg) {
  TMessage message{msg, 0, 0, 0};
  Application->Perform(message);
}

// One pass of the message loop with an empty queue; returns the done flag the handler left.
bool Idle() {
  return NullToolkitProcessIdle();
}

// The wait the last idle call asked for; the loop forgets it before each call.
std::uint32_t WakeHint() {
  EXPECT_TRUE(Application->IdleWakeGiven());
  return Application->IdleWakeHint();
}

class FrameTimerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    NullToolkitReset();
    SetFrameTimerClock(FakeClock);
    fakeNow = 1000;
  }
  void TearDown() override {
    SetFrameTimerClock(nullptr);
    NullToolkitReset();
  }

  // As the main window's design sets a timer up: properties while loading, then Loaded.
  void Load(TFrameTimer& timer, std::uint32_t interval, bool activeOnly, bool enabled = true) {
    timer.BeginLoading();
    timer.SetActiveOnly(activeOnly);
    timer.SetEnabled(enabled);
    timer.SetInterval(interval);
    timer.OnTimer = [this, &timer](TObject* sender, std::int32_t lag) {
      EXPECT_EQ(sender, &timer);
      lags.push_back(lag);
    };
    timer.EndLoading();
  }

  // Advances the clock to `at` and runs one idle pass; done must always be left false.
  void IdleAt(std::uint32_t at) {
    fakeNow = at;
    EXPECT_FALSE(Idle());
  }

  std::vector<std::int32_t> lags;
};

TEST_F(FrameTimerTest, ConstructionSetsDefaultsHooksAndStartsNothing) {
  TFrameTimer timer(nullptr);
  EXPECT_TRUE(timer.ActiveOnly());
  EXPECT_TRUE(timer.Enabled());
  EXPECT_FALSE(timer.Started());
  EXPECT_EQ(timer.Interval(), 1000u);
  EXPECT_EQ(timer.IntervalDivisor(), 1000u);
  EXPECT_FALSE(Application->OnIdle);

  int activations = 0, deactivations = 0;
  timer.OnActivate = [&](TObject* sender) {
    EXPECT_EQ(sender, &timer);
    ++activations;
  };
  timer.OnDeactivate = [&](TObject* sender) {
    EXPECT_EQ(sender, &timer);
    ++deactivations;
  };
  Deliver(kAppActivateMessage);
  EXPECT_EQ(activations, 1);
  EXPECT_TRUE(Application->Active()) << "the hook must not consume the message";
  Deliver(kAppDeactivateMessage);
  EXPECT_EQ(deactivations, 1);
  EXPECT_FALSE(Application->Active());
  Deliver(0xB002);
  EXPECT_EQ(activations + deactivations, 2);
  EXPECT_FALSE(Application->OnIdle) << "an unstarted timer attaches nothing on activation";
}

// Each row: a fresh timer attached at 1000, one idle call `elapsed` ms later.
struct FirstTickCase {
  std::uint32_t interval;
  std::uint32_t elapsed;
  bool ticks;
  std::int32_t lag;
};

void PrintTo(const FirstTickCase& c, std::ostream* os) {
  *os << "interval " << c.interval << " ms, " << c.elapsed << " ms elapsed";
}

class FirstTickTest : public FrameTimerTest, public ::testing::WithParamInterface<FirstTickCase> {};

TEST_P(FirstTickTest, TicksOnceTheIntervalHasPassedWithWholeIntervalsAsLag) {
  const FirstTickCase& c = GetParam();
  TFrameTimer timer(nullptr);
  Load(timer, c.interval, false);
  ASSERT_TRUE(Application->OnIdle);
  EXPECT_EQ(timer.LastTickTime(), 1000u);
  IdleAt(1000 + c.elapsed);
  if (c.ticks) {
    EXPECT_EQ(lags, std::vector<std::int32_t>{c.lag});
    EXPECT_EQ(timer.LastTickTime(), 1000 + c.elapsed);
  } else {
    EXPECT_TRUE(lags.empty());
    EXPECT_EQ(timer.LastTickTime(), 1000u);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Elapsed, FirstTickTest,
    ::testing::Values(FirstTickCase{50, 0, false, 0}, FirstTickCase{50, 1, false, 0},
                      FirstTickCase{50, 49, false, 0}, FirstTickCase{50, 50, true, 1},
                      FirstTickCase{50, 99, true, 1}, FirstTickCase{50, 100, true, 2},
                      FirstTickCase{50, 230, true, 4}, FirstTickCase{1000, 999, false, 0},
                      FirstTickCase{1000, 2999, true, 2}, FirstTickCase{0, 0, true, 1},
                      FirstTickCase{0, 1, true, 1}, FirstTickCase{0, 7, true, 7},
                      FirstTickCase{1, 0, false, 0}, FirstTickCase{1, 5, true, 5}));

TEST_F(FrameTimerTest, StallGivesOneLateTickAndTheNextIsMeasuredFromIt) {
  TFrameTimer timer(nullptr);
  Load(timer, 50, false);
  IdleAt(1050);
  IdleAt(1280);  // 230 ms stall
  IdleAt(1281);
  IdleAt(1329);
  EXPECT_EQ(lags, (std::vector<std::int32_t>{1, 4}));
  IdleAt(1330);
  EXPECT_EQ(lags, (std::vector<std::int32_t>{1, 4, 1}));
}

TEST_F(FrameTimerTest, IntervalZeroTicksOnEveryIdleCall) {
  TFrameTimer timer(nullptr);
  Load(timer, 0, false);
  IdleAt(1000);
  IdleAt(1000);
  IdleAt(1003);
  IdleAt(1003);
  IdleAt(1100);
  EXPECT_EQ(lags, (std::vector<std::int32_t>{1, 1, 3, 1, 97}));
}

struct IntervalCase {
  std::uint32_t value;
  std::uint32_t interval;
  std::uint32_t divisor;
};

void PrintTo(const IntervalCase& c, std::ostream* os) {
  *os << "Interval " << c.value;
}

class IntervalSetterTest : public FrameTimerTest,
                           public ::testing::WithParamInterface<IntervalCase> {};

TEST_P(IntervalSetterTest, ValueIsReadAsSigned) {
  const IntervalCase& c = GetParam();
  TFrameTimer timer(nullptr);
  timer.SetInterval(c.value);
  EXPECT_EQ(timer.Interval(), c.interval);
  EXPECT_EQ(timer.IntervalDivisor(), c.divisor);
}

INSTANTIATE_TEST_SUITE_P(Values, IntervalSetterTest,
                         ::testing::Values(IntervalCase{0, 0, 1}, IntervalCase{1, 1, 1},
                                           IntervalCase{50, 50, 50},
                                           IntervalCase{0x7FFFFFFF, 0x7FFFFFFF, 0x7FFFFFFF},
                                           IntervalCase{0x80000000, 0, 1},
                                           IntervalCase{0x80000001, 0, 1},
                                           IntervalCase{0xFFFFFFFF, 0, 1}));

TEST_F(FrameTimerTest, IntervalOfTwoToThe31TicksEveryCallWithLagInMilliseconds) {
  TFrameTimer timer(nullptr);
  Load(timer, 0x80000000u, false);
  IdleAt(1000);
  IdleAt(1040);
  EXPECT_EQ(lags, (std::vector<std::int32_t>{1, 40}));
}

TEST_F(FrameTimerTest, SettingTheSameIntervalChangesNothingAndNewOnesApplyWithoutRestart) {
  TFrameTimer timer(nullptr);
  Load(timer, 50, false);
  IdleAt(1030);
  timer.SetInterval(50);
  EXPECT_EQ(timer.LastTickTime(), 1000u);
  EXPECT_EQ(timer.IntervalDivisor(), 50u);
  IdleAt(1050);
  EXPECT_EQ(lags, std::vector<std::int32_t>{1});

  // A new interval is used by the next idle call, measured from the last tick.
  timer.SetInterval(20);
  EXPECT_EQ(timer.LastTickTime(), 1050u);
  IdleAt(1069);
  IdleAt(1110);
  EXPECT_EQ(lags, (std::vector<std::int32_t>{1, 3}));

  // 0 after 2^31 (both stored as 0): unchanged, still ticking on every call.
  timer.SetInterval(0x80000000u);
  timer.SetInterval(0);
  EXPECT_EQ(timer.Interval(), 0u);
  EXPECT_EQ(timer.IntervalDivisor(), 1u);
  IdleAt(1110);
  EXPECT_EQ(lags.back(), 1);
}

TEST_F(FrameTimerTest, EnabledAtRunTimeAttachesWithAFreshClockAndDisablingClearsTheSlot) {
  TFrameTimer timer(nullptr);
  Load(timer, 50, false, false);
  EXPECT_FALSE(timer.Started());
  EXPECT_FALSE(Application->OnIdle);

  fakeNow = 5000;
  timer.SetEnabled(true);
  EXPECT_TRUE(timer.Started());
  ASSERT_TRUE(Application->OnIdle);
  EXPECT_EQ(timer.LastTickTime(), 5000u);
  IdleAt(5049);
  EXPECT_TRUE(lags.empty());
  IdleAt(5050);
  EXPECT_EQ(lags, std::vector<std::int32_t>{1});

  // The same value again neither restarts nor resets the clock.
  fakeNow = 5070;
  timer.SetEnabled(true);
  EXPECT_EQ(timer.LastTickTime(), 5050u);

  // Disabling clears the slot, whatever it holds by then.
  int foreignCalls = 0;
  Application->OnIdle = [&](TObject*, bool&) { ++foreignCalls; };
  timer.SetEnabled(false);
  EXPECT_FALSE(timer.Started());
  EXPECT_FALSE(Application->OnIdle);
  EXPECT_EQ(foreignCalls, 0);
  fakeNow = 9000;
  EXPECT_TRUE(Idle()) << "nothing attached: the loop may wait";
  EXPECT_EQ(lags.size(), 1u);
}

TEST_F(FrameTimerTest, EnabledWhileLoadingOnlyStoresTheFlag) {
  TFrameTimer timer(nullptr);
  timer.BeginLoading();
  timer.SetActiveOnly(false);
  timer.SetEnabled(false);
  timer.SetEnabled(true);
  EXPECT_TRUE(timer.Enabled());
  EXPECT_FALSE(timer.Started());
  EXPECT_FALSE(Application->OnIdle);
  fakeNow = 2000;
  timer.EndLoading();
  EXPECT_TRUE(timer.Started());
  EXPECT_TRUE(Application->OnIdle);
  EXPECT_EQ(timer.LastTickTime(), 2000u);

  TFrameTimer disabled(nullptr);
  Application->OnIdle = nullptr;
  disabled.BeginLoading();
  disabled.SetActiveOnly(false);
  disabled.SetEnabled(false);
  disabled.EndLoading();
  EXPECT_FALSE(disabled.Started());
  EXPECT_FALSE(Application->OnIdle);
}

TEST_F(FrameTimerTest, OwnedTimerIsLoadedWithItsForm) {
  TForm form(nullptr);
  auto* timer = new TFrameTimer(&form);
  form.BeginLoading();
  timer->SetActiveOnly(false);
  timer->SetInterval(50);
  EXPECT_FALSE(timer->Started());
  form.EndLoading();
  EXPECT_TRUE(timer->Started());
  EXPECT_TRUE(Application->OnIdle);
}

TEST_F(FrameTimerTest, ActiveOnlyFollowsActivationWithAFreshClock) {
  Deliver(kAppActivateMessage);
  TFrameTimer timer(nullptr);
  int activations = 0, deactivations = 0;
  timer.OnActivate = [&](TObject*) { ++activations; };
  timer.OnDeactivate = [&](TObject*) { ++deactivations; };
  Load(timer, 50, true);
  ASSERT_TRUE(Application->OnIdle);
  IdleAt(1050);
  EXPECT_EQ(lags, std::vector<std::int32_t>{1});

  fakeNow = 1060;
  Deliver(kAppDeactivateMessage);
  EXPECT_EQ(deactivations, 1);
  EXPECT_TRUE(timer.Started());
  EXPECT_FALSE(Application->OnIdle);

  fakeNow = 3000;
  Deliver(kAppActivateMessage);
  EXPECT_EQ(activations, 1);
  ASSERT_TRUE(Application->OnIdle);
  EXPECT_EQ(timer.LastTickTime(), 3000u);
  IdleAt(3049);
  EXPECT_EQ(lags.size(), 1u);
  IdleAt(3050);
  EXPECT_EQ(lags, (std::vector<std::int32_t>{1, 1}));
}

TEST_F(FrameTimerTest, ActiveOnlyStartedWhileInactiveWaitsForActivation) {
  TFrameTimer timer(nullptr);
  Load(timer, 50, true);
  EXPECT_TRUE(timer.Started());
  EXPECT_FALSE(Application->OnIdle);
  fakeNow = 4000;
  Deliver(kAppActivateMessage);
  ASSERT_TRUE(Application->OnIdle);
  EXPECT_EQ(timer.LastTickTime(), 4000u);
  IdleAt(4050);
  EXPECT_EQ(lags, std::vector<std::int32_t>{1});
}

TEST_F(FrameTimerTest, WithoutActiveOnlyActivationOnlyRaisesTheHandlers) {
  TFrameTimer timer(nullptr);
  int activations = 0, deactivations = 0;
  timer.OnActivate = [&](TObject*) { ++activations; };
  timer.OnDeactivate = [&](TObject*) { ++deactivations; };
  Load(timer, 50, false);
  IdleAt(1030);
  Deliver(kAppActivateMessage);
  Deliver(kAppDeactivateMessage);
  EXPECT_EQ(activations, 1);
  EXPECT_EQ(deactivations, 1);
  ASSERT_TRUE(Application->OnIdle);
  EXPECT_EQ(timer.LastTickTime(), 1000u);
  IdleAt(1050);
  EXPECT_EQ(lags, std::vector<std::int32_t>{1});
}

TEST_F(FrameTimerTest, ActiveOnlySetWhileRunning) {
  TFrameTimer timer(nullptr);
  Load(timer, 50, false);

  // Active: the ticks go on.
  Deliver(kAppActivateMessage);
  timer.SetActiveOnly(true);
  ASSERT_TRUE(Application->OnIdle);
  IdleAt(1050);
  EXPECT_EQ(lags, std::vector<std::int32_t>{1});

  // Inactive: setting it detaches at once.
  timer.SetActiveOnly(false);
  Deliver(kAppDeactivateMessage);
  EXPECT_TRUE(Application->OnIdle);
  timer.SetActiveOnly(true);
  EXPECT_FALSE(Application->OnIdle);
  EXPECT_TRUE(timer.Started());
}

TEST_F(FrameTimerTest, ClockWrapAroundKeepsTicking) {
  fakeNow = 0xFFFFFFF0u;
  TFrameTimer timer(nullptr);
  timer.BeginLoading();
  timer.SetActiveOnly(false);
  timer.SetInterval(50);
  timer.OnTimer = [this](TObject*, std::int32_t lag) { lags.push_back(lag); };
  timer.EndLoading();
  IdleAt(0x00000021u);  // 49 ms across the wrap
  EXPECT_TRUE(lags.empty());
  IdleAt(0x00000022u);
  EXPECT_EQ(lags, std::vector<std::int32_t>{1});
  IdleAt(0x00000022u + 120);
  EXPECT_EQ(lags, (std::vector<std::int32_t>{1, 2}));
}

TEST_F(FrameTimerTest, DestructionClearsTheSlotAndRemovesTheHook) {
  int activations = 0;
  {
    TFrameTimer timer(nullptr);
    timer.OnActivate = [&](TObject*) { ++activations; };
    Load(timer, 50, false);
    ASSERT_TRUE(Application->OnIdle);
  }
  EXPECT_FALSE(Application->OnIdle);
  Deliver(kAppActivateMessage);
  EXPECT_EQ(activations, 0);

  // A timer that never started leaves the slot alone.
  int foreignCalls = 0;
  Application->OnIdle = [&](TObject*, bool&) { ++foreignCalls; };
  { TFrameTimer idleTimer(nullptr); }
  ASSERT_TRUE(Application->OnIdle);
  Idle();
  EXPECT_EQ(foreignCalls, 1);
}

TEST_F(FrameTimerTest, TwoTimersShareTheSingleSlot) {
  TFrameTimer first(nullptr), second(nullptr);
  std::vector<int> order;
  int activations = 0;
  first.OnActivate = second.OnActivate = [&](TObject*) { ++activations; };
  for (TFrameTimer* t : {&first, &second}) {
    t->BeginLoading();
    t->SetActiveOnly(false);
    t->SetInterval(50);
    t->OnTimer = [&order, &first](TObject* sender, std::int32_t) {
      order.push_back(sender == &first ? 1 : 2);
    };
  }
  first.EndLoading();
  IdleAt(1050);
  second.EndLoading();  // attaches at 1050, replacing the first
  IdleAt(1100);
  IdleAt(1200);
  EXPECT_EQ(order, (std::vector<int>{1, 2, 2}));

  first.SetEnabled(false);  // a detach by either clears the slot
  EXPECT_FALSE(Application->OnIdle);
  EXPECT_TRUE(second.Started());
  Deliver(kAppActivateMessage);
  EXPECT_EQ(activations, 2);
}

TEST_F(FrameTimerTest, WakeHintIsTheWaitUntilTheNextTick) {
  TFrameTimer timer(nullptr);
  std::uint32_t handlerTakes = 0;
  Load(timer, 50, false);
  timer.OnTimer = [&](TObject*, std::int32_t lag) {
    lags.push_back(lag);
    fakeNow += handlerTakes;
  };
  IdleAt(1000);
  EXPECT_EQ(WakeHint(), 50u);
  IdleAt(1010);
  EXPECT_EQ(WakeHint(), 40u);
  IdleAt(1049);
  EXPECT_EQ(WakeHint(), 1u);
  IdleAt(1050);  // tick, handler instant
  EXPECT_EQ(WakeHint(), 50u);
  handlerTakes = 30;
  IdleAt(1100);  // tick, the handler's 30 ms count against the next wait
  EXPECT_EQ(WakeHint(), 20u);
  handlerTakes = 70;
  IdleAt(1180);  // tick, the handler overran the interval: due now
  EXPECT_EQ(WakeHint(), 0u);
  IdleAt(1250);
  EXPECT_EQ(lags, (std::vector<std::int32_t>{1, 1, 1, 1}));

  timer.SetInterval(0);
  handlerTakes = 0;
  IdleAt(1300);
  EXPECT_EQ(WakeHint(), 0u);
}

TEST_F(FrameTimerTest, HandlerThatThrowsLeavesTheTimerTicking) {
  TFrameTimer timer(nullptr);
  Load(timer, 50, false);
  timer.OnTimer = [&](TObject*, std::int32_t lag) {
    lags.push_back(lag);
    throw std::runtime_error("bad tick");
  };
  fakeNow = 1060;
  bool done = true;
  EXPECT_THROW(Application->OnIdle(Application, done), std::runtime_error);
  EXPECT_FALSE(done);
  EXPECT_EQ(timer.LastTickTime(), 1060u);
  EXPECT_EQ(WakeHint(), 50u) << "a failed tick must not make the loop spin";

  // Through the loop: the error is reported, the next tick comes one interval later.
  IdleAt(1110);
  EXPECT_EQ(NullToolkitMessageBoxCount(), 1);
  EXPECT_EQ(NullToolkitLastMessageBox().Text, "bad tick");
  EXPECT_EQ(WakeHint(), 50u);
  IdleAt(1159);
  EXPECT_EQ(lags, (std::vector<std::int32_t>{1, 1}));
  EXPECT_EQ(WakeHint(), 1u);
}

TEST_F(FrameTimerTest, HandlerMayDestroyItsOwnTimer) {
  auto* timer = new TFrameTimer(nullptr);
  timer->BeginLoading();
  timer->SetActiveOnly(false);
  timer->SetInterval(50);
  timer->OnTimer = [&](TObject* sender, std::int32_t) {
    lags.push_back(0);
    delete static_cast<TFrameTimer*>(sender);
  };
  timer->EndLoading();
  IdleAt(1050);
  EXPECT_EQ(lags.size(), 1u);
  EXPECT_FALSE(Application->OnIdle);
  EXPECT_EQ(WakeHint(), 50u);
}

TEST_F(FrameTimerTest, HandlerMayRestartItsTimer) {
  TFrameTimer timer(nullptr);
  Load(timer, 50, false);
  timer.OnTimer = [&](TObject*, std::int32_t lag) {
    lags.push_back(lag);
    fakeNow += 10;
    timer.SetEnabled(false);
    fakeNow += 5;
    timer.SetEnabled(true);  // attached again at 1065
  };
  IdleAt(1050);
  EXPECT_EQ(timer.LastTickTime(), 1065u);
  EXPECT_EQ(WakeHint(), 50u);
  ASSERT_TRUE(Application->OnIdle);
  IdleAt(1114);
  IdleAt(1115);
  EXPECT_EQ(lags, (std::vector<std::int32_t>{1, 1}));
}

TEST_F(FrameTimerTest, PlatformClockIsRestoredByNull) {
  SetFrameTimerClock(nullptr);
  TFrameTimer timer(nullptr);
  timer.SetActiveOnly(false);
  const std::uint32_t before = platform::TimeGetTime();
  timer.SetEnabled(false);
  timer.SetEnabled(true);
  const std::uint32_t after = platform::TimeGetTime();
  EXPECT_LE(timer.LastTickTime() - before, after - before);
}

// The real loop and clock: the loop sleeps until each tick is due instead of polling. A
// polling loop makes hundreds of thousands of idle calls in this time.
TEST_F(FrameTimerTest, RealLoopWaitsForTheNextTick) {
  SetFrameTimerClock(nullptr);
  TFrameTimer timer(nullptr);
  Load(timer, 50, false);
  // 300 ms at a time until a tick has come: a busy machine may hold the loop up for a while.
  for (int run = 0; run < 100 && lags.empty(); ++run) {
    const std::uint64_t idleCalls = NullToolkitRunFor(300);
    EXPECT_LT(idleCalls, 100u);
    EXPECT_LE(lags.size(), 7u);
  }
  EXPECT_GE(lags.size(), 1u);
  for (std::int32_t lag : lags) EXPECT_GE(lag, 1);
}

}  // namespace
