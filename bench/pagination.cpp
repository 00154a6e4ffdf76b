// Pagination throughput: one long formatted text split over many pages, at
// doubling sizes, so that the cost per byte shows whether it stays linear;
// and a page of many objects that are not split. Prints time, bytes per
// second, fragments and bytes held per text byte. Run by hand:
// build/pagination [kilobytes]
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "Platform.h"
#include "TMotorPaginacion.h"

namespace {

using kx::Value;

// A formatted text of about `bytes` bytes: paragraphs of words with accented
// letters and CR LF line ends, cut into runs of some 200 bytes.
Value TextoFormateado(size_t bytes) {
  const std::string palabras[] = {"informe ", "pagina ", "canción ", "año ", "total ", "línea "};
  std::string texto;
  texto.reserve(bytes + 64);
  Value runs = Value::NewList();
  std::string run;
  size_t n = 0;
  while (texto.size() < bytes) {
    std::string trozo = palabras[n % 6];
    if (++n % 40 == 0) trozo += "\r\n";
    run += trozo;
    if (run.size() > 200) {
      runs.Push(Value::NewMap({{"cText", Value(run)}, {"negrita", n % 3 == 0}, {"tamano", 10}}));
      run.clear();
    }
    texto += trozo;
  }
  if (!run.empty()) runs.Push(Value::NewMap({{"cText", Value(run)}}));

  // The rendered text holds its line ends normalised; its runs keep them.
  std::string normal;
  normal.reserve(texto.size());
  for (size_t i = 0; i < texto.size(); ++i) {
    if (texto[i] == '\r') continue;
    normal.push_back(texto[i]);
  }
  return Value::NewMap({{"id", "largo"},
                        {"tipo", "texto_formateado"},
                        {"x", 10},
                        {"y", 10},
                        {"ancho", 180},
                        {"alto", 250},
                        {"texto", Value(normal)},
                        {"tamano", 10},
                        {"interlineado", 1},
                        {"permiteSaltoPagina", true},
                        {"runs", runs}});
}

long PeakKb() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return ru.ru_maxrss;
}

size_t BytesDeFragmentos(const Value& paginas) {
  size_t total = 0;
  for (const Value& pagina : paginas.AsList()) {
    for (const Value& f : pagina.AsList()) {
      total += f.Get("texto").Len();
      for (const Value& r : f.Get("runs").AsList()) total += r.Get("cText").Len();
    }
  }
  return total;
}

}  // namespace

int main(int argc, char** argv) {
  const size_t kb = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 1024;
  kx::TMotorPaginacion motor;
  motor.Create();

  bool ok = true;
  for (size_t size = kb * 1024 / 4; size <= kb * 1024; size *= 2) {
    const Value texto = TextoFormateado(size);
    const Value objetos = Value::NewList({texto});
    const double t0 = kx::platform::MillisecondClock();
    const Value paginas = motor.DividirObjetos(objetos);
    const double ms = kx::platform::MillisecondClock() - t0;
    const size_t bytes = texto.Get("texto").Len();
    std::printf("text_bytes=%zu\nsplit_ms=%.2f\nsplit_mb_per_s=%.1f\nns_per_byte=%.2f\n", bytes, ms,
                bytes / (ms / 1000) / (1024 * 1024), ms * 1e6 / bytes);
    // Fragments hold their own text and runs once: about two bytes per byte.
    std::printf("fragments=%zu\nfragment_bytes_per_text_byte=%.2f\n", paginas.Len(),
                double(BytesDeFragmentos(paginas)) / bytes);
    ok = ok && paginas.Len() > 1;
  }

  // A page of objects that are not split passes them through by reference.
  const int kObjetos = 200000;
  Value objetos = Value::NewList();
  for (int i = 0; i < kObjetos; ++i) {
    std::string id = std::to_string(i);
    id.insert(id.begin(), 'r');
    objetos.Push(Value::NewMap({{"id", Value(id)},
                                {"tipo", i % 2 ? "rectangulo" : "texto"},
                                {"y", i % 280},
                                {"alto", 5},
                                {"texto", "corto"},
                                {"permiteSaltoPagina", i % 4 == 0}}));
  }
  const double t1 = kx::platform::MillisecondClock();
  const kx::Ref<kx::TDocumentoRenderizable> doc =
      motor.Paginar(Value::NewMap({{"ancho", 210}, {"alto", 297}}), objetos);
  const double ms = kx::platform::MillisecondClock() - t1;
  std::printf("objects=%d\npaginate_ms=%.2f\npaginate_objects_per_s=%.0f\npages=%lld\n", kObjetos,
              ms, kObjetos / (ms / 1000), static_cast<long long>(doc->TotalPaginas()));
  std::printf("peak_kb=%ld\n", PeakKb());
  ok = ok && doc->TotalObjetos() == kObjetos;
  return ok ? 0 : 1;
}
