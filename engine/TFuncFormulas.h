// The library of formula functions that templates call by name. The formula
// evaluator owns one, evaluates a call's arguments and hands the normalised
// name and the argument values to `Ejecutar`, which dispatches to one
// operation per function in a fixed order. A name the library does not know
// answers "[Funcion no implementada: " name "]"; an argument a function
// cannot use answers "[Funcion <name> no valida]". Nothing throws.
//
// Compiled formulas resolve a call once: `CodigoFuncion` gives the function's
// id, and a literal `Transform` mask its plan (`PlanMascara`), so that the
// per-record call neither looks the name up nor parses the mask.
#pragma once

#include <cstdint>
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

  // A function's id: its place in the dispatch order, from 1.
  static constexpr uint8_t kSinFuncion = 0;
  // The id of the function named (trimmed, any letter case), or kSinFuncion.
  static uint8_t CodigoFuncion(std::string_view name);
  // The id of `Transform`, whose literal mask a compiled call keeps resolved.
  static uint8_t CodigoTransform();
  // The call of the function with that id. `name` is the name as received,
  // used when the id is kSinFuncion; `mascara` is Transform's mask plan from
  // PlanMascara when its mask is a literal, else nothing.
  Value Ejecutar(uint8_t codigo, std::string_view name, std::span<const Value> args,
                 const Value& mascara = kNil);

  // The plan of a Transform mask, from hTransformPlanCache (built and stored
  // the first time its trimmed text is met); nothing for a mask that is
  // nothing or blank. Plans are shared and never change.
  Value PlanMascara(const Value& mascara);

  // Days from the second date to the first, or nothing when either does not
  // read as a date. Not reachable by name from a formula.
  Value DateDifference(const Value& a, const Value& b);

 private:
  Value hTransformPlanCache;
};

}  // namespace kx
