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
