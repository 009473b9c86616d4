// Drawing in screen space on top of whatever the scene left on the device:
// the sprite and the operator's overlay both draw textured, alpha-blended
// quads in pixels and must leave the device as they found it, so the states
// they set are one list, saved and put back by one class.
//
// Only the IDirect3DDevice9 interface is used, so it works on every device.
#pragma once

#include <iterator>

#include "common/NonCopyable.h"
#include "platform/d3d9/d3d9.h"

// A pretransformed vertex: x, y in pixels, one colour, one texture coordinate.
struct ScreenVertex {
    float x, y, z, rhw;
    D3DCOLOR colour;
    float u, v;
};
constexpr DWORD ScreenVertexFormat = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1;

// Reads every state that SetScreenSpaceState changes when made and sets them
// back when it goes, texture and vertex format included.
class SavedDeviceState : NonCopyable {
public:
    explicit SavedDeviceState(IDirect3DDevice9* device);
    ~SavedDeviceState();

private:
    static constexpr D3DRENDERSTATETYPE kRenderStates[] = {
        D3DRS_ZENABLE,          D3DRS_ZWRITEENABLE,        D3DRS_ALPHABLENDENABLE, D3DRS_SRCBLEND,
        D3DRS_DESTBLEND,        D3DRS_BLENDOP,             D3DRS_ALPHATESTENABLE,  D3DRS_LIGHTING,
        D3DRS_FOGENABLE,        D3DRS_CULLMODE,            D3DRS_SPECULARENABLE,   D3DRS_FILLMODE,
        D3DRS_COLORWRITEENABLE, D3DRS_SEPARATEALPHABLENDENABLE,
    };
    static constexpr D3DTEXTURESTAGESTATETYPE kStageStates[] = {
        D3DTSS_COLOROP,   D3DTSS_COLORARG1, D3DTSS_COLORARG2,     D3DTSS_ALPHAOP,
        D3DTSS_ALPHAARG1, D3DTSS_ALPHAARG2, D3DTSS_TEXCOORDINDEX, D3DTSS_TEXTURETRANSFORMFLAGS,
    };
    static constexpr D3DSAMPLERSTATETYPE kSamplerStates[] = {
        D3DSAMP_ADDRESSU, D3DSAMP_ADDRESSV, D3DSAMP_MINFILTER, D3DSAMP_MAGFILTER, D3DSAMP_MIPFILTER,
    };

    IDirect3DDevice9* device_;
    DWORD render_[std::size(kRenderStates)] = {};
    DWORD stage_[std::size(kStageStates)] = {};
    DWORD stage1Colour_ = 0, stage1Alpha_ = 0;
    DWORD sampler_[std::size(kSamplerStates)] = {};
    IDirect3DTexture9* texture_ = nullptr;  // holds a reference until it is set back
    DWORD fvf_ = 0;
};

// Texture times vertex colour (alpha included), alpha blended over the
// frame, no depth test, lighting, fog or culling, ScreenVertexFormat, and
// texture coordinates clamped and sampled with the filters given.
void SetScreenSpaceState(IDirect3DDevice9* device, D3DTEXTUREFILTERTYPE filter, D3DTEXTUREFILTERTYPE mipFilter);
