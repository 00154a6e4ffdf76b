// The engine's run modes and single executions: RunEngine chooses how to run
// the job, and each execution of the template gets its collaborators and its
// run options here.
#include <algorithm>
#include <exception>
#include <new>
#include <unordered_map>
#include <vector>

#include "Platform.h"
#include "RegistrosDetalle.h"
#include "RuntimeOptions.h"
#include "TConectorDatosReg.h"
#include "TContextoEjecucion.h"
#include "TEvaluadorFormulas.h"
#include "TImageCache.h"
#include "TKXEngineInterno.h"
#include "TMotorComposicion.h"
#include "TMotorEjecucion.h"
#include "TMotorPaginacion.h"

namespace kx {

using namespace facade;

namespace {

std::string FolderOf(const std::string& path) {
  size_t slash = path.find_last_of(platform::PathSeparator());
  return slash == std::string::npos ? "" : path.substr(0, slash);
}

std::string FileNameOf(const std::string& path) {
  size_t slash = path.find_last_of(platform::PathSeparator());
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A text cut over pages whose parts change with the page total it shows is
// laid out again with the count it gave, at most this many times: a count
// that has not settled by then ends the run.
constexpr int kMaxRemediciones = 3;

std::string TotalSinAsentar(const std::string& text) {
  return "No se ha podido fijar el total de paginas del informe: el texto " + text +
         " ocupa otras paginas con cada total.";
}

}  // namespace

namespace facade {

std::string_view TextoModo(ModoEjecucion modo) {
  switch (modo) {
    case ModoEjecucion::kNoIniciado:
      return "not-started";
    case ModoEjecucion::kIniciando:
      return "starting";
    case ModoEjecucion::kErrorValidacion:
      return "validation-error";
    case ModoEjecucion::kEtiquetasOSinDetalle:
      return "single-pass-label-or-no-detail";
    case ModoEjecucion::kSinPaginacionPrevia:
      return "single-pass-no-prepagination";
    case ModoEjecucion::kFinalizacionSelectiva:
      return "single-pass-selective-finalization";
    case ModoEjecucion::kDosPasadas:
      return "two-pass";
    case ModoEjecucion::kErrorComposicion:
      return "composition-error";
    case ModoEjecucion::kDocumentosLogicos:
      return "logical-documents";
  }
  return "not-started";
}

Value CopiaOpciones(const Value& options) {
  Value copy = Value::NewMap();
  if (const Map* m = options.MapPtr()) {
    copy.AsMap().Reserve(m->size());
    for (const Map::Entry& e : *m) {
      std::string_view key = e.key.Str();
      bool shared = key == opcion::aDataVarChangesRuntime ||
                    key == opcion::aRegistrosDetalleRuntime || key == opcion::hUserVars ||
                    key == opcion::hAcumVars;
      copy.AsMap().Append(e.key, shared ? e.value : DeepClone(e.value));
    }
  }
  return copy;
}

}  // namespace facade

// ---------------------------------------------------------------------------
// Collaborators and run options

TKXEngine::Interno::Colaboradores::~Colaboradores() {
  if (motor) TerminarSinExcepcion(*motor);
  if (paginacion) TerminarSinExcepcion(*paginacion);
  if (composicion) TerminarSinExcepcion(*composicion);
  if (contexto) TerminarSinExcepcion(*contexto);
  if (evaluador) TerminarSinExcepcion(*evaluador);
  if (conector) TerminarSinExcepcion(*conector);
}

void TKXEngine::Interno::CrearContexto(Colaboradores& c, const Value& rows,
                                       const Value& options) const {
  c.conector = e.CrearConector(rows);
  c.evaluador = MakeRef<TEvaluadorFormulas>();
  c.evaluador->Create();
  c.contexto = MakeRef<TContextoEjecucion>(c.conector, c.evaluador, options);
  c.contexto->Create();
}

void TKXEngine::Interno::CrearColaboradores(Colaboradores& c, const Value& rows,
                                            const Value& options,
                                            const Ref<TPlantilla>& plantilla) const {
  CrearContexto(c, rows, options);
  c.contexto->SetCacheImagenes(oCacheImagenes);
  c.composicion = MakeRef<TMotorComposicion>();
  c.composicion->Create();
  c.paginacion = MakeRef<TMotorPaginacion>();
  c.paginacion->Create();
  c.motor =
      MakeRef<TMotorEjecucion>(plantilla, c.conector, c.composicion, c.paginacion, c.contexto);
  c.motor->Create();
}

Value TKXEngine::Interno::OpcionesPersistentes() const {
  return CopiaOpciones(e.hOpcionesRuntime);
}

Value TKXEngine::Interno::OpcionesEjecucion(const PuntoEjecucion& p,
                                            const Ref<TPlantilla>& plantilla, bool copiar) const {
  Value options = OpcionesPersistentes();
  options.Set(opcion::nRegistroBase, p.nBase);
  options.Set(opcion::nTotalRegistrosRuntime,
              static_cast<int64_t>(ListaRegistros(p.aRegistros).size()));
  options.Set(opcion::aRegistrosDetalleRuntime, p.aRegistros);
  options.Set(opcion::lRegistrosDetalleGlobalRuntime, true);
  options.Set(opcion::hAcumuladoresIniciales, copiar ? DeepClone(p.hSumas) : p.hSumas);
  options.Set(opcion::hContinuacionesTabla,
              copiar ? DeepClone(p.hContinuaciones) : p.hContinuaciones);
  options.Set(opcion::hEstadosTabla, copiar ? DeepClone(p.hEstadosTabla) : p.hEstadosTabla);
  options.Set(opcion::lOmitirResetInicialAcumuladores, p.hSumas.Len() > 0);
  options.Set(opcion::nPaginaActualRuntime, p.nPagina);
  options.Set(opcion::nTotalPaginasRuntime, p.nTotalPaginas);
  options.Set(opcion::lTotalPaginasConocido, p.lTotalConocido);
  if (p.nUltimaPagina > 0) options.Set(opcion::nUltimaPaginaRuntime, p.nUltimaPagina);
  options.Set(opcion::hUserVars, plantilla->GetUserVars());
  options.Set(opcion::hAcumVars, plantilla->GetAcumVars());
  return options;
}

void TKXEngine::Interno::EscribirClavesProyecto(Value& options, bool always) const {
  // Every chunk of a run asks: the template's path is looked up on disk once per run.
  std::string path;
  if (e.cPlantillaMode == "PlantillaName") {
    if (!lEnRun || !lRutaProyecto || cRutaProyectoDe != e.cPlantilla) {
      cRutaProyecto = RutaPlantilla(Value(e.cPlantilla));
      cRutaProyectoDe = e.cPlantilla;
      lRutaProyecto = lEnRun;
    }
    path = cRutaProyecto;
  }
  if (always || !options.Has(opcion::cProjectFilePath)) options.Set(opcion::cProjectFilePath, path);
  if (always || !options.Has(opcion::cProjectPath))
    options.Set(opcion::cProjectPath, FolderOf(path));
  if (always || !options.Has(opcion::cProjectFileName))
    options.Set(opcion::cProjectFileName, FileNameOf(path));
}

void TKXEngine::Interno::SumarRendimiento(std::string_view key, double amount) {
  Map& d = e.hPerformanceDiagnostics.AsMap();
  const Value& current = d.Get(key);
  if (current.IsInt()) {
    d.Set(key, current.Int() + static_cast<int64_t>(amount));
  } else {
    d.Set(key, Value(current.Double() + amount));
  }
}

void TKXEngine::Interno::SumarRendimientoPaso(const Value& pass) {
  if (!pass.IsMap()) return;
  SumarRendimiento("nPageCompositionMs", ValueDouble(pass.Get("nCompositionMs")));
  SumarRendimiento("nPageReflowMs", ValueDouble(pass.Get("nReflowMs")));
  SumarRendimiento("nPagePaginationMs", ValueDouble(pass.Get("nPaginationMs")));
  for (const char* key : kClavesTablaMs) SumarRendimiento(key, ValueDouble(pass.Get(key)));
  SumarRendimiento("nTableRecordsExamined",
                   static_cast<double>(ValueInt(pass.Get("nTableRecordsExamined"))));
}

void TKXEngine::Interno::EscribirModo(ModoEjecucion modo) {
  e.hPerformanceDiagnostics.Set("cMode", TextoModo(modo));
}

// ---------------------------------------------------------------------------
// Single executions

Ref<TDocumentoRenderizable> TKXEngine::Interno::EjecucionSinDetalle(
    const Ref<TPlantilla>& plantilla) {
  // Without detail records the template is composed once, as page 1 of 1;
  // only texts that break over pages make more pages. Those are numbered
  // with the count they make, as a page loop's are: by the page-number pass,
  // or, where the count is used elsewhere than in a text's content (a text
  // that breaks over pages among them), by composing again with that count.
  // Everything is composed on the first page, which is thus where LASTPAGE holds.
  const bool counts = e.UsaPaginacionPrevia(plantilla);
  bool measuring = counts && !e.PermiteFinalizacionSelectiva(plantilla->GetData(), "");
  Value options;
  int64_t total = 1;
  for (int repeats = 0;; measuring = false) {
    // The execution whose document is answered says the warnings; one composed again repeats it.
    AvisosAparte ejecucion(*this);
    ejecucion.lPaginas = true;
    Value result = e.EjecutarMotorResultado(options, Value(), plantilla);
    Ref<TDocumentoRenderizable> document(result.Get("oDocumento").As<TDocumentoRenderizable>());
    if (!document || !counts || document->TotalPaginas() == total) return document;
    const int64_t count = document->TotalPaginas();
    if (!measuring) {
      aEstadosPagina.clear();
      nUltimaPagina = 1;
      e.ActualizarTextosPaginacion(document, count, plantilla, e.RegistrosDetalleRuntime());
      nUltimaPagina = 0;
      if (cTextoSinAsentar.empty()) return document;
      if (repeats++ == kMaxRemediciones) {
        document->End();
        e.cLastError = TotalSinAsentar(cTextoSinAsentar);
        return nullptr;
      }
    }
    ejecucion.lPaginas = false;
    document->End();
    total = count;
    options = OpcionesPersistentes();
    options.Set(opcion::nTotalPaginasRuntime, total);
    options.Set(opcion::lTotalPaginasConocido, true);
    options.Set(opcion::nUltimaPaginaRuntime, 1);
  }
}

Ref<TConectorDatosReg> TKXEngine::CrearConector(const Value& rows) const {
  auto connector = MakeRef<TConectorDatosReg>();
  connector->Create();
  if (aStructVar.Len() > 0) connector->SendDataVar(aStructVar, aRegVar);
  if (aStructLine.Len() > 0) connector->SendDataLine(aStructLine, rows.IsList() ? rows : aRegLine);
  return connector;
}

Value TKXEngine::RegistrosDetalleRuntime() const {
  if (ListaRegistros(oInterno_->aRegistrosRun).Valida()) return oInterno_->aRegistrosRun;
  Value records = oInterno_->ConstruirRegistrosDetalle();
  if (oInterno_->lEnRun) oInterno_->aRegistrosRun = records;
  return records;
}

Value TKXEngine::Interno::ConstruirRegistrosDetalle() const {
  // Every record has the same keys, one per distinct "grupo.nombre" of the
  // columns in column order: the records read the rows through one key
  // prototype instead of being copied out of them. A repeated key keeps its
  // first place and the later column's value.
  const List& columns = e.aStructLine.AsList();
  std::vector<std::string> keys;
  std::unordered_map<std::string, uint32_t> placed;
  std::vector<uint32_t> slot;
  slot.reserve(columns.size());
  for (const Value& c : columns) {
    std::string key = ValueString(c.Get("grupo")) + "." + ValueString(c.Get("nombre"));
    auto [at, fresh] = placed.emplace(key, static_cast<uint32_t>(keys.size()));
    if (fresh) keys.push_back(std::move(key));
    slot.push_back(at->second);
  }
  return Value(Ref<KXObject>(MakeRef<RegistrosDetalle>(e.aRegLine, keys, std::move(slot))));
}

bool TKXEngine::EsDocumentoEtiquetas(const Ref<TPlantilla>& plantilla) const {
  Interno::PlantillaDeLaEjecucion given(*this, plantilla);
  return given.plantilla->IsLabelDocument();
}

Value TKXEngine::EjecutarMotorResultado(const Value& givenOptions, const Value& rows,
                                        Ref<TPlantilla> plantilla, Value* textStates) {
  // Declared first, so the template outlives the collaborators that use it.
  Interno::PlantillaDeLaEjecucion propia(*this, plantilla);
  Value options =
      givenOptions.IsMap() ? CopiaOpciones(givenOptions) : oInterno_->OpcionesPersistentes();
  // Every run for a job names the job's records, an empty list when it has none, so no table
  // previews its sample records on a real document.
  if (!ListaRegistros(options.Get(opcion::aRegistrosDetalleRuntime)).Valida())
    options.Set(opcion::aRegistrosDetalleRuntime, RegistrosDetalleRuntime());
  oInterno_->EscribirClavesProyecto(options, false);
  options.Set(opcion::hUserVars, propia.plantilla->GetUserVars());
  options.Set(opcion::hAcumVars, propia.plantilla->GetAcumVars());
  ApplyProgressOptions(options);
  Interno::Colaboradores c;
  oInterno_->CrearColaboradores(c, rows, options, propia.plantilla);
  Ref<TDocumentoRenderizable> document = c.motor->Ejecutar();
  oInterno_->pAvisos->AnadirContexto(*c.contexto);

  std::string error;
  if (c.contexto->HasErrorCriticoComposicion()) {
    error = c.contexto->GetErrorCriticoComposicion();
    cLastError = error;
    if (document) document->End();
    document.reset();
  }
  Value result = Value::NewMap({{"oDocumento", document ? Value(Ref<KXObject>(document)) : Value()},
                                {"hAcumuladores", DeepClone(c.contexto->GetAcumuladores())},
                                {"hContinuaciones", c.contexto->GetContinuacionesTabla()},
                                {"hEstadosTabla", c.contexto->GetEstadosTabla()},
                                {"nConsumidos", c.contexto->GetRegistrosDetalleConsumidosRuntime()},
                                {"cError", error}});
  if (textStates) *textStates = Interno::EstadosTexto(*c.contexto);
  return result;
}

Ref<TDocumentoRenderizable> TKXEngine::EjecutarMotor(const Value& options, const Value& rows) {
  Value result = EjecutarMotorResultado(options, rows, nullptr);
  return Ref<TDocumentoRenderizable>(result.Get("oDocumento").As<TDocumentoRenderizable>());
}

Ref<TDocumentoRenderizable> TKXEngine::AdjuntarDatosTabulares(Ref<TDocumentoRenderizable> document,
                                                              const Ref<TPlantilla>& plantilla) {
  if (!document || !plantilla) return document;
  std::vector<Ref<TObjectBase>> exporters;
  for (const Ref<TObjectBase>& object : plantilla->GetObjetos()) {
    if (object->AnswersGenerarDatosExportables()) exporters.push_back(object);
  }
  Value tables = Value::NewList();
  // The export evaluates again what the pages showed.
  Interno::AvisosAparte repetido(*oInterno_);
  if (!exporters.empty()) {
    Value options = oInterno_->OpcionesPersistentes();
    oInterno_->EscribirClavesProyecto(options, true);
    Value records = RegistrosDetalleRuntime();
    options.Set(opcion::hUserVars, plantilla->GetUserVars());
    options.Set(opcion::hAcumVars, plantilla->GetAcumVars());
    options.Set(opcion::nRegistroBase, 0);
    options.Set(opcion::nTotalRegistrosRuntime,
                static_cast<int64_t>(ListaRegistros(records).size()));
    options.Set(opcion::aRegistrosDetalleRuntime, records);
    options.Set(opcion::lRegistrosDetalleGlobalRuntime, true);
    options.Set(opcion::lSemanticDataRuntime, true);
    options.Set(opcion::nPaginaActualRuntime, 1);
    options.Set(opcion::nTotalPaginasRuntime, std::max<int64_t>(1, document->TotalPaginas()));
    options.Set(opcion::lTotalPaginasConocido, true);
    Interno::Colaboradores c;
    oInterno_->CrearContexto(c, oInterno_->FilaDesde(0), options);
    for (const Ref<TObjectBase>& exporter : exporters) {
      // The document turns the rows into lists when the tables are read.
      Value table = exporter->GenerarDatosExportablesCompactos(*c.contexto);
      if (!table.IsMap()) continue;
      table.Set("cEncoding", "UTF-8");
      tables.Push(table);
    }
    oInterno_->pAvisos->AnadirContexto(*c.contexto);
  }
  document->SetDataTables(tables);
  return document;
}

// ---------------------------------------------------------------------------
// Exceptions

namespace {

// What the exception being handled means (called in a catch block): memory
// ran out (`sinMemoria` says where), or the engine failed otherwise.
struct Excepcion {
  std::string_view cMensaje;
  std::string_view cDetalle;
  Terminacion eTerminacion;
};

Excepcion ExcepcionEnCurso(std::string_view sinMemoria) noexcept {
  try {
    throw;
  } catch (const std::bad_alloc&) {
    return {sinMemoria, "", Terminacion::kSinMemoria};
  } catch (const std::exception& ex) {
    return {kMensajeErrorInterno, ex.what(), Terminacion::kErrorInterno};
  } catch (...) {
    return {kMensajeErrorInterno, "excepcion desconocida", Terminacion::kErrorInterno};
  }
}

// The message into `cLastError`. Memory may still be short: the message
// without its detail is tried next, and a failure leaves the text the run
// started with, which RunEngine made room for.
void AnotarMensaje(std::string& cLastError, const Excepcion& x) noexcept {
  try {
    cLastError.assign(x.cMensaje).append(x.cDetalle);
    return;
  } catch (...) {
  }
  try {
    cLastError.assign(x.cMensaje);
  } catch (...) {
  }
}

// Room for any message RunEngine writes on its own, so that writing one
// after memory ran out needs no memory.
constexpr size_t kEspacioMensaje = 160;

}  // namespace

void TKXEngine::Interno::TerminarRunPorExcepcion(double start) noexcept {
  const Excepcion x = ExcepcionEnCurso(kMensajeSinMemoria);
  lEnRun = false;
  aRegistrosRun = Value();
  std::vector<EstadoPagina>().swap(aEstadosPagina);
  e.oDocumento.reset();
  AnotarMensaje(e.cLastError, x);
  try {
    EscribirTerminacion(x.eTerminacion);
    e.hPerformanceDiagnostics.Set("nTotalMs", Value(platform::MillisecondClock() - start));
  } catch (...) {
    // The diagnostics keep what they had; the reason is kept in eTerminacion.
  }
}

void TKXEngine::Interno::AnotarFalloEntrada(bool pierdeDatos) noexcept {
  const Excepcion x = ExcepcionEnCurso(kMensajeSinMemoriaEntrada);
  AnotarMensaje(e.cLastError, x);
  if (!pierdeDatos) return;
  lEntradaFallida = true;
  eTerminacionEntrada = x.eTerminacion;
  cMensajeEntrada = x.cMensaje;
  AnotarMensaje(cErrorEntrada, x);
}

Ref<TDocumentoRenderizable> TKXEngine::RunEngine() {
  // An exception from inside the run (memory running out above all) has
  // unwound it by the time it is caught here: the collaborators and the
  // documents it made are ended by their owners going out of scope, which
  // erases their spools. The engine answers no document, says why, and can
  // run the next job.
  const double start = platform::MillisecondClock();
  try {
    cLastError.reserve(kEspacioMensaje);
    Interno& in = *oInterno_;
    in.EmpezarAvisos();
    if (in.lEntradaFallida) {
      // The job lost input: no run of it is whole.
      oDocumento.reset();
      cLastError = in.cErrorEntrada.empty() ? in.cMensajeEntrada : in.cErrorEntrada;
      in.EscribirTerminacion(in.eTerminacionEntrada);
      return nullptr;
    }
    return EjecutarTrabajo();
  } catch (...) {
    oInterno_->TerminarRunPorExcepcion(start);
  }
  return nullptr;
}

Ref<TDocumentoRenderizable> TKXEngine::EjecutarTrabajo() {
  const double start = platform::MillisecondClock();
  cLastError.clear();
  oDocumento.reset();
  ResetProgress();
  hPerformanceDiagnostics = InitialPerformanceDiagnostics();
  oInterno_->EscribirModo(ModoEjecucion::kIniciando);
  // The page loop, the finalisation and the export share one record list.
  oInterno_->lEnRun = true;
  oInterno_->aRegistrosRun = Value();
  oInterno_->lRutaProyecto = false;
  auto finish = [&](Ref<TDocumentoRenderizable> document) {
    oInterno_->lEnRun = false;
    oInterno_->aRegistrosRun = Value();
    hPerformanceDiagnostics.Set("nTotalMs", Value(platform::MillisecondClock() - start));
    return document;
  };

  double t = platform::MillisecondClock();
  Value validation = ValidarDatos();
  oInterno_->SumarRendimiento("nValidateMs", platform::MillisecondClock() - t);
  if (!validation.Get("lOk").Bool()) {
    oInterno_->EscribirModo(ModoEjecucion::kErrorValidacion);
    cLastError = ValueString(validation.Get("cMensaje"));
    return finish(nullptr);
  }
  if (!NotifyProgress(Value(0), Value(nProgressTotal), Value(0), true)) return finish(nullptr);

  t = platform::MillisecondClock();
  Interno::PlantillaDeLaEjecucion propia(*this, oPlantillaRuntime);
  const Ref<TPlantilla>& plantilla = propia.plantilla;
  oInterno_->SumarRendimiento("nTemplateMs", platform::MillisecondClock() - t);
  // A template that was named, or handed over, and cannot be used is no blank report.
  if (!plantilla->FuenteValida()) {
    cLastError = oInterno_->MotivoPlantillaNoValida(*plantilla);
    return finish(nullptr);
  }

  Ref<TDocumentoRenderizable> document;
  auto definitive = [&](auto&& work) {
    double t0 = platform::MillisecondClock();
    document = work();
    oInterno_->SumarRendimiento("nDefinitiveMs", platform::MillisecondClock() - t0);
  };
  if (!lLogicalDocumentBreakDisabled && hLogicalDocumentBreak.Len() == 0)
    LoadLogicalDocumentBreak(plantilla);
  if (!lLogicalDocumentBreakDisabled && hLogicalDocumentBreak.Len() > 0) {
    oInterno_->EscribirModo(ModoEjecucion::kDocumentosLogicos);
    lProgressDefinitive = true;
    definitive([&] { return GenerarDocumentosLogicos(plantilla); });
  } else if (EsDocumentoEtiquetas(plantilla) || aRegLine.Len() == 0) {
    oInterno_->EscribirModo(ModoEjecucion::kEtiquetasOSinDetalle);
    lProgressDefinitive = true;
    definitive([&] {
      if (aRegLine.Len() == 0 && !EsDocumentoEtiquetas(plantilla))
        return oInterno_->EjecucionSinDetalle(plantilla);
      Value result = EjecutarMotorResultado(Value(), Value(), plantilla);
      return Ref<TDocumentoRenderizable>(result.Get("oDocumento").As<TDocumentoRenderizable>());
    });
    if (!document && !lCanceled && cLastError.empty()) cLastError = kSinDocumento;
  } else if (!UsaPaginacionPrevia(plantilla)) {
    oInterno_->EscribirModo(ModoEjecucion::kSinPaginacionPrevia);
    lProgressDefinitive = true;
    definitive([&] { return GenerarPaginasRuntime(Value(), plantilla); });
  } else if (PermiteFinalizacionSelectiva(plantilla->GetData(), "")) {
    oInterno_->EscribirModo(ModoEjecucion::kFinalizacionSelectiva);
    lProgressDefinitive = true;
    definitive([&] { return GenerarPaginasRuntime(Value(), plantilla); });
  } else {
    oInterno_->EscribirModo(ModoEjecucion::kDosPasadas);
    lProgressDefinitive = false;
    double t0 = platform::MillisecondClock();
    Ref<TDocumentoRenderizable> measuring;
    {
      // The counting pass lays out the pages the definitive pass makes.
      Interno::AvisosAparte medida(*oInterno_);
      measuring = GenerarPaginasRuntime(Value(), plantilla);
    }
    oInterno_->SumarRendimiento("nMeasurementMs", platform::MillisecondClock() - t0);
    int64_t total = measuring ? std::max<int64_t>(1, measuring->TotalPaginas()) : 1;
    int64_t lastPage = oInterno_->nUltimaPagina;
    if (measuring) measuring->End();
    if (!measuring && !cLastError.empty()) {
      oInterno_->EscribirModo(ModoEjecucion::kErrorComposicion);
      return finish(nullptr);
    }
    if (lCanceled) return finish(nullptr);
    for (int repeat = 0;; ++repeat) {
      // The pass whose pages the run keeps says the warnings; one laid out again repeats it.
      Interno::AvisosAparte pasada(*oInterno_);
      pasada.lPaginas = true;
      // The definitive pass reports its progress afresh, as a run does.
      ResetProgress();
      if (!NotifyProgress(Value(0), Value(nProgressTotal), Value(0), true)) return finish(nullptr);
      oInterno_->cTextoSinAsentar.clear();
      oInterno_->nTotalDado = total;
      definitive([&] { return GenerarPaginasRuntime(Value(total), plantilla, lastPage); });
      oInterno_->nTotalDado = 0;
      if (!document || oInterno_->cTextoSinAsentar.empty()) break;
      pasada.lPaginas = false;
      // A text cut over pages is cut otherwise with the count the pass gave:
      // the pass runs again with that count, until it no longer changes.
      total = document->TotalPaginas();
      lastPage = oInterno_->nUltimaPagina;
      document->End();
      document.reset();
      if (repeat == kMaxRemediciones) {
        cLastError = TotalSinAsentar(oInterno_->cTextoSinAsentar);
        oInterno_->EscribirTerminacion(Terminacion::kErrorComposicion);
        hPaginationDiagnostics.Set("nPages", 0);
        return finish(nullptr);
      }
    }
  }
  // A logical document's data tables would be dropped: the job's own come from all its records.
  if (!oInterno_->lDocumentoLogico) document = AdjuntarDatosTabulares(document, plantilla);
  oDocumento = FinishProgress(document);
  return finish(oDocumento);
}

}  // namespace kx
