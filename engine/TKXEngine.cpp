#include "TKXEngine.h"

#include <algorithm>
#include <unordered_map>
#include <vector>

#include "FormulaSyntax.h"
#include "Json.h"
#include "Platform.h"
#include "TConectorDatosReg.h"
#include "TContextoEjecucion.h"
#include "TEvaluadorFormulas.h"
#include "TImageCache.h"
#include "TMotorComposicion.h"
#include "TMotorEjecucion.h"
#include "TMotorPaginacion.h"

namespace kx {

namespace {

constexpr std::string_view kEncodingRefused =
    "Codificacion no admitida. Use WINDOWS-1252, CP1252, WIN, UTF-8 o UTF8.";
// A run that answers no document says why; only a cancel stays silent.
constexpr std::string_view kSinDocumento = "No se ha podido generar el documento del informe.";

Value OperationResult(std::string_view message, const Value* format) {
  Value result = Value::NewMap({{"lOk", false}, {"cEstado", "no_implementado"}});
  if (format) result.Set("cFormato", format->IsText() ? *format : Value(""));
  result.Set("cMensaje", message);
  return result;
}

// Lines of a text split at LF, each without CR, leading blanks and trailing spaces.
std::vector<std::string> TrimmedLines(std::string_view text) {
  std::vector<std::string> lines;
  for (std::string_view raw : Split(text, "\n")) {
    std::string line;
    line.reserve(raw.size());
    for (char c : raw) {
      if (c != '\r') line.push_back(c);
    }
    size_t start = line.find_first_not_of(" \t");
    line = start == std::string::npos ? "" : line.substr(start);
    size_t end = line.find_last_not_of(' ');
    line = end == std::string::npos ? "" : line.substr(0, end + 1);
    lines.push_back(std::move(line));
  }
  return lines;
}

}  // namespace

TKXEngine::TKXEngine(const Value& cTemplate) {
  Init(cTemplate);
}

TKXEngine::~TKXEngine() {
  End();
}

Value TKXEngine::InitialInputDiagnostics() {
  return Value::NewMap({{"nNormalizeMs", Value::Real(0.0, 1)},
                        {"nAccumulateMs", Value::Real(0.0, 1)},
                        {"nRecords", 0},
                        {"nValues", 0}});
}

Value TKXEngine::InitialPaginationDiagnostics() {
  return Value::NewMap({{"nTotalDataLines", 0},
                        {"nLastDataLine", 0},
                        {"nPages", 0},
                        {"cTerminationReason", "not-started"},
                        {"lLastPageSplit", false},
                        {"nLastPageSplitPages", 0}});
}

Value TKXEngine::InitialPerformanceDiagnostics() {
  Value d = Value::NewMap({{"cMode", "not-started"}});
  const char* realKeys[] = {"nValidateMs",         "nTemplateMs",       "nMeasurementMs",
                            "nDefinitiveMs",       "nPageEngineMs",     "nPageCompositionMs",
                            "nPageReflowMs",       "nPagePaginationMs", "nPageOverheadMs",
                            "nSelectiveFinalizeMs"};
  for (const char* k : realKeys) d.Set(k, Value::Real(0.0, 1));
  d.Set("nPageExecutions", 0);
  const char* tableKeys[] = {"nTableSetupMs",     "nTableRecordLoopMs",  "nTableFinishMs",
                             "nTablePartitionMs", "nTableRenderLinesMs", "nTableCellContentMs",
                             "nTableAccumulateMs"};
  for (const char* k : tableKeys) d.Set(k, Value::Real(0.0, 1));
  d.Set("nTableRecordsExamined", 0);
  d.Set("nTotalMs", Value::Real(0.0, 1));
  return d;
}

TKXEngine& TKXEngine::Init(const Value& cTemplate) {
  SetEncodingWIN();
  SetPlantillaName(cTemplate);
  lJobAbierto = false;
  cLastError.clear();
  hOpcionesRuntime = Value::NewMap();
  hVariablesUsadas = Value::NewMap();
  hAskStrings = Value::NewMap();
  lAskStringsAnalizados = false;
  lInputDiagnostics = false;
  hInputDiagnostics = InitialInputDiagnostics();
  hPaginationDiagnostics = InitialPaginationDiagnostics();
  hPerformanceDiagnostics = InitialPerformanceDiagnostics();
  oPlantillaRuntime.reset();
  oDocumento.reset();
  bProgressCallback = Value();
  hLogicalDocumentBreak = Value::NewMap();
  lLogicalDocumentBreakDisabled = false;
  oCacheImagenes = MakeRef<TImageCache>();
  ResetProgress();
  ResetBuffersDatos();
  return *this;
}

void TKXEngine::End() {
  // The result document is shared with the host: dropping the engine's hold
  // ends it (and erases its page files) once no host handle remains.
  oDocumento.reset();
  if (oPlantillaRuntime) oPlantillaRuntime->End();
  oPlantillaRuntime.reset();
  Init(Value(""));
}

TKXEngine& TKXEngine::OpenJob(const Value& cTemplate) {
  if (cTemplate.IsText() && !cTemplate.Str().empty()) SetPlantillaName(cTemplate);
  if (cPlantillaMode == "PlantillaName") cPlantilla = RutaPlantilla(Value(cPlantilla));
  hVariablesUsadas = Value::NewMap();
  hAskStrings = Value::NewMap();
  lAskStringsAnalizados = false;
  if (oPlantillaRuntime) oPlantillaRuntime->End();
  oPlantillaRuntime = CrearPlantilla();
  hLogicalDocumentBreak = Value::NewMap();
  lLogicalDocumentBreakDisabled = false;
  LoadLogicalDocumentBreak(oPlantillaRuntime);
  AnalizarPlantilla(oPlantillaRuntime->GetData());
  AnalizarAskStringsNodo(oPlantillaRuntime->GetData(), "");
  lAskStringsAnalizados = true;
  lPlantillaRuntimeActual = true;
  ResetBuffersDatos();
  lJobAbierto = true;
  return *this;
}

Value TKXEngine::CloseJob() {
  lJobAbierto = false;
  return Value::NewMap({
      {"cPlantilla", cPlantilla},
      {"aStructVar", aStructVar},
      {"aRegVar", aStructVar.Len() > 0 ? aRegVar : Value::NewList()},
      {"aDataVarChanges", aDataVarChanges},
      {"aStructLine", aStructLine},
      {"aRegLine", aRegLine},
      {"aUsedVar", GetVariablesUsadas()},
      {"aMissingVar", GetVariablesFaltantes()},
      {"hAskStrings", GetAskStrings()},
      {"hOpcionesRuntime", hOpcionesRuntime},
  });
}

TKXEngine& TKXEngine::ReleaseInputData() {
  return ResetBuffersDatos();
}

TKXEngine& TKXEngine::SetProgressCallback(const Value& callback) {
  // Nothing removes the callback; any other value that is not one keeps it.
  if (callback.IsCallable() || callback.IsNil()) bProgressCallback = callback;
  return *this;
}

Value TKXEngine::Print() const {
  return OperationResult("La impresion del Runtime se implementara en una fase posterior.",
                         nullptr);
}

Value TKXEngine::Export(const Value& format) const {
  return OperationResult("La exportacion del Runtime se implementara en una fase posterior.",
                         &format);
}

// ---------------------------------------------------------------------------
// Encodings

std::string TKXEngine::NormalizarEncoding(const Value& name) {
  std::string n = Upper(ReplaceAll(AllTrim(ValueString(name)), "_", "-"));
  if (n == "WIN" || n == "WINDOWS-1252" || n == "CP1252") return "WINDOWS-1252";
  if (n == "UTF8" || n == "UTF-8") return "UTF-8";
  return "";
}

TKXEngine& TKXEngine::SetEncodingWIN() {
  cInputEncoding = cOutputEncoding = "WINDOWS-1252";
  cEncodingError.clear();
  return *this;
}

TKXEngine& TKXEngine::SetEncodingUTF8() {
  cInputEncoding = cOutputEncoding = "UTF-8";
  cEncodingError.clear();
  return *this;
}

bool TKXEngine::SetEncoding(const Value& input, const Value& output) {
  std::string in = NormalizarEncoding(input);
  std::string out = NormalizarEncoding(output);
  if (in.empty() || out.empty()) {
    cEncodingError = kEncodingRefused;
    return false;
  }
  cInputEncoding = in;
  cOutputEncoding = out;
  cEncodingError.clear();
  return true;
}

namespace {

// One encoding setter: the accepted name into `member`, or the refusal message.
bool SetOneEncoding(const std::string& accepted, const std::string& refusal, std::string& member,
                    std::string& error) {
  if (accepted.empty()) {
    error = refusal;
    return false;
  }
  member = accepted;
  error.clear();
  return true;
}

}  // namespace

bool TKXEngine::SetInputEncoding(const Value& name) {
  return SetOneEncoding(NormalizarEncoding(name),
                        "Codificacion de entrada no admitida: " + ValueString(name), cInputEncoding,
                        cEncodingError);
}

bool TKXEngine::SetOutputEncoding(const Value& name) {
  return SetOneEncoding(NormalizarEncoding(name),
                        "Codificacion de salida no admitida: " + ValueString(name), cOutputEncoding,
                        cEncodingError);
}

Value TKXEngine::ConvertirEntradaUtf8(const Value& value) const {
  if (!value.IsText() || cInputEncoding == "UTF-8") return value;
  if (IsAscii(value.Str())) return value;
  return Value(Cp1252ToUtf8(value.Str()));
}

// ---------------------------------------------------------------------------
// Template source

TKXEngine& TKXEngine::SetPlantillaName(const Value& name) {
  cPlantilla = name.IsText() ? std::string(name.Str()) : "";
  cPlantillaContent.clear();
  cPlantillaMode = "PlantillaName";
  hAskStrings = Value::NewMap();
  lAskStringsAnalizados = false;
  lPlantillaRuntimeActual = false;
  return *this;
}

TKXEngine& TKXEngine::SetPlantillaContent(const Value& text) {
  cPlantilla.clear();
  cPlantillaContent = ExtraerJsonPlantilla(text);
  cPlantillaMode = "PlantillaContent";
  hAskStrings = Value::NewMap();
  lAskStringsAnalizados = false;
  lPlantillaRuntimeActual = false;
  return *this;
}

std::string TKXEngine::ExtraerJsonPlantilla(const Value& text) {
  if (!text.IsText() || text.Str().empty()) return "";
  std::string_view s = text.Str();
  constexpr std::string_view kMarker = "[UserSection]";
  for (size_t from = 0;;) {
    size_t hit = s.find(kMarker, from);
    if (hit == std::string_view::npos) return std::string(s);
    size_t after = hit + kMarker.size();
    bool atLineStart = hit == 0 || s[hit - 1] == '\n';
    bool atLineEnd = after == s.size() || s[after] == '\r' || s[after] == '\n';
    if (atLineStart && atLineEnd) {
      size_t end = hit;
      while (end > 0 && (s[end - 1] == '\r' || s[end - 1] == '\n')) --end;
      return std::string(s.substr(0, end));
    }
    from = hit + 1;
  }
}

std::string TKXEngine::RutaPlantilla(const Value& name) {
  std::string n = ValueString(name);
  if (!n.empty() && platform::FileExists(n)) return n;
  if (!n.empty()) {
    std::string inLbl = std::string("lbl") + platform::PathSeparator() + n;
    if (platform::FileExists(inLbl)) return inLbl;
  }
  return n;
}

std::string TKXEngine::GetPlantillaContent() const {
  if (cPlantillaMode == "PlantillaContent") return cPlantillaContent;
  std::string path = RutaPlantilla(Value(cPlantilla));
  std::string content;
  if (path.empty() || !platform::ReadFile(path, content)) return "";
  if (!content.empty() && content.back() == '\x1A') content.pop_back();
  return content;
}

bool TKXEngine::IsPlantillaKXTarvex(const Value& text) const {
  if (!text.IsText() || text.Str().empty() || !IsValidUtf8(text.Str())) return false;
  Value map = JsonDecode(text.Str());
  if (!map.IsMap() || !map.Has("cFormatVersion")) return false;
  if (AllTrim(ValueString(map.Get("cFormatVersion"))).empty()) return false;
  return map.Get("aObjects").IsList();
}

bool TKXEngine::IsPlantillaKX12(const Value& text) const {
  if (!text.IsText() || text.Str().empty()) return false;
  Value converted = ConvertirEntradaUtf8(text);
  std::vector<std::string> lines = TrimmedLines(converted.Str());
  const std::string* header = nullptr;
  bool description = false, layout = false, units = false;
  for (const std::string& line : lines) {
    if (!header && !line.empty()) header = &line;
    description = description || line == "[Description]";
    layout = layout || line == "[Layout]";
    units = units || Upper(line) == "UNITS=SCM-UNITS";
  }
  bool headerOk = header && (*header == "[List description]" || *header == "[Label description]");
  return headerOk && description && layout && units;
}

std::string TKXEngine::GetTipoPlantilla(const Value& text) const {
  if (IsPlantillaKXTarvex(text)) return "KXTARVEX";
  if (IsPlantillaKX12(text)) return "KX12";
  return "DESCONOCIDO";
}

Ref<TPlantilla> TKXEngine::CrearPlantilla() const {
  if (cPlantillaMode == "PlantillaContent") {
    Value map = cPlantillaContent.empty() ? Value() : JsonDecode(cPlantillaContent);
    auto plantilla = MakeRef<TPlantilla>();
    plantilla->SetData(map.IsMap() ? map : Value::NewMap());
    plantilla->Create();
    return plantilla;
  }
  auto plantilla = MakeRef<TPlantilla>(Value(cPlantilla));
  plantilla->Create();
  return plantilla;
}

// ---------------------------------------------------------------------------
// Data input

// One raw field key as a group's records send it: its folded spelling, its
// index key and its column, found once and then reused for every record.
struct TKXEngine::InputKey {
  std::string raw;
  std::string folded;
  std::string indexKey;
  size_t column = 0;  // 1-based detail column, 0 while it has none
};

// Per group, the keys in the order the last record sent them, so that a
// stream of records with the same layout is matched by plain byte compares.
struct TKXEngine::InputKeyCache {
  bool utf8Input = false;
  std::unordered_map<std::string, std::unique_ptr<InputKey>> byKey;  // group + '\x1F' + raw key
  std::string lastGroup;
  std::vector<InputKey*> lastLayout;
  std::vector<uint64_t> written;  // per column: the record stamp that last wrote it
  uint64_t stamp = 0;
};

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

}  // namespace

TKXEngine& TKXEngine::ResetBuffersDatos() {
  aStructVar = Value::NewList();
  aRegVar = Value::NewList({Value::NewList()});
  aDataVarChanges = Value::NewList();
  hStructVarIndex = Value::NewMap();
  aStructLine = Value::NewList();
  aRegLine = Value::NewList();
  hStructLineIndex = Value::NewMap();
  hOpcionesRuntime.Set("aDataVarChangesRuntime", aDataVarChanges);
  oInputKeyCache.reset();
  return *this;
}

Value TKXEngine::NormalizarValorEntrada(const Value& value) const {
  return ConvertirEntradaUtf8(value);
}

std::string TKXEngine::NormalizarClaveEntrada(std::string_view key) const {
  if (IsAscii(key)) return std::string(key);
  return FoldAccents(ConvertirEntradaUtf8(Value(key)).Str());
}

Value TKXEngine::NormalizarCamposEntrada(const Value& fields) const {
  Value out = Value::NewMap();
  out.AsMap().Reserve(fields.Len());
  for (const Map::Entry& e : fields.AsMap()) out.Set(NormalizarClaveEntrada(e.key.Str()), e.value);
  return out;
}

std::string TKXEngine::NormalizarNombre(std::string_view x) {
  return Upper(AllTrim(x));
}

std::string TKXEngine::NormalizarGrupo(const Value& group) const {
  // Converted like field keys, so no invalid UTF-8 reaches keys or the job summary.
  return NormalizarNombre(ConvertirEntradaUtf8(Value(ValueString(group))).Str());
}

bool TKXEngine::InputAccepted(const std::string& group, const Value& fields) const {
  return lJobAbierto && !group.empty() && fields.IsMap();
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
  std::string g = NormalizarGrupo(group);
  if (!InputAccepted(g, fields)) return *this;
  Value normalised = NormalizarCamposEntrada(fields);
  for (const Map::Entry& e : normalised.AsMap()) {
    // A key that trims to nothing names no variable a formula could reach.
    if (NormalizarNombre(e.key.Str()).empty()) continue;
    AcumularDataVar(g, e.key, NormalizarValorEntrada(e.value));
  }
  return *this;
}

TKXEngine& TKXEngine::SendDataVarAt(const Value& detailIndex, const Value& group,
                                    const Value& fields) {
  std::string g = NormalizarGrupo(group);
  if (!InputAccepted(g, fields)) return *this;
  Value normalised = NormalizarCamposEntrada(fields);
  Value changes = Value::NewMap();
  for (const Map::Entry& e : normalised.AsMap()) {
    std::string upper = NormalizarNombre(e.key.Str());
    if (upper.empty()) continue;
    Value value = NormalizarValorEntrada(e.value);
    if (!hStructVarIndex.Has(g + "." + upper)) AcumularDataVar(g, e.key, value);
    changes.Set(g + "." + std::string(AllTrim(e.key.Str())), value);
  }
  if (changes.Len() == 0) return *this;
  int64_t index = detailIndex.IsNumber() ? std::max<int64_t>(0, IntPart(detailIndex).Int()) : 0;
  aDataVarChanges.Push(Value::NewMap({{"nIndiceDetalle", index}, {"hVariables", changes}}));
  hOpcionesRuntime.Set("aDataVarChangesRuntime", aDataVarChanges);
  return *this;
}

size_t TKXEngine::AddDetailColumn(const std::string& group, const std::string& field,
                                  const std::string& indexKey, const Value& value) {
  size_t column = aStructLine.Len() + 1;
  hStructLineIndex.AsMap().Append(KeyText(indexKey), static_cast<int64_t>(column));
  aStructLine.Push(EstructuraCampo(group, field, value));
  // Earlier records get an empty slot, so every row has one slot per column.
  for (Value& row : aRegLine.AsList()) row.Push(Value());
  return column;
}

void TKXEngine::AcumularEstructuraDetalle(const std::string& group, const Value& fields) {
  for (const Map::Entry& e : fields.AsMap()) {
    std::string upper = NormalizarNombre(e.key.Str());
    if (upper.empty()) continue;
    std::string indexKey = group + "." + upper;
    if (hStructLineIndex.Has(indexKey)) continue;
    AddDetailColumn(group, std::string(AllTrim(e.key.Str())), indexKey, e.value);
  }
}

TKXEngine& TKXEngine::SendDetalleSchema(const Value& group, const Value& fields) {
  std::string g = NormalizarGrupo(group);
  if (!InputAccepted(g, fields)) return *this;
  Value normalised = NormalizarCamposEntrada(fields);
  for (Map::Entry e : normalised.AsMap()) e.value = NormalizarValorEntrada(e.value);
  AcumularEstructuraDetalle(g, normalised);
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

TKXEngine::InputKey& TKXEngine::CachedInputKey(const std::string& group, std::string_view raw,
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
bool TKXEngine::AcumularDetalleRapido(const std::string& group, const Value& rawFields) {
  bool utf8 = cInputEncoding == "UTF-8";
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
      if (const Value* column = hStructLineIndex.AsMap().Find(key.indexKey)) {
        key.column = static_cast<size_t>(column->Int());
      }
    }
    if (key.column == 0) return false;  // a new column: the general road adds it
    if (cache.written.size() < key.column) cache.written.resize(aStructLine.Len() + 1, 0);
    if (cache.written[key.column - 1] == cache.stamp) return false;  // two keys on one column
    cache.written[key.column - 1] = cache.stamp;
  }
  auto row = MakeRef<List>();
  row->Resize(aStructLine.Len());
  for (size_t i = 0; i < fields.size(); ++i) {
    const InputKey& key = *cache.lastLayout[i];
    if (key.column) (*row)[key.column - 1] = NormalizarValorEntrada(fields.ValueAt(i));
  }
  aRegLine.Push(Value(std::move(row)));
  return true;
}

TKXEngine& TKXEngine::SendDetalle(const Value& group, const Value& fields) {
  std::string g = NormalizarGrupo(group);
  if (!InputAccepted(g, fields)) return *this;
  double t = lInputDiagnostics ? platform::MillisecondClock() : 0.0;
  size_t values = fields.Len();
  if (!AcumularDetalleRapido(g, fields)) {
    Value normalised = NormalizarCamposEntrada(fields);
    for (Map::Entry e : normalised.AsMap()) e.value = NormalizarValorEntrada(e.value);
    values = normalised.Len();
    if (lInputDiagnostics) {
      double now = platform::MillisecondClock();
      hInputDiagnostics.Set("nNormalizeMs",
                            Value(hInputDiagnostics.Get("nNormalizeMs").Double() + (now - t)));
      t = now;
    }
    AcumularDetalle(g, normalised);
  }
  if (lInputDiagnostics) {
    // The cached road normalises while it stores: its time counts as accumulating.
    double now = platform::MillisecondClock();
    Map& d = hInputDiagnostics.AsMap();
    d.Set("nAccumulateMs", Value(d.Get("nAccumulateMs").Double() + (now - t)));
    d.Set("nRecords", d.Get("nRecords").Int() + 1);
    d.Set("nValues", d.Get("nValues").Int() + static_cast<int64_t>(values));
  }
  return *this;
}

TKXEngine& TKXEngine::SetInputDiagnostics(const Value& on) {
  lInputDiagnostics = on.IsLogical() && on.Bool();
  hInputDiagnostics = InitialInputDiagnostics();
  return *this;
}

// ---------------------------------------------------------------------------
// Template analysis, ask strings, logical documents

void TKXEngine::LoadLogicalDocumentBreak(const Ref<TPlantilla>&) {}

namespace {

// Template walks stop here: deeper nesting than any real template has is not
// scanned rather than exhausting the stack.
constexpr int kMaxTemplateDepth = 256;

const char* const kReservedWords[] = {
    "AND",      "OR",        "NOT",          "TRUE",          "FALSE",        "NULL",
    "NIL",      "IF",        "IIF",          "COND",          "RGB",          "UPPER",
    "LOWER",    "FORMATNUM", "FORMATDATE",   "TRANSFORM",     "MAX",          "MIN",
    "SUM",      "AVG",       "COUNT",        "PAGE",          "PAGES",        "TOTALPAGES",
    "LASTPAGE", "PAGEBY",    "TOTALPAGESBY", "LASTPAGEBY",    "RECNO",        "RECCOUNT",
    "PREVIOUS", "NEXT",      "GROUPCHANGED", "ISFIRSTRECORD", "ISLASTRECORD", "BARCODE",
    "CRLF"};

bool IsReservedWord(std::string_view group) {
  for (const char* w : kReservedWords) {
    if (group == w) return true;
  }
  return false;
}

bool EsInicioIdentificador(char c) {
  return c == '_' || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool EsCaracterIdentificador(char c) {
  return EsInicioIdentificador(c) || (c >= '0' && c <= '9') || c == '.';
}

// Length of a dotted logical operator at `i` (".AND.", ".OR.", ".NOT.", and
// with `literals` also the logical literals ".T." and ".F."), or 0.
size_t DottedWordAt(std::string_view s, size_t i, bool literals) {
  static const std::string_view kOperators[] = {".AND.", ".OR.", ".NOT."};
  for (std::string_view op : kOperators) {
    if (s.size() - i >= op.size() && EqualsIgnoreCase(s.substr(i, op.size()), op)) return op.size();
  }
  if (literals && s.size() - i >= 3 && s[i + 2] == '.') {
    char c = s[i + 1];
    if (c == 'T' || c == 't' || c == 'F' || c == 'f') return 3;
  }
  return 0;
}

// Position just past a quoted literal opened at `i`; a quote after a backslash does not close it.
size_t SkipLiteral(std::string_view s, size_t i) {
  char quote = s[i];
  for (size_t k = i + 1; k < s.size(); ++k) {
    if (s[k] == quote && s[k - 1] != '\\') return k + 1;
  }
  return s.size();
}

}  // namespace

std::string TKXEngine::NormalizarVariable(const Value& name) {
  std::string s(AllTrim(ValueString(name)));
  s.erase(std::remove(s.begin(), s.end(), ' '), s.end());
  if (s.empty()) return "";
  size_t dot = s.find('.');
  if (dot == std::string::npos) return Upper(s);
  std::string g = Upper(s.substr(0, dot));
  std::string f = s.substr(dot + 1);
  if (g.empty() || f.empty()) return "";
  if (g == "VAR" || g == "SUM") return g + "." + f;
  return g + "." + Upper(f);
}

bool TKXEngine::EsClaveExpresion(std::string_view key) {
  std::string k = Lower(AllTrim(key));
  static const char* const kKeys[] = {"ctext",      "ccontent",         "csource",
                                      "ccondition", "cbreakexpression", "cpagebreakcondition",
                                      "formula"};
  for (const char* known : kKeys) {
    if (k == known) return true;
  }
  return k.size() >= 7 && k.compare(k.size() - 7, 7, "formula") == 0;
}

void TKXEngine::AnalizarPlantilla(const Value& map) {
  if (map.IsMap()) AnalizarNodoPlantilla(map, 0);
}

void TKXEngine::AnalizarNodoPlantilla(const Value& node, int depth) {
  if (depth > kMaxTemplateDepth) return;
  if (const Map* m = node.MapPtr()) {
    for (const Map::Entry& e : *m) {
      if (e.value.IsMap() || e.value.IsList()) {
        AnalizarNodoPlantilla(e.value, depth + 1);
      } else if (e.value.IsText() && EsClaveExpresion(e.key.Str())) {
        AnalizarExpresion(e.value.Str());
      }
    }
  } else if (const List* l = node.ListPtr()) {
    for (const Value& element : *l) {
      if (element.IsMap() || element.IsList()) AnalizarNodoPlantilla(element, depth + 1);
    }
  }
}

void TKXEngine::AnalizarExpresion(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    char c = s[i];
    if (c == '"' || c == '\'') {
      size_t close = s.find(c, i + 1);
      i = close == std::string_view::npos ? s.size() : close + 1;
      continue;
    }
    if (!EsInicioIdentificador(c)) {
      // ".AND." and its kin are operators, ".T." and ".F." literals: never names.
      size_t word = c == '.' ? DottedWordAt(s, i, true) : 0;
      i += word ? word : 1;
      continue;
    }
    size_t start = i;
    while (i < s.size() && EsCaracterIdentificador(s[i])) {
      if (s[i] == '.' && DottedWordAt(s, i, false)) break;  // CLI.A.AND.CLI.B names two variables
      ++i;
    }
    std::string_view name = s.substr(start, i - start);
    if (name.find('.') != std::string_view::npos && name.back() != '.') RegistrarVariable(name);
  }
}

void TKXEngine::RegistrarVariable(std::string_view name) {
  std::string n = NormalizarVariable(Value(name));
  if (n.empty() || n.rfind("VAR.", 0) == 0 || n.rfind("SUM.", 0) == 0) return;
  if (Upper(n).rfind("KX.COLOR.", 0) == 0) return;
  std::string group = n.substr(0, n.find('.'));
  if (IsReservedWord(group) || hVariablesUsadas.Has(n)) return;
  hVariablesUsadas.Set(n, std::string(AllTrim(name)));
}

bool TKXEngine::IsUsedVar(const Value& name) const {
  std::string n = NormalizarVariable(name);
  return !n.empty() && hVariablesUsadas.Has(n);
}

Value TKXEngine::GetVariablesUsadas() const {
  std::vector<std::string> names;
  for (const Map::Entry& e : hVariablesUsadas.AsMap()) names.emplace_back(e.value.Str());
  std::sort(names.begin(), names.end());
  Value out = Value::NewList();
  for (std::string& n : names) out.Push(Value(n));
  return out;
}

Value TKXEngine::GetVariablesFaltantes() const {
  Value missing = Value::NewList();
  Value used = GetVariablesUsadas();
  for (const Value& name : used.AsList()) {
    std::string n = NormalizarVariable(name);
    if (!hStructVarIndex.Has(n) && !hStructLineIndex.Has(n)) missing.Push(name);
  }
  return missing;
}

Value TKXEngine::ValidarDatos() const {
  Value missing = GetVariablesFaltantes();
  std::string message;
  if (missing.Len() > 0) {
    message = "Faltan variables requeridas por la plantilla:";
    for (const Value& name : missing.AsList()) message += "\r\n- " + std::string(name.Str());
  }
  return Value::NewMap(
      {{"lOk", missing.Len() == 0}, {"aVariablesFaltantes", missing}, {"cMensaje", message}});
}

void TKXEngine::AnalizarAskStringsNodo(const Value& node, const std::string& variable, int depth) {
  if (depth > kMaxTemplateDepth) return;
  if (const Map* m = node.MapPtr()) {
    for (const Map::Entry& e : *m) {
      std::string key = Lower(AllTrim(e.key.Str()));
      if ((key == "huservars" || key == "uservar") && e.value.IsMap()) {
        for (const Map::Entry& var : e.value.AsMap()) {
          AnalizarAskStringsNodo(var.value, "VAR." + std::string(var.key.Str()), depth + 1);
        }
      } else if (e.value.IsMap() || e.value.IsList()) {
        AnalizarAskStringsNodo(e.value, variable, depth + 1);
      } else if (e.value.IsText() && EsClaveExpresion(e.key.Str())) {
        ExtraerAskStrings(e.value.Str(), variable);
      }
    }
  } else if (const List* l = node.ListPtr()) {
    for (const Value& element : *l) {
      if (element.IsMap() || element.IsList()) AnalizarAskStringsNodo(element, variable, depth + 1);
    }
  }
}

void TKXEngine::ExtraerAskStrings(std::string_view s, const std::string& variable) {
  size_t i = 0;
  while (i < s.size()) {
    char c = s[i];
    if (c == '"' || c == '\'') {
      i = SkipLiteral(s, i);
      continue;
    }
    if (!EsInicioIdentificador(c)) {
      ++i;
      continue;
    }
    size_t start = i;
    while (i < s.size() && (EsCaracterIdentificador(s[i]) || s[i] == '$')) ++i;
    std::string name = Upper(s.substr(start, i - start));
    if (name != "ASKSTRING" && name != "ASKSTRING$") continue;
    size_t open = i;
    while (open < s.size() && s[open] == ' ') ++open;
    if (open >= s.size() || s[open] != '(') continue;
    int depth = 0;
    size_t close = std::string_view::npos;
    for (size_t k = open; k < s.size();) {
      if (s[k] == '"' || s[k] == '\'') {
        k = SkipLiteral(s, k);
        continue;
      }
      if (s[k] == '(') ++depth;
      if (s[k] == ')' && --depth == 0) {
        close = k;
        break;
      }
      ++k;
    }
    if (close == std::string_view::npos) continue;
    RegistrarAskString(s.substr(start, close - start + 1),
                       SepararArgumentosAskString(s.substr(open + 1, close - open - 1)), variable);
    i = close + 1;
  }
}

std::vector<std::string> TKXEngine::SepararArgumentosAskString(std::string_view s) {
  std::vector<std::string> args;
  char quote = 0;
  int depth = 0;
  size_t from = 0;
  for (size_t k = 0; k < s.size(); ++k) {
    char c = s[k];
    if (quote) {
      if (c == quote && s[k - 1] != '\\') quote = 0;
      continue;
    }
    if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == '(') {
      ++depth;
    } else if (c == ')') {
      --depth;
    } else if (c == ',' && depth == 0) {
      args.emplace_back(AllTrim(s.substr(from, k - from)));
      from = k + 1;
    }
  }
  if (!AllTrim(s).empty() || !args.empty()) args.emplace_back(AllTrim(s.substr(from)));
  return args;
}

void TKXEngine::RegistrarAskString(std::string_view call, const std::vector<std::string>& arguments,
                                   const std::string& variable) {
  static const char* const kMissing[] = {"\"\"", ".F.", "\"\"", "0"};
  auto arg = [&](size_t i) {
    return i < arguments.size() ? arguments[i] : std::string(kMissing[i]);
  };
  std::string prompt = ValueString(EvaluarParametroAskString(arg(0), Value("")));
  Value every = EvaluarParametroAskString(arg(1), Value(false));
  std::string def = ValueString(EvaluarParametroAskString(arg(2), Value("")));
  Value max = EvaluarParametroAskString(arg(3), Value(0));
  int64_t maxLength = max.IsNumber() ? std::max<int64_t>(0, IntPart(max).Int()) : 0;
  std::string key = IsBlank(variable) ? prompt : variable;
  if (IsBlank(key)) key = "AskString_" + std::to_string(hAskStrings.Len() + 1);
  Value argumentList = Value::NewList();
  for (const std::string& a : arguments) argumentList.Push(Value(a));
  hAskStrings.Set(key, Value::NewMap({{"cKey", key},
                                      {"cVariable", variable},
                                      {"cPrompt", prompt},
                                      {"lAskEveryRecord", every.IsLogical() && every.Bool()},
                                      {"cDefault", def},
                                      {"nMaxLength", maxLength},
                                      {"cFormula", call},
                                      {"aArguments", argumentList}}));
}

Value TKXEngine::EvaluarParametroAskString(const std::string& text, const Value& def) {
  TEvaluadorFormulas evaluator;
  evaluator.Create();
  Value result = evaluator.EvaluarFormula(Value(text), Value::NewMap());
  evaluator.End();
  if (result.IsText() && !result.Str().empty() && result.Str()[0] == '[') return def;
  return result;
}

Ref<TPlantilla> TKXEngine::PlantillaActual(bool& temporary) const {
  temporary = !(oPlantillaRuntime && lPlantillaRuntimeActual);
  return temporary ? CrearPlantilla() : oPlantillaRuntime;
}

Value TKXEngine::GetAskStrings() {
  if (!lAskStringsAnalizados) {
    bool temporary;
    Ref<TPlantilla> plantilla = PlantillaActual(temporary);
    hAskStrings = Value::NewMap();
    AnalizarAskStringsNodo(plantilla->GetData(), "");
    lAskStringsAnalizados = true;
    if (temporary) plantilla->End();
  }
  return DeepClone(hAskStrings);
}

bool TKXEngine::HasAskStrings() {
  return GetAskStrings().Len() > 0;
}

TKXEngine& TKXEngine::SetAskStringValue(const Value& key, const Value& answer) {
  std::string k(AllTrim(ValueString(key)));
  if (IsBlank(k)) return *this;
  Value answers = hOpcionesRuntime.Get("hAskStringValues");
  if (!answers.IsMap()) answers = Value::NewMap();
  Value entry = GetAskStrings().Get(k);
  std::string prompt = entry.IsMap() ? ValueString(entry.Get("cPrompt")) : k;
  answers.Set(prompt, answer);
  hOpcionesRuntime.Set("hAskStringValues", answers);
  return *this;
}

TKXEngine& TKXEngine::SetAskStringValues(const Value& answers) {
  if (const Map* m = answers.MapPtr()) {
    for (const Map::Entry& e : *m) SetAskStringValue(e.key, e.value);
  }
  return *this;
}

TKXEngine& TKXEngine::SetLogicalDocumentBreak(const Value&, const Value&) {
  return *this;
}

TKXEngine& TKXEngine::DisableLogicalDocumentBreak() {
  lLogicalDocumentBreakDisabled = true;
  return *this;
}

// ---------------------------------------------------------------------------
// Labels and progress

TKXEngine& TKXEngine::SetEtiquetaInicial(const Value& label) {
  int64_t n = label.IsNumber() ? IntPart(label).Int() : 1;
  hOpcionesRuntime.Set("nEtiquetaInicial", std::max<int64_t>(1, n));
  return *this;
}

Value TKXEngine::GetLabelPrintLayout() {
  bool temporary;
  Ref<TPlantilla> plantilla = PlantillaActual(temporary);
  Value answer = Value::NewMap({{"lLabelDocument", false},
                                {"nPaperWidth", Value::Real(0.0, 1)},
                                {"nPaperHeight", Value::Real(0.0, 1)},
                                {"nCapacity", 0}});
  if (plantilla->IsLabelDocument()) {
    Value layout = plantilla->GetLabelLayout();
    for (const Map::Entry& e : layout.AsMap()) answer.AsMap().SetKey(e.key, e.value);
    Value page = plantilla->GetPagina();
    answer.Set("lLabelDocument", true);
    answer.Set("nPaperWidth", ReadNumber(ValueString(page.Get("ancho"))));
    answer.Set("nPaperHeight", ReadNumber(ValueString(page.Get("alto"))));
    auto count = [&](std::string_view key) {
      return layout.Has(key) ? IntPart(ReadNumber(ValueString(layout.Get(key)))).Int() : 1;
    };
    int64_t capacity;
    if (__builtin_mul_overflow(count("nRows"), count("nColumns"), &capacity)) capacity = INT64_MAX;
    answer.Set("nCapacity", std::max<int64_t>(1, capacity));
  }
  if (temporary) plantilla->End();
  return answer;
}

TKXEngine& TKXEngine::ResetProgress() {
  lCanceled = false;
  lProgressDefinitive = true;
  lProgressNotified = false;
  nProgressLine = 0;
  nProgressTotal = static_cast<int64_t>(aRegLine.Len());
  nProgressPages = 0;
  nProgressLastTime = 0.0;
  return *this;
}

bool TKXEngine::NotifyProgress(const Value& line, const Value& total, const Value& pages,
                               bool forced) {
  if (lCanceled) return false;
  const Callable* callback = bProgressCallback.CallablePtr();
  if (!callback) return true;
  auto count = [](const Value& v) { return std::max<int64_t>(0, IntPart(ValueNumber(v)).Int()); };
  int64_t nTotal = count(total);
  int64_t nLine = std::max(nProgressLine, std::min(nTotal, count(line)));
  int64_t nPages = std::max(nProgressPages, count(pages));
  double now = platform::MillisecondClock();
  nProgressLine = nLine;
  nProgressTotal = nTotal;
  nProgressPages = nPages;
  if (!forced && lProgressNotified && now - nProgressLastTime < 500.0) return true;
  nProgressLastTime = now;
  lProgressNotified = true;
  Value args[3] = {Value(nLine), Value(nTotal), Value(nPages)};
  Value answer;
  try {
    answer = callback->Call(args);
  } catch (...) {
    // A host callback that throws must not take the run down: it counts as "go on".
    answer = Value(true);
  }
  if (answer.IsLogical() && !answer.Bool()) lCanceled = true;
  return !lCanceled;
}

Value TKXEngine::ApplyProgressOptions(Value& options) {
  if (!bProgressCallback.IsCallable() || !options.IsMap()) return options;
  options.Set("lProgressActive", true);
  options.Set(
      "bProgressRecord", Value::Function([this](std::span<const Value> args) {
        Value n = args.empty() ? Value() : args[0];
        Value line = lProgressDefinitive ? n : Value(nProgressLine);
        return Value(NotifyProgress(line, Value(nProgressTotal), Value(nProgressPages), false));
      }));
  options.Set(
      "bProgressPage", Value::Function([this](std::span<const Value> args) {
        Value n = args.empty() ? Value() : args[0];
        Value pages = lProgressDefinitive ? n : Value(nProgressPages);
        return Value(NotifyProgress(Value(nProgressLine), Value(nProgressTotal), pages, false));
      }));
  return options;
}

Ref<TDocumentoRenderizable> TKXEngine::FinishProgress(Ref<TDocumentoRenderizable> document) {
  if (lCanceled) {
    if (document) document->End();
    return nullptr;
  }
  if (!document) return nullptr;
  if (!NotifyProgress(Value(nProgressTotal), Value(nProgressTotal), Value(document->TotalPaginas()),
                      true)) {
    document->End();
    return nullptr;
  }
  return document;
}

// ---------------------------------------------------------------------------
// Running a job

namespace {

// A step that consumes no record may still advance a table's split record;
// this many such steps in a row can only be a loop that never ends.
constexpr int64_t kMaxStepsWithoutConsuming = 1000;

// A re-run of the last pages, or a definitive pass, settles its own page
// count within a few tries.
constexpr int kMaxLastPageAttempts = 3;

const char* const kPassTableKeys[] = {
    "nTableSetupMs",       "nTableRecordLoopMs",  "nTableFinishMs",    "nTablePartitionMs",
    "nTableRenderLinesMs", "nTableCellContentMs", "nTableAccumulateMs"};

int64_t WholeCount(const Value& v) {
  return std::max<int64_t>(0, IntPart(ValueNumber(v)).Int());
}

std::string FolderOf(const std::string& path) {
  size_t slash = path.find_last_of(platform::PathSeparator());
  return slash == std::string::npos ? "" : path.substr(0, slash);
}

std::string FileNameOf(const std::string& path) {
  size_t slash = path.find_last_of(platform::PathSeparator());
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

Value TKXEngine::CopiaOpciones(const Value& options) {
  // An execution may change its options, but the record list and the variable
  // changes are only read: one shared list serves every chunk and re-run of
  // a long job instead of a copy per execution.
  Value copy = Value::NewMap();
  if (const Map* m = options.MapPtr()) {
    copy.AsMap().Reserve(m->size());
    for (const Map::Entry& e : *m) {
      std::string_view key = e.key.Str();
      bool shared = key == "aDataVarChangesRuntime" || key == "aRegistrosDetalleRuntime";
      copy.AsMap().Append(e.key, shared ? e.value : DeepClone(e.value));
    }
  }
  return copy;
}

Value TKXEngine::OpcionesPersistentes() const {
  return CopiaOpciones(hOpcionesRuntime);
}

void TKXEngine::EscribirClavesProyecto(Value& options, bool always) const {
  std::string path = cPlantillaMode == "PlantillaName" ? RutaPlantilla(Value(cPlantilla)) : "";
  if (always || !options.Has("cProjectFilePath")) options.Set("cProjectFilePath", path);
  if (always || !options.Has("cProjectPath")) options.Set("cProjectPath", FolderOf(path));
  if (always || !options.Has("cProjectFileName")) options.Set("cProjectFileName", FileNameOf(path));
}

void TKXEngine::SumarRendimiento(std::string_view key, double amount) {
  Map& d = hPerformanceDiagnostics.AsMap();
  const Value& current = d.Get(key);
  if (current.IsInt()) {
    d.Set(key, current.Int() + static_cast<int64_t>(amount));
  } else {
    d.Set(key, Value(current.Double() + amount));
  }
}

void TKXEngine::SumarRendimientoPaso(const Value& pass) {
  if (!pass.IsMap()) return;
  SumarRendimiento("nPageCompositionMs", ValueDouble(pass.Get("nCompositionMs")));
  SumarRendimiento("nPageReflowMs", ValueDouble(pass.Get("nReflowMs")));
  SumarRendimiento("nPagePaginationMs", ValueDouble(pass.Get("nPaginationMs")));
  for (const char* key : kPassTableKeys) SumarRendimiento(key, ValueDouble(pass.Get(key)));
  SumarRendimiento("nTableRecordsExamined",
                   static_cast<double>(ValueInt(pass.Get("nTableRecordsExamined"))));
}

Ref<TConectorDatosReg> TKXEngine::CrearConector(const Value& rows) const {
  auto connector = MakeRef<TConectorDatosReg>();
  connector->Create();
  if (aStructVar.Len() > 0) connector->SendDataVar(aStructVar, aRegVar);
  if (aStructLine.Len() > 0) connector->SendDataLine(aStructLine, rows.IsList() ? rows : aRegLine);
  return connector;
}

Value TKXEngine::RegistrosDetalleRuntime() const {
  // Every record has the same keys: one prototype holds them, and each record
  // is a copy that shares its key table and index, so a record costs its
  // values only. A repeated key keeps its first place and the later column's value.
  const List& columns = aStructLine.AsList();
  Map prototype;
  prototype.Reserve(columns.size());
  std::vector<size_t> slot;
  slot.reserve(columns.size());
  for (const Value& c : columns) {
    const std::string key = ValueString(c.Get("grupo")) + "." + ValueString(c.Get("nombre"));
    size_t at = prototype.IndexOf(key);
    if (at == Map::npos) {
      at = prototype.size();
      prototype.Append(KeyText(key), Value());
    }
    slot.push_back(at);
  }
  auto records = MakeRef<List>();
  records->Reserve(aRegLine.Len());
  for (const Value& row : aRegLine.AsList()) {
    auto record = MakeRef<Map>(prototype);
    const List* values = row.ListPtr();
    for (size_t j = 0; j < slot.size(); ++j) {
      record->ValueAt(slot[j]) = values && j < values->size() ? (*values)[j] : Value();
    }
    records->Add(Value(std::move(record)));
  }
  return Value(std::move(records));
}

bool TKXEngine::EsDocumentoEtiquetas(const Ref<TPlantilla>& plantilla) const {
  if (plantilla) return plantilla->IsLabelDocument();
  Ref<TPlantilla> temporary = CrearPlantilla();
  bool label = temporary->IsLabelDocument();
  temporary->End();
  return label;
}

TKXEngine::Colaboradores TKXEngine::CrearColaboradores(const Value& rows, const Value& options,
                                                       const Ref<TPlantilla>& plantilla) const {
  Colaboradores c;
  c.conector = CrearConector(rows);
  c.evaluador = MakeRef<TEvaluadorFormulas>();
  c.evaluador->Create();
  c.composicion = MakeRef<TMotorComposicion>();
  c.composicion->Create();
  c.paginacion = MakeRef<TMotorPaginacion>();
  c.paginacion->Create();
  c.contexto = MakeRef<TContextoEjecucion>(c.conector, c.evaluador, options);
  c.contexto->SetCacheImagenes(oCacheImagenes);
  c.contexto->Create();
  c.motor =
      MakeRef<TMotorEjecucion>(plantilla, c.conector, c.composicion, c.paginacion, c.contexto);
  c.motor->Create();
  return c;
}

Value TKXEngine::EjecutarMotorResultado(const Value& givenOptions, const Value& rows,
                                        Ref<TPlantilla> plantilla, Value* textStates) {
  bool ownTemplate = !plantilla;
  if (ownTemplate) plantilla = CrearPlantilla();
  Value options = givenOptions.IsMap() ? CopiaOpciones(givenOptions) : OpcionesPersistentes();
  // Every run for a job names the job's records, an empty list when it has none, so no table
  // previews its sample records on a real document.
  if (!options.Get("aRegistrosDetalleRuntime").IsList())
    options.Set("aRegistrosDetalleRuntime", RegistrosDetalleRuntime());
  EscribirClavesProyecto(options, false);
  options.Set("hUserVars", plantilla->GetUserVars());
  options.Set("hAcumVars", plantilla->GetAcumVars());
  ApplyProgressOptions(options);
  Colaboradores c = CrearColaboradores(rows, options, plantilla);
  auto& [connector, evaluator, composition, pagination, context, engine] = c;
  Ref<TDocumentoRenderizable> document = engine->Ejecutar();

  std::string error;
  if (context->HasErrorCriticoComposicion()) {
    error = context->GetErrorCriticoComposicion();
    cLastError = error;
    if (document) document->End();
    document.reset();
  }
  Value result = Value::NewMap({{"oDocumento", document ? Value(Ref<KXObject>(document)) : Value()},
                                {"hAcumuladores", DeepClone(context->GetAcumuladores())},
                                {"hContinuaciones", context->GetContinuacionesTabla()},
                                {"nConsumidos", context->GetRegistrosDetalleConsumidosRuntime()},
                                {"cError", error}});
  if (textStates) *textStates = context->GetEstadosTexto();
  engine->End();
  pagination->End();
  composition->End();
  context->End();
  evaluator->End();
  if (ownTemplate) plantilla->End();
  connector->End();
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
  if (!exporters.empty()) {
    Value options = OpcionesPersistentes();
    EscribirClavesProyecto(options, true);
    Value records = RegistrosDetalleRuntime();
    options.Set("hUserVars", plantilla->GetUserVars());
    options.Set("hAcumVars", plantilla->GetAcumVars());
    options.Set("nRegistroBase", 0);
    options.Set("nTotalRegistrosRuntime", static_cast<int64_t>(records.Len()));
    options.Set("aRegistrosDetalleRuntime", records);
    options.Set("lRegistrosDetalleGlobalRuntime", true);
    options.Set("lSemanticDataRuntime", true);
    options.Set("nPaginaActualRuntime", 1);
    options.Set("nTotalPaginasRuntime", std::max<int64_t>(1, document->TotalPaginas()));
    options.Set("lTotalPaginasConocido", true);
    Value firstRow = aRegLine.Len() > 0 ? Value::NewList({aRegLine.AsList()[0]}) : Value::NewList();
    Ref<TConectorDatosReg> connector = CrearConector(firstRow);
    auto evaluator = MakeRef<TEvaluadorFormulas>();
    evaluator->Create();
    auto context = MakeRef<TContextoEjecucion>(connector, evaluator, options);
    context->Create();
    for (const Ref<TObjectBase>& exporter : exporters) {
      Value table = exporter->GenerarDatosExportables(*context);
      if (!table.IsMap()) continue;
      table.Set("cEncoding", "UTF-8");
      tables.Push(table);
    }
    context->End();
    evaluator->End();
    connector->End();
  }
  document->SetDataTables(tables);
  return document;
}

Ref<TDocumentoRenderizable> TKXEngine::RunEngine() {
  const double start = platform::MillisecondClock();
  cLastError.clear();
  oDocumento.reset();
  ResetProgress();
  hPerformanceDiagnostics = InitialPerformanceDiagnostics();
  hPerformanceDiagnostics.Set("cMode", "starting");
  auto finish = [&](Ref<TDocumentoRenderizable> document) {
    hPerformanceDiagnostics.Set("nTotalMs", Value(platform::MillisecondClock() - start));
    return document;
  };

  double t = platform::MillisecondClock();
  Value validation = ValidarDatos();
  SumarRendimiento("nValidateMs", platform::MillisecondClock() - t);
  if (!validation.Get("lOk").Bool()) {
    hPerformanceDiagnostics.Set("cMode", "validation-error");
    cLastError = ValueString(validation.Get("cMensaje"));
    return finish(nullptr);
  }
  if (!NotifyProgress(Value(0), Value(nProgressTotal), Value(0), true)) return finish(nullptr);

  t = platform::MillisecondClock();
  Ref<TPlantilla> plantilla = oPlantillaRuntime;
  const bool ownTemplate = !plantilla;
  if (ownTemplate) plantilla = CrearPlantilla();
  SumarRendimiento("nTemplateMs", platform::MillisecondClock() - t);
  auto endTemplate = [&] {
    if (ownTemplate) plantilla->End();
  };

  Ref<TDocumentoRenderizable> document;
  auto definitive = [&](auto&& work) {
    double t0 = platform::MillisecondClock();
    document = work();
    SumarRendimiento("nDefinitiveMs", platform::MillisecondClock() - t0);
  };
  if (!lLogicalDocumentBreakDisabled && hLogicalDocumentBreak.Len() == 0)
    LoadLogicalDocumentBreak(plantilla);
  if (EsDocumentoEtiquetas(plantilla) || aRegLine.Len() == 0) {
    hPerformanceDiagnostics.Set("cMode", "single-pass-label-or-no-detail");
    lProgressDefinitive = true;
    definitive([&] {
      Value result = EjecutarMotorResultado(Value(), Value(), plantilla);
      return Ref<TDocumentoRenderizable>(result.Get("oDocumento").As<TDocumentoRenderizable>());
    });
    if (!document && !lCanceled && cLastError.empty()) cLastError = kSinDocumento;
  } else if (!UsaPaginacionPrevia(plantilla)) {
    hPerformanceDiagnostics.Set("cMode", "single-pass-no-prepagination");
    lProgressDefinitive = true;
    definitive([&] { return GenerarPaginasRuntime(Value(), plantilla); });
  } else if (PermiteFinalizacionSelectiva(plantilla->GetData(), "")) {
    hPerformanceDiagnostics.Set("cMode", "single-pass-selective-finalization");
    lProgressDefinitive = true;
    definitive([&] { return GenerarPaginasRuntime(Value(), plantilla); });
  } else {
    hPerformanceDiagnostics.Set("cMode", "two-pass");
    lProgressDefinitive = false;
    double t0 = platform::MillisecondClock();
    Ref<TDocumentoRenderizable> measuring = GenerarPaginasRuntime(Value(), plantilla);
    SumarRendimiento("nMeasurementMs", platform::MillisecondClock() - t0);
    int64_t total = measuring ? std::max<int64_t>(1, measuring->TotalPaginas()) : 1;
    const int64_t lastPage = nUltimaPagina;
    if (measuring) measuring->End();
    if (!measuring && !cLastError.empty()) {
      hPerformanceDiagnostics.Set("cMode", "composition-error");
      endTemplate();
      return finish(nullptr);
    }
    if (lCanceled) {
      endTemplate();
      return finish(nullptr);
    }
    lProgressDefinitive = true;
    nProgressLine = 0;
    nProgressPages = 0;
    nProgressLastTime = 0.0;
    lProgressNotified = false;
    if (!NotifyProgress(Value(0), Value(nProgressTotal), Value(0), true)) {
      endTemplate();
      return finish(nullptr);
    }
    definitive([&] { return GenerarPaginasRuntime(Value(total), plantilla, lastPage); });
  }
  document = AdjuntarDatosTabulares(document, plantilla);
  endTemplate();
  oDocumento = FinishProgress(document);
  return finish(oDocumento);
}

// ---------------------------------------------------------------------------
// The page loop

bool TKXEngine::EsPasoEstancado(int64_t consumed, const Value& continuations, const Value& previous,
                                int64_t& stepsWithoutConsuming) {
  if (consumed > 0) {
    stepsWithoutConsuming = 0;
    return false;
  }
  ++stepsWithoutConsuming;
  bool unchanged = continuations.Len() == 0 || ExprText(continuations) == ExprText(previous);
  return unchanged || stepsWithoutConsuming > kMaxStepsWithoutConsuming;
}

Ref<TDocumentoRenderizable> TKXEngine::GenerarPaginasRuntime(const Value& total,
                                                             const Ref<TPlantilla>& plantilla,
                                                             int64_t lastPage) {
  const int64_t n = static_cast<int64_t>(aRegLine.Len());
  const Value records = RegistrosDetalleRuntime();
  int64_t base = 0;
  Value sums = Value::NewMap();
  Value continuations = Value::NewMap();
  Ref<TDocumentoRenderizable> result;

  Value firstRow = n > 0 ? Value::NewList({aRegLine.AsList()[0]}) : Value::NewList();
  Colaboradores c = CrearColaboradores(firstRow, Value::NewMap(), plantilla);
  auto& [connector, evaluator, composition, pagination, context, engine] = c;

  hPaginationDiagnostics = Value::NewMap({{"nTotalDataLines", n},
                                          {"nLastDataLine", 0},
                                          {"nPages", 0},
                                          {"cTerminationReason", "running"},
                                          {"lLastPageSplit", false},
                                          {"nLastPageSplitPages", 0}});
  std::string reason = "running";
  bool spoolError = false;
  int64_t stepBase = 0;
  int64_t stepFirstPage = 1;
  aEstadosPagina.clear();
  nUltimaPagina = 0;
  Value stepSums = Value::NewMap();
  Value stepContinuations = Value::NewMap();
  int64_t stepsWithoutConsuming = 0;

  while (base < n) {
    const double stepStart = platform::MillisecondClock();
    stepBase = base;
    stepSums = DeepClone(sums);
    stepContinuations = DeepClone(continuations);

    Value options = OpcionesPersistentes();
    options.Set("nRegistroBase", base);
    options.Set("nTotalRegistrosRuntime", n);
    options.Set("aRegistrosDetalleRuntime", records);
    options.Set("lRegistrosDetalleGlobalRuntime", true);
    options.Set("hAcumuladoresIniciales", sums);
    options.Set("hContinuacionesTabla", continuations);
    options.Set("lOmitirResetInicialAcumuladores", sums.Len() > 0);
    options.Set("nPaginaActualRuntime", result ? result->TotalPaginas() + 1 : 1);
    options.Set("nTotalPaginasRuntime",
                total.IsNumber() ? std::max<int64_t>(1, IntPart(total).Int()) : 1);
    options.Set("lTotalPaginasConocido", total.IsNumber());
    if (total.IsNumber() && lastPage > 0) options.Set("nUltimaPaginaRuntime", lastPage);
    options.Set("hUserVars", plantilla->GetUserVars());
    options.Set("hAcumVars", plantilla->GetAcumVars());
    EscribirClavesProyecto(options, false);
    ApplyProgressOptions(options);

    connector->SendDataLine(aStructLine,
                            Value::NewList({aRegLine.AsList()[static_cast<size_t>(base)]}));
    context->SetOpciones(options);
    context->Create();

    const double engineStart = platform::MillisecondClock();
    Ref<TDocumentoRenderizable> step = engine->Ejecutar();
    const double engineMs = platform::MillisecondClock() - engineStart;
    SumarRendimiento("nPageEngineMs", engineMs);
    SumarRendimiento("nPageExecutions", 1);
    SumarRendimientoPaso(engine->GetPerformanceDiagnostics());

    if (context->HasErrorCriticoComposicion()) {
      cLastError = context->GetErrorCriticoComposicion();
      reason = "composition-error";
      if (step) step->End();
      break;
    }
    sums = DeepClone(context->GetAcumuladores());
    Value previousContinuations = continuations;
    continuations = context->GetContinuacionesTabla();
    const int64_t consumed = std::max<int64_t>(0, context->GetRegistrosDetalleConsumidosRuntime());
    if (lCanceled) {
      reason = "canceled";
      if (step) step->End();
      break;
    }
    if (!step) {
      reason = "page-generation-failed";
      if (!result) cLastError = kSinDocumento;
      break;
    }
    if (!result) {
      result = MakeRef<TDocumentoRenderizable>(Value(step->nAncho), Value(step->nAlto));
      result->Create();
      result->SetPaperHeightMode(Value(step->cPaperHeightMode));
      result->SetAutoPageSpooling(Value(50000));
      if (n >= 20000) result->EnablePageSpooling();
    }
    stepFirstPage = result->TotalPaginas() + 1;
    Value pages = step->GetPaginas();
    for (const Value& page : pages.AsList()) {
      const Value& objects = page.Get("objetos");
      result->AddPagina(objects.IsList() ? objects : Value::NewList());
      aEstadosPagina.push_back(
          EstadoDePagina(stepBase, stepSums, step->nAlto, objects, context->GetEstadosTexto()));
      if (result->HasPageSpoolError()) {
        cLastError = result->GetPageSpoolError();
        reason = "page-spool-error";
        spoolError = true;
        break;
      }
      if (lProgressDefinitive && !NotifyProgress(Value(nProgressLine), Value(nProgressTotal),
                                                 Value(result->TotalPaginas()), false)) {
        break;
      }
    }
    step->End();
    if (lCanceled || spoolError) break;

    if (EsPasoEstancado(consumed, continuations, previousContinuations, stepsWithoutConsuming)) {
      reason = "stalled-without-consuming-data";
      break;
    }
    base += consumed;
    hPaginationDiagnostics.Set("nLastDataLine", std::min(n, base));
    SumarRendimiento("nPageOverheadMs",
                     std::max(0.0, platform::MillisecondClock() - stepStart - engineMs));
  }
  if (reason == "running") reason = base >= n ? "all-data-consumed" : "stopped-before-all-data";
  hPaginationDiagnostics.Set("cTerminationReason", reason);

  const bool failed = lCanceled || spoolError || reason == "composition-error";
  // A definitive pass that ends with another count than the measuring pass
  // gave (its last-page content moved records on, or never came) is finished
  // like a single pass: its last chunk is rendered again as the last, and the
  // page-number texts state the count the document really has.
  // So is one whose tables finish on another page than they did there.
  const bool unsettled = total.IsNumber() && result &&
                         (result->TotalPaginas() != IntPart(total).Int() ||
                          (lastPage > 0 && stepFirstPage != lastPage));
  if (!failed && (!total.IsNumber() || unsettled) && result) {
    double t0 = platform::MillisecondClock();
    FinalizarPaginacionRuntime(result, stepBase, stepSums, stepContinuations, plantilla, records,
                               stepFirstPage);
    SumarRendimiento("nSelectiveFinalizeMs", platform::MillisecondClock() - t0);
    if (!cLastError.empty()) hPaginationDiagnostics.Set("cTerminationReason", "composition-error");
    if (result->HasPageSpoolError()) {
      cLastError = result->GetPageSpoolError();
      hPaginationDiagnostics.Set("cTerminationReason", "page-spool-error");
    }
  }
  const std::string finalReason = ValueString(hPaginationDiagnostics.Get("cTerminationReason"));
  if (result &&
      (lCanceled || finalReason == "page-spool-error" || finalReason == "composition-error")) {
    result->End();
    result.reset();
  }
  hPaginationDiagnostics.Set("nPages", result ? result->TotalPaginas() : 0);
  if (result && result->cPaperHeightMode == "content") {
    // Each execution measured its own page: the paper is as tall as the tallest final page.
    double tallest = 0.0;
    for (const EstadoPagina& state : aEstadosPagina) tallest = std::max(tallest, state.nAlto);
    if (tallest > 0.0) result->SetTamano(Value(result->nAncho), Value(tallest));
  }

  engine->End();
  context->End();
  pagination->End();
  composition->End();
  evaluator->End();
  connector->End();
  return result;
}

// ---------------------------------------------------------------------------
// Last-page finalisation and page-number patching

namespace {

constexpr int kMaxScanDepth = 256;

}  // namespace

bool TKXEngine::UsaPaginacionPrevia(const Ref<TPlantilla>& plantilla) const {
  if (plantilla) return ContieneFuncionPaginacionPrevia(plantilla->GetData());
  Ref<TPlantilla> temporary = CrearPlantilla();
  bool uses = ContieneFuncionPaginacionPrevia(temporary->GetData());
  temporary->End();
  return uses;
}

bool TKXEngine::ContieneFuncionPaginacionPrevia(const Value& value, int depth) {
  if (depth > kMaxScanDepth) return false;
  if (value.IsText()) return UsaFuncionPaginacion(value.Str());
  if (const Map* m = value.MapPtr()) {
    for (const Map::Entry& e : *m) {
      if (ContieneFuncionPaginacionPrevia(e.value, depth + 1)) return true;
    }
  } else if (const List* l = value.ListPtr()) {
    for (const Value& e : *l) {
      if (ContieneFuncionPaginacionPrevia(e, depth + 1)) return true;
    }
  }
  return false;
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

Value TKXEngine::OpcionesReejecucion(int64_t base, const Value& sums, const Value& continuations,
                                     int64_t page, int64_t total, int64_t lastPage,
                                     const Ref<TPlantilla>& plantilla, const Value& records) const {
  Value options = OpcionesPersistentes();
  options.Set("nRegistroBase", base);
  options.Set("nTotalRegistrosRuntime", static_cast<int64_t>(records.Len()));
  options.Set("aRegistrosDetalleRuntime", records);
  options.Set("lRegistrosDetalleGlobalRuntime", true);
  options.Set("hAcumuladoresIniciales", DeepClone(sums));
  options.Set("hContinuacionesTabla", DeepClone(continuations));
  options.Set("lOmitirResetInicialAcumuladores", sums.Len() > 0);
  options.Set("nPaginaActualRuntime", page);
  options.Set("nTotalPaginasRuntime", total);
  options.Set("lTotalPaginasConocido", true);
  if (lastPage > 0) options.Set("nUltimaPaginaRuntime", lastPage);
  options.Set("hUserVars", plantilla->GetUserVars());
  options.Set("hAcumVars", plantilla->GetAcumVars());
  return options;
}

Value TKXEngine::FilaDesde(int64_t base) const {
  // A page past the last record shows the last record in its plain variables.
  const List& rows = aRegLine.AsList();
  if (rows.empty()) return Value::NewList();
  const size_t at = static_cast<size_t>(std::clamp<int64_t>(base, 0, rows.size() - 1));
  return Value::NewList({rows[at]});
}

void TKXEngine::ReemplazarPaginas(const Ref<TDocumentoRenderizable>& document, int64_t page,
                                  const Ref<TDocumentoRenderizable>& rendered, int64_t base,
                                  const Value& sums, const Value& textStates) {
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
                                            textStates));
  }
}

TKXEngine::EstadoPagina TKXEngine::EstadoDePagina(int64_t base, const Value& sums, double height,
                                                  const Value& objects, const Value& textStates) {
  EstadoPagina state{base, height, {}};
  const Map* kept = textStates.MapPtr();
  if (const List* list = objects.ListPtr()) {
    for (size_t i = 0; i < list->size(); ++i) {
      const Value& object = (*list)[i];
      if (!EsTextoPaginacion(object)) continue;
      const Value* own = kept ? kept->Find(object.Get("id").Str()) : nullptr;
      state.aTextos.push_back({static_cast<int64_t>(i + 1), object, own ? *own : sums});
    }
  }
  return state;
}

Ref<TDocumentoRenderizable> TKXEngine::EjecutarComoPaginas(Value& options, int64_t base,
                                                           int64_t page, int64_t span,
                                                           const Ref<TPlantilla>& plantilla,
                                                           Value& result, Value& textStates) {
  // The pages run as pages `page` to `page + span - 1` of that many; when the
  // run makes another count of pages, it runs again with that count, so that
  // the page-count texts composed there state it.
  Ref<TDocumentoRenderizable> rendered;
  const Value row = FilaDesde(base);
  for (int attempt = 0; attempt < kMaxLastPageAttempts; ++attempt) {
    options.Set("nTotalPaginasRuntime", page + span - 1);
    result = EjecutarMotorResultado(options, row, plantilla, &textStates);
    rendered = Ref<TDocumentoRenderizable>(result.Get("oDocumento").As<TDocumentoRenderizable>());
    const int64_t m = rendered ? rendered->TotalPaginas() : 0;
    if (m == 0 || m == span || lCanceled || attempt + 1 == kMaxLastPageAttempts) break;
    rendered->End();
    span = m;
  }
  return rendered;
}

Ref<TDocumentoRenderizable> TKXEngine::FinalizarPaginacionRuntime(
    Ref<TDocumentoRenderizable> document, int64_t base, const Value& startSums,
    const Value& startContinuations, const Ref<TPlantilla>& plantilla, const Value& records,
    int64_t firstPage) {
  if (!document || document->TotalPaginas() == 0) return document;
  const int64_t n = static_cast<int64_t>(records.Len());
  int64_t pg = std::clamp<int64_t>(firstPage, 1, document->TotalPaginas());
  Value sums = DeepClone(startSums);
  Value continuations = DeepClone(startContinuations);
  bool placedAll = base >= n;
  // Set once pages that are not the last hold every record: the last page
  // still comes, with the header and the footer only.
  bool footerOnly = false;

  while (base < n || footerOnly) {
    // The page of the step where its tables finish is the last page, also when
    // the step's long texts run on over more pages.
    const int64_t span = std::max<int64_t>(1, document->TotalPaginas() - pg + 1);
    Value asLastResult, asLastStates;
    Value options =
        OpcionesReejecucion(base, sums, continuations, pg, pg + span - 1, pg, plantilla, records);
    Ref<TDocumentoRenderizable> asLast =
        EjecutarComoPaginas(options, base, pg, span, plantilla, asLastResult, asLastStates);
    const int64_t consumed = WholeCount(asLastResult.Get("nConsumidos"));
    if (!asLast || asLast->TotalPaginas() == 0) {
      if (asLast) asLast->End();
      break;
    }
    if (base + consumed >= n) {
      ReemplazarPaginas(document, pg, asLast, base, sums, asLastStates);
      asLast->End();
      base += consumed;
      placedAll = true;
      nUltimaPagina = pg;
      hPaginationDiagnostics.Set("nLastDataLine", std::min(n, base));
      if (hPaginationDiagnostics.Get("lLastPageSplit").Bool()) {
        hPaginationDiagnostics.Set("cTerminationReason", "all-data-consumed-after-lastpage-split");
      }
      break;
    }
    // The pages rendered as last cannot hold the rest: render them again as
    // pages that are not the last, holding the records that fitted beside the
    // last-page lines, and try the following page as the last one. When none
    // fitted there, they hold what a page that is not the last holds.
    const int64_t asLastPages = asLast->TotalPaginas();
    asLast->End();
    Value splitOptions =
        OpcionesReejecucion(base, sums, continuations, pg, pg + asLastPages, 0, plantilla, records);
    if (consumed > 0) splitOptions.Set("nRegistroFinRuntime", base + consumed);
    Value splitStates;
    Value split = EjecutarMotorResultado(splitOptions, FilaDesde(base), plantilla, &splitStates);
    Ref<TDocumentoRenderizable> notLast(split.Get("oDocumento").As<TDocumentoRenderizable>());
    const int64_t splitConsumed = WholeCount(split.Get("nConsumidos"));
    if (!notLast || notLast->TotalPaginas() == 0 || splitConsumed <= 0) {
      if (notLast) notLast->End();
      break;
    }
    hPaginationDiagnostics.Set("lLastPageSplit", true);
    hPaginationDiagnostics.Set("nLastPageSplitPages",
                               hPaginationDiagnostics.Get("nLastPageSplitPages").Int() + 1);
    ReemplazarPaginas(document, pg, notLast, base, sums, splitStates);
    pg += notLast->TotalPaginas();
    sums = split.Get("hAcumuladores").IsMap() ? split.Get("hAcumuladores") : Value::NewMap();
    continuations =
        split.Get("hContinuaciones").IsMap() ? split.Get("hContinuaciones") : Value::NewMap();
    notLast->End();
    base += splitConsumed;
    footerOnly = base >= n;
    hPaginationDiagnostics.Set("nLastDataLine", std::min(n, base));
  }
  // Records the finalisation could not place must not read as all consumed.
  const std::string reason = ValueString(hPaginationDiagnostics.Get("cTerminationReason"));
  if (!placedAll &&
      (reason == "all-data-consumed" || reason == "all-data-consumed-after-lastpage-split")) {
    hPaginationDiagnostics.Set("cTerminationReason",
                               lCanceled ? "canceled" : "stopped-before-all-data");
  }
  ActualizarTextosPaginacion(document, document->TotalPaginas(), plantilla, records);
  return document;
}

void TKXEngine::ActualizarTextosPaginacion(const Ref<TDocumentoRenderizable>& document,
                                           int64_t total, const Ref<TPlantilla>& plantilla,
                                           const Value& records) {
  Value firstRow = aRegLine.Len() > 0 ? Value::NewList({aRegLine.AsList()[0]}) : Value::NewList();
  Ref<TConectorDatosReg> connector = CrearConector(firstRow);
  auto evaluator = MakeRef<TEvaluadorFormulas>();
  evaluator->Create();
  Value options = OpcionesPersistentes();
  options.Set("hUserVars", plantilla->GetUserVars());
  options.Set("hAcumVars", plantilla->GetAcumVars());
  options.Set("nTotalPaginasRuntime", total);
  options.Set("lTotalPaginasConocido", true);
  if (nUltimaPagina > 0) options.Set("nUltimaPaginaRuntime", nUltimaPagina);
  options.Set("aRegistrosDetalleRuntime", records);
  options.Set("nTotalRegistrosRuntime", static_cast<int64_t>(records.Len()));
  EscribirClavesProyecto(options, false);
  auto context = MakeRef<TContextoEjecucion>(connector, evaluator, options);
  context->Create();
  const int64_t pages = document->TotalPaginas();
  int64_t appliedBase = -1;
  Value appliedSums;
  for (int64_t p = 1; p <= pages; ++p) {
    // Pages the loop added carry their page-number texts; any other page is read.
    EstadoPagina read;
    const EstadoPagina* state = static_cast<size_t>(p) <= aEstadosPagina.size()
                                    ? &aEstadosPagina[static_cast<size_t>(p - 1)]
                                    : nullptr;
    if (!state) {
      read =
          EstadoDePagina(-1, Value(), 0.0, document->GetPagina(Value(p)).Get("objetos"), Value());
      state = &read;
    }
    if (state->aTextos.empty()) continue;
    // A page-number text that also shows data shows that of its own place:
    // the first record of the chunk that made its page, and the sums in force
    // where it was rendered.
    if (state->nBase >= 0 && state->nBase != appliedBase) {
      if (state->nBase < static_cast<int64_t>(aRegLine.Len())) {
        connector->SendDataLine(aStructLine, FilaDesde(state->nBase));
      }
      Value stateOptions = CopiaOpciones(options);
      stateOptions.Set("nRegistroBase", state->nBase);
      context->SetOpciones(stateOptions);
      context->Create();
      appliedBase = state->nBase;
      appliedSums = Value();
    }
    context->SetEstadoPagina(Value(p), Value(total));
    Value patches = Value::NewList();
    for (const TextoPaginacion& text : state->aTextos) {
      if (text.hSumas.IsMap() && !text.hSumas.SameRef(appliedSums)) {
        context->SetAcumuladores(text.hSumas);
        appliedSums = text.hSumas;
      }
      // In memory the map is the page's own; a spooled page takes the new text as a patch.
      if (ActualizarTextoPaginacion(text.hTexto, *context, records)) {
        patches.Push(
            Value::NewMap({{"nIndex", text.nIndice}, {"uTexto", text.hTexto.Get("texto")}}));
      }
    }
    if (document->IsPageSpooling()) document->SetParchesTextoPagina(Value(p), patches);
  }
  context->End();
  evaluator->End();
  connector->End();
}

bool TKXEngine::EsTextoPaginacion(const Value& object) {
  if (!object.IsMap()) return false;
  std::string_view kind = object.Get("tipo").Str();
  if (kind != "texto" && kind != "texto_formateado") return false;
  const Value& formula = object.Get("formula");
  // Every page object passes here: a formula without a call is no page-number text.
  if (formula.IsText() && formula.Str().find('(') == std::string_view::npos) return false;
  if (!UsaFuncionPaginacion(ValueString(formula))) return false;
  // A fragment of a text split over pages is no whole text: such texts are
  // composed with the total known in the first place (two passes).
  return !object.Has("nPaginaContinuacion");
}

// `object` is a handle to the page's own map: its text is replaced in place.
bool TKXEngine::ActualizarTextoPaginacion(Value object, TContextoEjecucion& context,
                                          const Value& records) {
  if (!EsTextoPaginacion(object)) return false;
  std::string formula = ValueString(object.Get("formula"));
  int64_t record = IndiceRegistroRender(ValueString(object.Get("id")));
  const List& list = records.AsList();
  const int64_t count = static_cast<int64_t>(list.size());
  bool pushed = record >= 0 && record < count;
  if (pushed) {
    const size_t r = static_cast<size_t>(record);
    context.PushRegistroDetalle(list[r], Value(record), Value(count),
                                r > 0 ? list[r - 1] : Value::NewMap(),
                                record + 1 < count ? list[r + 1] : Value::NewMap());
  }
  object.Set("texto", context.EvaluarFormula(Value(formula)));
  if (pushed) context.PopRegistroDetalle();
  return true;
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
