#include "timer/FrameTimer.h"

#include <algorithm>

#include "platform/clock.h"

namespace {

TFrameTimerClock FrameTimerClock = platform::TimeGetTime;

// Marks the tick's frame alive while the handler runs, also when it throws. Nested ticks (a
// handler that runs a modal loop) chain, so a destruction reaches every frame on the stack.
struct TickGuard {
  bool*& slot;
  bool* outer;
  bool alive = true;
  explicit TickGuard(bool*& s) : slot(s), outer(s) { slot = &alive; }
  ~TickGuard() {
    if (alive) {
      slot = outer;
    } else if (outer) {
      *outer = false;
    }
  }
  TickGuard(const TickGuard&) = delete;
  TickGuard& operator=(const TickGuard&) = delete;
};

}  // namespace

void SetFrameTimerClock(TFrameTimerClock clock) {
  FrameTimerClock = clock ? clock : platform::TimeGetTime;
}

TCustomFrameTimer::TCustomFrameTimer(TComponent* owner) : TComponent(owner) {
  activeOnly_ = true;
  enabled_ = true;
  SetInterval(1000);
  // Built once here, so attaching the ticks copies a handler instead of making one.
  idleTick_ = [this](TObject* sender, bool& done) { IdleTick(sender, done); };
  messageHook_ = [this](TMessage& message) { return AppMessageHook(message); };
  Application->HookMainWindow(&messageHook_);
}

TCustomFrameTimer::~TCustomFrameTimer() {
  if (aliveDuringTick_) *aliveDuringTick_ = false;
  StopTicks();
  Application->UnhookMainWindow(&messageHook_);
}

void TCustomFrameTimer::Loaded() {
  TComponent::Loaded();
  if (!Designing() && enabled_) StartTicks();
}

void TCustomFrameTimer::SetEnabled(bool value) {
  if (value == enabled_) return;
  enabled_ = value;
  if (Loading()) return;
  if (value) {
    StartTicks();
  } else {
    StopTicks();
  }
}

void TCustomFrameTimer::SetInterval(std::uint32_t value) {
  if (value == interval_) return;
  const auto asSigned = static_cast<std::int32_t>(value);
  interval_ = static_cast<std::uint32_t>(std::max(asSigned, 0));
  intervalDivisor_ = static_cast<std::uint32_t>(std::max(asSigned, 1));
}

void TCustomFrameTimer::SetActiveOnly(bool value) {
  if (value == activeOnly_) return;
  activeOnly_ = value;
  if (value && started_ && !Application->Active()) DetachIdle();
}

void TCustomFrameTimer::FireActivate() {
  if (OnActivate) OnActivate(this);
}

void TCustomFrameTimer::FireDeactivate() {
  if (OnDeactivate) OnDeactivate(this);
}

void TCustomFrameTimer::FireTimer(std::int32_t lagCount) {
  if (OnTimer) OnTimer(this, lagCount);
}

void TCustomFrameTimer::StartTicks() {
  StopTicks();
  if (!activeOnly_ || Application->Active()) AttachIdle();
  started_ = true;
}

void TCustomFrameTimer::StopTicks() {
  if (!started_) return;
  DetachIdle();
  started_ = false;
}

void TCustomFrameTimer::AttachIdle() {
  lastTickTime_ = FrameTimerClock();
  Application->OnIdle = idleTick_;
}

void TCustomFrameTimer::DetachIdle() {
  Application->OnIdle = nullptr;
}

// done stays false so the loop keeps calling; the wake hint lets it sleep until the next tick
// is due instead of polling the clock.
void TCustomFrameTimer::IdleTick(TObject*, bool& done) {
  done = false;
  const std::uint32_t now = FrameTimerClock();
  const std::uint32_t elapsed = now - lastTickTime_;
  if (elapsed < interval_) {
    Application->IdleWakeAfter(interval_ - elapsed);
    return;
  }
  // Measured from now, not from when the tick was due: a stall gives one late tick.
  lastTickTime_ = now;
  auto lagCount = static_cast<std::int32_t>(elapsed / intervalDivisor_);
  if (lagCount < 1) lagCount = 1;
  // Stands if the handler throws; refined below for the time the handler took.
  Application->IdleWakeAfter(interval_);
  {
    TickGuard guard(aliveDuringTick_);
    FireTimer(lagCount);
    if (!guard.alive) return;
  }
  const std::uint32_t sinceTick = FrameTimerClock() - lastTickTime_;
  Application->IdleWakeAfter(sinceTick < interval_ ? interval_ - sinceTick : 0);
}

bool TCustomFrameTimer::AppMessageHook(TMessage& message) {
  if (message.Msg == kAppActivateMessage) {
    FireActivate();
    if (started_ && activeOnly_) AttachIdle();
  } else if (message.Msg == kAppDeactivateMessage) {
    FireDeactivate();
    if (started_ && activeOnly_) DetachIdle();
  }
  return false;
}
