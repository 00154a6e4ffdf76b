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
  return Registro(i, Value());
}

Value RegistrosDetalle::Registro(size_t i, Value reciclado) const {
  // A map of these keys that only this call holds is rewritten, not made anew.
  Map* previo = reciclado.MapPtr();
  const bool reutilizable = previo && previo->RefCount() == 1 &&
                            previo->KeyTableIdentity() == prototipo_.KeyTableIdentity();
  Value registro = reutilizable ? std::move(reciclado) : Value(MakeRef<Map>(prototipo_));
  Map& m = registro.AsMap();
  const List* fila = filas_.AsList()[i].ListPtr();
  const size_t largo = fila ? fila->size() : 0;
  for (size_t j = 0; j < posiciones_.size(); ++j)
    m.ValueAt(posiciones_[j]) = j < largo ? (*fila)[j] : Value();
  return registro;
}

}  // namespace kx
