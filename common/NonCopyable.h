// A base for classes that hold something that must have one owner: a
// descriptor, a device object, a library handle, a place others point at.
// Deriving from it says so at the top of the class; such a class is neither
// copied nor moved.
#pragma once

class NonCopyable {
public:
    NonCopyable(const NonCopyable&) = delete;
    NonCopyable& operator=(const NonCopyable&) = delete;

protected:
    NonCopyable() = default;
    ~NonCopyable() = default;
};
