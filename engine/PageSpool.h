// One document's spool: every stored page of the document lives in a single
// temporary file, as a segment appended after the others.
//
//  - The file is created once, exclusively, in the system temporary folder
//    with the document's prefix, on the first append; it stays open and is
//    never reopened by name. A killed process leaves at most this one file.
//  - Each segment is one page file (the page codec's bytes) compressed as a
//    single Zstandard frame at a fast level: rendered pages repeat their
//    texts and layouts, so segments take a tenth to a twentieth of the bytes.
//  - The segment table (offset, length, page-file length, object count) is
//    kept here, in memory: nothing about where a page lies is read from the
//    file, so a damaged file can fail a read but never steer one.
//  - A failed append cuts the file back to its previous end; replaced pages
//    leave their old segment behind as dead space until `Erase`.
//  - Reading checks that the path still names the file, reads exactly the
//    segment's bytes, bounds the page-file length the frame declares (by
//    the table, by an absolute ceiling and by what its compressed length can
//    hold) before allocating, and decompresses to exactly that length.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "Platform.h"

struct ZSTD_CCtx_s;
struct ZSTD_DCtx_s;

namespace kx {

class PageSpool {
 public:
  // Page files longer than this are not spooled: the page stays in memory.
  static constexpr size_t kMaxPageBytes = size_t{1} << 30;

  explicit PageSpool(std::string_view prefix) : cPrefijo(prefix) {}
  // Erases the file.
  ~PageSpool();
  PageSpool(const PageSpool&) = delete;
  PageSpool& operator=(const PageSpool&) = delete;

  // Appends a page file of `objects` rendered objects as a new segment and
  // answers its number, or -1 when it could not be written whole (the file
  // is then as it was before).
  int64_t Append(std::string_view pageFile, int64_t objects);
  // The page file of the segment, in `out`; false when the segment is not
  // one of this spool's, the file vanished or ends early, or the bytes are
  // not the segment's frame.
  bool Read(int64_t segment, std::string& out);
  // The segment is one of this spool's.
  bool HasSegment(int64_t segment) const {
    return segment >= 0 && static_cast<uint64_t>(segment) < aSegmentos.size();
  }
  // The object count the segment's page had when it was appended (0 for none).
  int64_t Objects(int64_t segment) const;
  // The file's path; "" until the first append and after `Erase`.
  const std::string& Path() const { return oArchivo.Path(); }
  // Bytes appended so far, dead segments included.
  uint64_t Bytes() const { return nFin; }
  // Removes the file and forgets every segment.
  void Erase();
  // Lets go of the room a large segment left behind (its compressed bytes and the compressor's
  // tables); the next append makes what it needs again.
  void SoltarMemoria();

 private:
  struct Segmento {
    uint64_t nOffset;
    uint32_t nLongitud;       // compressed bytes in the file
    uint32_t nLongitudPlana;  // bytes of the page file
    int64_t nObjetos;
  };

  std::string cPrefijo;
  platform::TempFile oArchivo;
  std::vector<Segmento> aSegmentos;
  uint64_t nFin = 0;  // end of the last whole segment
  ZSTD_CCtx_s* pCompresor = nullptr;
  ZSTD_DCtx_s* pDescompresor = nullptr;
  std::string cComprimido;  // reused for every segment written or read
};

}  // namespace kx
