// The fade quad: a triangle fan over the logical screen, alpha blended, with
// the render states put back afterwards except the cull mode, the texture
// and the vertex format, which the next drawing sets itself.
#include "render/ScreenFade.h"

#include <algorithm>

static_assert(sizeof(ScreenFade::Vertex) == 28, "the fade vertex is 28 bytes");

namespace {

// Alpha in the top byte over white. Values outside 0..255 are clamped so
// that they cannot spill into the colour bytes.
D3DCOLOR WhiteWithAlpha(int alpha)
{
    return (static_cast<D3DCOLOR>(std::clamp(alpha, 0, 255)) << 24) | 0xFFFFFFu;
}

}  // namespace

bool ScreenFade::Init(HDC, IDirect3DDevice9*, int screenWidth, int screenHeight)
{
    width = screenWidth;
    height = screenHeight;
    const float w = static_cast<float>(width);
    const float h = static_cast<float>(height);
    vertices[0] = Vertex{0.0f, 0.0f, 0.0f, 1.0f, 0xFFFFFFFF, 0.0f, 0.0f};
    vertices[1] = Vertex{0.0f, h, 0.0f, 1.0f, 0xFFFFFFFF, 0.0f, 1.0f};
    vertices[2] = Vertex{w, h, 0.0f, 1.0f, 0xFFFFFFFF, 1.0f, 1.0f};
    vertices[3] = Vertex{w, 0.0f, 0.0f, 1.0f, 0xFFFFFFFF, 1.0f, 0.0f};
    return true;
}

void ScreenFade::DrawUniform(IDirect3DDevice9* device, int alpha)
{
    const D3DCOLOR colour = WhiteWithAlpha(alpha);
    for (Vertex& v : vertices) v.colour = colour;
    Draw(device);
}

void ScreenFade::DrawGradient(IDirect3DDevice9* device, int alpha)
{
    const D3DCOLOR left = WhiteWithAlpha(std::min(2 * std::clamp(alpha, 0, 255), 255));
    const D3DCOLOR right = WhiteWithAlpha(alpha);
    vertices[0].colour = left;
    vertices[1].colour = left;
    vertices[2].colour = right;
    vertices[3].colour = right;
    Draw(device);
}

void ScreenFade::Draw(IDirect3DDevice9* device)
{
    if (device == nullptr) return;
    device->SetTexture(0, nullptr);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_CW);
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    device->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    device->SetRenderState(D3DRS_ZFUNC, D3DCMP_ALWAYS);
    device->SetRenderState(D3DRS_FOGENABLE, FALSE);

    device->SetFVF(kFvf);
    device->DrawPrimitiveUP(D3DPT_TRIANGLEFAN, 2, vertices, sizeof(Vertex));

    device->SetRenderState(D3DRS_FOGENABLE, TRUE);
    device->SetRenderState(D3DRS_LIGHTING, TRUE);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    device->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
    device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
    device->SetRenderState(D3DRS_ZFUNC, D3DCMP_LESSEQUAL);
    device->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_WRAP);
    device->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_WRAP);
}
