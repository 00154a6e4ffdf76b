// Dates of the value type: Julian day numbers of the proleptic Gregorian
// calendar, the compact YYYYMMDD form and the calendar parts.
//
// Dates run from 1 January of the year 1 to 31 December 9999. A date made of
// any other day number (a host's `Value::Date(600000000)`, a timestamp's day)
// is the empty date, as the compact form's reader makes of anything that is
// not a valid date: every conversion below holds inside those years.
// Part of the value type's vocabulary: include Value.h, which includes this.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kx {

class Value;

// The day numbers of the first and the last date.
inline constexpr int32_t kFirstDateJdn = 1721426;  // 1 January 1
inline constexpr int32_t kLastDateJdn = 5373484;   // 31 December 9999

int32_t JdnFromYMD(int y, int m, int d);  // 0 when invalid
void YMDFromJdn(int32_t jdn, int& y, int& m, int& d);
// YYYYMMDD; eight blanks for the empty date.
std::string DateCompact(const Value& date);
// Eight digits of a valid date give it; anything else the empty date.
Value DateFromCompact(std::string_view s);
int DateYear(const Value& date);
int DateMonth(const Value& date);
int DateDay(const Value& date);
int DateDow(const Value& date);  // 1 Sunday .. 7 Saturday; 0 when empty

}  // namespace kx
