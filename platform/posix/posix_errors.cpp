#include "platform/posix/posix_errors.h"

#include <cerrno>
#include <string>

#include "platform/device.h"
#include "platform/ipc.h"

namespace platform::posix {

std::uint32_t ErrorFromErrno(int err) {
  switch (err) {
    case 0:
      return 0;
    case ENOENT:
    case ENOTDIR:
      return kErrorFileNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
      return kErrorAccessDenied;
    case EBADF:
      return kErrorInvalidHandle;
    case EMFILE:
    case ENFILE:
      return kErrorTooManyOpenFiles;
    case ENOMEM:
    case ENOSPC:
      return kErrorNotEnoughMemory;
    case EINVAL:
      return kErrorInvalidParameter;
    case EEXIST:
      return kErrorAlreadyExists;
    case ENAMETOOLONG:
      return kErrorFilenameTooLong;
    case ECONNREFUSED:
    case ECONNRESET:
    case EPIPE:
    case ENOTCONN:
      return kErrorInvalidWindowHandle;
    case ETIMEDOUT:
      return kErrorTimeout;
    default:
      return kErrorGenFailure;
  }
}

}  // namespace platform::posix

namespace platform {

namespace {

// The texts Windows gives for the codes of platform/ipc.h and platform/device.h.
struct CodeText {
  std::uint32_t code;
  const char* text;
};
constexpr CodeText kTexts[] = {
    {0, "The operation completed successfully."},
    {kErrorFileNotFound, "The system cannot find the file specified."},
    {kErrorTooManyOpenFiles, "The system cannot open the file."},
    {kErrorAccessDenied, "Access is denied."},
    {kErrorInvalidHandle, "The handle is invalid."},
    {kErrorNotEnoughMemory, "Not enough memory resources are available to process this command."},
    {kErrorGenFailure, "A device attached to the system is not functioning."},
    {kErrorSharingViolation,
     "The process cannot access the file because it is being used by another process."},
    {kErrorInvalidParameter, "The parameter is incorrect."},
    {kErrorSemTimeout, "The semaphore timeout period has expired."},
    {kErrorInsufficientBuffer, "The data area passed to a system call is too small."},
    {kErrorInvalidName, "The filename, directory name, or volume label syntax is incorrect."},
    {kErrorAlreadyExists, "Cannot create a file when that file already exists."},
    {kErrorFilenameTooLong, "The filename or extension is too long."},
    {kErrorNoMoreItems, "No more data is available."},
    {kErrorInvalidAddress, "Attempt to access invalid address."},
    {kErrorOperationAborted,
     "The I/O operation has been aborted because of either a thread exit or an application "
     "request."},
    {kErrorInvalidFlags, "Invalid flags."},
    {kErrorDeviceNotConnected, "The device is not connected."},
    {kErrorInvalidWindowHandle, "Invalid window handle."},
    {kErrorClassAlreadyExists, "Class already exists."},
    {kErrorTimeout, "This operation returned because the timeout period expired."},
    {kErrorInvalidUserBuffer, "The supplied user buffer is not valid for the requested operation."},
};

}  // namespace

std::string ErrorText(std::uint32_t code) {
  for (const CodeText& entry : kTexts) {
    if (entry.code == code) return entry.text;
  }
  return "unknown error";
}

}  // namespace platform
