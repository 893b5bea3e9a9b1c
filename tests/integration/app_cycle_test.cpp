// The bridge cycle and the main window's handlers against korvan-sim in another process, with
// the shared state set by the test (tests/integration/app_reader_test.cpp has the reader).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "app/Unit1.h"
#include "efis/SharedState.h"
#include "efis/SimSnapshot.h"
#include "platform/null/null_toolkit.h"
#include "simlink/SimLinkClient.h"
#include "tests/integration/cycle_fixture.h"
#include "tests/support/child_process.h"

namespace {

using namespace cycletest;

TEST_F(BridgeCycle, StartWithoutSimulatorLogsTheReasonAndTicksStandStill) {
  CreateWindow();
  ASSERT_GE(Log().size(), 1u);
  EXPECT_EQ(Log()[0], "Cannot connect to Flight Simulator - Cannot link to FSUIPC or WideClient");
  EXPECT_EQ(Log()[1], "Cannot find EFIS on USB. EFIS not responding or driver not installed.");
  EXPECT_FALSE(SimConnected);
  EXPECT_TRUE(Form1->Button1->Enabled());
  EXPECT_EQ(Form1->TrackBar1->Position(), 0);
  EXPECT_EQ(Form1->TrackBar2->Position(), 0);
  EXPECT_EQ(Form1->Label7->Caption(), "Autopilot not engaged");
  EXPECT_TRUE(FirstActivation);
  // Nothing to tick for: the timer rests, and the loop waits for messages alone.
  EXPECT_FALSE(Form1->FrameTimer1->Enabled());
  EXPECT_FALSE(static_cast<bool>(Application->OnIdle));

  ServoFrameSeen = 1;
  for (int i = 0; i < 30; ++i) Tick();
  EXPECT_EQ(PhaseCounter, 0);
  EXPECT_EQ(ReaderIdleTicks.load(), 0) << "the watchdog counts only while connected";
  EXPECT_EQ(Log().size(), 2u);

  // A click once the simulator runs connects.
  StartSim(sim_, "sim");
  Form1->Button1->Click();
  EXPECT_EQ(Log().back(), "Connected to FSX");
  EXPECT_TRUE(SimConnected);
  EXPECT_FALSE(Form1->Button1->Enabled());
}

TEST_F(BridgeCycle, FirstTickIsTheSlowGroupInTableOrder) {
  StartSim(sim_, "sim");
  CreateWindow();
  ASSERT_EQ(Log()[0], "Connected to FSX");
  EXPECT_FALSE(Form1->Button1->Enabled());
  const std::size_t handshake = sim_.BatchCount();

  SimSnapshot.Track0580 = 0xFFFFFFFF00000000u;  // the upper half must be cleared before the read
  Tick();
  EXPECT_EQ(PhaseCounter, 1);
  ASSERT_EQ(sim_.BatchCount(), handshake + 1);
  EXPECT_EQ(sim_.LastBatch(), kSlowGroup);

  // The values arrive in their typed fields, as korvan-sim holds them.
  EXPECT_EQ(SimSnapshot.Track0580, 1073741824u);
  EXPECT_EQ(SimSnapshot.Airspeed02BC, 12800);
  EXPECT_EQ(SimSnapshot.Altitude0574, 914);
  EXPECT_EQ(SimSnapshot.Latitude6010, 52.3086);
  EXPECT_EQ(SimSnapshot.Eng1SpeedA0898, 9600);
  EXPECT_EQ(SimSnapshot.Eng2ScalerB0960, 16384);
  EXPECT_EQ(SimSnapshot.Eng2RankineR3AB0, 816.0);
  EXPECT_EQ(SimSnapshot.OutsideTemp0E8C, 2304);
  EXPECT_EQ(SimSnapshot.Variation02A0, 364);
  EXPECT_EQ(SimSnapshot.Qnh0330, 16211);
  // HeldQnh starts at 0, so the first slow exchange takes the simulator's setting.
  EXPECT_EQ(HeldQnh.load(), 16211);
}

TEST_F(BridgeCycle, TenPhasesMakeSevenExchanges) {
  StartSim(sim_, "sim");
  CreateWindow();
  for (int round = 0; round < 2; ++round) {
    for (int phase = 1; phase <= 10; ++phase) {
      const std::size_t before = sim_.BatchCount();
      Tick();
      const std::uint8_t now = PhaseCounter;
      EXPECT_EQ(now, phase % 10);
      SCOPED_TRACE("phase " + std::to_string(now));
      if (now == 3 || now == 7 || now == 9) {
        EXPECT_EQ(sim_.BatchCount(), before) << "no exchange";
      } else if (now == 1 || now == 5) {
        ASSERT_EQ(sim_.BatchCount(), before + 1);
        EXPECT_EQ(sim_.LastBatch(), kSlowGroup);
      } else {
        ASSERT_EQ(sim_.BatchCount(), before + 1);
        EXPECT_EQ(sim_.LastBatch(), DisengagedBatch());
        EXPECT_EQ(Form1->Label7->Caption(), "AutoPilot is not engaged");
      }
    }
  }
  EXPECT_EQ(CountLog("FlightSim problem: "), 0);
}

TEST_F(BridgeCycle, EngagedTicksWriteTheCommandsAndRefreshTheDisconnectOnThe31st) {
  StartSim(sim_, "sim");
  CreateWindow();
  Tick();                 // phase 1
  BankServoCmd = 1234;    // 0x04D2
  PitchServoCmd = -2000;  // 0xF830
  AutopilotEngaged = 1;
  const std::vector<Record> engaged =
      Join(kFastReads, {Write(0x0BB6, 2, "D204"), Write(0x0BB2, 2, "30F8")});
  const std::vector<Record> refresh = Join(
      kFastReads, {Write(0x310A, 1, "03"), Write(0x0BB6, 2, "D204"), Write(0x0BB2, 2, "30F8")});

  for (int engagedTick = 1; engagedTick <= 62; ++engagedTick) {
    DisengageCountdown = 20;  // news from the reader every tick keeps it engaged
    FastTick();
    ASSERT_EQ(PhaseCounter % 2, 0);
    SCOPED_TRACE("engaged fast tick " + std::to_string(engagedTick));
    EXPECT_EQ(sim_.LastBatch(), engagedTick % 31 == 0 ? refresh : engaged);
    EXPECT_EQ(Form1->Label7->Caption(), "AutoPilot is engaged");
    EXPECT_EQ(BankServoShown.load(), 2468);
    EXPECT_EQ(PitchServoShown.load(), -4000);
    EXPECT_EQ(Form1->TrackBar1->Position(), 77);   // 2468 / 32
    EXPECT_EQ(Form1->TrackBar2->Position(), 125);  // -(-4000 / 32)
  }
  EXPECT_EQ(DisconnectFlags, 3);

  // The commands went into the simulator: once disengaged, its inputs read back as them.
  AutopilotEngaged = 0;
  TickUntilNextIs(2);
  Tick();
  EXPECT_EQ(sim_.LastBatch(), DisengagedBatch());
  EXPECT_EQ(BankServoShown.load(), 1234);
  EXPECT_EQ(PitchServoShown.load(), -2000);
  EXPECT_EQ(DisconnectFlags, 0);
}

TEST_F(BridgeCycle, CountdownDisengagesAtTheTwentiethFastTick) {
  StartSim(sim_, "sim");
  CreateWindow();
  Tick();
  BankServoCmd = -1;
  PitchServoCmd = 1;
  AutopilotEngaged = 1;
  DisengageCountdown = 20;
  int fastTicks = 0;
  while (AutopilotEngaged.load() != 0) {
    ASSERT_LT(fastTicks, 25);
    Tick();
    if (PhaseCounter % 2 != 0) continue;
    ++fastTicks;
    if (fastTicks < 20) {
      EXPECT_EQ(sim_.LastBatch()[6], Write(0x0BB6, 2, "FFFF"));
      EXPECT_EQ(Form1->Label7->Caption(), "AutoPilot is engaged");
    }
  }
  EXPECT_EQ(fastTicks, 20);
  EXPECT_EQ(DisengageCountdown.load(), 0);
  EXPECT_EQ(sim_.LastBatch(), DisengagedBatch());
  EXPECT_EQ(Form1->Label7->Caption(), "AutoPilot is not engaged");

  // Engaged with the countdown already out: the engaged branch runs and the count stays 0.
  AutopilotEngaged = 1;
  TickUntilNextIs(4);
  Tick();
  EXPECT_EQ(sim_.LastBatch()[6], Write(0x0BB6, 2, "FFFF"));
  EXPECT_EQ(AutopilotEngaged.load(), 1);
  EXPECT_EQ(DisengageCountdown.load(), 0);
}

TEST_F(BridgeCycle, ServoProductsWrapToSixteenBits) {
  StartSim(sim_, "sim");
  CreateWindow();
  struct Case {
    std::int16_t cmd;
    std::int16_t shown;
    int bankPosition;
  };
  const Case cases[] = {
      {16383, 32766, 512},     // 1023 clamps to the end
      {-16384, -32768, -512},  // -1024 clamps
      {20000, -25536, -512},   // 40000 wraps
      {-20000, 25536, 512},   {15, 30, 0}, {-16, -32, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.cmd);
    BankServoCmd = c.cmd;
    PitchServoCmd = c.cmd;
    AutopilotEngaged = 1;
    DisengageCountdown = 20;
    TickUntilNextIs(6);
    Tick();
    EXPECT_EQ(BankServoShown.load(), c.shown);
    EXPECT_EQ(PitchServoShown.load(), c.shown);
    EXPECT_EQ(Form1->TrackBar1->Position(), c.bankPosition);
    EXPECT_EQ(Form1->TrackBar2->Position(), -c.bankPosition);
  }
}

TEST_F(BridgeCycle, SlidersDivideByThirtyTwoTowardZeroAndClamp) {
  StartSim(sim_, "sim");
  CreateWindow();
  struct Case {
    std::int16_t shown;
    int bank;   // TrackBar1
    int pitch;  // TrackBar2, negated
  };
  const Case cases[] = {
      {-31, 0, 0},        {-32, -1, 1},        {-33, -1, 1},        {31, 0, 0},
      {32, 1, -1},        {16383, 511, -511},  {-16384, -512, 512}, {16415, 512, -512},
      {32767, 512, -512}, {-32768, -512, 512}, {0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.shown);
    TickUntilNextIs(8);
    BankServoShown = c.shown;
    PitchServoShown = c.shown;
    Tick();  // disengaged: shows the values before this exchange reads the simulator's
    EXPECT_EQ(Form1->TrackBar1->Position(), c.bank);
    EXPECT_EQ(Form1->TrackBar2->Position(), c.pitch);
    EXPECT_EQ(BankServoShown.load(), 0) << "the exchange brought the simulator's input";
  }
}

TEST_F(BridgeCycle, QnhFromTheEfisIsWrittenOnceAtTheNextFastTick) {
  StartSim(sim_, "sim");
  CreateWindow();
  Tick();           // phase 1: HeldQnh takes 16211
  HeldQnh = 16000;  // 0x3E80
  QnhFromEfis = 1;
  Tick();  // phase 2
  EXPECT_EQ(sim_.LastBatch(), DisengagedBatch({Write(0x0330, 2, "803E")}));
  EXPECT_EQ(QnhFromEfis.load(), 0);
  Tick();  // phase 3, nothing
  Tick();  // phase 4: no second write
  EXPECT_EQ(sim_.LastBatch(), DisengagedBatch());
  Tick();  // phase 5 reads the written value back: no change
  EXPECT_EQ(SimSnapshot.Qnh0330, 16000);
  EXPECT_EQ(HeldQnh.load(), 16000);
}

// The simulator's older setting does not overrule one from the EFIS that waits for its write.
TEST_F(BridgeCycle, SlowTickLeavesAnEfisQnhNotYetWrittenForTheNextFastTick) {
  StartSim(sim_, "sim");
  CreateWindow();
  TickUntilNextIs(5);
  HeldQnh = 16000;
  QnhFromEfis = 1;
  Tick();  // phase 5: the simulator still holds 16211
  EXPECT_EQ(HeldQnh.load(), 16000) << "taken back by the simulator's older setting";
  EXPECT_EQ(QnhFromEfis.load(), 1);
  Tick();  // phase 6 writes the EFIS setting
  EXPECT_EQ(sim_.LastBatch(), DisengagedBatch({Write(0x0330, 2, "803E")}));
  TickUntilNextIs(1);
  Tick();  // phase 1 reads it back
  EXPECT_EQ(SimSnapshot.Qnh0330, 16000);
  EXPECT_EQ(HeldQnh.load(), 16000);
}

TEST_F(BridgeCycle, WatchdogRestartsTheReaderEveryTwentyTicks) {
  StartSim(sim_, "sim");
  CreateWindow();
  for (int i = 0; i < 5; ++i) Tick();
  EXPECT_EQ(ReaderIdleTicks.load(), 0) << "disarmed before the first servo frame";
  ServoFrameSeen = 1;
  for (int i = 1; i <= 45; ++i) {
    Tick();
    EXPECT_EQ(ReaderIdleTicks.load(), i % 20) << "tick " << i;
  }
}

TEST_F(BridgeCycle, FailedExchangeDropsTheLinkAndReconnectGoesOnWhereThePhaseStood) {
  StartSim(sim_, "first");
  CreateWindow();
  for (int i = 0; i < 3; ++i) Tick();  // phases 1, 2, 3
  const std::size_t firstBatches = sim_.BatchCount();
  sim_.Stop();

  Tick();  // phase 4: the module is gone
  EXPECT_EQ(PhaseCounter, 4);
  EXPECT_EQ(CountLog("FlightSim problem: "), 1);
  EXPECT_EQ(Log().back(), "FlightSim problem: IPC sendmessage failed all retries");
  EXPECT_FALSE(SimConnected);
  EXPECT_TRUE(Form1->Button1->Enabled());
  EXPECT_NE(SimLink.AreaView, nullptr) << "the stale link stays open until the reconnect";
  EXPECT_FALSE(Form1->FrameTimer1->Enabled()) << "no ticks, no wake-ups, until the reconnect";

  for (int i = 0; i < 12; ++i) Tick();
  EXPECT_EQ(PhaseCounter, 4) << "idle ticks stand still";
  EXPECT_EQ(CountLog("FlightSim problem: "), 1);
  EXPECT_EQ(sim_.BatchCount(), firstBatches);

  StartSim(second_, "second");
  Form1->Button1->Click();
  EXPECT_EQ(Log().back(), "Connected to FSX");
  EXPECT_TRUE(SimConnected);
  EXPECT_FALSE(Form1->Button1->Enabled());
  EXPECT_TRUE(Form1->FrameTimer1->Enabled());
  const std::size_t handshake = second_.BatchCount();
  Tick();  // phase 5
  EXPECT_EQ(PhaseCounter, 5);
  ASSERT_EQ(second_.BatchCount(), handshake + 1);
  EXPECT_EQ(second_.LastBatch(), kSlowGroup);
  Tick();  // phase 6
  EXPECT_EQ(second_.LastBatch(), DisengagedBatch());
}

TEST_F(BridgeCycle, ModuleThatExitsGivesOneProblemLineAndNoFurtherExchange) {
  // The handshake, phase 1 and phase 2 are answered; then the module ends by itself.
  ASSERT_TRUE(sim_.Start(dir_ + "/sim.record", {"--exit-after", "3"}));
  CreateWindow();
  Tick();
  Tick();
  Tick();
  EXPECT_EQ(CountLog("FlightSim problem: "), 0);
  Tick();  // phase 4
  EXPECT_EQ(CountLog("FlightSim problem: "), 1);
  EXPECT_EQ(Log().back().rfind("FlightSim problem: IPC ", 0), 0u) << Log().back();
  EXPECT_FALSE(SimConnected);
  EXPECT_TRUE(Form1->Button1->Enabled());
  for (int i = 0; i < 10; ++i) Tick();
  EXPECT_EQ(PhaseCounter, 4);
  EXPECT_EQ(CountLog("FlightSim problem: "), 1);
  EXPECT_EQ(sim_.BatchCount(), 3u);
}

TEST_F(BridgeCycle, FramesFollowThePhasesInTheirOrder) {
  testsupport::ChildProcess efis;
  ASSERT_TRUE(efis.Start(KORVAN_EFIS_PATH, {"--verbose"}));
  ASSERT_TRUE(efis.WaitForLine("korvan-efis ready", 10000));
  StartSim(sim_, "sim");
  CreateWindow();
  ASSERT_EQ(Log(), (std::vector<std::string>{
                       "Connected to FSX", "EFIS detected on USB, driver initialized.",
                       "EFIS data read channel OK", "EFIS data write channel OK"}));
  for (int i = 0; i < 10; ++i) Tick();
  const std::vector<int> expected = {
      0,  1,  12, 2, 13, 6,          // phase 1: sensor, engines, and QNH (HeldQnh was 0)
      15, 11,                        // phase 2: servo status, attitude
      15, 11,                        // phase 4
      0,  4,  5,  3, 1,  12, 2, 13,  // phase 5: sensor, GPS 1, 2, 3, engines; QNH unchanged
      15, 11,                        // phase 6
      15, 11,                        // phase 8
      15, 11,                        // phase 0
  };
  EXPECT_EQ(WaitForFrames(efis, expected.size()), expected);

  // A failed fast exchange: the servo status went out before it, the attitude frame does not.
  sim_.Stop();
  Tick();  // phase 1 fails: no frame at all
  SimConnected = true;
  Tick();  // phase 2 on the dead link
  std::vector<int> after = expected;
  after.push_back(15);
  EXPECT_EQ(WaitForFrames(efis, after.size()), after);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(FrameTypes(efis), after);
  EXPECT_EQ(CountLog("FlightSim problem: "), 2);
  efis.Stop();
}

TEST_F(BridgeCycle, AnEngagedCloseHandsTheControlsBackInOneExchangeADisengagedOneInNone) {
  StartSim(sim_, "sim");
  CreateWindow();
  Tick();  // phase 1
  AutopilotEngaged = 1;
  DisengageCountdown = 20;
  FastTick();
  const std::size_t batches = sim_.BatchCount();
  const std::vector<std::string> log = Log();
  bool canClose = true;
  Form1->FormCloseQuery(Form1, canClose);
  EXPECT_TRUE(canClose);
  ASSERT_EQ(sim_.BatchCount(), batches + 1);
  EXPECT_EQ(sim_.LastBatch(), (std::vector<Record>{Write(0x310A, 1, "00")}));
  EXPECT_EQ(Log(), log) << "the close adds no line";

  // Disengaged: the fast ticks write 0 themselves; the close has nothing to hand back.
  AutopilotEngaged = 0;
  FastTick();
  const std::size_t disengaged = sim_.BatchCount();
  Form1->FormCloseQuery(Form1, canClose);
  EXPECT_EQ(sim_.BatchCount(), disengaged);
}

TEST_F(BridgeCycle, TheLastExchangeOfACloseTriesOnceAndFailsWithoutALine) {
  // The handshake and the first two ticks are answered, then nothing.
  ASSERT_TRUE(sim_.Start(dir_ + "/sim.record", {"--silent-after", "3", "--verbose"}));
  CreateWindow();
  Tick();
  AutopilotEngaged = 1;
  DisengageCountdown = 20;
  FastTick();
  ASSERT_EQ(CountLog("FlightSim problem: "), 0);
  const std::vector<std::string> log = Log();
  const auto from = std::chrono::steady_clock::now();
  bool canClose = true;
  Form1->FormCloseQuery(Form1, canClose);
  const auto took = std::chrono::steady_clock::now() - from;
  EXPECT_EQ(Log(), log);
  EXPECT_GE(took, std::chrono::milliseconds(390)) << "it waited for the answer";
  EXPECT_TRUE(SimConnected) << "a close reports nothing and changes nothing else";
  // One attempt, not the ten of a tick: a close never waits 4 s for a module that hangs.
  ASSERT_TRUE(sim_.Process().WaitForLine("not answered", 30000));
  std::this_thread::sleep_for(std::chrono::milliseconds(600));
  EXPECT_EQ(sim_.Process().CountLines("not answered"), 1);
}

TEST_F(BridgeCycle, OnlyTheFirstActivationStartsTheReader) {
  CreateWindow();
  EXPECT_TRUE(FirstActivation);
  EXPECT_EQ(ReaderThread, nullptr);
  Form1->FormActivate(Form1);
  EXPECT_FALSE(FirstActivation);
  ASSERT_NE(ReaderThread, nullptr);
  const platform::Handle first = ReaderThread->Handle();
  Form1->FormActivate(Form1);
  EXPECT_EQ(ReaderThread->Handle(), first) << "no second reader";
}

TEST_F(BridgeCycle, AFailedFastExchangeThatCarriedTheQnhDoesNotWriteItAgain) {
  StartSim(sim_, "first");
  CreateWindow();
  Tick();  // phase 1
  PostQnhFromEfis(16000);
  sim_.Stop();
  Tick();  // phase 2: the write is queued, the exchange fails
  ASSERT_EQ(CountLog("FlightSim problem: "), 1);
  StartSim(second_, "second");
  Form1->Button1->Click();
  TickUntilNextIs(4);
  Tick();
  EXPECT_EQ(second_.LastBatch(), DisengagedBatch()) << "the setting went with the failed batch";
}

TEST_F(BridgeCycle, TheShownServoValuesStayWhenADisengagedFastExchangeFails) {
  StartSim(sim_, "sim");
  CreateWindow();
  Tick();  // phase 1
  BankServoShown = 1234;
  PitchServoShown = -555;
  sim_.Stop();
  Tick();  // phase 2: the inputs' reads are queued, the exchange fails
  ASSERT_EQ(CountLog("FlightSim problem: "), 1);
  EXPECT_EQ(BankServoShown.load(), 1234);
  EXPECT_EQ(PitchServoShown.load(), -555);
  EXPECT_EQ(Form1->TrackBar1->Position(), 38);  // 1234 / 32
  EXPECT_EQ(Form1->TrackBar2->Position(), 17);  // -(-555 / 32)
}

TEST_F(BridgeCycle, TheServoCommandsAndTheStatusPayloadSurviveAReaderRestart) {
  StartSim(sim_, "sim");
  CreateWindow();
  Form1->FormActivate(Form1);
  Tick();  // phase 1
  AutopilotEngaged = 1;
  DisengageCountdown = 20;
  BankServoCmd = 1234;    // 0x04D2
  PitchServoCmd = -2000;  // 0xF830
  ServoStatusValues = 0x00800100u;
  const platform::Handle before = ReaderThread->Handle();
  Form1->Button3Click(nullptr);
  ASSERT_NE(ReaderThread->Handle(), before) << "a new reader";
  EXPECT_EQ(ServoStatusValues.load(), 0x00800100u);
  FastTick();
  EXPECT_EQ(sim_.LastBatch(),
            Join(kFastReads, {Write(0x0BB6, 2, "D204"), Write(0x0BB2, 2, "30F8")}));
}

}  // namespace
