// The report data of one job (`RawDataMap`) and the base data connector:
// loads the data from a JSON file, flattens it into variables and detail
// records and rewrites the picture masks of data converted from KX12.
//
// RawDataMap sections (each optional; a section of the wrong kind counts as
// empty): "DataVar" group -> field -> value, "DetalleVar" block -> rows,
// "UserVar" and "AcumVar" name -> {"formula"}, the record connector's
// "_StructVar", "_RegVar", "_StructLine", "_RegLine", and the fallback row
// lists "lineasTabla" ... "REGISTROS". A map holding "valor" (`TypedValue`)
// stands for its "valor" wherever a data value is read.
#pragma once

#include <string>

#include "Value.h"

namespace kx {

// A `TypedValue` {"tipo", "valor"} stands for its "valor"; any other value, a
// map without "valor" included, for itself. Every reader of data values (the
// connectors, the table's and the chart's record sources, the console
// program) follows this one rule.
const Value& ValorPlano(const Value& valor);

class TConectorDatos : public KXObject {
 public:
  explicit TConectorDatos(const Value& ruta = Value()) { TConectorDatos::Init(ruta); }
  std::string_view ClassName() const override { return "TConectorDatos"; }

  // Keeps the path when it is a text and empties the data.
  virtual TConectorDatos& Init(const Value& ruta);
  // Loads the data file named by the path; empty data without a path.
  virtual TConectorDatos& Create();
  // Empties the data and forgets the path.
  virtual void End();
  // Sets the path read by the next Create (a non-text gives "").
  TConectorDatos& SetRuta(const Value& ruta);
  // The live RawDataMap (not a copy).
  virtual const Value& GetData() const { return hDatos; }
  // Flattened variables: "DataVar", the first detail record, "VAR." and "SUM." formula texts.
  virtual Value GetVariables();
  // The detail records of "DetalleVar", else of the first fallback row list.
  virtual Value GetRegistrosDetalle();
  // Rewrites the numeric picture masks of the group "OMEM_PICTURES" in place; answers the map
  // (a new empty map for a non-map).
  Value NormalizarDatosRuntime(const Value& datos);

  Value hDatos = Value::NewMap();
  std::string cRuta;

 protected:
  // A `TypedValue` stands for its "valor"; any other value for itself.
  static const Value& ValorVariableTipada(const Value& valor);
  // The variables of "DataVar": group "." field -> value, in order.
  static Value VariablesDataVar(const Value& datos);
};

}  // namespace kx
