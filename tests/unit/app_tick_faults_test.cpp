// Which tick faults reach the error box.
#include <gtest/gtest.h>

#include <string>

#include "app/TickFaults.h"

namespace {

struct Step {
  enum { Fault, Clean } What;
  TTickKind Kind;
  const char* Text;
  bool Shown;
};

constexpr TTickKind F = TTickKind::Fast;
constexpr TTickKind S = TTickKind::Slow;

TEST(TickFaults, PersistentFaultIsShownOnceUntilItsKindRunsClean) {
  ResetTickFaults();
  const Step steps[] = {
      {Step::Fault, S, "Invalid floating point operation", true},
      {Step::Fault, S, "Invalid floating point operation", false},
      {Step::Clean, F, "", false},  // clean fast ticks between do not re-arm the slow fault
      {Step::Fault, S, "Invalid floating point operation", false},
      {Step::Fault, S, "Range check error", true},  // another text is news
      {Step::Fault, S, "Invalid floating point operation", true},
      {Step::Fault, F, "Invalid floating point operation", true},  // kinds are apart
      {Step::Fault, F, "Invalid floating point operation", false},
      {Step::Clean, S, "", false},
      {Step::Fault, S, "Invalid floating point operation", true},
      {Step::Fault, F, "Invalid floating point operation", false},
      {Step::Clean, F, "", false},
      {Step::Fault, F, "Invalid floating point operation", true},
  };
  int index = 0;
  for (const Step& step : steps) {
    SCOPED_TRACE(index++);
    if (step.What == Step::Clean) {
      TickRanClean(step.Kind);
    } else {
      EXPECT_EQ(TickFaultToShow(step.Kind, step.Text), step.Shown);
    }
  }
}

TEST(TickFaults, LongTextsCompareOnTheirRememberedPart) {
  ResetTickFaults();
  const std::string longText(1000, 'x');
  EXPECT_TRUE(TickFaultToShow(TTickKind::Fast, longText.c_str()));
  EXPECT_FALSE(TickFaultToShow(TTickKind::Fast, (longText + "y").c_str()));
  EXPECT_TRUE(TickFaultToShow(TTickKind::Fast, "short"));
  ResetTickFaults();
  EXPECT_TRUE(TickFaultToShow(TTickKind::Fast, "short"));
}

}  // namespace
