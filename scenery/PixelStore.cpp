// Pixel store allocation.
#include "scenery/PixelStore.h"

#include <algorithm>

bool PixelStore::Create(HDC, int storeWidth, int storeHeight, int bitsPerPixel)
{
    width = std::max(0, storeWidth);
    height = std::max(0, storeHeight);
    bytesPerPixel = bitsPerPixel == 16 ? 2 : 3;
    const std::size_t pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    colour.assign(pixels * static_cast<std::size_t>(bytesPerPixel), 0);
    depth.assign(pixels, 1.0e10f);
    return true;
}
