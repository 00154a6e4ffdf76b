#include "TDocumentoRenderizable.h"

#include <algorithm>
#include <unordered_map>
#include <vector>

#include "FilasCompactas.h"
#include "PageFile.h"

namespace kx {

namespace {

constexpr std::string_view kPrefijoArchivo = "kxt_ir_";
constexpr std::string_view kClaveArchivo = "__kxPageFile";
constexpr std::string_view kClaveSegmento = "__kxPageSegment";
constexpr std::string_view kClaveParches = "__kxTextPatches";
constexpr std::string_view kErrorGuardar =
    "No se ha podido guardar una pagina temporal del informe.";
constexpr std::string_view kErrorRecuperar =
    "No se ha podido recuperar una pagina temporal del informe.";

Value EmptyPage() {
  Value page = Value::NewMap();
  page.AsMap().Append(KeyText("objetos"), Value::NewList());
  return page;
}

int64_t ObjectCount(const Value& page) {
  const Value& objetos = page.Get("objetos");
  return objetos.IsList() ? static_cast<int64_t>(objetos.Len()) : 0;
}

// Each patch replaces the "texto" of one object; malformed patches are skipped.
void ApplyPatches(const Value& page, const Value& patches) {
  if (!patches.IsList()) return;
  List& objetos = page.Get("objetos").AsList();
  for (const Value& patch : patches.AsList()) {
    if (!patch.IsMap() || !patch.Has("nIndex") || !patch.Has("uTexto")) continue;
    const Value& index = patch.Get("nIndex");
    if (!index.IsNumber()) continue;
    const int64_t i = index.Int();
    if (i < 1 || i > static_cast<int64_t>(objetos.size())) continue;
    Value& object = objetos[static_cast<size_t>(i - 1)];
    if (object.IsMap()) object.Set("texto", patch.Get("uTexto"));
  }
}

// Far deeper than any rendered page: weighing stops there.
constexpr int kProfundidadPeso = 256;
// Bytes of a shared value's buffer kept for the next one.
constexpr size_t kBufferRetenido = 64 * 1024;

}  // namespace

class TDocumentoRenderizable::Compartidos final : public ValoresCompartidos {
 public:
  explicit Compartidos(PageSpool& spool) : oSpool_(spool) {}

  int64_t Numero(const Value& value) override {
    bool nueva = false;
    const int64_t i = Buscar(value, nueva);
    if (i < 0) return -1;
    Entrada& e = aEntradas_[static_cast<size_t>(i)];
    if (e.nSegmento < 0) {
      // Written whole without a table: a shared value names no other.
      if (!WritePageFile(value, cBuffer_)) return -1;
      const int64_t segmento = oSpool_.Append(cBuffer_, 0);
      if (segmento < 0) return -1;
      if (aSegmentos_.size() <= static_cast<size_t>(segmento))
        aSegmentos_.resize(static_cast<size_t>(segmento) + 1, false);
      aSegmentos_[static_cast<size_t>(segmento)] = true;
      e.nSegmento = segmento;
      // A long series is written once per document: the room it took is not kept for the
      // pages, which need far less, while the series itself stays in memory.
      if (cBuffer_.capacity() > kBufferRetenido) {
        std::string().swap(cBuffer_);
        oSpool_.SoltarMemoria();
      }
    }
    return i;
  }

  bool Valor(uint64_t number, Value& value) override {
    if (number >= aEntradas_.size()) return false;
    Entrada& e = aEntradas_[number];
    if (e.nSegmento < 0) return false;
    if (const Shared* p = e.vOriginal.SharedPtr()) {
      if (p->RefCount() > 1) {
        value = e.vOriginal;
        return true;
      }
      Soltar(e);
    }
    if (e.vLeido.IsNil()) {
      Value leido;
      if (!oSpool_.Read(e.nSegmento, cBuffer_) || !ReadPageFile(cBuffer_, leido) ||
          !(leido.IsList() || leido.IsMap()))
        return false;
      // Values read before that no page read holds any more go as the read ones double:
      // pages read in turn keep what they share, and memory stays bounded.
      if (nLeidos_ >= 2 * nLeidosTrasBarrido_ + 16) {
        for (Entrada& otra : aEntradas_) {
          const Shared* q = otra.vLeido.SharedPtr();
          if (q && q->RefCount() <= 1) {
            otra.vLeido = Value();
            --nLeidos_;
          }
        }
        nLeidosTrasBarrido_ = nLeidos_;
      }
      e.vLeido = std::move(leido);
      ++nLeidos_;
    }
    value = e.vLeido;
    return true;
  }

  // The values the page holds: every scalar, list and map once, a long text by its 16-byte
  // words, and a shared value only the first time the document meets it.
  int64_t Peso(const Value& v, int depth = 1) {
    const List* lista = v.ListPtr();
    const Map* mapa = v.MapPtr();
    if (!lista && !mapa) return PesoEscalar(v);
    if (depth > kProfundidadPeso) return 1;
    const size_t n = lista ? lista->size() : mapa->size();
    if (depth >= kProfundidadMinima && n >= kMinElementos) {
      bool nueva = false;
      if (Buscar(v, nueva) >= 0 && !nueva) return 0;
    }
    int64_t peso = 1;
    for (size_t i = 0; i < n; ++i) {
      const Value& hijo = lista ? (*lista)[i] : mapa->ValueAt(i);
      // Most values are scalars: weighed here, without a call.
      peso += hijo.IsList() || hijo.IsMap() ? Peso(hijo, depth + 1) : PesoEscalar(hijo);
    }
    return peso;
  }

  static int64_t PesoEscalar(const Value& v) {
    return v.IsText() ? 1 + static_cast<int64_t>(v.Str().size() / 16) : 1;
  }

  // The segment holds a shared value, not a page.
  bool EsSegmento(int64_t segmento) const {
    return segmento >= 0 && static_cast<size_t>(segmento) < aSegmentos_.size() &&
           aSegmentos_[static_cast<size_t>(segmento)];
  }

  void Vaciar() {
    std::vector<Entrada>().swap(aEntradas_);
    std::unordered_map<const Shared*, uint32_t>().swap(hIdentidad_);
    std::vector<bool>().swap(aSegmentos_);
    std::string().swap(cBuffer_);
    nVivos_ = 0;
    nVivosTrasBarrido_ = 0;
    nLeidos_ = 0;
    nLeidosTrasBarrido_ = 0;
  }

 private:
  struct Entrada {
    Value vOriginal;  // the value met, while something else holds it too
    int64_t nSegmento = -1;
    Value vLeido;  // decoded from the file once its original was gone, while pages hold it
  };

  // The entry of the value, made when the value is shared; -1 when it is the page's own.
  int64_t Buscar(const Value& v, bool& nueva) {
    nueva = false;
    const Shared* p = v.SharedPtr();
    if (!p) return -1;
    if (const auto it = hIdentidad_.find(p); it != hIdentidad_.end()) return it->second;
    // Held by its container alone: no other page can hold it.
    if (p->RefCount() <= 1 || aEntradas_.size() >= UINT32_MAX) return -1;
    if (nVivos_ >= 2 * nVivosTrasBarrido_ + 16) Barrer();
    hIdentidad_.emplace(p, static_cast<uint32_t>(aEntradas_.size()));
    aEntradas_.push_back({v, -1, Value()});
    ++nVivos_;
    nueva = true;
    return static_cast<int64_t>(aEntradas_.size() - 1);
  }

  // Lets go of the values only the document still holds: no page can be given them again,
  // so their identity may go to a new value. Run as the entries double, so it costs a
  // constant per value met.
  void Barrer() {
    for (Entrada& e : aEntradas_) {
      const Shared* p = e.vOriginal.SharedPtr();
      if (p && p->RefCount() <= 1) Soltar(e);
    }
    nVivosTrasBarrido_ = nVivos_;
  }

  void Soltar(Entrada& e) {
    hIdentidad_.erase(e.vOriginal.SharedPtr());
    e.vOriginal = Value();
    --nVivos_;
  }

  PageSpool& oSpool_;
  std::vector<Entrada> aEntradas_;
  std::unordered_map<const Shared*, uint32_t> hIdentidad_;  // a held original -> its entry
  std::vector<bool> aSegmentos_;                            // segment -> holds a shared value
  std::string cBuffer_;  // a shared value's bytes, apart from the page being written or read
  size_t nVivos_ = 0;    // entries holding their original
  size_t nVivosTrasBarrido_ = 0;
  size_t nLeidos_ = 0;  // entries holding a value read from the file
  size_t nLeidosTrasBarrido_ = 0;
};

TDocumentoRenderizable::TDocumentoRenderizable(const Value& width, const Value& height)
    : oSpool(kPrefijoArchivo), oCompartidos(std::make_unique<Compartidos>(oSpool)) {
  Init(width, height);
}

TDocumentoRenderizable::~TDocumentoRenderizable() {
  // Only the spool file needs erasing: the members go with the document, and
  // resetting them as End does would allocate, which a destructor that runs
  // while memory has run out must not.
  oSpool.Erase();
}

TDocumentoRenderizable& TDocumentoRenderizable::Init(const Value& width, const Value& height) {
  SetTamano(width, height);
  return Create();
}

TDocumentoRenderizable& TDocumentoRenderizable::Create() {
  // The stubs go, and with them every way to the spool file's pages.
  oSpool.Erase();
  oCompartidos->Vaciar();
  nPesoEnMemoria = 0;
  vRutaSpool = Value();
  aPaginas = Value::NewList();
  aDataTables = Value::NewList();
  lPageSpooling = false;
  nTotalObjects = 0;
  nAutoSpoolObjectLimit = 0;
  cSpoolError.clear();
  return *this;
}

void TDocumentoRenderizable::End() {
  oSpool.Erase();
  oCompartidos->Vaciar();
  nPesoEnMemoria = 0;
  vRutaSpool = Value();
  std::string().swap(cBufferPagina);
  aPaginas = Value::NewList();
  nAncho = 0;
  nAlto = 0;
  cPaperHeightMode = "fixed";
  lPageSpooling = false;
  nTotalObjects = 0;
  nAutoSpoolObjectLimit = 0;
  cSpoolError.clear();
  aDataTables = Value::NewList();
}

TDocumentoRenderizable& TDocumentoRenderizable::SetTamano(const Value& width, const Value& height) {
  nAncho = ValueDouble(width);
  nAlto = ValueDouble(height);
  return *this;
}

TDocumentoRenderizable& TDocumentoRenderizable::SetPaperHeightMode(const Value& mode) {
  const bool content = mode.IsText() && Lower(AllTrim(mode.Str())) == "content";
  cPaperHeightMode = content ? "content" : "fixed";
  return *this;
}

TDocumentoRenderizable& TDocumentoRenderizable::EnablePageSpooling() {
  if (lPageSpooling) return *this;
  lPageSpooling = true;
  // A page that fails stays in memory; the others are still stored.
  for (Value& entry : Paginas()) {
    if (!IsStoredPage(entry)) entry = StorePage(entry);
  }
  return *this;
}

TDocumentoRenderizable& TDocumentoRenderizable::SetAutoPageSpooling(const Value& limit) {
  if (limit.IsNumber()) nAutoSpoolObjectLimit = std::max<int64_t>(0, limit.Int());
  return *this;
}

void TDocumentoRenderizable::AddPagina(const Value& objects) {
  Value objetos = objects.IsList() ? objects : Value::NewList();
  nTotalObjects += static_cast<int64_t>(objetos.Len());
  Value page = Value::NewMap();
  page.AsMap().Append(KeyText("objetos"), std::move(objetos));
  if (PesaPaginas()) nPesoEnMemoria += oCompartidos->Peso(page);
  Paginas().Add(lPageSpooling ? StorePage(page) : std::move(page));
  // The page that reaches the limit is stored by the switch itself.
  if (PesaPaginas() && (nTotalObjects >= nAutoSpoolObjectLimit ||
                        nPesoEnMemoria / kValoresPorObjeto >= nAutoSpoolObjectLimit)) {
    EnablePageSpooling();
  }
}

bool TDocumentoRenderizable::SetPagina(const Value& n, const Value& page) {
  const int64_t i = PageIndex(n);
  if (i < 0 || !page.IsMap()) return false;
  Value& entry = Paginas()[static_cast<size_t>(i)];
  nTotalObjects += ObjectCount(page) - EntryObjectCount(entry);
  if (PesaPaginas())
    nPesoEnMemoria =
        std::max<int64_t>(0, nPesoEnMemoria + oCompartidos->Peso(page) - oCompartidos->Peso(entry));
  ReplaceEntry(entry, page);
  return true;
}

bool TDocumentoRenderizable::QuitarPaginasDesde(const Value& n) {
  const int64_t from = PageIndex(n);
  if (from < 0) return false;
  std::vector<Value>& entries = Paginas().Items();
  // Stored pages are counted from the segment table, without loading them;
  // their segments stay in the file as dead space until End.
  for (size_t i = static_cast<size_t>(from); i < entries.size(); ++i) {
    nTotalObjects -= EntryObjectCount(entries[i]);
    if (PesaPaginas()) nPesoEnMemoria -= oCompartidos->Peso(entries[i]);
  }
  entries.resize(static_cast<size_t>(from));
  nTotalObjects = std::max<int64_t>(0, nTotalObjects);
  nPesoEnMemoria = std::max<int64_t>(0, nPesoEnMemoria);
  return true;
}

bool TDocumentoRenderizable::ActualizarContenidoPagina(const Value& n, const Value& page) {
  const int64_t i = PageIndex(n);
  if (i < 0 || !page.IsMap()) return false;
  ReplaceEntry(Paginas()[static_cast<size_t>(i)], page);
  return true;
}

bool TDocumentoRenderizable::SetParchesTextoPagina(const Value& n, const Value& patches) {
  const int64_t i = PageIndex(n);
  if (i < 0 || !patches.IsList()) return false;
  Value& entry = Paginas()[static_cast<size_t>(i)];
  if (!IsStoredPage(entry)) return false;
  entry.Set(kClaveParches, patches);
  return true;
}

Value TDocumentoRenderizable::GetPagina(const Value& n) {
  const int64_t i = PageIndex(n);
  if (i < 0) return EmptyPage();
  return LoadPage(Paginas()[static_cast<size_t>(i)]);
}

Value TDocumentoRenderizable::GetPaginas() {
  if (!lPageSpooling) {
    Paginas();
    return aPaginas;  // live: callers in memory mode edit pages in place
  }
  auto pages = MakeRef<List>();
  pages->Reserve(Paginas().size());
  for (const Value& entry : Paginas()) pages->Add(LoadPage(entry));
  return Value(std::move(pages));
}

int64_t TDocumentoRenderizable::TotalPaginas() const {
  return static_cast<int64_t>(aPaginas.Len());
}

TDocumentoRenderizable& TDocumentoRenderizable::SetDataTables(const Value& tables) {
  aDataTables = tables.IsList() ? tables : Value::NewList();
  return *this;
}

const Value& TDocumentoRenderizable::GetDataTables() const {
  if (const List* tables = aDataTables.ListPtr())
    for (const Value& table : *tables) LeerFilasCompactas(table);
  return aDataTables;
}

Value TDocumentoRenderizable::GetDataTable(const Value& id) const {
  if (!aDataTables.IsList()) return Value();
  for (const Value& table : aDataTables.AsList()) {
    if (table.IsMap() && table.Has("cId") && Equal(table.Get("cId"), id)) {
      LeerFilasCompactas(table);
      return table;
    }
  }
  return Value();
}

Value TDocumentoRenderizable::StorePage(const Value& page) {
  const int64_t segment = WritePageFile(page, cBufferPagina, oCompartidos.get())
                              ? oSpool.Append(cBufferPagina, ObjectCount(page))
                              : -1;
  if (segment < 0) {
    cSpoolError = kErrorGuardar;
    return page;
  }
  // Every stub shares the one path text.
  if (!vRutaSpool.IsText() || vRutaSpool.Str() != oSpool.Path()) vRutaSpool = Value(oSpool.Path());
  auto stub = MakeRef<Map>();
  stub->Reserve(2);
  stub->Append(KeyText(kClaveArchivo), vRutaSpool);
  stub->Append(KeyText(kClaveSegmento), Value(segment));
  return Value(std::move(stub));
}

Value TDocumentoRenderizable::LoadPage(const Value& entry) {
  const int64_t segment = StoredSegment(entry);
  if (segment < 0) return entry.IsMap() ? entry : EmptyPage();
  Value page;
  if (!oSpool.Read(segment, cBufferPagina) ||
      !ReadPageFile(cBufferPagina, page, oCompartidos.get()) || !page.Get("objetos").IsList()) {
    cSpoolError = kErrorRecuperar;
    return EmptyPage();
  }
  ApplyPatches(page, entry.Get(kClaveParches));
  return page;
}

bool TDocumentoRenderizable::IsStoredPage(const Value& entry) const {
  return StoredSegment(entry) >= 0;
}

int64_t TDocumentoRenderizable::StoredSegment(const Value& entry) const {
  // Only this document's file and one of its own segments: a page map may
  // name any path and any number, and neither is ever read on its word.
  const Map* stub = entry.MapPtr();
  if (!stub || oSpool.Path().empty()) return -1;
  const Value* cArchivo = stub->Find(kClaveArchivo);
  const Value* nSegmento = stub->Find(kClaveSegmento);
  if (!cArchivo || !nSegmento || !cArchivo->IsText() || !nSegmento->IsInt()) return -1;
  if (cArchivo->Str() != oSpool.Path() || !oSpool.HasSegment(nSegmento->Int())) return -1;
  if (oCompartidos->EsSegmento(nSegmento->Int())) return -1;
  return nSegmento->Int();
}

int64_t TDocumentoRenderizable::EntryObjectCount(const Value& entry) const {
  const int64_t segment = StoredSegment(entry);
  return segment >= 0 ? oSpool.Objects(segment) : ObjectCount(entry);
}

void TDocumentoRenderizable::ReplaceEntry(Value& entry, const Value& page) {
  // A stored page is appended again as a new segment: the old one is left
  // as dead space, and the new stub carries no text patches, which belonged
  // to the old page.
  entry = lPageSpooling ? StorePage(page) : page;
}

int64_t TDocumentoRenderizable::PageIndex(const Value& n) const {
  if (!n.IsNumber()) return -1;
  const int64_t i = n.Int();
  if (i < 1 || i > TotalPaginas()) return -1;
  return i - 1;
}

List& TDocumentoRenderizable::Paginas() {
  // The member is public; a caller that put something else there gets a
  // fresh, empty page list rather than a crash.
  if (!aPaginas.IsList()) aPaginas = Value::NewList();
  return aPaginas.AsList();
}

}  // namespace kx
