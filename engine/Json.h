// JSON decoding into Values (insertion-ordered maps, numbers keeping their
// decimals count) and compact encoding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "Value.h"

namespace kx {

// Nesting deeper than this decodes to nothing rather than exhausting the stack.
inline constexpr int kJsonMaxDepth = 512;

// Malformed, truncated or too deeply nested text gives nothing. Text after
// the first complete value is ignored; a repeated key keeps its first place
// and takes the last value.
Value JsonDecode(std::string_view text);

// What the text should have held where it stops being JSON.
enum class JsonExpected : uint8_t {
  kNothing,         // no error: the text decoded
  kValue,           // a value (an object, a list, a text, a number, true, false, null)
  kKeyOrBrace,      // a quoted key or '}', right after '{'
  kKey,             // a quoted key, after ','
  kColon,           // ':' after a key
  kCommaOrBrace,    // ',' or '}' after an object's member
  kCommaOrBracket,  // ',' or ']' after a list's element
  kQuote,           // '"' closing a text that the end of the text leaves open
  kEscapedControl,  // a control character (a line break, a tab) written as an escape (\n, \t)
  kEscape,          // one of \" \\ \/ \b \f \n \r \t \u after a backslash
  kHexDigits,       // four hexadecimal digits after \u
  kDigit,           // a digit of a number
  kLessNesting,     // lists and objects nested deeper than kJsonMaxDepth
};

// Where a text stops being JSON: the first syntax error, as an editor shows
// its place (lines from 1, columns from 1 counted in characters).
struct JsonError {
  JsonExpected expected = JsonExpected::kNothing;
  size_t nOffset = 0;  // bytes before the error
  size_t nLine = 0;
  size_t nColumn = 0;
};

// As JsonDecode; when the text is no JSON, `error` tells where and what was
// expected there (kNothing when it decoded).
Value JsonDecode(std::string_view text, JsonError& error);

// The error in the engine's words: "linea 12, columna 5: se esperaba ',' o '}'".
std::string JsonErrorMessage(const JsonError& error);

// Compact form without blanks; keys in insertion order.
std::string JsonEncode(const Value& v);

}  // namespace kx
