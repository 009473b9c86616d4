// The Direct3D 9 style device on OpenGL 3.3 core (or OpenGL ES 3.0): the
// device front end over the OpenGL back end (GlDeviceBackEnd), made by the
// Direct3D object of the render device.
#include "platform/gl/GlDevice.h"

#include <SDL.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <memory>
#include <utility>

#include "common/Log.h"
#include "platform/d3d9/FrontEndDevice.h"
#include "platform/gl/GlDeviceBackEnd.h"
#include "platform/system/messages.h"

namespace {

class GlDirect3D9 final : public IDirect3D9 {
public:
    explicit GlDirect3D9(const GlDeviceOptions& options) : options_(options) {}

    HRESULT CreateDevice(UINT adapter, D3DDEVTYPE, HWND focusWindow, DWORD, D3DPRESENT_PARAMETERS* params,
                         IDirect3DDevice9** device) override
    {
        if (device == nullptr || params == nullptr || adapter != 0) return D3DERR_INVALIDCALL;
        *device = nullptr;
        // Every device type is the same OpenGL device; one that failed fails again.
        if (failed_) return D3DERR_NOTAVAILABLE;
        HWND window = params->hDeviceWindow != nullptr ? params->hDeviceWindow : focusWindow;
        if (window == nullptr || window->nativeWindow == nullptr) {
            LogLine("graphics", "cannot create the graphics device: no window to draw in");
            failed_ = true;
            return D3DERR_INVALIDCALL;
        }
        auto backEnd = GlDeviceBackEnd::Create(static_cast<SDL_Window*>(window->nativeWindow), *params, options_);
        if (backEnd == nullptr) {
            LogLine("graphics", "cannot create the graphics device on OpenGL");
            failed_ = true;
            return D3DERR_NOTAVAILABLE;
        }
        *device = new FrontEndDevice(std::move(backEnd), *params);
        return D3D_OK;
    }

private:
    GlDeviceOptions options_;
    bool failed_ = false;
};

}  // namespace

// NOTE: Mesa's software rasteriser takes fresh vertex storage for every
// draw, several megabytes for a frame of crystals and sparks. With glibc's
// default trimming the heap gives that memory back after each draw and the
// kernel maps and zero-fills it again for the next, which cost about 40 % of
// a full frame's CPU time. Keeping freed memory at the top of the heap lets
// it be reused.
static void KeepFreedMemoryForReuse()
{
#ifdef __GLIBC__
    static const bool tuned = mallopt(M_TRIM_THRESHOLD, 256 * 1024 * 1024) != 0;
    (void)tuned;
#endif
}

IDirect3D9* GlDirect3DCreate9WithOptions(UINT sdkVersion, const GlDeviceOptions& options)
{
    if (sdkVersion != D3D_SDK_VERSION) return nullptr;
    KeepFreedMemoryForReuse();
    return new GlDirect3D9(options);
}

IDirect3D9* GlDirect3DCreate9(UINT sdkVersion) { return GlDirect3DCreate9WithOptions(sdkVersion, GlDeviceOptions{}); }
