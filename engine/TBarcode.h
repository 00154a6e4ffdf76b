// The report object that draws one barcode. Its content formula yields a
// value to encode in the object's symbology, or a ready `BarcodeDescriptor`
// (from the formula function `Barcode()`), which it takes over. It answers a
// "barcode" map: the descriptor's keys (module pattern and quiet zones)
// followed by the box, colours, text style and padding. Nothing is cached:
// every render evaluates and encodes again.
//
// A ready descriptor is checked before it is drawn: its "bits" must be a text
// of 0 and 1, its "matriz" a list of equal-length texts of 0 and 1, its
// margins numbers of 0 or more. One that fails is encoded again from its
// "texto" in its own symbology, as a descriptor without a pattern is; one
// with an "error" is drawn as that error.
#pragma once

#include <string>

#include "TObjectBase.h"

namespace kx {

class TKXBarcode : public TObjectBase {
 public:
  // New(parent): the base defaults, then `Init`.
  explicit TKXBarcode(TReportNode* parent = nullptr) : TObjectBase(parent) {
    TKXBarcode::Init(parent);
  }
  std::string_view ClassName() const override { return "TKXBarcode"; }

  // Stores the parent and sets the barcode's defaults (an EAN-13 of 123456789012, no border sides).
  TKXBarcode& Init(TReportNode* parent) override;
  // Answers the object.
  TKXBarcode& Create() override { return *this; }
  // Drops the parent.
  void End() override { oParent = nullptr; }
  // The base keys followed by the 17 barcode keys.
  Value Save() override;
  // Reads the base keys, then the barcode keys that are present; the five style formulas always.
  TKXBarcode& Load(const Value& map) override;
  // The "barcode" map, or nothing when the object is not drawn in this execution.
  Value GenerarRenderizable(TContextoEjecucion& context) override;

  // ---- Members, in declaration order

  Value cContent{"\"123456789012\""};  // a formula: the quoted literal by default
  Value cBarcodeType{"EAN13"};
  bool lShowText = true;
  bool lTrimSpaces = false;
  Value cColor{"#000000"};
  Value cColorFormula{""};
  Value cFontFamily{"Arial"};
  Value nFontSize{12};
  std::string cFontSizeFormula;
  bool lFontBold = false;
  std::string cFontBoldFormula;
  bool lFontItalic = false;
  std::string cFontItalicFormula;
  bool lFontUnderline = false;
  std::string cFontUnderlineFormula;
  bool lFontStrikeout = false;
  std::string cFontStrikeoutFormula;

 private:
  // The descriptor to draw for the content's value.
  Value Descriptor(const Value& value) const;
};

}  // namespace kx
