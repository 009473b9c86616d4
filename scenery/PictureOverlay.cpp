// Loading and faded drawing of an overlay's picture.
#include "scenery/PictureOverlay.h"

#include "render/RenderDevice.h"

bool PictureOverlay::LoadPicture(RenderDevice* renderer, const std::string& path)
{
    return renderer != nullptr && picture.LoadFromFile(renderer->Device(), path.c_str());
}

void PictureOverlay::DrawPicture(const D3DXVECTOR2& scale, int alpha)
{
    sprite->Begin();
    sprite->Draw(picture.texture, nullptr, &scale, nullptr, 0.0f, &position,
                 D3DCOLOR_ARGB(static_cast<unsigned>(alpha), 255, 255, 255));
    sprite->End();
}
