// The reader thread and the bridge cycle together for a while (30 s in the ThreadSanitizer
// build, which CI runs; a short run in the others; the environment's KORVAN_STRESS_SECONDS
// overrides either): servo frames at 50 Hz that engage the
// autopilot, QNH frames, silences that make the watchdog restart the reader, and restarts of
// our own while frames arrive, so kills land in the middle of reads and decodes. Whatever the
// sanitizer of the build sees between the two threads fails the run.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "app/Unit1.h"
#include "efis/EfisLink.h"
#include "efis/EfisReader.h"
#include "efis/SharedState.h"
#include "efis/SimSnapshot.h"
#include "platform/null/null_toolkit.h"
#include "tests/integration/cycle_fixture.h"
#include "tests/support/child_process.h"

namespace {

using namespace cycletest;

int StressSeconds() {
  const char* text = std::getenv("KORVAN_STRESS_SECONDS");
  const int seconds = text != nullptr ? std::atoi(text) : 0;
  return seconds > 0 ? seconds : KORVAN_STRESS_SECONDS;
}

class ReaderStress : public BridgeCycle {
 protected:
  void TearDown() override {
    BridgeCycle::TearDown();
    efis_.Stop();
  }
  testsupport::ChildProcess efis_;
};

TEST_F(ReaderStress, ReaderAndCycleRunTogether) {
  // Speaks 3 s, silent 2 s, and so on: each silence gives the watchdog its restarts.
  ASSERT_TRUE(efis_.Start(
      KORVAN_EFIS_PATH,
      {"--servo-rate", "50", "--bank-mode", "3", "--bank-pos", "5600", "--pitch-pos", "8400",
       "--qnh", "10000", "--qnh-every", "250", "--silent-after", "3", "--silent-for", "2"}));
  ASSERT_TRUE(efis_.WaitForLine("korvan-efis ready", 10000));
  StartSim(sim_, "sim");
  CreateWindow();
  ASSERT_TRUE(SimConnected);
  ASSERT_TRUE(EfisLink.EfisConnected);
  NullToolkitActivate(true);
  ASSERT_NE(ReaderThread, nullptr);

  int ticks = 0, watchdogRestarts = 0, ownRestarts = 0, engagedTicks = 0, disengagedTicks = 0;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(StressSeconds());
  while (std::chrono::steady_clock::now() < end && SimConnected) {
    const platform::Handle before = ReaderThread->Handle();
    Tick();
    if (ReaderThread->Handle() != before) ++watchdogRestarts;
    ++ticks;
    (AutopilotEngaged.load() != 0 ? engagedTicks : disengagedTicks) += 1;
    // A restart of our own now and then, while frames may be arriving.
    if (ticks % 37 == 0) {
      Form1->Button3Click(nullptr);
      ++ownRestarts;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  std::printf("%d ticks, %d watchdog restarts, %d own restarts, %d engaged, %d disengaged\n", ticks,
              watchdogRestarts, ownRestarts, engagedTicks, disengagedTicks);

  EXPECT_TRUE(SimConnected) << Form1->Memo1->Lines.Text();
  EXPECT_TRUE(EfisLink.EfisConnected) << Form1->Memo1->Lines.Text();
  EXPECT_GT(watchdogRestarts, 0);
  EXPECT_GT(engagedTicks, 0);
  EXPECT_GT(disengagedTicks, 0);
  // The unit's setting made it into the simulator, which now reports it back.
  EXPECT_EQ(SimSnapshot.Qnh0330, 16000);

  bool canClose = true;
  Form1->FormCloseQuery(Form1, canClose);
  EXPECT_EQ(ReaderThread, nullptr);
}

}  // namespace
