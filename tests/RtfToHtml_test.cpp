#include "RtfToHtml.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "HtmlToRtf.h"
#include "ObjectTestContext.h"
#include "Platform.h"
#include "TRichText.h"

namespace kx {
namespace {

struct Case {
  std::string rtf;
  std::string html;
};

void ExpectConversions(const std::vector<Case>& cases) {
  for (const Case& c : cases) EXPECT_EQ(KXRICHTEXTRTFTOHTML(Value(c.rtf)), c.html) << c.rtf;
}

TEST(RtfToHtml, RunsKeepTheirFormatting) {
  ExpectConversions({
      {R"({\rtf1\ansi{\fonttbl{\f0\fswiss Arial;}}\f0\fs24 Hola {\b mundo}\par})",
       R"(<span><span style="font-family:Arial;font-size:12.00pt;">Hola </span>)"
       R"(<span style="font-family:Arial;font-size:12.00pt;"><strong>mundo</strong></span>)"
       "<br></span>"},
      // The blank between two groups joins the next run.
      {R"({\b A} {\i B})", "<span><strong>A</strong><em> B</em></span>"},
      {R"({\colortbl;\red255\green0\blue0;}\cf1 Rojo)",
       R"(<span><span style="color:#FF0000;">Rojo</span></span>)"},
      {R"({\colortbl;\red255\green0\blue0;}\highlight1 x\cf0 y)",
       R"(<span><span style="background-color:#FF0000;">x</span>)"
       R"(<span style="background-color:#FF0000;">y</span></span>)"},
      {R"(\fs23 a)", R"(<span><span style="font-size:11.50pt;">a</span></span>)"},
      {R"(\b\i\ul\strike\super x\b0\i0\ul0\strike0 y\nosupersub z\sub w\ulnone\ul v\ulnone u)",
       "<span><strong><em><u><s><sup>x</sup></s></u></em></strong><sup>y</sup>z<sub>w</sub>"
       "<u><sub>v</sub></u><sub>u</sub></span>"},
      {R"(\sub a\super b)", "<span><sub>a</sub><sup>b</sup></span>"},
      // "\i" and "\f1" are formatting words, not destinations.
      {R"({\fonttbl{\f1 Courier;}}{\i\f1 x})",
       R"(<span><span style="font-family:Courier;"><em>x</em></span></span>)"},
      {R"(a\par b\line c\tab d\bullet e)", "<span>a<br>b<br>c&emsp;d&#8226; e</span>"},
      // A body word never changes the font names.
      {R"({\fonttbl{\f0 Arial;}}\f0 Hola; adios)",
       R"(<span><span style="font-family:Arial;">Hola; adios</span></span>)"},
  });
}

TEST(RtfToHtml, DestinationsAndSymbols) {
  ExpectConversions({
      {R"({\*\generator x;}y)", "<span>y</span>"},
      {R"({\info{\title t}}y)", "<span>y</span>"},
      {R"({\stylesheet{\s0 Normal;}}{\pict 0102}{\object o}y)", "<span>y</span>"},
      // A field shows its result; its instruction is no text, with or without the star.
      {R"({\field{\fldinst HYPERLINK "http://x"}{\fldrslt enlace}})", "<span>enlace</span>"},
      {R"(a\{b\}c\\d)", "<span>a{b}c\\d</span>"},
      // A no-break space stays; the optional and the no-break hyphen leave nothing.
      {R"(a\~b\-c\_d)",
       "<span>a\xC2\xA0"
       "bcd</span>"},
      {"x < y & \"z\" 'w'", "<span>x &lt; y &amp; &quot;z&quot; &#039;w&#039;</span>"},
      {"a\r\nb\tc", "<span>ab\tc</span>"},
      // Unterminated documents, surplus braces and a final backslash.
      {R"({\rtf1 abc)", "<span>abc</span>"},
      {"a}}b{", "<span>ab</span>"},
      {"ab\\", "<span>ab</span>"},
      {"", "<span></span>"},
      {"\xEF\xBB\xBF{\\rtf1 x}" + std::string(2, '\0'), "<span>x</span>"},
  });
}

TEST(RtfToHtml, NonAsciiText) {
  ExpectConversions({
      {R"(\u233?)", "<span>\xC3\xA9</span>"},
      {R"(\uc0\u233 x)", "<span>\xC3\xA9x</span>"},
      {R"(\u233\'e9)", "<span>\xC3\xA9</span>"},
      {R"(\uc2\u233\'e9\'e9x)", "<span>\xC3\xA9x</span>"},
      {R"({\uc0 \u233}x)", "<span>\xC3\xA9x</span>"},
      {R"(\u-3913?)", "<span>\xEF\x82\xB7</span>"},
      {R"(\'e9\'80)", "<span>\xC3\xA9\xE2\x82\xAC</span>"},
      {"\xE9", "<span>\xC3\xA9</span>"},
  });
}

// Mends: \u values are checked, pairs joined, and a broken "\'" escape goes whole.
TEST(RtfToHtml, UnicodeValuesAreRangeChecked) {
  const std::string fffd = "\xEF\xBF\xBD";
  ExpectConversions({
      {R"(\u-10179?\u-8704?)", "<span>\xF0\x9F\x98\x80</span>"},
      {R"(\uc0\u55357\u56832 x)", "<span>\xF0\x9F\x98\x80x</span>"},
      {R"(\u-10179?x)", "<span>" + fffd + "x</span>"},
      {R"(\u-10179?\u233?)", "<span>" + fffd + "\xC3\xA9</span>"},
      {R"({\u-10179?}\u-8704?)", "<span>" + fffd + fffd + "</span>"},
      {R"(\u-8704?)", "<span>" + fffd + "</span>"},
      {R"(x\u-10179?)", "<span>x" + fffd + "</span>"},
      {R"(\u70000?)", "<span>" + fffd + "</span>"},
      {R"(\u-40000?)", "<span>" + fffd + "</span>"},
      {R"(\u99999999999999999999?)", "<span>" + fffd + "</span>"},
      {R"(a\u0?b)", "<span>ab</span>"},
      {R"(a\'4gb\'zz\'0)", "<span>ab</span>"},
      {R"(a\'00b)", "<span>ab</span>"},
  });
}

// Mend: "\'" takes the two characters after it even when they are no hexadecimal digits,
// and writes nothing for them; a brace or backslash among them is left to the reader.
TEST(RtfToHtml, HexEscapeTakesTwoCharacters) {
  ExpectConversions({
      {R"(x\'qqy)", "<span>xy</span>"},
      {R"(x\'e)", "<span>x</span>"},
      {"x\\'\xC3\xA9\xC3\xA9y", "<span>xy</span>"},
      {R"({\b x\'}y)", "<span><strong>x</strong>y</span>"},
      {R"(x\'a\par y)", "<span>x<br>y</span>"},
      {R"({\b x\'a{\i y}})", "<span><strong>x</strong><strong><em>y</em></strong></span>"},
  });
}

// Mend: "\plain" ends every character format, as writers that start each
// paragraph with it expect; the font goes back to the document's default.
TEST(RtfToHtml, PlainEndsTheCharacterFormat) {
  ExpectConversions({
      {R"({\rtf1 \pard\b Title\par\pard\plain body\par})",
       "<span><strong>Title</strong><br>body<br></span>"},
      {R"({\rtf1\deff1{\fonttbl{\f0 A;}{\f1 B;}}{\colortbl;\red255\green0\blue0;})"
       R"(a\f0\fs30\cf1\highlight1\b\i\ul\strike\super b\plain c})",
       R"(<span><span style="font-family:B;">a</span>)"
       R"(<span style="font-family:A;font-size:15.00pt;color:#FF0000;background-color:#FF0000;">)"
       "<strong><em><u><s><sup>b</sup></s></u></em></strong></span>"
       R"(<span style="font-family:B;">c</span></span>)"},
      // The group's state comes back at its end; a skipped destination stays skipped.
      {R"({\b a{\plain b}c})", "<span><strong>a</strong>b<strong>c</strong></span>"},
      {R"({\*\x \plain hidden}{\uc0 \plain\u233 x})", "<span>\xC3\xA9x</span>"},
  });
}

// Mend: the typographic symbol words write their characters, in the run they stand in.
TEST(RtfToHtml, SymbolWordsWriteTheirCharacters) {
  ExpectConversions({
      {R"({\b don\rquote t})", "<span><strong>don\xE2\x80\x99t</strong></span>"},
      {R"(\lquote a\rquote \ldblquote b\rdblquote )",
       "<span>\xE2\x80\x98"
       "a\xE2\x80\x99\xE2\x80\x9C"
       "b\xE2\x80\x9D</span>"},
      {R"(1\endash 2\emdash 3\emspace 4\enspace 5\~6)",
       "<span>1\xE2\x80\x93"
       "2\xE2\x80\x94"
       "3\xE2\x80\x83"
       "4\xE2\x80\x82"
       "5\xC2\xA0"
       "6</span>"},
      {R"(\qc \emdash\emdash\emdash\par)", "<span>\xE2\x80\x94\xE2\x80\x94\xE2\x80\x94<br></span>"},
      {R"({\*\x \emdash\~}{\info \rquote}y)", "<span>y</span>"},
  });
}

// Mend: raw bytes are UTF-8 when they form it, else Windows-1252, and a UTF-8 character
// counts once as a fallback character.
TEST(RtfToHtml, RawBytesAreUtf8WhenTheyFormIt) {
  ExpectConversions({
      {"caf\xC3\xA9", "<span>caf\xC3\xA9</span>"},
      {"\xF0\x9F\x98\x80", "<span>\xF0\x9F\x98\x80</span>"},
      {"\x80 \xC3(", "<span>\xE2\x82\xAC \xC3\x83(</span>"},
      {"\\u241\xC3\xB1x", "<span>\xC3\xB1x</span>"},
      {"\\\xC3\xA9x", "<span>x</span>"},
      {std::string("a\0b", 3), "<span>ab</span>"},
  });
}

// Mends: numbers saturate (a font number of four billion does not wrap round to font 0),
// colour components are clamped, and a font name cannot leave its style attribute nor
// write a declaration of its own: only plain words are written.
TEST(RtfToHtml, HostileNumbersAndNames) {
  ExpectConversions({
      {R"({\fonttbl{\f0 Arial;}}\f4294967296 x)", "<span>x</span>"},
      {R"({\fonttbl{\f99999999999 Big;}}\f4294967295 x)",
       R"(<span><span style="font-family:Big;">x</span></span>)"},
      {R"(\fs99999999999999 x)",
       R"(<span><span style="font-size:1073741823.50pt;">x</span></span>)"},
      {R"({\colortbl;\red300\green-5\blue99999999999;}\cf1 x\cf99999999999 y)",
       R"(<span><span style="color:#FF00FF;">x</span>y</span>)"},
      {R"({\fonttbl{\f0 a"><script>x;}}\f0 t)", "<span>t</span>"},
      {R"({\fonttbl{\f0 x:y\}background:url(http://h/p.png)\{;}}\f0 t)", "<span>t</span>"},
      {"{\\fonttbl{\\f0 \\fswiss Helvetica;}{\\f1 DejaVu  Serif \xC3\xA9;}}\\f0 a\\f1 b",
       "<span>a<span style=\"font-family:DejaVu  Serif \xC3\xA9;\">b</span></span>"},
  });
}

TEST(RtfToHtml, DeepNestingTakesNoRecursion) {
  const size_t depth = 1000000;
  std::string rtf(depth, '{');
  rtf += "\\b x";
  rtf += std::string(depth, '}');
  rtf += "y";
  EXPECT_EQ(KXRICHTEXTRTFTOHTML(Value(rtf)), "<span><strong>x</strong>y</span>");

  // Nested groups with alternating states come back to each state in turn.
  ExpectConversions({
      {R"({\b a{\b0 b{\b c}d}e}f)",
       "<span><strong>a</strong>b<strong>c</strong>d<strong>e</strong>f</span>"},
      {R"({{{\b x}y}z})", "<span><strong>x</strong>yz</span>"},
  });
}

TEST(RtfToHtml, FontTable) {
  const RtfFontList fonts = KXRICHTEXTRTFFONTS(
      R"({\rtf1{\fonttbl{\f0\fswiss\fcharset0 Arial;}{\f1\froman Times New Roman;}{\f2 ;})"
      R"({\f1 Later;}{\f5\f6 Shared;}{\f7 Caf)"
      "\xE9;}}\\f3 Outside;}");
  ASSERT_EQ(fonts.size(), 5u);
  const std::pair<int, const char*> expected[] = {
      {0, "Arial"}, {1, "Later"}, {5, "Shared"}, {6, "Shared"}, {7, "Caf\xC3\xA9"}};
  for (const auto& [number, name] : expected) {
    ASSERT_NE(fonts.Find(number), nullptr) << number;
    EXPECT_EQ(*fonts.Find(number), name) << number;
  }
  for (int missing : {2, 3, 4, -1}) EXPECT_EQ(fonts.Find(missing), nullptr) << missing;
  EXPECT_EQ(KXRICHTEXTRTFFONTS(R"({\rtf1 \f0 Arial;})").size(), 0u);

  // A name is cut on a character boundary.
  std::string longName;
  for (int i = 0; i < 100; ++i) longName += "\xC3\xA9";
  const RtfFontList cut = KXRICHTEXTRTFFONTS("{\\fonttbl{\\f0 " + longName + ";}}");
  ASSERT_NE(cut.Find(0), nullptr);
  EXPECT_EQ(*cut.Find(0), longName.substr(0, 128));
}

TEST(RtfToHtml, ColourTable) {
  const std::pair<std::string, RtfColorList> cases[] = {
      {R"({\colortbl;\red255\green0\blue0;\red0\green0\blue255;})", {-1, 0xFF0000, 0x0000FF, -1}},
      {R"({\COLORTBL\red1\green2\blue3;})", {0x010203, -1}},
      {R"({\colortbl;;\green16;})", {-1, -1, 0x001000, -1}},
      {R"({\colortbl;\red1)", {}},
      {"no table", {}},
  };
  for (const auto& [rtf, colors] : cases) EXPECT_EQ(KXRICHTEXTRTFCOLORS(rtf), colors) << rtf;
}

TEST(RtfToHtml, FlushRunLeavesBlanksPending) {
  RtfCharState bold;
  bold.bold = true;
  std::string run = " \t\r\n";
  EXPECT_EQ(KXRICHTEXTRTFFLUSHRUN(run, bold, {}, {}), "");
  EXPECT_EQ(run, " \t\r\n");
  run += "x";
  EXPECT_EQ(KXRICHTEXTRTFFLUSHRUN(run, bold, {}, {}), "<strong> \t\r\nx</strong>");
  EXPECT_EQ(run, "");
}

TEST(RtfToHtml, AtFromAndEscape) {
  const std::pair<Value, size_t> starts[] = {{Value(1), 2},   {Value(3), 4}, {Value(0), 2},
                                             {Value("x"), 2}, {Value(5), 0}, {Value(9), 0}};
  for (const auto& [start, at] : starts) EXPECT_EQ(KXRICHTEXTATFROM("b", "abcb", start), at);
  EXPECT_EQ(KXRICHTEXTATFROM("z", "abcb", Value(1)), 0u);
  EXPECT_EQ(KXRICHTEXTESCAPEHTML("a&<>\"'&amp;"), "a&amp;&lt;&gt;&quot;&#039;&amp;amp;");
}

TEST(RtfToHtml, NormalizeInput) {
  EXPECT_EQ(KXRICHTEXTNORMALIZEINPUT(Value()), "");
  EXPECT_EQ(KXRICHTEXTNORMALIZEINPUT(Value(5)), "5");
  EXPECT_EQ(KXRICHTEXTNORMALIZEINPUT(Value(std::string("\xEF\xBB\xBF\xEF\xBB\xBF"
                                                       "a\0b\0\0",
                                                       11))),
            std::string("\xEF\xBB\xBF"
                        "a\0b",
                        6));
}

// Whatever the input, the HTML is valid UTF-8 without NUL.
TEST(RtfToHtml, OutputIsAlwaysValidUtf8) {
  const std::string inputs[] = {
      std::string("\\'00\0\\u0 \xFF\xFE\xC3\\u-10179\\'c3\\'a9", 28),
      "{\\fonttbl{\\f0 \xC3\xFF\x01;}}\\f0 x\\u55296\\u-1\\u56320",
      "\\uc9999999999\\u233 abc",
  };
  for (const std::string& rtf : inputs) {
    const std::string html = KXRICHTEXTRTFTOHTML(Value(rtf));
    EXPECT_TRUE(IsValidUtf8(html)) << html;
    EXPECT_EQ(html.find('\0'), std::string::npos) << html;
  }
}

// ---- Documents made by real writers (tests/rtf, written by `scripts/setup rtf-fixtures`)

std::string Fixture(const std::string& name) {
  std::string text;
  EXPECT_TRUE(platform::ReadTextFile(std::string(KX_SOURCE_DIR) + "/tests/rtf/" + name, text))
      << name;
  return text;
}

// The words of a text: what stands between blanks, line breaks and the Unicode
// spaces, leaving out those without a letter or digit (list bullets, dashes,
// rules), which each writer draws its own way.
std::vector<std::string> Words(std::string_view text) {
  std::string spaced(text);
  for (std::string_view space : {"\xC2\xA0", "\xE2\x80\x82", "\xE2\x80\x83"})
    spaced = ReplaceAll(spaced, space, " ");
  std::vector<std::string> words;
  std::string word;
  const auto end = [&] {
    const bool letters = std::any_of(word.begin(), word.end(), [](char c) {
      return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    });
    if (letters) words.push_back(word);
    word.clear();
  };
  for (char c : spaced) {
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n')
      end();
    else
      word.push_back(c);
  }
  end();
  return words;
}

// Whether the RTF's groups close as they open.
bool BracesBalance(std::string_view rtf) {
  int64_t depth = 0;
  for (size_t i = 0; i < rtf.size(); ++i) {
    if (rtf[i] == '\\')
      ++i;
    else if (rtf[i] == '{')
      ++depth;
    else if (rtf[i] == '}' && --depth < 0)
      return false;
  }
  return depth == 0;
}

// The HTML's elements nest and close (<br> stands alone), and the text inside
// <strong>; false as the first when they do not.
std::pair<bool, std::string> TagsAndBold(std::string_view html) {
  std::vector<std::string> open;
  std::string bold;
  size_t strong = 0;
  for (size_t pos = 0; pos < html.size();) {
    const size_t lt = html.find('<', pos);
    const std::string_view text = html.substr(pos, lt - pos);
    // Text outside <strong> parts two bold runs; runs that touch make one text.
    bold += strong > 0 ? DecodeEntitiesOfRtfHtml(text) : text.empty() ? "" : " ";
    if (lt == std::string_view::npos) break;
    const size_t gt = html.find('>', lt);
    if (gt == std::string_view::npos) return {false, bold};
    std::string_view tag = html.substr(lt + 1, gt - lt - 1);
    pos = gt + 1;
    if (tag == "br") {
      bold += ' ';
      continue;
    }
    const bool closing = tag.starts_with('/');
    if (closing) tag.remove_prefix(1);
    const std::string name(tag.substr(0, tag.find(' ')));
    if (closing) {
      if (open.empty() || open.back() != name) return {false, bold};
      open.pop_back();
    } else {
      open.push_back(name);
    }
    if (name == "strong") strong += closing ? -1 : 1;
  }
  return {open.empty(), bold};
}

// Three documents from pandoc and LibreOffice (headings, bold and italic runs, lists,
// hyperlinks, typographic quotes and dashes) keep their groups, their text and their bold
// runs, checked against what the writer itself gives as the document's text and bold; and
// so does their round trip through HTML.
TEST(RtfToHtml, DocumentsOfRealWriters) {
  for (const std::string name : {"pandoc-informe", "libreoffice-pedido", "libreoffice-acta"}) {
    const std::string rtf = Fixture(name + ".rtf");
    const std::vector<std::string> text = Words(Fixture(name + ".txt"));
    const std::vector<std::string> bold = Words(Fixture(name + ".bold"));
    ASSERT_TRUE(BracesBalance(rtf)) << name;
    ASSERT_GT(text.size(), 20u) << name;
    ASSERT_GT(bold.size(), 3u) << name;

    // As the content of a rich text: no hyperlink's "{{" is taken for a placeholder.
    ObjectTestContext ctx;
    TRichText object;
    object.cContent = Value(KXRICHTEXTENCODELITERAL(rtf));
    const Value map = object.GenerarRenderizable(*ctx.contexto);
    EXPECT_EQ(map.Get("contentFormat").Str(), "rtf") << name;
    EXPECT_EQ(map.Get("content").Str(), rtf) << name;
    EXPECT_EQ(Words(map.Get("plainContent").Str()), text) << name;

    const std::string html = KXRICHTEXTRTFTOHTML(Value(rtf));
    const auto [nested, boldText] = TagsAndBold(html);
    EXPECT_TRUE(nested) << name << ": " << html;
    EXPECT_EQ(Words(boldText), bold) << name << ": " << html;

    // Through HTML and back to RTF: balanced, no entity left as text, the same words and bold.
    const std::string back = KXRICHTEXTHTMLTORTF(html);
    EXPECT_TRUE(BracesBalance(back)) << name;
    EXPECT_EQ(back.find('&'), std::string::npos) << name << ": " << back;
    EXPECT_EQ(Words(KXRICHTEXTPLAINTEXT(Value(back))), text) << name;
    EXPECT_EQ(Words(TagsAndBold(KXRICHTEXTRTFTOHTML(Value(back))).second), bold) << name;
  }
}

}  // namespace
}  // namespace kx
