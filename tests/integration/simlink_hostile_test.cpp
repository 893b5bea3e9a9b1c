// A module that rewrites ids, sizes, offsets and references before it replies must not make the
// link write anywhere but into the destinations of the batch. Each destination sits between
// guard bytes; the address sanitizer of the linux preset watches everything else.
#include "tests/integration/simlink_sim_fixture.h"

namespace simtest {
namespace {

constexpr std::size_t kGuard = 16;
constexpr std::uint8_t kGuardByte = 0xA5;
constexpr std::uint8_t kUntouched = 0x5A;

struct Slot {
  std::uint32_t offset;
  Bytes expected;
  Bytes memory;  // guard, destination, guard
  std::uint8_t* Destination() { return memory.data() + kGuard; }
};

struct HostileCase {
  const char* mode;
};

void PrintTo(const HostileCase& c, std::ostream* os) {
  *os << c.mode;
}

class SimLinkHostileTest : public SimLinkSimTest,
                           public ::testing::WithParamInterface<HostileCase> {};

TEST_P(SimLinkHostileTest, OnlyDestinationsAreWrittenAndOnlyInQueueOrder) {
  StartSim({"--rewrite", GetParam().mode, "--rewrite-after", "1"});
  Open();
  std::vector<Slot> slots;
  for (const auto& read : SlowGroup()) slots.push_back({read.offset, read.expected, {}});
  const std::uint16_t qnh = 16211;
  int partial = 0, complete = 0;
  for (int round = 0; round < 150; ++round) {
    for (Slot& slot : slots) {
      slot.memory.assign(kGuard + slot.expected.size() + kGuard, kGuardByte);
      std::fill_n(slot.Destination(), slot.expected.size(), kUntouched);
    }
    SimResult code = SimAlreadyOpen;
    for (std::size_t i = 0; i < slots.size(); ++i) {
      // Writes between the reads, so damage may hit either kind of record.
      if (i % 7 == 3) {
        ASSERT_TRUE(SimLinkWrite(0x0330, 2, &qnh, code));
      }
      ASSERT_TRUE(SimLinkRead(slots[i].offset, static_cast<std::uint32_t>(slots[i].expected.size()),
                              slots[i].Destination(), code));
    }
    ASSERT_TRUE(SimLinkProcess(code)) << SimResultText[code];
    ASSERT_EQ(code, SimOkay);

    // Copy-back ends at the first damaged record: a prefix of the destinations holds its exact
    // value, the rest is untouched; no guard byte ever changes.
    bool stopped = false;
    int copied = 0;
    for (Slot& slot : slots) {
      const std::size_t n = slot.expected.size();
      ASSERT_EQ(Bytes(slot.memory.begin(), slot.memory.begin() + kGuard), Bytes(kGuard, kGuardByte))
          << "round " << round << " offset " << std::hex << slot.offset;
      ASSERT_EQ(Bytes(slot.memory.end() - kGuard, slot.memory.end()), Bytes(kGuard, kGuardByte))
          << "round " << round << " offset " << std::hex << slot.offset;
      const Bytes got(slot.Destination(), slot.Destination() + n);
      if (got == Bytes(n, kUntouched)) {
        stopped = true;
        continue;
      }
      ASSERT_FALSE(stopped) << "round " << round << ": a record after a damaged one was copied";
      ASSERT_EQ(got, slot.expected) << "round " << round << " offset " << std::hex << slot.offset;
      ++copied;
    }
    if (copied < static_cast<int>(slots.size()))
      ++partial;
    else
      ++complete;
  }
  // Every round was damaged somewhere; damage to a write or to the last records leaves a long
  // prefix, so both a stop early and a stop late must have occurred.
  EXPECT_GT(partial, 100) << "complete rounds: " << complete;
}

INSTANTIATE_TEST_SUITE_P(Modes, SimLinkHostileTest,
                         ::testing::Values(HostileCase{"ids"}, HostileCase{"sizes"},
                                           HostileCase{"offsets"}, HostileCase{"refs"},
                                           HostileCase{"all"}),
                         [](const ::testing::TestParamInfo<HostileCase>& info) {
                           return std::string(info.param.mode);
                         });

}  // namespace
}  // namespace simtest
