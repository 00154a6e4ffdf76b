// Pages of rendered objects as a run writes them: texts with runs, a
// rectangle, a barcode's rows, reals keeping their decimals, a date; and a
// chart whose points several pages share.
#pragma once

#include <string>

#include "Json.h"
#include "Value.h"

namespace kx::fuzz {

inline Value FixturePage(int n) {
  Value objects = JsonDecode(R"J([
    {"id":"t1","tipo":"texto","x":10.0,"y":20.5,"ancho":100,"alto":5.25,"texto":"Hoja 1 de 2",
     "formula":"'Hoja ' + PAGE() + ' de ' + TOTALPAGES()","tamano":9,"negrita":false,
     "runs":[{"texto":"Hoja ","negrita":true},{"texto":"1 de 2","colorTexto":"#374151"}]},
    {"id":"r1","tipo":"rectangulo","x":0.0,"y":0.0,"ancho":190,"alto":12.5,
     "colorFondo":"transparent","zIndex":26},
    {"id":"b1","tipo":"barcode","barcodeTipo":"QR","matriz":["1110","1001","0111"],
     "margenModulos":4,"mostrarTexto":true,"x":1,"y":2,"ancho":20,"alto":20},
    {"id":"n1","tipo":"texto","texto":"","valores":[null,1,-7,3.000,"año",[[]],{}]}])J");
  objects.AsList()[3].Set("fecha", Value::DateYMD(2025, 1, 31 - n));
  return objects;
}

// Three objects beside a chart of the series, which every page of a document may share.
inline Value FixtureChartPage(const Value& series) {
  Value objects = FixturePage(1);
  objects.Push(Value::NewMap({{"puntos", series}, {"id", "g1"}, {"tipo", "chart"}}));
  return objects;
}

// A chart's points, enough of them to be kept once for all the pages that show them.
inline Value FixtureSeries() {
  Value series = Value::NewList();
  for (int i = 0; i < 40; ++i)
    series.Push(Value::NewMap({{"label", Value(std::string("M").append(std::to_string(i)))},
                               {"value", Value::Real(i * 1.5, 1)}}));
  return series;
}

}  // namespace kx::fuzz
