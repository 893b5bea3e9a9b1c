// The system's text for a code of the POSIX platform layer: strerror's for the errno the layer
// turns into that code (docs/posix-platform.md: the codes are Windows' numbers).
#include <cerrno>
#include <cstring>

#include "platform/ipc.h"
#include "standins/common/failure.h"

namespace standins {

namespace {

int ErrnoOf(std::uint32_t code) {
  switch (code) {
    case platform::kErrorFileNotFound:
      return ENOENT;
    case platform::kErrorTooManyOpenFiles:
      return EMFILE;
    case platform::kErrorAccessDenied:
      return EACCES;
    case platform::kErrorInvalidHandle:
      return EBADF;
    case platform::kErrorNotEnoughMemory:
      return ENOMEM;
    case platform::kErrorSharingViolation:
      return EBUSY;
    case platform::kErrorInvalidParameter:
    case platform::kErrorInvalidName:
      return EINVAL;
    case platform::kErrorAlreadyExists:
      return EEXIST;
    case platform::kErrorFilenameTooLong:
      return ENAMETOOLONG;
    case platform::kErrorDeviceNotConnected:
      return ENODEV;
    case platform::kErrorInvalidWindowHandle:
      return ECONNREFUSED;
    case platform::kErrorClassAlreadyExists:
      return EADDRINUSE;  // a live socket of the class
    case platform::kErrorTimeout:
      return ETIMEDOUT;
    default:
      return EIO;
  }
}

}  // namespace

std::string SystemErrorText(std::uint32_t code) {
  return std::strerror(ErrnoOf(code));
}

}  // namespace standins
