#include "FilasCompactas.h"

#include <algorithm>
#include <cstring>

namespace kx {

namespace {

// Tags below kRecientes name one of the column's last values.
enum Tag : uint8_t {
  kTagNada = FilasCompactas::kRecientes,
  kTagFalso,
  kTagVerdadero,
  kTagEntero,
  kTagReal,
  kTagFecha,
  kTagMarcaTiempo,
  kTagReferencia,
  // A byte (prefix length << 4 | suffix length), then the suffix: the text
  // begins as the column's previous inline text does.
  kTagTextoPrefijo,
  kTagTexto,  // + the text's length, 0 to kTextoEnLinea
};
constexpr size_t kTextoEnLinea = 14;
static_assert(kTagTexto + kTextoEnLinea <= 0xFF);
// The longest value written: a tag and a text of kTextoEnLinea bytes.
constexpr size_t kMaxValor = 1 + kTextoEnLinea;
constexpr size_t kPrimerBloque = 256;
constexpr size_t kMaxBloque = 64 * 1024;

uint8_t* EscribirVarint(uint8_t* p, uint64_t v) {
  while (v >= 0x80) {
    *p++ = static_cast<uint8_t>(v | 0x80);
    v >>= 7;
  }
  *p++ = static_cast<uint8_t>(v);
  return p;
}

static_assert(kTextoEnLinea < 16, "a prefix and a suffix length share one byte");

// An inline text: by its bytes, or by the bytes after the part it shares
// with the previous one (amounts and numbers of one column mostly differ
// only in their last digits).
uint8_t* EscribirTexto(uint8_t* p, std::string_view s, std::string_view previo) {
  size_t comun = 0;
  const size_t n = std::min(s.size(), previo.size());
  while (comun < n && s[comun] == previo[comun]) ++comun;
  if (comun >= 2) {
    *p++ = kTagTextoPrefijo;
    *p++ = static_cast<uint8_t>(comun << 4 | (s.size() - comun));
  } else {
    comun = 0;
    *p++ = static_cast<uint8_t>(kTagTexto + s.size());
  }
  std::memcpy(p, s.data() + comun, s.size() - comun);
  return p + (s.size() - comun);
}

// Both values have the same bits: two words compared in place, where a call to memcmp would
// cost more than the test, made up to eight times a cell.
bool MismosBits(const Value& a, const Value& b) {
  static_assert(sizeof(Value) == 2 * sizeof(uint64_t));
  uint64_t x[2], y[2];
  std::memcpy(x, static_cast<const void*>(&a), sizeof x);
  std::memcpy(y, static_cast<const void*>(&b), sizeof y);
  return ((x[0] ^ y[0]) | (x[1] ^ y[1])) == 0;
}

uint64_t Zigzag(int64_t v) {
  return (static_cast<uint64_t>(v) << 1) ^ static_cast<uint64_t>(v >> 63);
}

int64_t DesZigzag(uint64_t v) {
  return static_cast<int64_t>(v >> 1) ^ -static_cast<int64_t>(v & 1);
}

// Reads the values back in the order they were written.
class Lector {
 public:
  explicit Lector(std::span<const uint8_t* const> bloques, std::span<const size_t> usados)
      : bloques_(bloques), usados_(usados) {}

  uint8_t Byte() {
    while (pos_ == usados_[bloque_]) {
      ++bloque_;
      pos_ = 0;
    }
    return bloques_[bloque_][pos_++];
  }
  uint64_t Varint() {
    uint64_t v = 0;
    for (int shift = 0;; shift += 7) {
      const uint8_t b = Byte();
      v |= static_cast<uint64_t>(b & 0x7F) << shift;
      if (!(b & 0x80)) return v;
    }
  }
  // `n` bytes that the writer put in one block, right after a tag.
  const uint8_t* Bytes(size_t n) {
    const uint8_t* p = bloques_[bloque_] + pos_;
    pos_ += n;
    return p;
  }

 private:
  std::span<const uint8_t* const> bloques_;
  std::span<const size_t> usados_;
  size_t bloque_ = 0;
  size_t pos_ = 0;
};

}  // namespace

FilasCompactas::FilasCompactas(size_t nColumnas)
    : nColumnas_(nColumnas),
      aRecientes_(nColumnas * kRecientes),
      aSiguiente_(nColumnas, 0),
      aUltimoTexto_(nColumnas) {}

void FilasCompactas::Agregar(std::span<const Value> fila) {
  for (size_t c = 0; c < nColumnas_; ++c) Escribir(c, c < fila.size() ? fila[c] : kNil);
  ++nFilas_;
}

uint8_t* FilasCompactas::Reservar() {
  if (aBloques_.empty() || aBloques_.back().nCapacidad - aBloques_.back().nUsados < kMaxValor) {
    Bloque b;
    b.nCapacidad =
        aBloques_.empty() ? kPrimerBloque : std::min(kMaxBloque, 2 * aBloques_.back().nCapacidad);
    b.datos = std::make_unique_for_overwrite<uint8_t[]>(b.nCapacidad);
    aBloques_.push_back(std::move(b));
  }
  Bloque& b = aBloques_.back();
  return b.datos.get() + b.nUsados;
}

void FilasCompactas::Escribir(size_t columna, const Value& v) {
  uint8_t* p = Reservar();
  Bloque& bloque = aBloques_.back();
  const auto confirmar = [&bloque](const uint8_t* fin) {
    bloque.nUsados = static_cast<size_t>(fin - bloque.datos.get());
  };
  switch (v.kind()) {
    case Kind::Nil:
      *p++ = kTagNada;
      return confirmar(p);
    case Kind::Logical:
      *p++ = v.Bool() ? kTagVerdadero : kTagFalso;
      return confirmar(p);
    default:
      break;
  }
  Value* recientes = &aRecientes_[columna * kRecientes];
  for (size_t i = 0; i < kRecientes; ++i) {
    // The same bits: the same scalar or the same reference. Equal values
    // whose unused bytes differ are merely written again.
    if (MismosBits(recientes[i], v)) {
      *p++ = static_cast<uint8_t>(i);
      return confirmar(p);
    }
  }
  switch (v.kind()) {
    case Kind::Integer:
      *p++ = kTagEntero;
      p = EscribirVarint(p, Zigzag(v.Int()));
      break;
    case Kind::Real: {
      *p++ = kTagReal;
      *p++ = v.RawDecimals();
      const double d = v.Double();
      std::memcpy(p, &d, sizeof d);
      p += sizeof d;
      break;
    }
    case Kind::Date:
      *p++ = kTagFecha;
      p = EscribirVarint(p, Zigzag(v.Jdn()));
      break;
    case Kind::Timestamp:
      *p++ = kTagMarcaTiempo;
      p = EscribirVarint(p, Zigzag(v.Jdn()));
      p = EscribirVarint(p, Zigzag(v.MsOfDay()));
      break;
    default: {
      const std::string_view texto = v.Str();
      if (v.IsText() && texto.size() <= kTextoEnLinea && !v.SharedPtr()) {
        p = EscribirTexto(p, texto, aUltimoTexto_[columna].Str());
        aUltimoTexto_[columna] = v;
      } else {
        *p++ = kTagReferencia;
        aReferencias_.push_back(v);
      }
      break;
    }
  }
  confirmar(p);
  uint8_t& siguiente = aSiguiente_[columna];
  recientes[siguiente] = v;
  siguiente = static_cast<uint8_t>((siguiente + 1) % kRecientes);
}

Value FilasCompactas::Lista() const {
  std::vector<const uint8_t*> bloques;
  std::vector<size_t> usados;
  bloques.reserve(aBloques_.size());
  usados.reserve(aBloques_.size());
  for (const Bloque& b : aBloques_) {
    bloques.push_back(b.datos.get());
    usados.push_back(b.nUsados);
  }
  Lector lector(bloques, usados);
  std::vector<Value> recientes(nColumnas_ * kRecientes);
  std::vector<uint8_t> siguiente(nColumnas_, 0);
  std::vector<Value> ultimoTexto(nColumnas_);
  auto referencia = aReferencias_.begin();

  Value lista = Value::NewList();
  lista.AsList().Reserve(nFilas_);
  for (size_t r = 0; r < nFilas_; ++r) {
    auto fila = MakeRef<List>();
    fila->Reserve(nColumnas_);
    for (size_t c = 0; c < nColumnas_; ++c) {
      Value* propios = &recientes[c * kRecientes];
      const uint8_t tag = lector.Byte();
      Value v;
      if (tag < kRecientes) {
        fila->Add(propios[tag]);
        continue;
      }
      switch (tag) {
        case kTagNada:
          break;
        case kTagFalso:
        case kTagVerdadero:
          v = Value(tag == kTagVerdadero);
          break;
        case kTagEntero:
          v = Value(DesZigzag(lector.Varint()));
          break;
        case kTagReal: {
          const uint8_t decimales = lector.Byte();
          double d;
          std::memcpy(&d, lector.Bytes(sizeof d), sizeof d);
          v = decimales == kNaturalDecimals ? Value(d) : Value::Real(d, decimales);
          break;
        }
        case kTagFecha:
          v = Value::Date(static_cast<int32_t>(DesZigzag(lector.Varint())));
          break;
        case kTagMarcaTiempo: {
          const auto jdn = static_cast<int32_t>(DesZigzag(lector.Varint()));
          v = Value::Timestamp(jdn, static_cast<int32_t>(DesZigzag(lector.Varint())));
          break;
        }
        case kTagReferencia:
          v = *referencia++;
          break;
        case kTagTextoPrefijo: {
          const uint8_t largos = lector.Byte();
          const size_t comun = largos >> 4, resto = largos & 0x0F;
          char texto[kTextoEnLinea];
          std::memcpy(texto, ultimoTexto[c].Str().data(), comun);
          std::memcpy(texto + comun, lector.Bytes(resto), resto);
          v = Value(std::string_view(texto, comun + resto));
          ultimoTexto[c] = v;
          break;
        }
        default: {
          const size_t n = tag - kTagTexto;
          v = Value(std::string_view(reinterpret_cast<const char*>(lector.Bytes(n)), n));
          ultimoTexto[c] = v;
          break;
        }
      }
      if (tag != kTagNada && tag != kTagFalso && tag != kTagVerdadero) {
        propios[siguiente[c]] = v;
        siguiente[c] = static_cast<uint8_t>((siguiente[c] + 1) % kRecientes);
      }
      fila->Add(std::move(v));
    }
    lista.AsList().Add(Value(std::move(fila)));
  }
  return lista;
}

void LeerFilasCompactas(const Value& tabla) {
  Value* filas = tabla.IsMap() ? tabla.AsMap().Find("aRows") : nullptr;
  if (const FilasCompactas* compactas = filas ? filas->As<FilasCompactas>() : nullptr)
    *filas = compactas->Lista();
}

}  // namespace kx
