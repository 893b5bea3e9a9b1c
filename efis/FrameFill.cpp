// The payload fill step of the servo status frame. It is not written yet: until it is, the
// step leaves the payload as it stands, all zeros, so only the header carries anything. The
// engine frames fill in efis/EngineFrames.cpp, the flight frames in efis/FlightFrames.cpp.
#include "efis/EfisFrames.h"

void FillServoStatusFrame() {}
