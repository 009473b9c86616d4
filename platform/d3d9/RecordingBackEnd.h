// The back end of the recording device: draws nothing and records every
// draw call with a copy of its vertices, indices and instances and the
// state in force, so that tests can look at what the drawing code asked for.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/d3d9/DeviceBackEnd.h"

struct RecordedDraw {
    D3DPRIMITIVETYPE type = D3DPT_TRIANGLELIST;
    UINT primitiveCount = 0;
    UINT stride = 0;
    DWORD fvf = 0;
    std::vector<std::uint8_t> vertices;  // VerticesForPrimitives(type, count) * stride bytes
    std::vector<std::uint32_t> indices;  // indexed draws only
    // Draws from buffers: the vertices are the range the draw reads, its
    // indices count from the first of them; instanced draws add their records.
    bool fromBuffers = false;
    UINT instanceCount = 1;
    std::vector<InstanceRecord> instances;
    std::shared_ptr<const DeviceState> state;  // the state in force at the draw

    UINT VertexCount() const { return stride == 0 ? 0 : static_cast<UINT>(vertices.size() / stride); }
    // Reads a float or a DWORD of vertex i at a byte offset.
    float FloatAt(UINT vertex, UINT offset) const;
    DWORD DwordAt(UINT vertex, UINT offset) const;
    // The world matrix that indexed vertex blending applies to vertex i: the
    // one its first matrix index names, or D3DTS_WORLD without blending.
    const D3DMATRIX& WorldOf(UINT vertex) const;
};

class RecordingBackEnd final : public DeviceBackEnd {
public:
    void StateChanged() override { snapshot_.reset(); }
    HRESULT Reset(UINT width, UINT height, const D3DPRESENT_PARAMETERS& params) override;
    HRESULT BeginScene() override { return beginSceneFailure; }
    HRESULT DepthStencilResult() override { return depthFailure; }
    void Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR colour, float z,
               const D3DVIEWPORT9& viewport) override;
    HRESULT Draw(const DeviceDraw& draw, const DeviceState& state, const VertexLayout& layout) override;
    HRESULT Present() override { return D3D_OK; }
    bool ReadBackBuffer(std::vector<std::uint8_t>& rgb, UINT& width, UINT& height) override;

    std::vector<RecordedDraw> draws;
    DWORD lastClearFlags = 0;
    D3DCOLOR lastClearColour = 0;
    bool keepVertices = true;
    bool recordDraws = true;
    HRESULT resetFailure = D3D_OK;
    HRESULT depthFailure = D3D_OK;
    HRESULT beginSceneFailure = D3D_OK;

private:
    std::shared_ptr<const DeviceState> Snapshot(const DeviceState& state);
    void Count(const DeviceDraw& draw);
    void CopyVertices(RecordedDraw& record, const DeviceDraw& draw) const;

    std::shared_ptr<const DeviceState> snapshot_;
};
