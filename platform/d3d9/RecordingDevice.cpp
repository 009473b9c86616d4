// The recording device: state kept, draws recorded, nothing drawn.
#include "platform/d3d9/RecordingDevice.h"

#include <algorithm>
#include <cstring>

#include "platform/d3d9/DeviceSurface.h"
#include "platform/d3d9/MemoryBuffer.h"

float RecordedDraw::FloatAt(UINT vertex, UINT offset) const
{
    float f = 0.0f;
    std::size_t at = static_cast<std::size_t>(vertex) * stride + offset;
    if (at + sizeof f <= vertices.size()) std::memcpy(&f, vertices.data() + at, sizeof f);
    return f;
}

RecordedDraw RecordedDraw::Instance(UINT k) const
{
    RecordedDraw one = *this;
    one.instanceCount = 1;
    one.instances.clear();
    if (k >= instances.size()) return one;
    const InstanceRecord& r = instances[k];
    const VertexLayout layout = DescribeFvf(fvf);
    for (UINT v = 0; v < one.VertexCount(); ++v) {
        std::uint8_t* at = one.vertices.data() + static_cast<std::size_t>(v) * stride;
        float p[3];
        std::memcpy(p, at, sizeof p);
        p[0] = p[0] * r.scale + r.x;
        p[1] = p[1] * r.scale + r.y;
        p[2] = p[2] * r.scale;
        std::memcpy(at, p, sizeof p);
        if (layout.diffuseOffset >= 0) std::memcpy(at + layout.diffuseOffset, &r.diffuse, sizeof r.diffuse);
    }
    return one;
}

DWORD RecordedDraw::DwordAt(UINT vertex, UINT offset) const
{
    DWORD d = 0;
    std::size_t at = static_cast<std::size_t>(vertex) * stride + offset;
    if (at + sizeof d <= vertices.size()) std::memcpy(&d, vertices.data() + at, sizeof d);
    return d;
}

const D3DMATRIX& RecordedDraw::WorldOf(UINT vertex) const
{
    const VertexLayout layout = DescribeFvf(fvf);
    if (!state->BlendsByIndex() || layout.blendIndexOffset < 0) return state->world;
    const UINT index = DwordAt(vertex, static_cast<UINT>(layout.blendIndexOffset)) & 0xFF;
    static const D3DMATRIX kOutOfRange = {};
    return index < DeviceState::kWorldMatrices ? state->WorldMatrix(index) : kOutOfRange;
}

static void LogicalSize(const D3DPRESENT_PARAMETERS& params, UINT& width, UINT& height)
{
    // A zero size means "the window's size"; the logical screen is 640x480.
    width = params.BackBufferWidth != 0 ? params.BackBufferWidth : 640;
    height = params.BackBufferHeight != 0 ? params.BackBufferHeight : 480;
}

RecordingDevice::RecordingDevice(const D3DPRESENT_PARAMETERS& params) : params_(params)
{
    UINT w, h;
    LogicalSize(params_, w, h);
    RestoreDefaults(w, h, params_.EnableAutoDepthStencil != FALSE);
}

RecordingDevice::~RecordingDevice() = default;

std::shared_ptr<const DeviceState> RecordingDevice::Snapshot()
{
    if (!snapshot_) snapshot_ = std::make_shared<const DeviceState>(state_);
    return snapshot_;
}

HRESULT RecordingDevice::TestCooperativeLevel() { return cooperative_; }

HRESULT RecordingDevice::Reset(D3DPRESENT_PARAMETERS* params)
{
    ++counters_.resets;
    if (params == nullptr) return D3DERR_INVALIDCALL;
    if (resetFailure_ != D3D_OK) {
        HRESULT result = resetFailure_;
        resetFailure_ = D3D_OK;
        return result;
    }
    params_ = *params;
    UINT w, h;
    LogicalSize(params_, w, h);
    RestoreDefaults(w, h, params_.EnableAutoDepthStencil != FALSE);
    cooperative_ = D3D_OK;
    pendingPresentResult_ = D3D_OK;
    inScene_ = false;
    return D3D_OK;
}

HRESULT RecordingDevice::Present(const RECT*, const RECT*, HWND, const void*)
{
    ++counters_.presents;
    lastStats_ = frameStats_;
    lastStats_.presentCount = static_cast<std::uint32_t>(counters_.presents);
    frameStats_ = DeviceFrameStats{};
    HRESULT result = pendingPresentResult_;
    pendingPresentResult_ = D3D_OK;
    return result;
}

HRESULT RecordingDevice::GetBackBuffer(UINT swapChain, UINT index, D3DBACKBUFFER_TYPE, IDirect3DSurface9** surface)
{
    if (surface == nullptr) return D3DERR_INVALIDCALL;
    *surface = nullptr;
    if (swapChain != 0 || index != 0) return D3DERR_INVALIDCALL;
    UINT w, h;
    LogicalSize(params_, w, h);
    *surface = new DeviceSurface(D3DSURFACE_DESC{D3DFMT_X8R8G8B8, 0, D3DPOOL_DEFAULT, w, h});
    return D3D_OK;
}

HRESULT RecordingDevice::GetDepthStencilSurface(IDirect3DSurface9** surface)
{
    if (surface == nullptr) return D3DERR_INVALIDCALL;
    *surface = nullptr;
    if (depthFailure_ != D3D_OK) return depthFailure_;
    if (!params_.EnableAutoDepthStencil) return D3DERR_NOTFOUND;
    UINT w, h;
    LogicalSize(params_, w, h);
    *surface = new DeviceSurface(D3DSURFACE_DESC{D3DFMT_D16, 0, D3DPOOL_DEFAULT, w, h});
    return D3D_OK;
}

HRESULT RecordingDevice::BeginScene()
{
    if (beginSceneFailure_ != D3D_OK) return beginSceneFailure_;
    if (inScene_) return D3DERR_INVALIDCALL;
    inScene_ = true;
    ++counters_.beginScenes;
    return D3D_OK;
}

HRESULT RecordingDevice::EndScene()
{
    if (!inScene_) return D3DERR_INVALIDCALL;
    inScene_ = false;
    ++counters_.endScenes;
    return D3D_OK;
}

HRESULT RecordingDevice::Clear(DWORD, const D3DRECT*, DWORD flags, D3DCOLOR colour, float, DWORD)
{
    ++counters_.clears;
    lastClearFlags_ = flags;
    lastClearColour_ = colour;
    return D3D_OK;
}

void RecordingDevice::CountDraw(D3DPRIMITIVETYPE type, UINT primitiveCount, UINT vertexCount)
{
    ++frameStats_.immediateCalls;
    ++frameStats_.gpuDraws;  // nothing is batched here
    if (type == D3DPT_TRIANGLELIST || type == D3DPT_TRIANGLESTRIP || type == D3DPT_TRIANGLEFAN)
        frameStats_.triangles += primitiveCount;
    frameStats_.vertices += vertexCount;
}

RecordedDraw RecordingDevice::NewDraw(D3DPRIMITIVETYPE type, UINT primitiveCount, UINT stride) const
{
    RecordedDraw draw;
    draw.type = type;
    draw.primitiveCount = primitiveCount;
    draw.stride = stride;
    draw.fvf = state_.fvf;
    return draw;
}

HRESULT RecordingDevice::DrawPrimitiveUP(D3DPRIMITIVETYPE type, UINT primitiveCount, const void* vertices, UINT stride)
{
    UINT count = VerticesForPrimitives(type, primitiveCount);
    if (vertices == nullptr || stride == 0 || count == 0) return D3DERR_INVALIDCALL;
    CountDraw(type, primitiveCount, count);
    if (!recordDraws_) return D3D_OK;
    RecordedDraw draw = NewDraw(type, primitiveCount, stride);
    if (keepVertices_) {
        const auto* bytes = static_cast<const std::uint8_t*>(vertices);
        draw.vertices.assign(bytes, bytes + static_cast<std::size_t>(count) * stride);
    }
    draw.state = Snapshot();
    draws_.push_back(std::move(draw));
    return D3D_OK;
}

HRESULT RecordingDevice::DrawIndexedPrimitiveUP(D3DPRIMITIVETYPE type, UINT, UINT vertexCount, UINT primitiveCount,
                                                const void* indices, D3DFORMAT indexFormat, const void* vertices,
                                                UINT stride)
{
    UINT count = VerticesForPrimitives(type, primitiveCount);
    if (vertices == nullptr || indices == nullptr || stride == 0 || count == 0) return D3DERR_INVALIDCALL;
    if (indexFormat != D3DFMT_INDEX16 && indexFormat != D3DFMT_INDEX32) return D3DERR_INVALIDCALL;
    CountDraw(type, primitiveCount, count);
    if (!recordDraws_) return D3D_OK;
    RecordedDraw draw = NewDraw(type, primitiveCount, stride);
    if (keepVertices_) {
        const auto* bytes = static_cast<const std::uint8_t*>(vertices);
        draw.vertices.assign(bytes, bytes + static_cast<std::size_t>(vertexCount) * stride);
        draw.indices.resize(count);
        for (UINT i = 0; i < count; ++i) {
            draw.indices[i] = indexFormat == D3DFMT_INDEX16
                                  ? static_cast<const std::uint16_t*>(indices)[i]
                                  : static_cast<std::uint16_t>(static_cast<const std::uint32_t*>(indices)[i]);
        }
    }
    draw.state = Snapshot();
    draws_.push_back(std::move(draw));
    return D3D_OK;
}

HRESULT RecordingDevice::RecordFromStreams(RecordedDraw& draw, UINT first, UINT count)
{
    const UINT instances = InstanceCount();
    if (instances == 0) return D3DERR_INVALIDCALL;
    draw.fromBuffers = true;
    draw.instanceCount = instances;
    if (keepVertices_) {
        const Stream& s = streams_[0];
        const std::uint8_t* from = s.buffer->Data() + s.offset + static_cast<std::size_t>(first) * s.stride;
        draw.vertices.assign(from, from + static_cast<std::size_t>(count) * s.stride);
        if ((streams_[0].frequency & D3DSTREAMSOURCE_INDEXEDDATA) != 0) {
            const Stream& i = streams_[1];
            draw.instances.resize(instances);
            for (UINT k = 0; k < instances; ++k)
                std::memcpy(&draw.instances[k], i.buffer->Data() + i.offset + static_cast<std::size_t>(k) * i.stride,
                            sizeof(InstanceRecord));
        }
    }
    draw.state = Snapshot();
    return D3D_OK;
}

HRESULT RecordingDevice::DrawPrimitive(D3DPRIMITIVETYPE type, UINT startVertex, UINT primitiveCount)
{
    const UINT count = VerticesForPrimitives(type, primitiveCount);
    if (count == 0 || !StreamsCover(startVertex, count)) return D3DERR_INVALIDCALL;
    const UINT instances = InstanceCount();
    if (instances == 0) return D3DERR_INVALIDCALL;
    CountDraw(type, primitiveCount * instances, count * instances);
    if (!recordDraws_) return D3D_OK;
    RecordedDraw draw = NewDraw(type, primitiveCount, streams_[0].stride);
    if (HRESULT r = RecordFromStreams(draw, startVertex, count); r != D3D_OK) return r;
    draws_.push_back(std::move(draw));
    return D3D_OK;
}

namespace {

// Whether every index of the range names a vertex the draw declared. NOTE:
// a plain loop over the buffer's bytes, not IndexAt per index: the null
// renderer checks every crystal's and the logo's indices each frame.
template <typename Index>
bool IndicesWithin(const std::uint8_t* bytes, UINT start, UINT count, UINT minVertexIndex, UINT vertexCount)
{
    for (UINT i = 0; i < count; ++i) {
        Index index;
        std::memcpy(&index, bytes + (static_cast<std::size_t>(start) + i) * sizeof(Index), sizeof(Index));
        const UINT value = index;
        if (value < minVertexIndex || value - minVertexIndex >= vertexCount) return false;
    }
    return true;
}

bool IndicesWithin(const MemoryIndexBuffer& indices, UINT start, UINT count, UINT minVertexIndex, UINT vertexCount)
{
    return indices.IndexSize() == 4
               ? IndicesWithin<std::uint32_t>(indices.Data(), start, count, minVertexIndex, vertexCount)
               : IndicesWithin<std::uint16_t>(indices.Data(), start, count, minVertexIndex, vertexCount);
}

}  // namespace

HRESULT RecordingDevice::DrawIndexedPrimitive(D3DPRIMITIVETYPE type, INT baseVertexIndex, UINT minVertexIndex,
                                              UINT vertexCount, UINT startIndex, UINT primitiveCount)
{
    const UINT count = VerticesForPrimitives(type, primitiveCount);
    const std::int64_t first = static_cast<std::int64_t>(baseVertexIndex) + minVertexIndex;
    if (count == 0 || indices_ == nullptr || first < 0) return D3DERR_INVALIDCALL;
    if (static_cast<std::uint64_t>(startIndex) + count > indices_->Size() / indices_->IndexSize())
        return D3DERR_INVALIDCALL;
    if (!StreamsCover(static_cast<UINT>(first), vertexCount)) return D3DERR_INVALIDCALL;
    if (!IndicesWithin(*indices_, startIndex, count, minVertexIndex, vertexCount)) return D3DERR_INVALIDCALL;
    const UINT instances = InstanceCount();
    if (instances == 0) return D3DERR_INVALIDCALL;
    CountDraw(type, primitiveCount * instances, count * instances);
    // NOTE: a device that only counts (the null renderer) must not keep a
    // record per draw: over a day of steps that is gigabytes.
    if (!recordDraws_) return D3D_OK;
    RecordedDraw draw = NewDraw(type, primitiveCount, streams_[0].stride);
    if (HRESULT r = RecordFromStreams(draw, static_cast<UINT>(first), vertexCount); r != D3D_OK) return r;
    if (keepVertices_) {
        draw.indices.resize(count);
        for (UINT i = 0; i < count; ++i)
            draw.indices[i] = indices_->IndexAt(startIndex + i) - minVertexIndex;
    }
    draws_.push_back(std::move(draw));
    return D3D_OK;
}

bool RecordingDevice::ReadBackBuffer(std::vector<std::uint8_t>&, UINT& width, UINT& height)
{
    // Nothing is drawn, so there are no pixels to read.
    width = height = 0;
    return false;
}

void RecordingDevice::SimulateLoss(HRESULT presentResult, HRESULT cooperative)
{
    pendingPresentResult_ = presentResult;
    cooperative_ = cooperative;
}

// ---------------------------------------------------------------------------

HRESULT RecordingDirect3D9::CreateDevice(UINT adapter, D3DDEVTYPE type, HWND, DWORD behaviour,
                                         D3DPRESENT_PARAMETERS* params, IDirect3DDevice9** device)
{
    attempts_.emplace_back(type, behaviour);
    if (device == nullptr || params == nullptr || adapter != 0) return D3DERR_INVALIDCALL;
    *device = nullptr;
    DWORD processing = behaviour & (D3DCREATE_HARDWARE_VERTEXPROCESSING | D3DCREATE_MIXED_VERTEXPROCESSING |
                                    D3DCREATE_SOFTWARE_VERTEXPROCESSING);
    bool refused = refuseAll_ || std::any_of(refused_.begin(), refused_.end(), [&](const auto& r) {
                       return r.first == type && r.second == processing;
                   });
    if (refused) return D3DERR_NOTAVAILABLE;
    auto* created = new RecordingDevice(*params);
    if (countOnly_) created->SetRecordDraws(false);
    *device = created;
    return D3D_OK;
}

IDirect3D9* RecordingDirect3DCreate9(UINT sdkVersion)
{
    if (sdkVersion != D3D_SDK_VERSION) return nullptr;
    return new RecordingDirect3D9();
}

IDirect3D9* NullDirect3DCreate9(UINT sdkVersion)
{
    if (sdkVersion != D3D_SDK_VERSION) return nullptr;
    auto* direct3d = new RecordingDirect3D9();
    direct3d->CountOnly();
    return direct3d;
}
