// Hostile formulas nested 100,000 deep (IIF( nested is a 1.3 MB text): each
// must answer its invalid-expression error fast and in little memory. Each
// shape runs in a child process of its own, so its peak memory is its own.
// Prints the time of one evaluation and the child's peak resident memory.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "Platform.h"
#include "TEvaluadorFormulas.h"

namespace {

std::string Repeat(const std::string& s, int n) {
  std::string out;
  out.reserve(s.size() * n);
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

struct Shape {
  const char* name;
  std::string formula;
};

void Run(const Shape& shape) {
  kx::TEvaluadorFormulas ev;
  ev.Create();
  const kx::Value vars = kx::Value::NewMap({{"x", 1}});
  const double start = kx::platform::MillisecondClock();
  const kx::Value v = ev.Evaluar(kx::Value(shape.formula), vars);
  const double ms = kx::platform::MillisecondClock() - start;
  std::printf("%-20s %8zu bytes %8.1f ms  error: %s", shape.name, shape.formula.size(), ms,
              v.Str().substr(0, 21) == "[Expresion no valida:" ? "yes" : "no");
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  const int n = argc > 1 ? std::atoi(argv[1]) : 100000;
  const Shape shapes[] = {
      {"IIF( nested", Repeat("IIF(.T., ", n) + "1" + Repeat(", 2)", n)},
      {"calls nested", Repeat("UPPER(", n) + "'a'" + Repeat(")", n)},
      {"sums in parentheses", Repeat("(1+", n) + "1" + Repeat(")", n)},
      {"NOT chain", Repeat("NOT ", n) + "x"},
      {"comparison chain", Repeat("1 < ", n) + "2"},
  };
  std::printf("formulas nested %d deep\n", n);
  for (const Shape& shape : shapes) {
    std::fflush(stdout);
    const pid_t child = fork();
    if (child == 0) {
      Run(shape);
      std::_Exit(0);
    }
    int status = 0;
    struct rusage usage {};
    wait4(child, &status, 0, &usage);
    std::printf("  peak memory %ld KB\n", usage.ru_maxrss);
  }
  return 0;
}
