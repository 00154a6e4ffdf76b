// The engine a host drives: one report job at a time, from the template and
// the job's data to a renderable document.
//
//   TKXEngine engine;                 // New + Init
//   engine.Create().OpenJob("informe.lbl");
//   engine.SendDataVar("CAB", fields).SendDetalle("LIN", row)...;
//   engine.CloseJob();
//   Ref<TDocumentoRenderizable> doc = engine.RunEngine();
//   ... read doc->TotalPaginas(), doc->GetPagina(n), the diagnostics, GetAvisos() ...
//   engine.End();
//
// Nothing here throws; a failed run answers no document and leaves its
// message in cLastError. Memory running out inside a run is such a failure;
// inside OpenJob or an input call it fails the job's run, with its reason.
//
// Threads: engines share nothing with each other, so a host may run one
// engine per thread, all at once. One engine, with its documents and every
// value it answers or was sent, belongs to one thread at a time: it may move
// to another thread between calls, but is never called from two threads at
// once, and none of those values is used on another thread meanwhile (so
// one value is not sent to engines on two threads; each thread builds its
// own).
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
  // Runs the job: the renderable document, or nothing on failure or cancel. A
  // template that was named or handed over and gives none (no such file, an
  // unreadable, empty or blank one, text that is no JSON object, the KX12
  // kind) fails the run; with no template source at all the report is empty.
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
  // Template from text, cut before a "[UserSection]" line, without a leading
  // byte-order mark (the kind tests read past one too).
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
  // The last run's warnings [{"cAviso", "nVeces"}]: each text once, first seen first, counted
  // on the pages kept (re-rendered, measured or exported work adds only texts unseen there).
  Value GetAvisos() const;
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
  // The private operations are the engine's own algorithms; what is only
  // their implementation lives in TKXEngineInterno.h.
  class Interno;

  // Running a job.
  // RunEngine's run itself; RunEngine answers for the exceptions it lets out.
  Ref<TDocumentoRenderizable> EjecutarTrabajo();
  // `textStates`, when given, receives the execution's text states (see GuardarEstadoTexto).
  Value EjecutarMotorResultado(const Value& options, const Value& rows, Ref<TPlantilla> plantilla,
                               Value* textStates = nullptr);
  // Nothing calls it: the document of one execution, for a caller that needs no more.
  Ref<TDocumentoRenderizable> EjecutarMotor(const Value& options, const Value& rows);
  // `lastPage`: with a total, the page the measuring pass found the tables finish on.
  Ref<TDocumentoRenderizable> GenerarPaginasRuntime(const Value& total,
                                                    const Ref<TPlantilla>& plantilla,
                                                    int64_t lastPage = 0);
  Ref<TDocumentoRenderizable> AdjuntarDatosTabulares(Ref<TDocumentoRenderizable> document,
                                                     const Ref<TPlantilla>& plantilla);
  bool EsDocumentoEtiquetas(const Ref<TPlantilla>& plantilla) const;
  Value RegistrosDetalleRuntime() const;
  Ref<TPlantilla> CrearPlantilla() const;
  Ref<TConectorDatosReg> CrearConector(const Value& rows) const;

  // Last-page finalisation and page-number patching.
  bool UsaPaginacionPrevia(const Ref<TPlantilla>& plantilla) const;
  static bool ContieneFuncionPaginacionPrevia(const Value& value, int depth = 0);
  static bool PermiteFinalizacionSelectiva(const Value& value, std::string_view key, int depth = 0);
  // `tableStates`: where each table that lists the records stood at `base` (see hEstadosTabla).
  Ref<TDocumentoRenderizable> FinalizarPaginacionRuntime(Ref<TDocumentoRenderizable> document,
                                                         int64_t base, const Value& sums,
                                                         const Value& continuations,
                                                         const Value& tableStates,
                                                         const Ref<TPlantilla>& plantilla,
                                                         const Value& records, int64_t firstPage);
  void ActualizarTextosPaginacion(const Ref<TDocumentoRenderizable>& document, int64_t total,
                                  const Ref<TPlantilla>& plantilla, const Value& records);
  static bool ActualizarTextoPaginacion(Value object, TContextoEjecucion& context,
                                        const Value& records);
  static int64_t IndiceRegistroRender(std::string_view id);

  // Template source and encodings.
  static std::string ExtraerJsonPlantilla(const Value& text);
  static std::string NormalizarEncoding(const Value& name);
  static std::string RutaPlantilla(const Value& name);

  // Input buffers.
  Value ConvertirEntradaUtf8(const Value& value) const;
  Value NormalizarCamposEntrada(const Value& fields) const;
  Value NormalizarValorEntrada(const Value& value) const;
  TKXEngine& ResetBuffersDatos();
  void AcumularDataVar(const std::string& group, const Value& field, const Value& value);
  void AcumularEstructuraDetalle(const std::string& group, const Value& fields);
  void AcumularDetalle(const std::string& group, const Value& fields);
  static Value EstructuraCampo(const std::string& group, const std::string& field,
                               const Value& value);
  static std::string InferirTipoDato(const Value& value);
  static int64_t InferirLongitudDato(const Value& value);
  static int64_t InferirDecimalesDato(const Value& value);
  static std::string NormalizarNombre(std::string_view x);

  // Template analysis and ask strings.
  static std::string NormalizarVariable(const Value& name);
  void AnalizarPlantilla(const Value& map);
  void AnalizarNodoPlantilla(const Value& node, int depth);
  static bool EsClaveExpresion(std::string_view key);
  void AnalizarExpresion(std::string_view text);
  void AnalizarAskStringsNodo(const Value& node, const std::string& variable, int depth = 0);
  void ExtraerAskStrings(std::string_view text, const std::string& variable);
  static std::vector<std::string> SepararArgumentosAskString(std::string_view text);
  void RegistrarAskString(std::string_view call, const std::vector<std::string>& arguments,
                          const std::string& variable);
  static Value EvaluarParametroAskString(const std::string& text, const Value& def);
  void RegistrarVariable(std::string_view name);
  static bool EsInicioIdentificador(char c);
  static bool EsCaracterIdentificador(char c);

  // The text form the whole facade uses for names and values.
  static std::string ValueString(const Value& v) { return kx::ValueString(v); }

  // Progress.
  TKXEngine& ResetProgress();
  Value ApplyProgressOptions(Value& options);
  bool NotifyProgress(const Value& line, const Value& total, const Value& pages, bool forced);
  Ref<TDocumentoRenderizable> FinishProgress(Ref<TDocumentoRenderizable> document);

  // Logical documents.
  void LoadLogicalDocumentBreak(const Ref<TPlantilla>& plantilla);
  // The break of a group and its fields (a list, or a text joined by "+"); an empty map for none.
  static Value NormalizeLogicalDocumentBreak(const Value& group, const Value& fields);
  // The 0-based detail columns of the break's fields; none, with cLastError, when one is missing.
  std::vector<size_t> LogicalDocumentFieldIndexes(const Value& brk);
  static std::string LogicalDocumentRecordKey(const Value& row,
                                              const std::vector<size_t>& positions);
  // The runs of consecutive records with equal keys, as LogicalDocumentRange maps.
  Value LogicalDocumentRanges();
  // The job's input for the records first..last (1-based) into the child, with
  // its variable changes already re-based to it.
  void CloneLogicalDocumentInput(TKXEngine& child, int64_t first, int64_t last,
                                 const Value& changes) const;
  Ref<TDocumentoRenderizable> GenerarDocumentosLogicos(const Ref<TPlantilla>& plantilla);

  bool lProgressDefinitive = true;
  bool lProgressNotified = false;
  int64_t nProgressLine = 0;
  int64_t nProgressTotal = 0;
  int64_t nProgressPages = 0;
  double nProgressLastTime = 0.0;

  // The state behind the members and the implementation's own (TKXEngineInterno.h).
  std::unique_ptr<Interno> oInterno_;
};

}  // namespace kx
