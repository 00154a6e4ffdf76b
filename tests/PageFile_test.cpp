#include "PageFile.h"

#include <gtest/gtest.h>

#include <string>

namespace kx {
namespace {

// Tag bytes of the format, as a damaged or hand-made file would hold them.
constexpr char kNil = 0, kInteger = 3, kList = 8, kMap = 9, kRepeat = 10, kMapSameKeys = 11,
               kRepeatRun = 12;

std::string Write(const Value& page) {
  std::string out;
  EXPECT_TRUE(WritePageFile(page, out));
  return out;
}

// A rendered object: long keys, and values that repeat from object to object.
Value Objeto(int i) {
  return Value::NewMap({{"alineacionVertical", "centro"},
                        {"colorFondo", "#ffffff"},
                        {"texto", Value("linea " + std::to_string(i))},
                        {"zIndex", 3}});
}

size_t Occurrences(const std::string& hay, const std::string& needle) {
  size_t n = 0;
  for (size_t at = hay.find(needle); at != std::string::npos; at = hay.find(needle, at + 1)) ++n;
  return n;
}

TEST(PageFile, KeysAndRepeatedValuesAreWrittenOnce) {
  Value many = Value::NewList();
  for (int i = 0; i < 50; ++i) many.Push(Objeto(i));
  const std::string file = Write(many);
  EXPECT_EQ(Occurrences(file, "alineacionVertical"), 1u);
  EXPECT_EQ(Occurrences(file, "centro"), 1u);
  // Written alone, each object would spell out its keys and values again.
  EXPECT_LT(file.size(), 50 * Write(Objeto(0)).size() / 2);

  Value back;
  ASSERT_TRUE(ReadPageFile(file, back));
  EXPECT_EQ(ExprText(back), ExprText(many));
}

TEST(PageFile, CopiesOfOnePrototypeWriteTheirKeysOnce) {
  // Cell texts are copies of one prototype: one key table, mostly the same values.
  Value prototype = Objeto(0);
  Value page = Value::NewList();
  for (int i = 0; i < 40; ++i) {
    Value copy(MakeRef<Map>(prototype.AsMap()));
    copy.Set("texto", Value("linea " + std::to_string(i)));
    if (i % 7 == 4) copy.Set("zIndex", Value::Real(i, 2));  // a value that breaks a run
    page.Push(copy);
  }
  page.Push(Objeto(99));  // the same keys in a table of its own
  const std::string file = Write(page);

  // The same maps each with a table of their own name their four keys every time.
  Value separate = Value::NewList();
  for (const Value& object : page.AsList()) {
    Value own = Value::NewMap();
    for (const Map::Entry& e : object.AsMap()) own.Set(e.key.Str(), e.value);
    separate.Push(own);
  }
  EXPECT_LE(file.size() + 39 * 4, Write(separate).size());

  Value back;
  ASSERT_TRUE(ReadPageFile(file, back));
  EXPECT_EQ(ExprText(back), ExprText(page));
  // Read back, the copies share one key table again.
  const List& objects = back.AsList();
  EXPECT_EQ(objects[5].AsMap().KeyTableIdentity(), objects[6].AsMap().KeyTableIdentity());
  EXPECT_EQ(objects[39].Get("zIndex").Decimals(), 2);
}

// A table of shared values that numbers one value and answers it back.
class UnValorCompartido : public ValoresCompartidos {
 public:
  explicit UnValorCompartido(Value v) : vValor(std::move(v)) {}
  int64_t Numero(const Value& value) override {
    ++nPreguntas;
    return value.SameRef(vValor) ? 7 : -1;
  }
  bool Valor(uint64_t number, Value& value) override {
    if (number != 7 || !lResponde) return false;
    value = vValor;
    return true;
  }
  Value vValor;
  int nPreguntas = 0;
  bool lResponde = true;
};

TEST(PageFile, ASharedValueIsWrittenAsItsNumber) {
  Value serie = Value::NewList();
  for (int i = 0; i < 40; ++i)
    serie.Push(Value::NewMap(
        {{"label", Value(std::string("M").append(std::to_string(i)))}, {"value", i}}));
  Value ancho = Value::NewMap();  // an object map of many keys: patched in place, never shared
  for (int i = 0; i < 40; ++i) ancho.Set(std::string("k").append(std::to_string(i)), i);
  const Value corta = Value::NewList({1, 2, 3});
  const Value page = Value::NewMap(
      {{"objetos", Value::NewList({Value::NewMap({{"id", "g1"}, {"puntos", serie}, {"c", corta}}),
                                   Value::NewMap({{"id", "g2"}, {"puntos", serie}}), ancho})}});
  UnValorCompartido tabla(serie);
  std::string file;
  ASSERT_TRUE(WritePageFile(page, file, &tabla));
  EXPECT_EQ(tabla.nPreguntas, 2);  // each series: not the short list, not the object map
  EXPECT_LT(file.size(), Write(serie).size());
  EXPECT_EQ(Occurrences(file, "M39"), 0u);

  Value back;
  ASSERT_TRUE(ReadPageFile(file, back, &tabla));
  EXPECT_EQ(ExprText(back), ExprText(page));
  const List& objetos = back.Get("objetos").AsList();
  EXPECT_TRUE(objetos[0].Get("puntos").SameRef(serie));
  EXPECT_TRUE(objetos[1].Get("puntos").SameRef(serie));

  // A file that names a shared value reads only with a table that answers it.
  EXPECT_FALSE(ReadPageFile(file, back));
  tabla.lResponde = false;
  EXPECT_FALSE(ReadPageFile(file, back, &tabla));
  // Without a table the series is written in place, twice.
  const std::string plain = Write(page);
  EXPECT_GT(plain.size(), file.size() + Write(serie).size());
  ASSERT_TRUE(ReadPageFile(plain, back));
  EXPECT_EQ(ExprText(back), ExprText(page));
}

TEST(PageFile, MalformedBytesAreRefused) {
  // {"a": nothing}, spelt out by hand, is well formed.
  Value ok;
  ASSERT_TRUE(ReadPageFile(std::string{kMap, 1, 2, 'a', kNil}, ok));
  EXPECT_EQ(ExprText(ok), R"({"a"=>NIL})");
  // So is a second map of the same keys that repeats both values in one run.
  ASSERT_TRUE(ReadPageFile(std::string{kList, 2, kMap, 2, 2, 'a', kNil, 2, 'b', kInteger, 4,
                                       kMapSameKeys, 2, kRepeatRun, 2},
                           ok));
  EXPECT_EQ(ExprText(ok), R"({{"a"=>NIL, "b"=>2}, {"a"=>NIL, "b"=>2}})");

  const struct {
    std::string bytes;
    const char* what;
  } cases[] = {
      {{kMap, 2, 2, 'a', kNil, 1, kNil}, "one key twice in a map"},
      {{kMap, 1, 2, 'a', kRepeat}, "a repeat with nothing before it"},
      {{kMapSameKeys, 1, kNil}, "known keys with no map before"},
      {{kList, 2, kMap, 1, 2, 'a', kNil, kMapSameKeys, 2, kNil, kNil},
       "known keys of another size"},
      {{kList, 2, kMap, 2, 2, 'a', kNil, 2, 'b', kNil, kMapSameKeys, 2, kRepeatRun, 3},
       "a run longer than the map"},
      {{kList, 2, kMap, 2, 2, 'a', kNil, 2, 'b', kNil, kMapSameKeys, 2, kRepeatRun, 1, kNil},
       "a run of one"},
      {{kMap, 2, 2, 'a', kNil, 2, 'b', kRepeatRun, 2}, "a run in a map that spells its keys"},
      {{kMap, 1, 3, kNil}, "a key number never spelt out"},
      {{kList, 2, kNil, kList, 2, 2, 'a', kNil, 2, 'a', kNil}, "a key spelt out twice"},
      {{kList, 100, kNil}, "a count the bytes cannot hold"},
      {{kInteger}, "a value cut short"},
      {{kNil, kNil}, "bytes after the value"},
      {{}, "no value"},
  };
  for (const auto& c : cases) {
    Value v;
    EXPECT_FALSE(ReadPageFile(c.bytes, v)) << c.what;
  }
}

Value Nested(int depth) {
  Value v = "fondo";
  for (int i = 0; i < depth; ++i) v = Value::NewList({v});
  return v;
}

TEST(PageFile, WriterAndReaderStopAtTheSameDepth) {
  int deepest = 0;
  std::string out;
  while (deepest < 1000 && WritePageFile(Nested(deepest + 1), out)) ++deepest;
  ASSERT_LT(deepest, 1000);
  Value back;
  ASSERT_TRUE(ReadPageFile(Write(Nested(deepest)), back));
  EXPECT_EQ(ExprText(back), ExprText(Nested(deepest)));

  // The same nesting one level deeper, made by hand, is not read either.
  std::string deeper;
  for (int i = 0; i < deepest + 1; ++i) deeper += std::string{kList, 1};
  deeper += kNil;
  EXPECT_FALSE(ReadPageFile(deeper, back));

  // A page that holds itself is refused rather than written forever.
  Value cyclic = Value::NewList();
  cyclic.Push(cyclic);
  EXPECT_FALSE(WritePageFile(cyclic, out));
  cyclic.AsList().Clear();  // let the list go
}

TEST(PageFile, TheBufferIsReusedAndCutToTheFile) {
  std::string out;
  Value large = Value::NewList();
  for (int i = 0; i < 200; ++i) large.Push(Objeto(i));
  ASSERT_TRUE(WritePageFile(large, out));
  ASSERT_TRUE(WritePageFile(Objeto(7), out));
  EXPECT_EQ(out, Write(Objeto(7)));
  Value back;
  ASSERT_TRUE(ReadPageFile(out, back));
  EXPECT_EQ(ExprText(back), ExprText(Objeto(7)));
}

}  // namespace
}  // namespace kx
