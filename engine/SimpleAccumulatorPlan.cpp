#include "SimpleAccumulatorPlan.h"

#include "FormulaSyntax.h"

namespace kx {

namespace {

// Literals, truth words, constants and dotted data fields are simple; user
// variables and accumulators are not.
bool EsOperandoSimple(const FormulaPlanRef& node) {
  if (!node) return false;
  if (node->Tipo() == TipoPlan::kValue) return true;
  if (node->Tipo() != TipoPlan::kVariable) return false;
  std::string_view cNombre = node->Nombre();
  return cNombre.find('.') != std::string_view::npos && !TienePrefijoVariableFormula(cNombre);
}

// Appends the conditions of a comparison or of an .AND. of them; false as
// soon as a part is of another kind.
bool AgregarCondiciones(const FormulaPlanRef& node,
                        std::vector<SimpleAccumulatorPlan::Condicion>& out) {
  if (!node) return false;
  if (node->Tipo() == TipoPlan::kAnd) {
    for (const FormulaPlanRef& h : node->Hijos()) {
      if (!AgregarCondiciones(h, out)) return false;
    }
    return true;
  }
  if (node->Tipo() != TipoPlan::kComparison || node->Hijos().size() != 2) return false;
  const FormulaPlanRef& izq = node->Hijos()[0];
  const FormulaPlanRef& der = node->Hijos()[1];
  if (!EsOperandoSimple(izq) || !EsOperandoSimple(der)) return false;
  OperadorComparacion op;
  if (!LeerOperadorComparacion(node->Operador(), op)) return false;
  out.push_back({izq, op, der});
  return true;
}

Value ListaOperando(const FormulaPlanRef& node) {
  if (node->Tipo() == TipoPlan::kValue) return Value::NewList({Value(1), node->Valor()});
  return Value::NewList({Value(2), Value(node->Nombre())});
}

}  // namespace

SimpleAccumulatorPlanRef SimpleAccumulatorPlan::Build(const FormulaPlanRef& plan) {
  if (!plan || plan->Tipo() != TipoPlan::kIf) return nullptr;
  Ref<SimpleAccumulatorPlan> simple(new SimpleAccumulatorPlan());
  if (!AgregarCondiciones(plan->Condition(), simple->aCondiciones_) ||
      simple->aCondiciones_.empty()) {
    return nullptr;
  }
  if (!EsOperandoSimple(plan->TrueBranch()) || !EsOperandoSimple(plan->FalseBranch())) {
    return nullptr;
  }
  simple->oVerdadero_ = plan->TrueBranch();
  simple->oFalso_ = plan->FalseBranch();
  return simple;
}

bool SimpleAccumulatorPlan::FalseIsZero() const {
  return oFalso_ && oFalso_->Tipo() == TipoPlan::kValue && oFalso_->Valor().IsNumber() &&
         oFalso_->Valor().Double() == 0.0;
}

Value SimpleAccumulatorPlan::ToList() const {
  Value aCondiciones = Value::NewList();
  for (const Condicion& c : aCondiciones_) {
    aCondiciones.Push(
        Value::NewList({ListaOperando(c.oIzquierda), Value(TextoOperadorComparacion(c.eOperador)),
                        ListaOperando(c.oDerecha)}));
  }
  return Value::NewList({aCondiciones, ListaOperando(oVerdadero_), ListaOperando(oFalso_)});
}

Value SimpleAccumulatorPlan::AsValue(const SimpleAccumulatorPlanRef& plan) {
  if (!plan) return Value();
  // Holders only read a simple plan through its const interface.
  return Value::Object(Ref<KXObject>(const_cast<SimpleAccumulatorPlan*>(plan.get())));
}

SimpleAccumulatorPlanRef SimpleAccumulatorPlan::FromValue(const Value& v) {
  return SimpleAccumulatorPlanRef(v.As<SimpleAccumulatorPlan>());
}

}  // namespace kx
