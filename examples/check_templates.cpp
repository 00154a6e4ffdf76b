// Checks templates the way a template author would want the engine to:
//   check_templates [--data DATA] [--guide FOLDER] FILE|FOLDER...
// A .json FILE is a template (run with DATA when given). A .md file, or
// every .md file of a FOLDER, holds template examples: a fenced block whose
// info string is "json template" is a template, a "json data" block right
// after it is its data, and a "json mistake" block is a template that must
// show a problem (the guide's examples of silent mistakes). A template
// passes when the engine builds every object it names, every key it writes
// is one its object writes back, the run answers pages without an error,
// prints every record, the engine gives no warning and no rendered object
// shows a formula, image or barcode error or a rich-text placeholder left as
// written ("json template shows-errors" allows these and the formula errors'
// warnings). With --guide, every key the template writes must also be named
// in the guide (the .md files of FOLDER), as inline code: what an example
// uses, a reader of the guide can find. Prints one line per template; the
// exit code is 1 when any check fails.
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

namespace {

using namespace kx;

struct Example {
  std::string name;  // file, and line of the block in a guide
  std::string text;
  std::string data;
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
    }
  }
  return out;
}

// The keys of a map.
std::set<std::string> Keys(const Value& map) {
  std::set<std::string> keys;
  if (const Map* m = map.MapPtr()) {
    for (const Map::Entry& e : *m) keys.insert(std::string(e.key.Str()));
  }
  return keys;
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

class Checker {
 public:
  std::vector<std::string> problems;
  const std::set<std::string>* guide = nullptr;  // the guide's words, when asked for

  // Every key of the part, at any depth, is a word of the guide. The keys of
  // the variable maps and of a layer map are names the template chooses, and
  // a chart's settings and a formatted text's runs carry what the viewer
  // reads: their own keys are not the engine's.
  void KeysInGuide(const std::string& where, const Value& part) {
    if (const List* list = part.ListPtr()) {
      for (const Value& item : *list) KeysInGuide(where, item);
      return;
    }
    const Map* m = part.MapPtr();
    if (!m) return;
    for (const Map::Entry& e : *m) {
      const std::string key(e.key.Str());
      if (!guide->count(key)) Problem(where + ": \"" + key + "\" is not named in the guide");
      if (key == "hAcumVars" || key == "hUserVars" || key == "hLayers") {
        if (const Map* named = e.value.MapPtr())
          for (const Map::Entry& n : *named) KeysInGuide(where + " " + key, n.value);
        continue;
      }
      if (key == "hChartSpec" || key == "aRichTextRuns" || key == "hImportMetadata") continue;
      KeysInGuide(where, e.value);
    }
  }

  // One line each: a message's line breaks become " / ".
  void Problem(std::string text) {
    for (size_t at; (at = text.find_first_of("\r\n")) != std::string::npos;) {
      size_t end = text.find_first_not_of("\r\n", at);
      text.replace(at, end == std::string::npos ? std::string::npos : end - at, " / ");
    }
    problems.push_back(text);
  }

  // Keys the template wrote that the engine's own form of the same part lacks.
  void SameKeys(const std::string& where, const Value& raw, const Value& saved,
                const std::set<std::string>& alsoRead = {}) {
    if (!raw.IsMap()) return;
    const std::set<std::string> known = Keys(saved);
    for (const std::string& key : Keys(raw)) {
      if (!known.count(key) && !alsoRead.count(key))
        Problem(where + ": \"" + key + "\" is no key of it (misspelt, or in the wrong place)");
    }
  }

  // An object of a kind, loaded from the raw map, as the engine writes it back.
  Value SavedObject(TDocument& document, const Value& raw) {
    Ref<TObjectBase> object = document.CreateObjectByType(Value(ValueString(raw.Get("cType"))));
    if (!object) return Value();
    object->Load(raw);
    object->Create();
    Value saved = object->Save();
    object->End();
    return saved;
  }

  void CheckTable(const std::string& where, TDocument& document, const Value& raw,
                  const Value& saved) {
    SameKeys(where + " hGroup", raw.Get("hGroup"), saved.Get("hGroup"));
    const Value& sections = raw.Get("hSections");
    const Value& savedSections = saved.Get("hSections");
    SameKeys(where + " hSections", sections, savedSections);
    const Map* m = sections.MapPtr();
    if (!m) return;
    for (const Map::Entry& s : *m) {
      const std::string name(s.key.Str());
      const Value& savedSection = savedSections.Get(name);
      if (!savedSection.IsMap()) continue;
      const std::string at = where + " section " + name;
      // A section's "lShowGrid" is read (as its lines' default) but not kept.
      SameKeys(at, s.value, savedSection, {"lShowGrid"});
      const List* lines = s.value.Get("aLines").ListPtr();
      const List* savedLines = savedSection.Get("aLines").ListPtr();
      if (!lines || !savedLines) continue;
      for (size_t i = 0; i < lines->size() && i < savedLines->size(); ++i) {
        CheckLine(at + " line " + std::to_string(i + 1), document, (*lines)[i], (*savedLines)[i]);
      }
    }
  }

  void CheckLine(const std::string& at, TDocument& document, const Value& line,
                 const Value& saved) {
    SameKeys(at, line, saved);
    for (const char* part :
         {"hBackground", "hBorder", "hPadding", "hReservedSpace", "hZebraPattern"})
      SameKeys(at + " " + part, line.Get(part), saved.Get(part));
    const List* cells = line.Get("aCells").ListPtr();
    const List* savedCells = saved.Get("aCells").ListPtr();
    if (!cells || !savedCells) return;
    for (size_t k = 0; k < cells->size() && k < savedCells->size(); ++k) {
      const std::string c = at + " cell " + std::to_string(k + 1);
      const Value& cell = (*cells)[k];
      const Value& savedCell = (*savedCells)[k];
      SameKeys(c, cell, savedCell);
      SameKeys(c + " hBackground", cell.Get("hBackground"), savedCell.Get("hBackground"));
      SameKeys(c + " hBorder", cell.Get("hBorder"), savedCell.Get("hBorder"));
      const Value& content = cell.Get("hContent");
      if (!content.IsMap()) continue;
      if (!savedCell.Get("hContent").IsMap()) {
        Problem(c + ": content of kind \"" + ValueString(content.Get("cType")) +
                "\" is no cell content (the cell is left empty)");
        continue;
      }
      SameKeys(c + " hContent", content, savedCell.Get("hContent"));
      Value object = content.Get("hObject");
      if (!object.IsMap()) continue;
      Value typed = DeepClone(object);
      typed.Set("cType", content.Get("cType"));
      SameKeys(c + " hObject", object, SavedObject(document, typed));
    }
  }

  // The template's own keys, and every object's, against what the engine keeps of them.
  void CheckTemplate(const Value& raw) {
    TDocument document;
    document.Create();
    Value savedDocument = DeepClone(raw);
    savedDocument.Set("aObjects", Value::NewList());
    document.Load(savedDocument);
    // The logical-document break is read by the engine from the template itself.
    SameKeys("the template", raw, document.Save(), {"hLogicalDocumentBreak"});
    document.End();
    const List* objects = raw.Get("aObjects").ListPtr();
    if (!objects) {
      Problem("the template has no \"aObjects\" list");
      return;
    }
    for (size_t i = 0; i < objects->size(); ++i) {
      const Value& object = (*objects)[i];
      std::string where = "object " + std::to_string(i + 1);
      if (!object.Get("cId").Str().empty())
        where += " (" + std::string(object.Get("cId").Str()) + ")";
      Value saved = SavedObject(document, object);
      if (!saved.IsMap()) {
        Problem(where + ": cType \"" + ValueString(object.Get("cType")) +
                "\" is no object kind: the object is dropped");
        continue;
      }
      SameKeys(where, object, saved);
      if (ValueString(object.Get("cType")) == "TTable") CheckTable(where, document, object, saved);
    }
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

// Checks one template; answers whether it passed (a mistake passes when it is caught).
bool Check(const Example& e, const std::set<std::string>* guide) {
  Checker checker;
  checker.guide = guide;
  Value raw = JsonDecode(e.text);
  Value data = e.data.empty() ? Value::NewMap() : JsonDecode(e.data);
  if (!raw.IsMap()) {
    checker.Problem("the template is no JSON object");
  } else if (!data.IsMap()) {
    checker.Problem("the data is no JSON object");
  } else {
    checker.CheckTemplate(raw);
    if (guide) checker.KeysInGuide("the template", raw);
    checker.Run(e.text, data, e.showsErrors);
  }
  if (e.mistake) {
    if (checker.problems.empty()) {
      std::printf("FAIL %s: a mistake that shows no problem\n", e.name.c_str());
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
      std::printf("FAIL %s: cannot be read\n", input.string().c_str());
      ok = false;
      continue;
    }
    std::vector<Example> examples;
    if (input.extension() == ".md") {
      examples = ExtractExamples(input.string(), text);
    } else {
      examples.push_back({input.string(), text, data});
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
