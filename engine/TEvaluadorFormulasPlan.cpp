// The evaluator's plan building: compiled plans of the formulas that
// compile, interpreted plans of the others, and the simple-accumulator form.
#include "TEvaluadorFormulas.h"
#include "TEvaluadorFormulasInterno.h"

namespace kx {

using namespace evaluador;

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
// A text that nests past the limit is known to be cut before anything of it
// is built (its every level would otherwise be scanned and remembered).
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
  if (lExterior && AnidamientoExcede(t, kMaxAlturaPlan)) return TextoDemasiadoProfundo(t);
  if (lExterior) lConstruccionCortada = false;
  ++nConstruccion;
  Ref<FormulaPlan> plan = BuildExecutablePlan(t);
  --nConstruccion;
  if (lExterior && lConstruccionCortada) return TextoDemasiadoProfundo(t);
  if (plan && (plan->Altura() > kMaxAlturaPlan || lConstruccionCortada)) plan.reset();
  if (lExterior || !lConstruccionCortada) {
    cache.Set(t, plan ? FormulaPlan::AsValue(plan) : Value(false));
  }
  return plan;
}

// A text too deep as a whole compiles to nothing and interprets to the
// invalid-expression error. Its interpreted build is never shallower than
// its compiled one, so it is not built again only to be cut again.
FormulaPlanRef TEvaluadorFormulas::TextoDemasiadoProfundo(std::string_view t) {
  lConstruccionCortada = false;
  hExecutablePlanCache.AsMap().Set(t, Value(false));
  hInterpretedPlanCache.AsMap().Set(
      t, FormulaPlan::AsValue(FormulaPlan::NuevoError(ErrorExpresion(t), t)));
  return nullptr;
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
  if (EsFuncionInternaMotor(clave)) {
    Ref<FormulaPlan> n = FormulaPlan::Nuevo(TipoPlan::kEngineFunction, t);
    n->vValor_ = cNombre;
    n->nCodigo_ = CodigoFuncionMotor(clave);
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
  if (lExterior && AnidamientoExcede(t, kMaxAlturaPlan)) {
    TextoDemasiadoProfundo(t);
    return FormulaPlan::FromValue(*cache.Find(t));
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
