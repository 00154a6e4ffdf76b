// Throughput of the console program's sample job run side by side: N jobs
// on N threads of one process (one engine each), against N jobs in N
// separate processes, for N = 1, 2, 4 and 8. Reports per row the wall time
// from the first start to the last end, jobs per second, and the threads'
// throughput as a share of the processes' at the same N. Every job must
// pass the program's own checks. Run it from the project folder (it reads lbl/):
//
//   build/parallel_jobs_bench                  50,000 records a job, best of 3 rounds
//   build/parallel_jobs_bench 20000 --runs 5
//
// Jobs of one row start together; the machine should have at least 8 cores
// free for the 8-job rows to mean anything.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "LastPageOverflow.h"

namespace {

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

bool RunJob(long records) {
  kx::LastPageOverflowArgs a;
  a.nRecords = records;
  std::string out, err;
  const int code = kx::RunLastPageOverflow(a, out, err);
  if (code != 0) std::fprintf(stderr, "job failed (%d): %s", code, err.c_str());
  return code == 0;
}

struct Round {
  double seconds = 0;
  bool ok = true;
};

// n engines, each on a thread of its own, released together.
Round OnThreads(int n, long records) {
  std::atomic<int> ready{0};
  std::atomic<bool> go{false};
  std::vector<char> ok(static_cast<size_t>(n), 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < n; ++t) {
    threads.emplace_back([&, t] {
      ready.fetch_add(1);
      while (!go.load()) std::this_thread::yield();
      ok[static_cast<size_t>(t)] = RunJob(records);
    });
  }
  while (ready.load() < n) std::this_thread::yield();
  Round r;
  const double start = Now();
  go.store(true);
  for (std::thread& th : threads) th.join();
  r.seconds = Now() - start;
  r.ok = std::all_of(ok.begin(), ok.end(), [](char c) { return c != 0; });
  return r;
}

// n copies of this program in child mode, started together.
Round OnProcesses(int n, long records, const char* self) {
  Round r;
  const std::string count = std::to_string(records);
  std::vector<pid_t> children;
  const double start = Now();
  for (int p = 0; p < n; ++p) {
    const pid_t pid = fork();
    if (pid == 0) {
      execl(self, self, "--child", count.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    if (pid < 0) r.ok = false;
    if (pid > 0) children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    waitpid(pid, &status, 0);
    r.ok = r.ok && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }
  r.seconds = Now() - start;
  return r;
}

// Keeps the faster of two rounds; a failed round fails the row.
void KeepBest(Round& best, const Round& r, bool first) {
  if (first || r.seconds < best.seconds) best.seconds = r.seconds;
  best.ok = best.ok && r.ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && std::strcmp(argv[1], "--child") == 0) return RunJob(std::atol(argv[2])) ? 0 : 1;
  long records = 50000;
  int runs = 3;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) {
      runs = std::max(1, std::atoi(argv[++i]));
    } else if (std::atol(argv[i]) > 0) {
      records = std::atol(argv[i]);
    }
  }
  std::printf("records per job: %ld, best of %d rounds, %u hardware threads\n", records, runs,
              std::thread::hardware_concurrency());
  std::printf("%4s %10s %10s %10s %10s %13s %7s\n", "jobs", "threads_s", "threads/s", "procs_s",
              "procs/s", "threads/procs", "success");
  bool all = true;
  for (int n : {1, 2, 4, 8}) {
    // Rounds of the two kinds alternate, so a change in the machine's load
    // between rounds weighs on both alike.
    Round threads, processes;
    for (int i = 0; i < runs; ++i) {
      KeepBest(threads, OnThreads(n, records), i == 0);
      KeepBest(processes, OnProcesses(n, records, "/proc/self/exe"), i == 0);
    }
    const bool ok = threads.ok && processes.ok;
    all = all && ok;
    std::printf("%4d %10.3f %10.3f %10.3f %10.3f %12.1f%% %7s\n", n, threads.seconds,
                n / threads.seconds, processes.seconds, n / processes.seconds,
                100.0 * processes.seconds / threads.seconds, ok ? "yes" : "no");
    std::fflush(stdout);
  }
  return all ? 0 : 1;
}
