// The copyright picture ("CopyRight.png", laid out as 256x64), drawn at the
// bottom-right corner of the screen while the closing sequence fades in.
#pragma once

#include <string>

#include "platform/d3d9/d3dx9.h"
#include "scenery/SpriteObject.h"
#include "scenery/TextureHolder.h"

class RenderDevice;

class CopyrightOverlay : public SpriteObject {
public:
    static constexpr int kLayoutWidth = 256;
    static constexpr int kLayoutHeight = 64;

    CopyrightOverlay() = default;
    ~CopyrightOverlay() override = default;

    // False when the picture at `path` cannot be loaded or the sprite made.
    bool Load(RenderDevice* renderer, int width, int height, const std::string& path);
    void DrawFaded(IDirect3DDevice9* device, int alpha);

    const D3DXVECTOR2& Position() const { return position; }

private:
    TextureHolder picture;
    int layoutWidth = kLayoutWidth;
    int layoutHeight = kLayoutHeight;
    D3DXVECTOR2 position;
    D3DXVECTOR2 scale{1.0f, 1.0f};
};
