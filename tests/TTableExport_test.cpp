#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "GruposAlAzar.h"
#include "Json.h"
#include "ObjectTestContext.h"
#include "TKXEngine.h"
#include "TTable.h"

namespace kx {
namespace {

Ref<TTable> Tabla(std::string_view json) {
  auto t = MakeRef<TTable>();
  t->Load(JsonDecode(json));
  t->Create();
  return t;
}

// A text cell whose object map is given as JSON.
std::string Texto(std::string_view objeto) {
  return R"({"nWidth":30,"hContent":{"cType":"TText","hObject":)" + std::string(objeto) + "}}";
}

// The options the engine gives the export: the job's whole record list.
Value OpcionesExportacion(const Value& registros) {
  return Value::NewMap({{"aRegistrosDetalleRuntime", registros},
                        {"lRegistrosDetalleGlobalRuntime", true},
                        {"nRegistroBase", 0},
                        {"nTotalRegistrosRuntime", static_cast<int64_t>(registros.Len())},
                        {"lSemanticDataRuntime", true}});
}

Value Exportar(TTable& t, const Value& registros, ObjectTestContext* propio = nullptr) {
  ObjectTestContext local(OpcionesExportacion(registros));
  ObjectTestContext& ctx = propio ? *propio : local;
  if (propio) ctx.contexto->SetOpciones(OpcionesExportacion(registros));
  ctx.contexto->Create();
  return t.GenerarDatosExportables(*ctx.contexto);
}

std::vector<std::string> Claves(const Value& columnas, std::string_view clave) {
  std::vector<std::string> out;
  for (const Value& c : columnas.AsList()) out.push_back(ValueString(c.Get(clave)));
  return out;
}

TEST(TTableExport, ColumnsAndRows) {
  auto t = Tabla(R"({"cId":"T1","cName":"  ","hSections":{"detail":{"aLines":[{"aCells":[)" +
                 Texto(R"({"cText":"LINEAS_FACTURA.CANTIDAD"})") +
                 R"(,{"nWidth":30,"hContent":{"cType":"TImage","hObject":{"cSource":" "}}}]}]}}})");
  EXPECT_TRUE(t->AnswersGenerarDatosExportables());
  const Value registros = JsonDecode(
      R"([{"LINEAS_FACTURA.CANTIDAD":2},{"LINEAS_FACTURA.CANTIDAD":3.5},"no es un registro"])");
  EXPECT_EQ(
      JsonEncode(Exportar(*t, registros)),
      R"({"cId":"T1","cName":"T1","aColumns":[)"
      R"({"cId":"column_1","cTitle":"CANTIDAD","cField":"CANTIDAD","cFormula":"LINEAS_FACTURA.CANTIDAD","cType":"N"},)"
      R"({"cId":"column_2","cTitle":"","cField":"","cFormula":" ","cType":"C"}],)"
      R"("aRows":[[2,""],[3.5,""]],"nRecordCount":2,)"
      R"("lHasGroupHeaders":false,"lHasGroupFooters":false,"lHasTotals":false})");
}

TEST(TTableExport, FieldNamesAndTitles) {
  // Header cells are flattened over the header lines; the k-th header cell titles column k.
  auto t =
      Tabla(R"({"hSections":{"header":{"aLines":[
        {"aCells":[)" +
            Texto(R"({"cText":"'  Cantidad '"})") + "," + Texto(R"({"cText":"1 + 1"})") + R"(]},
        {"aCells":[)" +
            Texto(R"({"cText":"  "})") + R"(]}]},
      "detail":{"aLines":[{"aCells":[)" +
            Texto(R"({"cText":" L.cantidad "})") + "," + Texto(R"({"cText":"L.precio"})") + "," +
            Texto(R"({"cText":"L.total"})") + R"(]},
        {"aCells":[)" +
            Texto(R"({"cText":"'L.texto'"})") + "," + Texto(R"({"cText":"L.a + L.b"})") + "," +
            Texto(R"({"cText":"total_2."})") + "," + Texto(R"({"cText":"campo_1"})") + R"(]}]}}})");
  const Value tabla = Exportar(*t, Value::NewList());
  const Value& columnas = tabla.Get("aColumns");
  EXPECT_EQ(Claves(columnas, "cField"),
            (std::vector<std::string>{"cantidad", "precio", "total", "", "", "", "campo_1"}));
  // A numeric title and a blank header formula give the field; past the header cells too.
  EXPECT_EQ(Claves(columnas, "cTitle"),
            (std::vector<std::string>{"Cantidad", "precio", "total", "", "", "", "campo_1"}));
  // No records: no rows, every column listed and of no kind yet.
  EXPECT_EQ(JsonEncode(tabla.Get("aRows")), "[]");
  EXPECT_EQ(tabla.Get("nRecordCount").Int(), 0);
  EXPECT_EQ(Claves(columnas, "cType"), std::vector<std::string>(7, "U"));
  EXPECT_EQ(tabla.Get("cName").Str(), "Tabla");
}

TEST(TTableExport, TextCellsExportWhatTheyPrint) {
  // "cFormula" is matched exactly and wins unless blank; "cText" in any letter case.
  struct Row {
    const char* objeto;
    const char* formula;
  };
  const Row rows[] = {
      {R"({"cText":"L.a","cFormula":"L.b"})", "L.b"},
      {R"({"cFormula":"  ","CTEXT":"L.a"})", "L.a"},
      {R"({"cformula":"L.b","cText":"L.a"})", "L.a"},
      {R"({"cFormula":"L.b"})", "L.b"},
      {R"({"cFont":"Arial"})", ""},
  };
  const Value registros = JsonDecode(R"([{"L.a":"alfa","L.b":"beta"}])");
  for (const Row& r : rows) {
    auto t = Tabla(
        R"({"cId":"T","nWidth":30,"nHeight":100,"hSections":{"detail":{"aLines":[{"aCells":[)" +
        Texto(r.objeto) + "]}]}}}");
    const Value tabla = Exportar(*t, registros);
    EXPECT_EQ(tabla.Get("aColumns").AsList()[0].Get("cFormula").Str(), r.formula) << r.objeto;
    if (!*r.formula) continue;
    // The page prints the exported value.
    Value opciones = OpcionesExportacion(registros);
    opciones.Set("lSemanticDataRuntime", false);
    ObjectTestContext ctx(opciones);
    std::string impreso;
    const Value pagina = t->GenerarRenderizable(*ctx.contexto);
    for (const Value& o : pagina.AsList())
      if (o.Get("id").Str() == "T_detail_r0_0_0_text") impreso = ValueString(o.Get("texto"));
    EXPECT_EQ(JsonEncode(tabla.Get("aRows")), "[[\"" + impreso + "\"]]") << r.objeto;
  }
}

TEST(TTableExport, OtherContentKindsAndTheirSources) {
  auto t = Tabla(R"({"hSections":{"detail":{"aLines":[{"aCells":[
      {"hContent":{"cType":"richText","hObject":{"cContent":"L.a","cText":"L.b"}}},
      {"hContent":{"cType":"richText","hObject":{"cText":"L.b"}}},
      {"hContent":{"cType":"TBarcode","hObject":{"cContent":"L.a","cText":"L.b"}}},
      {"hContent":{"cType":"TImage","hObject":{"cSource":"L.b"}}},
      {"nWidth":10}]}]}}})");
  const Value tabla = Exportar(*t, Value::NewList());
  EXPECT_EQ(Claves(tabla.Get("aColumns"), "cFormula"),
            (std::vector<std::string>{"L.a", "L.b", "L.a", "L.b", ""}));
}

TEST(TTableExport, LinesShownPerRecord) {
  // Line 1 shows only for id 0, line 2 is suppressed for id 1, line 3 ignores empty values
  // in print only; a record whose every line is hidden gives no row.
  auto t =
      Tabla(R"({"cId":"T","hSections":{"detail":{"aLines":[
      {"cConditionFormula":"L.id < 3","aCells":[)" +
            Texto(R"({"cText":"L.id"})") + R"(]},
      {"cConditionFormula":"L.id == 0","aCells":[)" +
            Texto(R"({"cText":"'par'"})") + R"(]},
      {"cConditionFormula":"L.id < 3","cSuppressCondition":"L.id == 1","aCells":[)" +
            Texto(R"({"cText":"L.fecha"})") + R"(]},
      {"cConditionFormula":"L.id < 3","lIgnoreEmpty":true,"aCells":[)" +
            Texto(R"({"cText":"'  '"})") + "," + Texto(R"({"cText":"NOEXISTE"})") + R"(]}]}}})");
  Value registros = Value::NewList();
  for (int i = 0; i < 4; ++i)
    registros.Push(Value::NewMap({{"L.id", i}, {"L.fecha", Value::DateYMD(2024, 1, 2 + i)}}));
  ObjectTestContext ctx;
  const Value tabla = Exportar(*t, registros, &ctx);
  const List& filas = tabla.Get("aRows").AsList();
  ASSERT_EQ(filas.size(), 3u);
  EXPECT_EQ(tabla.Get("nRecordCount").Int(), 3);
  EXPECT_EQ(JsonEncode(filas[0]).substr(0, 9), R"([0,"par",)");
  EXPECT_EQ(JsonEncode(filas[1]).substr(0, 17), R"([1,null,null,"  ")");
  EXPECT_TRUE(filas[2].AsList()[2].IsDate());
  EXPECT_EQ(filas[2].AsList()[3].Str(), "  ");
  EXPECT_EQ(Claves(tabla.Get("aColumns"), "cType"),
            (std::vector<std::string>{"N", "C", "D", "C", "C"}));
  // A formula error is exported as its error text.
  EXPECT_NE(ValueString(filas[0].AsList()[4]), "");
  // The line tests warn in the export's context.
  const std::vector<std::string> avisos = ctx.Avisos();
  EXPECT_NE(std::find(avisos.begin(), avisos.end(), "Linea de tabla detail suprimida en T[2]"),
            avisos.end());
  EXPECT_EQ(ctx.contexto->nIndiceRegistro, -1);
}

TEST(TTableExport, EngineAttachesDataTablesAfterARun) {
  const std::string plantilla = R"({"cFormatVersion":"1.0","nPaperWidth":210,"nPaperHeight":297,
      "aObjects":[{"cType":"TTable","cId":"lineas","cName":"Lineas","nWidth":100,"nHeight":40,
        "hSections":{"header":{"aLines":[{"aCells":[)" +
                                Texto(R"({"cText":"'Articulo'"})") + R"(]}]},
        "detail":{"aLines":[{"nHeight":10,"aCells":[)" +
                                Texto(R"({"cText":"LIN.art"})") + "," +
                                Texto(R"({"cText":"LIN.importe"})") + R"(]}]}}}]})";
  for (int n : {0, 9}) {
    TKXEngine engine;
    engine.SetPlantillaContent(Value(plantilla));
    engine.OpenJob();
    engine.SendDataVar(Value("CAB"), Value::NewMap({{"cliente", "X"}}));
    // An invoice without lines still states their fields.
    engine.SendDetalleSchema(Value("LIN"), Value::NewMap({{"art", ""}, {"importe", 0}}));
    for (int i = 1; i <= n; ++i)
      engine.SendDetalle(
          Value("LIN"),
          Value::NewMap({{"art", std::string("A").append(std::to_string(i))}, {"importe", i}}));
    engine.CloseJob();
    Ref<TDocumentoRenderizable> doc = engine.RunEngine();
    ASSERT_TRUE(doc) << engine.cLastError;
    const Value& tablas = doc->GetDataTables();
    ASSERT_EQ(tablas.Len(), 1u) << n;
    const Value& tabla = tablas.AsList()[0];
    EXPECT_EQ(tabla.Get("nRecordCount").Int(), n);
    EXPECT_EQ(tabla.Get("cName").Str(), "Lineas");
    EXPECT_EQ(tabla.Get("cEncoding").Str(), "UTF-8");
    EXPECT_EQ(Claves(tabla.Get("aColumns"), "cTitle"),
              (std::vector<std::string>{"Articulo", "importe"}));
    if (n > 0) {
      EXPECT_EQ(JsonEncode(tabla.Get("aRows").AsList()[8]), R"(["A9",9])");
    }
  }
}

// The printed texts of one detail cell, in page order, and the exported values of its column
// (rows whose line is shown), as texts.
struct ImpresoYExportado {
  std::vector<std::string> impreso, exportado;
};

ImpresoYExportado CorrerYExportar(const std::string& plantilla, const std::vector<int>& importes,
                                  const std::string& celda, size_t columna, std::string* error) {
  TKXEngine engine;
  engine.SetPlantillaContent(Value(plantilla));
  engine.OpenJob();
  for (size_t i = 0; i < importes.size(); ++i)
    engine.SendDetalle(Value("LIN"), Value::NewMap({{"cli", i < importes.size() / 2 ? "A" : "B"},
                                                    {"importe", importes[i]}}));
  engine.CloseJob();
  ImpresoYExportado out;
  Ref<TDocumentoRenderizable> doc = engine.RunEngine();
  if (!doc) {
    *error = engine.cLastError;
    return out;
  }
  for (int64_t p = 1; p <= doc->TotalPaginas(); ++p) {
    const Value pagina = doc->GetPagina(p);
    for (const Value& o : pagina.Get("objetos").AsList()) {
      const std::string_view id = o.Get("id").Str();
      if (id.starts_with("t_detail_r") && id.ends_with(celda))
        out.impreso.emplace_back(o.Get("texto").Str());
    }
  }
  const Value& tabla = doc->GetDataTables().AsList()[0];
  for (const Value& fila : tabla.Get("aRows").AsList()) {
    const Value& v = fila.AsList()[columna];
    if (!v.IsNil()) out.exportado.push_back(ValueString(v));
  }
  return out;
}

// A table of 48 mm over the records, its sections given, under the sum TOTAL of LIN.importe;
// with two passes, a page x of y beside it.
std::string PlantillaDeSumas(const std::string& extra, const std::string& secciones,
                             bool dosPasadas,
                             const std::string& sumas = R"({"TOTAL":{"formula":"LIN.importe"}})") {
  const std::string paginas =
      dosPasadas ? R"J({"cType":"TText","cId":"n","nTop":280,"nWidth":50,"nHeight":5,
          "cText":"'Hoja ' + PAGE() + ' de ' + TOTALPAGES()"},)J"
                 : "";
  return R"({"cFormatVersion":"1.0","nPaperWidth":210,"nPaperHeight":297,)" + extra +
         R"("hAcumVars":)" + sumas + R"(,"aObjects":[)" + paginas +
         R"({"cType":"TTable","cId":"t","nTop":10,"nWidth":100,"nHeight":48,"hSections":{)" +
         secciones + "}}]}";
}

// Runs the template `plantilla(dosPasadas)` gives over the amounts 1 to 12, in one pass and in
// two, and checks the exported values of one cell against those expected and those printed.
template <class F>
void ComprobarSumasExportadas(const std::string& que, F plantilla, const std::string& celda,
                              size_t columna, const std::vector<std::string>& esperado) {
  const std::vector<int> importes = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  for (const bool dosPasadas : {false, true}) {
    std::string error;
    const ImpresoYExportado r =
        CorrerYExportar(plantilla(dosPasadas), importes, celda, columna, &error);
    ASSERT_TRUE(error.empty()) << que << ": " << error;
    EXPECT_EQ(r.exportado, esperado) << que << (dosPasadas ? ", two passes" : "");
    EXPECT_EQ(r.impreso, r.exportado) << que << (dosPasadas ? ", two passes" : "");
  }
}

TEST(TTableExport, RowsHoldTheRunningSumsThePagesPrint) {
  // Eight records a page; the sum column prints the sum before the record's own amount. The
  // export holds the same values, with groups whose footer resets the sum, lines hidden by
  // their condition (neither printed nor summed) and hidden lines that force the sum, in one
  // pass and in two (a page count on every page).
  const std::string celda = Texto(R"({"cText":"SUM.TOTAL"})");
  const std::string linea = R"({"nHeight":6,"aCells":[)" + Texto(R"({"cText":"LIN.cli"})") + "," +
                            Texto(R"({"cText":"LIN.importe"})") + "," + celda + "]";
  struct Caso {
    const char* que;
    std::string secciones;
    std::vector<std::string> esperado;  // the export's sums, as texts
  };
  const Caso casos[] = {
      {"running sum",
       R"("detail":{"aLines":[)" + linea + "}]}",
       {"0", "1", "3", "6", "10", "15", "21", "28", "36", "45", "55", "66"}},
      {"a group footer resets the sum",
       R"("detail":{"aLines":[)" + linea + R"(}]},"groupFooter":{"aLines":[{"nHeight":6,
         "cGroupExpression":"LIN.cli","aResetAcumuladores":["TOTAL"],"aCells":[)" +
           celda + "]}]}",
       {"0", "1", "3", "6", "10", "15", "0", "7", "15", "24", "34", "45"}},
      {"a line hidden by its condition",
       R"("detail":{"aLines":[)" + linea + R"(,"cConditionFormula":"LIN.importe != 5"}]})",
       {"0", "1", "3", "6", "10", "16", "23", "31", "40", "50", "61"}},
      {"a suppressed line that forces the sum",
       R"("detail":{"aLines":[)" + linea +
           R"(,"cConditionFormula":"LIN.importe != 5"},{"nHeight":6,
         "cSuppressCondition":"LIN.importe == 5","lForceAccumulators":true,"aCells":[)" +
           Texto(R"({"cText":"'-'"})") + "]}]}",
       {"0", "1", "3", "6", "15", "21", "28", "36", "45", "55", "66"}},
  };
  for (const Caso& c : casos)
    ComprobarSumasExportadas(
        c.que, [&](bool dosPasadas) { return PlantillaDeSumas("", c.secciones, dosPasadas); },
        "_0_2_text", 2, c.esperado);
}

TEST(TTableExport, SumsReadThroughConditionsAndUserVariablesAreKept) {
  // No cell names a sum, yet the rows read one: through a line's condition (records print
  // while the sum before them is under 10), or through a user variable of the sum.
  struct Caso {
    const char* que;
    std::string extra, linea, celda;
    size_t columna;
    std::vector<std::string> esperado;
  };
  const std::string campos =
      Texto(R"({"cText":"LIN.cli"})") + "," + Texto(R"({"cText":"LIN.importe"})");
  const Caso casos[] = {
      {"a condition",
       "",
       R"({"nHeight":6,"cConditionFormula":"SUM.TOTAL < 10","aCells":[)" + campos + "]}",
       "_0_1_text",
       1,
       {"1", "2", "3", "4"}},
      {"a user variable",
       R"("hUserVars":{"acumulado":{"formula":"SUM.TOTAL"}},)",
       R"({"nHeight":6,"aCells":[)" + campos + "," + Texto(R"({"cText":"Acumulado"})") + "]}",
       "_0_2_text",
       2,
       {"0", "1", "3", "6", "10", "15", "21", "28", "36", "45", "55", "66"}},
  };
  for (const Caso& c : casos)
    ComprobarSumasExportadas(
        c.que,
        [&](bool dosPasadas) {
          return PlantillaDeSumas(c.extra, R"("detail":{"aLines":[)" + c.linea + "]}", dosPasadas);
        },
        c.celda, c.columna, c.esperado);
}

TEST(TTableExport, SumsReadThroughOtherSumsAreKeptWithTheirResets) {
  // The rows show DOBLE, which adds TOTAL on every record: TOTAL is kept although no cell
  // names it, and so is the group footer that resets it, while the footer's reset of a sum
  // nothing reads changes nothing.
  const std::string sumas = R"({"TOTAL":{"formula":"LIN.importe"},
      "DOBLE":{"formula":"SUM.TOTAL"},"OTRA":{"formula":"LIN.importe * 2"}})";
  auto secciones = [](const char* celda, const char* reinicio) {
    std::string linea = R"({"nHeight":6,"aCells":[)" + Texto(R"({"cText":"LIN.cli"})") + "," +
                        Texto(R"({"cText":"LIN.importe"})") + "," +
                        Texto(std::string(R"({"cText":")") + celda + R"("})") + "]}";
    std::string s = R"("detail":{"aLines":[)" + linea + "]}";
    if (reinicio)
      s += R"(,"groupFooter":{"aLines":[{"nHeight":6,"cGroupExpression":"LIN.cli",
          "aResetAcumuladores":[")" +
           std::string(reinicio) + R"("],"aCells":[)" + Texto(R"({"cText":"'-'"})") + "]}]}";
    return s;
  };
  struct Caso {
    const char* que;
    std::string secciones;
    std::vector<std::string> esperado;
  };
  // DOBLE adds the TOTAL of the records before each one.
  const std::vector<std::string> seguido = {"0",  "0",  "1",  "4",   "10",  "20",
                                            "35", "56", "84", "120", "165", "220"};
  const Caso casos[] = {
      {"a sum of a sum", secciones("SUM.DOBLE", nullptr), seguido},
      {"the same through an @ name", secciones("@DOBLE", nullptr), seguido},
      {"the sum it reads is reset by the group",
       secciones("SUM.DOBLE", "TOTAL"),
       {"0", "0", "1", "4", "10", "20", "35", "35", "42", "57", "81", "115"}},
      {"a reset of a sum nothing reads", secciones("SUM.DOBLE", "OTRA"), seguido},
  };
  for (const Caso& c : casos)
    ComprobarSumasExportadas(
        c.que,
        [&](bool dosPasadas) { return PlantillaDeSumas("", c.secciones, dosPasadas, sumas); },
        "_0_2_text", 2, c.esperado);
}

TEST(TTableExport, GeneratedGroupsResetTheSumsTheRowsShow) {
  // 400 records over two break expressions whose values of every plain kind repeat at
  // random: the running count resets exactly where the expression text of a record's values
  // differs from the next record's, the values read from fields or from an expression.
  const GruposAlAzar grupos = RegistrosDeGruposAlAzar(11, 400);
  const Value& registros = grupos.registros;
  const std::vector<std::string>& firmas = grupos.firmas;
  std::vector<std::string> esperado;
  int64_t cuenta = 0;
  for (size_t i = 0; i < firmas.size(); ++i) {
    esperado.push_back(std::to_string(cuenta++));
    if (i + 1 < firmas.size() && firmas[i + 1] != firmas[i]) cuenta = 0;
  }
  // A footer that resets after a group's last record and a header that resets before its
  // first give the same rows.
  for (const char* seccion : {"groupFooter", "groupHeader"})
    for (const char* segunda : {"L.h", "IIf(.T., L.h, 0)"}) {
      auto t = Tabla(std::string(R"({"cId":"T","hGroup":{"aBreakExpressions":["L.g",")") + segunda +
                     R"("]},"hSections":{"detail":{"aLines":[{"aCells":[)" +
                     Texto(R"({"cText":"SUM.N"})") + R"(]}]},")" + seccion + R"(":{"aLines":[{
                   "aResetAcumuladores":["N"],"aCells":[]}]}}})");
      Value opciones = OpcionesExportacion(registros);
      opciones.Set("hUserVars", Value::NewMap());
      opciones.Set("hAcumVars", JsonDecode(R"({"N":{"formula":"1"}})"));
      ObjectTestContext ctx(opciones);
      ctx.contexto->Create();
      const Value tabla = t->GenerarDatosExportables(*ctx.contexto);
      std::vector<std::string> filas;
      for (const Value& fila : tabla.Get("aRows").AsList())
        filas.push_back(ValueString(fila.AsList()[0]));
      EXPECT_EQ(filas, esperado) << seccion << ", " << segunda;
    }
}

TEST(TTableExport, ATableStartingPastTheFirstRecordFollowsItsGroupFromBefore) {
  // The table lists the run's records from the third: its first record continues the group of
  // the record before it, and the sums start at the table, reset where a group ends.
  auto t = Tabla(R"({"cId":"T","hSections":{"detail":{"aLines":[{"aCells":[)" +
                 Texto(R"({"cText":"L.g"})") + "," + Texto(R"({"cText":"SUM.TOTAL"})") +
                 R"(]}]},"groupFooter":{"aLines":[{"cGroupExpression":"L.g",
                 "aResetAcumuladores":["TOTAL"],"aCells":[)" +
                 Texto(R"({"cText":"SUM.TOTAL"})") + "]}]}}})");
  const Value registros = JsonDecode(R"([{"L.g":"a","L.importe":1},{"L.g":"a","L.importe":2},
      {"L.g":"a","L.importe":3},{"L.g":"b","L.importe":4},{"L.g":"b","L.importe":5},
      {"L.g":"c","L.importe":6}])");
  Value opciones =
      Value::NewMap({{"aRegistrosDetalleRuntime", registros},
                     {"lRegistrosDetalleGlobalRuntime", false},
                     {"nRegistroBase", 2},
                     {"nTotalRegistrosRuntime", 6},
                     {"hAcumVars", JsonDecode(R"({"TOTAL":{"formula":"L.importe"}})")}});
  ObjectTestContext ctx(opciones);
  ctx.contexto->Create();
  const Value tabla = t->GenerarDatosExportables(*ctx.contexto);
  std::vector<std::string> filas;
  for (const Value& fila : tabla.Get("aRows").AsList())
    filas.push_back(ValueString(fila.AsList()[0]) + " " + ValueString(fila.AsList()[1]));
  EXPECT_EQ(filas, (std::vector<std::string>{"a 0", "b 0", "b 4", "c 0"}));
}

}  // namespace
}  // namespace kx
