// A chart: turns detail records into chart data and draws nothing. Once per
// record it evaluates its formulas and answers either a series of points
// ({label, value} per record) or, for the kind "crosstab", a cross table of
// rows, columns and summed cells, with summary rows and columns labelled
// "Total". The kind and the chart settings map ("hChartSpec") pass through unchanged: the
// renderer decides from them how to draw.
//
// Records: in a job run, every detail record of the job (the run's record
// list); without that list (a preview), the rows of the first detail block
// of the report data. A record's fields reach the formulas as plain values
// under both the dotted name (block "." field) and the bare field name.
//
// Each composition evaluates the formulas with its own state (page, page
// counts, running sums), so a chart on every page or label shows the state
// of the page it is drawn on. Formulas that read only the records give the
// same data everywhere: that data is built once per record list and every
// page shares it.
#pragma once

#include <string>

#include "TObjectBase.h"

namespace kx {

class TChart : public TObjectBase {
 public:
  // New(parent): the base defaults, then `Init`.
  explicit TChart(TReportNode* parent = nullptr) : TObjectBase(parent) { TChart::Init(parent); }
  std::string_view ClassName() const override { return "TChart"; }

  // Stores the parent and sets the chart's name, type, kind and empty settings map.
  TChart& Init(TReportNode* parent) override;
  // Empties the settings map and drops the parent.
  void End() override;
  // The base keys, then "cChartKind", "hChartSpec" and "cKx12SourceJson".
  Value Save() override;
  // The base keys; then, for a map, all three chart keys (absent ones take their defaults).
  TChart& Load(const Value& map) override;
  // The chart data followed by the ten object keys, or nothing when the chart is not drawn.
  Value GenerarRenderizable(TContextoEjecucion& context) override;

  std::string cChartKind{"chart"};
  Value hChartSpec = Value::NewMap();
  std::string cKx12SourceJson;

 private:
  struct DefinicionCruzada;
  // The data of the records ({"puntos"} or the cross table), kept per job record list while
  // the formulas read nothing but the records.
  Value DatosGrafico(TContextoEjecucion& context);
  // Some formula may read the page, a running sum or a user variable.
  bool FormulasLeenEstado(TContextoEjecucion& context);
  Value FormulaCategoria() const;
  Value FormulaValor() const;
  // {"puntos": one {label, value} per record}.
  Value BuildChart(TContextoEjecucion& context);
  // {"filas", "columnas", "celdas", "estilos"} summed over every definition and record.
  Value BuildCrosstab(TContextoEjecucion& context);
  // Reads one cross-table definition; false when it is passed over.
  static bool LeerDefinicion(const Value& def, DefinicionCruzada& d);
  static std::string StringValue(const Value& value) { return ValorAString(value); }
  static Value NumberValue(const Value& value) { return ValorANumero(value); }

  // The data built for a job record list, with what it was built from (the list is kept alive
  // while cached, so its identity cannot be taken by another list).
  struct Cache {
    Value aRegistros, hSpec;
    std::string cKind;
    Value hDatos;
  };
  Cache oCache_;
  // Whether the formulas read more than the records, for the settings and the user variables
  // it was judged on.
  struct Analisis {
    bool lHecho = false;
    Value hSpec;
    std::string cKind;
    Value hUsuario;
    bool lLeeEstado = false;
  };
  Analisis oAnalisis_;
};

}  // namespace kx
