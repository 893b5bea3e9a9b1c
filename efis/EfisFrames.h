// The eleven outbound frame kinds: one buffer each for the whole run, the header stamp, the
// common send step and the senders. All of it runs on the user-interface thread.
//
// A frame is a 4-byte header (payload length, 0, 1, type) and a fixed little-endian payload.
// The buffers start as zeros; a payload byte no fill step writes stays 0 for the whole run.
#pragma once

#include <cstdint>

inline constexpr std::uint32_t kSensorFrameSize = 30;       // type 0
inline constexpr std::uint32_t kEngine1FrameSize = 64;      // type 1, ZENDA1
inline constexpr std::uint32_t kEngine2FrameSize = 64;      // type 2, ZENDA2
inline constexpr std::uint32_t kGps3FrameSize = 20;         // type 3
inline constexpr std::uint32_t kGps1FrameSize = 43;         // type 4
inline constexpr std::uint32_t kGps2FrameSize = 24;         // type 5
inline constexpr std::uint32_t kQnhFrameSize = 6;           // type 6
inline constexpr std::uint32_t kAttitudeFrameSize = 37;     // type 11
inline constexpr std::uint32_t kEngine1AuxFrameSize = 9;    // type 12, ZENDA1a
inline constexpr std::uint32_t kEngine2AuxFrameSize = 9;    // type 13, ZENDA2a
inline constexpr std::uint32_t kServoStatusFrameSize = 20;  // type 15

extern std::uint8_t SensorFrame[kSensorFrameSize];
extern std::uint8_t Engine1Frame[kEngine1FrameSize];
extern std::uint8_t Engine2Frame[kEngine2FrameSize];
extern std::uint8_t Gps3Frame[kGps3FrameSize];
extern std::uint8_t Gps1Frame[kGps1FrameSize];
extern std::uint8_t Gps2Frame[kGps2FrameSize];
extern std::uint8_t QnhFrame[kQnhFrameSize];
extern std::uint8_t AttitudeFrame[kAttitudeFrameSize];
extern std::uint8_t Engine1AuxFrame[kEngine1AuxFrameSize];
extern std::uint8_t Engine2AuxFrame[kEngine2AuxFrameSize];
extern std::uint8_t ServoStatusFrame[kServoStatusFrameSize];

// Writes the four header bytes of all eleven buffers; touches no payload byte. Idempotent.
void InitEfisFrames();

// The common send step: one write of the whole buffer on the write pipe. On failure the
// message goes to the log, EfisConnected is cleared and the reconnect button enabled; false.
// The caller has checked EfisConnected and flushes afterwards where the frame wants it.
bool WriteEfisFrame(const std::uint8_t* frame, std::uint32_t size, const char* failureMessage);

// The senders: nothing while EfisConnected is false; else fill the payload, write, and flush
// after a successful write (not QNH, not servo status; GPS once after its group of three).
void SendSensorFrame();
void SendEngine1Frame();
void SendEngine1AuxFrame();
void SendEngine2Frame();
void SendEngine2AuxFrame();
void SendAttitudeFrame();
void SendGpsFrames();  // GPS 1, 2, 3; a failed write stops the rest of the group
void SendQnhFrame();
void SendServoStatusFrame();

// The payload fill of each kind, run by its sender just before the write (efis/FlightFrames.cpp,
// efis/EngineFrames.cpp, efis/EfisReader.cpp). Each writes only its own buffer's payload.
void FillSensorFrame();
void FillEngine1Frame();
void FillEngine1AuxFrame();
void FillEngine2Frame();
void FillEngine2AuxFrame();
void FillAttitudeFrame();
void FillGps1Frame();
void FillGps2Frame();
void FillGps3Frame();
void FillQnhFrame();
void FillServoStatusFrame();  // efis/EfisReader.cpp, from what the reader decoded
