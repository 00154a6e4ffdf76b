// QR Code symbols: error correction level L, byte mode, versions 1 to 10.
#include <algorithm>
#include <bit>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "TBarcodeUtilMatrix.h"

namespace kx {

using barcode::kQrMaxBytes;
using barcode::kQrMaxCodewords;
using barcode::kQrMaxSize;
using barcode::kQrMaxVersion;

namespace {

// Per version at level L: data codewords, error correction codewords of every block, blocks.
constexpr int kDataCodewords[kQrMaxVersion] = {19, 34, 55, 80, 108, 136, 156, 194, 232, 274};
constexpr int kEcPerBlock[kQrMaxVersion] = {7, 10, 15, 20, 26, 18, 20, 24, 30, 18};
constexpr int kBlocks[kQrMaxVersion] = {1, 1, 1, 1, 1, 2, 2, 2, 2, 4};

struct AlignmentCentres {
  int count;
  int at[3];
};
constexpr AlignmentCentres kAlignment[kQrMaxVersion] = {
    {0, {}},      {2, {6, 18}},     {2, {6, 22}},     {2, {6, 26}},     {2, {6, 30}},
    {2, {6, 34}}, {3, {6, 22, 38}}, {3, {6, 24, 42}}, {3, {6, 26, 46}}, {3, {6, 28, 50}},
};

// The sequences 1011101 0000 and 0000 1011101, first module first.
constexpr bool kFinderLikeAfter[11] = {1, 0, 1, 1, 1, 0, 1, 0, 0, 0, 0};
constexpr bool kFinderLikeBefore[11] = {0, 0, 0, 0, 1, 0, 1, 1, 1, 0, 1};

constexpr bool MaskCondition(int mask, int i, int j) {
  switch (mask) {
    case 0:
      return (i + j) % 2 == 0;
    case 1:
      return i % 2 == 0;
    case 2:
      return j % 3 == 0;
    case 3:
      return (i + j) % 3 == 0;
    case 4:
      return (i / 2 + j / 3) % 2 == 0;
    case 5:
      return (i * j) % 2 + (i * j) % 3 == 0;
    case 6:
      return ((i * j) % 2 + (i * j) % 3) % 2 == 0;
    default:
      return ((i + j) % 2 + (i * j) % 3) % 2 == 0;
  }
}

// Where each mask flips (1) for the largest symbol, row after row: the conditions depend on the
// row and column only, so every smaller symbol reads the top-left corner.
struct MaskBytes {
  uint8_t at[8][kQrMaxSize * kQrMaxSize];
};
constexpr MaskBytes MakeMaskBytes() {
  MaskBytes t{};
  for (int mask = 0; mask < 8; ++mask)
    for (int i = 0; i < kQrMaxSize; ++i)
      for (int j = 0; j < kQrMaxSize; ++j)
        t.at[mask][i * kQrMaxSize + j] = MaskCondition(mask, i, j) ? 1 : 0;
  return t;
}
constexpr MaskBytes kMaskBytes = MakeMaskBytes();

int ChooseVersion(size_t n) {
  if (n > static_cast<size_t>(kQrMaxBytes)) return 0;
  for (int v = 1; v < kQrMaxVersion; ++v)
    if (static_cast<size_t>(kDataCodewords[v - 1]) * 8 >= 8 * n + 12) return v;
  // Version 10 counts the bytes in 16 bits.
  return static_cast<size_t>(kDataCodewords[kQrMaxVersion - 1]) * 8 >= 8 * n + 20 ? kQrMaxVersion
                                                                                  : 0;
}

struct BitWriter {
  uint8_t* buf;
  int nBits = 0;
  void Put(unsigned value, int count) {
    for (int i = count - 1; i >= 0; --i) {
      if ((value >> i) & 1u) buf[nBits >> 3] |= static_cast<uint8_t>(0x80u >> (nBits & 7));
      ++nBits;
    }
  }
};

// Mode, count, bytes, terminator and padding fill the version's data capacity.
void DataCodewords(std::string_view text, int version, uint8_t* data) {
  const int capacity = kDataCodewords[version - 1];
  std::memset(data, 0, static_cast<size_t>(capacity));
  BitWriter w{data};
  w.Put(0x4, 4);
  w.Put(static_cast<unsigned>(text.size()), version < kQrMaxVersion ? 8 : 16);
  for (unsigned char b : text) w.Put(b, 8);
  w.Put(0, std::min(4, capacity * 8 - w.nBits));
  w.nBits = (w.nBits + 7) / 8 * 8;
  for (int i = w.nBits / 8, pad = 0; i < capacity; ++i, pad ^= 1) data[i] = pad ? 0x11 : 0xEC;
}

void SetFunction(uint8_t* m, uint8_t* f, int size, int row, int col, bool dark) {
  const int at = row * size + col;
  m[at] = dark ? 1 : 0;
  f[at] = 1;
}

// A finder pattern with its top-left module at (row, col), and the light separator around it.
void DrawFinder(uint8_t* m, uint8_t* f, int size, int row, int col) {
  for (int dr = -1; dr <= 7; ++dr) {
    for (int dc = -1; dc <= 7; ++dc) {
      const int r = row + dr, c = col + dc;
      if (r < 0 || r >= size || c < 0 || c >= size) continue;
      const bool inside = dr >= 0 && dr <= 6 && dc >= 0 && dc <= 6;
      const bool ring = dr == 0 || dr == 6 || dc == 0 || dc == 6;
      const bool centre = dr >= 2 && dr <= 4 && dc >= 2 && dc <= 4;
      SetFunction(m, f, size, r, c, inside && (ring || centre));
    }
  }
}

void DrawAlignment(uint8_t* m, uint8_t* f, int size, int row, int col) {
  for (int dr = -2; dr <= 2; ++dr)
    for (int dc = -2; dc <= 2; ++dc)
      SetFunction(m, f, size, row + dr, col + dc, std::max(std::abs(dr), std::abs(dc)) != 1);
}

void DrawVersion(uint8_t* m, uint8_t* f, int size, int version) {
  unsigned rem = static_cast<unsigned>(version);
  for (int i = 0; i < 12; ++i) rem = (rem << 1) ^ ((rem >> 11) * 0x1F25u);
  const unsigned bits = static_cast<unsigned>(version) << 12 | rem;
  for (int k = 0; k < 18; ++k) {
    const bool dark = (bits >> k) & 1u;
    const int a = k / 3, b = size - 11 + k % 3;
    SetFunction(m, f, size, a, b, dark);
    SetFunction(m, f, size, b, a, dark);
  }
}

void DrawFunctionPatterns(uint8_t* m, uint8_t* f, int size, int version) {
  // Timing first: the finders and alignment patterns drawn after it replace what they cover.
  for (int i = 0; i < size; ++i) {
    SetFunction(m, f, size, 6, i, i % 2 == 0);
    SetFunction(m, f, size, i, 6, i % 2 == 0);
  }
  DrawFinder(m, f, size, 0, 0);
  DrawFinder(m, f, size, 0, size - 7);
  DrawFinder(m, f, size, size - 7, 0);
  const AlignmentCentres& a = kAlignment[version - 1];
  for (int i = 0; i < a.count; ++i) {
    for (int j = 0; j < a.count; ++j) {
      const bool onFinder =
          (i == 0 && j == 0) || (i == 0 && j == a.count - 1) || (i == a.count - 1 && j == 0);
      if (!onFinder) DrawAlignment(m, f, size, a.at[i], a.at[j]);
    }
  }
  kxtar_qr_format(m, f, size, 0);  // reserves the format areas and sets the dark module
  if (version >= 7) DrawVersion(m, f, size, version);
}

// Codewords into the free modules, in the zigzag of two-module columns from the bottom right.
void PlaceCodewords(uint8_t* m, const uint8_t* f, int size, const uint8_t* codewords, int count) {
  const int nBits = count * 8;
  int bit = 0;
  for (int right = size - 1; right >= 1; right -= 2) {
    if (right == 6) right = 5;
    const bool upward = ((right + 1) & 2) == 0;
    for (int step = 0; step < size; ++step) {
      const int row = upward ? size - 1 - step : step;
      for (int k = 0; k < 2; ++k) {
        const int at = row * size + right - k;
        if (f[at]) continue;
        // The remainder bits after the last codeword stay light.
        m[at] = bit < nBits ? (codewords[bit >> 3] >> (7 - (bit & 7))) & 1 : 0;
        ++bit;
      }
    }
  }
}

// Runs of five or more modules of one colour, and finder-like sequences, along one line held as
// bits (bit k for module k): each rule is a few shifts and a population count.
int LinePenalty(uint64_t line, int size) {
  const uint64_t full = (uint64_t{1} << size) - 1;
  // Bit k: modules k and k + 1 agree; a run of five from k needs four agreements in a row.
  const uint64_t same = ~(line ^ (line >> 1));
  const uint64_t five = same & (same >> 1) & (same >> 2) & (same >> 3) & (full >> 4);
  // A run of L >= 5 holds L - 4 runs of five and scores L - 2.
  int score = std::popcount(five) + 2 * std::popcount(five & ~(five << 1));
  uint64_t after = full >> 10, before = full >> 10;
  for (int t = 0; t < 11; ++t) {
    const uint64_t shifted = line >> t;
    after &= kFinderLikeAfter[t] ? shifted : ~shifted;
    before &= kFinderLikeBefore[t] ? shifted : ~shifted;
  }
  return score + 40 * (std::popcount(after) + std::popcount(before));
}

}  // namespace

void kxtar_qr_format(uint8_t* symbol, uint8_t* function, int size, int mask) {
  const unsigned data = (1u << 3) | static_cast<unsigned>(mask & 7);  // level L is 01
  unsigned rem = data;
  for (int i = 0; i < 10; ++i) rem = (rem << 1) ^ ((rem >> 9) * 0x537u);
  const unsigned bits = ((data << 10) | rem) ^ 0x5412u;
  auto bitAt = [&](int k) { return ((bits >> k) & 1u) != 0; };

  for (int k = 0; k <= 5; ++k) SetFunction(symbol, function, size, k, 8, bitAt(k));
  SetFunction(symbol, function, size, 7, 8, bitAt(6));
  SetFunction(symbol, function, size, 8, 8, bitAt(7));
  SetFunction(symbol, function, size, 8, 7, bitAt(8));
  for (int k = 9; k < 15; ++k) SetFunction(symbol, function, size, 8, 14 - k, bitAt(k));

  for (int k = 0; k < 8; ++k) SetFunction(symbol, function, size, 8, size - 1 - k, bitAt(k));
  for (int k = 8; k < 15; ++k) SetFunction(symbol, function, size, size - 15 + k, 8, bitAt(k));
  SetFunction(symbol, function, size, size - 8, 8, true);
}

void kxtar_qr_mask(uint8_t* symbol, const uint8_t* function, int size, int mask) {
  if (mask < 0 || mask > 7 || size > kQrMaxSize) return;
  for (int i = 0; i < size; ++i) {
    const uint8_t* flips = kMaskBytes.at[mask] + i * kQrMaxSize;
    uint8_t* row = symbol + static_cast<ptrdiff_t>(i) * size;
    const uint8_t* frow = function + static_cast<ptrdiff_t>(i) * size;
    // Modules are the bytes 0 and 1: eight of them at a time flip where the mask says so and the
    // function map does not.
    int j = 0;
    for (; j + 8 <= size; j += 8) {
      uint64_t m, f, x;
      std::memcpy(&m, row + j, 8);
      std::memcpy(&f, frow + j, 8);
      std::memcpy(&x, flips + j, 8);
      m ^= x & ~f;
      std::memcpy(row + j, &m, 8);
    }
    for (; j < size; ++j) row[j] ^= static_cast<uint8_t>(flips[j] & ~frow[j]);
  }
}

namespace barcode {

int QrCodewords(std::string_view text, std::span<uint8_t, kQrMaxCodewords> out, int& version) {
  version = ChooseVersion(text.size());
  if (version == 0) return 0;
  const int dataCount = kDataCodewords[version - 1];
  const int ecCount = kEcPerBlock[version - 1];
  const int blocks = kBlocks[version - 1];
  uint8_t data[kQrMaxCodewords];
  DataCodewords(text, version, data);

  // Equal shares, the last blocks one codeword longer when the count does not divide.
  const int shortLen = dataCount / blocks;
  const int longBlocks = dataCount % blocks;
  int start[4], len[4];
  uint8_t ec[4][32];
  for (int b = 0, at = 0; b < blocks; ++b) {
    start[b] = at;
    len[b] = shortLen + (b >= blocks - longBlocks ? 1 : 0);
    ReedSolomon(kQrField, 0, std::span<const uint8_t>(data + at, static_cast<size_t>(len[b])),
                std::span<uint8_t>(ec[b], static_cast<size_t>(ecCount)));
    at += len[b];
  }
  int n = 0;
  for (int i = 0; i <= shortLen; ++i)
    for (int b = 0; b < blocks; ++b)
      if (i < len[b]) out[static_cast<size_t>(n++)] = data[start[b] + i];
  for (int i = 0; i < ecCount; ++i)
    for (int b = 0; b < blocks; ++b) out[static_cast<size_t>(n++)] = ec[b][i];
  return n;
}

int QrPenalty(const uint8_t* m, int size) {
  // One pass over the bytes gives every row and column as bits; the rules then work on those.
  uint64_t rows[kQrMaxSize] = {}, cols[kQrMaxSize] = {};
  size = std::min(size, kQrMaxSize);
  int dark = 0;
  for (int i = 0; i < size; ++i) {
    const uint8_t* src = m + static_cast<ptrdiff_t>(i) * size;
    uint64_t row = 0;
    for (int j = 0; j < size; ++j) {
      const uint64_t b = src[j] & 1u;
      row |= b << j;
      cols[j] |= b << i;
    }
    rows[i] = row;
    dark += std::popcount(row);
  }
  int score = 0;
  for (int i = 0; i < size; ++i) score += LinePenalty(rows[i], size) + LinePenalty(cols[i], size);
  // 2 x 2 blocks: bit j where columns j and j + 1 agree down both rows and along the upper one.
  const uint64_t inner = (uint64_t{1} << (size - 1)) - 1;
  for (int i = 0; i + 1 < size; ++i) {
    const uint64_t down = ~(rows[i] ^ rows[i + 1]);
    const uint64_t along = ~(rows[i] ^ (rows[i] >> 1));
    score += 3 * std::popcount(down & (down >> 1) & along & inner);
  }
  const int total = size * size;
  score += 10 * (std::abs(20 * dark - 10 * total) / total);
  return score;
}

bool QrEncode(std::string_view text, QrSymbol& symbol) {
  uint8_t codewords[kQrMaxCodewords];
  int version = 0;
  const int count = QrCodewords(text, std::span<uint8_t, kQrMaxCodewords>(codewords), version);
  if (count == 0) return false;
  QrBuild(std::span<const uint8_t>(codewords, static_cast<size_t>(count)), version, symbol);
  return true;
}

void QrBuild(std::span<const uint8_t> codewords, int version, QrSymbol& symbol) {
  version = std::clamp(version, 1, kQrMaxVersion);
  const int size = 17 + 4 * version;
  uint8_t m[kQrMaxSize * kQrMaxSize] = {};
  uint8_t f[kQrMaxSize * kQrMaxSize] = {};
  DrawFunctionPatterns(m, f, size, version);
  PlaceCodewords(m, f, size, codewords.data(), static_cast<int>(codewords.size()));

  int best = INT_MAX;
  const size_t bytes = static_cast<size_t>(size) * static_cast<size_t>(size);
  for (int mask = 0; mask < 8; ++mask) {
    kxtar_qr_mask(m, f, size, mask);
    kxtar_qr_format(m, f, size, mask);
    const int score = QrPenalty(m, size);
    // Strictly lower only: on a tie the lower mask number stays.
    if (score < best) {
      best = score;
      symbol.mask = mask;
      std::memcpy(symbol.modules.data(), m, bytes);
    }
    kxtar_qr_mask(m, f, size, mask);
  }
  kxtar_qr_format(symbol.modules.data(), f, size, symbol.mask);
  symbol.version = version;
  symbol.size = size;
}

}  // namespace barcode

Value KXTARQRMATRIX(std::string_view text) {
  barcode::QrSymbol symbol;
  if (!barcode::QrEncode(text, symbol)) return Value::NewList();
  return barcode::MatrixRows(symbol.modules.data(), symbol.size);
}

}  // namespace kx
