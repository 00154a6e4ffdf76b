// Data Matrix ECC 200 symbols: square sizes 10 x 10 to 44 x 44, ASCII encodation, one
// Reed-Solomon block.
#include <cstring>

#include "TBarcodeUtilMatrix.h"

namespace kx {

using barcode::kDmMaxCodewords;
using barcode::kDmMaxSize;

namespace {

struct DmSize {
  int size;
  int data;    // data codewords
  int ec;      // error correction codewords
  int region;  // side of one data region
};
// In the order they are tried: the first that holds the data is used.
constexpr DmSize kSizes[] = {
    {10, 3, 5, 8},    {12, 5, 7, 10},    {14, 8, 10, 12},   {16, 12, 12, 14}, {18, 18, 14, 16},
    {20, 22, 18, 18}, {22, 30, 20, 20},  {24, 36, 24, 22},  {26, 44, 28, 24}, {32, 62, 36, 14},
    {36, 86, 42, 16}, {40, 114, 48, 18}, {44, 144, 56, 20},
};
constexpr int kMaxData = 144;
constexpr int kMaxMapping = 40;
constexpr uint8_t kPad = 129;
constexpr uint8_t kUpperShift = 235;

bool IsDigit(unsigned char b) {
  return b >= '0' && b <= '9';
}

// ASCII encodation: digit pairs, single ASCII bytes, Upper Shift for bytes above 127. Answers
// the count, or -1 past the largest symbol's capacity.
int EncodeAscii(std::string_view text, uint8_t* out) {
  int n = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char b = static_cast<unsigned char>(text[i]);
    if (IsDigit(b) && i + 1 < text.size() && IsDigit(static_cast<unsigned char>(text[i + 1]))) {
      if (n + 1 > kMaxData) return -1;
      out[n++] = static_cast<uint8_t>(130 + (b - '0') * 10 + (text[i + 1] - '0'));
      ++i;
    } else if (b < 128) {
      if (n + 1 > kMaxData) return -1;
      out[n++] = static_cast<uint8_t>(b + 1);
    } else {
      if (n + 2 > kMaxData) return -1;
      out[n++] = kUpperShift;
      out[n++] = static_cast<uint8_t>(b - 127);
    }
  }
  return n;
}

// The 253-state randomised pads after the first, at 1-based position p.
uint8_t PadAt(int p) {
  const int v = 130 + (149 * p) % 253;
  return static_cast<uint8_t>(v > 254 ? v - 254 : v);
}

struct Mapping {
  int8_t* m;
  int rows, cols;
  std::span<const uint8_t> codewords;

  // Bit `bit` (1 the most significant) of codeword `index` at (row, col), wrapped into the matrix.
  void Module(int row, int col, int index, int bit) const {
    if (row < 0) {
      row += rows;
      col += 4 - ((rows + 4) % 8);
    }
    if (col < 0) {
      col += cols;
      row += 4 - ((cols + 4) % 8);
    }
    const uint8_t cw =
        static_cast<size_t>(index) < codewords.size() ? codewords[static_cast<size_t>(index)] : 0;
    m[row * cols + col] = static_cast<int8_t>((cw >> (8 - bit)) & 1);
  }
  void Place(int index, const int (&at)[8][2]) const {
    for (int k = 0; k < 8; ++k) Module(at[k][0], at[k][1], index, k + 1);
  }
  void Corner1(int index) const {
    const int r = rows, c = cols;
    Place(index, {{r - 1, 0},
                  {r - 1, 1},
                  {r - 1, 2},
                  {0, c - 2},
                  {0, c - 1},
                  {1, c - 1},
                  {2, c - 1},
                  {3, c - 1}});
  }
  void Corner2(int index) const {
    const int r = rows, c = cols;
    Place(index, {{r - 3, 0},
                  {r - 2, 0},
                  {r - 1, 0},
                  {0, c - 4},
                  {0, c - 3},
                  {0, c - 2},
                  {0, c - 1},
                  {1, c - 1}});
  }
  void Corner3(int index) const {
    const int r = rows, c = cols;
    Place(index, {{r - 3, 0},
                  {r - 2, 0},
                  {r - 1, 0},
                  {0, c - 2},
                  {0, c - 1},
                  {1, c - 1},
                  {2, c - 1},
                  {3, c - 1}});
  }
  void Corner4(int index) const {
    const int r = rows, c = cols;
    Place(index, {{r - 1, 0},
                  {r - 1, c - 1},
                  {0, c - 3},
                  {0, c - 2},
                  {0, c - 1},
                  {1, c - 3},
                  {1, c - 2},
                  {1, c - 1}});
  }
  bool Free(int row, int col) const { return m[row * cols + col] < 0; }
};

// The placement walk of ECC 200 over the mapping matrix.
void PlaceCodewords(int8_t* matrix, int n, std::span<const uint8_t> codewords) {
  std::memset(matrix, -1, static_cast<size_t>(n) * static_cast<size_t>(n));
  const Mapping map{matrix, n, n, codewords};
  int index = 0, row = 4, col = 0;
  do {
    if (row == n && col == 0) map.Corner1(index++);
    if (row == n - 2 && col == 0 && n % 4 != 0) map.Corner2(index++);
    if (row == n - 2 && col == 0 && n % 8 == 4) map.Corner3(index++);
    if (row == n + 4 && col == 2 && n % 8 == 0) map.Corner4(index++);
    do {  // up and to the right
      if (row < n && col >= 0 && map.Free(row, col))
        kxtar_dm_utah(matrix, n, n, codewords, index++, row, col);
      row -= 2;
      col += 2;
    } while (row >= 0 && col < n);
    row += 1;
    col += 3;
    do {  // down and to the left
      if (row >= 0 && col < n && map.Free(row, col))
        kxtar_dm_utah(matrix, n, n, codewords, index++, row, col);
      row += 2;
      col -= 2;
    } while (row < n && col >= 0);
    row += 3;
    col += 1;
  } while (row < n || col < n);
  // Sizes whose mapping leaves the lower-right corner free fill it with a fixed pattern.
  if (map.Free(n - 1, n - 1)) {
    matrix[(n - 1) * n + (n - 1)] = 1;
    matrix[(n - 2) * n + (n - 2)] = 1;
    matrix[(n - 1) * n + (n - 2)] = 0;
    matrix[(n - 2) * n + (n - 1)] = 0;
  }
}

// Every data region framed on its own: solid left column and bottom row, alternating top row and
// right column.
void DrawSymbol(const int8_t* matrix, const DmSize& s, uint8_t* out) {
  const int block = s.region + 2;
  const int regions = s.size / block;
  const int n = regions * s.region;
  for (int r = 0; r < s.size; ++r) {
    for (int c = 0; c < s.size; ++c) {
      const int lr = r % block, lc = c % block;
      uint8_t dark;
      if (lc == 0 || lr == block - 1) {
        dark = 1;
      } else if (lr == 0) {
        dark = lc % 2 == 0;
      } else if (lc == block - 1) {
        dark = lr % 2 == 1;
      } else {
        const int mr = (r / block) * s.region + lr - 1;
        const int mc = (c / block) * s.region + lc - 1;
        dark = matrix[mr * n + mc] > 0;
      }
      out[r * s.size + c] = dark;
    }
  }
}

}  // namespace

void kxtar_dm_utah(int8_t* matrix, int rows, int columns, std::span<const uint8_t> codewords,
                   int index, int row, int column) {
  const Mapping map{matrix, rows, columns, codewords};
  const int r = row, c = column;
  map.Place(index, {{r - 2, c - 2},
                    {r - 2, c - 1},
                    {r - 1, c - 2},
                    {r - 1, c - 1},
                    {r - 1, c},
                    {r, c - 2},
                    {r, c - 1},
                    {r, c}});
}

namespace barcode {

int DataMatrixCodewords(std::string_view text, std::span<uint8_t, kDmMaxCodewords> out, int& size) {
  size = 0;
  const int count = EncodeAscii(text, out.data());
  if (count < 0) return 0;
  const DmSize* chosen = nullptr;
  for (const DmSize& s : kSizes) {
    if (s.data >= count) {
      chosen = &s;
      break;
    }
  }
  if (!chosen) return 0;
  for (int p = count + 1; p <= chosen->data; ++p)
    out[static_cast<size_t>(p - 1)] = p == count + 1 ? kPad : PadAt(p);
  ReedSolomon(kDmField, 1, out.first(static_cast<size_t>(chosen->data)),
              out.subspan(static_cast<size_t>(chosen->data), static_cast<size_t>(chosen->ec)));
  size = chosen->size;
  return chosen->data + chosen->ec;
}

bool DataMatrixEncode(std::string_view text, DmSymbol& symbol) {
  uint8_t codewords[kDmMaxCodewords];
  int size = 0;
  const int count = DataMatrixCodewords(text, std::span<uint8_t, kDmMaxCodewords>(codewords), size);
  if (count == 0) return false;
  DataMatrixBuild(std::span<const uint8_t>(codewords, static_cast<size_t>(count)), size, symbol);
  return true;
}

void DataMatrixBuild(std::span<const uint8_t> codewords, int size, DmSymbol& symbol) {
  const DmSize* s = kSizes;
  while (s->size < size && s->size < kDmMaxSize) ++s;
  const int regions = s->size / (s->region + 2);
  int8_t matrix[kMaxMapping * kMaxMapping];
  PlaceCodewords(matrix, regions * s->region, codewords);
  DrawSymbol(matrix, *s, symbol.modules.data());
  symbol.size = s->size;
}

}  // namespace barcode

Value KXTARDATAMATRIX(std::string_view text) {
  barcode::DmSymbol symbol;
  if (!barcode::DataMatrixEncode(text, symbol)) return Value::NewList();
  return barcode::MatrixRows(symbol.modules.data(), symbol.size);
}

}  // namespace kx
