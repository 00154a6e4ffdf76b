// The page-file reader, at both of its layers: the page codec given any bytes
// answers a page or refuses them, and a page it reads writes back to bytes
// that read the same; a spooled document whose spool file holds any bytes
// reads every page as a page map (the empty page and the read message when
// the bytes are damaged), never crashes, and leaves no file behind.
//
// The document side knows nothing of the file format: it spools the fixture
// pages, replaces the spool file (the first the document made) with the
// input, and reads. Seeds in the current formats come from page_file_seeds.
#include <algorithm>
#include <vector>

#include "FuzzSupport.h"
#include "PageFile.h"
#include "PageFixture.h"
#include "Platform.h"
#include "TDocumentoRenderizable.h"

using namespace kx;

namespace {

std::vector<std::filesystem::path> PageFiles() {
  std::vector<std::filesystem::path> files;
  for (const auto& e : std::filesystem::directory_iterator(fuzz::PrivateFolder())) {
    if (e.path().filename().string().rfind("kxt_ir_", 0) == 0) files.push_back(e.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

void ReadAsPageFile(std::string_view bytes) {
  Value page;
  if (!ReadPageFile(bytes, page)) return;
  std::string written;
  KX_FUZZ_CHECK(WritePageFile(page, written));
  Value again;
  KX_FUZZ_CHECK(ReadPageFile(written, again));
  KX_FUZZ_CHECK(ExprText(again) == ExprText(page));
}

void ReadAsSpoolFile(std::string_view bytes) {
  Ref<TDocumentoRenderizable> doc = MakeRef<TDocumentoRenderizable>(Value(210), Value(297));
  doc->EnablePageSpooling();
  doc->AddPagina(fuzz::FixturePage(1));
  doc->AddPagina(fuzz::FixturePage(2));
  {
    // Two pages share one series: it is kept once, and read from the file once they alone hold it.
    const Value series = fuzz::FixtureSeries();
    doc->AddPagina(fuzz::FixtureChartPage(series));
    doc->AddPagina(fuzz::FixtureChartPage(series));
  }
  const std::vector<std::filesystem::path> files = PageFiles();
  KX_FUZZ_CHECK(!files.empty());
  KX_FUZZ_CHECK(platform::WriteFile(files.front().string(), bytes));
  for (int64_t n = 1; n <= doc->TotalPaginas(); ++n) {
    const Value page = doc->GetPagina(Value(n));
    KX_FUZZ_CHECK(page.IsMap());
    if (page.Has("objetos")) KX_FUZZ_CHECK(page.Get("objetos").IsList());
    fuzz::Touch(page);
  }
  // A page map that reads back is rewritten and patched like any other.
  doc->SetParchesTextoPagina(Value(1), JsonDecode(R"([{"nIndex":1,"uTexto":"Hoja 1 de 1"}])"));
  fuzz::Touch(doc->GetPagina(Value(1)));
  doc->SetPagina(Value(2), doc->GetPagina(Value(1)));
  fuzz::Touch(doc->GetPaginas());
  doc->End();
  KX_FUZZ_CHECK(fuzz::PageFileCount() == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::PrivateFolder();
  ReadAsPageFile(fuzz::Text(data, size));
  ReadAsSpoolFile(fuzz::Text(data, size));
  return 0;
}
