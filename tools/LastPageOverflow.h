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
  // Not on the command line: the benchmark sets it so that every record's
  // texts and amounts differ (no repetition for page compression to exploit).
  bool lUniqueTexts = false;
};

// The record count, progress mode and changes mode from the command line.
LastPageOverflowArgs ParseLastPageOverflowArgs(const std::vector<std::string>& args);

// A map with the same keys, each TypedValue replaced by its "valor".
Value SampleRecordLarge(const Value& map);

// Runs the program; `out` receives the output lines. Answers the exit code.
int MAIN(const std::vector<std::string>& args, std::string& out);

// Runs the sample job as MAIN does, with arguments already parsed.
int RunLastPageOverflow(const LastPageOverflowArgs& a, std::string& out);

}  // namespace kx
