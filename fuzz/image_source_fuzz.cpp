// Image sources given as data: data URIs and raw bytes recognised by their
// signature become a descriptor whose data URI holds the bytes, or the
// failure descriptor; the file system is never asked.
#include <string>

#include "Base64.h"
#include "FuzzSupport.h"
#include "TImageUtil.h"

using namespace kx;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Value d = TImageUtil().Resolver(Value(fuzz::Text(data, size)), Value("datos"));
  const std::string_view mime = d.Get("mime").Str();
  const std::string_view uri = d.Get("dataUri").Str();
  if (!d.Get("error").Str().empty()) {
    KX_FUZZ_CHECK(mime.empty() && uri.empty());
    return 0;
  }
  const std::string prefix = "data:" + std::string(mime) + ";base64,";
  KX_FUZZ_CHECK(!mime.empty() && uri.substr(0, prefix.size()) == prefix);
  std::string bytes;
  KX_FUZZ_CHECK(Base64DecodeStrict(uri.substr(prefix.size()), bytes));
  return 0;
}
