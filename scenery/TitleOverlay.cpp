// Placing the title picture centred, at any scale.
#include "scenery/TitleOverlay.h"

bool TitleOverlay::Load(RenderDevice* renderer, int width, int height, const std::string& path)
{
    if (!LoadPicture(renderer, path)) return false;
    screenWidth = width;
    screenHeight = height;
    layoutWidth = kLayoutSize;
    layoutHeight = kLayoutSize;
    position = D3DXVECTOR2(static_cast<float>((width - layoutWidth) / 2), static_cast<float>((height - layoutHeight) / 2));
    baseScale = D3DXVECTOR2(1.0f, 1.0f);
    return Create(&picture, renderer);
}

void TitleOverlay::DrawFaded(IDirect3DDevice9*, int alpha, float scale)
{
    if (sprite == nullptr) return;
    const D3DXVECTOR2 s(scale * baseScale.x, scale * baseScale.y);
    // Centred at any scale, in whole pixels.
    position.x = static_cast<float>((screenWidth - static_cast<int>(layoutWidth * s.x)) / 2);
    position.y = static_cast<float>((screenHeight - static_cast<int>(layoutHeight * s.y)) / 2);
    DrawPicture(s, alpha);
}
