#include "TLine.h"

namespace kx {

TLine& TLine::Init(TReportNode* parent) {
  oParent = parent;
  cName = Value("Línea");
  cType = Value("TLine");
  nLeft = Value(20);
  nTop = Value(20);
  nWidth = Value(50);
  nHeight = Value(1);
  // Stored and saved for the designer; a line renders neither fill nor sides.
  cBackgroundColor = Value("transparent");
  lBorderTop = Value(false);
  lBorderRight = Value(false);
  lBorderBottom = Value(false);
  lBorderLeft = Value(false);
  cOrientation = Value("horizontal");
  cLineStyle = Value("solid");
  return *this;
}

Value TLine::Save() {
  Value map = TObjectBase::Save();
  map.AsMap().Append(KeyText("cOrientation"), cOrientation);
  map.AsMap().Append(KeyText("cLineStyle"), cLineStyle);
  return map;
}

TLine& TLine::Load(const Value& map) {
  TObjectBase::Load(map);
  if (const Map* in = map.MapPtr()) {
    if (const Value* v = in->Find("cOrientation")) cOrientation = *v;
    if (const Value* v = in->Find("cLineStyle")) cLineStyle = *v;
  }
  return *this;
}

Value TLine::GenerarRenderizable(TContextoEjecucion& context) {
  if (!EsVisibleEnEjecucion(context)) return Value();
  // A line is drawn in a plain colour: its colour is strict, its shadow lenient.
  const std::string color = EvaluarColor(context, cBorderColorFormula, cBorderColor, true);
  const std::string sombra = EvaluarColor(context, cShadowColorFormula, cShadowColor);

  Value rendered = Value::NewMap();
  Map& out = rendered.AsMap();
  out.Reserve(19);
  auto add = [&](std::string_view key, Value v) { out.Append(KeyText(key), std::move(v)); };
  add("id", cId);
  add("tipo", Value("linea"));
  add("x", nLeft);
  add("y", nTop);
  add("ancho", nWidth);
  add("alto", nHeight);
  add("color", Value(color));
  add("grosor", nBorderWidth);
  add("orientacion", cOrientation);
  add("estilo", cLineStyle);
  EmitirClavesSombra(add, *this, Value(sombra));
  EmitirClavesOrden(add, *this);
  return rendered;
}

}  // namespace kx
