// JSON decoding into Values (insertion-ordered maps, numbers keeping their
// decimals count) and compact encoding.
#pragma once

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

// Compact form without blanks; keys in insertion order.
std::string JsonEncode(const Value& v);

}  // namespace kx
