#include "TContextoEjecucion.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "Json.h"
#include "TConectorDatosReg.h"

namespace kx {
namespace {

Value J(std::string_view json) {
  return JsonDecode(json);
}
std::string E(const Value& v) {
  return JsonEncode(v);
}

// A connector answering a fixed variable map.
class ConectorFijo : public TConectorDatos {
 public:
  explicit ConectorFijo(Value variables) : hVariables(std::move(variables)) {}
  Value GetVariables() override { return hVariables; }
  Value hVariables;
};

Ref<TEvaluadorFormulas> Evaluador() {
  auto ev = MakeRef<TEvaluadorFormulas>();
  ev->Create();
  return ev;
}

Ref<TContextoEjecucion> Contexto(std::string_view variables, std::string_view opciones,
                                 bool conEvaluador = true) {
  auto ctx = MakeRef<TContextoEjecucion>(MakeRef<ConectorFijo>(J(variables)),
                                         conEvaluador ? Evaluador() : nullptr, J(opciones));
  if (conEvaluador) {
    EXPECT_NE(ctx->Create(), nullptr);
  }
  return ctx;
}

// ---------------------------------------------------------------------------
// Lifecycle and state

TEST(TContextoEjecucion, CreateNeedsConnectorAndEvaluator) {
  auto sinEvaluador = MakeRef<TContextoEjecucion>(MakeRef<ConectorFijo>(J("{}")), nullptr, J("{}"));
  EXPECT_EQ(sinEvaluador->Create(), nullptr);
  EXPECT_FALSE(sinEvaluador->lCreated);
  auto sinConector = MakeRef<TContextoEjecucion>(nullptr, Evaluador(), J("{}"));
  EXPECT_EQ(sinConector->Create(), nullptr);
  EXPECT_EQ(E(sinConector->GetData()), "{}");

  auto ctx = Contexto("{}", R"({"nPaginaActualRuntime":3,"nTotalPaginasRuntime":7.9})");
  EXPECT_TRUE(ctx->lCreated);
  EXPECT_EQ(ctx->nPaginaActual, 3);
  EXPECT_EQ(ctx->nTotalPaginas, 7);
  EXPECT_EQ(E(ctx->EvaluarFormula(Value("PAGE()"))), "3");
  EXPECT_EQ(E(ctx->EvaluarFormula(Value("PAGES()"))), "7");
  ctx->End();
  EXPECT_FALSE(ctx->lCreated);
  EXPECT_FALSE(ctx->oEvaluador);
  EXPECT_EQ(E(ctx->GetOpciones()), "{}");
}

TEST(TContextoEjecucion, PageStateAndRecordSlot) {
  struct Row {
    Value pagina, total;
    int64_t p, t;
  };
  Row rows[] = {{0, Value(), 1, 1}, {Value(3.7), 2, 3, 2}, {Value("5"), -4, 5, 1}};
  auto ctx = Contexto("{}", "{}");
  for (const Row& r : rows) {
    ctx->SetEstadoPagina(r.pagina, r.total);
    EXPECT_EQ(ctx->nPaginaActual, r.p);
    EXPECT_EQ(ctx->nTotalPaginas, r.t);
  }

  ctx->PushRegistroDetalle(J(R"({"L.a":1})"), 4, 10, Value(3), J(R"({"L.a":2})"));
  EXPECT_EQ(ctx->nIndiceRegistro, 4);
  EXPECT_EQ(E(ctx->hRegistroAnterior), "{}");
  EXPECT_EQ(E(ctx->EvaluarFormula(Value("RECNO()"))), "5");
  EXPECT_EQ(E(ctx->EvaluarFormula(Value("NEXT(L.a)"))), "2");
  // The record state is one slot: the inner pop leaves no current record,
  // while the outer frame stays visible.
  ctx->PushRegistroDetalle(J(R"({"L.b":7})"), -2, 10);
  EXPECT_EQ(ctx->nIndiceRegistro, 0);
  ctx->PopRegistroDetalle();
  EXPECT_EQ(ctx->nIndiceRegistro, -1);
  EXPECT_EQ(ctx->nTotalRegistros, 0);
  EXPECT_EQ(E(ctx->GetVariables()), R"({"L.a":1})");
  EXPECT_EQ(E(ctx->EvaluarFormula(Value("RECNO()"))), "0");
  ctx->PopRegistroDetalle();
  ctx->PopRegistroDetalle();  // an empty stack stays empty
  EXPECT_EQ(ctx->aVariablesLocales.Len(), 0u);
}

// ---------------------------------------------------------------------------
// The variable set

TEST(TContextoEjecucion, LayersInOrderWithCaseInsensitiveMerges) {
  struct Row {
    const char* name;
    const char* variables;
    const char* opciones;
    const char* marcos;  // frames pushed bottom first
    const char* expected;
  };
  Row rows[] = {
      {"a change overrides in its own spelling", R"({"G.a":1,"G.b":2})",
       R"({"aDataVarChangesRuntime":[{"nIndiceDetalle":0,"hVariables":{"g.A":2}}]})", "[]",
       R"({"G.b":2,"g.A":2})"},
      {"user variables: text under VAR., value under the bare name", R"({"G.a":3})",
       R"({"hUserVars":{"total":{"formula":"G.a*2"},"vacia":{"formula":"  "},"x":5}})", "[]",
       R"({"G.a":3,"VAR.total":"G.a*2","VAR.vacia":"  ","total":6,"vacia":""})"},
      {"a frame key equal to a bare name keeps the frame's value", R"({"G.a":3})",
       R"({"hUserVars":{"total":{"formula":"G.a*2"}}})", R"([{"total":9}])",
       R"({"G.a":3,"VAR.total":"G.a*2","total":9})"},
      {"another spelling of a bare name does not hide it", R"({"G.a":3})",
       R"({"hUserVars":{"total":{"formula":"G.a*2"}}})", R"([{"TOTAL":9}])",
       R"({"G.a":3,"VAR.total":"G.a*2","TOTAL":9,"total":6})"},
      {"accumulators read 0 until they have a value", "{}",
       R"({"hAcumVars":{"importe":{"formula":"L.x"},"raro":3}})", "[]", R"({"SUM.importe":0})"},
      {"frames merge bottom first; an overridden key moves to the end", R"({"A.x":1,"B.y":2})",
       "{}", R"([{" a.X ":5,"C.z":1},{"c.Z":6}])", R"({"B.y":2," a.X ":5,"c.Z":6})"},
      {"a later user variable sees the earlier ones, not the later ones", "{}",
       R"({"hUserVars":{"a":{"formula":"1"},"b":{"formula":"a + 1"},"c":{"formula":"d"},
           "d":{"formula":"2"}}})",
       "[]",
       R"({"VAR.a":"1","VAR.b":"a + 1","VAR.c":"d","VAR.d":"2","a":1,"b":2,)"
       R"("c":"[Variable no encontrada: d]","d":2})"},
      {"exact assignment keeps a connector key in its place", R"({"VAR.t":"old","Z.z":1})",
       R"({"hUserVars":{"t":{"formula":"5"}}})", "[]", R"({"VAR.t":"5","Z.z":1,"t":5})"},
  };
  for (const Row& r : rows) {
    auto ctx = Contexto(r.variables, r.opciones);
    Value marcos = J(r.marcos);
    for (const Value& m : marcos.AsList()) ctx->PushVariablesLocales(m);
    EXPECT_EQ(E(ctx->GetVariables()), r.expected) << r.name;
  }

  // Without an evaluator the bare names are left out.
  auto sin = Contexto(R"({"G.a":3})", R"({"hUserVars":{"total":{"formula":"G.a*2"}}})", false);
  EXPECT_EQ(E(sin->GetVariables()), R"({"G.a":3,"VAR.total":"G.a*2"})");
}

TEST(TContextoEjecucion, RecordsWithTheSameFieldsKeepTheKeyLayout) {
  auto ctx = Contexto(R"({"L.a":0,"G.v":1})", R"({"hUserVars":{"u":{"formula":"L.a + 1"}}})");
  ctx->PushRegistroDetalle(J(R"({"L.a":1,"L.b":"x"})"), 0, 2);
  Value primero = ctx->GetVariables();
  uint64_t version = primero.AsMap().KeyVersion();
  EXPECT_EQ(E(primero), R"({"G.v":1,"VAR.u":"L.a + 1","L.a":1,"L.b":"x","u":2})");
  ctx->PopRegistroDetalle();
  ctx->PushRegistroDetalle(J(R"({"L.a":5,"L.b":"y"})"), 1, 2);
  Value segundo = ctx->GetVariables();
  EXPECT_TRUE(segundo.SameRef(primero));
  EXPECT_EQ(segundo.AsMap().KeyVersion(), version);
  EXPECT_EQ(E(segundo), R"({"G.v":1,"VAR.u":"L.a + 1","L.a":5,"L.b":"y","u":6})");
  // A record with other fields gives another layout.
  ctx->PopRegistroDetalle();
  ctx->PushRegistroDetalle(J(R"({"L.b":"z"})"), 1, 2);
  EXPECT_EQ(E(ctx->GetVariables()), R"({"L.a":0,"G.v":1,"VAR.u":"L.a + 1","L.b":"z","u":1})");
}

// Builds the same state in a fresh context, whose set is built from nothing.
std::string FullRebuild(TContextoEjecucion& ctx) {
  auto fresh = MakeRef<TContextoEjecucion>(ctx.oConectorDatos, Evaluador(), ctx.hOpciones);
  fresh->hAcumuladores = ctx.hAcumuladores;
  fresh->nIndiceRegistro = ctx.nIndiceRegistro;
  fresh->nUltimoRegistroConsumido = ctx.nUltimoRegistroConsumido;
  for (const Value& m : ctx.aVariablesLocales.AsList()) fresh->aVariablesLocales.Push(m);
  return E(fresh->GetVariables());
}

TEST(TContextoEjecucion, IncrementalSetEqualsAFullRebuild) {
  for (bool ordenada : {true, false}) {
    std::mt19937 rng(ordenada ? 7 : 11);
    Value cambios = Value::NewList();
    for (int i = 0; i < 40; ++i) {
      int indice = ordenada ? i / 2 : static_cast<int>(rng() % 20);
      Value vars = Value::NewMap();
      vars.Set(std::string("G.") + static_cast<char>('a' + rng() % 5), Value(i));
      if (rng() % 3 == 0) vars.Set("g.A", Value(-i));
      cambios.Push(Value::NewMap({{"nIndiceDetalle", indice}, {"hVariables", vars}}));
      if (rng() % 9 == 0) cambios.Push(Value(5));  // entries that are not maps are passed over
    }
    Value opciones =
        Value::NewMap({{"aDataVarChangesRuntime", cambios},
                       {"hUserVars", J(R"({"u":{"formula":"G.a"},"w":{"formula":"u"}})")},
                       {"hAcumVars", J(R"({"n":{"formula":"1"}})")}});
    auto ctx = MakeRef<TContextoEjecucion>(MakeRef<ConectorFijo>(J(R"({"G.a":0,"L.k":0})")),
                                           Evaluador(), opciones);
    ctx->Create();
    for (int paso = 0; paso < 300; ++paso) {
      int64_t registro = rng() % 22;
      switch (rng() % 7) {
        case 0:
        case 1:
          ctx->PushRegistroDetalle(J(rng() % 4 ? R"({"L.k":1,"L.v":2})" : R"({"l.K":3})"), registro,
                                   22);
          break;
        case 2:
          ctx->PopRegistroDetalle();
          break;
        case 3:
          ctx->PushVariablesLocales(Value::NewMap({{"G.c", Value(paso)}}));
          break;
        case 4:
          ctx->AcumularDetalle();
          break;
        case 5:
          ctx->MarcarRegistroDetalleConsumido(registro);
          break;
        case 6:  // options changed in place are read again
          ctx->hOpciones.Set("hUserVars",
                             rng() % 2 ? J(R"({"w":{"formula":"G.b"}})")
                                       : J(R"({"u":{"formula":"G.a"},"w":{"formula":"u"}})"));
          ctx->PushVariablesLocales(J("{}"));
          break;
      }
      if (ctx->aVariablesLocales.Len() > 4) ctx->PopVariablesLocales();
      ASSERT_EQ(E(ctx->GetVariables()), FullRebuild(*ctx))
          << "step " << paso << " ordered " << ordenada;
    }
    EXPECT_EQ(ctx->lDataVarChangesOrdered, std::optional<bool>(ordenada));
  }
}

// ---------------------------------------------------------------------------
// The change overlay

Value Cambios(std::initializer_list<std::pair<int, const char*>> entradas) {
  Value lista = Value::NewList();
  for (auto [indice, vars] : entradas) {
    lista.Push(Value::NewMap({{"nIndiceDetalle", indice}, {"hVariables", J(vars)}}));
  }
  return lista;
}

TEST(TContextoEjecucion, OrderedChangesMoveAForwardCursor) {
  Value opciones = Value::NewMap(
      {{"aDataVarChangesRuntime",
        Cambios({{0, R"({"G.a":"0"})"}, {2, R"({"G.a":"2","G.b":"2"})"}, {4, R"({"G.a":"4"})"}})}});
  auto ctx = MakeRef<TContextoEjecucion>(MakeRef<ConectorFijo>(J("{}")), Evaluador(), opciones);
  ctx->Create();
  struct Row {
    int64_t registro;
    const char* expected;
    int64_t cursor;
  };
  Row rows[] = {
      {-1, R"({"G.a":"0"})", 1},  // no record: the record base 0
      {3, R"({"G.a":"2","G.b":"2"})", 2},
      {1, R"({"G.a":"0"})", 1},  // back: rebuilt from the first entry only
      {4, R"({"G.a":"4","G.b":"2"})", 3},
      {9, R"({"G.a":"4","G.b":"2"})", 3},
  };
  for (const Row& r : rows) {
    if (r.registro >= 0) ctx->PushRegistroDetalle(J("{}"), r.registro, 10);
    EXPECT_EQ(E(ctx->GetVariables()), r.expected) << r.registro;
    EXPECT_EQ(ctx->nDataVarChangeCursor, r.cursor) << r.registro;
    if (r.registro >= 0) ctx->PopRegistroDetalle();
  }
  EXPECT_EQ(ctx->lDataVarChangesOrdered, std::optional<bool>(true));

  // Without a current record the consumed position counts, then the record base.
  ctx->MarcarRegistroDetalleConsumido(2);
  EXPECT_EQ(E(ctx->GetVariables()), R"({"G.a":"2","G.b":"2"})");
  auto base = MakeRef<TContextoEjecucion>(
      MakeRef<ConectorFijo>(J("{}")), Evaluador(),
      Value::NewMap({{"nRegistroBase", 4},
                     {"aDataVarChangesRuntime", opciones.Get("aDataVarChangesRuntime")}}));
  base->Create();
  EXPECT_EQ(E(base->GetVariables()), R"({"G.a":"4","G.b":"2"})");
}

TEST(TContextoEjecucion, UnorderedChangesApplyInListOrder) {
  Value lista = Cambios({{0, R"({"G.a":"0","G.z":"0"})"},
                         {5, R"({"G.a":"5","G.b":"5"})"},
                         {3, R"({"G.b":"3","G.a":"3"})"}});
  auto ctx = MakeRef<TContextoEjecucion>(MakeRef<ConectorFijo>(J("{}")), Evaluador(),
                                         Value::NewMap({{"aDataVarChangesRuntime", lista}}));
  ctx->Create();
  struct Row {
    int64_t registro;
    const char* expected;
  };
  Row rows[] = {
      {2, R"({"G.a":"0","G.z":"0"})"},
      {4, R"({"G.a":"3","G.z":"0","G.b":"3"})"},
      {5, R"({"G.a":"3","G.z":"0","G.b":"3"})"},  // the entry at 3 comes later in the list
      {0, R"({"G.a":"0","G.z":"0"})"},
  };
  for (const Row& r : rows) {
    ctx->PushRegistroDetalle(J("{}"), r.registro, 10);
    EXPECT_EQ(E(ctx->GetVariables()), r.expected) << r.registro;
    ctx->PopRegistroDetalle();
  }
  EXPECT_EQ(ctx->lDataVarChangesOrdered, std::optional<bool>(false));

  // A list that changes length starts over: here it becomes ordered again.
  lista.AsList().Items().erase(lista.AsList().begin() + 2);
  ctx->PushRegistroDetalle(J("{}"), 5, 10);
  EXPECT_EQ(E(ctx->GetVariables()), R"({"G.a":"5","G.z":"0","G.b":"5"})");
  EXPECT_EQ(ctx->lDataVarChangesOrdered, std::optional<bool>(true));
  EXPECT_EQ(ctx->nDataVarChangesCount, 2);
  // A change option that is not a list gives no overlay.
  ctx->hOpciones.Set("aDataVarChangesRuntime", Value("x"));
  ctx->PopRegistroDetalle();
  EXPECT_EQ(E(ctx->GetVariables()), "{}");
}

// ---------------------------------------------------------------------------
// Accumulators

// One record pushed, accumulated and popped.
void Acumular(TContextoEjecucion& ctx, const char* registro, int64_t indice = 0) {
  ctx.PushRegistroDetalle(J(registro), indice, 10);
  ctx.AcumularDetalle();
  ctx.PopRegistroDetalle();
}

TEST(TContextoEjecucion, FormulasThatReadTheRecordStateSeeTheRecordPushedLast) {
  // Plans of fields alone leave the evaluator's state as it was; every formula that reads it
  // sees the current record: an engine function, a user variable (by "VAR." and by its bare
  // name, evaluated as the set is built) and an accumulator, each reached first after a plan
  // of fields only.
  struct Caso {
    const char* opciones;
    const char* formula;   // "" for the accumulator alone
    const char* esperado;  // the four records' values, or the sums at the end
  };
  const Caso casos[] = {
      {R"J({"hUserVars":{}})J", "RECNO()", "1234"},
      {R"J({"hUserVars":{}})J", "IIf(ISLASTRECORD(), 'fin', PREVIOUS(L.a))", R"J(null01"fin")J"},
      {R"J({"hUserVars":{"n":{"formula":"RECNO()"}}})J", "VAR.n", "1234"},
      {R"J({"hUserVars":{"n":{"formula":"RECNO()"}}})J", "n", "1234"},
      {R"J({"hUserVars":{},"hAcumVars":{"recnos":{"formula":"RECNO()"}}})J", "",
       R"J({"SUM.recnos":10})J"},
  };
  for (const Caso& c : casos) {
    auto ctx = Contexto("{}", c.opciones);
    const Value campo = ctx->CompilarPlanFormula(Value("L.a"));
    const Value plan = ctx->CompilarPlanFormula(Value(c.formula));
    std::string vistos;
    for (int64_t i = 0; i < 4; ++i) {
      const Value anterior = i > 0 ? J(R"({"L.a":)" + std::to_string(i - 1) + "}") : Value();
      ctx->PushRegistroDetalle(J(R"({"L.a":)" + std::to_string(i) + "}"), i, 4, anterior);
      EXPECT_EQ(E(ctx->EvaluarPlanFormula(campo, Value("L.a"))), std::to_string(i));
      if (*c.formula)
        vistos += E(ctx->EvaluarPlanFormula(plan, Value(c.formula)));
      else
        ctx->AcumularDetalle();
      ctx->PopRegistroDetalle();
    }
    EXPECT_EQ(*c.formula ? vistos : E(ctx->GetAcumuladores()), c.esperado) << c.formula;
  }
}

TEST(TContextoEjecucion, SumsAFormulaCanRead) {
  // Through user variables (a and b read each other), other sums and "@" names, in any
  // letter case; quoted texts and called names read nothing.
  auto ctx = Contexto("{}", R"({"hUserVars":{"a":{"formula":"VAR.b + 1"},
      "b":{"formula":"a + sum.uno"},"c":{"formula":"'SUM.dos'"}},
      "hAcumVars":{"uno":{"formula":"L.x"},"dos":{"formula":"L.y"},
      "tres":{"formula":"SUM.dos"},"cuatro":{"formula":"L.z"}}})");
  const struct {
    const char* formula;
    const char* sumas;
  } casos[] = {
      {"L.x", ""},
      {"SUM.UNO", "SUM.uno "},
      {"VAR.a", "SUM.uno "},
      {"c", ""},
      {"SUM.tres", "SUM.dos SUM.tres "},
      {"@Cuatro", "SUM.cuatro "},
      {"Upper(L.x) + SUM.dos", "SUM.dos "},
      {"CUATRO(L.x)", ""},
  };
  for (const auto& c : casos) {
    std::vector<char> leidas;
    ctx->MarcarSumasLeidas(c.formula, leidas);
    std::string nombres;
    for (size_t k = 0; k < leidas.size(); ++k)
      if (leidas[k]) nombres += ctx->aAccumulatorRuntimePlans[k].cClave + " ";
    EXPECT_EQ(nombres, c.sumas) << c.formula;
    EXPECT_EQ(ctx->NombraSumaLeida(J(R"(["dos","SUM.uno"])"), leidas),
              !nombres.empty() && nombres != "SUM.cuatro ")
        << c.formula;
  }
}

TEST(TContextoEjecucion, AccumulatorsAddTheirFormulasPerRecord) {
  auto ctx = Contexto(
      "{}", R"({"hAcumVars":{"importe":{"formula":"L.importe"},"cuenta":{"formula":"1"}}})");
  Acumular(*ctx, R"({"L.importe":10})");
  Acumular(*ctx, R"({"L.importe":2.5})");
  Acumular(*ctx, R"({"L.importe":null})");
  EXPECT_EQ(E(ctx->GetAcumuladores()), R"({"SUM.importe":12.5,"SUM.cuenta":3})");
  EXPECT_EQ(E(ctx->EvaluarFormula(Value("SUM.importe"))), "12.5");
}

TEST(TContextoEjecucion, AddendsAreReadBackFromTheirText) {
  struct Row {
    const char* formula;
    const char* expected;  // the sum after one record, or "none"
  };
  Row rows[] = {
      {"'7'", "7"},       {"'7,5'", "7"},   {"''", "none"},   {"'abc'", "none"},
      {"NOSUCH", "none"}, {"10/3", "3.33"}, {"4.0", "4"},     {"L.t", "none"},
      {"L.n", "-2.25"},   {"0", "0"},       {"' 12x'", "12"}, {".T.", "none"},
  };
  for (const Row& r : rows) {
    Value opciones = Value::NewMap(
        {{"hAcumVars", Value::NewMap({{"x", Value::NewMap({{"formula", r.formula}})}})}});
    auto ctx = MakeRef<TContextoEjecucion>(MakeRef<ConectorFijo>(J("{}")), Evaluador(), opciones);
    ctx->Create();
    Acumular(*ctx, R"({"L.t":"  ","L.n":-2.25})");
    const Value& suma = ctx->GetAcumuladores().Get("SUM.x");
    std::string got = ctx->GetAcumuladores().Has("SUM.x") ? E(suma) : "none";
    EXPECT_EQ(got, r.expected) << r.formula;
    if (std::string_view(r.formula) == "4.0") {
      EXPECT_TRUE(suma.IsInt());
    }
    if (std::string_view(r.formula) == "10/3") {
      EXPECT_EQ(suma.Decimals(), 2);
    }
  }
}

TEST(TContextoEjecucion, ConditionalAccumulators) {
  // IIF(L.c, ...) has a compiled plan but no simple form: its condition is
  // judged by the accumulator's truth words.
  struct Row {
    const char* condicion;  // JSON value of L.c
    int64_t expected;
  };
  Row rows[] = {{R"("")", 1},      {R"("si")", 10}, {R"("1")", 10}, {"2", 10},
                {R"("falso")", 1}, {R"("NO")", 1},  {R"("x")", 10}, {"0", 1}};
  for (const Row& r : rows) {
    auto ctx = Contexto("{}", R"j({"hAcumVars":{"x":{"formula":"IIF(L.c, 10, 1)"}}})j");
    ASSERT_EQ(ctx->aAccumulatorRuntimePlans.size(), 1u);
    const AccumulatorRuntimePlan& p = ctx->aAccumulatorRuntimePlans[0];
    EXPECT_TRUE(p.lCondicional && p.lPlanUsable && !p.lSimpleUsable);
    Acumular(*ctx, (std::string(R"({"L.c":)") + r.condicion + "}").c_str());
    EXPECT_EQ(ctx->GetAcumuladores().Get("SUM.x").Int(), r.expected) << r.condicion;
  }

  // The simple form: a false condition with a 0 branch leaves the sum alone.
  auto ctx = Contexto("{}", R"j({"hAcumVars":{
      "a":{"formula":"IIF(L.t == 'A', L.imp, 0)"},
      "b":{"formula":"IIF(L.t == 'A', 1, L.imp)"},
      "c":{"formula":"L.imp * 2"}}})j");
  ASSERT_EQ(ctx->aAccumulatorRuntimePlans.size(), 3u);
  EXPECT_TRUE(ctx->aAccumulatorRuntimePlans[0].lFalsoEsCero);
  EXPECT_FALSE(ctx->aAccumulatorRuntimePlans[1].lFalsoEsCero);
  EXPECT_EQ(ctx->aAccumulatorRuntimePlans[0].cCondicionClave,
            ctx->aAccumulatorRuntimePlans[1].cCondicionClave);
  EXPECT_FALSE(ctx->aAccumulatorRuntimePlans[2].lPlanUsable);  // arithmetic does not compile
  Acumular(*ctx, R"({"L.t":"B","L.imp":7})");
  EXPECT_EQ(E(ctx->GetAcumuladores()), R"({"SUM.b":7,"SUM.c":14})");
  Acumular(*ctx, R"({"L.t":"A","L.imp":5})");
  EXPECT_EQ(E(ctx->GetAcumuladores()), R"({"SUM.b":8,"SUM.c":24,"SUM.a":5})");
}

TEST(TContextoEjecucion, RealAddendsReadBackAsTheirText) {
  // The accumulation reads a real back from its text form without making the
  // text when it can; the answer must be the text's in every case.
  auto ctx = Contexto("{}", R"({"hAcumVars":{"x":{"formula":"L.v"}}})");
  std::mt19937_64 rng(3);
  std::vector<Value> valores = {
      Value::Real(2.675, 2), Value::Real(-0.125, 2),        Value::Real(1e15 + 0.5, 1),
      Value::Real(0.1, 20),  Value::Real(123456789.123, 3), Value::Real(2.5, 0),
      Value(0.1 + 0.2)};
  for (int i = 0; i < 3000; ++i) {
    double magnitud = std::pow(10.0, static_cast<int>(rng() % 18) - 4);
    double d = (static_cast<double>(rng() % 2000001) - 1000000.0) / 1000000.0 * magnitud;
    valores.push_back(Value::Real(d, static_cast<int>(rng() % 9)));
  }
  for (const Value& v : valores) {
    ctx->ResetAcumuladores();
    ctx->PushRegistroDetalle(Value::NewMap({{"L.v", v}}), 0, 1);
    ctx->AcumularDetalle();
    ctx->PopRegistroDetalle();
    Value esperado =
        Add(Value(0), v.Double() == std::trunc(v.Double()) ? IntPart(v) : ReadNumber(PlainText(v)));
    ASSERT_EQ(ExprText(ctx->GetAcumuladores().Get("SUM.x")), ExprText(esperado))
        << PlainText(v) << " " << v.Decimals();
    ASSERT_EQ(ctx->GetAcumuladores().Get("SUM.x").Double(), esperado.Double()) << PlainText(v);
  }
}

TEST(TContextoEjecucion, AccumulatorResetsAndCarriedSums) {
  Value carried = J(R"({"SUM.t":5})");
  Value opciones = Value::NewMap({{"hAcumVars", J(R"({"t":{"formula":"1"}})")},
                                  {"hAcumuladoresIniciales", carried},
                                  {"lOmitirResetInicialAcumuladores", true}});
  auto ctx = MakeRef<TContextoEjecucion>(MakeRef<ConectorFijo>(J("{}")), Evaluador(), opciones);
  ctx->Create();
  ctx->ResetAcumuladores();  // skipped once
  EXPECT_EQ(E(opciones.Get("lOmitirResetInicialAcumuladores")), "false");
  Acumular(*ctx, "{}");
  EXPECT_EQ(E(carried), R"({"SUM.t":6})");  // the caller's map grows
  EXPECT_EQ(E(ctx->EvaluarFormula(Value("SUM.t"))), "6");
  ctx->ResetAcumuladores();
  EXPECT_EQ(E(ctx->GetAcumuladores()), "{}");
  EXPECT_EQ(E(ctx->EvaluarFormula(Value("SUM.t"))), "0");

  ctx->ResetAcumuladoresSeleccionados(J(R"(["total","SUM.neto","",5,"sum.x"])"));
  EXPECT_EQ(E(ctx->GetAcumuladores()), R"({"SUM.total":0,"SUM.neto":0,"SUM.sum.x":0})");
  ctx->ResetAcumuladoresSeleccionados(Value("total"));  // not a list: nothing
  EXPECT_EQ(ctx->GetAcumuladores().Len(), 3u);
}

TEST(TContextoEjecucion, ResetNamesFindTheirAccumulatorInAnyLetterCase) {
  auto ctx = Contexto("{}", R"({"hAcumVars":{"REGION":{"formula":"1"},"a":{"formula":"1"},
      "A":{"formula":"1"},"sum.x":{"formula":"1"},"x":{"formula":"1"}}})");
  const struct {
    const char* nombre;
    const char* clave;
  } casos[] = {
      {"region", "SUM.REGION"},     {"Region", "SUM.REGION"}, {"SUM.region", "SUM.REGION"},
      {"sum.Region", "SUM.REGION"}, {"a", "SUM.a"},           {"A", "SUM.A"},
      {"sum.x", "SUM.sum.x"},       {"SUM.X", "SUM.x"},       {"nada", "SUM.nada"},
      {"SUM.nada", "SUM.nada"},
  };
  for (const auto& c : casos) EXPECT_EQ(ctx->ClaveReset(c.nombre), c.clave) << c.nombre;
  Acumular(*ctx, "{}");
  ctx->ResetAcumuladoresSeleccionados(J(R"(["region","nada"])"));
  EXPECT_EQ(E(ctx->GetAcumuladores()),
            R"({"SUM.REGION":0,"SUM.a":1,"SUM.A":1,"SUM.sum.x":1,"SUM.x":1,"SUM.nada":0})");
  // New options bring other accumulators: the names are found again.
  ctx->SetOpciones(J(R"({"hAcumVars":{"Region":{"formula":"1"}}})"));
  ctx->Create();
  EXPECT_EQ(ctx->ClaveReset("REGION"), "SUM.Region");
}

TEST(TContextoEjecucion, TextStatesKeepTheSumsOfTheirMoment) {
  auto ctx = Contexto("{}", R"({"hAcumVars":{"t":{"formula":"L.n"}}})");
  auto text = [](std::string_view id) { return Value::NewMap({{"id", id}, {"texto", ""}}); };
  ctx->GuardarEstadoTexto(text("a"));
  ctx->GuardarEstadoTexto(text("b"));
  Acumular(*ctx, R"({"L.n":4})");
  ctx->GuardarEstadoTexto(text("c"));
  ctx->GuardarEstadoTexto(Value::NewMap({{"id", 7}}));  // no text id: nothing kept
  Acumular(*ctx, R"({"L.n":1})");
  const Value& states = ctx->GetEstadosTexto();
  EXPECT_EQ(E(states), R"({"a":{},"b":{},"c":{"SUM.t":4}})");
  EXPECT_TRUE(states.Get("a").SameRef(states.Get("b")));  // unchanged sums share one copy

  // The page-number pass shows a kept state: adopted as it is, and read by the formulas.
  ctx->SetAcumuladores(states.Get("c"));
  EXPECT_EQ(E(ctx->EvaluarFormula(Value("SUM.t"))), "4");
  ctx->Create();
  EXPECT_EQ(E(ctx->GetEstadosTexto()), "{}");
}

TEST(TContextoEjecucion, AccumulationWithoutACachedSetReadsTheReducedSet) {
  // Without a cached set the accumulation reads the accumulators under their
  // own keys (an accumulator without a value is absent, not 0) and no bare
  // user variables; with a cached set it reads that set.
  auto ctx = Contexto("{}", R"j({"hUserVars":{"u":{"formula":"2"}},
      "hAcumVars":{"a":{"formula":"IIF(SUM.a == 0, 5, 1)"},"b":{"formula":"u"},
                   "c":{"formula":"VAR.u"}}})j");
  for (int i = 0; i < 4; ++i) Acumular(*ctx, "{}", i);
  EXPECT_EQ(E(ctx->GetAcumuladores()), R"({"SUM.a":4,"SUM.c":8})");
  ctx->PushRegistroDetalle(J("{}"), 4, 10);
  ctx->EvaluarFormula(Value("1"));
  ctx->AcumularDetalle();
  EXPECT_EQ(E(ctx->GetAcumuladores()), R"({"SUM.a":5,"SUM.c":10,"SUM.b":2})");
}

TEST(TContextoEjecucion, ContinuationsAndConsumedRecords) {
  auto ctx =
      Contexto("{}", R"({"nRegistroBase":40,"hContinuacionesTabla":{"T0":{"nRegistro":1}}})");
  ctx->SetContinuacionTabla(Value("T1"), Value(-3), Value(2.9));
  EXPECT_EQ(E(ctx->GetContinuacionTabla(Value("T1"))), R"({"nRegistro":0,"nLinea":2})");
  EXPECT_EQ(E(ctx->GetContinuacionTabla(Value("T2"))), "{}");
  ctx->ClearContinuacionTabla(Value("T2"));
  ctx->SetContinuacionTabla(Value("T0"), 12, 1);
  EXPECT_EQ(E(ctx->hOpciones.Get("hContinuacionesTabla")), R"({"T0":{"nRegistro":1}})");
  Value copia = ctx->GetContinuacionesTabla();
  copia.Set("T1", Value(1));
  EXPECT_EQ(E(ctx->GetContinuacionesTabla()),
            R"({"T0":{"nRegistro":12,"nLinea":1},"T1":{"nRegistro":0,"nLinea":2}})");
  ctx->ClearContinuacionTabla(Value("T0"));
  EXPECT_EQ(ctx->GetContinuacionesTabla().Len(), 1u);

  EXPECT_EQ(ctx->GetRegistrosDetalleConsumidosRuntime(), 0);
  for (int i = 40; i <= 44; ++i) ctx->MarcarRegistroDetalleConsumido(i);
  EXPECT_EQ(ctx->GetRegistrosDetalleConsumidosRuntime(), 5);
  ctx->MarcarRegistroDetalleConsumido(43);
  EXPECT_EQ(ctx->GetRegistrosDetalleConsumidosRuntime(), 5);
  ctx->Create();  // a new execution starts afresh
  EXPECT_EQ(ctx->GetRegistrosDetalleConsumidosRuntime(), 0);
  EXPECT_EQ(E(ctx->GetContinuacionesTabla()), R"({"T0":{"nRegistro":1}})");
}

// Tables at different places in the records: the page consumed what the one furthest
// behind printed, whatever the others marked; the states travel as deep copies.
TEST(TContextoEjecucion, TableStatesCountTheTableFurthestBehind) {
  auto ctx = Contexto("{}", R"({"nRegistroBase":8,"hEstadosTabla":{"R":{"nRegistro":20}}})");
  EXPECT_EQ(E(ctx->GetEstadoTabla(Value("R"))), R"({"nRegistro":20})");
  EXPECT_TRUE(ctx->GetEstadoTabla(Value("L")).IsNil());
  for (int i = 8; i < 20; ++i) ctx->MarcarRegistroDetalleConsumido(i);
  EXPECT_EQ(ctx->GetRegistrosDetalleConsumidosRuntime(), 12);
  Value sumas = J(R"({"SUM.N":16})");
  ctx->SetEstadoTabla(Value("L"), 16, sumas);
  EXPECT_EQ(ctx->GetRegistrosDetalleConsumidosRuntime(), 8);
  ctx->SetEstadoTabla(Value("R"), 20, J("{}"));
  EXPECT_EQ(ctx->GetRegistrosDetalleConsumidosRuntime(), 8);
  // Kept as given: the table's live sums.
  EXPECT_TRUE(ctx->GetEstadoTabla(Value("L")).Get("hAcumuladores").SameRef(sumas));
  Value copia = ctx->GetEstadosTabla();
  Value copiadas = copia.Get("L").Get("hAcumuladores");
  copiadas.Set("SUM.N", Value(0));
  EXPECT_EQ(
      E(ctx->GetEstadosTabla()),
      R"({"R":{"nRegistro":20,"hAcumuladores":{}},"L":{"nRegistro":16,"hAcumuladores":{"SUM.N":16}}})");
  ctx->Create();  // a new execution takes the option's states again
  EXPECT_EQ(ctx->GetRegistrosDetalleConsumidosRuntime(), 0);
  EXPECT_EQ(E(ctx->GetEstadosTabla()), R"({"R":{"nRegistro":20}})");
}

TEST(TContextoEjecucion, AnAdditionTriedIsTakenBack) {
  auto ctx = Contexto("{}", R"({"hAcumVars":{"a":{"formula":"L.x"},"b":{"formula":"1"}},
      "hAcumuladoresIniciales":{"SUM.a":4}})");
  std::vector<Value> guardadas;
  ctx->GuardarAcumuladores(guardadas);
  ctx->PushRegistroDetalle(J(R"({"L.x":3})"), 0, 1);
  ctx->AcumularDetalle();
  EXPECT_EQ(E(ctx->EvaluarFormula(Value("SUM.a + SUM.b"))), "8");
  ctx->RestaurarAcumuladores(guardadas);
  // The value changed in place is put back, the accumulator the addition made is gone, and
  // formulas see it at once.
  EXPECT_EQ(E(ctx->GetAcumuladores()), R"({"SUM.a":4})");
  EXPECT_EQ(E(ctx->EvaluarFormula(Value("SUM.a + SUM.b"))), "4");
  ctx->AcumularDetalle();
  EXPECT_EQ(E(ctx->GetAcumuladores()), R"({"SUM.a":7,"SUM.b":1})");
}

TEST(TContextoEjecucion, TheLastPageIsKnownOnlyWithTheTotal) {
  struct Row {
    const char* opciones;
    bool ultima;
  } rows[] = {
      {R"({})", true},  // page 1 of 1, the total taken as known
      {R"({"nPaginaActualRuntime":2,"nTotalPaginasRuntime":3})", false},
      {R"({"nPaginaActualRuntime":3,"nTotalPaginasRuntime":3})", true},
      {R"({"nPaginaActualRuntime":3,"nTotalPaginasRuntime":3,"lTotalPaginasConocido":false})",
       false},
      {R"({"nPaginaActualRuntime":3,"nTotalPaginasRuntime":3,"lTotalPaginasConocido":1})", false},
      {R"({"nPaginaActualRuntime":2,"nTotalPaginasRuntime":3,"nUltimaPaginaRuntime":2})", true},
      {R"({"nPaginaActualRuntime":1,"nTotalPaginasRuntime":3,"nUltimaPaginaRuntime":2})", false},
  };
  for (const Row& r : rows) {
    auto ctx = Contexto("{}", r.opciones);
    EXPECT_EQ(ctx->EsUltimaPagina(), r.ultima) << r.opciones;
    EXPECT_EQ(ctx->EvaluarFormula(Value("LASTPAGE()")).Bool(), r.ultima) << r.opciones;
  }
}

// ---------------------------------------------------------------------------
// Evaluation entry points

TEST(TContextoEjecucion, FormulaResultsWithTheirErrors) {
  auto ctx = Contexto(R"({"G.a":2})", "{}");
  Value ok = ctx->EvaluarFormulaConEstado(Value("G.a + 1"));
  EXPECT_EQ(E(ok), R"({"valor":3,"lError":false,"cError":""})");
  Value err = ctx->EvaluarFormulaConEstado(Value("NOSUCH"));
  EXPECT_EQ(E(err), R"({"valor":"[Variable no encontrada: NOSUCH]","lError":true,)"
                    R"("cError":"[Variable no encontrada: NOSUCH]"})");
  EXPECT_EQ(E(ctx->GetAvisos()),
            R"(["Error de formula: NOSUCH -> [Variable no encontrada: NOSUCH]"])");

  Value plan = ctx->CompilarPlanFormula(Value("G.a"));
  EXPECT_TRUE(plan.IsObject());
  EXPECT_EQ(E(ctx->EvaluarPlanFormula(plan, Value("ignored"))), "2");
  EXPECT_EQ(E(ctx->EvaluarPlanFormula(Value(), Value("G.a + 2"))), "4");
  EXPECT_TRUE(ctx->CompilarPlanFormula(Value("G.a * 2")).IsNil());
  EXPECT_EQ(E(ctx->EvaluarPlanFormulaConEstado(plan, Value("G.a"))),
            R"({"valor":2,"lError":false,"cError":""})");
  EXPECT_EQ(E(ctx->EvaluarTexto(Value("G.a > 1"))), R"("true")");
}

TEST(TContextoEjecucion, WithoutAnEvaluatorFormulasAnswerTheirText) {
  auto ctx = MakeRef<TContextoEjecucion>(MakeRef<ConectorFijo>(J("{}")), nullptr, J("{}"));
  EXPECT_EQ(E(ctx->EvaluarFormula(Value("1+1"))), R"("1+1")");
  EXPECT_EQ(E(ctx->EvaluarTexto(Value("x"))), R"("x")");
  EXPECT_TRUE(ctx->CompilarPlanFormula(Value("x")).IsNil());
  EXPECT_EQ(E(ctx->EvaluarPlanFormula(Value(), Value("x"))), R"("x")");
  EXPECT_EQ(E(ctx->EvaluarFormulaConEstado(Value("1+1"))),
            R"({"valor":"1+1","lError":false,"cError":""})");
  EXPECT_EQ(E(ctx->EvaluarCondicion(Value(".F."))),
            R"({"lVisible":true,"cMotivo":"","lError":false,"cError":""})");
  EXPECT_TRUE(ctx->CumpleCondicion(Value(".F.")));
  EXPECT_TRUE(ctx->CumpleCondicionConEstado(Value(".F."), J("{}")));
}

TEST(TContextoEjecucion, ConditionResultsWithTheirReasons) {
  struct Row {
    const char* condicion;
    const char* expected;
  };
  Row rows[] = {
      {"", R"({"lVisible":true,"cMotivo":"","lError":false,"cError":""})"},
      {"G.a > 1", R"({"lVisible":true,"cMotivo":"","lError":false,"cError":""})"},
      {"G.a > 5", R"({"lVisible":false,"cMotivo":"condicion falsa","lError":false,"cError":""})"},
      {"G.t", R"({"lVisible":false,"cMotivo":"condicion no valida","lError":false,"cError":""})"},
      {"NOSUCH", R"({"lVisible":false,"cMotivo":"condicion no valida","lError":true,)"
                 R"("cError":"[Variable no encontrada: NOSUCH]"})"},
  };
  auto ctx = Contexto(R"({"G.a":2,"G.t":"a[b"})", "{}");
  for (const Row& r : rows) {
    EXPECT_EQ(E(ctx->EvaluarCondicion(Value(r.condicion))), r.expected) << r.condicion;
  }
  EXPECT_TRUE(ctx->CumpleCondicion(Value("G.a > 1")));
  EXPECT_FALSE(ctx->CumpleCondicionConEstado(Value("NOSUCH"), Value()));
}

TEST(TContextoEjecucion, ExtraStateHoldsForOneConditionOnly) {
  auto ctx = Contexto("{}", R"j({"hUserVars":{"ultima":{"formula":"LASTPAGE()"}}})j");
  Value sinUltima = J(R"({"lLastPageDisponible":false})");
  EXPECT_FALSE(ctx->CumpleCondicionConEstado(Value("LASTPAGE()"), sinUltima));
  EXPECT_TRUE(ctx->lEvaluatorStateSynchronized);  // the plain state was sent again
  EXPECT_TRUE(ctx->CumpleCondicion(Value("LASTPAGE()")));
  // The variable set taken for the condition holds the plain state's values,
  // so later formulas do not see the last-page test disabled.
  ctx->PushRegistroDetalle(J("{}"), 0, 1);
  EXPECT_EQ(E(ctx->EvaluarCondicionConEstado(Value("ultima"), sinUltima).Get("lVisible")), "true");
  EXPECT_EQ(E(ctx->EvaluarFormula(Value("ultima"))), "true");
  EXPECT_EQ(E(ctx->GetVariables().Get("ultima")), "true");
  // The formula text itself, evaluated under the extra state, still sees it.
  EXPECT_FALSE(ctx->CumpleCondicionConEstado(Value("VAR.ultima"), sinUltima));
  EXPECT_TRUE(ctx->CumpleCondicion(Value("VAR.ultima")));
}

TEST(TContextoEjecucion, WorksOverTheRecordConnector) {
  auto conector = MakeRef<TConectorDatosReg>();
  conector->SendDataVar(J(R"([{"grupo":"CLIENTE","nombre":"nombre"}])"), J(R"([["Ana"]])"));
  conector->SendDataLine(J(R"([{"grupo":"L","nombre":"f"}])"), J(R"([["r1"],["r2"]])"));
  auto ctx = MakeRef<TContextoEjecucion>(conector, Evaluador(), J("{}"));
  ASSERT_NE(ctx->Create(), nullptr);
  EXPECT_TRUE(ctx->GetData().SameRef(conector->hDatos));
  EXPECT_EQ(E(ctx->GetVariables()), R"({"CLIENTE.nombre":"Ana","L.f":"r1"})");
  Value registros = conector->GetRegistrosDetalle();
  ctx->PushRegistroDetalle(registros.AsList()[1], 1, 2, registros.AsList()[0]);
  EXPECT_EQ(E(ctx->EvaluarFormula(Value("L.f + '/' + PREVIOUS(L.f)"))), R"("r2/r1")");
  ctx->PopRegistroDetalle();
  // A new send reaches the next set built.
  conector->SendDataLine(J(R"([{"grupo":"L","nombre":"f"}])"), J(R"([["r9"]])"));
  ctx->PushVariablesLocales(J("{}"));
  EXPECT_EQ(E(ctx->GetVariables()), R"({"CLIENTE.nombre":"Ana","L.f":"r9"})");
}

TEST(TContextoEjecucion, MembersOfTheWrongKindCountAsEmpty) {
  auto ctx = Contexto("{}", R"({"hAcumVars":{"n":{"formula":"1"}}})");
  ctx->hAcumuladores = Value(5);
  ctx->aVariablesLocales = Value("x");
  ctx->hContinuacionesTabla = Value();
  ctx->aAvisos = Value(1);
  ctx->PopVariablesLocales();
  ctx->PushRegistroDetalle(J(R"({"L.a":1})"), 0, 1);
  ctx->AcumularDetalle();
  ctx->ClearContinuacionTabla(Value("T"));
  ctx->AddAviso(Value("w"));
  EXPECT_EQ(E(ctx->GetVariables()), R"({"SUM.n":1,"L.a":1})");
  EXPECT_EQ(E(ctx->GetAvisos()), R"(["w"])");
}

TEST(TContextoEjecucion, NotesStayInTheListButAreNoWarnings) {
  auto ctx = Contexto("{}", "{}");
  auto avisos = [&] {
    std::string out;
    ctx->RecorrerAvisos([&](std::string_view t) { out.append(t).append(";"); });
    return out;
  };
  ctx->AddAviso(Value("a"));
  ctx->AddNota(Value("nota"));
  const size_t marca = ctx->MarcaAvisos();
  ctx->AddAviso(Value("b"));
  ctx->AddNota(Value("otra"));
  EXPECT_EQ(E(ctx->GetAvisos()), R"(["a","nota","b","otra"])");
  EXPECT_EQ(avisos(), "a;b;");
  ctx->DeshacerAvisos(marca);
  ctx->AddAviso(Value("c"));
  EXPECT_EQ(E(ctx->GetAvisos()), R"(["a","nota","c"])");
  EXPECT_EQ(avisos(), "a;c;");
  ctx->Create();
  ctx->AddAviso(Value("d"));
  EXPECT_EQ(avisos(), "d;");
}

TEST(TContextoEjecucion, BookkeepingModeAndProgress) {
  auto ctx = Contexto("{}", R"({"modoEjecucion":"DISENADOR"})");
  EXPECT_EQ(ctx->GetModoEjecucion(), "DISENADOR");
  EXPECT_FALSE(ctx->EsModoDisenador());
  ctx->hOpciones.Set("modoEjecucion", Value("disenador"));
  EXPECT_TRUE(ctx->EsModoDisenador());
  ctx->hOpciones.Set("modoEjecucion", Value(1));
  EXPECT_EQ(ctx->GetModoEjecucion(), "real");
  EXPECT_TRUE(ctx->CapaActiva(nullptr));

  ctx->SetErrorCriticoComposicion(Value("  "));
  EXPECT_FALSE(ctx->HasErrorCriticoComposicion());
  ctx->SetErrorCriticoComposicion(Value(" A "));
  ctx->SetErrorCriticoComposicion(Value("B"));
  EXPECT_EQ(ctx->GetErrorCriticoComposicion(), "A");
  EXPECT_EQ(E(ctx->GetAvisos()), R"(["A"])");
  ctx->DescartarObjeto(nullptr, Value("condicion falsa"));
  EXPECT_EQ(E(ctx->GetDescartados()),
            R"([{"id":"","tipo":"","nombre":"","motivo":"condicion falsa","condicion":""}])");

  EXPECT_FALSE(ctx->TieneProgreso());
  EXPECT_TRUE(ctx->InformarRegistroExaminado(1));  // no callable: go on
  struct Row {
    Value answer;
    bool goOn;
  };
  Row rows[] = {{Value(), true},
                {Value(0), true},
                {Value("false"), true},
                {Value(false), false},
                {Value(true), true}};
  for (const Row& r : rows) {
    int64_t seen = -1;
    Value answer = r.answer;
    ctx->hOpciones.Set("bProgressRecord", Value::Function([&](std::span<const Value> args) {
                         seen = args.empty() ? -2 : args[0].Int();
                         return answer;
                       }));
    ctx->hOpciones.Set("bProgressPage", ctx->hOpciones.Get("bProgressRecord"));
    EXPECT_EQ(ctx->InformarRegistroExaminado(7), r.goOn) << E(r.answer);
    EXPECT_EQ(seen, 7);
    EXPECT_EQ(ctx->InformarPaginaGenerada(3), r.goOn);
    EXPECT_EQ(seen, 3);
  }
  ctx->hOpciones.Set("lProgressActive", Value(true));
  EXPECT_TRUE(ctx->TieneProgreso());
  ctx->Create();
  EXPECT_EQ(ctx->GetAvisos().Len(), 0u);
  EXPECT_FALSE(ctx->HasErrorCriticoComposicion());
}

TEST(TContextoEjecucion, PrototypesOfTheSameKeysShareOneKeyTable) {
  auto ctx = Contexto("{}", "{}");
  const Value first = J(R"({"id":"a","x":1,"texto":"uno"})");
  EXPECT_TRUE(ctx->CompartirClaves(first).SameRef(first));  // the first of its keys stays itself
  const Value same = ctx->CompartirClaves(J(R"({"id":"b","x":2.50,"texto":"dos"})"));
  EXPECT_EQ(same.AsMap().KeyTableIdentity(), first.AsMap().KeyTableIdentity());
  EXPECT_EQ(E(same), R"({"id":"b","x":2.50,"texto":"dos"})");
  EXPECT_EQ(E(first), R"({"id":"a","x":1,"texto":"uno"})");
  // Other keys, or the same keys in another order, keep a table of their own.
  for (std::string_view other : {R"({"x":1,"id":"a","texto":"uno"})", R"({"id":"a","x":1})"}) {
    const Value map = ctx->CompartirClaves(J(other));
    EXPECT_NE(map.AsMap().KeyTableIdentity(), first.AsMap().KeyTableIdentity()) << other;
    EXPECT_EQ(E(map), E(J(other)));
  }
  EXPECT_EQ(E(ctx->CompartirClaves(Value(3))), "3");
}

}  // namespace
}  // namespace kx
