#include "TTable.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <vector>

#include "Platform.h"
#include "TBarcode.h"
#include "TContextoEjecucion.h"
#include "TImage.h"
#include "TRichText.h"
#include "TText.h"

namespace kx {

namespace {

// Every comparison of positions in the layout (fitting, adjacency, "at body start").
constexpr double kToleranciaMm = 0.25;
// Column fitting is finer than the layout.
constexpr double kToleranciaColumnas = 0.01;
constexpr double kCorreccionMinima = 1e-06;
// Heights are sums of the same lines added in different orders: two checks of one height must
// not disagree by the last bits of a double.
constexpr double kRuidoMm = 1e-07;
// The body of a content-height table has no limit.
constexpr double kSinLimite = 1000000000.0;

// ---- Value functions shared by the table

bool HHas(const Value& m, std::string_view key) {
  return m.IsMap() && m.AsMap().Has(key);
}

Value AsHash(const Value& v) {
  return v.IsMap() ? v : Value::NewMap();
}

// A flag that is false only for the logical false.
bool SalvoFalso(const Value& v) {
  return !(v.IsLogical() && !v.Bool());
}

// A flag that is true only for the logical true.
bool SoloVerdadero(const Value& v) {
  return v.IsLogical() && v.Bool();
}

Value TextoO(const Value& v, std::string_view def) {
  return v.IsText() ? v : Value(def);
}

// The base's number reading: a logical reads as 0.
Value NumValue(const Value& v) {
  if (v.IsLogical()) return Value(0);
  return ValueNumber(v);
}

double NumDouble(const Value& v) {
  return NumValue(v).Double();
}

std::string StringValue(const Value& v) {
  return ValueString(v);
}

bool ISHEXCOLOR6(const Value& v) {
  if (!v.IsText()) return false;
  std::string_view s = v.Str();
  if (s.size() != 7 || s[0] != '#') return false;
  for (size_t i = 1; i < 7; ++i) {
    const char c = s[i];
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) return false;
  }
  return true;
}

// The larger of the bound and the number; the bound itself (as written) when it wins.
Value NoMenorQue(const Value& n, const Value& cota) {
  return n.Double() >= cota.Double() ? n : cota;
}

// The numeric value of the key (the default when absent), at least the bound.
Value NumeroMinimo(const Value& m, std::string_view key, const Value& def, const Value& cota) {
  const Value n = HHas(m, key) ? NumValue(m.Get(key)) : def;
  return NoMenorQue(n, cota);
}

// The numeric value of the key (the default when absent) clamped to lo..hi.
Value NumeroEntre(const Value& m, std::string_view key, const Value& def, const Value& lo,
                  const Value& hi) {
  const Value n = HHas(m, key) ? NumValue(m.Get(key)) : def;
  if (n.Double() < lo.Double()) return lo;
  if (n.Double() > hi.Double()) return hi;
  return n;
}

double Entre(double v, double lo, double hi) {
  return std::min(hi, std::max(lo, v));
}

// A text unchanged; any other value: its expression text trimmed, "NIL" giving "", one pair of
// surrounding double quotes removed.
std::string NormalizeHashKeyName(const Value& v) {
  if (v.IsText()) return std::string(v.Str());
  std::string s(AllTrim(ExprText(v)));
  if (s == "NIL") return "";
  if (s.size() >= 2 && s.front() == '"' && s.back() == '"') s = s.substr(1, s.size() - 2);
  return s;
}

// A deep copy of the first map, then every key of the second and of the third assigned in turn.
Value MergeHashes(const Value& a, const Value& b, const Value& c) {
  Value out = a.IsMap() ? DeepClone(a) : Value::NewMap();
  for (const Value* extra : {&b, &c}) {
    if (const Map* m = extra->MapPtr())
      for (const Map::Entry& e : *m) out.AsMap().SetKey(e.key, e.value);
  }
  return out;
}

// A number's text without decimals when integral.
std::string Entero(int64_t n) {
  return PlainText(Value(n));
}

// A hex colour in lower case, or "" when the text is not one.
std::string HexMinusculas(const Value& v) {
  const Value t(AllTrim(StringValue(v)));
  return ISHEXCOLOR6(t) ? Lower(t.Str()) : std::string();
}

}  // namespace

// ---------------------------------------------------------------------------
// Lifecycle

TTable::TTable(TReportNode* parent) : TRectangle(parent) {
  TTable::Init(parent);
}

TTable::~TTable() {
  ClearCellObjectCache();
}

TTable& TTable::Init(TReportNode* parent) {
  TRectangle::Init(parent);
  cName = Value("Tabla");
  cType = Value("TTable");
  nWidth = Value(80);
  nHeight = Value(45);
  cBackgroundColor = Value("#f8fafc");
  ClearCellObjectCache();
  hHeader = Value::NewMap();
  hSections = Value::NewMap();
  hGroup = Value::NewMap();
  cPageBreakCondition.clear();
  lFixedSeparators = false;
  lFooterOnBottom = true;
  cHeightMode = "fixed";
  hCellObjectCache = Value::NewMap();
  hCellRenderCache = Value::NewMap();
  hNormalizedSectionsCache = Value();
  hPerformanceDiagnostics = Value::NewMap();
  oPlano_.reset();
  return *this;
}

TTable& TTable::Create() {
  TRectangle::Create();
  NormalizeHeader();
  return *this;
}

void TTable::End() {
  ClearCellObjectCache();
  hCellRenderCache = Value::NewMap();
  hNormalizedSectionsCache = Value();
  hPerformanceDiagnostics = Value::NewMap();
  oPlano_.reset();
  oParent = nullptr;
}

Value TTable::Save() {
  Value out = TObjectBase::Save();
  Map& m = out.AsMap();
  m.Set("hSections", NormalizeSections());
  m.Set("cPageBreakCondition", Value(cPageBreakCondition));
  m.Set("lFixedSeparators", Value(lFixedSeparators));
  m.Set("lFooterOnBottom", Value(lFooterOnBottom));
  m.Set("cHeightMode", Value(cHeightMode == "content" ? "content" : "fixed"));
  m.Set("hHeader", hHeader);
  m.Set("hGroup", NormalizeGroupSettings(hGroup));
  return out;
}

TTable& TTable::Load(const Value& map) {
  ClearCellObjectCache();
  hNormalizedSectionsCache = Value();
  oPlano_.reset();
  TObjectBase::Load(map);
  if (map.IsMap()) {
    const Value& condicion = map.Get("cPageBreakCondition");
    cPageBreakCondition = condicion.IsText() ? std::string(condicion.Str()) : "";
    lFixedSeparators = SoloVerdadero(map.Get("lFixedSeparators"));
    lFooterOnBottom = SalvoFalso(map.Get("lFooterOnBottom"));
    cHeightMode =
        Lower(AllTrim(StringValue(map.Get("cHeightMode")))) == "content" ? "content" : "fixed";
    // The table works on the template's own sections map, not a copy.
    hSections = map.Get("hSections").IsMap() ? map.Get("hSections") : Value::NewMap();
    const Value& cabecera = hSections.Get("header");
    if (cabecera.IsMap()) {
      hHeader = cabecera;
    } else if (map.Get("hHeader").IsMap()) {
      // The older header key: the template then shows the header in its sections too.
      hHeader = map.Get("hHeader");
      hSections.Set("header", hHeader);
    } else {
      hHeader = Value::NewMap();
    }
    hGroup = NormalizeGroupSettings(map.Get("hGroup"));
  }
  hNormalizedSectionsCache = NormalizeSections();
  return *this;
}

Value TTable::GetPerformanceDiagnostics() {
  return DeepClone(hPerformanceDiagnostics);
}

void TTable::ClearCellObjectCache() {
  if (const Map* objetos = hCellObjectCache.MapPtr()) {
    for (const Map::Entry& e : *objetos)
      if (TObjectBase* objeto = e.value.As<TObjectBase>()) objeto->End();
  }
  hCellObjectCache = Value::NewMap();
}

// ---------------------------------------------------------------------------
// Normalisation

std::string TTable::SectionKeyFromDefaultName(std::string_view name) {
  if (name == "Linea principal") return "detail";
  if (name == "Pie") return "footer";
  if (name == "Cabecera grupo") return "groupHeader";
  if (name == "Pie grupo") return "groupFooter";
  return "header";
}

Value TTable::DefaultHeaderLineBackground() {
  return NormalizeHeaderLineBackground(Value());
}

Value TTable::DefaultHeaderCellBackground() {
  return DefaultHeaderLineBackground();
}

Value TTable::DefaultHeaderLineBorder(bool verticalSeparators) {
  return NormalizeHeaderLineBorder(Value(), verticalSeparators);
}

Value TTable::DefaultHeaderLinePadding() {
  return NormalizeHeaderLinePadding(Value());
}

Value TTable::DefaultLineReservedSpace() {
  return NormalizeLineReservedSpace(Value());
}

Value TTable::DefaultHeaderCell(const Value& width) {
  return NormalizeHeaderCell(Value(), width);
}

Value TTable::NormalizeHeaderLineBackground(const Value& background) {
  const Value b = AsHash(background);
  return Value::NewMap({
      {"cColor", TextoO(b.Get("cColor"), "")},
      {"cColorFormula", TextoO(b.Get("cColorFormula"), "")},
      {"cFillStyle", TextoO(b.Get("cFillStyle"), "solid")},
      {"cFillColor2", TextoO(b.Get("cFillColor2"), "#ffffff")},
      {"cFillColor3", TextoO(b.Get("cFillColor3"), "#ffffff")},
      {"nFillOpacity", NumeroEntre(b, "nFillOpacity", Value(1), Value(0), Value(1))},
  });
}

Value TTable::NormalizeHeaderCellBackground(const Value& background) {
  return NormalizeHeaderLineBackground(background);
}

Value TTable::NormalizeHeaderLineBorder(const Value& border, bool showGrid) {
  const Value b = AsHash(border);
  const bool separadores =
      HHas(b, "lVerticalSeparators") ? SalvoFalso(b.Get("lVerticalSeparators")) : showGrid;
  return Value::NewMap({
      {"lTop", SalvoFalso(b.Get("lTop"))},
      {"lBottom", SalvoFalso(b.Get("lBottom"))},
      {"lLeft", SalvoFalso(b.Get("lLeft"))},
      {"lRight", SalvoFalso(b.Get("lRight"))},
      {"lVerticalSeparators", separadores},
      {"cColor", TextoO(b.Get("cColor"), "")},
      {"cColorFormula", TextoO(b.Get("cColorFormula"), "")},
      {"nWidth", NumeroMinimo(b, "nWidth", Value(0), Value(0))},
      {"nRounded", NumeroEntre(b, "nRounded", Value(0), Value(0), Value(100))},
  });
}

Value TTable::NormalizeHeaderLinePadding(const Value& padding) {
  const Value p = AsHash(padding);
  return Value::NewMap({
      {"nTop", NumeroMinimo(p, "nTop", Value(0), Value(0))},
      {"nRight", NumeroMinimo(p, "nRight", Value(0), Value(0))},
      {"nBottom", NumeroMinimo(p, "nBottom", Value(0), Value(0))},
      {"nLeft", NumeroMinimo(p, "nLeft", Value(0), Value(0))},
  });
}

Value TTable::NormalizeLineReservedSpace(const Value& reserved) {
  return NormalizeHeaderLinePadding(reserved);
}

Value TTable::NormalizeZebraPattern(const Value& zebra) {
  const Value z = AsHash(zebra);
  auto color = [&](std::string_view key, std::string_view def) {
    const Value& c = z.Get(key);
    return ISHEXCOLOR6(c) ? Value(Lower(c.Str())) : Value(def);
  };
  const Value patron = IntPart(HHas(z, "nPattern") ? NumValue(z.Get("nPattern")) : Value(0));
  return Value::NewMap({
      {"lEnabled", SoloVerdadero(z.Get("lEnabled"))},
      {"nPattern", NoMenorQue(patron, Value(0))},
      {"cColor1", color("cColor1", "#ffffff")},
      {"cColor2", color("cColor2", "#f3f4f6")},
      {"nColor1Opacity", NumeroEntre(z, "nColor1Opacity", Value(1), Value(0), Value(1))},
      {"nColor2Opacity", NumeroEntre(z, "nColor2Opacity", Value(1), Value(0), Value(1))},
  });
}

Value TTable::NormalizeHeaderCellContent(const Value& content) {
  if (!content.IsMap()) return Value();
  const Value& tipo = content.Get("cType");
  const Value& objeto = content.Get("hObject");
  if (!tipo.IsText() || !objeto.IsMap()) return Value();
  const std::string_view t = tipo.Str();
  if (t != "TText" && t != "richText" && t != "TBarcode" && t != "TImage") return Value();
  // The template's own object map: the table copies it only when it builds the cell object.
  return Value::NewMap({{"cType", tipo}, {"hObject", objeto}});
}

Value TTable::NormalizeHeaderCell(const Value& cell, const Value& width) {
  const Value c = AsHash(cell);
  const Value borde = AsHash(c.Get("hBorder"));
  Value border = Value::NewMap({
      {"lTop", SalvoFalso(borde.Get("lTop"))},
      {"lRight", SalvoFalso(borde.Get("lRight"))},
      {"lBottom", SalvoFalso(borde.Get("lBottom"))},
      {"lLeft", SalvoFalso(borde.Get("lLeft"))},
      {"cColor", TextoO(borde.Get("cColor"), "")},
      {"nWidth", NumeroMinimo(borde, "nWidth", Value(0), Value(0))},
  });
  return Value::NewMap({
      {"nWidth", width},
      {"hContent", NormalizeHeaderCellContent(c.Get("hContent"))},
      {"hBackground", NormalizeHeaderCellBackground(c.Get("hBackground"))},
      {"hBorder", border},
  });
}

Value TTable::NormalizeLineAdvancedOptions(const Value& line, std::string_view sectionKey) {
  const Value l = AsHash(line);
  const bool detalle = sectionKey == "detail";
  const bool cabeceraGrupo = sectionKey == "groupHeader";
  const bool pieGrupo = sectionKey == "groupFooter";
  const bool grupo = cabeceraGrupo || pieGrupo;

  Value out = Value::NewMap();
  Map& m = out.AsMap();
  m.Append(KeyText("lKeepTogether"), Value(SalvoFalso(l.Get("lKeepTogether"))));
  m.Append(KeyText("lIgnoreEmpty"), Value(SoloVerdadero(l.Get("lIgnoreEmpty"))));
  m.Append(KeyText("lPageBreakBefore"), Value(SoloVerdadero(l.Get("lPageBreakBefore"))));
  m.Append(KeyText("cSuppressCondition"), TextoO(l.Get("cSuppressCondition"), ""));
  if (detalle || sectionKey == "footer" || pieGrupo)
    m.Append(KeyText("lPageBreakAfter"), Value(SoloVerdadero(l.Get("lPageBreakAfter"))));
  if (grupo) {
    m.Append(KeyText("cGroupExpression"), TextoO(l.Get("cGroupExpression"), ""));
    // A group footer stays with what precedes it unless its line says otherwise.
    const Value& conAnterior = l.Get("lKeepWithPrevious");
    m.Append(KeyText("lKeepWithPrevious"),
             Value(pieGrupo ? (conAnterior.IsLogical() ? conAnterior.Bool() : true)
                            : SoloVerdadero(conAnterior)));
    Value resets = Value::NewList();
    if (const List* lista = l.Get("aResetAcumuladores").ListPtr())
      for (const Value& e : *lista)
        if (e.IsText()) resets.Push(e);
    m.Append(KeyText("aResetAcumuladores"), resets);
  }
  if (cabeceraGrupo)
    m.Append(KeyText("lRepeatAsHeader"), Value(SoloVerdadero(l.Get("lRepeatAsHeader"))));
  if (detalle) {
    m.Append(KeyText("lForceAccumulators"), Value(SoloVerdadero(l.Get("lForceAccumulators"))));
    m.Append(KeyText("hZebraPattern"), NormalizeZebraPattern(l.Get("hZebraPattern")));
  }
  return out;
}

Value TTable::NormalizeGroupSettings(const Value& group) {
  const Value g = AsHash(group);
  const Value corte = TextoO(g.Get("cBreakExpression"), "");
  Value expresiones = Value::NewList();
  List& lista = expresiones.AsList();
  auto presente = [&](std::string_view s) {
    for (const Value& e : lista)
      if (e.Str() == s) return true;
    return false;
  };
  if (const List* entrada = g.Get("aBreakExpressions").ListPtr()) {
    for (const Value& e : *entrada)
      if (e.IsText() && !IsBlank(e.Str()) && !presente(e.Str())) lista.Add(e);
  }
  if (!IsBlank(corte.Str()) && !presente(corte.Str()))
    lista.Items().insert(lista.Items().begin(), corte);
  return Value::NewMap({
      {"cBreakExpression", corte},
      {"aBreakExpressions", expresiones},
      {"lSkipEmptyValues", SoloVerdadero(g.Get("lSkipEmptyValues"))},
  });
}

void TTable::MigrateSectionPageBreakCondition(const Value& sections) {
  if (!AllTrim(cPageBreakCondition).empty()) return;
  for (std::string_view key : {"header", "groupHeader", "groupFooter", "detail", "footer"}) {
    const List* lineas = HGet(sections, key).Get("aLines").ListPtr();
    if (!lineas) continue;
    for (const Value& linea : *lineas) {
      const Value& c = HGet(linea, "cPageBreakCondition");
      if (c.IsText() && !IsBlank(c.Str())) {
        cPageBreakCondition = std::string(AllTrim(c.Str()));
        return;
      }
    }
  }
}

Value TTable::NormalizeLines(const Value& lines, std::string_view sectionKey, bool showGrid) {
  Value out = Value::NewList();
  const List* entrada = lines.ListPtr();
  if (!entrada) return out;
  const Value anchoTabla = NumValue(nWidth);
  int64_t posicion = 0;
  for (const Value& elemento : *entrada) {
    ++posicion;
    const Value linea = AsHash(elemento);
    Value celdas = linea.Get("aCells");
    if (!celdas.IsList() || celdas.Len() == 0)
      celdas = Value::NewList({Value::NewMap({{"nWidth", nWidth}})});
    const Value relleno = NormalizeHeaderLinePadding(linea.Get("hPadding"));
    const Value reservado = NormalizeLineReservedSpace(linea.Get("hReservedSpace"));

    Value disponible =
        Sub(Sub(Sub(Sub(anchoTabla, reservado.Get("nLeft")), reservado.Get("nRight")),
                relleno.Get("nLeft")),
            relleno.Get("nRight"));
    disponible = NoMenorQue(disponible, Value::Real(MinColumnWidth(), 1));

    std::vector<Value> anchos;
    Value suma(0);
    for (const Value& celda : celdas.AsList()) {
      const Value n = NumValue(HGet(celda, "nWidth"));
      const Value ancho =
          n.Double() > 0.0 ? NoMenorQue(n, Value::Real(0.1, 1)) : Value::Real(5.0, 1);
      anchos.push_back(ancho);
      suma = Add(suma, ancho);
    }
    // Too wide rows shrink to the table; rows within the tolerance are made exact; narrower
    // rows are left as designed.
    bool ajustar = std::fabs(suma.Double() - disponible.Double()) <= kToleranciaColumnas;
    if (suma.Double() > disponible.Double() + kToleranciaColumnas) {
      Value nuevaSuma(0);
      for (Value& ancho : anchos) {
        ancho = Round(Value(ancho.Double() * disponible.Double() / suma.Double()), 1);
        nuevaSuma = Add(nuevaSuma, ancho);
      }
      suma = nuevaSuma;
      ajustar = true;
    }
    if (ajustar && !anchos.empty()) {
      const Value diferencia = Sub(disponible, suma);
      if (std::fabs(diferencia.Double()) > kCorreccionMinima) {
        Value ultimo = Add(anchos.back(), diferencia);
        if (ultimo.IsReal()) ultimo = Round(ultimo, ultimo.Decimals());
        anchos.back() = NoMenorQue(ultimo, Value::Real(0.1, 1));
      }
    }
    Value normalizadas = Value::NewList();
    size_t k = 0;
    for (const Value& celda : celdas.AsList())
      normalizadas.Push(NormalizeHeaderCell(celda, anchos[k++]));

    const Value nombre = HHas(linea, "cName") ? Value(StringValue(linea.Get("cName")))
                                              : Value("Cabecera " + Entero(posicion));
    Value primero = Value::NewMap({
        {"cName", nombre},
        {"nHeight", NumeroMinimo(linea, "nHeight", Value(8), Value::Real(1.0, 1))},
        {"cConditionFormula", TextoO(linea.Get("cConditionFormula"), "")},
    });
    Value ultimo = Value::NewMap({
        {"hBackground", NormalizeHeaderLineBackground(linea.Get("hBackground"))},
        {"hBorder", NormalizeHeaderLineBorder(linea.Get("hBorder"), showGrid)},
        {"hPadding", relleno},
        {"hReservedSpace", reservado},
        {"aCells", normalizadas},
    });
    out.Push(MergeHashes(primero, NormalizeLineAdvancedOptions(linea, sectionKey), ultimo));
  }
  return out;
}

Value TTable::NormalizeHeader() {
  const Value seccion = AsHash(hHeader);
  const Value& clave = seccion.Get("cSectionKey");
  const std::string key = clave.IsText() ? std::string(clave.Str()) : "header";
  hHeader = Value::NewMap({{"aLines", NormalizeLines(seccion.Get("aLines"), key,
                                                     SalvoFalso(seccion.Get("lShowGrid")))}});
  return hHeader;
}

Value TTable::NormalizeSection(const Value& section, std::string_view defaultName,
                               bool createDefault) {
  (void)createDefault;  // always false: an empty section stays empty
  const Value seccion = AsHash(section);
  const std::string key = SectionKeyFromDefaultName(defaultName);
  Value out = Value::NewMap({{"aLines", NormalizeLines(seccion.Get("aLines"), key,
                                                       SalvoFalso(seccion.Get("lShowGrid")))}});
  if (key == "groupHeader")
    out.Set("lConcatNextDataLine", Value(SoloVerdadero(seccion.Get("lConcatNextDataLine"))));
  if (key == "groupFooter")
    out.Set("lAlsoOnEmptyGroup", Value(SoloVerdadero(seccion.Get("lAlsoOnEmptyGroup"))));
  return out;
}

Value TTable::NormalizeSections() {
  MigrateSectionPageBreakCondition(hSections);
  const Value secciones = AsHash(hSections);
  const Value& cabecera = secciones.Get("header");
  if (cabecera.IsMap()) hHeader = cabecera;
  NormalizeHeader();

  Value out = Value::NewMap();
  Map& m = out.AsMap();
  m.Append(KeyText("header"), hHeader);
  m.Append(KeyText("detail"), NormalizeSection(secciones.Get("detail"), "Linea principal"));
  m.Append(KeyText("footer"), NormalizeSection(secciones.Get("footer"), "Pie"));
  m.Append(KeyText("groupHeader"),
           NormalizeSection(secciones.Get("groupHeader"), "Cabecera grupo"));
  m.Append(KeyText("groupFooter"), NormalizeSection(secciones.Get("groupFooter"), "Pie grupo"));
  hSections = out;
  hGroup = NormalizeGroupSettings(hGroup);
  return out;
}

// ---------------------------------------------------------------------------
// The compiled sections: every value the renderer reads per record, taken once from the
// normalised maps.

namespace {

// Sections as the renderer names them; the repeated group header prints the group header's
// lines with cell objects of its own.
enum Seccion : int {
  kHeader = 0,
  kDetail,
  kFooter,
  kGroupHeader,
  kGroupFooter,
  kGroupHeaderRepeat,
};
constexpr int kSeccionesPlano = 5;
constexpr int kSeccionesRender = 6;
constexpr std::string_view kNombreSeccion[kSeccionesRender] = {
    "header", "detail", "footer", "groupHeader", "groupFooter", "groupHeaderRepeat"};

int SeccionDePlano(int seccion) {
  return seccion == kGroupHeaderRepeat ? kGroupHeader : seccion;
}

// A side of a border map: missing counts as on, any value but the logical true as off.
bool Lado(const Value& borde, std::string_view key) {
  const Value* v = borde.IsMap() ? borde.AsMap().Find(key) : nullptr;
  return !v || SoloVerdadero(*v);
}

double Clock() {
  return platform::MillisecondClock();
}

}  // namespace

struct TTableCelda {
  Value hCelda;
  double nAncho = 1.0;       // the cell box ("nWidth", default 1)
  double nAnchoLinea = 0.0;  // its share of the line width: max(0, "nWidth")
  bool lBordeMapa = false;   // the cell has a border map
  bool lIzquierda = false;   // its border's "lLeft" is the logical true
  bool lDerecha = false;     // its border's "lRight" is the logical true
  Value hFondo;              // the cell's background map
  std::string cTipo;         // content kind, "" without content
  Value hObjeto;             // the content's template object
  std::string_view cSufijo;  // "text", "barcode" or "image"
  // The cell's content objects per section name, found or made on first use.
  mutable std::array<Ref<TObjectBase>, kSeccionesRender> aObjetos;
  mutable std::array<bool, kSeccionesRender> aBuscado{};
};

struct TTableLinea {
  int64_t nIndice = 0;
  Value hLinea;
  double nAlto = 8.0;          // "nHeight"
  double nAltura = 8.0;        // reserved top + height + reserved bottom
  double nAlturaAjuste = 8.0;  // the same with the height counted as at least 0
  double rTop = 0, rRight = 0, rBottom = 0, rLeft = 0;
  double pTop = 0, pRight = 0, pBottom = 0, pLeft = 0;
  std::string cCondicion;   // trimmed
  std::string cSupresion;   // trimmed
  bool lSeparable = false;  // "lKeepTogether" is the logical false
  bool lIgnoreEmpty = false;
  bool lPageBreakBefore = false;
  bool lPageBreakAfter = false;
  bool lKeepWithPrevious = false;
  bool lRepeatAsHeader = false;
  bool lForceAccumulators = false;
  std::string cExpresionGrupo;  // trimmed
  Value aResetAcumuladores;     // texts; nothing when there are none
  bool lZebra = false;
  Value cZebra1, cZebra2, nZebraOpacidad1, nZebraOpacidad2;
  Value hFondo;
  Value hBorde;
  bool bTop = true, bRight = true, bBottom = true, bLeft = true, bSeparadores = true;
  double nGrosor = 0.1;    // the border width drawn
  double nRedondeo = 0.0;  // the border's rounding percentage, 0..100
  std::vector<TTableCelda> aCeldas;
  double nAnchoCeldas = 0.0;  // sum of max(0, cell width)
};

struct TTablePlano {
  Value hFuente;  // the normalised sections this plan was built from
  std::array<std::vector<TTableLinea>, kSeccionesPlano> aLineas;
  bool lConcatNextDataLine = false;
  bool lAlsoOnEmptyGroup = false;
};

namespace {

TTableCelda CompilarCelda(const Value& celda) {
  TTableCelda c;
  c.hCelda = celda;
  const Value& ancho = HGet(celda, "nWidth");
  c.nAncho = HHas(celda, "nWidth") ? NumDouble(ancho) : 1.0;
  c.nAnchoLinea = std::max(0.0, NumDouble(ancho));
  const Value& borde = HGet(celda, "hBorder");
  c.lBordeMapa = borde.IsMap();
  c.lIzquierda = SoloVerdadero(HGet(borde, "lLeft"));
  c.lDerecha = SoloVerdadero(HGet(borde, "lRight"));
  c.hFondo = HGet(celda, "hBackground").IsMap() ? HGet(celda, "hBackground")
                                                : TTable::DefaultHeaderCellBackground();
  const Value& contenido = HGet(celda, "hContent");
  const Value& tipo = HGet(contenido, "cType");
  if (HGet(contenido, "hObject").IsMap() && tipo.IsText()) {
    const std::string_view t = tipo.Str();
    if (t == "TText" || t == "richText" || t == "TBarcode" || t == "TImage") {
      c.cTipo = std::string(t);
      c.hObjeto = HGet(contenido, "hObject");
      c.cSufijo = t == "TBarcode" ? "barcode" : t == "TImage" ? "image" : "text";
    }
  }
  return c;
}

TTableLinea CompilarLinea(const Value& linea, int64_t indice, double grosorTabla) {
  TTableLinea l;
  l.nIndice = indice;
  l.hLinea = linea;
  l.nAlto = HHas(linea, "nHeight") ? NumDouble(linea.Get("nHeight")) : 8.0;
  const Value& reservado = HGet(linea, "hReservedSpace");
  const Value& relleno = HGet(linea, "hPadding");
  auto medida = [](const Value& m, std::string_view key) {
    return std::max(0.0, NumDouble(HGet(m, key)));
  };
  l.rTop = medida(reservado, "nTop");
  l.rRight = medida(reservado, "nRight");
  l.rBottom = medida(reservado, "nBottom");
  l.rLeft = medida(reservado, "nLeft");
  l.pTop = medida(relleno, "nTop");
  l.pRight = medida(relleno, "nRight");
  l.pBottom = medida(relleno, "nBottom");
  l.pLeft = medida(relleno, "nLeft");
  l.nAltura = l.rTop + l.nAlto + l.rBottom;
  l.nAlturaAjuste = l.rTop + std::max(0.0, l.nAlto) + l.rBottom;
  l.cCondicion = std::string(AllTrim(StringValue(HGet(linea, "cConditionFormula"))));
  const Value& supresion = HGet(linea, "cSuppressCondition");
  l.cSupresion = supresion.IsText() ? std::string(AllTrim(supresion.Str())) : "";
  const Value& junto = HGet(linea, "lKeepTogether");
  l.lSeparable = junto.IsLogical() && !junto.Bool();
  l.lIgnoreEmpty = SoloVerdadero(HGet(linea, "lIgnoreEmpty"));
  l.lPageBreakBefore = SoloVerdadero(HGet(linea, "lPageBreakBefore"));
  l.lPageBreakAfter = SoloVerdadero(HGet(linea, "lPageBreakAfter"));
  l.lKeepWithPrevious = SoloVerdadero(HGet(linea, "lKeepWithPrevious"));
  l.lRepeatAsHeader = SoloVerdadero(HGet(linea, "lRepeatAsHeader"));
  l.lForceAccumulators = SoloVerdadero(HGet(linea, "lForceAccumulators"));
  l.cExpresionGrupo = std::string(AllTrim(StringValue(HGet(linea, "cGroupExpression"))));
  if (const List* resets = HGet(linea, "aResetAcumuladores").ListPtr()) {
    Value textos = Value::NewList();
    for (const Value& e : *resets)
      if (e.IsText()) textos.Push(e);
    if (textos.Len() > 0) l.aResetAcumuladores = textos;
  }
  const Value& zebra = HGet(linea, "hZebraPattern");
  l.lZebra = SoloVerdadero(HGet(zebra, "lEnabled"));
  if (l.lZebra) {
    l.cZebra1 = HGet(zebra, "cColor1");
    l.cZebra2 = HGet(zebra, "cColor2");
    l.nZebraOpacidad1 = NumeroEntre(zebra, "nColor1Opacity", Value(1), Value(0), Value(1));
    l.nZebraOpacidad2 = NumeroEntre(zebra, "nColor2Opacity", Value(1), Value(0), Value(1));
  }
  l.hFondo = HGet(linea, "hBackground").IsMap() ? HGet(linea, "hBackground")
                                                : TTable::DefaultHeaderLineBackground();
  l.hBorde =
      HGet(linea, "hBorder").IsMap() ? HGet(linea, "hBorder") : TTable::DefaultHeaderLineBorder();
  l.bTop = Lado(l.hBorde, "lTop");
  l.bRight = Lado(l.hBorde, "lRight");
  l.bBottom = Lado(l.hBorde, "lBottom");
  l.bLeft = Lado(l.hBorde, "lLeft");
  l.bSeparadores = Lado(l.hBorde, "lVerticalSeparators");
  l.nGrosor = HHas(l.hBorde, "nWidth") ? std::max(0.1, NumDouble(l.hBorde.Get("nWidth")))
                                       : std::max(0.1, grosorTabla);
  l.nRedondeo = Entre(NumDouble(HGet(l.hBorde, "nRounded")), 0.0, 100.0);
  if (const List* celdas = HGet(linea, "aCells").ListPtr()) {
    l.aCeldas.reserve(celdas->size());
    for (const Value& celda : *celdas) {
      l.aCeldas.push_back(CompilarCelda(celda));
      l.nAnchoCeldas += l.aCeldas.back().nAnchoLinea;
    }
  }
  return l;
}

std::unique_ptr<TTablePlano> CompilarPlano(const Value& secciones, double grosorTabla) {
  auto plano = std::make_unique<TTablePlano>();
  plano->hFuente = secciones;
  for (int s = 0; s < kSeccionesPlano; ++s) {
    const Value& seccion = HGet(secciones, kNombreSeccion[s]);
    const List* lineas = HGet(seccion, "aLines").ListPtr();
    if (!lineas) continue;
    int64_t indice = 0;
    for (const Value& linea : *lineas)
      plano->aLineas[s].push_back(CompilarLinea(AsHash(linea), indice++, grosorTabla));
  }
  plano->lConcatNextDataLine =
      SoloVerdadero(HGet(HGet(secciones, "groupHeader"), "lConcatNextDataLine"));
  plano->lAlsoOnEmptyGroup =
      SoloVerdadero(HGet(HGet(secciones, "groupFooter"), "lAlsoOnEmptyGroup"));
  return plano;
}

// ---- The rendered maps: each kind is copied from a prototype holding its keys in their order
// and its constant values; the renderer then fills the varying slots by position.

Value Prototipo(std::initializer_list<std::pair<std::string_view, Value>> claves) {
  return Value::NewMap(claves);
}

Value Copia(const Value& prototipo) {
  return Value(MakeRef<Map>(prototipo.AsMap()));
}

// Line rectangle: 28 keys.
enum : size_t {
  kLId,
  kLTipo,
  kLX,
  kLY,
  kLAncho,
  kLAlto,
  kLColorBorde,
  kLGrosorBorde,
  kLSuperior,
  kLDerecho,
  kLInferior,
  kLIzquierdo,
  kLColorFondo,
  kLEstilo,
  kLRelleno2,
  kLRelleno3,
  kLOpacidadRelleno,
  kLRedondeo,
  kLRedondeoMm,
  kLRotOriginal,
  kLRotacion,
  kLOpacidad,
  kLSombraTamano,
  kLSombraTransp,
  kLSombraColor,
  kLOrden,
  kLCapa,
  kLZ,
};
const Value& ProtoLinea() {
  static const Value v = Prototipo({
      {"id", ""},
      {"tipo", "rectangulo"},
      {"x", 0},
      {"y", 0},
      {"ancho", 0},
      {"alto", 0},
      {"colorBorde", ""},
      {"grosorBorde", 0},
      {"bordeSuperior", true},
      {"bordeDerecho", true},
      {"bordeInferior", true},
      {"bordeIzquierdo", true},
      {"colorFondo", ""},
      {"estiloRelleno", "solid"},
      {"colorRelleno2", "#ffffff"},
      {"colorRelleno3", "#ffffff"},
      {"opacidadRelleno", 1},
      {"redondeo", 0},
      {"redondeoMm", 0},
      {"rotacionOriginal", 0},
      {"rotacion", 0},
      {"opacidad", 1},
      {"sombraTamano", 0},
      {"sombraTransparencia", 50},
      {"sombraColor", "#000000"},
      {"ordenOriginal", 0},
      {"capa", 0},
      {"zIndex", 0},
  });
  return v;
}

// Cell background: 27 keys.
enum : size_t {
  kFId,
  kFTipo,
  kFX,
  kFY,
  kFAncho,
  kFAlto,
  kFColorBorde,
  kFGrosorBorde,
  kFSuperior,
  kFDerecho,
  kFInferior,
  kFIzquierdo,
  kFColorFondo,
  kFEstilo,
  kFRelleno2,
  kFRelleno3,
  kFOpacidadRelleno,
  kFRedondeo,
  kFRotOriginal,
  kFRotacion,
  kFOpacidad,
  kFSombraTamano,
  kFSombraTransp,
  kFSombraColor,
  kFOrden,
  kFCapa,
  kFZ,
};
const Value& ProtoFondoCelda() {
  static const Value v = Prototipo({
      {"id", ""},
      {"tipo", "rectangulo"},
      {"x", 0},
      {"y", 0},
      {"ancho", 0},
      {"alto", 0},
      {"colorBorde", "transparent"},
      {"grosorBorde", 0},
      {"bordeSuperior", false},
      {"bordeDerecho", false},
      {"bordeInferior", false},
      {"bordeIzquierdo", false},
      {"colorFondo", ""},
      {"estiloRelleno", "solid"},
      {"colorRelleno2", "#ffffff"},
      {"colorRelleno3", "#ffffff"},
      {"opacidadRelleno", 1},
      {"redondeo", 0},
      {"rotacionOriginal", 0},
      {"rotacion", 0},
      {"opacidad", 1},
      {"sombraTamano", 0},
      {"sombraTransparencia", 50},
      {"sombraColor", "#000000"},
      {"ordenOriginal", 0},
      {"capa", 0},
      {"zIndex", 0},
  });
  return v;
}

// Stroke: 27 keys.
enum : size_t {
  kTId,
  kTTipo,
  kTX,
  kTY,
  kTAncho,
  kTAlto,
  kTColor,
  kTGrosor,
  kTOrientacion,
  kTEstilo,
  kTColorBorde,
  kTGrosorBorde,
  kTSuperior,
  kTDerecho,
  kTInferior,
  kTIzquierdo,
  kTColorFondo,
  kTRedondeo,
  kTRotOriginal,
  kTRotacion,
  kTOpacidad,
  kTSombraTamano,
  kTSombraTransp,
  kTSombraColor,
  kTOrden,
  kTCapa,
  kTZ,
};
const Value& ProtoTrazo() {
  static const Value v = Prototipo({
      {"id", ""},
      {"tipo", "linea"},
      {"x", 0},
      {"y", 0},
      {"ancho", 0},
      {"alto", 0},
      {"color", ""},
      {"grosor", 0},
      {"orientacion", "vertical"},
      {"estilo", "solid"},
      {"colorBorde", ""},
      {"grosorBorde", 0},
      {"bordeSuperior", false},
      {"bordeDerecho", false},
      {"bordeInferior", false},
      {"bordeIzquierdo", false},
      {"colorFondo", ""},
      {"redondeo", 0},
      {"rotacionOriginal", 0},
      {"rotacion", 0},
      {"opacidad", 1},
      {"sombraTamano", 0},
      {"sombraTransparencia", 50},
      {"sombraColor", "#000000"},
      {"ordenOriginal", 0},
      {"capa", 0},
      {"zIndex", 0},
  });
  return v;
}

// Edges of the fixed separators: 23 keys.
enum : size_t {
  kEId,
  kETipo,
  kEX,
  kEY,
  kEAncho,
  kEAlto,
  kEColorBorde,
  kEGrosorBorde,
  kESuperior,
  kEDerecho,
  kEInferior,
  kEIzquierdo,
  kEColorFondo,
  kERedondeo,
  kERotOriginal,
  kERotacion,
  kEOpacidad,
  kESombraTamano,
  kESombraTransp,
  kESombraColor,
  kEOrden,
  kECapa,
  kEZ,
};
const Value& ProtoBordesFijos() {
  static const Value v = Prototipo({
      {"id", ""},
      {"tipo", "rectangulo"},
      {"x", 0},
      {"y", 0},
      {"ancho", 0},
      {"alto", 0},
      {"colorBorde", ""},
      {"grosorBorde", 0},
      {"bordeSuperior", false},
      {"bordeDerecho", false},
      {"bordeInferior", false},
      {"bordeIzquierdo", false},
      {"colorFondo", "transparent"},
      {"redondeo", 0},
      {"rotacionOriginal", 0},
      {"rotacion", 0},
      {"opacidad", 1},
      {"sombraTamano", 0},
      {"sombraTransparencia", 50},
      {"sombraColor", "#000000"},
      {"ordenOriginal", 0},
      {"capa", 0},
      {"zIndex", 0},
  });
  return v;
}

void Orden(Map& m, size_t desde, double z) {
  const Value zv(z);
  m.ValueAt(desde) = zv;
  m.ValueAt(desde + 1) = zv;
  m.ValueAt(desde + 2) = zv;
}

// The cell content objects the table can make, by their content kind.
Ref<TObjectBase> NuevoObjetoCelda(std::string_view tipo, TTable* tabla) {
  if (tipo == "TText") return MakeRef<TText>(tabla);
  if (tipo == "TImage") return MakeRef<TKXImage>(tabla);
  if (tipo == "richText") return MakeRef<TRichText>(tabla);
  if (tipo == "TBarcode") return MakeRef<TKXBarcode>(tabla);
  return nullptr;
}

}  // namespace

// ---------------------------------------------------------------------------
// One render: the working values of the page being built and the steps of the algorithm.

class TTableRender {
 public:
  TTableRender(TTable& tabla, TContextoEjecucion& contexto) : t(tabla), ctx(contexto) {}
  Value Ejecutar();
  // The data export's walk over the records (TTable::ExportRecords).
  void RecorrerExportacion(const Value& secciones,
                           const std::function<void(const std::vector<bool>&)>& fila);

 private:
  using Items = std::vector<const TTableLinea*>;

  // Group values of one record, in the order of the group expressions.
  struct Valores {
    std::vector<Value> aValores;
    std::string cFirma;
    bool lVacia = true;
  };
  struct EstadoGrupo {
    bool lElegible = false, lEnGrupo = false, lContinua = false, lEmpieza = false, lTermina = false;
    Value hAnterior, hSiguiente;  // maps, or nothing
    Valores vActual, vAnterior, vSiguiente;
  };
  // A rectangle of the output whose bottom border is drawn: the latest one of each position
  // and width, most recent last.
  struct BordeInferior {
    double x, ancho, fondo;
  };
  // What a record printed before its detail lines, to take it back when it prints none.
  struct Marca {
    size_t nSalida = 0;
    double y = 0.0;
    std::vector<BordeInferior> aBordes;
    std::vector<std::pair<std::string, Value>> aSumas;  // accumulators reset, previous values
    bool lActiva = false;
  };

  // ---- Setup and finish
  bool Preparar();
  void Terminar();
  void ResetPerformance();

  // ---- Records and the context protocol
  Value TablePreviewRecords();
  int64_t GlobalRecordIndex(int64_t i) const { return lGlobal ? i : nBaseOpciones + i; }
  const Value& Registro(int64_t i) const;
  bool PushRecordVariables(const Value& registro, int64_t i);
  void PopRecordVariables() { ctx.PopRegistroDetalle(); }
  void ResetLineAcumuladores(const Items& items);
  void AcumularDetalle();
  int64_t DetailContinuationOffset(int64_t i);
  void SetDetailContinuation(int64_t i, int64_t lineas);
  void ClearDetailContinuation() { ctx.ClearContinuacionTabla(Value(cId)); }
  void MarkRecordConsumed(int64_t i) {
    ctx.MarcarRegistroDetalleConsumido(Value(GlobalRecordIndex(i)));
  }

  // ---- Visibility, conditions and measures
  void PartitionSectionLines(int seccion, int64_t r, Items& visibles, Items* ocultas);
  bool TableLineVisible(const TTableLinea& l, std::string_view seccion);
  bool TableLineSuppressed(const TTableLinea& l, std::string_view seccion);
  bool TableLineIsEmpty(const TTableLinea& l, int seccion, int64_t r);
  template <class F>
  bool RuntimeConditionIsTrue(const std::string& condicion, F prefijo);
  static bool RenderizableHasContent(const Value& renderizable);
  bool TableRequestsPageBreakBefore();
  static double SectionLinesHeight(const Items& items);
  static size_t FittingSectionLines(const Items& items, double disponible, bool forzarPrimera);
  static bool SectionKeepsTogether(const Items& items);
  static bool SectionKeepWithPrevious(const Items& items, int seccion);
  static bool SectionRequestsPageBreakBefore(const Items& items);
  static bool SectionRequestsPageBreakAfter(const Items& items);
  static bool SectionForcesAccumulators(const Items& items);
  static bool SectionRepeatAsHeader(const Items& items);

  // ---- Grouping
  void PrepararGrupos();
  Value GroupValue(const std::string& expresion, const Value& registro);
  void GroupValues(const Value& registro, Valores& valores);
  static bool GroupValueIsEmpty(const Value& v);
  static bool GroupValuesEqual(const Value& a, const Value& b);
  Value AdjacentRuntimeRecord(int64_t i, int64_t desplazamiento) const;
  EstadoGrupo GroupState(const Value& registro, int64_t i, int64_t continuacion);
  void GroupBoundaryLines(Items& items, int seccion, const Valores& actual, const Value& otro,
                          const Valores& valoresOtro);

  // ---- Lines and cells
  double RenderSectionLines(int seccion, const Items& items, double y, int64_t r);
  void RenderLinea(int seccion, const TTableLinea& l, double& y, int64_t r);
  double LineRenderWidth(const TTableLinea& l) const;
  double LineRenderLeft(const TTableLinea& l, double ancho, int seccion) const;
  Value LineaCabeceraRenderizable(const Value& id, double x, double y, double h, double w,
                                  double bw, double z, const std::string& relleno,
                                  const Value& colorBorde, const std::array<bool, 4>& lados,
                                  const Value& opacidad, double radio);
  std::string LineBackgroundColor(const Value& fondo);
  Value CellBackgroundRenderizable(const TTableCelda& c, std::string_view prefijo, int64_t linea,
                                   size_t k, double x, double y, double w, double h);
  Value CellContentRenderizable(const TTableLinea& l, const TTableCelda& c, size_t k, int seccion,
                                int64_t r, std::string_view prefijo, double x, double y, double w,
                                double h, double zc, bool cacheable);
  TObjectBase* ObjetoCelda(const TTableLinea& l, const TTableCelda& c, size_t k, int seccion);
  // "cId_section[_rN]" into the buffer given.
  void Prefijo(std::string& destino, int seccion, int64_t r) const;
  // The id made of the parts, built in a buffer reused from piece to piece.
  template <class... Partes>
  Value Id(const Partes&... partes);
  std::string ClaveObjeto(int seccion, int64_t linea, size_t k, const std::string& tipo) const;
  void Agregar(Value renderizable);

  // ---- Borders and separators
  Value LineBorderColor(const TTableLinea& l);
  double LineBorderRadiusMm(double alto, const TTableLinea& l) const;
  bool PreviousAdjacentBottomBorderExists(double x, double y, double w) const;
  void RegistrarBordeInferior(double x, double ancho, double fondo);
  static bool InternalSeparatorEnabled(const TTableLinea& l, size_t k);
  bool LineUsesFixedVerticalSeparators(int seccion, const TTableLinea& l) const;
  Value TrazoRenderizable(const Value& id, double x, double y, double w, double h, double z,
                          const Value& color);
  void RenderFixedSeparators(double y0, double y1);

  // ---- The record loop
  bool ProcesarRegistro(const Value& registro, int64_t i);
  bool Fits(double altura) const { return y + altura <= nLimiteCuerpo + kToleranciaMm + kRuidoMm; }
  bool AtBodyStart(double posicion) const {
    return std::fabs(posicion - nInicioCuerpo) <= kToleranciaMm;
  }
  void Marcar(Marca& marca) const;
  void GuardarSumas(Marca& marca, const Items& items);
  void Deshacer(Marca& marca);

  TTable& t;
  TContextoEjecucion& ctx;
  const TTablePlano* plano = nullptr;

  Value opciones;
  bool lGlobal = false;
  bool lProgreso = false;
  bool lDisenador = false;
  int64_t nBase = 0;          // the first loop index
  int64_t nBaseOpciones = 0;  // the options' record base (global index in the local mode)
  const List* aRuntime = nullptr;
  Value registros;
  const List* aRegistros = nullptr;
  int64_t nCount = 0;
  int64_t nFin = 0;

  std::string cId;
  double nLeft = 0, nTop = 0, nAncho = 0, nAlto = 0;
  Value salida;
  List* aSalida = nullptr;
  Value marco;
  double z = 0.0;

  double y = 0.0;
  double nInicioCuerpo = 0.0;
  double nLimiteCuerpo = 0.0;
  double nPrimerDetalle = 0.0;
  bool lHayDetalle = false;
  bool lRepeticionHecha = false;
  bool lContenido = false;
  bool lTrasUltimoRegistro = false;  // the page starts past the job's last record

  bool lAgrupando = false;
  bool lSaltarVacios = false;
  bool lTambienVacios = false;
  std::string cCorte;
  std::vector<std::string> aExpresiones;
  std::vector<int> aIndiceCabecera;  // group expression of each group header line
  std::vector<int> aIndicePie;       // group expression of each group footer line

  std::vector<BordeInferior> aBordes;
  Value hEstadoSinUltima;
  std::string cIdBuffer, cPrefijoLinea, cPrefijoPrevio;

  double nInicio = 0.0;
  double nPartitionMs = 0.0, nRenderLinesMs = 0.0, nCellContentMs = 0.0, nAccumulateMs = 0.0;
  int64_t nRecordsExamined = 0;

  // Line lists reused from record to record.
  Items aCabecera, aRepetida, aDetalle, aOcultas, aPie, aConcat, aPieTabla;
};

// ---- Setup

void TTableRender::ResetPerformance() {
  const Value cero = Value::Real(0.0, 1);
  t.hPerformanceDiagnostics = Value::NewMap({
      {"nSetupMs", cero},
      {"nRecordLoopMs", cero},
      {"nFinishMs", cero},
      {"nPartitionMs", cero},
      {"nRenderLinesMs", cero},
      {"nCellContentMs", cero},
      {"nAccumulateMs", cero},
      {"nRecordsExamined", 0},
      {"nTotalMs", cero},
  });
}

Value TTableRender::Ejecutar() {
  opciones = ctx.GetOpciones().IsMap() ? ctx.GetOpciones() : Value::NewMap();
  lGlobal = SoloVerdadero(opciones.Get("lRegistrosDetalleGlobalRuntime"));
  nBaseOpciones = std::max<int64_t>(0, NumValue(opciones.Get("nRegistroBase")).Int());
  nBase = lGlobal ? nBaseOpciones : 0;
  lProgreso = ctx.TieneProgreso();

  nInicio = Clock();
  t.hCellRenderCache = Value::NewMap();
  ResetPerformance();
  if (!t.EsVisibleEnEjecucion(ctx)) return Value();
  if (!Preparar()) return salida;

  double reloj = Clock();
  t.hPerformanceDiagnostics.Set("nSetupMs", Value(reloj - nInicio));
  // Without records the loop takes no step: the page holds the header and footer only. So
  // it is on a page past the job's last record, the last page of a report whose records all
  // went to earlier pages; any other page takes at least one record.
  const int64_t hasta = nCount == 0 || lTrasUltimoRegistro ? nBase : std::max(nBase + 1, nFin);
  for (int64_t i = nBase; i < hasta; ++i) {
    ++nRecordsExamined;
    if (lProgreso && !ctx.InformarRegistroExaminado(i + 1)) break;
    const Value& registro = i < nCount ? (*aRegistros)[static_cast<size_t>(i)] : (*aRegistros)[0];
    if (!PushRecordVariables(registro, i)) break;
    const bool seguir = ProcesarRegistro(registro, i);
    PopRecordVariables();
    if (!seguir) break;
  }
  const double finBucle = Clock();
  t.hPerformanceDiagnostics.Set("nRecordLoopMs", Value(finBucle - reloj));
  Terminar();
  const double fin = Clock();
  Map& perf = t.hPerformanceDiagnostics.AsMap();
  perf.Set("nFinishMs", Value(fin - finBucle));
  perf.Set("nPartitionMs", Value(nPartitionMs));
  perf.Set("nRenderLinesMs", Value(nRenderLinesMs));
  perf.Set("nCellContentMs", Value(nCellContentMs));
  perf.Set("nAccumulateMs", Value(nAccumulateMs));
  perf.Set("nRecordsExamined", Value(nRecordsExamined));
  perf.Set("nTotalMs", Value(fin - nInicio));
  return salida;
}

bool TTableRender::Preparar() {
  cId = StringValue(t.cId);
  nLeft = NumDouble(t.nLeft);
  nTop = NumDouble(t.nTop);
  nAncho = NumDouble(t.nWidth);
  nAlto = NumDouble(t.nHeight);
  lDisenador = ctx.EsModoDisenador();
  hEstadoSinUltima = Value::NewMap({{"lLastPageDisponible", false}});

  salida = Value::NewList();
  aSalida = &salida.AsList();
  // The table already passed its visibility test: the frame is the rectangle's map as such.
  marco = t.RenderizableFigura(ctx, "rectangulo", t.nRounded);
  if (marco.IsMap()) {
    Agregar(marco);
    const Map& m = marco.AsMap();
    const Value& x = m.Get("x");
    const Value& ancho = m.Get("ancho");
    const Value& my = m.Get("y");
    const Value& alto = m.Get("alto");
    if (SoloVerdadero(m.Get("bordeInferior")) && x.IsNumber() && ancho.IsNumber() &&
        my.IsNumber() && alto.IsNumber())
      RegistrarBordeInferior(x.Double(), ancho.Double(), my.Double() + alto.Double());
  }
  z = NumDouble(t.nZIndex) + 0.01;

  if (!t.hNormalizedSectionsCache.IsMap()) t.hNormalizedSectionsCache = t.NormalizeSections();
  if (!t.oPlano_ || !t.oPlano_->hFuente.SameRef(t.hNormalizedSectionsCache))
    t.oPlano_ = CompilarPlano(t.hNormalizedSectionsCache, NumDouble(t.nBorderWidth));
  plano = t.oPlano_.get();

  ctx.ResetAcumuladores();

  Items cabecera;
  PartitionSectionLines(kHeader, -1, cabecera, nullptr);
  PartitionSectionLines(kFooter, -1, aPieTabla, nullptr);
  const double alturaPie = SectionLinesHeight(aPieTabla);

  y = RenderSectionLines(kHeader, cabecera, nTop, -1);
  nInicioCuerpo = y;
  lContenido = t.cHeightMode == "content";
  const double techoPie = nTop + std::max(0.0, nAlto - alturaPie);
  nLimiteCuerpo = lContenido ? kSinLimite : std::max(nInicioCuerpo, techoPie);

  registros = TablePreviewRecords();
  aRegistros = registros.ListPtr();
  nCount = aRegistros ? static_cast<int64_t>(aRegistros->size()) : 0;
  const Value& finOpcion = opciones.Get("nRegistroFinRuntime");
  const int64_t fin = HHas(opciones, "nRegistroFinRuntime") ? NumValue(finOpcion).Int() : nCount;
  nFin = std::min(nCount, std::max(nBase, fin));
  aRuntime = opciones.Get("aRegistrosDetalleRuntime").ListPtr();

  PrepararGrupos();
  return true;
}

void TTableRender::Terminar() {
  t.hCellRenderCache = Value::NewMap();
  // The footer shows the sums as they are now.
  PartitionSectionLines(kFooter, -1, aPieTabla, nullptr);
  const double alturaPie = SectionLinesHeight(aPieTabla);
  const double techoPie = nTop + std::max(0.0, nAlto - alturaPie);
  double yPie = y;
  if (!lContenido) yPie = t.lFooterOnBottom ? techoPie : std::min(y, techoPie);
  RenderFixedSeparators(lHayDetalle ? nPrimerDetalle : nInicioCuerpo, yPie);
  const double yFin = RenderSectionLines(kFooter, aPieTabla, yPie, -1);
  if (lContenido && marco.IsMap() && aSalida->size() > 0) {
    marco.Set("alto", Value(std::max(0.1, yFin - nTop)));
    marco.Set("modoAlto", Value("content"));
  }
}

// ---- Records and the context protocol

Value TTableRender::TablePreviewRecords() {
  const Value& runtime = opciones.Get("aRegistrosDetalleRuntime");
  const List* lista = runtime.ListPtr();
  if (SoloVerdadero(opciones.Get("lSemanticDataRuntime")))
    return lista ? runtime : Value::NewList();
  if (lGlobal && lista && !lista->empty() && static_cast<int64_t>(lista->size()) <= nBaseOpciones) {
    lTrasUltimoRegistro = true;
    return runtime;
  }
  if (lista && static_cast<int64_t>(lista->size()) > nBaseOpciones) {
    // The page loop hands every page the job's one list: it is shared, never copied.
    if (lGlobal) return runtime;
    Value desde = Value::NewList();
    for (size_t i = static_cast<size_t>(nBaseOpciones); i < lista->size(); ++i)
      if ((*lista)[i].IsMap()) desde.Push((*lista)[i]);
    if (desde.Len() > 0) return desde;
  }

  const Value datos = ctx.GetData();
  if (const Map* bloques = HGet(datos, "DetalleVar").MapPtr()) {
    for (const Map::Entry& bloque : *bloques) {
      const List* filas = bloque.value.ListPtr();
      if (!filas) continue;
      Value salidaBloque = Value::NewList();
      const std::string prefijo = std::string(bloque.key.Str()) + ".";
      for (const Value& fila : *filas) {
        const Map* campos = fila.MapPtr();
        if (!campos) continue;
        Value registro = Value::NewMap();
        for (const Map::Entry& campo : *campos) {
          const std::string nombre = NormalizeHashKeyName(campo.key);
          if (nombre.empty()) continue;
          const Value& valor = campo.value;
          registro.Set(prefijo + nombre,
                       valor.IsMap() && valor.AsMap().Has("valor") ? valor.Get("valor") : valor);
        }
        if (registro.Len() > 0) salidaBloque.Push(registro);
      }
      if (salidaBloque.Len() > 0) return salidaBloque;
    }
  }
  for (std::string_view clave : {"lineasTabla", "LINEAS_TABLA", "detalleTabla", "DETALLE_TABLA",
                                 "detalle", "DETALLE", "registros", "REGISTROS"}) {
    const List* filas = HGet(datos, clave).ListPtr();
    if (!filas) continue;
    Value mapas = Value::NewList();
    for (const Value& fila : *filas)
      if (fila.IsMap()) mapas.Push(fila);
    if (mapas.Len() > 0) return mapas;
  }
  // A run for a job names its records, even when it has none: sample articles would print
  // invented lines on a real document. Only a render without that list previews them.
  if (lista) return Value::NewList();

  auto muestra = [](const char* codigo, const char* descripcion, int cantidad, double precio,
                    double total) {
    return Value::NewMap({
        {"LINEAS_FACTURA.CODIGO_ARTICULO", codigo},
        {"LINEAS_FACTURA.DESCRIPCION", descripcion},
        {"LINEAS_FACTURA.CANTIDAD", cantidad},
        {"LINEAS_FACTURA.PRECIO", Value::Real(precio, 2)},
        {"LINEAS_FACTURA.TOTAL_LINEA", Value::Real(total, 2)},
    });
  };
  return Value::NewList({
      muestra("1001", "Articulo prueba 1", 1, 10.50, 10.50),
      muestra("1002", "Articulo prueba 2", 2, 5.25, 10.50),
      muestra("1003", "Articulo prueba 3", 3, 7.00, 21.00),
      muestra("1004", "Articulo prueba 4", 4, 3.50, 14.00),
  });
}

const Value& TTableRender::Registro(int64_t i) const {
  if (i < 0 || i >= nCount) return kNil;
  return (*aRegistros)[static_cast<size_t>(i)];
}

bool TTableRender::PushRecordVariables(const Value& registro, int64_t i) {
  const int64_t g = GlobalRecordIndex(i);
  const Value& totalOpcion = opciones.Get("nTotalRegistrosRuntime");
  const int64_t total = std::max(
      nCount, HHas(opciones, "nTotalRegistrosRuntime") ? NumValue(totalOpcion).Int() : nCount);
  auto runtime = [&](int64_t indice) -> const Value* {
    if (!aRuntime || indice < 0 || indice >= static_cast<int64_t>(aRuntime->size())) return nullptr;
    const Value& v = (*aRuntime)[static_cast<size_t>(indice)];
    return v.IsMap() ? &v : nullptr;
  };
  Value anterior = Value::NewMap();
  if (const Value* v = g >= 1 ? runtime(g - 1) : nullptr)
    anterior = *v;
  else if (i >= 1 && i - 1 < nCount)
    anterior = Registro(i - 1);
  Value siguiente = Value::NewMap();
  if (const Value* v = runtime(g + 1))
    siguiente = *v;
  else if (i + 1 < nCount)
    siguiente = Registro(i + 1);
  ctx.PushRegistroDetalle(registro, Value(g), Value(total), anterior, siguiente);
  return true;
}

void TTableRender::ResetLineAcumuladores(const Items& items) {
  Value nombres;
  for (const TTableLinea* l : items) {
    if (!l->aResetAcumuladores.IsList()) continue;
    if (!nombres.IsList()) nombres = Value::NewList();
    for (const Value& n : l->aResetAcumuladores.AsList()) nombres.Push(n);
  }
  if (nombres.IsList()) ctx.ResetAcumuladoresSeleccionados(nombres);
}

void TTableRender::AcumularDetalle() {
  const double t0 = Clock();
  ctx.AcumularDetalle();
  nAccumulateMs += Clock() - t0;
}

int64_t TTableRender::DetailContinuationOffset(int64_t i) {
  const Value entrada = ctx.GetContinuacionTabla(Value(cId));
  if (!entrada.IsMap() || entrada.Len() == 0) return 0;
  const int64_t registro =
      HHas(entrada, "nRegistro") ? NumValue(entrada.Get("nRegistro")).Int() : -1;
  if (registro != GlobalRecordIndex(i)) return 0;
  return std::max<int64_t>(0, NumValue(entrada.Get("nLinea")).Int());
}

void TTableRender::SetDetailContinuation(int64_t i, int64_t lineas) {
  ctx.SetContinuacionTabla(Value(cId), Value(GlobalRecordIndex(i)), Value(lineas));
}

void TTableRender::RecorrerExportacion(const Value& secciones,
                                       const std::function<void(const std::vector<bool>&)>& fila) {
  opciones = ctx.GetOpciones().IsMap() ? ctx.GetOpciones() : Value::NewMap();
  lGlobal = SoloVerdadero(opciones.Get("lRegistrosDetalleGlobalRuntime"));
  nBaseOpciones = std::max<int64_t>(0, NumValue(opciones.Get("nRegistroBase")).Int());
  cId = StringValue(t.cId);
  lDisenador = ctx.EsModoDisenador();
  const std::unique_ptr<TTablePlano> propio = CompilarPlano(secciones, NumDouble(t.nBorderWidth));
  plano = propio.get();
  registros = TablePreviewRecords();
  aRegistros = registros.ListPtr();
  nCount = aRegistros ? static_cast<int64_t>(aRegistros->size()) : 0;
  aRuntime = opciones.Get("aRegistrosDetalleRuntime").ListPtr();
  const std::vector<TTableLinea>& detalle = plano->aLineas[kDetail];
  std::vector<bool> visibles(detalle.size());
  for (int64_t i = 0; i < nCount; ++i) {
    const Value& registro = (*aRegistros)[static_cast<size_t>(i)];
    if (!registro.IsMap() || !PushRecordVariables(registro, i)) continue;
    // Ignore-empty is a matter of printing: an exported line shows its blank values.
    for (size_t k = 0; k < detalle.size(); ++k)
      visibles[k] =
          TableLineVisible(detalle[k], "detail") && !TableLineSuppressed(detalle[k], "detail");
    fila(visibles);
    PopRecordVariables();
  }
  plano = nullptr;
}

void TTable::ExportRecords(TContextoEjecucion& context, const Value& sections,
                           const std::function<void(const std::vector<bool>& visible)>& row) {
  TTableRender(*this, context).RecorrerExportacion(sections, row);
}

// ---- Visibility, conditions and measures

void TTableRender::PartitionSectionLines(int seccion, int64_t r, Items& visibles, Items* ocultas) {
  const double t0 = Clock();
  visibles.clear();
  if (ocultas) ocultas->clear();
  const std::string_view nombre = kNombreSeccion[seccion];
  for (const TTableLinea& l : plano->aLineas[SeccionDePlano(seccion)]) {
    if (!TableLineVisible(l, nombre)) continue;
    if (TableLineSuppressed(l, nombre) || TableLineIsEmpty(l, seccion, r)) {
      if (ocultas) ocultas->push_back(&l);
      continue;
    }
    visibles.push_back(&l);
  }
  nPartitionMs += Clock() - t0;
}

bool TTableRender::TableLineVisible(const TTableLinea& l, std::string_view seccion) {
  if (l.cCondicion.empty() || lDisenador) return true;
  const Value resultado = ctx.EvaluarCondicion(Value(l.cCondicion));
  if (SoloVerdadero(resultado.Get("lVisible"))) return true;
  std::string motivo = StringValue(resultado.Get("cMotivo"));
  if (motivo.empty()) motivo = "condicion falsa";
  const std::string donde = cId + "[" + Entero(l.nIndice) + "]";
  ctx.AddAviso(
      Value("Linea de tabla " + std::string(seccion) + " no visible en " + donde + ": " + motivo));
  if (motivo == "condicion no valida")
    ctx.AddAviso(Value("Condicion no valida en linea de tabla " + std::string(seccion) + " " +
                       donde + ": " + l.cCondicion));
  return false;
}

template <class F>
bool TTableRender::RuntimeConditionIsTrue(const std::string& condicion, F prefijo) {
  if (condicion.empty() || lDisenador) return false;
  const Value resultado = ctx.EvaluarCondicion(Value(condicion));
  if (SoloVerdadero(resultado.Get("lVisible"))) return true;
  if (StringValue(resultado.Get("cMotivo")) == "condicion no valida")
    ctx.AddAviso(Value(prefijo() + ": " + condicion));
  return false;
}

bool TTableRender::TableLineSuppressed(const TTableLinea& l, std::string_view seccion) {
  const bool suprimida = RuntimeConditionIsTrue(l.cSupresion, [&] {
    return "Condicion de supresion no valida en linea de tabla " + std::string(seccion) + " " +
           cId + "[" + Entero(l.nIndice) + "]";
  });
  if (suprimida)
    ctx.AddAviso(Value("Linea de tabla " + std::string(seccion) + " suprimida en " + cId + "[" +
                       Entero(l.nIndice) + "]"));
  return suprimida;
}

bool TTableRender::TableLineIsEmpty(const TTableLinea& l, int seccion, int64_t r) {
  if (!l.lIgnoreEmpty || lDisenador) return false;
  bool contenido = false;
  const double alto = std::max(0.1, l.nAlto);
  Prefijo(cPrefijoPrevio, seccion, r);
  // Every cell is pre-rendered: the results wait in the render cache for the line's printing.
  for (size_t k = 0; k < l.aCeldas.size(); ++k) {
    const TTableCelda& c = l.aCeldas[k];
    const Value res = CellContentRenderizable(l, c, k, seccion, r, cPrefijoPrevio, 0.0, 0.0,
                                              std::max(0.1, c.nAncho), alto, 0.0, true);
    if (RenderizableHasContent(res)) contenido = true;
  }
  return !contenido;
}

bool TTableRender::RenderizableHasContent(const Value& renderizable) {
  if (!renderizable.IsMap()) return false;
  const std::string_view tipo = renderizable.Get("tipo").Str();
  if (tipo == "texto" || tipo == "barcode")
    return !AllTrim(StringValue(renderizable.Get("texto"))).empty();
  return true;
}

bool TTableRender::TableRequestsPageBreakBefore() {
  if (AllTrim(t.cPageBreakCondition).empty() || lDisenador) return false;
  const Value resultado =
      ctx.EvaluarCondicionConEstado(Value(t.cPageBreakCondition), hEstadoSinUltima);
  if (SoloVerdadero(resultado.Get("lError"))) {
    std::string mensaje =
        "Condicion de salto no valida en tabla " + cId + ": " + t.cPageBreakCondition;
    const std::string error = StringValue(resultado.Get("cError"));
    if (!error.empty()) mensaje += " -> " + error;
    ctx.SetErrorCriticoComposicion(Value(mensaje));
    return false;
  }
  return SoloVerdadero(resultado.Get("lVisible"));
}

double TTableRender::SectionLinesHeight(const Items& items) {
  double total = 0.0;
  for (const TTableLinea* l : items) total += l->nAltura;
  return total;
}

size_t TTableRender::FittingSectionLines(const Items& items, double disponible,
                                         bool forzarPrimera) {
  const double limite = disponible + kToleranciaMm + kRuidoMm;
  double total = 0.0;
  size_t tomadas = 0;
  for (const TTableLinea* l : items) {
    if (total + l->nAlturaAjuste > limite && (tomadas > 0 || !forzarPrimera)) break;
    total += l->nAlturaAjuste;
    ++tomadas;
  }
  return tomadas;
}

bool TTableRender::SectionKeepsTogether(const Items& items) {
  for (const TTableLinea* l : items)
    if (l->lSeparable) return false;
  return true;
}

bool TTableRender::SectionKeepWithPrevious(const Items& items, int seccion) {
  for (const TTableLinea* l : items)
    if (l->lKeepWithPrevious) return true;
  return seccion == kGroupFooter && !items.empty();
}

bool TTableRender::SectionRequestsPageBreakBefore(const Items& items) {
  for (const TTableLinea* l : items)
    if (l->lPageBreakBefore) return true;
  return false;
}

bool TTableRender::SectionRequestsPageBreakAfter(const Items& items) {
  for (const TTableLinea* l : items)
    if (l->lPageBreakAfter) return true;
  return false;
}

bool TTableRender::SectionForcesAccumulators(const Items& items) {
  for (const TTableLinea* l : items)
    if (l->lForceAccumulators) return true;
  return false;
}

bool TTableRender::SectionRepeatAsHeader(const Items& items) {
  for (const TTableLinea* l : items)
    if (l->lRepeatAsHeader) return true;
  return false;
}

// ---- Grouping

void TTableRender::PrepararGrupos() {
  cCorte = std::string(AllTrim(StringValue(HGet(t.hGroup, "cBreakExpression"))));
  lSaltarVacios = SoloVerdadero(HGet(t.hGroup, "lSkipEmptyValues"));
  lTambienVacios = plano->lAlsoOnEmptyGroup;
  aExpresiones.clear();
  auto agregar = [&](const std::string& e) {
    if (e.empty() || std::find(aExpresiones.begin(), aExpresiones.end(), e) != aExpresiones.end())
      return;
    aExpresiones.push_back(e);
  };
  if (const List* lista = HGet(t.hGroup, "aBreakExpressions").ListPtr())
    for (const Value& e : *lista)
      if (e.IsText() && !IsBlank(e.Str())) agregar(std::string(e.Str()));
  for (int s : {kGroupHeader, kGroupFooter})
    for (const TTableLinea& l : plano->aLineas[s]) agregar(l.cExpresionGrupo);
  if (!cCorte.empty() &&
      std::find(aExpresiones.begin(), aExpresiones.end(), cCorte) == aExpresiones.end())
    aExpresiones.insert(aExpresiones.begin(), cCorte);

  lAgrupando = !aExpresiones.empty() || (lDisenador && (!plano->aLineas[kGroupHeader].empty() ||
                                                        !plano->aLineas[kGroupFooter].empty()));

  // Each group line compares the values of one expression: its own, or the break expression.
  auto indices = [&](int s, std::vector<int>& destino) {
    destino.clear();
    for (const TTableLinea& l : plano->aLineas[s]) {
      const std::string& e = l.cExpresionGrupo.empty() ? cCorte : l.cExpresionGrupo;
      const auto it = std::find(aExpresiones.begin(), aExpresiones.end(), e);
      destino.push_back(
          e.empty() || it == aExpresiones.end() ? -1 : static_cast<int>(it - aExpresiones.begin()));
    }
  };
  indices(kGroupHeader, aIndiceCabecera);
  indices(kGroupFooter, aIndicePie);
}

Value TTableRender::GroupValue(const std::string& expresion, const Value& registro) {
  if (expresion.empty()) return Value();
  if (const Map* campos = registro.MapPtr())
    if (const Value* v = campos->Find(expresion)) return *v;
  // A neighbour's values override the current record's while its expression is evaluated.
  const bool empujar = registro.IsMap() && registro.Len() > 0;
  if (empujar) ctx.PushVariablesLocales(registro);
  Value valor = ctx.EvaluarFormula(Value(expresion));
  if (empujar) ctx.PopVariablesLocales();
  return valor;
}

bool TTableRender::GroupValueIsEmpty(const Value& v) {
  return v.IsNil() || (v.IsText() && IsBlank(v.Str()));
}

void TTableRender::GroupValues(const Value& registro, Valores& valores) {
  valores.aValores.clear();
  valores.lVacia = true;
  Value lista = Value::NewList();
  for (const std::string& e : aExpresiones) {
    Value v = GroupValue(e, registro);
    if (!GroupValueIsEmpty(v)) valores.lVacia = false;
    valores.aValores.push_back(v);
    lista.Push(std::move(v));
  }
  valores.cFirma = lDisenador && aExpresiones.empty() ? std::string() : ExprText(lista);
}

bool TTableRender::GroupValuesEqual(const Value& a, const Value& b) {
  if (a.IsNil() || b.IsNil()) return a.IsNil() && b.IsNil();
  if (a.IsNumber() && b.IsNumber()) return a.Double() == b.Double();
  if (a.kind() != b.kind()) return false;
  switch (a.kind()) {
    case Kind::Text:
      return a.Str() == b.Str();
    case Kind::Logical:
      return a.Bool() == b.Bool();
    case Kind::Date:
      return a.Jdn() == b.Jdn();
    case Kind::Timestamp:
      return a.Jdn() == b.Jdn() && a.MsOfDay() == b.MsOfDay();
    default:
      return false;
  }
}

Value TTableRender::AdjacentRuntimeRecord(int64_t i, int64_t desplazamiento) const {
  const int64_t g = GlobalRecordIndex(i) + desplazamiento;
  if (aRuntime && g >= 0 && g < static_cast<int64_t>(aRuntime->size())) {
    const Value& v = (*aRuntime)[static_cast<size_t>(g)];
    if (v.IsMap()) return v;
  }
  const Value& propio = Registro(i + desplazamiento);
  return propio.IsMap() ? propio : Value();
}

TTableRender::EstadoGrupo TTableRender::GroupState(const Value& registro, int64_t i,
                                                   int64_t continuacion) {
  EstadoGrupo g;
  g.lContinua = continuacion > 0;
  if (!lAgrupando) return g;
  g.hAnterior = AdjacentRuntimeRecord(i, -1);
  g.hSiguiente = AdjacentRuntimeRecord(i, +1);
  GroupValues(registro, g.vActual);
  const bool hayAnterior = g.hAnterior.IsMap();
  const bool haySiguiente = g.hSiguiente.IsMap();
  if (hayAnterior) GroupValues(g.hAnterior, g.vAnterior);
  if (haySiguiente) GroupValues(g.hSiguiente, g.vSiguiente);

  g.lElegible = lDisenador || !lSaltarVacios || !g.vActual.lVacia;
  g.lEnGrupo = g.lElegible || lTambienVacios;
  const bool siguienteElegible =
      haySiguiente && (lDisenador || !lSaltarVacios || !g.vSiguiente.lVacia);
  const bool siguienteEnGrupo = siguienteElegible || (haySiguiente && lTambienVacios);
  const bool mismaAnterior = hayAnterior && g.vAnterior.cFirma == g.vActual.cFirma;
  g.lContinua = continuacion > 0 || (g.lEnGrupo && mismaAnterior);
  g.lEmpieza = g.lEnGrupo && !g.lContinua && !mismaAnterior;
  g.lTermina =
      g.lEnGrupo && (!haySiguiente || !siguienteEnGrupo || g.vSiguiente.cFirma != g.vActual.cFirma);
  return g;
}

void TTableRender::GroupBoundaryLines(Items& items, int seccion, const Valores& actual,
                                      const Value& otro, const Valores& valoresOtro) {
  if (!otro.IsMap()) return;
  const std::vector<int>& indices = seccion == kGroupHeader ? aIndiceCabecera : aIndicePie;
  auto igual = [&](const TTableLinea* l) {
    const int e = indices[static_cast<size_t>(l->nIndice)];
    if (e < 0) return false;  // no expression: the line always prints
    return GroupValuesEqual(actual.aValores[static_cast<size_t>(e)],
                            valoresOtro.aValores[static_cast<size_t>(e)]);
  };
  items.erase(std::remove_if(items.begin(), items.end(), igual), items.end());
}

// ---- Lines and cells

void TTableRender::Agregar(Value renderizable) {
  aSalida->Add(std::move(renderizable));
}

void TTableRender::Prefijo(std::string& id, int seccion, int64_t r) const {
  id.assign(cId);
  id += '_';
  id += kNombreSeccion[seccion];
  if (r >= 0) {
    id += "_r";
    id += Entero(r);
  }
}

namespace {
void AnadirParte(std::string& id, std::string_view parte) {
  id += parte;
}
void AnadirParte(std::string& id, int64_t n) {
  char buf[24];
  const auto res = std::to_chars(buf, buf + sizeof buf, n);
  id.append(buf, res.ptr);
}
void AnadirParte(std::string& id, size_t n) {
  AnadirParte(id, static_cast<int64_t>(n));
}
}  // namespace

template <class... Partes>
Value TTableRender::Id(const Partes&... partes) {
  cIdBuffer.clear();
  (AnadirParte(cIdBuffer, partes), ...);
  return Value(cIdBuffer);
}

std::string TTableRender::ClaveObjeto(int seccion, int64_t linea, size_t k,
                                      const std::string& tipo) const {
  return std::string(kNombreSeccion[seccion]) + "|" + Entero(linea) + "|" +
         Entero(static_cast<int64_t>(k)) + "|" + tipo;
}

double TTableRender::RenderSectionLines(int seccion, const Items& items, double yInicial,
                                        int64_t r) {
  const double t0 = Clock();
  double yy = yInicial;
  for (const TTableLinea* l : items) RenderLinea(seccion, *l, yy, r);
  nRenderLinesMs += Clock() - t0;
  return yy;
}

double TTableRender::LineRenderWidth(const TTableLinea& l) const {
  return l.nAnchoCeldas > 0.0 ? l.nAnchoCeldas : std::max(0.1, nAncho);
}

double TTableRender::LineRenderLeft(const TTableLinea& l, double ancho, int seccion) const {
  if (l.rLeft > 0.0 || l.rRight > 0.0) return nLeft + l.rLeft;
  if (seccion == kGroupHeader || seccion == kGroupHeaderRepeat) return nLeft;
  const double total = std::max(0.1, nAncho);
  return ancho >= total ? nLeft : nLeft + (total - ancho) / 2.0;
}

std::string TTableRender::LineBackgroundColor(const Value& fondo) {
  const std::string formula(AllTrim(StringValue(HGet(fondo, "cColorFormula"))));
  if (!formula.empty())
    return Lower(t.EvaluarColor(ctx, Value(formula), HGet(fondo, "cColor"), Value(true)));
  const std::string hex = HexMinusculas(HGet(fondo, "cColor"));
  return hex.empty() ? "transparent" : hex;
}

Value TTableRender::LineaCabeceraRenderizable(const Value& id, double x, double yy, double h,
                                              double w, double bw, double zz,
                                              const std::string& relleno, const Value& colorBorde,
                                              const std::array<bool, 4>& lados,
                                              const Value& opacidad, double radio) {
  Value v = Copia(ProtoLinea());
  Map& m = v.AsMap();
  m.ValueAt(kLId) = id;
  m.ValueAt(kLX) = Value(x);
  m.ValueAt(kLY) = Value(yy);
  m.ValueAt(kLAncho) = Value(std::max(0.1, w));
  m.ValueAt(kLAlto) = Value(std::max(0.1, h));
  m.ValueAt(kLColorBorde) = colorBorde;
  m.ValueAt(kLGrosorBorde) = Value(bw);
  m.ValueAt(kLSuperior) = Value(lados[0]);
  m.ValueAt(kLDerecho) = Value(lados[1]);
  m.ValueAt(kLInferior) = Value(lados[2]);
  m.ValueAt(kLIzquierdo) = Value(lados[3]);
  m.ValueAt(kLColorFondo) = Value(relleno);
  // A number outside 0..1 is clamped; anything else counts as fully opaque.
  if (opacidad.IsNumber())
    m.ValueAt(kLOpacidadRelleno) = opacidad.Double() < 0.0   ? Value(0)
                                   : opacidad.Double() > 1.0 ? Value(1)
                                                             : opacidad;
  m.ValueAt(kLRedondeoMm) = Value(radio);
  Orden(m, kLOrden, zz);
  return v;
}

void TTableRender::RenderLinea(int seccion, const TTableLinea& l, double& yy, int64_t r) {
  yy += l.rTop;
  const double h = l.nAlto;
  const double w = LineRenderWidth(l);
  const double x = LineRenderLeft(l, w, seccion);
  const bool fijas = LineUsesFixedVerticalSeparators(seccion, l);
  // top, right, bottom, left
  std::array<bool, 4> lados = {l.bTop, fijas ? false : l.bRight, l.bBottom,
                               fijas ? false : l.bLeft};
  const double bw = l.nGrosor;
  const Value bc = LineBorderColor(l);
  std::string relleno = LineBackgroundColor(l.hFondo);
  Value opacidad(1);
  if (seccion == kDetail && r >= 0 && l.lZebra) {
    const bool par = GlobalRecordIndex(r) % 2 == 0;
    const Value& color = par ? l.cZebra1 : l.cZebra2;
    if (ISHEXCOLOR6(color)) relleno = Lower(color.Str());
    opacidad = par ? l.nZebraOpacidad1 : l.nZebraOpacidad2;
  }
  if (lados[0] && PreviousAdjacentBottomBorderExists(x, yy, w)) lados[0] = false;

  Prefijo(cPrefijoLinea, seccion, r);
  const std::string_view prefijo = cPrefijoLinea;
  const Value idLinea = Id(prefijo, "_line_", l.nIndice);
  const double radio = LineBorderRadiusMm(h, l);
  Agregar(
      LineaCabeceraRenderizable(idLinea, x, yy, h, w, bw, z, relleno, bc, lados, opacidad, radio));
  if (lados[2]) RegistrarBordeInferior(x, std::max(0.1, w), yy + std::max(0.1, h));

  const double arriba = yy + l.pTop;
  const double altoCelda = std::max(0.1, h - l.pTop - l.pBottom);
  double izquierda = x + l.pLeft;
  const size_t n = l.aCeldas.size();
  for (size_t k = 0; k < n; ++k) {
    const TTableCelda& c = l.aCeldas[k];
    const double cw = c.nAncho;
    Value fondo =
        CellBackgroundRenderizable(c, prefijo, l.nIndice, k, izquierda, arriba, cw, altoCelda);
    if (fondo.IsMap()) Agregar(std::move(fondo));
    Value contenido = CellContentRenderizable(l, c, k, seccion, r, prefijo, izquierda, arriba, cw,
                                              altoCelda, z, false);
    if (contenido.IsMap()) Agregar(std::move(contenido));
    izquierda += cw;
    if (!fijas && k + 1 < n && InternalSeparatorEnabled(l, k + 1)) {
      Agregar(TrazoRenderizable(Id(prefijo, "_v_", l.nIndice, "_", k + 1), izquierda - bw / 2.0,
                                arriba, bw, altoCelda, z + 0.03, bc));
    }
  }
  if (lados[0] || lados[1] || lados[2] || lados[3]) {
    Agregar(LineaCabeceraRenderizable(Id(prefijo, "_line_", l.nIndice, "_border"), x, yy, h, w, bw,
                                      z + 0.03, "transparent", bc, lados, Value(1), radio));
    if (lados[2]) RegistrarBordeInferior(x, std::max(0.1, w), yy + std::max(0.1, h));
  }
  yy += h + l.rBottom;
}

Value TTableRender::CellBackgroundRenderizable(const TTableCelda& c, std::string_view prefijo,
                                               int64_t linea, size_t k, double x, double yy,
                                               double w, double h) {
  const std::string relleno = LineBackgroundColor(c.hFondo);
  if (relleno == "transparent") return Value();
  Value v = Copia(ProtoFondoCelda());
  Map& m = v.AsMap();
  m.ValueAt(kFId) = Id(prefijo, "_", linea, "_", k, "_cell_bg");
  m.ValueAt(kFX) = Value(x);
  m.ValueAt(kFY) = Value(yy);
  m.ValueAt(kFAncho) = Value(std::max(0.1, w));
  m.ValueAt(kFAlto) = Value(std::max(0.1, h));
  m.ValueAt(kFColorFondo) = Value(relleno);
  m.ValueAt(kFEstilo) = TextoO(c.hFondo.Get("cFillStyle"), "solid");
  m.ValueAt(kFRelleno2) = TextoO(c.hFondo.Get("cFillColor2"), "#ffffff");
  m.ValueAt(kFRelleno3) = TextoO(c.hFondo.Get("cFillColor3"), "#ffffff");
  m.ValueAt(kFOpacidadRelleno) =
      NumeroEntre(c.hFondo, "nFillOpacity", Value(1), Value(0), Value(1));
  Orden(m, kFOrden, z + 0.01);
  return v;
}

TObjectBase* TTableRender::ObjetoCelda(const TTableLinea& l, const TTableCelda& c, size_t k,
                                       int seccion) {
  if (c.aBuscado[seccion]) return c.aObjetos[seccion].get();
  c.aBuscado[seccion] = true;
  const std::string clave = ClaveObjeto(seccion, l.nIndice, k, c.cTipo);
  if (TObjectBase* existente = t.hCellObjectCache.Get(clave).As<TObjectBase>()) {
    c.aObjetos[seccion] = Ref<TObjectBase>(existente);
    return existente;
  }
  Value plantilla = DeepClone(c.hObjeto);
  plantilla.Set("cType", Value(c.cTipo));
  plantilla.Set("nLayerId", t.nLayerId);
  Ref<TObjectBase> objeto = NuevoObjetoCelda(c.cTipo, &t);
  if (!objeto) return nullptr;
  objeto->Load(plantilla);
  objeto->Create();
  t.hCellObjectCache.Set(clave, Value::Object(objeto));
  c.aObjetos[seccion] = objeto;
  return objeto.get();
}

Value TTableRender::CellContentRenderizable(const TTableLinea& l, const TTableCelda& c, size_t k,
                                            int seccion, int64_t r, std::string_view prefijo,
                                            double x, double yy, double w, double h, double zc,
                                            bool cacheable) {
  if (c.cTipo.empty()) return Value();
  const Value idContenido = Id(prefijo, "_", l.nIndice, "_", k, "_", c.cSufijo);
  std::string claveCache;
  Map& cache = t.hCellRenderCache.AsMap();
  if (cacheable || !cache.empty()) {
    claveCache = ClaveObjeto(seccion, l.nIndice, k, c.cTipo) + "|" + (r >= 0 ? Entero(r) : "nil");
    if (const Value* previo = cache.Find(claveCache)) {
      const Value guardado = *previo;
      if (!cacheable) cache.Remove(claveCache);
      if (!guardado.IsMap()) return Value();
      Value copia = Copia(guardado);
      Map& m = copia.AsMap();
      m.Set("id", idContenido);
      m.Set("x", Value(x));
      m.Set("y", Value(yy));
      m.Set("ancho", Value(w));
      m.Set("alto", Value(h));
      const Value zv(zc + 0.02);
      m.Set("ordenOriginal", zv);
      m.Set("capa", zv);
      m.Set("zIndex", zv);
      return copia;
    }
  }

  TObjectBase* objeto = ObjetoCelda(l, c, k, seccion);
  Value resultado;
  if (objeto) {
    objeto->cId = idContenido;
    objeto->nLeft = Value(x);
    objeto->nTop = Value(yy);
    objeto->nWidth = Value(w);
    objeto->nHeight = Value(h);
    objeto->nZIndex = Value(zc + 0.02);
    objeto->nLayerId = t.nLayerId;
    const double t0 = Clock();
    resultado = objeto->GenerarRenderizable(ctx);
    nCellContentMs += Clock() - t0;
    if (c.cTipo == "TText" && resultado.IsMap()) {
      const Value& texto = resultado.Get("texto");
      if (texto.IsText()) {
        const std::string_view recortado = RTrim(texto.Str());
        if (recortado.size() != texto.Str().size()) resultado.Set("texto", Value(recortado));
      }
    }
  }
  if (cacheable) cache.Set(claveCache, resultado.IsMap() ? Copia(resultado) : Value(false));
  return resultado;
}

// ---- Borders and separators

Value TTableRender::LineBorderColor(const TTableLinea& l) {
  const std::string formula(AllTrim(StringValue(HGet(l.hBorde, "cColorFormula"))));
  if (!formula.empty())
    return Value(Lower(t.EvaluarColor(ctx, Value(formula), HGet(l.hBorde, "cColor"), Value(true))));
  const std::string hex = HexMinusculas(HGet(l.hBorde, "cColor"));
  if (!hex.empty()) return Value(hex);
  return marco.IsMap() ? marco.Get("colorBorde") : t.cBorderColor;
}

double TTableRender::LineBorderRadiusMm(double alto, const TTableLinea& l) const {
  const double s = std::max(0.0, std::min(nAncho, alto));
  return std::min(s / 2.0, s * l.nRedondeo / 200.0);
}

void TTableRender::RegistrarBordeInferior(double x, double ancho, double fondo) {
  // Only the latest rectangle of one position and width can answer the adjacency test, so the
  // list stays as short as the table has line shapes and the test never walks the page.
  for (auto it = aBordes.begin(); it != aBordes.end(); ++it) {
    if (it->x == x && it->ancho == ancho) {
      aBordes.erase(it);
      break;
    }
  }
  aBordes.push_back({x, ancho, fondo});
}

bool TTableRender::PreviousAdjacentBottomBorderExists(double x, double yy, double w) const {
  for (auto it = aBordes.rbegin(); it != aBordes.rend(); ++it) {
    if (std::fabs(it->x - x) <= kToleranciaMm && std::fabs(it->ancho - w) <= kToleranciaMm)
      return std::fabs(it->fondo - yy) <= kToleranciaMm;
  }
  return false;
}

bool TTableRender::InternalSeparatorEnabled(const TTableLinea& l, size_t k) {
  // k is 1-based: the separator between cells k and k + 1.
  const TTableCelda& izquierda = l.aCeldas[k - 1];
  const TTableCelda& derecha = l.aCeldas[k];
  if (izquierda.lBordeMapa || derecha.lBordeMapa) return izquierda.lDerecha || derecha.lIzquierda;
  return l.bSeparadores;
}

bool TTableRender::LineUsesFixedVerticalSeparators(int seccion, const TTableLinea& l) const {
  return t.lFixedSeparators && seccion == kDetail && l.aCeldas.size() > 1;
}

Value TTableRender::TrazoRenderizable(const Value& id, double x, double yy, double w, double h,
                                      double zz, const Value& color) {
  Value v = Copia(ProtoTrazo());
  Map& m = v.AsMap();
  const double grosor = std::max(0.1, w);
  m.ValueAt(kTId) = id;
  m.ValueAt(kTX) = Value(x + w / 2.0 - grosor / 2.0);
  m.ValueAt(kTY) = Value(yy);
  m.ValueAt(kTAncho) = Value(grosor);
  m.ValueAt(kTAlto) = Value(std::max(0.1, h));
  m.ValueAt(kTColor) = color;
  m.ValueAt(kTGrosor) = Value(grosor);
  m.ValueAt(kTColorBorde) = color;
  m.ValueAt(kTColorFondo) = color;
  Orden(m, kTOrden, zz);
  return v;
}

void TTableRender::RenderFixedSeparators(double y0, double y1) {
  if (!t.lFixedSeparators || y1 - y0 <= kToleranciaMm) return;
  const TTableLinea* plantilla = nullptr;
  for (const TTableLinea& l : plano->aLineas[kDetail]) {
    if (l.aCeldas.size() > 1) {
      plantilla = &l;
      break;
    }
  }
  if (!plantilla) return;
  const TTableLinea& l = *plantilla;
  const double bw = l.nGrosor;
  const Value bc = LineBorderColor(l);
  const bool izquierda = l.bLeft || l.aCeldas.front().lIzquierda;
  const bool derecha = l.bRight || l.aCeldas.back().lDerecha;
  double ancho = 0.0;
  for (const TTableCelda& c : l.aCeldas) ancho += NumDouble(HGet(c.hCelda, "nWidth"));
  double x = LineRenderLeft(l, ancho, -1) + l.pLeft;
  const double alto = std::max(0.1, y1 - y0 + std::max(0.2, bw));
  const double zz = z + 0.015;
  if (izquierda || derecha) {
    Value v = Copia(ProtoBordesFijos());
    Map& m = v.AsMap();
    m.ValueAt(kEId) = Value(cId + "_fixed_sep_edges");
    m.ValueAt(kEX) = Value(x);
    m.ValueAt(kEY) = Value(y0);
    m.ValueAt(kEAncho) = Value(std::max(0.1, ancho));
    m.ValueAt(kEAlto) = Value(std::max(0.1, alto));
    m.ValueAt(kEColorBorde) = bc;
    m.ValueAt(kEGrosorBorde) = Value(bw);
    m.ValueAt(kEDerecho) = Value(derecha);
    m.ValueAt(kEIzquierdo) = Value(izquierda);
    Orden(m, kEOrden, zz);
    Agregar(std::move(v));
  }
  const size_t n = l.aCeldas.size();
  for (size_t k = 1; k <= n; ++k) {
    x += HHas(l.aCeldas[k - 1].hCelda, "nWidth") ? NumDouble(l.aCeldas[k - 1].hCelda.Get("nWidth"))
                                                 : 1.0;
    if (k < n && InternalSeparatorEnabled(l, k))
      Agregar(TrazoRenderizable(cId + "_fixed_sep_" + Entero(static_cast<int64_t>(k - 1)),
                                x - bw / 2.0, y0, bw, alto, zz, bc));
  }
}

// ---- The record loop

void TTableRender::Marcar(Marca& marca) const {
  if (marca.lActiva) return;
  marca.lActiva = true;
  marca.nSalida = aSalida->size();
  marca.y = y;
  marca.aBordes = aBordes;
}

void TTableRender::GuardarSumas(Marca& marca, const Items& items) {
  const Value& sumas = ctx.GetAcumuladores();
  for (const TTableLinea* l : items) {
    if (!l->aResetAcumuladores.IsList()) continue;
    for (const Value& n : l->aResetAcumuladores.AsList()) {
      if (!n.IsText() || n.Str().empty()) continue;
      const std::string_view nombre = n.Str();
      std::string clave =
          nombre.starts_with("SUM.") ? std::string(nombre) : "SUM." + std::string(nombre);
      const Value* previo = sumas.IsMap() ? sumas.AsMap().Find(clave) : nullptr;
      // Nothing marks a sum that did not exist, so that it is removed again.
      marca.aSumas.emplace_back(std::move(clave), previo ? *previo : Value());
    }
  }
}

void TTableRender::Deshacer(Marca& marca) {
  if (!marca.lActiva) return;
  aSalida->Items().resize(marca.nSalida);
  y = marca.y;
  aBordes = marca.aBordes;
  if (marca.aSumas.empty()) return;
  // The context's own map: the sums are put back in it.
  Value sumas = ctx.GetAcumuladores();
  if (!sumas.IsMap()) return;
  // Latest first, so a sum reset twice gets its first value back.
  for (auto it = marca.aSumas.rbegin(); it != marca.aSumas.rend(); ++it) {
    if (it->second.IsNil())
      sumas.AsMap().Remove(it->first);
    else
      sumas.Set(it->first, it->second);
  }
  // The sums changed behind the context's back: an empty reset makes it read them afresh.
  ctx.ResetAcumuladoresSeleccionados(Value::NewList());
}

bool TTableRender::ProcesarRegistro(const Value& registro, int64_t i) {
  const int64_t continuacion = DetailContinuationOffset(i);
  const EstadoGrupo g = GroupState(registro, i, continuacion);

  if (TableRequestsPageBreakBefore() && !AtBodyStart(y)) return false;

  // Where the record began: its page-break tests look here, and a record that prints none of
  // its detail lines takes back what it printed above them.
  const bool alInicio = AtBodyStart(y);
  Marca marca;
  auto detener = [&] {
    Deshacer(marca);
    return false;
  };

  bool concatHonrado = false;
  if (g.lEmpieza) {
    aCabecera.clear();
    if (g.lElegible) {
      PartitionSectionLines(kGroupHeader, i, aCabecera, nullptr);
      GroupBoundaryLines(aCabecera, kGroupHeader, g.vActual, g.hAnterior, g.vAnterior);
    }
    const double alturaCabecera = SectionLinesHeight(aCabecera);
    double alturaConcat = 0.0;
    if (plano->lConcatNextDataLine && !aCabecera.empty()) {
      PartitionSectionLines(kDetail, i, aConcat, nullptr);
      if (!aConcat.empty())
        alturaConcat = SectionKeepsTogether(aConcat) ? SectionLinesHeight(aConcat)
                                                     : std::max(0.0, aConcat.front()->nAlto);
      if (SectionRequestsPageBreakBefore(aConcat) && !alInicio) return false;
      concatHonrado = true;
    }
    if (SectionRequestsPageBreakBefore(aCabecera) && !alInicio) return false;
    if (!Fits(alturaCabecera)) return false;
    if (alturaConcat > 0.0 && !Fits(alturaCabecera + alturaConcat) && !alInicio) return false;
    if (!aCabecera.empty()) {
      Marcar(marca);
      GuardarSumas(marca, aCabecera);
    }
    ResetLineAcumuladores(aCabecera);
    y = RenderSectionLines(kGroupHeader, aCabecera, y, i);
  }

  if (g.lElegible && g.lContinua && !lRepeticionHecha && AtBodyStart(y)) {
    PartitionSectionLines(kGroupHeader, i, aRepetida, nullptr);
    if (SectionRepeatAsHeader(aRepetida)) {
      if (!Fits(SectionLinesHeight(aRepetida))) return detener();
      Marcar(marca);
      y = RenderSectionLines(kGroupHeaderRepeat, aRepetida, y, i);
      lRepeticionHecha = true;
    }
  }

  PartitionSectionLines(kDetail, i, aDetalle, &aOcultas);
  // The record's options are those of all its visible lines, also when it resumes: a record
  // declared splittable stays splittable after its first part.
  const bool juntas = SectionKeepsTogether(aDetalle);
  const bool saltoAntes = SectionRequestsPageBreakBefore(aDetalle);
  const bool saltoDespues = SectionRequestsPageBreakAfter(aDetalle);
  aPie.clear();
  if (g.lTermina) {
    PartitionSectionLines(kGroupFooter, i, aPie, nullptr);
    GroupBoundaryLines(aPie, kGroupFooter, g.vActual, g.hSiguiente, g.vSiguiente);
  }
  if (continuacion > 0) {
    const size_t quitar = std::min(aDetalle.size(), static_cast<size_t>(continuacion));
    aDetalle.erase(aDetalle.begin(), aDetalle.begin() + static_cast<std::ptrdiff_t>(quitar));
  }
  const double alturaDetalle = SectionLinesHeight(aDetalle);
  const bool piePegado = g.lTermina && SectionKeepWithPrevious(aPie, kGroupFooter);
  const double reservaPie = piePegado ? SectionLinesHeight(aPie) : 0.0;
  if (piePegado && SectionRequestsPageBreakBefore(aPie) && !alInicio) return detener();

  const bool conDetalle = alturaDetalle > 0.0;
  if (conDetalle) {
    if (saltoAntes && !concatHonrado && !alInicio) return detener();
    if (!juntas) {
      const size_t caben = FittingSectionLines(
          aDetalle, std::max(0.0, nLimiteCuerpo - y - reservaPie), AtBodyStart(y));
      if (caben < aDetalle.size()) {
        if (caben == 0) return detener();
        if (!lHayDetalle) {
          nPrimerDetalle = y;
          lHayDetalle = true;
        }
        const Items parte(aDetalle.begin(), aDetalle.begin() + static_cast<std::ptrdiff_t>(caben));
        y = RenderSectionLines(kDetail, parte, y, i);
        // The rest of the record prints on the next page; it is neither summed nor consumed.
        SetDetailContinuation(i, continuacion + static_cast<int64_t>(caben));
        return false;
      }
      // Every line fits: the record is placed, with no second test of the same height.
    } else if (!Fits(alturaDetalle + reservaPie)) {
      return detener();
    }
    if (!lHayDetalle) {
      nPrimerDetalle = y;
      lHayDetalle = true;
    }
    y = RenderSectionLines(kDetail, aDetalle, y, i);
    ClearDetailContinuation();
    AcumularDetalle();
    const bool seguidoDePie = g.lTermina && !aPie.empty();
    if (saltoDespues && i < nCount - 1 && !seguidoDePie) {
      MarkRecordConsumed(i);
      return false;
    }
  } else {
    // The footer is tested before a forced addition, so a record that moves to the next page
    // with its footer is not added to the sums twice.
    if (g.lTermina && !Fits(SectionLinesHeight(aPie))) return detener();
    if (SectionForcesAccumulators(aOcultas)) AcumularDetalle();
  }

  if (g.lTermina) {
    // After detail lines the footer's room was part of their test: a printed and summed record
    // is not left behind by a second test of the same room.
    t.hCellRenderCache = Value::NewMap();
    y = RenderSectionLines(kGroupFooter, aPie, y, i);
    ResetLineAcumuladores(aPie);
    if (SectionRequestsPageBreakAfter(aPie) && i < nCount - 1) {
      MarkRecordConsumed(i);
      return false;
    }
  }
  MarkRecordConsumed(i);
  return true;
}

// ---------------------------------------------------------------------------

Value TTable::GenerarRenderizable(TContextoEjecucion& context) {
  TTableRender render(*this, context);
  return render.Ejecutar();
}

}  // namespace kx
