// Runs a report of one text through the installed engine and prints its page count.
#include <cstdio>

#include "TKXEngine.h"

int main() {
  kx::TKXEngine engine;
  engine.SetPlantillaContent(
      kx::Value(R"({"cFormatVersion":"1.0","aObjects":[{"cType":"TText","cText":"'Hola'"}]})"));
  engine.Create().OpenJob();
  engine.CloseJob();
  kx::Ref<kx::TDocumentoRenderizable> document = engine.RunEngine();
  std::printf("pages=%lld\n", document ? static_cast<long long>(document->TotalPaginas()) : 0LL);
  engine.End();
  return document && document->TotalPaginas() == 1 ? 0 : 1;
}
