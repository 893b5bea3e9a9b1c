// What every fuzz target uses to judge its parser.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace fuzzsupport {

// A failed check ends the run as a crash: libFuzzer keeps the input that caused it.
inline void Check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

// A little-endian 32-bit word, as the area and the frames hold them.
inline std::uint32_t Get32(const std::uint8_t* at) {
  return at[0] | at[1] << 8 | at[2] << 16 | static_cast<std::uint32_t>(at[3]) << 24;
}

}  // namespace fuzzsupport
