#include "TImageCache.h"

namespace kx {

std::string TImageCache::Clave(std::string_view ruta, uint64_t tamano, int64_t modificado) {
  // A path never holds a NUL byte, so the parts cannot run into one another.
  std::string clave(ruta);
  clave.push_back('\0');
  clave += std::to_string(tamano);
  clave.push_back(':');
  clave += std::to_string(modificado);
  return clave;
}

Value TImageCache::Buscar(std::string_view ruta, uint64_t tamano, int64_t modificado) {
  auto found = hIndice_.find(Clave(ruta, tamano, modificado));
  if (found == hIndice_.end()) return Value();
  aEntradas_.splice(aEntradas_.begin(), aEntradas_, found->second);
  return found->second->hDescriptor;
}

void TImageCache::Guardar(std::string_view ruta, uint64_t tamano, int64_t modificado,
                          const Value& descriptor) {
  std::string clave = Clave(ruta, tamano, modificado);
  if (auto found = hIndice_.find(clave); found != hIndice_.end()) Quitar(found->second);
  const size_t bytes = descriptor.Get("dataUri").Str().size() + clave.size();
  if (bytes > nMaxBytes_ || nMaxEntradas_ == 0) return;
  while (!aEntradas_.empty() &&
         (aEntradas_.size() >= nMaxEntradas_ || nBytes_ + bytes > nMaxBytes_)) {
    Quitar(std::prev(aEntradas_.end()));
  }
  aEntradas_.push_front({clave, descriptor, bytes});
  hIndice_.emplace(std::move(clave), aEntradas_.begin());
  nBytes_ += bytes;
}

void TImageCache::Vaciar() {
  hIndice_.clear();
  aEntradas_.clear();
  nBytes_ = 0;
}

void TImageCache::Quitar(std::list<Entrada>::iterator it) {
  nBytes_ -= it->nBytes;
  hIndice_.erase(it->cClave);
  aEntradas_.erase(it);
}

}  // namespace kx
