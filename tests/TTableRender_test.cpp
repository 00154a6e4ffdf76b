// Tables over whole jobs: where every line lands on the pages, how each table shows its
// last-page lines, and reports generated at random checked against the rules every layout
// must keep, in one pass and in two.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <random>
#include <regex>
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
         R"(,"aCells":[{"nWidth":60,"hContent":{"cType":"TText","hObject":{"cText":)" +
         Q(formula) + "}}}]}";
}

std::string Section(const std::string& name, const std::vector<std::string>& lines) {
  std::string out = Q(name) + R"(:{"aLines":[)";
  for (size_t i = 0; i < lines.size(); ++i) out += (i ? "," : "") + lines[i];
  return out + "]}";
}

// A table listing the job's LIN records; `sections` are Section()s joined by commas.
std::string Table(const std::string& id, double left, double top, double height,
                  const std::string& sections, const std::string& extra = "") {
  return R"({"cType":"TTable","cId":)" + Q(id) + R"(,"nLeft":)" + N(left) + R"(,"nTop":)" +
         N(top) + R"(,"nWidth":60,"nHeight":)" + N(height) + extra + R"(,"hSections":{)" +
         sections + "}}";
}

const std::string kPageText =
    R"J({"cType":"TText","cId":"pg","nLeft":150,"nTop":2,"nWidth":50,"nHeight":5,"cText":"'P' + PAGE() + '/' + TOTALPAGES()"})J";

// A rectangle whose condition asks for the page total: the run takes two passes.
const std::string kTwoPass =
    R"J({"cType":"TRectangle","cId":"dos","nLeft":0,"nTop":0,"nWidth":1,"nHeight":1,"cCondition":"TOTALPAGES() > 0"})J";

std::string Template(const std::vector<std::string>& objects, const std::string& sums,
                     bool twoPass, double paperHeight = 297, const std::string& extra = "") {
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
    Value r = Value::NewMap({{"id", "R" + std::to_string(i)}, {"v", i + 1}});
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
  const std::string table =
      Table("T", 10, 20, 30,
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
  const std::string table =
      Table("T", 10, 20, 30,
            Section("header", {Line(10, "'H'")}) + "," +
                Section("groupHeader", {Line(12, "'G ' + LIN.g", R"(,"lRepeatAsHeader":true)")}) +
                "," +
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
            Section("detail",
                    {Line(8, "'D ' + LIN.id", keep ? "" : R"(,"lKeepTogether":false)")}) +
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
    const std::string table =
        Table("T", 10, row.top, 30,
              Section("header", {Line(10, "'H'")}) + "," +
                  Section("groupHeader",
                          {Line(2, "'G ' + LIN.g", R"(,"aResetAcumuladores":["GT"])")}) +
                  "," +
                  Section("groupFooter", {Line(8, "'F ' + LIN.g + ' ' + SUM.GT")}) + "," +
                  Section("detail", {Line(6, "'D ' + LIN.id", R"(,"lKeepTogether":false)")}) +
                  "," + Section("footer", {Line(10, "'S' + SUM.TOT")}),
              R"(,"hGroup":{"cBreakExpression":"LIN.g"})");
    const auto records = Records(4, [](int i, Value& r) { r.Set("g", i < 3 ? "g0" : "g1"); });
    for (const Mode& mode : kModes) {
      const std::string name = std::string(row.name) + ", " + mode.name;
      const Job run = RunJob(Template({table}, R"({"TOT":{"formula":"LIN.v"},"GT":{"formula":"LIN.v"}})",
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
          if (piece.text.rfind("D ", 0) == 0 || piece.text.rfind("F ", 0) == 0)
            EXPECT_LE(piece.y + piece.height, bodyEnd + 0.25) << name << " " << piece.text;
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
    EXPECT_EQ(Texts(run, "A R"),
              "A R0, A R1, A R2, A R3, A R4, A R5, A R6, A R7, A R8, A R9 |  | ")
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
    const std::string table =
        Table("T", 10, 20, 70,
              Section("header", {Line(10, "'H'")}) + "," +
                  Section("groupHeader", {Line(5, "'G ' + LIN.g", R"(,"lRepeatAsHeader":true)")}) +
                  "," + Section("detail", row.detail) + "," +
                  Section("footer", {Line(10, "'S' + SUM.TOT")}),
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

}  // namespace
}  // namespace kx
