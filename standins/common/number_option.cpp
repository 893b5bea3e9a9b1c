// Digits are taken one by one: no locale, no silent stop at the first stray character, and
// the range is checked before anything overflows.
#include "standins/common/number_option.h"

#include <cstdint>

namespace standins {

namespace {

int DigitValue(char c, int base) {
  if (c >= '0' && c <= '9') return c - '0';
  if (base == 16 && c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (base == 16 && c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool HasHexPrefix(const char* text) {
  return text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
}

}  // namespace

bool ParseNumber(const char* text, NumberKind kind, double min, double max, double* value) {
  if (text == nullptr) return false;
  bool negative = false;
  if ((kind == NumberKind::Signed || kind == NumberKind::Real) && *text == '-') {
    negative = true;
    ++text;
  }
  int base = kind == NumberKind::Hex ? 16 : 10;
  if (kind != NumberKind::Real && HasHexPrefix(text)) {
    base = 16;
    text += 2;
  }
  if (DigitValue(*text, base) < 0) return false;
  // Whole part exactly (up to 2^64), then at most one fraction for Real.
  std::uint64_t whole = 0;
  for (; DigitValue(*text, base) >= 0; ++text) {
    const int digit = DigitValue(*text, base);
    if (whole > (UINT64_MAX - static_cast<std::uint64_t>(digit)) / static_cast<unsigned>(base))
      return false;
    whole = whole * static_cast<unsigned>(base) + static_cast<unsigned>(digit);
  }
  double result = static_cast<double>(whole);
  if (kind == NumberKind::Real && *text == '.') {
    ++text;
    if (DigitValue(*text, 10) < 0) return false;
    // The fraction as one integer over one power of ten: 1013.2 reads as the double nearest it.
    std::uint64_t fraction = 0, scale = 1;
    for (; DigitValue(*text, 10) >= 0; ++text) {
      if (scale > UINT64_MAX / 100) continue;  // digits past the 18th change nothing
      fraction = fraction * 10 + static_cast<unsigned>(DigitValue(*text, 10));
      scale *= 10;
    }
    result += static_cast<double>(fraction) / static_cast<double>(scale);
  }
  if (*text != '\0') return false;
  if (negative) result = -result;
  if (result < min || result > max) return false;
  *value = result;
  return true;
}

}  // namespace standins
