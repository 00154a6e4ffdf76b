#include "RichTextSanitizer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "HtmlToRtf.h"
#include "Platform.h"
#include "RtfToHtml.h"
#include "TRichText.h"

namespace kx {
namespace {

struct Case {
  std::string input;
  std::string output;
};

// Every row sanitizes to its output, and the output is a fixed point: what the
// sanitizer writes it reads back the same way.
void ExpectHtml(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    const std::string once = KXRICHTEXTSANITIZEHTML(c.input);
    EXPECT_EQ(once, c.output) << c.input;
    EXPECT_EQ(KXRICHTEXTSANITIZEHTML(once), once) << c.input;
  }
}

void ExpectRtf(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    const std::string once = KXRICHTEXTSANITIZERTF(c.input);
    EXPECT_EQ(once, c.output) << c.input;
    EXPECT_EQ(KXRICHTEXTSANITIZERTF(once), once) << c.input;
  }
}

std::string Fixture(const std::string& name) {
  std::string text;
  EXPECT_TRUE(platform::ReadTextFile(std::string(KX_SOURCE_DIR) + "/tests/rtf/" + name, text))
      << name;
  return text;
}

TEST(RichTextSanitizer, CodeAndItsContentGo) {
  ExpectHtml({
      {"<p>a</p><script>alert(1)</script>b", "<p>a</p>b"},
      // A script's content is text up to its end tag, whatever it looks like.
      {"<SCRIPT type=x>if (a</b) {'</p>'}</script >b", "b"},
      {"<script>never closed <p>x</p>", ""},
      {"<style>p{background:url(x)}</style>b", "b"},
      {"<svg onload=alert(1)><circle/><script>x</script></svg>b", "b"},
      {"<svg><svg></svg>in</svg>b<svg/>c", "bc"},
      {"<math><mi xlink:href=javascript:x>m</mi></math>b", "b"},
      {"<iframe src=javascript:x>fallback</iframe>b", "b"},
      {"<object data=x.swf><param name=a value=b>fallback</object>b", "b"},
      {"<embed src=x.swf>b", "b"},
      {"<template><img src=x onerror=a></template>b", "b"},
      {"<noscript><p title=\"</noscript><img src=x onerror=a>\"></noscript>b", "\">b"},
      {"<textarea><img src=x onerror=a></textarea>b", "b"},
      {"<select><option>o</option></select>b", "b"},
      {"<head><title>t</title><base href=//x><link rel=stylesheet href=x></head>b", "b"},
      {"<plaintext><p>all of it", ""},
      // Names that only begin like one.
      {"<plaintexts>a</plaintexts><Scripts>b</Scripts><spans>c</spans>", "abc"},
      // Elements that carry nothing run leave their text.
      {"<img src=x onerror=alert(1)>a<form action=//x><input value=v><button "
       "formaction=//x>Enviar</button></form>",
       "aEnviar"},
      {"<meta http-equiv=refresh content=\"0;url=//x\">a<font color=red>b</font><table><tr><td>"
       "c</td></tr></table>",
       "abc"},
      {"a<!-- <script>x</script> -->b<!-->c<!--->d<!DOCTYPE html>e<?php x ?>f<![CDATA[g]]>h"
       "</ x>i</>j",
       "abcdefhij"},
      {"<!-- never closed <script>", ""},
  });
}

TEST(RichTextSanitizer, AttributesAndLinks) {
  ExpectHtml({
      {"<p onclick=\"a()\" ONMOUSEOVER=b class=c id=d title=e>x</p>", "<p>x</p>"},
      {"<a href=\"https://x.example/?a=1&amp;b=2\" target=_blank onfocus=a>x</a>",
       "<a href=\"https://x.example/?a=1&amp;b=2\">x</a>"},
      {"<a href=HTTP://x.example>x</a><a href='mailto:a@x.example'>m</a>",
       "<a href=\"HTTP://x.example\">x</a><a href=\"mailto:a@x.example\">m</a>"},
      // Other schemes, however they are written, and links with no scheme go.
      {"<a href=\"javascript:alert(1)\">x</a>", "<a>x</a>"},
      {"<a href=\"JaVaScRiPt:alert(1)\">x</a>", "<a>x</a>"},
      {"<a href=\"java&#x09;script:alert(1)\">x</a>", "<a>x</a>"},
      {"<a href=\"&#106;avascript:alert(1)\">x</a>", "<a>x</a>"},
      {"<a href=\"&#x20;&#x01;javascript:alert(1)\">x</a>", "<a>x</a>"},
      {"<a href=\"java\nscript:alert(1)\">x</a>", "<a>x</a>"},
      {"<a href=\"javascript&colon;alert(1)\">x</a>", "<a>x</a>"},
      {"<a href=\"data:text/html;base64,PHNjcmlwdD4=\">x</a><a href=vbscript:x>y</a>"
       "<a href=file:///etc/passwd>z</a>",
       "<a>x</a><a>y</a><a>z</a>"},
      {"<a href=\"//x.example/a\">x</a><a href=\"/a\">y</a><a href=\"#a\">z</a><a "
       "href=a.html>w</a>",
       "<a>x</a><a>y</a><a>z</a><a>w</a>"},
      // A link read as a browser reads it is written as read, escaped.
      {"<a href=\" &#x68;ttps://x.example/\t?q=&quot;'&lt;\n\">x</a>",
       "<a href=\"https://x.example/?q=&quot;&#039;&lt;\">x</a>"},
      // Only the first of two attributes counts, as in a browser.
      {"<a href=\"javascript:a\" href=\"https://x.example\">x</a>", "<a>x</a>"},
      {"<span style=color:red style=\"background:url(x)\">x</span>",
       "<span style=\"color:red;\">x</span>"},
      // href belongs to links alone.
      {"<span href=\"https://x.example\">x</span>", "<span>x</span>"},
  });
}

TEST(RichTextSanitizer, StylesKeepTheirDocumentedProperties) {
  ExpectHtml({
      {"<span style=\"background:url(javascript:x);color:#00f\">x</span>",
       "<span style=\"color:#00f;\">x</span>"},
      {"<span style=\"background-image:url(x);behavior:url(x.htc);-moz-binding:url(x);"
       "position:fixed;top:0;width:100%;display:none;content:'x'\">x</span>",
       "<span>x</span>"},
      {"<span style=\"color:expression(alert(1));font-family:x(y);font-size:calc(1px)\">x</span>",
       "<span>x</span>"},
      // Escapes and comments that a browser reads into a property name or a value.
      {"<span style=\"col\\6fr:red;color:re\\64;color:/**/red;font-family:a\\,b\">x</span>",
       "<span>x</span>"},
      {"<span style=\"color&#58;red;font-weight&colon;bold\">x</span>",
       "<span style=\"color:red;\">x</span>"},
      {"<span style=\"color:rgb(1,2,3) url(x);background-color:rgb(1,2,3)\">x</span>",
       "<span style=\"background-color:rgb(1,2,3);\">x</span>"},
      {"<span style='font-family:\"a;b\", serif;color:red'>x</span>",
       "<span style=\"color:red;\">x</span>"},
      // The last valid declaration of a property wins, as in a browser.
      {"<span style=\"color:red;color:blue;color:url(x)\">x</span>",
       "<span style=\"color:blue;\">x</span>"},
      {"<span style=\"COLOR : Red !important ;\">x</span>", "<span style=\"color:Red;\">x</span>"},
      {"<span style=\"text-decoration:underline wavy red\">x</span>", "<span>x</span>"},
  });
}

// What the engine's converters write and read comes through unchanged, or written
// the way the sanitizer writes styles.
TEST(RichTextSanitizer, DocumentedFormattingSurvives) {
  const std::vector<Case> cases = {
      {"<p>Hola <strong>mundo</strong></p>", "<p>Hola <strong>mundo</strong></p>"},
      {"<div>a<br>b<br/>c<br />d</div>", "<div>a<br>b<br>c<br>d</div>"},
      {"<b>b</b><i>i</i><u>u</u><s>s</s><strike>k</strike><em>e</em><sup>1</sup><sub>2</sub>",
       "<b>b</b><i>i</i><u>u</u><s>s</s><strike>k</strike><em>e</em><sup>1</sup><sub>2</sub>"},
      {"<ul><li>a</li><li>b</li></ul><ol><li>1</li><li><ul><li>1.1</li></ul></li></ol>",
       "<ul><li>a</li><li>b</li></ul><ol><li>1</li><li><ul><li>1.1</li></ul></li></ol>"},
      {"<p style=\"text-align:center\">c</p><p style=\"text-align: justify;\">j</p>",
       "<p style=\"text-align:center;\">c</p><p style=\"text-align:justify;\">j</p>"},
      {"<span style=\"color:#FF0000;font-size:12px\">r</span>",
       "<span style=\"color:#FF0000;font-size:12px;\">r</span>"},
      {"<span style=\"background-color:rgb(255, 128, 0);color:red\">h</span>",
       "<span style=\"background-color:rgb(255, 128, 0);color:red;\">h</span>"},
      {"<span style=\"font-family: Georgia, serif; font-size: 1.5em\">g</span>",
       "<span style=\"font-family:Georgia, serif;font-size:1.5em;\">g</span>"},
      {"<span style=\"font-family:'Times New Roman';font-size:150%\">t</span>",
       "<span style=\"font-family:'Times New Roman';font-size:150%;\">t</span>"},
      {"<span style=\"font-weight:600;font-style:italic;text-decoration:underline "
       "line-through\">w</span>",
       "<span style=\"font-weight:600;font-style:italic;text-decoration:underline "
       "line-through;\">w</span>"},
      {"<span style=\"font-weight:bold;font-size:11pt;color:#abc\">x</span>",
       "<span style=\"font-weight:bold;font-size:11pt;color:#abc;\">x</span>"},
      {"<a href=\"https://example.com/a?b=1&amp;c=2\">enlace</a>",
       "<a href=\"https://example.com/a?b=1&amp;c=2\">enlace</a>"},
      {"&lt;b&gt; &amp; &nbsp;&euro;&#233;&#xE9;&emsp;&#8226; \xC3\xA9 \"q\" 'a' > x",
       "&lt;b&gt; &amp; &nbsp;&euro;&#233;&#xE9;&emsp;&#8226; \xC3\xA9 \"q\" 'a' > x"},
      {"<P><SPAN>x</SPAN></P>", "<p><span>x</span></p>"},
  };
  ExpectHtml(cases);
  // The RTF and the plain text the engine makes of them do not change either.
  for (const Case& c : cases) {
    EXPECT_EQ(KXRICHTEXTHTMLTORTF(c.output), KXRICHTEXTHTMLTORTF(c.input)) << c.input;
    EXPECT_EQ(KXRICHTEXTPLAINTEXT(Value(c.output), Value("html")),
              KXRICHTEXTPLAINTEXT(Value(c.input), Value("html")))
        << c.input;
  }
}

// Tags balance and nest, and those a browser would close by itself are closed
// in the text, so a browser builds the tree the sanitizer kept.
TEST(RichTextSanitizer, OutputIsWellFormed) {
  ExpectHtml({
      {"<p>a<div>b</div>c</p>", "<p>a</p><div>b</div>c"},
      {"<p>a<ul><li>b<li>c</ul>", "<p>a</p><ul><li>b</li><li>c</li></ul>"},
      {"<li>a<ul><li>b</ul>c<li>d", "<li>a<ul><li>b</li></ul>c</li><li>d</li>"},
      {"<p>a<p>b", "<p>a</p><p>b</p>"},
      {"<a href=https://a.example>a<a href=https://b.example>b</a>",
       "<a href=\"https://a.example\">a</a><a href=\"https://b.example\">b</a>"},
      {"<b><i>x</b>y</i>", "<b><i>x</i></b>y"},
      {"<span><strong>x", "<span><strong>x</strong></span>"},
      {"a</p></span></li>b</br>c", "ab<br>c"},
      {"<span/>x<br/><p/>y", "<span>x<br><p>y</p></span>"},
      // A ">" inside a quoted value belongs to the value.
      {"<span title=\"a>b\" style='color:red'>x</span>", "<span style=\"color:red;\">x</span>"},
      // "<" that starts no tag, and a tag the text ends in.
      {"a < b <3 <= c", "a &lt; b &lt;3 &lt;= c"},
      {"a <span style=\"color:red", "a "},
      {"a</", "a&lt;/"},
      {std::string("a\0b&c", 5), "ab&amp;c"},
      {"&amp &copy; &#; &#x; &#12", "&amp;amp &copy; &amp;#; &amp;#x; &amp;#12"},
  });
}

// HTML that writers and the engine make passes unchanged, or keeps its words.
TEST(RichTextSanitizer, ConverterAndWriterHtml) {
  for (const char* name :
       {"libreoffice-acta.rtf", "libreoffice-pedido.rtf", "pandoc-informe.rtf"}) {
    const std::string html = KXRICHTEXTRTFTOHTML(Value(Fixture(name)));
    EXPECT_EQ(KXRICHTEXTSANITIZEHTML(html), html) << name;
  }
  const std::string page = Fixture("libreoffice-pedido.html");
  const std::string kept = KXRICHTEXTSANITIZEHTML(page);
  EXPECT_EQ(KXRICHTEXTPLAINTEXT(Value(kept), Value("html")),
            "\n\nResumen del pedido\nEl cliente Ana P\xC3\xA9rez pidi\xC3\xB3 tres art\xC3\xAD"
            "culos el lunes.\nConsulte el detalle antes del viernes.\nMesa de robleDos sillas\n"
            "Total: 120 \xE2\x82\xAC con IVA.\n\n");
  EXPECT_NE(kept.find("<a href=\"https://example.com/pedido\">el detalle</a>"), std::string::npos);
}

TEST(RichTextSanitizer, RtfFieldsPicturesAndObjectsGo) {
  ExpectRtf({
      // A field keeps its result, out of the field.
      {R"({\rtf1 a {\field{\*\fldinst INCLUDEPICTURE "http://x/p.png" \\d}{\fldrslt OK}} b})",
       R"({\rtf1 a {{OK}} b})"},
      {R"({\rtf1 {\field\fldlock{\fldinst HYPERLINK "http://x"}{\fldrslt {\ul enlace}}}})",
       R"({\rtf1 {\fldlock{{\ul enlace}}}})"},
      {R"({\rtf1 {\field{\*\fldinst INCLUDETEXT "C:\\\\x.txt"}{\fldrslt }}.})", R"({\rtf1 {{}}.})"},
      {R"({\rtf1 a{\pict\pngblip 89504e47}{\*\shppict{\pict\wmetafile8 0100}}{\nonshppict{\pict)"
       R"( 01}}b})",
       R"({\rtf1 ab})"},
      {R"({\rtf1 {\shp{\*\shpinst{\sp{\sn pib}{\sv {\pict 01}}}}}a})", R"({\rtf1 a})"},
      {R"({\rtf1 {\object\objemb{\*\objclass Package}{\*\objdata 0105000002}{\result r}}a})",
       R"({\rtf1 a})"},
      {R"({\rtf1\fromhtml1 {\*\htmltag64 <script>x</script>}a{\*\template http://x/t.dotm})"
       R"({\*\datastore 0105}})",
       R"({\rtf1a})"},
      // The word further in a group: from it to the group's end, as the reader skips.
      {R"({\rtf1 {\b a\pict 0102 b} c})", R"({\rtf1 {\b a} c})"},
      {R"({\rtf1 a\object x})", R"({\rtf1 a})"},
      {R"(a\pict {b}c)", "a"},
      // Binary data goes with its bytes, braces and backslashes among them.
      {"{\\rtf1 {\\pict\\bin4 }}{\\}a}", "{\\rtf1 a}"},
      {"{\\rtf1 a\\bin3 \\}\\bc}", "{\\rtf1 abc}"},
      {"{\\rtf1 a\\bin99}", "{\\rtf1 a}"},
      // What is left around a dropped part reads as it did: a control word keeps its end.
      {R"({\rtf1 \b{\pict x}0 c\b\field d\fs20{\pict}4})", R"({\rtf1 \b 0 c\b d\fs20 4})"},
      {R"({\rtf1 \'e{\pict}9})", R"({\rtf1 9})"},
      // Groups balance: a surplus "}" goes, open groups are closed.
      {R"({\rtf1 a}}{\object x})", R"({\rtf1 a})"},
      {R"({\rtf1 {\b a)", R"({\rtf1 {\b a}})"},
      {R"({\rtf1 {\*\fldinst x)", R"({\rtf1 })"},
      {R"({\rtf1 {\pict\bin99)", R"({\rtf1 })"},
      {"{\\rtf1 a\\", "{\\rtf1 a}"},
      // The case a reader may ignore counts too.
      {R"({\rtf1 {\PICT 01}{\*\FldInst x}a})", R"({\rtf1 a})"},
  });
}

// RTF from writers keeps its text and format: the HTML the engine reads from it
// is the same before and after.
TEST(RichTextSanitizer, RtfFromWritersReadsTheSame) {
  for (const char* name :
       {"libreoffice-acta.rtf", "libreoffice-pedido.rtf", "pandoc-informe.rtf"}) {
    const std::string rtf = Fixture(name);
    const std::string kept = KXRICHTEXTSANITIZERTF(rtf);
    EXPECT_EQ(KXRICHTEXTRTFTOHTML(Value(kept)), KXRICHTEXTRTFTOHTML(Value(rtf))) << name;
    EXPECT_EQ(kept.find("fldinst"), std::string::npos) << name;
  }
}

TEST(RichTextSanitizer, PlainTextIsText) {
  const std::string text = "<img src=x onerror=alert(1)> a < b {\\pict}";
  EXPECT_EQ(KXRICHTEXTSANITIZE(text, "text"), text);
  EXPECT_EQ(KXRICHTEXTSANITIZE("<p onclick=x>a</p>", "html"), "<p>a</p>");
  EXPECT_EQ(KXRICHTEXTSANITIZE("{\\rtf1 {\\pict 0}a}", "rtf"), "{\\rtf1 a}");
}

}  // namespace
}  // namespace kx
