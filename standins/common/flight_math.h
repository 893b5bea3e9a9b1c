// The arithmetic of angles and limits that korvan-sim's flight model and korvan-efis's
// autopilot share.
#pragma once

#include <cmath>

namespace standins {

inline double Clamp(double value, double low, double high) {
  return value < low ? low : value > high ? high : value;
}

// Degrees into [0, 360).
inline double Wrap360(double degrees) {
  degrees = std::fmod(degrees, 360.0);
  return degrees < 0 ? degrees + 360 : degrees;
}

// Degrees into [-180, 180), in one step (no round trip through [0, 360)).
inline double Wrap180(double degrees) {
  degrees = std::fmod(degrees, 360.0);
  if (degrees < -180) degrees += 360;
  if (degrees >= 180) degrees -= 360;
  return degrees;
}

}  // namespace standins
