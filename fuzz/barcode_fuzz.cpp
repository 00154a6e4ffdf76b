// Barcode contents for every symbology: an encoder answers a whole symbol or
// its error, never a crash, and a symbol is made only of modules.
#include <string>

#include "FuzzSupport.h"
#include "TBarcodeUtil.h"

using namespace kx;

namespace {

bool Modules(std::string_view s) {
  return s.find_first_not_of("01") == std::string_view::npos;
}

void CheckDescriptor(const Value& d) {
  KX_FUZZ_CHECK(d.Get("tipo").Str() == "barcode");
  if (d.Has("error")) {
    KX_FUZZ_CHECK(!d.Get("error").Str().empty() && d.Get("barcodeTipo").Str().empty());
    return;
  }
  if (d.Has("bits")) {
    KX_FUZZ_CHECK(!d.Get("bits").Str().empty() && Modules(d.Get("bits").Str()));
    return;
  }
  const Value& rows = d.Get("matriz");
  KX_FUZZ_CHECK(rows.IsList() && rows.Len() > 0);
  const size_t width = rows.AsList()[0].Len();
  for (const Value& row : rows.AsList()) {
    KX_FUZZ_CHECK(row.IsText() && row.Len() == width && Modules(row.Str()));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const char* const kTypes[] = {"EAN13", "EAN8", "CODE128", "GS1-128", "QR", "DATAMATRIX"};
  const std::string_view text = fuzz::Text(data, size);
  const Value contents(text);
  // A text that reads as a number also reaches the encoders as one.
  const Value number = ReadNumber(text);
  TBarcodeUtil util;
  for (const char* type : kTypes) {
    CheckDescriptor(util.Crear(contents, Value(type)));
    CheckDescriptor(util.Crear(number, Value(type)));
  }
  // The symbology name itself comes from template formulas too.
  CheckDescriptor(util.Crear(Value("12345"), contents));
  return 0;
}
