// Placeholder until the OpenGL device lands.
#include "platform/GlDevice.h"

#include "common/Log.h"

IDirect3D9* GlDirect3DCreate9WithOptions(UINT, const GlDeviceOptions&)
{
    LogLine("graphics", "the OpenGL device is not available in this build");
    return nullptr;
}

IDirect3D9* GlDirect3DCreate9(UINT sdkVersion) { return GlDirect3DCreate9WithOptions(sdkVersion, GlDeviceOptions{}); }
