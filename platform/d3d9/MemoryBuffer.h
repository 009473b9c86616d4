// The vertex and index buffer objects of both graphics backends.
//
// Bytes live in CPU memory, so buffers survive device resets and work
// without any GPU (the recording device reads them directly). A backend that
// draws for real keeps a GPU copy and, at the next draw that reads the
// buffer, sends only the byte range written since its last upload: a buffer
// filled once is sent once, and a crystal that grows by one ring sends that
// ring. Everything runs on the thread that owns the device.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>

#include "common/NonCopyable.h"
#include "platform/d3d9/GpuCopyCache.h"
#include "platform/d3d9/d3d9.h"

class BufferBytes;
using GpuBufferCache = GpuCopyCache<BufferBytes>;

// The storage and change tracking shared by vertex and index buffers.
class BufferBytes : NonCopyable {
public:
    explicit BufferBytes(UINT length);  // zeroed; throws std::bad_alloc

    UINT Size() const { return size_; }
    const std::uint8_t* Data() const { return bytes_.get(); }
    // The range written since the GPU copy was last brought up to date.
    bool Dirty() const { return dirtyEnd_ > dirtyBegin_; }
    UINT DirtyBegin() const { return dirtyBegin_; }
    UINT DirtyEnd() const { return dirtyEnd_; }
    void MarkClean() { dirtyBegin_ = dirtyEnd_ = 0; }

    // The GPU copy, owned by the cache that made it.
    struct GpuLink {
        GpuBufferCache* cache = nullptr;
        unsigned name = 0;
    };
    GpuLink gpu;

protected:
    ~BufferBytes();
    HRESULT LockBytes(UINT offset, UINT size, void** data, DWORD flags);
    HRESULT UnlockBytes();

private:
    struct Free {
        void operator()(std::uint8_t* bytes) const { std::free(bytes); }
    };
    std::unique_ptr<std::uint8_t[], Free> bytes_;
    UINT size_ = 0;
    UINT lockBegin_ = 0, lockEnd_ = 0;
    bool locked_ = false;
    bool lockWrites_ = false;
    UINT dirtyBegin_ = 0, dirtyEnd_ = 0;
};

// A buffer object of the device: the Direct3D 9 interface over the bytes.
template <typename Interface>
class MemoryBuffer : public Interface, public BufferBytes {
public:
    explicit MemoryBuffer(UINT length) : BufferBytes(length) {}
    HRESULT Lock(UINT offset, UINT size, void** data, DWORD flags) override { return LockBytes(offset, size, data, flags); }
    HRESULT Unlock() override { return UnlockBytes(); }
    UINT Length() const override { return Size(); }

protected:
    ~MemoryBuffer() override = default;
};

class MemoryVertexBuffer final : public MemoryBuffer<IDirect3DVertexBuffer9> {
public:
    explicit MemoryVertexBuffer(UINT length) : MemoryBuffer(length) {}

private:
    ~MemoryVertexBuffer() override = default;
};

class MemoryIndexBuffer final : public MemoryBuffer<IDirect3DIndexBuffer9> {
public:
    MemoryIndexBuffer(UINT length, D3DFORMAT format) : MemoryBuffer(length), format_(format) {}
    D3DFORMAT Format() const override { return format_; }
    UINT IndexSize() const { return format_ == D3DFMT_INDEX32 ? 4u : 2u; }

private:
    ~MemoryIndexBuffer() override = default;
    D3DFORMAT format_;
};
