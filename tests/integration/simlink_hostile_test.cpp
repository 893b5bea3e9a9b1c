// A module that rewrites ids, sizes, offsets and references before it replies must not make the
// link write anywhere but into the destinations of the batch. Each destination sits between
// guard bytes; the address sanitizer of the linux preset watches everything else. Ids, sizes
// and references are the module's promise: a batch with one of them changed is bad data. The
// offset is not, and the copy-back never uses it: a batch with only offsets changed is answered.
#include "tests/contract/simlink_fixture.h"

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

enum class Outcome { BadData, Answered, Either };

struct HostileCase {
  const char* mode;
  Outcome outcome;  // Either: modes drawn per exchange, offsets alone among the draws
};

void PrintTo(const HostileCase& c, std::ostream* os) {
  *os << c.mode;
}

class SimLinkHostileTest : public SimLinkSimTest,
                           public ::testing::WithParamInterface<HostileCase> {};

TEST_P(SimLinkHostileTest, ChangedPromisesAreBadDataAndWriteNothing) {
  StartSim({"--rewrite", GetParam().mode, "--rewrite-after", "1"});
  Open();
  std::vector<Slot> slots;
  for (const auto& read : SlowGroup()) slots.push_back({read.offset, read.expected, {}});
  const std::uint16_t qnh = 16211;
  int answeredRounds = 0, refusedRounds = 0;
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
    // A module that changed the batch has not handled it: bad data, no destination written.
    // One that changed offsets alone has: every value in place. No guard byte ever changes.
    const bool answered = SimLinkProcess(code);
    ASSERT_EQ(code, answered ? SimOkay : SimBadData) << SimResultText[code];
    if (GetParam().outcome != Outcome::Either) {
      ASSERT_EQ(answered, GetParam().outcome == Outcome::Answered) << "round " << round;
    }
    (answered ? answeredRounds : refusedRounds)++;
    for (Slot& slot : slots) {
      const std::size_t n = slot.expected.size();
      ASSERT_EQ(Bytes(slot.memory.begin(), slot.memory.begin() + kGuard), Bytes(kGuard, kGuardByte))
          << "round " << round << " offset " << std::hex << slot.offset;
      ASSERT_EQ(Bytes(slot.memory.end() - kGuard, slot.memory.end()), Bytes(kGuard, kGuardByte))
          << "round " << round << " offset " << std::hex << slot.offset;
      ASSERT_EQ(Bytes(slot.Destination(), slot.Destination() + n),
                answered ? slot.expected : Bytes(n, kUntouched))
          << "round " << round << " offset " << std::hex << slot.offset;
    }
  }
  if (GetParam().outcome == Outcome::Either) {
    EXPECT_GT(refusedRounds, 0);
    EXPECT_GT(answeredRounds, 0) << "offsets alone are drawn one exchange in fifteen";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Modes, SimLinkHostileTest,
    ::testing::Values(HostileCase{"ids", Outcome::BadData}, HostileCase{"sizes", Outcome::BadData},
                      HostileCase{"offsets", Outcome::Answered},
                      HostileCase{"refs", Outcome::BadData}, HostileCase{"all", Outcome::Either}),
    [](const ::testing::TestParamInfo<HostileCase>& info) { return std::string(info.param.mode); });

}  // namespace
}  // namespace simtest
