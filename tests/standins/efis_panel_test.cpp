// korvan-efis's reading of the frames: what its panel line shows from hand-made frames.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "standins/efis/frame_decode.h"

namespace {

using efisunit::PanelReadout;

std::vector<std::uint8_t> Frame(std::size_t size, std::uint8_t type,
                                const std::vector<std::pair<std::size_t, std::vector<int>>>& at) {
  std::vector<std::uint8_t> f(size, 0);
  f[0] = static_cast<std::uint8_t>(size - 4);
  f[2] = 1;
  f[3] = type;
  for (const auto& [offset, bytes] : at) {
    for (std::size_t i = 0; i < bytes.size(); ++i)
      f[offset + i] = static_cast<std::uint8_t>(bytes[i]);
  }
  return f;
}

std::string Line(const PanelReadout& panel) {
  char text[1024];
  efisunit::FormatPanel(panel, text, sizeof text);
  return text;
}

TEST(EfisPanel, ShowsOnlyWhatHasArrived) {
  PanelReadout panel;
  EXPECT_EQ(Line(panel), "panel:");
  auto qnh = Frame(6, 6, {{4, {0x93, 0x27}}});  // 10131
  ASSERT_TRUE(efisunit::TakeFrame(qnh.data(), qnh.size(), panel));
  EXPECT_EQ(Line(panel), "panel: QNH 1013.1 hPa");
  auto servo = Frame(20, 15, {});
  EXPECT_FALSE(efisunit::TakeFrame(servo.data(), servo.size(), panel));
  EXPECT_FALSE(efisunit::TakeFrame(qnh.data(), 5, panel)) << "too short for its kind";
}

TEST(EfisPanel, ReadsSignedFieldsAndTheUnalignedGpsFields) {
  PanelReadout panel;
  // Altitude -3280 ft, IAS 109, TAS 115, VS -196 fpm, OAT -1 C.
  auto sensor = Frame(
      30, 0,
      {{4, {0x30, 0xF3, 0xFF, 0xFF}}, {10, {0x6D, 0, 0x73, 0, 0x3C, 0xFF}}, {26, {0xFF, 0xFF}}});
  // Bank -12.3, pitch -5.0, headings 359.5 and 0.5, load -1.0, turn -2, corrected 358.5,
  // variation -1.0.
  auto attitude = Frame(37, 11,
                        {{4, {0x85, 0xFF, 0xCE, 0xFF}},
                         {10, {0x0B, 0x0E, 5, 0}},
                         {14, {0xF6, 0xFF, 0xFE, 0xFF}},
                         {20, {0x01, 0x0E, 0xF6, 0xFF}}});
  // Longitude -122.3000031, latitude -33.9 (-339000000), height 304800 mm = 1000 ft.
  auto gps1 = Frame(43, 4,
                    {{8, {0x21, 0x80, 0x1A, 0xB7}},
                     {12, {0x40, 0x45, 0xCB, 0xEB}},
                     {16, {0xA0, 0xA6, 0x04, 0x00}}});
  // Ground speed 5144 cm/s = 100.0 kt at 11, track 270.5 (27050000) at 15.
  auto gps2 = Frame(24, 5, {{11, {0x18, 0x14, 0, 0}}, {15, {0x10, 0xC0, 0x9C, 0x01}}});
  // Engine 2: 2500 RPM, EGT -10, FF 613, MAP 33, oil 99 C 0.4 bar, CHT -273.
  auto engine2 = Frame(64, 2,
                       {{4, {0xC4, 0x09}},
                        {10, {0xF6, 0xFF, 0xF6, 0xFF, 0x65, 0x02, 0x21, 0}},
                        {24, {0x63, 0, 4, 0}},
                        {32, {0xEF, 0xFE}}});
  for (const auto* f : {&sensor, &attitude, &gps1, &gps2, &engine2}) {
    ASSERT_TRUE(efisunit::TakeFrame(f->data(), f->size(), panel));
  }
  EXPECT_EQ(Line(panel),
            "panel: ALT -3280 ft  IAS 109 mph  TAS 115 mph  VS -196 fpm  OAT -1 C |"
            " BANK -12.3  PITCH -5.0  HDG 359.5  GYRO 000.5  HDG+VAR 358.5  VAR -1.0  G -1.0"
            "  TURN -2 | GPS S33.9000000 W122.3000031  1000 ft  GS 100.0 kt  TRK 270.50 |"
            " ENG2 2500 rpm  MAP 33 hPa  OIL 99 C 0.4 bar  CHT -273 C  EGT -10 C  FF 613");
}

}  // namespace
