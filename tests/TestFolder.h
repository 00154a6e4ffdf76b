// A temporary folder for tests that read files, removed with everything in it.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace kx {

class TempDir {
 public:
  TempDir() {
    char tmpl[] = "/tmp/kx_test_XXXXXX";
    path_ = mkdtemp(tmpl);
  }
  ~TempDir() { std::filesystem::remove_all(path_); }
  // Writes a file into the folder and answers its path.
  std::string Write(const std::string& name, const std::string& content) {
    std::string p = path_ + "/" + name;
    std::ofstream(p, std::ios::binary) << content;
    return p;
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace kx
