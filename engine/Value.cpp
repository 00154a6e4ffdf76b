#include "Value.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <new>
#include <unordered_map>
#include <unordered_set>

namespace kx {

const Value kNil;

namespace {

using detail::TextRep;

constexpr size_t kInlineText = 14;
constexpr int64_t kMsPerDay = 86400000;

uint64_t HashBytes(std::string_view s) noexcept {
  uint64_t h = 1469598103934665603ull;
  for (unsigned char c : s) {
    h ^= c;
    h *= 1099511628211ull;
  }
  return h ^ (h >> 29);
}

bool IsBlankChar(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

}  // namespace

Value Callable::Call(std::span<const Value> args) const {
  return fn_ ? fn_(args) : Value();
}

// ---------------------------------------------------------------------------
// Value

Value::Value(Ref<List> l) noexcept : Value() {
  if (l) SetShared(Kind::List, l.get());
}
Value::Value(Ref<Map> m) noexcept : Value() {
  if (m) SetShared(Kind::Map, m.get());
}
Value::Value(Ref<KXObject> o) noexcept : Value() {
  if (o) SetShared(Kind::Object, o.get());
}
Value::Value(Ref<Callable> c) noexcept : Value() {
  if (c) SetShared(Kind::Callable, c.get());
}

void Value::SetShared(Kind k, Shared* p) noexcept {
  kind_ = k;
  aux_ = 0;
  p->AddRef();
  SetPayload<Shared*>(p);
}

void Value::SetText(std::string_view s) {
  kind_ = Kind::Text;
  if (s.size() <= kInlineText) {
    aux_ = static_cast<uint8_t>(s.size());
    if (!s.empty()) std::memcpy(raw_, s.data(), s.size());
  } else {
    Shared* rep = TextRep::Make(s);
    rep->AddRef();
    aux_ = kHeapText;
    SetPayload<Shared*>(rep);
  }
}

void Value::SetRealPayload(double d, uint8_t decimals) noexcept {
  kind_ = Kind::Real;
  aux_ = decimals;
  SetPayload<double>(SaneDouble(d));
}

Value Value::Real(double d, int decimals) {
  Value v;
  v.SetRealPayload(d, static_cast<uint8_t>(std::clamp(decimals, 0, kMaxDecimals)));
  return v;
}

Value Value::Date(int32_t jdn) {
  Value v;
  v.kind_ = Kind::Date;
  v.SetPayload<int64_t>(jdn < 0 ? 0 : jdn);
  return v;
}

Value Value::DateYMD(int y, int m, int d) {
  return Date(JdnFromYMD(y, m, d));
}

Value Value::Timestamp(int32_t jdn, int32_t msOfDay) {
  Value v;
  v.kind_ = Kind::Timestamp;
  v.SetPayload<int64_t>(static_cast<int64_t>(jdn) * kMsPerDay + msOfDay);
  return v;
}

Value Value::NewList() {
  return Value(MakeRef<List>());
}

Value Value::NewList(std::initializer_list<Value> items) {
  return Value(MakeRef<List>(std::vector<Value>(items)));
}

Value Value::NewMap() {
  return Value(MakeRef<Map>());
}

Value Value::NewMap(std::initializer_list<std::pair<std::string_view, Value>> items) {
  auto m = MakeRef<Map>();
  m->Reserve(items.size());
  for (const auto& [k, v] : items) m->Set(k, v);
  return Value(std::move(m));
}

Value Value::Function(Callable::Fn fn) {
  return Value(MakeRef<Callable>(std::move(fn)));
}

namespace {

// Digits and exponent of |d| with 16 significant digits: value = 0.D * 10^point.
struct Digits {
  char d[17];
  int point;
};

Digits SixteenDigits(double a) {
  // The shortest text that reads back as the same double is what the value
  // "is" in decimal (2.675, not 2.67499999...); only past 16 significant
  // digits is it rounded to 16.
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, a, std::chars_format::scientific);
  int count = 0;
  for (const char* p = buf; p < res.ptr && *p != 'e'; ++p) count += (*p >= '0' && *p <= '9');
  if (count > 16) res = std::to_chars(buf, buf + sizeof buf, a, std::chars_format::scientific, 15);
  Digits out{};
  std::memset(out.d, '0', 16);
  int n = 0;
  const char* p = buf;
  for (; p < res.ptr && *p != 'e'; ++p) {
    if (*p >= '0' && *p <= '9' && n < 16) out.d[n++] = *p;
  }
  int exp = 0;
  if (p < res.ptr) std::from_chars(p[1] == '+' ? p + 2 : p + 1, res.ptr, exp);
  out.d[16] = '\0';
  out.point = exp + 1;
  return out;
}

// Decimals a natural real needs: its 16-digit text without trailing zeros.
int NaturalDecimals(double d) {
  double a = std::fabs(d);
  if (a == 0.0) return 0;
  Digits dg = SixteenDigits(a);
  int k = 16;
  while (k > 1 && dg.d[k - 1] == '0') --k;
  return std::clamp(k - dg.point, 0, kMaxDecimals);
}

}  // namespace

int Value::Decimals() const noexcept {
  if (kind_ != Kind::Real) return 0;
  if (aux_ == kNaturalDecimals) return NaturalDecimals(Payload<double>());
  return aux_;
}

int32_t Value::Jdn() const noexcept {
  if (kind_ == Kind::Date) return static_cast<int32_t>(Payload<int64_t>());
  if (kind_ == Kind::Timestamp) return static_cast<int32_t>(Payload<int64_t>() / kMsPerDay);
  return 0;
}

int32_t Value::MsOfDay() const noexcept {
  if (kind_ != Kind::Timestamp) return 0;
  return static_cast<int32_t>(Payload<int64_t>() % kMsPerDay);
}

const Value& Value::Get(std::string_view key) const noexcept {
  return Get(key, kNil);
}

const Value& Value::Get(std::string_view key, const Value& def) const noexcept {
  if (const Map* m = MapPtr()) return m->Get(key, def);
  return def;
}

bool Value::Has(std::string_view key) const noexcept {
  const Map* m = MapPtr();
  return m && m->Has(key);
}

void Value::Set(std::string_view key, Value v) const {
  if (Map* m = MapPtr()) m->Set(key, std::move(v));
}

void Value::Push(Value v) const {
  if (List* l = ListPtr()) l->Add(std::move(v));
}

size_t Value::Len() const noexcept {
  switch (kind_) {
    case Kind::List:
      return ListPtr()->size();
    case Kind::Map:
      return MapPtr()->size();
    case Kind::Text:
      return Str().size();
    default:
      return 0;
  }
}

bool Value::SameRefSlow(const Value& o) const noexcept {
  if (kind_ != o.kind_) return false;
  if (IsShared() || o.IsShared()) return IsShared() && o.IsShared() && Ptr() == o.Ptr();
  return aux_ == o.aux_ && std::memcmp(raw_, o.raw_, sizeof raw_) == 0;
}

uint64_t Value::IdentityHash() const noexcept {
  uint64_t a, b;
  std::memcpy(&a, this, sizeof a);  // tag, aux and the first inline bytes
  std::memcpy(&b, raw_ + 6, sizeof b);
  // splitmix64's finaliser over both words: every output bit depends on every input bit.
  uint64_t h = a ^ (b + 0x9E3779B97F4A7C15ull + (a << 6) + (a >> 2));
  h = (h ^ (h >> 30)) * 0xBF58476D1CE4E5B9ull;
  h = (h ^ (h >> 27)) * 0x94D049BB133111EBull;
  return h ^ (h >> 31);
}

Value KeyText(std::string_view key) {
  if (key.size() <= kInlineText) return Value(key);
  // The engine's maps use a fixed vocabulary of long keys ("alineacionVertical",
  // "OMEMQUERY.rsocialc"): one shared text each, instead of one per map. The
  // pool is bounded, so keys from arbitrary data cannot grow it without end.
  constexpr size_t kMaxPooled = 8192;
  static auto* pool = new std::unordered_map<std::string_view, Value>();
  auto it = pool->find(key);
  if (it != pool->end()) return it->second;
  Value text(key);
  if (pool->size() < kMaxPooled) pool->emplace(text.Str(), text);
  return text;
}

// ---------------------------------------------------------------------------
// List and Map

const Value& List::At1(int64_t pos) const noexcept {
  if (pos < 1 || static_cast<uint64_t>(pos) > items_.size()) return kNil;
  return items_[static_cast<size_t>(pos - 1)];
}

namespace {
uint64_t gKeyVersions = 0;
}

void Map::Touch() noexcept {
  nKeyVersion_ = ++gKeyVersions;
}

Map::Map(const Map& o) : Shared(), values_(o.values_) {
  if (!o.shared_) o.shared_ = MakeRef<SharedKeys>(std::move(o.own_));
  o.own_ = KeyStore{};
  shared_ = o.shared_;
  Touch();
}

Map& Map::operator=(const Map& o) {
  if (this == &o) return *this;
  if (!o.shared_) o.shared_ = MakeRef<SharedKeys>(std::move(o.own_));
  o.own_ = KeyStore{};
  shared_ = o.shared_;
  own_ = KeyStore{};
  values_ = o.values_;
  Touch();
  return *this;
}

Map::KeyStore& Map::MutableKeys() {
  if (shared_) {
    // The last holder takes the keys back; otherwise this map copies them.
    if (shared_->RefCount() == 1) {
      own_ = std::move(shared_->store);
    } else {
      own_ = shared_->store;
    }
    shared_.reset();
  }
  return own_;
}

void Map::Reserve(size_t n) {
  values_.reserve(n);
  if (!shared_) own_.keys.reserve(n);
}

size_t Map::Lookup(const KeyStore& k, std::string_view key, uint64_t hash) const noexcept {
  const size_t mask = k.index.size() - 1;
  for (size_t slot = hash & mask;; slot = (slot + 1) & mask) {
    uint32_t e = k.index[slot];
    if (e == 0) return npos;
    if (k.keys[e - 1].Str() == key) return e - 1;
  }
}

size_t Map::IndexOf(std::string_view key) const noexcept {
  const KeyStore& k = Keys();
  if (k.index.empty()) {
    for (size_t i = 0; i < k.keys.size(); ++i) {
      if (k.keys[i].Str() == key) return i;
    }
    return npos;
  }
  return Lookup(k, key, HashBytes(key));
}

Value* Map::Find(std::string_view key) noexcept {
  size_t i = IndexOf(key);
  return i == npos ? nullptr : &values_[i];
}

const Value* Map::Find(std::string_view key) const noexcept {
  size_t i = IndexOf(key);
  return i == npos ? nullptr : &values_[i];
}

const Value& Map::Get(std::string_view key, const Value& def) const noexcept {
  const Value* v = Find(key);
  return v ? *v : def;
}

void Map::IndexInsert(KeyStore& k, uint32_t pos, uint64_t hash) {
  const size_t mask = k.index.size() - 1;
  size_t slot = hash & mask;
  while (k.index[slot] != 0) slot = (slot + 1) & mask;
  k.index[slot] = pos + 1;
}

void Map::RebuildIndex(KeyStore& k) {
  size_t cap = 16;
  // Sized for the reserved capacity, so a map filled after Reserve is indexed once.
  while (cap < k.keys.capacity() * 2) cap <<= 1;
  k.index.assign(cap, 0);
  for (size_t i = 0; i < k.keys.size(); ++i) {
    IndexInsert(k, static_cast<uint32_t>(i), HashBytes(k.keys[i].Str()));
  }
}

Value& Map::Append(Value key, Value v) {
  Touch();
  KeyStore& k = MutableKeys();
  k.keys.push_back(std::move(key));
  values_.push_back(std::move(v));
  if (!k.index.empty()) {
    if (k.keys.size() * 2 > k.index.size()) {
      RebuildIndex(k);
    } else {
      IndexInsert(k, static_cast<uint32_t>(k.keys.size() - 1), HashBytes(k.keys.back().Str()));
    }
  } else if (k.keys.size() > kIndexThreshold) {
    RebuildIndex(k);
  }
  return values_.back();
}

Value& Map::Set(std::string_view key, Value v) {
  size_t i = IndexOf(key);
  if (i != npos) {
    values_[i] = std::move(v);
    return values_[i];
  }
  return Append(KeyText(key), std::move(v));
}

Value& Map::SetKey(const Value& key, Value v) {
  std::string_view k = key.Str();
  size_t i = IndexOf(k);
  if (i != npos) {
    values_[i] = std::move(v);
    return values_[i];
  }
  return Append(key.IsText() ? key : Value(k), std::move(v));
}

bool Map::Remove(std::string_view key) {
  size_t i = IndexOf(key);
  if (i == npos) return false;
  Touch();
  KeyStore& k = MutableKeys();
  k.keys.erase(k.keys.begin() + static_cast<std::ptrdiff_t>(i));
  values_.erase(values_.begin() + static_cast<std::ptrdiff_t>(i));
  if (k.keys.size() > kIndexThreshold) {
    RebuildIndex(k);
  } else {
    k.index.clear();
  }
  return true;
}

bool Map::PopBack() {
  if (values_.empty()) return false;
  Touch();
  KeyStore& k = MutableKeys();
  if (k.keys.size() - 1 <= kIndexThreshold) {
    k.index.clear();
  } else if (!k.index.empty()) {
    // Backward-shift deletion keeps every probe chain unbroken without a rebuild.
    const size_t mask = k.index.size() - 1;
    const uint32_t last = static_cast<uint32_t>(k.keys.size());
    size_t hole = HashBytes(k.keys.back().Str()) & mask;
    while (k.index[hole] != last) hole = (hole + 1) & mask;
    for (size_t next = (hole + 1) & mask; k.index[next] != 0; next = (next + 1) & mask) {
      size_t home = HashBytes(k.keys[k.index[next] - 1].Str()) & mask;
      if (((next - home) & mask) >= ((next - hole) & mask)) {
        k.index[hole] = k.index[next];
        hole = next;
      }
    }
    k.index[hole] = 0;
  }
  k.keys.pop_back();
  values_.pop_back();
  return true;
}

void Map::Clear() noexcept {
  Touch();
  shared_.reset();
  own_ = KeyStore{};
  values_.clear();
}

// ---------------------------------------------------------------------------
// Numbers

int64_t DoubleToInt(double d) noexcept {
  if (std::isnan(d)) return 0;
  d = std::trunc(d);
  // 2^63 is exactly representable; anything at or above it saturates.
  if (d >= 9223372036854775808.0) return INT64_MAX;
  if (d < -9223372036854775808.0) return INT64_MIN;
  return static_cast<int64_t>(d);
}

double SaneDouble(double d) noexcept {
  if (std::isnan(d)) return 0.0;
  if (std::isinf(d))
    return d > 0 ? std::numeric_limits<double>::max() : -std::numeric_limits<double>::max();
  return d;
}

namespace {

int DecimalsOf(const Value& v) {
  return v.Decimals();
}

Value RealResult(double d, int decimals) {
  return Value::Real(d, decimals);
}

}  // namespace

Value Add(const Value& a, const Value& b) {
  if (a.IsInt() && b.IsInt()) {
    int64_t r;
    if (!__builtin_add_overflow(a.Int(), b.Int(), &r)) return Value(r);
    return RealResult(a.Double() + b.Double(), 0);
  }
  return RealResult(a.Double() + b.Double(), std::max(DecimalsOf(a), DecimalsOf(b)));
}

Value Sub(const Value& a, const Value& b) {
  if (a.IsInt() && b.IsInt()) {
    int64_t r;
    if (!__builtin_sub_overflow(a.Int(), b.Int(), &r)) return Value(r);
    return RealResult(a.Double() - b.Double(), 0);
  }
  return RealResult(a.Double() - b.Double(), std::max(DecimalsOf(a), DecimalsOf(b)));
}

Value Mul(const Value& a, const Value& b) {
  if (a.IsInt() && b.IsInt()) {
    int64_t r;
    if (!__builtin_mul_overflow(a.Int(), b.Int(), &r)) return Value(r);
    return RealResult(a.Double() * b.Double(), 0);
  }
  return RealResult(a.Double() * b.Double(), DecimalsOf(a) + DecimalsOf(b));
}

Value Div(const Value& a, const Value& b) {
  double divisor = b.Double();
  if (divisor == 0.0) return Value(0);
  return RealResult(a.Double() / divisor, 2);
}

Value Mod(const Value& a, const Value& b) {
  double divisor = b.Double();
  if (divisor == 0.0) return Value(0);
  return RealResult(std::fmod(a.Double(), divisor), 2);
}

Value Negate(const Value& a) {
  if (a.IsInt()) {
    if (a.Int() == INT64_MIN) return RealResult(-a.Double(), 0);
    return Value(-a.Int());
  }
  if (a.IsReal()) return RealResult(-a.Double(), a.Decimals());
  return Value(0);
}

Value ReadNumber(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && IsBlankChar(s[i])) ++i;
  bool neg = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
    neg = s[i] == '-';
    ++i;
  }
  size_t intStart = i;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
  std::string_view intDigits = s.substr(intStart, i - intStart);
  bool point = false;
  std::string_view fracDigits;
  if (i < s.size() && s[i] == '.') {
    point = true;
    size_t fracStart = ++i;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
    fracDigits = s.substr(fracStart, i - fracStart);
  }
  if (intDigits.empty() && fracDigits.empty()) return Value(0);
  if (!point) {
    int64_t v = 0;
    auto res = std::from_chars(intDigits.data(), intDigits.data() + intDigits.size(), v);
    if (res.ec == std::errc()) return Value(neg ? -v : v);
  }
  std::string text;
  text.reserve(intDigits.size() + fracDigits.size() + 3);
  text.append(intDigits.empty() ? std::string_view("0") : intDigits);
  text.push_back('.');
  text.append(fracDigits.empty() ? std::string_view("0") : fracDigits);
  double d = 0.0;
  auto res = std::from_chars(text.data(), text.data() + text.size(), d);
  if (res.ec == std::errc::result_out_of_range) d = std::numeric_limits<double>::max();
  int decimals = point ? static_cast<int>(std::min<size_t>(fracDigits.size(), kMaxDecimals)) : 0;
  return Value::Real(neg ? -d : d, decimals);
}

Value IntPart(const Value& n) {
  if (n.IsInt()) return n;
  if (!n.IsReal()) return Value(0);
  double t = std::trunc(n.Double());
  if (t >= -9223372036854775808.0 && t < 9223372036854775808.0) {
    return Value(static_cast<int64_t>(t));
  }
  return Value::Real(t, 0);
}

namespace {

// |d| rounded half away from zero to `decimals` places (negative rounds to
// tens, hundreds...), as decimal digit strings. Works on the 16-significant-
// digit text so that 2.675 rounds to 2.68 as written.
struct RoundedDecimal {
  bool negative = false;
  std::string intPart = "0";
  std::string fracPart;
};

RoundedDecimal RoundDecimal(double d, int decimals) {
  RoundedDecimal out;
  decimals = std::clamp(decimals, -400, 400);
  if (decimals > 0) out.fracPart.assign(static_cast<size_t>(decimals), '0');
  d = SaneDouble(d);
  if (d == 0.0) return out;
  Digits dg = SixteenDigits(std::fabs(d));
  int point = dg.point;
  int keep = point + decimals;
  if (keep < 0) return out;
  std::string digits(dg.d, static_cast<size_t>(std::min(keep, 16)));
  if (keep < 16 && dg.d[keep] >= '5') {
    int k = static_cast<int>(digits.size()) - 1;
    while (k >= 0 && digits[static_cast<size_t>(k)] == '9') digits[static_cast<size_t>(k--)] = '0';
    if (k >= 0) {
      ++digits[static_cast<size_t>(k)];
    } else {
      digits.insert(digits.begin(), '1');
      ++point;
    }
  }
  if (digits.find_first_not_of('0') == std::string::npos) return out;
  out.negative = d < 0;
  auto digitAt = [&](int pos) -> char {
    return pos >= 0 && pos < static_cast<int>(digits.size()) ? digits[static_cast<size_t>(pos)]
                                                             : '0';
  };
  if (point > 0) {
    out.intPart.clear();
    for (int p = 0; p < point; ++p) out.intPart.push_back(digitAt(p));
    size_t nz = out.intPart.find_first_not_of('0');
    out.intPart = nz == std::string::npos ? "0" : out.intPart.substr(nz);
  }
  for (int p = 0; p < decimals; ++p) out.fracPart[static_cast<size_t>(p)] = digitAt(point + p);
  return out;
}

}  // namespace

std::string FormatFixed(double d, int decimals) {
  decimals = std::clamp(decimals, 0, 400);
  RoundedDecimal r = RoundDecimal(d, decimals);
  std::string out;
  out.reserve(r.intPart.size() + r.fracPart.size() + 2);
  if (r.negative) out.push_back('-');
  out += r.intPart;
  if (decimals > 0) {
    out.push_back('.');
    out += r.fracPart;
  }
  return out;
}

Value Round(const Value& n, int decimals) {
  decimals = std::clamp(decimals, -400, kMaxDecimals);
  if (n.IsInt() && decimals >= 0) {
    return decimals == 0 ? n : Value::Real(n.Double(), decimals);
  }
  if (!n.IsNumber()) return decimals > 0 ? Value::Real(0.0, decimals) : Value(0);
  RoundedDecimal r = RoundDecimal(n.Double(), decimals);
  std::string text = r.intPart;
  if (decimals > 0) text += "." + r.fracPart;
  double value = 0.0;
  std::from_chars(text.data(), text.data() + text.size(), value);
  if (r.negative) value = -value;
  if (decimals > 0) return Value::Real(value, decimals);
  return IntPart(Value::Real(value, 0));
}

std::string PlainText(const Value& n) {
  if (n.IsInt()) {
    char buf[24];
    auto res = std::to_chars(buf, buf + sizeof buf, n.Int());
    return std::string(buf, res.ptr);
  }
  if (n.IsReal()) return FormatFixed(n.Double(), n.Decimals());
  return "0";
}

std::string WidthText(const Value& n, int width, int decimals) {
  width = std::clamp(width, 0, 4096);
  std::string t = FormatFixed(n.Double(), std::clamp(decimals, 0, kMaxDecimals));
  if (n.IsInt() && decimals <= 0) t = PlainText(n);
  if (static_cast<int>(t.size()) > width) return std::string(static_cast<size_t>(width), '*');
  return std::string(static_cast<size_t>(width) - t.size(), ' ') + t;
}

// ---------------------------------------------------------------------------
// Text forms

namespace {

void Append2(std::string& out, int v) {
  out.push_back(static_cast<char>('0' + (v / 10) % 10));
  out.push_back(static_cast<char>('0' + v % 10));
}

std::string TimeText(int32_t ms) {
  std::string out;
  Append2(out, ms / 3600000);
  out.push_back(':');
  Append2(out, (ms / 60000) % 60);
  out.push_back(':');
  Append2(out, (ms / 1000) % 60);
  return out;
}

}  // namespace

std::string DisplayText(const Value& v) {
  switch (v.kind()) {
    case Kind::Nil:
      return "";
    case Kind::Logical:
      return v.Bool() ? ".T." : ".F.";
    case Kind::Integer:
    case Kind::Real:
      return PlainText(v);
    case Kind::Text:
      return std::string(v.Str());
    case Kind::Date:
    case Kind::Timestamp: {
      if (v.Jdn() == 0) return "  /  /  ";
      int y, m, d;
      YMDFromJdn(v.Jdn(), y, m, d);
      std::string out;
      Append2(out, m);
      out.push_back('/');
      Append2(out, d);
      out.push_back('/');
      Append2(out, y % 100);
      if (v.IsTimestamp()) {
        out.push_back(' ');
        out += TimeText(v.MsOfDay());
      }
      return out;
    }
    default:
      return "";
  }
}

namespace {

void AppendExprText(std::string& out, const Value& v, int depth, std::vector<const Shared*>& path) {
  constexpr int kMaxExprDepth = 200;
  switch (v.kind()) {
    case Kind::Nil:
      out += "NIL";
      return;
    case Kind::Logical:
      out += v.Bool() ? ".T." : ".F.";
      return;
    case Kind::Integer:
    case Kind::Real:
      out += PlainText(v);
      return;
    case Kind::Text: {
      std::string_view s = v.Str();
      bool dq = s.find('"') != std::string_view::npos;
      bool sq = s.find('\'') != std::string_view::npos;
      if (!dq) {
        out.push_back('"');
        out += s;
        out.push_back('"');
      } else if (!sq) {
        out.push_back('\'');
        out += s;
        out.push_back('\'');
      } else if (s.find(']') == std::string_view::npos) {
        out.push_back('[');
        out += s;
        out.push_back(']');
      } else {
        // Both quotes and a closing bracket: an escaped form no other text gives.
        out += "e\"";
        for (char c : s) {
          if (c == '"' || c == '\\') out.push_back('\\');
          out.push_back(c);
        }
        out.push_back('"');
      }
      return;
    }
    case Kind::Date:
      out += "0d" + (v.Jdn() == 0 ? std::string("00000000") : DateCompact(v));
      return;
    case Kind::Timestamp:
      out +=
          "0t" + (v.Jdn() == 0 ? std::string("00000000") : DateCompact(v)) + TimeText(v.MsOfDay());
      return;
    case Kind::List:
    case Kind::Map: {
      const Shared* self = v.SharedPtr();
      if (depth >= kMaxExprDepth || std::find(path.begin(), path.end(), self) != path.end()) {
        out += "{...}";
        return;
      }
      path.push_back(self);
      out.push_back('{');
      if (const List* l = v.ListPtr()) {
        for (size_t i = 0; i < l->size(); ++i) {
          if (i) out += ", ";
          AppendExprText(out, (*l)[i], depth + 1, path);
        }
      } else {
        const Map& m = v.AsMap();
        if (m.empty()) out += "=>";
        for (size_t i = 0; i < m.size(); ++i) {
          if (i) out += ", ";
          AppendExprText(out, m.EntryAt(i).key, depth + 1, path);
          out += "=>";
          AppendExprText(out, m.ValueAt(i), depth + 1, path);
        }
      }
      out.push_back('}');
      path.pop_back();
      return;
    }
    case Kind::Object: {
      char buf[32];
      auto res =
          std::to_chars(buf, buf + sizeof buf, reinterpret_cast<uintptr_t>(v.ObjectPtr()), 16);
      out += "<object ";
      out += v.ObjectPtr()->ClassName();
      out += " 0x";
      out.append(buf, res.ptr);
      out += ">";
      return;
    }
    case Kind::Callable: {
      char buf[32];
      auto res =
          std::to_chars(buf, buf + sizeof buf, reinterpret_cast<uintptr_t>(v.CallablePtr()), 16);
      out += "<callable 0x";
      out.append(buf, res.ptr);
      out += ">";
      return;
    }
  }
}

}  // namespace

std::string ExprText(const Value& v) {
  std::string out;
  std::vector<const Shared*> path;
  AppendExprText(out, v, 0, path);
  return out;
}

std::string ValueString(const Value& v) {
  switch (v.kind()) {
    case Kind::Nil:
      return "";
    case Kind::Text:
      return std::string(v.Str());
    case Kind::Integer:
    case Kind::Real:
      return PlainText(v);
    case Kind::Logical:
      return v.Bool() ? "1" : "";
    case Kind::Date:
      return DateCompact(v);
    default:
      return std::string(AllTrim(DisplayText(v)));
  }
}

std::string FormulaString(const Value& v) {
  switch (v.kind()) {
    case Kind::Nil:
      return "";
    case Kind::Text:
      return std::string(v.Str());
    case Kind::Integer:
      return PlainText(v);
    case Kind::Real: {
      double d = v.Double();
      if (d == std::trunc(d)) return PlainText(IntPart(v));
      return PlainText(v);
    }
    case Kind::Logical:
      return v.Bool() ? "1" : "";
    default:
      return std::string(AllTrim(DisplayText(v)));
  }
}

Value ValueNumber(const Value& v) {
  switch (v.kind()) {
    case Kind::Integer:
    case Kind::Real:
      return v;
    case Kind::Logical:
      return Value(v.Bool() ? 1 : 0);
    case Kind::Text: {
      std::string_view s = v.Str();
      if (s.find(',') == std::string_view::npos) return ReadNumber(s);
      std::string t(s);
      std::replace(t.begin(), t.end(), ',', '.');
      return ReadNumber(t);
    }
    default:
      return Value(0);
  }
}

double ValueDouble(const Value& v) {
  return ValueNumber(v).Double();
}

int64_t ValueInt(const Value& v) {
  return ValueNumber(v).Int();
}

bool ValueBool(const Value& v) {
  switch (v.kind()) {
    case Kind::Logical:
      return v.Bool();
    case Kind::Integer:
    case Kind::Real:
      return v.Double() != 0.0;
    case Kind::Text: {
      std::string t = Lower(AllTrim(v.Str()));
      return TextContains("1.true.t.si.y.yes", t);
    }
    default:
      return false;
  }
}

const Value& HGet(const Value& m, std::string_view key, const Value& def) {
  return m.Get(key, def);
}

bool IsEmpty(const Value& v) {
  switch (v.kind()) {
    case Kind::Nil:
      return true;
    case Kind::Logical:
      return !v.Bool();
    case Kind::Integer:
    case Kind::Real:
      return v.Double() == 0.0;
    case Kind::Text:
      return IsBlank(v.Str());
    case Kind::List:
      return v.ListPtr()->empty();
    case Kind::Map:
      return v.MapPtr()->empty();
    case Kind::Date:
      return v.Jdn() == 0;
    default:
      return false;
  }
}

// ---------------------------------------------------------------------------
// Comparison

namespace {

// -1, 0, 1 for comparable values; 2 when no order exists between them.
int Order(const Value& a, const Value& b) {
  if (a.IsNumber() && b.IsNumber()) {
    if (a.IsInt() && b.IsInt()) return a.Int() < b.Int() ? -1 : (a.Int() > b.Int() ? 1 : 0);
    double x = a.Double(), y = b.Double();
    return x < y ? -1 : (x > y ? 1 : 0);
  }
  if (a.kind() != b.kind()) return 2;
  switch (a.kind()) {
    case Kind::Text: {
      int c = a.Str().compare(b.Str());
      return c < 0 ? -1 : (c > 0 ? 1 : 0);
    }
    case Kind::Logical:
      return a.Bool() == b.Bool() ? 0 : (a.Bool() ? 1 : -1);
    case Kind::Date:
      return a.Jdn() < b.Jdn() ? -1 : (a.Jdn() > b.Jdn() ? 1 : 0);
    case Kind::Timestamp: {
      int64_t x = int64_t{a.Jdn()} * kMsPerDay + a.MsOfDay();
      int64_t y = int64_t{b.Jdn()} * kMsPerDay + b.MsOfDay();
      return x < y ? -1 : (x > y ? 1 : 0);
    }
    default:
      return 2;
  }
}

}  // namespace

bool Equal(const Value& a, const Value& b) {
  if (a.IsNumber() && b.IsNumber()) return Order(a, b) == 0;
  if (a.kind() != b.kind()) return false;
  switch (a.kind()) {
    case Kind::Nil:
      return true;
    case Kind::Text:
      return a.Str() == b.Str();
    case Kind::Logical:
    case Kind::Date:
    case Kind::Timestamp:
      return Order(a, b) == 0;
    default:
      return a.SameRef(b);
  }
}

bool Less(const Value& a, const Value& b) {
  return Order(a, b) == -1;
}
bool LessEq(const Value& a, const Value& b) {
  int o = Order(a, b);
  return o == -1 || o == 0;
}
bool Greater(const Value& a, const Value& b) {
  return Order(a, b) == 1;
}
bool GreaterEq(const Value& a, const Value& b) {
  int o = Order(a, b);
  return o == 1 || o == 0;
}

size_t FindInList(const Value& list, const Value& v) {
  const List* l = list.ListPtr();
  if (!l) return 0;
  for (size_t i = 0; i < l->size(); ++i) {
    if (Equal((*l)[i], v)) return i + 1;
  }
  return 0;
}

bool TextContains(std::string_view hay, std::string_view needle) {
  return !needle.empty() && hay.find(needle) != std::string_view::npos;
}

// ---------------------------------------------------------------------------
// Text operations

std::string_view Left(std::string_view s, int64_t n) {
  if (n <= 0) return {};
  return s.substr(0, static_cast<size_t>(std::min<int64_t>(n, static_cast<int64_t>(s.size()))));
}

std::string_view Right(std::string_view s, int64_t n) {
  if (n <= 0) return {};
  size_t k = static_cast<size_t>(std::min<int64_t>(n, static_cast<int64_t>(s.size())));
  return s.substr(s.size() - k);
}

namespace {

// 0-based offset of a 1-based start with the shared rules, or npos when past the end.
size_t StartOffset(int64_t start, size_t len) {
  int64_t n = static_cast<int64_t>(len);
  if (start == 0) start = 1;
  if (start < 0) start = std::max<int64_t>(1, n + start + 1);
  if (start > n) return std::string_view::npos;
  return static_cast<size_t>(start - 1);
}

}  // namespace

std::string_view Substr(std::string_view s, int64_t start) {
  size_t off = StartOffset(start, s.size());
  return off == std::string_view::npos ? std::string_view() : s.substr(off);
}

std::string_view Substr(std::string_view s, int64_t start, int64_t count) {
  if (count <= 0) return {};
  size_t off = StartOffset(start, s.size());
  if (off == std::string_view::npos) return {};
  return s.substr(off,
                  static_cast<size_t>(std::min<int64_t>(count, static_cast<int64_t>(s.size()))));
}

size_t At(std::string_view needle, std::string_view hay) {
  if (needle.empty()) return 0;
  size_t p = hay.find(needle);
  return p == std::string_view::npos ? 0 : p + 1;
}

size_t RAt(std::string_view needle, std::string_view hay) {
  if (needle.empty()) return 0;
  size_t p = hay.rfind(needle);
  return p == std::string_view::npos ? 0 : p + 1;
}

std::string ReplaceAll(std::string_view s, std::string_view from, std::string_view to) {
  if (from.empty()) return std::string(s);
  std::string out;
  out.reserve(s.size());
  size_t pos = 0;
  for (;;) {
    size_t hit = s.find(from, pos);
    if (hit == std::string_view::npos) break;
    out.append(s.substr(pos, hit - pos));
    out.append(to);
    pos = hit + from.size();
  }
  out.append(s.substr(pos));
  return out;
}

std::vector<std::string_view> Split(std::string_view s, std::string_view delim) {
  std::vector<std::string_view> out;
  if (delim.empty()) {
    out.push_back(s);
    return out;
  }
  size_t pos = 0;
  for (;;) {
    size_t hit = s.find(delim, pos);
    if (hit == std::string_view::npos) break;
    out.push_back(s.substr(pos, hit - pos));
    pos = hit + delim.size();
  }
  out.push_back(s.substr(pos));
  return out;
}

std::string PadLeft(std::string_view s, int64_t n) {
  if (n <= 0) return {};
  size_t w = static_cast<size_t>(std::min<int64_t>(n, 1 << 24));
  if (s.size() >= w) return std::string(s.substr(0, w));
  return std::string(w - s.size(), ' ') + std::string(s);
}

int Asc(std::string_view s) {
  return s.empty() ? 0 : static_cast<unsigned char>(s[0]);
}

std::string Chr(int64_t code) {
  return std::string(1, static_cast<char>(static_cast<uint8_t>(code & 0xFF)));
}

std::string HexByte(int64_t n) {
  static const char kHex[] = "0123456789ABCDEF";
  unsigned b = static_cast<unsigned>(n & 0xFF);
  return {kHex[b >> 4], kHex[b & 15]};
}

int64_t HexToNumber(std::string_view s) {
  if (s.empty()) return 0;
  uint64_t v = 0;
  for (char c : s) {
    int d;
    if (c >= '0' && c <= '9')
      d = c - '0';
    else if (c >= 'a' && c <= 'f')
      d = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
      d = c - 'A' + 10;
    else
      return 0;
    v = (v << 4) | static_cast<uint64_t>(d);
  }
  return static_cast<int64_t>(v);
}

// ---------------------------------------------------------------------------
// UTF-8

namespace {

bool IsContinuation(unsigned char c) {
  return (c & 0xC0) == 0x80;
}

// Byte offsets of the first `count` characters from character index `from`.
size_t CharOffset(std::string_view s, size_t chars) {
  size_t i = 0;
  while (i < s.size() && chars > 0) {
    ++i;
    while (i < s.size() && IsContinuation(static_cast<unsigned char>(s[i]))) ++i;
    --chars;
  }
  return i;
}

}  // namespace

size_t Utf8Length(std::string_view s) {
  size_t n = 0;
  for (unsigned char c : s) n += !IsContinuation(c);
  return n;
}

std::string_view Utf8Substr(std::string_view s, int64_t start) {
  size_t len = Utf8Length(s);
  size_t off = StartOffset(start, len);
  if (off == std::string_view::npos) return {};
  return s.substr(CharOffset(s, off));
}

std::string_view Utf8Substr(std::string_view s, int64_t start, int64_t count) {
  if (count <= 0) return {};
  size_t len = Utf8Length(s);
  size_t off = StartOffset(start, len);
  if (off == std::string_view::npos) return {};
  size_t b = CharOffset(s, off);
  std::string_view rest = s.substr(b);
  size_t chars = static_cast<size_t>(std::min<int64_t>(count, static_cast<int64_t>(len)));
  return rest.substr(0, CharOffset(rest, chars));
}

size_t Utf8Boundary(std::string_view s, size_t offset) {
  while (offset < s.size() && IsContinuation(static_cast<unsigned char>(s[offset]))) ++offset;
  return std::min(offset, s.size());
}

bool IsValidUtf8(std::string_view s) {
  uint32_t cp;
  for (size_t i = 0; i < s.size();) {
    const size_t len = Utf8SequenceAt(s, i, cp);
    if (len == 0) return false;
    i += len;
  }
  return true;
}

size_t Utf8SequenceAt(std::string_view s, size_t i, uint32_t& cp) {
  if (i >= s.size()) return 0;
  const unsigned char c = static_cast<unsigned char>(s[i]);
  if (c < 0x80) {
    cp = c;
    return 1;
  }
  size_t len;
  if (c >= 0xC2 && c <= 0xDF)
    len = 2, cp = c & 0x1F;
  else if (c >= 0xE0 && c <= 0xEF)
    len = 3, cp = c & 0x0F;
  else if (c >= 0xF0 && c <= 0xF4)
    len = 4, cp = c & 0x07;
  else
    return 0;
  if (len > s.size() - i) return 0;
  for (size_t k = 1; k < len; ++k) {
    const unsigned char cc = static_cast<unsigned char>(s[i + k]);
    if (!IsContinuation(cc)) return 0;
    cp = (cp << 6) | (cc & 0x3F);
  }
  const bool overlong = (len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000);
  if (overlong || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return len;
}

bool IsAscii(std::string_view s) {
  for (unsigned char c : s) {
    if (c >= 0x80) return false;
  }
  return true;
}

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

uint32_t Cp1252CodePoint(unsigned char c) {
  // 0x80..0x9F; the five unassigned bytes map to the code points of their numbers.
  static const uint16_t kHigh[32] = {
      0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
      0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
      0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
  return c >= 0x80 && c < 0xA0 ? kHigh[c - 0x80] : c;
}

std::string Cp1252ToUtf8(std::string_view s) {
  std::string out;
  out.reserve(s.size() + s.size() / 4);
  for (unsigned char c : s) AppendUtf8(out, Cp1252CodePoint(c));
  return out;
}

// ---------------------------------------------------------------------------
// Trimming and case

std::string_view LTrim(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && IsBlankChar(s[i])) ++i;
  return s.substr(i);
}

std::string_view RTrim(std::string_view s) {
  size_t n = s.size();
  while (n > 0 && s[n - 1] == ' ') --n;
  return s.substr(0, n);
}

std::string_view AllTrim(std::string_view s) {
  return RTrim(LTrim(s));
}

bool IsBlank(std::string_view s) {
  for (char c : s) {
    if (!IsBlankChar(c)) return false;
  }
  return true;
}

std::string Upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  }
  return out;
}

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  }
  return out;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// Deep clone

namespace {

constexpr int kMaxCloneDepth = 1000;

Value CloneRec(const Value& v, int depth, std::unordered_map<const Shared*, Value>& done) {
  if (!v.IsList() && !v.IsMap()) return v;
  // Past the depth bound the rest is shared rather than copied: nothing is lost.
  if (depth >= kMaxCloneDepth) return v;
  auto it = done.find(v.SharedPtr());
  if (it != done.end()) return it->second;
  if (const List* l = v.ListPtr()) {
    auto copy = MakeRef<List>();
    Value result(copy);
    done.emplace(v.SharedPtr(), result);
    copy->Reserve(l->size());
    for (const Value& e : *l) copy->Add(CloneRec(e, depth + 1, done));
    return result;
  }
  const Map& m = v.AsMap();
  auto copy = MakeRef<Map>();
  Value result(copy);
  done.emplace(v.SharedPtr(), result);
  copy->Reserve(m.size());
  for (const Map::Entry& e : m) copy->Append(e.key, CloneRec(e.value, depth + 1, done));
  return result;
}

}  // namespace

Value DeepClone(const Value& v) {
  if (!v.IsList() && !v.IsMap()) return v;
  std::unordered_map<const Shared*, Value> done;
  return CloneRec(v, 0, done);
}

// ---------------------------------------------------------------------------
// Dates (Julian day numbers, proleptic Gregorian calendar)

int32_t JdnFromYMD(int y, int m, int d) {
  if (y < 1 || y > 9999 || m < 1 || m > 12 || d < 1) return 0;
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  int maxDay = kDays[m - 1] + (m == 2 && leap ? 1 : 0);
  if (d > maxDay) return 0;
  int a = (14 - m) / 12;
  int yy = y + 4800 - a;
  int mm = m + 12 * a - 3;
  return d + (153 * mm + 2) / 5 + 365 * yy + yy / 4 - yy / 100 + yy / 400 - 32045;
}

void YMDFromJdn(int32_t jdn, int& y, int& m, int& d) {
  if (jdn <= 0) {
    y = m = d = 0;
    return;
  }
  int a = jdn + 32044;
  int b = (4 * a + 3) / 146097;
  int c = a - 146097 * b / 4;
  int dd = (4 * c + 3) / 1461;
  int e = c - 1461 * dd / 4;
  int mm = (5 * e + 2) / 153;
  d = e - (153 * mm + 2) / 5 + 1;
  m = mm + 3 - 12 * (mm / 10);
  y = 100 * b + dd - 4800 + mm / 10;
}

std::string DateCompact(const Value& date) {
  if (date.Jdn() == 0) return std::string(8, ' ');
  int y, m, d;
  YMDFromJdn(date.Jdn(), y, m, d);
  std::string out;
  Append2(out, y / 100);
  Append2(out, y % 100);
  Append2(out, m);
  Append2(out, d);
  return out;
}

Value DateFromCompact(std::string_view s) {
  if (s.size() != 8) return Value::EmptyDate();
  for (char c : s) {
    if (c < '0' || c > '9') return Value::EmptyDate();
  }
  auto num = [&](size_t from, size_t len) {
    int v = 0;
    for (size_t i = from; i < from + len; ++i) v = v * 10 + (s[i] - '0');
    return v;
  };
  return Value::DateYMD(num(0, 4), num(4, 2), num(6, 2));
}

int DateYear(const Value& date) {
  int y, m, d;
  YMDFromJdn(date.Jdn(), y, m, d);
  return y;
}

int DateMonth(const Value& date) {
  int y, m, d;
  YMDFromJdn(date.Jdn(), y, m, d);
  return m;
}

int DateDay(const Value& date) {
  int y, m, d;
  YMDFromJdn(date.Jdn(), y, m, d);
  return d;
}

int DateDow(const Value& date) {
  if (date.Jdn() == 0) return 0;
  // JDN 0 mod 7 is a Monday; shift so that Sunday is 1.
  return static_cast<int>((date.Jdn() + 1) % 7) + 1;
}

}  // namespace kx
