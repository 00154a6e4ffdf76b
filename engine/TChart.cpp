#include "TChart.h"

#include <string_view>
#include <vector>

#include "FormulaSyntax.h"
#include "RegistrosDetalle.h"
#include "RuntimeOptions.h"
#include "TContextoEjecucion.h"

namespace kx {

namespace {

// Turns the rows of a record source into the maps the formulas see: every field under its own
// name with its plain value, then under the name it lacks (the bare field name after the block's
// dot, or block "." field for a bare one), unless the record already holds that name. Records
// of one source share their keys, so the layout is built once and each record copies it.
class Registros {
 public:
  // `filas` holds records (a list, or a run's), or is anything else for none.
  Registros(const Value& filas, std::string prefijo)
      : filas_(filas), prefijo_(std::move(prefijo)) {}

  size_t size() const { return filas_.size(); }

  // For each record in order: `evaluar()` with the record current in the context (its index,
  // the record count and both neighbours given), then `despues()` once it is released.
  template <class Evaluar, class Despues>
  void ForEach(TContextoEjecucion& context, Evaluar evaluar, Despues despues) {
    const ListaRegistros& filas = filas_;
    const size_t n = filas.size();
    if (n == 0) return;
    Value anterior = Value::NewMap();
    Value actual = Registro(filas[0]);
    for (size_t i = 0; i < n; ++i) {
      Value siguiente = i + 1 < n ? Registro(filas[i + 1]) : Value::NewMap();
      context.PushRegistroDetalle(actual, Value(static_cast<int64_t>(i)),
                                  Value(static_cast<int64_t>(n)), anterior, siguiente);
      evaluar();
      context.PopRegistroDetalle();
      despues();
      anterior = std::move(actual);
      actual = std::move(siguiente);
    }
  }

 private:
  Value Registro(const Value& fila) {
    const Map* campos = fila.MapPtr();
    if (!campos) return Value::NewMap();
    if (!MismaDisposicion(*campos)) Disponer(*campos);
    auto registro = MakeRef<Map>(prototipo_);
    const size_t n = campos->size();
    for (size_t j = 0; j < n; ++j) registro->ValueAt(j) = ValorPlano(campos->ValueAt(j));
    for (size_t e = 0; e < aOrigenExtra_.size(); ++e)
      registro->ValueAt(n + e) = ValorPlano(campos->ValueAt(aOrigenExtra_[e]));
    return Value(std::move(registro));
  }

  bool MismaDisposicion(const Map& campos) const {
    if (!lDispuesto_ || campos.size() != aClaves_.size()) return false;
    for (size_t j = 0; j < campos.size(); ++j)
      if (campos.KeyAt(j) != aClaves_[j]) return false;
    return true;
  }

  void Disponer(const Map& campos) {
    lDispuesto_ = true;
    aClaves_.clear();
    aOrigenExtra_.clear();
    prototipo_.Clear();
    prototipo_.Reserve(campos.size() * 2);
    for (size_t j = 0; j < campos.size(); ++j) {
      aClaves_.emplace_back(campos.KeyAt(j));
      prototipo_.Append(campos.EntryAt(j).key, Value());
    }
    for (size_t j = 0; j < campos.size(); ++j) {
      const std::string_view clave = campos.KeyAt(j);
      const size_t punto = clave.find('.');
      std::string otra;
      if (punto != std::string_view::npos)
        otra = std::string(clave.substr(punto + 1));
      else if (!prefijo_.empty())
        otra = prefijo_ + std::string(clave);
      if (otra.empty() || prototipo_.Has(otra)) continue;
      prototipo_.Append(Value(otra), Value());
      aOrigenExtra_.push_back(j);
    }
  }

  ListaRegistros filas_;
  std::string prefijo_;  // block name and "." for bare field names, else ""
  bool lDispuesto_ = false;
  std::vector<std::string> aClaves_;  // the source keys the layout was built for
  std::vector<size_t> aOrigenExtra_;  // source position of each added name
  Map prototipo_;
};

// The records of a render: the job's record list when the run's options hold it, else the rows
// of the first detail block of the report data.
Registros DetailRecords(TContextoEjecucion& context) {
  const Value& runtime = HGet(context.GetOpciones(), opcion::aRegistrosDetalleRuntime);
  if (ListaRegistros(runtime).Valida()) return Registros(runtime, "");
  const Value datos = context.GetData();
  const Map* bloques = HGet(datos, "DetalleVar").MapPtr();
  if (!bloques || bloques->empty()) return Registros(Value(), "");
  return Registros(bloques->ValueAt(0), std::string(bloques->KeyAt(0)) + ".");
}

// The functions that answer from the page the chart is drawn on.
constexpr std::string_view kFuncionesDePagina[] = {
    "PAGE", "PAGES", "TOTALPAGES", "LASTPAGE", "PAGEBY", "TOTALPAGESBY", "LASTPAGEBY"};

// Whether the formula may answer otherwise from one composition to the next for the same
// record: it asks for the page (its number or a page count), or reads a running sum or a user
// variable, whose own formula may read either. What it reads of the record the chart makes
// current is the same wherever the chart is drawn.
bool LeeEstadoDeComposicion(std::string_view formula, const TContextoEjecucion& context) {
  const bool pagina = AlgunNombreDeFormula(formula, [](std::string_view nombre, bool llamada) {
    if (!llamada) return false;
    const std::string funcion = NormalizarNombreFuncion(nombre);
    for (std::string_view f : kFuncionesDePagina)
      if (funcion == f) return true;
    return false;
  });
  return pagina || context.FormulaLeeSumaOVariable(formula);
}

}  // namespace

TChart& TChart::Init(TReportNode* parent) {
  oParent = parent;
  cName = Value("Grafico");
  cType = Value("TChart");
  cChartKind = "chart";
  hChartSpec = Value::NewMap();
  cKx12SourceJson.clear();
  oCache_ = {};
  oAnalisis_ = {};
  return *this;
}

void TChart::End() {
  hChartSpec = Value::NewMap();
  oCache_ = {};
  oAnalisis_ = {};
  oParent = nullptr;
}

Value TChart::Save() {
  Value map = TObjectBase::Save();
  map.AsMap().Append(KeyText("cChartKind"), Value(cChartKind));
  map.AsMap().Append(KeyText("hChartSpec"), hChartSpec);
  map.AsMap().Append(KeyText("cKx12SourceJson"), Value(cKx12SourceJson));
  return map;
}

TChart& TChart::Load(const Value& map) {
  TObjectBase::Load(map);
  if (const Map* in = map.MapPtr()) {
    const Value* kind = in->Find("cChartKind");
    cChartKind = kind ? ValorAString(*kind) : "chart";
    const Value* ajustes = in->Find("hChartSpec");
    hChartSpec = ajustes && ajustes->IsMap() ? *ajustes : Value::NewMap();
    const Value* source = in->Find("cKx12SourceJson");
    cKx12SourceJson = source ? ValorAString(*source) : "";
  }
  oCache_ = {};
  oAnalisis_ = {};
  return *this;
}

Value TChart::GenerarRenderizable(TContextoEjecucion& context) {
  if (!EsVisibleEnEjecucion(context)) return Value();
  // The data keys come first; a copy of the map takes the ten object keys, so data kept for
  // later pages stays as built.
  const Value datos = DatosGrafico(context);
  Value rendered(MakeRef<Map>(datos.AsMap()));
  Map& out = rendered.AsMap();
  out.Set("id", cId);
  out.Set("tipo", Value(cChartKind));
  out.Set("x", nLeft);
  out.Set("y", nTop);
  out.Set("ancho", nWidth);
  out.Set("alto", nHeight);
  out.Set("zIndex", nZIndex);
  out.Set("opacidad", nOpacity);
  out.Set("rotacion", nRotation);
  out.Set("spec", hChartSpec);
  return rendered;
}

Value TChart::DatosGrafico(TContextoEjecucion& context) {
  // A chart whose formulas read only its records shows the same data wherever it is drawn: the
  // data is built once per record list (the page loop shares one list among its pages), so a
  // chart on each of many pages costs one pass over the records, and every page holds the one
  // series. A chart whose formulas read the page or the sums is built for each composition.
  const Value& runtime = HGet(context.GetOpciones(), opcion::aRegistrosDetalleRuntime);
  const bool reutilizable = ListaRegistros(runtime).Valida() && !FormulasLeenEstado(context);
  if (reutilizable && oCache_.hDatos.IsMap() && oCache_.aRegistros.SameRef(runtime) &&
      oCache_.hSpec.SameRef(hChartSpec) && oCache_.cKind == cChartKind)
    return oCache_.hDatos;
  Value datos = cChartKind == "crosstab" ? BuildCrosstab(context) : BuildChart(context);
  oCache_ = {};
  if (reutilizable) oCache_ = {runtime, hChartSpec, cChartKind, datos};
  return datos;
}

Value TChart::FormulaCategoria() const {
  return Value(hChartSpec.Has("cCategoryFormula") ? StringValue(hChartSpec.Get("cCategoryFormula"))
                                                  : std::string("\"\""));
}

Value TChart::FormulaValor() const {
  return Value(hChartSpec.Has("cValueFormula") ? StringValue(hChartSpec.Get("cValueFormula"))
                                               : std::string("0"));
}

Value TChart::BuildChart(TContextoEjecucion& context) {
  const Value formulaEtiqueta = FormulaCategoria();
  const Value formulaValor = FormulaValor();
  Registros registros = DetailRecords(context);
  Value puntos = Value::NewList();
  puntos.AsList().Reserve(registros.size());
  Value etiqueta, valor;
  registros.ForEach(
      context,
      [&] {
        etiqueta = Value(StringValue(context.EvaluarFormula(formulaEtiqueta)));
        valor = NumberValue(context.EvaluarFormula(formulaValor));
      },
      [&] {
        // Every point copies one prototype, so all of them share one key table.
        static const Map& proto = ConstantMap({{"label", Value()}, {"value", Value()}});
        auto punto = MakeRef<Map>(proto);
        punto->ValueAt(0) = std::move(etiqueta);
        punto->ValueAt(1) = std::move(valor);
        puntos.Push(Value(std::move(punto)));
      });
  return Value::NewMap({{"puntos", puntos}});
}

// One cross-table definition as read once before its records are walked.
struct TChart::DefinicionCruzada {
  bool lResumenFila = false, lResumenColumna = false;
  std::string cResumenFila, cResumenColumna;                       // the summary keys
  Value cFila, cColumna, cCelda, cEtiquetaFila, cEtiquetaColumna;  // formulas
  Value hEstiloFila, hEstiloColumna, hEstiloCelda;
};

bool TChart::LeerDefinicion(const Value& def, DefinicionCruzada& d) {
  if (!def.IsMap()) return false;
  auto texto = [&](std::string_view clave, std::string_view defecto) {
    return def.Has(clave) ? Value(ValorAString(def.Get(clave))) : Value(defecto);
  };
  auto numero = [&](std::string_view clave) { return ValorANumero(def.Get(clave)); };
  auto estilo = [&](std::string_view clave) {
    const Value& v = def.Get(clave);
    return v.IsMap() ? v : Value::NewMap();
  };
  auto apagado = [&](std::string_view clave) {
    return def.Has(clave) && !ValorALogico(def.Get(clave));
  };
  const Value nivelFila = numero("nRowLevel");
  const Value nivelColumna = numero("nColumnLevel");
  d.lResumenFila = nivelFila.Double() > 0;
  d.lResumenColumna = nivelColumna.Double() > 0;
  if (d.lResumenFila && apagado("lShowRowSummary")) return false;
  if (d.lResumenColumna && apagado("lShowColumnSummary")) return false;
  d.cCelda = texto("cCellFormula", "");
  if (IsBlank(d.cCelda.Str())) return false;
  d.cResumenFila = "__summary_row_" + PlainText(nivelFila);
  d.cResumenColumna = "__summary_col_" + PlainText(nivelColumna);
  d.cFila = texto("cRowFormula", "\"\"");
  d.cColumna = texto("cColumnFormula", "\"\"");
  d.cEtiquetaFila = texto("cRowLabelFormula", "");
  d.cEtiquetaColumna = texto("cColumnLabelFormula", "");
  d.hEstiloFila = estilo("hRowStyle");
  d.hEstiloColumna = estilo("hColumnStyle");
  d.hEstiloCelda = estilo("hCellStyle");
  return true;
}

bool TChart::FormulasLeenEstado(TContextoEjecucion& context) {
  const Value& usuario = HGet(context.GetOpciones(), opcion::hUserVars);
  Analisis& a = oAnalisis_;
  if (a.lHecho && a.hSpec.SameRef(hChartSpec) && a.cKind == cChartKind &&
      a.hUsuario.SameRef(usuario))
    return a.lLeeEstado;
  auto lee = [&](const Value& formula) { return LeeEstadoDeComposicion(formula.Str(), context); };
  bool leeEstado = false;
  if (cChartKind == "crosstab") {
    const Value& lista = hChartSpec.Get("aDefinitions");
    const Value definiciones = lista.IsList() ? lista : Value::NewList({hChartSpec});
    for (const Value& def : definiciones.AsList()) {
      DefinicionCruzada d;
      if (!LeerDefinicion(def, d)) continue;
      leeEstado = leeEstado || (!d.lResumenFila && lee(d.cFila)) ||
                  (!d.lResumenColumna && lee(d.cColumna)) || lee(d.cCelda) ||
                  lee(d.cEtiquetaFila) || lee(d.cEtiquetaColumna);
    }
  } else {
    leeEstado = lee(FormulaCategoria()) || lee(FormulaValor());
  }
  a = {true, hChartSpec, cChartKind, usuario, leeEstado};
  return leeEstado;
}

namespace {

// A row or column label: its own when not blank, "Total" for a summary, else the key.
Value Rotulo(const std::string& etiqueta, bool resumen, const std::string& clave) {
  if (!IsBlank(etiqueta)) return Value(etiqueta);
  return Value(resumen ? std::string("Total") : clave);
}

}  // namespace

Value TChart::BuildCrosstab(TContextoEjecucion& context) {
  Value vFilas = Value::NewMap(), vColumnas = Value::NewMap(), vCeldas = Value::NewMap();
  Value vEstilos = Value::NewMap(
      {{"filas", Value::NewMap()}, {"columnas", Value::NewMap()}, {"celdas", Value::NewMap()}});
  Map& filas = vFilas.AsMap();
  Map& columnas = vColumnas.AsMap();
  Map& celdas = vCeldas.AsMap();
  Map& estilosFilas = vEstilos.Get("filas").AsMap();
  Map& estilosColumnas = vEstilos.Get("columnas").AsMap();
  Map& estilosCeldas = vEstilos.Get("celdas").AsMap();
  const Value& lista = hChartSpec.Get("aDefinitions");
  const Value definiciones = lista.IsList() ? lista : Value::NewList({hChartSpec});
  Registros registros = DetailRecords(context);
  auto evaluar = [&](const Value& formula) { return context.EvaluarFormula(formula); };
  for (const Value& def : definiciones.AsList()) {
    DefinicionCruzada d;
    if (!LeerDefinicion(def, d)) continue;
    std::string fila, columna, etiquetaFila, etiquetaColumna;
    Value valor;
    auto evaluarRegistro = [&] {
      fila = d.lResumenFila ? d.cResumenFila : StringValue(evaluar(d.cFila));
      columna = d.lResumenColumna ? d.cResumenColumna : StringValue(evaluar(d.cColumna));
      valor = NumberValue(evaluar(d.cCelda));
      etiquetaFila = d.cEtiquetaFila.Str().empty() ? "" : StringValue(evaluar(d.cEtiquetaFila));
      etiquetaColumna =
          d.cEtiquetaColumna.Str().empty() ? "" : StringValue(evaluar(d.cEtiquetaColumna));
    };
    auto anotar = [&] {
      filas.Set(fila, Rotulo(etiquetaFila, d.lResumenFila, fila));
      columnas.Set(columna, Rotulo(etiquetaColumna, d.lResumenColumna, columna));
      estilosFilas.Set(fila, d.hEstiloFila);
      estilosColumnas.Set(columna, d.hEstiloColumna);
      Value* sumas = celdas.Find(fila);
      Value* estilos = estilosCeldas.Find(fila);
      if (!sumas) {
        sumas = &celdas.Set(fila, Value::NewMap());
        estilos = &estilosCeldas.Set(fila, Value::NewMap());
      }
      const Value* previa = sumas->AsMap().Find(columna);
      sumas->AsMap().Set(columna, Add(previa ? *previa : Value(0), valor));
      estilos->AsMap().Set(columna, d.hEstiloCelda);
    };
    registros.ForEach(context, evaluarRegistro, anotar);
  }
  return Value::NewMap(
      {{"filas", vFilas}, {"columnas", vColumnas}, {"celdas", vCeldas}, {"estilos", vEstilos}});
}

}  // namespace kx
