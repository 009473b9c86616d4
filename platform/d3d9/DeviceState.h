// The pipeline state that a Direct3D 9 style device keeps, with Direct3D 9's
// defaults, and a device base class that stores it.
//
// The device front end derives from StateKeepingDevice and hands the state
// to its back end with every draw: the recording one (tests) snapshots it,
// the OpenGL one turns it into uniforms and GL state. A Set* call that
// changes nothing does not count as a change, so callers that set the same
// states around every draw (the fade, the sparks, the sprite) do not break
// batches.
#pragma once

#include <cstdint>

#include "platform/d3d9/d3d9.h"

class MemoryVertexBuffer;
class MemoryIndexBuffer;

struct DeviceState {
    static constexpr unsigned kStages = 8;
    static constexpr unsigned kLights = 8;
    // World matrices that indexed vertex blending can name (D3DTS_WORLDMATRIX(0 ... 15)).
    static constexpr unsigned kWorldMatrices = 16;

    DWORD renderStates[D3DRS_COUNT];
    DWORD stageStates[kStages][D3DTSS_COUNT];
    DWORD samplerStates[kStages][D3DSAMP_COUNT];
    D3DMATRIX world;  // D3DTS_WORLDMATRIX(0)
    D3DMATRIX moreWorlds[kWorldMatrices - 1];  // D3DTS_WORLDMATRIX(1 ...)
    D3DMATRIX view;
    D3DMATRIX projection;
    D3DMATRIX texture0;
    D3DVIEWPORT9 viewport;
    D3DMATERIAL9 material;
    D3DLIGHT9 lights[kLights];
    BOOL lightSet[kLights];
    BOOL lightEnabled[kLights];
    // Not owning in a snapshot; the device holds a reference to each.
    IDirect3DTexture9* textures[kStages];
    DWORD fvf;

    // Direct3D 9's state after device creation and after every Reset.
    void SetDefaults(UINT backBufferWidth, UINT backBufferHeight, bool autoDepth);

    DWORD RenderState(D3DRENDERSTATETYPE s) const { return renderStates[s]; }
    const D3DMATRIX& WorldMatrix(unsigned index) const { return index == 0 ? world : moreWorlds[index - 1]; }
    // Indexed vertex blending with one matrix per vertex (D3DVBF_0WEIGHTS).
    bool BlendsByIndex() const;
    float RenderStateFloat(D3DRENDERSTATETYPE s) const;
    DWORD StageState(unsigned stage, D3DTEXTURESTAGESTATETYPE t) const { return stageStates[stage][t]; }
    DWORD SamplerState(unsigned sampler, D3DSAMPLERSTATETYPE t) const { return samplerStates[sampler][t]; }
};

// Floats travel through SetRenderState as their bit patterns, as in Direct3D.
DWORD FloatToDword(float value);
float DwordToFloat(DWORD value);

// The byte layout of a flexible vertex format.
struct VertexLayout {
    bool pretransformed = false;  // D3DFVF_XYZRHW: x, y in pixels, z depth, rhw = 1 / w
    int positionFloats = 0;       // 3 or 4
    int blendIndexOffset = -1;    // D3DFVF_LASTBETA_UBYTE4: four matrix-index bytes
    int normalOffset = -1;
    int pointSizeOffset = -1;  // D3DFVF_PSIZE: a point's side in pixels
    int diffuseOffset = -1;
    int specularOffset = -1;
    int texOffset = -1;  // first texture coordinate pair
    int texCount = 0;
    UINT size = 0;  // bytes the format describes (the stride may be larger)
};
VertexLayout DescribeFvf(DWORD fvf);

// Vertices a draw of primitiveCount primitives of this type reads.
UINT VerticesForPrimitives(D3DPRIMITIVETYPE type, UINT primitiveCount);

class StateKeepingDevice : public IDirect3DDevice9 {
public:
    HRESULT SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) override;
    HRESULT GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) override;
    HRESULT SetViewport(const D3DVIEWPORT9* viewport) override;
    HRESULT GetViewport(D3DVIEWPORT9* viewport) override;
    HRESULT SetMaterial(const D3DMATERIAL9* material) override;
    HRESULT SetLight(DWORD index, const D3DLIGHT9* light) override;
    HRESULT LightEnable(DWORD index, BOOL enable) override;
    HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) override;
    HRESULT GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) override;
    HRESULT SetTexture(DWORD stage, IDirect3DTexture9* texture) override;
    HRESULT GetTexture(DWORD stage, IDirect3DTexture9** texture) override;
    HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) override;
    HRESULT GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD* value) override;
    HRESULT SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) override;
    HRESULT GetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD* value) override;
    HRESULT SetFVF(DWORD fvf) override;
    HRESULT GetFVF(DWORD* fvf) override;
    HRESULT CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                          IDirect3DTexture9** texture, void* sharedHandle) override;
    HRESULT CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool, IDirect3DVertexBuffer9** buffer,
                               void* sharedHandle) override;
    HRESULT CreateIndexBuffer(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                              IDirect3DIndexBuffer9** buffer, void* sharedHandle) override;
    HRESULT SetStreamSource(UINT stream, IDirect3DVertexBuffer9* buffer, UINT offset, UINT stride) override;
    HRESULT SetStreamSourceFreq(UINT stream, UINT setting) override;
    HRESULT SetIndices(IDirect3DIndexBuffer9* buffer) override;

    const DeviceState& State() const { return state_; }

    // What the buffer draws read: stream 0 (vertices), stream 1 (instances).
    struct Stream {
        MemoryVertexBuffer* buffer = nullptr;  // the device holds a reference
        UINT offset = 0;
        UINT stride = 0;
        UINT frequency = 1;
    };
    static constexpr unsigned kStreams = 2;

protected:
    StateKeepingDevice();
    ~StateKeepingDevice() override;

    // Called after a Set* call changed something.
    virtual void OnStateChanged() {}
    // Drops every texture reference and restores the defaults (Reset).
    void RestoreDefaults(UINT backBufferWidth, UINT backBufferHeight, bool autoDepth);
    // Instances a draw from the streams makes: 1 unless stream 0 is indexed
    // data of n instances and stream 1 holds instance records (then n; 0
    // when the instance stream is missing or too short).
    UINT InstanceCount() const;
    // Checks a buffer draw against the bound streams; the vertex range read
    // is [first, first + count).
    bool StreamsCover(UINT first, UINT count) const;

    DeviceState state_;
    Stream streams_[kStreams];
    MemoryIndexBuffer* indices_ = nullptr;  // the device holds a reference

private:
    void ReleaseBindings();
    // Stores a value; a change only when it differs from the one in force.
    template <typename T>
    HRESULT Change(T* slot, const T* value);
};
