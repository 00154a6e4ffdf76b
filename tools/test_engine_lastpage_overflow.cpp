// Console test program: runs the sample job and prints its findings.
//   test_engine_lastpage_overflow [records] [progress] [changes]
#include <string>
#include <vector>

#include "LastPageOverflow.h"
#include "Platform.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::string out;
  int code = kx::MAIN(args, out);
  kx::platform::ConsoleWrite(out);
  return code;
}
