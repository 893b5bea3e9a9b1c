// The flight values the bridge derives from the simulator, and the flight frames they feed:
// sensor (air data), attitude, GPS 1 to 3 and QNH. Everything here runs on the user-interface
// thread, inside the bridge cycle, with the extended precision of efis/FrameMath.h set.
#pragma once

#include <cstdint>

// Converted once per exchange and shared by several frames. Each value starts at 0 and keeps
// its last value until its group converts it again; nothing resets it on a reconnection.
struct TFlightDerived {
  // Fast group.
  std::int32_t BankTenths;              // degrees x 10, truncated
  std::int32_t PitchTenths;             // degrees x 10, truncated, nose up negative
  std::int32_t TurnValue;               // simulator turn value div 17
  std::int32_t GyroHeadingTenths;       // degrees x 10, truncated
  std::int32_t CompassHeadingTenths;    // degrees x 10, truncated
  std::int16_t CorrectedHeadingTenths;  // compass heading plus variation, 0..3599
  // Slow group.
  std::int32_t LatitudeE7;         // 1e-7 degree
  std::int32_t LongitudeE7;        // 1e-7 degree
  std::int32_t TrackE5;            // 1e-5 degree, 0..35999999
  std::int32_t GroundSpeedCentis;  // simulator ground speed x 100
  std::int32_t AltitudeFeet;       // feet
  std::int32_t AirspeedTenthsMph;  // 0.1 mile per hour
  std::int32_t VerticalSpeedFpm;   // feet per minute
};

extern TFlightDerived FlightDerived;

// After a successful exchange of the fast group: bank and pitch (a value that cannot be
// converted leaves them as they were, silently), turn, headings. Throws EInvalidOp for any
// other value that cannot be converted; what was stored before it stands.
void ConvertFastGroup();

// After a successful exchange of the slow group: position, track, ground speed, altitude,
// airspeed, vertical speed. Throws EInvalidOp as ConvertFastGroup does.
void ConvertSlowGroup();

// A latitude or longitude in degrees to 1e-7 degree: narrowed to single precision first (the
// position moves in the steps of a float, as the EFIS's own GPS reports it), then rounded.
std::int32_t ScaleE7(double degrees);
