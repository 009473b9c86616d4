// Feeds arbitrary bytes to `--show-status` as if they were the status file:
// anyone who could write its folder could have written them. The report
// must hold no control character but its own line ends, whatever the
// numbers and strings in the file.
#include "operator/StatusFile.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include <nlohmann/json.hpp>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0) return 0;
    // The first byte is the file's age in seconds: fresh or stale.
    const double age = data[0];
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    const nlohmann::json status = nlohmann::json::parse(text, nullptr, false);
    if (status.is_discarded() || !status.is_object()) return 0;
    const std::string report = DescribeStatus(status, age);
    int lines = 0;
    for (std::size_t i = 0; i < report.size(); ++i) {
        const auto byte = static_cast<unsigned char>(report[i]);
        if (byte == '\n') ++lines;
        else if (byte < 0x20 || byte == 0x7f) std::abort();
        else if (byte == 0xc2 && i + 1 < report.size() && static_cast<unsigned char>(report[i + 1]) >= 0x80 &&
                 static_cast<unsigned char>(report[i + 1]) <= 0x9f)
            std::abort();
    }
    // Six lines, and one more for a stale file: a forged string adds none.
    if (lines != 6 + (age > kStatusStaleSeconds ? 1 : 0)) std::abort();
    return 0;
}
