// What the value type's own source files share and nobody else needs: the
// shortest decimal digits of a double, the blank characters of trimming and
// number reading, and the fixed-width digits of dates and times.
#pragma once

#include <cstdint>
#include <string>

namespace kx::detail {

inline constexpr int64_t kMsPerDay = 86400000;

// Digits and exponent of |d| with 16 significant digits: value = 0.D * 10^point.
struct Digits {
  char d[17];
  int point;
};
Digits SixteenDigits(double a);

// Decimals a natural real needs: its 16-digit text without trailing zeros.
int NaturalDecimals(double d);

// TAB, LF, CR and space.
inline bool IsBlankChar(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Two digits of the number's last two decimal places.
inline void Append2(std::string& out, int v) {
  out.push_back(static_cast<char>('0' + (v / 10) % 10));
  out.push_back(static_cast<char>('0' + v % 10));
}

}  // namespace kx::detail
