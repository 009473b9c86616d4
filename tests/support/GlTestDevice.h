// The OpenGL device on an offscreen window, shared by the pixel tests of a
// test program. Tests skip (with the reason) where no OpenGL context can be
// made at all; a device that fails to build on a working context fails.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/gl/GlDevice.h"
#include "platform/d3d9/d3d9.h"

namespace testsupport {

// The window's handle, or null with the reason.
HWND OffscreenGlWindow(std::string* reason);
// A new OpenGL device on that window (one reference), or null.
IDirect3DDevice9* NewGlDevice(const GlDeviceOptions& options = {});

// A read-back frame with pixel access.
struct Frame {
    UINT width = 0;
    UINT height = 0;
    std::vector<std::uint8_t> rgb;
    const std::uint8_t* At(UINT x, UINT y) const { return rgb.data() + (static_cast<std::size_t>(y) * width + x) * 3; }
    int R(UINT x, UINT y) const { return At(x, y)[0]; }
    int G(UINT x, UINT y) const { return At(x, y)[1]; }
    int B(UINT x, UINT y) const { return At(x, y)[2]; }
};
Frame ReadFrame(IDirect3DDevice9* device);
// Writes the frame as PNG to $SOLVANE_TEST_FRAMES/<name>.png when that variable is set.
void KeepFrame(const Frame& frame, const std::string& name);

}  // namespace testsupport
