// The page loop: one execution per chunk of detail records, each given the
// records not yet consumed and the sums, table continuations and table states
// the previous ones left, until every table that lists the records has printed
// them all (the one furthest behind sets the pace) or the loop has to stop.
#include <algorithm>

#include "Platform.h"
#include "RuntimeOptions.h"
#include "TConectorDatosReg.h"
#include "TContextoEjecucion.h"
#include "TKXEngineInterno.h"
#include "TMotorEjecucion.h"

namespace kx {

using namespace facade;

namespace {

// A step that consumes no record may still advance a table's split record;
// this many such steps in a row can only be a loop that never ends.
constexpr int64_t kMaxStepsWithoutConsuming = 1000;

}  // namespace

namespace facade {

std::string_view TextoTerminacion(Terminacion terminacion) {
  switch (terminacion) {
    case Terminacion::kNoIniciada:
      return "not-started";
    case Terminacion::kEnCurso:
      return "running";
    case Terminacion::kTodoConsumido:
      return "all-data-consumed";
    case Terminacion::kTodoConsumidoTrasDividirUltima:
      return "all-data-consumed-after-lastpage-split";
    case Terminacion::kDetenidaAntesDeTerminar:
      return "stopped-before-all-data";
    case Terminacion::kErrorComposicion:
      return "composition-error";
    case Terminacion::kCancelada:
      return "canceled";
    case Terminacion::kFalloGeneracion:
      return "page-generation-failed";
    case Terminacion::kErrorSpooling:
      return "page-spool-error";
    case Terminacion::kEstancada:
      return "stalled-without-consuming-data";
    case Terminacion::kTodosDocumentosLogicos:
      return "all-logical-documents-consumed";
    case Terminacion::kSinMemoria:
      return "out-of-memory";
    case Terminacion::kErrorInterno:
      return "internal-error";
  }
  return "not-started";
}

bool EsPasoEstancado(int64_t consumed, const Value& continuations, const Value& previous,
                     int64_t& stepsWithoutConsuming) {
  return EsPasoEstancado(consumed,
                         consumed <= 0 && ContinuacionesCambiaron(continuations, previous),
                         stepsWithoutConsuming);
}

bool ContinuacionesCambiaron(const Value& continuations, const Value& previous) {
  return continuations.Len() > 0 && ExprText(continuations) != ExprText(previous);
}

bool EsPasoEstancado(int64_t consumed, bool moved, int64_t& stepsWithoutConsuming) {
  if (consumed > 0) {
    stepsWithoutConsuming = 0;
    return false;
  }
  ++stepsWithoutConsuming;
  return !moved || stepsWithoutConsuming > kMaxStepsWithoutConsuming;
}

bool PlantillaListaRegistros(const Ref<TPlantilla>& plantilla) {
  if (!plantilla || !plantilla->oDocumento) return false;
  for (const Ref<TObjectBase>& object : plantilla->oDocumento->aObjects)
    if (object && object->ListaRegistrosDelTrabajo()) return true;
  return false;
}

bool TablasAvanzaron(const Value& states, const Value& previous) {
  const Map* now = states.MapPtr();
  if (!now) return false;
  for (const Map::Entry& e : *now) {
    const Value& before = previous.Get(e.key.Str());
    if (!before.IsMap() ||
        ValueInt(before.Get("nRegistro")) != ValueInt(e.value.Get("nRegistro")) ||
        before.Get("lUltimasPendientes").Bool() != e.value.Get("lUltimasPendientes").Bool())
      return true;
  }
  return false;
}

bool UltimasPendientes(const Value& states) {
  if (const Map* m = states.MapPtr())
    for (const Map::Entry& e : *m)
      if (e.value.Get("lUltimasPendientes").Bool()) return true;
  return false;
}

}  // namespace facade

void TKXEngine::Interno::EscribirTerminacion(Terminacion terminacion) {
  eTerminacion = terminacion;
  e.hPaginationDiagnostics.Set("cTerminationReason", TextoTerminacion(terminacion));
}

Ref<TDocumentoRenderizable> TKXEngine::Interno::NuevoResultado(
    const TDocumentoRenderizable& first) const {
  auto result = MakeRef<TDocumentoRenderizable>(Value(first.nAncho), Value(first.nAlto));
  result->Create();
  result->SetPaperHeightMode(Value(first.cPaperHeightMode));
  result->SetAutoPageSpooling(Value(kObjetosParaSpooling));
  if (static_cast<int64_t>(e.aRegLine.Len()) >= kRegistrosParaSpooling)
    result->EnablePageSpooling();
  return result;
}

Ref<TDocumentoRenderizable> TKXEngine::GenerarPaginasRuntime(const Value& total,
                                                             const Ref<TPlantilla>& plantilla,
                                                             int64_t lastPage) {
  Interno& in = *oInterno_;
  const int64_t n = static_cast<int64_t>(aRegLine.Len());
  const bool totalKnown = total.IsNumber();
  PuntoEjecucion step;
  step.aRegistros = RegistrosDetalleRuntime();
  step.hSumas = Value::NewMap();
  step.hContinuaciones = Value::NewMap();
  step.hEstadosTabla = Value::NewMap();
  step.nTotalPaginas = totalKnown ? std::max<int64_t>(1, IntPart(total).Int()) : 1;
  step.lTotalConocido = totalKnown;
  step.nUltimaPagina = totalKnown ? lastPage : 0;
  Ref<TDocumentoRenderizable> result;

  Interno::Colaboradores c;
  in.CrearColaboradores(c, in.FilaDesde(0), Value::NewMap(), plantilla);

  hPaginationDiagnostics = InitialPaginationDiagnostics();
  hPaginationDiagnostics.Set("nTotalDataLines", n);
  in.EscribirTerminacion(Terminacion::kEnCurso);
  bool spoolError = false;
  // Where the last step started, for the last-page finalisation.
  int64_t stepBase = 0;
  int64_t stepFirstPage = 1;
  Value stepSums = Value::NewMap();
  Value stepContinuations = Value::NewMap();
  Value stepStates = Value::NewMap();
  in.aEstadosPagina.clear();
  in.nUltimaPagina = 0;
  int64_t stepsWithoutConsuming = 0;

  // A table that printed its last record where its last-page lines did not fit shows them on
  // a page of their own.
  while (step.nBase < n || UltimasPendientes(step.hEstadosTabla)) {
    const double stepStart = platform::MillisecondClock();
    stepBase = step.nBase;
    stepSums = DeepClone(step.hSumas);
    stepContinuations = DeepClone(step.hContinuaciones);
    stepStates = DeepClone(step.hEstadosTabla);

    step.nPagina = result ? result->TotalPaginas() + 1 : 1;
    Value options = in.OpcionesEjecucion(step, plantilla, false);
    in.EscribirClavesProyecto(options, false);
    ApplyProgressOptions(options);

    c.conector->SendDataLine(aStructLine, in.FilaDesde(step.nBase));
    c.contexto->SetOpciones(options);
    c.contexto->Create();

    const double engineStart = platform::MillisecondClock();
    Ref<TDocumentoRenderizable> page = c.motor->Ejecutar();
    const double engineMs = platform::MillisecondClock() - engineStart;
    in.pAvisos->AnadirContexto(*c.contexto);
    in.SumarRendimiento("nPageEngineMs", engineMs);
    in.SumarRendimiento("nPageExecutions", 1);
    in.SumarRendimientoPaso(c.motor->GetPerformanceDiagnostics());

    if (c.contexto->HasErrorCriticoComposicion()) {
      cLastError = c.contexto->GetErrorCriticoComposicion();
      in.EscribirTerminacion(Terminacion::kErrorComposicion);
      if (page) page->End();
      break;
    }
    step.hSumas = DeepClone(c.contexto->GetAcumuladores());
    Value previousContinuations = step.hContinuaciones;
    step.hContinuaciones = c.contexto->GetContinuacionesTabla();
    Value previousStates = step.hEstadosTabla;
    step.hEstadosTabla = c.contexto->GetEstadosTabla();
    const int64_t consumed =
        std::max<int64_t>(0, c.contexto->GetRegistrosDetalleConsumidosRuntime());
    if (c.contexto->GetDivisionesUltimaPagina() > 0) in.AnotarDivisionUltimaPagina();
    if (lCanceled) {
      in.EscribirTerminacion(Terminacion::kCancelada);
      if (page) page->End();
      break;
    }
    if (!page) {
      in.EscribirTerminacion(Terminacion::kFalloGeneracion);
      if (!result) cLastError = kSinDocumento;
      break;
    }
    if (!result) result = in.NuevoResultado(*page);
    stepFirstPage = result->TotalPaginas() + 1;
    Value pages = page->GetPaginas();
    for (const Value& p : pages.AsList()) {
      const Value& objects = p.Get("objetos");
      result->AddPagina(objects.IsList() ? objects : Value::NewList());
      in.aEstadosPagina.push_back(in.EstadoDePagina(stepBase, stepSums, page->nAlto, objects,
                                                    Interno::EstadosTexto(*c.contexto),
                                                    !result->IsPageSpooling()));
      if (result->HasPageSpoolError()) {
        cLastError = result->GetPageSpoolError();
        in.EscribirTerminacion(Terminacion::kErrorSpooling);
        spoolError = true;
        break;
      }
      if (lProgressDefinitive && !NotifyProgress(Value(nProgressLine), Value(nProgressTotal),
                                                 Value(result->TotalPaginas()), false)) {
        break;
      }
    }
    page->End();
    if (lCanceled || spoolError) break;

    // A table that ran ahead while the one furthest behind split a record, or stood
    // still, has moved on all the same.
    const bool moved =
        consumed <= 0 && (ContinuacionesCambiaron(step.hContinuaciones, previousContinuations) ||
                          TablasAvanzaron(step.hEstadosTabla, previousStates));
    if (EsPasoEstancado(consumed, moved, stepsWithoutConsuming)) {
      in.EscribirTerminacion(Terminacion::kEstancada);
      break;
    }
    step.nBase += consumed;
    hPaginationDiagnostics.Set("nLastDataLine", std::min(n, step.nBase));
    in.SumarRendimiento("nPageOverheadMs",
                        std::max(0.0, platform::MillisecondClock() - stepStart - engineMs));
  }
  if (in.eTerminacion == Terminacion::kEnCurso) {
    const bool split = hPaginationDiagnostics.Get("lLastPageSplit").Bool();
    in.EscribirTerminacion(step.nBase < n ? Terminacion::kDetenidaAntesDeTerminar
                           : split        ? Terminacion::kTodoConsumidoTrasDividirUltima
                                          : Terminacion::kTodoConsumido);
  }

  const bool failed = lCanceled || spoolError || in.eTerminacion == Terminacion::kErrorComposicion;
  // A definitive pass that ends with another count than the measuring pass
  // gave (its last-page content moved records on, or never came) is finished
  // like a single pass: its last chunk is rendered again as the last, and the
  // page-number texts state the count the document really has.
  // So is one whose tables finish on another page than they did there.
  const bool unsettled = totalKnown && result &&
                         (result->TotalPaginas() != IntPart(total).Int() ||
                          (lastPage > 0 && stepFirstPage != lastPage));
  if (!failed && (!totalKnown || unsettled) && result) {
    double t0 = platform::MillisecondClock();
    FinalizarPaginacionRuntime(result, stepBase, stepSums, stepContinuations, stepStates, plantilla,
                               step.aRegistros, stepFirstPage);
    in.SumarRendimiento("nSelectiveFinalizeMs", platform::MillisecondClock() - t0);
    if (!cLastError.empty()) in.EscribirTerminacion(Terminacion::kErrorComposicion);
    if (result->HasPageSpoolError()) {
      cLastError = result->GetPageSpoolError();
      in.EscribirTerminacion(Terminacion::kErrorSpooling);
    }
  }
  // A loop that stopped short of the last record while a table lists them has
  // lost the records no page printed: the run fails rather than answer a
  // document that reads as whole. A logical document's own run leaves this to
  // the job, which names the document.
  const int64_t printed = ValueInt(hPaginationDiagnostics.Get("nLastDataLine"));
  const bool lost =
      result && !in.lDocumentoLogico && printed < n &&
      (in.eTerminacion == Terminacion::kFalloGeneracion ||
       (in.eTerminacion == Terminacion::kEstancada && PlantillaListaRegistros(plantilla)));
  if (lost) {
    cLastError = "No se han impreso todos los registros del informe: " + std::to_string(printed) +
                 " de " + std::to_string(n) + " (" +
                 std::string(TextoTerminacion(in.eTerminacion)) + ").";
  }
  if (result && (lost || lCanceled || in.eTerminacion == Terminacion::kErrorSpooling ||
                 in.eTerminacion == Terminacion::kErrorComposicion)) {
    result->End();
    result.reset();
  }
  hPaginationDiagnostics.Set("nPages", result ? result->TotalPaginas() : 0);
  if (result && result->cPaperHeightMode == "content") {
    // Each execution measured its own page: the paper is as tall as the tallest final page.
    double tallest = 0.0;
    for (const Interno::EstadoPagina& state : in.aEstadosPagina)
      tallest = std::max(tallest, state.nAlto);
    if (tallest > 0.0) result->SetTamano(Value(result->nAncho), Value(tallest));
  }
  // The page states served the finalisation and the page-number pass: a
  // million-record run need not carry them (and their sums) into the export.
  std::vector<Interno::EstadoPagina>().swap(in.aEstadosPagina);
  return result;
}

}  // namespace kx
