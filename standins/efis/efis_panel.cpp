#include "standins/efis/efis_panel.h"

#include <cmath>
#include <cstdio>

namespace efisunit {

namespace {

AutopilotSense Sense(const PanelReadout& r) {
  return {r.bankDeg, r.pitchDeg, r.headingDeg, static_cast<double>(r.altitudeFt),
          static_cast<double>(r.verticalSpeedFpm)};
}

}  // namespace

const char kPanelKeysHelp[] = "keys: a autopilot on/off, [ ] heading bug -/+10, + - QNH";

bool TakeStatusFrame(const std::uint8_t* frame, std::size_t size, ServoStatus& status) {
  if (size < 20 || frame[3] != 15) return false;
  status.seen = true;
  status.bank = S16(frame, 6);
  status.pitch = S16(frame, 10);
  return true;
}

bool TakeSessionFrame(const std::uint8_t* frame, std::size_t size, PanelSession& session) {
  if (TakeStatusFrame(frame, size, session.status)) return true;
  if (!TakeFrame(frame, size, session.readout)) return false;
  if (frame[3] == 6) session.qnhTenths = std::lround(session.readout.qnhHpa * 10);
  return true;
}

PanelAction KeyAction(char key) {
  switch (key) {
    case 'a':
    case 'A':
      return PanelAction::ToggleAutopilot;
    case '[':
      return PanelAction::HeadingLeft;
    case ']':
      return PanelAction::HeadingRight;
    case '+':
    case '=':
      return PanelAction::QnhUp;
    case '-':
      return PanelAction::QnhDown;
    default:
      return PanelAction::None;
  }
}

const char* ApplyAutopilotAction(PanelSession& session, PanelAction action, char* line,
                                 std::size_t lineSize) {
  Autopilot& ap = session.ap;
  const PanelReadout& r = session.readout;
  if (action == PanelAction::ToggleAutopilot) {
    if (ap.engaged) {
      DisengageAutopilot(ap);
      session.engagedMode = false;
      session.bankPos = session.pitchPos = 7000;
      std::snprintf(line, lineSize, "autopilot disengaged");
      return line;
    }
    if (!r.attitude || !r.airData) {
      std::snprintf(line, lineSize, "autopilot not engaged: no attitude and air data yet");
      return line;
    }
    // The bridge reports the elevator it shows as -shown / 32: the pilot's own input.
    EngageAutopilot(ap, Sense(r), session.status.seen ? -session.status.pitch * 32 : 0);
    session.engagedMode = true;
    session.bankPos = ServoPositionFor(ap.aileron);
    session.pitchPos = ServoPositionFor(ap.elevator);
  } else if (action == PanelAction::HeadingLeft || action == PanelAction::HeadingRight) {
    if (!ap.engaged) return nullptr;
    const double from = ap.headingHold ? ap.headingBugDeg : std::round(r.headingDeg);
    SelectHeading(ap, from + (action == PanelAction::HeadingLeft ? -10 : 10));
  } else {
    return nullptr;
  }
  char state[64];
  FormatAutopilot(ap, state, sizeof state);
  std::snprintf(line, lineSize, "autopilot engaged: %s", state);
  return line;
}

void StepSessionAutopilot(PanelSession& session, double timeS) {
  if (!session.ap.engaged) return;
  StepAutopilot(session.ap, Sense(session.readout), timeS);
  session.bankPos = ServoPositionFor(session.ap.aileron);
  session.pitchPos = ServoPositionFor(session.ap.elevator);
}

void FormatAutopilot(const Autopilot& ap, char* text, std::size_t textSize) {
  if (!ap.engaged) {
    std::snprintf(text, textSize, "AP OFF");
  } else if (ap.headingHold) {
    std::snprintf(text, textSize, "AP HDG %03.0f ALT %.0f", ap.headingBugDeg, ap.altitudeTargetFt);
  } else {
    std::snprintf(text, textSize, "AP LVL ALT %.0f", ap.altitudeTargetFt);
  }
}

void FormatTextPanel(const PanelSession& s, char* text, std::size_t textSize) {
  TextAppender t{text, textSize};
  if (textSize > 0) text[0] = '\0';
  const PanelReadout& r = s.readout;
  char ap[64];
  FormatAutopilot(s.ap, ap, sizeof ap);
  t.Add("+-- Korvan EFIS -- %s -- QNH %ld.%ld hPa\n", ap, s.qnhTenths / 10, s.qnhTenths % 10);
  if (r.attitude) {
    t.Add("| ATT  bank %c%5.1f  pitch %+5.1f  HDG %05.1f  turn %d  %.1f g\n",
          r.bankDeg < 0 ? 'L' : 'R', std::fabs(r.bankDeg), r.pitchDeg, r.headingDeg, r.turn,
          r.loadG);
  } else {
    t.Add("| ATT  --\n");
  }
  if (r.airData) {
    t.Add("| AIR  IAS %d mph  TAS %d mph  ALT %d ft  VS %+d fpm  OAT %d C\n", r.iasMph, r.tasMph,
          r.altitudeFt, r.verticalSpeedFpm, r.outsideAirC);
  } else {
    t.Add("| AIR  --\n");
  }
  if (r.position || r.track) {
    t.Add("| GPS  %c%.5f %c%.5f  GS %.0f kt  TRK %05.1f\n", r.latitudeDeg < 0 ? 'S' : 'N',
          std::fabs(r.latitudeDeg), r.longitudeDeg < 0 ? 'W' : 'E', std::fabs(r.longitudeDeg),
          r.groundSpeedKt, r.trackDeg);
  } else {
    t.Add("| GPS  --\n");
  }
  t.Add("| ENG ");
  for (int i = 0; i < 2; ++i) {
    const EngineReadout& e = r.engine[i];
    if (e.seen) {
      t.Add(" %c %d rpm MAP %d hPa OIL %d C %.1f bar CHT %d C", i == 0 ? 'L' : 'R', e.rpm,
            e.manifoldHpa, e.oilC, e.oilBar, e.cylinderHeadC);
    } else {
      t.Add(" %c --", i == 0 ? 'L' : 'R');
    }
  }
  t.Add("\n");
  if (s.status.seen) {
    t.Add("+-- servos: sent bank %u pitch %u%s; bridge shows bank %d pitch %d\n", s.bankPos,
          s.pitchPos, s.engagedMode ? " (mode 3)" : "", -s.status.bank, s.status.pitch);
  } else {
    t.Add("+-- servos: sent bank %u pitch %u%s\n", s.bankPos, s.pitchPos,
          s.engagedMode ? " (mode 3)" : "");
  }
}

}  // namespace efisunit
