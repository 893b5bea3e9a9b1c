// What the platform layer offers the process itself, on the backend of the build (POSIX, or
// Win32 under Wine): the one-copy claim of platform/instance.h (the first claim of a name holds
// it for the process, a second is refused) and the system's error texts of platform/ipc.h.
#include <gtest/gtest.h>

#include <cstdint>
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

// The texts a failure message quotes: the system's own for a code it knows.
TEST(ErrorText, TheSystemsTextForItsCodesAndAPlainWordForOthers) {
  for (std::uint32_t code :
       {platform::kErrorFileNotFound, platform::kErrorAccessDenied, platform::kErrorNotEnoughMemory,
        platform::kErrorInvalidParameter, platform::kErrorTimeout}) {
    SCOPED_TRACE(code);
    const std::string text = platform::ErrorText(code);
    EXPECT_NE(text, "unknown error");
    ASSERT_FALSE(text.empty());
    EXPECT_NE(text.back(), '\n') << "no line end: it goes inside a message";
  }
  EXPECT_NE(platform::ErrorText(platform::kErrorAccessDenied),
            platform::ErrorText(platform::kErrorFileNotFound));
  EXPECT_EQ(platform::ErrorText(0xDEAD0000u), "unknown error");
}

}  // namespace
