// The white rectangle over the whole logical screen: the flash after a
// crystal's request, the title's white backdrop and the closing fade. Drawn
// either with one opacity or as a left-to-right gradient whose left edge is
// twice as opaque.
#pragma once

#include "platform/d3d9/d3d9.h"

class ScreenFade {
public:
    // Pre-transformed, lit-free vertex (D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1), 28 bytes.
    struct Vertex {
        float x, y, z, rhw;
        D3DCOLOR colour;
        float u, v;
    };
    static constexpr DWORD kFvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1;

    ScreenFade() = default;

    // The device context and the device are not needed; the size is the
    // logical screen's, not the back buffer's.
    bool Init(HDC deviceContext, IDirect3DDevice9* device, int width, int height);
    void DrawUniform(IDirect3DDevice9* device, int alpha);
    void DrawGradient(IDirect3DDevice9* device, int alpha);

    const Vertex* Vertices() const { return vertices; }

private:
    void Draw(IDirect3DDevice9* device);

    int width = 0;
    int height = 0;
    Vertex vertices[4] = {};
};
