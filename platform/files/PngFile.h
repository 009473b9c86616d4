// Reading and writing 8-bit PNG pictures (libpng stays inside PngFile.cpp).
// Used by the texture loader, the frame writer and the tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

enum class PixelLayout {
    Rgb,   // 3 bytes a pixel: red, green, blue
    Rgba,  // 4 bytes: red, green, blue, alpha
    Bgra,  // 4 bytes: blue, green, red, alpha (a little-endian 0xAARRGGBB)
};

// Rows top first, tightly packed. A failure leaves a reason in error.
bool WritePng(const std::string& path, unsigned width, unsigned height, PixelLayout layout,
              const std::uint8_t* pixels, std::string* error = nullptr);

// The same picture encoded into memory, for senders that never touch a file
// (the web view's frame).
bool EncodePng(unsigned width, unsigned height, PixelLayout layout, const std::uint8_t* pixels,
               std::vector<std::uint8_t>& png, std::string* error = nullptr);

// Any PNG (palette, grey, 16-bit and interlaced included) converted to the
// layout asked for. A missing, truncated or corrupt file gives false; so
// does a picture wider or taller than 4096 pixels, refused from its header
// before libpng allocates anything.
bool ReadPng(const std::string& path, unsigned& width, unsigned& height, PixelLayout layout,
             std::vector<std::uint8_t>& pixels, std::string* error = nullptr);

// The same for the bytes of a whole PNG file already in memory.
bool DecodePng(const std::uint8_t* bytes, std::size_t size, PixelLayout layout, unsigned& width, unsigned& height,
               std::vector<std::uint8_t>& pixels, std::string* error = nullptr);

}  // namespace platform
