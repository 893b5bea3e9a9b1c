// The flight values the bridge derives from the simulator, and the flight frames they feed:
// sensor (air data), attitude, GPS 1 to 3 and QNH. The conversions and fills keep no state of
// their own: they run on any thread with the extended precision of efis/FrameMath.h set (the
// bridge: the user-interface thread, inside the cycle). FlightDerived and the group steps are
// the user-interface thread's.
#pragma once

#include <cstdint>

#include "efis/FrameBuffers.h"
#include "efis/SimSnapshot.h"

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

// The conversions. Each reads the snapshot and writes the derived values, nothing else.
// After a successful exchange of the fast group: bank and pitch (a value that cannot be
// converted leaves them as they were, silently), turn, headings. Throws EInvalidOp for any
// other value that cannot be converted; what was stored before it stands.
void ConvertFast(const TSimSnapshot& snapshot, TFlightDerived& derived);
// After a successful exchange of the slow group: position, track, ground speed, altitude,
// airspeed, vertical speed. Throws EInvalidOp as ConvertFast does.
void ConvertSlow(const TSimSnapshot& snapshot, TFlightDerived& derived);

// The cycle's steps over the module state: ConvertFast / ConvertSlow of SimSnapshot into
// FlightDerived.
void ConvertFastGroup();
void ConvertSlowGroup();

// A latitude or longitude in degrees to 1e-7 degree: narrowed to single precision first (the
// position moves in the steps of a float, as the EFIS's own GPS reports it), then rounded.
std::int32_t ScaleE7(double degrees);

// The payloads of the flight frames, from what each reads. Each computes every field first and
// stores them after, so one that throws EInvalidOp (a value that cannot be converted) leaves
// the frame as it was. The header bytes are not touched.
void FillSensorFrame(const TSimSnapshot& snapshot, const TFlightDerived& derived,
                     std::uint8_t (&frame)[kSensorFrameSize]);
void FillAttitudeFrame(const TSimSnapshot& snapshot, const TFlightDerived& derived,
                       std::uint8_t (&frame)[kAttitudeFrameSize]);
void FillGps1Frame(const TSimSnapshot& snapshot, const TFlightDerived& derived,
                   std::uint8_t (&frame)[kGps1FrameSize]);
void FillGps2Frame(const TFlightDerived& derived, std::uint8_t (&frame)[kGps2FrameSize]);
void FillGps3Frame(std::uint8_t (&frame)[kGps3FrameSize]);
// The held setting in 1/16 hPa.
void FillQnhFrame(std::uint16_t heldQnh, std::uint8_t (&frame)[kQnhFrameSize]);
