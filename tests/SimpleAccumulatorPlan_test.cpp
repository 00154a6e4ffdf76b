#include "SimpleAccumulatorPlan.h"

#include <gtest/gtest.h>

#include "TEvaluadorFormulas.h"

namespace kx {
namespace {

TEST(SimpleAccumulatorPlan, OnlyIifOverFieldComparisonsHasOne) {
  TEvaluadorFormulas ev;
  struct Row {
    const char* formula;
    const char* simple;  // nullptr: no simple plan
    bool falseIsZero;
  } rows[] = {
      {"IIF(DET.TIPO == 'A', DET.IMPORTE, 0)",
       R"({{{{2, "DET.TIPO"}, "==", {1, "A"}}}, {2, "DET.IMPORTE"}, {1, 0}})", true},
      {"IIF(DET.TIPO == 'A' .AND. DET.CANT > 0, DET.IMPORTE, 0.00)",
       R"({{{{2, "DET.TIPO"}, "==", {1, "A"}}, {{2, "DET.CANT"}, ">", {1, 0}}}, {2, "DET.IMPORTE"}, {1, 0.00}})",
       true},
      {"IIF(DET.A <> T .AND. DET.B .AND. DET.C < 2, 1, DET.X)", nullptr, false},
      {"IIF(KX.COLOR.RED == DET.C, 'x', '0')",
       R"({{{{1, "#ff0000"}, "==", {2, "DET.C"}}}, {1, "x"}, {1, "0"}})", false},
      {"IIF(DET.TIPO == 'A' .OR. DET.CANT > 0, DET.IMPORTE, 0)", nullptr, false},
      {"IIF(VAR.x > 0, DET.A, 0)", nullptr, false},
      {"IIF(DET.A > 0, sum.B, 0)", nullptr, false},
      {"IIF(DET.A > 0, x, 0)", nullptr, false},
      {"IIF(NOT DET.A > 0, 1, 0)", nullptr, false},
      {"IIF(T, 1, 2)", nullptr, false},
      {"DET.A > 0", nullptr, false},
  };
  for (const Row& r : rows) {
    FormulaPlanRef plan = ev.CompileFormulaPlan(r.formula);
    ASSERT_TRUE(plan) << r.formula;
    SimpleAccumulatorPlanRef simple = SimpleAccumulatorPlan::Build(plan);
    if (!r.simple) {
      EXPECT_FALSE(simple) << r.formula;
      continue;
    }
    ASSERT_TRUE(simple) << r.formula;
    EXPECT_EQ(ExprText(simple->ToList()), r.simple) << r.formula;
    EXPECT_EQ(simple->FalseIsZero(), r.falseIsZero) << r.formula;
    EXPECT_EQ(SimpleAccumulatorPlan::FromValue(SimpleAccumulatorPlan::AsValue(simple)).get(),
              simple.get());
  }
  EXPECT_FALSE(SimpleAccumulatorPlan::Build(nullptr));
}

}  // namespace
}  // namespace kx
