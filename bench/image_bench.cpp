// Images and label sheets at volume, through the engine as a host drives it.
//
//  table   a list whose every detail row shows the same 20 KB image file next
//          to a text; the same list without the image column for comparison.
//          The file is read and encoded once: every row shares its data URI.
//          Run through the engine (with its page files, whose creation the
//          file system may dominate) and as bare table renders, page after
//          page, with the engine's image cache and without any.
//  labels  a label job (a text, a frame and the image on each label), one
//          label per record, at growing record counts: the time per
//          thousand labels stays flat when the run is linear in records.
//
// Prints engine milliseconds, records per second, pages and the process's
// peak memory; run one scenario per process for a meaningful peak:
//
//   build/image_bench table 100000
//   build/image_bench labels 100000
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "Json.h"
#include "TConectorDatosReg.h"
#include "TContextoEjecucion.h"
#include "TEvaluadorFormulas.h"
#include "TImageCache.h"
#include "TKXEngine.h"
#include "TTable.h"

namespace {

using namespace kx;

std::string ImageFile() {
  const std::string dir = std::filesystem::temp_directory_path().string() + "/kx_image_bench";
  std::filesystem::create_directories(dir);
  std::string bytes("\x89PNG\r\n\x1A\n", 8);
  for (int i = 0; bytes.size() < 20 * 1024; ++i) bytes.push_back(static_cast<char>(i * 31));
  const std::string path = dir + "/logo.png";
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

std::string TextCell(int width, const char* formula) {
  return R"({"nWidth":)" + std::to_string(width) +
         R"(,"hContent":{"cType":"TText","hObject":{"cText":")" + formula + R"("}}})";
}

std::string TableTemplate(const std::string& image) {
  std::string cells = TextCell(60, "LIN.nombre") + "," + TextCell(30, "LIN.importe");
  if (!image.empty())
    cells += R"(,{"nWidth":20,"hContent":{"cType":"TImage","hObject":{"cSource":"')" + image +
             R"('"}}})";
  return R"({"cFormatVersion":"1.0","nPaperWidth":210,"nPaperHeight":297,"aObjects":[)"
         R"({"cType":"TTable","cId":"T1","nLeft":10,"nTop":20,"nWidth":110,"nHeight":260,)"
         R"("hSections":{"header":{"aLines":[{"nHeight":7,"aCells":[)" +
         TextCell(110, "'Listado'") + R"(]}]},"detail":{"aLines":[{"nHeight":8,"aCells":[)" +
         cells + "]}]}}}]}";
}

std::string LabelTemplate(const std::string& image) {
  return R"({"cFormatVersion":"1.0","cDocumentKind":"label","nPaperWidth":210,)"
         R"("nPaperHeight":297,"aObjects":[)"
         R"({"cType":"TRectangle","cId":"marco","nLeft":1,"nTop":1,"nWidth":68,"nHeight":35},)"
         R"({"cType":"TText","cId":"nombre","nLeft":3,"nTop":3,"nWidth":40,"nHeight":6,)"
         R"("cText":"LIN.nombre"},)"
         R"({"cType":"TImage","cId":"logo","nLeft":45,"nTop":3,"nWidth":20,"nHeight":20,)"
         R"("cSource":"')" +
         image + R"('"}]})";
}

struct Result {
  double ms = 0;
  int64_t pages = 0;
  int64_t objects = 0;
  std::string error;
};

Result Run(const std::string& templateText, int records) {
  TKXEngine engine;
  engine.SetEncodingUTF8();
  engine.SetPlantillaContent(Value(templateText));
  engine.OpenJob();
  for (int i = 0; i < records; ++i) {
    engine.SendDetalle(Value("LIN"),
                       Value::NewMap({{"nombre", Value("Cliente numero " + std::to_string(i))},
                                      {"importe", Value::Real((i % 97) * 1.25, 2)}}));
  }
  engine.CloseJob();
  const auto start = std::chrono::steady_clock::now();
  Ref<TDocumentoRenderizable> doc = engine.RunEngine();
  Result r;
  r.ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  r.pages = doc ? doc->TotalPaginas() : 0;
  r.objects = doc ? doc->TotalObjetos() : 0;
  r.error = engine.cLastError;
  engine.End();
  return r;
}

// The table alone, rendered page after page as the page loop drives it.
Result RenderTable(const std::string& templateText, int records, bool cache) {
  const Value table = JsonDecode(templateText).Get("aObjects").AsList()[0];
  auto tabla = MakeRef<TTable>();
  tabla->Load(table);
  tabla->Create();
  Value list = Value::NewList();
  for (int i = 0; i < records; ++i) {
    list.Push(Value::NewMap({{"LIN.nombre", Value("Cliente numero " + std::to_string(i))},
                             {"LIN.importe", Value::Real((i % 97) * 1.25, 2)}}));
  }
  auto conector = MakeRef<TConectorDatosReg>();
  auto evaluador = MakeRef<TEvaluadorFormulas>();
  conector->Create();
  evaluador->Create();
  auto contexto = MakeRef<TContextoEjecucion>(conector, evaluador, Value::NewMap());
  if (cache) contexto->SetCacheImagenes(MakeRef<TImageCache>());
  Result r;
  int64_t base = 0;
  Value continuations = Value::NewMap();
  const auto start = std::chrono::steady_clock::now();
  while (base < records) {
    contexto->SetOpciones(Value::NewMap({{"aRegistrosDetalleRuntime", list},
                                         {"lRegistrosDetalleGlobalRuntime", true},
                                         {"nRegistroBase", base},
                                         {"nTotalRegistrosRuntime", records},
                                         {"hContinuacionesTabla", continuations}}));
    contexto->Create();
    r.objects += static_cast<int64_t>(tabla->GenerarRenderizable(*contexto).Len());
    ++r.pages;
    const int64_t consumed = contexto->GetRegistrosDetalleConsumidosRuntime();
    continuations = contexto->GetContinuacionesTabla();
    if (consumed <= 0) break;
    base += consumed;
  }
  r.ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  contexto->End();
  evaluador->End();
  conector->End();
  tabla->End();
  return r;
}

void Print(const char* name, int records, const Result& r) {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf(
      "%s records=%d ms=%.0f records_per_s=%.0f ms_per_1000=%.2f pages=%lld objects=%lld "
      "peak_rss_mb=%.0f%s%s\n",
      name, records, r.ms, records / (r.ms / 1000.0), r.ms / (records / 1000.0),
      static_cast<long long>(r.pages), static_cast<long long>(r.objects),
      static_cast<double>(usage.ru_maxrss) / 1024.0,
      r.error.empty() ? "" : " error=", r.error.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  const std::string scenario = argc > 1 ? argv[1] : "all";
  std::vector<int> counts;
  for (int i = 2; i < argc; ++i) counts.push_back(std::max(1, std::atoi(argv[i])));
  const std::string image = ImageFile();
  if (scenario == "table" || scenario == "all") {
    for (int n : counts.empty() ? std::vector<int>{100000} : counts) {
      Print("engine_table_with_image", n, Run(TableTemplate(image), n));
      Print("engine_table_text_only", n, Run(TableTemplate(""), n));
      Print("render_table_with_image", n, RenderTable(TableTemplate(image), n, true));
      Print("render_table_image_uncached", n, RenderTable(TableTemplate(image), n, false));
      Print("render_table_text_only", n, RenderTable(TableTemplate(""), n, true));
    }
  }
  if (scenario == "labels" || scenario == "all") {
    for (int n : counts.empty() ? std::vector<int>{25000, 50000, 100000} : counts)
      Print("labels", n, Run(LabelTemplate(image), n));
  }
  std::filesystem::remove_all(std::filesystem::path(image).parent_path());
  return 0;
}
