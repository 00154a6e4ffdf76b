// RTF to HTML: any bytes give an HTML fragment that is valid UTF-8 without
// NUL, inside its enclosing span.
#include "FuzzSupport.h"
#include "RtfToHtml.h"

using namespace kx;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view rtf = fuzz::Text(data, size);
  const std::string html = KXRICHTEXTRTFTOHTML(Value(rtf));
  KX_FUZZ_CHECK(IsValidUtf8(html));
  KX_FUZZ_CHECK(html.find('\0') == std::string::npos);
  KX_FUZZ_CHECK(html.rfind("<span>", 0) == 0 && html.size() >= 13 &&
                html.compare(html.size() - 7, 7, "</span>") == 0);
  // The tables are also read on their own by the rich text's plain form.
  KXRICHTEXTRTFFONTS(rtf);
  KXRICHTEXTRTFCOLORS(rtf);
  return 0;
}
