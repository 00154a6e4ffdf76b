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

// The memory a run takes, as the program reckons it before it starts: what
// it needs whatever the count (the heap it prepares, the template, the
// sample), and what each record adds at the run's peak, with and without a
// variable change per record. Measured on the sample job (about 340 and 800
// bytes a record), rounded up.
inline constexpr uint64_t kBytesBase = uint64_t{128} << 20;
inline constexpr uint64_t kBytesPorRegistro = 400;
inline constexpr uint64_t kBytesPorRegistroConCambio = 850;

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

// The most records a run may send when the process can have `memory` bytes
// (see platform::MemoryLimit): a larger count is refused before anything is
// done, as one the run could not hold.
int64_t MaxRecords(uint64_t memory, bool changes);

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
  // The stop signal received so far, or 0 (none when empty). Asked before
  // the first detail record and after every batch of them, by the progress
  // callback, after the run, before each page read back and after the page
  // reads.
  std::function<int()> stopSignal;
  // Given the result document after the run, before any page is read.
  std::function<void(TDocumentoRenderizable&)> afterRun;
  // Given the exit code (128 + the signal) once a stop signal has ended the
  // run, its spool is erased and the output and the reason are made, before
  // the engine gives its memory back. The console entry ends the process
  // there: for millions of records that giving back alone takes seconds.
  std::function<void(int)> stopped;
};

// Runs the program: `out` receives the output lines; `err`, when the run
// fails, one line saying why. Answers the exit code: 0 on success, 1 on
// failure, 128 + the signal number when a stop signal ended the run. A
// record count above MaxRecords is refused: `out` stays empty. No exception
// leaves it: memory that runs out in the program's own work fails the run
// as memory running out in the engine's calls does.
int MAIN(const std::vector<std::string>& args, std::string& out, std::string& err,
         const LastPageOverflowHooks& hooks = {});

// A message as one line: every line break inside it becomes " / ".
std::string OneLine(std::string_view message);

// The line on standard error of a program that a stop signal ended.
std::string StopReason(int signal);

// Runs the sample job as MAIN does, with arguments already parsed.
int RunLastPageOverflow(const LastPageOverflowArgs& a, std::string& out, std::string& err,
                        const LastPageOverflowHooks& hooks = {});

}  // namespace kx
