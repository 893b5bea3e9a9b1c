// The module's state until a flight model drives it: level flight at 3000 ft over Schiphol,
// 100 kt indicated, heading 090, QNH 1013.2 hPa, both engines at 2400 RPM. Each value is in the
// unit the bridge's conversions expect for its offset.
#include "standins/sim/sim_space.h"

namespace sim {

namespace {

enum class Kind { U8, S16, U16, S32, U32, Double };

struct FixedValue {
  std::uint32_t offset;
  Kind kind;
  double value;  // exact for every integer kind used here
};

constexpr FixedValue FixedState[] = {
    // Attitude and headings.
    {0x2F70, Kind::Double, 0.0},   // pitch, degrees
    {0x2F78, Kind::Double, 0.0},   // bank, degrees
    {0x037C, Kind::S16, 0},        // turn rate
    {0x02CC, Kind::Double, 90.0},  // compass heading, degrees
    {0x2B00, Kind::Double, 90.0},  // gyro heading, degrees
    {0x11BA, Kind::S16, 624},      // load factor, 1/624 g: level flight
    {0x02A0, Kind::S16, 364},      // magnetic variation, 1/182 degree: 2 degrees
    // Controls.
    {0x0BB6, Kind::S16, 0},  // aileron input
    {0x0BB2, Kind::S16, 0},  // elevator input
    {0x310A, Kind::U8, 0},   // control disconnect
    // Position and GPS.
    {0x6010, Kind::Double, 52.3086},    // latitude, degrees
    {0x6018, Kind::Double, 4.7639},     // longitude, degrees
    {0x6020, Kind::Double, 914.4},      // GPS altitude, metres
    {0x6030, Kind::Double, 53.8},       // ground speed, m/s (104.6 kt true, no wind)
    {0x0580, Kind::U32, 1073741824.0},  // true heading, circle fraction: 90 degrees
    // Air data.
    {0x0574, Kind::S32, 914},        // altitude, whole metres (3000 ft)
    {0x02BC, Kind::S32, 12800},      // indicated airspeed, 1/128 kt
    {0x02C8, Kind::S32, 0},          // vertical speed, 1/256 m/s
    {0x0E8C, Kind::S16, 2304},       // outside air temperature, 1/256 degree C: 9 C
    {0x28C8, Kind::Double, 1896.6},  // static pressure, lb/ft2 (908.1 hPa)
    {0x2840, Kind::Double, 12.0},
    {0x2848, Kind::Double, 5.0},
    {0x0330, Kind::U16, 16211},  // QNH, 1/16 hPa: 1013.2
    // Engine 1.
    {0x0898, Kind::U16, 9600},       // speed value: 9600 * 16384 >> 16 = 2400 RPM
    {0x08C8, Kind::U16, 16384},      // speed scaler
    {0x08C0, Kind::U16, 24576},      // manifold pressure, 1/1024 inHg: 24 inHg
    {0x08E8, Kind::Double, 1295.0},  // exhaust gas temperature (700 C in the bridge's scale)
    {0x0918, Kind::Double, 60.0},    // fuel flow, lb/h
    {0x3B58, Kind::Double, 645.0},   // oil temperature, Rankine (85 C)
    {0x3B60, Kind::Double, 9400.0},  // oil pressure, lb/ft2 (4.5 bar)
    {0x3B70, Kind::Double, 816.0},   // cylinder head temperature, Rankine (180 C)
    // Engine 2, the same engine.
    {0x0930, Kind::U16, 9600},
    {0x0960, Kind::U16, 16384},
    {0x0958, Kind::U16, 24576},
    {0x0980, Kind::Double, 1295.0},
    {0x09B0, Kind::Double, 60.0},
    {0x3A98, Kind::Double, 645.0},
    {0x3AA0, Kind::Double, 9400.0},
    {0x3AB0, Kind::Double, 816.0},
};

void Put(const FixedValue& entry) {
  switch (entry.kind) {
    case Kind::U8:
      SpacePutU8(entry.offset, static_cast<std::uint8_t>(entry.value));
      break;
    case Kind::S16:
      SpacePutU16(entry.offset, static_cast<std::uint16_t>(static_cast<std::int16_t>(entry.value)));
      break;
    case Kind::U16:
      SpacePutU16(entry.offset, static_cast<std::uint16_t>(entry.value));
      break;
    case Kind::S32:
      SpacePutU32(entry.offset, static_cast<std::uint32_t>(static_cast<std::int32_t>(entry.value)));
      break;
    case Kind::U32:
      SpacePutU32(entry.offset, static_cast<std::uint32_t>(entry.value));
      break;
    case Kind::Double:
      SpacePutDouble(entry.offset, entry.value);
      break;
  }
}

}  // namespace

void LoadFixedState(std::uint32_t version, std::uint16_t simId) {
  ClearSpace();
  for (const FixedValue& entry : FixedState) Put(entry);
  PutModuleIdentity(version, simId);
}

void PoisonFixedDoubles(double value) {
  for (const FixedValue& entry : FixedState) {
    if (entry.kind == Kind::Double) SpacePutDouble(entry.offset, value);
  }
}

void RestoreFixedDoubles() {
  for (const FixedValue& entry : FixedState) {
    if (entry.kind == Kind::Double) Put(entry);
  }
}

}  // namespace sim
