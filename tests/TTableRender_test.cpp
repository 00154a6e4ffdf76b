// Tables over whole jobs: where every line lands on the pages, how each table shows its
// last-page lines, and reports generated at random checked against the rules every layout
// must keep, in one pass and in two.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "Json.h"
#include "TDocumentoRenderizable.h"
#include "TKXEngine.h"

namespace kx {
namespace {

// ---- Templates

std::string Q(const std::string& text) {
  return JsonEncode(Value(text));
}

std::string N(double n) {
  return JsonEncode(Value(n));
}

// One line of the height showing the formula; `extra` adds keys to the line.
std::string Line(double height, const std::string& formula, const std::string& extra = "") {
  return R"({"nHeight":)" + N(height) + extra +
         R"(,"aCells":[{"nWidth":60,"hContent":{"cType":"TText","hObject":{"cText":)" + Q(formula) +
         "}}}]}";
}

std::string Section(const std::string& name, const std::vector<std::string>& lines) {
  std::string out = Q(name) + R"(:{"aLines":[)";
  for (size_t i = 0; i < lines.size(); ++i) out += (i ? "," : "") + lines[i];
  return out + "]}";
}

// A table listing the job's LIN records; `sections` are Section()s joined by commas.
std::string Table(const std::string& id, double left, double top, double height,
                  const std::string& sections, const std::string& extra = "") {
  return R"({"cType":"TTable","cId":)" + Q(id) + R"(,"nLeft":)" + N(left) + R"(,"nTop":)" + N(top) +
         R"(,"nWidth":60,"nHeight":)" + N(height) + extra + R"(,"hSections":{)" + sections + "}}";
}

const std::string kPageText =
    R"J({"cType":"TText","cId":"pg","nLeft":150,"nTop":2,"nWidth":50,"nHeight":5,"cText":"'P' + PAGE() + '/' + TOTALPAGES()"})J";

// A rectangle whose condition asks for the page total: the run takes two passes.
const std::string kTwoPass =
    R"J({"cType":"TRectangle","cId":"dos","nLeft":0,"nTop":0,"nWidth":1,"nHeight":1,"cCondition":"TOTALPAGES() > 0"})J";

std::string Template(const std::vector<std::string>& objects, const std::string& sums, bool twoPass,
                     double paperHeight = 297, const std::string& extra = "") {
  std::string json = R"({"cFormatVersion":"1.0","nPaperWidth":210,"nPaperHeight":)" +
                     N(paperHeight) + R"(,"hAcumVars":)" + sums + extra + R"(,"aObjects":[)";
  if (twoPass) json += kTwoPass + ",";
  for (const std::string& o : objects) json += o + ",";
  return json + kPageText + "]}";
}

// ---- Runs

struct Piece {
  std::string id, text;
  double y = 0, height = 0;
};
using Page = std::vector<Piece>;

struct Job {
  std::vector<Page> pages;
  std::string error, reason, mode;
};

// Records {id: "R0", ...} with the fields given per record.
std::vector<Value> Records(int n, const std::function<void(int, Value&)>& more = nullptr) {
  std::vector<Value> records;
  for (int i = 0; i < n; ++i) {
    Value r = Value::NewMap({{"id", std::string("R").append(std::to_string(i))}, {"v", i + 1}});
    if (more) more(i, r);
    records.push_back(r);
  }
  return records;
}

Job RunJob(const std::string& json, const std::vector<Value>& records) {
  TKXEngine engine;
  engine.SetPlantillaContent(Value(json));
  engine.OpenJob();
  for (const Value& r : records) engine.SendDetalle(Value("LIN"), r);
  engine.CloseJob();
  Job run;
  Ref<TDocumentoRenderizable> doc = engine.RunEngine();
  run.error = engine.cLastError;
  run.reason = ValueString(engine.GetPaginationDiagnostics().Get("cTerminationReason"));
  run.mode = ValueString(engine.GetPerformanceDiagnostics().Get("cMode"));
  for (int64_t p = 1; doc && p <= doc->TotalPaginas(); ++p) {
    Page page;
    const Value stored = doc->GetPagina(p);
    for (const Value& o : stored.Get("objetos").AsList()) {
      // The rectangle that makes a run take two passes is no part of the layout compared.
      if (ValueString(o.Get("id")) == "dos") continue;
      page.push_back({ValueString(o.Get("id")), o.Has("texto") ? ValueString(o.Get("texto")) : "",
                      ValueDouble(o.Get("y")), ValueDouble(o.Get("alto"))});
    }
    run.pages.push_back(std::move(page));
  }
  engine.End();
  return run;
}

// The texts of each page that begin with the prefix, pages joined with " | ".
std::string Texts(const Job& run, const std::string& prefix) {
  std::string out;
  for (size_t p = 0; p < run.pages.size(); ++p) {
    if (p > 0) out += " | ";
    bool first = true;
    for (const Piece& piece : run.pages[p]) {
      if (piece.text.rfind(prefix, 0) != 0) continue;
      out += (first ? "" : ", ") + piece.text;
      first = false;
    }
  }
  return out;
}

const Piece* Find(const Page& page, const std::string& text) {
  for (const Piece& p : page)
    if (p.text == text) return &p;
  return nullptr;
}

std::string PageTexts(size_t pages) {
  std::string out;
  for (size_t p = 1; p <= pages; ++p)
    out += (p > 1 ? " | P" : "P") + std::to_string(p) + "/" + std::to_string(pages);
  return out;
}

struct Mode {
  const char* name;
  bool twoPass;
};
const Mode kModes[] = {{"one pass", false}, {"two passes", true}};

const std::string kSum = R"({"TOT":{"formula":"LIN.v"}})";

// ---- A document never ends with a page that only its headers and footers fill

// A 10 mm body and records of 20 mm that keep together: each goes first on its page, taller
// than the body, and the last one goes on the last page as on any other; no page follows.
TEST(TTableRender, ARecordTallerThanTheBodyEndsTheDocumentOnItsOwnPage) {
  const std::string table = Table("T", 10, 20, 30,
                                  Section("header", {Line(10, "'H'")}) + "," +
                                      Section("detail", {Line(20, "'D ' + LIN.id")}) + "," +
                                      Section("footer", {Line(10, "'S' + SUM.TOT")}));
  for (const Mode& mode : kModes) {
    const Job run = RunJob(Template({table}, kSum, mode.twoPass), Records(3));
    EXPECT_EQ(run.error, "") << mode.name;
    EXPECT_EQ(Texts(run, "D "), "D R0 | D R1 | D R2") << mode.name;
    EXPECT_EQ(Texts(run, "S"), "S1 | S3 | S6") << mode.name;
    EXPECT_EQ(Texts(run, "P"), PageTexts(3)) << mode.name;
    EXPECT_EQ(run.reason, "all-data-consumed") << mode.name;
  }
  // Logical documents of 2 and 1 records: each ends on its own last record.
  const std::string logical =
      R"(,"hLogicalDocumentBreak":{"cDetailGroup":"LIN","aFields":["doc"]})";
  const auto docs = Records(3, [](int i, Value& r) { r.Set("doc", i < 2 ? 1 : 2); });
  for (const Mode& mode : kModes) {
    const Job run = RunJob(Template({table}, kSum, mode.twoPass, 297, logical), docs);
    EXPECT_EQ(run.error, "") << mode.name;
    EXPECT_EQ(Texts(run, "D "), "D R0 | D R1 | D R2") << mode.name;
    EXPECT_EQ(Texts(run, "P"), "P1/2 | P2/2 | P1/1") << mode.name;
  }
}

// A record split over pages whose group header repeats: where the repeated header has no room
// (it is taller than the body), the record's last line goes on without it, on the last page.
TEST(TTableRender, ASplitRecordEndsTheDocumentWhereItsRepeatedHeaderHasNoRoom) {
  const std::string table = Table(
      "T", 10, 20, 30,
      Section("header", {Line(10, "'H'")}) + "," +
          Section("groupHeader", {Line(12, "'G ' + LIN.g", R"(,"lRepeatAsHeader":true)")}) + "," +
          Section("detail", {Line(6, "'D ' + LIN.id + '.0'", R"(,"lKeepTogether":false)"),
                             Line(6, "'D ' + LIN.id + '.1'")}) +
          "," + Section("footer", {Line(10, "'S' + SUM.TOT")}),
      R"(,"hGroup":{"cBreakExpression":"LIN.g"})");
  for (const Mode& mode : kModes) {
    const Job run = RunJob(Template({table}, kSum, mode.twoPass),
                           Records(1, [](int, Value& r) { r.Set("g", "x"); }));
    EXPECT_EQ(run.error, "") << mode.name;
    EXPECT_EQ(Texts(run, "D "), " | D R0.0 | D R0.1") << mode.name;
    EXPECT_EQ(Texts(run, "G "), "G x |  | ") << mode.name;
    EXPECT_EQ(Texts(run, "P"), PageTexts(3)) << mode.name;
  }
}

// ---- Lines never fall on the last-page lines or the footer

// A 15 mm body, a footer line of 10 mm and one of 15 mm on the last page only: a record of
// 8 mm, whether it keeps together or not, prints on a first page and the last-page lines on
// a second one, never over each other.
TEST(TTableRender, ARecordNeverOverlapsTheLastPageLines) {
  for (const bool keep : {true, false}) {
    const std::string table = Table(
        "T", 10, 20, 35,
        Section("header", {Line(10, "'H'")}) + "," +
            Section("detail", {Line(8, "'D ' + LIN.id", keep ? "" : R"(,"lKeepTogether":false)")}) +
            "," +
            Section("footer",
                    {Line(10, "'S' + SUM.TOT"),
                     Line(15, "'RES ' + SUM.TOT", R"J(,"cConditionFormula":"LASTPAGE()")J")}));
    for (const Mode& mode : kModes) {
      const std::string name = std::string(mode.name) + (keep ? ", kept together" : "");
      const Job run = RunJob(Template({table}, kSum, mode.twoPass), Records(1));
      EXPECT_EQ(run.error, "") << name;
      EXPECT_EQ(Texts(run, "D "), "D R0 | ") << name;
      EXPECT_EQ(Texts(run, "RES"), " | RES 1") << name;
      EXPECT_EQ(Texts(run, "P"), PageTexts(2)) << name;
      ASSERT_EQ(run.pages.size(), 2u) << name;
      const Piece* record = Find(run.pages[0], "D R0");
      ASSERT_TRUE(record) << name;
      EXPECT_LE(record->y + record->height, Find(run.pages[0], "S1")->y + 0.001) << name;
    }
  }
}

// A group footer beside a record that went first on its page, with no room left under it,
// goes to the top of the next page; near the paper's edge as well.
TEST(TTableRender, AGroupFooterThatDoesNotFitGoesToTheNextPage) {
  struct Row {
    const char* name;
    double top, paper;
  } rows[] = {{"in the page", 20, 297}, {"at the paper's edge", 150, 180}};
  for (const Row& row : rows) {
    const std::string table = Table(
        "T", 10, row.top, 30,
        Section("header", {Line(10, "'H'")}) + "," +
            Section("groupHeader", {Line(2, "'G ' + LIN.g", R"(,"aResetAcumuladores":["GT"])")}) +
            "," + Section("groupFooter", {Line(8, "'F ' + LIN.g + ' ' + SUM.GT")}) + "," +
            Section("detail", {Line(6, "'D ' + LIN.id", R"(,"lKeepTogether":false)")}) + "," +
            Section("footer", {Line(10, "'S' + SUM.TOT")}),
        R"(,"hGroup":{"cBreakExpression":"LIN.g"})");
    const auto records = Records(4, [](int i, Value& r) { r.Set("g", i < 3 ? "g0" : "g1"); });
    for (const Mode& mode : kModes) {
      const std::string name = std::string(row.name) + ", " + mode.name;
      const Job run =
          RunJob(Template({table}, R"({"TOT":{"formula":"LIN.v"},"GT":{"formula":"LIN.v"}})",
                          mode.twoPass, row.paper),
                 records);
      EXPECT_EQ(run.error, "") << name;
      // R2 goes first on page 3 with no room under it for g0's footer, which opens page 4;
      // R3 and its group header then leave no room for g1's footer either.
      EXPECT_EQ(Texts(run, "D "), "D R0 | D R1 | D R2 |  | D R3 | ") << name;
      EXPECT_EQ(Texts(run, "F "), " |  |  | F g0 6 |  | F g1 4") << name;
      const double bodyEnd = row.top + 20;
      for (const Page& page : run.pages)
        for (const Piece& piece : page)
          if (piece.text.rfind("D ", 0) == 0 || piece.text.rfind("F ", 0) == 0) {
            EXPECT_LE(piece.y + piece.height, bodyEnd + 0.25) << name << " " << piece.text;
          }
    }
  }
}

// ---- Each table has a last page of its own

// TA lists all 10 records on page 1 and shows its total there, once; TB, beside it, runs to
// page 3 and shows its own there. On the pages after its last, TA draws nothing.
TEST(TTableRender, EveryListingTablePrintsItsLastPageLinesOnce) {
  auto table = [](const std::string& id, double left, double line) {
    return Table(id, left, 20, 60,
                 Section("detail", {Line(line, "'" + id + " ' + LIN.id")}) + "," +
                     Section("footer", {Line(5, "'TOTAL " + id + " ' + SUM.TOT",
                                             R"J(,"cConditionFormula":"LASTPAGE()")J")}));
  };
  for (const Mode& mode : kModes) {
    const Job run =
        RunJob(Template({table("A", 10, 5), table("B", 100, 15)}, kSum, mode.twoPass), Records(10));
    EXPECT_EQ(run.error, "") << mode.name;
    EXPECT_EQ(Texts(run, "TOTAL A"), "TOTAL A 55 |  | ") << mode.name;
    EXPECT_EQ(Texts(run, "TOTAL B"), " |  | TOTAL B 55") << mode.name;
    EXPECT_EQ(Texts(run, "B R"), "B R0, B R1, B R2, B R3 | B R4, B R5, B R6, B R7 | B R8, B R9")
        << mode.name;
    EXPECT_EQ(Texts(run, "A R9"), "A R9 |  | ") << mode.name;
    for (size_t p = 1; p < run.pages.size(); ++p)
      for (const Piece& piece : run.pages[p])
        EXPECT_NE(piece.id.rfind("A", 0), 0u) << mode.name << " page " << p + 1 << " " << piece.id;
    EXPECT_EQ(Texts(run, "P"), PageTexts(3)) << mode.name;
  }
}

// A text that shows the page count is evaluated again once the count is known: in a table's
// lines its LASTPAGE still asks about that table's own last page.
TEST(TTableRender, PageCountTextsInATableReadItsOwnLastPage) {
  auto table = [](const std::string& id, double left, double line) {
    return Table(
        id, left, 20, 60,
        Section("detail", {Line(line, "'" + id + " ' + LIN.id")}) + "," +
            Section("footer", {Line(5, "IIF(LASTPAGE(), '" + id + " total ', '" + id +
                                           " sigue ') + SUM.TOT + ' de ' + TOTALPAGES()")}));
  };
  for (const Mode& mode : kModes) {
    const Job run =
        RunJob(Template({table("A", 10, 5), table("B", 100, 15)}, kSum, mode.twoPass), Records(10));
    EXPECT_EQ(run.error, "") << mode.name;
    EXPECT_EQ(Texts(run, "A total"), "A total 55 de 4 |  |  | ") << mode.name;
    EXPECT_EQ(Texts(run, "B sigue"), "B sigue 6 de 4 | B sigue 21 de 4 | B sigue 45 de 4 | ")
        << mode.name;
    EXPECT_EQ(Texts(run, "B total"), " |  |  | B total 55 de 4") << mode.name;
  }
}

// TA holds its 10 records and its last-page line on page 1 whatever TB beside it does. TB
// holds 7 records a page; beside its 40 mm last-page line only 2: its second page shows R7
// and R8 as a page that is not its last, and R9 and the last-page line follow.
TEST(TTableRender, EachTableSplitsItsOwnLastPage) {
  auto table = [](const std::string& id, double left, double line, double last) {
    return Table(id, left, 20, 60,
                 Section("detail", {Line(line, "'" + id + " ' + LIN.id")}) + "," +
                     Section("footer", {Line(last, "'FIN " + id + " ' + SUM.TOT",
                                             R"J(,"cConditionFormula":"LASTPAGE()")J")}));
  };
  for (const Mode& mode : kModes) {
    const Job run = RunJob(
        Template({table("A", 10, 5, 5), table("B", 100, 8, 40)}, kSum, mode.twoPass), Records(10));
    EXPECT_EQ(run.error, "") << mode.name;
    EXPECT_EQ(Texts(run, "A R"), "A R0, A R1, A R2, A R3, A R4, A R5, A R6, A R7, A R8, A R9 |  | ")
        << mode.name;
    EXPECT_EQ(Texts(run, "FIN A"), "FIN A 55 |  | ") << mode.name;
    EXPECT_EQ(Texts(run, "B R"), "B R0, B R1, B R2, B R3, B R4, B R5, B R6 | B R7, B R8 | B R9")
        << mode.name;
    EXPECT_EQ(Texts(run, "FIN B"), " |  | FIN B 55") << mode.name;
    EXPECT_EQ(run.reason, "all-data-consumed-after-lastpage-split") << mode.name;
  }
}

// ---- Repeated group headers

// Records of 60 mm in a 50 mm body: every page that begins inside the group, with a new
// record, a resumed one or one laid out line by line, shows the repeated header.
TEST(TTableRender, APageThatBeginsInsideAGroupRepeatsItsHeader) {
  struct Row {
    const char* name;
    std::vector<std::string> detail;
  } rows[] = {
      {"three lines of 20 mm",
       {Line(20, "'D ' + LIN.id + '.0'"), Line(20, "'D ' + LIN.id + '.1'"),
        Line(20, "'D ' + LIN.id + '.2'")}},
      {"one line of 60 mm", {Line(60, "'D ' + LIN.id + '.0'")}},
  };
  for (const Row& row : rows) {
    const std::string table = Table(
        "T", 10, 20, 70,
        Section("header", {Line(10, "'H'")}) + "," +
            Section("groupHeader", {Line(5, "'G ' + LIN.g", R"(,"lRepeatAsHeader":true)")}) + "," +
            Section("detail", row.detail) + "," + Section("footer", {Line(10, "'S' + SUM.TOT")}),
        R"(,"hGroup":{"cBreakExpression":"LIN.g"})");
    for (const Mode& mode : kModes) {
      const std::string name = std::string(row.name) + ", " + mode.name;
      const Job run = RunJob(Template({table}, kSum, mode.twoPass),
                             Records(3, [](int, Value& r) { r.Set("g", "g0"); }));
      EXPECT_EQ(run.error, "") << name;
      ASSERT_GE(run.pages.size(), 3u) << name;
      for (size_t p = 0; p < run.pages.size(); ++p) {
        // The first page starts the group; every other one repeats its header at the top.
        const Piece* header = Find(run.pages[p], "G g0");
        ASSERT_TRUE(header) << name << " page " << p + 1;
        EXPECT_NEAR(header->y, 30.0, 0.01) << name << " page " << p + 1;
      }
    }
  }
}

// ---- Generated reports

// One generated table and what its pages must show.
struct GenTable {
  std::string id;
  double top = 20, height = 0;
  int detailLines = 1;
  int levels = 0;                 // group levels: 0, 1 (LIN.g) or 2 (LIN.g, then LIN.h)
  bool outerShownAbove3 = false;  // the outer footer shows only for a group total above 3
  bool lastPageLine = false;
};

// Where a piece stands, read from its id: the table and the kind of line.
struct LineRect {
  std::string kind;  // "header", "footer", "detail", "groupHeader", "groupFooter", ...
  double y, height;
};

// The table and the section of a line's rectangle, from its id "T_section[_rN]_line_K".
bool LineOf(const std::string& id, std::string& table, std::string& section) {
  const size_t at = id.find("_line_");
  if (id.size() < 3 || id[1] != '_' || at == std::string::npos ||
      id.find_first_not_of("0123456789", at + 6) != std::string::npos)
    return false;
  table = id.substr(0, 1);
  section = id.substr(2, at - 2);
  if (const size_t r = section.find("_r"); r != std::string::npos) section.resize(r);
  return true;
}

// Every body line of each table lies between its header and its footer; a line taller than
// the body may pass below it only where it goes first on its page (under group header lines
// alone).
void ExpectLinesInsideTheirBodies(const Job& run, const std::vector<GenTable>& tables,
                                  const std::string& name) {
  constexpr double kTol = 0.26;
  for (size_t p = 0; p < run.pages.size(); ++p) {
    std::map<std::string, std::vector<LineRect>> lines;
    std::string table, section;
    for (const Piece& piece : run.pages[p])
      if (LineOf(piece.id, table, section))
        lines[table].push_back({section, piece.y, piece.height});
    for (const GenTable& t : tables) {
      auto& rects = lines[t.id];
      double bodyStart = t.top, footer = 0;
      for (const LineRect& r : rects) {
        if (r.kind == "header") bodyStart = std::max(bodyStart, r.y + r.height);
        if (r.kind == "footer") footer += r.height;
      }
      const double limit = std::max(bodyStart, t.top + t.height - footer);
      std::sort(rects.begin(), rects.end(),
                [](const LineRect& a, const LineRect& b) { return a.y < b.y; });
      bool onlyHeaders = true;
      for (const LineRect& r : rects) {
        if (r.kind == "header" || r.kind == "footer") continue;
        const std::string where = name + " page " + std::to_string(p + 1) + " table " + t.id + " " +
                                  r.kind + " at " + std::to_string(r.y);
        EXPECT_GE(r.y, bodyStart - kTol) << where;
        const bool tallFirst = onlyHeaders && r.height > limit - bodyStart + kTol;
        if (!tallFirst) {
          EXPECT_LE(r.y + r.height, limit + kTol) << where;
        }
        if (r.kind != "groupHeader" && r.kind != "groupHeaderRepeat") onlyHeaders = false;
      }
    }
  }
}

// Reports with one to three tables listing the job's records side by side: detail lines
// often taller than their body, kept together or not, one or two group levels with sums and
// repeated headers, last-page lines in tables and outside them, page x of y. Whatever the
// layout: every record once and in order in every table, every group total once, each
// table's last-page line once with its final sum, no line over a footer or outside its
// body, no closing page without data, the right page numbers, and one pass equal to two.
TEST(TTableRender, GeneratedReportsKeepEveryLineInPlace) {
  std::mt19937 rng(33);
  auto pick = [&](int from, int to) { return std::uniform_int_distribution<int>(from, to)(rng); };
  for (int k = 0; k < 400; ++k) {
    const std::string name = "report " + std::to_string(k);
    std::vector<GenTable> tables(static_cast<size_t>(pick(1, 3)));
    std::vector<std::string> objects;
    std::string sums;
    for (size_t t = 0; t < tables.size(); ++t) {
      GenTable& g = tables[t];
      g.id = std::string(1, static_cast<char>('A' + t));
      g.height = pick(20, 90);
      const std::string& id = g.id;
      std::vector<std::string> sections;
      if (pick(0, 2) > 0) sections.push_back(Section("header", {Line(pick(2, 10), "'H'")}));
      const std::string keep = pick(0, 1) ? R"(,"lKeepTogether":false)" : "";
      std::vector<std::string> detail;
      g.detailLines = pick(1, 3);
      for (int d = 0; d < g.detailLines; ++d)
        detail.push_back(
            Line(pick(2, 40), "'" + id + "D' + LIN.id + '." + std::to_string(d) + "'", keep));
      sections.push_back(Section("detail", detail));
      g.levels = pick(0, 2);
      std::string group;
      if (g.levels > 0) {
        std::vector<std::string> header, footer;
        for (int l = 1; l <= g.levels; ++l) {
          const std::string field = l == 1 ? "LIN.g" : "LIN.h";
          const std::string sum = "SUM." + id + "G" + std::to_string(l);
          const std::string repeat = pick(0, 1) ? R"(,"lRepeatAsHeader":true)" : "";
          header.push_back(Line(pick(2, 15), "'" + id + "H' + " + field,
                                R"(,"cGroupExpression":")" + field +
                                    R"(","aResetAcumuladores":[")" + id + "G" + std::to_string(l) +
                                    "\"]" + repeat));
          std::string shown;
          if (l == 1 && pick(0, 2) == 0) {
            g.outerShownAbove3 = true;
            shown = R"(,"cConditionFormula":")" + sum + R"( > 3")";
          }
          footer.push_back(Line(
              pick(2, 15), "'" + id + "F" + std::to_string(l) + " ' + " + field + " + '=' + " + sum,
              R"(,"cGroupExpression":")" + field + "\"" + shown));
        }
        sections.push_back(Section("groupHeader", header));
        sections.push_back(Section("groupFooter", footer));
        group = R"(,"hGroup":{"aBreakExpressions":["LIN.g","LIN.h"]})";
      }
      std::vector<std::string> footer;
      if (pick(0, 2) > 0) footer.push_back(Line(pick(2, 10), "'S' + SUM." + id + "T"));
      g.lastPageLine = pick(0, 1);
      if (g.lastPageLine)
        footer.push_back(Line(pick(2, 25), "'" + id + "FIN ' + SUM." + id + "T",
                              R"J(,"cConditionFormula":"LASTPAGE()")J"));
      if (!footer.empty()) sections.push_back(Section("footer", footer));
      std::string joined;
      for (size_t i = 0; i < sections.size(); ++i) joined += (i ? "," : "") + sections[i];
      const std::string bottom = pick(0, 1) ? R"(,"lFooterOnBottom":false)" : "";
      objects.push_back(
          Table(id, 5 + 68 * static_cast<double>(t), g.top, g.height, joined, group + bottom));
      for (const char* s : {"T", "G1", "G2"})
        sums += std::string(sums.empty() ? "" : ",") + "\"" + id + s + R"(":{"formula":"LIN.v"})";
    }
    const bool docLast = pick(0, 1);
    if (docLast)
      objects.push_back(
          R"J({"cType":"TText","cId":"fin","nLeft":10,"nTop":285,"nWidth":50,"nHeight":5,"cCondition":"LASTPAGE()","cText":"'DOCFIN'"})J");

    // Records in outer groups g and inner groups h (an inner value belongs to one outer one).
    std::vector<Value> records;
    std::vector<std::pair<std::string, int>> outer, inner;  // group names and totals, in order
    int total = 0;
    for (int i = pick(1, 30), g = 0, h = 0; i > 0; --i) {
      if (outer.empty() || pick(0, 3) == 0) {
        outer.emplace_back(std::to_string(++g), 0);
        inner.emplace_back(std::to_string(g) + "." + std::to_string(++h), 0);
      } else if (pick(0, 2) == 0) {
        inner.emplace_back(std::to_string(g) + "." + std::to_string(++h), 0);
      }
      const int v = pick(1, 3);
      outer.back().second += v;
      inner.back().second += v;
      total += v;
      records.push_back(Value::NewMap({{"id", "R" + std::to_string(records.size())},
                                       {"g", std::to_string(g)},
                                       {"h", std::to_string(g) + "." + std::to_string(h)},
                                       {"v", v}}));
    }

    std::vector<Job> runs;
    for (const Mode& mode : kModes)
      runs.push_back(RunJob(Template(objects, "{" + sums + "}", mode.twoPass), records));
    const Job& run = runs[0];
    ASSERT_EQ(run.error, "") << name;
    ASSERT_EQ(runs[1].error, "") << name;
    ASSERT_EQ(run.pages.size(), runs[1].pages.size()) << name;
    for (size_t p = 0; p < run.pages.size(); ++p) {
      ASSERT_EQ(run.pages[p].size(), runs[1].pages[p].size()) << name << " page " << p + 1;
      for (size_t o = 0; o < run.pages[p].size(); ++o) {
        const Piece& a = run.pages[p][o];
        const Piece& b = runs[1].pages[p][o];
        ASSERT_TRUE(a.id == b.id && a.text == b.text && a.y == b.y && a.height == b.height)
            << name << " page " << p + 1 << ": " << a.id << " " << a.text << " vs " << b.id << " "
            << b.text;
      }
    }
    EXPECT_NE(run.reason.find("all-data-consumed"), std::string::npos) << name;

    std::string docFins;
    for (const Page& page : run.pages)
      for (const Piece& piece : page)
        if (piece.text == "DOCFIN") docFins += "x";
    EXPECT_EQ(docFins, docLast ? "x" : "") << name;
    if (docLast) {
      EXPECT_TRUE(Find(run.pages.back(), "DOCFIN")) << name;
    }
    EXPECT_EQ(Texts(run, "P"), PageTexts(run.pages.size())) << name;

    bool lastHasData = false;
    for (const GenTable& t : tables) {
      std::string printed, wanted, footers, wantedFooters, fins;
      for (const Page& page : run.pages)
        for (const Piece& piece : page) {
          if (piece.text.rfind(t.id + "D", 0) == 0) printed += piece.text + " ";
          if (piece.text.rfind(t.id + "F", 0) == 0 && piece.text.rfind(t.id + "FIN", 0) != 0)
            footers += piece.text + " ";
          if (piece.text.rfind(t.id + "FIN", 0) == 0) fins += piece.text + " ";
        }
      for (size_t r = 0; r < records.size(); ++r)
        for (int d = 0; d < t.detailLines; ++d)
          wanted += t.id + "DR" + std::to_string(r) + "." + std::to_string(d) + " ";
      // Footer lines print in line order beside each record that ends groups: the inner
      // group's and, where the outer one ends too, the outer group's.
      size_t in = 0;
      for (size_t o = 0; o < outer.size() && t.levels > 0; ++o) {
        for (; in < inner.size() && inner[in].first.rfind(outer[o].first + ".", 0) == 0; ++in) {
          const bool outerEnds =
              in + 1 == inner.size() || inner[in + 1].first.rfind(outer[o].first + ".", 0) != 0;
          if (outerEnds && (!t.outerShownAbove3 || outer[o].second > 3))
            wantedFooters +=
                t.id + "F1 " + outer[o].first + "=" + std::to_string(outer[o].second) + " ";
          if (t.levels == 2)
            wantedFooters +=
                t.id + "F2 " + inner[in].first + "=" + std::to_string(inner[in].second) + " ";
        }
      }
      EXPECT_EQ(printed, wanted) << name << " table " << t.id;
      EXPECT_EQ(footers, wantedFooters) << name << " table " << t.id;
      EXPECT_EQ(fins, t.lastPageLine ? t.id + "FIN " + std::to_string(total) + " " : "")
          << name << " table " << t.id;
      for (const Piece& piece : run.pages.back())
        if (piece.text.rfind(t.id + "D", 0) == 0 || piece.text.rfind(t.id + "F", 0) == 0 ||
            piece.text.rfind(t.id + "H", 0) == 0)
          lastHasData = true;
    }
    EXPECT_TRUE(lastHasData) << name << ": the last page holds no line of data";
    ExpectLinesInsideTheirBodies(run, tables, name);
  }
}

}  // namespace
}  // namespace kx
