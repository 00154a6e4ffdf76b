#include "ValoresObjeto.h"

namespace kx {

bool EsColorHex(std::string_view text) {
  if (text.size() != 7 || text[0] != '#') return false;
  for (size_t i = 1; i < 7; ++i) {
    const char c = text[i];
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) return false;
  }
  return true;
}

namespace objeto {

// A date shows its display text, as it does inside a concatenation; the
// compact form is the facade's, for keys and data.
std::string ValorAString(const Value& value) {
  if (value.IsDate()) return std::string(AllTrim(DisplayText(value)));
  return ValueString(value);
}

bool ValorALogico(const Value& value) {
  return ValueBool(value);
}

Value ValorANumero(const Value& value) {
  // Unlike the document's readers, a logical reads as 0 here.
  if (value.IsLogical()) return Value(0);
  return ValueNumber(value);
}

int64_t ValorAEntero(const Value& value) {
  return ValorANumero(value).Int();
}

}  // namespace objeto

}  // namespace kx
