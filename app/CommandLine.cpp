#include "app/CommandLine.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "common/Level.h"
#include "platform/files/VideoFile.h"
#include "platform/system/Keyboard.h"

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

bool ParseNumber(const std::string& text, double& value)
{
    if (text.empty()) return false;
    char* end = nullptr;
    double parsed = std::strtod(text.c_str(), &end);
    if (end == nullptr || *end != '\0' || !std::isfinite(parsed)) return false;
    value = parsed;
    return true;
}

bool ParseWhole(const std::string& text, long long& value)
{
    std::size_t start = text.size() > 1 && text[0] == '-' ? 1 : 0;
    if (text.size() == start || text.size() > 12) return false;
    for (std::size_t i = start; i < text.size(); ++i)
        if (text[i] < '0' || text[i] > '9') return false;
    value = std::strtoll(text.c_str(), nullptr, 10);
    return true;
}

constexpr const char* kLogLevels[] = {"trace", "debug", "info", "warn", "error", "critical", "off"};

}  // namespace

bool IsLogLevelName(const std::string& name)
{
    for (const char* level : kLogLevels)
        if (name == level) return true;
    return false;
}

bool IsVideoFileName(const std::string& path)
{
    return platform::ContainerForName(path) != platform::VideoContainer::None;
}

const char* LogLevelNames() { return "trace, debug, info, warn, error, critical, off"; }

const char* UsageText()
{
    return "usage: solvane [options]\n"
           "  --windowed             640x480 window instead of full screen\n"
           "  --headless             no window; render offscreen (required where there is no display)\n"
           "  --data DIR             folder of the data files and theStrings.ini (default ./data)\n"
           "  --voice FILE           a WAV file as the microphone\n"
           "  --input-device NAME    capture from this device instead of the default one\n"
           "  --list-devices         print the capture and playback devices, then exit\n"
           "  --steps N              end after N scene steps, status 0\n"
           "  --fast                 no waiting: every loop pass is one scene step of 51 ms of virtual time\n"
           "  --frames DIR           write presented frames as DIR/frame-NNNNNN.png (NNNNNN = step number)\n"
           "  --frame-every K        with --frames, every K-th frame only (default 1)\n"
           "  --press KEY@A[-B]      hold KEY (escape, left, right, up, down, f1 or s) during steps A to B; repeatable\n"
           "  --seed N               seed the random sequence (sparks, picture angles, tints)\n"
           "  --echo                 play each stored voice once\n"
           "  --stats FILE           at exit write JSON statistics of the run\n"
           "  --demo                 a built-in synthetic voice and a built-in peer on loopback\n"
           "  --config FILE          the settings file (default $XDG_CONFIG_HOME/solvane/solvane.toml, if there)\n"
           "  --gain DB              gain applied to the captured sound, -40 to 40 dB (default 0)\n"
           "  --threshold N          block peak (16-bit sample units) above which a block is loud (default 4000)\n"
           "  --display N            open the full-screen window on display N (default 0; see --list-devices)\n"
           "  --calibrate            show the input level meter instead of the scene (with --headless: print it)\n"
           "  --frames-overlay       with --frames, also draw the diagnostics panel (F1) into the frames\n"
           "  --log-level LEVEL      trace, debug, info, warn, error, critical or off (default info)\n"
           "  --status-file FILE     where the status file is written (default: the runtime folder)\n"
           "  --show-status [FILE]   print the status of the running installation, then exit\n"
           "  --renderer gl|null     null: run everything without drawing (default gl)\n"
           "  --osc-send HOST:PORT   send OSC messages there\n"
           "  --osc-listen [ADDR:]PORT  listen for OSC control messages\n"
           "  --osc-allow LIST       take OSC commands only from these addresses (a.b.c.d or a.b.c.d/n, by commas)\n"
           "  --http [ADDR:]PORT     serve the web view there (a bare PORT: on loopback only)\n"
           "  --http-token TOKEN     the web view's controls need this token\n"
           "  --http-token-file FILE  the same, read from the first line of FILE\n"
           "  --http-hosts NAMES     further host names the web view answers to (comma separated)\n"
           "  --link-any-source      accept pictures from any address, not only the peer's\n"
           "  --video FILE           record the frames and the sound into FILE (.mp4 or .mkv)\n"
           "  --video-max-minutes N  with --video, a new numbered file every N minutes\n"
           "  --version, --help\n";
}

bool ParseCommandLine(int argc, const char* const* argv, Options& options, std::string& error)
{
    bool tokenGiven = false, tokenFileGiven = false;
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
        else if (option == "--calibrate") options.calibrate = true;
        else if (option == "--frames-overlay") options.framesOverlay = true;
        else if (option == "--link-any-source") options.linkAnySource = true;
        else if (option == "--show-status") {
            options.showStatus = true;
            // The file is optional: a following word that is not an option is it.
            if (i + 1 < argc && std::strncmp(argv[i + 1], "--", 2) != 0) options.statusFile = argv[++i];
        } else if (option == "--config") {
            if (!value(options.configFile)) return false;
            if (options.configFile.empty()) {
                error = "--config needs a file name";
                return false;
            }
        } else if (option == "--status-file") {
            if (!value(options.statusFile)) return false;
        } else if (option == "--osc-send") {
            if (!value(options.oscSend)) return false;
        } else if (option == "--osc-listen") {
            if (!value(options.oscListen)) return false;
        } else if (option == "--osc-allow") {
            if (!value(options.oscAllow)) return false;
        } else if (option == "--http") {
            if (!value(options.httpListen)) return false;
        } else if (option == "--http-token") {
            if (!value(options.httpToken)) return false;
            tokenGiven = true;
        } else if (option == "--http-token-file") {
            if (!value(options.httpTokenFile)) return false;
            tokenFileGiven = true;
        } else if (option == "--http-hosts") {
            if (!value(options.httpHosts)) return false;
        } else if (option == "--gain") {
            if (!value(text)) return false;
            double gain = 0;
            if (!ParseNumber(text, gain) || !level::IsValidGainDb(gain)) {
                error = "--gain needs a number from -40 to 40 (dB), got \"" + text + "\"";
                return false;
            }
            options.gainDb = gain;
        } else if (option == "--threshold") {
            if (!value(text)) return false;
            long long threshold = 0;
            if (!ParseWhole(text, threshold) || !level::IsValidThreshold(threshold)) {
                error = "--threshold needs a whole number from 1 to 32767, got \"" + text + "\"";
                return false;
            }
            options.threshold = static_cast<int>(threshold);
        } else if (option == "--display") {
            if (!value(text)) return false;
            long long index = 0;
            if (!ParseWhole(text, index) || index < 0 || index > 63) {
                error = "--display needs a display number from 0 to 63, got \"" + text + "\"";
                return false;
            }
            options.displayIndex = static_cast<int>(index);
        } else if (option == "--log-level") {
            if (!value(text)) return false;
            if (!IsLogLevelName(text)) {
                error = std::string("--log-level needs one of ") + LogLevelNames() + ", got \"" + text + "\"";
                return false;
            }
            options.logLevel = text;
        } else if (option == "--renderer") {
            if (!value(text)) return false;
            if (text != "gl" && text != "null") {
                error = "--renderer needs gl or null, got \"" + text + "\"";
                return false;
            }
            options.renderer = text;
        } else if (option == "--data") {
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
        } else if (option == "--video") {
            if (!value(options.video)) return false;
            if (!IsVideoFileName(options.video)) {
                error = "--video needs a file name ending in .mp4 or .mkv, got \"" + options.video + "\"";
                return false;
            }
        } else if (option == "--video-max-minutes") {
            if (!value(text)) return false;
            if (!ParseCount(text, options.videoMaxMinutes, false) || options.videoMaxMinutes > 10080) {
                error = "--video-max-minutes needs a number of minutes from 1 to 10080, got \"" + text + "\"";
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
    if (options.video.empty() && options.videoMaxMinutes != 0) {
        error = "--video-max-minutes needs --video";
        return false;
    }
    if (options.framesDir.empty() && options.frameEvery != 1) {
        error = "--frame-every needs --frames";
        return false;
    }
    if (tokenGiven && tokenFileGiven) {
        error = "give --http-token or --http-token-file, not both";
        return false;
    }
    return true;
}
