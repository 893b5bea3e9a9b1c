// korvan-efis's autopilot in a closed loop with korvan-sim's flight model, through a stand-in of
// the bridge's chain (fast tick every 100 ms: the commands written, the attitude read in tenths;
// altitude and vertical speed at the slow ticks; the disconnect written every 31st fast tick,
// the first one late), and the servo mapping's round trip.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>

#include "standins/efis/efis_autopilot.h"
#include "standins/sim/sim_flight.h"
#include "standins/sim/sim_space.h"

namespace {

using efisunit::Autopilot;
using efisunit::AutopilotSense;

double GetDouble(std::uint32_t offset) {
  return sim::SpaceGetDouble(offset);
}
std::int32_t GetS32(std::uint32_t offset) {
  return static_cast<std::int32_t>(sim::SpaceGetU32(offset));
}
std::int16_t GetS16(std::uint32_t offset) {
  return static_cast<std::int16_t>(sim::SpaceGetU16(offset));
}
void Write16(std::uint32_t offset, int value) {
  sim::SpacePutU16(offset, static_cast<std::uint16_t>(value));
  sim::FlightClientWrote(offset, 2);
}
void WriteDisconnect(std::uint8_t value) {
  sim::SpacePutU8(0x310A, value);
  sim::FlightClientWrote(0x310A, 1);
}

// The loop: korvan-sim, the bridge's schedule, the unit's autopilot.
struct Loop {
  Autopilot ap;
  AutopilotSense sense{};
  double time = 0;
  int phase = 0;
  int refreshTicks = 0;
  bool engaged = false;  // as the bridge sees it
  std::uint16_t bankPos = 7000, pitchPos = 7000;

  explicit Loop(int firstRefresh) : refreshTicks(firstRefresh) {}

  // One 50 ms bridge tick.
  void Tick() {
    sim::AdvanceFlight(0.05);
    time += 0.05;
    phase = (phase + 1) % 10;
    if (phase % 2 == 0) {
      if (engaged) {
        if (refreshTicks == 30) {
          refreshTicks = 0;
          WriteDisconnect(3);
        } else {
          ++refreshTicks;
        }
        Write16(0x0BB6, efisunit::CommandForPosition(bankPos));
        Write16(0x0BB2, efisunit::CommandForPosition(pitchPos));
      } else {
        WriteDisconnect(0);
      }
      // The attitude frame, in tenths as the bridge truncates them.
      sense.bankDeg = std::trunc(GetDouble(0x2F78) * 10) / 10;
      sense.pitchDeg = std::trunc(-GetDouble(0x2F70) * 10) / 10;
      sense.headingDeg = std::trunc(GetDouble(0x02CC) * 10) / 10;
      efisunit::StepAutopilot(ap, sense, time);
      // The next servo frame carries the new positions.
      if (ap.engaged) {
        bankPos = efisunit::ServoPositionFor(ap.aileron);
        pitchPos = efisunit::ServoPositionFor(ap.elevator);
      }
    } else if (phase == 1 || phase == 5) {
      sense.altitudeFt = static_cast<double>(GetS32(0x0574)) * 32808 / 10000;
      sense.verticalSpeedFpm = static_cast<double>(GetS32(0x02C8) * 196800 / 256000);
    }
  }
  void Run(double seconds) {
    for (double t = 0; t < seconds; t += 0.05) Tick();
  }
  void Engage() {
    efisunit::EngageAutopilot(ap, sense, GetS16(0x0BB2));
    bankPos = efisunit::ServoPositionFor(ap.aileron);
    pitchPos = efisunit::ServoPositionFor(ap.elevator);
    engaged = true;
  }
};

sim::FlightStart Banked(double bank) {
  sim::FlightStart start;
  start.bankDeg = bank;
  start.pilot = sim::PilotMode::Hold;
  return start;
}

class AutopilotLoop : public ::testing::TestWithParam<int> {};

// From 25 degrees of bank, whenever the disconnect's first refresh comes (the first or the 31st
// engaged tick), the wings are level within 15 s and stay there; the altitude holds.
TEST_P(AutopilotLoop, LevelsTheWingsFromABank) {
  for (double bank : {25.0, -25.0}) {
    sim::BeginFlight(Banked(bank), 0x19980005, 8);
    Loop loop(GetParam());
    loop.Run(2);
    const double altitude = loop.sense.altitudeFt;
    loop.Engage();
    double levelAfter = -1;
    for (double t = 0; t < 45; t += 0.05) {
      loop.Tick();
      const double now = std::fabs(sim::ViewFlight().bankDeg);
      if (levelAfter < 0 && now <= 2) levelAfter = t;
      if (levelAfter >= 0) {
        ASSERT_LE(now, 2.0) << "bank " << bank << " at " << t << " s";
      }
      ASSERT_NEAR(loop.sense.altitudeFt, altitude, 150) << "bank " << bank << " at " << t;
    }
    EXPECT_GE(levelAfter, 0);
    EXPECT_LE(levelAfter, 15.0) << "bank " << bank;
    EXPECT_NEAR(sim::ViewFlight().bankDeg, 0, 0.5);
    EXPECT_NEAR(sim::ViewFlight().altitudeFt, altitude, 40);
  }
}

// The refresh count as the bridge has it at engagement: 30, the write of 3 at the first engaged
// tick; 0, at the 31st.
INSTANTIATE_TEST_SUITE_P(FirstRefresh, AutopilotLoop, ::testing::Values(30, 0));

TEST(Autopilot, HeadingHoldTurnsToTheBugAndRollsOut) {
  sim::BeginFlight(Banked(0), 0x19980005, 8);
  Loop loop(30);
  loop.Run(2);
  loop.Engage();
  efisunit::SelectHeading(loop.ap, 180);  // from 090: a right turn
  double maxBank = 0;
  for (double t = 0; t < 60; t += 0.05) {
    loop.Tick();
    maxBank = std::fmax(maxBank, sim::ViewFlight().bankDeg);
  }
  EXPECT_GT(maxBank, 15);
  EXPECT_LE(maxBank, 22);
  EXPECT_NEAR(sim::ViewFlight().headingDeg, 180, 2);
  EXPECT_NEAR(sim::ViewFlight().bankDeg, 0, 2);
  // The short way round: 010 from 180 is a left turn across south-east... 170 degrees left.
  efisunit::SelectHeading(loop.ap, 10);
  loop.Run(3);
  EXPECT_LT(sim::ViewFlight().bankDeg, -5);
  loop.Run(80);
  EXPECT_NEAR(sim::ViewFlight().headingDeg, 10, 2);
}

TEST(Autopilot, EngagesWithoutAJumpOfTheNoseAndDisengagesToNeutral) {
  sim::BeginFlight(Banked(0), 0x19980005, 8);
  Loop loop(0);
  loop.Run(2);
  const int elevatorBefore = GetS16(0x0BB2);
  loop.Engage();
  EXPECT_EQ(loop.ap.elevator, elevatorBefore);
  EXPECT_NEAR(efisunit::CommandForPosition(loop.pitchPos), elevatorBefore, 3);
  const double pitch = sim::ViewFlight().pitchDeg;
  for (int i = 0; i < 40; ++i) {
    loop.Tick();
    ASSERT_NEAR(sim::ViewFlight().pitchDeg, pitch, 1.0);
  }
  efisunit::DisengageAutopilot(loop.ap);
  EXPECT_FALSE(loop.ap.engaged);
  EXPECT_EQ(loop.ap.aileron, 0);
  const int before = loop.ap.elevator;
  efisunit::StepAutopilot(loop.ap, loop.sense, loop.time + 1);  // does nothing disengaged
  EXPECT_EQ(loop.ap.elevator, before);
}

// The bridge's mapping, by hand: 7000 -> 0, 1400 -> 16384, 12600 -> -16384, 2100 -> 14336,
// 7001 -> -2; and the positions the unit picks come back as the commands it meant.
TEST(Autopilot, ServoPositionsRoundTripThroughTheBridgeMapping) {
  EXPECT_EQ(efisunit::CommandForPosition(7000), 0);
  EXPECT_EQ(efisunit::CommandForPosition(1400), 16384);
  EXPECT_EQ(efisunit::CommandForPosition(12600), -16384);
  EXPECT_EQ(efisunit::CommandForPosition(2100), 14336);
  EXPECT_EQ(efisunit::CommandForPosition(7001), -2);
  EXPECT_EQ(efisunit::ServoPositionFor(0), 7000);
  EXPECT_EQ(efisunit::ServoPositionFor(16384), 1400);
  EXPECT_EQ(efisunit::ServoPositionFor(-16384), 12600);
  for (int command = -12000; command <= 12000; command += 37) {
    ASSERT_NEAR(efisunit::CommandForPosition(efisunit::ServoPositionFor(command)), command, 3)
        << command;
  }
}

}  // namespace
