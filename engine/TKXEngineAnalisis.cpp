// The engine's template analysis: the variables the template's formulas use,
// the ask-string prompts, and the validation of the job's data against them.
#include <algorithm>
#include <vector>

#include "RuntimeOptions.h"
#include "TEvaluadorFormulas.h"
#include "TKXEngineInterno.h"

namespace kx {

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

// The template analysis reads formulas by rules of its own, not by the
// formula syntax's (FormulaSyntax.h): there a quoted literal ends at the next
// quote of its kind and arguments split at "," and ";", while the analysis
// lets the call scan skip a quote after a backslash, ends the variable scan's
// literals at the next quote even after one, and splits ask-string arguments
// at "," only. The prompts and required variables it reports depend on
// exactly these rules, so they stay its own.

// Position just past a quoted literal opened at `i`; a quote after a backslash does not close it.
size_t SkipLiteral(std::string_view s, size_t i) {
  char quote = s[i];
  for (size_t k = i + 1; k < s.size(); ++k) {
    if (s[k] == quote && s[k - 1] != '\\') return k + 1;
  }
  return s.size();
}

}  // namespace

bool TKXEngine::EsInicioIdentificador(char c) {
  return c == '_' || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool TKXEngine::EsCaracterIdentificador(char c) {
  return EsInicioIdentificador(c) || (c >= '0' && c <= '9') || c == '.';
}

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

Value TKXEngine::GetAskStrings() {
  if (!lAskStringsAnalizados) {
    Interno::PlantillaDeLaEjecucion actual(*this, oInterno_->PlantillaActual());
    hAskStrings = Value::NewMap();
    AnalizarAskStringsNodo(actual.plantilla->GetData(), "");
    lAskStringsAnalizados = true;
  }
  return DeepClone(hAskStrings);
}

bool TKXEngine::HasAskStrings() {
  return GetAskStrings().Len() > 0;
}

TKXEngine& TKXEngine::SetAskStringValue(const Value& key, const Value& answer) {
  std::string k(AllTrim(ValueString(key)));
  if (IsBlank(k)) return *this;
  Value answers = hOpcionesRuntime.Get(opcion::hAskStringValues);
  if (!answers.IsMap()) answers = Value::NewMap();
  Value entry = GetAskStrings().Get(k);
  std::string prompt = entry.IsMap() ? ValueString(entry.Get("cPrompt")) : k;
  answers.Set(prompt, answer);
  hOpcionesRuntime.Set(opcion::hAskStringValues, answers);
  return *this;
}

TKXEngine& TKXEngine::SetAskStringValues(const Value& answers) {
  if (const Map* m = answers.MapPtr()) {
    for (const Map::Entry& e : *m) SetAskStringValue(e.key, e.value);
  }
  return *this;
}

}  // namespace kx
