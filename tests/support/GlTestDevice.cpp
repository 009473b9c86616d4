// Offscreen OpenGL device for pixel tests.
#include "support/GlTestDevice.h"

#include <cstdlib>

#include "platform/files/PngFile.h"
#include "platform/system/OffscreenWindow.h"
#include "support/DeviceTestSupport.h"

namespace testsupport {

namespace {

OffscreenWindow& Window()
{
    static OffscreenWindow window;
    return window;
}

}  // namespace

HWND OffscreenGlWindow(std::string* reason)
{
    static bool tried = false;
    static std::string failure;
    if (!tried) {
        tried = true;
        Window().Open(640, 480, &failure);
    }
    if (!Window().IsOpen()) {
        if (reason) *reason = failure;
        return nullptr;
    }
    return Window().Handle();
}

IDirect3DDevice9* NewGlDevice(const GlDeviceOptions& options)
{
    HWND window = OffscreenGlWindow(nullptr);
    if (window == nullptr) return nullptr;
    IDirect3D9* d3d = GlDirect3DCreate9WithOptions(D3D_SDK_VERSION, options);
    if (d3d == nullptr) return nullptr;
    D3DPRESENT_PARAMETERS pp = FullScreenParameters();
    pp.hDeviceWindow = window;
    pp.PresentationInterval = D3DPRESENT_INTERVAL_DEFAULT;  // no waiting for the display
    IDirect3DDevice9* device = nullptr;
    d3d->CreateDevice(0, D3DDEVTYPE_HAL, window, D3DCREATE_HARDWARE_VERTEXPROCESSING, &pp, &device);
    d3d->Release();
    return device;
}

Frame ReadFrame(IDirect3DDevice9* device)
{
    Frame frame;
    device->ReadBackBuffer(frame.rgb, frame.width, frame.height);
    return frame;
}

void KeepFrame(const Frame& frame, const std::string& name)
{
    const char* dir = std::getenv("SOLVANE_TEST_FRAMES");
    if (dir == nullptr || *dir == '\0' || frame.rgb.empty()) return;
    platform::WritePng(std::string(dir) + "/" + name + ".png", frame.width, frame.height, platform::PixelLayout::Rgb,
                       frame.rgb.data());
}

}  // namespace testsupport
