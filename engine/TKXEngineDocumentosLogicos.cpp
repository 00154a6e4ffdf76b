// Logical documents: consecutive detail records with equal values in the
// break fields form one document, which a child engine renders as a job of
// its own (numbered, totalled and paginated on its own); the children's pages
// are merged, in order, into one result document.
#include <algorithm>
#include <numeric>
#include <string>
#include <vector>

#include "CapasVariables.h"
#include "RuntimeOptions.h"
#include "TKXEngineInterno.h"

namespace kx {

using namespace facade;

namespace {

constexpr std::string_view kSinDocumentosLogicos =
    "No se han podido determinar los documentos logicos del detalle.";

// Joins the parts of a record key: a byte no expression text holds.
constexpr char kSeparadorClave = '\x1E';

bool EsCaracterCampo(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// Trimmed and upper-cased, as the break and the detail columns compare.
std::string NombreRuptura(const Value& v) {
  return Upper(AllTrim(ValueString(v)));
}

// The job's variable changes re-based for each logical document in turn:
// the values in force before the document as one change at its start, then
// the changes inside it at their places relative to its first record.
//
// The documents come in record order, so the values in force are moved
// forward document by document, and each document costs only its own
// changes: cutting the whole list afresh for every document would be
// quadratic in records when every record brings a change.
//
// The job applies its changes in call order, whatever their indexes (see
// CambiosDesordenados). A change inside the document made by an earlier call
// than one already folded into the values in force would, as a later entry
// of the child's list, override that value; such variables are left out of
// it, so every record shows the values it shows in the job as one document.
class CambiosPorDocumento {
 public:
  explicit CambiosPorDocumento(const Value& changes) {
    const Value lista = changes.IsList() ? changes : Value::NewList();
    oVigentes_.Preparar(lista);
    int64_t ordinal = 0;
    for (const Value& e : lista.AsList()) {
      if (e.IsMap()) aEntradas_.push_back({IndiceCambio(e), ordinal++, e});
    }
    aOrden_.resize(aEntradas_.size());
    std::iota(aOrden_.begin(), aOrden_.end(), size_t{0});
    std::stable_sort(aOrden_.begin(), aOrden_.end(), [&](size_t a, size_t b) {
      return aEntradas_[a].nIndice < aEntradas_[b].nIndice;
    });
  }

  // The changes for the records first..last (1-based); calls come with
  // first increasing.
  Value SliceLogicalDataVarChanges(int64_t first, int64_t last) {
    const int64_t f = first - 1;
    const int64_t l = last - 1;
    oVigentes_.Aplicar(f, hBase_);
    while (nCursor_ < aOrden_.size() && aEntradas_[aOrden_[nCursor_]].nIndice <= f) ++nCursor_;
    std::vector<size_t> inside;
    for (size_t k = nCursor_; k < aOrden_.size() && aEntradas_[aOrden_[k]].nIndice <= l; ++k)
      inside.push_back(aOrden_[k]);
    std::sort(inside.begin(), inside.end());  // back into call order

    Value slice = Value::NewList();
    if (hBase_.Len() > 0)
      slice.Push(Value::NewMap({{"nIndiceDetalle", 0}, {"hVariables", DeepClone(hBase_)}}));
    for (size_t i : inside) {
      Value entry = Recortada(aEntradas_[i]);
      if (entry.IsNil()) continue;
      entry.Set("nIndiceDetalle", aEntradas_[i].nIndice - f);
      slice.Push(entry);
    }
    return slice;
  }

 private:
  struct Entrada {
    int64_t nIndice;
    int64_t nOrdinal;  // among the list's maps, as CambiosDesordenados counts
    Value hEntrada;
  };

  // A copy of an entry inside the document without the variables a later
  // call before the document set; nothing when it keeps none.
  Value Recortada(const Entrada& e) const {
    Value entry = DeepClone(e.hEntrada);
    const Map* vars = entry.Get("hVariables").MapPtr();
    if (!vars) return entry;
    Value kept = Value::NewMap();
    for (const Map::Entry& v : *vars) {
      if (oVigentes_.EntradaVigente(v.key.Str()) < e.nOrdinal) kept.AsMap().SetKey(v.key, v.value);
    }
    if (kept.Len() == 0) return Value();
    entry.Set("hVariables", kept);
    return entry;
  }

  CambiosDesordenados oVigentes_;
  Value hBase_ = Value::NewMap();  // the values in force before the current document
  std::vector<Entrada> aEntradas_;
  std::vector<size_t> aOrden_;  // entries by index, call order among equals
  size_t nCursor_ = 0;          // entries before it lie before the current document
};

// How many of its `records` a logical document's run printed, and whether
// that is all of them: a page loop counts what it consumed, and has printed
// its range only when it ended by consuming it; a single execution (a label
// sheet) takes every record, and so does a page loop that stalled where no
// object lists records (a letter per document shows its first record's
// fields and lists none, so none is lost).
struct ImpresionHijo {
  int64_t nImpresos;
  bool lCompleta;
};
ImpresionHijo RegistrosImpresosHijo(const TKXEngine& child, int64_t records, bool listados) {
  const Value& pagination = child.hPaginationDiagnostics;
  const std::string_view reason = pagination.Get("cTerminationReason").Str();
  if (reason == TextoTerminacion(Terminacion::kNoIniciada)) return {records, true};
  if (!listados && reason == TextoTerminacion(Terminacion::kEstancada)) return {records, true};
  const int64_t consumed =
      std::clamp<int64_t>(ValueInt(pagination.Get("nLastDataLine")), 0, records);
  const bool finished = reason == TextoTerminacion(Terminacion::kTodoConsumido) ||
                        reason == TextoTerminacion(Terminacion::kTodoConsumidoTrasDividirUltima);
  return {consumed, finished && consumed == records};
}

}  // namespace

TKXEngine& TKXEngine::SetLogicalDocumentBreak(const Value& group, const Value& fields) {
  hLogicalDocumentBreak = NormalizeLogicalDocumentBreak(group, fields);
  lLogicalDocumentBreakDisabled = false;
  return *this;
}

TKXEngine& TKXEngine::DisableLogicalDocumentBreak() {
  lLogicalDocumentBreakDisabled = true;
  return *this;
}

void TKXEngine::LoadLogicalDocumentBreak(const Ref<TPlantilla>& plantilla) {
  if (lLogicalDocumentBreakDisabled || !plantilla) return;
  const Value& data = plantilla->GetData();
  const Value ruptura = HGet(data, "hLogicalDocumentBreak", Value::NewMap());
  if (!ruptura.IsMap()) return;
  Value fields = HGet(ruptura, "aFields", Value::NewList());
  if (!fields.IsList() || fields.Len() == 0) fields = HGet(ruptura, "cSourceExpression", Value(""));
  hLogicalDocumentBreak =
      NormalizeLogicalDocumentBreak(HGet(ruptura, "cDetailGroup", Value("OMEMQUERY")), fields);
}

Value TKXEngine::NormalizeLogicalDocumentBreak(const Value& group, const Value& fields) {
  const std::string g = NombreRuptura(group);
  // The word names the whole job as one document.
  if (g.empty() || NombreRuptura(fields) == "DOCUMENTO") return Value::NewMap();
  std::vector<Value> items;
  if (const List* list = fields.ListPtr()) {
    items.assign(list->begin(), list->end());
  } else if (fields.IsText()) {
    for (std::string_view part : Split(fields.Str(), "+")) items.emplace_back(part);
  } else {
    return Value::NewMap();
  }
  Value taken = Value::NewList();
  for (const Value& item : items) {
    if (!item.IsText()) continue;
    std::string_view name = AllTrim(item.Str());
    if (size_t dot = name.rfind('.'); dot != std::string_view::npos) name = name.substr(dot + 1);
    const std::string field = Upper(AllTrim(name));
    if (field.empty() || !std::all_of(field.begin(), field.end(), EsCaracterCampo))
      return Value::NewMap();
    if (FindInList(taken, Value(field)) == 0) taken.Push(Value(field));
  }
  if (taken.Len() == 0) return Value::NewMap();
  return Value::NewMap({{"cDetailGroup", g}, {"aFields", taken}});
}

std::vector<size_t> TKXEngine::LogicalDocumentFieldIndexes(const Value& brk) {
  const std::string group = ValueString(brk.Get("cDetailGroup"));
  const Value& fields = brk.Get("aFields");
  const List* names = fields.ListPtr();
  const List* columns = aStructLine.ListPtr();
  if (!names || !columns) return {};
  std::vector<size_t> positions;
  for (const Value& field : *names) {
    const std::string name = ValueString(field);
    auto column = std::find_if(columns->begin(), columns->end(), [&](const Value& c) {
      return NombreRuptura(c.Get("grupo")) == group && NombreRuptura(c.Get("nombre")) == name;
    });
    if (column == columns->end()) {
      cLastError = "La ruptura logica de documentos requiere campos que no existen en el detalle " +
                   group + ": " + ExprText(fields);
      return {};
    }
    positions.push_back(static_cast<size_t>(column - columns->begin()));
  }
  return positions;
}

std::string TKXEngine::LogicalDocumentRecordKey(const Value& row,
                                                const std::vector<size_t>& positions) {
  std::string key;
  const List* values = row.ListPtr();
  for (size_t k = 0; k < positions.size(); ++k) {
    if (k > 0) key.push_back(kSeparadorClave);
    const size_t j = positions[k];
    key += values && j < values->size() ? ExprText((*values)[j]) : "NIL";
  }
  return key;
}

Value TKXEngine::LogicalDocumentRanges() {
  const std::vector<size_t> positions = LogicalDocumentFieldIndexes(hLogicalDocumentBreak);
  Value ranges = Value::NewList();
  const List& rows = aRegLine.AsList();
  if (rows.empty() || positions.empty()) return ranges;
  int64_t start = 1;
  std::string key = LogicalDocumentRecordKey(rows[0], positions);
  auto close = [&](int64_t end) {
    ranges.Push(Value::NewMap({{"nStart", start}, {"nEnd", end}, {"cKey", key}}));
  };
  for (size_t i = 1; i < rows.size(); ++i) {
    std::string next = LogicalDocumentRecordKey(rows[i], positions);
    if (next == key) continue;
    close(static_cast<int64_t>(i));
    start = static_cast<int64_t>(i) + 1;
    key = std::move(next);
  }
  close(static_cast<int64_t>(rows.size()));
  return ranges;
}

void TKXEngine::CloneLogicalDocumentInput(TKXEngine& child, int64_t first, int64_t last,
                                          const Value& changes) const {
  child.aStructVar = DeepClone(aStructVar);
  child.aRegVar = DeepClone(aRegVar);
  child.hStructVarIndex = DeepClone(hStructVarIndex);
  child.aStructLine = DeepClone(aStructLine);
  child.hStructLineIndex = DeepClone(hStructLineIndex);
  auto rows = MakeRef<List>();
  rows->Reserve(static_cast<size_t>(last - first + 1));
  const List& all = aRegLine.AsList();
  for (int64_t i = first; i <= last; ++i) rows->Add(DeepClone(all[static_cast<size_t>(i - 1)]));
  child.aRegLine = Value(std::move(rows));
  child.aDataVarChanges = changes;
  // The options hold the job's whole change list: the child gets its own
  // slice in its place, never a copy of the whole.
  child.hOpcionesRuntime = CopiaOpciones(hOpcionesRuntime);
  child.hOpcionesRuntime.Set(opcion::aDataVarChangesRuntime, changes);
}

void TKXEngine::Interno::AbrirDocumentoLogico(TKXEngine& child,
                                              const Ref<TPlantilla>& plantilla) const {
  child.SetEncoding(Value(e.cInputEncoding), Value(e.cOutputEncoding));
  if (e.cPlantillaMode == "PlantillaContent") {
    child.SetPlantillaContent(Value(e.cPlantillaContent));
  } else {
    child.SetPlantillaName(Value(e.cPlantilla));
  }
  // An image read for one document serves every other.
  child.oInterno_->oCacheImagenes = oCacheImagenes;
  // The job's template, unchanged since OpenJob built it, is what a fresh
  // load would give: a child borrows it rather than read and build it again.
  if (plantilla && plantilla == e.oPlantillaRuntime && lPlantillaRuntimeActual) {
    child.oInterno_->AbrirTrabajo(plantilla, &e);
  } else {
    child.OpenJob();
  }
  // A child renders its own records only: split again, it would never end.
  child.DisableLogicalDocumentBreak();
  child.oInterno_->lDocumentoLogico = true;
}

bool TKXEngine::Interno::FusionarDocumentoLogico(Ref<TDocumentoRenderizable>& merged,
                                                 TDocumentoRenderizable& doc) {
  if (!merged) {
    merged = NuevoResultado(doc);
  } else {
    if (doc.nAncho > merged->nAncho || doc.nAlto > merged->nAlto) {
      merged->SetTamano(Value(std::max(merged->nAncho, doc.nAncho)),
                        Value(std::max(merged->nAlto, doc.nAlto)));
    }
    if (doc.cPaperHeightMode == "content") merged->SetPaperHeightMode(Value("content"));
  }
  // Page by page: a child that spooled its pages is never loaded whole.
  for (int64_t p = 1; p <= doc.TotalPaginas(); ++p) {
    const Value page = doc.GetPagina(Value(p));
    const Value& objects = page.Get("objetos");
    merged->AddPagina(objects.IsList() ? objects : Value::NewList());
    // A page lost on its way out of the child's files or into the merged
    // document's fails the run, as it does in the page loop.
    for (const TDocumentoRenderizable* d : {&doc, merged.get()}) {
      if (d->HasPageSpoolError()) {
        e.cLastError = d->GetPageSpoolError();
        return false;
      }
    }
  }
  return true;
}

void TKXEngine::Interno::SumarRendimientoHijo(const Value& performance) {
  for (const Map::Entry& entry : performance.AsMap()) {
    const std::string_view key = entry.key.Str();
    if (entry.value.IsNumber() && key != "cMode" && key != "nTotalMs")
      SumarRendimiento(key, entry.value.Double());
  }
}

Ref<TDocumentoRenderizable> TKXEngine::GenerarDocumentosLogicos(const Ref<TPlantilla>& plantilla) {
  Interno& in = *oInterno_;
  const Value ranges = LogicalDocumentRanges();
  if (ranges.Len() == 0) {
    if (cLastError.empty()) cLastError = kSinDocumentosLogicos;
    return nullptr;
  }
  const int64_t n = static_cast<int64_t>(aRegLine.Len());
  CambiosPorDocumento cambios(aDataVarChanges);
  const bool listados = PlantillaListaRegistros(plantilla);
  Ref<TDocumentoRenderizable> merged;
  int64_t done = 0;
  int64_t made = 0;
  Terminacion end = Terminacion::kTodosDocumentosLogicos;
  for (const Value& range : ranges.AsList()) {
    const int64_t first = range.Get("nStart").Int();
    const int64_t last = range.Get("nEnd").Int();
    // One child at a time: it ends, with its document, before the next starts.
    TKXEngine child;
    in.AbrirDocumentoLogico(child, plantilla);
    CloneLogicalDocumentInput(child, first, last, cambios.SliceLogicalDataVarChanges(first, last));
    Ref<TDocumentoRenderizable> doc = child.RunEngine();
    in.pAvisos->Fusionar(child.oInterno_->oAvisos, false);
    if (!doc) {
      cLastError = "No se ha podido generar el documento logico " + std::to_string(made + 1) +
                   (child.cLastError.empty() ? "." : ": " + child.cLastError);
      // Memory that ran out in a child, or an internal error, is the run's own reason.
      const Terminacion childEnd = child.oInterno_->eTerminacion;
      end = childEnd == Terminacion::kSinMemoria || childEnd == Terminacion::kErrorInterno
                ? childEnd
                : Terminacion::kDetenidaAntesDeTerminar;
      break;
    }
    // A document that printed only part of its records is lost in part: the
    // job fails, as it does when a document gives no pages at all.
    const int64_t records = last - first + 1;
    const auto [printed, complete] = RegistrosImpresosHijo(child, records, listados);
    if (!complete) {
      cLastError = "El documento logico " + std::to_string(made + 1) + " (desde el registro " +
                   std::to_string(first) +
                   ") no ha impreso todos sus registros: " + std::to_string(printed) + " de " +
                   std::to_string(records) + " (" +
                   ValueString(child.hPaginationDiagnostics.Get("cTerminationReason")) + ").";
      done += printed;
      end = Terminacion::kDetenidaAntesDeTerminar;
      break;
    }
    if (!in.FusionarDocumentoLogico(merged, *doc)) {
      end = Terminacion::kErrorSpooling;
      break;
    }
    in.SumarRendimientoHijo(child.hPerformanceDiagnostics);
    done += last - first + 1;
    ++made;
    doc.reset();
    child.End();
    if (!NotifyProgress(Value(done), Value(n), Value(merged->TotalPaginas()), false)) {
      end = Terminacion::kDetenidaAntesDeTerminar;
      break;
    }
  }
  if (end != Terminacion::kTodosDocumentosLogicos && merged) {
    merged->End();
    merged.reset();
  }
  hPaginationDiagnostics = Value::NewMap({{"nTotalDataLines", n},
                                          {"nLastDataLine", done},
                                          {"nPages", merged ? merged->TotalPaginas() : 0},
                                          {"nLogicalDocuments", made},
                                          {"cTerminationReason", ""},
                                          {"lLastPageSplit", false},
                                          {"nLastPageSplitPages", 0}});
  in.EscribirTerminacion(end);
  return merged;
}

}  // namespace kx
