// Feeds arbitrary bytes to the picture reader as a PNG file.
#include <cstddef>
#include <cstdint>

#include "ImageInput.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    return FuzzImageInput(kSignature, sizeof kSignature, data, size);
}
