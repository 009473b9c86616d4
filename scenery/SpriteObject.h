// Base of the flat pictures drawn with a sprite over the 3D scene (title,
// copyright, incoming pictures). Owns the sprite, draws the texture of one
// TextureHolder, and takes part in the render device's loss handling.
//
// NOTE: Create registers the object in the render device's Resources for
// good; the object must outlive every later reset (the render device's
// ReleaseAll empties the list at the end).
#pragma once

#include "common/NonCopyable.h"
#include "platform/d3d9/d3dx9.h"
#include "render/DeviceResource.h"

class RenderDevice;
class TextureHolder;

class SpriteObject : public DeviceResource, NonCopyable {
public:
    SpriteObject() = default;
    ~SpriteObject() override;

    bool OnDeviceLost(RenderDevice* device) override;
    bool OnDeviceReset(RenderDevice* device) override;
    virtual bool Create(TextureHolder* holder, RenderDevice* device);
    // The first argument is not used; the six drawing values go straight to the sprite.
    virtual HRESULT Draw(IDirect3DDevice9* unused, const RECT* sourceRect, const D3DXVECTOR2* scaling,
                         const D3DXVECTOR2* rotationCentre, float rotation, const D3DXVECTOR2* translation,
                         D3DCOLOR colour);

    ID3DXSprite* Sprite() const { return sprite; }
    TextureHolder* Holder() const { return textureHolder; }
    RenderDevice* Renderer() const { return renderDevice; }

protected:
    RenderDevice* renderDevice = nullptr;
    ID3DXSprite* sprite = nullptr;
    TextureHolder* textureHolder = nullptr;
};
