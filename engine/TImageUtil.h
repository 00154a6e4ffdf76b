// Image source resolution: the value of an image object's source formula, a
// file path, a data URI or the image bytes themselves, becomes an
// ImageDescriptor {"mime", "dataUri", "error"}: the image as a base64 data URI
// with its MIME type, or the failure "Imagen no disponible". The engine never
// decodes or scales an image; it finds the bytes, recognises their type and
// encodes them.
//
// Files are tried first (unless the source type is "datos"): the text as
// given, then under the folder "public", and a text that starts with
// "public/" also without that prefix. A file is opened once, without
// blocking, and judged on its descriptor: only a readable regular file of 1
// byte to 64 MiB counts; anything else is no file. The name is the source
// without blanks, tabs, CR and LF at either end; one that still holds a NUL,
// CR or LF byte is never taken as a file name (raw PNG bytes hold CR LF). Then
// a strict data URI, then the text as raw bytes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "Value.h"

namespace kx {

class TImageCache;

class TImageUtil {
 public:
  // Larger files count as no file: an image is carried whole in the document.
  static constexpr uint64_t kMaxBytesArchivo = uint64_t{64} << 20;

  // The ImageDescriptor of the source. With a cache, a file already resolved
  // in the same state (path, size, modification time) is not read again.
  Value Resolver(const Value& fuente, const Value& tipoFuente, TImageCache* cache = nullptr) const;

 private:
  // The descriptor of the bytes: the MIME type given, else detected; no type is the failure.
  static Value DesdeContenido(std::string_view contenido, std::string_view ruta,
                              std::string_view mime);
  // The type by the leading bytes, then by the path's extension; "" when neither tells.
  static std::string DetectarMime(std::string_view contenido, std::string_view ruta);
  // The descriptor of the first candidate file of the (trimmed) source that can be read;
  // false when none can.
  static bool ResolverRuta(std::string_view fuente, TImageCache* cache, Value& descriptor);
  // The descriptor of the file of exactly that name, when it can be read.
  static bool DesdeArchivo(const std::string& ruta, TImageCache* cache, Value& descriptor);
  // The failure descriptor.
  static Value Error();
  // The descriptor of a strict "data:image/...;base64," source; false when the source is none.
  static bool DataUriImagen(std::string_view fuente, Value& descriptor);
  static bool DecodeBase64Estricto(std::string_view payload, std::string& bytes);
  // "image/" and at least one more character, each a digit, a lower-case letter, "+", "-" or ".".
  static bool EsMimeImagenValido(std::string_view mime);
  // The rest of a path that starts with "public/" (any case, "\" as "/"), with "/" separators;
  // "" when it does not start so.
  static std::string PathPublicSinPrefijo(std::string_view ruta);
  // Every "/" replaced by the platform's separator.
  static std::string NormalizarSeparadores(std::string_view ruta);
};

}  // namespace kx
