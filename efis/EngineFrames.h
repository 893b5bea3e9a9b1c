// The two engine data units the bridge stands in for, ZENDA1 and ZENDA2: the temperature
// conversions and the payloads of their frames and auxiliary frames. Everything truncates toward
// zero in extended precision and throws EInvalidOp for a value that cannot be converted
// (efis/FrameMath.h). No state: any thread, with its extended precision set.
#pragma once

#include <cstdint>

#include "efis/FrameBuffers.h"
#include "efis/SimSnapshot.h"

// Degrees Rankine to whole degrees Celsius: ((x - 491.67) x 5) / 9.
std::int64_t RankineToCelsius(double rankine);

// The engine temperature to whole degrees Celsius: (x - 34) / 1.8. The offset is 34, not 32.
std::int64_t EngineTempToCelsius(double value);

// The payload of each engine's frame from its simulator values. Every field is computed before
// any is stored: one that throws leaves the frame as it was. The header is not touched.
void FillEngine1Frame(const TSimSnapshot& snapshot, TEngineFrame& frame);
void FillEngine2Frame(const TSimSnapshot& snapshot, TEngineFrame& frame);

// An auxiliary frame's payload, the same for both units.
void FillEngineAuxFrame(TEngineAuxFrame& frame);
