#include "app/ConfigFile.h"

#include <cstdlib>
#include <cstring>

namespace {

constexpr std::size_t kLineLimit = 255;

enum class LineEnd { Newline, EndOfFile };

// Reads one line byte by byte. Bytes past the limit are read and dropped so
// that the next line starts at the right place.
LineEnd ReadLine(std::FILE* file, std::string& line)
{
    line.clear();
    for (;;) {
        unsigned char byte = 0;
        if (std::fread(&byte, 1, 1, file) != 1) return LineEnd::EndOfFile;
        if (byte == '\n') break;
        if (line.size() < kLineLimit) line.push_back(static_cast<char>(byte));
    }
    // Text mode on Windows turns CR LF into LF; do the same.
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return LineEnd::Newline;
}

}  // namespace

void ReadConfiguration(std::FILE* file, PeerAddress& address)
{
    std::string line;
    std::string value;
    for (;;) {
        if (ReadLine(file, line) == LineEnd::EndOfFile) return;
        bool isAddress = line == "[IP]";
        bool isPort = line == "[Port]";
        if (!isAddress && !isPort) continue;
        LineEnd end = ReadLine(file, value);
        if (end == LineEnd::EndOfFile && value.empty()) return;
        if (!value.empty() && value.back() == '\r') value.pop_back();
        if (isAddress) address.host = value;
        else address.port = std::atoi(value.c_str());
        if (end == LineEnd::EndOfFile) return;
    }
}
