// The execution context's accumulators, table continuations and consumed records.
#include <array>
#include <cmath>
#include <string_view>

#include "FormulaSyntax.h"
#include "RuntimeOptions.h"
#include "TContextoEjecucion.h"
#include "TContextoEjecucionInterno.h"

namespace kx {

using contexto::Entero;

namespace {

// The truth of an accumulator condition's value.
bool VerdadCondicion(const Value& v) {
  if (v.IsLogical()) return v.Bool();
  std::string palabra = Upper(AllTrim(FormulaString(v)));
  static constexpr std::array<std::string_view, 6> kVerdad = {".T.", "TRUE", "VERDADERO",
                                                              "SI",  "YES",  "1"};
  static constexpr std::array<std::string_view, 5> kFalso = {".F.", "FALSE", "FALSO", "NO", "0"};
  for (std::string_view w : kVerdad) {
    if (palabra == w) return true;
  }
  for (std::string_view w : kFalso) {
    if (palabra == w) return false;
  }
  return !IsEmpty(v);
}

// The number an accumulator adds for a value, read back from its text form;
// nothing for a value that adds nothing.
bool Sumando(const Value& v, Value& out) {
  if (v.IsInt()) {
    out = v;
    return true;
  }
  if (v.IsReal()) {
    double d = v.Double();
    if (d == std::trunc(d)) {
      out = IntPart(v);
      return true;
    }
    // When the value is the double nearest to a decimal of at most 15
    // significant digits and its decimals count, its text is that decimal and
    // reads back as the value itself: no text needs to be made.
    static constexpr double kPotencias[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                            1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
    int decimales = v.Decimals();
    if (decimales >= 1 && decimales <= 15) {
      double escala = kPotencias[decimales];
      double digitos = std::nearbyint(d * escala);
      if (std::fabs(digitos) < 1e15 && digitos / escala == d) {
        out = Value::Real(d, decimales);
        return true;
      }
    }
    out = ReadNumber(PlainText(v));
    return true;
  }
  if (v.IsText() && !IsBlank(v.Str())) {
    Value n = ReadNumber(v.Str());
    if (n.Double() == 0.0) return false;
    out = n;
    return true;
  }
  return false;
}

// hAcumuladores[key] := its value (0 when absent) + the addend of the value.
void Sumar(Map& acumuladores, const std::string& clave, PosicionClave& posicion,
           const Value& valor) {
  Value sumando;
  if (!Sumando(valor, sumando)) return;
  if (Value* actual = posicion.Buscar(acumuladores, clave)) {
    *actual = Add(*actual, sumando);
  } else {
    acumuladores.Append(KeyText(clave), Add(Value(0), sumando));
  }
}

// The key of the plan a reset name stands for; the name's own key when it names none.
std::string ResolverClaveReset(const std::vector<AccumulatorRuntimePlan>& planes,
                               std::string_view nombre) {
  std::string clave = contexto::ClaveAcumulador(nombre);
  for (const AccumulatorRuntimePlan& p : planes)
    if (p.cClave == clave) return clave;
  // Formulas read SUM.region and sum.REGION alike: so does a reset.
  const std::string mayusculas = ClaveSinMayusculas(clave);
  for (const AccumulatorRuntimePlan& p : planes)
    if (CoincideSinMayusculas(p.cClave, mayusculas)) return p.cClave;
  if (nombre.size() > 4 && EqualsIgnoreCase(nombre.substr(0, 4), "SUM.")) {
    const std::string propia = ClaveSinMayusculas(nombre);
    for (const AccumulatorRuntimePlan& p : planes)
      if (CoincideSinMayusculas(p.cClave, propia)) return p.cClave;
  }
  return clave;
}

}  // namespace

const std::string& TContextoEjecucion::ClaveReset(std::string_view nombre) const {
  Estado& e = *oEstado_;
  if (e.nVersionClavesReset != e.nVersionOpciones) {
    e.aClavesReset.clear();
    e.nVersionClavesReset = e.nVersionOpciones;
  }
  for (const auto& [dado, clave] : e.aClavesReset)
    if (dado == nombre) return clave;
  e.aClavesReset.emplace_back(std::string(nombre),
                              ResolverClaveReset(aAccumulatorRuntimePlans, nombre));
  return e.aClavesReset.back().second;
}

void TContextoEjecucion::PrepareAccumulatorRuntimePlans() {
  aAccumulatorRuntimePlans.clear();
  oEstado_->aPosicionesAcumuladores.clear();
  const Map* acumVars = hOpciones.Get(opcion::hAcumVars).MapPtr();
  if (!acumVars) return;
  for (const Map::Entry& def : *acumVars) {
    if (!def.value.IsMap()) continue;
    AccumulatorRuntimePlan p;
    p.cClave = "SUM." + std::string(def.key.Str());
    p.cFormula = FormulaString(def.value.Get("formula"));
    const Value& enCache = hAccumulatorFormulaPlans.Get(p.cFormula);
    if (enCache.IsObject()) {
      p.oPlan = FormulaPlan::FromValue(enCache);
    } else if (!enCache.IsLogical() && oEvaluador) {
      p.oPlan = oEvaluador->CompileFormulaPlan(Value(p.cFormula));
      hAccumulatorFormulaPlans.Set(p.cFormula,
                                   p.oPlan ? FormulaPlan::AsValue(p.oPlan) : Value(false));
    }
    p.lPlanUsable = p.oPlan && oEvaluador;
    p.lCondicional = p.lPlanUsable && p.oPlan->TipoTexto() == "if";
    if (p.lCondicional) {
      p.cCondicionClave = p.oPlan->Condition() ? p.oPlan->Condition()->ExprKey() : std::string();
      p.oPlanSimple = oEvaluador->CompileSimpleAccumulatorPlan(p.oPlan);
    }
    p.lSimpleUsable = static_cast<bool>(p.oPlanSimple);
    p.lFalsoEsCero = p.lSimpleUsable && oEvaluador->SimpleAccumulatorFalseIsZero(p.oPlanSimple);
    aAccumulatorRuntimePlans.push_back(std::move(p));
  }
}

TContextoEjecucion& TContextoEjecucion::AcumularDetalle(const std::vector<char>* solo) {
  if (!oEvaluador) return *this;
  Sanear();
  auto elegido = [solo](size_t i) { return !solo || (i < solo->size() && (*solo)[i]); };
  for (size_t i = 0; i < aAccumulatorRuntimePlans.size(); ++i) {
    const AccumulatorRuntimePlan& p = aAccumulatorRuntimePlans[i];
    if (elegido(i) && (!p.lPlanUsable || oEvaluador->PlanLeeEstado(*p.oPlan))) {
      SincronizarEstadoEvaluador();
      break;
    }
  }
  const Value& variables = VariablesAcumulacion();
  oEstado_->lResueltasSucias = true;
  TEvaluadorFormulas& ev = *oEvaluador;
  // Accumulators that share a condition decide it once per record.
  std::vector<std::pair<const std::string*, bool>> condiciones;
  auto enCache = [&](const std::string& clave, bool& out) {
    for (const auto& [k, v] : condiciones) {
      if (*k == clave) {
        out = v;
        return true;
      }
    }
    return false;
  };
  std::vector<PosicionClave>& posiciones = oEstado_->aPosicionesAcumuladores;
  if (posiciones.size() != aAccumulatorRuntimePlans.size()) {
    posiciones.assign(aAccumulatorRuntimePlans.size(), PosicionClave());
  }
  for (size_t i = 0; i < aAccumulatorRuntimePlans.size(); ++i) {
    if (!elegido(i)) continue;
    const AccumulatorRuntimePlan& p = aAccumulatorRuntimePlans[i];
    Value valor;
    if (p.lSimpleUsable) {
      bool condicion;
      if (!enCache(p.cCondicionClave, condicion)) {
        condicion = ev.EvaluateSimpleAccumulatorCondition(p.oPlanSimple, variables);
        condiciones.push_back({&p.cCondicionClave, condicion});
      }
      if (!condicion && p.lFalsoEsCero) continue;
      valor = ev.EvaluateSimpleAccumulatorValue(p.oPlanSimple, condicion, variables);
    } else if (p.lPlanUsable && p.lCondicional && !p.cCondicionClave.empty()) {
      bool condicion;
      if (!enCache(p.cCondicionClave, condicion)) {
        condicion = VerdadCondicion(ev.EvaluateFormulaPlan(p.oPlan->Condition(), variables));
        condiciones.push_back({&p.cCondicionClave, condicion});
      }
      valor = ev.EvaluateFormulaPlan(condicion ? p.oPlan->TrueBranch() : p.oPlan->FalseBranch(),
                                     variables);
    } else if (p.lPlanUsable) {
      valor = ev.EvaluateFormulaPlan(p.oPlan, variables);
    } else {
      valor = ev.EvaluarFormula(Value(p.cFormula), variables);
    }
    Sumar(hAcumuladores.AsMap(), p.cClave, posiciones[i], valor);
  }
  ++oEstado_->nVersionAcumuladores;
  InvalidarVariables();
  return *this;
}

TContextoEjecucion& TContextoEjecucion::ResetAcumuladores() {
  const Value& omitir = hOpciones.Get(opcion::lOmitirResetInicialAcumuladores);
  if (omitir.IsLogical() && omitir.Bool()) {
    hOpciones.Set(opcion::lOmitirResetInicialAcumuladores, Value(false));
    return *this;
  }
  hAcumuladores = Value::NewMap();
  ++oEstado_->nVersionAcumuladores;
  InvalidarVariables();
  return *this;
}

TContextoEjecucion& TContextoEjecucion::ResetAcumuladoresSeleccionados(const Value& nombres) {
  const List* lista = nombres.ListPtr();
  if (!lista) return *this;
  Sanear();
  for (const Value& nombre : *lista) {
    if (!nombre.IsText() || nombre.Str().empty()) continue;
    hAcumuladores.Set(ClaveReset(nombre.Str()), Value(0));
  }
  ++oEstado_->nVersionAcumuladores;
  InvalidarVariables();
  return *this;
}

TContextoEjecucion& TContextoEjecucion::SetAcumuladores(const Value& sumas) {
  hAcumuladores = sumas.IsMap() ? sumas : Value::NewMap();
  ++oEstado_->nVersionAcumuladores;
  InvalidarVariables();
  return *this;
}

void TContextoEjecucion::GuardarAcumuladores(std::vector<Value>& valores) const {
  valores.clear();
  if (const Map* sumas = hAcumuladores.MapPtr())
    for (const Map::Entry& e : *sumas) valores.push_back(e.value);
}

TContextoEjecucion& TContextoEjecucion::RestaurarAcumuladores(const std::vector<Value>& valores) {
  Sanear();
  // An addition changes values in place and appends the accumulators it meets first.
  Map& sumas = hAcumuladores.AsMap();
  while (sumas.size() > valores.size()) sumas.PopBack();
  for (size_t i = 0; i < sumas.size(); ++i) sumas.ValueAt(i) = valores[i];
  ++oEstado_->nVersionAcumuladores;
  InvalidarVariables();
  return *this;
}

TContextoEjecucion& TContextoEjecucion::GuardarEstadoTexto(const Value& renderizable) {
  const Value& id = renderizable.Get("id");
  if (!id.IsText()) return *this;
  Sanear();
  Estado& e = *oEstado_;
  if (!e.hUltimasSumas.IsMap() || e.nVersionUltimasSumas != e.nVersionAcumuladores) {
    // A copy per page at most: it shares the key table of the sums, and
    // copies only what is not a plain value.
    auto copia = MakeRef<Map>(hAcumuladores.AsMap());
    for (size_t i = 0; i < copia->size(); ++i) {
      Value& v = copia->ValueAt(i);
      if (v.IsList() || v.IsMap()) v = DeepClone(v);
    }
    e.hUltimasSumas = Value(std::move(copia));
    e.nVersionUltimasSumas = e.nVersionAcumuladores;
  }
  e.hEstadosTexto.Set(id.Str(), e.hUltimasSumas);
  if (nUltimaPaginaTabla >= 0) e.hUltimaPaginaTextos.Set(id.Str(), nUltimaPaginaTabla == 1);
  return *this;
}

const Value& TContextoEjecucion::GetEstadosTexto() const {
  return oEstado_->hEstadosTexto;
}

const Value& TContextoEjecucion::GetUltimaPaginaTextos() const {
  return oEstado_->hUltimaPaginaTextos;
}

TContextoEjecucion& TContextoEjecucion::SetContinuacionTabla(const Value& idTabla,
                                                             const Value& registro,
                                                             const Value& lineas) {
  Value continuacion = Value::NewMap();
  continuacion.AsMap().Append(KeyText("nRegistro"), Value(std::max<int64_t>(0, Entero(registro))));
  continuacion.AsMap().Append(KeyText("nLinea"), Value(std::max<int64_t>(0, Entero(lineas))));
  Sanear();
  hContinuacionesTabla.Set(ValueString(idTabla), continuacion);
  return *this;
}

Value TContextoEjecucion::GetContinuacionTabla(const Value& idTabla) const {
  const Value& entrada = hContinuacionesTabla.Get(ValueString(idTabla));
  return entrada.IsMap() ? entrada : Value::NewMap();
}

TContextoEjecucion& TContextoEjecucion::ClearContinuacionTabla(const Value& idTabla) {
  Sanear();
  hContinuacionesTabla.AsMap().Remove(ValueString(idTabla));
  return *this;
}

Value TContextoEjecucion::GetContinuacionesTabla() const {
  return DeepClone(hContinuacionesTabla);
}

TContextoEjecucion& TContextoEjecucion::MarcarRegistroDetalleConsumido(const Value& indice) {
  nUltimoRegistroConsumido = std::max(nUltimoRegistroConsumido, Entero(indice));
  InvalidarVariables();
  return *this;
}

int64_t TContextoEjecucion::GetRegistrosDetalleConsumidosRuntime() const {
  int64_t base = std::max<int64_t>(0, Entero(hOpciones.Get(opcion::nRegistroBase)));
  if (nMenorRegistroTabla >= 0) return std::max<int64_t>(0, nMenorRegistroTabla - base);
  return nUltimoRegistroConsumido >= base ? nUltimoRegistroConsumido - base + 1 : 0;
}

const Value& TContextoEjecucion::GetEstadoTabla(const Value& idTabla) const {
  return hEstadosTabla.Get(ValueString(idTabla));
}

TContextoEjecucion& TContextoEjecucion::SetEstadoTabla(const Value& idTabla, int64_t registro,
                                                       const Value& sumas, bool pendiente) {
  Sanear();
  registro = std::max<int64_t>(0, registro);
  Value estado = Value::NewMap();
  estado.AsMap().Append(KeyText("nRegistro"), Value(registro));
  estado.AsMap().Append(KeyText("hAcumuladores"), sumas.IsMap() ? sumas : Value::NewMap());
  if (pendiente) estado.AsMap().Append(KeyText("lUltimasPendientes"), Value(true));
  hEstadosTabla.Set(ValueString(idTabla), estado);
  nMenorRegistroTabla =
      nMenorRegistroTabla < 0 ? registro : std::min(nMenorRegistroTabla, registro);
  return *this;
}

Value TContextoEjecucion::GetEstadosTabla() const {
  return DeepClone(hEstadosTabla);
}

}  // namespace kx
