// Transform: numbers and dates formatted with the picture masks of the
// foreign designer's templates. A mask is analysed once into a plan, kept in
// the library's hTransformPlanCache under its trimmed text and shared by every
// call with that mask, compiled formulas included.
#include <algorithm>
#include <typeinfo>

#include "TFuncFormulas.h"
#include "TFuncFormulasLlamada.h"

namespace kx {

namespace {

// The compiled form of one mask.
class TTransformPlan final : public KXObject {
 public:
  explicit TTransformPlan(std::string_view m);
  std::string_view ClassName() const override { return "TTransformPlan"; }

  std::string cMask;         // the numeric template: the mask without a leading "@E"
  int nDecimals = 0;         // decimals the template asks for
  char cDecimal = '.';       // the output's decimal mark: "," with "@E"
  char cThousands = 0;       // the thousands mark, 0 for none
  bool lDateMask = false;    // "99/99/99" or "99/99/9999"
  bool lFechaLarga = false;  // "99/99/9999"
  size_t nAncho = 0;         // characters of cMask, the width results are padded to
};

bool EmpiezaConArrobaE(std::string_view m) {
  return m.size() >= 2 && m[0] == '@' && (m[1] == 'E' || m[1] == 'e');
}

// The later of the last "." and the last "," is the decimal position; the
// decimals are the "0", "#" and "9" after it.
int DecimalesDePlantilla(std::string_view plantilla) {
  size_t punto = plantilla.rfind('.');
  size_t coma = plantilla.rfind(',');
  size_t pos = punto == std::string_view::npos  ? coma
               : coma == std::string_view::npos ? punto
                                                : std::max(punto, coma);
  if (pos == std::string_view::npos) return 0;
  int n = 0;
  for (char ch : plantilla.substr(pos + 1)) n += ch == '0' || ch == '#' || ch == '9';
  return n;
}

TTransformPlan::TTransformPlan(std::string_view m) {
  std::string_view plantilla = EmpiezaConArrobaE(m) ? LTrim(m.substr(2)) : m;
  cMask = std::string(plantilla);
  nDecimals = DecimalesDePlantilla(plantilla);
  bool lConE = Upper(m).find("@E") != std::string::npos;
  cDecimal = lConE ? ',' : '.';
  bool lAmbos = plantilla.find('.') != std::string_view::npos &&
                plantilla.find(',') != std::string_view::npos;
  if (lAmbos) cThousands = lConE ? '.' : ',';
  lDateMask = m == "99/99/99" || m == "99/99/9999";
  lFechaLarga = m == "99/99/9999";
  nAncho = Utf8Length(cMask);
}

const TTransformPlan* PlanDe(const Value& v) {
  const KXObject* o = v.ObjectPtr();
  return o && typeid(*o) == typeid(TTransformPlan) ? static_cast<const TTransformPlan*>(o)
                                                   : nullptr;
}

constexpr size_t kMaxCaracteresSinDecimales = 12;

// The number with the plan's decimals, rounded half away from zero; a whole
// number that needs more than twelve characters gives twelve asterisks.
std::string Cifras(const Value& n, const TTransformPlan& p) {
  if (p.nDecimals > 0) {
    if (!n.IsInt()) return FormatFixed(n.Double(), p.nDecimals);
    std::string t = PlainText(n);
    t.push_back('.');
    t.append(static_cast<size_t>(p.nDecimals), '0');
    return t;
  }
  std::string t = n.IsInt() ? PlainText(n) : FormatFixed(n.Double(), 0);
  if (t.size() > kMaxCaracteresSinDecimales) return std::string(kMaxCaracteresSinDecimales, '*');
  return t;
}

std::string Formatear(const Value& n, const TTransformPlan& p) {
  std::string t = Cifras(n, p);
  // An overflow shows as asterisks alone: no marks are set into it.
  if (t[0] == '*') {
    if (t.size() < p.nAncho) t.insert(0, p.nAncho - t.size(), ' ');
    return t;
  }
  if (p.cDecimal == ',') std::replace(t.begin(), t.end(), '.', ',');
  // The padding, the sign, the whole part with its marks and the rest, made
  // in one text of the final width: digits, signs and marks take a byte each.
  const size_t signo = t[0] == '-' || t[0] == '+' ? 1 : 0;
  const size_t fin = std::min(t.find(p.cDecimal, signo), t.size());
  const size_t entera = fin - signo;
  const size_t marcas = p.cThousands && entera > 0 ? (entera - 1) / 3 : 0;
  const size_t ancho = t.size() + marcas;
  std::string out;
  out.reserve(std::max(ancho, p.nAncho));
  if (ancho < p.nAncho) out.append(p.nAncho - ancho, ' ');
  out.append(t, 0, signo);
  for (size_t i = 0; i < entera; ++i) {
    if (marcas > 0 && i > 0 && (entera - i) % 3 == 0) out.push_back(p.cThousands);
    out.push_back(t[signo + i]);
  }
  out.append(t, fin, std::string::npos);
  return out;
}

}  // namespace

Value TFuncFormulas::PlanMascara(const Value& mascara) {
  if (mascara.IsNil()) return Value();
  std::string buffer;
  std::string_view m = AllTrim(funcformulas::VerTexto(mascara, buffer));
  if (m.empty()) return Value();
  Map& cache = hTransformPlanCache.AsMap();
  if (const Value* plan = cache.Find(m)) return *plan;
  Value plan = Value::Object(MakeRef<TTransformPlan>(m));
  cache.Set(m, plan);
  return plan;
}

namespace funcformulas {

Value FnTransform(const Llamada& c) {
  const Value& valor = c[0];
  if (valor.IsNil() || c.Falta(1)) return c.Error();
  const TTransformPlan* p = PlanDe(c.Mascara());
  Value plan;
  if (!p) {
    plan = c.Libreria().PlanMascara(c[1]);
    p = PlanDe(plan);
    if (!p) return Value(Texto(valor));  // a blank mask
  }
  if (p->lDateMask) {
    if (int32_t jdn = LeerFecha(valor)) {
      return Value(p->lFechaLarga ? FechaLarga(jdn) : FechaVisible(jdn));
    }
  }
  if (!EsNumero(valor)) return Value(Texto(valor));
  return Value(Formatear(valor.IsNumber() ? valor : ReadNumber(valor.Str()), *p));
}

}  // namespace funcformulas
}  // namespace kx
