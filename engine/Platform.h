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

// How a whole read of a file ended.
enum class FileRead { kRead, kNotFound, kUnreadable };
// Opens the path once and reads the open file whole when it is a regular file
// of at most `maxBytes` bytes. A name holding NUL, CR or LF, or one that
// names no readable regular file, is not found; a larger file, or a failed
// read, is unreadable (`out` is then empty).
FileRead ReadRegularFile(std::string_view path, size_t maxBytes, std::string& out);

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
