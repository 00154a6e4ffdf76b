// The render of one table page: setup and finish, line visibility and
// section measures, and the record loop.
#include "FormulaSyntax.h"
#include "RuntimeOptions.h"
#include "TTableInterno.h"

namespace kx {

namespace {

int SeccionDePlano(int seccion) {
  return seccion == kGroupHeaderRepeat ? kGroupHeader : seccion;
}

// The body of a content-height table has no limit.
constexpr double kSinLimite = 1000000000.0;

// The same accumulators with the same values, in the same order.
bool MismasSumas(const Value& a, const Value& b) {
  const Map* x = a.MapPtr();
  const Map* y = b.MapPtr();
  if (!x || !y || x->size() != y->size()) return false;
  for (size_t i = 0; i < x->size(); ++i)
    if (x->KeyAt(i) != y->KeyAt(i) || !x->ValueAt(i).SameRef(y->ValueAt(i))) return false;
  return true;
}

}  // namespace

// ---- Setup

bool TTable::UserVarsLeenUltimaPagina(const Value& opciones) {
  const Value& vars = opciones.Get(opcion::hUserVars);
  // Every page of a run hands over the template's one map: it is read once.
  if (!vars.SameRef(hUserVarsVistas_)) {
    hUserVarsVistas_ = vars;
    lUserVarsUltima_ = AlgunTexto(vars, UsaUltimaPagina, 32);
  }
  return lUserVarsUltima_;
}

void TTableRender::ResetPerformance() {
  const Value cero = Value::Real(0.0, 1);
  t.hPerformanceDiagnostics = Value::NewMap({
      {"nSetupMs", cero},
      {"nRecordLoopMs", cero},
      {"nFinishMs", cero},
      {"nPartitionMs", cero},
      {"nRenderLinesMs", cero},
      {"nCellContentMs", cero},
      {"nAccumulateMs", cero},
      {"nRecordsExamined", 0},
      {"nTotalMs", cero},
  });
}

Value TTableRender::Ejecutar() {
  opciones = ctx.GetOpciones().IsMap() ? ctx.GetOpciones() : Value::NewMap();
  lGlobal = SoloVerdadero(opciones.Get(opcion::lRegistrosDetalleGlobalRuntime));
  nBaseOpciones = std::max<int64_t>(0, NumValue(opciones.Get(opcion::nRegistroBase)).Int());
  nBase = lGlobal ? nBaseOpciones : 0;
  lProgreso = ctx.TieneProgreso();

  nInicio = Clock();
  t.hCellRenderCache = Value::NewMap();
  ResetPerformance();
  if (!t.EsVisibleEnEjecucion(ctx)) return Value();
  if (!Preparar()) return salida;
  t.hPerformanceDiagnostics.Set("nSetupMs", Value(Clock() - nInicio));

  // A table with last-page lines has a last page of its own: the page where it prints its
  // last record, when its last-page lines fit there beside the records left; else the page
  // after, which shows them alone. Only a page where the table finishes is rendered again.
  Inicio inicio;
  if (lUsaUltima) Guardar(inicio);
  if (lPendiente) {
    Pagina(true);
    lPendiente = false;
  } else {
    Pagina(false);
    if (lUsaUltima && !lDetenida && nSiguiente >= nCount) {
      // The host heard of these records once: the page rendered again reports none.
      lProgreso = false;
      Volver(inicio);
      Pagina(true);
      if (nSiguiente < nCount) {
        // Beside the last-page lines the rest does not fit: the page holds what fitted
        // there, as a page that is not the table's last, and the rest follows.
        const int64_t cupo = nSiguiente;
        ctx.AnotarDivisionUltimaPagina();
        Volver(inicio);
        if (cupo > nBase) nFin = cupo;
        Pagina(false);
        lPendiente = nSiguiente >= nCount;
      }
    }
  }
  // The sums map is the live one: what later objects of the page add to it stays the
  // table's until it prints again.
  if (lConEstado) {
    ctx.SetEstadoTabla(Value(cId), nSiguiente, ctx.GetAcumuladores(), lPendiente);
    ctx.SetUltimaPaginaTabla(-1);
  }
  const double fin = Clock();
  Map& perf = t.hPerformanceDiagnostics.AsMap();
  perf.Set("nRecordLoopMs", Value(nBucleMs));
  perf.Set("nFinishMs", Value(nTerminarMs));
  perf.Set("nPartitionMs", Value(platform::TicksToMs(nPartitionTicks)));
  perf.Set("nRenderLinesMs", Value(platform::TicksToMs(nRenderLinesTicks)));
  perf.Set("nCellContentMs", Value(platform::TicksToMs(nCellContentTicks)));
  perf.Set("nAccumulateMs", Value(platform::TicksToMs(nAccumulateTicks)));
  perf.Set("nRecordsExamined", Value(nRecordsExamined));
  perf.Set("nTotalMs", Value(fin - nInicio));
  t.nPiezasPrevias_ = aSalida->size();
  return salida;
}

bool TTableRender::Preparar() {
  cId = StringValue(t.cId);
  nLeft = NumDouble(t.nLeft);
  nTop = NumDouble(t.nTop);
  nAncho = NumDouble(t.nWidth);
  nAlto = NumDouble(t.nHeight);
  lDisenador = ctx.EsModoDisenador();
  hEstadoSinUltima = Value::NewMap({{"lLastPageDisponible", false}});

  if (!t.hNormalizedSectionsCache.IsMap()) t.hNormalizedSectionsCache = t.NormalizeSections();
  if (!t.oPlano_ || !t.oPlano_->hFuente.SameRef(t.hNormalizedSectionsCache))
    t.oPlano_ = CompilarPlano(t.hNormalizedSectionsCache, NumDouble(t.nBorderWidth));
  plano = t.oPlano_.get();

  oRegistros = ListaRegistros(TablePreviewRecords());
  nCount = static_cast<int64_t>(oRegistros.size());
  oRuntime = ListaRegistros(opciones.Get(opcion::aRegistrosDetalleRuntime));

  // Every table that lists the run's records goes through all of them at its own pace:
  // it starts where it stopped, with its own running sums.
  lConEstado = lGlobal && lRegistrosRun && plano->lListaRegistros;
  Value sumasPropias;
  if (lConEstado) {
    const Value& estado = ctx.GetEstadoTabla(Value(cId));
    if (estado.IsMap()) {
      nBase = std::max<int64_t>(0, NumValue(estado.Get("nRegistro")).Int());
      sumasPropias = estado.Get("hAcumuladores");
      lPendiente = SoloVerdadero(estado.Get("lUltimasPendientes"));
    }
    nSiguiente = nBase;
    // Done while others go on: nothing of it is drawn, on closing pages neither. One that
    // never printed shows its header and footer on a page past the job's last record.
    if (nBase >= nCount && !lPendiente && (estado.IsMap() || !lTrasUltimoRegistro)) return false;
    lUsaUltima = plano->lUltimaPagina || t.UserVarsLeenUltimaPagina(opciones);
  }

  salida = Value::NewList();
  aSalida = &salida.AsList();
  // Pages of one table hold about as many pieces each: grown once, not doubled page after page.
  aSalida->Reserve(t.nPiezasPrevias_);
  // The table already passed its visibility test: the frame is the rectangle's map as such.
  marco = t.RenderizableFigura(ctx, "rectangulo", t.nRounded);
  if (marco.IsMap()) {
    Agregar(marco);
    const Map& m = marco.AsMap();
    const Value& x = m.Get("x");
    const Value& ancho = m.Get("ancho");
    const Value& my = m.Get("y");
    const Value& alto = m.Get("alto");
    if (SoloVerdadero(m.Get("bordeInferior")) && x.IsNumber() && ancho.IsNumber() &&
        my.IsNumber() && alto.IsNumber())
      RegistrarBordeInferior(x.Double(), ancho.Double(), my.Double() + alto.Double());
  }
  z = NumDouble(t.nZIndex) + 0.01;
  cColorBordeMarco = marco.IsMap() ? marco.Get("colorBorde") : t.cBorderColor;

  // A table without records to print has no sums of its own: it shows them as they stand.
  // One alone on its pages finds its own sums in force already, and the variables built on
  // them are not built again.
  if (plano->lListaRegistros) {
    ctx.ResetAcumuladores();
    if (sumasPropias.IsMap() && !MismasSumas(sumasPropias, ctx.GetAcumuladores()))
      ctx.SetAcumuladores(sumasPropias);
  }
  lContenido = t.cHeightMode == "content";

  const Value& finOpcion = opciones.Get(opcion::nRegistroFinRuntime);
  const int64_t fin =
      HHas(opciones, opcion::nRegistroFinRuntime) ? NumValue(finOpcion).Int() : nCount;
  nFin = std::min(nCount, std::max(nBase, fin));

  PrepararGrupos();
  return true;
}

void TTableRender::Pagina(bool ultima) {
  const double reloj = Clock();
  // In a table that lists the job's records, LASTPAGE asks whether this is the table's last
  // page; the document's last page is for the objects outside tables.
  if (lConEstado) ctx.SetUltimaPaginaTabla(ultima ? 1 : 0);
  lComoUltima = lConEstado ? lUsaUltima && ultima : ctx.EsUltimaPagina();
  Items cabecera;
  PartitionSectionLines(kHeader, -1, cabecera, nullptr);
  // The footer is only measured here: Terminar chooses its lines again, and what their
  // conditions say is said there, once a page.
  const size_t avisos = ctx.MarcaAvisos();
  PartitionSectionLines(kFooter, -1, aPieTabla, nullptr);
  ctx.DeshacerAvisos(avisos);
  const double alturaPie = SectionLinesHeight(aPieTabla);
  y = RenderSectionLines(kHeader, cabecera, nTop, -1);
  nInicioCuerpo = y;
  const double techoPie = nTop + std::max(0.0, nAlto - alturaPie);
  nLimiteCuerpo = lContenido ? kSinLimite : std::max(nInicioCuerpo, techoPie);
  if (!lComoUltima) nCuerpoNoUltima = nLimiteCuerpo - nInicioCuerpo;
  nSiguiente = nBase;
  lHayDetalle = false;
  nPrimerDetalle = 0.0;
  lRepeticionHecha = false;
  nTrasCabeceras = -1.0;

  // Without records the loop takes no step: the page holds the header and footer only. So
  // it is on a page past the job's last record, on a page that shows only a table's
  // last-page lines, and for a table without lines to print records with; any other page
  // takes at least one record.
  const int64_t hasta = nCount == 0 || lTrasUltimoRegistro || lPendiente || !plano->lListaRegistros
                            ? nBase
                            : std::max(nBase + 1, nFin);
  for (int64_t i = nBase; i < hasta; ++i) {
    ++nRecordsExamined;
    if (lProgreso && !ctx.InformarRegistroExaminado(i + 1)) {
      lDetenida = true;
      break;
    }
    const Value registro = Registro(i < nCount ? i : 0);
    if (!PushRecordVariables(registro, i)) break;
    const size_t avisos = ctx.MarcaAvisos();
    const size_t piezas = aSalida->size();
    const bool seguir = ProcesarRegistro(registro, i, false);
    PopRecordVariables();
    if (seguir) continue;
    // A record left whole for the next page is tried there again: its warnings are said there.
    if (aSalida->size() == piezas && nSiguiente <= i) ctx.DeshacerAvisos(avisos);
    break;
  }
  const double finBucle = Clock();
  nBucleMs += finBucle - reloj;
  Terminar();
  nTerminarMs += Clock() - finBucle;
}

void TTableRender::Guardar(Inicio& inicio) {
  inicio.nSalida = aSalida->size();
  inicio.aBordes = aBordes;
  ctx.GuardarAcumuladores(inicio.aSumas);
  const Value& continuacion = ctx.hContinuacionesTabla.Get(cId);
  inicio.hContinuacion = continuacion.IsMap() ? DeepClone(continuacion) : Value();
  inicio.nAvisos = ctx.MarcaAvisos();
}

void TTableRender::Volver(const Inicio& inicio) {
  aSalida->Items().resize(inicio.nSalida);
  aBordes = inicio.aBordes;
  ctx.RestaurarAcumuladores(inicio.aSumas);
  if (inicio.hContinuacion.IsMap())
    ctx.hContinuacionesTabla.Set(cId, DeepClone(inicio.hContinuacion));
  else
    ClearDetailContinuation();
  ctx.DeshacerAvisos(inicio.nAvisos);
  t.hCellRenderCache = Value::NewMap();
}

double TTableRender::CuerpoNoUltima() {
  if (nCuerpoNoUltima >= 0.0) return nCuerpoNoUltima;
  if (lContenido) return nCuerpoNoUltima = kSinLimite;
  // Measured with LASTPAGE false; what that says of the lines is no news to the host.
  const size_t avisos = ctx.MarcaAvisos();
  const int antes = ctx.GetUltimaPaginaTabla();
  ctx.SetUltimaPaginaTabla(0);
  Items cabecera, pie;
  PartitionSectionLines(kHeader, -1, cabecera, nullptr);
  PartitionSectionLines(kFooter, -1, pie, nullptr);
  ctx.SetUltimaPaginaTabla(antes);
  ctx.DeshacerAvisos(avisos);
  nCuerpoNoUltima = std::max(0.0, nAlto - SectionLinesHeight(pie) - SectionLinesHeight(cabecera));
  return nCuerpoNoUltima;
}

bool TTableRender::EsperaEnUltima(double altura) {
  return lComoUltima && altura <= CuerpoNoUltima() + kToleranciaMm + kRuidoMm;
}

size_t TTableRender::Caben(const Items& items, double reserva) {
  if (items.empty()) return 0;
  const double primera = items.front()->nAlturaAjuste;
  const bool forzar = EnCabeza(primera) && !EsperaEnUltima(y - nInicioCuerpo + primera + reserva);
  return FittingSectionLines(items, std::max(0.0, nLimiteCuerpo - y - reserva), forzar);
}

void TTableRender::Terminar() {
  t.hCellRenderCache = Value::NewMap();
  // The footer shows the sums as they are now.
  PartitionSectionLines(kFooter, -1, aPieTabla, nullptr);
  const double alturaPie = SectionLinesHeight(aPieTabla);
  const double techoPie = nTop + std::max(0.0, nAlto - alturaPie);
  double yPie = y;
  if (!lContenido) yPie = t.lFooterOnBottom ? techoPie : std::min(y, techoPie);
  RenderFixedSeparators(lHayDetalle ? nPrimerDetalle : nInicioCuerpo, yPie);
  const double yFin = RenderSectionLines(kFooter, aPieTabla, yPie, -1);
  if (lContenido && marco.IsMap() && aSalida->size() > 0) {
    marco.Set("alto", Value(std::max(0.1, yFin - nTop)));
    marco.Set("modoAlto", Value("content"));
  }
}

// ---- Visibility, conditions and measures

void TTableRender::PartitionSectionLines(int seccion, int64_t r, Items& visibles, Items* ocultas) {
  const uint64_t t0 = platform::TickCount();
  visibles.clear();
  if (ocultas) ocultas->clear();
  const std::string_view nombre = kNombreSeccion[seccion];
  for (const TTableLinea& l : plano->aLineas[SeccionDePlano(seccion)]) {
    if (!TableLineVisible(l, nombre)) continue;
    if (TableLineSuppressed(l, nombre) || TableLineIsEmpty(l, seccion, r)) {
      if (ocultas) ocultas->push_back(&l);
      continue;
    }
    visibles.push_back(&l);
  }
  nPartitionTicks += platform::TickCount() - t0;
}

bool TTableRender::TableLineVisible(const TTableLinea& l, std::string_view seccion) {
  if (l.cCondicion.empty() || lDisenador) return true;
  const Value resultado = ctx.EvaluarCondicion(Value(l.cCondicion));
  if (SoloVerdadero(resultado.Get("lVisible"))) return true;
  std::string motivo = StringValue(resultado.Get("cMotivo"));
  if (motivo.empty()) motivo = "condicion falsa";
  const std::string donde = cId + "[" + Entero(l.nIndice) + "]";
  ctx.AddNota(
      Value("Linea de tabla " + std::string(seccion) + " no visible en " + donde + ": " + motivo));
  if (motivo == "condicion no valida")
    ctx.AddAviso(Value("Condicion no valida en linea de tabla " + std::string(seccion) + " " +
                       donde + ": " + l.cCondicion));
  return false;
}

template <class F>
bool TTableRender::RuntimeConditionIsTrue(const std::string& condicion, F prefijo) {
  if (condicion.empty() || lDisenador) return false;
  const Value resultado = ctx.EvaluarCondicion(Value(condicion));
  if (SoloVerdadero(resultado.Get("lVisible"))) return true;
  if (StringValue(resultado.Get("cMotivo")) == "condicion no valida")
    ctx.AddAviso(Value(prefijo() + ": " + condicion));
  return false;
}

bool TTableRender::TableLineSuppressed(const TTableLinea& l, std::string_view seccion) {
  const bool suprimida = RuntimeConditionIsTrue(l.cSupresion, [&] {
    return "Condicion de supresion no valida en linea de tabla " + std::string(seccion) + " " +
           cId + "[" + Entero(l.nIndice) + "]";
  });
  if (suprimida)
    ctx.AddNota(Value("Linea de tabla " + std::string(seccion) + " suprimida en " + cId + "[" +
                      Entero(l.nIndice) + "]"));
  return suprimida;
}

bool TTableRender::TableLineIsEmpty(const TTableLinea& l, int seccion, int64_t r) {
  if (!l.lIgnoreEmpty || lDisenador) return false;
  bool contenido = false;
  const double alto = std::max(0.1, l.nAlto);
  Prefijo(cPrefijoPrevio, seccion, r);
  // Every cell is pre-rendered: the results wait in the render cache for the line's printing.
  for (size_t k = 0; k < l.aCeldas.size(); ++k) {
    const TTableCelda& c = l.aCeldas[k];
    const Value res = CellContentRenderizable(l, c, k, seccion, r, cPrefijoPrevio, 0.0, 0.0,
                                              std::max(0.1, c.nAncho), alto, 0.0, true);
    if (RenderizableHasContent(res)) contenido = true;
  }
  return !contenido;
}

bool TTableRender::RenderizableHasContent(const Value& renderizable) {
  if (!renderizable.IsMap()) return false;
  const std::string_view tipo = renderizable.Get("tipo").Str();
  if (tipo == "texto" || tipo == "barcode")
    return !AllTrim(StringValue(renderizable.Get("texto"))).empty();
  return true;
}

bool TTableRender::TableRequestsPageBreakBefore() {
  if (AllTrim(t.cPageBreakCondition).empty() || lDisenador) return false;
  const Value resultado =
      ctx.EvaluarCondicionConEstado(Value(t.cPageBreakCondition), hEstadoSinUltima);
  if (SoloVerdadero(resultado.Get("lError"))) {
    std::string mensaje =
        "Condicion de salto no valida en tabla " + cId + ": " + t.cPageBreakCondition;
    const std::string error = StringValue(resultado.Get("cError"));
    if (!error.empty()) mensaje += " -> " + error;
    ctx.SetErrorCriticoComposicion(Value(mensaje));
    return false;
  }
  return SoloVerdadero(resultado.Get("lVisible"));
}

double TTableRender::SectionLinesHeight(const Items& items) {
  double total = 0.0;
  for (const TTableLinea* l : items) total += l->nAltura;
  return total;
}

size_t TTableRender::FittingSectionLines(const Items& items, double disponible,
                                         bool forzarPrimera) {
  const double limite = disponible + kToleranciaMm + kRuidoMm;
  double total = 0.0;
  size_t tomadas = 0;
  for (const TTableLinea* l : items) {
    if (total + l->nAlturaAjuste > limite && (tomadas > 0 || !forzarPrimera)) break;
    total += l->nAlturaAjuste;
    ++tomadas;
  }
  return tomadas;
}

bool TTableRender::SectionKeepsTogether(const Items& items) {
  for (const TTableLinea* l : items)
    if (l->lSeparable) return false;
  return true;
}

bool TTableRender::SectionKeepWithPrevious(const Items& items, int seccion) {
  for (const TTableLinea* l : items)
    if (l->lKeepWithPrevious) return true;
  return seccion == kGroupFooter && !items.empty();
}

bool TTableRender::SectionRequestsPageBreakBefore(const Items& items) {
  for (const TTableLinea* l : items)
    if (l->lPageBreakBefore) return true;
  return false;
}

bool TTableRender::SectionRequestsPageBreakAfter(const Items& items) {
  for (const TTableLinea* l : items)
    if (l->lPageBreakAfter) return true;
  return false;
}

bool TTableRender::SectionForcesAccumulators(const Items& items) {
  for (const TTableLinea* l : items)
    if (l->lForceAccumulators) return true;
  return false;
}

bool TTableRender::SectionRepeatAsHeader(const Items& items) {
  for (const TTableLinea* l : items)
    if (l->lRepeatAsHeader) return true;
  return false;
}

// ---- The record loop

void TTableRender::Marcar(Marca& marca) const {
  if (marca.lActiva) return;
  marca.lActiva = true;
  marca.nSalida = aSalida->size();
  marca.y = y;
  marca.aBordes = aBordes;
  marca.lRepeticion = lRepeticionHecha;
  marca.nTrasCabeceras = nTrasCabeceras;
}

void TTableRender::GuardarSumas(Marca& marca, const Items& items) {
  const Value& sumas = ctx.GetAcumuladores();
  for (const TTableLinea* l : items) {
    if (!l->aResetAcumuladores.IsList()) continue;
    for (const Value& n : l->aResetAcumuladores.AsList()) {
      if (!n.IsText() || n.Str().empty()) continue;
      std::string clave = ctx.ClaveReset(n.Str());
      const Value* previo = sumas.IsMap() ? sumas.AsMap().Find(clave) : nullptr;
      // Nothing marks a sum that did not exist, so that it is removed again.
      marca.aSumas.emplace_back(std::move(clave), previo ? *previo : Value());
    }
  }
}

void TTableRender::Deshacer(Marca& marca) {
  if (!marca.lActiva) return;
  aSalida->Items().resize(marca.nSalida);
  y = marca.y;
  aBordes = marca.aBordes;
  lRepeticionHecha = marca.lRepeticion;
  nTrasCabeceras = marca.nTrasCabeceras;
  if (marca.aSumas.empty()) return;
  // The context's own map: the sums are put back in it.
  Value sumas = ctx.GetAcumuladores();
  if (!sumas.IsMap()) return;
  // Latest first, so a sum reset twice gets its first value back.
  for (auto it = marca.aSumas.rbegin(); it != marca.aSumas.rend(); ++it) {
    if (it->second.IsNil())
      sumas.AsMap().Remove(it->first);
    else
      sumas.Set(it->first, it->second);
  }
  // The sums changed behind the context's back: an empty reset makes it read them afresh.
  ctx.ResetAcumuladoresSeleccionados(Value::NewList());
}

void TTableRender::GroupFooterLines(int64_t i, const EstadoGrupo& g, bool sumar) {
  // Only conditions, suppressions and empty lines read the sums; lines without them are
  // chosen as they stand.
  const bool probar = sumar && plano->lPieCondicionado;
  if (probar) {
    ctx.GuardarAcumuladores(aSumasGuardadas);
    AcumularDetalle();
  }
  PartitionSectionLines(kGroupFooter, i, aPie, nullptr);
  GroupBoundaryLines(aPie, kGroupFooter, g.vActual, g.hSiguiente, g.vSiguiente);
  if (probar) ctx.RestaurarAcumuladores(aSumasGuardadas);
}

namespace {

// Drops the first `n` lines (printed on earlier pages); n below 1 drops none.
void QuitarPrimeras(std::vector<const TTableLinea*>& items, int64_t n) {
  if (n <= 0) return;
  const size_t quitar = std::min(items.size(), static_cast<size_t>(n));
  items.erase(items.begin(), items.begin() + static_cast<std::ptrdiff_t>(quitar));
}

}  // namespace

bool TTableRender::ProcesarRegistro(const Value& registro, int64_t i, bool porLineas) {
  const Continuacion c = LeerContinuacion(i);
  const EstadoGrupo g = GroupState(registro, i, c.Continua() ? 1 : 0);

  if (!porLineas && TableRequestsPageBreakBefore() && !AtBodyStart(y)) return false;

  // Where the record began: its page-break tests look here, and a record that prints none of
  // its detail lines takes back what it printed above them.
  const bool alInicio = AtBodyStart(y);
  Marca marca;
  auto detener = [&] {
    Deshacer(marca);
    return false;
  };
  // What does not fit at the top of an empty body never will: the record is then laid out
  // line by line, so no record is left behind and every page makes progress. Not on a page
  // rendered as the last when `altura` (its height from the top of the body) would fit a
  // page that is not: the last-page lines take its room, and it goes to a page before them.
  auto sinSitio = [&](double altura) {
    Deshacer(marca);
    return alInicio && !porLineas && !EsperaEnUltima(altura) && ProcesarRegistro(registro, i, true);
  };
  // The first n of the lines: the lines themselves when that is all of them.
  auto primeras = [&](const Items& items, size_t n) -> const Items& {
    if (n >= items.size()) return items;
    aParte.assign(items.begin(), items.begin() + static_cast<std::ptrdiff_t>(n));
    return aParte;
  };

  bool concatHonrado = false;
  int64_t cabeceraImpresa = std::max<int64_t>(0, c.nCabecera);
  if (g.lEmpieza) {
    aCabecera.clear();
    if (g.lElegible) {
      PartitionSectionLines(kGroupHeader, i, aCabecera, nullptr);
      GroupBoundaryLines(aCabecera, kGroupHeader, g.vActual, g.hAnterior, g.vAnterior);
    }
    QuitarPrimeras(aCabecera, c.nCabecera);
    size_t cuantas = aCabecera.size();
    if (!porLineas) {
      const double alturaCabecera = SectionLinesHeight(aCabecera);
      double alturaConcat = 0.0;
      if (plano->lConcatNextDataLine && !aCabecera.empty()) {
        PartitionSectionLines(kDetail, i, aConcat, nullptr);
        if (!aConcat.empty())
          alturaConcat = SectionKeepsTogether(aConcat) ? SectionLinesHeight(aConcat)
                                                       : std::max(0.0, aConcat.front()->nAlto);
        if (SectionRequestsPageBreakBefore(aConcat) && !alInicio) return false;
        concatHonrado = true;
      }
      if (SectionRequestsPageBreakBefore(aCabecera) && !alInicio) return false;
      if (!Fits(alturaCabecera)) return sinSitio(y - nInicioCuerpo + alturaCabecera);
      if (alturaConcat > 0.0 && !Fits(alturaCabecera + alturaConcat) && !alInicio) return false;
    } else {
      cuantas = Caben(aCabecera, 0.0);
    }
    const Items& parte = primeras(aCabecera, cuantas);
    if (!parte.empty()) {
      Marcar(marca);
      GuardarSumas(marca, parte);
    }
    ResetLineAcumuladores(parte);
    const bool arriba = !parte.empty() && AtBodyStart(y);
    y = RenderSectionLines(kGroupHeader, parte, y, i);
    if (arriba) nTrasCabeceras = y;
    cabeceraImpresa += static_cast<int64_t>(cuantas);
    if (cuantas < aCabecera.size()) {
      SetGroupContinuation(i, 0, "nCabecera", cabeceraImpresa);
      return false;
    }
  }

  PartitionSectionLines(kDetail, i, aDetalle, &aOcultas);
  // The record's options are those of all its visible lines, also when it resumes: a record
  // declared splittable stays splittable after its first part.
  const bool juntas = !porLineas && SectionKeepsTogether(aDetalle);
  const bool saltoAntes = SectionRequestsPageBreakBefore(aDetalle);
  const bool saltoDespues = SectionRequestsPageBreakAfter(aDetalle);
  const int64_t lineasDetalle = static_cast<int64_t>(aDetalle.size());
  QuitarPrimeras(aDetalle, c.nLinea);
  const double alturaDetalle = SectionLinesHeight(aDetalle);
  const bool conDetalle = alturaDetalle > 0.0;
  // A record resumed inside its group footer was summed when its detail was printed.
  const bool sumar = !c.Sumado() && (conDetalle || SectionForcesAccumulators(aOcultas));
  aPie.clear();
  if (g.lTermina) {
    GroupFooterLines(i, g, sumar);
    if (c.nPie > 0) {
      aPieCompleto = aPie;
      QuitarPrimeras(aPie, c.nPie);
    }
  }
  const bool piePegado = !porLineas && g.lTermina && SectionKeepWithPrevious(aPie, kGroupFooter);
  const double reservaPie = piePegado ? SectionLinesHeight(aPie) : 0.0;

  // A page that begins inside a group repeats its header lines where they fit: above the
  // record's first line, or above a first line too tall for any page, which goes there all
  // the same.
  if (g.lElegible && g.lContinua && !lRepeticionHecha && AtBodyStart(y)) {
    PartitionSectionLines(kGroupHeader, i, aRepetida, nullptr);
    if (SectionRepeatAsHeader(aRepetida)) {
      const double alto = SectionLinesHeight(aRepetida);
      const TTableLinea* primera = !aDetalle.empty() ? aDetalle.front()
                                   : !aPie.empty()   ? aPie.front()
                                                     : nullptr;
      const double siguiente = primera ? primera->nAlturaAjuste : 0.0;
      const bool demasiadoAlta =
          siguiente > nLimiteCuerpo - nInicioCuerpo + kToleranciaMm + kRuidoMm;
      if (Fits(alto) && (Fits(alto + siguiente) || demasiadoAlta)) {
        Marcar(marca);
        y = RenderSectionLines(kGroupHeaderRepeat, aRepetida, y, i);
        lRepeticionHecha = true;
        nTrasCabeceras = y;
      }
    }
  }
  if (piePegado && SectionRequestsPageBreakBefore(aPie) && !alInicio) return detener();

  if (conDetalle) {
    if (!porLineas && saltoAntes && !concatHonrado && !alInicio) return detener();
    if (!juntas) {
      const size_t cuantas = Caben(aDetalle, reservaPie);
      if (cuantas < aDetalle.size()) {
        if (cuantas == 0 && !porLineas)
          return sinSitio(y - nInicioCuerpo + aDetalle.front()->nAlturaAjuste + reservaPie);
        if (cuantas > 0) {
          if (!lHayDetalle) {
            nPrimerDetalle = y;
            lHayDetalle = true;
          }
          y = RenderSectionLines(kDetail, primeras(aDetalle, cuantas), y, i);
        }
        // The rest of the record prints on the next page; it is neither summed nor consumed.
        const int64_t impresas = c.nLinea + static_cast<int64_t>(cuantas);
        if (impresas > 0)
          SetDetailContinuation(i, impresas);
        else
          SetGroupContinuation(i, 0, "nCabecera", cabeceraImpresa);
        return false;
      }
      // Every line fits: the record is placed, with no second test of the same height.
    } else if (!Fits(alturaDetalle + reservaPie)) {
      return sinSitio(y - nInicioCuerpo + alturaDetalle + reservaPie);
    }
    if (!lHayDetalle) {
      nPrimerDetalle = y;
      lHayDetalle = true;
    }
    y = RenderSectionLines(kDetail, aDetalle, y, i);
    ClearDetailContinuation();
    if (sumar) AcumularDetalle();
    const bool seguidoDePie = g.lTermina && !aPie.empty();
    if (saltoDespues && i < nCount - 1 && !seguidoDePie) {
      MarkRecordConsumed(i);
      return false;
    }
  } else {
    // The footer is tested before a forced addition, so a record that moves to the next page
    // with its footer is not added to the sums twice.
    const double alturaPie = SectionLinesHeight(aPie);
    if (!porLineas && g.lTermina && !Fits(alturaPie))
      return sinSitio(y - nInicioCuerpo + alturaPie);
    if (sumar) AcumularDetalle();
  }

  if (g.lTermina) {
    t.hCellRenderCache = Value::NewMap();
    // Beside its record the footer had its room, unless the record's first line went first on
    // the page without it: then, as laid out line by line, the footer goes on as far as it
    // fits and the rest goes to the next page.
    const size_t cuantas =
        porLineas || !Fits(SectionLinesHeight(aPie)) ? Caben(aPie, 0.0) : aPie.size();
    y = RenderSectionLines(kGroupFooter, primeras(aPie, cuantas), y, i);
    if (cuantas < aPie.size()) {
      // Printed and summed: only the rest of its footer is left for the next page.
      SetGroupContinuation(i, lineasDetalle, "nPie",
                           std::max<int64_t>(0, c.nPie) + static_cast<int64_t>(cuantas));
      return false;
    }
    ResetLineAcumuladores(c.nPie > 0 ? aPieCompleto : aPie);
  }
  if (c.lPresente) ClearDetailContinuation();
  MarkRecordConsumed(i);
  return !(g.lTermina && SectionRequestsPageBreakAfter(c.nPie > 0 ? aPieCompleto : aPie) &&
           i < nCount - 1);
}

}  // namespace kx
