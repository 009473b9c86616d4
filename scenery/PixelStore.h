// The CPU copy of a dynamic texture's pixels: row-major RGB bytes (red,
// green, blue), top row first, row stride exactly width * 3 (2 bytes a
// pixel when created with 16 bits per pixel). Its user writes `colour`
// directly and then asks the owning TextureHolder to upload it.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/system/win32types.h"

class PixelStore {
public:
    PixelStore() = default;
    ~PixelStore() = default;

    // Sizes below 0 count as 0. Always true.
    bool Create(HDC deviceContext, int width, int height, int bitsPerPixel);


    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> colour;
    // NOTE: nothing reads the depth values; they are kept (1.0e10 each) so the
    // store has the shape its users were written against. The GDI bitmap that
    // went with them has no counterpart here: nothing ever drew through it.
    std::vector<float> depth;

private:
    int bytesPerPixel = 3;
};
