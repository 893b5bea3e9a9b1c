// The one-copy claim of platform/instance.h, on the backend of the build (POSIX, or Win32 under
// Wine): the first claim of a name holds it for the process, a second is refused.
#include <gtest/gtest.h>

#include <string>

#include "platform/instance.h"
#include "platform/ipc.h"
#include "tests/support/child_process.h"

namespace {

// A name of this run's own: under Wine the session's Local\ namespace is shared with the
// bridges other tests run.
std::string NameOfThisRun(const char* tag) {
  return std::string("korvan-instance-test-") + tag + "-" +
         std::to_string(platform::CurrentProcessId());
}

class InstanceClaim : public ::testing::Test {
 protected:
  void SetUp() override { runtime_ = testsupport::MakeTestRuntimeDir("instance"); }
  void TearDown() override { testsupport::RemoveTree(runtime_); }
  std::string runtime_;
};

TEST_F(InstanceClaim, TheFirstClaimHoldsTheNameASecondIsRefusedOthersAreFree) {
  const std::string name = NameOfThisRun("held");
  EXPECT_TRUE(platform::ClaimOnlyInstance(name.c_str()));
  platform::SetLastError(0);
  EXPECT_FALSE(platform::ClaimOnlyInstance(name.c_str()));
  EXPECT_EQ(platform::LastError(), platform::kErrorAlreadyExists);
  EXPECT_FALSE(platform::ClaimOnlyInstance(name.c_str())) << "held for the process's life";
  EXPECT_TRUE(platform::ClaimOnlyInstance(NameOfThisRun("other").c_str()));
}

// A copy that cannot tell runs rather than refuses.
TEST_F(InstanceClaim, ANameThatCannotBeClaimedDoesNotStopTheProgram) {
  EXPECT_TRUE(platform::ClaimOnlyInstance(nullptr));
}

}  // namespace
