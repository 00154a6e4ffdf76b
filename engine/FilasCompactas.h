// The rows of a data table held as bytes until someone reads them.
//
// An exported data table has one row per detail record: a million records
// as a million lists of values would cost about 160 bytes a row, most of it
// list headers and allocator overhead, and nobody may ever read them.
// `FilasCompactas` writes each value as a tag and a few bytes instead:
//  - nothing, false and true are one tag byte;
//  - integers are zigzag varints, dates and timestamps their day (and
//    milliseconds), a real its raw decimals byte and its eight bytes;
//  - a text of up to 14 bytes that holds no reference is written inline,
//    without the first bytes it shares with the column's previous one;
//  - a value with the same bits (the same scalar or the same reference) as
//    one of the last few values of its column is one byte naming that one;
//  - anything else (a long text, a list, a map, an object, a callable) is
//    kept as it stands, in order, beside the bytes.
// `Lista` reads every row back exactly: kind, value, a real's decimals
// count, and the very references that were given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "Value.h"

namespace kx {

class FilasCompactas : public KXObject {
 public:
  explicit FilasCompactas(size_t nColumnas);
  std::string_view ClassName() const override { return "FilasCompactas"; }

  // The rows appended so far.
  size_t size() const { return nFilas_; }
  // Appends a row. A shorter row is completed with nothing; values past the
  // column count are not kept.
  void Agregar(std::span<const Value> fila);
  // Every row as a list of its values (one per column), in the order given.
  Value Lista() const;

  // The places the last values of a column are remembered in.
  static constexpr size_t kRecientes = 8;

 private:
  struct Bloque {
    std::unique_ptr<uint8_t[]> datos;
    size_t nUsados = 0;
    size_t nCapacidad = 0;
  };
  void Escribir(size_t columna, const Value& v);
  // Room for one more value at the end of the last block: a value never
  // spans two blocks.
  uint8_t* Reservar();

  size_t nColumnas_;
  size_t nFilas_ = 0;
  // Bytes in blocks, so growing never copies (nor briefly doubles) them all.
  std::vector<Bloque> aBloques_;
  std::deque<Value> aReferencias_;
  // Per column: its last values and the place the next one takes.
  std::vector<Value> aRecientes_;
  std::vector<uint8_t> aSiguiente_;
  // Per column: the last inline text written, which the next may begin as.
  std::vector<Value> aUltimoTexto_;
};

// A data table (a map) whose "aRows" holds compact rows gets their list in
// their place; any other value is left as it is.
void LeerFilasCompactas(const Value& tabla);

}  // namespace kx
