#include "TChart.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
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

// The chart's points on each page of a document, in page order.
std::vector<Value> GraficoPorPagina(TDocumentoRenderizable& doc, std::string_view id) {
  std::vector<Value> out;
  for (int64_t p = 1; p <= doc.TotalPaginas(); ++p) {
    Value puntos;
    const Value pagina = doc.GetPagina(p);
    for (const Value& o : pagina.Get("objetos").AsList())
      if (o.Get("id").Str() == id) puntos = o.Get("puntos");
    out.push_back(puntos);
  }
  return out;
}

Ref<TDocumentoRenderizable> Correr(TKXEngine& engine, const std::string& plantilla, int registros,
                                   std::string_view bloque = "VENTAS") {
  engine.SetPlantillaContent(Value(plantilla));
  engine.OpenJob();
  for (int i = 1; i <= registros; ++i)
    engine.SendDetalle(
        Value(bloque),
        Value::NewMap({{"mes", std::string("M").append(std::to_string(i))}, {"importe", i}}));
  engine.CloseJob();
  return engine.RunEngine();
}

TEST(TChart, EachPageShowsItsOwnPageAndSums) {
  // A list of 8 records a page and, composed after it, a chart of the page and the running sum:
  // page p shows its own number and the sum of the records printed up to its end, in one pass
  // (the last page rendered again as the last) and in two (the page count known).
  struct Caso {
    const char* categoria;
    const char* etiqueta;  // printf form of a point's label for page p of 3
  };
  const Caso casos[] = {{"'p' + PAGE()", "p%d"}, {"'p' + PAGE() + '/' + TOTALPAGES()", "p%d/3"}};
  for (const Caso& c : casos) {
    const std::string plantilla = R"({"cFormatVersion":"1.0","nPaperWidth":210,"nPaperHeight":297,
        "hAcumVars":{"TOTAL":{"formula":"VENTAS.importe"}},
        "aObjects":[{"cType":"TTable","cId":"t","nTop":10,"nWidth":100,"nHeight":48,
          "hSections":{"detail":{"aLines":[{"nHeight":6,"aCells":[{"nWidth":100,
            "hContent":{"cType":"TText","hObject":{"cText":"VENTAS.mes"}}}]}]}}},
          {"cType":"TChart","cId":"g","nLeft":120,"nWidth":50,"nHeight":50,
           "hChartSpec":{"cCategoryFormula":")" +
                                  std::string(c.categoria) + R"(","cValueFormula":"SUM.TOTAL"}}]})";
    TKXEngine engine;
    Ref<TDocumentoRenderizable> doc = Correr(engine, plantilla, 20);
    ASSERT_TRUE(doc) << engine.cLastError;
    const std::vector<Value> paginas = GraficoPorPagina(*doc, "g");
    ASSERT_EQ(paginas.size(), 3u) << c.categoria;
    const int sumas[] = {36, 136, 210};  // 1..8, 1..16, 1..20
    for (int p = 1; p <= 3; ++p) {
      char etiqueta[32];
      std::snprintf(etiqueta, sizeof etiqueta, c.etiqueta, p);
      const Value& puntos = paginas[static_cast<size_t>(p - 1)];
      ASSERT_EQ(puntos.Len(), 20u) << c.categoria << " p" << p;
      for (const Value& punto : puntos.AsList()) {
        EXPECT_EQ(punto.Get("label").Str(), etiqueta) << c.categoria << " p" << p;
        EXPECT_EQ(punto.Get("value").Int(), sumas[p - 1]) << c.categoria << " p" << p;
      }
    }
  }
}

TEST(TChart, EachLabelShowsItsOwnSheet) {
  // 24 labels a sheet: labels 1 to 24 are on sheet 1, 25 to 30 on sheet 2; each label's chart
  // says where it is, and a chart of the records alone is the same series on every label.
  const std::string plantilla = R"J({"cFormatVersion":"1.0","cDocumentKind":"label",
      "nPaperWidth":210,"nPaperHeight":297,"hLabelLayout":{"nColumns":3,"nRows":8},
      "aObjects":[{"cType":"TChart","cId":"g","nWidth":30,"nHeight":30,
         "hChartSpec":{"cCategoryFormula":"'p' + PAGE()","cValueFormula":"importe"}},
        {"cType":"TChart","cId":"r","nWidth":30,"nHeight":30,
         "hChartSpec":{"cCategoryFormula":"mes","cValueFormula":"importe"}}]})J";
  TKXEngine engine;
  Ref<TDocumentoRenderizable> doc = Correr(engine, plantilla, 30);
  ASSERT_TRUE(doc) << engine.cLastError;
  ASSERT_EQ(doc->TotalPaginas(), 2);
  int etiquetas = 0;
  Value serie;
  for (int64_t p = 1; p <= 2; ++p) {
    const Value pagina = doc->GetPagina(p);
    for (const Value& o : pagina.Get("objetos").AsList()) {
      const Value& puntos = o.Get("puntos");
      ASSERT_EQ(puntos.Len(), 30u);
      if (o.Get("id").Str() == "r") {
        if (serie.IsNil()) serie = puntos;
        EXPECT_TRUE(puntos.SameRef(serie));
        EXPECT_EQ(puntos.AsList()[29].Get("label").Str(), "M30");
        continue;
      }
      ++etiquetas;
      const int64_t registro = o.Get("debugEtiqueta").Get("nRegistro").Int();
      EXPECT_EQ(registro <= 24 ? 1 : 2, p) << registro;
      for (const Value& punto : puntos.AsList())
        EXPECT_EQ(punto.Get("label").Str(), std::string("p").append(std::to_string(p))) << registro;
    }
  }
  EXPECT_EQ(etiquetas, 30);
}

TEST(TChart, ALongListSpoolsOneSeriesForEveryPage) {
  // From 20,000 records the pages are spooled from the first: the chart beside the list is
  // written once, and every page read back shows that one series.
  const std::string plantilla = R"({"cFormatVersion":"1.0","nPaperWidth":210,"nPaperHeight":297,
      "aObjects":[{"cType":"TTable","cId":"t","nWidth":100,"nHeight":230,
        "hSections":{"detail":{"aLines":[{"nHeight":5,"aCells":[{"nWidth":100,
          "hContent":{"cType":"TText","hObject":{"cText":"VENTAS.importe"}}}]}]}}},
        {"cType":"TChart","cId":"g","nLeft":120,"nWidth":50,"nHeight":50,
         "hChartSpec":{"cCategoryFormula":"VENTAS.mes","cValueFormula":"VENTAS.importe"}}]})";
  TKXEngine engine;
  Ref<TDocumentoRenderizable> doc = Correr(engine, plantilla, 20000);
  ASSERT_TRUE(doc) << engine.cLastError;
  ASSERT_TRUE(doc->IsPageSpooling());
  ASSERT_GT(doc->TotalPaginas(), 400);
  const std::string archivo(doc->aPaginas.AsList()[0].Get("__kxPageFile").Str());
  // Each page with its own copy of the points takes some 30 MB.
  EXPECT_LT(std::filesystem::file_size(archivo), 4u << 20);
  const std::vector<Value> paginas = GraficoPorPagina(*doc, "g");
  for (const Value& puntos : paginas) {
    ASSERT_TRUE(puntos.SameRef(paginas[0]));
  }
  ASSERT_EQ(paginas[0].Len(), 20000u);
  EXPECT_EQ(paginas[0].AsList()[19999].Get("label").Str(), "M20000");
  EXPECT_EQ(paginas[0].AsList()[19999].Get("value").Int(), 20000);
  EXPECT_FALSE(doc->HasPageSpoolError());
}

TEST(TChart, KeepsItsDataOnlyWhenTheFormulasReadNothingButTheRecords) {
  // Two compositions in one run, on pages 1 and 2 with other sums: the data is shared (one
  // series) exactly when no formula reads the page, a sum or a user variable.
  struct Caso {
    const char* categoria;
    bool compartida;
  };
  const Caso casos[] = {
      {"mes", true},
      {"LIN.mes + ' ' + RECNO() + '/' + RECCOUNT()", true},  // the chart's own record
      {"'PAGE() SUM.x @y'", true},                           // text, not calls or names
      {"SUM(LIN.importe)", true},                            // the records' running sum
      {"'p' + PAGE()", false},
      {"'p' + page ()", false},
      {"TotalPages()", false},
      {"IIF(LASTPAGE(), 'fin', mes)", false},
      {"SUM.importe", false},
      {"sum.importe", false},
      {"VAR.clave", false},
      {"@clave", false},
      {"Clave", false},              // a user variable by its bare name, in any case
      {"'a' + 'b + PAGE()", false},  // what follows an unclosed quote is still read
  };
  const Value registros =
      JsonDecode(R"([{"LIN.mes":"Ene","LIN.importe":1},{"LIN.mes":"Feb","LIN.importe":2}])");
  for (const Caso& c : casos) {
    Value ajustes = Value::NewMap(
        {{"cCategoryFormula", Value(c.categoria)}, {"cValueFormula", Value("importe")}});
    auto grafico = MakeRef<TChart>();
    grafico->hChartSpec = ajustes;
    ObjectTestContext ctx(
        Value::NewMap({{"aRegistrosDetalleRuntime", registros},
                       {"lRegistrosDetalleGlobalRuntime", true},
                       {"hUserVars", JsonDecode(R"J({"CLAVE":{"formula":"PAGE()"}})J")}}));
    ctx.contexto->Create();
    ctx.contexto->SetEstadoPagina(Value(1), Value(2));
    const Value primera = grafico->GenerarRenderizable(*ctx.contexto).Get("puntos");
    ctx.contexto->SetEstadoPagina(Value(2), Value(2));
    const Value segunda = grafico->GenerarRenderizable(*ctx.contexto).Get("puntos");
    ASSERT_EQ(segunda.Len(), 2u) << c.categoria;
    EXPECT_EQ(primera.SameRef(segunda), c.compartida) << c.categoria;
  }
  // A cross table is judged by every formula of its definitions.
  for (const char* celda : {"importe", "SUM.importe"}) {
    auto cruzada = Grafico(R"({"cChartKind":"crosstab","hChartSpec":{"aDefinitions":[
        {"cRowFormula":"mes","cCellFormula":"importe"},{"nRowLevel":1,"cCellFormula":")" +
                           std::string(celda) + R"("}]}})");
    ObjectTestContext ctx(Value::NewMap(
        {{"aRegistrosDetalleRuntime", registros}, {"lRegistrosDetalleGlobalRuntime", true}}));
    ctx.contexto->Create();
    const Value a = cruzada->GenerarRenderizable(*ctx.contexto).Get("celdas");
    const Value b = cruzada->GenerarRenderizable(*ctx.contexto).Get("celdas");
    EXPECT_EQ(a.SameRef(b), std::string(celda) == "importe") << celda;
  }
}

}  // namespace
}  // namespace kx
