// The RTF form of rich content: RTF stays as it is, plain text becomes a
// one-font RTF document, and HTML goes through a tolerant single-pass
// converter for the small vocabulary rich-text editors write (paragraphs,
// line breaks, spans with inline styles, bold, italic, underline, strike-out,
// superscript, subscript, bulleted and numbered lists). With it come the
// readers of inline CSS, the colour normaliser, the tag readers, the entity
// decoder and the RTF-text rule, which also writes values filled into RTF
// content.
//
// Hostile input is expected: the converter keeps no recursion (lists and
// groups are counters and a flat stack), finds fonts and colours through hash
// indexes, and its cost grows with the input alone. The RTF it writes is plain
// ASCII: no NUL, every character beyond ASCII as "\u".
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "Value.h"

namespace kx {

// The font and colour tables of an RTF document made from HTML, with the
// indexes the tag controls look names and colours up in.
class HtmlRtfTables {
 public:
  HtmlRtfTables();
  // Appends a font unless one equal to it ignoring case is there.
  void AddFont(std::string_view name);
  // Appends a lower-case "#rrggbb" colour unless it is there.
  void AddColor(std::string_view color);
  // The 0-based number of the first font equal to the name ignoring case, or -1.
  long FontNumber(std::string_view name) const;
  // The colour's number in the colour table (the first collected is 1), or 0 when absent.
  size_t ColorNumber(std::string_view color) const;
  const std::vector<std::string>& Fonts() const { return aFonts_; }
  const std::vector<std::string>& Colors() const { return aColors_; }

 private:
  std::vector<std::string> aFonts_;
  std::vector<std::string> aColors_;
  std::unordered_map<std::string, size_t> hFonts_;   // lower-cased name to position
  std::unordered_map<std::string, size_t> hColors_;  // colour to position
};

// The RTF of a content in its format ("rtf", "html", anything else is plain
// text); a content that is not a text counts as "", a format that is not a text as "text".
std::string KXRICHTEXTTORTF(const Value& content, const Value& format);
// The RTF document of an HTML fragment. Its text's entities and numeric character
// references are written as RTF characters; a malformed reference stays as text.
std::string KXRICHTEXTHTMLTORTF(std::string_view html);
// The control words of a tag and its style, each followed by a blank.
std::string KXRICHTEXTTAGRTFCONTROLS(std::string_view tag, std::string_view style,
                                     const HtmlRtfTables& tables);
// Every non-blank value of the CSS property in the text, in order.
std::vector<std::string> KXRICHTEXTCSSVALUES(std::string_view text, std::string_view property);
// The first value of the property in the style text, trimmed, or "".
std::string KXRICHTEXTCSSVALUE(std::string_view style, std::string_view property);
// Whether a font name can stand in CSS as it is, without quotes: words of letters, digits,
// "-", "_" and characters beyond ASCII, parted by blanks. Such a name can neither end
// its declaration nor bring CSS of its own.
bool IsPlainFontName(std::string_view name);
// The value without quotes, trimmed, cut at its first comma.
std::string KXRICHTEXTCLEANCSSVALUE(std::string_view value);
// A lower-case "#rrggbb" for a CSS colour (hex, rgb(), rgba() or one of 17 names), else "".
std::string KXRICHTEXTNORMALIZECOLOR(const Value& value);
// "#" followed by six hexadecimal digits in either case.
bool KXRICHTEXTISHEXCOLOR(std::string_view text);
// The tag name of a lower-cased tag text: its part before the first white space, without "/".
std::string KXRICHTEXTTAGNAME(std::string_view text);
// The value of the tag's style attribute, in the tag's own case, or "".
std::string KXRICHTEXTTAGSTYLE(std::string_view tag);
// HTML's white space: space, tab, LF, CR and form feed. Tags and their styles split at
// any of it, so a tag written over two lines is still recognised.
inline bool IsHtmlSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}
// The text without HTML white space at either end.
std::string_view TrimHtmlSpace(std::string_view s);
// The character reference that starts the text, when it is one of the eight entities below
// or a well-formed numeric reference ("&#233;", "&#xE9;"): its character is appended to
// `out` and its length answered; anything else appends nothing and answers 0.
size_t AppendHtmlReference(std::string& out, std::string_view text);
// The text with the eight entities ("&nbsp;", "&amp;", "&lt;", "&gt;", "&quot;", "&apos;",
// "&#039;", "&euro;") decoded in one left-to-right pass.
std::string KXRICHTEXTDECODEENTITIES(std::string_view text);
// The same pass, also turning "&emsp;" into a tab and "&#8226;" into a bullet: the two
// entities the RTF to HTML conversion writes for "\tab" and "\bullet".
std::string DecodeEntitiesOfRtfHtml(std::string_view text);
// UTF-8 text as RTF text: "\", "{" and "}" escaped, LF as "\line ", CR and NUL dropped,
// every character beyond ASCII as "\u" with one "?" fallback (UTF-16 pairs beyond U+FFFF).
std::string KXRICHTEXTRTFTEXT(std::string_view text);
// The same, appended to `out`.
void AppendRtfText(std::string& out, std::string_view text);

}  // namespace kx
