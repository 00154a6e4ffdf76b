// Numbers of the value type: arithmetic that keeps a real's decimals count,
// reading a number from text, rounding and the plain and fixed text forms.
// Part of the value type's vocabulary: include Value.h, which includes this.
#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

namespace kx {

class Value;

// Integer with integer under + - * stays an integer unless it overflows.
// Otherwise + and - keep the larger decimals count and * the sum; / and %
// give 2 decimals; a zero divisor gives the integer 0. Non-numbers count as 0.
Value Add(const Value& a, const Value& b);
Value Sub(const Value& a, const Value& b);
Value Mul(const Value& a, const Value& b);
Value Div(const Value& a, const Value& b);
Value Mod(const Value& a, const Value& b);
Value Negate(const Value& a);

// Leading number of a text: blanks, sign, digits, one point and digits.
Value ReadNumber(std::string_view s);
// Integer part, truncated toward zero.
Value IntPart(const Value& n);
// Round half away from zero to n decimals: a real for n > 0, else an integer.
Value Round(const Value& n, int decimals);
// A double truncated toward zero into int64, saturating; NaN gives 0.
int64_t DoubleToInt(double d) noexcept;
// Finite doubles pass; NaN becomes 0 and infinities the largest finite values.
// Inline: every real value made passes here.
inline double SaneDouble(double d) noexcept {
  if (d != d) return 0.0;
  if (d > std::numeric_limits<double>::max()) return std::numeric_limits<double>::max();
  if (d < -std::numeric_limits<double>::max()) return -std::numeric_limits<double>::max();
  return d;
}

// Plain form of a number (integers as digits, reals with their decimals count).
std::string PlainText(const Value& n);
std::string FormatFixed(double d, int decimals);
// Right-aligned in `width` characters, or `width` asterisks when it does not fit.
std::string WidthText(const Value& n, int width, int decimals);

}  // namespace kx
