#include "FilasCompactas.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "Json.h"

namespace kx {
namespace {

// Every kind a formula may answer, with the edges of each encoding.
std::vector<Value> TodasLasClases() {
  return {
      Value(),
      Value(false),
      Value(true),
      Value(0),
      Value(-1),
      Value(std::numeric_limits<int64_t>::min()),
      Value(std::numeric_limits<int64_t>::max()),
      Value(0.1),            // natural decimals
      Value::Real(2.5, 4),   // a stated count that only the text form shows
      Value::Real(-0.0, 0),  // the sign of zero
      Value(std::numeric_limits<double>::quiet_NaN()),
      Value(""),
      Value("catorce bytes!"),   // the longest inline text
      Value("quince bytes..."),  // the shortest shared one
      Value("\xC3\xB1"),
      Value::Date(2460000),
      Value::EmptyDate(),
      Value::Timestamp(2460000, 86399999),
      Value::NewList({1, "a"}),
      Value::NewMap({{"k", 2}}),
      Value::Function([](std::span<const Value>) { return Value(); }),
  };
}

TEST(FilasCompactas, EveryValueReadsBackExactly) {
  const std::vector<Value> valores = TodasLasClases();
  // Three columns, so each value passes through each column's memory of recent values.
  FilasCompactas filas(3);
  std::vector<std::vector<Value>> dadas;
  for (size_t r = 0; r < 3 * valores.size(); ++r) {
    dadas.push_back({valores[r % valores.size()], valores[(r * 7) % valores.size()],
                     valores[(r / 2) % valores.size()]});
    filas.Agregar(dadas.back());
  }
  ASSERT_EQ(filas.size(), dadas.size());
  const Value lista = filas.Lista();
  ASSERT_EQ(lista.Len(), dadas.size());
  for (size_t r = 0; r < dadas.size(); ++r) {
    const Value& fila = lista.AsList()[r];
    ASSERT_EQ(fila.Len(), 3u);
    for (size_t c = 0; c < 3; ++c) {
      // Same kind, bits and decimals count, or the very reference given.
      EXPECT_TRUE(fila.AsList()[c].SameRef(dadas[r][c])) << "row " << r << " column " << c;
    }
  }
}

std::string Numerado(const char* prefijo, size_t i) {
  std::string s(prefijo);
  s += std::to_string(i);
  return s;
}

TEST(FilasCompactas, ManyRowsSpanBlocksAndReadBackInOrder) {
  // Unique numbers and texts, more than one block of bytes can hold, and
  // values that recur after the column has forgotten them.
  FilasCompactas filas(4);
  const size_t n = 50000;
  for (size_t i = 0; i < n; ++i) {
    const Value fila[] = {Value(static_cast<int64_t>(i)), Value(Numerado("r", i)),
                          Value::Real(static_cast<double>(i % 13) / 4, 2),
                          Value(Numerado("Registro ", i * 1000))};
    filas.Agregar(fila);
  }
  const Value lista = filas.Lista();
  ASSERT_EQ(lista.Len(), n);
  for (size_t i : {size_t{0}, size_t{1}, size_t{12}, size_t{13}, size_t{4097}, n - 1}) {
    const Value esperada = Value::NewList({Value(static_cast<int64_t>(i)), Value(Numerado("r", i)),
                                           Value::Real(static_cast<double>(i % 13) / 4, 2),
                                           Value(Numerado("Registro ", i * 1000))});
    EXPECT_EQ(JsonEncode(lista.AsList()[i]), JsonEncode(esperada)) << i;
    EXPECT_EQ(lista.AsList()[i].AsList()[2].Decimals(), 2);
  }
}

TEST(FilasCompactas, RowsAreCutToTheColumns) {
  FilasCompactas filas(2);
  const Value corta[] = {Value(1)};
  const Value larga[] = {Value(1), Value(2), Value(3)};
  filas.Agregar(corta);
  filas.Agregar(larga);
  filas.Agregar({});
  EXPECT_EQ(JsonEncode(filas.Lista()), "[[1,null],[1,2],[null,null]]");
  EXPECT_EQ(JsonEncode(FilasCompactas(3).Lista()), "[]");
}

TEST(FilasCompactas, ATableGetsItsRowsAsListsInTheirPlace) {
  auto filas = MakeRef<FilasCompactas>(1);
  const Value fila[] = {Value("a")};
  filas->Agregar(fila);
  Value tabla = Value::NewMap({{"cId", "T"}, {"aRows", Value(Ref<KXObject>(filas))}, {"n", 1}});
  LeerFilasCompactas(tabla);
  EXPECT_EQ(JsonEncode(tabla), R"({"cId":"T","aRows":[["a"]],"n":1})");
  // Rows already lists, and values that are no tables, are left alone.
  const Value rows = tabla.Get("aRows");
  LeerFilasCompactas(tabla);
  EXPECT_TRUE(tabla.Get("aRows").SameRef(rows));
  LeerFilasCompactas(Value(3));
}

}  // namespace
}  // namespace kx
