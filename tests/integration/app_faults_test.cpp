// The bridge (its window headless, everything else real) between korvan-sim and korvan-efis in
// other processes, under faults that take many rounds: doubles that are no numbers, episode
// after episode; a thousand reconnects of each link. The process's open files, area mappings,
// atoms, areas and threads are counted from /proc and the namespace root.
#include <dirent.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "app/Unit1.h"
#include "efis/EfisLink.h"
#include "efis/EfisReader.h"
#include "platform/null/null_toolkit.h"
#include "tests/integration/cycle_fixture.h"
#include "tests/support/child_process.h"

namespace {

using namespace cycletest;

int CountEntries(const std::string& dir) {
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return 0;
  int n = 0;
  while (dirent* e = readdir(d)) n += e->d_name[0] != '.' ? 1 : 0;
  closedir(d);
  return n;
}

// What the process holds, and what it left in the namespace.
struct Held {
  int openFiles;     // /proc/self/fd, without the directory's own descriptor
  int areaMappings;  // lines of /proc/self/maps that map a shared area
  int threads;
  int atoms;  // files under R/atoms and R/mappings
  int areas;
  bool operator==(const Held&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Held& h) {
  return out << "files " << h.openFiles << ", area mappings " << h.areaMappings << ", threads "
             << h.threads << ", atoms " << h.atoms << ", areas " << h.areas;
}

Held Sample(const std::string& runtimeDir) {
  Held held{CountEntries("/proc/self/fd") - 1, 0, CountEntries("/proc/self/task"),
            CountEntries(runtimeDir + "/korvan-win32/atoms"),
            CountEntries(runtimeDir + "/korvan-win32/mappings")};
  std::ifstream maps("/proc/self/maps");
  for (std::string line; std::getline(maps, line);)
    held.areaMappings += line.find("/korvan-win32/mappings/") != std::string::npos ? 1 : 0;
  return held;
}

// The reader holds a descriptor of its own while it waits for a frame, and none for a moment
// between two frames or after a reconnect: the most of a few samples over half a second.
Held Now(const std::string& runtimeDir) {
  Held most = Sample(runtimeDir);
  for (int i = 0; i < 10; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const Held held = Sample(runtimeDir);
    if (held.openFiles > most.openFiles) most.openFiles = held.openFiles;
    if (held.threads > most.threads) most.threads = held.threads;
  }
  return most;
}

class BridgeUnderFaults : public BridgeCycle {
 protected:
  void TearDown() override {
    BridgeCycle::TearDown();
    efis_.Stop();
  }

  void StartEfis() {
    ASSERT_TRUE(efis_.Start(KORVAN_EFIS_PATH, {"--verbose", "--panel", "none"}));
    ASSERT_TRUE(efis_.WaitForLine("korvan-efis ready", 10000));
  }

  testsupport::ChildProcess efis_;
};

// Every double the module serves is NaN, +inf, -inf or 1e300 (beyond the 64-bit range), an
// episode each, with clean episodes between. Nothing undefined happens (UBSan of the preset
// ends the process if it does); each tick kind (fast, slow) reports a fault at most once per
// episode, every poisoned episode reports, and clean ones never do; the unit gets no malformed
// frame.
TEST_F(BridgeUnderFaults, PoisonedDoublesAreReportedOncePerEpisode) {
  constexpr int kEpisode = 30;  // exchanges
  StartEfis();
  ASSERT_TRUE(sim_.Start(dir_ + "/sim.record", {"--poison-doubles", "nan,inf,-inf,1e300",
                                                "--poison-episode", std::to_string(kEpisode)}));
  CreateWindow();
  ASSERT_TRUE(SimConnected);
  // The handshake took one exchange; from here each tick of phases 0, 1, 2, 4, 5, 6, 8 is one.
  int exchanges = 1;
  std::map<std::pair<int, int>, int> reports;  // (episode, slow) -> reports
  while (exchanges < 9 * kEpisode) {
    const int before = NullToolkitMessageBoxCount();
    Tick();
    const int phase = PhaseCounter;
    if (phase == 3 || phase == 7 || phase == 9) {
      EXPECT_EQ(NullToolkitMessageBoxCount(), before) << "a tick without an exchange faulted";
      continue;
    }
    ++exchanges;
    reports[{(exchanges - 1) / kEpisode, phase % 2}] += NullToolkitMessageBoxCount() - before;
    ASSERT_TRUE(SimConnected) << "exchange " << exchanges;
  }
  EXPECT_TRUE(sim_.Batches().rbegin()->first == static_cast<unsigned>(exchanges));
  for (int episode = 0; episode < 9; ++episode) {
    const int fast = reports[{episode, 0}], slow = reports[{episode, 1}];
    SCOPED_TRACE("episode " + std::to_string(episode));
    if (episode % 2 == 0) {
      EXPECT_EQ(fast + slow, 0) << "a clean episode reported";
    } else {
      EXPECT_LE(fast, 1);
      EXPECT_LE(slow, 1);
      EXPECT_GE(fast + slow, 1) << "a poisoned episode went unreported";
    }
  }
  EXPECT_EQ(CountLog("FlightSim problem"), 0);
  EXPECT_EQ(efis_.CountLines("bad frame"), 0);
}

// "Reconnect to Flight simulator" a thousand times, with ticks between: each closes the link
// and opens a new one. Nothing is left over: the same open files, area mappings, threads,
// one atom and one area.
TEST_F(BridgeUnderFaults, AThousandSimulatorReconnectsLeaveNothingBehind) {
  StartEfis();
  StartSim(sim_, "sim");
  CreateWindow();
  NullToolkitActivate(true);  // the reader runs, as in the program
  ASSERT_TRUE(SimConnected);
  for (int i = 0; i < 10; ++i) Tick();
  const Held start = Now(dir_);
  EXPECT_EQ(start.atoms, 1);
  EXPECT_EQ(start.areas, 1);
  EXPECT_EQ(start.areaMappings, 1);
  for (int cycle = 1; cycle <= 1000; ++cycle) {
    Form1->Button1Click(Form1->Button1);
    ASSERT_TRUE(SimConnected) << "cycle " << cycle << ": " << Log().back();
    if (cycle % 50 == 0) {
      for (int i = 0; i < 10; ++i) Tick();
    }
  }
  EXPECT_EQ(CountLog("Connected to FSX"), 1001);
  EXPECT_EQ(Now(dir_), start);
  std::printf("after 1000 simulator reconnects: %s\n", ::testing::PrintToString(Now(dir_)).c_str());
}

// "Reconnect to EFIS " a thousand times while the reader runs: each closes the device and both
// pipes and opens them anew. Nothing is left over.
TEST_F(BridgeUnderFaults, AThousandEfisReconnectsLeaveNothingBehind) {
  StartEfis();
  StartSim(sim_, "sim");
  CreateWindow();
  NullToolkitActivate(true);
  ASSERT_TRUE(EfisLink.EfisConnected);
  for (int i = 0; i < 10; ++i) Tick();
  const Held start = Now(dir_);
  for (int cycle = 1; cycle <= 1000; ++cycle) {
    Form1->Button2Click(Form1->Button2);
    ASSERT_TRUE(EfisLink.EfisConnected) << "cycle " << cycle << ": " << Log().back();
    if (cycle % 50 == 0) {
      for (int i = 0; i < 10; ++i) Tick();
    }
  }
  EXPECT_EQ(CountLog("EFIS data write channel OK"), 1001);
  EXPECT_EQ(CountLog("Cannot"), 0);
  EXPECT_EQ(Now(dir_), start);
  std::printf("after 1000 EFIS reconnects: %s\n", ::testing::PrintToString(Now(dir_)).c_str());
}

}  // namespace
