// The example host: runs one report and prints what a viewer would draw,
// page by page, one line per rendered object.
//   show_pages TEMPLATE [DATA] [--first-label N] [--json FILE]
// TEMPLATE is a template file; DATA a data file (see ExampleHost.h); a label
// template may start on label N of its first sheet; --json also writes the
// pages as one JSON map {"ancho", "alto", "pages"} for a viewer (the
// document's EscribirJson). The run's warnings go to standard error; so does
// its failure, if any, and the exit code is then 1.
#include <kxengine/Json.h>
#include <kxengine/TKXEngine.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "ExampleHost.h"

int main(int argc, char** argv) {
  using namespace kx;
  std::string templatePath, dataPath, jsonPath;
  int64_t firstLabel = 0;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--first-label" && i + 1 < argc) {
      firstLabel = std::stoll(argv[++i]);
    } else if (arg == "--json" && i + 1 < argc) {
      jsonPath = argv[++i];
    } else if (templatePath.empty()) {
      templatePath = arg;
    } else {
      dataPath = arg;
    }
  }
  if (templatePath.empty()) {
    std::fprintf(stderr, "usage: show_pages TEMPLATE [DATA] [--first-label N] [--json FILE]\n");
    return 2;
  }
  // The data file is read with the engine's JSON reader (<kxengine/Json.h>).
  Value data = Value::NewMap();
  if (!dataPath.empty()) {
    std::string text;
    if (!examples::ReadFile(dataPath, text) || !(data = JsonDecode(text)).IsMap()) {
      std::fprintf(stderr, "show_pages: cannot read the data file %s\n", dataPath.c_str());
      return 1;
    }
  }

  TKXEngine engine;
  engine.Create();
  // Templates and data files are UTF-8: the data reaches the engine as it stands.
  engine.SetEncodingUTF8();
  engine.OpenJob(Value(templatePath));
  examples::SendData(engine, data);
  engine.CloseJob();
  if (firstLabel > 0) engine.SetEtiquetaInicial(Value(firstLabel));

  Ref<TDocumentoRenderizable> document = engine.RunEngine();
  // What the engine met and passed over (a formula error, a condition it could not
  // evaluate, a colour it could not use), each text once with how often it occurred.
  const Value warnings = engine.GetAvisos();
  for (const Value& w : warnings.AsList()) {
    std::fprintf(stderr, "show_pages: warning (x%s): %s\n", ValueString(w.Get("nVeces")).c_str(),
                 ValueString(w.Get("cAviso")).c_str());
  }
  if (!document) {
    std::fprintf(stderr, "show_pages: %s\n", engine.cLastError.c_str());
    engine.End();
    return 1;
  }
  std::string pages = examples::DescribePages(*document);
  std::fwrite(pages.data(), 1, pages.size(), stdout);
  if (!jsonPath.empty()) {
    std::ofstream out(jsonPath, std::ios::binary);
    const bool written = document->EscribirJson(out);
    out.close();
    // A page not read back is told below.
    if ((!written || !out) && !document->HasPageSpoolError()) {
      std::fprintf(stderr, "show_pages: cannot write %s\n", jsonPath.c_str());
    }
  }
  // Every page read back, the spool too: a page that could not be read is a failure.
  const bool spoolOk = !document->HasPageSpoolError();
  if (!spoolOk) std::fprintf(stderr, "show_pages: %s\n", document->GetPageSpoolError().c_str());
  engine.End();
  return spoolOk ? 0 : 1;
}
