// The Direct3D 9 style device on OpenGL 3.3 core (or OpenGL ES 3.0): the
// front end. It keeps the device state, records immediate draws into
// batches and hands GPU work to its back end (GlBackend), which owns the GL
// objects and applies only the GL state that changed.
//
// Drawing model: every immediate draw is converted into one canonical vertex
// layout and appended to the open batch. The batch carries a packed key of
// everything that affects how it is drawn (transforms, material, light, the
// render, stage and sampler states in use, the texture and its version, the
// vertex format's features and the primitive class). A draw whose key
// differs from the open batch's flushes it first; the key is rebuilt only
// after a Set* call changed something, so a long run of draws under one
// state costs a copy of its vertices and nothing else.
#include "platform/gl/GlDevice.h"

#include <SDL.h>
#include <epoxy/gl.h>

#include <algorithm>
#include <cmath>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "common/Log.h"
#include "platform/d3d9/DeviceState.h"
#include "platform/d3d9/DeviceSurface.h"
#include "platform/gl/GlBackend.h"
#include "platform/gl/GlContext.h"
#include "platform/gl/GlDrawKey.h"
#include "platform/gl/PrimitiveLists.h"
#include "platform/d3d9/Matrices.h"
#include "platform/d3d9/MemoryBuffer.h"
#include "platform/d3d9/MemoryTexture.h"
#include "platform/system/messages.h"

namespace {

constexpr std::size_t kMaxBatchVertices = 1u << 17;  // about 5.8 MB of vertices per GPU draw

class GlDevice final : public StateKeepingDevice, private GpuTextureCache, private GpuBufferCache {
public:
    static GlDevice* Create(SDL_Window* window, const D3DPRESENT_PARAMETERS& params, const GlDeviceOptions& options);

    HRESULT TestCooperativeLevel() override { return cooperative_; }
    HRESULT Reset(D3DPRESENT_PARAMETERS* params) override;
    HRESULT Present(const RECT* source, const RECT* dest, HWND overrideWindow, const void* dirtyRegion) override;
    HRESULT GetBackBuffer(UINT swapChain, UINT index, D3DBACKBUFFER_TYPE type, IDirect3DSurface9** surface) override;
    HRESULT GetDepthStencilSurface(IDirect3DSurface9** surface) override;
    HRESULT BeginScene() override;
    HRESULT EndScene() override;
    HRESULT Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR colour, float z, DWORD stencil) override;
    HRESULT DrawPrimitiveUP(D3DPRIMITIVETYPE type, UINT primitiveCount, const void* vertices, UINT stride) override;
    HRESULT DrawIndexedPrimitiveUP(D3DPRIMITIVETYPE type, UINT minVertexIndex, UINT vertexCount, UINT primitiveCount,
                                   const void* indices, D3DFORMAT indexFormat, const void* vertices,
                                   UINT stride) override;
    HRESULT DrawPrimitive(D3DPRIMITIVETYPE type, UINT startVertex, UINT primitiveCount) override;
    HRESULT DrawIndexedPrimitive(D3DPRIMITIVETYPE type, INT baseVertexIndex, UINT minVertexIndex, UINT vertexCount,
                                 UINT startIndex, UINT primitiveCount) override;
    bool ReadBackBuffer(std::vector<std::uint8_t>& rgb, UINT& width, UINT& height) override;
    DeviceFrameStats LastFrameStats() const override { return lastStats_; }
    void SimulateLoss(HRESULT presentResult, HRESULT cooperative) override
    {
        pendingPresentResult_ = presentResult;
        cooperative_ = cooperative;
    }

protected:
    ~GlDevice() override;
    void OnStateChanged() override { keyStale_ = true; }

private:
    GlDevice(SDL_Window* window, const GlDeviceOptions& options) : window_(window), options_(options) {}
    bool Init(const D3DPRESENT_PARAMETERS& params);
    void MakeCurrent();
    void Forget(MemoryTexture* texture) override;
    // From now on the texture tells this device before it dies.
    void Adopt(MemoryTexture* texture);
    void Forget(BufferBytes* buffer) override;
    // Hands a draw from the bound buffers to the back end.
    HRESULT DrawFromBuffers(D3DPRIMITIVETYPE type, const GlBackend::BufferDraw& draw, UINT primitiveCount);

    void RefreshKey(PrimitiveClass primitiveClass, bool instanced = false, bool fromBuffers = false);
    void BeginBatch(PrimitiveClass primitiveClass, std::size_t incoming);
    void Flush();
    void Decode(const std::uint8_t* source, GpuVertex& out) const;
    void AfterDraw(D3DPRIMITIVETYPE type, UINT primitiveCount);
    // Issues a clear that was held back, unless the back buffer holds it already.
    void ResolveClear();
    // Before anything is drawn: the back buffer stops being one plain colour.
    void BeforeDrawing();

    SDL_Window* window_;
    GlDeviceOptions options_;
    SDL_GLContext context_ = nullptr;
    D3DPRESENT_PARAMETERS params_{};
    // Declared before the back end, which counts into it.
    DeviceFrameStats frameStats_;
    DeviceFrameStats lastStats_;
    std::unique_ptr<GlBackend> backend_;

    // The open batch: kMaxBatchVertices slots, batchCount_ of them filled.
    std::unique_ptr<GpuVertex[]> batch_;
    std::size_t batchCount_ = 0;
    DrawKey batchKey_{};
    bool batchOpen_ = false;
    // The key of the current state; valid while keyStale_ is false.
    DrawKey key_{};
    bool keyStale_ = true;
    VertexLayout layout_{};
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

    std::uint32_t presents_ = 0;  // every Present, lost ones included
    bool inScene_ = false;
    HRESULT pendingPresentResult_ = D3D_OK;
    HRESULT cooperative_ = D3D_OK;
    int drawableWidth_ = 0;
    int drawableHeight_ = 0;
};

// ---------------------------------------------------------------------------
// Creation


GlDevice* GlDevice::Create(SDL_Window* window, const D3DPRESENT_PARAMETERS& params, const GlDeviceOptions& options)
{
    auto* device = new GlDevice(window, options);
    if (!device->Init(params)) {
        device->Release();
        return nullptr;
    }
    return device;
}

bool GlDevice::Init(const D3DPRESENT_PARAMETERS& params)
{
    bool gles = false;
    if (!CreateGlContext(window_, context_, gles)) return false;
    SDL_GL_MakeCurrent(window_, context_);
    LogLine("graphics", "OpenGL %s on %s", reinterpret_cast<const char*>(glGetString(GL_VERSION)),
            reinterpret_cast<const char*>(glGetString(GL_RENDERER)));
    params_ = params;
    const UINT width = params.BackBufferWidth != 0 ? params.BackBufferWidth : 640;
    const UINT height = params.BackBufferHeight != 0 ? params.BackBufferHeight : 480;
    backend_ = std::make_unique<GlBackend>(*static_cast<GpuTextureCache*>(this), *static_cast<GpuBufferCache*>(this),
                                           frameStats_, options_.skipUnchangedState);
    if (!backend_->Init(width, height, gles)) return false;
    batch_ = std::make_unique_for_overwrite<GpuVertex[]>(kMaxBatchVertices);

    SDL_GL_SetSwapInterval(params.PresentationInterval == D3DPRESENT_INTERVAL_ONE ? 1 : 0);
    SDL_GL_GetDrawableSize(window_, &drawableWidth_, &drawableHeight_);
    RestoreDefaults(width, height, params.EnableAutoDepthStencil != FALSE);
    return true;
}

GlDevice::~GlDevice()
{
    if (context_ != nullptr) {
        MakeCurrent();
        backend_.reset();
        SDL_GL_MakeCurrent(window_, nullptr);
        SDL_GL_DeleteContext(context_);
    }
}

void GlDevice::MakeCurrent()
{
    if (SDL_GL_GetCurrentContext() != context_) SDL_GL_MakeCurrent(window_, context_);
}

void GlDevice::Forget(MemoryTexture* texture)
{
    // Draws queued with this texture go out while it still exists.
    if (batchOpen_ && batchKey_.texture == texture) Flush();
    if (backend_ == nullptr) return;
    MakeCurrent();
    backend_->DropTexture(texture);
    keyStale_ = true;
}

void GlDevice::Forget(BufferBytes* buffer)
{
    if (backend_ == nullptr) return;
    MakeCurrent();
    backend_->DropBuffer(buffer);
}

// ---------------------------------------------------------------------------
// Device calls

HRESULT GlDevice::Reset(D3DPRESENT_PARAMETERS* params)
{
    if (params == nullptr) return D3DERR_INVALIDCALL;
    MakeCurrent();
    batchCount_ = 0;
    batchOpen_ = false;
    const UINT width = params->BackBufferWidth != 0 ? params->BackBufferWidth : 640;
    const UINT height = params->BackBufferHeight != 0 ? params->BackBufferHeight : 480;
    if (width > 8192 || height > 8192) return D3DERR_INVALIDCALL;
    if (!backend_->Reset(width, height)) return D3DERR_OUTOFVIDEOMEMORY;
    params_ = *params;
    SDL_GL_SetSwapInterval(params_.PresentationInterval == D3DPRESENT_INTERVAL_ONE ? 1 : 0);
    RestoreDefaults(backend_->Width(), backend_->Height(), params_.EnableAutoDepthStencil != FALSE);
    pendingPresentResult_ = D3D_OK;
    cooperative_ = D3D_OK;
    inScene_ = false;
    frameStats_ = DeviceFrameStats{};  // a reset starts a new frame
    heldClear_ = backBuffer_ = onScreen_ = PlainImage{};
    SDL_GL_GetDrawableSize(window_, &drawableWidth_, &drawableHeight_);
    return D3D_OK;
}

HRESULT GlDevice::GetBackBuffer(UINT swapChain, UINT index, D3DBACKBUFFER_TYPE, IDirect3DSurface9** surface)
{
    if (surface == nullptr) return D3DERR_INVALIDCALL;
    *surface = nullptr;
    if (swapChain != 0 || index != 0) return D3DERR_INVALIDCALL;
    *surface = new DeviceSurface(D3DSURFACE_DESC{D3DFMT_X8R8G8B8, 0, D3DPOOL_DEFAULT, backend_->Width(), backend_->Height()});
    return D3D_OK;
}

HRESULT GlDevice::GetDepthStencilSurface(IDirect3DSurface9** surface)
{
    if (surface == nullptr) return D3DERR_INVALIDCALL;
    *surface = new DeviceSurface(D3DSURFACE_DESC{D3DFMT_D16, 0, D3DPOOL_DEFAULT, backend_->Width(), backend_->Height()});
    return D3D_OK;
}

HRESULT GlDevice::BeginScene()
{
    if (inScene_) return D3DERR_INVALIDCALL;
    inScene_ = true;
    return D3D_OK;
}

HRESULT GlDevice::EndScene()
{
    if (!inScene_) return D3DERR_INVALIDCALL;
    inScene_ = false;
    Flush();
    return D3D_OK;
}

HRESULT GlDevice::Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR colour, float z, DWORD)
{
    Flush();
    const D3DVIEWPORT9& vp = state_.viewport;
    const bool whole = (count == 0 || rects == nullptr) && vp.X == 0 && vp.Y == 0 && vp.Width == backend_->Width() &&
                       vp.Height == backend_->Height() && flags == (D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER);
    if (whole) {
        // Held back until something is drawn, the frame is read or presented.
        heldClear_ = PlainImage{true, colour, z};
        return D3D_OK;
    }
    ResolveClear();
    backBuffer_.valid = false;
    MakeCurrent();
    backend_->Clear(count, rects, flags, colour, z, state_.viewport);
    return D3D_OK;
}

void GlDevice::ResolveClear()
{
    if (!heldClear_.valid) return;
    const PlainImage clear = heldClear_;
    heldClear_.valid = false;
    if (clear.Same(backBuffer_)) return;
    MakeCurrent();
    backend_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, clear.colour, clear.z, state_.viewport);
    backBuffer_ = clear;
}

void GlDevice::BeforeDrawing()
{
    ResolveClear();
    backBuffer_.valid = false;
}

HRESULT GlDevice::Present(const RECT*, const RECT*, HWND, const void*)
{
    Flush();
    lastStats_ = frameStats_;
    lastStats_.presentCount = ++presents_;
    frameStats_ = DeviceFrameStats{};
    if (pendingPresentResult_ != D3D_OK) {
        HRESULT result = pendingPresentResult_;
        pendingPresentResult_ = D3D_OK;
        return result;
    }
    MakeCurrent();
    int dw = 0, dh = 0;
    SDL_GL_GetDrawableSize(window_, &dw, &dh);
    const bool sameSize = dw == drawableWidth_ && dh == drawableHeight_;
    ResolveClear();
    // NOTE: once a second the window gets the image anyway, in case the
    // system lost what it showed (an uncovered window).
    if (sameSize && backBuffer_.Same(onScreen_) && presentsSkipped_ < 20) {
        ++presentsSkipped_;
        return D3D_OK;
    }
    presentsSkipped_ = 0;
    backend_->Blit(dw, dh);
    SDL_GL_SwapWindow(window_);
    backend_->AfterSwap();
    onScreen_ = backBuffer_;

    // A window whose size changed reports a lost device once, so that the
    // render device runs its recovery.
    if (dw != drawableWidth_ || dh != drawableHeight_) {
        drawableWidth_ = dw;
        drawableHeight_ = dh;
        cooperative_ = D3DERR_DEVICENOTRESET;
        return D3DERR_DEVICELOST;
    }
    return D3D_OK;
}

bool GlDevice::ReadBackBuffer(std::vector<std::uint8_t>& rgb, UINT& width, UINT& height)
{
    Flush();
    ResolveClear();
    MakeCurrent();
    return backend_->ReadBack(rgb, width, height);
}

// ---------------------------------------------------------------------------
// Batching

void GlDevice::RefreshKey(PrimitiveClass primitiveClass, bool instanced, bool fromBuffers)
{
    if (!keyStale_) {
        key_.primitiveClass = primitiveClass;
        key_.instanced = instanced;
        SetPointFields(key_, state_, layout_, fromBuffers);
        if (key_.texture != nullptr) key_.textureVersion = key_.texture->Version();
        return;
    }
    keyStale_ = false;
    layout_ = DescribeFvf(state_.fvf);
    BuildDrawKey(key_, state_, layout_, primitiveClass, instanced, fromBuffers);
}

void GlDevice::BeginBatch(PrimitiveClass primitiveClass, std::size_t incoming)
{
    BeforeDrawing();
    const bool wasStale = keyStale_;
    RefreshKey(primitiveClass);
    if (batchOpen_) {
        const bool sameKey = !wasStale && batchKey_.primitiveClass == primitiveClass &&
                                     batchKey_.texture == key_.texture &&
                                     batchKey_.textureVersion == key_.textureVersion
                                 ? true
                                 : SameKey(batchKey_, key_);
        if (!sameKey || batchCount_ + incoming > kMaxBatchVertices) Flush();
    }
    if (!batchOpen_) {
        batchKey_ = key_;
        batchOpen_ = true;
        // From now on the texture tells this device before it dies.
        if (batchKey_.texture != nullptr) Adopt(batchKey_.texture);
    }
}

void GlDevice::Adopt(MemoryTexture* texture)
{
    if (texture->gpu.cache == static_cast<GpuTextureCache*>(this)) return;
    backend_->Adopt(texture);
}

void GlDevice::Decode(const std::uint8_t* source, GpuVertex& out) const
{
    const VertexLayout& l = layout_;
    float position[4] = {0.0f, 0.0f, 0.0f, 1.0f};
    std::memcpy(position, source, static_cast<std::size_t>(std::min(l.positionFloats, 4)) * 4);
    if (!l.pretransformed) position[3] = 1.0f;
    std::memcpy(out.position, position, sizeof position);
    if (l.normalOffset >= 0)
        std::memcpy(out.normal, source + l.normalOffset, 12);
    else
        out.normal[0] = out.normal[1] = out.normal[2] = 0.0f;
    if (l.diffuseOffset >= 0)
        std::memcpy(&out.diffuse, source + l.diffuseOffset, 4);
    else
        out.diffuse = 0xFFFFFFFFu;
    if (l.specularOffset >= 0)
        std::memcpy(&out.specular, source + l.specularOffset, 4);
    else
        out.specular = 0;
    if (l.texOffset >= 0)
        std::memcpy(out.texCoord, source + l.texOffset, 8);
    else
        out.texCoord[0] = out.texCoord[1] = 0.0f;
}


void GlDevice::AfterDraw(D3DPRIMITIVETYPE type, UINT primitiveCount)
{
    ++frameStats_.immediateCalls;
    if (ClassOf(type) == kTriangles) frameStats_.triangles += primitiveCount;
    if (!options_.batching) Flush();
}

HRESULT GlDevice::DrawPrimitiveUP(D3DPRIMITIVETYPE type, UINT primitiveCount, const void* vertices, UINT stride)
{
    const UINT count = VerticesForPrimitives(type, primitiveCount);
    const UINT listLength = ListLength(type, primitiveCount);
    // NOTE: one call may not exceed what one batch holds (43 690 triangles).
    if (vertices == nullptr || count == 0 || listLength > kMaxBatchVertices) return D3DERR_INVALIDCALL;
    BeginBatch(ClassOf(type), listLength);
    if (stride < layout_.size || layout_.positionFloats == 0) return D3DERR_INVALIDCALL;

    const auto* bytes = static_cast<const std::uint8_t*>(vertices);
    if (decoded_.size() < count) decoded_.resize(count);
    for (UINT i = 0; i < count; ++i) Decode(bytes + static_cast<std::size_t>(i) * stride, decoded_[i]);
    GpuVertex* out = batch_.get() + batchCount_;
    batchCount_ += listLength;
    ExpandToList(type, primitiveCount, [&](UINT i) { *out++ = decoded_[i]; });
    AfterDraw(type, primitiveCount);
    return D3D_OK;
}

HRESULT GlDevice::DrawIndexedPrimitiveUP(D3DPRIMITIVETYPE type, UINT minVertexIndex, UINT vertexCount,
                                         UINT primitiveCount, const void* indices, D3DFORMAT indexFormat,
                                         const void* vertices, UINT stride)
{
    const UINT count = VerticesForPrimitives(type, primitiveCount);
    if (vertices == nullptr || indices == nullptr || count == 0 ||
        ListLength(type, primitiveCount) > kMaxBatchVertices)
        return D3DERR_INVALIDCALL;
    if (indexFormat != D3DFMT_INDEX16 && indexFormat != D3DFMT_INDEX32) return D3DERR_INVALIDCALL;
    const UINT limit = minVertexIndex + vertexCount;
    auto indexAt = [&](UINT i) -> UINT {
        return indexFormat == D3DFMT_INDEX16 ? static_cast<const std::uint16_t*>(indices)[i]
                                             : static_cast<const std::uint32_t*>(indices)[i];
    };
    for (UINT i = 0; i < count; ++i)
        if (indexAt(i) >= limit) return D3DERR_INVALIDCALL;  // an index past the vertices given

    const UINT listLength = ListLength(type, primitiveCount);
    BeginBatch(ClassOf(type), listLength);
    if (stride < layout_.size || layout_.positionFloats == 0) return D3DERR_INVALIDCALL;
    const auto* bytes = static_cast<const std::uint8_t*>(vertices);
    GpuVertex* out = batch_.get() + batchCount_;
    batchCount_ += listLength;
    ExpandToList(type, primitiveCount,
                 [&](UINT i) { Decode(bytes + static_cast<std::size_t>(indexAt(i)) * stride, *out++); });
    AfterDraw(type, primitiveCount);
    return D3D_OK;
}

void GlDevice::Flush()
{
    if (!batchOpen_) return;
    batchOpen_ = false;
    if (batchCount_ == 0) return;
    MakeCurrent();
    backend_->DrawBatch(batchKey_, batch_.get(), batchCount_);
    batchCount_ = 0;
}

HRESULT GlDevice::DrawFromBuffers(D3DPRIMITIVETYPE type, const GlBackend::BufferDraw& draw, UINT primitiveCount)
{
    Flush();
    BeforeDrawing();
    MakeCurrent();
    RefreshKey(ClassOf(type), draw.instanced, true);
    if (layout_.positionFloats == 0 || streams_[0].stride < layout_.size) return D3DERR_INVALIDCALL;
    backend_->DrawBuffers(key_, layout_, streams_, draw);
    if (ClassOf(type) == kTriangles) frameStats_.triangles += primitiveCount * draw.instances;
    return D3D_OK;
}

HRESULT GlDevice::DrawPrimitive(D3DPRIMITIVETYPE type, UINT startVertex, UINT primitiveCount)
{
    const UINT count = VerticesForPrimitives(type, primitiveCount);
    if (count == 0 || !StreamsCover(startVertex, count)) return D3DERR_INVALIDCALL;
    GlBackend::BufferDraw draw;
    draw.instances = InstanceCount();
    if (draw.instances == 0) return D3DERR_INVALIDCALL;
    draw.type = type;
    draw.instanced = (streams_[0].frequency & D3DSTREAMSOURCE_INDEXEDDATA) != 0;
    draw.firstVertex = startVertex;
    draw.count = count;
    draw.countedVertices = count * draw.instances;
    return DrawFromBuffers(type, draw, primitiveCount);
}

HRESULT GlDevice::DrawIndexedPrimitive(D3DPRIMITIVETYPE type, INT baseVertexIndex, UINT minVertexIndex,
                                       UINT vertexCount, UINT startIndex, UINT primitiveCount)
{
    const UINT count = VerticesForPrimitives(type, primitiveCount);
    const std::int64_t first = static_cast<std::int64_t>(baseVertexIndex) + minVertexIndex;
    if (count == 0 || indices_ == nullptr || first < 0 || baseVertexIndex < 0) return D3DERR_INVALIDCALL;
    if (static_cast<std::uint64_t>(startIndex) + count > indices_->Size() / indices_->IndexSize())
        return D3DERR_INVALIDCALL;
    if (!StreamsCover(static_cast<UINT>(first), vertexCount)) return D3DERR_INVALIDCALL;
    GlBackend::BufferDraw draw;
    draw.instances = InstanceCount();
    if (draw.instances == 0) return D3DERR_INVALIDCALL;
    draw.type = type;
    draw.instanced = (streams_[0].frequency & D3DSTREAMSOURCE_INDEXEDDATA) != 0;
    // NOTE: GLES 3.0 has no base-vertex draws; stream 0 starts at the base vertex instead.
    draw.firstVertex = static_cast<UINT>(baseVertexIndex);
    draw.count = count;
    draw.indices = indices_;
    draw.indexSize = indices_->IndexSize();
    draw.startIndex = startIndex;
    draw.minIndex = minVertexIndex;
    draw.vertexCount = vertexCount;
    draw.countedVertices = vertexCount * draw.instances;
    return DrawFromBuffers(type, draw, primitiveCount);
}

// ---------------------------------------------------------------------------

class GlDirect3D9 final : public IDirect3D9 {
public:
    explicit GlDirect3D9(const GlDeviceOptions& options) : options_(options) {}

    HRESULT CreateDevice(UINT adapter, D3DDEVTYPE, HWND focusWindow, DWORD, D3DPRESENT_PARAMETERS* params,
                         IDirect3DDevice9** device) override
    {
        if (device == nullptr || params == nullptr || adapter != 0) return D3DERR_INVALIDCALL;
        *device = nullptr;
        // Every device type is the same OpenGL device; one that failed fails again.
        if (failed_) return D3DERR_NOTAVAILABLE;
        HWND window = params->hDeviceWindow != nullptr ? params->hDeviceWindow : focusWindow;
        if (window == nullptr || window->nativeWindow == nullptr) {
            LogLine("graphics", "cannot create the graphics device: no window to draw in");
            failed_ = true;
            return D3DERR_INVALIDCALL;
        }
        GlDevice* created = GlDevice::Create(static_cast<SDL_Window*>(window->nativeWindow), *params, options_);
        if (created == nullptr) {
            LogLine("graphics", "cannot create the graphics device on OpenGL");
            failed_ = true;
            return D3DERR_NOTAVAILABLE;
        }
        *device = created;
        return D3D_OK;
    }

private:
    GlDeviceOptions options_;
    bool failed_ = false;
};

}  // namespace

// NOTE: Mesa's software rasteriser takes fresh vertex storage for every
// draw, several megabytes for a frame of crystals and sparks. With glibc's
// default trimming the heap gives that memory back after each draw and the
// kernel maps and zero-fills it again for the next, which cost about 40 % of
// a full frame's CPU time. Keeping freed memory at the top of the heap lets
// it be reused.
static void KeepFreedMemoryForReuse()
{
#ifdef __GLIBC__
    static const bool tuned = mallopt(M_TRIM_THRESHOLD, 256 * 1024 * 1024) != 0;
    (void)tuned;
#endif
}

IDirect3D9* GlDirect3DCreate9WithOptions(UINT sdkVersion, const GlDeviceOptions& options)
{
    if (sdkVersion != D3D_SDK_VERSION) return nullptr;
    KeepFreedMemoryForReuse();
    return new GlDirect3D9(options);
}

IDirect3D9* GlDirect3DCreate9(UINT sdkVersion) { return GlDirect3DCreate9WithOptions(sdkVersion, GlDeviceOptions{}); }
