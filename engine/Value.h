// The dynamic value that every part of the engine passes around.
//
// A `Value` is 16 bytes: a kind tag, one auxiliary byte and a payload.
//  - Texts up to 14 bytes live inline; longer texts are shared, immutable,
//    reference-counted byte strings. Copying a text never allocates.
//  - Lists, maps, objects and callables are shared by reference (intrusive
//    counts, single-threaded); `DeepClone` copies lists and maps. Releasing
//    the last reference to a value nested any depth does not recurse.
//  - Threads: a value belongs to one engine, and an engine is used by one
//    thread at a time, so counts need no atomics. What every engine reads
//    (pooled keys, constant maps) is permanent and never counted.
//  - A real carries a decimals count that decides its text form only.
//
// `Map` invariants (tested in Value_test):
//  - keys are texts, unique, compared byte for byte;
//  - iteration follows insertion order;
//  - assigning a present key replaces its value in place, an absent key is
//    appended, removing keeps the order of the rest;
//  - past a handful of keys a hash index over the key bytes is kept, so
//    `Find` and `Set` stay O(1) for rendered objects of 25 to 60 keys.
//
// What the engine does with values has headers of its own, all included
// here: ValueNumber.h (arithmetic, reading and rounding numbers), ValueText.h
// (text forms, shared conversions, comparison), ValueUtf8.h (byte and UTF-8
// texts, trimming, case) and ValueDate.h (dates).
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <memory>
#include <new>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "ValueDate.h"
#include "ValueNumber.h"
#include "ValueText.h"
#include "ValueUtf8.h"

namespace kx {

enum class Kind : uint8_t {
  Nil,
  Logical,
  Integer,
  Real,
  Text,
  Date,
  Timestamp,
  List,
  Map,
  Object,
  Callable,
};

// Base of everything a Value holds by reference. Counts are not atomic: no
// counted object is reachable from two engines (see the header comment).
class Shared {
 public:
  Shared() = default;
  Shared(const Shared&) : nRefs_(0) {}
  Shared& operator=(const Shared&) { return *this; }
  virtual ~Shared() = default;

  void AddRef() const noexcept { ++nRefs_; }
  void Release() const noexcept {
    if (--nRefs_ == 0) delete this;
  }
  uint32_t RefCount() const noexcept { return nRefs_; }

 private:
  mutable uint32_t nRefs_ = 0;
};

// Intrusive shared pointer for `Shared` descendants.
template <class T>
class Ref {
 public:
  Ref() noexcept = default;
  Ref(std::nullptr_t) noexcept {}
  explicit Ref(T* p) noexcept : p_(p) {
    if (p_) p_->AddRef();
  }
  Ref(const Ref& o) noexcept : p_(o.p_) {
    if (p_) p_->AddRef();
  }
  Ref(Ref&& o) noexcept : p_(o.p_) { o.p_ = nullptr; }
  template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
  Ref(const Ref<U>& o) noexcept : p_(o.get()) {
    if (p_) p_->AddRef();
  }
  ~Ref() {
    if (p_) p_->Release();
  }
  Ref& operator=(Ref o) noexcept {
    std::swap(p_, o.p_);
    return *this;
  }
  T* get() const noexcept { return p_; }
  T* operator->() const noexcept { return p_; }
  T& operator*() const noexcept { return *p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }
  void reset() noexcept { Ref().swap(*this); }
  void swap(Ref& o) noexcept { std::swap(p_, o.p_); }
  friend bool operator==(const Ref& a, const Ref& b) { return a.p_ == b.p_; }

 private:
  T* p_ = nullptr;
};

template <class T, class... Args>
Ref<T> MakeRef(Args&&... args) {
  return Ref<T>(new T(std::forward<Args>(args)...));
}

// An instance of one of the engine's classes carried inside a Value.
class KXObject : public Shared {
 public:
  // Class name, for diagnostics and "asked for by name" tests.
  virtual std::string_view ClassName() const { return "KXObject"; }
};

class Value;
class List;
class Map;

namespace detail {

// Blocks of the sizes values are made of (maps, their value arrays, long
// texts), freed and made again by the thousand per page: a freed one is
// kept (per thread, up to a bound) for the next one of its size, where the
// general allocator keeps a handful at most.
void* PoolAllocate(size_t bytes);
void PoolFree(void* p, size_t bytes) noexcept;

// Heap storage of a text longer than the inline capacity: the bytes follow
// the header in one allocation.
class TextRep final : public Shared {
 public:
  static TextRep* Make(std::string_view s) {
    void* mem = PoolAllocate(Bytes(s.size()));
    auto* rep = new (mem) TextRep(s.size());
    std::memcpy(rep->Data(), s.data(), s.size());
    rep->Data()[s.size()] = '\0';
    return rep;
  }
  // The block's size follows from the text's length, read before it goes.
  static void operator delete(TextRep* rep, std::destroying_delete_t) noexcept {
    const size_t bytes = Bytes(rep->n_);
    rep->~TextRep();
    PoolFree(rep, bytes);
  }
  std::string_view View() const { return {Data(), n_}; }

 private:
  explicit TextRep(size_t n) : n_(n) {}
  static size_t Bytes(size_t n) noexcept { return sizeof(TextRep) + n + 1; }
  char* Data() { return reinterpret_cast<char*>(this + 1); }
  const char* Data() const { return reinterpret_cast<const char*>(this + 1); }
  size_t n_;
};

}  // namespace detail

// A function value handed in as a callback.
class Callable : public Shared {
 public:
  using Fn = std::function<Value(std::span<const Value>)>;
  explicit Callable(Fn fn) : fn_(std::move(fn)) {}
  Value Call(std::span<const Value> args) const;

 private:
  Fn fn_;
};

// Reals built from C++ doubles without a stated count use this marker: their
// decimals count is the one their shortest exact text needs.
inline constexpr uint8_t kNaturalDecimals = 0xFF;
// No real ever carries more decimals than this.
inline constexpr int kMaxDecimals = 30;

class Value {
 public:
  // A value is written and read as its two words whole, never byte by byte:
  // a copy of a value just made reads what the making wrote, at once.
  Value() noexcept { SetWords(0, 0); }
  Value(std::nullptr_t) noexcept : Value() {}
  Value(bool b) noexcept { SetWords(Head(Kind::Logical, b ? 1 : 0), 0); }
  template <class T>
  requires(std::is_integral_v<T> && !std::is_same_v<T, bool> && !std::is_same_v<T, char>) Value(T i)
  noexcept {
    if constexpr (std::is_unsigned_v<T> && sizeof(T) >= sizeof(int64_t)) {
      if (i > static_cast<T>(INT64_MAX)) {
        SetRealPayload(static_cast<double>(i), 0);
        return;
      }
    }
    SetWordsPayload(Head(Kind::Integer, 0), static_cast<int64_t>(i));
  }
  // A real with the natural decimals count (see kNaturalDecimals).
  Value(double d) noexcept { SetRealPayload(d, kNaturalDecimals); }
  Value(std::string_view s) { SetText(s); }
  Value(const char* s) : Value(std::string_view(s ? s : "")) {}
  Value(const std::string& s) : Value(std::string_view(s)) {}
  Value(Ref<List> l) noexcept;
  Value(Ref<Map> m) noexcept;
  Value(Ref<KXObject> o) noexcept;
  Value(Ref<Callable> c) noexcept;

  Value(const Value& o) noexcept {
    SetWords(o.Word(0), o.Word(1));
    if (IsShared()) Ptr()->AddRef();
  }
  Value(Value&& o) noexcept {
    SetWords(o.Word(0), o.Word(1));
    o.SetWords(0, 0);
  }
  Value& operator=(const Value& o) noexcept {
    Value tmp(o);
    Swap(tmp);
    return *this;
  }
  Value& operator=(Value&& o) noexcept {
    Value tmp(std::move(o));
    Swap(tmp);
    return *this;
  }
  ~Value() {
    if (IsShared()) Ptr()->Release();
  }
  void Swap(Value& o) noexcept {
    const uint64_t w0 = Word(0), w1 = Word(1);
    SetWords(o.Word(0), o.Word(1));
    o.SetWords(w0, w1);
  }

  // Factories.
  static Value Real(double d, int decimals);
  static Value Text(std::string_view s) { return Value(s); }
  // 0, and any day number outside the years 1 to 9999, is the empty date.
  static Value Date(int32_t jdn);
  static Value DateYMD(int y, int m, int d);  // an invalid date gives the empty date
  static Value EmptyDate() { return Date(0); }
  // A day outside the years 1 to 9999 gives the empty date's timestamp; the
  // milliseconds are kept inside the day.
  static Value Timestamp(int32_t jdn, int32_t msOfDay);
  static Value NewList();
  static Value NewList(std::initializer_list<Value> items);
  static Value NewMap();
  static Value NewMap(std::initializer_list<std::pair<std::string_view, Value>> items);
  static Value Object(Ref<KXObject> o) { return Value(std::move(o)); }
  static Value Function(Callable::Fn fn);

  Kind kind() const noexcept { return kind_; }
  bool IsNil() const noexcept { return kind_ == Kind::Nil; }
  bool IsLogical() const noexcept { return kind_ == Kind::Logical; }
  bool IsInt() const noexcept { return kind_ == Kind::Integer; }
  bool IsReal() const noexcept { return kind_ == Kind::Real; }
  bool IsNumber() const noexcept { return kind_ == Kind::Integer || kind_ == Kind::Real; }
  bool IsText() const noexcept { return kind_ == Kind::Text; }
  bool IsDate() const noexcept { return kind_ == Kind::Date; }
  bool IsTimestamp() const noexcept { return kind_ == Kind::Timestamp; }
  bool IsList() const noexcept { return kind_ == Kind::List; }
  bool IsMap() const noexcept { return kind_ == Kind::Map; }
  bool IsObject() const noexcept { return kind_ == Kind::Object; }
  bool IsCallable() const noexcept { return kind_ == Kind::Callable; }

  // Payload readers; each answers a neutral value for another kind.
  bool Bool() const noexcept { return kind_ == Kind::Logical && aux_ != 0; }
  int64_t Int() const noexcept;           // integer, or a real truncated and saturated; else 0
  double Double() const noexcept;         // number as double; else 0
  int Decimals() const noexcept;          // 0 for an integer and for non-numbers
  std::string_view Str() const noexcept;  // "" for non-texts
  int32_t Jdn() const noexcept;           // date's day number, 0 when empty or not a date
  int32_t MsOfDay() const noexcept;       // timestamp's milliseconds of the day

  List* ListPtr() const noexcept;
  Map* MapPtr() const noexcept;
  KXObject* ObjectPtr() const noexcept {
    return kind_ == Kind::Object ? static_cast<KXObject*>(Ptr()) : nullptr;
  }
  template <class T>
  T* As() const noexcept {
    return dynamic_cast<T*>(ObjectPtr());
  }
  Callable* CallablePtr() const noexcept {
    return kind_ == Kind::Callable ? static_cast<Callable*>(Ptr()) : nullptr;
  }
  // Kind-checked access; only call after testing the kind. Not on temporaries:
  // `for (auto& e : F().AsList())` would walk a list already freed.
  List& AsList() const& noexcept { return *ListPtr(); }
  Map& AsMap() const& noexcept { return *MapPtr(); }
  List& AsList() const&& = delete;
  Map& AsMap() const&& = delete;

  // Map convenience: the value under `key`, or nothing (also for non-maps).
  const Value& Get(std::string_view key) const noexcept;
  // The value under `key` when this is a map holding it, else `def`.
  const Value& Get(std::string_view key, const Value& def) const noexcept;
  bool Has(std::string_view key) const noexcept;
  // Sets a key of a map; does nothing for other kinds.
  void Set(std::string_view key, Value v);
  // Appends to a list; does nothing for other kinds.
  void Push(Value v);
  // Elements of a list, entries of a map, bytes of a text; 0 for others.
  size_t Len() const noexcept;

  // Same reference (lists, maps, objects, callables) or same scalar bits.
  bool SameRef(const Value& o) const noexcept {
    // Identical bits answer at once; the slow road handles values whose
    // unused bytes differ.
    if (((Word(0) ^ o.Word(0)) | (Word(1) ^ o.Word(1))) == 0) return true;
    return SameRefSlow(o);
  }
  // A hash that agrees with SameRef: equal for values that are SameRef.
  uint64_t IdentityHash() const noexcept;
  Shared* SharedPtr() const noexcept { return IsShared() ? Ptr() : nullptr; }

  // For the page serialiser: the raw decimals byte of a real.
  uint8_t RawDecimals() const noexcept { return kind_ == Kind::Real ? aux_ : 0; }

 private:
  // Markers of a long text in aux_: counted, or permanent (never counted nor
  // freed, so any thread may copy it). Both point at a TextRep.
  static constexpr uint8_t kHeapText = 0xFF;
  static constexpr uint8_t kPermanentText = 0xFE;
  friend class Map;
  friend Value KeyText(std::string_view key);
  // `v` with no count to follow: a long text as a permanent copy, a list,
  // map, object or callable as nothing. For what every engine reads.
  static Value Permanent(const Value& v);
  static Value PermanentText(const detail::TextRep* rep) noexcept;
  bool SameRefSlow(const Value& o) const noexcept;

  // Every copy and destruction asks this: one mask test for the reference kinds.
  bool IsShared() const noexcept {
    constexpr unsigned kReferenceKinds =
        (1u << static_cast<unsigned>(Kind::List)) | (1u << static_cast<unsigned>(Kind::Map)) |
        (1u << static_cast<unsigned>(Kind::Object)) | (1u << static_cast<unsigned>(Kind::Callable));
    return ((1u << static_cast<unsigned>(kind_)) & kReferenceKinds) != 0 ||
           (kind_ == Kind::Text && aux_ == kHeapText);
  }
  template <class T>
  T Payload() const noexcept {
    T v;
    std::memcpy(&v, raw_ + 6, sizeof(T));
    return v;
  }
  // Word 0 holds the kind, the auxiliary byte and the first six inline text
  // bytes; word 1 the payload (or the last eight inline text bytes).
  uint64_t Word(int i) const noexcept {
    uint64_t w;
    std::memcpy(&w, reinterpret_cast<const char*>(this) + 8 * i, sizeof w);
    return w;
  }
  void SetWords(uint64_t w0, uint64_t w1) noexcept {
    std::memcpy(reinterpret_cast<char*>(this), &w0, sizeof w0);
    std::memcpy(reinterpret_cast<char*>(this) + 8, &w1, sizeof w1);
  }
  // Word 0 of a value with nothing in the six inline bytes.
  static uint64_t Head(Kind k, uint8_t aux) noexcept {
    // Computed in a register: bytes stored one by one and read back as one
    // word make the processor wait for the stores.
    if constexpr (std::endian::native == std::endian::little) {
      return uint64_t{static_cast<uint8_t>(k)} | uint64_t{aux} << 8;
    } else {
      const unsigned char bytes[8] = {static_cast<unsigned char>(k), aux, 0, 0, 0, 0, 0, 0};
      uint64_t w;
      std::memcpy(&w, bytes, sizeof w);
      return w;
    }
  }
  template <class T>
  void SetWordsPayload(uint64_t head, T payload) noexcept {
    static_assert(sizeof(T) == sizeof(uint64_t));
    uint64_t w;
    std::memcpy(&w, &payload, sizeof w);
    SetWords(head, w);
  }
  Shared* Ptr() const noexcept { return Payload<Shared*>(); }
  void SetShared(Kind k, Shared* p) noexcept;
  void SetText(std::string_view s);
  // Inline, so that a real just made is written whole where it goes.
  void SetRealPayload(double d, uint8_t decimals) noexcept {
    SetWordsPayload(Head(Kind::Real, decimals), SaneDouble(d));
  }

  // Every constructor writes both words whole.
  Kind kind_;
  uint8_t aux_;  // logical flag, real decimals, inline text length or kHeapText
  alignas(2) char raw_[14];
};
static_assert(sizeof(Value) == 16, "Value must stay two words");

// The shared nothing, for readers that answer a reference.
extern const Value kNil;

// A text value for a map key: long keys of the engine's vocabulary are pooled
// permanent texts, so building maps does not allocate their keys again and
// again. Any thread may ask.
Value KeyText(std::string_view key);

namespace detail {
// Releases the lists and maps among `values` that nothing else holds, without
// recursion: the last reference to a value nested any number of levels deep
// goes with a bounded stack. The destructors of List and Map call it.
bool EnterInPlaceRelease() noexcept;  // true: release in place, then leave
void LeaveInPlaceRelease() noexcept;
void ReleaseDeep(Value* values, size_t n) noexcept;
template <class Vector>
void ReleaseNested(Vector& values) noexcept {
  if (values.empty()) return;
  if (EnterInPlaceRelease()) {
    values.clear();
    LeaveInPlaceRelease();
    return;
  }
  ReleaseDeep(values.data(), values.size());
}

// A standard allocator over the pool.
template <class T>
struct PoolAllocator {
  using value_type = T;
  PoolAllocator() noexcept = default;
  template <class U>
  PoolAllocator(const PoolAllocator<U>&) noexcept {}
  T* allocate(size_t n) {
    if (n > SIZE_MAX / sizeof(T)) throw std::bad_array_new_length();
    return static_cast<T*>(PoolAllocate(n * sizeof(T)));
  }
  void deallocate(T* p, size_t n) noexcept { PoolFree(p, n * sizeof(T)); }
  friend bool operator==(const PoolAllocator&, const PoolAllocator&) noexcept { return true; }
};
}  // namespace detail

class List : public Shared {
 public:
  List() = default;
  explicit List(std::vector<Value> items) : items_(std::move(items)) {}
  ~List() override { detail::ReleaseNested(items_); }
  size_t size() const noexcept { return items_.size(); }
  bool empty() const noexcept { return items_.empty(); }
  // 0-based element access.
  Value& operator[](size_t i) noexcept { return items_[i]; }
  const Value& operator[](size_t i) const noexcept { return items_[i]; }
  void Add(Value v) { items_.push_back(std::move(v)); }
  void Reserve(size_t n) { items_.reserve(n); }
  void Clear() noexcept { items_.clear(); }
  void Resize(size_t n) { items_.resize(n); }
  auto begin() noexcept { return items_.begin(); }
  auto end() noexcept { return items_.end(); }
  auto begin() const noexcept { return items_.begin(); }
  auto end() const noexcept { return items_.end(); }
  std::vector<Value>& Items() noexcept { return items_; }
  const std::vector<Value>& Items() const noexcept { return items_; }

 private:
  std::vector<Value> items_;
};

class Map : public Shared {
  struct KeyStore {
    std::vector<Value> keys;      // always texts
    std::vector<uint32_t> index;  // open addressing: position + 1, 0 = empty slot
  };
  struct SharedKeys final : public Shared {
    SharedKeys(KeyStore k, bool constant) : store(std::move(k)), lConstante(constant) {}
    static void* operator new(size_t bytes) { return detail::PoolAllocate(bytes); }
    static void operator delete(void* p, size_t bytes) noexcept { detail::PoolFree(p, bytes); }
    KeyStore store;
    // The table of a constant map: never counted, never freed.
    const bool lConstante;
  };
  // Holds a shared key table, counting the reference unless it is a constant map's.
  class KeysRef {
   public:
    KeysRef() noexcept = default;
    explicit KeysRef(SharedKeys* p) noexcept : p_(p) { Hold(); }
    KeysRef(const KeysRef& o) noexcept : p_(o.p_) { Hold(); }
    KeysRef& operator=(KeysRef o) noexcept {
      std::swap(p_, o.p_);
      return *this;
    }
    ~KeysRef() {
      if (p_ && !p_->lConstante) p_->Release();
    }
    SharedKeys* operator->() const noexcept { return p_; }
    SharedKeys* get() const noexcept { return p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }
    void reset() noexcept { KeysRef().swap(*this); }
    void swap(KeysRef& o) noexcept { std::swap(p_, o.p_); }
    // Nobody else holds the table, so its keys may be taken rather than copied.
    bool Unique() const noexcept { return !p_->lConstante && p_->RefCount() == 1; }

   private:
    void Hold() const noexcept {
      if (p_ && !p_->lConstante) p_->AddRef();
    }
    SharedKeys* p_ = nullptr;
  };

 public:
  // A view of one entry; the value may be assigned through it.
  struct Entry {
    const Value& key;  // always a text
    Value& value;
  };

  template <bool kConst>
  class Iterator {
   public:
    using MapType = std::conditional_t<kConst, const Map, Map>;
    Iterator(MapType* m, size_t i) : m_(m), i_(i) {}
    Entry operator*() const { return m_->EntryAt(i_); }
    Iterator& operator++() {
      ++i_;
      return *this;
    }
    bool operator==(const Iterator& o) const { return i_ == o.i_; }
    bool operator!=(const Iterator& o) const { return i_ != o.i_; }

   private:
    MapType* m_;
    size_t i_;
  };

  Map() = default;
  ~Map() override { detail::ReleaseNested(values_); }
  static void* operator new(size_t bytes) { return detail::PoolAllocate(bytes); }
  static void operator delete(void* p, size_t bytes) noexcept { detail::PoolFree(p, bytes); }
  // A copy shares the key table (and its index) until either map changes its keys.
  // A copy of a constant map (ConstantMap) changes nothing in it.
  Map(const Map& o);
  Map& operator=(const Map& o);

  size_t size() const noexcept { return values_.size(); }
  bool empty() const noexcept { return values_.empty(); }
  // Position of `key` (0-based), or npos.
  size_t IndexOf(std::string_view key) const noexcept;
  static constexpr size_t npos = static_cast<size_t>(-1);
  Value* Find(std::string_view key) noexcept;
  const Value* Find(std::string_view key) const noexcept;
  bool Has(std::string_view key) const noexcept { return IndexOf(key) != npos; }
  const Value& Get(std::string_view key, const Value& def = kNil) const noexcept;
  // Replaces in place when present, appends otherwise. Answers the stored slot.
  Value& Set(std::string_view key, Value v);
  Value& SetKey(const Value& key, Value v);  // `key` must be a text; shares its bytes
  // Appends without testing for the key: only for keys known to be absent.
  Value& Append(Value key, Value v);
  bool Remove(std::string_view key);
  // Removes the last entry in O(1); false for an empty map.
  bool PopBack();
  void Clear() noexcept;
  void Reserve(size_t n);

  // Changes whenever the set of keys changes (append, remove, clear), never
  // on a value replacement; unique across all maps of the process (on every
  // thread), so a cache of key positions may validate itself with (map,
  // KeyVersion()).
  uint64_t KeyVersion() const noexcept { return nKeyVersion_; }
  // Maps whose keys are one table (copies of one map, until either changes
  // its keys) answer the same identity; two maps with the same identity at
  // one moment hold the same keys in the same order.
  const void* KeyTableIdentity() const noexcept {
    return keys_ ? static_cast<const void*>(keys_.get()) : static_cast<const void*>(this);
  }

  Entry EntryAt(size_t i) noexcept { return {Keys().keys[i], values_[i]}; }
  Entry EntryAt(size_t i) const noexcept {
    // Entries of a const map are read only by convention: the view is shared.
    return {Keys().keys[i], const_cast<Value&>(values_[i])};
  }
  std::string_view KeyAt(size_t i) const noexcept { return Keys().keys[i].Str(); }
  Value& ValueAt(size_t i) noexcept { return values_[i]; }
  const Value& ValueAt(size_t i) const noexcept { return values_[i]; }
  Iterator<false> begin() noexcept { return {this, 0}; }
  Iterator<false> end() noexcept { return {this, values_.size()}; }
  Iterator<true> begin() const noexcept { return {this, 0}; }
  Iterator<true> end() const noexcept { return {this, values_.size()}; }

 private:
  static constexpr size_t kIndexThreshold = 8;
  const KeyStore& Keys() const noexcept { return keys_ ? keys_->store : kNoKeys; }
  // The keys to change: the map's own table, made or copied first when it has none or shares it.
  KeyStore& MutableKeys();
  static const KeyStore kNoKeys;
  void RebuildIndex(KeyStore& k);
  static void IndexInsert(KeyStore& k, uint32_t pos, uint64_t hash);
  size_t Lookup(const KeyStore& k, std::string_view key, uint64_t hash) const noexcept;

  void Touch() noexcept;
  // Turns a map just built into a constant one (see ConstantMap).
  void MakeConstant();
  friend const Map& ConstantMap(std::initializer_list<std::pair<std::string_view, Value>> items);

  // The keys live in a counted table, none for an empty map: copies of a map
  // share it until one of them changes its keys, and a map holds no room for
  // keys of its own (a chart's points or a page's cells are many small copies).
  KeysRef keys_;
  std::vector<Value, detail::PoolAllocator<Value>> values_;
  uint64_t nKeyVersion_ = 0;
};

// A key read in many maps of one layout (every object of a page): the place
// where it stood in the last map is tried first, by the key's bytes, before
// the map is searched. Belongs to its reader, like any cache of the engine.
class KeyHint {
 public:
  explicit KeyHint(std::string_view key) : key_(KeyText(key)) {}
  const Value* Find(const Map& m) noexcept {
    if (at_ < m.size()) {
      const Value& k = m.EntryAt(at_).key;
      if (k.SameRef(key_) || k.Str() == key_.Str()) return &m.ValueAt(at_);
    }
    const size_t i = m.IndexOf(key_.Str());
    if (i == Map::npos) return nullptr;
    at_ = i;
    return &m.ValueAt(i);
  }
  // The value under the key when `map` is a map holding it, else nothing.
  const Value& Get(const Value& map) noexcept {
    const Map* m = map.MapPtr();
    const Value* v = m ? Find(*m) : nullptr;
    return v ? *v : kNil;
  }

 private:
  Value key_;
  size_t at_ = Map::npos;
};

inline std::string_view Value::Str() const noexcept {
  if (kind_ != Kind::Text) return {};
  if (aux_ >= kPermanentText) return static_cast<const detail::TextRep*>(Ptr())->View();
  return {raw_, aux_};
}

inline double Value::Double() const noexcept {
  if (kind_ == Kind::Integer) return static_cast<double>(Payload<int64_t>());
  if (kind_ == Kind::Real) return Payload<double>();
  return 0.0;
}

inline List* Value::ListPtr() const noexcept {
  return kind_ == Kind::List ? static_cast<List*>(Ptr()) : nullptr;
}
inline Map* Value::MapPtr() const noexcept {
  return kind_ == Kind::Map ? static_cast<Map*>(Ptr()) : nullptr;
}

inline int64_t Value::Int() const noexcept {
  if (kind_ == Kind::Integer) return Payload<int64_t>();
  if (kind_ == Kind::Real) return DoubleToInt(Payload<double>());
  return 0;
}

// A map made once for the whole process and never changed nor released: the
// prototype of a kind of rendered object, kept as
// `static const Map& proto = ConstantMap({...});`. A copy of it (Map's copy)
// shares its key table without counting, so engines on separate threads may
// copy it at once. It holds no reference: long texts become permanent
// copies; lists, maps, objects and callables become nothing. As with
// Value::NewMap, a repeated key keeps its first place and its last value.
const Map& ConstantMap(std::initializer_list<std::pair<std::string_view, Value>> items);

// ---------------------------------------------------------------------------
// Structure

// Copies lists and maps at every level; shared sub-structure stays shared in
// the copy, objects and callables are not copied.
Value DeepClone(const Value& v);

}  // namespace kx
