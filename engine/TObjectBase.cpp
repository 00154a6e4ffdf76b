#include "TObjectBase.h"

#include <iterator>

#include "TContextoEjecucion.h"
#include "ValoresObjeto.h"

namespace kx {

namespace {

struct BaseKey {
  std::string_view key;
  Value TObjectBase::*member;
};

// The base keys in declaration order: the order `Load` reads and `Save` writes them.
const BaseKey kBaseKeys[] = {
    {"cId", &TObjectBase::cId},
    {"cName", &TObjectBase::cName},
    {"cType", &TObjectBase::cType},
    {"nLeft", &TObjectBase::nLeft},
    {"nTop", &TObjectBase::nTop},
    {"nWidth", &TObjectBase::nWidth},
    {"nHeight", &TObjectBase::nHeight},
    {"lVisible", &TObjectBase::lVisible},
    {"lLocked", &TObjectBase::lLocked},
    {"lSelected", &TObjectBase::lSelected},
    {"nLayerId", &TObjectBase::nLayerId},
    {"nZIndex", &TObjectBase::nZIndex},
    {"cBorderColor", &TObjectBase::cBorderColor},
    {"cBorderColorFormula", &TObjectBase::cBorderColorFormula},
    {"nBorderWidth", &TObjectBase::nBorderWidth},
    {"lBorderTop", &TObjectBase::lBorderTop},
    {"lBorderRight", &TObjectBase::lBorderRight},
    {"lBorderBottom", &TObjectBase::lBorderBottom},
    {"lBorderLeft", &TObjectBase::lBorderLeft},
    {"cBackgroundColor", &TObjectBase::cBackgroundColor},
    {"cBackgroundColorFormula", &TObjectBase::cBackgroundColorFormula},
    {"cFillStyle", &TObjectBase::cFillStyle},
    {"nPattern", &TObjectBase::nPattern},
    {"cFillColor2", &TObjectBase::cFillColor2},
    {"cFillColor2Formula", &TObjectBase::cFillColor2Formula},
    {"cFillColor3", &TObjectBase::cFillColor3},
    {"cFillColor3Formula", &TObjectBase::cFillColor3Formula},
    {"nFillOpacity", &TObjectBase::nFillOpacity},
    {"nFillGradientFactor", &TObjectBase::nFillGradientFactor},
    {"nRounded", &TObjectBase::nRounded},
    {"nShadowSize", &TObjectBase::nShadowSize},
    {"nShadowTransparency", &TObjectBase::nShadowTransparency},
    {"cShadowColor", &TObjectBase::cShadowColor},
    {"cShadowColorFormula", &TObjectBase::cShadowColorFormula},
    {"nRotation", &TObjectBase::nRotation},
    {"nOpacity", &TObjectBase::nOpacity},
    {"cCondition", &TObjectBase::cCondition},
    {"nPaddingTop", &TObjectBase::nPaddingTop},
    {"nPaddingRight", &TObjectBase::nPaddingRight},
    {"nPaddingBottom", &TObjectBase::nPaddingBottom},
    {"nPaddingLeft", &TObjectBase::nPaddingLeft},
    {"nKx12LinkID", &TObjectBase::nKx12LinkID},
    {"nKx12LinkToID", &TObjectBase::nKx12LinkToID},
    {"nKx12LinkMode", &TObjectBase::nKx12LinkMode},
    {"nKx12GroupId", &TObjectBase::nKx12GroupId},
    {"lKx12WrapBefore", &TObjectBase::lKx12WrapBefore},
};
static_assert(std::size(kBaseKeys) == 46);

// A parent chain is a document and at most a table or two; the bound only
// keeps a miswired cycle from hanging the run.
constexpr int kMaxParentWalk = 64;

// The larger of 0.0 and the number: a value of 0 or less gives the real 0.0.
Value NotBelowZero(const Value& n) {
  return n.Double() > 0.0 ? n : Value::Real(0.0, 1);
}

}  // namespace

TObjectBase& TObjectBase::Init(TReportNode* parent) {
  oParent = parent;
  return *this;
}

double TObjectBase::NRight() const {
  return ValorANumero(nLeft).Double() + ValorANumero(nWidth).Double();
}

double TObjectBase::NBottom() const {
  return ValorANumero(nTop).Double() + ValorANumero(nHeight).Double();
}

Value TObjectBase::Save() {
  Value map = Value::NewMap();
  Map& out = map.AsMap();
  out.Reserve(std::size(kBaseKeys));
  for (const BaseKey& k : kBaseKeys) out.Append(KeyText(k.key), this->*k.member);
  return map;
}

TObjectBase& TObjectBase::Load(const Value& map) {
  const Map* in = map.MapPtr();
  if (!in) return *this;
  for (const BaseKey& k : kBaseKeys)
    if (const Value* v = in->Find(k.key)) this->*k.member = *v;
  return *this;
}

Value TObjectBase::GenerarRenderizable(TContextoEjecucion& context) {
  (void)context;
  return Value();
}

std::string TObjectBase::EvaluarColor(TContextoEjecucion& context, const Value& formula,
                                      const Value& stored, const Value& strict) {
  const std::string cFormula(AllTrim(ValorAString(formula)));
  const std::string cStored = ValorAString(stored);
  const bool lStrict = ValorALogico(strict);
  if (cFormula.empty()) return lStrict ? NormalizarColorTexto(cStored) : cStored;

  const std::string cValue(AllTrim(ValorAString(context.EvaluarFormula(Value(cFormula)))));
  if (EsColorHex(cValue)) return Lower(cValue);
  if (!lStrict && Lower(cValue) == "transparent") return "transparent";
  context.AddAviso(Value("Color no valido en " + ValorAString(cId) + ": " + cFormula));
  return lStrict ? NormalizarColorTexto(cStored) : cStored;
}

bool TObjectBase::EsVisibleEnEjecucion(TContextoEjecucion& context) {
  auto discard = [&](const std::string& reason) {
    context.DescartarObjeto(this, Value(reason));
    return false;
  };
  if (!ValorALogico(lVisible)) return discard("visible=false");

  if (context.EsModoDisenador()) {
    // The designer shows what its layers show; conditions wait for a real run.
    if (!EsVisiblePorCapaEnDisenador()) return discard("capa no visible en diseno");
    if (!context.CapaActiva(this)) return discard("capa no activa");
    return true;
  }

  const std::string& cLayerCondition = CondicionCapa();
  if (!cLayerCondition.empty()) {
    const Value result = context.EvaluarCondicion(Value(cLayerCondition));
    if (!HashVisible(result)) {
      std::string reason = ValorAString(result.Get("cMotivo"));
      if (reason.empty()) reason = "condicion de capa falsa";
      discard("capa: " + reason);
      if (reason == "condicion no valida")
        context.AddAviso(
            Value("Condicion de capa no valida en " + ValorAString(cId) + ": " + cLayerCondition));
      return false;
    }
  }

  // Most objects have no condition: a blank text is settled without a copy.
  std::string owned;
  std::string_view cObjectCondition;
  if (cCondition.IsText()) {
    cObjectCondition = cCondition.Str();
  } else {
    owned = ValorAString(cCondition);
    cObjectCondition = owned;
  }
  if (!IsBlank(cObjectCondition)) {
    const Value result = context.EvaluarCondicion(Value(cObjectCondition));
    if (!HashVisible(result)) {
      std::string reason = ValorAString(result.Get("cMotivo"));
      if (reason.empty()) reason = "condicion falsa";
      discard(reason);
      if (reason == "condicion no valida")
        context.AddAviso(Value("Condicion no valida en " + ValorAString(cId) + ": " +
                               std::string(cObjectCondition)));
      return false;
    }
  }

  if (!context.CapaActiva(this)) return discard("capa no activa");
  return true;
}

Value TObjectBase::PaddingRenderizable() const {
  Value map = Value::NewMap();
  Map& out = map.AsMap();
  out.Reserve(4);
  out.Append(KeyText("paddingSuperior"), NotBelowZero(ValorANumero(nPaddingTop)));
  out.Append(KeyText("paddingDerecho"), NotBelowZero(ValorANumero(nPaddingRight)));
  out.Append(KeyText("paddingInferior"), NotBelowZero(ValorANumero(nPaddingBottom)));
  out.Append(KeyText("paddingIzquierdo"), NotBelowZero(ValorANumero(nPaddingLeft)));
  return map;
}

Value TObjectBase::RenderizableFigura(TContextoEjecucion& context, std::string_view tipo,
                                      const Value& redondeo) {
  // Colours first, in this order, so their warnings come in it too.
  const std::string fondo = EvaluarColor(context, cBackgroundColorFormula, cBackgroundColor);
  const std::string relleno2 = EvaluarColor(context, cFillColor2Formula, cFillColor2);
  const std::string relleno3 = EvaluarColor(context, cFillColor3Formula, cFillColor3);
  const std::string borde = EvaluarColor(context, cBorderColorFormula, cBorderColor);
  const std::string sombra = EvaluarColor(context, cShadowColorFormula, cShadowColor);

  Value map = Value::NewMap();
  Map& out = map.AsMap();
  out.Reserve(29);
  auto add = [&](std::string_view key, Value v) { out.Append(KeyText(key), std::move(v)); };
  add("id", cId);
  add("tipo", Value(tipo));
  add("x", nLeft);
  add("y", nTop);
  add("ancho", nWidth);
  add("alto", nHeight);
  add("colorBorde", Value(borde));
  add("grosorBorde", nBorderWidth);
  add("bordeSuperior", lBorderTop);
  add("bordeDerecho", lBorderRight);
  add("bordeInferior", lBorderBottom);
  add("bordeIzquierdo", lBorderLeft);
  add("colorFondo", Value(fondo));
  add("estiloRelleno", cFillStyle);
  add("patronRelleno", nPattern);
  add("colorRelleno2", Value(relleno2));
  add("colorRelleno3", Value(relleno3));
  add("opacidadRelleno", nFillOpacity);
  add("factorGradienteRelleno", nFillGradientFactor);
  add("redondeo", redondeo);
  EmitirClavesSombra(add, *this, Value(sombra));
  EmitirClavesOrden(add, *this);
  return map;
}

bool TObjectBase::EsColorHexValido(const Value& value) {
  return EsColorHex(AllTrim(ValorAString(value)));
}

std::string TObjectBase::NormalizarColorTexto(const Value& value) {
  std::string color = Lower(AllTrim(ValorAString(value)));
  return EsColorHex(color) ? color : "#000000";
}

const TReportNode* TObjectBase::Documento() const {
  const TReportNode* node = oParent;
  for (int step = 0; node && step < kMaxParentWalk; ++step) {
    if (node->AnswersLayerQueries()) return node;
    node = node->ParentNode();
  }
  return nullptr;
}

const std::string& TObjectBase::CondicionCapa() const {
  const int64_t layer = ValorAEntero(nLayerId);
  if (layer != nCapaCache_ || oParent != pCapaPadre_) {
    const TReportNode* document = Documento();
    cCapaCache_ = document ? document->GetLayerCondition(Value(layer)) : "";
    nCapaCache_ = layer;
    pCapaPadre_ = oParent;
  }
  return cCapaCache_;
}

bool TObjectBase::EsVisiblePorCapaEnDisenador() const {
  const TReportNode* document = Documento();
  return document ? document->IsLayerVisibleInDesign(Value(ValorAEntero(nLayerId))) : true;
}

bool TObjectBase::HashVisible(const Value& result) {
  const Map* map = result.MapPtr();
  const Value* visible = map ? map->Find("lVisible") : nullptr;
  return visible && ValorALogico(*visible);
}

}  // namespace kx
