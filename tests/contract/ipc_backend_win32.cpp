// The Win32 backend's answers for the contract suites.
#include <windows.h>

#include "tests/contract/ipc_backend.h"

namespace contract {

std::uint32_t SystemProcessId() {
  return ::GetCurrentProcessId();
}

std::uint32_t SenderPidSeen() {
  return 0;
}

std::uint32_t ViewSizeFor(std::uint32_t size) {
  SYSTEM_INFO system;
  ::GetSystemInfo(&system);
  const std::uint32_t page = system.dwPageSize;
  return (size + page - 1) / page * page;
}

bool AViewKeepsTheName() {
  return false;
}

std::uint32_t NullMessageNameError() {
  return kAnyCode;
}

std::uint16_t FirstAtomOfAFreshTable() {
  return 0;
}

std::uint32_t BadClassNameError() {
  return platform::kErrorInvalidParameter;
}

bool HandlerSeesSystemMessages() {
  return false;
}

bool AHeldMessageHoldsTheWindow() {
  return true;
}

HeldSenderAtStop HeldSenderOutcome() {
  return {true, 0};
}

bool AtomNamed(const std::string& name) {
  return ::GlobalFindAtomA(name.c_str()) != 0;
}

platform::Handle HandleOfAnotherKind() {
  return reinterpret_cast<platform::Handle>(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
}

}  // namespace contract
