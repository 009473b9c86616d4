// Reader of "theStrings.ini", the installation's one configuration file:
//   [IP]      the next line is the peer's address
//   [Port]    the next line is the peer's port: a whole number from 1 to
//             65535, blanks around it allowed, nothing else
// Any other line is ignored; one that looks like a key ("[ip]", "[Port] ")
// is listed so that a warning names it. Keys must match exactly (case, no
// blanks: stored files rely on it);
// the last occurrence of a key wins; lines are read up to 255 characters
// and the rest of a longer line is dropped; CR LF counts as LF.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

struct PeerAddress {
    std::string host = "localhost";
    int port = 1000;
    // False when the [Port] value is not a port; portText is then the value
    // as written, for the warning that names it.
    bool portValid = true;
    std::string portText;
    // Lines that look like keys but are none, as written, with their line
    // numbers: the first few, and how many more there were.
    struct UnknownKey {
        int line = 0;
        std::string text;
    };
    std::vector<UnknownKey> unknownKeys;
    int moreUnknownKeys = 0;
};

// How many unknown keys are kept for the warnings.
constexpr std::size_t kUnknownKeysKept = 5;

// A port number as platform/sockets/Endpoint.h reads one (1 to 65535, at
// most five digits), blanks around it allowed; false for anything else
// ("abc", "4294967297", "47000.5", "").
bool ParsePort(const std::string& text, int& port);

// Reads the open file from its current position. A key line that is the
// unterminated last line of the file is ignored; a value line that is the
// unterminated last line is used. A key with no line after it leaves its
// value as it was.
void ReadConfiguration(std::FILE* file, PeerAddress& address);

// Reads the file at `path`, a regular file of at most 1 MB, and logs a
// warning for each unknown key. False with `why` set ("missing", "not a
// regular file (a FIFO)", ...) when it cannot be read.
bool ReadConfigurationFile(const std::string& path, PeerAddress& address, std::string& why);
