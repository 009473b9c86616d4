// PNG through libpng (PngFile.cpp), BMP through SDL's reader from memory;
// both behind a look at the header that refuses what would make a decoder
// allocate more than an acceptable picture needs.
#include "platform/files/ImageFile.h"

#include <SDL.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <system_error>
#include <filesystem>

#include "common/RegularFile.h"

namespace platform {

namespace {

// The largest file a 4096 x 4096 picture needs (32-bit BMP) plus room for
// headers and palettes.
constexpr std::size_t kLargestImageFile = static_cast<std::size_t>(kMaxImageSide) * kMaxImageSide * 4 + (1u << 20);

bool Fail(std::string* error, const std::string& reason)
{
    if (error != nullptr) *error = reason;
    return false;
}

std::uint32_t Get32(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::uint16_t Get16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

std::string SizeText(long long width, long long height)
{
    return std::to_string(width) + " x " + std::to_string(height);
}

// The BMP headers SDL reads: the 14-byte file header, then an info header of
// 12 (OS/2), 40, 52, 56, 64, 108 or 124 bytes.
bool CheckBmpHeader(const std::uint8_t* bytes, std::size_t size, std::string* error)
{
    if (size < 26 || bytes[0] != 'B' || bytes[1] != 'M') return Fail(error, "not a PNG or BMP picture");
    const std::uint32_t pixelOffset = Get32(bytes + 10);
    const std::uint32_t infoBytes = Get32(bytes + 14);
    long long width = 0, height = 0;
    unsigned bits = 0;
    std::uint32_t compression = 0;
    if (infoBytes == 12) {
        width = Get16(bytes + 18);
        height = Get16(bytes + 20);
        bits = Get16(bytes + 24);
    } else if (infoBytes >= 40 && infoBytes <= 124) {
        if (size < 14 + 40) return Fail(error, "truncated BMP header");
        width = static_cast<std::int32_t>(Get32(bytes + 18));
        height = static_cast<std::int32_t>(Get32(bytes + 22));
        bits = Get16(bytes + 28);
        compression = Get32(bytes + 30);
    } else {
        return Fail(error, "BMP info header of " + std::to_string(infoBytes) + " bytes");
    }
    if (height < 0) height = -height;  // top-down rows
    if (width <= 0 || height <= 0 || width > kMaxImageSide || height > kMaxImageSide)
        return Fail(error, "picture size " + SizeText(width, height) + " (at most " +
                               SizeText(kMaxImageSide, kMaxImageSide) + ")");
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
        return Fail(error, std::to_string(bits) + " bits per pixel");
    if (pixelOffset < 14 + infoBytes || pixelOffset >= size)
        return Fail(error, "pixel data at byte " + std::to_string(pixelOffset) + " of a " + std::to_string(size) +
                               "-byte file");
    // Uncompressed rows are padded to four bytes; compressed data (RLE) can
    // only be checked to start inside the file.
    constexpr std::uint32_t kRgb = 0, kBitFields = 3, kAlphaBitFields = 6;
    if (compression == kRgb || compression == kBitFields || compression == kAlphaBitFields) {
        const std::uint64_t row = (static_cast<std::uint64_t>(width) * bits + 31) / 32 * 4;
        const std::uint64_t needed = row * static_cast<std::uint64_t>(height);
        if (needed > size - pixelOffset)
            return Fail(error, "pixel data of " + std::to_string(needed) + " bytes for " + SizeText(width, height) +
                                   " but the file holds " + std::to_string(size - pixelOffset));
    } else if (compression != 1 && compression != 2) {
        return Fail(error, "BMP compression " + std::to_string(compression));
    }
    return true;
}

struct SurfaceDeleter {
    void operator()(SDL_Surface* surface) const { SDL_FreeSurface(surface); }
};

std::uint32_t SdlFormatOf(PixelLayout layout)
{
    switch (layout) {
    case PixelLayout::Rgb: return SDL_PIXELFORMAT_RGB24;
    case PixelLayout::Rgba: return SDL_PIXELFORMAT_ABGR8888;  // bytes R, G, B, A on a little-endian machine
    case PixelLayout::Bgra: return SDL_PIXELFORMAT_ARGB8888;  // bytes B, G, R, A
    }
    return SDL_PIXELFORMAT_ARGB8888;
}

std::size_t BytesPerPixel(PixelLayout layout) { return layout == PixelLayout::Rgb ? 3 : 4; }

bool DecodeBmp(const std::uint8_t* bytes, std::size_t size, PixelLayout layout, unsigned& width, unsigned& height,
               std::vector<std::uint8_t>& pixels, std::string* error)
{
    if (!CheckBmpHeader(bytes, size, error)) return false;
    SDL_RWops* source = SDL_RWFromConstMem(bytes, static_cast<int>(size));
    if (source == nullptr) return Fail(error, SDL_GetError());
    std::unique_ptr<SDL_Surface, SurfaceDeleter> loaded(SDL_LoadBMP_RW(source, 1));
    if (loaded == nullptr) return Fail(error, SDL_GetError());
    std::unique_ptr<SDL_Surface, SurfaceDeleter> converted(SDL_ConvertSurfaceFormat(loaded.get(), SdlFormatOf(layout), 0));
    if (converted == nullptr) return Fail(error, SDL_GetError());
    if (converted->w <= 0 || converted->h <= 0 || static_cast<unsigned>(converted->w) > kMaxImageSide ||
        static_cast<unsigned>(converted->h) > kMaxImageSide)
        return Fail(error, "picture size " + SizeText(converted->w, converted->h));
    width = static_cast<unsigned>(converted->w);
    height = static_cast<unsigned>(converted->h);
    const std::size_t row = static_cast<std::size_t>(width) * BytesPerPixel(layout);
    pixels.resize(row * height);
    SDL_LockSurface(converted.get());
    for (unsigned y = 0; y < height; ++y)
        std::memcpy(pixels.data() + y * row,
                    static_cast<const std::uint8_t*>(converted->pixels) + static_cast<std::size_t>(y) * converted->pitch,
                    row);
    SDL_UnlockSurface(converted.get());
    return true;
}

bool IsPng(const std::uint8_t* bytes, std::size_t size)
{
    static const std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    return size >= 8 && std::memcmp(bytes, kSignature, 8) == 0;
}

}  // namespace

bool ReadWholeFile(const std::string& path, std::size_t limit, std::vector<std::uint8_t>& bytes, std::string* error)
{
    std::string why;
    if (!ReadRegularFile(path, limit, bytes, why)) return Fail(error, why);
    return true;
}

bool DecodeImage(const std::uint8_t* bytes, std::size_t size, PixelLayout layout, unsigned& width, unsigned& height,
                 std::vector<std::uint8_t>& pixels, std::string* error)
{
    width = height = 0;
    pixels.clear();
    if (size == 0) return Fail(error, "empty file");
    if (size > kLargestImageFile) return Fail(error, "a file of " + std::to_string(size) + " bytes is too large");
    bool ok = IsPng(bytes, size) ? DecodePng(bytes, size, layout, width, height, pixels, error)
                                 : DecodeBmp(bytes, size, layout, width, height, pixels, error);
    if (!ok) {
        width = height = 0;
        pixels.clear();
    }
    return ok;
}

bool ReadImage(const std::string& path, PixelLayout layout, unsigned& width, unsigned& height,
               std::vector<std::uint8_t>& pixels, std::string* error)
{
    width = height = 0;
    pixels.clear();
    std::vector<std::uint8_t> bytes;
    if (!ReadWholeFile(path, kLargestImageFile, bytes, error)) return false;
    return DecodeImage(bytes.data(), bytes.size(), layout, width, height, pixels, error);
}

bool ReadImageRgb(const std::string& path, unsigned& width, unsigned& height, std::vector<std::uint8_t>& pixels,
                  std::string* error)
{
    return ReadImage(path, PixelLayout::Rgb, width, height, pixels, error);
}

bool CheckImageFile(const std::string& path, std::string* error)
{
    unsigned width = 0, height = 0;
    std::vector<std::uint8_t> pixels;
    return ReadImage(path, PixelLayout::Rgb, width, height, pixels, error);
}

}  // namespace platform
