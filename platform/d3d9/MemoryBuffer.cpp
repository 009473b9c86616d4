// Locking and change tracking of the CPU-side vertex and index buffers.
#include "platform/d3d9/MemoryBuffer.h"

#include <algorithm>
#include <cstring>
#include <new>

// calloc rather than a zero-filled vector: a large buffer comes zeroed from
// fresh pages that are touched only where written. The crystals' buffer holds
// all sixteen at the ring limit, and filling it cost every start a tenth of
// its CPU.
BufferBytes::BufferBytes(UINT length)
    : bytes_(static_cast<std::uint8_t*>(std::calloc(length > 0 ? length : 1, 1))), size_(length)
{
    if (!bytes_) throw std::bad_alloc();
}

BufferBytes::~BufferBytes()
{
    if (gpu.cache != nullptr) gpu.cache->Forget(this);
}

HRESULT BufferBytes::LockBytes(UINT offset, UINT size, void** data, DWORD flags)
{
    if (data == nullptr) return D3DERR_INVALIDCALL;
    *data = nullptr;
    const UINT length = Size();
    if (locked_ || offset > length) return D3DERR_INVALIDCALL;
    if (size == 0) size = length - offset;
    if (size > length - offset) return D3DERR_INVALIDCALL;
    locked_ = true;
    lockBegin_ = offset;
    lockEnd_ = offset + size;
    lockWrites_ = (flags & D3DLOCK_READONLY) == 0;
    *data = bytes_.get() + offset;
    return D3D_OK;
}

HRESULT BufferBytes::UnlockBytes()
{
    if (!locked_) return D3DERR_INVALIDCALL;
    locked_ = false;
    if (!lockWrites_ || lockEnd_ == lockBegin_) return D3D_OK;
    if (Dirty()) {
        dirtyBegin_ = std::min(dirtyBegin_, lockBegin_);
        dirtyEnd_ = std::max(dirtyEnd_, lockEnd_);
    } else {
        dirtyBegin_ = lockBegin_;
        dirtyEnd_ = lockEnd_;
    }
    return D3D_OK;
}
