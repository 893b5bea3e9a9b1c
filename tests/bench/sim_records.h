// The simulator records of the bridge's two groups, for the plain programs and measurements of
// tests/bench/ that make the bridge's exchanges by hand: offsets and sizes in the bridge's
// order (the fast group's six, the slow group's thirty).
#pragma once

#include <cstdint>

namespace bench {

struct SimRecord {
  std::uint32_t offset, size;
};

inline constexpr SimRecord kFastGroup[6] = {
    {0x2F70, 8}, {0x2F78, 8}, {0x037C, 2}, {0x02CC, 8}, {0x2B00, 8}, {0x11BA, 2},
};

inline constexpr SimRecord kSlowGroup[30] = {
    {0x6010, 8}, {0x6018, 8}, {0x0580, 4}, {0x6030, 8}, {0x6020, 8}, {0x0574, 4},
    {0x02BC, 4}, {0x02C8, 4}, {0x0E8C, 2}, {0x28C8, 8}, {0x2840, 8}, {0x2848, 8},
    {0x0898, 2}, {0x0930, 2}, {0x08C8, 2}, {0x0960, 2}, {0x3B70, 8}, {0x3AB0, 8},
    {0x3B58, 8}, {0x3B60, 8}, {0x3A98, 8}, {0x3AA0, 8}, {0x08C0, 2}, {0x0918, 8},
    {0x0958, 2}, {0x09B0, 8}, {0x08E8, 8}, {0x0980, 8}, {0x0330, 2}, {0x02A0, 2},
};

}  // namespace bench
