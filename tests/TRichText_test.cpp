#include "TRichText.h"

#include <gtest/gtest.h>

#include "Json.h"
#include "ObjectTestContext.h"
#include "RtfToHtml.h"
#include "TKXEngine.h"
#include "TTable.h"
#include "TestFolder.h"

namespace kx {
namespace {

using Rendered = RenderedObject<TRichText>;

// A template whose content formula is the given text as a literal.
std::string Contenido(std::string_view markup) {
  return R"({"cId":"r","cContent":)" + JsonEncode(Value(KXRICHTEXTENCODELITERAL(markup))) + "}";
}

// Runs a template over job data that sends `notes` as the header group CLI, `changes`
// as the group CAM changed at the first record, and `notes` again as two detail
// records DET.
Ref<TDocumentoRenderizable> RunWithNotes(TKXEngine& engine, const std::string& templateText,
                                         const Value& notes, const Value& changes) {
  engine.SetPlantillaContent(Value(templateText));
  engine.SetInputEncoding(Value("UTF-8"));
  engine.OpenJob();
  engine.SendDataVar(Value("CLI"), notes);
  Value before = Value::NewMap();
  for (const auto& [key, value] : changes.AsMap()) before.AsMap().SetKey(key, Value("x"));
  engine.SendDataVar(Value("CAM"), before);
  engine.SendDataVarAt(Value(0), Value("CAM"), changes);
  engine.SendDetalle(Value("DET"), notes);
  engine.SendDetalle(Value("DET"), notes);
  engine.CloseJob();
  return engine.RunEngine();
}

// The rich texts of every page, each with its page's number and JSON.
struct PlacedRichText {
  int64_t nPage;
  std::string cPageJson;
  Value hMap;
};
std::vector<PlacedRichText> RichTexts(TDocumentoRenderizable& doc) {
  std::vector<PlacedRichText> out;
  for (int64_t p = 1; p <= doc.TotalPaginas(); ++p) {
    const Value page = doc.GetPagina(p);
    const std::string json = JsonEncode(page);
    for (const Value& o : page.Get("objetos").AsList())
      if (o.Get("tipo").Str() == "texto_enriquecido") out.push_back({p, json, o});
  }
  return out;
}

const char* kRtfDocument = R"({\rtf1\ansi{\fonttbl{\f0 Arial;}}\f0 {\b Hola}\par})";

TEST(TRichText, RendersTheThirtyFourKeysInOrder) {
  Rendered r(R"({"cId":"r","nLeft":1,"nTop":2,"nWidth":30,"nHeight":10,"nPaddingLeft":1.5,
               "cContent":"\"<p>Hola {{nombre}}</p>\"","cVerticalAlign":"Bottom",
               "cOverflow":"VISIBLE","cBackgroundColor":"#EEEEEE","nZIndex":7})",
             R"({"nombre":"A & B"})");
  const Value map = r.Render();
  const char* keys[] = {"id",
                        "tipo",
                        "x",
                        "y",
                        "ancho",
                        "alto",
                        "contentFormat",
                        "content",
                        "plainContent",
                        "hasVisibleContent",
                        "rtfContent",
                        "alineacionVertical",
                        "overflow",
                        "colorFondo",
                        "colorBorde",
                        "grosorBorde",
                        "bordeSuperior",
                        "bordeDerecho",
                        "bordeInferior",
                        "bordeIzquierdo",
                        "redondeo",
                        "rotacionOriginal",
                        "rotacion",
                        "opacidad",
                        "sombraTamano",
                        "sombraTransparencia",
                        "sombraColor",
                        "paddingSuperior",
                        "paddingDerecho",
                        "paddingInferior",
                        "paddingIzquierdo",
                        "ordenOriginal",
                        "capa",
                        "zIndex"};
  ASSERT_EQ(map.Len(), std::size(keys));
  for (size_t i = 0; i < std::size(keys); ++i) EXPECT_EQ(map.AsMap().KeyAt(i), keys[i]) << i;
  EXPECT_EQ(map.Get("tipo").Str(), "texto_enriquecido");
  EXPECT_EQ(map.Get("content").Str(), "<p>Hola A &amp; B</p>");
  EXPECT_EQ(map.Get("contentFormat").Str(), "html");
  EXPECT_EQ(map.Get("plainContent").Str(), "Hola A & B");
  EXPECT_TRUE(map.Get("hasVisibleContent").Bool());
  EXPECT_EQ(map.Get("rtfContent").Str(),
            R"({\rtf1\ansi\ansicpg1252\deff0{\fonttbl{\f0 Arial;}}{\colortbl;})"
            R"(\viewkind4\uc1\pard\f0\fs24 {Hola A & B}\par })");
  EXPECT_EQ(map.Get("alineacionVertical").Str(), "bottom");
  EXPECT_EQ(map.Get("overflow").Str(), "visible");
  EXPECT_EQ(map.Get("colorFondo").Str(), "#EEEEEE");
  EXPECT_TRUE(map.Get("bordeSuperior").Bool());
  EXPECT_EQ(ValueDouble(map.Get("paddingIzquierdo")), 1.5);
  EXPECT_EQ(map.Get("zIndex").Int(), 7);
}

TEST(TRichText, PlaceholdersByFormat) {
  struct Case {
    std::string markup;
    std::string value;
    std::string content;
    std::string format;
    std::string plain;
  };
  const Case cases[] = {
      {"Hola {{v}}", "A & B", "Hola A & B", "text", "Hola A & B"},
      // Plain content that receives HTML becomes HTML.
      {"Hola {{v}}", "<strong>x</strong>", "Hola <strong>x</strong>", "html", "Hola x"},
      // An RTF value in HTML content is converted.
      {"<p>{{v}}</p>", kRtfDocument,
       R"(<p><span><span style="font-family:Arial;"><strong>Hola</strong></span><br></span></p>)",
       "html", "Hola\r\n"},
      // Mend: values in RTF content are RTF text, so they cannot change its structure.
      {R"({\rtf1 {{v}}})", "C:\\new} \xC3\xA9", R"({\rtf1 C:\\new\} \u233?})", "rtf",
       "C:\\new} \xC3\xA9"},
      {"a {{b", "x", "a {{b", "text", "a {{b"},
      {"a }} {{ v }}{{v}}", "1", "a }} 11", "text", "a }} 11"},
  };
  for (const Case& c : cases) {
    Rendered r(Contenido(c.markup), JsonEncode(Value::NewMap({{"v", Value(c.value)}})));
    const Value map = r.Render();
    EXPECT_EQ(map.Get("content").Str(), c.content) << c.markup;
    EXPECT_EQ(map.Get("contentFormat").Str(), c.format) << c.markup;
    EXPECT_EQ(map.Get("plainContent").Str(), c.plain) << c.markup;
  }
}

TEST(TRichText, InterpolateHandsOverTheTrimmedExpression) {
  std::vector<std::string> asked;
  const RichTextEvaluator evaluate = [&asked](std::string_view expression) {
    asked.emplace_back(expression);
    return Value(std::string("\xEF\xBB\xBF"
                             "v") +
                 std::string(2, '\0'));
  };
  EXPECT_EQ(KXRICHTEXTINTERPOLATE(Value("{{a{{b}}|{{ c }}"), "text", evaluate), "v|v");
  EXPECT_EQ(asked, (std::vector<std::string>{"a{{b", "c"}));
  EXPECT_EQ(KXRICHTEXTINTERPOLATE(Value("{{a}}"), "text", nullptr), "{{a}}");
  EXPECT_EQ(KXRICHTEXTINTERPOLATE(Value(5), "text", evaluate), "");
}

TEST(TRichText, EmptyAndBlankContents) {
  Rendered empty(R"({"cContent":"\"\""})");
  Value map = empty.Render();
  EXPECT_EQ(map.Get("contentFormat").Str(), "text");
  EXPECT_EQ(map.Get("plainContent").Str(), "");
  EXPECT_FALSE(map.Get("hasVisibleContent").Bool());
  EXPECT_EQ(
      map.Get("rtfContent").Str(),
      R"({\rtf1\ansi\ansicpg1252\deff0{\fonttbl{\f0 Arial;}}\viewkind4\uc1\pard\f0\fs24 \par})");

  Rendered nbsp(Contenido("<p>&nbsp;</p>"));
  map = nbsp.Render();
  EXPECT_EQ(map.Get("plainContent").Str(), " ");
  EXPECT_FALSE(map.Get("hasVisibleContent").Bool());
}

TEST(TRichText, InvisibleRendersNothing) {
  Rendered r(R"({"cCondition":"1 == 2","cContent":"\"x\""})");
  EXPECT_TRUE(r.Render().IsNil());
  EXPECT_EQ(r.ctx.Motivos(), std::vector<std::string>{"condicion falsa"});
}

TEST(TRichText, DetectFormat) {
  const std::pair<std::string, std::string> cases[] = {
      {"\xEF\xBB\xBF \t\r\n{\\rtf1 x}", "rtf"},
      {std::string("\0\0 {\\RTF1", 9), "rtf"},
      {"x {\\rtf1", "text"},
      {"<b>x</b><i>y</i>", "text"},
      {"a<P>b", "html"},
      {"<Sub>", "html"},
      {"a<script>", "html"},
      {"", "text"},
  };
  for (const auto& [content, format] : cases)
    EXPECT_EQ(KXRICHTEXTDETECTFORMAT(Value(content)), format) << content;
}

TEST(TRichText, TrimStart) {
  EXPECT_EQ(KXRICHTEXTTRIMSTART(Value(std::string("\0\t x", 4))), "x");
  EXPECT_EQ(KXRICHTEXTTRIMSTART(Value(" \t ")), " \t ");
  EXPECT_EQ(KXRICHTEXTTRIMSTART(Value(std::string(" \0 \0  ", 6))), "  ");
  EXPECT_EQ(KXRICHTEXTTRIMSTART(Value(5)), "");
}

TEST(TRichText, PlainText) {
  struct Case {
    std::string content;
    Value format;
    std::string plain;
  };
  const Case cases[] = {
      {"<p>a<br>b<br/>c<br />d<BR>e</p>", Value(), "a\r\nb\r\nc\r\nde"},
      {"a<b<c>d>&lt;x&gt;", Value("HTML"), "ad><x>"},
      {"a<br>b<c", Value(), "a\r\nb"},
      {"<p>x</p>", Value("TEXT"), "<p>x</p>"},
      // RTF goes through its HTML; tabs and bullets come back as themselves.
      {R"({\rtf1 a\tab b\par\bullet c &amp;emsp;})", Value(), "a\tb\r\n\xE2\x80\xA2 c &amp;emsp;"},
      {R"({\rtf1 don\rquote t\~\emdash})", Value(), "don\xE2\x80\x99t\xC2\xA0\xE2\x80\x94"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(KXRICHTEXTPLAINTEXT(Value(c.content), c.format), c.plain) << c.content;
}

TEST(TRichText, LoadSaveAndEnd) {
  TRichText text;
  EXPECT_EQ(text.cName.Str(), "Texto enriquecido");
  EXPECT_EQ(text.cType.Str(), "richText");
  EXPECT_EQ(text.cContent.Str(), "\"<p>Texto enriquecido</p>\"");
  EXPECT_TRUE(text.lBorderTop.Bool());

  const std::pair<std::string, std::pair<std::string, std::string>> loads[] = {
      {R"({"cOverflow":"VISIBLE","cVerticalAlign":"Bottom"})", {"visible", "bottom"}},
      {R"({"cOverflow":" visible","cVerticalAlign":"ter"})", {"hidden", "top"}},
      {R"({"cVerticalAlign":" center "})", {"hidden", "center"}},
      {R"({"cOverflow":true,"cVerticalAlign":5})", {"hidden", "top"}},
  };
  for (const auto& [json, expected] : loads) {
    text.Load(JsonDecode(json));
    EXPECT_EQ(text.cOverflow, expected.first) << json;
    EXPECT_EQ(text.cVerticalAlign, expected.second) << json;
  }

  text.Load(JsonDecode(R"({"cType":"TText","cId":"z","cContent":5,"cOverflow":"visible"})"));
  EXPECT_EQ(text.cType.Str(), "richText");
  const Value saved = text.Save();
  const size_t n = saved.Len();
  ASSERT_GT(n, 3u);
  EXPECT_EQ(saved.AsMap().KeyAt(2), "cType");
  EXPECT_EQ(saved.Get("cType").Str(), "richText");
  EXPECT_EQ(saved.Get("cId").Str(), "z");
  EXPECT_EQ(saved.AsMap().KeyAt(n - 3), "cContent");
  EXPECT_EQ(saved.AsMap().KeyAt(n - 2), "cVerticalAlign");
  EXPECT_EQ(saved.AsMap().KeyAt(n - 1), "cOverflow");
  EXPECT_EQ(saved.Get("cContent").Int(), 5);
  EXPECT_EQ(saved.Get("cOverflow").Str(), "visible");

  text.End();
  EXPECT_EQ(text.cContent.Str(), "");
  EXPECT_EQ(text.oParent, nullptr);
}

TEST(TRichText, ContentMigration) {
  const std::pair<std::string, std::string> cases[] = {
      {R"({"cContent":"A","content":"B"})", R"("A")"},
      {R"({"content":5})", "5"},
      {R"({"cContentMode":"Formula","cContentFormula":"VAR.x"})", R"("VAR.x")"},
      {R"({"cContentMode":"fixed","cContentFormula":"VAR.x","cHtml":"<p>a\"b</p>"})",
       R"("\"<p>a\"\"b</p>\"")"},
      {R"({"origin":"formula","contentFormula":" ","htmlContent":"x\\y\r\n"})",
       R"("\"x\\\\y\\r\\n\"")"},
      {R"({"contentSource":"Formula","cContentFormula":"F","cHtml":"H"})", R"("F")"},
      {R"({"cContentMode":"fixed","cContentFormula":"F"})", R"("F")"},
      {R"({"contentSource":"VAR.y"})", R"("VAR.y")"},
      {R"({"contentSource":"fixed"})", R"("\"\"")"},
      {R"({})", R"("\"\"")"},
  };
  for (const auto& [json, formula] : cases)
    EXPECT_EQ(JsonEncode(KXRICHTEXTMIGRATECONTENT(JsonDecode(json))), formula) << json;
}

// The literal reads back as the text it was made from.
TEST(TRichText, EncodedLiteralsEvaluateToTheirText) {
  ObjectTestContext ctx;
  for (const char* text : {"<p>a\"b</p>", "C:\\new\\", "x\r\ny\"\"", "'q' + \"r\"", ""}) {
    EXPECT_EQ(ValueString(ctx.contexto->EvaluarFormula(Value(KXRICHTEXTENCODELITERAL(text)))), text)
        << KXRICHTEXTENCODELITERAL(text);
  }
}

// Every record renders the cell again, from the same object.
TEST(TRichText, ATableCellRendersForEveryRecord) {
  auto table = MakeRef<TTable>();
  table->Load(JsonDecode(R"({"cId":"T","nWidth":100,"nHeight":500,"hSections":{"detail":{
      "aLines":[{"aCells":[{"nWidth":100,"hContent":{"cType":"richText",
      "hObject":{"cContent":"\"<p>{{L.id}}</p>\""}}}]}]}}})"));
  table->Create();
  Value records = Value::NewList({Value::NewMap({{"L.id", 0}}), Value::NewMap({{"L.id", 1}})});
  ObjectTestContext ctx(Value::NewMap({{"aRegistrosDetalleRuntime", records},
                                       {"lRegistrosDetalleGlobalRuntime", true},
                                       {"nRegistroBase", 0},
                                       {"nTotalRegistrosRuntime", 2}}));
  std::vector<std::string> cells;
  const Value out = table->GenerarRenderizable(*ctx.contexto);
  for (const Value& o : out.AsList())
    if (o.Get("tipo").Str() == "texto_enriquecido")
      cells.push_back(ValueString(o.Get("id")) + " " + ValueString(o.Get("content")));
  EXPECT_EQ(cells, (std::vector<std::string>{"T_detail_r0_0_0_text <p>0</p>",
                                             "T_detail_r1_0_0_text <p>1</p>"}));
  EXPECT_EQ(table->hCellObjectCache.Len(), 1u);
}

// Which content formulas are the template's own text: only literals can hold no job data.
TEST(TRichText, ContentSource) {
  const std::pair<Value, RichTextSource> cases[] = {
      {Value(R"("<p>{{Page()}}</p>")"), RichTextSource::kTemplate},
      {Value(" ('<p>x</p>') "), RichTextSource::kTemplate},
      {Value(R"("<p>" + '{{a}}' + "</p>")"), RichTextSource::kTemplate},
      {Value(""), RichTextSource::kTemplate},
      {Value(5), RichTextSource::kTemplate},
      {Value("CLI.nota"), RichTextSource::kData},
      {Value(R"("<p>" + CLI.nota + "</p>")"), RichTextSource::kData},
      {Value(R"(IIf(.T., "a", "b"))"), RichTextSource::kData},
      {Value("VAR.carta"), RichTextSource::kData},
      {Value("LoadFile('carta.html')"), RichTextSource::kData},
      {Value(R"("a" + "b" == "ab")"), RichTextSource::kData},
  };
  for (const auto& [formula, source] : cases)
    EXPECT_EQ(KXRICHTEXTCONTENTSOURCE(formula), source) << ValueString(formula);
}

// In text from job data only a placeholder that names a variable is evaluated;
// every other one stays as it was written.
TEST(TRichText, DataTextFillsOnlyVariableNames) {
  std::vector<std::string> asked;
  const RichTextEvaluator evaluate = [&asked](std::string_view expression) {
    asked.emplace_back(expression);
    return Value("V");
  };
  const std::pair<std::string, std::string> cases[] = {
      {"{{CLI.nombre}}|{{ nombre }}|{{_a.b1.C_2}}", "V|V|V"},
      {"{{LoadFile('/etc/hostname')}}", "{{LoadFile('/etc/hostname')}}"},
      {"{{ hb_MemoRead(CLI.ruta) }}", "{{ hb_MemoRead(CLI.ruta) }}"},
      {"{{1+1}}{{a + b}}{{'x'}}{{}}{{ }}", "{{1+1}}{{a + b}}{{'x'}}{{}}{{ }}"},
      {"{{.a}}{{a.}}{{a..b}}{{1a}}{{a b}}{{@a}}{{a$}}",
       "{{.a}}{{a.}}{{a..b}}{{1a}}{{a b}}{{@a}}{{a$}}"},
      {"{{a{{b}}|{{c}}", "{{a{{b}}|V"},
      {"x {{a", "x {{a"},
  };
  for (const auto& [content, filled] : cases)
    EXPECT_EQ(KXRICHTEXTINTERPOLATE(Value(content), "text", evaluate, RichTextSource::kData),
              filled)
        << content;
  EXPECT_EQ(asked, (std::vector<std::string>{"CLI.nombre", "nombre", "_a.b1.C_2", "c"}));
}

// A rendered object whose content formula reads a field: the field's placeholders
// are data, while a template literal keeps its formulas.
TEST(TRichText, AFieldsPlaceholdersDoNotRun) {
  const std::string vars =
      R"({"CLI.nombre":"Ana","CLI.nota":"<p>{{CLI.nombre}} {{Upper(CLI.nombre)}}</p>"})";
  Rendered data(R"({"cContent":"CLI.nota"})", vars);
  EXPECT_EQ(data.Render().Get("content").Str(), "<p>Ana {{Upper(CLI.nombre)}}</p>");
  Rendered joined(R"({"cContent":"'<div>' + CLI.nota + '</div>'"})", vars);
  EXPECT_EQ(joined.Render().Get("content").Str(), "<div><p>Ana {{Upper(CLI.nombre)}}</p></div>");
  Rendered literal(Contenido("<p>{{Upper(CLI.nombre)}} {{CLI.nota}}</p>"), vars);
  // The field's text is a value here: it is escaped and never scanned for placeholders.
  EXPECT_EQ(literal.Render().Get("content").Str(),
            "<p>ANA &lt;p&gt;{{CLI.nombre}} {{Upper(CLI.nombre)}}&lt;/p&gt;</p>");
}

// "{{" in RTF is two groups opening (writers put every hyperlink so): it is a
// placeholder only when its text up to "}}" holds no backslash and no brace.
TEST(TRichText, RtfGroupsAreNotPlaceholders) {
  const std::string link =
      R"({\rtf1 see {{\field{\*\fldinst HYPERLINK "x" }{\fldrslt {link}}}} end})";
  Rendered r(Contenido(link));
  const Value map = r.Render();
  EXPECT_EQ(map.Get("content").Str(), link);
  EXPECT_EQ(map.Get("plainContent").Str(), "see link end");
  EXPECT_TRUE(r.ctx.Avisos().empty());

  std::vector<std::string> asked;
  const RichTextEvaluator evaluate = [&asked](std::string_view expression) {
    asked.emplace_back(expression);
    return Value("V");
  };
  const std::pair<std::string, std::string> cases[] = {
      {R"({\rtf1 {{{v}}}})", R"({\rtf1 {V}})"},
      {R"({\rtf1 {{a{{b}}})", R"({\rtf1 {{aV})"},
      {R"({\rtf1 {{\b x}} {{w}}})", R"({\rtf1 {{\b x}} V})"},
      {R"({\rtf1 {{x}y}}})", R"({\rtf1 {{x}y}}})"},
  };
  for (const auto& [content, filled] : cases)
    EXPECT_EQ(KXRICHTEXTINTERPOLATE(Value(content), "rtf", evaluate), filled) << content;
  EXPECT_EQ(asked, (std::vector<std::string>{"v", "b", "w"}));
  // HTML and plain text have no groups: there the expression is anything up to "}}".
  EXPECT_EQ(KXRICHTEXTINTERPOLATE(Value("{{\\x}}"), "text", evaluate), "V");
}

// Job data that names a file holding a marker: the marker reaches no page, from
// header data, variable changes, detail records or a table cell, in HTML and RTF.
TEST(TRichText, JobDataNeverReadsAFile) {
  TempDir folder;
  ASSERT_FALSE(folder.path().empty());
  const std::string marker = "MARCA-7f3a9c";
  const std::string secret = folder.Write("secreto.txt", marker);
  const std::string calls = "{{LoadFile('" + secret + "')}} {{ hb_MemoRead(\"" + secret + "\") }}";
  const std::string html = "<p>Hola {{CLI.nombre}} " + calls + "</p>";
  const std::string rtf = "{\\rtf1 Hola {{CLI.nombre}} " + calls + "}";

  const std::string richText = R"({"cType":"richText","nWidth":100,"nHeight":8,)";
  const std::string cell = R"({"nWidth":50,"hContent":{"cType":"richText","hObject":{"cContent":)";
  const std::string templateText = R"({"cFormatVersion":"1.0","nPaperWidth":210,"nPaperHeight":297,
    "aObjects":[)" + richText + R"("cId":"hh","cContent":"CLI.nota"},)" +
                                   richText + R"("cId":"hr","cContent":"CLI.notartf"},)" +
                                   richText +
                                   R"("cId":"ch","cContent":"'<div>' + CAM.nota + '</div>'"},)" +
                                   richText + R"("cId":"cr","cContent":"CAM.notartf"},)" +
                                   richText + R"("cId":"dh","cContent":"DET.nota"},)" + richText +
                                   R"("cId":"dr","cContent":"DET.notartf"},
      {"cType":"TTable","cId":"T","nTop":60,"nWidth":100,"nHeight":200,
       "hSections":{"detail":{"aLines":[{"nHeight":8,"aCells":[)" +
                                   cell + R"("DET.nota"}}},)" + cell +
                                   R"("DET.notartf"}}}]}]}}}]})";
  const Value notes = Value::NewMap({{"nombre", "Ana"}, {"nota", html}, {"notartf", rtf}});

  TKXEngine engine;
  Ref<TDocumentoRenderizable> doc =
      RunWithNotes(engine, templateText, notes, Value::NewMap({{"nota", html}, {"notartf", rtf}}));
  ASSERT_TRUE(doc) << engine.cLastError;

  std::vector<std::string> rich;
  for (const PlacedRichText& r : RichTexts(*doc)) {
    EXPECT_EQ(r.cPageJson.find(marker), std::string::npos) << "page " << r.nPage;
    rich.push_back(ValueString(r.hMap.Get("id")));
    // The plain variable name merges; the calls stay as they were written.
    const std::string content = ValueString(r.hMap.Get("content"));
    EXPECT_NE(content.find("Hola Ana {{LoadFile('" + secret + "')}} {{ hb_MemoRead("),
              std::string::npos)
        << content;
  }
  EXPECT_EQ(rich, (std::vector<std::string>{"hh", "hr", "ch", "cr", "dh", "dr",
                                            "T_detail_r0_0_0_text", "T_detail_r0_0_1_text",
                                            "T_detail_r1_0_0_text", "T_detail_r1_0_1_text"}));
  doc.reset();
  engine.End();

  // The same call written in the template does read the file: the probe can see a leak.
  Rendered own(Contenido("<p>" + calls + "</p>"));
  EXPECT_NE(own.Render().Get("content").Str().find(marker), std::string::npos);
}

// Hostile markup sent as job data: every piece that runs, fetches or embeds
// carries the marker, every piece of text to keep is an "OK" word. Through a
// real run (header data, a variable change, detail records in table cells,
// a placeholder that brings markup into plain text, RTF converted into a
// template's HTML) no page holds the marker, and every word is still there.
// The template's own HTML stays as written, and a clean letter from data
// comes through unchanged.
TEST(TRichText, HostileDataLeavesNoTraceOnAnyPage) {
  const std::string html =
      R"~(<p onclick="KXHOSTIL()">OK1 <script>KXHOSTIL()</script><img src=x onerror="KXHOSTIL()">)~"
      R"~(<a href="javascript:KXHOSTIL()">OK2</a> <a href="java&#x09;script:KXHOSTIL()">OK3</a> )~"
      R"~(<a href=" JaVaScRiPt:KXHOSTIL()" onmouseover="KXHOSTIL()">OK4</a> )~"
      R"~(<span style="background:url(javascript:KXHOSTIL);color:red">OK5</span>)~"
      R"~(<svg onload="KXHOSTIL()"><circle r="1"/></svg><iframe src="https://KXHOSTIL/"></iframe>)~"
      R"~(<object data="KXHOSTIL.swf">KXHOSTIL</object><embed src="KXHOSTIL.swf">)~"
      R"~(<form action="https://KXHOSTIL/"><input name="KXHOSTIL" value="KXHOSTIL">)~"
      R"~(<button formaction="https://KXHOSTIL/">OK6</button></form>)~"
      R"~(<meta http-equiv="refresh" content="0;url=https://KXHOSTIL/">)~"
      R"~(<style>p{background:url(https://KXHOSTIL/)}</style><!-- KXHOSTIL -->)~"
      R"~(<math><mi xlink:href="javascript:KXHOSTIL()">KXHOSTIL</mi></math></p>)~";
  const std::string rtf =
      R"~({\rtf1\ansi{\fonttbl{\f0 Arial;}{\f1 Evil url(http://KXFONT/f.png);}}\f0 OK7 )~"
      R"~({\field{\*\fldinst INCLUDEPICTURE "http://KXHOSTIL/p.png" \\d}{\fldrslt OK8}} )~"
      R"~({\field{\fldinst HYPERLINK "http://KXHOSTIL/"}{\fldrslt OK9}} )~"
      R"~({\field{\*\fldinst INCLUDETEXT "C:\\\\KXHOSTIL.txt"}{\fldrslt }})~"
      R"~({\pict\pngblip KXHOSTIL}{\*\shppict{\pict KXHOSTIL}}{\nonshppict{\pict KXHOSTIL}})~"
      R"~({\object\objemb{\*\objclass KXHOSTIL}{\*\objdata KXHOSTIL}}{\f1 OK10}})~";
  const std::string clean =
      R"~(<p style="text-align:center;"><strong>a</strong> <b>b</b> <em>c</em> <i>d</i> <u>e</u> )~"
      R"~(<s>f</s> <strike>g</strike> <sup>h</sup><sub>i</sub> <span style="color:#336699;)~"
      R"~(background-color:#ffff00;font-family:Georgia, serif;font-size:12pt;font-weight:bold;)~"
      R"~(font-style:italic;text-decoration:underline;">j</span></p><ul><li>k</li></ul><ol>)~"
      R"~(<li>l</li></ol><div>m<br>n &amp; &lt;o&gt; &#233;</div><p><a href="https://example.com/)~"
      R"~(?a=1&amp;b=2">p</a> <a href="mailto:q@example.com">q</a></p>)~";
  const std::string own =
      R"~(<p class="firma" onclick="f()"><img src="logo.png"> Atentamente</p>)~";

  const std::string richText = R"({"cType":"richText","nWidth":100,"nHeight":8,"cId":)";
  const std::string cell = R"({"nWidth":50,"hContent":{"cType":"richText","hObject":{"cContent":)";
  const auto object = [&](std::string_view id, std::string_view formula) {
    return richText + JsonEncode(Value(id)) + R"(,"cContent":)" + JsonEncode(Value(formula)) + "},";
  };
  const std::string templateText =
      R"({"cFormatVersion":"1.0","nPaperWidth":210,"nPaperHeight":297,"aObjects":[)" +
      object("hh", "CLI.nota") + object("hr", "CLI.notartf") + object("cam", "CAM.nota") +
      object("ph", "'Estimado: {{CLI.nota}}'") + object("rh", "'<div>{{CLI.notartf}}</div>'") +
      object("ok", "CLI.limpia") + object("own", KXRICHTEXTENCODELITERAL(own)) +
      R"({"cType":"TTable","cId":"T","nTop":60,"nWidth":100,"nHeight":200,
       "hSections":{"detail":{"aLines":[{"nHeight":8,"aCells":[)" +
      cell + R"("DET.nota"}}},)" + cell + R"("DET.notartf"}}}]}]}}}]})";
  const Value notes = Value::NewMap({{"nota", html}, {"notartf", rtf}, {"limpia", clean}});

  TKXEngine engine;
  Ref<TDocumentoRenderizable> doc =
      RunWithNotes(engine, templateText, notes, Value::NewMap({{"nota", html}}));
  ASSERT_TRUE(doc) << engine.cLastError;

  std::vector<std::string> rich;
  for (const PlacedRichText& r : RichTexts(*doc)) {
    for (const char* trace : {"KXHOSTIL", "javascript", "onerror", "<script", "<svg"})
      EXPECT_EQ(r.cPageJson.find(trace), std::string::npos) << trace << " on page " << r.nPage;
    const Value& o = r.hMap;
    const std::string id = ValueString(o.Get("id"));
    rich.push_back(id);
    const std::string content = ValueString(o.Get("content"));
    if (id == "ok") {
      EXPECT_EQ(content, clean);
      continue;
    }
    if (id == "own") {
      EXPECT_EQ(content, own);
      continue;
    }
    const bool fromRtf = id == "hr" || id == "rh" || id.ends_with("_1_text");
    std::vector<std::string> words = {"OK7", "OK8", "OK9", "OK10"};
    if (!fromRtf) words = {"OK1", "OK2", "OK3", "OK4", "OK5", "OK6"};
    for (const char* key : {"content", "plainContent", "rtfContent"})
      for (const std::string& word : words)
        EXPECT_NE(ValueString(o.Get(key)).find(word), std::string::npos)
            << id << " " << key << " " << word;
    // An RTF font whose name is CSS never reaches HTML.
    if (o.Get("contentFormat").Str() == "html") {
      EXPECT_EQ(content.find("KXFONT"), std::string::npos) << id;
    }
  }
  EXPECT_EQ(rich, (std::vector<std::string>{"hh", "hr", "cam", "ph", "rh", "ok", "own",
                                            "T_detail_r0_0_0_text", "T_detail_r0_0_1_text",
                                            "T_detail_r1_0_0_text", "T_detail_r1_0_1_text"}));
}

}  // namespace
}  // namespace kx
