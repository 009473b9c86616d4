#include "platform/system/Keyboard.h"

#include <cstdlib>

namespace platform {

static bool ParseStep(const std::string& text, std::uint32_t& value)
{
    if (text.empty() || text.size() > 9) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    value = static_cast<std::uint32_t>(std::strtoul(text.c_str(), nullptr, 10));
    return value >= 1;
}

bool ParseKeyPress(const std::string& text, ScriptedPress& press, std::string& error)
{
    std::size_t at = text.find('@');
    if (at == std::string::npos) {
        error = "expected KEY@A or KEY@A-B, got \"" + text + "\"";
        return false;
    }
    std::string key = text.substr(0, at);
    if (key == "escape") press.virtualKey = VK_ESCAPE;
    else if (key == "left") press.virtualKey = VK_LEFT;
    else if (key == "right") press.virtualKey = VK_RIGHT;
    else if (key == "up") press.virtualKey = VK_UP;
    else if (key == "down") press.virtualKey = VK_DOWN;
    else if (key == "f1") press.virtualKey = VK_F1;
    else if (key == "s") press.virtualKey = VK_S;
    else {
        error = "unknown key \"" + key + "\" (escape, left, right, up, down, f1 or s)";
        return false;
    }
    std::string range = text.substr(at + 1);
    std::size_t dash = range.find('-');
    std::string a = range.substr(0, dash);
    std::string b = dash == std::string::npos ? a : range.substr(dash + 1);
    if (!ParseStep(a, press.first) || !ParseStep(b, press.last) || press.last < press.first) {
        error = "bad step range \"" + range + "\" (steps count from 1, A-B with A <= B)";
        return false;
    }
    return true;
}

void Keyboard::KeyDown(int virtualKey)
{
    if (virtualKey < 0 || virtualKey >= kKeys) return;
    down_[virtualKey] = true;
    pressedSinceQuery_[virtualKey] = true;
}

void Keyboard::KeyUp(int virtualKey)
{
    if (virtualKey < 0 || virtualKey >= kKeys) return;
    down_[virtualKey] = false;
}

SHORT Keyboard::GetAsyncKeyState(int virtualKey)
{
    if (virtualKey < 0 || virtualKey >= kKeys) return 0;
    SHORT state = 0;
    // As on Windows: the top bit says "down now", the low bit "pressed since the last query".
    if (down_[virtualKey]) state = static_cast<SHORT>(state | static_cast<SHORT>(0x8000));
    if (pressedSinceQuery_[virtualKey]) state = static_cast<SHORT>(state | 1);
    pressedSinceQuery_[virtualKey] = false;
    for (const ScriptedPress& press : script_)
        if (press.virtualKey == virtualKey && step_ >= press.first && step_ <= press.last)
            state = static_cast<SHORT>(state | static_cast<SHORT>(0x8000));
    return state;
}

}  // namespace platform
