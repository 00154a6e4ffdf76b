#include "TContextoEjecucion.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <span>
#include <typeinfo>
#include <unordered_map>
#include <unordered_set>
#include <utility>

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

bool MismasClaves(const Map& a, const Map& b) {
  if (&a == &b) return true;
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const Value& x = a.EntryAt(i).key;
    const Value& y = b.EntryAt(i).key;
    if (x.Str() != y.Str()) return false;
  }
  return true;
}

// The map now held has the keys of the one seen before (the same map with the
// same key version, or another map with the same keys in the same order).
bool MismasClavesQue(const Value& antes, uint64_t versionAntes, const Value& ahora) {
  if (antes.SameRef(ahora)) return ahora.AsMap().KeyVersion() == versionAntes;
  return MismasClaves(antes.AsMap(), ahora.AsMap());
}

// A key's position in a map, remembered and checked against the map's key
// version (unique across maps), so a map whose keys stay put is read without hashing.
struct PosicionClave {
  uint64_t nVersion = UINT64_MAX;
  size_t nPos = Map::npos;

  Value* Buscar(Map& m, std::string_view clave) {
    if (nVersion != m.KeyVersion()) {
      nPos = m.IndexOf(clave);
      nVersion = m.KeyVersion();
    }
    return nPos == Map::npos ? nullptr : &m.ValueAt(nPos);
  }
};

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

// ---------------------------------------------------------------------------
// The layered variable set.
//
// Each level holds the keys of the set after one more layer: level 0 the
// connector variables, the change overlay and the "VAR." and "SUM." layers,
// level j the merge of frame j over level j - 1. A level is rebuilt only
// when its own layer's keys or the level below changed; the output map is
// rebuilt only when the top level changed, and otherwise its values are
// written in place from their sources, so its key layout (and the
// evaluator's position caches over it) survives from record to record.

enum class Origen : uint8_t { kConector, kCambios, kFijo, kAcumulador, kAcumuladorDirecto, kMarco };

struct Entrada {
  Value clave;
  std::string norma;  // trimmed, upper-cased key
  Origen origen = Origen::kFijo;
  uint32_t nMarco = 0;              // kMarco: 0-based frame position in the stack
  uint32_t nPos = 0;                // position in its source map
  Value fijo;                       // kFijo: the user variable's formula text
  mutable PosicionClave oPosicion;  // kAcumulador: the key's place in the accumulators
};

struct Nivel {
  Value hMarco;                  // the frame whose keys built the level (above level 0)
  uint64_t nClavesMarco = 0;     // its key version when last seen
  uint64_t nGeneracion = 0;      // 0: never built
  uint64_t nGeneracionBase = 0;  // the generation of the level below when built
  std::vector<Entrada> aEntradas;
};

// What one build reads.
struct Fuentes {
  Value hConector;
  Value hCambios;
  uint64_t nVersionCambios = 0;
  Value hUserVars;
  Value hAcumVars;
  uint64_t nVersionOpciones = 0;
  Value hAcumuladores;
  uint64_t nVersionAcumuladores = 0;
  List* aMarcos = nullptr;
  TEvaluadorFormulas* oEvaluador = nullptr;  // layer 6 only; null for the reduced set
};

// The value of an entry's source now.
const Value& ValorDe(const Entrada& e, const Fuentes& f) {
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
std::vector<Entrada> Fusionar(const std::vector<Entrada>& previas, const Map& capa, Origen origen,
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
void Asignar(std::vector<Entrada>& entradas, std::unordered_map<std::string, size_t>& indice,
             Entrada nueva) {
  auto it = indice.find(std::string(nueva.clave.Str()));
  if (it != indice.end()) {
    entradas[it->second] = std::move(nueva);
    return;
  }
  indice.emplace(std::string(nueva.clave.Str()), entradas.size());
  entradas.push_back(std::move(nueva));
}

// A user variable whose bare name enters the set with its evaluated value.
struct Desnuda {
  Value clave;
  Value formula;
  FormulaPlanRef oPlan;  // its compiled plan, which EvaluarFormula would evaluate
  bool lVacia = false;   // blank formula: "" without evaluating
};

class CapasVariables {
 public:
  explicit CapasVariables(bool reducido) : lReducido_(reducido) {}

  void Olvidar() {
    aNiveles_.clear();
    hM5_ = Value();
    hM_ = Value();
  }

  // The set for the sources, built incrementally from the previous one.
  const Value& Construir(const Fuentes& f) {
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

 private:
  bool BaseVigente(const Fuentes& f, bool& valoresConector) {
    if (aNiveles_.empty() || aNiveles_[0].nGeneracion == 0) return false;
    if (nVersionOpciones_ != f.nVersionOpciones) return false;
    if (!MismaDefinicion(hUserVars_, nClavesUserVars_, f.hUserVars) ||
        !MismaDefinicion(hAcumVars_, nClavesAcumVars_, f.hAcumVars)) {
      return false;
    }
    if (!hCambios_.SameRef(f.hCambios) || nClavesCambios_ != f.hCambios.AsMap().KeyVersion()) {
      return false;
    }
    if (lReducido_ && (!hAcumuladores_.SameRef(f.hAcumuladores) ||
                       nClavesAcumuladores_ != f.hAcumuladores.AsMap().KeyVersion())) {
      return false;
    }
    if (hConector_.SameRef(f.hConector))
      return nClavesConector_ == f.hConector.AsMap().KeyVersion();
    // A connector that answers a new map with the same keys changes values only.
    if (!MismasClaves(hConector_.AsMap(), f.hConector.AsMap())) return false;
    hConector_ = f.hConector;
    nClavesConector_ = f.hConector.AsMap().KeyVersion();
    valoresConector = true;
    return true;
  }

  void ConstruirBase(const Fuentes& f) {
    hConector_ = f.hConector;
    nClavesConector_ = f.hConector.AsMap().KeyVersion();
    hCambios_ = f.hCambios;
    nClavesCambios_ = f.hCambios.AsMap().KeyVersion();
    hAcumuladores_ = f.hAcumuladores;
    nClavesAcumuladores_ = f.hAcumuladores.AsMap().KeyVersion();
    nVersionOpciones_ = f.nVersionOpciones;
    hUserVars_ = f.hUserVars;
    nClavesUserVars_ = ClavesDe(f.hUserVars);
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

  void ConstruirNivel(size_t j, const Value& marco) {
    Nivel& nivel = aNiveles_[j];
    const Nivel& base = aNiveles_[j - 1];
    nivel.aEntradas =
        Fusionar(base.aEntradas, marco.AsMap(), Origen::kMarco, static_cast<uint32_t>(j - 1));
    nivel.hMarco = marco;
    nivel.nClavesMarco = marco.AsMap().KeyVersion();
    nivel.nGeneracionBase = base.nGeneracion;
    nivel.nGeneracion = ++nGeneraciones_;
  }

  void ConstruirSalida(const Fuentes& f, size_t n) {
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
  // top level's entry positions).
  void Escribir(const std::vector<uint32_t>& posiciones, const Fuentes& f) {
    const std::vector<Entrada>& entradas = aNiveles_[nNivelSalida_].aEntradas;
    Map& m5 = hM5_.AsMap();
    Map* m = hM_.SameRef(hM5_) ? nullptr : &hM_.AsMap();
    for (uint32_t pos : posiciones) {
      const Value& v = ValorDe(entradas[pos], f);
      m5.ValueAt(pos) = v;
      if (m) m->ValueAt(pos) = v;
    }
  }

  void RefrescarValores(const Fuentes& f, bool valoresConector) {
    if (valoresConector) Escribir(aConector_, f);
    if (nVistoCambios_ != f.nVersionCambios) Escribir(aCambios_, f);
    if (nVistoAcumuladores_ != f.nVersionAcumuladores) Escribir(aAcumuladores_, f);
    // Frames are read every time: a caller may have changed a pushed frame's values.
    Escribir(aMarcos_, f);
  }

  // Layer 6: each bare user variable sees the set built so far, the earlier
  // bare variables included and the later ones absent.
  void EvaluarDesnudas(const Fuentes& f) {
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

  static uint64_t ClavesDe(const Value& v) { return v.IsMap() ? v.AsMap().KeyVersion() : 0; }
  // The same definitions map with the same keys as when the base was built.
  static bool MismaDefinicion(const Value& antes, uint64_t claves, const Value& ahora) {
    return antes.SameRef(ahora) && ClavesDe(ahora) == claves;
  }

  bool lReducido_;
  Value hUserVars_;
  uint64_t nClavesUserVars_ = 0;
  Value hAcumVars_;
  uint64_t nClavesAcumVars_ = 0;
  Value hConector_;
  uint64_t nClavesConector_ = 0;
  Value hCambios_;
  uint64_t nClavesCambios_ = 0;
  Value hAcumuladores_;
  uint64_t nClavesAcumuladores_ = 0;
  uint64_t nVersionOpciones_ = 0;
  uint64_t nVistoCambios_ = 0;
  uint64_t nVistoAcumuladores_ = 0;
  uint64_t nGeneraciones_ = 0;
  std::vector<Nivel> aNiveles_;

  Value hM5_;  // layers 1 to 5
  Value hM_;   // the whole set: hM5_ itself, or hM5_'s entries and the bare user variables
  size_t nNivelSalida_ = 0;
  uint64_t nGeneracionSalida_ = 0;
  bool lSalidaConEvaluador_ = false;
  std::vector<uint32_t> aConector_, aCambios_, aAcumuladores_, aMarcos_;
  std::vector<Desnuda> aDesnudas_;
};

// ---------------------------------------------------------------------------
// The overlay of an unordered change list, kept for the applied set of
// entries (those whose index is at or below the position) with the result of
// applying them from empty in list order: each key in the place of its first
// applied occurrence, with the value of its last.

class CambiosDesordenados {
 public:
  // Indexes the list's map entries; nothing is applied yet.
  void Preparar(const Value& lista) {
    hLista_ = lista;
    aEntradas_.clear();
    aClaves_.clear();
    oIndice_.clear();
    for (const Value& e : lista.AsList()) {
      if (!e.IsMap()) continue;
      EntradaCambio entrada;
      const Value& indice = e.Get("nIndiceDetalle");
      entrada.nIndice = e.Has("nIndiceDetalle") ? Entero(indice) : 0;
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

  bool Preparado(const Value& lista) const { return hLista_.SameRef(lista); }

  // Moves the applied set to the position; answers whether the overlay changed.
  bool Aplicar(int64_t posicion, Value& overlay) {
    auto fin =
        std::upper_bound(aOrden_.begin(), aOrden_.end(), posicion,
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

 private:
  struct EntradaCambio {
    int64_t nIndice = 0;
    Value hVariables;
    std::vector<std::pair<uint32_t, uint32_t>> aClaves;  // key id, position in hVariables
  };
  struct ClaveCambio {
    Value clave;
    std::vector<std::pair<uint32_t, uint32_t>> aApariciones;  // entry, position; in list order
    bool lPresente = false;
    std::pair<uint32_t, uint32_t> nPrimera{0, 0};
    uint32_t nUltima = 0;
  };

  // First and last applied occurrence again; answers whether the key's place may move.
  bool Recalcular(ClaveCambio& c) {
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

  Value ValorActual(const ClaveCambio& c) const {
    return aEntradas_[c.nUltima].hVariables.Get(c.clave.Str());
  }

  // Keys in the order of their first applied occurrence; the overlay keeps its
  // map when the keys come out the same.
  void Reordenar(Value& overlay) {
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

  Value hLista_;
  std::vector<EntradaCambio> aEntradas_;
  std::vector<ClaveCambio> aClaves_;
  std::unordered_map<std::string, uint32_t> oIndice_;
  std::vector<uint32_t> aOrden_;  // entries by index, list order among equals
  std::vector<char> aAplicada_;
  size_t nAplicadas_ = 0;
  bool lPendiente_ = false;
};

// The index of a change entry: the integer part of "nIndiceDetalle", 0 when absent.
int64_t IndiceCambio(const Value& entrada) {
  return entrada.Has("nIndiceDetalle") ? Entero(entrada.Get("nIndiceDetalle")) : 0;
}

// Copies every key of an entry's "hVariables" into the overlay (exact keys).
void AplicarCambio(const Value& entrada, Map& overlay) {
  if (const Map* vars = entrada.Get("hVariables").MapPtr()) {
    for (const Map::Entry& e : *vars) overlay.SetKey(e.key, e.value);
  }
}

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

bool LlamarProgreso(const Value& callable, int64_t n) {
  const Callable* c = callable.CallablePtr();
  if (!c) return true;
  Value arg(n);
  Value r = c->Call(std::span<const Value>(&arg, 1));
  return !(r.IsLogical() && !r.Bool());
}

}  // namespace

// ---------------------------------------------------------------------------

struct TContextoEjecucion::Estado {
  CapasVariables oCompleto{false};
  CapasVariables oReducido{true};
  CambiosDesordenados oDesordenados;
  uint64_t nVersionOpciones = 1;
  uint64_t nVersionCambios = 1;
  uint64_t nVersionAcumuladores = 1;
  Value hVacio = Value::NewMap();       // layer 1 without a connector; nobody writes it
  Value hSinCambios = Value::NewMap();  // the overlay of a change option that is no list
  // The empty record and page map of the evaluator state: read, never written.
  Value hSinRegistro = Value::NewMap();
  Value hEstadoPlano;  // the plain evaluator state, rewritten before every send
  std::vector<PosicionClave> aPosicionesAcumuladores;  // each plan's key in hAcumuladores
  // Options read for every record.
  PosicionClave oUserVars, oAcumVars, oCambios, oConocido, oPorClave;
  // The context evaluated something since the evaluator's resolved formula
  // variables were last cleared.
  bool lResueltasSucias = true;
  // Text id -> the sums in force when it was rendered (see GuardarEstadoTexto),
  // and the latest copy of the sums with the accumulator version it was taken at.
  Value hEstadosTexto = Value::NewMap();
  Value hUltimasSumas;
  uint64_t nVersionUltimasSumas = 0;

  void Olvidar() {
    oCompleto.Olvidar();
    oReducido.Olvidar();
    oDesordenados = CambiosDesordenados();
    ++nVersionOpciones;
    ++nVersionCambios;
    ++nVersionAcumuladores;
    lResueltasSucias = true;
    OlvidarEstadosTexto();
  }
  void OlvidarEstadosTexto() {
    hEstadosTexto = Value::NewMap();
    hUltimasSumas = Value();
  }
};

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

TContextoEjecucion* TContextoEjecucion::Create() {
  if (!oConectorDatos || !oEvaluador) return nullptr;
  oEvaluador->SetOpciones(hOpciones);
  aAvisos = Value::NewList();
  aDescartados = Value::NewList();
  aVariablesLocales = Value::NewList();
  // The carried sums are adopted as they are: the accumulation of this
  // execution goes on in the caller's map.
  const Value& iniciales = hOpciones.Get("hAcumuladoresIniciales");
  hAcumuladores = iniciales.IsMap() ? iniciales : Value::NewMap();
  const Value& continuaciones = hOpciones.Get("hContinuacionesTabla");
  hContinuacionesTabla = continuaciones.IsMap() ? DeepClone(continuaciones) : Value::NewMap();
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
  SetEstadoPagina(hOpciones.Get("nPaginaActualRuntime", Value(1)),
                  hOpciones.Get("nTotalPaginasRuntime", Value(1)));
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
  if (!aAvisos.IsList()) aAvisos = Value::NewList();
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
  if (hVariablesCache.IsMap()) return hVariablesCache;
  Sanear();
  Fuentes f;
  f.hConector = oConectorDatos ? oConectorDatos->GetVariables() : oEstado_->hVacio;
  if (!f.hConector.IsMap()) f.hConector = oEstado_->hVacio;
  f.hCambios = VariablesDataVarRuntime();
  f.nVersionCambios = oEstado_->nVersionCambios;
  f.hUserVars = Opcion(hOpciones, oEstado_->oUserVars, "hUserVars");
  f.hAcumVars = Opcion(hOpciones, oEstado_->oAcumVars, "hAcumVars");
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
Value TContextoEjecucion::VariablesAcumulacion() {
  if (hVariablesCache.IsMap()) return hVariablesCache;
  Sanear();
  Fuentes f;
  f.hConector = oConectorDatos ? oConectorDatos->GetVariables() : oEstado_->hVacio;
  if (!f.hConector.IsMap()) f.hConector = oEstado_->hVacio;
  f.hCambios = VariablesDataVarRuntime();
  f.nVersionCambios = oEstado_->nVersionCambios;
  f.hUserVars = Opcion(hOpciones, oEstado_->oUserVars, "hUserVars");
  f.nVersionOpciones = oEstado_->nVersionOpciones;
  f.hAcumuladores = hAcumuladores;
  f.nVersionAcumuladores = oEstado_->nVersionAcumuladores;
  f.aMarcos = aVariablesLocales.ListPtr();
  return oEstado_->oReducido.Construir(f);
}

// The variable set for an evaluation about to be forwarded, which may resolve
// formula variables in the evaluator.
Value TContextoEjecucion::VariablesParaEvaluar() {
  Value variables = GetVariables();
  oEstado_->lResueltasSucias = true;
  return variables;
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
                         : std::max<int64_t>(0, Entero(hOpciones.Get("nRegistroBase")));
  const Value& lista = Opcion(hOpciones, oEstado_->oCambios, "aDataVarChangesRuntime");
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
  lEvaluatorStateSynchronized = false;
  PushVariablesLocales(registro);
  SincronizarEstadoEvaluador();
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
  const Value* conocido = oEstado_->oConocido.Buscar(hOpciones.AsMap(), "lTotalPaginasConocido");
  const Value& porClave = Opcion(hOpciones, oEstado_->oPorClave, "hPaginacionPorClaveRuntime");
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
// Accumulators, continuations, consumed records

void TContextoEjecucion::PrepareAccumulatorRuntimePlans() {
  aAccumulatorRuntimePlans.clear();
  oEstado_->aPosicionesAcumuladores.clear();
  const Map* acumVars = hOpciones.Get("hAcumVars").MapPtr();
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

TContextoEjecucion& TContextoEjecucion::AcumularDetalle() {
  if (!oEvaluador) return *this;
  Sanear();
  SincronizarEstadoEvaluador();
  Value variables = VariablesAcumulacion();
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
  const Value& omitir = hOpciones.Get("lOmitirResetInicialAcumuladores");
  if (omitir.IsLogical() && omitir.Bool()) {
    hOpciones.Set("lOmitirResetInicialAcumuladores", Value(false));
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
    std::string_view n = nombre.Str();
    std::string clave = n.starts_with("SUM.") ? std::string(n) : "SUM." + std::string(n);
    hAcumuladores.Set(clave, Value(0));
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

TContextoEjecucion& TContextoEjecucion::GuardarEstadoTexto(const Value& renderizable) {
  const Value& id = renderizable.Get("id");
  if (!id.IsText()) return *this;
  Sanear();
  Estado& e = *oEstado_;
  if (!e.hUltimasSumas.IsMap() || e.nVersionUltimasSumas != e.nVersionAcumuladores) {
    e.hUltimasSumas = DeepClone(hAcumuladores);
    e.nVersionUltimasSumas = e.nVersionAcumuladores;
  }
  e.hEstadosTexto.Set(id.Str(), e.hUltimasSumas);
  return *this;
}

const Value& TContextoEjecucion::GetEstadosTexto() const {
  return oEstado_->hEstadosTexto;
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
  int64_t base = std::max<int64_t>(0, Entero(hOpciones.Get("nRegistroBase")));
  return nUltimoRegistroConsumido >= base ? nUltimoRegistroConsumido - base + 1 : 0;
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
  SincronizarEstadoEvaluador();
  if (!oEvaluador) return formula;
  Value variables = VariablesParaEvaluar();
  oEvaluador->ResetLastError();
  if (FormulaPlanRef compilado = PlanDeValor(plan)) {
    return oEvaluador->EvaluateFormulaPlan(compilado, variables);
  }
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
  const Value& modo = hOpciones.Get("modoEjecucion");
  return modo.IsText() ? std::string(modo.Str()) : std::string("real");
}

bool TContextoEjecucion::EsModoDisenador() const {
  return GetModoEjecucion() == "disenador";
}

bool TContextoEjecucion::TieneProgreso() const {
  const Value& activo = hOpciones.Get("lProgressActive");
  return activo.IsLogical() && activo.Bool();
}

bool TContextoEjecucion::InformarRegistroExaminado(int64_t n) {
  return LlamarProgreso(hOpciones.Get("bProgressRecord"), n);
}

bool TContextoEjecucion::InformarPaginaGenerada(int64_t n) {
  return LlamarProgreso(hOpciones.Get("bProgressPage"), n);
}

}  // namespace kx
