// The two engine data units the bridge stands in for, ZENDA1 and ZENDA2: the temperature
// conversions of their frames. Both truncate toward zero in extended precision and throw
// EInvalidOp for a value that cannot be converted (efis/FrameMath.h). No state: any thread, with
// its extended precision set.
#pragma once

#include <cstdint>

// Degrees Rankine to whole degrees Celsius: ((x - 491.67) x 5) / 9.
std::int64_t RankineToCelsius(double rankine);

// The engine temperature to whole degrees Celsius: (x - 34) / 1.8. The offset is 34, not 32.
std::int64_t EngineTempToCelsius(double value);
