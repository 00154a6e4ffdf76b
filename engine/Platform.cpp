#include "Platform.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#if defined(__x86_64__)
#include <x86intrin.h>
#endif
#if defined(__linux__) && defined(__GLIBC__)
#include <malloc.h>
#include <sys/mman.h>
#endif

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <iterator>

namespace kx::platform {

namespace {

// A NUL would end the name early and so name another file.
bool HasNul(std::string_view path) {
  return path.find('\0') != std::string_view::npos;
}

// The path as the system takes it; false for "" and for a name holding NUL:
// no operation ever acts on a file other than the one named.
bool SystemPath(std::string_view path, std::string& out) {
  if (path.empty() || HasNul(path)) return false;
  out.assign(path);
  return true;
}

bool IsRegularFile(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::tm LocalNow(int* msOut) {
  auto now = std::chrono::system_clock::now();
  std::time_t t = std::chrono::system_clock::to_time_t(now);
  std::tm tm{};
  localtime_r(&t, &tm);
  if (msOut) {
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
    *msOut = static_cast<int>(ms % 1000);
  }
  return tm;
}

}  // namespace

char PathSeparator() {
  return '/';
}

bool FileExists(std::string_view path) {
  std::string p;
  return SystemPath(path, p) && IsRegularFile(p) && ::access(p.c_str(), R_OK) == 0;
}

namespace {

FileStamp StampOf(const struct stat& st) {
  auto ns = [](const timespec& t) {
    return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
  };
  return {static_cast<uint64_t>(st.st_size), ns(st.st_mtim), ns(st.st_ctim)};
}

// One open, then the checks on the open file: nothing can swap the name for
// another file between the test and the read. O_NONBLOCK keeps a FIFO from
// holding the open until a writer comes.
FileRead ReadOpened(const std::string& path, size_t maxBytes, std::string& out, FileStamp* stamp) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return FileRead::kNotFound;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return FileRead::kNotFound;
  }
  if (stamp) *stamp = StampOf(st);
  if (static_cast<uint64_t>(st.st_size) > maxBytes) {
    ::close(fd);
    return FileRead::kUnreadable;
  }
  out.reserve(static_cast<size_t>(st.st_size));
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    // A failed read, or a file that grew past the cap while it was read.
    if (n < 0 || out.size() + static_cast<size_t>(n) > maxBytes) {
      ::close(fd);
      out.clear();
      return FileRead::kUnreadable;
    }
    if (n == 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  return FileRead::kRead;
}

// A name that is data rather than a file name: empty, or holding NUL, CR or LF.
bool NoFileName(std::string_view path) {
  return path.empty() || HasNul(path) || path.find_first_of("\r\n") != std::string_view::npos;
}

}  // namespace

bool ReadFile(std::string_view path, std::string& out) {
  out.clear();
  std::string p;
  return SystemPath(path, p) && ReadOpened(p, SIZE_MAX, out, nullptr) == FileRead::kRead;
}

FileRead ReadRegularFile(std::string_view path, size_t maxBytes, std::string& out,
                         FileStamp* stamp) {
  out.clear();
  if (NoFileName(path)) return FileRead::kNotFound;
  return ReadOpened(std::string(path), maxBytes, out, stamp);
}

bool StatRegularFile(std::string_view path, uint64_t maxBytes, FileStamp& stamp) {
  if (NoFileName(path)) return false;
  struct stat st;
  if (::stat(std::string(path).c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0 ||
      static_cast<uint64_t>(st.st_size) > maxBytes)
    return false;
  stamp = StampOf(st);
  return true;
}

bool ReadTextFile(std::string_view path, std::string& out) {
  if (!ReadFile(path, out)) return false;
  out.erase(0, out.size() - WithoutByteOrderMark(out).size());
  return true;
}

std::string CreateTempFile(std::string_view prefix) {
  if (HasNul(prefix)) return "";
  std::error_code ec;
  std::filesystem::path dir = std::filesystem::temp_directory_path(ec);
  if (ec) dir = "/tmp";
  std::string pattern = (dir / (std::string(prefix) + "XXXXXX")).string();
  int fd = ::mkstemp(pattern.data());  // O_EXCL: never reuses an existing file
  if (fd < 0) return "";
  ::close(fd);
  return pattern;
}

bool WriteFile(std::string_view path, std::string_view bytes) {
  std::string p;
  if (!SystemPath(path, p)) return false;
  int fd = ::open(p.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      ::close(fd);
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return ::close(fd) == 0;
}

bool EraseFile(std::string_view path) {
  std::string p;
  return SystemPath(path, p) && ::unlink(p.c_str()) == 0;
}

TempFile::~TempFile() {
  Close();
}

bool TempFile::Create(std::string_view prefix) {
  Close();
  std::error_code ec;
  std::filesystem::path dir = std::filesystem::temp_directory_path(ec);
  if (ec) dir = "/tmp";
  std::string pattern = (dir / (std::string(prefix) + "XXXXXX")).string();
  int fd = ::mkostemp(pattern.data(), O_CLOEXEC);  // O_EXCL: never an existing file
  if (fd < 0) return false;
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    ::close(fd);
    ::unlink(pattern.c_str());
    return false;
  }
  fd_ = fd;
  path_ = std::move(pattern);
  device_ = static_cast<uint64_t>(st.st_dev);
  inode_ = static_cast<uint64_t>(st.st_ino);
  return true;
}

bool TempFile::WriteAt(uint64_t offset, std::string_view bytes) {
  if (fd_ < 0) return false;
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n =
        ::pwrite(fd_, bytes.data() + done, bytes.size() - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

bool TempFile::ReadAt(uint64_t offset, size_t n, std::string& out) {
  out.resize(n);
  if (fd_ < 0) return false;
  size_t done = 0;
  while (done < n) {
    ssize_t got = ::pread(fd_, out.data() + done, n - done, static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;  // an error, or the file ends early
    done += static_cast<size_t>(got);
  }
  return true;
}

bool TempFile::Truncate(uint64_t size) {
  return fd_ >= 0 && ::ftruncate(fd_, static_cast<off_t>(size)) == 0;
}

bool TempFile::StillNamed() const {
  struct stat st;
  return fd_ >= 0 && ::lstat(path_.c_str(), &st) == 0 &&
         static_cast<uint64_t>(st.st_dev) == device_ && static_cast<uint64_t>(st.st_ino) == inode_;
}

void TempFile::Erase() {
  // Another file put under the vanished name is not ours to remove.
  if (StillNamed()) ::unlink(path_.c_str());
  Close();
}

void TempFile::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  path_.clear();
  device_ = inode_ = 0;
}

namespace {

uint64_t SteadyNs() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

// The first tick read and the steady time beside it, for the calibration.
struct TickOrigin {
  uint64_t ticks = 0;
  uint64_t ns = 0;
  // Fixed once a long enough span was seen; engines on other threads may
  // fix it at the same time, with rates as good as each other.
  std::atomic<double> msPerTick{0};
};

// Taken when the program loads, so the first spans converted are already long.
TickOrigin gOrigin{TickCount(), SteadyNs()};

}  // namespace

uint64_t TickCount() {
#if defined(__x86_64__)
  return __rdtsc();
#else
  return SteadyNs();
#endif
}

double TicksToMs(uint64_t ticks) {
#if defined(__x86_64__)
  TickOrigin& o = gOrigin;
  const double fixed = o.msPerTick.load(std::memory_order_relaxed);
  if (fixed > 0) return static_cast<double>(ticks) * fixed;
  // The counter's rate, from the span since the program loaded; fixed once
  // that span is long enough for the steady clock's reading error to vanish.
  const uint64_t ns = SteadyNs() - o.ns;
  const uint64_t elapsed = TickCount() - o.ticks;
  if (elapsed == 0 || ns == 0) return 0;
  const double rate = static_cast<double>(ns) / 1e6 / static_cast<double>(elapsed);
  if (ns >= 50000000) o.msPerTick.store(rate, std::memory_order_relaxed);
  return static_cast<double>(ticks) * rate;
#else
  return static_cast<double>(ticks) / 1e6;
#endif
}

double MillisecondClock() {
  auto now = std::chrono::steady_clock::now().time_since_epoch();
  return std::chrono::duration<double, std::milli>(now).count();
}

Value CurrentDate() {
  std::tm tm = LocalNow(nullptr);
  return Value::DateYMD(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
}

std::string CurrentTime() {
  std::tm tm = LocalNow(nullptr);
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", tm.tm_hour, tm.tm_min, tm.tm_sec);
  return buf;
}

Value CurrentTimestamp() {
  int ms = 0;
  std::tm tm = LocalNow(&ms);
  int32_t jdn = JdnFromYMD(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
  return Value::Timestamp(jdn, ((tm.tm_hour * 60 + tm.tm_min) * 60 + tm.tm_sec) * 1000 + ms);
}

void ConsoleWrite(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

void ConsoleWriteError(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

namespace {

// Written by the handler, read by the program, from any of its threads: a
// lock-free atomic, which a signal handler may store to.
std::atomic<int> gStopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free);

void NoteStopSignal(int signal) {
  gStopSignal = signal;
}

}  // namespace

void PrepareLargeHeap(size_t bytes) {
#if defined(__linux__) && defined(__GLIBC__)
  if (bytes == 0) return;
  // Every growth of the heap from now on takes `bytes` more than asked.
  if (mallopt(M_TOP_PAD, static_cast<int>(std::min<size_t>(bytes, INT32_MAX))) == 0) return;
  // Blocks below the allocator's mapping threshold come from the heap: a
  // few make it grow once (a handful at most, whatever room it had left).
  constexpr size_t kBlock = 64 << 10;
  void* const before = sbrk(0);
  // Volatile: the compiler may not drop blocks it sees freed unused.
  void* volatile blocks[64];
  size_t n = 0;
  while (n < std::size(blocks) && sbrk(0) == before) {
    blocks[n] = std::malloc(kBlock);
    if (!blocks[n]) break;
    ++n;
  }
  for (size_t i = 0; i < n; ++i) std::free(blocks[i]);
  // The part of the heap grown ahead, from its first large-page boundary:
  // large pages are a hint, so a failure here changes nothing.
  constexpr uintptr_t kLargePage = uintptr_t{2} << 20;
  const uintptr_t end = reinterpret_cast<uintptr_t>(sbrk(0));
  if (end == reinterpret_cast<uintptr_t>(before) || end < bytes) return;
  const uintptr_t start = (end - bytes + kLargePage - 1) & ~(kLargePage - 1);
  if (start < end) madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
#else
  (void)bytes;
#endif
}

void InstallStopSignalHandlers() {
  gStopSignal = 0;
  struct sigaction action {};
  action.sa_handler = NoteStopSignal;
  sigemptyset(&action.sa_mask);
  // SA_RESETHAND: a second signal is not lost on a program that is slow to
  // wind down; it ends the process as if no handler were there.
  action.sa_flags = SA_RESETHAND;
  for (int signal : {SIGTERM, SIGINT}) ::sigaction(signal, &action, nullptr);
}

int StopSignal() {
  return gStopSignal;
}

uint64_t MemoryLimit() {
  uint64_t limit = UINT64_MAX;
  struct rlimit space {};
  if (::getrlimit(RLIMIT_AS, &space) == 0 && space.rlim_cur != RLIM_INFINITY)
    limit = static_cast<uint64_t>(space.rlim_cur);
  const long pages = ::sysconf(_SC_PHYS_PAGES);
  const long pageSize = ::sysconf(_SC_PAGESIZE);
  if (pages > 0 && pageSize > 0)
    limit = std::min(limit, static_cast<uint64_t>(pages) * static_cast<uint64_t>(pageSize));
  return limit;
}

}  // namespace kx::platform
