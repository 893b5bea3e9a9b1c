// The real simulator link against korvan-sim in another process, on either backend: a fresh
// runtime directory per test (POSIX: the namespace root; both: the record file beside it), the
// module started with the test's options, everything stopped and checked afterwards.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/ipc.h"
#include "simlink/SimLinkClient.h"
#include "tests/contract/ipc_backend.h"
#include "tests/support/child_process.h"

namespace simtest {

using Bytes = std::vector<std::uint8_t>;

// The longest a test waits for a line or an exit of korvan-sim: far more than it ever takes,
// under Wine too, so a busy machine slows a test down but never fails it.
constexpr int kWaitMs = 60000;

inline Bytes Le(std::uint64_t value, std::size_t size) {
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
  return bytes;
}

inline Bytes Real(double value) {
  std::uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return Le(bits, 8);
}

struct SlowRead {
  std::uint32_t offset;
  Bytes expected;  // korvan-sim's fixed state at this offset
};

// The slow group of the bridge cycle in its queue order, with the values korvan-sim holds.
inline const std::vector<SlowRead>& SlowGroup() {
  static const std::vector<SlowRead> group = {
      {0x6010, Real(52.3086)}, {0x6018, Real(4.7639)}, {0x0580, Le(0x40000000, 4)},
      {0x6030, Real(53.8)},    {0x6020, Real(914.4)},  {0x0574, Le(914, 4)},
      {0x02BC, Le(12800, 4)},  {0x02C8, Le(0, 4)},     {0x0E8C, Le(2304, 2)},
      {0x28C8, Real(1896.6)},  {0x2840, Real(12.0)},   {0x2848, Real(5.0)},
      {0x0898, Le(9600, 2)},   {0x0930, Le(9600, 2)},  {0x08C8, Le(16384, 2)},
      {0x0960, Le(16384, 2)},  {0x3B70, Real(816.0)},  {0x3AB0, Real(816.0)},
      {0x3B58, Real(645.0)},   {0x3B60, Real(9400.0)}, {0x3A98, Real(645.0)},
      {0x3AA0, Real(9400.0)},  {0x08C0, Le(24576, 2)}, {0x0918, Real(60.0)},
      {0x0958, Le(24576, 2)},  {0x09B0, Real(60.0)},   {0x08E8, Real(1295.0)},
      {0x0980, Real(1295.0)},  {0x0330, Le(16211, 2)}, {0x02A0, Le(364, 2)},
  };
  return group;
}

inline std::vector<std::string> ReadLines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// One exchange that reads the altimeter setting at 0x0330 (korvan-sim's fixed state: 16211).
inline bool ReadQnh(std::uint16_t* qnh, SimResult& code) {
  return SimLinkRead(0x0330, 2, qnh, code) && SimLinkProcess(code);
}

// The name the link gives its atom and its area in this process.
inline std::string AreaName() {
  char name[64];
  std::snprintf(name, sizeof name, "FsasmLib:IPC:%X:1",
                static_cast<unsigned>(platform::CurrentProcessId()));
  return name;
}

// Whether an area of `name` can be opened (it is closed again at once).
inline bool AreaOpens(const std::string& name) {
  const platform::Handle area = platform::OpenSharedArea(name.c_str());
  if (area != 0) platform::CloseKernelHandle(area);
  return area != 0;
}

class SimLinkSimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SimLinkClose();
    runtimeDir_ = testsupport::MakeTestRuntimeDir("simlink");
    scratchDir_ = runtimeDir_ + "-scratch";
    testsupport::RemoveTree(scratchDir_);
    std::filesystem::create_directory(scratchDir_);
    recordPath_ = scratchDir_ + "/record.txt";
    // Win32: the module classes are the whole session's; one left over would answer instead.
    ASSERT_EQ(platform::FindTopLevelWindow("UIPCMAIN"), 0u) << "a module window is left over";
    ASSERT_EQ(platform::FindTopLevelWindow("FS98MAIN"), 0u) << "a module window is left over";
  }

  void TearDown() override {
    SimLinkClose();
    if (started_) {
      EXPECT_EQ(sim_.Stop(), 0) << "korvan-sim did not end cleanly";
      EXPECT_EQ(sim_.Lines(testsupport::Stream::Err), std::vector<std::string>{});
    }
    EXPECT_FALSE(contract::AtomNamed(AreaName())) << "the link's atom is left";
    EXPECT_FALSE(AreaOpens(AreaName())) << "the link's area is left";
    EXPECT_EQ(testsupport::FilesUnder(runtimeDir_), std::vector<std::string>{})
        << "left behind under XDG_RUNTIME_DIR";
    testsupport::RemoveTree(runtimeDir_);
    testsupport::RemoveTree(scratchDir_);
  }

  // Starts korvan-sim in `sim` with `args`; true once it serves.
  bool StartSimIn(testsupport::ChildProcess& sim, const std::vector<std::string>& args) {
    return sim.Start(KORVAN_SIM_PROGRAM, args, {"XDG_RUNTIME_DIR=" + runtimeDir_}) &&
           sim.WaitForLine("korvan-sim ready", kWaitMs);
  }

  // Starts the test's korvan-sim with `args` (and --record) and waits until it serves.
  void StartSim(std::vector<std::string> args = {}) {
    args.push_back("--record");
    args.push_back(recordPath_);
    started_ = true;
    ASSERT_TRUE(StartSimIn(sim_, args))
        << sim_.ErrorText()
        << " stderr: " << ::testing::PrintToString(sim_.Lines(testsupport::Stream::Err));
  }

  // For a test that ended the module itself and checked how.
  void SimEnded() { started_ = false; }

  void Open(std::int32_t requested = 0) {
    SimResult code = SimAlreadyOpen;
    ASSERT_TRUE(SimLinkOpen(requested, code)) << SimResultText[code];
    ASSERT_EQ(code, SimOkay);
  }

  std::vector<std::string> Record() const { return ReadLines(recordPath_); }

  testsupport::ChildProcess sim_;
  bool started_ = false;
  std::string runtimeDir_, scratchDir_, recordPath_;
};

}  // namespace simtest
