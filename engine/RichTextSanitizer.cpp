#include "RichTextSanitizer.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "HtmlToRtf.h"
#include "RtfToHtml.h"

namespace kx {

namespace {

constexpr size_t npos = std::string_view::npos;

bool IsAsciiLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool IsAsciiDigit(char c) {
  return c >= '0' && c <= '9';
}

bool IsHexDigit(char c) {
  return IsAsciiDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool IsOneOf(std::string_view text, std::initializer_list<std::string_view> words) {
  for (std::string_view word : words)
    if (EqualsIgnoreCase(text, word)) return true;
  return false;
}

// ---------------------------------------------------------------------------
// HTML: what is kept

// The elements kept: the engine's converters read them, and none carries code.
enum class Kept : uint8_t {
  kP,
  kDiv,
  kBr,
  kSpan,
  kStrong,
  kB,
  kEm,
  kI,
  kU,
  kS,
  kStrike,
  kSup,
  kSub,
  kUl,
  kOl,
  kLi,
  kA,
  kNone
};
constexpr std::string_view kKeptNames[] = {"p",   "div", "br", "span", "strong", "b",
                                           "em",  "i",   "u",  "s",    "strike", "sup",
                                           "sub", "ul",  "ol", "li",   "a"};
constexpr std::string_view kEndTags[] = {
    "</p>", "</div>",    "<br>",   "</span>", "</strong>", "</b>",  "</em>", "</i>", "</u>",
    "</s>", "</strike>", "</sup>", "</sub>",  "</ul>",     "</ol>", "</li>", "</a>"};
constexpr size_t kKeptCount = std::size(kKeptNames);

// What becomes of an element that is not kept.
enum class Dropped : uint8_t {
  kTag,      // the tag goes, its text stays
  kContent,  // the element goes with everything up to its end tag
  kForeign,  // likewise, but "<svg/>" closes itself
  kRawText,  // a browser reads its content as text up to its end tag: it all goes
  kRest,     // "plaintext": everything after it is its content
};

struct ElementRule {
  std::string_view name;
  Kept kept;
  Dropped rule;
};

// Every element with a rule of its own, sorted by name; any other element is
// not kept and leaves its text.
constexpr ElementRule kElements[] = {
    {"a", Kept::kA, Dropped::kTag},
    {"applet", Kept::kNone, Dropped::kContent},
    {"audio", Kept::kNone, Dropped::kContent},
    {"b", Kept::kB, Dropped::kTag},
    {"br", Kept::kBr, Dropped::kTag},
    {"canvas", Kept::kNone, Dropped::kContent},
    {"datalist", Kept::kNone, Dropped::kContent},
    {"div", Kept::kDiv, Dropped::kTag},
    {"em", Kept::kEm, Dropped::kTag},
    {"frameset", Kept::kNone, Dropped::kContent},
    {"head", Kept::kNone, Dropped::kContent},
    {"i", Kept::kI, Dropped::kTag},
    {"iframe", Kept::kNone, Dropped::kRawText},
    {"li", Kept::kLi, Dropped::kTag},
    {"map", Kept::kNone, Dropped::kContent},
    {"math", Kept::kNone, Dropped::kForeign},
    {"noembed", Kept::kNone, Dropped::kRawText},
    {"noframes", Kept::kNone, Dropped::kRawText},
    {"noscript", Kept::kNone, Dropped::kRawText},
    {"object", Kept::kNone, Dropped::kContent},
    {"ol", Kept::kOl, Dropped::kTag},
    {"p", Kept::kP, Dropped::kTag},
    {"picture", Kept::kNone, Dropped::kContent},
    {"plaintext", Kept::kNone, Dropped::kRest},
    {"s", Kept::kS, Dropped::kTag},
    {"script", Kept::kNone, Dropped::kRawText},
    {"select", Kept::kNone, Dropped::kContent},
    {"span", Kept::kSpan, Dropped::kTag},
    {"strike", Kept::kStrike, Dropped::kTag},
    {"strong", Kept::kStrong, Dropped::kTag},
    {"style", Kept::kNone, Dropped::kRawText},
    {"sub", Kept::kSub, Dropped::kTag},
    {"sup", Kept::kSup, Dropped::kTag},
    {"svg", Kept::kNone, Dropped::kForeign},
    {"template", Kept::kNone, Dropped::kContent},
    {"textarea", Kept::kNone, Dropped::kRawText},
    {"title", Kept::kNone, Dropped::kRawText},
    {"u", Kept::kU, Dropped::kTag},
    {"ul", Kept::kUl, Dropped::kTag},
    {"video", Kept::kNone, Dropped::kContent},
    {"xmp", Kept::kNone, Dropped::kRawText},
};
constexpr size_t kLongestName = 9;  // "plaintext"

// The first eight characters of a name as one number, lower-cased, so a
// tag's name is looked up by comparing numbers (and the one found is then
// compared whole).
constexpr uint64_t NameKey(std::string_view name) {
  uint64_t key = 0;
  for (size_t k = 0; k < name.size() && k < 8; ++k) {
    const char c = name[k] >= 'A' && name[k] <= 'Z' ? static_cast<char>(name[k] + 32) : name[k];
    key |= uint64_t{static_cast<unsigned char>(c)} << (56 - 8 * k);
  }
  return key;
}

constexpr auto kElementKeys = [] {
  std::array<uint64_t, std::size(kElements)> keys{};
  for (size_t k = 0; k < keys.size(); ++k) keys[k] = NameKey(kElements[k].name);
  return keys;
}();
static_assert(std::is_sorted(kElementKeys.begin(), kElementKeys.end()));

// The rule of an element, by its name in any case.
ElementRule FindElement(std::string_view name) {
  constexpr ElementRule kOther{"", Kept::kNone, Dropped::kTag};
  if (name.empty() || name.size() > kLongestName) return kOther;
  const uint64_t key = NameKey(name);
  const auto found = std::lower_bound(kElementKeys.begin(), kElementKeys.end(), key);
  if (found == kElementKeys.end() || *found != key) return kOther;
  const ElementRule& element = kElements[found - kElementKeys.begin()];
  // The key holds eight characters: a longer name is compared whole.
  if (element.name.size() != name.size() ||
      (name.size() > 8 && !EqualsIgnoreCase(element.name, name)))
    return kOther;
  return element;
}

// ---------------------------------------------------------------------------
// HTML: attribute values

// An attribute value as a browser reads it: the references the engine knows
// decoded (an unknown one stays, and then fails every check below).
std::string Decoded(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (size_t i = 0; i < value.size();) {
    const size_t amp = value.find('&', i);
    out.append(value.substr(i, std::min(amp, value.size()) - i));
    if (amp == npos) break;
    const size_t length = AppendHtmlReference(out, value.substr(amp));
    if (length == 0) out.push_back('&');
    i = amp + std::max<size_t>(1, length);
  }
  return out;
}

// A link a viewer may follow: http, https or mailto once the value is read as
// a browser reads a URL (references decoded, tabs and line breaks removed,
// control characters and blanks trimmed), so "java&#x09;script:" and
// " JaVaScRiPt:" are seen for what they are. A relative or scheme-less link
// has no address to resolve against in a report, and goes too.
bool SafeUrl(std::string_view raw, std::string& url) {
  url.clear();
  for (char c : Decoded(raw))
    if (c != '\t' && c != '\n' && c != '\r') url.push_back(c);
  const auto isEdge = [](char c) { return static_cast<unsigned char>(c) <= 0x20; };
  while (!url.empty() && isEdge(url.back())) url.pop_back();
  const size_t start = std::find_if_not(url.begin(), url.end(), isEdge) - url.begin();
  url.erase(0, start);
  for (char c : url)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
  for (std::string_view scheme : {"http:", "https:", "mailto:"})
    if (EqualsIgnoreCase(std::string_view(url).substr(0, scheme.size()), scheme)) return true;
  return false;
}

// ---------------------------------------------------------------------------
// HTML: styles. A declaration is kept only when its property is one the
// engine documents and its value matches that property's plain grammar, made
// of characters that cannot open a string, a function or an escape.

bool IsSafeColor(std::string_view v) {
  if (v.empty()) return false;
  if (v[0] == '#') {
    const std::string_view digits = v.substr(1);
    const size_t n = digits.size();
    return (n == 3 || n == 4 || n == 6 || n == 8) &&
           std::all_of(digits.begin(), digits.end(), IsHexDigit);
  }
  if (std::all_of(v.begin(), v.end(), IsAsciiLetter)) return v.size() <= 32;  // a colour name
  const size_t open = v.find('(');
  if (open == npos || v.back() != ')' ||
      !IsOneOf(v.substr(0, open), {"rgb", "rgba", "hsl", "hsla"}))
    return false;
  const std::string_view inside = v.substr(open + 1, v.size() - open - 2);
  return std::all_of(inside.begin(), inside.end(), [](char c) {
    return IsAsciiLetter(c) || IsAsciiDigit(c) || IsHtmlSpace(c) || c == '.' || c == ',' ||
           c == '%' || c == '/' || c == '+' || c == '-';
  });
}

bool IsLength(std::string_view v) {
  size_t i = 0;
  size_t digits = 0;
  bool point = false;
  for (; i < v.size(); ++i) {
    if (IsAsciiDigit(v[i]))
      ++digits;
    else if (v[i] == '.' && !point)
      point = true;
    else
      break;
  }
  if (digits == 0) return false;
  const std::string_view unit = v.substr(i);
  return unit.empty() ||
         IsOneOf(unit, {"px", "pt", "em", "rem", "%", "ex", "mm", "cm", "in", "pc"});
}

// A list of family names, each quoted or a run of plain words.
bool IsSafeFontFamily(std::string_view v) {
  size_t from = 0;
  while (true) {
    const size_t comma = std::min(v.find(',', from), v.size());
    const std::string_view item = TrimHtmlSpace(v.substr(from, comma - from));
    if (item.empty()) return false;
    if (item[0] == '"' || item[0] == '\'') {
      if (item.size() < 2 || item.back() != item[0]) return false;
      // A quoted name may also hold dots ("Futura Md BT 2.0").
      if (!IsPlainFontName(ReplaceAll(item.substr(1, item.size() - 2), ".", "_"))) return false;
    } else if (!IsPlainFontName(item)) {
      return false;
    }
    if (comma == v.size()) return true;
    from = comma + 1;
  }
}

bool IsTextDecoration(std::string_view v) {
  bool any = false;
  for (std::string_view word : Split(v, " ")) {
    if (word.empty()) continue;
    if (!IsOneOf(word, {"none", "underline", "overline", "line-through"})) return false;
    any = true;
  }
  return any;
}

bool IsFontWeight(std::string_view v) {
  return IsOneOf(v, {"normal", "bold", "bolder", "lighter"}) ||
         (!v.empty() && v.size() <= 4 && std::all_of(v.begin(), v.end(), IsAsciiDigit));
}

struct StyleProperty {
  std::string_view name;
  bool (*valid)(std::string_view value);
};
constexpr StyleProperty kStyleProperties[] = {
    {"color", IsSafeColor},
    {"background-color", IsSafeColor},
    {"background", IsSafeColor},
    {"font-family", IsSafeFontFamily},
    {"font-size",
     [](std::string_view v) {
       return IsLength(v) || IsOneOf(v, {"xx-small", "x-small", "small", "medium", "large",
                                         "x-large", "xx-large", "smaller", "larger"});
     }},
    {"font-weight", IsFontWeight},
    {"font-style",
     [](std::string_view v) {
       return IsOneOf(v, {"normal", "italic", "oblique"});
     }},
    {"text-decoration", IsTextDecoration},
    {"text-decoration-line", IsTextDecoration},
    {"text-align",
     [](std::string_view v) {
       return IsOneOf(v, {"left", "right", "center", "justify", "start", "end"});
     }},
};
constexpr size_t kStylePropertyCount = std::size(kStyleProperties);

// Calls `each` with every declaration of a style attribute, split at ";"
// outside quotes and parentheses.
template <class Each>
void ForEachDeclaration(std::string_view style, Each each) {
  size_t start = 0;
  char quote = 0;
  size_t depth = 0;
  for (size_t i = 0; i < style.size(); ++i) {
    const char c = style[i];
    if (quote != 0) {
      if (c == quote) quote = 0;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == '(') {
      ++depth;
    } else if (c == ')' && depth > 0) {
      --depth;
    } else if (c == ';' && depth == 0) {
      each(style.substr(start, i - start));
      start = i + 1;
    }
  }
  each(style.substr(start));
}

// Appends the kept declarations as "property:value;", each property once
// (the last valid one, as a browser takes it) in the order of those; a
// family name's double quotes become single ones, so the value needs no
// escaping in a double-quoted attribute. Answers whether any was kept.
bool AppendSafeStyle(std::string& out, std::string_view style) {
  std::string_view values[kStylePropertyCount];
  size_t order[kStylePropertyCount] = {};  // 0: not kept
  size_t count = 0;
  ForEachDeclaration(style, [&](std::string_view declaration) {
    const size_t colon = declaration.find(':');
    if (colon == npos) return;
    const std::string_view name = TrimHtmlSpace(declaration.substr(0, colon));
    size_t k = 0;
    while (k < kStylePropertyCount && (kStyleProperties[k].name.size() != name.size() ||
                                       !EqualsIgnoreCase(kStyleProperties[k].name, name)))
      ++k;
    if (k == kStylePropertyCount) return;
    std::string_view value = TrimHtmlSpace(declaration.substr(colon + 1));
    // "!important" says nothing about the text's look.
    if (const size_t bang = value.rfind('!');
        bang != npos && EqualsIgnoreCase(TrimHtmlSpace(value.substr(bang + 1)), "important"))
      value = TrimHtmlSpace(value.substr(0, bang));
    if (!kStyleProperties[k].valid(value)) return;
    values[k] = value;
    order[k] = ++count;
  });
  if (count == 0) return false;
  for (size_t n = 1; n <= count; ++n) {
    const size_t k = std::find(order, order + kStylePropertyCount, n) - order;
    if (k == kStylePropertyCount) continue;  // a later declaration took its place
    out.append(kStyleProperties[k].name).push_back(':');
    const size_t at = out.size();
    out.append(values[k]);
    std::replace(out.begin() + at, out.end(), '"', '\'');
    out.push_back(';');
  }
  return true;
}

// ---------------------------------------------------------------------------
// HTML: the tokenizer, as a browser splits the text

struct Tag {
  std::string_view name;
  bool selfClosing = false;
  std::string_view href, style;  // the first of each: a browser ignores a repeated attribute
  bool hasHref = false, hasStyle = false;

  void Attribute(std::string_view attribute, std::string_view value) {
    if (!hasHref && EqualsIgnoreCase(attribute, "href")) {
      href = value;
      hasHref = true;
    } else if (!hasStyle && EqualsIgnoreCase(attribute, "style")) {
      style = value;
      hasStyle = true;
    }
  }
};

// Reads a tag from its name (at `at`, after "<" or "</") to its ">": a quoted
// attribute value may hold ">" and blanks. Answers the position after the
// ">", or npos when the text ends inside the tag (a browser then drops it).
size_t ReadTag(std::string_view s, size_t at, Tag& tag) {
  const size_t n = s.size();
  const auto ends = [&](size_t k) { return IsHtmlSpace(s[k]) || s[k] == '/' || s[k] == '>'; };
  size_t i = at;
  while (i < n && !ends(i)) ++i;
  tag.name = s.substr(at, i - at);
  while (true) {
    while (i < n && IsHtmlSpace(s[i])) ++i;
    if (i >= n) return npos;
    if (s[i] == '>') return i + 1;
    if (s[i] == '/') {
      if (i + 1 < n && s[i + 1] == '>') {
        tag.selfClosing = true;
        return i + 2;
      }
      ++i;
      continue;
    }
    const size_t nameStart = i++;  // a name may begin with "=" or a quote
    while (i < n && !ends(i) && s[i] != '=') ++i;
    const std::string_view attribute = s.substr(nameStart, i - nameStart);
    std::string_view value;
    size_t j = i;
    while (j < n && IsHtmlSpace(s[j])) ++j;
    if (j < n && s[j] == '=') {
      i = j + 1;
      while (i < n && IsHtmlSpace(s[i])) ++i;
      if (i >= n) return npos;
      if (s[i] == '"' || s[i] == '\'') {
        const size_t close = s.find(s[i], i + 1);
        if (close == npos) return npos;
        value = s.substr(i + 1, close - i - 1);
        i = close + 1;
      } else {
        const size_t start = i;
        while (i < n && !IsHtmlSpace(s[i]) && s[i] != '>') ++i;
        value = s.substr(start, i - start);
      }
    }
    tag.Attribute(attribute, value);
  }
}

// The end of an element whose content a browser reads as text: after its end
// tag ("</name" and a blank, "/" or ">"), or the end of the text.
size_t RawTextEnd(std::string_view s, size_t from, std::string_view name) {
  for (size_t at = s.find("</", from); at != npos; at = s.find("</", at + 2)) {
    const size_t after = at + 2 + name.size();
    if (after < s.size() && EqualsIgnoreCase(s.substr(at + 2, name.size()), name) &&
        (IsHtmlSpace(s[after]) || s[after] == '/' || s[after] == '>')) {
      Tag end;
      const size_t close = ReadTag(s, at + 2, end);
      return close == npos ? s.size() : close;
    }
  }
  return s.size();
}

// The length of a character reference at the start of the text ("&amp;",
// "&#233;", "&#xE9;"), which stays as written; 0 when the "&" starts none.
size_t ReferenceLength(std::string_view t) {
  size_t i = 1;
  if (i < t.size() && t[i] == '#') {
    ++i;
    const bool hex = i < t.size() && (t[i] == 'x' || t[i] == 'X');
    if (hex) ++i;
    const size_t digits = i;
    while (i < t.size() && (hex ? IsHexDigit(t[i]) : IsAsciiDigit(t[i]))) ++i;
    if (i == digits) return 0;
  } else {
    if (i >= t.size() || !IsAsciiLetter(t[i])) return 0;
    while (i < t.size() && i <= 32 && (IsAsciiLetter(t[i]) || IsAsciiDigit(t[i]))) ++i;
  }
  return i < t.size() && t[i] == ';' ? i + 1 : 0;
}

// ---------------------------------------------------------------------------
// HTML: the writer

class HtmlSanitizer {
 public:
  explicit HtmlSanitizer(std::string_view html) : s_(html) {
    out_.reserve(html.size() + html.size() / 8);
    aOpen_.reserve(32);
    aLists_.reserve(8);
  }

  std::string Run() {
    size_t pos = 0;
    while (pos < s_.size()) {
      const size_t lt = s_.find('<', pos);
      Text(s_.substr(pos, std::min(lt, s_.size()) - pos));
      if (lt == npos) break;
      pos = Markup(lt);
    }
    while (!aOpen_.empty()) Pop();
    return std::move(out_);
  }

 private:
  bool Dropping() const { return nDropDepth_ > 0; }

  // Text with "<" and a "&" that starts no reference escaped; NUL, which a browser drops, goes.
  void Text(std::string_view text) {
    if (Dropping()) return;
    size_t i = 0;
    while (i < text.size()) {
      size_t k = i;
      while (k < text.size() && text[k] != '&' && text[k] != '\0') ++k;
      out_.append(text.substr(i, k - i));
      if (k == text.size()) break;
      i = k + 1;
      if (text[k] == '\0') continue;
      if (const size_t length = ReferenceLength(text.substr(k))) {
        out_.append(text.substr(k, length));
        i = k + length;
      } else {
        out_.append("&amp;");
      }
    }
  }

  // What starts at a "<"; answers where the text goes on.
  size_t Markup(size_t lt) {
    const size_t n = s_.size();
    const char c = lt + 1 < n ? s_[lt + 1] : '\0';
    if (IsAsciiLetter(c)) {
      Tag tag;
      const size_t end = ReadTag(s_, lt + 1, tag);
      return end == npos ? n : StartTag(tag, end);
    }
    if (c == '/') {
      const char d = lt + 2 < n ? s_[lt + 2] : '\0';
      if (IsAsciiLetter(d)) {
        Tag tag;
        const size_t end = ReadTag(s_, lt + 2, tag);
        if (end == npos) return n;
        EndTag(tag.name);
        return end;
      }
      if (d == '>') return lt + 3;  // "</>" is nothing
      if (lt + 2 < n) return BogusCommentEnd(lt + 2);
      if (!Dropping()) out_.append("&lt;/");  // "</" ends the text: it is text
      return n;
    }
    if (c == '!') {
      if (s_.substr(lt + 2, 2) == "--") return CommentEnd(lt + 4);
      return BogusCommentEnd(lt + 2);  // a doctype, "<![CDATA[" ...
    }
    if (c == '?') return BogusCommentEnd(lt + 1);
    if (!Dropping()) out_.append("&lt;");  // "a < b": a "<" that starts no tag is text
    return lt + 1;
  }

  size_t BogusCommentEnd(size_t from) const {
    const size_t gt = s_.find('>', from);
    return gt == npos ? s_.size() : gt + 1;
  }

  // After "<!--": "<!-->" and "<!--->" end at once; else at "-->" or "--!>".
  size_t CommentEnd(size_t from) const {
    if (s_.substr(from, 1) == ">") return from + 1;
    if (s_.substr(from, 2) == "->") return from + 2;
    for (size_t at = s_.find("--", from); at != npos; at = s_.find("--", at + 1)) {
      if (s_.substr(at + 2, 1) == ">") return at + 3;
      if (s_.substr(at + 2, 2) == "!>") return at + 4;
    }
    return s_.size();
  }

  size_t StartTag(const Tag& tag, size_t end) {
    const ElementRule element = FindElement(tag.name);
    if (element.kept != Kept::kNone) {
      if (!Dropping()) Open(element.kept, tag);
      return end;
    }
    const Dropped rule = element.rule;
    switch (rule) {
      case Dropped::kTag:
        return end;
      case Dropped::kRawText:
        return RawTextEnd(s_, end, tag.name);
      case Dropped::kRest:
        return s_.size();
      case Dropped::kForeign:
      case Dropped::kContent:
        if (rule == Dropped::kForeign && tag.selfClosing) return end;
        if (!Dropping())
          cDropName_ = tag.name;
        else if (!EqualsIgnoreCase(tag.name, cDropName_))
          return end;
        ++nDropDepth_;
        return end;
    }
    return end;
  }

  void EndTag(std::string_view name) {
    if (Dropping()) {
      if (EqualsIgnoreCase(name, cDropName_)) --nDropDepth_;
      return;
    }
    const Kept kept = FindElement(name).kept;
    if (kept == Kept::kBr)
      out_.append("<br>");  // "</br>" is a line break, as browsers read it
    else if (kept != Kept::kNone && nOpen_[Index(kept)] > 0)
      CloseTo(kept);
  }

  static size_t Index(Kept k) { return static_cast<size_t>(k); }
  static bool IsList(Kept k) { return k == Kept::kLi || k == Kept::kUl || k == Kept::kOl; }

  // Closes what a browser closes before this element opens, then opens it:
  // a paragraph before any block, a list item before the next item of its
  // list, a link before another link.
  void Open(Kept kept, const Tag& tag) {
    if (kept == Kept::kBr) {
      out_.append("<br>");
      return;
    }
    const bool block = kept == Kept::kP || kept == Kept::kDiv || IsList(kept);
    if (kept == Kept::kLi && !aLists_.empty() && aOpen_[aLists_.back()] == Kept::kLi)
      CloseTo(Kept::kLi);
    if (block && nOpen_[Index(Kept::kP)] > 0) CloseTo(Kept::kP);
    if (kept == Kept::kA && nOpen_[Index(Kept::kA)] > 0) CloseTo(Kept::kA);

    out_.push_back('<');
    out_.append(kKeptNames[Index(kept)]);
    if (kept == Kept::kA && tag.hasHref && SafeUrl(tag.href, cUrl_)) {
      out_.append(" href=\"");
      AppendEscapedHtml(out_, cUrl_);
      out_.push_back('"');
    }
    if (tag.hasStyle) {
      // The kept values hold no double quote, "&", "<" or ">": they go as they are.
      const size_t at = out_.size();
      out_.append(" style=\"");
      const bool any = tag.style.find('&') == npos ? AppendSafeStyle(out_, tag.style)
                                                   : AppendSafeStyle(out_, Decoded(tag.style));
      if (any)
        out_.push_back('"');
      else
        out_.resize(at);
    }
    out_.push_back('>');
    if (IsList(kept)) aLists_.push_back(aOpen_.size());
    aOpen_.push_back(kept);
    ++nOpen_[Index(kept)];
  }

  void Pop() {
    const Kept top = aOpen_.back();
    out_.append(kEndTags[Index(top)]);
    --nOpen_[Index(top)];
    if (IsList(top)) aLists_.pop_back();
    aOpen_.pop_back();
  }

  // Closes the innermost open element of the kind and every one inside it.
  void CloseTo(Kept kept) {
    while (true) {
      const Kept top = aOpen_.back();
      Pop();
      if (top == kept) return;
    }
  }

  std::string_view s_;
  std::string out_;
  std::vector<Kept> aOpen_;        // the open kept elements, innermost last
  std::vector<size_t> aLists_;     // positions in aOpen_ of the open li, ul and ol
  size_t nOpen_[kKeptCount] = {};  // open elements of each kind
  std::string_view cDropName_;     // the element being dropped with its content
  size_t nDropDepth_ = 0;          // its nesting
  std::string cUrl_;
};

}  // namespace

std::string KXRICHTEXTSANITIZEHTML(std::string_view html) {
  return HtmlSanitizer(html).Run();
}

std::string KXRICHTEXTSANITIZE(std::string_view content, std::string_view format) {
  if (format == "html") return KXRICHTEXTSANITIZEHTML(content);
  if (format == "rtf") return KXRICHTEXTSANITIZERTF(content);
  return std::string(content);
}

}  // namespace kx
