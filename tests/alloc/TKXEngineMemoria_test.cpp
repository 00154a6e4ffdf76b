// Memory that runs out inside the engine's public calls. Allocations spread
// over a call (every few in a small job, a handful in a long one) are made
// to fail, one per call: the call returns as its contract says, with no
// document and the reason in cLastError, leaves no spool file and no leak
// (the sanitizer build checks at exit), and the same engine then runs the
// job right.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "FailingAllocator.h"
#include "Json.h"
#include "LastPageOverflow.h"
#include "SpoolDamage.h"
#include "TKXEngine.h"
#include "TestFolder.h"

namespace kx {
namespace {

using testing::ArmFailingAllocation;
using testing::CountedAllocations;
using testing::DisarmFailingAllocation;
using testing::FailingAllocation;
using testing::Unwatched;

const std::string kSinMemoria = "No hay memoria suficiente para generar el informe.";
const std::string kErrorInterno = std::string("Error interno del motor: ") + testing::kOtraFalla;
const std::string kSinMemoriaEntrada =
    "No hay memoria suficiente para recibir los datos del trabajo.";

// What a run answered: every page and the data tables as compact JSON.
std::vector<std::string> Contents(const Ref<TDocumentoRenderizable>& doc) {
  std::vector<std::string> out;
  if (!doc) return out;
  for (int64_t p = 1; p <= doc->TotalPaginas(); ++p)
    out.push_back(JsonEncode(doc->GetPagina(Value(p))));
  out.push_back(JsonEncode(doc->GetDataTables()));
  if (doc->HasPageSpoolError()) out.push_back(doc->GetPageSpoolError());
  return out;
}

std::string Termination(const TKXEngine& engine) {
  return ValueString(engine.GetPaginationDiagnostics().Get("cTerminationReason"));
}

// The sample VAT ledger's job of n records, from OpenJob to CloseJob.
struct Ledger {
  Value data = ReadSampleData();
  Value rows = SampleLedgerRows(data.Get("DetalleVar").Get("OMEMQUERY"));

  // Only the input calls are watched: the values they are given are made,
  // and the calls that set the job up are made, unwatched.
  void Send(TKXEngine& engine, int64_t n, bool logical) const {
    {
      Unwatched setUp;
      engine.SetInputEncoding(Value("UTF-8"));
    }
    engine.OpenJob();
    if (logical) {
      // Two logical documents: the last eleven records are of another series.
      Unwatched setUp;
      engine.SetLogicalDocumentBreak(Value("OMEMQUERY"), Value("seriefac"));
    }
    for (const Map::Entry& g : data.Get("DataVar").AsMap()) {
      Value fields;
      {
        Unwatched making;
        fields = SampleRecordLarge(g.value);
      }
      engine.SendDataVar(g.key, fields);
    }
    for (int64_t i = 1; i <= n; ++i) {
      Value change, record;
      {
        Unwatched making;
        change = Value::NewMap({{"VALUE", i}});
        record = SampleLedgerRecord(rows, i, n);
      }
      engine.SendDataVarAt(Value(i - 1), Value("RUPTURA"), change);
      engine.SendDetalle(Value("OMEMQUERY"), record);
    }
    engine.CloseJob();
  }
};

// The allocations a call makes, counted without failing any.
template <class Call>
uint64_t AllocationsOf(Call&& call) {
  ArmFailingAllocation(0);
  call();
  const uint64_t n = CountedAllocations();
  DisarmFailingAllocation();
  return n;
}

// About `count` allocations spread evenly over the `total` a call makes,
// the first one among them.
std::vector<uint64_t> Failures(uint64_t total, uint64_t count) {
  std::vector<uint64_t> at;
  const uint64_t step = std::max<uint64_t>(1, total / count);
  for (uint64_t n = 1; n <= total; n += step) at.push_back(n);
  return at;
}

struct RunCase {
  const char* name;
  int64_t records;
  bool logical;
  uint64_t failures;  // how many allocations of the run are made to fail, one run each
  bool rerunEach;     // the job is run again after each failure, else after the last
  testing::Falla falla = testing::Falla::kMemoria;
};

void PrintTo(const RunCase& c, std::ostream* os) {
  *os << c.name;
}

class RunOutOfMemory : public ::testing::TestWithParam<RunCase> {};

// A run of the job that memory runs out in, at allocations all over it: a
// small job (one page, in memory), one of two logical documents, and one
// large enough to spool its pages from the first. Each failed run answers
// no document, says memory ran out (or, for an exception of another kind,
// that the engine failed) and leaves no spool file; the same engine then
// runs the job right.
TEST_P(RunOutOfMemory, AnswersNoDocumentAndLeavesNoSpool) {
  const RunCase& r = GetParam();
  TempDir tmp;
  TmpDirAs tmpDir(tmp.path());
  WorkingFolder project(KX_SOURCE_DIR);
  const Ledger ledger;
  TKXEngine engine{Value(SampleTemplatePath())};
  ledger.Send(engine, r.records, r.logical);
  Ref<TDocumentoRenderizable> doc;
  const uint64_t total = AllocationsOf([&] { doc = engine.RunEngine(); });
  ASSERT_TRUE(doc) << engine.cLastError;
  ASSERT_EQ(doc->IsPageSpooling(), r.records >= 20000);
  const std::vector<std::string> expected = Contents(doc);
  doc.reset();

  const std::vector<uint64_t> failures = Failures(total, r.failures);
  for (uint64_t n : failures) {
    bool came = false;
    {
      FailingAllocation failing(n, r.falla);
      doc = engine.RunEngine();
      came = failing.Came();
    }
    const std::string at = "allocation " + std::to_string(n) + " of " + std::to_string(total);
    if (doc || !came) {
      // A run the failure did not stop must be the whole report.
      EXPECT_EQ(Contents(doc), expected) << at;
    } else {
      const bool memoria = r.falla == testing::Falla::kMemoria;
      EXPECT_NE(engine.cLastError.find(memoria ? kSinMemoria : kErrorInterno), std::string::npos)
          << at << ": " << engine.cLastError;
      EXPECT_EQ(Termination(engine), memoria ? "out-of-memory" : "internal-error") << at;
      EXPECT_FALSE(engine.GetDocumento()) << at;
      EXPECT_EQ(SpoolFiles(tmp.path()), std::vector<std::string>{}) << at;
    }
    doc.reset();
    if (r.rerunEach || n == failures.back()) {
      doc = engine.RunEngine();
      EXPECT_EQ(Contents(doc), expected) << at << ": " << engine.cLastError;
      doc.reset();
    }
  }
  engine.End();
  EXPECT_EQ(SpoolFiles(tmp.path()), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(TKXEngineMemoria, RunOutOfMemory,
                         ::testing::Values(RunCase{"OnePage", 12, false, 600, true},
                                           RunCase{"LogicalDocuments", 14, true, 400, true},
                                           RunCase{"Spooled", 20000, false, 8, false},
                                           // Any other exception is an internal error.
                                           RunCase{"OtherException", 12, false, 100, true,
                                                   testing::Falla::kOtra}),
                         [](const auto& info) { return std::string(info.param.name); });

// The input calls (OpenJob to CloseJob) with memory running out at
// allocations all over them: none lets an exception out; a job that lost
// input fails its run with the reason; the next job on the engine is right.
TEST(TKXEngineMemoria, InputCallsThatMemoryRunsOutInFailTheJobNotTheHost) {
  WorkingFolder project(KX_SOURCE_DIR);
  const Ledger ledger;
  constexpr int64_t kRecords = 12;
  TKXEngine engine{Value(SampleTemplatePath())};
  ledger.Send(engine, kRecords, false);
  const std::vector<std::string> expected = Contents(engine.RunEngine());
  ASSERT_FALSE(expected.empty()) << engine.cLastError;

  const uint64_t total = AllocationsOf([&] { ledger.Send(engine, kRecords, false); });
  for (uint64_t n : Failures(total, 400)) {
    const std::string at = "allocation " + std::to_string(n);
    bool came = false;
    {
      FailingAllocation failing(n);
      ledger.Send(engine, kRecords, false);
      came = failing.Came();
    }
    const std::string error = engine.cLastError;
    Ref<TDocumentoRenderizable> doc = engine.RunEngine();
    if (doc || !came) {
      // Only the job summary failed, which loses nothing, or a library call
      // took the failure for an answer of its own: the job runs whole.
      EXPECT_EQ(Contents(doc), expected) << at << ": " << engine.cLastError;
      if (!error.empty()) {
        EXPECT_EQ(error, kSinMemoriaEntrada) << at;
      }
    } else {
      EXPECT_EQ(engine.cLastError, kSinMemoriaEntrada) << at;
      EXPECT_EQ(Termination(engine), "out-of-memory") << at;
    }
    doc.reset();
    ledger.Send(engine, kRecords, false);
    EXPECT_EQ(Contents(engine.RunEngine()), expected) << at << ": " << engine.cLastError;
  }
}

}  // namespace
}  // namespace kx
