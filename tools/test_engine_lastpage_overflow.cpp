// Console test program: runs the sample job and prints its findings; when it
// fails, one line on standard error says why.
//   test_engine_lastpage_overflow [records] [progress] [changes]
// SIGTERM and SIGINT stop it within half a second wherever it is: its spool
// is erased and the exit code is 128 + the signal (see StopGuard).
#include <kxengine/Platform.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "LastPageOverflow.h"
#include "StopGuard.h"

int main(int argc, char** argv) {
  // The program owns its process and sets its allocator up at its start; the
  // library never does that for a host, whose whole process it would change,
  // but a host may make the same call. On the sample job it saves more page
  // faults than the large pages cost, quiet and right after another process
  // has used much memory (sample_job_bench --heap none measures without it).
  kx::platform::PrepareLargeHeap(kx::kHeapAhead);
  kx::platform::InstallStopSignalHandlers();
  kx::StopGuard guard;
  std::vector<std::string> args(argv + 1, argv + argc);
  std::string out;
  std::string err;
  kx::LastPageOverflowHooks hooks;
  hooks.stopSignal = kx::platform::StopSignal;
  // A stopped run ends the process as soon as its spool is erased.
  hooks.stopped = [&](int code) { std::_Exit(guard.Finish(code, out, err)); };
  int code = kx::MAIN(args, out, err, hooks);
  return guard.Finish(code, out, err);
}
