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

const Backend kBackend = {
    .senderPidTold = true,
    .handlerSeesSystemMessages = true,
    .aHeldMessageHoldsTheWindow = false,
    .heldSenderSentAtStop = false,
    .heldSenderErrorAtStop = platform::kErrorInvalidWindowHandle,
    .aViewKeepsTheName = true,
    .badClassNameError = platform::kErrorInvalidName,
    .nullMessageNameError = platform::kErrorInvalidParameter,
    .firstAtomOfAFreshTable = 0xC000,
};

std::uint32_t SystemProcessId() {
  return static_cast<std::uint32_t>(getpid());
}

std::uint32_t ViewSizeFor(std::uint32_t size) {
  return size;
}

bool AtomNamed(const std::string& name) {
  std::error_code error;
  for (const auto& entry :
       std::filesystem::directory_iterator(platform::posix::NamespaceDir("atoms"), error)) {
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
