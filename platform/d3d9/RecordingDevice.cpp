// The recording device: state kept, draws recorded, nothing drawn.
#include "platform/d3d9/RecordingDevice.h"

#include <algorithm>
#include <memory>

RecordingDevice::RecordingDevice(const D3DPRESENT_PARAMETERS& params)
    : FrontEndDevice(std::make_unique<RecordingBackEnd>(), params),
      recorder_(static_cast<RecordingBackEnd&>(BackEnd()))
{
}

RecordingDevice::~RecordingDevice() = default;

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
