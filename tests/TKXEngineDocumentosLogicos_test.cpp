#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "Json.h"
#include "TKXEngine.h"

namespace kx {
namespace {

std::string Cell(const std::string& formula) {
  return R"J({"nWidth":50,"hContent":{"cType":"TText","hObject":{"cText":")J" + formula +
         R"J("}}})J";
}

// An invoice list: the page number and total at the top, then a table of LIN
// records, two to a page, each row showing `detail`, and the document's
// running total in the footer.
std::string Invoices(const std::string& detail = "LIN.id", const std::string& extra = "",
                     const std::string& tableExtra = "") {
  return R"J({"cFormatVersion":"1.0","nPaperWidth":210,"nPaperHeight":297)J" + extra +
         R"J(,"hAcumVars":{"TOTAL":{"formula":"LIN.importe"}},
      "aObjects":[{"cType":"TText","cId":"hoja","nLeft":10,"nTop":5,"nWidth":80,"nHeight":5,
                   "cText":"PAGE() + ' de ' + TOTALPAGES()"},
        {"cType":"TTable","cId":"libro","nLeft":10,"nTop":20,"nWidth":100,"nHeight":20)J" +
         tableExtra + R"J(,"hSections":{"header":{"aLines":[{"nHeight":5,"aCells":[)J" +
         Cell("'Id'") + R"J(]}]},
          "detail":{"aLines":[{"nHeight":5,"aCells":[)J" +
         Cell(detail) + R"J(]}]},
          "footer":{"aLines":[{"nHeight":5,"aCells":[)J" +
         Cell("'Total ' + SUM.TOTAL") + R"J(]}]}}}]})J";
}

// One LIN record: its id ("R" and its 1-based position), its break value and an amount of 1.
Value Record(int position, const Value& doc) {
  return Value::NewMap(
      {{"id", std::string("R").append(std::to_string(position))}, {"doc", doc}, {"importe", 1}});
}

std::vector<Value> Records(const std::vector<Value>& docs) {
  std::vector<Value> out;
  for (size_t i = 0; i < docs.size(); ++i) out.push_back(Record(static_cast<int>(i) + 1, docs[i]));
  return out;
}

// The texts of a page's objects, in object order, joined by "|".
std::string PageText(const Value& page) {
  std::string out;
  for (const Value& object : page.Get("objetos").AsList()) {
    if (!object.Has("texto")) continue;
    if (!out.empty()) out += "|";
    out += ValueString(object.Get("texto"));
  }
  return out;
}

struct Job {
  std::string json;
  std::vector<Value> records;
  // Called after OpenJob, before the data: a break, variables, changes.
  std::function<void(TKXEngine&)> setup;
};

struct Outcome {
  Ref<TDocumentoRenderizable> doc;
  std::vector<std::string> pages;
  std::string error;
  Value pagination;
  Value performance;
};

Outcome RunJob(const Job& job) {
  TKXEngine engine;
  engine.SetPlantillaContent(Value(job.json));
  engine.OpenJob();
  if (job.setup) job.setup(engine);
  for (const Value& r : job.records) engine.SendDetalle(Value("LIN"), r);
  engine.CloseJob();
  Outcome out;
  out.doc = engine.RunEngine();
  for (int64_t p = 1; out.doc && p <= out.doc->TotalPaginas(); ++p)
    out.pages.push_back(PageText(out.doc->GetPagina(Value(p))));
  out.error = engine.cLastError;
  out.pagination = engine.GetPaginationDiagnostics();
  out.performance = engine.GetPerformanceDiagnostics();
  return out;
}

void BreakOnDoc(TKXEngine& engine) {
  engine.SetLogicalDocumentBreak(Value("LIN"), Value("doc"));
}

TEST(TKXEngineLogicalDocuments, EqualConsecutiveKeysMakeOneDocumentNumberedFromOne) {
  Outcome r = RunJob({Invoices(), Records({"A", "A", "A", "B", "B", "A"}), BreakOnDoc});
  ASSERT_TRUE(r.doc) << r.error;
  EXPECT_EQ(r.error, "");
  // Records 1-3, 4-5 and 6; each document counts its own pages and sums.
  EXPECT_EQ(r.pages, (std::vector<std::string>{"1 de 2|Id|R1|R2|Total 2", "2 de 2|Id|R3|Total 3",
                                               "1 de 1|Id|R4|R5|Total 2", "1 de 1|Id|R6|Total 1"}));
  EXPECT_EQ(JsonEncode(r.pagination),
            R"({"nTotalDataLines":6,"nLastDataLine":6,"nPages":4,"nLogicalDocuments":3,)"
            R"("cTerminationReason":"all-logical-documents-consumed","lLastPageSplit":false,)"
            R"("nLastPageSplitPages":0})");
  EXPECT_EQ(r.performance.Get("cMode").Str(), "logical-documents");
  // The children's page loops are summed into the parent's figures.
  EXPECT_EQ(r.performance.Get("nPageExecutions").Int(), 4);
  // The data tables stand for the whole job.
  ASSERT_EQ(r.doc->GetDataTables().Len(), 1u);
  EXPECT_EQ(r.doc->GetDataTables().AsList()[0].Get("nRecordCount").Int(), 6);
}

TEST(TKXEngineLogicalDocuments, KeysCompareByTheirExpressionText) {
  struct Row {
    const char* name;
    std::vector<std::vector<Value>> values;  // per record, one value per break field
    int64_t documents;
  };
  const Row rows[] = {
      {"numbers 1 and 12", {{1}, {12}}, 2},
      {"text 1 and number 1", {{"1"}, {1}}, 2},
      {"5 and 5 with two decimals", {{5}, {Value::Real(5.0, 2)}}, 2},
      {"equal numbers", {{7}, {7}, {7}}, 1},
      {"nothing and an empty text", {{Value()}, {""}}, 2},
      {"equal keys apart stay apart", {{"A"}, {"B"}, {"A"}}, 3},
      {"two fields", {{"AA", 1}, {"AA", 1}, {"AA", 2}, {"BB", 2}}, 3},
  };
  for (const Row& row : rows) {
    Job job;
    job.json = Invoices();
    for (size_t i = 0; i < row.values.size(); ++i) {
      Value rec = Record(static_cast<int>(i) + 1, row.values[i][0]);
      if (row.values[i].size() > 1) rec.Set("serie", row.values[i][1]);
      job.records.push_back(rec);
    }
    const bool twoFields = row.values[0].size() > 1;
    job.setup = [twoFields](TKXEngine& e) {
      e.SetLogicalDocumentBreak(Value("lin"), Value(twoFields ? "LIN.doc + serie" : "doc"));
    };
    Outcome r = RunJob(job);
    EXPECT_EQ(r.pagination.Get("nLogicalDocuments").Int(), row.documents) << row.name;
    EXPECT_EQ(r.error, "") << row.name;
  }
}

TEST(TKXEngineLogicalDocuments, BreakNormalisation) {
  struct Row {
    const char* name;
    Value group;
    Value fields;
    const char* expected;
  };
  const Row rows[] = {
      {"joined by plus", "omemquery", "seriefac+numfac",
       R"({"cDetailGroup":"OMEMQUERY","aFields":["SERIEFAC","NUMFAC"]})"},
      {"a list with groups, blanks, repeats and a number", " lin ",
       Value::NewList({"OMEMQUERY.seriefac", " numfac ", 5, "SerieFac", "a.b.campo_1"}),
       R"({"cDetailGroup":"LIN","aFields":["SERIEFAC","NUMFAC","CAMPO_1"]})"},
      {"two plus in a row", "LIN", "a++b", "{}"},
      {"a plus at the start", "LIN", "+a", "{}"},
      {"a plus at the end", "LIN", "a+", "{}"},
      {"empty group", "", "a", "{}"},
      {"blank group", "   ", "a", "{}"},
      {"the whole document", "LIN", " documento ", "{}"},
      {"a blank inside", "LIN", "serie fac", "{}"},
      {"a hyphen", "LIN", Value::NewList({"serie-fac"}), "{}"},
      {"an accented letter", "LIN", "a\xC3\xB1o", "{}"},
      {"a number", "LIN", 5, "{}"},
      {"no text in the list", "LIN", Value::NewList({5}), "{}"},
      {"an empty list", "LIN", Value::NewList(), "{}"},
  };
  for (const Row& row : rows) {
    TKXEngine engine;
    engine.OpenJob();
    engine.SetLogicalDocumentBreak(row.group, row.fields);
    EXPECT_EQ(JsonEncode(engine.hLogicalDocumentBreak), row.expected) << row.name;
  }
}

TEST(TKXEngineLogicalDocuments, TheTemplatesBreak) {
  struct Row {
    const char* name;
    const char* key;  // the template's "hLogicalDocumentBreak" entry, or ""
    const char* expected;
  };
  const Row rows[] = {
      {"source expression",
       R"("hLogicalDocumentBreak":{"cDetailGroup":"OMEMQUERY",)"
       R"("cSourceExpression":"OMEMQUERY.seriefac+OMEMQUERY.numfac"})",
       R"({"cDetailGroup":"OMEMQUERY","aFields":["SERIEFAC","NUMFAC"]})"},
      {"fields win over the expression",
       R"("hLogicalDocumentBreak":{"aFields":["numfac"],"cSourceExpression":"seriefac"})",
       R"({"cDetailGroup":"OMEMQUERY","aFields":["NUMFAC"]})"},
      {"an empty field list gives way",
       R"("hLogicalDocumentBreak":{"cDetailGroup":"lin","aFields":[],"cSourceExpression":"doc"})",
       R"({"cDetailGroup":"LIN","aFields":["DOC"]})"},
      {"not a map", R"("hLogicalDocumentBreak":"doc")", "{}"},
      {"absent", "", "{}"},
  };
  for (const Row& row : rows) {
    TKXEngine engine;
    std::string key = *row.key ? std::string(",") + row.key : "";
    engine.SetPlantillaContent(Value(R"({"cFormatVersion":"1.0")" + key + R"(,"aObjects":[]})"));
    engine.SetLogicalDocumentBreak(Value("LIN"), Value("antes"));  // OpenJob discards it
    engine.OpenJob();
    EXPECT_EQ(JsonEncode(engine.hLogicalDocumentBreak), row.expected) << row.name;
  }
}

// A template's own break splits the job once: the child engines, made from
// the same template, must not split their documents again.
TEST(TKXEngineLogicalDocuments, ATemplatesBreakAppliesInTheParentOnly) {
  const std::string json =
      Invoices("LIN.id", R"(,"hLogicalDocumentBreak":{"cDetailGroup":"LIN","aFields":["doc"]})");
  struct Row {
    const char* name;
    std::function<void(TKXEngine&)> setup;
    int64_t pages;
    const char* mode;
  };
  const Row rows[] = {
      {"the template's break", nullptr, 3, "logical-documents"},
      {"disabled by the host", [](TKXEngine& e) { e.DisableLogicalDocumentBreak(); }, 2,
       "single-pass-selective-finalization"},
      // A host break that normalises to nothing leaves the template's in force.
      {"the whole document", [](TKXEngine& e) { e.SetLogicalDocumentBreak("LIN", "DOCUMENTO"); }, 3,
       "logical-documents"},
  };
  for (const Row& row : rows) {
    // As documents [R1] [R2 R3] [R4]; as one, two full pages.
    Outcome r = RunJob({json, Records({"A", "B", "B", "C"}), row.setup});
    ASSERT_TRUE(r.doc) << row.name << ": " << r.error;
    EXPECT_EQ(static_cast<int64_t>(r.pages.size()), row.pages) << row.name;
    EXPECT_EQ(r.performance.Get("cMode").Str(), row.mode) << row.name;
  }
}

// A child borrows the job's template only while it is what a fresh load of
// the template source would give.
TEST(TKXEngineLogicalDocuments, AChildLoadsTheTemplateWhenItsSourceChangedAfterOpenJob) {
  TKXEngine engine;
  engine.SetPlantillaContent(Value(Invoices()));
  engine.OpenJob();
  BreakOnDoc(engine);
  for (const Value& r : Records({"A", "B"})) engine.SendDetalle(Value("LIN"), r);
  engine.CloseJob();
  engine.SetPlantillaContent(Value(Invoices("'nuevo ' + LIN.id")));
  Ref<TDocumentoRenderizable> doc = engine.RunEngine();
  ASSERT_TRUE(doc) << engine.cLastError;
  EXPECT_EQ(PageText(doc->GetPagina(Value(2))), "1 de 1|Id|nuevo R2|Total 1");
}

// Each record's row shows "id:x" with the variable CAB.x in force at that record.
TEST(TKXEngineLogicalDocuments, VariableChangesAreRebasedToEachDocument) {
  struct Change {
    int index;
    const char* variable;
    const char* value;
  };
  struct Row {
    const char* name;
    std::vector<Change> changes;
  };
  const Row rows[] = {
      // Records 3 to 8 make the second document: the changes at 0 and 1 reach
      // it folded at its start, the one at 4 at its third record, the one at 9 not at all.
      {"in order", {{0, "x", "c0"}, {1, "x", "c1"}, {4, "x", "c4"}, {9, "x", "c9"}}},
      {"out of order",
       {{4, "x", "c4"}, {9, "x", "c9"}, {1, "x", "c1"}, {0, "x", "c0"}, {2, "x", "c2"}}},
      // The job applies its changes in call order: a later call at a lower
      // index overrides an earlier one at a higher index, inside a document as before it.
      {"calls out of index order",
       {{1, "x", "early"}, {0, "x", "late"}, {3, "y", "y3"}, {2, "y", "y2"}}},
      {"a variable first sent as a change", {{5, "y", "y5"}, {2, "x", "c2"}}},
  };
  const std::vector<Value> docs = {"A", "A", "B", "B", "B", "B", "B", "B", "C", "C"};
  for (const Row& row : rows) {
    auto send = [&row](TKXEngine& e) {
      e.SendDataVar(Value("CAB"), Value::NewMap({{"x", "v"}, {"y", "w"}}));
      for (const Change& c : row.changes)
        e.SendDataVarAt(Value(c.index), Value("CAB"), Value::NewMap({{c.variable, c.value}}));
    };
    const std::string json = Invoices("LIN.id + ':' + CAB.x + CAB.y");
    // The job as one document is the reference: every record must show the same values.
    Outcome one = RunJob({json, Records(docs), send});
    Outcome logical = RunJob({json, Records(docs), [&](TKXEngine& e) {
                                BreakOnDoc(e);
                                send(e);
                              }});
    ASSERT_TRUE(one.doc && logical.doc) << row.name << ": " << logical.error;
    EXPECT_EQ(logical.pagination.Get("nLogicalDocuments").Int(), 3) << row.name;
    std::string shown, expected;
    for (const std::string& page : logical.pages) shown += page.substr(page.find("|Id|")) + "\n";
    for (const std::string& page : one.pages) expected += page.substr(page.find("|Id|")) + "\n";
    auto rowsOf = [](const std::string& text) {
      std::vector<std::string> out;
      for (size_t at = text.find('R'); at != std::string::npos; at = text.find("|R", at + 1)) {
        size_t from = text[at] == 'R' ? at : at + 1;
        out.push_back(text.substr(from, text.find_first_of("|\n", from) - from));
      }
      return out;
    };
    EXPECT_EQ(rowsOf(shown), rowsOf(expected)) << row.name;
  }
}

TEST(TKXEngineLogicalDocuments, FailuresAnswerNoDocumentAndSayWhy) {
  struct Row {
    const char* name;
    std::string json;
    std::vector<Value> records;
    std::function<void(TKXEngine&)> setup;
    std::string message;  // the start of cLastError
  };
  const Row rows[] = {
      {"a field the detail lacks", Invoices(), Records({"A"}),
       [](TKXEngine& e) { e.SetLogicalDocumentBreak("LIN", "doc+numero"); },
       R"(La ruptura logica de documentos requiere campos que no existen en el detalle LIN: {"DOC", "NUMERO"})"},
      {"no detail records",
       Invoices(),
       {},
       [](TKXEngine& e) {
         e.SendDetalleSchema(Value("LIN"), Record(1, "A"));
         BreakOnDoc(e);
       },
       "No se han podido determinar los documentos logicos del detalle."},
      {"a child that fails", Invoices("LIN.id", "", R"(,"cPageBreakCondition":"1 +* 2")"),
       Records({"A", "B"}), BreakOnDoc,
       "No se ha podido generar el documento logico 1: Condicion de salto no valida en tabla "
       "libro: 1 +* 2"},
  };
  for (const Row& row : rows) {
    Outcome r = RunJob({row.json, row.records, row.setup});
    EXPECT_FALSE(r.doc) << row.name;
    EXPECT_EQ(r.error.substr(0, row.message.size()), row.message) << row.name;
  }
}

// A document whose page loop ends before its last record is printed fails
// the job: its message names the document by its first record and gives the
// reason, and the diagnostics count only the records printed.
TEST(TKXEngineLogicalDocuments, ADocumentThatStopsBeforeItsLastRecordFailsTheRun) {
  struct Row {
    const char* name;
    std::string json;
    std::string message;
    int64_t printed;
    int64_t documents;
  };
  const Row rows[] = {
      {"the table hides for the second document",
       Invoices("LIN.id", "", R"(,"cCondition":"LIN.doc != 'B'")"),
       "El documento logico 2 (desde el registro 3) no ha impreso todos sus registros: 0 de 2 "
       "(stalled-without-consuming-data).",
       2, 1},
      {"the table hides for the first document",
       Invoices("LIN.id", "", R"(,"cCondition":"LIN.doc != 'A'")"),
       "El documento logico 1 (desde el registro 1) no ha impreso todos sus registros: 0 de 2 "
       "(stalled-without-consuming-data).",
       0, 0},
  };
  for (const Row& row : rows) {
    Outcome r = RunJob({row.json, Records({"A", "A", "B", "B", "C"}), BreakOnDoc});
    EXPECT_FALSE(r.doc) << row.name;
    EXPECT_EQ(r.error, row.message) << row.name;
    EXPECT_EQ(JsonEncode(r.pagination),
              R"({"nTotalDataLines":5,"nLastDataLine":)" + std::to_string(row.printed) +
                  R"(,"nPages":0,"nLogicalDocuments":)" + std::to_string(row.documents) +
                  R"(,"cTerminationReason":"stopped-before-all-data","lLastPageSplit":false,)"
                  R"("nLastPageSplitPages":0})")
        << row.name;
  }
}

// A template that lists no records (a letter per document, a grid of header
// lines) loses none: each document is its pages, as in a run of one document.
TEST(TKXEngineLogicalDocuments, ATemplateThatListsNoRecordsGivesEveryDocument) {
  const std::string grid =
      R"J({"cFormatVersion":"1.0","aObjects":[{"cType":"TTable","cId":"g","nLeft":1,"nTop":1,)J"
      R"J("nWidth":50,"nHeight":40,"hSections":{"header":{"aLines":[{"nHeight":5,"aCells":[)J"
      R"J({"nWidth":50,"hContent":{"cType":"text","hObject":{"cText":"'G'"}}}]}]}}}]})J";
  const std::string rows[] = {
      R"J({"cFormatVersion":"1.0","aObjects":[{"cType":"TRectangle","cId":"r","nLeft":1,"nTop":1,"nWidth":5,"nHeight":5}]})J",
      grid,
  };
  for (const std::string& json : rows) {
    Outcome r = RunJob({json, Records({"A", "A", "B", "B", "C"}), BreakOnDoc});
    ASSERT_TRUE(r.doc) << json << " " << r.error;
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(r.doc->TotalPaginas(), 3);
    EXPECT_EQ(r.pagination.Get("nLastDataLine").Int(), 5);
    EXPECT_EQ(r.pagination.Get("cTerminationReason").Str(), "all-logical-documents-consumed");
  }
}

TEST(TKXEngineLogicalDocuments, AMergedPageThatCannotBeSpooledEndsTheRun) {
  const char* old = std::getenv("TMPDIR");
  const std::string saved = old ? old : "";
  ::setenv("TMPDIR", "/proc", 1);  // even root cannot create files there
  // Enough records for the merged document to spool from its first page,
  // in documents small enough to stay in memory themselves.
  std::vector<Value> docs;
  for (int i = 0; i < 20000; ++i) docs.emplace_back(i / 10);
  Outcome r = RunJob({Invoices(), Records(docs), BreakOnDoc});
  if (old) {
    ::setenv("TMPDIR", saved.c_str(), 1);
  } else {
    ::unsetenv("TMPDIR");
  }
  EXPECT_FALSE(r.doc);
  EXPECT_EQ(r.error, "No se ha podido guardar una pagina temporal del informe.");
  EXPECT_EQ(r.pagination.Get("cTerminationReason").Str(), "page-spool-error");
  EXPECT_EQ(r.pagination.Get("nPages").Int(), 0);
}

TEST(TKXEngineLogicalDocuments, ACancelAfterADocumentStaysSilent) {
  TKXEngine engine;
  engine.SetPlantillaContent(Value(Invoices()));
  engine.OpenJob();
  BreakOnDoc(engine);
  for (const Value& r : Records({"A", "B", "C"})) engine.SendDetalle(Value("LIN"), r);
  engine.CloseJob();
  std::vector<std::string> calls;
  engine.SetProgressCallback(Value::Function([&calls](std::span<const Value> a) {
    calls.push_back(PlainText(a[0]) + "," + PlainText(a[1]) + "," + PlainText(a[2]));
    // The start goes on, slowly enough for the first document's report to
    // reach the host past the throttle; that one cancels.
    if (calls.size() == 1) std::this_thread::sleep_for(std::chrono::milliseconds(600));
    return Value(calls.size() == 1);
  }));
  EXPECT_FALSE(engine.RunEngine());
  EXPECT_EQ(calls, (std::vector<std::string>{"0,3,0", "1,3,1"}));
  EXPECT_TRUE(engine.WasCanceled());
  EXPECT_EQ(engine.cLastError, "");
  EXPECT_EQ(engine.GetPaginationDiagnostics().Get("nPages").Int(), 0);
}

TEST(TKXEngineLogicalDocuments, TheMergedPaperIsTheLargestOfTheDocuments) {
  const std::string json =
      Invoices("LIN.id", R"(,"cPaperHeightMode":"content")", R"(,"cHeightMode":"content")");
  Outcome small = RunJob({json, Records({"A"}), nullptr});
  Outcome large = RunJob({json, Records({"A", "A", "A"}), nullptr});
  // The first document sets the paper; a taller one after it raises it.
  Outcome merged = RunJob({json, Records({"A", "B", "B", "B"}), BreakOnDoc});
  ASSERT_TRUE(small.doc && large.doc && merged.doc);
  ASSERT_LT(small.doc->nAlto, large.doc->nAlto);
  EXPECT_EQ(merged.doc->nAlto, large.doc->nAlto);
  EXPECT_EQ(merged.doc->cPaperHeightMode, "content");
}

}  // namespace
}  // namespace kx
