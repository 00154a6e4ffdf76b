// One execution over templates of growing size: every object composed once,
// text flows relocated, the list paginated. Prints microseconds per object
// for each size, so a cost that is not linear in the objects shows as a
// growing figure. Objects: rectangles, lines and ellipses in turn, a third of
// them with colour formulas, and flow-group members standing for texts.
// Run by hand: build/execution [largest object count]
#include <cstdio>
#include <cstdlib>
#include <string>

#include "Json.h"
#include "Platform.h"
#include "TConectorDatosReg.h"
#include "TContextoEjecucion.h"
#include "TDocumentoRenderizable.h"
#include "TEvaluadorFormulas.h"
#include "TMotorComposicion.h"
#include "TMotorEjecucion.h"
#include "TMotorPaginacion.h"
#include "TPlantilla.h"

namespace {

using namespace kx;

// A report object that answers a text flow member, as a text would.
struct FlowMember : TObjectBase {
  using TObjectBase::TObjectBase;
  Value GenerarRenderizable(TContextoEjecucion&) override {
    Value map = Value::NewMap({{"id", cId},
                               {"tipo", "texto"},
                               {"x", 10},
                               {"y", 40},
                               {"ancho", 80},
                               {"alto", 6},
                               {"texto", "Linea de texto"},
                               {"grupoFlujoTexto", "g"},
                               {"alturaSuprimidaFlujoTexto", Value::Real(0.5, 1)}});
    return map;
  }
};

Value Template(int n) {
  static const char* const kTypes[] = {"TRectangle", "TLine", "TEllipse"};
  Value objects = Value::NewList();
  for (int i = 0; i < n; ++i) {
    std::string id = "o";
    id += std::to_string(i);
    Value o = Value::NewMap({{"cType", kTypes[i % 3]},
                             {"cId", id},
                             {"nLeft", i % 150},
                             {"nTop", i % 250},
                             {"nWidth", 20}});
    if (i % 3 == 0) o.Set("cBackgroundColorFormula", "'#A0B0C0'");
    objects.Push(o);
  }
  return Value::NewMap({{"nPaperWidth", 210}, {"nPaperHeight", 297}, {"aObjects", objects}});
}

double MicrosPerObject(int n, int repeats) {
  auto conector = MakeRef<TConectorDatosReg>();
  auto evaluador = MakeRef<TEvaluadorFormulas>();
  evaluador->Create();
  auto contexto = MakeRef<TContextoEjecucion>(conector, evaluador, Value::NewMap());
  contexto->Create();
  auto plantilla = MakeRef<TPlantilla>();
  plantilla->SetData(Template(n));
  plantilla->Create();
  for (int i = 0; i < n / 4; ++i)
    plantilla->oDocumento->aObjects.push_back(MakeRef<FlowMember>(plantilla->oDocumento.get()));
  const size_t total = plantilla->GetObjetos().size();
  auto composicion = MakeRef<TMotorComposicion>();
  auto paginacion = MakeRef<TMotorPaginacion>();
  TMotorEjecucion motor(plantilla, conector, composicion, paginacion, contexto);
  motor.Create();

  const double start = platform::MillisecondClock();
  int64_t objetos = 0;
  for (int r = 0; r < repeats; ++r) {
    Ref<TDocumentoRenderizable> doc = motor.Ejecutar();
    objetos += doc ? doc->TotalObjetos() : 0;
    if (doc) doc->End();
  }
  const double ms = platform::MillisecondClock() - start;
  if (objetos != static_cast<int64_t>(total) * repeats)
    std::printf("unexpected object count %lld\n", static_cast<long long>(objetos));
  motor.End();
  contexto->End();
  evaluador->End();
  plantilla->End();
  return ms * 1000.0 / (static_cast<double>(total) * repeats);
}

}  // namespace

int main(int argc, char** argv) {
  const int largest = argc > 1 ? std::atoi(argv[1]) : 40000;
  std::printf("objects      us/object\n");
  for (int n = 100; n <= largest; n *= 4) {
    const int repeats = std::max(1, 200000 / n);
    std::printf("%-12d %.3f\n", n + n / 4, MicrosPerObject(n, repeats));
  }
  return 0;
}
