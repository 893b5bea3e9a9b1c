// korvan-efis's panel session: the panel drawn from frames alone (a recording of a real run:
// korvan-sim flying a 12.5 degree left bank at 4500 ft, QNH 1009.0, through the bridge), the
// record lines it reads back, the servo status report, the keys and the autopilot's engagement.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "standins/efis/efis_panel.h"
#include "standins/efis/efis_replay.h"

namespace {

using efisunit::PanelAction;
using efisunit::PanelSession;
using efisunit::ReplayFrame;

PanelSession Replay(const char* path, int* frames) {
  PanelSession session;
  FILE* in = std::fopen(path, "r");
  EXPECT_NE(in, nullptr) << path;
  if (in == nullptr) return session;
  char line[4096];
  static ReplayFrame frame;
  *frames = 0;
  while (std::fgets(line, sizeof line, in) != nullptr) {
    if (efisunit::ParseRecordedFrame(line, frame)) {
      EXPECT_TRUE(efisunit::TakeSessionFrame(frame.bytes, frame.size, session)) << line;
      ++*frames;
    }
  }
  std::fclose(in);
  return session;
}

// The expected values are read by hand from the last frame of each kind in the recording:
// attitude 84 ff | 17 00 | .. | 16 0a | 16 0a | 0a 00 | eb ff | .. | 2a 0a | 14 00,
// sensor 91 11 00 00 | d9 0a | 7b 00 | 84 00 | 00 00 ... 09 00 at 26, QNH 6a 27,
// engines f6 09 and ec 09 at offset 4, GPS 1 b9 3c d6 02 | 08 9b 2d 1f,
// GPS 2 49 15 00 00 at 11 and c0 0a 87 01 at 15, servo status 33 00 at 6 and af ff at 10.
TEST(EfisPanelFromFrames, RecordedFramesAloneGiveTheInstrument) {
  int frames = 0;
  const PanelSession s = Replay(KORVAN_TEST_DATA "/efis-frames.rec", &frames);
  EXPECT_EQ(frames, 31);
  const efisunit::PanelReadout& r = s.readout;
  ASSERT_TRUE(r.attitude && r.airData && r.position && r.track && r.qnh);
  EXPECT_DOUBLE_EQ(r.bankDeg, -12.4);  // 0xff84 = -124 tenths
  EXPECT_DOUBLE_EQ(r.pitchDeg, 2.3);
  EXPECT_DOUBLE_EQ(r.headingDeg, 258.2);  // 0x0a16 = 2582
  EXPECT_DOUBLE_EQ(r.correctedHeadingDeg, 260.2);
  EXPECT_DOUBLE_EQ(r.variationDeg, 2.0);
  EXPECT_DOUBLE_EQ(r.loadG, 1.0);
  EXPECT_EQ(r.turn, -21);
  EXPECT_EQ(r.altitudeFt, 4497);  // 0x1191
  EXPECT_EQ(r.iasMph, 123);
  EXPECT_EQ(r.tasMph, 132);
  EXPECT_EQ(r.verticalSpeedFpm, 0);
  EXPECT_EQ(r.outsideAirC, 9);
  EXPECT_DOUBLE_EQ(r.qnhHpa, 1009.0);  // 0x276a = 10090
  EXPECT_EQ(s.qnhTenths, 10090);
  EXPECT_EQ(r.engine[0].rpm, 2550);  // 0x09f6
  EXPECT_EQ(r.engine[1].rpm, 2540);  // 0x09ec
  EXPECT_TRUE(r.engine[0].auxSeen);
  EXPECT_TRUE(r.engine[1].auxSeen);
  EXPECT_NEAR(r.latitudeDeg, 52.3082504, 1e-9);             // 0x1f2d9b08
  EXPECT_NEAR(r.longitudeDeg, 4.7594681, 1e-9);             // 0x02d63cb9
  EXPECT_NEAR(r.trackDeg, 256.27328, 1e-9);                 // 0x01870ac0
  EXPECT_NEAR(r.groundSpeedKt, 54.49 * 3600 / 1852, 1e-6);  // 5449 cm/s
  ASSERT_TRUE(s.status.seen);
  EXPECT_EQ(s.status.bank, 51);    // the bridge's bank slider at -51
  EXPECT_EQ(s.status.pitch, -81);  // its pitch slider at -81

  char text[1024];
  efisunit::FormatTextPanel(s, text, sizeof text);
  const std::string panel = text;
  for (const char* part :
       {"AP OFF -- QNH 1009.0 hPa", "bank L 12.4  pitch  +2.3  HDG 258.2",
        "IAS 123 mph  TAS 132 mph  ALT 4497 ft  VS +0 fpm", "N52.30825 E4.75947  GS 106 kt",
        "L 2550 rpm", "R 2540 rpm", "bridge shows bank -51 pitch -81"}) {
    EXPECT_NE(panel.find(part), std::string::npos) << part << "\n" << panel;
  }
}

TEST(EfisReplay, OnlyWellFormedFrameLinesAreTaken) {
  ReplayFrame f;
  ASSERT_TRUE(efisunit::ParseRecordedFrame("17 frame 6 6 020001066A27\n", f));
  EXPECT_EQ(f.ms, 17u);
  ASSERT_EQ(f.size, 6u);
  EXPECT_EQ(f.bytes[4], 0x6A);
  EXPECT_EQ(f.bytes[5], 0x27);
  const char* const bad[] = {
      "17 sent 14 12 080001 0e0000000000000000",  // a frame the unit sent
      "17 open PIPE00",
      "17 frame 6 6 020001066a2",     // one digit short
      "17 frame 6 6 020001066a2799",  // longer than its size
      "17 frame 6 7 020001066a27",    // shorter than its size
      "17 frame 5 6 020001066a27",    // the type is not byte 3
      "17 frame 6 6 02000106zz27",    // not hex
      "17 frame 6 3 020001",          // shorter than a header
      "17 frame 6 513 00",            // longer than any frame
      "x frame 6 6 020001066a27",
      "17  frame 6 6 020001066a27",
      "",
  };
  for (const char* line : bad) EXPECT_FALSE(efisunit::ParseRecordedFrame(line, f)) << line;
}

TEST(EfisSession, StatusFramesAndKeys) {
  efisunit::ServoStatus status;
  const std::uint8_t good[20] = {16, 0, 1, 15, 0, 0, 0x01, 0xFE, 0, 0, 0x00, 0x02};
  EXPECT_FALSE(efisunit::TakeStatusFrame(good, 19, status));
  EXPECT_FALSE(status.seen);
  ASSERT_TRUE(efisunit::TakeStatusFrame(good, 20, status));
  EXPECT_EQ(status.bank, -511);
  EXPECT_EQ(status.pitch, 512);

  const std::pair<char, PanelAction> keys[] = {{'a', PanelAction::ToggleAutopilot},
                                               {'A', PanelAction::ToggleAutopilot},
                                               {'[', PanelAction::HeadingLeft},
                                               {']', PanelAction::HeadingRight},
                                               {'+', PanelAction::QnhUp},
                                               {'=', PanelAction::QnhUp},
                                               {'-', PanelAction::QnhDown},
                                               {'x', PanelAction::None},
                                               {'\n', PanelAction::None}};
  for (const auto& [key, action] : keys) EXPECT_EQ(efisunit::KeyAction(key), action) << key;
}

TEST(EfisSession, AutopilotEngagesOnWhatThePanelShows) {
  PanelSession s;
  char line[160];
  // Nothing to fly on yet.
  EXPECT_STREQ(efisunit::ApplyAutopilotAction(s, PanelAction::ToggleAutopilot, line, sizeof line),
               "autopilot not engaged: no attitude and air data yet");
  EXPECT_FALSE(s.ap.engaged);
  EXPECT_EQ(efisunit::ApplyAutopilotAction(s, PanelAction::HeadingRight, line, sizeof line),
            nullptr);

  s.readout.attitude = s.readout.airData = true;
  s.readout.bankDeg = 20;
  s.readout.headingDeg = 93.4;
  s.readout.altitudeFt = 3050;
  s.status.seen = true;
  s.status.pitch = -75;  // the bridge shows the pilot's elevator 2400: -2400 / 32
  EXPECT_STREQ(efisunit::ApplyAutopilotAction(s, PanelAction::ToggleAutopilot, line, sizeof line),
               "autopilot engaged: AP LVL ALT 3050");
  EXPECT_TRUE(s.engagedMode);
  EXPECT_EQ(s.ap.elevator, 2400);
  EXPECT_EQ(s.pitchPos, efisunit::ServoPositionFor(2400));
  EXPECT_EQ(s.bankPos, 7000);

  efisunit::StepSessionAutopilot(s, 1.0);
  EXPECT_LT(s.ap.aileron, -1000) << "rolls left, out of the right bank";
  EXPECT_GT(s.bankPos, 7000) << "more position is more left";

  EXPECT_STREQ(efisunit::ApplyAutopilotAction(s, PanelAction::HeadingRight, line, sizeof line),
               "autopilot engaged: AP HDG 103 ALT 3050");
  EXPECT_STREQ(efisunit::ApplyAutopilotAction(s, PanelAction::HeadingLeft, line, sizeof line),
               "autopilot engaged: AP HDG 093 ALT 3050");
  efisunit::ApplyAutopilotAction(s, PanelAction::HeadingLeft, line, sizeof line);
  EXPECT_STREQ(line, "autopilot engaged: AP HDG 083 ALT 3050");

  EXPECT_STREQ(efisunit::ApplyAutopilotAction(s, PanelAction::ToggleAutopilot, line, sizeof line),
               "autopilot disengaged");
  EXPECT_FALSE(s.engagedMode);
  EXPECT_EQ(s.bankPos, 7000);
  EXPECT_EQ(s.pitchPos, 7000);
  char text[1024];
  efisunit::FormatTextPanel(s, text, sizeof text);
  EXPECT_NE(std::string(text).find("AP OFF"), std::string::npos) << text;
}

}  // namespace
