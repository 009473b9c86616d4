// Header, count and token checks of .x files (see XFileCheck.h). The binary
// token numbers are those of the published .x binary format.
#include "platform/files/XFileCheck.h"

#include <cctype>
#include <cstdint>
#include <cstring>

namespace platform {

namespace {

bool Fail(std::string* whyNot, const std::string& reason)
{
    if (whyNot != nullptr) *whyNot = reason;
    return false;
}

std::uint32_t ReadLe(const std::vector<char>& bytes, size_t at, int size)
{
    std::uint32_t value = 0;
    for (int i = size - 1; i >= 0; --i) value = (value << 8) | static_cast<std::uint8_t>(bytes[at + i]);
    return value;
}

bool IsTokenChar(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '.' || c == '_' || c == '-' || c == '+';
}

// Every whole-number token of a text file must be a plausible count or index.
bool CheckText(const std::vector<char>& bytes, std::uint64_t limit, std::string* whyNot)
{
    size_t i = 16;
    const size_t end = bytes.size();
    while (i < end) {
        char c = bytes[i];
        if (c == '#' || (c == '/' && i + 1 < end && bytes[i + 1] == '/')) {
            while (i < end && bytes[i] != '\n') ++i;
        } else if (c == '"') {
            ++i;
            while (i < end && bytes[i] != '"') ++i;
            if (i >= end) return Fail(whyNot, "a text string runs to the end of the file");
            ++i;
        } else if (IsTokenChar(c)) {
            size_t start = i;
            while (i < end && IsTokenChar(bytes[i])) ++i;
            size_t digits = start;
            if (bytes[digits] == '-') ++digits;
            bool whole = digits < i;
            for (size_t k = digits; k < i && whole; ++k) whole = std::isdigit(static_cast<unsigned char>(bytes[k])) != 0;
            if (whole) {
                if (i - digits > 12) return Fail(whyNot, "a count or index is implausibly large");
                std::uint64_t value = 0;
                for (size_t k = digits; k < i; ++k) value = value * 10 + static_cast<std::uint64_t>(bytes[k] - '0');
                if (value > limit) return Fail(whyNot, "a count or index (" + std::to_string(value) + ") is larger than the file");
            }
        } else {
            ++i;
        }
    }
    return true;
}

// Walks the binary token stream: every token must be known and complete,
// and every integer a plausible count or index.
bool CheckBinary(const std::vector<char>& bytes, unsigned floatBytes, std::uint64_t limit, std::string* whyNot)
{
    size_t at = 16;
    const size_t end = bytes.size();
    auto need = [&](std::uint64_t count) { return count <= end - at; };
    while (at < end) {
        if (!need(2)) return Fail(whyNot, "the file ends inside a token");
        std::uint32_t token = ReadLe(bytes, at, 2);
        at += 2;
        switch (token) {
        case 1:    // name
        case 2: {  // string, followed by its terminating separator token
            if (!need(4)) return Fail(whyNot, "the file ends inside a token");
            std::uint64_t length = ReadLe(bytes, at, 4);
            at += 4;
            if (token == 2) length += 2;
            if (!need(length)) return Fail(whyNot, "a name or string runs past the end of the file");
            at += static_cast<size_t>(length);
            break;
        }
        case 3:  // integer
            if (!need(4)) return Fail(whyNot, "the file ends inside a token");
            if (ReadLe(bytes, at, 4) > limit) return Fail(whyNot, "a count or index is larger than the file");
            at += 4;
            break;
        case 5:  // GUID
            if (!need(16)) return Fail(whyNot, "the file ends inside a token");
            at += 16;
            break;
        case 6:    // integer list
        case 7: {  // float list
            if (!need(4)) return Fail(whyNot, "the file ends inside a token");
            std::uint64_t count = ReadLe(bytes, at, 4);
            at += 4;
            std::uint64_t size = count * (token == 6 ? 4u : floatBytes);
            if (!need(size)) return Fail(whyNot, "a number list runs past the end of the file");
            if (token == 6)
                for (std::uint64_t k = 0; k < count; ++k)
                    if (ReadLe(bytes, at + static_cast<size_t>(k) * 4, 4) > limit)
                        return Fail(whyNot, "a count or index is larger than the file");
            at += static_cast<size_t>(size);
            break;
        }
        default:
            // Punctuation (10-20), "template" (31) and the type words (40-52) carry no data.
            if ((token >= 10 && token <= 20) || token == 31 || (token >= 40 && token <= 52)) break;
            return Fail(whyNot, "unknown binary token " + std::to_string(token));
        }
    }
    return true;
}

// NOTE: assimp's parser crashes (a null material) on a TextureFilename that
// is not inside a Material block; such a file is refused here.
bool CheckTextNesting(const std::vector<char>& bytes, std::string* whyNot)
{
    std::vector<std::string> open;  // the type word of each block still open
    std::string word, type;         // type: the first word since the last punctuation
    const size_t end = bytes.size();
    auto endWord = [&] {
        if (!word.empty() && type.empty()) type = word;
        word.clear();
    };
    for (size_t i = 16; i < end; ++i) {
        const char c = bytes[i];
        if (c == '#' || (c == '/' && i + 1 < end && bytes[i + 1] == '/')) {
            while (i < end && bytes[i] != '\n') ++i;
            continue;
        }
        if (c == '"') {
            while (++i < end && bytes[i] != '"') {
            }
            word.clear();
            type = "\"";
            continue;
        }
        if (IsTokenChar(c)) {
            word += c;
            continue;
        }
        // Outside strings and comments a text file is plain ASCII; a name is
        // the type or the name of a block, or a reference in braces, so it is
        // followed by a brace or by the block's name. The parser stumbles over
        // anything else (a damaged name inside a material list crashes it).
        if ((static_cast<unsigned char>(c) & 0x80) != 0 ||
            (std::iscntrl(static_cast<unsigned char>(c)) != 0 && std::isspace(static_cast<unsigned char>(c)) == 0))
            return Fail(whyNot, "a byte that is not text outside a string");
        if (!word.empty() && (std::isalpha(static_cast<unsigned char>(word[0])) != 0 || word[0] == '_')) {
            if (word == "template") {
                // A template declares members ("DWORD nVertices;"): skip it whole.
                while (i < end && bytes[i] != '}') ++i;
                word.clear();
                type.clear();
                continue;
            }
            size_t next = i;
            while (next < end && std::isspace(static_cast<unsigned char>(bytes[next])) != 0) ++next;
            if (next < end && bytes[next] != '{' && bytes[next] != '}' && !IsTokenChar(bytes[next]))
                return Fail(whyNot, "the name \"" + word + "\" stands where data belongs");
        }
        endWord();
        if (c == '{') {
            if (type == "TextureFilename" && (open.empty() || open.back() != "Material"))
                return Fail(whyNot, "a TextureFilename outside a Material");
            open.push_back(type);
            type.clear();
        } else if (c == '}') {
            if (!open.empty()) open.pop_back();
            type.clear();
        } else if (!std::isspace(static_cast<unsigned char>(c))) {
            type.clear();
        }
    }
    return true;
}

}  // namespace

bool CheckXFileBytes(const std::vector<char>& bytes, std::string* whyNot)
{
    if (bytes.empty()) return Fail(whyNot, "the file is empty");
    if (bytes.size() < 16 || std::memcmp(bytes.data(), "xof ", 4) != 0)
        return Fail(whyNot, "not a DirectX .x file (no \"xof \" header)");
    const std::string format(bytes.data() + 8, 4);
    const std::string floatBits(bytes.data() + 12, 4);
    if (floatBits != "0032" && floatBits != "0064") return Fail(whyNot, "unknown float size in the .x header");
    const std::uint64_t limit = bytes.size();
    if (format == "txt ") return CheckText(bytes, limit, whyNot) && CheckTextNesting(bytes, whyNot);
    if (format == "bin ") return CheckBinary(bytes, floatBits == "0032" ? 4 : 8, limit, whyNot);
    if (format == "tzip" || format == "bzip") return Fail(whyNot, "compressed .x files are not supported");
    return Fail(whyNot, "unknown .x format \"" + format + "\"");
}

}  // namespace platform
