// The console test program: runs the sample job with a chosen number of
// detail records and prints its measurements and findings.
#pragma once

#include <kxengine/Value.h>

#include <functional>
#include <string>
#include <vector>

namespace kx {

class TDocumentoRenderizable;

// The heap the program prepares at its start (see platform::PrepareLargeHeap):
// room for the pages a document holds before it spools them.
inline constexpr size_t kHeapAhead = size_t{128} << 20;

// The records a run sends when no usable count is given.
inline constexpr int64_t kRegistrosPorDefecto = 170;

struct LastPageOverflowArgs {
  int64_t nRecords = kRegistrosPorDefecto;
  bool lProgress = false;
  bool lChanges = false;
  // Not on the command line: the benchmark sets it so that every record's
  // texts and amounts differ (no repetition for page compression to exploit).
  bool lUniqueTexts = false;
};

// The record count, progress mode and changes mode from the command line.
LastPageOverflowArgs ParseLastPageOverflowArgs(const std::vector<std::string>& args);

// A map with the same keys, each TypedValue replaced by its "valor".
Value SampleRecordLarge(const Value& map);

// The sample template's path, under "lbl".
std::string SampleTemplatePath();
// The sample data file (under "lbl" and "demo"), decoded; nothing when it cannot be read.
Value ReadSampleData();
// The data file's detail rows, each with every TypedValue replaced by its
// "valor" (as SampleRecordLarge), made once for all the records of a job.
Value SampleLedgerRows(const Value& rows);
// Record i (1-based) of a sample job of n records: the rows SampleLedgerRows
// gives (a non-empty list) in turn, each numbered, with the VAT rates taken
// in turn, the second series on the last records and the last one marked.
Value SampleLedgerRecord(const Value& rows, int64_t i, int64_t n);

// What surrounds one run of the program: the console entry reads the stop
// signal its handlers note; a test stands in for the signal, and for what
// may befall the spool between the run and its page reads.
struct LastPageOverflowHooks {
  // The stop signal received so far, or 0 (none when empty). Asked by the
  // progress callback, after the run, before each page read back and after
  // the page reads.
  std::function<int()> stopSignal;
  // Given the result document after the run, before any page is read.
  std::function<void(TDocumentoRenderizable&)> afterRun;
};

// Runs the program: `out` receives the output lines; `err`, when the run
// fails, one line saying why. Answers the exit code: 0 on success, 1 on
// failure, 128 + the signal number when a stop signal ended the run.
int MAIN(const std::vector<std::string>& args, std::string& out, std::string& err,
         const LastPageOverflowHooks& hooks = {});

// A message as one line: every line break inside it becomes " / ".
std::string OneLine(std::string_view message);

// Runs the sample job as MAIN does, with arguments already parsed.
int RunLastPageOverflow(const LastPageOverflowArgs& a, std::string& out, std::string& err,
                        const LastPageOverflowHooks& hooks = {});

}  // namespace kx
