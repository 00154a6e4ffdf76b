// An HTML fragment from an RTF document: a single-pass reader of the RTF
// syntax that keeps the character formatting of each text run (bold, italic,
// underline, strike-out, superscript, subscript, font, size, text and
// highlight colour), turns paragraph and line ends into "<br>", skips the
// destinations that hold no text and decodes the three ways RTF carries
// non-ASCII text ("\'hh" as Windows-1252, "\u" code units, raw bytes as UTF-8
// when they form it, else as Windows-1252); the typographic symbol words
// (quotes, dashes, spaces, "\~") write their characters and "\plain" ends the
// character format. Paragraph formatting, tables, pictures and objects are not
// converted.
//
// Hostile input is expected: the reader keeps no recursion (the group states
// are a flat stack that stores a run of equal states once), the font table is
// kept by the numbers it defines rather than up to the highest one, control
// word numbers saturate, and every text taken from the input is escaped for
// HTML; a font name goes into a style only when it is plain words, so it can
// write no CSS of its own. The HTML is valid UTF-8 and holds no NUL, and the
// rich-text sanitizer passes it unchanged.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Value.h"

namespace kx {

// The character state of the reader, saved when a group opens and restored when it closes.
struct RtfCharState {
  bool bold = false;
  bool italic = false;
  bool underline = false;
  bool strike = false;
  bool sup = false;
  bool sub = false;
  bool skip = false;       // inside a destination whose text is ignored
  int32_t font = 0;        // "\f"
  int32_t size = 0;        // "\fs", half points; 0 = not set
  int32_t color = 0;       // "\cf"; 0 = not set
  int32_t background = 0;  // "\highlight"; 0 = not set
  int32_t uc = 1;          // fallback characters after a "\u"
  bool operator==(const RtfCharState&) const = default;
};

// One token of RTF syntax. The reader below and the rich-text sanitizer both
// split RTF with `RtfLexer`, so what one drops is what the other would have read.
struct RtfToken {
  enum class Kind : uint8_t {
    kOpen,    // "{"
    kClose,   // "}"
    kText,    // one character: a well-formed UTF-8 sequence, else one byte
    kWord,    // a control word: letters, an optional number, the one blank that ends it
    kSymbol,  // a backslash and the character after it ("\\", "\{", "\~", "\*", "\-" ...)
    kHex,     // "\'" and up to two characters (fewer before a backslash or a brace)
  };
  Kind kind = Kind::kText;
  std::string_view text;   // the token's bytes
  std::string_view word;   // kWord: its letters; kHex: the characters after "\'"
  int32_t value = 1;       // kWord: its number (saturating), 1 without one
  bool hasNumber = false;  // kWord: a number follows the letters
  bool hasBlank = false;   // kWord: the blank that ends it is part of it
  bool complete = false;   // kHex: two hexadecimal digits
};

// Splits RTF into tokens, one pass, no recursion.
class RtfLexer {
 public:
  explicit RtfLexer(std::string_view text) : s_(text) {}
  // The next token; false at the end of the text, or at a backslash that is its last byte.
  bool Next(RtfToken& token);
  // Moves past up to n bytes: the binary data of "\binN".
  void Skip(size_t n) { i_ += std::min(n, s_.size() - i_); }

 private:
  std::string_view s_;
  size_t i_ = 0;
};

// The font table by font number: only the numbers the table defines take room.
class RtfFontList {
 public:
  RtfFontList() = default;
  // (font number, position in `names`) in the order the table gives them; a later entry for
  // a number replaces the earlier one.
  RtfFontList(std::vector<std::pair<int32_t, uint32_t>> entries, std::vector<std::string> names);
  // The name of the font number, or nullptr when the table does not define it.
  const std::string* Find(int64_t number) const;
  // How many font numbers the table defines.
  size_t size() const { return aEntries_.size(); }

 private:
  std::vector<std::pair<int32_t, uint32_t>> aEntries_;  // sorted by number, one per number
  std::vector<std::string> aNames_;
};

// The colour table: entry N is colour N, as 0xRRGGBB, or -1 for a blank (automatic) entry.
using RtfColorList = std::vector<int32_t>;

// The HTML of an RTF text, enclosed in "<span>" and "</span>".
std::string KXRICHTEXTRTFTOHTML(const Value& rtf);
// The HTML of one run in its state, or "" when the run is blank (it then stays pending);
// the run is emptied when written.
std::string KXRICHTEXTRTFFLUSHRUN(std::string& run, const RtfCharState& state,
                                  const RtfFontList& fonts, const RtfColorList& colors);
// The fonts of the "{\fonttbl" group.
RtfFontList KXRICHTEXTRTFFONTS(std::string_view rtf);
// The colours of the "{\colortbl" table.
RtfColorList KXRICHTEXTRTFCOLORS(std::string_view rtf);
// The 1-based position of the needle in the text at or after `start` (below 1 or not a
// number counts as 1), or 0.
size_t KXRICHTEXTATFROM(std::string_view needle, std::string_view text, const Value& start);
// The text with "&", "<", ">", the double and the single quote escaped.
std::string KXRICHTEXTESCAPEHTML(std::string_view text);
// The same, appended to `out`.
void AppendEscapedHtml(std::string& out, std::string_view text);
// Rich content as a text: nothing is "", another value its text form; without a leading
// UTF-8 byte-order mark and without trailing NUL bytes.
std::string KXRICHTEXTNORMALIZEINPUT(const Value& value);

}  // namespace kx
