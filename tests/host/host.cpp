// A host of the engine: reads its job's data as JSON, runs an order report
// of a table with a total and page x of y, and writes the pages as JSON for
// a viewer, one page and the whole document. Prints the document's JSON and
// exits with 0 when every check holds.
#include <kxengine/Json.h>
#include <kxengine/TKXEngine.h>

#include <cstdio>
#include <sstream>
#include <string>

namespace {

const char* const kTemplate = R"json({
 "cFormatVersion": "1.0",
 "hAcumVars": {"TOTAL": {"tipo": "numerico", "formula": "LIN.cantidad * LIN.precio"}},
 "aObjects": [
  {"cType": "TText", "cId": "pagina", "nLeft": 140, "nTop": 22, "nWidth": 50, "nHeight": 6,
   "cText": "'Página ' + PAGE() + ' de ' + TOTALPAGES()"
},
  {"cType": "TTable", "cId": "lineas", "nLeft": 20, "nTop": 40, "nWidth": 170, "nHeight": 200,
   "lFooterOnBottom": false,
   "hSections": {
    "detail": {"aLines": [{"nHeight": 6, "aCells": [
     {"nWidth": 130, "hContent": {"cType": "TText", "hObject": {"cText": "LIN.articulo"}}},
     {"nWidth": 40, "hContent": {"cType": "TText", "hObject": {"cText": "LIN.precio"}}}]}]},
    "footer": {"aLines": [{"nHeight": 7, "aCells": [
     {"nWidth": 170, "hContent": {"cType": "TText",
      "hObject": {"cText": "'Total ' + Transform(SUM.TOTAL, '@E 9.999,99')"}}}]}]}}}
 ]
})json";

// The host's own form of a job: a map of fields is a group of header
// variables, a list of maps a group of detail records.
const char* const kJob = R"({"PED": {"numero": "2026-0042"},
 "LIN": [{"articulo": "Folios A4", "cantidad": 4, "precio": 4.50},
         {"articulo": "Bolígrafo azul", "cantidad": 20, "precio": 0.35}]})";

bool Check(bool ok, const char* what) {
  if (!ok) std::fprintf(stderr, "kxhost: %s\n", what);
  return ok;
}

}  // namespace

int main() {
  using namespace kx;
  const Value job = JsonDecode(kJob);
  if (!Check(job.IsMap(), "the job's data is no JSON object")) return 1;

  TKXEngine engine;
  engine.SetEncodingUTF8();
  engine.SetPlantillaContent(Value(kTemplate));
  engine.OpenJob();
  for (const Map::Entry& group : job.AsMap()) {
    if (group.value.IsList()) {
      for (const Value& record : group.value.AsList()) engine.SendDetalle(group.key, record);
    } else {
      engine.SendDataVar(group.key, group.value);
    }
  }
  engine.CloseJob();
  Ref<TDocumentoRenderizable> document = engine.RunEngine();
  if (!Check(static_cast<bool>(document), engine.cLastError.c_str())) return 1;

  const std::string page = document->GetPaginaJson(Value(1));
  std::ostringstream all;
  const bool written = document->EscribirJson(all);
  std::printf("%s\n", all.str().c_str());
  engine.End();

  // The amount keeps the two decimals it was sent with.
  bool ok = Check(written, "the document could not be written as JSON");
  ok &= Check(all.str() == R"({"ancho":210,"alto":297,"pages":[)" + page + "]}",
              "the document's JSON is not its one page's");
  ok &= Check(page.find(R"("texto":"Página 1 de 1")") != std::string::npos, "no page x of y");
  ok &= Check(page.find(R"("texto":"4.50")") != std::string::npos, "no price 4.50");
  ok &= Check(page.find(R"(25,00")") != std::string::npos, "no total 25,00");
  const Value read = JsonDecode(page);
  ok &= Check(read.Get("objetos").Len() > 0, "the page's JSON does not read back");
  return ok ? 0 : 1;
}
