#include "TImageCache.h"

#include <gtest/gtest.h>

#include <string>

namespace kx {
namespace {

platform::FileStamp S(uint64_t size, int64_t modified, int64_t changed = 0) {
  return {size, modified, changed};
}

Value Descriptor(size_t bytes) {
  return Value::NewMap(
      {{"mime", "image/png"}, {"dataUri", std::string(bytes, 'x')}, {"error", ""}});
}

TEST(TImageCache, KeyedByPathAndStamp) {
  TImageCache cache;
  const Value d = Descriptor(10);
  cache.Guardar("a.png", S(100, 7), d);
  EXPECT_TRUE(cache.Buscar("a.png", S(100, 7)).SameRef(d));
  EXPECT_TRUE(cache.Buscar("a.png", S(101, 7)).IsNil());
  EXPECT_TRUE(cache.Buscar("a.png", S(100, 8)).IsNil());
  EXPECT_TRUE(cache.Buscar("a.png", S(100, 7, 1)).IsNil());
  EXPECT_TRUE(cache.Buscar("b.png", S(100, 7)).IsNil());
  cache.Vaciar();
  EXPECT_EQ(cache.Entradas(), 0u);
  EXPECT_EQ(cache.Bytes(), 0u);
}

TEST(TImageCache, BoundedInEntriesAndBytesLeastRecentlyUsedFirst) {
  TImageCache cache(3, 1000);
  cache.Guardar("a", S(1, 1), Descriptor(100));
  cache.Guardar("b", S(1, 1), Descriptor(100));
  cache.Guardar("c", S(1, 1), Descriptor(100));
  ASSERT_FALSE(cache.Buscar("a", S(1, 1)).IsNil());  // a is now the most recent
  cache.Guardar("d", S(1, 1), Descriptor(100));      // the entry bound drops b
  EXPECT_EQ(cache.Entradas(), 3u);
  EXPECT_TRUE(cache.Buscar("b", S(1, 1)).IsNil());
  EXPECT_FALSE(cache.Buscar("a", S(1, 1)).IsNil());

  // Recency now runs a, d, c: the byte bound drops c, then d.
  cache.Guardar("big", S(1, 1), Descriptor(800));
  EXPECT_LE(cache.Bytes(), 1000u);
  EXPECT_TRUE(cache.Buscar("c", S(1, 1)).IsNil());
  EXPECT_TRUE(cache.Buscar("d", S(1, 1)).IsNil());
  EXPECT_FALSE(cache.Buscar("a", S(1, 1)).IsNil());
  EXPECT_FALSE(cache.Buscar("big", S(1, 1)).IsNil());

  // A descriptor larger than the whole budget is not kept and evicts nothing.
  cache.Guardar("huge", S(1, 1), Descriptor(2000));
  EXPECT_TRUE(cache.Buscar("huge", S(1, 1)).IsNil());
  EXPECT_EQ(cache.Entradas(), 2u);

  // Storing a state again replaces its entry.
  cache.Guardar("a", S(1, 1), Descriptor(50));
  EXPECT_EQ(cache.Entradas(), 2u);
  EXPECT_EQ(cache.Buscar("a", S(1, 1)).Get("dataUri").Str().size(), 50u);
}

}  // namespace
}  // namespace kx
