// A table rendered as the page loop drives it: one render per page, each with the job's one
// record list, the record base advanced by what the page consumed and the sums and
// continuations carried over. The table is a typical list (header, a detail line of four
// text cells, a group header and footer on a customer field, a footer with the running sum).
// Prints, per record count, the milliseconds, records per second and pages, so that the time
// can be seen to grow linearly with the records.
//
// A second figure renders one content-height table holding every record on a single page
// whose detail lines draw no bottom border: the adjacency test of each line's top border then
// finds no neighbour, which must not cost a walk over everything printed so far.
//
// Run by hand: build/table [records...]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "Json.h"
#include "TConectorDatosReg.h"
#include "TContextoEjecucion.h"
#include "TEvaluadorFormulas.h"
#include "TTable.h"

namespace {

using namespace kx;

std::string Celda(int width, const char* formula) {
  return R"({"nWidth":)" + std::to_string(width) +
         R"(,"hContent":{"cType":"TText","hObject":{"cText":")" + formula + R"("}}})";
}

std::string Plantilla(bool contenido) {
  std::string detalle = std::string(R"({"nHeight":5)") +
                        (contenido ? R"(,"hBorder":{"lBottom":false})" : "") + R"(,"aCells":[)" +
                        Celda(20, "DET.CODIGO") + "," + Celda(90, "DET.NOMBRE") + "," +
                        Celda(30, "DET.CANTIDAD") + "," + Celda(40, "DET.IMPORTE") + "]}";
  return std::string(R"({"cType":"TTable","cId":"T1","nLeft":15,"nTop":40,"nWidth":180,)") +
         R"("nHeight":230,"cHeightMode":")" + (contenido ? "content" : "fixed") +
         R"(","hSections":{"header":{"aLines":[{"nHeight":7,"aCells":[)" + Celda(180, "'Listado'") +
         R"(]}]},"detail":{"aLines":[)" + detalle +
         R"(]},"groupHeader":{"aLines":[{"nHeight":6,"cGroupExpression":"DET.CLIENTE",)" +
         R"("aCells":[)" + Celda(180, "DET.CLIENTE") +
         R"(]}]},"groupFooter":{"aLines":[{"nHeight":6,"cGroupExpression":"DET.CLIENTE",)" +
         R"("aCells":[)" + Celda(180, "SUM.importe") +
         R"(]}]},"footer":{"aLines":[{"nHeight":7,"aCells":[)" + Celda(180, "SUM.total") + "]}]}}}";
}

Value Registros(int n) {
  Value lista = Value::NewList();
  lista.AsList().Reserve(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) {
    lista.Push(Value::NewMap({{"DET.CODIGO", Value(std::to_string(1000 + i))},
                              {"DET.NOMBRE", Value("Articulo numero " + std::to_string(i))},
                              {"DET.CANTIDAD", i % 7 + 1},
                              {"DET.IMPORTE", Value::Real((i % 97) * 1.25, 2)},
                              {"DET.CLIENTE", Value("Cliente " + std::to_string(i / 23))}}));
  }
  return lista;
}

const char* kSumas = R"({"total":{"tipo":"N","formula":"DET.IMPORTE"},
                         "importe":{"tipo":"N","formula":"DET.IMPORTE"}})";

struct Resultado {
  double ms = 0;
  int64_t paginas = 0;
  int64_t piezas = 0;
  bool completo = false;
};

Resultado Recorrer(TTable& tabla, const Value& registros, bool contenido) {
  auto conector = MakeRef<TConectorDatosReg>();
  auto evaluador = MakeRef<TEvaluadorFormulas>();
  conector->Create();
  evaluador->Create();
  auto contexto = MakeRef<TContextoEjecucion>(conector, evaluador, Value::NewMap());
  const int64_t n = static_cast<int64_t>(registros.Len());
  Resultado r;
  int64_t base = 0;
  Value sumas = Value::NewMap();
  Value continuaciones = Value::NewMap();
  const auto inicio = std::chrono::steady_clock::now();
  while (base < n) {
    Value opciones = Value::NewMap({{"aRegistrosDetalleRuntime", registros},
                                    {"lRegistrosDetalleGlobalRuntime", true},
                                    {"nRegistroBase", base},
                                    {"nTotalRegistrosRuntime", n},
                                    {"hAcumVars", JsonDecode(kSumas)},
                                    {"hAcumuladoresIniciales", sumas},
                                    {"hContinuacionesTabla", continuaciones},
                                    {"lOmitirResetInicialAcumuladores", sumas.Len() > 0}});
    contexto->SetOpciones(opciones);
    contexto->Create();
    const Value piezas = tabla.GenerarRenderizable(*contexto);
    r.piezas += static_cast<int64_t>(piezas.Len());
    ++r.paginas;
    const int64_t consumidos = contexto->GetRegistrosDetalleConsumidosRuntime();
    sumas = DeepClone(contexto->GetAcumuladores());
    continuaciones = contexto->GetContinuacionesTabla();
    if (consumidos <= 0 || contenido) {
      base += consumidos;
      break;
    }
    base += consumidos;
  }
  r.completo = base >= n;
  r.ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - inicio).count();
  contexto->End();
  evaluador->End();
  conector->End();
  return r;
}

void Medir(const char* nombre, bool contenido, int registros) {
  TTable tabla;
  tabla.Load(JsonDecode(Plantilla(contenido)));
  tabla.Create();
  const Value lista = Registros(registros);
  const Resultado r = Recorrer(tabla, lista, contenido);
  std::printf("%s records=%d ms=%.1f records_per_s=%.0f pages=%lld pieces=%lld complete=%s\n",
              nombre, registros, r.ms, registros / (r.ms / 1000.0),
              static_cast<long long>(r.paginas), static_cast<long long>(r.piezas),
              r.completo ? "yes" : "no");
  tabla.End();
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<int> cuentas;
  for (int i = 1; i < argc; ++i) cuentas.push_back(std::max(1, std::atoi(argv[i])));
  if (cuentas.empty()) cuentas = {9328, 50000, 100000};
  for (int n : cuentas) Medir("paged", false, n);
  for (int n : {2000, 8000, 32000}) Medir("content_height", true, n);
  return 0;
}
