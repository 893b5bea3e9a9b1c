// korvan-sim's flight model, driven directly: what its pilot flies, what a client's controls do,
// and the units of every offset the bridge reads (checked with the bridge's formulas written out
// here by hand).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

#include "standins/sim/sim_flight.h"
#include "standins/sim/sim_space.h"

namespace {

using sim::SpaceGetDouble;
using sim::SpaceGetU16;
using sim::SpaceGetU32;
std::int32_t GetS32(std::uint32_t offset) {
  return static_cast<std::int32_t>(sim::SpaceGetU32(offset));
}
std::int16_t GetS16(std::uint32_t offset) {
  return static_cast<std::int16_t>(sim::SpaceGetU16(offset));
}

// A client's write record: the bytes land, then the model hears of it.
void ClientWrite16(std::uint32_t offset, std::int16_t value) {
  sim::SpacePutU16(offset, static_cast<std::uint16_t>(value));
  sim::FlightClientWrote(offset, 2);
}
void ClientDisconnect(std::uint8_t bits) {
  sim::SpacePutU8(0x310A, bits);
  sim::FlightClientWrote(0x310A, 1);
}

sim::FlightStart Start(double bank, sim::PilotMode pilot) {
  sim::FlightStart start;
  start.bankDeg = bank;
  start.pilot = pilot;
  return start;
}

// Flies `seconds` in bridge-sized slices (100 ms), calling `each` after every slice.
template <typename Each>
void Fly(double seconds, Each each) {
  for (double t = 0; t < seconds; t += 0.1) {
    sim::AdvanceFlight(0.1);
    each(sim::ViewFlight());
  }
}
void Fly(double seconds) {
  Fly(seconds, [](const sim::FlightView&) {});
}

TEST(SimFlight, StartStateCarriesTheBridgeUnits) {
  sim::BeginFlight(Start(0, sim::PilotMode::Hold), 0x19980005, 8);
  EXPECT_EQ(SpaceGetU32(0x3304), 0x19980005u);
  EXPECT_EQ(SpaceGetU32(0x3308), 0xFADE0008u);
  // 3000 ft in whole metres; the bridge's (m x 32808) div 10000 gives 2998 ft.
  EXPECT_EQ(GetS32(0x0574), 914);
  EXPECT_NEAR(SpaceGetDouble(0x6020), 914.4, 0.01);  // GPS altitude, metres
  EXPECT_NEAR(GetS32(0x02BC), 12800, 2);             // 100 kt in 1/128 kt
  EXPECT_EQ(SpaceGetU16(0x0330), 16211);             // 1013.2 hPa in 1/16 hPa
  EXPECT_NEAR(SpaceGetDouble(0x02CC), 90.0, 1e-9);   // magnetic heading
  EXPECT_NEAR(SpaceGetDouble(0x2B00), 90.0, 1e-9);
  EXPECT_EQ(GetS16(0x02A0), 364);  // variation 2 degrees east, 1/182 degree
  EXPECT_EQ(GetS16(0x11BA), 624);  // 1 g in 1/624 g
  EXPECT_EQ(GetS16(0x037C), 0);    // no turn
  EXPECT_NEAR(SpaceGetDouble(0x6010), 52.3086, 1e-9);
  EXPECT_NEAR(SpaceGetDouble(0x6018), 4.7639, 1e-9);
  // Track, true, as a fraction of the circle: heading 092 true with a wind from 300.
  const double track = SpaceGetU32(0x0580) / 4294967296.0 * 360;
  EXPECT_GT(track, 92.0);
  EXPECT_LT(track, 97.0);
  // Ground speed in m/s: about 104 kt true plus a tailwind component.
  EXPECT_GT(SpaceGetDouble(0x6030), 53.0);
  EXPECT_LT(SpaceGetDouble(0x6030), 62.0);
  // Pitch is nose down positive: level cruise flies a little nose up.
  EXPECT_LT(SpaceGetDouble(0x2F70), 0.0);
  EXPECT_GT(SpaceGetDouble(0x2F70), -5.0);
  // Outside air about 12 C (1/256 C) and static pressure about 908 hPa (lb/ft2).
  EXPECT_NEAR(GetS16(0x0E8C) / 256.0, 12, 1);
  EXPECT_NEAR(SpaceGetDouble(0x28C8) * 0.4788026, 908, 2);

  const std::uint32_t engines[2][8] = {
      {0x0898, 0x08C8, 0x08C0, 0x08E8, 0x0918, 0x3B58, 0x3B60, 0x3B70},
      {0x0930, 0x0960, 0x0958, 0x0980, 0x09B0, 0x3A98, 0x3AA0, 0x3AB0}};
  for (const auto& e : engines) {
    const std::uint32_t rpm = (std::uint32_t{SpaceGetU16(e[0])} * SpaceGetU16(e[1])) >> 16;
    EXPECT_GE(rpm, 2500u);
    EXPECT_LE(rpm, 2600u);
    const double manifoldInHg = SpaceGetU16(e[2]) / 1024.0;
    EXPECT_GT(manifoldInHg, 20.0);
    EXPECT_LT(manifoldInHg, 26.0);
    EXPECT_NEAR((SpaceGetDouble(e[3]) - 34) / 1.8, 712, 10);       // exhaust, C
    EXPECT_GT(SpaceGetDouble(e[4]), 30.0);                         // fuel flow, lb/h
    EXPECT_NEAR((SpaceGetDouble(e[5]) - 491.67) * 5 / 9, 90, 5);   // oil, Rankine
    EXPECT_NEAR(SpaceGetDouble(e[6]) * 0.004788026, 47.5, 1);      // oil pressure, 0.1 bar
    EXPECT_NEAR((SpaceGetDouble(e[7]) - 491.67) * 5 / 9, 195, 5);  // cylinder head, Rankine
  }
}

TEST(SimFlight, HoldingPilotKeepsBankAndAltitudeWithItsOwnInputs) {
  sim::BeginFlight(Start(25, sim::PilotMode::Hold), 0x19980005, 8);
  double headingBefore = sim::ViewFlight().headingDeg;
  Fly(30, [](const sim::FlightView& v) {
    ASSERT_NEAR(v.bankDeg, 25, 1.0);
    ASSERT_NEAR(v.altitudeFt, 3000, 60);
    ASSERT_EQ(v.disconnect, 0);
  });
  const sim::FlightView v = sim::ViewFlight();
  // A right turn: about 5 degrees a second at 25 degrees of bank and 100 kt.
  const double turned = std::fmod(v.headingDeg - headingBefore + 720, 360);
  EXPECT_GT(turned, 120);
  EXPECT_LT(turned, 180);
  EXPECT_GT(GetS16(0x037C), 300);  // 512 is a standard-rate turn
  EXPECT_NEAR(GetS16(0x11BA), 624 / std::cos(25 * 3.14159265358979 / 180), 3);
  // Its inputs are what the controls read: aileron into the turn against the dihedral, and
  // back pressure for the bank.
  EXPECT_EQ(GetS16(0x0BB6), v.aileron);
  EXPECT_EQ(GetS16(0x0BB2), v.elevator);
  EXPECT_GT(v.aileron, 2000);
  EXPECT_GT(v.elevator, 3000);
}

TEST(SimFlight, TouringPilotTurnsAndClimbsGently) {
  sim::BeginFlight(Start(0, sim::PilotMode::Tour), 0x19980005, 8);
  double maxBank = 0, maxAltitude = 0, minIas = 1000, maxIas = 0;
  bool turnedRight = false;
  Fly(170, [&](const sim::FlightView& v) {
    maxBank = std::fmax(maxBank, std::fabs(v.bankDeg));
    maxAltitude = std::fmax(maxAltitude, v.altitudeFt);
    minIas = std::fmin(minIas, v.iasKt);
    maxIas = std::fmax(maxIas, v.iasKt);
    if (v.headingDeg > 200 && v.headingDeg < 220) turnedRight = true;
  });
  EXPECT_TRUE(turnedRight);
  EXPECT_GT(maxBank, 10);
  EXPECT_LE(maxBank, 16);
  EXPECT_GT(maxAltitude, 3400);
  EXPECT_LT(maxAltitude, 3560);
  EXPECT_GT(minIas, 75);
  EXPECT_LT(maxIas, 125);
  EXPECT_LT(maxIas - minIas, 40);
  EXPECT_GT(maxIas - minIas, 2);  // the speed answers the climbs
}

TEST(SimFlight, DisconnectedControlsFlyTheWrittenInputs) {
  sim::BeginFlight(Start(0, sim::PilotMode::Hold), 0x19980005, 8);
  Fly(1);
  ClientDisconnect(3);
  // Right aileron rolls right, and the model keeps the client's value at 0x0BB6.
  ClientWrite16(0x0BB6, 8000);
  Fly(1);
  EXPECT_GT(sim::ViewFlight().bankDeg, 10);
  EXPECT_GT(sim::ViewFlight().rollRateDegS, 5);
  EXPECT_EQ(GetS16(0x0BB6), 8000);
  EXPECT_EQ(sim::ViewFlight().aileron, 8000);
  EXPECT_EQ(sim::ViewFlight().disconnect, 3);
  // Left aileron rolls back; a wing leveller outside closes the loop.
  for (int i = 0; i < 100; ++i) {
    const sim::FlightView v = sim::ViewFlight();
    ClientWrite16(0x0BB6, static_cast<std::int16_t>(-600 * v.bankDeg - 150 * v.rollRateDegS));
    sim::AdvanceFlight(0.1);
  }
  EXPECT_NEAR(sim::ViewFlight().bankDeg, 0, 1);
  // Back pressure raises the nose and the aircraft climbs, losing speed (the disconnect is
  // written again, as the bridge does, or it lapses).
  const double iasBefore = sim::ViewFlight().iasKt;
  ClientDisconnect(3);
  ClientWrite16(0x0BB2, 9000);
  Fly(5);
  EXPECT_GT(sim::ViewFlight().pitchDeg, 8);
  EXPECT_GT(sim::ViewFlight().verticalSpeedFpm, 800);
  EXPECT_GT(GetS32(0x02C8), 800 * 256 / 196.85);  // 1/256 m/s
  EXPECT_LT(sim::ViewFlight().iasKt, iasBefore - 5);
}

TEST(SimFlight, ControlsComeBackOnZeroOrAfterTenSilentSeconds) {
  sim::BeginFlight(Start(0, sim::PilotMode::Hold), 0x19980005, 8);
  ClientDisconnect(3);
  ClientWrite16(0x0BB6, 3000);
  Fly(2);
  ClientDisconnect(0);
  sim::AdvanceFlight(0.1);
  // The pilot's own inputs again, rolling back to its bank.
  EXPECT_EQ(sim::ViewFlight().disconnect, 0);
  EXPECT_LT(GetS16(0x0BB6), 0);
  EXPECT_EQ(GetS16(0x0BB6), sim::ViewFlight().aileron);

  ClientDisconnect(3);
  ClientWrite16(0x0BB6, 0);
  Fly(9.5);
  EXPECT_EQ(sim::ViewFlight().disconnect, 3);
  Fly(1);
  EXPECT_EQ(sim::ViewFlight().disconnect, 0);
  std::uint8_t byte = 9;
  sim::SpaceRead(0x310A, 1, &byte);
  EXPECT_EQ(byte, 0);

  // Only the elevator: the aileron stays the pilot's.
  ClientDisconnect(1);
  ClientWrite16(0x0BB6, 12000);
  ClientWrite16(0x0BB2, 1234);
  sim::AdvanceFlight(0.1);
  EXPECT_EQ(sim::ViewFlight().elevator, 1234);
  EXPECT_NE(sim::ViewFlight().aileron, 12000);
}

TEST(SimFlight, PositionAdvancesAlongTheTrackAtGroundSpeed) {
  sim::BeginFlight(Start(0, sim::PilotMode::Hold), 0x19980005, 8);
  const double lat0 = SpaceGetDouble(0x6010), lon0 = SpaceGetDouble(0x6018);
  const double speed = SpaceGetDouble(0x6030);
  const double track = SpaceGetU32(0x0580) / 4294967296.0 * 360;
  Fly(60);
  const double rad = 3.14159265358979 / 180;
  const double north = (SpaceGetDouble(0x6010) - lat0) * rad * 6371000;
  const double east = (SpaceGetDouble(0x6018) - lon0) * rad * 6371000 * std::cos(lat0 * rad);
  EXPECT_NEAR(std::sqrt(north * north + east * east), speed * 60, speed * 60 * 0.02);
  EXPECT_NEAR(std::atan2(east, north) / rad, track, 1.0);
}

TEST(SimFlight, QnhChangesOnScheduleAndClientWritesStand) {
  sim::FlightStart start = Start(0, sim::PilotMode::Hold);
  start.qnhHpa = 1009.0;
  start.qnhChangeAtS = 3;
  start.qnhChangeHpa = 1020.0;
  sim::BeginFlight(start, 0x19980005, 8);
  EXPECT_EQ(SpaceGetU16(0x0330), 16144);
  sim::SpacePutU16(0x0330, 16227);  // the bridge writes the EFIS's 1014.2
  Fly(2);
  EXPECT_EQ(SpaceGetU16(0x0330), 16227);
  Fly(1.5);
  EXPECT_EQ(SpaceGetU16(0x0330), 16320);
  Fly(5);
  EXPECT_EQ(SpaceGetU16(0x0330), 16320);
}

TEST(SimFlight, StatusLineSaysWhoFlies) {
  sim::BeginFlight(Start(-10, sim::PilotMode::Hold), 0x19980005, 8);
  char line[400];
  sim::FormatFlight(sim::ViewFlight(), line, sizeof line);
  const std::string text = line;
  EXPECT_EQ(text.rfind("flight t=0.00 bank=-10.0 ", 0), 0u) << text;
  EXPECT_NE(text.find(" qnh=16211 disconnect=0 aileron="), std::string::npos) << text;
}

}  // namespace
