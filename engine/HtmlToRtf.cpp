#include "HtmlToRtf.h"

#include <algorithm>
#include <cmath>

#include "ValoresObjeto.h"

namespace kx {

namespace {

constexpr std::string_view kPlainHeader =
    "{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0 Arial;}}\\viewkind4\\uc1\\pard\\f0\\fs24 ";
constexpr std::string_view kDocumentStart = "{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl";
constexpr std::string_view kBodyStart = "}\\viewkind4\\uc1\\pard\\f0\\fs24 ";

struct NamedColor {
  std::string_view name;
  std::string_view color;
};
constexpr NamedColor kNamedColors[] = {
    {"black", "#000000"},  {"silver", "#c0c0c0"}, {"gray", "#808080"},   {"white", "#ffffff"},
    {"maroon", "#800000"}, {"red", "#ff0000"},    {"purple", "#800080"}, {"fuchsia", "#ff00ff"},
    {"green", "#008000"},  {"lime", "#00ff00"},   {"olive", "#808000"},  {"yellow", "#ffff00"},
    {"navy", "#000080"},   {"blue", "#0000ff"},   {"teal", "#008080"},   {"aqua", "#00ffff"},
    {"orange", "#ffa500"},
};

struct Entity {
  std::string_view name;
  std::string_view text;
};
constexpr Entity kEntities[] = {
    {"&nbsp;", " "},  {"&amp;", "&"},
    {"&lt;", "<"},    {"&gt;", ">"},
    {"&quot;", "\""}, {"&apos;", "'"},
    {"&#039;", "'"},  {"&euro;", "\xE2\x82\xAC"},
    {"&emsp;", "\t"}, {"&#8226;", "\xE2\x80\xA2"},  // only for HTML made from RTF
};
constexpr size_t kHtmlEntities = 8;
constexpr std::string_view kEmsp = "&emsp;";

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

std::string Decimal(int64_t n) {
  return PlainText(Value(n));
}

// One decoding pass over the first `count` entities of the table.
std::string DecodeEntities(std::string_view text, size_t count) {
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    const size_t amp = text.find('&', i);
    if (amp == std::string_view::npos) break;
    out.append(text, i, amp - i);
    i = amp;
    const std::string_view rest = text.substr(amp);
    const auto found = std::find_if(kEntities, kEntities + count,
                                    [&](const Entity& e) { return rest.starts_with(e.name); });
    if (found == kEntities + count) {
      out.push_back('&');
      ++i;
    } else {
      out.append(found->text);
      i += found->name.size();
    }
  }
  out.append(text.substr(std::min(i, text.size())));
  return out;
}

// The code point of a well-formed numeric character reference at the start of
// the text ("&#233;", "&#xE9;"), with the reference's length; 0 for anything
// else: no digits, no ";", or a number that names no character (NUL, a
// surrogate, beyond U+10FFFF).
size_t NumericReference(std::string_view text, uint32_t& codePoint) {
  if (!text.starts_with("&#")) return 0;
  size_t i = 2;
  const bool hex = i < text.size() && (text[i] == 'x' || text[i] == 'X');
  if (hex) ++i;
  const size_t digits = i;
  uint32_t n = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    uint32_t d;
    if (c >= '0' && c <= '9')
      d = static_cast<uint32_t>(c - '0');
    else if (hex && IsHexDigit(c))
      d = static_cast<uint32_t>((c | 0x20) - 'a' + 10);
    else
      break;
    // Past the last character the number only has to stay too large.
    n = std::min<uint32_t>(0x110000, n * (hex ? 16 : 10) + d);
  }
  if (i == digits || i >= text.size() || text[i] != ';') return 0;
  if (n == 0 || n >= 0x110000 || (n >= 0xD800 && n <= 0xDFFF)) return 0;
  codePoint = n;
  return i + 1;
}

// HTML text as RTF text in one pass: the eight entities, "&emsp;" and every
// well-formed numeric reference become characters, so text sent from RTF to
// HTML and back keeps its tabs and bullets; "&emsp;", which the RTF to HTML
// conversion writes for a tab, is a tab again. Anything else after "&" is text.
void AppendHtmlTextAsRtf(std::string& out, std::string_view text) {
  size_t i = 0;
  while (i < text.size()) {
    const size_t amp = text.find('&', i);
    if (amp == std::string_view::npos) break;
    AppendRtfText(out, text.substr(i, amp - i));
    const std::string_view rest = text.substr(amp);
    std::string character;
    if (rest.starts_with(kEmsp)) {
      out.append("\\tab ");
      i = amp + kEmsp.size();
    } else if (const size_t length = AppendHtmlReference(character, rest)) {
      AppendRtfText(out, character);
      i = amp + length;
    } else {
      out.push_back('&');
      i = amp + 1;
    }
  }
  AppendRtfText(out, text.substr(std::min(i, text.size())));
}

// The font-size value in half points, or 0 when it gives no positive size.
int64_t HalfPoints(std::string_view sizeValue) {
  const std::string value = Lower(sizeValue);
  double size = ReadNumber(value).Double();
  if (TextContains(value, "px"))
    size = size * 72.0 / 96.0;
  else if (TextContains(value, "rem") || TextContains(value, "em"))
    size *= 12.0;
  else if (TextContains(value, "%"))
    size = size * 12.0 / 100.0;
  if (!(size > 0.0)) return 0;
  return DoubleToInt(std::round(size * 2.0));
}

void AppendControl(std::string& out, std::string_view word, int64_t n) {
  out.append(word);
  out.append(Decimal(n));
  out.push_back(' ');
}

// The part of the HTML that holds the document's fonts and colours.
HtmlRtfTables CollectTables(std::string_view html) {
  HtmlRtfTables tables;
  for (const std::string& family : KXRICHTEXTCSSVALUES(html, "font-family")) {
    const std::string name = KXRICHTEXTCLEANCSSVALUE(family);
    if (!IsBlank(name)) tables.AddFont(name);
  }
  for (size_t i = 0; i + 7 <= html.size(); ++i) {
    if (html[i] == '#' && KXRICHTEXTISHEXCOLOR(html.substr(i, 7)))
      tables.AddColor(Lower(html.substr(i, 7)));
  }
  for (const char* property : {"color", "background-color"}) {
    for (const std::string& value : KXRICHTEXTCSSVALUES(html, property)) {
      const std::string color = KXRICHTEXTNORMALIZECOLOR(Value(value));
      if (!color.empty()) tables.AddColor(color);
    }
  }
  return tables;
}

void AppendHeader(std::string& out, const HtmlRtfTables& tables) {
  out.append(kDocumentStart);
  const std::vector<std::string>& fonts = tables.Fonts();
  for (size_t n = 0; n < fonts.size(); ++n) {
    out.append("{\\f");
    out.append(Decimal(static_cast<int64_t>(n)));
    out.push_back(' ');
    AppendRtfText(out, fonts[n]);
    out.append(";}");
  }
  out.append("}{\\colortbl;");
  for (const std::string& color : tables.Colors()) {
    out.append("\\red" + Decimal(HexToNumber(color.substr(1, 2))));
    out.append("\\green" + Decimal(HexToNumber(color.substr(3, 2))));
    out.append("\\blue" + Decimal(HexToNumber(color.substr(5, 2))) + ";");
  }
  out.append(kBodyStart);
}

// The body writer: list levels and open groups are its only state.
class HtmlBodyWriter {
 public:
  HtmlBodyWriter(std::string& out, const HtmlRtfTables& tables) : out_(out), tables_(tables) {}

  void Write(std::string_view html) {
    size_t pos = 0;
    while (true) {
      const size_t lt = html.find('<', pos);
      if (lt == std::string_view::npos) {
        Text(html.substr(pos));
        break;
      }
      if (lt > pos) Text(html.substr(pos, lt - pos));
      const size_t gt = html.find('>', lt + 1);
      if (gt == std::string_view::npos) break;  // an unclosed tag ends the body
      Tag(TrimHtmlSpace(html.substr(lt + 1, gt - lt - 1)));
      pos = gt + 1;
    }
    for (; nGroups_ > 0; --nGroups_) out_.push_back('}');
  }

 private:
  struct ListLevel {
    bool lOrdered;
    int64_t nCounter;
  };

  void Text(std::string_view text) { AppendHtmlTextAsRtf(out_, text); }

  void Tag(std::string_view tagText) {
    std::string lower = Lower(tagText);
    const bool closing = !lower.empty() && lower[0] == '/';
    if (closing) {
      size_t skip = 1;
      while (skip < lower.size() && IsHtmlSpace(lower[skip])) ++skip;
      lower.erase(0, skip);
    }
    const std::string name = KXRICHTEXTTAGNAME(lower);
    if (name == "br") {
      out_.append("\\line ");
    } else if (name == "ul" || name == "ol") {
      if (!closing)
        aLevels_.push_back({name == "ol", 0});
      else if (!aLevels_.empty())
        aLevels_.pop_back();
    } else if (IsGroupTag(name)) {
      if (closing)
        CloseGroup(name);
      else
        OpenGroup(name, tagText);
    }
  }

  static bool IsGroupTag(std::string_view name) {
    static constexpr std::string_view kGroups[] = {"p", "div", "li", "span",   "strong", "b",  "em",
                                                   "i", "u",   "s",  "strike", "sup",    "sub"};
    return std::find(std::begin(kGroups), std::end(kGroups), name) != std::end(kGroups);
  }

  void OpenGroup(std::string_view name, std::string_view tagText) {
    out_.push_back('{');
    out_.append(KXRICHTEXTTAGRTFCONTROLS(name, KXRICHTEXTTAGSTYLE(tagText), tables_));
    if (name == "li") {
      const int64_t levels = std::max<int64_t>(1, static_cast<int64_t>(aLevels_.size()));
      out_.append("\\pard\\li" + Decimal(360 * levels) + "\\fi-180 ");
      if (!aLevels_.empty() && aLevels_.back().lOrdered) {
        out_.append(Decimal(++aLevels_.back().nCounter));
        out_.append(".\\tab ");
      } else {
        out_.append("\\bullet\\tab ");
      }
    }
    ++nGroups_;
  }

  // A closing tag closes the innermost group whatever its name.
  void CloseGroup(std::string_view name) {
    if (nGroups_ > 0) {
      out_.push_back('}');
      --nGroups_;
    }
    if (name == "p" || name == "div" || name == "li") out_.append("\\par ");
  }

  std::string& out_;
  const HtmlRtfTables& tables_;
  std::vector<ListLevel> aLevels_;
  size_t nGroups_ = 0;
};

}  // namespace

// ---------------------------------------------------------------------------
// Tables

HtmlRtfTables::HtmlRtfTables() {
  AddFont("Arial");
}

void HtmlRtfTables::AddFont(std::string_view name) {
  if (hFonts_.emplace(Lower(name), aFonts_.size()).second) aFonts_.emplace_back(name);
}

void HtmlRtfTables::AddColor(std::string_view color) {
  if (hColors_.emplace(std::string(color), aColors_.size()).second) aColors_.emplace_back(color);
}

long HtmlRtfTables::FontNumber(std::string_view name) const {
  const auto found = hFonts_.find(Lower(name));
  return found == hFonts_.end() ? -1 : static_cast<long>(found->second);
}

size_t HtmlRtfTables::ColorNumber(std::string_view color) const {
  const auto found = hColors_.find(std::string(color));
  return found == hColors_.end() ? 0 : found->second + 1;
}

// ---------------------------------------------------------------------------
// Converters

std::string KXRICHTEXTTORTF(const Value& content, const Value& format) {
  const std::string_view text = content.Str();
  const std::string kind = format.IsText() ? Lower(AllTrim(format.Str())) : "text";
  if (kind == "rtf") return std::string(text);
  if (kind == "html") return KXRICHTEXTHTMLTORTF(text);
  std::string out(kPlainHeader);
  AppendRtfText(out, text);
  out.append("\\par}");
  return out;
}

std::string KXRICHTEXTHTMLTORTF(std::string_view html) {
  const HtmlRtfTables tables = CollectTables(html);
  std::string out;
  out.reserve(html.size() + 256);
  AppendHeader(out, tables);
  HtmlBodyWriter(out, tables).Write(html);
  out.push_back('}');
  return out;
}

std::string KXRICHTEXTTAGRTFCONTROLS(std::string_view tag, std::string_view style,
                                     const HtmlRtfTables& tables) {
  std::string out;
  if (tag == "strong" || tag == "b")
    out.append("\\b ");
  else if (tag == "em" || tag == "i")
    out.append("\\i ");
  else if (tag == "u")
    out.append("\\ul ");
  else if (tag == "s" || tag == "strike")
    out.append("\\strike ");
  else if (tag == "sup")
    out.append("\\super ");
  else if (tag == "sub")
    out.append("\\sub ");

  if (IsBlank(style)) return out;
  const auto css = [&](std::string_view property) { return KXRICHTEXTCSSVALUE(style, property); };
  const std::string weight = Lower(css("font-weight"));
  for (std::string_view bold : {"bold", "bolder", "600", "700", "800", "900"}) {
    if (weight == bold) {
      out.append("\\b ");
      break;
    }
  }
  if (Lower(css("font-style")) == "italic") out.append("\\i ");
  const std::string decoration = Lower(css("text-decoration"));
  if (TextContains(decoration, "underline")) out.append("\\ul ");
  if (TextContains(decoration, "line-through")) out.append("\\strike ");
  const long font = tables.FontNumber(KXRICHTEXTCLEANCSSVALUE(css("font-family")));
  if (font >= 0) AppendControl(out, "\\f", font);
  const std::string size = css("font-size");
  if (!size.empty()) {
    if (const int64_t half = HalfPoints(size); half > 0) AppendControl(out, "\\fs", half);
  }
  if (const size_t n = tables.ColorNumber(KXRICHTEXTNORMALIZECOLOR(Value(css("color")))))
    AppendControl(out, "\\cf", static_cast<int64_t>(n));
  if (const size_t n = tables.ColorNumber(KXRICHTEXTNORMALIZECOLOR(Value(css("background-color")))))
    AppendControl(out, "\\highlight", static_cast<int64_t>(n));
  const std::string align = Lower(css("text-align"));
  if (align == "center")
    out.append("\\qc ");
  else if (align == "right")
    out.append("\\qr ");
  else if (align == "justify")
    out.append("\\qj ");
  else if (align == "left")
    out.append("\\ql ");
  return out;
}

// ---------------------------------------------------------------------------
// CSS

std::vector<std::string> KXRICHTEXTCSSVALUES(std::string_view text, std::string_view property) {
  // Every style of every tag is read this way: the occurrences are found from
  // the colons, which are few, rather than in a lower-cased copy per property.
  std::vector<std::string> values;
  const size_t n = property.size();
  const auto isEnd = [](char c) {
    return c == ';' || c == '"' || c == '\'' || c == '<' || c == '>';
  };
  size_t from = 0;  // an occurrence starts here or later
  for (size_t colon = text.find(':', n); colon != std::string_view::npos;
       colon = text.find(':', colon + 1)) {
    const size_t at = colon - n;
    if (at < from || !EqualsIgnoreCase(text.substr(at, n), property)) continue;
    // "background-color:" is not a "color:": the name must start the text or follow a separator.
    const bool starts = at == 0 || text[at - 1] == ';' || text[at - 1] == '"' ||
                        text[at - 1] == '\'' || IsHtmlSpace(text[at - 1]);
    if (!starts) continue;
    const size_t end = std::find_if(text.begin() + colon + 1, text.end(), isEnd) - text.begin();
    const std::string_view value = TrimHtmlSpace(text.substr(colon + 1, end - colon - 1));
    if (!IsBlank(value)) values.emplace_back(value);
    // The search goes on after the character that ended the value.
    from = end + 1;
    if (end >= text.size()) break;
    colon = end;
  }
  return values;
}

std::string KXRICHTEXTCSSVALUE(std::string_view style, std::string_view property) {
  const std::vector<std::string> values = KXRICHTEXTCSSVALUES(style, property);
  return values.empty() ? std::string() : values.front();
}

bool IsPlainFontName(std::string_view name) {
  const auto plain = [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_' || static_cast<unsigned char>(c) >= 0x80 || IsHtmlSpace(c);
  };
  return !TrimHtmlSpace(name).empty() && std::all_of(name.begin(), name.end(), plain);
}

std::string KXRICHTEXTCLEANCSSVALUE(std::string_view value) {
  std::string unquoted;
  for (char c : value)
    if (c != '"' && c != '\'') unquoted.push_back(c);
  std::string_view cleaned = AllTrim(unquoted);
  if (const size_t comma = cleaned.find(','); comma != std::string_view::npos)
    cleaned = AllTrim(cleaned.substr(0, comma));
  return std::string(cleaned);
}

std::string KXRICHTEXTNORMALIZECOLOR(const Value& value) {
  const std::string text = Lower(AllTrim(value.Str()));
  if (KXRICHTEXTISHEXCOLOR(text)) return text;
  if (text.size() == 4 && text[0] == '#' && IsHexDigit(text[1]) && IsHexDigit(text[2]) &&
      IsHexDigit(text[3]))
    return {'#', text[1], text[1], text[2], text[2], text[3], text[3]};
  if ((text.starts_with("rgb(") || text.starts_with("rgba(")) && TextContains(text, ")")) {
    const size_t open = text.find('(');
    const size_t close = text.find(')');
    if (close > open) {
      const std::vector<std::string_view> parts =
          Split(std::string_view(text).substr(open + 1, close - open - 1), ",");
      if (parts.size() >= 3) {
        std::string out = "#";
        for (size_t k = 0; k < 3; ++k) {
          const double component = std::clamp(ReadNumber(parts[k]).Double(), 0.0, 255.0);
          out.append(Lower(HexByte(static_cast<int64_t>(component))));
        }
        return out;
      }
    }
  }
  for (const NamedColor& named : kNamedColors)
    if (text == named.name) return std::string(named.color);
  return "";
}

bool KXRICHTEXTISHEXCOLOR(std::string_view text) {
  return EsColorHex(text);
}

// ---------------------------------------------------------------------------
// Tags, entities and RTF text

std::string_view TrimHtmlSpace(std::string_view s) {
  while (!s.empty() && IsHtmlSpace(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsHtmlSpace(s.back())) s.remove_suffix(1);
  return s;
}

size_t AppendHtmlReference(std::string& out, std::string_view text) {
  const auto named = std::find_if(kEntities, kEntities + kHtmlEntities,
                                  [&](const Entity& e) { return text.starts_with(e.name); });
  if (named != kEntities + kHtmlEntities) {
    out.append(named->text);
    return named->name.size();
  }
  uint32_t codePoint = 0;
  const size_t length = NumericReference(text, codePoint);
  if (length > 0) AppendUtf8(out, codePoint);
  return length;
}

std::string KXRICHTEXTTAGNAME(std::string_view text) {
  const auto space = std::find_if(text.begin(), text.end(), IsHtmlSpace);
  std::string name;
  for (char c : TrimHtmlSpace(std::string_view(text.begin(), space)))
    if (c != '/') name.push_back(c);
  return name;
}

std::string KXRICHTEXTTAGSTYLE(std::string_view tag) {
  const size_t at = Lower(tag).find("style=");
  if (at == std::string::npos) return "";
  size_t begin = at + 6;
  while (begin < tag.size() && IsHtmlSpace(tag[begin])) ++begin;
  if (begin < tag.size() && (tag[begin] == '"' || tag[begin] == '\'')) {
    const size_t close = tag.find(tag[begin], begin + 1);
    const size_t end = close == std::string_view::npos ? tag.size() : close;
    return std::string(tag.substr(begin + 1, end - begin - 1));
  }
  const auto end = std::find_if(tag.begin() + begin, tag.end(), IsHtmlSpace);
  return std::string(tag.begin() + begin, end);
}

std::string KXRICHTEXTDECODEENTITIES(std::string_view text) {
  return DecodeEntities(text, kHtmlEntities);
}

std::string DecodeEntitiesOfRtfHtml(std::string_view text) {
  return DecodeEntities(text, std::size(kEntities));
}

std::string KXRICHTEXTRTFTEXT(std::string_view text) {
  std::string out;
  AppendRtfText(out, text);
  return out;
}

void AppendRtfText(std::string& out, std::string_view text) {
  out.reserve(out.size() + text.size());
  const auto unit = [&out](uint32_t u) {
    out.append("\\u");
    out.append(Decimal(u > 32767 ? static_cast<int64_t>(u) - 65536 : u));
    out.push_back('?');
  };
  for (size_t i = 0; i < text.size();) {
    uint32_t cp;
    size_t len = Utf8SequenceAt(text, i, cp);
    if (len == 0) {
      // Not UTF-8: the byte stands for the character of its own value.
      len = 1;
      cp = static_cast<unsigned char>(text[i]);
    }
    i += len;
    if (cp >= 0x10000) {
      unit(0xD800 + ((cp - 0x10000) >> 10));
      unit(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else if (cp >= 0x80) {
      unit(cp);
    } else if (cp == '{' || cp == '}' || cp == '\\') {
      out.push_back('\\');
      out.push_back(static_cast<char>(cp));
    } else if (cp == '\n') {
      out.append("\\line ");
    } else if (cp != '\r' && cp != 0) {
      out.push_back(static_cast<char>(cp));
    }
  }
}

}  // namespace kx
