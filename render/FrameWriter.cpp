// Frame pictures: read back the 640x480 back buffer, write it as RGB PNG.
#include "render/FrameWriter.h"

#include <cstdint>
#include <vector>

#include "common/Log.h"
#include "platform/files/PngFile.h"

bool WriteFrame(IDirect3DDevice9* device, const std::string& path)
{
    if (device == nullptr) return false;
    std::vector<std::uint8_t> rgb;
    UINT width = 0, height = 0;
    if (!device->ReadBackBuffer(rgb, width, height)) {
        LogLine("frames", "cannot read the back buffer for \"%s\"", path.c_str());
        return false;
    }
    std::string error;
    if (!platform::WritePng(path, width, height, platform::PixelLayout::Rgb, rgb.data(), &error)) {
        LogLine("frames", "cannot write \"%s\": %s", path.c_str(), error.c_str());
        return false;
    }
    return true;
}
