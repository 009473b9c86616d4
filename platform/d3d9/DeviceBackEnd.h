// What the Direct3D 9 device (FrontEndDevice) hands the back end below it:
// draws it has checked and whose bytes it has found, clears, presents,
// read-backs and resets. The front end keeps everything Direct3D 9 asks of
// a device (state, scene bracket, loss and reset, the frame's counts); a
// back end only draws. Two exist: OpenGL (platform/gl) and the recording
// one of the tests and the null renderer (RecordingBackEnd.h).
#pragma once

#include <cstdint>
#include <vector>

#include "platform/d3d9/DeviceState.h"

// The back buffer's size: a zero size means "the window's size", and the
// logical screen is 640x480.
inline UINT LogicalWidth(const D3DPRESENT_PARAMETERS& params)
{
    return params.BackBufferWidth != 0 ? params.BackBufferWidth : 640;
}
inline UINT LogicalHeight(const D3DPRESENT_PARAMETERS& params)
{
    return params.BackBufferHeight != 0 ? params.BackBufferHeight : 480;
}

// One draw call as the front end checked it, with where its bytes are.
struct DeviceDraw {
    D3DPRIMITIVETYPE type = D3DPT_TRIANGLELIST;
    UINT primitiveCount = 0;
    UINT count = 0;  // vertices (or indices) the primitives read
    bool fromBuffers = false;
    // The vertices the draw reads, `stride` bytes apart: immediate draws
    // from the caller's pointer; draws from buffers the range of stream 0
    // that the draw declares (from vertex base + minIndex when indexed).
    const std::uint8_t* vertices = nullptr;
    UINT stride = 0;
    UINT vertexCount = 0;
    // Draws from buffers: stream 0 starts at this vertex (an indexed draw's base vertex).
    UINT firstVertex = 0;
    const StateKeepingDevice::Stream* streams = nullptr;
    // Indexed draws: `count` indices of `indexSize` bytes (0: not indexed);
    // from buffers they start at `startIndex` of `indexBuffer` and name
    // vertices from `minIndex` on.
    const std::uint8_t* indices = nullptr;
    UINT indexSize = 0;
    MemoryIndexBuffer* indexBuffer = nullptr;
    UINT startIndex = 0;
    UINT minIndex = 0;
    // Draws from buffers: instances, and whether stream 1 holds their records.
    UINT instances = 1;
    bool instanced = false;

    UINT IndexAt(UINT i) const;
    InstanceRecord InstanceAt(UINT k) const;
};

class DeviceBackEnd {
public:
    virtual ~DeviceBackEnd() = default;

    // The frame being drawn; the front end hands it on at Present.
    DeviceFrameStats& FrameStats() { return frameStats_; }

    // A Set* call changed the state (or a reset restored the defaults).
    virtual void StateChanged() {}
    // A new back buffer of this size; D3D_OK, or why there is none.
    virtual HRESULT Reset(UINT width, UINT height, const D3DPRESENT_PARAMETERS& params) = 0;
    // Whether a scene may begin (tests make it fail).
    virtual HRESULT BeginScene() { return D3D_OK; }
    // Whether the depth surface may be had (tests make it fail).
    virtual HRESULT DepthStencilResult() { return D3D_OK; }
    // Clears the viewport, or the given rectangles inside it.
    virtual void Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR colour, float z,
                       const D3DVIEWPORT9& viewport) = 0;
    // One checked draw under the state in force and the vertex format's layout.
    virtual HRESULT Draw(const DeviceDraw& draw, const DeviceState& state, const VertexLayout& layout) = 0;
    // Sends whatever draws are held back.
    virtual void Flush() {}
    // Shows the back buffer: D3D_OK, or D3DERR_DEVICELOST when the window
    // changed so that the device must be reset.
    virtual HRESULT Present() = 0;
    virtual bool ReadBackBuffer(std::vector<std::uint8_t>& rgb, UINT& width, UINT& height) = 0;

protected:
    DeviceFrameStats frameStats_;
};
