// The close as one ordered sequence, on recording stand-ins for the operating system: the
// simulator link's (tests/unit/fake_ipc.h, whose module writes its exchanges into the same
// record) and the device's and threads' (tests/unit/efis_fake_device.h). An engaged close makes
// its last exchange first, then the reader is killed, then the write pipe, the read pipe and the
// device are closed, in that order; nothing of it changes the close's answer.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/Unit1.h"
#include "efis/SharedState.h"
#include "tests/support/bridge_form.h"
#include "tests/unit/efis_fake_device.h"
#include "tests/unit/fake_ipc.h"

namespace {

using Lines = std::vector<std::string>;

// The writes of one batch as the record shows them: "exchange" and each write's offset and
// bytes.
std::string Describe(const std::uint8_t* area) {
  std::string text = "exchange";
  std::uint32_t at = 0;
  for (;;) {
    std::uint32_t id, offset, size;
    std::memcpy(&id, area + at, 4);
    if (id == 0) return text;
    std::memcpy(&offset, area + at + 4, 4);
    std::memcpy(&size, area + at + 8, 4);
    const std::uint32_t header = id == 1 ? 16 : 12;
    if (id == 2) {
      char write[32];
      std::snprintf(write, sizeof write, " write 0x%04X", offset);
      text += write;
      for (std::uint32_t i = 0; i < size; ++i) {
        std::snprintf(write, sizeof write, " %02X", area[at + header + i]);
        text += write;
      }
    } else {
      text += " read";
    }
    at += header + size;
  }
}

class BridgeClose : public ::testing::Test {
 protected:
  void SetUp() override {
    fake_ipc::Reset();
    fakedevice::Reset();
    module_.Set32(0x3304, 0x19980005);
    module_.Set32(0x3308, 0xFADE0008);
    fake_ipc::Get().server = [this](std::uint8_t* area, std::uintptr_t* reply) {
      fakedevice::calls.push_back(Describe(area));
      return module_.Serve(area, reply);
    };
    fakedevice::config.paths = {"\\\\?\\usb#vid_1234#efis"};
    testsupport::OpenBridgeForm();
    ASSERT_TRUE(SimConnected);
    Form1->FormActivate(Form1);  // the reader starts
    const Lines started = fakedevice::CallsStartingWith("start ");
    ASSERT_EQ(started.size(), 1u);
    killReader_ = "kill " + started[0].substr(6);
  }
  void TearDown() override { testsupport::CloseBridgeForm(); }

  // The record of the close alone, whatever `canClose` came in as; the answer is unchanged.
  Lines Close(bool canCloseIn) {
    fakedevice::calls.clear();
    bool canClose = canCloseIn;
    Form1->FormCloseQuery(Form1, canClose);
    EXPECT_EQ(canClose, canCloseIn);
    return fakedevice::calls;
  }

  fake_ipc::Module module_;
  std::string killReader_;
};

TEST_F(BridgeClose, EngagedTheLastExchangeThenTheReaderThenWriteReadAndDeviceInThatOrder) {
  AutopilotEngaged = 1;
  EXPECT_EQ(Close(true),
            (Lines{"exchange write 0x310A 00", "kill 300", "close 102", "close 101", "close 100"}));
  EXPECT_EQ(module_.space[0x310A], 0);
}

TEST_F(BridgeClose, DisengagedNoExchangeTheReaderThenWriteReadAndDevice) {
  EXPECT_EQ(Close(false), (Lines{killReader_, "close 102", "close 101", "close 100"}));
}

}  // namespace
