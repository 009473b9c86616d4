// Where the fields of a flexible-vertex-format vertex lie, for the mesh code
// that reads and writes a mesh's vertices as bytes: the mesh object and the
// .x loader.
#pragma once

#include <cstdint>
#include <cstring>

#include "platform/d3d9/d3d9.h"

namespace platform {

// Byte offsets of the fields, -1 for a field the format lacks.
struct FvfLayout {
    int position = -1, normal = -1, diffuse = -1, specular = -1, texture = -1;
    DWORD textureSets = 0;
    DWORD size = 0;
};

// XYZ or XYZRHW, NORMAL, PSIZE, DIFFUSE, SPECULAR and up to eight 2D
// texture coordinate sets.
FvfLayout LayoutOf(DWORD fvf);

struct Float3 {
    float x, y, z;
};

inline Float3 ReadFloat3(const std::uint8_t* p)
{
    Float3 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline void WriteFloat3(std::uint8_t* p, Float3 v) { std::memcpy(p, &v, sizeof v); }

}  // namespace platform
