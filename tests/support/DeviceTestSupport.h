// Helpers for tests that draw: reference holders for device objects, a
// recording device with the installation's present parameters, and small
// picture files written on the fly.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/NonCopyable.h"
#include "platform/d3d9/RecordingDevice.h"
#include "platform/d3d9/d3d9.h"

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

// A fresh empty folder under the system temp folder for this test.
std::string TempDir();
// Writes an RGBA PNG (rows top first).
bool WriteRgbaPng(const std::string& path, unsigned width, unsigned height, const std::vector<std::uint8_t>& rgba);
// A solid-colour RGBA PNG.
bool WriteSolidPng(const std::string& path, unsigned width, unsigned height, std::uint8_t r, std::uint8_t g,
                   std::uint8_t b, std::uint8_t a);
// Writes raw bytes to a file.
bool WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);
std::vector<std::uint8_t> ReadBytes(const std::string& path);

}  // namespace testsupport
