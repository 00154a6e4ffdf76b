// The JSON reader: any bytes decode to a value or to nothing, and what
// decodes encodes to a text that decodes to the same value again (a real
// without decimals is written, and so read back, as an integer of its value).
#include "FuzzSupport.h"

using namespace kx;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Value v = JsonDecode(fuzz::Text(data, size));
  if (v.IsNil()) return 0;
  const std::string once = JsonEncode(v);
  const Value again = JsonDecode(once);
  KX_FUZZ_CHECK(!again.IsNil());
  KX_FUZZ_CHECK(JsonEncode(again) == once);
  // Comparison keys and deep copies walk the same structure.
  KX_FUZZ_CHECK(ExprText(DeepClone(v)) == ExprText(again));
  return 0;
}
