// Symbols per second of the matrix encoders: QR Code versions 1, 5 and 10 and
// Data Matrix 24 x 24, each as the service answers it (the rows as texts) and
// as the bare byte matrix, and EAN-13 and Code 128 through the service.
// The text changes on every symbol, as it does from record to record.
// Then one long digit run per length in Code 128 and GS1-128: the time of one
// symbol, which grows in proportion to the run.
// Run by hand: build/barcode_bench [symbols per case]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "TBarcodeUtil.h"
#include "TBarcodeUtilMatrix.h"

namespace {

using namespace kx;

// A text of n bytes whose last digits count the symbols.
std::string Text(size_t n, int i) {
  std::string s(n, 'A');
  for (size_t k = 0; k < 6 && k < n; ++k) {
    s[n - 1 - k] = static_cast<char>('0' + i % 10);
    i /= 10;
  }
  return s;
}

void Measure(const char* label, int count, const std::function<size_t(int)>& make) {
  size_t check = 0;
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < count; ++i) check += make(i);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%-34s %10.0f symbols/s  %8.2f us/symbol  (check %zu)\n", label, count / seconds,
              1e6 * seconds / count, check);
}

}  // namespace

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20000;
  const TBarcodeUtil util;
  struct QrCase {
    const char* rows;
    const char* matrix;
    size_t bytes;
  };
  const QrCase qr[] = {{"QR version 1 (17 bytes), rows", "QR version 1, byte matrix", 17},
                       {"QR version 5 (106 bytes), rows", "QR version 5, byte matrix", 106},
                       {"QR version 10 (271 bytes), rows", "QR version 10, byte matrix", 271}};
  for (const QrCase& c : qr) {
    Measure(c.rows, count, [&](int i) { return KXTARQRMATRIX(Text(c.bytes, i)).Len(); });
    Measure(c.matrix, count, [&](int i) {
      barcode::QrSymbol symbol;
      barcode::QrEncode(Text(c.bytes, i), symbol);
      return static_cast<size_t>(symbol.mask);
    });
  }
  Measure("Data Matrix 24x24 (36 letters), rows", count,
          [&](int i) { return KXTARDATAMATRIX(Text(36, i)).Len(); });
  Measure("Data Matrix 24x24, byte matrix", count, [&](int i) {
    barcode::DmSymbol symbol;
    barcode::DataMatrixEncode(Text(36, i), symbol);
    return static_cast<size_t>(symbol.modules[static_cast<size_t>(i % 576)]);
  });
  Measure("QR version 5 through Crear", count,
          [&](int i) { return util.Crear(Value(Text(106, i)), Value("QR")).Len(); });
  Measure("EAN-13 through Crear", count, [&](int i) {
    return util.Crear(Value(std::to_string(100000000000 + i)), Value("EAN13")).Len();
  });
  Measure("Code 128 (20 bytes) through Crear", count,
          [&](int i) { return util.Crear(Value("LOT-" + Text(16, i)), Value("CODE128")).Len(); });
  for (size_t digits : {size_t{10000}, size_t{100000}, size_t{1000000}}) {
    std::string run(digits, '0');
    for (size_t k = 0; k < digits; ++k) run[k] = static_cast<char>('0' + (k * 7 + k / 10) % 10);
    for (const char* type : {"CODE128", "GS1-128"}) {
      const auto start = std::chrono::steady_clock::now();
      const Value d = util.Crear(Value(run), Value(type));
      const double seconds =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      std::printf("%-8s %8zu digits in one symbol  %8.3f s  (%zu modules)\n", type, digits, seconds,
                  d.Get("bits").Len());
    }
  }
  return 0;
}
