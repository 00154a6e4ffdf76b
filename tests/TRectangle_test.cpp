#include "TRectangle.h"

#include <gtest/gtest.h>

#include "Json.h"
#include "ObjectTestContext.h"
#include "TDocument.h"

namespace kx {
namespace {

Ref<TDocument> Loaded(std::string_view json) {
  auto doc = MakeRef<TDocument>();
  doc->Create();
  doc->Load(JsonDecode(json));
  return doc;
}

TEST(TRectangle, BareRectangleRendersTheBaseDefaultsInOrder) {
  auto doc = Loaded(R"({"aObjects":[{"cType":"TLine"},{"cType":"TRectangle"}]})");
  ObjectTestContext ctx;
  const Value rendered = doc->aObjects[1]->GenerarRenderizable(*ctx.contexto);
  EXPECT_EQ(JsonEncode(rendered),
            R"({"id":"","tipo":"rectangulo","x":0,"y":0,"ancho":0,"alto":0,)"
            R"("colorBorde":"#000000","grosorBorde":0.1,"bordeSuperior":true,)"
            R"("bordeDerecho":true,"bordeInferior":true,"bordeIzquierdo":true,)"
            R"("colorFondo":"#ffffff","estiloRelleno":"solid","patronRelleno":1,)"
            R"("colorRelleno2":"#ffffff","colorRelleno3":"#ffffff","opacidadRelleno":1,)"
            R"("factorGradienteRelleno":50,"redondeo":0,"rotacionOriginal":0,"rotacion":0,)"
            R"("opacidad":1,"sombraTamano":0,"sombraTransparencia":50,"sombraColor":"#000000",)"
            R"("ordenOriginal":2,"capa":2,"zIndex":2})");
  EXPECT_TRUE(ctx.Avisos().empty());
}

TEST(TRectangle, StoredValuesPassThroughUnchanged) {
  auto doc = Loaded(R"({"aObjects":[{"cType":"TRectangle","cId":"r","nLeft":"10,5","nWidth":40,
      "cBorderColor":"#FFAA00","cBackgroundColor":"red","nRotation":90,"nRounded":3,
      "cFillStyle":"gradient","lBorderTop":"no","nLayerId":2}]})");
  ObjectTestContext ctx;
  const Value r = doc->aObjects[0]->GenerarRenderizable(*ctx.contexto);
  EXPECT_EQ(r.Get("x").Str(), "10,5");
  EXPECT_EQ(r.Get("ancho").Int(), 40);
  EXPECT_EQ(r.Get("colorBorde").Str(), "#FFAA00");
  EXPECT_EQ(r.Get("colorFondo").Str(), "red");
  EXPECT_EQ(r.Get("rotacion").Int(), 90);
  EXPECT_EQ(r.Get("rotacionOriginal").Int(), 90);
  EXPECT_EQ(r.Get("redondeo").Int(), 3);
  EXPECT_EQ(r.Get("estiloRelleno").Str(), "gradient");
  EXPECT_EQ(r.Get("bordeSuperior").Str(), "no");
  EXPECT_EQ(r.Get("capa").Int(), 1);  // the stacking order, not the layer
}

TEST(TRectangle, ColourFormulasAreLenientAndWarnInTheirOrder) {
  auto doc = Loaded(R"({"aObjects":[{"cType":"TRectangle","cId":"R",
      "cShadowColorFormula":"BAD5","cBorderColorFormula":"BAD4","cFillColor3Formula":"BAD3",
      "cFillColor2Formula":"BAD2","cBackgroundColorFormula":"BAD1","cFillColor2":"verde"}]})");
  ObjectTestContext ctx;
  const Value r = doc->aObjects[0]->GenerarRenderizable(*ctx.contexto);
  EXPECT_EQ(r.Get("colorRelleno2").Str(), "verde");
  EXPECT_EQ(ctx.Avisos(),
            (std::vector<std::string>{"Color no valido en R: BAD1", "Color no valido en R: BAD2",
                                      "Color no valido en R: BAD3", "Color no valido en R: BAD4",
                                      "Color no valido en R: BAD5"}));

  auto transparent = Loaded(R"({"aObjects":[{"cType":"TRectangle",
      "cBorderColorFormula":"'TRANSPARENT'","cBackgroundColorFormula":"'#0A0B0C'"}]})");
  ObjectTestContext ctx2;
  const Value t = transparent->aObjects[0]->GenerarRenderizable(*ctx2.contexto);
  EXPECT_EQ(t.Get("colorBorde").Str(), "transparent");
  EXPECT_EQ(t.Get("colorFondo").Str(), "#0a0b0c");
  EXPECT_TRUE(ctx2.Avisos().empty());
}

TEST(TRectangle, HiddenRectangleRendersNothing) {
  auto doc = Loaded(R"({"aObjects":[{"cType":"TRectangle","cCondition":"1 > 2"}]})");
  ObjectTestContext ctx;
  EXPECT_TRUE(doc->aObjects[0]->GenerarRenderizable(*ctx.contexto).IsNil());
  EXPECT_EQ(ctx.Motivos(), std::vector<std::string>{"condicion falsa"});
}

}  // namespace
}  // namespace kx
