// Reading a file that must be a file: a regular file no larger than a limit
// that fits what it holds. A FIFO, a device such as /dev/zero, a folder or an
// oversized file is refused before anything is held, with the reason in
// words for the line that names the file. Opening never blocks (a FIFO with
// no writer would otherwise hold the start for ever).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One mebibyte: the limit of the small text files (settings, theStrings.ini).
constexpr std::uint64_t kTextFileLimit = std::uint64_t{1} << 20;

// Opens `path` for reading when it is a regular file of at most `limit`
// bytes: returns the descriptor (close it) and its size, else -1 with `why`
// set ("missing", "not a regular file (a FIFO)", "a file of N bytes is
// larger than the 1 MB this file may hold", ...).
int OpenRegularFile(const std::string& path, std::uint64_t limit, std::uint64_t& size, std::string& why);

// The whole file; false with `why` set as above.
bool ReadRegularFile(const std::string& path, std::uint64_t limit, std::string& bytes, std::string& why);
bool ReadRegularFile(const std::string& path, std::uint64_t limit, std::vector<std::uint8_t>& bytes, std::string& why);
bool ReadRegularFile(const std::string& path, std::uint64_t limit, std::vector<char>& bytes, std::string& why);

// "1 MB", "512 KB", "1234 bytes": a limit as the operator reads it.
std::string DescribeSize(std::uint64_t bytes);
