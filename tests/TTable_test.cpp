#include "TTable.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "GruposAlAzar.h"
#include "Json.h"
#include "ObjectTestContext.h"
#include "TDocumentoRenderizable.h"
#include "TKXEngine.h"
#include "TKXEngineInterno.h"
#include "TMotorComposicion.h"
#include "TMotorEjecucion.h"
#include "TMotorPaginacion.h"
#include "TPlantilla.h"

namespace kx {
namespace {

// ---- Fixtures

// A text cell showing a formula.
std::string Celda(double width, std::string_view formula) {
  std::string f = std::string(JsonEncode(Value(formula)));
  return R"({"nWidth":)" + JsonEncode(Value(width)) +
         R"(,"hContent":{"cType":"TText","hObject":{"cText":)" + f + "}}}";
}

Ref<TTable> Tabla(std::string_view json) {
  auto t = MakeRef<TTable>();
  t->Load(JsonDecode(json));
  t->Create();
  return t;
}

// Records {"L.id": i, "L.importe": i + 1} with group fields from the callback.
Value Registros(int n, const std::function<void(int, Value&)>& extra = nullptr) {
  Value lista = Value::NewList();
  for (int i = 0; i < n; ++i) {
    Value r = Value::NewMap({{"L.id", i}, {"L.importe", i + 1}});
    if (extra) extra(i, r);
    lista.Push(r);
  }
  return lista;
}

const char* kSumas = R"({"importe":{"tipo":"N","formula":"L.importe"}})";

Value Opciones(const Value& registros, int64_t base = 0, std::string_view acum = kSumas) {
  return Value::NewMap({{"aRegistrosDetalleRuntime", registros},
                        {"lRegistrosDetalleGlobalRuntime", true},
                        {"nRegistroBase", base},
                        {"nTotalRegistrosRuntime", static_cast<int64_t>(registros.Len())},
                        {"hAcumVars", JsonDecode(acum)}});
}

std::vector<std::string> Ids(const Value& out, std::string_view tipo = "") {
  std::vector<std::string> ids;
  for (const Value& o : out.AsList())
    if (tipo.empty() || o.Get("tipo").Str() == tipo) ids.push_back(ValueString(o.Get("id")));
  return ids;
}

// The ids of the line rectangles (not their border overlays), in order.
std::vector<std::string> Lineas(const Value& out) {
  std::vector<std::string> ids;
  for (const Value& o : out.AsList()) {
    const std::string id = ValueString(o.Get("id"));
    if (id.find("_line_") != std::string::npos && id.find("_border") == std::string::npos)
      ids.push_back(id);
  }
  return ids;
}

const Value* Buscar(const Value& out, std::string_view id) {
  for (const Value& o : out.AsList())
    if (o.Get("id").Str() == id) return &o;
  return nullptr;
}

std::string TextoDe(const Value& out, std::string_view id) {
  const Value* o = Buscar(out, id);
  return o ? ValueString(o->Get("texto")) : "<none>";
}

// The detail record numbers whose line 0 printed, in order.
std::vector<int64_t> RegistrosImpresos(const Value& out, std::string_view prefijo = "T_detail_r") {
  std::vector<int64_t> r;
  for (const std::string& id : Lineas(out)) {
    if (id.rfind(prefijo, 0) != 0 || id.find("_line_0") == std::string::npos) continue;
    r.push_back(std::stoll(id.substr(prefijo.size())));
  }
  return r;
}

// Drives the table page by page as the page loop does: one render per page with the record
// base advanced by what the page consumed, and the sums and continuations carried over.
struct Recorrido {
  std::vector<Value> paginas;
  std::vector<Value> continuaciones;  // after each page
  bool atascado = false;
};

Recorrido Paginar(TTable& t, const Value& registros, std::string_view acum = kSumas,
                  int maxPaginas = 200) {
  Recorrido rec;
  ObjectTestContext ctx;
  const int64_t n = static_cast<int64_t>(registros.Len());
  int64_t base = 0;
  Value sumas = Value::NewMap();
  Value continuaciones = Value::NewMap();
  int64_t sinConsumir = 0;
  while (base < n && static_cast<int>(rec.paginas.size()) < maxPaginas) {
    Value opciones = Opciones(registros, base, acum);
    opciones.Set("hAcumuladoresIniciales", sumas);
    opciones.Set("hContinuacionesTabla", continuaciones);
    opciones.Set("lOmitirResetInicialAcumuladores", Value(sumas.Len() > 0));
    ctx.contexto->SetOpciones(opciones);
    ctx.contexto->Create();
    rec.paginas.push_back(t.GenerarRenderizable(*ctx.contexto));
    const int64_t consumidos = ctx.contexto->GetRegistrosDetalleConsumidosRuntime();
    sumas = DeepClone(ctx.contexto->GetAcumuladores());
    const Value anteriores = continuaciones;
    continuaciones = ctx.contexto->GetContinuacionesTabla();
    rec.continuaciones.push_back(continuaciones);
    // The page loop's own rule of a step that made no progress.
    if (facade::EsPasoEstancado(consumidos, continuaciones, anteriores, sinConsumir)) {
      rec.atascado = true;
      break;
    }
    base += consumidos;
  }
  return rec;
}

// Every detail record of the run printed exactly once, in order.
void EsperarCadaRegistroUnaVez(const Recorrido& rec, int64_t n) {
  std::vector<int64_t> todos;
  for (const Value& p : rec.paginas)
    for (int64_t r : RegistrosImpresos(p)) todos.push_back(r);
  std::vector<int64_t> esperado;
  for (int64_t i = 0; i < n; ++i) esperado.push_back(i);
  EXPECT_EQ(todos, esperado);
  EXPECT_FALSE(rec.atascado);
}

// ---- Template model and normalisation

TEST(TTable, InitDefaults) {
  TTable t;
  EXPECT_EQ(t.cName.Str(), "Tabla");
  EXPECT_EQ(t.cType.Str(), "TTable");
  EXPECT_EQ(t.nWidth.Int(), 80);
  EXPECT_EQ(t.nHeight.Int(), 45);
  EXPECT_EQ(t.cBackgroundColor.Str(), "#f8fafc");
  EXPECT_EQ(t.cHeightMode, "fixed");
  EXPECT_TRUE(t.lFooterOnBottom);
  EXPECT_FALSE(t.lFixedSeparators);
}

TEST(TTable, ColumnWidthsAreFittedToTheTable) {
  struct Caso {
    const char* celdas;
    const char* extra;
    std::vector<double> anchos;
  } casos[] = {
      {R"([{"nWidth":50},{"nWidth":50},{"nWidth":50}])", "", {33.3, 33.3, 33.4}},
      {R"([{"nWidth":30},{"nWidth":30},{"nWidth":40.005}])", "", {30, 30, 40.0}},
      {R"([{"nWidth":20},{"nWidth":20}])", "", {20, 20}},
      {R"([{"nWidth":0},{"nWidth":-3},{}])", "", {5, 5, 5}},
      {R"([])", "", {100}},
      {R"([{"nWidth":80},{"nWidth":40}])", R"(,"hPadding":{"nLeft":5,"nRight":5})", {60, 30}},
      {R"([{"nWidth":50},{"nWidth":50}])", R"(,"hReservedSpace":{"nLeft":10})", {45, 45}},
  };
  for (const Caso& c : casos) {
    auto t = Tabla(std::string(R"({"nWidth":100,"hSections":{"detail":{"aLines":[{"aCells":)") +
                   c.celdas + c.extra + "}]}}}");
    const Value& celdas = t->hSections.Get("detail").Get("aLines").AsList()[0].Get("aCells");
    ASSERT_EQ(celdas.Len(), c.anchos.size()) << c.celdas;
    for (size_t k = 0; k < c.anchos.size(); ++k)
      EXPECT_NEAR(celdas.AsList()[k].Get("nWidth").Double(), c.anchos[k], 1e-9)
          << c.celdas << c.extra << " cell " << k;
  }
  // A table narrower than the minimum column still fits its columns to 5 mm.
  auto estrecha =
      Tabla(R"({"nWidth":3,"hSections":{"detail":{"aLines":[{"aCells":[{"nWidth":9}]}]}}})");
  EXPECT_NEAR(estrecha->hSections.Get("detail")
                  .Get("aLines")
                  .AsList()[0]
                  .Get("aCells")
                  .AsList()[0]
                  .Get("nWidth")
                  .Double(),
              5.0, 1e-9);
}

TEST(TTable, NormalisedLinesCarryTheirSectionsKeysInOrder) {
  auto t = Tabla(R"({"hSections":{
      "header":{"aLines":[{"nHeight":0.5,"extra":1}]},
      "detail":{"lShowGrid":false,"aLines":[7]},
      "groupHeader":{"lConcatNextDataLine":true,"aLines":[{"cGroupExpression":"A"}]},
      "groupFooter":{"lAlsoOnEmptyGroup":"yes","aLines":[{"aResetAcumuladores":["TOTAL","SUM.IVA",5]}]},
      "other":{"aLines":[{}]}}})");
  auto claves = [](const Value& m) {
    std::vector<std::string> k;
    for (const Map::Entry& e : m.AsMap()) k.push_back(std::string(e.key.Str()));
    return k;
  };
  const Value& s = t->hSections;
  EXPECT_EQ(claves(s),
            (std::vector<std::string>{"header", "detail", "footer", "groupHeader", "groupFooter"}));
  const Value cabecera = s.Get("header").Get("aLines").AsList()[0];
  EXPECT_EQ(
      claves(cabecera),
      (std::vector<std::string>{"cName", "nHeight", "cConditionFormula", "lKeepTogether",
                                "lIgnoreEmpty", "lPageBreakBefore", "cSuppressCondition",
                                "hBackground", "hBorder", "hPadding", "hReservedSpace", "aCells"}));
  EXPECT_EQ(cabecera.Get("cName").Str(), "Cabecera 1");
  EXPECT_DOUBLE_EQ(cabecera.Get("nHeight").Double(), 1.0);
  const Value detalle = s.Get("detail").Get("aLines").AsList()[0];
  EXPECT_EQ(
      claves(detalle),
      (std::vector<std::string>{"cName", "nHeight", "cConditionFormula", "lKeepTogether",
                                "lIgnoreEmpty", "lPageBreakBefore", "cSuppressCondition",
                                "lPageBreakAfter", "lForceAccumulators", "hZebraPattern",
                                "hBackground", "hBorder", "hPadding", "hReservedSpace", "aCells"}));
  EXPECT_EQ(detalle.Get("nHeight").Int(), 8);
  EXPECT_FALSE(detalle.Get("hBorder").Get("lVerticalSeparators").Bool());  // the section's grid
  EXPECT_EQ(detalle.Get("aCells").Len(), 1u);
  EXPECT_EQ(JsonEncode(detalle.Get("hZebraPattern")),
            R"({"lEnabled":false,"nPattern":0,"cColor1":"#ffffff","cColor2":"#f3f4f6",)"
            R"("nColor1Opacity":1,"nColor2Opacity":1})");
  const Value pie = s.Get("groupFooter").Get("aLines").AsList()[0];
  EXPECT_EQ(claves(pie),
            (std::vector<std::string>{"cName", "nHeight", "cConditionFormula", "lKeepTogether",
                                      "lIgnoreEmpty", "lPageBreakBefore", "cSuppressCondition",
                                      "lPageBreakAfter", "cGroupExpression", "lKeepWithPrevious",
                                      "aResetAcumuladores", "hBackground", "hBorder", "hPadding",
                                      "hReservedSpace", "aCells"}));
  EXPECT_TRUE(pie.Get("lKeepWithPrevious").Bool());
  EXPECT_EQ(JsonEncode(pie.Get("aResetAcumuladores")), R"(["TOTAL","SUM.IVA"])");
  EXPECT_FALSE(s.Get("groupFooter").Get("lAlsoOnEmptyGroup").Bool());
  const Value grupo = s.Get("groupHeader").Get("aLines").AsList()[0];
  EXPECT_FALSE(grupo.Get("lKeepWithPrevious").Bool());
  EXPECT_FALSE(grupo.Get("lRepeatAsHeader").Bool());
  EXPECT_TRUE(s.Get("groupHeader").Get("lConcatNextDataLine").Bool());
  EXPECT_EQ(JsonEncode(cabecera.Get("hBorder")),
            R"({"lTop":true,"lBottom":true,"lLeft":true,"lRight":true,"lVerticalSeparators":true,)"
            R"("cColor":"","cColorFormula":"","nWidth":0,"nRounded":0})");
  EXPECT_EQ(JsonEncode(cabecera.Get("aCells").AsList()[0]),
            R"({"nWidth":80,"hContent":null,"hBackground":{"cColor":"","cColorFormula":"",)"
            R"("cFillStyle":"solid","cFillColor2":"#ffffff","cFillColor3":"#ffffff",)"
            R"("nFillOpacity":1},"hBorder":{"lTop":true,"lRight":true,"lBottom":true,)"
            R"("lLeft":true,"cColor":"","nWidth":0}})");
}

TEST(TTable, NormalisingTwiceChangesNothing) {
  auto t = Tabla(R"({"nWidth":100,"cId":"T","hSections":{"detail":{"aLines":[{"aCells":[
      {"nWidth":50},{"nWidth":50},{"nWidth":50}],"hZebraPattern":{"lEnabled":true,"cColor1":"#ABCDEF"}}]},
      "groupHeader":{"lConcatNextDataLine":true,"aLines":[{"lRepeatAsHeader":true}]}},
      "hGroup":{"cBreakExpression":"A"}})");
  const std::string primera = JsonEncode(t->Save());
  EXPECT_EQ(JsonEncode(t->Save()), primera);
  auto otra = Tabla(primera);
  EXPECT_EQ(JsonEncode(otra->Save()), primera);
}

TEST(TTable, SaveWritesTheTableKeysAfterTheBase) {
  auto t = Tabla(R"({"cHeightMode":" Content ","lFooterOnBottom":0,"lFixedSeparators":"yes"})");
  const Value s = t->Save();
  std::vector<std::string> claves;
  for (const Map::Entry& e : s.AsMap()) claves.push_back(std::string(e.key.Str()));
  ASSERT_EQ(claves.size(), 53u);
  EXPECT_EQ(claves[45], "lKx12WrapBefore");
  EXPECT_EQ(std::vector<std::string>(claves.begin() + 46, claves.end()),
            (std::vector<std::string>{"hSections", "cPageBreakCondition", "lFixedSeparators",
                                      "lFooterOnBottom", "cHeightMode", "hHeader", "hGroup"}));
  EXPECT_EQ(s.Get("cHeightMode").Str(), "content");
  EXPECT_TRUE(s.Get("lFooterOnBottom").Bool());  // only the logical false turns it off
  EXPECT_FALSE(s.Get("lFixedSeparators").Bool());
  EXPECT_EQ(Tabla(R"({"cHeightMode":"contents"})")->cHeightMode, "fixed");
}

TEST(TTable, OlderHeaderKeyIsStoredInTheTemplatesSections) {
  const Value plantilla =
      JsonDecode(R"({"hSections":{},"hHeader":{"aLines":[{"nHeight":5,"cName":"Titulo"}]}})");
  TTable t;
  t.Load(plantilla);
  EXPECT_TRUE(plantilla.Get("hSections").Get("header").IsMap());
  EXPECT_EQ(t.hHeader.Get("aLines").AsList()[0].Get("cName").Str(), "Titulo");
  EXPECT_EQ(t.hSections.Get("header").Get("aLines").Len(), 1u);
}

TEST(TTable, OlderLinePageBreakConditionMovesToTheTable) {
  EXPECT_EQ(Tabla(R"({"hSections":{"detail":{"aLines":[{"cPageBreakCondition":" x > 1 "}]}}})")
                ->cPageBreakCondition,
            "x > 1");
  EXPECT_EQ(Tabla(R"({"hSections":{"detail":{"aLines":[{"cPageBreakCondition":"x > 1"}]},
                "groupHeader":{"aLines":[{"cPageBreakCondition":"g"}]}}})")
                ->cPageBreakCondition,
            "g");
  EXPECT_EQ(Tabla(R"({"cPageBreakCondition":"mine","hSections":{"detail":{"aLines":[
                {"cPageBreakCondition":"x"}]}}})")
                ->cPageBreakCondition,
            "mine");
}

TEST(TTable, GroupSettingsKeepDistinctNonBlankExpressions) {
  const Value g = TTable::NormalizeGroupSettings(
      JsonDecode(R"({"cBreakExpression":"B","aBreakExpressions":["AB"," ","A",5,"AB"]})"));
  EXPECT_EQ(
      JsonEncode(g),
      R"({"cBreakExpression":"B","aBreakExpressions":["B","AB","A"],"lSkipEmptyValues":false})");
}

TEST(TTable, CellContentKinds) {
  EXPECT_TRUE(TTable::NormalizeHeaderCellContent(
                  JsonDecode(R"({"cType":"richText","hObject":{"cContent":"x"}})"))
                  .IsMap());
  for (const char* c : {R"({"cType":"TChart","hObject":{}})", R"({"cType":"TText"})",
                        R"({"cType":"TText","hObject":[]})", R"([1])"})
    EXPECT_TRUE(TTable::NormalizeHeaderCellContent(JsonDecode(c)).IsNil()) << c;
}

TEST(TTable, LoadingAgainEndsTheCellObjectsOfTheFirstLoad) {
  const std::string plantilla =
      R"({"cId":"T","hSections":{"header":{"aLines":[{"aCells":[)" + Celda(80, "\"x\"") + "]}]}}}";
  auto t = Tabla(plantilla);
  ObjectTestContext ctx;
  t->GenerarRenderizable(*ctx.contexto);
  ASSERT_EQ(t->hCellObjectCache.Len(), 1u);
  const Value objeto = t->hCellObjectCache.AsMap().ValueAt(0);
  ASSERT_NE(objeto.As<TObjectBase>()->oParent, nullptr);
  t->Load(JsonDecode(plantilla));
  EXPECT_EQ(objeto.As<TObjectBase>()->oParent, nullptr);
  EXPECT_EQ(t->hCellObjectCache.Len(), 0u);
}

// ---- Records and the context protocol

const std::string kDetalleId = R"({"cId":"T","nWidth":100,"nHeight":500,"hSections":{
    "detail":{"aLines":[{"aCells":[)" +
                               Celda(100, "L.id") + R"(]}]}}})";

TEST(TTable, GlobalModeStartsAtTheRecordBase) {
  auto t = Tabla(kDetalleId);
  Value opciones = Opciones(Registros(100), 30);
  opciones.Set("nRegistroFinRuntime", Value(35));
  ObjectTestContext ctx(opciones);
  const Value out = t->GenerarRenderizable(*ctx.contexto);
  EXPECT_EQ(RegistrosImpresos(out), (std::vector<int64_t>{30, 31, 32, 33, 34}));
  EXPECT_EQ(TextoDe(out, "T_detail_r30_0_0_text"), "30");
  EXPECT_EQ(ctx.contexto->GetRegistrosDetalleConsumidosRuntime(), 5);
  EXPECT_EQ(ctx.contexto->nUltimoRegistroConsumido, 34);
}

TEST(TTable, APagePastTheLastRecordPrintsNone) {
  auto t = Tabla(R"({"cId":"T","nWidth":100,"nHeight":500,"hSections":{
    "detail":{"aLines":[{"aCells":[)" +
                 Celda(100, "L.id") + R"(]}]},
    "footer":{"aLines":[{"aCells":[)" +
                 Celda(100, "'Total ' + SUM.importe") + R"(]}]}}})");
  Value opciones = Opciones(Registros(3), 3);
  opciones.Set("hAcumuladoresIniciales", Value::NewMap({{"SUM.importe", 6}}));
  opciones.Set("lOmitirResetInicialAcumuladores", Value(true));
  ObjectTestContext ctx(opciones);
  const Value out = t->GenerarRenderizable(*ctx.contexto);
  EXPECT_TRUE(RegistrosImpresos(out).empty());
  EXPECT_EQ(TextoDe(out, "T_footer_0_0_text"), "Total 6");
  EXPECT_EQ(ctx.contexto->GetRegistrosDetalleConsumidosRuntime(), 0);
}

TEST(TTable, LocalModeCountsFromTheRecordBase) {
  auto t = Tabla(kDetalleId);
  Value opciones = Opciones(Registros(8), 5);
  opciones.Set("lRegistrosDetalleGlobalRuntime", Value(false));
  ObjectTestContext ctx(opciones);
  const Value out = t->GenerarRenderizable(*ctx.contexto);
  // Loop indexes 0..2 name the ids; the records are 5..7 and so is the consumed mark.
  EXPECT_EQ(RegistrosImpresos(out), (std::vector<int64_t>{0, 1, 2}));
  EXPECT_EQ(TextoDe(out, "T_detail_r1_0_0_text"), "6");
  EXPECT_EQ(ctx.contexto->nUltimoRegistroConsumido, 7);
}

TEST(TTable, RecordsComeFromTheReportDataOrTheSamples) {
  const std::string plantilla =
      R"({"cId":"T","nWidth":100,"nHeight":500,"hSections":{"detail":{"aLines":[{"aCells":[)" +
      Celda(50, "LINEAS_FACTURA.CANTIDAD") + "," + Celda(50, "LINEAS_FACTURA.PRECIO") + R"(]}]}}})";
  {
    auto t = Tabla(plantilla);
    ObjectTestContext ctx;
    ctx.conector->hDatos = (JsonDecode(R"({"DetalleVar":{"VACIO":[{}],"LINEAS_FACTURA":[
        {"CANTIDAD":{"tipo":"N","valor":2},"PRECIO":5.25}]}})"));
    const Value out = t->GenerarRenderizable(*ctx.contexto);
    EXPECT_EQ(RegistrosImpresos(out), (std::vector<int64_t>{0}));
    EXPECT_EQ(TextoDe(out, "T_detail_r0_0_0_text"), "2");
    EXPECT_EQ(TextoDe(out, "T_detail_r0_0_1_text"), "5.25");
  }
  {
    auto t = Tabla(plantilla);
    ObjectTestContext ctx;
    const Value out = t->GenerarRenderizable(*ctx.contexto);
    EXPECT_EQ(RegistrosImpresos(out), (std::vector<int64_t>{0, 1, 2, 3}));
    EXPECT_EQ(TextoDe(out, "T_detail_r3_0_0_text"), "4");
    EXPECT_EQ(TextoDe(out, "T_detail_r1_0_1_text"), "5.25");
  }
  {
    auto t = Tabla(plantilla);
    Value opciones = Opciones(Value::NewList());
    opciones.Set("lSemanticDataRuntime", Value(true));
    ObjectTestContext ctx(opciones);
    EXPECT_TRUE(RegistrosImpresos(t->GenerarRenderizable(*ctx.contexto)).empty());
  }
}

TEST(TTable, AnEmptyRecordListOfARunPrintsNoRecord) {
  // An invoice without lines: the run names its (empty) record list, so no sample article is
  // invented and the record loop takes no step: nothing pushed, consumed, summed or reported.
  auto t = Tabla(R"({"cId":"T","nWidth":100,"nHeight":100,"hSections":{
      "header":{"aLines":[{"aCells":[)" +
                 Celda(100, "'Articulo'") + R"(]}]},
      "detail":{"aLines":[{"aCells":[)" +
                 Celda(100, "LINEAS_FACTURA.DESCRIPCION") + R"(]}]},
      "footer":{"aLines":[{"aCells":[)" +
                 Celda(100, "'Total ' + SUM.importe") + R"(]}]}}})");
  for (const bool global : {true, false}) {
    Value opciones = Opciones(Value::NewList());
    opciones.Set("lRegistrosDetalleGlobalRuntime", Value(global));
    int llamadas = 0;
    opciones.Set("lProgressActive", Value(true));
    opciones.Set("bProgressRecord", Value::Function([&llamadas](std::span<const Value>) {
                   ++llamadas;
                   return Value(true);
                 }));
    ObjectTestContext ctx(opciones);
    const Value out = t->GenerarRenderizable(*ctx.contexto);
    EXPECT_EQ(Lineas(out), (std::vector<std::string>{"T_header_line_0", "T_footer_line_0"}));
    EXPECT_EQ(TextoDe(out, "T_footer_0_0_text"), "Total 0");
    EXPECT_EQ(ctx.contexto->GetRegistrosDetalleConsumidosRuntime(), 0);
    EXPECT_EQ(JsonEncode(ctx.contexto->GetAcumuladores()), "{}");
    EXPECT_EQ(t->GetPerformanceDiagnostics().Get("nRecordsExamined").Int(), 0);
    EXPECT_EQ(llamadas, 0);
  }
}

TEST(TTable, AJobWithoutLinesPrintsNoSampleArticles) {
  TKXEngine engine;
  engine.SetPlantillaContent(Value(R"({"cFormatVersion":"1.0","aObjects":[{"cType":"TTable",
      "cId":"T","nWidth":100,"nHeight":100,"hSections":{"detail":{"aLines":[{"aCells":[)" +
                                   Celda(100, "'Articulo ' + LINEAS_FACTURA.CODIGO_ARTICULO") +
                                   "]}]}}}]}"));
  engine.OpenJob();
  engine.SendDataVar(Value("FACTURA"), Value::NewMap({{"NUMERO", 7}}));
  engine.SendDetalleSchema(Value("LINEAS_FACTURA"), Value::NewMap({{"CODIGO_ARTICULO", ""}}));
  engine.CloseJob();
  Ref<TDocumentoRenderizable> doc = engine.RunEngine();
  ASSERT_TRUE(doc) << engine.cLastError;
  ASSERT_EQ(doc->TotalPaginas(), 1);
  const std::string pagina = JsonEncode(doc->GetPagina(Value(1)));
  EXPECT_EQ(pagina.find("Articulo"), std::string::npos) << pagina;
  EXPECT_NE(pagina.find("\"id\":\"T\""), std::string::npos);  // the table's frame is there
}

TEST(TTable, LineResetsNameTheirAccumulators) {
  auto t = Tabla(R"({"cId":"T","nHeight":500,"hSections":{
      "detail":{"aLines":[{"nHeight":5}]},
      "groupFooter":{"aLines":[{"cGroupExpression":"L.id","aResetAcumuladores":["TOTAL","SUM.IVA",5]}]}}})");
  Value opciones = Opciones(Registros(1), 0, R"({"TOTAL":{"formula":"1"},"IVA":{"formula":"2"}})");
  ObjectTestContext ctx(opciones);
  t->GenerarRenderizable(*ctx.contexto);
  EXPECT_EQ(JsonEncode(ctx.contexto->GetAcumuladores()), R"({"SUM.TOTAL":0,"SUM.IVA":0})");
}

// ---- Line conditions and measures

TEST(TTable, LineConditionsSuppressionAndEmptyLines) {
  auto t = Tabla(R"({"cId":"T1","nWidth":100,"nHeight":500,"hSections":{"detail":{"aLines":[
      {"aCells":[)" +
                 Celda(100, "L.id") + R"(]},
      {"cConditionFormula":"L.id > 5","aCells":[)" +
                 Celda(100, "L.id") + R"(]},
      {"cSuppressCondition":"L.id == 1","aCells":[)" +
                 Celda(100, "L.id") + R"(]},
      {"lIgnoreEmpty":true,"aCells":[)" +
                 Celda(100, "\"  \"") + R"(]},
      {"lIgnoreEmpty":true,"aCells":[{"nWidth":100}]},
      {"cConditionFormula":"1 +* 2"}]}}})");
  ObjectTestContext ctx(Opciones(Registros(2)));
  const Value out = t->GenerarRenderizable(*ctx.contexto);
  EXPECT_EQ(Lineas(out), (std::vector<std::string>{"T1_detail_r0_line_0", "T1_detail_r0_line_2",
                                                   "T1_detail_r1_line_0"}));
  const std::vector<std::string> avisos = ctx.Avisos();
  auto cuenta = [&](const std::string& w) { return std::count(avisos.begin(), avisos.end(), w); };
  EXPECT_EQ(cuenta("Linea de tabla detail no visible en T1[1]: condicion falsa"), 2);
  EXPECT_EQ(cuenta("Linea de tabla detail suprimida en T1[2]"), 1);
  EXPECT_EQ(cuenta("Linea de tabla detail no visible en T1[5]: condicion no valida"), 2);
  EXPECT_EQ(cuenta("Condicion no valida en linea de tabla detail T1[5]: 1 +* 2"), 2);
}

TEST(TTable, DesignerModeShowsEveryLine) {
  auto t = Tabla(R"({"cId":"T","nWidth":100,"nHeight":500,"cPageBreakCondition":".T.",
      "hSections":{"detail":{"aLines":[{"cConditionFormula":".F."},
      {"cSuppressCondition":".T."},{"lIgnoreEmpty":true}]}}})");
  Value opciones = Opciones(Registros(2));
  opciones.Set("modoEjecucion", Value("disenador"));
  ObjectTestContext ctx(opciones);
  EXPECT_EQ(Lineas(t->GenerarRenderizable(*ctx.contexto)).size(), 6u);
  EXPECT_TRUE(ctx.Avisos().empty());
}

TEST(TTable, LinesFitWithTheLayoutTolerance) {
  // Body of 20 mm: two 8 mm lines fit (16 <= 20.25), the third does not; the split record
  // carries its printed lines in the table's continuation.
  auto t = Tabla(R"({"cId":"T","nWidth":100,"nHeight":20,"hSections":{"detail":{"aLines":[
      {"lKeepTogether":false},{},{}]}}})");
  ObjectTestContext ctx(Opciones(Registros(3)));
  const Value out = t->GenerarRenderizable(*ctx.contexto);
  EXPECT_EQ(Lineas(out), (std::vector<std::string>{"T_detail_r0_line_0", "T_detail_r0_line_1"}));
  EXPECT_EQ(ctx.contexto->GetRegistrosDetalleConsumidosRuntime(), 0);
  EXPECT_EQ(JsonEncode(ctx.contexto->GetContinuacionesTabla()),
            R"({"T":{"nRegistro":0,"nLinea":2}})");
}

TEST(TTable, InvalidPageBreakConditionIsACriticalError) {
  auto t = Tabla(R"({"cId":"T","nHeight":500,"cPageBreakCondition":"1 +* 2",
      "hSections":{"detail":{"aLines":[{}]}}})");
  ObjectTestContext ctx(Opciones(Registros(3)));
  const Value out = t->GenerarRenderizable(*ctx.contexto);
  EXPECT_EQ(RegistrosImpresos(out).size(), 3u);  // the page goes on
  EXPECT_EQ(ctx.contexto->GetErrorCriticoComposicion().rfind(
                "Condicion de salto no valida en tabla T: 1 +* 2", 0),
            0u);
}

TEST(TTable, PageBreakConditionStartsANewPage) {
  auto t = Tabla(R"({"cId":"T","nHeight":500,"cPageBreakCondition":"L.id == 3",
      "hSections":{"detail":{"aLines":[{}]}}})");
  const Recorrido rec = Paginar(*t, Registros(6));
  ASSERT_EQ(rec.paginas.size(), 2u);
  EXPECT_EQ(RegistrosImpresos(rec.paginas[0]), (std::vector<int64_t>{0, 1, 2}));
  EXPECT_EQ(RegistrosImpresos(rec.paginas[1]), (std::vector<int64_t>{3, 4, 5}));
}

// ---- Grouping

// Two grouping levels: header and footer line 0 on L.a, line 1 on L.b.
std::string DosNiveles(double alto) {
  return R"({"cId":"T","nWidth":100,"nHeight":)" + JsonEncode(Value(alto)) +
         R"(,"hSections":{
      "header":{"aLines":[{"nHeight":6}]},
      "detail":{"aLines":[{"nHeight":5,"aCells":[)" +
         Celda(100, "L.id") + R"(]}]},
      "footer":{"aLines":[{"nHeight":6,"aCells":[)" +
         Celda(100, "SUM.importe") + R"(]}]},
      "groupHeader":{"aLines":[{"nHeight":4,"cGroupExpression":"L.a","lRepeatAsHeader":true},
                               {"nHeight":4,"cGroupExpression":"L.b"}]},
      "groupFooter":{"aLines":[{"nHeight":4,"cGroupExpression":"L.a"},
                               {"nHeight":4,"cGroupExpression":"L.b"}]}}})";
}

TEST(TTable, TwoGroupingLevelsPrintOnlyTheLevelsThatChange) {
  auto t = Tabla(DosNiveles(500));
  const Value registros = JsonDecode(R"([{"L.id":0,"L.a":"a1","L.b":"b1"},
      {"L.id":1,"L.a":"a1","L.b":"b2"},{"L.id":2,"L.a":"a2","L.b":"b3"}])");
  ObjectTestContext ctx(Opciones(registros));
  const Value out = t->GenerarRenderizable(*ctx.contexto);
  EXPECT_EQ(Lineas(out),
            (std::vector<std::string>{
                "T_header_line_0", "T_groupHeader_r0_line_0", "T_groupHeader_r0_line_1",
                "T_detail_r0_line_0", "T_groupFooter_r0_line_1", "T_groupHeader_r1_line_1",
                "T_detail_r1_line_0", "T_groupFooter_r1_line_0", "T_groupFooter_r1_line_1",
                "T_groupHeader_r2_line_0", "T_groupHeader_r2_line_1", "T_detail_r2_line_0",
                "T_groupFooter_r2_line_0", "T_groupFooter_r2_line_1", "T_footer_line_0"}));
}

Value RegistrosDosNiveles(int n) {
  return Registros(n, [](int i, Value& r) {
    // Numbers: group values need not be texts.
    r.Set("L.a", Value(static_cast<int64_t>(i / 7)));
    r.Set("L.b", Value(static_cast<int64_t>(i / 3)));
  });
}

// The body lines of a run (no table header or footer, no repeated group header).
std::vector<std::string> Cuerpo(const std::vector<Value>& paginas) {
  std::vector<std::string> ids;
  for (const Value& p : paginas)
    for (const std::string& id : Lineas(p))
      if (id.find("_header_") == std::string::npos && id.find("_footer_") == std::string::npos &&
          id.find("Repeat") == std::string::npos)
        ids.push_back(id);
  return ids;
}

TEST(TTable, TwoGroupingLevelsAcrossPageBoundaries) {
  const Value registros = RegistrosDosNiveles(30);
  auto larga = Tabla(DosNiveles(2000));
  ObjectTestContext ctx(Opciones(registros));
  const std::vector<std::string> esperado = Cuerpo({larga->GenerarRenderizable(*ctx.contexto)});

  for (double alto : {40.0, 47.5, 61.0, 80.0}) {
    auto t = Tabla(DosNiveles(alto));
    const Recorrido rec = Paginar(*t, registros);
    EXPECT_EQ(Cuerpo(rec.paginas), esperado) << alto;
    EsperarCadaRegistroUnaVez(rec, 30);
    int64_t total = 0;
    for (size_t p = 0; p < rec.paginas.size(); ++p) {
      const Value& pagina = rec.paginas[p];
      for (int64_t r : RegistrosImpresos(pagina)) total += r + 1;
      // Each page's footer shows the sum of the records printed so far.
      EXPECT_EQ(TextoDe(pagina, "T_footer_0_0_text"), std::to_string(total)) << alto << " " << p;
      // A page that starts inside an L.a group repeats that group's flagged header line first.
      const std::vector<std::string> lineas = Lineas(pagina);
      if (p > 0 && lineas.size() > 1 && lineas[1].find("_groupHeader_r") == std::string::npos) {
        EXPECT_NE(lineas[1].find("_groupHeaderRepeat_r"), std::string::npos) << alto << " " << p;
      }
    }
  }
}

TEST(TTable, GroupValuesCompareByKindButSignaturesByText) {
  // 10 and 10.00 are one value for the line filter but different signatures: the second record
  // starts a group, and its header line on that expression is filtered out.
  auto t = Tabla(R"({"cId":"T","nHeight":500,"hSections":{"detail":{"aLines":[{}]},
      "groupHeader":{"aLines":[{"cGroupExpression":"L.g"},{"cGroupExpression":"L.g"}]}}})");
  Value registros = JsonDecode(R"([{"L.g":10},{"L.g":10.00},{"L.g":"10"}])");
  ObjectTestContext ctx(Opciones(registros));
  EXPECT_EQ(Lineas(t->GenerarRenderizable(*ctx.contexto)),
            (std::vector<std::string>{"T_groupHeader_r0_line_0", "T_groupHeader_r0_line_1",
                                      "T_detail_r0_line_0", "T_detail_r1_line_0",
                                      "T_groupHeader_r2_line_0", "T_groupHeader_r2_line_1",
                                      "T_detail_r2_line_0"}));
}

TEST(TTable, ARecordStartsAGroupWhenTheExpressionTextOfItsValuesChanges) {
  // Two break expressions over values of every plain kind, repeated and mixed at random: a
  // group starts exactly where the expression text of the record's values differs from the
  // previous record's (2 and "2" differ, 2.5 and 2.5 do not).
  auto t = Tabla(R"({"cId":"T","nHeight":100000,"hGroup":{"aBreakExpressions":["L.g","L.h"]},
      "hSections":{"detail":{"aLines":[{}]},"groupHeader":{"aLines":[{}]}}})");
  const GruposAlAzar grupos = RegistrosDeGruposAlAzar(7, 400);
  const Value& registros = grupos.registros;
  std::vector<std::string> esperado;
  for (size_t i = 0; i < grupos.firmas.size(); ++i) {
    if (i == 0 || grupos.firmas[i] != grupos.firmas[i - 1])
      esperado.push_back("T_groupHeader_r" + std::to_string(i) + "_line_0");
    esperado.push_back("T_detail_r" + std::to_string(i) + "_line_0");
  }
  ObjectTestContext ctx(Opciones(registros));
  EXPECT_EQ(Lineas(t->GenerarRenderizable(*ctx.contexto)), esperado);
}

TEST(TTable, EmptyGroupValuesAreSkippedWhenAsked) {
  const std::string secciones = R"(,"hSections":{"detail":{"aLines":[{}]},
      "groupHeader":{"aLines":[{}]},"groupFooter":%F,"aLines":[{}]}}})";
  auto plantilla = [&](bool tambien) {
    std::string s = std::string(R"({"cId":"T","nHeight":500,"hGroup":{"cBreakExpression":"L.g",
        "lSkipEmptyValues":true})") +
                    secciones;
    s.replace(s.find("%F"), 2,
              tambien ? R"({"lAlsoOnEmptyGroup":true)" : R"({"lAlsoOnEmptyGroup":false)");
    return s;
  };
  const Value registros = JsonDecode(R"([{"L.g":"x"},{"L.g":"x"},{"L.g":" "},{"L.g":" "}])");
  {
    auto t = Tabla(plantilla(false));
    ObjectTestContext ctx(Opciones(registros));
    EXPECT_EQ(Lineas(t->GenerarRenderizable(*ctx.contexto)),
              (std::vector<std::string>{"T_groupHeader_r0_line_0", "T_detail_r0_line_0",
                                        "T_detail_r1_line_0", "T_groupFooter_r1_line_0",
                                        "T_detail_r2_line_0", "T_detail_r3_line_0"}));
  }
  {
    auto t = Tabla(plantilla(true));
    ObjectTestContext ctx(Opciones(registros));
    EXPECT_EQ(Lineas(t->GenerarRenderizable(*ctx.contexto)),
              (std::vector<std::string>{"T_groupHeader_r0_line_0", "T_detail_r0_line_0",
                                        "T_detail_r1_line_0", "T_groupFooter_r1_line_0",
                                        "T_detail_r2_line_0", "T_detail_r3_line_0",
                                        "T_groupFooter_r3_line_0"}));
  }
}

TEST(TTable, GroupExpressionsMayBeFormulas) {
  auto t = Tabla(R"json({"cId":"T","nHeight":500,"hGroup":{"cBreakExpression":"L.id > 1"},
      "hSections":{"detail":{"aLines":[{}]},"groupFooter":{"aLines":[{}]}}})json");
  ObjectTestContext ctx(Opciones(Registros(4)));
  EXPECT_EQ(Lineas(t->GenerarRenderizable(*ctx.contexto)),
            (std::vector<std::string>{"T_detail_r0_line_0", "T_detail_r1_line_0",
                                      "T_groupFooter_r1_line_0", "T_detail_r2_line_0",
                                      "T_detail_r3_line_0", "T_groupFooter_r3_line_0"}));
}

// ---- Line and cell rendering

TEST(TTable, IdsNameSectionRecordLineAndCell) {
  auto t = Tabla(R"({"cId":"T1","nWidth":100,"nHeight":500,"hSections":{
      "header":{"aLines":[{}]},
      "detail":{"aLines":[{},{},{"aCells":[)" +
                 Celda(40, "\"a\"") + "," + Celda(60, "\"b\"") + R"(]}]}}})");
  ObjectTestContext ctx(Opciones(Registros(50), 41));
  const Value out = t->GenerarRenderizable(*ctx.contexto);
  for (const char* id : {"T1_header_line_0", "T1_header_line_0_border", "T1_detail_r41_line_2",
                         "T1_detail_r41_line_2_border", "T1_detail_r41_2_0_text",
                         "T1_detail_r41_2_1_text", "T1_detail_r41_v_2_1"})
    EXPECT_TRUE(Buscar(out, id)) << id;
}

TEST(TTable, LinePositionsBackgroundsAndZebra) {
  auto t = Tabla(R"({"cId":"T","nLeft":10,"nTop":5,"nWidth":100,"nHeight":500,"nZIndex":3,
      "hSections":{
      "detail":{"aLines":[{"aCells":[{"nWidth":60}],"hZebraPattern":{"lEnabled":true},
                            "hBackground":{"cColor":"#ABCDEF"}},
                          {"aCells":[{"nWidth":60}],"hReservedSpace":{"nLeft":3},
                           "hBackground":{"cColor":"red"}}]},
      "groupHeader":{"aLines":[{"aCells":[{"nWidth":60,"hBackground":{"cColor":"#00FF00",
                      "nFillOpacity":2}}],"hBackground":{"cColor":"#ABCDEF"}}]}},
      "hGroup":{"cBreakExpression":"L.id"}})");
  ObjectTestContext ctx(Opciones(Registros(40), 30));
  const Value out = t->GenerarRenderizable(*ctx.contexto);
  const Value* detalle = Buscar(out, "T_detail_r30_line_0");
  ASSERT_TRUE(detalle);
  EXPECT_DOUBLE_EQ(detalle->Get("x").Double(), 30.0);      // centred: 10 + (100 - 60) / 2
  EXPECT_EQ(detalle->Get("colorFondo").Str(), "#ffffff");  // zebra, even record
  EXPECT_EQ(Buscar(out, "T_detail_r31_line_0")->Get("colorFondo").Str(), "#f3f4f6");
  EXPECT_DOUBLE_EQ(Buscar(out, "T_detail_r30_line_1")->Get("x").Double(), 13.0);
  EXPECT_EQ(Buscar(out, "T_detail_r30_line_1")->Get("colorFondo").Str(), "transparent");
  const Value* cabecera = Buscar(out, "T_groupHeader_r30_line_0");
  EXPECT_DOUBLE_EQ(cabecera->Get("x").Double(), 10.0);  // group headers are not centred
  EXPECT_EQ(cabecera->Get("colorFondo").Str(), "#abcdef");
  const Value* fondo = Buscar(out, "T_groupHeader_r30_0_0_cell_bg");
  ASSERT_TRUE(fondo);
  EXPECT_EQ(fondo->Get("colorFondo").Str(), "#00ff00");
  EXPECT_EQ(fondo->Get("opacidadRelleno").Int(), 1);
  EXPECT_DOUBLE_EQ(fondo->Get("zIndex").Double(), 3.02);
  EXPECT_DOUBLE_EQ(detalle->Get("zIndex").Double(), 3.01);
  EXPECT_FALSE(Buscar(out, "T_detail_r30_0_0_cell_bg"));  // a transparent cell has none
  std::vector<std::string> claves;
  for (const Map::Entry& e : detalle->AsMap()) claves.push_back(std::string(e.key.Str()));
  EXPECT_EQ(claves.size(), 28u);
  EXPECT_EQ(claves[18], "redondeoMm");
}

TEST(TTable, ColourFormulasOfLinesAreStrict) {
  auto t = Tabla(R"({"cId":"T","nHeight":500,"hSections":{"detail":{"aLines":[
      {"hBackground":{"cColorFormula":"\"transparent\""},
       "hBorder":{"cColorFormula":"\"#A0B0C0\""}}]}}})");
  ObjectTestContext ctx(Opciones(Registros(1)));
  const Value out = t->GenerarRenderizable(*ctx.contexto);
  const Value* linea = Buscar(out, "T_detail_r0_line_0");
  EXPECT_EQ(linea->Get("colorFondo").Str(), "#000000");
  EXPECT_EQ(linea->Get("colorBorde").Str(), "#a0b0c0");
  EXPECT_EQ(ctx.Avisos(), (std::vector<std::string>{"Color no valido en T: \"transparent\""}));
}

TEST(TTable, TextCellsLoseTrailingSpaces) {
  auto t = Tabla(R"({"cId":"T","nHeight":500,"hSections":{"detail":{"aLines":[{"aCells":[)" +
                 Celda(80, "\"abc   \"") + "]}]}}}");
  ObjectTestContext ctx(Opciones(Registros(1)));
  EXPECT_EQ(TextoDe(t->GenerarRenderizable(*ctx.contexto), "T_detail_r0_0_0_text"), "abc");
}

TEST(TTable, CellTextsAreRenderedOncePerRecord) {
  // The ignore-empty test pre-renders the cell; the printed line reuses that result.
  auto t = Tabla(R"({"cId":"T","nHeight":500,"hSections":{"detail":{"aLines":[{"lIgnoreEmpty":true,
      "aCells":[)" +
                 Celda(80, "L.id") + "]}]}}}");
  ObjectTestContext ctx(Opciones(Registros(3)));
  const Value out = t->GenerarRenderizable(*ctx.contexto);
  const Value* texto = Buscar(out, "T_detail_r2_0_0_text");
  ASSERT_TRUE(texto);
  EXPECT_EQ(texto->Get("texto").Str(), "2");
  EXPECT_DOUBLE_EQ(texto->Get("y").Double(), 16.0);
  EXPECT_EQ(t->hCellObjectCache.Len(), 1u);
  EXPECT_EQ(t->hCellRenderCache.Len(), 0u);
}

// ---- Borders and separators

TEST(TTable, AdjacentLinesShareOneBorder) {
  auto t = Tabla(R"({"cId":"T","nWidth":100,"nHeight":500,"hSections":{"detail":{"aLines":[
      {},{},{"aCells":[{"nWidth":50}]},{},{"hBorder":{"lTop":false,"lBottom":false,"lLeft":false,
      "lRight":false}}]}}})");
  ObjectTestContext ctx(Opciones(Registros(1)));
  const Value out = t->GenerarRenderizable(*ctx.contexto);
  auto superior = [&](const char* id) { return Buscar(out, id)->Get("bordeSuperior").Bool(); };
  EXPECT_TRUE(superior("T_detail_r0_line_0"));
  EXPECT_FALSE(superior("T_detail_r0_line_1"));
  EXPECT_FALSE(superior("T_detail_r0_line_1_border"));
  EXPECT_TRUE(superior("T_detail_r0_line_2"));  // narrower, centred elsewhere
  // The full-width line after the narrow one: the nearest full-width bottom border is two
  // lines up, not at its top.
  EXPECT_TRUE(superior("T_detail_r0_line_3"));
  EXPECT_FALSE(Buscar(out, "T_detail_r0_line_4_border"));
  EXPECT_DOUBLE_EQ(Buscar(out, "T_detail_r0_line_0")->Get("grosorBorde").Double(), 0.1);
}

TEST(TTable, BorderRoundingAndSeparators) {
  auto t = Tabla(R"({"cId":"T","nWidth":80,"nHeight":500,"hSections":{"detail":{"aLines":[
      {"hBorder":{"nRounded":50},"aCells":[{"nWidth":20},{"nWidth":20,"hBorder":{"lRight":false}},
        {"nWidth":20,"hBorder":{"lLeft":false}},{"nWidth":20}]},
      {"hBorder":{"nRounded":150,"nWidth":0.5}}]}}})");
  ObjectTestContext ctx(Opciones(Registros(1)));
  const Value out = t->GenerarRenderizable(*ctx.contexto);
  EXPECT_DOUBLE_EQ(Buscar(out, "T_detail_r0_line_0")->Get("redondeoMm").Double(), 2.0);
  EXPECT_DOUBLE_EQ(Buscar(out, "T_detail_r0_line_1")->Get("redondeoMm").Double(), 4.0);
  EXPECT_TRUE(Buscar(out, "T_detail_r0_v_0_1"));
  EXPECT_FALSE(Buscar(out, "T_detail_r0_v_0_2"));
  const Value* trazo = Buscar(out, "T_detail_r0_v_0_3");
  ASSERT_TRUE(trazo);
  EXPECT_DOUBLE_EQ(trazo->Get("x").Double(), 59.95);
  EXPECT_EQ(trazo->AsMap().size(), 27u);
}

TEST(TTable, FixedSeparatorsSpanTheBody) {
  auto t = Tabla(R"({"cId":"T","nLeft":10,"nWidth":100,"nHeight":100,"lFixedSeparators":true,
      "hSections":{"header":{"aLines":[{"nHeight":10}]},
      "detail":{"aLines":[{"aCells":[{"nWidth":30},{"nWidth":30},{"nWidth":40}]}]},
      "footer":{"aLines":[{"nHeight":10}]}}})");
  ObjectTestContext ctx(Opciones(Registros(3)));
  const Value out = t->GenerarRenderizable(*ctx.contexto);
  const Value* bordes = Buscar(out, "T_fixed_sep_edges");
  ASSERT_TRUE(bordes);
  EXPECT_DOUBLE_EQ(bordes->Get("x").Double(), 10.0);
  EXPECT_DOUBLE_EQ(bordes->Get("y").Double(), 10.0);
  EXPECT_DOUBLE_EQ(bordes->Get("ancho").Double(), 100.0);
  EXPECT_DOUBLE_EQ(bordes->Get("alto").Double(), 80.2);  // down to the footer, a little below
  EXPECT_EQ(bordes->AsMap().size(), 23u);
  EXPECT_DOUBLE_EQ(Buscar(out, "T_fixed_sep_0")->Get("x").Double(), 39.95);
  EXPECT_DOUBLE_EQ(Buscar(out, "T_fixed_sep_1")->Get("x").Double(), 69.95);
  EXPECT_FALSE(Buscar(out, "T_fixed_sep_2"));
  EXPECT_FALSE(Buscar(out, "T_detail_r0_v_0_1"));  // detail lines draw no strokes of their own
  EXPECT_FALSE(Buscar(out, "T_detail_r0_line_0")->Get("bordeIzquierdo").Bool());
  // After the body, before the footer.
  const std::vector<std::string> ids = Ids(out);
  const auto pos = [&](const char* id) {
    return std::find(ids.begin(), ids.end(), id) - ids.begin();
  };
  EXPECT_GT(pos("T_fixed_sep_edges"), pos("T_detail_r2_line_0_border"));
  EXPECT_LT(pos("T_fixed_sep_1"), pos("T_footer_line_0"));
}

// ---- The page algorithm

// Header, detail and footer; the footer shows the running sum.
std::string Lista(double alto, std::string_view detalle = R"({"nHeight":8,"aCells":[%C]})") {
  std::string d(detalle);
  const std::string celda = Celda(100, "L.id");
  for (size_t p; (p = d.find("%C")) != std::string::npos;) d.replace(p, 2, celda);
  return R"({"cType":"TTable","cId":"T","nTop":10,"nWidth":100,"nHeight":)" +
         JsonEncode(Value(alto)) +
         R"(,"hSections":{"header":{"aLines":[{"nHeight":8}]},
      "detail":{"aLines":[)" +
         d + R"(]},"footer":{"aLines":[{"nHeight":8,"aCells":[)" + Celda(100, "SUM.importe") +
         "]}]}}}";
}

TEST(TTable, MultiPageListPrintsEveryRecordOnceWithRunningSums) {
  auto t = Tabla(Lista(100));  // body of 84 mm: 10 records a page
  const Recorrido rec = Paginar(*t, Registros(95));
  ASSERT_EQ(rec.paginas.size(), 10u);
  EsperarCadaRegistroUnaVez(rec, 95);
  int64_t total = 0;
  for (const Value& p : rec.paginas) {
    for (int64_t r : RegistrosImpresos(p)) total += r + 1;
    EXPECT_EQ(TextoDe(p, "T_footer_0_0_text"), std::to_string(total));
    // The footer sits at the bottom of the box, also on the short last page.
    EXPECT_DOUBLE_EQ(Buscar(p, "T_footer_line_0")->Get("y").Double(), 102.0);
  }
  EXPECT_EQ(total, 95 * 96 / 2);
}

TEST(TTable, FooterFollowsTheBodyWhenNotAtTheBottom) {
  std::string plantilla = Lista(100);
  plantilla.insert(1, R"("lFooterOnBottom":false,)");
  auto t = Tabla(plantilla);
  ObjectTestContext ctx(Opciones(Registros(3)));
  EXPECT_DOUBLE_EQ(
      Buscar(t->GenerarRenderizable(*ctx.contexto), "T_footer_line_0")->Get("y").Double(), 42.0);
}

TEST(TTable, SplitRecordContinuesOnTheNextPage) {
  // Body of 84 mm: a 4 mm group header and records 0 to 7 of 8 mm take 68 mm; record 8 starts a
  // group (4 mm) and has five 6 mm lines, of which 2 fit in the 12 mm left.
  const std::string detalle = R"({"nHeight":8,"cConditionFormula":"L.id <> 8","aCells":[%C]},
      {"nHeight":6,"lKeepTogether":false,"cConditionFormula":"L.id == 8","aCells":[%C]},
      {"nHeight":6,"cConditionFormula":"L.id == 8"},{"nHeight":6,"cConditionFormula":"L.id == 8"},
      {"nHeight":6,"cConditionFormula":"L.id == 8"},{"nHeight":6,"cConditionFormula":"L.id == 8"})";
  std::string plantilla = Lista(100, detalle);
  plantilla.replace(plantilla.find(R"("footer")"), 0,
                    R"("groupHeader":{"aLines":[{"nHeight":4,"cGroupExpression":"L.id == 8"}]},)");
  auto t = Tabla(plantilla);
  const Recorrido rec = Paginar(*t, Registros(12));
  ASSERT_GE(rec.paginas.size(), 2u);
  const std::vector<std::string> primera = Lineas(rec.paginas[0]);
  EXPECT_NE(std::find(primera.begin(), primera.end(), "T_detail_r8_line_2"), primera.end());
  EXPECT_NE(std::find(primera.begin(), primera.end(), "T_detail_r8_line_1"), primera.end());
  EXPECT_EQ(std::find(primera.begin(), primera.end(), "T_detail_r8_line_3"), primera.end());
  // Not summed, not consumed: the footer shows records 0 to 7, the continuation holds 2 lines.
  EXPECT_EQ(TextoDe(rec.paginas[0], "T_footer_0_0_text"), "36");
  EXPECT_EQ(JsonEncode(rec.continuaciones[0]), R"({"T":{"nRegistro":8,"nLinea":2}})");
  const std::vector<std::string> segunda = Lineas(rec.paginas[1]);
  ASSERT_GE(segunda.size(), 4u);
  EXPECT_EQ(std::vector<std::string>(segunda.begin(), segunda.begin() + 4),
            (std::vector<std::string>{"T_header_line_0", "T_detail_r8_line_3", "T_detail_r8_line_4",
                                      "T_detail_r8_line_5"}));
  for (const std::string& id : segunda) EXPECT_EQ(id.find("groupHeader_r8"), std::string::npos);
  EXPECT_EQ(TextoDe(rec.paginas[1], "T_footer_0_0_text"), std::to_string(12 * 13 / 2));
  EXPECT_EQ(rec.continuaciones[1].Len(), 0u);
}

// A record that keeps together but is taller than any body is laid out line by line, also on
// the last page; there it waits for a page that is not the last only when last-page lines
// take the room it would have on any other page.
TEST(TTable, KeepTogetherTallerThanTheBodyIsLaidOutLineByLine) {
  auto t = Tabla(Lista(30, R"({"nHeight":8},{"nHeight":8})"));  // body of 12 mm
  ObjectTestContext ctx(Opciones(Registros(3)));
  const Value out = t->GenerarRenderizable(*ctx.contexto);
  EXPECT_EQ(RegistrosImpresos(out), (std::vector<int64_t>{0}));
  EXPECT_FALSE(Buscar(out, "T_detail_r0_line_1"));
  EXPECT_EQ(ctx.contexto->GetRegistrosDetalleConsumidosRuntime(), 0);
  EXPECT_EQ(JsonEncode(ctx.contexto->GetContinuacionesTabla()),
            R"({"T":{"nRegistro":0,"nLinea":1}})");
  EXPECT_TRUE(Buscar(out, "T_footer_line_0"));
}

TEST(TTable, LinesThatMaySplitAlwaysMakeProgress) {
  // Lines taller than the body are forced one per page at the top of the body; a record whose
  // only remaining line is forced is printed, summed and consumed, so the run never stalls.
  auto t = Tabla(Lista(30, R"({"nHeight":20,"lKeepTogether":false,"aCells":[%C]},{"nHeight":20})"));
  const Recorrido rec = Paginar(*t, Registros(3));
  EsperarCadaRegistroUnaVez(rec, 3);
  EXPECT_EQ(rec.paginas.size(), 6u);
  EXPECT_EQ(TextoDe(rec.paginas.back(), "T_footer_0_0_text"), "6");
}

TEST(TTable, PageBreakAfterEndsThePageAfterEachRecord) {
  auto t =
      Tabla(R"({"cId":"T","nHeight":500,"hSections":{"detail":{"aLines":[{"lPageBreakAfter":true}]},
      "groupFooter":{"aLines":[{"cGroupExpression":"L.g"}]}}})");
  const Value registros = Registros(5, [](int i, Value& r) { r.Set("L.g", Value(i < 3 ? 0 : 1)); });
  const Recorrido rec = Paginar(*t, registros);
  std::vector<std::vector<int64_t>> paginas;
  for (const Value& p : rec.paginas) paginas.push_back(RegistrosImpresos(p));
  // Not after record 2, which is followed by its group footer, nor after the last record.
  EXPECT_EQ(paginas, (std::vector<std::vector<int64_t>>{{0}, {1}, {2, 3}, {4}}));
}

TEST(TTable, ProgressCancelKeepsWhatThePagePrinted) {
  auto t = Tabla(Lista(500));
  Value opciones = Opciones(Registros(20));
  opciones.Set("lProgressActive", Value(true));
  opciones.Set("bProgressRecord", Value::Function([](std::span<const Value> a) {
                 return Value(!(a.size() == 1 && a[0].Int() == 8));  // cancel at index 7
               }));
  ObjectTestContext ctx(opciones);
  const Value out = t->GenerarRenderizable(*ctx.contexto);
  EXPECT_EQ(RegistrosImpresos(out), (std::vector<int64_t>{0, 1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(ctx.contexto->GetRegistrosDetalleConsumidosRuntime(), 7);
  EXPECT_TRUE(Buscar(out, "T_footer_line_0"));
  EXPECT_EQ(t->GetPerformanceDiagnostics().Get("nRecordsExamined").Int(), 8);
}

TEST(TTable, ContentHeightTableGrowsWithItsRecords) {
  std::string plantilla = Lista(20);
  plantilla.insert(1, R"("cHeightMode":"content",)");
  auto t = Tabla(plantilla);
  ObjectTestContext ctx(Opciones(Registros(50)));
  const Value out = t->GenerarRenderizable(*ctx.contexto);
  EXPECT_EQ(RegistrosImpresos(out).size(), 50u);
  const Value& marco = out.AsList()[0];
  EXPECT_DOUBLE_EQ(marco.Get("alto").Double(), 8 + 50 * 8 + 8);
  EXPECT_EQ(marco.AsMap().KeyAt(marco.AsMap().size() - 1), "modoAlto");
  EXPECT_DOUBLE_EQ(Buscar(out, "T_footer_line_0")->Get("y").Double(), 10 + 8 + 400);
}

TEST(TTable, HiddenTableAnswersNothingAndTimesNothing) {
  auto t = Tabla(R"({"cId":"T","lVisible":false})");
  ObjectTestContext ctx;
  EXPECT_TRUE(t->GenerarRenderizable(*ctx.contexto).IsNil());
  const Value perf = t->GetPerformanceDiagnostics();
  EXPECT_EQ(perf.Len(), 9u);
  EXPECT_EQ(perf.Get("nTotalMs").Double(), 0.0);
}

// ---- Faults the page algorithm must not have

TEST(TTable, PageBreakBeforeCountsFromWhereTheRecordBegan) {
  // A record at the top of a page prints its group header first; its detail lines or its kept
  // group footer asking for a page break before are then still at the start of the record, so
  // the break is already honoured and every page makes progress.
  struct Caso {
    const char* detalle;
    const char* pie;
    int tamanoGrupo;
    std::vector<std::vector<std::string>> paginas;
  } casos[] = {
      {R"("lPageBreakBefore":true)",
       "",
       2,
       {{"T_groupHeader_r0_line_0", "T_detail_r0_line_0"},
        {"T_detail_r1_line_0", "T_groupFooter_r1_line_0"},
        {"T_groupHeader_r2_line_0", "T_detail_r2_line_0"},
        {"T_detail_r3_line_0", "T_groupFooter_r3_line_0"}}},
      {"",
       R"("lPageBreakBefore":true)",
       1,
       {{"T_groupHeader_r0_line_0", "T_detail_r0_line_0", "T_groupFooter_r0_line_0"},
        {"T_groupHeader_r1_line_0", "T_detail_r1_line_0", "T_groupFooter_r1_line_0"},
        {"T_groupHeader_r2_line_0", "T_detail_r2_line_0", "T_groupFooter_r2_line_0"},
        {"T_groupHeader_r3_line_0", "T_detail_r3_line_0", "T_groupFooter_r3_line_0"}}},
  };
  for (const Caso& c : casos) {
    auto t = Tabla(std::string(R"({"cId":"T","nHeight":500,"hGroup":{"cBreakExpression":"L.g"},
        "hSections":{"detail":{"aLines":[{)") +
                   c.detalle + R"(}]},"groupHeader":{"aLines":[{}]},"groupFooter":{"aLines":[{)" +
                   c.pie + "}]}}}");
    const int tamano = c.tamanoGrupo;
    const Value registros = Registros(
        4, [&](int i, Value& r) { r.Set("L.g", Value(static_cast<int64_t>(i / tamano))); });
    const Recorrido rec = Paginar(*t, registros);
    EsperarCadaRegistroUnaVez(rec, 4);
    std::vector<std::vector<std::string>> paginas;
    for (const Value& p : rec.paginas) paginas.push_back(Lineas(p));
    EXPECT_EQ(paginas, c.paginas) << c.detalle << c.pie;
  }
}

TEST(TTable, GroupHeaderMovesWithARecordThatDoesNotFit) {
  // Body of 84 mm. Groups of 3 records, header 8 mm: 8 + 3 * 8 = 32 per group; after two
  // groups (64 mm) the third group's header fits (72) but its first record does not (80 + 8).
  std::string plantilla = Lista(100, R"({"nHeight":8,"aCells":[%C]})");
  plantilla.replace(plantilla.find(R"("footer")"), 0,
                    R"("groupHeader":{"aLines":[{"nHeight":12,"cGroupExpression":"L.g",
                        "aResetAcumuladores":["grupo"]}]},)");
  plantilla.replace(plantilla.find("SUM.importe"), 11, "SUM.grupo");
  auto t = Tabla(plantilla);
  const Value registros =
      Registros(12, [](int i, Value& r) { r.Set("L.g", Value(static_cast<int64_t>(i / 3))); });
  const Recorrido rec = Paginar(*t, registros, R"({"grupo":{"tipo":"N","formula":"L.importe"}})");
  EsperarCadaRegistroUnaVez(rec, 12);
  std::map<std::string, int> cabeceras;
  for (const Value& p : rec.paginas) {
    const std::vector<std::string> lineas = Lineas(p);
    // The line above the footer is never a group header.
    ASSERT_GE(lineas.size(), 2u);
    EXPECT_EQ(lineas[lineas.size() - 2].find("_groupHeader_"), std::string::npos);
    for (const std::string& id : lineas)
      if (id.find("_groupHeader_") != std::string::npos) ++cabeceras[id];
  }
  EXPECT_EQ(cabeceras.size(), 4u);
  for (const auto& [id, veces] : cabeceras) EXPECT_EQ(veces, 1) << id;
  // The first page ends with the second group, whose sum its footer shows: the third group's
  // header went to the next page and took its reset along.
  EXPECT_EQ(TextoDe(rec.paginas[0], "T_footer_0_0_text"), std::to_string(4 + 5 + 6));
}

TEST(TTable, SameHeightTestsDoNotDisagreeThroughRounding) {
  // 8 mm of header, records of 1 mm with 0.3 mm reserved above, each its own group with a
  // 2.5 mm footer, in a box of 34.35 mm: record 6 ends exactly at the tolerance, where the sum
  // of the record's heights and the position after printing it differ in the last bits.
  auto t = Tabla(R"({"cId":"T","nWidth":100,"nHeight":34.35,"hSections":{
      "header":{"aLines":[{"nHeight":8}]},
      "detail":{"aLines":[{"nHeight":1,"hReservedSpace":{"nTop":0.3}}]},
      "groupFooter":{"aLines":[{"nHeight":2.5,"cGroupExpression":"L.id"}]}}})");
  const Recorrido rec = Paginar(*t, Registros(20));
  EsperarCadaRegistroUnaVez(rec, 20);
  int64_t total = 0;
  for (const Value& p : rec.paginas)
    for (int64_t r : RegistrosImpresos(p)) total += r + 1;
  EXPECT_EQ(total, 20 * 21 / 2);
  EXPECT_EQ(RegistrosImpresos(rec.paginas[0]).size(), 7u);
}

// ---- Through the execution engine, as the page loop drives it

TEST(TTable, PageLoopThroughTheExecutionEngine) {
  const std::string tabla = Lista(100);
  const std::string plantillaJson = R"({"nPaperWidth":210,"nPaperHeight":297,"hAcumVars":)" +
                                    std::string(kSumas) + R"(,"aObjects":[)" + tabla + "]}";
  auto plantilla = MakeRef<TPlantilla>();
  plantilla->SetData(JsonDecode(plantillaJson));
  plantilla->Create();
  auto composicion = MakeRef<TMotorComposicion>();
  auto paginacion = MakeRef<TMotorPaginacion>();
  composicion->Create();
  paginacion->Create();
  ObjectTestContext ctx;
  auto motor =
      MakeRef<TMotorEjecucion>(plantilla, ctx.conector, composicion, paginacion, ctx.contexto);
  motor->Create();

  const Value registros = Registros(42);
  int64_t base = 0;
  Value sumas = Value::NewMap();
  Value continuaciones = Value::NewMap();
  std::vector<int64_t> impresos;
  std::vector<std::string> totales;
  int pasos = 0;
  while (base < 42 && pasos++ < 20) {
    Value opciones = Opciones(registros, base);
    opciones.Set("hAcumVars", plantilla->GetAcumVars());
    opciones.Set("hAcumuladoresIniciales", sumas);
    opciones.Set("hContinuacionesTabla", continuaciones);
    opciones.Set("lOmitirResetInicialAcumuladores", Value(sumas.Len() > 0));
    ctx.contexto->SetOpciones(opciones);
    ctx.contexto->Create();
    Ref<TDocumentoRenderizable> doc = motor->Ejecutar();
    ASSERT_TRUE(doc);
    ASSERT_EQ(doc->TotalPaginas(), 1);
    const Value pagina = doc->GetPagina(Value(1)).Get("objetos");
    for (int64_t r : RegistrosImpresos(pagina)) impresos.push_back(r);
    totales.push_back(TextoDe(pagina, "T_footer_0_0_text"));
    EXPECT_GT(motor->GetPerformanceDiagnostics().Get("nTableRecordsExamined").Int(), 0);
    doc->End();
    sumas = DeepClone(ctx.contexto->GetAcumuladores());
    continuaciones = ctx.contexto->GetContinuacionesTabla();
    const int64_t consumidos = ctx.contexto->GetRegistrosDetalleConsumidosRuntime();
    ASSERT_GT(consumidos, 0);
    base += consumidos;
  }
  std::vector<int64_t> esperado;
  for (int64_t i = 0; i < 42; ++i) esperado.push_back(i);
  EXPECT_EQ(impresos, esperado);
  EXPECT_EQ(totales, (std::vector<std::string>{"55", "210", "465", "820", "903"}));
  motor->End();
  paginacion->End();
  composicion->End();
  plantilla->End();
}

}  // namespace
}  // namespace kx
