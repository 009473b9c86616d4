// The title picture ("title.png", laid out as 256x256), drawn centred over
// the scene at any scale and opacity while the title event fades it away.
#pragma once

#include <string>

#include "platform/d3d9/d3dx9.h"
#include "scenery/PictureOverlay.h"

class TitleOverlay : public PictureOverlay {
public:
    static constexpr int kLayoutSize = 256;

    // False when the picture at `path` cannot be loaded or the sprite made.
    bool Load(RenderDevice* renderer, int width, int height, const std::string& path);
    void DrawFaded(IDirect3DDevice9* device, int alpha, float scale);

private:
    int layoutWidth = kLayoutSize;
    int layoutHeight = kLayoutSize;
    int screenWidth = 0;
    int screenHeight = 0;
    D3DXVECTOR2 baseScale{1.0f, 1.0f};
};
