#include "standins/common/failure.h"

#include <cstdio>
#include <cstring>

namespace standins {

void SayFailure(const char* program, const char* layer, const std::string& what, std::uint32_t code,
                const char* note) {
  std::fprintf(stderr, "%s: %s: %s failed: %s (error %u%s%s)\n", program, layer, what.c_str(),
               SystemErrorText(code).c_str(), code, note != nullptr ? ": " : "",
               note != nullptr ? note : "");
}

void SayLibraryFailure(const char* program, const std::string& what, int err) {
  std::fprintf(stderr, "%s: C library: %s failed: %s (errno %d)\n", program, what.c_str(),
               std::strerror(err), err);
}

}  // namespace standins
