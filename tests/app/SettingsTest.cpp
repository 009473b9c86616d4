#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "app/CommandLine.h"
#include "app/Settings.h"
#include "common/Level.h"

namespace {

namespace fs = std::filesystem;

// Where the operator's messages go and come from, compared as one.
std::tuple<std::string, std::string, std::string, std::string> RemoteEndpoints(const Options& options)
{
    return {options.oscSend, options.oscListen, options.httpListen, options.httpToken};
}

class TempFolder {
public:
    TempFolder()
    {
        path_ = fs::temp_directory_path() / ("solvane-settings-" + std::to_string(::getpid()) + "-" +
                                             std::to_string(counter_++));
        fs::create_directories(path_);
    }
    ~TempFolder()
    {
        std::error_code code;
        fs::remove_all(path_, code);
    }
    std::string Write(const std::string& name, const std::string& text) const
    {
        fs::path file = path_ / name;
        fs::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << text;
        return file.string();
    }
    std::string Path() const { return path_.string(); }

private:
    static inline int counter_ = 0;
    fs::path path_;
};

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(SettingsFile, EveryKeyLandsInItsOptionsField)
{
    const std::string text = R"(# the room
[input]
device = "USB Mic"
gain_db = 12.5
threshold = 12000
[display]
index = 1
fullscreen = false
[run]
data = "/srv/data"
echo = true
log_level = "debug"
status_file = "/run/solvane.json"
show_problems = false
video = "/srv/archive/show.MP4"
video_max_minutes = 60
[osc]
send = "10.0.0.2:9000"
listen = "9001"
[remote]
listen = "0.0.0.0:8080"
token = "secret"
hosts = "gallery.example"
[link]
any_source = true
)";
    Options options;
    std::string error;
    ASSERT_TRUE(ReadSettingsText(text, "room.toml", options, error)) << error;
    EXPECT_EQ("USB Mic", options.inputDevice);
    EXPECT_DOUBLE_EQ(12.5, options.gainDb);
    EXPECT_EQ(12000, options.threshold);
    EXPECT_EQ(1, options.displayIndex);
    EXPECT_TRUE(options.windowed);
    EXPECT_EQ("/srv/data", options.dataDir);
    EXPECT_TRUE(options.echo);
    EXPECT_EQ("debug", options.logLevel);
    EXPECT_EQ("/run/solvane.json", options.statusFile);
    EXPECT_FALSE(options.showProblems);
    EXPECT_EQ("/srv/archive/show.MP4", options.video);
    EXPECT_EQ(60u, options.videoMaxMinutes);
    EXPECT_EQ(RemoteEndpoints(options), std::make_tuple("10.0.0.2:9000", "9001", "0.0.0.0:8080", "secret"));
    EXPECT_EQ("gallery.example", options.httpHosts);
    EXPECT_TRUE(options.linkAnySource);
}

TEST(SettingsFile, AnEmptyFileAndTheDocumentedDefaultsChangeNothing)
{
    const std::string defaults = R"([input]
device = ""
gain_db = 0.0
threshold = 4000
[display]
index = 0
fullscreen = true
[run]
data = "data"
echo = false
log_level = "info"
status_file = ""
show_problems = true
)";
    for (const std::string& text : {std::string(), defaults}) {
        Options options;
        std::string error;
        ASSERT_TRUE(ReadSettingsText(text, "s.toml", options, error)) << error;
        Options plain;
        EXPECT_EQ(plain.inputDevice, options.inputDevice);
        EXPECT_EQ(plain.gainDb, options.gainDb);
        EXPECT_EQ(plain.threshold, options.threshold);
        EXPECT_EQ(plain.displayIndex, options.displayIndex);
        EXPECT_EQ(plain.windowed, options.windowed);
        EXPECT_EQ(plain.dataDir, options.dataDir);
        EXPECT_EQ(plain.echo, options.echo);
        EXPECT_EQ(plain.logLevel, options.logLevel);
        EXPECT_EQ(plain.showProblems, options.showProblems);
    }
}

TEST(SettingsFile, EachBadFileNamesItsFileLineAndKey)
{
    struct Case {
        const char* what;
        const char* text;
        const char* expected;  // the part of the message after the file name
    };
    const std::vector<Case> cases = {
        {"unknown key", "[input]\ngain_db = 1.0\nvolume = 3\n", "line 3, key input.volume: unknown key"},
        {"unknown table", "[run]\necho = true\n\n[audio]\nx = 1\n", "line 4, key audio: unknown key"},
        {"wrong type string", "[input]\ngain_db = \"loud\"\n", "line 2, key input.gain_db: needs a number, got a string"},
        {"wrong type float for integer", "[input]\nthreshold = 4000.5\n",
         "line 2, key input.threshold: needs a whole number, got a number"},
        {"wrong type boolean", "[display]\nfullscreen = 1\n",
         "line 2, key display.fullscreen: needs true or false, got a whole number"},
        {"table expected", "input = 3\n", "line 1, key input: needs to be a table ([input]), got a whole number"},
        {"threshold too high", "[input]\nthreshold = 40000\n", "line 2, key input.threshold: must be from 1 to 32767"},
        {"threshold zero", "[input]\n\n\nthreshold = 0\n", "line 4, key input.threshold: must be from 1 to 32767"},
        {"gain out of range", "[input]\ngain_db = 60\n", "line 2, key input.gain_db: must be from -40 to 40"},
        {"negative display", "[display]\nindex = -1\n", "line 2, key display.index: must be from 0 to 63"},
        {"log level unknown", "[run]\nlog_level = \"loud\"\n", "line 2, key run.log_level: must be one of"},
        {"empty data folder", "[run]\ndata = \"\"\n", "line 2, key run.data: must name a folder"},
        {"video of another kind", "[run]\nvideo = \"show.avi\"\n", "line 2, key run.video: must name a .mp4 or .mkv file"},
        {"broken table header", "[input]\nthreshold = 5000\n[display\n", "line 3:"},
        {"broken value", "[input]\ngain_db = = 3\n", "line 2:"},
        {"duplicate key", "[input]\nthreshold = 5000\nthreshold = 6000\n", "line 3:"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Options options;
        std::string error;
        EXPECT_FALSE(ReadSettingsText(c.text, "/etc/room.toml", options, error));
        EXPECT_EQ(0u, error.find("settings file \"/etc/room.toml\" ")) << error;
        EXPECT_NE(std::string::npos, error.find(c.expected)) << error;
        // A rejected file leaves every field as it was.
        EXPECT_EQ(4000, options.threshold);
        EXPECT_EQ(0.0, options.gainDb);
    }
}

TEST(SettingsFile, TheCommandLineOverridesTheFile)
{
    TempFolder folder;
    std::string path = folder.Write("s.toml", "[input]\ngain_db = 12.0\nthreshold = 9000\n[run]\necho = true\n");
    const char* argv[] = {"solvane", "--config", path.c_str(), "--threshold", "5000"};
    Options options;
    std::string error;
    ASSERT_EQ(0, ResolveOptions(5, argv, nullptr, nullptr, options, error)) << error;
    EXPECT_EQ(5000, options.threshold);
    EXPECT_DOUBLE_EQ(12.0, options.gainDb);
    EXPECT_TRUE(options.echo);
    EXPECT_EQ(path, options.configFile);
}

TEST(SettingsFile, StartUpStatusesForEachKindOfMistake)
{
    TempFolder folder;
    std::string bad = folder.Write("bad.toml", "[input]\nthreshold = \"high\"\n");
    std::string missing = folder.Path() + "/missing.toml";
    struct Case {
        std::vector<const char*> args;
        int status;
        const char* message;
    };
    const std::vector<Case> cases = {
        {{"solvane", "--config", bad.c_str()}, 1, "line 2, key input.threshold"},
        {{"solvane", "--config", missing.c_str()}, 1, "does not exist"},
        {{"solvane", "--gain", "x"}, 2, "--gain needs a number"},
        {{"solvane", "--gain", "41"}, 2, "--gain needs a number"},
        {{"solvane", "--threshold", "12.5"}, 2, "--threshold needs a whole number"},
        {{"solvane", "--display", "-1"}, 2, "--display needs a display number"},
        {{"solvane", "--renderer", "vulkan"}, 2, "--renderer needs gl or null"},
        {{"solvane", "--log-level", "chatty"}, 2, "--log-level needs one of"},
        {{"solvane", "--config"}, 2, "--config needs a value"},
        // --help works whatever the settings file holds.
        {{"solvane", "--config", bad.c_str(), "--help"}, 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.back());
        Options options;
        std::string error;
        EXPECT_EQ(c.status, ResolveOptions(static_cast<int>(c.args.size()), c.args.data(), nullptr, nullptr, options,
                                           error));
        EXPECT_NE(std::string::npos, error.find(c.message)) << error;
    }
}

TEST(SettingsFile, NewOptionsParseIntoTheirFields)
{
    const char* argv[] = {"solvane",        "--gain",         "-6.5",         "--display",      "2",
                          "--log-level",    "warn",           "--calibrate",  "--frames-overlay",
                          "--renderer",     "null",           "--osc-send",   "h:1",            "--osc-listen",
                          "2",              "--http",         "a:3",          "--http-token",   "t",
                          "--link-any-source", "--status-file", "/tmp/s.json", "--show-status"};
    Options options;
    std::string error;
    ASSERT_TRUE(ParseCommandLine(static_cast<int>(std::size(argv)), argv, options, error)) << error;
    EXPECT_DOUBLE_EQ(-6.5, options.gainDb);
    EXPECT_EQ(2, options.displayIndex);
    EXPECT_EQ("warn", options.logLevel);
    EXPECT_TRUE(options.calibrate);
    EXPECT_TRUE(options.framesOverlay);
    EXPECT_EQ("null", options.renderer);
    EXPECT_EQ(RemoteEndpoints(options), std::make_tuple("h:1", "2", "a:3", "t"));
    EXPECT_TRUE(options.linkAnySource);
    EXPECT_EQ("/tmp/s.json", options.statusFile);
    EXPECT_TRUE(options.showStatus);

    const char* withFile[] = {"solvane", "--show-status", "/tmp/other.json", "--windowed"};
    Options second;
    ASSERT_TRUE(ParseCommandLine(4, withFile, second, error)) << error;
    EXPECT_TRUE(second.showStatus);
    EXPECT_EQ("/tmp/other.json", second.statusFile);
    EXPECT_TRUE(second.windowed);

    const char* tokenFile[] = {"solvane", "--http-token-file", "/run/token", "--http-hosts", "a.example, b"};
    Options third;
    ASSERT_TRUE(ParseCommandLine(5, tokenFile, third, error)) << error;
    EXPECT_EQ("/run/token", third.httpTokenFile);
    EXPECT_EQ("a.example, b", third.httpHosts);
    const char* both[] = {"solvane", "--http-token", "t", "--http-token-file", "/run/token"};
    EXPECT_FALSE(ParseCommandLine(5, both, third, error));
    EXPECT_NE(std::string::npos, error.find("not both")) << error;
    const char* video[] = {"solvane", "--video", "run.mkv", "--video-max-minutes", "30"};
    Options recorded;
    ASSERT_TRUE(ParseCommandLine(5, video, recorded, error)) << error;
    EXPECT_EQ("run.mkv", recorded.video);
    EXPECT_EQ(30u, recorded.videoMaxMinutes);
    const char* badName[] = {"solvane", "--video", "run.avi"};
    EXPECT_FALSE(ParseCommandLine(3, badName, recorded, error));
    EXPECT_EQ("--video needs a file name ending in .mp4 or .mkv, got \"run.avi\"", error);
    const char* minutesAlone[] = {"solvane", "--video-max-minutes", "5"};
    Options fourth;
    EXPECT_FALSE(ParseCommandLine(3, minutesAlone, fourth, error));
    EXPECT_EQ("--video-max-minutes needs --video", error);
}

TEST(SettingsFile, FoundInTheXdgConfigFolderOnlyWhenThere)
{
    TempFolder folder;
    std::string config = folder.Path() + "/config";
    std::string home = folder.Path() + "/home";
    SettingsLocation none = FindSettingsFile("", config.c_str(), home.c_str());
    EXPECT_FALSE(none.exists);
    EXPECT_EQ(config + "/solvane/solvane.toml", none.path);

    folder.Write("config/solvane/solvane.toml", "[input]\nthreshold = 7000\n");
    const char* argv[] = {"solvane"};
    Options options;
    std::string error;
    ASSERT_EQ(0, ResolveOptions(1, argv, config.c_str(), home.c_str(), options, error)) << error;
    EXPECT_EQ(7000, options.threshold);
    // The user's own peer file sits beside the settings file.
    EXPECT_EQ(config + "/solvane/theStrings.ini", options.userPeerFile);

    // Without XDG_CONFIG_HOME (or with a relative one) the default is ~/.config.
    folder.Write("home/.config/solvane/solvane.toml", "[input]\nthreshold = 8000\n");
    for (const char* xdg : {static_cast<const char*>(nullptr), "relative/path"}) {
        Options fromHome;
        ASSERT_EQ(0, ResolveOptions(1, argv, xdg, home.c_str(), fromHome, error)) << error;
        EXPECT_EQ(8000, fromHome.threshold);
        EXPECT_EQ(home + "/.config/solvane/theStrings.ini", fromHome.userPeerFile);
    }
    // --config wins over the default place.
    std::string other = folder.Write("other.toml", "[input]\nthreshold = 9000\n");
    const char* withConfig[] = {"solvane", "--config", other.c_str()};
    Options chosen;
    ASSERT_EQ(0, ResolveOptions(3, withConfig, config.c_str(), home.c_str(), chosen, error)) << error;
    EXPECT_EQ(9000, chosen.threshold);
}

TEST(SettingsFile, SavingTheLevelsKeepsEveryOtherKeyAndComment)
{
    TempFolder folder;
    struct Case {
        const char* what;
        std::string before;
    };
    const std::vector<Case> cases = {
        {"no file", ""},
        {"no input table", "# my room\n[run]\necho = true # keep\n"},
        {"input with both keys",
         "[input]\n# measured on Tuesday\nthreshold = 4000\ngain_db = 0.0\ndevice = \"USB\"\n\n[run]\necho = true\n"},
        {"input without the keys", "[input]\ndevice = \"USB\"\n\n[run]\necho = true\n"},
        {"inline input table", "input = { device = \"USB\", threshold = 4000 }\n[run]\necho = true\n"},
        {"dotted keys", "input.device = \"USB\"\ninput.threshold = 4000\n[run]\necho = true\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string path = folder.Path() + "/" + c.what + "/solvane.toml";
        if (!c.before.empty()) folder.Write(std::string(c.what) + "/solvane.toml", c.before);
        std::string error;
        ASSERT_TRUE(SaveInputLevels(path, 8123, 6.0, error)) << error;
        Options options;
        ASSERT_TRUE(ReadSettingsFile(path, options, error)) << error << "\n" << ReadAll(path);
        EXPECT_EQ(8123, options.threshold);
        EXPECT_DOUBLE_EQ(6.0, options.gainDb);
        if (c.before.find("echo") != std::string::npos) {
            EXPECT_TRUE(options.echo);
        }
        if (c.before.find("USB") != std::string::npos) {
            EXPECT_EQ("USB", options.inputDevice);
        }
        std::string after = ReadAll(path);
        for (const char* comment : {"# measured on Tuesday", "# my room"}) {
            if (c.before.find(comment) != std::string::npos) {
                EXPECT_NE(std::string::npos, after.find(comment)) << after;
            }
        }
    }
}

// A settings file that holds the web view's token is 0600: a save from the
// calibration keeps that (and any other mode), and a new file starts 0600.
// Nothing that is not a regular file is read or replaced.
TEST(SettingsFile, SavingKeepsTheModeAndRefusesWhatIsNotAFile)
{
    TempFolder folder;
    for (const mode_t mode : {0600u, 0640u, 0644u}) {
        SCOPED_TRACE(mode);
        const std::string path = folder.Write("token-" + std::to_string(mode) + ".toml", "[remote]\ntoken = \"s3cret\"\n");
        ASSERT_EQ(0, ::chmod(path.c_str(), mode));
        std::string error;
        ASSERT_TRUE(SaveInputLevels(path, 9000, -3.0, error)) << error;
        struct stat info {};
        ASSERT_EQ(0, ::stat(path.c_str(), &info));
        EXPECT_EQ(mode, info.st_mode & 07777);
        EXPECT_EQ(::geteuid(), info.st_uid);
        EXPECT_NE(std::string::npos, ReadAll(path).find("s3cret"));
    }
    const mode_t oldMask = ::umask(0);
    const std::string fresh = folder.Path() + "/new/solvane.toml";
    std::string error;
    ASSERT_TRUE(SaveInputLevels(fresh, 9000, 0.0, error)) << error;
    ::umask(oldMask);
    struct stat info {};
    ASSERT_EQ(0, ::stat(fresh.c_str(), &info));
    EXPECT_EQ(0600u, info.st_mode & 07777);
    for (const auto& entry : fs::directory_iterator(folder.Path()))
        EXPECT_EQ(std::string::npos, entry.path().filename().string().find(".toml.")) << "a temporary file was left";

    // --config naming a FIFO, a folder, a device or an oversized file: exit 1
    // with one line naming the file and why, without blocking or reading it.
    const std::string fifo = folder.Path() + "/fifo.toml";
    ASSERT_EQ(0, ::mkfifo(fifo.c_str(), 0600));
    const std::string big = folder.Write("big.toml", std::string((1u << 20) + 1, '#'));
    struct Case {
        std::string path, why;
    };
    for (const Case& c : std::vector<Case>{{fifo, "not a regular file (a FIFO)"},
                                           {folder.Path(), "not a regular file (a folder)"},
                                           {"/dev/zero", "not a regular file (a character device)"},
                                           {big, "a file of 1048577 bytes is larger than the 1 MB it may hold"}}) {
        SCOPED_TRACE(c.path);
        const char* argv[] = {"solvane", "--config", c.path.c_str()};
        Options options;
        EXPECT_EQ(1, ResolveOptions(3, argv, nullptr, nullptr, options, error));
        EXPECT_NE(std::string::npos, error.find("settings file \"" + c.path + "\": " + c.why)) << error;
        EXPECT_EQ(std::string::npos, error.find('\n'));
        EXPECT_FALSE(SaveInputLevels(c.path, 9000, 0.0, error));
    }
    // The FIFO and the folder are still what they were.
    EXPECT_TRUE(fs::is_fifo(fifo));
    EXPECT_TRUE(fs::is_directory(folder.Path()));
}

TEST(Level, ThresholdAndDbfsConvertBothWays)
{
    struct Case {
        int threshold;
        double dbfs;
    };
    // 20·log10(t / 32768), to 0.01 dB.
    const std::vector<Case> cases = {{4000, -18.27}, {8000, -12.25}, {16384, -6.02}, {32767, 0.0}, {1, -90.31}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.threshold);
        EXPECT_NEAR(c.dbfs, level::ThresholdToDbfs(c.threshold), 0.01);
        EXPECT_EQ(c.threshold, level::DbfsToThreshold(level::ThresholdToDbfs(c.threshold)));
    }
    // Past the limits the threshold stays within them.
    EXPECT_EQ(level::kMaxThreshold, level::DbfsToThreshold(6.0));
    EXPECT_EQ(level::kMinThreshold, level::DbfsToThreshold(-200.0));
    EXPECT_EQ(level::kMinThreshold, level::DbfsToThreshold(std::nan("")));
}

TEST(Level, GainScalesAndClipsToSixteenBits)
{
    std::vector<std::int16_t> samples = {0, 1000, -1000, 16000, -16000, 32767, -32768};
    level::ApplyGain(samples.data(), samples.size(), 0.0);
    EXPECT_EQ((std::vector<std::int16_t>{0, 1000, -1000, 16000, -16000, 32767, -32768}), samples);
    level::ApplyGain(samples.data(), samples.size(), 20.0 * std::log10(2.0));
    EXPECT_EQ((std::vector<std::int16_t>{0, 2000, -2000, 32000, -32000, 32767, -32768}), samples);
    level::ApplyGain(samples.data(), samples.size(), 12.0);  // ×3.98: clips
    EXPECT_EQ((std::vector<std::int16_t>{0, 7962, -7962, 32767, -32768, 32767, -32768}), samples);
}

}  // namespace
