// The formula evaluator: parses, compiles and evaluates template formulas
// against a map of variables, implements the engine functions over the
// execution state, and makes formula errors into values (texts in square
// brackets, the latest kept in `cLastError`). Nothing throws.
//
// A formula text is parsed and compiled once per evaluator: `CompileFormulaPlan`
// answers an immutable plan (`FormulaPlanRef`) that holders keep and hand
// back to `EvaluateFormulaPlan` for every record; the text entry points
// (`Evaluar`, `EvaluarFormula`, conditions) find the same plans through caches
// keyed by the exact normalised text. Texts that do not compile (arithmetic,
// parenthesised operands, atoms such as @name) get an interpreted plan of the
// evaluator's own, so no sub-text is split or looked up again per record.
//
// Variable lookups remember the key's position per plan node and validate it
// with `Map::KeyVersion`: a variable map whose values change in place (or that
// is rebuilt with the same key layout) is read without hashing.
//
// Formulas nested deeper than the plan height limit, and evaluations that
// nest too deeply through formula variables or engine functions, answer
// "[Expresion no valida: ...]" like any other invalid formula.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "FormulaPlan.h"
#include "SimpleAccumulatorPlan.h"
#include "TFuncFormulas.h"
#include "Value.h"

namespace kx {

// The sixteen colour constants ("KX.COLOR.RED" -> "#ff0000", ...), in order.
Value KXCOLORCONSTANTS();

// Evaluation nesting (plan nodes, formula variables, engine functions
// evaluating their arguments) past which a formula answers an error value.
inline constexpr int kMaxProfundidadEvaluacion = 400;

class TEvaluadorFormulas : public KXObject {
 public:
  // New: runs Init with the options (a map; anything else counts as empty).
  explicit TEvaluadorFormulas(const Value& hOpcionesIniciales = Value());
  TEvaluadorFormulas(const TEvaluadorFormulas&) = delete;
  TEvaluadorFormulas& operator=(const TEvaluadorFormulas&) = delete;
  std::string_view ClassName() const override { return "TEvaluadorFormulas"; }

  // Resets the evaluator to its initial state with the given options.
  TEvaluadorFormulas& Init(const Value& hOpcionesIniciales);
  // Makes the function library when none is held; answers the evaluator.
  TEvaluadorFormulas& Create();
  // Empties every map, ends and drops the library.
  void End();

  // Holds the run's options map (shared, not copied), reads from it the last
  // page the run has settled on, and clears the resolved formula variables.
  TEvaluadorFormulas& SetOpciones(const Value& hNuevasOpciones);
  // The execution state becomes the nine defaults with the given entries
  // assigned over them; clears the resolved formula variables.
  TEvaluadorFormulas& SetEstadoEjecucion(const Value& hEstado);
  // Forgets the values of the formula variables evaluated so far.
  TEvaluadorFormulas& ClearResolvedVariableCache();
  // What LASTPAGE answers while a table that lists the job's records renders its lines: 1 on
  // the table's own last page, 0 on its other pages, -1 for the document's rule.
  TEvaluadorFormulas& SetUltimaPaginaTabla(int ultima);
  // The plan's value may depend on the execution state, as this evaluator resolves names:
  // where the options hold no user variables, "SUM." texts are formulas as well.
  bool PlanLeeEstado(const FormulaPlan& plan) const { return plan.LeeEstado(lSumasFormula); }

  // Clears the latest error, then answers EvaluarFormula.
  Value Evaluar(const Value& formula, const Value& variables);
  // The formula's value; the latest error changes only when an error is made.
  Value EvaluarFormula(const Value& formula, const Value& variables);
  // The formula's value as text (logicals as "true" / "false").
  Value EvaluarTexto(const Value& formula, const Value& variables);
  Value ResolverTexto(const Value& formula, const Value& variables);
  // A ConditionResult {"lVisible", "cMotivo"}.
  Value EvaluarCondicion(const Value& condition, const Value& variables);
  // Whether the condition holds.
  bool CumpleCondicion(const Value& condition, const Value& variables);

  // Whether an error was made since the latest error was cleared (the
  // arguments are ignored).
  bool EsResultadoError(const Value& formula = Value(), const Value& valor = Value()) const;
  // The latest error value, "" when none.
  const std::string& GetLastError() const { return cLastError; }
  // Clears the latest error.
  TEvaluadorFormulas& ResetLastError();

  // The compiled plan of the normalised formula, or null when it does not compile.
  FormulaPlanRef CompileFormulaPlan(const Value& formula);
  // The plan's value (nothing for a null plan); the variables are a map.
  Value EvaluateFormulaPlan(const FormulaPlanRef& plan, const Value& variables);
  // The same for a plan carried in a Value; nothing for any other value.
  Value EvaluateFormulaPlan(const Value& plan, const Value& variables);
  // The simple-accumulator form of a compiled "if" plan, or null.
  SimpleAccumulatorPlanRef CompileSimpleAccumulatorPlan(const FormulaPlanRef& plan);
  // The false operand is a fixed number equal to 0.
  bool SimpleAccumulatorFalseIsZero(const SimpleAccumulatorPlanRef& plan) const;
  // Every condition holds (false for a null plan).
  bool EvaluateSimpleAccumulatorCondition(const SimpleAccumulatorPlanRef& plan,
                                          const Value& variables);
  // The operand chosen by the condition's result (nothing for a null plan).
  Value EvaluateSimpleAccumulatorValue(const SimpleAccumulatorPlanRef& plan, bool condition,
                                       const Value& variables);

  // The parse node of the text as handed over: {"tipo", ...} with the
  // sub-texts of its kind; cached by the exact text.
  Value PlanFormula(std::string_view text);
  // The normalised function name is one of the seventeen engine functions.
  static bool EsFuncionInternaMotor(std::string_view name);

 private:
  friend class TEvaluadorFormulasPrueba;  // runs the interpreter on texts that compile

  enum class EstadoCondicion : uint8_t { kCumple, kFalsa, kInvalida };

  // The decoded execution state that the engine functions read.
  struct Estado {
    int64_t nPagina = 1;
    int64_t nTotalPaginas = 1;
    bool lTotalConocido = true;
    bool lLastPageDisponible = true;
    int64_t nIndice = -1;
    int64_t nTotalRegistros = 0;
    Value hAnterior;
    Value hSiguiente;
    Value hPaginas;
  };

  // Running sums of one SUM expression that reads only record fields, kept
  // while the same record list (of the same length) is summed; a run reads
  // its detail records and never changes them.
  struct MemoSuma {
    FormulaPlanRef oRuta;
    Value aRegistros;  // the record list it belongs to
    size_t nRegistros = 0;
    bool lSoloCampos = false;
    std::vector<std::string> aCampos;                // the names it reads
    std::vector<Value> aTotales;                     // the running total after each record
    std::vector<std::pair<size_t, Value>> aErrores;  // records that made an error
    bool lDetenido = false;                          // a record lacking a field ends the memo
  };

  // Parsing and building.
  Value ClasificarFormula(std::string_view text);
  FormulaPlanRef Ruta(std::string_view text);
  FormulaPlanRef RutaNormalizada(std::string_view text);
  FormulaPlanRef Compilar(std::string_view text);
  FormulaPlanRef TextoDemasiadoProfundo(std::string_view text);
  Ref<FormulaPlan> BuildExecutablePlan(std::string_view text);
  FormulaPlanRef Interpretado(std::string_view text);
  Ref<FormulaPlan> BuildInterpretedPlan(std::string_view text);
  Ref<FormulaPlan> ConstruirAtomo(std::string_view text);
  Ref<FormulaPlan> ConstruirCondicion(std::string_view text);
  Ref<FormulaPlan> ConstruirFuncion(const Value& nodo, std::string_view text, bool compilado);
  bool ValorEstatico(std::string_view atom, Value& out) const;
  const Value* Constante(std::string_view name) const;

  // Evaluation.
  Value EvaluarInterpretado(const Value& formula, const Value& variables);
  Value EvaluarTextoFormula(std::string_view text, const Map& vars);
  Value EvaluarNodo(const FormulaPlan& n, const Map& vars);
  EstadoCondicion EvaluarCondicionNodo(const FormulaPlan& n, const Map& vars);
  EstadoCondicion CondicionDeTexto(const Value& condition, const Map& vars);
  Value EvaluarVariable(const FormulaPlan& n, const Map& vars);
  Value EvaluarSuma(const FormulaPlan& n, const Map& vars);
  Value EvaluarOperacionAritmetica(const FormulaPlan& n, const Map& vars);
  Value EvaluarFuncion(const FormulaPlan& n, const Map& vars);
  const Value* BuscarVariable(const FormulaPlan& n, const Map& vars) const;
  Value ResolveVariableValue(const FormulaPlan& n, const Value& valor, const Map& vars);
  Value ResolveVariableValue(std::string_view name, std::string_view clave, const Value& valor,
                             const Map& vars);
  bool EsFormulaDeUsuario(std::string_view name, std::string_view texto) const;
  Value ErrorValue(const Value& texto);
  Value EvaluateSimpleAccumulatorOperand(const FormulaPlanRef& operand, const Map& vars);

  // Engine functions.
  Value ResolverFuncionInternaMotor(const FormulaPlan& n, const Map& vars);
  const FormulaPlan* RutaArgumento(const FormulaPlan& n, size_t i);
  std::string_view TextoArgumento(const FormulaPlan& n, size_t i) const;
  Value EvaluarArgumento(const FormulaPlan& n, size_t i, const Map& vars);
  Value Sum(const FormulaPlan& n, const Map& vars);
  void ExtenderMemoSuma(MemoSuma& memo, const FormulaPlan& ruta, size_t hasta);
  std::string ResolverClavePaginacion(const FormulaPlan& n, const Map& vars);
  std::vector<int64_t> PaginasPorClave(std::string_view clave) const;
  int64_t PageBy(const FormulaPlan& n, const Map& vars);
  int64_t TotalPagesBy(const FormulaPlan& n, const Map& vars);
  Value AskString(const FormulaPlan& n, const Map& vars);
  Value ProjectPath(const FormulaPlan& n, const Map& vars);
  Value EvaluarExpresionRegistroRelativo(const FormulaPlan& n, const Map& vars,
                                         const Value& registro);
  Value GroupChanged(const FormulaPlan& n, const Map& vars);

  static Value EstadoEjecucionPorDefecto();
  void DecodificarEstado();

  Value hOpciones;
  Value hConstantes;
  Value hVariablesResolviendo;
  Value hEstadoEjecucion;
  Value hFormulaPlanCache;
  Value hExecutablePlanCache;
  Value hResolvedVariableCache;
  Ref<TFuncFormulas> oFuncFormulas;
  std::string cLastError;
  bool lCreated = false;

  Value hInterpretedPlanCache;  // normalised texts that do not compile -> their interpreted plan
  Value hEstadoPorDefecto;      // the nine defaults, never handed out nor changed
  static constexpr size_t kClavesEstado = 9;
  // The positions in the state of the keys of the last state map sent, so the
  // context's per-record sends write values by position; valid while that map
  // and its keys stay the same.
  const Map* pEstadoEntrada = nullptr;
  uint64_t nEstadoEntradaVersion = 0;
  std::vector<size_t> aEstadoEntradaPos;
  bool lEstadoEntradaPorPosicion = false;  // every key given is one of the nine
  std::vector<bool> aEstadoEntradaCubre;   // which of the nine the keys given fill
  Estado oEstado;
  // The option "nUltimaPaginaRuntime": the page LASTPAGE answers true from once
  // the total is known, when the last page is not the final one (a last step
  // whose long texts run on past its tables); 0 when the total decides.
  int64_t nUltimaPagina = 0;
  int nUltimaPaginaTabla = -1;  // see SetUltimaPaginaTabla
  // The options hold no user variables: every "VAR." and "SUM." text is a formula.
  bool lSumasFormula = true;
  int nProfundidad = 0;               // evaluation nesting
  int nConstruccion = 0;              // build nesting
  bool lConstruccionCortada = false;  // a build met the height limit
  uint64_t nErrores = 0;              // error values made so far
  std::vector<Value> aPilaValores;    // operands of sums and calls being evaluated
  std::string cConcatenacion;         // scratch text of a concatenation
  std::unordered_map<const FormulaPlan*, MemoSuma> oMemoSumas;
};

}  // namespace kx
