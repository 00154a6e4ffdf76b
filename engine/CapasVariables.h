// The layered variable set that the execution context hands to the
// evaluator, and the overlay of the variable changes in force at a record.
//
// The set is built from six layers, in this order:
//  1. the connector's variables (copied);
//  2. the variable changes in force at the record position (merged);
//  3. "VAR." + name -> the formula TEXT of every user variable (assigned);
//  4. "SUM." + name -> the current value of every accumulator, 0 when none (assigned);
//  5. the local frames, bottom first (merged frame after frame);
//  6. with an evaluator, each user variable's bare name -> its evaluated value, unless the
//     name is already an exact key (assigned, in definition order).
// "Assigned" keeps an exactly equal key in its place and appends any other;
// "merged" drops every key whose trimmed upper-cased form the layer also has
// and appends the layer's entries with their own spelling. The reduced set
// an accumulation reads has layers 1 to 3, the accumulators under their own
// keys, and the frames.
//
// Invariants (tested in CapasVariables_test):
//  - the answer of `Construir` is the set the layers give, whatever was built before;
//  - while the keys of every layer stay the same, the answer is the same map
//    with its values written in place, so its key layout (and the evaluator's
//    position caches over it) survives from record to record;
//  - the change overlay at a position holds what applying, from empty and in
//    list order, every change entry whose index is at or below it gives: each
//    key in the place of its first applied occurrence, with the value of its
//    last; moving the position back and forth changes nothing of that.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "FormulaPlan.h"
#include "Value.h"

namespace kx {

class TEvaluadorFormulas;

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

// Both maps have the same keys in the same order.
bool MismasClaves(const Map& a, const Map& b);

// The index of a change entry: the integer part of "nIndiceDetalle", 0 when absent.
int64_t IndiceCambio(const Value& entrada);
// Copies every key of an entry's "hVariables" into the overlay (exact keys).
void AplicarCambio(const Value& entrada, Map& overlay);

class CapasVariables {
 public:
  // What one build reads; every map is a map.
  struct Fuentes {
    Value hConector;
    Value hCambios;
    uint64_t nVersionCambios = 0;  // changes whenever the overlay's values change
    Value hUserVars;
    Value hAcumVars;
    uint64_t nVersionOpciones = 0;  // changes whenever the options change
    Value hAcumuladores;
    uint64_t nVersionAcumuladores = 0;  // changes whenever a sum changes
    List* aMarcos = nullptr;
    TEvaluadorFormulas* oEvaluador = nullptr;  // layer 6 only; null for the reduced set
  };

  // `reducido`: the set an accumulation reads.
  explicit CapasVariables(bool reducido) : lReducido_(reducido) {}

  // Forgets every level: the next build starts afresh.
  void Olvidar();
  // The set for the sources, built incrementally from the previous one.
  const Value& Construir(const Fuentes& f);

 private:
  // Each level holds the keys of the set after one more layer: level 0 the
  // connector variables, the change overlay and the "VAR." and "SUM." layers,
  // level j the merge of frame j over level j - 1. A level is rebuilt only
  // when its own layer's keys or the level below changed; the output map is
  // rebuilt only when the top level changed, and otherwise its values are
  // written in place from their sources.
  enum class Origen : uint8_t {
    kConector,
    kCambios,
    kFijo,
    kAcumulador,
    kAcumuladorDirecto,
    kMarco
  };

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

  // A user variable whose bare name enters the set with its evaluated value.
  struct Desnuda {
    Value clave;
    Value formula;
    FormulaPlanRef oPlan;  // its compiled plan, which EvaluarFormula would evaluate
    bool lVacia = false;   // blank formula: "" without evaluating
  };

  static const Value& ValorDe(const Entrada& e, const Fuentes& f);
  static std::vector<Entrada> Fusionar(const std::vector<Entrada>& previas, const Map& capa,
                                       Origen origen, uint32_t nMarco);
  static void Asignar(std::vector<Entrada>& entradas,
                      std::unordered_map<std::string, size_t>& indice, Entrada nueva);

  bool BaseVigente(const Fuentes& f, bool& valoresConector);
  void ConstruirBase(const Fuentes& f);
  void ConstruirNivel(size_t j, const Value& marco);
  void ConstruirSalida(const Fuentes& f, size_t n);
  template <class F>
  void Escribir(const std::vector<uint32_t>& posiciones, F valor);
  void RefrescarValores(const Fuentes& f, bool valoresConector);
  void EvaluarDesnudas(const Fuentes& f);

  static uint64_t ClavesDe(const Value& v) { return v.IsMap() ? v.AsMap().KeyVersion() : 0; }
  // The same definitions map with the same keys as when the base was built.
  static bool MismaDefinicion(const Value& antes, uint64_t claves, const Value& ahora) {
    return antes.SameRef(ahora) && ClavesDe(ahora) == claves;
  }

  // The user variables' formulas as the base took them ("formula" of each
  // definition in order, nothing for one that is no map): new options with
  // the same definitions keep the base.
  bool MismasFormulas(const Value& userVars) const;
  static std::vector<Value> FormulasDe(const Value& userVars);

  bool lReducido_;
  Value hUserVars_;
  uint64_t nClavesUserVars_ = 0;
  std::vector<Value> aFormulasUserVars_;
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

// The overlay of an unordered change list, kept for the applied set of
// entries (those whose index is at or below the position) with the result of
// applying them from empty in list order: each key in the place of its first
// applied occurrence, with the value of its last.
class CambiosDesordenados {
 public:
  // Indexes the list's map entries; nothing is applied yet.
  void Preparar(const Value& lista);
  // The list indexed is this very list.
  bool Preparado(const Value& lista) const { return hLista_.SameRef(lista); }
  // Moves the applied set to the position; answers whether the overlay changed.
  bool Aplicar(int64_t posicion, Value& overlay);
  // The entry that gives the key its value in the overlay, counted among the
  // list's maps from 0; -1 when no applied entry sets the key.
  int64_t EntradaVigente(std::string_view clave) const;

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
  bool Recalcular(ClaveCambio& c);
  Value ValorActual(const ClaveCambio& c) const;
  // Keys in the order of their first applied occurrence; the overlay keeps its
  // map when the keys come out the same.
  void Reordenar(Value& overlay);

  Value hLista_;
  std::vector<EntradaCambio> aEntradas_;
  std::vector<ClaveCambio> aClaves_;
  std::unordered_map<std::string, uint32_t> oIndice_;
  std::vector<uint32_t> aOrden_;  // entries by index, list order among equals
  std::vector<char> aAplicada_;
  size_t nAplicadas_ = 0;
  bool lPendiente_ = false;
};

}  // namespace kx
