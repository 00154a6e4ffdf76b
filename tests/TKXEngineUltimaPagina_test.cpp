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

// ---- Runs without detail records

TEST(TKXEngineUltimaPagina, ARunWithoutRecordsNumbersThePagesItsTextsMake) {
  struct Row {
    const char* name;
    std::string json;
    const char* summary;
  };
  const Row rows[] = {
      {"a text that shows the count",
       Template({TextBox("largo", 20, 40, 3.6, "CAB.TXT + '#' + PAGE() + '/' + TOTALPAGES()", true),
                 kHoja}),
       "one P1/4 | two | three | #1/4"},
      {"a text that does not",
       Template({TextBox("largo", 20, 40, 3.6, "CAB.TXT + 'four'", true), kHoja}),
       "one P1/4 | two | three | four"},
      {"the last page's content stays on the first page",
       Template({TextBox("largo", 20, 40, 3.6, "CAB.TXT + 'four'", true), kHoja,
                 TextBox("fin", 40, 40, 5, "IIF(LASTPAGE(), 'ultima', 'sigue')", false)}),
       "one P1/4 ultima | two | three | four"},
      {"one page",
       Template({TextBox("largo", 20, 40, 20, "CAB.TXT + '#' + TOTALPAGES()", true), kHoja}),
       "one\ntwo\nthree\n#1 P1/1"},
  };
  for (const Row& row : rows) {
    JobRun run = RunJob(row.json, Cab("one\ntwo\nthree\n"), 0);
    ASSERT_TRUE(run.doc) << row.name << ": " << run.error;
    EXPECT_EQ(run.mode, "single-pass-label-or-no-detail") << row.name;
    EXPECT_EQ(Summary(run), row.summary) << row.name;
  }
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
      {"settles, without records", Template({TextBox("largo", 20, 40, 3.6, settles, true), kHoja}),
       0, "a P1/4 | b | c | d", ""},
      {"never settles, beside a table",
       Template({TextBox("largo", 20, 40, 3.6, swings, true), kHoja, Table(60, 5, 0)}), 2, "",
       unsettled.c_str()},
      {"never settles, without records",
       Template({TextBox("largo", 20, 40, 3.6, swings, true), kHoja}), 0, "", unsettled.c_str()},
  };
  for (const Row& row : rows) {
    JobRun run = RunJob(row.json, cab, row.records);
    EXPECT_EQ(run.error, row.error) << row.name;
    EXPECT_EQ(run.doc != nullptr, *row.error == 0) << row.name;
    EXPECT_EQ(Summary(run), row.summary) << row.name;
  }
}

// ---- Random reports

// splitmix64: the same reports on every machine and standard library.
class Azar {
 public:
  explicit Azar(uint64_t seed) : s_(seed) {}
  uint64_t Next() {
    uint64_t z = (s_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // An integer from lo to hi, both included.
  int64_t Entre(int64_t lo, int64_t hi) {
    return lo + static_cast<int64_t>(Next() % static_cast<uint64_t>(hi - lo + 1));
  }
  bool Una(int in) { return Entre(1, in) == 1; }

 private:
  uint64_t s_;
};

// Words, blanks, line ends of every kind and blank paragraphs; a few
// characters of two bytes, and never a '#'.
std::string RandomText(Azar& azar, bool utf8) {
  std::string text;
  const int64_t pieces = azar.Entre(0, azar.Una(4) ? 60 : 12);
  for (int64_t i = 0; i < pieces; ++i) {
    const int64_t letters = azar.Entre(1, azar.Una(8) ? 30 : 7);
    for (int64_t k = 0; k < letters; ++k) {
      if (azar.Una(15)) {
        text += utf8 ? "\xC3\xB1" : "\xF1";  // n with a tilde
      } else {
        text.push_back(static_cast<char>('a' + azar.Entre(0, 25)));
      }
    }
    switch (azar.Entre(0, 9)) {
      case 0:
        text += "\n";
        break;
      case 1:
        text += "\r\n";
        break;
      case 2:
        text += "\r";
        break;
      case 3:
        text += "\n\n  \n";
        break;
      case 4:
        text += "  ";
        break;
      default:
        text += " ";
        break;
    }
  }
  return text;
}

struct RandomReport {
  std::string json;
  Value cab;
  int records = 0;
  bool utf8 = false;
  bool table = false;
  bool counted = false;  // a text that breaks over pages shows the page count
};

RandomReport MakeRandomReport(Azar& azar) {
  RandomReport r;
  r.utf8 = azar.Una(2);
  r.records = azar.Una(3) ? 0 : static_cast<int>(azar.Entre(1, 25));
  r.table = !azar.Una(3);
  r.cab = Value::NewMap();
  std::vector<std::string> objects{kHoja};
  const int64_t texts = azar.Entre(1, 3);
  for (int64_t t = 0; t < texts; ++t) {
    const std::string name = Numbered("T", t);
    r.cab.Set(name, RandomText(azar, r.utf8));
    const std::string count = "'#' + PAGE() + '/' + TOTALPAGES()";
    std::string formula;
    switch (azar.Entre(0, 3)) {
      case 0:
        formula = "CAB." + name + " + " + count;
        break;
      case 1:
        formula = count + " + '#' + CAB." + name;
        break;
      case 2:
        formula = "CAB." + name + " + " + count + " + '#' + CAB." + name;
        break;
      default:
        formula = "CAB." + name;
        break;
    }
    const bool counts = formula.find("PAGE()") != std::string::npos;
    r.counted = r.counted || counts;
    std::string flags;
    if (azar.Una(3)) flags += R"J(,"lKeepEmptyParagraphs":false)J";
    if (azar.Una(3)) flags += R"J(,"lTrimSpaces":true)J";
    if (azar.Una(4)) flags += R"J(,"nLineSpacing":2,"nParagraphSpacing":4)J";
    // A formatted text draws its runs beside its text.
    const bool formatted = azar.Una(5);
    if (formatted) {
      flags += R"J(,"aRichTextRuns":[{"cExpression":)J" + JsonEncode(Value(formula)) + "}]";
    }
    const double lines = static_cast<double>(azar.Entre(1, 5));
    objects.push_back(TextBox(Numbered(counts ? "largo" : "nota", t),
                              20 + 30.0 * static_cast<double>(t),
                              static_cast<double>(azar.Entre(8, 70)), 3.6 * lines + 0.1, formula,
                              true, flags, formatted ? "TFormattedText" : "TText"));
  }
  // A page count in a condition: two passes for every template.
  if (azar.Una(4)) {
    objects.push_back(
        R"J({"cType":"TRectangle","cId":"dos","nLeft":0,"nTop":0,"nWidth":1,"nHeight":1,"cCondition":"TOTALPAGES() > 0"})J");
  }
  if (r.table) {
    const double detail = static_cast<double>(azar.Entre(3, 15));
    const double height = static_cast<double>(azar.Entre(25, 120));
    const double last = azar.Una(2) ? static_cast<double>(azar.Entre(3, 20)) : 0.0;
    objects.push_back(Table(height, detail, last));
  }
  r.json = Template(objects);
  return r;
}

// Random reports of texts that break over pages, some showing their page
// count, with and without detail records, beside a table and alone: every
// page-count text shows its page and the document's total.
TEST(TKXEngineUltimaPagina, RandomReportsShowEveryPageAndTheDocumentsTotal) {
  Azar azar(20270527);
  int counted = 0, withoutRecords = 0, alone = 0, manyPages = 0;
  for (int i = 0; i < 400; ++i) {
    const RandomReport r = MakeRandomReport(azar);
    const std::string name = "report " + std::to_string(i);
    JobRun run = RunJob(r.json, r.cab, r.records, r.utf8);
    ASSERT_TRUE(run.doc) << name << ": " << run.error << "\n"
                         << r.json << "\n"
                         << JsonEncode(r.cab);
    EXPECT_EQ(run.error, "") << name;
    ExpectPageCounts(run, "largo", name);
    counted += r.counted;
    withoutRecords += r.records == 0;
    alone += !r.table;
    manyPages += run.pages.size() > 1;
  }
  // The reports cover the roads they are made for.
  EXPECT_GT(counted, 200);
  EXPECT_GT(withoutRecords, 80);
  EXPECT_GT(alone, 80);
  EXPECT_GT(manyPages, 200);
}

}  // namespace
}  // namespace kx
