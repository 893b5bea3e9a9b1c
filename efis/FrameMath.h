// The arithmetic every frame field shares. Floating expressions run in extended precision (a
// 64-bit significand) and become an integer once, at the end: by truncation toward zero, or by
// rounding to nearest with ties to even where a field asks for it. An integer field keeps the
// low bits of its value, little-endian, unless its frame clamps it.
//
// A value that is not a number, or whose integer lies outside the signed 64-bit range, is an
// invalid operation: it throws EInvalidOp and the tick that met it ends there.
//
// Nothing here keeps state: any thread may call it, with the precision of SetExtendedPrecision
// set on that thread (the bridge: the user-interface thread, which runs every conversion).
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <limits>

// A compiler whose long double is the plain double (MSVC) would build a bridge that sends
// other numbers: 0.7 x 10 truncates to 7 there, not 6.
static_assert(std::numeric_limits<long double>::digits == 64,
              "the frame conversions need long double with a 64-bit significand");

// The fault of an invalid floating operation in a conversion.
class EInvalidOp : public std::exception {
 public:
  const char* what() const noexcept override;
};

// Sets the x87 precision control of the calling thread to a 64-bit significand; the rest of
// the control word stays. Every thread that converts calls it first: Windows starts threads at
// 53 bits (control word 0x27F), where each long double operation is rounded to double.
void SetExtendedPrecision();

// Trunc: the integer part, toward zero. False (and `result` untouched) for an invalid operation.
bool TryTrunc(long double value, std::int64_t& result);
// Trunc, throwing EInvalidOp for an invalid operation.
std::int64_t Trunc(long double value);
// Round: to the nearest integer, ties to even, whatever the thread's rounding mode. Throws
// EInvalidOp for an invalid operation.
std::int64_t Round(long double value);

// (value x factor) div divisor, truncating toward zero, with the product never overflowing.
// factor and divisor lie in 1..2^31 and the quotient within the 64-bit range.
std::int64_t MulDivTrunc(std::int64_t value, std::int64_t factor, std::int64_t divisor);

// The low bits of `value`, little-endian at `frame[offset]`.
void StoreLow8(std::uint8_t* frame, std::size_t offset, std::int64_t value);
void StoreLow16(std::uint8_t* frame, std::size_t offset, std::int64_t value);
void StoreLow32(std::uint8_t* frame, std::size_t offset, std::int64_t value);
