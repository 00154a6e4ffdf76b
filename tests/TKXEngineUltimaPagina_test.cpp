// Page totals where the layout follows them: texts that break over pages and
// show the page count, with and without detail records.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "Json.h"
#include "TDocumentoRenderizable.h"
#include "TKXEngine.h"

namespace kx {
namespace {

// ---- Fixtures

std::string Number(double n) {
  return JsonEncode(Value(n));
}

// The prefix followed by the number.
std::string Numbered(std::string_view prefix, int64_t n) {
  return std::string(prefix).append(std::to_string(n));
}

// A text box at the right of the page; `breaks`: it may break over pages.
std::string TextBox(const std::string& id, double top, double width, double height,
                    const std::string& formula, bool breaks, const std::string& extra = "",
                    const std::string& type = "TText") {
  return R"J({"cType":")J" + type + R"J(","cId":")J" + id + R"J(","nLeft":120,"nTop":)J" +
         Number(top) + R"J(,"nWidth":)J" + Number(width) + R"J(,"nHeight":)J" + Number(height) +
         R"J(,"lAllowPageBreak":)J" + (breaks ? "true" : "false") + extra + R"J(,"cText":)J" +
         JsonEncode(Value(formula)) + "}";
}

// The page x of y text at the top of every page a step makes.
const std::string kHoja =
    R"J({"cType":"TText","cId":"hoja","nLeft":10,"nTop":5,"nWidth":80,"nHeight":5,"cText":"'P' + PAGE() + '/' + TOTALPAGES()"})J";

std::string Cell(const std::string& formula) {
  return R"J({"nWidth":100,"hContent":{"cType":"TText","hObject":{"cText":)J" +
         JsonEncode(Value(formula)) + "}}}";
}

// A table of LIN records, one line each, with a footer line and, when
// `lastPageLine` is above 0, a line of that height printed on the last page only.
std::string Table(double height, double detail, double lastPageLine) {
  std::string last;
  if (lastPageLine > 0) {
    last = R"J(,{"nHeight":)J" + Number(lastPageLine) +
           R"J(,"cConditionFormula":"LASTPAGE()","aCells":[)J" + Cell("'ULTIMA'") + "]}";
  }
  return R"J({"cType":"TTable","cId":"T","nLeft":10,"nTop":20,"nWidth":100,"nHeight":)J" +
         Number(height) + R"J(,"hSections":{"header":{"aLines":[{"nHeight":5,"aCells":[)J" +
         Cell("'Cab'") + R"J(]}]},"detail":{"aLines":[{"nHeight":)J" + Number(detail) +
         R"J(,"aCells":[)J" + Cell("LIN.id") +
         R"J(]}]},"footer":{"aLines":[{"nHeight":5,"aCells":[)J" + Cell("'Total'") + "]}" + last +
         "]}}}";
}

std::string Template(const std::vector<std::string>& objects) {
  std::string json =
      R"J({"cFormatVersion":"1.0","nPaperWidth":210,"nPaperHeight":297,"aObjects":[)J";
  for (size_t i = 0; i < objects.size(); ++i) json += (i > 0 ? "," : "") + objects[i];
  return json + "]}";
}

// A rendered text of a page; `part` is its number among the parts of a text
// cut over pages (0 for a text drawn whole).
struct Shown {
  std::string id;
  std::string text;
  int64_t part = 0;
  std::string origin;
};

struct JobRun {
  Ref<TDocumentoRenderizable> doc;
  std::vector<std::vector<Shown>> pages;
  std::string error;
  std::string mode;
};

JobRun RunJob(const std::string& json, const Value& cab, int records, bool utf8 = false) {
  TKXEngine engine;
  if (utf8) engine.SetEncodingUTF8();
  engine.SetPlantillaContent(Value(json));
  engine.OpenJob();
  engine.SendDataVar(Value("CAB"), cab);
  engine.SendDetalleSchema(Value("LIN"), Value::NewMap({{"id", ""}}));
  for (int i = 1; i <= records; ++i)
    engine.SendDetalle(Value("LIN"), Value::NewMap({{"id", Numbered("R", i)}}));
  engine.CloseJob();
  JobRun run;
  run.doc = engine.RunEngine();
  run.error = engine.cLastError;
  run.mode = ValueString(engine.GetPerformanceDiagnostics().Get("cMode"));
  for (int64_t p = 1; run.doc && p <= run.doc->TotalPaginas(); ++p) {
    std::vector<Shown> page;
    const Value stored = run.doc->GetPagina(p);  // a spooled page is a fresh copy: keep it
    for (const Value& o : stored.Get("objetos").AsList()) {
      if (!o.Has("texto")) continue;
      page.push_back({ValueString(o.Get("id")), ValueString(o.Get("texto")),
                      ValueInt(o.Get("nPaginaContinuacion")),
                      ValueString(o.Get("idOrigenPaginacion"))});
    }
    run.pages.push_back(page);
  }
  return run;
}

// The texts of every page, objects joined by blanks, pages by " | ".
std::string Summary(const JobRun& run) {
  std::string out;
  for (size_t p = 0; p < run.pages.size(); ++p) {
    if (p > 0) out += " | ";
    for (size_t i = 0; i < run.pages[p].size(); ++i)
      out += (i > 0 ? " " : "") + run.pages[p][i].text;
  }
  return out;
}

// A text as a reader reads it over its pages: its parts joined, without the
// line ends the cut leaves or drops, and the page its first part stands on.
struct Whole {
  std::string id;
  int64_t page = 0;
  int64_t parts = 0;
  std::string text;
};

// The texts whose ids start with `prefix`, each part found on the page after
// the one before it; a part with no text before it fails the test.
std::vector<Whole> Wholes(const JobRun& run, const std::string& prefix) {
  std::vector<Whole> wholes;
  std::vector<size_t> open;  // texts whose next part may still come
  auto append = [](Whole& w, const std::string& text) {
    for (char c : text)
      if (c != '\n') w.text.push_back(c);
    ++w.parts;
  };
  for (size_t p = 0; p < run.pages.size(); ++p) {
    const int64_t page = static_cast<int64_t>(p) + 1;
    for (const Shown& s : run.pages[p]) {
      if (s.id.rfind(prefix, 0) != 0) continue;
      if (s.part <= 1) {
        wholes.push_back({s.part == 1 ? s.origin : s.id, page, 0, ""});
        append(wholes.back(), s.text);
        if (s.part == 1) open.push_back(wholes.size() - 1);
        continue;
      }
      bool found = false;
      for (size_t w : open) {
        Whole& whole = wholes[w];
        if (whole.id == s.origin && whole.page + s.part - 1 == page && whole.parts == s.part - 1) {
          append(whole, s.text);
          found = true;
          break;
        }
      }
      EXPECT_TRUE(found) << "part " << s.part << " of " << s.origin << " on page " << page;
    }
  }
  return wholes;
}

// Every page x of y text shows its page and the document's total, and
// every text of `prefix` shows the page of its first part and the total
// after a '#' (up to the next '#', or to its end), as its formula puts them.
void ExpectPageCounts(const JobRun& run, const std::string& prefix, const std::string& name) {
  const std::string total = std::to_string(run.pages.size());
  std::vector<bool> hoja(run.pages.size() + 1, false);
  for (size_t p = 0; p < run.pages.size(); ++p) {
    for (const Shown& s : run.pages[p]) {
      if (s.id != "hoja") continue;
      EXPECT_EQ(s.text, Numbered("P", static_cast<int64_t>(p) + 1) + "/" + total) << name;
      hoja[p + 1] = true;
    }
  }
  for (const Whole& w : Wholes(run, prefix)) {
    const size_t at = w.text.find('#');
    const std::string shown =
        at == std::string::npos ? std::string() : w.text.substr(at, w.text.find('#', at + 1) - at);
    EXPECT_EQ(shown, Numbered("#", w.page) + "/" + total)
        << name << ": " << w.id << " from page " << w.page << ": " << w.text;
    // It starts where the execution that made it starts its pages.
    EXPECT_TRUE(hoja[static_cast<size_t>(w.page)]) << name << ": " << w.id << " page " << w.page;
  }
}

Value Cab(const std::string& text) {
  return Value::NewMap({{"TXT", text}});
}

const std::string kCounted = "CAB.TXT + '#' + PAGE() + '/' + TOTALPAGES()";

// ---- Texts cut over pages

TEST(TKXEngineUltimaPagina, EveryPartOfABreakableTextShowsTheDocumentsTotal) {
  struct Row {
    const char* name;
    std::string json;
    const char* cab;
    int records;
    const char* summary;  // the pages' texts; "" where the page count alone is checked
    size_t pages;
  };
  const Row rows[] = {
      // One line a box; the last page's line leaves room for one record
      // beside it, where three fit on a page that is not the last.
      {"the last page's line moves records on",
       Template({TextBox("largo", 20, 40, 3.6, kCounted, true), kHoja, Table(30, 5, 12)}),
       "one\ntwo\n", 3,
       "one P1/9 Cab R1 Total | two | #1/9 | one P4/9 Cab R2 Total | two | #4/9 | "
       "one P7/9 Cab R3 Total ULTIMA | two | #7/9",
       9},
      // Eight characters a line and a record a page: measured, "abcd#1/1"
      // takes one line, but "abcd#1/11" two, which makes 20 pages.
      {"the total changes how the text wraps",
       Template({TextBox("largo", 20, 18, 3.6, kCounted, true), kHoja, Table(20, 10, 0)}), "abcd",
       10, "", 20},
  };
  for (const Row& row : rows) {
    JobRun run = RunJob(row.json, Cab(row.cab), row.records);
    ASSERT_TRUE(run.doc) << row.name << ": " << run.error;
    EXPECT_EQ(run.error, "") << row.name;
    EXPECT_EQ(run.mode, "two-pass") << row.name;
    EXPECT_EQ(run.pages.size(), row.pages) << row.name << ": " << Summary(run);
    if (*row.summary) {
      EXPECT_EQ(Summary(run), row.summary) << row.name;
    }
    ExpectPageCounts(run, "largo", row.name);
  }
}

// A spooled document takes the new parts as patches of its stored pages.
TEST(TKXEngineUltimaPagina, ASpooledDocumentGetsEveryPartsTotal) {
  // Eight characters a line: measured with a total of 1, "abc#1/1" takes
  // one line; with the measured total every step's text takes two, so the
  // count it was composed with is not the document's.
  const std::string json =
      Template({TextBox("largo", 20, 18, 3.6, "'abc#' + PAGE() + '/' + TOTALPAGES()", true), kHoja,
                Table(250, 5, 0)});
  JobRun run = RunJob(json, Cab(""), 20000);
  ASSERT_TRUE(run.doc) << run.error;
  EXPECT_TRUE(run.doc->IsPageSpooling());
  EXPECT_GT(run.pages.size(), 800u);
  ExpectPageCounts(run, "largo", "spooled");
}

// ---- Counts that settle late or never

TEST(TKXEngineUltimaPagina, ATotalThatChangesTheLayoutIsMeasuredAgainUntilItSettles) {
  // A text of two lines while the total is below 2, of three below 3, and
  // of four from then on: measured as two pages it makes three, composed
  // with three it makes four, and with four it stays at four.
  const std::string settles =
      "IIF(TOTALPAGES() < 2, CAB.AB, IIF(TOTALPAGES() < 3, CAB.ABC, CAB.ABCD))";
  // Three lines while the total is below 2, and one from then on.
  const std::string swings = "IIF(TOTALPAGES() < 2, CAB.ABC, CAB.A)";
  const Value cab =
      Value::NewMap({{"A", "a"}, {"AB", "a\nb"}, {"ABC", "a\nb\nc"}, {"ABCD", "a\nb\nc\nd"}});
  struct Row {
    const char* name;
    std::string json;
    int records;
    const char* summary;
    const char* error;
  };
  const std::string unsettled =
      "No se ha podido fijar el total de paginas del informe: el texto largo ocupa otras "
      "paginas con cada total.";
  const Row rows[] = {
      {"settles, beside a table",
       Template({TextBox("largo", 20, 40, 3.6, settles, true), kHoja, Table(60, 5, 0)}), 2,
       "a P1/4 Cab R1 R2 Total | b | c | d", ""},
      {"never settles, beside a table",
       Template({TextBox("largo", 20, 40, 3.6, swings, true), kHoja, Table(60, 5, 0)}), 2, "",
       unsettled.c_str()},
  };
  for (const Row& row : rows) {
    JobRun run = RunJob(row.json, cab, row.records);
    EXPECT_EQ(run.error, row.error) << row.name;
    EXPECT_EQ(run.doc != nullptr, *row.error == 0) << row.name;
    EXPECT_EQ(Summary(run), row.summary) << row.name;
  }
}

}  // namespace
}  // namespace kx
