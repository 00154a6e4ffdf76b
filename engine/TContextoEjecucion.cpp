#include "TContextoEjecucion.h"

#include <algorithm>
#include <span>
#include <typeinfo>
#include <utility>

#include "FormulaSyntax.h"
#include "RuntimeOptions.h"
#include "TContextoEjecucionInterno.h"

namespace kx {

using contexto::Entero;

namespace {

// The compiled plan a Value carries, or null. Plans are a final class, so the
// exact type test stands for the dynamic cast on every evaluation.
FormulaPlanRef PlanDeValor(const Value& v) {
  const KXObject* o = v.ObjectPtr();
  if (!o || typeid(*o) != typeid(FormulaPlan)) return FormulaPlanRef();
  return FormulaPlanRef(static_cast<const FormulaPlan*>(o));
}

// An option read on every record, through its remembered position.
const Value& Opcion(const Value& opciones, PosicionClave& posicion, std::string_view clave) {
  if (!opciones.IsMap()) return kNil;
  const Value* v = posicion.Buscar(opciones.AsMap(), clave);
  return v ? *v : kNil;
}

bool LlamarProgreso(const Value& callable, int64_t n) {
  const Callable* c = callable.CallablePtr();
  if (!c) return true;
  Value arg(n);
  Value r = c->Call(std::span<const Value>(&arg, 1));
  return !(r.IsLogical() && !r.Bool());
}

}  // namespace

TContextoEjecucion::TContextoEjecucion(Ref<TConectorDatos> conector,
                                       Ref<TEvaluadorFormulas> evaluador, const Value& opciones)
    : oEstado_(std::make_unique<Estado>()) {
  Init(std::move(conector), std::move(evaluador), opciones);
}

TContextoEjecucion::~TContextoEjecucion() = default;

TContextoEjecucion& TContextoEjecucion::Init(Ref<TConectorDatos> conector,
                                             Ref<TEvaluadorFormulas> evaluador,
                                             const Value& opciones) {
  oConectorDatos = std::move(conector);
  oEvaluador = std::move(evaluador);
  aAvisos = Value::NewList();
  aNotas_.clear();
  aDescartados = Value::NewList();
  hOpciones = opciones.IsMap() ? opciones : Value::NewMap();
  aVariablesLocales = Value::NewList();
  hAcumuladores = Value::NewMap();
  hAccumulatorFormulaPlans = Value::NewMap();
  aAccumulatorRuntimePlans.clear();
  hVariablesCache = Value();
  hDataVarRuntimeCache = Value::NewMap();
  nDataVarChangeCursor = 0;
  nDataVarActiveIndex = -1;
  nDataVarChangesCount = -1;
  lDataVarChangesOrdered.reset();
  nPaginaActual = 1;
  nTotalPaginas = 1;
  nIndiceRegistro = -1;
  nTotalRegistros = 0;
  hRegistroAnterior = Value::NewMap();
  hRegistroSiguiente = Value::NewMap();
  lEvaluatorStateSynchronized = false;
  nUltimoRegistroConsumido = -1;
  hContinuacionesTabla = Value::NewMap();
  hEstadosTabla = Value::NewMap();
  nMenorRegistroTabla = -1;
  cErrorCriticoComposicion.clear();
  lCreated = false;
  oCacheImagenes.reset();
  oEstado_->Olvidar();
  return *this;
}

TContextoEjecucion& TContextoEjecucion::SetCacheImagenes(Ref<KXObject> cache) {
  oCacheImagenes = std::move(cache);
  return *this;
}

Value TContextoEjecucion::CompartirClaves(const Value& map) {
  const Map* given = map.MapPtr();
  if (!given) return map;
  // A template has a few kinds of rendered maps; past that many, maps keep their own keys.
  constexpr size_t kMaxTablas = 64;
  std::vector<Value>& tablas = oEstado_->aTablasClaves;
  for (const Value& conocido : tablas) {
    const Map& m = conocido.AsMap();
    if (m.KeyTableIdentity() == given->KeyTableIdentity()) return map;
    if (!MismasClaves(m, *given)) continue;
    auto copia = MakeRef<Map>(m);
    for (size_t i = 0; i < given->size(); ++i) copia->ValueAt(i) = given->ValueAt(i);
    return Value(std::move(copia));
  }
  if (tablas.size() < kMaxTablas) tablas.push_back(map);
  return map;
}

TContextoEjecucion* TContextoEjecucion::Create() {
  if (!oConectorDatos || !oEvaluador) return nullptr;
  oEvaluador->SetOpciones(hOpciones);
  nUltimaPaginaTabla = -1;
  oEvaluador->SetUltimaPaginaTabla(-1);
  nDivisionesUltimaPagina = 0;
  aAvisos = Value::NewList();
  aNotas_.clear();
  aDescartados = Value::NewList();
  aVariablesLocales = Value::NewList();
  // The carried sums are adopted as they are: the accumulation of this
  // execution goes on in the caller's map.
  const Value& iniciales = hOpciones.Get(opcion::hAcumuladoresIniciales);
  hAcumuladores = iniciales.IsMap() ? iniciales : Value::NewMap();
  const Value& continuaciones = hOpciones.Get(opcion::hContinuacionesTabla);
  hContinuacionesTabla = continuaciones.IsMap() ? DeepClone(continuaciones) : Value::NewMap();
  const Value& estados = hOpciones.Get(opcion::hEstadosTabla);
  hEstadosTabla = estados.IsMap() ? DeepClone(estados) : Value::NewMap();
  nMenorRegistroTabla = -1;
  cErrorCriticoComposicion.clear();
  nIndiceRegistro = -1;
  nTotalRegistros = 0;
  hRegistroAnterior = Value::NewMap();
  hRegistroSiguiente = Value::NewMap();
  nUltimoRegistroConsumido = -1;
  ++oEstado_->nVersionOpciones;
  ++oEstado_->nVersionAcumuladores;
  oEstado_->OlvidarEstadosTexto();
  InvalidarVariables();
  SetEstadoPagina(hOpciones.Get(opcion::nPaginaActualRuntime, Value(1)),
                  hOpciones.Get(opcion::nTotalPaginasRuntime, Value(1)));
  PrepareAccumulatorRuntimePlans();
  lCreated = true;
  return this;
}

void TContextoEjecucion::End() {
  Init(nullptr, nullptr, Value());
}

TContextoEjecucion& TContextoEjecucion::SetConectorDatos(Ref<TConectorDatos> conector) {
  oConectorDatos = std::move(conector);
  InvalidarVariables();
  return *this;
}

TContextoEjecucion& TContextoEjecucion::SetEvaluador(Ref<TEvaluadorFormulas> evaluador) {
  oEvaluador = std::move(evaluador);
  hAccumulatorFormulaPlans = Value::NewMap();
  aAccumulatorRuntimePlans.clear();
  lEvaluatorStateSynchronized = false;
  if (oEvaluador) oEvaluador->SetOpciones(hOpciones);
  ++oEstado_->nVersionOpciones;
  InvalidarVariables();
  return *this;
}

TContextoEjecucion& TContextoEjecucion::SetOpciones(const Value& opciones) {
  hOpciones = opciones.IsMap() ? opciones : Value::NewMap();
  aAccumulatorRuntimePlans.clear();
  lEvaluatorStateSynchronized = false;
  if (oEvaluador) oEvaluador->SetOpciones(hOpciones);
  ++oEstado_->nVersionOpciones;
  InvalidarVariables();
  return *this;
}

// ---------------------------------------------------------------------------
// Variables

// The members are public: one given a value of the wrong kind from outside
// counts as empty instead of breaking the operations that walk it.
void TContextoEjecucion::Sanear() {
  if (!hOpciones.IsMap()) hOpciones = Value::NewMap();
  if (!hAcumuladores.IsMap()) hAcumuladores = Value::NewMap();
  if (!aVariablesLocales.IsList()) aVariablesLocales = Value::NewList();
  if (!hDataVarRuntimeCache.IsMap()) hDataVarRuntimeCache = Value::NewMap();
  if (!hContinuacionesTabla.IsMap()) hContinuacionesTabla = Value::NewMap();
  if (!hEstadosTabla.IsMap()) hEstadosTabla = Value::NewMap();
  if (!aAvisos.IsList()) {
    aAvisos = Value::NewList();
    aNotas_.clear();
  }
  if (!aDescartados.IsList()) aDescartados = Value::NewList();
}

void TContextoEjecucion::InvalidarVariables() {
  if (!hVariablesCache.IsNil()) hVariablesCache = Value();
  // Nothing can have been resolved since the last clearing unless the
  // context evaluated something in between.
  if (oEvaluador && oEstado_->lResueltasSucias) oEvaluador->ClearResolvedVariableCache();
  oEstado_->lResueltasSucias = false;
}

Value TContextoEjecucion::GetVariables() {
  return VariablesVigentes();
}

const Value& TContextoEjecucion::VariablesVigentes() {
  if (hVariablesCache.IsMap()) return hVariablesCache;
  Sanear();
  CapasVariables::Fuentes f;
  f.hConector = oConectorDatos ? oConectorDatos->GetVariables() : oEstado_->hVacio;
  if (!f.hConector.IsMap()) f.hConector = oEstado_->hVacio;
  f.hCambios = VariablesDataVarRuntime();
  f.nVersionCambios = oEstado_->nVersionCambios;
  f.hUserVars = Opcion(hOpciones, oEstado_->oUserVars, opcion::hUserVars);
  // User variables enter the set evaluated, and may read the record's state.
  if (f.hUserVars.IsMap() && f.hUserVars.Len() > 0) SincronizarEstadoEvaluador();
  f.hAcumVars = Opcion(hOpciones, oEstado_->oAcumVars, opcion::hAcumVars);
  f.nVersionOpciones = oEstado_->nVersionOpciones;
  f.hAcumuladores = hAcumuladores;
  f.nVersionAcumuladores = oEstado_->nVersionAcumuladores;
  f.aMarcos = aVariablesLocales.ListPtr();
  f.oEvaluador = oEvaluador.get();
  hVariablesCache = oEstado_->oCompleto.Construir(f);
  oEstado_->lResueltasSucias = true;
  return hVariablesCache;
}

// Layers 1, 2 and 3, the accumulators under their own keys and the frames:
// the set an accumulation reads when no variable set is cached.
const Value& TContextoEjecucion::VariablesAcumulacion() {
  if (hVariablesCache.IsMap()) return hVariablesCache;
  Sanear();
  CapasVariables::Fuentes f;
  f.hConector = oConectorDatos ? oConectorDatos->GetVariables() : oEstado_->hVacio;
  if (!f.hConector.IsMap()) f.hConector = oEstado_->hVacio;
  f.hCambios = VariablesDataVarRuntime();
  f.nVersionCambios = oEstado_->nVersionCambios;
  f.hUserVars = Opcion(hOpciones, oEstado_->oUserVars, opcion::hUserVars);
  f.nVersionOpciones = oEstado_->nVersionOpciones;
  f.hAcumuladores = hAcumuladores;
  f.nVersionAcumuladores = oEstado_->nVersionAcumuladores;
  f.aMarcos = aVariablesLocales.ListPtr();
  return oEstado_->oReducido.Construir(f);
}

// The variable set for an evaluation about to be forwarded, which may resolve
// formula variables in the evaluator.
const Value& TContextoEjecucion::VariablesParaEvaluar() {
  oEstado_->lResueltasSucias = true;
  return VariablesVigentes();
}

Value TContextoEjecucion::GetData() const {
  if (!oConectorDatos) return Value::NewMap();
  const Value& datos = oConectorDatos->GetData();
  return datos.IsMap() ? datos : Value::NewMap();
}

const Value& TContextoEjecucion::VariablesDataVarRuntime() {
  int64_t posicion = nIndiceRegistro >= 0 ? nIndiceRegistro
                     : nUltimoRegistroConsumido >= 0
                         ? nUltimoRegistroConsumido
                         : std::max<int64_t>(0, Entero(hOpciones.Get(opcion::nRegistroBase)));
  const Value& lista = Opcion(hOpciones, oEstado_->oCambios, opcion::aDataVarChangesRuntime);
  if (!lista.IsList()) return oEstado_->hSinCambios;
  const List& cambios = lista.AsList();
  int64_t total = static_cast<int64_t>(cambios.size());
  Estado& estado = *oEstado_;

  if (total != nDataVarChangesCount) {
    if (hDataVarRuntimeCache.Len() > 0) {
      hDataVarRuntimeCache = Value::NewMap();
      ++estado.nVersionCambios;
    }
    nDataVarChangeCursor = 0;
    nDataVarActiveIndex = -1;
    lDataVarChangesOrdered.reset();
    estado.oDesordenados = CambiosDesordenados();
    nDataVarChangesCount = total;
  }
  if (!lDataVarChangesOrdered.has_value()) {
    bool ordenada = true;
    int64_t anterior = -1;
    for (const Value& e : cambios) {
      if (!e.IsMap()) continue;
      int64_t indice = IndiceCambio(e);
      if (indice < anterior) {
        ordenada = false;
        break;
      }
      anterior = indice;
    }
    lDataVarChangesOrdered = ordenada;
  }

  if (*lDataVarChangesOrdered) {
    if (posicion < nDataVarActiveIndex) {
      // Back before the last position: apply from the first entry again, into a
      // new map that replaces the overlay only when its keys differ.
      Value nuevo = Value::NewMap();
      int64_t cursor = 0;
      for (; cursor < total; ++cursor) {
        const Value& e = cambios[static_cast<size_t>(cursor)];
        if (!e.IsMap()) continue;
        if (IndiceCambio(e) > posicion) break;
        AplicarCambio(e, nuevo.AsMap());
      }
      nDataVarChangeCursor = cursor;
      if (MismasClaves(nuevo.AsMap(), hDataVarRuntimeCache.AsMap())) {
        Map& actual = hDataVarRuntimeCache.AsMap();
        for (size_t i = 0; i < actual.size(); ++i) actual.ValueAt(i) = nuevo.AsMap().ValueAt(i);
      } else {
        hDataVarRuntimeCache = nuevo;
      }
      ++estado.nVersionCambios;
    } else {
      bool aplicado = false;
      while (nDataVarChangeCursor < total) {
        const Value& e = cambios[static_cast<size_t>(nDataVarChangeCursor)];
        if (e.IsMap()) {
          if (IndiceCambio(e) > posicion) break;
          AplicarCambio(e, hDataVarRuntimeCache.AsMap());
          aplicado = true;
        }
        ++nDataVarChangeCursor;
      }
      if (aplicado) ++estado.nVersionCambios;
    }
  } else {
    if (!estado.oDesordenados.Preparado(lista)) estado.oDesordenados.Preparar(lista);
    if (estado.oDesordenados.Aplicar(posicion, hDataVarRuntimeCache)) ++estado.nVersionCambios;
  }
  nDataVarActiveIndex = posicion;
  return hDataVarRuntimeCache;
}

TContextoEjecucion& TContextoEjecucion::PushVariablesLocales(const Value& frame) {
  Sanear();
  aVariablesLocales.Push(frame.IsMap() ? frame : Value::NewMap());
  InvalidarVariables();
  return *this;
}

TContextoEjecucion& TContextoEjecucion::PopVariablesLocales() {
  Sanear();
  List& marcos = aVariablesLocales.AsList();
  if (marcos.empty()) return *this;
  marcos.Items().pop_back();
  InvalidarVariables();
  return *this;
}

TContextoEjecucion& TContextoEjecucion::SetEstadoPagina(const Value& pagina, const Value& total) {
  nPaginaActual = std::max<int64_t>(1, Entero(pagina));
  nTotalPaginas = total.IsNil() ? 1 : std::max<int64_t>(1, Entero(total));
  lEvaluatorStateSynchronized = false;
  InvalidarVariables();
  SincronizarEstadoEvaluador();
  return *this;
}

TContextoEjecucion& TContextoEjecucion::PushRegistroDetalle(const Value& registro,
                                                            const Value& indice, const Value& total,
                                                            const Value& anterior,
                                                            const Value& siguiente) {
  nIndiceRegistro = std::max<int64_t>(0, Entero(indice));
  nTotalRegistros = std::max<int64_t>(0, Entero(total));
  hRegistroAnterior = anterior.IsMap() ? anterior : oEstado_->hSinRegistro;
  hRegistroSiguiente = siguiente.IsMap() ? siguiente : oEstado_->hSinRegistro;
  // The state reaches the evaluator when a formula that reads it is evaluated.
  lEvaluatorStateSynchronized = false;
  PushVariablesLocales(registro);
  return *this;
}

TContextoEjecucion& TContextoEjecucion::PopRegistroDetalle() {
  PopVariablesLocales();
  nIndiceRegistro = -1;
  nTotalRegistros = 0;
  hRegistroAnterior = oEstado_->hSinRegistro;
  hRegistroSiguiente = oEstado_->hSinRegistro;
  lEvaluatorStateSynchronized = false;
  return *this;
}

void TContextoEjecucion::SincronizarEstadoEvaluador(const Value& estadoExtra) {
  if (!oEvaluador) return;
  bool extra = estadoExtra.IsMap();
  if (!extra && lEvaluatorStateSynchronized) return;
  // The state is sent for every detail record: its map is made once and its
  // values are written in place right before each send.
  Value& plano = oEstado_->hEstadoPlano;
  if (!plano.IsMap()) {
    plano = Value::NewMap();
    for (const char* clave :
         {"nPaginaActual", "nTotalPaginas", "lTotalPaginasConocido", "nIndiceRegistro",
          "nTotalRegistros", "hRegistroAnterior", "hRegistroSiguiente", "hPaginacionPorClave"}) {
      plano.AsMap().Append(KeyText(clave), Value());
    }
  }
  Sanear();
  const Value* conocido =
      oEstado_->oConocido.Buscar(hOpciones.AsMap(), opcion::lTotalPaginasConocido);
  const Value& porClave =
      Opcion(hOpciones, oEstado_->oPorClave, opcion::hPaginacionPorClaveRuntime);
  Map& m = plano.AsMap();
  m.ValueAt(0) = Value(nPaginaActual);
  m.ValueAt(1) = Value(nTotalPaginas);
  m.ValueAt(2) = Value(!conocido || (conocido->IsLogical() && conocido->Bool()));
  m.ValueAt(3) = Value(nIndiceRegistro);
  m.ValueAt(4) = Value(nTotalRegistros);
  m.ValueAt(5) = hRegistroAnterior;
  m.ValueAt(6) = hRegistroSiguiente;
  m.ValueAt(7) = porClave.IsMap() ? porClave : oEstado_->hSinRegistro;
  if (extra) {
    Value conExtra = Value::NewMap();
    conExtra.AsMap().Reserve(m.size() + estadoExtra.Len());
    for (const Map::Entry& e : m) conExtra.AsMap().Append(e.key, e.value);
    for (const Map::Entry& e : estadoExtra.AsMap()) conExtra.AsMap().SetKey(e.key, e.value);
    oEvaluador->SetEstadoEjecucion(conExtra);
  } else {
    oEvaluador->SetEstadoEjecucion(plano);
  }
  oEstado_->lResueltasSucias = false;  // sending the state clears the resolved variables too
  lEvaluatorStateSynchronized = !extra;
}

// ---------------------------------------------------------------------------
// Evaluation

Value TContextoEjecucion::EvaluarFormula(const Value& formula) {
  SincronizarEstadoEvaluador();
  if (!oEvaluador) return formula;
  Value variables = VariablesParaEvaluar();
  return oEvaluador->Evaluar(formula, variables);
}

Value TContextoEjecucion::EvaluarTexto(const Value& texto) {
  SincronizarEstadoEvaluador();
  if (!oEvaluador) return texto;
  Value variables = VariablesParaEvaluar();
  return oEvaluador->EvaluarTexto(texto, variables);
}

Value TContextoEjecucion::CompilarPlanFormula(const Value& formula) {
  if (!oEvaluador) return Value();
  return FormulaPlan::AsValue(oEvaluador->CompileFormulaPlan(formula));
}

Value TContextoEjecucion::EvaluarPlanFormula(const Value& plan, const Value& formula) {
  if (!oEvaluador) return formula;
  FormulaPlanRef compilado = PlanDeValor(plan);
  // Most cells read fields only: the record's state is sent for those that read it.
  if (!compilado || oEvaluador->PlanLeeEstado(*compilado)) SincronizarEstadoEvaluador();
  // Held while the evaluator reads it: nothing changes the context meanwhile.
  const Value& variables = VariablesParaEvaluar();
  oEvaluador->ResetLastError();
  if (compilado) return oEvaluador->EvaluateFormulaPlan(compilado, variables);
  return oEvaluador->Evaluar(formula, variables);
}

void TContextoEjecucion::EvaluarPlanFormulaConEstado(const Value& plan, const Value& formula,
                                                     Value& valor, bool& lError, Value& cError) {
  static const Value kSinError("");
  if (!oEvaluador) {
    valor = formula;
    lError = false;
    cError = kSinError;
    return;
  }
  oEvaluador->ResetLastError();
  valor = EvaluarPlanFormula(plan, formula);
  lError = oEvaluador && oEvaluador->EsResultadoError(formula, valor);
  if (!lError) {
    cError = kSinError;
    return;
  }
  std::string texto = FormulaString(Value(oEvaluador->GetLastError()));
  AddAviso(Value("Error de formula: " + FormulaString(formula) + " -> " + texto));
  cError = Value(texto);
}

Value TContextoEjecucion::EvaluarPlanFormulaConEstado(const Value& plan, const Value& formula) {
  Value valor, cError;
  bool lError = false;
  EvaluarPlanFormulaConEstado(plan, formula, valor, lError, cError);
  return Value::NewMap({{"valor", valor}, {"lError", lError}, {"cError", cError}});
}

Value TContextoEjecucion::EvaluarFormulaConEstado(const Value& formula) {
  return EvaluarPlanFormulaConEstado(Value(), formula);
}

Value TContextoEjecucion::EvaluarCondicionConEstado(const Value& condicion,
                                                    const Value& estadoExtra) {
  if (!oEvaluador) {
    return Value::NewMap({{"lVisible", true}, {"cMotivo", ""}, {"lError", false}, {"cError", ""}});
  }
  // The variables are taken under the plain state, before the extra state is
  // sent: the cached set must never keep user variables evaluated under a
  // state that holds for this one condition only.
  SincronizarEstadoEvaluador();
  Value variables = VariablesParaEvaluar();
  SincronizarEstadoEvaluador(estadoExtra);
  oEvaluador->ResetLastError();
  Value respuesta = oEvaluador->EvaluarCondicion(condicion, variables);
  if (!respuesta.IsMap()) {
    respuesta = Value::NewMap({{"lVisible", false}, {"cMotivo", "condicion no valida"}});
  }
  bool error = oEvaluador->EsResultadoError(condicion, respuesta.Get("lVisible", Value(false)));
  std::string texto;
  if (error) {
    texto = FormulaString(Value(oEvaluador->GetLastError()));
    respuesta.Set("lVisible", Value(false));
    respuesta.Set("cMotivo", Value("condicion no valida"));
  }
  respuesta.Set("lError", Value(error));
  respuesta.Set("cError", Value(texto));
  SincronizarEstadoEvaluador();
  return respuesta;
}

Value TContextoEjecucion::EvaluarCondicion(const Value& condicion) {
  return EvaluarCondicionConEstado(condicion, Value());
}

bool TContextoEjecucion::CumpleCondicionConEstado(const Value& condicion,
                                                  const Value& estadoExtra) {
  Value respuesta = EvaluarCondicionConEstado(condicion, estadoExtra);
  const Value& visible = respuesta.Get("lVisible");
  return visible.IsLogical() && visible.Bool();
}

bool TContextoEjecucion::CumpleCondicion(const Value& condicion) {
  SincronizarEstadoEvaluador();
  if (!oEvaluador) return true;
  Value variables = VariablesParaEvaluar();
  return oEvaluador->CumpleCondicion(condicion, variables);
}

// ---------------------------------------------------------------------------
// Bookkeeping, mode and progress

void TContextoEjecucion::AddAviso(const Value& texto) {
  Sanear();
  aAvisos.Push(texto.IsText() ? texto : Value(FormulaString(texto)));
}

void TContextoEjecucion::AddNota(const Value& texto) {
  AddAviso(texto);
  aNotas_.push_back(aAvisos.Len() - 1);
}

void TContextoEjecucion::DeshacerAvisos(size_t marca) {
  if (!aAvisos.IsList()) return;
  List& avisos = aAvisos.AsList();
  if (avisos.size() > marca) avisos.Resize(marca);
  while (!aNotas_.empty() && aNotas_.back() >= marca) aNotas_.pop_back();
}

void TContextoEjecucion::DescartarObjeto(const KXObject* /*objeto*/, const Value& motivo) {
  Sanear();
  aDescartados.Push(Value::NewMap(
      {{"id", ""}, {"tipo", ""}, {"nombre", ""}, {"motivo", motivo}, {"condicion", ""}}));
}

bool TContextoEjecucion::CapaActiva(const KXObject* /*objeto*/) const {
  return true;
}

TContextoEjecucion& TContextoEjecucion::SetErrorCriticoComposicion(const Value& mensaje) {
  std::string texto(AllTrim(FormulaString(mensaje)));
  if (!cErrorCriticoComposicion.empty() || texto.empty()) return *this;
  cErrorCriticoComposicion = texto;
  AddAviso(Value(texto));
  return *this;
}

std::string TContextoEjecucion::GetModoEjecucion() const {
  const Value& modo = Opcion(hOpciones, oEstado_->oModo, opcion::modoEjecucion);
  return modo.IsText() ? std::string(modo.Str()) : std::string("real");
}

bool TContextoEjecucion::EsModoDisenador() const {
  // Asked by every object rendered: read in place, without a copy of the text.
  const Value& modo = Opcion(hOpciones, oEstado_->oModo, opcion::modoEjecucion);
  return modo.IsText() && modo.Str() == "disenador";
}

TContextoEjecucion& TContextoEjecucion::SetUltimaPaginaTabla(int ultima) {
  ultima = ultima < 0 ? -1 : ultima > 0 ? 1 : 0;
  if (ultima == nUltimaPaginaTabla) return *this;
  nUltimaPaginaTabla = ultima;
  if (oEvaluador) oEvaluador->SetUltimaPaginaTabla(ultima);
  // User variables kept evaluated may have read LASTPAGE.
  InvalidarVariables();
  return *this;
}

bool TContextoEjecucion::EsUltimaPagina() const {
  const Value& conocido = hOpciones.Get(opcion::lTotalPaginasConocido);
  if (conocido.IsLogical() ? !conocido.Bool() : !conocido.IsNil()) return false;
  const Value& u = hOpciones.Get(opcion::nUltimaPaginaRuntime);
  const int64_t ultima = u.IsNumber() ? std::max<int64_t>(0, u.Int()) : 0;
  return nPaginaActual >= (ultima > 0 ? std::min(ultima, nTotalPaginas) : nTotalPaginas);
}

bool TContextoEjecucion::FormulaLeeSumaOVariable(std::string_view formula) const {
  const Map* usuario = HGet(hOpciones, opcion::hUserVars).MapPtr();
  return AlgunNombreDeFormula(formula, [&](std::string_view nombre, bool llamada) {
    if (NombraVariableFormula(nombre) && (!llamada || nombre.front() == '@')) return true;
    if (llamada || !usuario) return false;
    const std::string clave = ClaveSinMayusculas(nombre);
    for (const Map::Entry& e : *usuario)
      if (CoincideSinMayusculas(e.key.Str(), clave)) return true;
    return false;
  });
}

void TContextoEjecucion::MarcarSumasLeidas(std::string_view formula,
                                           std::vector<char>& leidas) const {
  const std::vector<AccumulatorRuntimePlan>& planes = aAccumulatorRuntimePlans;
  leidas.resize(planes.size(), 0);
  const Map* usuario = HGet(hOpciones, opcion::hUserVars).MapPtr();
  std::vector<char> vistas(usuario ? usuario->size() : 0, 0);
  // Each formula reached is read once: a variable or sum already met adds nothing.
  std::vector<std::string> pendientes{std::string(formula)};
  auto variable = [&](std::string_view nombre) {
    if (!usuario) return;
    const std::string clave = ClaveSinMayusculas(nombre);
    for (size_t k = 0; k < usuario->size(); ++k) {
      if (vistas[k] || !CoincideSinMayusculas(usuario->EntryAt(k).key.Str(), clave)) continue;
      vistas[k] = 1;
      pendientes.push_back(FormulaString(HGet(usuario->ValueAt(k), "formula")));
    }
  };
  auto suma = [&](std::string_view nombre) {
    const std::string clave = ClaveSinMayusculas(std::string("SUM.").append(nombre));
    for (size_t k = 0; k < planes.size(); ++k) {
      if (leidas[k] || !CoincideSinMayusculas(planes[k].cClave, clave)) continue;
      leidas[k] = 1;
      pendientes.push_back(planes[k].cFormula);
    }
  };
  while (!pendientes.empty()) {
    const std::string texto = std::move(pendientes.back());
    pendientes.pop_back();
    AlgunNombreDeFormula(texto, [&](std::string_view nombre, bool llamada) {
      if (nombre.front() == '@') {
        // "@x" reads the user variable x, else the sum x.
        variable(nombre.substr(1));
        suma(nombre.substr(1));
      } else if (llamada) {
        // A function's name.
      } else if (TienePrefijoVariableFormula(nombre)) {
        // Names come without blanks: the four letters before the dot say which.
        if (EqualsIgnoreCase(nombre.substr(0, 4), "VAR."))
          variable(nombre.substr(4));
        else
          suma(nombre.substr(4));
      } else {
        variable(nombre);
      }
      return false;
    });
  }
}

bool TContextoEjecucion::NombraSumaLeida(const Value& nombres,
                                         const std::vector<char>& leidas) const {
  const List* lista = nombres.ListPtr();
  if (!lista) return false;
  for (const Value& nombre : *lista) {
    if (!nombre.IsText() || nombre.Str().empty()) continue;
    const std::string& clave = ClaveReset(nombre.Str());
    for (size_t k = 0; k < aAccumulatorRuntimePlans.size() && k < leidas.size(); ++k)
      if (leidas[k] && aAccumulatorRuntimePlans[k].cClave == clave) return true;
  }
  return false;
}

bool TContextoEjecucion::TieneProgreso() const {
  const Value& activo = hOpciones.Get(opcion::lProgressActive);
  return activo.IsLogical() && activo.Bool();
}

bool TContextoEjecucion::InformarRegistroExaminado(int64_t n) {
  return LlamarProgreso(Opcion(hOpciones, oEstado_->oProgresoRegistro, opcion::bProgressRecord), n);
}

bool TContextoEjecucion::InformarPaginaGenerada(int64_t n) {
  return LlamarProgreso(hOpciones.Get(opcion::bProgressPage), n);
}

}  // namespace kx
