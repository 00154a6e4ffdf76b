// Writes the page-file target's seeds in whatever formats the engine writes
// now: the page codec's bytes of each fixture page, and the spool files a
// spooled document of the fixture pages holds.
//   page_file_seeds OUTDIR
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "PageFile.h"
#include "PageFixture.h"
#include "Platform.h"
#include "TDocumentoRenderizable.h"

using namespace kx;

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: page_file_seeds OUTDIR\n");
    return 2;
  }
  namespace fs = std::filesystem;
  const fs::path out = fs::absolute(argv[1]);
  fs::create_directories(out);
  const fs::path spool = fs::temp_directory_path() / ("kx_page_seeds_" + std::to_string(getpid()));
  fs::create_directories(spool);
  setenv("TMPDIR", spool.c_str(), 1);
  for (int n = 1; n <= 2; ++n) {
    std::string bytes;
    if (!WritePageFile(Value::NewMap({{"objetos", fuzz::FixturePage(n)}}), bytes)) return 1;
    if (!platform::WriteFile((out / ("page" + std::to_string(n))).string(), bytes)) return 1;
  }
  for (int pages = 1; pages <= 4; ++pages) {
    Ref<TDocumentoRenderizable> doc = MakeRef<TDocumentoRenderizable>(Value(210), Value(297));
    doc->EnablePageSpooling();
    // Pages 3 and 4 share a chart's series, as the target's document does.
    const Value series = fuzz::FixtureSeries();
    for (int n = 1; n <= pages; ++n)
      doc->AddPagina(n <= 2 ? fuzz::FixturePage(n) : fuzz::FixtureChartPage(series));
    int i = 0;
    for (const auto& e : fs::directory_iterator(spool)) {
      fs::copy_file(e.path(), out / ("pages" + std::to_string(pages) + "_" + std::to_string(++i)),
                    fs::copy_options::overwrite_existing);
    }
    doc->End();
  }
  fs::remove_all(spool);
  return 0;
}
