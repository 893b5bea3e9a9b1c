// korvan-efis's autopilot: a wing leveller with heading and altitude hold, computed from the
// attitude, heading, altitude and vertical speed the unit received. Its outputs are the servo
// positions of the servo frame; the bridge turns them into the simulator's aileron and elevator
// inputs (position 7000 is neutral, 700 steps are 2048 input units, more position is left and
// nose down). Portable: the caller gives the time.
#pragma once

#include <cstdint>

namespace efisunit {

// What the autopilot reads, in the panel's units.
struct AutopilotSense {
  double bankDeg;   // right wing down positive
  double pitchDeg;  // nose up positive
  double headingDeg;
  double altitudeFt;
  double verticalSpeedFpm;
};

struct Autopilot {
  bool engaged = false;
  bool headingHold = false;  // false: wings level
  double headingBugDeg = 0;
  double altitudeTargetFt = 0;
  // The commands it asks for, in the simulator's input units (-16383..16383).
  int aileron = 0;
  int elevator = 0;
  // Loop state.
  double elevatorTrim = 0;  // of full input
  double aileronTrim = 0;
  double pitchBase = 0;
  double lastBank = 0;
  double lastTimeS = -1;
  double rollRate = 0;
};

// Engages on what the unit shows now: the wings come level (or turn to the bug when heading
// hold is on), the altitude is held. `elevatorNow` is the elevator input the bridge reports in
// its servo status frame, so the nose does not jump at engagement.
void EngageAutopilot(Autopilot& ap, const AutopilotSense& now, int elevatorNow);
void DisengageAutopilot(Autopilot& ap);
// Heading hold to `degrees` (the wing leveller until then).
void SelectHeading(Autopilot& ap, double degrees);

// One step, on every attitude frame while engaged: new commands from what the unit shows.
void StepAutopilot(Autopilot& ap, const AutopilotSense& now, double timeS);

// The servo position whose command, by the bridge's mapping, is `command`.
std::uint16_t ServoPositionFor(int command);
// The bridge's mapping itself, as the unit expects it: 16384 - (P - 1400) x 2048 / 700.
int CommandForPosition(std::uint16_t position);

}  // namespace efisunit
