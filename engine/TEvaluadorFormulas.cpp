#include "TEvaluadorFormulas.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "FormulaSyntax.h"
#include "Platform.h"

namespace kx {

namespace {

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

FuncionMotor CodigoFuncionMotor(std::string_view name) {
  for (const NombreFuncionMotor& f : kFuncionesMotor) {
    if (f.cNombre == name) return f.eFuncion;
  }
  return kNinguna;
}

// Library functions whose answer depends on more than their arguments: a
// running sum over them is never memoised.
bool EsFuncionImpura(std::string_view name) {
  return name == "DATE" || name == "NOW" || name == "HOUR" || name == "LOADFILE" ||
         name == "HB_MEMOREAD";
}

// ---------------------------------------------------------------------------
// Values

const Map& MapaVacio() {
  static const Map kVacio;
  return kVacio;
}

const Map& MapaVariables(const Value& v) {
  return v.IsMap() ? v.AsMap() : MapaVacio();
}

// The formula language's value-to-text rule; logicals as "1" and "".
std::string ValorAString(const Value& v) {
  return FormulaString(v);
}

// The text of a value in a text result or a concatenation.
std::string ValorATexto(const Value& v) {
  if (v.IsLogical()) return v.Bool() ? "true" : "false";
  return FormulaString(v);
}

void AgregarValorATexto(std::string& out, const Value& v) {
  switch (v.kind()) {
    case Kind::Nil:
      return;
    case Kind::Text:
      out.append(v.Str());
      return;
    case Kind::Logical:
      out.append(v.Bool() ? "true" : "false");
      return;
    case Kind::Integer: {
      char buf[24];
      auto res = std::to_chars(buf, buf + sizeof buf, v.Int());
      out.append(buf, res.ptr);
      return;
    }
    default:
      out.append(FormulaString(v));
      return;
  }
}

// A number, or a text that reads as one (EsNumerico).
bool EsNumericoValor(const Value& v) {
  if (v.IsNumber()) return true;
  return v.IsText() && EsNumerico(v.Str());
}

// Whether the real's text with its decimals count reads back as the real
// itself: an integer N whose N / 10^decimals is nearest to it proves that its
// shortest text has no more digits, so writing and reading lose nothing.
bool EscritoSinPerdida(double d, int decimals) {
  static constexpr double kPotencias[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                          1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
  if (decimals < 1 || decimals > 15) return false;
  const double p = kPotencias[decimals];
  const double n = std::round(d * p);
  return std::fabs(n) < 9007199254740992.0 && n / p == d;  // N is exact below 2^53
}

// The number a value's text reads back as: a quotient carrying 2 decimals
// reads as 3.33, a text by its leading number ("1,5" reads as 1).
Value LeerNumero(const Value& v) {
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
Value EnteroSiIntegral(const Value& n) {
  if (n.IsReal() && n.Double() == std::trunc(n.Double())) return IntPart(n);
  return n;
}

// The integer part of a state or option value, `def` for a value that is no number.
int64_t EnteroDe(const Value& v, int64_t def) {
  if (v.IsNumber()) return v.Int();
  if (v.IsText() && EsNumerico(v.Str())) return ReadNumber(AllTrim(v.Str())).Int();
  return def;
}

// The value under the key exactly, else under the first key equal to it
// trimmed and upper-cased.
const Value* HashGet(const Map& m, std::string_view key) {
  if (const Value* v = m.Find(key)) return v;
  std::string cClave = ClaveSinMayusculas(key);
  for (size_t i = 0; i < m.size(); ++i) {
    if (CoincideSinMayusculas(m.KeyAt(i), cClave)) return &m.ValueAt(i);
  }
  return nullptr;
}

const Value* HashGet(const Value& m, std::string_view key) {
  return m.IsMap() ? HashGet(m.AsMap(), key) : nullptr;
}

Value Texto3(std::string_view a, std::string_view b, std::string_view c) {
  std::string t;
  t.reserve(a.size() + b.size() + c.size());
  t.append(a).append(b).append(c);
  return Value(t);
}

Value ErrorExpresion(std::string_view texto) {
  return Texto3("[Expresion no valida: ", texto, "]");
}

// A library answer that is an argument or unknown-function error.
bool EsErrorDeFuncion(const Value& v) {
  if (!v.IsText()) return false;
  std::string_view t = v.Str();
  return t.size() >= 10 && EqualsIgnoreCase(t.substr(0, 9), "[funcion ") && t.back() == ']';
}

// Truthiness of plan values: logicals, truth words, else not empty.
bool Verdadero(const Value& v) {
  switch (v.kind()) {
    case Kind::Logical:
      return v.Bool();
    case Kind::Integer:
    case Kind::Real:
      return v.Double() != 0.0;  // only 1 and 0 are truth words among numbers
    case Kind::Nil:
      return false;
    case Kind::Text: {
      std::optional<bool> b = ValorBooleanoCondicion(v.Str());
      return b ? *b : !IsBlank(v.Str());
    }
    default: {
      std::optional<bool> b = ValorBooleanoCondicion(ValorAString(v));
      return b ? *b : !IsEmpty(v);
    }
  }
}

bool CompararValores(Value a, OperadorComparacion op, Value b) {
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

// Keeps the evaluation nesting counted while a node is evaluated.
class Nivel {
 public:
  explicit Nivel(int& n) : n_(++n) {}
  ~Nivel() { --n_; }
  Nivel(const Nivel&) = delete;
  Nivel& operator=(const Nivel&) = delete;
  bool Excedido() const { return n_ > kMaxProfundidadEvaluacion; }

 private:
  int& n_;
};

}  // namespace

Value KXCOLORCONSTANTS() {
  return Value::NewMap({
      {"KX.COLOR.ALICEBLUE", "#f0f8ff"},
      {"KX.COLOR.BEIGE", "#f5f5dc"},
      {"KX.COLOR.BLACK", "#000000"},
      {"KX.COLOR.BLUE", "#0000ff"},
      {"KX.COLOR.CHOCOLATE", "#d2691e"},
      {"KX.COLOR.DARKGRAY", "#a9a9a9"},
      {"KX.COLOR.DARKGREY", "#a9a9a9"},
      {"KX.COLOR.GAINSBORO", "#dcdcdc"},
      {"KX.COLOR.GRAY", "#808080"},
      {"KX.COLOR.GREEN", "#008000"},
      {"KX.COLOR.KHAKI", "#f0e68c"},
      {"KX.COLOR.LIGHTYELLOW", "#ffffe0"},
      {"KX.COLOR.RED", "#ff0000"},
      {"KX.COLOR.WHITE", "#ffffff"},
      {"KX.COLOR.WHITESMOKE", "#f5f5f5"},
      {"KX.COLOR.YELLOW", "#ffff00"},
  });
}

// ---------------------------------------------------------------------------
// Lifecycle

TEvaluadorFormulas::TEvaluadorFormulas(const Value& hOpcionesIniciales) {
  Init(hOpcionesIniciales);
}

TEvaluadorFormulas& TEvaluadorFormulas::Init(const Value& hOpcionesIniciales) {
  hConstantes = KXCOLORCONSTANTS();
  hConstantes.Set("CRLF", "\r\n");
  hConstantes.Set("NULL", Value());
  hConstantes.Set("TRUE", true);
  hConstantes.Set("FALSE", false);
  hVariablesResolviendo = Value::NewMap();
  hEstadoPorDefecto = EstadoEjecucionPorDefecto();
  hEstadoEjecucion = EstadoEjecucionPorDefecto();
  DecodificarEstado();
  hFormulaPlanCache = Value::NewMap();
  hExecutablePlanCache = Value::NewMap();
  hResolvedVariableCache = Value::NewMap();
  SetOpciones(hOpcionesIniciales);
  hInterpretedPlanCache = Value::NewMap();
  oFuncFormulas.reset();
  cLastError.clear();
  lCreated = false;
  oMemoSumas.clear();
  return *this;
}

TEvaluadorFormulas& TEvaluadorFormulas::Create() {
  if (!oFuncFormulas) {
    oFuncFormulas = MakeRef<TFuncFormulas>();
    oFuncFormulas->Create();
    oMemoSumas.clear();  // sums over library calls answer otherwise now
  }
  lCreated = true;
  return *this;
}

void TEvaluadorFormulas::End() {
  // The options map is the context's: it is let go, not emptied in place.
  hOpciones = Value::NewMap();
  nUltimaPagina = 0;
  hConstantes = Value::NewMap();
  hVariablesResolviendo = Value::NewMap();
  hEstadoEjecucion = Value::NewMap();
  hFormulaPlanCache = Value::NewMap();
  hExecutablePlanCache = Value::NewMap();
  hResolvedVariableCache = Value::NewMap();
  hInterpretedPlanCache = Value::NewMap();
  oMemoSumas.clear();
  if (oFuncFormulas) {
    oFuncFormulas->End();
    oFuncFormulas.reset();
  }
  lCreated = false;
}

TEvaluadorFormulas& TEvaluadorFormulas::SetOpciones(const Value& hNuevasOpciones) {
  hOpciones = hNuevasOpciones.IsMap() ? hNuevasOpciones : Value::NewMap();
  const Value& ultima = hOpciones.Get("nUltimaPaginaRuntime");
  nUltimaPagina = ultima.IsNumber() ? std::max<int64_t>(0, EnteroDe(ultima, 0)) : 0;
  return ClearResolvedVariableCache();
}

TEvaluadorFormulas& TEvaluadorFormulas::ClearResolvedVariableCache() {
  hResolvedVariableCache.AsMap().Clear();
  return *this;
}

TEvaluadorFormulas& TEvaluadorFormulas::ResetLastError() {
  cLastError.clear();
  return *this;
}

bool TEvaluadorFormulas::EsResultadoError(const Value&, const Value&) const {
  return !cLastError.empty();
}

Value TEvaluadorFormulas::ErrorValue(const Value& texto) {
  cLastError.assign(texto.Str());
  ++nErrores;
  return texto;
}

// ---------------------------------------------------------------------------
// Parsing

Value TEvaluadorFormulas::PlanFormula(std::string_view text) {
  Map& cache = hFormulaPlanCache.AsMap();
  if (const Value* nodo = cache.Find(text)) return *nodo;
  Value nodo = ClasificarFormula(text);
  cache.Set(text, nodo);
  return nodo;
}

namespace {

Value ListaDeTextos(const std::vector<std::string_view>& partes) {
  Value lista = Value::NewList();
  lista.AsList().Reserve(partes.size());
  for (std::string_view p : partes) lista.Push(Value(p));
  return lista;
}

Value NodoConPartes(std::string_view tipo, const std::vector<std::string_view>& partes) {
  return Value::NewMap({{"tipo", tipo}, {"partes", ListaDeTextos(partes)}});
}

Value NodoAritmetico(const std::vector<ParAritmetico>& pares) {
  Value lista = Value::NewList();
  for (const auto& [cOperando, cOperador] : pares) {
    Value op = cOperador ? Value(std::string_view(&cOperador, 1)) : Value();
    lista.Push(Value::NewList({Value(cOperando), op}));
  }
  return Value::NewMap({{"tipo", "aritmetica"}, {"partes", lista}});
}

// The operand of a NOT prefix, when the text has one.
std::optional<std::string_view> OperandoNot(std::string_view t) {
  if (t.size() >= 4 && EqualsIgnoreCase(t.substr(0, 4), "NOT ")) return AllTrim(t.substr(4));
  if (t.size() >= 5 && EqualsIgnoreCase(t.substr(0, 5), ".NOT.")) return AllTrim(t.substr(5));
  if (!t.empty() && t[0] == '!') return AllTrim(t.substr(1));
  return std::nullopt;
}

}  // namespace

Value TEvaluadorFormulas::ClasificarFormula(std::string_view t) {
  if (EsLiteralTextoCompleto(t) || EsNumerico(t)) return Value::NewMap({{"tipo", "literal"}});
  std::vector<std::string_view> aOr = SepararPorOperadorLogico(t, ".OR.");
  std::vector<std::string_view> aAnd = SepararPorOperadorLogico(t, ".AND.");
  if (aOr.size() == 1 && aAnd.size() == 1) {
    if (auto operando = OperandoNot(t)) {
      return Value::NewMap({{"tipo", "not"}, {"expresion", *operando}});
    }
  }
  if (aOr.size() >= 2) return NodoConPartes("or", aOr);
  if (aAnd.size() >= 2) return NodoConPartes("and", aAnd);
  if (auto c = SepararComparacion(t)) {
    return Value::NewMap({{"tipo", "comparacion"},
                          {"left", c->cIzquierda},
                          {"operator", c->cOperador},
                          {"right", c->cDerecha}});
  }
  std::vector<std::string_view> aSuma = SepararPorSuma(t);
  if (aSuma.size() >= 2) return NodoConPartes("suma", aSuma);
  std::vector<ParAritmetico> aResta = SepararPorResta(t);
  if (aResta.size() >= 2) return NodoAritmetico(aResta);
  std::vector<ParAritmetico> aProducto = SepararPorOperadoresAritmeticos(t, "*/", false);
  if (aProducto.size() >= 2) return NodoAritmetico(aProducto);
  if (auto f = EsLlamadaFuncion(t)) {
    std::string cNombre = NormalizarNombreFuncion(f->cNombre);
    return Value::NewMap({{"tipo", "funcion"},
                          {"funcion", cNombre},
                          {"argumentos", ListaDeTextos(SepararArgumentos(f->cArgumentos))},
                          {"clave", cNombre}});
  }
  return Value::NewMap({{"tipo", "argumento"}});
}

bool TEvaluadorFormulas::EsFuncionInternaMotor(std::string_view name) {
  return CodigoFuncionMotor(name) != kNinguna;
}

// ---------------------------------------------------------------------------
// Building plans

const Value* TEvaluadorFormulas::Constante(std::string_view name) const {
  return hConstantes.AsMap().Find(ClaveSinMayusculas(name));
}

// Atom steps that do not depend on the variables: literals, numbers, truth
// words and constants.
bool TEvaluadorFormulas::ValorEstatico(std::string_view a, Value& out) const {
  if (a.empty()) {
    out = Value("");
    return true;
  }
  const char q = a.front();
  if ((q == '"' || q == '\'') && a.back() == q) {
    std::string_view cuerpo = a.size() >= 2 ? a.substr(1, a.size() - 2) : std::string_view();
    out = Value(KXTARUNESCAPEFORMULALITERAL(cuerpo, q));
    return true;
  }
  if (EsNumerico(a)) {
    Value n = ReadNumber(a);
    out = a.find('.') != std::string_view::npos ? n : IntPart(n);
    return true;
  }
  if (std::optional<bool> b = ValorBooleanoCondicion(a)) {
    out = Value(*b);
    return true;
  }
  if (const Value* c = Constante(a)) {
    out = *c;
    return true;
  }
  return false;
}

FormulaPlanRef TEvaluadorFormulas::CompileFormulaPlan(const Value& formula) {
  std::string cTemporal;
  std::string_view t = formula.IsText() ? formula.Str() : (cTemporal = ValorAString(formula));
  t = NormalizarFormula(t);
  if (t.empty()) return FormulaPlan::NuevoValor(Value(""), t);
  return Compilar(t);
}

// Builds are cut at the height limit. A text whose build meets the cut is too
// deep as a whole, so the rest of that build stops at once, and what depends
// on where the build started is not remembered: a text always compiles alike.
FormulaPlanRef TEvaluadorFormulas::Compilar(std::string_view t) {
  if (IsBlank(t)) return FormulaPlan::NuevoValor(Value(""), "");
  Map& cache = hExecutablePlanCache.AsMap();
  if (const Value* v = cache.Find(t)) return FormulaPlan::FromValue(*v);
  const bool lExterior = nConstruccion == 0;
  if (!lExterior && lConstruccionCortada) return nullptr;
  if (nConstruccion >= kMaxAlturaPlan) {
    lConstruccionCortada = true;
    return nullptr;
  }
  if (lExterior) lConstruccionCortada = false;
  ++nConstruccion;
  Ref<FormulaPlan> plan = BuildExecutablePlan(t);
  --nConstruccion;
  if (plan && (plan->Altura() > kMaxAlturaPlan || lConstruccionCortada)) plan.reset();
  if (lExterior || !lConstruccionCortada) {
    cache.Set(t, plan ? FormulaPlan::AsValue(plan) : Value(false));
  }
  if (lExterior) lConstruccionCortada = false;
  return plan;
}

Ref<FormulaPlan> TEvaluadorFormulas::BuildExecutablePlan(std::string_view t) {
  Value nodo = PlanFormula(t);
  std::string_view tipo = nodo.Get("tipo").Str();
  if (tipo == "literal") {
    Value v;
    ValorEstatico(t, v);
    return FormulaPlan::NuevoValor(v, t);
  }
  if (tipo == "argumento") {
    if (std::optional<bool> b = ValorBooleanoCondicion(t)) return FormulaPlan::NuevoValor(*b, t);
    if (const Value* c = Constante(t)) return FormulaPlan::NuevoValor(*c, t);
    if (IsIdentifier(t)) return FormulaPlan::NuevoVariable(t);
    return nullptr;
  }
  auto compilarEn = [&](Ref<FormulaPlan>& n, std::string_view parte) {
    FormulaPlanRef h = Compilar(parte);
    if (!h) return false;
    n->AgregarHijo(h);
    return true;
  };
  if (tipo == "comparacion") {
    Ref<FormulaPlan> n = FormulaPlan::Nuevo(TipoPlan::kComparison, t);
    LeerOperadorComparacion(nodo.Get("operator").Str(), n->eOperador_);
    if (!compilarEn(n, nodo.Get("left").Str()) || !compilarEn(n, nodo.Get("right").Str())) {
      return nullptr;
    }
    return n;
  }
  if (tipo == "not") {
    Ref<FormulaPlan> n = FormulaPlan::Nuevo(TipoPlan::kNot, t);
    return compilarEn(n, nodo.Get("expresion").Str()) ? n : nullptr;
  }
  if (tipo == "or" || tipo == "and" || tipo == "suma") {
    TipoPlan k = tipo == "or" ? TipoPlan::kOr : tipo == "and" ? TipoPlan::kAnd : TipoPlan::kSum;
    Ref<FormulaPlan> n = FormulaPlan::Nuevo(k, t);
    for (const Value& parte : nodo.Get("partes").AsList()) {
      if (!compilarEn(n, parte.Str())) return nullptr;
    }
    return n;
  }
  if (tipo == "funcion") return ConstruirFuncion(nodo, t, true);
  return nullptr;  // "aritmetica" does not compile
}

// A call: IIF, IF and COND, an engine function, or a library function.
Ref<FormulaPlan> TEvaluadorFormulas::ConstruirFuncion(const Value& nodo, std::string_view t,
                                                      bool compilado) {
  const Value& cNombre = nodo.Get("funcion");
  std::string_view clave = nodo.Get("clave").Str();
  const List& aArgs = nodo.Get("argumentos").AsList();
  auto hijo = [&](std::string_view texto) { return compilado ? Compilar(texto) : Ruta(texto); };
  if (clave == "IF" || clave == "IIF" || clave == "COND") {
    Value cError = Texto3("[Formula IIf no valida: ", t, "]");
    if (aArgs.size() != 3) return compilado ? nullptr : FormulaPlan::NuevoError(cError, t);
    Ref<FormulaPlan> n = FormulaPlan::Nuevo(compilado ? TipoPlan::kIf : TipoPlan::kIIfCondicion, t);
    n->cError_ = cError;
    FormulaPlanRef cond;
    if (compilado) {
      cond = Compilar(aArgs[0].Str());
    } else {
      cond = ConstruirCondicion(aArgs[0].Str());
    }
    if (!cond) return nullptr;
    n->AgregarHijo(cond);
    for (size_t i = 1; i < 3; ++i) {
      FormulaPlanRef h = hijo(aArgs[i].Str());
      if (!h) return nullptr;
      n->AgregarHijo(h);
    }
    return n;
  }
  if (FuncionMotor f = CodigoFuncionMotor(clave); f != kNinguna) {
    Ref<FormulaPlan> n = FormulaPlan::Nuevo(TipoPlan::kEngineFunction, t);
    n->vValor_ = cNombre;
    n->nCodigo_ = f;
    n->aArgumentos_ = nodo.Get("argumentos");
    return n;
  }
  Ref<FormulaPlan> n = FormulaPlan::Nuevo(TipoPlan::kFunction, t);
  n->vValor_ = cNombre;
  n->nCodigo_ = TFuncFormulas::CodigoFuncion(clave);
  for (const Value& a : aArgs) {
    FormulaPlanRef h = hijo(a.Str());
    if (!h) return nullptr;
    n->AgregarHijo(h);
  }
  // A literal mask is analysed now, not on every call.
  if (n->nCodigo_ == TFuncFormulas::CodigoTransform() && oFuncFormulas && n->aHijos_.size() >= 2 &&
      n->aHijos_[1]->Tipo() == TipoPlan::kValue) {
    n->vPlanMascara_ = oFuncFormulas->PlanMascara(n->aHijos_[1]->Valor());
  }
  return n;
}

// The plan that evaluating the text follows: the compiled plan of its
// normalised form, else its interpreted plan.
FormulaPlanRef TEvaluadorFormulas::Ruta(std::string_view text) {
  std::string_view t = NormalizarFormula(text);
  if (t.empty()) return FormulaPlan::NuevoValor(Value(""), "");
  return RutaNormalizada(t);
}

FormulaPlanRef TEvaluadorFormulas::RutaNormalizada(std::string_view t) {
  if (FormulaPlanRef plan = Compilar(t)) return plan;
  return Interpretado(t);
}

FormulaPlanRef TEvaluadorFormulas::Interpretado(std::string_view t) {
  Map& cache = hInterpretedPlanCache.AsMap();
  if (const Value* v = cache.Find(t)) return FormulaPlan::FromValue(*v);
  const bool lExterior = nConstruccion == 0;
  if (!lExterior && lConstruccionCortada) return FormulaPlan::NuevoError(ErrorExpresion(t), t);
  if (nConstruccion >= kMaxAlturaPlan) {
    lConstruccionCortada = true;
    return FormulaPlan::NuevoError(ErrorExpresion(t), t);
  }
  if (lExterior) lConstruccionCortada = false;
  ++nConstruccion;
  Ref<FormulaPlan> plan = BuildInterpretedPlan(t);
  --nConstruccion;
  // Too deep a formula is an invalid expression as a whole.
  if (plan->Altura() > kMaxAlturaPlan || (lExterior && lConstruccionCortada)) {
    plan = FormulaPlan::NuevoError(ErrorExpresion(t), t);
  }
  if (lExterior || !lConstruccionCortada) cache.Set(t, FormulaPlan::AsValue(plan));
  if (lExterior) lConstruccionCortada = false;
  return plan;
}

Ref<FormulaPlan> TEvaluadorFormulas::BuildInterpretedPlan(std::string_view t) {
  Value nodo = PlanFormula(t);
  std::string_view tipo = nodo.Get("tipo").Str();
  if (tipo == "literal" || tipo == "argumento") return ConstruirAtomo(t);
  if (tipo == "not") {
    Ref<FormulaPlan> n = FormulaPlan::Nuevo(TipoPlan::kNoCondicion, t);
    n->AgregarHijo(ConstruirCondicion(nodo.Get("expresion").Str()));
    return n;
  }
  if (tipo == "or" || tipo == "and") {
    Ref<FormulaPlan> n =
        FormulaPlan::Nuevo(tipo == "or" ? TipoPlan::kOCondiciones : TipoPlan::kYCondiciones, t);
    for (const Value& parte : nodo.Get("partes").AsList()) {
      n->AgregarHijo(ConstruirCondicion(parte.Str()));
    }
    return n;
  }
  if (tipo == "comparacion") {
    Ref<FormulaPlan> n = FormulaPlan::Nuevo(TipoPlan::kComparison, t);
    LeerOperadorComparacion(nodo.Get("operator").Str(), n->eOperador_);
    n->AgregarHijo(Ruta(nodo.Get("left").Str()));
    n->AgregarHijo(Ruta(nodo.Get("right").Str()));
    return n;
  }
  if (tipo == "suma") {
    Ref<FormulaPlan> n = FormulaPlan::Nuevo(TipoPlan::kSum, t);
    for (const Value& parte : nodo.Get("partes").AsList()) n->AgregarHijo(Ruta(parte.Str()));
    return n;
  }
  if (tipo == "aritmetica") {
    Ref<FormulaPlan> n = FormulaPlan::Nuevo(TipoPlan::kAritmetica, t);
    n->aArgumentos_ = Value::NewList();
    for (const Value& par : nodo.Get("partes").AsList()) {
      const List& p = par.AsList();
      n->AgregarHijo(Ruta(p[0].Str()));
      n->aArgumentos_.Push(p[0]);
      n->aOperadores_.push_back(p[1].IsText() ? p[1].Str()[0] : '\0');
    }
    return n;
  }
  return ConstruirFuncion(nodo, t, false);
}

// An atom: its fixed value, or a lookup of the variables with the "@"
// fallbacks and the error it answers when nothing is found.
Ref<FormulaPlan> TEvaluadorFormulas::ConstruirAtomo(std::string_view t) {
  Value fijo;
  if (ValorEstatico(t, fijo)) return FormulaPlan::NuevoValor(fijo, t);
  Ref<FormulaPlan> n = FormulaPlan::NuevoVariable(t);
  n->eTipo_ = TipoPlan::kAtomo;
  if (!IsIdentifier(t)) n->cError_ = ErrorExpresion(t);
  if (t.size() > 1 && t[0] == '@') {
    std::string_view cNombre = t.substr(1);
    n->AgregarHijo(FormulaPlan::NuevoVariable(std::string("VAR.").append(cNombre)));
    n->AgregarHijo(FormulaPlan::NuevoVariable(std::string("SUM.").append(cNombre)));
  }
  return n;
}

// A text judged as a condition: blank holds, a truth word decides without
// evaluation, anything else is evaluated and judged.
Ref<FormulaPlan> TEvaluadorFormulas::ConstruirCondicion(std::string_view text) {
  std::string_view t = AllTrim(text);
  Ref<FormulaPlan> n = FormulaPlan::Nuevo(TipoPlan::kCondicion, t);
  if (t.empty()) {
    n->nCodigo_ = 1;
  } else if (std::optional<bool> b = ValorBooleanoCondicion(t)) {
    n->nCodigo_ = *b ? 1 : 2;
  } else {
    n->AgregarHijo(Ruta(t));
  }
  return n;
}

// ---------------------------------------------------------------------------
// Evaluation entry points

Value TEvaluadorFormulas::Evaluar(const Value& formula, const Value& variables) {
  cLastError.clear();
  return EvaluarFormula(formula, variables);
}

Value TEvaluadorFormulas::EvaluarFormula(const Value& formula, const Value& variables) {
  const Map& vars = MapaVariables(variables);
  if (formula.IsText()) return EvaluarTextoFormula(formula.Str(), vars);
  std::string texto = ValorAString(formula);
  return EvaluarTextoFormula(texto, vars);
}

// The interpreter's answer for the text even when it compiles (its parts
// still take their own roads).
Value TEvaluadorFormulas::EvaluarInterpretado(const Value& formula, const Value& variables) {
  std::string texto = ValorAString(formula);
  std::string_view t = NormalizarFormula(texto);
  if (t.empty()) return Value("");
  Ref<FormulaPlan> plan = BuildInterpretedPlan(t);
  lConstruccionCortada = false;
  return EvaluarNodo(*plan, MapaVariables(variables));
}

Value TEvaluadorFormulas::EvaluarTextoFormula(std::string_view text, const Map& vars) {
  std::string_view t = NormalizarFormula(text);
  if (t.empty()) return Value("");
  Nivel nivel(nProfundidad);
  if (nivel.Excedido()) return ErrorValue(ErrorExpresion(t));
  FormulaPlanRef ruta = RutaNormalizada(t);
  return EvaluarNodo(*ruta, vars);
}

Value TEvaluadorFormulas::EvaluarTexto(const Value& formula, const Value& variables) {
  return Value(ValorATexto(EvaluarFormula(formula, variables)));
}

Value TEvaluadorFormulas::ResolverTexto(const Value& formula, const Value& variables) {
  return EvaluarTexto(formula, variables);
}

Value TEvaluadorFormulas::EvaluarCondicion(const Value& condition, const Value& variables) {
  EstadoCondicion e = CondicionDeTexto(condition, MapaVariables(variables));
  std::string_view cMotivo = e == EstadoCondicion::kCumple  ? ""
                             : e == EstadoCondicion::kFalsa ? "condicion falsa"
                                                            : "condicion no valida";
  return Value::NewMap({{"lVisible", e == EstadoCondicion::kCumple}, {"cMotivo", cMotivo}});
}

bool TEvaluadorFormulas::CumpleCondicion(const Value& condition, const Value& variables) {
  return CondicionDeTexto(condition, MapaVariables(variables)) == EstadoCondicion::kCumple;
}

namespace {

// A condition's value judged: a text holding "[" is invalid, then logicals,
// truth words and emptiness decide.
bool EsTextoConCorchete(const Value& v) {
  return v.IsText() && v.Str().find('[') != std::string_view::npos;
}

}  // namespace

TEvaluadorFormulas::EstadoCondicion TEvaluadorFormulas::CondicionDeTexto(const Value& condition,
                                                                         const Map& vars) {
  std::string cTemporal;
  std::string_view t = condition.IsText() ? condition.Str() : (cTemporal = ValorAString(condition));
  t = AllTrim(t);
  if (t.empty()) return EstadoCondicion::kCumple;
  if (std::optional<bool> b = ValorBooleanoCondicion(t)) {
    return *b ? EstadoCondicion::kCumple : EstadoCondicion::kFalsa;
  }
  Value v = EvaluarTextoFormula(t, vars);
  if (EsTextoConCorchete(v)) return EstadoCondicion::kInvalida;
  return Verdadero(v) ? EstadoCondicion::kCumple : EstadoCondicion::kFalsa;
}

Value TEvaluadorFormulas::EvaluateFormulaPlan(const FormulaPlanRef& plan, const Value& variables) {
  if (!plan) return Value();
  return EvaluarNodo(*plan, MapaVariables(variables));
}

Value TEvaluadorFormulas::EvaluateFormulaPlan(const Value& plan, const Value& variables) {
  return EvaluateFormulaPlan(FormulaPlan::FromValue(plan), variables);
}

// ---------------------------------------------------------------------------
// Evaluating plans

Value TEvaluadorFormulas::EvaluarNodo(const FormulaPlan& n, const Map& vars) {
  Nivel nivel(nProfundidad);
  if (nivel.Excedido()) return ErrorValue(ErrorExpresion(n.Texto()));
  const std::vector<FormulaPlanRef>& h = n.aHijos_;
  switch (n.eTipo_) {
    case TipoPlan::kValue:
      return n.vValor_;
    case TipoPlan::kVariable:
    case TipoPlan::kAtomo:
      return EvaluarVariable(n, vars);
    case TipoPlan::kComparison:
      return CompararValores(EvaluarNodo(*h[0], vars), n.eOperador_, EvaluarNodo(*h[1], vars));
    case TipoPlan::kNot:
      return !Verdadero(EvaluarNodo(*h[0], vars));
    case TipoPlan::kAnd:
      for (const FormulaPlanRef& c : h) {
        if (!Verdadero(EvaluarNodo(*c, vars))) return false;
      }
      return true;
    case TipoPlan::kOr:
      for (const FormulaPlanRef& c : h) {
        if (Verdadero(EvaluarNodo(*c, vars))) return true;
      }
      return false;
    case TipoPlan::kSum:
      return EvaluarSuma(n, vars);
    case TipoPlan::kIf:
      return EvaluarNodo(Verdadero(EvaluarNodo(*h[0], vars)) ? *h[1] : *h[2], vars);
    case TipoPlan::kEngineFunction:
      return ResolverFuncionInternaMotor(n, vars);
    case TipoPlan::kFunction:
      return EvaluarFuncion(n, vars);
    case TipoPlan::kNoCondicion:
      return EvaluarCondicionNodo(*h[0], vars) != EstadoCondicion::kCumple;
    case TipoPlan::kYCondiciones:
      for (const FormulaPlanRef& c : h) {
        if (EvaluarCondicionNodo(*c, vars) != EstadoCondicion::kCumple) return false;
      }
      return true;
    case TipoPlan::kOCondiciones:
      for (const FormulaPlanRef& c : h) {
        if (EvaluarCondicionNodo(*c, vars) == EstadoCondicion::kCumple) return true;
      }
      return false;
    case TipoPlan::kAritmetica:
      return EvaluarOperacionAritmetica(n, vars);
    case TipoPlan::kIIfCondicion:
      switch (EvaluarCondicionNodo(*h[0], vars)) {
        case EstadoCondicion::kInvalida:
          return ErrorValue(n.cError_);
        case EstadoCondicion::kCumple:
          return EvaluarNodo(*h[1], vars);
        case EstadoCondicion::kFalsa:
          return EvaluarNodo(*h[2], vars);
      }
      return Value();
    case TipoPlan::kCondicion:
      return EvaluarCondicionNodo(n, vars) == EstadoCondicion::kCumple;
    case TipoPlan::kError:
      return ErrorValue(n.vValor_);
  }
  return Value();
}

TEvaluadorFormulas::EstadoCondicion TEvaluadorFormulas::EvaluarCondicionNodo(const FormulaPlan& n,
                                                                             const Map& vars) {
  if (n.eTipo_ == TipoPlan::kCondicion && n.aHijos_.empty()) {
    return n.nCodigo_ == 1 ? EstadoCondicion::kCumple : EstadoCondicion::kFalsa;
  }
  const FormulaPlan& valor = n.eTipo_ == TipoPlan::kCondicion ? *n.aHijos_[0] : n;
  Value v = EvaluarNodo(valor, vars);
  if (EsTextoConCorchete(v)) return EstadoCondicion::kInvalida;
  return Verdadero(v) ? EstadoCondicion::kCumple : EstadoCondicion::kFalsa;
}

// The key position of the node's name in the map: remembered per node and
// valid while the map's keys stay as they were; an exact hit is also tried
// at the remembered position of a map with another key version (a map
// rebuilt with the same layout).
const Value* TEvaluadorFormulas::BuscarVariable(const FormulaPlan& n, const Map& vars) const {
  FormulaPlan::CachePosicion& c = n.oPosicion_;
  const uint64_t nVersion = vars.KeyVersion();
  if (c.nVersion == nVersion) return c.nPos == Map::npos ? nullptr : &vars.ValueAt(c.nPos);
  std::string_view cNombre = n.vValor_.Str();
  if (c.lExacta && c.nPos < vars.size() && vars.KeyAt(c.nPos) == cNombre) {
    c.nVersion = nVersion;
    return &vars.ValueAt(c.nPos);
  }
  size_t nPos = vars.IndexOf(cNombre);
  bool lExacta = nPos != Map::npos;
  if (!lExacta) {
    for (size_t i = 0; i < vars.size(); ++i) {
      if (CoincideSinMayusculas(vars.KeyAt(i), n.cClave_)) {
        nPos = i;
        break;
      }
    }
  }
  c = {nVersion, nPos, lExacta};
  return nPos == Map::npos ? nullptr : &vars.ValueAt(nPos);
}

Value TEvaluadorFormulas::EvaluarVariable(const FormulaPlan& n, const Map& vars) {
  if (const Value* v = BuscarVariable(n, vars)) return ResolveVariableValue(n, *v, vars);
  for (const FormulaPlanRef& alternativa : n.aHijos_) {  // "@name": VAR.name, then SUM.name
    if (const Value* v = BuscarVariable(*alternativa, vars)) {
      return ResolveVariableValue(*alternativa, *v, vars);
    }
  }
  return ErrorValue(n.cError_);
}

Value TEvaluadorFormulas::ResolveVariableValue(const FormulaPlan& n, const Value& valor,
                                               const Map& vars) {
  if (!n.lVariableFormula_ || !valor.IsText()) return valor;
  return ResolveVariableValue(n.vValor_.Str(), n.cClave_, valor, vars);
}

// A user variable or accumulator holding a formula text is evaluated once
// per cache lifetime; one met again while it is being evaluated answers its
// text (or the circular-reference error when the option asks for it).
Value TEvaluadorFormulas::ResolveVariableValue(std::string_view name, std::string_view clave,
                                               const Value& valor, const Map& vars) {
  if (!valor.IsText() || !TienePrefijoVariableFormula(name)) return valor;
  if (!EsFormulaDeUsuario(name, valor.Str())) return valor;
  Map& resueltas = hResolvedVariableCache.AsMap();
  if (const Value* v = resueltas.Find(name)) return *v;
  if (IsBlank(valor.Str())) return Value("");
  Map& resolviendo = hVariablesResolviendo.AsMap();
  if (resolviendo.Has(clave)) {
    if (hOpciones.Get("detectarCircularidad").Bool()) {
      return Texto3("[Referencia circular: ", name, "]");
    }
    return valor;
  }
  resolviendo.Set(clave, true);
  const Value formula = valor;  // keeps the text while it is evaluated
  Value resultado = EvaluarTextoFormula(AllTrim(formula.Str()), vars);
  resolviendo.Remove(clave);
  hResolvedVariableCache.AsMap().Set(name, resultado);
  return resultado;
}

// With the template's user variables in the options, as every run has them,
// only the text of a user variable's own formula runs: a data text under a
// group the host named VAR or SUM stays data (it could call LoadFile). An
// evaluator without them, evaluating formulas on its own, takes every "VAR."
// and "SUM." text as a formula.
bool TEvaluadorFormulas::EsFormulaDeUsuario(std::string_view name, std::string_view texto) const {
  const Map* definiciones = hOpciones.Get("hUserVars").MapPtr();
  if (!definiciones) return true;
  std::string_view t = AllTrim(name);
  if (!EqualsIgnoreCase(t.substr(0, 4), "VAR.")) return false;
  std::string_view nombre = t.substr(4);
  auto esSuFormula = [&](const Value& definicion) {
    if (!definicion.IsMap()) return false;
    const Value& formula = definicion.Get("formula");
    return formula.IsText() ? formula.Str() == texto : FormulaString(formula) == texto;
  };
  if (const Value* d = definiciones->Find(nombre)) return esSuFormula(*d);
  const std::string cClave = ClaveSinMayusculas(nombre);
  for (size_t i = 0; i < definiciones->size(); ++i) {
    if (CoincideSinMayusculas(definiciones->KeyAt(i), cClave) &&
        esSuFormula(definiciones->ValueAt(i))) {
      return true;
    }
  }
  return false;
}

Value TEvaluadorFormulas::EvaluarSuma(const FormulaPlan& n, const Map& vars) {
  const size_t nBase = aPilaValores.size();
  bool lNumeros = true;
  for (const FormulaPlanRef& c : n.aHijos_) {
    Value v = EvaluarNodo(*c, vars);
    lNumeros = lNumeros && v.IsNumber();
    aPilaValores.push_back(std::move(v));
  }
  Value resultado;
  if (lNumeros) {
    Value total(0);
    for (size_t i = nBase; i < aPilaValores.size(); ++i) {
      total = Add(total, LeerNumero(aPilaValores[i]));
    }
    resultado = EnteroSiIntegral(total);
  } else {
    cConcatenacion.clear();
    for (size_t i = nBase; i < aPilaValores.size(); ++i) {
      AgregarValorATexto(cConcatenacion, aPilaValores[i]);
    }
    resultado = Value(cConcatenacion);
  }
  aPilaValores.resize(nBase);
  return resultado;
}

// "-" falls back on the difference of two dates when a side is no number;
// every operand is read back from its text, so 10/3*3 gives 9.99.
Value TEvaluadorFormulas::EvaluarOperacionAritmetica(const FormulaPlan& n, const Map& vars) {
  const std::vector<FormulaPlanRef>& h = n.aHijos_;
  Value actual = EvaluarNodo(*h[0], vars);
  for (size_t i = 1; i < h.size(); ++i) {
    Value v = EvaluarNodo(*h[i], vars);
    char op = n.aOperadores_[i];
    bool lNumeros = EsNumericoValor(actual) && EsNumericoValor(v);
    if (op == '-' && !lNumeros) {
      Value dias = oFuncFormulas ? oFuncFormulas->DateDifference(actual, v) : Value();
      if (!EsNumericoValor(dias))
        return ErrorValue(ErrorExpresion(n.aArgumentos_.AsList()[i].Str()));
      actual = dias;
      continue;
    }
    if (!lNumeros) return ErrorValue(ErrorExpresion(n.aArgumentos_.AsList()[i].Str()));
    Value a = LeerNumero(actual);
    Value b = LeerNumero(v);
    actual = op == '-' ? Sub(a, b) : op == '*' ? Mul(a, b) : Div(a, b);
  }
  if (!EsNumericoValor(actual)) return ErrorValue(Value("[Expresion no valida]"));
  return EnteroSiIntegral(actual);
}

Value TEvaluadorFormulas::EvaluarFuncion(const FormulaPlan& n, const Map& vars) {
  const size_t nBase = aPilaValores.size();
  for (const FormulaPlanRef& c : n.aHijos_) aPilaValores.push_back(EvaluarNodo(*c, vars));
  Value resultado;
  if (!oFuncFormulas) {
    resultado = ErrorValue(Texto3("[Funcion no implementada: ", n.Nombre(), "]"));
  } else {
    std::span<const Value> args(aPilaValores.data() + nBase, aPilaValores.size() - nBase);
    resultado = oFuncFormulas->Ejecutar(n.nCodigo_, n.Nombre(), args, n.vPlanMascara_);
    if (EsErrorDeFuncion(resultado)) ErrorValue(resultado);
  }
  aPilaValores.resize(nBase);
  return resultado;
}

// ---------------------------------------------------------------------------
// Execution state and engine functions

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
  // The context sends the state on every record: a state map that holds only
  // the nine keys and is nobody else's is reset in place.
  Map* estado = hEstadoEjecucion.MapPtr();
  if (estado && estado->RefCount() == 1 && estado->size() == kClavesEstado) {
    const Map& defecto = hEstadoPorDefecto.AsMap();
    for (size_t i = 0; i < kClavesEstado; ++i) estado->ValueAt(i) = defecto.ValueAt(i);
  } else {
    hEstadoEjecucion = Value(MakeRef<Map>(hEstadoPorDefecto.AsMap()));
    estado = hEstadoEjecucion.MapPtr();
  }
  if (const Map* m = hEstado.MapPtr()) {
    if (m != pEstadoEntrada || m->KeyVersion() != nEstadoEntradaVersion) {
      pEstadoEntrada = m;
      nEstadoEntradaVersion = m->KeyVersion();
      aEstadoEntradaPos.clear();
      for (const Map::Entry& e : *m)
        aEstadoEntradaPos.push_back(hEstadoPorDefecto.AsMap().IndexOf(e.key.Str()));
    }
    // Keys outside the nine make a larger state, which only the keyed road builds.
    bool porPosicion = estado->size() == kClavesEstado &&
                       std::find(aEstadoEntradaPos.begin(), aEstadoEntradaPos.end(), Map::npos) ==
                           aEstadoEntradaPos.end();
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
  const Value* registros = HashGet(hOpciones, "aRegistrosDetalleRuntime");
  if (!registros || !registros->IsList() || registros->AsList().empty()) {
    Value v = EvaluarNodo(ruta, vars);
    return EsNumericoValor(v) ? LeerNumero(v) : Value(0);
  }
  const List& lista = registros->AsList();
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
    const Map* registro = lista[k].MapPtr();
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
  const List& lista = memo.aRegistros.AsList();
  while (!memo.lDetenido && memo.aTotales.size() < hasta) {
    const size_t k = memo.aTotales.size();
    Value anterior = k > 0 ? memo.aTotales[k - 1] : Value(0);
    const Map* registro = lista[k].MapPtr();
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
  const Value* respuestas = HashGet(hOpciones, "hAskStringValues");
  if (respuestas && respuestas->IsMap()) {
    if (const Value* r = HashGet(respuestas->AsMap(), cPregunta)) cRespuesta = ValorAString(*r);
  }
  if (nMaximo > 0) return Value(Utf8Substr(cRespuesta, 1, nMaximo));
  return Value(cRespuesta);
}

Value TEvaluadorFormulas::ProjectPath(const FormulaPlan& n, const Map& vars) {
  auto opcion = [&](std::string_view clave) {
    const Value* v = HashGet(hOpciones, clave);
    return std::string(AllTrim(v ? ValorAString(*v) : std::string()));
  };
  std::string cArchivo = opcion("cProjectFilePath");
  std::string cCarpeta = opcion("cProjectPath");
  std::string cNombre = opcion("cProjectFileName");
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

// ---------------------------------------------------------------------------
// Simple accumulator plans

SimpleAccumulatorPlanRef TEvaluadorFormulas::CompileSimpleAccumulatorPlan(
    const FormulaPlanRef& plan) {
  return SimpleAccumulatorPlan::Build(plan);
}

bool TEvaluadorFormulas::SimpleAccumulatorFalseIsZero(const SimpleAccumulatorPlanRef& plan) const {
  return plan && plan->FalseIsZero();
}

// A fixed value, or the variable's value without an error value when absent.
Value TEvaluadorFormulas::EvaluateSimpleAccumulatorOperand(const FormulaPlanRef& operand,
                                                           const Map& vars) {
  if (operand->Tipo() == TipoPlan::kValue) return operand->Valor();
  const Value* v = BuscarVariable(*operand, vars);
  return v ? ResolveVariableValue(*operand, *v, vars) : Value();
}

bool TEvaluadorFormulas::EvaluateSimpleAccumulatorCondition(const SimpleAccumulatorPlanRef& plan,
                                                            const Value& variables) {
  if (!plan) return false;
  const Map& vars = MapaVariables(variables);
  for (const SimpleAccumulatorPlan::Condicion& c : plan->Condiciones()) {
    if (!CompararValores(EvaluateSimpleAccumulatorOperand(c.oIzquierda, vars), c.eOperador,
                         EvaluateSimpleAccumulatorOperand(c.oDerecha, vars))) {
      return false;
    }
  }
  return true;
}

Value TEvaluadorFormulas::EvaluateSimpleAccumulatorValue(const SimpleAccumulatorPlanRef& plan,
                                                         bool condition, const Value& variables) {
  if (!plan) return Value();
  return EvaluateSimpleAccumulatorOperand(condition ? plan->Verdadero() : plan->Falso(),
                                          MapaVariables(variables));
}

}  // namespace kx
