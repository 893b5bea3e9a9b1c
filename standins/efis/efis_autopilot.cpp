// Gains chosen for the loop as it runs through the bridge: attitude at 10 Hz, servo frames at
// 20 Hz, the simulator's inputs written at 10 Hz, so 100 to 250 ms pass between a bank and the
// aileron that answers it. The roll law damps with the roll rate it sees between frames.
#include "standins/efis/efis_autopilot.h"

#include <cmath>

#include "standins/common/flight_math.h"

namespace efisunit {

namespace {

using standins::Clamp;
using standins::Wrap180;

constexpr double kFullInput = 16383;
constexpr double kMaxBankDeg = 20;
constexpr double kMaxAileron = 0.35;  // of full input
constexpr double kMaxElevator = 0.6;
constexpr double kMaxClimbFpm = 500;
constexpr double kFpmPerDegree = 180;  // about, at 100 kt

}  // namespace

void EngageAutopilot(Autopilot& ap, const AutopilotSense& now, int elevatorNow) {
  ap.engaged = true;
  ap.headingHold = false;
  ap.altitudeTargetFt = now.altitudeFt;
  ap.elevatorTrim = Clamp(elevatorNow / kFullInput, -kMaxElevator, kMaxElevator);
  ap.aileronTrim = 0;
  ap.pitchBase = now.pitchDeg;
  ap.lastTimeS = -1;
  ap.rollRate = 0;
  ap.aileron = 0;
  ap.elevator = elevatorNow;
}

void DisengageAutopilot(Autopilot& ap) {
  ap.engaged = false;
  ap.headingHold = false;
  ap.aileron = 0;
  ap.elevator = 0;
}

void SelectHeading(Autopilot& ap, double degrees) {
  ap.headingHold = true;
  ap.headingBugDeg = std::fmod(std::fmod(degrees, 360.0) + 360, 360.0);
}

void StepAutopilot(Autopilot& ap, const AutopilotSense& now, double timeS) {
  if (!ap.engaged) return;
  double dt = ap.lastTimeS < 0 ? 0 : timeS - ap.lastTimeS;
  if (dt > 0.5) dt = 0.5;  // a gap in the frames is not a roll rate
  if (dt > 0.001) {
    const double seen = (now.bankDeg - ap.lastBank) / dt;
    ap.rollRate += 0.6 * (seen - ap.rollRate);
  }
  ap.lastBank = now.bankDeg;
  ap.lastTimeS = timeS;

  // Roll: a bank to hold (level, or toward the bug) and a roll rate to damp.
  const double bankTarget = ap.headingHold ? Clamp(1.0 * Wrap180(ap.headingBugDeg - now.headingDeg),
                                                   -kMaxBankDeg, kMaxBankDeg)
                                           : 0;
  // Holding a bank in a turn takes aileron against the dihedral: a slow term finds it, while
  // the bank is steady near its target only, so a roll does not wind it up. Level wings need
  // none: the dihedral helps there.
  const double bankError = bankTarget - now.bankDeg;
  if (!ap.headingHold) {
    ap.aileronTrim = 0;
  } else if (std::fabs(bankError) < 10 && std::fabs(ap.rollRate) < 3)
    ap.aileronTrim = Clamp(ap.aileronTrim + 0.02 * bankError * dt, -0.2, 0.2);
  const double aileron = ap.aileronTrim + 0.015 * bankError - 0.006 * ap.rollRate;
  ap.aileron =
      static_cast<int>(std::lround(Clamp(aileron, -kMaxAileron, kMaxAileron) * kFullInput));

  // Pitch: a climb or descent toward the altitude, a pitch that gives it, the elevator that
  // holds that pitch; the slow terms find the trim on their own.
  const double climbFpm =
      Clamp(4 * (ap.altitudeTargetFt - now.altitudeFt), -kMaxClimbFpm, kMaxClimbFpm);
  const double climbError = (climbFpm - now.verticalSpeedFpm) / kFpmPerDegree;
  ap.pitchBase = Clamp(ap.pitchBase + 0.15 * climbError * dt, -10, 15);
  const double pitchTarget = ap.pitchBase + Clamp(0.5 * climbError, -5, 5);
  const double pitchError = pitchTarget - now.pitchDeg;
  ap.elevatorTrim = Clamp(ap.elevatorTrim + 0.02 * pitchError * dt, -kMaxElevator, kMaxElevator);
  const double elevator = ap.elevatorTrim + 0.03 * pitchError;
  ap.elevator =
      static_cast<int>(std::lround(Clamp(elevator, -kMaxElevator, kMaxElevator) * kFullInput));
}

std::uint16_t ServoPositionFor(int command) {
  // P = 1400 + (16384 - command) x 700 / 2048, to the nearest step.
  const long position = 1400 + std::lround((16384.0 - command) * 700 / 2048);
  return static_cast<std::uint16_t>(Clamp(position, 0, 16383));
}

int CommandForPosition(std::uint16_t position) {
  const std::int32_t q = (static_cast<std::int32_t>(position) - 1400) * 2048 / 700;
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(16384 - q));
}

}  // namespace efisunit
