#include "HtmlToRtf.h"

#include <gtest/gtest.h>

#include <string>

#include "RtfToHtml.h"
#include "TRichText.h"

namespace kx {
namespace {

const std::string kHeader = R"({\rtf1\ansi\ansicpg1252\deff0{\fonttbl{\f0 Arial;}}{\colortbl;})"
                            R"(\viewkind4\uc1\pard\f0\fs24 )";

// The body of a converted document without fonts or colours of its own.
std::string Body(std::string_view html) {
  const std::string rtf = KXRICHTEXTHTMLTORTF(html);
  EXPECT_EQ(rtf.substr(0, kHeader.size()), kHeader) << html;
  EXPECT_EQ(rtf.back(), '}');
  return rtf.substr(kHeader.size(), rtf.size() - kHeader.size() - 1);
}

TEST(HtmlToRtf, PlainTextDocument) {
  EXPECT_EQ(KXRICHTEXTTORTF(Value("a{b}\nc"), Value()),
            R"({\rtf1\ansi\ansicpg1252\deff0{\fonttbl{\f0 Arial;}}\viewkind4\uc1\pard\f0\fs24 )"
            R"(a\{b\}\line c\par})");
  EXPECT_EQ(
      KXRICHTEXTTORTF(Value(5), Value("text")),
      R"({\rtf1\ansi\ansicpg1252\deff0{\fonttbl{\f0 Arial;}}\viewkind4\uc1\pard\f0\fs24 \par})");
  EXPECT_EQ(KXRICHTEXTTORTF(Value("{\\rtf1 x}"), Value(" RTF ")), "{\\rtf1 x}");
  EXPECT_EQ(KXRICHTEXTTORTF(Value("<b>x</b>"), Value("Html")), kHeader + R"({\b x}})");
}

TEST(HtmlToRtf, RtfText) {
  const std::pair<std::string, std::string> cases[] = {
      {"\xC3\xA9\xE2\x82\xAC\xEF\x82\xB7", R"(\u233?\u8364?\u-3913?)"},
      {"\xF0\x9F\x98\x80", R"(\u-10179?\u-8704?)"},
      {"a\\b\r\n\tc", "a\\\\b\\line \tc"},
      // Mends: NUL is dropped, and a byte that starts no UTF-8 character stands for itself
      // without taking the bytes after it.
      {std::string("a\0b", 3), "ab"},
      {"\xE9"
       "AB\xF7",
       R"(\u233?AB\u247?)"},
  };
  for (const auto& [text, rtf] : cases) EXPECT_EQ(KXRICHTEXTRTFTEXT(text), rtf) << rtf;
}

TEST(HtmlToRtf, Paragraphs) {
  EXPECT_EQ(KXRICHTEXTHTMLTORTF(R"(<p style="text-align:center"><strong>Hola</strong> mundo</p>)"),
            kHeader + R"({\qc {\b Hola} mundo}\par })");
  const std::pair<std::string, std::string> bodies[] = {
      {"<u>x</u>", R"({\ul x})"},
      {"<s>x</s><strike>y</strike>", R"({\strike x}{\strike y})"},
      {"<sup>1</sup><sub>2</sub><em>3</em><i>4</i><b>5</b>",
       R"({\super 1}{\sub 2}{\i 3}{\i 4}{\b 5})"},
      {"a</i>b", "ab"},
      {"<div>a</div><li>b</li>", R"({a}\par {\pard\li360\fi-180 \bullet\tab b}\par )"},
      {"a<br>b<br/>c<BR />d</br>e", R"(a\line b\line c\line d\line e)"},
      {"<table><tr><td>x</td></tr></table>", "x"},
      {"&amp;lt;b&amp;gt; &euro;", R"(&lt;b&gt; \u8364?)"},
      {"a < b", "a "},
      {"<p>x", "{x}"},
      {"<span>a<b>b</span>c</b>", "{a{\\b b}c}"},
  };
  for (const auto& [html, body] : bodies) EXPECT_EQ(Body(html), body) << html;
}

TEST(HtmlToRtf, Lists) {
  EXPECT_EQ(Body("<ol><li>a</li><li>b</li></ol>"),
            R"({\pard\li360\fi-180 1.\tab a}\par {\pard\li360\fi-180 2.\tab b}\par )");
  EXPECT_EQ(Body("<ol><li>a</li><ul><li>b</li></ul><li>c</li></ol><li>d</li>"),
            R"({\pard\li360\fi-180 1.\tab a}\par {\pard\li720\fi-180 \bullet\tab b}\par )"
            R"({\pard\li360\fi-180 2.\tab c}\par {\pard\li360\fi-180 \bullet\tab d}\par )");
}

TEST(HtmlToRtf, FontsAndColoursOfTheHeader) {
  EXPECT_EQ(
      KXRICHTEXTHTMLTORTF(R"(<span style="color:#FF0000;font-size:12px">r</span>)"),
      R"({\rtf1\ansi\ansicpg1252\deff0{\fonttbl{\f0 Arial;}}{\colortbl;\red255\green0\blue0;})"
      R"(\viewkind4\uc1\pard\f0\fs24 {\fs18 \cf1 r}})");
  EXPECT_EQ(
      KXRICHTEXTHTMLTORTF(
          R"(<span style="font-family: Georgia, serif">g</span><i style="font-family:georgia;)"
          R"(color:rgb(0,0,255);background-color:navy">h</i>x #abcdef)"),
      R"({\rtf1\ansi\ansicpg1252\deff0{\fonttbl{\f0 Arial;}{\f1 Georgia;}})"
      R"({\colortbl;\red171\green205\blue239;\red0\green0\blue255;\red0\green0\blue128;})"
      R"(\viewkind4\uc1\pard\f0\fs24 {\f1 g}{\i \f1 \cf2 \highlight3 h}x #abcdef})");
  // Mend: a font name is RTF text in the table, so braces cannot end it.
  const std::string rtf = KXRICHTEXTHTMLTORTF(R"(<span style="font-family:a{b}\c">x</span>)");
  EXPECT_TRUE(
      rtf.starts_with(R"({\rtf1\ansi\ansicpg1252\deff0{\fonttbl{\f0 Arial;}{\f1 a\{b\}\\c;}})"))
      << rtf;
}

// Mend: tags and styles split at any white space, so a tag written over lines is recognised.
TEST(HtmlToRtf, TagsSplitAtAnyWhiteSpace) {
  EXPECT_EQ(
      Body("<p\nstyle=\"text-align:right\">x</p\n><span\tstyle=\n'font-weight:bold'>y</span>"),
      R"({\qr x}\par {\b y})");
  EXPECT_EQ(Body("<span style=\"text-align:left;\nfont-style:italic\">z</span>"), R"({\i \ql z})");
}

TEST(HtmlToRtf, TagControls) {
  const HtmlRtfTables tables;
  const std::pair<std::string, std::string> styles[] = {
      {"font-weight:600", "\\b "},
      {"font-weight:Bolder", "\\b "},
      {"font-weight:6", ""},
      {"font-weight:normal", ""},
      {"font-style:ITALIC", "\\i "},
      {"text-decoration:underline line-through", "\\ul \\strike "},
      {"font-size:12px", "\\fs18 "},
      {"font-size:1.5em", "\\fs36 "},
      {"font-size:150%", "\\fs36 "},
      {"font-size:11pt", "\\fs22 "},
      {"font-size:1.25rem", "\\fs30 "},
      {"font-size:0", ""},
      {"font-size:-3px", ""},
      {"text-align:justify", "\\qj "},
      {"font-family:ARIAL", "\\f0 "},
      {"font-family:Verdana", ""},
      {"color:red", ""},
  };
  for (const auto& [style, controls] : styles)
    EXPECT_EQ(KXRICHTEXTTAGRTFCONTROLS("span", style, tables), controls) << style;
  EXPECT_EQ(KXRICHTEXTTAGRTFCONTROLS("strong", "font-weight:bold", tables), "\\b \\b ");
}

TEST(HtmlToRtf, CssValues) {
  EXPECT_EQ(KXRICHTEXTCSSVALUES("background-color:#fff;color: red ;x-color:blue", "color"),
            std::vector<std::string>{"red"});
  EXPECT_EQ(KXRICHTEXTCSSVALUES(R"(<a style="COLOR:Blue"><b style='color:'>)", "color"),
            std::vector<std::string>{"Blue"});
  EXPECT_EQ(KXRICHTEXTCSSVALUES(R"(font-family: "Times New Roman", serif)", "font-family"),
            std::vector<std::string>{});
  EXPECT_EQ(KXRICHTEXTCSSVALUE("a:1;A: 2 ", "a"), "1");
  EXPECT_EQ(KXRICHTEXTCSSVALUE("b:1", "a"), "");
  EXPECT_EQ(KXRICHTEXTCLEANCSSVALUE(R"( "Times New Roman" , serif)"), "Times New Roman");
  EXPECT_EQ(KXRICHTEXTCLEANCSSVALUE("'Arial'"), "Arial");
}

TEST(HtmlToRtf, NormalizeColor) {
  const std::pair<Value, std::string> cases[] = {
      {Value(" RGB(255, 128, 0) "), "#ff8000"},
      {Value("rgba(0,0,0,0)"), "#000000"},
      {Value("rgb(50%,300,-4)"), "#32ff00"},
      {Value("rgb(1,2)"), ""},
      {Value("#ABC"), "#aabbcc"},
      {Value("#AbCdEf"), "#abcdef"},
      {Value("Navy"), "#000080"},
      {Value("Grey"), ""},
      {Value("transparent"), ""},
      {Value("#abcd"), ""},
      {Value(5), ""},
  };
  for (const auto& [value, color] : cases)
    EXPECT_EQ(KXRICHTEXTNORMALIZECOLOR(value), color) << ValueString(value);
  EXPECT_TRUE(KXRICHTEXTISHEXCOLOR("#A0b9fF"));
  for (const char* no : {"#A0b9f", "A0b9fF0", "#A0b9fG", "#A0b9fF0"})
    EXPECT_FALSE(KXRICHTEXTISHEXCOLOR(no)) << no;
}

TEST(HtmlToRtf, TagNameAndStyle) {
  EXPECT_EQ(KXRICHTEXTTAGNAME("br/"), "br");
  EXPECT_EQ(KXRICHTEXTTAGNAME("p style=\"x\""), "p");
  EXPECT_EQ(KXRICHTEXTTAGNAME("li\r\nclass=a"), "li");
  const std::pair<std::string, std::string> styles[] = {
      {R"(span style="color:red" id=x)", "color:red"},
      {"span STYLE=  'a b'", "a b"},
      {"span style=color:red id=x", "color:red"},
      {"span data-style=\"q\"", "q"},
      {"span style=\"open", "open"},
      {"span", ""},
  };
  for (const auto& [tag, style] : styles) EXPECT_EQ(KXRICHTEXTTAGSTYLE(tag), style) << tag;
}

TEST(HtmlToRtf, Entities) {
  EXPECT_EQ(KXRICHTEXTDECODEENTITIES("&nbsp;&amp;&lt;&gt;&quot;&apos;&#039;&euro;&copy;&amp;lt;&"),
            " &<>\"''\xE2\x82\xAC&copy;&lt;&");
  EXPECT_EQ(KXRICHTEXTDECODEENTITIES("&emsp;&#8226;"), "&emsp;&#8226;");
  EXPECT_EQ(DecodeEntitiesOfRtfHtml("&emsp;&#8226; &amp;emsp;"), "\t\xE2\x80\xA2 &emsp;");
}

// Mend: the text's numeric character references and the entities the RTF to HTML
// conversion writes become RTF characters; a malformed reference stays as text.
TEST(HtmlToRtf, CharacterReferencesBecomeCharacters) {
  const std::pair<std::string, std::string> bodies[] = {
      {"&#8226;&emsp;item", R"(\u8226?\tab item)"},
      {"&#65;&#x42;&#X43;&#x00044;&#233;&#xe9;", R"(ABCD\u233?\u233?)"},
      {"&#128512;&#8195;", R"(\u-10179?\u-8704?\u8195?)"},
      {"&#123;&#92;&#10;", R"(\{\\\line )"},
      {"&amp;#233; &#x26;amp;", "&#233; &amp;"},
      {"&#;&#x;&#65&#xG;&#0;&#55296;&#1114112;&#99999999999999999999;&#-1;&emsp",
       "&#;&#x;&#65&#xG;&#0;&#55296;&#1114112;&#99999999999999999999;&#-1;&emsp"},
  };
  // Digits after "#" may also read as a colour: only the text after the header counts here.
  const std::string start = R"(\viewkind4\uc1\pard\f0\fs24 )";
  for (const auto& [html, body] : bodies) {
    const std::string rtf = KXRICHTEXTHTMLTORTF(html);
    EXPECT_EQ(rtf.substr(rtf.find(start) + start.size()), body + "}") << html;
  }
}

// RTF sent to HTML and back keeps its tabs and bullets as characters, not entity texts.
TEST(HtmlToRtf, RoundTripKeepsTabsAndBullets) {
  const Value rtf(R"({\rtf1 \bullet\tab uno\par 1.\tab d\'f3s\par})");
  const std::string back = KXRICHTEXTHTMLTORTF(KXRICHTEXTRTFTOHTML(rtf));
  EXPECT_EQ(back.find('&'), std::string::npos) << back;
  EXPECT_EQ(KXRICHTEXTPLAINTEXT(Value(back)), KXRICHTEXTPLAINTEXT(rtf));
  EXPECT_EQ(KXRICHTEXTPLAINTEXT(rtf), "\xE2\x80\xA2 \tuno\r\n1.\td\xC3\xB3s\r\n");
}

}  // namespace
}  // namespace kx
