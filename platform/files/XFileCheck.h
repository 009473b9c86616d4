// A quick look at a DirectX .x file before the parser reads it. The parser
// trusts the counts it finds (a damaged "3000000000;" vertex count would make
// it try to allocate tens of gigabytes), so every count and index must be no
// larger than the file itself, and a binary file's token stream must be
// whole. Compressed .x files are not accepted.
#pragma once

#include <string>
#include <vector>

namespace platform {

// True when the bytes look like a readable .x file; otherwise false with the
// reason in words.
bool CheckXFileBytes(const std::vector<char>& bytes, std::string* whyNot);

}  // namespace platform
