// Feeds arbitrary bytes to the picture reader as a PNG file (the signature
// is put in front when missing, so every input reaches libpng's side).
#include "platform/ImageFile.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<std::uint8_t> file(kSignature, kSignature + 8);
    if (size >= 8 && std::memcmp(data, kSignature, 8) == 0) file.clear();
    file.insert(file.end(), data, data + size);
    for (auto layout : {platform::PixelLayout::Rgb, platform::PixelLayout::Bgra}) {
        unsigned width = 0, height = 0;
        std::vector<std::uint8_t> pixels;
        std::string error;
        if (platform::DecodeImage(file.data(), file.size(), layout, width, height, pixels, &error)) {
            const std::size_t bytesPerPixel = layout == platform::PixelLayout::Rgb ? 3 : 4;
            if (width == 0 || height == 0 || width > platform::kMaxImageSide || height > platform::kMaxImageSide ||
                pixels.size() != std::size_t{width} * height * bytesPerPixel)
                std::abort();
        } else if (error.empty()) {
            std::abort();
        }
    }
    return 0;
}
