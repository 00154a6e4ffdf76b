#include "FormulaPlan.h"

#include <gtest/gtest.h>

#include "TEvaluadorFormulas.h"

namespace kx {
namespace {

TEST(FormulaPlan, MapFormOfEveryCompiledKind) {
  TEvaluadorFormulas ev;
  ev.Create();
  struct Row {
    const char* formula;
    const char* map;
  } rows[] = {
      {"  ", R"({"tipo"=>"value", "valor"=>""})"},
      {"'It''s'", R"({"tipo"=>"value", "valor"=>"It's"})"},
      {"12.50", R"({"tipo"=>"value", "valor"=>12.50})"},
      {"NULL", R"({"tipo"=>"value", "valor"=>NIL})"},
      {"DET.A", R"({"tipo"=>"variable", "nombre"=>"DET.A"})"},
      {"x != 'a'",
       R"({"tipo"=>"comparison", "left"=>{"tipo"=>"variable", "nombre"=>"x"}, "operator"=>"!=", "right"=>{"tipo"=>"value", "valor"=>"a"}})"},
      {"((NOT x))", R"({"tipo"=>"not", "child"=>{"tipo"=>"variable", "nombre"=>"x"}})"},
      {"x .OR. F",
       R"({"tipo"=>"or", "children"=>{{"tipo"=>"variable", "nombre"=>"x"}, {"tipo"=>"value", "valor"=>.F.}}})"},
      {"x .and. y",
       R"({"tipo"=>"and", "children"=>{{"tipo"=>"variable", "nombre"=>"x"}, {"tipo"=>"variable", "nombre"=>"y"}}})"},
      {"x +",
       R"({"tipo"=>"sum", "children"=>{{"tipo"=>"variable", "nombre"=>"x"}, {"tipo"=>"value", "valor"=>""}}})"},
      {"IIF(T, NULL, kx.color.red)",
       R"({"tipo"=>"if", "condition"=>{"tipo"=>"value", "valor"=>.T.}, "true"=>{"tipo"=>"value", "valor"=>NIL}, "false"=>{"tipo"=>"value", "valor"=>"#ff0000"}})"},
      {"SUM(DET.A * 2, x)",
       R"({"tipo"=>"engine_function", "name"=>"SUM", "arguments"=>{"DET.A * 2", "x"}})"},
      {"left$(x, )",
       R"({"tipo"=>"function", "name"=>"LEFT", "children"=>{{"tipo"=>"variable", "nombre"=>"x"}, {"tipo"=>"value", "valor"=>""}}})"},
  };
  for (const Row& r : rows) {
    FormulaPlanRef plan = ev.CompileFormulaPlan(r.formula);
    ASSERT_TRUE(plan) << r.formula;
    EXPECT_EQ(ExprText(plan->ToMap()), r.map) << r.formula;
    EXPECT_EQ(plan->ExprKey(), r.map) << r.formula;
  }
}

TEST(FormulaPlan, KnowsWhetherItReadsTheExecutionState) {
  TEvaluadorFormulas ev;
  ev.Create();
  struct Row {
    const char* formula;
    bool conSumas, sinSumas;  // "SUM." texts taken as formulas, or not
  } rows[] = {
      {"DET.A", false, false},
      {"'Hoja ' + Upper(DET.A) + Str(DET.B)", false, false},
      {"IIf(DET.A > 1, DET.B, 'PAGE()')", false, false},
      {"PAGE()", true, true},
      {"'Hoja ' + PAGE() + ' de ' + TOTALPAGES()", true, true},
      {"IIf(ISFIRSTRECORD(), 1, DET.A)", true, true},
      {"Upper(PREVIOUS(DET.A))", true, true},
      {"RECNO() + 1", true, true},
      {"VAR.total", true, true},
      {"DET.A + var.total", true, true},
      {"SUM.total", true, false},
      {"sum.total + DET.A", true, false},
  };
  for (const Row& r : rows) {
    FormulaPlanRef plan = ev.CompileFormulaPlan(r.formula);
    ASSERT_TRUE(plan) << r.formula;
    // Asked in both orders, the answers stay what they are.
    for (int vez = 0; vez < 2; ++vez) {
      EXPECT_EQ(plan->LeeEstado(vez == 1), vez == 1 ? r.conSumas : r.sinSumas) << r.formula;
      EXPECT_EQ(plan->LeeEstado(vez == 0), vez == 0 ? r.conSumas : r.sinSumas) << r.formula;
    }
  }
}

TEST(FormulaPlan, DeepPlansKeepDistinctKeys) {
  // Past the depth a general value's text shows, two conditions that differ
  // only in their innermost field still have different keys.
  TEvaluadorFormulas ev;
  auto anidada = [](const char* campo) {
    std::string f;
    for (int i = 0; i < 110; ++i) f += "F(";
    f += campo;
    for (int i = 0; i < 110; ++i) f += ")";
    return f;
  };
  FormulaPlanRef a = ev.CompileFormulaPlan(anidada("DET.A"));
  FormulaPlanRef b = ev.CompileFormulaPlan(anidada("DET.B"));
  ASSERT_TRUE(a && b);
  EXPECT_TRUE(ExprText(a->ToMap()) == ExprText(b->ToMap()));  // cut short alike
  EXPECT_NE(a->ExprKey(), b->ExprKey());
}

TEST(FormulaPlan, HandlesAnswerTheirParts) {
  TEvaluadorFormulas ev;
  FormulaPlanRef plan = ev.CompileFormulaPlan("IIF(DET.TIPO == 'A', DET.IMPORTE, 0)");
  ASSERT_TRUE(plan);
  EXPECT_EQ(plan->TipoTexto(), "if");
  ASSERT_TRUE(plan->Condition());
  EXPECT_EQ(plan->Condition()->TipoTexto(), "comparison");
  EXPECT_EQ(plan->Condition()->Operador(), "==");
  EXPECT_EQ(plan->Condition()->Hijos().size(), 2u);
  EXPECT_EQ(plan->TrueBranch()->Nombre(), "DET.IMPORTE");
  EXPECT_EQ(plan->FalseBranch()->Valor().Int(), 0);
  EXPECT_FALSE(plan->Condition()->Condition());  // only an "if" has branches
  EXPECT_EQ(plan->Altura(), 3);
  // Equal conditions written differently share their key; the plans differ.
  FormulaPlanRef otro = ev.CompileFormulaPlan("IIF(DET.TIPO=='A', 1, 2)");
  EXPECT_EQ(plan->Condition()->ExprKey(), otro->Condition()->ExprKey());
  EXPECT_NE(plan->ExprKey(), otro->ExprKey());
  // A caller that changes a map form leaves the plan as it was.
  Value m = plan->ToMap();
  m.Set("_conditionKey", plan->Condition()->ExprKey());
  EXPECT_FALSE(plan->ToMap().Has("_conditionKey"));
  // Carried in a Value and back.
  EXPECT_EQ(FormulaPlan::FromValue(FormulaPlan::AsValue(plan)).get(), plan.get());
  EXPECT_FALSE(FormulaPlan::FromValue(m));
  EXPECT_TRUE(FormulaPlan::AsValue(nullptr).IsNil());
}

}  // namespace
}  // namespace kx
