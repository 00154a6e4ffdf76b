#include "TMotorEjecucion.h"

#include <gtest/gtest.h>

#include "Json.h"
#include "ObjectTestContext.h"
#include "TDocumentoRenderizable.h"
#include "TMotorComposicion.h"
#include "TMotorPaginacion.h"
#include "TPlantilla.h"

namespace kx {
namespace {

// A report object that answers a fixed result, and optionally a table's timings.
struct Fixed : TObjectBase {
  Fixed(TReportNode* parent, Value result, Value timings = Value())
      : TObjectBase(parent), answer(std::move(result)), tiempos(std::move(timings)) {}
  Value GenerarRenderizable(TContextoEjecucion&) override {
    ++calls;
    return answer;
  }
  Value GetPerformanceDiagnostics() override { return tiempos; }
  Value answer;
  Value tiempos;
  int calls = 0;
};

struct Execution {
  explicit Execution(std::string_view templateJson)
      : plantilla(MakeRef<TPlantilla>()),
        composicion(MakeRef<TMotorComposicion>()),
        paginacion(MakeRef<TMotorPaginacion>()) {
    plantilla->SetData(JsonDecode(templateJson));
    plantilla->Create();
    composicion->Create();
    paginacion->Create();
    motor =
        MakeRef<TMotorEjecucion>(plantilla, ctx.conector, composicion, paginacion, ctx.contexto);
    motor->Create();
  }
  ~Execution() {
    motor->End();
    paginacion->End();
    composicion->End();
    plantilla->End();
  }
  Fixed& Add(std::string_view result, std::string_view timings = "null") {
    auto object =
        MakeRef<Fixed>(plantilla->oDocumento.get(), JsonDecode(result), JsonDecode(timings));
    plantilla->oDocumento->aObjects.push_back(object);
    return *object;
  }
  // The ids of the objects on page n.
  std::vector<std::string> Ids(const Ref<TDocumentoRenderizable>& doc, int n) {
    std::vector<std::string> ids;
    const Value page = doc->GetPagina(Value(n));
    for (const Value& o : page.Get("objetos").AsList()) ids.push_back(ValueString(o.Get("id")));
    return ids;
  }

  ObjectTestContext ctx;
  Ref<TPlantilla> plantilla;
  Ref<TMotorComposicion> composicion;
  Ref<TMotorPaginacion> paginacion;
  Ref<TMotorEjecucion> motor;
};

TEST(TMotorEjecucion, ComposesEveryObjectOnceAndSplicesLists) {
  Execution run(R"({"nPaperWidth":100,"nPaperHeight":200,
              "aObjects":[{"cType":"TRectangle","cId":"r"}]})");
  Fixed& table = run.Add(R"([{"id":"t0","tipo":"rectangulo"},{"id":"t1","tipo":"texto"}])");
  run.Add(R"({"id":"m","tipo":"linea"})");
  Ref<TDocumentoRenderizable> doc = run.motor->Ejecutar();
  ASSERT_TRUE(doc);
  EXPECT_EQ(doc->nAncho, 100.0);
  EXPECT_EQ(doc->nAlto, 200.0);
  ASSERT_EQ(doc->TotalPaginas(), 1);
  EXPECT_EQ(run.Ids(doc, 1), (std::vector<std::string>{"r", "t0", "t1", "m"}));
  EXPECT_EQ(table.calls, 1);
}

TEST(TMotorEjecucion, OnlyMapsReachThePage) {
  Execution run(R"({"aObjects":[]})");
  run.Add("5");
  run.Add("[]");
  run.Add("null");
  run.Add(R"("texto suelto")");
  run.Add(R"([{"id":"a","tipo":"texto"},7,[],{"id":"b"},"x"])");
  run.Add(R"({"id":"c"})");
  Ref<TDocumentoRenderizable> doc = run.motor->Ejecutar();
  ASSERT_TRUE(doc);
  EXPECT_EQ(run.Ids(doc, 1), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(doc->TotalObjetos(), 3);
}

TEST(TMotorEjecucion, RelocatesTextFlowsAfterComposing) {
  Execution run(R"({"aObjects":[]})");
  run.Add(R"({"id":"A","tipo":"texto","grupoFlujoTexto":"g","x":5,"y":10,"ancho":50,"alto":20,
              "alturaSuprimidaFlujoTexto":5})");
  run.Add(R"({"id":"B","tipo":"texto","grupoFlujoTexto":" g ","x":5,"y":30,"ancho":50,
              "alto":10})");
  Ref<TDocumentoRenderizable> doc = run.motor->Ejecutar();
  ASSERT_TRUE(doc);
  const Value objetos = doc->GetPagina(Value(1)).Get("objetos");
  ASSERT_EQ(objetos.Len(), 2u);
  EXPECT_EQ(objetos.AsList()[0].Get("alto").Int(), 15);
  EXPECT_EQ(objetos.AsList()[1].Get("y").Int(), 25);
}

TEST(TMotorEjecucion, PassPerformanceFoldsTableTimings) {
  Execution run(R"({"aObjects":[]})");
  run.Add(R"([{"id":"t","tipo":"rectangulo"}])",
          R"({"nSetupMs":1.5,"nRecordLoopMs":2,"nAccumulateMs":0.25,"nRecordsExamined":3,
              "nTotalMs":100})");
  run.Add(R"({"id":"u","tipo":"rectangulo"})", R"({"nSetupMs":2,"nRecordsExamined":4})");
  run.Add("null", "[1,2]");  // not a map: ignored
  ASSERT_TRUE(run.motor->Ejecutar());
  Value perf = run.motor->GetPerformanceDiagnostics();
  const char* keys[] = {"nSetupMs",
                        "nCompositionMs",
                        "nReflowMs",
                        "nPaginationMs",
                        "nTableSetupMs",
                        "nTableRecordLoopMs",
                        "nTableFinishMs",
                        "nTablePartitionMs",
                        "nTableRenderLinesMs",
                        "nTableCellContentMs",
                        "nTableAccumulateMs",
                        "nTableRecordsExamined"};
  ASSERT_EQ(perf.Len(), 12u);
  for (size_t i = 0; i < 12; ++i) EXPECT_EQ(perf.AsMap().KeyAt(i), keys[i]);
  EXPECT_DOUBLE_EQ(perf.Get("nTableSetupMs").Double(), 3.5);
  EXPECT_DOUBLE_EQ(perf.Get("nTableRecordLoopMs").Double(), 2.0);
  EXPECT_DOUBLE_EQ(perf.Get("nTableAccumulateMs").Double(), 0.25);
  EXPECT_EQ(perf.Get("nTableFinishMs").Double(), 0.0);
  EXPECT_TRUE(perf.Get("nTableRecordsExamined").IsInt());
  EXPECT_EQ(perf.Get("nTableRecordsExamined").Int(), 7);
  for (const char* key : {"nSetupMs", "nCompositionMs", "nReflowMs", "nPaginationMs"})
    EXPECT_GE(perf.Get(key).Double(), 0.0) << key;

  // The answer is a copy, and the next execution starts from zero.
  perf.Set("nTableSetupMs", 99);
  ASSERT_TRUE(run.motor->Ejecutar());
  EXPECT_DOUBLE_EQ(run.motor->GetPerformanceDiagnostics().Get("nTableSetupMs").Double(), 3.5);
}

TEST(TMotorEjecucion, WithoutATemplateOneEmptyPage) {
  ObjectTestContext ctx;
  auto composicion = MakeRef<TMotorComposicion>();
  auto paginacion = MakeRef<TMotorPaginacion>();
  TMotorEjecucion motor(nullptr, nullptr, composicion, paginacion, ctx.contexto);
  Ref<TDocumentoRenderizable> doc = motor.Ejecutar();
  ASSERT_TRUE(doc);
  EXPECT_EQ(doc->TotalPaginas(), 1);
  EXPECT_EQ(doc->GetPagina(Value(1)).Get("objetos").Len(), 0u);
  EXPECT_EQ(doc->nAncho, 0.0);
  EXPECT_EQ(doc->nAlto, 0.0);
  motor.End();
  EXPECT_EQ(motor.GetPerformanceDiagnostics().Len(), 0u);
}

TEST(TMotorEjecucion, TextFlowRelocation) {
  struct Row {
    const char* name;
    const char* input;
    const char* output;
  };
  Row rows[] = {
      {"members move up by what earlier members gave away",
       R"([{"grupoFlujoTexto":"g","y":10,"alto":20,"alturaSuprimidaFlujoTexto":5},
           {"grupoFlujoTexto":"g","y":30,"alto":10}])",
       R"([{"grupoFlujoTexto":"g","y":10,"alto":15,"alturaSuprimidaFlujoTexto":5},)"
       R"({"grupoFlujoTexto":"g","y":25,"alto":10}])"},
      {"a blank member whose empty paragraphs are not kept frees its line",
       R"([{"grupoFlujoTexto":"g","y":10,"alto":20,"texto":" \r\n\t","alturaLineaFlujoTexto":4,
            "conservarParrafosVacios":false},
           {"grupoFlujoTexto":"g","y":30,"alto":10}])",
       R"([{"grupoFlujoTexto":"g","y":26,"alto":10}])"},
      {"without a line height the blank member frees its whole box",
       R"([{"grupoFlujoTexto":"g","y":10,"alto":20,"texto":"","conservarParrafosVacios":false},
           {"grupoFlujoTexto":"g","y":30,"alto":10}])",
       R"([{"grupoFlujoTexto":"g","y":10,"alto":10}])"},
      {"a blank member that keeps its paragraphs stays",
       R"([{"grupoFlujoTexto":"g","y":10,"alto":20,"texto":""}])",
       R"([{"grupoFlujoTexto":"g","y":10,"alto":20,"texto":""}])"},
      {"a member turned by -90 moves right and narrows",
       R"([{"grupoFlujoTexto":"g","y":0,"alto":20,"alturaSuprimidaFlujoTexto":5},
           {"grupoFlujoTexto":"g","rotacion":-90,"x":10,"y":3,"ancho":30,"alto":8,
            "alturaSuprimidaFlujoTexto":4}])",
       R"([{"grupoFlujoTexto":"g","y":0,"alto":15,"alturaSuprimidaFlujoTexto":5},)"
       R"({"grupoFlujoTexto":"g","rotacion":-90,"x":15,"y":3,"ancho":26,"alto":8,)"
       R"("alturaSuprimidaFlujoTexto":4}])"},
      {"rotations 90, 180, 450 and 45.7",
       R"([{"grupoFlujoTexto":"g","alto":10,"alturaSuprimidaFlujoTexto":2},
           {"grupoFlujoTexto":"g","rotacion":90,"x":10,"y":10},
           {"grupoFlujoTexto":"g","rotacion":180,"x":10,"y":10},
           {"grupoFlujoTexto":"g","rotacion":450,"x":10,"y":10},
           {"grupoFlujoTexto":"g","rotacion":45.7,"x":10,"y":10}])",
       R"([{"grupoFlujoTexto":"g","alto":8,"alturaSuprimidaFlujoTexto":2},)"
       R"({"grupoFlujoTexto":"g","rotacion":90,"x":8,"y":10},)"
       R"({"grupoFlujoTexto":"g","rotacion":180,"x":10,"y":12},)"
       R"({"grupoFlujoTexto":"g","rotacion":450,"x":8,"y":10},)"
       R"({"grupoFlujoTexto":"g","rotacion":45.7,"x":10,"y":8}])"},
      {"a suppressed height larger than the box",
       R"([{"grupoFlujoTexto":"g","alto":3,"alturaSuprimidaFlujoTexto":10},
           {"grupoFlujoTexto":"g","y":"30,5"}])",
       R"([{"grupoFlujoTexto":"g","alto":0.1,"alturaSuprimidaFlujoTexto":10},)"
       R"({"grupoFlujoTexto":"g","y":27.5}])"},
      {"groups are independent and compare exactly",
       R"([{"grupoFlujoTexto":"g","alto":9,"alturaSuprimidaFlujoTexto":4},
           {"grupoFlujoTexto":"G","y":20},{"grupoFlujoTexto":"  ","y":20},{"y":20},
           {"grupoFlujoTexto":"g","y":20}])",
       R"([{"grupoFlujoTexto":"g","alto":5,"alturaSuprimidaFlujoTexto":4},)"
       R"({"grupoFlujoTexto":"G","y":20},{"grupoFlujoTexto":"  ","y":20},{"y":20},)"
       R"({"grupoFlujoTexto":"g","y":16}])"},
  };
  for (const Row& r : rows) {
    const Value input = JsonDecode(r.input);
    const std::string before = JsonEncode(input);
    EXPECT_EQ(JsonEncode(TMotorEjecucion::RecolocarFlujoTexto(input)), r.output) << r.name;
    EXPECT_EQ(JsonEncode(input), before) << r.name;  // the input is not changed
  }
}

TEST(TMotorEjecucion, RelocationCopiesTheMembersItMoves) {
  const Value input = JsonDecode(
      R"([{"id":"a","runs":[{"cText":"x"}]},{"id":"b","grupoFlujoTexto":"g","y":5,"runs":[{"cText":"x"}]}])");
  const Value output = TMotorEjecucion::RecolocarFlujoTexto(input);
  ASSERT_EQ(output.Len(), 2u);
  // An element outside every flow group is not touched, so it passes without a copy.
  EXPECT_TRUE(output.AsList()[0].SameRef(input.AsList()[0]));
  EXPECT_FALSE(output.AsList()[1].SameRef(input.AsList()[1]));
  output.AsList()[1].Get("runs").AsList()[0].Set("cText", "y");
  EXPECT_EQ(input.AsList()[1].Get("runs").AsList()[0].Get("cText").Str(), "x");
}

// ---- Label sheets

// A report object that answers a fresh copy of its map on every call, as the
// report objects do.
struct Fresh : TObjectBase {
  Fresh(TReportNode* parent, Value result) : TObjectBase(parent), answer(std::move(result)) {}
  Value GenerarRenderizable(TContextoEjecucion&) override { return DeepClone(answer); }
  Value answer;
};

// A label run: the template's objects, `n` detail records {"L.n": 1 .. n} and the first label.
struct LabelRun : Execution {
  LabelRun(std::string_view layout, int n, Value first = Value(), std::string_view objects = "")
      : Execution(LabelTemplate(layout, objects)) {
    Value rows = Value::NewList();
    for (int i = 1; i <= n; ++i) rows.Push(Value::NewList({Value(i)}));
    if (n > 0) ctx.conector->SendDataLine(JsonDecode(R"([{"grupo":"L","nombre":"n"}])"), rows);
    Value options = Value::NewMap();
    if (!first.IsNil()) options.Set("nEtiquetaInicial", first);
    ctx.contexto->SetOpciones(options);
    ctx.contexto->Create();
  }
  static std::string LabelTemplate(std::string_view layout, std::string_view objects) {
    return std::string(R"({"cDocumentKind":"label","nPaperWidth":210,"nPaperHeight":297,)") +
           R"("cPaperHeightMode":"content","hLabelLayout":)" + std::string(layout) +
           R"(,"aObjects":[{"cType":"TRectangle","cId":"r","nLeft":2,"nTop":3,"nWidth":10,)" +
           R"("nHeight":5})" + std::string(objects) + "]}";
  }
  // "page/x/y/record/slot" of every object with the id, in page order.
  std::vector<std::string> Placed(const Ref<TDocumentoRenderizable>& doc, std::string_view id) {
    std::vector<std::string> out;
    for (int64_t p = 1; p <= doc->TotalPaginas(); ++p) {
      for (const Value& o : doc->GetPagina(Value(p)).Get("objetos").AsList()) {
        if (o.Get("id").Str() != id) continue;
        const Value& d = o.Get("debugEtiqueta");
        out.push_back(std::to_string(p) + "/" + PlainText(o.Get("x")) + "/" +
                      PlainText(o.Get("y")) + "/" + PlainText(d.Get("nRegistro")) + "/" +
                      PlainText(d.Get("nSlot")));
      }
    }
    return out;
  }
};

TEST(TMotorEjecucionLabels, SlotsPositionsAndSheets) {
  // The default sheet: 3 columns and 8 rows of 70 x 37 mm, by rows, from label 5.
  LabelRun run(
      "{}", 50, Value(5),
      R"(,{"cType":"TRectangle","cId":"late","cCondition":"L.n > 25"},)"
      R"({"cType":"TRectangle","cId":"p2","cCondition":"PAGE() == 2 .and. TOTALPAGES() == 3"})");
  Ref<TDocumentoRenderizable> doc = run.motor->Ejecutar();
  ASSERT_TRUE(doc);
  EXPECT_EQ(doc->TotalPaginas(), 3);  // ceiling(54 / 24)
  EXPECT_EQ(doc->nAncho, 210.0);
  EXPECT_EQ(doc->cPaperHeightMode, "fixed");
  EXPECT_FALSE(doc->IsPageSpooling());
  const std::vector<std::string> placed = run.Placed(doc, "r");
  ASSERT_EQ(placed.size(), 50u);
  EXPECT_EQ(placed[0], "1/72/40/1/5");   // slot 4: row 1, column 1
  EXPECT_EQ(placed[1], "1/142/40/2/6");  // along the row
  EXPECT_EQ(placed[2], "1/2/77/3/7");
  EXPECT_EQ(placed[19], "1/142/262/20/24");
  EXPECT_EQ(placed[20], "2/2/3/21/1");  // the next sheet from its first slot
  EXPECT_EQ(placed[49], "3/142/40/50/6");
  // Formulas see the label's own record and the sheet it lands on.
  EXPECT_EQ(run.Placed(doc, "late").size(), 25u);
  EXPECT_EQ(run.Placed(doc, "p2").size(), 24u);
  EXPECT_EQ(JsonEncode(doc->GetPagina(Value(1)).Get("objetos").AsList()[0].Get("debugEtiqueta")),
            R"({"nRegistro":1,"nSlot":5,"nOffsetX":70,"nOffsetY":37})");
  // A label execution keeps every timing at 0.
  const Value perf = run.motor->GetPerformanceDiagnostics();
  for (const Map::Entry& e : perf.AsMap()) EXPECT_EQ(e.value.Double(), 0.0) << e.key.Str();
}

TEST(TMotorEjecucionLabels, FlowFirstLabelAndLayoutRules) {
  struct Row {
    const char* name;
    const char* layout;
    Value first;
    int records;
    std::vector<std::string> placed;  // of the last record, then the page count
  };
  const Row rows[] = {
      {"column flow: slot 8 is row 0, column 1",
       R"({"cFlow":"column"})",
       Value(9),
       1,
       {"1/72/3/1/9"}},
      {"Column is row flow: slot 8 is row 2, column 2",
       R"({"cFlow":"Column"})",
       Value(9),
       1,
       {"1/142/77/1/9"}},
      {" column is row flow", R"({"cFlow":" column"})", Value(9), 1, {"1/142/77/1/9"}},
      {"first label 0 starts at 1", "{}", Value(0), 1, {"1/2/3/1/1"}},
      {"first label -3 starts at 1", "{}", Value(-3), 1, {"1/2/3/1/1"}},
      {"first label 99 starts at the last", "{}", Value(99), 1, {"1/142/262/1/24"}},
      {"a first label as text", "{}", Value("2,9"), 1, {"1/72/3/1/2"}},
      {"margins, gaps and offsets",
       R"({"nMarginLeft":5,"nMarginTop":-4,"nGapHorizontal":2,"nGapVertical":"1,5",)"
       R"("nPrintOffsetX":-1.5,"nPrintOffsetY":-2,"nLabelWidth":"50mm","nLabelHeight":0})",
       Value(5),
       1,
       {"1/57.5/3.5/1/5"}},
      {"an empty job prints one label", "{}", Value(), 0, {"1/2/3/1/1"}},
  };
  for (const Row& r : rows) {
    LabelRun run(r.layout, r.records, r.first);
    Ref<TDocumentoRenderizable> doc = run.motor->Ejecutar();
    ASSERT_TRUE(doc) << r.name;
    EXPECT_EQ(doc->TotalPaginas(), 1) << r.name;
    EXPECT_EQ(run.Placed(doc, "r"), r.placed) << r.name;
  }
}

TEST(TMotorEjecucionLabels, ColumnFlowFromTheMiddleOfASheet) {
  // 2 columns of 3 rows, by columns, from label 4: 10 labels need ceiling(13 / 6) = 3 sheets.
  LabelRun run(R"({"nColumns":2,"nRows":3,"cFlow":"column","nLabelWidth":100,"nLabelHeight":90})",
               10, Value(4));
  Ref<TDocumentoRenderizable> doc = run.motor->Ejecutar();
  ASSERT_TRUE(doc);
  ASSERT_EQ(doc->TotalPaginas(), 3);
  EXPECT_EQ(run.Placed(doc, "r"),
            (std::vector<std::string>{"1/102/3/1/4", "1/102/93/2/5", "1/102/183/3/6", "2/2/3/4/1",
                                      "2/2/93/5/2", "2/2/183/6/3", "2/102/3/7/4", "2/102/93/8/5",
                                      "2/102/183/9/6", "3/2/3/10/1"}));
}

TEST(TMotorEjecucionLabels, ALabelIsNeverSplitOverPages) {
  // A text that may break over pages and does not fit its box still stays whole in its label.
  std::string lines;
  for (int i = 0; i < 40; ++i) lines += "linea\\n";
  LabelRun run("{}", 2);
  run.plantilla->oDocumento->aObjects.push_back(MakeRef<Fresh>(
      run.plantilla->oDocumento.get(),
      JsonDecode(R"({"id":"txt","tipo":"texto","x":"1","y":1,"ancho":60,"alto":5,"tamano":10,)"
                 R"("permiteSaltoPagina":true,"texto":")" +
                 lines + R"("})")));
  Ref<TDocumentoRenderizable> doc = run.motor->Ejecutar();
  ASSERT_TRUE(doc);
  EXPECT_EQ(doc->TotalPaginas(), 1);
  const Value objetos = doc->GetPagina(Value(1)).Get("objetos");
  std::vector<std::string> texts;
  for (const Value& o : objetos.AsList()) {
    if (o.Get("id").Str() != "txt") continue;
    // A text "x" is no number: it is kept, and the label is still marked.
    EXPECT_EQ(o.Get("x").Str(), "1");
    texts.push_back(PlainText(o.Get("y")) + "/" + PlainText(o.Get("debugEtiqueta").Get("nSlot")));
  }
  EXPECT_EQ(texts, (std::vector<std::string>{"1/1", "1/2"})) << JsonEncode(objetos);
}

TEST(TMotorEjecucionLabels, ProgressCanCancelAtARecordOrAPage) {
  struct Row {
    const char* name;
    const char* option;
    int64_t stopAt;  // the report answered false, 0 never
    bool document;
  };
  const Row rows[] = {
      {"a record report", "bProgressRecord", 3, false},
      {"a page report", "bProgressPage", 2, false},
      {"the last page's report", "bProgressPage", 4, false},
      {"no stop", "bProgressRecord", 0, true},
  };
  for (const Row& r : rows) {
    LabelRun run(R"({"nColumns":1,"nRows":1})", 4);  // a label a sheet
    std::vector<int64_t> seen;
    Value options = Value::NewMap({{"lProgressActive", true}});
    options.Set(r.option, Value::Function([&seen, &r](std::span<const Value> a) {
                  seen.push_back(a[0].Int());
                  return a[0].Int() == r.stopAt ? Value(false) : Value();
                }));
    run.ctx.contexto->SetOpciones(options);
    run.ctx.contexto->Create();
    Ref<TDocumentoRenderizable> doc = run.motor->Ejecutar();
    EXPECT_EQ(static_cast<bool>(doc), r.document) << r.name;
    if (r.stopAt > 0) {
      EXPECT_EQ(seen.back(), r.stopAt) << r.name;
    } else {
      EXPECT_EQ(seen, (std::vector<int64_t>{1, 2, 3, 4})) << r.name;
    }
  }
}

}  // namespace
}  // namespace kx
