// clang-format off
#include <windows.h>
#include <mmsystem.h>
// clang-format on

#include "platform/clock.h"
#include "platform/win32/win32_power.h"

namespace platform {
namespace {

// The values the opt-out sends, as Windows documents them (processthreadsapi.h).
constexpr int kProcessPowerThrottling = 4;
constexpr ULONG kThrottlingVersion = 1;
constexpr ULONG kThrottleExecutionSpeed = 0x1;
constexpr ULONG kThrottleIgnoreTimerResolution = 0x4;
static_assert(kProcessPowerThrottling == ProcessPowerThrottling);
static_assert(kThrottlingVersion == PROCESS_POWER_THROTTLING_CURRENT_VERSION);
static_assert(kThrottleExecutionSpeed == PROCESS_POWER_THROTTLING_EXECUTION_SPEED);
static_assert(kThrottleIgnoreTimerResolution == PROCESS_POWER_THROTTLING_IGNORE_TIMER_RESOLUTION);

win32::SetProcessInformationFunction SystemSetProcessInformation() {
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  if (kernel == nullptr) return nullptr;
  return reinterpret_cast<win32::SetProcessInformationFunction>(
      reinterpret_cast<void (*)()>(GetProcAddress(kernel, "SetProcessInformation")));
}

// The flag is controlled by the process (ControlMask) and off (StateMask 0): not throttled.
bool OptOut(win32::SetProcessInformationFunction set, ULONG flag) {
  PROCESS_POWER_THROTTLING_STATE state = {};
  state.Version = kThrottlingVersion;
  state.ControlMask = flag;
  state.StateMask = 0;
  return set(GetCurrentProcess(), static_cast<PROCESS_INFORMATION_CLASS>(kProcessPowerThrottling),
             &state, sizeof state) != FALSE;
}

}  // namespace

namespace win32 {
SetProcessInformationLookup LookUpSetProcessInformation = SystemSetProcessInformation;
}  // namespace win32

std::uint32_t TimeGetTime() {
  return timeGetTime();
}

void BeginFineTimer() {
  timeBeginPeriod(1);
}
void EndFineTimer() {
  timeEndPeriod(1);
}

int OptOutOfPowerThrottling() {
  const win32::SetProcessInformationFunction set = win32::LookUpSetProcessInformation();
  if (set == nullptr) return 0;
  int taken = OptOut(set, kThrottleIgnoreTimerResolution) ? 1 : 0;
  taken += OptOut(set, kThrottleExecutionSpeed) ? 1 : 0;
  return taken;
}

}  // namespace platform
