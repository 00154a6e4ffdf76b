// Values a host builds and sends through the input operations, however odd,
// reach the run without harm.
#include <gtest/gtest.h>

#include "Json.h"
#include "TKXEngine.h"

namespace kx {
namespace {

const char* kTextOfVariable =
    R"({"cFormatVersion":"1.0","aObjects":[{"cType":"TText","cId":"t","nLeft":10,"nTop":10,
        "nWidth":80,"nHeight":6,"cText":"CAB.f"}]})";

// The text the template's one text object shows for the variable's value.
std::string Rendered(const Value& value) {
  TKXEngine engine;
  engine.SetPlantillaContent(Value(kTextOfVariable));
  engine.OpenJob();
  engine.SendDataVar(Value("CAB"), Value::NewMap({{"f", value}}));
  engine.CloseJob();
  Ref<TDocumentoRenderizable> doc = engine.RunEngine();
  EXPECT_TRUE(doc) << engine.cLastError;
  if (!doc) return "";
  std::string text(doc->GetPagina(Value(1)).Get("objetos").AsList()[0].Get("texto").Str());
  doc.reset();
  engine.End();
  return text;
}

TEST(TKXEngineEntrada, HostDatesOfAnyDayNumberRender) {
  EXPECT_EQ(Rendered(Value::DateYMD(2025, 1, 31)), "01/31/25");
  const std::string empty = Rendered(Value::EmptyDate());
  // Day numbers past the year 9999 (their year overflowed the calendar) and
  // before the year 1 are the empty date.
  EXPECT_EQ(Rendered(Value::Date(600000000)), empty);
  EXPECT_EQ(Rendered(Value::Date(kLastDateJdn + 1)), empty);
  EXPECT_EQ(Rendered(Value::Date(-7)), empty);
}

Value DeeplyNested(bool maps, int depth) {
  Value v = maps ? Value::NewMap() : Value::NewList();
  for (int i = 0; i < depth; ++i) v = maps ? Value::NewMap({{"k", v}}) : Value::NewList({v});
  return v;
}

TEST(TKXEngineEntrada, DeeplyNestedHostValuesRunAndGo) {
  TKXEngine engine;
  engine.SetPlantillaContent(Value(
      R"({"cFormatVersion":"1.0","aObjects":[{"cType":"TTable","cId":"T","nLeft":10,"nTop":20,
          "nWidth":100,"nHeight":60,"hSections":{"detail":{"aLines":[{"nHeight":5,"aCells":[
          {"nWidth":50,"hContent":{"cType":"TText","hObject":{"cText":"LIN.lista"}}},
          {"nWidth":50,"hContent":{"cType":"TText","hObject":{"cText":"LIN.n"}}}]}]}}}]})"));
  engine.OpenJob();
  engine.SendDataVar(Value("CAB"), Value::NewMap({{"f", DeeplyNested(true, 200000)}}));
  for (int i = 0; i < 3; ++i) {
    // The engine holds the only reference once the call returns.
    engine.SendDetalle(Value("LIN"),
                       Value::NewMap({{"lista", DeeplyNested(i % 2 == 0, 200000)}, {"n", i}}));
  }
  engine.CloseJob();
  Ref<TDocumentoRenderizable> doc = engine.RunEngine();
  ASSERT_TRUE(doc) << engine.cLastError;
  EXPECT_EQ(engine.GetPaginationDiagnostics().Get("nLastDataLine").Int(), 3);
  EXPECT_FALSE(JsonEncode(doc->GetPagina(Value(1))).empty());
  doc.reset();
  engine.End();  // releases every record: nested 200,000 deep, without recursion
  EXPECT_EQ(engine.aRegLine.Len(), 0u);
}

}  // namespace
}  // namespace kx
