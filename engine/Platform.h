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

// Makes SIGTERM and SIGINT only note their number, so that a program can
// wind down at a point of its own choosing (and erase what it made) instead
// of dying where it stands. Each handler serves once: a second such signal
// ends the process the default way. Installing clears any noted signal.
void InstallStopSignalHandlers();
// The stop signal noted since the handlers were installed, or 0.
int StopSignal();

}  // namespace kx::platform
