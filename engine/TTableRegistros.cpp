// The table's records, the execution-context protocol and grouping.
#include "RuntimeOptions.h"
#include "TTableInterno.h"

namespace kx {

namespace {

// A text unchanged; any other value: its expression text trimmed, "NIL" giving "", one pair of
// surrounding double quotes removed.
std::string NormalizeHashKeyName(const Value& v) {
  if (v.IsText()) return std::string(v.Str());
  std::string s(AllTrim(ExprText(v)));
  if (s == "NIL") return "";
  if (s.size() >= 2 && s.front() == '"' && s.back() == '"') s = s.substr(1, s.size() - 2);
  return s;
}

}  // namespace

// ---- Records and the context protocol

Value TTableRender::TablePreviewRecords() {
  const Value& runtime = opciones.Get(opcion::aRegistrosDetalleRuntime);
  const ListaRegistros lista(runtime);
  const int64_t cuantos = static_cast<int64_t>(lista.size());
  if (SoloVerdadero(opciones.Get(opcion::lSemanticDataRuntime)))
    return lista.Valida() ? runtime : Value::NewList();
  if (lGlobal && lista.Valida() && cuantos > 0 && cuantos <= nBaseOpciones) {
    lTrasUltimoRegistro = true;
    lRegistrosRun = true;
    return runtime;
  }
  if (lista.Valida() && cuantos > nBaseOpciones) {
    // The page loop hands every page the job's one list: it is shared, never copied.
    if (lGlobal) {
      lRegistrosRun = true;
      return runtime;
    }
    Value desde = Value::NewList();
    for (int64_t i = nBaseOpciones; i < cuantos; ++i) {
      Value registro = lista[static_cast<size_t>(i)];
      if (registro.IsMap()) desde.Push(std::move(registro));
    }
    if (desde.Len() > 0) return desde;
  }

  const Value datos = ctx.GetData();
  if (const Map* bloques = HGet(datos, "DetalleVar").MapPtr()) {
    for (const Map::Entry& bloque : *bloques) {
      const List* filas = bloque.value.ListPtr();
      if (!filas) continue;
      Value salidaBloque = Value::NewList();
      const std::string prefijo = std::string(bloque.key.Str()) + ".";
      for (const Value& fila : *filas) {
        const Map* campos = fila.MapPtr();
        if (!campos) continue;
        Value registro = Value::NewMap();
        for (const Map::Entry& campo : *campos) {
          const std::string nombre = NormalizeHashKeyName(campo.key);
          if (nombre.empty()) continue;
          registro.Set(prefijo + nombre, ValorPlano(campo.value));
        }
        if (registro.Len() > 0) salidaBloque.Push(registro);
      }
      if (salidaBloque.Len() > 0) return salidaBloque;
    }
  }
  for (std::string_view clave : {"lineasTabla", "LINEAS_TABLA", "detalleTabla", "DETALLE_TABLA",
                                 "detalle", "DETALLE", "registros", "REGISTROS"}) {
    const List* filas = HGet(datos, clave).ListPtr();
    if (!filas) continue;
    Value mapas = Value::NewList();
    for (const Value& fila : *filas)
      if (fila.IsMap()) mapas.Push(fila);
    if (mapas.Len() > 0) return mapas;
  }
  // A run for a job names its records, even when it has none: sample articles would print
  // invented lines on a real document. Only a render without that list previews them.
  if (lista.Valida()) return Value::NewList();

  auto muestra = [](const char* codigo, const char* descripcion, int cantidad, double precio,
                    double total) {
    return Value::NewMap({
        {"LINEAS_FACTURA.CODIGO_ARTICULO", codigo},
        {"LINEAS_FACTURA.DESCRIPCION", descripcion},
        {"LINEAS_FACTURA.CANTIDAD", cantidad},
        {"LINEAS_FACTURA.PRECIO", Value::Real(precio, 2)},
        {"LINEAS_FACTURA.TOTAL_LINEA", Value::Real(total, 2)},
    });
  };
  return Value::NewList({
      muestra("1001", "Articulo prueba 1", 1, 10.50, 10.50),
      muestra("1002", "Articulo prueba 2", 2, 5.25, 10.50),
      muestra("1003", "Articulo prueba 3", 3, 7.00, 21.00),
      muestra("1004", "Articulo prueba 4", 4, 3.50, 14.00),
  });
}

Value TTableRender::Leer(const ListaRegistros& lista, int64_t i) {
  if (!lista.HaceMapas()) return lista[static_cast<size_t>(i)];
  const void* id = lista.Origen().SharedPtr();
  for (const Leido& leido : aLeidos)
    if (leido.nIndice == i && leido.pLista == id) return leido.vRegistro;
  Leido& nuevo = aLeidos[nLeido++ % aLeidos.size()];
  // The record that leaves the slot is made into the new one when nobody else holds it.
  Value previo = std::move(nuevo.vRegistro);
  nuevo = {id, i, lista.Leer(static_cast<size_t>(i), std::move(previo))};
  return nuevo.vRegistro;
}

Value TTableRender::Registro(int64_t i) {
  if (i < 0 || i >= nCount) return Value();
  return Leer(oRegistros, i);
}

Value TTableRender::RegistroRuntime(int64_t i) {
  if (i < 0 || i >= static_cast<int64_t>(oRuntime.size())) return Value();
  return Leer(oRuntime, i);
}

bool TTableRender::PushRecordVariables(const Value& registro, int64_t i, Value* vecinoAnterior,
                                       Value* vecinoSiguiente) {
  const int64_t g = GlobalRecordIndex(i);
  // A missing neighbour is no map: the context stands an empty record for it.
  Value anterior = g >= 1 ? RegistroRuntime(g - 1) : Value();
  if (!anterior.IsMap()) anterior = i >= 1 && i - 1 < nCount ? Registro(i - 1) : Value();
  Value siguiente = RegistroRuntime(g + 1);
  if (!siguiente.IsMap()) siguiente = i + 1 < nCount ? Registro(i + 1) : Value();
  ctx.PushRegistroDetalle(registro, Value(g), Value(TotalRegistros()), anterior, siguiente);
  if (vecinoAnterior) *vecinoAnterior = anterior.IsMap() ? std::move(anterior) : Value();
  if (vecinoSiguiente) *vecinoSiguiente = siguiente.IsMap() ? std::move(siguiente) : Value();
  return true;
}

int64_t TTableRender::TotalRegistros() {
  if (nTotalRegistros < 0) {
    const Value* total =
        opciones.IsMap() ? opciones.AsMap().Find(opcion::nTotalRegistrosRuntime) : nullptr;
    nTotalRegistros = std::max(nCount, total ? NumValue(*total).Int() : nCount);
  }
  return nTotalRegistros;
}

void TTableRender::ResetLineAcumuladores(const Items& items) {
  Value nombres;
  for (const TTableLinea* l : items) {
    if (!l->aResetAcumuladores.IsList()) continue;
    if (!nombres.IsList()) nombres = Value::NewList();
    for (const Value& n : l->aResetAcumuladores.AsList()) nombres.Push(n);
  }
  if (nombres.IsList()) ctx.ResetAcumuladoresSeleccionados(nombres);
}

void TTableRender::AcumularDetalle() {
  const uint64_t t0 = platform::TickCount();
  ctx.AcumularDetalle();
  nAccumulateTicks += platform::TickCount() - t0;
}

TTableRender::Continuacion TTableRender::LeerContinuacion(int64_t i) {
  Continuacion c;
  // Read where the context keeps it: most records have none, and need no empty map made.
  const Value& entrada = ctx.hContinuacionesTabla.Get(cId);
  if (!entrada.IsMap() || entrada.Len() == 0) return c;
  const int64_t registro =
      HHas(entrada, "nRegistro") ? NumValue(entrada.Get("nRegistro")).Int() : -1;
  if (registro != GlobalRecordIndex(i)) return c;
  c.lPresente = true;
  c.nLinea = std::max<int64_t>(0, NumValue(entrada.Get("nLinea")).Int());
  if (HHas(entrada, "nCabecera"))
    c.nCabecera = std::max<int64_t>(0, NumValue(entrada.Get("nCabecera")).Int());
  if (HHas(entrada, "nPie")) c.nPie = std::max<int64_t>(0, NumValue(entrada.Get("nPie")).Int());
  return c;
}

void TTableRender::SetDetailContinuation(int64_t i, int64_t lineas) {
  ctx.SetContinuacionTabla(Value(cId), Value(GlobalRecordIndex(i)), Value(lineas));
}

void TTableRender::SetGroupContinuation(int64_t i, int64_t lineas, std::string_view parte,
                                        int64_t impresas) {
  SetDetailContinuation(i, lineas);
  // The entry just made, in the context's own map.
  Value entrada = ctx.hContinuacionesTabla.Get(cId);
  if (entrada.IsMap()) entrada.Set(parte, Value(impresas));
}

void TTableRender::RecorrerExportacion(const Value& secciones,
                                       const std::function<void(const std::vector<bool>&)>& fila) {
  opciones = ctx.GetOpciones().IsMap() ? ctx.GetOpciones() : Value::NewMap();
  lGlobal = SoloVerdadero(opciones.Get(opcion::lRegistrosDetalleGlobalRuntime));
  nBaseOpciones = std::max<int64_t>(0, NumValue(opciones.Get(opcion::nRegistroBase)).Int());
  cId = StringValue(t.cId);
  lDisenador = ctx.EsModoDisenador();
  const std::unique_ptr<TTablePlano> propio = CompilarPlano(secciones, NumDouble(t.nBorderWidth));
  plano = propio.get();
  oRegistros = ListaRegistros(TablePreviewRecords());
  nCount = static_cast<int64_t>(oRegistros.size());
  oRuntime = ListaRegistros(opciones.Get(opcion::aRegistrosDetalleRuntime));
  // A row shows the sums as its printed record does: reset where the table starts and where
  // its group lines reset them, and each record added after its row, as a printed record is
  // added after its detail lines.
  ctx.ResetAcumuladores();
  const std::vector<TTableLinea>& detalle = plano->aLineas[kDetail];
  // A row shows a sum only through its cells and its lines' conditions, directly or through
  // the variables and sums they read: only those sums are kept.
  std::vector<char> leidas;
  for (const TTableLinea& l : detalle) {
    ctx.MarcarSumasLeidas(l.cCondicion, leidas);
    ctx.MarcarSumasLeidas(l.cSupresion, leidas);
  }
  if (const List* lineas = HGet(HGet(secciones, "detail"), "aLines").ListPtr())
    for (const Value& linea : *lineas)
      if (const List* celdas = HGet(linea, "aCells").ListPtr())
        for (const Value& celda : *celdas)
          ctx.MarcarSumasLeidas(TTable::ExportCellFormula(celda), leidas);
  const bool sumas = std::find(leidas.begin(), leidas.end(), 1) != leidas.end();
  // Groups matter to the sums only where a group line resets one that is kept; then the
  // sums that decide the group lines are kept as well.
  bool reinicios = false;
  for (int s : {kGroupHeader, kGroupFooter})
    for (const TTableLinea& l : plano->aLineas[s])
      reinicios = reinicios || ctx.NombraSumaLeida(l.aResetAcumuladores, leidas);
  const bool grupos = sumas && reinicios;
  if (grupos) {
    PrepararGrupos();
    for (const std::string& e : aExpresiones) ctx.MarcarSumasLeidas(e, leidas);
    for (int s : {kGroupHeader, kGroupFooter})
      for (const TTableLinea& l : plano->aLineas[s]) {
        ctx.MarcarSumasLeidas(l.cCondicion, leidas);
        ctx.MarcarSumasLeidas(l.cSupresion, leidas);
      }
  }
  // The group values of records i - 1, i and i + 1. Values read straight from a record's
  // fields are the same wherever they are read, so they are read once, not again when the
  // record is a neighbour; values of expressions are read afresh, as the pages read them.
  struct Memo {
    int64_t j = -1;
    bool lCampos = false;
    Valores v;
  };
  Memo memo[3];
  auto memoDe = [&](int64_t j, const Value& r) -> const Memo& {
    // j is -1 for the record before a table that starts past the run's first.
    Memo& m = memo[static_cast<size_t>(j + 1) % 3];
    if (m.j == j && m.lCampos) return m;
    m.lCampos = GroupValues(r, m.v);
    m.j = j;
    return m;
  };
  // Whether records j - 1 and j are in one group, found while j - 1 was the current record,
  // when fields held the values of both: the same comparison is not made again.
  int64_t nMismaJ = -1;
  bool lMisma = false;
  const Valores ninguno;
  std::vector<bool> visibles(detalle.size());
  Items grupo;
  // Made once: where groups are followed, every record's state is decided into it.
  EstadoGrupo g;
  for (int64_t i = 0; i < nCount; ++i) {
    const Value registro = Registro(i);
    const bool siguiendo = grupos && lAgrupando;
    if (!registro.IsMap() || !PushRecordVariables(registro, i, siguiendo ? &g.hAnterior : nullptr,
                                                  siguiendo ? &g.hSiguiente : nullptr))
      continue;
    const Valores* actual = &ninguno;
    const Valores* anterior = nullptr;
    const Valores* siguiente = nullptr;
    if (siguiendo) {
      const Memo& propio = memoDe(i, registro);
      actual = &propio.v;
      bool mismaAnterior = false, mismaSiguiente = false;
      if (g.hAnterior.IsMap()) {
        anterior = &memoDe(i - 1, g.hAnterior).v;
        mismaAnterior = nMismaJ == i ? lMisma : MismoGrupo(*anterior, *actual);
      }
      if (g.hSiguiente.IsMap()) {
        const Memo& otro = memoDe(i + 1, g.hSiguiente);
        siguiente = &otro.v;
        mismaSiguiente = MismoGrupo(*siguiente, *actual);
        nMismaJ = propio.lCampos && otro.lCampos ? i + 1 : -1;
        lMisma = mismaSiguiente;
      }
      DecideGroupState(g, *actual, siguiente, mismaAnterior, mismaSiguiente, 0);
    }
    if (g.lEmpieza && g.lElegible) {
      PartitionSectionLines(kGroupHeader, i, grupo, nullptr);
      GroupBoundaryLines(grupo, kGroupHeader, *actual, g.hAnterior, anterior ? *anterior : ninguno);
      ResetLineAcumuladores(grupo);
    }
    // Ignore-empty is a matter of printing: an exported line shows its blank values.
    bool alguna = false, forzada = false;
    for (size_t k = 0; k < detalle.size(); ++k) {
      const bool porCondicion = TableLineVisible(detalle[k], "detail");
      const bool suprimida = porCondicion && TableLineSuppressed(detalle[k], "detail");
      visibles[k] = porCondicion && !suprimida;
      alguna = alguna || visibles[k];
      forzada = forzada || (suprimida && detalle[k].lForceAccumulators);
    }
    fila(visibles);
    // Not timed: the run's accumulation time is the pages'.
    if (sumas && (alguna || forzada)) ctx.AcumularDetalle(&leidas);
    if (g.lTermina) {
      PartitionSectionLines(kGroupFooter, i, grupo, nullptr);
      GroupBoundaryLines(grupo, kGroupFooter, *actual, g.hSiguiente,
                         siguiente ? *siguiente : ninguno);
      ResetLineAcumuladores(grupo);
    }
    PopRecordVariables();
  }
  plano = nullptr;
}

void TTable::ExportRecords(TContextoEjecucion& context, const Value& sections,
                           const std::function<void(const std::vector<bool>& visible)>& row) {
  TTableRender(*this, context).RecorrerExportacion(sections, row);
}

// ---- Grouping

void TTableRender::PrepararGrupos() {
  cCorte = std::string(AllTrim(StringValue(HGet(t.hGroup, "cBreakExpression"))));
  lSaltarVacios = SoloVerdadero(HGet(t.hGroup, "lSkipEmptyValues"));
  lTambienVacios = plano->lAlsoOnEmptyGroup;
  aExpresiones.clear();
  auto agregar = [&](const std::string& e) {
    if (e.empty() || std::find(aExpresiones.begin(), aExpresiones.end(), e) != aExpresiones.end())
      return;
    aExpresiones.push_back(e);
  };
  if (const List* lista = HGet(t.hGroup, "aBreakExpressions").ListPtr())
    for (const Value& e : *lista)
      if (e.IsText() && !IsBlank(e.Str())) agregar(std::string(e.Str()));
  for (int s : {kGroupHeader, kGroupFooter})
    for (const TTableLinea& l : plano->aLineas[s]) agregar(l.cExpresionGrupo);
  if (!cCorte.empty() &&
      std::find(aExpresiones.begin(), aExpresiones.end(), cCorte) == aExpresiones.end())
    aExpresiones.insert(aExpresiones.begin(), cCorte);
  aPistasExpresion.clear();
  for (const std::string& e : aExpresiones) aPistasExpresion.emplace_back(e);

  lAgrupando = !aExpresiones.empty() || (lDisenador && (!plano->aLineas[kGroupHeader].empty() ||
                                                        !plano->aLineas[kGroupFooter].empty()));

  // Each group line compares the values of one expression: its own, or the break expression.
  auto indices = [&](int s, std::vector<int>& destino) {
    destino.clear();
    for (const TTableLinea& l : plano->aLineas[s]) {
      const std::string& e = l.cExpresionGrupo.empty() ? cCorte : l.cExpresionGrupo;
      const auto it = std::find(aExpresiones.begin(), aExpresiones.end(), e);
      destino.push_back(
          e.empty() || it == aExpresiones.end() ? -1 : static_cast<int>(it - aExpresiones.begin()));
    }
  };
  indices(kGroupHeader, aIndiceCabecera);
  indices(kGroupFooter, aIndicePie);
}

Value TTableRender::GroupValue(size_t k, const Value& registro, bool& campo) {
  campo = false;
  if (aExpresiones[k].empty()) return Value();
  if (const Map* campos = registro.MapPtr()) {
    if (const Value* v = aPistasExpresion[k].Find(*campos)) {
      campo = true;
      return *v;
    }
  }
  return GroupExpressionValue(k, registro);
}

// Out of the way of the common road, a field read per record.
[[gnu::noinline]] Value TTableRender::GroupExpressionValue(size_t k, const Value& registro) {
  // A neighbour's values override the current record's while its expression is evaluated.
  const bool empujar = registro.IsMap() && registro.Len() > 0;
  if (empujar) ctx.PushVariablesLocales(registro);
  Value valor = ctx.EvaluarFormula(Value(aExpresiones[k]));
  if (empujar) ctx.PopVariablesLocales();
  return valor;
}

bool TTableRender::GroupValueIsEmpty(const Value& v) {
  return v.IsNil() || (v.IsText() && IsBlank(v.Str()));
}

bool TTableRender::GroupValues(const Value& registro, Valores& valores) {
  valores.aValores.clear();
  valores.lVacia = true;
  valores.lFirma = false;
  bool campos = true;
  for (size_t k = 0; k < aExpresiones.size(); ++k) {
    bool campo = false;
    Value v = GroupValue(k, registro, campo);
    campos = campos && campo;
    if (!GroupValueIsEmpty(v)) valores.lVacia = false;
    valores.aValores.push_back(std::move(v));
  }
  return campos;
}

bool TTableRender::MismoGrupo(const Valores& a, const Valores& b) {
  // Values of one kind among nil, logicals, integers and texts have one expression text
  // exactly when they are equal, so most records are compared without making it.
  if (a.aValores.size() == b.aValores.size()) {
    bool decidido = true, iguales = true;
    for (size_t i = 0; i < a.aValores.size() && decidido; ++i) {
      const Value& x = a.aValores[i];
      const Value& y = b.aValores[i];
      if (x.kind() != y.kind()) {
        decidido = false;
        continue;
      }
      switch (x.kind()) {
        case Kind::Nil:
          break;
        case Kind::Logical:
          iguales = iguales && x.Bool() == y.Bool();
          break;
        case Kind::Integer:
          iguales = iguales && x.Int() == y.Int();
          break;
        case Kind::Text:
          iguales = iguales && (x.SameRef(y) || x.Str() == y.Str());
          break;
        default:
          decidido = false;
      }
    }
    if (decidido) return iguales;
  }
  return Firma(a) == Firma(b);
}

[[gnu::noinline]] const std::string& TTableRender::Firma(const Valores& v) {
  if (!v.lFirma) {
    v.cFirma = ExprText(Value(MakeRef<List>(v.aValores)));
    v.lFirma = true;
  }
  return v.cFirma;
}

bool TTableRender::GroupValuesEqual(const Value& a, const Value& b) {
  if (a.IsNil() || b.IsNil()) return a.IsNil() && b.IsNil();
  if (a.IsNumber() && b.IsNumber()) return a.Double() == b.Double();
  if (a.kind() != b.kind()) return false;
  switch (a.kind()) {
    case Kind::Text:
      return a.Str() == b.Str();
    case Kind::Logical:
      return a.Bool() == b.Bool();
    case Kind::Date:
      return a.Jdn() == b.Jdn();
    case Kind::Timestamp:
      return a.Jdn() == b.Jdn() && a.MsOfDay() == b.MsOfDay();
    default:
      return false;
  }
}

Value TTableRender::AdjacentRuntimeRecord(int64_t i, int64_t desplazamiento) {
  Value v = RegistroRuntime(GlobalRecordIndex(i) + desplazamiento);
  if (v.IsMap()) return v;
  Value propio = Registro(i + desplazamiento);
  return propio.IsMap() ? propio : Value();
}

TTableRender::EstadoGrupo TTableRender::GroupState(const Value& registro, int64_t i,
                                                   int64_t continuacion) {
  EstadoGrupo g;
  g.lContinua = continuacion > 0;
  if (!lAgrupando) return g;
  g.hAnterior = AdjacentRuntimeRecord(i, -1);
  g.hSiguiente = AdjacentRuntimeRecord(i, +1);
  GroupValues(registro, g.vActual);
  const bool hayAnterior = g.hAnterior.IsMap();
  const bool haySiguiente = g.hSiguiente.IsMap();
  if (hayAnterior) GroupValues(g.hAnterior, g.vAnterior);
  if (haySiguiente) GroupValues(g.hSiguiente, g.vSiguiente);
  DecideGroupState(g, g.vActual, hayAnterior ? &g.vAnterior : nullptr,
                   haySiguiente ? &g.vSiguiente : nullptr, continuacion);
  return g;
}

void TTableRender::DecideGroupState(EstadoGrupo& g, const Valores& actual, const Valores* anterior,
                                    const Valores* siguiente, int64_t continuacion) const {
  DecideGroupState(g, actual, siguiente, anterior && MismoGrupo(*anterior, actual),
                   siguiente && MismoGrupo(*siguiente, actual), continuacion);
}

void TTableRender::DecideGroupState(EstadoGrupo& g, const Valores& actual, const Valores* siguiente,
                                    bool mismaAnterior, bool mismaSiguiente,
                                    int64_t continuacion) const {
  g.lElegible = lDisenador || !lSaltarVacios || !actual.lVacia;
  g.lEnGrupo = g.lElegible || lTambienVacios;
  const bool siguienteElegible = siguiente && (lDisenador || !lSaltarVacios || !siguiente->lVacia);
  const bool siguienteEnGrupo = siguienteElegible || (siguiente && lTambienVacios);
  g.lContinua = continuacion > 0 || (g.lEnGrupo && mismaAnterior);
  g.lEmpieza = g.lEnGrupo && !g.lContinua && !mismaAnterior;
  g.lTermina = g.lEnGrupo && (!siguiente || !siguienteEnGrupo || !mismaSiguiente);
}

void TTableRender::GroupBoundaryLines(Items& items, int seccion, const Valores& actual,
                                      const Value& otro, const Valores& valoresOtro) {
  if (!otro.IsMap()) return;
  const std::vector<int>& indices = seccion == kGroupHeader ? aIndiceCabecera : aIndicePie;
  auto igual = [&](const TTableLinea* l) {
    const int e = indices[static_cast<size_t>(l->nIndice)];
    if (e < 0) return false;  // no expression: the line always prints
    return GroupValuesEqual(actual.aValores[static_cast<size_t>(e)],
                            valoresOtro.aValores[static_cast<size_t>(e)]);
  };
  items.erase(std::remove_if(items.begin(), items.end(), igual), items.end());
}

}  // namespace kx
