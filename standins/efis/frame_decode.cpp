#include "standins/efis/frame_decode.h"

#include <cstdarg>
#include <cstdio>

namespace efisunit {

int S16(const std::uint8_t* f, std::size_t at) {
  const int value = f[at] | f[at + 1] << 8;
  return value >= 0x8000 ? value - 0x10000 : value;
}

void TextAppender::Add(const char* format, ...) {
  if (room == 0 || used + 1 >= room) return;
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(text + used, room - used, format, args);
  va_end(args);
  if (n <= 0) return;
  const auto wrote = static_cast<std::size_t>(n);
  used += wrote < room - used ? wrote : room - used - 1;
}

namespace {

int U8(const std::uint8_t* f, std::size_t at) {
  return f[at];
}
int U16(const std::uint8_t* f, std::size_t at) {
  return f[at] | f[at + 1] << 8;
}
long long S32(const std::uint8_t* f, std::size_t at) {
  const long long value =
      static_cast<long long>(U16(f, at)) | static_cast<long long>(U16(f, at + 2)) << 16;
  return value >= 0x80000000LL ? value - 0x100000000LL : value;
}

constexpr double kFeetPerMetre = 1 / 0.3048;
constexpr double kKnotsPerMetrePerSecond = 3600 / 1852.0;

void TakeSensor(const std::uint8_t* f, PanelReadout& p) {
  p.airData = true;
  p.altitudeFt = static_cast<int>(S32(f, 4));
  p.iasMph = S16(f, 10);
  p.tasMph = S16(f, 12);
  p.verticalSpeedFpm = S16(f, 14);
  p.outsideAirC = S16(f, 26);
}

void TakeAttitude(const std::uint8_t* f, PanelReadout& p) {
  p.attitude = true;
  p.bankDeg = S16(f, 4) / 10.0;
  p.pitchDeg = S16(f, 6) / 10.0;
  p.headingDeg = S16(f, 10) / 10.0;
  p.gyroHeadingDeg = S16(f, 12) / 10.0;
  p.loadG = S16(f, 14) / 10.0;
  p.turn = S16(f, 16);
  p.correctedHeadingDeg = S16(f, 20) / 10.0;
  p.variationDeg = S16(f, 22) / 10.0;
}

void TakeGps1(const std::uint8_t* f, PanelReadout& p) {
  p.position = true;
  p.longitudeDeg = static_cast<double>(S32(f, 8)) / 1e7;
  p.latitudeDeg = static_cast<double>(S32(f, 12)) / 1e7;
  p.gpsAltitudeFt = static_cast<double>(S32(f, 16)) / 1000 * kFeetPerMetre;  // millimetres
}

void TakeGps2(const std::uint8_t* f, PanelReadout& p) {
  p.track = true;
  p.groundSpeedKt = static_cast<double>(S32(f, 11)) / 100 * kKnotsPerMetrePerSecond;  // cm/s
  p.trackDeg = static_cast<double>(S32(f, 15)) / 1e5;
}

void TakeEngine(const std::uint8_t* f, EngineReadout& e) {
  e.seen = true;
  e.rpm = U16(f, 4);
  e.exhaustC = S16(f, 10);
  e.fuelFlow = S16(f, 14);
  e.manifoldHpa = S16(f, 16);
  e.oilC = S16(f, 24);
  e.oilBar = S16(f, 26) / 10.0;
  e.cylinderHeadC = S16(f, 32);
}

}  // namespace

bool TakeFrame(const std::uint8_t* frame, std::size_t size, PanelReadout& panel) {
  if (size < 4) return false;
  const std::size_t needed[16] = {30, 64, 64, 20, 43, 24, 6, 0, 0, 0, 0, 37, 9, 9, 0, 0};
  const int type = frame[3];
  if (type >= 16 || needed[type] == 0 || size < needed[type]) return false;
  switch (type) {
    case 0:
      TakeSensor(frame, panel);
      break;
    case 1:
    case 2:
      TakeEngine(frame, panel.engine[type - 1]);
      break;
    case 3:
      panel.gpsStatus = true;
      break;
    case 4:
      TakeGps1(frame, panel);
      break;
    case 5:
      TakeGps2(frame, panel);
      break;
    case 6:
      panel.qnh = true;
      panel.qnhHpa = U16(frame, 4) / 10.0;
      break;
    case 11:
      TakeAttitude(frame, panel);
      break;
    case 12:
    case 13:
      panel.engine[type - 12].auxSeen = U16(frame, 4) == 2300 && U8(frame, 6) == 0;
      break;
  }
  return true;
}

void FormatPanel(const PanelReadout& p, char* text, std::size_t textSize) {
  TextAppender line{text, textSize};
  if (textSize > 0) text[0] = '\0';
  line.Add("panel:");
  if (p.airData) {
    line.Add(" ALT %d ft  IAS %d mph  TAS %d mph  VS %d fpm  OAT %d C |", p.altitudeFt, p.iasMph,
             p.tasMph, p.verticalSpeedFpm, p.outsideAirC);
  }
  if (p.attitude) {
    line.Add(
        " BANK %.1f  PITCH %.1f  HDG %05.1f  GYRO %05.1f  HDG+VAR %05.1f  VAR %.1f  G %.1f  "
        "TURN %d |",
        p.bankDeg, p.pitchDeg, p.headingDeg, p.gyroHeadingDeg, p.correctedHeadingDeg,
        p.variationDeg, p.loadG, p.turn);
  }
  if (p.position) {
    line.Add(" GPS %c%.7f %c%.7f  %.0f ft", p.latitudeDeg < 0 ? 'S' : 'N',
             p.latitudeDeg < 0 ? -p.latitudeDeg : p.latitudeDeg, p.longitudeDeg < 0 ? 'W' : 'E',
             p.longitudeDeg < 0 ? -p.longitudeDeg : p.longitudeDeg, p.gpsAltitudeFt);
  }
  if (p.track) line.Add("  GS %.1f kt  TRK %06.2f", p.groundSpeedKt, p.trackDeg);
  if (p.position || p.track) line.Add(" |");
  if (p.qnh) line.Add(" QNH %.1f hPa |", p.qnhHpa);
  for (int i = 0; i < 2; ++i) {
    const EngineReadout& e = p.engine[i];
    if (!e.seen) continue;
    line.Add(" ENG%d %d rpm  MAP %d hPa  OIL %d C %.1f bar  CHT %d C  EGT %d C  FF %d |", i + 1,
             e.rpm, e.manifoldHpa, e.oilC, e.oilBar, e.cylinderHeadC, e.exhaustC, e.fuelFlow);
  }
  if (line.used > 0 && text[line.used - 1] == '|') text[--line.used] = '\0';
  while (line.used > 0 && text[line.used - 1] == ' ') text[--line.used] = '\0';
}

}  // namespace efisunit
