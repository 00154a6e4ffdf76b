#include "TDocument.h"

#include <algorithm>
#include <cmath>

#include "Platform.h"
#include "TBarcode.h"
#include "TChart.h"
#include "TEllipse.h"
#include "TFormattedText.h"
#include "TImage.h"
#include "TLine.h"
#include "TRectangle.h"
#include "TRichText.h"
#include "TTable.h"
#include "TText.h"
#include "ValoresObjeto.h"

namespace kx {

namespace {

struct PaperFormat {
  const char* id;
  double width;
  double height;
};

constexpr PaperFormat kPaperFormats[] = {
    {"a4", 210.0, 297.0},       {"a5", 148.0, 210.0},       {"letter", 215.9, 279.4},
    {"ticket-80", 80.0, 200.0}, {"ticket-58", 58.0, 200.0},
};

// Settings are read as numbers with a decimal comma accepted.
double Number(const Value& v) {
  return ValueDouble(v);
}

std::string TrimLower(const Value& v) {
  return Lower(AllTrim(ValueString(v)));
}

std::string IntegerText(int64_t n) {
  return PlainText(Value(n));
}

std::string Timestamp() {
  return DateCompact(platform::CurrentDate()) + "T" + platform::CurrentTime();
}

Value DefaultLayerZero() {
  return Value::NewMap({{"nId", 0},
                        {"cName", "Capa 1"},
                        {"cCondition", ""},
                        {"lDesignerVisible", true},
                        {"cColor", "#000000"}});
}

template <class T>
Ref<TObjectBase> Make(TDocument* document) {
  return MakeRef<T>(document);
}

struct ObjectKind {
  std::string_view type;
  Ref<TObjectBase> (*make)(TDocument* document);
};

// The factory's type words, compared exactly (case-sensitive, untrimmed) in
// this order. A kind that is not built yet has no maker: its objects are
// skipped like those of an unknown type. A new kind includes its header above
// and puts its maker in its row.
// One row per kind, kept so by hand.
// clang-format off
constexpr ObjectKind kObjectKinds[] = {
    {"TImage", &Make<TKXImage>},
    {"TLine", &Make<TLine>},
    {"TEllipse", &Make<TEllipse>},
    {"TBarcode", &Make<TKXBarcode>},
    {"TRectangle", &Make<TRectangle>},
    {"TTable", &Make<TTable>},
    {"TChart", &Make<TChart>},
    {"TFormattedText", &Make<TFormattedText>},
    {"richText", &Make<TRichText>},
    {"TText", &Make<TText>},
};
// clang-format on

}  // namespace

TDocument::TDocument(const Value& ignored) {
  Init(ignored);
}

TDocument::~TDocument() {
  // Objects that End resets to fresh members allocate: a destructor that
  // runs while memory has run out must not throw, and what an object still
  // holds goes with it.
  try {
    End();
  } catch (...) {
  }
}

TDocument& TDocument::Init(const Value&) {
  if (tModifiedAt.empty()) tModifiedAt = Timestamp();
  if (!hLabelLayout.IsMap() || hLabelLayout.AsMap().empty()) hLabelLayout = DefaultLabelLayout();
  if (!hLayers.IsMap()) hLayers = NormalizeLayers(Value());
  return *this;
}

std::string TDocument::InferPaperFormat(double w, double h) {
  for (const PaperFormat& f : kPaperFormats) {
    bool same = std::fabs(w - f.width) < 0.01 && std::fabs(h - f.height) < 0.01;
    bool turned = std::fabs(w - f.height) < 0.01 && std::fabs(h - f.width) < 0.01;
    if (same || turned) return f.id;
  }
  return "custom";
}

TDocument& TDocument::Load(const Value& input) {
  const Value map = input.IsMap() ? input : Value::NewMap();
  End();
  auto has = [&](std::string_view key) { return map.Has(key); };
  auto get = [&](std::string_view key) -> const Value& { return map.Get(key); };

  if (has("cFormatVersion")) cFormatVersion = ValueString(get("cFormatVersion"));
  if (has("cTemplateId")) cTemplateId = ValueString(get("cTemplateId"));
  if (has("cTemplateName")) cTemplateName = ValueString(get("cTemplateName"));

  const Value rawWidth = has("nPaperWidth") ? get("nPaperWidth") : Value(nPaperWidth);
  const Value rawHeight = has("nPaperHeight") ? get("nPaperHeight") : Value(nPaperHeight);
  const double width = Number(rawWidth);
  const double height = Number(rawHeight);

  cDocumentKind = "report";
  if (has("cDocumentKind") && TrimLower(get("cDocumentKind")) == "label") cDocumentKind = "label";

  if (has("cPaperFormat")) {
    cPaperFormat = TrimLower(get("cPaperFormat"));
    if (cPaperFormat.empty()) cPaperFormat = "custom";
  } else {
    cPaperFormat = InferPaperFormat(width, height);
  }
  if (has("cPaperOrientation")) {
    cPaperOrientation =
        TrimLower(get("cPaperOrientation")) == "landscape" ? "landscape" : "portrait";
  } else {
    cPaperOrientation = width > height ? "landscape" : "portrait";
  }

  if (has("tModifiedAt")) tModifiedAt = ValueString(get("tModifiedAt"));
  if (has("cFileName")) cFileName = ValueString(get("cFileName"));

  nPaperWidth = width;
  nPaperHeight = height;

  cPaperHeightMode = has("cPaperHeightMode") && TrimLower(get("cPaperHeightMode")) == "content"
                         ? "content"
                         : "fixed";
  if (has("nDesignHeight")) nDesignHeight = Number(get("nDesignHeight"));
  nDesignHeight = std::max(nDesignHeight, 1.0);
  if (has("nContinuousBottomMargin"))
    nContinuousBottomMargin = Number(get("nContinuousBottomMargin"));
  nContinuousBottomMargin = std::max(nContinuousBottomMargin, 0.0);
  if (has("lShowGrid")) lShowGrid = ValueBool(get("lShowGrid"));

  hUserVars = NormalizeVariableDefinitions(has("hUserVars") ? get("hUserVars") : get("UserVar"));
  hAcumVars = NormalizeVariableDefinitions(has("hAcumVars") ? get("hAcumVars") : get("AcumVar"));

  hImportMetadata = get("hImportMetadata").IsMap() ? get("hImportMetadata") : Value::NewMap();
  hLabelLayout = NormalizeLabelLayout(get("hLabelLayout"));
  hLayers = NormalizeLayers(get("hLayers"));

  if (const List* objects = get("aObjects").ListPtr()) {
    for (const Value& element : *objects) {
      if (!element.IsMap()) continue;
      if (Ref<TObjectBase> object = CreateObjectFromData(element)) aObjects.push_back(object);
    }
  }
  return NormalizeZIndex();
}

Value TDocument::Save() {
  Value objects = Value::NewList();
  for (const Ref<TObjectBase>& object : aObjects) objects.Push(object->Save());
  return Value::NewMap({{"cType", "TDocument"},
                        {"cFormatVersion", cFormatVersion},
                        {"cTemplateId", cTemplateId},
                        {"cTemplateName", cTemplateName},
                        {"cDocumentKind", cDocumentKind},
                        {"cPaperFormat", cPaperFormat},
                        {"cPaperOrientation", cPaperOrientation},
                        {"tModifiedAt", tModifiedAt},
                        {"cFileName", cFileName},
                        {"nPaperWidth", nPaperWidth},
                        {"nPaperHeight", nPaperHeight},
                        {"cPaperHeightMode", cPaperHeightMode},
                        {"nDesignHeight", std::max(nDesignHeight, 1.0)},
                        {"nContinuousBottomMargin", std::max(nContinuousBottomMargin, 0.0)},
                        {"lShowGrid", lShowGrid},
                        {"hUserVars", hUserVars},
                        {"hAcumVars", hAcumVars},
                        {"hImportMetadata", hImportMetadata},
                        {"hLabelLayout", NormalizeLabelLayout(hLabelLayout)},
                        {"hLayers", NormalizeLayers(hLayers)},
                        {"aObjects", objects}});
}

void TDocument::End() {
  for (const Ref<TObjectBase>& object : aObjects) object->End();
  aObjects.clear();
}

Value TDocument::DefaultLabelLayout() {
  return NormalizeLabelLayout(Value());
}

Value TDocument::NormalizeLabelLayout(const Value& layout) {
  auto number = [&](std::string_view key, double def) {
    return layout.Has(key) ? Number(layout.Get(key)) : def;
  };
  auto count = [&](std::string_view key, int64_t def) {
    return std::max<int64_t>(1, layout.Has(key) ? ValueNumber(layout.Get(key)).Int() : def);
  };
  std::string flow = ValueString(layout.Get("cFlow", Value("row")));
  std::string format(AllTrim(ValueString(layout.Get("cLabelFormat", Value("manual")))));
  return Value::NewMap({
      {"nLabelWidth", std::max(number("nLabelWidth", 70.0), 1.0)},
      {"nLabelHeight", std::max(number("nLabelHeight", 37.0), 1.0)},
      {"nColumns", count("nColumns", 3)},
      {"nRows", count("nRows", 8)},
      {"nMarginLeft", std::max(number("nMarginLeft", 0.0), 0.0)},
      {"nMarginTop", std::max(number("nMarginTop", 0.0), 0.0)},
      {"nGapHorizontal", std::max(number("nGapHorizontal", 0.0), 0.0)},
      {"nGapVertical", std::max(number("nGapVertical", 0.0), 0.0)},
      {"cFlow", flow == "column" ? "column" : "row"},
      {"cLabelFormat", format.empty() ? std::string("manual") : format},
      {"nPrintOffsetX", number("nPrintOffsetX", 0.0)},
      {"nPrintOffsetY", number("nPrintOffsetY", 0.0)},
  });
}

Value TDocument::NormalizeLayers(const Value& layers) {
  Value table = Value::NewMap();
  auto add = [&](const std::string& keyText, const Value& layer) {
    if (!layer.IsMap()) return;
    int64_t id =
        layer.Has("nId") ? ValueNumber(layer.Get("nId")).Int() : ValueNumber(Value(keyText)).Int();
    std::string name(AllTrim(ValueString(layer.Get("cName"))));
    if (name.empty()) name = "Capa " + IntegerText(id + 1);
    std::string color = TrimLower(layer.Get("cColor"));
    if (!EsColorHex(color)) color = "#000000";
    const Value& visible = layer.Get("lDesignerVisible");
    bool designerVisible = !(visible.IsLogical() && !visible.Bool());
    table.Set(
        IntegerText(id),
        Value::NewMap({{"nId", id},
                       {"cName", name},
                       {"cCondition", std::string(AllTrim(ValueString(layer.Get("cCondition"))))},
                       {"lDesignerVisible", designerVisible},
                       {"cColor", color}}));
  };
  if (const Map* m = layers.MapPtr()) {
    for (const Map::Entry& e : *m) add(std::string(e.key.Str()), e.value);
  } else if (const List* l = layers.ListPtr()) {
    for (size_t i = 0; i < l->size(); ++i) add(IntegerText(static_cast<int64_t>(i)), (*l)[i]);
  }
  if (!table.Has("0")) table.Set("0", DefaultLayerZero());
  return table;
}

Value TDocument::NormalizeVariableDefinitions(const Value& defs) {
  Value out = Value::NewMap();
  const Map* m = defs.MapPtr();
  if (!m) return out;
  for (const Map::Entry& e : *m) {
    std::string name(AllTrim(e.key.Str()));
    if (name.empty()) continue;
    const Value& entry = e.value.IsMap() ? e.value : kNil;
    out.Set(name,
            Value::NewMap({{"tipo", entry.Has("tipo") ? ValueString(entry.Get("tipo")) : "texto"},
                           {"formula", ValueString(entry.Get("formula"))}}));
  }
  return out;
}

Value TDocument::GetLayer(const Value& id) const {
  std::string key = IntegerText(ValueNumber(id).Int());
  if (const Value* layer = hLayers.MapPtr() ? hLayers.AsMap().Find(key) : nullptr) return *layer;
  const Value& zero = hLayers.Get("0");
  return zero.IsMap() ? zero : DefaultLayerZero();
}

std::string TDocument::GetLayerCondition(const Value& id) const {
  return ValueString(GetLayer(id).Get("cCondition"));
}

bool TDocument::IsLayerVisibleInDesign(const Value& id) const {
  const Value& visible = GetLayer(id).Get("lDesignerVisible");
  return !(visible.IsLogical() && !visible.Bool());
}

Ref<TObjectBase> TDocument::CreateObjectByType(const Value& type) {
  const std::string cType = ValueString(type);
  for (const ObjectKind& kind : kObjectKinds)
    if (kind.type == cType) return kind.make ? kind.make(this) : nullptr;
  return nullptr;
}

Ref<TObjectBase> TDocument::CreateObjectFromData(const Value& map) {
  Ref<TObjectBase> object = CreateObjectByType(Value(ValueString(map.Get("cType"))));
  if (!object) return nullptr;
  object->Load(map);
  object->Create();
  return object;
}

TDocument& TDocument::NormalizeZIndex() {
  for (size_t i = 0; i < aObjects.size(); ++i)
    aObjects[i]->nZIndex = Value(static_cast<int64_t>(i + 1));
  return *this;
}

}  // namespace kx
