#include "efis/EfisFrames.h"

#include "efis/EfisLink.h"
#include "efis/EfisReader.h"
#include "efis/EngineFrames.h"
#include "efis/FlightFrames.h"
#include "efis/SharedState.h"
#include "efis/SimSnapshot.h"
#include "platform/device.h"

namespace {

enum class Flush { No, Yes };

// The write of a filled frame, and its flush.
void Send(const std::uint8_t* frame, std::uint32_t size, const char* failureMessage, Flush flush) {
  if (WriteEfisFrame(frame, size, failureMessage) && flush == Flush::Yes) {
    platform::FlushDeviceFile(EfisLink.WriteChannel);  // a failed flush changes nothing
  }
}

}  // namespace

bool WriteEfisFrame(const std::uint8_t* frame, std::uint32_t size, const char* failureMessage) {
  std::uint32_t written = 0;  // only the call's success counts
  if (platform::WriteDeviceFile(EfisLink.WriteChannel, frame, size, &written)) return true;
  EfisLogLine(failureMessage);
  EfisLink.EfisConnected = false;
  EfisSetReconnectEnabled(true);
  return false;
}

void SendSensorFrame() {
  if (!EfisLink.EfisConnected) return;
  FillSensorFrame(SimSnapshot, FlightDerived, SensorFrame);
  Send(SensorFrame, kSensorFrameSize, "Cannot send sensor data to USB, EFIS disconnected",
       Flush::Yes);
}

void SendEngine1Frame() {
  if (!EfisLink.EfisConnected) return;
  FillEngine1Frame(SimSnapshot, Engine1Frame);
  Send(Engine1Frame, kEngine1FrameSize, "Cannot send ZENDA1 data to USB, EFIS disconnected",
       Flush::Yes);
}

void SendEngine1AuxFrame() {
  if (!EfisLink.EfisConnected) return;
  FillEngineAuxFrame(Engine1AuxFrame);
  Send(Engine1AuxFrame, kEngine1AuxFrameSize, "Cannot send ZENDA1a data to USB, EFIS disconnected",
       Flush::Yes);
}

void SendEngine2Frame() {
  if (!EfisLink.EfisConnected) return;
  FillEngine2Frame(SimSnapshot, Engine2Frame);
  Send(Engine2Frame, kEngine2FrameSize, "Cannot send ZENDA2 data to USB, EFIS disconnected",
       Flush::Yes);
}

void SendEngine2AuxFrame() {
  if (!EfisLink.EfisConnected) return;
  FillEngineAuxFrame(Engine2AuxFrame);
  Send(Engine2AuxFrame, kEngine2AuxFrameSize, "Cannot send ZENDA2a data to USB, EFIS disconnected",
       Flush::Yes);
}

void SendAttitudeFrame() {
  if (!EfisLink.EfisConnected) return;
  FillAttitudeFrame(SimSnapshot, FlightDerived, AttitudeFrame);
  Send(AttitudeFrame, kAttitudeFrameSize, "Cannot send attitude to USB, EFIS disconnected",
       Flush::Yes);
}

void SendGpsFrames() {
  if (!EfisLink.EfisConnected) return;
  FillGps1Frame(SimSnapshot, FlightDerived, Gps1Frame);
  WriteEfisFrame(Gps1Frame, kGps1FrameSize, "Cannot send GPS 1 data to USB, EFIS disconnected");
  if (!EfisLink.EfisConnected) return;
  FillGps2Frame(FlightDerived, Gps2Frame);
  WriteEfisFrame(Gps2Frame, kGps2FrameSize, "Cannot send GPS 2 data to USB, EFIS disconnected");
  if (!EfisLink.EfisConnected) return;
  FillGps3Frame(Gps3Frame);
  WriteEfisFrame(Gps3Frame, kGps3FrameSize, "Cannot send GPS 3 data to USB, EFIS disconnected");
  if (!EfisLink.EfisConnected) return;
  platform::FlushDeviceFile(EfisLink.WriteChannel);
}

void SendQnhFrame() {
  if (!EfisLink.EfisConnected) return;
  FillQnhFrame(HeldQnh.load(), QnhFrame);
  Send(QnhFrame, kQnhFrameSize, "Cannot send QNH to USB, EFIS disconnected", Flush::No);
}

void SendServoStatusFrame() {
  if (!EfisLink.EfisConnected) return;
  FillServoStatusFrame(ServoStatusValues.load(), ServoStatusFrame);
  Send(ServoStatusFrame, kServoStatusFrameSize,
       "Cannot send servo status to USB, EFIS disconnected", Flush::No);
}
