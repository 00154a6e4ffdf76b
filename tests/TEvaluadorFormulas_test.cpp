#include "TEvaluadorFormulas.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "FormulaSyntax.h"
#include "Json.h"

namespace kx {

// Runs the interpreter on a text that would take the compiled road.
class TEvaluadorFormulasPrueba {
 public:
  static Value Interpretar(TEvaluadorFormulas& ev, const Value& formula, const Value& vars) {
    return ev.EvaluarInterpretado(formula, vars);
  }
};

namespace {

Value J(const char* json) {
  return JsonDecode(json);
}

// The value's expression text, which also tells numbers' decimals apart.
std::string X(const Value& v) {
  return ExprText(v);
}

class Evaluador : public ::testing::Test {
 protected:
  void SetUp() override { ev.Create(); }
  void TearDown() override { ev.End(); }

  Value Eval(const char* formula, const Value& vars = Value()) {
    ev.ResetLastError();
    return ev.EvaluarFormula(formula, vars);
  }

  TEvaluadorFormulas ev;
  Value vars = J(R"({"x": 5, "a": 10, "DET.IMPORTE": 12.5, "DET.TIPO": "A",
                     "CLIENTE.NOMBRE": "Ana", "VAR.total": 7, "SUM.acum": 9,
                     "DET.NOTA": "ver [1]"})");
};

TEST_F(Evaluador, ParserTriesTheSplitsFromLoosestToTightest) {
  struct Row {
    const char* text;
    const char* node;
  } rows[] = {
      {"'It''s'", R"({"tipo"=>"literal"})"},
      {"-5", R"({"tipo"=>"literal"})"},
      {"1,5", R"({"tipo"=>"literal"})"},
      {"'abc", R"({"tipo"=>"argumento"})"},
      {"1e5", R"({"tipo"=>"argumento"})"},
      {"a = b", R"({"tipo"=>"argumento"})"},
      {"-x", R"({"tipo"=>"argumento"})"},
      {"'a' + 'b'", R"({"tipo"=>"suma", "partes"=>{"'a'", "'b'"}})"},
      {"(a) + (b)", R"~({"tipo"=>"suma", "partes"=>{"(a)", "(b)"}})~"},
      {"a +", R"({"tipo"=>"suma", "partes"=>{"a", ""}})"},
      {"NOT x .AND. y", R"({"tipo"=>"and", "partes"=>{"NOT x", "y"}})"},
      {"NOT x == y", R"({"tipo"=>"not", "expresion"=>"x == y"})"},
      {".not. x", R"({"tipo"=>"not", "expresion"=>"x"})"},
      {"!x", R"({"tipo"=>"not", "expresion"=>"x"})"},
      {"a .or. b .AND. c", R"({"tipo"=>"or", "partes"=>{"a", "b .AND. c"}})"},
      {"a .AND. b == c", R"({"tipo"=>"and", "partes"=>{"a", "b == c"}})"},
      {"a == b + c", R"({"tipo"=>"comparacion", "left"=>"a", "operator"=>"==", "right"=>"b + c"})"},
      {"a <> b", R"({"tipo"=>"comparacion", "left"=>"a", "operator"=>"<>", "right"=>"b"})"},
      {"a - b + c", R"({"tipo"=>"suma", "partes"=>{"a - b", "c"}})"},
      {"a + b - c", R"({"tipo"=>"suma", "partes"=>{"a", "b - c"}})"},
      {"a - b - c", R"({"tipo"=>"aritmetica", "partes"=>{{"a", NIL}, {"b", "-"}, {"c", "-"}}})"},
      {"10/3*3", R"({"tipo"=>"aritmetica", "partes"=>{{"10", NIL}, {"3", "/"}, {"3", "*"}}})"},
      {"a - b * c", R"({"tipo"=>"aritmetica", "partes"=>{{"a", NIL}, {"b * c", "-"}}})"},
      {"NOT(x)", R"({"tipo"=>"funcion", "funcion"=>"NOT", "argumentos"=>{"x"}, "clave"=>"NOT"})"},
      {"MID$(x, 1, 2)",
       R"({"tipo"=>"funcion", "funcion"=>"SUBSTR", "argumentos"=>{"x", "1", "2"}, "clave"=>"SUBSTR"})"},
      {"f(1;2)", R"({"tipo"=>"funcion", "funcion"=>"F", "argumentos"=>{"1", "2"}, "clave"=>"F"})"},
      {"f()", R"({"tipo"=>"funcion", "funcion"=>"F", "argumentos"=>{}, "clave"=>"F"})"},
      {"f(a, g(b, c))",
       R"~({"tipo"=>"funcion", "funcion"=>"F", "argumentos"=>{"a", "g(b, c)"}, "clave"=>"F"})~"},
  };
  for (const Row& r : rows) EXPECT_EQ(X(ev.PlanFormula(r.text)), r.node) << r.text;
  EXPECT_TRUE(ev.PlanFormula("a == b").SameRef(ev.PlanFormula("a == b")));  // cached by text
}

TEST_F(Evaluador, ArithmeticAndConcatenation) {
  struct Row {
    const char* formula;
    const char* value;
    const char* error;
  } rows[] = {
      {"'Total: ' + 5", R"("Total: 5")", ""},
      {"2 + 3", "5", ""},
      {"'2' + 3", R"("23")", ""},
      {"'a' + .T.", R"("atrue")", ""},
      {"1.5 + 1", "2.5", ""},
      {"1.5 + 1.5", "3", ""},
      {"+x", R"("5")", ""},
      {"x +", R"("5")", ""},
      {"(x) + (x)", "10", ""},
      {"9223372036854775807 + 1", "9223372036854776000", ""},  // 16 significant digits
      {"10/3*3", "9.99", ""},
      {"10/4*2", "5", ""},
      {"10 / 4", "2.50", ""},
      {"1.5 * 2.25", "3.375", ""},
      {"7 - 7.0", "0", ""},
      {"5/0", "0", ""},
      {"a - -3", "13", ""},
      {"a - 2 - 3", "5", ""},
      {"'01/03/2025' - '01/02/2025'", "28", ""},
      {"'abc' - 1", R"("[Expresion no valida: 1]")", "[Expresion no valida: 1]"},
      {"2*-3", R"("[Expresion no valida: 3]")", "[Expresion no valida: 3]"},
      {"x * 'b'", R"("[Expresion no valida: 'b']")", "[Expresion no valida: 'b']"},
      {"'x' + NOSUCH + 'y'", R"("x[Variable no encontrada: NOSUCH]y")",
       "[Variable no encontrada: NOSUCH]"},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(X(Eval(r.formula, vars)), r.value) << r.formula;
    EXPECT_EQ(ev.GetLastError(), r.error) << r.formula;
  }
}

TEST_F(Evaluador, Comparisons) {
  struct Row {
    const char* formula;
    bool expected;
  } rows[] = {
      {"'abc' > 'ab'", true}, {"'ab' >= 'abc'", false}, {"'ab' < 'abc'", true},
      {"'10' == 10", true},   {"5 != '5x'", true},      {".T. == '1'", false},
      {"'1,5' == 1", true},   {"10/3 == 3.33", true},   {"x <> 5", false},
      {"x >= 5", true},       {"'AB' == 'AB '", false}, {"NOSUCH != 1", true},
      {"NOSUCH > 1", false},  {"NULL == NULL", true},   {"NULL == ''", false},
  };
  for (const Row& r : rows)
    EXPECT_EQ(X(Eval(r.formula, vars)), r.expected ? ".T." : ".F.") << r.formula;
}

TEST_F(Evaluador, RealsAreReadBackFromTheirText) {
  Value v = Value::NewMap({{"R", Value::Real(2.675, 2)},
                           {"S", Value::Real(0.1 + 0.2, 2)},
                           {"E", Value::Real(1234.25, 2)},
                           {"H", Value::Real(0.05, 1)},
                           {"C", Value::Real(2.5, 0)},
                           {"N", Value::Real(-7.125, 3)}});
  struct Row {
    const char* formula;
    const char* value;
  } rows[] = {
      {"R == 2.68", ".T."}, {"R + 0", "2.68"},    {"R * 1", "2.68"},     {"S == 0.3", ".T."},
      {"S + 0", "0.30"},    {"E + 0", "1234.25"}, {"E > 1234.2", ".T."}, {"H + 0", "0.1"},
      {"C == 3", ".T."},    {"N - 0", "-7.125"},  {"10/3 + 0", "3.33"},
  };
  for (const Row& r : rows) EXPECT_EQ(X(Eval(r.formula, v)), r.value) << r.formula;
}

TEST_F(Evaluador, AtomsConstantsVariablesAndErrors) {
  struct Row {
    const char* formula;
    const char* value;
    const char* error;
  } rows[] = {
      {"NOSUCHNAME", R"("[Variable no encontrada: NOSUCHNAME]")",
       "[Variable no encontrada: NOSUCHNAME]"},
      {"KX.COLOR.PINK", R"("[Constante KX.Color no soportada: KX.COLOR.PINK]")",
       "[Constante KX.Color no soportada: KX.COLOR.PINK]"},
      {"kx.color.red", R"("#ff0000")", ""},
      {"crlf", "\"\r\n\"", ""},
      {"NULL", "NIL", ""},
      {"si", ".T.", ""},
      {"@total", "7", ""},
      {"@acum", "9", ""},
      {"@nada", R"("[Expresion no valida: @nada]")", "[Expresion no valida: @nada]"},
      {"-x", R"("[Expresion no valida: -x]")", "[Expresion no valida: -x]"},
      {"cliente.nombre", R"("Ana")", ""},
      {" ((x)) ", "5", ""},
      {"1,5", "1", ""},
      {"12.50", "12.50", ""},
      {"'It''s'", R"("It's")", ""},
      {"\"a\\tb\"", "\"a\tb\"", ""},
      {"FOO(1)", R"("[Funcion no implementada: FOO]")", "[Funcion no implementada: FOO]"},
      {"IIF(1 > 0, 'a', 'b')", R"("a")", ""},
      {"IF(0, 'a', 'b')", R"("b")", ""},
      {"IIF(x, 'a')", R"("[Formula IIf no valida: IIF(x, 'a')]")",
       "[Formula IIf no valida: IIF(x, 'a')]"},
      {"IIF(DET.NOTA, 'a', 'b') * 1", R"("[Expresion no valida: 1]")", "[Expresion no valida: 1]"},
      {"", R"("")", ""},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(X(Eval(r.formula, vars)), r.value) << r.formula;
    EXPECT_EQ(ev.GetLastError(), r.error) << r.formula;
  }
  // Without a library every call is unknown.
  TEvaluadorFormulas sinLibreria;
  EXPECT_EQ(X(sinLibreria.Evaluar("LEFT('ab', 1)", Value())),
            R"("[Funcion no implementada: LEFT]")");
}

TEST_F(Evaluador, Conditions) {
  struct Row {
    const char* condition;
    bool visible;
    const char* motivo;
  } rows[] = {
      {"", true, ""},
      {"   ", true, ""},
      {"T", true, ""},
      {"si", true, ""},
      {"1", true, ""},
      {"0", false, "condicion falsa"},
      {"''", false, "condicion falsa"},
      {"'no'", false, "condicion falsa"},
      {"2", true, ""},
      {"x > 3", true, ""},
      {"x > 7", false, "condicion falsa"},
      {"'[x]'", false, "condicion no valida"},
      {"DET.NOTA", false, "condicion no valida"},
      {"NOSUCH", false, "condicion no valida"},
  };
  for (const Row& r : rows) {
    Value res = ev.EvaluarCondicion(r.condition, vars);
    EXPECT_EQ(X(res), std::string("{\"lVisible\"=>") + (r.visible ? ".T." : ".F.") +
                          ", \"cMotivo\"=>\"" + r.motivo + "\"}")
        << r.condition;
    EXPECT_EQ(ev.CumpleCondicion(r.condition, vars), r.visible) << r.condition;
  }
}

TEST_F(Evaluador, LatestErrorFlowsUntilCleared) {
  Value v = ev.Evaluar("'Total ' + NOSUCH", vars);
  EXPECT_EQ(v.Str(), "Total [Variable no encontrada: NOSUCH]");
  EXPECT_TRUE(ev.EsResultadoError("'Total ' + NOSUCH", v));
  ev.EvaluarFormula("x", vars);  // does not clear
  EXPECT_TRUE(ev.EsResultadoError());
  ev.Evaluar("x", vars);
  EXPECT_FALSE(ev.EsResultadoError());
  ev.EvaluarFormula("NOSUCH", vars);
  ev.ResetLastError();
  EXPECT_EQ(ev.GetLastError(), "");
  EXPECT_EQ(ev.EvaluarTexto("1 > 0", vars).Str(), "true");
  EXPECT_EQ(ev.ResolverTexto("x", vars).Str(), "5");
}

TEST_F(Evaluador, FormulaVariablesAreEvaluatedOncePerCacheLifetime) {
  Value v = J(R"({"VAR.a": "VAR.a + 1", "VAR.b": "DET.X * 2", "VAR.c": "VAR.b + 1",
                  "VAR.blank": "  ", "DET.X": 4})");
  EXPECT_EQ(X(Eval("VAR.a", v)), R"("VAR.a + 11")");
  EXPECT_EQ(X(Eval("VAR.c", v)), "9");
  EXPECT_EQ(X(Eval("var.blank", v)), R"("")");
  v.Set("DET.X", 10);
  EXPECT_EQ(X(Eval("VAR.b", v)), "8");  // still the value of its first evaluation
  ev.ClearResolvedVariableCache();
  EXPECT_EQ(X(Eval("VAR.b", v)), "20");
  v.Set("DET.X", 1);
  ev.SetEstadoEjecucion(Value());
  EXPECT_EQ(X(Eval("VAR.b", v)), "2");

  TEvaluadorFormulas detecta(J(R"({"detectarCircularidad": true})"));
  detecta.Create();
  EXPECT_EQ(detecta.Evaluar("VAR.a", v).Str(), "[Referencia circular: VAR.a]1");
  EXPECT_EQ(detecta.GetLastError(), "");  // the circular reference is not stored
}

// A small fixed state for the engine functions.
class FuncionesMotor : public Evaluador {
 protected:
  void Estado(const char* json) { ev.SetEstadoEjecucion(J(json)); }
  std::string F(const char* formula, const Value& v = Value()) {
    return X(ev.Evaluar(formula, v.IsNil() ? vars : v));
  }
};

TEST_F(FuncionesMotor, PagesAndRecordsWithTheDefaultState) {
  struct Row {
    const char* formula;
    const char* value;
  } rows[] = {
      {"PAGE()", "1"},
      {"PAGES()", "1"},
      {"TOTALPAGES()", "1"},
      {"LASTPAGE()", ".T."},
      {"RECNO()", "0"},
      {"RECCOUNT()", "0"},
      {"ISFIRSTRECORD()", ".F."},
      {"ISLASTRECORD()", ".F."},
      {"PAGEBY(x)", "1"},
      {"TOTALPAGESBY(x)", "1"},
      {"LASTPAGEBY(x)", ".T."},
      {"PROJECTPATH()", R"("")"},
      {"PROJECTPATH(.T.)", R"("")"},
  };
  for (const Row& r : rows) EXPECT_EQ(F(r.formula), r.value) << r.formula;
}

TEST_F(FuncionesMotor, LastPageWithAndWithoutAKnownTotal) {
  struct Row {
    const char* state;
    const char* lastPage;
  } rows[] = {
      {R"({"nPaginaActual": 2, "nTotalPaginas": 5, "lTotalPaginasConocido": false,
           "nIndiceRegistro": 4, "nTotalRegistros": 5})",
       ".T."},
      {R"({"nPaginaActual": 2, "nTotalPaginas": 5, "lTotalPaginasConocido": false,
           "nIndiceRegistro": 3, "nTotalRegistros": 5})",
       ".F."},
      {R"({"nPaginaActual": 2, "nTotalPaginas": 5, "nIndiceRegistro": 4, "nTotalRegistros": 5})",
       ".F."},
      {R"({"nPaginaActual": 5, "nTotalPaginas": 5})", ".T."},
      {R"({"nPaginaActual": 5, "nTotalPaginas": 5, "lLastPageDisponible": false})", ".F."},
      {R"({"nPaginaActual": 0, "nTotalPaginas": -3})", ".T."},  // both raised to 1
  };
  for (const Row& r : rows) {
    Estado(r.state);
    EXPECT_EQ(F("LASTPAGE()"), r.lastPage) << r.state;
  }
  Estado(
      R"({"nPaginaActual": 3.7, "nTotalPaginas": 9, "nIndiceRegistro": 0, "nTotalRegistros": 2})");
  EXPECT_EQ(F("'Pagina ' + PAGE() + ' de ' + TOTALPAGES()"), R"("Pagina 3 de 9")");
  EXPECT_EQ(F("RECNO()"), "1");
  EXPECT_EQ(F("ISFIRSTRECORD()"), ".T.");
  EXPECT_EQ(F("RECCOUNT()"), "2");
}

TEST_F(FuncionesMotor, SumRunsOverTheRecordsUpToTheCurrentOne) {
  ev.SetOpciones(J(R"({"aRegistrosDetalleRuntime": [{"DET.IMPORTE": 1}, {"DET.IMPORTE": 2},
                       {"DET.IMPORTE": 3}, {"DET.IMPORTE": 4}, {"DET.IMPORTE": 5}]})"));
  Estado(R"({"nIndiceRegistro": 2})");
  EXPECT_EQ(F("SUM(DET.IMPORTE)"), "6");
  Estado(R"({"nIndiceRegistro": 9})");
  EXPECT_EQ(F("SUM(DET.IMPORTE)"), "15");
  Estado(R"({"nIndiceRegistro": -1})");
  EXPECT_EQ(F("SUM(DET.IMPORTE)"), "15");
  EXPECT_EQ(F("SUM(DET.IMPORTE * 2)"), "30");
  EXPECT_EQ(F("SUM( )"), "0");
  ev.SetOpciones(J(R"({"aRegistrosDetalleRuntime": []})"));
  EXPECT_EQ(F("SUM(DET.IMPORTE)"), "12.5");  // no records: the current value
}

TEST_F(FuncionesMotor, GroupChangedPreviousAndNext) {
  Value actual = J(R"({"DET.CLIENTE": "AB", "DET.X": 1})");
  struct Row {
    const char* state;
    const char* current;
    const char* changed;
  } rows[] = {
      {R"({"nIndiceRegistro": 1, "hRegistroAnterior": {"DET.CLIENTE": "AB"}})", "ABC", ".T."},
      {R"({"nIndiceRegistro": 1, "hRegistroAnterior": {"DET.CLIENTE": "AB"}})", "AB ", ".T."},
      {R"({"nIndiceRegistro": 1, "hRegistroAnterior": {"det.cliente": "AB"}})", "AB", ".F."},
      {R"({"nIndiceRegistro": 0, "hRegistroAnterior": {"DET.CLIENTE": "AB"}})", "AB", ".T."},
      {R"({"nIndiceRegistro": 3, "hRegistroAnterior": {}})", "AB", ".T."},
  };
  for (const Row& r : rows) {
    Estado(r.state);
    actual.Set("DET.CLIENTE", r.current);
    EXPECT_EQ(F("GROUPCHANGED(DET.CLIENTE)", actual), r.changed) << r.state << r.current;
  }
  EXPECT_EQ(F("GROUPCHANGED()", actual), ".F.");

  Estado(R"({"nIndiceRegistro": 0, "hRegistroSiguiente": {"det.x": 2}})");
  EXPECT_EQ(F("PREVIOUS(DET.X)", actual), "NIL");  // the first record has none
  EXPECT_EQ(F("NEXT(DET.X + 10)", actual), "12");  // the record's field wins in any case
  Estado(R"({"nIndiceRegistro": 1, "hRegistroAnterior": {"DET.X": 0}})");
  EXPECT_EQ(F("PREVIOUS(DET.X)", actual), "0");
  EXPECT_EQ(F("NEXT(DET.X)", actual), "NIL");
}

TEST_F(FuncionesMotor, PagesByKey) {
  Value v = J(R"({"grupo": "A", "VAR.zona": "'B'"})");
  Estado(R"({"nPaginaActual": 2, "hPaginacionPorClave":
              {"A": [3, 1, 2, 2, 0, "x"], "B": {"aPaginas": [7, 5]}, "true": [1, 2]}})");
  struct Row {
    const char* formula;
    const char* value;
  } rows[] = {
      {"PAGEBY(grupo)", "2"},       {"TOTALPAGESBY(grupo)", "3"}, {"LASTPAGEBY(grupo)", ".F."},
      {"PAGEBY('B')", "1"},         {"TOTALPAGESBY('B')", "2"},   {"PAGEBY(zona)", "1"},
      {"TOTALPAGESBY(zona)", "2"},  {"PAGEBY('z')", "1"},         {"TOTALPAGESBY('z')", "1"},
      {"TOTALPAGESBY(1 > 0)", "2"}, {"PAGEBY(a)", "1"},
  };
  for (const Row& r : rows) EXPECT_EQ(F(r.formula, v), r.value) << r.formula;
  // A key found through the user variable still leaves the lookup's error.
  EXPECT_EQ(ev.Evaluar("TOTALPAGESBY(zona)", v).Int(), 2);
  EXPECT_EQ(ev.GetLastError(), "[Variable no encontrada: zona]");
  Estado(R"({"nPaginaActual": 3, "hPaginacionPorClave": {"A": [3, 1, 2]}})");
  EXPECT_EQ(F("LASTPAGEBY(grupo)", v), ".T.");
}

TEST_F(FuncionesMotor, AskStringAndProjectPath) {
  EXPECT_EQ(F("ASKSTRING('Nombre', , 'x', 2)"), R"("x")");
  ev.SetOpciones(J(R"({"hAskStringValues": {" nombre ": "Pedro"},
                       "cProjectFilePath": " /srv/informes/ventas.rpt "})"));
  EXPECT_EQ(F("ASKSTRING('Nombre', NOSUCH, 'x', 2)"), R"("Pe")");
  EXPECT_EQ(ev.GetLastError(), "");  // the second argument is never evaluated
  EXPECT_EQ(F("ASKSTRING('Nombre', , 'x')"), R"("Pedro")");
  EXPECT_EQ(F("ASKSTRING('Otra', , 'x', 1e300)"), R"("x")");
  EXPECT_EQ(F("ASKSTRING('Nombre', , 'x', 99999999999999999999)"), R"("Pedro")");
  EXPECT_EQ(F("PROJECTPATH()"), R"("/srv/informes/")");
  EXPECT_EQ(F("PROJECTPATH(.T.)"), R"("/srv/informes/ventas.rpt")");
  EXPECT_EQ(F("PROJECTPATH('si')"), R"("/srv/informes/ventas.rpt")");
  ev.SetOpciones(J(R"({"cProjectPath": "/srv/x//", "cProjectFileName": "a.rpt"})"));
  EXPECT_EQ(F("PROJECTPATH()"), R"("/srv/x/")");
  EXPECT_EQ(F("PROJECTPATH(1)"), R"("/srv/x/")");  // only the logical true or a true word
  EXPECT_EQ(F("PROJECTPATH('1')"), R"("/srv/x/a.rpt")");
}

TEST_F(FuncionesMotor, HugeStateNumbersSaturate) {
  Estado(R"({"nPaginaActual": 1e300, "nTotalPaginas": -1e300, "nIndiceRegistro": 1e300,
             "nTotalRegistros": 1e300})");
  EXPECT_EQ(F("PAGE()"), "4611686018427387904");
  EXPECT_EQ(F("TOTALPAGES()"), "1");
  EXPECT_EQ(F("RECNO()"), "4611686018427387905");
  EXPECT_EQ(F("ISLASTRECORD()"), ".F.");
  ev.SetOpciones(J(R"({"aRegistrosDetalleRuntime": [{"DET.IMPORTE": 1}]})"));
  EXPECT_EQ(F("SUM(DET.IMPORTE)"), "1");
}

// Both roads, and where the rules of compiled plans differ from the
// interpreter's.
TEST_F(Evaluador, CompiledAgainstInterpretedResults) {
  struct Row {
    const char* formula;
    const char* compiled;
    const char* interpreted;  // nullptr: the same as compiled
  } rows[] = {
      {"x", "5", nullptr},
      {"DET.TIPO + ' ' + CLIENTE.NOMBRE", R"("A Ana")", nullptr},
      {"IIF(DET.IMPORTE > 10 .AND. DET.TIPO == 'A', 'Grande', 'Normal')", R"("Grande")", nullptr},
      {"IIF(x >= 5 .OR. NOSUCH, 1, 2)", "1", nullptr},
      {"'2' + 3", R"("23")", nullptr},
      {"NOT x == 5", ".F.", nullptr},
      {"x > 3 .AND. T", ".T.", nullptr},
      {"'Pagina ' + PAGE() + ' de ' + TOTALPAGES()", R"("Pagina 1 de 1")", nullptr},
      {"IIF(NOSUCHNAME, 'a', 'b')", R"("a")",
       R"("[Formula IIf no valida: IIF(NOSUCHNAME, 'a', 'b')]")"},
      {"IIF(DET.NOTA, 'a', 'b')", R"("a")",
       R"("[Formula IIf no valida: IIF(DET.NOTA, 'a', 'b')]")"},
      {"!NOSUCH", ".F.", ".T."},
      {"NOSUCH .OR. 0", ".T.", ".F."},
      {"x .AND. ", ".F.", ".T."},  // a blank part is "" compiled, a holding condition interpreted
      {"IIF('', 'a', 'b')", R"("b")", R"("b")"},
  };
  for (const Row& r : rows) {
    FormulaPlanRef plan = ev.CompileFormulaPlan(r.formula);
    ASSERT_TRUE(plan) << r.formula;
    ev.ResetLastError();
    EXPECT_EQ(X(ev.EvaluateFormulaPlan(plan, vars)), r.compiled) << r.formula;
    std::string errorCompilado = ev.GetLastError();
    EXPECT_EQ(X(Eval(r.formula, vars)), r.compiled) << r.formula;  // the text road compiles too
    ev.ResetLastError();
    Value interpretado = TEvaluadorFormulasPrueba::Interpretar(ev, r.formula, vars);
    EXPECT_EQ(X(interpretado), r.interpreted ? r.interpreted : r.compiled) << r.formula;
    if (!r.interpreted) {
      EXPECT_EQ(ev.GetLastError(), errorCompilado) << r.formula;
    }
  }
  ev.ResetLastError();
  EXPECT_EQ(ev.EvaluateFormulaPlan(ev.CompileFormulaPlan("IIF(NOSUCHNAME, 'a', 'b')"), vars).Str(),
            "a");
  EXPECT_EQ(ev.GetLastError(), "[Variable no encontrada: NOSUCHNAME]");
  EXPECT_EQ(ev.Evaluar("IIF(NOSUCHNAME * 1, 'a', 'b')", vars).Str(),
            "[Formula IIf no valida: IIF(NOSUCHNAME * 1, 'a', 'b')]");
}

TEST_F(Evaluador, WhatCompiles) {
  for (const char* f :
       {"a * b", "@total", "-x", "(a) .AND. (b)", "IIF(x, 'a')", "x + (y)", "'abc"}) {
    EXPECT_FALSE(ev.CompileFormulaPlan(f)) << f;
    EXPECT_FALSE(ev.CompileFormulaPlan(f)) << f;  // again, from the cache
  }
  EXPECT_EQ(X(ev.EvaluateFormulaPlan(ev.CompileFormulaPlan("  "), vars)), R"("")");
  EXPECT_EQ(ev.CompileFormulaPlan("a == b").get(), ev.CompileFormulaPlan(" (a == b) ").get());
}

TEST_F(Evaluador, PlansAreEvaluatedThroughTheirHandles) {
  FormulaPlanRef plan = ev.CompileFormulaPlan("IIF(DET.TIPO == 'A', DET.IMPORTE, 0)");
  ASSERT_TRUE(plan);
  EXPECT_EQ(X(ev.EvaluateFormulaPlan(plan->Condition(), vars)), ".T.");
  EXPECT_EQ(X(ev.EvaluateFormulaPlan(plan->FalseBranch(), vars)), "0");
  // Carried in a Value, a plan is still a plan; other values are none.
  Value enValor = FormulaPlan::AsValue(plan);
  EXPECT_EQ(X(ev.EvaluateFormulaPlan(enValor, vars)), "12.5");
  EXPECT_EQ(X(ev.EvaluateFormulaPlan(plan->ToMap(), vars)), "NIL");
  EXPECT_EQ(X(ev.EvaluateFormulaPlan(FormulaPlanRef(), vars)), "NIL");
  // A plan answers alike in another evaluator.
  TEvaluadorFormulas otroEvaluador;
  otroEvaluador.Create();
  EXPECT_EQ(X(otroEvaluador.EvaluateFormulaPlan(plan, vars)), "12.5");
}

TEST_F(Evaluador, KeyPositionsFollowTheMapsKeys) {
  FormulaPlanRef plan = ev.CompileFormulaPlan("DET.B");
  Value m = J(R"({"DET.A": 1, "DET.B": 2})");
  EXPECT_EQ(ev.EvaluateFormulaPlan(plan, m).Int(), 2);
  m.Set("DET.B", 3);  // values change in place
  EXPECT_EQ(ev.EvaluateFormulaPlan(plan, m).Int(), 3);
  EXPECT_EQ(ev.EvaluateFormulaPlan(plan, J(R"({"DET.A": 1, "DET.B": 4})")).Int(), 4);
  EXPECT_EQ(ev.EvaluateFormulaPlan(plan, J(R"({"DET.B": 5, "DET.A": 1})")).Int(), 5);
  m.AsMap().Remove("DET.A");
  EXPECT_EQ(ev.EvaluateFormulaPlan(plan, m).Int(), 3);
  // The first key equal after trimming and upper-casing, in the map's order.
  Value ci = J(R"({" det.b ": 6, "Det.B": 7})");
  EXPECT_EQ(ev.EvaluateFormulaPlan(plan, ci).Int(), 6);
  ci.Set("DET.B", 8);
  EXPECT_EQ(ev.EvaluateFormulaPlan(plan, ci).Int(), 8);
  ci.AsMap().Remove("DET.B");
  ci.AsMap().Remove(" det.b ");
  EXPECT_EQ(ev.EvaluateFormulaPlan(plan, ci).Int(), 7);
  EXPECT_EQ(ev.EvaluateFormulaPlan(plan, Value::NewMap()).Str(), "[Variable no encontrada: DET.B]");
  EXPECT_EQ(ev.EvaluateFormulaPlan(plan, Value(3)).Str(), "[Variable no encontrada: DET.B]");
}

TEST_F(Evaluador, SimpleAccumulatorEvaluation) {
  SimpleAccumulatorPlanRef s = ev.CompileSimpleAccumulatorPlan(
      ev.CompileFormulaPlan("IIF(DET.TIPO == 'A', DET.IMPORTE, 0)"));
  EXPECT_TRUE(ev.SimpleAccumulatorFalseIsZero(s));
  EXPECT_TRUE(ev.EvaluateSimpleAccumulatorCondition(s, vars));
  EXPECT_EQ(X(ev.EvaluateSimpleAccumulatorValue(s, true, vars)), "12.5");
  EXPECT_EQ(X(ev.EvaluateSimpleAccumulatorValue(s, false, vars)), "0");
  Value otro = J(R"({"det.tipo": "B"})");
  EXPECT_FALSE(ev.EvaluateSimpleAccumulatorCondition(s, otro));
  EXPECT_EQ(X(ev.EvaluateSimpleAccumulatorValue(s, true, otro)), "NIL");  // no error value
  SimpleAccumulatorPlanRef s2 = ev.CompileSimpleAccumulatorPlan(
      ev.CompileFormulaPlan("IIF(DET.NADA != 1 .AND. DET.NADA > 1, 1, 'x')"));
  ev.ResetLastError();
  EXPECT_FALSE(ev.EvaluateSimpleAccumulatorCondition(s2, vars));  // nothing != 1, nothing > 1
  EXPECT_FALSE(ev.SimpleAccumulatorFalseIsZero(s2));
  EXPECT_EQ(ev.GetLastError(), "");
  EXPECT_FALSE(ev.EvaluateSimpleAccumulatorCondition(nullptr, vars));
  EXPECT_EQ(X(ev.EvaluateSimpleAccumulatorValue(nullptr, true, vars)), "NIL");
  EXPECT_FALSE(ev.SimpleAccumulatorFalseIsZero(nullptr));
}

std::string Repetir(std::string_view s, size_t n) {
  std::string out;
  out.reserve(s.size() * n);
  for (size_t i = 0; i < n; ++i) out.append(s);
  return out;
}

bool EsExpresionNoValida(const Value& v) {
  return v.IsText() && v.Str().substr(0, 22) == "[Expresion no valida: ";
}

TEST_F(Evaluador, HostileNestingAnswersAnInvalidExpression) {
  struct Row {
    std::string name;
    std::string formula;
  } rows[] = {
      {"nots", Repetir("!", 10000) + "x"},
      {"nested parentheses under not", Repetir("!(", 3000) + "x" + Repetir(")", 3000)},
      {"nested IIF", Repetir("IIF(T, ", 2000) + "1" + Repetir(", 0)", 2000)},
      {"nested calls", Repetir("LEFT(", 3000) + "x" + Repetir(")", 3000)},
      {"nested arithmetic", Repetir("1 - (", 2000) + "1" + Repetir(")", 2000)},
      {"nested comparisons", Repetir("(x == ", 2000) + "1" + Repetir(")", 2000) + " + 1"},
      // Nested 100,000 deep (the IIF text is 1.3 MB): judged before anything is built.
      {"IIF 100,000 deep", Repetir("IIF(.T., ", 100000) + "1" + Repetir(", 2)", 100000)},
      {"NOT words", Repetir("NOT ", 100000) + "x"},
      {"a chain of comparisons", Repetir("1 < ", 100000) + "2"},
      {"calls in a sum", Repetir("1 + UPPER(", 100000) + "x" + Repetir(")", 100000)},
      {"just past the height limit",
       Repetir("LEFT(", kMaxAlturaPlan + 1) + "x" + Repetir(")", kMaxAlturaPlan + 1)},
  };
  for (const Row& r : rows) {
    // The whole formula is the invalid expression, as a build cut at the limit makes it.
    const std::string expected =
        "[Expresion no valida: " + std::string(NormalizarFormula(r.formula)) + "]";
    Value v = ev.Evaluar(r.formula, vars);
    EXPECT_TRUE(v.Str() == expected) << r.name << ": " << X(v).substr(0, 80);
    EXPECT_TRUE(ev.EsResultadoError()) << r.name;
    EXPECT_FALSE(ev.CompileFormulaPlan(r.formula)) << r.name;
    EXPECT_TRUE(ev.Evaluar(r.formula, vars).Str() == expected) << r.name;  // and again
    EXPECT_TRUE(ev.CumpleCondicion(r.formula, vars) == false) << r.name;
  }
  // Parentheses that wrap the whole formula are peeled, however many.
  EXPECT_EQ(X(ev.Evaluar(Repetir("(", 100000) + "x" + Repetir(")", 100000), vars)), "5");
  // Long flat formulas and moderate nesting are no problem.
  EXPECT_EQ(X(ev.Evaluar(Repetir("1 + ", 10000) + "1", vars)), "10001");
  EXPECT_EQ(X(ev.Evaluar(Repetir("!", 60) + "x", vars)), ".T.");
  EXPECT_EQ(X(ev.Evaluar(Repetir("IIF(T, ", 30) + "1" + Repetir(", 0)", 30), vars)), "1");
  EXPECT_EQ(X(ev.Evaluar(Repetir("1 - (", 31) + "1" + Repetir(")", 31), vars)), "0");
  EXPECT_EQ(X(ev.Evaluar(Repetir("LEFT(", 100) + "'ab'" + Repetir(", 1)", 100), vars)), R"("a")");
}

TEST_F(Evaluador, LongChainsOfFormulaVariablesStop) {
  auto cadena = [](int n) {
    Value v = Value::NewMap();
    for (int i = 0; i < n; ++i) {
      v.Set("VAR.v" + std::to_string(i), "VAR.v" + std::to_string(i + 1) + " + 0");
    }
    v.Set("VAR.v" + std::to_string(n), "1");
    return v;
  };
  Value larga = cadena(5000);
  Value v = ev.Evaluar("VAR.v0", larga);
  EXPECT_TRUE(EsExpresionNoValida(v)) << X(v);
  EXPECT_TRUE(ev.EsResultadoError());
  ev.ClearResolvedVariableCache();
  EXPECT_EQ(X(ev.Evaluar("VAR.v0", cadena(30))), "1");
  EXPECT_FALSE(ev.EsResultadoError());
}

// SUM over a run, record after record, against the sum each call would make
// from scratch with the variables and the record's fields.
TEST_F(FuncionesMotor, SumOverARunMatchesSummingEveryCallAfresh) {
  const int n = 300;
  Value registros = Value::NewList();
  for (int k = 0; k < n; ++k) {
    Value r = Value::NewMap();
    if (k % 7 == 0) {
      r.Set("DET.IMPORTE", k);
    } else if (k % 11 == 0) {
      r.Set("DET.IMPORTE", "3,5");
    } else {
      r.Set("DET.IMPORTE", Value::Real(k * 0.25 + 0.005, 1 + k % 3));
    }
    r.Set("DET.OTRO", k);
    if (k == 120 || k == 200) r.AsMap().Remove("DET.IMPORTE");  // takes the variable's value
    registros.Push(k == 50 ? Value(5) : r);
  }
  Value opciones = Value::NewMap({{"aRegistrosDetalleRuntime", registros}});
  ev.SetOpciones(opciones);
  Value actuales = J(R"({"DET.IMPORTE": 100.5, "FACTOR": 2})");
  auto esperado = [&](int i, bool conFactor) {
    Value total(0);
    for (int k = 0; k <= i; ++k) {
      const Value& r = registros.AsList()[k];
      if (!r.IsMap()) continue;
      Value v = r.Has("DET.IMPORTE") ? r.Get("DET.IMPORTE") : actuales.Get("DET.IMPORTE");
      if (!v.IsNumber() && !(v.IsText() && EsNumerico(v.Str()))) continue;
      Value x = ReadNumber(FormulaString(v));
      if (conFactor) x = Mul(x, actuales.Get("FACTOR"));
      total = Add(total, x);
    }
    return X(total.IsReal() && total.Double() == std::trunc(total.Double()) ? IntPart(total)
                                                                            : total);
  };
  for (int i = 0; i < n; ++i) {
    Estado(("{\"nIndiceRegistro\": " + std::to_string(i) + "}").c_str());
    ASSERT_EQ(F("SUM(DET.IMPORTE)", actuales), esperado(i, false)) << i;
  }
  for (int i : {n - 1, 0, 130, 49, 199, 201}) {  // going back reads the kept totals
    Estado(("{\"nIndiceRegistro\": " + std::to_string(i) + "}").c_str());
    EXPECT_EQ(F("SUM(DET.IMPORTE)", actuales), esperado(i, false)) << i;
    EXPECT_EQ(F("SUM(DET.IMPORTE)", actuales), esperado(i, false)) << i;
  }
  // An expression that reads a variable is summed with the current value.
  Estado(R"({"nIndiceRegistro": 20})");
  std::string conFactor = F("SUM(DET.IMPORTE * FACTOR)", actuales);
  actuales.Set("FACTOR", 3);
  ev.ClearResolvedVariableCache();
  EXPECT_NE(F("SUM(DET.IMPORTE * FACTOR)", actuales), conFactor);
  EXPECT_EQ(F("SUM(DET.IMPORTE * FACTOR)", actuales), esperado(20, true));
  // Another record list is summed anew.
  Value otros = J(R"([{"DET.IMPORTE": 1000}])");
  ev.SetOpciones(Value::NewMap({{"aRegistrosDetalleRuntime", otros}}));
  EXPECT_EQ(F("SUM(DET.IMPORTE)", actuales), "1000");
}

TEST_F(FuncionesMotor, SumKeepsTheErrorsOfTheRecordsItSums) {
  ev.SetOpciones(J(R"({"aRegistrosDetalleRuntime": [{"DET.I": 1}, {"DET.I": 2}, {"DET.I": "abc"},
                       {"DET.I": 4}]})"));
  struct Row {
    int i;
    const char* sum;
    const char* error;
  } rows[] = {
      {1, "3", ""}, {3, "7", "[Expresion no valida: 1]"}, {2, "3", "[Expresion no valida: 1]"},
      {0, "1", ""}, {3, "7", "[Expresion no valida: 1]"},
  };
  for (const Row& r : rows) {
    Estado(("{\"nIndiceRegistro\": " + std::to_string(r.i) + "}").c_str());
    EXPECT_EQ(F("SUM(DET.I * 1)"), r.sum) << r.i;
    EXPECT_EQ(ev.GetLastError(), r.error) << r.i;
  }
}

TEST_F(Evaluador, LifecycleAndOptions) {
  Value opciones = J(R"({"k": 1})");
  TEvaluadorFormulas e(opciones);
  e.Create().Create();
  e.SetEstadoEjecucion(J(R"({"nPaginaActual": 4})"));
  EXPECT_EQ(e.Evaluar("PAGE()", Value()).Int(), 4);
  e.End();
  EXPECT_EQ(opciones.Len(), 1u);  // the caller's options map is not emptied
  EXPECT_EQ(e.Evaluar("FOO()", Value()).Str(), "[Funcion no implementada: FOO]");
  EXPECT_EQ(e.Evaluar("UPPER('a')", Value()).Str(), "[Funcion no implementada: UPPER]");
  e.SetOpciones(Value(5));
  EXPECT_EQ(e.Evaluar(Value(12), Value()).Int(), 12);
  EXPECT_EQ(e.Evaluar(Value(true), Value()).Int(), 1);
  EXPECT_EQ(e.Evaluar(Value(), Value()).Str(), "");
}

}  // namespace
}  // namespace kx
