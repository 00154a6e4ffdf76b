// A chart beside a long list: the cost of the list alone against the same list
// with a chart (category a field, value a field) drawn on every page. Each
// measurement runs in a fresh process of its own, with a private temporary
// folder, so its peak memory is its own. The time is the run and the reading
// back of every page; the peak is the whole process's.
//
//   build/chart_bench                 30000 records, best of 3 runs
//   build/chart_bench 5000 30000      chosen sizes
//   build/chart_bench --runs 5 30000
//   build/chart_bench --mode chart-page 3000   the chart reads the page: built again on each
//   build/chart_bench --heap 30000    the child prepares its heap as the console program does
#include <dirent.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "LastPageOverflow.h"
#include "Platform.h"
#include "TKXEngine.h"

namespace {

using kx::Value;

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// A list of 46 records a page; the chart, when asked for, beside it.
std::string Plantilla(const std::string& mode) {
  std::string chart;
  if (mode != "list") {
    const std::string category = mode == "chart-page" ? "'p' + PAGE()" : "VENTAS.mes";
    chart = R"({"cType":"TChart","cId":"g","nLeft":120,"nTop":20,"nWidth":80,"nHeight":60,
        "hChartSpec":{"cCategoryFormula":")" +
            category + R"(","cValueFormula":"VENTAS.importe"}},)";
  }
  return R"({"cFormatVersion":"1.0","nPaperWidth":210,"nPaperHeight":297,"aObjects":[)" + chart +
         R"({"cType":"TTable","cId":"t","nLeft":10,"nTop":20,"nWidth":100,"nHeight":230,
        "hSections":{"detail":{"aLines":[{"nHeight":5,"aCells":[
          {"nWidth":60,"hContent":{"cType":"TText","hObject":{"cText":"VENTAS.mes"}}},
          {"nWidth":40,"hContent":{"cType":"TText","hObject":{"cText":"VENTAS.importe"}}}]}]}}}]})";
}

// The child: one run, every page read back; prints what the parent reads.
int Child(long records, const std::string& mode, bool heap) {
  if (heap) kx::platform::PrepareLargeHeap(kx::kHeapAhead);
  kx::TKXEngine engine;
  engine.SetPlantillaContent(Value(Plantilla(mode)));
  engine.OpenJob();
  for (long i = 0; i < records; ++i) {
    engine.SendDetalle(
        Value("VENTAS"),
        Value::NewMap({{"mes", Value(std::string("M").append(std::to_string(i % 12 + 1)))},
                       {"importe", Value(static_cast<int64_t>(i % 97))}}));
  }
  engine.CloseJob();
  const double start = Now();
  kx::Ref<kx::TDocumentoRenderizable> doc = engine.RunEngine();
  if (!doc) {
    std::fprintf(stderr, "%s\n", engine.cLastError.c_str());
    return 1;
  }
  size_t objects = 0;
  for (int64_t p = 1; p <= doc->TotalPaginas(); ++p)
    objects += doc->GetPagina(Value(p)).Get("objetos").Len();
  const double seconds = Now() - start;
  const bool ok = !doc->HasPageSpoolError() && objects > 0;
  std::printf("pages=%lld\nseconds=%.4f\nspooled=%d\nsuccess=%s\n",
              static_cast<long long>(doc->TotalPaginas()), seconds, doc->IsPageSpooling() ? 1 : 0,
              ok ? "yes" : "no");
  return ok ? 0 : 1;
}

struct Measure {
  std::string pages = "?";
  double seconds = 0;
  double peakMb = 0;
  bool spooled = false;
  bool success = false;
};

std::string Field(const std::string& out, const std::string& key) {
  const std::string marca = std::string(key).append("=");
  const size_t at = out.rfind(marca);
  if (at == std::string::npos || (at > 0 && out[at - 1] != '\n')) return "";
  const size_t from = at + marca.size();
  return out.substr(from, out.find('\n', from) - from);
}

Measure RunOnce(long records, const std::string& mode, bool heap) {
  Measure m;
  const char* base = std::getenv("TMPDIR");
  std::string dir = std::string(base && *base ? base : "/tmp") + "/kx_chart_bench_XXXXXX";
  if (!mkdtemp(dir.data())) return m;
  int fds[2];
  if (pipe(fds) != 0) return m;
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[1], STDOUT_FILENO);
    close(fds[0]);
    setenv("TMPDIR", dir.c_str(), 1);
    const std::string n = std::to_string(records);
    execl("/proc/self/exe", "chart_bench", "--child", n.c_str(), mode.c_str(),
          heap ? "heap" : "plain", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  std::string out;
  char buf[4096];
  for (ssize_t got; (got = read(fds[0], buf, sizeof buf)) > 0;)
    out.append(buf, static_cast<size_t>(got));
  close(fds[0]);
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.') unlinkat(dirfd(d), e->d_name, 0);
    closedir(d);
  }
  rmdir(dir.c_str());
  m.pages = Field(out, "pages");
  m.seconds = std::atof(Field(out, "seconds").c_str());
  m.spooled = Field(out, "spooled") == "1";
  m.peakMb = static_cast<double>(usage.ru_maxrss) / 1024.0;
  m.success = WIFEXITED(status) && WEXITSTATUS(status) == 0 && Field(out, "success") == "yes";
  return m;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 5 && std::strcmp(argv[1], "--child") == 0)
    return Child(std::atol(argv[2]), argv[3], std::strcmp(argv[4], "heap") == 0);
  std::vector<long> sizes;
  int runs = 3;
  std::string chartMode = "chart";
  bool heap = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--heap") == 0) {
      heap = true;
    } else if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) {
      runs = std::max(1, std::atoi(argv[++i]));
    } else if (std::strcmp(argv[i], "--mode") == 0 && i + 1 < argc) {
      chartMode = argv[++i];
    } else if (std::atol(argv[i]) > 0) {
      sizes.push_back(std::atol(argv[i]));
    }
  }
  if (sizes.empty()) sizes = {30000};
  std::printf("%9s %-10s %6s %8s %9s %8s %7s %9s %8s\n", "records", "mode", "pages", "seconds",
              "peak_mb", "spooled", "success", "time_x", "peak_x");
  bool all = true;
  for (long n : sizes) {
    Measure alone;
    for (const std::string& mode : {std::string("list"), chartMode}) {
      // Best time of the runs; the lowest peak, which the other runs only add noise to.
      Measure best;
      bool ok = true;
      double peak = 0;
      for (int r = 0; r < runs; ++r) {
        const Measure m = RunOnce(n, mode, heap);
        if (r == 0 || m.seconds < best.seconds) best = m;
        peak = r == 0 ? m.peakMb : std::min(peak, m.peakMb);
        ok = ok && m.success;
      }
      best.peakMb = peak;
      best.success = ok;
      if (mode == "list") alone = best;
      all = all && best.success;
      std::printf("%9ld %-10s %6s %8.3f %9.1f %8s %7s %9.2f %8.2f\n", n, mode.c_str(),
                  best.pages.c_str(), best.seconds, best.peakMb, best.spooled ? "yes" : "no",
                  best.success ? "yes" : "no", alone.seconds > 0 ? best.seconds / alone.seconds : 0,
                  alone.peakMb > 0 ? best.peakMb / alone.peakMb : 0);
      std::fflush(stdout);
    }
  }
  return all ? 0 : 1;
}
