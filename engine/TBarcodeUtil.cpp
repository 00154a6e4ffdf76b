#include "TBarcodeUtil.h"

#include <cmath>

#include "TBarcodeUtilMatrix.h"

namespace kx {

namespace {

// Number sets A, B and C of EAN/UPC, and the sets of EAN-13's left half by its first digit.
constexpr std::string_view kSetA[10] = {"0001101", "0011001", "0010011", "0111101", "0100011",
                                        "0110001", "0101111", "0111011", "0110111", "0001011"};
constexpr std::string_view kSetB[10] = {"0100111", "0110011", "0011011", "0100001", "0011101",
                                        "0111001", "0000101", "0010001", "0001001", "0010111"};
constexpr std::string_view kSetC[10] = {"1110010", "1100110", "1101100", "1000010", "1011100",
                                        "1001110", "1010000", "1000100", "1001000", "1110100"};
constexpr std::string_view kEan13Parity[10] = {"AAAAAA", "AABABB", "AABBAB", "AABBBA", "ABAABB",
                                               "ABBAAB", "ABBBAA", "ABABAB", "ABABBA", "ABBABA"};

// Code 128 symbol characters by value, bar and space widths from the first bar; 106 is the stop
// with its final bar.
constexpr std::string_view kCode128[107] = {
    "212222", "222122", "222221", "121223", "121322", "131222", "122213", "122312",  "132212",
    "221213", "221312", "231212", "112232", "122132", "122231", "113222", "123122",  "123221",
    "223211", "221132", "221231", "213212", "223112", "312131", "311222", "321122",  "321221",
    "312212", "322112", "322211", "212123", "212321", "232121", "111323", "131123",  "131321",
    "112313", "132113", "132311", "211313", "231113", "231311", "112133", "112331",  "132131",
    "113123", "113321", "133121", "313121", "211331", "231131", "213113", "213311",  "213131",
    "311123", "311321", "331121", "312113", "312311", "332111", "314111", "221411",  "431111",
    "111224", "111422", "121124", "121421", "141122", "141221", "112214", "112412",  "122114",
    "122411", "142112", "142211", "241211", "221114", "413111", "241112", "134111",  "111242",
    "121142", "121241", "114212", "124112", "124211", "411212", "421112", "421211",  "212141",
    "214121", "412121", "111143", "111341", "131141", "114113", "114311", "411113",  "411311",
    "113141", "114131", "311141", "411131", "211412", "211214", "211232", "2331112",
};

constexpr int kCodeC = 99;
constexpr int kCodeB = 100;
constexpr int kFnc1 = 102;
constexpr int kStartB = 104;
constexpr int kStartC = 105;
constexpr int kStop = 106;
constexpr unsigned char kGroupSeparator = 29;
// An integral number is written in at most this many characters.
constexpr int kNumberWidth = 20;

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

int DigitValue(char c) {
  return c - '0';
}

Value Linear(std::string_view tipo, std::string texto, std::string bits, int left, int right) {
  return Value::NewMap({{"tipo", "barcode"},
                        {"barcodeTipo", tipo},
                        {"texto", Value(texto)},
                        {"bits", Value(bits)},
                        {"margenIzquierdoModulos", left},
                        {"margenDerechoModulos", right},
                        {"mostrarTexto", true}});
}

Value Matrix(std::string_view tipo, std::string_view texto, Value rows, int margin) {
  return Value::NewMap({{"tipo", "barcode"},
                        {"barcodeTipo", tipo},
                        {"texto", texto},
                        {"matriz", std::move(rows)},
                        {"margenModulos", margin},
                        {"mostrarTexto", true}});
}

}  // namespace

namespace barcode {

int DigitRun(std::string_view text, size_t position) {
  int n = 0;
  for (size_t i = position; i >= 1 && i <= text.size() && IsDigit(text[i - 1]); ++i) ++n;
  return n;
}

std::vector<int> Code128Values(std::string_view text, bool gs1) {
  std::vector<int> values;
  values.reserve(text.size() + 8);
  bool setC = DigitRun(text, 1) >= 4;
  values.push_back(setC ? kStartC : kStartB);
  if (gs1) values.push_back(kFnc1);
  size_t pos = 1;
  while (pos <= text.size()) {
    const unsigned char b = static_cast<unsigned char>(text[pos - 1]);
    if (b == kGroupSeparator && gs1) {
      values.push_back(kFnc1);
      ++pos;
      continue;
    }
    if (b < 32 || b > 126) return {};
    if (setC) {
      // Two digits are all a pair needs: measuring the whole rest of the run
      // at every pair would make a long run cost the square of its length.
      if (pos < text.size() && IsDigit(text[pos - 1]) && IsDigit(text[pos])) {
        values.push_back(DigitValue(text[pos - 1]) * 10 + DigitValue(text[pos]));
        pos += 2;
      } else {
        values.push_back(kCodeB);
        setC = false;
      }
      continue;
    }
    // Measured whole only here, once per run: a run of four or more is then
    // taken in code set C to its end.
    const int run = DigitRun(text, pos);
    if (run >= 4) {
      // An odd run leaves its first digit in code set B so that the rest pairs up.
      if (run % 2 == 1) {
        values.push_back(b - 32);
        ++pos;
      }
      values.push_back(kCodeC);
      setC = true;
    } else {
      values.push_back(b - 32);
      ++pos;
    }
  }
  long sum = values[0];
  for (size_t i = 1; i < values.size(); ++i)
    sum += static_cast<long>(values[i]) * static_cast<long>(i);
  values.push_back(static_cast<int>(sum % 103));
  values.push_back(kStop);
  return values;
}

}  // namespace barcode

Value TBarcodeUtil::Crear(const Value& value, const Value& type) const {
  const std::string kind = NormalizarTipo(Value(ValorAString(type)));
  if (kind.empty()) return Error("Tipo de codigo de barras no soportado.");
  const std::string text = ValorAString(value);
  if (kind == "EAN13") return CrearEAN13(text);
  if (kind == "EAN8") return CrearEAN8(text);
  if (text.empty()) return Error("Contenido de codigo de barras vacio.");
  if (kind == "CODE128" || kind == "EAN128") return CrearCode128(text, Value(kind == "EAN128"));
  if (kind == "DATAMATRIX") {
    Value rows = KXTARDATAMATRIX(text);
    if (rows.Len() == 0) return Error("Contenido Data Matrix demasiado largo.");
    return Matrix("DATAMATRIX", text, std::move(rows), 1);
  }
  Value rows = KXTARQRMATRIX(text);
  if (rows.Len() == 0) return Error("QR admite hasta 271 bytes en esta version.");
  return Matrix("QR", text, std::move(rows), 4);
}

std::string TBarcodeUtil::NormalizarTipo(const Value& type) const {
  const std::string name = Upper(SoloLetrasNumerosAscii(ValorAString(type)));
  if (name == "EAN13") return "EAN13";
  if (name == "EAN8") return "EAN8";
  if (name == "CODE128") return "CODE128";
  if (name == "EAN128" || name == "GS1128") return "EAN128";
  if (name == "DATAMATRIX") return "DATAMATRIX";
  if (name == "QR" || name == "QRCODE") return "QR";
  return "";
}

Value TBarcodeUtil::CrearEAN13(const std::string& text) const {
  std::string digits = text;
  if (text.size() == 12 && EsDigitos(text)) {
    digits.push_back(static_cast<char>('0' + DigitoControlEAN13(text)));
  } else if (text.size() == 13 && EsDigitos(text)) {
    if (DigitoControlEAN13(std::string_view(text).substr(0, 12)) != DigitValue(text[12]))
      return Error("Digito de control EAN-13 no valido.");
  } else {
    return Error("EAN-13 debe contener 12 o 13 digitos.");
  }
  std::string bits = Ean13Bits(digits);
  return Linear("EAN13", std::move(digits), std::move(bits), 11, 7);
}

int TBarcodeUtil::DigitoControlEAN13(std::string_view digits) {
  int sum = 0;
  for (size_t i = 0; i < 12; ++i) sum += DigitValue(digits[i]) * (i % 2 == 0 ? 1 : 3);
  return (10 - sum % 10) % 10;
}

Value TBarcodeUtil::CrearEAN8(const std::string& text) const {
  std::string digits = text;
  if (text.size() == 7 && EsDigitos(text)) {
    digits.push_back(static_cast<char>('0' + DigitoControlEAN8(text)));
  } else if (text.size() == 8 && EsDigitos(text)) {
    if (DigitoControlEAN8(std::string_view(text).substr(0, 7)) != DigitValue(text[7]))
      return Error("Digito de control EAN-8 no valido.");
  } else {
    return Error("EAN-8 debe contener 7 u 8 digitos.");
  }
  std::string bits = Ean8Bits(digits);
  return Linear("EAN8", std::move(digits), std::move(bits), 7, 7);
}

int TBarcodeUtil::DigitoControlEAN8(std::string_view digits) {
  int sum = 0;
  for (size_t i = 0; i < 7; ++i) sum += DigitValue(digits[i]) * (i % 2 == 0 ? 3 : 1);
  return (10 - sum % 10) % 10;
}

Value TBarcodeUtil::CrearCode128(const std::string& text, const Value& gs1) const {
  const bool lGs1 = gs1.IsLogical() && gs1.Bool();
  const std::string_view tipo = lGs1 ? "EAN128" : "CODE128";
  if (text.empty()) return Error("Contenido de codigo de barras vacio.");
  std::string bits = Code128Bits(text, lGs1);
  if (bits.empty())
    return Error(lGs1 ? "EAN128 admite ASCII imprimible y separadores GS."
                      : "CODE128 admite caracteres ASCII imprimibles.");
  return Linear(tipo, text, std::move(bits), 10, 10);
}

std::string TBarcodeUtil::Code128Bits(std::string_view text, bool gs1) {
  const std::vector<int> values = barcode::Code128Values(text, gs1);
  std::string bits;
  bits.reserve(values.size() * 11 + 2);
  for (int v : values) bits += PatternBits(kCode128[v]);
  return bits;
}

std::string TBarcodeUtil::PatternBits(std::string_view widths) {
  std::string bits;
  for (size_t i = 0; i < widths.size(); ++i)
    bits.append(static_cast<size_t>(DigitValue(widths[i])), i % 2 == 0 ? '1' : '0');
  return bits;
}

std::string TBarcodeUtil::Ean13Bits(std::string_view digits) {
  const std::string_view parity = kEan13Parity[DigitValue(digits[0])];
  std::string bits = "101";
  for (size_t k = 1; k <= 6; ++k) {
    const int d = DigitValue(digits[k]);
    bits += parity[k - 1] == 'A' ? kSetA[d] : kSetB[d];
  }
  bits += "01010";
  for (size_t k = 7; k <= 12; ++k) bits += kSetC[DigitValue(digits[k])];
  bits += "101";
  return bits;
}

std::string TBarcodeUtil::Ean8Bits(std::string_view digits) {
  std::string bits = "101";
  for (size_t k = 0; k < 4; ++k) bits += kSetA[DigitValue(digits[k])];
  bits += "01010";
  for (size_t k = 4; k < 8; ++k) bits += kSetC[DigitValue(digits[k])];
  bits += "101";
  return bits;
}

Value TBarcodeUtil::Error(std::string_view message) {
  return Value::NewMap(
      {{"tipo", "barcode"}, {"barcodeTipo", ""}, {"texto", ""}, {"error", message}});
}

std::string TBarcodeUtil::ValorAString(const Value& value) {
  switch (value.kind()) {
    case Kind::Nil:
      return "";
    case Kind::Text:
      return std::string(value.Str());
    case Kind::Logical:
      return value.Bool() ? "1" : "";
    case Kind::Integer:
    case Kind::Real: {
      const double d = SaneDouble(value.Double());
      if (value.IsReal() && d != std::trunc(d)) return PlainText(value);
      // Written from the double's decimal digits, never through a narrowing conversion: a
      // number too long for its width gives asterisks instead of other digits.
      const Value whole = value.IsInt() ? value : Value::Real(d, 0);
      return std::string(AllTrim(WidthText(whole, kNumberWidth, 0)));
    }
    default:
      return std::string(AllTrim(ValueString(value)));
  }
}

bool TBarcodeUtil::EsDigitos(std::string_view text) {
  if (IsBlank(text)) return false;
  for (char c : text)
    if (!IsDigit(c)) return false;
  return true;
}

std::string TBarcodeUtil::SoloLetrasNumerosAscii(std::string_view text) {
  std::string out;
  for (char c : text)
    if (IsDigit(c) || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) out.push_back(c);
  return out;
}

}  // namespace kx
