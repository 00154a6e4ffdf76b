#include "TChart.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Json.h"
#include "ObjectTestContext.h"
#include "TKXEngine.h"

namespace kx {
namespace {

Ref<TChart> Grafico(std::string_view json) {
  auto c = MakeRef<TChart>();
  c->Load(JsonDecode(json));
  c->Create();
  return c;
}

// Report data whose first detail block holds the rows as the record connector stores them:
// every field a typed value under its bare name.
const char* kVentasTipadas = R"({"DetalleVar":{"VENTAS":[
    {"mes":{"tipo":"C","valor":"Ene"},"importe":{"tipo":"N","valor":10}},
    {"mes":{"tipo":"C","valor":"Feb"},"importe":{"tipo":"N","valor":5}},
    {"mes":{"tipo":"C","valor":"Ene"},"importe":{"tipo":"N","valor":2.5}}],
  "OTRO":[{"x":1}]}})";

std::string Datos(const Value& renderizable, std::string_view clave) {
  return JsonEncode(renderizable.Get(clave));
}

TEST(TChart, DefaultsLoadAndSave) {
  TChart c;
  EXPECT_EQ(c.cName.Str(), "Grafico");
  EXPECT_EQ(c.cType.Str(), "TChart");
  EXPECT_EQ(c.cChartKind, "chart");
  EXPECT_EQ(c.nWidth.Int(), 0);  // the base's geometry stays

  c.Load(JsonDecode(R"({"cChartKind":"crosstab","hChartSpec":{"a":1},"cKx12SourceJson":7})"));
  const Value saved = c.Save();
  ASSERT_EQ(saved.Len(), 49u);
  EXPECT_EQ(saved.AsMap().KeyAt(46), "cChartKind");
  EXPECT_EQ(JsonEncode(saved.Get("hChartSpec")), R"({"a":1})");
  EXPECT_EQ(saved.AsMap().KeyAt(48), "cKx12SourceJson");
  EXPECT_EQ(saved.Get("cKx12SourceJson").Str(), "7");

  // Every chart key is assigned on each load: what a map lacks goes back to its default.
  c.Load(JsonDecode(R"({"hChartSpec":[1,2]})"));
  EXPECT_EQ(c.cChartKind, "chart");
  EXPECT_EQ(JsonEncode(c.hChartSpec), "{}");
  EXPECT_EQ(c.cKx12SourceJson, "");
  c.Load(Value("not a map"));
  EXPECT_EQ(c.cChartKind, "chart");
}

TEST(TChart, PointSeriesReadsPlainValuesOfTheFirstBlock) {
  // Bare and dotted field names both reach the formulas, as plain values.
  auto c = Grafico(R"({"cId":"g1","nLeft":10,"nTop":20,"nWidth":80,"nHeight":40,"nZIndex":3,
      "hChartSpec":{"cCategoryFormula":"mes","cValueFormula":"VENTAS.importe * 2"}})");
  ObjectTestContext ctx;
  ctx.conector->hDatos = JsonDecode(kVentasTipadas);
  const Value out = c->GenerarRenderizable(*ctx.contexto);
  EXPECT_EQ(JsonEncode(out),
            R"({"puntos":[{"label":"Ene","value":20},{"label":"Feb","value":10},)"
            R"({"label":"Ene","value":5}],"id":"g1","tipo":"chart","x":10,"y":20,)"
            R"("ancho":80,"alto":40,"zIndex":3,"opacidad":1,"rotacion":0,)"
            R"("spec":{"cCategoryFormula":"mes","cValueFormula":"VENTAS.importe * 2"}})");
  // No record stays current after the chart.
  EXPECT_EQ(ctx.contexto->nIndiceRegistro, -1);
  EXPECT_EQ(ctx.contexto->aVariablesLocales.Len(), 0u);
}

TEST(TChart, SeriesDefaultsAndKinds) {
  struct Row {
    const char* chart;
    const char* puntos;
  };
  const Row rows[] = {
      {R"({"hChartSpec":{"cCategoryFormula":"mes"}})",
       R"([{"label":"Ene","value":0},{"label":"Feb","value":0},{"label":"Ene","value":0}])"},
      {R"({"hChartSpec":{"cValueFormula":"importe"}})",
       R"([{"label":"","value":10},{"label":"","value":5},{"label":"","value":2.5}])"},
      // Only the exact word selects a cross table.
      {R"({"cChartKind":"Crosstab","hChartSpec":{"cValueFormula":"1"}})",
       R"([{"label":"","value":1},{"label":"","value":1},{"label":"","value":1}])"},
      // A formula error becomes the label's text and a value of 0.
      {R"({"hChartSpec":{"cCategoryFormula":"NOEXISTE","cValueFormula":"NOEXISTE"}})", nullptr},
  };
  for (const Row& r : rows) {
    auto c = Grafico(r.chart);
    ObjectTestContext ctx;
    ctx.conector->hDatos = JsonDecode(kVentasTipadas);
    const Value out = c->GenerarRenderizable(*ctx.contexto);
    if (r.puntos) {
      EXPECT_EQ(Datos(out, "puntos"), r.puntos) << r.chart;
      continue;
    }
    const Value& punto = out.Get("puntos").AsList()[0];
    EXPECT_NE(punto.Get("label").Str(), "") << r.chart;
    EXPECT_EQ(JsonEncode(punto.Get("value")), "0") << r.chart;
  }
}

TEST(TChart, CrossTableWithSummaries) {
  auto c = Grafico(R"({"cChartKind":"crosstab","hChartSpec":{"aDefinitions":[
      {"cRowFormula":"mes","cColumnFormula":"\"\"","cCellFormula":"importe",
       "hRowStyle":{"b":1},"hCellStyle":"no es un mapa"},
      {"cRowFormula":"mes","nColumnLevel":1,"cCellFormula":"importe"},
      {"nRowLevel":1,"nColumnLevel":1,"cCellFormula":"importe","hColumnStyle":{"c":2}},
      {"nRowLevel":1,"cColumnFormula":"\"\"","cCellFormula":"importe","cRowLabelFormula":"'Suma'"},
      {"nRowLevel":2,"lShowRowSummary":false,"cCellFormula":"importe"},
      {"nColumnLevel":2,"lShowColumnSummary":false,"cCellFormula":"importe"},
      {"cRowFormula":"mes","cCellFormula":""},
      "una definicion que no es un mapa"]}})");
  ObjectTestContext ctx;
  ctx.conector->hDatos = JsonDecode(kVentasTipadas);
  const Value out = c->GenerarRenderizable(*ctx.contexto);
  EXPECT_EQ(Datos(out, "filas"), R"({"Ene":"Ene","Feb":"Feb","__summary_row_1":"Suma"})");
  EXPECT_EQ(Datos(out, "columnas"), R"({"":"","__summary_col_1":"Total"})");
  EXPECT_EQ(Datos(out, "celdas"),
            R"({"Ene":{"":12.5,"__summary_col_1":12.5},"Feb":{"":5,"__summary_col_1":5},)"
            R"("__summary_row_1":{"__summary_col_1":17.5,"":17.5}})");
  EXPECT_EQ(
      Datos(out, "estilos"),
      R"({"filas":{"Ene":{},"Feb":{},"__summary_row_1":{}},"columnas":{"":{},"__summary_col_1":{"c":2}},)"
      R"("celdas":{"Ene":{"":{},"__summary_col_1":{}},"Feb":{"":{},"__summary_col_1":{}},)"
      R"("__summary_row_1":{"__summary_col_1":{},"":{}}}})");
  EXPECT_EQ(out.AsMap().KeyAt(4), "id");
  EXPECT_EQ(ctx.contexto->nIndiceRegistro, -1);
}

TEST(TChart, CrossTableLabelsAndStylesOfTheFirstDefinitionUntilOverwritten) {
  // The chart's hChartSpec is itself the only definition when it has no list of them.
  auto c = Grafico(R"({"cChartKind":"crosstab","hChartSpec":{"cRowFormula":"mes",
      "cColumnFormula":"'Importe'","cCellFormula":"importe","cColumnLabelFormula":"'  '",
      "hRowStyle":{"negrita":true}}})");
  ObjectTestContext ctx;
  ctx.conector->hDatos = JsonDecode(kVentasTipadas);
  const Value out = c->GenerarRenderizable(*ctx.contexto);
  EXPECT_EQ(Datos(out, "columnas"), R"({"Importe":"Importe"})");  // a blank label gives the key
  EXPECT_EQ(Datos(out, "celdas"), R"({"Ene":{"Importe":12.5},"Feb":{"Importe":5}})");
  EXPECT_EQ(JsonEncode(out.Get("estilos").Get("filas")),
            R"({"Ene":{"negrita":true},"Feb":{"negrita":true}})");
}

TEST(TChart, WithoutRecords) {
  ObjectTestContext ctx;
  EXPECT_EQ(JsonEncode(Grafico(R"({"cId":"s"})")->GenerarRenderizable(*ctx.contexto)),
            R"({"puntos":[],"id":"s","tipo":"chart","x":0,"y":0,"ancho":0,"alto":0,)"
            R"("zIndex":1,"opacidad":1,"rotacion":0,"spec":{}})");
  const Value cruzada = Grafico(R"({"cChartKind":"crosstab","hChartSpec":{"cCellFormula":"1"}})")
                            ->GenerarRenderizable(*ctx.contexto);
  EXPECT_EQ(
      JsonEncode(cruzada),
      R"({"filas":{},"columnas":{},"celdas":{},"estilos":{"filas":{},"columnas":{},"celdas":{}},)"
      R"("id":"","tipo":"crosstab","x":0,"y":0,"ancho":0,"alto":0,"zIndex":1,"opacidad":1,)"
      R"("rotacion":0,"spec":{"cCellFormula":"1"}})");
}

TEST(TChart, HiddenChartAnswersNothing) {
  auto c = Grafico(R"({"cCondition":".F.","hChartSpec":{"cValueFormula":"1"}})");
  ObjectTestContext ctx;
  EXPECT_TRUE(c->GenerarRenderizable(*ctx.contexto).IsNil());
  EXPECT_EQ(ctx.Motivos(), (std::vector<std::string>{"condicion falsa"}));
}

TEST(TChart, JobRecordListIsSeenWholeOnEveryPage) {
  // The run's record list wins over the report data, from its first record whatever the page's
  // record base; a record's neighbours are its neighbours in that list.
  auto c = Grafico(R"({"hChartSpec":{"cCategoryFormula":"mes + '/' + LIN.mes",
      "cValueFormula":"importe"}})");
  Value registros = JsonDecode(R"([{"LIN.mes":"Ene","LIN.importe":1},
      {"LIN.mes":"Feb","LIN.importe":2},{"LIN.mes":"Mar","LIN.importe":3}])");
  ObjectTestContext ctx(Value::NewMap({{"aRegistrosDetalleRuntime", registros},
                                       {"lRegistrosDetalleGlobalRuntime", true},
                                       {"nRegistroBase", 2}}));
  ctx.conector->hDatos = JsonDecode(kVentasTipadas);
  const std::string esperado =
      R"([{"label":"Ene/Ene","value":1},{"label":"Feb/Feb","value":2},{"label":"Mar/Mar","value":3}])";
  EXPECT_EQ(Datos(c->GenerarRenderizable(*ctx.contexto), "puntos"), esperado);

  // The next page of the same run shows the same data; an empty list shows none.
  Value opciones = DeepClone(ctx.contexto->GetOpciones());
  opciones.Set("aRegistrosDetalleRuntime", registros);
  opciones.Set("nRegistroBase", 0);
  ctx.contexto->SetOpciones(opciones);
  ctx.contexto->Create();
  EXPECT_EQ(Datos(c->GenerarRenderizable(*ctx.contexto), "puntos"), esperado);
  opciones.Set("aRegistrosDetalleRuntime", Value::NewList());
  ctx.contexto->SetOpciones(opciones);
  ctx.contexto->Create();
  EXPECT_EQ(Datos(c->GenerarRenderizable(*ctx.contexto), "puntos"), "[]");
}

TEST(TChart, ChartInAJobRun) {
  // A table spreads the job over several pages; the chart on every page holds every record,
  // read through the bare and the dotted field names.
  const std::string plantilla = R"({"cFormatVersion":"1.0","nPaperWidth":210,"nPaperHeight":297,
      "aObjects":[{"cType":"TChart","cId":"g","nWidth":50,"nHeight":50,
        "hChartSpec":{"cCategoryFormula":"mes","cValueFormula":"VENTAS.importe"}},
        {"cType":"TTable","cId":"t","nTop":60,"nWidth":100,"nHeight":30,
        "hSections":{"detail":{"aLines":[{"nHeight":10,"aCells":[{"nWidth":100,
          "hContent":{"cType":"TText","hObject":{"cText":"VENTAS.mes"}}}]}]}}}]})";
  TKXEngine engine;
  engine.SetPlantillaContent(Value(plantilla));
  engine.OpenJob();
  for (int i = 1; i <= 7; ++i)
    engine.SendDetalle(
        Value("VENTAS"),
        Value::NewMap({{"mes", std::string("M").append(std::to_string(i))}, {"importe", i}}));
  engine.CloseJob();
  Ref<TDocumentoRenderizable> doc = engine.RunEngine();
  ASSERT_TRUE(doc) << engine.cLastError;
  ASSERT_GE(doc->TotalPaginas(), 3);
  for (int64_t p = 1; p <= doc->TotalPaginas(); ++p) {
    const Value pagina = doc->GetPagina(p);
    const Value* grafico = nullptr;
    for (const Value& o : pagina.Get("objetos").AsList())
      if (o.Get("id").Str() == "g") grafico = &o;
    ASSERT_TRUE(grafico) << p;
    const Value& puntos = grafico->Get("puntos");
    ASSERT_EQ(puntos.Len(), 7u) << p;
    EXPECT_EQ(puntos.AsList()[6].Get("label").Str(), "M7") << p;
    EXPECT_EQ(puntos.AsList()[6].Get("value").Int(), 7) << p;
  }
}

}  // namespace
}  // namespace kx
