// PNG through libpng's simplified interface, which reports errors as return
// values instead of long jumps.
#include "platform/PngFile.h"

#include <png.h>

#include <cstring>

namespace platform {

static png_uint_32 FormatOf(PixelLayout layout)
{
    switch (layout) {
    case PixelLayout::Rgb: return PNG_FORMAT_RGB;
    case PixelLayout::Rgba: return PNG_FORMAT_RGBA;
    case PixelLayout::Bgra: return PNG_FORMAT_BGRA;
    }
    return PNG_FORMAT_RGBA;
}

bool WritePng(const std::string& path, unsigned width, unsigned height, PixelLayout layout, const std::uint8_t* pixels,
              std::string* error)
{
    if (pixels == nullptr || width == 0 || height == 0) {
        if (error) *error = "empty picture";
        return false;
    }
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = width;
    image.height = height;
    image.format = FormatOf(layout);
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
    if (pixels == nullptr || width == 0 || height == 0) {
        if (error) *error = "empty picture";
        return false;
    }
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = width;
    image.height = height;
    image.format = FormatOf(layout);
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

bool ReadPng(const std::string& path, unsigned& width, unsigned& height, PixelLayout layout,
             std::vector<std::uint8_t>& pixels, std::string* error)
{
    width = height = 0;
    pixels.clear();
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_file(&image, path.c_str()) == 0) {
        if (error) *error = image.message;
        png_image_free(&image);
        return false;
    }
    image.format = FormatOf(layout);
    // Refuse absurd sizes before allocating (a corrupt header can claim anything).
    if (image.width == 0 || image.height == 0 || image.width > 16384 || image.height > 16384) {
        if (error) *error = "picture size out of range";
        png_image_free(&image);
        return false;
    }
    std::vector<std::uint8_t> buffer(PNG_IMAGE_SIZE(image));
    if (png_image_finish_read(&image, nullptr, buffer.data(), 0, nullptr) == 0) {
        if (error) *error = image.message;
        png_image_free(&image);
        return false;
    }
    width = image.width;
    height = image.height;
    pixels.swap(buffer);
    return true;
}

}  // namespace platform
