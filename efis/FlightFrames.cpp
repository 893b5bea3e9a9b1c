// The flight conversions and the payloads of the sensor, attitude, GPS 1 to 3 and QNH frames.
// Each fill step computes every field first and stores them after, so a value that cannot be
// converted leaves the buffer as it was and the frame unsent.
#include "efis/FlightFrames.h"

#include "app/SimSnapshot.h"
#include "efis/EfisFrames.h"
#include "efis/FrameMath.h"
#include "efis/SharedState.h"

TFlightDerived FlightDerived{};

namespace {

long double Extended(double value) {
  return static_cast<long double>(value);
}

// The variation in tenths of a degree, from 1/182 degree (65536 to the circle, near enough).
std::int64_t VariationTenths() {
  return SimSnapshot.Variation02A0 * 10 / 182;
}

// The guarded step: an attitude angle that cannot be converted is skipped without a word. A
// bad bank leaves both angles; a bad pitch leaves the pitch, the new bank stands.
void ConvertBankAndPitch() {
  std::int64_t tenths = 0;
  if (!TryTrunc(Extended(SimSnapshot.Bank2F78) * 10, tenths)) return;
  FlightDerived.BankTenths = static_cast<std::int32_t>(tenths);
  if (!TryTrunc(-Extended(SimSnapshot.Pitch2F70) * 10, tenths)) return;
  FlightDerived.PitchTenths = static_cast<std::int32_t>(tenths);
}

// Compass heading plus variation in 16-bit arithmetic, brought back into the circle once.
std::int16_t CorrectedHeading() {
  auto sum = static_cast<std::int16_t>(
      static_cast<std::int16_t>(FlightDerived.CompassHeadingTenths) + VariationTenths());
  if (sum > 3599) {
    sum = static_cast<std::int16_t>(sum - 3600);
  } else if (sum < 0) {
    sum = static_cast<std::int16_t>(sum + 3600);
  }
  return sum;
}

}  // namespace

std::int32_t ScaleE7(double degrees) {
  // Beyond float's range the narrowing itself would be undefined: the same fault as a product
  // out of range. NaN fails the comparisons too.
  if (!(degrees >= -3.4e38 && degrees <= 3.4e38)) throw EInvalidOp();
  const float narrowed = static_cast<float>(degrees);
  return static_cast<std::int32_t>(Round(static_cast<long double>(narrowed) * 10000000));
}

void ConvertFastGroup() {
  ConvertBankAndPitch();
  FlightDerived.TurnValue = SimSnapshot.Turn037C / 17;
  FlightDerived.GyroHeadingTenths =
      static_cast<std::int32_t>(Trunc(Extended(SimSnapshot.GyroHeading2B00) * 10));
  FlightDerived.CompassHeadingTenths =
      static_cast<std::int32_t>(Trunc(Extended(SimSnapshot.CompassHeading02CC) * 10));
  FlightDerived.CorrectedHeadingTenths = CorrectedHeading();
}

void ConvertSlowGroup() {
  FlightDerived.LatitudeE7 = ScaleE7(SimSnapshot.Latitude6010);
  FlightDerived.LongitudeE7 = ScaleE7(SimSnapshot.Longitude6018);
  // The circle fraction times 360 is exact in 64 bits; 42949.67296 is 2^32 / 10^5.
  const auto fraction = static_cast<std::int64_t>(SimSnapshot.Track0580 & 0xFFFFFFFFu);
  FlightDerived.TrackE5 =
      static_cast<std::int32_t>(Trunc(static_cast<long double>(fraction * 360) / 42949.67296L));
  FlightDerived.GroundSpeedCentis =
      static_cast<std::int32_t>(Trunc(Extended(SimSnapshot.GroundSpeed6030) * 100));
  FlightDerived.AltitudeFeet =
      static_cast<std::int32_t>(MulDivTrunc(SimSnapshot.Altitude0574, 32808, 10000));
  FlightDerived.AirspeedTenthsMph =
      static_cast<std::int32_t>(MulDivTrunc(SimSnapshot.Airspeed02BC, 11508, 128000));
  FlightDerived.VerticalSpeedFpm =
      static_cast<std::int32_t>(MulDivTrunc(SimSnapshot.VerticalSpeed02C8, 60 * 3280, 256000));
}

void FillSensorFrame() {
  const TFlightDerived& d = FlightDerived;
  // Static pressure: lb/ft2 to 0.1 hPa, then the sensor's own scale.
  const std::int64_t pressure = Round(Extended(SimSnapshot.AmbientPressure28C8) * 4.788026L);
  const std::int64_t pressureField = MulDivTrunc(pressure, 3686, 10000) - 389;
  const auto ias = static_cast<std::int16_t>(d.AirspeedTenthsMph / 10);
  // True airspeed: 1.75 % of IAS per 1000 ft. Computed in 64 bits for any altitude (negative
  // below sea level) and kept within the field rather than wrapped.
  const std::int64_t k = static_cast<std::int64_t>(d.AltitudeFeet / 100) * (ias * 175) / 100000;
  std::int64_t tas = ias + k;
  if (tas > 32767) tas = 32767;
  if (tas < -32768) tas = -32768;
  const std::int64_t raw20 = Round(Extended(SimSnapshot.Sensor2840) * 10);
  const std::int64_t byte20 = raw20 < 25 ? 0 : raw20 > 280 ? 255 : raw20 - 25;
  const std::int64_t field22 = Round(Extended(SimSnapshot.Sensor2848) * 10);

  StoreLow32(SensorFrame, 4, d.AltitudeFeet);
  StoreLow16(SensorFrame, 8, pressureField);
  StoreLow16(SensorFrame, 10, ias);
  StoreLow16(SensorFrame, 12, tas);
  StoreLow16(SensorFrame, 14, d.VerticalSpeedFpm);
  StoreLow8(SensorFrame, 20, byte20);
  StoreLow8(SensorFrame, 21, byte20);
  StoreLow16(SensorFrame, 22, field22);
  StoreLow16(SensorFrame, 26, SimSnapshot.OutsideTemp0E8C / 256);  // toward zero, not a shift
  StoreLow16(SensorFrame, 28, d.VerticalSpeedFpm);
}

void FillAttitudeFrame() {
  const TFlightDerived& d = FlightDerived;
  const std::int64_t load = Round(static_cast<long double>(SimSnapshot.GForce11BA) / 62.4L);

  StoreLow16(AttitudeFrame, 4, d.BankTenths);
  StoreLow16(AttitudeFrame, 6, d.PitchTenths);
  StoreLow16(AttitudeFrame, 10, d.CompassHeadingTenths);
  StoreLow16(AttitudeFrame, 12, d.GyroHeadingTenths);
  StoreLow16(AttitudeFrame, 14, load);
  StoreLow16(AttitudeFrame, 16, d.TurnValue);
  StoreLow16(AttitudeFrame, 20, d.CorrectedHeadingTenths);
  StoreLow16(AttitudeFrame, 22, VariationTenths());
  StoreLow16(AttitudeFrame, 24, 0);
  StoreLow16(AttitudeFrame, 26, 0);
  StoreLow8(AttitudeFrame, 32, 1);
  StoreLow8(AttitudeFrame, 33, 1);
  StoreLow8(AttitudeFrame, 34, 1);
  StoreLow8(AttitudeFrame, 35, 0);
  StoreLow8(AttitudeFrame, 36, 0);
}

void FillGps1Frame() {
  const std::int64_t height = Trunc(Extended(SimSnapshot.GpsAltitude6020) * 1000);
  StoreLow32(Gps1Frame, 8, FlightDerived.LongitudeE7);
  StoreLow32(Gps1Frame, 12, FlightDerived.LatitudeE7);
  StoreLow32(Gps1Frame, 16, height);
  StoreLow32(Gps1Frame, 20, height);
  StoreLow32(Gps1Frame, 24, 3000);
  StoreLow32(Gps1Frame, 28, 3000);
}

void FillGps2Frame() {
  StoreLow32(Gps2Frame, 11, FlightDerived.GroundSpeedCentis);
  StoreLow32(Gps2Frame, 15, FlightDerived.TrackE5);
  StoreLow32(Gps2Frame, 20, -static_cast<std::int64_t>(FlightDerived.VerticalSpeedFpm) / 2);
}

void FillGps3Frame() {
  StoreLow8(Gps3Frame, 4, 6);
  StoreLow16(Gps3Frame, 6, 0x55AA);
  StoreLow8(Gps3Frame, 8, 3);
  StoreLow32(Gps3Frame, 16, 3000);
}

void FillQnhFrame() {
  const std::uint32_t held = HeldQnh.load();
  StoreLow16(QnhFrame, 4, held * 10 / 16);  // 1/16 hPa to 0.1 hPa
}
