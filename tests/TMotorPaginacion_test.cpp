#include "TMotorPaginacion.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Json.h"

namespace kx {
namespace {

// Opens the line model and the run re-cutting to the tests.
class Modelo : public TMotorPaginacion {
 public:
  using TMotorPaginacion::CaracteresPorLinea;
  using TMotorPaginacion::CursorRuns;
  using TMotorPaginacion::DividirTexto;
  using TMotorPaginacion::FragmentarLineas;
  using TMotorPaginacion::FragmentRichTextRuns;
  using TMotorPaginacion::LineasTexto;
  using TMotorPaginacion::LineasVisuales;
  using TMotorPaginacion::LineaVisual;
  using TMotorPaginacion::PartirParrafo;
  using TMotorPaginacion::SepararLineas;
  using TMotorPaginacion::Trozo;
  using TMotorPaginacion::UnirLineas;
};

constexpr double kPunto = 0.352777777777778;

Value Json(const std::string& text) {
  return JsonDecode(text);
}

std::vector<std::string> Textos(const std::vector<std::string_view>& partes) {
  return std::vector<std::string>(partes.begin(), partes.end());
}

// "texto|fin" for every visual line, fin 1 or 0.
std::vector<std::string> Lineas(const Value& map) {
  const Modelo::LineasTexto lineas = Modelo::LineasVisuales(map);
  std::vector<std::string> out;
  for (const auto& l : lineas.aLineas) {
    out.push_back(std::string(lineas.Texto(l)) + "|" + (l.lFinParrafo ? "1" : "0"));
  }
  return out;
}

// Number of lines in each chunk.
std::vector<size_t> Trozos(const Value& map, const std::vector<bool>& fines) {
  std::vector<Modelo::LineaVisual> lineas;
  for (bool fin : fines) lineas.push_back({0, 0, fin});
  std::vector<size_t> out;
  size_t siguiente = 0;
  for (const auto& t : Modelo::FragmentarLineas(map, lineas)) {
    EXPECT_EQ(t.nPrimera, siguiente);
    siguiente += t.nCuantas;
    out.push_back(t.nCuantas);
  }
  EXPECT_EQ(siguiente, fines.size());
  return out;
}

// A splittable text of `lineas` paragraphs "l1".."ln", three lines per box.
Value TextoLargo(const std::string& id, int lineas) {
  std::string texto;
  for (int i = 1; i <= lineas; ++i) {
    if (i > 1) texto.push_back('\n');
    texto.push_back('l');
    texto.append(std::to_string(i));
  }
  Value map = Value::NewMap({{"id", Value(id)},
                             {"tipo", "texto"},
                             {"x", 10},
                             {"y", 20},
                             {"ancho", 0},
                             {"alto", Value::Real(10.6, 1)},
                             {"texto", Value(texto)},
                             {"tamano", 10},
                             {"permiteSaltoPagina", true},
                             {"paddingSuperior", 0}});
  return map;
}

std::vector<std::string> IdsDePagina(const Value& pagina) {
  std::vector<std::string> ids;
  for (const Value& o : pagina.AsList()) ids.push_back(ValueString(o.Get("id")));
  return ids;
}

// ---------------------------------------------------------------------------
// Line model

TEST(LineModel, CharactersPerLine) {
  struct Row {
    const char* map;
    int64_t expected;
  } rows[] = {
      // 46 mm usable at 1.834444 mm a character.
      {R"({"ancho":50,"paddingIzquierdo":2,"paddingDerecho":2,"tamano":10})", 25},
      {R"({"ancho":50,"paddingIzquierdo":2,"paddingDerecho":2})", 25},  // size 10 by default
      {R"({"ancho":"50,0","paddingIzquierdo":"2","paddingDerecho":2})", 25},
      {R"({"ancho":10,"paddingIzquierdo":-5,"paddingDerecho":-5})", 5},  // negatives count 0
      {R"({"ancho":0})", 2147483647},
      {R"({})", 2147483647},
      {R"({"ancho":10,"paddingIzquierdo":6,"paddingDerecho":6})", 2147483647},
      {R"({"ancho":0.5})", 1},
      {R"({"ancho":50,"tamano":0})", 2725},  // size 0.1 at least
      {R"({"ancho":50,"tamano":20})", 13},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(Modelo::CaracteresPorLinea(Json(r.map)), r.expected) << r.map;
  }
}

TEST(LineModel, WordWrapFollowsTheGreedyCut) {
  const std::string acentos = "áéíóúñáéíóúñ";  // 12 two-byte characters
  struct Row {
    std::string parrafo;
    int64_t n;
    std::vector<std::string> lineas;
  } rows[] = {
      {"abcde fghij klmno", 12, {"abcde fghij ", "klmno"}},
      // A hard cut leaves the blank to start the next window alone.
      {"abcde fghij klmno", 5, {"abcde", " ", "fghij", " ", "klmno"}},
      {acentos, 5, {"áéíóú", "ñáéíó", "úñ"}},
      {"", 5, {""}},
      {"abc", 3, {"abc"}},
      {"abcdefgh", 3, {"abc", "def", "gh"}},
      {"ab\tcd ef", 4, {"ab\t", "cd ", "ef"}},
      {"   abc def", 5, {"   ", "abc ", "def"}},
      {"uno dos", 2147483647, {"uno dos"}},
      {"a b", 0, {"a", " ", "b"}},  // at least one character a line
  };
  for (const Row& r : rows) {
    const std::vector<std::string_view> lineas = Modelo::PartirParrafo(r.parrafo, r.n);
    EXPECT_EQ(Textos(lineas), r.lineas) << r.parrafo << " at " << r.n;
    std::string unido;
    for (auto l : lineas) unido += l;
    EXPECT_EQ(unido, r.parrafo);
  }
}

TEST(LineModel, SplitAndJoinAtLineFeeds) {
  struct Row {
    std::string texto;
    std::vector<std::string> partes;
  } rows[] = {
      {"", {""}},
      {"a", {"a"}},
      {"a\n", {"a", ""}},
      {"\n\nb", {"", "", "b"}},
      {"a\r\nb", {"a\r", "b"}},  // only LF splits
  };
  for (const Row& r : rows) {
    const auto partes = Modelo::SepararLineas(r.texto);
    EXPECT_EQ(Textos(partes), r.partes) << r.texto;
    EXPECT_EQ(Modelo::UnirLineas(partes), r.texto);
  }
  EXPECT_EQ(Modelo::UnirLineas({}), "");
}

TEST(LineModel, VisualLines) {
  struct Row {
    const char* map;
    std::vector<std::string> lineas;
  } rows[] = {
      {R"({"texto":"uno\r\ndos\rtres","ajusteLinea":false,"ancho":5})",
       {"uno|1", "dos|1", "tres|1"}},
      // Only the logical false stops wrapping.
      {R"({"texto":"abcde fghij","ajusteLinea":"false","ancho":11.1})", {"abcde |0", "fghij|1"}},
      {R"({"texto":"abcde fghij\n\nxy","ancho":11.1})", {"abcde |0", "fghij|1", "|1", "xy|1"}},
      {R"({"texto":"abcde fghij\nxy","ancho":0})", {"abcde fghij|1", "xy|1"}},
      {R"({"texto":""})", {"|1"}},
      {R"({})", {"|1"}},
      {R"({"texto":"a\r\r\nb\n"})", {"a|1", "|1", "b|1", "|1"}},
      {R"({"texto":12.5})", {"12.5|1"}},
  };
  for (const Row& r : rows) EXPECT_EQ(Lineas(Json(r.map)), r.lineas) << r.map;
}

TEST(LineModel, LineHeightsDecideTheChunks) {
  const double interior = 12 * kPunto;  // size 10 + spacing 2
  const double final = 16 * kPunto;     // size 10 + paragraph spacing 6
  EXPECT_NEAR(interior, 4.2333, 1e-4);
  EXPECT_NEAR(final, 5.6444, 1e-4);
  auto caja = [](double alto, double superior = 0, double inferior = 0) {
    Value map = Json(R"({"tamano":10,"interlineado":2,"espaciadoParrafo":6})");
    map.Set("alto", Value(alto));
    map.Set("paddingSuperior", Value(superior));
    map.Set("paddingInferior", Value(inferior));
    return map;
  };
  const double dos = 2 * interior + final;
  struct Row {
    Value map;
    std::vector<bool> fines;
    std::vector<size_t> trozos;
  } rows[] = {
      {caja(dos + 1e-7), {false, false, true}, {3}},
      {caja(dos - 1e-3), {false, false, true}, {2, 1}},
      // Paddings come off the height.
      {caja(dos + 2, 1, 1), {false, false, true}, {3}},
      {caja(dos + 2, 1.5, 1), {false, false, true}, {2, 1}},
      {caja(interior * 3), {false, false, false, false, false}, {3, 2}},
      // A line taller than the box still takes a chunk of its own.
      {caja(1), {true, true}, {1, 1}},
      // No usable height: one chunk of everything.
      {caja(0), {true, true, true}, {3}},
      {caja(4, 2, 2), {true, true}, {2}},
      {caja(10), {}, {0}},
  };
  for (Row& r : rows) EXPECT_EQ(Trozos(r.map, r.fines), r.trozos) << JsonEncode(r.map);

  // The paragraph spacing defaults to the line spacing; a line is 0.1 mm at least.
  EXPECT_EQ(Trozos(Json(R"({"interlineado":2,"alto":8.5})"), {true, true}), std::vector<size_t>{2});
  EXPECT_EQ(Trozos(Json(R"({"interlineado":2,"alto":8.4})"), {true, true}),
            (std::vector<size_t>{1, 1}));
  EXPECT_EQ(Trozos(Json(R"({"tamano":1,"interlineado":-20,"alto":0.3})"), {false, true, false}),
            std::vector<size_t>{3});
  EXPECT_EQ(Trozos(Json(R"({"tamano":1,"interlineado":-20,"alto":0.29})"), {false, true, false}),
            (std::vector<size_t>{2, 1}));
}

// ---------------------------------------------------------------------------
// Splitting texts over fixed pages

TEST(Pagination, BreakableTextSplitsIntoFragmentsWithIdsAndKeys) {
  TMotorPaginacion motor;
  motor.Create();
  const Value texto = TextoLargo("t1", 7);  // 7 lines, 3 a box: 2.3 boxes
  const Value rect = Json(R"({"id":"r1","tipo":"rectangulo","y":200,"alto":10})");
  const Value paginas = motor.DividirObjetos(Value::NewList({rect, texto, 5, Value::NewList()}));

  ASSERT_EQ(paginas.Len(), 3u);
  EXPECT_EQ(IdsDePagina(paginas.AsList()[0]), (std::vector<std::string>{"r1", "t1"}));
  EXPECT_EQ(IdsDePagina(paginas.AsList()[1]), std::vector<std::string>{"t1__page_2"});
  EXPECT_EQ(IdsDePagina(paginas.AsList()[2]), std::vector<std::string>{"t1__page_3"});
  EXPECT_TRUE(paginas.AsList()[0].AsList()[0].SameRef(rect));  // passed through, not copied

  const char* esperado[] = {
      R"({"id":"t1","tipo":"texto","x":10,"y":20,"ancho":0,"alto":10.6,"texto":"l1\nl2\nl3",)"
      R"("tamano":10,"permiteSaltoPagina":true,"paddingSuperior":0,)"
      R"("finalesParrafo":[true,true,true],"idOrigenPaginacion":"t1","nPaginaContinuacion":1})",
      R"({"id":"t1__page_2","tipo":"texto","x":10,"y":20,"ancho":0,"alto":10.6,)"
      R"("texto":"l4\nl5\nl6","tamano":10,"permiteSaltoPagina":true,"paddingSuperior":0,)"
      R"("finalesParrafo":[true,true,true],"idOrigenPaginacion":"t1","nPaginaContinuacion":2})",
      R"({"id":"t1__page_3","tipo":"texto","x":10,"y":20,"ancho":0,"alto":10.6,"texto":"l7",)"
      R"("tamano":10,"permiteSaltoPagina":true,"paddingSuperior":0,)"
      R"("finalesParrafo":[true],"idOrigenPaginacion":"t1","nPaginaContinuacion":3})",
  };
  for (size_t k = 0; k < 3; ++k) {
    const List& pagina = paginas.AsList()[k].AsList();
    EXPECT_EQ(JsonEncode(pagina[pagina.size() - 1]), esperado[k]) << "page " << k + 1;
  }
  // The source text is left as it was.
  EXPECT_EQ(texto.Len(), 10u);
  EXPECT_EQ(texto.Get("id").Str(), "t1");
}

TEST(Pagination, SeveralTextsShareThePages) {
  TMotorPaginacion motor;
  const Value paginas = motor.DividirObjetos(
      Value::NewList({TextoLargo("a", 9), TextoLargo("", 5), TextoLargo("c", 2)}));
  ASSERT_EQ(paginas.Len(), 3u);
  EXPECT_EQ(IdsDePagina(paginas.AsList()[0]), (std::vector<std::string>{"a", "", "c"}));
  EXPECT_EQ(IdsDePagina(paginas.AsList()[1]), (std::vector<std::string>{"a__page_2", ""}));
  EXPECT_EQ(IdsDePagina(paginas.AsList()[2]), std::vector<std::string>{"a__page_3"});
  const Value& sinId = paginas.AsList()[1].AsList()[1];
  EXPECT_EQ(sinId.Get("idOrigenPaginacion").Str(), "");
  EXPECT_EQ(sinId.Get("nPaginaContinuacion").Int(), 2);
  EXPECT_EQ(sinId.Get("texto").Str(), "l4\nl5");
}

TEST(Pagination, TextsThatAreNotSplit) {
  auto con = [](const char* key, Value v) {
    Value map = DeepClone(TextoLargo("t", 7));
    map.Set(key, v);
    return map;
  };
  struct Row {
    const char* why;
    Value map;
  } rows[] = {
      {"page breaks as a text", con("permiteSaltoPagina", "true")},
      {"page breaks as a number", con("permiteSaltoPagina", 1)},
      {"another kind", con("tipo", "texto_enriquecido")},
      {"fits its box", con("alto", 30)},
      {"no usable height", con("paddingInferior", 11)},
  };
  for (Row& r : rows) {
    TMotorPaginacion motor;
    const Value paginas = motor.DividirObjetos(Value::NewList({r.map}));
    ASSERT_EQ(paginas.Len(), 1u) << r.why;
    EXPECT_TRUE(paginas.AsList()[0].AsList()[0].SameRef(r.map)) << r.why;
  }

  // The label run: a long text stays whole, overflowing its box.
  TMotorPaginacion motor;
  motor.SetIgnorarSaltosPagina(true);
  const Value texto = TextoLargo("t", 7);
  Value paginas = motor.DividirObjetos(Value::NewList({texto}));
  ASSERT_EQ(paginas.Len(), 1u);
  EXPECT_TRUE(paginas.AsList()[0].AsList()[0].SameRef(texto));
  motor.SetIgnorarSaltosPagina("true");  // only the logical true ignores page breaks
  EXPECT_EQ(motor.DividirObjetos(Value::NewList({texto})).Len(), 3u);
  motor.SetIgnorarSaltosPagina(true);
  motor.End();
  EXPECT_FALSE(motor.lIgnorarSaltosPagina);
  EXPECT_EQ(motor.DividirObjetos(Value::NewList({texto})).Len(), 3u);

  EXPECT_EQ(JsonEncode(motor.DividirObjetos(Value("x"))), "[[]]");
}

TEST(Pagination, FormattedTextRunsFollowTheirFragments) {
  // 12 characters a line: "Hola mundo " then "entero y mas"; the box holds one line.
  const Value texto = Json(R"({"id":"f","tipo":"texto_formateado","ancho":22.1,"alto":4,)"
                           R"("texto":"Hola mundo entero y mas","permiteSaltoPagina":true,)"
                           R"("runs":[{"cText":"Hola ","negrita":true},)"
                           R"({"cText":"mundo entero y mas","negrita":false}],"zIndex":3})");
  TMotorPaginacion motor;
  const Value paginas = motor.DividirObjetos(Value::NewList({texto}));
  ASSERT_EQ(paginas.Len(), 2u);
  const Value& uno = paginas.AsList()[0].AsList()[0];
  const Value& dos = paginas.AsList()[1].AsList()[0];
  EXPECT_EQ(uno.Get("texto").Str(), "Hola mundo ");
  EXPECT_EQ(JsonEncode(uno.Get("runs")),
            R"([{"cText":"Hola ","negrita":true},{"cText":"mundo ","negrita":false}])");
  EXPECT_EQ(dos.Get("texto").Str(), "entero y mas");
  EXPECT_EQ(JsonEncode(dos.Get("runs")), R"([{"cText":"entero y mas","negrita":false}])");
  // "runs" keeps its place among the keys, the new ones follow.
  EXPECT_EQ(dos.AsMap().KeyAt(6), "runs");
  EXPECT_EQ(dos.AsMap().KeyAt(7), "zIndex");
  EXPECT_EQ(dos.AsMap().KeyAt(8), "finalesParrafo");
  EXPECT_EQ(JsonEncode(uno.Get("finalesParrafo")), "[false]");
  EXPECT_EQ(JsonEncode(dos.Get("finalesParrafo")), "[true]");
  // The source runs are untouched.
  EXPECT_EQ(texto.Get("runs").AsList()[1].Get("cText").Str(), "mundo entero y mas");
}

// ---------------------------------------------------------------------------
// Re-cutting runs

TEST(RunRecut, RunsFollowTheFragmentsOfTheirText) {
  struct Row {
    const char* why;
    const char* runs;
    std::vector<std::string> fragmentos;
    std::vector<std::string> esperado;
  } rows[] = {
      {"a wrap point consumes no source byte",
       R"([{"cText":"ab cd","k":1}])",
       {"ab \ncd"},
       {R"([{"cText":"ab \ncd","k":1}])"}},
      {"a paragraph end between fragments is skipped",
       R"([{"cText":"ab\n","k":1},{"cText":"cd","k":2}])",
       {"ab", "cd"},
       {R"([{"cText":"ab","k":1}])", R"([{"cText":"cd","k":2}])"}},
      // The CR LF of the runs stands where the text holds LF.
      {"CR LF between fragments",
       R"([{"cText":"Línea uno\r\n","negrita":true},{"cText":"ñandú","negrita":false}])",
       {"Línea uno", "ñandú"},
       {R"([{"cText":"Línea uno","negrita":true}])", R"([{"cText":"ñandú","negrita":false}])"}},
      {"CR LF inside a fragment",
       R"([{"cText":"Línea uno\r\n","negrita":true},{"cText":"ñandú","negrita":false}])",
       {"Línea uno\nñandú"},
       {R"([{"cText":"Línea uno\n","negrita":true},{"cText":"ñandú","negrita":false}])"}},
      {"CR and LF in two runs",
       R"([{"cText":"á\r","k":1},{"cText":"\né","k":2}])",
       {"á\né"},
       {R"([{"cText":"á\n","k":1},{"cText":"é","k":2}])"}},
      {"lone CR",
       R"([{"cText":"uno\r","k":1},{"cText":"dós\rtrés","k":2}])",
       {"uno\ndós", "trés"},
       {R"([{"cText":"uno\n","k":1},{"cText":"dós","k":2}])", R"([{"cText":"trés","k":2}])"}},
      // The text lost a leading blank the runs kept: characters stay whole.
      {"text and runs differ",
       R"([{"cText":" x","k":1},{"cText":"é","k":2}])",
       {"xé"},
       {R"([{"cText":"xé","k":1}])"}},
      {"bytes past the runs go to a further copy of the last run",
       R"([{"cText":"ab","k":1}])",
       {"abc", "d"},
       {R"([{"cText":"ab","k":1},{"cText":"c","k":1}])", R"([{"cText":"d","k":1}])"}},
      {"no runs", R"([])", {"ab"}, {R"([{"cText":"ab"}])"}},
      {"runs that are not maps hold no text",
       R"([{"cText":"a","k":1},5,{"k":3},{"cText":7,"k":4}])",
       {"ab"},
       {R"([{"cText":"a","k":1},{"cText":"b","k":4}])"}},
      {"not a list", R"("x")", {"ab"}, {"[]"}},
      {"an empty fragment", R"([{"cText":"ab","k":1}])", {""}, {"[]"}},
  };
  for (const Row& r : rows) {
    const Value runs = Json(r.runs);
    Modelo::CursorRuns cursor;
    for (size_t k = 0; k < r.fragmentos.size(); ++k) {
      const Value res = Modelo::FragmentRichTextRuns(runs, r.fragmentos[k], cursor);
      EXPECT_EQ(JsonEncode(res), r.esperado[k]) << r.why << ", fragment " << k + 1;
      std::string unido;
      for (const Value& run : res.AsList()) {
        EXPECT_TRUE(IsValidUtf8(run.Get("cText").Str())) << r.why;
        unido += run.Get("cText").Str();
      }
      if (runs.IsList()) {
        EXPECT_EQ(unido, r.fragmentos[k]) << r.why;
      }
    }
  }
}

TEST(RunRecut, FormattedTextWithCarriageReturnsSplitsIntoValidRuns) {
  // The rendered text has its line ends normalised; its runs keep CR LF and CR.
  const Value texto = Json(
      R"({"id":"f","tipo":"texto_formateado","alto":4,"permiteSaltoPagina":true,)"
      R"("texto":"añil\nbúho\ncañón","runs":[{"cText":"añil\r\nbú","c":1},{"cText":"ho\rcañón","c":2}]})");
  TMotorPaginacion motor;
  const Value paginas = motor.DividirObjetos(Value::NewList({texto}));
  ASSERT_EQ(paginas.Len(), 3u);
  const char* esperado[] = {
      R"([{"cText":"añil","c":1}])",
      R"([{"cText":"bú","c":1},{"cText":"ho","c":2}])",
      R"([{"cText":"cañón","c":2}])",
  };
  for (size_t k = 0; k < 3; ++k) {
    const Value& f = paginas.AsList()[k].AsList()[0];
    EXPECT_EQ(JsonEncode(f.Get("runs")), esperado[k]) << "fragment " << k + 1;
  }
}

// ---------------------------------------------------------------------------
// Paginating one execution

TEST(Pagination, ContentPaperIsOnePageAsTallAsItsContent) {
  const Value rect = Json(R"({"tipo":"rectangulo","y":20,"alto":30,"sombraTamano":2})");
  const Value otro = Json(R"({"tipo":"rectangulo","y":"10","alto":-40,"sombraTamano":-1})");
  struct Row {
    const char* paper;
    Value objetos;
    double alto;
  } rows[] = {
      {R"({"ancho":80,"modoAlto":"content","margenInferiorContinuo":5})",
       Value::NewList({otro, rect, 5}), 57},
      {R"({"ancho":80,"modoAlto":" CONTENT "})", Value::NewList({rect}), 57},  // margin 5
      {R"({"modoAlto":"content","margenInferiorContinuo":5})", Value::NewList(), 5},
      {R"({"modoAlto":"content","margenInferiorContinuo":-3})", Value::NewList(), 1},
      {R"({"modoAlto":"content","margenInferiorContinuo":-3})", Value::NewList({rect}), 52},
      {R"({"modoAlto":"content","margenInferiorContinuo":7})", Value("x"), 7},
      {R"({"modoAlto":"content","margenInferiorContinuo":-3})", Value(), 1},
  };
  for (Row& r : rows) {
    TMotorPaginacion motor;
    Ref<TDocumentoRenderizable> doc = motor.Paginar(Json(r.paper), r.objetos);
    EXPECT_DOUBLE_EQ(doc->nAlto, r.alto) << r.paper;
    EXPECT_EQ(doc->cPaperHeightMode, "content");
    EXPECT_EQ(doc->TotalPaginas(), 1);
  }

  // The list goes in as it comes: nothing split, nothing dropped.
  TMotorPaginacion motor;
  const Value objetos = Value::NewList({TextoLargo("t", 7), 5});
  Ref<TDocumentoRenderizable> doc = motor.Paginar(Json(R"({"modoAlto":"content"})"), objetos);
  EXPECT_EQ(doc->TotalPaginas(), 1);
  EXPECT_TRUE(doc->GetPagina(1).Get("objetos").SameRef(objetos));
  EXPECT_DOUBLE_EQ(doc->nAlto, 35.6);
}

TEST(Pagination, FixedPaperGetsOnePagePerFragment) {
  struct Row {
    const char* paper;
    double ancho;
    double alto;
  } rows[] = {
      {R"({"ancho":210,"alto":"297","modoAlto":"fixed"})", 210, 297},
      {R"({"ancho":210,"alto":297,"modoAlto":""})", 210, 297},
      {R"({"ancho":210,"alto":297,"modoAlto":"contenido"})", 210, 297},
      {R"({"ancho":210,"alto":297})", 210, 297},
  };
  for (const Row& r : rows) {
    TMotorPaginacion motor;
    Ref<TDocumentoRenderizable> doc =
        motor.Paginar(Json(r.paper), Value::NewList({5, TextoLargo("t", 7)}));
    EXPECT_EQ(doc->cPaperHeightMode, "fixed") << r.paper;
    EXPECT_DOUBLE_EQ(doc->nAncho, r.ancho);
    EXPECT_DOUBLE_EQ(doc->nAlto, r.alto);
    ASSERT_EQ(doc->TotalPaginas(), 3) << r.paper;
    EXPECT_EQ(doc->TotalObjetos(), 3);
    EXPECT_EQ(doc->GetPagina(3).Get("objetos").AsList()[0].Get("texto").Str(), "l7");
  }

  // No paper and no objects: one empty page of 0 by 0.
  TMotorPaginacion motor;
  Ref<TDocumentoRenderizable> doc = motor.Paginar(Value(), Value());
  EXPECT_EQ(doc->TotalPaginas(), 1);
  EXPECT_EQ(doc->TotalObjetos(), 0);
  EXPECT_EQ(doc->nAncho, 0);
  EXPECT_EQ(doc->nAlto, 0);
  EXPECT_EQ(doc->cPaperHeightMode, "fixed");
}

TEST(Pagination, Lifecycle) {
  const Value opciones = Json(R"({"a":1})");
  TMotorPaginacion motor(opciones);
  EXPECT_TRUE(motor.hOpciones.SameRef(opciones));
  EXPECT_FALSE(motor.lCreated);
  motor.Create().SetIgnorarSaltosPagina(true);
  EXPECT_TRUE(motor.lCreated);
  motor.SetOpciones(Value(3));
  EXPECT_TRUE(motor.hOpciones.IsMap());
  EXPECT_EQ(motor.hOpciones.Len(), 0u);
  EXPECT_TRUE(motor.lIgnorarSaltosPagina);
  motor.End();
  EXPECT_FALSE(motor.lCreated);
  EXPECT_FALSE(motor.lIgnorarSaltosPagina);
  EXPECT_EQ(motor.hOpciones.Len(), 0u);
}

}  // namespace
}  // namespace kx
