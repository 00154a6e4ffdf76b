// The renderable document: the page list a run answers, with page spooling.
//
// A page is a map {"objetos": list of rendered object maps}. Large outputs
// keep their pages in a temporary file instead: a spooled page stands in
// `aPaginas` as a stub {"__kxPageFile": path, "__kxPageSegment": number} and
// every read loads it back. Late text corrections of a spooled page are kept
// in the stub under "__kxTextPatches" and applied on every load, so a page
// is written once.
//
// The spool (see PageSpool):
//  - one file per document, created exclusively in the system temporary
//    folder with the prefix "kxt_ir_" when the first page is stored, kept
//    open, each page appended as a compressed segment of the page codec's
//    bytes (which read back every value exactly);
//  - objects and callables cannot live in a file: they read back as nothing;
//  - a page nested deeper than the codec accepts, or that cannot be written
//    whole, stays in memory with the store-failure message;
//  - a stub counts as stored only when it names this document's file and a
//    segment of its own table: a page map naming a file or a segment of its
//    own is never read, and offsets never come from a stub;
//  - replacing a stored page appends it again (the old segment is dead space);
//  - removing pages reads their object counts from the segment table;
//  - `Create` and `End` (and so the destructor) erase the file.
//
// A list or map inside a page's objects that the page shares with others
// (one chart series on every page) is one value for the whole document:
//  - it is known by its identity, and only while something besides the
//    document holds it too (a value the page alone holds is its own);
//  - it is written once, as a segment of its own, and stored pages name it;
//  - pages read back share it as the stored pages did: while its owner
//    still holds it they are given that very value, else it is decoded
//    from the file once and kept while read pages hold it (and a little
//    longer: decoded values are let go of as their number doubles);
//  - the spooling switch weighs what pages hold in memory, counting such a
//    value once: it switches on at the object limit, or when the pages hold
//    as many values as that many objects of kValoresPorObjeto values would
//    (a page of few objects can hold a great deal, a chart's every point).
#pragma once

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>

#include "PageSpool.h"
#include "Value.h"

namespace kx {

class TDocumentoRenderizable : public KXObject {
 public:
  // Somewhat more than an ordinary rendered object holds (a text of some forty keys and its
  // runs holds 56 values), so ordinary pages still switch at their object count.
  static constexpr int64_t kValoresPorObjeto = 64;

  // New(width, height): both through the value-to-number rule.
  explicit TDocumentoRenderizable(const Value& width = Value(0), const Value& height = Value(0));
  // Erases the document's spool file.
  ~TDocumentoRenderizable() override;
  // The spool file belongs to one document: a copy would erase it twice.
  TDocumentoRenderizable(const TDocumentoRenderizable&) = delete;
  TDocumentoRenderizable& operator=(const TDocumentoRenderizable&) = delete;

  std::string_view ClassName() const override { return "TDocumentoRenderizable"; }

  // Sets the paper size, then the resets of `Create`.
  TDocumentoRenderizable& Init(const Value& width, const Value& height);
  // Empties pages and data tables, spooling off, counts 0; size and mode stay.
  TDocumentoRenderizable& Create();
  // Erases the spool file and resets every member.
  void End();

  // Sets the paper size of every page, in mm.
  TDocumentoRenderizable& SetTamano(const Value& width, const Value& height);
  // "content" for a text whose trimmed lower-case form is "content", else "fixed".
  TDocumentoRenderizable& SetPaperHeightMode(const Value& mode);

  // Switches spooling on and stores every page held in memory.
  TDocumentoRenderizable& EnablePageSpooling();
  // A number sets the object count at which spooling switches itself on (0 never).
  TDocumentoRenderizable& SetAutoPageSpooling(const Value& limit);
  // Pages live in the spool file.
  bool IsPageSpooling() const { return lPageSpooling; }
  // A store or load of a spooled page has failed.
  bool HasPageSpoolError() const { return !cSpoolError.empty(); }
  // The latest spool failure's message, or "".
  const std::string& GetPageSpoolError() const { return cSpoolError; }

  // Appends a page of the given rendered objects (not a list: an empty page).
  void AddPagina(const Value& objects);
  // Replaces page n (1-based); false when n is out of range or the page not a map.
  bool SetPagina(const Value& n, const Value& page);
  // Removes page n and every page after it, erasing their files; false when n is out of range.
  bool QuitarPaginasDesde(const Value& n);
  // As SetPagina, without loading the old page or correcting the object count.
  bool ActualizarContenidoPagina(const Value& n, const Value& page);
  // Sets the text patches of stored page n; false unless it is stored.
  bool SetParchesTextoPagina(const Value& n, const Value& patches);
  // Page n as a page map (a fresh copy when stored); out of range: an empty page.
  Value GetPagina(const Value& n);
  // Every page: the live page list, or fresh loads while spooling.
  Value GetPaginas();
  // Page n as JSON, as GetPagina answers it: {"objetos":[...]} in Json.h's
  // compact form (reals with their decimals, dates "YYYYMMDD"). A page that
  // cannot be read back is {"objetos":[]} with the spool error set; "" when
  // memory runs out.
  std::string GetPaginaJson(const Value& n);
  // The whole document as one JSON map {"ancho":W,"alto":H,"pages":[...]},
  // each page as GetPaginaJson writes it, written to `out` page by page:
  // one page is read (from the spool while spooling) and written before the
  // next, so memory holds one at a time. False, and the output cut short,
  // when the document has a spool error or a page cannot be read back, when
  // the stream fails, or when memory runs out; nothing is thrown.
  bool EscribirJson(std::ostream& out);
  // Number of pages.
  int64_t TotalPaginas() const;
  // Rendered objects on all pages.
  int64_t TotalObjetos() const { return nTotalObjects; }

  // Sets the exported data tables (not a list: none).
  TDocumentoRenderizable& SetDataTables(const Value& tables);
  // The exported data tables. A table's rows may be held compactly (see
  // FilasCompactas) until the tables are read here: they become lists then.
  const Value& GetDataTables() const;
  // The first data table whose "cId" equals the id exactly, or nothing.
  Value GetDataTable(const Value& id) const;

  Value aPaginas;                         // page maps, or stubs while spooling
  double nAncho = 0;                      // paper width in mm
  double nAlto = 0;                       // paper height in mm
  std::string cPaperHeightMode{"fixed"};  // "fixed" or "content"
  bool lPageSpooling = false;
  int64_t nTotalObjects = 0;
  int64_t nAutoSpoolObjectLimit = 0;  // 0 = never
  std::string cSpoolError;
  Value aDataTables;  // read through GetDataTables: rows may still be compact

 private:
  // Appends the page to the spool: its stub, or the page itself on failure.
  Value StorePage(const Value& page);
  // The entry as a page map: a stored entry freshly read with its patches.
  Value LoadPage(const Value& entry);
  // The entry is a stub naming this document's file and one of its segments.
  bool IsStoredPage(const Value& entry) const;
  // The stored entry's segment, or -1 when the entry is not stored.
  int64_t StoredSegment(const Value& entry) const;
  // Objects of the entry: from the segment table when it is stored.
  int64_t EntryObjectCount(const Value& entry) const;
  // Puts the page in the entry's place, in the spool while spooling.
  void ReplaceEntry(Value& entry, const Value& page);
  // 0-based index of page n, or -1 when n is not a page number.
  int64_t PageIndex(const Value& n) const;
  List& Paginas();
  // The switch weighs the pages held in memory (with an automatic limit).
  bool PesaPaginas() const { return !lPageSpooling && nAutoSpoolObjectLimit > 0; }

  class Compartidos;  // the values pages share (TDocumentoRenderizable.cpp)

  PageSpool oSpool;
  std::unique_ptr<Compartidos> oCompartidos;
  int64_t nPesoEnMemoria = 0;  // values held by the pages in memory, shared ones once
  Value vRutaSpool;            // the spool file's path, shared by every stub
  // Reused for every page written or read, so a run allocates it once.
  std::string cBufferPagina;
};

}  // namespace kx
