// The flight and engine frames of the running bridge, between korvan-sim and korvan-efis in
// other processes: the frame rates the cycle's schedule gives when the frame timer paces it,
// what korvan-efis's panel shows from them, and what a value that cannot be converted does to
// a tick. The window is the headless one; the loop, the timer and the cycle are the real ones.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <limits>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/Unit1.h"
#include "efis/EfisLink.h"
#include "efis/FrameMath.h"
#include "efis/SharedState.h"
#include "platform/null/null_toolkit.h"
#include "simlink/SimLinkClient.h"
#include "tests/support/bridge_form.h"
#include "tests/support/child_process.h"

namespace {

using Clock = std::chrono::steady_clock;

class BridgeFrames : public ::testing::Test {
 protected:
  void SetUp() override {
    SetExtendedPrecision();
    dir_ = testsupport::MakeTestRuntimeDir("app-frames");
    NullToolkitReset();
    ResetCycleState();
    ResetSharedState();
  }
  void TearDown() override {
    testsupport::CloseBridgeForm();
    efis_.Stop();
    sim_.Stop();
    testsupport::RemoveTree(dir_);
  }

  void StartStandIns(const std::vector<std::string>& efisArgs) {
    ASSERT_TRUE(sim_.Start(KORVAN_SIM_PATH, {}));
    ASSERT_TRUE(sim_.WaitForLine("korvan-sim ready", 10000));
    ASSERT_TRUE(efis_.Start(KORVAN_EFIS_PATH, efisArgs));
    ASSERT_TRUE(efis_.WaitForLine("korvan-efis ready", 10000));
  }

  void CreateWindow() {
    Application->Title = "Korvan EFIS to Flightsim bridge";
    Form1 = new TForm1(Application);
    Application->CreateForm(Form1, [](TForm& form) { static_cast<TForm1&>(form).CreateDesign(); });
    ASSERT_TRUE(SimConnected);
    ASSERT_TRUE(EfisLink.EfisConnected);
  }

  void Tick() { Form1->FrameTimer1Timer(Form1->FrameTimer1, 1); }
  void TickUntilNextIs(std::uint8_t phase) {
    while ((PhaseCounter + 1) % 10 != phase) Tick();
  }

  // Puts a double into the module's offset space through the bridge's own link.
  void SimulatorHolds(std::uint32_t offset, double value) {
    static double source;
    source = value;
    SimResult code = SimOkay;
    ASSERT_TRUE(SimLinkWrite(offset, sizeof source, &source, code));
    ASSERT_TRUE(SimLinkProcess(code)) << SimResultTextOf(code);
  }

  // The frame types korvan-efis reported (--verbose), in order.
  std::vector<int> FrameTypes() const {
    std::vector<int> types;
    for (const std::string& line : efis_.Lines()) {
      if (line.rfind("frame type ", 0) == 0) types.push_back(std::stoi(line.substr(11)));
    }
    return types;
  }

  // Waits until korvan-efis has reported `count` frames, then a little for any beyond them.
  std::vector<int> FramesSettledAt(std::size_t count) {
    for (int i = 0; i < 500 && FrameTypes().size() < count; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    return FrameTypes();
  }

  std::string dir_;
  testsupport::ChildProcess sim_;
  testsupport::ChildProcess efis_;
};

// Frames of each type in korvan-efis's record.
std::map<int, int> CountRecordedFrames(const std::string& path) {
  std::map<int, int> counts;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string ms, word;
    int type = -1;
    if (words >> ms >> word >> type && word == "frame") ++counts[type];
  }
  return counts;
}

TEST_F(BridgeFrames, TimerPacedCycleSendsEachKindAtItsRateAndThePanelShowsTheFlight) {
  const std::string record = dir_ + "/efis.record";
  StartStandIns({"--record", record});
  CreateWindow();

  const Clock::time_point start = Clock::now();
  NullToolkitRunFor(5000);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  ASSERT_TRUE(SimConnected) << Form1->Memo1->Lines.Text();
  ASSERT_TRUE(EfisLink.EfisConnected) << Form1->Memo1->Lines.Text();
  ASSERT_LT(seconds, 6.0);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the unit records on its own

  std::map<int, int> n = CountRecordedFrames(record);
  std::ostringstream seen;
  for (const auto& [type, count] : n) seen << " type " << type << ": " << count;
  std::printf("frames in %.2f s:%s\n", seconds, seen.str().c_str());
  SCOPED_TRACE("frames:" + seen.str());
  // Nominal in 5 s at a 50 ms tick: 100 ticks, 50 fast, 20 slow, 10 of them at phase 5. A
  // busy machine stretches the schedule (late ticks are not made up), never shortens it.
  EXPECT_GE(n[11], 30);  // attitude, 10 Hz
  EXPECT_LE(n[11], 51);
  EXPECT_GE(n[0], 12);  // sensor, 4 Hz
  EXPECT_LE(n[0], 21);
  EXPECT_GE(n[4], 6);  // GPS 1, 2 Hz
  EXPECT_LE(n[4], 11);
  // The schedule ties them together: per ten phases 5 fast, 2 slow, 1 at phase 5.
  EXPECT_NEAR(n[11], 2.5 * n[0], 3.0);
  EXPECT_EQ(n[4], n[0] / 2) << "the first slow tick is phase 1, the second phase 5";
  EXPECT_EQ(n[5], n[4]);
  EXPECT_EQ(n[3], n[4]);
  for (int engine : {1, 12, 2, 13}) EXPECT_EQ(n[engine], n[0]) << "engine frame type " << engine;
  EXPECT_EQ(n[15], n[11]) << "servo status with every attitude frame";
  EXPECT_EQ(n[6], 1) << "one QNH frame: the first slow tick's, the setting never changes";

  // korvan-sim's flight as korvan-efis shows it: 914 m, 100 kt, QNH 16211/16 hPa, 2400 RPM.
  ASSERT_GE(efis_.CountLines("panel:"), 3) << "a panel line once a second";
  std::string panel;
  for (const std::string& line : efis_.Lines()) {
    if (line.rfind("panel:", 0) == 0) panel = line;
  }
  std::printf("%s\n", panel.c_str());
  for (const char* part :
       {"ALT 2998 ft", "IAS 115 mph", "TAS 120 mph", "VS 0 fpm", "OAT 9 C", "BANK 0.0", "PITCH 0.0",
        "HDG 090.0", "GYRO 090.0", "HDG+VAR 092.0", "G 1.0", "GPS N52.3086014 E4.7638998",
        "3000 ft", "GS 104.6 kt", "TRK 090.00", "QNH 1013.1 hPa",
        "ENG1 2400 rpm  MAP 812 hPa  OIL 85 C 4.5 bar  CHT 180 C  EGT 700 C  FF 3681",
        "ENG2 2400 rpm"}) {
    EXPECT_NE(panel.find(part), std::string::npos) << "no \"" << part << "\" in: " << panel;
  }
}

// The first ten ticks beside korvan-sim's fixed state, byte for byte as the shared reference
// has them; korvan-bridge.exe is held to the same file under Wine.
TEST_F(BridgeFrames, FirstCycleSendsTheReferenceFramesByteForByte) {
  const std::string record = dir_ + "/efis.record";
  StartStandIns({"--record", record, "--servo-rate", "0"});
  CreateWindow();
  for (int i = 0; i < 10; ++i) Tick();

  std::vector<std::string> expected;
  std::ifstream reference(KORVAN_FIRST_CYCLE_FRAMES);
  std::string line;
  while (std::getline(reference, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream words(line);
    std::string type, hex;
    words >> type >> hex;
    expected.push_back(type + " " + std::to_string(hex.size() / 2) + " " + hex);
  }
  ASSERT_EQ(expected.size(), 24u);
  std::vector<std::string> frames;
  for (int i = 0; i < 1000 && frames.size() < expected.size(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));  // the unit records on its own
    frames.clear();
    std::ifstream in(record);
    while (std::getline(in, line)) {
      const std::size_t at = line.find(" frame ");
      if (at != std::string::npos) frames.push_back(line.substr(at + 7));
    }
  }
  EXPECT_EQ(frames, expected);
}

TEST_F(BridgeFrames, BadSlowValueEndsItsTickUnsentAndIsReportedOncePerEpisode) {
  StartStandIns({"--verbose"});
  CreateWindow();
  SimulatorHolds(0x2848, std::numeric_limits<double>::quiet_NaN());

  for (int i = 0; i < 10; ++i) Tick();  // phases 1 to 0
  // The slow ticks end at the sensor frame: none of their frames, not even the first QNH.
  const std::vector<int> fastOnly = {15, 11, 15, 11, 15, 11, 15, 11, 15, 11};
  EXPECT_EQ(FramesSettledAt(fastOnly.size()), fastOnly);
  EXPECT_EQ(NullToolkitMessageBoxCount(), 1) << "shown once, not at every slow tick";
  EXPECT_EQ(NullToolkitLastMessageBox().Text, "Invalid floating point operation");
  EXPECT_EQ(NullToolkitLastMessageBox().Title, "Korvan EFIS to Flightsim bridge");
  EXPECT_EQ(Form1->Memo1->Lines.All().size(), 4u) << "the log stays as the connect left it";
  EXPECT_TRUE(SimConnected);
  EXPECT_TRUE(EfisLink.EfisConnected);

  // A good value again: the next slow tick sends everything, the QNH frame first seen now.
  SimulatorHolds(0x2848, 5.0);
  Tick();  // phase 1
  std::vector<int> expected = fastOnly;
  for (int type : {0, 1, 12, 2, 13, 6}) expected.push_back(type);
  EXPECT_EQ(FramesSettledAt(expected.size()), expected);

  // After a clean slow tick the same fault is shown again.
  SimulatorHolds(0x2848, std::numeric_limits<double>::infinity());
  TickUntilNextIs(5);
  Tick();
  EXPECT_EQ(NullToolkitMessageBoxCount(), 2);
}

TEST_F(BridgeFrames, BadBankKeepsTheAttitudeFrameGoingWithTheLastAngles) {
  StartStandIns({"--verbose"});
  CreateWindow();
  SimulatorHolds(0x2F78, 20.0);  // bank
  SimulatorHolds(0x2F70, -5.0);  // pitch up
  Tick();                        // phase 1
  Tick();                        // phase 2: attitude with bank 200, pitch 50
  SimulatorHolds(0x2F78, std::numeric_limits<double>::quiet_NaN());
  SimulatorHolds(0x2F70, 3.0);
  Tick();
  Tick();  // phase 4
  const std::vector<int> expected = {0, 1, 12, 2, 13, 6, 15, 11, 15, 11};
  EXPECT_EQ(FramesSettledAt(expected.size()), expected);
  std::vector<std::string> attitude;
  for (const std::string& line : efis_.Lines()) {
    if (line.rfind("frame type 11,", 0) == 0) attitude.push_back(line);
  }
  ASSERT_EQ(attitude.size(), 2u);
  // Bank 200 (c8 00) and pitch 50 (32 00) at offsets 4 to 7, both times.
  EXPECT_NE(attitude[0].find(": 2100010bc8003200"), std::string::npos) << attitude[0];
  EXPECT_NE(attitude[1].find(": 2100010bc8003200"), std::string::npos) << attitude[1];
  EXPECT_EQ(NullToolkitMessageBoxCount(), 0);
  EXPECT_EQ(Form1->Memo1->Lines.All().size(), 4u);
}

}  // namespace
