#include "TFormattedText.h"

#include "TContextoEjecucion.h"

namespace kx {

TFormattedText& TFormattedText::Init(TReportNode* parent) {
  TText::Init(parent);
  cName = Value("Texto formateado");
  cType = Value("TFormattedText");
  aRichTextRuns = Value::NewList();
  return *this;
}

void TFormattedText::End() {
  aRichTextRuns = Value::NewList();
  TText::End();
}

Value TFormattedText::Save() {
  Value map = TText::Save();
  map.Set("cType", Value("TFormattedText"));
  map.AsMap().Set("aRichTextRuns", aRichTextRuns);
  return map;
}

TFormattedText& TFormattedText::Load(const Value& map) {
  TText::Load(map);
  cType = Value("TFormattedText");
  const Value& runs = HGet(map, "aRichTextRuns");
  aRichTextRuns = runs.IsList() ? runs : Value::NewList();
  return *this;
}

Value TFormattedText::GenerarRenderizable(TContextoEjecucion& context) {
  Value map = TText::GenerarRenderizable(context);
  if (!map.IsMap()) return Value();

  Value rendered = Value::NewList();
  if (const List* runs = aRichTextRuns.ListPtr()) {
    rendered.AsList().Reserve(runs->size());
    for (const Value& run : *runs) {
      if (!run.IsMap()) continue;
      Value copy = DeepClone(run);
      const Value* expression = run.AsMap().Find("cExpression");
      const Value formula = expression ? Value(ValorAString(*expression)) : Value("\"\"");
      // In place when the run already has a "cText", else as its last key.
      copy.Set("cText", Value(ValorAString(context.EvaluarFormula(formula))));
      rendered.Push(std::move(copy));
    }
  }
  map.Set("tipo", Value("texto_formateado"));
  map.Set("runs", std::move(rendered));
  return map;
}

}  // namespace kx
