// The ground: a 200 x 200 textured square in the plane y = 0 under the
// crystals, with "ground.bmp" as its texture. The World creates it; no frame
// draws it. A missing texture file is not an error.
#pragma once

#include <string>

#include "scenery/TextureHolder.h"

// Vertex of the ground: position, diffuse colour, texture coordinates.
struct GroundVertex {
    float x, y, z;
    D3DCOLOR diffuse;
    float u, v;
};
static_assert(sizeof(GroundVertex) == 24, "the ground's vertices are 24 bytes");

class Ground : public TextureHolder {
public:
    // Loads the texture (if it is there) and fills the corners; always true.
    bool Create(IDirect3DDevice9* device, const std::string& dataFolder = "data");

    GroundVertex corners[4] = {};
};
