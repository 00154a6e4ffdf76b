// What the engine facade's source files share and a host need not see: the
// state behind the class's members (input key caches, the image cache, the
// states the pages of a run were made from), the collaborators of one
// execution, the building of run options, and the reasons and modes that the
// diagnostics report. The facade's sources, by concern:
//  - TKXEngine.cpp: lifecycle, encodings, template source and kinds, labels;
//  - TKXEngineEntrada.cpp: job data input;
//  - TKXEngineAnalisis.cpp: template analysis, required variables and ask strings;
//  - TKXEngineProgreso.cpp: progress reporting;
//  - TKXEngineEjecucion.cpp: run modes and single executions;
//  - TKXEnginePaginas.cpp: the page loop;
//  - TKXEngineUltimaPagina.cpp: last-page finalisation and page-number patching;
//  - TKXEngineDocumentosLogicos.cpp: logical documents, one child engine each;
//  - TKXEngineAvisos.cpp: the warnings of a run.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "TConectorDatosReg.h"
#include "TContextoEjecucion.h"
#include "TEvaluadorFormulas.h"
#include "TImageCache.h"
#include "TKXEngine.h"
#include "TMotorComposicion.h"
#include "TMotorEjecucion.h"
#include "TMotorPaginacion.h"

namespace kx {

namespace facade {

// A run that answers no document says why; only a cancel stays silent.
inline constexpr std::string_view kSinDocumento =
    "No se ha podido generar el documento del informe.";
// A run, or an input call, that memory ran out in; any other exception from
// inside the engine is an internal error, this and then what it says.
inline constexpr std::string_view kMensajeSinMemoria =
    "No hay memoria suficiente para generar el informe.";
inline constexpr std::string_view kMensajeSinMemoriaEntrada =
    "No hay memoria suficiente para recibir los datos del trabajo.";
inline constexpr std::string_view kMensajeErrorInterno = "Error interno del motor: ";
// A named template that cannot be used: this, then its name or what was wrong with it.
inline constexpr std::string_view kPlantillaNoCargada =
    "No se ha podido cargar la plantilla del informe: ";
inline constexpr std::string_view kContenidoNoValido = "contenido no valido";
inline constexpr std::string_view kPlantillaKX12 = "plantilla de tipo KX12 no admitida";

// The host's progress callback is called at most this often; the first
// notification and the forced ones (a pass starting, the run ending) always
// reach it.
inline constexpr double kIntervaloProgresoMs = 500.0;

// A job with this many detail records spools its pages from the first one.
inline constexpr int64_t kRegistrosParaSpooling = 20000;
// Any other document spools once it holds this many rendered objects.
inline constexpr int64_t kObjetosParaSpooling = 50000;

// The table timings of the performance diagnostics, in their order: each
// execution's pass adds its own timing of the same key to them.
inline constexpr const char* kClavesTablaMs[] = {
    "nTableSetupMs",       "nTableRecordLoopMs",  "nTableFinishMs",    "nTablePartitionMs",
    "nTableRenderLinesMs", "nTableCellContentMs", "nTableAccumulateMs"};

// Ends an object from a destructor, which may run while memory has run out
// and must not throw: End resets the object's members to fresh ones, which
// allocates. A second try, once the failed request has unwound, mostly finds
// the memory; failing that, what the object still holds goes with its
// last reference.
template <class Objeto>
void TerminarSinExcepcion(Objeto& objeto) noexcept {
  try {
    objeto.End();
  } catch (...) {
    try {
      objeto.End();
    } catch (...) {
    }
  }
}

// Why a page loop ended, as the pagination diagnostics report it.
enum class Terminacion : uint8_t {
  kNoIniciada,
  kEnCurso,
  kTodoConsumido,
  kTodoConsumidoTrasDividirUltima,
  kDetenidaAntesDeTerminar,
  kErrorComposicion,
  kCancelada,
  kFalloGeneracion,
  kErrorSpooling,
  kEstancada,
  kTodosDocumentosLogicos,
  kSinMemoria,
  kErrorInterno,
};
// The diagnostics text of a reason.
std::string_view TextoTerminacion(Terminacion terminacion);

// How a run went, as the performance diagnostics report it.
enum class ModoEjecucion : uint8_t {
  kNoIniciado,
  kIniciando,
  kErrorValidacion,
  kEtiquetasOSinDetalle,
  kSinPaginacionPrevia,
  kFinalizacionSelectiva,
  kDosPasadas,
  kErrorComposicion,
  kDocumentosLogicos,
};
// The diagnostics text of a mode.
std::string_view TextoModo(ModoEjecucion modo);

Value InitialInputDiagnostics();
Value InitialPaginationDiagnostics();
Value InitialPerformanceDiagnostics();

// A copy of run options in which an execution may change every key: the
// record list, the variable changes and the template's variable definitions,
// which it only reads, stay shared (so the variable layers a context built
// on those definitions still stand for the copy).
Value CopiaOpciones(const Value& options);

// Whether a page-loop step that consumed `consumed` records made no progress:
// nothing consumed and the table continuations unchanged, or nothing
// consumed for more steps in a row than any split record can need.
// `stepsWithoutConsuming` counts those steps across calls.
bool EsPasoEstancado(int64_t consumed, const Value& continuations, const Value& previous,
                     int64_t& stepsWithoutConsuming);
// The same, for a step that `moved` on without consuming (a table split a
// record, or went on in the records while another one stood still).
bool EsPasoEstancado(int64_t consumed, bool moved, int64_t& stepsWithoutConsuming);
// A table's continuation is not what it was.
bool ContinuacionesCambiaron(const Value& continuations, const Value& previous);
// Some table goes on with another record than it did, or has printed its last-page lines
// since (table states of two steps).
bool TablasAvanzaron(const Value& states, const Value& previous);
// Some table state says its last-page lines are still to print.
bool UltimasPendientes(const Value& states);
// Some object of the template prints the job's detail records one by one (a
// table with detail or group lines): a run that leaves records unprinted has
// lost them. A template without one consumes none by design.
bool PlantillaListaRegistros(const Ref<TPlantilla>& plantilla);

// The warnings of a run as the host reads them (GetAvisos): each distinct text
// once, in the order first seen, with how many times it occurred in the work
// that made the pages, or, for a text only work that repeats it gave (a page
// rendered again, a measuring pass, an export), as often as the one such work
// that gave it most. Texts past the first kMaxListados are counted, not kept.
class RegistroAvisos {
 public:
  static constexpr size_t kMaxListados = 100;

  void Vaciar();
  // One occurrence of the text.
  void Anadir(std::string_view texto);
  // Every warning of an execution's context, its notes left out.
  void AnadirContexto(const TContextoEjecucion& contexto);
  // Another registry's texts with their counts: as occurrences of this work, or, when
  // `repaso`, as the count of work that repeats it (the largest such count stands for a
  // text this work did not give).
  void Fusionar(const RegistroAvisos& otro, bool repaso);
  // [{"cAviso", "nVeces"}, ...]; past kMaxListados texts, then one entry
  // {"cAviso": "Otros N avisos distintos", "nVeces": how often they occurred}.
  Value Lista() const;

 private:
  struct Entrada {
    uint64_t nHash = 0;
    std::string cTexto;     // kept for the first kMaxListados texts only
    int64_t nVeces = 0;     // occurrences in the work that made the pages
    int64_t nRepetido = 0;  // the most any work that repeats it gave
    int64_t Veces() const { return nVeces > 0 ? nVeces : nRepetido; }
  };
  Entrada& Buscar(uint64_t hash, std::string_view texto);

  std::vector<Entrada> aEntradas_;  // in the order first seen
  // A text is known by its 64-bit hash: a run gives far too few texts for two to share one.
  std::unordered_map<uint64_t, size_t> hPosiciones_;
};

// Where one execution of the page loop, or one re-run of its last pages, starts.
struct PuntoEjecucion {
  int64_t nBase = 0;            // the first record not yet consumed
  Value aRegistros;             // every detail record of the job, one shared list
  Value hSumas;                 // the accumulators carried over
  Value hContinuaciones;        // the table continuations carried over
  Value hEstadosTabla;          // where each table that lists the records goes on, its sums
  int64_t nPagina = 1;          // the number of the first page it makes
  int64_t nTotalPaginas = 1;    // the page total it states
  bool lTotalConocido = false;  // the total is known
  int64_t nUltimaPagina = 0;    // the page LASTPAGE holds on; 0: the total decides
};

}  // namespace facade

class TKXEngine::Interno {
 public:
  explicit Interno(TKXEngine& engine);
  ~Interno();

  // ---- Input buffers (TKXEngineEntrada.cpp)

  // One raw field key as a group's records send it: its folded spelling, its
  // index key and its column, found once and then reused for every record.
  struct InputKey {
    std::string raw;
    std::string folded;
    std::string indexKey;
    size_t column = 0;  // 1-based detail column, 0 while it has none
  };
  // Per group, the keys in the order the last record sent them, so that a
  // stream of records with the same layout is matched by plain byte compares.
  struct InputKeyCache {
    bool utf8Input = false;
    std::unordered_map<std::string, std::unique_ptr<InputKey>> byKey;  // group + '\x1F' + raw
    std::string lastGroup;
    std::vector<InputKey*> lastLayout;
    std::vector<uint64_t> written;  // per column: the record stamp that last wrote it
    uint64_t stamp = 0;
  };

  std::string NormalizarClaveEntrada(std::string_view key) const;
  std::string NormalizarGrupo(const Value& group) const;
  // The group of a detail record normalised, the last one given kept.
  const std::string& GrupoDetalle(const Value& group);
  bool InputAccepted(const std::string& group, const Value& fields) const;
  size_t AddDetailColumn(const std::string& group, const std::string& field,
                         const std::string& indexKey, const Value& value);
  bool AcumularDetalleRapido(const std::string& group, const Value& rawFields);
  InputKey& CachedInputKey(const std::string& group, std::string_view raw, size_t slot);

  // ---- Exceptions (TKXEngineEjecucion.cpp)

  // In the catch block of a run an exception ended: the run is over (what it
  // made has unwound, its collaborators ended and its documents' spools
  // erased on the way), no document is held, and cLastError and the
  // termination reason say why.
  void TerminarRunPorExcepcion(double start) noexcept;
  // Runs the body of an input call, and catches what it throws, leaving the
  // reason in cLastError. When the call may have lost what it brought
  // (`pierdeDatos`), input is ignored from then on and the job's run fails
  // with the reason, until OpenJob or ReleaseInputData.
  template <class Cuerpo>
  void EntradaProtegida(Cuerpo&& cuerpo, bool pierdeDatos = true) noexcept {
    try {
      cuerpo();
    } catch (...) {
      AnotarFalloEntrada(pierdeDatos);
    }
  }
  // In the catch block of an input call.
  void AnotarFalloEntrada(bool pierdeDatos) noexcept;

  // ---- Template (TKXEngine.cpp)

  // The job's template while the source is unchanged since OpenJob, else
  // nothing: a PlantillaDeLaEjecucion given it makes one of the current source.
  Ref<TPlantilla> PlantillaActual() const;
  // Opens a job on the template: from OpenJob with one it has just built;
  // for a logical document with the parent's (`parent`), which the child
  // borrows, never ends, and takes the analysis of instead of scanning it again.
  TKXEngine& AbrirTrabajo(const Ref<TPlantilla>& plantilla, const TKXEngine* parent);
  // Ends the job's template unless it is borrowed, and lets it go.
  void SoltarPlantilla();
  // Why a run cannot use the template, whose source gave none: the message
  // names the template file, or says the text handed over was not valid, or
  // that it is of the foreign KX12 kind.
  std::string MotivoPlantillaNoValida(const TPlantilla& plantilla) const;

  // ---- Executions (TKXEngineEjecucion.cpp)

  // The collaborators of one execution, or of a whole page loop: whoever
  // creates them ends them, in the reverse order of their creation, when the
  // set goes out of scope.
  struct Colaboradores {
    Colaboradores() = default;
    Colaboradores(const Colaboradores&) = delete;
    Colaboradores& operator=(const Colaboradores&) = delete;
    ~Colaboradores();

    Ref<TConectorDatosReg> conector;
    Ref<TEvaluadorFormulas> evaluador;
    Ref<TMotorComposicion> composicion;
    Ref<TMotorPaginacion> paginacion;
    Ref<TContextoEjecucion> contexto;
    Ref<TMotorEjecucion> motor;
  };
  // The connector (for `rows`), an evaluator and a context over the options: what an
  // export or the page-number pass evaluates with.
  void CrearContexto(Colaboradores& c, const Value& rows, const Value& options) const;
  // The whole set of one execution of the template.
  void CrearColaboradores(Colaboradores& c, const Value& rows, const Value& options,
                          const Ref<TPlantilla>& plantilla) const;

  // The template of one run, execution or template query: the one given (the
  // job's own), or one made for it alone, which is ended when it is over.
  struct PlantillaDeLaEjecucion {
    PlantillaDeLaEjecucion(const TKXEngine& engine, const Ref<TPlantilla>& given)
        : plantilla(given), lPropia(!given) {
      if (lPropia) plantilla = engine.CrearPlantilla();
    }
    PlantillaDeLaEjecucion(const PlantillaDeLaEjecucion&) = delete;
    PlantillaDeLaEjecucion& operator=(const PlantillaDeLaEjecucion&) = delete;
    ~PlantillaDeLaEjecucion() {
      if (lPropia) facade::TerminarSinExcepcion(*plantilla);
    }
    Ref<TPlantilla> plantilla;
    bool lPropia;
  };

  // A copy of the options that persist over the job.
  Value OpcionesPersistentes() const;
  // The run options of one execution: the persistent options and the keys of
  // its place in the job. The page loop hands the carried sums and
  // continuations over by reference, so the execution goes on accumulating in
  // them; a re-run gets deep copies (`copiar`), so the state it starts from
  // stays as it was for the next try.
  Value OpcionesEjecucion(const facade::PuntoEjecucion& p, const Ref<TPlantilla>& plantilla,
                          bool copiar) const;
  // The run of a job without detail records: one execution, whose pages
  // are numbered when its texts break over more than one.
  Ref<TDocumentoRenderizable> EjecucionSinDetalle(const Ref<TPlantilla>& plantilla);
  // The project path keys, when absent (or always).
  void EscribirClavesProyecto(Value& options, bool always) const;

  void SumarRendimiento(std::string_view key, double amount);
  void SumarRendimientoPaso(const Value& pass);
  // The run mode, written into the performance diagnostics.
  void EscribirModo(facade::ModoEjecucion modo);

  // The job's detail rows as `DetailRecord` maps (see RegistrosDetalleRuntime).
  Value ConstruirRegistrosDetalle() const;

  // ---- The page loop (TKXEnginePaginas.cpp)

  // The reason the page loop ended, written into the pagination diagnostics.
  void EscribirTerminacion(facade::Terminacion terminacion);
  // The result document of a run, with the paper of the first document whose
  // pages it takes; it spools its pages as the job's size asks.
  Ref<TDocumentoRenderizable> NuevoResultado(const TDocumentoRenderizable& first) const;

  // ---- Last-page finalisation (TKXEngineUltimaPagina.cpp)

  // Records were moved off a last page to make room for its last-page lines (a table's,
  // or the document's): the pagination diagnostics count it.
  void AnotarDivisionUltimaPagina();

  // A page-number text of a page: its 1-based position, the sums in force
  // when it was rendered, and the rendered map while the document holds its
  // page in memory (where the text is corrected in place); a page kept in the
  // spool takes its correction as a patch, for which the text's kind,
  // formula and id are enough, so a million spooled pages keep no maps.
  //
  // A text that may break over pages is composed once and cut into parts,
  // one a page: its first part stands for the whole, the later ones
  // (`nParte` above 1) take their part of it when it is cut again.
  struct TextoPaginacion {
    int64_t nIndice = 0;
    Value hTexto;  // the page's own map, or nothing for a spooled page
    Value cTipo, cFormula, cId;
    Value hSumas;
    int nUltimaTabla = -1;    // what LASTPAGE answered in its table's lines; -1: no table's
    bool lDivisible = false;  // it may break over pages
    int64_t nParte = 0;       // its number among the parts of a text cut over pages; 0: whole
    Value cOrigen;            // a part's text id
    Value aFinales;           // a part's paragraph ends, one per line
    // The map the correction is made on: the page's own, or one of the three keys.
    Value Objeto() const;
    // How a message names it: its id, or its formula when it has none.
    std::string Nombre() const;
  };
  // The state a page of the result was made from: its chunk's first record,
  // its height as its execution laid it out, and its page-number texts, found
  // when the page was added, so the page-number pass reads no page.
  struct EstadoPagina {
    int64_t nBase = 0;
    double nAlto = 0.0;
    std::vector<TextoPaginacion> aTextos;
  };
  // Whether formula texts use a page-count function, by the text's identity:
  // every rendered object of one template text shares its formula value, so
  // a page's objects are told apart without reading their formulas again.
  struct FormulasPaginacion {
    // Formulas seen, in slots chosen by their identity (a formula seen
    // again in a taken slot replaces the one there).
    std::array<std::pair<Value, bool>, 64> aVistas{};
    bool UsaPaginacion(const Value& formula);
    // The keys asked of every object of a page.
    KeyHint oTipo{"tipo"}, oFormula{"formula"}, oContinuacion{"nPaginaContinuacion"};
  };
  // `sums` stand for texts the execution kept no state for; `inMemory`: the
  // document holds these objects as its page (else the page is spooled).
  // `textStates`: the execution's EstadosTexto.
  EstadoPagina EstadoDePagina(int64_t base, const Value& sums, double height, const Value& objects,
                              const Value& textStates, bool inMemory);
  // What an execution kept of its page-number texts for the page-number pass: the sums in
  // force where each was rendered, and what LASTPAGE answered in its table's lines.
  static Value EstadosTexto(const TContextoEjecucion& contexto);
  // A text, or a part of a text cut over pages, that shows a page count.
  static bool EsTextoPaginacion(const Value& object, FormulasPaginacion* cache = nullptr);
  // The parts of texts cut over pages that the page-number pass has composed
  // again and whose later parts are still to come, and the first text whose
  // new composition is cut into other parts than the pages hold.
  class TextosCortados;
  // The value the text's formula takes with the final total, its record pushed.
  static Value EvaluarTextoPaginacion(const Value& object, TContextoEjecucion& context,
                                      const Value& records);
  // The detail row of the record a re-run starts at, as the connector takes it.
  Value FilaDesde(int64_t base) const;
  // Renders the pages from `page` on as `span` pages ending the document.
  Ref<TDocumentoRenderizable> EjecutarComoPaginas(Value& options, int64_t base, int64_t page,
                                                  int64_t span, const Ref<TPlantilla>& plantilla,
                                                  Value& result, Value& textStates);
  void ReemplazarPaginas(const Ref<TDocumentoRenderizable>& document, int64_t page,
                         const Ref<TDocumentoRenderizable>& rendered, int64_t base,
                         const Value& sums, const Value& textStates);

  // ---- Logical documents (TKXEngineDocumentosLogicos.cpp)

  // Gives a new child engine the parent's encodings and template source, and
  // opens its job with its own break off.
  void AbrirDocumentoLogico(TKXEngine& child, const Ref<TPlantilla>& plantilla) const;
  // Appends a child's pages to the merged document, which the first child
  // makes; false, with cLastError, when a page cannot be stored or read.
  bool FusionarDocumentoLogico(Ref<TDocumentoRenderizable>& merged, TDocumentoRenderizable& doc);
  // Adds a child's timings and counts to the run's, all but its mode and its total time.
  void SumarRendimientoHijo(const Value& performance);

  // ---- Warnings (TKXEngineAvisos.cpp)

  // While it lives, the warnings of the executions go to a registry of their
  // own, merged when it ends into the one they went to before: as work that
  // repeats what made the pages (a re-rendered page, a measuring pass, the
  // page-number pass, the export), or, once `lPaginas` is set, as work that
  // made them (a pass whose pages the run keeps).
  class AvisosAparte {
   public:
    explicit AvisosAparte(Interno& in) : in_(in), pPrevio_(in.pAvisos) { in.pAvisos = &oPropio_; }
    AvisosAparte(const AvisosAparte&) = delete;
    AvisosAparte& operator=(const AvisosAparte&) = delete;
    ~AvisosAparte();
    bool lPaginas = false;

   private:
    Interno& in_;
    facade::RegistroAvisos* pPrevio_;
    facade::RegistroAvisos oPropio_;
  };
  // Starts the warnings of a run afresh.
  void EmpezarAvisos();

  // ---- State

  std::unique_ptr<InputKeyCache> oInputKeyCache;
  // The last group name SendDetalle was given (a text), under which encoding, normalised.
  std::string cGrupoDetalleDado, cGrupoDetalle;
  bool lGrupoDetalle = false, lGrupoDetalleUtf8 = false;
  // Image files resolved by this engine's runs, shared by every execution context until End.
  Ref<TImageCache> oCacheImagenes;
  // Per page of the last page loop's result, the state it was made from.
  std::vector<EstadoPagina> aEstadosPagina;
  // Set by the page-number pass: a text cut over pages whose composition with
  // the final total is cut into other parts than its pages hold, so the
  // count it was laid out with is not the document's (how a message names
  // it); empty when every such text keeps its layout.
  std::string cTextoSinAsentar;
  FormulasPaginacion oFormulasPaginacion;
  // The detail records of the run under way, built once for the page loop,
  // the finalisation and the export; nothing between runs.
  Value aRegistrosRun;
  bool lEnRun = false;
  // The template's path as the run under way found it on disk, for the template name given.
  mutable std::string cRutaProyecto, cRutaProyectoDe;
  mutable bool lRutaProyecto = false;
  // The page the last page loop's tables finished on, where LASTPAGE holds
  // (0: its final page).
  int64_t nUltimaPagina = 0;
  // The page total the run's page loop under way was given (0: none), which
  // its last-page finalisation states on the pages that are not the last.
  int64_t nTotalDado = 0;
  // The template source has not changed since the job's template was built.
  bool lPlantillaRuntimeActual = false;
  // The warnings of the last run, and the registry an execution's warnings go to now.
  facade::RegistroAvisos oAvisos;
  facade::RegistroAvisos* pAvisos = &oAvisos;
  // The reason the last page loop ended, as written into the diagnostics.
  facade::Terminacion eTerminacion = facade::Terminacion::kNoIniciada;
  // The job's template belongs to the parent engine of a logical document.
  bool lPlantillaPrestada = false;
  // This engine renders one logical document of another engine's job.
  bool lDocumentoLogico = false;
  // An input call of the job failed, and why, for its run: the message in
  // full when there was memory for it, its fixed part always.
  bool lEntradaFallida = false;
  std::string cErrorEntrada;
  std::string_view cMensajeEntrada;
  facade::Terminacion eTerminacionEntrada = facade::Terminacion::kNoIniciada;

 private:
  TKXEngine& e;
};

}  // namespace kx
