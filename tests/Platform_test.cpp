#include "Platform.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "TestFolder.h"

namespace kx {
namespace {

TEST(RegularFile, SizeCapAndEmptyFiles) {
  TempDir dir;
  const std::string ten = dir.Write("ten.bin", "0123456789");
  const std::string empty = dir.Write("empty.bin", "");
  platform::RegularFile file;
  ASSERT_TRUE(file.Open(ten, 10));
  EXPECT_EQ(file.Stamp().nSize, 10u);
  EXPECT_GT(file.Stamp().nModifiedNs, 0);
  EXPECT_FALSE(file.Open(ten, 9));  // one byte over the cap
  EXPECT_FALSE(file.IsOpen());
  EXPECT_FALSE(file.Open(empty, 10));
  EXPECT_FALSE(file.Open(dir.path(), 10));
  EXPECT_FALSE(file.Open(ten + std::string("\0x", 2), 10));
}

TEST(RegularFile, ReadsWhatWasOpened) {
  TempDir dir;
  const std::string path = dir.Write("a.bin", "first");
  const std::string other = dir.Write("b.bin", "second, longer");
  platform::RegularFile file;
  ASSERT_TRUE(file.Open(path, 100));
  // The name now names another file; the open one is still what is read.
  ASSERT_EQ(std::rename(other.c_str(), path.c_str()), 0);
  std::string bytes;
  ASSERT_TRUE(file.ReadAll(bytes));
  EXPECT_EQ(bytes, "first");
  ASSERT_TRUE(file.ReadAll(bytes));  // again from the start
  EXPECT_EQ(bytes, "first");
}

}  // namespace
}  // namespace kx
