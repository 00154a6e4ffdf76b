#include "PageSpool.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "Platform.h"
#include "TestFolder.h"

namespace kx {
namespace {

namespace fs = std::filesystem;

class PageSpoolTest : public ::testing::Test {
 protected:
  size_t Files() const {
    size_t n = 0;
    for (const auto& e : fs::directory_iterator(dir_.path())) n += e.is_regular_file() ? 1 : 0;
    return n;
  }

  TempDir dir_;
  TmpDirAs tmp_{dir_.path()};
};

std::string Repetitive(int n, const std::string& word) {
  std::string s;
  for (int i = 0; i < n; ++i) s += word + std::to_string(i % 10) + ";";
  return s;
}

TEST_F(PageSpoolTest, SegmentsReadBackExactlyFromOneCompressedFile) {
  PageSpool spool("kxt_ir_");
  EXPECT_EQ(spool.Path(), "");
  const std::string pages[] = {Repetitive(5000, "pagina"), "", std::string("\0\xff\x01", 3),
                               Repetitive(300, "otra")};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(spool.Append(pages[i], i * 10), i);
  EXPECT_EQ(Files(), 1u);
  EXPECT_LT(spool.Bytes(), pages[0].size() / 5);  // repeated texts take little room
  std::string out;
  for (int i = 3; i >= 0; --i) {
    ASSERT_TRUE(spool.Read(i, out)) << i;
    EXPECT_EQ(out, pages[i]) << i;
    EXPECT_EQ(spool.Objects(i), i * 10);
  }
  for (int64_t bad : {-1, 4, 1000}) {
    EXPECT_FALSE(spool.HasSegment(bad));
    EXPECT_FALSE(spool.Read(bad, out));
    EXPECT_EQ(spool.Objects(bad), 0);
  }
  const std::string path = spool.Path();
  spool.Erase();
  EXPECT_FALSE(fs::exists(path));
  EXPECT_FALSE(spool.HasSegment(0));
  EXPECT_EQ(spool.Append("de nuevo", 1), 0);  // a new file after an erase
  EXPECT_NE(spool.Path(), "");
}

TEST_F(PageSpoolTest, AVanishedFileFailsReadsAndAppends) {
  PageSpool spool("kxt_ir_");
  ASSERT_EQ(spool.Append(Repetitive(100, "x"), 1), 0);
  const std::string path = spool.Path();
  ASSERT_TRUE(platform::EraseFile(path));
  std::string out;
  EXPECT_FALSE(spool.Read(0, out));
  EXPECT_EQ(spool.Append("y", 1), -1);
  EXPECT_EQ(Files(), 0u);
}

TEST_F(PageSpoolTest, ASegmentDeclaringAnotherLengthIsNotRead) {
  // Two spools write a segment of the same compressed length but another
  // page-file length; swapping their bytes must fail the read.
  PageSpool a("kxt_ir_");
  PageSpool b("kxt_ir_");
  ASSERT_EQ(a.Append(std::string(1000, 'a'), 1), 0);
  ASSERT_EQ(b.Append(std::string(2000, 'a'), 1), 0);
  std::string bytesA, bytesB;
  ASSERT_TRUE(platform::ReadFile(a.Path(), bytesA));
  ASSERT_TRUE(platform::ReadFile(b.Path(), bytesB));
  ASSERT_EQ(bytesA.size(), bytesB.size());
  ASSERT_TRUE(platform::WriteFile(a.Path(), bytesB));
  std::string out = "previo";
  EXPECT_FALSE(a.Read(0, out));
  EXPECT_TRUE(out.empty());
}

}  // namespace
}  // namespace kx
