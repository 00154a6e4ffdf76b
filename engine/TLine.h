// A straight line: its box, colour, width, orientation and style.
#pragma once

#include "TObjectBase.h"

namespace kx {

class TLine : public TObjectBase {
 public:
  // New(parent): the base defaults, then `Init`.
  explicit TLine(TReportNode* parent = nullptr) : TObjectBase(parent) { TLine::Init(parent); }
  std::string_view ClassName() const override { return "TLine"; }

  // Stores the parent and sets the line's defaults (20, 20, 50 x 1 mm, no fill, no sides).
  TLine& Init(TReportNode* parent) override;
  // The base keys, then "cOrientation" and "cLineStyle".
  Value Save() override;
  // The base keys, then "cOrientation" and "cLineStyle" when present, unchanged.
  TLine& Load(const Value& map) override;
  // The "linea" map, or nothing when the object is not drawn in this execution.
  Value GenerarRenderizable(TContextoEjecucion& context) override;

  Value cOrientation{"horizontal"};
  Value cLineStyle{"solid"};
};

}  // namespace kx
