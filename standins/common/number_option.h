// The one way the stand-ins read a number from their command lines: strict, so a typo in a
// test's arguments fails loudly instead of running a stand-in that does something else.
#pragma once

#include <cstddef>

namespace standins {

enum class NumberKind {
  Decimal,  // digits, or 0x and hexadecimal digits; no sign
  Hex,      // hexadecimal digits, 0x optional; no sign
  Signed,   // as Decimal with an optional leading '-'
  Real,     // a decimal fraction such as -12.5; no exponent, no hexadecimal
};

// Reads all of `text` as a number of `kind` within [min, max]. False (and *value untouched)
// for an empty text, a stray character or a value out of range.
bool ParseNumber(const char* text, NumberKind kind, double min, double max, double* value);

// A numeric option of a stand-in's table: its name, what it takes and where the value goes.
// `needs` completes "NAME needs ..." in the error line, e.g. "a number from 0 to 65535".
template <typename Options>
struct NumberOption {
  const char* name;
  NumberKind kind;
  double min;
  double max;
  const char* needs;
  void (*store)(Options& options, double value);
};

// Looks `name` up in `table`; null when it is not there.
template <typename Options, std::size_t N>
const NumberOption<Options>* FindNumberOption(const NumberOption<Options> (&table)[N],
                                              const char* name);

// Reads `text` (may be null) as `option` takes it into `options`; false, with nothing stored,
// when it is not such a number.
template <typename Options>
bool StoreNumberOption(const NumberOption<Options>& option, const char* text, Options& options) {
  double value = 0;
  if (!ParseNumber(text, option.kind, option.min, option.max, &value)) return false;
  option.store(options, value);
  return true;
}

}  // namespace standins

#include <cstring>

template <typename Options, std::size_t N>
const standins::NumberOption<Options>* standins::FindNumberOption(
    const NumberOption<Options> (&table)[N], const char* name) {
  for (const NumberOption<Options>& option : table) {
    if (std::strcmp(option.name, name) == 0) return &option;
  }
  return nullptr;
}
