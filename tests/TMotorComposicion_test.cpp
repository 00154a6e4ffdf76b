#include "TMotorComposicion.h"

#include <gtest/gtest.h>

#include "Json.h"
#include "ObjectTestContext.h"
#include "TRectangle.h"

namespace kx {
namespace {

TEST(TMotorComposicion, AsksTheObjectForItsRenderable) {
  ObjectTestContext ctx;
  TMotorComposicion engine(JsonDecode(R"({"a":1})"));
  engine.Create();
  EXPECT_TRUE(engine.lCreated);
  TRectangle rectangle;
  rectangle.cId = Value("r");
  const Value rendered = engine.Componer(&rectangle, ctx.contexto.get());
  EXPECT_EQ(rendered.Get("id").Str(), "r");
  EXPECT_EQ(rendered.Get("tipo").Str(), "rectangulo");
  EXPECT_TRUE(ctx.Avisos().empty());
  engine.End();
  EXPECT_FALSE(engine.lCreated);
  EXPECT_EQ(engine.hOpciones.Len(), 0u);
}

TEST(TMotorComposicion, AnObjectThatCannotRenderWarns) {
  ObjectTestContext ctx;
  TMotorComposicion engine;
  KXObject notAReportObject;
  EXPECT_TRUE(engine.Componer(&notAReportObject, ctx.contexto.get()).IsNil());
  EXPECT_TRUE(engine.Componer(nullptr, ctx.contexto.get()).IsNil());
  EXPECT_EQ(ctx.Avisos(), (std::vector<std::string>{"Objeto sin metodo generarRenderizable.",
                                                    "Objeto sin metodo generarRenderizable."}));
  // Without a context nothing is rendered and nothing is said.
  TRectangle rectangle;
  EXPECT_TRUE(engine.Componer(&rectangle, nullptr).IsNil());
  EXPECT_TRUE(engine.Componer(&notAReportObject, nullptr).IsNil());
}

}  // namespace
}  // namespace kx
