// Sends 1,000,000 detail records of 12 fields through the engine's input
// operations and reports records per second and the memory the buffers take.
//
//   build/input_bench [records]
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "Platform.h"
#include "TKXEngine.h"

namespace {

long PeakRssKb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace kx;
  const long records = argc > 1 ? std::atol(argv[1]) : 1000000;
  const char* names[12] = {"Fecha",  "Numero", "Cliente", "Cuit", "Neto",  "Iva21",
                           "Iva105", "Exento", "Total",   "Tipo", "Letra", "Sucursal"};
  // The host builds one map per record; the texts are built up front so the
  // loop measures the engine, and their bytes are counted apart.
  std::vector<Value> clientes;
  for (int i = 0; i < 1000; ++i) clientes.push_back(Value("Cliente numero " + std::to_string(i)));

  TKXEngine engine;
  engine.Create().OpenJob();
  long before = PeakRssKb();
  double start = platform::MillisecondClock();
  for (long r = 0; r < records; ++r) {
    const Value& cliente = clientes[static_cast<size_t>(r % 1000)];
    Value fields = Value::NewMap({{names[0], Value::DateYMD(2024, 1, 1 + static_cast<int>(r % 28))},
                                  {names[1], r},
                                  {names[2], cliente},
                                  {names[3], "30-12345678-9"},
                                  {names[4], Value::Real(static_cast<double>(r % 997) * 1.25, 2)},
                                  {names[5], Value::Real(static_cast<double>(r % 997) * 0.2625, 2)},
                                  {names[6], Value::Real(0.0, 2)},
                                  {names[7], Value::Real(0.0, 2)},
                                  {names[8], Value::Real(static_cast<double>(r % 997) * 1.5125, 2)},
                                  {names[9], "FC"},
                                  {names[10], "A"},
                                  {names[11], static_cast<int64_t>(r % 12)}});
    engine.SendDetalle(Value("LIN"), fields);
  }
  double ms = platform::MillisecondClock() - start;
  long after = PeakRssKb();
  double perRecord = (static_cast<double>(after - before) * 1024.0) / static_cast<double>(records);
  std::printf("records=%ld\nfields=12\nms=%.1f\nrecords_per_second=%.0f\n", records, ms,
              static_cast<double>(records) / (ms / 1000.0));
  // Client names are shared with the host's values, so the growth is the
  // buffers' own cost: rows, slots and the short inline texts.
  std::printf("peak_rss_growth_kb=%ld\nbytes_per_record=%.1f\n", after - before, perRecord);
  std::printf("rows=%zu\n", engine.aRegLine.Len());
  return 0;
}
