#include "LastPageOverflow.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>

#include "Json.h"
#include "Platform.h"
#include "SpoolDamage.h"
#include "TDocumentoRenderizable.h"
#include "TestFolder.h"

namespace kx {
namespace {

TEST(LastPageOverflow, ArgumentParsing) {
  struct Row {
    std::vector<std::string> args;
    int64_t records;
    bool progress;
    bool changes;
  };
  Row rows[] = {
      {{}, 170, false, false},
      {{"0"}, 170, false, false},
      {{"-5"}, 170, false, false},
      {{"abc"}, 170, false, false},
      {{"0.5"}, 170, false, false},
      {{"12abc"}, 12, false, false},
      {{"2.7"}, 2, false, false},
      {{"9328", " PROGRESS "}, 9328, true, false},
      {{"10", "progressx", "changes"}, 10, false, true},
      {{"10", "", " Changes"}, 10, false, true},
  };
  for (const Row& r : rows) {
    LastPageOverflowArgs a = ParseLastPageOverflowArgs(r.args);
    std::string name = r.args.empty() ? "(none)" : r.args[0];
    EXPECT_EQ(a.nRecords, r.records) << name;
    EXPECT_EQ(a.lProgress, r.progress) << name;
    EXPECT_EQ(a.lChanges, r.changes) << name;
  }
}

TEST(LastPageOverflow, SampleRecordLargeTakesTheValues) {
  Value rec =
      SampleRecordLarge(JsonDecode(R"({"a":{"tipo":"texto","valor":"x"},"b":5,"c":{"tipo":"n"}})"));
  EXPECT_EQ(JsonEncode(rec), R"({"a":"x","b":5,"c":{"tipo":"n"}})");
  EXPECT_EQ(SampleRecordLarge(Value::NewList()).Len(), 0u);
}

TEST(LastPageOverflow, WithoutSampleDataItReportsFailure) {
  // The tests run outside the project folder: no template, no data file.
  std::string out;
  std::string err;
  int code = MAIN({"5"}, out, err);
  EXPECT_EQ(code, 1);
  EXPECT_EQ(out.front(), '\n');
  EXPECT_NE(out.back(), '\n');
  size_t lines = 0;
  for (char c : out) lines += c == '\n';
  EXPECT_EQ(lines, 31u);
  EXPECT_NE(out.find("\nsuccess=no"), std::string::npos);
  EXPECT_NE(out.find("\nlast=no\n"), std::string::npos);
  EXPECT_EQ(
      err,
      "test_engine_lastpage_overflow: cannot read the sample data file "
      "lbl/demo/ivacli_Libro_de_Iva_de_Facturas_emitidas_importado_tarvex_sample_data.json\n");
}

TEST(LastPageOverflow, ReasonsTakeOneLine) {
  struct Row {
    const char* message;
    const char* line;
  } rows[] = {
      {"sin saltos", "sin saltos"},
      {"uno\ndos", "uno / dos"},
      {"uno\r\ndos\rtres", "uno / dos / tres"},
      {"\r\nrodeado\n\n", "rodeado"},
      {"hueco\n\nmedio", "hueco /  / medio"},
      {"", ""},
  };
  for (const Row& r : rows) EXPECT_EQ(OneLine(r.message), r.line) << r.message;
}

// The sample job at its own size: 170 pages, spooled once they pass the
// document's object limit. Every run spools into a folder of its own.
struct SampleRun {
  int code = -1;
  std::string out;
  std::string err;
  bool spooled = false;
  size_t spoolFiles = 0;          // the spool files the run's document had
  std::vector<std::string> left;  // the spool files left once the program ended
};

SampleRun RunSampleJob(LastPageOverflowHooks hooks, const std::string& tmpFolder = "",
                       const std::string& records = "9328") {
  SampleRun run;
  TempDir tmp;
  const std::string folder = tmpFolder.empty() ? tmp.path() : tmpFolder;
  TmpDirAs tmp_dir(folder);
  WorkingFolder project(KX_SOURCE_DIR);
  auto afterRun = hooks.afterRun;
  hooks.afterRun = [&](TDocumentoRenderizable& doc) {
    run.spooled = doc.IsPageSpooling();
    run.spoolFiles = SpoolFiles(folder).size();
    if (afterRun) afterRun(doc);
  };
  run.code = MAIN({records}, run.out, run.err, hooks);
  run.left = SpoolFiles(folder);
  return run;
}

size_t Lines(const std::string& out) {
  size_t lines = 0;
  for (char c : out) lines += c == '\n';
  return lines;
}

// A page lost from the spool after the run never reads as success: the
// program fails and says why; standard output keeps its 31 lines. The lost
// page is the second-to-last, whose empty stand-in would pass the check
// that the summary is not on it.
TEST(LastPageOverflow, ALostPageOfTheSpoolFailsTheRun) {
  const std::string kProgram = "test_engine_lastpage_overflow: ";
  struct Row {
    const char* name;
    bool damage;
    SpoolDamage how;
    int code;
    std::string err;
  } rows[] = {
      {"intact", false, SpoolDamage::kDeleted, 0, ""},
      {"deleted", true, SpoolDamage::kDeleted, 1,
       kProgram + "No se ha podido recuperar una pagina temporal del informe.\n"},
      {"truncated", true, SpoolDamage::kTruncated, 1,
       kProgram + "No se ha podido recuperar una pagina temporal del informe.\n"},
  };
  for (const Row& r : rows) {
    bool damaged = false;
    LastPageOverflowHooks hooks;
    hooks.afterRun = [&](TDocumentoRenderizable& doc) {
      if (r.damage) damaged = DamageSpoolOfPage(doc, doc.TotalPaginas() - 1, r.how);
    };
    SampleRun run = RunSampleJob(hooks);
    ASSERT_TRUE(run.spooled) << r.name;
    EXPECT_GT(run.spoolFiles, 0u) << r.name;
    EXPECT_EQ(damaged, r.damage) << r.name;
    EXPECT_EQ(run.code, r.code) << r.name << run.out;
    EXPECT_EQ(run.err, r.err) << r.name;
    EXPECT_EQ(Lines(run.out), 31u) << r.name;
    EXPECT_NE(run.out.find("\npages=170\n"), std::string::npos) << r.name;
    EXPECT_NE(run.out.find(r.code == 0 ? "\nsuccess=yes" : "\nsuccess=no"), std::string::npos)
        << r.name;
    EXPECT_TRUE(run.left.empty()) << r.name;
  }
}

// The spool cut to half its length while the run still appends to it: the
// pages in the cut half are lost, while the first, the last and the
// second-to-last, which the findings look into, read back whole. Only
// reading every page back tells the run failed.
TEST(LastPageOverflow, ASpoolCutMidRunFailsTheRun) {
  TempDir tmp;
  uintmax_t cutFrom = 0;  // the spool's length when it was cut
  uintmax_t grownTo = 0;  // its length once the run had answered
  bool findingsReadWhole = false;
  LastPageOverflowHooks hooks;
  // Asked at the engine's progress reports, at most every half second, and
  // the first to find a spool of some pages cuts it: jobs of these sizes
  // spool from their first page.
  hooks.stopSignal = [&] {
    if (cutFrom == 0 && SpoolFileSize(tmp.path()) >= (uintmax_t{64} << 10))
      cutFrom = CutSpoolInFolder(tmp.path());
    return 0;
  };
  hooks.afterRun = [&](TDocumentoRenderizable& doc) {
    grownTo = SpoolFileSize(tmp.path());
    const int64_t pages = doc.TotalPaginas();
    for (int64_t n : {int64_t{1}, pages - 1, pages}) doc.GetPagina(Value(n));
    findingsReadWhole = !doc.HasPageSpoolError();
  };
  // A build fast enough to store every page of the smaller job before a
  // report comes (or cuts at the report that ends the run) runs the larger.
  SampleRun run;
  for (const char* records : {"20000", "200000"}) {
    cutFrom = grownTo = 0;
    run = RunSampleJob(hooks, tmp.path(), records);
    if (cutFrom > 0 && grownTo > cutFrom) break;
  }
  ASSERT_GT(cutFrom, 0u) << "the run ended before its spool could be cut";
  ASSERT_GT(grownTo, cutFrom) << "the cut came after the last page was stored";
  EXPECT_TRUE(findingsReadWhole);
  EXPECT_EQ(run.code, 1) << run.out;
  EXPECT_EQ(run.err,
            "test_engine_lastpage_overflow: "
            "No se ha podido recuperar una pagina temporal del informe.\n");
  EXPECT_EQ(Lines(run.out), 31u);
  EXPECT_NE(run.out.find("\nlast=yes\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\nsuccess=no"), std::string::npos);
  EXPECT_TRUE(run.left.empty());
}

TEST(LastPageOverflow, APageThatCannotBeSpooledFailsTheRunWithTheEnginesMessage) {
  // No file can be made in /proc: the run itself fails.
  SampleRun run = RunSampleJob({}, "/proc");
  EXPECT_EQ(run.code, 1);
  EXPECT_EQ(run.err,
            "test_engine_lastpage_overflow: "
            "No se ha podido guardar una pagina temporal del informe.\n");
  EXPECT_EQ(Lines(run.out), 31u);
  EXPECT_NE(run.out.find("\ntermination=page-spool-error\n"), std::string::npos);
  EXPECT_NE(run.out.find("\nsuccess=no"), std::string::npos);
}

// A stop signal, noted wherever it comes, cancels the run at the engine's
// next report or is seen right after it; either way the engine is ended,
// its spool erased, and the exit code is 128 + the signal.
TEST(LastPageOverflow, AStopSignalEndsTheRunAndErasesItsSpool) {
  struct Row {
    const char* name;
    int fromQuestion;  // the stop flag is up from this question on (0: never by itself)
    bool afterRun;     // the flag goes up once the run has answered
    const char* pages;
  } rows[] = {
      {"at the run's first report", 1, false, "\npages=0\n"},
      {"at a later report", 2, false, "\npages=0\n"},
      {"after the run", 0, true, "\npages=170\n"},
  };
  for (const Row& r : rows) {
    int questions = 0;
    int signal = 0;
    LastPageOverflowHooks hooks;
    hooks.stopSignal = [&] {
      ++questions;
      if (r.fromQuestion > 0 && questions >= r.fromQuestion) signal = SIGTERM;
      return signal;
    };
    if (r.afterRun) hooks.afterRun = [&](TDocumentoRenderizable&) { signal = SIGTERM; };
    SampleRun run = RunSampleJob(hooks);
    EXPECT_EQ(run.code, 128 + SIGTERM) << r.name;
    EXPECT_EQ(run.err,
              "test_engine_lastpage_overflow: stopped by signal " + std::to_string(SIGTERM) + "\n")
        << r.name;
    EXPECT_EQ(Lines(run.out), 31u) << r.name;
    EXPECT_NE(run.out.find(r.pages), std::string::npos) << r.name << run.out;
    EXPECT_NE(run.out.find("\nsuccess=no"), std::string::npos) << r.name;
    if (r.afterRun) {
      EXPECT_GT(run.spoolFiles, 0u) << r.name;
    }
    EXPECT_TRUE(run.left.empty()) << r.name;
  }
}

// The console entry's own path: the real handler notes the signal, the
// program winds down and exits with 128 + its number.
TEST(LastPageOverflowDeathTest, ATermSignalAfterTheRunEndsTheProgramCleanly) {
  auto program = [] {
    int code = 0;
    {
      platform::InstallStopSignalHandlers();
      LastPageOverflowHooks hooks;
      hooks.stopSignal = platform::StopSignal;
      hooks.afterRun = [](TDocumentoRenderizable&) { std::raise(SIGTERM); };
      SampleRun run = RunSampleJob(hooks);
      platform::ConsoleWriteError(run.err);
      code = run.spoolFiles > 0 && run.left.empty() ? run.code : 99;
    }
    std::exit(code);
  };
  EXPECT_EXIT(program(), ::testing::ExitedWithCode(128 + SIGTERM), "stopped by signal");
}

}  // namespace
}  // namespace kx
