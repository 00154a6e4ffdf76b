// HTML and plain text to RTF: any bytes give an RTF document of plain ASCII
// without NUL whose groups balance.
#include "FuzzSupport.h"
#include "HtmlToRtf.h"

using namespace kx;

namespace {

void CheckRtf(const std::string& rtf) {
  KX_FUZZ_CHECK(rtf.rfind("{\\rtf1", 0) == 0);
  int depth = 0;
  for (size_t i = 0; i < rtf.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(rtf[i]);
    KX_FUZZ_CHECK(c != 0 && c < 0x80);
    if (c == '\\') {
      ++i;  // an escaped brace or backslash is text
    } else if (c == '{') {
      ++depth;
    } else if (c == '}') {
      KX_FUZZ_CHECK(--depth >= 0);
    }
  }
  KX_FUZZ_CHECK(depth == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Value content(fuzz::Text(data, size));
  CheckRtf(KXRICHTEXTTORTF(content, Value("html")));
  CheckRtf(KXRICHTEXTTORTF(content, Value("text")));
  return 0;
}
