// Two pages of rendered objects as a run writes them: texts with runs,
// a rectangle, a barcode's rows, reals keeping their decimals, a date.
#pragma once

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

}  // namespace kx::fuzz
