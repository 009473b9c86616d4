// Helpers for tests that draw: reference holders for device objects, a
// recording device with the installation's present parameters, and small
// picture files written on the fly.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "common/NonCopyable.h"
#include "platform/d3d9/RecordingDevice.h"
#include "platform/d3d9/d3d9.h"

class RenderDevice;

namespace testsupport {

// Holds one reference and gives it up at the end of the scope.
template <typename T>
class Ref : NonCopyable {
public:
    Ref() = default;
    explicit Ref(T* object) : object_(object) {}
    ~Ref() { Reset(); }
    T* get() const { return object_; }
    T* operator->() const { return object_; }
    T** out()
    {
        Reset();
        return &object_;
    }
    void Reset()
    {
        if (object_ != nullptr) object_->Release();
        object_ = nullptr;
    }
    explicit operator bool() const { return object_ != nullptr; }

private:
    T* object_ = nullptr;
};

// Present parameters of the full-screen 640x480 device.
D3DPRESENT_PARAMETERS FullScreenParameters();
// A recording device as RenderDevice would create it (one reference).
RecordingDevice* NewRecordingDevice();

// The renderer's device made as the installation makes it (full screen,
// 640x480), on the recording device; null when that fails.
RecordingDevice* CreateRecordingDevice(RenderDevice& renderer);

struct RenderStateIs {
    D3DRENDERSTATETYPE state;
    DWORD value;
};
// Each render state listed holds its value in `s`; a failure names the state.
void ExpectRenderStates(const DeviceState& s, std::initializer_list<RenderStateIs> expected);

// A fresh empty folder under the system temp folder for this test.
std::string TempDir();
// Writes an RGBA PNG (rows top first).
bool WriteRgbaPng(const std::string& path, unsigned width, unsigned height, const std::vector<std::uint8_t>& rgba);
// A solid-colour RGBA PNG.
bool WriteSolidPng(const std::string& path, unsigned width, unsigned height, std::uint8_t r, std::uint8_t g,
                   std::uint8_t b, std::uint8_t a);
// A 24-bit bottom-up BMP of A8R8G8B8 pixels given top row first (alpha dropped).
std::vector<std::uint8_t> Bmp24(int width, int height, const std::vector<std::uint32_t>& argbTopFirst);
// Writes raw bytes to a file.
bool WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);
std::vector<std::uint8_t> ReadBytes(const std::string& path);

}  // namespace testsupport
