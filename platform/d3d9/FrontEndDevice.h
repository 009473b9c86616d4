// The Direct3D 9 style device that every back end sits under: it keeps the
// state (StateKeepingDevice), the scene bracket, device loss and reset, the
// back buffer's size and the frame's counts, and checks each draw and finds
// its vertices, indices and instances before the back end sees it. The
// OpenGL device and the recording device of the tests differ only in their
// back end, so the tests run the same front end as the installation.
#pragma once

#include <memory>
#include <vector>

#include "platform/d3d9/DeviceBackEnd.h"
#include "platform/d3d9/DeviceState.h"

class FrontEndDevice : public StateKeepingDevice {
public:
    FrontEndDevice(std::unique_ptr<DeviceBackEnd> backEnd, const D3DPRESENT_PARAMETERS& params);

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
    void SimulateLoss(HRESULT presentResult, HRESULT cooperative) override;

    // The calls made since creation.
    struct Counters {
        int clears = 0, beginScenes = 0, endScenes = 0, presents = 0, resets = 0;
    };
    const Counters& Calls() const { return counters_; }

protected:
    ~FrontEndDevice() override;
    void OnStateChanged() override;
    DeviceBackEnd& BackEnd() { return *backEnd_; }

private:
    const VertexLayout& Layout();
    // Whether a draw of this vertex format can be read with this stride.
    bool Readable(UINT stride);
    // Hands a checked draw to the back end and counts it.
    HRESULT Submit(const DeviceDraw& draw);
    // A draw from the bound streams of `count` vertices from `first`, with its instances.
    bool FromStreams(DeviceDraw& draw, UINT first, UINT count) const;

    std::unique_ptr<DeviceBackEnd> backEnd_;
    D3DPRESENT_PARAMETERS params_;
    UINT width_ = 640;
    UINT height_ = 480;
    VertexLayout layout_{};
    bool layoutStale_ = true;
    Counters counters_;
    DeviceFrameStats lastStats_;
    bool inScene_ = false;
    HRESULT pendingPresentResult_ = D3D_OK;
    HRESULT cooperative_ = D3D_OK;
};
