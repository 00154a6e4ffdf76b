// The images of one engine, resolved once: an image file named in every row
// of a long table is read and encoded the first time only, and every later
// use shares the same descriptor and so the same data-URI text.
//
// An entry is keyed by the file's path and stamp (size, modification and
// change times), so a file that changes in any way is read again. The cache
// is bounded in entries and in the bytes of the data URIs it keeps; the
// least recently used entries make room for new ones, and a descriptor
// larger than the whole byte budget is not kept.
#pragma once

#include <cstdint>
#include <list>
#include <string>
#include <string_view>
#include <unordered_map>

#include "Platform.h"
#include "Value.h"

namespace kx {

class TImageCache : public KXObject {
 public:
  static constexpr size_t kMaxEntradas = 256;
  static constexpr size_t kMaxBytes = size_t{256} << 20;

  explicit TImageCache(size_t maxEntradas = kMaxEntradas, size_t maxBytes = kMaxBytes)
      : nMaxEntradas_(maxEntradas), nMaxBytes_(maxBytes) {}
  std::string_view ClassName() const override { return "TImageCache"; }

  // The descriptor kept for this file state, or nothing.
  Value Buscar(std::string_view ruta, const platform::FileStamp& estado);
  // Keeps the descriptor for this file state, evicting the least recently used entries.
  void Guardar(std::string_view ruta, const platform::FileStamp& estado, const Value& descriptor);
  // Forgets every entry.
  void Vaciar();

  size_t Entradas() const { return aEntradas_.size(); }
  size_t Bytes() const { return nBytes_; }

 private:
  struct Entrada {
    std::string cClave;
    Value hDescriptor;
    size_t nBytes = 0;
  };
  static std::string Clave(std::string_view ruta, const platform::FileStamp& estado);
  void Quitar(std::list<Entrada>::iterator it);

  size_t nMaxEntradas_;
  size_t nMaxBytes_;
  size_t nBytes_ = 0;
  std::list<Entrada> aEntradas_;  // most recently used first
  std::unordered_map<std::string, std::list<Entrada>::iterator> hIndice_;
};

}  // namespace kx
