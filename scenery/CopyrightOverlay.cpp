// Placing the copyright picture in the screen's bottom-right corner.
#include "scenery/CopyrightOverlay.h"

bool CopyrightOverlay::Load(RenderDevice* renderer, int width, int height, const std::string& path)
{
    if (!LoadPicture(renderer, path)) return false;
    layoutWidth = kLayoutWidth;
    layoutHeight = kLayoutHeight;
    position = D3DXVECTOR2(static_cast<float>(width - layoutWidth), static_cast<float>(height - layoutHeight));
    scale = D3DXVECTOR2(1.0f, 1.0f);
    return Create(&picture, renderer);
}

void CopyrightOverlay::DrawFaded(IDirect3DDevice9*, int alpha)
{
    if (sprite == nullptr) return;
    DrawPicture(scale, alpha);
}
