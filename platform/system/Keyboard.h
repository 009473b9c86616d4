// GetAsyncKeyState for the keys the installation reads (Escape, the arrows,
// F1 for the diagnostics panel, S to save the calibration): non-zero while the key is down, or when it was pressed
// since the previous query for that key.
//
// Two sources feed it: the window's key events, and the keys scripted with
// --press KEY@A-B, which are held during scene steps A to B.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/system/win32types.h"

using SHORT = std::int16_t;

namespace platform {

struct ScriptedPress {
    int virtualKey = 0;
    std::uint32_t first = 0;  // scene steps, inclusive
    std::uint32_t last = 0;
};

// Parses "escape@100", "left@5-20". Returns false with a reason on bad text.
bool ParseKeyPress(const std::string& text, ScriptedPress& press, std::string& error);

class Keyboard {
public:
    // Called by the window on key events (virtual key codes).
    void KeyDown(int virtualKey);
    void KeyUp(int virtualKey);

    void AddScript(const ScriptedPress& press) { script_.push_back(press); }
    // The scene step now being made; scripted keys follow it.
    void SetStep(std::uint32_t step) { step_ = step; }

    SHORT GetAsyncKeyState(int virtualKey);

private:
    static constexpr int kKeys = 256;
    std::array<bool, kKeys> down_{};
    std::array<bool, kKeys> pressedSinceQuery_{};
    std::vector<ScriptedPress> script_;
    std::uint32_t step_ = 0;
};

}  // namespace platform
