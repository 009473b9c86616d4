// The recording back end: draws recorded, nothing drawn.
#include "platform/d3d9/RecordingBackEnd.h"

#include <cstring>

float RecordedDraw::FloatAt(UINT vertex, UINT offset) const
{
    float f = 0.0f;
    std::size_t at = static_cast<std::size_t>(vertex) * stride + offset;
    if (at + sizeof f <= vertices.size()) std::memcpy(&f, vertices.data() + at, sizeof f);
    return f;
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

// ---------------------------------------------------------------------------

HRESULT RecordingBackEnd::Reset(UINT, UINT, const D3DPRESENT_PARAMETERS&)
{
    const HRESULT result = resetFailure;
    resetFailure = D3D_OK;
    return result;
}

void RecordingBackEnd::Clear(DWORD, const D3DRECT*, DWORD flags, D3DCOLOR colour, float, const D3DVIEWPORT9&)
{
    lastClearFlags = flags;
    lastClearColour = colour;
}

bool RecordingBackEnd::ReadBackBuffer(std::vector<std::uint8_t>&, UINT& width, UINT& height)
{
    // Nothing is drawn, so there are no pixels to read.
    width = height = 0;
    return false;
}

std::shared_ptr<const DeviceState> RecordingBackEnd::Snapshot(const DeviceState& state)
{
    if (!snapshot_) snapshot_ = std::make_shared<const DeviceState>(state);
    return snapshot_;
}

void RecordingBackEnd::Count(const DeviceDraw& draw)
{
    // Nothing is batched here: every call is one draw. The front end counts
    // the immediate calls; this device has always counted its draws from
    // buffers among them too, and --stats of the null renderer keep that.
    if (draw.fromBuffers) ++frameStats_.immediateCalls;
    ++frameStats_.gpuDraws;
    frameStats_.vertices += draw.count * draw.instances;
}

void RecordingBackEnd::CopyVertices(RecordedDraw& record, const DeviceDraw& draw) const
{
    record.vertices.assign(draw.vertices, draw.vertices + static_cast<std::size_t>(draw.vertexCount) * draw.stride);
    if (draw.indexSize != 0) {
        record.indices.resize(draw.count);
        for (UINT i = 0; i < draw.count; ++i) {
            // Immediate draws keep 16 bits of each index, as they always did.
            record.indices[i] = draw.fromBuffers ? draw.IndexAt(i) - draw.minIndex
                                                 : static_cast<std::uint16_t>(draw.IndexAt(i));
        }
    }
    if (draw.instanced) {
        record.instances.resize(draw.instances);
        for (UINT k = 0; k < draw.instances; ++k) record.instances[k] = draw.InstanceAt(k);
    }
}

HRESULT RecordingBackEnd::Draw(const DeviceDraw& draw, const DeviceState& state, const VertexLayout&)
{
    Count(draw);
    // NOTE: a device that only counts (the null renderer) must not keep a
    // record per draw: over a day of steps that is gigabytes.
    if (!recordDraws) return D3D_OK;
    RecordedDraw record{.type = draw.type,
                        .primitiveCount = draw.primitiveCount,
                        .stride = draw.stride,
                        .fvf = state.fvf,
                        .vertices = {},
                        .indices = {},
                        .fromBuffers = draw.fromBuffers,
                        .instanceCount = draw.instances,
                        .instances = {},
                        .state = Snapshot(state)};
    if (keepVertices) CopyVertices(record, draw);
    draws.push_back(std::move(record));
    return D3D_OK;
}
