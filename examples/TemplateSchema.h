// The documented template schema, as one table: for every place of a
// template (the document, each object kind, a table's sections, lines and
// cells, the variable maps, the label layout, a chart's definition, ...) the
// keys the guide in docs/ names, each with its type, whether it is a formula,
// its documented values and what lies beneath it. check_templates walks a
// template along this table; it holds no knowledge of keys of its own.
#pragma once

#include <span>
#include <string_view>

namespace schema {

// What a key's value must be.
enum class Type { kText, kNumber, kInteger, kLogical, kList, kMap, kMapOrList };

// How the engine reads an enumerated value before it compares it.
enum class Reading {
  kExact,    // as written: "Column" is not "column"
  kFolded,   // trimmed and lower-cased
  kLowered,  // lower-cased, not trimmed
  kAlnum,    // letters and digits only, any case ("ean-13" is "EAN13")
};

// What lies beneath a key: the place of its map (a list: of each element).
enum class Below {
  kNothing,
  kPlace,          // a map of `place`'s keys
  kNamed,          // names the template chooses, each a map of `place`'s keys
  kObject,         // report objects, each of the kind its own "cType" names
  kContentObject,  // an object of the kind its cell content's "cType" names
};

// A rule beyond type and values, checked where the key stands.
enum class Rule {
  kNone,
  kResetNames,   // names of accumulators of "hAcumVars"
  kBreakFields,  // detail field names: A-Z, 0-9 and "_", after an optional "GROUP."
};

// The sections of a table, as bits: a line or section key is read in some.
inline constexpr unsigned kHeader = 1, kDetail = 2, kFooter = 4, kGroupHeader = 8,
                          kGroupFooter = 16, kAllSections = 31;

struct Place;

struct Key {
  std::string_view name;
  Type type;
  bool formula = false;  // the value (of a list: each text of it) is a formula
  Below below = Below::kNothing;
  const Place* place = nullptr;
  std::string_view element = {};  // a list's (or named map's) element in a finding ("line")
  unsigned enters = 0;            // the section a table part beneath belongs to
  unsigned sections = kAllSections;
  std::span<const std::string_view> values = {};  // the documented values, the usual first
  Reading reading = Reading::kExact;
  bool openValues = false;          // other words are the viewer's: only near misses are told
  std::string_view otherwise = {};  // what a value outside `values` does
  bool required = false;
  bool readOnly = false;  // read by the engine, not written back by its Save
  Rule rule = Rule::kNone;
};

// The keys of a place, in groups (an object kind: the base keys, then its own).
struct Place {
  std::string_view name;  // in the checker's own messages about the table
  std::span<const Key> keys;
  std::span<const Key> more = {};
  std::span<const Key> evenMore = {};
  bool open = false;  // other keys are the viewer's: only near misses of known keys are told
};

// ---------------------------------------------------------------------------
// Table parts

inline constexpr Key kBoxKeys[] = {
    {.name = "nTop", .type = Type::kNumber},
    {.name = "nRight", .type = Type::kNumber},
    {.name = "nBottom", .type = Type::kNumber},
    {.name = "nLeft", .type = Type::kNumber},
};
inline constexpr Place kBox{"padding or reserved space", kBoxKeys};

inline constexpr Key kBackgroundKeys[] = {
    {.name = "cColor", .type = Type::kText},
    {.name = "cColorFormula", .type = Type::kText, .formula = true},
    {.name = "cFillStyle", .type = Type::kText},
    {.name = "cFillColor2", .type = Type::kText},
    {.name = "cFillColor3", .type = Type::kText},
    {.name = "nFillOpacity", .type = Type::kNumber},
};
inline constexpr Place kBackground{"background", kBackgroundKeys};

inline constexpr Key kLineBorderKeys[] = {
    {.name = "lTop", .type = Type::kLogical},
    {.name = "lBottom", .type = Type::kLogical},
    {.name = "lLeft", .type = Type::kLogical},
    {.name = "lRight", .type = Type::kLogical},
    {.name = "lVerticalSeparators", .type = Type::kLogical},
    {.name = "cColor", .type = Type::kText},
    {.name = "cColorFormula", .type = Type::kText, .formula = true},
    {.name = "nWidth", .type = Type::kNumber},
    {.name = "nRounded", .type = Type::kNumber},
};
inline constexpr Place kLineBorder{"line border", kLineBorderKeys};

inline constexpr Key kCellBorderKeys[] = {
    {.name = "lTop", .type = Type::kLogical},    {.name = "lRight", .type = Type::kLogical},
    {.name = "lBottom", .type = Type::kLogical}, {.name = "lLeft", .type = Type::kLogical},
    {.name = "cColor", .type = Type::kText},     {.name = "nWidth", .type = Type::kNumber},
};
inline constexpr Place kCellBorder{"cell border", kCellBorderKeys};

inline constexpr Key kZebraKeys[] = {
    {.name = "lEnabled", .type = Type::kLogical},
    {.name = "nPattern", .type = Type::kInteger},
    {.name = "cColor1", .type = Type::kText},
    {.name = "cColor2", .type = Type::kText},
    {.name = "nColor1Opacity", .type = Type::kNumber},
    {.name = "nColor2Opacity", .type = Type::kNumber},
};
inline constexpr Place kZebra{"zebra pattern", kZebraKeys};

inline constexpr std::string_view kCellKinds[] = {"TText", "richText", "TBarcode", "TImage"};
inline constexpr Key kContentKeys[] = {
    {.name = "cType",
     .type = Type::kText,
     .values = kCellKinds,
     .otherwise = "the cell is left empty",
     .required = true},
    {.name = "hObject",
     .type = Type::kMap,
     .below = Below::kContentObject,
     .otherwise = "the cell is left empty",
     .required = true},
};
inline constexpr Place kContent{"cell content", kContentKeys};

inline constexpr Key kCellKeys[] = {
    {.name = "nWidth", .type = Type::kNumber},
    {.name = "hContent", .type = Type::kMap, .below = Below::kPlace, .place = &kContent},
    {.name = "hBackground", .type = Type::kMap, .below = Below::kPlace, .place = &kBackground},
    {.name = "hBorder", .type = Type::kMap, .below = Below::kPlace, .place = &kCellBorder},
};
inline constexpr Place kCell{"cell", kCellKeys};

inline constexpr unsigned kGroupLines = kGroupHeader | kGroupFooter;
inline constexpr Key kLineKeys[] = {
    {.name = "cName", .type = Type::kText},
    {.name = "nHeight", .type = Type::kNumber},
    {.name = "cConditionFormula", .type = Type::kText, .formula = true},
    {.name = "lKeepTogether", .type = Type::kLogical, .sections = kDetail},
    {.name = "lIgnoreEmpty", .type = Type::kLogical},
    {.name = "lPageBreakBefore", .type = Type::kLogical, .sections = kDetail | kGroupLines},
    {.name = "cSuppressCondition", .type = Type::kText, .formula = true},
    {.name = "lPageBreakAfter", .type = Type::kLogical, .sections = kDetail | kGroupFooter},
    {.name = "cGroupExpression", .type = Type::kText, .formula = true, .sections = kGroupLines},
    {.name = "lKeepWithPrevious", .type = Type::kLogical, .sections = kGroupLines},
    {.name = "aResetAcumuladores",
     .type = Type::kList,
     .sections = kGroupLines,
     .rule = Rule::kResetNames},
    {.name = "lRepeatAsHeader", .type = Type::kLogical, .sections = kGroupHeader},
    {.name = "lForceAccumulators", .type = Type::kLogical, .sections = kDetail},
    {.name = "hZebraPattern",
     .type = Type::kMap,
     .below = Below::kPlace,
     .place = &kZebra,
     .sections = kDetail},
    {.name = "hBackground", .type = Type::kMap, .below = Below::kPlace, .place = &kBackground},
    {.name = "hBorder", .type = Type::kMap, .below = Below::kPlace, .place = &kLineBorder},
    {.name = "hPadding", .type = Type::kMap, .below = Below::kPlace, .place = &kBox},
    {.name = "hReservedSpace", .type = Type::kMap, .below = Below::kPlace, .place = &kBox},
    {.name = "aCells",
     .type = Type::kList,
     .below = Below::kPlace,
     .place = &kCell,
     .element = "cell"},
};
inline constexpr Place kLine{"table line", kLineKeys};

inline constexpr Key kSectionKeys[] = {
    {.name = "aLines",
     .type = Type::kList,
     .below = Below::kPlace,
     .place = &kLine,
     .element = "line"},
    {.name = "lShowGrid", .type = Type::kLogical, .readOnly = true},
    {.name = "lConcatNextDataLine", .type = Type::kLogical, .sections = kGroupHeader},
    {.name = "lAlsoOnEmptyGroup", .type = Type::kLogical, .sections = kGroupFooter},
};
inline constexpr Place kSection{"table section", kSectionKeys};

inline constexpr Key kSectionsKeys[] = {
    {.name = "header",
     .type = Type::kMap,
     .below = Below::kPlace,
     .place = &kSection,
     .enters = kHeader},
    {.name = "detail",
     .type = Type::kMap,
     .below = Below::kPlace,
     .place = &kSection,
     .enters = kDetail},
    {.name = "footer",
     .type = Type::kMap,
     .below = Below::kPlace,
     .place = &kSection,
     .enters = kFooter},
    {.name = "groupHeader",
     .type = Type::kMap,
     .below = Below::kPlace,
     .place = &kSection,
     .enters = kGroupHeader},
    {.name = "groupFooter",
     .type = Type::kMap,
     .below = Below::kPlace,
     .place = &kSection,
     .enters = kGroupFooter},
};
inline constexpr Place kSections{"table sections", kSectionsKeys};

inline constexpr Key kGroupKeys[] = {
    {.name = "cBreakExpression", .type = Type::kText, .formula = true},
    {.name = "aBreakExpressions", .type = Type::kList, .formula = true},
    {.name = "lSkipEmptyValues", .type = Type::kLogical},
};
inline constexpr Place kGroup{"table groups", kGroupKeys};

// ---------------------------------------------------------------------------
// Charts and formatted text: open places, whose other keys are the viewer's

inline constexpr Key kCrosstabKeys[] = {
    {.name = "nRowLevel", .type = Type::kNumber},
    {.name = "nColumnLevel", .type = Type::kNumber},
    {.name = "lShowRowSummary", .type = Type::kLogical},
    {.name = "lShowColumnSummary", .type = Type::kLogical},
    {.name = "cRowFormula", .type = Type::kText, .formula = true},
    {.name = "cColumnFormula", .type = Type::kText, .formula = true},
    {.name = "cCellFormula", .type = Type::kText, .formula = true},
    {.name = "cRowLabelFormula", .type = Type::kText, .formula = true},
    {.name = "cColumnLabelFormula", .type = Type::kText, .formula = true},
    {.name = "hRowStyle", .type = Type::kMap},
    {.name = "hColumnStyle", .type = Type::kMap},
    {.name = "hCellStyle", .type = Type::kMap},
};
inline constexpr Place kCrosstab{"cross-table definition", kCrosstabKeys, {}, {}, true};

// A chart's definition is also its only cross-table definition without "aDefinitions".
inline constexpr Key kChartSpecKeys[] = {
    {.name = "cCategoryFormula", .type = Type::kText, .formula = true},
    {.name = "cValueFormula", .type = Type::kText, .formula = true},
    {.name = "aDefinitions",
     .type = Type::kList,
     .below = Below::kPlace,
     .place = &kCrosstab,
     .element = "definition"},
};
inline constexpr Place kChartSpec{"chart definition", kChartSpecKeys, kCrosstabKeys, {}, true};

inline constexpr Key kRunKeys[] = {
    {.name = "cExpression", .type = Type::kText, .formula = true},
};
inline constexpr Place kRun{"formatted text run", kRunKeys, {}, {}, true};

// ---------------------------------------------------------------------------
// Report objects

inline constexpr std::string_view kObjectKinds[] = {
    "TText",    "TFormattedText", "richText", "TLine",  "TRectangle",
    "TEllipse", "TImage",         "TBarcode", "TChart", "TTable"};

inline constexpr Key kObjectKeys[] = {
    {.name = "cId", .type = Type::kText},
    {.name = "cName", .type = Type::kText},
    {.name = "cType",
     .type = Type::kText,
     .values = kObjectKinds,
     .otherwise = "the object is dropped"},
    {.name = "nLeft", .type = Type::kNumber},
    {.name = "nTop", .type = Type::kNumber},
    {.name = "nWidth", .type = Type::kNumber},
    {.name = "nHeight", .type = Type::kNumber},
    {.name = "lVisible", .type = Type::kLogical},
    {.name = "lLocked", .type = Type::kLogical},
    {.name = "lSelected", .type = Type::kLogical},
    {.name = "nLayerId", .type = Type::kInteger},
    {.name = "nZIndex", .type = Type::kNumber},
    {.name = "cBorderColor", .type = Type::kText},
    {.name = "cBorderColorFormula", .type = Type::kText, .formula = true},
    {.name = "nBorderWidth", .type = Type::kNumber},
    {.name = "lBorderTop", .type = Type::kLogical},
    {.name = "lBorderRight", .type = Type::kLogical},
    {.name = "lBorderBottom", .type = Type::kLogical},
    {.name = "lBorderLeft", .type = Type::kLogical},
    {.name = "cBackgroundColor", .type = Type::kText},
    {.name = "cBackgroundColorFormula", .type = Type::kText, .formula = true},
    {.name = "cFillStyle", .type = Type::kText},
    {.name = "nPattern", .type = Type::kNumber},
    {.name = "cFillColor2", .type = Type::kText},
    {.name = "cFillColor2Formula", .type = Type::kText, .formula = true},
    {.name = "cFillColor3", .type = Type::kText},
    {.name = "cFillColor3Formula", .type = Type::kText, .formula = true},
    {.name = "nFillOpacity", .type = Type::kNumber},
    {.name = "nFillGradientFactor", .type = Type::kNumber},
    {.name = "nRounded", .type = Type::kNumber},
    {.name = "nShadowSize", .type = Type::kNumber},
    {.name = "nShadowTransparency", .type = Type::kNumber},
    {.name = "cShadowColor", .type = Type::kText},
    {.name = "cShadowColorFormula", .type = Type::kText, .formula = true},
    {.name = "nRotation", .type = Type::kNumber},
    {.name = "nOpacity", .type = Type::kNumber},
    {.name = "cCondition", .type = Type::kText, .formula = true},
    {.name = "nPaddingTop", .type = Type::kNumber},
    {.name = "nPaddingRight", .type = Type::kNumber},
    {.name = "nPaddingBottom", .type = Type::kNumber},
    {.name = "nPaddingLeft", .type = Type::kNumber},
    {.name = "nKx12LinkID", .type = Type::kNumber},
    {.name = "nKx12LinkToID", .type = Type::kNumber},
    {.name = "nKx12LinkMode", .type = Type::kNumber},
    {.name = "nKx12GroupId", .type = Type::kNumber},
    {.name = "lKx12WrapBefore", .type = Type::kLogical},
};

// The key that names an object's kind, which decides the object's place.
inline constexpr const Key& kObjectType = kObjectKeys[2];
static_assert(kObjectType.name == "cType");

inline constexpr std::string_view kFitModes[] = {"wrap", "truncate", "shrink", "condense"};
inline constexpr std::string_view kAligns[] = {"left", "center", "right", "justify"};
// The engine also takes "inferior" and "centro"; the guide names the other four.
inline constexpr std::string_view kTextVerticalAligns[] = {"top",    "center",   "middle",
                                                           "bottom", "inferior", "centro"};
inline constexpr Key kTextKeys[] = {
    {.name = "cText", .type = Type::kText, .formula = true},
    {.name = "cFontFamily", .type = Type::kText},
    {.name = "nFontSize", .type = Type::kNumber},
    {.name = "cFontSizeFormula", .type = Type::kText, .formula = true},
    {.name = "nFontOutPrecision", .type = Type::kInteger},
    {.name = "nFontPitchAndFamily", .type = Type::kInteger},
    {.name = "lFontBold", .type = Type::kLogical},
    {.name = "cFontBoldFormula", .type = Type::kText, .formula = true},
    {.name = "lFontItalic", .type = Type::kLogical},
    {.name = "cFontItalicFormula", .type = Type::kText, .formula = true},
    {.name = "lFontUnderline", .type = Type::kLogical},
    {.name = "cFontUnderlineFormula", .type = Type::kText, .formula = true},
    {.name = "lFontStrikeout", .type = Type::kLogical},
    {.name = "cFontStrikeoutFormula", .type = Type::kText, .formula = true},
    {.name = "cTextFitMode", .type = Type::kText, .values = kFitModes, .reading = Reading::kFolded},
    {.name = "lTextWrap", .type = Type::kLogical},
    {.name = "lForceWrap", .type = Type::kLogical},
    {.name = "lAllowPageBreak", .type = Type::kLogical},
    {.name = "nLineSpacing", .type = Type::kNumber},
    {.name = "nParagraphSpacing", .type = Type::kNumber},
    {.name = "lKeepEmptyParagraphs", .type = Type::kLogical},
    {.name = "lTextAdjusted", .type = Type::kLogical},
    {.name = "lTrimSpaces", .type = Type::kLogical},
    {.name = "cTextFlowGroup", .type = Type::kText},
    {.name = "nTextFlowOrder", .type = Type::kInteger},
    {.name = "nTextFlowLineHeight", .type = Type::kNumber},
    {.name = "cTextColor", .type = Type::kText},
    {.name = "cTextColorFormula", .type = Type::kText, .formula = true},
    {.name = "nTextOpacity", .type = Type::kNumber},
    {.name = "cTextAlign", .type = Type::kText, .values = kAligns},
    {.name = "nTextDecimalPosition", .type = Type::kNumber},
    {.name = "cTextVerticalAlign",
     .type = Type::kText,
     .values = kTextVerticalAligns,
     .reading = Reading::kFolded,
     .otherwise = "read as \"top\""},
    {.name = "cKx12SourceType", .type = Type::kText},
    {.name = "cKx12SourceJson", .type = Type::kText},
};

inline constexpr Key kFormattedTextKeys[] = {
    {.name = "aRichTextRuns",
     .type = Type::kList,
     .below = Below::kPlace,
     .place = &kRun,
     .element = "run"},
};

inline constexpr std::string_view kVerticalAligns[] = {"top", "center", "bottom"};
inline constexpr std::string_view kOverflows[] = {"hidden", "visible"};
inline constexpr Key kRichTextKeys[] = {
    {.name = "cContent", .type = Type::kText, .formula = true},
    {.name = "cVerticalAlign",
     .type = Type::kText,
     .values = kVerticalAligns,
     .reading = Reading::kFolded,
     .otherwise = "read as \"top\""},
    {.name = "cOverflow",
     .type = Type::kText,
     .values = kOverflows,
     .reading = Reading::kLowered,
     .otherwise = "read as \"hidden\""},
};

inline constexpr std::string_view kOrientations[] = {"horizontal", "vertical"};
inline constexpr std::string_view kLineStyles[] = {"solid", "dash", "dot"};
inline constexpr Key kLineObjectKeys[] = {
    {.name = "cOrientation", .type = Type::kText, .values = kOrientations},
    {.name = "cLineStyle", .type = Type::kText, .values = kLineStyles, .openValues = true},
};

inline constexpr std::string_view kSourceTypes[] = {"auto", "datos"};
inline constexpr std::string_view kFits[] = {"contain", "cover", "fill"};
inline constexpr Key kImageKeys[] = {
    {.name = "cSource", .type = Type::kText, .formula = true},
    {.name = "cSourceType",
     .type = Type::kText,
     .values = kSourceTypes,
     .reading = Reading::kFolded,
     .otherwise = "read as \"auto\""},
    {.name = "lKeepRatio", .type = Type::kLogical},
    {.name = "cFit", .type = Type::kText, .values = kFits, .openValues = true},
};

inline constexpr std::string_view kBarcodeTypes[] = {"EAN13",  "EAN8", "CODE128", "EAN128",
                                                     "GS1128", "QR",   "QRCODE",  "DATAMATRIX"};
inline constexpr Key kBarcodeKeys[] = {
    {.name = "cContent", .type = Type::kText, .formula = true},
    {.name = "cBarcodeType",
     .type = Type::kText,
     .values = kBarcodeTypes,
     .reading = Reading::kAlnum,
     .otherwise = "the barcode shows an error"},
    {.name = "lShowText", .type = Type::kLogical},
    {.name = "lTrimSpaces", .type = Type::kLogical},
    {.name = "cColor", .type = Type::kText},
    {.name = "cColorFormula", .type = Type::kText, .formula = true},
    {.name = "cFontFamily", .type = Type::kText},
    {.name = "nFontSize", .type = Type::kNumber},
    {.name = "cFontSizeFormula", .type = Type::kText, .formula = true},
    {.name = "lFontBold", .type = Type::kLogical},
    {.name = "cFontBoldFormula", .type = Type::kText, .formula = true},
    {.name = "lFontItalic", .type = Type::kLogical},
    {.name = "cFontItalicFormula", .type = Type::kText, .formula = true},
    {.name = "lFontUnderline", .type = Type::kLogical},
    {.name = "cFontUnderlineFormula", .type = Type::kText, .formula = true},
    {.name = "lFontStrikeout", .type = Type::kLogical},
    {.name = "cFontStrikeoutFormula", .type = Type::kText, .formula = true},
};

inline constexpr std::string_view kChartKinds[] = {"chart", "crosstab"};
inline constexpr Key kChartKeys[] = {
    {.name = "cChartKind", .type = Type::kText, .values = kChartKinds, .openValues = true},
    {.name = "hChartSpec", .type = Type::kMap, .below = Below::kPlace, .place = &kChartSpec},
    {.name = "cKx12SourceJson", .type = Type::kText},
};

inline constexpr std::string_view kHeightModes[] = {"fixed", "content"};
inline constexpr Key kTableKeys[] = {
    {.name = "hSections", .type = Type::kMap, .below = Below::kPlace, .place = &kSections},
    {.name = "cPageBreakCondition", .type = Type::kText, .formula = true},
    {.name = "lFixedSeparators", .type = Type::kLogical},
    {.name = "lFooterOnBottom", .type = Type::kLogical},
    {.name = "cHeightMode",
     .type = Type::kText,
     .values = kHeightModes,
     .reading = Reading::kFolded,
     .otherwise = "read as \"fixed\""},
    {.name = "hHeader",
     .type = Type::kMap,
     .below = Below::kPlace,
     .place = &kSection,
     .enters = kHeader},
    {.name = "hGroup", .type = Type::kMap, .below = Below::kPlace, .place = &kGroup},
};

inline constexpr Place kTextObject{"TText", kObjectKeys, kTextKeys};
inline constexpr Place kFormattedTextObject{"TFormattedText", kObjectKeys, kTextKeys,
                                            kFormattedTextKeys};
inline constexpr Place kRichTextObject{"richText", kObjectKeys, kRichTextKeys};
inline constexpr Place kLineObject{"TLine", kObjectKeys, kLineObjectKeys};
inline constexpr Place kRectangleObject{"TRectangle", kObjectKeys};
inline constexpr Place kEllipseObject{"TEllipse", kObjectKeys};
inline constexpr Place kImageObject{"TImage", kObjectKeys, kImageKeys};
inline constexpr Place kBarcodeObject{"TBarcode", kObjectKeys, kBarcodeKeys};
inline constexpr Place kChartObject{"TChart", kObjectKeys, kChartKeys};
inline constexpr Place kTableObject{"TTable", kObjectKeys, kTableKeys};

// The place of each object kind ("cType"), the kinds a cell may hold first.
struct Kind {
  std::string_view type;
  const Place* place;
  bool inCell;
};
inline constexpr Kind kKinds[] = {
    {"TText", &kTextObject, true},
    {"richText", &kRichTextObject, true},
    {"TBarcode", &kBarcodeObject, true},
    {"TImage", &kImageObject, true},
    {"TFormattedText", &kFormattedTextObject, false},
    {"TLine", &kLineObject, false},
    {"TRectangle", &kRectangleObject, false},
    {"TEllipse", &kEllipseObject, false},
    {"TChart", &kChartObject, false},
    {"TTable", &kTableObject, false},
};

// ---------------------------------------------------------------------------
// The document

inline constexpr Key kVariableKeys[] = {
    {.name = "tipo", .type = Type::kText},
    {.name = "formula", .type = Type::kText, .formula = true},
};
inline constexpr Place kVariable{"variable", kVariableKeys};

inline constexpr std::string_view kFlows[] = {"row", "column"};
inline constexpr Key kLabelLayoutKeys[] = {
    {.name = "nLabelWidth", .type = Type::kNumber},
    {.name = "nLabelHeight", .type = Type::kNumber},
    {.name = "nColumns", .type = Type::kInteger},
    {.name = "nRows", .type = Type::kInteger},
    {.name = "nMarginLeft", .type = Type::kNumber},
    {.name = "nMarginTop", .type = Type::kNumber},
    {.name = "nGapHorizontal", .type = Type::kNumber},
    {.name = "nGapVertical", .type = Type::kNumber},
    {.name = "cFlow", .type = Type::kText, .values = kFlows, .otherwise = "read as \"row\""},
    {.name = "cLabelFormat", .type = Type::kText},
    {.name = "nPrintOffsetX", .type = Type::kNumber},
    {.name = "nPrintOffsetY", .type = Type::kNumber},
};
inline constexpr Place kLabelLayout{"label layout", kLabelLayoutKeys};

inline constexpr Key kLayerKeys[] = {
    {.name = "nId", .type = Type::kInteger},
    {.name = "cName", .type = Type::kText},
    {.name = "cCondition", .type = Type::kText, .formula = true},
    {.name = "lDesignerVisible", .type = Type::kLogical},
    {.name = "cColor", .type = Type::kText},
};
inline constexpr Place kLayer{"layer", kLayerKeys};

inline constexpr Key kBreakKeys[] = {
    {.name = "cDetailGroup", .type = Type::kText},
    {.name = "aFields", .type = Type::kList, .rule = Rule::kBreakFields},
    {.name = "cSourceExpression", .type = Type::kText},
};
inline constexpr Place kBreak{"logical-document break", kBreakKeys};

inline constexpr std::string_view kDocumentKinds[] = {"report", "label"};
inline constexpr std::string_view kPaperFormats[] = {"a4",        "a5",        "letter",
                                                     "ticket-80", "ticket-58", "custom"};
inline constexpr std::string_view kOrientationsOfPaper[] = {"portrait", "landscape"};
inline constexpr Key kDocumentKeys[] = {
    {.name = "cType", .type = Type::kText},
    {.name = "cFormatVersion", .type = Type::kText},
    {.name = "cTemplateId", .type = Type::kText},
    {.name = "cTemplateName", .type = Type::kText},
    {.name = "cDocumentKind",
     .type = Type::kText,
     .values = kDocumentKinds,
     .reading = Reading::kFolded,
     .otherwise = "read as \"report\""},
    {.name = "cPaperFormat",
     .type = Type::kText,
     .values = kPaperFormats,
     .reading = Reading::kFolded,
     .openValues = true},
    {.name = "cPaperOrientation",
     .type = Type::kText,
     .values = kOrientationsOfPaper,
     .reading = Reading::kFolded,
     .otherwise = "read as \"portrait\""},
    {.name = "tModifiedAt", .type = Type::kText},
    {.name = "cFileName", .type = Type::kText},
    {.name = "nPaperWidth", .type = Type::kNumber},
    {.name = "nPaperHeight", .type = Type::kNumber},
    {.name = "cPaperHeightMode",
     .type = Type::kText,
     .values = kHeightModes,
     .reading = Reading::kFolded,
     .otherwise = "read as \"fixed\""},
    {.name = "nDesignHeight", .type = Type::kNumber},
    {.name = "nContinuousBottomMargin", .type = Type::kNumber},
    {.name = "lShowGrid", .type = Type::kLogical},
    {.name = "hUserVars", .type = Type::kMap, .below = Below::kNamed, .place = &kVariable},
    {.name = "hAcumVars", .type = Type::kMap, .below = Below::kNamed, .place = &kVariable},
    {.name = "hImportMetadata", .type = Type::kMap},
    {.name = "hLabelLayout", .type = Type::kMap, .below = Below::kPlace, .place = &kLabelLayout},
    {.name = "hLayers",
     .type = Type::kMapOrList,
     .below = Below::kNamed,
     .place = &kLayer,
     .element = "layer"},
    {.name = "hLogicalDocumentBreak",
     .type = Type::kMap,
     .below = Below::kPlace,
     .place = &kBreak,
     .readOnly = true},
    {.name = "aObjects", .type = Type::kList, .below = Below::kObject, .element = "object"},
};
inline constexpr Place kDocument{"template", kDocumentKeys};

}  // namespace schema
