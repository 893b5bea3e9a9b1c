// The bridge cycle against korvan-sim (and korvan-efis) in other processes: the module records
// every batch it handles (--record), so a test sees exactly which requests a tick sent, in which
// order, with which bytes. Ticks are driven by calling FrameTimer1Timer. Shared by the cycle's
// integration tests.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/Unit1.h"
#include "efis/EfisReader.h"
#include "efis/FrameMath.h"
#include "efis/SharedState.h"
#include "platform/null/null_toolkit.h"
#include "simlink/SimLinkClient.h"
#include "tests/support/bridge_form.h"
#include "tests/support/child_process.h"

namespace cycletest {

struct Record {
  unsigned Id;  // 1 read, 2 write
  unsigned Offset;
  unsigned Size;
  std::string Data;  // hex of a write's bytes
  bool operator==(const Record&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const Record& r) {
  return out << (r.Id == 1 ? "read " : "write ") << std::hex << "0x" << r.Offset << std::dec
             << " size " << r.Size << (r.Data.empty() ? "" : " data ") << r.Data;
}

inline Record Read(unsigned offset, unsigned size) {
  return {1, offset, size, ""};
}
inline Record Write(unsigned offset, unsigned size, const std::string& data) {
  return {2, offset, size, data};
}

// The slow group as the data-exchange module must see it: offset and size, in queue order.
inline const std::vector<Record> kSlowGroup = {
    Read(0x6010, 8), Read(0x6018, 8), Read(0x0580, 4), Read(0x6030, 8), Read(0x6020, 8),
    Read(0x0574, 4), Read(0x02BC, 4), Read(0x02C8, 4), Read(0x0E8C, 2), Read(0x28C8, 8),
    Read(0x2840, 8), Read(0x2848, 8), Read(0x0898, 2), Read(0x0930, 2), Read(0x08C8, 2),
    Read(0x0960, 2), Read(0x3B70, 8), Read(0x3AB0, 8), Read(0x3B58, 8), Read(0x3B60, 8),
    Read(0x3A98, 8), Read(0x3AA0, 8), Read(0x08C0, 2), Read(0x0918, 8), Read(0x0958, 2),
    Read(0x09B0, 8), Read(0x08E8, 8), Read(0x0980, 8), Read(0x0330, 2), Read(0x02A0, 2),
};

inline const std::vector<Record> kFastReads = {
    Read(0x2F70, 8), Read(0x2F78, 8), Read(0x037C, 2),
    Read(0x02CC, 8), Read(0x2B00, 8), Read(0x11BA, 2),
};

inline std::vector<Record> Join(std::vector<Record> head, const std::vector<Record>& tail) {
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

// A fast batch while disengaged: the attitude reads, then optionally the QNH write, then the
// control-disconnect byte 0 and the reads of the simulator's own inputs.
inline std::vector<Record> DisengagedBatch(const std::vector<Record>& qnh = {}) {
  return Join(Join(kFastReads, qnh), {Write(0x310A, 1, "00"), Read(0x0BB6, 2), Read(0x0BB2, 2)});
}

class SimModule {
 public:
  bool Start(const std::string& recordPath, const std::vector<std::string>& extra = {}) {
    record_ = recordPath;
    std::vector<std::string> args = {"--record", recordPath};
    args.insert(args.end(), extra.begin(), extra.end());
    if (!child_.Start(KORVAN_SIM_PATH, args)) return false;
    return child_.WaitForLine("korvan-sim ready", 10000);
  }
  void Stop() { child_.Stop(); }
  testsupport::ChildProcess& Process() { return child_; }

  // Every batch recorded so far, by batch number.
  std::map<unsigned, std::vector<Record>> Batches() const {
    std::map<unsigned, std::vector<Record>> batches;
    std::ifstream in(record_);
    std::string line;
    while (std::getline(in, line)) {
      std::istringstream words(line);
      std::string word, data;
      unsigned batch = 0;
      Record r{};
      words >> word >> batch;
      if (word != "batch") continue;
      words >> word;
      if (word != "id") {
        batches[batch];  // a refused batch still counts as an exchange
        continue;
      }
      words >> r.Id >> word >> std::hex >> r.Offset >> word >> std::dec >> r.Size;
      if (words >> word >> data) r.Data = data;
      batches[batch].push_back(r);
    }
    return batches;
  }
  std::size_t BatchCount() const { return Batches().size(); }
  std::vector<Record> LastBatch() const {
    auto batches = Batches();
    return batches.empty() ? std::vector<Record>{} : batches.rbegin()->second;
  }

 private:
  testsupport::ChildProcess child_;
  std::string record_;
};

class BridgeCycle : public ::testing::Test {
 protected:
  void SetUp() override {
    SetExtendedPrecision();  // the cycle converts on this thread
    dir_ = testsupport::MakeTestRuntimeDir("app-cycle");
    NullToolkitReset();
    ResetCycleState();
    ResetSharedState();
  }
  void TearDown() override {
    if (ReaderThread != nullptr) ReaderThread->Kill();  // before the handles it reads go
    ReaderThread = nullptr;
    testsupport::CloseBridgeForm();
    sim_.Stop();
    second_.Stop();
    testsupport::RemoveTree(dir_);
  }

  void StartSim(SimModule& sim, const char* name) {
    ASSERT_TRUE(sim.Start(dir_ + "/" + name + ".record"));
  }

  // The program's start: the application, the window and its FormCreate.
  void CreateWindow() {
    Application->Title = "Korvan EFIS to Flightsim bridge";
    Form1 = new TForm1(Application);
    Application->CreateForm(Form1, [](TForm& form) { static_cast<TForm1&>(form).CreateDesign(); });
  }

  void Tick() { Form1->FrameTimer1Timer(Form1->FrameTimer1, 1); }

  // Ticks until the next tick will run `phase`.
  void TickUntilNextIs(std::uint8_t phase) {
    while ((PhaseCounter + 1) % 10 != phase) Tick();
  }

  // Ticks until a fast tick has run.
  void FastTick() {
    do Tick();
    while (PhaseCounter % 2 != 0);
  }

  std::vector<std::string> Log() const { return Form1->Memo1->Lines.All(); }

  int CountLog(const std::string& prefix) const {
    int count = 0;
    for (const std::string& line : Log()) count += line.rfind(prefix, 0) == 0 ? 1 : 0;
    return count;
  }

  std::string dir_;
  SimModule sim_;
  SimModule second_;
};

// The frame types korvan-efis has received so far, in order.
inline std::vector<int> FrameTypes(testsupport::ChildProcess& efis) {
  std::vector<int> types;
  for (const std::string& line : efis.Lines()) {
    if (line.rfind("frame type ", 0) == 0) types.push_back(std::stoi(line.substr(11)));
  }
  return types;
}

// Waits until korvan-efis has received `count` frames (it reads them on its own schedule), up
// to 30 s.
inline std::vector<int> WaitForFrames(testsupport::ChildProcess& efis, std::size_t count) {
  for (int i = 0; i < 3000 && FrameTypes(efis).size() < count; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return FrameTypes(efis);
}

}  // namespace cycletest
