#include "TLine.h"

#include <gtest/gtest.h>

#include "Json.h"
#include "ObjectTestContext.h"

namespace kx {
namespace {

TEST(TLine, RendersItsNineteenKeysInOrder) {
  TLine line;
  line.Load(JsonDecode(R"({"cId":"l1","nZIndex":3})"));
  ObjectTestContext ctx;
  EXPECT_EQ(JsonEncode(line.GenerarRenderizable(*ctx.contexto)),
            R"({"id":"l1","tipo":"linea","x":20,"y":20,"ancho":50,"alto":1,)"
            R"("color":"#000000","grosor":0.1,"orientacion":"horizontal","estilo":"solid",)"
            R"("rotacionOriginal":0,"rotacion":0,"opacidad":1,"sombraTamano":0,)"
            R"("sombraTransparencia":50,"sombraColor":"#000000","ordenOriginal":3,"capa":3,)"
            R"("zIndex":3})");
}

TEST(TLine, LoadAndSaveItsOwnKeys) {
  TLine line;
  line.Load(JsonDecode(R"({"cOrientation":"vertical","lBorderRight":true,"cLineStyle":7})"));
  const Value saved = line.Save();
  ASSERT_EQ(saved.Len(), 48u);
  EXPECT_EQ(saved.AsMap().KeyAt(46), "cOrientation");
  EXPECT_EQ(saved.AsMap().KeyAt(47), "cLineStyle");
  EXPECT_EQ(saved.Get("cOrientation").Str(), "vertical");
  EXPECT_EQ(saved.Get("cLineStyle").Int(), 7);
  // A key the map lacks keeps the line's default, not the base's.
  EXPECT_FALSE(saved.Get("lBorderTop").Bool());
  EXPECT_TRUE(saved.Get("lBorderRight").Bool());
  EXPECT_EQ(saved.Get("cBackgroundColor").Str(), "transparent");
  EXPECT_EQ(saved.Get("cName").Str(), "Línea");

  line.Load(Value("not a map"));
  EXPECT_EQ(line.cOrientation.Str(), "vertical");
}

TEST(TLine, LineColourIsStrict) {
  struct Row {
    const char* object;
    const char* color;
    size_t warnings;
  };
  Row rows[] = {
      {R"({"cBorderColor":"red"})", "#000000", 0},
      {R"({"cBorderColor":"#FFAA00"})", "#ffaa00", 0},
      {R"({"cBorderColor":"#FFAA00","cBorderColorFormula":"'transparent'"})", "#ffaa00", 1},
      {R"({"cBorderColorFormula":"'#ABCDEF'"})", "#abcdef", 0},
  };
  for (const Row& r : rows) {
    TLine line;
    line.Load(JsonDecode(r.object));
    ObjectTestContext ctx;
    EXPECT_EQ(line.GenerarRenderizable(*ctx.contexto).Get("color").Str(), r.color) << r.object;
    EXPECT_EQ(ctx.Avisos().size(), r.warnings) << r.object;
  }
  // The shadow stays lenient.
  TLine line;
  line.Load(JsonDecode(R"({"cShadowColor":"gris"})"));
  ObjectTestContext ctx;
  EXPECT_EQ(line.GenerarRenderizable(*ctx.contexto).Get("sombraColor").Str(), "gris");
}

}  // namespace
}  // namespace kx
