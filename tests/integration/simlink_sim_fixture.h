// The real simulator link against korvan-sim in another process: a fresh runtime directory per
// test, the module started with the test's options, everything stopped and checked afterwards.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "simlink/SimLinkClient.h"
#include "tests/support/child_process.h"

namespace simtest {

using Bytes = std::vector<std::uint8_t>;

// The longest a test waits for a line or an exit of korvan-sim: far more than it ever takes,
// so a busy machine slows a test down but never fails it.
constexpr int kWaitMs = 30000;

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

class SimLinkSimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    runtimeDir_ = testsupport::MakeTestRuntimeDir("simlink");
    scratchDir_ = runtimeDir_ + "-scratch";
    testsupport::RemoveTree(scratchDir_);
    std::filesystem::create_directory(scratchDir_);
    recordPath_ = scratchDir_ + "/record.txt";
  }

  void TearDown() override {
    SimLinkClose();
    if (started_) {
      EXPECT_EQ(sim_.Stop(), 0) << "korvan-sim did not end cleanly";
      EXPECT_EQ(sim_.Lines(testsupport::Stream::Err), std::vector<std::string>{});
    }
    EXPECT_EQ(testsupport::FilesUnder(runtimeDir_), std::vector<std::string>{})
        << "left behind under XDG_RUNTIME_DIR";
    testsupport::RemoveTree(runtimeDir_);
    testsupport::RemoveTree(scratchDir_);
  }

  // Starts korvan-sim with `args` (and --record) and waits until it serves.
  void StartSim(std::vector<std::string> args = {}) {
    args.push_back("--record");
    args.push_back(recordPath_);
    ASSERT_TRUE(sim_.Start(KORVAN_SIM_PATH, args, {"XDG_RUNTIME_DIR=" + runtimeDir_}))
        << sim_.ErrorText();
    started_ = true;
    ASSERT_TRUE(sim_.WaitForLine("korvan-sim ready", kWaitMs))
        << "stderr: " << ::testing::PrintToString(sim_.Lines(testsupport::Stream::Err));
  }

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
