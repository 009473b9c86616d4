// Feeds arbitrary bytes to the picture reader as a BMP file (SDL's reader).
#include <cstddef>
#include <cstdint>

#include "ImageInput.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::uint8_t kSignature[2] = {'B', 'M'};
    return FuzzImageInput(kSignature, sizeof kSignature, data, size);
}
