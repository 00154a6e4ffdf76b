// The execution engine: one execution turns the template's report objects
// into a small renderable document for one window of the data. It composes
// every template object once, in template order, into one flat list (a
// table's list of pieces is spliced in at its place), moves the members of
// text-flow groups up by the height earlier members gave away, and has the
// pagination engine lay the list out on the run's paper.
//
// A label template takes the label-sheet run instead: one label per detail
// record, every template object composed for its record and shifted to the
// label's slot on a sheet of equal labels, all pages in this one execution.
//
// The collaborators are references: the engine never creates or ends them.
// It keeps no state between executions but the timing map of the last one.
#pragma once

#include <cstdint>
#include <utility>

#include "Value.h"

namespace kx {

class TConectorDatosReg;
class TContextoEjecucion;
class TDocumentoRenderizable;
class TMotorComposicion;
class TMotorPaginacion;
class TObjectBase;
class TPlantilla;

class TMotorEjecucion : public KXObject {
 public:
  // New(template, connector, composition, pagination, context): `Init` with the five.
  explicit TMotorEjecucion(Ref<TPlantilla> plantilla = nullptr,
                           Ref<TConectorDatosReg> conector = nullptr,
                           Ref<TMotorComposicion> composicion = nullptr,
                           Ref<TMotorPaginacion> paginacion = nullptr,
                           Ref<TContextoEjecucion> contexto = nullptr);
  ~TMotorEjecucion() override;
  std::string_view ClassName() const override { return "TMotorEjecucion"; }

  // Stores the five references; the timing map is the zero one.
  TMotorEjecucion& Init(Ref<TPlantilla> plantilla, Ref<TConectorDatosReg> conector,
                        Ref<TMotorComposicion> composicion, Ref<TMotorPaginacion> paginacion,
                        Ref<TContextoEjecucion> contexto);
  // Answers the engine; nothing to prepare.
  TMotorEjecucion& Create() { return *this; }
  // Drops the five references (without ending them) and empties the timing map.
  void End();
  // Each replaces one reference.
  TMotorEjecucion& SetPlantilla(Ref<TPlantilla> plantilla);
  TMotorEjecucion& SetConectorDatos(Ref<TConectorDatosReg> conector);
  TMotorEjecucion& SetComposicion(Ref<TMotorComposicion> composicion);
  TMotorEjecucion& SetPaginacion(Ref<TMotorPaginacion> paginacion);
  TMotorEjecucion& SetContextoEjecucion(Ref<TContextoEjecucion> contexto);
  // One execution: a new renderable document (a label template's holds every sheet), or
  // nothing when there is no pagination engine or the host cancelled a label run.
  Ref<TDocumentoRenderizable> Ejecutar();
  // A copy of the latest execution's timing map.
  Value GetPerformanceDiagnostics() const;

  // The zero timing map, keys in their fixed order.
  static Value PassPerformanceCero();
  // The list with text-flow groups relocated: a new list of copies; the input is not changed.
  static Value RecolocarFlujoTexto(const Value& lista);

  Ref<TPlantilla> oPlantilla;
  Ref<TConectorDatosReg> oConectorDatos;  // read only by the label run
  Ref<TMotorComposicion> oComposicion;
  Ref<TMotorPaginacion> oPaginacion;
  Ref<TContextoEjecucion> oContextoEjecucion;
  Value hPerformanceDiagnostics;

 private:
  // The label sheet run: every label page, or nothing when cancelled.
  Ref<TDocumentoRenderizable> EjecutarEtiquetas();
  // The records to print: the connector's detail records, or one empty record.
  Value RegistrosEtiquetas() const;
  // The twelve-key label layout, normalised as the document does.
  static Value NormalizarLabelLayout(const Value& layout);
  // The top-left corner of the 0-based slot on its sheet.
  static std::pair<double, double> PosicionEtiqueta(const Value& layout, int64_t slot);
  // The first label from the run options ("nEtiquetaInicial"), within 1 .. slots per page.
  int64_t EtiquetaInicial(int64_t slotsPorPagina) const;
  // The key layouts of a label run's pieces (defined with the label run).
  class FormasEtiqueta;
  // The rendered map shifted by the slot's origin and marked with "debugEtiqueta"; a value
  // that is not a map is answered unchanged.
  static Value DesplazarRenderizableEtiqueta(const Value& objeto, double x, double y,
                                             const Value& marca, FormasEtiqueta& formas);
  // Composes one object and appends its rendered maps to the list.
  void AgregarRenderizableCompuesto(Value& lista, TObjectBase* objeto);
  // Adds a table's render timings into the execution's table sums.
  void SumarTiemposTabla(const Value& tiempos);
};

}  // namespace kx
