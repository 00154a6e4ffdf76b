// Running a whole job the way a host does, for the targets that go through
// the engine's public face.
#pragma once

#include "FuzzSupport.h"
#include "TKXEngine.h"

namespace kx::fuzz {

// Detail records of two groups: "LIN" (the tests' small tables) and
// "OMEMQUERY" (the sample ledger).
inline void SendSampleDetails(TKXEngine& engine, int records) {
  for (int i = 0; i < records; ++i) {
    Value lin = Value::NewMap({{"n", i + 1},
                               {"txt", "línea " + std::to_string(i + 1)},
                               {"importe", Value::Real(12.5 * (i + 1), 2)},
                               {"grp", i / 2},
                               {"fecha", Value::DateYMD(2025, 1, 1 + i)}});
    engine.SendDetalle(Value("LIN"), lin);
    Value ledger = Value::NewMap({{"fecha", "02/01/2026"},
                                  {"tipocomp", "FC"},
                                  {"seriefac", i + 1 == records ? "ZZ" : "AA"},
                                  {"numfac", 1000 + i},
                                  {"rsocialc", "Registro " + std::to_string(i + 1)},
                                  {"cuitc", "30-51234567-0"},
                                  {"base", Value::Real(1000.0, 1)},
                                  {"iva", 21},
                                  {"impiva", Value::Real(210.0, 1)},
                                  {"exento", 0}});
    engine.SendDetalle(Value("OMEMQUERY"), ledger);
  }
}

// Sends every variable the template uses and the job lacks, so the run gets
// past its validation whatever names the template reads.
inline void SendMissingVariables(TKXEngine& engine) {
  const Value missing = engine.GetVariablesFaltantes();
  if (!missing.IsList()) return;
  int i = 0;
  for (const Value& name : missing.AsList()) {
    const std::string_view full = name.Str();
    const size_t dot = full.find('.');
    if (dot == std::string_view::npos || dot == 0) continue;
    const Value value = i++ % 2 ? Value(i) : Value("v" + std::to_string(i));
    engine.SendDataVar(Value(full.substr(0, dot)), Value::NewMap({{full.substr(dot + 1), value}}));
  }
}

// Runs the closed job, reads every page and data table, ends the engine and
// checks that no page file is left behind.
inline void RunAndRead(TKXEngine& engine) {
  Touch(engine.CloseJob());
  Ref<TDocumentoRenderizable> doc = engine.RunEngine();
  if (doc) {
    const int64_t pages = doc->TotalPaginas();
    for (int64_t n = 1; n <= pages; ++n) Touch(doc->GetPagina(Value(n)));
    Touch(doc->GetDataTables());
  }
  Touch(engine.GetPaginationDiagnostics());
  doc.reset();
  engine.End();
  KX_FUZZ_CHECK(PageFileCount() == 0);
}

}  // namespace kx::fuzz
