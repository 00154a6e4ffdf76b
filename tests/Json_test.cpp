#include "Json.h"

#include <gtest/gtest.h>

namespace kx {
namespace {

TEST(Json, DecodesNumbersWithTheirDecimals) {
  struct Row {
    const char* json;
    const char* plain;
    bool isInt;
    int decimals;
  };
  Row rows[] = {
      {"12", "12", true, 0},
      {"-7", "-7", true, 0},
      {"12.50", "12.50", false, 2},
      {"3.0", "3.0", false, 1},
      {"1e-3", "0.001", false, 3},
      {"2.5e2", "250.0", false, 1},
      {"1E+2", "100", false, 0},
      {"1.25e-1", "0.125", false, 3},
      {"1e-400", "0.000000000000000000000000000000", false, 30},
      {"1e999999999999", "", false, 0},
      {"123456789012345678901", "123456789012345700000", false, 0},
  };
  for (const Row& r : rows) {
    Value v = JsonDecode(r.json);
    ASSERT_TRUE(v.IsNumber()) << r.json;
    if (*r.plain) {
      EXPECT_EQ(PlainText(v), r.plain) << r.json;
    }
    EXPECT_EQ(v.IsInt(), r.isInt) << r.json;
    EXPECT_EQ(v.Decimals(), r.decimals) << r.json;
  }
  EXPECT_GT(JsonDecode("1e999999999999").Double(), 1e308);  // saturates, stays finite
}

TEST(Json, MapsKeepOrderAndRepeatedKeysTakeTheLastValue) {
  Value v = JsonDecode(R"({"b":1,"a":2,"b":3})");
  ASSERT_TRUE(v.IsMap());
  ASSERT_EQ(v.AsMap().size(), 2u);
  EXPECT_EQ(v.AsMap().KeyAt(0), "b");
  EXPECT_EQ(v.Get("b").Int(), 3);
  EXPECT_EQ(v.AsMap().KeyAt(1), "a");
}

TEST(Json, MalformedTextGivesNothingAndSaysWhereItStops) {
  using E = JsonExpected;
  struct Row {
    std::string text;
    size_t line, column;
    JsonExpected expected;
  } rows[] = {
      {"", 1, 1, E::kValue},
      {"{", 1, 2, E::kKeyOrBrace},
      {R"({"a":1)", 1, 7, E::kCommaOrBrace},
      {R"({"a":[1,2)", 1, 10, E::kCommaOrBracket},
      {"[1,]", 1, 4, E::kValue},
      {"[1 2]", 1, 4, E::kCommaOrBracket},
      {R"({"a" 1})", 1, 6, E::kColon},
      {R"({"a":1,})", 1, 8, E::kKey},
      {"{\"a\": 1\n \"b\": 2}", 2, 2, E::kCommaOrBrace},  // the missing comma
      {"{\r\n\"a\":\r\n}", 3, 1, E::kValue},
      {"[\"\xC3\xA9\xE2\x82\xAC\", x]", 1, 8, E::kValue},  // "é€" are two columns
      {"tru", 1, 1, E::kValue},
      {"nul", 1, 1, E::kValue},
      {"+1", 1, 1, E::kValue},
      {".5", 1, 1, E::kValue},
      {"-", 1, 2, E::kDigit},
      {"1.", 1, 3, E::kDigit},
      {"1e+", 1, 4, E::kDigit},
      {R"("a)", 1, 3, E::kQuote},
      {"\"a\tb\"", 1, 3, E::kEscapedControl},
      {"\"\\x\"", 1, 3, E::kEscape},
      {"\"\\", 1, 3, E::kEscape},
      {"\"\\u12\"", 1, 6, E::kHexDigits},
      {std::string(kJsonMaxDepth + 1, '['), 1, kJsonMaxDepth + 1, E::kLessNesting},
  };
  for (const Row& r : rows) {
    EXPECT_TRUE(JsonDecode(r.text).IsNil()) << r.text;
    JsonError error;
    EXPECT_TRUE(JsonDecode(r.text, error).IsNil()) << r.text;
    EXPECT_EQ(error.expected, r.expected) << r.text;
    EXPECT_EQ(error.nLine, r.line) << r.text;
    EXPECT_EQ(error.nColumn, r.column) << r.text;
  }
  JsonError error;
  JsonDecode("{\"a\": 1\n \"b\": 2}", error);
  EXPECT_EQ(JsonErrorMessage(error), "linea 2, columna 2: se esperaba ',' o '}'");
  // A text that decodes leaves no error behind, also after a failed one.
  EXPECT_EQ(JsonDecode(R"({"a":1})", error).Get("a").Int(), 1);
  EXPECT_EQ(error.expected, JsonExpected::kNothing);
  EXPECT_EQ(JsonErrorMessage(error), "");
}

TEST(Json, TextAfterTheFirstValueIsIgnored) {
  EXPECT_EQ(JsonDecode(R"({"a":1} trailing [)").Get("a").Int(), 1);
  EXPECT_EQ(JsonDecode("  [1]]]").Len(), 1u);
  EXPECT_EQ(JsonDecode("0123").Int(), 0);  // the first value is 0
}

TEST(Json, StringEscapes) {
  struct Row {
    const char* json;
    const char* text;
  };
  Row rows[] = {
      {R"("a\"b\\c\/d")", "a\"b\\c/d"},
      {R"("\b\f\n\r\t")", "\b\f\n\r\t"},
      {R"("\u00f1")", "\xC3\xB1"},
      {R"("\ud83d\ude00")", "\xF0\x9F\x98\x80"},
      {R"("\ud83d")", "\xEF\xBF\xBD"},    // lone high surrogate
      {R"("\ude00x")", "\xEF\xBF\xBDx"},  // lone low surrogate
      {R"("\ud83d\u0041")",
       "\xEF\xBF\xBD"
       "A"},
      {"\"\xC3\xB1\"", "\xC3\xB1"},  // bytes copied as they stand
  };
  for (const Row& r : rows) {
    Value v = JsonDecode(r.json);
    ASSERT_TRUE(v.IsText()) << r.json;
    EXPECT_EQ(v.Str(), r.text) << r.json;
    EXPECT_TRUE(IsValidUtf8(v.Str())) << r.json;
  }
  Value nul = JsonDecode(R"("a\u0000b")");
  EXPECT_EQ(nul.Str(), std::string_view("a\0b", 3));
}

TEST(Json, DeepNestingIsRefused) {
  std::string ok(kJsonMaxDepth, '['), okEnd(kJsonMaxDepth, ']');
  EXPECT_TRUE(JsonDecode(ok + okEnd).IsList());
  std::string deep(100000, '[');
  EXPECT_TRUE(JsonDecode(deep).IsNil());
  std::string deepObj;
  for (int i = 0; i < 100000; ++i) deepObj += "{\"a\":";
  EXPECT_TRUE(JsonDecode(deepObj).IsNil());
}

TEST(Json, EncodesCompactly) {
  Value v = Value::NewMap({{"t", "a\"\\\n\x01/\xC3\xB1"},
                           {"i", 5},
                           {"r", Value::Real(2.5, 2)},
                           {"l", Value::NewList({true, false, Value()})},
                           {"d", Value::DateYMD(2024, 5, 6)}});
  EXPECT_EQ(JsonEncode(v),
            "{\"t\":\"a\\\"\\\\\\n\\u0001/\xC3\xB1\",\"i\":5,\"r\":2.50,"
            "\"l\":[true,false,null],\"d\":\"20240506\"}");
  EXPECT_EQ(JsonEncode(Value::Function([](std::span<const Value>) { return Value(); })), "null");
  EXPECT_EQ(JsonEncode(JsonDecode(R"({"a":[1,2.50,"x"]})")), R"({"a":[1,2.50,"x"]})");
}

}  // namespace
}  // namespace kx
