#include "TKXEngine.h"

#include <algorithm>
#include <vector>

#include "Json.h"
#include "Platform.h"
#include "RuntimeOptions.h"
#include "TImageCache.h"
#include "TKXEngineInterno.h"

namespace kx {

using namespace facade;

namespace {

constexpr std::string_view kEncodingRefused =
    "Codificacion no admitida. Use WINDOWS-1252, CP1252, WIN, UTF-8 o UTF8.";

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
    // No CR or LF is left, so the trim takes leading tabs and spaces, trailing spaces.
    lines.emplace_back(AllTrim(line));
  }
  return lines;
}

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

namespace facade {

Value InitialInputDiagnostics() {
  return Value::NewMap({{"nNormalizeMs", Value::Real(0.0, 1)},
                        {"nAccumulateMs", Value::Real(0.0, 1)},
                        {"nRecords", 0},
                        {"nValues", 0}});
}

Value InitialPaginationDiagnostics() {
  return Value::NewMap({{"nTotalDataLines", 0},
                        {"nLastDataLine", 0},
                        {"nPages", 0},
                        {"cTerminationReason", TextoTerminacion(Terminacion::kNoIniciada)},
                        {"lLastPageSplit", false},
                        {"nLastPageSplitPages", 0}});
}

Value InitialPerformanceDiagnostics() {
  Value d = Value::NewMap({{"cMode", TextoModo(ModoEjecucion::kNoIniciado)}});
  const char* realKeys[] = {"nValidateMs",         "nTemplateMs",       "nMeasurementMs",
                            "nDefinitiveMs",       "nPageEngineMs",     "nPageCompositionMs",
                            "nPageReflowMs",       "nPagePaginationMs", "nPageOverheadMs",
                            "nSelectiveFinalizeMs"};
  for (const char* k : realKeys) d.Set(k, Value::Real(0.0, 1));
  d.Set("nPageExecutions", 0);
  for (const char* k : kClavesTablaMs) d.Set(k, Value::Real(0.0, 1));
  d.Set("nTableRecordsExamined", 0);
  d.Set("nTotalMs", Value::Real(0.0, 1));
  return d;
}

}  // namespace facade

TKXEngine::Interno::Interno(TKXEngine& engine) : e(engine) {}

TKXEngine::Interno::~Interno() = default;

TKXEngine::TKXEngine(const Value& cTemplate) : oInterno_(std::make_unique<Interno>(*this)) {
  Init(cTemplate);
}

TKXEngine::~TKXEngine() {
  // What End releases, without its resets: they would allocate in a
  // destructor, which may run while memory has run out.
  oDocumento.reset();
  oInterno_->SoltarPlantilla();
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
  oInterno_->eTerminacion = Terminacion::kNoIniciada;
  hPerformanceDiagnostics = InitialPerformanceDiagnostics();
  oPlantillaRuntime.reset();
  oDocumento.reset();
  bProgressCallback = Value();
  hLogicalDocumentBreak = Value::NewMap();
  lLogicalDocumentBreakDisabled = false;
  oInterno_->lPlantillaPrestada = false;
  oInterno_->lDocumentoLogico = false;
  oInterno_->oCacheImagenes = MakeRef<TImageCache>();
  oInterno_->EmpezarAvisos();
  ResetProgress();
  ResetBuffersDatos();
  return *this;
}

void TKXEngine::End() {
  // The result document is shared with the host: dropping the engine's hold
  // ends it (and erases its page files) once no host handle remains.
  oDocumento.reset();
  oInterno_->SoltarPlantilla();
  Init(Value(""));
}

TKXEngine& TKXEngine::OpenJob(const Value& cTemplate) {
  // A job whose template could not be built and analysed (memory ran out)
  // takes no input and fails its run.
  oInterno_->EntradaProtegida([&] {
    if (cTemplate.IsText() && !cTemplate.Str().empty()) SetPlantillaName(cTemplate);
    if (cPlantillaMode == "PlantillaName") cPlantilla = RutaPlantilla(Value(cPlantilla));
    oInterno_->SoltarPlantilla();
    oInterno_->AbrirTrabajo(CrearPlantilla(), nullptr);
  });
  return *this;
}

TKXEngine& TKXEngine::Interno::AbrirTrabajo(const Ref<TPlantilla>& plantilla,
                                            const TKXEngine* parent) {
  e.hVariablesUsadas = Value::NewMap();
  e.hAskStrings = Value::NewMap();
  e.lAskStringsAnalizados = false;
  SoltarPlantilla();
  e.oPlantillaRuntime = plantilla;
  lPlantillaPrestada = parent != nullptr;
  e.hLogicalDocumentBreak = Value::NewMap();
  e.lLogicalDocumentBreakDisabled = false;
  e.LoadLogicalDocumentBreak(plantilla);
  if (parent) {
    e.hVariablesUsadas = DeepClone(parent->hVariablesUsadas);
    e.hAskStrings = DeepClone(parent->hAskStrings);
  } else {
    e.AnalizarPlantilla(plantilla->GetData());
    e.AnalizarAskStringsNodo(plantilla->GetData(), "");
  }
  e.lAskStringsAnalizados = true;
  lPlantillaRuntimeActual = true;
  e.ResetBuffersDatos();
  e.lJobAbierto = true;
  return e;
}

void TKXEngine::Interno::SoltarPlantilla() {
  if (e.oPlantillaRuntime && !lPlantillaPrestada) TerminarSinExcepcion(*e.oPlantillaRuntime);
  e.oPlantillaRuntime.reset();
  lPlantillaPrestada = false;
}

Value TKXEngine::CloseJob() {
  lJobAbierto = false;
  // A summary that memory ran out for is nothing, the reason in cLastError;
  // the job's data stand as they were.
  Value summary;
  oInterno_->EntradaProtegida(
      [&] {
        summary = Value::NewMap({
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
      },
      false);
  return summary;
}

TKXEngine& TKXEngine::ReleaseInputData() {
  oInterno_->EntradaProtegida([&] { ResetBuffersDatos(); });
  return *this;
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
  oInterno_->lPlantillaRuntimeActual = false;
  return *this;
}

TKXEngine& TKXEngine::SetPlantillaContent(const Value& text) {
  cPlantilla.clear();
  cPlantillaContent = ExtraerJsonPlantilla(text);
  cPlantillaMode = "PlantillaContent";
  hAskStrings = Value::NewMap();
  lAskStringsAnalizados = false;
  oInterno_->lPlantillaRuntimeActual = false;
  return *this;
}

std::string TKXEngine::ExtraerJsonPlantilla(const Value& text) {
  if (!text.IsText()) return "";
  // Text handed over is read like a file: a leading byte-order mark is not template.
  std::string_view s = WithoutByteOrderMark(text.Str());
  if (s.empty()) return "";
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
  if (path.empty() || !TPlantilla::LeerArchivo(path, content)) return "";
  if (!content.empty() && content.back() == '\x1A') content.pop_back();
  return content;
}

bool TKXEngine::IsPlantillaKXTarvex(const Value& text) const {
  const std::string_view s = WithoutByteOrderMark(text.Str());
  if (!text.IsText() || s.empty() || !IsValidUtf8(s)) return false;
  Value map = JsonDecode(s);
  if (!map.IsMap() || !map.Has("cFormatVersion")) return false;
  if (AllTrim(ValueString(map.Get("cFormatVersion"))).empty()) return false;
  return map.Get("aObjects").IsList();
}

bool TKXEngine::IsPlantillaKX12(const Value& text) const {
  // The mark goes before the conversion, which would make it three characters.
  const std::string_view s = WithoutByteOrderMark(text.Str());
  if (!text.IsText() || s.empty()) return false;
  Value converted = ConvertirEntradaUtf8(Value(s));
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
    // No text is no source: the empty template. Text that is no JSON object is
    // handed on as it decodes, so the template knows its source gave none.
    Value map = cPlantillaContent.empty() ? Value::NewMap() : JsonDecode(cPlantillaContent);
    auto plantilla = MakeRef<TPlantilla>();
    plantilla->SetData(map);
    plantilla->Create();
    return plantilla;
  }
  auto plantilla = MakeRef<TPlantilla>(Value(cPlantilla));
  plantilla->Create();
  return plantilla;
}

Ref<TPlantilla> TKXEngine::Interno::PlantillaActual() const {
  return lPlantillaRuntimeActual ? e.oPlantillaRuntime : nullptr;
}

std::string TKXEngine::Interno::MotivoPlantillaNoValida(const TPlantilla& plantilla) const {
  // A template made from a file knows its path; one made from text has none.
  std::string texto;
  if (plantilla.cRuta.empty()) {
    texto = e.cPlantillaContent;
  } else {
    TPlantilla::LeerArchivo(plantilla.cRuta, texto);
  }
  std::string motivo(facade::kPlantillaNoCargada);
  if (e.IsPlantillaKX12(Value(texto))) return motivo.append(facade::kPlantillaKX12);
  motivo.append(plantilla.cRuta.empty() ? facade::kContenidoNoValido : plantilla.cRuta);
  // Text that is no JSON says where it stops being JSON and what should stand there.
  const std::string_view json = WithoutByteOrderMark(texto);
  JsonError error;
  if (!IsBlank(json) && !JsonDecode(json, error).IsMap() &&
      error.expected != JsonExpected::kNothing)
    motivo.append(" (").append(JsonErrorMessage(error)).append(")");
  return motivo;
}

// ---------------------------------------------------------------------------
// Labels

TKXEngine& TKXEngine::SetEtiquetaInicial(const Value& label) {
  int64_t n = label.IsNumber() ? IntPart(label).Int() : 1;
  hOpcionesRuntime.Set(opcion::nEtiquetaInicial, std::max<int64_t>(1, n));
  return *this;
}

Value TKXEngine::GetLabelPrintLayout() {
  Interno::PlantillaDeLaEjecucion actual(*this, oInterno_->PlantillaActual());
  const Ref<TPlantilla>& plantilla = actual.plantilla;
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
  return answer;
}

}  // namespace kx
