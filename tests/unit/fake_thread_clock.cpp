// StartThread and KillThread of platform/thread.h for a program on the recording device layer
// (tests/unit/efis_fake_device.h): no thread runs; each start and kill is a call of the record.
// And the millisecond clock of platform/clock.h, standing still: the test drives the ticks.
#include <string>

#include "platform/clock.h"
#include "platform/thread.h"
#include "tests/unit/efis_fake_device.h"

namespace platform {

namespace {
Handle NextThread = 300;
}  // namespace

Handle StartThread(const ThreadStart* start) {
  if (start == nullptr || start->Body == nullptr) return 0;
  const Handle thread = NextThread++;
  fakedevice::calls.push_back("start " + std::to_string(thread));
  return thread;
}

bool KillThread(Handle thread) {
  fakedevice::calls.push_back("kill " + std::to_string(thread));
  return true;
}

std::uint32_t TimeGetTime() {
  return 0;
}

}  // namespace platform
