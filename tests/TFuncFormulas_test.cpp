#include "TFuncFormulas.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "Json.h"
#include "Platform.h"
#include "TBarcodeUtil.h"
#include "TEvaluadorFormulas.h"
#include "TKXEngine.h"
#include "TestFolder.h"

namespace kx {
namespace {

std::string Hoy(bool largo = false) {
  Value d = platform::CurrentDate();
  char buf[16];
  if (largo) {
    std::snprintf(buf, sizeof buf, "%02d/%02d/%04d", DateDay(d), DateMonth(d), DateYear(d));
  } else {
    std::snprintf(buf, sizeof buf, "%02d/%02d/%02d", DateDay(d), DateMonth(d), DateYear(d) % 100);
  }
  return buf;
}

// Formulas evaluated by an evaluator with its library: each row is a formula
// and the expression text of its value ("text" quoted, numbers with their
// decimals), so a number and a text that looks like one are told apart.
class Libreria : public ::testing::Test {
 protected:
  void SetUp() override { ev.Create(); }
  void TearDown() override { ev.End(); }

  struct Fila {
    const char* formula;
    std::string esperado;
  };

  void Comprobar(std::initializer_list<Fila> filas) {
    for (const Fila& f : filas) {
      EXPECT_EQ(ExprText(ev.Evaluar(f.formula, vars)), f.esperado) << f.formula;
      // An argument error is also the evaluator's latest error.
      bool lError = f.esperado.rfind("\"[Funcion ", 0) == 0;
      EXPECT_EQ(ev.EsResultadoError(), lError) << f.formula;
    }
  }

  TEvaluadorFormulas ev;
  Value vars = Value::NewMap({{"DET.NOMBRE", "año"},
                              {"DET.IMPORTE", Value::Real(1234.5, 2)},
                              {"DET.FECHA", Value::DateYMD(2025, 1, 31)},
                              {"DET.VACIO", Value()}});
};

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

TEST(TFuncFormulas, EveryNameHasItsIdInDispatchOrder) {
  const char* nombres[] = {"Abs",      "AddDays", "AllTrim",   "At",          "Barcode", "Chr",
                           "Contains", "CToD",    "Date",      "DateYMD",     "Dow",     "DToC",
                           "DToS",     "Empty",   "Exp10",     "hb_MemoRead", "Hour",    "Int",
                           "IsNull",   "Left",    "Len",       "LoadFile",    "Lower",   "LTrim",
                           "Max",      "Month",   "Now",       "NULL",        "RAt",     "StrPos",
                           "Right",    "RGB",     "Round",     "RTrim",       "SToD",    "Str",
                           "StrTran",  "SubStr",  "Transform", "Upper",       "Val",     "Year"};
  for (size_t i = 0; i < std::size(nombres); ++i) {
    EXPECT_EQ(TFuncFormulas::CodigoFuncion(nombres[i]), i + 1) << nombres[i];
    EXPECT_EQ(TFuncFormulas::CodigoFuncion(Upper(nombres[i])), i + 1) << nombres[i];
  }
  EXPECT_EQ(TFuncFormulas::CodigoFuncion(" left "), TFuncFormulas::CodigoFuncion("LEFT"));
  EXPECT_EQ(TFuncFormulas::CodigoFuncion("MID"), TFuncFormulas::kSinFuncion);  // the parser's alias
  EXPECT_EQ(TFuncFormulas::CodigoFuncion("IIF"), TFuncFormulas::kSinFuncion);
}

TEST_F(Libreria, ArgumentErrorsNameTheFunction) {
  Comprobar({
      {"Abs('abc')", R"("[Funcion Abs no valida]")"},
      {"Chr(-1)", R"("[Funcion Chr no valida]")"},
      {"Chr('x')", R"("[Funcion Chr no valida]")"},
      {"Exp10('')", R"("[Funcion Exp10 no valida]")"},
      {"Int('5-')", R"("[Funcion Int no valida]")"},
      {"Left('abc')", R"("[Funcion Left no valida]")"},
      {"Right('abc')", R"("[Funcion Right no valida]")"},
      {"Right('abc', '-')", R"("[Funcion Right no valida]")"},
      {"RGB(1, 2)", R"("[Funcion RGB no valida]")"},
      {"Round('x')", R"("[Funcion Round no valida]")"},
      {"Round(1, 'x')", R"("[Funcion Round no valida]")"},
      {"Str('x')", R"("[Funcion Str no valida]")"},
      {"SubStr('abc')", R"("[Funcion SubStr no valida]")"},
      {"SubStr('abc', 1, 'x')", R"("[Funcion SubStr no valida]")"},
      {"SubStr('abc', 1, )", R"("[Funcion SubStr no valida]")"},
      {"Transform(5)", R"("[Funcion Transform no valida]")"},
      {"Transform(NULL(), '999')", R"("[Funcion Transform no valida]")"},
      {"Year('2025-01-31')", R"("[Funcion Year no valida]")"},
      {"Month('x')", R"("[Funcion Month no valida]")"},
      {"Dow()", R"("[Funcion Dow no valida]")"},
      {"DToC()", R"("[Funcion DToC no valida]")"},
      {"DATE$()", R"("[Funcion DToC no valida]")"},  // DATE$ is DToC
      {"DToS('x')", R"("[Funcion DToS no valida]")"},
      {"CToD('31/02/2025')", R"("[Funcion CToD no valida]")"},
      {"SToD('2025013')", R"("[Funcion SToD no valida]")"},
      {"DateYMD(2025, 2, 30)", R"("[Funcion DateYMD no valida]")"},
      {"DateYMD(2025, 'x', 1)", R"("[Funcion DateYMD no valida]")"},
      {"AddDays('31/01/25')", R"("[Funcion AddDays no valida]")"},
      {"AddDays('x', 1)", R"("[Funcion AddDays no valida]")"},
      {"Hour('25:00')", R"("[Funcion Hour no valida]")"},
      {"Hour('14')", R"("[Funcion Hour no valida]")"},
      {"Hour(14)", R"("[Funcion Hour no valida]")"},
  });
}

TEST_F(Libreria, TextFunctionsCountCharactersOrBytesAsEachStates) {
  Comprobar({
      // Left, Right, SubStr and Len count UTF-8 characters...
      {"Len('año')", "3"},
      {"Len(DET.NOMBRE)", "3"},
      {"Left(DET.NOMBRE, 2)", R"("añ")"},
      {"Left('abc', 0)", R"("")"},
      {"Left('abc', 9)", R"("abc")"},
      {"Right('año', 2)", R"("ño")"},
      {"Right('abc', 5)", R"("abc")"},
      {"Right('abc', 0)", R"("")"},
      {"SubStr('abcdef', -2)", R"("ef")"},
      {"SubStr('abcdef', 0, 2)", R"("ab")"},
      {"SubStr('abc', 4)", R"("")"},
      {"SubStr('abc', 2, -1)", R"("")"},
      {"SubStr(DET.NOMBRE, 2, 1)", R"("ñ")"},
      {"SubStr('abc', -9, 2)", R"("ab")"},
      {"Mid$('abcdef', 2, 3)", R"("bcd")"},
      // ...At, RAt, StrPos and StrTran count bytes.
      {"At('o', DET.NOMBRE)", "4"},
      {"At('', 'abc')", "0"},
      {"At('x', 'abc')", "0"},
      {"RAt('a', 'banana')", "6"},
      {"StrPos('a-b-c', '-', 2)", "3"},
      {"StrPos('año-x', '-')", "4"},
      {"StrPos('aaa', 'aa', 2)", "-1"},
      {"StrPos('abc', ' ')", "-1"},
      {"StrPos('abc', 'b', 0)", "-1"},
      {"StrPos('abc', 'b', 'x')", "-1"},
      {"StrTran('a.b.c', '.', '')", R"("abc")"},
      {"StrTran('a.b.c', '.', '', 3)", R"("a.bc")"},
      {"StrTran('a.b.c', '.', '', 1, 1)", R"("ab.c")"},
      {"StrTran('a.b.c', '.', '', 1, 0)", R"("a.b.c")"},
      {"StrTran('a.b.c', '', 'x')", R"("a.b.c")"},
      {"StrTran('a.b', '.', '-', 99)", R"("a.b")"},
      {"StrTran('aaaa', 'aa', 'b')", R"("bb")"},
      // Case mapping touches ASCII letters only; trims follow the value rules.
      {"Upper(DET.NOMBRE)", R"("AñO")"},
      {"Lower('ÁBC')", R"("Ábc")"},
      {"LTrim('  x  ')", R"("x  ")"},
      {"RTrim('  x  ')", R"("  x")"},
      {"AllTrim('  x  ')", R"("x")"},
      {"ATrim('  x  ')", R"("x")"},
      {"AllTrim(12.50)", R"("12.50")"},
      {"AllTrim(5.0)", R"("5")"},
      {"Upper(.T.)", R"("1")"},
      {"Contains('abc', 'b')", ".T."},
      {"Contains('abc', 'B')", ".F."},
      {"Contains('abc', ' ')", ".T."},
      {"Contains('abc', )", ".T."},
      {"Contains('abc')", ".F."},
      {"Contains(NULL(), 'a')", ".F."},
      {"Empty(0)", ".T."},
      {"Empty(' ')", ".T."},
      {"Empty(NULL())", ".T."},
      {"Empty('0')", ".F."},
      {"Empty(DET.FECHA)", ".F."},
      {"IsNull()", ".T."},
      {"IsNull(DET.VACIO)", ".T."},
      {"IsNull('')", ".F."},
      {"NULL()", "NIL"},
      {"Chr(65)", R"("A")"},
      {"Chr(321)", R"("A")"},
  });
}

TEST_F(Libreria, NumberFunctions) {
  Comprobar({
      {"Abs('-5')", "5"},
      {"Abs(-2.50)", "2.50"},
      {"Abs(' -1.5 ')", "1.5"},
      {"Int(-2.7)", "-2"},
      {"Int('7,9')", "7"},
      {"Round(2.5)", "3"},
      {"Round(-2.5)", "-3"},
      {"Round(1234, -2)", "1200"},
      {"Round(10/3, 4)", "3.3300"},  // the quotient reads through its two-decimal text
      {"Round(2.675, 2)", "2.68"},
      {"Round(1, 99)", "1.000000000000000000000000000000"},  // the 30-decimal cap
      {"Str(3.14159, 8, 2)", R"("    3.14")"},
      {"Str(123456, 4)", R"("****")"},
      {"Str('', 5)", R"("     ")"},
      {"Str(NULL(), 3)", R"("   ")"},
      {"Str(5, 0)", R"("")"},
      {"Str(5)", R"("         5")"},
      {"Str(-2.5, 4)", R"("  -3")"},
      {"Str('7', 3, -1)", R"("  7")"},
      {"Str(5, 4096)", "\"" + std::string(4095, ' ') + "5\""},
      {"Str(5, 4097)", R"("[Funcion Str no valida]")"},
      {"Str(5, 40, 31)", R"("[Funcion Str no valida]")"},
      {"Str(5, 99999999999999999999)", R"("[Funcion Str no valida]")"},
      {"Exp10(2)", "100"},
      {"Exp10(-1)", "0.10"},
      {"Exp10(-3)", "0.00"},
      {"Exp10(-400)", "0"},
      {"Val('  -3.5kg')", "-3.5"},
      {"Val('+.5')", "0.5"},
      {"Val('1,5')", "1"},
      {"Val('12.50 EUR')", "12.50"},
      {"Val('abc')", "0"},
      {"Val('-')", "0"},
      {"Max(3, , 5)", "5"},
      {"Max('b', 'abc')", R"("b")"},
      {"Max(5, 'x')", "5"},
      {"Max('x', 5)", R"("x")"},
      {"Max(2, 2.00, 1)", "2"},
      {"Max(DET.FECHA, '01/01/30')", "0d20250131"},
      {"Max()", "NIL"},
      {"RGB(255, 128, 0)", R"("#ff8000")"},
      {"RGB(300, -5, '16')", R"("#ff0010")"},
      {"RGB(, 1.9, 'x')", R"("#000100")"},
  });
}

// A direct call of the library with the argument values given.
Value Llamar(TFuncFormulas& lib, std::string_view name, std::vector<Value> args) {
  return lib.Ejecutar(name, std::span<const Value>(args));
}

TEST(TFuncFormulas, NumbersStayFiniteAndBounded) {
  TFuncFormulas lib;
  Value r = Llamar(lib, "EXP10", {Value(400)});
  EXPECT_TRUE(r.IsNumber());
  EXPECT_TRUE(std::isfinite(r.Double()));
  EXPECT_GT(r.Double(), 1e300);
  // Integers of huge numbers saturate instead of overflowing.
  std::vector<Value> args = {Value("abc"), Value(1e300), Value(1e300)};
  EXPECT_EQ(Llamar(lib, "SUBSTR", args).Str(), "");
  EXPECT_EQ(Llamar(lib, "LEFT", args).Str(), "abc");
  EXPECT_EQ(Llamar(lib, "CHR", {Value(1e300)}).Str(), "\xFF");
  EXPECT_EQ(Llamar(lib, "ADDDAYS", {Value("01/01/2025"), Value(-1e300)}).Str(),
            "[Funcion AddDays no valida]");
}

TEST_F(Libreria, DatesAndTheirRoundTrips) {
  Comprobar({
      {"Year('31/01/25')", "2025"},
      {"Year(20250131)", "2025"},
      {"Year('20250131')", "2025"},
      {"Year(DET.FECHA)", "2025"},
      {"Year('31/01/2025 14:30')", "2025"},
      {"Month('31/01/2025')", "1"},
      {"Dow('31/01/2025')", "6"},
      {"Dow('02/02/2025')", "1"},
      {"CToD('1/2/99')", R"("01/02/99")"},
      {"DToC('1/2/99')", R"("01/02/2099")"},
      {"DToC(DET.FECHA)", R"("31/01/2025")"},
      {"CToD(DET.FECHA)", R"("31/01/25")"},  // a date value, not its month-first display text
      {"CToD('02/01/25')", R"("02/01/25")"},
      {"SToD('20250131')", R"("31/01/25")"},
      {"SToD(' 20250131 ')", R"("31/01/25")"},
      {"SToD(20250131)", R"("31/01/25")"},
      {"SToD(DET.FECHA)", R"("31/01/25")"},  // likewise
      {"DToS('31/01/2025')", R"("20250131")"},
      {"DToS(DET.FECHA)", R"("20250131")"},
      {"AddDays('31/01/25', 1)", R"("01/02/25")"},
      {"AddDays('01/03/2025', -1)", R"("28/02/25")"},
      {"AddDays('01/03/2024', '-1')", R"("29/02/24")"},
      {"AddDays('31/12/9999', 1)", R"("[Funcion AddDays no valida]")"},
      {"DateYMD(2025, 1, 31)", R"("31/01/25")"},
      {"DateYMD(25, 1, 31)", R"("31/01/25")"},
      {"DToC(DateYMD('2024', '2', '29'))", R"("29/02/2024")"},
      {"Hour('31/01/2025 14:30')", "14"},
      {"Hour('07:05:00')", "7"},
      {"Hour(DET.FECHA)", "0"},
      // Round trips through every form.
      {"DToC(SToD(DToS(CToD('5/3/24'))))", R"("05/03/2024")"},
      {"DToS(AddDays(SToD('20241231'), 1))", R"("20250101")"},
      {"CToD(DToC(DateYMD(2030, 12, 31)))", R"("31/12/30")"},
      {"Year(CToD('01/01/00'))", "2000"},
  });
  EXPECT_EQ(ev.Evaluar("Date()", vars).Str(), Hoy());
  EXPECT_EQ(ev.Evaluar("Now()", vars).Str(), Hoy());
  EXPECT_EQ(ev.Evaluar("DToC(Date())", vars).Str(), Hoy(true));
  Value hora = ev.Evaluar("Hour()", vars);
  EXPECT_TRUE(hora.IsInt());
  EXPECT_GE(hora.Int(), 0);
  EXPECT_LE(hora.Int(), 23);
  EXPECT_EQ(ExprText(ev.Evaluar("Hour('')", vars)).size(), ExprText(hora).size());
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
      {Value("01/01/-5"), Value("01/02/2025"), "NIL"},
      {Value::EmptyDate(), Value("01/02/2025"), "NIL"},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(ExprText(lib.DateDifference(r.a, r.b)), r.expected)
        << ExprText(r.a) << " - " << ExprText(r.b);
  }
}

TEST_F(Libreria, TransformMasks) {
  Comprobar({
      {"Transform(1234.5, '9,999.99')", R"("1,234.50")"},
      {"Transform(DET.IMPORTE, '@E 9.999,99')", R"("1.234,50")"},
      {"Transform(1234.5, '@e9,999.99')", R"("1.234,50")"},
      {"Transform(1234.567, '9999.99')", R"("1234.57")"},
      {"Transform(1234.5, '9999')", R"("1235")"},
      {"Transform(5, '999.99')", R"("  5.00")"},
      {"Transform(1234, '999,999')", R"("1234.000")"},  // one separator: the decimal position
      {"Transform(1234567.891, '999,999,999.99')", R"("  1,234,567.89")"},
      {"Transform(123456, '999,999.99')", R"("123,456.00")"},
      {"Transform(-1234.5, '9,999.99')", R"("-1,234.50")"},  // longer than the mask: whole
      {"Transform(-5, '999,999.99')", R"("     -5.00")"},
      {"Transform(-123, '9,999.99')", R"(" -123.00")"},
      {"Transform('1234.5', '@E 999,999.99')", R"("  1.234,50")"},
      {"Transform(0.5, '9')", R"("1")"},
      {"Transform(-0.004, '9.99')", R"("0.00")"},
      {"Transform(10000000000000, '9999')", R"("************")"},
      {"Transform(-12345678901, '9')", R"("-12345678901")"},
      {"Transform(-123456789012.4, '999,999')", R"("-123456789012.400")"},
      {"Transform(-123456789012.4, '9')", R"("************")"},
      {"Transform(123456789012345, '999999999999999')", R"("   ************")"},
      {"Transform('abc', '999')", R"("abc")"},
      {"Transform(.T., '999')", R"("1")"},
      {"Transform(5, '')", R"("5")"},
      {"Transform(12.50, '   ')", R"("12.50")"},
      {"Transform('31/01/2025', '99/99/99')", R"("31/01/25")"},
      {"Transform(20250131, '99/99/9999')", R"("31/01/2025")"},
      {"Transform(DET.FECHA, ' 99/99/9999 ')", R"("31/01/2025")"},
      {"Transform('x', '99/99/99')", R"("x")"},
      {"Transform(5, '99/99/99')", R"("       5")"},
      {"FStr(1234.5, '9,999.99')", R"("1,234.50")"},
      {"Transform(DET.IMPORTE, 9999)", R"("1235")"},
  });
}

TEST(TFuncFormulas, MasksAreAnalysedOncePerTrimmedText) {
  TFuncFormulas lib;
  Value plan = lib.PlanMascara(Value("9,999.99"));
  ASSERT_TRUE(plan.IsObject());
  EXPECT_TRUE(lib.PlanMascara(Value(" 9,999.99  ")).SameRef(plan));
  EXPECT_FALSE(lib.PlanMascara(Value("@E 9.999,99")).SameRef(plan));
  EXPECT_TRUE(lib.PlanMascara(Value("  ")).IsNil());
  EXPECT_TRUE(lib.PlanMascara(Value()).IsNil());
  // A call with a plan resolved beforehand answers as one that finds it by its text.
  std::vector<Value> args = {Value(1234.5), Value("9,999.99")};
  EXPECT_EQ(lib.Ejecutar(TFuncFormulas::CodigoTransform(), "TRANSFORM", args, plan).Str(),
            "1,234.50");
  lib.End();
  EXPECT_FALSE(lib.PlanMascara(Value("9,999.99")).SameRef(plan));  // End empties the cache
}

TEST(TFuncFormulas, BarcodeAnswersTheServiceDescriptorOrItsArgumentError) {
  TFuncFormulas lib;
  EXPECT_EQ(JsonEncode(Llamar(lib, "BARCODE", {Value("123")})),
            R"({"tipo":"barcode","error":"Funcion Barcode no valida"})");
  // With both arguments the answer is the service's own descriptor, errors included.
  for (const char* tipo : {"EAN13", "QR", "DATAMATRIX", "CODE128", "nada"}) {
    EXPECT_EQ(JsonEncode(Llamar(lib, "BARCODE", {Value("123"), Value(tipo)})),
              JsonEncode(TBarcodeUtil().Crear(Value("123"), Value(tipo))))
        << tipo;
  }
}

// ---- Files

// Runs inside a fresh folder, so that "public" is looked up there.
class Archivos : public ::testing::Test {
 protected:
  void SetUp() override {
    previa_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_.path());
    std::filesystem::create_directory("public");
  }
  void TearDown() override { std::filesystem::current_path(previa_); }

  Value Llamar(const char* name, std::vector<Value> args) { return kx::Llamar(lib_, name, args); }

  TempDir dir_;
  std::filesystem::path previa_;
  TFuncFormulas lib_;
};

TEST_F(Archivos, LookupByNameThenUnderPublic) {
  dir_.Write("logo.txt", "here");
  dir_.Write("public/logo.txt", "public");
  dir_.Write("public/solo.txt", "only public");
  dir_.Write("public/bytes.bin", std::string("\xFF\x00\xE9", 3));
  struct Row {
    const char* name;
    std::vector<Value> args;
    std::string expected;
  } rows[] = {
      {"LOADFILE", {Value("logo.txt"), Value("none")}, "here"},
      {"LOADFILE", {Value(" logo.txt "), Value("none")}, "here"},
      {"LOADFILE", {Value("solo.txt"), Value("none")}, "only public"},
      {"LOADFILE", {Value("public/solo.txt"), Value("none")}, "only public"},
      {"LOADFILE", {Value("PUBLIC/solo.txt"), Value("none")}, "only public"},
      {"LOADFILE", {Value("bytes.bin")}, std::string("\xFF\x00\xE9", 3)},  // bytes unchanged
      {"LOADFILE", {Value("missing.txt"), Value("none")}, "none"},
      {"LOADFILE", {Value("missing.txt"), Value(5.0)}, "5"},
      {"LOADFILE", {Value("missing.txt")}, ""},
      {"LOADFILE", {Value(""), Value("none")}, "none"},
      {"LOADFILE", {}, ""},
      {"HB_MEMOREAD", {Value("logo.txt")}, "here"},
      {"HB_MEMOREAD", {Value("missing.txt")}, ""},
      {"LOADFILE", {Value((dir_.path() + "/logo.txt").c_str()), Value("none")}, "here"},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(Llamar(r.name, r.args).Str(), r.expected)
        << r.name << " " << (r.args.empty() ? "" : ExprText(r.args[0]));
  }
}

TEST_F(Archivos, NamesThatCouldOpenAnotherFileCountAsNotFound) {
  dir_.Write("logo.txt", "here");
  dir_.Write("a\nb.txt", "line feed");
  dir_.Write("a\rb.txt", "carriage return");
  // A NUL would cut the name to "logo.txt".
  EXPECT_EQ(Llamar("LOADFILE", {Value(std::string("logo.txt\0.png", 13)), Value("fb")}).Str(),
            "fb");
  EXPECT_EQ(Llamar("LOADFILE", {Value("a\nb.txt"), Value("fb")}).Str(), "fb");
  EXPECT_EQ(Llamar("LOADFILE", {Value("a\rb.txt"), Value("fb")}).Str(), "fb");
  EXPECT_EQ(Llamar("HB_MEMOREAD", {Value(std::string("logo.txt\0", 9))}).Str(), "");
}

TEST_F(Archivos, OnlyRegularFilesUnderTheSizeCapAreRead) {
  // A folder and a FIFO are no files: the fallback. The FIFO must not block.
  ASSERT_EQ(::mkfifo("pipe", 0600), 0);
  EXPECT_EQ(Llamar("LOADFILE", {Value("pipe"), Value("fb")}).Str(), "fb");
  EXPECT_EQ(Llamar("LOADFILE", {Value("public"), Value("fb")}).Str(), "fb");
  // A file past 64 MiB counts as unreadable: "", not the fallback (sparse, so cheap).
  int fd = ::open("big.bin", O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::ftruncate(fd, (off_t{64} << 20) + 1), 0);
  ::close(fd);
  EXPECT_EQ(Llamar("LOADFILE", {Value("big.bin"), Value("fb")}).Str(), "");
  fd = ::open("cap.bin", O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::ftruncate(fd, off_t{64} << 20), 0);
  ::close(fd);
  EXPECT_EQ(Llamar("LOADFILE", {Value("cap.bin"), Value("fb")}).Len(), size_t{64} << 20);
}

// ---- Through the engine

// One formula per function, shown by a page text and by a table cell over
// one detail record; the record's fields and header variables feed them.
struct Caso {
  const char* formula;
  std::string texto;  // as the object shows it
};

std::vector<Caso> CasosPorFuncion(const std::string& hoy) {
  return {
      {"Abs(DET.NEG)", "2.50"},
      {"AddDays(DET.FECHA, 1)", "01/02/25"},
      {"AllTrim('  ' + DET.NOMBRE + ' ')", "año"},
      {"At('o', DET.NOMBRE)", "4"},
      {"Barcode(DET.NOMBRE)", ""},  // a map shows no text
      {"Chr(65)", "A"},
      {"Contains(DET.NOMBRE, 'ñ')", "1"},
      {"CToD('1/2/99')", "01/02/99"},
      {"Date()", hoy},
      {"DateYMD(2025, 1, 31)", "31/01/25"},
      {"Dow(DET.FECHA)", "6"},
      {"DToC(DET.FECHA)", "31/01/2025"},
      {"DToS(DET.FECHA)", "20250131"},
      {"Empty(DET.NOMBRE)", ""},
      {"Exp10(-1)", "0.10"},
      {"hb_MemoRead('no-such-file.txt')", ""},
      {"Hour('31/01/2025 14:30')", "14"},
      {"Int(DET.IMPORTE)", "1234"},
      {"IsNull(NULL())", "1"},
      {"Left(DET.NOMBRE, 2)", "añ"},
      {"Len(DET.NOMBRE)", "3"},
      {"LoadFile('no-such-file.txt', 'sin archivo')", "sin archivo"},
      {"Lower('ABC')", "abc"},
      {"LTrim('  x')", "x"},
      {"Max(DET.IMPORTE, 99)", "1234.50"},
      {"Month(DET.FECHA)", "1"},
      {"Now()", hoy},
      {"'[' + NULL() + ']'", "[]"},
      {"RAt('a', 'banana')", "6"},
      {"StrPos('a-b-c', '-', 2)", "3"},
      {"Right(DET.NOMBRE, 2)", "ño"},
      {"RGB(255, 128, 0)", "#ff8000"},
      {"Round(DET.IMPORTE, 0)", "1235"},
      {"RTrim('x  ') + '|'", "x|"},
      {"SToD('20250131')", "31/01/25"},
      {"Str(DET.IMPORTE, 9, 1)", "   1234.5"},
      {"StrTran('a.b.c', '.', '')", "abc"},
      {"SubStr(DET.NOMBRE, 2)", "ño"},
      {"Transform(DET.IMPORTE, '999,999.99')", "  1,234.50"},
      {"Upper(DET.NOMBRE)", "AñO"},
      {"Val('12.50 EUR')", "12.50"},
      {"Year(DET.FECHA)", "2025"},
      {"DET.FECHA", "01/31/25"},  // a date value shows its display text
      {"CAB.F", "01/31/25"},
      {"'F=' + CAB.F", "F=01/31/25"},
  };
}

std::string PlantillaConCasos(const std::vector<Caso>& casos) {
  std::string textos, celdas;
  for (size_t i = 0; i < casos.size(); ++i) {
    std::string formula = JsonEncode(Value(casos[i].formula));
    textos += R"(,{"cType":"TText","cId":"t)" + std::to_string(i) +
              R"(","nLeft":0,"nTop":0,"nWidth":100,"nHeight":4,"lForceWrap":false,"cText":)" +
              formula + "}";
    celdas += std::string(i ? "," : "") +
              R"({"nWidth":4,"hContent":{"cType":"TText","hObject":{"cText":)" + formula + "}}}";
  }
  return R"({"cFormatVersion":"1.0","nPaperWidth":400,"nPaperHeight":297,"aObjects":[)"
         R"({"cType":"TTable","cId":"tab","nLeft":0,"nTop":10,"nWidth":200,"nHeight":50,)"
         R"("hSections":{"detail":{"aLines":[{"nHeight":5,"aCells":[)" +
         celdas + "]}]}}}" + textos + "]}";
}

TEST(TFuncFormulasEngine, EveryFunctionInAPageTextAndInATableCell) {
  std::vector<Caso> casos = CasosPorFuncion(Hoy());
  TKXEngine engine;
  engine.SetPlantillaContent(Value(PlantillaConCasos(casos)));
  engine.SetInputEncoding(Value("UTF-8"));
  engine.OpenJob();
  engine.SendDataVar(Value("CAB"), Value::NewMap({{"F", Value::DateYMD(2025, 1, 31)}}));
  engine.SendDetalle(Value("DET"), Value::NewMap({{"NOMBRE", "año"},
                                                  {"IMPORTE", Value::Real(1234.5, 2)},
                                                  {"NEG", Value::Real(-2.5, 2)},
                                                  {"FECHA", Value::DateYMD(2025, 1, 31)}}));
  engine.CloseJob();
  Ref<TDocumentoRenderizable> doc = engine.RunEngine();
  ASSERT_TRUE(doc);
  ASSERT_EQ(doc->TotalPaginas(), 1);
  Value page = doc->GetPagina(1);
  std::vector<std::string> celdas;
  std::vector<std::string> textos(casos.size(), "(missing)");
  for (const Value& o : page.Get("objetos").AsList()) {
    if (o.Get("tipo").Str() != "texto") continue;
    std::string id(o.Get("id").Str());
    std::string texto(o.Get("texto").Str());
    if (id.size() > 1 && id[0] == 't' && id[1] >= '0' && id[1] <= '9') {
      textos[std::stoul(id.substr(1))] = texto;
    } else {
      celdas.push_back(texto);
    }
  }
  ASSERT_EQ(celdas.size(), casos.size());
  for (size_t i = 0; i < casos.size(); ++i) {
    EXPECT_EQ(textos[i], casos[i].texto) << "page text " << casos[i].formula;
    EXPECT_EQ(celdas[i], casos[i].texto) << "table cell " << casos[i].formula;
  }
}

// Only the template's user variables run as formulas: a data text under a
// group that happens to be named VAR or SUM stays the text it is.
TEST(TFuncFormulasEngine, DataUnderAGroupNamedVarStaysData) {
  TempDir dir;
  std::string secreto = dir.Write("secret.txt", "SECRET");
  std::string llamada = "LoadFile('" + secreto + "')";
  std::string plantilla =
      R"J({"cFormatVersion":"1.0","nPaperWidth":210,"nPaperHeight":297,
          "hUserVars":{"propia":{"formula":"'ok ' + Upper('x')"}},
          "aObjects":[
           {"cType":"TText","cId":"a","nLeft":0,"nTop":0,"nWidth":100,"nHeight":5,"cText":"VAR.X"},
           {"cType":"TText","cId":"b","nLeft":0,"nTop":5,"nWidth":100,"nHeight":5,"cText":"SUM.Y"},
           {"cType":"TText","cId":"c","nLeft":0,"nTop":10,"nWidth":100,"nHeight":5,"cText":"VAR.propia"},
           {"cType":"TText","cId":"d","nLeft":0,"nTop":15,"nWidth":100,"nHeight":5,"cText":"@X"}]})J";
  TKXEngine engine;
  engine.SetPlantillaContent(Value(plantilla));
  engine.OpenJob();
  engine.SendDataVar(Value("VAR"), Value::NewMap({{"X", llamada}}));
  engine.SendDataVar(Value("SUM"), Value::NewMap({{"Y", llamada}}));
  engine.CloseJob();
  Ref<TDocumentoRenderizable> doc = engine.RunEngine();
  ASSERT_TRUE(doc);
  std::string page = JsonEncode(doc->GetPagina(1));
  EXPECT_EQ(page.find("SECRET"), std::string::npos) << page;
  std::map<std::string, std::string> textos;
  for (const Value& o : doc->GetPagina(1).Get("objetos").AsList()) {
    textos[std::string(o.Get("id").Str())] = std::string(o.Get("texto").Str());
  }
  EXPECT_EQ(textos["a"], llamada);
  EXPECT_EQ(textos["b"], llamada);
  EXPECT_EQ(textos["c"], "ok X");
  EXPECT_EQ(textos["d"], llamada);
}

}  // namespace
}  // namespace kx
