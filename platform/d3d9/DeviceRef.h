// One owned reference to a reference-counted device object (a buffer, a
// texture): released when the holder goes, movable, not copyable. For
// members whose lifetime is their owner's.
#pragma once

#include <utility>

template <typename T>
class DeviceRef {
public:
    DeviceRef() = default;
    explicit DeviceRef(T* object) : object_(object) {}
    DeviceRef(const DeviceRef&) = delete;
    DeviceRef& operator=(const DeviceRef&) = delete;
    DeviceRef(DeviceRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    DeviceRef& operator=(DeviceRef&& other) noexcept
    {
        if (this != &other) Reset(std::exchange(other.object_, nullptr));
        return *this;
    }
    ~DeviceRef() { Reset(); }

    void Reset(T* object = nullptr)
    {
        if (object_ != nullptr) object_->Release();
        object_ = object;
    }
    T* Get() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }
    // For creation calls that fill a T**: the old reference is released first.
    T** Out()
    {
        Reset();
        return &object_;
    }

private:
    T* object_ = nullptr;
};
