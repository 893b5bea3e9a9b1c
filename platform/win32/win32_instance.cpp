// The one-copy claim on Windows: a named mutex in the session's Local\ namespace.
#include <windows.h>

#include <string>

#include "platform/instance.h"

namespace platform {

bool ClaimOnlyInstance(const char* name) {
  if (name == nullptr) return true;
  const std::string full = std::string("Local\\") + name;
  // Kept open until the process ends: Windows closes it then, however it ends.
  HANDLE mutex = ::CreateMutexA(nullptr, FALSE, full.c_str());
  const DWORD error = ::GetLastError();
  if (mutex == nullptr) {
    // Made by a copy at a higher privilege level: it runs, we may not even open its mutex.
    return error != ERROR_ACCESS_DENIED;
  }
  if (error != ERROR_ALREADY_EXISTS) return true;
  ::CloseHandle(mutex);
  ::SetLastError(ERROR_ALREADY_EXISTS);
  return false;
}

}  // namespace platform
