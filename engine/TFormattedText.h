// A text whose rendered map also carries formatted runs: pieces of text, each
// with its own style keys and its own formula ("cExpression"), which the
// renderer draws one after another. The runs are opaque to the engine except
// for that formula; a rendered run is a copy of the template's run whose
// "cText" holds the evaluated text.
#pragma once

#include "TText.h"

namespace kx {

class TFormattedText : public TText {
 public:
  // New(parent): the text defaults, then `Init`.
  explicit TFormattedText(TReportNode* parent = nullptr) : TText(parent) {
    TFormattedText::Init(parent);
  }
  std::string_view ClassName() const override { return "TFormattedText"; }

  // The text's `Init`, then the formatted text's name and type and no runs.
  TFormattedText& Init(TReportNode* parent) override;
  // Answers the object.
  TFormattedText& Create() override { return *this; }
  // Empties the runs, then ends the text.
  void End() override;
  // The text's keys with "cType" "TFormattedText", then "aRichTextRuns" last.
  Value Save() override;
  // The text's `Load`; the runs are the template's own list (not a copy), else none.
  TFormattedText& Load(const Value& map) override;
  // The "texto_formateado" map (the text's map with its runs evaluated), or nothing.
  Value GenerarRenderizable(TContextoEjecucion& context) override;

  Value aRichTextRuns = Value::NewList();
};

}  // namespace kx
