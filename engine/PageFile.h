// The page file codec: a page map as bytes and back, exactly.
//
// A file is one tagged value, written depth first, nothing before or after
// it. Integers are zigzag varints, lengths and counts varints, a real is its
// raw decimals byte and its eight IEEE bytes (little endian). A map key is
// written in full the first time it occurs in the file and by its number
// afterwards, since every rendered object repeats the same keys; a map whose
// key table is that of the previous map of its size (copies of one prototype)
// writes no keys at all, and reads back sharing one key table; a value equal
// to the one at the same place of the previous map of the same size is
// written as a one-byte repeat. So a file reads back every value exactly:
// kind, value, a real's decimals count, nested lists and maps, key order.
//
// Objects and callables cannot live in a file: they are written as nothing.
// A value nested deeper than a file may hold is not written, and bytes that
// do not hold one well-formed value, with nothing after it, are not read:
// a cyclic page fails to store, a damaged file fails to load.
//
// A list or map that several pages share (a chart's series on every page)
// can be kept once beside the pages: given a table of shared values, the
// writer writes such a value as its number in the table, and the reader
// takes the table's value for each number it meets. Without a table, a file
// that names a shared value is not read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "Value.h"

namespace kx {

// The table of shared values a page file is written and read with.
class ValoresCompartidos {
 public:
  // The writer asks only about lists and maps of at least this many elements
  // that lie inside one of the page's objects: below the page map, its list
  // of objects and the object maps (which are patched one by one).
  static constexpr size_t kMinElementos = 32;
  static constexpr int kProfundidadMinima = 4;

  virtual ~ValoresCompartidos() = default;
  // The value's number in the table, or -1 to write it in place.
  virtual int64_t Numero(const Value& value) = 0;
  // The value of a number read, in `value`; false when the table has none.
  virtual bool Valor(uint64_t number, Value& value) = 0;
};

// Writes the page into `out`, reusing its capacity; false when the page nests
// deeper than a file may hold (`out` then holds no usable file).
bool WritePageFile(const Value& page, std::string& out, ValoresCompartidos* shared = nullptr);

// The page the bytes hold, in `page`; false unless they hold one well-formed
// value and nothing after it, and the table answers every shared value named.
bool ReadPageFile(std::string_view in, Value& page, ValoresCompartidos* shared = nullptr);

}  // namespace kx
