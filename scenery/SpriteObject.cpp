// Sprite ownership, drawing and reset forwarding for the 2D overlays.
#include "scenery/SpriteObject.h"

#include "render/RenderDevice.h"
#include "scenery/TextureHolder.h"

SpriteObject::~SpriteObject()
{
    if (sprite != nullptr) {
        sprite->OnLostDevice();
        sprite->Release();
    }
    sprite = nullptr;
}

bool SpriteObject::OnDeviceLost(RenderDevice*)
{
    if (sprite != nullptr) sprite->OnLostDevice();
    return true;
}

bool SpriteObject::OnDeviceReset(RenderDevice*)
{
    if (sprite != nullptr) sprite->OnResetDevice();
    return true;
}

bool SpriteObject::Create(TextureHolder* holder, RenderDevice* device)
{
    if (device == nullptr) return false;
    ID3DXSprite* created = nullptr;
    if (FAILED(D3DXCreateSprite(device->Device(), &created)) || created == nullptr) return false;
    // A second Create gives up the first sprite rather than leaking it.
    if (sprite != nullptr) sprite->Release();
    sprite = created;
    textureHolder = holder;
    renderDevice = device;
    if (device->Resources().IndexOf(this) < 0) device->Resources().Add(this);
    return true;
}

HRESULT SpriteObject::Draw(IDirect3DDevice9*, const RECT* sourceRect, const D3DXVECTOR2* scaling,
                           const D3DXVECTOR2* rotationCentre, float rotation, const D3DXVECTOR2* translation,
                           D3DCOLOR colour)
{
    if (sprite == nullptr) return D3DERR_INVALIDCALL;
    HRESULT hr = sprite->Begin();
    if (FAILED(hr)) return hr;
    sprite->Draw(textureHolder != nullptr ? textureHolder->texture : nullptr, sourceRect, scaling, rotationCentre,
                 rotation, translation, colour);
    return sprite->End();
}
