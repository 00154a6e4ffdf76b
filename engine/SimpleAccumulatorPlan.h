// The flat form of an accumulator formula IIF(field comparisons, operand,
// operand): the execution context tests its conditions and picks its value
// for every detail record without evaluating a formula.
//
// Its list form (`ToList`) has three slots: the conditions (each a list of
// left operand, operator text, right operand), the operand answered when all
// hold, the operand answered otherwise; an operand is (1, fixed value) or
// (2, variable name). Operands share the "value" and "variable" nodes of the
// compiled plan they come from, with their key-position memos.
#pragma once

#include <vector>

#include "FormulaPlan.h"

namespace kx {

class SimpleAccumulatorPlan;
using SimpleAccumulatorPlanRef = Ref<const SimpleAccumulatorPlan>;

class SimpleAccumulatorPlan final : public KXObject {
 public:
  struct Condicion {
    FormulaPlanRef oIzquierda;
    OperadorComparacion eOperador;
    FormulaPlanRef oDerecha;
  };

  std::string_view ClassName() const override { return "SimpleAccumulatorPlan"; }

  // The simple plan of a compiled "if" plan, or null when it has none.
  static SimpleAccumulatorPlanRef Build(const FormulaPlanRef& plan);

  // The conditions, all of which must hold, in order.
  const std::vector<Condicion>& Condiciones() const { return aCondiciones_; }
  // The operands answered when the conditions hold, and otherwise.
  const FormulaPlanRef& Verdadero() const { return oVerdadero_; }
  const FormulaPlanRef& Falso() const { return oFalso_; }
  // The false operand is a fixed number equal to 0.
  bool FalseIsZero() const;
  // The three-slot list form.
  Value ToList() const;

  // A simple plan carried in a Value (an object), and back.
  static Value AsValue(const SimpleAccumulatorPlanRef& plan);
  static SimpleAccumulatorPlanRef FromValue(const Value& v);

 private:
  SimpleAccumulatorPlan() = default;

  std::vector<Condicion> aCondiciones_;
  FormulaPlanRef oVerdadero_;
  FormulaPlanRef oFalso_;
};

}  // namespace kx
