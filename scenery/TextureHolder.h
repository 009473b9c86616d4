// Every picture the scene shows lives in a TextureHolder: a texture loaded
// from an image file (ground, lights, sphere map, logo, title, copyright),
// or a dynamic texture filled from a CPU-side RGB PixelStore (the pictures
// received from the peer). Embedded by value in the scenery objects.
#pragma once

#include <memory>

#include "common/NonCopyable.h"
#include "platform/d3d9/d3d9.h"
#include "scenery/PixelStore.h"

class TextureHolder : NonCopyable {
public:
    TextureHolder() = default;
    virtual ~TextureHolder();

    // A managed texture from a PNG or BMP file with its full mip chain. False
    // for a missing or unreadable file; a texture held before is kept then.
    bool LoadFromFile(IDirect3DDevice9* device, const char* filePath);
    // A width x height A8R8G8B8 texture and an RGB pixel store, both black.
    bool CreateDynamic(HDC deviceContext, IDirect3DDevice9* device, int textureWidth, int textureHeight);
    // Copies a rectangle of the pixel store into level 0 of the texture as
    // opaque texels. The rectangle is clipped to the texture.
    bool Upload(IDirect3DDevice9* device, int x, int y, int w, int h);

    IDirect3DTexture9* texture = nullptr;
    char path[260] = {};
    std::unique_ptr<PixelStore> pixelStore;
    int width = 0;
    int height = 0;
};
