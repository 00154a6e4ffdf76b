#include "CapasVariables.h"

#include <algorithm>
#include <unordered_set>

#include "TEvaluadorFormulas.h"

namespace kx {

namespace {

// The integer part of a number, or of the number a text reads as; 0 otherwise.
int64_t Entero(const Value& v) {
  return v.IsNumber() ? v.Int() : ValueInt(v);
}

// The form in which keys are compared case-insensitively: trimmed, upper-cased.
std::string Normalizada(std::string_view clave) {
  return Upper(AllTrim(clave));
}

// The map now held has the keys of the one seen before (the same map with the
// same key version, or another map with the same keys in the same order).
bool MismasClavesQue(const Value& antes, uint64_t versionAntes, const Value& ahora) {
  if (antes.SameRef(ahora)) return ahora.AsMap().KeyVersion() == versionAntes;
  return MismasClaves(antes.AsMap(), ahora.AsMap());
}

// The "formula" of a user variable's definition; false for one that is no map.
Value FormulaDe(const Value& definicion) {
  return definicion.IsMap() ? definicion.Get("formula") : Value(false);
}

}  // namespace

bool MismasClaves(const Map& a, const Map& b) {
  // Copies of one map (every detail record of a run) share their key table.
  if (&a == &b || a.KeyTableIdentity() == b.KeyTableIdentity()) return true;
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const Value& x = a.EntryAt(i).key;
    const Value& y = b.EntryAt(i).key;
    // Short keys are held inline and long ones pooled: equal keys are mostly the same bits.
    if (!x.SameRef(y) && x.Str() != y.Str()) return false;
  }
  return true;
}

int64_t IndiceCambio(const Value& entrada) {
  return entrada.Has("nIndiceDetalle") ? Entero(entrada.Get("nIndiceDetalle")) : 0;
}

void AplicarCambio(const Value& entrada, Map& overlay) {
  if (const Map* vars = entrada.Get("hVariables").MapPtr()) {
    for (const Map::Entry& e : *vars) overlay.SetKey(e.key, e.value);
  }
}

// ---------------------------------------------------------------------------
// The layered variable set

// The value of an entry's source now.
const Value& CapasVariables::ValorDe(const Entrada& e, const Fuentes& f) {
  static const Value kCero(0);
  switch (e.origen) {
    case Origen::kConector:
      return f.hConector.AsMap().ValueAt(e.nPos);
    case Origen::kCambios:
      return f.hCambios.AsMap().ValueAt(e.nPos);
    case Origen::kFijo:
      return e.fijo;
    case Origen::kAcumulador: {
      const Value* v = e.oPosicion.Buscar(f.hAcumuladores.AsMap(), e.clave.Str());
      return v ? *v : kCero;
    }
    case Origen::kAcumuladorDirecto:
      return f.hAcumuladores.AsMap().ValueAt(e.nPos);
    case Origen::kMarco:
      return f.aMarcos->Items()[e.nMarco].AsMap().ValueAt(e.nPos);
  }
  return kNil;
}

// The entries of `previas` whose keys the layer does not name in any letter
// case, then the layer's own entries.
std::vector<CapasVariables::Entrada> CapasVariables::Fusionar(const std::vector<Entrada>& previas,
                                                              const Map& capa, Origen origen,
                                                              uint32_t nMarco) {
  std::vector<Entrada> out;
  out.reserve(previas.size() + capa.size());
  std::vector<std::string> normas;
  normas.reserve(capa.size());
  std::unordered_set<std::string_view> indice;
  indice.reserve(capa.size() * 2);
  for (const Map::Entry& e : capa) {
    normas.push_back(Normalizada(e.key.Str()));
  }
  for (const std::string& n : normas) indice.insert(n);
  for (const Entrada& e : previas) {
    if (!indice.contains(e.norma)) out.push_back(e);
  }
  for (size_t p = 0; p < capa.size(); ++p) {
    Entrada e;
    e.clave = capa.EntryAt(p).key;
    e.norma = std::move(normas[p]);
    e.origen = origen;
    e.nMarco = nMarco;
    e.nPos = static_cast<uint32_t>(p);
    out.push_back(std::move(e));
  }
  return out;
}

// Exact assignment: an exactly equal key keeps its place, any other is appended.
void CapasVariables::Asignar(std::vector<Entrada>& entradas,
                             std::unordered_map<std::string, size_t>& indice, Entrada nueva) {
  auto it = indice.find(std::string(nueva.clave.Str()));
  if (it != indice.end()) {
    entradas[it->second] = std::move(nueva);
    return;
  }
  indice.emplace(std::string(nueva.clave.Str()), entradas.size());
  entradas.push_back(std::move(nueva));
}

void CapasVariables::Olvidar() {
  aNiveles_.clear();
  hM5_ = Value();
  hM_ = Value();
}

// The set for the sources, built incrementally from the previous one.
const Value& CapasVariables::Construir(const Fuentes& f) {
  size_t n = f.aMarcos ? f.aMarcos->size() : 0;
  for (size_t j = 0; j < n; ++j) {
    // Frames enter as maps; one placed on the stack by other means counts as empty.
    if (!f.aMarcos->Items()[j].IsMap()) f.aMarcos->Items()[j] = Value::NewMap();
  }
  bool valoresConector = false;
  if (!BaseVigente(f, valoresConector)) ConstruirBase(f);
  if (aNiveles_.size() < n + 1) aNiveles_.resize(n + 1);
  for (size_t j = 1; j <= n; ++j) {
    const Value& marco = f.aMarcos->Items()[j - 1];
    Nivel& nivel = aNiveles_[j];
    bool vigente = nivel.nGeneracion != 0 &&
                   nivel.nGeneracionBase == aNiveles_[j - 1].nGeneracion &&
                   MismasClavesQue(nivel.hMarco, nivel.nClavesMarco, marco);
    if (vigente) {
      nivel.hMarco = marco;
      nivel.nClavesMarco = marco.AsMap().KeyVersion();
    } else {
      ConstruirNivel(j, marco);
    }
  }
  const Nivel& tope = aNiveles_[n];
  bool conEvaluador = f.oEvaluador != nullptr;
  if (!hM5_.IsMap() || nNivelSalida_ != n || nGeneracionSalida_ != tope.nGeneracion ||
      lSalidaConEvaluador_ != conEvaluador) {
    ConstruirSalida(f, n);
  } else {
    RefrescarValores(f, valoresConector);
  }
  nVistoCambios_ = f.nVersionCambios;
  nVistoAcumuladores_ = f.nVersionAcumuladores;
  EvaluarDesnudas(f);
  return hM_;
}

std::vector<Value> CapasVariables::FormulasDe(const Value& userVars) {
  std::vector<Value> formulas;
  if (const Map* m = userVars.MapPtr()) {
    formulas.reserve(m->size());
    for (const Map::Entry& def : *m) formulas.push_back(FormulaDe(def.value));
  }
  return formulas;
}

bool CapasVariables::MismasFormulas(const Value& userVars) const {
  const Map* m = userVars.MapPtr();
  const size_t n = m ? m->size() : 0;
  if (n != aFormulasUserVars_.size()) return false;
  for (size_t i = 0; i < n; ++i)
    if (!FormulaDe(m->ValueAt(i)).SameRef(aFormulasUserVars_[i])) return false;
  return true;
}

bool CapasVariables::BaseVigente(const Fuentes& f, bool& valoresConector) {
  if (aNiveles_.empty() || aNiveles_[0].nGeneracion == 0) return false;
  if (!MismaDefinicion(hUserVars_, nClavesUserVars_, f.hUserVars) ||
      !MismaDefinicion(hAcumVars_, nClavesAcumVars_, f.hAcumVars)) {
    return false;
  }
  // New options (every chunk of the page loop brings its own) that hand the
  // same definitions over, with the same formulas, leave the base standing.
  if (nVersionOpciones_ != f.nVersionOpciones) {
    if (!MismasFormulas(f.hUserVars)) return false;
    nVersionOpciones_ = f.nVersionOpciones;
  }
  if (!hCambios_.SameRef(f.hCambios) || nClavesCambios_ != f.hCambios.AsMap().KeyVersion()) {
    return false;
  }
  if (lReducido_ && (!hAcumuladores_.SameRef(f.hAcumuladores) ||
                     nClavesAcumuladores_ != f.hAcumuladores.AsMap().KeyVersion())) {
    return false;
  }
  if (hConector_.SameRef(f.hConector)) return nClavesConector_ == f.hConector.AsMap().KeyVersion();
  // A connector that answers a new map with the same keys changes values only.
  if (!MismasClaves(hConector_.AsMap(), f.hConector.AsMap())) return false;
  hConector_ = f.hConector;
  nClavesConector_ = f.hConector.AsMap().KeyVersion();
  valoresConector = true;
  return true;
}

void CapasVariables::ConstruirBase(const Fuentes& f) {
  hConector_ = f.hConector;
  nClavesConector_ = f.hConector.AsMap().KeyVersion();
  hCambios_ = f.hCambios;
  nClavesCambios_ = f.hCambios.AsMap().KeyVersion();
  hAcumuladores_ = f.hAcumuladores;
  nClavesAcumuladores_ = f.hAcumuladores.AsMap().KeyVersion();
  nVersionOpciones_ = f.nVersionOpciones;
  hUserVars_ = f.hUserVars;
  nClavesUserVars_ = ClavesDe(f.hUserVars);
  aFormulasUserVars_ = FormulasDe(f.hUserVars);
  hAcumVars_ = f.hAcumVars;
  nClavesAcumVars_ = ClavesDe(f.hAcumVars);

  std::vector<Entrada> entradas = Fusionar({}, f.hConector.AsMap(), Origen::kConector, 0);
  if (!f.hCambios.AsMap().empty()) {
    entradas = Fusionar(entradas, f.hCambios.AsMap(), Origen::kCambios, 0);
  }
  std::unordered_map<std::string, size_t> indice;
  indice.reserve(entradas.size() * 2);
  for (size_t i = 0; i < entradas.size(); ++i) {
    indice.emplace(std::string(entradas[i].clave.Str()), i);
  }
  if (const Map* userVars = f.hUserVars.MapPtr()) {
    for (const Map::Entry& def : *userVars) {
      if (!def.value.IsMap()) continue;
      Entrada e;
      e.clave = Value("VAR." + std::string(def.key.Str()));
      e.norma = Normalizada(e.clave.Str());
      e.origen = Origen::kFijo;
      e.fijo = Value(FormulaString(def.value.Get("formula")));
      Asignar(entradas, indice, std::move(e));
    }
  }
  if (lReducido_) {
    const Map& acumuladores = f.hAcumuladores.AsMap();
    for (size_t p = 0; p < acumuladores.size(); ++p) {
      Entrada e;
      e.clave = acumuladores.EntryAt(p).key;
      e.norma = Normalizada(e.clave.Str());
      e.origen = Origen::kAcumuladorDirecto;
      e.nPos = static_cast<uint32_t>(p);
      Asignar(entradas, indice, std::move(e));
    }
  } else if (const Map* acumVars = f.hAcumVars.MapPtr()) {
    for (const Map::Entry& def : *acumVars) {
      if (!def.value.IsMap()) continue;
      Entrada e;
      e.clave = Value("SUM." + std::string(def.key.Str()));
      e.norma = Normalizada(e.clave.Str());
      e.origen = Origen::kAcumulador;
      Asignar(entradas, indice, std::move(e));
    }
  }
  if (aNiveles_.empty()) aNiveles_.resize(1);
  aNiveles_[0].aEntradas = std::move(entradas);
  aNiveles_[0].nGeneracion = ++nGeneraciones_;
}

void CapasVariables::ConstruirNivel(size_t j, const Value& marco) {
  Nivel& nivel = aNiveles_[j];
  const Nivel& base = aNiveles_[j - 1];
  nivel.aEntradas =
      Fusionar(base.aEntradas, marco.AsMap(), Origen::kMarco, static_cast<uint32_t>(j - 1));
  nivel.hMarco = marco;
  nivel.nClavesMarco = marco.AsMap().KeyVersion();
  nivel.nGeneracionBase = base.nGeneracion;
  nivel.nGeneracion = ++nGeneraciones_;
}

void CapasVariables::ConstruirSalida(const Fuentes& f, size_t n) {
  const Nivel& tope = aNiveles_[n];
  nNivelSalida_ = n;
  nGeneracionSalida_ = tope.nGeneracion;
  lSalidaConEvaluador_ = f.oEvaluador != nullptr;
  hM5_ = Value::NewMap();
  Map& m5 = hM5_.AsMap();
  m5.Reserve(tope.aEntradas.size());
  aConector_.clear();
  aCambios_.clear();
  aAcumuladores_.clear();
  aMarcos_.clear();
  for (uint32_t pos = 0; pos < tope.aEntradas.size(); ++pos) {
    const Entrada& e = tope.aEntradas[pos];
    m5.Append(e.clave, ValorDe(e, f));
    switch (e.origen) {
      case Origen::kConector:
        aConector_.push_back(pos);
        break;
      case Origen::kCambios:
        aCambios_.push_back(pos);
        break;
      case Origen::kAcumulador:
      case Origen::kAcumuladorDirecto:
        aAcumuladores_.push_back(pos);
        break;
      case Origen::kMarco:
        aMarcos_.push_back(pos);
        break;
      case Origen::kFijo:
        break;
    }
  }
  aDesnudas_.clear();
  if (f.oEvaluador) {
    if (const Map* userVars = f.hUserVars.MapPtr()) {
      for (const Map::Entry& def : *userVars) {
        if (!def.value.IsMap() || m5.Has(def.key.Str())) continue;
        Desnuda d;
        d.clave = def.key;
        d.formula = Value(FormulaString(def.value.Get("formula")));
        d.lVacia = IsBlank(d.formula.Str());
        if (!d.lVacia) d.oPlan = f.oEvaluador->CompileFormulaPlan(d.formula);
        aDesnudas_.push_back(std::move(d));
      }
    }
  }
  if (aDesnudas_.empty()) {
    hM_ = hM5_;
    return;
  }
  hM_ = Value::NewMap();
  Map& m = hM_.AsMap();
  m.Reserve(m5.size() + aDesnudas_.size());
  for (const Map::Entry& e : m5) m.Append(e.key, e.value);
  for (const Desnuda& d : aDesnudas_) m.Append(d.clave, Value());
}

// Writes the sources' values at the positions (the output's positions are the
// top level's entry positions). `valor` reads an entry of the positions' one kind
// of source: a loop per kind, not a choice per entry, as it runs for every record.
template <class F>
void CapasVariables::Escribir(const std::vector<uint32_t>& posiciones, F valor) {
  const std::vector<Entrada>& entradas = aNiveles_[nNivelSalida_].aEntradas;
  Map& m5 = hM5_.AsMap();
  Map* m = hM_.SameRef(hM5_) ? nullptr : &hM_.AsMap();
  for (uint32_t pos : posiciones) {
    const Value& v = valor(entradas[pos]);
    m5.ValueAt(pos) = v;
    if (m) m->ValueAt(pos) = v;
  }
}

void CapasVariables::RefrescarValores(const Fuentes& f, bool valoresConector) {
  auto deFuente = [&f](const Entrada& e) -> const Value& { return ValorDe(e, f); };
  if (valoresConector) Escribir(aConector_, deFuente);
  if (nVistoCambios_ != f.nVersionCambios) Escribir(aCambios_, deFuente);
  if (nVistoAcumuladores_ != f.nVersionAcumuladores) Escribir(aAcumuladores_, deFuente);
  // Frames are read every time: a caller may have changed a pushed frame's values.
  Escribir(aMarcos_, [&f](const Entrada& e) -> const Value& {
    return f.aMarcos->Items()[e.nMarco].AsMap().ValueAt(e.nPos);
  });
}

// Layer 6: each bare user variable sees the set built so far, the earlier
// bare variables included and the later ones absent.
void CapasVariables::EvaluarDesnudas(const Fuentes& f) {
  if (aDesnudas_.empty() || !f.oEvaluador) return;
  Map& m5 = hM5_.AsMap();
  Map& m = hM_.AsMap();
  size_t base = m5.size();
  size_t agregadas = 0;
  for (size_t k = 0; k < aDesnudas_.size(); ++k) {
    const Desnuda& d = aDesnudas_[k];
    Value v = d.lVacia  ? Value("")
              : d.oPlan ? f.oEvaluador->EvaluateFormulaPlan(d.oPlan, hM5_)
                        : f.oEvaluador->EvaluarFormula(d.formula, hM5_);
    if (k + 1 < aDesnudas_.size()) {
      m5.Append(d.clave, v);
      ++agregadas;
    }
    m.ValueAt(base + k) = std::move(v);
  }
  while (agregadas-- > 0) m5.PopBack();
}

// ---------------------------------------------------------------------------
// The change overlay

void CambiosDesordenados::Preparar(const Value& lista) {
  hLista_ = lista;
  aEntradas_.clear();
  aClaves_.clear();
  oIndice_.clear();
  for (const Value& e : lista.AsList()) {
    if (!e.IsMap()) continue;
    EntradaCambio entrada;
    entrada.nIndice = IndiceCambio(e);
    entrada.hVariables = e.Get("hVariables");
    uint32_t i = static_cast<uint32_t>(aEntradas_.size());
    if (const Map* vars = entrada.hVariables.MapPtr()) {
      for (size_t off = 0; off < vars->size(); ++off) {
        std::string clave(vars->KeyAt(off));
        auto [it, nueva] = oIndice_.emplace(clave, static_cast<uint32_t>(aClaves_.size()));
        if (nueva) {
          ClaveCambio c;
          c.clave = vars->EntryAt(off).key;
          aClaves_.push_back(std::move(c));
        }
        aClaves_[it->second].aApariciones.push_back({i, static_cast<uint32_t>(off)});
        entrada.aClaves.push_back({it->second, static_cast<uint32_t>(off)});
      }
    }
    aEntradas_.push_back(std::move(entrada));
  }
  aOrden_.resize(aEntradas_.size());
  for (uint32_t i = 0; i < aOrden_.size(); ++i) aOrden_[i] = i;
  std::stable_sort(aOrden_.begin(), aOrden_.end(), [&](uint32_t a, uint32_t b) {
    return aEntradas_[a].nIndice < aEntradas_[b].nIndice;
  });
  aAplicada_.assign(aEntradas_.size(), 0);
  nAplicadas_ = 0;
  lPendiente_ = true;
}

bool CambiosDesordenados::Aplicar(int64_t posicion, Value& overlay) {
  auto fin = std::upper_bound(aOrden_.begin(), aOrden_.end(), posicion,
                              [&](int64_t pos, uint32_t i) { return pos < aEntradas_[i].nIndice; });
  size_t nuevas = static_cast<size_t>(fin - aOrden_.begin());
  if (nuevas == nAplicadas_ && !lPendiente_) return false;
  std::vector<uint32_t> afectadas;
  // A freshly indexed list starts from an overlay it has not written yet.
  bool orden = lPendiente_;
  lPendiente_ = false;
  if (nuevas > nAplicadas_) {
    for (size_t t = nAplicadas_; t < nuevas; ++t) {
      uint32_t i = aOrden_[t];
      aAplicada_[i] = 1;
      for (auto [k, off] : aEntradas_[i].aClaves) {
        ClaveCambio& c = aClaves_[k];
        if (!c.lPresente) {
          c.lPresente = true;
          c.nPrimera = {i, off};
          c.nUltima = i;
          orden = true;
        } else {
          if (std::pair(i, off) < c.nPrimera) {
            c.nPrimera = {i, off};
            orden = true;
          }
          c.nUltima = std::max(c.nUltima, i);
        }
        afectadas.push_back(k);
      }
    }
  } else {
    for (size_t t = nuevas; t < nAplicadas_; ++t) {
      uint32_t i = aOrden_[t];
      aAplicada_[i] = 0;
      for (auto [k, off] : aEntradas_[i].aClaves) afectadas.push_back(k);
    }
    for (uint32_t k : afectadas) orden |= Recalcular(aClaves_[k]);
  }
  nAplicadas_ = nuevas;
  if (orden) {
    Reordenar(overlay);
  } else {
    for (uint32_t k : afectadas) {
      const ClaveCambio& c = aClaves_[k];
      if (Value* slot = overlay.AsMap().Find(c.clave.Str())) *slot = ValorActual(c);
    }
  }
  return true;
}

int64_t CambiosDesordenados::EntradaVigente(std::string_view clave) const {
  auto it = oIndice_.find(std::string(clave));
  if (it == oIndice_.end() || !aClaves_[it->second].lPresente) return -1;
  return aClaves_[it->second].nUltima;
}

bool CambiosDesordenados::Recalcular(ClaveCambio& c) {
  bool presente = false;
  std::pair<uint32_t, uint32_t> primera{0, 0};
  uint32_t ultima = 0;
  for (auto [i, off] : c.aApariciones) {
    if (!aAplicada_[i]) continue;
    if (!presente) primera = {i, off};
    presente = true;
    ultima = i;
  }
  bool mueve = presente != c.lPresente || (presente && primera != c.nPrimera);
  c.lPresente = presente;
  c.nPrimera = primera;
  c.nUltima = ultima;
  return mueve;
}

Value CambiosDesordenados::ValorActual(const ClaveCambio& c) const {
  return aEntradas_[c.nUltima].hVariables.Get(c.clave.Str());
}

void CambiosDesordenados::Reordenar(Value& overlay) {
  std::vector<const ClaveCambio*> presentes;
  for (const ClaveCambio& c : aClaves_) {
    if (c.lPresente) presentes.push_back(&c);
  }
  std::sort(presentes.begin(), presentes.end(),
            [](const ClaveCambio* a, const ClaveCambio* b) { return a->nPrimera < b->nPrimera; });
  Map& actual = overlay.AsMap();
  bool iguales = actual.size() == presentes.size();
  for (size_t i = 0; iguales && i < presentes.size(); ++i) {
    iguales = actual.KeyAt(i) == presentes[i]->clave.Str();
  }
  if (iguales) {
    for (size_t i = 0; i < presentes.size(); ++i) actual.ValueAt(i) = ValorActual(*presentes[i]);
    return;
  }
  Value nuevo = Value::NewMap();
  nuevo.AsMap().Reserve(presentes.size());
  for (const ClaveCambio* c : presentes) nuevo.AsMap().Append(c->clave, ValorActual(*c));
  overlay = nuevo;
}

}  // namespace kx
