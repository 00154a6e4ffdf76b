#include "TRectangle.h"

namespace kx {

TRectangle& TRectangle::Init(TReportNode* parent) {
  oParent = parent;
  cName = Value("Rectángulo");
  cType = Value("TRectangle");
  return *this;
}

Value TRectangle::GenerarRenderizable(TContextoEjecucion& context) {
  if (!EsVisibleEnEjecucion(context)) return Value();
  return RenderizableFigura(context, "rectangulo", nRounded);
}

}  // namespace kx
