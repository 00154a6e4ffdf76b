#include "Base64.h"

#include <array>
#include <cstdint>

namespace kx {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The 6-bit value of each byte, or -1 outside the alphabet.
constexpr std::array<int8_t, 256> MakeDecodeTable() {
  std::array<int8_t, 256> table{};
  for (int8_t& v : table) v = -1;
  for (int i = 0; i < 64; ++i)
    table[static_cast<unsigned char>(kAlphabet[i])] = static_cast<int8_t>(i);
  return table;
}

constexpr std::array<int8_t, 256> kDecode = MakeDecodeTable();

}  // namespace

std::string Base64Encode(std::string_view bytes) {
  std::string out;
  out.resize((bytes.size() + 2) / 3 * 4);
  const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
  const size_t whole = bytes.size() / 3 * 3;
  char* o = out.data();
  for (size_t i = 0; i < whole; i += 3) {
    const uint32_t n = (uint32_t{in[i]} << 16) | (uint32_t{in[i + 1]} << 8) | in[i + 2];
    *o++ = kAlphabet[n >> 18];
    *o++ = kAlphabet[(n >> 12) & 63];
    *o++ = kAlphabet[(n >> 6) & 63];
    *o++ = kAlphabet[n & 63];
  }
  const size_t rest = bytes.size() - whole;
  if (rest > 0) {
    const uint32_t n = (uint32_t{in[whole]} << 16) | (rest == 2 ? uint32_t{in[whole + 1]} << 8 : 0);
    *o++ = kAlphabet[n >> 18];
    *o++ = kAlphabet[(n >> 12) & 63];
    *o++ = rest == 2 ? kAlphabet[(n >> 6) & 63] : '=';
    *o++ = '=';
  }
  return out;
}

bool Base64DecodeStrict(std::string_view text, std::string& out) {
  out.clear();
  if (text.empty() || text.size() % 4 == 1) return false;
  // Padding: at most the last two characters, and nothing but "=" after the first one.
  size_t data = text.size();
  while (data > 0 && text[data - 1] == '=') --data;
  if (text.size() - data > 2) return false;
  // A last group of one character holds six bits: no byte; padding alone holds none either.
  if (data % 4 == 1 || data == 0) return false;

  out.reserve(data / 4 * 3 + 2);
  uint32_t acc = 0;
  int bits = 0;
  for (size_t i = 0; i < data; ++i) {
    const int8_t v = kDecode[static_cast<unsigned char>(text[i])];
    if (v < 0) {
      out.clear();
      return false;
    }
    acc = (acc << 6) | static_cast<uint32_t>(v);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out.push_back(static_cast<char>((acc >> bits) & 0xFF));
    }
  }
  return true;
}

}  // namespace kx
