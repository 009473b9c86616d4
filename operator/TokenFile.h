// The web view's token read from a file (--http-token-file), so it never
// shows in the process list.
#pragma once

#include <string>

// The file's first line, without surrounding blanks. Only a regular file of
// at most kMaxTokenFileBytes is read. `warning` is set (and the read still
// succeeds) when others than the owner may read the file.
constexpr std::size_t kMaxTokenFileBytes = 4096;
bool ReadTokenFile(const std::string& path, std::string& token, std::string& error, std::string& warning);
