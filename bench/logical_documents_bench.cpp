// The sample ledger's records with a break field that changes every
// `per_document` records, run once as one document and once as logical
// documents (a child engine each); the best engine time of `runs` each.
// Run it from the project folder (it reads lbl/):
//
//   build/logical_documents_bench                  # 100000 records, 100 a document, 3 runs
//   build/logical_documents_bench 100000 100 3
//   build/logical_documents_bench 100000 100 3 changes   # a variable change at every record
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "LastPageOverflow.h"
#include "Platform.h"
#include "TKXEngine.h"

namespace {

using kx::Value;

struct Outcome {
  double seconds = 0.0;
  int64_t pages = 0;
  int64_t documents = 0;
  std::string termination;
  std::string error;
};

struct Job {
  Value rows;    // the sample data's detail rows
  Value header;  // its variables by group
  int64_t records = 0;
  int64_t perDocument = 0;
  bool changes = false;
};

Outcome Run(const Job& job, bool logical) {
  kx::TKXEngine engine{Value(kx::SampleTemplatePath())};
  engine.Create();
  engine.SetInputEncoding(Value("UTF-8"));
  engine.OpenJob();
  if (logical) engine.SetLogicalDocumentBreak(Value("OMEMQUERY"), Value("nrodoc"));
  if (const kx::Map* groups = job.header.MapPtr()) {
    for (const kx::Map::Entry& g : *groups)
      engine.SendDataVar(g.key, kx::SampleRecordLarge(g.value));
  }
  const Value rows = kx::SampleLedgerRows(job.rows);
  for (int64_t i = 1; i <= job.records; ++i) {
    Value rec = kx::SampleLedgerRecord(rows, i, job.records);
    rec.Set("nrodoc", (i - 1) / job.perDocument + 1);
    if (job.changes)
      engine.SendDataVarAt(Value(i - 1), Value("RUPTURA"), Value::NewMap({{"VALUE", i}}));
    engine.SendDetalle(Value("OMEMQUERY"), rec);
  }
  engine.CloseJob();

  const double start = kx::platform::MillisecondClock();
  kx::Ref<kx::TDocumentoRenderizable> doc = engine.RunEngine();
  Outcome out;
  out.seconds = (kx::platform::MillisecondClock() - start) / 1000.0;
  out.pages = doc ? doc->TotalPaginas() : 0;
  const Value pagination = engine.GetPaginationDiagnostics();
  out.documents = logical ? pagination.Get("nLogicalDocuments").Int() : (doc ? 1 : 0);
  out.termination = kx::ValueString(pagination.Get("cTerminationReason"));
  out.error = engine.cLastError;
  doc.reset();
  engine.End();
  return out;
}

Outcome Best(const Job& job, bool logical, int runs) {
  Outcome best;
  for (int r = 0; r < runs; ++r) {
    Outcome o = Run(job, logical);
    if (r == 0 || o.seconds < best.seconds) best = o;
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  Job job;
  job.records = argc > 1 ? std::max(1L, std::atol(argv[1])) : 100000;
  job.perDocument = argc > 2 ? std::max(1L, std::atol(argv[2])) : 100;
  const int runs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 3;
  job.changes = argc > 4 && std::string(argv[4]) == "changes";
  const Value data = kx::ReadSampleData();
  job.header = data.Get("DataVar");
  job.rows = data.Get("DetalleVar").Get("OMEMQUERY");
  if (!job.rows.IsList() || job.rows.Len() == 0) {
    std::printf("error=no sample data under lbl/demo\nsuccess=no\n");
    return 1;
  }

  const Outcome one = Best(job, false, runs);
  const Outcome logical = Best(job, true, runs);
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("records=%ld\nrecords_per_document=%ld\nchanges=%s\n", static_cast<long>(job.records),
              static_cast<long>(job.perDocument), job.changes ? "yes" : "no");
  std::printf("one_document_seconds=%.2f\none_document_pages=%ld\n", one.seconds,
              static_cast<long>(one.pages));
  std::printf("logical_seconds=%.2f\nlogical_pages=%ld\nlogical_documents=%ld\n", logical.seconds,
              static_cast<long>(logical.pages), static_cast<long>(logical.documents));
  std::printf("ratio=%.2f\ntermination=%s\npeak_rss_mb=%.1f\n",
              one.seconds > 0 ? logical.seconds / one.seconds : 0.0, logical.termination.c_str(),
              static_cast<double>(usage.ru_maxrss) / 1024.0);
  if (!logical.error.empty()) std::printf("error=%s\n", logical.error.c_str());
  const bool ok = logical.termination == "all-logical-documents-consumed" &&
                  logical.documents == (job.records + job.perDocument - 1) / job.perDocument;
  std::printf("success=%s\n", ok ? "yes" : "no");
  return ok ? 0 : 1;
}
