// What the formula evaluator's source files share: the engine functions by
// name, and the value rules of the formula language that parsing, building
// and evaluating all apply.
#pragma once

#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>

#include "FormulaPlan.h"
#include "FormulaSyntax.h"
#include "Value.h"

namespace kx::evaluador {

// ---------------------------------------------------------------------------
// Engine functions by name

enum FuncionMotor : uint8_t {
  kNinguna,
  kPage,
  kPages,
  kTotalPages,
  kLastPage,
  kPageBy,
  kTotalPagesBy,
  kLastPageBy,
  kAskString,
  kProjectPath,
  kSumMotor,
  kRecno,
  kRecCount,
  kIsFirstRecord,
  kIsLastRecord,
  kPrevious,
  kNext,
  kGroupChanged,
};

struct NombreFuncionMotor {
  std::string_view cNombre;
  FuncionMotor eFuncion;
};

constexpr NombreFuncionMotor kFuncionesMotor[] = {
    {"PAGE", kPage},
    {"PAGES", kPages},
    {"TOTALPAGES", kTotalPages},
    {"LASTPAGE", kLastPage},
    {"PAGEBY", kPageBy},
    {"TOTALPAGESBY", kTotalPagesBy},
    {"LASTPAGEBY", kLastPageBy},
    {"ASKSTRING", kAskString},
    {"PROJECTPATH", kProjectPath},
    {"SUM", kSumMotor},
    {"RECNO", kRecno},
    {"RECCOUNT", kRecCount},
    {"ISFIRSTRECORD", kIsFirstRecord},
    {"ISLASTRECORD", kIsLastRecord},
    {"PREVIOUS", kPrevious},
    {"NEXT", kNext},
    {"GROUPCHANGED", kGroupChanged},
};

inline FuncionMotor CodigoFuncionMotor(std::string_view name) {
  for (const NombreFuncionMotor& f : kFuncionesMotor) {
    if (f.cNombre == name) return f.eFuncion;
  }
  return kNinguna;
}

// ---------------------------------------------------------------------------
// Values

inline const Map& MapaVacio() {
  static const Map& kVacio = ConstantMap({});
  return kVacio;
}

inline const Map& MapaVariables(const Value& v) {
  return v.IsMap() ? v.AsMap() : MapaVacio();
}

// The formula language's value-to-text rule; logicals as "1" and "".
inline std::string ValorAString(const Value& v) {
  return FormulaString(v);
}

// A number, or a text that reads as one (EsNumerico).
inline bool EsNumericoValor(const Value& v) {
  if (v.IsNumber()) return true;
  return v.IsText() && EsNumerico(v.Str());
}

// Whether the real's text with its decimals count reads back as the real
// itself: an integer N whose N / 10^decimals is nearest to it proves that its
// shortest text has no more digits, so writing and reading lose nothing.
inline bool EscritoSinPerdida(double d, int decimals) {
  static constexpr double kPotencias[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                          1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
  if (decimals < 1 || decimals > 15) return false;
  const double p = kPotencias[decimals];
  const double n = std::round(d * p);
  return std::fabs(n) < 9007199254740992.0 && n / p == d;  // N is exact below 2^53
}

// The number a value's text reads back as: a quotient carrying 2 decimals
// reads as 3.33, a text by its leading number ("1,5" reads as 1).
inline Value LeerNumero(const Value& v) {
  switch (v.kind()) {
    case Kind::Integer:
      return v;
    case Kind::Real: {
      double d = v.Double();
      if (d == std::trunc(d)) return IntPart(v);
      if (EscritoSinPerdida(d, v.Decimals())) return v;
      return ReadNumber(PlainText(v));
    }
    case Kind::Text:
      return ReadNumber(v.Str());
    default:
      return ReadNumber(FormulaString(v));
  }
}

// An integral real as an integer.
inline Value EnteroSiIntegral(const Value& n) {
  if (n.IsReal() && n.Double() == std::trunc(n.Double())) return IntPart(n);
  return n;
}

// The integer part of a state or option value, `def` for a value that is no number.
inline int64_t EnteroDe(const Value& v, int64_t def) {
  if (v.IsNumber()) return v.Int();
  if (v.IsText() && EsNumerico(v.Str())) return ReadNumber(AllTrim(v.Str())).Int();
  return def;
}

// The value under the key exactly, else under the first key equal to it
// trimmed and upper-cased: the formula language's rule for names, which
// trims. The text object looks its template keys up by another rule on
// purpose (exact, upper case, any case, never trimmed: FindTolerant in
// TText.cpp); the two stay apart.
inline const Value* HashGet(const Map& m, std::string_view key) {
  if (const Value* v = m.Find(key)) return v;
  std::string cClave = ClaveSinMayusculas(key);
  for (size_t i = 0; i < m.size(); ++i) {
    if (CoincideSinMayusculas(m.KeyAt(i), cClave)) return &m.ValueAt(i);
  }
  return nullptr;
}

inline const Value* HashGet(const Value& m, std::string_view key) {
  return m.IsMap() ? HashGet(m.AsMap(), key) : nullptr;
}

inline Value Texto3(std::string_view a, std::string_view b, std::string_view c) {
  std::string t;
  t.reserve(a.size() + b.size() + c.size());
  t.append(a).append(b).append(c);
  return Value(t);
}

inline Value ErrorExpresion(std::string_view texto) {
  return Texto3("[Expresion no valida: ", texto, "]");
}

inline bool CompararValores(Value a, OperadorComparacion op, Value b) {
  if (EsNumericoValor(a) && EsNumericoValor(b)) {
    a = LeerNumero(a);
    b = LeerNumero(b);
  }
  bool lMismaClase = a.kind() == b.kind() || (a.IsNumber() && b.IsNumber());
  if (!lMismaClase) {
    return op == OperadorComparacion::kDistinto || op == OperadorComparacion::kDiferente;
  }
  switch (op) {
    case OperadorComparacion::kMayor:
      return Greater(a, b);
    case OperadorComparacion::kMenor:
      return Less(a, b);
    case OperadorComparacion::kMayorIgual:
      return GreaterEq(a, b);
    case OperadorComparacion::kMenorIgual:
      return LessEq(a, b);
    case OperadorComparacion::kIgual:
      return Equal(a, b);
    case OperadorComparacion::kDistinto:
    case OperadorComparacion::kDiferente:
      return !Equal(a, b);
  }
  return false;
}

}  // namespace kx::evaluador
