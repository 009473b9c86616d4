// Reader of "theStrings.ini", the installation's one configuration file:
//   [IP]      the next line is the peer's address
//   [Port]    the next line is the peer's port (converted like atoi)
// Any other line is ignored. Keys must match exactly (case, no blanks);
// the last occurrence of a key wins; lines are read up to 255 characters
// and the rest of a longer line is dropped; CR LF counts as LF.
#pragma once

#include <cstdio>
#include <string>

struct PeerAddress {
    std::string host = "localhost";
    int port = 1000;
};

// Reads the open file from its current position. A key line that is the
// unterminated last line of the file is ignored; a value line that is the
// unterminated last line is used. A key with no line after it leaves its
// value as it was.
void ReadConfiguration(std::FILE* file, PeerAddress& address);
