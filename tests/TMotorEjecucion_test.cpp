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
  const Value perf = run.motor->GetPerformanceDiagnostics();
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

}  // namespace
}  // namespace kx
