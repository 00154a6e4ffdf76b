// Last-page finalisation and page-number patching: the last page is rendered
// again once it is known to be the last (and, while it overflows, the pages
// before it as pages that are not), then every text that shows a page count
// is evaluated again with the final total; a text cut over pages is cut
// again, and each of its parts takes its new part.
#include <algorithm>

#include "FormulaSyntax.h"
#include "RegistrosDetalle.h"
#include "RuntimeOptions.h"
#include "TConectorDatosReg.h"
#include "TContextoEjecucion.h"
#include "TKXEngineInterno.h"
#include "TText.h"

namespace kx {

using namespace facade;

namespace {

// A re-run of the last pages, or a definitive pass, settles its own page
// count within a few tries.
constexpr int kMaxLastPageAttempts = 3;

constexpr int kMaxScanDepth = 256;

// The 1-based `index`th object of a page, as a map (an empty one when it has none).
Value ObjetoDePagina(const Value& page, int64_t index) {
  const List* objects = page.Get("objetos").ListPtr();
  if (!objects || index < 1 || static_cast<size_t>(index) > objects->size()) return Value::NewMap();
  const Value& object = (*objects)[static_cast<size_t>(index - 1)];
  return object.IsMap() ? object : Value::NewMap();
}

int64_t WholeCount(const Value& v) {
  return std::max<int64_t>(0, IntPart(ValueNumber(v)).Int());
}

}  // namespace

bool TKXEngine::UsaPaginacionPrevia(const Ref<TPlantilla>& plantilla) const {
  Interno::PlantillaDeLaEjecucion given(*this, plantilla);
  return ContieneFuncionPaginacionPrevia(given.plantilla->GetData());
}

bool TKXEngine::ContieneFuncionPaginacionPrevia(const Value& value, int depth) {
  return AlgunTexto(value, UsaFuncionPaginacion, kMaxScanDepth - depth);
}

bool TKXEngine::PermiteFinalizacionSelectiva(const Value& value, std::string_view key, int depth) {
  if (depth > kMaxScanDepth) return true;
  if (const Map* m = value.MapPtr()) {
    // A text that breaks over pages is cut after it is composed: each of its
    // fragments can only show a page count known when it is composed.
    const Value& breaks = m->Get("lAllowPageBreak");
    const Value& text = m->Get("cText");
    if (breaks.IsLogical() && breaks.Bool() && text.IsText() && UsaFuncionPaginacion(text.Str()))
      return false;
    for (const Map::Entry& e : *m) {
      if (!PermiteFinalizacionSelectiva(e.value, e.key.Str(), depth + 1)) return false;
    }
    return true;
  }
  if (const List* l = value.ListPtr()) {
    for (const Value& e : *l) {
      if (!PermiteFinalizacionSelectiva(e, key, depth + 1)) return false;
    }
    return true;
  }
  if (!value.IsText() || !UsaFuncionPaginacion(value.Str())) return true;
  std::string k = Lower(AllTrim(key));
  if (k == "ctext") return true;
  if (k == "cpagebreakcondition" || k == "formula" || k == "cconditionformula")
    return EsPruebaUltimaPaginaSola(value.Str());
  // Formulas the analysis of used variables leaves aside are formulas all the same.
  if (k == "cexpression" || k == "csuppresscondition" || k == "cgroupexpression" ||
      k == "abreakexpressions")
    return false;
  return !EsClaveExpresion(k);
}

Value TKXEngine::Interno::FilaDesde(int64_t base) const {
  // A page past the last record shows the last record in its plain variables.
  const List& rows = e.aRegLine.AsList();
  if (rows.empty()) return Value::NewList();
  const size_t at = static_cast<size_t>(std::clamp<int64_t>(base, 0, rows.size() - 1));
  return Value::NewList({rows[at]});
}

void TKXEngine::Interno::AnotarDivisionUltimaPagina() {
  e.hPaginationDiagnostics.Set("lLastPageSplit", true);
  e.hPaginationDiagnostics.Set("nLastPageSplitPages",
                               e.hPaginationDiagnostics.Get("nLastPageSplitPages").Int() + 1);
}

void TKXEngine::Interno::ReemplazarPaginas(const Ref<TDocumentoRenderizable>& document,
                                           int64_t page,
                                           const Ref<TDocumentoRenderizable>& rendered,
                                           int64_t base, const Value& sums,
                                           const Value& textStates) {
  // The re-rendered pages take the place of every page from `page` on, so a
  // last chunk that made several pages leaves nothing of itself behind.
  const int64_t m = rendered->TotalPaginas();
  for (int64_t i = 0; i < m; ++i) {
    Value p = rendered->GetPagina(Value(i + 1));
    if (page + i <= document->TotalPaginas()) {
      document->SetPagina(Value(page + i), p);
    } else {
      const Value& objects = p.Get("objetos");
      document->AddPagina(objects.IsList() ? objects : Value::NewList());
    }
  }
  if (document->TotalPaginas() >= page + m) document->QuitarPaginasDesde(Value(page + m));
  aEstadosPagina.resize(static_cast<size_t>(std::max<int64_t>(0, page - 1)));
  for (int64_t i = 0; i < m; ++i) {
    aEstadosPagina.push_back(EstadoDePagina(base, sums, rendered->nAlto,
                                            document->GetPagina(Value(page + i)).Get("objetos"),
                                            textStates, !document->IsPageSpooling()));
  }
}

Value TKXEngine::Interno::EstadosTexto(const TContextoEjecucion& contexto) {
  return Value::NewList({contexto.GetEstadosTexto(), contexto.GetUltimaPaginaTextos()});
}

TKXEngine::Interno::EstadoPagina TKXEngine::Interno::EstadoDePagina(int64_t base, const Value& sums,
                                                                    double height,
                                                                    const Value& objects,
                                                                    const Value& textStates,
                                                                    bool inMemory) {
  EstadoPagina state{base, height, {}};
  const List* both = textStates.ListPtr();
  const Map* kept = both && both->size() == 2 ? (*both)[0].MapPtr() : nullptr;
  const Map* lastPages = both && both->size() == 2 ? (*both)[1].MapPtr() : nullptr;
  if (const List* list = objects.ListPtr()) {
    for (size_t i = 0; i < list->size(); ++i) {
      const Value& object = (*list)[i];
      if (!EsTextoPaginacion(object, &oFormulasPaginacion)) continue;
      const Value& id = object.Get("id");
      const Value* own = kept ? kept->Find(id.Str()) : nullptr;
      TextoPaginacion text;
      text.nIndice = static_cast<int64_t>(i + 1);
      if (inMemory) {
        text.hTexto = object;
      } else {
        text.cTipo = object.Get("tipo");
        text.cFormula = object.Get("formula");
        text.cId = id;
      }
      text.hSumas = own ? *own : sums;
      if (const Value* last = lastPages ? lastPages->Find(id.Str()) : nullptr)
        text.nUltimaTabla = last->Bool() ? 1 : 0;
      const Value& breaks = object.Get("permiteSaltoPagina");
      text.lDivisible = breaks.IsLogical() && breaks.Bool();
      if (const Value* part = oFormulasPaginacion.oContinuacion.Find(object.AsMap())) {
        text.nParte = std::max<int64_t>(1, ValueInt(*part));
        text.cOrigen = object.Get("idOrigenPaginacion");
        text.aFinales = object.Get("finalesParrafo");
      }
      state.aTextos.push_back(std::move(text));
    }
  }
  return state;
}

Value TKXEngine::Interno::TextoPaginacion::Objeto() const {
  if (hTexto.IsMap()) return hTexto;
  return Value::NewMap({{"tipo", cTipo}, {"formula", cFormula}, {"id", cId}});
}

std::string TKXEngine::Interno::TextoPaginacion::Nombre() const {
  const Value& id = nParte > 0 ? cOrigen : hTexto.IsMap() ? hTexto.Get("id") : cId;
  if (std::string name = ValueString(id); !name.empty()) return name;
  return ValueString(hTexto.IsMap() ? hTexto.Get("formula") : cFormula);
}

// The texts cut over pages that the page-number pass composes again. The
// parts of one text stand on consecutive pages, and the pages after a
// text's first part hold the later parts of the texts that step made, in
// the order of their first parts: each page's parts are matched, in order,
// with the texts still expecting one there.
class TKXEngine::Interno::TextosCortados {
 public:
  explicit TextosCortados(std::string& unsettled) : cSinAsentar_(unsettled) {}

  // The text `text` composed again as `whole` (its rendered map, holding the
  // new text): false when it is cut into other parts than before, else its
  // new first part (or itself whole) goes into `shown`.
  bool Empezar(const TextoPaginacion& text, const Value& whole, int64_t page, Value& shown) {
    std::vector<TMotorPaginacion::FragmentoTexto> parts = oCortador_.CortarTexto(whole);
    const bool cut = text.nParte == 1;
    if (cut ? parts.empty() : !parts.empty()) return SinAsentar(text);
    if (!cut) return true;
    if (!MismosFinales(parts[0].aFinalesParrafo, text.aFinales)) return SinAsentar(text);
    shown = Value(std::move(parts[0].cTexto));
    aPendientes_.push_back({page, 1, std::move(parts), text.Nombre()});
    return true;
  }

  // A later part of a text cut over pages, on `page`: its new text, or
  // nothing when the text has no such part now.
  Value Continuar(const TextoPaginacion& text, int64_t page) {
    while (nCursor_ < aPendientes_.size() && Parte(aPendientes_[nCursor_], page) < 2) ++nCursor_;
    if (nCursor_ == aPendientes_.size()) {
      SinAsentar(text);
      return Value();
    }
    Pendiente& cut = aPendientes_[nCursor_++];
    const int64_t k = Parte(cut, page);
    TMotorPaginacion::FragmentoTexto& part = cut.aPartes[static_cast<size_t>(k - 1)];
    if (text.nParte != k || !MismosFinales(part.aFinalesParrafo, text.aFinales)) {
      SinAsentar(text);
      return Value();
    }
    cut.nVistas = k;
    return Value(std::move(part.cTexto));
  }

  // After `page`: a text that had a part due there and got none is cut into
  // more parts than before; texts whose last part has come are done.
  void CerrarPagina(int64_t page) {
    nCursor_ = 0;
    std::erase_if(aPendientes_, [&](const Pendiente& cut) {
      const int64_t k = page - cut.nPagina + 1;
      if (k <= static_cast<int64_t>(cut.aPartes.size()) && cut.nVistas < k) {
        if (cSinAsentar_.empty()) cSinAsentar_ = cut.cNombre;
        return true;
      }
      return k >= static_cast<int64_t>(cut.aPartes.size());
    });
  }

  // After the last page: a text still expecting a part runs past the document.
  void Terminar() {
    if (!aPendientes_.empty() && cSinAsentar_.empty()) cSinAsentar_ = aPendientes_.front().cNombre;
    aPendientes_.clear();
  }

 private:
  struct Pendiente {
    int64_t nPagina;  // where its first part stands
    int64_t nVistas;  // parts matched so far
    std::vector<TMotorPaginacion::FragmentoTexto> aPartes;
    std::string cNombre;
  };

  // The number of the part `cut` has due on `page`; 0 when none.
  static int64_t Parte(const Pendiente& cut, int64_t page) {
    const int64_t k = page - cut.nPagina + 1;
    return k >= 1 && k <= static_cast<int64_t>(cut.aPartes.size()) ? k : 0;
  }

  static bool MismosFinales(const Value& now, const Value& before) {
    const List* a = now.ListPtr();
    const List* b = before.ListPtr();
    if (!a || !b) return !a && !b;
    if (a->size() != b->size()) return false;
    for (size_t i = 0; i < a->size(); ++i) {
      if ((*a)[i].Bool() != (*b)[i].Bool()) return false;
    }
    return true;
  }

  bool SinAsentar(const TextoPaginacion& text) {
    if (cSinAsentar_.empty()) cSinAsentar_ = text.Nombre();
    return false;
  }

  TMotorPaginacion oCortador_;
  std::vector<Pendiente> aPendientes_;
  size_t nCursor_ = 0;
  std::string& cSinAsentar_;
};

Ref<TDocumentoRenderizable> TKXEngine::Interno::EjecutarComoPaginas(
    Value& options, int64_t base, int64_t page, int64_t span, const Ref<TPlantilla>& plantilla,
    Value& result, Value& textStates) {
  // The pages run as pages `page` to `page + span - 1` of that many; when the
  // run makes another count of pages, it runs again with that count, so that
  // the page-count texts composed there state it.
  Ref<TDocumentoRenderizable> rendered;
  const Value row = FilaDesde(base);
  for (int attempt = 0; attempt < kMaxLastPageAttempts; ++attempt) {
    options.Set(opcion::nTotalPaginasRuntime, page + span - 1);
    // The page loop made these pages once: rendered again, they repeat what it said.
    AvisosAparte repetido(*this);
    result = e.EjecutarMotorResultado(options, row, plantilla, &textStates);
    rendered = Ref<TDocumentoRenderizable>(result.Get("oDocumento").As<TDocumentoRenderizable>());
    const int64_t m = rendered ? rendered->TotalPaginas() : 0;
    if (m == 0 || m == span || e.lCanceled || attempt + 1 == kMaxLastPageAttempts) break;
    rendered->End();
    span = m;
  }
  return rendered;
}

Ref<TDocumentoRenderizable> TKXEngine::FinalizarPaginacionRuntime(
    Ref<TDocumentoRenderizable> document, int64_t base, const Value& startSums,
    const Value& startContinuations, const Value& tableStates, const Ref<TPlantilla>& plantilla,
    const Value& records, int64_t firstPage) {
  if (!document || document->TotalPaginas() == 0) return document;
  const int64_t n = static_cast<int64_t>(ListaRegistros(records).size());
  int64_t pg = std::clamp<int64_t>(firstPage, 1, document->TotalPaginas());
  Value sums = DeepClone(startSums);
  Value continuations = DeepClone(startContinuations);
  Value states = DeepClone(tableStates);
  bool placedAll = base >= n;
  // Set once pages that are not the last hold every record: the last page
  // still comes, with the header and the footer only.
  bool footerOnly = false;
  // A re-run starts where the loop stands, with copies of its sums and continuations.
  auto opcionesDesde = [&](int64_t totalPaginas, int64_t ultimaPagina) {
    const PuntoEjecucion punto{.nBase = base,
                               .aRegistros = records,
                               .hSumas = sums,
                               .hContinuaciones = continuations,
                               .hEstadosTabla = states,
                               .nPagina = pg,
                               .nTotalPaginas = totalPaginas,
                               .lTotalConocido = true,
                               .nUltimaPagina = ultimaPagina};
    return oInterno_->OpcionesEjecucion(punto, plantilla, true);
  };

  // The last step is always rendered again as the last page, also when it began past the
  // last record (a table showed its last-page lines there).
  for (bool first = true; first || base < n || footerOnly; first = false) {
    // The page of the step where its tables finish is the last page, also when
    // the step's long texts run on over more pages.
    const int64_t span = std::max<int64_t>(1, document->TotalPaginas() - pg + 1);
    Value asLastResult, asLastStates;
    Value options = opcionesDesde(pg + span - 1, pg);
    Ref<TDocumentoRenderizable> asLast = oInterno_->EjecutarComoPaginas(
        options, base, pg, span, plantilla, asLastResult, asLastStates);
    const int64_t consumed = WholeCount(asLastResult.Get("nConsumidos"));
    if (!asLast || asLast->TotalPaginas() == 0) {
      if (asLast) asLast->End();
      break;
    }
    if (base + consumed >= n && !UltimasPendientes(asLastResult.Get("hEstadosTabla"))) {
      oInterno_->ReemplazarPaginas(document, pg, asLast, base, sums, asLastStates);
      asLast->End();
      base += consumed;
      placedAll = true;
      oInterno_->nUltimaPagina = pg;
      hPaginationDiagnostics.Set("nLastDataLine", std::min(n, base));
      if (hPaginationDiagnostics.Get("lLastPageSplit").Bool()) {
        oInterno_->EscribirTerminacion(Terminacion::kTodoConsumidoTrasDividirUltima);
      }
      break;
    }
    // The pages rendered as last cannot hold the rest: render them again as
    // pages that are not the last, holding the records that fitted beside the
    // last-page lines, and try the following page as the last one. When none
    // fitted there, they hold what a page that is not the last holds.
    const int64_t asLastPages = asLast->TotalPaginas();
    asLast->End();
    // They state the total the pass was given when it is larger: it is the
    // count this finalisation gave last time, where it went on past them.
    Value splitOptions = opcionesDesde(std::max(pg + asLastPages, oInterno_->nTotalDado), 0);
    if (consumed > 0) splitOptions.Set(opcion::nRegistroFinRuntime, base + consumed);
    Value splitStates;
    Value split;
    {
      Interno::AvisosAparte repetido(*oInterno_);
      split =
          EjecutarMotorResultado(splitOptions, oInterno_->FilaDesde(base), plantilla, &splitStates);
    }
    Ref<TDocumentoRenderizable> notLast(split.Get("oDocumento").As<TDocumentoRenderizable>());
    const int64_t splitConsumed = WholeCount(split.Get("nConsumidos"));
    if (!notLast || notLast->TotalPaginas() == 0 || splitConsumed <= 0) {
      if (notLast) notLast->End();
      break;
    }
    oInterno_->AnotarDivisionUltimaPagina();
    oInterno_->ReemplazarPaginas(document, pg, notLast, base, sums, splitStates);
    pg += notLast->TotalPaginas();
    sums = split.Get("hAcumuladores").IsMap() ? split.Get("hAcumuladores") : Value::NewMap();
    continuations =
        split.Get("hContinuaciones").IsMap() ? split.Get("hContinuaciones") : Value::NewMap();
    states = split.Get("hEstadosTabla").IsMap() ? split.Get("hEstadosTabla") : Value::NewMap();
    notLast->End();
    base += splitConsumed;
    footerOnly = base >= n;
    hPaginationDiagnostics.Set("nLastDataLine", std::min(n, base));
  }
  // Records the finalisation could not place must not read as all consumed.
  const Terminacion reason = oInterno_->eTerminacion;
  if (!placedAll && (reason == Terminacion::kTodoConsumido ||
                     reason == Terminacion::kTodoConsumidoTrasDividirUltima)) {
    oInterno_->EscribirTerminacion(lCanceled ? Terminacion::kCancelada
                                             : Terminacion::kDetenidaAntesDeTerminar);
  }
  ActualizarTextosPaginacion(document, document->TotalPaginas(), plantilla, records);
  return document;
}

void TKXEngine::ActualizarTextosPaginacion(const Ref<TDocumentoRenderizable>& document,
                                           int64_t total, const Ref<TPlantilla>& plantilla,
                                           const Value& records) {
  Interno& in = *oInterno_;
  Value options = in.OpcionesPersistentes();
  options.Set(opcion::hUserVars, plantilla->GetUserVars());
  options.Set(opcion::hAcumVars, plantilla->GetAcumVars());
  options.Set(opcion::nTotalPaginasRuntime, total);
  options.Set(opcion::lTotalPaginasConocido, true);
  if (in.nUltimaPagina > 0) options.Set(opcion::nUltimaPaginaRuntime, in.nUltimaPagina);
  options.Set(opcion::aRegistrosDetalleRuntime, records);
  options.Set(opcion::nTotalRegistrosRuntime, static_cast<int64_t>(ListaRegistros(records).size()));
  in.EscribirClavesProyecto(options, false);
  // The pass evaluates again texts the pages showed.
  Interno::AvisosAparte repetido(in);
  Interno::Colaboradores c;
  in.CrearContexto(c, in.FilaDesde(0), options);
  TContextoEjecucion& context = *c.contexto;
  const int64_t pages = document->TotalPaginas();
  int64_t appliedBase = -1;
  Value appliedSums;
  in.cTextoSinAsentar.clear();
  Interno::TextosCortados cut(in.cTextoSinAsentar);
  for (int64_t p = 1; p <= pages; ++p) {
    // Pages the loop added carry their page-number texts; any other page is read.
    Interno::EstadoPagina read;
    const Interno::EstadoPagina* state = static_cast<size_t>(p) <= in.aEstadosPagina.size()
                                             ? &in.aEstadosPagina[static_cast<size_t>(p - 1)]
                                             : nullptr;
    if (!state) {
      read = in.EstadoDePagina(-1, Value(), 0.0, document->GetPagina(Value(p)).Get("objetos"),
                               Value(), !document->IsPageSpooling());
      state = &read;
    }
    if (state->aTextos.empty()) {
      cut.CerrarPagina(p);
      continue;
    }
    // A page-number text that also shows data shows that of its own place:
    // the first record of the chunk that made its page, and the sums in force
    // where it was rendered.
    if (state->nBase >= 0 && state->nBase != appliedBase) {
      if (state->nBase < static_cast<int64_t>(aRegLine.Len())) {
        c.conector->SendDataLine(aStructLine, in.FilaDesde(state->nBase));
      }
      Value stateOptions = CopiaOpciones(options);
      stateOptions.Set(opcion::nRegistroBase, state->nBase);
      in.pAvisos->AnadirContexto(context);
      context.SetOpciones(stateOptions);
      context.Create();
      appliedBase = state->nBase;
      appliedSums = Value();
    }
    context.SetEstadoPagina(Value(p), Value(total));
    Value patches = Value::NewList();
    Value spooled;  // the stored page, read when a text on it is to be cut again
    for (const Interno::TextoPaginacion& text : state->aTextos) {
      // In memory the map is the page's own; a spooled page takes the new text as a patch.
      Value object = text.Objeto();
      if (text.nParte > 1) {
        // A later part of a text cut over pages takes its part of the text
        // composed again where its first part stands.
        Value shown = cut.Continuar(text, p);
        if (shown.IsNil()) continue;
        object.Set("texto", shown);
      } else {
        if (text.hSumas.IsMap() && !text.hSumas.SameRef(appliedSums)) {
          context.SetAcumuladores(text.hSumas);
          appliedSums = text.hSumas;
        }
        // In a table's lines LASTPAGE asks about the table's own last page, as it did there.
        context.SetUltimaPaginaTabla(text.nUltimaTabla);
        if (!text.lDivisible) {
          if (!ActualizarTextoPaginacion(object, context, records)) continue;
        } else {
          // A text that may break over pages is cut again as it is shown.
          Value shown = Interno::EvaluarTextoPaginacion(object, context, records);
          if (!text.hTexto.IsMap() && spooled.IsNil()) spooled = document->GetPagina(Value(p));
          // A copy: the page keeps its own part.
          const Value source =
              text.hTexto.IsMap() ? text.hTexto : ObjetoDePagina(spooled, text.nIndice);
          Value whole = Value(MakeRef<Map>(source.AsMap()));
          const Value& trims = whole.Get("optimizarEspacios");
          const Value& keeps = whole.Get("conservarParrafosVacios");
          whole.Set("texto", TText::TextoMostrado(shown, trims.IsLogical() && trims.Bool(),
                                                  !keeps.IsLogical() || keeps.Bool()));
          if (!cut.Empezar(text, whole, p, shown)) continue;
          object.Set("texto", shown);
        }
      }
      patches.Push(Value::NewMap({{"nIndex", text.nIndice}, {"uTexto", object.Get("texto")}}));
    }
    if (document->IsPageSpooling()) document->SetParchesTextoPagina(Value(p), patches);
    cut.CerrarPagina(p);
  }
  cut.Terminar();
  in.pAvisos->AnadirContexto(context);
}

bool TKXEngine::Interno::FormulasPaginacion::UsaPaginacion(const Value& formula) {
  auto& [seen, uses] = aVistas[formula.IdentityHash() % aVistas.size()];
  if (!seen.SameRef(formula)) {
    seen = formula;
    uses = UsaFuncionPaginacion(ValueString(formula));
  }
  return uses;
}

bool TKXEngine::Interno::EsTextoPaginacion(const Value& object, FormulasPaginacion* cache) {
  if (!object.IsMap()) return false;
  std::string_view kind = (cache ? cache->oTipo.Get(object) : object.Get("tipo")).Str();
  if (kind != "texto" && kind != "texto_formateado") return false;
  const Value& formula = cache ? cache->oFormula.Get(object) : object.Get("formula");
  // Every page object passes here: a formula without a call is no page-number text.
  if (formula.IsText() && formula.Str().find('(') == std::string_view::npos) return false;
  return cache ? cache->UsaPaginacion(formula) : UsaFuncionPaginacion(ValueString(formula));
}

// `object` is a handle to the page's own map: its text is replaced in place.
// A part of a text cut over pages is no whole text: it takes its part of the
// whole composed again (see TextosCortados).
bool TKXEngine::ActualizarTextoPaginacion(Value object, TContextoEjecucion& context,
                                          const Value& records) {
  if (!Interno::EsTextoPaginacion(object) || object.Has("nPaginaContinuacion")) return false;
  object.Set("texto", Interno::EvaluarTextoPaginacion(object, context, records));
  return true;
}

Value TKXEngine::Interno::EvaluarTextoPaginacion(const Value& object, TContextoEjecucion& context,
                                                 const Value& records) {
  std::string formula = ValueString(object.Get("formula"));
  int64_t record = IndiceRegistroRender(ValueString(object.Get("id")));
  const ListaRegistros list(records);
  const int64_t count = static_cast<int64_t>(list.size());
  bool pushed = record >= 0 && record < count;
  if (pushed) {
    const size_t r = static_cast<size_t>(record);
    context.PushRegistroDetalle(list[r], Value(record), Value(count),
                                r > 0 ? list[r - 1] : Value::NewMap(),
                                record + 1 < count ? list[r + 1] : Value::NewMap());
  }
  Value value = context.EvaluarFormula(Value(formula));
  if (pushed) context.PopRegistroDetalle();
  return value;
}

int64_t TKXEngine::IndiceRegistroRender(std::string_view id) {
  size_t at = id.find("_r");
  if (at == std::string_view::npos) return -1;
  size_t from = at + 2;
  size_t end = id.find('_', from);
  if (end == std::string_view::npos) return -1;
  std::string_view digits = id.substr(from, end - from);
  if (digits.empty() || digits.size() > 18 || (digits.size() > 1 && digits[0] == '0')) return -1;
  for (char c : digits) {
    if (c < '0' || c > '9') return -1;
  }
  return ReadNumber(digits).Int();
}

}  // namespace kx
