// The one graphics device of the installation: created for the main window
// with a fixed fall-back order, given the fixed-function pipeline's default
// state (camera, light, material, fog, texture stage), and restored after a
// loss. Objects that hold device-dependent sprites register in Resources
// and are told before and after every reset, in the order they registered.
//
// The Direct3D object comes from a factory function: by default the OpenGL
// backend; tests choose the recording device instead.
#pragma once

#include "common/NonCopyable.h"
#include "common/PointerList.h"
#include "platform/d3d9/d3d9.h"
#include "render/DeviceResource.h"

class RenderDevice final : NonCopyable {
public:
    RenderDevice();
    ~RenderDevice();

    // Chooses the backend; call before CreateDevice. Null means none (creation fails).
    void SetDirect3DFactory(Direct3DCreate9Function factory) { factory_ = factory; }

    bool CreateDevice(HWND window, int width, int height, bool windowed);
    virtual void ApplyDefaultStates();
    bool Resize(HWND window);
    bool ResetDevice();
    void ReleaseAll();

    // What CreateDevice asks for: full screen at width x height, one back
    // buffer copied to the screen at the display's rate, or a window that
    // keeps its own size; a lockable back buffer and a 16-bit depth buffer.
    static D3DPRESENT_PARAMETERS PresentParametersFor(HWND window, int width, int height, bool windowed);

    IDirect3DDevice9* Device() const { return device_; }
    IDirect3D9* Direct3D() const { return direct3D_; }
    IDirect3DSurface9* BackBuffer() const { return backBuffer_; }
    IDirect3DSurface9* DepthStencil() const { return depthStencil_; }
    const D3DPRESENT_PARAMETERS& PresentParameters() const { return presentParameters_; }
    PointerList<DeviceResource>& Resources() { return resources_; }
    const PointerList<DeviceResource>& Resources() const { return resources_; }

private:
    // Stands in for the library handle: the entry point that CreateDevice
    // looked up, kept until ReleaseAll.
    Direct3DCreate9Function library_ = nullptr;
    IDirect3D9* direct3D_ = nullptr;
    IDirect3DDevice9* device_ = nullptr;
    IDirect3DSurface9* backBuffer_ = nullptr;
    IDirect3DSurface9* depthStencil_ = nullptr;
    D3DPRESENT_PARAMETERS presentParameters_{};
    PointerList<DeviceResource> resources_;

    Direct3DCreate9Function factory_;
    // The logical screen size given to CreateDevice (see Resize).
    int logicalWidth_ = 640;
    int logicalHeight_ = 480;
};

// The material of what the scene lights: white diffuse and specular (power
// 10), nothing emitted, an ambient grey of `ambient`; the specular colour is
// taken from it.
void SetWhiteMaterial(IDirect3DDevice9* device, float ambient);
