// The table's compiled sections and the prototypes of its rendered maps.
#include "FormulaSyntax.h"
#include "TTableInterno.h"

namespace kx {

namespace tabla {

namespace {

double Entre(double v, double lo, double hi) {
  return std::min(hi, std::max(lo, v));
}

// A side of a border map: missing counts as on, any value but the logical true as off.
bool Lado(const Value& borde, std::string_view key) {
  const Value* v = borde.IsMap() ? borde.AsMap().Find(key) : nullptr;
  return !v || SoloVerdadero(*v);
}

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
  c.oFondo = TTableColor::De(c.hFondo);
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
    auto color = [&](std::string_view key) {
      const Value& v = HGet(zebra, key);
      return ISHEXCOLOR6(v) ? Lower(v.Str()) : std::string();
    };
    l.cZebra1 = color("cColor1");
    l.cZebra2 = color("cColor2");
    l.nZebraOpacidad1 = NumeroEntre(zebra, "nColor1Opacity", Value(1), Value(0), Value(1));
    l.nZebraOpacidad2 = NumeroEntre(zebra, "nColor2Opacity", Value(1), Value(0), Value(1));
  }
  l.hFondo = HGet(linea, "hBackground").IsMap() ? HGet(linea, "hBackground")
                                                : TTable::DefaultHeaderLineBackground();
  l.oFondo = TTableColor::De(l.hFondo);
  l.hBorde =
      HGet(linea, "hBorder").IsMap() ? HGet(linea, "hBorder") : TTable::DefaultHeaderLineBorder();
  l.oBorde = TTableColor::De(l.hBorde);
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

}  // namespace

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
  for (const TTableLinea& l : plano->aLineas[kGroupFooter])
    if (!l.cCondicion.empty() || !l.cSupresion.empty() || l.lIgnoreEmpty)
      plano->lPieCondicionado = true;
  // The sections of a template nest a few levels; a deeper map is no table's.
  plano->lUltimaPagina = AlgunTexto(secciones, UsaUltimaPagina, 32);
  plano->lListaRegistros = !plano->aLineas[kDetail].empty() ||
                           !plano->aLineas[kGroupHeader].empty() ||
                           !plano->aLineas[kGroupFooter].empty();
  return plano;
}

const Map& ProtoLinea() {
  static const Map& v = ConstantMap({
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

const Map& ProtoFondoCelda() {
  static const Map& v = ConstantMap({
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

const Map& ProtoTrazo() {
  static const Map& v = ConstantMap({
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

const Map& ProtoBordesFijos() {
  static const Map& v = ConstantMap({
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

}  // namespace tabla

}  // namespace kx
