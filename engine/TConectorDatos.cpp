#include "TConectorDatos.h"

#include "Json.h"
#include "Platform.h"

namespace kx {

namespace {

constexpr std::string_view kGrupoMascaras = "OMEM_PICTURES";

// Row lists read when "DetalleVar" gives no record, in this order.
constexpr std::string_view kListasAlternativas[] = {"lineasTabla",   "LINEAS_TABLA", "detalleTabla",
                                                    "DETALLE_TABLA", "detalle",      "DETALLE",
                                                    "registros",     "REGISTROS"};

// The path when it names an existing file, else "".
std::string ResolverRuta(const std::string& ruta) {
  return !ruta.empty() && platform::FileExists(ruta) ? ruta : std::string();
}

// The data file as a map; anything unreadable, blank or not an object gives empty data.
Value CargarJson(const std::string& ruta) {
  std::string path = ResolverRuta(ruta);
  std::string content;
  // A UTF-8 byte-order mark is not data: editors on Windows write one.
  if (path.empty() || !platform::ReadTextFile(path, content) || IsBlank(content)) {
    return Value::NewMap();
  }
  Value decoded = JsonDecode(content);
  return decoded.IsMap() ? decoded : Value::NewMap();
}

// A text whose trimmed form is non-empty, does not begin with "@", holds only
// "-&#9,." and at least one digit placeholder.
bool EsMascaraNumericaKx12(const Value& valor) {
  if (!valor.IsText()) return false;
  std::string_view mask = AllTrim(valor.Str());
  if (mask.empty() || mask.front() == '@') return false;
  bool placeholder = false;
  for (char c : mask) {
    if (std::string_view("-&#9,.").find(c) == std::string_view::npos) return false;
    if (c == '&' || c == '#' || c == '9') placeholder = true;
  }
  return placeholder;
}

// "@E " and the untrimmed mask with every placeholder, sign and blank as "9";
// the thousands "," survives only beside a decimal ".".
std::string NormalizarMascaraKx12(std::string_view mask) {
  bool decimalPoint = mask.find('.') != std::string_view::npos;
  std::string out = "@E ";
  for (char c : mask) {
    if (c == '.') {
      out.push_back('.');
    } else if (c == ',') {
      if (decimalPoint) out.push_back(',');
    } else {
      out.push_back('9');
    }
  }
  return out;
}

Value NormalizarValorDato(const Value& valor) {
  return EsMascaraNumericaKx12(valor) ? Value(NormalizarMascaraKx12(valor.Str())) : valor;
}

// The records of the first "DetalleVar" block that gives any.
Value RegistrosDetalleVar(const Value& datos) {
  const Map* bloques = datos.Get("DetalleVar").MapPtr();
  if (!bloques) return Value::NewList();
  for (const Map::Entry& bloque : *bloques) {
    std::string_view nombreBloque = bloque.key.Str();
    const List* filas = bloque.value.ListPtr();
    if (nombreBloque.empty() || !filas) continue;
    Value registros = Value::NewList();
    for (const Value& fila : *filas) {
      const Map* campos = fila.MapPtr();
      if (!campos) continue;
      Value registro = Value::NewMap();
      for (const Map::Entry& campo : *campos) {
        if (campo.key.Str().empty()) continue;
        std::string clave;
        clave.reserve(nombreBloque.size() + 1 + campo.key.Str().size());
        clave.append(nombreBloque).append(".").append(campo.key.Str());
        registro.AsMap().Set(clave, ValorPlano(campo.value));
      }
      if (registro.Len() > 0) registros.Push(registro);
    }
    if (registros.Len() > 0) return registros;
  }
  return Value::NewList();
}

// The map elements of the first fallback key holding a list, as they stand.
Value RegistrosAlternativos(const Value& datos) {
  Value registros = Value::NewList();
  for (std::string_view clave : kListasAlternativas) {
    const List* filas = datos.Get(clave).ListPtr();
    if (!filas) continue;
    for (const Value& fila : *filas) {
      if (fila.IsMap()) registros.Push(fila);
    }
    break;
  }
  return registros;
}

// prefix + name -> the text form of each definition's "formula".
void VariablesFormula(const Value& definiciones, std::string_view prefijo, Map& out) {
  const Map* defs = definiciones.MapPtr();
  if (!defs) return;
  for (const Map::Entry& def : *defs) {
    if (def.key.Str().empty()) continue;
    std::string nombre(prefijo);
    nombre += def.key.Str();
    out.Set(nombre, Value(ValueString(def.value.Get("formula"))));
  }
}

}  // namespace

TConectorDatos& TConectorDatos::Init(const Value& ruta) {
  cRuta = ruta.IsText() ? std::string(ruta.Str()) : std::string();
  hDatos = Value::NewMap();
  return *this;
}

TConectorDatos& TConectorDatos::Create() {
  hDatos = cRuta.empty() ? Value::NewMap() : NormalizarDatosRuntime(CargarJson(cRuta));
  return *this;
}

void TConectorDatos::End() {
  hDatos = Value::NewMap();
  cRuta.clear();
}

TConectorDatos& TConectorDatos::SetRuta(const Value& ruta) {
  cRuta = ruta.IsText() ? std::string(ruta.Str()) : std::string();
  return *this;
}

Value TConectorDatos::GetVariables() {
  Value variables = VariablesDataVar(hDatos);
  Map& out = variables.AsMap();
  Value registros = GetRegistrosDetalle();
  if (registros.Len() > 0) {
    if (const Map* primero = registros.AsList()[0].MapPtr()) {
      for (const Map::Entry& e : *primero) out.SetKey(e.key, e.value);
    }
  }
  VariablesFormula(hDatos.Get("UserVar"), "VAR.", out);
  VariablesFormula(hDatos.Get("AcumVar"), "SUM.", out);
  return variables;
}

Value TConectorDatos::GetRegistrosDetalle() {
  Value registros = RegistrosDetalleVar(hDatos);
  return registros.Len() > 0 ? registros : RegistrosAlternativos(hDatos);
}

Value TConectorDatos::NormalizarDatosRuntime(const Value& datos) {
  if (!datos.IsMap()) return Value::NewMap();
  Map* mascaras = datos.Get("DataVar").Get(kGrupoMascaras).MapPtr();
  if (!mascaras) return datos;
  for (Map::Entry e : *mascaras) {
    if (e.value.IsMap() && e.value.Has("valor")) {
      e.value.Set("valor", NormalizarValorDato(e.value.Get("valor")));
    } else {
      e.value = NormalizarValorDato(e.value);
    }
  }
  return datos;
}

const Value& ValorPlano(const Value& valor) {
  return valor.IsMap() ? valor.Get("valor", valor) : valor;
}

const Value& TConectorDatos::ValorVariableTipada(const Value& valor) {
  return ValorPlano(valor);
}

Value TConectorDatos::VariablesDataVar(const Value& datos) {
  Value variables = Value::NewMap();
  const Map* grupos = datos.Get("DataVar").MapPtr();
  if (!grupos) return variables;
  Map& out = variables.AsMap();
  for (const Map::Entry& grupo : *grupos) {
    std::string_view nombreGrupo = grupo.key.Str();
    const Map* campos = grupo.value.MapPtr();
    if (nombreGrupo.empty() || !campos) continue;
    for (const Map::Entry& campo : *campos) {
      if (campo.key.Str().empty()) continue;
      std::string clave;
      clave.reserve(nombreGrupo.size() + 1 + campo.key.Str().size());
      clave.append(nombreGrupo).append(".").append(campo.key.Str());
      out.Set(clave, ValorVariableTipada(campo.value));
    }
  }
  return variables;
}

}  // namespace kx
