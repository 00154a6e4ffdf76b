#include "TBarcode.h"

#include <cmath>

#include "TBarcodeUtil.h"
#include "TContextoEjecucion.h"

namespace kx {

namespace {

// Keys read as they stand, in declaration order.
struct PlainKey {
  std::string_view key;
  Value TKXBarcode::*member;
};
constexpr PlainKey kPlainKeys[] = {
    {"cContent", &TKXBarcode::cContent},   {"cBarcodeType", &TKXBarcode::cBarcodeType},
    {"cColor", &TKXBarcode::cColor},       {"cColorFormula", &TKXBarcode::cColorFormula},
    {"nFontSize", &TKXBarcode::nFontSize},
};

// A style flag and the formula over it.
struct StyleKey {
  std::string_view flagKey;
  bool TKXBarcode::*flag;
  std::string_view formulaKey;
  std::string TKXBarcode::*formula;
};
constexpr StyleKey kStyleKeys[] = {
    {"lFontBold", &TKXBarcode::lFontBold, "cFontBoldFormula", &TKXBarcode::cFontBoldFormula},
    {"lFontItalic", &TKXBarcode::lFontItalic, "cFontItalicFormula",
     &TKXBarcode::cFontItalicFormula},
    {"lFontUnderline", &TKXBarcode::lFontUnderline, "cFontUnderlineFormula",
     &TKXBarcode::cFontUnderlineFormula},
    {"lFontStrikeout", &TKXBarcode::lFontStrikeout, "cFontStrikeoutFormula",
     &TKXBarcode::cFontStrikeoutFormula},
};

bool IsDescriptor(const Value& value) {
  const Value& tipo = value.Get("tipo");
  return value.IsMap() && tipo.IsText() && tipo.Str() == "barcode";
}

bool ModuleText(const Value& v) {
  if (!v.IsText() || v.Len() == 0) return false;
  for (char c : v.Str())
    if (c != '0' && c != '1') return false;
  return true;
}

// A quiet zone a renderer can draw: none given (the renderer's own), or a
// finite number of modules, 0 or more.
bool Margin(const Map& descriptor, std::string_view key) {
  const Value* v = descriptor.Find(key);
  return !v || (v->IsNumber() && std::isfinite(v->Double()) && v->Double() >= 0.0);
}

// A renderer can draw the descriptor's pattern as it stands: modules of 0 and 1,
// the rows of a matrix of one width. A host that builds its own pattern need not
// give the quiet zones.
bool DrawablePattern(const Map& descriptor) {
  if (const Value* bits = descriptor.Find("bits")) {
    if (!ModuleText(*bits) || !Margin(descriptor, "margenIzquierdoModulos") ||
        !Margin(descriptor, "margenDerechoModulos"))
      return false;
  }
  if (const Value* matriz = descriptor.Find("matriz")) {
    const List* rows = matriz->ListPtr();
    if (!rows || rows->empty() || !Margin(descriptor, "margenModulos")) return false;
    const size_t width = (*rows)[0].Len();
    for (const Value& row : *rows)
      if (!ModuleText(row) || row.Len() != width) return false;
  }
  return true;
}

Value CopyOf(const Value& map) {
  return Value(MakeRef<Map>(map.AsMap()));
}

}  // namespace

TKXBarcode& TKXBarcode::Init(TReportNode* parent) {
  oParent = parent;
  cName = Value("Código de barras");
  cType = Value("TBarcode");
  lBorderTop = Value(false);
  lBorderRight = Value(false);
  lBorderBottom = Value(false);
  lBorderLeft = Value(false);
  cContent = Value("\"123456789012\"");
  return *this;
}

Value TKXBarcode::Save() {
  Value map = TObjectBase::Save();
  Map& out = map.AsMap();
  auto add = [&](std::string_view key, Value v) { out.Append(KeyText(key), std::move(v)); };
  add("cContent", cContent);
  add("cBarcodeType", cBarcodeType);
  add("lShowText", Value(lShowText));
  add("lTrimSpaces", Value(lTrimSpaces));
  add("cColor", cColor);
  add("cColorFormula", cColorFormula);
  add("cFontFamily", cFontFamily);
  add("nFontSize", nFontSize);
  add("cFontSizeFormula", Value(cFontSizeFormula));
  for (const StyleKey& k : kStyleKeys) {
    add(k.flagKey, Value(this->*k.flag));
    add(k.formulaKey, Value(this->*k.formula));
  }
  return map;
}

TKXBarcode& TKXBarcode::Load(const Value& map) {
  TObjectBase::Load(map);
  const Map* in = map.MapPtr();
  if (!in) return *this;
  for (const PlainKey& k : kPlainKeys)
    if (const Value* v = in->Find(k.key)) this->*k.member = *v;
  if (const Value* v = in->Find("lShowText")) lShowText = ValorALogico(*v);
  if (const Value* v = in->Find("lTrimSpaces")) lTrimSpaces = ValorALogico(*v);
  if (const Value* v = in->Find("cFontFamily")) {
    cFontFamily = *v;
  } else if (const Value* n = in->Find("cFontName")) {
    cFontFamily = *n;
  }
  // The style formulas are always assigned: a template without one clears it.
  cFontSizeFormula = ValorAString(in->Get("cFontSizeFormula"));
  for (const StyleKey& k : kStyleKeys) {
    if (const Value* v = in->Find(k.flagKey)) this->*k.flag = ValorALogico(*v);
    this->*k.formula = ValorAString(in->Get(k.formulaKey));
  }
  return *this;
}

Value TKXBarcode::Descriptor(const Value& value) const {
  const TBarcodeUtil util;
  if (!IsDescriptor(value)) return util.Crear(value, cBarcodeType);
  const Map& in = value.AsMap();
  if (in.Has("error")) return CopyOf(value);
  if ((in.Has("bits") || in.Has("matriz")) && DrawablePattern(in)) return CopyOf(value);
  // No pattern, or one that cannot be drawn as it stands: its text in its own symbology.
  const Value* tipo = in.Find("barcodeTipo");
  return util.Crear(in.Get("texto", Value("")), tipo ? *tipo : cBarcodeType);
}

Value TKXBarcode::GenerarRenderizable(TContextoEjecucion& context) {
  bool lError = false;
  Value cError("");
  if (!EsVisibleEnEjecucion(context)) return Value();

  Value valor;
  context.EvaluarPlanFormulaConEstado(Value(), cContent, valor, lError, cError);
  if (lTrimSpaces) {
    if (valor.IsMap() && valor.AsMap().Has("texto")) {
      valor = CopyOf(valor);
      valor.Set("texto", Value(AllTrim(ValorAString(valor.Get("texto")))));
    } else if (valor.IsText()) {
      valor = Value(AllTrim(valor.Str()));
    }
  }

  Value rendered = Descriptor(valor);
  const std::string color = EvaluarColor(context, cColorFormula, cColor, Value(true));
  const std::string fondo = EvaluarColor(context, cBackgroundColorFormula, cBackgroundColor);
  auto style = [&](bool stored, const std::string& formula) {
    return IsBlank(formula) ? stored : ValorALogico(context.EvaluarFormula(Value(formula)));
  };
  Value tamano = nFontSize;
  if (!IsBlank(cFontSizeFormula)) {
    const Value size = ValorANumero(context.EvaluarFormula(Value(cFontSizeFormula)));
    tamano = size.Double() > 1.0 ? size : Value(1);
  }
  const bool negrita = style(lFontBold, cFontBoldFormula);
  const bool cursiva = style(lFontItalic, cFontItalicFormula);
  const bool subrayado = style(lFontUnderline, cFontUnderlineFormula);
  const bool tachado = style(lFontStrikeout, cFontStrikeoutFormula);

  // A key the descriptor holds keeps its place; the others follow it in this order.
  Map& out = rendered.AsMap();
  out.Reserve(out.size() + 25);
  out.Set("id", cId);
  out.Set("formula", cContent);
  out.Set("formulaError", Value(lError));
  out.Set("formulaErrorMessage", cError);
  out.Set("x", nLeft);
  out.Set("y", nTop);
  out.Set("ancho", nWidth);
  out.Set("alto", nHeight);
  out.Set("color", Value(color));
  out.Set("colorFondo", Value(fondo));
  out.Set("mostrarTexto", Value(lShowText));
  out.Set("optimizarEspacios", Value(lTrimSpaces));
  out.Set("fuente", cFontFamily);
  out.Set("tamano", tamano);
  out.Set("negrita", Value(negrita));
  out.Set("cursiva", Value(cursiva));
  out.Set("subrayado", Value(subrayado));
  out.Set("tachado", Value(tachado));
  out.Set("rotacion", nRotation);
  out.Set("opacidad", nOpacity);
  out.Set("zIndex", nZIndex);
  const Value padding = PaddingRenderizable();
  for (const Map::Entry& e : padding.AsMap()) out.Set(e.key.Str(), e.value);
  return rendered;
}

}  // namespace kx
