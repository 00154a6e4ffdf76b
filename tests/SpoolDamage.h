// Damage done to a spooled document's temporary storage from outside, as a
// cleaner of the temporary folder, a full disk or another process would do
// it, and the spool files left in a folder (TestFolder.h's TmpDirAs points a run at a
// private one). The
// tests that damage a spool do it only through here, so they follow the
// spool's layout when it changes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "TDocumentoRenderizable.h"
#include "TestFolder.h"

namespace kx {

enum class SpoolDamage { kDeleted, kTruncated };

// Deletes, or cuts to half its length, the file that holds page n of a
// spooled document. False when the page is not stored in a file that could
// be damaged so.
inline bool DamageSpoolOfPage(const TDocumentoRenderizable& doc, int64_t n, SpoolDamage how) {
  if (!doc.aPaginas.IsList() || n < 1 || n > doc.TotalPaginas()) return false;
  const Value& file = doc.aPaginas.AsList()[static_cast<size_t>(n - 1)].Get("__kxPageFile");
  if (!file.IsText()) return false;
  const std::filesystem::path path(std::string(file.Str()));
  std::error_code ec;
  if (how == SpoolDamage::kDeleted) return std::filesystem::remove(path, ec);
  const uintmax_t size = std::filesystem::file_size(path, ec);
  if (ec || size < 2) return false;
  std::filesystem::resize_file(path, size / 2, ec);
  return !ec;
}

// The spool files in a folder.
inline std::vector<std::string> SpoolFiles(const std::string& folder) {
  std::vector<std::string> files;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(folder, ec)) {
    if (e.path().filename().string().rfind("kxt_ir_", 0) == 0) files.push_back(e.path());
  }
  return files;
}

// The length of the one spool file in a folder, or 0 when there is none.
inline uintmax_t SpoolFileSize(const std::string& folder) {
  const std::vector<std::string> files = SpoolFiles(folder);
  std::error_code ec;
  const uintmax_t size = files.size() == 1 ? std::filesystem::file_size(files[0], ec) : 0;
  return ec ? 0 : size;
}

// Cuts the one spool file in a folder to half its length while its document
// still writes to it, as a full disk or another process would: the pages in
// the cut half read back as a hole once later pages are appended past it.
// Answers the file's length before the cut, 0 when there was no file to cut.
inline uintmax_t CutSpoolInFolder(const std::string& folder) {
  const uintmax_t size = SpoolFileSize(folder);
  if (size < 2) return 0;
  std::error_code ec;
  std::filesystem::resize_file(SpoolFiles(folder)[0], size / 2, ec);
  return ec ? 0 : size;
}

}  // namespace kx
