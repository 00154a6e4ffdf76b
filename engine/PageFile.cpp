#include "PageFile.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

namespace kx {

namespace {

enum Tag : uint8_t {
  kTagNil = 0,  // also objects and callables, which a file cannot hold
  kTagFalse,
  kTagTrue,
  kTagInteger,
  kTagReal,
  kTagText,
  kTagDate,
  kTagTimestamp,
  kTagList,
  kTagMap,
  // A map entry's value that is the very value at the same place of the last
  // map of the same size in the file (most values of a page's cell texts).
  kTagRepeat,
  // A map with the keys of the last map of its size in the file, in their
  // order: only its values follow (every cell text of a page after the first).
  kTagMapSameKeys,
  // In such a map, a count (at least 2) of entries in a row that are all repeats.
  kTagRepeatRun,
  // A list or map kept beside the page, by its number in the table of shared values.
  kTagShared,
};

// Far deeper than any rendered page; bounds the recursion on both sides, so
// a cyclic page fails to store and a damaged file fails to load.
constexpr int kMaxDepth = 256;
// A count read from a file reserves at most this much before its elements
// are actually read, so a damaged count cannot claim a huge allocation.
constexpr size_t kMaxReserve = 1024;

// Key texts of one file in order of first use, found by open addressing.
class KeyTable {
 public:
  KeyTable() {
    keys_.reserve(64);
    slots_.assign(128, 0);
  }
  // The key's number; `fresh` tells whether this is its first use.
  uint32_t Intern(std::string_view key, bool& fresh) {
    const size_t mask = slots_.size() - 1;
    for (size_t s = Hash(key) & mask;; s = (s + 1) & mask) {
      const uint32_t entry = slots_[s];
      if (entry == 0) {
        keys_.push_back(key);
        slots_[s] = static_cast<uint32_t>(keys_.size());
        fresh = true;
        if (keys_.size() * 2 > slots_.size()) Grow();
        return static_cast<uint32_t>(keys_.size() - 1);
      }
      if (keys_[entry - 1] == key) {
        fresh = false;
        return entry - 1;
      }
    }
  }

 private:
  static size_t Hash(std::string_view key) { return std::hash<std::string_view>{}(key); }
  void Grow() {
    slots_.assign(slots_.size() * 2, 0);
    const size_t mask = slots_.size() - 1;
    for (size_t i = 0; i < keys_.size(); ++i) {
      size_t s = Hash(keys_[i]) & mask;
      while (slots_[s] != 0) s = (s + 1) & mask;
      slots_[s] = static_cast<uint32_t>(i + 1);
    }
  }

  std::vector<std::string_view> keys_;  // views into the page being written
  std::vector<uint32_t> slots_;         // key number + 1, 0 = empty
};

class PageWriter {
 public:
  // Writes through a cursor into `out`, grown ahead in large steps; Finish cuts it to size.
  PageWriter(std::string& out, ValoresCompartidos* shared) : out_(out), shared_(shared) {
    out_.resize(std::max<size_t>(out_.capacity(), 4096));
    base_ = out_.data();
    cap_ = out_.size();
  }
  void Finish() { out_.resize(pos_); }

  // Appends the value; false when it nests deeper than a file may.
  bool Write(const Value& v, int depth) { return WriteValue(v, depth); }

 private:
  // Inlined into the loops of lists and maps, so a scalar costs no call;
  // only nested lists and maps recurse.
  [[gnu::always_inline]] inline bool WriteValue(const Value& v, int depth) {
    if (depth > kMaxDepth) return false;
    switch (v.kind()) {
      case Kind::Nil:
      case Kind::Object:
      case Kind::Callable:
        Byte(kTagNil);
        return true;
      case Kind::Logical:
        Byte(v.Bool() ? kTagTrue : kTagFalse);
        return true;
      case Kind::Integer: {
        // Scalars are written through one reservation each: these three
        // kinds are nearly every value of a rendered page.
        char* p = Room(11);
        *p++ = static_cast<char>(kTagInteger);
        const int64_t i = v.Int();
        pos_ = static_cast<size_t>(
            PutVarint(p, (static_cast<uint64_t>(i) << 1) ^ static_cast<uint64_t>(i >> 63)) - base_);
        return true;
      }
      case Kind::Real: {
        char* p = Room(10);
        p[0] = static_cast<char>(kTagReal);
        p[1] = static_cast<char>(v.RawDecimals());
        double d = v.Double();
        uint64_t bits;
        std::memcpy(&bits, &d, sizeof bits);
        if constexpr (std::endian::native != std::endian::little) bits = __builtin_bswap64(bits);
        std::memcpy(p + 2, &bits, sizeof bits);
        return true;
      }
      case Kind::Text: {
        const std::string_view t = v.Str();
        char* p = Room(11 + t.size());
        *p++ = static_cast<char>(kTagText);
        p = PutVarint(p, t.size());
        if (!t.empty()) std::memcpy(p, t.data(), t.size());
        pos_ = static_cast<size_t>(p + t.size() - base_);
        return true;
      }
      case Kind::Date:
        Byte(kTagDate);
        Signed(v.Jdn());
        return true;
      case Kind::Timestamp:
        Byte(kTagTimestamp);
        Signed(v.Jdn());
        Signed(v.MsOfDay());
        return true;
      case Kind::List:
        if (shared_ && WriteShared(v, v.AsList().size(), depth)) return true;
        return WriteList(v.AsList(), depth);
      case Kind::Map:
        if (shared_ && WriteShared(v, v.AsMap().size(), depth)) return true;
        return WriteMap(v.AsMap(), depth);
    }
    return false;
  }

  // Writes the value as its number when the table keeps it.
  bool WriteShared(const Value& v, size_t size, int depth) {
    if (depth < ValoresCompartidos::kProfundidadMinima || size < ValoresCompartidos::kMinElementos)
      return false;
    const int64_t number = shared_->Numero(v);
    if (number < 0) return false;
    Byte(kTagShared);
    Varint(static_cast<uint64_t>(number));
    return true;
  }

  bool WriteList(const List& list, int depth) {
    Byte(kTagList);
    Varint(list.size());
    for (const Value& item : list) {
      if (!WriteValue(item, depth + 1)) return false;
    }
    return true;
  }

  bool WriteMap(const Map& map, int depth) {
    const size_t n = map.size();
    if (n >= kLayouts) return WriteMapWithoutLayout(map, depth);
    // Maps of one size mostly share one layout (every cell text of a page):
    // a key at the same place as in the last such map is known by its number,
    // and a map whose key table is the very one of the last such map (copies
    // of one prototype) writes no key at all.
    Layout& layout = layouts_[n];
    if (layout.slots.size() != n) {
      layout.slots.assign(n, LayoutSlot{});
      layout.keyTable = nullptr;
    }
    const void* keyTable = map.KeyTableIdentity();
    const bool sameKeys = layout.keyTable == keyTable;
    Byte(sameKeys ? kTagMapSameKeys : kTagMap);
    Varint(n);
    // A nested map of the same size uses these slots too, but never resizes
    // them; the page is not changed while it is written. Both are read through
    // pointers taken once: the bytes written could alias anything else.
    LayoutSlot* const slots = layout.slots.data();
    const Value* const values = n > 0 ? &map.ValueAt(0) : nullptr;
    if (sameKeys) {
      // Only values: repeats in a row go as one count.
      size_t run = 0;
      for (size_t i = 0; i < n; ++i) {
        const Value& value = values[i];
        if (slots[i].value.Same(value)) {
          ++run;
          continue;
        }
        Repeats(run);
        run = 0;
        if (!WriteValue(value, depth + 1)) return false;
        slots[i].value = Snapshot(value);
      }
      Repeats(run);
      layout.keyTable = keyTable;
      return true;
    }
    for (size_t i = 0; i < n; ++i) {
      LayoutSlot& slot = slots[i];
      const Value& key = map.EntryAt(i).key;
      if (slot.number != 0 && slot.key.Same(key)) {
        Varint((uint64_t{slot.number - 1} << 1) | 1);
      } else {
        slot.number = Key(key) + 1;
        slot.key = Snapshot(key);
      }
      const Value& value = values[i];
      if (slot.value.Same(value)) {
        Byte(kTagRepeat);
        continue;
      }
      if (!WriteValue(value, depth + 1)) return false;
      slot.value = Snapshot(value);
    }
    // Set once the map is whole, as the reader learns its keys: a nested map
    // of the same size has had its turn meanwhile.
    layout.keyTable = keyTable;
    return true;
  }

  void Repeats(size_t run) {
    if (run == 0) return;
    if (run == 1) {
      Byte(kTagRepeat);
      return;
    }
    Byte(kTagRepeatRun);
    Varint(run);
  }

  bool WriteMapWithoutLayout(const Map& map, int depth) {
    Byte(kTagMap);
    Varint(map.size());
    for (size_t i = 0; i < map.size(); ++i) {
      Key(map.EntryAt(i).key);
      if (!WriteValue(map.ValueAt(i), depth + 1)) return false;
    }
    return true;
  }

  // Odd: the number of a key already written; even: a new key's length.
  // Answers the key's number.
  uint32_t Key(const Value& keyValue) {
    // Rendered maps of one kind share their key values: most keys are found
    // by their identity before their bytes are ever hashed.
    const size_t mask = identity_.size() - 1;
    const uint64_t h = keyValue.IdentityHash();
    size_t slot = h & mask;
    for (; identity_[slot].number != 0; slot = (slot + 1) & mask) {
      if (identity_[slot].key.SameRef(keyValue)) {
        Varint((uint64_t{identity_[slot].number - 1} << 1) | 1);
        return identity_[slot].number - 1;
      }
    }
    std::string_view key = keyValue.Str();
    bool fresh = false;
    const uint32_t number = keys_.Intern(key, fresh);
    if (identityCount_ * 2 < identity_.size()) {
      identity_[slot] = {keyValue, number + 1};
      ++identityCount_;
    }
    if (!fresh) {
      Varint((uint64_t{number} << 1) | 1);
      return number;
    }
    Varint(uint64_t{key.size()} << 1);
    Append(key.data(), key.size());
    return number;
  }

  char* Room(size_t n) {
    if (pos_ + n > cap_) [[unlikely]]
      Grow(n);
    char* at = base_ + pos_;
    pos_ += n;
    return at;
  }
  [[gnu::noinline]] void Grow(size_t n) {
    out_.resize(std::max(cap_ * 2, pos_ + n));
    base_ = out_.data();
    cap_ = out_.size();
  }
  void Append(const char* data, size_t n) {
    if (n) std::memcpy(Room(n), data, n);
  }
  void Byte(uint8_t b) { *Room(1) = static_cast<char>(b); }
  static char* PutVarint(char* p, uint64_t x) {
    while (x >= 0x80) {
      *p++ = static_cast<char>((x & 0x7F) | 0x80);
      x >>= 7;
    }
    *p++ = static_cast<char>(x);
    return p;
  }
  void Varint(uint64_t x) {
    char* p = Room(10);
    pos_ = static_cast<size_t>(PutVarint(p, x) - base_);
  }
  void Signed(int64_t x) {
    Varint((static_cast<uint64_t>(x) << 1) ^ static_cast<uint64_t>(x >> 63));
  }
  void Double(double d) {
    uint64_t bits;
    std::memcpy(&bits, &d, sizeof bits);
    if constexpr (std::endian::native != std::endian::little) bits = __builtin_bswap64(bits);
    Append(reinterpret_cast<const char*>(&bits), sizeof bits);
  }
  void Bytes(std::string_view s) {
    Varint(s.size());
    Append(s.data(), s.size());
  }

  // The bytes of a value, held without a reference: every value the writer
  // compares belongs to the page being written, which outlives the writer,
  // so equal bytes mean the very same value (as Value::SameRef's fast test),
  // and no reference count is touched for the values of a page.
  struct Snapshot {
    // No value starts with this byte: a fresh slot matches nothing.
    Snapshot() : words{~uint64_t{0}, 0} {}
    explicit Snapshot(const Value& v) {
      std::memcpy(words, static_cast<const void*>(&v), sizeof words);
    }
    bool Same(const Value& v) const {
      uint64_t other[2];
      std::memcpy(other, static_cast<const void*>(&v), sizeof other);
      return ((words[0] ^ other[0]) | (words[1] ^ other[1])) == 0;
    }
    uint64_t words[2];
  };
  static_assert(sizeof(Value) == sizeof(uint64_t[2]));
  struct LayoutSlot {
    Snapshot key;
    uint32_t number = 0;  // key number + 1, 0 = unknown
    Snapshot value;       // the value last written at this place
  };
  struct Layout {
    std::vector<LayoutSlot> slots;
    // The key table of the last map of this size written whole; its slots
    // hold that map's keys unless a map of another table came after it.
    const void* keyTable = nullptr;
  };
  static constexpr size_t kLayouts = 96;

  struct IdentitySlot {
    Value key;
    uint32_t number = 0;  // key number + 1, 0 = empty
  };

  std::string& out_;
  ValoresCompartidos* shared_;
  char* base_ = nullptr;
  size_t cap_ = 0;
  size_t pos_ = 0;
  KeyTable keys_;
  // Identity table of the key values met; a full table just stops learning.
  std::vector<IdentitySlot> identity_ = std::vector<IdentitySlot>(256);
  size_t identityCount_ = 0;
  std::vector<Layout> layouts_ = std::vector<Layout>(kLayouts);
};

// Reads what PageWriter writes, in one pass; any length, count, key number or
// decimals byte that the bytes left cannot hold fails the whole read.
class PageReader {
 public:
  PageReader(std::string_view in, ValoresCompartidos* shared)
      : p_(in.data()), end_(in.data() + in.size()), shared_(shared) {
    keys_.reserve(64);
    owner_.reserve(64);
    undo_.reserve(256);
  }

  // The file's value; false unless it is well formed and fills the file.
  bool ReadPage(Value& out) { return Read(out, 1) && p_ == end_; }

 private:
  bool Read(Value& out, int depth) {
    uint8_t tag = 0;
    if (depth > kMaxDepth || !Byte(tag)) return false;
    switch (tag) {
      case kTagNil:
        out = Value();
        return true;
      case kTagFalse:
      case kTagTrue:
        out = Value(tag == kTagTrue);
        return true;
      case kTagInteger: {
        int64_t i = 0;
        if (!Signed(i)) return false;
        out = Value(i);
        return true;
      }
      case kTagReal:
        return ReadReal(out);
      case kTagText: {
        std::string_view s;
        if (!Bytes(s)) return false;
        out = Value(s);
        return true;
      }
      case kTagDate: {
        int32_t jdn = 0;
        if (!Signed32(jdn)) return false;
        out = Value::Date(jdn);
        return true;
      }
      case kTagTimestamp: {
        int32_t jdn = 0, ms = 0;
        if (!Signed32(jdn) || !Signed32(ms)) return false;
        out = Value::Timestamp(jdn, ms);
        return true;
      }
      case kTagList:
        return ReadList(out, depth);
      case kTagMap:
        return ReadMap(out, depth, false);
      case kTagMapSameKeys:
        return ReadMap(out, depth, true);
      case kTagShared: {
        uint64_t number = 0;
        return shared_ && Varint(number) && shared_->Valor(number, out);
      }
      default:
        return false;
    }
  }

  bool ReadReal(Value& out) {
    uint8_t decimals = 0;
    if (!Byte(decimals) || Remaining() < 8) return false;
    if (decimals != kNaturalDecimals && decimals > kMaxDecimals) return false;
    uint64_t bits = 0;
    for (int i = 0; i < 8; ++i) bits |= uint64_t{static_cast<uint8_t>(p_[i])} << (8 * i);
    p_ += 8;
    double d;
    std::memcpy(&d, &bits, sizeof d);
    out = decimals == kNaturalDecimals ? Value(d) : Value::Real(d, decimals);
    return true;
  }

  bool ReadList(Value& out, int depth) {
    uint64_t count = 0;
    // Every element takes at least one byte.
    if (!Varint(count) || count > Remaining()) return false;
    auto list = MakeRef<List>();
    list->Reserve(std::min<size_t>(count, kMaxReserve));
    for (uint64_t i = 0; i < count; ++i) {
      Value item;
      if (!Read(item, depth + 1)) return false;
      list->Add(std::move(item));
    }
    out = Value(std::move(list));
    return true;
  }

  bool ReadMap(Value& out, int depth, bool sameKeys) {
    uint64_t count = 0;
    // Every entry takes at least a tag byte, and a key byte unless the keys are known.
    if (!Varint(count) || count > Remaining() / (sameKeys ? 1 : 2)) return false;
    Shape* shape = count < kPreviousSizes ? &shapes_[count] : nullptr;
    if (shape && shape->values.size() != count)
      *shape = Shape{std::vector<PreviousValue>(count), {}};
    // A map of known keys names the keys of the last map of its size, or the file is damaged.
    if (sameKeys && (!shape || !shape->prototype)) return false;
    Ref<Map> map;
    if (sameKeys) {
      // A copy of the last such map shares its key table: no key is looked up or indexed.
      map = MakeRef<Map>(*shape->prototype);
    } else {
      map = MakeRef<Map>();
      map->Reserve(std::min<size_t>(count, kMaxReserve));
    }
    // A key number names one key text, so a repeated key in this map shows
    // as a number already marked with this map's serial: no text lookups.
    const uint32_t serial = ++nSerial_;
    const size_t undoBase = undo_.size();
    bool ok = true;
    uint64_t repeats = 0;  // entries still to come of a run of repeats
    for (uint64_t i = 0; ok && i < count; ++i) {
      uint32_t number = 0;
      Value value;
      if (!sameKeys) {
        ok = ReadKey(number) && owner_[number] != serial;
        if (!ok) break;
        undo_.push_back({number, owner_[number]});
        owner_[number] = serial;
      }
      bool repeat = repeats > 0;
      if (repeat) {
        --repeats;
      } else if (p_ < end_ && static_cast<uint8_t>(*p_) == kTagRepeat) {
        ++p_;
        repeat = true;
      } else if (sameKeys && p_ < end_ && static_cast<uint8_t>(*p_) == kTagRepeatRun) {
        ++p_;
        // A run covers at least two entries and no more than the map has left.
        ok = Varint(repeats) && repeats >= 2 && repeats <= count - i;
        if (!ok) break;
        --repeats;
        repeat = true;
      }
      if (repeat) {
        // A repeat names a value read before at this place, or the file is damaged.
        ok = shape && shape->values[i].set;
        if (ok) value = shape->values[i].value;
      } else {
        ok = Read(value, depth + 1);
        if (ok && shape) shape->values[i] = {value, true};
      }
      if (!ok) break;
      if (sameKeys) {
        map->ValueAt(i) = std::move(value);
      } else {
        map->Append(keys_[number], std::move(value));  // shares the key's bytes
      }
    }
    // Give the keys back to the enclosing map, which may use them again.
    while (undo_.size() > undoBase) {
      owner_[undo_.back().number] = undo_.back().owner;
      undo_.pop_back();
    }
    if (!ok) return false;
    // Kept once the map is whole, as the writer does: the next map of this
    // size may name these keys.
    if (shape) shape->prototype = map;
    out = Value(std::move(map));
    return true;
  }

  // Odd: the number of a key read before; even: the length of a new key.
  bool ReadKey(uint32_t& number) {
    uint64_t x = 0;
    if (!Varint(x)) return false;
    if (x & 1) {
      if ((x >> 1) >= keys_.size()) return false;
      number = static_cast<uint32_t>(x >> 1);
      return true;
    }
    const uint64_t len = x >> 1;
    if (len > Remaining()) return false;
    const std::string_view key(p_, len);
    p_ += len;
    bool fresh = false;
    number = known_.Intern(key, fresh);
    if (!fresh) return false;  // the writer never spells a key out twice
    keys_.emplace_back(key);
    owner_.push_back(0);
    return true;
  }

  size_t Remaining() const { return static_cast<size_t>(end_ - p_); }
  bool Byte(uint8_t& b) {
    if (p_ == end_) return false;
    b = static_cast<uint8_t>(*p_++);
    return true;
  }
  bool Varint(uint64_t& x) {
    x = 0;
    for (int shift = 0; shift < 64; shift += 7) {
      uint8_t b = 0;
      if (!Byte(b)) return false;
      if (shift == 63 && b > 1) return false;  // past 64 bits
      x |= uint64_t{b & 0x7Fu} << shift;
      if ((b & 0x80) == 0) return true;
    }
    return false;
  }
  bool Signed(int64_t& i) {
    uint64_t x = 0;
    if (!Varint(x)) return false;
    i = static_cast<int64_t>((x >> 1) ^ (~(x & 1) + 1));
    return true;
  }
  bool Signed32(int32_t& i) {
    int64_t wide = 0;
    if (!Signed(wide) || wide < INT32_MIN || wide > INT32_MAX) return false;
    i = static_cast<int32_t>(wide);
    return true;
  }
  bool Bytes(std::string_view& s) {
    uint64_t len = 0;
    if (!Varint(len) || len > Remaining()) return false;
    s = std::string_view(p_, len);
    p_ += len;
    return true;
  }

  struct Undo {
    uint32_t number;
    uint32_t owner;
  };

  const char* p_;
  const char* end_;
  ValoresCompartidos* shared_;
  KeyTable known_;               // key texts, to refuse one spelt out twice
  std::vector<Value> keys_;      // by key number
  std::vector<uint32_t> owner_;  // by key number: serial of the map holding it
  std::vector<Undo> undo_;
  struct PreviousValue {
    Value value;
    bool set = false;
  };
  // Per map size: the values last read at each place, and the last map read
  // whole, whose key table a map of known keys shares.
  struct Shape {
    std::vector<PreviousValue> values;
    Ref<Map> prototype;
  };
  static constexpr size_t kPreviousSizes = 96;  // as the writer's layouts
  std::vector<Shape> shapes_ = std::vector<Shape>(kPreviousSizes);
  uint32_t nSerial_ = 0;
};

}  // namespace

bool WritePageFile(const Value& page, std::string& out, ValoresCompartidos* shared) {
  PageWriter writer(out, shared);
  const bool written = writer.Write(page, 1);
  writer.Finish();
  return written;
}

bool ReadPageFile(std::string_view in, Value& page, ValoresCompartidos* shared) {
  return PageReader(in, shared).ReadPage(page);
}

}  // namespace kx
