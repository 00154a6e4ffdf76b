// Numbers: arithmetic with decimals counts, reading, rounding and text forms.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "Value.h"
#include "ValueInterno.h"

namespace kx {

namespace detail {

Digits SixteenDigits(double a) {
  // The shortest text that reads back as the same double is what the value
  // "is" in decimal (2.675, not 2.67499999...); only past 16 significant
  // digits is it rounded to 16.
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, a, std::chars_format::scientific);
  int count = 0;
  for (const char* p = buf; p < res.ptr && *p != 'e'; ++p) count += (*p >= '0' && *p <= '9');
  if (count > 16) res = std::to_chars(buf, buf + sizeof buf, a, std::chars_format::scientific, 15);
  Digits out{};
  std::memset(out.d, '0', 16);
  int n = 0;
  const char* p = buf;
  for (; p < res.ptr && *p != 'e'; ++p) {
    if (*p >= '0' && *p <= '9' && n < 16) out.d[n++] = *p;
  }
  int exp = 0;
  if (p < res.ptr) std::from_chars(p[1] == '+' ? p + 2 : p + 1, res.ptr, exp);
  out.d[16] = '\0';
  out.point = exp + 1;
  return out;
}

// Decimals a natural real needs: its 16-digit text without trailing zeros.
int NaturalDecimals(double d) {
  double a = std::fabs(d);
  if (a == 0.0) return 0;
  Digits dg = SixteenDigits(a);
  int k = 16;
  while (k > 1 && dg.d[k - 1] == '0') --k;
  return std::clamp(k - dg.point, 0, kMaxDecimals);
}

}  // namespace detail

using detail::Digits;
using detail::IsBlankChar;
using detail::SixteenDigits;

int64_t DoubleToInt(double d) noexcept {
  if (std::isnan(d)) return 0;
  d = std::trunc(d);
  // 2^63 is exactly representable; anything at or above it saturates.
  if (d >= 9223372036854775808.0) return INT64_MAX;
  if (d < -9223372036854775808.0) return INT64_MIN;
  return static_cast<int64_t>(d);
}

namespace {

int DecimalsOf(const Value& v) {
  return v.Decimals();
}

Value RealResult(double d, int decimals) {
  return Value::Real(d, decimals);
}

}  // namespace

Value Add(const Value& a, const Value& b) {
  if (a.IsInt() && b.IsInt()) {
    int64_t r;
    if (!__builtin_add_overflow(a.Int(), b.Int(), &r)) return Value(r);
    return RealResult(a.Double() + b.Double(), 0);
  }
  return RealResult(a.Double() + b.Double(), std::max(DecimalsOf(a), DecimalsOf(b)));
}

Value Sub(const Value& a, const Value& b) {
  if (a.IsInt() && b.IsInt()) {
    int64_t r;
    if (!__builtin_sub_overflow(a.Int(), b.Int(), &r)) return Value(r);
    return RealResult(a.Double() - b.Double(), 0);
  }
  return RealResult(a.Double() - b.Double(), std::max(DecimalsOf(a), DecimalsOf(b)));
}

Value Mul(const Value& a, const Value& b) {
  if (a.IsInt() && b.IsInt()) {
    int64_t r;
    if (!__builtin_mul_overflow(a.Int(), b.Int(), &r)) return Value(r);
    return RealResult(a.Double() * b.Double(), 0);
  }
  return RealResult(a.Double() * b.Double(), DecimalsOf(a) + DecimalsOf(b));
}

Value Div(const Value& a, const Value& b) {
  double divisor = b.Double();
  if (divisor == 0.0) return Value(0);
  return RealResult(a.Double() / divisor, 2);
}

Value Mod(const Value& a, const Value& b) {
  double divisor = b.Double();
  if (divisor == 0.0) return Value(0);
  return RealResult(std::fmod(a.Double(), divisor), 2);
}

Value Negate(const Value& a) {
  if (a.IsInt()) {
    if (a.Int() == INT64_MIN) return RealResult(-a.Double(), 0);
    return Value(-a.Int());
  }
  if (a.IsReal()) return RealResult(-a.Double(), a.Decimals());
  return Value(0);
}

Value ReadNumber(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && IsBlankChar(s[i])) ++i;
  bool neg = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
    neg = s[i] == '-';
    ++i;
  }
  size_t intStart = i;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
  std::string_view intDigits = s.substr(intStart, i - intStart);
  bool point = false;
  std::string_view fracDigits;
  if (i < s.size() && s[i] == '.') {
    point = true;
    size_t fracStart = ++i;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
    fracDigits = s.substr(fracStart, i - fracStart);
  }
  if (intDigits.empty() && fracDigits.empty()) return Value(0);
  if (!point) {
    int64_t v = 0;
    auto res = std::from_chars(intDigits.data(), intDigits.data() + intDigits.size(), v);
    if (res.ec == std::errc()) return Value(neg ? -v : v);
  }
  std::string text;
  text.reserve(intDigits.size() + fracDigits.size() + 3);
  text.append(intDigits.empty() ? std::string_view("0") : intDigits);
  text.push_back('.');
  text.append(fracDigits.empty() ? std::string_view("0") : fracDigits);
  double d = 0.0;
  auto res = std::from_chars(text.data(), text.data() + text.size(), d);
  if (res.ec == std::errc::result_out_of_range) d = std::numeric_limits<double>::max();
  int decimals = point ? static_cast<int>(std::min<size_t>(fracDigits.size(), kMaxDecimals)) : 0;
  return Value::Real(neg ? -d : d, decimals);
}

Value IntPart(const Value& n) {
  if (n.IsInt()) return n;
  if (!n.IsReal()) return Value(0);
  double t = std::trunc(n.Double());
  if (t >= -9223372036854775808.0 && t < 9223372036854775808.0) {
    return Value(static_cast<int64_t>(t));
  }
  return Value::Real(t, 0);
}

namespace {

// |d| rounded half away from zero to `decimals` places (negative rounds to
// tens, hundreds...), as decimal digit strings. Works on the 16-significant-
// digit text so that 2.675 rounds to 2.68 as written.
struct RoundedDecimal {
  bool negative = false;
  std::string intPart = "0";
  std::string fracPart;
};

RoundedDecimal RoundDecimal(double d, int decimals) {
  RoundedDecimal out;
  decimals = std::clamp(decimals, -400, 400);
  if (decimals > 0) out.fracPart.assign(static_cast<size_t>(decimals), '0');
  d = SaneDouble(d);
  if (d == 0.0) return out;
  Digits dg = SixteenDigits(std::fabs(d));
  int point = dg.point;
  int keep = point + decimals;
  if (keep < 0) return out;
  std::string digits(dg.d, static_cast<size_t>(std::min(keep, 16)));
  if (keep < 16 && dg.d[keep] >= '5') {
    int k = static_cast<int>(digits.size()) - 1;
    while (k >= 0 && digits[static_cast<size_t>(k)] == '9') digits[static_cast<size_t>(k--)] = '0';
    if (k >= 0) {
      ++digits[static_cast<size_t>(k)];
    } else {
      digits.insert(digits.begin(), '1');
      ++point;
    }
  }
  if (digits.find_first_not_of('0') == std::string::npos) return out;
  out.negative = d < 0;
  auto digitAt = [&](int pos) -> char {
    return pos >= 0 && pos < static_cast<int>(digits.size()) ? digits[static_cast<size_t>(pos)]
                                                             : '0';
  };
  if (point > 0) {
    out.intPart.clear();
    for (int p = 0; p < point; ++p) out.intPart.push_back(digitAt(p));
    size_t nz = out.intPart.find_first_not_of('0');
    out.intPart = nz == std::string::npos ? "0" : out.intPart.substr(nz);
  }
  for (int p = 0; p < decimals; ++p) out.fracPart[static_cast<size_t>(p)] = digitAt(point + p);
  return out;
}

}  // namespace

namespace {

// FormatFixed for the common case, from the double alone: a number whose
// scaled value is below 1e9 in magnitude lies within 1e-6 of the scaled
// 16-digit text, so unless that is within 1e-5 of a half the two round alike.
// False when the text must come from the digits.
bool FormatFixedFast(double d, int decimals, std::string& out) {
  static constexpr double kPow10[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9};
  if (decimals > 9) return false;
  const double scaled = std::fabs(d) * kPow10[decimals];
  if (!(scaled < 1e9)) return false;
  double whole = std::floor(scaled);
  const double frac = scaled - whole;
  if (std::fabs(frac - 0.5) < 1e-5) return false;
  if (frac > 0.5) whole += 1.0;
  const auto units = static_cast<uint64_t>(whole);
  char digits[24];
  char* end = std::to_chars(digits, digits + sizeof digits, units).ptr;
  const int n = static_cast<int>(end - digits);
  out.clear();
  if (d < 0 && units != 0) out.push_back('-');
  // The whole part, then the point and the decimals, zeros in front as needed.
  if (n > decimals) {
    out.append(digits, static_cast<size_t>(n - decimals));
  } else {
    out.push_back('0');
  }
  if (decimals > 0) {
    out.push_back('.');
    if (n < decimals) out.append(static_cast<size_t>(decimals - n), '0');
    const int fromDigit = n > decimals ? n - decimals : 0;
    out.append(digits + fromDigit, end);
  }
  return true;
}

}  // namespace

std::string FormatFixed(double d, int decimals) {
  decimals = std::clamp(decimals, 0, 400);
  std::string fast;
  if (FormatFixedFast(SaneDouble(d), decimals, fast)) return fast;
  RoundedDecimal r = RoundDecimal(d, decimals);
  std::string out;
  out.reserve(r.intPart.size() + r.fracPart.size() + 2);
  if (r.negative) out.push_back('-');
  out += r.intPart;
  if (decimals > 0) {
    out.push_back('.');
    out += r.fracPart;
  }
  return out;
}

Value Round(const Value& n, int decimals) {
  decimals = std::clamp(decimals, -400, kMaxDecimals);
  if (n.IsInt() && decimals >= 0) {
    return decimals == 0 ? n : Value::Real(n.Double(), decimals);
  }
  if (!n.IsNumber()) return decimals > 0 ? Value::Real(0.0, decimals) : Value(0);
  RoundedDecimal r = RoundDecimal(n.Double(), decimals);
  std::string text = r.intPart;
  if (decimals > 0) text += "." + r.fracPart;
  double value = 0.0;
  std::from_chars(text.data(), text.data() + text.size(), value);
  if (r.negative) value = -value;
  if (decimals > 0) return Value::Real(value, decimals);
  return IntPart(Value::Real(value, 0));
}

std::string PlainText(const Value& n) {
  if (n.IsInt()) {
    char buf[24];
    auto res = std::to_chars(buf, buf + sizeof buf, n.Int());
    return std::string(buf, res.ptr);
  }
  if (n.IsReal()) return FormatFixed(n.Double(), n.Decimals());
  return "0";
}

std::string WidthText(const Value& n, int width, int decimals) {
  width = std::clamp(width, 0, 4096);
  std::string t = FormatFixed(n.Double(), std::clamp(decimals, 0, kMaxDecimals));
  if (n.IsInt() && decimals <= 0) t = PlainText(n);
  if (static_cast<int>(t.size()) > width) return std::string(static_cast<size_t>(width), '*');
  return std::string(static_cast<size_t>(width) - t.size(), ' ') + t;
}

}  // namespace kx
