// The system's text for a Windows error code: FormatMessage's.
#include <windows.h>

#include "standins/common/failure.h"

namespace standins {

std::string SystemErrorText(std::uint32_t code) {
  char text[256] = "";
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           code, 0, text, sizeof text, nullptr);
  while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == ' ')) text[--n] = 0;
  return n > 0 ? text : "unknown error";
}

}  // namespace standins
