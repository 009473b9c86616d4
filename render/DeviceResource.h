// Objects that hold device-dependent objects (sprites) and must be told
// before and after every device reset. They register with the RenderDevice.
#pragma once

class RenderDevice;

class DeviceResource {
public:
    virtual ~DeviceResource() = default;
    virtual bool OnDeviceLost(RenderDevice* device) = 0;
    virtual bool OnDeviceReset(RenderDevice* device) = 0;
};
