// The device front end: what every back end's device does alike.
#include "platform/d3d9/FrontEndDevice.h"

#include <cstring>
#include <utility>

#include "platform/d3d9/DeviceSurface.h"
#include "platform/d3d9/MemoryBuffer.h"

namespace {

bool DrawsTriangles(D3DPRIMITIVETYPE type)
{
    return type == D3DPT_TRIANGLELIST || type == D3DPT_TRIANGLESTRIP || type == D3DPT_TRIANGLEFAN;
}

UINT ReadIndex(const std::uint8_t* indices, UINT size, UINT i)
{
    if (size == 4) {
        std::uint32_t v;
        std::memcpy(&v, indices + static_cast<std::size_t>(i) * 4, 4);
        return v;
    }
    std::uint16_t v;
    std::memcpy(&v, indices + static_cast<std::size_t>(i) * 2, 2);
    return v;
}

// Whether every index of the range names a vertex the draw declared, as the
// debug runtime checks. NOTE: a plain loop per index size, not ReadIndex per
// index: every crystal's and the logo's indices are checked each frame.
template <typename Index>
bool IndicesWithin(const std::uint8_t* bytes, UINT count, UINT minVertexIndex, UINT vertexCount)
{
    for (UINT i = 0; i < count; ++i) {
        Index index;
        std::memcpy(&index, bytes + static_cast<std::size_t>(i) * sizeof(Index), sizeof(Index));
        const UINT value = index;
        if (value < minVertexIndex || value - minVertexIndex >= vertexCount) return false;
    }
    return true;
}

bool IndicesWithin(const DeviceDraw& draw, UINT minVertexIndex, UINT vertexCount)
{
    return draw.indexSize == 4 ? IndicesWithin<std::uint32_t>(draw.indices, draw.count, minVertexIndex, vertexCount)
                               : IndicesWithin<std::uint16_t>(draw.indices, draw.count, minVertexIndex, vertexCount);
}

}  // namespace

UINT DeviceDraw::IndexAt(UINT i) const { return ReadIndex(indices, indexSize, i); }

InstanceRecord DeviceDraw::InstanceAt(UINT k) const
{
    InstanceRecord record;
    const StateKeepingDevice::Stream& s = streams[1];
    std::memcpy(&record, s.buffer->Data() + s.offset + static_cast<std::size_t>(k) * s.stride, sizeof record);
    return record;
}

FrontEndDevice::FrontEndDevice(std::unique_ptr<DeviceBackEnd> backEnd, const D3DPRESENT_PARAMETERS& params)
    : backEnd_(std::move(backEnd)), params_(params), width_(LogicalWidth(params)), height_(LogicalHeight(params))
{
    RestoreDefaults(width_, height_, params_.EnableAutoDepthStencil != FALSE);
}

// NOTE: the back end goes first; it unlinks the textures and buffers it
// mirrors, so those the state still holds die without calling it.
FrontEndDevice::~FrontEndDevice() = default;

void FrontEndDevice::OnStateChanged()
{
    layoutStale_ = true;
    backEnd_->StateChanged();
}

const VertexLayout& FrontEndDevice::Layout()
{
    if (layoutStale_) {
        layout_ = DescribeFvf(state_.fvf);
        layoutStale_ = false;
    }
    return layout_;
}

bool FrontEndDevice::Readable(UINT stride)
{
    const VertexLayout& layout = Layout();
    return stride != 0 && stride >= layout.size && layout.positionFloats != 0;
}

void FrontEndDevice::SimulateLoss(HRESULT presentResult, HRESULT cooperative)
{
    pendingPresentResult_ = presentResult;
    cooperative_ = cooperative;
}

// ---------------------------------------------------------------------------
// Frames

HRESULT FrontEndDevice::Reset(D3DPRESENT_PARAMETERS* params)
{
    ++counters_.resets;
    if (params == nullptr) return D3DERR_INVALIDCALL;
    const UINT width = LogicalWidth(*params), height = LogicalHeight(*params);
    if (width > 8192 || height > 8192) return D3DERR_INVALIDCALL;
    if (HRESULT refused = backEnd_->Reset(width, height, *params); refused != D3D_OK) return refused;
    params_ = *params;
    width_ = width;
    height_ = height;
    RestoreDefaults(width_, height_, params_.EnableAutoDepthStencil != FALSE);
    pendingPresentResult_ = D3D_OK;
    cooperative_ = D3D_OK;
    inScene_ = false;
    backEnd_->FrameStats() = DeviceFrameStats{};  // a reset starts a new frame
    return D3D_OK;
}

HRESULT FrontEndDevice::Present(const RECT*, const RECT*, HWND, const void*)
{
    ++counters_.presents;
    backEnd_->Flush();
    DeviceFrameStats& frame = backEnd_->FrameStats();
    lastStats_ = frame;
    lastStats_.presentCount = static_cast<std::uint32_t>(counters_.presents);
    frame = DeviceFrameStats{};
    if (pendingPresentResult_ != D3D_OK) {
        const HRESULT result = pendingPresentResult_;
        pendingPresentResult_ = D3D_OK;
        return result;
    }
    const HRESULT result = backEnd_->Present();
    if (result == D3DERR_DEVICELOST) cooperative_ = D3DERR_DEVICENOTRESET;
    return result;
}

HRESULT FrontEndDevice::GetBackBuffer(UINT swapChain, UINT index, D3DBACKBUFFER_TYPE, IDirect3DSurface9** surface)
{
    if (surface == nullptr) return D3DERR_INVALIDCALL;
    *surface = nullptr;
    if (swapChain != 0 || index != 0) return D3DERR_INVALIDCALL;
    *surface = new DeviceSurface(D3DSURFACE_DESC{D3DFMT_X8R8G8B8, 0, D3DPOOL_DEFAULT, width_, height_});
    return D3D_OK;
}

HRESULT FrontEndDevice::GetDepthStencilSurface(IDirect3DSurface9** surface)
{
    if (surface == nullptr) return D3DERR_INVALIDCALL;
    *surface = nullptr;
    if (HRESULT refused = backEnd_->DepthStencilResult(); refused != D3D_OK) return refused;
    if (!params_.EnableAutoDepthStencil) return D3DERR_NOTFOUND;
    *surface = new DeviceSurface(D3DSURFACE_DESC{D3DFMT_D16, 0, D3DPOOL_DEFAULT, width_, height_});
    return D3D_OK;
}

HRESULT FrontEndDevice::BeginScene()
{
    if (HRESULT refused = backEnd_->BeginScene(); refused != D3D_OK) return refused;
    if (inScene_) return D3DERR_INVALIDCALL;
    inScene_ = true;
    ++counters_.beginScenes;
    return D3D_OK;
}

HRESULT FrontEndDevice::EndScene()
{
    if (!inScene_) return D3DERR_INVALIDCALL;
    inScene_ = false;
    ++counters_.endScenes;
    backEnd_->Flush();
    return D3D_OK;
}

HRESULT FrontEndDevice::Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR colour, float z, DWORD)
{
    ++counters_.clears;
    backEnd_->Flush();
    backEnd_->Clear(count, rects, flags, colour, z, state_.viewport);
    return D3D_OK;
}

bool FrontEndDevice::ReadBackBuffer(std::vector<std::uint8_t>& rgb, UINT& width, UINT& height)
{
    backEnd_->Flush();
    return backEnd_->ReadBackBuffer(rgb, width, height);
}

// ---------------------------------------------------------------------------
// Draws

HRESULT FrontEndDevice::Submit(const DeviceDraw& draw)
{
    if (HRESULT refused = backEnd_->Draw(draw, state_, Layout()); refused != D3D_OK) return refused;
    DeviceFrameStats& frame = backEnd_->FrameStats();
    if (!draw.fromBuffers) ++frame.immediateCalls;
    if (DrawsTriangles(draw.type)) frame.triangles += draw.primitiveCount * draw.instances;
    return D3D_OK;
}

HRESULT FrontEndDevice::DrawPrimitiveUP(D3DPRIMITIVETYPE type, UINT primitiveCount, const void* vertices, UINT stride)
{
    DeviceDraw draw;
    draw.type = type;
    draw.primitiveCount = primitiveCount;
    draw.count = draw.vertexCount = VerticesForPrimitives(type, primitiveCount);
    draw.vertices = static_cast<const std::uint8_t*>(vertices);
    draw.stride = stride;
    if (vertices == nullptr || draw.count == 0 || !Readable(stride)) return D3DERR_INVALIDCALL;
    return Submit(draw);
}

HRESULT FrontEndDevice::DrawIndexedPrimitiveUP(D3DPRIMITIVETYPE type, UINT minVertexIndex, UINT vertexCount,
                                               UINT primitiveCount, const void* indices, D3DFORMAT indexFormat,
                                               const void* vertices, UINT stride)
{
    DeviceDraw draw;
    draw.type = type;
    draw.primitiveCount = primitiveCount;
    draw.count = VerticesForPrimitives(type, primitiveCount);
    draw.vertices = static_cast<const std::uint8_t*>(vertices);
    draw.stride = stride;
    draw.vertexCount = vertexCount;
    draw.indices = static_cast<const std::uint8_t*>(indices);
    draw.indexSize = indexFormat == D3DFMT_INDEX32 ? 4 : 2;
    if (vertices == nullptr || indices == nullptr || draw.count == 0 || !Readable(stride)) return D3DERR_INVALIDCALL;
    if (indexFormat != D3DFMT_INDEX16 && indexFormat != D3DFMT_INDEX32) return D3DERR_INVALIDCALL;
    // An index past the vertices given.
    if (!IndicesWithin(draw, 0, minVertexIndex + vertexCount)) return D3DERR_INVALIDCALL;
    return Submit(draw);
}

bool FrontEndDevice::FromStreams(DeviceDraw& draw, UINT first, UINT count) const
{
    const Stream& s = streams_[0];
    draw.fromBuffers = true;
    draw.streams = streams_;
    draw.stride = s.stride;
    draw.vertices = s.buffer->Data() + s.offset + static_cast<std::size_t>(first) * s.stride;
    draw.vertexCount = count;
    draw.instances = InstanceCount();
    draw.instanced = (s.frequency & D3DSTREAMSOURCE_INDEXEDDATA) != 0;
    return draw.instances != 0;
}

HRESULT FrontEndDevice::DrawPrimitive(D3DPRIMITIVETYPE type, UINT startVertex, UINT primitiveCount)
{
    DeviceDraw draw;
    draw.type = type;
    draw.primitiveCount = primitiveCount;
    draw.count = VerticesForPrimitives(type, primitiveCount);
    if (draw.count == 0 || !StreamsCover(startVertex, draw.count)) return D3DERR_INVALIDCALL;
    if (!FromStreams(draw, startVertex, draw.count) || !Readable(draw.stride)) return D3DERR_INVALIDCALL;
    draw.firstVertex = startVertex;
    return Submit(draw);
}

HRESULT FrontEndDevice::DrawIndexedPrimitive(D3DPRIMITIVETYPE type, INT baseVertexIndex, UINT minVertexIndex,
                                             UINT vertexCount, UINT startIndex, UINT primitiveCount)
{
    DeviceDraw draw;
    draw.type = type;
    draw.primitiveCount = primitiveCount;
    draw.count = VerticesForPrimitives(type, primitiveCount);
    const std::int64_t first = static_cast<std::int64_t>(baseVertexIndex) + minVertexIndex;
    if (draw.count == 0 || indices_ == nullptr || baseVertexIndex < 0) return D3DERR_INVALIDCALL;
    if (static_cast<std::uint64_t>(startIndex) + draw.count > indices_->Size() / indices_->IndexSize())
        return D3DERR_INVALIDCALL;
    if (!StreamsCover(static_cast<UINT>(first), vertexCount)) return D3DERR_INVALIDCALL;
    draw.indexBuffer = indices_;
    draw.indexSize = indices_->IndexSize();
    draw.startIndex = startIndex;
    draw.indices = indices_->Data() + static_cast<std::size_t>(startIndex) * draw.indexSize;
    draw.minIndex = minVertexIndex;
    if (!IndicesWithin(draw, minVertexIndex, vertexCount)) return D3DERR_INVALIDCALL;
    if (!FromStreams(draw, static_cast<UINT>(first), vertexCount) || !Readable(draw.stride)) return D3DERR_INVALIDCALL;
    // NOTE: GLES 3.0 has no base-vertex draws; stream 0 starts at the base vertex instead.
    draw.firstVertex = static_cast<UINT>(baseVertexIndex);
    return Submit(draw);
}
