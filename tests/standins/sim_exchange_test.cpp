#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "standins/sim/sim_exchange.h"
#include "standins/sim/sim_options.h"
#include "standins/sim/sim_rewrite.h"
#include "standins/sim/sim_space.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// A client-side batch builder, written from the record layout: little-endian id, offset, size,
// (reads) a reference, then the data.
struct Batch {
  Bytes bytes;
  void U32(std::uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  }
  std::size_t Read(std::uint32_t offset, std::uint32_t size, std::uint32_t ref = 7) {
    U32(1), U32(offset), U32(size), U32(ref);
    const std::size_t data = bytes.size();
    bytes.insert(bytes.end(), size, 0xCC);  // not zero: a read must overwrite every byte
    return data;
  }
  void Write(std::uint32_t offset, const Bytes& data) {
    U32(2), U32(offset), U32(static_cast<std::uint32_t>(data.size()));
    bytes.insert(bytes.end(), data.begin(), data.end());
  }
  void End() { U32(0); }
  // The batch at the start of an area of exactly `size` bytes, so any access past it is caught
  // by the address sanitizer.
  Bytes Area(std::size_t size = 0x8000) const {
    Bytes area(size, 0);
    std::memcpy(area.data(), bytes.data(), bytes.size() < size ? bytes.size() : size);
    return area;
  }
};

sim::ExchangeResult Walk(Bytes& area) {
  return sim::RunExchange(area.data(), static_cast<std::uint32_t>(area.size()), nullptr, nullptr);
}

Bytes Slice(const Bytes& area, std::size_t at, std::size_t n) {
  return Bytes(area.begin() + at, area.begin() + at + n);
}

class SimExchangeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::SetHandshakeHidden(false);
    sim::LoadFixedState(sim::kDefaultVersion, sim::kDefaultSimId);
  }
};

// The fixed state, byte for byte, from values worked out by hand (doubles from their IEEE bit
// patterns).
struct FixedCase {
  std::uint32_t offset;
  Bytes expected;
};

void PrintTo(const FixedCase& c, std::ostream* os) {
  *os << "offset " << std::hex << c.offset;
}

class SimFixedStateTest : public SimExchangeTest,
                          public ::testing::WithParamInterface<FixedCase> {};

TEST_P(SimFixedStateTest, ReadReturnsExactBytes) {
  const FixedCase& c = GetParam();
  Batch b;
  const std::size_t data = b.Read(c.offset, static_cast<std::uint32_t>(c.expected.size()));
  b.End();
  Bytes area = b.Area();
  const sim::ExchangeResult result = Walk(area);
  ASSERT_TRUE(result.accepted) << result.problem;
  EXPECT_EQ(Slice(area, data, c.expected.size()), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Values, SimFixedStateTest,
    ::testing::Values(FixedCase{0x3304, {0x05, 0x00, 0x98, 0x19}},
                      FixedCase{0x3308, {0x08, 0x00, 0xDE, 0xFA}},
                      FixedCase{0x0574, {0x92, 0x03, 0x00, 0x00}},           // 914 m
                      FixedCase{0x02BC, {0x00, 0x32, 0x00, 0x00}},           // 12800
                      FixedCase{0x02CC, {0, 0, 0, 0, 0, 0x80, 0x56, 0x40}},  // 90.0
                      FixedCase{0x2B00, {0, 0, 0, 0, 0, 0x80, 0x56, 0x40}},  // 90.0
                      FixedCase{0x0330, {0x53, 0x3F}},                       // 16211
                      FixedCase{0x0898, {0x80, 0x25}},                       // 9600
                      FixedCase{0x0930, {0x80, 0x25}},                       //
                      FixedCase{0x08C8, {0x00, 0x40}},                       // 16384
                      FixedCase{0x0960, {0x00, 0x40}},                       //
                      FixedCase{0x0580, {0x00, 0x00, 0x00, 0x40}},           // 90 degrees
                      FixedCase{0x2F70, {0, 0, 0, 0, 0, 0, 0, 0}},           // level
                      FixedCase{0x11BA, {0x70, 0x02}},                       // 624
                      FixedCase{0x08C0, {0x00, 0x60}}));                     // 24 inHg

TEST_F(SimExchangeTest, EngineSpeedIs2400OnBothEngines) {
  for (std::uint32_t offsets : {0x089808C8u, 0x09300960u}) {
    std::uint8_t a[2], b[2];
    sim::SpaceRead(offsets >> 16, 2, a);
    sim::SpaceRead(offsets & 0xFFFF, 2, b);
    const std::uint32_t product = (a[0] | a[1] << 8) * static_cast<std::uint32_t>(b[0] | b[1] << 8);
    EXPECT_EQ(product >> 16, 2400u);
  }
}

TEST_F(SimExchangeTest, OptionsChangeTheHandshakeValues) {
  sim::LoadFixedState(0x19980004, 7);
  std::uint8_t got[8];
  sim::SpaceRead(0x3304, 8, got);
  EXPECT_EQ(Bytes(got, got + 8), (Bytes{0x04, 0x00, 0x98, 0x19, 0x07, 0x00, 0xDE, 0xFA}));
}

TEST_F(SimExchangeTest, HiddenHandshakeReadsZerosButKeepsNeighbours) {
  sim::SpaceWrite(0x3300, 4, Bytes{1, 2, 3, 4}.data());
  sim::SpaceWrite(0x330C, 2, Bytes{5, 6}.data());
  sim::SetHandshakeHidden(true);
  Batch b;
  const std::size_t wide = b.Read(0x3300, 0x0E);
  const std::size_t inner = b.Read(0x3306, 4);  // straddles the two values
  b.End();
  Bytes area = b.Area();
  ASSERT_TRUE(Walk(area).accepted);
  EXPECT_EQ(Slice(area, wide, 0x0E), (Bytes{1, 2, 3, 4, 0, 0, 0, 0, 0, 0, 0, 0, 5, 6}));
  EXPECT_EQ(Slice(area, inner, 4), (Bytes{0, 0, 0, 0}));
}

TEST_F(SimExchangeTest, WritesApplyInQueueOrderAndPersist) {
  Batch b;
  const std::size_t before = b.Read(0x0BB6, 2);
  b.Write(0x0BB6, {0x34, 0x12});
  const std::size_t after = b.Read(0x0BB6, 2);
  b.Write(0x330A, {0xD5, 0x07});
  b.End();
  Bytes area = b.Area();
  const sim::ExchangeResult result = Walk(area);
  ASSERT_TRUE(result.accepted);
  EXPECT_EQ(result.reads, 2u);
  EXPECT_EQ(result.writes, 2u);
  EXPECT_EQ(Slice(area, before, 2), (Bytes{0, 0}));
  EXPECT_EQ(Slice(area, after, 2), (Bytes{0x34, 0x12}));

  // The handshake's word lands on the simulator word, which every later open reads again.
  Batch next;
  const std::size_t data = next.Read(0x330A, 2);
  next.End();
  Bytes area2 = next.Area();
  ASSERT_TRUE(Walk(area2).accepted);
  EXPECT_EQ(Slice(area2, data, 2), (Bytes{0xDE, 0xFA}));
}

TEST_F(SimExchangeTest, WritesKeepTheIdentityButChangeItsNeighbours) {
  Batch b;
  b.Write(0x3302, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});  // 0x3302..0x330D
  const std::size_t data = b.Read(0x3302, 12);
  b.End();
  Bytes area = b.Area();
  ASSERT_TRUE(Walk(area).accepted);
  EXPECT_EQ(Slice(area, data, 12),
            (Bytes{1, 2, 0x05, 0x00, 0x98, 0x19, 0x08, 0x00, 0xDE, 0xFA, 11, 12}));
}

TEST_F(SimExchangeTest, SizeZeroRecordsAreWalkedOver) {
  Batch b;
  b.Read(0x0574, 0);
  b.Write(0x0574, {});
  const std::size_t data = b.Read(0x0574, 4);
  b.End();
  ASSERT_EQ(data, 16u + 12u + 16u);
  Bytes area = b.Area();
  const sim::ExchangeResult result = Walk(area);
  ASSERT_TRUE(result.accepted);
  EXPECT_EQ(result.length, 16u + 12u + 20u);
  EXPECT_EQ(Slice(area, data, 4), (Bytes{0x92, 0x03, 0, 0}));
}

TEST_F(SimExchangeTest, HeadersAndReferencesAreLeftAsTheyWere) {
  Batch b;
  b.Read(0x3304, 4, 0xDEADBEEF);
  b.Write(0x0330, {0x10, 0x3F});
  b.Read(0x0330, 2, 0);
  b.End();
  Bytes area = b.Area();
  const Bytes original = area;
  ASSERT_TRUE(Walk(area).accepted);
  EXPECT_EQ(Slice(area, 0, 16), Slice(original, 0, 16));
  EXPECT_EQ(Slice(area, 20, 14), Slice(original, 20, 14));
  EXPECT_EQ(Slice(area, 34, 16), Slice(original, 34, 16));
  EXPECT_EQ(Slice(area, 50, 2), (Bytes{0x10, 0x3F}));
}

// The end of the offset space: bytes at or past 0x10000 read as zero and are never written,
// and nothing wraps around to offset 0.
TEST_F(SimExchangeTest, TheSpaceEndsAt0xFFFF) {
  Batch b;
  b.Write(0xFFFE, {0xA1, 0xA2, 0xA3, 0xA4});
  const std::size_t edge = b.Read(0xFFFD, 6);
  const std::size_t past = b.Read(0x10000, 8);
  const std::size_t top = b.Read(0xFFFFFFFF, 3);
  const std::size_t start = b.Read(0x0000, 2);
  b.End();
  Bytes area = b.Area();
  ASSERT_TRUE(Walk(area).accepted);
  EXPECT_EQ(Slice(area, edge, 6), (Bytes{0, 0xA1, 0xA2, 0, 0, 0}));
  EXPECT_EQ(Slice(area, past, 8), Bytes(8, 0));
  EXPECT_EQ(Slice(area, top, 3), Bytes(3, 0));
  EXPECT_EQ(Slice(area, start, 2), (Bytes{0, 0}));
}

TEST_F(SimExchangeTest, AReadLargerThanTheSpaceFillsZeros) {
  Batch b;
  const std::size_t data = b.Read(0xFFF0, 0x7000);
  b.End();
  Bytes area = b.Area();
  ASSERT_TRUE(Walk(area).accepted);
  EXPECT_EQ(Slice(area, data + 16, 0x7000 - 16), Bytes(0x7000 - 16, 0));
}

// Batches that do not follow the record layout: refused whole, nothing read or written.
struct BadCase {
  const char* name;
  std::function<Bytes()> build;
  const char* problem;
};

void PrintTo(const BadCase& c, std::ostream* os) {
  *os << c.name;
}

class SimBadBatchTest : public SimExchangeTest, public ::testing::WithParamInterface<BadCase> {};

TEST_P(SimBadBatchTest, IsRefusedWithoutEffect) {
  Bytes area = GetParam().build();
  const Bytes original = area;
  const sim::ExchangeResult result = Walk(area);
  EXPECT_FALSE(result.accepted);
  EXPECT_NE(std::string(result.problem).find(GetParam().problem), std::string::npos)
      << result.problem;
  EXPECT_EQ(area, original);
  std::uint8_t aileron[2];
  sim::SpaceRead(0x0BB6, 2, aileron);
  EXPECT_EQ(Bytes(aileron, aileron + 2), (Bytes{0, 0})) << "a write of a refused batch applied";
}

Bytes WithWriteThen(void (*rest)(Batch&), std::size_t areaSize = 0x8000) {
  Batch b;
  b.Read(0x3304, 4);
  b.Write(0x0BB6, {0x11, 0x22});
  rest(b);
  return b.Area(areaSize);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SimBadBatchTest,
    ::testing::Values(
        BadCase{
            "UnknownId3",
            [] { return WithWriteThen([](Batch& b) { b.U32(3), b.U32(0), b.U32(0), b.End(); }); },
            "unknown id 3"},
        // First byte 1 but the whole id is 0x101: not a read.
        BadCase{"IdWithHighBits",
                [] {
                  return WithWriteThen([](Batch& b) { b.U32(0x101), b.U32(0), b.U32(0), b.End(); });
                },
                "unknown id 257"},
        BadCase{"SizeRunsPastArea",
                [] {
                  return WithWriteThen(
                      [](Batch& b) { b.U32(1), b.U32(0x3304), b.U32(0x8000), b.U32(1); });
                },
                "runs past the area"},
        // 12 + 0xFFFFFFF8 wraps to 4 in 32 bits.
        BadCase{"SizeThatWrapsIn32Bits",
                [] {
                  return WithWriteThen(
                      [](Batch& b) { b.U32(2), b.U32(0x3304), b.U32(0xFFFFFFF8), b.End(); });
                },
                "runs past the area"},
        BadCase{"SizeAllOnes",
                [] {
                  return WithWriteThen(
                      [](Batch& b) { b.U32(1), b.U32(0), b.U32(0xFFFFFFFF), b.U32(1); });
                },
                "runs past the area"},
        // No zero byte where the next record would start: the area is filled to its end.
        BadCase{"MissingTerminator",
                [] {
                  Batch b;
                  b.Write(0x0BB6, {0x11, 0x22});
                  b.Write(0x0E00, Bytes(0x8000 - 14 - 12, 0xEE));
                  return b.Area();
                },
                "no terminator"},
        // The last 8 bytes of the area start a record whose header does not fit.
        BadCase{"HeaderCutShort",
                [] {
                  Batch b;
                  b.Write(0x0BB6, {0x11, 0x22});
                  b.Write(0x0E00, Bytes(0x8000 - 14 - 12 - 8, 0xEE));
                  b.U32(1), b.U32(0x3304);
                  return b.Area();
                },
                "header cut short"}),
    [](const ::testing::TestParamInfo<BadCase>& info) { return info.param.name; });

TEST_F(SimExchangeTest, ARecordEndingExactlyAtTheAreaEndNeedsNoRoomIfATerminatorPrecedesIt) {
  // A read filling the area up to its last byte, which holds the terminator.
  Batch b;
  const std::size_t data = b.Read(0x0574, 0x8000 - 16 - 1);
  Bytes area = b.Area(0x8000);
  area[0x7FFF] = 0;
  const sim::ExchangeResult result = Walk(area);
  ASSERT_TRUE(result.accepted) << result.problem;
  EXPECT_EQ(result.length, 0x7FFFu);
  EXPECT_EQ(Slice(area, data, 4), (Bytes{0x92, 0x03, 0, 0}));
}

TEST_F(SimExchangeTest, EmptyBatchAndEmptyArea) {
  Bytes area(4, 0);
  EXPECT_TRUE(Walk(area).accepted);
  Bytes none;
  const sim::ExchangeResult result = sim::RunExchange(none.data(), 0, nullptr, nullptr);
  EXPECT_FALSE(result.accepted);
}

TEST_F(SimExchangeTest, ObserverSeesEveryRecordWithItsData) {
  Batch b;
  b.Read(0x0330, 2);
  b.Write(0x0BB2, {0xFE, 0xFF});
  b.End();
  Bytes area = b.Area();
  std::vector<std::string> seen;
  auto observe = [](void* context, const sim::RecordView& r) {
    char line[80];
    std::snprintf(line, sizeof line, "%u %u %04X %u %02X%02X", r.position, r.id, r.offset, r.size,
                  r.data[0], r.data[1]);
    static_cast<std::vector<std::string>*>(context)->push_back(line);
  };
  ASSERT_TRUE(sim::RunExchange(area.data(), 0x8000, observe, &seen).accepted);
  EXPECT_EQ(seen, (std::vector<std::string>{"0 1 0330 2 533F", "18 2 0BB2 2 FEFF"}));
}

// The client may rewrite the area while the module walks it (another process shares it): a
// record that grew past the area after the check is refused, never handled.
TEST_F(SimExchangeTest, ABatchChangedDuringTheWalkIsRefusedWhereItChanged) {
  Batch b;
  b.Read(0x0330, 2);
  const std::size_t second = b.bytes.size();
  b.Read(0x0574, 4);
  b.End();
  Bytes area = b.Area();
  struct Change {
    std::uint8_t* sizeField;
    int seen = 0;
  } change{area.data() + second + 8};
  auto grow = [](void* context, const sim::RecordView&) {
    auto* c = static_cast<Change*>(context);
    if (++c->seen == 1) std::memcpy(c->sizeField, "\x00\x00\x10\x00", 4);  // 0x100000 bytes
  };
  const sim::ExchangeResult result = sim::RunExchange(area.data(), 0x8000, grow, &change);
  EXPECT_FALSE(result.accepted);
  EXPECT_EQ(change.seen, 1);
  EXPECT_NE(std::string(result.problem).find("runs past the area"), std::string::npos)
      << result.problem;
}

// Hostile rewrites: each one really changes a header field, and only header fields.
TEST_F(SimExchangeTest, RewritesChangeOnlyHeaderFieldsOfTheirMode) {
  struct ModeCase {
    unsigned mode;
    std::vector<std::size_t> fieldOffsets;  // within a record, where the mode may write
  };
  const ModeCase cases[] = {{sim::kRewriteIds, {0}},
                            {sim::kRewriteOffsets, {4}},
                            {sim::kRewriteSizes, {8}},
                            {sim::kRewriteRefs, {12}}};
  Batch b;
  std::vector<std::size_t> starts;
  for (std::uint32_t i = 0; i < 6; ++i) {
    starts.push_back(b.bytes.size());
    if (i % 3 == 2)
      b.Write(0x0BB6, {1, 2});
    else
      b.Read(0x0330 + i, 2, i + 1);
  }
  b.End();
  const Bytes original = b.Area();
  for (const ModeCase& c : cases) {
    for (std::uint64_t seed = 0; seed < 200; ++seed) {
      Bytes area = original;
      char what[200];
      sim::RewriteArea(area.data(), 0x8000, static_cast<std::uint32_t>(b.bytes.size() - 4), c.mode,
                       seed, what, sizeof what);
      std::size_t changedBytes = 0;
      for (std::size_t i = 0; i < area.size(); ++i) {
        if (area[i] == original[i]) continue;
        ++changedBytes;
        bool inField = false;
        for (std::size_t start : starts)
          for (std::size_t field : c.fieldOffsets)
            inField = inField || (i >= start + field && i < start + field + 4);
        ASSERT_TRUE(inField) << "mode " << c.mode << " seed " << seed << " changed byte " << i;
      }
      EXPECT_GT(changedBytes, 0u) << "mode " << c.mode << " seed " << seed << ": " << what;
    }
  }
}

TEST(SimRewriteModes, Parse) {
  struct Case {
    const char* text;
    bool ok;
    unsigned modes;
  };
  const Case cases[] = {
      {"ids", true, sim::kRewriteIds},
      {"sizes", true, sim::kRewriteSizes},
      {"offsets", true, sim::kRewriteOffsets},
      {"refs", true, sim::kRewriteRefs},
      {"all", true, sim::kRewriteAll},
      {"ids|refs", true, sim::kRewriteIds | sim::kRewriteRefs},
      {"sizes,offsets", true, sim::kRewriteSizes | sim::kRewriteOffsets},
      {"", false, 0},
      {"id", false, 0},
      {"ids,", false, 0},
      {"IDS", false, 0},
  };
  for (const Case& c : cases) {
    unsigned modes = 0;
    EXPECT_EQ(sim::ParseRewriteModes(c.text, &modes), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(modes, c.modes) << c.text;
    }
  }
}

// The command line.
struct OptionCase {
  std::vector<const char*> args;
  sim::ParseOutcome outcome;
};

sim::ParseOutcome Parse(std::vector<const char*> args, sim::SimOptions& options,
                        std::string* error = nullptr) {
  args.insert(args.begin(), "korvan-sim");
  char text[200] = "";
  const sim::ParseOutcome outcome =
      sim::ParseSimOptions(static_cast<int>(args.size()), args.data(), options, text, sizeof text);
  if (error) *error = text;
  return outcome;
}

TEST(SimOptions, ValuesAreTaken) {
  sim::SimOptions o;
  ASSERT_EQ(Parse({"--class",
                   "FS98MAIN",
                   "--version",
                   "0x19980004",
                   "--sim-id",
                   "7",
                   "--reply=2",
                   "--zeros",
                   "--never-answer",
                   "--delay-ms",
                   "150",
                   "--exit-after",
                   "5",
                   "--rewrite",
                   "ids|sizes",
                   "--rewrite-after",
                   "1",
                   "--record",
                   "/tmp/r.txt",
                   "--verbose"},
                  o),
            sim::ParseOutcome::Run);
  EXPECT_STREQ(o.windowClass, "FS98MAIN");
  EXPECT_EQ(o.version, 0x19980004u);
  EXPECT_EQ(o.simId, 7);
  EXPECT_EQ(o.reply, 2u);
  EXPECT_TRUE(o.zeros);
  EXPECT_TRUE(o.neverAnswer);
  EXPECT_EQ(o.delayMs, 150u);
  EXPECT_EQ(o.exitAfter, 5u);
  EXPECT_EQ(o.rewrite, sim::kRewriteIds | sim::kRewriteSizes);
  EXPECT_EQ(o.rewriteAfter, 1u);
  EXPECT_STREQ(o.recordPath, "/tmp/r.txt");
  EXPECT_TRUE(o.verbose);

  sim::SimOptions d;
  ASSERT_EQ(Parse({}, d), sim::ParseOutcome::Run);
  EXPECT_STREQ(d.windowClass, "UIPCMAIN");
  EXPECT_EQ(d.version, 0x19980005u);
  EXPECT_EQ(d.simId, 8);
  EXPECT_EQ(d.reply, 1u);
  EXPECT_EQ(d.exitAfter, 0u);

  sim::SimOptions h;
  EXPECT_EQ(Parse({"--version", "FFFFFFFF"}, h), sim::ParseOutcome::Run);
  EXPECT_EQ(h.version, 0xFFFFFFFFu);
  EXPECT_EQ(Parse({"--sim-id", "65535", "--help"}, h), sim::ParseOutcome::Help);
  EXPECT_EQ(h.simId, 65535);
}

TEST(SimOptions, BadOptionsAreRefusedWithAReason) {
  const std::vector<std::vector<const char*>> bad = {
      {"--bogus"},
      {"--class"},
      {"--class", ""},
      {"--class", "a/b"},
      {"--version", "0x123456789"},
      {"--version", "xyz"},
      {"--version", "-1"},
      {"--sim-id", "65536"},
      {"--sim-id", "8a"},
      {"--sim-id", "-1"},
      {"--reply", ""},
      {"--reply", "4294967296"},
      {"--delay-ms", "600001"},
      {"--exit-after", "0"},
      {"--rewrite", "everything"},
      {"--rewrite-after", "x"},
      {"--record"},
      {"--zeros=1"},
      {"zeros"},
  };
  for (const auto& args : bad) {
    sim::SimOptions o;
    std::string error;
    EXPECT_EQ(Parse(args, o, &error), sim::ParseOutcome::Error) << args[0];
    EXPECT_FALSE(error.empty()) << args[0];
  }
}

// The flight options, and the numeric table every option now goes through.
TEST(SimFlightOptions, FlightStartIsTaken) {
  sim::SimOptions o;
  ASSERT_EQ(Parse({"--fly", "--pilot", "hold", "--bank=-25.5", "--heading", "270", "--altitude",
                   "4500", "--airspeed", "90", "--qnh", "1009.5", "--qnh-at", "12.5:1020"},
                  o),
            sim::ParseOutcome::Run);
  EXPECT_TRUE(o.fly);
  EXPECT_EQ(o.flight.pilot, sim::PilotMode::Hold);
  EXPECT_DOUBLE_EQ(o.flight.bankDeg, -25.5);
  EXPECT_DOUBLE_EQ(o.flight.headingDeg, 270);
  EXPECT_DOUBLE_EQ(o.flight.altitudeFt, 4500);
  EXPECT_DOUBLE_EQ(o.flight.airspeedKt, 90);
  EXPECT_DOUBLE_EQ(o.flight.qnhHpa, 1009.5);
  EXPECT_DOUBLE_EQ(o.flight.qnhChangeAtS, 12.5);
  EXPECT_DOUBLE_EQ(o.flight.qnhChangeHpa, 1020);
  sim::SimOptions d;
  ASSERT_EQ(Parse({}, d), sim::ParseOutcome::Run);
  EXPECT_FALSE(d.fly);
  EXPECT_EQ(d.flight.pilot, sim::PilotMode::Tour);
}

TEST(SimFlightOptions, BadValuesNameTheOptionAndWhatItNeeds) {
  struct Case {
    std::vector<const char*> args;
    const char* error;
  };
  const Case cases[] = {
      {{"--bank", "61"}, "--bank needs degrees from -60 to 60, got '61'"},
      {{"--bank", "1e1"}, "--bank needs degrees from -60 to 60, got '1e1'"},
      {{"--bank", "-"}, "--bank needs degrees from -60 to 60, got '-'"},
      {{"--bank", "2."}, "--bank needs degrees from -60 to 60, got '2.'"},
      {{"--altitude"}, "--altitude needs feet from 500 to 15000, got ''"},
      {{"--sim-id", "-1"}, "--sim-id needs a number from 0 to 65535, got '-1'"},
      {{"--delay-ms", "1.5"}, "--delay-ms needs a number from 0 to 600000, got '1.5'"},
      {{"--version", "0x1FFFFFFFF"},
       "--version needs a hexadecimal 32-bit value, got '0x1FFFFFFFF'"},
      {{"--reply", "99999999999999999999999"},
       "--reply needs an unsigned 32-bit number, got '99999999999999999999999'"},
      {{"--pilot", "loop"}, "--pilot needs tour or hold, got 'loop'"},
      {{"--qnh-at", "5"}, "--qnh-at needs SECONDS:HPA (HPA from 900 to 1100), got '5'"},
      {{"--qnh-at", "5:800"}, "--qnh-at needs SECONDS:HPA (HPA from 900 to 1100), got '5:800'"},
      {{"--fly=yes"}, "unknown option '--fly=yes'"},
  };
  for (const Case& c : cases) {
    sim::SimOptions o;
    std::string error;
    EXPECT_EQ(Parse(c.args, o, &error), sim::ParseOutcome::Error) << c.args[0];
    EXPECT_EQ(error, c.error);
  }
}

}  // namespace
