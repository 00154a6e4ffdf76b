// Typical report formulas evaluated over a million detail records, the way
// the execution context does it: the variable map keeps its keys in place
// and only the record's values change. Prints evaluations per second and
// heap allocations per evaluation for the plan road (a plan compiled once,
// evaluated per record) and the text road (Evaluar with the formula text).
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "Platform.h"
#include "TEvaluadorFormulas.h"

namespace {

size_t gAllocations = 0;

}  // namespace

void* operator new(size_t n) {
  ++gAllocations;
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, size_t) noexcept {
  std::free(p);
}

namespace {

using kx::Value;

constexpr int kRecords = 1000000;
constexpr int kRecordsPerPage = 40;

const char* const kNombres[] = {"Ana", "Luis", "Marta", "Jose", "Carmen", "Pedro"};
const char* const kApellidos[] = {"Garcia", "Lopez", "Martinez", "Sanchez", "Perez"};
const char* const kClientes[] = {"  Panaderia La Espiga  ", "Ferreteria Nunez ", " Kiosco"};
const char* const kFechas[] = {"02/01/2026", "15/02/2026", "31/03/2026", "09/12/2025"};

// A variable map shaped like the context's: report variables first, then the
// record's fields, whose values the loop replaces in place.
struct Variables {
  Value map = Value::NewMap();
  Value* nombre;
  Value* apellido;
  Value* importe;
  Value* cantidad;
  Value* tipo;
  Value* cliente;
  Value* fecha;
  // Texts made once, as the records of a run hold them: assigning shares them.
  std::vector<Value> aClientes = std::vector<Value>(std::begin(kClientes), std::end(kClientes));
  std::vector<Value> aFechas = std::vector<Value>(std::begin(kFechas), std::end(kFechas));

  Variables() {
    for (int i = 0; i < 20; ++i) map.Set("CAB.CAMPO" + std::to_string(i), i);
    map.Set("VAR.titulo", "'Ventas'");
    map.Set("SUM.total", 0);
    kx::Map& m = map.AsMap();
    nombre = &m.Set("DET.NOMBRE", "");
    apellido = &m.Set("DET.APELLIDO", "");
    importe = &m.Set("DET.IMPORTE", 0);
    cantidad = &m.Set("DET.CANTIDAD", 0);
    tipo = &m.Set("DET.TIPO", "");
    cliente = &m.Set("DET.CLIENTE", "");
    fecha = &m.Set("DET.FECHA", "");
  }

  void Registro(int i) {
    *nombre = kNombres[i % 6];
    *apellido = kApellidos[i % 5];
    *importe = Value::Real((i % 2000) + 0.25, 2);
    *cantidad = i % 7 + 1;
    *tipo = (i % 3) ? "A" : "B";
    *cliente = aClientes[i % 3];
    *fecha = aFechas[i % 4];
  }
};

struct Resultado {
  double nEvalsPorSegundo;
  double nAllocsPorEval;
  size_t nSuma;  // keeps the results alive
};

size_t Huella(const Value& v) {
  return v.IsText() ? v.Str().size() : static_cast<size_t>(v.Int());
}

// One formula over every record; `paginas` sends a new execution state every
// page, as the context does when the page changes.
template <class Evaluar>
Resultado Medir(kx::TEvaluadorFormulas& ev, Variables& vars, bool paginas, Evaluar evaluar) {
  vars.Registro(0);
  size_t huella = Huella(evaluar());  // warm-up: parsing, compiling, key positions
  Value estado = Value::NewMap({{"nPaginaActual", 1}, {"nTotalPaginas", 25000}});
  size_t allocs0 = gAllocations;
  double t0 = kx::platform::MillisecondClock();
  for (int i = 0; i < kRecords; ++i) {
    if (paginas && i % kRecordsPerPage == 0) {
      estado.Set("nPaginaActual", i / kRecordsPerPage + 1);
      ev.SetEstadoEjecucion(estado);
    }
    vars.Registro(i);
    huella += Huella(evaluar());
  }
  double ms = kx::platform::MillisecondClock() - t0;
  size_t allocs = gAllocations - allocs0;
  return {kRecords / (ms / 1000.0), static_cast<double>(allocs) / kRecords, huella};
}

void Informar(const char* nombre, const char* camino, const Resultado& r) {
  std::printf("%-16s %-5s %12.0f evals/s %8.2f allocs/eval\n", nombre, camino, r.nEvalsPorSegundo,
              r.nAllocsPorEval);
}

struct Caso {
  const char* nombre;
  const char* formula;
  bool paginas;
};

const Caso kCasos[] = {
    {"field", "DET.NOMBRE", false},
    {"concatenation", "DET.NOMBRE + ' ' + DET.APELLIDO", false},
    {"iif", "IIF(DET.IMPORTE > 1000 .AND. DET.TIPO == 'A', 'Grande', 'Normal')", false},
    {"division", "DET.IMPORTE * DET.CANTIDAD / 100", false},
    {"page_of_pages", "'Pagina ' + PAGE() + ' de ' + TOTALPAGES()", true},
    {"transform", "Transform(DET.IMPORTE, '999,999.99')", false},
    {"dtoc", "DToC(DET.FECHA)", false},
    {"substr", "SubStr(DET.NOMBRE, 2, 3)", false},
    {"alltrim", "AllTrim(DET.CLIENTE)", false},
};

// SUM(DET.IMPORTE) once per record over a run of n records, the state moving
// one record at a time; the cost per evaluation should not grow with n.
void MedirSuma(int n) {
  kx::TEvaluadorFormulas ev;
  ev.Create();
  Value registros = Value::NewList();
  for (int i = 0; i < n; ++i) {
    registros.Push(Value::NewMap({{"DET.IMPORTE", Value::Real((i % 2000) + 0.25, 2)}}));
  }
  ev.SetOpciones(Value::NewMap({{"aRegistrosDetalleRuntime", registros}}));
  Variables vars;
  kx::FormulaPlanRef plan = ev.CompileFormulaPlan("SUM(DET.IMPORTE)");
  Value estado = Value::NewMap({{"nIndiceRegistro", 0}, {"nTotalRegistros", n}});
  double t0 = kx::platform::MillisecondClock();
  double total = 0;
  for (int i = 0; i < n; ++i) {
    estado.Set("nIndiceRegistro", i);
    ev.SetEstadoEjecucion(estado);
    total += ev.EvaluateFormulaPlan(plan, vars.map).Double();
  }
  double ms = kx::platform::MillisecondClock() - t0;
  std::printf("running_sum      plan  %12.0f evals/s over %d records (%.0f ms, sum %.2f)\n",
              n / (ms / 1000.0), n, ms, total);
}

}  // namespace

int main() {
  std::printf("%d records per formula\n", kRecords);
  size_t huella = 0;
  {
    // A discarded pass, so that the first figure is not taken on a cold CPU.
    kx::TEvaluadorFormulas ev;
    Variables vars;
    kx::FormulaPlanRef plan = ev.CompileFormulaPlan(kCasos[0].formula);
    huella += Medir(ev, vars, false, [&] { return ev.EvaluateFormulaPlan(plan, vars.map); }).nSuma;
  }
  for (const Caso& c : kCasos) {
    kx::TEvaluadorFormulas ev;
    ev.Create();
    Variables vars;
    kx::FormulaPlanRef plan = ev.CompileFormulaPlan(c.formula);
    if (plan) {
      Resultado r =
          Medir(ev, vars, c.paginas, [&] { return ev.EvaluateFormulaPlan(plan, vars.map); });
      Informar(c.nombre, "plan", r);
      huella += r.nSuma;
    }
    Value texto(c.formula);
    Resultado r = Medir(ev, vars, c.paginas, [&] { return ev.Evaluar(texto, vars.map); });
    Informar(c.nombre, "text", r);
    huella += r.nSuma;
  }
  MedirSuma(10000);
  MedirSuma(100000);
  MedirSuma(1000000);
  std::printf("checksum %zu\n", huella);
  return 0;
}
