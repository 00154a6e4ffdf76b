#include "TBarcode.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "BarcodeTestSupport.h"
#include "Json.h"
#include "ObjectTestContext.h"
#include "TBarcodeUtil.h"
#include "TDocument.h"
#include "TTable.h"

namespace kx {
namespace {

using testing::Keys;

// The keys every barcode renderable carries after its descriptor's.
const std::vector<std::string> kObjectKeys = {"id",
                                              "formula",
                                              "formulaError",
                                              "formulaErrorMessage",
                                              "x",
                                              "y",
                                              "ancho",
                                              "alto",
                                              "color",
                                              "colorFondo",
                                              "mostrarTexto",
                                              "optimizarEspacios",
                                              "fuente",
                                              "tamano",
                                              "negrita",
                                              "cursiva",
                                              "subrayado",
                                              "tachado",
                                              "rotacion",
                                              "opacidad",
                                              "zIndex",
                                              "paddingSuperior",
                                              "paddingDerecho",
                                              "paddingInferior",
                                              "paddingIzquierdo"};

std::vector<std::string> Concat(std::vector<std::string> head, const std::vector<std::string>& tail,
                                std::string_view skip = "") {
  for (const std::string& k : tail)
    if (k != skip) head.push_back(k);
  return head;
}

using Rendered = RenderedObject<TKXBarcode>;

// Renders a barcode loaded from the JSON, with the given local variables in reach of its formulas.
Value Render(std::string_view json, const Value& variables = Value::NewMap()) {
  return Rendered(json, JsonEncode(variables)).Render();
}

TEST(TKXBarcode, DefaultsSaveAndLoad) {
  TKXBarcode barcode;
  const Value saved = barcode.Save();
  const std::vector<std::string> keys = Keys(saved);
  ASSERT_EQ(keys.size(), 46u + 17u);
  EXPECT_EQ(std::vector<std::string>(keys.begin() + 46, keys.end()),
            (std::vector<std::string>{
                "cContent", "cBarcodeType", "lShowText", "lTrimSpaces", "cColor", "cColorFormula",
                "cFontFamily", "nFontSize", "cFontSizeFormula", "lFontBold", "cFontBoldFormula",
                "lFontItalic", "cFontItalicFormula", "lFontUnderline", "cFontUnderlineFormula",
                "lFontStrikeout", "cFontStrikeoutFormula"}));
  EXPECT_EQ(saved.Get("cName").Str(), "Código de barras");
  EXPECT_EQ(saved.Get("cType").Str(), "TBarcode");
  EXPECT_EQ(saved.Get("cContent").Str(), "\"123456789012\"");
  EXPECT_FALSE(saved.Get("lBorderTop").Bool());

  // Logicals are converted, formulas read as text and always assigned, the font name read only
  // when the family is absent; "cFontName" is never written.
  barcode.Load(JsonDecode(
      R"({"lShowText":"no","cFontBoldFormula":"x","cFontName":"Courier","nFontSize":"9"})"));
  barcode.Load(JsonDecode(R"({"lTrimSpaces":1,"cFontSizeFormula":12})"));
  const Value again = barcode.Save();
  EXPECT_FALSE(again.Get("lShowText").Bool());
  EXPECT_TRUE(again.Get("lTrimSpaces").Bool());
  EXPECT_EQ(again.Get("cFontBoldFormula").Str(), "");
  EXPECT_EQ(again.Get("cFontSizeFormula").Str(), "12");
  EXPECT_EQ(again.Get("cFontFamily").Str(), "Courier");
  EXPECT_EQ(again.Get("nFontSize").Str(), "9");
  EXPECT_FALSE(again.Has("cFontName"));
  barcode.Load(JsonDecode(R"({"cFontName":"Courier","cFontFamily":"Verdana"})"));
  EXPECT_EQ(barcode.Save().Get("cFontFamily").Str(), "Verdana");
}

TEST(TKXBarcode, BareTemplateRendersTheDefaultEan13) {
  const Value r = Render(R"({"cType":"TBarcode"})");
  EXPECT_EQ(Keys(r), Concat({"tipo", "barcodeTipo", "texto", "bits", "margenIzquierdoModulos",
                             "margenDerechoModulos", "mostrarTexto"},
                            kObjectKeys, "mostrarTexto"));
  EXPECT_EQ(r.Get("tipo").Str(), "barcode");
  EXPECT_EQ(r.Get("barcodeTipo").Str(), "EAN13");
  EXPECT_EQ(r.Get("texto").Str(), "1234567890128");
  EXPECT_EQ(r.Get("margenIzquierdoModulos").Int(), 11);
  EXPECT_EQ(r.Get("formula").Str(), "\"123456789012\"");
  EXPECT_EQ(JsonEncode(Value::NewList({r.Get("x"), r.Get("y"), r.Get("ancho"), r.Get("alto")})),
            "[0,0,0,0]");
  EXPECT_EQ(r.Get("color").Str(), "#000000");
  EXPECT_EQ(r.Get("colorFondo").Str(), "#ffffff");
  EXPECT_EQ(r.Get("fuente").Str(), "Arial");
  EXPECT_EQ(r.Get("tamano").Int(), 12);
  for (const char* k : {"formulaError", "negrita", "cursiva", "subrayado", "tachado"})
    EXPECT_FALSE(r.Get(k).Bool()) << k;
  EXPECT_TRUE(r.Get("mostrarTexto").Bool());
  EXPECT_EQ(r.Get("formulaErrorMessage").Str(), "");

  const Value hidden = Render(R"({"lShowText":false})");
  EXPECT_EQ(hidden.AsMap().KeyAt(6), "mostrarTexto");
  EXPECT_FALSE(hidden.Get("mostrarTexto").Bool());
}

TEST(TKXBarcode, KeyOrderOfEachDescriptorForm) {
  struct Case {
    const char* json;
    Value variables;
    std::vector<std::string> head;  // the descriptor's keys, before the object's
  };
  const Value shortError =
      Value::NewMap({{"tipo", "barcode"}, {"error", "Funcion Barcode no valida"}});
  const Case cases[] = {
      {R"({"cContent":"'abc'","cBarcodeType":"QR"})",
       Value::NewMap(),
       {"tipo", "barcodeTipo", "texto", "matriz", "margenModulos", "mostrarTexto"}},
      {R"({"cContent":"'12'"})", Value::NewMap(), {"tipo", "barcodeTipo", "texto", "error"}},
      {R"({"cContent":"D"})", Value::NewMap({{"D", shortError}}), {"tipo", "error"}},
  };
  for (const Case& c : cases) {
    const Value r = Render(c.json, c.variables);
    const bool hasShowText = c.head.back() == "mostrarTexto";
    const std::vector<std::string> expected =
        Concat(c.head, kObjectKeys, hasShowText ? "mostrarTexto" : "");
    EXPECT_EQ(Keys(r), expected) << c.json;
  }
  EXPECT_EQ(Render(R"({"cContent":"'abc'","cBarcodeType":"QR"})").Len(), 30u);
  EXPECT_EQ(Render(R"({"cContent":"'12'"})").Len(), 29u);
  EXPECT_EQ(Render(R"({"cContent":"D"})", Value::NewMap({{"D", shortError}})).Len(), 27u);
}

TEST(TKXBarcode, ReadyDescriptors) {
  const TBarcodeUtil util;
  const Value qr = util.Crear(Value("hola"), Value("QR"));
  const Value code128 = util.Crear(Value("1234"), Value("CODE128"));
  auto map = [](std::string_view json) { return JsonDecode(json); };
  struct Case {
    const char* label;
    Value descriptor;
    Value expected;  // the descriptor the object draws
  };
  const Case cases[] = {
      // A whole descriptor wins over the object's type.
      {"qr", qr, qr},
      {"error", map(R"({"tipo":"barcode","barcodeTipo":"","texto":"","error":"x"})"),
       map(R"({"tipo":"barcode","barcodeTipo":"","texto":"","error":"x"})")},
      // Without a pattern: its text, in its own type or else the object's.
      {"no pattern", map(R"({"tipo":"barcode","texto":"1234"})"),
       util.Crear(Value("1234"), Value("EAN13"))},
      {"no pattern, own type", map(R"({"tipo":"barcode","texto":"1234","barcodeTipo":"CODE128"})"),
       code128},
      // A pattern that cannot be drawn as it stands is made again from its text and type.
      {"bits not binary",
       map(R"({"tipo":"barcode","barcodeTipo":"CODE128","texto":"1234","bits":"1021",
               "margenIzquierdoModulos":10,"margenDerechoModulos":10})"),
       code128},
      {"bits not text", map(R"({"tipo":"barcode","barcodeTipo":"CODE128","texto":"1234","bits":101,
               "margenIzquierdoModulos":10,"margenDerechoModulos":10})"),
       code128},
      {"negative margin",
       map(R"({"tipo":"barcode","barcodeTipo":"CODE128","texto":"1234","bits":"101",
               "margenIzquierdoModulos":-1,"margenDerechoModulos":10})"),
       code128},
      // A drawable pattern is drawn as the host built it, with its quiet zones or without.
      {"margin missing",
       map(R"({"tipo":"barcode","barcodeTipo":"CODE128","texto":"1234","bits":"101",
               "margenIzquierdoModulos":10})"),
       map(R"({"tipo":"barcode","barcodeTipo":"CODE128","texto":"1234","bits":"101",
               "margenIzquierdoModulos":10})")},
      {"no margins", map(R"({"tipo":"barcode","barcodeTipo":"CODE128","bits":"1011","texto":"X"})"),
       map(R"({"tipo":"barcode","barcodeTipo":"CODE128","bits":"1011","texto":"X"})")},
      {"matrix without margin",
       map(R"({"tipo":"barcode","barcodeTipo":"QR","texto":"hola","matriz":["10","01"]})"),
       map(R"({"tipo":"barcode","barcodeTipo":"QR","texto":"hola","matriz":["10","01"]})")},
      {"rows of unequal length",
       map(R"({"tipo":"barcode","barcodeTipo":"QR","texto":"hola","matriz":["101","10"],
               "margenModulos":4})"),
       qr},
      {"row not binary",
       map(R"({"tipo":"barcode","barcodeTipo":"QR","texto":"hola","matriz":["101","1x1"],
               "margenModulos":4})"),
       qr},
      {"no rows",
       map(R"({"tipo":"barcode","barcodeTipo":"QR","texto":"hola","matriz":[],"margenModulos":4})"),
       qr},
      {"margin a text",
       map(R"({"tipo":"barcode","barcodeTipo":"QR","texto":"hola","matriz":["11","11"],
               "margenModulos":"4"})"),
       qr},
      // A small but well-formed pattern is drawn as it stands.
      {"small pattern",
       map(R"({"tipo":"barcode","barcodeTipo":"QR","texto":"hola","matriz":["10","01"],
               "margenModulos":0})"),
       map(R"({"tipo":"barcode","barcodeTipo":"QR","texto":"hola","matriz":["10","01"],
               "margenModulos":0})")},
      // Not a descriptor: "tipo" is not the text "barcode"; a map reads as no content.
      {"tipo not text", map(R"({"tipo":1,"texto":"1234"})"), util.Crear(Value(""), Value("EAN13"))},
  };
  for (const Case& c : cases) {
    const Value r = Render(R"({"cContent":"D"})", Value::NewMap({{"D", c.descriptor}}));
    for (const Map::Entry& e : c.expected.AsMap())
      EXPECT_EQ(JsonEncode(r.Get(e.key.Str())), JsonEncode(e.value))
          << c.label << " " << e.key.Str();
    EXPECT_EQ(r.Has("error"), c.expected.Has("error")) << c.label;
    EXPECT_EQ(r.Has("bits"), c.expected.Has("bits")) << c.label;
  }
}

TEST(TKXBarcode, TrimSpaces) {
  const char* spaced = R"({"cContent":"' 1234 '","cBarcodeType":"CODE128","lTrimSpaces":)";
  EXPECT_EQ(Render(std::string(spaced) + "true}").Get("texto").Str(), "1234");
  EXPECT_EQ(Render(std::string(spaced) + "false}").Get("texto").Str(), " 1234 ");
  EXPECT_TRUE(Render(std::string(spaced) + "true}").Get("optimizarEspacios").Bool());

  // A ready descriptor keeps its pattern: only its text is trimmed.
  const Value ready = TBarcodeUtil().Crear(Value(" 1234 "), Value("CODE128"));
  const Value r = Render(R"({"cContent":"D","lTrimSpaces":true})", Value::NewMap({{"D", ready}}));
  EXPECT_EQ(r.Get("texto").Str(), "1234");
  EXPECT_EQ(r.Get("bits").Str(), ready.Get("bits").Str());
  EXPECT_EQ(ready.Get("texto").Str(), " 1234 ");  // the formula's value is not changed
}

TEST(TKXBarcode, FormulaErrorsAndStyleFormulas) {
  // A failing content formula is flagged and its error text encoded.
  const Value code = Render(R"({"cContent":"NoSuchVar","cBarcodeType":"CODE128"})");
  EXPECT_TRUE(code.Get("formulaError").Bool());
  EXPECT_FALSE(code.Get("formulaErrorMessage").Str().empty());
  EXPECT_EQ(code.Get("texto").Str().front(), '[');
  EXPECT_FALSE(code.Has("error"));
  const Value ean = Render(R"({"cContent":"NoSuchVar"})");
  EXPECT_EQ(ean.Get("error").Str(), "EAN-13 debe contener 12 o 13 digitos.");

  for (const char* size : {"0", "-5", "'abc'"})
    EXPECT_EQ(Render(std::string(R"({"cFontSizeFormula":")") + size + "\"}").Get("tamano").Int(), 1)
        << size;
  const Value styled = Render(
      R"({"cFontSizeFormula":"14","cFontBoldFormula":"'si'","lFontItalic":true,
          "cFontItalicFormula":"  ","cFontUnderlineFormula":"0","lFontUnderline":true})");
  EXPECT_EQ(styled.Get("tamano").Int(), 14);
  EXPECT_TRUE(styled.Get("negrita").Bool());
  EXPECT_TRUE(styled.Get("cursiva").Bool());  // a blank formula keeps the flag
  EXPECT_FALSE(styled.Get("subrayado").Bool());

  Rendered coloured(
      R"({"cId":"b1","cColor":"#ABCDEF","cColorFormula":"'green'","cBackgroundColor":"red"})");
  const Value colours = coloured.Render();
  EXPECT_EQ(colours.Get("color").Str(), "#abcdef");
  EXPECT_EQ(colours.Get("colorFondo").Str(), "red");
  EXPECT_EQ(coloured.ctx.Avisos(), std::vector<std::string>{"Color no valido en b1: 'green'"});
  EXPECT_EQ(Render(R"({"cColor":"transparent"})").Get("color").Str(), "#000000");
}

TEST(TKXBarcode, InvisibleObjectRendersNothing) {
  Rendered hidden(R"({"lVisible":false})");
  EXPECT_TRUE(hidden.Render().IsNil());
  EXPECT_EQ(hidden.ctx.Motivos(), std::vector<std::string>{"visible=false"});
}

TEST(TKXBarcode, DescriptorFromTheFormulaFunctionWins) {
  // The object asks for EAN-13, the formula answers a QR descriptor: the QR is drawn.
  const Value out = Render(R"j({"cContent":"Barcode('abc', 'QR')","cBarcodeType":"EAN13"})j");
  EXPECT_EQ(out.Get("barcodeTipo").Str(), "QR");
  EXPECT_EQ(JsonEncode(out.Get("matriz")),
            JsonEncode(TBarcodeUtil().Crear(Value("abc"), Value("QR")).Get("matriz")));
  const Value missing = Render(R"j({"cContent":"Barcode('abc')"})j");
  EXPECT_EQ(missing.Get("error").Str(), "Funcion Barcode no valida");
}

TEST(TKXBarcode, DocumentAndTableMakeBarcodes) {
  TDocument document;
  Ref<TObjectBase> object = document.CreateObjectFromData(JsonDecode(R"({"cType":"TBarcode"})"));
  ASSERT_TRUE(object);
  EXPECT_EQ(object->ClassName(), "TKXBarcode");

  auto table = MakeRef<TTable>();
  table->Load(JsonDecode(R"({"cId":"T1","nWidth":100,"nHeight":500,"hSections":{
      "detail":{"aLines":[{"nHeight":20,"aCells":[{"nWidth":60,"hContent":{"cType":"TBarcode",
        "hObject":{"cContent":"L.codigo","cBarcodeType":"QR"}}}]}]}}})"));
  table->Create();
  Value registros = Value::NewList();
  for (int i = 0; i < 3; ++i)
    registros.Push(Value::NewMap({{"L.codigo", "ART-" + std::to_string(i)}}));
  ObjectTestContext ctx(Value::NewMap({{"aRegistrosDetalleRuntime", registros},
                                       {"lRegistrosDetalleGlobalRuntime", true},
                                       {"nRegistroBase", 0},
                                       {"nTotalRegistrosRuntime", 3}}));
  const Value out = table->GenerarRenderizable(*ctx.contexto);
  std::vector<std::string> textos;
  for (const Value& o : out.AsList()) {
    if (o.Get("tipo").Str() != "barcode") continue;
    textos.emplace_back(o.Get("texto").Str());
    EXPECT_EQ(o.Get("barcodeTipo").Str(), "QR");
    EXPECT_EQ(JsonEncode(o.Get("ancho")), "60");
  }
  EXPECT_EQ(textos, (std::vector<std::string>{"ART-0", "ART-1", "ART-2"}));
  bool found = false;
  for (const Value& o : out.AsList()) found |= o.Get("id").Str() == "T1_detail_r1_0_0_barcode";
  EXPECT_TRUE(found);
}

}  // namespace
}  // namespace kx
