#include "efis/EfisFrames.h"

#include "efis/EfisLink.h"
#include "platform/device.h"

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

enum class Flush { No, Yes };

void SendFrame(void (*fill)(), const std::uint8_t* frame, std::uint32_t size,
               const char* failureMessage, Flush flush) {
  if (!EfisLink.EfisConnected) return;
  fill();
  if (WriteEfisFrame(frame, size, failureMessage) && flush == Flush::Yes) {
    platform::FlushDeviceFile(EfisLink.WriteChannel);  // a failed flush changes nothing
  }
}

}  // namespace

void InitEfisFrames() {
  for (const FrameKind& kind : kFrameKinds) {
    kind.buffer[0] = static_cast<std::uint8_t>(kind.size - 4);
    kind.buffer[1] = 0;
    kind.buffer[2] = 1;
    kind.buffer[3] = kind.type;
  }
}

bool WriteEfisFrame(const std::uint8_t* frame, std::uint32_t size, const char* failureMessage) {
  std::uint32_t written = 0;  // only the call's success counts
  if (platform::WriteDeviceFile(EfisLink.WriteChannel, frame, size, &written)) return true;
  EfisLogLine(failureMessage);
  EfisLink.EfisConnected = false;
  EfisSetReconnectEnabled(true);
  return false;
}

void SendSensorFrame() {
  SendFrame(FillSensorFrame, SensorFrame, kSensorFrameSize,
            "Cannot send sensor data to USB, EFIS disconnected", Flush::Yes);
}

void SendEngine1Frame() {
  SendFrame(FillEngine1Frame, Engine1Frame, kEngine1FrameSize,
            "Cannot send ZENDA1 data to USB, EFIS disconnected", Flush::Yes);
}

void SendEngine1AuxFrame() {
  SendFrame(FillEngine1AuxFrame, Engine1AuxFrame, kEngine1AuxFrameSize,
            "Cannot send ZENDA1a data to USB, EFIS disconnected", Flush::Yes);
}

void SendEngine2Frame() {
  SendFrame(FillEngine2Frame, Engine2Frame, kEngine2FrameSize,
            "Cannot send ZENDA2 data to USB, EFIS disconnected", Flush::Yes);
}

void SendEngine2AuxFrame() {
  SendFrame(FillEngine2AuxFrame, Engine2AuxFrame, kEngine2AuxFrameSize,
            "Cannot send ZENDA2a data to USB, EFIS disconnected", Flush::Yes);
}

void SendAttitudeFrame() {
  SendFrame(FillAttitudeFrame, AttitudeFrame, kAttitudeFrameSize,
            "Cannot send attitude to USB, EFIS disconnected", Flush::Yes);
}

void SendGpsFrames() {
  if (!EfisLink.EfisConnected) return;
  FillGps1Frame();
  WriteEfisFrame(Gps1Frame, kGps1FrameSize, "Cannot send GPS 1 data to USB, EFIS disconnected");
  if (!EfisLink.EfisConnected) return;
  FillGps2Frame();
  WriteEfisFrame(Gps2Frame, kGps2FrameSize, "Cannot send GPS 2 data to USB, EFIS disconnected");
  if (!EfisLink.EfisConnected) return;
  FillGps3Frame();
  WriteEfisFrame(Gps3Frame, kGps3FrameSize, "Cannot send GPS 3 data to USB, EFIS disconnected");
  if (!EfisLink.EfisConnected) return;
  platform::FlushDeviceFile(EfisLink.WriteChannel);
}

void SendQnhFrame() {
  SendFrame(FillQnhFrame, QnhFrame, kQnhFrameSize, "Cannot send QNH to USB, EFIS disconnected",
            Flush::No);
}

void SendServoStatusFrame() {
  SendFrame(FillServoStatusFrame, ServoStatusFrame, kServoStatusFrameSize,
            "Cannot send servo status to USB, EFIS disconnected", Flush::No);
}
