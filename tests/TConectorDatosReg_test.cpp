#include "TConectorDatosReg.h"

#include <gtest/gtest.h>

#include "Json.h"

namespace kx {
namespace {

Value J(std::string_view json) {
  return JsonDecode(json);
}

TEST(TConectorDatosReg, StartsAndEndsWithTheEmptyData) {
  auto c = MakeRef<TConectorDatosReg>(Value("ignored.json"));
  c->Create();
  const char* empty =
      R"({"DataVar":{},"DetalleVar":{},"_StructVar":[],"_RegVar":[],"_StructLine":[],"_RegLine":[]})";
  EXPECT_EQ(JsonEncode(c->GetData()), empty);
  c->SendDataLine(J(R"([{"grupo":"L","nombre":"f"}])"), J(R"([["a"]])"));
  c->NextLine();
  c->End();
  EXPECT_EQ(JsonEncode(c->GetData()), empty);
  EXPECT_EQ(c->cGrupoLineActual, "LINEAS");
  EXPECT_EQ(c->nIndiceLineActual, 0);
  EXPECT_TRUE(c->hVariablesCache.IsNil());
  EXPECT_TRUE(c->aRegistrosDetalleCache.IsNil());
}

TEST(TConectorDatosReg, SendDataVarBuildsTypedVariables) {
  auto c = MakeRef<TConectorDatosReg>();
  c->SendDataVar(J(R"([{"grupo":"CLIENTE","nombre":"nombre","tipo":"texto"},
                       {"grupo":"CLIENTE","nombre":"saldo","tipo":"numerico"}])"),
                 J(R"([["Ana"]])"));
  EXPECT_EQ(JsonEncode(c->GetData().Get("DataVar")),
            R"({"CLIENTE":{"nombre":{"tipo":"texto","valor":"Ana"},)"
            R"("saldo":{"tipo":"numerico","valor":null}}})");
  EXPECT_EQ(JsonEncode(c->GetVariables()), R"({"CLIENTE.nombre":"Ana","CLIENTE.saldo":null})");
  EXPECT_EQ(JsonEncode(c->GetData().Get("_RegVar")), R"([["Ana"]])");

  // Sending again replaces every earlier variable; masks are normalised.
  c->SendDataVar(J(R"([{"grupo":"OMEM_PICTURES","nombre":"p"}])"), J(R"([["#,###"]])"));
  EXPECT_EQ(JsonEncode(c->GetVariables()), R"({"OMEM_PICTURES.p":"@E 9999"})");
  // A row that is not a list gives no values.
  c->SendDataVar(J(R"([{"nombre":"x"}])"), J(R"(["x"])"));
  EXPECT_EQ(JsonEncode(c->GetVariables()), R"({"DATOS.x":null})");
  c->SendDataVar(J(R"([{"nombre":"x"}])"), Value(3));
  EXPECT_EQ(JsonEncode(c->GetData().Get("_RegVar")), "[]");
}

TEST(TConectorDatosReg, DefinitionsAreNormalised) {
  struct Row {
    const char* element;
    const char* expected;  // the connector definition, or "" when dropped
  };
  Row rows[] = {
      {R"({"name":"total","type":"N"})",
       R"({"nombre":"total","grupo":"DATOS","tipo":"numerico","longitud":null,"decimales":null})"},
      {R"({"campo":"FACT.fecha","cType":"Date","grupo":"X"})",
       R"({"nombre":"fecha","grupo":"FACT","tipo":"fecha","longitud":null,"decimales":null})"},
      {R"({"nombre":"x","tipo":"currency","length":10,"nDecimals":2})",
       R"({"nombre":"x","grupo":"DATOS","tipo":"currency","longitud":10,"decimales":2})"},
      {R"({"nombre":" y ","group":"  ","tipo":" BOOLEAN "})",
       R"({"nombre":"y","grupo":"DATOS","tipo":"logico","longitud":null,"decimales":null})"},
      {R"({"nombre":"z","tabla":" T ","tipo":"","alias":"A"})",
       R"({"nombre":"z","grupo":"T","tipo":"texto","longitud":null,"decimales":null})"},
      {R"({"cName":"m","tipo":"Memo"})",
       R"({"nombre":"m","grupo":"DATOS","tipo":"memo","longitud":null,"decimales":null})"},
      {R"({"nombre":"i","tipo":"image"})",
       R"({"nombre":"i","grupo":"DATOS","tipo":"imagen","longitud":null,"decimales":null})"},
      {R"({"nombre":"","name":"y"})", ""},
      {R"({"nombre":"FACT."})", ""},
      {R"({"tipo":"c"})", ""},
      {R"("x")", ""},
  };
  for (const Row& r : rows) {
    auto c = MakeRef<TConectorDatosReg>();
    c->SendDataVar(Value::NewList({J(r.element)}), Value::NewList());
    const Value& defs = c->GetData().Get("_StructVar");
    std::string got = defs.Len() > 0 ? JsonEncode(defs.AsList()[0]) : "";
    EXPECT_EQ(got, r.expected) << r.element;
  }
}

TEST(TConectorDatosReg, DroppedDefinitionsDoNotShiftTheValuesAfterThem) {
  auto c = MakeRef<TConectorDatosReg>();
  c->SendDataVar(J(R"([{"nombre":"a"},{"nombre":"  "},7,{"nombre":"b"}])"), J(R"([[1,2,3,4]])"));
  EXPECT_EQ(JsonEncode(c->GetVariables()), R"({"DATOS.a":1,"DATOS.b":4})");
  c->SendDataLine(J(R"([{"grupo":"L","nombre":""},{"grupo":"L","nombre":"f"}])"),
                  J(R"([["x","y"],["z","w"]])"));
  EXPECT_EQ(JsonEncode(c->GetRegistrosDetalle()), R"([{"L.f":"y"},{"L.f":"w"}])");
}

TEST(TConectorDatosReg, DetailRowsBecomeRecordsGroupAfterGroup) {
  struct Row {
    const char* defs;
    const char* rows;
    const char* records;
    int64_t total;
  };
  Row rows[] = {
      {R"([{"grupo":"L","nombre":"f"}])", R"([["a"],"junk",["c"]])",
       R"([{"L.f":"a"},{},{"L.f":"c"}])", 3},
      {R"([{"grupo":"L","nombre":"f"}])", R"([["a"],"junk"])", R"([{"L.f":"a"}])", 2},
      {R"([{"grupo":"A","nombre":"x"},{"grupo":"B","nombre":"y"}])", R"([[1,2],[3]])",
       R"([{"A.x":1},{"A.x":3},{"B.y":2},{"B.y":null}])", 2},
      {R"([{"grupo":"L","nombre":"f"},{"grupo":"L","nombre":"f"}])", R"([[1,2]])", R"([{"L.f":2}])",
       1},
      {R"([{"grupo":"L","nombre":"f"}])", R"("x")", "[]", 0},
  };
  for (const Row& r : rows) {
    auto c = MakeRef<TConectorDatosReg>();
    c->SendDataLine(J(r.defs), J(r.rows));
    EXPECT_EQ(JsonEncode(c->GetRegistrosDetalle()), r.records) << r.rows;
    EXPECT_EQ(c->GetTotalLine(), r.total) << r.rows;
  }
}

TEST(TConectorDatosReg, TheSameDefinitionsSentAgainAreReadAsTheyStandNow) {
  auto c = MakeRef<TConectorDatosReg>();
  Value defs = J(R"([{"grupo":"L","nombre":"f"},{"grupo":"L","nombre":"g"}])");
  auto records = [&](const char* rows) {
    c->SendDataLine(defs, J(rows));
    return JsonEncode(c->GetRegistrosDetalle());
  };
  EXPECT_EQ(records(R"([[1,2]])"), R"([{"L.f":1,"L.g":2}])");
  EXPECT_EQ(records(R"([[3,4]])"), R"([{"L.f":3,"L.g":4}])");
  // A definition changed in place, a definition added, the default group changed.
  defs.AsList()[1].Set("nombre", Value("h"));
  EXPECT_EQ(records(R"([[5,6]])"), R"([{"L.f":5,"L.h":6}])");
  defs.Push(J(R"({"nombre":"k"})"));
  EXPECT_EQ(records(R"([[7,8,9]])"), R"([{"L.f":7,"L.h":8},{"LINEAS.k":9}])");
  c->cGrupoLineDefecto = "OTRO";
  EXPECT_EQ(records(R"([[7,8,9]])"), R"([{"L.f":7,"L.h":8},{"OTRO.k":9}])");
  // The definitions handed out are the connector's own copy.
  c->GetData().Get("_StructLine").AsList()[0].Set("nombre", Value("x"));
  EXPECT_EQ(records(R"([[1,2,3]])"), R"([{"L.f":1,"L.h":2},{"OTRO.k":3}])");
}

TEST(TConectorDatosReg, VariablesCarryTheFirstRecordAndCachesFollowTheSends) {
  auto c = MakeRef<TConectorDatosReg>();
  c->SendDataVar(J(R"([{"grupo":"L","nombre":"f"},{"grupo":"G","nombre":"v"}])"),
                 J(R"([["var",1]])"));
  EXPECT_EQ(JsonEncode(c->GetVariables()), R"({"L.f":"var","G.v":1})");
  Value first = c->GetVariables();
  EXPECT_TRUE(first.SameRef(c->GetVariables()));  // answered from the cache

  c->SendDataLine(J(R"([{"grupo":"L","nombre":"f"}])"), J(R"([["r1"],["r2"]])"));
  EXPECT_EQ(JsonEncode(c->GetVariables()), R"({"L.f":"r1","G.v":1})");
  Value records = c->GetRegistrosDetalle();
  EXPECT_TRUE(records.SameRef(c->GetRegistrosDetalle()));
  // A variable send keeps the record cache.
  c->SendDataVar(J(R"([{"grupo":"G","nombre":"v"}])"), J(R"([[2]])"));
  EXPECT_TRUE(records.SameRef(c->GetRegistrosDetalle()));
  EXPECT_EQ(JsonEncode(c->GetVariables()), R"({"G.v":2,"L.f":"r1"})");

  c->SendDataLine(J(R"([{"grupo":"L","nombre":"f"}])"), J("[]"));
  EXPECT_EQ(JsonEncode(c->GetVariables()), R"({"G.v":2})");
}

TEST(TConectorDatosReg, CursorAndValueLookups) {
  auto c = MakeRef<TConectorDatosReg>();
  c->SendDataVar(J(R"([{"nombre":"x"},{"grupo":"G","nombre":"y"}])"), J(R"([[1,2]])"));
  c->SendDataLine(J(R"([{"grupo":"L","nombre":"f"}])"), J(R"([["a"],["b"]])"));
  EXPECT_EQ(c->cGrupoLineActual, "L");
  EXPECT_EQ(c->GetLineValue(Value("f"), Value(0)).Str(), "a");
  EXPECT_EQ(c->GetLineValue(Value("L.f"), Value(0)).Str(), "a");
  EXPECT_FALSE(c->EofLine());
  c->NextLine();
  EXPECT_EQ(c->GetLineValue(Value("f"), Value(0)).Str(), "b");
  c->NextLine();
  EXPECT_TRUE(c->EofLine());
  EXPECT_EQ(c->GetLineValue(Value("f"), Value(0)).Int(), 0);
  EXPECT_EQ(c->GetCurrentLine().Len(), 0u);
  c->nIndiceLineActual = -1;
  EXPECT_EQ(c->GetCurrentLine().Len(), 0u);
  c->ResetLine();
  EXPECT_EQ(JsonEncode(c->GetCurrentLine()), R"({"L.f":"a"})");

  EXPECT_EQ(c->GetVarValue(Value("x")).Int(), 1);
  EXPECT_EQ(c->GetVarValue(Value("DATOS.x")).Int(), 1);
  EXPECT_EQ(c->GetVarValue(Value("G.y")).Int(), 2);
  EXPECT_EQ(c->GetVarValue(Value("y"), Value("none")).Str(), "none");
  EXPECT_EQ(c->GetVarValue(Value("L.f"), Value("none")).Str(), "none");  // not a variable
}

}  // namespace
}  // namespace kx
