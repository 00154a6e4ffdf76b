// The library of formula functions that templates call by name. The formula
// evaluator owns one, evaluates a call's arguments and hands the normalised
// name and the argument values to `Ejecutar`, which dispatches to one
// operation per function in a fixed order. A name the library does not know
// answers "[Funcion no implementada: " name "]"; an argument a function
// cannot use answers "[Funcion <name> no valida]". Nothing throws.
#pragma once

#include <span>
#include <string_view>

#include "Value.h"

namespace kx {

class TFuncFormulas : public KXObject {
 public:
  // New: the library, with an empty mask cache.
  TFuncFormulas();
  std::string_view ClassName() const override { return "TFuncFormulas"; }

  // Answers the library.
  TFuncFormulas& Create();
  // Empties the mask cache.
  void End();

  // The result of the function named (any Value); the arguments are a list
  // (anything else counts as no arguments).
  Value Ejecutar(const Value& name, const Value& args);
  Value Ejecutar(std::string_view name, std::span<const Value> args);

  // Days from the second date to the first, or nothing when either does not
  // read as a date. Not reachable by name from a formula.
  Value DateDifference(const Value& a, const Value& b);

 private:
  // One library function over its argument values.
  using Funcion = Value (TFuncFormulas::*)(std::span<const Value>);
  struct Entrada {
    std::string_view cClave;  // the upper-cased name matched
    Funcion fFuncion;
  };
  static std::span<const Entrada> Funciones();

  Value hTransformPlanCache;
};

}  // namespace kx
