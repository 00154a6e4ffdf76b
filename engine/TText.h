// A block of text whose content is a formula, with its font, styles, colour,
// alignment, fit mode, empty-paragraph handling and text-flow settings.
//
// The text keys of a template are read case-tolerantly ("CTEXT" and "ctext"
// are "cText"); the base keys and "cFormula" are matched exactly. Members keep
// canonical forms after `Load`: a lower-case #rrggbb text colour, one of the
// four fit modes with `lTextWrap` equal to (fit mode is "wrap"), a vertical
// alignment of "top", "center" or "bottom", an opacity between 0 and 1. Only
// "nFontSize" is stored as the template gives it.
//
// Rendering answers the 57-key "texto" map. The content formula is compiled
// once per content (the plan is kept until `cText` changes, `Load` or `End`);
// a constant content is answered without evaluation. A text whose parent is a
// table and whose nine style formulas are blank renders from a prototype map
// built once: each rendering then copies that flat map and refreshes the keys
// that change from cell to cell, with "formulaError" and
// "formulaErrorMessage" as its last two keys instead of keys 9 and 10.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "TObjectBase.h"

namespace kx {

class TText : public TObjectBase {
 public:
  // New(parent): the base defaults, then `Init`.
  explicit TText(TReportNode* parent = nullptr) : TObjectBase(parent) { TText::Init(parent); }
  std::string_view ClassName() const override { return "TText"; }

  // Stores the parent, sets the text's name, type and defaults, no border sides, empty caches.
  TText& Init(TReportNode* parent) override;
  // Answers the object.
  TText& Create() override { return *this; }
  // Drops the parent and empties the three caches.
  void End() override;
  // The base keys followed by the 34 text keys; normalises the fit mode first.
  Value Save() override;
  // Reads the base keys and the text keys that are present; always empties the caches.
  TText& Load(const Value& map) override;
  // The "texto" map, or nothing when the object is not drawn in this execution.
  Value GenerarRenderizable(TContextoEjecucion& context) override;
  // The content formula a template map gives: "cFormula" (exact key) when it is not blank,
  // else "cText" in any letter case; nothing when it gives neither.
  static std::optional<std::string> FormulaDeContenido(const Value& map);
  // The text a rendering shows for a content value: its text form, trimmed
  // when asked, then without its blank paragraphs unless they are kept.
  static Value TextoMostrado(const Value& value, bool trimSpaces, bool keepEmptyParagraphs);

  // ---- Members, in declaration order

  std::string cText{"\"Texto\""};
  std::string cFontFamily{"Arial"};
  Value nFontSize{12};  // as the template gives it; readers convert it
  std::string cFontSizeFormula;
  int64_t nFontOutPrecision = 0;
  int64_t nFontPitchAndFamily = 0;
  bool lFontBold = false;
  std::string cFontBoldFormula;
  bool lFontItalic = false;
  std::string cFontItalicFormula;
  bool lFontUnderline = false;
  std::string cFontUnderlineFormula;
  bool lFontStrikeout = false;
  std::string cFontStrikeoutFormula;
  std::string cTextFitMode{"wrap"};
  bool lTextWrap = true;
  bool lForceWrap = false;
  bool lAllowPageBreak = false;
  Value nLineSpacing{0};
  Value nParagraphSpacing{0};
  bool lKeepEmptyParagraphs = true;
  bool lTextAdjusted = false;
  bool lTrimSpaces = false;
  std::string cTextFlowGroup;
  int64_t nTextFlowOrder = 0;
  Value nTextFlowLineHeight{0};
  std::string cTextColor{"#000000"};
  std::string cTextColorFormula;
  Value nTextOpacity{1};
  std::string cTextAlign{"left"};
  Value nTextDecimalPosition{-10};
  std::string cTextVerticalAlign{"top"};
  std::string cKx12SourceType;
  std::string cKx12SourceJson;
  Value uTextFormulaPlan;              // compiled plan of `cText`, false when none, or nothing
  std::string cTextFormulaPlanSource;  // the `cText` the plan was made for
  mutable int8_t nPrototipoUsable_ =
      -1;                              // -1 unknown, else whether cells render from the prototype
  Value uTextFormulaText;              // that `cText` as a shared text, handed to every evaluation
  bool lTextFormulaPageCount = false;  // that `cText` calls a page-count function
  Value hStaticRenderPrototype;        // rendered map of a table-cell text, or nothing
  // The key version of that map as built: while it holds, every key stands
  // where the prototype order puts it, and renderings write by position.
  uint64_t nVersionPrototipo_ = 0;

 private:
  // The content as evaluated for one rendering.
  struct Contenido {
    Value cTexto;  // always a text
    bool lError = false;
    Value cError{""};
  };

  // The text colour: a lower-case #rrggbb; three digits doubled; anything else "#000000".
  static std::string NormalizarTextColor(const Value& value);
  // "top", "center" or "bottom".
  static std::string NormalizarTextVerticalAlign(const Value& value);
  // One of the four fit modes; otherwise "wrap" or "truncate" by the wrap flag.
  static std::string NormalizarTextFitMode(const Value& value, bool wrap);
  // A number from 0 to 1.
  static Value NormalizarOpacity(const Value& value);
  // The text with blank paragraphs removed, unless they are kept.
  Value NormalizarParrafosVacios(const Value& text) const;
  static Value SinParrafosVacios(const Value& text, bool keep);
  // Without leading tabs, line ends and spaces, nor trailing spaces.
  static Value Recortado(const Value& text);
  // Blank paragraphs of the text, the empty piece after a final line end included.
  static int64_t ContarParrafosVacios(std::string_view text);
  // The key is in the map, exactly, in upper case, or in any letter case.
  static bool HashHasKey(const Value& map, std::string_view key);
  // The value of the key found as `HashHasKey` finds it, else the default.
  static Value HashGet(const Value& map, std::string_view key, const Value& def = Value());
  // "#" and six lower-case hexadecimal digits.
  static bool EsHex6(std::string_view s);
  // "#" and three lower-case hexadecimal digits.
  static bool EsHex3(std::string_view s);
  // A lower-case #rrggbbaa colour whose alpha is 00.
  static bool EsHex8Transparente(std::string_view s);
  // An rgba() colour whose alpha is zero.
  static bool EsRgbaTransparente(std::string_view s);
  // The parent is a table and none of the nine style formulas is set.
  bool CanUseStaticRenderPrototype() const;
  bool DecideStaticRenderPrototype() const;
  // The prototype map, in prototype order, with the per-cell keys left neutral.
  Value BuildStaticRenderPrototype(TContextoEjecucion& context);
  // Refreshes the per-cell keys of a copy of the prototype, in place: by
  // position while the prototype's keys stand in its order, else by name.
  void ApplyDynamicRenderValues(Map& map, const Contenido& contenido, int64_t blanks,
                                bool porPosicion) const;

  // Compiles the content formula when it changed since the plan was made.
  void PrepararPlan(TContextoEjecucion& context);
  // The content's text and error, from the constant plan or through the context.
  Contenido EvaluarContenido(TContextoEjecucion& context) const;
  // The suppressed flow height for a count of blank paragraphs.
  Value AlturaSuprimida(int64_t blanks) const;
  // The 57 keys in their dynamic order, every style formula evaluated in its fixed order.
  Value RenderizableDinamico(TContextoEjecucion& context, const Contenido& contenido,
                             int64_t blanks);
  // A copy of the prototype with this rendering's values.
  Value RenderizableDesdePrototipo(TContextoEjecucion& context, const Contenido& contenido,
                                   int64_t blanks);

  Value
      hRenderSkeleton_;  // the keys of the dynamic order, copied by each rendering after the first
};

}  // namespace kx
