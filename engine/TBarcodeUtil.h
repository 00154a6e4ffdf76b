// The barcode encoding service: turns a value and a symbology name into a
// `BarcodeDescriptor`, the complete module pattern of one symbol with its
// quiet zones counted in modules, or an error map. It encodes EAN-13, EAN-8,
// Code 128 and GS1-128 itself and hands QR Code and Data Matrix to the matrix
// encoders. It draws nothing and knows no millimetres.
//
// Descriptor key orders:
//  - linear: "tipo" "barcode", "barcodeTipo", "texto", "bits",
//    "margenIzquierdoModulos", "margenDerechoModulos", "mostrarTexto" true;
//  - matrix: "tipo", "barcodeTipo", "texto", "matriz" (row texts),
//    "margenModulos", "mostrarTexto" true;
//  - error: "tipo", "barcodeTipo" "", "texto" "", "error" (the message).
//
// The service has no state and reads only constant tables: every call is
// independent. (The maps it answers are `Value`s, whose counts and pooled
// keys belong to one thread at a time.) Texts are encoded byte by byte.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "Value.h"

namespace kx {

class TBarcodeUtil {
 public:
  // New(): the service; it needs no Create or End.
  TBarcodeUtil() = default;

  // The descriptor of the value in the named symbology, or its error form; never fails otherwise.
  Value Crear(const Value& value, const Value& type) const;
  // "EAN13", "EAN8", "CODE128", "EAN128", "DATAMATRIX", "QR", or "" for a name not supported.
  std::string NormalizarTipo(const Value& type) const;

 private:
  Value CrearEAN13(const std::string& text) const;
  static int DigitoControlEAN13(std::string_view digits);
  Value CrearEAN8(const std::string& text) const;
  static int DigitoControlEAN8(std::string_view digits);
  Value CrearCode128(const std::string& text, const Value& gs1) const;
  static std::string Code128Bits(std::string_view text, bool gs1);
  static std::string PatternBits(std::string_view widths);
  static std::string Ean13Bits(std::string_view digits);
  static std::string Ean8Bits(std::string_view digits);
  static Value Error(std::string_view message);
  static std::string ValorAString(const Value& value);
  static bool EsDigitos(std::string_view text);
  static std::string SoloLetrasNumerosAscii(std::string_view text);
};

namespace barcode {

// The Code 128 symbol values of the text (start, data, shifts, FNC1, check, stop) in code sets
// B and C; empty when a byte cannot be encoded.
std::vector<int> Code128Values(std::string_view text, bool gs1);
// The number of consecutive digits from the 1-based position on.
int DigitRun(std::string_view text, size_t position);

}  // namespace barcode
}  // namespace kx
