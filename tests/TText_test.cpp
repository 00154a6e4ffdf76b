#include "TText.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "Json.h"
#include "ObjectTestContext.h"
#include "TDocument.h"
#include "TMotorPaginacion.h"
#include "TRectangle.h"

namespace kx {
namespace {

// The 57 keys of a rendered text, in order.
const std::vector<std::string> kTextKeys = {
    "id",
    "tipo",
    "x",
    "y",
    "ancho",
    "alto",
    "texto",
    "formula",
    "formulaError",
    "formulaErrorMessage",
    "fuente",
    "tamano",
    "precisionFuente",
    "familiaPitchFuente",
    "color",
    "opacidadTexto",
    "alineacion",
    "posicionDecimal",
    "alineacionVertical",
    "negrita",
    "cursiva",
    "subrayado",
    "tachado",
    "modoAjusteTexto",
    "ajusteLinea",
    "forzarParticionPalabra",
    "permiteSaltoPagina",
    "interlineado",
    "espaciadoParrafo",
    "conservarParrafosVacios",
    "ajustado",
    "optimizarEspacios",
    "grupoFlujoTexto",
    "ordenFlujoTexto",
    "alturaLineaFlujoTexto",
    "alturaSuprimidaFlujoTexto",
    "colorFondo",
    "colorBorde",
    "grosorBorde",
    "bordeSuperior",
    "bordeDerecho",
    "bordeInferior",
    "bordeIzquierdo",
    "redondeo",
    "rotacionOriginal",
    "rotacion",
    "opacidad",
    "sombraTamano",
    "sombraTransparencia",
    "sombraColor",
    "ordenOriginal",
    "capa",
    "zIndex",
    "paddingSuperior",
    "paddingDerecho",
    "paddingInferior",
    "paddingIzquierdo",
};

std::vector<std::string> Keys(const Value& map) {
  std::vector<std::string> keys;
  for (const Map::Entry& e : map.AsMap()) keys.emplace_back(e.key.Str());
  return keys;
}

// A table as its cell texts see it: a report object whose type is "TTable".
struct TableParent : TRectangle {
  TableParent() { cType = Value("TTable"); }
};

using Rendered = RenderedObject<TText>;

// ---------------------------------------------------------------------------
// Template keys

TEST(TText, SaveAfterInitWritesTheBaseKeysThenTheTextKeysWithTheirDefaults) {
  TText text;
  const Value saved = text.Save();
  ASSERT_EQ(saved.Len(), 80u);
  EXPECT_EQ(saved.AsMap().KeyAt(0), "cId");
  EXPECT_EQ(saved.AsMap().KeyAt(45), "lKx12WrapBefore");
  EXPECT_EQ(saved.Get("cName").Str(), "Texto");
  EXPECT_EQ(saved.Get("cType").Str(), "TText");
  for (const char* side : {"lBorderTop", "lBorderRight", "lBorderBottom", "lBorderLeft"})
    EXPECT_FALSE(saved.Get(side).Bool()) << side;
  EXPECT_EQ(saved.Get("cBackgroundColor").Str(), "#ffffff");

  Value tail = Value::NewMap();
  for (size_t i = 46; i < 80; ++i) tail.Set(saved.AsMap().KeyAt(i), saved.AsMap().ValueAt(i));
  EXPECT_EQ(JsonEncode(tail),
            R"({"cText":"\"Texto\"","cFontFamily":"Arial","nFontSize":12,"cFontSizeFormula":"",)"
            R"("nFontOutPrecision":0,"nFontPitchAndFamily":0,"lFontBold":false,)"
            R"("cFontBoldFormula":"","lFontItalic":false,"cFontItalicFormula":"",)"
            R"("lFontUnderline":false,"cFontUnderlineFormula":"","lFontStrikeout":false,)"
            R"("cFontStrikeoutFormula":"","cTextFitMode":"wrap","lTextWrap":true,)"
            R"("lForceWrap":false,"lAllowPageBreak":false,"nLineSpacing":0,)"
            R"("nParagraphSpacing":0,"lKeepEmptyParagraphs":true,"lTextAdjusted":false,)"
            R"("lTrimSpaces":false,"cTextFlowGroup":"","nTextFlowOrder":0,)"
            R"("nTextFlowLineHeight":0,"cTextColor":"#000000","cTextColorFormula":"",)"
            R"("nTextOpacity":1,"cTextAlign":"left","nTextDecimalPosition":-10,)"
            R"("cTextVerticalAlign":"top","cKx12SourceType":"","cKx12SourceJson":""})");
}

TEST(TText, LoadReadsEachKeyWithItsPrecedenceAndNormalisation) {
  struct Row {
    const char* object;
    const char* key;
    const char* expected;  // the JSON of the saved key
  };
  const Row rows[] = {
      {R"({"cFormula":"  ","cText":"\"A\""})", "cText", R"("\"A\"")"},
      {R"({"cFormula":"VAR.x","cText":"\"A\""})", "cText", R"("VAR.x")"},
      {R"({"cformula":"VAR.x"})", "cText", R"("\"Texto\"")"},
      {R"({"CTEXT":"X1"})", "cText", R"("X1")"},
      {R"({"ctext":"X2"})", "cText", R"("X2")"},
      {R"({"cText":5})", "cText", R"("5")"},
      {R"({"cFontName":"Verdana"})", "cFontFamily", R"("Verdana")"},
      {R"({"cfontfamily":"Tahoma","cFontName":"Verdana"})", "cFontFamily", R"("Tahoma")"},
      {R"({"nFontSize":"14"})", "nFontSize", R"("14")"},
      {R"({"nFontOutPrecision":"3,7"})", "nFontOutPrecision", "3"},
      {R"({"lFontBold":"si","cFontBoldFormula":7})", "lFontBold", "true"},
      {R"({"lFontBold":"si","cFontBoldFormula":7})", "cFontBoldFormula", R"("7")"},
      {R"({"lTextWrap":false})", "cTextFitMode", R"("truncate")"},
      {R"({"lTextWrap":false})", "lTextWrap", "false"},
      {R"({"lTextWrap":"true"})", "cTextFitMode", R"("truncate")"},
      {R"({"lTextWrap":1})", "lTextWrap", "false"},
      {R"({"lTextWrap":true,"cTextFitMode":" Shrink"})", "cTextFitMode", R"("shrink")"},
      {R"({"lTextWrap":true,"cTextFitMode":" Shrink"})", "lTextWrap", "false"},
      {R"({"cTextFitMode":"zoom"})", "cTextFitMode", R"("wrap")"},
      {R"({"lKeepEmptyParagraphs":"no"})", "lKeepEmptyParagraphs", "false"},
      {R"({"nLineSpacing":"1,5"})", "nLineSpacing", "1.5"},
      {R"({"nTextFlowOrder":2.9})", "nTextFlowOrder", "2"},
      {R"({"nTextFlowOrder":-2.9})", "nTextFlowOrder", "-2"},
      {R"({"cTextFlowGroup":" G "})", "cTextFlowGroup", R"(" G ")"},
      {R"({"cTextColor":"#ABC"})", "cTextColor", R"("#aabbcc")"},
      {R"({"cTextColor":"#FFAA00"})", "cTextColor", R"("#ffaa00")"},
      {R"({"cTextColor":"transparent"})", "cTextColor", R"("#000000")"},
      {R"({"cTextColor":"#aabbcc00"})", "cTextColor", R"("#000000")"},
      {R"j({"cTextColor":"rgba(1,2,3, .00)"})j", "cTextColor", R"("#000000")"},
      {R"({"cTextColor":"red"})", "cTextColor", R"("#000000")"},
      {R"({"cTextColor":""})", "cTextColor", R"("#000000")"},
      {R"({"nTextOpacity":"0,5"})", "nTextOpacity", "0.5"},
      {R"({"nTextOpacity":7})", "nTextOpacity", "1.0"},
      {R"({"nTextOpacity":-2})", "nTextOpacity", "0.0"},
      {R"({"nTextOpacity":true})", "nTextOpacity", "1"},
      {R"({"cVerticalAlign":"Middle"})", "cTextVerticalAlign", R"("center")"},
      {R"({"cTextVerticalAlign":"centre","cVerticalAlign":"bottom"})", "cTextVerticalAlign",
       R"("top")"},
      {R"({"CTEXTVERTICALALIGN":" Inferior"})", "cTextVerticalAlign", R"("bottom")"},
      {R"({"cKx12SourceType":"kx"})", "cKx12SourceType", R"("kx")"},
      // Base keys are matched exactly and kept unconverted.
      {R"({"nleft":5,"nTop":"7"})", "nLeft", "0"},
      {R"({"nleft":5,"nTop":"7"})", "nTop", R"("7")"},
  };
  for (const Row& r : rows) {
    TText text;
    text.Load(JsonDecode(r.object));
    EXPECT_EQ(JsonEncode(text.Save().Get(r.key)), r.expected) << r.object << " " << r.key;
  }
}

TEST(TText, LoadLeavesAbsentKeysAndAssignsTheAlwaysAssignedOnes) {
  TText text;
  text.Load(JsonDecode(R"({"cFontSizeFormula":"8","cKx12SourceJson":"j","cTextAlign":"right",
                          "lFontItalic":true,"cFontItalicFormula":"X"})"));
  text.Load(JsonDecode(R"({"cId":"t"})"));
  const Value saved = text.Save();
  // Formula members and the provenance texts are assigned whether present or not.
  EXPECT_EQ(saved.Get("cFontSizeFormula").Str(), "");
  EXPECT_EQ(saved.Get("cFontItalicFormula").Str(), "");
  EXPECT_EQ(saved.Get("cKx12SourceJson").Str(), "");
  // The others keep their values.
  EXPECT_EQ(saved.Get("cTextAlign").Str(), "right");
  EXPECT_TRUE(saved.Get("lFontItalic").Bool());

  // Something other than a map changes nothing but the caches.
  text.uTextFormulaPlan = Value(false);
  text.cTextFormulaPlanSource = "x";
  text.Load(Value("not a map"));
  EXPECT_EQ(text.cTextAlign, "right");
  EXPECT_TRUE(text.uTextFormulaPlan.IsNil());
  EXPECT_EQ(text.cTextFormulaPlanSource, "");
}

TEST(TText, SaveNormalisesTheFitModeOfTheObjectItself) {
  TText text;
  text.cTextFitMode = " CONDENSE ";
  text.lTextWrap = true;
  EXPECT_EQ(text.Save().Get("cTextFitMode").Str(), "condense");
  EXPECT_EQ(text.cTextFitMode, "condense");
  EXPECT_FALSE(text.lTextWrap);
  text.cTextFitMode = "none";
  text.lTextWrap = true;
  text.Save();
  EXPECT_EQ(text.cTextFitMode, "wrap");
  EXPECT_TRUE(text.lTextWrap);
}

// ---------------------------------------------------------------------------
// Rendering

TEST(TText, RendersItsFiftySevenKeysInOrder) {
  Rendered r(R"({"cId":"t1","nLeft":10,"nTop":20,"nWidth":50,"nHeight":8,"nZIndex":3,
               "cText":"'Hola'","cFontFamily":"Verdana","nFontSize":9,"lFontBold":true,
               "cTextAlign":"right","cTextVerticalAlign":"Middle","cTextColor":"#ABC",
               "nTextOpacity":"0,5","lAllowPageBreak":true,"nLineSpacing":1.5,
               "cTextFlowGroup":"g","nTextFlowOrder":2,"nTextFlowLineHeight":4.5,
               "cBackgroundColor":"transparent","nPaddingTop":1.5,"nPaddingLeft":-2,
               "lBorderTop":true,"nRotation":90})");
  const Value map = r.Render();
  ASSERT_TRUE(map.IsMap());
  EXPECT_EQ(Keys(map), kTextKeys);
  EXPECT_EQ(JsonEncode(map),
            R"({"id":"t1","tipo":"texto","x":10,"y":20,"ancho":50,"alto":8,"texto":"Hola",)"
            R"("formula":"'Hola'","formulaError":false,"formulaErrorMessage":"",)"
            R"("fuente":"Verdana","tamano":9,"precisionFuente":0,"familiaPitchFuente":0,)"
            R"("color":"#aabbcc","opacidadTexto":0.5,"alineacion":"right",)"
            R"("posicionDecimal":-10,"alineacionVertical":"center","negrita":true,)"
            R"("cursiva":false,"subrayado":false,"tachado":false,"modoAjusteTexto":"wrap",)"
            R"("ajusteLinea":true,"forzarParticionPalabra":false,"permiteSaltoPagina":true,)"
            R"("interlineado":1.5,"espaciadoParrafo":0,"conservarParrafosVacios":true,)"
            R"("ajustado":false,"optimizarEspacios":false,"grupoFlujoTexto":"g",)"
            R"("ordenFlujoTexto":2,"alturaLineaFlujoTexto":4.5,)"
            R"("alturaSuprimidaFlujoTexto":0,"colorFondo":"transparent",)"
            R"("colorBorde":"#000000","grosorBorde":0.1,"bordeSuperior":true,)"
            R"("bordeDerecho":false,"bordeInferior":false,"bordeIzquierdo":false,)"
            R"("redondeo":0,"rotacionOriginal":90,"rotacion":90,"opacidad":1,)"
            R"("sombraTamano":0,"sombraTransparencia":50,"sombraColor":"#000000",)"
            R"("ordenOriginal":3,"capa":3,"zIndex":3,"paddingSuperior":1.5,)"
            R"("paddingDerecho":0.0,"paddingInferior":0.0,"paddingIzquierdo":0.0})");

  // A later rendering writes the same keys in the same order with its own values.
  r.object.nTop = Value(60);
  r.object.lFontBold = false;
  const Value again = r.Render();
  EXPECT_EQ(Keys(again), kTextKeys);
  EXPECT_EQ(again.Get("y").Int(), 60);
  EXPECT_FALSE(again.Get("negrita").Bool());
  EXPECT_FALSE(again.SameRef(map));
  EXPECT_EQ(map.Get("y").Int(), 20);
}

TEST(TText, ContentComesFromTheFormulaWithItsErrorState) {
  Rendered ok(R"({"cText":"X"})", R"({"X":"abc"})");
  Value map = ok.Render();
  EXPECT_EQ(map.Get("texto").Str(), "abc");
  EXPECT_FALSE(map.Get("formulaError").Bool());
  EXPECT_EQ(map.Get("formulaErrorMessage").Str(), "");

  Rendered number(R"({"cText":"N"})", R"({"N":12})");
  EXPECT_EQ(JsonEncode(number.Render().Get("texto")), R"("12")");

  Rendered bad(R"({"cText":"NOSUCH"})");
  map = bad.Render();
  EXPECT_TRUE(map.Get("formulaError").Bool());
  const std::string message(map.Get("formulaErrorMessage").Str());
  EXPECT_NE(message.find("NOSUCH"), std::string::npos) << message;
  ASSERT_EQ(bad.ctx.Avisos().size(), 1u);
  EXPECT_EQ(bad.ctx.Avisos()[0], "Error de formula: NOSUCH -> " + message);
}

TEST(TText, TheContentPlanIsCompiledOncePerContent) {
  Rendered r(R"({"cText":"X"})", R"({"X":"one"})");
  EXPECT_EQ(r.Render().Get("texto").Str(), "one");
  const Value plan = r.object.uTextFormulaPlan;
  ASSERT_FALSE(plan.IsNil());
  ASSERT_FALSE(plan.IsLogical());
  EXPECT_EQ(r.object.cTextFormulaPlanSource, "X");
  // The same plan serves the next rendering, with the variables of that time.
  r.ctx.contexto->PushVariablesLocales(JsonDecode(R"({"X":"two"})"));
  EXPECT_EQ(r.Render().Get("texto").Str(), "two");
  EXPECT_TRUE(r.object.uTextFormulaPlan.SameRef(plan));

  // A new content gets a new plan.
  r.object.cText = "'fixed'";
  EXPECT_EQ(r.Render().Get("texto").Str(), "fixed");
  EXPECT_FALSE(r.object.uTextFormulaPlan.SameRef(plan));
  EXPECT_EQ(r.object.cTextFormulaPlanSource, "'fixed'");

  // A content that does not compile is remembered as false and interpreted.
  Rendered interpreted(R"({"cText":"X * 2"})", R"({"X":3})");
  EXPECT_EQ(interpreted.Render().Get("texto").Str(), "6");
  EXPECT_TRUE(interpreted.object.uTextFormulaPlan.IsLogical());
  EXPECT_EQ(interpreted.Render().Get("texto").Str(), "6");

  // Load and End drop the plan.
  r.object.Load(JsonDecode("{}"));
  EXPECT_TRUE(r.object.uTextFormulaPlan.IsNil());
  r.Render();
  r.object.End();
  EXPECT_TRUE(r.object.uTextFormulaPlan.IsNil());
  EXPECT_EQ(r.object.cTextFormulaPlanSource, "");
}

TEST(TText, AnInvisibleTextAnswersNothingAndEvaluatesNothing) {
  Rendered hidden(R"({"lVisible":false,"cText":"NOSUCH"})");
  EXPECT_TRUE(hidden.Render().IsNil());
  EXPECT_TRUE(hidden.ctx.Avisos().empty());
  EXPECT_EQ(hidden.ctx.Motivos(), std::vector<std::string>{"visible=false"});
  EXPECT_TRUE(hidden.object.uTextFormulaPlan.IsNil());

  Rendered conditional(R"({"cCondition":"X == 1","cText":"'a'"})", R"({"X":2})");
  EXPECT_TRUE(conditional.Render().IsNil());
}

TEST(TText, TrimmingAndEmptyParagraphs) {
  struct Row {
    const char* object;
    const char* value;  // the content's value
    const char* texto;
    const char* suppressed;  // JSON of "alturaSuprimidaFlujoTexto"
  };
  const Row rows[] = {
      {R"({"lTrimSpaces":true})", "  a  ", "a", "0"},
      {R"({"lTrimSpaces":true})", "\n\t a \t", "a \t", "0"},
      {R"({})", "  a  ", "  a  ", "0"},
      // Blank paragraphs of a flow group give their height back.
      {R"({"lKeepEmptyParagraphs":false,"cTextFlowGroup":"G","nTextFlowLineHeight":4.5,
          "nHeight":20})",
       "a\r\n\r\nb\n", "a\nb", "9.0"},
      {R"({"lKeepEmptyParagraphs":false,"cTextFlowGroup":"G","nTextFlowLineHeight":5,
          "nHeight":20})",
       "a\n\n\n\n\n\n\n\n\n\n", "a", "20"},
      {R"({"lKeepEmptyParagraphs":false,"cTextFlowGroup":" ","nTextFlowLineHeight":2,
          "nHeight":20})",
       "a\r \r\tb", "a\n\tb", "2"},
      {R"({"lKeepEmptyParagraphs":false,"nTextFlowLineHeight":4.5,"nHeight":20})", "a\r\n\r\nb\n",
       "a\nb", "0"},
      {R"({"lKeepEmptyParagraphs":false,"cTextFlowGroup":"G","nTextFlowLineHeight":-3,
          "nHeight":20})",
       "a\r\n\r\nb\n", "a\nb", "0"},
      {R"({"cTextFlowGroup":"G","nTextFlowLineHeight":4.5,"nHeight":20})", "a\r\n\r\nb\n",
       "a\r\n\r\nb\n", "0"},
      {R"({"lKeepEmptyParagraphs":false,"cTextFlowGroup":"G","nTextFlowLineHeight":4,
          "nHeight":20})",
       " \t", "", "4"},
      // A box turned a quarter measures against its width.
      {R"({"lKeepEmptyParagraphs":false,"cTextFlowGroup":"G","nTextFlowLineHeight":4.5,
          "nWidth":7,"nHeight":20,"nRotation":270})",
       "a\n\n\nb", "a\nb", "7"},
      {R"({"lKeepEmptyParagraphs":false,"cTextFlowGroup":"G","nTextFlowLineHeight":4.5,
          "nWidth":7,"nHeight":20,"nRotation":-90})",
       "a\n\n\nb", "a\nb", "7"},
      {R"({"lKeepEmptyParagraphs":false,"cTextFlowGroup":"G","nTextFlowLineHeight":4.5,
          "nWidth":7,"nHeight":20,"nRotation":180})",
       "a\n\n\nb", "a\nb", "9.0"},
  };
  for (const Row& r : rows) {
    Value variables = Value::NewMap();
    variables.Set("X", Value(r.value));
    Value object = JsonDecode(r.object);
    object.Set("cText", Value("X"));
    Rendered rendered(JsonEncode(object), JsonEncode(variables));
    const Value map = rendered.Render();
    EXPECT_EQ(map.Get("texto").Str(), r.texto) << r.object;
    EXPECT_EQ(JsonEncode(map.Get("alturaSuprimidaFlujoTexto")), r.suppressed) << r.object;
  }
}

// Dropping blank paragraphs cuts the text at every line end, CR LF and lone
// CR alike, in a text of its own and in a table cell.
TEST(TText, LineEndsBecomeLineFeedsWhenBlankParagraphsAreDropped) {
  struct Row {
    const char* object;
    const char* value;
    const char* texto;
  };
  const Row rows[] = {
      {R"({"lKeepEmptyParagraphs":false})", "a\rb", "a\nb"},
      {R"({"lKeepEmptyParagraphs":false})", "a\r\nb\rc", "a\nb\nc"},
      {R"({"lKeepEmptyParagraphs":false})", "a\r\rb\r", "a\nb"},
      {R"({"lKeepEmptyParagraphs":false})", "a\nb", "a\nb"},
      {R"({"lKeepEmptyParagraphs":true})", "a\rb", "a\rb"},
  };
  TableParent table;
  for (const Row& r : rows) {
    Value object = JsonDecode(r.object);
    object.Set("cText", Value("X"));
    const std::string variables = JsonEncode(Value::NewMap({{"X", r.value}}));
    Rendered asObject(JsonEncode(object), variables);
    Rendered asCell(JsonEncode(object), variables, &table);
    EXPECT_EQ(asObject.Render().Get("texto").Str(), r.texto) << r.object << " " << r.value;
    EXPECT_EQ(asCell.Render().Get("texto").Str(), r.texto) << r.object << " " << r.value;
  }
}

TEST(TText, StyleFormulas) {
  struct Row {
    const char* object;
    const char* key;
    const char* expected;
    size_t warnings;
  };
  const Row rows[] = {
      {R"({"cFontSizeFormula":"0"})", "tamano", "1", 0},
      {R"({"cFontSizeFormula":"-3"})", "tamano", "1", 0},
      {R"({"cFontSizeFormula":"'abc'"})", "tamano", "1", 0},
      {R"({"cFontSizeFormula":"'14,5'"})", "tamano", "14.5", 0},
      {R"({"cFontSizeFormula":" ","nFontSize":"14"})", "tamano", R"("14")", 0},
      {R"({"cFontBoldFormula":"'si'"})", "negrita", "true", 0},
      {R"({"lFontItalic":true,"cFontItalicFormula":"'no'"})", "cursiva", "false", 0},
      {R"({"lFontUnderline":true,"cFontUnderlineFormula":"  "})", "subrayado", "true", 0},
      {R"({"cFontStrikeoutFormula":"1"})", "tachado", "true", 0},
      {R"({"cTextColor":"#ABC","cTextColorFormula":"'transparent'"})", "color", R"("#aabbcc")", 1},
      {R"({"cTextColorFormula":"' #FFAA00 '"})", "color", R"("#ffaa00")", 0},
      {R"({"cBackgroundColorFormula":"'transparent'"})", "colorFondo", R"("transparent")", 0},
      {R"({"cBackgroundColor":"red"})", "colorFondo", R"("red")", 0},
      {R"({"cBorderColorFormula":"'nada'","cBorderColor":"azul"})", "colorBorde", R"("azul")", 1},
  };
  for (const Row& r : rows) {
    Rendered rendered(r.object);
    EXPECT_EQ(JsonEncode(rendered.Render().Get(r.key)), r.expected) << r.object;
    EXPECT_EQ(rendered.ctx.Avisos().size(), r.warnings) << r.object;
  }
}

TEST(TText, ColoursAreEvaluatedInTheirFixedOrder) {
  Rendered r(R"({"cId":"t","cTextColorFormula":"'c1'","cBackgroundColorFormula":"'c2'",
               "cBorderColorFormula":"'c3'","cShadowColorFormula":"'c4'"})");
  r.Render();
  EXPECT_EQ(r.ctx.Avisos(),
            (std::vector<std::string>{"Color no valido en t: 'c1'", "Color no valido en t: 'c2'",
                                      "Color no valido en t: 'c3'", "Color no valido en t: 'c4'"}));
}

// ---------------------------------------------------------------------------
// Table cells

TEST(TText, ACellTextRendersFromItsPrototypeWithTheErrorKeysLast) {
  TableParent table;
  const char* cell = R"({"cText":"X","cFontFamily":"Tahoma","cTextColor":"#ABC",
                        "cBackgroundColor":"#EEEEEE","nPaddingTop":1,"lFontBold":true})";
  Rendered asCell(cell, R"({"X":"v"})", &table);
  Rendered asObject(cell, R"({"X":"v"})");
  for (Rendered* r : {&asCell, &asObject}) {
    r->object.cId = Value("T1_detail_r4_0_1_text");
    r->object.nLeft = Value(12.5);
    r->object.nTop = Value(30);
    r->object.nWidth = Value(20);
    r->object.nHeight = Value(6);
    r->object.nZIndex = Value(2.03);
  }
  const Value cellMap = asCell.Render();
  const Value objectMap = asObject.Render();

  std::vector<std::string> prototypeOrder(kTextKeys.begin(), kTextKeys.begin() + 8);
  prototypeOrder.insert(prototypeOrder.end(), kTextKeys.begin() + 10, kTextKeys.end());
  prototypeOrder.push_back("formulaError");
  prototypeOrder.push_back("formulaErrorMessage");
  EXPECT_EQ(Keys(cellMap), prototypeOrder);
  EXPECT_EQ(Keys(objectMap), kTextKeys);
  // Only the order differs.
  for (const std::string& key : kTextKeys)
    EXPECT_EQ(ExprText(cellMap.Get(key)), ExprText(objectMap.Get(key))) << key;
  EXPECT_TRUE(asCell.object.hStaticRenderPrototype.IsMap());
  EXPECT_TRUE(asObject.object.hStaticRenderPrototype.IsNil());
}

TEST(TText, TwoCellRenderingsDifferOnlyInTheRefreshedKeys) {
  TableParent table;
  Rendered r(R"({"cText":"X","cTextFlowGroup":"g","lKeepEmptyParagraphs":false,
               "nTextFlowLineHeight":2})",
             R"({"X":"first"})", &table);
  r.object.cId = Value("a");
  r.object.nLeft = Value(1);
  r.object.nTop = Value(2);
  r.object.nWidth = Value(3);
  r.object.nHeight = Value(40);
  r.object.nZIndex = Value(1.03);
  const Value first = r.Render();
  const Value prototype = r.object.hStaticRenderPrototype;

  r.ctx.contexto->PushVariablesLocales(JsonDecode(R"({"X":"second\n\n"})"));
  r.object.cId = Value("b");
  r.object.nLeft = Value(11);
  r.object.nTop = Value(12);
  r.object.nWidth = Value(13);
  r.object.nHeight = Value(14);
  r.object.nZIndex = Value(2.03);
  r.object.nLayerId = Value(3);
  // Kept from the time the prototype was built: a table changes only positions.
  r.object.cFontFamily = "Courier";
  Value second = r.Render();
  EXPECT_TRUE(r.object.hStaticRenderPrototype.SameRef(prototype));

  const std::vector<std::string> refreshed = {
      "id",   "x",     "y", "ancho", "alto", "texto", "alturaSuprimidaFlujoTexto", "ordenOriginal",
      "capa", "zIndex"};
  EXPECT_EQ(Keys(first), Keys(second));
  for (const std::string& key : Keys(first)) {
    const bool changes = std::find(refreshed.begin(), refreshed.end(), key) != refreshed.end();
    EXPECT_EQ(ExprText(first.Get(key)) != ExprText(second.Get(key)), changes) << key;
  }
  EXPECT_EQ(JsonEncode(second.Get("texto")), R"("second")");
  EXPECT_EQ(JsonEncode(second.Get("alturaSuprimidaFlujoTexto")), "4");
  EXPECT_EQ(second.Get("fuente").Str(), "Arial");

  // Each rendering is a copy: changing one leaves the next alone.
  second.Set("fuente", Value("changed"));
  EXPECT_EQ(r.Render().Get("fuente").Str(), "Arial");

  // A new content is rendered with its own formula text.
  r.object.cText = "'k'";
  const Value third = r.Render();
  EXPECT_EQ(third.Get("formula").Str(), "'k'");
  EXPECT_EQ(third.Get("texto").Str(), "k");

  // Load drops the prototype, so the new font shows.
  r.object.Load(JsonDecode(R"({"cFontFamily":"Courier"})"));
  EXPECT_TRUE(r.object.hStaticRenderPrototype.IsNil());
  EXPECT_EQ(r.Render().Get("fuente").Str(), "Courier");
}

TEST(TText, ACellPrototypeWhoseKeysChangedIsRefreshedByName) {
  TableParent table;
  Rendered r(R"({"cText":"X"})", R"({"X":"first"})", &table);
  r.object.cId = Value("a");
  r.Render();
  // Keys removed from the prototype move every later key out of its place.
  Map& prototype = r.object.hStaticRenderPrototype.AsMap();
  prototype.Remove("tipo");
  prototype.Remove("fuente");

  r.ctx.contexto->PushVariablesLocales(JsonDecode(R"({"X":"second"})"));
  r.object.cId = Value("b");
  r.object.nLeft = Value(11);
  r.object.nZIndex = Value(2.03);
  const Value second = r.Render();
  EXPECT_FALSE(second.AsMap().Has("tipo"));
  EXPECT_FALSE(second.AsMap().Has("fuente"));
  EXPECT_EQ(second.AsMap().size(), prototype.size());
  EXPECT_EQ(JsonEncode(second.Get("id")), R"("b")");
  EXPECT_EQ(JsonEncode(second.Get("x")), "11");
  EXPECT_EQ(JsonEncode(second.Get("texto")), R"("second")");
  EXPECT_EQ(JsonEncode(second.Get("zIndex")), "2.03");
  EXPECT_EQ(JsonEncode(second.Get("formulaError")), "false");
  EXPECT_EQ(Keys(second).back(), "formulaErrorMessage");
}

TEST(TText, ACellTextWithAStyleFormulaRendersDynamically) {
  TableParent table;
  for (const char* formula :
       {"cTextColorFormula", "cFontSizeFormula", "cBackgroundColorFormula", "cBorderColorFormula",
        "cShadowColorFormula", "cFontBoldFormula", "cFontItalicFormula", "cFontUnderlineFormula",
        "cFontStrikeoutFormula"}) {
    Value object = JsonDecode(R"({"cText":"'a'"})");
    object.Set(formula, Value("'1'"));
    Rendered r(JsonEncode(object), "{}", &table);
    const Value map = r.Render();
    EXPECT_EQ(map.AsMap().KeyAt(8), "formulaError") << formula;
    EXPECT_TRUE(r.object.hStaticRenderPrototype.IsNil()) << formula;
  }
}

TEST(TText, ACellTextReportsItsFormulaErrorInThePrototypeOrder) {
  TableParent table;
  Rendered r(R"({"cText":"NOSUCH"})", "{}", &table);
  const Value map = r.Render();
  ASSERT_EQ(map.Len(), 57u);
  EXPECT_EQ(map.AsMap().KeyAt(55), "formulaError");
  EXPECT_TRUE(map.AsMap().ValueAt(55).Bool());
  EXPECT_EQ(map.AsMap().KeyAt(56), "formulaErrorMessage");
  EXPECT_FALSE(map.AsMap().ValueAt(56).Str().empty());
  EXPECT_EQ(r.ctx.Avisos().size(), 1u);
}

// ---------------------------------------------------------------------------
// Collaboration with the document and the pagination

TEST(TText, TheFactoryMakesTextsWithTheDocumentAsParent) {
  TDocument doc;
  doc.Load(JsonDecode(R"({"aObjects":[{"cType":"TText","cId":"a","cText":"'x'"},
                                       {"cType":"TFormattedText","cId":"b"}]})"));
  ASSERT_EQ(doc.aObjects.size(), 2u);
  EXPECT_EQ(doc.aObjects[0]->ClassName(), "TText");
  EXPECT_EQ(doc.aObjects[1]->ClassName(), "TFormattedText");
  EXPECT_EQ(doc.aObjects[0]->oParent, &doc);
  EXPECT_EQ(dynamic_cast<TText&>(*doc.aObjects[0]).cText, "'x'");
  EXPECT_EQ(doc.aObjects[1]->cType.Str(), "TFormattedText");
}

TEST(TText, ABreakableTextIsSplitOverPagesByThePagination) {
  // Size 10 gives lines of 3.53 mm: a box 8 mm high holds two.
  Rendered r(R"({"cId":"t","nLeft":5,"nTop":10,"nWidth":80,"nHeight":8,"nFontSize":10,
               "lAllowPageBreak":true,"cText":"X"})",
             R"({"X":"l1\nl2\nl3\nl4\nl5"})");
  Value objects = Value::NewList({r.Render()});
  TMotorPaginacion paginacion;
  paginacion.Create();
  Ref<TDocumentoRenderizable> doc =
      paginacion.Paginar(JsonDecode(R"({"ancho":210,"alto":297})"), objects);
  ASSERT_EQ(doc->TotalPaginas(), 3);
  const char* textos[] = {"l1\nl2", "l3\nl4", "l5"};
  const char* ids[] = {"t", "t__page_2", "t__page_3"};
  for (int page = 1; page <= 3; ++page) {
    const Value objetos = doc->GetPagina(Value(page)).Get("objetos");
    ASSERT_EQ(objetos.Len(), 1u) << page;
    const Value& fragment = objetos.AsList()[0];
    EXPECT_EQ(fragment.Get("texto").Str(), textos[page - 1]);
    EXPECT_EQ(fragment.Get("id").Str(), ids[page - 1]);
    EXPECT_EQ(fragment.Get("nPaginaContinuacion").Int(), page);
    EXPECT_EQ(fragment.Get("y").Int(), 10);
  }

  // Without the flag the text stays whole on one page.
  r.object.lAllowPageBreak = false;
  doc = paginacion.Paginar(JsonDecode(R"({"ancho":210,"alto":297})"), Value::NewList({r.Render()}));
  EXPECT_EQ(doc->TotalPaginas(), 1);
  paginacion.End();
}

}  // namespace
}  // namespace kx
