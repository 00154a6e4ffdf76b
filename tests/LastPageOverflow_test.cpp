#include "LastPageOverflow.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "Json.h"
#include "Platform.h"
#include "SpoolDamage.h"
#include "TDocumentoRenderizable.h"
#include "TestFolder.h"

// The sanitizers reserve terabytes of address space and change how memory
// runs out: runs under a memory limit are left to the plain build.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define KX_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || \
    __has_feature(memory_sanitizer)
#define KX_SANITIZED 1
#endif
#endif

extern char** environ;

namespace kx {
namespace {

TEST(LastPageOverflow, ArgumentParsing) {
  struct Row {
    std::vector<std::string> args;
    int64_t records;
    bool progress;
    bool changes;
  };
  Row rows[] = {
      {{}, 170, false, false},
      {{"0"}, 170, false, false},
      {{"-5"}, 170, false, false},
      {{"abc"}, 170, false, false},
      {{"0.5"}, 170, false, false},
      {{"12abc"}, 12, false, false},
      {{"2.7"}, 2, false, false},
      {{"99999999999999999999"}, INT64_MAX, false, false},
      {{"9328", " PROGRESS "}, 9328, true, false},
      {{"10", "progressx", "changes"}, 10, false, true},
      {{"10", "", " Changes"}, 10, false, true},
  };
  for (const Row& r : rows) {
    LastPageOverflowArgs a = ParseLastPageOverflowArgs(r.args);
    std::string name = r.args.empty() ? "(none)" : r.args[0];
    EXPECT_EQ(a.nRecords, r.records) << name;
    EXPECT_EQ(a.lProgress, r.progress) << name;
    EXPECT_EQ(a.lChanges, r.changes) << name;
  }
}

TEST(LastPageOverflow, SampleRecordLargeTakesTheValues) {
  Value rec =
      SampleRecordLarge(JsonDecode(R"({"a":{"tipo":"texto","valor":"x"},"b":5,"c":{"tipo":"n"}})"));
  EXPECT_EQ(JsonEncode(rec), R"({"a":"x","b":5,"c":{"tipo":"n"}})");
  EXPECT_EQ(SampleRecordLarge(Value::NewList()).Len(), 0u);
}

TEST(LastPageOverflow, WithoutSampleDataItReportsFailure) {
  // The tests run outside the project folder: no template, no data file.
  std::string out;
  std::string err;
  int code = MAIN({"5"}, out, err);
  EXPECT_EQ(code, 1);
  EXPECT_EQ(out.front(), '\n');
  EXPECT_NE(out.back(), '\n');
  size_t lines = 0;
  for (char c : out) lines += c == '\n';
  EXPECT_EQ(lines, 31u);
  EXPECT_NE(out.find("\nsuccess=no"), std::string::npos);
  EXPECT_NE(out.find("\nlast=no\n"), std::string::npos);
  EXPECT_EQ(
      err,
      "test_engine_lastpage_overflow: cannot read the sample data file "
      "lbl/demo/ivacli_Libro_de_Iva_de_Facturas_emitidas_importado_tarvex_sample_data.json\n");
}

TEST(LastPageOverflow, ReasonsTakeOneLine) {
  struct Row {
    const char* message;
    const char* line;
  } rows[] = {
      {"sin saltos", "sin saltos"},
      {"uno\ndos", "uno / dos"},
      {"uno\r\ndos\rtres", "uno / dos / tres"},
      {"\r\nrodeado\n\n", "rodeado"},
      {"hueco\n\nmedio", "hueco /  / medio"},
      {"", ""},
  };
  for (const Row& r : rows) EXPECT_EQ(OneLine(r.message), r.line) << r.message;
}

// The sample job at its own size: 170 pages, spooled once they pass the
// document's object limit. Every run spools into a folder of its own.
struct SampleRun {
  int code = -1;
  std::string out;
  std::string err;
  bool spooled = false;
  size_t spoolFiles = 0;          // the spool files the run's document had
  std::vector<std::string> left;  // the spool files left once the program ended
};

SampleRun RunSampleJob(LastPageOverflowHooks hooks, const std::string& tmpFolder = "",
                       const std::string& records = "9328") {
  SampleRun run;
  TempDir tmp;
  const std::string folder = tmpFolder.empty() ? tmp.path() : tmpFolder;
  TmpDirAs tmp_dir(folder);
  WorkingFolder project(KX_SOURCE_DIR);
  auto afterRun = hooks.afterRun;
  hooks.afterRun = [&](TDocumentoRenderizable& doc) {
    run.spooled = doc.IsPageSpooling();
    run.spoolFiles = SpoolFiles(folder).size();
    if (afterRun) afterRun(doc);
  };
  run.code = MAIN({records}, run.out, run.err, hooks);
  run.left = SpoolFiles(folder);
  return run;
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

size_t Lines(const std::string& out) {
  size_t lines = 0;
  for (char c : out) lines += c == '\n';
  return lines;
}

// A page lost from the spool after the run never reads as success: the
// program fails and says why; standard output keeps its 31 lines. The lost
// page is the second-to-last, whose empty stand-in would pass the check
// that the summary is not on it.
TEST(LastPageOverflow, ALostPageOfTheSpoolFailsTheRun) {
  const std::string kProgram = "test_engine_lastpage_overflow: ";
  struct Row {
    const char* name;
    bool damage;
    SpoolDamage how;
    int code;
    std::string err;
  } rows[] = {
      {"intact", false, SpoolDamage::kDeleted, 0, ""},
      {"deleted", true, SpoolDamage::kDeleted, 1,
       kProgram + "No se ha podido recuperar una pagina temporal del informe.\n"},
      {"truncated", true, SpoolDamage::kTruncated, 1,
       kProgram + "No se ha podido recuperar una pagina temporal del informe.\n"},
  };
  for (const Row& r : rows) {
    bool damaged = false;
    LastPageOverflowHooks hooks;
    hooks.afterRun = [&](TDocumentoRenderizable& doc) {
      if (r.damage) damaged = DamageSpoolOfPage(doc, doc.TotalPaginas() - 1, r.how);
    };
    SampleRun run = RunSampleJob(hooks);
    ASSERT_TRUE(run.spooled) << r.name;
    EXPECT_GT(run.spoolFiles, 0u) << r.name;
    EXPECT_EQ(damaged, r.damage) << r.name;
    EXPECT_EQ(run.code, r.code) << r.name << run.out;
    EXPECT_EQ(run.err, r.err) << r.name;
    EXPECT_EQ(Lines(run.out), 31u) << r.name;
    EXPECT_NE(run.out.find("\npages=170\n"), std::string::npos) << r.name;
    EXPECT_NE(run.out.find(r.code == 0 ? "\nsuccess=yes" : "\nsuccess=no"), std::string::npos)
        << r.name;
    EXPECT_TRUE(run.left.empty()) << r.name;
  }
}

// The spool cut to half its length while the run still appends to it: the
// pages in the cut half are lost, while the first, the last and the
// second-to-last, which the findings look into, read back whole. Only
// reading every page back tells the run failed.
TEST(LastPageOverflow, ASpoolCutMidRunFailsTheRun) {
  TempDir tmp;
  uintmax_t cutFrom = 0;  // the spool's length when it was cut
  uintmax_t grownTo = 0;  // its length once the run had answered
  bool findingsReadWhole = false;
  LastPageOverflowHooks hooks;
  // Asked at the engine's progress reports, at most every half second, and
  // the first to find a spool of some pages cuts it: jobs of these sizes
  // spool from their first page.
  hooks.stopSignal = [&] {
    if (cutFrom == 0 && SpoolFileSize(tmp.path()) >= (uintmax_t{64} << 10))
      cutFrom = CutSpoolInFolder(tmp.path());
    return 0;
  };
  hooks.afterRun = [&](TDocumentoRenderizable& doc) {
    grownTo = SpoolFileSize(tmp.path());
    const int64_t pages = doc.TotalPaginas();
    for (int64_t n : {int64_t{1}, pages - 1, pages}) doc.GetPagina(Value(n));
    findingsReadWhole = !doc.HasPageSpoolError();
  };
  // A build fast enough to store every page of the smaller job before a
  // report comes (or cuts at the report that ends the run) runs the larger.
  SampleRun run;
  for (const char* records : {"20000", "200000"}) {
    cutFrom = grownTo = 0;
    run = RunSampleJob(hooks, tmp.path(), records);
    if (cutFrom > 0 && grownTo > cutFrom) break;
  }
  ASSERT_GT(cutFrom, 0u) << "the run ended before its spool could be cut";
  ASSERT_GT(grownTo, cutFrom) << "the cut came after the last page was stored";
  EXPECT_TRUE(findingsReadWhole);
  EXPECT_EQ(run.code, 1) << run.out;
  EXPECT_EQ(run.err,
            "test_engine_lastpage_overflow: "
            "No se ha podido recuperar una pagina temporal del informe.\n");
  EXPECT_EQ(Lines(run.out), 31u);
  EXPECT_NE(run.out.find("\nlast=yes\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\nsuccess=no"), std::string::npos);
  EXPECT_TRUE(run.left.empty());
}

TEST(LastPageOverflow, APageThatCannotBeSpooledFailsTheRunWithTheEnginesMessage) {
  // No file can be made in /proc: the run itself fails.
  SampleRun run = RunSampleJob({}, "/proc");
  EXPECT_EQ(run.code, 1);
  EXPECT_EQ(run.err,
            "test_engine_lastpage_overflow: "
            "No se ha podido guardar una pagina temporal del informe.\n");
  EXPECT_EQ(Lines(run.out), 31u);
  EXPECT_NE(run.out.find("\ntermination=page-spool-error\n"), std::string::npos);
  EXPECT_NE(run.out.find("\nsuccess=no"), std::string::npos);
}

// A stop signal, noted wherever it comes, ends the program at its next
// check: before the first record and between batches of them, at the
// engine's next report, right after the run, before each page read back.
// The program asks nothing more once it has seen the stop, ends the
// document (erasing its spool), and hands the exit code, 128 + the signal,
// to the `stopped` hook before the engine gives its memory back.
TEST(LastPageOverflow, AStopSignalEndsTheProgramAtItsNextCheckAndErasesItsSpool) {
  enum Cuando { kPregunta, kSpool, kTrasElRun };
  struct Row {
    const char* name;
    const char* records;
    Cuando when;
    int questions;  // the flag goes up at this question (after the run, when so)
    const char* pages;
  } rows[] = {
      {"before the first record", "9328", kPregunta, 1, "\npages=0\n"},
      {"amid the records", "1000000", kPregunta, 3, "\npages=0\n"},
      // The run spools its pages from the first one: it is under way.
      {"during the run", "20000", kSpool, 0, "\npages=0\n"},
      {"right after the run", "9328", kTrasElRun, 1, "\npages=170\n"},
      {"amid the page reads", "9328", kTrasElRun, 6, "\npages=170\n"},
  };
  for (const Row& r : rows) {
    TempDir tmp;
    int questions = 0;
    int afterStop = 0;  // questions asked once the flag was up
    int signal = 0;
    bool runDone = false;
    int stoppedCode = 0;
    size_t spoolAtStop = 0;
    LastPageOverflowHooks hooks;
    hooks.stopSignal = [&] {
      if (signal != 0) {
        ++afterStop;
        return signal;
      }
      const bool counting = r.when == kPregunta || (r.when == kTrasElRun && runDone);
      if (counting && ++questions >= r.questions) signal = SIGTERM;
      if (r.when == kSpool && !SpoolFiles(tmp.path()).empty()) signal = SIGTERM;
      return signal;
    };
    hooks.afterRun = [&](TDocumentoRenderizable&) { runDone = true; };
    hooks.stopped = [&](int code) {
      stoppedCode = code;
      spoolAtStop = SpoolFiles(tmp.path()).size();
    };
    SampleRun run = RunSampleJob(hooks, tmp.path(), r.records);
    EXPECT_EQ(run.code, 128 + SIGTERM) << r.name;
    EXPECT_EQ(run.err,
              "test_engine_lastpage_overflow: stopped by signal " + std::to_string(SIGTERM) + "\n")
        << r.name;
    EXPECT_EQ(Lines(run.out), 31u) << r.name;
    EXPECT_NE(run.out.find(r.pages), std::string::npos) << r.name << run.out;
    // Not a page read once the stop came, the last one least of all.
    EXPECT_NE(run.out.find("\nlast=no\n"), std::string::npos) << r.name;
    EXPECT_NE(run.out.find("\nsuccess=no"), std::string::npos) << r.name;
    EXPECT_LE(afterStop, 1) << r.name;
    EXPECT_EQ(stoppedCode, 128 + SIGTERM) << r.name;
    EXPECT_EQ(spoolAtStop, 0u) << r.name;
    EXPECT_TRUE(run.left.empty()) << r.name;
  }
}

// A record count is refused, before anything is done, when its records
// would not fit in the memory the process may have: at kBytesPorRegistro a
// record (kBytesPorRegistroConCambio with a variable change per record),
// beyond kBytesBase.
TEST(LastPageOverflow, ARecordCountMemoryCannotHoldIsRefused) {
  constexpr uint64_t MiB = uint64_t{1} << 20;
  struct Row {
    uint64_t memory;
    bool changes;
    int64_t most;
  } rows[] = {
      {0, false, 0},
      {128 * MiB, false, 0},
      {128 * MiB + 399, false, 0},
      {128 * MiB + 400, false, 1},
      {512 * MiB, false, 1006632},
      {512 * MiB, true, 473709},
      {3072 * MiB, false, 7717519},
      {UINT64_MAX, false, static_cast<int64_t>((UINT64_MAX - 128 * MiB) / 400)},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(MaxRecords(r.memory, r.changes), r.most) << r.memory << (r.changes ? " changes" : "");
  }
  // No machine holds a count of twenty digits: it is refused at once.
  std::string out;
  std::string err;
  EXPECT_EQ(MAIN({"99999999999999999999"}, out, err), 1);
  EXPECT_EQ(out, "");
  EXPECT_EQ(err.rfind("test_engine_lastpage_overflow: too many records for memory: at most ", 0),
            0u)
      << err;
  EXPECT_EQ(Lines(err), 1u);
}

// The console entry's own path: the real handler notes the signal, the
// program winds down and exits with 128 + its number.
TEST(LastPageOverflowDeathTest, ATermSignalAfterTheRunEndsTheProgramCleanly) {
  auto program = [] {
    int code = 0;
    {
      platform::InstallStopSignalHandlers();
      LastPageOverflowHooks hooks;
      hooks.stopSignal = platform::StopSignal;
      hooks.afterRun = [](TDocumentoRenderizable&) { std::raise(SIGTERM); };
      SampleRun run = RunSampleJob(hooks);
      platform::ConsoleWriteError(run.err);
      code = run.spoolFiles > 0 && run.left.empty() ? run.code : 99;
    }
    std::exit(code);
  };
  EXPECT_EXIT(program(), ::testing::ExitedWithCode(128 + SIGTERM), "stopped by signal");
}

#ifdef KX_CONSOLE_PROGRAM

// The console program as a process of its own, started from the project
// folder with a temporary folder of its own (TMPDIR) and, when asked, a
// resource limit; its standard output and error go to files beside it.
class Program {
 public:
  using Clock = std::chrono::steady_clock;

  explicit Program(const std::vector<std::string>& args, int resource = -1, rlim_t bytes = 0)
      : out_(files_.path() + "/out"), err_(files_.path() + "/err") {
    std::vector<std::string> texts = {KX_CONSOLE_PROGRAM};
    texts.insert(texts.end(), args.begin(), args.end());
    std::vector<std::string> env = {"TMPDIR=" + tmp_.path()};
    for (char** e = environ; *e; ++e)
      if (std::string_view(*e).rfind("TMPDIR=", 0) != 0) env.emplace_back(*e);
    // Everything the child needs is made before it exists: between fork and
    // exec it only makes system calls.
    std::vector<char*> argv = Pointers(texts);
    std::vector<char*> envp = Pointers(env);
    pid_ = ::fork();
    if (pid_ == 0) {
      const int out = ::open(out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      const int err = ::open(err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (out < 0 || err < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0 ||
          ::chdir(KX_SOURCE_DIR) != 0)
        ::_exit(126);
      if (resource >= 0) {
        const struct rlimit limit = {bytes, bytes};
        if (::setrlimit(resource, &limit) != 0) ::_exit(126);
      }
      ::execve(argv[0], argv.data(), envp.data());
      ::_exit(127);
    }
  }
  ~Program() {
    if (pid_ > 0 && !ended_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  bool Started() const { return pid_ > 0; }
  const std::string& TmpDir() const { return tmp_.path(); }

  // Waits, looking every millisecond, until `ready` holds (true) or the
  // program has ended or `seconds` have passed (false).
  bool Until(const std::function<bool()>& ready, double seconds) {
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    while (Clock::now() < end) {
      if (ready()) return true;
      if (Ended()) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
  }
  void Signal(int signal) {
    signaled_ = Clock::now();
    ::kill(pid_, signal);
  }
  // Waits for the end, at most `seconds`; false when it did not come.
  bool Wait(double seconds) {
    Until([] { return false; }, seconds);
    return ended_;
  }
  // The exit code, or -1 when the program did not exit by itself.
  int Code() const { return ended_ && WIFEXITED(status_) ? WEXITSTATUS(status_) : -1; }
  // Seconds from the signal to the end.
  double StopSeconds() const { return std::chrono::duration<double>(end_ - signaled_).count(); }
  std::string Out() const { return Read(out_); }
  std::string Err() const { return Read(err_); }

  // The program's spool folder (it makes one in its TMPDIR), "" until then.
  std::string SpoolFolder() const {
    for (const std::string& f : SpoolFiles(tmp_.path()))
      if (std::filesystem::is_directory(f)) return f;
    return "";
  }
  // The read calls the process has made so far (-1 when the system does not tell).
  long ReadCalls() const {
    std::ifstream io("/proc/" + std::to_string(pid_) + "/io");
    std::string key;
    long value = 0;
    while (io >> key >> value)
      if (key == "syscr:") return value;
    return -1;
  }

 private:
  static std::vector<char*> Pointers(std::vector<std::string>& texts) {
    std::vector<char*> p;
    for (std::string& t : texts) p.push_back(t.data());
    p.push_back(nullptr);
    return p;
  }
  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
  bool Ended() {
    if (ended_) return true;
    if (::waitpid(pid_, &status_, WNOHANG) != pid_) return false;
    end_ = Clock::now();
    ended_ = true;
    return true;
  }

  TempDir tmp_;    // its TMPDIR
  TempDir files_;  // its standard output and error
  std::string out_, err_;
  pid_t pid_ = -1;
  int status_ = 0;
  bool ended_ = false;
  Clock::time_point signaled_, end_;
};

// SIGTERM or SIGINT at any stage of the program, sent to the process:
// it exits with 128 + the signal within half a second, says why, and leaves
// no spool (nor its spool folder) behind. Each stage is found from outside:
// the input once the program has made its spool folder, the run once a
// page has been spooled (these jobs spool from their first page), the page
// reads once the process reads its spool.
TEST(LastPageOverflowProcess, AStopSignalEndsTheProgramPromptlyAtAnyStage) {
  enum Etapa { kEntrada, kRun, kLectura };
  // Jobs this large spool from their first page; the sanitizers run them
  // many times slower.
#ifdef KX_SANITIZED
  const std::string spooled = "20000";
#else
  const std::string spooled = "50000";
#endif
  struct Row {
    const char* name;
    std::vector<std::string> args;
    Etapa stage;
    int signal;
  } rows[] = {
      {"building and sending the records", {"2000000"}, kEntrada, SIGTERM},
      {"sending records with variable changes", {"1000000", "", "changes"}, kEntrada, SIGINT},
      {"running", {spooled}, kRun, SIGINT},
      {"running", {spooled, "progress"}, kRun, SIGTERM},
      {"reading the pages back", {spooled}, kLectura, SIGTERM},
  };
  for (const Row& r : rows) {
    const std::string name = std::string(r.name) + " " + std::to_string(r.signal);
    Program program(r.args);
    ASSERT_TRUE(program.Started()) << name;
    std::string folder;
    ASSERT_TRUE(program.Until([&] { return !(folder = program.SpoolFolder()).empty(); }, 30))
        << name << ": the program made no spool folder; " << program.Err();
    bool found = false;
    if (r.stage == kEntrada) {
      // The input of these counts lasts seconds, the setting up milliseconds.
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      found = true;
    } else {
      found = program.Until([&] { return !SpoolFiles(folder).empty(); }, 60);
      if (found && r.stage == kLectura) {
        const long before = program.ReadCalls();
        if (before < 0) GTEST_SKIP() << "the system does not tell a process's read calls";
        found = program.Until([&] { return program.ReadCalls() >= before + 100; }, 60);
      }
    }
    ASSERT_TRUE(found) << name << ": the program ended before the stage; " << program.Err();
    program.Signal(r.signal);
    ASSERT_TRUE(program.Wait(30)) << name;
    EXPECT_EQ(program.Code(), 128 + r.signal) << name << ": " << program.Err();
    EXPECT_LE(program.StopSeconds(), 0.5) << name;
    EXPECT_EQ(program.Err(), StopReason(r.signal)) << name;
    // The measurements, when the program made them before it ended.
    const std::string out = program.Out();
    if (!out.empty()) {
      EXPECT_EQ(Lines(out), 31u) << name;
      EXPECT_NE(out.find("\nsuccess=no"), std::string::npos) << name;
    }
    EXPECT_EQ(SpoolFiles(program.TmpDir()), std::vector<std::string>{}) << name;
  }
}

// A record count that memory cannot hold is refused at once, before the
// program reads its sample or starts an engine; memory that runs out all
// the same, under a limit the program does not reckon with, ends it with
// exit code 1, the reason on standard error (the engine's, or where the
// program's own work ran out) and its spool erased.
TEST(LastPageOverflowProcess, ACountMemoryCannotHoldIsRefusedAndMemoryRunningOutFailsTheRun) {
  struct Row {
    const char* name;
    const char* records;
    int resource;  // -1: no limit
    rlim_t bytes;
    std::vector<std::string> reasons;  // the error line holds one of them
    size_t lines;
  } rows[] = {
      {"twenty digits",
       "99999999999999999999",
       -1,
       0,
       {"too many records for memory: at most "},
       0},
      {"over the address-space limit",
       "2000000",
       RLIMIT_AS,
       rlim_t{512} << 20,
       {"too many records for memory: at most 1006632 fit in the 0.50 GiB this process may use, "
        "at about 400 bytes each\n"},
       0},
      {"out of memory on the way",
       "3000000",
       RLIMIT_DATA,
       rlim_t{256} << 20,
       {"No hay memoria suficiente", "out of memory while "},
       31},
  };
  for (const Row& r : rows) {
#ifdef KX_SANITIZED
    if (r.resource >= 0) continue;
#endif
    Program program({r.records}, r.resource, r.bytes);
    ASSERT_TRUE(program.Started()) << r.name;
    ASSERT_TRUE(program.Wait(60)) << r.name;
    EXPECT_EQ(program.Code(), 1) << r.name << ": " << program.Err();
    const std::string err = program.Err();
    EXPECT_EQ(err.rfind("test_engine_lastpage_overflow: ", 0), 0u) << r.name << ": " << err;
    EXPECT_TRUE(std::any_of(r.reasons.begin(), r.reasons.end(),
                            [&](const std::string& reason) { return Contains(err, reason); }))
        << r.name << ": " << err;
    EXPECT_EQ(Lines(err), 1u) << r.name << ": " << err;
    EXPECT_EQ(Lines(program.Out()), r.lines) << r.name;
    EXPECT_EQ(SpoolFiles(program.TmpDir()), std::vector<std::string>{}) << r.name;
  }
}

#endif  // KX_CONSOLE_PROGRAM

}  // namespace
}  // namespace kx
