// The bridge cycle allocates nothing once running: every tick, fast or slow, engaged or not, with
// frames going to korvan-efis and exchanges to korvan-sim, works in fixed buffers. Counted by
// replacing the global allocator, on the test's own thread only (the helper threads that read
// the stand-ins' output allocate as they like).
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

#include "efis/EfisLink.h"
#include "efis/SharedState.h"
#include "tests/support/bridge_form.h"
#include "tests/support/child_process.h"

namespace {
thread_local bool Counting = false;
thread_local long Allocations = 0;
}  // namespace

void* operator new(std::size_t size) {
  if (Counting) ++Allocations;
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}

namespace {

TEST(BridgeCycleAllocation, RunningTicksAllocateNothing) {
  const std::string dir = testsupport::MakeTestRuntimeDir("app-alloc");
  testsupport::ChildProcess sim, efis;
  ASSERT_TRUE(sim.Start(KORVAN_SIM_PATH, {}));
  ASSERT_TRUE(sim.WaitForLine("korvan-sim ready", 10000));
  ASSERT_TRUE(efis.Start(KORVAN_EFIS_PATH, {}));
  ASSERT_TRUE(efis.WaitForLine("korvan-efis ready", 10000));

  testsupport::OpenBridgeForm();
  ASSERT_TRUE(SimConnected);
  ASSERT_TRUE(EfisLink.EfisConnected);
  auto tick = [] { Form1->FrameTimer1Timer(Form1->FrameTimer1, 1); };

  // One round of ten phases first: the first slow tick sends the QNH frame, captions settle.
  for (int i = 0; i < 10; ++i) tick();
  AutopilotEngaged = 1;
  DisengageCountdown = 20;
  for (int i = 0; i < 10; ++i) tick();
  AutopilotEngaged = 0;
  for (int i = 0; i < 10; ++i) tick();

  Counting = true;
  for (int i = 0; i < 30; ++i) tick();  // disengaged
  AutopilotEngaged = 1;
  DisengageCountdown = 20;
  BankServoCmd = 1234;
  for (int i = 0; i < 30; ++i) tick();  // engaged, then disengaged by the countdown
  QnhFromEfis = 1;
  for (int i = 0; i < 10; ++i) tick();
  Counting = false;

  EXPECT_EQ(Allocations, 0);
  EXPECT_TRUE(SimConnected) << Form1->Memo1->Lines.Text();
  EXPECT_TRUE(EfisLink.EfisConnected) << Form1->Memo1->Lines.Text();

  testsupport::CloseBridgeForm();
  efis.Stop();
  sim.Stop();
  testsupport::RemoveTree(dir);
}

}  // namespace
