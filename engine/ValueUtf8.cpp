// Byte texts (positions from 1), UTF-8 characters, Windows-1252, trimming and case.
#include <algorithm>
#include <vector>

#include "Value.h"
#include "ValueInterno.h"

namespace kx {

using detail::IsBlankChar;

std::string_view Left(std::string_view s, int64_t n) {
  if (n <= 0) return {};
  return s.substr(0, static_cast<size_t>(std::min<int64_t>(n, static_cast<int64_t>(s.size()))));
}

std::string_view Right(std::string_view s, int64_t n) {
  if (n <= 0) return {};
  size_t k = static_cast<size_t>(std::min<int64_t>(n, static_cast<int64_t>(s.size())));
  return s.substr(s.size() - k);
}

namespace {

// 0-based offset of a 1-based start with the shared rules, or npos when past the end.
size_t StartOffset(int64_t start, size_t len) {
  int64_t n = static_cast<int64_t>(len);
  if (start == 0) start = 1;
  if (start < 0) start = std::max<int64_t>(1, n + start + 1);
  if (start > n) return std::string_view::npos;
  return static_cast<size_t>(start - 1);
}

}  // namespace

std::string_view Substr(std::string_view s, int64_t start) {
  size_t off = StartOffset(start, s.size());
  return off == std::string_view::npos ? std::string_view() : s.substr(off);
}

std::string_view Substr(std::string_view s, int64_t start, int64_t count) {
  if (count <= 0) return {};
  size_t off = StartOffset(start, s.size());
  if (off == std::string_view::npos) return {};
  return s.substr(off,
                  static_cast<size_t>(std::min<int64_t>(count, static_cast<int64_t>(s.size()))));
}

size_t At(std::string_view needle, std::string_view hay) {
  if (needle.empty()) return 0;
  size_t p = hay.find(needle);
  return p == std::string_view::npos ? 0 : p + 1;
}

size_t RAt(std::string_view needle, std::string_view hay) {
  if (needle.empty()) return 0;
  size_t p = hay.rfind(needle);
  return p == std::string_view::npos ? 0 : p + 1;
}

std::string ReplaceAll(std::string_view s, std::string_view from, std::string_view to) {
  if (from.empty()) return std::string(s);
  std::string out;
  out.reserve(s.size());
  size_t pos = 0;
  for (;;) {
    size_t hit = s.find(from, pos);
    if (hit == std::string_view::npos) break;
    out.append(s.substr(pos, hit - pos));
    out.append(to);
    pos = hit + from.size();
  }
  out.append(s.substr(pos));
  return out;
}

std::vector<std::string_view> Split(std::string_view s, std::string_view delim) {
  std::vector<std::string_view> out;
  if (delim.empty()) {
    out.push_back(s);
    return out;
  }
  size_t pos = 0;
  for (;;) {
    size_t hit = s.find(delim, pos);
    if (hit == std::string_view::npos) break;
    out.push_back(s.substr(pos, hit - pos));
    pos = hit + delim.size();
  }
  out.push_back(s.substr(pos));
  return out;
}

std::string PadLeft(std::string_view s, int64_t n) {
  if (n <= 0) return {};
  size_t w = static_cast<size_t>(std::min<int64_t>(n, 1 << 24));
  if (s.size() >= w) return std::string(s.substr(0, w));
  return std::string(w - s.size(), ' ') + std::string(s);
}

int Asc(std::string_view s) {
  return s.empty() ? 0 : static_cast<unsigned char>(s[0]);
}

std::string Chr(int64_t code) {
  return std::string(1, static_cast<char>(static_cast<uint8_t>(code & 0xFF)));
}

std::string HexByte(int64_t n) {
  static const char kHex[] = "0123456789ABCDEF";
  unsigned b = static_cast<unsigned>(n & 0xFF);
  return {kHex[b >> 4], kHex[b & 15]};
}

int64_t HexToNumber(std::string_view s) {
  if (s.empty()) return 0;
  uint64_t v = 0;
  for (char c : s) {
    int d;
    if (c >= '0' && c <= '9')
      d = c - '0';
    else if (c >= 'a' && c <= 'f')
      d = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
      d = c - 'A' + 10;
    else
      return 0;
    v = (v << 4) | static_cast<uint64_t>(d);
  }
  return static_cast<int64_t>(v);
}

// ---------------------------------------------------------------------------
// UTF-8

namespace {

bool IsContinuation(unsigned char c) {
  return (c & 0xC0) == 0x80;
}

// Byte offsets of the first `count` characters from character index `from`.
size_t CharOffset(std::string_view s, size_t chars) {
  size_t i = 0;
  while (i < s.size() && chars > 0) {
    ++i;
    while (i < s.size() && IsContinuation(static_cast<unsigned char>(s[i]))) ++i;
    --chars;
  }
  return i;
}

}  // namespace

size_t Utf8Length(std::string_view s) {
  size_t n = 0;
  for (unsigned char c : s) n += !IsContinuation(c);
  return n;
}

std::string_view Utf8Substr(std::string_view s, int64_t start) {
  size_t len = Utf8Length(s);
  size_t off = StartOffset(start, len);
  if (off == std::string_view::npos) return {};
  return s.substr(CharOffset(s, off));
}

std::string_view Utf8Substr(std::string_view s, int64_t start, int64_t count) {
  if (count <= 0) return {};
  size_t len = Utf8Length(s);
  size_t off = StartOffset(start, len);
  if (off == std::string_view::npos) return {};
  size_t b = CharOffset(s, off);
  std::string_view rest = s.substr(b);
  size_t chars = static_cast<size_t>(std::min<int64_t>(count, static_cast<int64_t>(len)));
  return rest.substr(0, CharOffset(rest, chars));
}

std::string_view WithoutByteOrderMark(std::string_view s) {
  return s.substr(0, 3) == "\xEF\xBB\xBF" ? s.substr(3) : s;
}

bool IsValidUtf8(std::string_view s) {
  uint32_t cp;
  for (size_t i = 0; i < s.size();) {
    const size_t len = Utf8SequenceAt(s, i, cp);
    if (len == 0) return false;
    i += len;
  }
  return true;
}

size_t Utf8SequenceAt(std::string_view s, size_t i, uint32_t& cp) {
  if (i >= s.size()) return 0;
  const unsigned char c = static_cast<unsigned char>(s[i]);
  if (c < 0x80) {
    cp = c;
    return 1;
  }
  size_t len;
  if (c >= 0xC2 && c <= 0xDF)
    len = 2, cp = c & 0x1F;
  else if (c >= 0xE0 && c <= 0xEF)
    len = 3, cp = c & 0x0F;
  else if (c >= 0xF0 && c <= 0xF4)
    len = 4, cp = c & 0x07;
  else
    return 0;
  if (len > s.size() - i) return 0;
  for (size_t k = 1; k < len; ++k) {
    const unsigned char cc = static_cast<unsigned char>(s[i + k]);
    if (!IsContinuation(cc)) return 0;
    cp = (cp << 6) | (cc & 0x3F);
  }
  const bool overlong = (len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000);
  if (overlong || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return len;
}

bool IsAscii(std::string_view s) {
  for (unsigned char c : s) {
    if (c >= 0x80) return false;
  }
  return true;
}

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

uint32_t Cp1252CodePoint(unsigned char c) {
  // 0x80..0x9F; the five unassigned bytes map to the code points of their numbers.
  static const uint16_t kHigh[32] = {
      0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
      0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
      0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
  return c >= 0x80 && c < 0xA0 ? kHigh[c - 0x80] : c;
}

std::string Cp1252ToUtf8(std::string_view s) {
  std::string out;
  out.reserve(s.size() + s.size() / 4);
  for (unsigned char c : s) AppendUtf8(out, Cp1252CodePoint(c));
  return out;
}

// ---------------------------------------------------------------------------
// Trimming and case

std::string_view LTrim(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && IsBlankChar(s[i])) ++i;
  return s.substr(i);
}

std::string_view RTrim(std::string_view s) {
  size_t n = s.size();
  while (n > 0 && s[n - 1] == ' ') --n;
  return s.substr(0, n);
}

std::string_view AllTrim(std::string_view s) {
  return RTrim(LTrim(s));
}

bool IsBlank(std::string_view s) {
  for (char c : s) {
    if (!IsBlankChar(c)) return false;
  }
  return true;
}

std::string Upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  }
  return out;
}

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  }
  return out;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

}  // namespace kx
