// Console test program: runs the sample job and prints its findings; when it
// fails, one line on standard error says why.
//   test_engine_lastpage_overflow [records] [progress] [changes]
// SIGTERM and SIGINT stop the run at its next safe point: the engine is
// ended, which erases its spool, and the exit code is 128 + the signal.
#include <string>
#include <vector>

#include "LastPageOverflow.h"
#include "Platform.h"

int main(int argc, char** argv) {
  kx::platform::PrepareLargeHeap(kx::kHeapAhead);
  kx::platform::InstallStopSignalHandlers();
  std::vector<std::string> args(argv + 1, argv + argc);
  std::string out;
  std::string err;
  kx::LastPageOverflowHooks hooks;
  hooks.stopSignal = kx::platform::StopSignal;
  int code = kx::MAIN(args, out, err, hooks);
  kx::platform::ConsoleWrite(out);
  kx::platform::ConsoleWriteError(err);
  return code;
}
