// Loading and faded drawing of the copyright picture in the screen's corner.
#include "scenery/CopyrightOverlay.h"

#include "render/RenderDevice.h"

bool CopyrightOverlay::Load(RenderDevice* renderer, int width, int height, const std::string& path)
{
    if (renderer == nullptr) return false;
    if (!picture.LoadFromFile(renderer->Device(), path.c_str())) return false;
    layoutWidth = kLayoutWidth;
    layoutHeight = kLayoutHeight;
    position = D3DXVECTOR2(static_cast<float>(width - layoutWidth), static_cast<float>(height - layoutHeight));
    scale = D3DXVECTOR2(1.0f, 1.0f);
    return Create(&picture, renderer);
}

void CopyrightOverlay::DrawFaded(IDirect3DDevice9*, int alpha)
{
    if (sprite == nullptr) return;
    sprite->Begin();
    sprite->Draw(picture.texture, nullptr, &scale, nullptr, 0.0f, &position,
                 D3DCOLOR_ARGB(static_cast<unsigned>(alpha), 255, 255, 255));
    sprite->End();
}
