#include "TBarcodeUtilMatrix.h"

#include <algorithm>
#include <string>

namespace kx::barcode {

namespace {

// The longest error correction block of either symbology (Data Matrix 44 x 44).
constexpr size_t kMaxEc = 64;

uint8_t Mul(const GaloisField& field, uint8_t a, uint8_t b) {
  if (a == 0 || b == 0) return 0;
  return field.exp[static_cast<size_t>(field.log[a]) + field.log[b]];
}

}  // namespace

void ReedSolomon(const GaloisField& field, int first, std::span<const uint8_t> data,
                 std::span<uint8_t> ec) {
  const size_t e = std::min(ec.size(), kMaxEc);
  if (e == 0) return;
  // The generator, highest power first; its leading coefficient is 1.
  std::array<uint8_t, kMaxEc + 1> gen{};
  gen[0] = 1;
  for (size_t i = 0; i < e; ++i) {
    const uint8_t root = field.exp[static_cast<size_t>(first) + i];
    gen[i + 1] = Mul(field, root, gen[i]);
    for (size_t k = i; k >= 1; --k)
      gen[k] = static_cast<uint8_t>(gen[k] ^ Mul(field, root, gen[k - 1]));
  }
  // Logarithms of the generator's coefficients, so each step is one lookup per term.
  std::array<int, kMaxEc> genLog{};
  for (size_t j = 0; j < e; ++j) genLog[j] = gen[j + 1] ? field.log[gen[j + 1]] : -1;

  std::array<uint8_t, kMaxEc> rem{};
  for (uint8_t d : data) {
    const uint8_t factor = static_cast<uint8_t>(d ^ rem[0]);
    for (size_t j = 0; j + 1 < e; ++j) rem[j] = rem[j + 1];
    rem[e - 1] = 0;
    if (factor == 0) continue;
    const int lf = field.log[factor];
    for (size_t j = 0; j < e; ++j)
      if (genLog[j] >= 0) rem[j] ^= field.exp[static_cast<size_t>(genLog[j] + lf)];
  }
  for (size_t j = 0; j < ec.size(); ++j) ec[j] = j < e ? rem[j] : 0;
}

Value MatrixRows(const uint8_t* modules, int size) {
  Value rows = Value::NewList();
  List& list = rows.AsList();
  list.Reserve(static_cast<size_t>(size));
  std::string row(static_cast<size_t>(size), '0');
  for (int i = 0; i < size; ++i) {
    const uint8_t* src = modules + static_cast<ptrdiff_t>(i) * size;
    for (int j = 0; j < size; ++j) row[static_cast<size_t>(j)] = src[j] ? '1' : '0';
    list.Add(Value(row));
  }
  return rows;
}

}  // namespace kx::barcode
