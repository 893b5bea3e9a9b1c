// The Win32 backend's answers for the contract suites.
#include <windows.h>

#include "tests/contract/ipc_backend.h"

namespace contract {

const Backend kBackend = {
    .senderPidTold = false,
    .handlerSeesSystemMessages = false,
    .aHeldMessageHoldsTheWindow = true,
    .heldSenderSentAtStop = true,
    .heldSenderErrorAtStop = 0,
    .aViewKeepsTheName = false,
    .badClassNameError = platform::kErrorInvalidParameter,
    .nullMessageNameError = kAnyCode,
    .firstAtomOfAFreshTable = 0,
};

std::uint32_t SystemProcessId() {
  return ::GetCurrentProcessId();
}

std::uint32_t ViewSizeFor(std::uint32_t size) {
  SYSTEM_INFO system;
  ::GetSystemInfo(&system);
  return (size + system.dwPageSize - 1) / system.dwPageSize * system.dwPageSize;
}

bool AtomNamed(const std::string& name) {
  return ::GlobalFindAtomA(name.c_str()) != 0;
}

platform::Handle HandleOfAnotherKind() {
  return reinterpret_cast<platform::Handle>(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
}

}  // namespace contract
