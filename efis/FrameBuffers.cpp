#include "efis/FrameBuffers.h"

std::uint8_t SensorFrame[kSensorFrameSize];
std::uint8_t Engine1Frame[kEngine1FrameSize];
std::uint8_t Engine2Frame[kEngine2FrameSize];
std::uint8_t Gps3Frame[kGps3FrameSize];
std::uint8_t Gps1Frame[kGps1FrameSize];
std::uint8_t Gps2Frame[kGps2FrameSize];
std::uint8_t QnhFrame[kQnhFrameSize];
std::uint8_t AttitudeFrame[kAttitudeFrameSize];
std::uint8_t Engine1AuxFrame[kEngine1AuxFrameSize];
std::uint8_t Engine2AuxFrame[kEngine2AuxFrameSize];
std::uint8_t ServoStatusFrame[kServoStatusFrameSize];

namespace {

struct FrameKind {
  std::uint8_t* buffer;
  std::uint32_t size;
  std::uint8_t type;
};

constexpr FrameKind kFrameKinds[] = {
    {SensorFrame, kSensorFrameSize, 0},
    {Engine1Frame, kEngine1FrameSize, 1},
    {Engine2Frame, kEngine2FrameSize, 2},
    {Gps3Frame, kGps3FrameSize, 3},
    {Gps1Frame, kGps1FrameSize, 4},
    {Gps2Frame, kGps2FrameSize, 5},
    {QnhFrame, kQnhFrameSize, 6},
    {AttitudeFrame, kAttitudeFrameSize, 11},
    {Engine1AuxFrame, kEngine1AuxFrameSize, 12},
    {Engine2AuxFrame, kEngine2AuxFrameSize, 13},
    {ServoStatusFrame, kServoStatusFrameSize, 15},
};

}  // namespace

void InitEfisFrames() {
  for (const FrameKind& kind : kFrameKinds) {
    kind.buffer[0] = static_cast<std::uint8_t>(kind.size - 4);
    kind.buffer[1] = 0;
    kind.buffer[2] = 1;
    kind.buffer[3] = kind.type;
  }
}
