// Writing a dynamic texture's RGB pixel store by pixel, as the incoming
// pictures fill it: rows top first, three bytes a pixel.
#pragma once

#include <cstddef>
#include <cstdint>

#include "scenery/TextureHolder.h"

namespace testsupport {

inline void PutPixel(TextureHolder& holder, int x, int y, std::uint8_t r, std::uint8_t g, std::uint8_t b)
{
    std::uint8_t* p = holder.pixelStore->colour.data() + (static_cast<std::size_t>(y) * holder.width + x) * 3;
    p[0] = r;
    p[1] = g;
    p[2] = b;
}

}  // namespace testsupport
