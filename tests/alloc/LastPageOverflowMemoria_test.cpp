// Memory that runs out anywhere in the console program: in its own work
// (reading the sample, building records, reading pages back, making its
// report) or inside the engine's calls. Allocations spread over a whole
// run are made to fail, one per run: the program never lets an exception
// out, and fails with exit code 1 and one line saying why (or, when the
// failure cost nothing, succeeds).
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "FailingAllocator.h"
#include "LastPageOverflow.h"
#include "TestFolder.h"

namespace kx {
namespace {

using testing::FailingAllocation;

size_t Lines(const std::string& text) {
  size_t lines = 0;
  for (char c : text) lines += c == '\n';
  return lines;
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

struct ProgramCase {
  const char* name;
  const char* records;
  uint64_t failures;  // how many allocations of the run are made to fail, one run each
  testing::Falla falla = testing::Falla::kMemoria;
};

void PrintTo(const ProgramCase& c, std::ostream* os) {
  *os << c.name;
}

class ProgramOutOfMemory : public ::testing::TestWithParam<ProgramCase> {};

TEST_P(ProgramOutOfMemory, FailsWithItsReason) {
  const ProgramCase& r = GetParam();
  WorkingFolder project(KX_SOURCE_DIR);
  const std::vector<std::string> args = {r.records};
  std::string out;
  std::string err;
  testing::ArmFailingAllocation(0);
  ASSERT_EQ(MAIN(args, out, err), 0) << err;
  const uint64_t total = testing::CountedAllocations();
  testing::DisarmFailingAllocation();

  const bool memoria = r.falla == testing::Falla::kMemoria;
  const std::vector<std::string> reasons =
      memoria ? std::vector<std::string>{"No hay memoria suficiente", "out of memory"}
              : std::vector<std::string>{"Error interno del motor: ", "internal error: "};
  const uint64_t step = std::max<uint64_t>(1, total / r.failures);
  for (uint64_t n = 1; n <= total; n += step) {
    const std::string at = "allocation " + std::to_string(n) + " of " + std::to_string(total);
    out.clear();
    err.clear();
    int code = -1;
    {
      FailingAllocation failing(n, r.falla);
      code = MAIN(args, out, err);
    }
    if (code == 0) {
      // The failure cost nothing the run needed: the run is whole.
      EXPECT_TRUE(Contains(out, "\nsuccess=yes")) << at;
      EXPECT_EQ(err, "") << at;
    } else {
      EXPECT_EQ(code, 1) << at;
      EXPECT_EQ(err.rfind("test_engine_lastpage_overflow: ", 0), 0u) << at << ": " << err;
      EXPECT_EQ(Lines(err), 1u) << at << ": " << err;
      bool said = false;
      for (const std::string& reason : reasons) said = said || Contains(err, reason);
      EXPECT_TRUE(said) << at << ": " << err;
      // The report, unless memory ran out making it.
      EXPECT_TRUE(out.empty() || Lines(out) == 31u) << at;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(LastPageOverflowMemoria, ProgramOutOfMemory,
                         ::testing::Values(ProgramCase{"Memory", "12", 150},
                                           // Any other exception is an internal error.
                                           ProgramCase{"OtherException", "12", 40,
                                                       testing::Falla::kOtra}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kx
