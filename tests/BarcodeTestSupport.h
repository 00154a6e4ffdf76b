// What the barcode tests share: texts to encode, the key order of a map, and
// Reed-Solomon error correction computed the slow, obvious way to check the
// encoders' table-driven arithmetic (GF(256) products by shift and add, the
// generator built by multiplying its factors out, and long division).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "Value.h"

namespace kx::testing {

// A text of n bytes cycling through the alphabet.
inline std::string Cycle(std::string_view alphabet, size_t n) {
  std::string s;
  for (size_t i = 0; i < n; ++i) s.push_back(alphabet[i % alphabet.size()]);
  return s;
}

// The keys of a map, in order.
inline std::vector<std::string> Keys(const Value& map) {
  std::vector<std::string> out;
  for (const Map::Entry& e : map.AsMap()) out.emplace_back(e.key.Str());
  return out;
}

inline uint8_t GfMultiply(uint8_t a, uint8_t b, unsigned polynomial) {
  unsigned x = a, product = 0;
  for (unsigned y = b; y; y >>= 1) {
    if (y & 1u) product ^= x;
    x <<= 1;
    if (x & 0x100u) x ^= polynomial;
  }
  return static_cast<uint8_t>(product);
}

inline uint8_t GfPowerOfTwo(int exponent, unsigned polynomial) {
  uint8_t r = 1;
  for (int i = 0; i < exponent; ++i) r = GfMultiply(r, 2, polynomial);
  return r;
}

// The remainder of data(x) * x^e divided by (x - 2^first) ... (x - 2^(first+e-1)).
inline std::vector<uint8_t> ReedSolomonRemainder(const std::vector<uint8_t>& data, int e,
                                                 unsigned polynomial, int first) {
  std::vector<uint8_t> gen{1};  // highest power first
  for (int i = 0; i < e; ++i) {
    const uint8_t root = GfPowerOfTwo(first + i, polynomial);
    std::vector<uint8_t> next(gen.size() + 1, 0);
    for (size_t k = 0; k < gen.size(); ++k) {
      next[k] ^= gen[k];
      next[k + 1] ^= GfMultiply(gen[k], root, polynomial);
    }
    gen = next;
  }
  std::vector<uint8_t> work = data;
  work.resize(data.size() + static_cast<size_t>(e), 0);
  for (size_t i = 0; i < data.size(); ++i) {
    const uint8_t lead = work[i];
    if (lead == 0) continue;
    for (size_t k = 0; k < gen.size(); ++k) work[i + k] ^= GfMultiply(gen[k], lead, polynomial);
  }
  return std::vector<uint8_t>(work.end() - e, work.end());
}

}  // namespace kx::testing
