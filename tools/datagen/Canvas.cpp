// Canvas storage, compositing and the two image-file writers of the
// data-file generator.
#include "tools/datagen/Canvas.h"

#include <png.h>

#include <cmath>
#include <cstdint>
#include <cstdio>

namespace datagen {

namespace {

std::uint8_t ToByte(float v) { return static_cast<std::uint8_t>(std::lround(Clamp01(v) * 255.0f)); }

void PutLe16(std::vector<std::uint8_t>& out, unsigned v)
{
    out.push_back(static_cast<std::uint8_t>(v & 0xFF));
    out.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
}

void PutLe32(std::vector<std::uint8_t>& out, std::uint32_t v)
{
    PutLe16(out, v & 0xFFFF);
    PutLe16(out, v >> 16);
}

std::uint32_t Mix32(std::uint32_t h)
{
    h ^= h >> 16;
    h *= 0x7feb352du;
    h ^= h >> 15;
    h *= 0x846ca68bu;
    h ^= h >> 16;
    return h;
}

float Smooth(float t) { return t * t * (3.0f - 2.0f * t); }

}  // namespace

float Clamp01(float v) { return v < 0.0f ? 0.0f : (v > 1.0f ? 1.0f : v); }

Colour Mix(Colour a, Colour b, float t)
{
    return Colour{a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t, a.a + (b.a - a.a) * t};
}

float Hash2(int x, int y, unsigned seed)
{
    std::uint32_t h = Mix32(static_cast<std::uint32_t>(x) * 0x9E3779B1u ^ Mix32(static_cast<std::uint32_t>(y) + seed));
    return (h >> 8) / 16777215.0f;
}

float PeriodicNoise(float x, float y, int period, unsigned seed)
{
    int ix = static_cast<int>(std::floor(x)), iy = static_cast<int>(std::floor(y));
    float fx = Smooth(x - ix), fy = Smooth(y - iy);
    auto lattice = [&](int lx, int ly) {
        return Hash2(((lx % period) + period) % period, ((ly % period) + period) % period, seed);
    };
    float top = lattice(ix, iy) + (lattice(ix + 1, iy) - lattice(ix, iy)) * fx;
    float bottom = lattice(ix, iy + 1) + (lattice(ix + 1, iy + 1) - lattice(ix, iy + 1)) * fx;
    return top + (bottom - top) * fy;
}

Canvas::Canvas(int width, int height, Colour fill)
    : width_(width), height_(height), pixels_(static_cast<size_t>(width) * height, fill)
{
}

void Canvas::Blend(int x, int y, Colour c, float coverage)
{
    Colour& d = At(x, y);
    float sa = Clamp01(c.a * coverage);
    float oa = sa + d.a * (1.0f - sa);
    if (oa <= 0.0f) {
        // Fully transparent result: keep the colour so filtering bleeds sensibly.
        d = Colour{c.r, c.g, c.b, 0.0f};
        return;
    }
    auto channel = [&](float s, float dst) { return (s * sa + dst * d.a * (1.0f - sa)) / oa; };
    d = Colour{channel(c.r, d.r), channel(c.g, d.g), channel(c.b, d.b), oa};
}

bool Canvas::WriteBmp(const std::string& path) const
{
    const unsigned rowBytes = (static_cast<unsigned>(width_) * 3 + 3) & ~3u;
    const std::uint32_t imageBytes = rowBytes * static_cast<unsigned>(height_);
    std::vector<std::uint8_t> out;
    out.reserve(54 + imageBytes);
    // File header.
    out.push_back('B');
    out.push_back('M');
    PutLe32(out, 54 + imageBytes);
    PutLe32(out, 0);
    PutLe32(out, 54);
    // Info header: bottom-up, 24 bits, no compression, 72 dpi.
    PutLe32(out, 40);
    PutLe32(out, static_cast<std::uint32_t>(width_));
    PutLe32(out, static_cast<std::uint32_t>(height_));
    PutLe16(out, 1);
    PutLe16(out, 24);
    PutLe32(out, 0);
    PutLe32(out, imageBytes);
    PutLe32(out, 2835);
    PutLe32(out, 2835);
    PutLe32(out, 0);
    PutLe32(out, 0);
    for (int y = height_ - 1; y >= 0; --y) {
        for (int x = 0; x < width_; ++x) {
            const Colour& c = At(x, y);
            out.push_back(ToByte(c.b));
            out.push_back(ToByte(c.g));
            out.push_back(ToByte(c.r));
        }
        for (unsigned pad = static_cast<unsigned>(width_) * 3; pad < rowBytes; ++pad) out.push_back(0);
    }
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    bool ok = std::fwrite(out.data(), 1, out.size(), file) == out.size();
    ok = std::fclose(file) == 0 && ok;
    return ok;
}

bool Canvas::WritePng(const std::string& path) const
{
    std::vector<std::uint8_t> rgba(static_cast<size_t>(width_) * height_ * 4);
    for (int y = 0; y < height_; ++y)
        for (int x = 0; x < width_; ++x) {
            const Colour& c = At(x, y);
            std::uint8_t* p = &rgba[(static_cast<size_t>(y) * width_ + x) * 4];
            p[0] = ToByte(c.r);
            p[1] = ToByte(c.g);
            p[2] = ToByte(c.b);
            p[3] = ToByte(c.a);
        }

    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    if (info == nullptr) {
        png_destroy_write_struct(&png, nullptr);
        std::fclose(file);
        return false;
    }
    // NOTE: libpng reports errors by longjmp; nothing with a destructor may
    // be created between here and the end of the writing.
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(file);
        return false;
    }
    png_init_io(png, file);
    png_set_compression_level(png, 9);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width_), static_cast<png_uint_32>(height_), 8,
                 PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < height_; ++y) png_write_row(png, &rgba[static_cast<size_t>(y) * width_ * 4]);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return std::fclose(file) == 0;
}

}  // namespace datagen
