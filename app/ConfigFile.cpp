#include "app/ConfigFile.h"

#include <cstring>

#include "common/EscapedText.h"
#include "common/Log.h"
#include "common/RegularFile.h"
#include "platform/sockets/Endpoint.h"

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

// "[ip]", " [Port]", "[IP] ": what a person meant as a key.
bool LooksLikeKey(const std::string& line)
{
    const std::size_t first = line.find_first_not_of(" \t");
    return first != std::string::npos && line[first] == '[' && line.find(']', first) != std::string::npos;
}

void NoteUnknownKey(PeerAddress& address, int line, const std::string& text)
{
    if (address.unknownKeys.size() < kUnknownKeysKept) address.unknownKeys.push_back({line, text});
    else ++address.moreUnknownKeys;
}

}  // namespace

bool ParsePort(const std::string& text, int& port)
{
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return false;
    const std::size_t last = text.find_last_not_of(" \t");
    return platform::ParsePortNumber(text.substr(first, last - first + 1), port);
}

void ReadConfiguration(std::FILE* file, PeerAddress& address)
{
    std::string line;
    std::string value;
    int number = 0;
    for (;;) {
        ++number;
        if (ReadLine(file, line) == LineEnd::EndOfFile) {
            // A real key with no line after it is ignored as documented, not
            // as an unknown one.
            if (line != "[IP]" && line != "[Port]" && LooksLikeKey(line)) NoteUnknownKey(address, number, line);
            return;
        }
        bool isAddress = line == "[IP]";
        bool isPort = line == "[Port]";
        if (!isAddress && !isPort) {
            if (LooksLikeKey(line)) NoteUnknownKey(address, number, line);
            continue;
        }
        ++number;
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

bool ReadConfigurationFile(const std::string& path, PeerAddress& address, std::string& why)
{
    std::string text;
    if (!ReadRegularFile(path, kTextFileLimit, text, why)) return false;
    if (!text.empty()) {
        std::FILE* file = fmemopen(text.data(), text.size(), "rb");
        if (file == nullptr) {
            why = "cannot read the file";
            return false;
        }
        ReadConfiguration(file, address);
        std::fclose(file);
    }
    const std::string shown = EscapeControlCharacters(path);
    for (const PeerAddress::UnknownKey& key : address.unknownKeys)
        LogWarning("net", "%s line %d: \"%s\" is not a key (the keys are [IP] and [Port], written exactly so); "
                          "the line is ignored",
                   shown.c_str(), key.line, EscapeControlCharacters(key.text).c_str());
    if (address.moreUnknownKeys > 0)
        LogWarning("net", "%s: %d more lines that are not keys are ignored", shown.c_str(), address.moreUnknownKeys);
    return true;
}
