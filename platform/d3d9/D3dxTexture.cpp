#include "platform/d3d9/D3dxTexture.h"

#include <strings.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/files/ImageFile.h"

HRESULT D3DXCreateTexture(IDirect3DDevice9* device, UINT width, UINT height, UINT mipLevels, DWORD usage,
                          D3DFORMAT format, D3DPOOL pool, IDirect3DTexture9** texture)
{
    if (device == nullptr || texture == nullptr) return D3DERR_INVALIDCALL;
    *texture = nullptr;
    if (width == 0 || width == D3DX_DEFAULT) width = 256;
    if (height == 0 || height == D3DX_DEFAULT) height = 256;
    if (mipLevels == D3DX_DEFAULT) mipLevels = 0;
    if (format == D3DFMT_UNKNOWN) format = D3DFMT_A8R8G8B8;
    return device->CreateTexture(width, height, mipLevels, usage, format, pool, texture, nullptr);
}

namespace {

// A decoded picture as 0xAARRGGBB texels, top row first.
struct Picture {
    UINT width = 0;
    UINT height = 0;
    std::vector<std::uint32_t> texels;
    D3DXIMAGE_FILEFORMAT format = D3DXIFF_PNG;
};

// Silent on failure: the caller knows which file it asked for and says so
// once (platform::CheckImageFile gives the reason in words). The content
// decides the kind, not the name, except that a .png name must hold a PNG.
bool Decode(const std::string& path, Picture& picture)
{
    std::vector<std::uint8_t> file;
    if (!platform::ReadWholeFile(path, std::size_t{1} << 28, file, nullptr)) return false;
    static const std::uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    const bool isPng = file.size() >= 8 && std::memcmp(file.data(), kPngSignature, 8) == 0;
    const bool namedPng = path.size() >= 4 && strcasecmp(path.c_str() + path.size() - 4, ".png") == 0;
    if (!isPng && namedPng) return false;
    std::vector<std::uint8_t> bytes;
    unsigned w = 0, h = 0;
    if (!platform::DecodeImage(file.data(), file.size(), platform::PixelLayout::Bgra, w, h, bytes, nullptr))
        return false;
    picture.width = w;
    picture.height = h;
    picture.texels.resize(static_cast<std::size_t>(w) * h);
    std::memcpy(picture.texels.data(), bytes.data(), picture.texels.size() * 4);
    picture.format = isPng ? D3DXIFF_PNG : D3DXIFF_BMP;
    return true;
}

UINT RoundUpToPowerOfTwo(UINT v)
{
    UINT p = 1;
    while (p < v && p < (1u << 30)) p <<= 1;
    return p;
}

// Where texel i of n along one axis falls on a source of `size` texels,
// centres aligned: the two source texels either side and how far towards
// the second it lies.
struct Tap {
    UINT first, second;
    float weight;
};

Tap TapOf(UINT i, UINT n, UINT size)
{
    float s = (static_cast<float>(i) + 0.5f) * static_cast<float>(size) / static_cast<float>(n) - 0.5f;
    s = std::clamp(s, 0.0f, static_cast<float>(size - 1));
    const UINT first = static_cast<UINT>(s);
    return Tap{first, std::min(first + 1, size - 1), s - static_cast<float>(first)};
}

// Bilinear resampling, for pictures whose size is not the texture's.
void Resample(const Picture& from, UINT width, UINT height, std::uint32_t* to)
{
    for (UINT y = 0; y < height; ++y) {
        const Tap ty = TapOf(y, height, from.height);
        const UINT y0 = ty.first, y1 = ty.second;
        const float fy = ty.weight;
        for (UINT x = 0; x < width; ++x) {
            const Tap tx = TapOf(x, width, from.width);
            const UINT x0 = tx.first, x1 = tx.second;
            const float fx = tx.weight;
            const std::uint32_t p00 = from.texels[y0 * from.width + x0], p10 = from.texels[y0 * from.width + x1];
            const std::uint32_t p01 = from.texels[y1 * from.width + x0], p11 = from.texels[y1 * from.width + x1];
            std::uint32_t out = 0;
            for (int shift = 0; shift < 32; shift += 8) {
                float top = ((p00 >> shift) & 0xFF) * (1 - fx) + ((p10 >> shift) & 0xFF) * fx;
                float bottom = ((p01 >> shift) & 0xFF) * (1 - fx) + ((p11 >> shift) & 0xFF) * fx;
                float v = top * (1 - fy) + bottom * fy + 0.5f;
                out |= (static_cast<std::uint32_t>(std::clamp(v, 0.0f, 255.0f)) & 0xFFu) << shift;
            }
            to[static_cast<std::size_t>(y) * width + x] = out;
        }
    }
}

// Fills every level: level 0 from the picture, the rest by halving.
bool FillLevels(IDirect3DTexture9* texture, const Picture& picture)
{
    UINT levels = texture->GetLevelCount();
    D3DSURFACE_DESC desc{};
    texture->GetLevelDesc(0, &desc);
    std::vector<std::uint32_t> current(static_cast<std::size_t>(desc.Width) * desc.Height);
    if (desc.Width == picture.width && desc.Height == picture.height)
        current = picture.texels;
    else
        Resample(picture, desc.Width, desc.Height, current.data());
    UINT w = desc.Width, h = desc.Height;
    for (UINT level = 0; level < levels; ++level) {
        if (level > 0) {
            UINT nw = std::max(1u, w / 2), nh = std::max(1u, h / 2);
            std::vector<std::uint32_t> next(static_cast<std::size_t>(nw) * nh);
            for (UINT y = 0; y < nh; ++y)
                for (UINT x = 0; x < nw; ++x) {
                    UINT x0 = std::min(w - 1, 2 * x), x1 = std::min(w - 1, 2 * x + 1);
                    UINT y0 = std::min(h - 1, 2 * y), y1 = std::min(h - 1, 2 * y + 1);
                    std::uint32_t p[4] = {current[y0 * w + x0], current[y0 * w + x1], current[y1 * w + x0],
                                          current[y1 * w + x1]};
                    std::uint32_t out = 0;
                    for (int shift = 0; shift < 32; shift += 8) {
                        std::uint32_t sum = 2;
                        for (auto v : p) sum += (v >> shift) & 0xFFu;
                        out |= ((sum / 4) & 0xFFu) << shift;
                    }
                    next[y * nw + x] = out;
                }
            current.swap(next);
            w = nw;
            h = nh;
        }
        D3DLOCKED_RECT locked{};
        if (FAILED(texture->LockRect(level, &locked, nullptr, 0))) return false;
        for (UINT y = 0; y < h; ++y)
            std::memcpy(static_cast<std::uint8_t*>(locked.pBits) + static_cast<std::size_t>(y) * locked.Pitch,
                        current.data() + static_cast<std::size_t>(y) * w, w * 4u);
        texture->UnlockRect(level);
    }
    return true;
}

}  // namespace

HRESULT D3DXCreateTextureFromFileExA(IDirect3DDevice9* device, const char* path, UINT width, UINT height,
                                     UINT mipLevels, DWORD usage, D3DFORMAT format, D3DPOOL pool, DWORD,
                                     DWORD, D3DCOLOR colourKey, D3DXIMAGE_INFO* sourceInfo,
                                     PALETTEENTRY*, IDirect3DTexture9** texture)
{
    if (texture != nullptr) *texture = nullptr;
    if (device == nullptr || path == nullptr || texture == nullptr) return D3DERR_INVALIDCALL;
    Picture picture;
    if (!Decode(path, picture)) return D3DERR_INVALIDCALL;
    if (picture.width == 0 || picture.height == 0) return D3DERR_INVALIDCALL;

    if (colourKey != 0) {
        // Texels of the key colour become transparent black.
        for (auto& t : picture.texels)
            if (t == colourKey) t = 0;
    }
    UINT w = width, h = height;
    if (w == D3DX_DEFAULT || w == 0) w = RoundUpToPowerOfTwo(picture.width);
    if (h == D3DX_DEFAULT || h == 0) h = RoundUpToPowerOfTwo(picture.height);
    if (w == D3DX_DEFAULT_NONPOW2 || w == D3DX_FROM_FILE) w = picture.width;
    if (h == D3DX_DEFAULT_NONPOW2 || h == D3DX_FROM_FILE) h = picture.height;
    UINT levels = (mipLevels == D3DX_DEFAULT || mipLevels == 0) ? 0 : mipLevels;
    if (mipLevels == D3DX_FROM_FILE) levels = 1;
    if (format == D3DFMT_UNKNOWN || format == D3DFMT_R8G8B8 || format == D3DFMT_R5G6B5) format = D3DFMT_A8R8G8B8;

    IDirect3DTexture9* created = nullptr;
    HRESULT hr = device->CreateTexture(w, h, levels, usage, format, pool, &created, nullptr);
    if (FAILED(hr)) return hr;
    if (!FillLevels(created, picture)) {
        created->Release();
        return D3DERR_INVALIDCALL;
    }
    if (sourceInfo != nullptr) {
        *sourceInfo = D3DXIMAGE_INFO{picture.width, picture.height, 1, 1, D3DFMT_A8R8G8B8, 0, picture.format};
    }
    *texture = created;
    return D3D_OK;
}

HRESULT D3DXCreateTextureFromFileA(IDirect3DDevice9* device, const char* path, IDirect3DTexture9** texture)
{
    return D3DXCreateTextureFromFileExA(device, path, D3DX_DEFAULT, D3DX_DEFAULT, D3DX_DEFAULT, 0, D3DFMT_UNKNOWN,
                                        D3DPOOL_MANAGED, D3DX_FILTER_TRIANGLE | D3DX_FILTER_DITHER,
                                        D3DX_FILTER_BOX, 0, nullptr, nullptr, texture);
}
