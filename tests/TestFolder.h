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

// Makes a folder the working folder for the life of the object, so that
// relative paths are looked up inside it.
class WorkingFolder {
 public:
  explicit WorkingFolder(const std::string& path) : old_(std::filesystem::current_path()) {
    std::filesystem::current_path(path);
  }
  ~WorkingFolder() { std::filesystem::current_path(old_); }

 private:
  std::filesystem::path old_;
};

}  // namespace kx
