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

std::vector<std::string> Rows(const Value& rows) {
  std::vector<std::string> out;
  for (const Value& r : rows.AsList()) out.emplace_back(r.Str());
  return out;
}

std::string AllBytes(size_t n) {
  std::string s;
  for (size_t i = 0; i < n; ++i) s.push_back(static_cast<char>((i * 37 + 11) % 256));
  return s;
}

TEST(QrEncoder, AbcGivesTheKnownSymbol) {
  const std::vector<std::string> expected = {
      "111111100101101111111", "100000100111001000001", "101110101101101011101",
      "101110100101001011101", "101110100010101011101", "100000100000101000001",
      "111111101010101111111", "000000001101100000000", "111011111111011000100",
      "111100010110001001011", "111101100100100010011", "001100001000001000000",
      "111011111000101010001", "000000001111010101011", "111111101001011101011",
      "100000101101110111001", "101110101011011100101", "101110100100001000110",
      "101110101000100010001", "100000101010001000110", "111111101010101010111"};
  EXPECT_EQ(Rows(KXTARQRMATRIX("abc")), expected);
  barcode::QrSymbol symbol;
  ASSERT_TRUE(barcode::QrEncode("abc", symbol));
  EXPECT_EQ(symbol.version, 1);
  EXPECT_EQ(symbol.mask, 0);
}

TEST(QrEncoder, VersionAndMaskChosen) {
  struct Case {
    std::string text;
    int version, mask;
  };
  const Case cases[] = {
      {"1234567890", 1, 3},
      {std::string(17, 'A'), 1, 7},
      {std::string(18, 'A'), 2, 0},
  };
  for (const Case& c : cases) {
    barcode::QrSymbol symbol;
    ASSERT_TRUE(barcode::QrEncode(c.text, symbol)) << c.text;
    EXPECT_EQ(symbol.version, c.version) << c.text;
    EXPECT_EQ(symbol.mask, c.mask) << c.text;
  }
}

TEST(QrEncoder, CapacityOfEachVersion) {
  // The largest byte count of each version, and one byte more moves up a version.
  const int largest[] = {17, 32, 53, 78, 106, 134, 154, 192, 230, 271};
  for (int v = 1; v <= 10; ++v) {
    const size_t n = static_cast<size_t>(largest[v - 1]);
    EXPECT_EQ(KXTARQRMATRIX(std::string(n, 'x')).Len(), static_cast<size_t>(17 + 4 * v)) << v;
    if (v < 10) {
      EXPECT_EQ(KXTARQRMATRIX(std::string(n + 1, 'x')).Len(), static_cast<size_t>(21 + 4 * v));
    }
  }
  EXPECT_EQ(KXTARQRMATRIX(std::string(272, 'x')).Len(), 0u);
  // Bytes, not characters: a two-byte character counts two.
  std::string enes;
  for (int i = 0; i < 135; ++i) enes += "\xC3\xB1";
  EXPECT_EQ(KXTARQRMATRIX(enes).Len(), 57u);
  EXPECT_EQ(KXTARQRMATRIX(enes + "\xC3\xB1").Len(), 0u);
  // Every row is as long as the symbol is tall.
  for (const std::string& row : Rows(KXTARQRMATRIX(std::string(271, 'x'))))
    EXPECT_EQ(row.size(), 57u);
}

TEST(QrEncoder, FormatAndVersionInformation) {
  // Level L with mask 3, both copies; read with bit 14 first.
  const int size = 21;
  std::vector<uint8_t> m(size * size, 0), f(size * size, 0);
  kxtar_qr_format(m.data(), f.data(), size, 3);
  auto at = [&](int r, int c) { return m[static_cast<size_t>(r * size + c)] ? '1' : '0'; };
  std::string first(15, '?'), second(15, '?');
  for (int k = 0; k < 15; ++k) {
    const int r1 = k <= 5 ? k : k == 6 ? 7 : 8;
    const int c1 = k <= 7 ? 8 : k == 8 ? 7 : 14 - k;
    first[static_cast<size_t>(14 - k)] = at(r1, c1);
    second[static_cast<size_t>(14 - k)] = k < 8 ? at(8, size - 1 - k) : at(size - 15 + k, 8);
  }
  EXPECT_EQ(first, "111100010011101");
  EXPECT_EQ(second, "111100010011101");
  EXPECT_EQ(at(size - 8, 8), '1');  // the dark module

  // Version 7 (140 bytes): its information block, read with bit 17 first, in both places.
  const std::vector<std::string> rows = Rows(KXTARQRMATRIX(std::string(140, 'v')));
  ASSERT_EQ(rows.size(), 45u);
  std::string corner(18, '?'), mirrored(18, '?');
  for (int k = 0; k < 18; ++k) {
    corner[static_cast<size_t>(17 - k)] = rows[static_cast<size_t>(k / 3)][45 - 11 + k % 3];
    mirrored[static_cast<size_t>(17 - k)] = rows[static_cast<size_t>(45 - 11 + k % 3)][k / 3];
  }
  EXPECT_EQ(corner, "000111110010010100");
  EXPECT_EQ(mirrored, "000111110010010100");
}

// The blocks of each version at level L as the standard gives them: (count, data codewords).
struct BlockGroup {
  int count, data;
};
struct VersionBlocks {
  int total;  // all codewords the symbol holds
  int ecPerBlock;
  std::vector<BlockGroup> groups;
};
const VersionBlocks kLevelL[] = {
    {26, 7, {{1, 19}}},    {44, 10, {{1, 34}}},
    {70, 15, {{1, 55}}},   {100, 20, {{1, 80}}},
    {134, 26, {{1, 108}}}, {172, 18, {{2, 68}}},
    {196, 20, {{2, 78}}},  {242, 24, {{2, 97}}},
    {292, 30, {{2, 116}}}, {346, 18, {{2, 68}, {2, 69}}},
};

struct Deinterleaved {
  std::vector<std::vector<uint8_t>> data, ec;
};

Deinterleaved Deinterleave(const uint8_t* cw, const VersionBlocks& vb) {
  Deinterleaved out;
  for (const BlockGroup& g : vb.groups)
    for (int i = 0; i < g.count; ++i) out.data.emplace_back(static_cast<size_t>(g.data));
  out.ec.assign(out.data.size(), std::vector<uint8_t>(static_cast<size_t>(vb.ecPerBlock)));
  size_t n = 0;
  for (size_t i = 0; i < out.data.back().size(); ++i)
    for (auto& block : out.data)
      if (i < block.size()) block[i] = cw[n++];
  for (size_t i = 0; i < static_cast<size_t>(vb.ecPerBlock); ++i)
    for (auto& block : out.ec) block[i] = cw[n++];
  return out;
}

TEST(QrEncoder, ErrorCorrectionMatchesIndependentReedSolomon) {
  const int largest[] = {17, 32, 53, 78, 106, 134, 154, 192, 230, 271};
  for (int v = 1; v <= 10; ++v) {
    for (const std::string& text : {Cycle("Hola, mundo! ", static_cast<size_t>(largest[v - 1])),
                                    AllBytes(static_cast<size_t>(largest[v - 1] - 3))}) {
      uint8_t cw[barcode::kQrMaxCodewords];
      int version = 0;
      const int count =
          barcode::QrCodewords(text, std::span<uint8_t, barcode::kQrMaxCodewords>(cw), version);
      ASSERT_EQ(version, v);
      const VersionBlocks& vb = kLevelL[v - 1];
      ASSERT_EQ(count, vb.total) << v;
      const Deinterleaved blocks = Deinterleave(cw, vb);
      for (size_t b = 0; b < blocks.data.size(); ++b)
        EXPECT_EQ(blocks.ec[b],
                  testing::ReedSolomonRemainder(blocks.data[b], vb.ecPerBlock, 0x11D, 0))
            << "version " << v << " block " << b;
    }
  }
}

// Interleaves blocks back into the order the symbol carries them.
std::vector<uint8_t> Interleave(const Deinterleaved& blocks) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i < blocks.data.back().size(); ++i)
    for (const auto& block : blocks.data)
      if (i < block.size()) out.push_back(block[i]);
  for (size_t i = 0; i < blocks.ec[0].size(); ++i)
    for (const auto& block : blocks.ec) out.push_back(block[i]);
  return out;
}

// Codewords per block that a decoder may repair at level L: half the error correction
// codewords, less those the standard keeps for misdecode protection in versions 1 to 3.
int RepairBudget(int version) {
  const int protection[] = {3, 2, 1};
  const int ec = kLevelL[version - 1].ecPerBlock;
  return (ec - (version <= 3 ? protection[version - 1] : 0)) / 2;
}

TEST(QrEncoder, ByteCountIsSixteenBitsOnlyInVersion10) {
  struct Case {
    size_t n;
    int version;
    std::vector<uint8_t> head;  // the first data codewords of the first block
  };
  // 0100, then the count in 8 or 16 bits, then the first byte 'z' (0x7A).
  const Case cases[] = {
      {200, 9, {0x4C, 0x87, 0xA7}},
      {250, 10, {0x40, 0x0F, 0xA7}},
  };
  for (const Case& c : cases) {
    uint8_t cw[barcode::kQrMaxCodewords];
    int version = 0;
    barcode::QrCodewords(std::string(c.n, 'z'), std::span<uint8_t, barcode::kQrMaxCodewords>(cw),
                         version);
    ASSERT_EQ(version, c.version);
    const Deinterleaved blocks = Deinterleave(cw, kLevelL[version - 1]);
    EXPECT_EQ(std::vector<uint8_t>(blocks.data[0].begin(), blocks.data[0].begin() + 3), c.head)
        << c.n;
  }
}

// zbar repairs errors, so every symbol is also read with the whole repair budget of every block
// spent on deliberate errors: one more wrong codeword (a wrong error correction codeword, a
// misplaced module) makes it unreadable.
TEST(QrEncoder, ZbarReadsBackEveryVersion) {
  const int largest[] = {17, 32, 53, 78, 106, 134, 154, 192, 230, 271};
  const std::string utf8 = "Ñandú, café y pingüino: ";
  const TBarcodeUtil util;
  for (int v = 1; v <= 10; ++v) {
    const size_t n = static_cast<size_t>(largest[v - 1]);
    const std::vector<std::string> texts = {
        Cycle("0123456789", n), Cycle("The quick brown fox jumps over the lazy dog. ", n),
        Cycle(utf8, n - 1),     AllBytes(n),
        std::string(n, '\0'),   "x"};
    for (const std::string& text : texts) {
      const Value d = util.Crear(Value(text), Value("QR"));
      const int version = static_cast<int>(d.Get("matriz").Len() - 17) / 4;
      ASSERT_EQ(version, text.size() == 1 ? 1 : v);
      const auto clean = testing::ZbarDecode(testing::DrawMatrix(d, 4), zbar::ZBAR_QRCODE);
      ASSERT_EQ(clean.size(), 1u) << "version " << v;
      EXPECT_EQ(clean[0].data, text) << "version " << v;

      uint8_t cw[barcode::kQrMaxCodewords];
      int chosen = 0;
      barcode::QrCodewords(text, std::span<uint8_t, barcode::kQrMaxCodewords>(cw), chosen);
      Deinterleaved blocks = Deinterleave(cw, kLevelL[version - 1]);
      const int budget = RepairBudget(version);
      for (size_t b = 0; b < blocks.data.size(); ++b) {
        const size_t dataLen = blocks.data[b].size(), total = dataLen + blocks.ec[b].size();
        for (int k = 0; k < budget; ++k) {
          const size_t at = static_cast<size_t>(k) * total / static_cast<size_t>(budget);
          (at < dataLen ? blocks.data[b][at] : blocks.ec[b][at - dataLen]) ^= 0x5A;
        }
      }
      barcode::QrSymbol damaged;
      barcode::QrBuild(Interleave(blocks), version, damaged);
      const Value drawn =
          Value::NewMap({{"matriz", barcode::MatrixRows(damaged.modules.data(), damaged.size)},
                         {"margenModulos", 4}});
      const auto repaired = testing::ZbarDecode(testing::DrawMatrix(drawn, 4), zbar::ZBAR_QRCODE);
      ASSERT_EQ(repaired.size(), 1u) << "version " << v << " " << text.size();
      EXPECT_EQ(repaired[0].data, text) << "version " << v;
    }
  }
  // The empty text gives a symbol too.
  const Value empty = Value::NewMap({{"matriz", KXTARQRMATRIX("")}, {"margenModulos", 4}});
  const auto reads = testing::ZbarDecode(testing::DrawMatrix(empty, 4), zbar::ZBAR_QRCODE);
  ASSERT_EQ(reads.size(), 1u);
  EXPECT_EQ(reads[0].data, "");
}

}  // namespace
}  // namespace kx
