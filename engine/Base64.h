// Standard base64 (RFC 4648 alphabet "A-Z a-z 0-9 + /", "=" padding).
#pragma once

#include <string>
#include <string_view>

namespace kx {

// The encoding of the bytes, padded with "=" to a multiple of four characters.
std::string Base64Encode(std::string_view bytes);

// Decodes a payload that must be exactly base64: only alphabet characters,
// with at most two "=" and only at the very end; the padding may be left out,
// but a final group of one character (which carries no whole byte) is refused,
// as are the empty text and padding alone ("==", which carries no byte). Answers false, and leaves
// `out` empty, when refused.
bool Base64DecodeStrict(std::string_view text, std::string& out);

}  // namespace kx
