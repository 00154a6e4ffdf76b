#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "BarcodeDecoders.h"
#include "BarcodeTestSupport.h"
#include "TBarcodeUtil.h"
#include "TBarcodeUtilMatrix.h"

namespace kx {
namespace {

using testing::Cycle;

struct Encoded {
  int size = 0;
  std::vector<uint8_t> codewords;
};

Encoded Codewords(const std::string& text) {
  uint8_t cw[barcode::kDmMaxCodewords];
  Encoded e;
  const int n =
      barcode::DataMatrixCodewords(text, std::span<uint8_t, barcode::kDmMaxCodewords>(cw), e.size);
  e.codewords.assign(cw, cw + n);
  return e;
}

// The sizes of the standard's square symbols: side, data and error correction codewords.
struct Size {
  int side, data, ec;
};
constexpr Size kSizes[] = {{10, 3, 5},   {12, 5, 7},    {14, 8, 10},  {16, 12, 12}, {18, 18, 14},
                           {20, 22, 18}, {22, 30, 20},  {24, 36, 24}, {26, 44, 28}, {32, 62, 36},
                           {36, 86, 42}, {40, 114, 48}, {44, 144, 56}};

std::string HighBytes(size_t n) {
  std::string s;
  for (size_t i = 0; i < n; ++i) s.push_back(static_cast<char>(128 + (i * 7) % 128));
  return s;
}

// The longest cycle of the alphabet that still fits a symbol of the given side.
std::string Fill(std::string_view alphabet, int side) {
  std::string s;
  for (;;) {
    const int next = Codewords(s + alphabet[s.size() % alphabet.size()]).size;
    if (next == 0 || next > side) return s;
    s.push_back(alphabet[s.size() % alphabet.size()]);
  }
}

TEST(DataMatrixEncoder, LetterAGivesTheKnownSymbol) {
  const Encoded e = Codewords("A");
  ASSERT_EQ(e.size, 10);
  EXPECT_EQ(std::vector<uint8_t>(e.codewords.begin(), e.codewords.begin() + 3),
            (std::vector<uint8_t>{66, 129, 70}));
  const std::vector<std::string> expected = {"1010101010", "1101100011", "1000110100", "1001101011",
                                             "1001010000", "1001001011", "1101001100", "1100111101",
                                             "1100001000", "1111111111"};
  std::vector<std::string> rows;
  const Value matrix = KXTARDATAMATRIX("A");
  for (const Value& r : matrix.AsList()) rows.emplace_back(r.Str());
  EXPECT_EQ(rows, expected);
}

TEST(DataMatrixEncoder, AsciiEncodationAndPadding) {
  struct Case {
    std::string text;
    int size;
    std::vector<uint8_t> data;  // all data codewords, pads included
  };
  const Case cases[] = {
      {"123456", 10, {142, 164, 186}},
      // Pairs are taken from the left: 12 then a lone 3.
      {"123", 10, {142, 52, 129}},
      {"Hello, World!",
       18,
       {73, 102, 109, 109, 112, 45, 33, 88, 112, 115, 109, 101, 34, 129, 87, 237, 133, 28}},
      // A two-byte UTF-8 character: Upper Shift and the byte less 127, twice.
      {"\xC3\xB1", 12, {235, 68, 235, 50, 129}},
      {"", 10, {129, 175, 70}},
  };
  for (const Case& c : cases) {
    const Encoded e = Codewords(c.text);
    ASSERT_EQ(e.size, c.size) << c.text;
    EXPECT_EQ(std::vector<uint8_t>(e.codewords.begin(), e.codewords.begin() + c.data.size()),
              c.data)
        << c.text;
  }
}

TEST(DataMatrixEncoder, CapacityOfEachSize) {
  for (const Size& s : kSizes) {
    EXPECT_EQ(KXTARDATAMATRIX(std::string(static_cast<size_t>(s.data), 'x')).Len(),
              static_cast<size_t>(s.side))
        << s.side;
  }
  EXPECT_EQ(Codewords(std::string(19, 'x')).size, 20);  // one past 18 x 18
  EXPECT_EQ(KXTARDATAMATRIX(std::string(288, '7')).Len(), 44u);
  for (const std::string& tooLong :
       {std::string(145, 'x'), std::string(289, '7'), std::string(143, 'x') + "\x80"})
    EXPECT_EQ(KXTARDATAMATRIX(tooLong).Len(), 0u) << tooLong.size();
}

// A wrongly periodic antilogarithm table (256 instead of 255) fails here at every size.
TEST(DataMatrixEncoder, ErrorCorrectionMatchesIndependentReedSolomon) {
  for (const Size& s : kSizes) {
    // Letters take one codeword each and bytes above 127 two: both texts fill the size exactly.
    for (const std::string& text : {Cycle("Data Matrix, ", static_cast<size_t>(s.data)),
                                    HighBytes(static_cast<size_t>(s.data / 2))}) {
      const Encoded e = Codewords(text);
      ASSERT_EQ(e.size, s.side) << text;
      ASSERT_EQ(e.codewords.size(), static_cast<size_t>(s.data + s.ec));
      const std::vector<uint8_t> data(e.codewords.begin(), e.codewords.begin() + s.data);
      const std::vector<uint8_t> ec(e.codewords.begin() + s.data, e.codewords.end());
      EXPECT_EQ(ec, testing::ReedSolomonRemainder(data, s.ec, 0x12D, 1)) << s.side;
    }
  }
}

// The rows of a symbol drawn as a descriptor with the quiet zone of 1 module.
Value Drawn(const barcode::DmSymbol& symbol) {
  return Value::NewMap(
      {{"matriz", barcode::MatrixRows(symbol.modules.data(), symbol.size)}, {"margenModulos", 1}});
}

// libdmtx 0.7.7 repairs errors even when asked for no corrections, so every symbol is also read
// with its whole correction budget spent on deliberate errors: one more wrong codeword anywhere
// in the symbol (a wrong error correction codeword, a misplaced module) makes it unreadable.
TEST(DataMatrixEncoder, LibdmtxReadsBackEverySize) {
  const TBarcodeUtil util;
  for (const Size& s : kSizes) {
    const size_t n = static_cast<size_t>(s.data);
    // Each text fills this size; the last mixes digit pairs with letters and punctuation.
    const std::vector<std::string> texts = {
        Cycle("ABCDEFGHIJKLMNOPQRSTUVWXYZ", n), Cycle("0123456789", 2 * n), HighBytes(n / 2),
        Cycle("x", n > 1 ? n - 1 : 1), Fill("Lot 12/40, #A-77; ", s.side)};
    for (const std::string& text : texts) {
      const Value d = util.Crear(Value(text), Value("Data Matrix"));
      ASSERT_EQ(d.Get("matriz").Len(), static_cast<size_t>(s.side)) << text;
      const auto clean = testing::DmtxDecodeUncorrected(testing::DrawMatrix(d, 4));
      ASSERT_TRUE(clean.has_value()) << s.side << ": " << text;
      EXPECT_EQ(*clean, text) << s.side;

      Encoded e = Codewords(text);
      const size_t total = e.codewords.size(), budget = static_cast<size_t>(s.ec / 2);
      for (size_t k = 0; k < budget; ++k) e.codewords[k * total / budget] ^= 0xA5;
      barcode::DmSymbol damaged;
      barcode::DataMatrixBuild(e.codewords, s.side, damaged);
      const auto repaired = testing::DmtxDecodeUncorrected(testing::DrawMatrix(Drawn(damaged), 4));
      ASSERT_TRUE(repaired.has_value()) << s.side << ": " << text;
      EXPECT_EQ(*repaired, text) << s.side;
    }
  }
}

}  // namespace
}  // namespace kx
