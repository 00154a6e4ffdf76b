// The table object: a list-style table of sections (a header, a detail
// section printed once per detail record, a footer, group headers and group
// footers), each a list of lines, each line a row of cells holding one
// content object. The table derives from the rectangle, whose map is the
// frame drawn behind everything else.
//
// `Load` normalises the template's sections once (fixed key orders, defaults,
// column widths fitted to the table) and the normalised maps are what the
// table renders; `Save` writes them back. A render prints ONE page per call
// and keeps no pagination state of its own: where the page starts, the
// running sums, the detail record split at the bottom of the previous page
// and what this page consumed all live in the execution context, from where
// the page loop carries them to the next call. Each table that lists the
// job's records keeps there its own place in them and its own running sums,
// so tables beside each other go through all the records at their own pace. Records are addressed
// by their index in the whole job ("global" index mode), so groups, zebra stripes and the "_r" part
// of the ids continue across pages.
//
// What survives a render is only cache: the normalised sections (and their
// compiled form, rebuilt when the normalised map changes), the cell content
// objects (made once per section, line, cell and kind for the table's life)
// and the timing map of the last render.
//
// Timing: the setup, record-loop and finish spans come from the millisecond
// clock; the sums of spans taken per line, per cell and per addition
// (partition, render lines, cell content, accumulate) are read from the CPU's
// time-stamp counter (`platform::TickCount`), which costs a fraction of a
// clock call, and turned into milliseconds when the render reports them.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "TRectangle.h"

namespace kx {

struct TTablePlano;
class TTableRender;

class TTable : public TRectangle {
 public:
  // New(parent): the rectangle's defaults, then the table's `Init`.
  explicit TTable(TReportNode* parent = nullptr);
  ~TTable() override;
  TTable(const TTable&) = delete;
  TTable& operator=(const TTable&) = delete;
  std::string_view ClassName() const override { return "TTable"; }

  // ---- The report object protocol

  // The rectangle's `Init`, then the table's name, type, size, background and empty caches.
  TTable& Init(TReportNode* parent) override;
  // The rectangle's `Create`, then the header normalised once more.
  TTable& Create() override;
  // Ends the cell objects, empties the caches and drops the parent.
  void End() override;
  // The base keys, then the normalised sections, page-break condition, flags, header and group.
  Value Save() override;
  // Reads the template's table keys and normalises its sections; answers the table.
  TTable& Load(const Value& map) override;
  // The pieces of ONE page (frame, header, records, separators, footer), or nothing when the
  // table is not drawn in this execution.
  Value GenerarRenderizable(TContextoEjecucion& context) override;
  // A copy of the timing map of the latest render.
  Value GetPerformanceDiagnostics() override;
  // True: a table gives its content as a data table after a run.
  bool AnswersGenerarDatosExportables() const override { return true; }
  // True when its sections hold detail, group header or group footer lines.
  bool ListaRegistrosDelTrabajo() const override;
  // The data table: one column per detail cell, one row per record that shows a detail line.
  Value GenerarDatosExportables(TContextoEjecucion& context) override;
  // The data table, its rows held compactly until read.
  Value GenerarDatosExportablesCompactos(TContextoEjecucion& context) override;

  // ---- Normalisation of the template model (each treats a non-map as an empty map)

  // The five normalised sections, also stored in `hSections`; normalises `hGroup` too.
  Value NormalizeSections();
  // The section held in `hHeader` normalised; leaves {"aLines": ...} in `hHeader`.
  Value NormalizeHeader();
  // One section normalised for the key its default name gives.
  Value NormalizeSection(const Value& section, std::string_view defaultName,
                         bool createDefault = false);
  // {"cBreakExpression", "aBreakExpressions", "lSkipEmptyValues"}.
  static Value NormalizeGroupSettings(const Value& group);
  // Takes the first older per-line page-break condition when the table has none.
  void MigrateSectionPageBreakCondition(const Value& sections);
  // The line options its section kind carries, in their fixed order.
  static Value NormalizeLineAdvancedOptions(const Value& line, std::string_view sectionKey);
  // {"nWidth", "hContent", "hBackground", "hBorder"} with the given width.
  static Value NormalizeHeaderCell(const Value& cell, const Value& width);
  // {"cType", "hObject"} for the four content kinds, else nothing.
  static Value NormalizeHeaderCellContent(const Value& content);
  // The nine-key line border; "lVerticalSeparators" defaults to the section's grid flag.
  static Value NormalizeHeaderLineBorder(const Value& border, bool showGrid = true);
  // The six-key background of a line or a cell.
  static Value NormalizeHeaderLineBackground(const Value& background);
  // Same as the line background.
  static Value NormalizeHeaderCellBackground(const Value& background);
  // {"nTop", "nRight", "nBottom", "nLeft"}, none below 0.
  static Value NormalizeHeaderLinePadding(const Value& padding);
  // Same keys and rule as the padding.
  static Value NormalizeLineReservedSpace(const Value& reserved);
  // The six-key zebra pattern of a detail line.
  static Value NormalizeZebraPattern(const Value& zebra);

  // ---- Defaults

  // The background with every default.
  static Value DefaultHeaderLineBackground();
  // Four sides on, the given vertical-separator flag, no colour, no width, no rounding.
  static Value DefaultHeaderLineBorder(bool verticalSeparators = true);
  // Four zeros.
  static Value DefaultHeaderLinePadding();
  // Four zeros.
  static Value DefaultLineReservedSpace();
  // A cell of that width, no content, the default background, four borders on.
  static Value DefaultHeaderCell(const Value& width);
  // Same as the line background default.
  static Value DefaultHeaderCellBackground();
  // 5.0 mm.
  static double MinColumnWidth() { return 5.0; }
  // "detail", "footer", "groupHeader", "groupFooter" for their default names, else "header".
  static std::string SectionKeyFromDefaultName(std::string_view name);

  // ---- Members the table adds, in declaration order

  Value hHeader;  // the header section; {"aLines": ...} once normalised
  Value hSections;
  Value hGroup;
  std::string cPageBreakCondition;
  bool lFixedSeparators = false;
  bool lFooterOnBottom = true;
  std::string cHeightMode{"fixed"};
  Value hCellObjectCache;  // object cache key -> cell content object
  Value hCellRenderCache;  // render cache key -> pre-rendered cell map, or false
  Value hNormalizedSectionsCache;
  Value hPerformanceDiagnostics;

 private:
  friend class TTableRender;  // the render of one page and its steps (TTableInterno.h)

  // Normalises one section's lines for a section key and grid flag.
  Value NormalizeLines(const Value& lines, std::string_view sectionKey, bool showGrid);
  // Ends every cached cell object that answers `End` and empties the cache.
  void ClearCellObjectCache();

  // ---- The data export (TTableExport.cpp)

  // The source text of a cell's content, read as rendering reads it; "" without content.
  static std::string ExportCellFormula(const Value& cell);
  // The field a formula names: the part after its last "."; "" unless it is a plain name.
  static std::string ExportFieldName(std::string_view formula);
  // A header cell's title: its formula's value when that is a non-blank text, else the default.
  static std::string ExportHeaderTitle(const Value& cell, const std::string& defaultTitle,
                                       TContextoEjecucion& context);
  // Walks the table's records as a render reads them: each record that is a map is made
  // current, `row` is told which detail lines show for it (condition true, not suppressed),
  // and the record is released; the sums the rows read are kept as the pages keep them.
  void ExportRecords(TContextoEjecucion& context, const Value& sections,
                     const std::function<void(const std::vector<bool>& visible)>& row);

  // A user variable of the options calls LASTPAGE: the table's lines may read it through one.
  bool UserVarsLeenUltimaPagina(const Value& opciones);

  std::unique_ptr<TTablePlano> oPlano_;  // the normalised sections in compiled form
  Value hUserVarsVistas_;                // the user variables UserVarsLeenUltimaPagina read last
  bool lUserVarsUltima_ = false;         // and its answer
  size_t nPiezasPrevias_ = 0;  // pieces the last page rendered: the next one reserves as many
};

}  // namespace kx
