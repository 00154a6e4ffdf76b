#include "TTable.h"

#include "TTableInterno.h"

namespace kx {

namespace {

// Column fitting is finer than the layout.
constexpr double kToleranciaColumnas = 0.01;
constexpr double kCorreccionMinima = 1e-06;

// A flag that is false only for the logical false.
bool SalvoFalso(const Value& v) {
  return !(v.IsLogical() && !v.Bool());
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

// A deep copy of the first map, then every key of the second and of the third assigned in turn.
Value MergeHashes(const Value& a, const Value& b, const Value& c) {
  Value out = a.IsMap() ? DeepClone(a) : Value::NewMap();
  for (const Value* extra : {&b, &c}) {
    if (const Map* m = extra->MapPtr())
      for (const Map::Entry& e : *m) out.AsMap().SetKey(e.key, e.value);
  }
  return out;
}

}  // namespace

// ---------------------------------------------------------------------------
// Lifecycle

TTable::TTable(TReportNode* parent) : TRectangle(parent) {
  TTable::Init(parent);
}

TTable::~TTable() {
  // Ending the cached cell objects leaves a fresh cache behind, which
  // allocates: a destructor that runs while memory has run out must not
  // throw, and the cache goes with the table anyway.
  try {
    ClearCellObjectCache();
  } catch (...) {
  }
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

bool TTable::ListaRegistrosDelTrabajo() const {
  for (std::string_view seccion : {"detail", "groupHeader", "groupFooter"})
    if (HGet(HGet(hNormalizedSectionsCache, seccion), "aLines").Len() > 0) return true;
  return false;
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

Value TTable::GenerarRenderizable(TContextoEjecucion& context) {
  TTableRender render(*this, context);
  return render.Ejecutar();
}

}  // namespace kx
