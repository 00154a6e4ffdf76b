// Page spooling throughput: AddPagina into temporary files, then GetPagina
// of every page, for runs of thousands of pages of rendered objects of 25 to
// 60 keys, then the whole document written as JSON. Prints pages per second,
// objects per second, file bytes per object and peak memory (before and
// after the JSON, which is written one page at a time). Run by hand:
// build/page_spool [pages] [objects]
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <string>
#include <string_view>

#include "Platform.h"
#include "TDocumentoRenderizable.h"

namespace {

using kx::Value;

const char* const kKeys[] = {
    "tipo",
    "x",
    "y",
    "ancho",
    "alto",
    "rotacion",
    "colorFondo",
    "colorBorde",
    "grosorBorde",
    "paddingSuperior",
    "paddingDerecho",
    "paddingInferior",
    "paddingIzquierdo",
    "fuente",
    "tamano",
    "negrita",
    "cursiva",
    "subrayado",
    "colorTexto",
    "alineacion",
    "alineacionVertical",
    "interlineado",
    "espaciadoParrafo",
    "ajusteLinea",
    "permiteSaltoPagina",
    "conservarParrafosVacios",
    "grupoFlujoTexto",
    "alturaLineaFlujoTexto",
    "alturaSuprimidaFlujoTexto",
    "sombraTamano",
    "sombraColor",
    "capa",
    "visible",
    "formula",
    "idOrigenPaginacion",
    "nPaginaContinuacion",
    "finalesParrafo",
    "opacidad",
    "radioEsquina",
    "estiloBorde",
    "bordeSuperior",
    "bordeDerecho",
    "bordeInferior",
    "bordeIzquierdo",
    "colorBordeSuperior",
    "colorBordeDerecho",
    "colorBordeInferior",
    "colorBordeIzquierdo",
    "margenCelda",
    "zIndex",
};
constexpr int kKeyCount = sizeof kKeys / sizeof kKeys[0];

// One rendered object of 25 to 50 keys plus id and texto, with a mix of kinds.
Value Objeto(int page, int i) {
  Value m = Value::NewMap();
  kx::Map& map = m.AsMap();
  map.Append(Value("id"), Value("txt_" + std::to_string(page) + "_" + std::to_string(i)));
  const int keys = 25 + (i * 7) % (kKeyCount - 25);
  for (int k = 0; k < keys; ++k) {
    Value v;
    switch (k % 6) {
      case 0:
        v = Value::Real(10.25 + i + k, 2);
        break;
      case 1:
        v = Value(k + i);
        break;
      case 2:
        v = Value("#1a2b3c");
        break;
      case 3:
        v = Value(i % 2 == 0);
        break;
      case 4:
        v = Value(0.352777777777778 * k);
        break;
      default:
        v = Value("Arial");
        break;
    }
    map.Append(Value(kKeys[k]), v);
  }
  map.Append(Value("texto"), Value("Importe total de la linea " + std::to_string(i) +
                                   " del documento, con un texto de largo corriente"));
  map.Append(Value("runs"), Value::NewList({Value::NewMap({{"texto", "a"}, {"negrita", true}}),
                                            Value::NewMap({{"texto", "b"}, {"tamano", 9}})}));
  return m;
}

long PeakKb() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return ru.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
  const int pages = argc > 1 ? std::atoi(argv[1]) : 2000;
  const int perPage = argc > 2 ? std::atoi(argv[2]) : 50;

  // Each page is built, handed over and dropped, as the page loop does; only
  // the AddPagina calls are timed.
  auto doc = kx::MakeRef<kx::TDocumentoRenderizable>(210, 297);
  doc->EnablePageSpooling();
  double addMs = 0;
  for (int p = 0; p < pages; ++p) {
    Value objs = Value::NewList();
    objs.AsList().Reserve(perPage);
    for (int i = 0; i < perPage; ++i) objs.Push(Objeto(p, i));
    const double t0 = kx::platform::MillisecondClock();
    doc->AddPagina(objs);
    addMs += kx::platform::MillisecondClock() - t0;
  }
  const long spooledKb = PeakKb();

  // Every stub names the document's one spool file: count its bytes once.
  std::string bytes;
  size_t fileBytes = 0;
  std::set<std::string, std::less<>> files;
  for (const Value& stub : doc->aPaginas.AsList()) {
    const std::string_view path = stub.Get("__kxPageFile").Str();
    if (path.empty() || !files.emplace(path).second) continue;
    kx::platform::ReadFile(path, bytes);
    fileBytes += bytes.size();
  }

  size_t loaded = 0;
  const double t2 = kx::platform::MillisecondClock();
  for (int n = 1; n <= pages; ++n) loaded += doc->GetPagina(n).Get("objetos").Len();
  const double getMs = kx::platform::MillisecondClock() - t2;

  // Every page as JSON, to nowhere: the writer holds one page at a time, so
  // the peak stays near where the page reads left it.
  const long beforeJsonKb = PeakKb();
  std::ofstream nowhere("/dev/null", std::ios::binary);
  const double t3 = kx::platform::MillisecondClock();
  const bool jsonOk = doc->EscribirJson(nowhere);
  const double jsonMs = kx::platform::MillisecondClock() - t3;
  const long afterJsonKb = PeakKb();

  // The document's own share: with no temporary folder to write to, every
  // page is still serialised but no file is made (the pages stay in memory).
  const char* oldTmp = std::getenv("TMPDIR");
  const std::string savedTmp = oldTmp ? oldTmp : "";
  setenv("TMPDIR", "/proc", 1);
  double ownMs = 0;
  {
    kx::TDocumentoRenderizable probe(210, 297);
    probe.EnablePageSpooling();
    for (int p = 0; p < pages; ++p) {
      Value objs = Value::NewList();
      objs.AsList().Reserve(perPage);
      for (int i = 0; i < perPage; ++i) objs.Push(Objeto(p, i));
      const double t0 = kx::platform::MillisecondClock();
      probe.AddPagina(objs);
      ownMs += kx::platform::MillisecondClock() - t0;
      probe.aPaginas.AsList().Clear();  // keep memory flat
    }
  }
  if (oldTmp) {
    setenv("TMPDIR", savedTmp.c_str(), 1);
  } else {
    unsetenv("TMPDIR");
  }

  const double objects = double(pages) * perPage;
  std::printf("pages=%d\nobjects_per_page=%d\n", pages, perPage);
  std::printf("spool_error=%s\n", doc->HasPageSpoolError() ? doc->GetPageSpoolError().c_str() : "");
  std::printf("add_ms=%.1f\nadd_pages_per_s=%.0f\nadd_objects_per_s=%.0f\n", addMs,
              pages / (addMs / 1000), objects / (addMs / 1000));
  std::printf("serialise_only_ms=%.1f\nserialise_objects_per_s=%.0f\n", ownMs,
              objects / (ownMs / 1000));
  std::printf("get_ms=%.1f\nget_pages_per_s=%.0f\nget_objects_per_s=%.0f\n", getMs,
              pages / (getMs / 1000), objects / (getMs / 1000));
  std::printf("files=%zu\nfile_bytes_per_object=%.1f\nloaded_objects=%zu\n", files.size(),
              fileBytes / objects, loaded);
  std::printf("json_ok=%s\njson_ms=%.1f\njson_pages_per_s=%.0f\n", jsonOk ? "yes" : "no", jsonMs,
              pages / (jsonMs / 1000));
  std::printf("peak_kb_before_json=%ld\npeak_kb_after_json=%ld\n", beforeJsonKb, afterJsonKb);
  std::printf("peak_kb_after_spooling=%ld\npeak_kb=%ld\n", spooledKb, PeakKb());
  doc->End();
  return loaded == size_t(objects) && jsonOk ? 0 : 1;
}
