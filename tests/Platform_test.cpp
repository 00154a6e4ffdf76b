#include "Platform.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <string>
#include <tuple>

#include "TestFolder.h"

namespace kx {
namespace {

TEST(Platform, WholeFileReadsTakeOnlyTheRegularFileNamed) {
  TempDir dir;
  std::string file = dir.Write("a.txt", "content");
  std::string out = "stale";
  EXPECT_TRUE(platform::ReadFile(file, out));
  EXPECT_EQ(out, "content");
  // A NUL would end the name at "a.txt" and read that file instead.
  EXPECT_FALSE(platform::ReadFile(file + std::string("\0.png", 5), out));
  EXPECT_EQ(out, "");
  // A folder and a FIFO are not read, and the FIFO does not hold the open.
  std::string fifo = dir.path() + "/pipe";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_FALSE(platform::ReadFile(fifo, out));
  EXPECT_FALSE(platform::ReadFile(dir.path(), out));
  EXPECT_EQ(platform::ReadRegularFile(fifo, 100, out), platform::FileRead::kNotFound);

  struct Row {
    std::string path;
    size_t cap;
    platform::FileRead result;
    const char* content;
  } rows[] = {
      {file, 7, platform::FileRead::kRead, "content"},
      {file, 6, platform::FileRead::kUnreadable, ""},
      {file + "\n", 100, platform::FileRead::kNotFound, ""},
      {dir.path() + "/missing", 100, platform::FileRead::kNotFound, ""},
      {"", 100, platform::FileRead::kNotFound, ""},
  };
  for (const Row& r : rows) {
    out = "stale";
    EXPECT_EQ(platform::ReadRegularFile(r.path, r.cap, out), r.result) << r.path << " " << r.cap;
    EXPECT_EQ(out, r.content) << r.path;
  }
}

TEST(Platform, NamesHoldingNulNameNoFile) {
  // The system would take the name up to the NUL: "a.lbl", a file that exists.
  TempDir dir;
  const std::string file = dir.Write("a.lbl", "{}");
  const std::string named = file + std::string("\0.bak", 5);
  std::string out;
  EXPECT_FALSE(platform::FileExists(named));
  EXPECT_FALSE(platform::ReadFile(named, out));
  EXPECT_FALSE(platform::ReadTextFile(named, out));
  EXPECT_FALSE(platform::WriteFile(named, "x"));
  EXPECT_FALSE(platform::EraseFile(named));
  EXPECT_EQ(platform::CreateTempFile(std::string("kxt_\0", 5)), "");
  // The file before the NUL is untouched.
  ASSERT_TRUE(platform::ReadFile(file, out));
  EXPECT_EQ(out, "{}");
  EXPECT_TRUE(platform::FileExists(file));
}

TEST(Platform, StatsAndStampsOfRegularFiles) {
  TempDir dir;
  const std::string ten = dir.Write("ten.bin", "0123456789");
  dir.Write("empty.bin", "");
  platform::FileStamp stat;
  ASSERT_TRUE(platform::StatRegularFile(ten, 10, stat));
  EXPECT_EQ(stat.nSize, 10u);
  // What a stat tells is what the read of the open file tells.
  platform::FileStamp read;
  std::string out;
  ASSERT_EQ(platform::ReadRegularFile(ten, 10, out, &read), platform::FileRead::kRead);
  EXPECT_EQ(std::tie(read.nSize, read.nModifiedNs, read.nChangedNs),
            std::tie(stat.nSize, stat.nModifiedNs, stat.nChangedNs));

  for (const std::string& none : {ten + "\n", ten + std::string("\0", 1), dir.path() + "/empty.bin",
                                  dir.path(), dir.path() + "/missing"})
    EXPECT_FALSE(platform::StatRegularFile(none, 100, stat)) << none;
  EXPECT_FALSE(platform::StatRegularFile(ten, 9, stat));  // one byte over the cap
}

// Signal handlers change the whole process: each case runs in a child.
TEST(PlatformDeathTest, AStopSignalIsNotedOnceThenEndsTheProcess) {
  auto noted = [] {
    platform::InstallStopSignalHandlers();
    const int none = platform::StopSignal();
    std::raise(SIGINT);
    const int first = platform::StopSignal();
    platform::InstallStopSignalHandlers();  // starts afresh
    std::exit(none == 0 && first == SIGINT && platform::StopSignal() == 0 ? 0 : 1);
  };
  EXPECT_EXIT(noted(), ::testing::ExitedWithCode(0), "");
  // A second signal finds the default action again: a run slow to wind
  // down can still be ended.
  auto twice = [] {
    platform::InstallStopSignalHandlers();
    std::raise(SIGTERM);
    std::raise(SIGTERM);
    std::exit(0);
  };
  EXPECT_EXIT(twice(), ::testing::KilledBySignal(SIGTERM), "");
}

// The address-space limit is the process's: each case runs in a child,
// which only looks and exits.
TEST(PlatformDeathTest, MemoryLimitIsTheSmallerOfTheAddressSpaceLimitAndTheMachine) {
  const uint64_t machine =
      static_cast<uint64_t>(sysconf(_SC_PHYS_PAGES)) * static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
  struct rlimit space {};
  ASSERT_EQ(getrlimit(RLIMIT_AS, &space), 0);
  if (space.rlim_cur == RLIM_INFINITY) {
    EXPECT_EQ(platform::MemoryLimit(), machine);
  }
  for (uint64_t limit : {uint64_t{1} << 30, machine + (uint64_t{1} << 30)}) {
    auto limited = [&] {
      const struct rlimit lower = {static_cast<rlim_t>(limit), space.rlim_max};
      const bool set = setrlimit(RLIMIT_AS, &lower) == 0;
      _exit(set && platform::MemoryLimit() == std::min(limit, machine) ? 0 : 1);
    };
    if (space.rlim_max == RLIM_INFINITY || limit <= space.rlim_max) {
      EXPECT_EXIT(limited(), ::testing::ExitedWithCode(0), "") << limit;
    }
  }
}

// A temporary file made in a folder of the test's own.
class PlatformTempFile : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(file_.Create("kxt_ir_"));
    path_ = file_.Path();
  }
  TempDir dir_;
  TmpDirAs tmp_{dir_.path()};
  platform::TempFile file_;
  std::string path_;
};

TEST_F(PlatformTempFile, IsReadAndWrittenAtOffsets) {
  platform::TempFile& file = file_;
  const std::string& path = path_;
  EXPECT_EQ(path.rfind(dir_.path() + "/kxt_ir_", 0), 0u) << path;
  ASSERT_TRUE(file.WriteAt(0, "abcdef"));
  ASSERT_TRUE(file.WriteAt(6, "ghij"));
  std::string out;
  ASSERT_TRUE(file.ReadAt(4, 4, out));
  EXPECT_EQ(out, "efgh");
  EXPECT_FALSE(file.ReadAt(8, 3, out));  // past the end: a short read fails
  ASSERT_TRUE(file.Truncate(3));
  EXPECT_FALSE(file.ReadAt(0, 4, out));
  ASSERT_TRUE(file.ReadAt(0, 3, out));
  EXPECT_EQ(out, "abc");

  // A second file never takes the name of a live one.
  platform::TempFile other;
  ASSERT_TRUE(other.Create("kxt_ir_"));
  EXPECT_NE(other.Path(), path);

  EXPECT_TRUE(file.StillNamed());
  file.Erase();
  EXPECT_FALSE(file.IsOpen());
  EXPECT_FALSE(platform::FileExists(path));
  EXPECT_TRUE(platform::FileExists(other.Path()));
}

TEST_F(PlatformTempFile, WhoseNameWasTakenOverIsNotErased) {
  platform::TempFile& file = file_;
  const std::string& path = path_;
  ASSERT_TRUE(platform::EraseFile(path));
  EXPECT_FALSE(file.StillNamed());
  ASSERT_TRUE(platform::WriteFile(path, "ajeno"));  // someone else's file now
  EXPECT_FALSE(file.StillNamed());
  file.Erase();
  std::string out;
  ASSERT_TRUE(platform::ReadFile(path, out));
  EXPECT_EQ(out, "ajeno");

  TmpDirAs none("/proc");  // nothing can be created there, not even by root
  platform::TempFile failed;
  EXPECT_FALSE(failed.Create("kxt_ir_"));
  EXPECT_FALSE(failed.IsOpen());
  EXPECT_FALSE(failed.WriteAt(0, "x"));
}

TEST(Platform, TicksConvertToTheMillisecondsThatPassed) {
  const double start = platform::MillisecondClock();
  const uint64_t ticks = platform::TickCount();
  while (platform::MillisecondClock() - start < 30) {
  }
  const double ms = platform::TicksToMs(platform::TickCount() - ticks);
  const double steady = platform::MillisecondClock() - start;
  EXPECT_GT(ms, steady * 0.8);
  EXPECT_LT(ms, steady * 1.25);
  EXPECT_EQ(platform::TicksToMs(0), 0.0);
}

}  // namespace
}  // namespace kx
