// The frame timer: a tick raised from the application's idle processing, at most once per
// Interval milliseconds, with the number of whole intervals that went by. No system timer: while
// its ticks are attached the timer holds the application's single idle-handler slot. Everything
// here runs on the user-interface thread.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/toolkit.h"

// lagCount: whole intervals since the previous tick (at least 1).
using TFrameTimerEvent = std::function<void(TObject* sender, std::int32_t lagCount)>;

// The millisecond clock every frame timer reads; the platform's timeGetTime by default. Tests
// put a clock of their own in; nullptr puts the platform's back.
using TFrameTimerClock = std::uint32_t (*)();
void SetFrameTimerClock(TFrameTimerClock clock);

class TCustomFrameTimer : public TComponent {
 public:
  // ActiveOnly and Enabled true, Interval 1000, the activation hook in place; ticks are not
  // started until Loaded() (or Enabled set at run time).
  explicit TCustomFrameTimer(TComponent* owner);
  ~TCustomFrameTimer() override;

  void Loaded() override;

  // Started: ticks run, or wait for the application's activation when ActiveOnly.
  bool Started() const { return started_; }
  // The interval lags are counted in; never 0.
  std::uint32_t IntervalDivisor() const { return intervalDivisor_; }
  // Clock value of the last tick, or of the moment the ticks were attached.
  std::uint32_t LastTickTime() const { return lastTickTime_; }

 protected:
  bool ActiveOnly() const { return activeOnly_; }
  // True while started and the application is inactive detaches the ticks at once.
  void SetActiveOnly(bool value);
  bool Enabled() const { return enabled_; }
  // While loading only the flag is stored; Loaded() starts the ticks.
  void SetEnabled(bool value);
  std::uint32_t Interval() const { return interval_; }
  // Read as signed: 0 and every value of 2^31 or more tick on each idle call. Running ticks are
  // not restarted; the next idle call uses the new value.
  void SetInterval(std::uint32_t value);

  TNotifyEvent OnActivate;
  TNotifyEvent OnDeactivate;
  TFrameTimerEvent OnTimer;

  virtual void FireActivate();
  virtual void FireDeactivate();
  virtual void FireTimer(std::int32_t lagCount);

 private:
  void StartTicks();
  void StopTicks();
  void AttachIdle();
  void DetachIdle();
  void IdleTick(TObject* sender, bool& done);
  bool AppMessageHook(TMessage& message);

  bool activeOnly_ = false;
  bool enabled_ = false;
  bool started_ = false;
  std::uint32_t interval_ = 0;
  std::uint32_t intervalDivisor_ = 0;
  std::uint32_t lastTickTime_ = 0;
  TMessageHook messageHook_;
  TIdleEvent idleTick_;
  // Set while OnTimer runs, so a handler that destroys its own timer ends the tick cleanly.
  bool* aliveDuringTick_ = nullptr;
};

class TFrameTimer : public TCustomFrameTimer {
 public:
  using TCustomFrameTimer::TCustomFrameTimer;

  using TCustomFrameTimer::ActiveOnly;
  using TCustomFrameTimer::Enabled;
  using TCustomFrameTimer::Interval;
  using TCustomFrameTimer::SetActiveOnly;
  using TCustomFrameTimer::SetEnabled;
  using TCustomFrameTimer::SetInterval;

  using TCustomFrameTimer::OnActivate;
  using TCustomFrameTimer::OnDeactivate;
  using TCustomFrameTimer::OnTimer;
};
