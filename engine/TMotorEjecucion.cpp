#include "TMotorEjecucion.h"

#include <algorithm>
#include <iterator>
#include <string>

#include "Platform.h"
#include "TConectorDatosReg.h"
#include "TContextoEjecucion.h"
#include "TDocumentoRenderizable.h"
#include "TMotorComposicion.h"
#include "TMotorPaginacion.h"
#include "TObjectBase.h"
#include "TPlantilla.h"

namespace kx {

namespace {

// A table's timing key and the execution's key it is summed into.
struct TableTiming {
  std::string_view tabla;
  std::string_view paso;
};

constexpr TableTiming kTableTimings[] = {
    {"nSetupMs", "nTableSetupMs"},
    {"nRecordLoopMs", "nTableRecordLoopMs"},
    {"nFinishMs", "nTableFinishMs"},
    {"nPartitionMs", "nTablePartitionMs"},
    {"nRenderLinesMs", "nTableRenderLinesMs"},
    {"nCellContentMs", "nTableCellContentMs"},
    {"nAccumulateMs", "nTableAccumulateMs"},
    {"nRecordsExamined", "nTableRecordsExamined"},
};

// Elapsed milliseconds since `desde`; moves `desde` on to now.
Value Lap(double& desde) {
  const double now = platform::MillisecondClock();
  const double elapsed = now - desde;
  desde = now;
  return Value(elapsed);
}

Value Numero(const Value& map, std::string_view key) {
  return ValueNumber(HGet(map, key, Value(0)));
}

Value Mayor(const Value& a, const Value& b) {
  return b.Double() > a.Double() ? b : a;
}

Value Menor(const Value& a, const Value& b) {
  return b.Double() < a.Double() ? b : a;
}

// The rotation as a whole number of degrees in 0 .. 359.
int64_t GradosNormalizados(const Value& rotacion) {
  int64_t grados = ValueInt(rotacion) % 360;
  return grados < 0 ? grados + 360 : grados;
}

}  // namespace

TMotorEjecucion::TMotorEjecucion(Ref<TPlantilla> plantilla, Ref<TConectorDatosReg> conector,
                                 Ref<TMotorComposicion> composicion,
                                 Ref<TMotorPaginacion> paginacion,
                                 Ref<TContextoEjecucion> contexto) {
  Init(std::move(plantilla), std::move(conector), std::move(composicion), std::move(paginacion),
       std::move(contexto));
}

TMotorEjecucion::~TMotorEjecucion() = default;

TMotorEjecucion& TMotorEjecucion::Init(Ref<TPlantilla> plantilla, Ref<TConectorDatosReg> conector,
                                       Ref<TMotorComposicion> composicion,
                                       Ref<TMotorPaginacion> paginacion,
                                       Ref<TContextoEjecucion> contexto) {
  oPlantilla = std::move(plantilla);
  oConectorDatos = std::move(conector);
  oComposicion = std::move(composicion);
  oPaginacion = std::move(paginacion);
  oContextoEjecucion = std::move(contexto);
  hPerformanceDiagnostics = PassPerformanceCero();
  return *this;
}

void TMotorEjecucion::End() {
  oPlantilla.reset();
  oConectorDatos.reset();
  oComposicion.reset();
  oPaginacion.reset();
  oContextoEjecucion.reset();
  hPerformanceDiagnostics = Value::NewMap();
}

TMotorEjecucion& TMotorEjecucion::SetPlantilla(Ref<TPlantilla> plantilla) {
  oPlantilla = std::move(plantilla);
  return *this;
}

TMotorEjecucion& TMotorEjecucion::SetConectorDatos(Ref<TConectorDatosReg> conector) {
  oConectorDatos = std::move(conector);
  return *this;
}

TMotorEjecucion& TMotorEjecucion::SetComposicion(Ref<TMotorComposicion> composicion) {
  oComposicion = std::move(composicion);
  return *this;
}

TMotorEjecucion& TMotorEjecucion::SetPaginacion(Ref<TMotorPaginacion> paginacion) {
  oPaginacion = std::move(paginacion);
  return *this;
}

TMotorEjecucion& TMotorEjecucion::SetContextoEjecucion(Ref<TContextoEjecucion> contexto) {
  oContextoEjecucion = std::move(contexto);
  return *this;
}

Value TMotorEjecucion::GetPerformanceDiagnostics() const {
  return DeepClone(hPerformanceDiagnostics);
}

Value TMotorEjecucion::PassPerformanceCero() {
  Value map = Value::NewMap();
  Map& out = map.AsMap();
  out.Reserve(4 + std::size(kTableTimings));
  for (std::string_view key : {"nSetupMs", "nCompositionMs", "nReflowMs", "nPaginationMs"})
    out.Append(KeyText(key), Value(0));
  for (const TableTiming& t : kTableTimings) out.Append(KeyText(t.paso), Value(0));
  return map;
}

Ref<TDocumentoRenderizable> TMotorEjecucion::Ejecutar() {
  hPerformanceDiagnostics = PassPerformanceCero();
  double reloj = platform::MillisecondClock();
  // A label run keeps every timing at 0.
  if (oPlantilla && oPlantilla->IsLabelDocument()) return EjecutarEtiquetas();

  const Value pageSpec = oPlantilla ? oPlantilla->GetPagina() : Value::NewMap();
  static const std::vector<Ref<TObjectBase>> kNinguno;
  const std::vector<Ref<TObjectBase>>& objetos = oPlantilla ? oPlantilla->GetObjetos() : kNinguno;
  hPerformanceDiagnostics.Set("nSetupMs", Lap(reloj));

  Value lista = Value::NewList();
  lista.AsList().Reserve(objetos.size());
  for (const Ref<TObjectBase>& objeto : objetos) {
    AgregarRenderizableCompuesto(lista, objeto.get());
    if (objeto) SumarTiemposTabla(objeto->GetPerformanceDiagnostics());
  }
  hPerformanceDiagnostics.Set("nCompositionMs", Lap(reloj));

  lista = RecolocarFlujoTexto(lista);
  hPerformanceDiagnostics.Set("nReflowMs", Lap(reloj));

  // Without a pagination engine there is no page to lay the objects on.
  if (!oPaginacion) return nullptr;
  Ref<TDocumentoRenderizable> documento = oPaginacion->Paginar(pageSpec, lista);
  hPerformanceDiagnostics.Set("nPaginationMs", Lap(reloj));
  return documento;
}

void TMotorEjecucion::AgregarRenderizableCompuesto(Value& lista, TObjectBase* objeto) {
  if (!oComposicion) return;
  const Value resultado = oComposicion->Componer(objeto, oContextoEjecucion.get());
  List& destino = lista.AsList();
  // Only maps reach a page: a list (a table's pieces) is spliced element by
  // element, and a stray value that is not a map, alone or in a list, is dropped.
  if (const List* piezas = resultado.ListPtr()) {
    // Room for all the pieces at once; growth stays geometric over many such objects.
    const size_t hace_falta = destino.size() + piezas->size();
    if (destino.Items().capacity() < hace_falta)
      destino.Reserve(std::max(hace_falta, 2 * destino.Items().capacity()));
    for (const Value& pieza : *piezas)
      if (pieza.IsMap()) destino.Add(pieza);
  } else if (resultado.IsMap()) {
    destino.Add(resultado);
  }
}

void TMotorEjecucion::SumarTiemposTabla(const Value& tiempos) {
  if (!tiempos.IsMap()) return;
  for (const TableTiming& t : kTableTimings) {
    const Value suma = Add(hPerformanceDiagnostics.Get(t.paso), Numero(tiempos, t.tabla));
    hPerformanceDiagnostics.Set(t.paso, suma);
  }
}

Value TMotorEjecucion::RecolocarFlujoTexto(const Value& lista) {
  Value salida = Value::NewList();
  const List* entrada = lista.ListPtr();
  if (!entrada) return salida;
  List& out = salida.AsList();
  out.Reserve(entrada->size());
  // Per flow group, the height its earlier members gave away.
  Value cedido = Value::NewMap();
  const Value minimo = Value::Real(0.1, 1);

  KeyHint claveGrupo("grupoFlujoTexto");  // asked of every object of the page
  for (const Value& elemento : *entrada) {
    const Map* mapa = elemento.MapPtr();
    const Value* valorGrupo = mapa ? claveGrupo.Find(*mapa) : nullptr;
    // Only members of a flow group are moved; every other element passes as it
    // is, without a copy (a table page alone brings hundreds of them), and
    // without a text made of an absent or empty group.
    if (!valorGrupo || (valorGrupo->IsText() && valorGrupo->Str().empty())) {
      out.Add(elemento);
      continue;
    }
    const std::string grupo(AllTrim(ValueString(*valorGrupo)));
    if (grupo.empty()) {
      out.Add(elemento);
      continue;
    }
    Value copia = DeepClone(elemento);
    const Value desplazamiento = cedido.Get(grupo, Value(0));
    const int64_t grados = GradosNormalizados(HGet(copia, "rotacion", Value(0)));
    const bool horizontal = grados == 90 || grados == 270;

    // Against the flow: up for an upright text, sideways or down when it is turned.
    Value x = Numero(copia, "x");
    Value y = Numero(copia, "y");
    switch (grados) {
      case 90:
        x = Sub(x, desplazamiento);
        break;
      case 180:
        y = Add(y, desplazamiento);
        break;
      case 270:
        x = Add(x, desplazamiento);
        break;
      default:
        y = Sub(y, desplazamiento);
    }
    if (copia.Has("x")) copia.Set("x", x);
    if (copia.Has("y")) copia.Set("y", y);

    const std::string_view lado = horizontal ? "ancho" : "alto";
    const Value extension = Mayor(Value(0), Numero(copia, lado));
    const Value alturaLinea = copia.Has("alturaLineaFlujoTexto")
                                  ? Mayor(Value(0), Numero(copia, "alturaLineaFlujoTexto"))
                                  : extension;

    const bool conservarVacios = ValueBool(HGet(copia, "conservarParrafosVacios", Value(true)));
    if (!conservarVacios && IsBlank(ValueString(HGet(copia, "texto", Value(""))))) {
      // A blank member whose empty paragraphs are not kept frees its line.
      cedido.Set(grupo, Add(desplazamiento, alturaLinea));
      continue;
    }

    const Value suprimido =
        Menor(extension, Mayor(Value(0), Numero(copia, "alturaSuprimidaFlujoTexto")));
    if (suprimido.Double() > 0.0) {
      copia.Set(lado, Mayor(minimo, Sub(extension, suprimido)));
      cedido.Set(grupo, Add(desplazamiento, suprimido));
    }
    out.Add(std::move(copia));
  }
  return salida;
}

}  // namespace kx
