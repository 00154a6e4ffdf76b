#include "Json.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

namespace kx {

namespace {

class Decoder {
 public:
  explicit Decoder(std::string_view text) : s_(text) {}

  bool Parse(Value& out) {
    SkipBlanks();
    return ParseValue(out, 0);
  }

  // Where the first error stood and what was expected there.
  size_t ErrorOffset() const { return errorAt_; }
  JsonExpected Expected() const { return expected_; }

 private:
  // Notes the error at the current place. Only the innermost failure calls it;
  // the callers that pass the failure on return false without a word.
  [[gnu::cold]] bool Fail(JsonExpected expected) { return Fail(expected, i_); }
  [[gnu::cold]] bool Fail(JsonExpected expected, size_t at) {
    expected_ = expected;
    errorAt_ = std::min(at, s_.size());
    return false;
  }

  void SkipBlanks() {
    while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\t' || s_[i_] == '\n' || s_[i_] == '\r'))
      ++i_;
  }

  bool Literal(std::string_view word) {
    if (s_.substr(i_, word.size()) != word) return false;
    i_ += word.size();
    return true;
  }

  bool ParseValue(Value& out, int depth) {
    if (i_ >= s_.size()) return Fail(JsonExpected::kValue);
    switch (s_[i_]) {
      case '{':
        return ParseObject(out, depth + 1);
      case '[':
        return ParseArray(out, depth + 1);
      case '"': {
        std::string text;
        if (!ParseString(text)) return false;
        out = Value(text);
        return true;
      }
      case 't':
        out = Value(true);
        return Literal("true") || Fail(JsonExpected::kValue);
      case 'f':
        out = Value(false);
        return Literal("false") || Fail(JsonExpected::kValue);
      case 'n':
        out = Value();
        return Literal("null") || Fail(JsonExpected::kValue);
      default:
        return ParseNumber(out);
    }
  }

  bool ParseObject(Value& out, int depth) {
    if (depth > kJsonMaxDepth) return Fail(JsonExpected::kLessNesting);
    ++i_;
    auto map = MakeRef<Map>();
    SkipBlanks();
    if (i_ < s_.size() && s_[i_] == '}') {
      ++i_;
      out = Value(std::move(map));
      return true;
    }
    std::string key;
    for (bool first = true;; first = false) {
      SkipBlanks();
      if (i_ >= s_.size() || s_[i_] != '"')
        return Fail(first ? JsonExpected::kKeyOrBrace : JsonExpected::kKey);
      key.clear();
      if (!ParseString(key)) return false;
      SkipBlanks();
      if (i_ >= s_.size() || s_[i_] != ':') return Fail(JsonExpected::kColon);
      ++i_;
      SkipBlanks();
      Value v;
      if (!ParseValue(v, depth)) return false;
      map->Set(key, std::move(v));
      SkipBlanks();
      if (i_ >= s_.size()) return Fail(JsonExpected::kCommaOrBrace);
      if (s_[i_] == ',') {
        ++i_;
        continue;
      }
      if (s_[i_] == '}') {
        ++i_;
        out = Value(std::move(map));
        return true;
      }
      return Fail(JsonExpected::kCommaOrBrace);
    }
  }

  bool ParseArray(Value& out, int depth) {
    if (depth > kJsonMaxDepth) return Fail(JsonExpected::kLessNesting);
    ++i_;
    auto list = MakeRef<List>();
    SkipBlanks();
    if (i_ < s_.size() && s_[i_] == ']') {
      ++i_;
      out = Value(std::move(list));
      return true;
    }
    for (;;) {
      SkipBlanks();
      Value v;
      if (!ParseValue(v, depth)) return false;
      list->Add(std::move(v));
      SkipBlanks();
      if (i_ >= s_.size()) return Fail(JsonExpected::kCommaOrBracket);
      if (s_[i_] == ',') {
        ++i_;
        continue;
      }
      if (s_[i_] == ']') {
        ++i_;
        out = Value(std::move(list));
        return true;
      }
      return Fail(JsonExpected::kCommaOrBracket);
    }
  }

  bool Hex4(uint32_t& cp) {
    cp = 0;
    for (int k = 0; k < 4; ++k) {
      if (i_ >= s_.size()) return Fail(JsonExpected::kHexDigits);
      char c = s_[i_];
      uint32_t d;
      if (c >= '0' && c <= '9')
        d = static_cast<uint32_t>(c - '0');
      else if (c >= 'a' && c <= 'f')
        d = static_cast<uint32_t>(c - 'a' + 10);
      else if (c >= 'A' && c <= 'F')
        d = static_cast<uint32_t>(c - 'A' + 10);
      else
        return Fail(JsonExpected::kHexDigits);
      ++i_;
      cp = (cp << 4) | d;
    }
    return true;
  }

  bool ParseString(std::string& out) {
    ++i_;  // opening quote
    for (;;) {
      size_t start = i_;
      while (i_ < s_.size() && s_[i_] != '"' && s_[i_] != '\\' &&
             static_cast<unsigned char>(s_[i_]) >= 0x20) {
        ++i_;
      }
      out.append(s_.substr(start, i_ - start));
      if (i_ >= s_.size()) return Fail(JsonExpected::kQuote);
      char c = s_[i_];
      if (c == '"') {
        ++i_;
        return true;
      }
      if (c != '\\') return Fail(JsonExpected::kEscapedControl);  // a raw control character
      if (++i_ >= s_.size()) return Fail(JsonExpected::kEscape);
      char e = s_[i_++];
      switch (e) {
        case '"':
          out.push_back('"');
          break;
        case '\\':
          out.push_back('\\');
          break;
        case '/':
          out.push_back('/');
          break;
        case 'b':
          out.push_back('\b');
          break;
        case 'f':
          out.push_back('\f');
          break;
        case 'n':
          out.push_back('\n');
          break;
        case 'r':
          out.push_back('\r');
          break;
        case 't':
          out.push_back('\t');
          break;
        case 'u': {
          uint32_t cp;
          if (!Hex4(cp)) return false;
          if (cp >= 0xD800 && cp <= 0xDBFF && s_.substr(i_, 2) == "\\u") {
            size_t save = i_;
            i_ += 2;
            uint32_t low;
            if (!Hex4(low)) return false;
            if (low >= 0xDC00 && low <= 0xDFFF) {
              cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
            } else {
              i_ = save;  // the lone high surrogate becomes U+FFFD below
            }
          }
          // A lone surrogate never becomes invalid UTF-8.
          if (cp >= 0xD800 && cp <= 0xDFFF) cp = 0xFFFD;
          AppendUtf8(out, cp);
          break;
        }
        default:
          return Fail(JsonExpected::kEscape, i_ - 1);
      }
    }
  }

  static bool IsDigit(char c) { return c >= '0' && c <= '9'; }

  bool ParseNumber(Value& out) {
    size_t start = i_;
    if (i_ < s_.size() && s_[i_] == '-') ++i_;
    if (i_ >= s_.size() || !IsDigit(s_[i_]))
      return Fail(i_ == start ? JsonExpected::kValue : JsonExpected::kDigit);
    if (s_[i_] == '0') {
      ++i_;
    } else {
      while (i_ < s_.size() && IsDigit(s_[i_])) ++i_;
    }
    size_t fracDigits = 0;
    bool isReal = false;
    if (i_ < s_.size() && s_[i_] == '.') {
      isReal = true;
      ++i_;
      size_t f = i_;
      while (i_ < s_.size() && IsDigit(s_[i_])) ++i_;
      fracDigits = i_ - f;
      if (fracDigits == 0) return Fail(JsonExpected::kDigit);
    }
    int64_t exponent = 0;
    if (i_ < s_.size() && (s_[i_] == 'e' || s_[i_] == 'E')) {
      isReal = true;
      ++i_;
      bool negExp = false;
      if (i_ < s_.size() && (s_[i_] == '+' || s_[i_] == '-')) negExp = s_[i_++] == '-';
      if (i_ >= s_.size() || !IsDigit(s_[i_])) return Fail(JsonExpected::kDigit);
      while (i_ < s_.size() && IsDigit(s_[i_])) {
        // Saturates: the exact magnitude of a huge exponent does not matter.
        exponent = std::min<int64_t>(exponent * 10 + (s_[i_] - '0'), 1000000);
        ++i_;
      }
      if (negExp) exponent = -exponent;
    }
    std::string_view text = s_.substr(start, i_ - start);
    if (!isReal) {
      int64_t v = 0;
      auto res = std::from_chars(text.data(), text.data() + text.size(), v);
      if (res.ec == std::errc()) {
        out = Value(v);
        return true;
      }
    }
    double d = 0.0;
    auto res = std::from_chars(text.data(), text.data() + text.size(), d);
    if (res.ec == std::errc::result_out_of_range) {
      bool negative = text[0] == '-';
      // Overflow saturates at the largest double, underflow gives zero.
      bool tiny = exponent < 0;
      d = tiny ? 0.0 : std::numeric_limits<double>::max();
      if (negative) d = -d;
    }
    int64_t decimals = static_cast<int64_t>(fracDigits) + (exponent < 0 ? -exponent : 0);
    out = Value::Real(d, static_cast<int>(std::min<int64_t>(decimals, kMaxDecimals)));
    return true;
  }

  std::string_view s_;
  size_t i_ = 0;
  size_t errorAt_ = 0;
  JsonExpected expected_ = JsonExpected::kNothing;
};

bool NeedsEscape(unsigned char c) {
  return c < 0x20 || c == '"' || c == '\\';
}

void EncodeString(std::string& out, std::string_view s) {
  static const char kHex[] = "0123456789ABCDEF";
  out.push_back('"');
  for (size_t i = 0; i < s.size(); ++i) {
    // Characters that stand for themselves go out in runs.
    size_t run = i;
    while (run < s.size() && !NeedsEscape(static_cast<unsigned char>(s[run]))) ++run;
    if (run > i) {
      out.append(s.data() + i, run - i);
      i = run;
      if (i == s.size()) break;
    }
    unsigned char c = static_cast<unsigned char>(s[i]);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20) {
          out += "\\u00";
          out.push_back(kHex[c >> 4]);
          out.push_back(kHex[c & 15]);
        } else {
          out.push_back(static_cast<char>(c));
        }
    }
  }
  out.push_back('"');
}

void Encode(std::string& out, const Value& v, int depth) {
  switch (v.kind()) {
    case Kind::Logical:
      out += v.Bool() ? "true" : "false";
      return;
    case Kind::Integer:
    case Kind::Real:
      out += PlainText(v);
      return;
    case Kind::Text:
      EncodeString(out, v.Str());
      return;
    case Kind::Date:
      EncodeString(out, DateCompact(v));
      return;
    case Kind::List: {
      if (depth >= kJsonMaxDepth) {
        out += "null";
        return;
      }
      out.push_back('[');
      bool first = true;
      for (const Value& e : v.AsList()) {
        if (!first) out.push_back(',');
        first = false;
        Encode(out, e, depth + 1);
      }
      out.push_back(']');
      return;
    }
    case Kind::Map: {
      if (depth >= kJsonMaxDepth) {
        out += "null";
        return;
      }
      out.push_back('{');
      bool first = true;
      for (const Map::Entry& e : v.AsMap()) {
        if (!first) out.push_back(',');
        first = false;
        EncodeString(out, e.key.Str());
        out.push_back(':');
        Encode(out, e.value, depth + 1);
      }
      out.push_back('}');
      return;
    }
    default:
      out += "null";
      return;
  }
}

}  // namespace

Value JsonDecode(std::string_view text) {
  JsonError ignored;
  return JsonDecode(text, ignored);
}

Value JsonDecode(std::string_view text, JsonError& error) {
  Decoder decoder(text);
  Value out;
  error = JsonError();
  if (decoder.Parse(out)) return out;
  // The place is counted only for a text that failed: decoding pays nothing for it.
  error.expected = decoder.Expected();
  error.nOffset = decoder.ErrorOffset();
  error.nLine = 1;
  error.nColumn = 1;
  for (size_t i = 0; i < error.nOffset; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '\n') {
      ++error.nLine;
      error.nColumn = 1;
    } else if ((c & 0xC0) != 0x80) {  // a UTF-8 continuation byte is no new character
      ++error.nColumn;
    }
  }
  return Value();
}

std::string JsonErrorMessage(const JsonError& error) {
  std::string expected;
  switch (error.expected) {
    case JsonExpected::kNothing:
      return "";
    case JsonExpected::kValue:
      expected = "se esperaba un valor";
      break;
    case JsonExpected::kKeyOrBrace:
      expected = "se esperaba una clave entre comillas o '}'";
      break;
    case JsonExpected::kKey:
      expected = "se esperaba una clave entre comillas";
      break;
    case JsonExpected::kColon:
      expected = "se esperaba ':'";
      break;
    case JsonExpected::kCommaOrBrace:
      expected = "se esperaba ',' o '}'";
      break;
    case JsonExpected::kCommaOrBracket:
      expected = "se esperaba ',' o ']'";
      break;
    case JsonExpected::kQuote:
      expected = "se esperaba '\"' para cerrar la cadena";
      break;
    case JsonExpected::kEscapedControl:
      expected = "se esperaba '\"' o un escape (\\n, \\t) en lugar de un caracter de control";
      break;
    case JsonExpected::kEscape:
      expected = "se esperaba un escape valido tras '\\'";
      break;
    case JsonExpected::kHexDigits:
      expected = "se esperaban cuatro cifras hexadecimales tras \\u";
      break;
    case JsonExpected::kDigit:
      expected = "se esperaba una cifra";
      break;
    case JsonExpected::kLessNesting:
      expected = "se esperaban como mucho " + std::to_string(kJsonMaxDepth) +
                 " niveles de listas y objetos anidados";
      break;
  }
  return "linea " + std::to_string(error.nLine) + ", columna " + std::to_string(error.nColumn) +
         ": " + expected;
}

std::string JsonEncode(const Value& v) {
  std::string out;
  Encode(out, v, 0);
  return out;
}

}  // namespace kx
