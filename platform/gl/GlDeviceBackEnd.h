// The OpenGL back end of the Direct3D 9 style device: it owns the GL
// context, batches immediate draws and hands GPU work to GlBackend, which
// owns the GL objects and applies only the GL state that changed.
//
// Drawing model: every immediate draw is converted into one canonical vertex
// layout and appended to the open batch. The batch carries a packed key of
// everything that affects how it is drawn (GlDrawKey.h). A draw whose key
// differs from the open batch's flushes it first; the key is rebuilt only
// after a Set* call changed something, so a long run of draws under one
// state costs a copy of its vertices and nothing else.
//
// For gl/ alone: it includes SDL's and libepoxy's headers.
#pragma once

#include <SDL.h>

#include <cstddef>
#include <memory>
#include <vector>

#include "platform/d3d9/DeviceBackEnd.h"
#include "platform/gl/GlBackend.h"
#include "platform/gl/GlDevice.h"
#include "platform/gl/GlDrawKey.h"

class GlDeviceBackEnd final : public DeviceBackEnd, private GpuTextureCache, private GpuBufferCache {
public:
    // A back end with its context on the window, or null (logged).
    static std::unique_ptr<GlDeviceBackEnd> Create(SDL_Window* window, const D3DPRESENT_PARAMETERS& params,
                                                   const GlDeviceOptions& options);
    ~GlDeviceBackEnd() override;

    void StateChanged() override { keyStale_ = true; }
    HRESULT Reset(UINT width, UINT height, const D3DPRESENT_PARAMETERS& params) override;
    void Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR colour, float z,
               const D3DVIEWPORT9& viewport) override;
    HRESULT Draw(const DeviceDraw& draw, const DeviceState& state, const VertexLayout& layout) override;
    void Flush() override;
    HRESULT Present() override;
    bool ReadBackBuffer(std::vector<std::uint8_t>& rgb, UINT& width, UINT& height) override;

private:
    GlDeviceBackEnd(SDL_Window* window, const GlDeviceOptions& options) : window_(window), options_(options) {}
    bool Init(const D3DPRESENT_PARAMETERS& params);
    void MakeCurrent();
    void Forget(MemoryTexture* texture) override;
    void Forget(BufferBytes* buffer) override;

    HRESULT DrawImmediate(const DeviceDraw& draw, const DeviceState& state, const VertexLayout& layout);
    HRESULT DrawFromBuffers(const DeviceDraw& draw, const DeviceState& state, const VertexLayout& layout);
    void RefreshKey(const DeviceState& state, const VertexLayout& layout, PrimitiveClass primitiveClass,
                    bool instanced = false, bool fromBuffers = false);
    void BeginBatch(const DeviceState& state, const VertexLayout& layout, PrimitiveClass primitiveClass,
                    std::size_t incoming);
    // Issues a clear that was held back, unless the back buffer holds it already.
    void ResolveClear();
    // Before anything is drawn: the back buffer stops being one plain colour.
    void BeforeDrawing();

    SDL_Window* window_;
    GlDeviceOptions options_;
    SDL_GLContext context_ = nullptr;
    std::unique_ptr<GlBackend> backend_;

    // The open batch: kMaxBatchVertices slots, batchCount_ of them filled.
    std::unique_ptr<GpuVertex[]> batch_;
    std::size_t batchCount_ = 0;
    DrawKey batchKey_{};
    bool batchOpen_ = false;
    // The key of the current state; valid while keyStale_ is false.
    DrawKey key_{};
    bool keyStale_ = true;
    std::vector<GpuVertex> decoded_;

    // A frame of nothing but a full clear is the same image as the last such
    // frame of the same colour: a listening installation with nothing on
    // screen then costs neither the clear nor the copy to the window.
    struct PlainImage {
        bool valid = false;  // the image is one full clear and nothing else
        D3DCOLOR colour = 0;
        float z = 0.0f;
        bool Same(const PlainImage& o) const { return valid && o.valid && colour == o.colour && z == o.z; }
    };
    PlainImage heldClear_;    // valid: a full clear not yet issued
    PlainImage backBuffer_;   // what the back buffer holds
    PlainImage onScreen_;     // what the window shows
    int presentsSkipped_ = 0;  // in a row; the window is refreshed now and then all the same
    int drawableWidth_ = 0;
    int drawableHeight_ = 0;
};
