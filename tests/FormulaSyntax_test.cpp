#include "FormulaSyntax.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kx {
namespace {

std::string Unir(const std::vector<std::string_view>& partes) {
  std::string out;
  for (size_t i = 0; i < partes.size(); ++i) {
    if (i) out += "|";
    out += partes[i];
  }
  return out;
}

std::string Unir(const std::vector<ParAritmetico>& pares) {
  std::string out;
  for (size_t i = 0; i < pares.size(); ++i) {
    if (i) out += "|";
    if (pares[i].second) out.push_back(pares[i].second);
    out += pares[i].first;
  }
  return out;
}

TEST(FormulaSyntax, QuitarParentesisExternos) {
  struct Row {
    const char* text;
    const char* expected;
  } rows[] = {
      {"((a))", "a"},
      {"  ( ( a ) )  ", "a"},
      {"(a) + (b)", "(a) + (b)"},
      {"(a))", "(a))"},
      {"((a)", "((a)"},
      {"(')')", "')'"},
      {"('(')", "'('"},
      {"(a + ')(')", "a + ')('"},
      {"(a\n)", "a\n"},  // the trailing trim removes spaces only
      {"()", ""},
      {"( )", ""},
      {"x", "x"},
  };
  for (const Row& r : rows) EXPECT_EQ(QuitarParentesisExternos(r.text), r.expected) << r.text;
  EXPECT_TRUE(ParentesisExternosEnvuelvenTodo("((a))"));
  EXPECT_FALSE(ParentesisExternosEnvuelvenTodo("(a) + (b)"));
  EXPECT_FALSE(ParentesisExternosEnvuelvenTodo("(a))"));
}

TEST(FormulaSyntax, PeelingManyParenthesesStaysLinear) {
  // Quadratic peeling would need 10^11 steps here.
  const size_t n = 300000;
  std::string t = std::string(n, '(') + "x" + std::string(n, ')');
  EXPECT_EQ(QuitarParentesisExternos(t), "x");
  std::string abierto = std::string(n, '(') + "x" + std::string(n - 1, ')');
  EXPECT_EQ(QuitarParentesisExternos(abierto).size(), abierto.size());
}

TEST(FormulaSyntax, AnidamientoExcede) {
  struct Row {
    const char* text;
    size_t limit;
    bool deeper;
  } rows[] = {
      {"f(a, g(b))", 2, false},
      {"f(a, g(b))", 1, true},
      {"((a))", 1, true},               // every parenthesis counts
      {"'((((' + \"))((\"", 0, false},  // quoted runs hold no nesting
      {"a) + (b", 1, false},            // the depth never falls below 0
      {"NOT NOT x", 1, true},
      {"NOT NOT x", 2, false},
      {".not. !x", 1, true},
      {"x + NOT y", 0, false},  // a NOT inside an operand starts no chain
      {"a < b < c", 1, true},
      {"a < b .AND. c < d", 1, false},  // each operand of .AND. is a chain of its own
      {"f(a < b, c < d)", 2, false},
      {"NOT f(NOT g(x))", 3, true},
      {"a != b", 1, false},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(AnidamientoExcede(r.text, r.limit), r.deeper) << r.text << " / " << r.limit;
  }
}

TEST(FormulaSyntax, Splitters) {
  EXPECT_EQ(Unir(SepararPorOperadorLogico("a .or. b .Or. 'x .OR. y' .OR.", ".OR.")),
            "a|b|'x .OR. y'|");
  EXPECT_EQ(Unir(SepararPorOperadorLogico("f(a .AND. b)", ".AND.")), "f(a .AND. b)");
  EXPECT_EQ(Unir(SepararTopLevel("a + ", "+")), "a|");
  EXPECT_EQ(Unir(SepararTopLevel("'a+b' + (c + d)", "+")), "'a+b'|(c + d)");
  EXPECT_EQ(Unir(SepararArgumentos("1;2")), "1|2");
  EXPECT_EQ(Unir(SepararArgumentos(",")), "|");
  EXPECT_EQ(Unir(SepararArgumentos("a,")), "a|");
  EXPECT_TRUE(SepararArgumentos("  ").empty());
  EXPECT_EQ(Unir(SepararPorResta("a - b - c")), "a|-b|-c");
  EXPECT_EQ(Unir(SepararPorResta("a - -3")), "a|--3");
  EXPECT_TRUE(SepararPorResta("-x").empty());
  EXPECT_TRUE(SepararPorResta("-5").empty());
  EXPECT_EQ(Unir(SepararPorResta("2*-3")), "2*|-3");
  EXPECT_EQ(Unir(SepararPorOperadoresAritmeticos("10/3*3", "*/", false)), "10|/3|*3");
  EXPECT_EQ(Unir(SepararPorOperadoresAritmeticos("a *", "*/", false)), "a");
}

TEST(FormulaSyntax, SepararComparacion) {
  struct Row {
    const char* text;
    const char* left;
    const char* op;
    const char* right;
  } rows[] = {
      {"a <= b", "a", "<=", "b"}, {"a < b < c", "a", "<", "b < c"}, {"a => b", "a =", ">", "b"},
      {"a <> b", "a", "<>", "b"}, {"a != b", "a", "!=", "b"},       {"'<' == x", "'<'", "==", "x"},
  };
  for (const Row& r : rows) {
    auto c = SepararComparacion(r.text);
    ASSERT_TRUE(c) << r.text;
    EXPECT_EQ(c->cIzquierda, r.left) << r.text;
    EXPECT_EQ(c->cOperador, r.op) << r.text;
    EXPECT_EQ(c->cDerecha, r.right) << r.text;
  }
  EXPECT_FALSE(SepararComparacion("a = b"));
  EXPECT_FALSE(SepararComparacion("f(a > b)"));
}

TEST(FormulaSyntax, AtomTests) {
  for (const char* t : {"12.50", "-3", "+.5", "1,5", "1.2.3", " 7 "})
    EXPECT_TRUE(EsNumerico(t)) << t;
  for (const char* t : {"1e5", "1-2", "- 5", "-", "", ".", "5-"}) EXPECT_FALSE(EsNumerico(t)) << t;
  for (const char* t : {"CLIENTE.NOMBRE", "KX.COLOR.RED", "1abc", "a$"}) {
    EXPECT_TRUE(IsIdentifier(t)) << t;
  }
  for (const char* t : {"@total", "a b", "-x", ""}) EXPECT_FALSE(IsIdentifier(t)) << t;
  for (const char* t : {"'It''s'", "''", "\"a\"", "'a\"b'"}) {
    EXPECT_TRUE(EsLiteralTextoCompleto(t)) << t;
  }
  for (const char* t : {"'a' + 'b'", "'abc", "'", "'''", "a'"}) {
    EXPECT_FALSE(EsLiteralTextoCompleto(t)) << t;
  }
}

TEST(FormulaSyntax, FunctionNamesAndCalls) {
  struct Row {
    const char* name;
    const char* expected;
  } rows[] = {
      {" mid$ ", "SUBSTR"}, {"Mid", "SUBSTR"}, {"atrim", "ALLTRIM"}, {"FStr$", "TRANSFORM"},
      {"date$", "DTOC"},    {"Date", "DATE"},  {"left$", "LEFT"},    {"hb_MemoRead", "HB_MEMOREAD"},
  };
  for (const Row& r : rows) EXPECT_EQ(NormalizarNombreFuncion(r.name), r.expected) << r.name;
  auto f = EsLlamadaFuncion("MID$(x, 1, 2)");
  ASSERT_TRUE(f);
  EXPECT_EQ(f->cNombre, "MID$");
  EXPECT_EQ(f->cArgumentos, "x, 1, 2");
  EXPECT_FALSE(EsLlamadaFuncion("(a)"));
  EXPECT_FALSE(EsLlamadaFuncion("@f(a)"));
  EXPECT_FALSE(EsLlamadaFuncion("f(a) x"));
}

TEST(FormulaSyntax, PagingFunctionsAreFoundInAnyCaseAndSpacing) {
  const struct {
    const char* formula;
    bool uses;
  } cases[] = {
      {"'Hoja ' + PAGE() + ' de ' + TOTALPAGES()", true},
      {"totalpages()", true},
      {"T O T A L P A G E S ( )", true},
      {"LastPageBy('x')", true},
      {"Pages ()", true},
      {"Transform(SUM.TOTAL, '99,999,999.99')", false},
      {"PAGE()", false},  // the current page needs no count
      {"pageX(1)", false},
      {"'pages' + 1", false},
      {"P\tAGES()", false},  // only blanks are skipped
      {"", false},
  };
  for (const auto& c : cases) EXPECT_EQ(UsaFuncionPaginacion(c.formula), c.uses) << c.formula;
}

TEST(FormulaSyntax, LiteralUnescaping) {
  struct Row {
    const char* body;
    char quote;
    const char* expected;
  } rows[] = {
      {"It\\'s", '\'', "It's"}, {"a\\\\b", '\'', "a\\b"},   {"line\\nnext", '\'', "line\nnext"},
      {"It''s", '\'', "It's"},  {"a\"\"b", '\'', "a\"\"b"}, {"a\"\"b", '"', "a\"b"},
      {"tab\\t", '"', "tab\t"}, {"end\\", '"', "end\\"},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(KXTARUNESCAPEFORMULALITERAL(r.body, r.quote), r.expected) << r.body;
  }
}

TEST(FormulaSyntax, TruthWords) {
  for (const char* t : {"TRUE", " .t. ", "T", "yes", "Si", "S\xC3\x8D", "1"}) {
    EXPECT_EQ(ValorBooleanoCondicion(t), true) << t;
  }
  for (const char* t : {"false", ".F.", "f", "No", "0", "", "  "}) {
    EXPECT_EQ(ValorBooleanoCondicion(t), false) << t;
  }
  for (const char* t : {"S", "Y", "N", "TR", "s\xC3\xAD", "2"}) {
    EXPECT_EQ(ValorBooleanoCondicion(t), std::nullopt) << t;
  }
}

}  // namespace
}  // namespace kx
