// The execution context of one execution: the only road by which report
// objects, tables, the label run and the engine facade reach the data and the
// formula language. It holds the run's options, builds the variable set that
// every formula is evaluated against, keeps the page state, the current
// detail record and a stack of local variable frames, applies the variable
// changes sent for later records, keeps the evaluator's execution state in
// step, and carries the accumulators, table continuations and states, consumed records,
// warnings, discarded objects, the first critical composition error and the
// progress callbacks of the run.
//
// The variable set (`GetVariables`) is built from six layers, in this order:
//  1. the connector's variables (copied);
//  2. the variable changes in force at the record position (merged);
//  3. "VAR." + name -> the formula TEXT of every user variable (assigned);
//  4. "SUM." + name -> the current value of every accumulator, 0 when none (assigned);
//  5. the local frames, bottom first (merged frame after frame);
//  6. with an evaluator, each user variable's bare name -> its evaluated value, unless the
//     name is already an exact key (assigned, in definition order).
// "Assigned" keeps an exactly equal key in its place and appends any other;
// "merged" drops every key whose trimmed upper-cased form the layer also has
// and appends the layer's entries with their own spelling.
//
// The answer of `GetVariables` is the context's own map, updated in place from
// record to record (its keys keep their positions while the keys of the
// layers stay the same): callers read it during one evaluation and never
// change it or keep it across a change of the context.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "TConectorDatos.h"
#include "TEvaluadorFormulas.h"
#include "Value.h"

namespace kx {

// The prepared form of one accumulator definition.
struct AccumulatorRuntimePlan {
  std::string cClave;                    // "SUM." + the definition's name
  std::string cFormula;                  // the text form of its "formula"
  FormulaPlanRef oPlan;                  // the compiled plan, or null when the formula gave none
  std::string cCondicionClave;           // a conditional plan's condition key, else ""
  bool lCondicional = false;             // the plan is usable and an "if"
  bool lPlanUsable = false;              // there is a compiled plan to evaluate
  SimpleAccumulatorPlanRef oPlanSimple;  // a conditional plan's simple form, or null
  bool lSimpleUsable = false;            // the simple plan can be evaluated
  bool lFalsoEsCero = false;             // the simple plan's false branch is the number 0
};

class TContextoEjecucion : public KXObject {
 public:
  explicit TContextoEjecucion(Ref<TConectorDatos> conector = nullptr,
                              Ref<TEvaluadorFormulas> evaluador = nullptr,
                              const Value& opciones = Value());
  ~TContextoEjecucion() override;
  TContextoEjecucion(const TContextoEjecucion&) = delete;
  TContextoEjecucion& operator=(const TContextoEjecucion&) = delete;
  std::string_view ClassName() const override { return "TContextoEjecucion"; }

  // ---- Lifecycle, options and collaborators

  // Stores the three and sets every member to its initial value.
  TContextoEjecucion& Init(Ref<TConectorDatos> conector, Ref<TEvaluadorFormulas> evaluador,
                           const Value& opciones);
  // Prepares an execution from the options; nullptr (and no change) without connector or
  // evaluator.
  TContextoEjecucion* Create();
  // Drops both collaborators (without ending them) and empties every member.
  void End();
  // A new connector; the variable set is rebuilt at the next use.
  TContextoEjecucion& SetConectorDatos(Ref<TConectorDatos> conector);
  // A new evaluator: drops the accumulator plans and hands it the options.
  TContextoEjecucion& SetEvaluador(Ref<TEvaluadorFormulas> evaluador);
  // New options (a non-map gives an empty map), shared with the evaluator; plans wait for Create.
  TContextoEjecucion& SetOpciones(const Value& opciones);
  // The live options map.
  const Value& GetOpciones() const { return hOpciones; }

  // ---- Variables, frames, records and page state

  // The variable set of the six layers, cached until something it depends on changes.
  Value GetVariables();
  // The connector's raw report data, or an empty map without a connector.
  Value GetData() const;
  // Pushes a map (an empty map for anything else) as the top local frame.
  TContextoEjecucion& PushVariablesLocales(const Value& frame);
  // Removes the top local frame; nothing on an empty stack.
  TContextoEjecucion& PopVariablesLocales();
  // Current page := max(1, Int(page)); total := max(1, Int(total)), 1 for nothing.
  TContextoEjecucion& SetEstadoPagina(const Value& pagina, const Value& total);
  // Makes the record current (0-based global index, record count, neighbours) and pushes it as
  // a frame.
  TContextoEjecucion& PushRegistroDetalle(const Value& registro, const Value& indice,
                                          const Value& total, const Value& anterior = Value(),
                                          const Value& siguiente = Value());
  // Pops the top frame and leaves no current record.
  TContextoEjecucion& PopRegistroDetalle();

  // ---- Accumulators, table continuations and consumed records

  // The live accumulator map "SUM." name -> number.
  const Value& GetAcumuladores() const { return hAcumuladores; }
  // Empties the accumulators, except once when the options carry sums over.
  TContextoEjecucion& ResetAcumuladores();
  // Sets the named accumulators to 0 (each name as ClaveReset reads it).
  TContextoEjecucion& ResetAcumuladoresSeleccionados(const Value& nombres);
  // The accumulator key a reset name stands for: the running sum whose key is "SUM." + the name
  // (or the name itself when it begins with "SUM."), in any letter case, as formulas read it;
  // a name that matches none is "SUM." + the name as written ("SUM." not doubled).
  const std::string& ClaveReset(std::string_view nombre) const;
  // Adds the current record's contribution to every accumulator, or, given flags (one per
  // accumulator plan, as MarcarSumasLeidas sets them), to the flagged ones only.
  TContextoEjecucion& AcumularDetalle(const std::vector<char>* solo = nullptr);
  // Sets a table's continuation {"nRegistro", "nLinea"} (non-negative integers).
  TContextoEjecucion& SetContinuacionTabla(const Value& idTabla, const Value& registro,
                                           const Value& lineas);
  // A table's continuation, or a new empty map.
  Value GetContinuacionTabla(const Value& idTabla) const;
  // Removes a table's continuation when present.
  TContextoEjecucion& ClearContinuacionTabla(const Value& idTabla);
  // A deep copy of every table continuation.
  Value GetContinuacionesTabla() const;
  // Raises the highest consumed record index to Int(index).
  TContextoEjecucion& MarcarRegistroDetalleConsumido(const Value& indice);
  // Records consumed counted from the option "nRegistroBase": once a table that lists the
  // job's records has said where it goes on (SetEstadoTabla), what the one furthest behind
  // printed, so a table that runs ahead never makes another one skip records.
  int64_t GetRegistrosDetalleConsumidosRuntime() const;
  // A table's state {"nRegistro": the record it goes on with, "hAcumuladores": its own
  // running sums, and "lUltimasPendientes" true when its records are printed but its
  // last-page lines are not}, or nothing when it has not printed yet in this run.
  const Value& GetEstadoTabla(const Value& idTabla) const;
  // Sets a table's state; the sums map is kept as it is given (the live one while the
  // table accumulates); the record is what the page consumed, when no table is further behind.
  TContextoEjecucion& SetEstadoTabla(const Value& idTabla, int64_t registro, const Value& sumas,
                                     bool pendiente = false);
  // A deep copy of every table state, for the next execution.
  Value GetEstadosTabla() const;
  // Adopts the map (not a copy) as the accumulators: the page-number pass
  // shows each text with the sums that were in force where it was printed.
  TContextoEjecucion& SetAcumuladores(const Value& sumas);
  // The accumulators' values in their order, for RestaurarAcumuladores: a record's addition
  // tried to see which lines follow it is taken back without a copy of the map.
  void GuardarAcumuladores(std::vector<Value>& valores) const;
  // Puts back the values kept by GuardarAcumuladores, dropping accumulators added since.
  TContextoEjecucion& RestaurarAcumuladores(const std::vector<Value>& valores);

  // ---- State kept for the page-number pass

  // Keeps, under the rendered text's id, the sums in force now: a text whose
  // formula uses a page count is evaluated again once the total is known, and
  // must show the sums of its own place then. Texts sent in a row with the
  // same sums share one copy.
  TContextoEjecucion& GuardarEstadoTexto(const Value& renderizable);
  // Rendered text id -> the sums kept for it in this execution.
  const Value& GetEstadosTexto() const;
  // Rendered text id -> what LASTPAGE answered in its table's lines (true or false), for
  // the texts rendered while a table set it (SetUltimaPaginaTabla).
  const Value& GetUltimaPaginaTextos() const;

  // ---- Evaluation entry points

  // The formula's value (its own text without an evaluator).
  Value EvaluarFormula(const Value& formula);
  // The formula's value as text (the text itself without an evaluator).
  Value EvaluarTexto(const Value& texto);
  // The evaluator's compiled plan of the formula, or nothing.
  Value CompilarPlanFormula(const Value& formula);
  // The value of a compiled plan, or of the formula when the plan is none.
  Value EvaluarPlanFormula(const Value& plan, const Value& formula);
  // {"valor", "lError", "cError"} of a plan or formula; an error adds a warning.
  Value EvaluarPlanFormulaConEstado(const Value& plan, const Value& formula);
  // The same answer as three values, for callers that evaluate once per cell
  // and need no map: the value, whether it is an error, and the error text.
  void EvaluarPlanFormulaConEstado(const Value& plan, const Value& formula, Value& valor,
                                   bool& lError, Value& cError);
  // {"valor", "lError", "cError"} of a formula.
  Value EvaluarFormulaConEstado(const Value& formula);
  // {"lVisible", "cMotivo", "lError", "cError"} of a condition, with extra evaluator state for
  // this condition only (a map of state keys, or nothing).
  Value EvaluarCondicionConEstado(const Value& condicion, const Value& estadoExtra);
  // {"lVisible", "cMotivo", "lError", "cError"} of a condition.
  Value EvaluarCondicion(const Value& condicion);
  // The condition holds under the extra evaluator state.
  bool CumpleCondicionConEstado(const Value& condicion, const Value& estadoExtra);
  // The condition holds (always without an evaluator).
  bool CumpleCondicion(const Value& condicion);

  // ---- Warnings, discards, critical error, mode and progress

  // Appends a warning text.
  void AddAviso(const Value& texto);
  // Appends a note to the warning list: a text that reports nothing wrong (a table line left
  // out by its false condition), which the run's warnings for the host leave out.
  void AddNota(const Value& texto);
  // The live warning list (notes included).
  const Value& GetAvisos() const { return aAvisos; }
  // Calls `f` with every warning text that is no note, in the order they were added.
  template <class F>
  void RecorrerAvisos(F&& f) const;
  // How many warnings and notes there are, for DeshacerAvisos.
  size_t MarcaAvisos() const { return aAvisos.IsList() ? aAvisos.Len() : 0; }
  // Drops the warnings and notes added since the mark: what was only measured, or left whole
  // for the next page, says its warnings where it is printed.
  void DeshacerAvisos(size_t marca);
  // Records a report object left out, with the reason.
  void DescartarObjeto(const KXObject* objeto, const Value& motivo);
  // The live list of discard records {"id", "tipo", "nombre", "motivo", "condicion"}.
  const Value& GetDescartados() const { return aDescartados; }
  // Every object's layer is active.
  bool CapaActiva(const KXObject* objeto) const;
  // Stores the first non-blank critical composition error (also as a warning).
  TContextoEjecucion& SetErrorCriticoComposicion(const Value& mensaje);
  // A critical composition error is stored.
  bool HasErrorCriticoComposicion() const { return !cErrorCriticoComposicion.empty(); }
  // The stored critical composition error, "" when none.
  const std::string& GetErrorCriticoComposicion() const { return cErrorCriticoComposicion; }
  // The option "modoEjecucion" when a text, else "real".
  std::string GetModoEjecucion() const;
  // The run mode is exactly "disenador".
  bool EsModoDisenador() const;
  // The page is known to be the document's last one: the total is known and the page is
  // the one LASTPAGE holds on (as it answers without a current record).
  bool EsUltimaPagina() const;
  // What LASTPAGE answers in the lines of the table being rendered: a table that lists the
  // job's records has a last page of its own, where it prints its last record and its
  // last-page lines (1 there, 0 on its other pages); -1 leaves LASTPAGE to the document.
  TContextoEjecucion& SetUltimaPaginaTabla(int ultima);
  int GetUltimaPaginaTabla() const { return nUltimaPaginaTabla; }
  // A table moved records off its last page to make room for its last-page lines; how many
  // times in this execution.
  void AnotarDivisionUltimaPagina() { ++nDivisionesUltimaPagina; }
  int64_t GetDivisionesUltimaPagina() const { return nDivisionesUltimaPagina; }
  // The formula may read a running sum or a user variable ("SUM.", "VAR.", "@" or the bare
  // name of one of the options' user variables, in any letter case).
  bool FormulaLeeSumaOVariable(std::string_view formula) const;
  // Flags, in `leidas` (one flag per accumulator plan), every running sum the formula can
  // read: through "SUM." and "@" names, and through the formulas of the user variables and
  // running sums it reaches in turn, names matched in any letter case.
  void MarcarSumasLeidas(std::string_view formula, std::vector<char>& leidas) const;
  // The flagged running sums hold one of these names (as reset lines give them, "SUM." or not).
  bool NombraSumaLeida(const Value& nombres, const std::vector<char>& leidas) const;
  // The option "lProgressActive" is the logical true.
  bool TieneProgreso() const;
  // Reports a record examined; false asks the caller to stop.
  bool InformarRegistroExaminado(int64_t n);
  // Reports a page generated; false asks the caller to stop.
  bool InformarPaginaGenerada(int64_t n);

  // ---- Shared caches

  // The map, or a copy of it holding its values whose key table is shared
  // with an earlier map given here with the same keys in the same order: the
  // rendered maps copied from such prototypes are one layout wherever they
  // are compared, written or read. A map that is no map passes unchanged.
  Value CompartirClaves(const Value& map);

  // The image cache of the engine that runs this context (kept over `Create`, dropped by `End`);
  // report objects that do not find it resolve their images without one.
  TContextoEjecucion& SetCacheImagenes(Ref<KXObject> cache);
  KXObject* GetCacheImagenes() const { return oCacheImagenes.get(); }

  // ---- Members, in declaration order

  Ref<TConectorDatos> oConectorDatos;
  Ref<TEvaluadorFormulas> oEvaluador;
  Value aAvisos;
  Value aDescartados;
  Value hOpciones;
  Value aVariablesLocales;
  Value hAcumuladores;
  Value hAccumulatorFormulaPlans;  // formula text -> compiled plan, or false
  std::vector<AccumulatorRuntimePlan> aAccumulatorRuntimePlans;
  Value hVariablesCache;
  Value hDataVarRuntimeCache;
  int64_t nDataVarChangeCursor = 0;
  int64_t nDataVarActiveIndex = -1;
  int64_t nDataVarChangesCount = -1;
  std::optional<bool> lDataVarChangesOrdered;  // nothing: not yet known
  int64_t nPaginaActual = 1;
  int64_t nTotalPaginas = 1;
  int64_t nIndiceRegistro = -1;
  int64_t nTotalRegistros = 0;
  Value hRegistroAnterior;   // read-only: the record given, or the context's own empty map
  Value hRegistroSiguiente;  // read-only, likewise
  bool lEvaluatorStateSynchronized = false;
  int64_t nUltimoRegistroConsumido = -1;
  Value hContinuacionesTabla;
  // Table id -> state (see GetEstadoTabla): copied from the option "hEstadosTabla" at Create.
  Value hEstadosTabla;
  // The smallest record a table said it goes on with in this execution; -1 before any did.
  int64_t nMenorRegistroTabla = -1;
  int nUltimaPaginaTabla = -1;  // see SetUltimaPaginaTabla
  int64_t nDivisionesUltimaPagina = 0;
  std::string cErrorCriticoComposicion;
  bool lCreated = false;
  Ref<KXObject> oCacheImagenes;

 private:
  struct Estado;  // the layered variable set and its version counters

  void Sanear();
  void InvalidarVariables();
  void SincronizarEstadoEvaluador(const Value& estadoExtra = Value());
  const Value& VariablesDataVarRuntime();
  void PrepareAccumulatorRuntimePlans();
  const Value& VariablesAcumulacion();
  // The context's own variable set, built when none is kept: valid until the context changes.
  const Value& VariablesVigentes();
  const Value& VariablesParaEvaluar();

  std::unique_ptr<Estado> oEstado_;
  // The positions in aAvisos of the notes, in ascending order.
  std::vector<size_t> aNotas_;
};

template <class F>
void TContextoEjecucion::RecorrerAvisos(F&& f) const {
  const List* avisos = aAvisos.ListPtr();
  if (!avisos) return;
  size_t nota = 0;
  for (size_t i = 0; i < avisos->size(); ++i) {
    if (nota < aNotas_.size() && aNotas_[nota] == i) {
      ++nota;
      continue;
    }
    const Value& texto = (*avisos)[i];
    if (texto.IsText()) f(texto.Str());
  }
}

}  // namespace kx
