// The null backend of the renderer: a device that draws nothing, keeps the
// full pipeline state with Direct3D 9's defaults and records every draw
// with a copy of its vertices and the state in force. Unit tests drive the
// drawing code against it and look at what was recorded.
//
// RecordingDirect3D9 stands in for the Direct3D object; it can be told to
// refuse some device types or behaviours so that creation fall-backs can be
// tested. Failures of Reset and of the surface queries can be injected too.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/d3d9/DeviceState.h"

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
    // Instance k of an instanced draw as the device draws it: the vertices
    // scaled and moved by the instance record and given its colour.
    RecordedDraw Instance(UINT k) const;
    // Reads a float or a DWORD of vertex i at a byte offset.
    float FloatAt(UINT vertex, UINT offset) const;
    DWORD DwordAt(UINT vertex, UINT offset) const;
    // The world matrix that indexed vertex blending applies to vertex i: the
    // one its first matrix index names, or D3DTS_WORLD without blending.
    const D3DMATRIX& WorldOf(UINT vertex) const;
};

class RecordingDevice : public StateKeepingDevice {
public:
    explicit RecordingDevice(const D3DPRESENT_PARAMETERS& params);

    HRESULT TestCooperativeLevel() override;
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
    void SimulateLoss(HRESULT presentResult, HRESULT cooperative) override;

    // --- What was recorded -------------------------------------------------
    const std::vector<RecordedDraw>& Draws() const { return draws_; }
    void ClearDraws() { draws_.clear(); }
    struct Counters {
        int clears = 0, beginScenes = 0, endScenes = 0, presents = 0, resets = 0;
    };
    const Counters& Calls() const { return counters_; }
    DWORD LastClearFlags() const { return lastClearFlags_; }
    D3DCOLOR LastClearColour() const { return lastClearColour_; }
    // Keeps no vertex copies (for long runs that only count).
    void SetKeepVertices(bool keep) { keepVertices_ = keep; }
    // Keeps no draw records at all, only the frame counters: the null
    // renderer of whole runs, whose memory must not grow per frame.
    void SetRecordDraws(bool record) { recordDraws_ = record; }

    // --- Injected failures ---------------------------------------------------
    void FailNextReset(HRESULT result) { resetFailure_ = result; }
    void FailDepthStencil(HRESULT result) { depthFailure_ = result; }
    void FailBeginScene(HRESULT result) { beginSceneFailure_ = result; }

protected:
    ~RecordingDevice() override;
    void OnStateChanged() override { snapshot_.reset(); }

private:
    std::shared_ptr<const DeviceState> Snapshot();
    void CountDraw(D3DPRIMITIVETYPE type, UINT primitiveCount, UINT vertexCount);
    // A record of a draw under the vertex format in force; vertices and state are added by the caller.
    RecordedDraw NewDraw(D3DPRIMITIVETYPE type, UINT primitiveCount, UINT stride) const;
    // Adds the vertices [first, first + count) of stream 0 and the instance records.
    HRESULT RecordFromStreams(RecordedDraw& draw, UINT first, UINT count);

    D3DPRESENT_PARAMETERS params_;
    std::vector<RecordedDraw> draws_;
    std::shared_ptr<const DeviceState> snapshot_;
    Counters counters_;
    DeviceFrameStats frameStats_;
    DeviceFrameStats lastStats_;
    DWORD lastClearFlags_ = 0;
    D3DCOLOR lastClearColour_ = 0;
    bool keepVertices_ = true;
    bool recordDraws_ = true;
    bool inScene_ = false;
    HRESULT pendingPresentResult_ = D3D_OK;
    HRESULT cooperative_ = D3D_OK;
    HRESULT resetFailure_ = D3D_OK;
    HRESULT depthFailure_ = D3D_OK;
    HRESULT beginSceneFailure_ = D3D_OK;
};

class RecordingDirect3D9 : public IDirect3D9 {
public:
    HRESULT CreateDevice(UINT adapter, D3DDEVTYPE type, HWND focusWindow, DWORD behaviour,
                         D3DPRESENT_PARAMETERS* params, IDirect3DDevice9** device) override;

    // Refuses CreateDevice for this device type and behaviour.
    void Refuse(D3DDEVTYPE type, DWORD behaviour) { refused_.emplace_back(type, behaviour); }
    void RefuseAll() { refuseAll_ = true; }
    // Every CreateDevice call made, in order.
    const std::vector<std::pair<D3DDEVTYPE, DWORD>>& Attempts() const { return attempts_; }
    // Devices made from now on record no draws (see SetRecordDraws).
    void CountOnly() { countOnly_ = true; }

private:
    std::vector<std::pair<D3DDEVTYPE, DWORD>> refused_;
    std::vector<std::pair<D3DDEVTYPE, DWORD>> attempts_;
    bool refuseAll_ = false;
    bool countOnly_ = false;
};

// The factory for tests: a fresh RecordingDirect3D9 for every call.
IDirect3D9* RecordingDirect3DCreate9(UINT sdkVersion);
// The null renderer (--renderer null): devices that keep state and count
// draws but draw and record nothing, so a whole run needs no GL.
IDirect3D9* NullDirect3DCreate9(UINT sdkVersion);
