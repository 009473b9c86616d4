// Device creation with fall-backs, default pipeline state and loss recovery.
#include "render/RenderDevice.h"

#include <cstring>

#include "platform/system/DebugOutput.h"
#include "platform/gl/GlDevice.h"
#include "platform/d3d9/d3dx9.h"

namespace {

template <typename T>
void ReleaseAndClear(T*& object)
{
    if (object != nullptr) object->Release();
    object = nullptr;
}

}  // namespace

RenderDevice::RenderDevice() : factory_(GlDirect3DCreate9) {}

RenderDevice::~RenderDevice() { ReleaseAll(); }

bool RenderDevice::CreateDevice(HWND window, int width, int height, bool windowed)
{
    // Choosing the factory is what loading "d3d9.dll" and looking up its
    // entry point was: no entry point, no device.
    library_ = factory_;
    if (library_ == nullptr) return false;
    direct3D_ = library_(D3D_SDK_VERSION);
    if (direct3D_ == nullptr) return false;

    logicalWidth_ = width;
    logicalHeight_ = height;

    presentParameters_ = PresentParametersFor(window, width, height, windowed);

    static const D3DDEVTYPE kTypes[] = {D3DDEVTYPE_HAL, D3DDEVTYPE_REF, D3DDEVTYPE_SW};
    static const DWORD kBehaviours[] = {D3DCREATE_HARDWARE_VERTEXPROCESSING, D3DCREATE_MIXED_VERTEXPROCESSING,
                                        D3DCREATE_SOFTWARE_VERTEXPROCESSING};
    bool created = false;
    for (D3DDEVTYPE type : kTypes) {
        for (DWORD behaviour : kBehaviours) {
            if (SUCCEEDED(direct3D_->CreateDevice(0, type, window, behaviour, &presentParameters_, &device_)) &&
                device_ != nullptr) {
                created = true;
                break;
            }
            device_ = nullptr;
        }
        if (created) break;
    }
    if (!created) return false;

    ApplyDefaultStates();
    Resize(window);
    return true;
}

void RenderDevice::ApplyDefaultStates()
{
    IDirect3DDevice9* d = device_;
    if (d == nullptr) return;

    d->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
    d->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
    d->SetRenderState(D3DRS_ALPHAREF, 0);
    d->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATER);
    d->SetRenderState(D3DRS_AMBIENT, 0x888888);
    d->SetRenderState(D3DRS_LIGHTING, TRUE);
    d->SetRenderState(D3DRS_CULLMODE, D3DCULL_CCW);
    d->SetRenderState(D3DRS_MULTISAMPLEANTIALIAS, TRUE);
    d->SetRenderState(D3DRS_MULTISAMPLEMASK, 0x7FFFFFFF);

    D3DXMATRIX view;
    D3DXVECTOR3 eye(0.0f, 120.0f, -120.0f), at(0.0f, 0.0f, 0.0f), up(0.0f, 1.0f, 0.0f);
    D3DXMatrixLookAtLH(&view, &eye, &at, &up);
    d->SetTransform(D3DTS_VIEW, &view);

    D3DXMATRIX projection;
    D3DXMatrixOrthoLH(&projection, 1.0f, 1.0f, 0.0f, 10000.0f);
    d->SetTransform(D3DTS_PROJECTION, &projection);

    SetWhiteMaterial(d, 0.1f);

    D3DLIGHT9 light{};
    light.Type = D3DLIGHT_DIRECTIONAL;
    light.Diffuse = {1.0f, 1.0f, 1.0f, 0.0f};
    light.Specular = {1.0f, 1.0f, 1.0f, 0.0f};
    light.Ambient = {0.5f, 0.5f, 0.5f, 0.0f};
    light.Position = {0.0f, 0.0f, 0.0f};
    D3DXVECTOR3 direction(0.0f, -8.0f, 0.0f);
    D3DXVec3Normalize(&direction, &direction);
    light.Direction = direction;
    d->SetLight(0, &light);
    d->LightEnable(0, TRUE);

    d->SetTexture(0, nullptr);

    d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    d->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
    d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
    d->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);

    d->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
    d->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
    d->SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_LINEAR);

    d->SetRenderState(D3DRS_FOGENABLE, TRUE);
    d->SetRenderState(D3DRS_FOGCOLOR, 0x000000FF);
    d->SetRenderState(D3DRS_FOGVERTEXMODE, D3DFOG_LINEAR);
    float fogStart = 110.0f, fogEnd = 280.0f;
    DWORD bits;
    std::memcpy(&bits, &fogStart, sizeof bits);
    d->SetRenderState(D3DRS_FOGSTART, bits);
    std::memcpy(&bits, &fogEnd, sizeof bits);
    d->SetRenderState(D3DRS_FOGEND, bits);
    d->SetRenderState(D3DRS_RANGEFOGENABLE, TRUE);
}

bool RenderDevice::Resize(HWND)
{
    // NOTE: the back buffer keeps the logical screen size given to
    // CreateDevice (640x480) whatever the window's client area is. The
    // device presents it scaled to the window with its aspect kept, so the
    // 2D layout, the fade quad and the projection's aspect stay those of the
    // logical screen on any display.
    const int width = logicalWidth_;
    const int height = logicalHeight_;
    presentParameters_.BackBufferWidth = static_cast<UINT>(width);
    presentParameters_.BackBufferHeight = static_cast<UINT>(height);

    ResetDevice();

    if (device_ != nullptr) {
        D3DXMATRIX projection;
        D3DXMatrixPerspectiveFovLH(&projection, 0.7853982f, static_cast<float>(width) / static_cast<float>(height),
                                   1.0f, 1000.0f);
        device_->SetTransform(D3DTS_PROJECTION, &projection);

        D3DVIEWPORT9 viewport{0, 0, static_cast<DWORD>(width), static_cast<DWORD>(height), 0.0f, 1.0f};
        device_->SetViewport(&viewport);
    }
    return true;
}

bool RenderDevice::ResetDevice()
{
    for (DeviceResource* resource : resources_) resource->OnDeviceLost(this);

    ReleaseAndClear(backBuffer_);
    ReleaseAndClear(depthStencil_);

    if (device_ == nullptr) return false;
    HRESULT hr = device_->Reset(&presentParameters_);
    if (FAILED(hr)) {
        switch (hr) {
        case D3DERR_DEVICELOST: OutputDebugStringA("D3DERR_DEVICELOST\n"); break;
        case D3DERR_DRIVERINTERNALERROR: OutputDebugStringA("D3DERR_DRIVERINTERNALERROR\n"); break;
        case D3DERR_INVALIDCALL: OutputDebugStringA("D3DERR_INVALIDCALL\n"); break;
        case D3DERR_OUTOFVIDEOMEMORY: OutputDebugStringA("D3DERR_OUTOFVIDEOMEMORY\n"); break;
        case E_OUTOFMEMORY: OutputDebugStringA("E_OUTOFMEMORY\n"); break;
        default: break;
        }
        return false;
    }

    ApplyDefaultStates();
    if (FAILED(device_->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &backBuffer_))) {
        backBuffer_ = nullptr;
        return false;
    }
    if (FAILED(device_->GetDepthStencilSurface(&depthStencil_))) {
        depthStencil_ = nullptr;
        return false;
    }
    for (DeviceResource* resource : resources_) resource->OnDeviceReset(this);
    return true;
}

void RenderDevice::ReleaseAll()
{
    ReleaseAndClear(backBuffer_);
    ReleaseAndClear(depthStencil_);
    resources_.Clear();
    ReleaseAndClear(device_);
    ReleaseAndClear(direct3D_);
    library_ = nullptr;
}

void SetWhiteMaterial(IDirect3DDevice9* device, float ambient)
{
    D3DMATERIAL9 material{};
    material.Diffuse = {1.0f, 1.0f, 1.0f, 1.0f};
    material.Ambient = {ambient, ambient, ambient, 1.0f};
    material.Specular = {1.0f, 1.0f, 1.0f, 1.0f};
    material.Emissive = {0.0f, 0.0f, 0.0f, 0.0f};
    material.Power = 10.0f;
    device->SetMaterial(&material);
    device->SetRenderState(D3DRS_SPECULARMATERIALSOURCE, D3DMCS_MATERIAL);
}

D3DPRESENT_PARAMETERS RenderDevice::PresentParametersFor(HWND window, int width, int height, bool windowed)
{
    // Whatever is not set stays zero: no multisampling, the display's own
    // refresh rate.
    D3DPRESENT_PARAMETERS pp{};
    pp.EnableAutoDepthStencil = TRUE;
    pp.AutoDepthStencilFormat = D3DFMT_D16;
    pp.Flags = D3DPRESENTFLAG_LOCKABLE_BACKBUFFER;
    if (windowed) {
        pp.BackBufferFormat = D3DFMT_UNKNOWN;
        pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
        pp.Windowed = TRUE;
        pp.PresentationInterval = D3DPRESENT_INTERVAL_DEFAULT;
        return pp;
    }
    pp.BackBufferWidth = static_cast<UINT>(width);
    pp.BackBufferHeight = static_cast<UINT>(height);
    pp.BackBufferFormat = D3DFMT_X8R8G8B8;
    pp.BackBufferCount = 1;
    pp.SwapEffect = D3DSWAPEFFECT_COPY;
    pp.hDeviceWindow = window;
    pp.PresentationInterval = D3DPRESENT_INTERVAL_ONE;
    return pp;
}
