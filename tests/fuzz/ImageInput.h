// The body of the picture-reader targets: the input becomes a file of one
// format (its signature put in front when missing, so every input reaches
// that format's reader) and is decoded in both pixel layouts. A decoded
// picture must be as large as it says and no larger than allowed; a refusal
// must say why.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/files/ImageFile.h"

inline int FuzzImageInput(const std::uint8_t* signature, std::size_t signatureSize, const std::uint8_t* data,
                          std::size_t size)
{
    std::vector<std::uint8_t> file(signature, signature + signatureSize);
    if (size >= signatureSize && std::memcmp(data, signature, signatureSize) == 0) file.clear();
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
