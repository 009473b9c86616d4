// A picture from a file drawn over the scene through a sprite, at any
// opacity: the base of the title and the copyright, which differ only in
// where they place it.
#pragma once

#include <string>

#include "platform/d3d9/d3dx9.h"
#include "scenery/SpriteObject.h"
#include "scenery/TextureHolder.h"

class RenderDevice;

class PictureOverlay : public SpriteObject {
public:
    // The top-left corner of the picture on the screen, in pixels.
    const D3DXVECTOR2& Position() const { return position; }

protected:
    // False without a renderer or when the picture at `path` cannot be
    // loaded; the overlay then keeps what it had.
    bool LoadPicture(RenderDevice* renderer, const std::string& path);
    // At `position`, scaled by `scale`, white tinted with `alpha`.
    void DrawPicture(const D3DXVECTOR2& scale, int alpha);

    TextureHolder picture;
    D3DXVECTOR2 position;
};
