// A hidden window on SDL's offscreen video driver, for tests and benchmarks
// that draw with the OpenGL device without a display (Mesa's llvmpipe
// renders on the CPU). The installation's own window lives in app/.
#pragma once

#include <string>

#include "common/NonCopyable.h"
#include "platform/system/messages.h"

class OffscreenWindow : NonCopyable {
public:
    OffscreenWindow() = default;
    ~OffscreenWindow();

    // Starts SDL's offscreen video driver if no video driver runs yet, makes
    // the window and checks that an OpenGL context can be made on it. False
    // with the reason when not.
    bool Open(int width, int height, std::string* reason = nullptr);
    HWND Handle() { return &record_; }
    bool IsOpen() const { return record_.nativeWindow != nullptr; }

private:
    HWND__ record_{};
    bool startedVideo_ = false;
};
