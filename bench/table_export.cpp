// A table's data export over a long list, as the engine asks for it after a run: one context
// with every record of the job, the rows kept compact as the engine keeps them until the data
// tables are read. The table is a typical list: a detail line of four fields, a group on a
// customer field whose footer shows a sum and resets it. Prints, per record count, the
// milliseconds (best of five) of four cases: no sums defined ("none"), sums the detail does
// not show ("footer"), a running sum in the detail as well ("shown"), and in the detail the
// sum the group footer resets ("group").
//
// Run by hand: build/table_export [--case none|footer|shown|group] [records...]
#include <algorithm>
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
  return std::string(R"({"nWidth":)")
      .append(std::to_string(width))
      .append(R"(,"hContent":{"cType":"TText","hObject":{"cText":")")
      .append(formula)
      .append(R"("}}})");
}

// `sumaEnDetalle`: the detail shows a sum as well, "total" or the group's "importe".
std::string Plantilla(const char* sumaEnDetalle) {
  return std::string(R"({"cType":"TTable","cId":"T1","nLeft":15,"nTop":40,"nWidth":180,)")
      .append(R"("nHeight":230,"hSections":{"header":{"aLines":[{"nHeight":7,"aCells":[)")
      .append(Celda(180, "'Listado'"))
      .append(R"(]}]},"detail":{"aLines":[{"nHeight":5,"aCells":[)")
      .append(Celda(20, "DET.CODIGO") + "," + Celda(70, "DET.NOMBRE") + "," +
              Celda(30, "DET.CANTIDAD") + "," + Celda(30, "DET.IMPORTE") +
              (sumaEnDetalle ? std::string(",").append(Celda(30, sumaEnDetalle)) : std::string()))
      .append(R"(]}]},"groupFooter":{"aLines":[{"nHeight":6,"cGroupExpression":"DET.CLIENTE",)")
      .append(R"("aResetAcumuladores":["importe"],"aCells":[)")
      .append(Celda(180, "SUM.importe"))
      .append("]}]}}}");
}

Value Registros(int n) {
  Value lista = Value::NewList();
  lista.AsList().Reserve(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) {
    lista.Push(Value::NewMap(
        {{"DET.CODIGO", Value(std::to_string(1000 + i))},
         {"DET.NOMBRE", Value(std::string("Articulo ").append(std::to_string(i)))},
         {"DET.CANTIDAD", i % 7 + 1},
         {"DET.IMPORTE", Value::Real((i % 97) * 1.25, 2)},
         {"DET.CLIENTE", Value(std::string("Cliente ").append(std::to_string(i / 23)))}}));
  }
  return lista;
}

const char* kSumas = R"({"total":{"tipo":"N","formula":"DET.IMPORTE"},
                         "importe":{"tipo":"N","formula":"DET.IMPORTE"}})";

double Exportar(TTable& tabla, const Value& registros, bool sumas, int64_t& filas) {
  auto conector = MakeRef<TConectorDatosReg>();
  auto evaluador = MakeRef<TEvaluadorFormulas>();
  conector->Create();
  evaluador->Create();
  Value opciones = Value::NewMap({{"aRegistrosDetalleRuntime", registros},
                                  {"lRegistrosDetalleGlobalRuntime", true},
                                  {"nRegistroBase", 0},
                                  {"nTotalRegistrosRuntime", static_cast<int64_t>(registros.Len())},
                                  {"lSemanticDataRuntime", true},
                                  // The engine hands the template's user variables, if none.
                                  {"hUserVars", Value::NewMap()}});
  if (sumas) opciones.Set("hAcumVars", JsonDecode(kSumas));
  auto contexto = MakeRef<TContextoEjecucion>(conector, evaluador, opciones);
  contexto->Create();
  const auto t0 = std::chrono::steady_clock::now();
  const Value datos = tabla.GenerarDatosExportablesCompactos(*contexto);
  const double ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
  filas = datos.Get("nRecordCount").Int();
  contexto->End();
  evaluador->End();
  conector->End();
  return ms;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<int> sizes;
  std::string solo;  // one case only, for a profiler
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--case" && i + 1 < argc)
      solo = argv[++i];
    else if (std::atoi(argv[i]) > 0)
      sizes.push_back(std::atoi(argv[i]));
  }
  if (sizes.empty()) sizes = {10000, 100000};
  struct Caso {
    const char* nombre;
    bool sumas;
    const char* enDetalle;
  };
  const Caso casos[] = {{"none", false, "SUM.total"},
                        {"footer", true, nullptr},
                        {"shown", true, "SUM.total"},
                        {"group", true, "SUM.importe"}};
  std::printf("%9s %8s %10s %12s\n", "records", "sums", "ms", "records_s");
  for (int n : sizes) {
    const Value registros = Registros(n);
    for (const Caso& c : casos) {
      if (!solo.empty() && solo != c.nombre) continue;
      auto tabla = MakeRef<TTable>();
      tabla->Load(JsonDecode(Plantilla(c.enDetalle)));
      tabla->Create();
      double best = 0;
      int64_t filas = 0;
      for (int r = 0; r < 5; ++r) {
        const double ms = Exportar(*tabla, registros, c.sumas, filas);
        best = r == 0 ? ms : std::min(best, ms);
      }
      std::printf("%9d %8s %10.1f %12.0f\n", n, c.nombre, best,
                  static_cast<double>(filas) / best * 1000.0);
      std::fflush(stdout);
    }
  }
  return 0;
}
