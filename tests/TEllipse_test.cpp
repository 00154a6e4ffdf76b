#include "TEllipse.h"

#include <gtest/gtest.h>

#include "Json.h"
#include "ObjectTestContext.h"

namespace kx {
namespace {

TEST(TEllipse, DefaultsOfTheClass) {
  TEllipse ellipse;
  const Value saved = ellipse.Save();
  EXPECT_EQ(saved.Len(), 46u);
  EXPECT_EQ(saved.Get("cName").Str(), "Elipse");
  EXPECT_EQ(saved.Get("cType").Str(), "TEllipse");
  for (const char* key : {"nLeft", "nTop", "nWidth", "nHeight", "nRounded"})
    EXPECT_TRUE(saved.Get(key).IsInt()) << key;  // integral defaults are integers
  EXPECT_EQ(JsonEncode(Value::NewList({saved.Get("nLeft"), saved.Get("nTop"), saved.Get("nWidth"),
                                       saved.Get("nHeight"), saved.Get("nBorderWidth"),
                                       saved.Get("nRounded")})),
            "[20,20,50,30,0.1,50]");
  EXPECT_TRUE(saved.Get("lBorderTop").Bool());
}

TEST(TEllipse, AlwaysRendersRounding50) {
  TEllipse ellipse;
  ellipse.Load(JsonDecode(R"({"cId":"e1","nRounded":10})"));
  ObjectTestContext ctx;
  const Value r = ellipse.GenerarRenderizable(*ctx.contexto);
  ASSERT_EQ(r.Len(), 29u);
  EXPECT_EQ(r.Get("tipo").Str(), "elipse");
  EXPECT_EQ(r.AsMap().KeyAt(19), "redondeo");
  EXPECT_TRUE(r.Get("redondeo").IsInt());
  EXPECT_EQ(r.Get("redondeo").Int(), 50);
  EXPECT_EQ(ellipse.Save().Get("nRounded").Int(), 10);
  EXPECT_EQ(r.Get("ancho").Int(), 50);
  EXPECT_EQ(r.Get("alto").Int(), 30);
}

}  // namespace
}  // namespace kx
