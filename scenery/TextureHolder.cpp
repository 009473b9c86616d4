// Texture loading with the loader parameters the scene relies on, and the
// RGB-to-ARGB upload of dynamic textures.
#include "scenery/TextureHolder.h"

#include <algorithm>
#include <cstdio>

#include "platform/d3d9/d3dx9.h"

TextureHolder::~TextureHolder()
{
    if (texture != nullptr) texture->Release();
    texture = nullptr;
}

bool TextureHolder::LoadFromFile(IDirect3DDevice9* device, const char* filePath)
{
    if (filePath == nullptr) return false;
    std::snprintf(path, sizeof path, "%s", filePath);
    IDirect3DTexture9* loaded = nullptr;
    HRESULT hr = D3DXCreateTextureFromFileExA(device, filePath, D3DX_DEFAULT, D3DX_DEFAULT, D3DX_DEFAULT, 0,
                                              D3DFMT_UNKNOWN, D3DPOOL_MANAGED,
                                              D3DX_FILTER_TRIANGLE | D3DX_FILTER_MIRROR,
                                              D3DX_FILTER_TRIANGLE | D3DX_FILTER_MIRROR, 0, nullptr, nullptr,
                                              &loaded);
    if (FAILED(hr) || loaded == nullptr) return false;
    // A second load replaces the first instead of leaking it.
    if (texture != nullptr) texture->Release();
    texture = loaded;
    return true;
}

bool TextureHolder::CreateDynamic(HDC deviceContext, IDirect3DDevice9* device, int textureWidth, int textureHeight)
{
    width = textureWidth;
    height = textureHeight;
    if (texture != nullptr) texture->Release();
    texture = nullptr;
    if (width <= 0 || height <= 0) return false;
    if (FAILED(D3DXCreateTexture(device, static_cast<UINT>(width), static_cast<UINT>(height), 1, 0, D3DFMT_A8R8G8B8,
                                 D3DPOOL_MANAGED, &texture)) ||
        texture == nullptr) {
        texture = nullptr;
        return false;
    }
    pixelStore = std::make_unique<PixelStore>();
    pixelStore->Create(deviceContext, width, height, 24);
    std::fill(pixelStore->colour.begin(), pixelStore->colour.end(), std::uint8_t{0});
    Upload(device, 0, 0, width, height);
    return true;
}

bool TextureHolder::Upload(IDirect3DDevice9*, int x, int y, int w, int h)
{
    if (texture == nullptr || pixelStore == nullptr) return false;
    x = std::clamp(x, 0, width);
    y = std::clamp(y, 0, height);
    // The far edges are clipped too: a rectangle reaching past the texture
    // (or the store) must not write past either.
    const int right = std::min({x + std::max(w, 0), width, pixelStore->width});
    const int bottom = std::min({y + std::max(h, 0), height, pixelStore->height});

    // Only the rectangle is locked, so a device re-sends only those texels.
    const RECT area{x, y, std::max(right, x), std::max(bottom, y)};
    D3DLOCKED_RECT locked{};
    if (FAILED(texture->LockRect(0, &locked, &area, D3DLOCK_DONOTWAIT))) return false;
    const std::uint8_t* colour = pixelStore->colour.data();
    const int storeWidth = pixelStore->width;
    for (int r = y; r < bottom; ++r) {
        auto* row = reinterpret_cast<std::uint32_t*>(static_cast<std::uint8_t*>(locked.pBits) +
                                                     static_cast<std::ptrdiff_t>(r - y) * locked.Pitch);
        const std::uint8_t* source = colour + (static_cast<std::size_t>(r) * storeWidth + x) * 3;
        for (int c = x; c < right; ++c, source += 3)
            row[c - x] = 0xFF000000u | (std::uint32_t{source[0]} << 16) | (std::uint32_t{source[1]} << 8) | source[2];
    }
    texture->UnlockRect(0);
    return true;
}
