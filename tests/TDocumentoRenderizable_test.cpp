#include "TDocumentoRenderizable.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/resource.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "FilasCompactas.h"
#include "Json.h"
#include "Platform.h"
#include "TestFolder.h"

namespace kx {
namespace {

namespace fs = std::filesystem;

const char* const kErrorGuardar = "No se ha podido guardar una pagina temporal del informe.";
const char* const kErrorRecuperar = "No se ha podido recuperar una pagina temporal del informe.";

// Every test spools into a folder of its own, so the "nothing left behind"
// checks see only its own files; TMPDIR is restored afterwards.
class DocumentoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* old = std::getenv("TMPDIR");
    hadTmpDir_ = old != nullptr;
    if (old) oldTmpDir_ = old;
    dir_ = folder_.path();
    ASSERT_FALSE(dir_.empty());
    UseTmpDir(dir_);
  }
  void TearDown() override {
    if (hadTmpDir_) {
      ::setenv("TMPDIR", oldTmpDir_.c_str(), 1);
    } else {
      ::unsetenv("TMPDIR");
    }
  }

  static void UseTmpDir(const std::string& dir) { ::setenv("TMPDIR", dir.c_str(), 1); }

  std::vector<std::string> PageFiles() const {
    std::vector<std::string> files;
    for (const auto& e : fs::directory_iterator(dir_)) {
      if (e.path().filename().string().rfind("kxt_ir_", 0) == 0) files.push_back(e.path());
    }
    return files;
  }

  TempDir folder_;  // removed with the files left in it when the test ends
  std::string dir_;

 private:
  bool hadTmpDir_ = false;
  std::string oldTmpDir_;
};

// A list of n rendered texts, the last key of each an integer.
Value Objetos(int n, const std::string& texto = "linea") {
  Value list = Value::NewList();
  for (int i = 0; i < n; ++i) {
    list.Push(Value::NewMap({{"id", Value("txt_" + std::to_string(i))},
                             {"tipo", "texto"},
                             {"x", Value::Real(10.5, 1)},
                             {"y", Value::Real(20.0 + i, 2)},
                             {"ancho", 80},
                             {"alto", Value::Real(4.5, 1)},
                             {"texto", Value(texto + " " + std::to_string(i))},
                             {"zIndex", i}}));
  }
  return list;
}

std::string FileOf(const TDocumentoRenderizable& doc, size_t n) {
  return std::string(doc.aPaginas.AsList()[n - 1].Get("__kxPageFile").Str());
}

int64_t SegmentOf(const TDocumentoRenderizable& doc, size_t n) {
  return doc.aPaginas.AsList()[n - 1].Get("__kxPageSegment").Int();
}

std::string ReadBytes(const std::string& path) {
  std::string bytes;
  platform::ReadFile(path, bytes);
  return bytes;
}

// Same kind and content at every level, a real's raw decimals byte and bits
// included, map keys in the same order.
testing::AssertionResult Same(const Value& a, const Value& b, const std::string& where = "page") {
  auto fail = [&](const char* what) {
    return testing::AssertionFailure() << where << ": " << what;
  };
  if (a.kind() != b.kind()) return fail("kind differs");
  switch (a.kind()) {
    case Kind::Logical:
      if (a.Bool() != b.Bool()) return fail("logical differs");
      break;
    case Kind::Integer:
      if (a.Int() != b.Int()) return fail("integer differs");
      break;
    case Kind::Real: {
      double x = a.Double(), y = b.Double();
      if (std::memcmp(&x, &y, sizeof x) != 0) return fail("real bits differ");
      if (a.RawDecimals() != b.RawDecimals()) return fail("decimals differ");
      break;
    }
    case Kind::Text:
      if (a.Str() != b.Str()) return fail("text differs");
      break;
    case Kind::Date:
    case Kind::Timestamp:
      if (a.Jdn() != b.Jdn() || a.MsOfDay() != b.MsOfDay()) return fail("date differs");
      break;
    case Kind::List:
      if (a.Len() != b.Len()) return fail("list length differs");
      for (size_t i = 0; i < a.Len(); ++i) {
        auto r = Same(a.AsList()[i], b.AsList()[i], where + "[" + std::to_string(i + 1) + "]");
        if (!r) return r;
      }
      break;
    case Kind::Map:
      if (a.Len() != b.Len()) return fail("map size differs");
      for (size_t i = 0; i < a.Len(); ++i) {
        const Map& ma = a.AsMap();
        const Map& mb = b.AsMap();
        if (ma.KeyAt(i) != mb.KeyAt(i)) return fail("key order differs");
        auto r = Same(ma.ValueAt(i), mb.ValueAt(i), where + "." + std::string(ma.KeyAt(i)));
        if (!r) return r;
      }
      break;
    default:
      break;
  }
  return testing::AssertionSuccess();
}

bool IsEmptyPage(const Value& page) {
  return page.IsMap() && page.Len() == 1 && page.Get("objetos").IsList() &&
         page.Get("objetos").Len() == 0;
}

class Probe : public KXObject {};

TEST_F(DocumentoTest, SpoolsItselfWhenTheObjectLimitIsReached) {
  TDocumentoRenderizable doc(210, 297);
  doc.SetAutoPageSpooling(50);
  doc.AddPagina(Objetos(40));
  EXPECT_FALSE(doc.IsPageSpooling());
  EXPECT_TRUE(doc.aPaginas.AsList()[0].Has("objetos"));
  EXPECT_TRUE(PageFiles().empty());

  doc.AddPagina(Objetos(40));  // 80 objects: the switch stores both pages
  EXPECT_TRUE(doc.IsPageSpooling());
  EXPECT_EQ(doc.TotalObjetos(), 80);
  doc.AddPagina(Objetos(3));  // later pages are stored as they come
  ASSERT_EQ(doc.TotalPaginas(), 3);
  ASSERT_EQ(PageFiles().size(), 1u);  // one file holds every page
  for (size_t n = 1; n <= 3; ++n) {
    const Value& entry = doc.aPaginas.AsList()[n - 1];
    EXPECT_EQ(entry.Len(), 2u) << n;  // a stub only: the file and the segment
    EXPECT_EQ(FileOf(doc, n), PageFiles()[0]) << n;
    EXPECT_EQ(SegmentOf(doc, n), static_cast<int64_t>(n - 1)) << n;
  }
  EXPECT_TRUE(Same(doc.GetPagina(3).Get("objetos"), Objetos(3)));
  EXPECT_FALSE(doc.HasPageSpoolError());
}

// A chart's points: n maps of a label and a value, every one of its own.
Value Serie(int n, int semilla = 0) {
  Value serie = Value::NewList();
  for (int i = 0; i < n; ++i)
    serie.Push(Value::NewMap(
        {{"label", Value(std::string("M").append(std::to_string(semilla * 100000 + i)))},
         {"value", Value::Real(i * 1.25 + semilla, 2)}}));
  return serie;
}

// Three texts and a chart of the series.
Value ObjetosConGrafico(const Value& serie) {
  Value objetos = Objetos(3);
  objetos.Push(Value::NewMap({{"puntos", serie}, {"id", "g"}, {"tipo", "chart"}}));
  return objetos;
}

TEST_F(DocumentoTest, ASeriesOnEveryPageIsStoredOnceAndReadBackShared) {
  const Value serie = Serie(2000);
  const Value copia = DeepClone(serie);
  TDocumentoRenderizable compartida, copias;
  for (TDocumentoRenderizable* doc : {&compartida, &copias}) {
    doc->EnablePageSpooling();
    for (int p = 0; p < 30; ++p)
      doc->AddPagina(ObjetosConGrafico(doc == &compartida ? serie : DeepClone(serie)));
  }
  // A series that every page holds by its own copy is written with every page.
  const auto bytes = [](const TDocumentoRenderizable& doc) {
    return fs::file_size(FileOf(doc, 1));
  };
  EXPECT_LT(bytes(compartida) * 10, bytes(copias));
  copias.End();

  // Read back, the pages share one series: while its owner holds it, that very one.
  Value leidas = compartida.GetPaginas();
  for (const Value& page : leidas.AsList()) {
    EXPECT_TRUE(Same(page.Get("objetos"), ObjetosConGrafico(copia)));
    EXPECT_TRUE(page.Get("objetos").AsList()[3].Get("puntos").SameRef(serie));
  }
  // Replaced, a page names the same series again; patches leave it alone.
  ASSERT_TRUE(compartida.SetPagina(30, compartida.GetPagina(1)));
  ASSERT_TRUE(compartida.SetParchesTextoPagina(30, JsonDecode(R"([{"nIndex":4,"uTexto":"x"}])")));
  EXPECT_LT(bytes(compartida), 2 * fs::file_size(FileOf(compartida, 1)) + 1);
  const Value ultima = compartida.GetPagina(30);
  EXPECT_TRUE(ultima.Get("objetos").AsList()[3].Get("puntos").SameRef(serie));
  EXPECT_EQ(ultima.Get("objetos").AsList()[3].Get("texto").Str(), "x");
  EXPECT_FALSE(compartida.HasPageSpoolError());
}

TEST_F(DocumentoTest, SeriesWhoseOwnersLetGoAreReadFromTheFileOnce) {
  // Forty pages, each with a series of its own that its owner drops once the page is stored:
  // the document lets go of them in turn (a new series may then take a freed one's place in
  // memory) and reads each back from its file, once.
  TDocumentoRenderizable doc;
  doc.EnablePageSpooling();
  std::vector<Value> esperadas;
  for (int p = 0; p < 40; ++p) {
    Value serie = Serie(40, p);
    esperadas.push_back(DeepClone(serie));
    Value objetos = ObjetosConGrafico(serie);
    // Held by the page and by its owner, as a chart's kept data is.
    doc.AddPagina(objetos);
  }
  for (int p = 0; p < 40; ++p) {
    const Value page = doc.GetPagina(p + 1);
    EXPECT_TRUE(Same(page.Get("objetos"), ObjetosConGrafico(esperadas[static_cast<size_t>(p)])))
        << p;
    const Value again = doc.GetPagina(p + 1);
    EXPECT_TRUE(page.Get("objetos").AsList()[3].Get("puntos").SameRef(
        again.Get("objetos").AsList()[3].Get("puntos")))
        << p;
  }
  EXPECT_FALSE(doc.HasPageSpoolError());

  // A stub that names a series' segment names no page.
  const std::string own = FileOf(doc, 1);
  const Value stub = Value::NewMap({{"__kxPageFile", own}, {"__kxPageSegment", 0}});
  doc.aPaginas.AsList()[0] = stub;
  EXPECT_TRUE(doc.GetPagina(1).SameRef(stub));
  EXPECT_FALSE(doc.HasPageSpoolError());
}

TEST_F(DocumentoTest, TheSwitchWeighsWhatThePagesHold) {
  // Limit 50 objects: pages may hold up to 50 objects' worth of values before they spool.
  const Value compartida = Serie(900);  // 2701 values: under the 3200 of 50 objects
  struct Caso {
    const char* que;
    std::vector<Value> paginas;
    bool spooled;
  };
  const Caso casos[] = {
      {"one object of many values", {ObjetosConGrafico(Serie(1100))}, true},
      {"one shared series on every page", std::vector<Value>(8, ObjetosConGrafico(compartida)),
       false},
      {"a series of its own on each page",
       {ObjetosConGrafico(DeepClone(compartida)), ObjetosConGrafico(DeepClone(compartida))},
       true},
      {"texts of a long text each", {Objetos(4, std::string(16 * 1000, 'a'))}, true},
  };
  for (const Caso& c : casos) {
    TDocumentoRenderizable doc;
    doc.SetAutoPageSpooling(50);
    for (const Value& objetos : c.paginas) doc.AddPagina(objetos);
    EXPECT_EQ(doc.IsPageSpooling(), c.spooled) << c.que;
    EXPECT_LT(doc.TotalObjetos(), 50) << c.que;
    for (int64_t p = 1; p <= doc.TotalPaginas(); ++p)
      EXPECT_TRUE(Same(doc.GetPagina(p).Get("objetos"), c.paginas[static_cast<size_t>(p - 1)]))
          << c.que;
  }
}

TEST_F(DocumentoTest, AutoLimitTakesOnlyNumbers) {
  struct Row {
    Value limit;
    int64_t expected;
  } rows[] = {{50, 50}, {-5, 0}, {Value::Real(7.9, 1), 7}, {"100", 7}, {Value(), 7}};
  TDocumentoRenderizable doc;
  for (const Row& row : rows) {
    doc.SetAutoPageSpooling(row.limit);
    EXPECT_EQ(doc.nAutoSpoolObjectLimit, row.expected) << ExprText(row.limit);
  }
}

TEST_F(DocumentoTest, StoredPageReadsBackExactly) {
  std::string withBytes("a\0b\x1A", 4);
  withBytes += std::string(40, 'z') + "\x1A";
  Value nested =
      Value::NewMap({{"z", 1}, {"a", Value::NewList({Value::NewMap(), Value::NewList()})}});
  Value wide = Value::NewMap();
  for (int i = 40; i > 0; --i) wide.Set(std::string("k").append(std::to_string(i)), i);
  Value every = Value::NewMap({
      {"nada", Value()},
      {"si", true},
      {"no", false},
      {"cero", 0},
      {"negativo", -1},
      {"minimo", std::numeric_limits<int64_t>::min()},
      {"maximo", std::numeric_limits<int64_t>::max()},
      {"real", Value::Real(12.5, 1)},
      {"realCero", Value::Real(0.0, 1)},
      {"cincoConDos", Value::Real(5, 2)},
      {"natural", Value(0.1)},
      {"grande", Value(-1e300)},
      {"treinta", Value::Real(1.0 / 3, kMaxDecimals)},
      {"vacio", ""},
      {"corto", "catorce bytes!"},
      {"largo", Value(std::string(200, 'x'))},
      {"bytes", Value(withBytes)},
      {"utf8", "año €"},
      {"fecha", Value::DateYMD(2024, 2, 29)},
      {"sinFecha", Value::EmptyDate()},
      {"momento", Value::Timestamp(JdnFromYMD(2024, 1, 31), 86399999)},
      {"anidado", nested},
      {"ancho", wide},
      {std::string("cla\0ve", 6), "clave con NUL"},
      {"zIndex", 26},
  });
  Value objetos = Objetos(3);
  objetos.Push(every);
  objetos.Push(Value::NewMap({{"tipo", "rectangulo"}, {"zIndex", 26}}));  // ends with 26

  TDocumentoRenderizable doc;
  doc.EnablePageSpooling();
  doc.AddPagina(objetos);
  ASSERT_EQ(PageFiles().size(), 1u);
  Value page = doc.GetPagina(1);
  EXPECT_TRUE(Same(page.Get("objetos"), objetos));
  EXPECT_FALSE(doc.HasPageSpoolError());

  const Value& real = page.Get("objetos").AsList()[3].Get("realCero");
  EXPECT_TRUE(real.IsReal());
  EXPECT_EQ(real.Decimals(), 1);
  EXPECT_EQ(PlainText(page.Get("objetos").AsList()[3].Get("real")), "12.5");

  // Each load is a fresh copy: changing it does not reach the file.
  page.Get("objetos").AsList()[0].Set("texto", "cambiado");
  EXPECT_TRUE(Same(doc.GetPagina(1).Get("objetos"), objetos));
}

TEST_F(DocumentoTest, ObjectsAndCallablesReadBackAsNothing) {
  Value object = Value::NewMap({{"a", 1},
                                {"objeto", Value::Object(MakeRef<Probe>())},
                                {"funcion", Value::Function([](auto) { return Value(1); })},
                                {"z", 2}});
  TDocumentoRenderizable doc;
  doc.EnablePageSpooling();
  doc.AddPagina(Value::NewList({object}));
  Value expected = Value::NewMap({{"a", 1}, {"objeto", Value()}, {"funcion", Value()}, {"z", 2}});
  EXPECT_TRUE(Same(doc.GetPagina(1).Get("objetos"), Value::NewList({expected})));
}

TEST_F(DocumentoTest, PatchesApplyOnEveryLoadAndSetPaginaDropsThem) {
  TDocumentoRenderizable doc;
  doc.EnablePageSpooling();
  Value objetos = Objetos(3);
  objetos.Push("no es un mapa");
  doc.AddPagina(objetos);
  const std::string file = FileOf(doc, 1);
  const std::string bytes = ReadBytes(file);

  Value patches = Value::NewList({
      Value::NewMap({{"nIndex", 2}, {"uTexto", "3"}}),
      Value::NewMap({{"nIndex", 0}, {"uTexto", "cero"}}),
      Value::NewMap({{"nIndex", 5}, {"uTexto", "fuera"}}),
      Value::NewMap({{"nIndex", 4}, {"uTexto", "no mapa"}}),
      Value::NewMap({{"nIndex", "1"}, {"uTexto", "texto"}}),
      Value::NewMap({{"nIndex", 3}}),
      "no es un parche",
  });
  ASSERT_TRUE(doc.SetParchesTextoPagina(1, patches));
  for (int load = 0; load < 2; ++load) {
    Value page = doc.GetPagina(1);
    const List& objs = page.Get("objetos").AsList();
    EXPECT_EQ(objs[0].Get("texto").Str(), "linea 0");
    EXPECT_EQ(objs[1].Get("texto").Str(), "3");
    EXPECT_EQ(objs[2].Get("texto").Str(), "linea 2");
    EXPECT_EQ(objs[3].Str(), "no es un mapa");
  }
  EXPECT_EQ(ReadBytes(file), bytes);  // the file itself is unchanged

  // A later call replaces the whole list.
  ASSERT_TRUE(doc.SetParchesTextoPagina(
      1, Value::NewList({Value::NewMap({{"nIndex", Value::Real(1.9, 1)}, {"uTexto", 7}})})));
  Value page = doc.GetPagina(1);
  EXPECT_EQ(page.Get("objetos").AsList()[0].Get("texto").Int(), 7);
  EXPECT_EQ(page.Get("objetos").AsList()[1].Get("texto").Str(), "linea 1");

  ASSERT_TRUE(doc.SetPagina(1, Value::NewMap({{"objetos", Objetos(2, "nueva")}})));
  EXPECT_EQ(FileOf(doc, 1), file);  // the same file, the page appended again
  EXPECT_EQ(SegmentOf(doc, 1), 1);
  EXPECT_EQ(ReadBytes(file).substr(0, bytes.size()), bytes);  // the old segment is untouched
  EXPECT_FALSE(doc.aPaginas.AsList()[0].Has("__kxTextPatches"));
  EXPECT_EQ(doc.GetPagina(1).Get("objetos").AsList()[0].Get("texto").Str(), "nueva 0");
  EXPECT_EQ(doc.TotalObjetos(), 2);
  EXPECT_EQ(PageFiles().size(), 1u);
}

TEST_F(DocumentoTest, PatchesNeedAStoredPage) {
  TDocumentoRenderizable doc;
  doc.AddPagina(Objetos(2));
  Value patch = Value::NewList({Value::NewMap({{"nIndex", 1}, {"uTexto", "x"}})});
  EXPECT_FALSE(doc.SetParchesTextoPagina(1, patch));  // in memory: its caller patches it
  doc.EnablePageSpooling();
  EXPECT_FALSE(doc.SetParchesTextoPagina(1, "no es una lista"));
  EXPECT_TRUE(doc.SetParchesTextoPagina(1, patch));
}

TEST_F(DocumentoTest, SetPaginaInMemoryKeepsTheMapAndCorrectsTheCount) {
  TDocumentoRenderizable doc;
  doc.AddPagina(Objetos(4));
  Value page = Value::NewMap({{"objetos", Objetos(1)}, {"extra", 1}});
  ASSERT_TRUE(doc.SetPagina(1, page));
  EXPECT_TRUE(doc.GetPagina(1).SameRef(page));
  EXPECT_EQ(doc.TotalObjetos(), 1);
  ASSERT_TRUE(doc.ActualizarContenidoPagina(1, Value::NewMap({{"objetos", Objetos(9)}})));
  EXPECT_EQ(doc.TotalObjetos(), 1);  // not corrected by design
  EXPECT_EQ(doc.GetPagina(1).Get("objetos").Len(), 9u);
}

TEST_F(DocumentoTest, PagesOutOfRangeChangeNothing) {
  TDocumentoRenderizable doc;
  doc.EnablePageSpooling();
  doc.AddPagina(Objetos(1));
  doc.AddPagina(Objetos(2));
  doc.AddPagina("no es una lista");  // an empty page
  const Value pageMap = Value::NewMap({{"objetos", Objetos(5)}});
  const Value patches = Value::NewList();
  const Value numbers[] = {0, -1, 4, Value::Real(0.5, 1), "1", Value(), Value::NewList({1})};
  for (const Value& n : numbers) {
    SCOPED_TRACE(ExprText(n));
    EXPECT_TRUE(IsEmptyPage(doc.GetPagina(n)));
    EXPECT_FALSE(doc.SetPagina(n, pageMap));
    EXPECT_FALSE(doc.ActualizarContenidoPagina(n, pageMap));
    EXPECT_FALSE(doc.SetParchesTextoPagina(n, patches));
  }
  EXPECT_FALSE(doc.SetPagina(1, "no es un mapa"));
  EXPECT_EQ(doc.TotalPaginas(), 3);
  EXPECT_EQ(doc.TotalObjetos(), 3);
  EXPECT_TRUE(IsEmptyPage(doc.GetPagina(3)));
  EXPECT_EQ(doc.GetPagina(2).Get("objetos").Len(), 2u);
  EXPECT_FALSE(doc.HasPageSpoolError());
}

TEST_F(DocumentoTest, GetPaginasIsLiveInMemoryAndFreshWhenSpooling) {
  TDocumentoRenderizable doc;
  doc.AddPagina(Objetos(1));
  EXPECT_TRUE(doc.GetPaginas().SameRef(doc.aPaginas));
  doc.EnablePageSpooling();
  Value a = doc.GetPaginas();
  Value b = doc.GetPaginas();
  ASSERT_EQ(a.Len(), 1u);
  EXPECT_FALSE(a.SameRef(b));
  EXPECT_TRUE(Same(a, b));
  EXPECT_EQ(a.AsList()[0].Get("objetos").Len(), 1u);
}

TEST_F(DocumentoTest, WriteFailureKeepsThePageInMemory) {
  TDocumentoRenderizable doc;
  doc.AddPagina(Objetos(2));
  doc.AddPagina(Objetos(3));
  UseTmpDir("/proc");  // no file can be created there, not even by root
  doc.EnablePageSpooling();
  EXPECT_TRUE(doc.IsPageSpooling());
  EXPECT_EQ(doc.GetPageSpoolError(), kErrorGuardar);
  doc.AddPagina(Objetos(4));
  ASSERT_EQ(doc.TotalPaginas(), 3);
  for (size_t n = 1; n <= 3; ++n) {
    EXPECT_TRUE(doc.aPaginas.AsList()[n - 1].Has("objetos")) << n;  // held in memory
    EXPECT_EQ(doc.GetPagina(n).Get("objetos").Len(), n + 1) << n;
  }

  UseTmpDir(dir_);
  doc.AddPagina(Objetos(1));  // spooling goes on once files can be written
  EXPECT_EQ(PageFiles().size(), 1u);
  EXPECT_EQ(doc.GetPagina(4).Get("objetos").Len(), 1u);
  EXPECT_EQ(doc.GetPageSpoolError(), kErrorGuardar);  // kept until Create or End
  doc.Create();
  EXPECT_FALSE(doc.HasPageSpoolError());
  EXPECT_TRUE(PageFiles().empty());  // Create erases the file with the stubs
}

// Keeps the process from writing any file past `bytes`, for the life of the object.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &old_);
    oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails instead
    rlimit limit = old_;
    limit.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &old_);
    std::signal(SIGXFSZ, oldHandler_);
  }

 private:
  rlimit old_{};
  void (*oldHandler_)(int) = nullptr;
};

TEST_F(DocumentoTest, AFailedAppendCutsTheFileBackAndKeepsThePage) {
  TDocumentoRenderizable doc;
  doc.EnablePageSpooling();
  doc.AddPagina(Objetos(5));
  const std::string file = FileOf(doc, 1);
  const std::string before = ReadBytes(file);
  // Text that does not compress, so the next segment is long.
  std::string noise;
  for (uint32_t x = 1; noise.size() < 20000;) {
    x = x * 1103515245u + 12345u;
    noise.push_back(static_cast<char>('!' + (x >> 16) % 90));
  }
  {
    FileSizeLimit limit(before.size() + 100);  // room for part of the page only
    doc.AddPagina(Objetos(3, noise));
  }
  EXPECT_EQ(doc.GetPageSpoolError(), kErrorGuardar);
  EXPECT_EQ(ReadBytes(file), before);                    // nothing of the failed page is left
  EXPECT_TRUE(doc.aPaginas.AsList()[1].Has("objetos"));  // held in memory
  EXPECT_TRUE(Same(doc.GetPagina(2).Get("objetos"), Objetos(3, noise)));

  // The next page goes right after the first one, and both read back.
  doc.AddPagina(Objetos(2, "tras el fallo"));
  EXPECT_EQ(SegmentOf(doc, 3), 1);
  EXPECT_TRUE(Same(doc.GetPagina(1).Get("objetos"), Objetos(5)));
  EXPECT_TRUE(Same(doc.GetPagina(3).Get("objetos"), Objetos(2, "tras el fallo")));
  EXPECT_EQ(doc.TotalObjetos(), 10);
  EXPECT_EQ(PageFiles().size(), 1u);
}

TEST_F(DocumentoTest, AThousandSpooledPagesUseOneFile) {
  TDocumentoRenderizable doc(210, 297);
  doc.EnablePageSpooling();
  for (int p = 0; p < 1000; ++p) doc.AddPagina(Objetos(1 + p % 7, "pagina " + std::to_string(p)));
  ASSERT_EQ(doc.TotalPaginas(), 1000);
  EXPECT_FALSE(doc.HasPageSpoolError());
  ASSERT_EQ(PageFiles().size(), 1u);
  for (int p : {0, 1, 499, 998, 999}) {
    EXPECT_TRUE(Same(doc.GetPagina(p + 1).Get("objetos"),
                     Objetos(1 + p % 7, "pagina " + std::to_string(p))))
        << p;
  }
  doc.End();
  EXPECT_TRUE(PageFiles().empty());
}

Value Nested(int depth) {
  Value v = "fondo";
  for (int i = 0; i < depth; ++i) v = Value::NewList({v});
  return v;
}

TEST_F(DocumentoTest, APageTooDeepForAFileStaysInMemory) {
  TDocumentoRenderizable doc;
  doc.EnablePageSpooling();
  Value deep = Value::NewList({Value::NewMap({{"tipo", "grafico"}, {"datos", Nested(300)}})});
  doc.AddPagina(deep);
  EXPECT_EQ(doc.GetPageSpoolError(), kErrorGuardar);
  EXPECT_TRUE(doc.GetPagina(1).Get("objetos").SameRef(deep));
  EXPECT_TRUE(PageFiles().empty());

  // Rewriting a stored page that fails: the page stays in memory, and the
  // file keeps the other pages.
  doc.cSpoolError.clear();
  doc.AddPagina(Objetos(2));
  doc.AddPagina(Objetos(4));
  ASSERT_TRUE(doc.SetPagina(2, Value::NewMap({{"objetos", deep}})));
  EXPECT_EQ(doc.GetPageSpoolError(), kErrorGuardar);
  EXPECT_TRUE(doc.GetPagina(2).Get("objetos").SameRef(deep));
  EXPECT_EQ(doc.GetPagina(3).Get("objetos").Len(), 4u);
  EXPECT_EQ(doc.TotalObjetos(), 6);

  // A page deep but within bounds is stored.
  doc.AddPagina(Value::NewList({Nested(200)}));
  EXPECT_TRUE(Same(doc.GetPagina(4).Get("objetos"), Value::NewList({Nested(200)})));
}

TEST_F(DocumentoTest, DamagedSpoolFileGivesTheReadFailure) {
  TDocumentoRenderizable doc;
  doc.EnablePageSpooling();
  doc.AddPagina(Objetos(3));
  const std::string file = FileOf(doc, 1);
  const std::string good = ReadBytes(file);  // the one segment
  ASSERT_GT(good.size(), 20u);

  auto expectFailure = [&](const std::string& bytes, const std::string& what) {
    ASSERT_TRUE(platform::WriteFile(file, bytes));
    doc.cSpoolError.clear();
    EXPECT_TRUE(IsEmptyPage(doc.GetPagina(1))) << what;
    EXPECT_EQ(doc.GetPageSpoolError(), kErrorRecuperar) << what;
  };
  for (size_t len = 0; len < good.size(); ++len) {
    expectFailure(good.substr(0, len), "truncated to " + std::to_string(len));
  }
  for (int b = 0; b < 256; ++b) {
    expectFailure(std::string(good.size(), static_cast<char>(b)), "byte " + std::to_string(b));
  }
  // A sound segment of another page, of another length, in this one's place.
  TDocumentoRenderizable other;
  other.EnablePageSpooling();
  other.AddPagina(Objetos(40, "otra"));
  std::string foreign = ReadBytes(FileOf(other, 1));
  foreign.resize(good.size());
  expectFailure(foreign, "another page's segment");

  // The segment is read by the length in the table: what follows it does not matter.
  ASSERT_TRUE(platform::WriteFile(file, good + "basura"));
  doc.cSpoolError.clear();
  EXPECT_TRUE(Same(doc.GetPagina(1).Get("objetos"), Objetos(3)));
  EXPECT_FALSE(doc.HasPageSpoolError());

  // A file that vanished has lost its pages: every read fails, and a page
  // stored now could not be read back, so it stays in memory.
  ASSERT_TRUE(platform::EraseFile(file));
  EXPECT_TRUE(IsEmptyPage(doc.GetPagina(1)));
  EXPECT_EQ(doc.GetPageSpoolError(), kErrorRecuperar);
  const Value page = Value::NewMap({{"objetos", Objetos(1)}});
  ASSERT_TRUE(doc.SetPagina(1, page));
  EXPECT_EQ(doc.GetPageSpoolError(), kErrorGuardar);
  EXPECT_TRUE(doc.GetPagina(1).SameRef(page));
  // Another file put under the vanished name is neither read nor erased.
  doc.AddPagina(Objetos(2));
  ASSERT_TRUE(platform::WriteFile(file, good));
  doc.cSpoolError.clear();
  EXPECT_TRUE(doc.aPaginas.AsList()[1].Has("objetos"));
  doc.End();
  EXPECT_TRUE(fs::exists(file));
}

// Every key of every map is found at its own place: no key twice.
bool KeysUnique(const Value& v) {
  if (v.IsList()) {
    for (const Value& item : v.AsList()) {
      if (!KeysUnique(item)) return false;
    }
  }
  if (v.IsMap()) {
    const Map& m = v.AsMap();
    for (size_t i = 0; i < m.size(); ++i) {
      if (m.IndexOf(m.KeyAt(i)) != i || !KeysUnique(m.ValueAt(i))) return false;
    }
  }
  return true;
}

TEST_F(DocumentoTest, EveryOneByteDamageLoadsAWellFormedPageOrFails) {
  TDocumentoRenderizable doc;
  doc.EnablePageSpooling();
  // Objects repeat their keys, as rendered objects do.
  doc.AddPagina(Value::NewList({
      Value::NewMap({{"a", 1}, {"b", Value::Real(2.5, 1)}, {"c", Value::NewList({"x"})}}),
      Value::NewMap({{"a", 3}, {"b", Value::Real(4.5, 1)}, {"c", Value::NewList({"y"})}}),
  }));
  const std::string file = FileOf(doc, 1);
  const std::string good = ReadBytes(file);
  // Each byte is changed in place: rewriting the whole file tens of thousands
  // of times makes the file system flush it every time.
  std::fstream bytes(file, std::ios::in | std::ios::out | std::ios::binary);
  ASSERT_TRUE(bytes.is_open());
  size_t failures = 0;
  for (size_t pos = 0; pos < good.size(); ++pos) {
    for (int b = 0; b <= 256; ++b) {
      bytes.seekp(static_cast<std::streamoff>(pos));
      bytes.put(b < 256 ? static_cast<char>(b) : good[pos]);  // the last round restores it
      bytes.flush();
      if (b == 256) break;
      doc.cSpoolError.clear();
      Value page = doc.GetPagina(1);
      if (doc.HasPageSpoolError()) {
        ASSERT_TRUE(IsEmptyPage(page)) << pos << " " << b;
        ++failures;
      } else {
        ASSERT_TRUE(page.Get("objetos").IsList()) << pos << " " << b;
        ASSERT_TRUE(KeysUnique(page)) << pos << " " << b;
      }
    }
  }
  EXPECT_GT(failures, good.size() * 128);  // most damage is caught, not read as a page
}

TEST_F(DocumentoTest, EndErasesEveryPageFileAndResets) {
  TDocumentoRenderizable doc(210, 297);
  doc.SetPaperHeightMode("content");
  doc.SetAutoPageSpooling(1);
  doc.SetDataTables(Value::NewList({Value::NewMap({{"cId", "T"}})}));
  doc.AddPagina(Objetos(2));
  doc.AddPagina(Objetos(2));
  doc.SetPagina(2, Value::NewMap({{"objetos", Objetos(1)}}));
  ASSERT_EQ(PageFiles().size(), 1u);

  doc.End();
  EXPECT_TRUE(PageFiles().empty());
  EXPECT_EQ(doc.TotalPaginas(), 0);
  EXPECT_EQ(doc.TotalObjetos(), 0);
  EXPECT_EQ(doc.nAncho, 0);
  EXPECT_EQ(doc.nAlto, 0);
  EXPECT_EQ(doc.cPaperHeightMode, "fixed");
  EXPECT_FALSE(doc.IsPageSpooling());
  EXPECT_EQ(doc.nAutoSpoolObjectLimit, 0);
  EXPECT_EQ(doc.GetDataTables().Len(), 0u);
}

TEST_F(DocumentoTest, CreateErasesTheSpoolFileWithItsStubs) {
  TDocumentoRenderizable doc;
  doc.EnablePageSpooling();
  doc.AddPagina(Objetos(1));
  const Value stub = doc.aPaginas.AsList()[0];
  doc.Create();  // no stub is left to reach the file's pages
  EXPECT_EQ(doc.TotalPaginas(), 0);
  EXPECT_TRUE(PageFiles().empty());
  // A stub kept from before names no page of the document any more.
  doc.EnablePageSpooling();
  doc.AddPagina(Objetos(2));
  doc.aPaginas.AsList()[0] = stub;
  EXPECT_TRUE(doc.GetPagina(1).SameRef(stub));  // a plain map: never followed
  EXPECT_FALSE(doc.HasPageSpoolError());
  doc.End();
  EXPECT_TRUE(PageFiles().empty());
}

TEST_F(DocumentoTest, TheLastOwnerLettingGoErasesThePageFiles) {
  Value held;
  {
    auto doc = MakeRef<TDocumentoRenderizable>(210, 297);
    doc->EnablePageSpooling();
    for (int i = 0; i < 3; ++i) doc->AddPagina(Objetos(5));
    held = Value::Object(doc);
  }
  EXPECT_EQ(PageFiles().size(), 1u);  // still owned by the value
  EXPECT_EQ(held.As<TDocumentoRenderizable>()->GetPagina(3).Get("objetos").Len(), 5u);
  held = Value();
  EXPECT_TRUE(PageFiles().empty());
}

TEST_F(DocumentoTest, AForeignPageFileIsNeverReadNorErased) {
  // A real page file, of another document.
  TDocumentoRenderizable other;
  other.EnablePageSpooling();
  other.AddPagina(Objetos(1, "ajena"));
  const std::string foreign = FileOf(other, 1);

  TDocumentoRenderizable doc;
  doc.AddPagina(Objetos(1));
  Value page = Value::NewMap({{"objetos", Objetos(1, "propia")}, {"__kxPageFile", foreign}});
  ASSERT_TRUE(doc.SetPagina(1, page));
  EXPECT_TRUE(doc.GetPagina(1).SameRef(page));
  EXPECT_FALSE(doc.SetParchesTextoPagina(1, Value::NewList()));

  // Spooling stores that map as a page of its own, in a file of its own.
  doc.EnablePageSpooling();
  EXPECT_NE(FileOf(doc, 1), foreign);
  EXPECT_TRUE(Same(doc.GetPagina(1), page));
  ASSERT_TRUE(doc.SetPagina(1, page));
  EXPECT_NE(FileOf(doc, 1), foreign);

  // Stubs made by hand count only when they name this document's file and
  // a segment of its own table.
  const std::string own = FileOf(doc, 1);
  const Value handMade[] = {
      Value::NewMap({{"__kxPageFile", foreign}, {"__kxPageSegment", 0}}),
      Value::NewMap({{"__kxPageFile", own}, {"__kxPageSegment", 3}}),
      Value::NewMap({{"__kxPageFile", own}, {"__kxPageSegment", -1}}),
      Value::NewMap({{"__kxPageFile", own}, {"__kxPageSegment", "0"}}),
      Value::NewMap({{"__kxPageFile", own}}),
  };
  doc.AddPagina(Objetos(1));
  for (const Value& stub : handMade) {
    doc.aPaginas.AsList()[1] = stub;
    EXPECT_TRUE(doc.GetPagina(2).SameRef(stub)) << ExprText(stub);
    EXPECT_FALSE(doc.SetParchesTextoPagina(2, Value::NewList())) << ExprText(stub);
  }
  doc.aPaginas.AsList()[1] = Value::NewMap({{"__kxPageFile", own}, {"__kxPageSegment", 1}});
  EXPECT_TRUE(Same(doc.GetPagina(2), page));  // a segment of its own: read
  doc.End();
  EXPECT_TRUE(fs::exists(foreign));
  EXPECT_EQ(other.GetPagina(1).Get("objetos").AsList()[0].Get("texto").Str(), "ajena 0");
  other.End();
  EXPECT_TRUE(PageFiles().empty());
}

TEST_F(DocumentoTest, SizeAndPaperModeRules) {
  struct SizeRow {
    Value width, height;
    double ancho, alto;
  } sizes[] = {{210, 297, 210, 297},
               {"210,5", " 99.5mm", 210.5, 99.5},
               {true, false, 1, 0},
               {Value(), Value::NewList(), 0, 0}};
  for (const SizeRow& row : sizes) {
    TDocumentoRenderizable doc(row.width, row.height);
    EXPECT_EQ(doc.nAncho, row.ancho) << ExprText(row.width);
    EXPECT_EQ(doc.nAlto, row.alto) << ExprText(row.height);
    doc.SetTamano(1, 2);
    EXPECT_EQ(doc.nAncho, 1);
  }

  struct ModeRow {
    Value mode;
    const char* expected;
  } modes[] = {{" Content ", "content"}, {"CONTENT", "content"},
               {"fixed", "fixed"},       {"", "fixed"},
               {"content x", "fixed"},   {1, "fixed"}};
  TDocumentoRenderizable doc;
  for (const ModeRow& row : modes) {
    doc.SetPaperHeightMode("content");
    doc.SetPaperHeightMode(row.mode);
    EXPECT_EQ(doc.cPaperHeightMode, row.expected) << ExprText(row.mode);
  }
  doc.SetPaperHeightMode("content");
  doc.Create();
  EXPECT_EQ(doc.cPaperHeightMode, "content");  // Create leaves size and mode
}

TEST_F(DocumentoTest, DataTablesAreFoundByTheirExactId) {
  TDocumentoRenderizable doc;
  Value t1 = Value::NewMap({{"cId", "T1"}});
  Value t2 = Value::NewMap({{"cId", "t2"}});
  doc.SetDataTables(Value::NewList({5, Value::NewMap({{"x", 1}}), t1, t2}));
  EXPECT_TRUE(doc.GetDataTable("T1").SameRef(t1));
  EXPECT_TRUE(doc.GetDataTable("t2").SameRef(t2));
  EXPECT_TRUE(doc.GetDataTable("t1").IsNil());
  EXPECT_TRUE(doc.GetDataTable("T2").IsNil());
  EXPECT_TRUE(doc.GetDataTable(Value()).IsNil());
  doc.SetDataTables("no es una lista");
  EXPECT_TRUE(doc.GetDataTables().IsList());
  EXPECT_EQ(doc.GetDataTables().Len(), 0u);
}

TEST_F(DocumentoTest, CompactRowsOfADataTableAreListsWhenRead) {
  const Value fila[] = {Value("a"), Value(1)};
  for (const bool porId : {false, true}) {
    auto filas = MakeRef<FilasCompactas>(2);
    filas->Agregar(fila);
    TDocumentoRenderizable doc;
    doc.SetDataTables(
        Value::NewList({Value::NewMap({{"cId", "T"}, {"aRows", Value(Ref<KXObject>(filas))}})}));
    const Value tabla = porId ? doc.GetDataTable("T") : doc.GetDataTables().AsList()[0];
    EXPECT_EQ(JsonEncode(tabla), R"({"cId":"T","aRows":[["a",1]]})") << porId;
  }
}

}  // namespace
}  // namespace kx

namespace kx {
namespace {

TEST_F(DocumentoTest, RemovingTrailingPagesCorrectsTheCounts) {
  for (bool spooling : {false, true}) {
    auto doc = MakeRef<TDocumentoRenderizable>(210, 297);
    if (spooling) doc->EnablePageSpooling();
    for (int p = 0; p < 4; ++p) doc->AddPagina(Objetos(p + 1));
    EXPECT_FALSE(doc->QuitarPaginasDesde(Value(0)));
    EXPECT_FALSE(doc->QuitarPaginasDesde(Value(5)));
    ASSERT_TRUE(doc->QuitarPaginasDesde(Value(3)));
    EXPECT_EQ(doc->TotalPaginas(), 2);
    EXPECT_EQ(doc->TotalObjetos(), 3);  // pages of 1 and 2 objects remain
    EXPECT_EQ(doc->GetPagina(2).Get("objetos").Len(), 2u);
    EXPECT_EQ(PageFiles().size(), spooling ? 1u : 0u) << spooling;
    if (spooling) {
      // The counts come from the segment table: no page is read for them.
      ASSERT_TRUE(platform::WriteFile(PageFiles()[0], ""));
      ASSERT_TRUE(doc->QuitarPaginasDesde(Value(2)));
      EXPECT_EQ(doc->TotalObjetos(), 1);
      EXPECT_FALSE(doc->HasPageSpoolError());
    }
    doc->End();
    EXPECT_TRUE(PageFiles().empty());
  }
}

}  // namespace
}  // namespace kx
