// The D3DX stand-ins: math, texture loading (PNG and BMP through
// platform/ImageFile) and the sprite, all on top of the IDirect3DDevice9 interface.
#include "platform/d3d9/d3dx9.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "common/Log.h"
#include "platform/files/ImageFile.h"
#include "platform/d3d9/Matrices.h"

// ---------------------------------------------------------------------------
// Math

D3DXMATRIX::D3DXMATRIX(float m11, float m12, float m13, float m14, float m21, float m22, float m23, float m24,
                       float m31, float m32, float m33, float m34, float m41, float m42, float m43, float m44)
    : D3DMATRIX{}
{
    _11 = m11, _12 = m12, _13 = m13, _14 = m14;
    _21 = m21, _22 = m22, _23 = m23, _24 = m24;
    _31 = m31, _32 = m32, _33 = m33, _34 = m34;
    _41 = m41, _42 = m42, _43 = m43, _44 = m44;
}

D3DXMATRIX D3DXMATRIX::operator*(const D3DXMATRIX& o) const
{
    D3DXMATRIX r;
    D3DXMatrixMultiply(&r, this, &o);
    return r;
}

bool D3DXMATRIX::operator==(const D3DXMATRIX& o) const { return std::memcmp(m, o.m, sizeof m) == 0; }

float D3DXVec3Length(const D3DXVECTOR3* v) { return std::sqrt(v->x * v->x + v->y * v->y + v->z * v->z); }

float D3DXVec3Dot(const D3DXVECTOR3* a, const D3DXVECTOR3* b) { return a->x * b->x + a->y * b->y + a->z * b->z; }

D3DXVECTOR3* D3DXVec3Cross(D3DXVECTOR3* out, const D3DXVECTOR3* a, const D3DXVECTOR3* b)
{
    D3DXVECTOR3 r(a->y * b->z - a->z * b->y, a->z * b->x - a->x * b->z, a->x * b->y - a->y * b->x);
    *out = r;
    return out;
}

D3DXVECTOR3* D3DXVec3Normalize(D3DXVECTOR3* out, const D3DXVECTOR3* v)
{
    float length = D3DXVec3Length(v);
    if (length == 0.0f) {
        *out = D3DXVECTOR3(0.0f, 0.0f, 0.0f);
    } else {
        *out = D3DXVECTOR3(v->x / length, v->y / length, v->z / length);
    }
    return out;
}

D3DXVECTOR3* D3DXVec3TransformCoord(D3DXVECTOR3* out, const D3DXVECTOR3* v, const D3DXMATRIX* m)
{
    float x = v->x * m->_11 + v->y * m->_21 + v->z * m->_31 + m->_41;
    float y = v->x * m->_12 + v->y * m->_22 + v->z * m->_32 + m->_42;
    float z = v->x * m->_13 + v->y * m->_23 + v->z * m->_33 + m->_43;
    float w = v->x * m->_14 + v->y * m->_24 + v->z * m->_34 + m->_44;
    if (w == 0.0f) w = 1.0f;
    *out = D3DXVECTOR3(x / w, y / w, z / w);
    return out;
}

D3DXMATRIX* D3DXMatrixMultiply(D3DXMATRIX* out, const D3DXMATRIX* a, const D3DXMATRIX* b)
{
    *out = MultiplyMatrices(*a, *b);
    return out;
}

D3DXMATRIX* D3DXMatrixInverse(D3DXMATRIX* out, float* determinant, const D3DXMATRIX* m)
{
    // Cofactor expansion in double precision.
    double a[16], inv[16];
    for (int i = 0; i < 16; ++i) a[i] = m->m[i / 4][i % 4];
    inv[0] = a[5] * a[10] * a[15] - a[5] * a[11] * a[14] - a[9] * a[6] * a[15] + a[9] * a[7] * a[14] +
             a[13] * a[6] * a[11] - a[13] * a[7] * a[10];
    inv[4] = -a[4] * a[10] * a[15] + a[4] * a[11] * a[14] + a[8] * a[6] * a[15] - a[8] * a[7] * a[14] -
             a[12] * a[6] * a[11] + a[12] * a[7] * a[10];
    inv[8] = a[4] * a[9] * a[15] - a[4] * a[11] * a[13] - a[8] * a[5] * a[15] + a[8] * a[7] * a[13] +
             a[12] * a[5] * a[11] - a[12] * a[7] * a[9];
    inv[12] = -a[4] * a[9] * a[14] + a[4] * a[10] * a[13] + a[8] * a[5] * a[14] - a[8] * a[6] * a[13] -
              a[12] * a[5] * a[10] + a[12] * a[6] * a[9];
    inv[1] = -a[1] * a[10] * a[15] + a[1] * a[11] * a[14] + a[9] * a[2] * a[15] - a[9] * a[3] * a[14] -
             a[13] * a[2] * a[11] + a[13] * a[3] * a[10];
    inv[5] = a[0] * a[10] * a[15] - a[0] * a[11] * a[14] - a[8] * a[2] * a[15] + a[8] * a[3] * a[14] +
             a[12] * a[2] * a[11] - a[12] * a[3] * a[10];
    inv[9] = -a[0] * a[9] * a[15] + a[0] * a[11] * a[13] + a[8] * a[1] * a[15] - a[8] * a[3] * a[13] -
             a[12] * a[1] * a[11] + a[12] * a[3] * a[9];
    inv[13] = a[0] * a[9] * a[14] - a[0] * a[10] * a[13] - a[8] * a[1] * a[14] + a[8] * a[2] * a[13] +
              a[12] * a[1] * a[10] - a[12] * a[2] * a[9];
    inv[2] = a[1] * a[6] * a[15] - a[1] * a[7] * a[14] - a[5] * a[2] * a[15] + a[5] * a[3] * a[14] +
             a[13] * a[2] * a[7] - a[13] * a[3] * a[6];
    inv[6] = -a[0] * a[6] * a[15] + a[0] * a[7] * a[14] + a[4] * a[2] * a[15] - a[4] * a[3] * a[14] -
             a[12] * a[2] * a[7] + a[12] * a[3] * a[6];
    inv[10] = a[0] * a[5] * a[15] - a[0] * a[7] * a[13] - a[4] * a[1] * a[15] + a[4] * a[3] * a[13] +
              a[12] * a[1] * a[7] - a[12] * a[3] * a[5];
    inv[14] = -a[0] * a[5] * a[14] + a[0] * a[6] * a[13] + a[4] * a[1] * a[14] - a[4] * a[2] * a[13] -
              a[12] * a[1] * a[6] + a[12] * a[2] * a[5];
    inv[3] = -a[1] * a[6] * a[11] + a[1] * a[7] * a[10] + a[5] * a[2] * a[11] - a[5] * a[3] * a[10] -
             a[9] * a[2] * a[7] + a[9] * a[3] * a[6];
    inv[7] = a[0] * a[6] * a[11] - a[0] * a[7] * a[10] - a[4] * a[2] * a[11] + a[4] * a[3] * a[10] +
             a[8] * a[2] * a[7] - a[8] * a[3] * a[6];
    inv[11] = -a[0] * a[5] * a[11] + a[0] * a[7] * a[9] + a[4] * a[1] * a[11] - a[4] * a[3] * a[9] -
              a[8] * a[1] * a[7] + a[8] * a[3] * a[5];
    inv[15] = a[0] * a[5] * a[10] - a[0] * a[6] * a[9] - a[4] * a[1] * a[10] + a[4] * a[2] * a[9] +
              a[8] * a[1] * a[6] - a[8] * a[2] * a[5];
    double det = a[0] * inv[0] + a[1] * inv[4] + a[2] * inv[8] + a[3] * inv[12];
    if (determinant != nullptr) *determinant = static_cast<float>(det);
    if (det == 0.0) return nullptr;
    for (int i = 0; i < 16; ++i) out->m[i / 4][i % 4] = static_cast<float>(inv[i] / det);
    return out;
}

D3DXMATRIX* D3DXMatrixTranslation(D3DXMATRIX* out, float x, float y, float z)
{
    *out = D3DXMATRIX(1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, x, y, z, 1);
    return out;
}

D3DXMATRIX* D3DXMatrixRotationY(D3DXMATRIX* out, float angle)
{
    float c = std::cos(angle), s = std::sin(angle);
    *out = D3DXMATRIX(c, 0, -s, 0, 0, 1, 0, 0, s, 0, c, 0, 0, 0, 0, 1);
    return out;
}

D3DXMATRIX* D3DXMatrixLookAtLH(D3DXMATRIX* out, const D3DXVECTOR3* eye, const D3DXVECTOR3* at, const D3DXVECTOR3* up)
{
    D3DXVECTOR3 zaxis = *at - *eye;
    D3DXVec3Normalize(&zaxis, &zaxis);
    D3DXVECTOR3 xaxis;
    D3DXVec3Cross(&xaxis, up, &zaxis);
    D3DXVec3Normalize(&xaxis, &xaxis);
    D3DXVECTOR3 yaxis;
    D3DXVec3Cross(&yaxis, &zaxis, &xaxis);
    *out = D3DXMATRIX(xaxis.x, yaxis.x, zaxis.x, 0, xaxis.y, yaxis.y, zaxis.y, 0, xaxis.z, yaxis.z, zaxis.z, 0,
                      -D3DXVec3Dot(&xaxis, eye), -D3DXVec3Dot(&yaxis, eye), -D3DXVec3Dot(&zaxis, eye), 1);
    return out;
}

D3DXMATRIX* D3DXMatrixPerspectiveFovLH(D3DXMATRIX* out, float fovY, float aspect, float zNear, float zFar)
{
    float yScale = 1.0f / std::tan(fovY / 2.0f);
    float xScale = yScale / aspect;
    float q = zFar / (zFar - zNear);
    *out = D3DXMATRIX(xScale, 0, 0, 0, 0, yScale, 0, 0, 0, 0, q, 1, 0, 0, -zNear * q, 0);
    return out;
}

D3DXMATRIX* D3DXMatrixOrthoLH(D3DXMATRIX* out, float width, float height, float zNear, float zFar)
{
    *out = D3DXMATRIX(2.0f / width, 0, 0, 0, 0, 2.0f / height, 0, 0, 0, 0, 1.0f / (zFar - zNear), 0, 0, 0,
                      zNear / (zNear - zFar), 1);
    return out;
}

// ---------------------------------------------------------------------------
// Textures

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

bool HasExtension(const std::string& path, const char* extension)
{
    std::size_t n = std::strlen(extension);
    if (path.size() < n) return false;
    for (std::size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(path[path.size() - n + i])) != extension[i]) return false;
    return true;
}

// Silent on failure: the caller knows which file it asked for and says so
// once (platform::CheckImageFile gives the reason in words). The content
// decides the kind, not the name, except that a .png name must hold a PNG.
bool Decode(const std::string& path, Picture& picture)
{
    std::vector<std::uint8_t> file;
    if (!platform::ReadWholeFile(path, std::size_t{1} << 28, file, nullptr)) return false;
    static const std::uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    const bool isPng = file.size() >= 8 && std::memcmp(file.data(), kPngSignature, 8) == 0;
    if (!isPng && HasExtension(path, ".png")) return false;
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

// Bilinear resampling with texel centres aligned, for pictures whose size is
// not the texture's.
void Resample(const Picture& from, UINT width, UINT height, std::uint32_t* to)
{
    for (UINT y = 0; y < height; ++y) {
        float sy = (static_cast<float>(y) + 0.5f) * static_cast<float>(from.height) / static_cast<float>(height) - 0.5f;
        sy = std::clamp(sy, 0.0f, static_cast<float>(from.height - 1));
        UINT y0 = static_cast<UINT>(sy);
        UINT y1 = std::min(y0 + 1, from.height - 1);
        float fy = sy - static_cast<float>(y0);
        for (UINT x = 0; x < width; ++x) {
            float sx = (static_cast<float>(x) + 0.5f) * static_cast<float>(from.width) / static_cast<float>(width) - 0.5f;
            sx = std::clamp(sx, 0.0f, static_cast<float>(from.width - 1));
            UINT x0 = static_cast<UINT>(sx);
            UINT x1 = std::min(x0 + 1, from.width - 1);
            float fx = sx - static_cast<float>(x0);
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

// ---------------------------------------------------------------------------
// The sprite

namespace {

struct SpriteVertex {
    float x, y, z, rhw;
    D3DCOLOR colour;
    float u, v;
};
constexpr DWORD kSpriteFvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1;

// The states the sprite sets, saved at Begin and put back at End.
constexpr D3DRENDERSTATETYPE kSavedRenderStates[] = {
    D3DRS_ZENABLE,        D3DRS_ZWRITEENABLE,     D3DRS_ALPHABLENDENABLE, D3DRS_SRCBLEND,
    D3DRS_DESTBLEND,      D3DRS_BLENDOP,          D3DRS_ALPHATESTENABLE,  D3DRS_LIGHTING,
    D3DRS_FOGENABLE,      D3DRS_CULLMODE,         D3DRS_SPECULARENABLE,   D3DRS_FILLMODE,
    D3DRS_COLORWRITEENABLE, D3DRS_SEPARATEALPHABLENDENABLE,
};
constexpr D3DTEXTURESTAGESTATETYPE kSavedStageStates[] = {
    D3DTSS_COLOROP,       D3DTSS_COLORARG1,     D3DTSS_COLORARG2, D3DTSS_ALPHAOP,
    D3DTSS_ALPHAARG1,     D3DTSS_ALPHAARG2,     D3DTSS_TEXCOORDINDEX, D3DTSS_TEXTURETRANSFORMFLAGS,
};
constexpr D3DSAMPLERSTATETYPE kSavedSamplerStates[] = {
    D3DSAMP_ADDRESSU, D3DSAMP_ADDRESSV, D3DSAMP_MINFILTER, D3DSAMP_MAGFILTER, D3DSAMP_MIPFILTER,
};

// NOTE: between Begin and End the quads are kept and go out at End (or when
// the texture changes) as one draw per run of quads with the same texture,
// in the order drawn, as D3DX's sprite does: pictures that share a texture
// cost one draw however many there are.
class Sprite : public ID3DXSprite {
public:
    explicit Sprite(IDirect3DDevice9* device) : device_(device) { device_->AddRef(); }

    HRESULT Begin() override
    {
        if (begun_) return D3DERR_INVALIDCALL;
        Save();
        Apply();
        begun_ = true;
        return D3D_OK;
    }

    HRESULT Draw(IDirect3DTexture9* texture, const RECT* sourceRect, const D3DXVECTOR2* scaling,
                 const D3DXVECTOR2* rotationCentre, float rotation, const D3DXVECTOR2* translation,
                 D3DCOLOR colour) override
    {
        if (texture == nullptr) return D3DERR_INVALIDCALL;
        D3DSURFACE_DESC desc{};
        if (FAILED(texture->GetLevelDesc(0, &desc)) || desc.Width == 0 || desc.Height == 0)
            return D3DERR_INVALIDCALL;
        RECT source{0, 0, static_cast<LONG>(desc.Width), static_cast<LONG>(desc.Height)};
        if (sourceRect != nullptr) source = *sourceRect;

        const float w = static_cast<float>(source.right - source.left);
        const float h = static_cast<float>(source.bottom - source.top);
        const float sx = scaling ? scaling->x : 1.0f, sy = scaling ? scaling->y : 1.0f;
        const float cx = rotationCentre ? rotationCentre->x : 0.0f, cy = rotationCentre ? rotationCentre->y : 0.0f;
        const float tx = translation ? translation->x : 0.0f, ty = translation ? translation->y : 0.0f;
        const float c = std::cos(rotation), s = std::sin(rotation);
        const float tw = static_cast<float>(desc.Width), th = static_cast<float>(desc.Height);

        // Corners in the order of a fan: top left, top right, bottom right, bottom left.
        const float cornerX[4] = {0.0f, w, w, 0.0f};
        const float cornerY[4] = {0.0f, 0.0f, h, h};
        Quad quad;
        for (int i = 0; i < 4; ++i) {
            // Scale about the top-left corner, rotate about the centre, translate.
            float x = cornerX[i] * sx - cx, y = cornerY[i] * sy - cy;
            float rx = x * c - y * s + cx, ry = x * s + y * c + cy;
            quad.corner[i].x = rx + tx;
            quad.corner[i].y = ry + ty;
            quad.corner[i].z = 0.0f;
            quad.corner[i].rhw = 1.0f;
            quad.corner[i].colour = colour;
            quad.corner[i].u = (static_cast<float>(source.left) + cornerX[i]) / tw;
            quad.corner[i].v = (static_cast<float>(source.top) + cornerY[i]) / th;
        }

        if (begun_) {
            if (texture != queuedTexture_) {
                const HRESULT flushed = Flush();
                if (FAILED(flushed)) return flushed;
                queuedTexture_ = texture;
                queuedTexture_->AddRef();
            }
            queued_.push_back(quad);
            return D3D_OK;
        }
        Save();
        Apply();
        device_->SetTexture(0, texture);
        HRESULT hr = device_->DrawPrimitiveUP(D3DPT_TRIANGLEFAN, 2, quad.corner, sizeof(SpriteVertex));
        Restore();
        return hr;
    }

    HRESULT End() override
    {
        if (!begun_) return D3DERR_INVALIDCALL;
        const HRESULT hr = Flush();
        Restore();
        begun_ = false;
        return hr;
    }

    HRESULT OnLostDevice() override
    {
        if (begun_) End();
        return D3D_OK;
    }

    HRESULT OnResetDevice() override { return D3D_OK; }

protected:
    ~Sprite() override
    {
        DropQueue();
        if (begun_) Restore();
        if (saved_.texture != nullptr) saved_.texture->Release();
        device_->Release();
    }

private:
    struct Quad {
        SpriteVertex corner[4];
    };

    // Draws the quads kept since the last flush: one quad as the fan it
    // always was, several as one list of their triangles.
    HRESULT Flush()
    {
        HRESULT hr = D3D_OK;
        if (!queued_.empty() && queuedTexture_ != nullptr) {
            device_->SetTexture(0, queuedTexture_);
            if (queued_.size() == 1) {
                hr = device_->DrawPrimitiveUP(D3DPT_TRIANGLEFAN, 2, queued_[0].corner, sizeof(SpriteVertex));
            } else {
                list_.clear();
                for (const Quad& q : queued_)
                    for (int corner : {0, 1, 2, 0, 2, 3}) list_.push_back(q.corner[corner]);
                hr = device_->DrawPrimitiveUP(D3DPT_TRIANGLELIST, static_cast<UINT>(queued_.size() * 2),
                                              list_.data(), sizeof(SpriteVertex));
            }
        }
        DropQueue();
        return hr;
    }

    void DropQueue()
    {
        queued_.clear();
        if (queuedTexture_ != nullptr) queuedTexture_->Release();
        queuedTexture_ = nullptr;
    }

    void Save()
    {
        for (std::size_t i = 0; i < std::size(kSavedRenderStates); ++i)
            device_->GetRenderState(kSavedRenderStates[i], &saved_.render[i]);
        for (std::size_t i = 0; i < std::size(kSavedStageStates); ++i)
            device_->GetTextureStageState(0, kSavedStageStates[i], &saved_.stage[i]);
        device_->GetTextureStageState(1, D3DTSS_COLOROP, &saved_.stage1ColourOp);
        device_->GetTextureStageState(1, D3DTSS_ALPHAOP, &saved_.stage1AlphaOp);
        for (std::size_t i = 0; i < std::size(kSavedSamplerStates); ++i)
            device_->GetSamplerState(0, kSavedSamplerStates[i], &saved_.sampler[i]);
        if (saved_.texture != nullptr) saved_.texture->Release();
        saved_.texture = nullptr;
        device_->GetTexture(0, &saved_.texture);
        device_->GetFVF(&saved_.fvf);
    }

    void Apply()
    {
        device_->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
        device_->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
        device_->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
        device_->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
        device_->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
        device_->SetRenderState(D3DRS_BLENDOP, D3DBLENDOP_ADD);
        device_->SetRenderState(D3DRS_ALPHATESTENABLE, FALSE);
        device_->SetRenderState(D3DRS_LIGHTING, FALSE);
        device_->SetRenderState(D3DRS_FOGENABLE, FALSE);
        device_->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
        device_->SetRenderState(D3DRS_SPECULARENABLE, FALSE);
        device_->SetRenderState(D3DRS_FILLMODE, D3DFILL_SOLID);
        device_->SetRenderState(D3DRS_COLORWRITEENABLE, 0xF);
        device_->SetRenderState(D3DRS_SEPARATEALPHABLENDENABLE, FALSE);
        device_->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
        device_->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
        device_->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
        device_->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
        device_->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
        device_->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
        device_->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, 0);
        device_->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
        device_->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
        device_->SetTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
        device_->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
        device_->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);
        device_->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
        device_->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
        device_->SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_LINEAR);
        device_->SetFVF(kSpriteFvf);
    }

    void Restore()
    {
        for (std::size_t i = 0; i < std::size(kSavedRenderStates); ++i)
            device_->SetRenderState(kSavedRenderStates[i], saved_.render[i]);
        for (std::size_t i = 0; i < std::size(kSavedStageStates); ++i)
            device_->SetTextureStageState(0, kSavedStageStates[i], saved_.stage[i]);
        device_->SetTextureStageState(1, D3DTSS_COLOROP, saved_.stage1ColourOp);
        device_->SetTextureStageState(1, D3DTSS_ALPHAOP, saved_.stage1AlphaOp);
        for (std::size_t i = 0; i < std::size(kSavedSamplerStates); ++i)
            device_->SetSamplerState(0, kSavedSamplerStates[i], saved_.sampler[i]);
        device_->SetTexture(0, saved_.texture);
        if (saved_.texture != nullptr) saved_.texture->Release();
        saved_.texture = nullptr;
        device_->SetFVF(saved_.fvf);
    }

    struct Saved {
        DWORD render[std::size(kSavedRenderStates)] = {};
        DWORD stage[std::size(kSavedStageStates)] = {};
        DWORD stage1ColourOp = 0, stage1AlphaOp = 0;
        DWORD sampler[std::size(kSavedSamplerStates)] = {};
        IDirect3DTexture9* texture = nullptr;
        DWORD fvf = 0;
    };

    IDirect3DDevice9* device_;
    Saved saved_;
    bool begun_ = false;
    std::vector<Quad> queued_;                   // drawn since the last flush, all with queuedTexture_
    IDirect3DTexture9* queuedTexture_ = nullptr;  // holds a reference while quads wait
    std::vector<SpriteVertex> list_;             // the triangles of a flush, kept to reuse its memory
};

}  // namespace

HRESULT D3DXCreateSprite(IDirect3DDevice9* device, ID3DXSprite** sprite)
{
    if (sprite != nullptr) *sprite = nullptr;
    if (device == nullptr || sprite == nullptr) return D3DERR_INVALIDCALL;
    *sprite = new Sprite(device);
    return D3D_OK;
}
