// The stand-ins' failure lines on standard error: the program, the layer, what failed and the
// system's own text for the error, e.g. "korvan-sim: IPC: CreateServerWindow UIPCMAIN failed:
// Class already exists. (error 1410: one is already running)". Their normal output lines (what
// tests and scripts read) are Say's, and stay as they are.
#pragma once

#include <cstdint>
#include <string>

namespace standins {

// A call of the platform layer failed with `code` (its LastError(), numbered as Windows numbers
// them on every backend). The system's text: FormatMessage's on Windows, on POSIX strerror's for
// the errno the layer turns into that code. `note` (may be null) follows the number.
void SayFailure(const char* program, const char* layer, const std::string& what, std::uint32_t code,
                const char* note = nullptr);

// A call of the C library failed with errno `err` (strerror's text).
void SayLibraryFailure(const char* program, const std::string& what, int err);

// The system's text for a code of the platform layer, without a trailing line end.
std::string SystemErrorText(std::uint32_t code);

}  // namespace standins
