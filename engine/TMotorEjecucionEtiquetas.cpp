// The label sheet run of the execution engine: one label per detail record,
// from the chosen first slot on, placed on sheets of equal labels by rows or
// by columns. The page total is known before the first label is composed.
#include <algorithm>

#include "RuntimeOptions.h"
#include "TConectorDatosReg.h"
#include "TContextoEjecucion.h"
#include "TDocumentoRenderizable.h"
#include "TMotorEjecucion.h"
#include "TMotorPaginacion.h"
#include "TObjectBase.h"
#include "TPlantilla.h"

namespace kx {

namespace {

// No sheet has this many labels; the bound keeps the slot arithmetic (first
// slot plus records) far from overflowing.
constexpr int64_t kMaxRanurasPorPagina = INT64_MAX / 4;

// The smallest integer not below n / d, for n >= 0 and d >= 1.
int64_t CeilingLocal(int64_t n, int64_t d) {
  return n / d + (n % d != 0 ? 1 : 0);
}

double Numero(const Value& layout, std::string_view key) {
  return ValueDouble(layout.Get(key));
}

// {"nRegistro", "nSlot", "nOffsetX", "nOffsetY"}, on one shared key table.
Value MarcaEtiqueta(int64_t registro, int64_t slot, double x, double y) {
  static const Map& proto = ConstantMap(
      {{"nRegistro", Value()}, {"nSlot", Value()}, {"nOffsetX", Value()}, {"nOffsetY", Value()}});
  Value marca(MakeRef<Map>(proto));
  Map& m = marca.AsMap();
  m.ValueAt(0) = Value(registro);
  m.ValueAt(1) = Value(slot);
  m.ValueAt(2) = Value(x);
  m.ValueAt(3) = Value(y);
  return marca;
}

// The record at a 0-based position when it is a map, else nothing (which the
// context reads as no neighbour).
Value Vecino(const List& registros, int64_t i) {
  if (i < 0 || i >= static_cast<int64_t>(registros.size())) return Value();
  const Value& registro = registros[static_cast<size_t>(i)];
  return registro.IsMap() ? registro : Value();
}

}  // namespace

// Pieces of one kind share one key table (a rendered map copies its kind's
// prototype). Setting one more key on such a map would give it a copy of the
// table of its own, some kilobytes for every piece of every label; instead a
// piece is rebuilt on a table of its keys plus "debugEtiqueta", made once per
// key layout met in the run.
class TMotorEjecucion::FormasEtiqueta {
 public:
  // The table for the map's keys plus "debugEtiqueta", or nothing past the bound.
  const Map* Forma(const Map& m) {
    for (const Ref<Map>& forma : aFormas_)
      if (MismasClaves(*forma, m)) return forma.get();
    if (aFormas_.size() >= kMaxFormas) return nullptr;
    auto forma = MakeRef<Map>();
    forma->Reserve(m.size() + 1);
    for (size_t i = 0; i < m.size(); ++i) forma->Append(m.EntryAt(i).key, Value());
    forma->Append(KeyText("debugEtiqueta"), Value());
    aFormas_.push_back(forma);
    return forma.get();
  }

 private:
  // Far more kinds of pieces than any label has; past it pieces take the key in place.
  static constexpr size_t kMaxFormas = 64;
  static bool MismasClaves(const Map& forma, const Map& m) {
    if (forma.size() != m.size() + 1) return false;
    for (size_t i = 0; i < m.size(); ++i) {
      const Value& a = forma.EntryAt(i).key;
      const Value& b = m.EntryAt(i).key;
      if (!a.SameRef(b) && a.Str() != b.Str()) return false;
    }
    return true;
  }
  std::vector<Ref<Map>> aFormas_;
};

Ref<TDocumentoRenderizable> TMotorEjecucion::EjecutarEtiquetas() {
  const Value pageSpec = oPlantilla->GetPagina();
  const Value layout = NormalizarLabelLayout(oPlantilla->GetLabelLayout());
  const Value registros = RegistrosEtiquetas();
  const List& lista = registros.AsList();
  const int64_t total = static_cast<int64_t>(lista.size());

  int64_t porPagina;
  if (__builtin_mul_overflow(ValueInt(layout.Get("nRows")), ValueInt(layout.Get("nColumns")),
                             &porPagina))
    porPagina = kMaxRanurasPorPagina;
  porPagina = std::clamp<int64_t>(porPagina, 1, kMaxRanurasPorPagina);
  const int64_t primera = EtiquetaInicial(porPagina);
  int64_t slot = primera - 1;
  const int64_t paginas = std::max<int64_t>(1, CeilingLocal(total + primera - 1, porPagina));

  auto documento = MakeRef<TDocumentoRenderizable>(HGet(pageSpec, "ancho", Value(0)),
                                                   HGet(pageSpec, "alto", Value(0)));
  documento->Create();
  TContextoEjecucion* contexto = oContextoEjecucion.get();
  const bool progreso = contexto && contexto->TieneProgreso();
  if (oPaginacion) oPaginacion->SetIgnorarSaltosPagina(Value(true));
  const std::vector<Ref<TObjectBase>>& objetos = oPlantilla->GetObjetos();

  auto cancelar = [&] {
    documento->End();
    return nullptr;
  };
  FormasEtiqueta formas;
  Value objetosPagina = Value::NewList();
  int64_t paginaActual = 1;
  for (int64_t i = 1; i <= total; ++i) {
    if (progreso && !contexto->InformarRegistroExaminado(i)) return cancelar();
    if (contexto) {
      contexto->SetEstadoPagina(Value(slot / porPagina + 1), Value(paginas));
      contexto->PushRegistroDetalle(lista[static_cast<size_t>(i - 1)], Value(i - 1), Value(total),
                                    Vecino(lista, i - 2), Vecino(lista, i));
    }
    Value compuestos = Value::NewList();
    compuestos.AsList().Reserve(objetos.size());
    for (const Ref<TObjectBase>& objeto : objetos)
      AgregarRenderizableCompuesto(compuestos, objeto.get());
    compuestos = RecolocarFlujoTexto(compuestos);
    // Page breaks are ignored, so the whole label is one group.
    const Value grupos =
        oPaginacion ? oPaginacion->DividirObjetos(compuestos) : Value::NewList({compuestos});

    for (const Value& grupo : grupos.AsList()) {
      const int64_t enPagina = slot % porPagina;
      const int64_t pagina = slot / porPagina + 1;
      if (pagina != paginaActual) {
        documento->AddPagina(objetosPagina);
        if (progreso && !contexto->InformarPaginaGenerada(documento->TotalPaginas()))
          return cancelar();
        objetosPagina = Value::NewList();
        paginaActual = pagina;
      }
      const auto [x, y] = PosicionEtiqueta(layout, enPagina);
      // One mark for every piece of the label: they share it.
      const Value marca = MarcaEtiqueta(i, enPagina + 1, x, y);
      for (const Value& pieza : grupo.AsList())
        objetosPagina.Push(DesplazarRenderizableEtiqueta(pieza, x, y, marca, formas));
      ++slot;
    }
    if (contexto) contexto->PopRegistroDetalle();
  }
  documento->AddPagina(objetosPagina);
  if (progreso && !contexto->InformarPaginaGenerada(documento->TotalPaginas())) return cancelar();
  return documento;
}

Value TMotorEjecucion::RegistrosEtiquetas() const {
  if (oConectorDatos) {
    Value registros = oConectorDatos->GetRegistrosDetalle();
    if (registros.IsList() && registros.Len() > 0) return registros;
  }
  // No detail records: one label with an empty current record.
  return Value::NewList({Value::NewMap()});
}

Value TMotorEjecucion::NormalizarLabelLayout(const Value& layout) {
  return TDocument::NormalizeLabelLayout(layout);
}

std::pair<double, double> TMotorEjecucion::PosicionEtiqueta(const Value& layout, int64_t slot) {
  const int64_t filas = std::max<int64_t>(1, ValueInt(layout.Get("nRows")));
  const int64_t columnas = std::max<int64_t>(1, ValueInt(layout.Get("nColumns")));
  const bool porColumnas = layout.Get("cFlow").Str() == "column";
  const int64_t fila = porColumnas ? slot % filas : slot / columnas;
  const int64_t columna = porColumnas ? slot / filas : slot % columnas;
  const double x = Numero(layout, "nPrintOffsetX") + Numero(layout, "nMarginLeft") +
                   static_cast<double>(columna) *
                       (Numero(layout, "nLabelWidth") + Numero(layout, "nGapHorizontal"));
  const double y =
      Numero(layout, "nPrintOffsetY") + Numero(layout, "nMarginTop") +
      static_cast<double>(fila) * (Numero(layout, "nLabelHeight") + Numero(layout, "nGapVertical"));
  return {x, y};
}

int64_t TMotorEjecucion::EtiquetaInicial(int64_t slotsPorPagina) const {
  const Value opciones = oContextoEjecucion ? oContextoEjecucion->GetOpciones() : Value();
  const int64_t primera = ValueInt(HGet(opciones, opcion::nEtiquetaInicial, Value(1)));
  return std::clamp<int64_t>(primera, 1, std::max<int64_t>(1, slotsPorPagina));
}

Value TMotorEjecucion::DesplazarRenderizableEtiqueta(const Value& objeto, double x, double y,
                                                     const Value& marca, FormasEtiqueta& formas) {
  const Map* m = objeto.MapPtr();
  if (!m) return objeto;
  const Map* forma = m->Has("debugEtiqueta") ? nullptr : formas.Forma(*m);
  Value pieza = forma ? Value(MakeRef<Map>(*forma)) : objeto;
  Map& out = pieza.AsMap();
  if (forma)
    for (size_t i = 0; i < m->size(); ++i) out.ValueAt(i) = m->ValueAt(i);
  if (Value* vx = out.Find("x"); vx && vx->IsNumber()) *vx = Add(*vx, Value(x));
  if (Value* vy = out.Find("y"); vy && vy->IsNumber()) *vy = Add(*vy, Value(y));
  if (forma) {
    out.ValueAt(m->size()) = marca;
  } else {
    out.Set("debugEtiqueta", marca);
  }
  return pieza;
}

}  // namespace kx
