// The date functions of the library. Formulas carry dates as texts: every
// function reads its argument with one tolerant reader and answers a text in
// a fixed form (DD/MM/YY, DD/MM/YYYY or YYYYMMDD) or a number for a part.
#include <algorithm>

#include "Platform.h"
#include "TFuncFormulas.h"
#include "TFuncFormulasLlamada.h"

namespace kx::funcformulas {

namespace {

constexpr int32_t kMsPorHora = 3600000;

// A date part read as a number, clamped so that it fits an int: any value
// past the clamp makes no calendar date anyway.
int ParteFecha(std::string_view text) {
  return static_cast<int>(std::clamp<int64_t>(ReadNumber(text).Int(), -1, 100000));
}

// Eight digits of a valid date, or 0.
int32_t FechaCompacta(std::string_view t) {
  return DateFromCompact(t).Jdn();
}

// Day/month/year; a year from 0 to 99 is in the 2000s (99 is 2099).
// Exactly three parts between the "/" (read on every record: no list is built).
int32_t FechaDiaMesAnio(std::string_view t) {
  size_t b1 = t.find('/');
  if (b1 == std::string_view::npos) return 0;
  size_t b2 = t.find('/', b1 + 1);
  if (b2 == std::string_view::npos || t.find('/', b2 + 1) != std::string_view::npos) return 0;
  int nAnio = ParteFecha(t.substr(b2 + 1));
  if (nAnio >= 0 && nAnio < 100) nAnio += 2000;
  return JdnFromYMD(nAnio, ParteFecha(t.substr(b1 + 1, b2 - b1 - 1)), ParteFecha(t.substr(0, b1)));
}

// A date value (or a timestamp's day) is a date already; reading its display
// text, which is month first, would swap day and month.
int32_t FechaDeValor(const Value& v) {
  return v.IsDate() || v.IsTimestamp() ? v.Jdn() : 0;
}

void Agregar2(std::string& out, int n) {
  out.push_back(static_cast<char>('0' + (n / 10) % 10));
  out.push_back(static_cast<char>('0' + n % 10));
}

std::string FechaDDMM(int32_t jdn, bool anioLargo) {
  int y, m, d;
  YMDFromJdn(jdn, y, m, d);
  std::string out;
  out.reserve(10);
  Agregar2(out, d);
  out.push_back('/');
  Agregar2(out, m);
  out.push_back('/');
  if (anioLargo) Agregar2(out, y / 100);
  Agregar2(out, y % 100);
  return out;
}

// The date argument read, or the argument error.
template <class Fn>
Value ConFecha(const Llamada& c, Fn fn) {
  int32_t jdn = LeerFecha(c[0]);
  return jdn == 0 ? c.Error() : fn(jdn);
}

}  // namespace

int32_t LeerFecha(const Value& v) {
  if (v.IsDate() || v.IsTimestamp()) return FechaDeValor(v);
  std::string buffer;
  std::string_view t = AllTrim(VerTexto(v, buffer));
  if (t.size() == 8 && t.find('/') == std::string_view::npos && ReadNumber(t).Double() > 0) {
    if (int32_t jdn = FechaCompacta(t)) return jdn;
  }
  return FechaDiaMesAnio(t);
}

std::string FechaVisible(int32_t jdn) {
  return FechaDDMM(jdn, false);
}

std::string FechaLarga(int32_t jdn) {
  return FechaDDMM(jdn, true);
}

Value FnDate(const Llamada&) {
  return Value(FechaVisible(platform::CurrentDate().Jdn()));
}

Value FnCToD(const Llamada& c) {
  std::string buffer;
  int32_t jdn = FechaDeValor(c[0]);
  if (jdn == 0) jdn = FechaDiaMesAnio(AllTrim(VerTexto(c[0], buffer)));
  return jdn == 0 ? c.Error() : Value(FechaVisible(jdn));
}

Value FnSToD(const Llamada& c) {
  std::string buffer;
  int32_t jdn = FechaDeValor(c[0]);
  if (jdn == 0) jdn = FechaCompacta(AllTrim(VerTexto(c[0], buffer)));
  return jdn == 0 ? c.Error() : Value(FechaVisible(jdn));
}

Value FnDToC(const Llamada& c) {
  return ConFecha(c, [](int32_t jdn) { return Value(FechaLarga(jdn)); });
}

Value FnDToS(const Llamada& c) {
  return ConFecha(c, [](int32_t jdn) { return Value(DateCompact(Value::Date(jdn))); });
}

Value FnYear(const Llamada& c) {
  return ConFecha(c, [](int32_t jdn) { return Value(DateYear(Value::Date(jdn))); });
}

Value FnMonth(const Llamada& c) {
  return ConFecha(c, [](int32_t jdn) { return Value(DateMonth(Value::Date(jdn))); });
}

Value FnDow(const Llamada& c) {
  return ConFecha(c, [](int32_t jdn) { return Value(DateDow(Value::Date(jdn))); });
}

// The parts as given: no 2000 is added, a year 25 is the year 25.
Value FnDateYMD(const Llamada& c) {
  int partes[3];
  for (size_t i = 0; i < 3; ++i) {
    if (!EsNumero(c[i])) return c.Error();
    partes[i] = static_cast<int>(std::clamp<int64_t>(Entero(c[i]), -1, 100000));
  }
  int32_t jdn = JdnFromYMD(partes[0], partes[1], partes[2]);
  return jdn == 0 ? c.Error() : Value(FechaVisible(jdn));
}

// The days are judged first, then the date; a result outside the calendar
// (years 1 to 9999) is no date either.
Value FnAddDays(const Llamada& c) {
  if (!EsNumero(c[1])) return c.Error();
  int32_t jdn = LeerFecha(c[0]);
  if (jdn == 0) return c.Error();
  int64_t dias = std::clamp<int64_t>(Entero(c[1]), -kLastDateJdn, kLastDateJdn);
  int64_t nuevo = jdn + dias;
  if (nuevo < kFirstDateJdn || nuevo > kLastDateJdn) return c.Error();
  return Value(FechaVisible(static_cast<int32_t>(nuevo)));
}

// Without a value the current hour; a text gives the hour of its time
// (the part after its last space, split at ":").
Value FnHour(const Llamada& c) {
  const Value& v = c[0];
  if (v.IsNil() || (v.IsText() && IsBlank(v.Str()))) {
    return Value(platform::CurrentTimestamp().MsOfDay() / kMsPorHora);
  }
  if (v.IsTimestamp()) return Value(v.MsOfDay() / kMsPorHora);
  if (v.IsDate()) return Value(0);
  std::string buffer;
  std::string_view t = AllTrim(VerTexto(v, buffer));
  size_t espacio = t.rfind(' ');
  if (espacio != std::string_view::npos) t = AllTrim(t.substr(espacio + 1));
  std::vector<std::string_view> aPartes = Split(t, ":");
  if (aPartes.size() < 2 || !EsNumero(Value(aPartes[0]))) return c.Error();
  Value hora = ReadNumber(aPartes[0]);
  if (hora.Double() < 0 || hora.Double() > 23) return c.Error();
  return hora;
}

}  // namespace kx::funcformulas
