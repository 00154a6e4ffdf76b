#include "Value.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <new>
#include <unordered_map>

#include "ValueInterno.h"

namespace kx {

const Value kNil;

namespace {

using detail::kMsPerDay;
using detail::TextRep;

constexpr size_t kInlineText = 14;

uint64_t HashBytes(std::string_view s) noexcept {
  uint64_t h = 1469598103934665603ull;
  for (unsigned char c : s) {
    h ^= c;
    h *= 1099511628211ull;
  }
  return h ^ (h >> 29);
}

}  // namespace

namespace detail {

namespace {

// Values nested up to this depth are released in place, child before parent,
// as any destructor would; deeper ones go through a work list.
constexpr int kReleaseInPlaceDepth = 64;

// How deep the releases under way on this thread are nested.
thread_local int tReleaseDepth = 0;
// The work list of the release that went past the depth, or null.
thread_local std::vector<Value>* tPendingRelease = nullptr;

bool LastHolderOfContainer(const Value& v) noexcept {
  return (v.IsList() || v.IsMap()) && v.SharedPtr()->RefCount() == 1;
}

}  // namespace

bool EnterInPlaceRelease() noexcept {
  if (tReleaseDepth >= kReleaseInPlaceDepth) return false;
  ++tReleaseDepth;
  return true;
}

void LeaveInPlaceRelease() noexcept {
  --tReleaseDepth;
}

// Past the depth, a container released while the work list is in use moves
// its own last-held containers onto that list instead of releasing them in
// place, so destructors never nest deeper than the depth and one level.
void ReleaseDeep(Value* values, size_t n) noexcept {
  if (tPendingRelease) {
    for (size_t i = 0; i < n; ++i) {
      if (LastHolderOfContainer(values[i])) tPendingRelease->push_back(std::move(values[i]));
    }
    return;
  }
  // Child by child, depth first: the work list holds one path's worth of
  // pending siblings, not every container of a wide value at once.
  std::vector<Value> pending;
  tPendingRelease = &pending;
  for (size_t i = 0; i < n; ++i) {
    if (!LastHolderOfContainer(values[i])) continue;
    pending.push_back(std::move(values[i]));
    while (!pending.empty()) {
      Value last = std::move(pending.back());
      pending.pop_back();
      // `last` goes at the end of this step: its own last-held containers join `pending`.
    }
  }
  tPendingRelease = nullptr;
}

namespace {

// Sanitizers see every block come and go: nothing is kept for them.
#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || \
    __has_feature(memory_sanitizer)
#define KX_POOL_BYPASS 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__) || defined(KX_POOL_BYPASS)
constexpr bool kPoolKeeps = false;
#else
constexpr bool kPoolKeeps = true;
#endif
constexpr size_t kPoolGranule = 16;
constexpr size_t kPoolClasses = 128;        // blocks up to 2 KiB
constexpr size_t kPoolMaxBytes = 8u << 20;  // kept per thread at most

struct FreeBlock {
  FreeBlock* next;
};

// Constant-initialised, no destructor: read without a guard on every block.
struct BlockPool {
  FreeBlock* aLibres[kPoolClasses];
  size_t nBytes;
  bool lRegistrado;  // the thread's drain is set up
  bool lCerrado;     // the thread is ending: blocks go straight back
};
thread_local BlockPool tBlockPool{};

// Hands every kept block back when its thread ends.
struct PoolDrain {
  ~PoolDrain() {
    BlockPool& pool = tBlockPool;
    pool.lCerrado = true;
    for (size_t c = 0; c < kPoolClasses; ++c) {
      while (FreeBlock* b = pool.aLibres[c]) {
        pool.aLibres[c] = b->next;
        ::operator delete(b);
      }
    }
    pool.nBytes = 0;
  }
};

// Classes follow the general allocator's own steps (16 bytes, a word of
// which its header takes), so a block asked for a class takes no more
// memory than the block the allocator would have given for the request.
constexpr size_t kPoolHeader = 8;

size_t PoolClass(size_t bytes) noexcept {
  return (bytes + kPoolHeader + kPoolGranule - 1) / kPoolGranule;
}

size_t PoolBlockBytes(size_t c) noexcept {
  return c * kPoolGranule - kPoolHeader;
}

}  // namespace

void* PoolAllocate(size_t bytes) {
  const size_t c = PoolClass(bytes);
  if (c >= kPoolClasses) return ::operator new(bytes);
  BlockPool& pool = tBlockPool;
  if (FreeBlock* b = pool.aLibres[c]) {
    pool.aLibres[c] = b->next;
    pool.nBytes -= c * kPoolGranule;
    return b;
  }
  return ::operator new(PoolBlockBytes(c));
}

void PoolFree(void* p, size_t bytes) noexcept {
  if (!p) return;
  const size_t c = PoolClass(bytes);
  BlockPool& pool = tBlockPool;
  if (!kPoolKeeps || c >= kPoolClasses || pool.lCerrado ||
      pool.nBytes + c * kPoolGranule > kPoolMaxBytes) {
    ::operator delete(p);
    return;
  }
  if (!pool.lRegistrado) {
    pool.lRegistrado = true;
    static thread_local PoolDrain drain;
    (void)drain;
  }
  FreeBlock* b = static_cast<FreeBlock*>(p);
  b->next = pool.aLibres[c];
  pool.aLibres[c] = b;
  pool.nBytes += c * kPoolGranule;
}

}  // namespace detail

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
  p->AddRef();
  SetWordsPayload(Head(k, 0), p);
}

namespace {

uint64_t LoadLittle(const char* p, size_t n) noexcept {
  uint64_t w = 0;
  std::memcpy(&w, p, n);
  return w;
}

// Bytes 0 to 7 of a text of at most 16 bytes in `lo`, the rest in `hi`
// (little endian, zeros past the end), read without passing its last byte.
void InlineTextWords(std::string_view s, uint64_t& lo, uint64_t& hi) noexcept {
  const char* p = s.data();
  const size_t n = s.size();
  if (n >= 8) {
    lo = LoadLittle(p, 8);
    hi = n > 8 ? LoadLittle(p + n - 8, 8) >> (8 * (16 - n)) : 0;
  } else if (n >= 4) {
    // Two overlapping reads: the bytes they share are the same.
    lo = LoadLittle(p, 4) | LoadLittle(p + n - 4, 4) << (8 * (n - 4));
  } else if (n > 0) {
    lo = uint64_t{static_cast<uint8_t>(p[0])} |
         uint64_t{static_cast<uint8_t>(p[n / 2])} << (8 * (n / 2)) |
         uint64_t{static_cast<uint8_t>(p[n - 1])} << (8 * (n - 1));
  }
}

}  // namespace

void Value::SetText(std::string_view s) {
  if (s.size() <= kInlineText) {
    if constexpr (std::endian::native == std::endian::little) {
      // The text's bytes go straight into the two words: bytes copied aside
      // and read back as words would make the processor wait for the copy.
      uint64_t lo = 0, hi = 0;
      InlineTextWords(s, lo, hi);
      SetWords(Head(Kind::Text, static_cast<uint8_t>(s.size())) | lo << 16, lo >> 48 | hi << 16);
      return;
    }
    // Assembled aside, then written as the two words.
    unsigned char bytes[sizeof(Value)] = {static_cast<unsigned char>(Kind::Text),
                                          static_cast<unsigned char>(s.size())};
    if (!s.empty()) std::memcpy(bytes + 2, s.data(), s.size());
    uint64_t w0, w1;
    std::memcpy(&w0, bytes, sizeof w0);
    std::memcpy(&w1, bytes + 8, sizeof w1);
    SetWords(w0, w1);
  } else {
    Shared* rep = TextRep::Make(s);
    rep->AddRef();
    SetWordsPayload(Head(Kind::Text, kHeapText), rep);
  }
}

Value Value::Real(double d, int decimals) {
  Value v;
  v.SetRealPayload(d, static_cast<uint8_t>(std::clamp(decimals, 0, kMaxDecimals)));
  return v;
}

namespace {

int32_t DayOfValidDate(int32_t jdn) {
  return jdn < kFirstDateJdn || jdn > kLastDateJdn ? 0 : jdn;
}

}  // namespace

Value Value::Date(int32_t jdn) {
  Value v;
  v.SetWordsPayload(Head(Kind::Date, 0), static_cast<int64_t>(DayOfValidDate(jdn)));
  return v;
}

Value Value::DateYMD(int y, int m, int d) {
  return Date(JdnFromYMD(y, m, d));
}

Value Value::Timestamp(int32_t jdn, int32_t msOfDay) {
  Value v;
  const int32_t day = DayOfValidDate(jdn);
  const int64_t ms = day == 0 ? 0 : std::clamp<int64_t>(msOfDay, 0, kMsPerDay - 1);
  v.SetWordsPayload(Head(Kind::Timestamp, 0), int64_t{day} * kMsPerDay + ms);
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

int Value::Decimals() const noexcept {
  if (kind_ != Kind::Real) return 0;
  if (aux_ == kNaturalDecimals) return detail::NaturalDecimals(Payload<double>());
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

void Value::Set(std::string_view key, Value v) {
  if (Map* m = MapPtr()) m->Set(key, std::move(v));
}

void Value::Push(Value v) {
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

Value Value::PermanentText(const detail::TextRep* rep) noexcept {
  Value text;
  text.SetWordsPayload(Head(Kind::Text, kPermanentText),
                       static_cast<Shared*>(const_cast<TextRep*>(rep)));
  return text;
}

Value Value::Permanent(const Value& v) {
  if (!v.IsShared()) return v;
  // Never freed: a permanent text may be copied anywhere until the process ends.
  return v.IsText() ? PermanentText(TextRep::Make(v.Str())) : Value();
}

namespace {

// The pool of long keys: the engine's maps use a fixed vocabulary of them
// ("alineacionVertical", "OMEMQUERY.rsocialc"), one permanent text each
// instead of one per map. Every engine on every thread reads it, without a
// lock: open addressing over slots that only ever go from empty to a key,
// each published with release and read with acquire. It is bounded, so keys
// from arbitrary data cannot grow it without end: past its size, or for a
// key too long to be vocabulary, KeyText answers a counted text of its own.
constexpr size_t kPoolSlots = 16384;
constexpr size_t kMaxPooled = kPoolSlots / 2;  // probe chains stay short
constexpr size_t kMaxPooledKey = 128;
std::atomic<const TextRep*> gPool[kPoolSlots];
std::atomic<size_t> gPooled{0};

}  // namespace

Value KeyText(std::string_view key) {
  if (key.size() <= kInlineText) return Value(key);
  if (key.size() > kMaxPooledKey) return Value(key);
  constexpr size_t mask = kPoolSlots - 1;
  TextRep* made = nullptr;
  for (size_t slot = HashBytes(key) & mask;; slot = (slot + 1) & mask) {
    const TextRep* rep = gPool[slot].load(std::memory_order_acquire);
    if (rep == nullptr) {
      if (!made) {
        if (gPooled.fetch_add(1, std::memory_order_relaxed) >= kMaxPooled) {
          gPooled.fetch_sub(1, std::memory_order_relaxed);
          return Value(key);
        }
        made = TextRep::Make(key);
      }
      // Another thread may fill the slot first: then it is looked at as any other.
      if (gPool[slot].compare_exchange_strong(rep, made, std::memory_order_acq_rel,
                                              std::memory_order_acquire))
        return Value::PermanentText(made);
    }
    if (rep->View() == key) {
      if (made) {
        delete made;  // another thread pooled the same key first
        gPooled.fetch_sub(1, std::memory_order_relaxed);
      }
      return Value::PermanentText(rep);
    }
  }
}

// ---------------------------------------------------------------------------
// List and Map

namespace {

// Key versions are unique in the process: each thread takes a block of them
// at a time from one atomic counter and hands them out on its own.
constexpr uint64_t kKeyVersionBlock = 4096;
std::atomic<uint64_t> gKeyVersionBlocks{0};
thread_local uint64_t tNextKeyVersion = 0;
thread_local uint64_t tKeyVersionsEnd = 0;

}  // namespace

void Map::Touch() noexcept {
  if (tNextKeyVersion == tKeyVersionsEnd) [[unlikely]] {
    // Versions start at 1: 0 is the version of a map that was never touched.
    tNextKeyVersion = gKeyVersionBlocks.fetch_add(kKeyVersionBlock, std::memory_order_relaxed) + 1;
    tKeyVersionsEnd = tNextKeyVersion + kKeyVersionBlock;
  }
  nKeyVersion_ = tNextKeyVersion++;
}

const Map::KeyStore Map::kNoKeys;

// Copying never changes the map copied, so threads may copy a constant map at once.
Map::Map(const Map& o) : Shared(), keys_(o.keys_), values_(o.values_) {
  Touch();
}

Map& Map::operator=(const Map& o) {
  if (this == &o) return *this;
  keys_ = o.keys_;
  values_ = o.values_;
  Touch();
  return *this;
}

Map::KeyStore& Map::MutableKeys() {
  if (!keys_) {
    keys_ = KeysRef(new SharedKeys(KeyStore{}, false));
  } else if (!keys_.Unique()) {
    // Another map (or a constant one) holds the table: this map takes a copy of its own.
    keys_ = KeysRef(new SharedKeys(keys_->store, false));
  }
  return keys_->store;
}

void Map::Reserve(size_t n) {
  values_.reserve(n);
  if (!keys_ || keys_.Unique()) MutableKeys().keys.reserve(n);
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

void Map::MakeConstant() {
  KeyStore& k = MutableKeys();
  for (Value& key : k.keys) key = Value::Permanent(key);
  for (Value& v : values_) v = Value::Permanent(v);
  KeysRef constante(new SharedKeys(std::move(k), true));
  keys_ = constante;
}

const Map& ConstantMap(std::initializer_list<std::pair<std::string_view, Value>> items) {
  // Never freed: engines may hold copies of it until the process ends.
  auto* m = new Map();
  m->Reserve(items.size());
  for (const auto& [k, v] : items) m->Set(k, v);
  m->MakeConstant();
  return *m;
}

void Map::Clear() noexcept {
  Touch();
  keys_.reset();
  values_.clear();
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

}  // namespace kx
