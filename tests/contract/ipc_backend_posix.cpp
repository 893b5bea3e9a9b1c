// The POSIX backend's answers for the contract suites.
#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/posix/posix_handles.h"
#include "platform/posix/posix_root.h"
#include "tests/contract/ipc_backend.h"

namespace contract {

std::uint32_t SystemProcessId() {
  return static_cast<std::uint32_t>(getpid());
}

std::uint32_t SenderPidSeen() {
  return SystemProcessId();
}

std::uint32_t ViewSizeFor(std::uint32_t size) {
  return size;
}

bool AViewKeepsTheName() {
  return true;
}

std::uint32_t NullMessageNameError() {
  return platform::kErrorInvalidParameter;
}

std::uint16_t FirstAtomOfAFreshTable() {
  return 0xC000;
}

std::uint32_t BadClassNameError() {
  return platform::kErrorInvalidName;
}

bool HandlerSeesSystemMessages() {
  return true;
}

bool AHeldMessageHoldsTheWindow() {
  return false;
}

HeldSenderAtStop HeldSenderOutcome() {
  return {false, platform::kErrorInvalidWindowHandle};
}

bool AtomNamed(const std::string& name) {
  const std::string dir = platform::posix::NamespaceDir("atoms");
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(dir, error)) {
    if (entry.path().filename().string()[0] == '.') continue;  // still being made
    std::ifstream in(entry.path(), std::ios::binary);
    if (std::string(std::istreambuf_iterator<char>(in), {}) == name) return true;
  }
  return false;
}

platform::Handle HandleOfAnotherKind() {
  return platform::posix::AllocateHandle(open("/dev/null", O_RDONLY | O_CLOEXEC), nullptr, nullptr);
}

}  // namespace contract
