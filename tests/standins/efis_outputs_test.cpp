// korvan-efis's outputs into a sink standing for PIPE00, with the clock given by the test: the
// frames byte for byte, the steady servo grid, QNH at open and on keys, the silences.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "standins/efis/efis_outputs.h"

namespace {

using efisunit::OutputOptions;
using efisunit::UnitOutputs;
using Bytes = std::vector<std::uint8_t>;

class EfisOutputsTest : public ::testing::Test {
 protected:
  // Outputs whose frames the test takes, while it has room for them.
  UnitOutputs Make(const OutputOptions& options) {
    UnitOutputs outputs(options);
    outputs.SetSink(Take, this);
    return outputs;
  }

  // Every frame taken since the last look.
  std::vector<Bytes> Received() {
    std::vector<Bytes> frames;
    frames.swap(taken);
    return frames;
  }

  // Calls SendDue at every millisecond of [from, to).
  void Run(UnitOutputs& outputs, std::uint64_t from, std::uint64_t to) {
    for (std::uint64_t t = from; t < to; ++t) outputs.SendDue(true, t);
  }

  int CountType(const std::vector<Bytes>& frames, int type) {
    int n = 0;
    for (const Bytes& f : frames) n += f.size() > 3 && f[3] == type ? 1 : 0;
    return n;
  }

  static bool Take(void* context, const std::uint8_t* frame, std::size_t size) {
    auto& test = *static_cast<EfisOutputsTest*>(context);
    if (test.room == 0) return false;
    --test.room;
    test.taken.emplace_back(frame, frame + size);
    return true;
  }

  std::vector<Bytes> taken;
  std::size_t room = std::numeric_limits<std::size_t>::max();
};

TEST_F(EfisOutputsTest, FramesCarryTheirFieldsWhereTheBridgeReadsThem) {
  std::uint8_t qnh[efisunit::kQnhFrameBytes];
  efisunit::MakeQnhFrame(10132, qnh);
  EXPECT_EQ(Bytes(qnh, qnh + 6), (Bytes{2, 0, 1, 6, 0x94, 0x27}));
  OutputOptions options;
  options.bankMode = 3;
  options.bankPos = 7000;    // 54 x 128 + 88
  options.pitchPos = 16383;  // 127 x 128 + 127
  std::uint8_t servo[efisunit::kServoFrameBytes];
  efisunit::MakeServoFrame(options, servo);
  EXPECT_EQ(Bytes(servo, servo + 12), (Bytes{8, 0, 1, 14, 3, 0, 0x36, 0x58, 0, 0, 0x7F, 0x7F}));
}

TEST_F(EfisOutputsTest, ServoFramesKeepASteadyGridFromTheOpen) {
  struct Case {
    long hz;
    std::uint64_t ms;
    int frames;
  };
  for (const Case& c : {Case{20, 1000, 20}, Case{50, 1000, 50}, Case{30, 3000, 90}}) {
    SCOPED_TRACE(c.hz);
    OutputOptions options;
    options.servoHz = c.hz;
    UnitOutputs outputs = Make(options);
    EXPECT_EQ(outputs.MsUntilDue(0), -1) << "nothing is due before the pipe opens";
    Run(outputs, 0, 100);
    outputs.ReadPipeOpened(5000);
    EXPECT_EQ(outputs.MsUntilDue(5000), 0);
    Run(outputs, 5000, 5000 + c.ms);
    const std::vector<Bytes> frames = Received();
    EXPECT_EQ(static_cast<int>(frames.size()), c.frames);
    EXPECT_EQ(CountType(frames, 14), c.frames);
  }
  OutputOptions options;  // 20 Hz by default
  UnitOutputs outputs = Make(options);
  outputs.ReadPipeOpened(0);
  outputs.SendDue(true, 0);
  EXPECT_EQ(outputs.MsUntilDue(0), 50);
  EXPECT_EQ(outputs.MsUntilDue(49), 1);
  outputs.SendDue(true, 49);
  EXPECT_EQ(Received().size(), 1u);
  outputs.SendDue(true, 1234);  // late: one frame, the missed ones are not made up
  EXPECT_EQ(Received().size(), 1u);
  EXPECT_EQ(outputs.MsUntilDue(1234), 16);  // back on the grid at 1250
  outputs.SendDue(false, 1250);             // the bridge closed the pipe: nothing goes
  EXPECT_EQ(outputs.ServoFramesSent(), 2);
  options.servoHz = 0;
  UnitOutputs none = Make(options);
  none.ReadPipeOpened(0);
  Run(none, 0, 500);
  EXPECT_EQ(none.MsUntilDue(500), -1);
  EXPECT_TRUE(Received().empty());
}

TEST_F(EfisOutputsTest, QnhGoesOutAtTheOpenWhenGivenAndOnEveryKey) {
  OutputOptions options;
  options.servoHz = 0;
  UnitOutputs silentAtOpen = Make(options);
  silentAtOpen.ReadPipeOpened(0);
  Run(silentAtOpen, 0, 100);
  EXPECT_TRUE(Received().empty()) << "without --qnh the setting waits for a key";

  options.qnh = 10000;
  options.qnhAtOpen = true;
  UnitOutputs outputs = Make(options);
  outputs.Key('+', 0);  // before the pipe opens: held, sent with the open
  outputs.ReadPipeOpened(10);
  outputs.SendDue(true, 10);
  outputs.Key('-', 11);
  outputs.Key('-', 11);
  outputs.Key('x', 11);  // not a key of the unit
  outputs.SendDue(true, 11);
  outputs.Key('+', 12);
  outputs.SendDue(true, 12);
  EXPECT_EQ(Received(), (std::vector<Bytes>{{2, 0, 1, 6, 0x1A, 0x27},     // 10010
                                            {2, 0, 1, 6, 0x06, 0x27},     // 9990, once
                                            {2, 0, 1, 6, 0x10, 0x27}}));  // 10000
  EXPECT_EQ(outputs.Qnh(), 10000);

  options.qnh = 5;
  UnitOutputs low = Make(options);
  low.Key('-', 0);
  EXPECT_EQ(low.Qnh(), 5) << "no setting below 0";
  options.qnh = 65530;
  UnitOutputs high = Make(options);
  high.Key('+', 0);
  EXPECT_EQ(high.Qnh(), 65530) << "none above 16 bits";
}

TEST_F(EfisOutputsTest, QnhEveryPeriodRepeatsTheSetting) {
  OutputOptions options;
  options.servoHz = 0;
  options.qnhEveryMs = 100;
  UnitOutputs outputs = Make(options);
  outputs.ReadPipeOpened(0);
  Run(outputs, 0, 1000);
  EXPECT_EQ(CountType(Received(), 6), 9);  // at 100, 200, ... 900
}

TEST_F(EfisOutputsTest, SilencesComeAndGoOnTheirSchedule) {
  OutputOptions options;
  options.servoHz = 10;
  options.silentAfterS = 2;
  options.silentForS = 1;
  UnitOutputs outputs = Make(options);
  outputs.ReadPipeOpened(1000);
  Run(outputs, 1000, 3000);
  EXPECT_EQ(Received().size(), 20u);
  Run(outputs, 3000, 3500);
  outputs.Key('+', 3500);  // kept while silent
  Run(outputs, 3500, 4000);
  EXPECT_TRUE(Received().empty());
  Run(outputs, 4000, 4001);
  const std::vector<Bytes> again = Received();
  EXPECT_EQ(CountType(again, 14), 1);
  EXPECT_EQ(CountType(again, 6), 1);
  Run(outputs, 4001, 8000);  // speaking 4000..6000, silent 6000..7000, speaking 7000..
  EXPECT_EQ(Received().size(), 19u + 10u);

  options.silentForS = 0;  // for good
  UnitOutputs forGood = Make(options);
  forGood.ReadPipeOpened(0);
  Run(forGood, 0, 10000);
  EXPECT_EQ(Received().size(), 20u);
}

// A frame the pipe has no room for is dropped and counted, never waited for.
TEST_F(EfisOutputsTest, AFrameWithNoRoomIsDropped) {
  OutputOptions options;
  options.servoHz = 1000;
  UnitOutputs outputs = Make(options);
  outputs.ReadPipeOpened(0);
  room = 100;
  Run(outputs, 0, 2000);
  EXPECT_EQ(outputs.ServoFramesSent(), 100);
  EXPECT_EQ(outputs.FramesDropped(), 1900);
}

TEST_F(EfisOutputsTest, OptionsTakeTheirValuesAndRefuseBadOnes) {
  auto parse = [](std::vector<std::string> words, OutputOptions* options, std::string* error) {
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    int i = 0;
    const bool taken =
        efisunit::ParseOutputOption(static_cast<int>(argv.size()), argv.data(), &i, options, error);
    return taken ? i : -1;
  };
  OutputOptions options;
  std::string error;
  EXPECT_EQ(parse({"--servo-rate", "50"}, &options, &error), 1);
  EXPECT_EQ(parse({"--bank-mode", "3"}, &options, &error), 1);
  EXPECT_EQ(parse({"--pitch-pos", "16383"}, &options, &error), 1);
  EXPECT_EQ(parse({"--qnh", "9950"}, &options, &error), 1);
  EXPECT_EQ(parse({"--silent-after", "3"}, &options, &error), 1);
  EXPECT_TRUE(error.empty()) << error;
  EXPECT_EQ(options.servoHz, 50);
  EXPECT_EQ(options.bankMode, 3);
  EXPECT_EQ(options.pitchPos, 16383);
  EXPECT_EQ(options.qnh, 9950);
  EXPECT_TRUE(options.qnhAtOpen);
  EXPECT_EQ(options.silentAfterS, 3);

  for (const std::vector<std::string>& bad : {std::vector<std::string>{"--servo-rate", "1001"},
                                              {"--bank-pos", "16384"},
                                              {"--pitch-mode", "-1"},
                                              {"--qnh", "12x"},
                                              {"--silent-for", "0"},
                                              {"--qnh-every"}}) {
    error.clear();
    EXPECT_GE(parse(bad, &options, &error), 0) << bad[0];
    EXPECT_FALSE(error.empty()) << bad[0];
  }
  EXPECT_EQ(options.servoHz, 50) << "a refused value changes nothing";
  EXPECT_EQ(parse({"--verbose"}, &options, &error), -1);
}

}  // namespace
