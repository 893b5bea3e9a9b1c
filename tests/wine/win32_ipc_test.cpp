// What the Win32 serving window alone has, under Wine: WM_CLOSE ends its loop, as a console's
// Ctrl-C or a closing program's message does. What both backends share is
// tests/contract/ipc_contract_test.cpp.
#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "platform/ipc.h"
#include "platform/ipc_server.h"
#include "tests/contract/served_window.h"

namespace {

constexpr std::uint32_t kAnswerMs = 30000;

TEST(Win32Server, CloseMessageEndsTheLoop) {
  const std::string cls = "KorvanTestServerE:" + std::to_string(::GetCurrentProcessId());
  testsupport::Serving serving;
  testsupport::ServedWindow server(cls.c_str(), &serving);
  ASSERT_TRUE(server.Created()) << server.CreateError();
  const platform::WindowHandle window = platform::FindTopLevelWindow(cls.c_str());
  // Sent rather than posted: the loop must end even though GetMessage never returns for it.
  std::uintptr_t reply = 1;
  EXPECT_TRUE(platform::SendMessageWithTimeout(window, WM_CLOSE, 0, 0, kAnswerMs, &reply));
  EXPECT_EQ(reply, 0u);
  // The loop ends by itself, and its thread destroys the window.
  for (int i = 0; i < 6000 && platform::FindTopLevelWindow(cls.c_str()) != 0; ++i) ::Sleep(10);
  ASSERT_EQ(platform::FindTopLevelWindow(cls.c_str()), 0u);
  server.thread().join();
  EXPECT_TRUE(server.StopWasRequested());
  EXPECT_TRUE(server.Stop());
  EXPECT_EQ(serving.handled.load(), 0);
}

}  // namespace
