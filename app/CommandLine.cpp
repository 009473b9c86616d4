#include "app/CommandLine.h"

#include <cstdlib>
#include <cstring>

#include "platform/Keyboard.h"

namespace {

bool ParseCount(const std::string& text, std::uint32_t& value, bool allowZero)
{
    if (text.empty() || text.size() > 10) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    unsigned long long parsed = std::strtoull(text.c_str(), nullptr, 10);
    if (parsed > 0xFFFFFFFFull || (!allowZero && parsed == 0)) return false;
    value = static_cast<std::uint32_t>(parsed);
    return true;
}

}  // namespace

const char* UsageText()
{
    return "usage: solvane [options]\n"
           "  --windowed             640x480 window instead of full screen\n"
           "  --headless             no window; render offscreen (chosen automatically without a display)\n"
           "  --data DIR             folder of the data files and theStrings.ini (default ./data)\n"
           "  --voice FILE           a WAV file as the microphone\n"
           "  --input-device NAME    capture from this device instead of the default one\n"
           "  --list-devices         print the capture and playback devices, then exit\n"
           "  --steps N              end after N scene steps, status 0\n"
           "  --fast                 no waiting: every loop pass is one scene step of 51 ms of virtual time\n"
           "  --frames DIR           write presented frames as DIR/frame-NNNNNN.png (NNNNNN = step number)\n"
           "  --frame-every K        with --frames, every K-th frame only (default 1)\n"
           "  --press KEY@A[-B]      hold KEY (escape, left or right) during scene steps A to B; repeatable\n"
           "  --seed N               seed the random sequence (sparks, picture angles, tints)\n"
           "  --echo                 play each stored voice once\n"
           "  --stats FILE           at exit write JSON statistics of the run\n"
           "  --demo                 a built-in synthetic voice and a built-in peer on loopback\n"
           "  --version, --help\n";
}

bool ParseCommandLine(int argc, const char* const* argv, Options& options, std::string& error)
{
    for (int i = 1; i < argc; ++i) {
        std::string option = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc) {
                error = option + " needs a value";
                return false;
            }
            out = argv[++i];
            return true;
        };
        std::string text;
        if (option == "--windowed") options.windowed = true;
        else if (option == "--headless") options.headless = true;
        else if (option == "--fast") options.fast = true;
        else if (option == "--echo") options.echo = true;
        else if (option == "--demo") options.demo = true;
        else if (option == "--list-devices") options.listDevices = true;
        else if (option == "--help" || option == "-h") options.showHelp = true;
        else if (option == "--version") options.showVersion = true;
        else if (option == "--data") {
            if (!value(options.dataDir)) return false;
        } else if (option == "--voice") {
            if (!value(options.voiceFile)) return false;
        } else if (option == "--input-device") {
            if (!value(options.inputDevice)) return false;
        } else if (option == "--frames") {
            if (!value(options.framesDir)) return false;
        } else if (option == "--stats") {
            if (!value(options.statsFile)) return false;
        } else if (option == "--steps") {
            if (!value(text)) return false;
            if (!ParseCount(text, options.steps, false)) {
                error = "--steps needs a positive number, got \"" + text + "\"";
                return false;
            }
        } else if (option == "--frame-every") {
            if (!value(text)) return false;
            if (!ParseCount(text, options.frameEvery, false)) {
                error = "--frame-every needs a positive number, got \"" + text + "\"";
                return false;
            }
        } else if (option == "--seed") {
            if (!value(text)) return false;
            std::uint32_t seed = 0;
            if (!ParseCount(text, seed, true)) {
                error = "--seed needs a number, got \"" + text + "\"";
                return false;
            }
            options.seed = seed;
        } else if (option == "--press") {
            if (!value(text)) return false;
            platform::ScriptedPress press;
            std::string why;
            if (!platform::ParseKeyPress(text, press, why)) {
                error = "--press: " + why;
                return false;
            }
            options.presses.push_back(KeyPress{press.virtualKey, press.first, press.last});
        } else {
            error = "unknown option \"" + option + "\" (see --help)";
            return false;
        }
    }
    if (options.framesDir.empty() && options.frameEvery != 1) {
        error = "--frame-every needs --frames";
        return false;
    }
    return true;
}
