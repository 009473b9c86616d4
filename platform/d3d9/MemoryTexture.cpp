// CPU-side textures shared by the OpenGL and the recording devices.
#include "platform/d3d9/MemoryTexture.h"

#include <algorithm>

UINT MemoryTexture::FullChainLength(UINT width, UINT height)
{
    UINT count = 1;
    while (width > 1 || height > 1) {
        width = std::max(1u, width / 2);
        height = std::max(1u, height / 2);
        ++count;
    }
    return count;
}

MemoryTexture::MemoryTexture(UINT width, UINT height, UINT levels, D3DFORMAT format, D3DPOOL pool, DWORD usage)
    : width_(std::max(1u, width)), height_(std::max(1u, height)), format_(format), pool_(pool), usage_(usage)
{
    UINT full = FullChainLength(width_, height_);
    UINT count = (levels == 0 || levels > full) ? full : levels;
    levels_.resize(count);
    for (UINT i = 0; i < count; ++i) levels_[i].assign(static_cast<std::size_t>(Width(i)) * Height(i), 0u);
    locked_.assign(count, false);
}

MemoryTexture::~MemoryTexture()
{
    if (gpu.cache != nullptr) gpu.cache->Forget(this);
}

UINT MemoryTexture::Width(UINT level) const { return std::max(1u, width_ >> level); }
UINT MemoryTexture::Height(UINT level) const { return std::max(1u, height_ >> level); }

UINT MemoryTexture::GetLevelCount() { return static_cast<UINT>(levels_.size()); }

HRESULT MemoryTexture::GetLevelDesc(UINT level, D3DSURFACE_DESC* desc)
{
    if (desc == nullptr || level >= levels_.size()) return D3DERR_INVALIDCALL;
    desc->Format = format_;
    desc->Usage = usage_;
    desc->Pool = pool_;
    desc->Width = Width(level);
    desc->Height = Height(level);
    return D3D_OK;
}

HRESULT MemoryTexture::LockRect(UINT level, D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags)
{
    if (locked == nullptr || level >= levels_.size() || locked_[level]) return D3DERR_INVALIDCALL;
    LONG left = 0;
    LONG top = 0;
    if (rect != nullptr) {
        // A rectangle outside the level is refused rather than handing out a
        // pointer past the texels.
        if (rect->left < 0 || rect->top < 0 || rect->right > static_cast<LONG>(Width(level)) ||
            rect->bottom > static_cast<LONG>(Height(level)) || rect->left > rect->right || rect->top > rect->bottom)
            return D3DERR_INVALIDCALL;
        left = rect->left;
        top = rect->top;
    }
    locked->Pitch = static_cast<int>(Width(level) * 4);
    locked->pBits = levels_[level].data() + static_cast<std::size_t>(top) * Width(level) + left;
    locked_[level] = true;
    // Counted at lock time so that a reader that compares versions never
    // misses a write made between lock and unlock.
    if ((flags & D3DLOCK_READONLY) == 0) {
        ++version_;
        if (level == 0 && rect != nullptr) {
            if (changed_.right <= changed_.left || changed_.bottom <= changed_.top) {
                changed_ = *rect;
            } else {
                changed_.left = std::min(changed_.left, rect->left);
                changed_.top = std::min(changed_.top, rect->top);
                changed_.right = std::max(changed_.right, rect->right);
                changed_.bottom = std::max(changed_.bottom, rect->bottom);
            }
        } else {
            changedElsewhere_ = true;
        }
    }
    return D3D_OK;
}

bool MemoryTexture::ChangedRect(RECT& rect) const
{
    if (changedElsewhere_ || changed_.right <= changed_.left || changed_.bottom <= changed_.top) return false;
    rect = changed_;
    return true;
}

void MemoryTexture::MarkUnchanged()
{
    changed_ = RECT{0, 0, 0, 0};
    changedElsewhere_ = false;
}

HRESULT MemoryTexture::UnlockRect(UINT level)
{
    if (level >= levels_.size() || !locked_[level]) return D3DERR_INVALIDCALL;
    locked_[level] = false;
    return D3D_OK;
}

