#include "TImage.h"

#include <gtest/gtest.h>

#include <string>

#include "Json.h"
#include "ObjectTestContext.h"
#include "TDocument.h"
#include "TImageCache.h"
#include "TTable.h"
#include "TestFolder.h"

namespace kx {
namespace {

const std::string kPng = std::string("\x89PNG\r\n\x1A\n\0\0\0\rIHDR", 16);

TEST(TKXImage, DefaultsLoadAndSave) {
  TKXImage image;
  Value saved = image.Save();
  ASSERT_EQ(saved.Len(), 50u);
  EXPECT_EQ(saved.Get("cName").Str(), "Imagen");
  EXPECT_EQ(saved.Get("cType").Str(), "TImage");
  for (const char* side : {"lBorderTop", "lBorderRight", "lBorderBottom", "lBorderLeft"})
    EXPECT_FALSE(saved.Get(side).Bool()) << side;
  EXPECT_EQ(saved.AsMap().KeyAt(45), "lKx12WrapBefore");
  EXPECT_EQ(JsonEncode(Value::NewList({saved.Get("cSource"), saved.Get("cSourceType"),
                                       saved.Get("lKeepRatio"), saved.Get("cFit")})),
            R"(["RUTA_LOGO","auto",true,"contain"])");

  image.Load(JsonDecode(R"({"cSource":"CLI.FOTO","lKeepRatio":"no","cFit":5,"nLeft":"3"})"));
  saved = image.Save();
  EXPECT_EQ(saved.Get("cSource").Str(), "CLI.FOTO");
  EXPECT_EQ(saved.Get("cSourceType").Str(), "auto");  // absent: kept
  EXPECT_TRUE(saved.Get("lKeepRatio").IsLogical());   // read as a logical
  EXPECT_FALSE(saved.Get("lKeepRatio").Bool());
  EXPECT_EQ(saved.Get("cFit").Int(), 5);  // passed on unchanged
  EXPECT_EQ(saved.Get("nLeft").Str(), "3");
}

TEST(TKXImage, TheFactoryMakesIt) {
  TDocument document;
  document.Create();
  document.Load(JsonDecode(R"({"aObjects":[{"cType":"TImage","cId":"i"},{"cType":"timage"}]})"));
  ASSERT_EQ(document.aObjects.size(), 1u);
  EXPECT_EQ(document.aObjects[0]->ClassName(), "TKXImage");
  document.End();
}

TEST(TKXImage, AnImageThatCannotBeResolvedIsStillRendered) {
  TKXImage image;
  image.Load(JsonDecode(R"({"cId":"img","nLeft":10,"nTop":20,"nWidth":30,"nHeight":15,
      "nPaddingTop":2,"nPaddingLeft":-1,"nZIndex":4})"));
  ObjectTestContext ctx;
  // The default source names the variable RUTA_LOGO, which was not sent.
  const Value r = image.GenerarRenderizable(*ctx.contexto);
  EXPECT_EQ(JsonEncode(r),
            R"({"id":"img","tipo":"imagen","x":10,"y":20,"ancho":30,"alto":15,"dataUri":"",)"
            R"("mime":"","error":"Imagen no disponible","ajuste":"contain",)"
            R"("mantenerProporcion":true,"colorFondo":"#ffffff","colorBorde":"#000000",)"
            R"("grosorBorde":0.1,"bordeSuperior":false,"bordeDerecho":false,)"
            R"("bordeInferior":false,"bordeIzquierdo":false,"redondeo":0,"rotacion":0,)"
            R"("opacidad":1,"sombraTamano":0,"sombraTransparencia":50,"sombraColor":"#000000",)"
            R"("zIndex":4,"paddingSuperior":2,"paddingDerecho":0.0,"paddingInferior":0.0,)"
            R"("paddingIzquierdo":0.0})");
}

TEST(TKXImage, SourceFormulaColoursAndVisibility) {
  TempDir dir;
  dir.Write("logo.png", kPng);
  WorkingFolder cwd(dir.path());
  ObjectTestContext ctx;

  TKXImage image;
  image.Load(JsonDecode(R"({"cId":"i","cSource":"'lo' + 'go.png'",
      "cBackgroundColorFormula":"'red'","cBorderColorFormula":"'#ABCDEF'",
      "cShadowColorFormula":"'x'","cShadowColor":"#111111"})"));
  Value r = image.GenerarRenderizable(*ctx.contexto);
  EXPECT_EQ(r.Get("mime").Str(), "image/png");
  EXPECT_EQ(r.Get("dataUri").Str().substr(0, 22), "data:image/png;base64,");
  EXPECT_EQ(r.Get("error").Str(), "");
  EXPECT_EQ(r.Get("colorFondo").Str(), "#ffffff");
  EXPECT_EQ(r.Get("colorBorde").Str(), "#abcdef");
  EXPECT_EQ(r.Get("sombraColor").Str(), "#111111");
  EXPECT_EQ(ctx.Avisos(),
            (std::vector<std::string>{"Color no valido en i: 'red'", "Color no valido en i: 'x'"}));

  // A blank source is taken as it stands, without evaluating anything.
  TKXImage blank;
  blank.Load(JsonDecode(R"({"cSource":"   "})"));
  EXPECT_EQ(blank.GenerarRenderizable(*ctx.contexto).Get("error").Str(), "Imagen no disponible");
  EXPECT_EQ(ctx.Avisos().size(), 2u);

  TKXImage hidden;
  hidden.Load(JsonDecode(R"({"cSource":"'logo.png'","cCondition":"1 == 2"})"));
  EXPECT_TRUE(hidden.GenerarRenderizable(*ctx.contexto).IsNil());
  EXPECT_EQ(ctx.Motivos(), (std::vector<std::string>{"condicion falsa"}));
}

TEST(TKXImage, ATableCellImageIsReadOnceForEveryRow) {
  TempDir dir;
  dir.Write("logo.png", kPng);
  WorkingFolder cwd(dir.path());
  auto table = MakeRef<TTable>();
  table->Load(JsonDecode(R"({"cId":"T1","nWidth":60,"nHeight":100,"hSections":{"detail":
      {"aLines":[{"nHeight":8,"aCells":[{"nWidth":20,"hContent":{"cType":"TImage",
      "hObject":{"cSource":"'logo.png'","cFit":"cover"}}}]}]}}})"));
  table->Create();
  Value records = Value::NewList();
  for (int i = 0; i < 3; ++i) records.Push(Value::NewMap({{"L.id", i}}));
  ObjectTestContext ctx(Value::NewMap({{"aRegistrosDetalleRuntime", records},
                                       {"lRegistrosDetalleGlobalRuntime", true},
                                       {"nTotalRegistrosRuntime", 3}}));
  auto cache = MakeRef<TImageCache>();
  ctx.contexto->SetCacheImagenes(cache);
  ctx.contexto->Create();  // the cache stays over a new execution

  const Value pieces = table->GenerarRenderizable(*ctx.contexto);
  std::vector<Value> images;
  for (const Value& p : pieces.AsList())
    if (p.Get("tipo").Str() == "imagen") images.push_back(p);
  ASSERT_EQ(images.size(), 3u);
  for (size_t i = 0; i < images.size(); ++i) {
    EXPECT_EQ(images[i].Get("id").Str(), "T1_detail_r" + std::to_string(i) + "_0_0_image");
    EXPECT_EQ(images[i].Get("mime").Str(), "image/png");
    EXPECT_EQ(images[i].Get("ajuste").Str(), "cover");
    EXPECT_TRUE(images[i].Get("dataUri").SameRef(images[0].Get("dataUri")));
  }
  EXPECT_EQ(cache->Entradas(), 1u);
  table->End();
}

}  // namespace
}  // namespace kx
