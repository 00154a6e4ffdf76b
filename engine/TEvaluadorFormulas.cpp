#include "TEvaluadorFormulas.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "FormulaSyntax.h"
#include "RuntimeOptions.h"
#include "TEvaluadorFormulasInterno.h"

namespace kx {

using namespace evaluador;

namespace {

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
  nUltimaPaginaTabla = -1;
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
  const Value& ultima = hOpciones.Get(opcion::nUltimaPaginaRuntime);
  nUltimaPagina = ultima.IsNumber() ? std::max<int64_t>(0, EnteroDe(ultima, 0)) : 0;
  lSumasFormula = !hOpciones.Get(opcion::hUserVars).IsMap();
  return ClearResolvedVariableCache();
}

TEvaluadorFormulas& TEvaluadorFormulas::SetUltimaPaginaTabla(int ultima) {
  nUltimaPaginaTabla = ultima < 0 ? -1 : ultima > 0 ? 1 : 0;
  return ClearResolvedVariableCache();
}

TEvaluadorFormulas& TEvaluadorFormulas::ClearResolvedVariableCache() {
  // Cleared for every record: mostly there is nothing in it.
  Map& cache = hResolvedVariableCache.AsMap();
  if (!cache.empty()) cache.Clear();
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
  if (size_t n = LongitudPrefijoNot(t)) return AllTrim(t.substr(n));
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
  const Map* definiciones = hOpciones.Get(opcion::hUserVars).MapPtr();
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

}  // namespace kx
