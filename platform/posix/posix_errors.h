// errno turned into the Windows error code a caller of the platform layer expects to read from
// LastError(). Internal to the POSIX backend. Any thread.
#pragma once

#include <cstdint>

namespace platform::posix {

// Windows codes the layer reports that platform/ipc.h does not name.
inline constexpr std::uint32_t kErrorTooManyOpenFiles = 4;
inline constexpr std::uint32_t kErrorNotEnoughMemory = 8;
inline constexpr std::uint32_t kErrorGenFailure = 31;
inline constexpr std::uint32_t kErrorFilenameTooLong = 206;
inline constexpr std::uint32_t kErrorInvalidAddress = 487;

// The nearest Windows code for `err` (ENOENT 2, EACCES 5, EEXIST 183, ...); kErrorGenFailure
// for anything without a close match.
std::uint32_t ErrorFromErrno(int err);

}  // namespace platform::posix
