// The table's data export: its content as a data table, one column per detail cell and one row
// per detail record, holding the values of the cells' formulas rather than drawn objects.
#include <string>
#include <vector>

#include "FilasCompactas.h"
#include "TContextoEjecucion.h"
#include "TTable.h"
#include "TText.h"

namespace kx {

namespace {

// The one-letter kind of a column's first value; "U" while there is none.
const char* LetraTipo(const Value& v) {
  switch (v.kind()) {
    case Kind::Text:
      return "C";
    case Kind::Integer:
    case Kind::Real:
      return "N";
    case Kind::Logical:
      return "L";
    case Kind::Date:
      return "D";
    case Kind::Timestamp:
      return "T";
    case Kind::List:
      return "A";
    case Kind::Map:
      return "H";
    case Kind::Object:
      return "O";
    case Kind::Callable:
      return "B";
    case Kind::Nil:
      break;
  }
  return "U";
}

const List* Lineas(const Value& secciones, std::string_view seccion) {
  return HGet(HGet(secciones, seccion), "aLines").ListPtr();
}

const List* Celdas(const Value& linea) {
  return HGet(linea, "aCells").ListPtr();
}

// One exported column while the rows are made.
struct Columna {
  size_t nLinea = 0;  // the detail line its cell belongs to
  Value cFormula;
  Value oPlan;  // compiled once, evaluated per record
  bool lVacia = false;
  Value hColumna;  // the column's map, whose "cType" the first value sets
  bool lTipada = false;
};

}  // namespace

std::string TTable::ExportCellFormula(const Value& cell) {
  const Value& contenido = HGet(cell, "hContent");
  const Value& objeto = HGet(contenido, "hObject");
  const std::string_view tipo = HGet(contenido, "cType").Str();
  auto texto = [&](std::string_view clave) -> const Value* {
    const Map* m = objeto.MapPtr();
    return m ? m->Find(clave) : nullptr;
  };
  const Value* fuente = nullptr;
  if (tipo == "TText") {
    // Exported as printed: the formula the text object itself renders.
    return TText::FormulaDeContenido(objeto).value_or("");
  } else if (tipo == "richText") {
    fuente = texto("cContent");
    if (!fuente) fuente = texto("cText");
  } else if (tipo == "TBarcode") {
    fuente = texto("cContent");
  } else if (tipo == "TImage") {
    fuente = texto("cSource");
  }
  return fuente ? ValorAString(*fuente) : "";
}

std::string TTable::ExportFieldName(std::string_view formula) {
  const std::string_view nombre = AllTrim(formula);
  if (nombre.empty()) return "";
  for (const char c : nombre) {
    const bool valido = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                        (c >= '0' && c <= '9') || c == '_' || c == '.';
    if (!valido) return "";
  }
  const size_t punto = nombre.rfind('.');
  return std::string(punto == std::string_view::npos ? nombre : nombre.substr(punto + 1));
}

std::string TTable::ExportHeaderTitle(const Value& cell, const std::string& defaultTitle,
                                      TContextoEjecucion& context) {
  if (!cell.IsMap()) return defaultTitle;
  const std::string fuente = ExportCellFormula(cell);
  if (IsBlank(fuente)) return defaultTitle;
  const Value titulo = context.EvaluarFormula(Value(fuente));
  if (!titulo.IsText() || IsBlank(titulo.Str())) return defaultTitle;
  return std::string(AllTrim(titulo.Str()));
}

Value TTable::GenerarDatosExportablesCompactos(TContextoEjecucion& context) {
  const Value secciones = NormalizeSections();

  std::vector<Value> cabecera;
  if (const List* lineas = Lineas(secciones, "header"))
    for (const Value& linea : *lineas)
      if (const List* celdas = Celdas(linea))
        cabecera.insert(cabecera.end(), celdas->begin(), celdas->end());

  Value aColumnas = Value::NewList();
  std::vector<Columna> columnas;
  if (const List* lineas = Lineas(secciones, "detail")) {
    for (size_t l = 0; l < lineas->size(); ++l) {
      const List* celdas = Celdas((*lineas)[l]);
      if (!celdas) continue;
      for (const Value& celda : *celdas) {
        const size_t k = columnas.size();
        const std::string formula = ExportCellFormula(celda);
        const std::string campo = ExportFieldName(formula);
        const std::string titulo =
            ExportHeaderTitle(k < cabecera.size() ? cabecera[k] : Value(), campo, context);
        Columna c;
        c.nLinea = l;
        c.cFormula = Value(formula);
        c.lVacia = IsBlank(formula);
        if (!c.lVacia) c.oPlan = context.CompilarPlanFormula(c.cFormula);
        c.hColumna = Value::NewMap({{"cId", Value("column_" + std::to_string(k + 1))},
                                    {"cTitle", Value(titulo)},
                                    {"cField", Value(campo)},
                                    {"cFormula", c.cFormula},
                                    {"cType", Value("U")}});
        aColumnas.Push(c.hColumna);
        columnas.push_back(std::move(c));
      }
    }
  }

  auto filas = MakeRef<FilasCompactas>(columnas.size());
  std::vector<Value> fila(columnas.size());
  ExportRecords(context, secciones, [&](const std::vector<bool>& visibles) {
    bool alguna = false;
    for (const bool v : visibles) alguna = alguna || v;
    if (!alguna) return;
    for (size_t k = 0; k < columnas.size(); ++k) {
      Columna& c = columnas[k];
      Value valor;
      if (visibles[c.nLinea])
        valor = c.lVacia ? Value("") : context.EvaluarPlanFormula(c.oPlan, c.cFormula);
      if (!c.lTipada && !valor.IsNil()) {
        c.hColumna.Set("cType", Value(LetraTipo(valor)));
        c.lTipada = true;
      }
      fila[k] = std::move(valor);
    }
    filas->Agregar(fila);
  });

  const Value nombre = IsBlank(ValorAString(cName)) ? cId : cName;
  return Value::NewMap({{"cId", cId},
                        {"cName", nombre},
                        {"aColumns", aColumnas},
                        {"aRows", Value(Ref<KXObject>(filas))},
                        {"nRecordCount", static_cast<int64_t>(filas->size())},
                        {"lHasGroupHeaders", false},
                        {"lHasGroupFooters", false},
                        {"lHasTotals", false}});
}

Value TTable::GenerarDatosExportables(TContextoEjecucion& context) {
  Value tabla = GenerarDatosExportablesCompactos(context);
  LeerFilasCompactas(tabla);
  return tabla;
}

}  // namespace kx
