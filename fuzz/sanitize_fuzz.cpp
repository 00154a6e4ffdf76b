// The rich-text sanitizer: any bytes, as HTML and as RTF. The HTML written is
// read back by a strict reader of what the sanitizer may write (kept elements
// only, balanced, no tag a browser would close by itself left open, only href
// and style, links of the three schemes, styles without url(), escapes or
// quotes, text escaped); the RTF holds none of the dropped words and its
// groups balance. Both are fixed points: sanitized again, they do not change.
#include <algorithm>
#include <vector>

#include "FuzzSupport.h"
#include "RichTextSanitizer.h"
#include "RtfToHtml.h"

using namespace kx;

namespace {

constexpr std::string_view kKept[] = {"p", "div",    "br",  "span", "strong", "b",  "em", "i", "u",
                                      "s", "strike", "sup", "sub",  "ul",     "ol", "li", "a"};

bool IsLetterOrDigit(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// "&" starts a reference: "&name;", "&#digits;" or "&#xhex;".
void CheckReference(std::string_view rest) {
  size_t i = 1;
  if (i < rest.size() && rest[i] == '#') ++i;
  if (i < rest.size() && (rest[i] == 'x' || rest[i] == 'X') && rest[1] == '#') ++i;
  const size_t start = i;
  while (i < rest.size() && IsLetterOrDigit(rest[i])) ++i;
  KX_FUZZ_CHECK(i > start && i < rest.size() && rest[i] == ';');
}

void CheckAttribute(std::string_view element, std::string_view name, std::string_view value) {
  KX_FUZZ_CHECK(value.find_first_of("\"<>") == std::string_view::npos);
  if (name == "href") {
    KX_FUZZ_CHECK(element == "a");
    const std::string lower = Lower(value);
    KX_FUZZ_CHECK(lower.starts_with("http:") || lower.starts_with("https:") ||
                  lower.starts_with("mailto:"));
    return;
  }
  KX_FUZZ_CHECK(name == "style" && element != "br");
  KX_FUZZ_CHECK(!value.empty() && value.back() == ';');
  for (std::string_view declaration : Split(value.substr(0, value.size() - 1), ";")) {
    const size_t colon = declaration.find(':');
    KX_FUZZ_CHECK(colon != std::string_view::npos);
    const std::string_view property = declaration.substr(0, colon);
    const std::string v = Lower(declaration.substr(colon + 1));
    KX_FUZZ_CHECK(v.find_first_of("\\&!*") == std::string::npos);
    KX_FUZZ_CHECK(property == "font-family" || v.find('\'') == std::string::npos);
    // The only functions are the colour ones.
    for (size_t open = v.find('('); open != std::string::npos; open = v.find('(', open + 1)) {
      const size_t start = v.find_last_of(", ", open);
      const std::string_view function =
          std::string_view(v).substr(start == std::string::npos ? 0 : start + 1);
      KX_FUZZ_CHECK(function.starts_with("rgb(") || function.starts_with("rgba(") ||
                    function.starts_with("hsl(") || function.starts_with("hsla("));
    }
  }
}

void CheckHtml(std::string_view html) {
  std::vector<std::string_view> open;
  const auto isOpen = [&](std::string_view name) {
    return std::find(open.begin(), open.end(), name) != open.end();
  };
  size_t i = 0;
  while (i < html.size()) {
    const char c = html[i];
    KX_FUZZ_CHECK(c != '\0');
    if (c == '&') CheckReference(html.substr(i));
    if (c != '<') {
      ++i;
      continue;
    }
    const bool closing = i + 1 < html.size() && html[i + 1] == '/';
    size_t j = i + 1 + closing;
    const size_t nameStart = j;
    while (j < html.size() && IsLetterOrDigit(html[j])) ++j;
    const std::string_view name = html.substr(nameStart, j - nameStart);
    KX_FUZZ_CHECK(std::find(std::begin(kKept), std::end(kKept), name) != std::end(kKept));
    if (closing) {
      KX_FUZZ_CHECK(j < html.size() && html[j] == '>');
      KX_FUZZ_CHECK(!open.empty() && open.back() == name);
      open.pop_back();
      i = j + 1;
      continue;
    }
    while (j < html.size() && html[j] == ' ') {
      const size_t attributeStart = ++j;
      while (j < html.size() && IsLetterOrDigit(html[j])) ++j;
      const std::string_view attribute = html.substr(attributeStart, j - attributeStart);
      KX_FUZZ_CHECK(html.substr(j, 2) == "=\"");
      const size_t close = html.find('"', j + 2);
      KX_FUZZ_CHECK(close != std::string_view::npos);
      CheckAttribute(name, attribute, html.substr(j + 2, close - j - 2));
      j = close + 1;
    }
    KX_FUZZ_CHECK(j < html.size() && html[j] == '>');
    i = j + 1;
    if (name == "br") continue;
    // Nothing a browser would close by itself on reading this tag is open.
    const bool block = name == "p" || name == "div" || name == "ul" || name == "ol" || name == "li";
    KX_FUZZ_CHECK(!block || !isOpen("p"));
    KX_FUZZ_CHECK(name != "a" || !isOpen("a"));
    if (name == "li") {
      const auto list = std::find_if(open.rbegin(), open.rend(), [](std::string_view e) {
        return e == "li" || e == "ul" || e == "ol";
      });
      KX_FUZZ_CHECK(list == open.rend() || *list != "li");
    }
    open.push_back(name);
  }
  KX_FUZZ_CHECK(open.empty());
}

void CheckRtf(std::string_view rtf) {
  RtfLexer lexer(rtf);
  RtfToken token;
  int64_t depth = 0;
  while (lexer.Next(token)) {
    if (token.kind == RtfToken::Kind::kOpen) ++depth;
    if (token.kind == RtfToken::Kind::kClose) KX_FUZZ_CHECK(--depth >= 0);
    if (token.kind != RtfToken::Kind::kWord) continue;
    const std::string word = Lower(token.word);
    for (std::string_view dropped :
         {"fldinst", "field", "fldrslt", "pict", "shppict", "nonshppict", "shp", "object",
          "objdata", "bin", "htmltag", "fromhtml", "template", "datastore"})
      KX_FUZZ_CHECK(word != dropped);
  }
  KX_FUZZ_CHECK(depth == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input = fuzz::Text(data, size);
  const std::string html = KXRICHTEXTSANITIZEHTML(input);
  CheckHtml(html);
  KX_FUZZ_CHECK(KXRICHTEXTSANITIZEHTML(html) == html);
  if (IsValidUtf8(input)) KX_FUZZ_CHECK(IsValidUtf8(html));
  const std::string rtf = KXRICHTEXTSANITIZERTF(input);
  CheckRtf(rtf);
  KX_FUZZ_CHECK(KXRICHTEXTSANITIZERTF(rtf) == rtf);
  return 0;
}
