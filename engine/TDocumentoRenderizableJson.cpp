// The document as JSON, for a viewer in another process or language.
#include <ostream>

#include "Json.h"
#include "TDocumentoRenderizable.h"

namespace kx {

std::string TDocumentoRenderizable::GetPaginaJson(const Value& n) {
  try {
    return JsonEncode(GetPagina(n));
  } catch (...) {  // memory ran out
    return std::string();
  }
}

bool TDocumentoRenderizable::EscribirJson(std::ostream& out) {
  // A stream may throw (the host chose its exceptions mask), and so may a
  // page too large for the memory left: neither escapes.
  try {
    if (HasPageSpoolError()) return false;
    std::string json = "{\"ancho\":" + JsonEncode(Value(nAncho)) +
                       ",\"alto\":" + JsonEncode(Value(nAlto)) + ",\"pages\":[";
    const int64_t pages = TotalPaginas();
    for (int64_t n = 1; n <= pages; ++n) {
      if (n > 1) json += ',';
      json += JsonEncode(GetPagina(Value(n)));
      if (HasPageSpoolError()) return false;
      out.write(json.data(), static_cast<std::streamsize>(json.size()));
      if (!out) return false;
      json.clear();
    }
    json += "]}";
    out.write(json.data(), static_cast<std::streamsize>(json.size()));
    out.flush();
    return static_cast<bool>(out);
  } catch (...) {
    return false;
  }
}

}  // namespace kx
