// The common send step and the senders of the eleven outbound frames (the buffers are
// efis/FrameBuffers.h). Each sender fills its buffer from the module state the system names
// (SimSnapshot, FlightDerived, HeldQnh, the servo status values) through the fill steps of
// efis/FlightFrames.h, efis/EngineFrames.h and efis/EfisReader.h, which take what they read as
// parameters, then writes it on the EFIS link's write pipe. All of it runs on the user-interface
// thread.
#pragma once

#include <cstdint>

#include "efis/FrameBuffers.h"

// The common send step: one write of the whole buffer on the write pipe. On failure the
// message goes to the log, EfisConnected is cleared and the reconnect button enabled; false.
// The caller has checked EfisConnected and flushes afterwards where the frame wants it.
bool WriteEfisFrame(const std::uint8_t* frame, std::uint32_t size, const char* failureMessage);

// The senders: nothing while EfisConnected is false; else fill the payload, write, and flush
// after a successful write (not QNH, not servo status; GPS once after its group of three). A
// fill that throws (a value that cannot be converted) leaves the buffer as it was, unsent.
void SendSensorFrame();
void SendEngine1Frame();
void SendEngine1AuxFrame();
void SendEngine2Frame();
void SendEngine2AuxFrame();
void SendAttitudeFrame();
void SendGpsFrames();  // GPS 1, 2, 3; a failed write stops the rest of the group
void SendQnhFrame();
void SendServoStatusFrame();
