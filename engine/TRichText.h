// A box of formatted text whose content formula gives markup: an HTML
// fragment, an RTF document or plain text, with placeholders ("{{" expression
// "}}") filled with evaluated values when it is rendered. The rendered
// "texto_enriquecido" map carries the final content, its format, a plain-text
// form, whether anything visible is left, and an RTF form for renderers that
// want RTF; the engine itself reads none of them.
//
// Placeholder values are written so that they cannot change the structure of
// their content: into HTML escaped (an RTF value converted to HTML), into RTF
// with the RTF-text rule (backslash, braces and non-ASCII escaped), into plain
// text as they are. The object keeps no cache: every rendering evaluates the
// content and every placeholder again.
#pragma once

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

// "rtf", "html" or "text".
std::string KXRICHTEXTDETECTFORMAT(const Value& value);
// The content with every placeholder filled; a content that is not a text gives "" and,
// without an evaluator, a text comes back unchanged.
std::string KXRICHTEXTINTERPOLATE(const Value& content, std::string_view format,
                                  const RichTextEvaluator& evaluate);
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
