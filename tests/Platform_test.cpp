#include "Platform.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

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

}  // namespace
}  // namespace kx
