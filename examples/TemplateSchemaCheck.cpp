#include "TemplateSchemaCheck.h"

#include <kxengine/Json.h>
#include <kxengine/TKXEngine.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "TemplateSchema.h"

namespace kx::examples {

namespace {

using schema::Below;
using schema::Key;
using schema::Place;
using schema::Type;

// ---------------------------------------------------------------------------
// Words: what was probably meant

// Edits between two words (a letter missed, added, changed, or two swapped).
size_t Distance(const std::string& a, const std::string& b) {
  std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
  for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    for (size_t j = 1; j <= b.size(); ++j) {
      d[i][j] = std::min(
          {d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  }
  return d[a.size()][b.size()];
}

// "ncols" shortens "ncolumns": its letters in order, the first and last the same.
bool Abbreviates(const std::string& shortWord, const std::string& word) {
  if (shortWord.size() < 4 || shortWord.size() >= word.size() || shortWord[0] != word[0] ||
      shortWord.back() != word.back())
    return false;
  size_t at = 0;
  for (char c : word)
    if (at < shortWord.size() && shortWord[at] == c) ++at;
  return at == shortWord.size();
}

// The documented word nearest to one written, or "" when none is near: the
// same word in other letter case, one or two slips away, or one it shortens.
std::string Nearest(std::string_view written, const std::vector<std::string_view>& words) {
  const std::string w = Lower(written);
  std::string best;
  size_t bestDistance = SIZE_MAX;
  for (std::string_view candidate : words) {
    const std::string c = Lower(candidate);
    const size_t d = Distance(w, c);
    const size_t slips = std::max(w.size(), c.size()) >= 8 ? 2 : 1;
    if ((d <= slips || Abbreviates(w, c)) && d < bestDistance) {
      best = std::string(candidate);
      bestDistance = d;
    }
  }
  return best;
}

std::string Quoted(std::string_view word) {
  std::string quoted(1, '"');
  quoted.append(word).push_back('"');
  return quoted;
}

std::string DidYouMean(const std::string& near) {
  return near.empty() ? "" : "; did you mean " + Quoted(near) + "?";
}

// A number of millimetres as a reader writes it: 12, 12.5, 12.25.
std::string Mm(double mm) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", mm);
  std::string s = text;
  while (s.back() == '0') s.pop_back();
  if (s.back() == '.') s.pop_back();
  return s == "-0" ? "0" : s;
}

// A number written as a text: digits, one decimal point or comma, a sign.
bool IsNumberText(std::string_view text) {
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) text.remove_prefix(1);
  bool digit = false, point = false;
  for (char c : text) {
    if (std::isdigit(static_cast<unsigned char>(c))) {
      digit = true;
    } else if ((c == '.' || c == ',') && !point) {
      point = true;
    } else {
      return false;
    }
  }
  return digit;
}

// The text of a formula that is one quoted literal ('Total', "It""s"), or
// nothing: a quote inside it is doubled.
std::optional<std::string> QuotedLiteral(std::string_view formula) {
  const std::string_view f = AllTrim(formula);
  if (f.size() < 2 || (f[0] != '\'' && f[0] != '"') || f.back() != f[0]) return std::nullopt;
  std::string text;
  for (size_t i = 1; i + 1 < f.size(); ++i) {
    if (f[i] == f[0]) {
      if (i + 2 >= f.size() || f[i + 1] != f[0]) return std::nullopt;  // the literal ends here
      ++i;
    }
    text.push_back(f[i]);
  }
  return text;
}

// ---------------------------------------------------------------------------
// The schema's places

template <typename F>
void ForEachKey(const Place& place, F&& f) {
  for (const auto* group : {&place.keys, &place.more, &place.evenMore})
    for (const Key& k : *group) f(k);
}

const Key* FindKey(const Place& place, std::string_view name) {
  const Key* found = nullptr;
  ForEachKey(place, [&](const Key& k) {
    if (!found && k.name == name) found = &k;
  });
  return found;
}

std::vector<std::string_view> KeyNames(const Place& place) {
  std::vector<std::string_view> names;
  ForEachKey(place, [&](const Key& k) { names.push_back(k.name); });
  return names;
}

const schema::Kind* FindKind(const Value& type, bool inCell) {
  if (!type.IsText()) return nullptr;
  for (const schema::Kind& kind : schema::kKinds)
    if (kind.type == type.Str() && (kind.inCell || !inCell)) return &kind;
  return nullptr;
}

// The place of the map beneath a key, as far as it is known without the
// map itself: a cell's object takes the kind its content names.
const Place* PlaceBelow(const Key& key, const Value& holder) {
  switch (key.below) {
    case Below::kPlace:
    case Below::kNamed:
      return key.place;
    case Below::kContentObject: {
      const schema::Kind* kind = FindKind(holder.Get("cType"), true);
      return kind ? kind->place : nullptr;
    }
    default:
      return nullptr;
  }
}

std::string SectionNames(unsigned sections) {
  std::string names;
  const std::pair<unsigned, const char*> all[] = {{schema::kHeader, "header"},
                                                  {schema::kDetail, "detail"},
                                                  {schema::kFooter, "footer"},
                                                  {schema::kGroupHeader, "groupHeader"},
                                                  {schema::kGroupFooter, "groupFooter"}};
  for (const auto& [bit, name] : all) {
    if (!(sections & bit)) continue;
    if (!names.empty()) names += ", ";
    names += name;
  }
  return names;
}

// What a value is, for a finding.
std::string Describe(const Value& v) {
  if (v.IsText()) {
    std::string text(v.Str());
    if (text.size() > 40) {
      size_t cut = 37;  // not inside a character of several bytes
      while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
      text = text.substr(0, cut) + "...";
    }
    return "a text (" + Quoted(text) + ")";
  }
  if (v.IsNumber()) return "a number (" + PlainText(v) + ")";
  if (v.IsLogical()) return v.Bool() ? "a logical (true)" : "a logical (false)";
  if (v.IsList()) return "a list";
  if (v.IsMap()) return "a map";
  return "null";
}

bool OfType(Type type, const Value& v) {
  switch (type) {
    case Type::kText:
      return v.IsText();
    case Type::kNumber:
    case Type::kInteger:
      return v.IsNumber();
    case Type::kLogical:
      return v.IsLogical();
    case Type::kList:
      return v.IsList();
    case Type::kMap:
      return v.IsMap();
    case Type::kMapOrList:
      return v.IsMap() || v.IsList();
  }
  return false;
}

const char* TypeName(Type type) {
  switch (type) {
    case Type::kText:
      return "a text";
    case Type::kNumber:
      return "a number";
    case Type::kInteger:
      return "a whole number";
    case Type::kLogical:
      return "a logical";
    case Type::kList:
      return "a list";
    case Type::kMap:
      return "a map";
    case Type::kMapOrList:
      return "a map or a list";
  }
  return "";
}

// How to write a value of the wrong type as the type the key has.
std::string Rewrite(Type type, const Value& v) {
  const std::string text = v.IsText() ? Lower(AllTrim(v.Str())) : "";
  switch (type) {
    case Type::kLogical:
      if (text == "true" || text == "false") return "write " + text + " without quotes";
      return "write true or false";
    case Type::kNumber:
    case Type::kInteger:
      if (v.IsText() && IsNumberText(text)) {
        std::string number(AllTrim(v.Str()));
        std::replace(number.begin(), number.end(), ',', '.');
        return "write " + number + " without quotes";
      }
      return "write a number";
    case Type::kList:
      if (v.IsText() || v.IsNumber() || v.IsLogical())
        return "write a list: [" + JsonEncode(v) + "]";
      return "write a list";
    case Type::kText:
      if (v.IsNumber()) return "write " + Quoted(PlainText(v));
      return "write a text";
    default:
      return "";
  }
}

// How the engine reads an enumerated value before it compares it.
std::string ReadAs(schema::Reading reading, std::string_view value) {
  switch (reading) {
    case schema::Reading::kExact:
      return std::string(value);
    case schema::Reading::kFolded:
      return Lower(AllTrim(value));
    case schema::Reading::kLowered:
      return Lower(value);
    case schema::Reading::kAlnum: {
      std::string letters;
      for (char c : value)
        if (std::isalnum(static_cast<unsigned char>(c))) letters.push_back(c);
      return Upper(letters);
    }
  }
  return std::string(value);
}

// A data field's name: GROUP.field, each part letters, digits and "_".
bool IsFieldName(std::string_view text, std::string& group, std::string& field) {
  const size_t dot = text.find('.');
  if (dot == std::string_view::npos || dot == 0 || dot + 1 == text.size()) return false;
  auto word = [](std::string_view w) {
    if (std::isdigit(static_cast<unsigned char>(w[0]))) return false;
    return std::all_of(w.begin(), w.end(), [](char c) {
      return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
    });
  };
  if (!word(text.substr(0, dot)) || !word(text.substr(dot + 1))) return false;
  group = Upper(text.substr(0, dot));
  field = Upper(text.substr(dot + 1));
  return true;
}

// ---------------------------------------------------------------------------
// The walk

// One template's walk along the schema: its findings, and the names its
// formulas may read, which the rules on formulas and resets need.
class SchemaCheck {
 public:
  std::vector<std::string> findings;
  const std::set<std::string>* guide = nullptr;  // the guide's words, when asked for

  void Problem(std::string text) { findings.push_back(std::move(text)); }

  void Check(const std::string& text, const Value& raw, const Value& data) {
    KnowNames(text, raw, data);
    if (!raw.Get("aObjects").IsList()) Problem("the template has no \"aObjects\" list");
    Walk("", raw, schema::kDocument, {});
    TDocument document;
    document.Create();
    Value settings = DeepClone(raw);
    settings.Set("aObjects", Value::NewList());
    document.Load(settings);
    if (const List* objects = raw.Get("aObjects").ListPtr()) {
      std::map<std::string, size_t> ids;
      for (size_t i = 0; i < objects->size(); ++i) {
        const Value& object = (*objects)[i];
        Value saved = SavedObject(document, object);
        if (!saved.IsMap()) continue;
        const std::string where = ObjectPlace(i, object);
        OwnId(where, i, saved, ids);
        OnThePaper(where, document, saved);
        if (ValueString(saved.Get("cType")) == "TTable") RecordFits(where, saved);
      }
    }
    document.End();
  }

 private:
  // Where the walk stands: the table section a part belongs to.
  struct Scope {
    unsigned section = 0;
  };

  // Names formulas may read: the job's groups, and the template's accumulators
  // and user variables (upper-cased, as formulas find them in any case).
  std::set<std::string> groups_, accumulators_, userVars_;
  std::vector<std::string_view> accumulatorNames_;

  static std::string At(const std::string& where) { return where.empty() ? "the template" : where; }
  static std::string Join(const std::string& where, const std::string& part) {
    return where.empty() ? part : where + " " + part;
  }
  static std::string ObjectPlace(size_t index, const Value& object) {
    std::string where = "object " + std::to_string(index + 1);
    if (!object.Get("cId").Str().empty())
      where += " (" + std::string(object.Get("cId").Str()) + ")";
    return where;
  }

  void KnowNames(const std::string& text, const Value& raw, const Value& data) {
    for (const char* part : {"DataVar", "DetalleVar"})
      if (const Map* named = data.Get(part).MapPtr())
        for (const Map::Entry& g : *named) groups_.insert(Upper(g.key.Str()));
    // The groups of the fields the template reads outside quotes.
    TKXEngine engine;
    engine.Create();
    engine.SetEncodingUTF8();
    engine.SetPlantillaContent(Value(text));
    engine.OpenJob();
    const Value used = engine.GetVariablesUsadas();
    if (const List* names = used.ListPtr()) {
      for (const Value& name : *names) {
        const size_t dot = name.Str().find('.');
        if (dot != std::string_view::npos) groups_.insert(Upper(name.Str().substr(0, dot)));
      }
    }
    engine.End();
    if (const Map* sums = raw.Get("hAcumVars").MapPtr()) {
      for (const Map::Entry& e : *sums) {
        accumulators_.insert(Upper(AllTrim(e.key.Str())));
        accumulatorNames_.push_back(e.key.Str());
      }
    }
    if (const Map* vars = raw.Get("hUserVars").MapPtr())
      for (const Map::Entry& e : *vars) userVars_.insert(Upper(AllTrim(e.key.Str())));
  }

  // Every key of a map against its place of the schema, and what lies beneath.
  void Walk(const std::string& where, const Value& map, const Place& place, Scope scope) {
    const Map* m = map.MapPtr();
    if (!m) return;
    std::set<std::string> told;  // keys a missing level was told with
    ForEachKey(place, [&](const Key& k) {
      if (k.required && !m->Find(k.name)) Missing(where, map, place, k, told);
    });
    for (const Map::Entry& e : *m) {
      const std::string key(e.key.Str());
      const Key* k = FindKey(place, key);
      if (!k) {
        if (!told.count(key)) Unknown(where, map, place, key);
        continue;
      }
      if (scope.section && !(k->sections & scope.section)) {
        Problem(At(where) + ": " + Quoted(key) + " is read only in " + SectionNames(k->sections) +
                (&place == &schema::kSection ? " sections" : " lines") + ": here it is ignored");
        continue;
      }
      if (guide && !guide->count(key))
        Problem(At(where) + ": " + Quoted(key) + " is not named in the guide");
      CheckValue(where, *k, e.value, map, scope);
    }
  }

  // A key the place requires is missing: the keys written where it should
  // have opened a level belong in it.
  void Missing(const std::string& where, const Value& map, const Place& place, const Key& k,
               std::set<std::string>& told) {
    std::string text = At(where) + ": no " + Quoted(k.name);
    if (const Place* below = PlaceBelow(k, map)) {
      std::string keys, first;
      for (const Map::Entry& e : map.AsMap()) {
        const std::string key(e.key.Str());
        if (FindKey(place, key) || !FindKey(*below, key)) continue;
        told.insert(key);
        if (first.empty()) first = key;
        keys += (keys.empty() ? "" : ", ") + Quoted(key);
      }
      if (!keys.empty()) {
        text += ": " + keys + " belong one level down, in it (" + Quoted(k.name) + ": {" +
                Quoted(first) + ": ...})";
      }
    }
    if (!k.otherwise.empty()) text += "; " + std::string(k.otherwise);
    Problem(text);
  }

  // Where a key the place does not have belongs: a level or two below.
  static std::string BelongsBelow(const Place& place, const std::string& key, const Value& map,
                                  int depth) {
    std::string found;
    ForEachKey(place, [&](const Key& k) {
      if (!found.empty() || k.enters ||
          (k.below != Below::kPlace && k.below != Below::kContentObject))
        return;
      std::vector<const Place*> below;
      if (const Place* p = PlaceBelow(k, map)) {
        below.push_back(p);
      } else if (k.below == Below::kContentObject) {
        for (const schema::Kind& kind : schema::kKinds)
          if (kind.inCell) below.push_back(kind.place);
      }
      for (const Place* p : below) {
        if (!found.empty()) break;
        if (FindKey(*p, key)) {
          found = Quoted(k.name);
        } else if (depth > 1) {
          const std::string deeper = BelongsBelow(*p, key, map.Get(k.name), depth - 1);
          if (!deeper.empty()) found = Quoted(k.name) + " > " + deeper;
        }
      }
    });
    return found;
  }

  void Unknown(const std::string& where, const Value& map, const Place& place,
               const std::string& key) {
    const std::string near = Nearest(key, KeyNames(place));
    if (place.open) {
      // The viewer's own keys pass; one a slip away from the engine's is the engine's.
      if (!near.empty())
        Problem(At(where) + ": " + Quoted(key) +
                " is not read by the engine (it goes to the viewer as it is)" + DidYouMean(near));
      return;
    }
    std::string text =
        At(where) + ": " + Quoted(key) + " is no key of it (misspelt, or in the wrong place)";
    if (!near.empty()) {
      text += DidYouMean(near);
    } else if (const std::string below = BelongsBelow(place, key, map, 2); !below.empty()) {
      text += "; it belongs in " + below;
    }
    Problem(text);
  }

  void CheckValue(const std::string& where, const Key& k, const Value& value, const Value& holder,
                  Scope scope) {
    const std::string name = Quoted(k.name);
    if (!OfType(k.type, value)) {
      const std::string rewrite = Rewrite(k.type, value);
      Problem(At(where) + ": " + name + " is " + Describe(value) + ", not " + TypeName(k.type) +
              (rewrite.empty() ? "" : "; " + rewrite));
      return;
    }
    if (k.type == Type::kInteger && !value.IsInt() &&
        value.Double() != static_cast<int64_t>(value.Double()))
      Problem(At(where) + ": " + name + " is " + PlainText(value) +
              ", not a whole number: the engine takes its whole part");
    if (k.formula) {
      if (value.IsText()) Formula(where, k.name, value.Str());
      if (const List* list = value.ListPtr()) {
        for (const Value& item : *list) {
          if (item.IsText()) Formula(where, k.name, item.Str());
        }
      }
    }
    if (!k.values.empty() && value.IsText()) Enumerated(where, k, value.Str());
    if (k.rule == schema::Rule::kResetNames) ResetNames(where, value);
    if (k.rule == schema::Rule::kBreakFields) BreakFields(where, value);
    Beneath(where, k, value, holder, scope);
  }

  void Enumerated(const std::string& where, const Key& k, std::string_view value) {
    const std::string read = ReadAs(k.reading, value);
    std::vector<std::string_view> values(k.values.begin(), k.values.end());
    for (std::string_view documented : values)
      if (ReadAs(k.reading, documented) == read) return;
    const std::string near = Nearest(value, values);
    if (k.openValues) {
      // Other words are the viewer's; a slip away from a documented one is that one.
      if (!near.empty())
        Problem(At(where) + ": " + Quoted(k.name) + " is " + Quoted(value) + DidYouMean(near));
      return;
    }
    std::string all;
    for (std::string_view v : values) all += (all.empty() ? "" : ", ") + Quoted(v);
    std::string text =
        At(where) + ": " + Quoted(k.name) + " is " + Quoted(value) + ", none of " + all;
    if (!k.otherwise.empty()) text += " (" + std::string(k.otherwise) + ")";
    Problem(text + DidYouMean(near));
  }

  // A formula that is only a quoted data field name shows the name's words.
  void Formula(const std::string& where, std::string_view key, std::string_view formula) {
    const std::optional<std::string> literal = QuotedLiteral(formula);
    std::string group, field;
    if (!literal || !IsFieldName(*literal, group, field)) return;
    const std::string& text = *literal;
    const bool named = (group == "SUM" && accumulators_.count(field)) ||
                       (group == "VAR" && userVars_.count(field)) ||
                       (group != "SUM" && group != "VAR" && groups_.count(group));
    if (!named) return;
    Problem(At(where) + ": " + Quoted(key) + " is " + std::string(AllTrim(formula)) +
            ", a text in quotes: it shows the words " + Quoted(text) + "; did you mean the field " +
            text + " (without quotes)?");
  }

  // A reset names an accumulator of "hAcumVars", in any letter case, with or without "SUM.".
  void ResetNames(const std::string& where, const Value& list) {
    const List* names = list.ListPtr();
    if (!names) return;
    std::string all;
    for (std::string_view n : accumulatorNames_) all += (all.empty() ? "" : ", ") + std::string(n);
    for (size_t i = 0; i < names->size(); ++i) {
      const Value& name = (*names)[i];
      if (!name.IsText()) {
        Problem(At(where) + ": \"aResetAcumuladores\" element " + std::to_string(i + 1) + " is " +
                Describe(name) + ", not a text: it is dropped");
        continue;
      }
      std::string_view bare = AllTrim(name.Str());
      if (bare.size() > 4 && EqualsIgnoreCase(bare.substr(0, 4), "SUM.")) bare.remove_prefix(4);
      if (accumulators_.count(Upper(bare))) continue;
      Problem(At(where) + ": \"aResetAcumuladores\" names " + Quoted(name.Str()) +
              ", no accumulator of \"hAcumVars\" in any letter case (" +
              (all.empty() ? "it has none" : all) +
              "): the reset starts a sum that nothing adds to" +
              DidYouMean(Nearest(bare, accumulatorNames_)));
    }
  }

  // Break fields are detail field names: A-Z, 0-9 and "_", after an optional "GROUP.".
  void BreakFields(const std::string& where, const Value& list) {
    const List* fields = list.ListPtr();
    if (!fields) return;
    for (const Value& field : *fields) {
      if (!field.IsText()) {
        Problem(At(where) + ": \"aFields\" holds " + Describe(field) +
                ", not a text: it is skipped");
        continue;
      }
      std::string_view name = AllTrim(field.Str());
      if (const size_t dot = name.rfind('.'); dot != std::string_view::npos)
        name = AllTrim(name.substr(dot + 1));
      const bool plain = !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
      });
      if (!plain)
        Problem(At(where) + ": \"aFields\" holds " + Quoted(field.Str()) +
                ", no field name (A-Z, 0-9 and \"_\"): the break is void and the job is one "
                "document");
    }
  }

  // What lies beneath a key: its map, its list's elements, its named maps, its objects.
  void Beneath(const std::string& where, const Key& k, const Value& value, const Value& holder,
               Scope scope) {
    if (k.enters) scope.section = k.enters;
    const std::string label(k.name);
    const std::string element(k.element.empty() ? k.name : k.element);
    switch (k.below) {
      case Below::kNothing:
        return;
      case Below::kPlace:
        if (value.IsMap()) Walk(Join(where, label), value, *k.place, scope);
        if (const List* list = value.ListPtr()) {
          for (size_t i = 0; i < list->size(); ++i) {
            const std::string at = Join(where, element + " " + std::to_string(i + 1));
            if (!(*list)[i].IsMap())
              Problem(at + ": is " + Describe((*list)[i]) + ", not a map");
            else
              Walk(at, (*list)[i], *k.place, scope);
          }
        }
        return;
      case Below::kNamed:
        if (const Map* named = value.MapPtr()) {
          for (const Map::Entry& e : *named) {
            const std::string at = Join(where, label + " " + std::string(e.key.Str()));
            if (!e.value.IsMap())
              NotAMap(at, *k.place, e.value);
            else
              Walk(at, e.value, *k.place, scope);
          }
        }
        if (const List* list = value.ListPtr()) {
          for (size_t i = 0; i < list->size(); ++i)
            Walk(Join(where, element + " " + std::to_string(i + 1)), (*list)[i], *k.place, scope);
        }
        return;
      case Below::kObject:
        if (const List* objects = value.ListPtr())
          for (size_t i = 0; i < objects->size(); ++i) Object(i, (*objects)[i]);
        return;
      case Below::kContentObject:
        // An object in a cell: its own keys, whatever section holds the cell.
        if (const Place* place = PlaceBelow(k, holder)) Walk(Join(where, label), value, *place, {});
        return;
    }
  }

  // A named entry (a variable) that is a bare value: it belongs under the place's formula.
  void NotAMap(const std::string& at, const Place& place, const Value& value) {
    std::string text = at + ": is " + Describe(value) + ", not a map: it defines nothing";
    const Key* formula = nullptr;
    ForEachKey(place, [&](const Key& k) {
      if (!formula && k.formula) formula = &k;
    });
    if (formula && value.IsText())
      text += "; write {" + Quoted(formula->name) + ": " + JsonEncode(value) + "}";
    Problem(text);
  }

  void Object(size_t index, const Value& object) {
    const std::string where = ObjectPlace(index, object);
    if (!object.IsMap()) {
      Problem(where + ": is " + Describe(object) + ", not a map: it is skipped");
      return;
    }
    const Value& type = object.Get("cType");
    const schema::Kind* kind = FindKind(type, false);
    if (!kind) {
      const Key& typeKey = schema::kObjectType;
      if (!object.Has("cType"))
        Problem(where + ": no \"cType\"; " + std::string(typeKey.otherwise));
      else
        CheckValue(where, typeKey, type, object, {});
      return;
    }
    Walk(where, object, *kind->place, {});
  }

  // An object of a kind, loaded from the raw map, as the engine writes it back.
  static Value SavedObject(TDocument& document, const Value& raw) {
    if (!raw.IsMap()) return Value();
    Ref<TObjectBase> object = document.CreateObjectByType(Value(ValueString(raw.Get("cType"))));
    if (!object) return Value();
    object->Load(raw);
    object->Create();
    Value saved = object->Save();
    object->End();
    return saved;
  }

  // Two objects with one id: a viewer, and a table's pieces, tell objects apart by it.
  void OwnId(const std::string& where, size_t index, const Value& saved,
             std::map<std::string, size_t>& ids) {
    const Value& id = saved.Get("cId");
    if (!id.IsText() || id.Str().empty()) return;
    auto [first, isNew] = ids.emplace(std::string(id.Str()), index);
    if (!isNew)
      Problem(where + ": \"cId\" " + Quoted(id.Str()) + " is object " +
              std::to_string(first->second + 1) +
              "'s id too: give each object an id of its own (a viewer tells objects apart by it)");
  }

  // An object partly or wholly off its paper (a label's objects: off the label).
  void OnThePaper(const std::string& where, const TDocument& document, const Value& saved) {
    const Value& x = saved.Get("nLeft");
    const Value& y = saved.Get("nTop");
    const Value& w = saved.Get("nWidth");
    const Value& h = saved.Get("nHeight");
    if (!x.IsNumber() || !y.IsNumber() || !w.IsNumber() || !h.IsNumber()) return;
    const bool label = document.IsLabelDocument();
    const double width = label ? ValueNumber(document.hLabelLayout.Get("nLabelWidth")).Double()
                               : document.nPaperWidth;
    const double height = label ? ValueNumber(document.hLabelLayout.Get("nLabelHeight")).Double()
                                : document.nPaperHeight;
    // A page as tall as its content has no bottom edge.
    const bool bottom = label || document.cPaperHeightMode != "content";
    const double left = x.Double(), top = y.Double();
    const double right = left + w.Double(), lower = top + h.Double();
    const std::string area = std::string(label ? "label" : "paper") + " (" + Mm(width) + " x " +
                             Mm(height) + " mm): its box is nLeft " + Mm(left) + ", nTop " +
                             Mm(top) + ", " + Mm(w.Double()) + " x " + Mm(h.Double()) + " mm";
    constexpr double kTolerance = 0.01;
    if (right <= 0 || lower <= 0 || left >= width || (bottom && top >= height)) {
      Problem(where + ": lies wholly off the " + area);
      return;
    }
    std::string edges;
    auto edge = [&](bool beyond, const char* name) {
      if (beyond) edges += (edges.empty() ? "" : ", ") + std::string(name);
    };
    edge(top < -kTolerance, "top");
    edge(right > width + kTolerance, "right");
    edge(bottom && lower > height + kTolerance, "bottom");
    edge(left < -kTolerance, "left");
    if (!edges.empty()) Problem(where + ": reaches beyond the " + edges + " edge of the " + area);
  }

  // The height a section's lines take on every page: lines under a condition may not print.
  static double FixedHeight(const Value& sections, const char* name) {
    double height = 0;
    if (const List* lines = sections.Get(name).Get("aLines").ListPtr()) {
      for (const Value& line : *lines) {
        if (!IsBlank(ValueString(line.Get("cConditionFormula"))) ||
            !IsBlank(ValueString(line.Get("cSuppressCondition"))) ||
            line.Get("lIgnoreEmpty").Bool())
          continue;
        height += ValueNumber(line.Get("nHeight")).Double() +
                  ValueNumber(line.Get("hReservedSpace").Get("nTop")).Double() +
                  ValueNumber(line.Get("hReservedSpace").Get("nBottom")).Double();
      }
    }
    return height;
  }

  // A table's box must hold its header, its footer and a record between them:
  // else every page prints a line or two of one record, over hundreds of pages.
  void RecordFits(const std::string& where, const Value& table) {
    if (ValueString(table.Get("cHeightMode")) == "content" || !table.Get("nHeight").IsNumber())
      return;
    const Value& sections = table.Get("hSections");
    const double detail = FixedHeight(sections, "detail");
    if (detail <= 0) return;
    const double box = table.Get("nHeight").Double();
    const double header = FixedHeight(sections, "header"), footer = FixedHeight(sections, "footer");
    const double body = box - header - footer;
    const Value& group = table.Get("hGroup");
    const bool groups = group.Get("aBreakExpressions").Len() > 0;
    const double groupLines =
        groups ? FixedHeight(sections, "groupHeader") + FixedHeight(sections, "groupFooter") : 0;
    constexpr double kTolerance = 0.25;
    const std::string leave = where + ": its box is " + Mm(box) + " mm tall: the header (" +
                              Mm(header) + " mm) and footer (" + Mm(footer) + " mm) leave " +
                              Mm(body) + " mm, and ";
    if (detail > body + kTolerance) {
      Problem(leave + "one record's detail lines need " + Mm(detail) +
              " mm: every page would print a line or two of one record; make \"nHeight\" at "
              "least " +
              Mm(header + footer + detail + groupLines));
    } else if (detail + groupLines > body + kTolerance) {
      Problem(leave + "a record with its group header and footer lines needs " +
              Mm(detail + groupLines) +
              " mm: such records are split line by line over pages; make \"nHeight\" at least " +
              Mm(header + footer + detail + groupLines));
    }
  }
};

// ---------------------------------------------------------------------------
// The schema against the engine: every key the engine writes back is in it,
// and every key it has that the engine writes back (not one only read) is
// still written, so that the table stays true as the engine changes.

void Collect(const Value& map, const Place& place,
             std::map<const Place*, std::set<std::string>>& seen) {
  const Map* m = map.MapPtr();
  if (!m) return;
  std::set<std::string>& keys = seen[&place];
  for (const Map::Entry& e : *m) {
    keys.insert(std::string(e.key.Str()));
    const Key* k = FindKey(place, e.key.Str());
    if (!k) continue;
    auto each = [&](const Value& v, const Place& p) {
      if (v.IsMap()) Collect(v, p, seen);
      if (const List* list = v.ListPtr())
        for (const Value& item : *list) Collect(item, p, seen);
    };
    if (k->below == Below::kPlace) each(e.value, *k->place);
    if (k->below == Below::kNamed) {
      if (const Map* named = e.value.MapPtr())
        for (const Map::Entry& n : *named) Collect(n.value, *k->place, seen);
    }
    // A cell's object is kept as written, not written back: its kind is seen
    // among the document's objects.
    if (k->below == Below::kObject) {
      if (const List* objects = e.value.ListPtr())
        for (const Value& o : *objects)
          if (const schema::Kind* kind = FindKind(o.Get("cType"), false))
            Collect(o, *kind->place, seen);
    }
  }
}

std::vector<std::string> Drift() {
  std::string objects;
  for (const schema::Kind& kind : schema::kKinds)
    objects +=
        std::string(objects.empty() ? "" : ",") + "{\"cType\":\"" + std::string(kind.type) + "\"}";
  const std::string line = R"({"aCells":[{"hContent":{"cType":"TText","hObject":{}}}]})";
  std::string sections;
  for (const char* s : {"header", "detail", "footer", "groupHeader", "groupFooter"})
    sections +=
        std::string(sections.empty() ? "" : ",") + "\"" + s + "\":{\"aLines\":[" + line + "]}";
  objects += R"(,{"cType":"TTable","hSections":{)" + sections + "}}";
  TDocument document;
  document.Create();
  document.Load(JsonDecode("{\"aObjects\":[" + objects + "]}"));
  std::map<const Place*, std::set<std::string>> seen;
  Collect(document.Save(), schema::kDocument, seen);
  document.End();
  std::vector<std::string> drift;
  for (const auto& [place, keys] : seen) {
    for (const std::string& key : keys)
      if (!FindKey(*place, key))
        drift.push_back("the engine writes " + Quoted(key) + " in a " + std::string(place->name) +
                        ", which the schema lacks");
    if (place->open) continue;
    ForEachKey(*place, [&](const Key& k) {
      if (!k.readOnly && !keys.count(std::string(k.name)))
        drift.push_back("the schema has " + Quoted(k.name) + " in a " + std::string(place->name) +
                        ", which the engine does not write back");
    });
  }
  return drift;
}

}  // namespace

std::vector<std::string> CheckTemplateAgainstSchema(const std::string& text, const Value& raw,
                                                    const Value& data,
                                                    const std::set<std::string>* guide) {
  SchemaCheck check;
  check.guide = guide;
  check.Check(text, raw, data);
  return check.findings;
}

std::vector<std::string> SchemaAgainstEngine() {
  return Drift();
}

}  // namespace kx::examples
