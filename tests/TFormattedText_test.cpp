#include "TFormattedText.h"

#include <gtest/gtest.h>

#include "Json.h"
#include "ObjectTestContext.h"
#include "TMotorComposicion.h"
#include "TMotorEjecucion.h"
#include "TMotorPaginacion.h"
#include "TPlantilla.h"

namespace kx {
namespace {

using Rendered = RenderedObject<TFormattedText>;

TEST(TFormattedText, RendersTheTextMapAsFormattedWithItsRunsLast) {
  Rendered r(R"({"cId":"f","cText":"'xy'",
               "aRichTextRuns":[{"cExpression":"\"x\""},5,{},
                                {"lBold":true,"cText":"old","cExpression":"V","nSize":8}]})",
             R"({"V":"y"})");
  const Value map = r.Render();
  ASSERT_EQ(map.Len(), 58u);
  EXPECT_EQ(map.AsMap().KeyAt(1), "tipo");
  EXPECT_EQ(map.Get("tipo").Str(), "texto_formateado");
  EXPECT_EQ(map.AsMap().KeyAt(8), "formulaError");
  EXPECT_EQ(map.AsMap().KeyAt(56), "paddingIzquierdo");
  EXPECT_EQ(map.AsMap().KeyAt(57), "runs");
  EXPECT_EQ(map.Get("texto").Str(), "xy");
  // "cText" keeps its place in a run that has it, else it comes last.
  EXPECT_EQ(JsonEncode(map.Get("runs")),
            R"([{"cExpression":"\"x\"","cText":"x"},{"cText":""},)"
            R"({"lBold":true,"cText":"y","cExpression":"V","nSize":8}])");
  // The template's runs are not touched.
  EXPECT_EQ(r.object.aRichTextRuns.AsList()[3].Get("cText").Str(), "old");
  EXPECT_FALSE(r.object.aRichTextRuns.AsList()[0].Has("cText"));

  const Value again = r.Render();
  EXPECT_EQ(JsonEncode(again), JsonEncode(map));
}

TEST(TFormattedText, AnInvisibleFormattedTextEvaluatesNoRun) {
  Rendered r(R"({"cCondition":"1 == 2","aRichTextRuns":[{"cExpression":"X"}]})");
  EXPECT_TRUE(r.Render().IsNil());
  EXPECT_EQ(r.ctx.Motivos(), std::vector<std::string>{"condicion falsa"});
}

TEST(TFormattedText, LoadSaveAndEnd) {
  const Value templateMap =
      JsonDecode(R"({"cType":"TText","cText":"'a'","aRichTextRuns":[{"cExpression":"'a'"}]})");
  TFormattedText text;
  EXPECT_EQ(text.cName.Str(), "Texto formateado");
  EXPECT_EQ(text.cType.Str(), "TFormattedText");
  EXPECT_FALSE(text.lBorderTop.Bool());
  text.Load(templateMap);
  EXPECT_EQ(text.cType.Str(), "TFormattedText");
  // The template's own list, not a copy.
  EXPECT_TRUE(text.aRichTextRuns.SameRef(templateMap.Get("aRichTextRuns")));

  const Value saved = text.Save();
  ASSERT_EQ(saved.Len(), 81u);
  EXPECT_EQ(saved.AsMap().KeyAt(2), "cType");
  EXPECT_EQ(saved.Get("cType").Str(), "TFormattedText");
  EXPECT_EQ(saved.AsMap().KeyAt(79), "cKx12SourceJson");
  EXPECT_EQ(saved.AsMap().KeyAt(80), "aRichTextRuns");
  EXPECT_EQ(JsonEncode(saved.Get("aRichTextRuns")), R"([{"cExpression":"'a'"}])");

  // Runs that are not a list, or a key in another case, give no runs.
  text.Load(JsonDecode(R"({"aRichTextRuns":{"a":1}})"));
  EXPECT_EQ(text.aRichTextRuns.Len(), 0u);
  text.Load(templateMap);
  text.Load(JsonDecode(R"({"arichtextruns":[{}]})"));
  EXPECT_EQ(text.aRichTextRuns.Len(), 0u);

  text.Load(templateMap);
  text.End();
  EXPECT_TRUE(text.aRichTextRuns.IsList());
  EXPECT_EQ(text.aRichTextRuns.Len(), 0u);
  EXPECT_EQ(text.oParent, nullptr);
  // Ending leaves the template's list alone.
  EXPECT_EQ(templateMap.Get("aRichTextRuns").Len(), 1u);
}

TEST(TFormattedText, RunsFollowTheFragmentsOfABreakableText) {
  // One line per box: three fragments, each with the runs of its bytes.
  Rendered r(R"({"cId":"f","nWidth":80,"nHeight":4,"nFontSize":10,"lAllowPageBreak":true,
               "cText":"X","aRichTextRuns":[{"cExpression":"R1","lBold":true},
                                            {"cExpression":"R2","lBold":false}]})",
             R"({"X":"AB\nCD\nEF","R1":"AB\n","R2":"CD\nEF"})");
  TMotorPaginacion paginacion;
  paginacion.Create();
  Ref<TDocumentoRenderizable> doc =
      paginacion.Paginar(JsonDecode(R"({"ancho":100,"alto":100})"), Value::NewList({r.Render()}));
  ASSERT_EQ(doc->TotalPaginas(), 3);
  const char* runs[] = {
      R"([{"cExpression":"R1","lBold":true,"cText":"AB"}])",
      R"([{"cExpression":"R2","lBold":false,"cText":"CD"}])",
      R"([{"cExpression":"R2","lBold":false,"cText":"EF"}])",
  };
  for (int page = 1; page <= 3; ++page) {
    const Value fragment = doc->GetPagina(Value(page)).Get("objetos").AsList()[0];
    EXPECT_EQ(fragment.Get("tipo").Str(), "texto_formateado");
    EXPECT_EQ(JsonEncode(fragment.Get("runs")), runs[page - 1]) << page;
  }
  paginacion.End();
}

// The execution engine relocates the members of a text flow group by the
// height that the blank paragraphs of earlier members gave away.
TEST(TFormattedText, BlankParagraphsOfAFlowGroupMoveTheNextMembersUp) {
  ObjectTestContext ctx;
  ctx.contexto->PushVariablesLocales(JsonDecode(R"({"A":"a\n\n","C":"   "})"));
  auto plantilla = MakeRef<TPlantilla>();
  plantilla->SetData(JsonDecode(R"({"nPaperWidth":100,"nPaperHeight":200,"aObjects":[
      {"cType":"TText","cId":"a","nTop":10,"nHeight":20,"cText":"A","cTextFlowGroup":"g",
       "lKeepEmptyParagraphs":false,"nTextFlowLineHeight":5},
      {"cType":"TFormattedText","cId":"c","nTop":30,"nHeight":6,"cText":"C",
       "cTextFlowGroup":"g","lKeepEmptyParagraphs":false,"nTextFlowLineHeight":4},
      {"cType":"TText","cId":"b","nTop":40,"nHeight":10,"cText":"'b'","cTextFlowGroup":"g"}]})"));
  plantilla->Create();
  auto composicion = MakeRef<TMotorComposicion>();
  auto paginacion = MakeRef<TMotorPaginacion>();
  composicion->Create();
  paginacion->Create();
  auto motor =
      MakeRef<TMotorEjecucion>(plantilla, ctx.conector, composicion, paginacion, ctx.contexto);
  motor->Create();
  Ref<TDocumentoRenderizable> doc = motor->Ejecutar();
  ASSERT_TRUE(doc);
  const Value objetos = doc->GetPagina(Value(1)).Get("objetos");
  // "a" gives two blank paragraphs (10 mm) away; the blank "c" is dropped with its line (4 mm).
  ASSERT_EQ(objetos.Len(), 2u);
  EXPECT_EQ(objetos.AsList()[0].Get("id").Str(), "a");
  EXPECT_EQ(ValueDouble(objetos.AsList()[0].Get("alto")), 10.0);
  EXPECT_EQ(objetos.AsList()[1].Get("id").Str(), "b");
  EXPECT_EQ(ValueDouble(objetos.AsList()[1].Get("y")), 26.0);
  motor->End();
  paginacion->End();
  composicion->End();
  plantilla->End();
}

}  // namespace
}  // namespace kx
