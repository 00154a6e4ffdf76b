#include "TPlantilla.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "Json.h"
#include "TestFolder.h"

namespace kx {
namespace {

TEST(TPlantilla, WithoutAnyTemplateGivesTheEmptyReport) {
  auto t = MakeRef<TPlantilla>();
  t->Create();
  EXPECT_TRUE(t->GetObjetos().empty());
  Value page = t->GetPagina();
  EXPECT_EQ(
      JsonEncode(page),
      R"({"ancho":210,"alto":297,"modoAlto":"fixed","altoDiseno":250,"margenInferiorContinuo":5,"unidad":"mm"})");
  EXPECT_FALSE(t->IsLabelDocument());
  auto before = MakeRef<TPlantilla>();  // before Create: the no-document answers
  EXPECT_EQ(before->GetPagina().Get("alto").Double(), 297.0);
  EXPECT_EQ(before->GetLabelLayout().Len(), 12u);
}

TEST(TPlantilla, OlderFormIsConverted) {
  Value older = JsonDecode(R"({"nombre":"Viejo","pagina":{"ancho":"100,5","alto":150},
      "UserVar":{"v":{"formula":"1"}},
      "objetos":[{"id":"t1","tipo":"TRectangle","x":"12,5","y":3,"ancho":10,"alto":5,"valor":"'A'","condicion":"X"},
                 {"id":"t2","nombre":"Dos","tipo":"trectangle"}, 7]})");
  Value doc = TPlantilla::NormalizarDocumento(older);
  EXPECT_EQ(
      JsonEncode(doc),
      R"({"cType":"TDocument","cFormatVersion":"1.0","cTemplateName":"Viejo","nPaperWidth":100.5,)"
      R"("nPaperHeight":150,"aObjects":[)"
      R"({"cId":"t1","cName":"t1","cType":"TRectangle","nLeft":12.5,"nTop":3,"nWidth":10,"nHeight":5,)"
      R"("cText":"'A'","cCondition":"X"},)"
      R"({"cId":"t2","cName":"Dos","cType":"TText","nLeft":0,"nTop":0,"nWidth":0,"nHeight":0,)"
      R"("cText":"","cCondition":""}]})");

  auto t = MakeRef<TPlantilla>();
  t->SetData(older).Create();
  EXPECT_EQ(t->GetUserVars().Len(), 0u);     // variables only come from the document form
  EXPECT_TRUE(t->GetData().SameRef(older));  // the raw map is kept as given
  EXPECT_EQ(t->GetPagina().Get("ancho").Double(), 100.5);

  Value notList =
      JsonDecode(R"({"aObjects":{},"cDocumentKind":"label","hLabelLayout":{"nRows":2}})");
  auto t2 = MakeRef<TPlantilla>();
  t2->SetData(notList).Create();
  EXPECT_FALSE(t2->IsLabelDocument());  // treated as the older form
  Value empty = TPlantilla::NormalizarDocumento(Value::NewMap());
  EXPECT_EQ(empty.Get("cTemplateName").Str(), "Documento");
  EXPECT_EQ(empty.Get("nPaperWidth").Int(), 210);
}

TEST(TPlantilla, SetDataAndPathGuards) {
  auto t = MakeRef<TPlantilla>(Value(5));
  EXPECT_EQ(t->cRuta, "");
  t->SetData(Value::NewList({1}));
  EXPECT_TRUE(t->GetData().IsMap());
  EXPECT_EQ(t->GetData().Len(), 0u);
}

TEST(TPlantilla, LoadsFilesAndFallsBackToTheEmptyTemplate) {
  TempDir dir;
  std::string good = R"({"cFormatVersion":"1.0","cDocumentKind":"label","aObjects":[]})";
  struct Row {
    std::string name;
    std::string content;
    bool label;
  };
  Row rows[] = {
      {"good.json", good, true},
      {"bom.json", "\xEF\xBB\xBF" + good, true},  // a byte-order mark is skipped
      {"blank.json", " \r\n\t", false},
      {"empty.json", "", false},
      {"truncated.json", R"({"cDocumentKind":"label","aObjects":[{"cType":"TText")", false},
      {"array.json", "[1,2]", false},
      {"kx12.lbl", "[List description]\r\n[Description]\r\n[Layout]\r\nUnits=SCM-Units\r\n", false},
  };
  for (const Row& r : rows) {
    auto t = MakeRef<TPlantilla>(Value(dir.Write(r.name, r.content)));
    t->Create();
    EXPECT_EQ(t->IsLabelDocument(), r.label) << r.name;
  }
  // Paths that are no readable regular file give the empty template, never a crash.
  std::filesystem::create_directory(dir.path() + "/folder.json");
  const std::string unreadable[] = {dir.path() + "/folder.json", dir.path() + "/missing.json", "",
                                    "/dev/null"};
  for (const std::string& p : unreadable) {
    Value map = TPlantilla::CargarJson(Value(p));
    EXPECT_TRUE(map.IsMap()) << p;
    EXPECT_EQ(map.Len(), 0u) << p;
  }
  auto t = MakeRef<TPlantilla>(Value(dir.Write("t.json", good)));
  t->SetData(JsonDecode(R"({"aObjects":[],"cDocumentKind":"report"})"));
  t->Create();
  EXPECT_TRUE(t->IsLabelDocument());  // the file replaces a map given before
  t->End();
  EXPECT_EQ(t->GetData().Len(), 0u);
  EXPECT_EQ(t->cRuta, "");
  EXPECT_FALSE(t->IsLabelDocument());
}

}  // namespace
}  // namespace kx
