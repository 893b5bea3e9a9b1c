// The module's offset space: 64 KiB of state addressed by simulator offset, as the bridge sees
// it through read and write records. Plain module state, touched only by the serving thread.
#pragma once

#include <cstdint>

namespace sim {

inline constexpr std::uint32_t kSpaceSize = 0x10000;

inline constexpr std::uint32_t kVersionOffset = 0x3304;
inline constexpr std::uint32_t kSimIdOffset = 0x3308;
inline constexpr std::uint32_t kDefaultVersion = 0x19980005;
inline constexpr std::uint32_t kDefaultSimId = 8;  // FSX

// Copies `size` bytes at `offset` into `destination`; bytes at or past 0x10000 read as 0.
// With the handshake hidden, 0x3304..0x330B read as 0 too.
void SpaceRead(std::uint32_t offset, std::uint32_t size, std::uint8_t* destination);
// Stores `size` bytes at `offset`; bytes at or past 0x10000 are dropped.
void SpaceWrite(std::uint32_t offset, std::uint32_t size, const std::uint8_t* source);

// A write from a client's batch: as SpaceWrite, except that 0x3304..0x330B (the module's
// version and simulator word) keep their values.
void SpaceWriteFromClient(std::uint32_t offset, std::uint32_t size, const std::uint8_t* source);

// A module that does not report itself yet: the handshake values read as zeros.
void SetHandshakeHidden(bool hidden);

// Sets every byte of the space to 0.
void ClearSpace();

// The handshake values: `version` at 0x3304, 0xFADE << 16 | simId at 0x3308.
void PutModuleIdentity(std::uint32_t version, std::uint16_t simId);

// Puts the fixed flight state into the space (everything else 0) and the handshake values.
void LoadFixedState(std::uint32_t version, std::uint16_t simId);

// Every double of the fixed state (all the doubles the bridge reads) set to `value`, and back
// to its fixed value.
void PoisonFixedDoubles(double value);
void RestoreFixedDoubles();

// Typed little-endian reads, for the flight model and tests.
std::uint16_t SpaceGetU16(std::uint32_t offset);
std::uint32_t SpaceGetU32(std::uint32_t offset);
double SpaceGetDouble(std::uint32_t offset);

// Typed little-endian stores, for the state table and tests.
void SpacePutU8(std::uint32_t offset, std::uint8_t value);
void SpacePutU16(std::uint32_t offset, std::uint16_t value);
void SpacePutU32(std::uint32_t offset, std::uint32_t value);
void SpacePutDouble(std::uint32_t offset, double value);

}  // namespace sim
