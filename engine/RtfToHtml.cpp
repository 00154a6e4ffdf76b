#include "RtfToHtml.h"

#include <algorithm>
#include <limits>

#include "HtmlToRtf.h"

namespace kx {

namespace {

// Control word numbers saturate here: no RTF writer needs more, and a font or colour
// number of four billion must not wrap round to a small one.
constexpr int64_t kNumberLimit = std::numeric_limits<int32_t>::max();
// Every run repeats its font's name, so an unbounded name would make the HTML grow with
// runs times name length. A Windows face name has at most 31 UTF-16 units (93 bytes).
constexpr size_t kFontNameLimit = 128;
constexpr uint32_t kReplacement = 0xFFFD;
constexpr uint32_t kNoBreakSpace = 0xA0;  // "\~"

// The control words that stand for a typographic character.
struct SymbolWord {
  std::string_view word;
  uint32_t codePoint;
};
constexpr SymbolWord kSymbolWords[] = {
    {"lquote", 0x2018}, {"rquote", 0x2019}, {"ldblquote", 0x201C}, {"rdblquote", 0x201D},
    {"emdash", 0x2014}, {"endash", 0x2013}, {"emspace", 0x2003},   {"enspace", 0x2002},
};

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

bool IsLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool IsHex(char c) {
  return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool IsHighSurrogate(uint32_t u) {
  return u >= 0xD800 && u <= 0xDBFF;
}

bool IsLowSurrogate(uint32_t u) {
  return u >= 0xDC00 && u <= 0xDFFF;
}

// An optional "-" and digits at `i`, saturating; `i` moves past them. A lone "-" gives 0.
int32_t ReadControlNumber(std::string_view s, size_t& i) {
  const bool negative = i < s.size() && s[i] == '-';
  if (negative) ++i;
  int64_t n = 0;
  for (; i < s.size() && IsDigit(s[i]); ++i) n = std::min(kNumberLimit, n * 10 + (s[i] - '0'));
  return static_cast<int32_t>(negative ? -n : n);
}

// ASCII case-insensitive search for a needle whose first character has no case.
size_t FindNoCase(std::string_view hay, std::string_view needle) {
  for (size_t i = hay.find(needle[0]); i != std::string_view::npos; i = hay.find(needle[0], i + 1))
    if (EqualsIgnoreCase(hay.substr(i, needle.size()), needle)) return i;
  return std::string_view::npos;
}

// Appends the character at `i` of raw RTF bytes and answers its length: a well-formed
// UTF-8 sequence as it stands, any other byte as Windows-1252.
size_t AppendRawCharacter(std::string& out, std::string_view s, size_t i) {
  uint32_t cp;
  const size_t len = Utf8SequenceAt(s, i, cp);
  if (len > 1) {
    out.append(s.substr(i, len));
    return len;
  }
  AppendUtf8(out, Cp1252CodePoint(static_cast<unsigned char>(s[i])));
  return 1;
}

// A font name as the table writes it, made fit for a style attribute's value: valid
// UTF-8, no control characters, at most kFontNameLimit bytes (the HTML writer escapes it).
std::string CleanFontName(std::string_view raw) {
  raw = LTrim(raw);
  while (!raw.empty() && IsBlank(raw.substr(raw.size() - 1))) raw.remove_suffix(1);
  std::string name;
  std::string character;
  for (size_t i = 0; i < raw.size();) {
    character.clear();
    if (static_cast<unsigned char>(raw[i]) < 0x20) {
      ++i;
      continue;
    }
    i += AppendRawCharacter(character, raw, i);
    if (name.size() + character.size() > kFontNameLimit) break;
    name += character;
  }
  return name;
}

// The end of the group that opens at `open`: its matching "}" or the end of the text.
size_t GroupEnd(std::string_view s, size_t open) {
  size_t depth = 0;
  for (size_t k = open; k < s.size(); ++k) {
    if (s[k] == '\\') {
      ++k;
    } else if (s[k] == '{') {
      ++depth;
    } else if (s[k] == '}' && --depth == 0) {
      return k;
    }
  }
  return s.size();
}

// The next occurrence of one character at or after a position that never moves back:
// the answer is kept while it still lies ahead, so a whole table is scanned once.
class ForwardFinder {
 public:
  ForwardFinder(std::string_view s, char c) : s_(s), c_(c) {}
  size_t From(size_t from) {
    if (!searched_ || at_ < from) {
      at_ = s_.find(c_, from);
      searched_ = true;
    }
    return at_;
  }

 private:
  std::string_view s_;
  char c_;
  size_t at_ = 0;
  bool searched_ = false;
};

int32_t ColorComponent(std::string_view entry, std::string_view word) {
  size_t at = FindNoCase(entry, word);
  if (at == std::string_view::npos) return 0;
  at += word.size();
  return std::clamp<int32_t>(ReadControlNumber(entry, at), 0, 255);
}

void AppendColor(std::string& out, int32_t rgb) {
  out.push_back('#');
  out.append(HexByte(rgb >> 16));
  out.append(HexByte(rgb >> 8));
  out.append(HexByte(rgb));
}

// Writes a run; false (and nothing written) when it is blank.
bool AppendRun(std::string& out, std::string& run, const RtfCharState& state,
               const RtfFontList& fonts, const RtfColorList& colors) {
  if (IsBlank(run)) return false;
  std::string style;
  // A name with CSS syntax in it ("a;background:url(...)") would write a style of its own.
  if (const std::string* font = fonts.Find(state.font); font && IsPlainFontName(*font)) {
    style.append("font-family:");
    AppendEscapedHtml(style, *font);
    style.push_back(';');
  }
  if (state.size > 0)
    style.append("font-size:").append(FormatFixed(state.size / 2.0, 2)).append("pt;");
  const auto color = [&](int32_t n, std::string_view key) {
    if (n < 1 || static_cast<size_t>(n) >= colors.size() || colors[n] < 0) return;
    style.append(key);
    AppendColor(style, colors[n]);
    style.push_back(';');
  };
  color(state.color, "color:");
  color(state.background, "background-color:");

  if (!style.empty()) out.append("<span style=\"").append(style).append("\">");
  // Bold is the outermost wrapper, superscript the innermost.
  const std::pair<bool, std::string_view> wrappers[] = {
      {state.bold, "strong"}, {state.italic, "em"}, {state.underline, "u"},
      {state.strike, "s"},    {state.sub, "sub"},   {state.sup, "sup"}};
  for (const auto& [on, tag] : wrappers)
    if (on) out.append("<").append(tag).append(">");
  AppendEscapedHtml(out, run);
  for (auto w = std::rbegin(wrappers); w != std::rend(wrappers); ++w)
    if (w->first) out.append("</").append(w->second).append(">");
  if (!style.empty()) out.append("</span>");
  run.clear();
  return true;
}

// The reader: one pass over the bytes, with a flat stack of group states.
class RtfReader {
 public:
  RtfReader(std::string_view text, const RtfFontList& fonts, const RtfColorList& colors)
      : s_(text), fonts_(fonts), colors_(colors) {}

  std::string Read() {
    html_.reserve(s_.size() + 16);
    html_.append("<span>");
    RtfLexer lexer(s_);
    RtfToken token;
    while (lexer.Next(token)) {
      switch (token.kind) {
        case RtfToken::Kind::kOpen:
          EndOfRun();
          Push();
          break;
        case RtfToken::Kind::kClose:
          EndOfRun();
          Pop();
          break;
        case RtfToken::Kind::kText:
          RawCharacter(token.text);
          break;
        case RtfToken::Kind::kWord:
          ApplyWord(token.word, token.value);
          break;
        case RtfToken::Kind::kSymbol:
          Symbol(token.text[1]);
          break;
        case RtfToken::Kind::kHex:
          HexEscape(token);
          break;
      }
    }
    EndOfRun();
    html_.append("</span>");
    return std::move(html_);
  }

 private:
  // Equal states of nested groups are kept once with a count, so a million
  // nested braces take one entry.
  struct Saved {
    RtfCharState state;
    size_t count;
  };

  void Push() {
    if (!stack_.empty() && stack_.back().state == state_)
      ++stack_.back().count;
    else
      stack_.push_back({state_, 1});
  }

  void Pop() {
    if (stack_.empty()) return;  // a surplus "}" changes nothing
    state_ = stack_.back().state;
    if (--stack_.back().count == 0) stack_.pop_back();
  }

  // A high surrogate not followed by its low half stands for U+FFFD.
  void SettleSurrogate() {
    if (nHighSurrogate_ == 0) return;
    AppendUtf8(run_, kReplacement);
    nHighSurrogate_ = 0;
  }

  void EndOfRun() {
    SettleSurrogate();
    AppendRun(html_, run_, state_, fonts_, colors_);
  }

  bool TakeFallback() {
    if (nFallback_ == 0) return false;
    --nFallback_;
    return true;
  }

  // One character, however many bytes it takes, is one fallback character.
  void RawCharacter(std::string_view character) {
    const char c = character[0];
    if (state_.skip || nFallback_ > 0 || c == '\0' || c == '\n' || c == '\r') {
      if (!state_.skip) TakeFallback();
      return;
    }
    SettleSurrogate();
    if (static_cast<unsigned char>(c) < 0x80)
      run_.push_back(c);
    else
      AppendRawCharacter(run_, character, 0);
  }

  // Any control symbol but these ("\-", "\_" ...) leaves nothing.
  void Symbol(char d) {
    if (d == '\\' || d == '{' || d == '}') {
      if (state_.skip) return;
      SettleSurrogate();
      run_.push_back(d);
    } else if (d == '*') {
      EndOfRun();
      state_.skip = true;
    } else if (d == '~') {
      if (!state_.skip) AppendCharacter(kNoBreakSpace);
    }
  }

  // Two hexadecimal digits name a byte; an escape without them is dropped whole.
  void HexEscape(const RtfToken& token) {
    if (!token.complete || TakeFallback() || state_.skip) return;
    const auto byte = static_cast<unsigned char>(HexToNumber(token.word));
    if (byte == 0) return;
    SettleSurrogate();
    AppendUtf8(run_, Cp1252CodePoint(byte));
  }

  static bool Is(std::string_view word, std::string_view known) {
    return EqualsIgnoreCase(word, known);
  }

  void ApplyWord(std::string_view w, int32_t value) {
    // A field's instruction is never text, starred by its writer or not.
    for (std::string_view destination :
         {"fonttbl", "colortbl", "stylesheet", "info", "pict", "object", "fldinst"}) {
      if (Is(w, destination)) {
        EndOfRun();
        state_.skip = true;
        return;
      }
    }
    if (state_.skip) return;
    if (Is(w, "u")) {
      AppendRun(html_, run_, state_, fonts_, colors_);
      UnicodeUnit(value);
      return;
    }
    // A typographic symbol is a character of the run, not a change of its format.
    for (const SymbolWord& symbol : kSymbolWords) {
      if (Is(w, symbol.word)) {
        AppendCharacter(symbol.codePoint);
        return;
      }
    }
    EndOfRun();
    RtfCharState& st = state_;
    if (Is(w, "b"))
      st.bold = value != 0;
    else if (Is(w, "i"))
      st.italic = value != 0;
    else if (Is(w, "ul"))
      st.underline = value != 0;
    else if (Is(w, "ulnone"))
      st.underline = false;
    else if (Is(w, "strike"))
      st.strike = value != 0;
    else if (Is(w, "f"))
      st.font = value;
    else if (Is(w, "fs"))
      st.size = std::max(0, value);
    else if (Is(w, "cf"))
      st.color = std::max(0, value);
    else if (Is(w, "highlight"))
      st.background = std::max(0, value);
    else if (Is(w, "super"))
      st.sup = true, st.sub = false;
    else if (Is(w, "sub"))
      st.sub = true, st.sup = false;
    else if (Is(w, "nosupersub"))
      st.sup = st.sub = false;
    else if (Is(w, "par") || Is(w, "line"))
      html_.append("<br>");
    else if (Is(w, "tab"))
      html_.append("&emsp;");
    else if (Is(w, "bullet"))
      html_.append("&#8226; ");
    else if (Is(w, "uc"))
      st.uc = std::max(0, value);
    else if (Is(w, "plain"))
      Plain();
    else if (Is(w, "deff"))
      st.font = nDefaultFont_ = value;
  }

  // "\plain" ends every character format: writers start each paragraph with it
  // to end a heading's bold. The font goes back to the document's default; the
  // group's destination and its fallback count are no character format.
  void Plain() {
    RtfCharState plain;
    plain.font = nDefaultFont_;
    plain.skip = state_.skip;
    plain.uc = state_.uc;
    state_ = plain;
  }

  void AppendCharacter(uint32_t codePoint) {
    SettleSurrogate();
    AppendUtf8(run_, codePoint);
  }

  // "\u" carries a UTF-16 code unit, negative above 32767. A pair of units is joined; a
  // lone surrogate or a value no unit has gives U+FFFD; "\u0" writes nothing.
  void UnicodeUnit(int32_t value) {
    const bool unit = value >= -32768 && value <= 65535;
    const uint32_t u = static_cast<uint32_t>(value < 0 ? value + 65536 : value);
    if (unit && nHighSurrogate_ != 0 && IsLowSurrogate(u)) {
      AppendUtf8(run_, 0x10000 + ((nHighSurrogate_ - 0xD800) << 10) + (u - 0xDC00));
      nHighSurrogate_ = 0;
    } else {
      SettleSurrogate();
      if (!unit)
        AppendUtf8(run_, kReplacement);
      else if (IsHighSurrogate(u))
        nHighSurrogate_ = u;
      else if (u != 0)
        AppendUtf8(run_, u);  // a lone low surrogate is written as U+FFFD
    }
    nFallback_ = state_.uc;
  }

  std::string_view s_;
  const RtfFontList& fonts_;
  const RtfColorList& colors_;
  RtfCharState state_;
  std::vector<Saved> stack_;
  std::string html_;
  std::string run_;  // UTF-8, not yet escaped
  int64_t nFallback_ = 0;
  uint32_t nHighSurrogate_ = 0;
  int32_t nDefaultFont_ = 0;  // "\deff"
};

}  // namespace

// ---------------------------------------------------------------------------
// Lexer

bool RtfLexer::Next(RtfToken& token) {
  if (i_ >= s_.size()) return false;
  const size_t start = i_;
  const char c = s_[i_];
  token = RtfToken{};
  uint32_t cp;
  if (c == '{') {
    token.kind = RtfToken::Kind::kOpen;
    ++i_;
  } else if (c == '}') {
    token.kind = RtfToken::Kind::kClose;
    ++i_;
  } else if (c != '\\') {
    token.kind = RtfToken::Kind::kText;
    i_ += std::max<size_t>(1, Utf8SequenceAt(s_, i_, cp));
  } else if (i_ + 1 >= s_.size()) {
    return false;  // a backslash at the very end ends the text
  } else if (const char d = s_[i_ + 1]; d == '\'') {
    // A backslash or brace among the two characters is left to the next token:
    // it is RTF syntax, and taking it would leave a group open or closed.
    token.kind = RtfToken::Kind::kHex;
    size_t j = i_ + 2;
    size_t taken = 0;
    bool hex = true;
    for (; taken < 2 && j < s_.size(); ++taken) {
      const char h = s_[j];
      if (h == '\\' || h == '{' || h == '}') break;
      hex = hex && IsHex(h);
      j += std::max<size_t>(1, Utf8SequenceAt(s_, j, cp));
    }
    token.complete = hex && taken == 2;
    token.word = s_.substr(i_ + 2, j - i_ - 2);
    i_ = j;
  } else if (IsLetter(d)) {
    token.kind = RtfToken::Kind::kWord;
    size_t j = i_ + 1;
    while (j < s_.size() && IsLetter(s_[j])) ++j;
    token.word = s_.substr(i_ + 1, j - i_ - 1);
    token.hasNumber = j < s_.size() && (s_[j] == '-' || IsDigit(s_[j]));
    if (token.hasNumber) token.value = ReadControlNumber(s_, j);
    token.hasBlank = j < s_.size() && s_[j] == ' ';
    if (token.hasBlank) ++j;
    i_ = j;
  } else {
    // A control symbol: its character goes whole, however many bytes it takes.
    token.kind = RtfToken::Kind::kSymbol;
    i_ += 1 + std::max<size_t>(1, Utf8SequenceAt(s_, i_ + 1, cp));
  }
  token.text = s_.substr(start, i_ - start);
  return true;
}

// ---------------------------------------------------------------------------
// Font list

RtfFontList::RtfFontList(std::vector<std::pair<int32_t, uint32_t>> entries,
                         std::vector<std::string> names)
    : aEntries_(std::move(entries)), aNames_(std::move(names)) {
  // Sorted by number, the latest definition of a number first among its equals.
  std::reverse(aEntries_.begin(), aEntries_.end());
  std::stable_sort(aEntries_.begin(), aEntries_.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  aEntries_.erase(std::unique(aEntries_.begin(), aEntries_.end(),
                              [](const auto& a, const auto& b) { return a.first == b.first; }),
                  aEntries_.end());
}

const std::string* RtfFontList::Find(int64_t number) const {
  const auto at = std::lower_bound(aEntries_.begin(), aEntries_.end(), number,
                                   [](const auto& e, int64_t n) { return e.first < n; });
  if (at == aEntries_.end() || at->first != number) return nullptr;
  return &aNames_[at->second];
}

// ---------------------------------------------------------------------------
// Functions

std::string KXRICHTEXTRTFTOHTML(const Value& rtf) {
  const std::string text = KXRICHTEXTNORMALIZEINPUT(rtf);
  const RtfFontList fonts = KXRICHTEXTRTFFONTS(text);
  const RtfColorList colors = KXRICHTEXTRTFCOLORS(text);
  return RtfReader(text, fonts, colors).Read();
}

std::string KXRICHTEXTRTFFLUSHRUN(std::string& run, const RtfCharState& state,
                                  const RtfFontList& fonts, const RtfColorList& colors) {
  std::string out;
  AppendRun(out, run, state, fonts, colors);
  return out;
}

RtfFontList KXRICHTEXTRTFFONTS(std::string_view rtf) {
  const size_t open = rtf.find("{\\fonttbl");
  if (open == std::string_view::npos) return {};
  const std::string_view table = rtf.substr(0, GroupEnd(rtf, open));
  std::vector<std::pair<int32_t, uint32_t>> entries;
  std::vector<std::string> names;
  ForwardFinder spaces(table, ' ');
  ForwardFinder semicolons(table, ';');
  // Neighbouring entries without a name of their own ("\f1\f2 Arial;") share one.
  size_t lastStart = std::string_view::npos, lastEnd = 0;
  for (size_t k = open + 1; k + 2 < table.size(); ++k) {
    if (table[k] != '\\') continue;
    if (table[k + 1] != 'f' || !IsDigit(table[k + 2])) {
      ++k;  // an escaped character is no entry
      continue;
    }
    size_t j = k + 2;
    const int32_t number = ReadControlNumber(table, j);
    const size_t space = spaces.From(k + 2);
    if (space == std::string_view::npos) break;
    const size_t semicolon = semicolons.From(space + 1);
    if (semicolon == std::string_view::npos) break;
    if (space + 1 != lastStart || semicolon != lastEnd) {
      lastStart = space + 1;
      lastEnd = semicolon;
      names.push_back(CleanFontName(table.substr(space + 1, semicolon - space - 1)));
    }
    if (!names.back().empty())
      entries.emplace_back(number, static_cast<uint32_t>(names.size() - 1));
    k = j - 1;
  }
  return RtfFontList(std::move(entries), std::move(names));
}

RtfColorList KXRICHTEXTRTFCOLORS(std::string_view rtf) {
  RtfColorList colors;
  const size_t open = FindNoCase(rtf, "{\\colortbl");
  if (open == std::string_view::npos) return colors;
  const size_t start = open + 10;
  const size_t close = rtf.find('}', start);
  if (close == std::string_view::npos) return colors;
  // Entry N is colour N, the automatic entry before the first ";" counting as 0.
  for (std::string_view entry : Split(rtf.substr(start, close - start), ";")) {
    if (IsBlank(entry)) {
      colors.push_back(-1);
      continue;
    }
    colors.push_back(ColorComponent(entry, "\\red") << 16 | ColorComponent(entry, "\\green") << 8 |
                     ColorComponent(entry, "\\blue"));
  }
  return colors;
}

size_t KXRICHTEXTATFROM(std::string_view needle, std::string_view text, const Value& start) {
  const int64_t from = start.IsNumber() ? std::max<int64_t>(1, start.Int()) : 1;
  if (static_cast<uint64_t>(from - 1) > text.size()) return 0;
  const size_t at = text.find(needle, static_cast<size_t>(from - 1));
  return at == std::string_view::npos ? 0 : at + 1;
}

std::string KXRICHTEXTESCAPEHTML(std::string_view text) {
  std::string out;
  AppendEscapedHtml(out, text);
  return out;
}

void AppendEscapedHtml(std::string& out, std::string_view text) {
  out.reserve(out.size() + text.size());
  for (char c : text) {
    switch (c) {
      case '&':
        out.append("&amp;");
        break;
      case '<':
        out.append("&lt;");
        break;
      case '>':
        out.append("&gt;");
        break;
      case '"':
        out.append("&quot;");
        break;
      case '\'':
        out.append("&#039;");
        break;
      default:
        out.push_back(c);
    }
  }
}

std::string KXRICHTEXTNORMALIZEINPUT(const Value& value) {
  std::string text = value.IsText() ? std::string(value.Str()) : ValueString(value);
  text.erase(0, text.size() - WithoutByteOrderMark(text).size());
  while (!text.empty() && text.back() == '\0') text.pop_back();
  return text;
}

}  // namespace kx
