// The OpenGL back end of the device: context, batches, held-back clears.
#include "platform/gl/GlDeviceBackEnd.h"

#include <epoxy/gl.h>

#include <algorithm>
#include <cstring>

#include "common/Log.h"
#include "platform/gl/GlContext.h"
#include "platform/gl/PrimitiveLists.h"

namespace {

constexpr std::size_t kMaxBatchVertices = 1u << 17;  // about 5.8 MB of vertices per GPU draw

// One vertex of the format in force in the batch's layout.
void Decode(const VertexLayout& l, const std::uint8_t* source, GpuVertex& out)
{
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

}  // namespace

// ---------------------------------------------------------------------------
// Creation

std::unique_ptr<GlDeviceBackEnd> GlDeviceBackEnd::Create(SDL_Window* window, const D3DPRESENT_PARAMETERS& params,
                                                         const GlDeviceOptions& options)
{
    std::unique_ptr<GlDeviceBackEnd> backEnd(new GlDeviceBackEnd(window, options));
    if (!backEnd->Init(params)) return nullptr;
    return backEnd;
}

bool GlDeviceBackEnd::Init(const D3DPRESENT_PARAMETERS& params)
{
    bool gles = false;
    if (!CreateGlContext(window_, context_, gles)) return false;
    SDL_GL_MakeCurrent(window_, context_);
    LogLine("graphics", "OpenGL %s on %s", reinterpret_cast<const char*>(glGetString(GL_VERSION)),
            reinterpret_cast<const char*>(glGetString(GL_RENDERER)));
    const UINT width = LogicalWidth(params);
    const UINT height = LogicalHeight(params);
    backend_ = std::make_unique<GlBackend>(*static_cast<GpuTextureCache*>(this), *static_cast<GpuBufferCache*>(this),
                                           frameStats_, options_.skipUnchangedState);
    if (!backend_->Init(width, height, gles)) return false;
    batch_ = std::make_unique_for_overwrite<GpuVertex[]>(kMaxBatchVertices);

    SDL_GL_SetSwapInterval(params.PresentationInterval == D3DPRESENT_INTERVAL_ONE ? 1 : 0);
    SDL_GL_GetDrawableSize(window_, &drawableWidth_, &drawableHeight_);
    return true;
}

GlDeviceBackEnd::~GlDeviceBackEnd()
{
    if (context_ != nullptr) {
        MakeCurrent();
        backend_.reset();
        SDL_GL_MakeCurrent(window_, nullptr);
        SDL_GL_DeleteContext(context_);
    }
}

void GlDeviceBackEnd::MakeCurrent()
{
    if (SDL_GL_GetCurrentContext() != context_) SDL_GL_MakeCurrent(window_, context_);
}

void GlDeviceBackEnd::Forget(MemoryTexture* texture)
{
    // Draws queued with this texture go out while it still exists.
    if (batchOpen_ && batchKey_.texture == texture) Flush();
    if (backend_ == nullptr) return;
    MakeCurrent();
    backend_->DropTexture(texture);
    keyStale_ = true;
}

void GlDeviceBackEnd::Forget(BufferBytes* buffer)
{
    if (backend_ == nullptr) return;
    MakeCurrent();
    backend_->DropBuffer(buffer);
}

// ---------------------------------------------------------------------------
// Frames

HRESULT GlDeviceBackEnd::Reset(UINT width, UINT height, const D3DPRESENT_PARAMETERS& params)
{
    MakeCurrent();
    batchCount_ = 0;
    batchOpen_ = false;
    if (!backend_->Reset(width, height)) return D3DERR_OUTOFVIDEOMEMORY;
    SDL_GL_SetSwapInterval(params.PresentationInterval == D3DPRESENT_INTERVAL_ONE ? 1 : 0);
    heldClear_ = backBuffer_ = onScreen_ = PlainImage{};
    SDL_GL_GetDrawableSize(window_, &drawableWidth_, &drawableHeight_);
    return D3D_OK;
}

void GlDeviceBackEnd::Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR colour, float z,
                            const D3DVIEWPORT9& vp)
{
    const bool whole = (count == 0 || rects == nullptr) && vp.X == 0 && vp.Y == 0 && vp.Width == backend_->Width() &&
                       vp.Height == backend_->Height() && flags == (D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER);
    if (whole) {
        // Held back until something is drawn, the frame is read or presented.
        heldClear_ = PlainImage{true, colour, z};
        return;
    }
    ResolveClear();
    backBuffer_.valid = false;
    MakeCurrent();
    backend_->Clear(count, rects, flags, colour, z, vp);
}

void GlDeviceBackEnd::ResolveClear()
{
    if (!heldClear_.valid) return;
    const PlainImage clear = heldClear_;
    heldClear_.valid = false;
    if (clear.Same(backBuffer_)) return;
    MakeCurrent();
    // The held clear covered the whole back buffer.
    D3DVIEWPORT9 whole{0, 0, backend_->Width(), backend_->Height(), 0.0f, 1.0f};
    backend_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, clear.colour, clear.z, whole);
    backBuffer_ = clear;
}

void GlDeviceBackEnd::BeforeDrawing()
{
    ResolveClear();
    backBuffer_.valid = false;
}

HRESULT GlDeviceBackEnd::Present()
{
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
        return D3DERR_DEVICELOST;
    }
    return D3D_OK;
}

bool GlDeviceBackEnd::ReadBackBuffer(std::vector<std::uint8_t>& rgb, UINT& width, UINT& height)
{
    ResolveClear();
    MakeCurrent();
    return backend_->ReadBack(rgb, width, height);
}

// ---------------------------------------------------------------------------
// Draws

void GlDeviceBackEnd::RefreshKey(const DeviceState& state, const VertexLayout& layout, PrimitiveClass primitiveClass,
                                 bool instanced, bool fromBuffers)
{
    if (!keyStale_) {
        key_.primitiveClass = primitiveClass;
        key_.instanced = instanced;
        SetPointFields(key_, state, layout, fromBuffers);
        if (key_.texture != nullptr) key_.textureVersion = key_.texture->Version();
        return;
    }
    keyStale_ = false;
    BuildDrawKey(key_, state, layout, primitiveClass, instanced, fromBuffers);
}

void GlDeviceBackEnd::BeginBatch(const DeviceState& state, const VertexLayout& layout, PrimitiveClass primitiveClass,
                                 std::size_t incoming)
{
    BeforeDrawing();
    const bool wasStale = keyStale_;
    RefreshKey(state, layout, primitiveClass);
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
        // From now on the texture tells this back end before it dies.
        if (batchKey_.texture != nullptr) backend_->Adopt(batchKey_.texture);
    }
}

HRESULT GlDeviceBackEnd::Draw(const DeviceDraw& draw, const DeviceState& state, const VertexLayout& layout)
{
    return draw.fromBuffers ? DrawFromBuffers(draw, state, layout) : DrawImmediate(draw, state, layout);
}

HRESULT GlDeviceBackEnd::DrawImmediate(const DeviceDraw& draw, const DeviceState& state, const VertexLayout& layout)
{
    const UINT listLength = ListLength(draw.type, draw.primitiveCount);
    // NOTE: one call may not exceed what one batch holds (43 690 triangles).
    if (listLength > kMaxBatchVertices) return D3DERR_INVALIDCALL;
    BeginBatch(state, layout, ClassOf(draw.type), listLength);
    GpuVertex* out = batch_.get() + batchCount_;
    batchCount_ += listLength;
    if (draw.indexSize != 0) {
        ExpandToList(draw.type, draw.primitiveCount, [&](UINT i) {
            Decode(layout, draw.vertices + static_cast<std::size_t>(draw.IndexAt(i)) * draw.stride, *out++);
        });
    } else {
        if (decoded_.size() < draw.count) decoded_.resize(draw.count);
        for (UINT i = 0; i < draw.count; ++i)
            Decode(layout, draw.vertices + static_cast<std::size_t>(i) * draw.stride, decoded_[i]);
        ExpandToList(draw.type, draw.primitiveCount, [&](UINT i) { *out++ = decoded_[i]; });
    }
    if (!options_.batching) Flush();
    return D3D_OK;
}

void GlDeviceBackEnd::Flush()
{
    if (!batchOpen_) return;
    batchOpen_ = false;
    if (batchCount_ == 0) return;
    MakeCurrent();
    backend_->DrawBatch(batchKey_, batch_.get(), batchCount_);
    batchCount_ = 0;
}

HRESULT GlDeviceBackEnd::DrawFromBuffers(const DeviceDraw& draw, const DeviceState& state, const VertexLayout& layout)
{
    Flush();
    BeforeDrawing();
    MakeCurrent();
    RefreshKey(state, layout, ClassOf(draw.type), draw.instanced, true);
    backend_->DrawBuffers(key_, layout, draw);
    return D3D_OK;
}
