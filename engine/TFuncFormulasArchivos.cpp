// LoadFile and hb_MemoRead: a file's bytes as they stand, looked up as named
// and then under the folder "public".
#include <algorithm>

#include "Platform.h"
#include "TFuncFormulasLlamada.h"

namespace kx::funcformulas {

namespace {

// A larger file counts as unreadable: a formula never pulls a file of
// gigabytes into one text.
constexpr size_t kMaxBytesArchivo = size_t{64} << 20;

std::string ConSeparador(std::string path) {
  std::replace(path.begin(), path.end(), '/', platform::PathSeparator());
  return path;
}

// The content of the first candidate that names a file; "" when that file
// cannot be read; the fallback's text form when none names a file.
Value CargarArchivo(const Value& path, const Value& fallback) {
  std::string buffer;
  std::string_view p = AllTrim(VerTexto(path, buffer));
  if (!p.empty()) {
    const std::string cPublic = std::string("public") + platform::PathSeparator();
    std::string candidatos[3] = {std::string(p), cPublic + std::string(p)};
    size_t n = 2;
    if (p.size() >= 7 && Lower(p.substr(0, 7)) == "public/") {
      candidatos[n++] = cPublic + std::string(p.substr(7));
    }
    std::string contenido;
    for (size_t i = 0; i < n; ++i) {
      switch (platform::ReadRegularFile(ConSeparador(candidatos[i]), kMaxBytesArchivo, contenido)) {
        case platform::FileRead::kRead:
          return Value(contenido);
        case platform::FileRead::kUnreadable:
          return Value("");
        case platform::FileRead::kNotFound:
          break;
      }
    }
  }
  return Value(Texto(fallback));
}

}  // namespace

Value FnLoadFile(const Llamada& c) {
  return CargarArchivo(c[0], c[1]);
}

Value FnMemoRead(const Llamada& c) {
  return CargarArchivo(c[0], Value(""));
}

}  // namespace kx::funcformulas
