#include "TImageCache.h"

namespace kx {

std::string TImageCache::Clave(std::string_view ruta, const platform::FileStamp& estado) {
  // A path never holds a NUL byte, so the parts cannot run into one another.
  std::string clave(ruta);
  clave.push_back('\0');
  clave.append(reinterpret_cast<const char*>(&estado.nSize), sizeof estado.nSize);
  clave.append(reinterpret_cast<const char*>(&estado.nModifiedNs), sizeof estado.nModifiedNs);
  clave.append(reinterpret_cast<const char*>(&estado.nChangedNs), sizeof estado.nChangedNs);
  return clave;
}

Value TImageCache::Buscar(std::string_view ruta, const platform::FileStamp& estado) {
  auto found = hIndice_.find(Clave(ruta, estado));
  if (found == hIndice_.end()) return Value();
  aEntradas_.splice(aEntradas_.begin(), aEntradas_, found->second);
  return found->second->hDescriptor;
}

void TImageCache::Guardar(std::string_view ruta, const platform::FileStamp& estado,
                          const Value& descriptor) {
  std::string clave = Clave(ruta, estado);
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
