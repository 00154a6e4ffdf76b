#include "TConectorDatos.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "Json.h"
#include "TestFolder.h"

namespace kx {
namespace {

Ref<TConectorDatos> WithData(std::string_view json) {
  auto c = MakeRef<TConectorDatos>();
  c->hDatos = c->NormalizarDatosRuntime(JsonDecode(json));
  return c;
}

TEST(TConectorDatos, LoadsTheDataFileAndFallsBackToEmptyData) {
  TempDir dir;
  struct Row {
    const char* content;
    const char* expected;
  };
  Row rows[] = {
      {R"({"DataVar":{"G":{"a":1}}})", R"({"DataVar":{"G":{"a":1}}})"},
      {"\xEF\xBB\xBF{\"x\":1}", R"({"x":1})"},  // a byte-order mark is not data
      {"[1,2]", "{}"},
      {" \t\r\n", "{}"},
      {"", "{}"},
      {"{\"x\":", "{}"},
  };
  for (const Row& r : rows) {
    auto c = MakeRef<TConectorDatos>(Value(dir.Write("d.json", r.content)));
    c->Create();
    EXPECT_EQ(JsonEncode(c->GetData()), r.expected) << r.content;
  }
  auto missing = MakeRef<TConectorDatos>(Value(dir.path() + "/none.json"));
  missing->Create();
  EXPECT_EQ(JsonEncode(missing->GetData()), "{}");
  auto folder = MakeRef<TConectorDatos>(Value(dir.path()));
  folder->Create();
  EXPECT_EQ(JsonEncode(folder->GetData()), "{}");

  // The path is read at the next Create; a non-text path is no path.
  auto later = MakeRef<TConectorDatos>(Value(5));
  EXPECT_EQ(later->cRuta, "");
  later->SetRuta(Value(dir.Write("e.json", R"({"DataVar":{"OMEM_PICTURES":{"p":"99.9"}}})")));
  later->Create();
  EXPECT_EQ(JsonEncode(later->GetData()), R"({"DataVar":{"OMEM_PICTURES":{"p":"@E 99.9"}}})");
  later->End();
  EXPECT_EQ(later->cRuta, "");
  EXPECT_EQ(JsonEncode(later->GetData()), "{}");
}

TEST(TConectorDatos, PictureMasksOfTheForeignKind) {
  struct Row {
    const char* mask;  // JSON value
    const char* expected;
  };
  Row rows[] = {
      {R"("999.99")", R"("@E 999.99")"},
      {R"("###,###.##")", R"("@E 999,999.99")"},
      {R"("#,###")", R"("@E 9999")"},
      {R"("-&&&.&")", R"("@E 9999.9")"},
      {R"(" ##.#")", R"("@E 999.9")"},
      {R"("@R 999")", R"("@R 999")"},
      {R"("99X")", R"("99X")"},
      {R"(",.")", R"(",.")"},
      {R"("")", R"("")"},
      {"12", "12"},
      {R"({"tipo":"texto","valor":"#.##"})", R"({"tipo":"texto","valor":"@E 9.99"})"},
      {R"({"tipo":"texto"})", R"({"tipo":"texto"})"},
  };
  for (const Row& r : rows) {
    std::string json = std::string(R"({"DataVar":{"OMEM_PICTURES":{"m":)") + r.mask + "}}}";
    auto c = WithData(json);
    EXPECT_EQ(JsonEncode(c->GetData().Get("DataVar").Get("OMEM_PICTURES").Get("m")), r.expected)
        << r.mask;
  }
  auto other = WithData(R"({"DataVar":{"omem_pictures":{"m":"999"}}})");
  EXPECT_EQ(other->GetData().Get("DataVar").Get("omem_pictures").Get("m").Str(), "999");
  auto c = MakeRef<TConectorDatos>();
  EXPECT_TRUE(c->NormalizarDatosRuntime(Value(3)).IsMap());
}

TEST(TConectorDatos, VariablesFromTheFourSources) {
  auto c = WithData(R"({"DataVar":{"G":{"a":1,"t":{"tipo":"numerico","valor":12.5},
                          "v":{"valor":"x"},"s":{"tipo":"texto"},"":7},"L":[1],"T":"x","":{"z":1}},
                        "DetalleVar":{"G":[{"a":2}]},
                        "UserVar":{"u":{"formula":"G.a*2"},"n":5,"":{"formula":"1"}},
                        "AcumVar":{"s":{"formula":1}}})");
  EXPECT_EQ(JsonEncode(c->GetVariables()),
            R"({"G.a":2,"G.t":12.5,"G.v":"x","G.s":{"tipo":"texto"},"VAR.u":"G.a*2","VAR.n":"",)"
            R"("SUM.s":"1"})");
  EXPECT_EQ(JsonEncode(WithData("[]")->GetVariables()), "{}");
}

TEST(TConectorDatos, DetailRecordsFromTheFirstBlockWithRecordsElseTheFallbackLists) {
  struct Row {
    const char* data;
    const char* expected;
  };
  Row rows[] = {
      {R"({"DetalleVar":{"A":[],"B":[{"x":1}],"C":[{"y":2}]}})", R"([{"B.x":1}])"},
      {R"({"DetalleVar":{"":[{"x":1}],"B":"x","C":[5,{},{"":1},{"y":{"tipo":"N","valor":2}}]}})",
       R"([{"C.y":2}])"},
      {R"({"DetalleVar":{},"lineasTabla":"x","registros":[{"a":{"valor":1}},5]})",
       R"([{"a":{"valor":1}}])"},
      {R"({"LINEAS_TABLA":[],"registros":[{"a":1}]})", "[]"},
      {R"({"REGISTROS":[{"a":1}],"detalle":[{"b":2}]})", R"([{"b":2}])"},
      {R"({"DetalleVar":{"A":[{}]}})", "[]"},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(JsonEncode(WithData(r.data)->GetRegistrosDetalle()), r.expected) << r.data;
  }
}

}  // namespace
}  // namespace kx
