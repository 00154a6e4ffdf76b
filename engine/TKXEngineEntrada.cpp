// The engine's job data input: variables, variable changes, detail columns
// and detail records, normalised and kept in the input buffers.
#include <algorithm>
#include <type_traits>

#include "Platform.h"
#include "RuntimeOptions.h"
#include "TKXEngineInterno.h"

namespace kx {

using namespace facade;

namespace {

// Accent folding of field keys: acute vowels and the diaeresis u, in UTF-8.
std::string FoldAccents(std::string_view key) {
  std::string out;
  out.reserve(key.size());
  for (size_t i = 0; i < key.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(key[i]);
    if (c == 0xC3 && i + 1 < key.size()) {
      char folded = 0;
      switch (static_cast<unsigned char>(key[i + 1])) {
        case 0xA1:
          folded = 'a';
          break;
        case 0xA9:
          folded = 'e';
          break;
        case 0xAD:
          folded = 'i';
          break;
        case 0xB3:
          folded = 'o';
          break;
        case 0xBA:
          folded = 'u';
          break;
        case 0x81:
          folded = 'A';
          break;
        case 0x89:
          folded = 'E';
          break;
        case 0x8D:
          folded = 'I';
          break;
        case 0x93:
          folded = 'O';
          break;
        case 0x9A:
          folded = 'U';
          break;
        case 0xBC:
          folded = 'u';
          break;
        case 0x9C:
          folded = 'U';
          break;
        default:
          break;
      }
      if (folded) {
        out.push_back(folded);
        ++i;
        continue;
      }
    }
    out.push_back(static_cast<char>(c));
  }
  return out;
}

// Adds to a key of the input diagnostics in its place: milliseconds as a real
// number, a count as an integer.
template <class Numero>
void SumarDiagnosticoEntrada(Value& diagnostics, std::string_view key, Numero n) {
  Value* current = diagnostics.IsMap() ? diagnostics.AsMap().Find(key) : nullptr;
  Value sum;
  if constexpr (std::is_floating_point_v<Numero>) {
    sum = Value(current ? current->Double() + n : n);
  } else {
    sum = Value(current ? current->Int() + n : n);
  }
  if (current) {
    *current = sum;
  } else {
    diagnostics.Set(key, sum);
  }
}

}  // namespace

TKXEngine& TKXEngine::ResetBuffersDatos() {
  aStructVar = Value::NewList();
  aRegVar = Value::NewList({Value::NewList()});
  aDataVarChanges = Value::NewList();
  hStructVarIndex = Value::NewMap();
  aStructLine = Value::NewList();
  aRegLine = Value::NewList();
  hStructLineIndex = Value::NewMap();
  hOpcionesRuntime.Set(opcion::aDataVarChangesRuntime, aDataVarChanges);
  oInterno_->oInputKeyCache.reset();
  // The buffers are whole again: a failed input call of theirs is forgotten.
  oInterno_->lEntradaFallida = false;
  oInterno_->cErrorEntrada.clear();
  return *this;
}

Value TKXEngine::NormalizarValorEntrada(const Value& value) const {
  return ConvertirEntradaUtf8(value);
}

std::string TKXEngine::Interno::NormalizarClaveEntrada(std::string_view key) const {
  if (IsAscii(key)) return std::string(key);
  return FoldAccents(e.ConvertirEntradaUtf8(Value(key)).Str());
}

Value TKXEngine::NormalizarCamposEntrada(const Value& fields) const {
  Value out = Value::NewMap();
  out.AsMap().Reserve(fields.Len());
  for (const Map::Entry& e : fields.AsMap())
    out.Set(oInterno_->NormalizarClaveEntrada(e.key.Str()), e.value);
  return out;
}

std::string TKXEngine::NormalizarNombre(std::string_view x) {
  return Upper(AllTrim(x));
}

std::string TKXEngine::Interno::NormalizarGrupo(const Value& group) const {
  // Converted like field keys, so no invalid UTF-8 reaches keys or the job summary.
  return NormalizarNombre(e.ConvertirEntradaUtf8(Value(ValueString(group))).Str());
}

const std::string& TKXEngine::Interno::GrupoDetalle(const Value& group) {
  // A job sends its records under one group name: it is normalised once.
  const bool utf8 = e.cInputEncoding == "UTF-8";
  if (!group.IsText() || !lGrupoDetalle || lGrupoDetalleUtf8 != utf8 ||
      group.Str() != cGrupoDetalleDado) {
    cGrupoDetalle = NormalizarGrupo(group);
    lGrupoDetalle = group.IsText();
    lGrupoDetalleUtf8 = utf8;
    cGrupoDetalleDado = std::string(group.Str());
  }
  return cGrupoDetalle;
}

bool TKXEngine::Interno::InputAccepted(const std::string& group, const Value& fields) const {
  // After a failed input call the buffers may be partly written: nothing more goes in.
  return e.lJobAbierto && !lEntradaFallida && !group.empty() && fields.IsMap();
}

std::string TKXEngine::InferirTipoDato(const Value& value) {
  if (value.IsNumber()) return "numerico";
  if (value.IsLogical()) return "logico";
  if (value.IsDate()) return "fecha";
  return "texto";
}

int64_t TKXEngine::InferirLongitudDato(const Value& value) {
  if (value.IsLogical()) return 1;
  return static_cast<int64_t>(ValueString(value).size());
}

int64_t TKXEngine::InferirDecimalesDato(const Value& value) {
  std::string t(AllTrim(WidthText(value, 30, 10)));
  while (!t.empty() && t.back() == '0') t.pop_back();
  size_t point = t.find('.');
  if (point == std::string::npos || point + 1 == t.size()) return 0;
  return static_cast<int64_t>(t.size() - point - 1);
}

Value TKXEngine::EstructuraCampo(const std::string& group, const std::string& field,
                                 const Value& value) {
  Value def =
      Value::NewMap({{"grupo", group}, {"nombre", field}, {"tipo", InferirTipoDato(value)}});
  if (!value.IsNil()) def.Set("longitud", InferirLongitudDato(value));
  if (value.IsNumber()) def.Set("decimales", InferirDecimalesDato(value));
  return def;
}

void TKXEngine::AcumularDataVar(const std::string& group, const Value& field, const Value& value) {
  std::string name(AllTrim(field.Str()));
  std::string key = group + "." + NormalizarNombre(name);
  Value& row = aRegVar.AsList()[0];
  const Value* position = hStructVarIndex.AsMap().Find(key);
  int64_t slot;
  if (position) {
    slot = position->Int();
  } else {
    slot = static_cast<int64_t>(aStructVar.Len()) + 1;
    hStructVarIndex.Set(key, slot);
    aStructVar.Push(EstructuraCampo(group, name, value));
    row.Push(Value());
  }
  row.AsList()[static_cast<size_t>(slot - 1)] = value;
}

TKXEngine& TKXEngine::SendDataVar(const Value& group, const Value& fields) {
  oInterno_->EntradaProtegida([&] {
    std::string g = oInterno_->NormalizarGrupo(group);
    if (!oInterno_->InputAccepted(g, fields)) return;
    Value normalised = NormalizarCamposEntrada(fields);
    for (const Map::Entry& e : normalised.AsMap()) {
      // A key that trims to nothing names no variable a formula could reach.
      if (NormalizarNombre(e.key.Str()).empty()) continue;
      AcumularDataVar(g, e.key, NormalizarValorEntrada(e.value));
    }
  });
  return *this;
}

TKXEngine& TKXEngine::SendDataVarAt(const Value& detailIndex, const Value& group,
                                    const Value& fields) {
  oInterno_->EntradaProtegida([&] {
    std::string g = oInterno_->NormalizarGrupo(group);
    if (!oInterno_->InputAccepted(g, fields)) return;
    Value normalised = NormalizarCamposEntrada(fields);
    Value changes = Value::NewMap();
    for (const Map::Entry& e : normalised.AsMap()) {
      std::string upper = NormalizarNombre(e.key.Str());
      if (upper.empty()) continue;
      Value value = NormalizarValorEntrada(e.value);
      if (!hStructVarIndex.Has(g + "." + upper)) AcumularDataVar(g, e.key, value);
      changes.Set(g + "." + std::string(AllTrim(e.key.Str())), value);
    }
    if (changes.Len() == 0) return;
    int64_t index = detailIndex.IsNumber() ? std::max<int64_t>(0, IntPart(detailIndex).Int()) : 0;
    aDataVarChanges.Push(Value::NewMap({{"nIndiceDetalle", index}, {"hVariables", changes}}));
    hOpcionesRuntime.Set(opcion::aDataVarChangesRuntime, aDataVarChanges);
  });
  return *this;
}

size_t TKXEngine::Interno::AddDetailColumn(const std::string& group, const std::string& field,
                                           const std::string& indexKey, const Value& value) {
  size_t column = e.aStructLine.Len() + 1;
  e.hStructLineIndex.AsMap().Append(KeyText(indexKey), static_cast<int64_t>(column));
  e.aStructLine.Push(EstructuraCampo(group, field, value));
  // Earlier records get an empty slot, so every row has one slot per column.
  for (Value& row : e.aRegLine.AsList()) row.Push(Value());
  return column;
}

void TKXEngine::AcumularEstructuraDetalle(const std::string& group, const Value& fields) {
  for (const Map::Entry& e : fields.AsMap()) {
    std::string upper = NormalizarNombre(e.key.Str());
    if (upper.empty()) continue;
    std::string indexKey = group + "." + upper;
    if (hStructLineIndex.Has(indexKey)) continue;
    oInterno_->AddDetailColumn(group, std::string(AllTrim(e.key.Str())), indexKey, e.value);
  }
}

TKXEngine& TKXEngine::SendDetalleSchema(const Value& group, const Value& fields) {
  oInterno_->EntradaProtegida([&] {
    std::string g = oInterno_->NormalizarGrupo(group);
    if (!oInterno_->InputAccepted(g, fields)) return;
    Value normalised = NormalizarCamposEntrada(fields);
    for (Map::Entry e : normalised.AsMap()) e.value = NormalizarValorEntrada(e.value);
    AcumularEstructuraDetalle(g, normalised);
  });
  return *this;
}

void TKXEngine::AcumularDetalle(const std::string& group, const Value& fields) {
  AcumularEstructuraDetalle(group, fields);
  auto row = MakeRef<List>();
  row->Resize(aStructLine.Len());
  for (const Map::Entry& e : fields.AsMap()) {
    std::string upper = NormalizarNombre(e.key.Str());
    if (upper.empty()) continue;
    if (const Value* column = hStructLineIndex.AsMap().Find(group + "." + upper)) {
      (*row)[static_cast<size_t>(column->Int() - 1)] = e.value;
    }
  }
  aRegLine.Push(Value(std::move(row)));
}

TKXEngine::Interno::InputKey& TKXEngine::Interno::CachedInputKey(const std::string& group,
                                                                 std::string_view raw,
                                                                 size_t slot) {
  InputKeyCache& cache = *oInputKeyCache;
  if (slot < cache.lastLayout.size() && cache.lastLayout[slot]->raw == raw)
    return *cache.lastLayout[slot];
  std::string id = group;
  id.push_back('\x1F');
  id.append(raw);
  std::unique_ptr<InputKey>& entry = cache.byKey[id];
  if (!entry) {
    entry = std::make_unique<InputKey>();
    entry->raw = std::string(raw);
    entry->folded = NormalizarClaveEntrada(raw);
    std::string upper = NormalizarNombre(entry->folded);
    if (!upper.empty()) entry->indexKey = group + "." + upper;
  }
  if (slot >= cache.lastLayout.size()) cache.lastLayout.resize(slot + 1);
  cache.lastLayout[slot] = entry.get();
  return *entry;
}

// The common case of a record whose keys all fall on distinct columns:
// values go straight into their slots with cached keys. Answers false, having
// changed nothing, when the record needs the general road.
bool TKXEngine::Interno::AcumularDetalleRapido(const std::string& group, const Value& rawFields) {
  bool utf8 = e.cInputEncoding == "UTF-8";
  if (!oInputKeyCache || oInputKeyCache->utf8Input != utf8) {
    oInputKeyCache = std::make_unique<InputKeyCache>();
    oInputKeyCache->utf8Input = utf8;
  }
  InputKeyCache& cache = *oInputKeyCache;
  if (cache.lastGroup != group) {
    cache.lastGroup = group;
    cache.lastLayout.clear();
  }
  const Map& fields = rawFields.AsMap();
  // First pass: give new keys their columns and check that no two keys share one.
  ++cache.stamp;
  for (size_t i = 0; i < fields.size(); ++i) {
    InputKey& key = CachedInputKey(group, fields.KeyAt(i), i);
    if (key.indexKey.empty()) continue;
    if (key.column == 0) {
      if (const Value* column = e.hStructLineIndex.AsMap().Find(key.indexKey)) {
        key.column = static_cast<size_t>(column->Int());
      }
    }
    if (key.column == 0) return false;  // a new column: the general road adds it
    if (cache.written.size() < key.column) cache.written.resize(e.aStructLine.Len() + 1, 0);
    if (cache.written[key.column - 1] == cache.stamp) return false;  // two keys on one column
    cache.written[key.column - 1] = cache.stamp;
  }
  auto row = MakeRef<List>();
  row->Resize(e.aStructLine.Len());
  for (size_t i = 0; i < fields.size(); ++i) {
    const InputKey& key = *cache.lastLayout[i];
    if (key.column) (*row)[key.column - 1] = e.NormalizarValorEntrada(fields.ValueAt(i));
  }
  e.aRegLine.Push(Value(std::move(row)));
  return true;
}

TKXEngine& TKXEngine::SendDetalle(const Value& group, const Value& fields) {
  oInterno_->EntradaProtegida([&] {
    const std::string& g = oInterno_->GrupoDetalle(group);
    if (!oInterno_->InputAccepted(g, fields)) return;
    // Sums of spans taken per record: the tick counter, turned into ms per span.
    uint64_t t = lInputDiagnostics ? platform::TickCount() : 0;
    size_t values = fields.Len();
    if (!oInterno_->AcumularDetalleRapido(g, fields)) {
      Value normalised = NormalizarCamposEntrada(fields);
      for (Map::Entry e : normalised.AsMap()) e.value = NormalizarValorEntrada(e.value);
      values = normalised.Len();
      if (lInputDiagnostics) {
        const uint64_t now = platform::TickCount();
        SumarDiagnosticoEntrada(hInputDiagnostics, "nNormalizeMs", platform::TicksToMs(now - t));
        t = now;
      }
      AcumularDetalle(g, normalised);
    }
    if (lInputDiagnostics) {
      // The cached road normalises while it stores: its time counts as accumulating.
      SumarDiagnosticoEntrada(hInputDiagnostics, "nAccumulateMs",
                              platform::TicksToMs(platform::TickCount() - t));
      SumarDiagnosticoEntrada(hInputDiagnostics, "nRecords", int64_t{1});
      SumarDiagnosticoEntrada(hInputDiagnostics, "nValues", static_cast<int64_t>(values));
    }
  });
  return *this;
}

TKXEngine& TKXEngine::SetInputDiagnostics(const Value& on) {
  lInputDiagnostics = on.IsLogical() && on.Bool();
  hInputDiagnostics = InitialInputDiagnostics();
  return *this;
}

}  // namespace kx
