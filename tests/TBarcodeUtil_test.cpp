#include "TBarcodeUtil.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "BarcodeDecoders.h"
#include "BarcodeTestSupport.h"

namespace kx {
namespace {

using testing::Keys;

const std::vector<std::string> kLinearKeys = {
    "tipo",        "barcodeTipo", "texto", "bits", "margenIzquierdoModulos", "margenDerechoModulos",
    "mostrarTexto"};
const std::vector<std::string> kMatrixKeys = {"tipo",   "barcodeTipo",   "texto",
                                              "matriz", "margenModulos", "mostrarTexto"};
const std::vector<std::string> kErrorKeys = {"tipo", "barcodeTipo", "texto", "error"};

TEST(TBarcodeUtil, Ean13FromTextOrNumber) {
  const std::string bits =
      "1010010011011110100111010110001000010100100010101010010001110100111001011001101101100100100"
      "0101";
  const TBarcodeUtil util;
  for (const Value& content : {Value("123456789012"), Value(int64_t{123456789012})}) {
    for (const char* type : {"EAN13", "ean-13", "EAN 13", "Ean_13"}) {
      const Value d = util.Crear(content, Value(type));
      EXPECT_EQ(Keys(d), kLinearKeys) << type;
      EXPECT_EQ(d.Get("tipo").Str(), "barcode");
      EXPECT_EQ(d.Get("barcodeTipo").Str(), "EAN13");
      EXPECT_EQ(d.Get("texto").Str(), "1234567890128");
      EXPECT_EQ(d.Get("bits").Str(), bits);
      EXPECT_EQ(d.Get("margenIzquierdoModulos").Int(), 11);
      EXPECT_EQ(d.Get("margenDerechoModulos").Int(), 7);
      EXPECT_TRUE(d.Get("mostrarTexto").Bool());
    }
  }
}

TEST(TBarcodeUtil, ContentAndTypeChecks) {
  struct Case {
    Value content;
    Value type;
    const char* texto;  // the encoded text, or "" for an error
    const char* error;
  };
  const Case cases[] = {
      {Value("4006381333931"), "EAN13", "4006381333931", ""},
      {Value("4006381333932"), "EAN13", "", "Digito de control EAN-13 no valido."},
      {Value(" 23456789012"), "EAN13", "", "EAN-13 debe contener 12 o 13 digitos."},
      {Value("12345678901"), "EAN13", "", "EAN-13 debe contener 12 o 13 digitos."},
      {Value("+23456789012"), "EAN13", "", "EAN-13 debe contener 12 o 13 digitos."},
      {Value(""), "EAN13", "", "EAN-13 debe contener 12 o 13 digitos."},
      {Value("9638507"), "EAN8", "96385074", ""},
      {Value("96385074"), "EAN-8", "96385074", ""},
      {Value("96385075"), "EAN8", "", "Digito de control EAN-8 no valido."},
      {Value("963850"), "EAN8", "", "EAN-8 debe contener 7 u 8 digitos."},
      {Value(), "EAN8", "", "EAN-8 debe contener 7 u 8 digitos."},
      {Value(""), "PDF417", "", "Tipo de codigo de barras no soportado."},
      {Value("abc"), Value(), "", "Tipo de codigo de barras no soportado."},
      {Value(""), "CODE128", "", "Contenido de codigo de barras vacio."},
      {Value(""), "GS1-128", "", "Contenido de codigo de barras vacio."},
      {Value(""), "QR Code", "", "Contenido de codigo de barras vacio."},
      {Value(""), "Data Matrix", "", "Contenido de codigo de barras vacio."},
      {Value(false), "CODE128", "", "Contenido de codigo de barras vacio."},
      {Value(true), "CODE128", "1", ""},
      {Value("a\x1D"
             "b"),
       "CODE128", "", "CODE128 admite caracteres ASCII imprimibles."},
      {Value("a\xC3\xB1"), "CODE128", "", "CODE128 admite caracteres ASCII imprimibles."},
      {Value("a\tb"), "EAN128", "", "EAN128 admite ASCII imprimible y separadores GS."},
      {Value(std::string(272, 'q')), "QR", "", "QR admite hasta 271 bytes en esta version."},
      {Value(std::string(145, 'd')), "DATAMATRIX", "", "Contenido Data Matrix demasiado largo."},
  };
  const TBarcodeUtil util;
  for (const Case& c : cases) {
    const Value d = util.Crear(c.content, c.type);
    const std::string label = ValueString(c.type) + " " + ValueString(c.content);
    if (*c.error) {
      EXPECT_EQ(Keys(d), kErrorKeys) << label;
      EXPECT_EQ(d.Get("error").Str(), c.error) << label;
      EXPECT_EQ(d.Get("barcodeTipo").Str(), "") << label;
      EXPECT_EQ(d.Get("texto").Str(), "") << label;
    } else {
      EXPECT_FALSE(d.Has("error")) << label << ": " << ValueString(d.Get("error"));
      EXPECT_EQ(d.Get("texto").Str(), c.texto) << label;
    }
  }
  EXPECT_EQ(util.Crear(Value("9638507"), Value("EAN8")).Get("bits").Len(), 67u);
}

TEST(TBarcodeUtil, TypeNames) {
  const std::pair<Value, const char*> cases[] = {
      {Value("ean-13"), "EAN13"},
      {Value(" EAN 8 "), "EAN8"},
      {Value("Code-128"), "CODE128"},
      {Value("GS1-128"), "EAN128"},
      {Value("ean_128"), "EAN128"},
      {Value("Data Matrix"), "DATAMATRIX"},
      {Value("qr"), "QR"},
      {Value("QR-Code"), "QR"},
      {Value("QR\xC3\xA9"), "QR"},
      {Value("EAN-14"), ""},
      {Value(int64_t{128}), ""},
      {Value(), ""},
      {Value::NewMap(), ""},
  };
  const TBarcodeUtil util;
  for (const auto& [type, expected] : cases)
    EXPECT_EQ(util.NormalizarTipo(type), expected) << ValueString(type);
}

TEST(TBarcodeUtil, Code128SymbolValues) {
  struct Case {
    const char* text;
    bool gs1;
    std::vector<int> values;
  };
  const Case cases[] = {
      {"1234", false, {105, 12, 34, 82, 106}},
      {"12345", false, {105, 12, 34, 100, 21, 54, 106}},
      {"A12345", false, {104, 33, 17, 99, 23, 45, 64, 106}},
      {"AB123", false, {104, 33, 34, 17, 18, 19, 11, 106}},
      {"0101234567890128", true, {105, 102, 1, 1, 23, 45, 67, 89, 1, 28, 63, 106}},
      // A group separator is FNC1 in either code set.
      {"10AB\x1D"
       "3712",
       true,
       {104, 102, 17, 16, 33, 34, 102, 99, 37, 12, 33, 106}},
      {"(01)12", true, {104, 102, 8, 16, 17, 9, 17, 18, 96, 106}},
  };
  for (const Case& c : cases) EXPECT_EQ(barcode::Code128Values(c.text, c.gs1), c.values) << c.text;

  const Value d = TBarcodeUtil().Crear(Value("1234"), Value("CODE128"));
  EXPECT_EQ(Keys(d), kLinearKeys);
  EXPECT_EQ(d.Get("bits").Str(), "110100111001011001110010001011000100100111101100011101011");
  EXPECT_EQ(d.Get("margenIzquierdoModulos").Int(), 10);
  EXPECT_EQ(d.Get("margenDerechoModulos").Int(), 10);
  const Value gs1 = TBarcodeUtil().Crear(Value("01\x1D"
                                               "10"),
                                         Value("GS1-128"));
  EXPECT_EQ(gs1.Get("barcodeTipo").Str(), "EAN128");
  EXPECT_EQ(gs1.Get("texto").Str(),
            "01\x1D"
            "10");                                 // the separator stays in the text
  EXPECT_EQ(gs1.Get("bits").Len(), 11u * 8 + 13);  // start, FNC1, 4 data, FNC1, check
}

// The code-set rule read literally, the whole digit run measured at every
// step as the rule words it (and as the encoder did before it took linear
// time): the reference the encoder's values must equal.
std::vector<int> ReferenceCode128Values(std::string_view text, bool gs1) {
  const auto run = [&](size_t pos) {
    int n = 0;
    while (pos + n <= text.size() && text[pos + n - 1] >= '0' && text[pos + n - 1] <= '9') ++n;
    return n;
  };
  std::vector<int> values;
  bool setC = run(1) >= 4;
  values.push_back(setC ? 105 : 104);
  if (gs1) values.push_back(102);
  for (size_t pos = 1; pos <= text.size();) {
    const unsigned char b = static_cast<unsigned char>(text[pos - 1]);
    if (b == 29 && gs1) {
      values.push_back(102);
      ++pos;
    } else if (b < 32 || b > 126) {
      return {};
    } else if (setC && run(pos) >= 2) {
      values.push_back((text[pos - 1] - '0') * 10 + (text[pos] - '0'));
      pos += 2;
    } else if (setC) {
      values.push_back(100);
      setC = false;
    } else if (run(pos) >= 4) {
      if (run(pos) % 2 == 1) values.push_back(text[pos++ - 1] - 32);
      values.push_back(99);
      setC = true;
    } else {
      values.push_back(b - 32);
      ++pos;
    }
  }
  long sum = values[0];
  for (size_t i = 1; i < values.size(); ++i) sum += static_cast<long>(values[i]) * i;
  values.push_back(static_cast<int>(sum % 103));
  values.push_back(106);
  return values;
}

// Every content the code-set choice can tell apart up to nine bytes (a
// digit, a letter, a group separator), then generated contents of digit runs
// of every length up to long ones, text, separators and bytes no code set
// holds: the same symbol values as the rule, with and without GS1.
TEST(TBarcodeUtil, Code128ValuesEqualTheRuleOverManyContents) {
  std::vector<std::string> contents;
  const char kinds[] = {'7', 'K', '\x1D'};
  for (size_t length = 1; length <= 9; ++length) {
    size_t combinations = 1;
    for (size_t k = 0; k < length; ++k) combinations *= 3;
    for (size_t c = 0; c < combinations; ++c) {
      std::string text;
      for (size_t k = 0, rest = c; k < length; ++k, rest /= 3) text.push_back(kinds[rest % 3]);
      contents.push_back(text);
    }
  }
  uint64_t state = 26;
  const auto next = [&](uint64_t bound) {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return (state >> 33) % bound;
  };
  const std::string_view pieces[] = {"A", "lote-", " ", "(01)", "\x1D", "~", "\n", "\xC3\xB1"};
  for (int i = 0; i < 3000; ++i) {
    std::string text;
    const uint64_t parts = 1 + next(8);
    for (uint64_t p = 0; p < parts; ++p) {
      // Mostly digit runs, of short lengths around the thresholds and some long ones.
      if (next(3) != 0) {
        const uint64_t length = next(4) == 0 ? 1 + next(400) : next(10);
        for (uint64_t k = 0; k < length; ++k) text.push_back(static_cast<char>('0' + next(10)));
      } else {
        // Bytes no code set holds only now and then, so most contents encode.
        text += pieces[next(10) == 0 ? 6 + next(2) : next(6)];
      }
    }
    contents.push_back(text);
  }
  size_t encoded = 0;
  for (const std::string& text : contents) {
    for (bool gs1 : {false, true}) {
      const std::vector<int> values = barcode::Code128Values(text, gs1);
      ASSERT_EQ(values, ReferenceCode128Values(text, gs1)) << gs1 << " " << text;
      encoded += !values.empty();
    }
  }
  // Most contents encode, so the comparison covers the code-set choice and not only refusals.
  EXPECT_GT(encoded, contents.size());
}

TEST(TBarcodeUtil, NumbersAsContent) {
  struct Case {
    Value number;
    const char* texto;
  };
  const Case cases[] = {
      {Value::Real(12.0, 2), "12"},
      {Value::Real(12.5, 2), "12.50"},
      {Value(int64_t{-42}), "-42"},
      {Value(INT64_MIN), "-9223372036854775808"},
      {Value::Real(1e19, 0), "10000000000000000000"},
      // Too long for 20 characters: asterisks, never other digits.
      {Value::Real(1e25, 0), "********************"},
      {Value::Real(-1e25, 2), "********************"},
      {Value::Real(-1e19, 0), "********************"},
  };
  const TBarcodeUtil util;
  for (const Case& c : cases)
    EXPECT_EQ(util.Crear(c.number, Value("CODE128")).Get("texto").Str(), c.texto) << c.texto;
  EXPECT_EQ(util.Crear(Value::Real(1e25, 0), Value("EAN13")).Get("error").Str(),
            "EAN-13 debe contener 12 o 13 digitos.");
}

TEST(TBarcodeUtil, MatrixDescriptors) {
  const TBarcodeUtil util;
  const Value qr = util.Crear(Value("abc"), Value("QR Code"));
  EXPECT_EQ(Keys(qr), kMatrixKeys);
  EXPECT_EQ(qr.Get("barcodeTipo").Str(), "QR");
  EXPECT_EQ(qr.Get("texto").Str(), "abc");
  EXPECT_EQ(qr.Get("margenModulos").Int(), 4);
  EXPECT_EQ(qr.Get("matriz").Len(), 21u);
  EXPECT_EQ(util.Crear(Value(std::string(271, 'q')), Value("QR")).Get("matriz").Len(), 57u);

  const Value dm = util.Crear(Value("A"), Value("datamatrix"));
  EXPECT_EQ(Keys(dm), kMatrixKeys);
  EXPECT_EQ(dm.Get("barcodeTipo").Str(), "DATAMATRIX");
  EXPECT_EQ(dm.Get("margenModulos").Int(), 1);
  EXPECT_EQ(dm.Get("matriz").Len(), 10u);
}

// zbar reads every symbol back as the text it was given.
TEST(TBarcodeUtil, ZbarReadsBackLinearSymbols) {
  std::string printable;
  for (int c = 32; c <= 126; ++c) printable.push_back(static_cast<char>(c));
  std::string pairs;  // every digit pair of code set C
  for (int v = 0; v < 100; ++v) pairs += std::to_string(v / 10) + std::to_string(v % 10);
  struct Case {
    std::string text;
    const char* type;
    zbar::zbar_symbol_type_t symbology;
    std::string read;  // what the decoder answers
  };
  const Case cases[] = {
      {"123456789012", "EAN13", zbar::ZBAR_EAN13, "1234567890128"},
      {"4006381333931", "EAN13", zbar::ZBAR_EAN13, "4006381333931"},
      {"0012345678905", "EAN13", zbar::ZBAR_EAN13, "0012345678905"},
      {"9780201379624", "EAN13", zbar::ZBAR_EAN13, "9780201379624"},
      {"9638507", "EAN8", zbar::ZBAR_EAN8, "96385074"},
      {"5512345", "EAN8", zbar::ZBAR_EAN8, "55123457"},
      {printable, "CODE128", zbar::ZBAR_CODE128, printable},
      {pairs, "CODE128", zbar::ZBAR_CODE128, pairs},
      {"A1B22C333D4444E55555F666666", "CODE128", zbar::ZBAR_CODE128, "A1B22C333D4444E55555F666666"},
      {"x", "CODE128", zbar::ZBAR_CODE128, "x"},
      {"0101234567890128", "GS1-128", zbar::ZBAR_CODE128, "0101234567890128"},
      {"01095011010209171719050810ABCD1234\x1D"
       "2112345",
       "GS1-128", zbar::ZBAR_CODE128,
       "01095011010209171719050810ABCD1234\x1D"
       "2112345"},
  };
  const TBarcodeUtil util;
  for (const Case& c : cases) {
    const Value d = util.Crear(Value(c.text), Value(c.type));
    ASSERT_FALSE(d.Has("error")) << c.text;
    const auto reads = testing::ZbarDecode(testing::DrawLinear(d, 3, 30), c.symbology);
    ASSERT_EQ(reads.size(), 1u) << c.text;
    EXPECT_EQ(reads[0].data, c.read) << c.text;
    EXPECT_EQ(reads[0].gs1, d.Get("barcodeTipo").Str() == "EAN128") << c.text;
  }
}

}  // namespace
}  // namespace kx
