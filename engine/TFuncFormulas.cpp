#include "TFuncFormulas.h"

#include <algorithm>

namespace kx {

namespace {

// Whole number of a date part, clamped so that no part overflows an int.
int ParteFecha(std::string_view text) {
  return static_cast<int>(std::clamp<int64_t>(ReadNumber(text).Int(), -1, 1000000));
}

// The tolerant date reader of every date function: a date itself, eight
// digits of a compact date, or day/month/year (a year below 100 is in 2000s).
Value LeerFecha(const Value& v) {
  if (v.IsDate()) return v;
  std::string cTexto = FormulaString(v);
  std::string_view t = AllTrim(cTexto);
  bool lBarra = t.find('/') != std::string_view::npos;
  if (t.size() == 8 && !lBarra && ReadNumber(t).Double() > 0) {
    Value fecha = DateFromCompact(t);
    if (fecha.Jdn() != 0) return fecha;
  }
  if (!lBarra) return Value();
  std::vector<std::string_view> aPartes = Split(t, "/");
  if (aPartes.size() != 3) return Value();
  int nDia = ParteFecha(aPartes[0]);
  int nMes = ParteFecha(aPartes[1]);
  int nAnio = ParteFecha(aPartes[2]);
  if (nAnio < 100) nAnio += 2000;
  int32_t jdn = JdnFromYMD(nAnio, nMes, nDia);
  return jdn == 0 ? Value() : Value::Date(jdn);
}

}  // namespace

TFuncFormulas::TFuncFormulas() : hTransformPlanCache(Value::NewMap()) {}

TFuncFormulas& TFuncFormulas::Create() {
  return *this;
}

void TFuncFormulas::End() {
  hTransformPlanCache.AsMap().Clear();
}

std::span<const TFuncFormulas::Entrada> TFuncFormulas::Funciones() {
  // The functions in the order Ejecutar tests them; each entry names the
  // upper-cased key of one library operation.
  return {};
}

Value TFuncFormulas::Ejecutar(const Value& name, const Value& args) {
  const List* l = args.ListPtr();
  std::span<const Value> valores;
  if (l) valores = std::span<const Value>(l->Items());
  return Ejecutar(FormulaString(name), valores);
}

Value TFuncFormulas::Ejecutar(std::string_view name, std::span<const Value> args) {
  std::string cClave = Upper(AllTrim(name));
  for (const Entrada& e : Funciones()) {
    if (e.cClave == cClave) return (this->*e.fFuncion)(args);
  }
  std::string cError = "[Funcion no implementada: ";
  cError.append(name);
  cError.push_back(']');
  return Value(cError);
}

Value TFuncFormulas::DateDifference(const Value& a, const Value& b) {
  Value fa = LeerFecha(a);
  Value fb = LeerFecha(b);
  if (fa.IsNil() || fb.IsNil()) return Value();
  return Value(int64_t{fa.Jdn()} - int64_t{fb.Jdn()});
}

}  // namespace kx
