// The copyright picture ("CopyRight.png", laid out as 256x64), drawn at the
// bottom-right corner of the screen while the closing sequence fades in.
#pragma once

#include <string>

#include "platform/d3d9/d3dx9.h"
#include "scenery/PictureOverlay.h"

class CopyrightOverlay : public PictureOverlay {
public:
    static constexpr int kLayoutWidth = 256;
    static constexpr int kLayoutHeight = 64;

    // False when the picture at `path` cannot be loaded or the sprite made.
    bool Load(RenderDevice* renderer, int width, int height, const std::string& path);
    void DrawFaded(IDirect3DDevice9* device, int alpha);

private:
    int layoutWidth = kLayoutWidth;
    int layoutHeight = kLayoutHeight;
    D3DXVECTOR2 scale{1.0f, 1.0f};
};
