#include "Value.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <limits>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace kx {
namespace {

TEST(Value, CopyingTextsSharesBytes) {
  std::string longText(100, 'x');
  Value a(longText);
  Value b = a;
  EXPECT_EQ(a.Str().data(), b.Str().data());  // no copy of the bytes
  Value shortText("hola");
  EXPECT_EQ(shortText.Str(), "hola");
  Value moved = std::move(a);
  EXPECT_EQ(moved.Str(), longText);
  EXPECT_TRUE(a.IsNil());
}

TEST(Value, TextsOfEveryShortLengthKeepTheirBytes) {
  // Each text is the whole of a buffer of its own size, so a read past its
  // end shows under the address sanitizer.
  const std::string source = "abcdefghijklmnopqrstuvwxyz";
  for (size_t n = 0; n <= 20; ++n) {
    std::unique_ptr<char[]> a(new char[n ? n : 1]), b(new char[n ? n : 1]);
    std::memcpy(a.get(), source.data(), n);
    std::memcpy(b.get(), source.data(), n);
    const Value x(std::string_view(a.get(), n));
    const Value y(std::string_view(b.get(), n));
    a.reset();
    b.reset();
    EXPECT_EQ(x.Str(), source.substr(0, n)) << n;
    EXPECT_TRUE(x.IsText()) << n;
    // Short texts hold nothing but their bytes: equal texts are the same bits.
    if (n <= 14) {
      EXPECT_TRUE(x.SameRef(y)) << n;
    }
  }
}

TEST(Value, ListsAndMapsAreSharedByReference) {
  Value m = Value::NewMap();
  Value alias = m;
  alias.Set("k", 1);
  EXPECT_EQ(m.Get("k").Int(), 1);
  EXPECT_TRUE(Equal(m, alias));
  EXPECT_FALSE(Equal(m, DeepClone(m)));  // maps equal only themselves
}

TEST(Map, KeepsInsertionOrderAndReplacesInPlace) {
  auto key = [](int i) { return std::string("k").append(std::to_string(i)); };
  Map m;
  for (int i = 0; i < 40; ++i) m.Set(key(i), i);  // past the index threshold
  m.Set("k3", "three");
  EXPECT_EQ(m.size(), 40u);
  EXPECT_EQ(m.KeyAt(3), "k3");
  EXPECT_EQ(m.ValueAt(3).Str(), "three");
  EXPECT_TRUE(m.Remove("k0"));
  EXPECT_FALSE(m.Remove("absent"));
  EXPECT_EQ(m.KeyAt(0), "k1");
  for (int i = 1; i < 40; ++i) {
    ASSERT_TRUE(m.Has(key(i))) << i;
    EXPECT_EQ(m.IndexOf(key(i)), static_cast<size_t>(i - 1));
  }
  EXPECT_FALSE(m.Has("K1"));  // case-sensitive
  m.Set("new", true);
  EXPECT_EQ(m.KeyAt(m.size() - 1), "new");
  Map small;
  small.Set("a", 1);
  small.Set("b", 2);
  small.Remove("a");
  EXPECT_EQ(small.KeyAt(0), "b");
  EXPECT_EQ(small.Get("a", Value("def")).Str(), "def");
}

TEST(Map, KeyVersionChangesOnlyWithTheKeys) {
  Map m;
  m.Set("a", 1);
  uint64_t v1 = m.KeyVersion();
  m.Set("a", 2);  // replacement in place
  EXPECT_EQ(m.KeyVersion(), v1);
  m.Set("b", 3);
  uint64_t v2 = m.KeyVersion();
  EXPECT_NE(v2, v1);
  m.Remove("b");
  EXPECT_NE(m.KeyVersion(), v2);
  Map other;
  other.Set("a", 1);
  EXPECT_NE(other.KeyVersion(), m.KeyVersion());  // unique across maps
}

TEST(Map, PopBackKeepsTheIndexOfTheRest) {
  auto key = [](int i) {
    std::string k = "k";
    k += std::to_string(i);
    return k;
  };
  Map m;
  for (int i = 0; i < 200; ++i) m.Set(key(i), i);
  uint64_t before = m.KeyVersion();
  for (int n = 200; n > 0; --n) {
    ASSERT_TRUE(m.PopBack());
    ASSERT_EQ(m.size(), static_cast<size_t>(n - 1));
    EXPECT_FALSE(m.Has(key(n - 1)));
    for (int i = 0; i < n - 1; i += 7) ASSERT_EQ(m.Get(key(i)).Int(), i) << n;
  }
  EXPECT_NE(m.KeyVersion(), before);
  EXPECT_FALSE(m.PopBack());
  m.Set("again", 1);
  EXPECT_EQ(m.IndexOf("again"), 0u);
}

TEST(Value, ArithmeticAndDecimals) {
  struct Row {
    const char* name;
    Value result;
    const char* text;
    int decimals;
  };
  Row rows[] = {
      {"10/4", Div(10, 4), "2.50", 2},
      {"10/0", Div(10, 0), "0", 0},
      {"10/2", Div(10, 2), "5.00", 2},
      {"1.5*2.25", Mul(Value::Real(1.5, 1), Value::Real(2.25, 2)), "3.375", 3},
      {"1.5+2.25", Add(Value::Real(1.5, 1), Value::Real(2.25, 2)), "3.75", 2},
      {"-90%360", Mod(-90, 360), "-90.00", 2},
      {"5%0", Mod(5, 0), "0", 0},
      {"int+int", Add(2, 3), "5", 0},
      {"overflow", Add(Value(INT64_MAX), Value(1)), "9223372036854776000", 0},
      {"mul overflow", Mul(Value(INT64_MAX), Value(2)), "18446744073709550000", 0},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(PlainText(r.result), r.text) << r.name;
    EXPECT_EQ(r.result.Decimals(), r.decimals) << r.name;
  }
  EXPECT_TRUE(Add(Value(INT64_MAX), Value(1)).IsReal());
  EXPECT_TRUE(Negate(Value(INT64_MIN)).IsReal());
}

TEST(Value, ReadNumberFromText) {
  struct Row {
    const char* text;
    const char* plain;
    bool isInt;
    int decimals;
  };
  Row rows[] = {
      {"12.50", "12.50", false, 2}, {"+7", "7", true, 0},
      {"7a", "7", true, 0},         {".5", "0.5", false, 1},
      {"-x", "0", true, 0},         {"", "0", true, 0},
      {"1,5", "1", true, 0},        {" \t-3.25x", "-3.25", false, 2},
      {"1.2.3", "1.2", false, 1},   {"5.", "5", false, 0},
      {"1e5", "1", true, 0},        {"99999999999999999999", "100000000000000000000", false, 0},
  };
  for (const Row& r : rows) {
    Value v = ReadNumber(r.text);
    EXPECT_EQ(PlainText(v), r.plain) << r.text;
    EXPECT_EQ(v.IsInt(), r.isInt) << r.text;
    EXPECT_EQ(v.Decimals(), r.decimals) << r.text;
  }
  EXPECT_EQ(PlainText(ValueNumber(Value("12,5"))), "12.5");
}

TEST(Value, RoundingAndTextForms) {
  EXPECT_EQ(PlainText(Round(Value(2.675), 2)), "2.68");
  EXPECT_EQ(PlainText(Round(Value(1.005), 2)), "1.01");
  Value r = Round(Value::Real(-2.5, 1), 0);
  EXPECT_TRUE(r.IsInt());
  EXPECT_EQ(r.Int(), -3);
  EXPECT_EQ(Round(Value(2.5), 0).Int(), 3);
  EXPECT_EQ(Round(Value(1250), -2).Int(), 1300);
  EXPECT_EQ(Round(Value(-1250), -2).Int(), -1300);
  EXPECT_EQ(IntPart(Value(-2.7)).Int(), -2);
  EXPECT_TRUE(IntPart(Value(-2.7)).IsInt());

  struct Row {
    double d;
    int decimals;
    const char* text;
  };
  Row rows[] = {
      {2.675, 2, "2.68"},
      {1.005, 2, "1.01"},
      {5, 2, "5.00"},
      {-2.5, 0, "-3"},
      {0.125, 2, "0.13"},
      {-0.001, 2, "0.00"},
      {9.995, 2, "10.00"},
      {0.5, 0, "1"},
      {0.4, 0, "0"},
      {123456.789, 1, "123456.8"},
      {1e20, 0, "100000000000000000000"},
      {0.1, 20, "0.10000000000000000000"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(FormatFixed(row.d, row.decimals), row.text) << row.d << " " << row.decimals;
  }
  // Away from a half, and with few enough digits that sixteen hold them all,
  // the text is the double's own rounding, as printf gives it (without the
  // sign of a negative that rounds to zero).
  std::mt19937_64 rng(42);
  for (int i = 0; i < 200000; ++i) {
    const int decimals = static_cast<int>(rng() % 10);
    const double magnitude = std::pow(10.0, static_cast<double>(rng() % 12) - 3.0);
    double d = std::uniform_real_distribution<double>(-magnitude, magnitude)(rng);
    if (i % 3 == 0) d = std::round(d * 100.0) / 100.0;  // amounts of cents
    const long double scaled = std::fabs(static_cast<long double>(d)) * std::pow(10.0L, decimals);
    if (scaled >= 1e9L || std::fabs(scaled - std::floor(scaled) - 0.5L) < 1e-4L) continue;
    char expected[512];
    std::snprintf(expected, sizeof expected, "%.*f", decimals, d);
    std::string want = expected;
    if (want[0] == '-' && want.find_first_not_of("-0.") == std::string::npos) want.erase(0, 1);
    ASSERT_EQ(FormatFixed(d, decimals), want) << d << " " << decimals;
  }
  EXPECT_EQ(WidthText(Value(3.14159), 8, 2), "    3.14");
  EXPECT_EQ(WidthText(Value(123456), 4, 0), "****");
  EXPECT_EQ(PlainText(Value(0.1 + 0.2)), "0.3");  // natural decimals: 16 digits at most
}

TEST(Value, NonFiniteNumbersNeverReachText) {
  Value inf = Value::Real(std::numeric_limits<double>::infinity(), 2);
  Value nan = Value(std::nan(""));
  EXPECT_TRUE(std::isfinite(inf.Double()));
  EXPECT_EQ(nan.Double(), 0.0);
  EXPECT_EQ(PlainText(nan), "0");
  EXPECT_EQ(DoubleToInt(1e300), INT64_MAX);
  EXPECT_EQ(DoubleToInt(-1e300), INT64_MIN);
  EXPECT_EQ(DoubleToInt(std::nan("")), 0);
  std::string big = PlainText(Mul(inf, Value(10)));
  EXPECT_EQ(big.find("inf"), std::string::npos);
}

TEST(Value, ConversionHelpers) {
  EXPECT_EQ(ValueString(Value()), "");
  EXPECT_EQ(ValueString(Value(true)), "1");
  EXPECT_EQ(ValueString(Value(false)), "");
  EXPECT_EQ(ValueString(Value::Real(5, 2)), "5.00");
  EXPECT_EQ(ValueString(Value::DateYMD(2025, 1, 31)), "20250131");
  EXPECT_EQ(ValueString(Value::EmptyDate()), "        ");
  EXPECT_EQ(ValueString(Value::NewMap()), "");
  EXPECT_EQ(FormulaString(Value::Real(5, 2)), "5");
  EXPECT_EQ(FormulaString(Div(10, 3)), "3.33");
  EXPECT_EQ(FormulaString(Value::Real(2.5, 2)), "2.50");
  const char* truthy[] = {"1", "true", " TRUE ", "t", "si", "y", "yes", "rue", "s"};
  for (const char* t : truthy) EXPECT_TRUE(ValueBool(Value(t))) << t;
  const char* falsy[] = {"", "no", "false", "2", "sí"};
  for (const char* t : falsy) EXPECT_FALSE(ValueBool(Value(t))) << t;
  EXPECT_EQ(DisplayText(Value::DateYMD(2024, 3, 7)), "03/07/24");
  EXPECT_EQ(DisplayText(Value::NewList()), "");
}

TEST(Value, Emptiness) {
  Value empty[] = {Value(),          Value(false),     Value(0),        Value::Real(0, 2),
                   Value(" \t\r\n"), Value::NewList(), Value::NewMap(), Value::EmptyDate()};
  for (const Value& v : empty) EXPECT_TRUE(IsEmpty(v)) << ExprText(v);
  Value full[] = {Value(true), Value(1), Value("x"), Value::NewList({1}),
                  Value::DateYMD(2020, 1, 1)};
  for (const Value& v : full) EXPECT_FALSE(IsEmpty(v)) << ExprText(v);
}

TEST(Value, ExpressionText) {
  struct Row {
    Value v;
    const char* text;
  };
  Row rows[] = {
      {Value(), "NIL"},
      {Value(true), ".T."},
      {Value(5), "5"},
      {Value::Real(5, 2), "5.00"},
      {Value("ab"), "\"ab\""},
      {Value("a\"b"), "'a\"b'"},
      {Value("a\"b'c"), "[a\"b'c]"},
      {Value::DateYMD(2024, 1, 2), "0d20240102"},
      {Value::EmptyDate(), "0d00000000"},
      {Value::NewList({"A", "B"}), "{\"A\", \"B\"}"},
      {Value::NewMap(), "{=>}"},
      {Value::NewMap({{"a", 1}, {"b", Value::NewList()}}), "{\"a\"=>1, \"b\"=>{}}"},
  };
  for (const Row& r : rows) EXPECT_EQ(ExprText(r.v), r.text);
  // Texts holding both quotes and a bracket stay distinct from every other form.
  EXPECT_NE(ExprText(Value("a\"b']")), ExprText(Value("a\"b'")));
  Value self = Value::NewMap();
  self.Set("me", self);  // a map that contains itself
  EXPECT_EQ(ExprText(self), "{\"me\"=>{...}}");
  self.AsMap().Clear();  // break the cycle so the map is freed
}

TEST(Value, ComparisonAndOrder) {
  EXPECT_TRUE(Greater(Value("abc"), Value("ab")));
  EXPECT_TRUE(Less(Value("ab"), Value("abc")));
  EXPECT_FALSE(Equal(Value("abc"), Value("ab")));
  EXPECT_TRUE(Equal(Value(5), Value::Real(5, 2)));
  EXPECT_TRUE(Less(Value("a"), Value("\xC3\xB1")));  // unsigned bytes
  EXPECT_FALSE(Equal(Value(1), Value("1")));
  EXPECT_FALSE(Less(Value(1), Value("2")));
  EXPECT_FALSE(GreaterEq(Value(), Value()));
  EXPECT_TRUE(Equal(Value(), Value()));
  EXPECT_TRUE(Less(Value(false), Value(true)));
  EXPECT_TRUE(Less(Value::DateYMD(2020, 1, 1), Value::DateYMD(2020, 1, 2)));
  Value list = Value::NewList({"a", "b", 3});
  EXPECT_EQ(FindInList(list, Value("")), 0u);
  EXPECT_EQ(FindInList(list, Value(3.0)), 3u);
  EXPECT_FALSE(TextContains("abc", ""));
  EXPECT_TRUE(TextContains("abc", "bc"));
}

TEST(Value, TextOperations) {
  EXPECT_EQ(Substr("abc", -1), "c");
  EXPECT_EQ(Substr("abc", 5), "");
  EXPECT_EQ(Substr("abc", 0, 2), "ab");
  EXPECT_EQ(Substr("abc", -10), "abc");  // clamped
  EXPECT_EQ(Substr("abc", 2, 0), "");
  EXPECT_EQ(Left("abc", 5), "abc");
  EXPECT_EQ(Left("abc", -1), "");
  EXPECT_EQ(Right("abc", 2), "bc");
  EXPECT_EQ(At("b", "abcb"), 2u);
  EXPECT_EQ(RAt("b", "abcb"), 4u);
  EXPECT_EQ(At("", "abc"), 0u);
  EXPECT_EQ(ReplaceAll("aaa", "aa", "b"), "ba");
  EXPECT_EQ(ReplaceAll("abc", "", "x"), "abc");
  auto pieces = Split("a,,b", ",");
  ASSERT_EQ(pieces.size(), 3u);
  EXPECT_EQ(pieces[1], "");
  EXPECT_EQ(Split("", ",").size(), 1u);
  EXPECT_EQ(Split("a,b", "").size(), 1u);
  EXPECT_EQ(PadLeft("ab", 4), "  ab");
  EXPECT_EQ(PadLeft("abcdef", 3), "abc");
  EXPECT_EQ(HexByte(255), "FF");
  EXPECT_EQ(HexByte(10), "0A");
  EXPECT_EQ(HexToNumber("1f"), 31);
  EXPECT_EQ(HexToNumber("1g"), 0);
  EXPECT_EQ(Asc("A"), 65);
  EXPECT_EQ(Chr(66), "B");
  EXPECT_EQ(AllTrim("\tx\n "), "x\n");
  EXPECT_EQ(RTrim("x\t"), "x\t");
  EXPECT_EQ(Upper("a\xC3\xB1o"), "A\xC3\xB1O");
  EXPECT_EQ(Lower("ABC"), "abc");
}

TEST(Value, Utf8) {
  std::string s = "a\xC3\xB1o\xE2\x82\xAC";  // "año€"
  EXPECT_EQ(Utf8Length(s), 4u);
  EXPECT_EQ(Utf8Substr(s, 2, 2), "\xC3\xB1o");
  EXPECT_EQ(Utf8Substr(s, -1), "\xE2\x82\xAC");
  EXPECT_TRUE(IsValidUtf8(s));
  EXPECT_FALSE(IsValidUtf8("\xC3"));
  EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));  // a surrogate
  EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));      // overlong
  EXPECT_EQ(Cp1252ToUtf8("\x80\xF1\x81"), "\xE2\x82\xAC\xC3\xB1\xC2\x81");
  std::string out;
  AppendUtf8(out, 0x1F600);
  EXPECT_EQ(out, "\xF0\x9F\x98\x80");
  // One character at a position: its length and code point, or 0.
  uint32_t cp = 0;
  EXPECT_EQ(Utf8SequenceAt(s, 1, cp), 2u);
  EXPECT_EQ(cp, 0xF1u);
  EXPECT_EQ(Utf8SequenceAt(s, 2, cp), 0u);  // a continuation byte
  EXPECT_EQ(Utf8SequenceAt(s, 4, cp), 3u);
  EXPECT_EQ(Utf8SequenceAt(s, 7, cp), 0u);                   // past the end
  EXPECT_EQ(Utf8SequenceAt("\xF4\x90\x80\x80", 0, cp), 0u);  // beyond U+10FFFF
}

TEST(Value, DeepCloneKeepsSharingAndSurvivesCycles) {
  Value shared = Value::NewList({1, 2});
  Value outer = Value::NewMap({{"a", shared}, {"b", shared}});
  Value copy = DeepClone(outer);
  EXPECT_FALSE(copy.Get("a").SameRef(shared));
  EXPECT_TRUE(copy.Get("a").SameRef(copy.Get("b")));
  Value self = Value::NewMap();
  self.Set("me", self);
  Value selfCopy = DeepClone(self);
  EXPECT_TRUE(selfCopy.Get("me").SameRef(selfCopy));
  self.AsMap().Clear();
  selfCopy.AsMap().Clear();
  // Very deep structures are copied without exhausting the stack.
  Value deep = Value::NewList();
  Value cur = deep;
  for (int i = 0; i < 5000; ++i) {
    Value next = Value::NewList();
    cur.Push(next);
    cur = next;
  }
  Value deepCopy = DeepClone(deep);
  EXPECT_FALSE(deepCopy.SameRef(deep));
}

// Lists and maps nested 200,000 deep, as a host may build them.
Value DeeplyNested(bool maps, int depth) {
  Value v = maps ? Value::NewMap() : Value::NewList();
  for (int i = 0; i < depth; ++i) {
    v = maps ? Value::NewMap({{"k", v}}) : Value::NewList({v});
  }
  return v;
}

TEST(Value, DeepValuesAreReleasedAndWalkedWithABoundedStack) {
  for (bool maps : {false, true}) {
    Value deep = DeeplyNested(maps, 200000);
    // Every walk over a value stops at its depth bound.
    EXPECT_FALSE(ExprText(deep).empty());
    Value copy = DeepClone(deep);
    EXPECT_TRUE(Equal(copy, copy));
    EXPECT_EQ(ValueString(deep), "");
    // A value that holds the last reference to another's inside is released too.
    Value holder = Value::NewList({deep});
    deep = Value();
    copy = Value();
    holder = Value();  // the last reference: released without recursion
  }
  // Shared parts stay alive for their other holders.
  Value inner = DeeplyNested(false, 10);
  Value outer = Value::NewList({inner, DeeplyNested(true, 200000)});
  outer = Value();
  EXPECT_EQ(ExprText(inner), std::string(10, '{') + "{}" + std::string(10, '}'));
}

TEST(Value, Dates) {
  Value d = DateFromCompact("20240229");
  EXPECT_EQ(DateYear(d), 2024);
  EXPECT_EQ(DateMonth(d), 2);
  EXPECT_EQ(DateDay(d), 29);
  EXPECT_EQ(DateCompact(d), "20240229");
  EXPECT_EQ(DateDow(Value::DateYMD(2000, 1, 1)), 7);   // a Saturday
  EXPECT_EQ(DateDow(Value::DateYMD(2026, 12, 6)), 1);  // a Sunday
  EXPECT_EQ(DateFromCompact("20230229").Jdn(), 0);
  EXPECT_EQ(DateFromCompact("2024022").Jdn(), 0);
  EXPECT_EQ(DateYear(Value::EmptyDate()), 0);
  EXPECT_EQ(DateDow(Value::EmptyDate()), 0);
}

TEST(Value, DatesOfAnyDayNumber) {
  struct Row {
    int32_t jdn;
    const char* compact;
  } rows[] =
      {
          {kFirstDateJdn, "00010101"},     {kLastDateJdn, "99991231"},
          {kFirstDateJdn - 1, "        "}, {kLastDateJdn + 1, "        "},
          {600000000, "        "},  // its year used to overflow the calendar conversion
          {INT32_MAX, "        "},         {-5, "        "},
      };
  for (const Row& r : rows) {
    const Value d = Value::Date(r.jdn);
    EXPECT_EQ(DateCompact(d), r.compact) << r.jdn;
    EXPECT_EQ(IsEmpty(d), std::string(r.compact) == "        ") << r.jdn;
    const Value ts = Value::Timestamp(r.jdn, 1000);
    EXPECT_EQ(ts.Jdn(), d.Jdn()) << r.jdn;
  }
  EXPECT_EQ(JdnFromYMD(1, 1, 1), kFirstDateJdn);
  EXPECT_EQ(JdnFromYMD(9999, 12, 31), kLastDateJdn);
  EXPECT_EQ(DisplayText(Value::Date(600000000)), DisplayText(Value::EmptyDate()));
  EXPECT_EQ(ExprText(Value::Date(600000000)), "0d00000000");
  // A timestamp keeps its time inside its day.
  EXPECT_EQ(Value::Timestamp(kFirstDateJdn, -1).MsOfDay(), 0);
  EXPECT_EQ(Value::Timestamp(kFirstDateJdn, INT32_MAX).Jdn(), kFirstDateJdn);
}

}  // namespace
}  // namespace kx

namespace kx {
namespace {

TEST(Map, CopiesShareKeysUntilEitherChangesThem) {
  Map original;
  for (int i = 0; i < 20; ++i) original.Set("clave_larga_numero_" + std::to_string(i), i);
  Map copy(original);
  copy.ValueAt(3) = Value("changed");  // values are the copy's own
  EXPECT_EQ(original.ValueAt(3).Int(), 3);
  copy.Set("extra", 1);  // a new key copies the key table first
  EXPECT_FALSE(original.Has("extra"));
  EXPECT_EQ(copy.size(), 21u);
  original.Remove("clave_larga_numero_0");
  EXPECT_TRUE(copy.Has("clave_larga_numero_0"));
  EXPECT_EQ(copy.IndexOf("clave_larga_numero_19"), 19u);
  EXPECT_EQ(original.IndexOf("clave_larga_numero_19"), 18u);
  Map third = copy;
  third.Clear();
  EXPECT_EQ(copy.size(), 21u);
  EXPECT_NE(third.KeyVersion(), copy.KeyVersion());
  // Entries can be assigned through the iteration view.
  for (Map::Entry e : copy) e.value = Value(0);
  EXPECT_EQ(copy.Get("extra").Int(), 0);
  EXPECT_EQ(original.ValueAt(0).Int(), 1);
}

TEST(Map, EveryChangeOfKeysLeavesTheMapsThatShareThemAsTheyWere) {
  // Each change of keys, made on one of two maps that share a key table (a copy of a built map,
  // of a constant one, of an empty one), leaves the other with its keys and values.
  struct Cambio {
    const char* nombre;
    void (*hacer)(Map&);
  };
  const Cambio cambios[] = {
      {"Set", [](Map& m) { m.Set("nueva", 9); }},
      {"Append", [](Map& m) { m.Append(Value("otra"), 8); }},
      {"Remove", [](Map& m) { m.Remove("b"); }},
      {"PopBack", [](Map& m) { m.PopBack(); }},
      {"Reserve",
       [](Map& m) {
         m.Reserve(64);
         m.Set("tras_reservar", 7);
       }},
      {"Clear", [](Map& m) { m.Clear(); }},
  };
  static const Map& constante = ConstantMap({{"a", Value(1)}, {"b", Value(2)}, {"c", Value(3)}});
  for (const Cambio& cambio : cambios) {
    for (int fuente = 0; fuente < 3; ++fuente) {
      SCOPED_TRACE(std::string(cambio.nombre) + " on a copy of map " + std::to_string(fuente));
      Map construido;
      for (const char* k : {"a", "b", "c"}) construido.Set(k, static_cast<int64_t>(*k - 'a' + 1));
      const Map vacio;
      const Map& original = fuente == 0 ? construido : fuente == 1 ? constante : vacio;
      const std::vector<std::string> antes = [&] {
        std::vector<std::string> claves;
        for (size_t i = 0; i < original.size(); ++i) claves.emplace_back(original.KeyAt(i));
        return claves;
      }();
      for (bool cambiaLaCopia : {true, false}) {
        Map copia(original);
        Map otra(original);
        cambio.hacer(cambiaLaCopia ? copia : otra);
        const Map& intacta = cambiaLaCopia ? otra : copia;
        ASSERT_EQ(intacta.size(), antes.size());
        ASSERT_EQ(original.size(), antes.size());
        for (size_t i = 0; i < antes.size(); ++i) {
          EXPECT_EQ(intacta.KeyAt(i), antes[i]);
          EXPECT_EQ(intacta.Get(antes[i]).Int(), static_cast<int64_t>(i + 1));
          EXPECT_EQ(original.Get(antes[i]).Int(), static_cast<int64_t>(i + 1));
        }
        EXPECT_FALSE(intacta.Has("nueva") || intacta.Has("otra") || intacta.Has("tras_reservar"));
      }
    }
  }
  // A map built alone takes its keys without a copy and finds them by its index past a handful.
  Map grande;
  for (int i = 0; i < 40; ++i) grande.Set(std::string("k").append(std::to_string(i)), i);
  const Map copia(grande);
  for (int i = 40; i < 80; ++i) grande.Set(std::string("k").append(std::to_string(i)), i);
  EXPECT_EQ(grande.IndexOf("k79"), 79u);
  EXPECT_EQ(copia.IndexOf("k39"), 39u);
  EXPECT_FALSE(copia.Has("k40"));
}

TEST(Map, KeyTableIdentityFollowsTheKeys) {
  Map original;
  original.Set("a", 1);
  original.Set("b", 2);
  Map copy(original);
  EXPECT_EQ(copy.KeyTableIdentity(), original.KeyTableIdentity());
  copy.ValueAt(0) = Value(5);  // a new value keeps the keys
  EXPECT_EQ(copy.KeyTableIdentity(), original.KeyTableIdentity());
  copy.Set("c", 3);
  EXPECT_NE(copy.KeyTableIdentity(), original.KeyTableIdentity());
  Map same;  // the same keys, built on their own
  same.Set("a", 1);
  same.Set("b", 2);
  EXPECT_NE(same.KeyTableIdentity(), original.KeyTableIdentity());
}

TEST(Map, AKeyHintFindsItsKeyWhereverItStands) {
  KeyHint hint("alineacionVertical");
  Map first;
  first.Set("id", 1);
  first.Set("alineacionVertical", "top");
  Map moved;
  moved.Set("alineacionVertical", "center");
  Map other;
  other.Set("id", 2);
  other.Set("x", 3);
  // Found in its place, then in another place, then absent at the place it last stood.
  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ(hint.Get(Value(MakeRef<Map>(first))).Str(), "top");
    EXPECT_EQ(hint.Get(Value(MakeRef<Map>(moved))).Str(), "center");
    EXPECT_EQ(hint.Find(other), nullptr);
  }
  EXPECT_TRUE(hint.Get(Value(3)).IsNil());
}

TEST(Map, LongKeysAreSharedTexts) {
  Value a = KeyText("alineacionVertical");
  Value b = KeyText("alineacionVertical");
  EXPECT_TRUE(a.SameRef(b));
  EXPECT_EQ(a.Str(), "alineacionVertical");
  // A key far longer than any of the vocabulary is a text of its own.
  const std::string huge(300, 'k');
  EXPECT_FALSE(KeyText(huge).SameRef(KeyText(huge)));
  EXPECT_EQ(KeyText(huge).Str(), huge);
}

// Runs `work(t)` on eight threads at once and waits for them.
void OnEightThreads(const std::function<void(int)>& work) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) threads.emplace_back(work, t);
  for (std::thread& th : threads) th.join();
}

// Every thread gets the one pooled text of a key, also when several threads
// pool a new key at the same moment.
TEST(Map, EveryThreadGetsTheSamePooledKey) {
  constexpr int kKeys = 200;
  std::vector<std::vector<const char*>> seen(8, std::vector<const char*>(kKeys));
  OnEightThreads([&](int t) {
    for (int k = 0; k < kKeys; ++k) {
      const int key = (k + t * 25) % kKeys;  // the threads meet the keys in different orders
      const Value text = KeyText("clave_de_hilos_" + std::to_string(key));
      Map m;
      m.SetKey(text, key);  // shared into a map and released again
      seen[t][key] = text.Str().data();
    }
  });
  for (int k = 0; k < kKeys; ++k) {
    const Value text = KeyText("clave_de_hilos_" + std::to_string(k));
    EXPECT_EQ(text.Str(), "clave_de_hilos_" + std::to_string(k));
    for (int t = 0; t < 8; ++t) EXPECT_EQ(seen[t][k], text.Str().data()) << k << " " << t;
  }
}

// Key versions stay unique in the process when maps change on many threads.
TEST(Map, KeyVersionsAreUniqueAcrossThreads) {
  constexpr int kMaps = 20000;  // several blocks of versions per thread
  std::vector<std::vector<uint64_t>> versions(8);
  OnEightThreads([&](int t) {
    for (int i = 0; i < kMaps; ++i) {
      Map m;
      m.Set("a", i);
      versions[t].push_back(m.KeyVersion());
    }
  });
  std::set<uint64_t> all;
  for (const auto& v : versions) all.insert(v.begin(), v.end());
  EXPECT_EQ(all.size(), 8u * kMaps);
  EXPECT_EQ(all.count(0), 0u);
}

TEST(Map, MapsMadeOnOneThreadAndReleasedOnAnotherStayWhole) {
  // An engine may be handed from thread to thread: its maps and texts are
  // then freed where they were not made, and the freeing thread ends.
  const auto key = [](int k) {
    std::string s = "k";
    s += std::to_string(k);
    return s;
  };
  std::vector<Value> made;
  for (int i = 0; i < 2000; ++i) {
    Value m = Value::NewMap({{"clave", Value(std::string(20 + i % 40, 'a' + i % 26))}});
    for (int k = 0; k < i % 70; ++k) m.Set(key(k), Value(k));
    made.push_back(std::move(m));
  }
  std::thread releaser([&made] { made.clear(); });
  releaser.join();
  // Blocks of every size are made again here, and read back whole.
  for (int i = 0; i < 2000; ++i) {
    Value m = Value::NewMap({{"clave", Value(std::string(20 + i % 40, 'b'))}});
    for (int k = 0; k < i % 70; ++k) m.Set(key(k), Value(k));
    ASSERT_EQ(m.Get("clave").Str(), std::string(20 + i % 40, 'b'));
    ASSERT_EQ(m.Len(), static_cast<size_t>(1 + i % 70));
    for (int k = 0; k < i % 70; ++k) ASSERT_EQ(m.Get(key(k)).Int(), k);
  }
}

TEST(Map, ConstantMapHoldsItsEntriesWithoutReferences) {
  const std::string longText(40, 't');
  static const Map& m = ConstantMap({{"tipo", "rectangulo"},
                                     {"sombraTransparencia", 50},
                                     {"largo", longText},
                                     {"lista", Value::NewList({1})},
                                     {"tipo", "linea"}});
  ASSERT_EQ(m.size(), 4u);
  // A repeated key keeps its first place and takes the last value.
  EXPECT_EQ(m.KeyAt(0), "tipo");
  EXPECT_EQ(m.ValueAt(0).Str(), "linea");
  EXPECT_EQ(m.KeyAt(1), "sombraTransparencia");
  EXPECT_EQ(m.Get("sombraTransparencia").Int(), 50);
  EXPECT_EQ(m.Get("largo").Str(), longText);
  EXPECT_TRUE(m.Has("lista"));
  EXPECT_TRUE(m.Get("lista").IsNil());  // a constant holds no reference
}

// Copies of a constant map made and changed on many threads at once leave
// it as it was (the thread sanitizer build sees any write to it).
TEST(Map, ConstantMapCopiesOnManyThreads) {
  static const Map& proto = ConstantMap({{"id", ""},
                                         {"tipo", "rectangulo"},
                                         {"colorBordeLargo", "#000000 largo de mas"},
                                         {"alineacionVertical", "top"},
                                         {"a", 1},
                                         {"b", 2},
                                         {"c", 3},
                                         {"d", 4},
                                         {"e", 5}});
  OnEightThreads([](int t) {
    for (int i = 0; i < 2000; ++i) {
      Value copy(MakeRef<Map>(proto));
      Map& m = copy.AsMap();
      m.ValueAt(0) = Value(std::to_string(t * 10000 + i));
      if (i % 3 == 0) m.Set("extra", i);  // a new key: the copy takes keys of its own
      if (i % 5 == 0) m.Remove("tipo");
      Map again(m);  // a copy of the copy shares the copy's keys
      ASSERT_EQ(again.Get("id").Str(), std::to_string(t * 10000 + i));
      ASSERT_EQ(again.Get("alineacionVertical").Str(), "top");
    }
  });
  ASSERT_EQ(proto.size(), 9u);
  EXPECT_EQ(proto.Get("id").Str(), "");
  EXPECT_EQ(proto.Get("tipo").Str(), "rectangulo");
  EXPECT_EQ(proto.Get("colorBordeLargo").Str(), "#000000 largo de mas");
  EXPECT_FALSE(proto.Has("extra"));
  EXPECT_EQ(proto.IndexOf("e"), 8u);
}

}  // namespace
}  // namespace kx
