// Feeds arbitrary bytes to the settings file's reader, as if they were
// solvane.toml: broken TOML is refused with a line, and whatever it accepts
// lands in Options within the documented ranges.
#include "app/Settings.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/CommandLine.h"
#include "common/Level.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // A copy of exactly `size` bytes, so that a read past the text is a read
    // past a heap block.
    const std::string text(reinterpret_cast<const char*>(data), size);
    Options options;
    std::string error;
    if (!ReadSettingsText(text, "fuzz.toml", options, error)) {
        if (error.empty()) std::abort();  // a refusal always says why
        return 0;
    }
    if (!level::IsValidThreshold(options.threshold) || !level::IsValidGainDb(options.gainDb) ||
        !std::isfinite(options.gainDb) || options.displayIndex < 0 || options.displayIndex > 63 ||
        options.dataDir.empty() || !IsLogLevelName(options.logLevel))
        std::abort();
    return 0;
}
