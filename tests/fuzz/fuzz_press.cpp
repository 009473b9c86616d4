// Feeds arbitrary text to --press, as the command line would hand it over:
// a press it accepts names one of the installation's keys over an ordered
// range of steps, and the keyboard it is scripted into answers only within
// that range.
#include "app/CommandLine.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/system/Keyboard.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    const char* argv[] = {"solvane", "--press", text.c_str()};
    Options options;
    std::string error;
    if (!ParseCommandLine(3, argv, options, error)) {
        if (error.empty()) std::abort();
        return 0;
    }
    if (options.presses.size() != 1) std::abort();
    const KeyPress& press = options.presses.front();
    if (press.first < 1 || press.last < press.first || press.virtualKey <= 0 || press.virtualKey > 0xff) std::abort();
    platform::Keyboard keyboard;
    keyboard.AddScript(platform::ScriptedPress{press.virtualKey, press.first, press.last});
    // Before, at both ends of and after the range.
    for (const std::uint32_t step : {press.first - 1, press.first, press.last, press.last + 1}) {
        if (step == 0 || (step == press.last + 1 && press.last == UINT32_MAX)) continue;
        keyboard.SetStep(step);
        const bool held = keyboard.GetAsyncKeyState(press.virtualKey) != 0;
        if (held != (step >= press.first && step <= press.last)) std::abort();
    }
    return 0;
}
