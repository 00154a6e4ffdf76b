#include "TDocument.h"

#include <gtest/gtest.h>

#include "Json.h"

namespace kx {
namespace {

Ref<TDocument> Loaded(std::string_view json) {
  auto doc = MakeRef<TDocument>();
  doc->Create();
  doc->Load(JsonDecode(json));
  return doc;
}

TEST(TDocument, PaperFormatAndOrientationInference) {
  struct Row {
    const char* json;
    const char* format;
    const char* orientation;
  };
  Row rows[] = {
      {R"({"nPaperWidth":297,"nPaperHeight":210,"aObjects":[]})", "a4", "landscape"},
      {R"({"nPaperWidth":210.005,"nPaperHeight":296.995,"aObjects":[]})", "a4", "portrait"},
      {R"({"nPaperWidth":210.02,"nPaperHeight":297,"aObjects":[]})", "custom", "portrait"},
      {R"({"nPaperWidth":215.9,"nPaperHeight":279.4,"aObjects":[]})", "letter", "portrait"},
      {R"({"nPaperWidth":80,"nPaperHeight":200,"aObjects":[]})", "ticket-80", "portrait"},
      {R"({"nPaperWidth":"148","nPaperHeight":"210,0","aObjects":[]})", "a5", "portrait"},
      {R"({"nPaperWidth":100,"nPaperHeight":100,"aObjects":[]})", "custom", "portrait"},
      {R"({"cPaperFormat":"  A5 ","aObjects":[]})", "a5", "portrait"},
      {R"({"cPaperFormat":"","cPaperOrientation":"LANDSCAPE ","aObjects":[]})", "custom",
       "landscape"},
      {R"({"cPaperFormat":"Folio","cPaperOrientation":"sideways","aObjects":[]})", "folio",
       "portrait"},
      {R"({"cPaperFormat":null,"cPaperOrientation":null,"nPaperWidth":297,"nPaperHeight":210,"aObjects":[]})",
       "custom", "portrait"},
      {R"({"aObjects":[]})", "a4", "portrait"},
  };
  for (const Row& r : rows) {
    auto doc = Loaded(r.json);
    EXPECT_EQ(doc->cPaperFormat, r.format) << r.json;
    EXPECT_EQ(doc->cPaperOrientation, r.orientation) << r.json;
  }
}

TEST(TDocument, SettingsAreNormalised) {
  auto doc = Loaded(R"({"cDocumentKind":" LABEL ","cPaperHeightMode":"Content","nDesignHeight":0,
                        "nContinuousBottomMargin":-3,"lShowGrid":"no","aObjects":[]})");
  EXPECT_EQ(doc->cDocumentKind, "label");
  EXPECT_TRUE(doc->IsLabelDocument());
  EXPECT_EQ(doc->cPaperHeightMode, "content");
  EXPECT_EQ(doc->nDesignHeight, 1.0);
  EXPECT_EQ(doc->nContinuousBottomMargin, 0.0);
  EXPECT_FALSE(doc->lShowGrid);

  auto other = Loaded(
      R"({"cDocumentKind":"etiqueta","cPaperHeightMode":"continuous","lShowGrid":"rue","aObjects":[]})");
  EXPECT_EQ(other->cDocumentKind, "report");
  EXPECT_EQ(other->cPaperHeightMode, "fixed");
  EXPECT_TRUE(other->lShowGrid);  // any non-empty part of the truth words counts
}

TEST(TDocument, LabelLayoutNormalisation) {
  auto doc =
      Loaded(R"({"hLabelLayout":{"nColumns":0,"nRows":"2,7","cFlow":"columns","cLabelFormat":"  ",
                        "nPrintOffsetX":-2.5,"extra":1},"aObjects":[]})");
  const Value& layout = doc->hLabelLayout;
  ASSERT_EQ(layout.Len(), 12u);
  const char* keys[] = {"nLabelWidth", "nLabelHeight", "nColumns",       "nRows",
                        "nMarginLeft", "nMarginTop",   "nGapHorizontal", "nGapVertical",
                        "cFlow",       "cLabelFormat", "nPrintOffsetX",  "nPrintOffsetY"};
  for (size_t i = 0; i < 12; ++i) EXPECT_EQ(layout.AsMap().KeyAt(i), keys[i]);
  EXPECT_EQ(layout.Get("nColumns").Int(), 1);
  EXPECT_EQ(layout.Get("nRows").Int(), 2);
  EXPECT_EQ(layout.Get("cFlow").Str(), "row");
  EXPECT_EQ(layout.Get("cLabelFormat").Str(), "manual");
  EXPECT_EQ(layout.Get("nLabelWidth").Double(), 70.0);
  EXPECT_EQ(layout.Get("nPrintOffsetX").Double(), -2.5);

  EXPECT_EQ(Loaded(R"({"hLabelLayout":{"cFlow":"Column"},"aObjects":[]})")
                ->hLabelLayout.Get("cFlow")
                .Str(),
            "row");
  EXPECT_EQ(Loaded(R"({"hLabelLayout":{"cFlow":"column"},"aObjects":[]})")
                ->hLabelLayout.Get("cFlow")
                .Str(),
            "column");
}

TEST(TDocument, VariableDefinitions) {
  auto doc = Loaded(
      R"({"hUserVars":{" total ":{"formula":"A+B"},"":{"formula":"x"},"x":5,"total":{"tipo":"n","formula":" C "}},
                        "UserVar":{"ignored":{}},"AcumVar":{"s":{"formula":"IMPORTE"}},"aObjects":[]})");
  const Value& vars = doc->hUserVars;
  ASSERT_EQ(vars.Len(), 2u);
  EXPECT_EQ(vars.AsMap().KeyAt(0), "total");
  EXPECT_EQ(vars.Get("total").Get("tipo").Str(), "n");  // the later key, at the earlier place
  EXPECT_EQ(vars.Get("total").Get("formula").Str(), " C ");
  EXPECT_EQ(vars.Get("x").Get("tipo").Str(), "texto");
  EXPECT_EQ(vars.Get("x").Get("formula").Str(), "");
  EXPECT_EQ(doc->hAcumVars.Get("s").Get("formula").Str(),
            "IMPORTE");  // older key when the newer is absent

  auto older = Loaded(R"({"UserVar":{"v":{"formula":"1"}},"aObjects":[]})");
  EXPECT_TRUE(older->hUserVars.Has("v"));
  auto notMap = Loaded(R"({"hUserVars":[1],"UserVar":{"v":{}},"aObjects":[]})");
  EXPECT_EQ(notMap->hUserVars.Len(), 0u);
}

TEST(TDocument, Layers) {
  auto none = Loaded(R"({"aObjects":[]})");
  ASSERT_EQ(none->hLayers.Len(), 1u);
  EXPECT_EQ(none->GetLayer(Value(0)).Get("cName").Str(), "Capa 1");

  auto list = Loaded(
      R"({"hLayers":[{"cName":"Fondo"},{"nId":5,"cColor":" #ABCDEF ","lDesignerVisible":0}],"aObjects":[]})");
  ASSERT_EQ(list->hLayers.Len(), 2u);
  EXPECT_EQ(list->hLayers.AsMap().KeyAt(0), "0");
  EXPECT_EQ(list->GetLayer(Value(0)).Get("cName").Str(), "Fondo");
  EXPECT_EQ(list->GetLayer(Value(5)).Get("cName").Str(), "Capa 6");
  EXPECT_EQ(list->GetLayer(Value(5)).Get("cColor").Str(), "#abcdef");
  EXPECT_TRUE(list->IsLayerVisibleInDesign(Value(5)));  // only the logical false hides

  auto map =
      Loaded(R"({"hLayers":{"fondo":{"cCondition":" X>1 ","lDesignerVisible":false,"cColor":"#abc"},
                        "2":{"cName":"Dos","cColor":"red"},"3":{"nId":2,"cName":"Otra"}},"aObjects":[]})");
  ASSERT_EQ(map->hLayers.Len(), 2u);
  EXPECT_EQ(map->GetLayerCondition(Value(0)), "X>1");
  EXPECT_FALSE(map->IsLayerVisibleInDesign(Value("0")));
  EXPECT_EQ(map->GetLayer(Value(0)).Get("cColor").Str(), "#000000");
  EXPECT_EQ(map->hLayers.AsMap().KeyAt(1), "2");
  EXPECT_EQ(map->GetLayer(Value(2.9)).Get("cName").Str(), "Otra");
  EXPECT_EQ(map->GetLayer(Value("2")).Get("cName").Str(), "Otra");
  EXPECT_EQ(map->GetLayer(Value(7)).Get("nId").Int(), 0);
  // Normalising a normalised table gives the same table.
  EXPECT_EQ(ExprText(TDocument::NormalizeLayers(map->hLayers)), ExprText(map->hLayers));
}

TEST(TDocument, FactoryBuildsKnownKindsAndSkipsTheRest) {
  auto doc = Loaded(R"({"aObjects":[5,{"cType":"TWidget"},{"cType":"TEllipse","cId":"e"},
                        {"cType":"trectangle"},{"cType":" TLine"},{"cType":"TLine","cId":"l"},
                        {"cId":"none"},{"cType":"TRectangle","cId":"r"}],"hLayers":7})");
  ASSERT_EQ(doc->aObjects.size(), 3u);
  const char* classes[] = {"TEllipse", "TLine", "TRectangle"};
  const char* ids[] = {"e", "l", "r"};
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(doc->aObjects[i]->ClassName(), classes[i]);
    EXPECT_EQ(doc->aObjects[i]->cId.Str(), ids[i]);
    EXPECT_EQ(doc->aObjects[i]->oParent, doc.get());
  }
  for (const char* type : {"richtext", "text", "ttext", "ttable", "TImage", ""})
    EXPECT_FALSE(doc->CreateObjectByType(Value(type))) << type;
  EXPECT_EQ(doc->CreateObjectByType(Value("TLine"))->ClassName(), "TLine");
  EXPECT_EQ(doc->CreateObjectByType(Value("TTable"))->ClassName(), "TTable");
  EXPECT_EQ(doc->CreateObjectByType(Value("richText"))->ClassName(), "TRichText");
  EXPECT_EQ(doc->CreateObjectByType(Value("TChart"))->ClassName(), "TChart");
}

TEST(TDocument, StackingOrderIsThePositionInTheList) {
  auto doc = Loaded(R"({"aObjects":[{"cType":"TRectangle","nZIndex":9},
                        {"cType":"TGauge","nZIndex":4},{"cType":"TLine","nZIndex":1},
                        {"cType":"TEllipse","nZIndex":5}]})");
  ASSERT_EQ(doc->aObjects.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_TRUE(doc->aObjects[i]->nZIndex.IsInt());
    EXPECT_EQ(doc->aObjects[i]->nZIndex.Int(), static_cast<int64_t>(i + 1));
  }
}

TEST(TDocument, ObjectsAreSavedInOrder) {
  auto doc =
      Loaded(R"({"aObjects":[{"cType":"TLine","cId":"a"},{"cType":"TRectangle","cId":"b"}]})");
  const Value saved = doc->Save().Get("aObjects");
  ASSERT_EQ(saved.Len(), 2u);
  EXPECT_EQ(saved.AsList()[0].Get("cId").Str(), "a");
  EXPECT_EQ(saved.AsList()[0].Get("cLineStyle").Str(), "solid");
  EXPECT_EQ(saved.AsList()[1].Get("cType").Str(), "TRectangle");
  EXPECT_EQ(saved.AsList()[1].Get("nZIndex").Int(), 2);
}

TEST(TDocument, SaveWritesTheKeysInOrder) {
  auto doc = Loaded(R"({"cTemplateName":"Libro","nPaperWidth":"100,5","aObjects":[]})");
  Value saved = doc->Save();
  ASSERT_EQ(saved.Len(), 21u);
  EXPECT_EQ(saved.AsMap().KeyAt(0), "cType");
  EXPECT_EQ(saved.Get("cType").Str(), "TDocument");
  EXPECT_EQ(saved.AsMap().KeyAt(20), "aObjects");
  EXPECT_EQ(saved.Get("hLabelLayout").Len(), 12u);
  EXPECT_EQ(saved.Get("cTemplateName").Str(), "Libro");
  EXPECT_EQ(saved.Get("nPaperWidth").Double(), 100.5);
  EXPECT_EQ(doc->tModifiedAt.size(), 17u);  // YYYYMMDDTHH:MM:SS
  EXPECT_EQ(doc->tModifiedAt[8], 'T');
}

}  // namespace
}  // namespace kx
