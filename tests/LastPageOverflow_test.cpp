#include "LastPageOverflow.h"

#include <gtest/gtest.h>

#include "Json.h"

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
  int code = MAIN({"5"}, out);
  EXPECT_EQ(code, 1);
  EXPECT_EQ(out.front(), '\n');
  EXPECT_NE(out.back(), '\n');
  size_t lines = 0;
  for (char c : out) lines += c == '\n';
  EXPECT_EQ(lines, 31u);
  EXPECT_NE(out.find("\nsuccess=no"), std::string::npos);
  EXPECT_NE(out.find("\nlast=no\n"), std::string::npos);
}

}  // namespace
}  // namespace kx
