// The template source as a host names or hands it over: a template that was
// named and cannot be used fails the run and says why; text handed over reads
// like a file, byte-order mark and all; names that hold NUL name no file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "Json.h"
#include "TKXEngine.h"
#include "TestFolder.h"

namespace kx {
namespace {

const std::string kBom = "\xEF\xBB\xBF";
const std::string kTemplate =
    R"({"cFormatVersion":"1.0","aObjects":[{"cType":"TText","cId":"t","nLeft":10,"nTop":10,
        "nWidth":80,"nHeight":6,"cText":"'hola'"}]})";
const std::string kOlderForm =
    R"({"nombre":"viejo","objetos":[{"id":"t","tipo":"TText","x":10,"y":10,"ancho":80,
        "alto":6,"valor":"'hola'"}]})";
const std::string kKx12 =
    "[List description]\r\n[Description]\r\nx=1\r\n[Layout]\r\nUNITS=SCM-UNITS\r\n";
const std::string kCannotLoad = "No se ha podido cargar la plantilla del informe: ";
// A template that lacks the comma after its fourth line's member.
const std::string kBroken =
    "{\"cFormatVersion\": \"1.0\",\n"
    " \"aObjects\": [\n"
    "  {\"cType\": \"TText\",\n"
    "   \"cId\": \"título\"\n"
    "   \"cText\": \"'hola'\"}]}";

struct Outcome {
  bool document = false;
  int64_t pages = 0;
  std::string error;
  std::string reason;
};

// Opens a job on the source, sends one detail record and runs it.
Outcome RunJob(TKXEngine& engine) {
  engine.OpenJob();
  engine.SendDetalle(Value("LIN"), Value::NewMap({{"n", 1}}));
  engine.CloseJob();
  Ref<TDocumentoRenderizable> doc = engine.RunEngine();
  Outcome o;
  o.document = static_cast<bool>(doc);
  o.pages = doc ? doc->TotalPaginas() : 0;
  o.error = engine.cLastError;
  o.reason = std::string(engine.GetPaginationDiagnostics().Get("cTerminationReason").Str());
  return o;
}

TEST(TKXEnginePlantilla, ANamedTemplateThatCannotBeUsedFailsTheRun) {
  TempDir dir;
  WorkingFolder here(dir.path());
  dir.Write("vacia.lbl", "");
  dir.Write("blanca.lbl", " \r\n\t ");
  dir.Write("cortada.lbl", R"({"cFormatVersion":"1.0","aObjects":[)");
  dir.Write("rota.lbl", kBom + kBroken);
  dir.Write("lista.lbl", "[1,2]");
  dir.Write("carpeta.lbl/x", "");
  dir.Write("kx12.lst", kKx12);
  dir.Write("kx12bom.lst", kBom + kKx12);
  dir.Write("buena.lbl", kTemplate);
  const std::string conNul = std::string("buena.lbl\0.bak", 14);
  struct Row {
    std::string name;
    std::string error;
  } rows[] = {
      {"no_existe.lbl", kCannotLoad + "no_existe.lbl"},  // a typo
      {"vacia.lbl", kCannotLoad + "vacia.lbl"},
      {"blanca.lbl", kCannotLoad + "blanca.lbl"},
      // Text that is no JSON says where, and what should stand there; a
      // byte-order mark and a multi-byte character take no column.
      {"cortada.lbl", kCannotLoad + "cortada.lbl (linea 1, columna 37: se esperaba un valor)"},
      {"rota.lbl", kCannotLoad + "rota.lbl (linea 5, columna 4: se esperaba ',' o '}')"},
      {"lista.lbl", kCannotLoad + "lista.lbl"},
      {"carpeta.lbl", kCannotLoad + "carpeta.lbl"},  // a folder: no file to read
      {"kx12.lst", kCannotLoad + "plantilla de tipo KX12 no admitida"},
      {"kx12bom.lst", kCannotLoad + "plantilla de tipo KX12 no admitida"},
      // The name before the NUL is a good template, but the name given is not that one.
      {conNul, kCannotLoad + conNul},
  };
  for (const Row& r : rows) {
    TKXEngine engine;
    engine.SetPlantillaName(Value(r.name));
    Outcome o = RunJob(engine);
    EXPECT_FALSE(o.document) << r.name;
    EXPECT_EQ(o.error, r.error) << r.name;
    EXPECT_EQ(o.reason, "not-started") << r.name;
    // Everything else still works on the empty template.
    EXPECT_TRUE(engine.ValidarDatos().Get("lOk").Bool()) << r.name;
    EXPECT_FALSE(engine.GetLabelPrintLayout().Get("lLabelDocument").Bool()) << r.name;
    EXPECT_EQ(engine.GetAskStrings().Len(), 0u) << r.name;
  }
}

TEST(TKXEnginePlantilla, ANameOfNoRegularFileFailsAtOnceAsATemplate) {
  // A FIFO without a writer would hold a blocking open; a device and a file of
  // the system whose content never ends would be read until memory runs out.
  TempDir dir;
  const std::string fifo = dir.path() + "/plantilla.fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::vector<std::string> names = {fifo, "/dev/zero"};
  if (::access("/proc/self/pagemap", R_OK) == 0) names.push_back("/proc/self/pagemap");
  for (const std::string& name : names) {
    TKXEngine engine;
    engine.SetPlantillaName(Value(name));
    EXPECT_EQ(engine.GetPlantillaContent(), "") << name;
    Outcome o = RunJob(engine);
    EXPECT_FALSE(o.document) << name;
    EXPECT_EQ(o.error, kCannotLoad + name);
  }
}

TEST(TKXEnginePlantilla, TemplateTextThatCannotBeUsedFailsTheRun) {
  struct Row {
    std::string text;
    const char* encoding;
    std::string error;
  } rows[] = {
      {"{no es json", "UTF-8",
       kCannotLoad +
           "contenido no valido (linea 1, columna 2: se esperaba una clave entre comillas o '}')"},
      {kBroken, "UTF-8",
       kCannotLoad + "contenido no valido (linea 5, columna 4: se esperaba ',' o '}')"},
      {"{\"a\": \"dos\nlineas\"}", "UTF-8",
       kCannotLoad + "contenido no valido (linea 1, columna 11: se esperaba '\"' o un escape (\\n, "
                     "\\t) en lugar de un caracter de control)"},
      {"[1,2]", "UTF-8", kCannotLoad + "contenido no valido"},
      {" \r\n ", "UTF-8", kCannotLoad + "contenido no valido"},
      {kKx12, "UTF-8", kCannotLoad + "plantilla de tipo KX12 no admitida"},
      {kBom + kKx12, "WINDOWS-1252", kCannotLoad + "plantilla de tipo KX12 no admitida"},
  };
  for (const Row& r : rows) {
    TKXEngine engine;
    engine.SetInputEncoding(Value(r.encoding));
    engine.SetPlantillaContent(Value(r.text));
    Outcome o = RunJob(engine);
    EXPECT_FALSE(o.document) << r.text;
    EXPECT_EQ(o.error, r.error) << r.text;
    EXPECT_EQ(o.reason, "not-started") << r.text;
  }
}

TEST(TKXEnginePlantilla, TemplatesThatCanBeUsedRun) {
  TempDir dir;
  WorkingFolder here(dir.path());
  dir.Write("lbl/bom.lbl", kBom + kTemplate);  // found under "lbl", read past its mark
  dir.Write("vieja.lbl", kOlderForm);          // the older form converts: not the foreign kind
  for (const char* name : {"bom.lbl", "vieja.lbl"}) {
    TKXEngine engine;
    engine.SetPlantillaName(Value(name));
    Outcome o = RunJob(engine);
    ASSERT_TRUE(o.document) << name << ": " << o.error;
    EXPECT_EQ(o.error, "") << name;
  }
  // Text with a byte-order mark reads like a file that has one.
  TKXEngine content;
  content.SetPlantillaContent(Value(kBom + kTemplate + "\r\n[UserSection]\r\nx"));
  EXPECT_EQ(content.cPlantillaContent, kTemplate);
  Outcome o = RunJob(content);
  EXPECT_TRUE(o.document) << o.error;
  const Value page = content.GetDocumento()->GetPagina(Value(1));
  EXPECT_EQ(page.Get("objetos").AsList()[0].Get("texto").Str(), "hola");
}

TEST(TKXEnginePlantilla, NoTemplateSourceKeepsTheEmptyReport) {
  TKXEngine unnamed;  // an empty name and no text
  Outcome o = RunJob(unnamed);
  EXPECT_TRUE(o.document);
  EXPECT_EQ(o.pages, 1);
  EXPECT_EQ(o.error, "");
  EXPECT_EQ(o.reason, "stalled-without-consuming-data");
  TKXEngine empty;
  empty.SetPlantillaContent(Value(kBom));  // nothing but a byte-order mark
  EXPECT_TRUE(RunJob(empty).document);
}

TEST(TKXEnginePlantilla, KindTestsReadPastAByteOrderMark) {
  TKXEngine engine;
  struct Row {
    std::string text;
    const char* kind;
  } rows[] = {
      {kBom + kTemplate, "KXTARVEX"},
      {kBom + kKx12, "KX12"},
      {kBom, "DESCONOCIDO"},
      {kBom + kBom + kTemplate, "DESCONOCIDO"},  // one mark is read past, not two
  };
  for (const char* encoding : {"UTF-8", "WINDOWS-1252"}) {
    engine.SetInputEncoding(Value(encoding));
    for (const Row& r : rows) {
      EXPECT_EQ(engine.GetTipoPlantilla(Value(r.text)), r.kind) << encoding << " " << r.text;
    }
  }
  EXPECT_TRUE(engine.IsPlantillaKXTarvex(Value(kBom + kTemplate)));
  EXPECT_TRUE(engine.IsPlantillaKX12(Value(kBom + kKx12)));
}

}  // namespace
}  // namespace kx
