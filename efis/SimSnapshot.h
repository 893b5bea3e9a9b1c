// The simulator values the bridge cycle reads, one fixed field per simulator offset, typed as
// the data-exchange module delivers them (doubles IEEE 754, integers little-endian). Each field
// is the destination of its read: it holds the value of the last successful exchange of its
// group and keeps it when an exchange fails. The offset is part of every field's name.
#pragma once

#include <cstdint>

struct TSimSnapshot {
  // Fast group, read at even phases.
  double Pitch2F70;           // 0x2F70, degrees
  double Bank2F78;            // 0x2F78, degrees
  std::int16_t Turn037C;      // 0x037C
  double CompassHeading02CC;  // 0x02CC, degrees
  double GyroHeading2B00;     // 0x2B00, degrees
  std::int16_t GForce11BA;    // 0x11BA, 624 = 1 g

  // Slow group, read at phases 1 and 5.
  double Latitude6010;              // 0x6010, degrees
  double Longitude6018;             // 0x6018, degrees
  std::uint64_t Track0580;          // 0x0580: a u32 circle fraction in the lower half, upper half 0
  double GroundSpeed6030;           // 0x6030
  double GpsAltitude6020;           // 0x6020
  std::int32_t Altitude0574;        // 0x0574, metres
  std::int32_t Airspeed02BC;        // 0x02BC, 1/128 knot
  std::int32_t VerticalSpeed02C8;   // 0x02C8, 1/256 m/s
  std::int16_t OutsideTemp0E8C;     // 0x0E8C, 1/256 degree C
  double AmbientPressure28C8;       // 0x28C8, pounds per square foot
  double Sensor2840;                // 0x2840, sensor frame offsets 20 and 21
  double Sensor2848;                // 0x2848, sensor frame offset 22
  std::uint16_t Eng1SpeedA0898;     // 0x0898
  std::uint16_t Eng2SpeedA0930;     // 0x0930
  std::uint16_t Eng1ScalerB08C8;    // 0x08C8
  std::uint16_t Eng2ScalerB0960;    // 0x0960
  double Eng1RankineR3B70;          // 0x3B70
  double Eng2RankineR3AB0;          // 0x3AB0
  double Eng1RankineQ3B58;          // 0x3B58
  double Eng1PressureP3B60;         // 0x3B60
  double Eng2RankineQ3A98;          // 0x3A98
  double Eng2PressureP3AA0;         // 0x3AA0
  std::uint16_t Eng1ManifoldM08C0;  // 0x08C0, 1/1024 inHg
  double Eng1ValueF0918;            // 0x0918
  std::uint16_t Eng2ManifoldM0958;  // 0x0958, 1/1024 inHg
  double Eng2ValueF09B0;            // 0x09B0
  double Eng1TempH08E8;             // 0x08E8
  double Eng2TempH0980;             // 0x0980
  std::uint16_t Qnh0330;            // 0x0330, 1/16 hPa
  std::int16_t Variation02A0;       // 0x02A0, used by the fast ticks that follow
};

// One per process: the bridge cycle's exchanges fill it, the conversion steps and senders of
// efis/ read it. Only the user-interface thread touches it (the reader thread has
// efis/SharedState.h).
inline TSimSnapshot SimSnapshot{};
