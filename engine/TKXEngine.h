// The engine a host drives: one report job at a time, from the template and
// the job's data to a renderable document.
//
//   TKXEngine engine;                 // New + Init
//   engine.Create().OpenJob("informe.lbl");
//   engine.SendDataVar("CAB", fields).SendDetalle("LIN", row)...;
//   engine.CloseJob();
//   Ref<TDocumentoRenderizable> doc = engine.RunEngine();
//   ... read doc->TotalPaginas(), doc->GetPagina(n), the diagnostics ...
//   engine.End();
//
// Nothing here throws; a failed run answers no document and leaves its
// message in cLastError.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "TDocumentoRenderizable.h"
#include "TPlantilla.h"
#include "Value.h"

namespace kx {

class TConectorDatosReg;
class TContextoEjecucion;
class TEvaluadorFormulas;
class TImageCache;
class TMotorComposicion;
class TMotorEjecucion;
class TMotorPaginacion;

class TKXEngine {
 public:
  explicit TKXEngine(const Value& cTemplate = Value());
  ~TKXEngine();
  TKXEngine(const TKXEngine&) = delete;
  TKXEngine& operator=(const TKXEngine&) = delete;

  // Resets every member; ends nothing.
  TKXEngine& Init(const Value& cTemplate);
  TKXEngine& Create() { return *this; }
  // Releases the result document and the template, then resets the engine.
  void End();

  // Opens a job: resolves and builds the template, analyses it, empties the input buffers.
  TKXEngine& OpenJob(const Value& cTemplate = Value());
  // Ends the input and answers the job summary.
  Value CloseJob();
  // Runs the job: the renderable document, or nothing on failure or cancel.
  Ref<TDocumentoRenderizable> RunEngine();
  // Empties the input buffers; the job stays open or closed as it was.
  TKXEngine& ReleaseInputData();
  // The host's progress callback (nLine, nTotal, nPages); a logical false answer cancels.
  TKXEngine& SetProgressCallback(const Value& callback);
  // The last run was cancelled through the callback.
  bool WasCanceled() const { return lCanceled; }

  // Printing is not available: the OperationResult saying so.
  Value Print() const;
  // Exporting is not available: the OperationResult saying so.
  Value Export(const Value& format) const;

  TKXEngine& SetEncodingWIN();
  TKXEngine& SetEncodingUTF8();
  // False (with cEncodingError) when either name is not accepted.
  bool SetEncoding(const Value& input, const Value& output);
  bool SetInputEncoding(const Value& name);
  bool SetOutputEncoding(const Value& name);

  // Template from a file name (looked up as given, then under "lbl").
  TKXEngine& SetPlantillaName(const Value& name);
  // Template from text, cut before a "[UserSection]" line.
  TKXEngine& SetPlantillaContent(const Value& text);
  // The template text of the current source ("" when there is none).
  std::string GetPlantillaContent() const;
  // The text is a JSON template of this engine's own kind.
  bool IsPlantillaKXTarvex(const Value& text) const;
  // The text is a template of the foreign KX12 kind.
  bool IsPlantillaKX12(const Value& text) const;
  // "KXTARVEX", "KX12" or "DESCONOCIDO".
  std::string GetTipoPlantilla(const Value& text) const;

  // Data input; ignored unless a job is open, the group is not empty and the fields are a map.
  TKXEngine& SendDataVar(const Value& group, const Value& fields);
  TKXEngine& SendDataVarAt(const Value& detailIndex, const Value& group, const Value& fields);
  TKXEngine& SendDetalleSchema(const Value& group, const Value& fields);
  TKXEngine& SendDetalle(const Value& group, const Value& fields);

  // A logical-document break by detail fields; takes effect when set after OpenJob.
  TKXEngine& SetLogicalDocumentBreak(const Value& group, const Value& fields);
  TKXEngine& DisableLogicalDocumentBreak();

  // Timing of SendDetalle on (only for the logical true) or off.
  TKXEngine& SetInputDiagnostics(const Value& on);
  // Copies of the three diagnostics maps.
  Value GetInputDiagnostics() const { return DeepClone(hInputDiagnostics); }
  Value GetPaginationDiagnostics() const { return DeepClone(hPaginationDiagnostics); }
  Value GetPerformanceDiagnostics() const { return DeepClone(hPerformanceDiagnostics); }
  // The engine's build identifier.
  std::string GetBuildId() const { return "20260830-logical-documents-v2"; }

  // Template analysis: the variables the template uses and those not sent.
  bool IsUsedVar(const Value& name) const;
  Value GetVariablesUsadas() const;
  Value GetVariablesFaltantes() const;
  // Ask-string prompts of the template, and their answers.
  Value GetAskStrings();
  bool HasAskStrings();
  TKXEngine& SetAskStringValue(const Value& key, const Value& answer);
  TKXEngine& SetAskStringValues(const Value& answers);
  // Whether the data covers every variable the template uses.
  Value ValidarDatos() const;

  // Position of the first label on the first sheet.
  TKXEngine& SetEtiquetaInicial(const Value& label);
  // The paper and label sheet of a label template.
  Value GetLabelPrintLayout();
  // The result document of the last run, or nothing.
  Ref<TDocumentoRenderizable> GetDocumento() const { return oDocumento; }

  // Whether a page-loop step that consumed `consumed` records made no progress:
  // nothing consumed and the table continuations unchanged, or nothing
  // consumed for more steps in a row than any split record can need.
  // `stepsWithoutConsuming` counts those steps across calls.
  static bool EsPasoEstancado(int64_t consumed, const Value& continuations, const Value& previous,
                              int64_t& stepsWithoutConsuming);

  // The text form the whole facade uses for names and values.
  static std::string ValueString(const Value& v) { return kx::ValueString(v); }

  // Members, public as a host reads them.
  std::string cPlantilla;
  std::string cPlantillaContent;
  std::string cPlantillaMode = "PlantillaName";
  std::string cInputEncoding = "WINDOWS-1252";
  std::string cOutputEncoding = "WINDOWS-1252";
  std::string cEncodingError;
  std::string cLastError;
  bool lJobAbierto = false;
  // Options that persist over the job and are cloned into every run; a host may set its keys.
  Value hOpcionesRuntime;
  Value aStructVar;
  Value aRegVar;
  Value aDataVarChanges;
  Value hStructVarIndex;
  Value aStructLine;
  Value aRegLine;
  Value hStructLineIndex;
  Value hVariablesUsadas;
  Value hAskStrings;
  bool lAskStringsAnalizados = false;
  Ref<TPlantilla> oPlantillaRuntime;
  Ref<TDocumentoRenderizable> oDocumento;
  Value bProgressCallback;
  bool lCanceled = false;
  bool lInputDiagnostics = false;
  Value hInputDiagnostics;
  Value hPaginationDiagnostics;
  Value hPerformanceDiagnostics;
  Value hLogicalDocumentBreak;
  bool lLogicalDocumentBreakDisabled = false;

 private:
  // Running a job.
  // The collaborators of one execution, or of a whole page loop.
  struct Colaboradores {
    Ref<TConectorDatosReg> conector;
    Ref<TEvaluadorFormulas> evaluador;
    Ref<TMotorComposicion> composicion;
    Ref<TMotorPaginacion> paginacion;
    Ref<TContextoEjecucion> contexto;
    Ref<TMotorEjecucion> motor;
  };
  Colaboradores CrearColaboradores(const Value& rows, const Value& options,
                                   const Ref<TPlantilla>& plantilla) const;
  static Value CopiaOpciones(const Value& options);
  Value OpcionesPersistentes() const;
  void EscribirClavesProyecto(Value& options, bool always) const;
  // `textStates`, when given, receives the execution's text states (see GuardarEstadoTexto).
  Value EjecutarMotorResultado(const Value& options, const Value& rows, Ref<TPlantilla> plantilla,
                               Value* textStates = nullptr);
  Ref<TDocumentoRenderizable> EjecutarMotor(const Value& options, const Value& rows);
  Ref<TConectorDatosReg> CrearConector(const Value& rows) const;
  Value RegistrosDetalleRuntime() const;
  bool EsDocumentoEtiquetas(const Ref<TPlantilla>& plantilla) const;
  Ref<TDocumentoRenderizable> AdjuntarDatosTabulares(Ref<TDocumentoRenderizable> document,
                                                     const Ref<TPlantilla>& plantilla);
  // `lastPage`: with a total, the page the measuring pass found the tables finish on.
  Ref<TDocumentoRenderizable> GenerarPaginasRuntime(const Value& total,
                                                    const Ref<TPlantilla>& plantilla,
                                                    int64_t lastPage = 0);
  void SumarRendimientoPaso(const Value& pass);
  void SumarRendimiento(std::string_view key, double amount);

  // Last-page finalisation and page-number patching.
  bool UsaPaginacionPrevia(const Ref<TPlantilla>& plantilla) const;
  static bool ContieneFuncionPaginacionPrevia(const Value& value, int depth = 0);
  static bool PermiteFinalizacionSelectiva(const Value& value, std::string_view key, int depth = 0);
  // A page-number text of a page: its 1-based position, the rendered map, and
  // the sums in force when it was rendered.
  struct TextoPaginacion {
    int64_t nIndice = 0;
    Value hTexto;
    Value hSumas;
  };
  // The state a page of the result was made from: its chunk's first record,
  // its height as its execution laid it out, and its page-number texts, found
  // when the page was added, so the page-number pass reads no page.
  struct EstadoPagina {
    int64_t nBase = 0;
    double nAlto = 0.0;
    std::vector<TextoPaginacion> aTextos;
  };
  // `sums` stand for texts the execution kept no state for.
  static EstadoPagina EstadoDePagina(int64_t base, const Value& sums, double height,
                                     const Value& objects, const Value& textStates);
  Ref<TDocumentoRenderizable> FinalizarPaginacionRuntime(Ref<TDocumentoRenderizable> document,
                                                         int64_t base, const Value& sums,
                                                         const Value& continuations,
                                                         const Ref<TPlantilla>& plantilla,
                                                         const Value& records, int64_t firstPage);
  Value OpcionesReejecucion(int64_t base, const Value& sums, const Value& continuations,
                            int64_t page, int64_t total, int64_t lastPage,
                            const Ref<TPlantilla>& plantilla, const Value& records) const;
  Value FilaDesde(int64_t base) const;
  Ref<TDocumentoRenderizable> EjecutarComoPaginas(Value& options, int64_t base, int64_t page,
                                                  int64_t span, const Ref<TPlantilla>& plantilla,
                                                  Value& result, Value& textStates);
  void ReemplazarPaginas(const Ref<TDocumentoRenderizable>& document, int64_t page,
                         const Ref<TDocumentoRenderizable>& rendered, int64_t base,
                         const Value& sums, const Value& textStates);
  void ActualizarTextosPaginacion(const Ref<TDocumentoRenderizable>& document, int64_t total,
                                  const Ref<TPlantilla>& plantilla, const Value& records);
  static bool EsTextoPaginacion(const Value& object);
  static bool ActualizarTextoPaginacion(Value object, TContextoEjecucion& context,
                                        const Value& records);
  static int64_t IndiceRegistroRender(std::string_view id);

  // Template source and kinds.
  static std::string ExtraerJsonPlantilla(const Value& text);
  static std::string NormalizarEncoding(const Value& name);
  static std::string RutaPlantilla(const Value& name);
  Ref<TPlantilla> CrearPlantilla() const;

  // Input buffers.
  struct InputKeyCache;
  struct InputKey;
  Value ConvertirEntradaUtf8(const Value& value) const;
  Value NormalizarValorEntrada(const Value& value) const;
  std::string NormalizarClaveEntrada(std::string_view key) const;
  Value NormalizarCamposEntrada(const Value& fields) const;
  static std::string NormalizarNombre(std::string_view x);
  std::string NormalizarGrupo(const Value& group) const;
  bool InputAccepted(const std::string& group, const Value& fields) const;
  void AcumularDataVar(const std::string& group, const Value& field, const Value& value);
  void AcumularEstructuraDetalle(const std::string& group, const Value& fields);
  size_t AddDetailColumn(const std::string& group, const std::string& field,
                         const std::string& indexKey, const Value& value);
  void AcumularDetalle(const std::string& group, const Value& fields);
  bool AcumularDetalleRapido(const std::string& group, const Value& rawFields);
  InputKey& CachedInputKey(const std::string& group, std::string_view raw, size_t slot);
  static Value EstructuraCampo(const std::string& group, const std::string& field,
                               const Value& value);
  static std::string InferirTipoDato(const Value& value);
  static int64_t InferirLongitudDato(const Value& value);
  static int64_t InferirDecimalesDato(const Value& value);
  TKXEngine& ResetBuffersDatos();

  // Template analysis and logical documents.
  void LoadLogicalDocumentBreak(const Ref<TPlantilla>& plantilla);
  static std::string NormalizarVariable(const Value& name);
  void AnalizarPlantilla(const Value& map);
  void AnalizarNodoPlantilla(const Value& node, int depth);
  static bool EsClaveExpresion(std::string_view key);
  void AnalizarExpresion(std::string_view text);
  void RegistrarVariable(std::string_view name);
  void AnalizarAskStringsNodo(const Value& node, const std::string& variable, int depth = 0);
  void ExtraerAskStrings(std::string_view text, const std::string& variable);
  static std::vector<std::string> SepararArgumentosAskString(std::string_view text);
  void RegistrarAskString(std::string_view call, const std::vector<std::string>& arguments,
                          const std::string& variable);
  static Value EvaluarParametroAskString(const std::string& text, const Value& def);
  // The template of the current source: the job's own while the source is
  // unchanged since OpenJob, else a temporary one the caller ends.
  Ref<TPlantilla> PlantillaActual(bool& temporary) const;

  // Progress.
  TKXEngine& ResetProgress();
  bool NotifyProgress(const Value& line, const Value& total, const Value& pages, bool forced);
  Value ApplyProgressOptions(Value& options);
  Ref<TDocumentoRenderizable> FinishProgress(Ref<TDocumentoRenderizable> document);

  static Value InitialPaginationDiagnostics();
  static Value InitialPerformanceDiagnostics();
  static Value InitialInputDiagnostics();

  std::unique_ptr<InputKeyCache> oInputKeyCache;
  // Image files resolved by this engine's runs, shared by every execution context until End.
  Ref<TImageCache> oCacheImagenes;
  // Per page of the last page loop's result, the state it was made from.
  std::vector<EstadoPagina> aEstadosPagina;
  // The page the last page loop's tables finished on, where LASTPAGE holds
  // (0: its final page).
  int64_t nUltimaPagina = 0;
  // The template source has not changed since the job's template was built.
  bool lPlantillaRuntimeActual = false;
  bool lProgressDefinitive = true;
  bool lProgressNotified = false;
  int64_t nProgressLine = 0;
  int64_t nProgressTotal = 0;
  int64_t nProgressPages = 0;
  double nProgressLastTime = 0.0;
};

}  // namespace kx
