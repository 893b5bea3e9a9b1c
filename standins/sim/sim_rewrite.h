// A hostile module for tests: after handling a batch it changes the request records in the
// area before it replies, so a client can be shown to trust nothing it reads back.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sim {

enum RewriteMode : unsigned {
  kRewriteNone = 0,
  kRewriteIds = 1,      // a record's id becomes 0, another known id or an unknown one
  kRewriteSizes = 2,    // a size grows, shrinks or runs past the area
  kRewriteOffsets = 4,  // a simulator offset changes
  kRewriteRefs = 8,     // a read's destination reference changes
  kRewriteAll = 15,
};

// Parses "ids", "sizes", "offsets", "refs", "all" or several joined by ',' or '|'. False for
// anything else.
bool ParseRewriteModes(const char* text, unsigned* modes);

// Changes the records of the handled batch in `area` (its first `length` bytes, as
// RunExchange walked them). Each call picks, from `seed`, one or more of `modes` and the
// records they hit; the same seed gives the same damage. Describes what it did in `what`.
// Stays inside the area.
void RewriteArea(std::uint8_t* area, std::uint32_t areaSize, std::uint32_t length, unsigned modes,
                 std::uint64_t seed, char* what, std::size_t whatSize);

}  // namespace sim
