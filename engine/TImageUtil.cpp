#include "TImageUtil.h"

#include <algorithm>

#include "Base64.h"
#include "Platform.h"
#include "TImageCache.h"

namespace kx {

namespace {

constexpr std::string_view kNoDisponible = "Imagen no disponible";
constexpr std::string_view kMarcaBase64 = ";base64,";

char MinusculaAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Position of `needle` (lower-case) in `hay` ignoring ASCII case, or npos.
size_t BuscarSinMayusculas(std::string_view hay, std::string_view needle) {
  auto it = std::search(hay.begin(), hay.end(), needle.begin(), needle.end(),
                        [](char a, char b) { return MinusculaAscii(a) == b; });
  return it == hay.end() ? std::string_view::npos : static_cast<size_t>(it - hay.begin());
}

bool EmpiezaSinMayusculas(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         BuscarSinMayusculas(text.substr(0, prefix.size()), prefix) == 0;
}

// A NUL cuts a name short and a line break is never part of one: such a text
// is data, not a file name.
bool PuedeSerNombreArchivo(std::string_view text) {
  return text.find_first_of(std::string_view("\0\r\n", 3)) == std::string_view::npos;
}

// A file name without blanks, tabs, CR and LF at either end.
std::string_view RecortarNombre(std::string_view text) {
  const auto blanco = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!text.empty() && blanco(text.front())) text.remove_prefix(1);
  while (!text.empty() && blanco(text.back())) text.remove_suffix(1);
  return text;
}

Value Descriptor(Value mime, Value dataUri, Value error) {
  return Value::NewMap(
      {{"mime", std::move(mime)}, {"dataUri", std::move(dataUri)}, {"error", std::move(error)}});
}

}  // namespace

Value TImageUtil::Resolver(const Value& fuente, const Value& tipoFuente, TImageCache* cache) const {
  if (!fuente.IsText() || fuente.Str().empty()) return Error();
  const std::string_view texto = fuente.Str();
  const bool soloDatos = Lower(AllTrim(ValueString(tipoFuente))) == "datos";

  // A value read from a multi-line field may end or begin with a line break:
  // the name is what lies between, and only a break inside it makes it data.
  const std::string_view nombre = RecortarNombre(texto);
  if (!soloDatos && PuedeSerNombreArchivo(nombre)) {
    Value descriptor;
    if (ResolverRuta(nombre, cache, descriptor)) return descriptor;
    // The source as it stands, blanks included, when trimming changed it.
    if (nombre.size() != texto.size() && PuedeSerNombreArchivo(texto)) {
      const std::string tal(texto);
      if (DesdeArchivo(tal, cache, descriptor)) return descriptor;
      const std::string separada = NormalizarSeparadores(tal);
      if (separada != tal && DesdeArchivo(separada, cache, descriptor)) return descriptor;
    }
  }

  Value descriptor;
  if (DataUriImagen(texto, descriptor)) return descriptor;
  return DesdeContenido(texto, "", "");
}

bool TImageUtil::ResolverRuta(std::string_view fuente, TImageCache* cache, Value& descriptor) {
  const std::string texto(AllTrim(fuente));
  if (texto.empty() || !PuedeSerNombreArchivo(texto)) return false;
  const std::string publica = "public" + std::string(1, platform::PathSeparator());
  // Each candidate as written, then with the platform's separators when that differs.
  auto probar = [&](const std::string& candidato) {
    if (DesdeArchivo(candidato, cache, descriptor)) return true;
    const std::string separada = NormalizarSeparadores(candidato);
    return separada != candidato && DesdeArchivo(separada, cache, descriptor);
  };
  if (probar(texto) || probar(publica + texto)) return true;
  const std::string resto = PathPublicSinPrefijo(texto);
  if (resto.empty()) return false;
  // "public/" + the rest may be the text itself, already tried.
  return probar(resto) || (publica + resto != texto && probar(publica + resto));
}

bool TImageUtil::DesdeArchivo(const std::string& ruta, TImageCache* cache, Value& descriptor) {
  if (cache) {
    // A file already resolved in this very state is not opened again.
    platform::FileStamp estado;
    if (!platform::StatRegularFile(ruta, kMaxBytesArchivo, estado)) return false;
    const Value guardado = cache->Buscar(ruta, estado);
    if (guardado.IsMap()) {
      // A map of its own, sharing the kept texts: the data URI is never copied.
      descriptor = Descriptor(guardado.Get("mime"), guardado.Get("dataUri"), guardado.Get("error"));
      return true;
    }
  }
  // Opened once and judged on the open file: an empty, oversized or unreadable
  // file is no file, and the lookup goes on.
  std::string bytes;
  platform::FileStamp leido;
  if (platform::ReadRegularFile(ruta, kMaxBytesArchivo, bytes, &leido) !=
          platform::FileRead::kRead ||
      bytes.empty())
    return false;
  descriptor = DesdeContenido(bytes, ruta, "");
  // Kept under the state the open file had, which is the state of the bytes read.
  if (cache) cache->Guardar(ruta, leido, descriptor);
  return true;
}

Value TImageUtil::DesdeContenido(std::string_view contenido, std::string_view ruta,
                                 std::string_view mime) {
  std::string tipo(mime.empty() ? DetectarMime(contenido, ruta) : std::string(mime));
  if (tipo.empty()) return Error();
  std::string dataUri;
  dataUri.reserve(5 + tipo.size() + kMarcaBase64.size() + (contenido.size() + 2) / 3 * 4);
  dataUri.append("data:").append(tipo).append(kMarcaBase64).append(Base64Encode(contenido));
  return Descriptor(Value(tipo), Value(dataUri), Value(""));
}

std::string TImageUtil::DetectarMime(std::string_view contenido, std::string_view ruta) {
  auto empieza = [&](std::string_view firma) { return contenido.substr(0, firma.size()) == firma; };
  if (empieza(std::string_view("\x89PNG\r\n\x1A\n", 8))) return "image/png";
  if (empieza("\xFF\xD8\xFF")) return "image/jpeg";
  if (empieza("GIF87a") || empieza("GIF89a")) return "image/gif";
  if (contenido.size() >= 12 && empieza("RIFF") && contenido.substr(8, 4) == "WEBP")
    return "image/webp";

  std::string camino = Lower(ruta);
  std::replace(camino.begin(), camino.end(), '\\', '/');
  const size_t punto = camino.rfind('.');
  const std::string_view extension =
      punto == std::string::npos ? std::string_view() : std::string_view(camino).substr(punto + 1);
  if (extension == "png") return "image/png";
  if (extension == "jpg" || extension == "jpeg") return "image/jpeg";
  if (extension == "gif") return "image/gif";
  if (extension == "webp") return "image/webp";
  return "";
}

Value TImageUtil::Error() {
  return Descriptor(Value(""), Value(""), Value(kNoDisponible));
}

bool TImageUtil::DataUriImagen(std::string_view fuente, Value& descriptor) {
  if (!EmpiezaSinMayusculas(fuente, "data:image/")) return false;
  const size_t marca = BuscarSinMayusculas(fuente, kMarcaBase64);
  if (marca == std::string_view::npos) return false;
  const std::string mime = Lower(fuente.substr(5, marca - 5));
  if (!EsMimeImagenValido(mime)) return false;
  const std::string_view payload = fuente.substr(marca + kMarcaBase64.size());
  std::string bytes;
  if (payload.empty() || !DecodeBase64Estricto(payload, bytes)) return false;
  // The declared type holds without a look at the bytes; the URI is written anew.
  descriptor = DesdeContenido(bytes, "", mime);
  return true;
}

bool TImageUtil::DecodeBase64Estricto(std::string_view payload, std::string& bytes) {
  return Base64DecodeStrict(payload, bytes);
}

bool TImageUtil::EsMimeImagenValido(std::string_view mime) {
  constexpr std::string_view kPrefijo = "image/";
  if (mime.size() <= kPrefijo.size() || mime.substr(0, kPrefijo.size()) != kPrefijo) return false;
  for (char c : mime.substr(kPrefijo.size())) {
    const bool valido =
        (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || c == '+' || c == '-' || c == '.';
    if (!valido) return false;
  }
  return true;
}

std::string TImageUtil::PathPublicSinPrefijo(std::string_view ruta) {
  std::string barras(ruta);
  std::replace(barras.begin(), barras.end(), '\\', '/');
  if (!EmpiezaSinMayusculas(barras, "public/")) return "";
  return barras.substr(7);
}

std::string TImageUtil::NormalizarSeparadores(std::string_view ruta) {
  std::string out(ruta);
  std::replace(out.begin(), out.end(), '/', platform::PathSeparator());
  return out;
}

}  // namespace kx
