#include "TText.h"

#include "FormulaPlan.h"
#include "FormulaSyntax.h"
#include "TContextoEjecucion.h"

namespace kx {

namespace {

// Positions of the keys that change from cell to cell in the prototype order
// ("id" to "formula", "fuente" to "paddingIzquierdo", then the two error keys).
constexpr size_t kProtoId = 0;
constexpr size_t kProtoX = 2;
constexpr size_t kProtoY = 3;
constexpr size_t kProtoAncho = 4;
constexpr size_t kProtoAlto = 5;
constexpr size_t kProtoTexto = 6;
constexpr size_t kProtoFormula = 7;
constexpr size_t kProtoAlturaSuprimida = 33;
constexpr size_t kProtoOrdenOriginal = 48;
constexpr size_t kProtoCapa = 49;
constexpr size_t kProtoZIndex = 50;
constexpr size_t kProtoFormulaError = 55;
constexpr size_t kProtoFormulaErrorMessage = 56;
constexpr size_t kRenderKeys = 57;

// The case-tolerant lookup of the text keys: the key exactly, then in upper
// case, then the first key of the map equal to it in any letter case. Keys
// are never trimmed here, unlike the formula language's lookup of names
// (HashGet in TEvaluadorFormulasInterno.h): the two rules differ on purpose.
const Value* FindTolerant(const Value& map, std::string_view key) {
  const Map* m = map.MapPtr();
  if (!m) return nullptr;
  if (const Value* v = m->Find(key)) return v;
  if (const Value* v = m->Find(Upper(key))) return v;
  for (size_t i = 0; i < m->size(); ++i)
    if (EqualsIgnoreCase(m->KeyAt(i), key)) return &m->ValueAt(i);
  return nullptr;
}

// The fixed value of a constant plan, in the evaluator's form or as a map
// whose "tipo" is "value"; nothing for any other plan.
const Value* ConstantOfPlan(const Value& plan) {
  if (const Map* map = plan.MapPtr()) {
    if (map->Get("tipo").Str() != "value") return nullptr;
    const Value* valor = map->Find("valor");
    return valor ? valor : &kNil;
  }
  const FormulaPlanRef compiled = FormulaPlan::FromValue(plan);
  return compiled && compiled->Tipo() == TipoPlan::kValue ? &compiled->Valor() : nullptr;
}

bool IsLowerHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
}

bool HexDigitsAfterHash(std::string_view s, size_t length) {
  if (s.size() != length || s[0] != '#') return false;
  for (size_t i = 1; i < length; ++i)
    if (!IsLowerHexDigit(s[i])) return false;
  return true;
}

bool IsBlankText(std::string_view s) {
  return AllTrim(s).empty();
}

bool IsBlankFormula(const Value& v) {
  return v.IsText() ? IsBlankText(v.Str()) : IsBlankText(ValueString(v));
}

// Calls `piece` for every paragraph of the text, CR LF and a lone CR counting
// as line ends like LF.
template <typename Fn>
void ForEachParagraph(std::string_view text, Fn piece) {
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\n' && text[i] != '\r') continue;
    piece(text.substr(start, i - start));
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    start = i + 1;
  }
  piece(text.substr(start));
}

// Empty, or only spaces and tabs.
bool IsBlankParagraph(std::string_view p) {
  for (char c : p)
    if (c != ' ' && c != '\t') return false;
  return true;
}

// Whole degrees brought into 0..359: 90 and 270 turn the box a quarter.
bool QuarterTurned(int64_t degrees) {
  int64_t r = degrees % 360;
  if (r < 0) r += 360;
  return r == 90 || r == 270;
}

// The values of one rendering that are not members as they stand.
struct StyleValues {
  Value tamano;
  std::string color;
  std::string fondo;
  std::string borde;
  std::string sombra;
  bool negrita = false;
  bool cursiva = false;
  bool subrayado = false;
  bool tachado = false;
  Value padding;
  Value alturaSuprimida;
};

}  // namespace

// ---------------------------------------------------------------------------
// Lifecycle, loading and saving

TText& TText::Init(TReportNode* parent) {
  oParent = parent;
  cName = Value("Texto");
  cType = Value("TText");
  cText = "\"Texto\"";
  cFontFamily = "Arial";
  nFontSize = Value(12);
  cFontSizeFormula.clear();
  nFontOutPrecision = 0;
  nFontPitchAndFamily = 0;
  lFontBold = false;
  cFontBoldFormula.clear();
  lFontItalic = false;
  cFontItalicFormula.clear();
  lFontUnderline = false;
  cFontUnderlineFormula.clear();
  lFontStrikeout = false;
  cFontStrikeoutFormula.clear();
  cTextFitMode = "wrap";
  lTextWrap = true;
  lForceWrap = false;
  lAllowPageBreak = false;
  nLineSpacing = Value(0);
  nParagraphSpacing = Value(0);
  lKeepEmptyParagraphs = true;
  lTextAdjusted = false;
  lTrimSpaces = false;
  cTextFlowGroup.clear();
  nTextFlowOrder = 0;
  nTextFlowLineHeight = Value(0);
  cTextColor = "#000000";
  cTextColorFormula.clear();
  nTextOpacity = Value(1);
  cTextAlign = "left";
  nTextDecimalPosition = Value(-10);
  cTextVerticalAlign = "top";
  cKx12SourceType.clear();
  cKx12SourceJson.clear();
  uTextFormulaPlan = Value();
  cTextFormulaPlanSource.clear();
  hStaticRenderPrototype = Value();
  nPrototipoUsable_ = -1;
  // A text box has no frame unless the template asks for one.
  lBorderTop = Value(false);
  lBorderRight = Value(false);
  lBorderBottom = Value(false);
  lBorderLeft = Value(false);
  return *this;
}

void TText::End() {
  oParent = nullptr;
  uTextFormulaPlan = Value();
  cTextFormulaPlanSource.clear();
  hStaticRenderPrototype = Value();
  nPrototipoUsable_ = -1;
}

std::optional<std::string> TText::FormulaDeContenido(const Value& map) {
  if (const Map* in = map.MapPtr())
    if (const Value* f = in->Find("cFormula"))
      if (std::string formula = ValorAString(*f); !IsBlankText(formula)) return formula;
  if (const Value* v = FindTolerant(map, "cText")) return ValorAString(*v);
  return std::nullopt;
}

TText& TText::Load(const Value& map) {
  TObjectBase::Load(map);

  if (map.IsMap()) {
    auto find = [&](std::string_view key) { return FindTolerant(map, key); };
    auto text = [&](std::string_view key) {
      const Value* v = find(key);
      return v ? ValorAString(*v) : std::string();
    };
    auto readLogical = [&](std::string_view key, bool& member) {
      if (const Value* v = find(key)) member = ValorALogico(*v);
    };
    auto readNumber = [&](std::string_view key, Value& member) {
      if (const Value* v = find(key)) member = ValorANumero(*v);
    };

    if (std::optional<std::string> formula = FormulaDeContenido(map)) cText = std::move(*formula);
    if (const Value* v = find("cFontFamily")) {
      cFontFamily = ValorAString(*v);
    } else if (const Value* n = find("cFontName")) {
      cFontFamily = ValorAString(*n);
    }
    if (const Value* v = find("nFontSize")) nFontSize = *v;
    cFontSizeFormula = text("cFontSizeFormula");
    auto integer = [&](std::string_view key) {
      const Value* v = find(key);
      return v ? ValorAEntero(*v) : 0;
    };
    nFontOutPrecision = integer("nFontOutPrecision");
    nFontPitchAndFamily = integer("nFontPitchAndFamily");

    readLogical("lFontBold", lFontBold);
    cFontBoldFormula = text("cFontBoldFormula");
    readLogical("lFontItalic", lFontItalic);
    cFontItalicFormula = text("cFontItalicFormula");
    readLogical("lFontUnderline", lFontUnderline);
    cFontUnderlineFormula = text("cFontUnderlineFormula");
    readLogical("lFontStrikeout", lFontStrikeout);
    cFontStrikeoutFormula = text("cFontStrikeoutFormula");

    // Only the logical true turns wrapping on; a valid fit mode wins over it.
    if (const Value* v = find("lTextWrap")) lTextWrap = v->IsLogical() && v->Bool();
    const Value* fit = find("cTextFitMode");
    cTextFitMode = NormalizarTextFitMode(fit ? *fit : Value(), lTextWrap);
    lTextWrap = cTextFitMode == "wrap";

    readLogical("lForceWrap", lForceWrap);
    readLogical("lAllowPageBreak", lAllowPageBreak);
    readNumber("nLineSpacing", nLineSpacing);
    readNumber("nParagraphSpacing", nParagraphSpacing);
    readLogical("lKeepEmptyParagraphs", lKeepEmptyParagraphs);
    readLogical("lTextAdjusted", lTextAdjusted);
    readLogical("lTrimSpaces", lTrimSpaces);
    if (const Value* v = find("cTextFlowGroup")) cTextFlowGroup = ValorAString(*v);
    if (const Value* v = find("nTextFlowOrder")) nTextFlowOrder = ValorAEntero(*v);
    readNumber("nTextFlowLineHeight", nTextFlowLineHeight);
    if (const Value* v = find("cTextColor")) cTextColor = NormalizarTextColor(*v);
    if (const Value* v = find("cTextColorFormula")) cTextColorFormula = ValorAString(*v);
    if (const Value* v = find("nTextOpacity")) nTextOpacity = NormalizarOpacity(*v);
    if (const Value* v = find("cTextAlign")) cTextAlign = ValorAString(*v);
    readNumber("nTextDecimalPosition", nTextDecimalPosition);

    if (const Value* v = find("cTextVerticalAlign")) {
      cTextVerticalAlign = NormalizarTextVerticalAlign(*v);
    } else if (const Value* a = find("cVerticalAlign")) {
      cTextVerticalAlign = NormalizarTextVerticalAlign(*a);
    }
    cKx12SourceType = text("cKx12SourceType");
    cKx12SourceJson = text("cKx12SourceJson");
  }

  // The next rendering compiles the content again and rebuilds any prototype.
  uTextFormulaPlan = Value();
  cTextFormulaPlanSource.clear();
  hStaticRenderPrototype = Value();
  nPrototipoUsable_ = -1;
  return *this;
}

Value TText::Save() {
  Value map = TObjectBase::Save();
  cTextFitMode = NormalizarTextFitMode(Value(cTextFitMode), lTextWrap);
  lTextWrap = cTextFitMode == "wrap";

  Map& out = map.AsMap();
  out.Reserve(out.size() + 34);
  auto add = [&](std::string_view key, Value v) { out.Set(key, std::move(v)); };
  add("cText", Value(cText));
  add("cFontFamily", Value(cFontFamily));
  add("nFontSize", nFontSize);
  add("cFontSizeFormula", Value(cFontSizeFormula));
  add("nFontOutPrecision", Value(nFontOutPrecision));
  add("nFontPitchAndFamily", Value(nFontPitchAndFamily));
  add("lFontBold", Value(lFontBold));
  add("cFontBoldFormula", Value(cFontBoldFormula));
  add("lFontItalic", Value(lFontItalic));
  add("cFontItalicFormula", Value(cFontItalicFormula));
  add("lFontUnderline", Value(lFontUnderline));
  add("cFontUnderlineFormula", Value(cFontUnderlineFormula));
  add("lFontStrikeout", Value(lFontStrikeout));
  add("cFontStrikeoutFormula", Value(cFontStrikeoutFormula));
  add("cTextFitMode", Value(cTextFitMode));
  add("lTextWrap", Value(lTextWrap));
  add("lForceWrap", Value(lForceWrap));
  add("lAllowPageBreak", Value(lAllowPageBreak));
  add("nLineSpacing", nLineSpacing);
  add("nParagraphSpacing", nParagraphSpacing);
  add("lKeepEmptyParagraphs", Value(lKeepEmptyParagraphs));
  add("lTextAdjusted", Value(lTextAdjusted));
  add("lTrimSpaces", Value(lTrimSpaces));
  add("cTextFlowGroup", Value(cTextFlowGroup));
  add("nTextFlowOrder", Value(nTextFlowOrder));
  add("nTextFlowLineHeight", nTextFlowLineHeight);
  add("cTextColor", Value(NormalizarTextColor(Value(cTextColor))));
  add("cTextColorFormula", Value(cTextColorFormula));
  add("nTextOpacity", NormalizarOpacity(nTextOpacity));
  add("cTextAlign", Value(cTextAlign));
  add("nTextDecimalPosition", nTextDecimalPosition);
  add("cTextVerticalAlign", Value(NormalizarTextVerticalAlign(Value(cTextVerticalAlign))));
  add("cKx12SourceType", Value(cKx12SourceType));
  add("cKx12SourceJson", Value(cKx12SourceJson));
  return map;
}

// ---------------------------------------------------------------------------
// Rendering

Value TText::GenerarRenderizable(TContextoEjecucion& context) {
  if (!EsVisibleEnEjecucion(context)) return Value();
  PrepararPlan(context);
  Contenido contenido = EvaluarContenido(context);

  if (lTrimSpaces) contenido.cTexto = Recortado(contenido.cTexto);
  // Blank paragraphs only give height back inside a flow group.
  const int64_t blanks = !cTextFlowGroup.empty() && !lKeepEmptyParagraphs
                             ? ContarParrafosVacios(contenido.cTexto.Str())
                             : 0;
  contenido.cTexto = NormalizarParrafosVacios(contenido.cTexto);

  Value renderizable = CanUseStaticRenderPrototype()
                           ? RenderizableDesdePrototipo(context, contenido, blanks)
                           : RenderizableDinamico(context, contenido, blanks);
  // Its text is evaluated again once the page total is known: with the sums of this moment.
  if (lTextFormulaPageCount) context.GuardarEstadoTexto(renderizable);
  return renderizable;
}

void TText::PrepararPlan(TContextoEjecucion& context) {
  if (!uTextFormulaPlan.IsNil() && cTextFormulaPlanSource == cText) return;
  const Value plan = context.CompilarPlanFormula(Value(cText));
  // False: no plan, and no new attempt while the content stays the same.
  uTextFormulaPlan = plan.IsNil() ? Value(false) : plan;
  cTextFormulaPlanSource = cText;
  uTextFormulaText = Value(cText);
  lTextFormulaPageCount = UsaFuncionPaginacion(cText);
}

TText::Contenido TText::EvaluarContenido(TContextoEjecucion& context) const {
  Contenido contenido;
  if (const Value* constant = ConstantOfPlan(uTextFormulaPlan)) {
    contenido.cTexto = constant->IsText() ? *constant : Value(ValorAString(*constant));
    return contenido;
  }
  // The context always answers the plan evaluation with its error state, so
  // the plainer ways of evaluating a content are never needed here.
  Value valor;
  const Value formula = uTextFormulaText.IsText() ? uTextFormulaText : Value(cText);
  context.EvaluarPlanFormulaConEstado(uTextFormulaPlan, formula, valor, contenido.lError,
                                      contenido.cError);
  contenido.cTexto = valor.IsText() ? valor : Value(ValorAString(valor));
  return contenido;
}

Value TText::AlturaSuprimida(int64_t blanks) const {
  if (blanks <= 0) return Value(0);
  const Value lineHeight = ValorANumero(nTextFlowLineHeight);
  if (lineHeight.Double() <= 0.0) return Value(0);
  const Value height = Mul(Value(blanks), lineHeight);
  const Value extent = ValorANumero(QuarterTurned(ValorAEntero(nRotation)) ? nWidth : nHeight);
  return extent.Double() < height.Double() ? extent : height;
}

namespace {

// Writes the keys of a rendered map in their order by appending them.
struct AppendKeys {
  Map& out;
  void operator()(std::string_view key, Value v) { out.Append(KeyText(key), std::move(v)); }
};

// Writes the keys in their order over a copy of a map that already holds
// them in that order: no key is hashed or allocated again.
struct OverwriteKeys {
  Map& out;
  size_t pos = 0;
  void operator()(std::string_view key, Value v) {
    if (pos < out.size() && out.KeyAt(pos) == key) {
      out.ValueAt(pos) = std::move(v);
    } else {
      out.Set(key, std::move(v));
    }
    ++pos;
  }
};

// Keys "id" to "formula" (1 to 8).
template <typename Emit>
void EmitHead(Emit& emit, const Value& id, const Value& x, const Value& y, const Value& ancho,
              const Value& alto, const Value& texto, const Value& formula) {
  emit("id", id);
  emit("tipo", Value("texto"));
  emit("x", x);
  emit("y", y);
  emit("ancho", ancho);
  emit("alto", alto);
  emit("texto", texto);
  emit("formula", formula);
}

template <typename Emit>
void EmitErrors(Emit& emit, bool error, const Value& message) {
  emit("formulaError", Value(error));
  emit("formulaErrorMessage", message);
}

// Keys "fuente" to "paddingIzquierdo" (11 to 57): the members as they stand
// and the values resolved for this rendering.
template <typename Emit>
void EmitStyle(Emit& emit, const TText& t, const StyleValues& s, const Value& opacidadTexto,
               const Value& alineacionVertical) {
  emit("fuente", Value(t.cFontFamily));
  emit("tamano", s.tamano);
  emit("precisionFuente", Value(t.nFontOutPrecision));
  emit("familiaPitchFuente", Value(t.nFontPitchAndFamily));
  emit("color", Value(s.color));
  emit("opacidadTexto", opacidadTexto);
  emit("alineacion", Value(t.cTextAlign));
  emit("posicionDecimal", t.nTextDecimalPosition);
  emit("alineacionVertical", alineacionVertical);
  emit("negrita", Value(s.negrita));
  emit("cursiva", Value(s.cursiva));
  emit("subrayado", Value(s.subrayado));
  emit("tachado", Value(s.tachado));
  emit("modoAjusteTexto", Value(t.cTextFitMode));
  emit("ajusteLinea", Value(t.lTextWrap));
  emit("forzarParticionPalabra", Value(t.lForceWrap));
  emit("permiteSaltoPagina", Value(t.lAllowPageBreak));
  emit("interlineado", t.nLineSpacing);
  emit("espaciadoParrafo", t.nParagraphSpacing);
  emit("conservarParrafosVacios", Value(t.lKeepEmptyParagraphs));
  emit("ajustado", Value(t.lTextAdjusted));
  emit("optimizarEspacios", Value(t.lTrimSpaces));
  emit("grupoFlujoTexto", Value(t.cTextFlowGroup));
  emit("ordenFlujoTexto", Value(t.nTextFlowOrder));
  emit("alturaLineaFlujoTexto", t.nTextFlowLineHeight);
  emit("alturaSuprimidaFlujoTexto", s.alturaSuprimida);
  emit("colorFondo", Value(s.fondo));
  emit("colorBorde", Value(s.borde));
  emit("grosorBorde", t.nBorderWidth);
  emit("bordeSuperior", t.lBorderTop);
  emit("bordeDerecho", t.lBorderRight);
  emit("bordeInferior", t.lBorderBottom);
  emit("bordeIzquierdo", t.lBorderLeft);
  emit("redondeo", t.nRounded);
  EmitirClavesSombra(emit, t, Value(s.sombra));
  EmitirClavesOrden(emit, t);
  for (const Map::Entry& e : s.padding.AsMap()) emit(e.key.Str(), e.value);
}

}  // namespace

Value TText::RenderizableDinamico(TContextoEjecucion& context, const Contenido& contenido,
                                  int64_t blanks) {
  // Evaluated in this order: each evaluation may add a warning to the context.
  StyleValues s;
  s.color = NormalizarTextColor(
      Value(EvaluarColor(context, Value(cTextColorFormula), Value(cTextColor), Value(true))));
  s.fondo = EvaluarColor(context, cBackgroundColorFormula, cBackgroundColor);
  s.borde = EvaluarColor(context, cBorderColorFormula, cBorderColor);
  s.sombra = EvaluarColor(context, cShadowColorFormula, cShadowColor);
  s.padding = PaddingRenderizable();
  auto style = [&](bool stored, const std::string& formula) {
    return IsBlankText(formula) ? stored : ValorALogico(context.EvaluarFormula(Value(formula)));
  };
  s.negrita = style(lFontBold, cFontBoldFormula);
  s.cursiva = style(lFontItalic, cFontItalicFormula);
  s.subrayado = style(lFontUnderline, cFontUnderlineFormula);
  s.tachado = style(lFontStrikeout, cFontStrikeoutFormula);
  s.tamano = nFontSize;
  if (!IsBlankText(cFontSizeFormula)) {
    const Value size = ValorANumero(context.EvaluarFormula(Value(cFontSizeFormula)));
    s.tamano = size.Double() > 1.0 ? size : Value(1);
  }
  s.alturaSuprimida = AlturaSuprimida(blanks);

  const Value opacidadTexto = NormalizarOpacity(nTextOpacity);
  const Value alineacionVertical(NormalizarTextVerticalAlign(Value(cTextVerticalAlign)));
  auto emitAll = [&](auto& emit) {
    EmitHead(emit, cId, nLeft, nTop, nWidth, nHeight, contenido.cTexto, Value(cText));
    EmitErrors(emit, contenido.lError, contenido.cError);
    EmitStyle(emit, *this, s, opacidadTexto, alineacionVertical);
  };

  if (const Map* skeleton = hRenderSkeleton_.MapPtr()) {
    Ref<Map> copy = MakeRef<Map>(*skeleton);
    OverwriteKeys emit{*copy};
    emitAll(emit);
    return Value(copy);
  }
  Value map = Value::NewMap();
  // One slot more than a text needs: a formatted text appends its runs.
  map.AsMap().Reserve(kRenderKeys + 1);
  AppendKeys emit{map.AsMap()};
  emitAll(emit);
  // Later renderings copy the keys instead of hashing and allocating them again.
  Ref<Map> skeleton = MakeRef<Map>(map.AsMap());
  for (Map::Entry e : *skeleton) e.value = Value();
  hRenderSkeleton_ = Value(skeleton);
  return map;
}

bool TText::CanUseStaticRenderPrototype() const {
  // Asked once per cell render; the answer changes only with a new Load.
  if (nPrototipoUsable_ < 0) nPrototipoUsable_ = DecideStaticRenderPrototype() ? 1 : 0;
  return nPrototipoUsable_ == 1;
}

bool TText::DecideStaticRenderPrototype() const {
  const auto* parent = dynamic_cast<const TObjectBase*>(oParent);
  if (!parent || !parent->cType.IsText() || parent->cType.Str() != "TTable") return false;
  return IsBlankText(cTextColorFormula) && IsBlankText(cFontSizeFormula) &&
         IsBlankFormula(cBackgroundColorFormula) && IsBlankFormula(cBorderColorFormula) &&
         IsBlankFormula(cShadowColorFormula) && IsBlankText(cFontBoldFormula) &&
         IsBlankText(cFontItalicFormula) && IsBlankText(cFontUnderlineFormula) &&
         IsBlankText(cFontStrikeoutFormula);
}

Value TText::BuildStaticRenderPrototype(TContextoEjecucion& context) {
  // The style formulas are blank, so no colour below reaches the context.
  StyleValues s;
  s.tamano = nFontSize;
  s.color =
      NormalizarTextColor(Value(EvaluarColor(context, Value(""), Value(cTextColor), Value(true))));
  s.fondo = EvaluarColor(context, Value(""), cBackgroundColor);
  s.borde = EvaluarColor(context, Value(""), cBorderColor);
  s.sombra = EvaluarColor(context, Value(""), cShadowColor);
  s.negrita = lFontBold;
  s.cursiva = lFontItalic;
  s.subrayado = lFontUnderline;
  s.tachado = lFontStrikeout;
  s.padding = PaddingRenderizable();
  s.alturaSuprimida = Value(0);

  Value map = Value::NewMap();
  Map& out = map.AsMap();
  out.Reserve(kRenderKeys);
  AppendKeys emit{out};
  const Value zero(0);
  EmitHead(emit, Value(""), zero, zero, zero, zero, Value(""), Value(""));
  EmitStyle(emit, *this, s, NormalizarOpacity(nTextOpacity),
            Value(NormalizarTextVerticalAlign(Value(cTextVerticalAlign))));
  for (size_t pos : {kProtoOrdenOriginal, kProtoCapa, kProtoZIndex}) out.ValueAt(pos) = zero;
  // The error keys come last in this order; kept here so that a rendering
  // copies one map of the final size and only overwrites values.
  EmitErrors(emit, false, Value(""));
  return map;
}

void TText::ApplyDynamicRenderValues(Map& map, const Contenido& contenido, int64_t blanks,
                                     bool porPosicion) const {
  auto put = [&](size_t pos, std::string_view key, const Value& v) {
    if (porPosicion) {
      map.ValueAt(pos) = v;
    } else {
      map.Set(key, v);
    }
  };
  put(kProtoId, "id", cId);
  put(kProtoX, "x", nLeft);
  put(kProtoY, "y", nTop);
  put(kProtoAncho, "ancho", nWidth);
  put(kProtoAlto, "alto", nHeight);
  put(kProtoTexto, "texto", contenido.cTexto);
  // The formula is shared with the prototype while it holds the same bytes.
  const Value& formula = porPosicion ? map.ValueAt(kProtoFormula) : map.Get("formula");
  if (!formula.SameRef(uTextFormulaText) && !(formula.IsText() && formula.Str() == cText))
    put(kProtoFormula, "formula", Value(cText));
  put(kProtoAlturaSuprimida, "alturaSuprimidaFlujoTexto", AlturaSuprimida(blanks));
  put(kProtoOrdenOriginal, "ordenOriginal", nZIndex);
  put(kProtoCapa, "capa", nZIndex);
  put(kProtoZIndex, "zIndex", nZIndex);
  put(kProtoFormulaError, "formulaError", Value(contenido.lError));
  put(kProtoFormulaErrorMessage, "formulaErrorMessage", contenido.cError);
}

Value TText::RenderizableDesdePrototipo(TContextoEjecucion& context, const Contenido& contenido,
                                        int64_t blanks) {
  if (!hStaticRenderPrototype.IsMap()) {
    hStaticRenderPrototype = context.CompartirClaves(BuildStaticRenderPrototype(context));
    // The first copy keeps this rendering's formula text for the next ones:
    // the very text the plan was made for, so it is known again by identity.
    hStaticRenderPrototype.AsMap().ValueAt(kProtoFormula) =
        uTextFormulaText.IsText() && uTextFormulaText.Str() == cText ? uTextFormulaText
                                                                     : Value(cText);
    nVersionPrototipo_ = hStaticRenderPrototype.AsMap().KeyVersion();
  }
  const Map& prototipo = hStaticRenderPrototype.AsMap();
  Ref<Map> copy = MakeRef<Map>(prototipo);
  // The prototype's values are scalars unless a template put a list or a map
  // under a base key: only those are cloned.
  for (size_t i = 0; i < copy->size(); ++i) {
    Value& v = copy->ValueAt(i);
    if (v.IsList() || v.IsMap()) v = DeepClone(v);
  }
  // Keys changed from outside (the member is public) are found by name.
  ApplyDynamicRenderValues(*copy, contenido, blanks, prototipo.KeyVersion() == nVersionPrototipo_);
  return Value(copy);
}

// ---------------------------------------------------------------------------
// Blank paragraphs

Value TText::TextoMostrado(const Value& value, bool trimSpaces, bool keepEmptyParagraphs) {
  Value text = value.IsText() ? value : Value(ValorAString(value));
  if (trimSpaces) text = Recortado(text);
  return SinParrafosVacios(text, keepEmptyParagraphs);
}

Value TText::Recortado(const Value& text) {
  const std::string_view whole = text.Str();
  const std::string_view trimmed = AllTrim(whole);
  return trimmed.size() != whole.size() ? Value(trimmed) : text;
}

Value TText::NormalizarParrafosVacios(const Value& text) const {
  return SinParrafosVacios(text, lKeepEmptyParagraphs);
}

Value TText::SinParrafosVacios(const Value& text, bool keep) {
  if (keep) return text;
  const std::string_view whole = text.Str();
  std::string out;
  out.reserve(whole.size());
  bool changed = false;
  size_t kept = 0;
  ForEachParagraph(whole, [&](std::string_view piece) {
    if (IsBlankParagraph(piece)) {
      changed = true;
      return;
    }
    if (kept++ > 0) out.push_back('\n');
    out.append(piece);
  });
  // Only LF line ends and no blank piece: the text is already in its form. A
  // lone CR keeps the length when it becomes LF, so the length cannot tell.
  if (!changed && whole.find('\r') == std::string_view::npos) return text;
  return Value(out);
}

int64_t TText::ContarParrafosVacios(std::string_view text) {
  int64_t count = 0;
  ForEachParagraph(text, [&](std::string_view piece) {
    if (IsBlankParagraph(piece)) ++count;
  });
  return count;
}

// ---------------------------------------------------------------------------
// Normalisers and key lookup

bool TText::HashHasKey(const Value& map, std::string_view key) {
  return FindTolerant(map, key) != nullptr;
}

Value TText::HashGet(const Value& map, std::string_view key, const Value& def) {
  const Value* v = FindTolerant(map, key);
  return v ? *v : def;
}

bool TText::EsHex6(std::string_view s) {
  return HexDigitsAfterHash(s, 7);
}

bool TText::EsHex3(std::string_view s) {
  return HexDigitsAfterHash(s, 4);
}

bool TText::EsHex8Transparente(std::string_view s) {
  return s.size() == 9 && s.substr(7) == "00" && EsHex6(s.substr(0, 7));
}

bool TText::EsRgbaTransparente(std::string_view s) {
  if (!s.starts_with("rgba(") || !s.ends_with(")")) return false;
  const size_t comma = s.rfind(',');
  if (comma == std::string_view::npos) return false;
  const std::string_view alpha = AllTrim(s.substr(comma + 1, s.size() - comma - 2));
  return alpha == "0" || alpha == "0.0" || alpha == ".0" || alpha == "0.00" || alpha == ".00";
}

std::string TText::NormalizarTextColor(const Value& value) {
  const std::string color = Lower(AllTrim(ValorAString(value)));
  // The text colour never becomes transparent.
  if (color.empty() || color == "transparent" || EsHex8Transparente(color) ||
      EsRgbaTransparente(color))
    return "#000000";
  if (EsHex6(color)) return color;
  if (EsHex3(color)) return {'#', color[1], color[1], color[2], color[2], color[3], color[3]};
  return "#000000";
}

std::string TText::NormalizarTextVerticalAlign(const Value& value) {
  const std::string align = Lower(AllTrim(ValorAString(value)));
  if (align == "bottom" || align == "inferior") return "bottom";
  if (align == "center" || align == "middle" || align == "centro") return "center";
  return "top";
}

std::string TText::NormalizarTextFitMode(const Value& value, bool wrap) {
  std::string mode = Lower(AllTrim(ValorAString(value)));
  if (mode == "truncate" || mode == "wrap" || mode == "shrink" || mode == "condense") return mode;
  return wrap ? "wrap" : "truncate";
}

Value TText::NormalizarOpacity(const Value& value) {
  Value n;
  if (value.IsText()) {
    n = ReadNumber(ReplaceAll(value.Str(), ",", "."));
  } else if (value.IsNumber()) {
    n = value;
  } else {
    n = ReadNumber(ValorAString(value));
  }
  if (n.Double() < 0.0) return Value::Real(0.0, 1);
  if (n.Double() > 1.0) return Value::Real(1.0, 1);
  return n;
}

}  // namespace kx
