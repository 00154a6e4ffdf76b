#include "TFuncFormulas.h"

#include <algorithm>
#include <cmath>

#include "FormulaSyntax.h"
#include "TBarcodeUtil.h"
#include "TFuncFormulasLlamada.h"

namespace kx {

namespace funcformulas {

Value Llamada::Error() const {
  std::string t = "[Funcion ";
  t.append(nombre_).append(" no valida]");
  return Value(t);
}

std::string Texto(const Value& v) {
  return FormulaString(v);
}

std::string_view VerTexto(const Value& v, std::string& buffer) {
  if (v.IsText()) return v.Str();
  buffer = FormulaString(v);
  return buffer;
}

bool EsNumero(const Value& v) {
  return v.IsNumber() || (v.IsText() && EsNumerico(v.Str()));
}

Value LeerNumero(const Value& v) {
  switch (v.kind()) {
    case Kind::Integer:
      return v;
    case Kind::Text:
      return ReadNumber(v.Str());
    default:
      return ReadNumber(FormulaString(v));
  }
}

int64_t Entero(const Value& v) {
  return LeerNumero(v).Int();
}

namespace {

// The width and decimals past which Str answers its argument error, so that
// no formula builds a text of gigabytes; 30 decimals is the value layer's cap.
constexpr int64_t kMaxAnchoStr = 4096;
constexpr int64_t kMaxDecimalesStr = kMaxDecimals;

Value FnAbs(const Llamada& c) {
  const Value& x = c[0];
  if (!EsNumero(x)) return c.Error();
  Value n = x.IsNumber() ? x : ReadNumber(x.Str());
  return n.Double() < 0 ? Negate(n) : n;
}

Value FnAllTrim(const Llamada& c) {
  std::string buffer;
  return Value(AllTrim(VerTexto(c[0], buffer)));
}

Value FnAt(const Llamada& c) {
  std::string b1, b2;
  return Value(static_cast<int64_t>(At(VerTexto(c[0], b1), VerTexto(c[1], b2))));
}

// The descriptor is a value, not an error text: a barcode object can draw it.
Value FnBarcode(const Llamada& c) {
  if (c.Falta(0) || c.Falta(1)) {
    return Value::NewMap({{"tipo", "barcode"}, {"error", "Funcion Barcode no valida"}});
  }
  return TBarcodeUtil().Crear(c[0], c[1]);
}

Value FnChr(const Llamada& c) {
  if (!EsNumero(c[0])) return c.Error();
  Value n = LeerNumero(c[0]);
  if (n.Double() < 0) return c.Error();
  return Value(Chr(n.Int() % 256));
}

Value FnContains(const Llamada& c) {
  if (c.Falta(0) || c.Falta(1)) return Value(false);
  std::string b1, b2;
  std::string_view parte = VerTexto(c[1], b2);
  if (IsBlank(parte)) return Value(true);
  return Value(VerTexto(c[0], b1).find(parte) != std::string_view::npos);
}

Value FnEmpty(const Llamada& c) {
  const Value& x = c[0];
  switch (x.kind()) {
    case Kind::Nil:
      return Value(true);
    case Kind::Logical:
      return Value(!x.Bool());
    case Kind::Text:
      return Value(IsBlank(x.Str()));
    case Kind::Integer:
    case Kind::Real:
      return Value(x.Double() == 0.0);
    case Kind::List:
    case Kind::Map:
      return Value(x.Len() == 0);
    default:
      return Value(false);  // a date, even the empty one, is not empty here
  }
}

// 10 to a huge power saturates to the largest finite number.
Value FnExp10(const Llamada& c) {
  if (!EsNumero(c[0])) return c.Error();
  double r = SaneDouble(std::pow(10.0, LeerNumero(c[0]).Double()));
  if (r == std::trunc(r)) return IntPart(Value::Real(r, 0));
  return Value::Real(r, 2);
}

Value FnInt(const Llamada& c) {
  if (!EsNumero(c[0])) return c.Error();
  return IntPart(LeerNumero(c[0]));
}

Value FnIsNull(const Llamada& c) {
  return Value(c[0].IsNil());
}

Value FnLeft(const Llamada& c) {
  if (!EsNumero(c[1])) return c.Error();
  int64_t n = Entero(c[1]);
  std::string buffer;
  return Value(Utf8Substr(VerTexto(c[0], buffer), 1, n));
}

Value FnLen(const Llamada& c) {
  std::string buffer;
  return Value(static_cast<int64_t>(Utf8Length(VerTexto(c[0], buffer))));
}

Value FnLower(const Llamada& c) {
  std::string buffer;
  return Value(Lower(VerTexto(c[0], buffer)));
}

Value FnLTrim(const Llamada& c) {
  std::string buffer;
  return Value(LTrim(VerTexto(c[0], buffer)));
}

// Only a greater value of the same kind replaces the maximum; the order of
// values of different kinds is false both ways.
Value FnMax(const Llamada& c) {
  if (c.size() == 0) return Value();
  Value maximo = c[0];
  for (const Value& v : c.Valores().subspan(1)) {
    if (Greater(v, maximo)) maximo = v;
  }
  return maximo;
}

Value FnNull(const Llamada&) {
  return Value();
}

Value FnRAt(const Llamada& c) {
  std::string b1, b2;
  return Value(static_cast<int64_t>(RAt(VerTexto(c[0], b1), VerTexto(c[1], b2))));
}

// Non-overlapping occurrences, counted in bytes.
Value FnStrPos(const Llamada& c) {
  std::string b1, b2;
  std::string_view texto = VerTexto(c[0], b1);
  std::string_view aguja = VerTexto(c[1], b2);
  if (IsBlank(aguja) || !(c.Falta(2) || EsNumero(c[2]))) return Value(-1);
  int64_t k = c.Falta(2) ? 1 : Entero(c[2]);
  if (k < 1) return Value(-1);
  size_t desde = 0;
  for (;;) {
    size_t q = texto.find(aguja, desde);
    if (q == std::string_view::npos) return Value(-1);
    if (--k == 0) return Value(static_cast<int64_t>(q));
    desde = q + aguja.size();
  }
}

Value FnRight(const Llamada& c) {
  if (!EsNumero(c[1])) return c.Error();
  int64_t n = Entero(c[1]);
  std::string buffer;
  std::string_view t = VerTexto(c[0], buffer);
  if (n <= 0) return Value("");
  int64_t largo = static_cast<int64_t>(Utf8Length(t));
  if (n >= largo) return Value(t);
  return Value(Utf8Substr(t, largo - n + 1));
}

Value FnRGB(const Llamada& c) {
  if (c.Falta(0) || c.Falta(1) || c.Falta(2)) return c.Error();
  std::string color = "#";
  for (size_t i = 0; i < 3; ++i) {
    color += Lower(HexByte(std::clamp<int64_t>(Entero(c[i]), 0, 255)));
  }
  return Value(color);
}

Value FnRound(const Llamada& c) {
  if (!EsNumero(c[0]) || !(c.Falta(1) || EsNumero(c[1]))) return c.Error();
  int64_t d = c.Falta(1) ? 0 : Entero(c[1]);
  // Round itself keeps at most the value layer's 30 decimals.
  return Round(LeerNumero(c[0]), static_cast<int>(std::clamp<int64_t>(d, -400, kMaxDecimals)));
}

Value FnRTrim(const Llamada& c) {
  std::string buffer;
  return Value(RTrim(VerTexto(c[0], buffer)));
}

Value FnStr(const Llamada& c) {
  int64_t w = c.Falta(1) ? 10 : Entero(c[1]);
  int64_t d = c.Falta(2) ? 0 : std::max<int64_t>(0, Entero(c[2]));
  if (w > kMaxAnchoStr || d > kMaxDecimalesStr) return c.Error();
  if (w <= 0) return Value("");
  const Value& x = c[0];
  if (x.IsNil() || (x.IsText() && IsBlank(x.Str()))) {
    return Value(std::string(static_cast<size_t>(w), ' '));
  }
  if (!EsNumero(x)) return c.Error();
  return Value(WidthText(LeerNumero(x), static_cast<int>(w), static_cast<int>(d)));
}

// The part before the start byte is kept as it is; the rest has its
// non-overlapping occurrences replaced, all of them or the first `count`.
Value FnStrTran(const Llamada& c) {
  std::string b1, b2, b3;
  std::string_view texto = VerTexto(c[0], b1);
  std::string_view buscar = VerTexto(c[1], b2);
  std::string_view cambio = VerTexto(c[2], b3);
  int64_t s = c.Falta(3) ? 1 : std::max<int64_t>(1, Entero(c[3]));
  if (buscar.empty()) return Value(texto);
  size_t corte = static_cast<size_t>(std::min<int64_t>(s - 1, static_cast<int64_t>(texto.size())));
  std::string_view resto = texto.substr(corte);
  int64_t quedan = c.Falta(4) ? INT64_MAX : std::max<int64_t>(0, Entero(c[4]));
  std::string out(texto.substr(0, corte));
  out.reserve(texto.size());
  size_t pos = 0;
  for (; quedan > 0; --quedan) {
    size_t q = resto.find(buscar, pos);
    if (q == std::string_view::npos) break;
    out.append(resto.substr(pos, q - pos)).append(cambio);
    pos = q + buscar.size();
  }
  out.append(resto.substr(pos));
  return Value(out);
}

// A start of 0 is the beginning, a negative one counts from the end.
Value FnSubStr(const Llamada& c) {
  if (!EsNumero(c[1])) return c.Error();
  std::string buffer;
  std::string_view t = VerTexto(c[0], buffer);
  int64_t i = Entero(c[1]);
  int64_t largo = static_cast<int64_t>(Utf8Length(t));
  int64_t primero = std::max<int64_t>(0, i >= 0 ? i - 1 : largo + i);
  if (primero >= largo) return Value("");
  if (c.Falta(2)) return Value(Utf8Substr(t, primero + 1));
  if (!EsNumero(c[2])) return c.Error();
  return Value(Utf8Substr(t, primero + 1, Entero(c[2])));
}

Value FnUpper(const Llamada& c) {
  std::string buffer;
  return Value(Upper(VerTexto(c[0], buffer)));
}

// The leading number after blanks: a sign, digits and at most one point.
Value FnVal(const Llamada& c) {
  std::string buffer;
  return ReadNumber(VerTexto(c[0], buffer));
}

using Funcion = Value (*)(const Llamada&);

struct Entrada {
  std::string_view cClave;   // the upper-cased name matched
  std::string_view cNombre;  // the name in its argument error
  Funcion fFuncion;
};

// The functions in the order Ejecutar tests them; an id is a position from 1.
constexpr Entrada kFunciones[] = {
    {"ABS", "Abs", FnAbs},
    {"ADDDAYS", "AddDays", FnAddDays},
    {"ALLTRIM", "AllTrim", FnAllTrim},
    {"AT", "At", FnAt},
    {"BARCODE", "Barcode", FnBarcode},
    {"CHR", "Chr", FnChr},
    {"CONTAINS", "Contains", FnContains},
    {"CTOD", "CToD", FnCToD},
    {"DATE", "Date", FnDate},
    {"DATEYMD", "DateYMD", FnDateYMD},
    {"DOW", "Dow", FnDow},
    {"DTOC", "DToC", FnDToC},
    {"DTOS", "DToS", FnDToS},
    {"EMPTY", "Empty", FnEmpty},
    {"EXP10", "Exp10", FnExp10},
    {"HB_MEMOREAD", "hb_MemoRead", FnMemoRead},
    {"HOUR", "Hour", FnHour},
    {"INT", "Int", FnInt},
    {"ISNULL", "IsNull", FnIsNull},
    {"LEFT", "Left", FnLeft},
    {"LEN", "Len", FnLen},
    {"LOADFILE", "LoadFile", FnLoadFile},
    {"LOWER", "Lower", FnLower},
    {"LTRIM", "LTrim", FnLTrim},
    {"MAX", "Max", FnMax},
    {"MONTH", "Month", FnMonth},
    {"NOW", "Now", FnDate},  // today's date as well: no time
    {"NULL", "NULL", FnNull},
    {"RAT", "RAt", FnRAt},
    {"STRPOS", "StrPos", FnStrPos},
    {"RIGHT", "Right", FnRight},
    {"RGB", "RGB", FnRGB},
    {"ROUND", "Round", FnRound},
    {"RTRIM", "RTrim", FnRTrim},
    {"STOD", "SToD", FnSToD},
    {"STR", "Str", FnStr},
    {"STRTRAN", "StrTran", FnStrTran},
    {"SUBSTR", "SubStr", FnSubStr},
    {"TRANSFORM", "Transform", FnTransform},
    {"UPPER", "Upper", FnUpper},
    {"VAL", "Val", FnVal},
    {"YEAR", "Year", FnYear},
};
static_assert(std::size(kFunciones) == 42);
static_assert(std::size(kFunciones) < 255, "ids are bytes");

}  // namespace
}  // namespace funcformulas

TFuncFormulas::TFuncFormulas() : hTransformPlanCache(Value::NewMap()) {}

TFuncFormulas& TFuncFormulas::Create() {
  return *this;
}

void TFuncFormulas::End() {
  hTransformPlanCache.AsMap().Clear();
}

uint8_t TFuncFormulas::CodigoFuncion(std::string_view name) {
  const std::string cClave = Upper(AllTrim(name));
  for (size_t i = 0; i < std::size(funcformulas::kFunciones); ++i) {
    if (funcformulas::kFunciones[i].cClave == cClave) return static_cast<uint8_t>(i + 1);
  }
  return kSinFuncion;
}

uint8_t TFuncFormulas::CodigoTransform() {
  static const uint8_t kTransform = CodigoFuncion("TRANSFORM");
  return kTransform;
}

Value TFuncFormulas::Ejecutar(const Value& name, const Value& args) {
  const List* l = args.ListPtr();
  std::span<const Value> valores;
  if (l) valores = std::span<const Value>(l->Items());
  return Ejecutar(FormulaString(name), valores);
}

Value TFuncFormulas::Ejecutar(std::string_view name, std::span<const Value> args) {
  return Ejecutar(CodigoFuncion(name), name, args);
}

Value TFuncFormulas::Ejecutar(uint8_t codigo, std::string_view name, std::span<const Value> args,
                              const Value& mascara) {
  if (codigo == kSinFuncion || codigo > std::size(funcformulas::kFunciones)) {
    std::string cError = "[Funcion no implementada: ";
    cError.append(name);
    cError.push_back(']');
    return Value(cError);
  }
  const funcformulas::Entrada& e = funcformulas::kFunciones[codigo - 1];
  return e.fFuncion(funcformulas::Llamada(*this, e.cNombre, args, mascara));
}

Value TFuncFormulas::DateDifference(const Value& a, const Value& b) {
  int32_t fa = funcformulas::LeerFecha(a);
  int32_t fb = funcformulas::LeerFecha(b);
  if (fa == 0 || fb == 0) return Value();
  return Value(int64_t{fa} - int64_t{fb});
}

}  // namespace kx
