// Runs the console program's sample job with a given number of detail records
// and reports engine time, records per second, pages and peak memory.
// Run it from the project folder (it reads lbl/), once per size:
//
//   build/sample_job_bench 9328
//   build/sample_job_bench 100000
//   build/sample_job_bench 1000000
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "LastPageOverflow.h"

namespace {

std::string Field(const std::string& out, const std::string& key) {
  size_t at = out.find("\n" + key + "=");
  if (at == std::string::npos) return "";
  size_t from = at + key.size() + 2;
  return out.substr(from, out.find('\n', from) - from);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string records = argc > 1 ? argv[1] : "9328";
  std::string out;
  std::string err;
  int code = kx::MAIN({records}, out, err);
  std::fputs(err.c_str(), stderr);
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  double engine = std::atof(Field(out, "engine_seconds").c_str());
  double n = std::atof(records.c_str());
  std::printf("records=%s\npages=%s\nengine_seconds=%.2f\nrecords_per_second=%.0f\n",
              records.c_str(), Field(out, "pages").c_str(), engine, engine > 0 ? n / engine : 0.0);
  std::printf("input_seconds=%s\npeak_rss_mb=%.1f\ntermination=%s\nsuccess=%s\n",
              Field(out, "input_seconds").c_str(), static_cast<double>(usage.ru_maxrss) / 1024.0,
              Field(out, "termination").c_str(), Field(out, "success").c_str());
  return code;
}
