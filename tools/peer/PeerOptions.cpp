// Parsing of solvane-peer's command line.
#include "PeerOptions.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

// Whole decimal numbers in [low, high] only: "12x", "" and overflow are refused.
bool ParseNumber(const char* text, long long low, long long high, long long& value)
{
    if (text == nullptr || *text == '\0') return false;
    errno = 0;
    char* end = nullptr;
    long long parsed = std::strtoll(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || parsed < low || parsed > high) return false;
    value = parsed;
    return true;
}

}  // namespace

const char* PeerUsage()
{
    return "usage: solvane-peer [--port P] [--pictures DIR] [--interval-ms MS] [--count N] [--summary-s S]\n"
           "                    [--places-per-address N]\n"
           "The peer's half of the Solvane network link: greets up to eight installations,\n"
           "learns their UDP addresses from their registrations and sends each of them a\n"
           "128x128 RGB picture every MS milliseconds.\n"
           "  --port P          TCP and UDP port to serve on (default 47000; 0 picks a free one;\n"
           "                    ports below 1024 need administrator privileges)\n"
           "  --pictures DIR    cycle through the PNG and BMP files of DIR, scaled to 128x128\n"
           "                    (default: generated pictures)\n"
           "  --interval-ms MS  time between two pictures (default 1000, at least 10)\n"
           "  --count N         end after sending N pictures (default 0: run until interrupted)\n"
           "  --summary-s S     seconds between two lines that say how many pictures each\n"
           "                    installation was sent (default 60)\n"
           "  --places-per-address N  the most of the eight places that connections from one\n"
           "                    machine address may hold (default 2, 1 to 8)\n"
           "  --version, --help\n";
}

bool ParsePeerOptions(int argc, const char* const* argv, PeerOptions& options, std::string& error)
{
    for (int i = 1; i < argc; ++i) {
        std::string option = argv[i];
        if (option == "--help" || option == "-h") {
            options.showHelp = true;
            continue;
        }
        if (option == "--version") {
            options.showVersion = true;
            continue;
        }
        bool takesValue = option == "--port" || option == "--pictures" || option == "--interval-ms" ||
                          option == "--count" || option == "--summary-s" ||
                          option == "--places-per-address";
        if (!takesValue) {
            error = "unknown option \"" + option + "\" (see --help)";
            return false;
        }
        if (i + 1 >= argc) {
            error = option + " needs a value";
            return false;
        }
        const char* value = argv[++i];
        long long number = 0;
        if (option == "--port") {
            if (!ParseNumber(value, 0, 65535, number)) {
                error = "--port needs a number from 0 to 65535, not \"" + std::string(value) + "\"";
                return false;
            }
            options.port = static_cast<int>(number);
        } else if (option == "--pictures") {
            if (*value == '\0') {
                error = "--pictures needs a folder";
                return false;
            }
            options.picturesDir = value;
        } else if (option == "--interval-ms") {
            if (!ParseNumber(value, 10, 3600000, number)) {
                error = "--interval-ms needs a number of milliseconds from 10 to 3600000, not \"" +
                        std::string(value) + "\"";
                return false;
            }
            options.intervalMs = static_cast<int>(number);
        } else if (option == "--summary-s") {
            if (!ParseNumber(value, 1, 86400, number)) {
                error = "--summary-s needs a number of seconds from 1 to 86400, not \"" + std::string(value) + "\"";
                return false;
            }
            options.summarySeconds = static_cast<int>(number);
        } else if (option == "--places-per-address") {
            if (!ParseNumber(value, 1, 8, number)) {
                error = "--places-per-address needs a number from 1 to 8, not \"" + std::string(value) + "\"";
                return false;
            }
            options.placesPerAddress = static_cast<int>(number);
        } else {
            if (!ParseNumber(value, 0, 4294967295LL, number)) {
                error = "--count needs a whole number of pictures, not \"" + std::string(value) + "\"";
                return false;
            }
            options.count = static_cast<std::uint32_t>(number);
        }
    }
    return true;
}
