#include "RegistrosDetalle.h"

#include <utility>

namespace kx {

RegistrosDetalle::RegistrosDetalle(Value filas, const std::vector<std::string>& claves,
                                   std::vector<uint32_t> posiciones)
    : filas_(filas.IsList() ? std::move(filas) : Value::NewList()),
      posiciones_(std::move(posiciones)) {
  prototipo_.Reserve(claves.size());
  for (const std::string& clave : claves) prototipo_.Append(KeyText(clave), Value());
}

Value RegistrosDetalle::Registro(size_t i) const {
  auto registro = MakeRef<Map>(prototipo_);
  const List* fila = filas_.AsList()[i].ListPtr();
  const size_t largo = fila ? fila->size() : 0;
  for (size_t j = 0; j < posiciones_.size(); ++j)
    registro->ValueAt(posiciones_[j]) = j < largo ? (*fila)[j] : Value();
  return Value(std::move(registro));
}

}  // namespace kx
