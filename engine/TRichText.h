// A box of formatted text whose content formula gives markup: an HTML
// fragment, an RTF document or plain text, with placeholders ("{{" expression
// "}}") filled with evaluated values when it is rendered. The rendered
// "texto_enriquecido" map carries the final content, its format, a plain-text
// form, whether anything visible is left, and an RTF form for renderers that
// want RTF; the engine itself reads none of them.
//
// Only the template is code: a content whose text may carry job data (its
// formula is anything but a text literal) fills only the placeholders that
// name a variable, so a customer's note cannot run LoadFile or any other
// function; the others stay as written.
//
// Placeholder values are written so that they cannot change the structure of
// their content: into HTML escaped (an RTF value converted to HTML), into RTF
// with the RTF-text rule (backslash, braces and non-ASCII escaped), into plain
// text as they are. Markup that job data brought (a content from data, or a
// plain-text content that a placeholder's value turned into HTML or RTF) is
// sanitized before the plain-text and RTF forms are made from it, so every
// form of the map is safe to draw; the template's own markup stays as
// written. The object keeps no cache: every rendering evaluates the content
// and every placeholder again.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "TObjectBase.h"

namespace kx {

class TRichText : public TObjectBase {
 public:
  // New(parent): the base defaults, then `Init`.
  explicit TRichText(TReportNode* parent = nullptr) : TObjectBase(parent) {
    TRichText::Init(parent);
  }
  std::string_view ClassName() const override { return "TRichText"; }

  // The base `Init` (stores the parent), then the rich text's name and type.
  TRichText& Init(TReportNode* parent) override;
  // Answers the object.
  TRichText& Create() override { return *this; }
  // Empties the content formula, then drops the parent.
  void End() override;
  // The base keys with "cType" "richText", then "cContent", "cVerticalAlign", "cOverflow".
  Value Save() override;
  // The base keys; the content (older content keys migrated), alignment and overflow.
  TRichText& Load(const Value& map) override;
  // The 34-key "texto_enriquecido" map, or nothing when the object is not drawn.
  Value GenerarRenderizable(TContextoEjecucion& context) override;

  Value cContent{"\"<p>Texto enriquecido</p>\""};  // a formula, or a value the template gave
  std::string cVerticalAlign{"top"};
  std::string cOverflow{"hidden"};
};

// Answers the text a placeholder's expression gives.
using RichTextEvaluator = std::function<Value(std::string_view expression)>;

// Who wrote a content's text, which decides what its placeholders may run.
enum class RichTextSource : uint8_t {
  kTemplate,  // the template's own text: a placeholder holds any expression
  kData,      // text that carries job data: only a placeholder naming a variable is filled
};

// Where the value of a content formula comes from: the template's own text when the
// formula is a text literal (or literals joined with "+"), or a value that is no text;
// any other formula may bring job data.
RichTextSource KXRICHTEXTCONTENTSOURCE(const Value& formula);
// Whether the text, trimmed, is a plain variable name ("CLI.nombre"): names made of
// letters, digits and "_", joined by ".", the first starting with a letter or "_".
bool KXRICHTEXTISVARIABLENAME(std::string_view text);

// "rtf", "html" or "text".
std::string KXRICHTEXTDETECTFORMAT(const Value& value);
// The content with every placeholder filled; a content that is not a text gives "" and,
// without an evaluator, a text comes back unchanged. In text from job data a placeholder
// whose expression is not a plain variable name stays as written. In RTF a "{{" whose text
// up to "}}" holds a backslash or a brace is two groups opening, not a placeholder.
std::string KXRICHTEXTINTERPOLATE(const Value& content, std::string_view format,
                                  const RichTextEvaluator& evaluate,
                                  RichTextSource source = RichTextSource::kTemplate);
// A text without leading NUL, tab, LF, CR and space bytes (a blank text stays); other values "".
std::string KXRICHTEXTTRIMSTART(const Value& value);
// The plain text of a content in its format (nothing: the detected format).
std::string KXRICHTEXTPLAINTEXT(const Value& content, const Value& format = Value());
// The content formula of a template map, from "cContent" or the older content keys.
Value KXRICHTEXTMIGRATECONTENT(const Value& map);
// A formula string literal that evaluates to the text.
std::string KXRICHTEXTENCODELITERAL(std::string_view text);
// "top", "center" or "bottom".
std::string KXRICHTEXTVERTICALALIGN(const Value& value);

}  // namespace kx
