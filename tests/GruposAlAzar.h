// Records for group tests: "L.g" and "L.h" drawn from values of every plain kind, each record
// mostly repeating some of the one before, so groups run over several records.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Json.h"
#include "Value.h"

namespace kx {

struct GruposAlAzar {
  Value registros = Value::NewList();
  std::vector<std::string> firmas;  // each record's two values as one expression text
};

inline GruposAlAzar RegistrosDeGruposAlAzar(uint32_t semilla, int cuantos) {
  const Value valores =
      JsonDecode(R"([null, true, false, 1, 2, "2", 2.5, 3.25, "a", "b", "a\"b", "x'y\"]", ""])");
  const std::vector<Value>& pool = valores.AsList().Items();
  auto azar = [&](size_t n) {
    semilla = semilla * 1103515245u + 12345u;
    return (semilla >> 16) % n;
  };
  GruposAlAzar out;
  for (int i = 0; i < cuantos; ++i) {
    const bool repite = i > 0 && azar(3) != 0;
    const Value& anterior = i > 0 ? out.registros.AsList()[static_cast<size_t>(i - 1)] : Value();
    const Value g = repite && azar(2) ? anterior.Get("L.g") : pool[azar(pool.size())];
    const Value h = repite ? anterior.Get("L.h") : pool[azar(pool.size())];
    out.registros.Push(Value::NewMap({{"L.g", g}, {"L.h", h}}));
    out.firmas.push_back(ExprText(Value::NewList({g, h})));
  }
  return out;
}

}  // namespace kx
