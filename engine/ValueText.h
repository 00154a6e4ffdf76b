// Text forms of values, the conversions every module shares, and comparison.
// Part of the value type's vocabulary: include Value.h, which includes this.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kx {

class Value;
// The shared nothing, for readers that answer a reference.
extern const Value kNil;

// ---------------------------------------------------------------------------
// Text forms and conversions

// Month, day and two-digit year for dates; "" for lists, maps, objects, callables.
std::string DisplayText(const Value& v);
// The canonical one-line key text of a value.
std::string ExprText(const Value& v);
// nothing "", text itself, number plain form, true "1" false "", date YYYYMMDD
// (eight blanks when empty), other kinds their trimmed display text.
std::string ValueString(const Value& v);
// As ValueString, but an integral number is written without decimals and a
// date by its display text.
std::string FormulaString(const Value& v);
// A number unchanged; a text read after "," becomes "."; true 1, false 0; else 0.
Value ValueNumber(const Value& v);
double ValueDouble(const Value& v);
int64_t ValueInt(const Value& v);
// A logical itself; a number not 0; a text whose trimmed lower-case form is
// a non-empty part of "1.true.t.si.y.yes"; else false.
bool ValueBool(const Value& v);
// The value under exactly `key` when `m` is a map holding it, else `def`.
const Value& HGet(const Value& m, std::string_view key, const Value& def = kNil);
// Nothing, false, 0, blank text, empty list or map, the empty date.
bool IsEmpty(const Value& v);

// ---------------------------------------------------------------------------
// Comparison

bool Equal(const Value& a, const Value& b);
bool Less(const Value& a, const Value& b);
bool LessEq(const Value& a, const Value& b);
bool Greater(const Value& a, const Value& b);
bool GreaterEq(const Value& a, const Value& b);
// 1-based position of the first element equal to v, 0 when none.
size_t FindInList(const Value& list, const Value& v);
// The needle occurs in the text as a run of bytes; never for an empty needle.
bool TextContains(std::string_view hay, std::string_view needle);

}  // namespace kx
