// Per-record cost of the execution context in a table's record loop: each
// detail record is pushed, three fields and one user variable are evaluated,
// two sums are accumulated, the record is marked consumed and popped.
//
// Usage: context_bench [records]   (default 1000000)
#include <cstdio>
#include <cstdlib>
#include <string>

#include "Platform.h"
#include "TConectorDatosReg.h"
#include "TContextoEjecucion.h"
#include "TEvaluadorFormulas.h"

using namespace kx;

namespace {

// Distinct record maps, reused round the ring as a table walks its list.
constexpr size_t kAnillo = 4096;

Value Registro(size_t i) {
  Value r = Value::NewMap();
  std::string codigo = "A";
  codigo += std::to_string(1000 + i % 977);
  r.Set("LINEAS.codigo", Value(codigo));
  r.Set("LINEAS.cantidad", Value(static_cast<int64_t>(i % 7)));
  r.Set("LINEAS.precio", Value::Real(static_cast<double>(i % 100) + 0.25, 2));
  return r;
}

Value Definicion(const char* grupo, const char* nombre, const char* tipo) {
  return Value::NewMap({{"grupo", grupo}, {"nombre", nombre}, {"tipo", tipo}});
}

struct Medida {
  double ms = 0;
  Value sumas;
};

Medida Correr(int64_t registros, bool plan) {
  auto conector = MakeRef<TConectorDatosReg>();
  conector->Create();
  conector->SendDataVar(Value::NewList({Definicion("CLIENTE", "nombre", "texto"),
                                        Definicion("CLIENTE", "saldo", "numerico")}),
                        Value::NewList({Value::NewList({Value("Ana"), Value(12)})}));
  Value anillo = Value::NewList();
  for (size_t i = 0; i < kAnillo; ++i) anillo.Push(Registro(i));
  conector->SendDataLine(Value::NewList({Definicion("LINEAS", "codigo", "texto"),
                                         Definicion("LINEAS", "cantidad", "numerico"),
                                         Definicion("LINEAS", "precio", "numerico")}),
                         Value::NewList({Value::NewList({Value("A1000"), 0, 0.25})}));

  Value opciones = Value::NewMap(
      {{"hUserVars",
        Value::NewMap(
            {{"importe",
              Value::NewMap({{"formula", "IIF(LINEAS.cantidad > 2, LINEAS.precio, 0)"}})}})},
       {"hAcumVars", Value::NewMap({{"cantidad", Value::NewMap({{"formula", "LINEAS.cantidad"}})},
                                    {"total", Value::NewMap({{"formula", "LINEAS.precio"}})}})}});
  auto evaluador = MakeRef<TEvaluadorFormulas>();
  evaluador->Create();
  auto ctx = MakeRef<TContextoEjecucion>(conector, evaluador, opciones);
  ctx->Create();

  const Value formulas[] = {Value("LINEAS.codigo"), Value("LINEAS.cantidad"),
                            Value("LINEAS.precio"), Value("importe")};
  Value planes[4];
  for (int k = 0; k < 4; ++k) planes[k] = ctx->CompilarPlanFormula(formulas[k]);

  const List& ring = anillo.AsList();
  double t0 = platform::MillisecondClock();
  int64_t control = 0;
  for (int64_t i = 0; i < registros; ++i) {
    size_t r = static_cast<size_t>(i) % kAnillo;
    const Value& anterior = ring[(r + kAnillo - 1) % kAnillo];
    const Value& siguiente = ring[(r + 1) % kAnillo];
    ctx->PushRegistroDetalle(ring[r], i, registros, anterior, siguiente);
    for (int k = 0; k < 4; ++k) {
      Value v =
          plan ? ctx->EvaluarPlanFormula(planes[k], formulas[k]) : ctx->EvaluarFormula(formulas[k]);
      control += static_cast<int64_t>(v.Len());
    }
    ctx->AcumularDetalle();
    ctx->MarcarRegistroDetalleConsumido(i);
    ctx->PopRegistroDetalle();
  }
  Medida m;
  m.ms = platform::MillisecondClock() - t0;
  m.sumas = ctx->GetAcumuladores();
  if (control == -1) std::puts("");  // keeps the evaluations observable
  ctx->End();
  evaluador->End();
  conector->End();
  return m;
}

}  // namespace

int main(int argc, char** argv) {
  int64_t registros = argc > 1 ? std::atoll(argv[1]) : 1000000;
  if (registros <= 0) registros = 1000000;
  for (bool plan : {false, true}) {
    Medida m = Correr(registros, plan);
    double porSegundo = m.ms > 0 ? static_cast<double>(registros) * 1000.0 / m.ms : 0;
    std::printf("entry=%s records=%lld ms=%.1f records_per_second=%.0f ns_per_record=%.0f\n",
                plan ? "EvaluarPlanFormula" : "EvaluarFormula", static_cast<long long>(registros),
                m.ms, porSegundo, m.ms * 1e6 / static_cast<double>(registros));
    std::printf("  SUM.cantidad=%s SUM.total=%s\n",
                FormulaString(m.sumas.Get("SUM.cantidad")).c_str(),
                FormulaString(m.sumas.Get("SUM.total")).c_str());
  }
  return 0;
}
