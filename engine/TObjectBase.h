// The base of every report object: the keys all objects share (geometry,
// layer, stacking order, borders, fill, shadow, rotation, opacity, condition,
// padding and the link fields of imported objects), their loading and saving,
// the value conversions the subclasses use, colour formulas and the run-time
// visibility test.
//
// Base keys are stored exactly as the template gives them: `Load` copies the
// value standing under each key without conversion (a null makes the member
// nothing) and `Save` writes it back unchanged; every reader converts the
// value where it uses it. That is why the 46 members are `Value`s whatever
// their prefix says.
//
// Objects hang from a parent: the document for the objects of its list, a
// table for its cell objects. An object finds its document by walking up the
// parents to the first that answers the layer queries.
#pragma once

#include <string>

#include "ValoresObjeto.h"
#include "Value.h"

namespace kx {

class TContextoEjecucion;

// What a report object's parent may answer. The document answers the layer
// queries; a table is itself a report object and passes the walk on to its own
// parent.
class TReportNode : public KXObject {
 public:
  // Whether this node answers `GetLayerCondition` and `IsLayerVisibleInDesign`.
  virtual bool AnswersLayerQueries() const { return false; }
  // The text form of the layer's condition; "" here.
  virtual std::string GetLayerCondition(const Value& id) const {
    (void)id;
    return "";
  }
  // Whether objects on the layer show in designer mode; true here.
  virtual bool IsLayerVisibleInDesign(const Value& id) const {
    (void)id;
    return true;
  }
  // The node the walk continues with, or nothing.
  virtual TReportNode* ParentNode() const { return nullptr; }
};

class TObjectBase : public TReportNode {
 public:
  // New(parent): the base defaults, then `Init`.
  explicit TObjectBase(TReportNode* parent = nullptr) { TObjectBase::Init(parent); }
  std::string_view ClassName() const override { return "TObjectBase"; }

  // ---- The report object protocol

  // Stores the parent (the document, or a table for its cells).
  virtual TObjectBase& Init(TReportNode* parent);
  // Completes the object after loading; answers it.
  virtual TObjectBase& Create() { return *this; }
  // Drops the parent: the object no longer finds its document.
  virtual void End() { oParent = nullptr; }
  // Left edge plus width.
  double NRight() const;
  // Top edge plus height.
  double NBottom() const;
  // The template map: the 46 base keys in declaration order, values as stored.
  virtual Value Save();
  // Copies every base key the map holds (exact key), unchanged; a non-map changes nothing.
  virtual TObjectBase& Load(const Value& map);
  // Same as `Save`.
  Value ToJSON() { return Save(); }
  // Same as `Load`.
  TObjectBase& FromJSON(const Value& map) { return Load(map); }
  // One rendered map, a list of them (tables), or nothing; the base renders nothing.
  virtual Value GenerarRenderizable(TContextoEjecucion& context);
  // The colour of a formula, or of the stored colour when the formula is blank or unusable.
  std::string EvaluarColor(TContextoEjecucion& context, const Value& formula, const Value& stored,
                           const Value& strict = Value(false));
  // Whether the object is drawn in this execution; a left-out object is recorded with its reason.
  bool EsVisibleEnEjecucion(TContextoEjecucion& context);

  // ---- Operations a kind may answer (tables do); neutral answers here

  // The timing map of the latest render, or nothing.
  virtual Value GetPerformanceDiagnostics() { return Value(); }
  // The object exports data tables (tables do); the facade asks before it sets up an export.
  virtual bool AnswersGenerarDatosExportables() const { return false; }
  // The object prints the job's detail records one by one (a table with detail or group
  // lines does), so a run that leaves some of them unprinted has lost them.
  virtual bool ListaRegistrosDelTrabajo() const { return false; }
  // The data tables the object exports, or nothing.
  virtual Value GenerarDatosExportables(TContextoEjecucion& context) {
    (void)context;
    return Value();
  }
  // The same, except that the table's rows may be held compactly until read
  // (see FilasCompactas): for a document that may never read them.
  virtual Value GenerarDatosExportablesCompactos(TContextoEjecucion& context) {
    return GenerarDatosExportables(context);
  }

  // ---- Parent walk

  TReportNode* ParentNode() const override { return oParent; }

  // ---- Members: the 46 base keys in declaration order, then the parent

  Value cId{""};
  Value cName{"Objeto"};
  Value cType{"TObjectBase"};
  Value nLeft{0};
  Value nTop{0};
  Value nWidth{0};
  Value nHeight{0};
  Value lVisible{true};
  Value lLocked{false};
  Value lSelected{false};
  Value nLayerId{0};
  Value nZIndex{1};
  Value cBorderColor{"#000000"};
  Value cBorderColorFormula{""};
  Value nBorderWidth = Value::Real(0.1, 1);
  Value lBorderTop{true};
  Value lBorderRight{true};
  Value lBorderBottom{true};
  Value lBorderLeft{true};
  Value cBackgroundColor{"#ffffff"};
  Value cBackgroundColorFormula{""};
  Value cFillStyle{"solid"};
  Value nPattern{1};
  Value cFillColor2{"#ffffff"};
  Value cFillColor2Formula{""};
  Value cFillColor3{"#ffffff"};
  Value cFillColor3Formula{""};
  Value nFillOpacity{1};
  Value nFillGradientFactor{50};
  Value nRounded{0};
  Value nShadowSize{0};
  Value nShadowTransparency{50};
  Value cShadowColor{"#000000"};
  Value cShadowColorFormula{""};
  Value nRotation{0};
  Value nOpacity{1};
  Value cCondition{""};
  Value nPaddingTop{0};
  Value nPaddingRight{0};
  Value nPaddingBottom{0};
  Value nPaddingLeft{0};
  Value nKx12LinkID{0};
  Value nKx12LinkToID{0};
  Value nKx12LinkMode{0};
  Value nKx12GroupId{0};
  Value lKx12WrapBefore{false};

  TReportNode* oParent = nullptr;  // not owned: the parent outlives its objects

 protected:
  // {"paddingSuperior", "paddingDerecho", "paddingInferior", "paddingIzquierdo"}, none below 0.0.
  Value PaddingRenderizable() const;
  // The trimmed text form is "#" and six hexadecimal digits.
  static bool EsColorHexValido(const Value& value);
  // The trimmed, lower-cased text form when it is a valid colour, else "#000000".
  static std::string NormalizarColorTexto(const Value& value);
  // The object family of the shared conversions (ValoresObjeto.h), under the names every
  // report object reads values by.
  static std::string ValorAString(const Value& value) { return objeto::ValorAString(value); }
  static bool ValorALogico(const Value& value) { return objeto::ValorALogico(value); }
  static Value ValorANumero(const Value& value) { return objeto::ValorANumero(value); }
  static int64_t ValorAEntero(const Value& value) { return objeto::ValorAEntero(value); }
  // The 29-key rendered map of a boxed shape (rectangle, ellipse, a table's frame) of the given
  // kind word and rounding; its five lenient colours are resolved in their fixed order.
  Value RenderizableFigura(TContextoEjecucion& context, std::string_view tipo,
                           const Value& redondeo);

 private:
  // The layer condition of the last layer id asked for: tables move their
  // cell objects from layer to layer, but a layer's condition never changes.
  mutable int64_t nCapaCache_ = INT64_MIN;
  mutable const TReportNode* pCapaPadre_ = nullptr;
  mutable std::string cCapaCache_;

  // The first parent up the chain that answers the layer queries, or nothing.
  const TReportNode* Documento() const;
  // The text form of the layer's condition; "" without a document.
  const std::string& CondicionCapa() const;
  // The layer shows in designer mode; true without a document.
  bool EsVisiblePorCapaEnDisenador() const;
  // A condition result says visible.
  static bool HashVisible(const Value& result);
};

// The keys that close the rendered map of a drawn object, in their order: its
// rotation, opacity and shadow, then its place in the stacking order (a rich
// text puts its padding between the two). `emit(key, value)` writes one key.
template <class Emit>
void EmitirClavesSombra(Emit&& emit, const TObjectBase& o, const Value& sombraColor) {
  emit("rotacionOriginal", o.nRotation);
  emit("rotacion", o.nRotation);
  emit("opacidad", o.nOpacity);
  emit("sombraTamano", o.nShadowSize);
  emit("sombraTransparencia", o.nShadowTransparency);
  emit("sombraColor", sombraColor);
}
template <class Emit>
void EmitirClavesOrden(Emit&& emit, const TObjectBase& o) {
  emit("ordenOriginal", o.nZIndex);
  emit("capa", o.nZIndex);
  emit("zIndex", o.nZIndex);
}

}  // namespace kx
