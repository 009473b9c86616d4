// The calibration's save: arbitrary settings text and levels in. The first
// four bytes pick the threshold and the gain, the rest is the file as it
// was. A file the reader accepts must come out of the edit still accepted,
// holding the saved levels and every other setting as it was.
#include "app/Settings.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 4) return 0;
    const int threshold = 1 + (data[0] | data[1] << 8) % 32767;
    const double gainDb = ((data[2] | data[3] << 8) % 801 - 400) / 10.0;  // -40.0 to 40.0 dB in tenths
    const std::string original(reinterpret_cast<const char*>(data + 4), size - 4);

    Options before;
    std::string error;
    const bool readable = ReadSettingsText(original, "fuzz.toml", before, error);
    std::string edited;
    const bool saved = EditInputLevelsText(original, "fuzz.toml", threshold, gainDb, edited, error);
    if (!readable) return 0;  // a broken file may be refused; it is never written over then
    if (!saved) std::abort();
    Options after;
    if (!ReadSettingsText(edited, "fuzz.toml", after, error)) std::abort();
    if (after.threshold != threshold || std::fabs(after.gainDb - gainDb) > 1e-9) std::abort();
    if (after.inputDevice != before.inputDevice || after.displayIndex != before.displayIndex ||
        after.windowed != before.windowed || after.dataDir != before.dataDir || after.echo != before.echo ||
        after.logLevel != before.logLevel || after.statusFile != before.statusFile ||
        after.showProblems != before.showProblems || after.oscSend != before.oscSend ||
        after.oscListen != before.oscListen || after.httpListen != before.httpListen ||
        after.httpToken != before.httpToken || after.linkAnySource != before.linkAnySource)
        std::abort();
    return 0;
}
