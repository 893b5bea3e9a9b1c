// clang-format off
#include <windows.h>
#include <mmsystem.h>
// clang-format on

#include "platform/clock.h"

namespace platform {

std::uint32_t TimeGetTime() {
  return timeGetTime();
}

void BeginFineTimer() {
  timeBeginPeriod(1);
}
void EndFineTimer() {
  timeEndPeriod(1);
}

}  // namespace platform
