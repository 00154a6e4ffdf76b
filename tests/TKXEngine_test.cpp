#include "TKXEngine.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <map>
#include <random>
#include <thread>

#include "Json.h"
#include "LastPageOverflow.h"
#include "Platform.h"
#include "SpoolDamage.h"
#include "TKXEngineInterno.h"
#include "TestFolder.h"

namespace kx {
namespace {

const char* kLabelTemplate =
    R"({"cFormatVersion":"1.0","cDocumentKind":"label","nPaperWidth":210,"nPaperHeight":297,
        "hLabelLayout":{"nColumns":"3","nRows":7.9},"aObjects":[]})";

TEST(TKXEngine, InitialState) {
  TKXEngine engine;
  engine.Create();
  EXPECT_EQ(engine.cPlantilla, "");
  EXPECT_EQ(engine.cPlantillaMode, "PlantillaName");
  EXPECT_EQ(engine.cInputEncoding, "WINDOWS-1252");
  EXPECT_FALSE(engine.lJobAbierto);
  EXPECT_EQ(engine.GetBuildId(), "20260830-logical-documents-v2");
  EXPECT_EQ(
      JsonEncode(engine.GetPaginationDiagnostics()),
      R"({"nTotalDataLines":0,"nLastDataLine":0,"nPages":0,"cTerminationReason":"not-started",)"
      R"("lLastPageSplit":false,"nLastPageSplitPages":0})");
  Value perf = engine.GetPerformanceDiagnostics();
  ASSERT_EQ(perf.Len(), 21u);
  EXPECT_EQ(perf.AsMap().KeyAt(0), "cMode");
  EXPECT_EQ(perf.Get("cMode").Str(), "not-started");
  EXPECT_EQ(perf.AsMap().KeyAt(20), "nTotalMs");
  EXPECT_TRUE(perf.Get("nPageExecutions").IsInt());
  EXPECT_TRUE(perf.Get("nTableRecordsExamined").IsInt());
  EXPECT_EQ(JsonEncode(engine.GetInputDiagnostics()),
            R"({"nNormalizeMs":0.0,"nAccumulateMs":0.0,"nRecords":0,"nValues":0})");
  // Diagnostics are copies: changing one does not reach the engine.
  engine.GetPaginationDiagnostics().Set("nPages", 9);
  EXPECT_EQ(engine.hPaginationDiagnostics.Get("nPages").Int(), 0);
  EXPECT_TRUE(
      engine.hOpcionesRuntime.Get("aDataVarChangesRuntime").SameRef(engine.aDataVarChanges));
}

TEST(TKXEngine, EncodingNames) {
  struct Row {
    const char* input;
    const char* output;
    bool ok;
    const char* in;
    const char* out;
  };
  Row rows[] = {
      {"utf_8", "cp1252", true, "UTF-8", "WINDOWS-1252"},
      {" win ", "UTF8", true, "WINDOWS-1252", "UTF-8"},
      {"latin1", "UTF-8", false, "WINDOWS-1252", "WINDOWS-1252"},
      {"UTF-8", "ascii", false, "WINDOWS-1252", "WINDOWS-1252"},
  };
  for (const Row& r : rows) {
    TKXEngine engine;
    EXPECT_EQ(engine.SetEncoding(Value(r.input), Value(r.output)), r.ok) << r.input;
    EXPECT_EQ(engine.cInputEncoding, r.in) << r.input;
    EXPECT_EQ(engine.cOutputEncoding, r.out) << r.input;
    EXPECT_EQ(engine.cEncodingError.empty(), r.ok) << r.input;
  }
  TKXEngine engine;
  EXPECT_FALSE(engine.SetEncoding(Value("x"), Value("UTF8")));
  EXPECT_EQ(engine.cEncodingError,
            "Codificacion no admitida. Use WINDOWS-1252, CP1252, WIN, UTF-8 o UTF8.");
  EXPECT_FALSE(engine.SetInputEncoding(Value("ebcdic")));
  EXPECT_EQ(engine.cEncodingError, "Codificacion de entrada no admitida: ebcdic");
  EXPECT_FALSE(engine.SetOutputEncoding(Value(5)));
  EXPECT_EQ(engine.cEncodingError, "Codificacion de salida no admitida: 5");
  EXPECT_TRUE(engine.SetInputEncoding(Value("utf8")));
  EXPECT_EQ(engine.cEncodingError, "");
  EXPECT_EQ(engine.cInputEncoding, "UTF-8");
  engine.SetEncodingWIN();
  EXPECT_EQ(engine.cInputEncoding, "WINDOWS-1252");
  engine.SetEncodingUTF8();
  EXPECT_EQ(engine.cOutputEncoding, "UTF-8");
}

TEST(TKXEngine, UserSectionCut) {
  struct Row {
    const char* text;
    const char* content;
  };
  Row rows[] = {
      {"{\"a\":1}\r\n[UserSection]\r\nx=1", "{\"a\":1}"},
      {"{\"a\":1}\n\n[UserSection]", "{\"a\":1}"},
      {"[UserSection]\nrest", ""},
      {"{}\n [UserSection]\n", "{}\n [UserSection]\n"},              // a blank before the marker
      {"{}\n[UserSection] \n", "{}\n[UserSection] \n"},              // a blank after it
      {"{} [UserSection]\n", "{} [UserSection]\n"},                  // text before it on the line
      {"{}\n[usersection]\n", "{}\n[usersection]\n"},                // case-sensitive
      {"a\n[UserSection]x\n[UserSection]\nb", "a\n[UserSection]x"},  // the first that counts
  };
  for (const Row& r : rows) {
    TKXEngine engine;
    engine.SetPlantillaContent(Value(r.text));
    EXPECT_EQ(engine.cPlantillaContent, r.content) << r.text;
    EXPECT_EQ(engine.GetPlantillaContent(), r.content) << r.text;
    EXPECT_EQ(engine.cPlantillaMode, "PlantillaContent");
  }
  TKXEngine engine;
  engine.SetPlantillaContent(Value(5));
  EXPECT_EQ(engine.cPlantillaContent, "");
}

TEST(TKXEngine, TemplateKinds) {
  const char* kx12 =
      "\r\n  \r\n[List description]\r\n[Description]\r\nx=1\r\n[Layout]\r\n  units=scm-units  \r\n";
  struct Row {
    std::string text;
    const char* kind;
  };
  Row rows[] = {
      {R"({"cFormatVersion":"1.0","aObjects":[]})", "KXTARVEX"},
      {R"({"cFormatVersion":" ","aObjects":[]})", "DESCONOCIDO"},
      {R"({"cFormatVersion":"1.0","aObjects":{}})", "DESCONOCIDO"},
      {R"({"cFormatVersion":2,"aObjects":[]} trailing)", "KXTARVEX"},
      {"{\"cFormatVersion\":\"1.0\",\"aObjects\":[],\"x\":\"\xF1\"}", "DESCONOCIDO"},  // not UTF-8
      {kx12, "KX12"},
      {"[Label description]\n[Description]\n[Layout]\nUNITS=SCM-UNITS", "KX12"},
      {"[List description]\n[Description]\n[layout]\nUNITS=SCM-UNITS", "DESCONOCIDO"},
      {"x\n[List description]\n[Description]\n[Layout]\nUNITS=SCM-UNITS", "DESCONOCIDO"},
      {"", "DESCONOCIDO"},
  };
  TKXEngine engine;
  for (const Row& r : rows) EXPECT_EQ(engine.GetTipoPlantilla(Value(r.text)), r.kind) << r.text;
  EXPECT_FALSE(engine.IsPlantillaKXTarvex(Value(5)));
  EXPECT_FALSE(engine.IsPlantillaKX12(Value()));
}

TEST(TKXEngine, OpenJobResolvesTemplatesUnderLbl) {
  // A fresh working folder, so "lbl/" lookups are isolated.
  TempDir folder;
  WorkingFolder cwd(folder.path());
  folder.Write("lbl/solo.lbl", std::string(kLabelTemplate) + "\x1A");
  TKXEngine engine;
  engine.OpenJob(Value("solo.lbl"));
  EXPECT_EQ(engine.cPlantilla, "lbl/solo.lbl");
  EXPECT_TRUE(engine.lJobAbierto);
  EXPECT_TRUE(engine.oPlantillaRuntime->IsLabelDocument());
  EXPECT_EQ(engine.GetPlantillaContent(), kLabelTemplate);  // the final 0x1A is dropped
  Value summary = engine.CloseJob();
  EXPECT_FALSE(engine.lJobAbierto);
  EXPECT_EQ(summary.Get("cPlantilla").Str(), "lbl/solo.lbl");
  const char* keys[] = {"cPlantilla",  "aStructVar",      "aRegVar",  "aDataVarChanges",
                        "aStructLine", "aRegLine",        "aUsedVar", "aMissingVar",
                        "hAskStrings", "hOpcionesRuntime"};
  ASSERT_EQ(summary.Len(), 10u);
  for (size_t i = 0; i < 10; ++i) EXPECT_EQ(summary.AsMap().KeyAt(i), keys[i]);
  EXPECT_TRUE(summary.Get("aRegVar").IsList());
  EXPECT_EQ(summary.Get("aRegVar").Len(), 0u);                    // no variables were sent
  EXPECT_TRUE(summary.Get("aRegLine").SameRef(engine.aRegLine));  // handed out, not copied

  TKXEngine missing;
  missing.OpenJob(Value("nowhere.lbl"));
  EXPECT_EQ(missing.cPlantilla, "nowhere.lbl");
  EXPECT_EQ(missing.GetPlantillaContent(), "");
  EXPECT_EQ(missing.oPlantillaRuntime->GetPagina().Get("ancho").Double(), 210.0);

  TKXEngine unnamed;
  unnamed.OpenJob();
  EXPECT_EQ(unnamed.cPlantilla, "");
  EXPECT_TRUE(unnamed.oPlantillaRuntime->GetObjetos().empty());
}

TEST(TKXEngine, ContentModeTemplates) {
  TKXEngine engine;
  engine.SetPlantillaContent(Value(std::string(kLabelTemplate) + "\r\n[UserSection]\r\nx"));
  engine.OpenJob();
  EXPECT_TRUE(engine.oPlantillaRuntime->IsLabelDocument());
  EXPECT_EQ(engine.CloseJob().Get("cPlantilla").Str(), "");
  engine.SetPlantillaContent(Value("[List description]\n[Description]\n[Layout]\nUNITS=SCM-UNITS"));
  engine.OpenJob();
  EXPECT_FALSE(
      engine.oPlantillaRuntime->IsLabelDocument());  // the foreign kind gives an empty report
  EXPECT_EQ(engine.oPlantillaRuntime->GetData().Len(), 0u);
}

TEST(TKXEngine, PrintAndExportAreNotAvailable) {
  TKXEngine engine;
  EXPECT_EQ(
      JsonEncode(engine.Print()),
      R"({"lOk":false,"cEstado":"no_implementado","cMensaje":"La impresion del Runtime se implementara en una fase posterior."})");
  EXPECT_EQ(
      JsonEncode(engine.Export(Value("PDF"))),
      R"({"lOk":false,"cEstado":"no_implementado","cFormato":"PDF","cMensaje":"La exportacion del Runtime se implementara en una fase posterior."})");
  EXPECT_EQ(engine.Export(Value(5)).Get("cFormato").Str(), "");
}

TEST(TKXEngine, LabelPrintLayout) {
  TKXEngine report;
  report.SetPlantillaContent(Value(R"({"cFormatVersion":"1.0","aObjects":[]})"));
  EXPECT_EQ(JsonEncode(report.GetLabelPrintLayout()),
            R"({"lLabelDocument":false,"nPaperWidth":0.0,"nPaperHeight":0.0,"nCapacity":0})");

  TKXEngine label;
  label.SetPlantillaContent(Value(kLabelTemplate));
  Value layout = label.GetLabelPrintLayout();
  ASSERT_EQ(layout.Len(), 16u);
  EXPECT_TRUE(layout.Get("lLabelDocument").Bool());
  EXPECT_EQ(layout.Get("nPaperWidth").Double(), 210.0);
  EXPECT_EQ(layout.Get("nCapacity").Int(), 21);  // 7 rows of 3
  EXPECT_EQ(layout.AsMap().KeyAt(4), "nLabelWidth");
}

TEST(TKXEngine, EtiquetaInicialAndEndReset) {
  TKXEngine engine;
  struct Row {
    Value in;
    int64_t out;
  };
  Row rows[] = {{Value(3.7), 3}, {Value(-2), 1}, {Value("5"), 1}, {Value(), 1}};
  for (const Row& r : rows) {
    engine.SetEtiquetaInicial(r.in);
    EXPECT_EQ(engine.hOpcionesRuntime.Get("nEtiquetaInicial").Int(), r.out);
  }
  engine.SetEncodingUTF8();
  engine.OpenJob(Value("x.lbl"));
  engine.End();
  EXPECT_EQ(engine.cPlantilla, "");
  EXPECT_EQ(engine.cInputEncoding, "WINDOWS-1252");
  EXPECT_FALSE(engine.oPlantillaRuntime);
  EXPECT_FALSE(engine.GetDocumento());
  EXPECT_FALSE(engine.hOpcionesRuntime.Has("nEtiquetaInicial"));
}

}  // namespace
}  // namespace kx

namespace kx {
namespace {

Value Fields(std::initializer_list<std::pair<std::string_view, Value>> items) {
  return Value::NewMap(items);
}

TEST(TKXEngineInput, GuardsIgnoreInputOutsideAnOpenJob) {
  TKXEngine engine;
  engine.SendDetalle(Value("LIN"), Fields({{"a", 1}}));  // before OpenJob
  engine.OpenJob();
  engine.SendDetalle(Value(""), Fields({{"a", 1}}));
  engine.SendDetalle(Value("   "), Fields({{"a", 1}}));
  engine.SendDetalle(Value("LIN"), Value::NewList({1}));
  engine.SendDataVar(Value(" "), Fields({{"a", 1}}));
  engine.SendDetalleSchema(Value("LIN"), Value(5));
  EXPECT_EQ(engine.aRegLine.Len(), 0u);
  EXPECT_EQ(engine.aStructVar.Len(), 0u);
  engine.CloseJob();
  engine.SendDataVarAt(Value(1), Value("CAB"), Fields({{"a", 1}}));
  engine.SendDetalle(Value("LIN"), Fields({{"a", 1}}));
  EXPECT_EQ(engine.aRegLine.Len(), 0u);
  EXPECT_EQ(engine.aDataVarChanges.Len(), 0u);
}

TEST(TKXEngineInput, NamesAreNormalisedAndFolded) {
  TKXEngine engine;
  engine.OpenJob();
  engine.SendDetalle(Value(" cli "), Fields({{"Nombre", "Ana"},
                                             {"Direcci\xF3n", "x"},
                                             {"\xDC"
                                              "ber",
                                              1},
                                             {"A\xF1o", 2025},
                                             {" Trim ", "t"}}));
  const List& cols = engine.aStructLine.AsList();
  ASSERT_EQ(cols.size(), 5u);
  EXPECT_EQ(cols[0].Get("grupo").Str(), "CLI");
  EXPECT_EQ(cols[0].Get("nombre").Str(), "Nombre");     // case kept
  EXPECT_EQ(cols[1].Get("nombre").Str(), "Direccion");  // 0xF3 is an acute o in Windows-1252
  EXPECT_EQ(cols[2].Get("nombre").Str(), "Uber");
  EXPECT_EQ(cols[3].Get("nombre").Str(), "A\xC3\xB1o");  // the n with tilde stays
  EXPECT_EQ(cols[4].Get("nombre").Str(), "Trim");        // trimmed, so records and tables agree
  EXPECT_TRUE(engine.hStructLineIndex.Has("CLI.NOMBRE"));
  EXPECT_TRUE(engine.hStructLineIndex.Has("CLI.TRIM"));

  TKXEngine utf8;
  utf8.SetEncodingUTF8();
  utf8.OpenJob();
  utf8.SendDetalle(Value("g"), Fields({{"Direcci\xC3\xB3n", "\xC3\xB1"}}));
  EXPECT_EQ(utf8.aStructLine.AsList()[0].Get("nombre").Str(), "Direccion");
  EXPECT_EQ(utf8.aRegLine.AsList()[0].AsList()[0].Str(), "\xC3\xB1");

  TKXEngine win;  // a UTF-8 text sent as Windows-1252 is converted again, byte by byte
  win.OpenJob();
  win.SendDetalle(Value("g"), Fields({{"v", "\xC3\xB1"}}));
  EXPECT_EQ(win.aRegLine.AsList()[0].AsList()[0].Str(), "\xC3\x83\xC2\xB1");

  TKXEngine group;  // group names are converted too, never left as invalid UTF-8
  group.OpenJob();
  group.SendDetalle(Value("l\xEDnea"), Fields({{"v", 1}}));
  EXPECT_EQ(group.aStructLine.AsList()[0].Get("grupo").Str(), "L\xC3\xADNEA");
  EXPECT_TRUE(IsValidUtf8(JsonEncode(group.CloseJob())));
}

TEST(TKXEngineInput, StructureInference) {
  struct Row {
    Value value;
    const char* json;
  };
  Row rows[] = {
      {Value(12), R"({"grupo":"G","nombre":"f","tipo":"numerico","longitud":2,"decimales":0})"},
      {Value::Real(12.5, 2),
       R"({"grupo":"G","nombre":"f","tipo":"numerico","longitud":5,"decimales":1})"},
      {Value::Real(0.125, 3),
       R"({"grupo":"G","nombre":"f","tipo":"numerico","longitud":5,"decimales":3})"},
      {Div(1, 3), R"({"grupo":"G","nombre":"f","tipo":"numerico","longitud":4,"decimales":10})"},
      {Value::Real(0.00000000001, 11),
       R"({"grupo":"G","nombre":"f","tipo":"numerico","longitud":13,"decimales":0})"},
      {Value(true), R"({"grupo":"G","nombre":"f","tipo":"logico","longitud":1})"},
      {Value::DateYMD(2024, 1, 2), R"({"grupo":"G","nombre":"f","tipo":"fecha","longitud":8})"},
      {Value("a\xF1"), R"({"grupo":"G","nombre":"f","tipo":"texto","longitud":3})"},
      {Value::NewList({1}), R"({"grupo":"G","nombre":"f","tipo":"texto","longitud":0})"},
      {Value(), R"({"grupo":"G","nombre":"f","tipo":"texto"})"},
  };
  for (const Row& r : rows) {
    TKXEngine engine;
    engine.OpenJob();
    engine.SendDetalle(Value("g"), Fields({{"f", r.value}}));
    engine.SendDetalle(Value("g"), Fields({{"f", "later values never change it"}}));
    EXPECT_EQ(JsonEncode(engine.aStructLine.AsList()[0]), r.json) << ExprText(r.value);
  }
}

TEST(TKXEngineInput, RecordsByPosition) {
  TKXEngine engine;
  engine.OpenJob();
  engine.SendDetalleSchema(Value("LIN"), Fields({{"id", 0}, {"importe", Value::Real(0, 2)}}));
  EXPECT_EQ(engine.aRegLine.Len(), 0u);
  for (int i = 1; i <= 3; ++i)
    engine.SendDetalle(Value("LIN"), Fields({{"id", i}, {"importe", "x"}}));
  engine.SendDetalle(
      Value("LIN"),
      Fields({{"Nombre", "a"}, {"NOMBRE", "b"}, {"id", 4}}));  // one column, later value
  engine.SendDetalle(Value("OTRO"), Fields({{"id", 5}}));
  const List& cols = engine.aStructLine.AsList();
  ASSERT_EQ(cols.size(), 4u);
  EXPECT_EQ(cols[1].Get("tipo").Str(), "numerico");  // from the schema's sample
  EXPECT_EQ(cols[2].Get("nombre").Str(), "Nombre");
  const List& rows = engine.aRegLine.AsList();
  ASSERT_EQ(rows.size(), 5u);
  for (const Value& row : rows) EXPECT_EQ(row.Len(), 4u);  // earlier rows padded
  EXPECT_TRUE(rows[0].AsList()[2].IsNil());
  EXPECT_EQ(rows[3].AsList()[2].Str(), "b");
  EXPECT_EQ(rows[3].AsList()[0].Int(), 4);
  EXPECT_TRUE(rows[4].AsList()[0].IsNil());
  EXPECT_EQ(rows[4].AsList()[3].Int(), 5);
  EXPECT_EQ(engine.hStructLineIndex.Get("OTRO.ID").Int(), 4);
}

TEST(TKXEngineInput, VariablesAndChanges) {
  TKXEngine engine;
  engine.OpenJob();
  engine.SendDataVar(Value("cab"), Fields({{"Empresa", "ACME"}, {"", "skipped"}}));
  engine.SendDataVar(Value("CAB"), Fields({{"EMPRESA", "Otra"}}));
  ASSERT_EQ(engine.aStructVar.Len(), 1u);
  EXPECT_EQ(engine.aRegVar.AsList()[0].AsList()[0].Str(), "Otra");
  struct Row {
    Value index;
    int64_t stored;
  };
  Row rows[] = {{Value(-3), 0}, {Value(2.9), 2}, {Value("7"), 0}};
  for (const Row& r : rows) engine.SendDataVarAt(r.index, Value("cab"), Fields({{"Saldo", 10}}));
  engine.SendDataVarAt(Value(1), Value("cab"), Fields({{"", 1}}));  // no change
  ASSERT_EQ(engine.aDataVarChanges.Len(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(engine.aDataVarChanges.AsList()[i].Get("nIndiceDetalle").Int(), rows[i].stored);
  }
  EXPECT_EQ(JsonEncode(engine.aDataVarChanges.AsList()[0]),
            R"({"nIndiceDetalle":0,"hVariables":{"CAB.Saldo":10}})");
  // A variable first seen in a change is declared with that value before the index too.
  ASSERT_EQ(engine.aStructVar.Len(), 2u);
  EXPECT_EQ(engine.aRegVar.AsList()[0].AsList()[1].Int(), 10);
  EXPECT_TRUE(
      engine.hOpcionesRuntime.Get("aDataVarChangesRuntime").SameRef(engine.aDataVarChanges));
  engine.ReleaseInputData();
  EXPECT_EQ(engine.aStructVar.Len(), 0u);
  EXPECT_TRUE(engine.lJobAbierto);
  EXPECT_TRUE(
      engine.hOpcionesRuntime.Get("aDataVarChangesRuntime").SameRef(engine.aDataVarChanges));
}

TEST(TKXEngineInput, TimingCountsOnlyDetailRecords) {
  TKXEngine engine;
  engine.SetInputDiagnostics(Value(true));
  engine.OpenJob();
  engine.SendDataVar(Value("C"), Fields({{"a", 1}}));
  engine.SendDetalleSchema(Value("L"), Fields({{"a", 1}}));
  for (int i = 0; i < 3; ++i) {
    engine.SendDetalle(Value("L"), Fields({{"a", i}, {"b", i}, {"c", i}, {"d", i}, {"e", i}}));
  }
  Value d = engine.GetInputDiagnostics();
  EXPECT_EQ(d.Get("nRecords").Int(), 3);
  EXPECT_EQ(d.Get("nValues").Int(), 15);
  EXPECT_GE(d.Get("nAccumulateMs").Double(), 0.0);
  engine.SetInputDiagnostics(Value("yes"));  // only the logical true switches timing on
  engine.SendDetalle(Value("L"), Fields({{"a", 1}}));
  EXPECT_EQ(engine.GetInputDiagnostics().Get("nRecords").Int(), 0);
}

TEST(TKXEngineInput, CachedKeysFollowEncodingChanges) {
  TKXEngine engine;
  engine.OpenJob();
  engine.SendDetalle(Value("G"), Fields({{"Pa\xEDs", 1}}));
  engine.SetInputEncoding(Value("UTF-8"));
  engine.SendDetalle(Value("G"), Fields({{"Pa\xC3\xADs", 2}}));
  ASSERT_EQ(engine.aStructLine.Len(), 1u);  // both spellings reach the one column "Pais"
  EXPECT_EQ(engine.aRegLine.AsList()[1].AsList()[0].Int(), 2);

  // A group name read under one encoding is read again under the next.
  TKXEngine groups;
  groups.OpenJob();
  groups.SendDetalle(Value("L\xEDnea"), Fields({{"a", 1}}));
  groups.SetInputEncoding(Value("UTF-8"));
  groups.SendDetalle(Value("L\xEDnea"), Fields({{"a", 2}}));
  ASSERT_EQ(groups.aStructLine.Len(), 2u);
  EXPECT_EQ(groups.aStructLine.AsList()[0].Get("grupo").Str(), "L\xC3\xADNEA");
  EXPECT_EQ(groups.aStructLine.AsList()[1].Get("grupo").Str(), "L\xEDNEA");
}

}  // namespace
}  // namespace kx

namespace kx {
namespace {

TKXEngine& Opened(TKXEngine& engine, std::string_view json) {
  engine.SetPlantillaContent(Value(json));
  engine.OpenJob();
  return engine;
}

TEST(TKXEngineAnalysis, UsedVariables) {
  TKXEngine engine;
  Opened(engine, R"J({"cFormatVersion":"1.0","aObjects":[
    {"cType":"TText","cText":"Cli.Nombre + CLI.NOMBRE + cli . nombre"},
    {"cType":"TText","cText":"VAR.total + var.x + SUM.s + Kx.Color.Red + PAGE.x + sum.y + Total.Neto"},
    {"cType":"TText","cText":"'Lit.Quoted' + \"Dq.Quoted\" + Pag.Num + CO.Codigo + G1x.F + Ends.With."},
    {"cType":"TText","cCondition":"CLI.ACTIVO.AND.CLI.SALDO>0 .or. X.Y == .T. .AND.Z.W"},
    {"cType":"TText","cSuppressCondition":"Supp.A","cGroupExpression":"Grp.B","aBreakExpressions":["Brk.C"]},
    {"cType":"TText","cColorFormula":"Col.Formula","cText":"Dom.Direcci\u00f3n"},
    {"cType":"TTable","hData":{"aRows":[{"cCONTENT":"Nested.Deep"}]}}]})J");
  EXPECT_EQ(
      JsonEncode(engine.GetVariablesUsadas()),
      R"(["CLI.ACTIVO","CLI.SALDO","CO.Codigo","Cli.Nombre","Col.Formula","Dom.Direcci","G1x.F",)"
      R"("Nested.Deep","Pag.Num","Total.Neto","X.Y","Z.W"])");
  EXPECT_TRUE(engine.IsUsedVar(Value("cli . NOMBRE")));
  EXPECT_TRUE(engine.IsUsedVar(Value("CLI.nombre")));
  EXPECT_FALSE(engine.IsUsedVar(Value("Supp.A")));
  EXPECT_FALSE(engine.IsUsedVar(Value("")));
}

TEST(TKXEngineAnalysis, MissingVariablesAndValidation) {
  TKXEngine engine;
  Opened(
      engine,
      R"J({"cFormatVersion":"1.0","aObjects":[{"cType":"TText","cText":"Cli.Nombre + Lin.Importe + B.X + A.Y"}]})J");
  engine.SendDataVar(Value("CLI"), Value::NewMap({{"nombre", "Ana"}}));
  engine.SendDetalle(Value("lin"), Value::NewMap({{"importe", 1}}));
  EXPECT_EQ(JsonEncode(engine.GetVariablesFaltantes()), R"(["A.Y","B.X"])");
  Value v = engine.ValidarDatos();
  EXPECT_FALSE(v.Get("lOk").Bool());
  EXPECT_EQ(v.Get("cMensaje").Str(),
            "Faltan variables requeridas por la plantilla:\r\n- A.Y\r\n- B.X");
  engine.SendDataVar(Value("a"), Value::NewMap({{"y", 1}, {"x", 2}}));
  engine.SendDataVar(Value("b"), Value::NewMap({{"X", 1}}));
  Value ok = engine.ValidarDatos();
  EXPECT_TRUE(ok.Get("lOk").Bool());
  EXPECT_EQ(ok.Get("cMensaje").Str(), "");
  EXPECT_EQ(ok.AsMap().KeyAt(1), "aVariablesFaltantes");
}

TEST(TKXEngineAnalysis, AskStrings) {
  TKXEngine engine;
  Opened(engine, R"J({"cFormatVersion":"1.0",
    "hUserVars":{"desde":{"formula":"AskString('Fecha desde', .T., '01/01', 2.9) + ASKSTRING('otra')"}},
    "aObjects":[
      {"cType":"TText","cText":"AskString ('Sucursal', .F., 'Centro', -5)"},
      {"cType":"TText","cText":"AskString()"},
      {"cType":"TText","cText":"AskString\t('tab')"},
      {"cType":"TText","cText":"AskStringX('no') + 'AskString(\"quoted\")'"},
      {"cType":"TText","cText":"ASKSTRING$('Sucursal', .F., 'a,b', (1+2))"},
      {"cType":"TText","cText":"AskString(CLI.Nombre, .T.) + AskString('[x]') + AskString('open'"}]})J");
  Value asks = engine.GetAskStrings();
  ASSERT_EQ(asks.Len(), 5u);
  const char* keys[] = {"VAR.desde", "Sucursal", "AskString_3", "AskString_4", "AskString_5"};
  for (size_t i = 0; i < 5; ++i) EXPECT_EQ(asks.AsMap().KeyAt(i), keys[i]);
  Value desde = asks.Get("VAR.desde");  // both calls of one variable: the later one stays
  EXPECT_EQ(desde.Get("cPrompt").Str(), "otra");
  EXPECT_EQ(desde.Get("cVariable").Str(), "VAR.desde");
  Value suc =
      asks.Get("Sucursal");  // the later call with the same prompt replaces the first, in place
  EXPECT_EQ(suc.Get("cFormula").Str(), "ASKSTRING$('Sucursal', .F., 'a,b', (1+2))");
  EXPECT_EQ(JsonEncode(suc.Get("aArguments")), R"J(["'Sucursal'",".F.","'a,b'","(1+2)"])J");
  EXPECT_EQ(suc.Get("cDefault").Str(), "a,b");
  EXPECT_EQ(suc.Get("nMaxLength").Int(), 3);
  EXPECT_EQ(asks.Get("AskString_3").Get("cPrompt").Str(), "");
  // A prompt naming a variable, or one that begins with "[", takes the default "".
  EXPECT_EQ(asks.Get("AskString_4").Get("cPrompt").Str(), "");
  EXPECT_TRUE(asks.Get("AskString_4").Get("lAskEveryRecord").Bool());
  EXPECT_EQ(asks.Get("AskString_5").Get("cPrompt").Str(), "");

  TKXEngine first;
  Opened(
      first,
      R"J({"cFormatVersion":"1.0","aObjects":[{"cType":"TText","cText":"AskString('P', .T., 'd', 2.9)"}]})J");
  Value firstAsks = first.GetAskStrings();
  Value p = firstAsks.Get("P");
  ASSERT_TRUE(p.IsMap());
  EXPECT_TRUE(p.Get("lAskEveryRecord").Bool());
  EXPECT_EQ(p.Get("nMaxLength").Int(), 2);
  EXPECT_EQ(JsonEncode(p.AsMap().KeyAt(7)), R"("aArguments")");

  first.SetAskStringValue(Value("P"), Value("respuesta"));
  first.SetAskStringValue(Value("sin entrada"), Value(1));
  first.SetAskStringValue(Value("  "), Value(2));
  EXPECT_EQ(JsonEncode(first.hOpcionesRuntime.Get("hAskStringValues")),
            R"({"P":"respuesta","sin entrada":1})");
  first.OpenJob();  // answers survive a new job
  EXPECT_TRUE(first.hOpcionesRuntime.Get("hAskStringValues").Has("P"));
}

TEST(TKXEngineAnalysis, ArgumentSplit) {
  TKXEngine engine;
  Opened(engine, R"J({"cFormatVersion":"1.0","aObjects":[
    {"cType":"TText","cText":"AskString('a,', \"b\\\"c,d\")"}]})J");
  Value asks = engine.GetAskStrings();
  Value a = asks.AsMap().ValueAt(0);
  EXPECT_EQ(JsonEncode(a.Get("aArguments")), R"(["'a,'","\"b\\\"c,d\""])");
}

TEST(TKXEngineAnalysis, QueriesFollowTheCurrentTemplateSource) {
  TKXEngine engine;
  Opened(
      engine,
      R"J({"cFormatVersion":"1.0","aObjects":[{"cType":"TText","cText":"AskString('vieja')"}]})J");
  EXPECT_TRUE(engine.GetAskStrings().Has("vieja"));
  engine.SetPlantillaContent(Value(R"J({"cFormatVersion":"1.0","cDocumentKind":"label",
      "aObjects":[{"cType":"TText","cText":"AskString('nueva')"}]})J"));
  Value asks = engine.GetAskStrings();
  EXPECT_TRUE(asks.Has("nueva"));
  EXPECT_FALSE(asks.Has("vieja"));
  EXPECT_TRUE(engine.GetLabelPrintLayout().Get("lLabelDocument").Bool());
}

}  // namespace
}  // namespace kx

namespace kx {
namespace {

// A template of rectangles only: nothing consumes detail records.
std::string Rectangles(std::string_view extra, std::string_view condition = "") {
  return std::string(R"J({"cFormatVersion":"1.0")J") + std::string(extra) +
         R"J(,"aObjects":[{"cType":"TRectangle","cId":"r1","nLeft":10,"nTop":10,"nWidth":20,"nHeight":5,"cCondition":")J" +
         std::string(condition) + R"J("}]})J";
}

struct RunCase {
  std::string name;
  std::string templateText;
  int records;
  const char* mode;
};

TEST(TKXEngineRun, ModeSelection) {
  RunCase cases[] = {
      {"no detail", Rectangles(""), 0, "single-pass-label-or-no-detail"},
      {"label", Rectangles(R"J(,"cDocumentKind":"label")J"), 3, "single-pass-label-or-no-detail"},
      {"no page count", Rectangles("", "PAGE() > 0"), 2, "single-pass-no-prepagination"},
      {"name only", Rectangles(R"J(,"cTemplateName":"TOTALPAGES()")J"), 2,
       "single-pass-selective-finalization"},
      {"condition", Rectangles("", "TOTALPAGES() > 0"), 2, "two-pass"},
      {"lone last page in a variable",
       Rectangles(R"J(,"hUserVars":{"u":{"formula":"LASTPAGE()"}})J"), 2,
       "single-pass-selective-finalization"},
      {"compared total in a variable",
       Rectangles(R"J(,"hUserVars":{"u":{"formula":"TOTALPAGES() == 1"}})J"), 2, "two-pass"},
  };
  for (const RunCase& c : cases) {
    TKXEngine engine;
    engine.SetPlantillaContent(Value(c.templateText));
    engine.OpenJob();
    for (int i = 0; i < c.records; ++i) engine.SendDetalle(Value("LIN"), Value::NewMap({{"n", i}}));
    engine.CloseJob();
    engine.RunEngine();
    EXPECT_EQ(engine.cLastError, "") << c.name;
    EXPECT_EQ(engine.GetPerformanceDiagnostics().Get("cMode").Str(), c.mode) << c.name;
  }
}

TEST(TKXEngineRun, SingleExecutionLeavesThePageLoopUntouched) {
  TKXEngine engine;
  engine.SetPlantillaContent(Value(Rectangles("")));
  engine.OpenJob();
  engine.CloseJob();
  Ref<TDocumentoRenderizable> doc = engine.RunEngine();
  ASSERT_TRUE(doc);
  EXPECT_EQ(doc->TotalPaginas(), 1);
  EXPECT_EQ(engine.GetPaginationDiagnostics().Get("cTerminationReason").Str(), "not-started");
  EXPECT_EQ(engine.GetPerformanceDiagnostics().Get("nPageExecutions").Int(), 0);
}

TEST(TKXEngineRun, MissingVariablesBlockTheRun) {
  TKXEngine engine;
  engine.SetPlantillaContent(Value(Rectangles("", "CLI.ACTIVO")));
  engine.OpenJob();
  engine.CloseJob();
  EXPECT_FALSE(engine.RunEngine());
  EXPECT_EQ(engine.cLastError, "Faltan variables requeridas por la plantilla:\r\n- CLI.ACTIVO");
  EXPECT_EQ(engine.GetPerformanceDiagnostics().Get("cMode").Str(), "validation-error");
}

TEST(TKXEngineRun, AShortRunCallsTheHostAtTheStartAndTheEnd) {
  TKXEngine engine;
  engine.SetPlantillaContent(Value(Rectangles("")));
  engine.OpenJob();
  engine.SendDataVar(Value("CAB"), Value::NewMap({{"x", 1}}));
  engine.CloseJob();
  std::vector<std::string> calls;
  engine.SetProgressCallback(Value::Function([&calls](std::span<const Value> a) {
    calls.push_back(PlainText(a[0]) + "," + PlainText(a[1]) + "," + PlainText(a[2]));
    return Value();  // nothing never cancels
  }));
  engine.SetProgressCallback(Value(5));  // not a callable: the callback in force stays
  ASSERT_TRUE(engine.RunEngine());
  EXPECT_EQ(calls, (std::vector<std::string>{"0,0,0", "0,0,1"}));
  EXPECT_FALSE(engine.WasCanceled());
}

TEST(TKXEngineRun, CancelAndThrowingCallbacks) {
  struct Row {
    const char* name;
    Callable::Fn fn;
    bool document;
    bool canceled;
  };
  Row rows[] = {
      {"false cancels", [](std::span<const Value>) { return Value(false); }, false, true},
      {"zero does not", [](std::span<const Value>) { return Value(0); }, true, false},
      {"a throw counts as go on",
       [](std::span<const Value>) -> Value { throw std::runtime_error("host failure"); }, true,
       false},
  };
  for (const Row& r : rows) {
    TKXEngine engine;
    engine.SetPlantillaContent(Value(Rectangles("")));
    engine.OpenJob();
    engine.CloseJob();
    engine.SetProgressCallback(Value::Function(r.fn));
    Ref<TDocumentoRenderizable> doc = engine.RunEngine();
    EXPECT_EQ(static_cast<bool>(doc), r.document) << r.name;
    EXPECT_EQ(engine.WasCanceled(), r.canceled) << r.name;
    EXPECT_EQ(engine.cLastError, "") << r.name;
  }
}

TEST(TKXEngineRun, ATemplateWithoutTablesStallsAfterOneStep) {
  TKXEngine engine;
  engine.SetPlantillaContent(Value(Rectangles("")));
  engine.OpenJob();
  for (int i = 0; i < 3; ++i) engine.SendDetalle(Value("LIN"), Value::NewMap({{"n", i}}));
  engine.CloseJob();
  Ref<TDocumentoRenderizable> doc = engine.RunEngine();
  ASSERT_TRUE(doc);
  EXPECT_EQ(doc->TotalPaginas(), 1);
  Value d = engine.GetPaginationDiagnostics();
  EXPECT_EQ(d.Get("cTerminationReason").Str(), "stalled-without-consuming-data");
  EXPECT_EQ(d.Get("nTotalDataLines").Int(), 3);
  EXPECT_EQ(d.Get("nLastDataLine").Int(), 0);
  EXPECT_EQ(d.Get("nPages").Int(), 1);
  EXPECT_EQ(engine.GetPerformanceDiagnostics().Get("nPageExecutions").Int(), 1);
}

TEST(TKXEngineRun, TwoRunsAnswerTwoDocumentsAndHostHandlesOutliveEnd) {
  TKXEngine engine;
  engine.SetPlantillaContent(Value(Rectangles("")));
  engine.OpenJob();
  engine.CloseJob();
  Ref<TDocumentoRenderizable> first = engine.RunEngine();
  Ref<TDocumentoRenderizable> second = engine.RunEngine();
  ASSERT_TRUE(first && second);
  EXPECT_NE(first.get(), second.get());
  engine.End();
  EXPECT_FALSE(engine.GetDocumento());
  EXPECT_EQ(second->TotalPaginas(), 1);  // the host's handle stays usable
}

}  // namespace
}  // namespace kx

namespace kx {
namespace {

TEST(TKXEngineRun, StepsThatNeverConsumeEndTheLoop) {
  Value empty = Value::NewMap();
  Value split = Value::NewMap({{"t1", Value::NewMap({{"nRegistro", 4}, {"nLinea", 2}})}});
  int64_t without = 0;
  EXPECT_FALSE(facade::EsPasoEstancado(3, empty, empty, without));
  EXPECT_TRUE(
      facade::EsPasoEstancado(0, empty, empty, without));  // nothing consumed, no continuation
  EXPECT_TRUE(
      facade::EsPasoEstancado(0, split, DeepClone(split), without));  // continuation unchanged
  without = 0;
  // A continuation that keeps moving without consuming is given a generous bound, then stopped.
  int steps = 0;
  bool stalled = false;
  while (!stalled && steps < 100000) {
    Value moved = Value::NewMap({{"t1", Value::NewMap({{"nRegistro", 4}, {"nLinea", steps + 1}})}});
    Value before = Value::NewMap({{"t1", Value::NewMap({{"nRegistro", 4}, {"nLinea", steps}})}});
    stalled = facade::EsPasoEstancado(0, moved, before, without);
    ++steps;
  }
  EXPECT_TRUE(stalled);
  EXPECT_GT(steps, 100);
  EXPECT_LT(steps, 100000);
  EXPECT_FALSE(facade::EsPasoEstancado(1, split, split, without));  // consuming resets the count
  EXPECT_EQ(without, 0);
}

}  // namespace
}  // namespace kx

namespace kx {
namespace {

// A list report: a page-number text, a table of LIN records with a running
// total in its footer, and summary lines printed on the last page only.
struct Ledger {
  int tableHeight = 60;
  int summaryLines = 2;
  std::string pageText = "PAGE() + ' de ' + TOTALPAGES()";
  std::string extraObjects;
  std::string rectangleCondition;
  std::string idCell = "LIN.id";

  std::string Json() const {
    auto cell = [](const std::string& formula) {
      return R"J({"nWidth":50,"hContent":{"cType":"TText","hObject":{"cText":")J" + formula +
             R"J("}}})J";
    };
    std::string summary;
    for (int i = 0; i < summaryLines; ++i) {
      summary += R"J(,{"nHeight":5,"cConditionFormula":"LASTPAGE()","aCells":[)J" +
                 cell("'RESUMEN ' + SUM.TOTAL") + "]}";
    }
    std::string condition =
        rectangleCondition.empty()
            ? ""
            : R"J(,{"cType":"TRectangle","nLeft":0,"nTop":0,"nWidth":1,"nHeight":1,"cCondition":")J" +
                  rectangleCondition + R"J("})J";
    return R"J({"cFormatVersion":"1.0","nPaperWidth":210,"nPaperHeight":297,
      "hAcumVars":{"TOTAL":{"formula":"LIN.importe"}},
      "aObjects":[{"cType":"TText","cId":"hoja","nLeft":10,"nTop":5,"nWidth":80,"nHeight":5,"cText":")J" +
           pageText + R"J("})J" + extraObjects + condition +
           R"J(,{"cType":"TTable","cId":"libro","nLeft":10,"nTop":20,"nWidth":100,"nHeight":)J" +
           std::to_string(tableHeight) + R"J(,
        "hSections":{"header":{"aLines":[{"nHeight":5,"aCells":[)J" +
           cell("'Id'") + R"J(]}]},
          "detail":{"aLines":[{"nHeight":5,"aCells":[)J" +
           cell(idCell) + "," + cell("LIN.importe") + R"J(]}]},
          "footer":{"aLines":[{"nHeight":5,"aCells":[)J" +
           cell("'Total ' + SUM.TOTAL") + "]}" + summary + R"J(]}}}]})J";
  }
};

struct RunResult {
  Ref<TDocumentoRenderizable> doc;
  std::vector<std::string> pages;  // compact JSON of each page
  Value pagination;
  Value performance;
};

RunResult RunLedger(const Ledger& ledger, int records, int importe = 1) {
  TKXEngine engine;
  engine.SetPlantillaContent(Value(ledger.Json()));
  engine.OpenJob();
  for (int i = 1; i <= records; ++i) {
    engine.SendDetalle(
        Value("LIN"), Value::NewMap({{"id", std::string("R").append(std::to_string(i)).append("X")},
                                     {"importe", importe}}));
  }
  engine.CloseJob();
  RunResult r;
  r.doc = engine.RunEngine();
  EXPECT_EQ(engine.cLastError, "");
  for (int64_t p = 1; r.doc && p <= r.doc->TotalPaginas(); ++p)
    r.pages.push_back(JsonEncode(r.doc->GetPagina(p)));
  r.pagination = engine.GetPaginationDiagnostics();
  r.performance = engine.GetPerformanceDiagnostics();
  return r;
}

// How many times each record's id is printed over the whole document.
std::map<std::string, int> RecordCounts(const RunResult& r) {
  std::map<std::string, int> counts;
  for (const std::string& page : r.pages) {
    for (size_t at = page.find("\"texto\":\"R"); at != std::string::npos;
         at = page.find("\"texto\":\"R", at + 1)) {
      size_t from = at + 9;
      std::string text = page.substr(from, page.find('"', from) - from);
      if (text.size() > 1 && text[1] >= '0' && text[1] <= '9') counts[text]++;  // record ids only
    }
  }
  return counts;
}

void ExpectEveryRecordOnce(const RunResult& r, int records) {
  std::map<std::string, int> counts = RecordCounts(r);
  EXPECT_EQ(counts.size(), static_cast<size_t>(records));
  for (const auto& [id, n] : counts) EXPECT_EQ(n, 1) << id;
}

bool Has(const std::string& page, const std::string& text) {
  return page.find(text) != std::string::npos;
}

TEST(TKXEngineRun, RecordsSeeTheirNeighboursAndRunningSumsAcrossPages) {
  Ledger ledger;
  ledger.idCell = "LIN.id + '|' + PREVIOUS(LIN.id) + '|' + NEXT(LIN.id) + '|' + SUM(LIN.importe)";
  RunResult r = RunLedger(ledger, 25, 2);  // 10 records a page
  ASSERT_EQ(r.pages.size(), 3u);
  EXPECT_TRUE(Has(r.pages[0], "\"R1X||R2X|2\""));
  EXPECT_TRUE(Has(r.pages[1], "\"R11X|R10X|R12X|22\""));  // the previous page's last record
  EXPECT_TRUE(Has(r.pages[2], "\"R25X|R24X||50\""));
}

TEST(TKXEngineFinalisation, PageTotalsAndLastPageContentInOnePass) {
  RunResult r =
      RunLedger(Ledger{}, 25);  // 10 records a page; the last page holds 5 and its summary
  ASSERT_EQ(r.pages.size(), 3u);
  EXPECT_EQ(r.performance.Get("cMode").Str(), "single-pass-selective-finalization");
  EXPECT_TRUE(Has(r.pages[0], "\"1 de 3\""));
  EXPECT_TRUE(Has(r.pages[1], "\"2 de 3\""));
  EXPECT_TRUE(Has(r.pages[2], "\"3 de 3\""));
  EXPECT_FALSE(Has(r.pages[1], "RESUMEN"));
  EXPECT_TRUE(Has(r.pages[2], "RESUMEN 25"));
  EXPECT_TRUE(Has(r.pages[0], "Total 10"));  // the running total of each page
  EXPECT_EQ(r.pagination.Get("cTerminationReason").Str(), "all-data-consumed");
  EXPECT_FALSE(r.pagination.Get("lLastPageSplit").Bool());
  EXPECT_EQ(r.performance.Get("nPageExecutions").Int(), 3);
  ExpectEveryRecordOnce(r, 25);
}

TEST(TKXEngineFinalisation, ALastPageThatOverflowsIsSplit) {
  RunResult r =
      RunLedger(Ledger{}, 30);  // the third page is full: with its summary it cannot hold its ten
  ASSERT_EQ(r.pages.size(), 4u);
  EXPECT_EQ(
      JsonEncode(r.pagination),
      R"({"nTotalDataLines":30,"nLastDataLine":30,"nPages":4,)"
      R"("cTerminationReason":"all-data-consumed-after-lastpage-split","lLastPageSplit":true,)"
      R"("nLastPageSplitPages":1})");
  EXPECT_TRUE(Has(r.pages[3], "\"4 de 4\""));
  EXPECT_TRUE(Has(r.pages[0], "\"1 de 4\""));
  EXPECT_FALSE(Has(r.pages[2], "RESUMEN"));
  EXPECT_TRUE(Has(r.pages[3], "RESUMEN 30"));  // every record summed exactly once
  EXPECT_TRUE(Has(r.pages[3], "Total 30"));
  ExpectEveryRecordOnce(r, 30);
}

TEST(TKXEngineFinalisation, ALastPageWithNoRoomForRecordsHoldsTheSummaryAlone) {
  Ledger ledger;
  ledger.summaryLines = 10;  // as the last page, the summary leaves no room for any record
  RunResult r = RunLedger(ledger, 25);
  ASSERT_EQ(r.pages.size(), 4u);
  EXPECT_EQ(r.pagination.Get("cTerminationReason").Str(), "all-data-consumed-after-lastpage-split");
  EXPECT_FALSE(Has(r.pages[2], "RESUMEN"));
  EXPECT_TRUE(Has(r.pages[2], "\"R25X\""));  // the third page as the loop made it
  EXPECT_TRUE(Has(r.pages[3], "RESUMEN 25"));
  EXPECT_TRUE(Has(r.pages[3], "\"4 de 4\""));
  ExpectEveryRecordOnce(r, 25);
}

TEST(TKXEngineFinalisation, PageNumberTextsShowTheirOwnPagesData) {
  Ledger ledger;
  ledger.pageText = "PAGE() + ' de ' + TOTALPAGES() + ' desde ' + LIN.id + ' llevado ' + SUM.TOTAL";
  RunResult r = RunLedger(ledger, 25);
  ASSERT_EQ(r.pages.size(), 3u);
  EXPECT_TRUE(Has(r.pages[0], "\"1 de 3 desde R1X llevado 0\"")) << r.pages[0].substr(0, 300);
  EXPECT_TRUE(Has(r.pages[1], "\"2 de 3 desde R11X llevado 10\"")) << r.pages[1].substr(0, 300);
  EXPECT_TRUE(Has(r.pages[2], "\"3 de 3 desde R21X llevado 20\"")) << r.pages[2].substr(0, 300);
}

TEST(TKXEngineFinalisation, SpooledDocumentsGetTheirTotalsAsPatches) {
  Ledger ledger;
  ledger.tableHeight = 250;  // 46 records a page
  RunResult r = RunLedger(ledger, 20000);
  ASSERT_TRUE(r.doc);
  EXPECT_TRUE(r.doc->IsPageSpooling());
  const std::string total = std::to_string(r.pages.size());
  EXPECT_TRUE(Has(r.pages.front(), "\"1 de " + total + "\""));
  EXPECT_TRUE(Has(r.pages.back(), "\"" + total + " de " + total + "\""));
  EXPECT_TRUE(Has(r.pages.back(), "RESUMEN 20000"));
  EXPECT_EQ(r.pagination.Get("nLastDataLine").Int(), 20000);
}

TEST(TKXEngineFinalisation, TwoPassRunsStateTheCountTheyMake) {
  Ledger ledger;
  ledger.rectangleCondition =
      "TOTALPAGES() > 0";  // a page count outside a text's content: two passes
  RunResult r = RunLedger(ledger, 30);
  EXPECT_EQ(r.performance.Get("cMode").Str(), "two-pass");
  ASSERT_EQ(r.pages.size(), 4u);
  EXPECT_TRUE(Has(r.pages[0], "\"1 de 4\""));
  EXPECT_TRUE(Has(r.pages[3], "\"4 de 4\""));
  EXPECT_TRUE(Has(r.pages[3], "RESUMEN 30"));
  EXPECT_FALSE(Has(r.pages[2], "RESUMEN"));
  ExpectEveryRecordOnce(r, 30);
}

TEST(TKXEngineFinalisation, ALastChunkOfSeveralPagesIsReplacedWhole) {
  Ledger ledger;
  std::string longText(4000, 'x');
  for (size_t i = 50; i < longText.size(); i += 50) longText[i] = ' ';
  // A breakable text on every page spills onto a second page in each chunk.
  ledger.extraObjects =
      R"J(,{"cType":"TText","cId":"largo","nLeft":120,"nTop":20,"nWidth":60,"nHeight":200,)J"
      R"J("lAllowPageBreak":true,"cText":"')J" +
      longText + R"J('"})J";
  RunResult r = RunLedger(ledger, 25);
  ASSERT_FALSE(r.pages.empty());
  ExpectEveryRecordOnce(r, 25);
  const std::string total = std::to_string(r.pages.size());
  EXPECT_TRUE(Has(r.pages.front(), "\"1 de " + total + "\""));
}

}  // namespace
}  // namespace kx

namespace kx {
namespace {

TEST(TKXEngineRun, ACriticalCompositionErrorEndsTheRun) {
  Ledger ledger;
  ledger.extraObjects = "";
  std::string json = ledger.Json();
  // An invalid page-break condition in the table is a critical composition error.
  json.replace(json.find(R"("cId":"libro")"), 13,
               R"("cId":"libro","cPageBreakCondition":"1 +* 2")");
  TKXEngine engine;
  engine.SetPlantillaContent(Value(json));
  engine.OpenJob();
  for (int i = 0; i < 5; ++i)
    engine.SendDetalle(Value("LIN"), Value::NewMap({{"id", i}, {"importe", 1}}));
  engine.CloseJob();
  EXPECT_FALSE(engine.RunEngine());
  EXPECT_EQ(engine.cLastError.rfind("Condicion de salto no valida en tabla libro: 1 +* 2", 0), 0u)
      << engine.cLastError;
  EXPECT_EQ(engine.GetPaginationDiagnostics().Get("cTerminationReason").Str(), "composition-error");
  EXPECT_EQ(engine.GetPaginationDiagnostics().Get("nPages").Int(), 0);
}

// A ledger job of 20000 records, 46 a page: it spools from its first page.
void SendSpooledLedger(TKXEngine& engine) {
  Ledger ledger;
  ledger.tableHeight = 250;
  engine.SetPlantillaContent(Value(ledger.Json()));
  engine.OpenJob();
  for (int i = 0; i < 20000; ++i)
    engine.SendDetalle(Value("LIN"), Value::NewMap({{"id", i}, {"importe", 1}}));
  engine.CloseJob();
}

TEST(TKXEngineRun, APageThatCannotBeSpooledEndsTheRun) {
  TKXEngine engine;
  SendSpooledLedger(engine);
  Ref<TDocumentoRenderizable> doc;
  {
    TmpDirAs tmp("/proc");  // even root cannot create files there
    doc = engine.RunEngine();
  }
  EXPECT_FALSE(doc);
  EXPECT_EQ(engine.cLastError, "No se ha podido guardar una pagina temporal del informe.");
  EXPECT_EQ(engine.GetPaginationDiagnostics().Get("cTerminationReason").Str(), "page-spool-error");
}

// A page that cannot be read back after the run is the document's error: the
// run's outcome (cLastError, the diagnostics) stays as the run left it.
TEST(TKXEngineRun, APageLostAfterTheRunIsTheDocumentsErrorAlone) {
  TempDir tmp;
  TmpDirAs tmp_dir(tmp.path());
  TKXEngine engine;
  SendSpooledLedger(engine);
  Ref<TDocumentoRenderizable> doc = engine.RunEngine();
  ASSERT_TRUE(doc);
  ASSERT_TRUE(doc->IsPageSpooling());
  const std::string diagnostics = JsonEncode(engine.GetPaginationDiagnostics());
  const int64_t last = doc->TotalPaginas();
  ASSERT_TRUE(DamageSpoolOfPage(*doc, last, SpoolDamage::kDeleted));

  EXPECT_EQ(JsonEncode(doc->GetPagina(Value(last))), R"({"objetos":[]})");
  EXPECT_TRUE(doc->HasPageSpoolError());
  EXPECT_EQ(doc->GetPageSpoolError(), "No se ha podido recuperar una pagina temporal del informe.");
  EXPECT_EQ(engine.cLastError, "");
  EXPECT_EQ(JsonEncode(engine.GetPaginationDiagnostics()), diagnostics);
  EXPECT_FALSE(engine.WasCanceled());
  doc.reset();
  engine.End();
  EXPECT_TRUE(SpoolFiles(tmp.path()).empty());
}

TEST(TKXEngineRun, NoSpoolFileOutlivesAFinishedFailedOrCancelledRun) {
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  TmpDirAs tmp(dir.path());
  struct Row {
    const char* name;
    bool cancel;       // the host cancels after some pages
    rlim_t fileLimit;  // appends fail past this many bytes (0: no limit)
    bool answered;
  } rows[] = {
      {"finished", false, 0, true},
      {"cancelled", true, 0, false},
      {"failed", false, 256 * 1024, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TKXEngine engine;
    SendSpooledLedger(engine);
    size_t filesSeen = 0;
    engine.SetProgressCallback(Value::Function([&](std::span<const Value> a) {
      filesSeen = std::max(filesSeen, SpoolFiles(dir.path()).size());
      return Value(!(row.cancel && a.size() > 2 && a[2].Int() >= 50));
    }));
    rlimit before{};
    ::getrlimit(RLIMIT_FSIZE, &before);
    auto handler = std::signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails instead
    if (row.fileLimit > 0) {
      rlimit limit = before;
      limit.rlim_cur = row.fileLimit;
      ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    Ref<TDocumentoRenderizable> doc = engine.RunEngine();
    ::setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, handler);
    EXPECT_EQ(static_cast<bool>(doc), row.answered);
    if (row.fileLimit > 0) {
      EXPECT_EQ(engine.cLastError, "No se ha podido guardar una pagina temporal del informe.");
    } else {
      EXPECT_EQ(filesSeen, 1u);  // the run spooled, into one file
    }
    if (doc) {
      EXPECT_EQ(SpoolFiles(dir.path()).size(), 1u);
      EXPECT_GT(doc->TotalPaginas(), 400);
      doc.reset();
      engine.End();
    }
    EXPECT_EQ(SpoolFiles(dir.path()).size(), 0u);
  }
}

}  // namespace
}  // namespace kx

namespace kx {
namespace {

const std::string kLabels = Rectangles(R"J(,"cDocumentKind":"label")J", "LIN.n != 2");

TEST(TKXEngineLabels, ALabelJobAnswersItsSheetsAndNeverSpools) {
  TKXEngine engine;
  engine.SetPlantillaContent(Value(kLabels));
  engine.OpenJob();
  // Enough records for a report's result to spool from its first page.
  for (int i = 1; i <= 20000; ++i) engine.SendDetalle(Value("LIN"), Value::NewMap({{"n", i}}));
  engine.CloseJob();
  engine.SetEtiquetaInicial(Value(5));
  Ref<TDocumentoRenderizable> doc = engine.RunEngine();
  ASSERT_TRUE(doc);
  EXPECT_EQ(engine.cLastError, "");
  EXPECT_EQ(engine.GetPerformanceDiagnostics().Get("cMode").Str(),
            "single-pass-label-or-no-detail");
  EXPECT_FALSE(doc->IsPageSpooling());
  EXPECT_EQ(doc->TotalPaginas(), 834);  // ceiling((20000 + 4) / 24)
  EXPECT_EQ(doc->TotalObjetos(), 19999);
  const Value first = doc->GetPagina(Value(1)).Get("objetos").AsList()[0];
  EXPECT_EQ(JsonEncode(first.Get("debugEtiqueta")),
            R"({"nRegistro":1,"nSlot":5,"nOffsetX":70,"nOffsetY":37})");
  EXPECT_EQ(first.Get("x").Double(), 80.0);
  EXPECT_EQ(engine.GetPaginationDiagnostics().Get("cTerminationReason").Str(), "not-started");
}

TEST(TKXEngineLabels, ACancelledLabelRunStaysSilent) {
  TKXEngine engine;
  engine.SetPlantillaContent(Value(kLabels));
  engine.OpenJob();
  for (int i = 1; i <= 5; ++i) engine.SendDetalle(Value("LIN"), Value::NewMap({{"n", i}}));
  engine.CloseJob();
  int calls = 0;
  engine.SetProgressCallback(Value::Function([&calls](std::span<const Value>) {
    // The start goes on, slowly enough for the first label's report to reach
    // the host past the throttle; that one cancels.
    if (++calls == 1) std::this_thread::sleep_for(std::chrono::milliseconds(600));
    return Value(calls == 1);
  }));
  EXPECT_FALSE(engine.RunEngine());
  EXPECT_EQ(calls, 2);
  EXPECT_TRUE(engine.WasCanceled());
  EXPECT_EQ(engine.cLastError, "");
  EXPECT_FALSE(engine.GetDocumento());
}

// The prefix followed by the number.
std::string Numbered(const char* prefix, int64_t n) {
  return std::string(prefix).append(std::to_string(n));
}

// The texts of every page, in page and object order.
using PageTexts = std::vector<std::vector<std::string>>;

struct JobRun {
  Ref<TDocumentoRenderizable> doc;
  PageTexts texts;
  Value pagination;
  std::string mode;
  std::string error;
};

JobRun RunJob(const std::string& json, const std::vector<Value>& records,
              const std::string& group = "LIN") {
  TKXEngine engine;
  engine.SetPlantillaContent(Value(json));
  engine.OpenJob();
  for (const Value& r : records) engine.SendDetalle(Value(group), r);
  engine.CloseJob();
  JobRun run;
  run.doc = engine.RunEngine();
  run.error = engine.cLastError;
  run.pagination = engine.GetPaginationDiagnostics();
  run.mode = ValueString(engine.GetPerformanceDiagnostics().Get("cMode"));
  for (int64_t p = 1; run.doc && p <= run.doc->TotalPaginas(); ++p) {
    std::vector<std::string> page;
    const Value stored = run.doc->GetPagina(p);  // a spooled page is a fresh copy: keep it
    for (const Value& o : stored.Get("objetos").AsList()) {
      if (o.Has("texto")) page.push_back(ValueString(o.Get("texto")));
    }
    run.texts.push_back(page);
  }
  return run;
}

// The texts of each page that start with the prefix, pages joined with " | ".
std::string Matching(const PageTexts& texts, const std::string& prefix) {
  std::string out;
  for (size_t p = 0; p < texts.size(); ++p) {
    if (p > 0) out += " | ";
    bool first = true;
    for (const std::string& t : texts[p]) {
      if (t.rfind(prefix, 0) != 0) continue;
      out += (first ? "" : ", ") + t;
      first = false;
    }
  }
  return out;
}

int Occurrences(const PageTexts& texts, size_t page, const std::string& text) {
  int n = 0;
  for (const std::string& t : texts[page]) n += t == text;
  return n;
}

// A rectangle whose condition asks for the page total makes the run take two passes.
const std::string kTwoPassRectangle =
    R"J({"cType":"TRectangle","cId":"dos","nLeft":0,"nTop":0,"nWidth":1,"nHeight":1,"cCondition":"TOTALPAGES() > 0"})J";

// A template's objects run in one pass, and with that rectangle first in two.
struct RunMode {
  const char* mode;
  std::string extra;
};
const RunMode kBothModes[] = {{"single-pass-selective-finalization", ""},
                              {"two-pass", kTwoPassRectangle + ","}};

// A template on A4 with the accumulators (its "hAcumVars" map) and the objects given.
std::string ConSumas(const std::string& acumVars, const std::string& objects) {
  return R"J({"cFormatVersion":"1.0","nPaperWidth":210,"nPaperHeight":297,"hAcumVars":)J" +
         acumVars + R"J(,"aObjects":[)J" + objects + "]}";
}

std::string Cell(const std::string& formula, int width = 100) {
  return R"J({"nWidth":)J" + std::to_string(width) +
         R"J(,"hContent":{"cType":"TText","hObject":{"cText":")J" + formula + R"J("}}})J";
}

TEST(TKXEngineFinalisation, PageCountTextsShowTheSumsInForceWhereTheyArePrinted) {
  const std::string table =
      R"J({"cType":"TTable","cId":"T","nLeft":10,"nTop":20,"nWidth":100,"nHeight":50,"hGroup":{"cBreakExpression":"LIN.grp"},
   "hSections":{
    "header":{"aLines":[{"nHeight":5,"aCells":[)J" +
      Cell("'Cab'") + R"J(]}]},
    "detail":{"aLines":[{"nHeight":5,"aCells":[)J" +
      Cell("LIN.id", 50) + "," + Cell("SUM.TOTAL + ' hoja ' + PAGE() + '/' + TOTALPAGES()", 50) +
      R"J(]}]},
    "groupHeader":{"aLines":[{"nHeight":5,"aResetAcumuladores":["G"],"aCells":[)J" +
      Cell("'GH ' + LIN.grp") + R"J(]}]},
    "groupFooter":{"aLines":[{"nHeight":5,"aCells":[)J" +
      Cell("'GF ' + LIN.grp + ' ' + SUM.G + ' hoja ' + PAGE() + '/' + TOTALPAGES()") + R"J(]}]},
    "footer":{"aLines":[{"nHeight":5,"aCells":[)J" +
      Cell("'Total ' + SUM.TOTAL + ' hoja ' + PAGE() + '/' + TOTALPAGES()") + R"J(]}]}}})J";
  std::vector<Value> records;
  for (int i = 1; i <= 12; ++i) {
    records.push_back(Value::NewMap(
        {{"id", Numbered("R", i)}, {"importe", i}, {"grp", Numbered("G", (i - 1) / 3)}}));
  }
  for (const RunMode& row : kBothModes) {
    const std::string json =
        ConSumas(R"J({"TOTAL":{"formula":"LIN.importe"},"G":{"formula":"LIN.importe"}})J",
                 row.extra + table);
    JobRun run = RunJob(json, records);
    EXPECT_EQ(run.mode, row.mode);
    ASSERT_EQ(run.texts.size(), 3u) << row.mode;
    EXPECT_EQ(Matching(run.texts, "GF "),
              "GF G0 6 hoja 1/3 | GF G1 15 hoja 2/3, GF G2 24 hoja 2/3 | GF G3 33 hoja 3/3")
        << row.mode;
    EXPECT_EQ(Matching(run.texts, "Total "),
              "Total 15 hoja 1/3 | Total 45 hoja 2/3 | Total 78 hoja 3/3")
        << row.mode;
    std::string details;
    for (size_t p = 0; p < run.texts.size(); ++p) {
      for (const std::string& t : run.texts[p]) {
        if (t.find(" hoja ") != std::string::npos && t[0] >= '0' && t[0] <= '9')
          details += t + "; ";
      }
    }
    EXPECT_EQ(details,
              "0 hoja 1/3; 1 hoja 1/3; 3 hoja 1/3; 6 hoja 1/3; 10 hoja 1/3; "
              "15 hoja 2/3; 21 hoja 2/3; 28 hoja 2/3; 36 hoja 2/3; "
              "45 hoja 3/3; 55 hoja 3/3; 66 hoja 3/3; ")
        << row.mode;
  }
}

// A group line's reset names its running sum in any letter case, as formulas do: the
// sum is the group's own, not a running total, on every page and in either pass.
TEST(TKXEngineRun, GroupResetsFindTheirSumInAnyLetterCase) {
  std::vector<Value> records;
  for (int i = 1; i <= 14; ++i) {
    records.push_back(Value::NewMap(
        {{"id", Numbered("R", i)}, {"importe", i}, {"reg", Numbered("Z", (i - 1) / 5)}}));
  }
  const char* resets[] = {"region", "Region", "sum.region", "SUM.REGION"};
  for (const char* reset : resets) {
    const std::string table =
        R"J({"cType":"TTable","cId":"T","nLeft":10,"nTop":20,"nWidth":100,"nHeight":50,"hGroup":{"cBreakExpression":"LIN.reg"},
     "hSections":{
      "detail":{"aLines":[{"nHeight":5,"aCells":[)J" +
        Cell("LIN.id", 50) + "," + Cell("SUM.Region", 50) + R"J(]}]},
      "groupHeader":{"aLines":[{"nHeight":5,"aResetAcumuladores":[")J" +
        reset + R"J("],"aCells":[)J" + Cell("'Zona ' + LIN.reg") + R"J(]}]},
      "groupFooter":{"aLines":[{"nHeight":5,"aCells":[)J" +
        Cell("'Subtotal ' + LIN.reg + ' ' + SUM.region + ' de ' + SUM.Cuenta") + R"J(]}]}}})J";
    for (const RunMode& row : kBothModes) {
      const std::string json = ConSumas(
          R"J({"REGION":{"formula":"LIN.importe"},"cuenta":{"formula":"1"}})J", row.extra + table);
      JobRun run = RunJob(json, records);
      EXPECT_EQ(run.mode == "two-pass", !row.extra.empty()) << run.mode;
      ASSERT_GT(run.texts.size(), 1u) << reset << " " << run.mode;
      std::string subtotals;
      for (const auto& page : run.texts)
        for (const std::string& t : page)
          if (t.rfind("Subtotal ", 0) == 0) subtotals += t + "; ";
      // Only the named sum starts again with each group; the count runs on.
      EXPECT_EQ(subtotals, "Subtotal Z0 15 de 5; Subtotal Z1 40 de 10; Subtotal Z2 50 de 14; ")
          << reset << " " << run.mode;
      // The data table's rows show the sum before their own record, as the pages do.
      std::string sums;
      for (const Value& r : run.doc->GetDataTable(Value("T")).Get("aRows").AsList())
        sums += ValueString(r.AsList()[1]) + " ";
      EXPECT_EQ(sums, "0 1 3 6 10 0 6 13 21 30 0 11 23 36 ") << reset << " " << run.mode;
    }
  }
}

TEST(TKXEngineFinalisation, TheLastPageIsWhereTheTablesFinish) {
  std::string words;
  for (int i = 0; i < 60; ++i) words += Numbered("w", i) + " ";
  const std::string objects =
      R"J({"cType":"TText","cId":"hoja","nLeft":10,"nTop":5,"nWidth":80,"nHeight":5,"cText":"'Pagina ' + PAGE() + ' de ' + TOTALPAGES()"},
   {"cType":"TText","cId":"notas","nLeft":120,"nTop":20,"nWidth":30,"nHeight":30,"lAllowPageBreak":true,"cText":"')J" +
      words + R"J('"},
   {"cType":"TTable","cId":"T","nLeft":10,"nTop":20,"nWidth":100,"nHeight":50,"hSections":{
    "header":{"aLines":[{"nHeight":5,"aCells":[)J" +
      Cell("'Cab'") + R"J(]}]},
    "detail":{"aLines":[{"nHeight":5,"aCells":[)J" +
      Cell("LIN.id", 50) + "," + Cell("LIN.importe", 50) + R"J(]}]},
    "footer":{"aLines":[{"nHeight":5,"aCells":[)J" +
      Cell("'Total ' + SUM.TOTAL", 50) + "," +
      Cell("IIf(LASTPAGE(), 'Total', 'Suma y sigue')", 50) +
      R"J(]},{"nHeight":5,"cConditionFormula":"LASTPAGE()","aCells":[)J" +
      Cell("'RESUMEN ' + SUM.TOTAL") + R"J(]}]}}})J";
  for (const RunMode& row : kBothModes) {
    const std::string json =
        R"J({"cFormatVersion":"1.0","nPaperWidth":210,"nPaperHeight":297,"hAcumVars":{"TOTAL":{"formula":"LIN.importe"}},"aObjects":[)J" +
        row.extra + objects + "]}";
    JobRun run = RunJob(json, {Value::NewMap({{"id", "R1"}, {"importe", 5}})});
    EXPECT_EQ(run.mode, row.mode);
    EXPECT_EQ(run.error, "") << row.mode;
    ASSERT_EQ(run.texts.size(), 3u) << row.mode;
    EXPECT_EQ(Occurrences(run.texts, 0, "RESUMEN 5"), 1) << row.mode;
    EXPECT_EQ(Matching(run.texts, "RESUMEN"), "RESUMEN 5 |  | ") << row.mode;
    EXPECT_EQ(Occurrences(run.texts, 0, "Pagina 1 de 3"), 1) << row.mode;
    EXPECT_EQ(Occurrences(run.texts, 0, "Total"), 1) << row.mode;
    EXPECT_EQ(Occurrences(run.texts, 0, "Suma y sigue"), 0) << row.mode;
    EXPECT_EQ(run.pagination.Get("cTerminationReason").Str(), "all-data-consumed") << row.mode;
  }
}

// A header line, a record of seven lines, and a footer that grows by two
// lines on the last page: a record never fits beside the summary.
std::string SevenLineRecords(bool keepTogether, const std::string& extra) {
  std::string lines;
  for (int k = 1; k <= 7; ++k) {
    lines += std::string(k > 1 ? "," : "") + R"J({"nHeight":5,)J" +
             (keepTogether ? "" : R"J("lKeepTogether":false,)J") + R"J("aCells":[)J" +
             Cell("LIN.id + ' linea " + std::to_string(k) + "'") + "]}";
  }
  return R"J({"cFormatVersion":"1.0","nPaperWidth":210,"nPaperHeight":297,"hAcumVars":{"TOTAL":{"formula":"LIN.importe"}},
    "aObjects":[)J" +
         extra +
         R"J({"cType":"TText","cId":"hoja","nLeft":10,"nTop":5,"nWidth":80,"nHeight":5,"cText":"'Pagina ' + PAGE() + ' de ' + TOTALPAGES()"},
    {"cType":"TTable","cId":"T","nLeft":10,"nTop":20,"nWidth":100,"nHeight":50,"hSections":{
    "header":{"aLines":[{"nHeight":5,"aCells":[)J" +
         Cell("'Cab'") + R"J(]}]},
    "detail":{"aLines":[)J" +
         lines + R"J(]},
    "footer":{"aLines":[{"nHeight":5,"aCells":[)J" +
         Cell("'Total ' + SUM.TOTAL") +
         R"J(]},{"nHeight":5,"cConditionFormula":"LASTPAGE()","aCells":[)J" +
         Cell("'RESUMEN ' + SUM.TOTAL") +
         R"J(]},{"nHeight":5,"cConditionFormula":"LASTPAGE()","aCells":[)J" + Cell("'FIN'") +
         R"J(]}]}}}]})J";
}

TEST(TKXEngineFinalisation, RecordsThatCannotSitBesideTheSummaryLeaveItAPageOfItsOwn) {
  struct Row {
    int records;
    bool keepTogether;
    const RunMode& mode;
  } rows[] = {{1, true, kBothModes[0]},
              {2, true, kBothModes[0]},
              {5, true, kBothModes[0]},
              {1, false, kBothModes[0]},
              {2, true, kBothModes[1]}};
  for (const Row& row : rows) {
    std::vector<Value> records;
    for (int i = 1; i <= row.records; ++i)
      records.push_back(Value::NewMap({{"id", Numbered("R", i)}, {"importe", i}}));
    JobRun run = RunJob(SevenLineRecords(row.keepTogether, row.mode.extra), records);
    const std::string name = std::to_string(row.records) +
                             (row.keepTogether ? " kept together, " : " splittable, ") +
                             row.mode.mode;
    EXPECT_EQ(run.mode, row.mode.mode) << name;
    EXPECT_EQ(run.error, "") << name;
    const size_t pages = static_cast<size_t>(row.records) + 1;
    ASSERT_EQ(run.texts.size(), pages) << name;
    int sum = 0;
    for (size_t p = 0; p < pages; ++p) {
      const std::string hoja = Numbered("Pagina ", static_cast<int64_t>(p) + 1) +
                               Numbered(" de ", static_cast<int64_t>(pages));
      EXPECT_EQ(Occurrences(run.texts, p, hoja), 1) << name << " page " << p + 1;
      EXPECT_EQ(Occurrences(run.texts, p, "Cab"), 1) << name << " page " << p + 1;
      if (p + 1 < pages) {
        sum += static_cast<int>(p) + 1;
        const std::string id = Numbered("R", static_cast<int64_t>(p) + 1);
        std::string lines;
        for (int k = 1; k <= 7; ++k) lines += (k > 1 ? ", " : "") + id + Numbered(" linea ", k);
        EXPECT_EQ(Matching({run.texts[p]}, id + " linea"), lines) << name << " page " << p + 1;
        EXPECT_EQ(Matching({run.texts[p]}, "RESUMEN"), "") << name;
      } else {
        EXPECT_EQ(Matching({run.texts[p]}, "R"), Numbered("RESUMEN ", sum)) << name;
        EXPECT_EQ(Occurrences(run.texts, p, Numbered("Total ", sum)), 1) << name;
        EXPECT_EQ(Occurrences(run.texts, p, "FIN"), 1) << name;
      }
    }
    EXPECT_EQ(
        JsonEncode(run.pagination),
        R"({"nTotalDataLines":)" + std::to_string(row.records) + R"(,"nLastDataLine":)" +
            std::to_string(row.records) + R"(,"nPages":)" + std::to_string(pages) +
            R"(,"cTerminationReason":"all-data-consumed-after-lastpage-split","lLastPageSplit":true,)"
            R"("nLastPageSplitPages":1})")
        << name;
  }
}

TEST(TKXEngineFinalisation, ContentHeightPaperGrowsToHoldTheLastPage) {
  auto json = [](const std::string& heightMode, const std::string& extra) {
    return R"J({"cFormatVersion":"1.0","nPaperWidth":80,"nPaperHeight":297,"cPaperHeightMode":"content",
      "hAcumVars":{"TOTAL":{"formula":"LIN.importe"}},"aObjects":[)J" +
           extra +
           R"J({"cType":"TTable","cId":"T","nLeft":5,"nTop":10,"nWidth":70,"nHeight":50,"cHeightMode":")J" +
           heightMode + R"J(","lFooterOnBottom":false,"hSections":{
      "header":{"aLines":[{"nHeight":5,"aCells":[)J" +
           Cell("'Cab'", 70) + R"J(]}]},
      "detail":{"aLines":[{"nHeight":5,"aCells":[)J" +
           Cell("LIN.id", 70) + R"J(]}]},
      "footer":{"aLines":[{"nHeight":5,"aCells":[)J" +
           Cell("'Total ' + SUM.TOTAL", 70) +
           R"J(]},{"nHeight":5,"cConditionFormula":"LASTPAGE()","aCells":[)J" +
           Cell("'RESUMEN ' + SUM.TOTAL", 70) +
           R"J(]},{"nHeight":5,"cConditionFormula":"LASTPAGE()","aCells":[)J" + Cell("'FIN'", 70) +
           R"J(]}]}}}]})J";
  };
  // A mark low on every page after the first: the second page is the tallest.
  const std::string lowMark =
      R"J({"cType":"TRectangle","cId":"marca","nLeft":0,"nTop":150,"nWidth":5,"nHeight":5,"cCondition":"PAGE() > 1"},)J";
  struct Row {
    const char* name;
    std::string json;
    int records;
    size_t pages;
    double height;
  } rows[] = {
      {"content table, 1 record", json("content", ""), 1, 1, 40},
      {"content table, 5 records", json("content", ""), 5, 1, 60},
      {"content table, 50 records", json("content", ""), 50, 1, 285},
      {"fixed table on content paper, tallest page later", json("fixed", lowMark), 12, 2, 160},
  };
  for (const Row& row : rows) {
    std::vector<Value> records;
    for (int i = 1; i <= row.records; ++i)
      records.push_back(Value::NewMap({{"id", Numbered("R", i)}, {"importe", 1}}));
    JobRun run = RunJob(row.json, records);
    ASSERT_TRUE(run.doc) << row.name;
    ASSERT_EQ(run.texts.size(), row.pages) << row.name;
    EXPECT_EQ(Matching({run.texts.back()}, "RESUMEN"), Numbered("RESUMEN ", row.records))
        << row.name;
    EXPECT_DOUBLE_EQ(run.doc->nAlto, row.height) << row.name;
  }
}

TEST(TKXEngineFinalisation, PageCountsReachEveryFormulaThatCanUseThem) {
  // Each template puts a page count under one formula key; every one takes two passes.
  auto rectangles = [](const std::string& object) {
    return R"J({"cFormatVersion":"1.0","aObjects":[)J" + object + "]}";
  };
  struct Row {
    const char* name;
    std::string json;
    const char* mode;
  } rows[] = {
      {"run expression",
       rectangles(
           R"J({"cType":"TFormattedText","cId":"f","nLeft":1,"nTop":1,"nWidth":50,"nHeight":5,"cText":"''","aRichTextRuns":[{"cExpression":"PAGE() + ' de ' + TOTALPAGES()"}]})J"),
       "two-pass"},
      {"group expression of a line",
       rectangles(
           R"J({"cType":"TTable","cId":"T","nLeft":10,"nTop":20,"nWidth":100,"nHeight":50,"hSections":{"groupFooter":{"aLines":[{"nHeight":5,"cGroupExpression":"TOTALPAGES()","aCells":[]}]}}})J"),
       "two-pass"},
      {"break expressions",
       rectangles(
           R"J({"cType":"TTable","cId":"T","nLeft":10,"nTop":20,"nWidth":100,"nHeight":50,"hGroup":{"aBreakExpressions":["LIN.n","PAGES()"]}})J"),
       "two-pass"},
      {"line suppress condition",
       rectangles(
           R"J({"cType":"TTable","cId":"T","nLeft":10,"nTop":20,"nWidth":100,"nHeight":50,"hSections":{"footer":{"aLines":[{"nHeight":5,"cSuppressCondition":"LASTPAGE()","aCells":[]}]}}})J"),
       "two-pass"},
      {"breakable text",
       rectangles(
           R"J({"cType":"TText","cId":"t","nLeft":1,"nTop":1,"nWidth":50,"nHeight":5,"lAllowPageBreak":true,"cText":"'de ' + TOTALPAGES()"})J"),
       "two-pass"},
      {"text that does not break",
       rectangles(
           R"J({"cType":"TText","cId":"t","nLeft":1,"nTop":1,"nWidth":50,"nHeight":5,"cText":"'de ' + TOTALPAGES()"})J"),
       "single-pass-selective-finalization"},
  };
  for (const Row& row : rows) {
    JobRun run = RunJob(row.json, {Value::NewMap({{"n", 1}})});
    EXPECT_EQ(run.mode, row.mode) << row.name;
  }

  // Four pages of a ledger with a formatted run that shows the page count.
  Ledger ledger;
  ledger.extraObjects =
      R"J(,{"cType":"TFormattedText","cId":"pie","nLeft":120,"nTop":5,"nWidth":60,"nHeight":5,"cText":"''","aRichTextRuns":[{"cExpression":"'Pag ' + PAGE() + ' de ' + TOTALPAGES()"}]})J";
  RunResult r = RunLedger(ledger, 35);
  ASSERT_EQ(r.pages.size(), 4u);
  EXPECT_EQ(r.performance.Get("cMode").Str(), "two-pass");
  for (size_t p = 0; p < 4; ++p) {
    EXPECT_TRUE(Has(r.pages[p], "\"" + Numbered("Pag ", p + 1) + " de 4\"")) << p + 1;
  }

  // A footer line suppressed before the last page shows on the last page only.
  Ledger suppressed;
  suppressed.summaryLines = 0;
  std::string json = suppressed.Json();
  const std::string footer = R"("footer":{"aLines":[)";
  json.insert(json.find(footer) + footer.size(),
              R"J({"nHeight":5,"cSuppressCondition":"PAGE() < TOTALPAGES()","aCells":[)J" +
                  Cell("'ULTIMA'", 50) + "]},");
  std::vector<Value> records;
  for (int i = 1; i <= 25; ++i) records.push_back(Value::NewMap({{"id", i}, {"importe", 1}}));
  JobRun run = RunJob(json, records);
  EXPECT_EQ(run.mode, "two-pass");
  ASSERT_EQ(run.texts.size(), 3u);
  EXPECT_EQ(Matching(run.texts, "ULTIMA"), " |  | ULTIMA");

  // A breakable text that states the count is composed with it, then cut:
  // its first fragment opens with the count, the others go on with the words.
  std::string words;
  for (int i = 0; i < 60; ++i) words += Numbered("w", i) + " ";
  const std::string breakable =
      R"J({"cFormatVersion":"1.0","nPaperWidth":210,"nPaperHeight":297,"aObjects":[
      {"cType":"TText","cId":"notas","nLeft":120,"nTop":20,"nWidth":30,"nHeight":30,"lAllowPageBreak":true,"cText":"'de ' + TOTALPAGES() + ' )J" +
      words + R"J('"}]})J";
  JobRun split = RunJob(breakable, {Value::NewMap({{"n", 1}})});
  EXPECT_EQ(split.mode, "two-pass");
  ASSERT_EQ(split.texts.size(), 3u);
  EXPECT_EQ(split.texts[0][0].rfind("de 3 w0 ", 0), 0u) << split.texts[0][0];
  EXPECT_EQ(split.texts[2][0].find("de 3"), std::string::npos) << split.texts[2][0];
  EXPECT_NE(split.texts[2][0].find("w59"), std::string::npos) << split.texts[2][0];
}

}  // namespace
}  // namespace kx

namespace kx {
namespace {

// The sample VAT ledger with a group break on the invoice type: group
// footers show their subtotal beside the page count, the footer the running
// total beside it. Groups of 20 to 69 invoices break at every place of a page.
TEST(TKXEngineFinalisation, GroupedSampleLedgerShowsItsSubtotalsAndPageCounts) {
  const std::string folder = std::string(KX_SOURCE_DIR) + "/lbl/";
  std::string templateText, dataText;
  ASSERT_TRUE(platform::ReadTextFile(
      folder + "ivacli_Libro_de_Iva_de_Facturas_emitidas_importado_tarvex.lbl", templateText));
  ASSERT_TRUE(platform::ReadTextFile(
      folder + "demo/ivacli_Libro_de_Iva_de_Facturas_emitidas_importado_tarvex_sample_data.json",
      dataText));
  Value plantilla = JsonDecode(templateText);
  Value acumVars = plantilla.Get("hAcumVars");
  acumVars.Set("GBASE", JsonDecode(R"({"formula":"OMEMQUERY.base"})"));
  Value table;
  for (const Value& o : plantilla.Get("aObjects").AsList())
    if (o.Get("cType").Str() == "TTable") table = o;
  ASSERT_TRUE(table.IsMap());
  table.Set("hGroup", JsonDecode(R"({"cBreakExpression":"OMEMQUERY.tipocomp"})"));
  Value sections = table.Get("hSections");
  sections.Set("groupHeader",
               JsonDecode(R"({"aLines":[{"nHeight":6,"aResetAcumuladores":["GBASE"],"aCells":[)" +
                          Cell("'Tipo ' + OMEMQUERY.tipocomp", 190) + "]}]}"));
  sections.Set("groupFooter",
               JsonDecode(R"({"aLines":[{"nHeight":6,"aCells":[)" +
                          Cell("'Subtotal ' + OMEMQUERY.tipocomp + ' ' + SUM.GBASE + ' hoja ' + "
                               "PAGE() + ' de ' + TOTALPAGES()",
                               190) +
                          "]}]}"));
  Value footerCell = sections.Get("footer")
                         .Get("aLines")
                         .AsList()[0]
                         .Get("aCells")
                         .AsList()[0]
                         .Get("hContent")
                         .Get("hObject");
  footerCell.Set("cText", "'Acumulado ' + SUM.BASE + ' hoja ' + PAGE() + ' de ' + TOTALPAGES()");

  const Value data = JsonDecode(dataText);
  const List& rows = data.Get("DetalleVar").Get("OMEMQUERY").AsList();
  ASSERT_FALSE(rows.empty());
  const char* const types[] = {"FC", "NC", "ND"};
  const int records = 9328;
  std::vector<int> base(records + 1);
  std::vector<std::string> type(records + 1);
  std::vector<std::pair<std::string, int>> groups;  // invoice type and subtotal, in order
  TKXEngine engine;
  engine.SetInputEncoding(Value("UTF-8"));
  engine.SetPlantillaContent(Value(JsonEncode(plantilla)));
  engine.OpenJob();
  for (const Map::Entry& g : data.Get("DataVar").AsMap())
    engine.SendDataVar(g.key, SampleRecordLarge(g.value));
  for (int i = 1, g = 0, left = 0; i <= records; ++i) {
    if (left == 0) {
      left = 20 + (g * 13) % 50;
      groups.emplace_back(types[g % 3], 0);
      ++g;
    }
    --left;
    base[i] = 100 + i % 7;
    type[i] = groups.back().first;
    groups.back().second += base[i];
    Value rec = SampleRecordLarge(rows[static_cast<size_t>(i - 1) % rows.size()]);
    rec.Set("tipocomp", type[i]);
    rec.Set("seriefac", "AA");
    rec.Set("numfac", i);
    rec.Set("base", base[i]);
    rec.Set("impiva", 21);
    engine.SendDetalle(Value("OMEMQUERY"), rec);
  }
  engine.CloseJob();
  Ref<TDocumentoRenderizable> doc = engine.RunEngine();
  ASSERT_TRUE(doc);
  EXPECT_EQ(engine.cLastError, "");
  EXPECT_EQ(ValueString(engine.GetPerformanceDiagnostics().Get("cMode")),
            "single-pass-selective-finalization");
  EXPECT_EQ(engine.GetPaginationDiagnostics().Get("nLastDataLine").Int(), records);

  const int64_t pages = doc->TotalPaginas();
  const std::string of = Numbered(" de ", pages);
  std::vector<int> printed(records + 1, 0);
  size_t group = 0;
  int running = 0;
  for (int64_t p = 1; p <= pages; ++p) {
    const std::string hoja = Numbered(" hoja ", p) + of;
    int header = 0, summary = 0, footer = 0;
    const Value page = doc->GetPagina(p);  // a spooled page is a fresh copy: keep it
    for (const Value& o : page.Get("objetos").AsList()) {
      if (!o.Has("texto")) continue;
      const std::string t = ValueString(o.Get("texto"));
      header += t == Numbered("Hoja ", p) + of;
      summary += t == "RESUMEN IMPORTES";
      size_t dash = t.find(" AA-");
      if (dash == 2 && t.size() > 6) {
        const int i = std::atoi(t.c_str() + 6);
        ASSERT_TRUE(i >= 1 && i <= records) << t;
        EXPECT_EQ(t.substr(0, 2), type[i]) << t;
        ++printed[i];
        running += base[i];
      } else if (t.rfind("Subtotal ", 0) == 0) {
        ASSERT_LT(group, groups.size()) << t;
        EXPECT_EQ(t,
                  "Subtotal " + groups[group].first + Numbered(" ", groups[group].second) + hoja);
        ++group;
      } else if (t.rfind("Acumulado ", 0) == 0) {
        EXPECT_EQ(t, Numbered("Acumulado ", running) + hoja);
        ++footer;
      }
    }
    EXPECT_EQ(header, 1) << "page " << p;
    EXPECT_EQ(footer, 1) << "page " << p;
    EXPECT_EQ(summary, p == pages ? 1 : 0) << "page " << p;
  }
  EXPECT_EQ(group, groups.size());
  for (int i = 1; i <= records; ++i) ASSERT_EQ(printed[i], 1) << "record " << i;
}

}  // namespace
}  // namespace kx

namespace kx {
namespace {

// The ids "R0", "R1", ... of `count` records from `first` on, prefixed and joined as
// Matching joins the texts of one page.
std::string Ids(const std::string& prefix, int first, int count) {
  std::string out;
  for (int i = first; i < first + count; ++i)
    out += (i > first ? ", " : "") + prefix + Numbered("R", i);
  return out;
}

// A table listing the job's records: a detail line and a footer with its running total,
// and a last-page line when asked.
std::string ListTable(const std::string& id, int left, int height, int line, bool lastPageLine) {
  const std::string last = lastPageLine
                               ? R"J(,{"nHeight":6,"cConditionFormula":"LASTPAGE()","aCells":[)J" +
                                     Cell("'" + id + "FIN ' + SUM.N", 60) + "]}"
                               : "";
  return R"J({"cType":"TTable","cId":")J" + id + R"J(","nLeft":)J" + std::to_string(left) +
         R"J(,"nTop":20,"nWidth":60,"nHeight":)J" + std::to_string(height) +
         R"J(,"lFooterOnBottom":false,"hSections":{
    "detail":{"aLines":[{"nHeight":)J" +
         std::to_string(line) + R"J(,"aCells":[)J" + Cell("'" + id + " ' + LIN.id", 60) +
         R"J(]}]},
    "footer":{"aLines":[{"nHeight":)J" +
         std::to_string(line) + R"J(,"aCells":[)J" + Cell("'" + id + "T ' + SUM.N", 60) + "]}" +
         last + "]}}}";
}

// A grid of header lines only: it lists no record.
const std::string kGrid =
    R"J({"cType":"TTable","cId":"G","nLeft":10,"nTop":200,"nWidth":60,"nHeight":20,"hSections":{
    "header":{"aLines":[{"nHeight":6,"aCells":[)J" +
    Cell("'Grid'", 60) + "]}]}}}";

std::string Report(const std::string& objects) {
  return R"J({"cFormatVersion":"1.0","nPaperWidth":210,"nPaperHeight":297,
    "hAcumVars":{"N":{"formula":"LIN.importe"}},"aObjects":[)J" +
         objects +
         R"J({"cType":"TText","cId":"hoja","nLeft":10,"nTop":5,"nWidth":80,"nHeight":5,"cText":"'Hoja ' + PAGE() + '/' + TOTALPAGES()"}]})J";
}

std::vector<Value> Records(int n) {
  std::vector<Value> records;
  for (int i = 0; i < n; ++i)
    records.push_back(Value::NewMap({{"id", Numbered("R", i)}, {"importe", 1}}));
  return records;
}

// Table L holds 8 records a page (48 mm of 6 mm lines), table R 24 (2 mm lines): each goes
// through all 20 records at its own pace, with its own running total, and R, done on the
// first page, draws nothing on the others. A grid without detail lines beside them takes
// no record; alone it leaves the run without progress, as a template without tables does.
TEST(TKXEngineRun, TablesOverTheJobsRecordsEachPrintEveryRecord) {
  const std::string tables =
      ListTable("L", 10, 54, 6, true) + "," + ListTable("R", 100, 50, 2, false) + ",";
  for (const bool grid : {false, true}) {
    for (const RunMode& mode : kBothModes) {
      const std::string name = std::string(mode.mode) + (grid ? ", with a grid" : "");
      JobRun run = RunJob(Report(mode.extra + tables + (grid ? kGrid + "," : "")), Records(20));
      EXPECT_EQ(run.error, "") << name;
      EXPECT_EQ(run.mode, mode.mode) << name;
      ASSERT_EQ(run.texts.size(), 3u) << name;
      EXPECT_EQ(Matching(run.texts, "L R"),
                Ids("L ", 0, 8) + " | " + Ids("L ", 8, 8) + " | " + Ids("L ", 16, 4))
          << name;
      EXPECT_EQ(Matching(run.texts, "R R"), Ids("R ", 0, 20) + " |  | ") << name;
      EXPECT_EQ(Matching(run.texts, "LT "), "LT 8 | LT 16 | LT 20") << name;
      EXPECT_EQ(Matching(run.texts, "LFIN"), " |  | LFIN 20") << name;
      EXPECT_EQ(Matching(run.texts, "RT "), "RT 20 |  | ") << name;
      EXPECT_EQ(Matching(run.texts, "Hoja"), "Hoja 1/3 | Hoja 2/3 | Hoja 3/3") << name;
      EXPECT_EQ(Matching(run.texts, "Grid"), grid ? "Grid | Grid | Grid" : " |  | ") << name;
      EXPECT_EQ(JsonEncode(run.pagination),
                R"({"nTotalDataLines":20,"nLastDataLine":20,"nPages":3,)"
                R"("cTerminationReason":"all-data-consumed","lLastPageSplit":false,)"
                R"("nLastPageSplitPages":0})")
          << name;
    }
  }
  JobRun alone = RunJob(Report(kGrid + ","), Records(20));
  EXPECT_EQ(alone.texts.size(), 1u);
  EXPECT_EQ(alone.pagination.Get("cTerminationReason").Str(), "stalled-without-consuming-data");
  EXPECT_EQ(alone.pagination.Get("nLastDataLine").Int(), 0);
}

// A table that lists the records but stays hidden where the run needs it
// prints none of them: the run fails and says how many were printed, where a
// template that lists no records keeps its pages (above).
TEST(TKXEngineRun, RecordsThatAListingTableNeverPrintsFailTheRun) {
  std::string hidden = ListTable("L", 10, 54, 6, false);
  hidden.replace(hidden.find(R"("cId":"L")"), 9, R"("cId":"L","cCondition":"PAGE() > 1")");
  for (const RunMode& mode : kBothModes) {
    JobRun run = RunJob(Report(mode.extra + hidden + ","), Records(5));
    EXPECT_FALSE(run.doc) << mode.mode;
    EXPECT_EQ(run.error,
              "No se han impreso todos los registros del informe: 0 de 5 "
              "(stalled-without-consuming-data).")
        << mode.mode;
    EXPECT_EQ(run.pagination.Get("cTerminationReason").Str(), "stalled-without-consuming-data")
        << mode.mode;
    EXPECT_EQ(run.pagination.Get("nPages").Int(), 0) << mode.mode;
  }
}

}  // namespace
}  // namespace kx

namespace kx {
namespace {

// The lowest bottom edge of the texts a page shows of table T (its pieces' ids begin with
// "T_"), over every page of the run; `bodyOnly` leaves its footer out.
double LowestTableText(const JobRun& run, bool bodyOnly = false) {
  double lowest = 0.0;
  for (int64_t p = 1; run.doc && p <= run.doc->TotalPaginas(); ++p) {
    const Value page = run.doc->GetPagina(p);
    for (const Value& o : page.Get("objetos").AsList()) {
      const std::string id = ValueString(o.Get("id"));
      if (!o.Has("texto") || id.rfind("T_", 0) != 0) continue;
      if (bodyOnly && id.rfind("T_footer_", 0) == 0) continue;
      lowest = std::max(lowest, ValueDouble(o.Get("y")) + ValueDouble(o.Get("alto")));
    }
  }
  return lowest;
}

// A table T of 40 mm below a 10 mm header line (a body of 30 mm, 24 on the last page, where
// a 6 mm line shows the total), with the sections given.
std::string TallRecords(const std::string& group, const std::string& sections) {
  return R"J({"cType":"TTable","cId":"T","nLeft":10,"nTop":20,"nWidth":100,"nHeight":40,)J" +
         group + R"J("hSections":{"header":{"aLines":[{"nHeight":10,"aCells":[)J" + Cell("'Cab'") +
         R"J(]}]},)J" + sections +
         R"J(,"footer":{"aLines":[{"nHeight":6,"cConditionFormula":"LASTPAGE()","aCells":[)J" +
         Cell("'#FIN ' + SUM.N") + "]}]}}},";
}

std::string Lines(const std::string& section, const std::vector<std::string>& lines) {
  std::string out = "\"" + section + "\":{\"aLines\":[";
  for (size_t k = 0; k < lines.size(); ++k) out += (k > 0 ? "," : "") + lines[k];
  return out + "]}";
}

// One line of the height, showing the formula; `more` adds keys to the line.
std::string Line(int height, const std::string& formula, const std::string& more = "") {
  return R"J({"nHeight":)J" + std::to_string(height) + more + R"J(,"aCells":[)J" + Cell(formula) +
         "]}";
}

// Records with an id, a group and a flag that chooses the tall detail line.
std::vector<Value> Grouped(const std::vector<std::pair<const char*, int>>& rows) {
  std::vector<Value> records;
  for (size_t i = 0; i < rows.size(); ++i) {
    records.push_back(Value::NewMap({{"id", Numbered("R", static_cast<int64_t>(i))},
                                     {"g", rows[i].first},
                                     {"largo", rows[i].second},
                                     {"importe", 1}}));
  }
  return records;
}

// Each table has a last page of its own. L's last four records and its last-page line fit
// its third page, which is where it finishes. Beside its last-page lines R holds only 4
// records there: that page shows them as a page that is not R's last, and R's last two
// records and its last-page lines follow on a fourth page, where L draws nothing.
TEST(TKXEngineFinalisation, TablesAtTheirOwnPaceSplitTheirOwnLastPage) {
  std::string right = ListTable("R", 100, 48, 6, true);
  const std::string more = R"J(,{"nHeight":6,"cConditionFormula":"LASTPAGE()"})J";
  right.insert(right.rfind("]}}}"), more + more);
  const std::string tables = ListTable("L", 10, 54, 6, true) + "," + right + ",";
  for (const RunMode& mode : kBothModes) {
    JobRun run = RunJob(Report(mode.extra + tables), Records(20));
    EXPECT_EQ(run.error, "") << mode.mode;
    ASSERT_EQ(run.texts.size(), 4u) << mode.mode;
    EXPECT_EQ(Matching(run.texts, "L R"),
              Ids("L ", 0, 8) + " | " + Ids("L ", 8, 8) + " | " + Ids("L ", 16, 4) + " | ")
        << mode.mode;
    EXPECT_EQ(Matching(run.texts, "R R"), Ids("R ", 0, 7) + " | " + Ids("R ", 7, 7) + " | " +
                                              Ids("R ", 14, 4) + " | " + Ids("R ", 18, 2))
        << mode.mode;
    EXPECT_EQ(Matching(run.texts, "LT "), "LT 8 | LT 16 | LT 20 | ") << mode.mode;
    EXPECT_EQ(Matching(run.texts, "RT "), "RT 7 | RT 14 | RT 18 | RT 20") << mode.mode;
    EXPECT_EQ(Matching(run.texts, "LFIN"), " |  | LFIN 20 | ") << mode.mode;
    EXPECT_EQ(Matching(run.texts, "RFIN"), " |  |  | RFIN 20") << mode.mode;
    EXPECT_EQ(Matching(run.texts, "Hoja"), "Hoja 1/4 | Hoja 2/4 | Hoja 3/4 | Hoja 4/4")
        << mode.mode;
    EXPECT_EQ(run.pagination.Get("nLastDataLine").Int(), 20) << mode.mode;
    EXPECT_EQ(run.pagination.Get("cTerminationReason").Str(),
              "all-data-consumed-after-lastpage-split")
        << mode.mode;
  }
}

// A record that cannot stand whole at the top of an empty body, with the group lines that
// must stand beside it, is laid out line by line over as many pages as it needs; records
// and groups after it that fit are laid out as ever. Every line prints once, in order,
// inside the table's box, and the last page shows its last-page line, in both kinds of run.
TEST(TKXEngineRun, ARecordTallerThanTheBodyIsSplitNotDropped) {
  const std::string byGroup = R"J("hGroup":{"cBreakExpression":"LIN.g"},)J";
  const std::string detail =
      Lines("detail", {Line(16, "'#D ' + LIN.id", R"J(,"cConditionFormula":"LIN.largo == 1")J"),
                       Line(4, "'#D ' + LIN.id", R"J(,"cConditionFormula":"LIN.largo == 0")J")});
  const std::string groupHeader =
      Lines("groupHeader", {Line(8, "'#G ' + LIN.g", R"J(,"aResetAcumuladores":["S"])J")});
  const std::string groupFooter = Lines("groupFooter", {Line(8, "'#F ' + LIN.g + ' ' + SUM.S")});
  struct Row {
    const char* name;
    std::string table;
    std::vector<Value> records;
    const char* printed;
  } rows[] = {
      {"two lines kept together, 32 mm",
       TallRecords("", Lines("detail", {Line(16, "'#A ' + LIN.id"), Line(16, "'#B ' + LIN.id")})),
       Grouped({{"x", 1}, {"x", 1}, {"x", 1}, {"x", 1}}),
       "#A R0 | #B R0 | #A R1 | #B R1 | #A R2 | #B R2 | #A R3 | #B R3, #FIN 4"},
      {"with its group header and footer, 32 mm",
       TallRecords(byGroup, detail + "," + groupHeader + "," + groupFooter),
       Grouped({{"A", 1}, {"B", 0}, {"C", 1}, {"C", 0}, {"D", 0}}),
       "#G A, #D R0 | #F A 1, #G B, #D R1, #F B 1 | #G C, #D R2 | #D R3, #F C 2 | "
       "#G D, #D R4, #F D 1, #FIN 5"},
      {"a group header of 36 mm",
       TallRecords(byGroup, Lines("detail", {Line(5, "'#D ' + LIN.id")}) + "," +
                                Lines("groupHeader",
                                      {Line(12, "'#H1'"), Line(12, "'#H2'"), Line(12, "'#H3'")})),
       Grouped({{"A", 0}, {"A", 0}}), "#H1, #H2 | #H3, #D R0, #D R1, #FIN 2"},
      {"a group footer of 36 mm",
       TallRecords(byGroup,
                   Lines("detail", {Line(5, "'#D ' + LIN.id")}) + "," +
                       Lines("groupFooter", {Line(12, "'#F1 ' + SUM.N"), Line(12, "'#F2 ' + SUM.N"),
                                             Line(12, "'#F3 ' + SUM.N")})),
       Grouped({{"A", 0}}), "#D R0, #F1 1, #F2 1 | #F3 1, #FIN 1"},
  };
  for (const Row& row : rows) {
    for (const RunMode& mode : kBothModes) {
      const std::string name = std::string(row.name) + ", " + mode.mode;
      const std::string json =
          R"J({"cFormatVersion":"1.0","nPaperWidth":210,"nPaperHeight":297,
            "hAcumVars":{"N":{"formula":"LIN.importe"},"S":{"formula":"LIN.importe"}},"aObjects":[)J" +
          mode.extra + row.table +
          R"J({"cType":"TText","cId":"hoja","nLeft":10,"nTop":5,"nWidth":80,"nHeight":5,"cText":"'Hoja ' + PAGE() + '/' + TOTALPAGES()"}]})J";
      JobRun run = RunJob(json, row.records);
      EXPECT_EQ(run.error, "") << name;
      EXPECT_EQ(run.mode, mode.mode) << name;
      EXPECT_EQ(Matching(run.texts, "#"), row.printed) << name;
      std::string pages;
      for (size_t p = 1; p <= run.texts.size(); ++p)
        pages += (p > 1 ? " | " : "") + Numbered("Hoja ", p) + Numbered("/", run.texts.size());
      EXPECT_EQ(Matching(run.texts, "Hoja"), pages) << name;
      EXPECT_LE(LowestTableText(run), 60.0 + 0.25) << name;
      const int64_t n = static_cast<int64_t>(row.records.size());
      EXPECT_EQ(run.pagination.Get("nLastDataLine").Int(), n) << name;
      EXPECT_EQ(run.pagination.Get("cTerminationReason").Str(), "all-data-consumed") << name;
    }
  }
}

}  // namespace
}  // namespace kx

namespace kx {
namespace {

// Groups a (6 + 6), b (20) and c (4): footer lines shown only above 10, suppressed up to 10,
// or empty up to 10 see the group's final total, as the plain total line beside them does.
// They keep their room beside the group's last record: in a short box that record moves to
// the next page with its footer, which never reaches the table's footer.
TEST(TKXEngineRun, GroupFooterLinesAreChosenWithTheGroupsFinalSums) {
  auto table = [](int height) {
    return R"J({"cType":"TTable","cId":"T","nLeft":10,"nTop":20,"nWidth":100,"nHeight":)J" +
           std::to_string(height) + R"J(,"hGroup":{"cBreakExpression":"LIN.g"},"hSections":{
      "header":{"aLines":[)J" +
           Line(5, "'Cab'") + "]}," + Lines("detail", {Line(5, "'#D ' + LIN.id")}) + "," +
           Lines("groupHeader", {Line(5, "'#G ' + LIN.g", R"J(,"aResetAcumuladores":["S"])J")}) +
           "," +
           Lines("groupFooter",
                 {Line(5, "'#TOTAL ' + SUM.S"),
                  Line(5, "'#COND ' + SUM.S", R"J(,"cConditionFormula":"SUM.S > 10")J"),
                  Line(5, "'#SUPR ' + SUM.S", R"J(,"cSuppressCondition":"SUM.S <= 10")J"),
                  Line(5, "IIF(SUM.S > 10, '#OVER ' + SUM.S, '')", R"J(,"lIgnoreEmpty":true)J")}) +
           "," + Lines("footer", {Line(5, "'Pie'")}) + "}},";
  };
  const std::string a = "#TOTAL 12, #COND 12, #SUPR 12, #OVER 12";
  const std::string b = "#TOTAL 20, #COND 20, #SUPR 20, #OVER 20";
  struct Row {
    const char* name;
    int height;
    std::string printed;
  } rows[] = {
      {"one page", 120,
       "#G a, #D a1, #D a2, " + a + ", #G b, #D b1, " + b + ", #G c, #D c1, #TOTAL 4"},
      {"footers moving on", 40,
       "#G a, #D a1 | #D a2, " + a + " | #G b, #D b1, " + b + " | #G c, #D c1, #TOTAL 4"},
  };
  const std::vector<Value> records = {Value::NewMap({{"id", "a1"}, {"g", "a"}, {"importe", 6}}),
                                      Value::NewMap({{"id", "a2"}, {"g", "a"}, {"importe", 6}}),
                                      Value::NewMap({{"id", "b1"}, {"g", "b"}, {"importe", 20}}),
                                      Value::NewMap({{"id", "c1"}, {"g", "c"}, {"importe", 4}})};
  for (const Row& row : rows) {
    for (const RunMode& mode : kBothModes) {
      const std::string name = std::string(row.name) + ", " + mode.mode;
      const std::string json =
          R"J({"cFormatVersion":"1.0","nPaperWidth":210,"nPaperHeight":297,
            "hAcumVars":{"S":{"formula":"LIN.importe"}},"aObjects":[)J" +
          mode.extra + table(row.height) +
          R"J({"cType":"TText","cId":"hoja","nLeft":10,"nTop":5,"nWidth":80,"nHeight":5,"cText":"'Hoja ' + PAGE() + '/' + TOTALPAGES()"}]})J";
      JobRun run = RunJob(json, records);
      EXPECT_EQ(run.error, "") << name;
      EXPECT_EQ(run.mode, mode.mode) << name;
      EXPECT_EQ(Matching(run.texts, "#"), row.printed) << name;
      // The body ends where the table's footer line begins.
      EXPECT_LE(LowestTableText(run, true), 20.0 + row.height - 5 + 0.25) << name;
      EXPECT_EQ(run.pagination.Get("cTerminationReason").Str(), "all-data-consumed") << name;
    }
  }
}

}  // namespace
}  // namespace kx

namespace kx {
namespace {

// Generated list reports, one or two tables side by side: boxes of any height, detail
// records of one to three lines kept together or not and often taller than the body,
// groups whose header and footer lines may be as well, a group footer line shown only
// above a total, and last-page lines. Whatever the layout, every detail line of every
// table prints once, records in order, every group footer line once with its group's
// total, every page states its number and the count, and one pass and two passes give
// the same pages.
TEST(TKXEngineRun, GeneratedListsPrintEveryLineOnceInBothKindsOfRun) {
  std::mt19937 rng(24);
  auto pick = [&](int from, int to) { return std::uniform_int_distribution<int>(from, to)(rng); };
  for (int k = 0; k < 200; ++k) {
    struct Layout {
      std::string id;
      int detailLines = 1;
      int footerLines = 0;  // group footer lines; 0 without groups
    };
    std::vector<Layout> layouts(static_cast<size_t>(pick(1, 2)));
    std::string objects;
    for (size_t t = 0; t < layouts.size(); ++t) {
      Layout& l = layouts[t];
      l.id = t == 0 ? "A" : "B";
      const std::string keep = pick(0, 3) > 0 ? "" : R"J(,"lKeepTogether":false)J";
      std::vector<std::string> detail;
      l.detailLines = pick(1, 3);
      for (int d = 0; d < l.detailLines; ++d)
        detail.push_back(
            Line(pick(2, 30), "'" + l.id + "D' + LIN.id + '.' + " + Numbered("", d), keep));
      std::string sections =
          Lines("header", {Line(pick(1, 10), "'Cab'")}) + "," + Lines("detail", detail);
      std::string group;
      if (pick(0, 1)) {
        group = R"J("hGroup":{"cBreakExpression":"LIN.g"},)J";
        std::vector<std::string> header, footer;
        for (int h = pick(1, 2); h > 0; --h) header.push_back(Line(pick(2, 25), "'GH'"));
        header.front().insert(1, R"J("aResetAcumuladores":["G)J" + l.id + R"J("],)J");
        l.footerLines = pick(1, 3);
        for (int f = 0; f < l.footerLines; ++f) {
          const std::string shown =
              f == 1 ? R"J(,"cConditionFormula":"SUM.G)J" + l.id + R"J( > 3")J" : "";
          footer.push_back(
              Line(pick(2, 25),
                   "'" + l.id + "GF' + LIN.g + '.' + " + Numbered("", f) + " + '=' + SUM.G" + l.id,
                   shown));
        }
        sections += "," + Lines("groupHeader", header) + "," + Lines("groupFooter", footer);
      }
      std::vector<std::string> footer = {Line(pick(1, 8), "'Total'")};
      if (pick(0, 1))
        footer.push_back(Line(pick(2, 20), "'FIN'", R"J(,"cConditionFormula":"LASTPAGE()")J"));
      sections += "," + Lines("footer", footer);
      objects += R"J({"cType":"TTable","cId":")J" + l.id + R"J(","nLeft":)J" +
                 Numbered("", 10 + 90 * static_cast<int64_t>(t)) +
                 R"J(,"nTop":20,"nWidth":60,"nHeight":)J" + Numbered("", pick(20, 80)) + "," +
                 group + R"J("hSections":{)J" + sections + "}},";
    }
    std::vector<Value> records;
    std::vector<std::pair<int64_t, int64_t>> totals;  // group and its total, in order
    for (int i = pick(1, 40), g = 0; i > 0; --i) {
      if (totals.empty() || pick(0, 2) == 0) totals.emplace_back(++g, 0);
      const int v = pick(1, 3);
      totals.back().second += v;
      records.push_back(
          Value::NewMap({{"id", static_cast<int64_t>(records.size())}, {"g", g}, {"v", v}}));
    }
    const std::string sums = R"J({"GA":{"formula":"LIN.v"},"GB":{"formula":"LIN.v"}})J";
    std::vector<JobRun> runs;
    for (const RunMode& mode : kBothModes) {
      runs.push_back(RunJob(
          R"J({"cFormatVersion":"1.0","nPaperWidth":210,"nPaperHeight":297,"hAcumVars":)J" + sums +
              R"J(,"aObjects":[)J" + mode.extra + objects +
              R"J({"cType":"TText","cId":"hoja","nLeft":10,"nTop":5,"nWidth":80,"nHeight":5,"cText":"'Hoja ' + PAGE() + '/' + TOTALPAGES()"}]})J",
          records));
    }
    const JobRun& run = runs[0];
    const std::string name = "report " + std::to_string(k);
    ASSERT_EQ(run.texts, runs[1].texts) << name;
    EXPECT_EQ(run.error, "") << name;
    EXPECT_NE(run.pagination.Get("cTerminationReason").Str().find("all-data-consumed"),
              std::string::npos)
        << name;
    EXPECT_EQ(run.pagination.Get("nLastDataLine").Int(), static_cast<int64_t>(records.size()))
        << name;
    for (const Layout& l : layouts) {
      std::string lines, wanted, footers, wantedFooters;
      for (const auto& page : run.texts)
        for (const std::string& t : page) {
          if (t.rfind(l.id + "D", 0) == 0) lines += t + " ";
          if (t.rfind(l.id + "GF", 0) == 0) footers += t + " ";
        }
      for (size_t r = 0; r < records.size(); ++r)
        for (int d = 0; d < l.detailLines; ++d)
          wanted += l.id + "D" + std::to_string(r) + "." + std::to_string(d) + " ";
      for (const auto& [g, total] : totals)
        for (int f = 0; f < l.footerLines; ++f)
          if (f != 1 || total > 3)
            wantedFooters += l.id + "GF" + std::to_string(g) + "." + std::to_string(f) + "=" +
                             std::to_string(total) + " ";
      EXPECT_EQ(lines, wanted) << name << " table " << l.id;
      EXPECT_EQ(footers, wantedFooters) << name << " table " << l.id;
    }
    for (size_t p = 0; p < run.texts.size(); ++p)
      EXPECT_EQ(
          Occurrences(run.texts, p, Numbered("Hoja ", p + 1) + Numbered("/", run.texts.size())), 1)
          << name << " page " << p + 1;
  }
}

}  // namespace
}  // namespace kx
