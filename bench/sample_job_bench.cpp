// Runs the console program's sample job at several sizes, each in a fresh
// process of its own with a private temporary folder, and reports per run:
// engine time, whole-process time, whole-process peak memory, the number of
// temporary files the run created, the peak disk they took, and whether the
// run passed. Two variants: the sample rows as the console program sends
// them, and "unique", whose names, tax numbers and amounts differ on every
// record (so page compression is not flattered by repetition).
// Run it from the project folder (it reads lbl/):
//
//   build/sample_job_bench                        9328, 10000, 100000, 1000000; both variants
//   build/sample_job_bench 9328 100000            chosen sizes
//   build/sample_job_bench --variant unique 1000000
//   build/sample_job_bench --runs 3 9328          best of three runs per row
//   build/sample_job_bench --heap none 9328       the child without the program's heap
//                                                 preparation, as a host that does not call it
//
// The temporary folder is $TMPDIR (or /tmp): set TMPDIR to compare file systems.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/stat.h>
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

namespace {

struct Measure {
  std::string pages = "?";
  double engineSeconds = 0;
  double processSeconds = 0;
  double peakRssMb = 0;
  long tempFiles = 0;
  double peakTempMb = 0;
  long tempLeft = 0;  // files still there when the process had ended
  bool success = false;
};

std::string Field(const std::string& out, const std::string& key) {
  size_t at = out.find("\n" + key + "=");
  if (at == std::string::npos) return "";
  size_t from = at + key.size() + 2;
  return out.substr(from, out.find('\n', from) - from);
}

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Disk blocks of the files in the folder, and how many there are.
double FolderBytes(const std::string& dir, long& files) {
  files = 0;
  double bytes = 0;
  DIR* d = opendir(dir.c_str());
  if (!d) return 0;
  while (dirent* e = readdir(d)) {
    if (e->d_name[0] == '.') continue;
    struct stat st {};
    if (fstatat(dirfd(d), e->d_name, &st, 0) == 0) {
      bytes += static_cast<double>(st.st_blocks) * 512.0;
      ++files;
    }
  }
  closedir(d);
  return bytes;
}

void EmptyFolder(const std::string& dir) {
  DIR* d = opendir(dir.c_str());
  if (!d) return;
  while (dirent* e = readdir(d)) {
    if (e->d_name[0] != '.') unlinkat(dirfd(d), e->d_name, 0);
  }
  closedir(d);
}

// One run in a child process: the child is this program again, in child mode.
Measure RunOnce(const char* self, long records, bool unique, bool prepareHeap) {
  Measure m;
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/kx_bench_XXXXXX";
  if (!mkdtemp(pattern.data())) {
    std::perror("mkdtemp");
    return m;
  }
  const std::string dir = pattern;
  int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (watch < 0 || inotify_add_watch(watch, dir.c_str(), IN_CREATE) < 0) std::perror("inotify");
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return m;

  const double start = Now();
  pid_t pid = fork();
  if (pid == 0) {
    dup2(pipeFds[1], STDOUT_FILENO);
    close(pipeFds[0]);
    setenv("TMPDIR", dir.c_str(), 1);
    const std::string n = std::to_string(records);
    execl(self, self, "--child", n.c_str(), unique ? "unique" : "sample",
          prepareHeap ? "hint" : "none", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(pipeFds[1]);
  fcntl(pipeFds[0], F_SETFL, O_NONBLOCK);

  std::string out;
  rusage usage{};
  int status = 0;
  double nextScan = 0, scanCost = 0;
  for (;;) {
    pollfd fds[2] = {{watch, POLLIN, 0}, {pipeFds[0], POLLIN, 0}};
    poll(fds, 2, 2);
    alignas(inotify_event) char buf[64 * 1024];
    for (ssize_t got; (got = read(watch, buf, sizeof buf)) > 0;) {
      for (char* p = buf; p < buf + got;) {
        auto* ev = reinterpret_cast<inotify_event*>(p);
        if (ev->mask & IN_CREATE) ++m.tempFiles;
        if (ev->mask & IN_Q_OVERFLOW)
          std::fprintf(stderr, "inotify queue overflow: file count is low\n");
        p += sizeof(inotify_event) + ev->len;
      }
    }
    for (ssize_t got; (got = read(pipeFds[0], buf, sizeof buf)) > 0;)
      out.append(buf, static_cast<size_t>(got));
    // Scanning a folder of thousands of files costs: scan at most half the time.
    if (Now() >= nextScan) {
      const double t = Now();
      long files = 0;
      m.peakTempMb = std::max(m.peakTempMb, FolderBytes(dir, files) / 1e6);
      scanCost = Now() - t;
      nextScan = Now() + std::max(0.002, 2 * scanCost);
    }
    pid_t done = wait4(pid, &status, WNOHANG, &usage);
    if (done == pid) break;
  }
  m.processSeconds = Now() - start;
  char buf[4096];
  fcntl(pipeFds[0], F_SETFL, 0);
  for (ssize_t got; (got = read(pipeFds[0], buf, sizeof buf)) > 0;)
    out.append(buf, static_cast<size_t>(got));
  close(pipeFds[0]);
  if (watch >= 0) close(watch);

  FolderBytes(dir, m.tempLeft);
  EmptyFolder(dir);
  rmdir(dir.c_str());
  m.pages = Field(out, "pages");
  m.engineSeconds = std::atof(Field(out, "engine_seconds").c_str());
  m.peakRssMb = static_cast<double>(usage.ru_maxrss) / 1024.0;
  m.success = WIFEXITED(status) && WEXITSTATUS(status) == 0 && Field(out, "success") == "yes";
  return m;
}

// The child stands in for the console program's process: it prepares the
// heap as the program's main does, unless told not to.
int Child(long records, bool unique, bool prepareHeap) {
  if (prepareHeap) kx::platform::PrepareLargeHeap(kx::kHeapAhead);
  kx::LastPageOverflowArgs a;
  a.nRecords = records;
  a.lUniqueTexts = unique;
  std::string out;
  std::string err;
  int code = kx::RunLastPageOverflow(a, out, err);
  std::fputs(err.c_str(), stderr);
  std::fwrite(out.data(), 1, out.size(), stdout);
  std::fflush(stdout);
  return code;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 5 && std::strcmp(argv[1], "--child") == 0) {
    return Child(std::atol(argv[2]), std::strcmp(argv[3], "unique") == 0,
                 std::strcmp(argv[4], "hint") == 0);
  }
  std::vector<long> sizes;
  std::vector<bool> variants = {false, true};
  int runs = 1;
  bool prepareHeap = true;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--variant") == 0 && i + 1 < argc) {
      const std::string v = argv[++i];
      variants = v == "unique"   ? std::vector<bool>{true}
                 : v == "sample" ? std::vector<bool>{false}
                                 : variants;
    } else if (std::strcmp(argv[i], "--heap") == 0 && i + 1 < argc) {
      prepareHeap = std::strcmp(argv[++i], "none") != 0;
    } else if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) {
      runs = std::max(1, std::atoi(argv[++i]));
    } else if (std::atol(argv[i]) > 0) {
      sizes.push_back(std::atol(argv[i]));
    }
  }
  if (sizes.empty()) sizes = {9328, 10000, 100000, 1000000};

  std::printf("%-8s %9s %7s %9s %9s %11s %9s %11s %10s %5s %7s\n", "variant", "records", "pages",
              "engine_s", "process_s", "us_per_rec", "peak_mb", "temp_files", "peak_tmp_mb", "left",
              "success");
  bool all = true;
  for (bool unique : variants) {
    for (long n : sizes) {
      // Best of the runs by whole-process time; memory and disk from that run.
      Measure best;
      for (int r = 0; r < runs; ++r) {
        Measure m = RunOnce("/proc/self/exe", n, unique, prepareHeap);
        if (r == 0 || m.processSeconds < best.processSeconds) best = m;
      }
      all = all && best.success;
      std::printf("%-8s %9ld %7s %9.3f %9.3f %11.2f %9.1f %11ld %10.1f %5ld %7s\n",
                  unique ? "unique" : "sample", n, best.pages.c_str(), best.engineSeconds,
                  best.processSeconds, best.processSeconds * 1e6 / static_cast<double>(n),
                  best.peakRssMb, best.tempFiles, best.peakTempMb, best.tempLeft,
                  best.success ? "yes" : "no");
      std::fflush(stdout);
    }
  }
  return all ? 0 : 1;
}
