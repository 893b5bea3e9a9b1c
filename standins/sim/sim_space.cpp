// The offset space. Reads and writes clip at the end of the space instead of wrapping, so no
// record, however large its offset or size, reaches outside it.
#include "standins/sim/sim_space.h"

#include <cstring>

namespace sim {

namespace {

std::uint8_t Space[kSpaceSize];
bool HandshakeHidden = false;

// How many of `size` bytes from `offset` lie inside the space.
std::uint32_t InsideCount(std::uint32_t offset, std::uint32_t size) {
  if (offset >= kSpaceSize) return 0;
  const std::uint32_t room = kSpaceSize - offset;
  return size < room ? size : room;
}

}  // namespace

void SpaceRead(std::uint32_t offset, std::uint32_t size, std::uint8_t* destination) {
  const std::uint32_t inside = InsideCount(offset, size);
  if (inside != 0) std::memcpy(destination, Space + offset, inside);
  if (inside < size) std::memset(destination + inside, 0, size - inside);
  if (!HandshakeHidden || inside == 0) return;
  constexpr std::uint32_t first = kVersionOffset, last = kSimIdOffset + 4;
  const std::uint32_t from = offset > first ? offset : first;
  const std::uint32_t to = offset + inside < last ? offset + inside : last;
  if (from < to) std::memset(destination + (from - offset), 0, to - from);
}

void SpaceWrite(std::uint32_t offset, std::uint32_t size, const std::uint8_t* source) {
  const std::uint32_t inside = InsideCount(offset, size);
  if (inside != 0) std::memcpy(Space + offset, source, inside);
}

void SpaceWriteFromClient(std::uint32_t offset, std::uint32_t size, const std::uint8_t* source) {
  // The module's identity (version and simulator word) is read-only to clients: the handshake
  // writes its own word to 0x330A, inside the simulator word, and every later open reads it.
  constexpr std::uint32_t first = kVersionOffset, last = kSimIdOffset + 4;
  const std::uint64_t end = std::uint64_t{offset} + size;
  if (end <= first || offset >= last) {
    SpaceWrite(offset, size, source);
    return;
  }
  if (offset < first) SpaceWrite(offset, first - offset, source);
  if (end > last)
    SpaceWrite(last, static_cast<std::uint32_t>(end - last), source + (last - offset));
}

void SetHandshakeHidden(bool hidden) {
  HandshakeHidden = hidden;
}

std::uint16_t SpaceGetU16(std::uint32_t offset) {
  std::uint8_t bytes[2];
  SpaceRead(offset, 2, bytes);
  return static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8);
}

std::uint32_t SpaceGetU32(std::uint32_t offset) {
  return SpaceGetU16(offset) | static_cast<std::uint32_t>(SpaceGetU16(offset + 2)) << 16;
}

double SpaceGetDouble(std::uint32_t offset) {
  const std::uint64_t bits = SpaceGetU32(offset) | std::uint64_t{SpaceGetU32(offset + 4)} << 32;
  double value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

void SpacePutU8(std::uint32_t offset, std::uint8_t value) {
  SpaceWrite(offset, 1, &value);
}

void SpacePutU16(std::uint32_t offset, std::uint16_t value) {
  const std::uint8_t bytes[2] = {static_cast<std::uint8_t>(value),
                                 static_cast<std::uint8_t>(value >> 8)};
  SpaceWrite(offset, 2, bytes);
}

void SpacePutU32(std::uint32_t offset, std::uint32_t value) {
  const std::uint8_t bytes[4] = {
      static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
      static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
  SpaceWrite(offset, 4, bytes);
}

void PutModuleIdentity(std::uint32_t version, std::uint16_t simId) {
  SpacePutU32(kVersionOffset, version);
  SpacePutU32(kSimIdOffset, 0xFADEu << 16 | simId);
}

void SpacePutDouble(std::uint32_t offset, double value) {
  std::uint64_t bits;
  static_assert(sizeof bits == sizeof value);
  std::memcpy(&bits, &value, sizeof bits);
  SpacePutU32(offset, static_cast<std::uint32_t>(bits));
  SpacePutU32(offset + 4, static_cast<std::uint32_t>(bits >> 32));
}

void ClearSpace() {
  std::memset(Space, 0, sizeof Space);
}

}  // namespace sim
