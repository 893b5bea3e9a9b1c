// The Win32 backend's lookup of SetProcessInformation, which OptOutOfPowerThrottling of
// platform/clock.h calls through. Private to the backend and its own tests, which put a lookup
// of their own here to see the calls, or none to play a Windows without the function.
#pragma once

#include <windows.h>

namespace platform::win32 {

using SetProcessInformationFunction = BOOL(WINAPI*)(HANDLE process,
                                                    PROCESS_INFORMATION_CLASS informationClass,
                                                    LPVOID information, DWORD size);

// Returns the function to call, or null when the system has none. The default looks it up in
// kernel32 (Windows 8 and later have it).
using SetProcessInformationLookup = SetProcessInformationFunction (*)();
extern SetProcessInformationLookup LookUpSetProcessInformation;

}  // namespace platform::win32
