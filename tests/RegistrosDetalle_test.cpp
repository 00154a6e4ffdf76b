#include "RegistrosDetalle.h"

#include <gtest/gtest.h>

#include "Json.h"

namespace kx {
namespace {

Value J(std::string_view json) {
  return JsonDecode(json);
}

// Three columns whose first and last share the key "L.A".
Value Registros(std::string_view filas) {
  return Value(Ref<KXObject>(MakeRef<RegistrosDetalle>(
      J(filas), std::vector<std::string>{"L.A", "L.B"}, std::vector<uint32_t>{0, 1, 0})));
}

TEST(RegistrosDetalle, RowsReadAsRecordsOfEveryKey) {
  const Value registros = Registros(R"([[1, "x", 3], [4, 5], "no row", []])");
  const ListaRegistros lista(registros);
  ASSERT_TRUE(lista.Valida());
  ASSERT_EQ(lista.size(), 4u);
  const struct {
    size_t i;
    const char* json;
  } rows[] = {
      {0, R"({"L.A":3,"L.B":"x"})"},   // the later column of a shared key stands
      {1, R"({"L.A":null,"L.B":5})"},  // a slot the row lacks holds nothing
      {2, R"({"L.A":null,"L.B":null})"},
      {3, R"({"L.A":null,"L.B":null})"},
  };
  for (const auto& r : rows) EXPECT_EQ(JsonEncode(lista[r.i]), r.json) << r.i;
  // Each reading is a map of its own over one key table.
  Value a = lista[0], b = lista[0], c = lista[1];
  EXPECT_FALSE(a.SameRef(b));
  EXPECT_EQ(a.AsMap().KeyTableIdentity(), c.AsMap().KeyTableIdentity());
  a.Set("L.A", Value(9));
  EXPECT_EQ(JsonEncode(lista[0]), R"({"L.A":3,"L.B":"x"})");
}

TEST(RegistrosDetalle, ARecordNobodyElseHoldsIsMadeIntoTheNextOne) {
  const Value registros = Registros(R"([[1, "x", 3], [4, 5, 6]])");
  const RegistrosDetalle& r = *registros.As<RegistrosDetalle>();
  Value primero = r.Registro(0);
  const Map* mapa = primero.MapPtr();
  Value segundo = r.Registro(1, std::move(primero));
  EXPECT_EQ(segundo.MapPtr(), mapa);  // rewritten in place
  EXPECT_EQ(JsonEncode(segundo), R"({"L.A":6,"L.B":5})");
  // A record still held elsewhere, or a map of other keys, is left as it is.
  Value retenido = segundo;
  Value otro = r.Registro(0, segundo);
  EXPECT_NE(otro.MapPtr(), mapa);
  EXPECT_EQ(JsonEncode(retenido), R"({"L.A":6,"L.B":5})");
  Value ajeno = J(R"({"L.A":1,"L.B":2})");
  const Map* mapaAjeno = ajeno.MapPtr();
  EXPECT_NE(r.Registro(0, std::move(ajeno)).MapPtr(), mapaAjeno);
}

TEST(RegistrosDetalle, AListIsReadAsItStandsAndAnythingElseHoldsNoRecords) {
  const Value lista = J(R"([{"L.A":1}, 7])");
  const ListaRegistros leida(lista);
  EXPECT_TRUE(leida.Valida());
  EXPECT_TRUE(leida[0].SameRef(lista.AsList()[0]));
  EXPECT_EQ(leida[1].Int(), 7);
  EXPECT_TRUE(leida.Origen().SameRef(lista));
  for (const Value& nada : {Value(), Value(3), J(R"({"L.A":1})")}) {
    const ListaRegistros ninguna(nada);
    EXPECT_FALSE(ninguna.Valida());
    EXPECT_TRUE(ninguna.empty());
  }
  EXPECT_TRUE(ListaRegistros(Registros("7")).empty());  // rows that are no list: no records
}

}  // namespace
}  // namespace kx
