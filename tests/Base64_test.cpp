#include "Base64.h"

#include <gtest/gtest.h>

#include <string>

namespace kx {
namespace {

TEST(Base64, EncodesWithPadding) {
  struct Row {
    std::string bytes;
    const char* text;
  };
  const Row rows[] = {
      {"", ""},
      {"A", "QQ=="},
      {"AB", "QUI="},
      {"ABC", "QUJD"},
      {"ABCD", "QUJDRA=="},
      {std::string("\x00\xFF\xFE\x80", 4), "AP/+gA=="},
      {std::string("\xFB\xEF\xBE", 3), "++++"},
  };
  for (const Row& r : rows) EXPECT_EQ(Base64Encode(r.bytes), r.text) << r.text;
}

TEST(Base64, StrictDecoding) {
  struct Row {
    const char* text;
    bool ok;
    std::string bytes;
  };
  const Row rows[] = {
      {"QUJD", true, "ABC"}, {"QUJ", true, "AB"},  // padding may be left out
      {"QQ", true, "A"},     {"QQ==", true, "A"},
      {"QQ=", true, "A"},    {"AP/+gA==", true, std::string("\x00\xFF\xFE\x80", 4)},
      {"", false, ""},       {"Q", false, ""},     // a length leaving 1
      {"QUJDR", false, ""},                        // likewise
      {"Q===", false, ""},                         // "=" before the last two positions
      {"Q=JD", false, ""},                         // likewise
      {"QU=D", false, ""},                         // a character after "="
      {"Q==", false, ""},                          // one character carries no byte
      {"==", false, ""},     {"=", false, ""},     // padding alone carries none
      {"QUJD\n", false, ""},                       // a line break
      {"QU JD", false, ""},  {"QUJ-", false, ""},  // the URL-safe alphabet is another code
  };
  for (const Row& r : rows) {
    std::string out = "previous";
    EXPECT_EQ(Base64DecodeStrict(r.text, out), r.ok) << r.text;
    EXPECT_EQ(out, r.bytes) << r.text;
  }
}

TEST(Base64, RoundTripsEveryByte) {
  std::string bytes;
  for (int i = 0; i < 256; ++i) bytes.push_back(static_cast<char>(i));
  for (size_t n : {1, 2, 3, 100, 255, 256}) {
    std::string out;
    const std::string part = bytes.substr(0, n);
    ASSERT_TRUE(Base64DecodeStrict(Base64Encode(part), out)) << n;
    EXPECT_EQ(out, part) << n;
  }
}

}  // namespace
}  // namespace kx
