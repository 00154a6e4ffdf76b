#include "TImage.h"

#include "TContextoEjecucion.h"
#include "TImageCache.h"
#include "TImageUtil.h"

namespace kx {

namespace {

// The rendered map's keys in their order; a render copies this map, which
// shares its key table, and fills the values by position.
enum : size_t {
  kId,
  kTipo,
  kX,
  kY,
  kAncho,
  kAlto,
  kDataUri,
  kMime,
  kError,
  kAjuste,
  kMantenerProporcion,
  kColorFondo,
  kColorBorde,
  kGrosorBorde,
  kBordeSuperior,
  kBordeDerecho,
  kBordeInferior,
  kBordeIzquierdo,
  kRedondeo,
  kRotacion,
  kOpacidad,
  kSombraTamano,
  kSombraTransparencia,
  kSombraColor,
  kZIndex,
  kPaddingSuperior,
  kClaves = kPaddingSuperior + 4,
};

const Map& Prototipo() {
  static const Map& proto = ConstantMap({
      {"id", Value()},
      {"tipo", Value("imagen")},
      {"x", Value()},
      {"y", Value()},
      {"ancho", Value()},
      {"alto", Value()},
      {"dataUri", Value()},
      {"mime", Value()},
      {"error", Value()},
      {"ajuste", Value()},
      {"mantenerProporcion", Value()},
      {"colorFondo", Value()},
      {"colorBorde", Value()},
      {"grosorBorde", Value()},
      {"bordeSuperior", Value()},
      {"bordeDerecho", Value()},
      {"bordeInferior", Value()},
      {"bordeIzquierdo", Value()},
      {"redondeo", Value()},
      {"rotacion", Value()},
      {"opacidad", Value()},
      {"sombraTamano", Value()},
      {"sombraTransparencia", Value()},
      {"sombraColor", Value()},
      {"zIndex", Value()},
      {"paddingSuperior", Value()},
      {"paddingDerecho", Value()},
      {"paddingInferior", Value()},
      {"paddingIzquierdo", Value()},
  });
  return proto;
}

}  // namespace

TKXImage& TKXImage::Init(TReportNode* parent) {
  oParent = parent;
  cName = Value("Imagen");
  cType = Value("TImage");
  lBorderTop = Value(false);
  lBorderRight = Value(false);
  lBorderBottom = Value(false);
  lBorderLeft = Value(false);
  cSource = Value("RUTA_LOGO");
  cSourceType = Value("auto");
  lKeepRatio = Value(true);
  cFit = Value("contain");
  return *this;
}

Value TKXImage::Save() {
  Value map = TObjectBase::Save();
  Map& out = map.AsMap();
  out.Append(KeyText("cSource"), cSource);
  out.Append(KeyText("cSourceType"), cSourceType);
  out.Append(KeyText("lKeepRatio"), lKeepRatio);
  out.Append(KeyText("cFit"), cFit);
  return map;
}

TKXImage& TKXImage::Load(const Value& map) {
  TObjectBase::Load(map);
  if (const Map* in = map.MapPtr()) {
    if (const Value* v = in->Find("cSource")) cSource = *v;
    if (const Value* v = in->Find("cSourceType")) cSourceType = *v;
    if (const Value* v = in->Find("lKeepRatio")) lKeepRatio = Value(ValorALogico(*v));
    if (const Value* v = in->Find("cFit")) cFit = *v;
  }
  return *this;
}

Value TKXImage::GenerarRenderizable(TContextoEjecucion& context) {
  if (!EsVisibleEnEjecucion(context)) return Value();
  const Value fuente = IsBlank(ValorAString(cSource)) ? cSource : context.EvaluarFormula(cSource);
  const Value descriptor = TImageUtil().Resolver(
      fuente, cSourceType, dynamic_cast<TImageCache*>(context.GetCacheImagenes()));
  // Colours in this order, so that their warnings come in it too.
  const std::string fondo = EvaluarColor(context, cBackgroundColorFormula, cBackgroundColor);
  const std::string borde = EvaluarColor(context, cBorderColorFormula, cBorderColor);
  const std::string sombra = EvaluarColor(context, cShadowColorFormula, cShadowColor);

  static const Value kVacio("");
  Value rendered(MakeRef<Map>(Prototipo()));
  Map& m = rendered.AsMap();
  m.ValueAt(kId) = cId;
  m.ValueAt(kX) = nLeft;
  m.ValueAt(kY) = nTop;
  m.ValueAt(kAncho) = nWidth;
  m.ValueAt(kAlto) = nHeight;
  m.ValueAt(kDataUri) = HGet(descriptor, "dataUri", kVacio);
  m.ValueAt(kMime) = HGet(descriptor, "mime", kVacio);
  m.ValueAt(kError) = HGet(descriptor, "error", kVacio);
  m.ValueAt(kAjuste) = cFit;
  m.ValueAt(kMantenerProporcion) = lKeepRatio;
  m.ValueAt(kColorFondo) = Value(fondo);
  m.ValueAt(kColorBorde) = Value(borde);
  m.ValueAt(kGrosorBorde) = nBorderWidth;
  m.ValueAt(kBordeSuperior) = lBorderTop;
  m.ValueAt(kBordeDerecho) = lBorderRight;
  m.ValueAt(kBordeInferior) = lBorderBottom;
  m.ValueAt(kBordeIzquierdo) = lBorderLeft;
  m.ValueAt(kRedondeo) = nRounded;
  m.ValueAt(kRotacion) = nRotation;
  m.ValueAt(kOpacidad) = nOpacity;
  m.ValueAt(kSombraTamano) = nShadowSize;
  m.ValueAt(kSombraTransparencia) = nShadowTransparency;
  m.ValueAt(kSombraColor) = Value(sombra);
  m.ValueAt(kZIndex) = nZIndex;
  const Value padding = PaddingRenderizable();
  for (size_t i = 0; i < 4; ++i) m.ValueAt(kPaddingSuperior + i) = padding.AsMap().ValueAt(i);
  static_assert(kClaves == 29);
  return rendered;
}

}  // namespace kx
