#include "TObjectBase.h"

#include <gtest/gtest.h>

#include "Json.h"
#include "ObjectTestContext.h"
#include "TDocument.h"
#include "TRectangle.h"

namespace kx {
namespace {

// Opens the protected helpers of the base to the tests.
struct Probe : TObjectBase {
  using TObjectBase::EsColorHexValido;
  using TObjectBase::NormalizarColorTexto;
  using TObjectBase::PaddingRenderizable;
  using TObjectBase::TObjectBase;
  using TObjectBase::ValorAEntero;
  using TObjectBase::ValorALogico;
  using TObjectBase::ValorANumero;
  using TObjectBase::ValorAString;
};

Ref<TDocument> Loaded(std::string_view json) {
  auto doc = MakeRef<TDocument>();
  doc->Create();
  doc->Load(JsonDecode(json));
  return doc;
}

TEST(TObjectBase, SaveOfAFreshObjectWritesThe46KeysInOrder) {
  TObjectBase object;
  const Value saved = object.Save();
  ASSERT_EQ(saved.Len(), 46u);
  EXPECT_EQ(JsonEncode(saved),
            R"({"cId":"","cName":"Objeto","cType":"TObjectBase","nLeft":0,"nTop":0,"nWidth":0,)"
            R"("nHeight":0,"lVisible":true,"lLocked":false,"lSelected":false,"nLayerId":0,)"
            R"("nZIndex":1,"cBorderColor":"#000000","cBorderColorFormula":"","nBorderWidth":0.1,)"
            R"("lBorderTop":true,"lBorderRight":true,"lBorderBottom":true,"lBorderLeft":true,)"
            R"("cBackgroundColor":"#ffffff","cBackgroundColorFormula":"","cFillStyle":"solid",)"
            R"("nPattern":1,"cFillColor2":"#ffffff","cFillColor2Formula":"",)"
            R"("cFillColor3":"#ffffff","cFillColor3Formula":"","nFillOpacity":1,)"
            R"("nFillGradientFactor":50,"nRounded":0,"nShadowSize":0,"nShadowTransparency":50,)"
            R"("cShadowColor":"#000000","cShadowColorFormula":"","nRotation":0,"nOpacity":1,)"
            R"("cCondition":"","nPaddingTop":0,"nPaddingRight":0,"nPaddingBottom":0,)"
            R"("nPaddingLeft":0,"nKx12LinkID":0,"nKx12LinkToID":0,"nKx12LinkMode":0,)"
            R"("nKx12GroupId":0,"lKx12WrapBefore":false})");
}

TEST(TObjectBase, LoadKeepsValuesAsTheTemplateGivesThem) {
  TRectangle object;
  object.Load(JsonDecode(R"({"cId":"r1","nLeft":"12,5","nleft":99,"cCondition":null,
                             "nWidth":30.25,"hExtra":{"a":1},"nKx12LinkID":"7"})"));
  EXPECT_TRUE(object.nLeft.IsText());  // no conversion on load
  EXPECT_EQ(object.nLeft.Str(), "12,5");
  EXPECT_TRUE(object.cCondition.IsNil());
  const Value saved = object.Save();
  EXPECT_EQ(saved.Len(), 46u);
  EXPECT_EQ(saved.Get("nLeft").Str(), "12,5");
  EXPECT_EQ(saved.Get("nWidth").Double(), 30.25);
  EXPECT_TRUE(saved.Get("cCondition").IsNil());
  EXPECT_EQ(saved.Get("nKx12LinkID").Str(), "7");
  EXPECT_FALSE(saved.Has("hExtra"));
  // Keys the map lacks keep the class defaults.
  EXPECT_EQ(saved.Get("cType").Str(), "TRectangle");
  EXPECT_EQ(saved.Get("cBackgroundColor").Str(), "#ffffff");
  EXPECT_TRUE(saved.Get("lBorderLeft").Bool());
  EXPECT_DOUBLE_EQ(object.NRight(), 42.75);  // read where used: "12,5" is 12.5

  object.Load(Value(5));  // not a map: nothing changes
  EXPECT_EQ(object.cId.Str(), "r1");
}

TEST(TObjectBase, ValueConversions) {
  struct Row {
    const char* json;  // the value, as JSON
    const char* text;
    bool logical;
    double number;
    int64_t integer;
  };
  Row rows[] = {
      {"null", "", false, 0, 0},
      {"true", "1", true, 0, 0},  // a logical reads as 0
      {"false", "", false, 0, 0},
      {"2.75", "2.75", true, 2.75, 2},
      {"-2.75", "-2.75", true, -2.75, -2},
      {"0", "0", false, 0, 0},
      {"\" Yes \"", " Yes ", true, 0, 0},
      {"\"y\"", "y", true, 0, 0},
      {"\"rue\"", "rue", true, 0, 0},
      {"\"s\"", "s", true, 0, 0},
      {"\"no\"", "no", false, 0, 0},
      {"\"0\"", "0", false, 0, 0},
      {"\"\"", "", false, 0, 0},
      {"\"3,5 cm\"", "3,5 cm", false, 3.5, 3},
      {"[1]", "", false, 0, 0},
      {"{\"a\":1}", "", false, 0, 0},
  };
  for (const Row& r : rows) {
    const Value v = JsonDecode(r.json);
    EXPECT_EQ(Probe::ValorAString(v), r.text) << r.json;
    EXPECT_EQ(Probe::ValorALogico(v), r.logical) << r.json;
    EXPECT_DOUBLE_EQ(Probe::ValorANumero(v).Double(), r.number) << r.json;
    EXPECT_EQ(Probe::ValorAEntero(v), r.integer) << r.json;
  }
}

TEST(TObjectBase, PaddingNeverBelowZero) {
  Probe object;
  object.Load(JsonDecode(R"({"nPaddingTop":-2,"nPaddingLeft":"1,5","nPaddingRight":true,
                             "nPaddingBottom":3})"));
  EXPECT_EQ(JsonEncode(object.PaddingRenderizable()),
            R"({"paddingSuperior":0.0,"paddingDerecho":0.0,"paddingInferior":3,)"
            R"("paddingIzquierdo":1.5})");
}

TEST(TObjectBase, ColourTexts) {
  struct Row {
    const char* json;
    bool valid;
    const char* normalised;
  };
  Row rows[] = {
      {"\"#AbCdEf\"", true, "#abcdef"},  {"\" #00ff00 \"", true, "#00ff00"},
      {"\"#abc\"", false, "#000000"},    {"\"red\"", false, "#000000"},
      {"\"#abcdeg\"", false, "#000000"}, {"\"transparent\"", false, "#000000"},
      {"null", false, "#000000"},        {"123456", false, "#000000"},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(Probe::EsColorHexValido(JsonDecode(r.json)), r.valid) << r.json;
    EXPECT_EQ(Probe::NormalizarColorTexto(JsonDecode(r.json)), r.normalised) << r.json;
  }
}

TEST(TObjectBase, ColoursFromFormulas) {
  struct Row {
    const char* formula;
    const char* stored;
    bool strict;
    const char* colour;
    const char* warning;  // "" when none
  };
  Row rows[] = {
      // A blank formula: the stored colour, normalised only when strict.
      {"  ", "#AABBCC", true, "#aabbcc", ""},
      {"", "transparent", true, "#000000", ""},
      {"", "red", false, "red", ""},
      {"", " #AABBCC", false, " #AABBCC", ""},
      // A formula's value: trimmed and lower-cased when it is a colour.
      {"'  #FFAA00 '", "#000000", false, "#ffaa00", ""},
      {"kx.color.red", "#000000", true, "#ff0000", ""},
      {"'Transparent'", "#112233", false, "transparent", ""},
      {" 'Transparent' ", "#112233", true, "#112233", "Color no valido en C1: 'Transparent'"},
      {"'azul'", "RED", false, "RED", "Color no valido en C1: 'azul'"},
      {"NOSUCHNAME", "RED", true, "#000000", "Color no valido en C1: NOSUCHNAME"},
  };
  for (const Row& r : rows) {
    ObjectTestContext ctx;
    TRectangle object;
    object.cId = Value("C1");
    EXPECT_EQ(
        object.EvaluarColor(*ctx.contexto, Value(r.formula), Value(r.stored), Value(r.strict)),
        r.colour)
        << r.formula;
    std::vector<std::string> expected;
    if (*r.warning) expected.push_back(r.warning);
    EXPECT_EQ(ctx.Avisos(), expected) << r.formula;
  }
}

TEST(TObjectBase, VisibilityTestsInOrder) {
  struct Row {
    const char* object;   // base keys of the rectangle on the document
    const char* layers;   // the document's "hLayers"
    const char* options;  // run options
    bool visible;
    const char* reason;   // "" when drawn
    const char* warning;  // "" when none
  };
  const char* kTwoLayers = R"({"1":{"cCondition":".F."},"2":{"cCondition":"NOSUCHNAME"},
                               "3":{"lDesignerVisible":false}})";
  Row rows[] = {
      // The flag is read first; nothing else is evaluated.
      {R"({"lVisible":false,"cCondition":"NOSUCHNAME"})", "{}", "{}", false, "visible=false", ""},
      {R"({"lVisible":null})", "{}", "{}", false, "visible=false", ""},
      {R"({"lVisible":0})", "{}", "{}", false, "visible=false", ""},
      {R"({"lVisible":"no"})", "{}", "{}", false, "visible=false", ""},
      {R"({"lVisible":"si"})", "{}", "{}", true, "", ""},
      // The layer's condition comes before the object's.
      {R"({"nLayerId":1,"cCondition":"NOSUCHNAME"})", kTwoLayers, "{}", false,
       "capa: condicion falsa", ""},
      {R"({"nLayerId":"2","cCondition":".T."})", kTwoLayers, "{}", false,
       "capa: condicion no valida", "Condicion de capa no valida en R1: NOSUCHNAME"},
      {R"({"nLayerId":7})", kTwoLayers, "{}", true, "", ""},  // undefined: layer 0
      // The object's own condition.
      {R"({"cCondition":"   "})", "{}", "{}", true, "", ""},
      {R"({"cCondition":"0"})", "{}", "{}", false, "condicion falsa", ""},
      {R"({"cCondition":"1 > 2"})", "{}", "{}", false, "condicion falsa", ""},
      {R"({"cCondition":"2 > 1"})", "{}", "{}", true, "", ""},
      {R"({"cCondition":" NOSUCHNAME"})", "{}", "{}", false, "condicion no valida",
       "Condicion no valida en R1:  NOSUCHNAME"},
      // Designer mode: only the layer's designer visibility counts.
      {R"({"nLayerId":3})", kTwoLayers, R"({"modoEjecucion":"disenador"})", false,
       "capa no visible en diseno", ""},
      {R"({"nLayerId":1,"cCondition":"NOSUCHNAME"})", kTwoLayers,
       R"({"modoEjecucion":"disenador"})", true, "", ""},
      {R"({"nLayerId":1})", kTwoLayers, R"({"modoEjecucion":"DISENADOR"})", false,
       "capa: condicion falsa", ""},
  };
  for (const Row& r : rows) {
    std::string json = std::string(R"({"hLayers":)") + r.layers + R"(,"aObjects":[)";
    Value object = JsonDecode(r.object);
    object.Set("cType", "TRectangle");
    object.Set("cId", "R1");
    auto doc = Loaded(json + JsonEncode(object) + "]}");
    ASSERT_EQ(doc->aObjects.size(), 1u) << r.object;
    ObjectTestContext ctx(JsonDecode(r.options));
    EXPECT_EQ(doc->aObjects[0]->EsVisibleEnEjecucion(*ctx.contexto), r.visible) << r.object;
    std::vector<std::string> reasons, warnings;
    if (*r.reason) reasons.push_back(r.reason);
    if (*r.warning) warnings.push_back(r.warning);
    EXPECT_EQ(ctx.Motivos(), reasons) << r.object;
    EXPECT_EQ(ctx.Avisos(), warnings) << r.object;
  }
}

TEST(TObjectBase, CellObjectsFindTheDocumentThroughTheirParent) {
  auto doc = Loaded(R"({"hLayers":{"4":{"cCondition":"0"}},"aObjects":[]})");
  // A rectangle stands for the table that holds the cell.
  auto table = MakeRef<TRectangle>(doc.get());
  auto cell = MakeRef<TRectangle>(table.get());
  cell->nLayerId = Value(4);
  {
    ObjectTestContext ctx;
    EXPECT_FALSE(cell->EsVisibleEnEjecucion(*ctx.contexto));
    EXPECT_EQ(ctx.Motivos(), std::vector<std::string>{"capa: condicion falsa"});
  }
  // Once ended, the cell has no parent and so no layer condition.
  cell->End();
  EXPECT_EQ(cell->oParent, nullptr);
  ObjectTestContext ctx;
  EXPECT_TRUE(cell->EsVisibleEnEjecucion(*ctx.contexto));
}

}  // namespace
}  // namespace kx
