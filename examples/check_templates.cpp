// Checks templates the way a template author would want the engine to:
//   check_templates [--data DATA] [--guide FOLDER] FILE|FOLDER...
// A .json FILE is a template (run with DATA when given). A .md file, or
// every .md file of a FOLDER, holds template examples: a fenced block whose
// info string is "json template" is a template, a "json data" block right
// after it is its data, and a "json mistake" block is a template that must
// show a problem (the guide's examples of silent mistakes); a "finding"
// block after a mistake (and its data) names, one per line, findings it
// must show, each a part of one finding's text.
//
// The template is walked along the documented schema (TemplateSchema.h):
// every key must be one its place has, of its type (a logical written as a
// text, a list written as a text, a number written as a text), with one of
// its documented values; a formula must not be a data field written in
// quotes; a reset must name an accumulator; objects must have ids of their
// own and lie on the paper, and a table's box must hold a record with its
// header and footer. Each finding names its place (object, section, line,
// cell) and, where one is near, what was probably meant. Then the template
// runs: the run must answer pages without an error, print every record,
// give no warning and show no formula, image or barcode error or a
// rich-text placeholder left as written ("json template shows-errors"
// allows these and the formula errors' warnings). With --guide,
// every key the template writes must also be named in the guide (the .md
// files of FOLDER), as inline code: what an example uses, a reader of the
// guide can find. Prints one line per template; the exit code is 1 when
// any check fails.
#include <kxengine/Json.h>
#include <kxengine/TKXEngine.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "ExampleHost.h"
#include "TemplateSchemaCheck.h"

namespace {

using namespace kx;
struct Example {
  std::string name;  // file, and line of the block in a guide
  std::string text;
  std::string data;
  std::vector<std::string> findings;  // a mistake's findings that must show
  bool mistake = false;
  bool showsErrors = false;
};

// The fenced blocks of a guide that are templates, each with its data block.
std::vector<Example> ExtractExamples(const std::string& path, const std::string& text) {
  std::vector<Example> out;
  size_t pos = 0, lineNo = 0;
  bool inBlock = false;
  std::string info, body;
  size_t blockLine = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    ++lineNo;
    if (line.rfind("```", 0) != 0) {
      if (inBlock) body += line + "\n";
      continue;
    }
    if (!inBlock) {
      inBlock = true;
      info = line.substr(3);
      body.clear();
      blockLine = lineNo;
      continue;
    }
    inBlock = false;
    const std::string name = path + ":" + std::to_string(blockLine);
    if (info.rfind("json template", 0) == 0 || info.rfind("json mistake", 0) == 0) {
      Example e;
      e.name = name;
      e.text = body;
      e.mistake = info.rfind("json mistake", 0) == 0;
      e.showsErrors = info.find("shows-errors") != std::string::npos;
      out.push_back(e);
    } else if (info.rfind("json data", 0) == 0 && !out.empty() && out.back().data.empty()) {
      out.back().data = body;
    } else if (info == "finding" && !out.empty() && out.back().mistake) {
      for (size_t at = 0; at < body.size();) {
        size_t next = body.find('\n', at);
        if (next == std::string::npos) next = body.size();
        if (next > at) out.back().findings.push_back(body.substr(at, next - at));
        at = next + 1;
      }
    }
  }
  return out;
}

// The words a guide names as inline code (`nLeft`, `{"cColor", "nWidth"}`):
// every run of letters, digits and "_" inside a code span outside the fenced
// blocks, whose examples name keys without saying what they are.
std::set<std::string> GuideWords(const std::string& text) {
  std::set<std::string> words;
  bool fenced = false;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    if (line.rfind("```", 0) == 0) {
      fenced = !fenced;
      continue;
    }
    if (fenced) continue;
    for (size_t open = line.find('`'); open != std::string::npos;) {
      const size_t close = line.find('`', open + 1);
      if (close == std::string::npos) break;
      std::string word;
      for (size_t i = open + 1; i <= close; ++i) {
        const char c = line[i];
        if (std::isalnum(static_cast<unsigned char>(c)) || c == '_') {
          word.push_back(c);
        } else if (!word.empty()) {
          words.insert(word);
          word.clear();
        }
      }
      open = line.find('`', close + 1);
    }
  }
  return words;
}

// The first syntax error of a text that is no JSON, in the checker's words.
std::string JsonErrorInEnglish(const JsonError& error) {
  std::string expected;
  switch (error.expected) {
    case JsonExpected::kNothing:
      return "";
    case JsonExpected::kValue:
      expected = "a value";
      break;
    case JsonExpected::kKeyOrBrace:
      expected = "a quoted key or '}'";
      break;
    case JsonExpected::kKey:
      expected = "a quoted key";
      break;
    case JsonExpected::kColon:
      expected = "':'";
      break;
    case JsonExpected::kCommaOrBrace:
      expected = "',' or '}'";
      break;
    case JsonExpected::kCommaOrBracket:
      expected = "',' or ']'";
      break;
    case JsonExpected::kQuote:
      expected = "'\"' to close the string";
      break;
    case JsonExpected::kEscapedControl:
      expected = "'\"' or an escape (\\n, \\t) instead of a control character";
      break;
    case JsonExpected::kEscape:
      expected = "a valid escape after '\\'";
      break;
    case JsonExpected::kHexDigits:
      expected = "four hexadecimal digits after \\u";
      break;
    case JsonExpected::kDigit:
      expected = "a digit";
      break;
    case JsonExpected::kLessNesting:
      expected = "at most " + std::to_string(kJsonMaxDepth) + " levels of nested lists and objects";
      break;
  }
  return "line " + std::to_string(error.nLine) + ", column " + std::to_string(error.nColumn) +
         ": expected " + expected;
}
// ---------------------------------------------------------------------------
// The checker

class Checker {
 public:
  std::vector<std::string> problems;
  const std::set<std::string>* guide = nullptr;  // the guide's words, when asked for

  // One line each: a message's line breaks become " / ".
  void Problem(std::string text) {
    for (size_t at; (at = text.find_first_of("\r\n")) != std::string::npos;) {
      size_t end = text.find_first_not_of("\r\n", at);
      text.replace(at, end == std::string::npos ? std::string::npos : end - at, " / ");
    }
    problems.push_back(text);
  }

  // The template against the documented schema, then the rules over it as a whole.
  void CheckTemplate(const std::string& text, const Value& raw, const Value& data) {
    for (std::string& finding : examples::CheckTemplateAgainstSchema(text, raw, data, guide))
      Problem(std::move(finding));
  }

  // What a rendered object shows that says something went wrong.
  void CheckRendered(int64_t page, const Value& o) {
    const std::string kind = ValueString(o.Get("tipo"));
    const std::string where =
        "page " + std::to_string(page) + " " + kind + " " + ValueString(o.Get("id"));
    if (o.Get("formulaError").Bool())
      Problem(where + ": formula error " + ValueString(o.Get("formulaErrorMessage")));
    if (kind == "imagen" && !o.Get("error").Str().empty())
      Problem(where + ": " + std::string(o.Get("error").Str()));
    if (kind == "barcode" && o.Has("error")) Problem(where + ": " + ValueString(o.Get("error")));
    // An error value that reached a text without being flagged (a rich text's placeholder).
    const std::string shown = kind == "texto_enriquecido" ? ValueString(o.Get("plainContent"))
                                                          : ValueString(o.Get("texto"));
    // A placeholder the engine left as written: it named no variable in a content that
    // may bring data, which a quote escaped with a backslash makes of a literal.
    if (kind == "texto_enriquecido") {
      const size_t open = shown.find("{{");
      if (open != std::string::npos && shown.find("}}", open + 2) != std::string::npos)
        Problem(where + " shows a placeholder left as written: " + shown);
    }
    for (const char* mark : {"[Variable no encontrada: ", "[Expresion no valida", "[Funcion ",
                             "[Formula IIf no valida: ", "[Constante KX.Color no soportada: ",
                             "[Referencia circular: "}) {
      if (shown.find(mark) != std::string::npos) {
        Problem(where + " shows " + shown);
        break;
      }
    }
  }

  // Every warning of the run is a finding, with how often it occurred; an example that
  // shows formula errors on purpose may warn of them.
  void Warnings(const TKXEngine& engine, bool showsErrors) {
    const Value warnings = engine.GetAvisos();
    for (const Value& w : warnings.AsList()) {
      const std::string text = ValueString(w.Get("cAviso"));
      if (showsErrors && text.rfind("Error de formula: ", 0) == 0) continue;
      Problem("the engine warns (x" + ValueString(w.Get("nVeces")) + "): " + text);
    }
  }

  void Run(const std::string& text, const Value& data, bool showsErrors) {
    TKXEngine engine;
    engine.Create();
    engine.SetEncodingUTF8();
    engine.SetPlantillaContent(Value(text));
    engine.OpenJob();
    examples::SendData(engine, data);
    engine.CloseJob();
    Ref<TDocumentoRenderizable> document = engine.RunEngine();
    Warnings(engine, showsErrors);
    if (!document) {
      Problem("the run answered no document: " + engine.cLastError);
      engine.End();
      return;
    }
    if (document->TotalPaginas() == 0) Problem("the run answered no page");
    for (int64_t n = 1; n <= document->TotalPaginas(); ++n) {
      const Value page = document->GetPagina(Value(n));
      if (const List* objects = page.Get("objetos").ListPtr()) {
        for (const Value& o : *objects) {
          if (!showsErrors) CheckRendered(n, o);
        }
      }
    }
    if (document->HasPageSpoolError()) Problem(document->GetPageSpoolError());
    const std::string reason =
        ValueString(engine.GetPaginationDiagnostics().Get("cTerminationReason"));
    if (reason == "stalled-without-consuming-data" || reason == "stopped-before-all-data")
      Problem("the run printed not every record (" + reason + ")");
    engine.End();
  }
};

// Checks one template; answers whether it passed (a mistake passes when it
// is caught, with every finding its guide names).
bool Check(const Example& e, const std::set<std::string>* guide) {
  Checker checker;
  checker.guide = guide;
  JsonError templateError, dataError;
  Value raw = JsonDecode(e.text, templateError);
  Value data = e.data.empty() ? Value::NewMap() : JsonDecode(e.data, dataError);
  if (!raw.IsMap()) {
    checker.Problem(templateError.expected == JsonExpected::kNothing
                        ? "the template is no JSON object"
                        : "the template is no JSON: " + JsonErrorInEnglish(templateError));
  } else if (!data.IsMap()) {
    checker.Problem(dataError.expected == JsonExpected::kNothing
                        ? "the data is no JSON object"
                        : "the data is no JSON: " + JsonErrorInEnglish(dataError));
  } else {
    checker.CheckTemplate(e.text, raw, data);
    checker.Run(e.text, data, e.showsErrors);
  }
  if (e.mistake) {
    if (checker.problems.empty()) {
      std::printf("FAIL %s: a mistake that shows no problem\n", e.name.c_str());
      return false;
    }
    bool ok = true;
    for (const std::string& finding : e.findings) {
      if (std::none_of(checker.problems.begin(), checker.problems.end(), [&](const std::string& p) {
            return p.find(finding) != std::string::npos;
          })) {
        std::printf("FAIL %s: no finding says: %s\n", e.name.c_str(), finding.c_str());
        ok = false;
      }
    }
    if (!ok) {
      for (const std::string& p : checker.problems)
        std::printf("     %s: it found: %s\n", e.name.c_str(), p.c_str());
      return false;
    }
    std::printf("ok   %s (mistake: %s)\n", e.name.c_str(), checker.problems.front().c_str());
    return true;
  }
  if (checker.problems.empty()) {
    std::printf("ok   %s\n", e.name.c_str());
    return true;
  }
  for (const std::string& p : checker.problems)
    std::printf("FAIL %s: %s\n", e.name.c_str(), p.c_str());
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  std::string dataPath;
  std::string guidePath;
  std::vector<fs::path> inputs;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--data" && i + 1 < argc) {
      dataPath = argv[++i];
    } else if (arg == "--guide" && i + 1 < argc) {
      guidePath = argv[++i];
    } else if (fs::is_directory(arg)) {
      std::vector<fs::path> guides;
      for (const auto& entry : fs::directory_iterator(arg))
        if (entry.path().extension() == ".md") guides.push_back(entry.path());
      std::sort(guides.begin(), guides.end());
      inputs.insert(inputs.end(), guides.begin(), guides.end());
    } else {
      inputs.emplace_back(arg);
    }
  }
  if (inputs.empty()) {
    std::fprintf(stderr, "usage: check_templates [--data DATA] [--guide FOLDER] FILE|FOLDER...\n");
    return 2;
  }
  // A schema the engine has moved away from would pass mistakes, or report good keys.
  const std::vector<std::string> drift = examples::SchemaAgainstEngine();
  for (const std::string& d : drift) std::printf("FAIL check_templates' schema: %s\n", d.c_str());
  if (!drift.empty()) return 1;
  std::string data;
  if (!dataPath.empty() && !examples::ReadFile(dataPath, data)) {
    std::fprintf(stderr, "check_templates: cannot read %s\n", dataPath.c_str());
    return 2;
  }
  std::set<std::string> guide;
  if (!guidePath.empty()) {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(guidePath, error)) {
      std::string text;
      if (entry.path().extension() == ".md" && examples::ReadFile(entry.path().string(), text))
        guide.merge(GuideWords(text));
    }
    if (guide.empty()) {
      std::fprintf(stderr, "check_templates: no guide in %s\n", guidePath.c_str());
      return 2;
    }
  }
  bool ok = true;
  size_t checked = 0;
  for (const fs::path& input : inputs) {
    std::string text;
    if (!examples::ReadFile(input.string(), text)) {
      std::printf("FAIL %s: cannot be read (no regular file, or one larger than 64 MiB)\n",
                  input.string().c_str());
      ok = false;
      continue;
    }
    std::vector<Example> examples;
    if (input.extension() == ".md") {
      examples = ExtractExamples(input.string(), text);
    } else {
      Example e;
      e.name = input.string();
      e.text = text;
      e.data = data;
      examples.push_back(e);
    }
    for (const Example& e : examples) ok = Check(e, guidePath.empty() ? nullptr : &guide) && ok;
    checked += examples.size();
  }
  // A guide whose blocks are no longer found checks nothing: that is no pass.
  if (checked == 0) {
    std::printf("FAIL no template found\n");
    ok = false;
  }
  std::printf("%zu templates checked\n", checked);
  return ok ? 0 : 1;
}
