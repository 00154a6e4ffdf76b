// A temporary folder for tests that read or write files, removed with
// everything in it; "" as its path when none could be made.
#pragma once

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace kx {

class TempDir {
 public:
  TempDir() {
    char tmpl[] = "/tmp/kx_test_XXXXXX";
    const char* made = mkdtemp(tmpl);
    path_ = made ? made : "";
  }
  ~TempDir() {
    if (!path_.empty()) std::filesystem::remove_all(path_);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  // Writes a file into the folder, making the folders its name names, and answers its path.
  std::string Write(const std::string& name, const std::string& content) {
    std::filesystem::path p = std::filesystem::path(path_) / name;
    std::filesystem::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << content;
    return p.string();
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

// Points the system temporary folder (TMPDIR) at a folder for the life of
// the object; the setting before it comes back afterwards.
class TmpDirAs {
 public:
  explicit TmpDirAs(const std::string& dir) {
    const char* old = std::getenv("TMPDIR");
    had_ = old != nullptr;
    if (old) old_ = old;
    setenv("TMPDIR", dir.c_str(), 1);
  }
  ~TmpDirAs() {
    if (had_) {
      setenv("TMPDIR", old_.c_str(), 1);
    } else {
      unsetenv("TMPDIR");
    }
  }
  TmpDirAs(const TmpDirAs&) = delete;
  TmpDirAs& operator=(const TmpDirAs&) = delete;

 private:
  bool had_ = false;
  std::string old_;
};

}  // namespace kx
