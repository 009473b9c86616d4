// Direct3D 9's default pipeline state and the state-keeping half of a device.
#include "platform/d3d9/DeviceState.h"

#include <cstring>

#include "platform/d3d9/Matrices.h"
#include "platform/d3d9/MemoryBuffer.h"
#include "platform/d3d9/MemoryTexture.h"

DWORD FloatToDword(float value)
{
    DWORD bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

float DwordToFloat(DWORD value)
{
    float f;
    std::memcpy(&f, &value, sizeof f);
    return f;
}

float DeviceState::RenderStateFloat(D3DRENDERSTATETYPE s) const { return DwordToFloat(renderStates[s]); }

void DeviceState::SetDefaults(UINT backBufferWidth, UINT backBufferHeight, bool autoDepth)
{
    std::memset(renderStates, 0, sizeof renderStates);
    DWORD* rs = renderStates;
    rs[D3DRS_ZENABLE] = autoDepth ? D3DZB_TRUE : D3DZB_FALSE;
    rs[D3DRS_FILLMODE] = D3DFILL_SOLID;
    rs[D3DRS_SHADEMODE] = D3DSHADE_GOURAUD;
    rs[D3DRS_ZWRITEENABLE] = TRUE;
    rs[D3DRS_ALPHATESTENABLE] = FALSE;
    rs[D3DRS_LASTPIXEL] = TRUE;
    rs[D3DRS_SRCBLEND] = D3DBLEND_ONE;
    rs[D3DRS_DESTBLEND] = D3DBLEND_ZERO;
    rs[D3DRS_CULLMODE] = D3DCULL_CCW;
    rs[D3DRS_ZFUNC] = D3DCMP_LESSEQUAL;
    rs[D3DRS_ALPHAREF] = 0;
    rs[D3DRS_ALPHAFUNC] = D3DCMP_ALWAYS;
    rs[D3DRS_DITHERENABLE] = FALSE;
    rs[D3DRS_ALPHABLENDENABLE] = FALSE;
    rs[D3DRS_FOGENABLE] = FALSE;
    rs[D3DRS_SPECULARENABLE] = FALSE;
    rs[D3DRS_FOGCOLOR] = 0;
    rs[D3DRS_FOGTABLEMODE] = D3DFOG_NONE;
    rs[D3DRS_FOGSTART] = FloatToDword(0.0f);
    rs[D3DRS_FOGEND] = FloatToDword(1.0f);
    rs[D3DRS_FOGDENSITY] = FloatToDword(1.0f);
    rs[D3DRS_RANGEFOGENABLE] = FALSE;
    rs[D3DRS_STENCILENABLE] = FALSE;
    rs[D3DRS_TEXTUREFACTOR] = 0xFFFFFFFF;
    rs[D3DRS_CLIPPING] = TRUE;
    rs[D3DRS_LIGHTING] = TRUE;
    rs[D3DRS_AMBIENT] = 0;
    rs[D3DRS_FOGVERTEXMODE] = D3DFOG_NONE;
    rs[D3DRS_COLORVERTEX] = TRUE;
    rs[D3DRS_LOCALVIEWER] = TRUE;
    rs[D3DRS_NORMALIZENORMALS] = FALSE;
    rs[D3DRS_DIFFUSEMATERIALSOURCE] = D3DMCS_COLOR1;
    rs[D3DRS_SPECULARMATERIALSOURCE] = D3DMCS_COLOR2;
    rs[D3DRS_AMBIENTMATERIALSOURCE] = D3DMCS_MATERIAL;
    rs[D3DRS_EMISSIVEMATERIALSOURCE] = D3DMCS_MATERIAL;
    rs[D3DRS_POINTSIZE] = FloatToDword(1.0f);
    rs[D3DRS_POINTSIZE_MIN] = FloatToDword(1.0f);
    rs[D3DRS_MULTISAMPLEANTIALIAS] = TRUE;
    rs[D3DRS_MULTISAMPLEMASK] = 0xFFFFFFFF;
    rs[D3DRS_COLORWRITEENABLE] = 0xF;
    rs[D3DRS_BLENDOP] = D3DBLENDOP_ADD;
    rs[D3DRS_SRCBLENDALPHA] = D3DBLEND_ONE;
    rs[D3DRS_DESTBLENDALPHA] = D3DBLEND_ZERO;
    rs[D3DRS_BLENDOPALPHA] = D3DBLENDOP_ADD;

    std::memset(stageStates, 0, sizeof stageStates);
    for (unsigned stage = 0; stage < kStages; ++stage) {
        DWORD* ts = stageStates[stage];
        ts[D3DTSS_COLOROP] = stage == 0 ? D3DTOP_MODULATE : D3DTOP_DISABLE;
        ts[D3DTSS_COLORARG1] = D3DTA_TEXTURE;
        ts[D3DTSS_COLORARG2] = D3DTA_CURRENT;
        ts[D3DTSS_ALPHAOP] = stage == 0 ? D3DTOP_SELECTARG1 : D3DTOP_DISABLE;
        ts[D3DTSS_ALPHAARG1] = D3DTA_TEXTURE;
        ts[D3DTSS_ALPHAARG2] = D3DTA_CURRENT;
        ts[D3DTSS_TEXCOORDINDEX] = stage;
        ts[D3DTSS_TEXTURETRANSFORMFLAGS] = D3DTTFF_DISABLE;
        ts[D3DTSS_COLORARG0] = D3DTA_CURRENT;
        ts[D3DTSS_ALPHAARG0] = D3DTA_CURRENT;
        ts[D3DTSS_RESULTARG] = D3DTA_CURRENT;
    }

    std::memset(samplerStates, 0, sizeof samplerStates);
    for (unsigned s = 0; s < kStages; ++s) {
        DWORD* ss = samplerStates[s];
        ss[D3DSAMP_ADDRESSU] = D3DTADDRESS_WRAP;
        ss[D3DSAMP_ADDRESSV] = D3DTADDRESS_WRAP;
        ss[D3DSAMP_ADDRESSW] = D3DTADDRESS_WRAP;
        ss[D3DSAMP_MAGFILTER] = D3DTEXF_POINT;
        ss[D3DSAMP_MINFILTER] = D3DTEXF_POINT;
        ss[D3DSAMP_MIPFILTER] = D3DTEXF_NONE;
        ss[D3DSAMP_MAXANISOTROPY] = 1;
    }

    world = view = projection = texture0 = IdentityMatrix();
    for (D3DMATRIX& m : moreWorlds) m = IdentityMatrix();
    viewport = D3DVIEWPORT9{0, 0, backBufferWidth, backBufferHeight, 0.0f, 1.0f};
    material = D3DMATERIAL9{};
    std::memset(lights, 0, sizeof lights);
    for (unsigned i = 0; i < kLights; ++i) lightSet[i] = lightEnabled[i] = FALSE;
    for (auto& t : textures) t = nullptr;
    fvf = 0;
}

bool DeviceState::BlendsByIndex() const
{
    return renderStates[D3DRS_INDEXEDVERTEXBLENDENABLE] != FALSE && renderStates[D3DRS_VERTEXBLEND] == D3DVBF_0WEIGHTS;
}

VertexLayout DescribeFvf(DWORD fvf)
{
    VertexLayout layout;
    UINT offset = 0;
    switch (fvf & D3DFVF_POSITION_MASK) {
    case D3DFVF_XYZ:
        layout.positionFloats = 3;
        break;
    case D3DFVF_XYZRHW:
        layout.positionFloats = 4;
        layout.pretransformed = true;
        break;
    default:
        // Blend weights (XYZB1..5): the position, then the weights, the last
        // of which may hold the matrix indices.
        if ((fvf & D3DFVF_POSITION_MASK) != 0) {
            const DWORD kind = (fvf & 0xE) >> 1;  // 3 = XYZB1 ... 7 = XYZB5
            const UINT betas = kind >= 3 ? kind - 2 : 0;
            layout.positionFloats = 3;
            if (betas > 0 && (fvf & D3DFVF_LASTBETA_UBYTE4) != 0)
                layout.blendIndexOffset = static_cast<int>(12 + (betas - 1) * 4);
            offset += betas * 4;
        }
        break;
    }
    offset += static_cast<UINT>(layout.positionFloats) * 4;
    if (fvf & D3DFVF_NORMAL) {
        layout.normalOffset = static_cast<int>(offset);
        offset += 12;
    }
    if (fvf & D3DFVF_PSIZE) {
        layout.pointSizeOffset = static_cast<int>(offset);
        offset += 4;
    }
    if (fvf & D3DFVF_DIFFUSE) {
        layout.diffuseOffset = static_cast<int>(offset);
        offset += 4;
    }
    if (fvf & D3DFVF_SPECULAR) {
        layout.specularOffset = static_cast<int>(offset);
        offset += 4;
    }
    layout.texCount = static_cast<int>((fvf & D3DFVF_TEXCOUNT_MASK) >> 8);
    if (layout.texCount > 0) layout.texOffset = static_cast<int>(offset);
    // Two-float coordinate sets; the coordinate-size bits are not used here.
    offset += static_cast<UINT>(layout.texCount) * 8;
    layout.size = offset;
    return layout;
}

UINT VerticesForPrimitives(D3DPRIMITIVETYPE type, UINT primitiveCount)
{
    if (primitiveCount == 0) return 0;
    switch (type) {
    case D3DPT_POINTLIST: return primitiveCount;
    case D3DPT_LINELIST: return primitiveCount * 2;
    case D3DPT_LINESTRIP: return primitiveCount + 1;
    case D3DPT_TRIANGLELIST: return primitiveCount * 3;
    case D3DPT_TRIANGLESTRIP:
    case D3DPT_TRIANGLEFAN: return primitiveCount + 2;
    }
    return 0;
}

// ---------------------------------------------------------------------------

StateKeepingDevice::StateKeepingDevice() { state_.SetDefaults(640, 480, true); }

StateKeepingDevice::~StateKeepingDevice()
{
    ReleaseBindings();
    for (auto& t : state_.textures) {
        if (t != nullptr) t->Release();
        t = nullptr;
    }
}

void StateKeepingDevice::ReleaseBindings()
{
    for (Stream& stream : streams_) {
        if (stream.buffer != nullptr) stream.buffer->Release();
        stream = Stream{};
    }
    if (indices_ != nullptr) indices_->Release();
    indices_ = nullptr;
}

void StateKeepingDevice::RestoreDefaults(UINT backBufferWidth, UINT backBufferHeight, bool autoDepth)
{
    ReleaseBindings();
    for (auto& t : state_.textures) {
        if (t != nullptr) t->Release();
        t = nullptr;
    }
    state_.SetDefaults(backBufferWidth, backBufferHeight, autoDepth);
    OnStateChanged();
}

static D3DMATRIX* TransformSlot(DeviceState& state, D3DTRANSFORMSTATETYPE which)
{
    switch (which) {
    case D3DTS_WORLD: return &state.world;
    default:
        if (which > D3DTS_WORLD && which < D3DTS_WORLDMATRIX(DeviceState::kWorldMatrices))
            return &state.moreWorlds[which - D3DTS_WORLD - 1];
        break;
    case D3DTS_VIEW: return &state.view;
    case D3DTS_PROJECTION: return &state.projection;
    case D3DTS_TEXTURE0: return &state.texture0;
    }
    return nullptr;
}

namespace {

// The slot of a table entry, or null for an index out of range.
template <typename T, std::size_t N>
T* At(T (&table)[N], DWORD i)
{
    return i < N ? &table[i] : nullptr;
}

template <typename T, std::size_t N, std::size_t M>
T* At(T (&table)[N][M], DWORD i, DWORD j)
{
    return i < N && j < M ? &table[i][j] : nullptr;
}

// What every Get* call does once it knows the slot (null: none).
template <typename T>
HRESULT CopyOut(const T* slot, T* out)
{
    if (slot == nullptr || out == nullptr) return D3DERR_INVALIDCALL;
    *out = *slot;
    return D3D_OK;
}

}  // namespace

template <typename T>
HRESULT StateKeepingDevice::Change(T* slot, const T* value)
{
    if (slot == nullptr || value == nullptr) return D3DERR_INVALIDCALL;
    if (std::memcmp(slot, value, sizeof *slot) != 0) {
        *slot = *value;
        OnStateChanged();
    }
    return D3D_OK;
}

HRESULT StateKeepingDevice::SetTransform(D3DTRANSFORMSTATETYPE which, const D3DMATRIX* matrix)
{
    return Change(TransformSlot(state_, which), matrix);
}

HRESULT StateKeepingDevice::GetTransform(D3DTRANSFORMSTATETYPE which, D3DMATRIX* matrix)
{
    return CopyOut(TransformSlot(state_, which), matrix);
}

HRESULT StateKeepingDevice::SetViewport(const D3DVIEWPORT9* viewport) { return Change(&state_.viewport, viewport); }
HRESULT StateKeepingDevice::GetViewport(D3DVIEWPORT9* viewport) { return CopyOut(&state_.viewport, viewport); }
HRESULT StateKeepingDevice::SetMaterial(const D3DMATERIAL9* material) { return Change(&state_.material, material); }

HRESULT StateKeepingDevice::SetLight(DWORD index, const D3DLIGHT9* light)
{
    if (light == nullptr || index >= DeviceState::kLights) return D3DERR_INVALIDCALL;
    if (!state_.lightSet[index]) {
        state_.lights[index] = *light;
        state_.lightSet[index] = TRUE;
        OnStateChanged();
        return D3D_OK;
    }
    return Change(&state_.lights[index], light);
}

HRESULT StateKeepingDevice::LightEnable(DWORD index, BOOL enable)
{
    if (index >= DeviceState::kLights) return D3DERR_INVALIDCALL;
    if (!state_.lightSet[index]) {
        // As in Direct3D: enabling a light never set gives a white directional light along +z.
        D3DLIGHT9 light{};
        light.Type = D3DLIGHT_DIRECTIONAL;
        light.Diffuse = {1.0f, 1.0f, 1.0f, 0.0f};
        light.Direction = {0.0f, 0.0f, 1.0f};
        state_.lights[index] = light;
        state_.lightSet[index] = TRUE;
    }
    const BOOL value = enable ? TRUE : FALSE;
    return Change(&state_.lightEnabled[index], &value);
}

HRESULT StateKeepingDevice::SetRenderState(D3DRENDERSTATETYPE which, DWORD value)
{
    return Change(At(state_.renderStates, which), &value);
}

HRESULT StateKeepingDevice::GetRenderState(D3DRENDERSTATETYPE which, DWORD* value)
{
    return CopyOut(At(state_.renderStates, which), value);
}

HRESULT StateKeepingDevice::SetTexture(DWORD stage, IDirect3DTexture9* texture)
{
    if (stage >= DeviceState::kStages) return D3DERR_INVALIDCALL;
    IDirect3DTexture9*& slot = state_.textures[stage];
    if (slot == texture) return D3D_OK;
    if (texture != nullptr) texture->AddRef();
    if (slot != nullptr) slot->Release();
    slot = texture;
    OnStateChanged();
    return D3D_OK;
}

HRESULT StateKeepingDevice::GetTexture(DWORD stage, IDirect3DTexture9** texture)
{
    if (stage >= DeviceState::kStages || texture == nullptr) return D3DERR_INVALIDCALL;
    *texture = state_.textures[stage];
    if (*texture != nullptr) (*texture)->AddRef();
    return D3D_OK;
}

HRESULT StateKeepingDevice::SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value)
{
    return Change(At(state_.stageStates, stage, type), &value);
}

HRESULT StateKeepingDevice::GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD* value)
{
    return CopyOut(At(state_.stageStates, stage, type), value);
}

HRESULT StateKeepingDevice::SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value)
{
    return Change(At(state_.samplerStates, sampler, type), &value);
}

HRESULT StateKeepingDevice::GetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD* value)
{
    return CopyOut(At(state_.samplerStates, sampler, type), value);
}

HRESULT StateKeepingDevice::SetFVF(DWORD fvf) { return Change(&state_.fvf, &fvf); }
HRESULT StateKeepingDevice::GetFVF(DWORD* fvf) { return CopyOut(&state_.fvf, fvf); }

HRESULT StateKeepingDevice::CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format,
                                          D3DPOOL pool, IDirect3DTexture9** texture, void*)
{
    if (texture == nullptr) return D3DERR_INVALIDCALL;
    *texture = nullptr;
    if (width == 0 || height == 0 || width > 8192 || height > 8192) return D3DERR_INVALIDCALL;
    // Everything is kept as 32-bit ARGB; the formats that mean something else are refused.
    if (format != D3DFMT_A8R8G8B8 && format != D3DFMT_X8R8G8B8) return D3DERR_INVALIDCALL;
    *texture = new MemoryTexture(width, height, levels, format, pool, usage);
    return D3D_OK;
}

HRESULT StateKeepingDevice::CreateVertexBuffer(UINT length, DWORD, DWORD, D3DPOOL, IDirect3DVertexBuffer9** buffer,
                                               void*)
{
    if (buffer == nullptr) return D3DERR_INVALIDCALL;
    *buffer = nullptr;
    if (length == 0 || length > (256u << 20)) return D3DERR_INVALIDCALL;
    *buffer = new MemoryVertexBuffer(length);
    return D3D_OK;
}

HRESULT StateKeepingDevice::CreateIndexBuffer(UINT length, DWORD, D3DFORMAT format, D3DPOOL,
                                              IDirect3DIndexBuffer9** buffer, void*)
{
    if (buffer == nullptr) return D3DERR_INVALIDCALL;
    *buffer = nullptr;
    if (length == 0 || length > (256u << 20)) return D3DERR_INVALIDCALL;
    if (format != D3DFMT_INDEX16 && format != D3DFMT_INDEX32) return D3DERR_INVALIDCALL;
    *buffer = new MemoryIndexBuffer(length, format);
    return D3D_OK;
}

HRESULT StateKeepingDevice::SetStreamSource(UINT stream, IDirect3DVertexBuffer9* buffer, UINT offset, UINT stride)
{
    if (stream >= kStreams) return D3DERR_INVALIDCALL;
    Stream& slot = streams_[stream];
    auto* memory = static_cast<MemoryVertexBuffer*>(buffer);
    if (memory != nullptr) memory->AddRef();
    if (slot.buffer != nullptr) slot.buffer->Release();
    slot.buffer = memory;
    slot.offset = offset;
    slot.stride = stride;
    return D3D_OK;
}

HRESULT StateKeepingDevice::SetStreamSourceFreq(UINT stream, UINT setting)
{
    if (stream >= kStreams) return D3DERR_INVALIDCALL;
    streams_[stream].frequency = setting;
    return D3D_OK;
}

HRESULT StateKeepingDevice::SetIndices(IDirect3DIndexBuffer9* buffer)
{
    auto* memory = static_cast<MemoryIndexBuffer*>(buffer);
    if (memory != nullptr) memory->AddRef();
    if (indices_ != nullptr) indices_->Release();
    indices_ = memory;
    return D3D_OK;
}

UINT StateKeepingDevice::InstanceCount() const
{
    const UINT geometry = streams_[0].frequency;
    if ((geometry & D3DSTREAMSOURCE_INDEXEDDATA) == 0) return 1;
    const UINT count = geometry & 0xFFFFFFu;
    const Stream& instances = streams_[1];
    if (instances.buffer == nullptr || (instances.frequency & D3DSTREAMSOURCE_INSTANCEDATA) == 0 ||
        instances.stride < sizeof(InstanceRecord))
        return 0;
    const std::uint64_t needed = instances.offset + static_cast<std::uint64_t>(count) * instances.stride;
    return needed <= instances.buffer->Size() ? count : 0;
}

bool StateKeepingDevice::StreamsCover(UINT first, UINT count) const
{
    const Stream& s = streams_[0];
    if (s.buffer == nullptr || s.stride == 0 || count == 0) return false;
    const std::uint64_t end = s.offset + (static_cast<std::uint64_t>(first) + count) * s.stride;
    return end <= s.buffer->Size();
}
