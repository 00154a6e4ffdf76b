#include "CapasVariables.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Json.h"
#include "TEvaluadorFormulas.h"

namespace kx {
namespace {

// The sources of one build, held by the test so it can change them between builds.
struct Capas {
  Capas() {
    evaluador.Create();
    conector = JsonDecode(R"({"CLI.NOMBRE":"Ana","CLI.PAIS":"ES","X":1})");
    cambios = JsonDecode(R"({"cli.nombre":"Eva"})");
    userVars =
        JsonDecode(R"({"TOTAL":{"formula":"X + 1"},"X":{"formula":"9"},"L.A":{"formula":"1"}})");
    acumVars = JsonDecode(R"({"BASE":{"formula":"X"},"IVA":{"formula":"X"}})");
    acumuladores = JsonDecode(R"({"SUM.BASE":5,"SUM.OTRA":7})");
    marcos = Value::NewList({JsonDecode(R"({"x":2,"L.A":"a"})")});
  }
  ~Capas() { evaluador.End(); }

  CapasVariables::Fuentes Fuentes(bool conEvaluador = true) {
    CapasVariables::Fuentes f;
    f.hConector = conector;
    f.hCambios = cambios;
    f.nVersionCambios = nCambios;
    f.hUserVars = userVars;
    f.hAcumVars = acumVars;
    f.nVersionOpciones = 1;
    f.hAcumuladores = acumuladores;
    f.nVersionAcumuladores = nAcumuladores;
    f.aMarcos = marcos.ListPtr();
    f.oEvaluador = conEvaluador ? &evaluador : nullptr;
    return f;
  }
  // What a set built from nothing answers for the sources as they are now.
  std::string Fresco(bool reducido = false) {
    CapasVariables nuevo(reducido);
    return JsonEncode(nuevo.Construir(Fuentes(!reducido)));
  }

  TEvaluadorFormulas evaluador;
  Value conector, cambios, userVars, acumVars, acumuladores, marcos;
  uint64_t nCambios = 1, nAcumuladores = 1;
};

TEST(CapasVariables, TheSixLayersInTheirOrder) {
  Capas c;
  CapasVariables capas(false);
  // The change drops the connector's key in any letter case and enters with its own
  // spelling; "VAR." keys hold formula texts, "SUM." keys the sums (0 for none); the frame
  // drops "X"; the bare user variables are evaluated over everything before them ("X" is
  // not the exact key "x"), except a name that is already an exact key ("L.A").
  EXPECT_EQ(JsonEncode(capas.Construir(c.Fuentes())),
            R"({"CLI.PAIS":"ES","cli.nombre":"Eva","VAR.TOTAL":"X + 1","VAR.X":"9",)"
            R"("VAR.L.A":"1","SUM.BASE":5,"SUM.IVA":0,"x":2,"L.A":"a","TOTAL":3,"X":9})");
  // The reduced set: the accumulators under their own keys, no bare user variables.
  EXPECT_EQ(c.Fresco(true), R"({"CLI.PAIS":"ES","cli.nombre":"Eva","VAR.TOTAL":"X + 1",)"
                            R"("VAR.X":"9","VAR.L.A":"1","SUM.BASE":5,"SUM.OTRA":7,"x":2,)"
                            R"("L.A":"a"})");
}

TEST(CapasVariables, NewValuesAreWrittenInPlaceAndNewKeysRebuild) {
  for (bool reducido : {false, true}) {
    Capas c;
    CapasVariables capas(reducido);
    const Value primera = capas.Construir(c.Fuentes(!reducido));

    // Values change, keys stay: the same map, with the values of now.
    c.conector = JsonDecode(R"({"CLI.NOMBRE":"Ana","CLI.PAIS":"FR","X":1})");
    c.acumuladores.Set("SUM.BASE", 50);
    ++c.nAcumuladores;
    c.marcos.AsList()[0].Set("L.A", "b");
    const Value segunda = capas.Construir(c.Fuentes(!reducido));
    EXPECT_TRUE(segunda.SameRef(primera)) << reducido;
    EXPECT_EQ(JsonEncode(segunda), c.Fresco(reducido)) << reducido;

    // A frame pushed, a change that brings a new key, a frame popped: each answer is the set
    // the layers give.
    c.marcos.Push(JsonDecode(R"({"CLI.PAIS":"IT"})"));
    EXPECT_EQ(JsonEncode(capas.Construir(c.Fuentes(!reducido))), c.Fresco(reducido)) << reducido;
    c.cambios.Set("NUEVA", 1);
    ++c.nCambios;
    c.cambios = DeepClone(c.cambios);  // a new overlay map, as a change of keys makes
    EXPECT_EQ(JsonEncode(capas.Construir(c.Fuentes(!reducido))), c.Fresco(reducido)) << reducido;
    c.marcos.AsList().Items().pop_back();
    EXPECT_EQ(JsonEncode(capas.Construir(c.Fuentes(!reducido))), c.Fresco(reducido)) << reducido;
  }
}

// The overlay by definition: every entry at or below the position applied from empty, in
// list order.
std::string Aplicadas(const Value& lista, int64_t posicion) {
  Map overlay;
  for (const Value& e : lista.AsList())
    if (e.IsMap() && IndiceCambio(e) <= posicion) AplicarCambio(e, overlay);
  Value v(MakeRef<Map>(overlay));
  return JsonEncode(v);
}

// By definition too: the last entry at or below the position that sets the
// key, counted among the list's maps; -1 for none.
int64_t Vigente(const Value& lista, int64_t posicion, std::string_view clave) {
  int64_t ordinal = -1, vigente = -1;
  for (const Value& e : lista.AsList()) {
    if (!e.IsMap()) continue;
    ++ordinal;
    if (IndiceCambio(e) <= posicion && e.Get("hVariables").Has(clave)) vigente = ordinal;
  }
  return vigente;
}

TEST(CapasVariables, UnorderedChangesAtAnyPositionInAnyOrder) {
  const Value lista = JsonDecode(R"([
      {"nIndiceDetalle":4,"hVariables":{"B":"b4","A":"a4"}},
      {"nIndiceDetalle":1,"hVariables":{"A":"a1"}},
      "not an entry",
      {"hVariables":{"C":"c0"}},
      {"nIndiceDetalle":"2","hVariables":{"B":"b2","D":"d2"}},
      {"nIndiceDetalle":1,"hVariables":{"A":"a1bis"}}])");
  CambiosDesordenados cambios;
  cambios.Preparar(lista);
  Value overlay = Value::NewMap();
  for (int64_t posicion : {3, 0, 5, 1, 4, -1, 2, 2, 9, 1}) {
    cambios.Aplicar(posicion, overlay);
    EXPECT_EQ(JsonEncode(overlay), Aplicadas(lista, posicion)) << "position " << posicion;
    for (std::string_view clave : {"A", "B", "C", "Z"})
      EXPECT_EQ(cambios.EntradaVigente(clave), Vigente(lista, posicion, clave))
          << "position " << posicion << ", key " << clave;
  }
  EXPECT_FALSE(cambios.Aplicar(1, overlay));  // nothing moved: nothing to do
}

}  // namespace
}  // namespace kx
