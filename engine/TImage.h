// The image object: its source formula's value (a file path, a data URI or
// the image bytes) resolved by TImageUtil, carried to the renderer as a data
// URI with the box, fitting, borders, shadow and padding of the object.
#pragma once

#include "TObjectBase.h"

namespace kx {

class TKXImage : public TObjectBase {
 public:
  // New(parent): the base defaults, then `Init`.
  explicit TKXImage(TReportNode* parent = nullptr) : TObjectBase(parent) { TKXImage::Init(parent); }
  std::string_view ClassName() const override { return "TKXImage"; }

  // Stores the parent and sets the image's defaults (no border sides).
  TKXImage& Init(TReportNode* parent) override;
  // The base keys, then "cSource", "cSourceType", "lKeepRatio", "cFit".
  Value Save() override;
  // The base keys, then those four when present: "lKeepRatio" as a logical, the rest unchanged.
  TKXImage& Load(const Value& map) override;
  // The "imagen" map (an image that cannot be resolved says "Imagen no disponible"), or nothing
  // when the object is not drawn in this execution.
  Value GenerarRenderizable(TContextoEjecucion& context) override;

  Value cSource{"RUTA_LOGO"};  // formula of the source; the default names the variable RUTA_LOGO
  Value cSourceType{"auto"};   // "datos": the value is the image itself, no file is looked up
  Value lKeepRatio{true};      // passed on to the renderer
  Value cFit{"contain"};       // passed on to the renderer
};

}  // namespace kx
