// The hostile rewrites. Every change really changes the field (a value equal to the old one is
// moved by one), so each exchange under a rewrite mode is a damaged one.
#include "standins/sim/sim_rewrite.h"

#include <cstdio>
#include <cstring>

#include "standins/sim/sim_exchange.h"

namespace sim {

namespace {

constexpr std::uint32_t kMaxRecords = 0x10000 / kWriteHeaderSize + 1;
std::uint32_t Positions[kMaxRecords];

std::uint32_t Get32(const std::uint8_t* at) {
  return static_cast<std::uint32_t>(at[0]) | static_cast<std::uint32_t>(at[1]) << 8 |
         static_cast<std::uint32_t>(at[2]) << 16 | static_cast<std::uint32_t>(at[3]) << 24;
}

void Put32(std::uint8_t* at, std::uint32_t value) {
  at[0] = static_cast<std::uint8_t>(value);
  at[1] = static_cast<std::uint8_t>(value >> 8);
  at[2] = static_cast<std::uint8_t>(value >> 16);
  at[3] = static_cast<std::uint8_t>(value >> 24);
}

// splitmix64: small, and good enough to spread the damage.
std::uint64_t Next(std::uint64_t& state) {
  std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

std::uint32_t Pick(std::uint64_t& state, std::uint32_t count) {
  return static_cast<std::uint32_t>(Next(state) % count);
}

std::uint32_t Differs(std::uint32_t chosen, std::uint32_t old) {
  return chosen == old ? old + 1 : chosen;
}

std::uint32_t NewId(std::uint64_t& state, std::uint32_t id) {
  const std::uint32_t choices[] = {0, 3, 0xFFFFFFFF, id == 1 ? 2u : 1u, 0x101, 0x80000001};
  return Differs(choices[Pick(state, 6)], id);
}

std::uint32_t NewSize(std::uint64_t& state, std::uint32_t size, std::uint32_t areaSize) {
  const std::uint32_t choices[] = {
      0xFFFFFFFF, 0x80000000, areaSize, size + 1, size == 0 ? 1 : size - 1, 0x10000, size + 16};
  return Differs(choices[Pick(state, 7)], size);
}

std::uint32_t NewOffset(std::uint64_t& state, std::uint32_t offset) {
  const std::uint32_t choices[] = {offset + 1, offset ^ 0x8000, 0xFFFFFFFF, 0};
  return Differs(choices[Pick(state, 4)], offset);
}

std::uint32_t NewRef(std::uint64_t& state, std::uint32_t ref) {
  const std::uint32_t choices[] = {ref + 1, ref - 1, 0, 0xFFFFFFFF, 0x7FFFFFFF, 1, 0x8000};
  return Differs(choices[Pick(state, 7)], ref);
}

void Append(char* what, std::size_t whatSize, const char* field, std::uint32_t record,
            std::uint32_t from, std::uint32_t to) {
  const std::size_t used = std::strlen(what);
  if (used >= whatSize) return;
  std::snprintf(what + used, whatSize - used, "%srecord %u %s 0x%X->0x%X", used ? ", " : "", record,
                field, from, to);
}

}  // namespace

bool ParseRewriteModes(const char* text, unsigned* modes) {
  static const struct {
    const char* name;
    unsigned mode;
  } names[] = {{"ids", kRewriteIds},
               {"sizes", kRewriteSizes},
               {"offsets", kRewriteOffsets},
               {"refs", kRewriteRefs},
               {"all", kRewriteAll}};
  unsigned result = 0;
  const char* at = text;
  for (;;) {
    const char* end = at;
    while (*end != '\0' && *end != ',' && *end != '|') ++end;
    bool known = false;
    for (const auto& entry : names) {
      if (std::strlen(entry.name) == static_cast<std::size_t>(end - at) &&
          std::strncmp(entry.name, at, end - at) == 0) {
        result |= entry.mode;
        known = true;
      }
    }
    if (!known) return false;
    if (*end == '\0') break;
    at = end + 1;
  }
  *modes = result;
  return true;
}

void RewriteArea(std::uint8_t* area, std::uint32_t areaSize, std::uint32_t length, unsigned modes,
                 std::uint64_t seed, char* what, std::size_t whatSize) {
  if (whatSize != 0) what[0] = '\0';
  std::uint32_t count = 0, reads = 0;
  for (std::uint32_t position = 0; position + kWriteHeaderSize <= length && count < kMaxRecords;) {
    const std::uint32_t id = Get32(area + position);
    Positions[count++] = position;
    if (id == kReadRecordId) ++reads;
    position +=
        (id == kReadRecordId ? kReadHeaderSize : kWriteHeaderSize) + Get32(area + position + 8);
  }
  if (count == 0 || (modes & kRewriteAll) == 0) return;

  std::uint64_t state = seed;
  // Several modes given: each exchange takes a non-empty part of them, so single and combined
  // damage both occur.
  unsigned chosen = modes & kRewriteAll;
  if ((chosen & (chosen - 1)) != 0) {
    do {
      chosen = modes & static_cast<unsigned>(Next(state));
    } while (chosen == 0);
  }
  // The reference first: it looks for read records by their ids.
  if ((chosen & kRewriteRefs) && reads != 0) {
    std::uint32_t nth = Pick(state, reads), index = 0;
    for (; index + 1 < count; ++index) {
      if (Get32(area + Positions[index]) != kReadRecordId) continue;
      if (nth-- == 0) break;
    }
    std::uint8_t* at = area + Positions[index] + 12;
    const std::uint32_t old = Get32(at);
    Put32(at, NewRef(state, old));
    Append(what, whatSize, "ref", index, old, Get32(at));
  }
  if (chosen & kRewriteIds) {
    const std::uint32_t index = Pick(state, count);
    std::uint8_t* at = area + Positions[index];
    const std::uint32_t old = Get32(at);
    Put32(at, NewId(state, old));
    Append(what, whatSize, "id", index, old, Get32(at));
  }
  if (chosen & kRewriteSizes) {
    const std::uint32_t index = Pick(state, count);
    std::uint8_t* at = area + Positions[index] + 8;
    const std::uint32_t old = Get32(at);
    Put32(at, NewSize(state, old, areaSize));
    Append(what, whatSize, "size", index, old, Get32(at));
  }
  if (chosen & kRewriteOffsets) {
    const std::uint32_t index = Pick(state, count);
    std::uint8_t* at = area + Positions[index] + 4;
    const std::uint32_t old = Get32(at);
    Put32(at, NewOffset(state, old));
    Append(what, whatSize, "offset", index, old, Get32(at));
  }
}

}  // namespace sim
