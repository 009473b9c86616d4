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

namespace {

// Options that only switch something on.
struct Flag {
    const char* name;
    bool Options::*field;
};
constexpr Flag kFlags[] = {
    {"--windowed", &Options::windowed}, {"--headless", &Options::headless}, {"--fast", &Options::fast},
    {"--echo", &Options::echo}, {"--demo", &Options::demo}, {"--list-devices", &Options::listDevices},
    {"--help", &Options::showHelp}, {"-h", &Options::showHelp}, {"--version", &Options::showVersion},
    {"--calibrate", &Options::calibrate}, {"--frames-overlay", &Options::framesOverlay},
    {"--link-any-source", &Options::linkAnySource}};

// Options whose value is taken as it is given.
struct Text {
    const char* name;
    std::string Options::*field;
};
constexpr Text kTexts[] = {
    {"--status-file", &Options::statusFile}, {"--osc-send", &Options::oscSend}, {"--osc-listen", &Options::oscListen},
    {"--osc-allow", &Options::oscAllow}, {"--http", &Options::httpListen}, {"--http-hosts", &Options::httpHosts},
    {"--data", &Options::dataDir}, {"--voice", &Options::voiceFile}, {"--input-device", &Options::inputDevice},
    {"--frames", &Options::framesDir}, {"--stats", &Options::statsFile}};

// Options whose value must pass a check; a refused value reads
// "<name> needs <needs>, got "<value>"".
struct Checked {
    const char* name;
    const char* needs;
    bool (*take)(const std::string& text, Options& options);
};
const Checked kChecked[] = {
    {"--gain", "a number from -40 to 40 (dB)",
     [](const std::string& text, Options& options) {
         double gain = 0;
         if (!ParseNumber(text, gain) || !level::IsValidGainDb(gain)) return false;
         options.gainDb = gain;
         return true;
     }},
    {"--threshold", "a whole number from 1 to 32767",
     [](const std::string& text, Options& options) {
         long long threshold = 0;
         if (!ParseWhole(text, threshold) || !level::IsValidThreshold(threshold)) return false;
         options.threshold = static_cast<int>(threshold);
         return true;
     }},
    {"--display", "a display number from 0 to 63",
     [](const std::string& text, Options& options) {
         long long index = 0;
         if (!ParseWhole(text, index) || index < 0 || index > 63) return false;
         options.displayIndex = static_cast<int>(index);
         return true;
     }},
    {"--renderer", "gl or null",
     [](const std::string& text, Options& options) {
         if (text != "gl" && text != "null") return false;
         options.renderer = text;
         return true;
     }},
    {"--steps", "a positive number",
     [](const std::string& text, Options& options) { return ParseCount(text, options.steps, false); }},
    {"--video", "a file name ending in .mp4 or .mkv",
     [](const std::string& text, Options& options) {
         options.video = text;
         return IsVideoFileName(options.video);
     }},
    {"--video-max-minutes", "a number of minutes from 1 to 10080",
     [](const std::string& text, Options& options) {
         return ParseCount(text, options.videoMaxMinutes, false) && options.videoMaxMinutes <= 10080;
     }},
    {"--frame-every", "a positive number",
     [](const std::string& text, Options& options) { return ParseCount(text, options.frameEvery, false); }},
    {"--seed", "a number",
     [](const std::string& text, Options& options) {
         std::uint32_t seed = 0;
         if (!ParseCount(text, seed, true)) return false;
         options.seed = seed;
         return true;
     }},
};

template <typename Entry, std::size_t N>
const Entry* Named(const Entry (&table)[N], const std::string& option)
{
    for (const Entry& entry : table)
        if (option == entry.name) return &entry;
    return nullptr;
}

}  // namespace

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
        if (const Flag* flag = Named(kFlags, option)) {
            options.*flag->field = true;
        } else if (const Text* field = Named(kTexts, option)) {
            if (!value(options.*field->field)) return false;
        } else if (const Checked* checked = Named(kChecked, option)) {
            if (!value(text)) return false;
            if (!checked->take(text, options)) {
                error = option + " needs " + checked->needs + ", got \"" + text + "\"";
                return false;
            }
        } else if (option == "--show-status") {
            options.showStatus = true;
            // The file is optional: a following word that is not an option is it.
            if (i + 1 < argc && std::strncmp(argv[i + 1], "--", 2) != 0) options.statusFile = argv[++i];
        } else if (option == "--config") {
            if (!value(options.configFile)) return false;
            if (options.configFile.empty()) {
                error = "--config needs a file name";
                return false;
            }
        } else if (option == "--http-token") {
            if (!value(options.httpToken)) return false;
            tokenGiven = true;
        } else if (option == "--http-token-file") {
            if (!value(options.httpTokenFile)) return false;
            tokenFileGiven = true;
        } else if (option == "--log-level") {
            if (!value(text)) return false;
            if (!IsLogLevelName(text)) {
                error = std::string("--log-level needs one of ") + LogLevelNames() + ", got \"" + text + "\"";
                return false;
            }
            options.logLevel = text;
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
