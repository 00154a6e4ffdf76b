// The two matrix encoders behind the barcode service, and the pieces of them
// that the service's tests check on their own: the codeword streams and the
// Reed-Solomon arithmetic over GF(256).
//
// Both encoders are plain functions that answer a list of row texts ("1"
// dark, "0" light, top row first, no quiet zone), or an empty list when the
// text does not fit. They work in fixed storage of their own call and read
// only constant tables: the byte-matrix functions below may run at once on
// any number of threads.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "Value.h"

namespace kx {

// ---- QR Code: level L, byte mode, versions 1 to 10

// The rows of the smallest QR symbol that holds the text's bytes, or an empty list past 271 bytes.
Value KXTARQRMATRIX(std::string_view text);
// Writes both copies of the format information for level L and the mask, and the dark module,
// and marks them as function modules.
void kxtar_qr_format(uint8_t* symbol, uint8_t* function, int size, int mask);
// Inverts every module that is not a function module where the mask's condition holds; applying
// the same mask twice restores the symbol.
void kxtar_qr_mask(uint8_t* symbol, const uint8_t* function, int size, int mask);

// ---- Data Matrix ECC 200: square symbols 10 x 10 to 44 x 44, ASCII encodation

// The rows of the smallest square symbol that holds the text, or an empty list past 144 data
// codewords.
Value KXTARDATAMATRIX(std::string_view text);
// Places the eight bits of `codewords[index]` in the "utah" shape whose last module is at
// (row, column) of the mapping matrix (-1 unfilled, else 0 or 1), wrapping around its edges.
void kxtar_dm_utah(int8_t* matrix, int rows, int columns, std::span<const uint8_t> codewords,
                   int index, int row, int column);

namespace barcode {

// The largest symbols the encoders make.
inline constexpr int kQrMaxVersion = 10;
inline constexpr int kQrMaxSize = 17 + 4 * kQrMaxVersion;
inline constexpr int kQrMaxCodewords = 346;
inline constexpr int kQrMaxBytes = 271;
inline constexpr int kDmMaxSize = 44;
inline constexpr int kDmMaxCodewords = 144 + 56;

// A QR symbol in a byte matrix, row after row (1 dark, 0 light).
struct QrSymbol {
  int version = 0;
  int size = 0;
  int mask = -1;
  std::array<uint8_t, kQrMaxSize * kQrMaxSize> modules{};
};

// The interleaved data and error correction codewords of the text's QR symbol; the count is 0
// when the text does not fit. Sets the version chosen.
int QrCodewords(std::string_view text, std::span<uint8_t, kQrMaxCodewords> out, int& version);
// The text's QR symbol with the best mask; false when the text does not fit.
bool QrEncode(std::string_view text, QrSymbol& symbol);
// The symbol of a version that carries the given interleaved codewords, with the best mask.
void QrBuild(std::span<const uint8_t> codewords, int version, QrSymbol& symbol);
// The penalty score of a masked symbol (runs, 2 x 2 blocks, finder-like sequences, balance).
int QrPenalty(const uint8_t* symbol, int size);

// A Data Matrix symbol in a byte matrix, row after row (1 dark, 0 light).
struct DmSymbol {
  int size = 0;
  std::array<uint8_t, kDmMaxSize * kDmMaxSize> modules{};
};

// The data codewords (padded) followed by the error correction codewords of the text's symbol;
// the count is 0 when the text does not fit. Sets the symbol's side in modules.
int DataMatrixCodewords(std::string_view text, std::span<uint8_t, kDmMaxCodewords> out, int& size);
// The text's Data Matrix symbol; false when the text does not fit.
bool DataMatrixEncode(std::string_view text, DmSymbol& symbol);
// The symbol of a side (10 to 44) that carries the given data and error correction codewords.
void DataMatrixBuild(std::span<const uint8_t> codewords, int size, DmSymbol& symbol);

// ---- GF(256) and Reed-Solomon

// Antilogarithms and logarithms of GF(256) over a field polynomial with alpha = 2. The
// antilogarithms repeat with the multiplicative group's period 255 (alpha^255 = 1), doubled so
// that the sum of two logarithms needs no reduction.
struct GaloisField {
  std::array<uint8_t, 512> exp{};
  std::array<uint8_t, 256> log{};
};

constexpr GaloisField MakeGaloisField(unsigned polynomial) {
  GaloisField field;
  unsigned x = 1;
  for (int i = 0; i < 255; ++i) {
    field.exp[static_cast<size_t>(i)] = static_cast<uint8_t>(x);
    field.log[x] = static_cast<uint8_t>(i);
    x <<= 1;
    if (x & 0x100) x ^= polynomial;
  }
  for (int i = 255; i < 512; ++i)
    field.exp[static_cast<size_t>(i)] = field.exp[static_cast<size_t>(i - 255)];
  return field;
}

// QR Code: x^8 + x^4 + x^3 + x^2 + 1.
inline constexpr GaloisField kQrField = MakeGaloisField(0x11D);
// Data Matrix: x^8 + x^5 + x^3 + x^2 + 1.
inline constexpr GaloisField kDmField = MakeGaloisField(0x12D);

// The `ec.size()` error correction codewords of `data`: the remainder of data(x) * x^e divided by
// (x - alpha^first)(x - alpha^(first+1))...(x - alpha^(first+e-1)).
void ReedSolomon(const GaloisField& field, int first, std::span<const uint8_t> data,
                 std::span<uint8_t> ec);

// Module rows of a byte matrix as the encoders answer them.
Value MatrixRows(const uint8_t* modules, int size);

}  // namespace barcode
}  // namespace kx
