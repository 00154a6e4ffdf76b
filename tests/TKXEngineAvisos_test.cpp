#include <gtest/gtest.h>

#include <string>

#include "Json.h"
#include "TKXEngine.h"

namespace kx {
namespace {

std::string Cell(const std::string& formula) {
  return R"J({"nWidth":50,"hContent":{"cType":"TText","hObject":{"cText":")J" + formula +
         R"J("}}})J";
}

std::string Texto(const std::string& id, const std::string& formula,
                  const std::string& extra = "") {
  return R"J({"cType":"TText","cId":")J" + id +
         R"J(","nLeft":10,"nTop":5,"nWidth":80,"nHeight":5,"cText":")J" + formula + "\"" + extra +
         "},";
}

// A table of LIN records, ten to a page: a header line, the detail line (with `detail`
// shown and `extra` keys) and a footer line (with `footer` keys).
std::string Tabla(const std::string& detail, const std::string& extra = "",
                  const std::string& header = "'Id'", const std::string& footer = "") {
  return R"J({"cType":"TTable","cId":"T","nLeft":10,"nTop":20,"nWidth":100,"nHeight":60,
    "hSections":{"header":{"aLines":[{"nHeight":5,"aCells":[)J" +
         Cell(header) + R"J(]}]},
     "detail":{"aLines":[{"nHeight":5)J" +
         extra + R"J(,"aCells":[)J" + Cell(detail) +
         R"J(]}]},
     "footer":{"aLines":[{"nHeight":5)J" +
         footer + R"J(,"aCells":[)J" + Cell("'Fin'") + R"J(]}]}}},)J";
}

// The template's objects, then a closing rectangle, on A4; `extra` adds template keys.
std::string Plantilla(const std::string& objects, const std::string& extra = "") {
  return R"J({"cFormatVersion":"1.0","nPaperWidth":210,"nPaperHeight":297)J" + extra +
         R"J(,"aObjects":[)J" + objects +
         R"J({"cType":"TRectangle","cId":"r","nLeft":0,"nTop":0,"nWidth":1,"nHeight":1}]})J";
}

// Runs the template over `records` LIN records {"id": "R" n, "doc": (n - 1) / 4} and
// answers the run's warnings as JSON.
std::string Avisos(TKXEngine& engine, const std::string& json, int records) {
  engine.SetPlantillaContent(Value(json));
  engine.OpenJob();
  for (int i = 1; i <= records; ++i) {
    engine.SendDetalle(
        Value("LIN"),
        Value::NewMap({{"id", std::string("R").append(std::to_string(i))}, {"doc", (i - 1) / 4}}));
  }
  engine.CloseJob();
  engine.RunEngine();
  return JsonEncode(engine.GetAvisos());
}

std::string Avisos(const std::string& json, int records) {
  TKXEngine engine;
  return Avisos(engine, json, records);
}

// Warnings as GetAvisos answers them, in JSON.
std::string Lista(std::initializer_list<std::pair<std::string_view, int>> avisos) {
  Value lista = Value::NewList();
  for (const auto& [texto, veces] : avisos)
    lista.Push(Value::NewMap({{"cAviso", Value(texto)}, {"nVeces", veces}}));
  return JsonEncode(lista);
}

// Objects that make a run take its other ways: page counts served by one pass (the last
// page rendered again), and a page count in a condition (a counting pass first).
const char* const kModos[] = {
    "",
    R"J({"cType":"TText","cId":"hoja","nLeft":150,"nTop":5,"nWidth":40,"nHeight":5,"cText":"PAGE() + ' de ' + TOTALPAGES()"},)J",
    R"J({"cType":"TRectangle","cId":"dos","nLeft":0,"nTop":0,"nWidth":1,"nHeight":1,"cCondition":"TOTALPAGES() > 0"},)J",
};

// Each warning once, with how many times the pages the run keeps said it: a record that
// moves to the next page whole, a footer measured before it prints, the last page rendered
// again, a counting pass and the data export add nothing.
TEST(TKXEngineAvisos, EachTextOnceWithItsCount) {
  const struct {
    const char* name;
    std::string objects;
    int records;
    std::string expected;
  } rows[] = {
      {"clean, a line hidden by its false condition",
       Tabla("LIN.id", R"J(,"cConditionFormula":"LIN.doc > 9")J"), 25, "[]"},
      {"condition without parentheses", Texto("t", "'a'", R"J(,"cCondition":"LASTPAGE")J"), 0,
       Lista({{"Condicion no valida en t: LASTPAGE", 1}})},
      // An empty first line takes the room; the second one's condition cannot be evaluated.
      {"line condition per record",
       Tabla("LIN.id", R"J(},{"nHeight":5,"cConditionFormula":"PAGE() = 1 AND .T.")J"), 25,
       Lista({{"Condicion no valida en linea de tabla detail T[1]: PAGE() = 1 AND .T.", 25}})},
      {"footer condition once a page",
       Tabla("LIN.id", "", "'Id'", R"J(,"cConditionFormula":"Nada")J"), 25,
       Lista({{"Condicion no valida en linea de tabla footer T[0]: Nada", 3}})},
      {"formula in a text", Texto("t", "'a' + Nada"), 0,
       Lista({{"Error de formula: 'a' + Nada -> [Variable no encontrada: Nada]", 1}})},
      {"formulas per page and per record", Tabla("LIN.id + Nada", "", "'Id' + Otra"), 25,
       Lista({{"Error de formula: 'Id' + Otra -> [Variable no encontrada: Otra]", 3},
              {"Error de formula: LIN.id + Nada -> [Variable no encontrada: Nada]", 25}})},
      {"colour", Texto("t", "'a'", R"J(,"cTextColorFormula":"'rojo'")J"), 2,
       Lista({{"Color no valido en t: 'rojo'", 1}})},
  };
  for (const auto& row : rows) {
    for (const char* modo : kModos) {
      EXPECT_EQ(Avisos(Plantilla(std::string(modo) + row.objects), row.records), row.expected)
          << row.name << " " << modo;
    }
  }
}

TEST(TKXEngineAvisos, ManyTextsEndWithOneEntrySayingHowManyMore) {
  std::string objects;
  for (int i = 1; i <= 130; ++i)
    objects += Texto("t", std::string("N").append(std::to_string(i)).append(" + 1"));
  TKXEngine engine;
  Avisos(engine, Plantilla(objects + Texto("t", "N1 + 1")), 0);
  const Value avisos = engine.GetAvisos();
  ASSERT_EQ(avisos.Len(), 101u);
  const List& lista = avisos.AsList();
  EXPECT_EQ(JsonEncode(Value::NewList({lista[0], lista[99], lista[100]})),
            Lista({{"Error de formula: N1 + 1 -> [Variable no encontrada: N1]", 2},
                   {"Error de formula: N100 + 1 -> [Variable no encontrada: N100]", 1},
                   {"Otros 30 avisos distintos", 30}}));
}

TEST(TKXEngineAvisos, EachRunStartsAfresh) {
  TKXEngine engine;
  const std::string mala = Plantilla(Tabla("LIN.id + Nada"));
  const std::string dicho = Avisos(engine, mala, 12);
  EXPECT_EQ(dicho,
            Lista({{"Error de formula: LIN.id + Nada -> [Variable no encontrada: Nada]", 12}}));
  // The answer is a copy: a host that changes it changes nothing of the engine's.
  Value copia = engine.GetAvisos();
  copia.AsList().Clear();
  EXPECT_EQ(JsonEncode(engine.GetAvisos()), dicho);
  EXPECT_EQ(Avisos(engine, mala, 12), dicho);
  EXPECT_EQ(Avisos(engine, Plantilla(Tabla("LIN.id")), 12), "[]");
  EXPECT_EQ(Avisos(engine, mala, 12), dicho);
  // A run that stops before its first page (a variable not sent) met nothing.
  EXPECT_EQ(Avisos(engine, Plantilla(Texto("t", "FALTA.x + Nada")), 3), "[]");
  EXPECT_NE(engine.cLastError, "");
  EXPECT_EQ(Avisos(engine, mala, 12), dicho);
  engine.End();
  EXPECT_EQ(JsonEncode(engine.GetAvisos()), "[]");
}

TEST(TKXEngineAvisos, AFailedRunKeepsWhatItMet) {
  TKXEngine engine;
  const std::string tabla = Tabla("LIN.id");
  const std::string salto = tabla.substr(0, tabla.find("\"hSections\"")) +
                            R"J("cPageBreakCondition":"Nada",)J" +
                            tabla.substr(tabla.find("\"hSections\""));
  EXPECT_EQ(Avisos(engine, Plantilla(Texto("t", "'a' + Otra") + salto), 5),
            Lista({{"Error de formula: 'a' + Otra -> [Variable no encontrada: Otra]", 1},
                   {"Condicion de salto no valida en tabla T: Nada -> [Variable no encontrada: "
                    "Nada]",
                    1}}));
  EXPECT_FALSE(engine.GetDocumento());
}

// A logical document's warnings join the job's, counted over every document; so do a
// label sheet's, one per label.
TEST(TKXEngineAvisos, LogicalDocumentsAndLabelsCountEveryPart) {
  const std::string documentos =
      Plantilla(Texto("t", "'a' + Nada") + Tabla("LIN.id + Otra"),
                R"J(,"hLogicalDocumentBreak":{"cDetailGroup":"LIN","aFields":["doc"]})J");
  EXPECT_EQ(Avisos(documentos, 10),
            Lista({{"Error de formula: 'a' + Nada -> [Variable no encontrada: Nada]", 3},
                   {"Error de formula: LIN.id + Otra -> [Variable no encontrada: Otra]", 10}}));
  const std::string etiquetas =
      Plantilla(Texto("t", "LIN.id + Nada"),
                R"J(,"cDocumentKind":"label","hLabelLayout":{"nColumns":2,"nRows":2})J");
  EXPECT_EQ(Avisos(etiquetas, 5),
            Lista({{"Error de formula: LIN.id + Nada -> [Variable no encontrada: Nada]", 5}}));
}

}  // namespace
}  // namespace kx
