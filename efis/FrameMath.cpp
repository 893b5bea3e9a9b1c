#include "efis/FrameMath.h"

#include <cmath>

namespace {

// 2^63, exact in long double. Every long double below it and above -2^63 - 1 truncates to a
// 64-bit integer; -2^63 - 1 is exact too, the spacing there being 1.
constexpr long double kTwo63 = 9223372036854775808.0L;

}  // namespace

const char* EInvalidOp::what() const noexcept {
  return "Invalid floating point operation";
}

void SetExtendedPrecision() {
  std::uint16_t control = 0;
  __asm__ __volatile__("fnstcw %0" : "=m"(control));
  control = static_cast<std::uint16_t>(control | 0x0300);  // precision control 11: 64 bits
  __asm__ __volatile__("fldcw %0" : : "m"(control));
}

bool TryTrunc(long double value, std::int64_t& result) {
  // NaN fails both comparisons.
  if (!(value > -kTwo63 - 1 && value < kTwo63)) return false;
  result = static_cast<std::int64_t>(value);
  return true;
}

std::int64_t Trunc(long double value) {
  std::int64_t result = 0;
  if (!TryTrunc(value, result)) throw EInvalidOp();
  return result;
}

std::int64_t Round(long double value) {
  if (std::isnan(value)) throw EInvalidOp();
  long double whole = std::trunc(value);
  const long double fraction = value - whole;  // exact
  const bool odd = std::fmod(whole, 2.0L) != 0;
  if (fraction > 0.5L || (fraction == 0.5L && odd)) whole += 1;
  if (fraction < -0.5L || (fraction == -0.5L && odd)) whole -= 1;
  return Trunc(whole);  // an infinity, or a tie rounded up to 2^63, fails here
}

std::int64_t MulDivTrunc(std::int64_t value, std::int64_t factor, std::int64_t divisor) {
  // value = q x divisor + r with r of value's sign: both parts divide toward zero alike.
  const std::int64_t quotient = value / divisor;
  const std::int64_t remainder = value % divisor;
  return quotient * factor + remainder * factor / divisor;
}

void StoreLow8(std::uint8_t* frame, std::size_t offset, std::int64_t value) {
  frame[offset] = static_cast<std::uint8_t>(value);
}

void StoreLow16(std::uint8_t* frame, std::size_t offset, std::int64_t value) {
  const auto bits = static_cast<std::uint16_t>(value);
  frame[offset] = static_cast<std::uint8_t>(bits);
  frame[offset + 1] = static_cast<std::uint8_t>(bits >> 8);
}

void StoreLow32(std::uint8_t* frame, std::size_t offset, std::int64_t value) {
  const auto bits = static_cast<std::uint32_t>(value);
  for (std::size_t i = 0; i < 4; ++i)
    frame[offset + i] = static_cast<std::uint8_t>(bits >> (8 * i));
}
