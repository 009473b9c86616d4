// PNG through libpng's simplified interface, which reports errors as return
// values instead of long jumps.
#include "platform/files/PngFile.h"

#include <png.h>

#include "platform/files/ImageFile.h"

#include <cstring>

namespace platform {

constexpr unsigned kLargestPngSide = kMaxImageSide;

static png_uint_32 FormatOf(PixelLayout layout)
{
    switch (layout) {
    case PixelLayout::Rgb: return PNG_FORMAT_RGB;
    case PixelLayout::Rgba: return PNG_FORMAT_RGBA;
    case PixelLayout::Bgra: return PNG_FORMAT_BGRA;
    }
    return PNG_FORMAT_RGBA;
}

// The description of a picture for libpng's writers; false for an empty one.
static bool StartImage(unsigned width, unsigned height, PixelLayout layout, const std::uint8_t* pixels,
                       png_image& image, std::string* error)
{
    if (pixels == nullptr || width == 0 || height == 0) {
        if (error) *error = "empty picture";
        return false;
    }
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = width;
    image.height = height;
    image.format = FormatOf(layout);
    return true;
}

bool WritePng(const std::string& path, unsigned width, unsigned height, PixelLayout layout, const std::uint8_t* pixels,
              std::string* error)
{
    png_image image;
    if (!StartImage(width, height, layout, pixels, image, error)) return false;
    if (png_image_write_to_file(&image, path.c_str(), 0, pixels, 0, nullptr) == 0) {
        if (error) *error = image.message;
        png_image_free(&image);
        return false;
    }
    return true;
}

bool EncodePng(unsigned width, unsigned height, PixelLayout layout, const std::uint8_t* pixels,
               std::vector<std::uint8_t>& png, std::string* error)
{
    png.clear();
    png_image image;
    if (!StartImage(width, height, layout, pixels, image, error)) return false;
    // NOTE: a first pass with no buffer asks libpng for the encoded size.
    png_alloc_size_t size = 0;
    if (png_image_write_to_memory(&image, nullptr, &size, 0, pixels, 0, nullptr) == 0) {
        if (error) *error = image.message;
        png_image_free(&image);
        return false;
    }
    png.resize(size);
    if (png_image_write_to_memory(&image, png.data(), &size, 0, pixels, 0, nullptr) == 0) {
        if (error) *error = image.message;
        png_image_free(&image);
        png.clear();
        return false;
    }
    png.resize(size);
    return true;
}

namespace {

std::uint32_t GetBig32(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
           static_cast<std::uint32_t>(p[2]) << 8 | static_cast<std::uint32_t>(p[3]);
}

bool Refuse(std::string* error, const std::string& reason)
{
    if (error) *error = reason;
    return false;
}

}  // namespace

bool DecodePng(const std::uint8_t* bytes, std::size_t size, PixelLayout layout, unsigned& width, unsigned& height,
               std::vector<std::uint8_t>& pixels, std::string* error)
{
    width = height = 0;
    pixels.clear();
    // The signature, then the IHDR chunk: length 13, "IHDR", width, height.
    if (size < 33 || png_sig_cmp(bytes, 0, 8) != 0) return Refuse(error, "not a PNG file");
    if (GetBig32(bytes + 8) != 13 || std::memcmp(bytes + 12, "IHDR", 4) != 0)
        return Refuse(error, "PNG without an IHDR chunk first");
    const std::uint32_t w = GetBig32(bytes + 16), h = GetBig32(bytes + 20);
    if (w == 0 || h == 0 || w > kLargestPngSide || h > kLargestPngSide)
        return Refuse(error, "picture size " + std::to_string(w) + " x " + std::to_string(h) + " (at most " +
                                 std::to_string(kLargestPngSide) + " x " + std::to_string(kLargestPngSide) + ")");
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_memory(&image, bytes, size) == 0) {
        std::string reason = image.message;
        png_image_free(&image);
        return Refuse(error, reason);
    }
    image.format = FormatOf(layout);
    if (image.width != w || image.height != h) {
        png_image_free(&image);
        return Refuse(error, "inconsistent PNG header");
    }
    std::vector<std::uint8_t> buffer(PNG_IMAGE_SIZE(image));
    if (png_image_finish_read(&image, nullptr, buffer.data(), 0, nullptr) == 0) {
        std::string reason = image.message;
        png_image_free(&image);
        return Refuse(error, reason);
    }
    width = image.width;
    height = image.height;
    pixels.swap(buffer);
    return true;
}

bool ReadPng(const std::string& path, unsigned& width, unsigned& height, PixelLayout layout,
             std::vector<std::uint8_t>& pixels, std::string* error)
{
    width = height = 0;
    pixels.clear();
    std::vector<std::uint8_t> bytes;
    constexpr std::size_t kLargestFile = static_cast<std::size_t>(kLargestPngSide) * kLargestPngSide * 8 + (1u << 20);
    if (!ReadWholeFile(path, kLargestFile, bytes, error)) return false;
    return DecodePng(bytes.data(), bytes.size(), layout, width, height, pixels, error);
}

}  // namespace platform
