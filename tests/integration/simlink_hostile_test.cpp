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

TEST_P(SimLinkHostileTest, ChangedBatchesAreBadDataAndWriteNothing) {
  StartSim({"--rewrite", GetParam().mode, "--rewrite-after", "1"});
  Open();
  std::vector<Slot> slots;
  for (const auto& read : SlowGroup()) slots.push_back({read.offset, read.expected, {}});
  const std::uint16_t qnh = 16211;
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
    // A module that changed the batch has not handled it: bad data, no destination written,
    // no guard byte changed.
    ASSERT_FALSE(SimLinkProcess(code)) << "round " << round;
    ASSERT_EQ(code, SimBadData) << SimResultText[code];
    for (Slot& slot : slots) {
      const std::size_t n = slot.expected.size();
      ASSERT_EQ(Bytes(slot.memory.begin(), slot.memory.begin() + kGuard), Bytes(kGuard, kGuardByte))
          << "round " << round << " offset " << std::hex << slot.offset;
      ASSERT_EQ(Bytes(slot.memory.end() - kGuard, slot.memory.end()), Bytes(kGuard, kGuardByte))
          << "round " << round << " offset " << std::hex << slot.offset;
      ASSERT_EQ(Bytes(slot.Destination(), slot.Destination() + n), Bytes(n, kUntouched))
          << "round " << round << " offset " << std::hex << slot.offset;
    }
  }
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
