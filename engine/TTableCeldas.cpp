// The table's lines and cells, borders and fixed separators.
#include <charconv>

#include "TBarcode.h"
#include "TImage.h"
#include "TRichText.h"
#include "TTableInterno.h"
#include "TText.h"

namespace kx {

namespace {

Value Copia(const Map& prototipo) {
  return Value(MakeRef<Map>(prototipo));
}

void Orden(Map& m, size_t desde, double z) {
  const Value zv(z);
  m.ValueAt(desde) = zv;
  m.ValueAt(desde + 1) = zv;
  m.ValueAt(desde + 2) = zv;
}

// The "texto" of a rendered text: in the place the text object's order gives it
// (id, tipo, x, y, ancho, alto, texto), else wherever the map holds it.
Value* TextoRenderizado(Map& m) {
  constexpr size_t kPosicion = 6;
  if (m.size() > kPosicion && m.KeyAt(kPosicion) == "texto") return &m.ValueAt(kPosicion);
  return m.Find("texto");
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
  const uint64_t t0 = platform::TickCount();
  double yy = yInicial;
  for (const TTableLinea* l : items) RenderLinea(seccion, *l, yy, r);
  nRenderLinesTicks += platform::TickCount() - t0;
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

std::string TTableRender::LineBackgroundColor(const Value& fondo, const TTableColor& color) {
  if (!color.cFormula.empty())
    return Lower(t.EvaluarColor(ctx, Value(color.cFormula), HGet(fondo, "cColor"), Value(true)));
  return color.cFijo.IsText() ? std::string(color.cFijo.Str()) : "transparent";
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
  std::string relleno = LineBackgroundColor(l.hFondo, l.oFondo);
  Value opacidad(1);
  if (seccion == kDetail && r >= 0 && l.lZebra) {
    const bool par = GlobalRecordIndex(r) % 2 == 0;
    const std::string& color = par ? l.cZebra1 : l.cZebra2;
    if (!color.empty()) relleno = color;
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
  // Most cells have no background of their own: nothing is made for them.
  if (c.oFondo.cFormula.empty() && !c.oFondo.cFijo.IsText()) return Value();
  const std::string relleno = LineBackgroundColor(c.hFondo, c.oFondo);
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
      Value copia = Copia(guardado.AsMap());
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
    const uint64_t t0 = platform::TickCount();
    resultado = objeto->GenerarRenderizable(ctx);
    nCellContentTicks += platform::TickCount() - t0;
    if (c.cTipo == "TText" && resultado.IsMap()) {
      if (Value* texto = TextoRenderizado(resultado.AsMap()); texto && texto->IsText()) {
        const std::string_view recortado = RTrim(texto->Str());
        if (recortado.size() != texto->Str().size()) *texto = Value(recortado);
      }
    }
  }
  if (cacheable) cache.Set(claveCache, resultado.IsMap() ? Copia(resultado.AsMap()) : Value(false));
  return resultado;
}

// ---- Borders and separators

Value TTableRender::LineBorderColor(const TTableLinea& l) {
  const TTableColor& color = l.oBorde;
  if (!color.cFormula.empty())
    return Value(
        Lower(t.EvaluarColor(ctx, Value(color.cFormula), HGet(l.hBorde, "cColor"), Value(true))));
  return color.cFijo.IsText() ? color.cFijo : cColorBordeMarco;
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

}  // namespace kx
