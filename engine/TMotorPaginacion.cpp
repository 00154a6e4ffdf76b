#include "TMotorPaginacion.h"

#include <algorithm>
#include <limits>

namespace kx {

namespace {

// One typographic point in mm, as this literal rather than 25.4 / 72: the
// last digits decide whether a box of exactly n lines holds n lines.
constexpr double kPuntoMm = 0.352777777777778;
constexpr double kFactorAnchoCaracter = 0.52;
constexpr double kTamanoPorDefecto = 10;
constexpr double kTamanoMinimo = 0.1;
constexpr double kAltoLineaMinimo = 0.1;
// A chunk may exceed the usable height by this much, so that a box of
// exactly n lines holds n lines despite the rounding of the sum.
constexpr double kTolerancia = 1e-06;
constexpr int64_t kSinLimite = 2147483647;
constexpr double kMargenContinuoPorDefecto = 5;

constexpr std::string_view kSufijoPagina = "__page_";

// Past the last run: bytes beyond the runs' text, kept apart from the last
// run's own bytes.
constexpr size_t kFueraDeRuns = std::numeric_limits<size_t>::max();

bool EsContinuacion(char c) {
  return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// Bytes of the character at byte i: its first byte and the continuation
// bytes after it, so a multi-byte sequence is never split.
size_t LargoCaracter(std::string_view s, size_t i) {
  size_t fin = i + 1;
  while (fin < s.size() && EsContinuacion(s[fin])) ++fin;
  return fin - i;
}

bool EsBlanco(char c) {
  return c == ' ' || c == '\t';
}

bool EsFinLinea(char c) {
  return c == '\n' || c == '\r';
}

double Numero(const Value& map, std::string_view key, const Value& def = Value(0)) {
  return ValueDouble(HGet(map, key, def));
}

double NoNegativo(const Value& map, std::string_view key) {
  return std::max(0.0, Numero(map, key));
}

// A rendered text that its own template allows to break over pages.
bool EsTextoDivisible(const Value& map, KeyHint& tipoClave, KeyHint& permiteClave) {
  if (!map.IsMap()) return false;
  const Value& tipo = tipoClave.Get(map);
  if (!tipo.IsText() || (tipo.Str() != "texto" && tipo.Str() != "texto_formateado")) return false;
  const Value& permite = permiteClave.Get(map);
  return permite.IsLogical() && permite.Bool();
}

// Every CR LF pair, then every lone CR, becomes LF.
std::string NormalizarFinesLinea(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\r') {
      out.push_back(s[i]);
      continue;
    }
    out.push_back('\n');
    if (i + 1 < s.size() && s[i + 1] == '\n') ++i;
  }
  return out;
}

// A copy of the map whose lists and maps are copied too; texts and other
// scalars are immutable and shared.
Value CopiaMapa(const Map& source, std::string_view omitida = {}) {
  Value copia = Value::NewMap();
  Map& destino = copia.AsMap();
  destino.Reserve(source.size() + 3);
  for (const Map::Entry& e : source) {
    const bool contenedor = e.value.IsList() || e.value.IsMap();
    if (contenedor && !omitida.empty() && e.key.Str() == omitida) {
      destino.Append(e.key, Value());  // keeps its place; the caller sets it
    } else {
      destino.Append(e.key, contenedor ? DeepClone(e.value) : e.value);
    }
  }
  return copia;
}

// The source text of run i: its "cText"; a run that is not a map, or whose
// "cText" is not a text, holds none.
std::string_view TextoRun(const List& runs, size_t i) {
  const Value& cText = runs[i].Get("cText");
  return cText.IsText() ? cText.Str() : std::string_view();
}

// The runs' text as one source walked with a cursor (run, byte) that only
// moves forward; the current run's text is looked up once per run.
class FuenteRuns {
 public:
  FuenteRuns(const List& runs, size_t& nRun, size_t& nChar)
      : runs_(runs), nRun_(nRun), nChar_(nChar) {
    Cargar();
  }

  // Moves past the runs whose text is used up; true while on a source byte.
  bool Localizar() {
    while (nRun_ < runs_.size() && nChar_ >= texto_.size()) {
      ++nRun_;
      nChar_ = 0;
      Cargar();
    }
    return nRun_ < runs_.size();
  }
  // The source byte under the cursor; only after `Localizar` answered true.
  char Byte() const { return texto_[nChar_]; }
  void Avanzar() { ++nChar_; }
  size_t Run() const { return nRun_; }

 private:
  void Cargar() { texto_ = nRun_ < runs_.size() ? TextoRun(runs_, nRun_) : std::string_view(); }

  const List& runs_;
  size_t& nRun_;
  size_t& nChar_;
  std::string_view texto_;
};

// Collects the re-cut runs: consecutive characters from the same source run
// go into one element, a deep copy of that run with their bytes as "cText".
class RunsFragmento {
 public:
  explicit RunsFragmento(const List& runs) : runs_(runs), resultado_(Value::NewList()) {}

  void Agregar(std::string_view bytes, size_t origen) {
    if (origen != origen_) {
      Cerrar();
      origen_ = origen;
    }
    texto_.append(bytes);
  }

  Value Terminar() {
    Cerrar();
    return resultado_;
  }

 private:
  void Cerrar() {
    if (origen_ == kNinguno) return;
    // Past the end the last run's style goes on (none when there are no runs).
    const Value& run = origen_ != kFueraDeRuns ? runs_[origen_]
                       : runs_.empty()         ? kNil
                                               : runs_[runs_.size() - 1];
    Value copia = run.IsMap() ? CopiaMapa(run.AsMap()) : Value::NewMap();
    copia.Set("cText", Value(texto_));
    resultado_.Push(std::move(copia));
    texto_.clear();
    origen_ = kNinguno;
  }

  static constexpr size_t kNinguno = kFueraDeRuns - 1;

  const List& runs_;
  Value resultado_;
  size_t origen_ = kNinguno;
  std::string texto_;
};

}  // namespace

// ---------------------------------------------------------------------------
// Lifecycle

TMotorPaginacion::TMotorPaginacion(const Value& options) {
  Init(options);
}

TMotorPaginacion& TMotorPaginacion::Init(const Value& options) {
  hOpciones = options.IsMap() ? options : Value::NewMap();
  lCreated = false;
  lIgnorarSaltosPagina = false;
  return *this;
}

TMotorPaginacion& TMotorPaginacion::Create() {
  lCreated = true;
  return *this;
}

void TMotorPaginacion::End() {
  hOpciones = Value::NewMap();
  lCreated = false;
  lIgnorarSaltosPagina = false;
}

TMotorPaginacion& TMotorPaginacion::SetOpciones(const Value& options) {
  hOpciones = options.IsMap() ? options : Value::NewMap();
  return *this;
}

TMotorPaginacion& TMotorPaginacion::SetIgnorarSaltosPagina(const Value& flag) {
  lIgnorarSaltosPagina = flag.IsLogical() && flag.Bool();
  return *this;
}

// ---------------------------------------------------------------------------
// Pages

Ref<TDocumentoRenderizable> TMotorPaginacion::Paginar(const Value& pageSpec, const Value& objects) {
  const Value ancho = ValueNumber(HGet(pageSpec, "ancho", Value(0)));
  Value alto = ValueNumber(HGet(pageSpec, "alto", Value(0)));
  const std::string modo = Lower(AllTrim(ValueString(HGet(pageSpec, "modoAlto", Value("fixed")))));
  const bool contenido = modo == "content";
  if (contenido) {
    const Value margen =
        ValueNumber(HGet(pageSpec, "margenInferiorContinuo", Value(kMargenContinuoPorDefecto)));
    alto = Value(CalcularAltoContenido(objects, margen));
  }

  Ref<TDocumentoRenderizable> documento = MakeRef<TDocumentoRenderizable>(ancho, alto);
  documento->Create();
  documento->SetPaperHeightMode(Value(contenido ? "content" : "fixed"));
  if (contenido) {
    // One roll of paper: nothing is split and the list goes in as it comes.
    documento->AddPagina(objects);
  } else {
    const Value paginas = DividirObjetos(objects);
    for (const Value& pagina : paginas.AsList()) documento->AddPagina(pagina);
  }
  return documento;
}

Value TMotorPaginacion::DividirObjetos(const Value& objects) {
  Value paginas = Value::NewList({Value::NewList()});
  if (!objects.IsList()) return paginas;
  List& lista = paginas.AsList();
  lista[0].AsList().Reserve(objects.Len());
  for (const Value& objeto : objects.AsList()) {
    if (!objeto.IsMap()) continue;
    if (!SeDivide(objeto)) {
      // Objects that are not split pass through by reference.
      lista[0].Push(objeto);
      continue;
    }
    const Value fragmentos = DividirTexto(objeto);
    const List& partes = fragmentos.AsList();
    while (lista.size() < partes.size()) lista.Add(Value::NewList());
    for (size_t k = 0; k < partes.size(); ++k) lista[k].Push(partes[k]);
  }
  return paginas;
}

double TMotorPaginacion::CalcularAltoContenido(const Value& objects, const Value& margin) {
  const double margen = ValueDouble(margin);
  if (!objects.IsList()) return std::max(1.0, margen);
  double fondo = 0;
  for (const Value& objeto : objects.AsList()) {
    if (!objeto.IsMap()) continue;
    const double base =
        Numero(objeto, "y") + NoNegativo(objeto, "alto") + NoNegativo(objeto, "sombraTamano");
    fondo = std::max(fondo, base);
  }
  return std::max(1.0, fondo + std::max(0.0, margen));
}

bool TMotorPaginacion::SeDivide(const Value& map) const {
  return !lIgnorarSaltosPagina && EsTextoDivisible(map, oTipo_, oPermiteSalto_);
}

// ---------------------------------------------------------------------------
// Splitting a text

std::vector<TMotorPaginacion::FragmentoTexto> TMotorPaginacion::CortarTexto(
    const Value& map) const {
  if (!SeDivide(map)) return {};
  const LineasTexto lineas = LineasVisuales(map);
  const std::vector<Trozo> trozos = FragmentarLineas(map, lineas.aLineas);
  if (trozos.size() <= 1) return {};
  std::vector<FragmentoTexto> partes;
  partes.reserve(trozos.size());
  std::vector<std::string_view> textos;
  for (const Trozo& trozo : trozos) {
    textos.clear();
    Value finales = Value::NewList();
    finales.AsList().Reserve(trozo.nCuantas);
    for (size_t i = trozo.nPrimera; i < trozo.nPrimera + trozo.nCuantas; ++i) {
      textos.push_back(lineas.Texto(lineas.aLineas[i]));
      finales.Push(Value(lineas.aLineas[i].lFinParrafo));
    }
    partes.push_back(FragmentoTexto{UnirLineas(textos), std::move(finales)});
  }
  return partes;
}

Value TMotorPaginacion::DividirTexto(const Value& map) const {
  std::vector<FragmentoTexto> partes = CortarTexto(map);
  if (partes.empty()) return Value::NewList({map});

  const bool formateado = map.Get("tipo").Str() == "texto_formateado";
  const Value runs = HGet(map, "runs", Value::NewList());
  const Value idOrigen = HGet(map, "id", Value(""));
  const std::string cId = ValueString(idOrigen);
  CursorRuns cursor;

  Value fragmentos = Value::NewList();
  fragmentos.AsList().Reserve(partes.size());
  for (size_t k = 0; k < partes.size(); ++k) {
    FragmentoTexto& parte = partes[k];
    const int64_t nPagina = static_cast<int64_t>(k) + 1;

    // The source's runs are re-cut below, so they are not copied first.
    Value fragmento = CopiaMapa(map.AsMap(), formateado ? "runs" : "");
    if (formateado) fragmento.Set("runs", FragmentRichTextRuns(runs, parte.cTexto, cursor));
    fragmento.Set("texto", Value(std::move(parte.cTexto)));
    fragmento.Set("finalesParrafo", parte.aFinalesParrafo);
    fragmento.Set("idOrigenPaginacion", DeepClone(idOrigen));
    fragmento.Set("nPaginaContinuacion", Value(nPagina));
    if (nPagina > 1 && !cId.empty()) {
      fragmento.Set("id", Value(cId + std::string(kSufijoPagina) + std::to_string(nPagina)));
    }
    fragmentos.Push(std::move(fragmento));
  }
  return fragmentos;
}

Value TMotorPaginacion::FragmentRichTextRuns(const Value& runs, std::string_view fragment,
                                             CursorRuns& cursor) {
  if (!runs.IsList()) return Value::NewList();
  const List& fuente = runs.AsList();
  RunsFragmento salida(fuente);

  // Whole characters are walked, so a character whose bytes the source does
  // not hold at the same place still lands in one run. CR, alone or before
  // LF, ends a paragraph in the source just as LF does in the fragment.
  FuenteRuns src(fuente, cursor.nRun, cursor.nChar);
  for (size_t i = 0; i < fragment.size();) {
    const size_t largo = LargoCaracter(fragment, i);
    const bool esLF = fragment[i] == '\n';
    bool hay = src.Localizar();
    if (!esLF) {
      // Paragraph ends that fell between two fragments.
      while (hay && EsFinLinea(src.Byte())) {
        src.Avanzar();
        hay = src.Localizar();
      }
    }
    salida.Agregar(fragment.substr(i, largo), hay ? src.Run() : kFueraDeRuns);

    if (esLF) {
      // An LF that the wrap inserted consumes no source byte.
      const char fin = hay ? src.Byte() : '\0';
      if (fin == '\n') {
        src.Avanzar();
      } else if (fin == '\r') {
        src.Avanzar();
        if (src.Localizar() && src.Byte() == '\n') src.Avanzar();
      }
    } else {
      for (size_t b = 0; b < largo && src.Localizar(); ++b) src.Avanzar();
    }
    i += largo;
  }
  return salida.Terminar();
}

// ---------------------------------------------------------------------------
// Line model

std::vector<TMotorPaginacion::Trozo> TMotorPaginacion::FragmentarLineas(
    const Value& map, const std::vector<LineaVisual>& lines) {
  const double altoUtil = NoNegativo(map, "alto") - NoNegativo(map, "paddingSuperior") -
                          NoNegativo(map, "paddingInferior");
  if (altoUtil <= 0 || lines.empty()) return {Trozo{0, lines.size()}};

  const double tamano = std::max(kTamanoMinimo, Numero(map, "tamano", Value(kTamanoPorDefecto)));
  const Value interlineado = HGet(map, "interlineado", Value(0));
  const double espaciado = ValueDouble(interlineado);
  const double espaciadoParrafo = Numero(map, "espaciadoParrafo", interlineado);
  const double altoInterior = std::max(kAltoLineaMinimo, (tamano + espaciado) * kPuntoMm);
  const double altoFinal = std::max(kAltoLineaMinimo, (tamano + espaciadoParrafo) * kPuntoMm);

  std::vector<Trozo> trozos;
  Trozo actual;
  double altoActual = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    const double alto = lines[i].lFinParrafo ? altoFinal : altoInterior;
    if (actual.nCuantas > 0 && altoActual + alto > altoUtil + kTolerancia) {
      trozos.push_back(actual);
      actual = Trozo{i, 0};
      altoActual = 0;
    }
    ++actual.nCuantas;
    altoActual += alto;
  }
  trozos.push_back(actual);
  return trozos;
}

TMotorPaginacion::LineasTexto TMotorPaginacion::LineasVisuales(const Value& map) {
  LineasTexto resultado;
  const Value texto = HGet(map, "texto", Value(""));
  const std::string_view original = texto.IsText() ? texto.Str() : std::string_view();
  if (!texto.IsText()) {
    resultado.cTexto = Value(ValueString(texto));
  } else if (original.find('\r') != std::string_view::npos) {
    resultado.cTexto = Value(NormalizarFinesLinea(original));
  } else {
    resultado.cTexto = texto;  // shared, not copied
  }

  const std::string_view normal = resultado.cTexto.Str();
  const std::vector<std::string_view> parrafos = SepararLineas(normal);
  const Value& ajuste = map.Get("ajusteLinea");
  const bool ajustar = !(ajuste.IsLogical() && !ajuste.Bool());
  const int64_t n = ajustar ? CaracteresPorLinea(map) : kSinLimite;

  auto desde = [&](std::string_view parte, bool fin) {
    resultado.aLineas.push_back(
        LineaVisual{static_cast<size_t>(parte.data() - normal.data()), parte.size(), fin});
  };
  for (std::string_view parrafo : parrafos) {
    if (!ajustar) {
      desde(parrafo, true);
      continue;
    }
    const std::vector<std::string_view> partes = PartirParrafo(parrafo, n);
    for (size_t j = 0; j < partes.size(); ++j) desde(partes[j], j + 1 == partes.size());
  }
  return resultado;
}

int64_t TMotorPaginacion::CaracteresPorLinea(const Value& map) {
  const double anchoUtil = NoNegativo(map, "ancho") - NoNegativo(map, "paddingIzquierdo") -
                           NoNegativo(map, "paddingDerecho");
  const double tamano = std::max(kTamanoMinimo, Numero(map, "tamano", Value(kTamanoPorDefecto)));
  const double anchoCaracter = tamano * kPuntoMm * kFactorAnchoCaracter;
  if (!(anchoUtil > 0)) return kSinLimite;
  return std::max<int64_t>(1, DoubleToInt(anchoUtil / anchoCaracter));
}

std::vector<std::string_view> TMotorPaginacion::PartirParrafo(std::string_view paragraph,
                                                              int64_t n) {
  std::vector<std::string_view> lineas;
  if (paragraph.empty()) {
    lineas.push_back(paragraph);
    return lineas;
  }
  n = std::max<int64_t>(1, n);
  // One walk over the paragraph: after a cut at a blank, the characters
  // already walked past it (none of them a blank) start the next line.
  size_t inicio = 0;
  size_t pos = 0;
  int64_t caracteres = 0;
  size_t trasBlanco = std::string_view::npos;  // byte just after the line's last blank
  int64_t caracteresHastaBlanco = 0;
  for (;;) {
    while (pos < paragraph.size() && caracteres < n) {
      const size_t largo = LargoCaracter(paragraph, pos);
      ++caracteres;
      if (EsBlanco(paragraph[pos])) {
        trasBlanco = pos + 1;
        caracteresHastaBlanco = caracteres;
      }
      pos += largo;
    }
    if (pos >= paragraph.size()) {
      lineas.push_back(paragraph.substr(inicio));
      return lineas;
    }
    if (trasBlanco != std::string_view::npos) {
      lineas.push_back(paragraph.substr(inicio, trasBlanco - inicio));
      caracteres -= caracteresHastaBlanco;
      inicio = trasBlanco;
    } else {
      lineas.push_back(paragraph.substr(inicio, pos - inicio));
      caracteres = 0;
      inicio = pos;
    }
    trasBlanco = std::string_view::npos;
  }
}

std::vector<std::string_view> TMotorPaginacion::SepararLineas(std::string_view text) {
  std::vector<std::string_view> partes;
  size_t inicio = 0;
  for (;;) {
    const size_t lf = text.find('\n', inicio);
    if (lf == std::string_view::npos) {
      partes.push_back(text.substr(inicio));
      return partes;
    }
    partes.push_back(text.substr(inicio, lf - inicio));
    inicio = lf + 1;
  }
}

std::string TMotorPaginacion::UnirLineas(std::span<const std::string_view> lines) {
  size_t total = lines.empty() ? 0 : lines.size() - 1;
  for (std::string_view linea : lines) total += linea.size();
  std::string texto;
  texto.reserve(total);
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) texto.push_back('\n');
    texto.append(lines[i]);
  }
  return texto;
}

}  // namespace kx
