// Dates as Julian day numbers of the proleptic Gregorian calendar.
#include "Value.h"
#include "ValueInterno.h"

namespace kx {

using detail::Append2;

int32_t JdnFromYMD(int y, int m, int d) {
  if (y < 1 || y > 9999 || m < 1 || m > 12 || d < 1) return 0;
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  int maxDay = kDays[m - 1] + (m == 2 && leap ? 1 : 0);
  if (d > maxDay) return 0;
  int a = (14 - m) / 12;
  int yy = y + 4800 - a;
  int mm = m + 12 * a - 3;
  return d + (153 * mm + 2) / 5 + 365 * yy + yy / 4 - yy / 100 + yy / 400 - 32045;
}

void YMDFromJdn(int32_t jdn, int& y, int& m, int& d) {
  if (jdn <= 0) {
    y = m = d = 0;
    return;
  }
  int a = jdn + 32044;
  int b = (4 * a + 3) / 146097;
  int c = a - 146097 * b / 4;
  int dd = (4 * c + 3) / 1461;
  int e = c - 1461 * dd / 4;
  int mm = (5 * e + 2) / 153;
  d = e - (153 * mm + 2) / 5 + 1;
  m = mm + 3 - 12 * (mm / 10);
  y = 100 * b + dd - 4800 + mm / 10;
}

std::string DateCompact(const Value& date) {
  if (date.Jdn() == 0) return std::string(8, ' ');
  int y, m, d;
  YMDFromJdn(date.Jdn(), y, m, d);
  std::string out;
  Append2(out, y / 100);
  Append2(out, y % 100);
  Append2(out, m);
  Append2(out, d);
  return out;
}

Value DateFromCompact(std::string_view s) {
  if (s.size() != 8) return Value::EmptyDate();
  for (char c : s) {
    if (c < '0' || c > '9') return Value::EmptyDate();
  }
  auto num = [&](size_t from, size_t len) {
    int v = 0;
    for (size_t i = from; i < from + len; ++i) v = v * 10 + (s[i] - '0');
    return v;
  };
  return Value::DateYMD(num(0, 4), num(4, 2), num(6, 2));
}

int DateYear(const Value& date) {
  int y, m, d;
  YMDFromJdn(date.Jdn(), y, m, d);
  return y;
}

int DateMonth(const Value& date) {
  int y, m, d;
  YMDFromJdn(date.Jdn(), y, m, d);
  return m;
}

int DateDay(const Value& date) {
  int y, m, d;
  YMDFromJdn(date.Jdn(), y, m, d);
  return d;
}

int DateDow(const Value& date) {
  if (date.Jdn() == 0) return 0;
  // JDN 0 mod 7 is a Monday; shift so that Sunday is 1.
  return static_cast<int>((date.Jdn() + 1) % 7) + 1;
}

}  // namespace kx
