// What every fuzz target shares: the input as text, property checks that
// stop the run like a crash, and a private working and temporary folder.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

#include "Json.h"
#include "Value.h"

namespace kx::fuzz {

inline std::string_view Text(const uint8_t* data, size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// A broken property is a finding: libFuzzer keeps the input that broke it.
#define KX_FUZZ_CHECK(cond)                                                            \
  do {                                                                                 \
    if (!(cond)) {                                                                     \
      std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #cond); \
      std::abort();                                                                    \
    }                                                                                  \
  } while (0)

// Runs the target inside an empty folder of its own that is also the
// temporary folder: relative template, image and data names find nothing,
// and the page files of one target are never another process's. It lives
// in memory where the system offers that (page files are made and erased
// on every input). The folder goes when the process ends normally.
inline const std::filesystem::path& PrivateFolder() {
  struct Folder {
    Folder() {
      std::error_code ec;
      std::string pattern =
          std::filesystem::is_directory("/dev/shm", ec) && access("/dev/shm", W_OK) == 0
              ? "/dev/shm/kx_fuzz_XXXXXX"
              : "/tmp/kx_fuzz_XXXXXX";
      const char* made = mkdtemp(pattern.data());
      if (!made) std::abort();
      path = made;
      setenv("TMPDIR", made, 1);
      std::filesystem::current_path(path);
    }
    ~Folder() {
      std::error_code ec;
      std::filesystem::current_path("/", ec);
      std::filesystem::remove_all(path, ec);
    }
    std::filesystem::path path;
  };
  static const Folder folder;
  return folder.path;
}

// The page files the private folder holds now.
inline size_t PageFileCount() {
  size_t n = 0;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(PrivateFolder(), ec)) {
    if (e.path().filename().string().rfind("kxt_ir_", 0) == 0) ++n;
  }
  return n;
}

// Reads every part of a value, as a host encoding a result would.
inline void Touch(const Value& v) {
  std::string s = JsonEncode(v);
  KX_FUZZ_CHECK(!s.empty());
}

}  // namespace kx::fuzz
