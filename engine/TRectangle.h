// A box with border sides, fill, rounding and shadow; also the frame of
// every table, which derives from it and renders this map first.
#pragma once

#include "TObjectBase.h"

namespace kx {

class TRectangle : public TObjectBase {
 public:
  // New(parent): the base defaults, then `Init`.
  explicit TRectangle(TReportNode* parent = nullptr) : TObjectBase(parent) {
    TRectangle::Init(parent);
  }
  std::string_view ClassName() const override { return "TRectangle"; }

  // Stores the parent and sets the rectangle's name and type.
  TRectangle& Init(TReportNode* parent) override;
  // The "rectangulo" map, or nothing when the object is not drawn in this execution.
  Value GenerarRenderizable(TContextoEjecucion& context) override;
};

}  // namespace kx
