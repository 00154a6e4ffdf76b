#include "TConectorDatosReg.h"

#include <initializer_list>
#include <vector>

namespace kx {

namespace {

// The normalised definitions, and for each the position of its element in the
// list as sent: the value rows follow the list as sent, so a dropped element
// must not shift the values of the ones after it.
struct Estructura {
  Value aDefiniciones = Value::NewList();
  std::vector<size_t> aPosiciones;
};

// The first of the keys present in the element, whatever its value.
const Value* PrimeraClave(const Map& elemento, std::initializer_list<std::string_view> claves) {
  for (std::string_view clave : claves) {
    if (const Value* v = elemento.Find(clave)) return v;
  }
  return nullptr;
}

std::string NormalizarTipo(const Value* tipo) {
  if (!tipo) return "texto";
  std::string palabra = Lower(AllTrim(ValueString(*tipo)));
  auto es = [&](std::initializer_list<std::string_view> palabras) {
    for (std::string_view p : palabras) {
      if (palabra == p) return true;
    }
    return false;
  };
  if (palabra.empty() || es({"c", "char", "character", "string", "texto"})) return "texto";
  if (es({"n", "num", "number", "numeric", "numerico", "decimal"})) return "numerico";
  if (es({"d", "date", "fecha"})) return "fecha";
  if (es({"l", "logical", "bool", "boolean", "logico"})) return "logico";
  if (es({"m", "memo"})) return "memo";
  if (es({"i", "image", "imagen"})) return "imagen";
  return palabra;
}

// "grupo.nombre" in the name names the group too.
void SplitCampo(std::string& grupo, std::string& nombre) {
  size_t punto = nombre.find('.');
  if (punto == std::string::npos) return;
  grupo = nombre.substr(0, punto);
  nombre.erase(0, punto + 1);
}

// The connector form of one definition: "nombre", "grupo", "tipo", "longitud", "decimales".
Value DefinicionCampo(const Map& elemento, const std::string& grupoDefecto) {
  const Value* nombreDado = PrimeraClave(elemento, {"nombre", "name", "campo", "cName"});
  const Value* grupoDado = PrimeraClave(elemento, {"grupo", "group", "tabla", "alias"});
  std::string nombre(AllTrim(nombreDado ? ValueString(*nombreDado) : std::string()));
  // A blank group is as good as none: it gets the default group instead of
  // making the field unreachable.
  std::string grupo(AllTrim(grupoDado ? ValueString(*grupoDado) : std::string()));
  if (grupo.empty()) grupo = grupoDefecto;
  SplitCampo(grupo, nombre);
  const Value* longitud = PrimeraClave(elemento, {"longitud", "length", "nLength"});
  const Value* decimales = PrimeraClave(elemento, {"decimales", "decimals", "nDecimals"});
  Value definicion = Value::NewMap();
  Map& out = definicion.AsMap();
  out.Append(KeyText("nombre"), Value(nombre));
  out.Append(KeyText("grupo"), Value(grupo));
  out.Append(KeyText("tipo"),
             Value(NormalizarTipo(PrimeraClave(elemento, {"tipo", "type", "cType"}))));
  out.Append(KeyText("longitud"), longitud ? *longitud : Value());
  out.Append(KeyText("decimales"), decimales ? *decimales : Value());
  return definicion;
}

Estructura NormalizarStruct(const Value& lista, const std::string& grupoDefecto) {
  Estructura e;
  const List* elementos = lista.ListPtr();
  if (!elementos) return e;
  for (size_t i = 0; i < elementos->size(); ++i) {
    const Map* elemento = (*elementos)[i].MapPtr();
    if (!elemento) continue;
    Value definicion = DefinicionCampo(*elemento, grupoDefecto);
    if (definicion.Get("nombre").Str().empty()) continue;
    e.aDefiniciones.Push(definicion);
    e.aPosiciones.push_back(i);
  }
  return e;
}

// A copy of normalised definitions as DeepClone makes it: each definition
// map copied (sharing its key table), a list or map under one of its keys
// copied too.
Value CopiaDefiniciones(const Value& definiciones) {
  Value copia = Value::NewList();
  copia.AsList().Reserve(definiciones.Len());
  for (const Value& d : definiciones.AsList()) {
    auto mapa = MakeRef<Map>(d.AsMap());
    for (size_t j = 0; j < mapa->size(); ++j) {
      Value& v = mapa->ValueAt(j);
      if (v.IsList() || v.IsMap()) v = DeepClone(v);
    }
    copia.Push(Value(std::move(mapa)));
  }
  return copia;
}

const Value& ElementoFila(const List* fila, size_t posicion) {
  return fila && posicion < fila->size() ? (*fila)[posicion] : kNil;
}

Value ValorTipado(const Value& definicion, const Value& valor) {
  Value tipado = Value::NewMap();
  tipado.AsMap().Append(KeyText("tipo"), definicion.Get("tipo"));
  tipado.AsMap().Append(KeyText("valor"), valor);
  return tipado;
}

std::string Clave(std::string_view grupo, std::string_view campo) {
  std::string clave;
  clave.reserve(grupo.size() + 1 + campo.size());
  clave.append(grupo).append(".").append(campo);
  return clave;
}

// group "." field -> plain value for one detail element.
Value RegistroDetalle(std::string_view grupo, const Map& campos) {
  Value registro = Value::NewMap();
  registro.AsMap().Reserve(campos.size());
  for (const Map::Entry& campo : campos) {
    registro.AsMap().Set(Clave(grupo, campo.key.Str()), ValorPlano(campo.value));
  }
  return registro;
}

}  // namespace

TConectorDatosReg& TConectorDatosReg::Init(const Value& /*ignored*/) {
  hDatos = Value::NewMap({{"DataVar", Value::NewMap()},
                          {"DetalleVar", Value::NewMap()},
                          {"_StructVar", Value::NewList()},
                          {"_RegVar", Value::NewList()},
                          {"_StructLine", Value::NewList()},
                          {"_RegLine", Value::NewList()}});
  cRuta.clear();
  cGrupoVarDefecto = "DATOS";
  cGrupoLineDefecto = "LINEAS";
  cGrupoLineActual = "LINEAS";
  nIndiceLineActual = 0;
  hVariablesCache = Value();
  aRegistrosDetalleCache = Value();
  return *this;
}

void TConectorDatosReg::End() {
  std::string grupoLine = cGrupoLineDefecto;
  std::string grupoVar = cGrupoVarDefecto;
  Init(Value());
  cGrupoLineDefecto = grupoLine;
  cGrupoVarDefecto = grupoVar;
  cGrupoLineActual = cGrupoLineDefecto;
}

TConectorDatosReg& TConectorDatosReg::SendDataVar(const Value& aStructVar, const Value& aRegVar) {
  Estructura e = NormalizarStruct(aStructVar, cGrupoVarDefecto);
  const List* fila = nullptr;
  if (aRegVar.IsList() && aRegVar.Len() > 0) fila = aRegVar.AsList()[0].ListPtr();
  Value dataVar = Value::NewMap();
  const List& definiciones = e.aDefiniciones.AsList();
  for (size_t i = 0; i < definiciones.size(); ++i) {
    const Value& def = definiciones[i];
    std::string_view grupo = def.Get("grupo").Str();
    std::string_view nombre = def.Get("nombre").Str();
    if (grupo.empty() || nombre.empty()) continue;
    Value* campos = dataVar.AsMap().Find(grupo);
    if (!campos) campos = &dataVar.AsMap().Append(KeyText(grupo), Value::NewMap());
    campos->Set(nombre, ValorTipado(def, ElementoFila(fila, e.aPosiciones[i])));
  }
  hDatos.Set("DataVar", dataVar);
  NormalizarDatosRuntime(hDatos);
  hDatos.Set("_StructVar", e.aDefiniciones);
  hDatos.Set("_RegVar", aRegVar.IsList() ? aRegVar : Value::NewList());
  hVariablesCache = Value();
  return *this;
}

bool TConectorDatosReg::EstructuraVista::Vigente(const Value& struc,
                                                 const std::string& grupo) const {
  const List* elementos = struc.ListPtr();
  if (!elementos || !lista.SameRef(struc) || grupo != cGrupo ||
      elementos->size() != aElementos.size())
    return false;
  size_t k = 0;
  for (size_t i = 0; i < elementos->size(); ++i) {
    const Map* elemento = (*elementos)[i].MapPtr();
    if (elemento != aElementos[i]) return false;
    if (!elemento) continue;
    if (elemento->KeyVersion() != aVersiones[i]) return false;
    for (size_t j = 0; j < elemento->size(); ++j)
      if (!elemento->ValueAt(j).SameRef(aValores[k++])) return false;
  }
  return true;
}

void TConectorDatosReg::EstructuraVista::Tomar(const Value& struc, const std::string& grupo) {
  Estructura e = NormalizarStruct(struc, grupo);
  *this = EstructuraVista{};
  aDefiniciones = e.aDefiniciones;
  aPosiciones = std::move(e.aPosiciones);
  const List* elementos = struc.ListPtr();
  if (!elementos) return;
  lista = struc;
  cGrupo = grupo;
  for (const Value& v : *elementos) {
    const Map* elemento = v.MapPtr();
    aElementos.push_back(elemento);
    aVersiones.push_back(elemento ? elemento->KeyVersion() : 0);
    if (elemento)
      for (size_t j = 0; j < elemento->size(); ++j) aValores.push_back(elemento->ValueAt(j));
  }
}

TConectorDatosReg& TConectorDatosReg::SendDataLine(const Value& aStructLine,
                                                   const Value& aRegLine) {
  if (!oEstructuraLine_.Vigente(aStructLine, cGrupoLineDefecto))
    oEstructuraLine_.Tomar(aStructLine, cGrupoLineDefecto);
  // The definitions handed out are a copy: the cached ones stay as they were made.
  const Value aDefiniciones = CopiaDefiniciones(oEstructuraLine_.aDefiniciones);
  const std::vector<size_t>& posiciones = oEstructuraLine_.aPosiciones;
  const List& definiciones = aDefiniciones.AsList();
  std::string_view primerGrupo =
      definiciones.empty() ? std::string_view() : definiciones[0].Get("grupo").Str();
  cGrupoLineActual = primerGrupo.empty() ? cGrupoLineDefecto : std::string(primerGrupo);

  Value detalleVar = Value::NewMap();
  if (const List* filas = aRegLine.ListPtr()) {
    // Each definition's group list, found once instead of once per row.
    std::vector<Value> listas(definiciones.size());
    for (size_t r = 0; r < filas->size(); ++r) {
      const List* fila = (*filas)[r].ListPtr();
      if (!fila) continue;
      for (size_t i = 0; i < definiciones.size(); ++i) {
        const Value& def = definiciones[i];
        std::string_view grupo = def.Get("grupo").Str();
        std::string_view nombre = def.Get("nombre").Str();
        if (grupo.empty() || nombre.empty()) continue;
        if (!listas[i].IsList()) {
          Value* lista = detalleVar.AsMap().Find(grupo);
          if (!lista) lista = &detalleVar.AsMap().Append(KeyText(grupo), Value::NewList());
          listas[i] = *lista;
        }
        List& lista = listas[i].AsList();
        while (lista.size() <= r) lista.Add(Value::NewMap());
        lista[r].Set(nombre, ValorTipado(def, ElementoFila(fila, posiciones[i])));
      }
    }
  }
  hDatos.Set("DetalleVar", detalleVar);
  hDatos.Set("_StructLine", aDefiniciones);
  hDatos.Set("_RegLine", aRegLine.IsList() ? aRegLine : Value::NewList());
  hVariablesCache = Value();
  aRegistrosDetalleCache = Value();
  nIndiceLineActual = 0;
  return *this;
}

Value TConectorDatosReg::GetVariables() {
  if (hVariablesCache.IsMap()) return hVariablesCache;
  Value variables = VariablesDataVar(hDatos);
  Value registros = GetRegistrosDetalle();
  if (registros.Len() > 0) {
    if (const Map* primero = registros.AsList()[0].MapPtr()) {
      for (const Map::Entry& e : *primero) variables.AsMap().SetKey(e.key, e.value);
    }
  }
  hVariablesCache = variables;
  return variables;
}

Value TConectorDatosReg::GetRegistrosDetalle() {
  if (aRegistrosDetalleCache.IsList()) return aRegistrosDetalleCache;
  Value registros = Value::NewList();
  if (const Map* grupos = hDatos.Get("DetalleVar").MapPtr()) {
    for (const Map::Entry& grupo : *grupos) {
      const List* elementos = grupo.value.ListPtr();
      if (!elementos) continue;
      for (const Value& elemento : *elementos) {
        if (const Map* campos = elemento.MapPtr()) {
          registros.Push(RegistroDetalle(grupo.key.Str(), *campos));
        }
      }
    }
  }
  aRegistrosDetalleCache = registros;
  return registros;
}

TConectorDatosReg& TConectorDatosReg::ResetLine() {
  nIndiceLineActual = 0;
  return *this;
}

TConectorDatosReg& TConectorDatosReg::NextLine() {
  ++nIndiceLineActual;
  return *this;
}

bool TConectorDatosReg::EofLine() const {
  return nIndiceLineActual >= GetTotalLine();
}

int64_t TConectorDatosReg::GetTotalLine() const {
  const Value& filas = hDatos.Get("_RegLine");
  return filas.IsList() ? static_cast<int64_t>(filas.Len()) : 0;
}

Value TConectorDatosReg::GetCurrentLine() {
  Value registros = GetRegistrosDetalle();
  if (nIndiceLineActual < 0 || nIndiceLineActual >= static_cast<int64_t>(registros.Len())) {
    return Value::NewMap();
  }
  return registros.AsList()[static_cast<size_t>(nIndiceLineActual)];
}

Value TConectorDatosReg::GetLineValue(const Value& nombre, const Value& defecto) {
  std::string clave = ValueString(nombre);
  if (clave.find('.') == std::string::npos) clave = Clave(cGrupoLineActual, clave);
  return GetCurrentLine().Get(clave, defecto);
}

Value TConectorDatosReg::GetVarValue(const Value& nombre, const Value& defecto) {
  std::string clave = ValueString(nombre);
  Value variables = VariablesDataVar(hDatos);
  if (const Value* v = variables.AsMap().Find(clave)) return *v;
  if (clave.find('.') == std::string::npos) {
    if (const Value* v = variables.AsMap().Find(Clave(cGrupoVarDefecto, clave))) return *v;
  }
  return defecto;
}

}  // namespace kx
