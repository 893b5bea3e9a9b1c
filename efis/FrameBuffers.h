// The eleven outbound frame kinds: one buffer each for the whole run, and the header stamp. A
// frame is a 4-byte header (payload length, 0, 1, type) and a fixed little-endian payload. The
// buffers start as zeros; a payload byte no fill step writes stays 0 for the whole run. Only the
// user-interface thread touches them.
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

// The engine frames of both units share one layout, as do their auxiliary frames.
static_assert(kEngine1FrameSize == kEngine2FrameSize);
static_assert(kEngine1AuxFrameSize == kEngine2AuxFrameSize);
using TEngineFrame = std::uint8_t[kEngine1FrameSize];
using TEngineAuxFrame = std::uint8_t[kEngine1AuxFrameSize];

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

// Writes the four header bytes of all eleven buffers; touches no payload byte. Idempotent. The
// EFIS connect runs it at the end of every attempt.
void InitEfisFrames();
