#include "app/ConfigFile.h"

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

bool ParsePort(const std::string& text, int& port)
{
    std::size_t first = text.find_first_not_of(" \t");
    std::size_t last = text.find_last_not_of(" \t");
    if (first == std::string::npos) return false;
    long value = 0;
    for (std::size_t i = first; i <= last; ++i) {
        char c = text[i];
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
        if (value > 65535) return false;
    }
    if (value < 1) return false;
    port = static_cast<int>(value);
    return true;
}

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
        else {
            address.portText = value;
            address.portValid = ParsePort(value, address.port);
        }
        if (end == LineEnd::EndOfFile) return;
    }
}
