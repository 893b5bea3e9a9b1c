#include "standins/efis/unit_panel.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "standins/common/failure.h"
#include "standins/efis/efis_replay.h"
#include "standins/efis/frame_check.h"

namespace efisunit {
namespace {

constexpr int kEngageCheckMs = 100;

void Redraw(UnitPanel& panel) {
  if (panel.redraw != nullptr) panel.redraw();
}

// The servo frames carry the autopilot's modes and positions while it is engaged, the options'
// otherwise.
void ShowServos(UnitPanel& panel) {
  const OutputOptions& o = panel.options->outputs;
  PanelSession& s = panel.session;
  if (s.engagedMode) {
    panel.outputs->SetServos(3, s.bankPos, 3, s.pitchPos);
  } else {
    panel.outputs->SetServos(o.bankMode, o.bankPos, o.pitchMode, o.pitchPos);
    s.bankPos = static_cast<std::uint16_t>(o.bankPos);
    s.pitchPos = static_cast<std::uint16_t>(o.pitchPos);
  }
}

// The setting the unit shows is the one it holds: its own knob, or the bridge's last frame.
void ShowQnh(UnitPanel& panel, long tenths) {
  panel.session.qnhTenths = tenths;
  panel.session.readout.qnh = true;
  panel.session.readout.qnhHpa = static_cast<double>(tenths) / 10;
  panel.news = true;
}

void PanelAct(UnitPanel& panel, PanelAction action) {
  char line[160];
  if (const char* what = ApplyAutopilotAction(panel.session, action, line, sizeof line)) {
    Say("%s", what);
    Record(*panel.report, "%s", what);
  }
  ShowServos(panel);
  panel.news = true;
  Redraw(panel);
}

// Every frame the unit sends goes to the record too, with --record-sent: "MS sent TYPE SIZE HEX".
void PanelSent(void* context, const std::uint8_t* frame, std::size_t size) {
  UnitPanel& panel = *static_cast<UnitPanel*>(context);
  if (panel.report->record == nullptr || !panel.options->recordSent) return;
  char hex[2 * kMaxFrame + 1];
  HexBytes(frame, size, hex, sizeof hex);
  Record(*panel.report, "sent %u %zu %s", frame[3], size, hex);
}

}  // namespace

void BeginPanel(UnitPanel& panel, const UnitOptions& options, UnitOutputs& outputs,
                FrameReport& report) {
  panel.options = &options;
  panel.outputs = &outputs;
  panel.report = &report;
  outputs.SetHooks(PanelKey, PanelSent, &panel);
  panel.session.qnhTenths = outputs.Qnh();
  ShowServos(panel);
}

void PanelPipeOpened(UnitPanel& panel, std::uint64_t now) {
  panel.outputs->ReadPipeOpened(now);
  if (panel.options->engageAfterS >= 0 && panel.engageAtMs == 0) {
    panel.engageAtMs = now + static_cast<std::uint64_t>(panel.options->engageAfterS * 1000);
  }
}

void PanelTakeFrame(UnitPanel& panel, const std::uint8_t* frame, std::size_t size) {
  if (!TakeSessionFrame(frame, size, panel.session)) return;
  panel.news = true;
  // The unit takes the simulator's setting as its own, unless it is one that keeps announcing
  // its own (--qnh-every).
  if (frame[3] == 6 && panel.options->outputs.qnhEveryMs == 0) {
    panel.outputs->TakeQnh(panel.session.qnhTenths);
  }
  if (frame[3] == 11 && panel.session.ap.engaged) {
    StepSessionAutopilot(panel.session, static_cast<double>(UnitNowMs()) / 1000);
    ShowServos(panel);
  }
  Redraw(panel);
}

// The QNH keys are the outputs' own.
void PanelKey(void* context, char key) {
  UnitPanel& panel = *static_cast<UnitPanel*>(context);
  const PanelAction action = KeyAction(key);
  if (action == PanelAction::QnhUp || action == PanelAction::QnhDown) {
    panel.outputs->Key(action == PanelAction::QnhUp ? '+' : '-', UnitNowMs());
    ShowQnh(panel, panel.outputs->Qnh());
    Redraw(panel);
  } else if (action != PanelAction::None) {
    PanelAct(panel, action);
  }
}

void EngageWhenDue(UnitPanel& panel) {
  if (panel.engageAtMs == 0 || UnitNowMs() < panel.engageAtMs) return;
  const PanelReadout& r = panel.session.readout;
  if (!r.attitude || !r.airData) return;
  panel.engageAtMs = 0;
  if (panel.session.ap.engaged) return;
  char line[160];
  ApplyAutopilotAction(panel.session, PanelAction::ToggleAutopilot, line, sizeof line);
  if (panel.options->headingBug >= 0) {
    SelectHeading(panel.session.ap, panel.options->headingBug);
    char state[48];
    FormatAutopilot(panel.session.ap, state, sizeof state);
    std::snprintf(line, sizeof line, "autopilot engaged: %s", state);
  }
  Say("%s", line);
  Record(*panel.report, "%s", line);
  ShowServos(panel);
  panel.news = true;
  Redraw(panel);
}

int ShowPanel(UnitPanel& panel) {
  const std::uint64_t now = UnitNowMs();
  if (now >= panel.nextLineMs) {
    if (panel.news) {
      char line[1024];
      FormatPanel(panel.session.readout, line, sizeof line);
      Say("%s", line);
      panel.news = false;
    }
    panel.nextLineMs = now + 1000;
  }
  int wait = static_cast<int>(panel.nextLineMs - now);
  if (panel.options->textPanel) {
    if (now >= panel.nextTextMs) {
      char text[1024];
      FormatTextPanel(panel.session, text, sizeof text);
      std::fputs(text, stdout);
      std::fflush(stdout);
      panel.nextTextMs = now + static_cast<std::uint64_t>(panel.options->panelEveryS * 1000);
    }
    const int textWait = static_cast<int>(panel.nextTextMs - now);
    if (textWait < wait) wait = textWait;
  }
  const int due = panel.outputs->MsUntilDue(now);
  if (due >= 0 && due < wait) wait = due;
  if (panel.engageAtMs != 0 && wait > kEngageCheckMs) wait = kEngageCheckMs;
  return wait;
}

long ReplayRecording(const UnitOptions& options, PanelSession& session) {
  FILE* in = std::fopen(options.replay.c_str(), "r");
  if (in == nullptr) {
    standins::SayLibraryFailure("korvan-efis", "fopen " + options.replay, errno);
    return -1;
  }
  static ReplayFrame frame;
  char line[4096];
  long frames = 0;
  while (std::fgets(line, sizeof line, in) != nullptr) {
    if (!ParseRecordedFrame(line, frame)) continue;
    char reason[96];
    if (CheckOutboundFrame(frame.bytes, frame.size, reason, sizeof reason) != nullptr) continue;
    TakeSessionFrame(frame.bytes, frame.size, session);
    ++frames;
  }
  std::fclose(in);
  Say("replayed %ld frames from %s", frames, options.replay.c_str());
  char text[1024];
  FormatPanel(session.readout, text, sizeof text);
  Say("%s", text);
  FormatTextPanel(session, text, sizeof text);
  std::fputs(text, stdout);
  std::fflush(stdout);
  return frames;
}

}  // namespace efisunit
