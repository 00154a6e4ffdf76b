#include "TEllipse.h"

namespace kx {

TEllipse& TEllipse::Init(TReportNode* parent) {
  oParent = parent;
  cName = Value("Elipse");
  cType = Value("TEllipse");
  nLeft = Value(20);
  nTop = Value(20);
  nWidth = Value(50);
  nHeight = Value(30);
  nBorderWidth = Value::Real(0.1, 1);
  nRounded = Value(50);
  return *this;
}

Value TEllipse::GenerarRenderizable(TContextoEjecucion& context) {
  if (!EsVisibleEnEjecucion(context)) return Value();
  // The stored rounding is loaded and saved, but an ellipse is always drawn with 50.
  return RenderizableFigura(context, "elipse", Value(50));
}

}  // namespace kx
