#include "standins/common/say.h"

#include <cstdarg>
#include <cstdio>

namespace standins {

void Say(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vprintf(format, args);
  va_end(args);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

}  // namespace standins
