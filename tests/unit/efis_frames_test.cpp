// The conversions and the payloads of the engine and flight frames, byte for byte: each fill
// step is handed a snapshot and derived values of the test's own and a buffer, and nothing
// else (the senders and the write pipe are tests/unit/efis_link_test.cpp's). Every expected byte
// is written here by hand from the frame layouts and their arithmetic; nothing is computed by
// the code under test. The same tests run in the Windows build under Wine: the MinGW build must
// fill the same bytes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <ostream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "efis/EfisFrames.h"
#include "efis/EngineFrames.h"
#include "efis/FlightFrames.h"
#include "efis/FrameMath.h"
#include "efis/SharedState.h"
#include "efis/SimSnapshot.h"
#include "platform/toolkit.h"
#include "tests/unit/efis_fake_device.h"

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
constexpr bool kWindows = true;
#else
constexpr bool kWindows = false;
#endif

namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// "1A 00 01 00" to its bytes.
Bytes Hex(const std::string& text) {
  Bytes bytes;
  for (std::size_t i = 0; i + 1 < text.size(); i += 3) {
    bytes.push_back(static_cast<std::uint8_t>(std::stoul(text.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

// Bytes written at an offset of the expected frame; every byte not patched is 0.
struct Patch {
  std::size_t offset;
  const char* hex;
};

Bytes Frame(const char* header, std::size_t size, const std::vector<Patch>& patches) {
  Bytes frame(size, 0);
  const Bytes head = Hex(header);
  std::memcpy(frame.data(), head.data(), head.size());
  for (const Patch& p : patches) {
    const Bytes bytes = Hex(p.hex);
    std::memcpy(frame.data() + p.offset, bytes.data(), bytes.size());
  }
  return frame;
}

// Lower-case hex with the offset of each 8 bytes, for readable failures.
std::string Dump(const Bytes& bytes) {
  std::string text;
  char cell[32];
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i % 8 == 0) {
      std::snprintf(cell, sizeof cell, "%s%zu:", i == 0 ? "" : " ", i);
      text += cell;
    }
    std::snprintf(cell, sizeof cell, " %02x", bytes[i]);
    text += cell;
  }
  return text;
}

// A frame buffer as its sender hands it to the fill step: the header stamped, the payload as
// `payload` (the last send's, say).
template <std::size_t N>
struct TestFrame {
  explicit TestFrame(const char* header, std::uint8_t payload = 0) {
    std::memset(bytes, payload, N);
    const Bytes head = Hex(header);
    std::memcpy(bytes, head.data(), head.size());
  }
  Bytes All() const { return Bytes(bytes, bytes + N); }
  std::uint8_t bytes[N];
};

class FrameTest : public ::testing::Test {
 protected:
  void SetUp() override { SetExtendedPrecision(); }

  TSimSnapshot s{};
  TFlightDerived d{};
};

#define EXPECT_FRAME(expected, actual) EXPECT_EQ(Dump(expected), Dump(actual))

// ---- Sensor frame (type 0, 30 bytes) ----

struct SensorCase {
  const char* name;
  std::int32_t altitudeMetres;  // 0x0574
  std::int32_t airspeed;        // 0x02BC, 1/128 kt
  std::int32_t verticalSpeed;   // 0x02C8, 1/256 m/s
  std::int16_t outsideTemp;     // 0x0E8C
  double pressure;              // 0x28C8
  double sensor20;              // 0x2840
  double sensor22;              // 0x2848
  std::vector<Patch> expected;
};

// Inputs in the order altitude, airspeed, vertical speed, outside temperature, pressure,
// 0x2840, 0x2848.
// clang-format off
const SensorCase kSensorCases[] = {
    // 1000 m: 1000 x 32808 div 10000 = 3280 ft. 12800/128 kt: x 11508 div 128000 = 1150, IAS 115.
    // K = (3280 div 100) x (115 x 175) div 100000 = 32 x 20125 div 100000 = 6: TAS 121.
    // 256/256 m/s: x 196800 div 256000 = 196 fpm. -300 div 256 = -1 (toward zero).
    // 2116.22 x 4.788026 = 10132.5 rounds to P 10133; 10133 x 3686 div 10000 = 3735; - 389.
    // 2.0 x 10 - 25 < 0: byte 0. 0.25 x 10 = 2.5, a tie, to even: 2.
    {"AirData", 1000, 12800, 256, -300, 2116.22, 2.0, 0.25,
     {{4, "D0 0C 00 00"}, {8, "12 0D"}, {10, "73 00"}, {12, "79 00"}, {14, "C4 00"},
      {20, "00 00"}, {22, "02 00"}, {26, "FF FF"}, {28, "C4 00"}}},
    // 3049 m: 10003 ft. 11123: 1000 tenths, IAS 100. K = 100 x 17500 div 100000 = 17: 117.
    // 20000: 20000 x 196800 = 3936000000 div 256000 = 15375, no overflow. Pressure 0: -389.
    // 30.0 x 10 - 25 = 275: clamped to 255. 0.75 x 10 = 7.5, a tie, to even: 8. 2304 div 256 = 9.
    {"TrueAirspeedAndClamps", 3049, 11123, 20000, 2304, 0.0, 30.0, 0.75,
     {{4, "13 27 00 00"}, {8, "7B FE"}, {10, "64 00"}, {12, "75 00"}, {14, "0F 3C"},
      {20, "FF FF"}, {22, "08 00"}, {26, "09 00"}, {28, "0F 3C"}}},
    // Below sea level: -1000 m = -3280 ft; K = -32 x 20125 div 100000 = -6, so TAS 109 (the
    // 8-bit K of the letter would have added 250). -256: -196 fpm. -255 div 256 = 0, no shift.
    // 2.5 x 10 = 25, minus 25: 0. 2.6 x 10 rounds to 26: 1. -0.25 x 10 = -2.5 to even: -2.
    {"BelowSeaLevel", -1000, 12800, -256, -255, 0.0, 2.6, -0.25,
     {{4, "30 F3 FF FF"}, {8, "7B FE"}, {10, "73 00"}, {12, "6D 00"}, {14, "3C FF"},
      {20, "01 01"}, {22, "FE FF"}, {28, "3C FF"}}},
    // Fast: 9144 m = 29999 ft, 44491: 4000 tenths, IAS 400. K = 299 x 70000 div 100000 = 209:
    // 609 (a 16-bit IAS x 175 would have given 413). 27.94 x 10 rounds to 279: 254. 1.25: 12.5
    // to even, 12.
    {"FastAircraft", 9144, 44491, 0, 0, 0.0, 27.94, 1.25,
     {{4, "2F 75 00 00"}, {8, "7B FE"}, {10, "90 01"}, {12, "61 02"}, {20, "FE FE"},
      {22, "0C 00"}}},
    // 600000000 m = 1968480000 ft: K = 19684800 x 70000 div 100000, far beyond 16 bits: 32767.
    // 28.0: 255. 0.35 lies below 0.35: 3.
    {"TrueAirspeedClampedHigh", 600000000, 44491, 0, 0, 0.0, 28.0, 0.35,
     {{4, "00 9F 54 75"}, {8, "7B FE"}, {10, "90 01"}, {12, "FF 7F"}, {20, "FF FF"},
      {22, "03 00"}}},
    // -1968480000 ft: -32768. 12.0: 95. 3276.8 x 10 rounds to 32768: low 16 bits 0x8000.
    {"TrueAirspeedClampedLow", -600000000, 44491, 0, 0, 0.0, 12.0, 3276.8,
     {{4, "00 61 AB 8A"}, {8, "7B FE"}, {10, "90 01"}, {12, "00 80"}, {20, "5F 5F"},
      {22, "00 80"}}},
    // 2000000000 m = 6561600000 ft: the 32-bit field keeps the low bits, 0x871A1200.
    {"AltitudeKeepsLowBits", 2000000000, 12800, 0, 0, 0.0, 0.0, 0.0,
     {{4, "00 12 1A 87"}, {8, "7B FE"}, {10, "73 00"}, {12, "00 80"}}},
    // 100000 x 4.788026 = 478802.6: 478803. x 3686 div 10000 = 176486, - 389 = 176097 =
    // 0x2AFE1: the 16-bit field keeps 0xAFE1.
    {"PressureKeepsLowBits", 0, 0, 0, 0, 100000.0, 0.0, 0.0, {{8, "E1 AF"}}},
};
// clang-format on

void PrintTo(const SensorCase& c, std::ostream* os) {
  *os << c.name;
}

class SensorFrameTest : public FrameTest, public ::testing::WithParamInterface<SensorCase> {};

TEST_P(SensorFrameTest, CarriesTheAirDataByteForByte) {
  const SensorCase& c = GetParam();
  s.Altitude0574 = c.altitudeMetres;
  s.Airspeed02BC = c.airspeed;
  s.VerticalSpeed02C8 = c.verticalSpeed;
  s.OutsideTemp0E8C = c.outsideTemp;
  s.AmbientPressure28C8 = c.pressure;
  s.Sensor2840 = c.sensor20;
  s.Sensor2848 = c.sensor22;
  ConvertSlow(s, d);
  TestFrame<kSensorFrameSize> frame("1A 00 01 00");
  FillSensorFrame(s, d, frame.bytes);
  EXPECT_FRAME(Frame("1A 00 01 00", 30, c.expected), frame.All());
}

INSTANTIATE_TEST_SUITE_P(Cases, SensorFrameTest, ::testing::ValuesIn(kSensorCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(FrameTest, SensorBytesTwentyAndTwentyOneClampAtBothEnds) {
  const std::pair<double, int> cases[] = {
      {-1e6, 0},    {2.0, 0},    {2.5, 0},    {2.6, 1},    {12.0, 95},
      {27.94, 254}, {28.0, 255}, {28.1, 255}, {30.0, 255}, {1e6, 255},
  };
  for (const auto& [value, expected] : cases) {
    SCOPED_TRACE(value);
    s.Sensor2840 = value;
    TestFrame<kSensorFrameSize> frame("1A 00 01 00");
    FillSensorFrame(s, d, frame.bytes);
    EXPECT_EQ(frame.bytes[20], expected);
    EXPECT_EQ(frame.bytes[21], expected);
  }
}

// ---- Attitude frame (type 11, 37 bytes) ----

struct AttitudeCase {
  const char* name;
  double bank, pitch, compass, gyro;
  std::int16_t turn, load, variation;
  std::vector<Patch> expected;
};

// Inputs in the order bank, pitch, compass, gyro, turn, load, variation. The constants: 0 at 24
// and 26, 1 at 32 to 34, 0 at 35 and 36.
// clang-format off
const AttitudeCase kAttitudeCases[] = {
    // -12.37 x 10 = -123.7: -123. Pitch 5.0 is negated: -50. 359.5: 3595; 123.45: 1234.
    // 624 / 62.4 = 10. -35 div 17 = -2. Variation 182 x 10 div 182 = 10: 3595 + 10 = 3605,
    // beyond 3599: 5.
    {"Headings", -12.37, 5.0, 359.5, 123.45, -35, 624, 182,
     {{4, "85 FF"}, {6, "CE FF"}, {10, "0B 0E"}, {12, "D2 04"}, {14, "0A 00"}, {16, "FE FF"},
      {20, "05 00"}, {22, "0A 00"}, {32, "01 01 01"}}},
    // The double nearest 0.7 lies below it and x 10 in extended precision stays below 7: 6.
    // Pitch -0.7 negated the same: 6. Compass 5 with variation -364 x 10 div 182 = -20:
    // -15, below 0: 3585. 31 / 62.4 = 0.497: 0. 34 div 17 = 2.
    {"TruncatesWithoutRoundingToDouble", 0.7, -0.7, 0.5, 0.0, 34, 31, -364,
     {{4, "06 00"}, {6, "06 00"}, {10, "05 00"}, {14, "00 00"}, {16, "02 00"}, {20, "01 0E"},
      {22, "EC FF"}, {32, "01 01 01"}}},
    // 32 / 62.4 = 0.513: 1. 360.0: 3600 plus 0 is beyond 3599: 0. 359.99: 3599. 16 div 17 = 0.
    {"FullCircle", 0.0, 0.0, 360.0, 359.99, 16, 32, 0,
     {{10, "10 0E"}, {12, "0F 0E"}, {14, "01 00"}, {32, "01 01 01"}}},
    {"NegativeLoad", 0.0, 0.0, 0.0, 0.0, 0, -624, 0, {{14, "F6 FF"}, {32, "01 01 01"}}},
    // 3300.0: 33000 tenths, 0x80E8. The correction starts from its 16 bits, -32536, and brings
    // it into the circle once: -28936, 0x8EF8 (in 32 bits it would be 29400).
    {"CompassBeyondSixteenBits", 0.0, 0.0, 3300.0, 0.0, 0, 0, 0,
     {{10, "E8 80"}, {20, "F8 8E"}, {32, "01 01 01"}}},
};
// clang-format on

void PrintTo(const AttitudeCase& c, std::ostream* os) {
  *os << c.name;
}

class AttitudeFrameTest : public FrameTest, public ::testing::WithParamInterface<AttitudeCase> {};

TEST_P(AttitudeFrameTest, CarriesAttitudeAndHeadingsByteForByte) {
  const AttitudeCase& c = GetParam();
  s.Bank2F78 = c.bank;
  s.Pitch2F70 = c.pitch;
  s.CompassHeading02CC = c.compass;
  s.GyroHeading2B00 = c.gyro;
  s.Turn037C = c.turn;
  s.GForce11BA = c.load;
  s.Variation02A0 = c.variation;
  ConvertFast(s, d);
  TestFrame<kAttitudeFrameSize> frame("21 00 01 0B");
  FillAttitudeFrame(s, d, frame.bytes);
  EXPECT_FRAME(Frame("21 00 01 0B", 37, c.expected), frame.All());
}

INSTANTIATE_TEST_SUITE_P(Cases, AttitudeFrameTest, ::testing::ValuesIn(kAttitudeCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(FrameTest, AttitudeConstantsAreWrittenOnEveryFill) {
  TestFrame<kAttitudeFrameSize> frame("21 00 01 0B", 0xEE);  // whatever the buffer held
  FillAttitudeFrame(s, d, frame.bytes);
  EXPECT_FRAME(Frame("21 00 01 0B", 37,
                     {{8, "EE EE"}, {18, "EE EE"}, {28, "EE EE EE EE"}, {32, "01 01 01 00 00"}}),
               frame.All());
}

// ---- GPS 1, 2, 3 (types 4, 5, 3), sent as one group ----

TEST_F(FrameTest, GpsGroupCarriesPositionTrackAndSpeedByteForByte) {
  struct Case {
    const char* name;
    double latitude, longitude, height, groundSpeed;
    std::uint64_t track;
    std::int32_t verticalSpeed;  // 0x02C8
    std::vector<Patch> gps1, gps2;
  };
  // clang-format off
  const Case cases[] = {
      // ScaleE7: 47.123456789 as a float is 47.12345504...: 471234550, not 471234568.
      // 51.5 is exact: 515000000. 1000.5 x 1000 = 1000500. 0x80000000 x 360 / 42949.67296 =
      // 18000000. 53.8 x 100: the double lies below 53.8, so 5379. -652 x 196800 div 256000 =
      // -501 fpm; its negation halved toward zero: 250.
      {"North", 47.123456789, 51.5, 1000.5, 53.8, 0x80000000u, -652,
       {{8, "C0 46 B2 1E"}, {12, "F6 77 16 1C"}, {16, "34 44 0F 00"}, {20, "34 44 0F 00"},
        {24, "B8 0B 00 00"}, {28, "B8 0B 00 00"}},
       {{11, "03 15 00 00"}, {15, "80 A8 12 01"}, {20, "FA 00 00 00"}}},
      // -122.3 as a float is -122.30000305...: -1223000030.5 rounds to -1223000031. 52.3086 as
      // a float is 52.30860137...: 523086014. 914.4 x 1000 lies just below 914400: 914399.
      // Track 0: 0. 652: 501 fpm, -250.
      {"West", 52.3086, -122.3, 914.4, 100.25, 0, 652,
       {{8, "21 80 1A B7"}, {12, "BE A8 2D 1F"}, {16, "DF F3 0D 00"}, {20, "DF F3 0D 00"},
        {24, "B8 0B 00 00"}, {28, "B8 0B 00 00"}},
       {{11, "29 27 00 00"}, {19, "00 06 FF FF FF"}}},
      // The last circle fraction: 35999999. A negative height keeps its low 32 bits: -98.
      {"EndOfCircle", 0.0, 0.0, -0.0985, 0.0, 0xFFFFFFFFu, 0,
       {{16, "9E FF FF FF"}, {20, "9E FF FF FF"}, {24, "B8 0B 00 00"}, {28, "B8 0B 00 00"}},
       {{15, "FF 50 25 02"}}},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    s.Latitude6010 = c.latitude;
    s.Longitude6018 = c.longitude;
    s.GpsAltitude6020 = c.height;
    s.GroundSpeed6030 = c.groundSpeed;
    s.Track0580 = c.track;
    s.VerticalSpeed02C8 = c.verticalSpeed;
    ConvertSlow(s, d);
    TestFrame<kGps1FrameSize> gps1("27 00 01 04");
    TestFrame<kGps2FrameSize> gps2("14 00 01 05");
    TestFrame<kGps3FrameSize> gps3("10 00 01 03");
    FillGps1Frame(s, d, gps1.bytes);
    FillGps2Frame(d, gps2.bytes);
    FillGps3Frame(gps3.bytes);
    EXPECT_FRAME(Frame("27 00 01 04", 43, c.gps1), gps1.All());
    EXPECT_FRAME(Frame("14 00 01 05", 24, c.gps2), gps2.All());
    EXPECT_FRAME(Frame("10 00 01 03", 20, {{4, "06 00 AA 55 03"}, {16, "B8 0B 00 00"}}),
                 gps3.All());
  }
}

TEST_F(FrameTest, ScaleE7NarrowsToSinglePrecisionThenRounds) {
  EXPECT_EQ(ScaleE7(47.123456789), 471234550);
  EXPECT_EQ(ScaleE7(51.5), 515000000);
  EXPECT_EQ(ScaleE7(-122.3), -1223000031);
  EXPECT_EQ(ScaleE7(180.0), 1800000000);
  EXPECT_EQ(ScaleE7(-0.0), 0);
  EXPECT_THROW(ScaleE7(kNaN), EInvalidOp);
  EXPECT_THROW(ScaleE7(kInf), EInvalidOp);
  EXPECT_THROW(ScaleE7(1e300), EInvalidOp);  // beyond float's range: no undefined narrowing
}

// ---- QNH (type 6, 6 bytes) ----

TEST_F(FrameTest, QnhCarriesTenthsOfHectopascal) {
  const std::pair<std::uint16_t, const char*> cases[] = {
      {16211, "93 27"},  // 16211 x 10 div 16 = 10131
      {65535, "FF 9F"},  // 655350 div 16 = 40959: unsigned, no overflow
      {15, "09 00"},     // 150 div 16 = 9
      {0, "00 00"},
  };
  for (const auto& [held, hex] : cases) {
    SCOPED_TRACE(held);
    TestFrame<kQnhFrameSize> frame("02 00 01 06");
    FillQnhFrame(held, frame.bytes);
    EXPECT_FRAME(Frame("02 00 01 06", 6, {{4, hex}}), frame.All());
  }
}

// ---- Engine frames (types 1, 2, 12, 13) ----

TEST_F(FrameTest, EngineTemperatureConversionsTruncateTowardZero) {
  const std::pair<double, std::int64_t> engineTemp[] = {
      {212.0, 98},             // 178 / 1.8 = 98.9
      {34.0, 0},   {33.0, 0},  // -0.55 toward zero
      {35.8, 0},               // the double lies below 35.8: just below 1
      {52.0, 10},
  };
  for (const auto& [value, expected] : engineTemp) EXPECT_EQ(EngineTempToCelsius(value), expected);
  const std::pair<double, std::int64_t> rankine[] = {
      {491.67, 0},
      {1211.67, 400},
      {671.67, 99},  // just below 100
      {0.0, -273},   // -273.15 toward zero
  };
  for (const auto& [value, expected] : rankine) EXPECT_EQ(RankineToCelsius(value), expected);
  EXPECT_THROW(RankineToCelsius(kNaN), EInvalidOp);
  EXPECT_THROW(EngineTempToCelsius(1e30), EInvalidOp);
}

TEST_F(FrameTest, EngineFramesCarryEachEngineByteForByte) {
  // Engine 1: 65535 x 65535 >> 16 = 65534. H 212.0: 98, eight times. F 10.0 x 61.35189: 613.
  // M 30720 / 1024 x 33.86388 = 1015.9: 1015. Q 491.67: 0. P 1000 x 0.004788026: 4.
  // R 1211.67: 400, six times. Then the constants 100, 100, 1000.
  s.Eng1SpeedA0898 = 65535;
  s.Eng1ScalerB08C8 = 65535;
  s.Eng1TempH08E8 = 212.0;
  s.Eng1ValueF0918 = 10.0;
  s.Eng1ManifoldM08C0 = 30720;
  s.Eng1RankineQ3B58 = 491.67;
  s.Eng1PressureP3B60 = 1000.0;
  s.Eng1RankineR3B70 = 1211.67;
  // Engine 2: 16384 x 10000 >> 16 = 2500. H 35.8: 0. M 1024: 33. Q 671.67: 99.
  // R 0.0: -273, six times. No constants: 0 at 18 to 23.
  s.Eng2SpeedA0930 = 16384;
  s.Eng2ScalerB0960 = 10000;
  s.Eng2TempH0980 = 35.8;
  s.Eng2ManifoldM0958 = 1024;
  s.Eng2RankineQ3A98 = 671.67;
  s.Eng2RankineR3AB0 = 0.0;

  TestFrame<kEngine1FrameSize> engine1("3C 00 01 01");
  TestFrame<kEngine1AuxFrameSize> aux1("05 00 01 0C");
  TestFrame<kEngine2FrameSize> engine2("3C 00 01 02");
  TestFrame<kEngine2AuxFrameSize> aux2("05 00 01 0D");
  FillEngine1Frame(s, engine1.bytes);
  FillEngineAuxFrame(aux1.bytes);
  FillEngine2Frame(s, engine2.bytes);
  FillEngineAuxFrame(aux2.bytes);
  EXPECT_FRAME(Frame("3C 00 01 01", 64,
                     {{4, "FE FF"},
                      {10, "62 00 62 00 65 02 F7 03 64 00 64 00 E8 03 00 00 04 00"},
                      {32, "90 01 90 01 90 01 90 01 90 01 90 01"},
                      {44, "62 00 62 00 62 00 62 00 62 00 62 00"}}),
               engine1.All());
  EXPECT_FRAME(Frame("05 00 01 0C FC 08 00 00 00", 9, {}), aux1.All());
  EXPECT_FRAME(Frame("3C 00 01 02", 64,
                     {{4, "C4 09"},
                      {16, "21 00"},
                      {24, "63 00"},
                      {32, "EF FE EF FE EF FE EF FE EF FE EF FE"}}),
               engine2.All());
  EXPECT_FRAME(Frame("05 00 01 0D FC 08 00 00 00", 9, {}), aux2.All());
}

TEST_F(FrameTest, EngineFrameOfTheStandInSimulatorsEngine) {
  // korvan-sim's engine: 9600 x 16384 >> 16 = 2400 RPM. (1295 - 34) / 1.8 = 700.5: 700.
  // 60 x 61.35189 = 3681.1: 3681. 24576 / 1024 x 33.86388 = 812.7: 812. (645 - 491.67) x 5 / 9
  // = 85.2: 85. 9400 x 0.004788026 = 45.0: 45. (816 - 491.67) x 5 / 9 = 180.2: 180.
  s.Eng2SpeedA0930 = 9600;
  s.Eng2ScalerB0960 = 16384;
  s.Eng2TempH0980 = 1295.0;
  s.Eng2ValueF09B0 = 60.0;
  s.Eng2ManifoldM0958 = 24576;
  s.Eng2RankineQ3A98 = 645.0;
  s.Eng2PressureP3AA0 = 9400.0;
  s.Eng2RankineR3AB0 = 816.0;
  EXPECT_FRAME(Frame("3C 00 01 02", 64,
                     {{4, "60 09"},
                      {10, "BC 02 BC 02 61 0E 2C 03"},
                      {24, "55 00 2D 00"},
                      {32, "B4 00 B4 00 B4 00 B4 00 B4 00 B4 00"},
                      {44, "BC 02 BC 02 BC 02 BC 02 BC 02 BC 02"}}),
               [&] {
                 TestFrame<kEngine2FrameSize> frame("3C 00 01 02");
                 FillEngine2Frame(s, frame.bytes);
                 return frame.All();
               }());
}

TEST_F(FrameTest, AuxiliaryFramesRewriteTheirFieldsOnEveryFill) {
  TestFrame<kEngine1AuxFrameSize> frame("05 00 01 0C", 0xEE);
  FillEngineAuxFrame(frame.bytes);
  EXPECT_FRAME(Frame("05 00 01 0C FC 08 00 EE EE", 9, {}), frame.All());
}

// ---- Invalid operations ----

TEST_F(FrameTest, BadBankKeepsBankAndPitchSilentlyAndTheAttitudeFrameIsFilled) {
  s.Bank2F78 = 10.0;
  s.Pitch2F70 = -3.0;
  ConvertFast(s, d);
  for (double bad : {kNaN, kInf, 1e30, -9.3e17}) {
    SCOPED_TRACE(bad);
    s.Bank2F78 = bad;
    s.Pitch2F70 = 7.0;
    s.CompassHeading02CC = 12.3;  // the rest of the group still converts
    EXPECT_NO_THROW(ConvertFast(s, d));
    EXPECT_EQ(d.BankTenths, 100);
    EXPECT_EQ(d.PitchTenths, 30);
    EXPECT_EQ(d.CompassHeadingTenths, 123);
    TestFrame<kAttitudeFrameSize> frame("21 00 01 0B");
    FillAttitudeFrame(s, d, frame.bytes);
    EXPECT_FRAME(Frame("21 00 01 0B", 37,
                       {{4, "64 00 1E 00"}, {10, "7B 00"}, {20, "7B 00"}, {32, "01 01 01"}}),
                 frame.All());
    s.CompassHeading02CC = 0;
  }
}

TEST_F(FrameTest, BadPitchKeepsThePitchWhileTheNewBankStands) {
  s.Pitch2F70 = -3.0;
  ConvertFast(s, d);
  s.Bank2F78 = -4.25;
  s.Pitch2F70 = kNaN;
  EXPECT_NO_THROW(ConvertFast(s, d));
  EXPECT_EQ(d.BankTenths, -42);
  EXPECT_EQ(d.PitchTenths, 30);
  // Just inside and just outside the 64-bit range: the product, not the input, is judged.
  s.Pitch2F70 = -9.2e17;
  ConvertFast(s, d);
  EXPECT_EQ(d.PitchTenths, static_cast<std::int32_t>(9200000000000000000u));
  s.Pitch2F70 = -9.3e17;
  ConvertFast(s, d);
  EXPECT_EQ(d.PitchTenths, static_cast<std::int32_t>(9200000000000000000u));
}

// The conversion and fill of one frame, as the cycle and the sender run them, on a buffer the
// last send left full: a fault on the way leaves every byte of it.
template <std::size_t N, typename ConvertAndFill>
void ExpectFaultKeepsTheFrame(ConvertAndFill convertAndFill) {
  TestFrame<N> frame("00 00 01 00", 0xA5);
  const Bytes before = frame.All();
  EXPECT_THROW(convertAndFill(frame.bytes), EInvalidOp);
  EXPECT_EQ(Dump(frame.All()), Dump(before));
}

TEST_F(FrameTest, OtherBadValuesThrowFromTheirConversionOrFillAndLeaveTheFrameAsItWas) {
  enum class Kind { Attitude, Sensor, Gps1, Engine1, Engine2 };
  struct Case {
    const char* name;
    void (*spoil)(TSimSnapshot&);
    Kind kind;
  };
  const Case cases[] = {
      {"gyro", [](TSimSnapshot& s) { s.GyroHeading2B00 = kNaN; }, Kind::Attitude},
      {"compass", [](TSimSnapshot& s) { s.CompassHeading02CC = 1e18; }, Kind::Attitude},
      {"latitude", [](TSimSnapshot& s) { s.Latitude6010 = kNaN; }, Kind::Sensor},
      {"ground speed", [](TSimSnapshot& s) { s.GroundSpeed6030 = -1e17; }, Kind::Sensor},
      {"pressure", [](TSimSnapshot& s) { s.AmbientPressure28C8 = kNaN; }, Kind::Sensor},
      {"sensor 20", [](TSimSnapshot& s) { s.Sensor2840 = kInf; }, Kind::Sensor},
      {"sensor 22", [](TSimSnapshot& s) { s.Sensor2848 = kNaN; }, Kind::Sensor},
      {"GPS height", [](TSimSnapshot& s) { s.GpsAltitude6020 = kNaN; }, Kind::Gps1},
      {"engine 1 H", [](TSimSnapshot& s) { s.Eng1TempH08E8 = kNaN; }, Kind::Engine1},
      {"engine 2 P", [](TSimSnapshot& s) { s.Eng2PressureP3AA0 = 1e300; }, Kind::Engine2},
      {"engine 1 F", [](TSimSnapshot& s) { s.Eng1ValueF0918 = -kInf; }, Kind::Engine1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TSimSnapshot spoilt{};
    TFlightDerived derived{};
    c.spoil(spoilt);
    switch (c.kind) {
      case Kind::Attitude:
        ExpectFaultKeepsTheFrame<kAttitudeFrameSize>([&](auto& frame) {
          ConvertFast(spoilt, derived);
          FillAttitudeFrame(spoilt, derived, frame);
        });
        break;
      case Kind::Sensor:
        ExpectFaultKeepsTheFrame<kSensorFrameSize>([&](auto& frame) {
          ConvertSlow(spoilt, derived);
          FillSensorFrame(spoilt, derived, frame);
        });
        break;
      case Kind::Gps1:
        ExpectFaultKeepsTheFrame<kGps1FrameSize>([&](auto& frame) {
          ConvertSlow(spoilt, derived);
          FillGps1Frame(spoilt, derived, frame);
        });
        break;
      case Kind::Engine1:
        ExpectFaultKeepsTheFrame<kEngine1FrameSize>(
            [&](auto& frame) { FillEngine1Frame(spoilt, frame); });
        break;
      case Kind::Engine2:
        ExpectFaultKeepsTheFrame<kEngine2FrameSize>(
            [&](auto& frame) { FillEngine2Frame(spoilt, frame); });
        break;
    }
  }
}

TEST_F(FrameTest, ABadValueLeavesTheBufferAsTheLastFillLeftIt) {
  s.Altitude0574 = 1000;
  ConvertSlow(s, d);
  TestFrame<kSensorFrameSize> frame("1A 00 01 00");
  FillSensorFrame(s, d, frame.bytes);
  const Bytes before = frame.All();
  s.Altitude0574 = 2000;
  ConvertSlow(s, d);
  s.Sensor2848 = kNaN;  // the last field computed
  EXPECT_THROW(FillSensorFrame(s, d, frame.bytes), EInvalidOp);
  EXPECT_EQ(Dump(frame.All()), Dump(before));
}

TEST_F(FrameTest, ConversionStopsAtTheBadValueAndKeepsWhatWasStored) {
  s.Latitude6010 = 1.0;
  s.Altitude0574 = 1000;
  ConvertSlow(s, d);
  s.Latitude6010 = 2.0;
  s.Longitude6018 = kNaN;
  s.Altitude0574 = 2000;
  EXPECT_THROW(ConvertSlow(s, d), EInvalidOp);
  EXPECT_EQ(d.LatitudeE7, 20000000);  // converted before the fault
  EXPECT_EQ(d.AltitudeFeet, 3280);    // after it: the previous value
}

// The group steps run the conversions on the module state the cycle fills.
TEST_F(FrameTest, TheGroupStepsConvertTheSnapshotIntoFlightDerived) {
  SimSnapshot = TSimSnapshot{};
  FlightDerived = TFlightDerived{};
  SimSnapshot.Bank2F78 = -12.37;
  SimSnapshot.Altitude0574 = 1000;
  ConvertFastGroup();
  EXPECT_EQ(FlightDerived.BankTenths, -123);
  EXPECT_EQ(FlightDerived.AltitudeFeet, 0) << "the slow value waits for its own group";
  ConvertSlowGroup();
  EXPECT_EQ(FlightDerived.AltitudeFeet, 3280);
  SimSnapshot = TSimSnapshot{};
  FlightDerived = TFlightDerived{};
}

// ---- The arithmetic helpers ----

TEST(FrameMath, TruncRoundAndTheLimitsOfTheRange) {
  EXPECT_EQ(Trunc(-0.9L), 0);
  EXPECT_EQ(Trunc(-1.9L), -1);
  EXPECT_EQ(Trunc(-9223372036854775808.0L), std::numeric_limits<std::int64_t>::min());
  EXPECT_EQ(Trunc(9223372036854775807.0L), std::numeric_limits<std::int64_t>::max());
  EXPECT_THROW(Trunc(9223372036854775808.0L), EInvalidOp);
  EXPECT_THROW(Trunc(-9223372036854775809.0L), EInvalidOp);
  EXPECT_THROW(Trunc(std::numeric_limits<long double>::quiet_NaN()), EInvalidOp);
  const std::pair<long double, std::int64_t> ties[] = {
      {0.5L, 0},    {1.5L, 2},      {2.5L, 2},
      {-0.5L, 0},   {-1.5L, -2},    {-2.5L, -2},
      {2.4999L, 2}, {-2.5001L, -3}, {9223372036854775806.5L, 9223372036854775806},
  };
  for (const auto& [value, expected] : ties) EXPECT_EQ(Round(value), expected) << value;
  // The tie at the top rounds up to 2^63, out of range.
  EXPECT_THROW(Round(9223372036854775807.5L), EInvalidOp);
  EXPECT_THROW(Round(std::numeric_limits<long double>::infinity()), EInvalidOp);
  EXPECT_EQ(MulDivTrunc(std::numeric_limits<std::int64_t>::max(), 3686, 10000),
            3399734932784670362);
  EXPECT_EQ(MulDivTrunc(-7, 1, 2), -3);
}

// ---- Extended precision on a thread that starts with 53 bits ----

std::uint16_t ControlWord() {
  std::uint16_t word = 0;
  __asm__ __volatile__("fnstcw %0" : "=m"(word));
  return word;
}

void SetControlWord(std::uint16_t word) {
  __asm__ __volatile__("fldcw %0" : : "m"(word));
}

struct PrecisionRun {
  bool setPrecision;
  std::uint16_t wordAtStart;
  std::uint16_t wordUsed;
  std::int32_t bankTenths;
};

// The body of the new thread: Windows starts it at 0x27F (53-bit precision); elsewhere it is
// put there first. Then the bank conversion of the double nearest 0.7, with or without the
// helper.
void ConvertOnNewThread(PrecisionRun& run) {
  run.wordAtStart = ControlWord();
  if (!kWindows) SetControlWord(0x27F);
  if (run.setPrecision) SetExtendedPrecision();
  run.wordUsed = ControlWord();
  TSimSnapshot snapshot{};
  TFlightDerived derived{};
  snapshot.Bank2F78 = 0.7;
  ConvertFast(snapshot, derived);
  run.bankTenths = derived.BankTenths;
}

#ifdef _WIN32
DWORD WINAPI ConvertingThread(LPVOID run) {
  ConvertOnNewThread(*static_cast<PrecisionRun*>(run));
  return 0;
}
#endif

// Starts the thread as the system does (CreateThread on Windows) and waits for it.
PrecisionRun RunOnNewThread(bool setPrecision) {
  PrecisionRun run{setPrecision, 0, 0, 0};
#ifdef _WIN32
  HANDLE thread = CreateThread(nullptr, 0, ConvertingThread, &run, 0, nullptr);
  EXPECT_NE(thread, nullptr);
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
#else
  std::thread thread(ConvertOnNewThread, std::ref(run));
  thread.join();
#endif
  return run;
}

TEST_F(FrameTest, PrecisionHelperMakesTheDoubleNearestSevenTenthsTruncateToSix) {
  // Without the helper the product is rounded to 53 bits, to exactly 7: the fault it prevents.
  const PrecisionRun without = RunOnNewThread(false);
  if (kWindows) {
    EXPECT_EQ(without.wordAtStart, 0x27F) << "a new thread's control word";
  }
  EXPECT_EQ(without.wordUsed, 0x27F);
  EXPECT_EQ(without.bankTenths, 7);
  const PrecisionRun with = RunOnNewThread(true);
  EXPECT_EQ(with.wordUsed, 0x37F) << "only the precision bits change";
  EXPECT_EQ(with.bankTenths, 6);
}

}  // namespace
