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

// A name holding NUL names no file for any operation below: the system would
// take the name only up to the NUL, and so act on another file.

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

// How a whole read of a file ended.
enum class FileRead { kRead, kNotFound, kUnreadable };
// Opens the path once and reads the open file whole when it is a regular file
// of at most `maxBytes` bytes. A name holding NUL, CR or LF, or one that
// names no readable regular file, is not found; a larger file, or a failed
// read, is unreadable (`out` is then empty). With `stamp`, a file read gives
// the stamp its open descriptor had.
FileRead ReadRegularFile(std::string_view path, size_t maxBytes, std::string& out,
                         FileStamp* stamp = nullptr);

// Whether the path names a regular file of 1 to `maxBytes` bytes, with its
// stamp; never opens the file (a name holding NUL, CR or LF names nothing).
bool StatRegularFile(std::string_view path, uint64_t maxBytes, FileStamp& stamp);

// Like ReadFile, without a leading UTF-8 byte-order mark.
bool ReadTextFile(std::string_view path, std::string& out);

// Creates a new, empty, uniquely named file in the system temporary folder,
// exclusively, with the given prefix; answers its full path or "".
std::string CreateTempFile(std::string_view prefix);

// Writes the whole byte string to the file, replacing its content.
bool WriteFile(std::string_view path, std::string_view bytes);

// Erases a file; false when it was not there or could not be erased.
bool EraseFile(std::string_view path);

// A temporary file that its creator keeps open: made once, exclusively, in
// the system temporary folder, then written and read at offsets through the
// open descriptor, never reopened by name. Closing it does not remove it;
// `Erase` does, and only while its path still names this very file.
class TempFile {
 public:
  TempFile() = default;
  ~TempFile();
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  // Creates the file with the given prefix; false when none can be made.
  bool Create(std::string_view prefix);
  bool IsOpen() const { return fd_ >= 0; }
  // The full path, or "" while closed.
  const std::string& Path() const { return path_; }
  // Writes the bytes whole at the offset.
  bool WriteAt(uint64_t offset, std::string_view bytes);
  // Reads exactly `n` bytes at the offset into `out`; a short read fails.
  bool ReadAt(uint64_t offset, size_t n, std::string& out);
  // Cuts the file to `size` bytes.
  bool Truncate(uint64_t size);
  // The path still names this file: it was neither removed nor replaced.
  bool StillNamed() const;
  // Closes the file and removes it when its path still names it.
  void Erase();

 private:
  void Close();

  int fd_ = -1;
  std::string path_;
  uint64_t device_ = 0;
  uint64_t inode_ = 0;
};

// Ticks of the cheapest monotonic counter the machine has: the CPU's
// time-stamp counter on x86-64, else steady-clock nanoseconds. Only
// differences mean anything; `TicksToMs` turns a difference into ms.
uint64_t TickCount();
double TicksToMs(uint64_t ticks);

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
// Writes text to standard error.
void ConsoleWriteError(std::string_view text);

// For a program's start, before it builds much: has the memory allocator keep
// `bytes` of heap ahead of use, and asks the system to back that heap with
// large memory pages (Linux with the GNU C library; elsewhere it does
// nothing). A run that holds tens of megabytes of rendered objects then
// takes a small part of the page faults it would. It sets up the process,
// not an engine: a program calls it (a host of engines may, at its own
// start), an engine never does.
void PrepareLargeHeap(size_t bytes);

// Makes SIGTERM and SIGINT only note their number, so that a program can
// wind down at a point of its own choosing (and erase what it made) instead
// of dying where it stands. Each handler serves once: a second such signal
// ends the process the default way. Installing clears any noted signal.
void InstallStopSignalHandlers();
// The stop signal noted since the handlers were installed, or 0; any thread may ask.
int StopSignal();

// The most memory this process can have, in bytes: the smaller of its
// address-space limit (ulimit -v), when one is set, and the machine's
// physical memory; UINT64_MAX when neither is known.
uint64_t MemoryLimit();

}  // namespace kx::platform
