#include <gtest/gtest.h>

#include <functional>
#include <ios>
#include <ostream>
#include <streambuf>
#include <string>

#include "Json.h"
#include "SpoolDamage.h"
#include "TDocumentoRenderizable.h"
#include "TestFolder.h"

namespace kx {
namespace {

// A stream's end that keeps what it is given, takes at most `limit` bytes
// (a full disk, a closed socket) and calls `onWrite` after each write.
class Sink : public std::streambuf {
 public:
  std::string text;
  size_t limit = std::string::npos;
  std::function<void()> onWrite;

 protected:
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    const size_t room = limit - std::min(limit, text.size());
    const size_t taken = std::min(room, static_cast<size_t>(n));
    text.append(s, taken);
    if (onWrite) onWrite();
    return static_cast<std::streamsize>(taken);
  }
  int overflow(int c) override {
    if (c == traits_type::eof()) return traits_type::not_eof(c);
    const char ch = traits_type::to_char_type(c);
    return xsputn(&ch, 1) == 1 ? c : traits_type::eof();
  }
};

class DocumentoJsonTest : public ::testing::Test {
 protected:
  TempDir folder_;
  TmpDirAs tmp_{folder_.path()};  // spool files go to this test's own folder
};

// One page of what pages hold: a real with its decimals, a date, nothing, a
// logical and a text with a quote and a line break.
Value Pagina() {
  return Value::NewList({Value::NewMap({{"id", "t"},
                                        {"tipo", "texto"},
                                        {"x", Value::Real(12.5, 2)},
                                        {"y", 3},
                                        {"texto", "a \"b\"\nc"},
                                        {"fecha", Value::DateYMD(2026, 3, 15)},
                                        {"vacio", Value()},
                                        {"negrita", true}})});
}

const char* const kPagina =
    R"({"objetos":[{"id":"t","tipo":"texto","x":12.50,"y":3,"texto":"a \"b\"\nc",)"
    R"("fecha":"20260315","vacio":null,"negrita":true}]})";

std::string Escrito(TDocumentoRenderizable& doc, bool& ok) {
  Sink sink;
  std::ostream out(&sink);
  ok = doc.EscribirJson(out);
  return sink.text;
}

TEST_F(DocumentoJsonTest, PagesInMemoryAndSpooledWriteTheSameText) {
  for (const bool spooled : {false, true}) {
    SCOPED_TRACE(spooled ? "spooled" : "in memory");
    TDocumentoRenderizable doc(210, Value::Real(297.5, 1));
    if (spooled) doc.EnablePageSpooling();
    doc.AddPagina(Pagina());
    doc.AddPagina(Value());  // an empty page
    ASSERT_EQ(doc.IsPageSpooling(), spooled);

    EXPECT_EQ(doc.GetPaginaJson(1), kPagina);
    EXPECT_EQ(doc.GetPaginaJson(2), R"({"objetos":[]})");
    EXPECT_EQ(doc.GetPaginaJson(3), R"({"objetos":[]})");  // out of range: an empty page
    bool ok = false;
    EXPECT_EQ(Escrito(doc, ok), std::string(R"({"ancho":210,"alto":297.5,"pages":[)") + kPagina +
                                    R"(,{"objetos":[]}]})");
    EXPECT_TRUE(ok);
    EXPECT_FALSE(doc.HasPageSpoolError());
  }
  TDocumentoRenderizable empty;
  bool ok = false;
  EXPECT_EQ(Escrito(empty, ok), R"({"ancho":0,"alto":0,"pages":[]})");
  EXPECT_TRUE(ok);
}

// What a viewer reads is the whole document encoded at once: the page texts
// patched later, a series every page shares written at every place.
TEST_F(DocumentoJsonTest, ASpooledDocumentWritesWhatItsPagesRead) {
  const Value serie = JsonDecode(R"([{"label":"A","value":1.25},{"label":"B","value":2.50}])");
  TDocumentoRenderizable doc(210, 297);
  doc.EnablePageSpooling();
  for (int p = 1; p <= 4; ++p) {
    Value objetos = Pagina();
    objetos.Push(Value::NewMap({{"id", "g"}, {"tipo", "barras"}, {"puntos", serie}}));
    doc.AddPagina(objetos);
    ASSERT_TRUE(doc.SetParchesTextoPagina(
        p,
        Value::NewList({Value::NewMap({{"nIndex", 1}, {"uTexto", std::to_string(p) + " de 4"}})})));
  }
  bool ok = false;
  const std::string json = Escrito(doc, ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(json, JsonEncode(Value::NewMap(
                      {{"ancho", doc.nAncho}, {"alto", doc.nAlto}, {"pages", doc.GetPaginas()}})));
  EXPECT_NE(json.find(R"("texto":"4 de 4")"), std::string::npos);
  EXPECT_EQ(doc.GetPaginaJson(3), JsonEncode(doc.GetPagina(3)));
}

// Each page is written before the next is read: a spool cut while the
// document is written leaves the pages before the cut written, and the
// writer answers false.
TEST_F(DocumentoJsonTest, PagesGoOutOneAtATimeAndAFailureStopsThem) {
  TDocumentoRenderizable doc(210, 297);
  doc.EnablePageSpooling();
  for (int p = 0; p < 3; ++p) doc.AddPagina(Pagina());
  const std::string primera = std::string(R"({"ancho":210,"alto":297,"pages":[)") + kPagina;

  Sink sink;
  sink.onWrite = [&] {
    if (sink.text == primera) {
      ASSERT_TRUE(DamageSpoolOfPage(doc, 1, SpoolDamage::kTruncated));
    }
  };
  std::ostream out(&sink);
  EXPECT_FALSE(doc.EscribirJson(out));
  EXPECT_EQ(sink.text, primera);
  EXPECT_TRUE(doc.HasPageSpoolError());

  // A document that has lost a page is not written at all.
  Sink again;
  std::ostream out2(&again);
  EXPECT_FALSE(doc.EscribirJson(out2));
  EXPECT_EQ(again.text, "");
}

TEST_F(DocumentoJsonTest, AStreamThatFailsGivesFalseAndNeverAThrow) {
  TDocumentoRenderizable doc(210, 297);
  for (int p = 0; p < 3; ++p) doc.AddPagina(Pagina());
  struct Case {
    size_t limit;
    bool exceptions;
  };
  for (const Case& c : {Case{0, false}, Case{40, false}, Case{300, true}}) {
    SCOPED_TRACE(c.limit);
    Sink sink;
    sink.limit = c.limit;
    std::ostream out(&sink);
    if (c.exceptions) out.exceptions(std::ios::badbit | std::ios::failbit);
    bool ok = true;
    EXPECT_NO_THROW(ok = doc.EscribirJson(out));
    EXPECT_FALSE(ok);
    EXPECT_LE(sink.text.size(), c.limit);
  }
}

}  // namespace
}  // namespace kx
