// What the table's source files share: the layout tolerances, the value
// readers of the table's maps, the compiled sections, the prototypes of the
// rendered maps and the render of one page (`TTableRender`), whose steps are
// spread over the sources by concern:
//  - TTablePlano.cpp: the sections compiled once from the normalised maps, the prototypes;
//  - TTableRender.cpp: setup, visibility and measures, and the record loop of one page;
//  - TTableRegistros.cpp: records, the context protocol and grouping;
//  - TTableCeldas.cpp: lines, cells, borders and separators.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "Platform.h"
#include "RegistrosDetalle.h"
#include "TContextoEjecucion.h"
#include "TTable.h"
#include "ValoresObjeto.h"

namespace kx {

namespace tabla {

// Every comparison of positions in the layout (fitting, adjacency, "at body start").
inline constexpr double kToleranciaMm = 0.25;
// Heights are sums of the same lines added in different orders: two checks of one height must
// not disagree by the last bits of a double.
inline constexpr double kRuidoMm = 1e-07;

// ---- Value functions shared by the table

inline bool HHas(const Value& m, std::string_view key) {
  return m.IsMap() && m.AsMap().Has(key);
}

inline Value AsHash(const Value& v) {
  return v.IsMap() ? v : Value::NewMap();
}

// A flag that is true only for the logical true.
inline bool SoloVerdadero(const Value& v) {
  return v.IsLogical() && v.Bool();
}

inline Value TextoO(const Value& v, std::string_view def) {
  return v.IsText() ? v : Value(def);
}

// The object rule of numbers: a logical reads as 0.
inline Value NumValue(const Value& v) {
  return objeto::ValorANumero(v);
}

inline double NumDouble(const Value& v) {
  return NumValue(v).Double();
}

inline std::string StringValue(const Value& v) {
  return ValueString(v);
}

// A text that is a hex colour.
inline bool ISHEXCOLOR6(const Value& v) {
  return v.IsText() && EsColorHex(v.Str());
}

// A hex colour in lower case, or "" when the value's text is not one.
inline std::string HexMinusculas(const Value& v) {
  const Value t(AllTrim(StringValue(v)));
  return ISHEXCOLOR6(t) ? Lower(t.Str()) : std::string();
}

// The numeric value of the key (the default when absent) clamped to lo..hi.
inline Value NumeroEntre(const Value& m, std::string_view key, const Value& def, const Value& lo,
                         const Value& hi) {
  const Value n = HHas(m, key) ? NumValue(m.Get(key)) : def;
  if (n.Double() < lo.Double()) return lo;
  if (n.Double() > hi.Double()) return hi;
  return n;
}

// A number's text without decimals when integral.
inline std::string Entero(int64_t n) {
  return PlainText(Value(n));
}

// ---------------------------------------------------------------------------
// The compiled sections: every value the renderer reads per record, taken once from the
// normalised maps.

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
inline constexpr int kSeccionesPlano = 5;
inline constexpr int kSeccionesRender = 6;
inline constexpr std::string_view kNombreSeccion[kSeccionesRender] = {
    "header", "detail", "footer", "groupHeader", "groupFooter", "groupHeaderRepeat"};

inline double Clock() {
  return platform::MillisecondClock();
}

}  // namespace tabla

using namespace tabla;

// A colour map's colour as compiled: its formula, or the colour it gives without one.
struct TTableColor {
  std::string cFormula;  // "cColorFormula" trimmed; "" when there is none
  Value cFijo;           // without a formula: "cColor" as a lower-case hex colour, else nothing

  static TTableColor De(const Value& mapa) {
    TTableColor c;
    c.cFormula = std::string(AllTrim(StringValue(HGet(mapa, "cColorFormula"))));
    const std::string hex = HexMinusculas(HGet(mapa, "cColor"));
    if (!hex.empty()) c.cFijo = Value(hex);
    return c;
  }
};

struct TTableCelda {
  Value hCelda;
  double nAncho = 1.0;       // the cell box ("nWidth", default 1)
  double nAnchoLinea = 0.0;  // its share of the line width: max(0, "nWidth")
  bool lBordeMapa = false;   // the cell has a border map
  bool lIzquierda = false;   // its border's "lLeft" is the logical true
  bool lDerecha = false;     // its border's "lRight" is the logical true
  Value hFondo;              // the cell's background map
  TTableColor oFondo;        // its colour
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
  // The zebra colours in lower case, "" for one that is not a hex colour (the
  // line keeps its own background), and their opacities.
  std::string cZebra1, cZebra2;
  Value nZebraOpacidad1, nZebraOpacidad2;
  Value hFondo;
  TTableColor oFondo;  // its colour
  Value hBorde;
  TTableColor oBorde;  // its colour
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
  // A group footer line has a condition, a suppression or ignores being empty: which of
  // them print depends on the sums.
  bool lPieCondicionado = false;
  // Detail, group header or group footer lines: the table prints records. One without them
  // is a grid of header and footer lines that takes none.
  bool lListaRegistros = false;
  // A line's condition, suppression or cell reads LASTPAGE: the table has last-page lines.
  bool lUltimaPagina = false;
};

namespace tabla {

// The compiled form of the normalised sections.
std::unique_ptr<TTablePlano> CompilarPlano(const Value& secciones, double grosorTabla);

// ---- The rendered maps: each kind is copied from a prototype holding its keys in their order
// and its constant values; the renderer then fills the varying slots by position.

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
const Map& ProtoLinea();

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
const Map& ProtoFondoCelda();

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
const Map& ProtoTrazo();

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
const Map& ProtoBordesFijos();

}  // namespace tabla

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
    bool lVacia = true;
    // The values' expression text, made only when two records are compared by it.
    mutable std::string cFirma;
    mutable bool lFirma = false;
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
    bool lRepeticion = false;  // the repeated group header was printed before it
    double nTrasCabeceras = -1.0;
    bool lActiva = false;
  };
  // Where a page began, to render it again: as the table's last page, or with fewer records.
  struct Inicio {
    size_t nSalida = 0;
    std::vector<BordeInferior> aBordes;
    std::vector<Value> aSumas;
    Value hContinuacion;  // a copy of the table's continuation, nothing when it had none
    size_t nAvisos = 0;
  };
  // How much of a record earlier pages printed. Beside its detail lines, a record laid out
  // line by line may stop inside its group header (before any detail line) or inside its
  // group footer (after the last one, the record summed already).
  struct Continuacion {
    bool lPresente = false;  // the table's continuation names this record
    int64_t nLinea = 0;      // detail lines printed
    int64_t nCabecera = -1;  // group header lines printed; -1: none kept
    int64_t nPie = -1;       // group footer lines printed; -1: none kept
    // Past its group header: the record does not start its group again.
    bool Continua() const { return nLinea > 0 || nPie >= 0; }
    bool Sumado() const { return nPie >= 0; }
  };

  // ---- Setup and finish
  bool Preparar();
  // One rendering of the page, from the header to the footer; `ultima`: as the table's last
  // page (its last-page lines shown), for a table that has one of its own.
  void Pagina(bool ultima);
  void Guardar(Inicio& inicio);
  void Volver(const Inicio& inicio);
  void Terminar();
  void ResetPerformance();

  // ---- Records and the context protocol
  Value TablePreviewRecords();
  int64_t GlobalRecordIndex(int64_t i) const { return lGlobal ? i : nBaseOpciones + i; }
  // Record i of the table's list (nothing outside it); element i of the run's list.
  Value Registro(int64_t i);
  Value RegistroRuntime(int64_t i);
  // Element i of the list, the last few read of a run's records kept: a record
  // read as the next one is not made again as the current one.
  Value Leer(const ListaRegistros& lista, int64_t i);
  // Makes the record current with its neighbours, which `anterior` and `siguiente`, when
  // given, receive as AdjacentRuntimeRecord answers them.
  bool PushRecordVariables(const Value& registro, int64_t i, Value* anterior = nullptr,
                           Value* siguiente = nullptr);
  // The record count the context is given: the option's, when larger than the list's.
  int64_t TotalRegistros();
  void PopRecordVariables() { ctx.PopRegistroDetalle(); }
  void ResetLineAcumuladores(const Items& items);
  void AcumularDetalle();
  Continuacion LeerContinuacion(int64_t i);
  void SetDetailContinuation(int64_t i, int64_t lineas);
  // The continuation of a record stopped inside its group lines: `parte` is "nCabecera"
  // or "nPie", `impresas` how many of those lines are printed.
  void SetGroupContinuation(int64_t i, int64_t lineas, std::string_view parte, int64_t impresas);
  void ClearDetailContinuation() { ctx.ClearContinuacionTabla(Value(cId)); }
  void MarkRecordConsumed(int64_t i) {
    ctx.MarcarRegistroDetalleConsumido(Value(GlobalRecordIndex(i)));
    nSiguiente = i + 1;
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
  // The value of group expression k for the record; `campo` tells whether a field of the
  // record held it (the same wherever the record is read).
  Value GroupValue(size_t k, const Value& registro, bool& campo);
  Value GroupExpressionValue(size_t k, const Value& registro);
  // The values of every group expression; answers whether fields held them all.
  bool GroupValues(const Value& registro, Valores& valores);
  static bool GroupValueIsEmpty(const Value& v);
  static bool GroupValuesEqual(const Value& a, const Value& b);
  // Two records are in one group when their values have one expression text.
  static bool MismoGrupo(const Valores& a, const Valores& b);
  // The expression text of the values, made once.
  static const std::string& Firma(const Valores& v);
  Value AdjacentRuntimeRecord(int64_t i, int64_t desplazamiento);
  EstadoGrupo GroupState(const Value& registro, int64_t i, int64_t continuacion);
  // Where the record stands in its group, from its group values and its neighbours' (nothing
  // for a neighbour that is not there).
  void DecideGroupState(EstadoGrupo& g, const Valores& actual, const Valores* anterior,
                        const Valores* siguiente, int64_t continuacion) const;
  // The same with the comparisons made: whether the neighbours are in the record's group.
  void DecideGroupState(EstadoGrupo& g, const Valores& actual, const Valores* siguiente,
                        bool mismaAnterior, bool mismaSiguiente, int64_t continuacion) const;
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
  std::string LineBackgroundColor(const Value& fondo, const TTableColor& color);
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
  // `porLineas`: the record did not fit at the top of an empty body, so its lines are laid
  // out one after another as far as they fit, the rest left for the next page.
  bool ProcesarRegistro(const Value& registro, int64_t i, bool porLineas);
  // The group footer lines of record i into aPie, chosen with the sums in force when they
  // print: with the record added when `sumar` (and the sums then put back as they were).
  void GroupFooterLines(int64_t i, const EstadoGrupo& g, bool sumar);
  bool Fits(double altura) const { return y + altura <= nLimiteCuerpo + kToleranciaMm + kRuidoMm; }
  // On a page rendered as the last, what needs `altura` from the top of the body waits for a
  // page that is not the last when it would fit there: the last-page lines take its room.
  bool EsperaEnUltima(double altura);
  // A first line of `altura` that does not fit goes here all the same: at the top of the
  // body, or under the group header lines that alone stand above it when it is taller than
  // the body (it would fit nowhere), so every page makes progress.
  bool EnCabeza(double altura) const {
    return AtBodyStart(y) ||
           (nTrasCabeceras >= 0.0 && std::fabs(y - nTrasCabeceras) <= kToleranciaMm &&
            altura > nLimiteCuerpo - nInicioCuerpo + kToleranciaMm + kRuidoMm);
  }
  // As many of the lines as fit from y on, `reserva` kept below them.
  size_t Caben(const Items& items, double reserva);
  // The body height of a page that is not the table's last.
  double CuerpoNoUltima();
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
  ListaRegistros oRuntime;    // the run's records (the option)
  ListaRegistros oRegistros;  // the table's records: the run's, or the ones it previews
  // Where each group expression's field stood in the last record: records share a layout.
  std::vector<KeyHint> aPistasExpresion;
  struct Leido {
    const void* pLista = nullptr;
    int64_t nIndice = -1;
    Value vRegistro;
  };
  std::array<Leido, 4> aLeidos;
  size_t nLeido = 0;
  int64_t nCount = 0;
  int64_t nFin = 0;
  int64_t nTotalRegistros = -1;  // TotalRegistros once asked; -1 before

  std::string cId;
  double nLeft = 0, nTop = 0, nAncho = 0, nAlto = 0;
  Value salida;
  List* aSalida = nullptr;
  Value marco;
  Value cColorBordeMarco;  // the border colour of lines whose own is no hex colour
  double z = 0.0;

  double y = 0.0;
  double nInicioCuerpo = 0.0;
  double nLimiteCuerpo = 0.0;
  double nPrimerDetalle = 0.0;
  bool lHayDetalle = false;
  bool lRepeticionHecha = false;
  bool lContenido = false;
  bool lTrasUltimoRegistro = false;  // the page starts past the job's last record
  bool lRegistrosRun = false;        // the table's records are the run's own list
  // The table lists the run's records and keeps its own place in them and its own sums
  // from page to page (the context's table state).
  bool lConEstado = false;
  int64_t nSiguiente = 0;  // the record the table goes on with on its next page
  // The page is rendered as the table's last (or, for a table without a last page of its
  // own, it is the document's last).
  bool lComoUltima = false;
  bool lUsaUltima = false;        // the table has a last page of its own (last-page lines)
  bool lPendiente = false;        // its records are printed; its last-page lines are not yet
  bool lDetenida = false;         // the host asked to stop
  double nCuerpoNoUltima = -1.0;  // CuerpoNoUltima once known; below 0 before
  // y under the group header lines (repeated or a group's own) that alone fill the top of the
  // body; below 0 when there are none.
  double nTrasCabeceras = -1.0;

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
  double nBucleMs = 0.0, nTerminarMs = 0.0;  // the record loops and the finishes of the call
  // Sums of spans taken per line, cell and addition: counter ticks, turned
  // into milliseconds once, when the table reports them.
  uint64_t nPartitionTicks = 0, nRenderLinesTicks = 0, nCellContentTicks = 0, nAccumulateTicks = 0;
  int64_t nRecordsExamined = 0;

  // Line lists reused from record to record.
  Items aCabecera, aRepetida, aDetalle, aOcultas, aPie, aPieCompleto, aConcat, aPieTabla, aParte;
  std::vector<Value> aSumasGuardadas;  // the sums before a record's addition was tried
};

}  // namespace kx
