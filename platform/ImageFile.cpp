// PNG through the shared PNG reader, BMP through SDL's reader; both
// converted to RGB.
#include "platform/ImageFile.h"

#include "platform/PngFile.h"

#include <SDL.h>
#include <png.h>

#include <cstdio>
#include <cstring>

namespace platform {

namespace {

// Corrupt headers can claim any size; nothing larger is allocated for.
constexpr unsigned kLargestSide = 16384;

bool Fail(std::string* error, const std::string& reason)
{
    if (error != nullptr) *error = reason;
    return false;
}

bool StartsWithPngSignature(const std::string& path)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    unsigned char header[8] = {};
    std::size_t got = std::fread(header, 1, sizeof header, file);
    std::fclose(file);
    return got == sizeof header && png_sig_cmp(header, 0, sizeof header) == 0;
}

bool ReadBmpRgb(const std::string& path, unsigned& width, unsigned& height, std::vector<std::uint8_t>& pixels,
                std::string* error)
{
    SDL_Surface* loaded = SDL_LoadBMP(path.c_str());
    if (loaded == nullptr) return Fail(error, SDL_GetError());
    SDL_Surface* rgb = SDL_ConvertSurfaceFormat(loaded, SDL_PIXELFORMAT_RGB24, 0);
    SDL_FreeSurface(loaded);
    if (rgb == nullptr) return Fail(error, SDL_GetError());
    if (rgb->w <= 0 || rgb->h <= 0 || static_cast<unsigned>(rgb->w) > kLargestSide ||
        static_cast<unsigned>(rgb->h) > kLargestSide) {
        SDL_FreeSurface(rgb);
        return Fail(error, "picture size out of range");
    }
    width = static_cast<unsigned>(rgb->w);
    height = static_cast<unsigned>(rgb->h);
    std::size_t row = static_cast<std::size_t>(width) * 3;
    pixels.resize(row * height);
    SDL_LockSurface(rgb);
    for (unsigned y = 0; y < height; ++y)
        std::memcpy(pixels.data() + y * row, static_cast<const std::uint8_t*>(rgb->pixels) + y * rgb->pitch, row);
    SDL_UnlockSurface(rgb);
    SDL_FreeSurface(rgb);
    return true;
}

}  // namespace

bool ReadImageRgb(const std::string& path, unsigned& width, unsigned& height, std::vector<std::uint8_t>& pixels,
                  std::string* error)
{
    width = height = 0;
    pixels.clear();
    std::FILE* probe = std::fopen(path.c_str(), "rb");
    if (probe == nullptr) return Fail(error, "cannot open the file");
    std::fclose(probe);
    if (StartsWithPngSignature(path)) return ReadPng(path, width, height, PixelLayout::Rgb, pixels, error);
    return ReadBmpRgb(path, width, height, pixels, error);
}

}  // namespace platform
