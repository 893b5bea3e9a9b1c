// The system's text for a code of the POSIX platform layer: strerror's for the errno the layer
// turns into that code (docs/posix-platform.md: the codes are Windows' numbers).
#include <cerrno>
#include <cstring>

#include "platform/ipc.h"
#include "standins/common/failure.h"

namespace standins {

namespace {

// The errno behind each code, as posix/posix_errors.cpp turns one into the other.
struct CodeErrno {
  std::uint32_t code;
  int err;
};
constexpr CodeErrno kErrnos[] = {
    {platform::kErrorFileNotFound, ENOENT},
    {platform::kErrorTooManyOpenFiles, EMFILE},
    {platform::kErrorAccessDenied, EACCES},
    {platform::kErrorInvalidHandle, EBADF},
    {platform::kErrorNotEnoughMemory, ENOMEM},
    {platform::kErrorSharingViolation, EBUSY},
    {platform::kErrorInvalidParameter, EINVAL},
    {platform::kErrorInvalidName, EINVAL},
    {platform::kErrorAlreadyExists, EEXIST},
    {platform::kErrorFilenameTooLong, ENAMETOOLONG},
    {platform::kErrorDeviceNotConnected, ENODEV},
    {platform::kErrorInvalidWindowHandle, ECONNREFUSED},
    {platform::kErrorTimeout, ETIMEDOUT},
    {platform::kErrorClassAlreadyExists, EADDRINUSE},  // a live socket of the class
};

}  // namespace

std::string SystemErrorText(std::uint32_t code) {
  for (const CodeErrno& entry : kErrnos) {
    if (entry.code == code) return std::strerror(entry.err);
  }
  return std::strerror(EIO);
}

}  // namespace standins
