// An ellipse drawn inside its box.
#pragma once

#include "TObjectBase.h"

namespace kx {

class TEllipse : public TObjectBase {
 public:
  // New(parent): the base defaults, then `Init`.
  explicit TEllipse(TReportNode* parent = nullptr) : TObjectBase(parent) { TEllipse::Init(parent); }
  std::string_view ClassName() const override { return "TEllipse"; }

  // Stores the parent and sets the ellipse's defaults (20, 20, 50 x 30 mm, rounding 50).
  TEllipse& Init(TReportNode* parent) override;
  // The "elipse" map, or nothing when the object is not drawn in this execution.
  Value GenerarRenderizable(TContextoEjecucion& context) override;
};

}  // namespace kx
