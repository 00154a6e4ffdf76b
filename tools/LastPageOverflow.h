// The console test program: runs the sample job with a chosen number of
// detail records and prints its measurements and findings.
#pragma once

#include <string>
#include <vector>

#include "Value.h"

namespace kx {

// The records a run sends when no usable count is given.
inline constexpr int64_t kRegistrosPorDefecto = 170;

struct LastPageOverflowArgs {
  int64_t nRecords = kRegistrosPorDefecto;
  bool lProgress = false;
  bool lChanges = false;
};

// The record count, progress mode and changes mode from the command line.
LastPageOverflowArgs ParseLastPageOverflowArgs(const std::vector<std::string>& args);

// A map with the same keys, each TypedValue replaced by its "valor".
Value SampleRecordLarge(const Value& map);

// The sample template's path, under "lbl".
std::string SampleTemplatePath();
// The sample data file (under "lbl" and "demo"), decoded; nothing when it cannot be read.
Value ReadSampleData();
// Record i (1-based) of a sample job of n records: the data file's detail
// rows (a non-empty list) in turn, each numbered, with the VAT rates taken in
// turn, the second series on the last records and the last one marked.
Value SampleLedgerRecord(const Value& rows, int64_t i, int64_t n);

// Runs the program; `out` receives the output lines. Answers the exit code.
int MAIN(const std::vector<std::string>& args, std::string& out);

}  // namespace kx
