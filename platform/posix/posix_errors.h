// errno turned into the Windows error code a caller of the platform layer expects to read from
// LastError(). Internal to the POSIX backend. Any thread.
#pragma once

#include <cstdint>

namespace platform::posix {

// The nearest Windows code of platform/ipc.h for `err` (ENOENT 2, EACCES 5, EEXIST 183, ...);
// kErrorGenFailure for anything without a close match.
std::uint32_t ErrorFromErrno(int err);

}  // namespace platform::posix
