// The D3DX sprite: a screen-space textured quad, scaled about its top-left
// corner, rotated about the rotation centre, then translated; texture times
// colour (alpha included), alpha blended, no depth test, no lighting, no fog.
// The device's state is restored afterwards: at End, or right after a Draw
// made outside Begin/End. Draws between Begin and End are kept and sent at
// End, one draw for each run of consecutive quads with the same texture (a
// lone quad as a fan of two triangles, several as one triangle list), so
// their failures are reported by End.
#pragma once

#include "platform/d3d9/D3dxMath.h"
#include "platform/d3d9/d3d9.h"

class ID3DXSprite : public Unknown {
public:
    virtual HRESULT Begin() = 0;
    virtual HRESULT Draw(IDirect3DTexture9* texture, const RECT* sourceRect, const D3DXVECTOR2* scaling,
                         const D3DXVECTOR2* rotationCentre, float rotation, const D3DXVECTOR2* translation,
                         D3DCOLOR colour) = 0;
    virtual HRESULT End() = 0;
    virtual HRESULT OnLostDevice() = 0;
    virtual HRESULT OnResetDevice() = 0;
};

HRESULT D3DXCreateSprite(IDirect3DDevice9* device, ID3DXSprite** sprite);
