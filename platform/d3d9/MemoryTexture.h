// The texture object of both graphics backends.
//
// Texels live in CPU memory as A8R8G8B8 (the 32-bit value 0xAARRGGBB per
// texel, so the bytes in memory read B, G, R, A), one array per mip level.
// Textures therefore survive device resets and work without any GPU. A
// backend that draws for real mirrors a texture on the GPU when it is drawn
// after a change: every UnlockRect that may have written bumps Version().
#pragma once

#include <cstdint>
#include <vector>

#include "platform/d3d9/GpuCopyCache.h"
#include "platform/d3d9/d3d9.h"

class MemoryTexture;
using GpuTextureCache = GpuCopyCache<MemoryTexture>;

class MemoryTexture : public IDirect3DTexture9 {
public:
    // levels 0 means the full chain down to 1x1. Sizes of 0 become 1.
    MemoryTexture(UINT width, UINT height, UINT levels, D3DFORMAT format, D3DPOOL pool, DWORD usage);

    UINT GetLevelCount() override;
    HRESULT GetLevelDesc(UINT level, D3DSURFACE_DESC* desc) override;
    HRESULT LockRect(UINT level, D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) override;
    HRESULT UnlockRect(UINT level) override;

    UINT Width(UINT level = 0) const;
    UINT Height(UINT level = 0) const;
    D3DFORMAT Format() const { return format_; }
    // Texels of a level, row-major, top row first, width * 4 bytes per row.
    std::uint32_t* Texels(UINT level) { return levels_[level].data(); }
    const std::uint32_t* Texels(UINT level) const { return levels_[level].data(); }
    std::uint32_t Texel(UINT level, UINT x, UINT y) const { return levels_[level][y * Width(level) + x]; }
    // Changes every time the texels may have changed.
    std::uint64_t Version() const { return version_; }
    // The part of level 0 written since MarkUnchanged, when only level 0 was
    // written and through rectangles: a backend then re-sends just that part
    // (a picture written into one cell of an atlas). False when anything
    // else may have changed, or nothing did.
    bool ChangedRect(RECT& rect) const;
    void MarkUnchanged();

    // Rebuilds levels 1.. from level 0 with a 2x2 box filter.

    // The GPU copy, owned by the cache that made it.
    struct GpuLink {
        GpuTextureCache* cache = nullptr;
        unsigned name = 0;
        std::uint64_t uploadedVersion = ~std::uint64_t{0};
    };
    GpuLink gpu;

    // The number of levels of a full chain for this size.
    static UINT FullChainLength(UINT width, UINT height);

protected:
    ~MemoryTexture() override;

private:
    UINT width_;
    UINT height_;
    D3DFORMAT format_;
    D3DPOOL pool_;
    DWORD usage_;
    std::vector<std::vector<std::uint32_t>> levels_;
    std::vector<bool> locked_;
    std::uint64_t version_ = 1;
    RECT changed_{0, 0, 0, 0};  // level 0 texels written through rectangles
    bool changedElsewhere_ = true;  // a whole-level lock, another level, or new mips
};
