// How report objects, the table and the document read the values stored in a
// template or given by a formula: the one test of a hex colour, and the
// object family of the shared conversions. The document reads its settings
// by the shared rules of ValueText.h instead (a logical there reads as 1),
// and the formula language by its own (FormulaString).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "Value.h"

namespace kx {

// "#" and six hexadecimal digits, in either letter case.
bool EsColorHex(std::string_view text);

namespace objeto {

// Nothing "", true "1", false "", a number its plain text, a text itself,
// any other value its display text, trimmed (a date MM/DD/YY).
std::string ValorAString(const Value& value);
// Nothing false, a logical itself, a number not 0, a text one of the truth words.
bool ValorALogico(const Value& value);
// A number itself, a text its leading number ("," read as "."), anything else 0 (logicals too).
Value ValorANumero(const Value& value);
// The integer part of `ValorANumero`, toward zero.
int64_t ValorAEntero(const Value& value);

}  // namespace objeto

}  // namespace kx
