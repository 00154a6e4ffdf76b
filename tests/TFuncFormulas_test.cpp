#include "TFuncFormulas.h"

#include <gtest/gtest.h>

#include "Json.h"

namespace kx {
namespace {

TEST(TFuncFormulas, UnknownNamesAnswerNotImplementedWithTheNameAsReceived) {
  TFuncFormulas lib;
  lib.Create();
  struct Row {
    Value name;
    Value args;
    const char* expected;
  } rows[] = {
      {Value("FOO"), JsonDecode("[1, 2]"), "[Funcion no implementada: FOO]"},
      {Value(" Foo "), Value(), "[Funcion no implementada:  Foo ]"},
      {Value(12), Value("not a list"), "[Funcion no implementada: 12]"},
      {Value(), Value::NewList(), "[Funcion no implementada: ]"},
  };
  for (const Row& r : rows) EXPECT_EQ(lib.Ejecutar(r.name, r.args).Str(), r.expected);
  lib.End();
}

TEST(TFuncFormulas, DateDifference) {
  TFuncFormulas lib;
  struct Row {
    Value a;
    Value b;
    const char* expected;
  } rows[] = {
      {Value("01/03/2025"), Value("01/02/2025"), "28"},
      {Value("20250301"), Value("01/02/2025"), "28"},
      {Value(20250131), Value(" 30/01/25 "), "1"},
      {Value::DateYMD(2024, 3, 1), Value("28/02/2024"), "2"},
      {Value("01/01/99"), Value("01/01/2099"), "0"},  // a two-digit year is in the 2000s
      {Value("31/01/2025 14:30"), Value("30/01/2025"), "1"},
      {Value("abc"), Value("01/02/2025"), "NIL"},
      {Value("30/02/2025"), Value("01/02/2025"), "NIL"},
      {Value("1/2"), Value("01/02/2025"), "NIL"},
      {Value("20251301"), Value("01/02/2025"), "NIL"},
      {Value("99999999999/1/1"), Value("01/02/2025"), "NIL"},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(ExprText(lib.DateDifference(r.a, r.b)), r.expected)
        << ExprText(r.a) << " - " << ExprText(r.b);
  }
}

}  // namespace
}  // namespace kx
