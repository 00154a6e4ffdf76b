// The engine's thin layer over the operating system: files, temporary
// files, clocks and the console. Nothing here throws.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "Value.h"

namespace kx::platform {

// The platform's path separator.
char PathSeparator();

// A regular file exists at the path and can be opened for reading.
bool FileExists(std::string_view path);

// Reads a whole regular file as bytes; false when it cannot be read.
bool ReadFile(std::string_view path, std::string& out);

// What a file's metadata says of its content: equal stamps of one path mean
// an unchanged file (the change time moves with permissions and renames too).
struct FileStamp {
  uint64_t nSize = 0;
  int64_t nModifiedNs = 0;
  int64_t nChangedNs = 0;
};

// Whether the path names a regular file of 1 to `maxBytes` bytes, with its
// stamp; never opens the file (a name with a NUL byte names nothing).
bool StatRegularFile(std::string_view path, uint64_t maxBytes, FileStamp& stamp);

// A file opened once for reading and judged on its open descriptor, so that
// what is checked is what is read. Opening never blocks (a FIFO or a device
// cannot stall the run) and a path holding a NUL byte opens nothing.
class RegularFile {
 public:
  RegularFile() = default;
  ~RegularFile() { Close(); }
  RegularFile(const RegularFile&) = delete;
  RegularFile& operator=(const RegularFile&) = delete;

  // Opens the path when it names a readable regular file of 1 to `maxBytes`
  // bytes; otherwise answers false and holds nothing (a folder, a device, an
  // empty, unreadable or larger file all count as no file).
  bool Open(std::string_view path, uint64_t maxBytes);
  // Reads the file from the start, at most the size it had when opened; false
  // on a read error or when nothing could be read.
  bool ReadAll(std::string& out);
  void Close();

  bool IsOpen() const { return fd_ >= 0; }
  // The stamp the descriptor gave when the file was opened.
  const FileStamp& Stamp() const { return stamp_; }

 private:
  int fd_ = -1;
  FileStamp stamp_;
};

// Like ReadFile, without a leading UTF-8 byte-order mark.
bool ReadTextFile(std::string_view path, std::string& out);

// Creates a new, empty, uniquely named file in the system temporary folder,
// exclusively, with the given prefix; answers its full path or "".
std::string CreateTempFile(std::string_view prefix);

// Writes the whole byte string to the file, replacing its content.
bool WriteFile(std::string_view path, std::string_view bytes);

// Erases a file; false when it was not there or could not be erased.
bool EraseFile(std::string_view path);

// Milliseconds from a monotonic clock; only differences mean anything.
double MillisecondClock();

// Today's local date.
Value CurrentDate();
// The local time of day as HH:MM:SS.
std::string CurrentTime();
// The local date and time.
Value CurrentTimestamp();

// Writes text to standard output.
void ConsoleWrite(std::string_view text);

}  // namespace kx::platform
