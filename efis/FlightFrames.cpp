// The flight conversions and the payloads of the sensor, attitude, GPS 1 to 3 and QNH frames.
// Each fill step computes every field first and stores them after, so a value that cannot be
// converted leaves the buffer as it was and the frame unsent.
#include "efis/FlightFrames.h"

#include "efis/FrameMath.h"

TFlightDerived FlightDerived{};

namespace {

long double Extended(double value) {
  return static_cast<long double>(value);
}

// The variation in tenths of a degree, from 1/182 degree (65536 to the circle, near enough).
std::int64_t VariationTenths(const TSimSnapshot& s) {
  return s.Variation02A0 * 10 / 182;
}

// The guarded step: an attitude angle that cannot be converted is skipped without a word. A
// bad bank leaves both angles; a bad pitch leaves the pitch, the new bank stands.
void ConvertBankAndPitch(const TSimSnapshot& s, TFlightDerived& d) {
  std::int64_t tenths = 0;
  if (!TryTrunc(Extended(s.Bank2F78) * 10, tenths)) return;
  d.BankTenths = static_cast<std::int32_t>(tenths);
  if (!TryTrunc(-Extended(s.Pitch2F70) * 10, tenths)) return;
  d.PitchTenths = static_cast<std::int32_t>(tenths);
}

// Compass heading plus variation in 16-bit arithmetic, brought back into the circle once.
std::int16_t CorrectedHeading(std::int32_t compassTenths, std::int64_t variationTenths) {
  auto sum = static_cast<std::int16_t>(static_cast<std::int16_t>(compassTenths) + variationTenths);
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

void ConvertFast(const TSimSnapshot& s, TFlightDerived& d) {
  ConvertBankAndPitch(s, d);
  d.TurnValue = s.Turn037C / 17;
  d.GyroHeadingTenths = static_cast<std::int32_t>(Trunc(Extended(s.GyroHeading2B00) * 10));
  d.CompassHeadingTenths = static_cast<std::int32_t>(Trunc(Extended(s.CompassHeading02CC) * 10));
  d.CorrectedHeadingTenths = CorrectedHeading(d.CompassHeadingTenths, VariationTenths(s));
}

void ConvertSlow(const TSimSnapshot& s, TFlightDerived& d) {
  d.LatitudeE7 = ScaleE7(s.Latitude6010);
  d.LongitudeE7 = ScaleE7(s.Longitude6018);
  // The circle fraction times 360 is exact in 64 bits; 42949.67296 is 2^32 / 10^5.
  const auto fraction = static_cast<std::int64_t>(s.Track0580 & 0xFFFFFFFFu);
  d.TrackE5 =
      static_cast<std::int32_t>(Trunc(static_cast<long double>(fraction * 360) / 42949.67296L));
  d.GroundSpeedCentis = static_cast<std::int32_t>(Trunc(Extended(s.GroundSpeed6030) * 100));
  d.AltitudeFeet = static_cast<std::int32_t>(MulDivTrunc(s.Altitude0574, 32808, 10000));
  d.AirspeedTenthsMph = static_cast<std::int32_t>(MulDivTrunc(s.Airspeed02BC, 11508, 128000));
  d.VerticalSpeedFpm =
      static_cast<std::int32_t>(MulDivTrunc(s.VerticalSpeed02C8, 60 * 3280, 256000));
}

void ConvertFastGroup() {
  ConvertFast(SimSnapshot, FlightDerived);
}

void ConvertSlowGroup() {
  ConvertSlow(SimSnapshot, FlightDerived);
}

void FillSensorFrame(const TSimSnapshot& s, const TFlightDerived& d,
                     std::uint8_t (&frame)[kSensorFrameSize]) {
  // Static pressure: lb/ft2 to 0.1 hPa, then the sensor's own scale.
  const std::int64_t pressure = Round(Extended(s.AmbientPressure28C8) * 4.788026L);
  const std::int64_t pressureField = MulDivTrunc(pressure, 3686, 10000) - 389;
  const auto ias = static_cast<std::int16_t>(d.AirspeedTenthsMph / 10);
  // True airspeed: 1.75 % of IAS per 1000 ft. Computed in 64 bits for any altitude (negative
  // below sea level) and kept within the field rather than wrapped.
  const std::int64_t k = static_cast<std::int64_t>(d.AltitudeFeet / 100) * (ias * 175) / 100000;
  std::int64_t tas = ias + k;
  if (tas > 32767) tas = 32767;
  if (tas < -32768) tas = -32768;
  const std::int64_t raw20 = Round(Extended(s.Sensor2840) * 10);
  const std::int64_t byte20 = raw20 < 25 ? 0 : raw20 > 280 ? 255 : raw20 - 25;
  const std::int64_t field22 = Round(Extended(s.Sensor2848) * 10);

  StoreLow32(frame, 4, d.AltitudeFeet);
  StoreLow16(frame, 8, pressureField);
  StoreLow16(frame, 10, ias);
  StoreLow16(frame, 12, tas);
  StoreLow16(frame, 14, d.VerticalSpeedFpm);
  StoreLow8(frame, 20, byte20);
  StoreLow8(frame, 21, byte20);
  StoreLow16(frame, 22, field22);
  StoreLow16(frame, 26, s.OutsideTemp0E8C / 256);  // toward zero, not a shift
  StoreLow16(frame, 28, d.VerticalSpeedFpm);
}

void FillAttitudeFrame(const TSimSnapshot& s, const TFlightDerived& d,
                       std::uint8_t (&frame)[kAttitudeFrameSize]) {
  const std::int64_t load = Round(static_cast<long double>(s.GForce11BA) / 62.4L);

  StoreLow16(frame, 4, d.BankTenths);
  StoreLow16(frame, 6, d.PitchTenths);
  StoreLow16(frame, 10, d.CompassHeadingTenths);
  StoreLow16(frame, 12, d.GyroHeadingTenths);
  StoreLow16(frame, 14, load);
  StoreLow16(frame, 16, d.TurnValue);
  StoreLow16(frame, 20, d.CorrectedHeadingTenths);
  StoreLow16(frame, 22, VariationTenths(s));
  StoreLow16(frame, 24, 0);
  StoreLow16(frame, 26, 0);
  StoreLow8(frame, 32, 1);
  StoreLow8(frame, 33, 1);
  StoreLow8(frame, 34, 1);
  StoreLow8(frame, 35, 0);
  StoreLow8(frame, 36, 0);
}

void FillGps1Frame(const TSimSnapshot& s, const TFlightDerived& d,
                   std::uint8_t (&frame)[kGps1FrameSize]) {
  const std::int64_t height = Trunc(Extended(s.GpsAltitude6020) * 1000);
  StoreLow32(frame, 8, d.LongitudeE7);
  StoreLow32(frame, 12, d.LatitudeE7);
  StoreLow32(frame, 16, height);
  StoreLow32(frame, 20, height);
  StoreLow32(frame, 24, 3000);
  StoreLow32(frame, 28, 3000);
}

void FillGps2Frame(const TFlightDerived& d, std::uint8_t (&frame)[kGps2FrameSize]) {
  StoreLow32(frame, 11, d.GroundSpeedCentis);
  StoreLow32(frame, 15, d.TrackE5);
  StoreLow32(frame, 20, -static_cast<std::int64_t>(d.VerticalSpeedFpm) / 2);
}

void FillGps3Frame(std::uint8_t (&frame)[kGps3FrameSize]) {
  StoreLow8(frame, 4, 6);
  StoreLow16(frame, 6, 0x55AA);
  StoreLow8(frame, 8, 3);
  StoreLow32(frame, 16, 3000);
}

void FillQnhFrame(std::uint16_t heldQnh, std::uint8_t (&frame)[kQnhFrameSize]) {
  StoreLow16(frame, 4, static_cast<std::uint32_t>(heldQnh) * 10 / 16);  // 1/16 hPa to 0.1 hPa
}
