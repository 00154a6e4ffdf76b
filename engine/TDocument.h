// The document model of one template: settings, paper, label layout,
// layers, variable definitions and the report objects.
#pragma once

#include <string>
#include <vector>

#include "TObjectBase.h"
#include "Value.h"

namespace kx {

class TDocument : public TReportNode {
 public:
  explicit TDocument(const Value& ignored = Value());
  ~TDocument() override;
  std::string_view ClassName() const override { return "TDocument"; }

  // Stamps the modification time and sets the default label layout.
  TDocument& Init(const Value& ignored = Value());
  TDocument& Create() { return *this; }
  // Ends the objects held, then reads every setting and builds the objects.
  TDocument& Load(const Value& map);
  // The document's template map, 21 keys in their fixed order.
  Value Save();
  Value ToJSON() { return Save(); }
  TDocument& FromJSON(const Value& map) { return Load(map); }
  // Ends every object and empties the list.
  void End();
  // The kind is "label".
  bool IsLabelDocument() const { return cDocumentKind == "label"; }

  // The layer of an id (number, or text read from its leading number); layer "0" when absent.
  Value GetLayer(const Value& id) const;
  // The document is where report objects find their layers.
  bool AnswersLayerQueries() const override { return true; }
  // The text form of that layer's condition.
  std::string GetLayerCondition(const Value& id) const override;
  // False only when the layer's designer visibility is false.
  bool IsLayerVisibleInDesign(const Value& id) const override;
  // A new report object of the class for a type word, with this document as parent, or nothing.
  Ref<TObjectBase> CreateObjectByType(const Value& type);
  // The object made from a template map, loaded and created, or nothing.
  Ref<TObjectBase> CreateObjectFromData(const Value& map);
  // Each object's stacking order becomes its position in the list.
  TDocument& NormalizeZIndex();

  // The twelve default label layout values, in order.
  static Value DefaultLabelLayout();
  // A label layout with the twelve keys normalised and in order.
  static Value NormalizeLabelLayout(const Value& layout);
  // The layer table normalised: keys are id texts, layer "0" always present.
  static Value NormalizeLayers(const Value& layers);
  // Variable definitions by trimmed name: {"tipo", "formula"}.
  static Value NormalizeVariableDefinitions(const Value& defs);
  // The id of the first paper format matching the size (either orientation), or "custom".
  static std::string InferPaperFormat(double width, double height);

  std::string cFormatVersion = "1.0";
  std::string cTemplateId;
  std::string cTemplateName = "Documento";
  std::string cDocumentKind = "report";
  std::string cPaperFormat = "a4";
  std::string cPaperOrientation = "portrait";
  std::string tModifiedAt;
  std::string cFileName;
  double nPaperWidth = 210.0;
  double nPaperHeight = 297.0;
  std::string cPaperHeightMode = "fixed";
  double nDesignHeight = 250.0;
  double nContinuousBottomMargin = 5.0;
  bool lShowGrid = true;
  Value hUserVars = Value::NewMap();
  Value hAcumVars = Value::NewMap();
  Value hImportMetadata = Value::NewMap();
  Value hLabelLayout;
  Value hLayers;
  std::vector<Ref<TObjectBase>> aObjects;
};

}  // namespace kx
