// The evaluator's execution state and the engine functions that read it.
#include <algorithm>

#include "Platform.h"
#include "RegistrosDetalle.h"
#include "RuntimeOptions.h"
#include "TEvaluadorFormulas.h"
#include "TEvaluadorFormulasInterno.h"

namespace kx {

using namespace evaluador;

namespace {

// Library functions whose answer depends on more than their arguments: a
// running sum over them is never memoised.
bool EsFuncionImpura(std::string_view name) {
  return name == "DATE" || name == "NOW" || name == "HOUR" || name == "LOADFILE" ||
         name == "HB_MEMOREAD";
}

// The variables with every entry whose key matches a record key (trimmed,
// any letter case) left out, followed by the record's entries.
Value HashMergeVariables(const Map& vars, const Map& registro) {
  Map claves;
  claves.Reserve(registro.size());
  for (const Map::Entry& e : registro) claves.Set(ClaveSinMayusculas(e.key.Str()), true);
  Value out = Value::NewMap();
  Map& m = out.AsMap();
  m.Reserve(vars.size() + registro.size());
  for (const Map::Entry& e : vars) {
    if (!claves.Has(ClaveSinMayusculas(e.key.Str()))) m.Append(e.key, e.value);
  }
  for (const Map::Entry& e : registro) m.Append(e.key, e.value);
  return out;
}

bool EsMapaNoVacio(const Value& v) {
  return v.IsMap() && !v.AsMap().empty();
}

// The plan's value depends only on the fields it names (none of them user
// variables or accumulators) and on no engine state; its names are collected.
bool LeeSoloCampos(const FormulaPlan& n, std::vector<std::string>& campos) {
  switch (n.Tipo()) {
    case TipoPlan::kEngineFunction:
      return false;
    case TipoPlan::kVariable:
    case TipoPlan::kAtomo:
      if (TienePrefijoVariableFormula(n.Nombre()) || !n.Hijos().empty()) return false;
      campos.emplace_back(n.Nombre());
      return true;
    case TipoPlan::kFunction:
      if (EsFuncionImpura(n.Nombre())) return false;
      break;
    default:
      break;
  }
  for (const FormulaPlanRef& h : n.Hijos()) {
    if (!LeeSoloCampos(*h, campos)) return false;
  }
  return true;
}

}  // namespace

bool TEvaluadorFormulas::EsFuncionInternaMotor(std::string_view name) {
  return CodigoFuncionMotor(name) != kNinguna;
}

Value TEvaluadorFormulas::EstadoEjecucionPorDefecto() {
  return Value::NewMap({
      {"nPaginaActual", 1},
      {"nTotalPaginas", 1},
      {"lTotalPaginasConocido", true},
      {"lLastPageDisponible", true},
      {"nIndiceRegistro", -1},
      {"nTotalRegistros", 0},
      {"hRegistroAnterior", Value::NewMap()},
      {"hRegistroSiguiente", Value::NewMap()},
      {"hPaginacionPorClave", Value::NewMap()},
  });
}

TEvaluadorFormulas& TEvaluadorFormulas::SetEstadoEjecucion(const Value& hEstado) {
  const Map* m = hEstado.MapPtr();
  if (m && (m != pEstadoEntrada || m->KeyVersion() != nEstadoEntradaVersion)) {
    pEstadoEntrada = m;
    nEstadoEntradaVersion = m->KeyVersion();
    aEstadoEntradaPos.clear();
    for (const Map::Entry& e : *m)
      aEstadoEntradaPos.push_back(hEstadoPorDefecto.AsMap().IndexOf(e.key.Str()));
    // Whether the given keys are all among the nine, and which of the nine they fill.
    lEstadoEntradaPorPosicion = std::find(aEstadoEntradaPos.begin(), aEstadoEntradaPos.end(),
                                          Map::npos) == aEstadoEntradaPos.end();
    aEstadoEntradaCubre.assign(kClavesEstado, false);
    if (lEstadoEntradaPorPosicion)
      for (size_t pos : aEstadoEntradaPos) aEstadoEntradaCubre[pos] = true;
  }
  // The context sends the state on every record: a state map that holds only
  // the nine keys and is nobody else's is reset in place, each key the state
  // given does not fill back to its default.
  Map* estado = hEstadoEjecucion.MapPtr();
  const Map& defecto = hEstadoPorDefecto.AsMap();
  const bool enSuSitio = estado && estado->RefCount() == 1 && estado->size() == kClavesEstado;
  if (enSuSitio) {
    const bool cubre = m && lEstadoEntradaPorPosicion;
    for (size_t i = 0; i < kClavesEstado; ++i)
      if (!cubre || !aEstadoEntradaCubre[i]) estado->ValueAt(i) = defecto.ValueAt(i);
  } else {
    hEstadoEjecucion = Value(MakeRef<Map>(defecto));
    estado = hEstadoEjecucion.MapPtr();
  }
  if (m) {
    // Keys outside the nine make a larger state, which only the keyed road builds.
    const bool porPosicion = estado->size() == kClavesEstado && lEstadoEntradaPorPosicion;
    for (size_t i = 0; i < m->size(); ++i) {
      if (porPosicion) {
        estado->ValueAt(aEstadoEntradaPos[i]) = m->ValueAt(i);
      } else {
        estado->SetKey(m->EntryAt(i).key, m->ValueAt(i));
      }
    }
  }
  DecodificarEstado();
  return ClearResolvedVariableCache();
}

void TEvaluadorFormulas::DecodificarEstado() {
  // Far beyond any real page or record count, and far enough from the int64
  // limits that I + 1 and N - 1 cannot overflow.
  constexpr int64_t kLimite = int64_t{1} << 62;
  auto entero = [&](std::string_view clave, int64_t def) {
    return std::clamp(EnteroDe(hEstadoEjecucion.Get(clave), def), -kLimite, kLimite);
  };
  const Value& h = hEstadoEjecucion;
  const Map& m = h.AsMap();
  if (m.size() == kClavesEstado) {
    // The nine keys in their default places: read by position.
    auto enteroEn = [&](size_t i, int64_t def) {
      return std::clamp(EnteroDe(m.ValueAt(i), def), -kLimite, kLimite);
    };
    oEstado.nPagina = std::max<int64_t>(1, enteroEn(0, 1));
    oEstado.nTotalPaginas = std::max<int64_t>(1, enteroEn(1, 1));
    oEstado.lTotalConocido = m.ValueAt(2).Bool();
    oEstado.lLastPageDisponible = m.ValueAt(3).Bool();
    oEstado.nIndice = enteroEn(4, 0);
    oEstado.nTotalRegistros = enteroEn(5, 0);
    oEstado.hAnterior = m.ValueAt(6);
    oEstado.hSiguiente = m.ValueAt(7);
    oEstado.hPaginas = m.ValueAt(8);
    return;
  }
  oEstado.nPagina = std::max<int64_t>(1, entero("nPaginaActual", 1));
  oEstado.nTotalPaginas = std::max<int64_t>(1, entero("nTotalPaginas", 1));
  oEstado.lTotalConocido = h.Get("lTotalPaginasConocido").Bool();
  oEstado.lLastPageDisponible = h.Get("lLastPageDisponible").Bool();
  oEstado.nIndice = entero("nIndiceRegistro", 0);
  oEstado.nTotalRegistros = entero("nTotalRegistros", 0);
  oEstado.hAnterior = h.Get("hRegistroAnterior");
  oEstado.hSiguiente = h.Get("hRegistroSiguiente");
  oEstado.hPaginas = h.Get("hPaginacionPorClave");
}

std::string_view TEvaluadorFormulas::TextoArgumento(const FormulaPlan& n, size_t i) const {
  const List* l = n.aArgumentos_.ListPtr();
  return l && i < l->size() ? (*l)[i].Str() : std::string_view();
}

// The routes of an engine function's argument texts, resolved on first use.
const FormulaPlan* TEvaluadorFormulas::RutaArgumento(const FormulaPlan& n, size_t i) {
  const List* l = n.aArgumentos_.ListPtr();
  if (!l || i >= l->size()) return nullptr;
  if (n.aRutas_.size() != l->size()) {
    std::vector<FormulaPlanRef> rutas;
    rutas.reserve(l->size());
    for (const Value& a : *l) rutas.push_back(Ruta(a.Str()));
    n.aRutas_ = std::move(rutas);
  }
  return n.aRutas_[i].get();
}

// A missing argument counts as the empty text.
Value TEvaluadorFormulas::EvaluarArgumento(const FormulaPlan& n, size_t i, const Map& vars) {
  const FormulaPlan* ruta = RutaArgumento(n, i);
  return ruta ? EvaluarNodo(*ruta, vars) : Value("");
}

Value TEvaluadorFormulas::ResolverFuncionInternaMotor(const FormulaPlan& n, const Map& vars) {
  const Estado& e = oEstado;
  const bool lUltimoRegistro =
      e.nTotalRegistros > 0 && e.nIndice >= 0 && e.nIndice == e.nTotalRegistros - 1;
  switch (n.nCodigo_) {
    case kPage:
      return e.nPagina;
    case kPages:
    case kTotalPages:
      return e.nTotalPaginas;
    case kLastPage:
      if (!e.lLastPageDisponible) return false;
      if (nUltimaPaginaTabla >= 0) return nUltimaPaginaTabla == 1;
      if (!e.lTotalConocido) return lUltimoRegistro;
      return e.nPagina >=
             (nUltimaPagina > 0 ? std::min(nUltimaPagina, e.nTotalPaginas) : e.nTotalPaginas);
    case kPageBy:
      return PageBy(n, vars);
    case kTotalPagesBy:
      return TotalPagesBy(n, vars);
    case kLastPageBy:
      return PageBy(n, vars) >= TotalPagesBy(n, vars);
    case kAskString:
      return AskString(n, vars);
    case kProjectPath:
      return ProjectPath(n, vars);
    case kSumMotor:
      return Sum(n, vars);
    case kRecno:
      return e.nIndice >= 0 ? e.nIndice + 1 : 0;
    case kRecCount:
      return std::max<int64_t>(0, e.nTotalRegistros);
    case kIsFirstRecord:
      return e.nIndice == 0;
    case kIsLastRecord:
      return lUltimoRegistro;
    case kPrevious:
      return EvaluarExpresionRegistroRelativo(n, vars, e.hAnterior);
    case kNext:
      return EvaluarExpresionRegistroRelativo(n, vars, e.hSiguiente);
    case kGroupChanged:
      return GroupChanged(n, vars);
    default:
      return Value();
  }
}

// The running sum of the expression over the detail records up to and
// including the current one. An expression that reads only fields present in
// a record gives that record the same value whatever the other variables, so
// its running totals are kept per expression and every call costs only the
// records not seen before; any other record is evaluated with the variables
// and its fields, as each call would.
Value TEvaluadorFormulas::Sum(const FormulaPlan& n, const Map& vars) {
  if (AllTrim(TextoArgumento(n, 0)).empty()) return 0;
  const FormulaPlan& ruta = *RutaArgumento(n, 0);
  const Value* registros = HashGet(hOpciones, opcion::aRegistrosDetalleRuntime);
  const ListaRegistros lista(registros ? *registros : kNil);
  if (lista.empty()) {
    Value v = EvaluarNodo(ruta, vars);
    return EsNumericoValor(v) ? LeerNumero(v) : Value(0);
  }
  const int64_t i = oEstado.nIndice;
  const size_t nCuenta =
      i >= 0 ? static_cast<size_t>(std::min<int64_t>(i + 1, static_cast<int64_t>(lista.size())))
             : lista.size();

  MemoSuma& memo = oMemoSumas[&ruta];
  if (!memo.oRuta || !memo.aRegistros.SameRef(*registros) || memo.nRegistros != lista.size()) {
    memo = MemoSuma();
    memo.oRuta = FormulaPlanRef(&ruta);
    memo.aRegistros = *registros;
    memo.nRegistros = lista.size();
    memo.lSoloCampos = LeeSoloCampos(ruta, memo.aCampos);
  }
  Value total(0);
  size_t nDesde = 0;
  if (memo.lSoloCampos) {
    ExtenderMemoSuma(memo, ruta, nCuenta);
    nDesde = std::min(nCuenta, memo.aTotales.size());
    if (nDesde > 0) {
      total = memo.aTotales[nDesde - 1];
      // The latest error the memoised records made is the one a fresh sum leaves.
      auto it = std::upper_bound(memo.aErrores.begin(), memo.aErrores.end(), nDesde - 1,
                                 [](size_t k, const auto& e) { return k < e.first; });
      if (it != memo.aErrores.begin()) ErrorValue(std::prev(it)->second);
    }
  }
  for (size_t k = nDesde; k < nCuenta; ++k) {
    const Value elemento = lista[k];
    const Map* registro = elemento.MapPtr();
    if (!registro) continue;
    // Nothing evaluated changes the variables, so a copy of the top map holds
    // the same values as a deep one.
    Map copia(vars);
    for (const Map::Entry& e : *registro) copia.SetKey(e.key, e.value);
    Value v = EvaluarNodo(ruta, copia);
    if (EsNumericoValor(v)) total = Add(total, LeerNumero(v));
  }
  return EnteroSiIntegral(total);
}

void TEvaluadorFormulas::ExtenderMemoSuma(MemoSuma& memo, const FormulaPlan& ruta, size_t hasta) {
  const ListaRegistros lista(memo.aRegistros);
  while (!memo.lDetenido && memo.aTotales.size() < hasta) {
    const size_t k = memo.aTotales.size();
    Value anterior = k > 0 ? memo.aTotales[k - 1] : Value(0);
    const Value elemento = lista[k];
    const Map* registro = elemento.MapPtr();
    if (!registro) {
      memo.aTotales.push_back(anterior);
      continue;
    }
    for (const std::string& campo : memo.aCampos) {
      if (!registro->Has(campo)) {
        memo.lDetenido = true;
        return;
      }
    }
    const uint64_t nErroresAntes = nErrores;
    Value v = EvaluarNodo(ruta, *registro);
    if (nErrores != nErroresAntes) memo.aErrores.emplace_back(k, Value(cLastError));
    memo.aTotales.push_back(EsNumericoValor(v) ? Add(anterior, LeerNumero(v)) : anterior);
  }
}

std::string TEvaluadorFormulas::ResolverClavePaginacion(const FormulaPlan& n, const Map& vars) {
  if (AllTrim(TextoArgumento(n, 0)).empty()) return "";
  Value v = EvaluarArgumento(n, 0, vars);
  constexpr std::string_view kNoEncontrada = "[Variable no encontrada: ";
  if (v.IsText() && StartsWith(v.Str(), kNoEncontrada) && EndsWith(v.Str(), "]")) {
    std::string_view x = v.Str().substr(kNoEncontrada.size());
    x.remove_suffix(1);
    std::string cNombre = std::string("VAR.").append(x);
    if (const Value* var = HashGet(vars, cNombre)) {
      Value valor = *var;  // the lookup's error stays the latest error
      v = ResolveVariableValue(cNombre, ClaveSinMayusculas(cNombre), valor, vars);
    }
  }
  if (v.IsLogical()) return v.Bool() ? "true" : "false";
  return ValorAString(v);
}

std::vector<int64_t> TEvaluadorFormulas::PaginasPorClave(std::string_view clave) const {
  std::vector<int64_t> aPaginas;
  const Value* entrada = HashGet(oEstado.hPaginas, clave);
  if (!entrada) return aPaginas;
  const Value* lista = entrada;
  if (entrada->IsMap() && entrada->Has("aPaginas")) lista = &entrada->AsMap().Get("aPaginas");
  if (!lista->IsList()) return aPaginas;
  for (const Value& p : lista->AsList()) {
    int64_t nPagina = EnteroDe(p, 0);
    if (nPagina > 0) aPaginas.push_back(nPagina);
  }
  std::sort(aPaginas.begin(), aPaginas.end());
  aPaginas.erase(std::unique(aPaginas.begin(), aPaginas.end()), aPaginas.end());
  return aPaginas;
}

int64_t TEvaluadorFormulas::PageBy(const FormulaPlan& n, const Map& vars) {
  std::vector<int64_t> aPaginas = PaginasPorClave(ResolverClavePaginacion(n, vars));
  auto it = std::find(aPaginas.begin(), aPaginas.end(), oEstado.nPagina);
  return it == aPaginas.end() ? 1 : (it - aPaginas.begin()) + 1;
}

int64_t TEvaluadorFormulas::TotalPagesBy(const FormulaPlan& n, const Map& vars) {
  std::vector<int64_t> aPaginas = PaginasPorClave(ResolverClavePaginacion(n, vars));
  return std::max<int64_t>(1, static_cast<int64_t>(aPaginas.size()));
}

Value TEvaluadorFormulas::AskString(const FormulaPlan& n, const Map& vars) {
  std::string cPregunta = ValorAString(EvaluarArgumento(n, 0, vars));
  std::string cRespuesta = ValorAString(EvaluarArgumento(n, 2, vars));
  Value maximo = EvaluarArgumento(n, 3, vars);
  int64_t nMaximo = EsNumericoValor(maximo) ? std::max<int64_t>(0, LeerNumero(maximo).Int()) : 0;
  const Value* respuestas = HashGet(hOpciones, opcion::hAskStringValues);
  if (respuestas && respuestas->IsMap()) {
    if (const Value* r = HashGet(respuestas->AsMap(), cPregunta)) cRespuesta = ValorAString(*r);
  }
  if (nMaximo > 0) return Value(Utf8Substr(cRespuesta, 1, nMaximo));
  return Value(cRespuesta);
}

Value TEvaluadorFormulas::ProjectPath(const FormulaPlan& n, const Map& vars) {
  auto leer = [&](std::string_view clave) {
    const Value* v = HashGet(hOpciones, clave);
    return std::string(AllTrim(v ? ValorAString(*v) : std::string()));
  };
  std::string cArchivo = leer(opcion::cProjectFilePath);
  std::string cCarpeta = leer(opcion::cProjectPath);
  std::string cNombre = leer(opcion::cProjectFileName);
  bool lArchivo = false;
  if (!AllTrim(TextoArgumento(n, 0)).empty()) {
    Value v = EvaluarArgumento(n, 0, vars);
    lArchivo = v.Bool() || (v.IsText() && ValorBooleanoCondicion(v.Str()) == true);
  }
  if (cCarpeta.empty() && !cArchivo.empty()) {
    size_t p = cArchivo.find_last_of(std::string{'/', platform::PathSeparator()});
    cCarpeta = p == std::string::npos ? std::string() : cArchivo.substr(0, p);
  }
  while (!cCarpeta.empty() && (cCarpeta.back() == '\\' || cCarpeta.back() == '/')) {
    cCarpeta.pop_back();
  }
  if (!cCarpeta.empty()) cCarpeta.push_back(platform::PathSeparator());
  if (!lArchivo) return Value(cCarpeta);
  if (!cArchivo.empty()) return Value(cArchivo);
  if (!cNombre.empty()) return Value(cCarpeta + cNombre);
  return Value(cCarpeta);
}

Value TEvaluadorFormulas::EvaluarExpresionRegistroRelativo(const FormulaPlan& n, const Map& vars,
                                                           const Value& registro) {
  if (AllTrim(TextoArgumento(n, 0)).empty() || !EsMapaNoVacio(registro)) return Value();
  Value combinadas = HashMergeVariables(vars, registro.AsMap());
  return EvaluarNodo(*RutaArgumento(n, 0), combinadas.AsMap());
}

Value TEvaluadorFormulas::GroupChanged(const FormulaPlan& n, const Map& vars) {
  if (AllTrim(TextoArgumento(n, 0)).empty()) return false;
  if (oEstado.nIndice <= 0 || !EsMapaNoVacio(oEstado.hAnterior)) return true;
  const FormulaPlan& ruta = *RutaArgumento(n, 0);
  Value actual = EvaluarNodo(ruta, vars);
  Value combinadas = HashMergeVariables(vars, oEstado.hAnterior.AsMap());
  Value anterior = EvaluarNodo(ruta, combinadas.AsMap());
  return !Equal(actual, anterior);
}

}  // namespace kx
