// Byte texts (positions from 1), UTF-8 characters, Windows-1252, trimming and
// ASCII case. Part of the value type's vocabulary: include Value.h, which
// includes this.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kx {

// ---------------------------------------------------------------------------
// Byte texts

std::string_view Left(std::string_view s, int64_t n);
std::string_view Right(std::string_view s, int64_t n);
// A start of 0 counts as 1, a negative one from the end (clamped at the start).
std::string_view Substr(std::string_view s, int64_t start);
std::string_view Substr(std::string_view s, int64_t start, int64_t count);
size_t At(std::string_view needle, std::string_view hay);
size_t RAt(std::string_view needle, std::string_view hay);
std::string ReplaceAll(std::string_view s, std::string_view from, std::string_view to);
std::vector<std::string_view> Split(std::string_view s, std::string_view delim);
std::string PadLeft(std::string_view s, int64_t n);
int Asc(std::string_view s);
std::string Chr(int64_t code);
std::string HexByte(int64_t n);
int64_t HexToNumber(std::string_view s);

// UTF-8 (characters)
size_t Utf8Length(std::string_view s);
std::string_view Utf8Substr(std::string_view s, int64_t start);
std::string_view Utf8Substr(std::string_view s, int64_t start, int64_t count);
bool IsValidUtf8(std::string_view s);
// The text without a leading UTF-8 byte-order mark (editors on Windows write one).
std::string_view WithoutByteOrderMark(std::string_view s);
// Byte length of the well-formed UTF-8 character at `offset` (1 for ASCII), with its
// code point in `codePoint`; 0 when the bytes there form none (or `offset` is past the end).
size_t Utf8SequenceAt(std::string_view s, size_t offset, uint32_t& codePoint);
bool IsAscii(std::string_view s);
// Surrogates and values beyond U+10FFFF are written as U+FFFD.
void AppendUtf8(std::string& out, uint32_t codePoint);
// The code point of one Windows-1252 byte.
uint32_t Cp1252CodePoint(unsigned char byte);
std::string Cp1252ToUtf8(std::string_view s);

// Trimming: left removes TAB LF CR and space, right removes spaces only.
std::string_view LTrim(std::string_view s);
std::string_view RTrim(std::string_view s);
std::string_view AllTrim(std::string_view s);
bool IsBlank(std::string_view s);  // only TAB, LF, CR and spaces
// ASCII-only case mapping.
std::string Upper(std::string_view s);
std::string Lower(std::string_view s);
bool EqualsIgnoreCase(std::string_view a, std::string_view b);

}  // namespace kx
