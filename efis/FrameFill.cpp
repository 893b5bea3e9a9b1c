// The payload fill steps of the outbound frames. The payload layouts (engine, flight and servo
// status frames) are not written yet: until they are, each step leaves its payload as it
// stands, all zeros, so only the headers carry anything.
#include "efis/EfisFrames.h"

void FillSensorFrame() {}
void FillEngine1Frame() {}
void FillEngine1AuxFrame() {}
void FillEngine2Frame() {}
void FillEngine2AuxFrame() {}
void FillAttitudeFrame() {}
void FillGps1Frame() {}
void FillGps2Frame() {}
void FillGps3Frame() {}
void FillQnhFrame() {}
