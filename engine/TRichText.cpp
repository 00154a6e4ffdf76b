#include "TRichText.h"

#include <algorithm>

#include "FormulaSyntax.h"
#include "HtmlToRtf.h"
#include "RichTextSanitizer.h"
#include "RtfToHtml.h"
#include "TContextoEjecucion.h"

namespace kx {

namespace {

// The tags whose presence makes a content HTML; «<b>» or «<i>» alone do not.
constexpr std::string_view kHtmlMarks[] = {"<p", "<div", "<br", "<span", "<strong", "<em", "<u",
                                           "<s", "<ul",  "<ol", "<li",   "<sup",    "<sub"};

bool HasHtmlMark(std::string_view text) {
  for (size_t lt = text.find('<'); lt != std::string_view::npos; lt = text.find('<', lt + 1)) {
    const std::string_view rest = text.substr(lt);
    for (std::string_view mark : kHtmlMarks)
      if (EqualsIgnoreCase(rest.substr(0, mark.size()), mark)) return true;
  }
  return false;
}

// Tags removed from the first "<" to the first ">" after it; a "<" without one cuts the text.
std::string WithoutTags(std::string_view html) {
  std::string out;
  out.reserve(html.size());
  size_t pos = 0;
  while (pos < html.size()) {
    const size_t lt = html.find('<', pos);
    if (lt == std::string_view::npos) {
      out.append(html.substr(pos));
      break;
    }
    out.append(html.substr(pos, lt - pos));
    const size_t gt = html.find('>', lt + 1);
    if (gt == std::string_view::npos) break;
    pos = gt + 1;
  }
  return out;
}

bool IsVisibleText(std::string_view plain) {
  return !IsBlank(plain);
}

}  // namespace

// ---------------------------------------------------------------------------
// The object

TRichText& TRichText::Init(TReportNode* parent) {
  TObjectBase::Init(parent);
  cName = Value("Texto enriquecido");
  cType = Value("richText");
  return *this;
}

void TRichText::End() {
  cContent = Value("");
  TObjectBase::End();
}

Value TRichText::Save() {
  Value map = TObjectBase::Save();
  map.Set("cType", Value("richText"));
  Map& out = map.AsMap();
  out.Set("cContent", cContent);
  out.Set("cVerticalAlign", Value(KXRICHTEXTVERTICALALIGN(Value(cVerticalAlign))));
  out.Set("cOverflow", Value(Lower(cOverflow) == "visible" ? "visible" : "hidden"));
  return map;
}

TRichText& TRichText::Load(const Value& map) {
  TObjectBase::Load(map);
  cType = Value("richText");
  if (map.IsMap()) {
    cContent = KXRICHTEXTMIGRATECONTENT(map);
    cVerticalAlign = KXRICHTEXTVERTICALALIGN(map.Get("cVerticalAlign"));
    const Value* overflow = map.AsMap().Find("cOverflow");
    cOverflow = overflow && Lower(ValorAString(*overflow)) == "visible" ? "visible" : "hidden";
  }
  return *this;
}

Value TRichText::GenerarRenderizable(TContextoEjecucion& context) {
  if (!EsVisibleEnEjecucion(context)) return Value();
  const Value evaluated =
      Value(KXRICHTEXTNORMALIZEINPUT(Value(ValorAString(context.EvaluarFormula(cContent)))));
  const RichTextEvaluator evaluate = [&context](std::string_view expression) {
    return Value(ValorAString(context.EvaluarFormula(Value(expression))));
  };
  const std::string written = KXRICHTEXTDETECTFORMAT(evaluated);
  const RichTextSource source = KXRICHTEXTCONTENTSOURCE(cContent);
  std::string filled = KXRICHTEXTINTERPOLATE(evaluated, written, evaluate, source);
  // Filled placeholders may change the format: plain text that received HTML is HTML.
  const Value format(KXRICHTEXTDETECTFORMAT(Value(filled)));
  // Markup from job data is drawn only once made safe: a content that carries data,
  // or markup a placeholder's value brought into plain text.
  if (source == RichTextSource::kData || format.Str() != written)
    filled = KXRICHTEXTSANITIZE(filled, format.Str());
  const Value content(std::move(filled));
  const std::string plain = KXRICHTEXTPLAINTEXT(content, format);
  const Value padding = PaddingRenderizable();

  Value map = Value::NewMap();
  Map& out = map.AsMap();
  out.Reserve(34);
  auto add = [&](std::string_view key, Value v) { out.Append(KeyText(key), std::move(v)); };
  add("id", cId);
  add("tipo", Value("texto_enriquecido"));
  add("x", nLeft);
  add("y", nTop);
  add("ancho", nWidth);
  add("alto", nHeight);
  add("contentFormat", format);
  add("content", content);
  add("plainContent", Value(plain));
  add("hasVisibleContent", Value(IsVisibleText(plain)));
  add("rtfContent", Value(KXRICHTEXTTORTF(content, format)));
  add("alineacionVertical", Value(KXRICHTEXTVERTICALALIGN(Value(cVerticalAlign))));
  add("overflow", Value(cOverflow));
  add("colorFondo", Value(EvaluarColor(context, cBackgroundColorFormula, cBackgroundColor)));
  add("colorBorde", Value(EvaluarColor(context, cBorderColorFormula, cBorderColor)));
  add("grosorBorde", nBorderWidth);
  add("bordeSuperior", lBorderTop);
  add("bordeDerecho", lBorderRight);
  add("bordeInferior", lBorderBottom);
  add("bordeIzquierdo", lBorderLeft);
  add("redondeo", nRounded);
  EmitirClavesSombra(add, *this, Value(EvaluarColor(context, cShadowColorFormula, cShadowColor)));
  for (const auto& [key, value] : padding.AsMap()) out.SetKey(key, value);
  EmitirClavesOrden(add, *this);
  return map;
}

// ---------------------------------------------------------------------------
// Functions

std::string KXRICHTEXTDETECTFORMAT(const Value& value) {
  const std::string text = KXRICHTEXTTRIMSTART(Value(KXRICHTEXTNORMALIZEINPUT(value)));
  if (EqualsIgnoreCase(std::string_view(text).substr(0, 5), "{\\rtf")) return "rtf";
  return HasHtmlMark(text) ? "html" : "text";
}

RichTextSource KXRICHTEXTCONTENTSOURCE(const Value& formula) {
  if (!formula.IsText()) return RichTextSource::kTemplate;
  const std::string_view text = NormalizarFormula(formula.Str());
  if (text.empty() || EsLiteralTextoCompleto(text)) return RichTextSource::kTemplate;
  for (std::string_view part : SepararPorSuma(text))
    if (!EsLiteralTextoCompleto(NormalizarFormula(part))) return RichTextSource::kData;
  return RichTextSource::kTemplate;
}

bool KXRICHTEXTISVARIABLENAME(std::string_view text) {
  const std::string_view name = AllTrim(text);
  bool partStart = true;
  for (size_t i = 0; i < name.size(); ++i) {
    const char c = name[i];
    const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
    const bool digit = c >= '0' && c <= '9';
    if (c == '.') {
      if (partStart) return false;  // an empty part: ".x", "a..b"
      partStart = true;
    } else if (letter || (digit && i > 0)) {
      partStart = false;
    } else {
      return false;
    }
  }
  return !name.empty() && !partStart;
}

namespace {

// The next place at or after a start that never moves back where the search
// finds something: kept while it lies ahead, so the text is read once.
template <class Search>
class Ahead {
 public:
  explicit Ahead(Search search) : search_(search) {}
  size_t From(size_t from) {
    if (!searched_ || (at_ != std::string_view::npos && at_ < from)) {
      at_ = search_(from);
      searched_ = true;
    }
    return at_;
  }

 private:
  Search search_;
  size_t at_ = 0;
  bool searched_ = false;
};

}  // namespace

std::string KXRICHTEXTINTERPOLATE(const Value& content, std::string_view format,
                                  const RichTextEvaluator& evaluate, RichTextSource source) {
  const std::string_view text = content.Str();
  if (!content.IsText() || !evaluate) return std::string(text);
  const bool rtf = format == "rtf";
  std::string out;
  out.reserve(text.size());
  Ahead closes([text](size_t from) { return text.find("}}", from); });
  // What RTF syntax a placeholder never holds.
  Ahead syntax([text](size_t from) { return text.find_first_of("\\{}", from); });
  size_t pos = 0;   // copied up to here
  size_t from = 0;  // the next "{{" is looked for from here
  for (size_t open = text.find("{{"); open != std::string_view::npos;
       open = text.find("{{", from)) {
    const size_t close = closes.From(open + 2);
    if (close == std::string_view::npos) break;  // an unclosed placeholder stays as text
    if (rtf && syntax.From(open + 2) < close) {
      // Groups opening together, as writers put hyperlinks: the second brace may
      // still open a placeholder.
      from = open + 1;
      continue;
    }
    const std::string_view expression = AllTrim(text.substr(open + 2, close - open - 2));
    from = close + 2;
    if (source == RichTextSource::kData && !KXRICHTEXTISVARIABLENAME(expression))
      continue;  // stays as written
    out.append(text.substr(pos, open - pos));
    const std::string value = KXRICHTEXTNORMALIZEINPUT(evaluate(expression));
    if (format == "html") {
      if (KXRICHTEXTDETECTFORMAT(Value(value)) == "rtf")
        out.append(KXRICHTEXTRTFTOHTML(Value(value)));
      else
        AppendEscapedHtml(out, value);
    } else if (rtf) {
      // A value such as C:\new or "}" must not change the document's structure.
      AppendRtfText(out, value);
    } else {
      out.append(value);
    }
    pos = from;
  }
  out.append(text.substr(pos));
  return out;
}

std::string KXRICHTEXTTRIMSTART(const Value& value) {
  const std::string_view text = value.Str();
  if (IsBlank(text)) return std::string(text);
  const auto isLeading = [](char c) {
    return c == '\0' || c == '\t' || c == '\n' || c == '\r' || c == ' ';
  };
  size_t start = 0;
  while (start < text.size() && isLeading(text[start])) ++start;
  // Bytes are removed only while the rest is not blank: a text of leading bytes alone
  // loses them up to its last NUL.
  if (start == text.size()) start = text.find_last_of('\0') + 1;
  return std::string(text.substr(start));
}

std::string KXRICHTEXTPLAINTEXT(const Value& content, const Value& format) {
  std::string text = KXRICHTEXTNORMALIZEINPUT(content);
  std::string kind = format.IsText() ? Lower(format.Str()) : KXRICHTEXTDETECTFORMAT(Value(text));
  const bool fromRtf = kind == "rtf";
  if (fromRtf) {
    text = KXRICHTEXTRTFTOHTML(Value(text));
    kind = "html";
  }
  if (kind != "html") return text;
  for (std::string_view lineBreak : {"<br>", "<br/>", "<br />"})
    text = ReplaceAll(text, lineBreak, "\r\n");
  text = WithoutTags(text);
  // The tabs and bullets of RTF come back as themselves.
  return fromRtf ? DecodeEntitiesOfRtfHtml(text) : KXRICHTEXTDECODEENTITIES(text);
}

Value KXRICHTEXTMIGRATECONTENT(const Value& map) {
  const Map* m = map.MapPtr();
  if (!m) return Value("\"\"");
  if (const Value* content = m->Find("cContent")) return *content;
  if (const Value* content = m->Find("content")) return *content;

  const auto first = [m](std::initializer_list<std::string_view> keys) -> const Value* {
    for (std::string_view key : keys)
      if (const Value* v = m->Find(key)) return v;
    return nullptr;
  };
  const Value* source = m->Find("contentSource");
  const std::string sourceWord = source ? Lower(ValueString(*source)) : "";
  const bool sourceIsMode = sourceWord == "fixed" || sourceWord == "formula";
  std::string mode;
  if (const Value* v = first({"cContentMode", "contentOrigin", "origin"}))
    mode = Lower(ValueString(*v));
  else if (sourceIsMode)
    mode = sourceWord;
  const Value* formulaKey = first({"cContentFormula", "contentFormula"});
  const Value formula = formulaKey ? *formulaKey : Value("");
  const Value* htmlKey = first({"cHtml", "htmlContent"});
  const std::string html = htmlKey ? ValueString(*htmlKey) : "";
  const bool hasFormula = !IsBlank(ValueString(formula));

  if (mode == "formula" && hasFormula) return formula;
  if (!IsBlank(html)) return Value(KXRICHTEXTENCODELITERAL(html));
  if (hasFormula) return formula;
  if (source && !sourceIsMode) return *source;
  return Value("\"\"");
}

std::string KXRICHTEXTENCODELITERAL(std::string_view text) {
  std::string out = "\"";
  out.reserve(text.size() + 2);
  for (char c : text) {
    if (c == '\\')
      out.append("\\\\");
    else if (c == '"')
      out.append("\"\"");
    else if (c == '\r')
      out.append("\\r");
    else if (c == '\n')
      out.append("\\n");
    else
      out.push_back(c);
  }
  out.push_back('"');
  return out;
}

std::string KXRICHTEXTVERTICALALIGN(const Value& value) {
  const std::string align = Lower(AllTrim(value.Str()));
  return align == "center" || align == "bottom" ? align : "top";
}

}  // namespace kx
