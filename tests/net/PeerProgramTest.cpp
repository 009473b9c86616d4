// solvane-peer run as its own process over loopback: an installation's link
// connects to it, registers and receives its pictures; bad command lines and
// ports it cannot have end it with a clear message.
#include <gtest/gtest.h>
#include <poll.h>
#include <regex.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "LoopbackHarness.h"
#include "net/NetLink.h"
#include "platform/files/PngFile.h"
#include "support/DeviceTestSupport.h"

using namespace nettest;
namespace fs = std::filesystem;

namespace {

// The first group of the first match of a POSIX extended expression, or the
// whole match, or "" (std::regex would add seconds to this file's build).
std::string Search(const char* pattern, const std::string& text)
{
    regex_t expression;
    if (::regcomp(&expression, pattern, REG_EXTENDED) != 0) return "";
    regmatch_t match[2];
    std::string found;
    if (::regexec(&expression, text.c_str(), 2, match, 0) == 0) {
        const regmatch_t& part = match[1].rm_so >= 0 ? match[1] : match[0];
        found = text.substr(static_cast<std::size_t>(part.rm_so), static_cast<std::size_t>(part.rm_eo - part.rm_so));
    }
    ::regfree(&expression);
    return found;
}

// The program with its stderr captured; killed if still running at the end.
class PeerProcess {
public:
    // launcher: a command that runs the program (as another user, say).
    explicit PeerProcess(std::vector<std::string> args, std::vector<std::string> launcher = {})
    {
        std::string program = (fs::path(SOLVANE_BINARY_DIR) / "solvane-peer").string();
        args.insert(args.begin(), program);
        args.insert(args.begin(), launcher.begin(), launcher.end());
        int pipeFds[2];
        if (::pipe(pipeFds) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(pipeFds[1], 2);
            ::dup2(pipeFds[1], 1);
            ::close(pipeFds[0]);
            ::close(pipeFds[1]);
            std::vector<char*> argv;
            for (std::string& arg : args) argv.push_back(arg.data());
            argv.push_back(nullptr);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(pipeFds[1]);
        output_ = pipeFds[0];
    }
    ~PeerProcess()
    {
        if (pid_ > 0 && !exited_) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
        if (output_ >= 0) ::close(output_);
    }

    // Reads output until the pattern (a POSIX extended expression) matches;
    // the first group, or the whole match, or "".
    std::string WaitFor(const char* pattern, int timeoutMs = 5000)
    {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            std::string found = Search(pattern, text_);
            if (!found.empty()) return found;
            if (std::chrono::steady_clock::now() >= deadline || !ReadSome(20)) return "";
        }
    }

    // Reads whatever output comes for a while.
    void ReadFor(int timeoutMs) { ReadSome(timeoutMs); }

    // Exit status, or -1 if it has not ended within the time.
    int WaitExit(int timeoutMs = 5000)
    {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (std::chrono::steady_clock::now() < deadline) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                exited_ = true;
                while (ReadSome(0)) {
                }
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            ReadSome(10);
        }
        return -1;
    }

    const std::string& Output() const { return text_; }
    void Signal(int number) { ::kill(pid_, number); }

private:
    bool ReadSome(int timeoutMs)
    {
        pollfd p{output_, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0) return true;
        char buffer[4096];
        ssize_t got = ::read(output_, buffer, sizeof buffer);
        if (got <= 0) return false;
        text_.append(buffer, static_cast<std::size_t>(got));
        return true;
    }

    pid_t pid_ = -1;
    int output_ = -1;
    bool exited_ = false;
    std::string text_;
};

fs::path MakeFolder()
{
    char pattern[] = "/tmp/solvane-peer-test-XXXXXX";
    const char* made = ::mkdtemp(pattern);
    return made != nullptr ? fs::path(made) : fs::path();
}

void WriteBmp(const fs::path& path, int width, int height, std::uint8_t r, std::uint8_t g, std::uint8_t b)
{
    const std::uint32_t argb = 0xFF000000u | std::uint32_t{r} << 16 | std::uint32_t{g} << 8 | b;
    const std::vector<std::uint32_t> pixels(static_cast<std::size_t>(width) * height, argb);
    testsupport::WriteBytes(path.string(), testsupport::Bmp24(width, height, pixels));
}

// Left half red, right half blue.
bool WriteSplitPng(const fs::path& path, int width, int height)
{
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = rgb.data() + (static_cast<std::size_t>(y) * width + x) * 3;
            p[0] = x < width / 2 ? 255 : 0;
            p[2] = x < width / 2 ? 0 : 255;
        }
    return platform::WritePng(path.string(), static_cast<unsigned>(width), static_cast<unsigned>(height),
                              platform::PixelLayout::Rgb, rgb.data());
}

const std::uint8_t* Pixel(const NetLink& link, int x, int y) { return link.FrameBuffer() + (y * 128 + x) * 3; }

struct Installation {
    platform::Sockets sockets;
    TestWindow window;
    TestLoop loop{sockets};
    NetLink link{sockets};
    explicit Installation(int port)
    {
        loop.Route(window, &link);
        link.Open(window.Handle(), "127.0.0.1", port);
    }
};

const char* const kListening = "listening on TCP and UDP port ([0-9]+)";

}  // namespace

TEST(PeerProgram, SendsGeneratedPicturesToARegisteredInstallation)
{
    PeerProcess peer({"--port", "0", "--interval-ms", "20", "--count", "3", "--summary-s", "1"});
    std::string port = peer.WaitFor(kListening);
    ASSERT_FALSE(port.empty()) << peer.Output();
    Installation installation(std::stoi(port));
    ASSERT_TRUE(installation.loop.RunUntil([&] { return installation.link.HasFrame(); }, 5000)) << peer.Output();
    EXPECT_EQ(installation.link.OwnId(), 0);
    bool anyColour = false;
    for (int i = 0; i < NetLink::FrameSize; ++i) anyColour = anyColour || installation.link.FrameBuffer()[i] != 0;
    EXPECT_TRUE(anyColour);
    installation.loop.RunUntil([&] { return false; }, 100);
    EXPECT_EQ(peer.WaitExit(), 0) << peer.Output();
    EXPECT_NE(peer.Output().find("installation 0 registered"), std::string::npos) << peer.Output();
    // A summary of what went where, not a line per picture.
    EXPECT_NE(peer.Output().find("sent 3 pictures (installation 0: 3 pictures); done"), std::string::npos)
        << peer.Output();
    EXPECT_EQ(peer.Output().find("sent picture"), std::string::npos) << peer.Output();
}

TEST(PeerProgram, SummarisesThePicturesSentToEachInstallationAtItsInterval)
{
    PeerProcess peer({"--port", "0", "--interval-ms", "50", "--summary-s", "1"});
    std::string port = peer.WaitFor(kListening);
    ASSERT_FALSE(port.empty()) << peer.Output();
    // Nobody yet: the summary says so.
    EXPECT_FALSE(peer.WaitFor(R"(in the last 1 s: no pictures sent)", 3000).empty()) << peer.Output();
    Installation first(std::stoi(port));
    Installation second(std::stoi(port));
    auto bothHavePictures = [&] {
        first.loop.Pass();
        return second.link.HasFrame() && first.link.HasFrame();
    };
    ASSERT_TRUE(second.loop.RunUntil(bothHavePictures, 5000)) << peer.Output();
    std::string counts;
    for (int pass = 0; pass < 100 && counts.empty(); ++pass) {
        first.loop.RunFor(20);
        second.loop.RunFor(20);
        counts = Search("in the last 1 s: installation 0: [0-9]+ pictures?, installation 1: [0-9]+ pictures?",
                        peer.Output());
        peer.ReadFor(10);
    }
    EXPECT_FALSE(counts.empty()) << peer.Output();
}

TEST(PeerProgram, CyclesThroughThePicturesOfAFolderScaledToTheFrame)
{
    fs::path folder = MakeFolder();
    ASSERT_FALSE(folder.empty());
    WriteBmp(folder / "a.bmp", 40, 30, 10, 200, 30);
    ASSERT_TRUE(WriteSplitPng(folder / "b.PNG", 300, 200));
    std::ofstream(folder / "c.png") << "not a picture";
    std::ofstream(folder / "notes.txt") << "ignored";

    PeerProcess peer({"--port", "0", "--interval-ms", "30", "--count", "4", "--pictures", folder.string()});
    std::string port = peer.WaitFor(kListening);
    ASSERT_FALSE(port.empty()) << peer.Output();
    EXPECT_NE(peer.Output().find("skipping"), std::string::npos) << "the broken file is named";
    Installation installation(std::stoi(port));
    NetLink& link = installation.link;

    auto isGreen = [&] {
        if (!link.HasFrame()) return false;
        for (int y = 0; y < 128; ++y)
            for (int x = 0; x < 128; ++x) {
                const std::uint8_t* p = Pixel(link, x, y);
                if (p[0] != 10 || p[1] != 200 || p[2] != 30) return false;
            }
        return true;
    };
    auto isSplit = [&] {
        if (!link.HasFrame()) return false;
        const std::uint8_t* left = Pixel(link, 10, 64);
        const std::uint8_t* right = Pixel(link, 117, 64);
        return left[0] == 255 && left[2] == 0 && right[0] == 0 && right[2] == 255;
    };
    EXPECT_TRUE(installation.loop.RunUntil(isGreen, 5000)) << peer.Output();
    EXPECT_TRUE(installation.loop.RunUntil(isSplit, 5000)) << peer.Output();
    EXPECT_TRUE(installation.loop.RunUntil(isGreen, 5000)) << "after the last picture the first comes again";
    EXPECT_EQ(peer.WaitExit(), 0) << peer.Output();
    fs::remove_all(folder);
}

TEST(PeerProgram, APortInUseEndsItWithTheReason)
{
    platform::Sockets sockets;
    SOCKET taken = sockets.socket(platform::SocketType::Stream);
    ASSERT_EQ(sockets.bind(taken, Loopback(0)), 0);
    ASSERT_EQ(sockets.listen(taken, 1), 0);
    PeerProcess peer({"--port", std::to_string(LocalPort(sockets, taken))});
    EXPECT_EQ(peer.WaitExit(), 1);
    EXPECT_NE(peer.Output().find("already in use"), std::string::npos) << peer.Output();
}

TEST(PeerProgram, APrivilegedPortIsExplained)
{
    std::vector<std::string> launcher;
    if (::geteuid() == 0) {
        // Root may bind any port: ask as the unprivileged "nobody".
        if (!fs::exists("/usr/bin/setpriv")) GTEST_SKIP() << "running as root without setpriv";
        launcher = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
    }
    PeerProcess peer({"--port", "80"}, launcher);
    int status = peer.WaitExit();
    if (status == 127 && !launcher.empty()) GTEST_SKIP() << "the program cannot be run as nobody here";
    EXPECT_EQ(status, 1);
    EXPECT_NE(peer.Output().find("below 1024 need administrator privileges"), std::string::npos) << peer.Output();
}

TEST(PeerProgram, BadCommandLinesAndFoldersAreRefused)
{
    struct Case {
        std::vector<std::string> args;
        int status;
        const char* says;
    };
    const Case cases[] = {
        {{"--port", "70000"}, 2, "from 0 to 65535"},
        {{"--port"}, 2, "needs a value"},
        {{"--interval-ms", "0"}, 2, "--interval-ms"},
        {{"--summary-s", "0"}, 2, "--summary-s"},
        {{"--count", "-1"}, 2, "--count"},
        {{"--places-per-address", "0"}, 2, "--places-per-address needs a number from 1 to 8"},
        {{"--colour", "red"}, 2, "unknown option"},
        {{"--pictures", "/nonexistent-solvane-folder"}, 1, "is not a folder"},
        {{"--help"}, 0, "usage: solvane-peer"},
    };
    for (const Case& c : cases) {
        PeerProcess peer(c.args);
        EXPECT_EQ(peer.WaitExit(), c.status) << c.args[0];
        EXPECT_NE(peer.Output().find(c.says), std::string::npos) << peer.Output();
    }
}

TEST(PeerProgram, AStopBySignalIsCleanAndEveryLineIsTimed)
{
    for (int signal : {SIGTERM, SIGINT}) {
        PeerProcess peer({"--port", "0", "--interval-ms", "20"});
        ASSERT_FALSE(peer.WaitFor(kListening).empty()) << peer.Output();
        peer.Signal(signal);
        EXPECT_EQ(peer.WaitExit(), 0) << peer.Output();
        const std::string name = signal == SIGTERM ? "SIGTERM" : "SIGINT";
        EXPECT_NE(peer.Output().find("stopping: " + name), std::string::npos) << peer.Output();
        EXPECT_NE(peer.Output().find("; done"), std::string::npos) << peer.Output();
        // Local time to the millisecond, as the installation writes it.
        std::size_t lines = 0, timed = 0;
        std::size_t at = 0;
        while (at < peer.Output().size()) {
            std::size_t end = peer.Output().find('\n', at);
            if (end == std::string::npos) end = peer.Output().size();
            const std::string line = peer.Output().substr(at, end - at);
            ++lines;
            const char* const stamp = "^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3} solvane: peer: ";
            if (!Search(stamp, line).empty()) ++timed;
            at = end + 1;
        }
        EXPECT_EQ(timed, lines) << peer.Output();
        EXPECT_GE(lines, 3u);
    }
}

TEST(PeerProgram, OneAddressHoldsAtMostTwoPlaces)
{
    PeerProcess peer({"--port", "0", "--interval-ms", "20"});
    const std::string port = peer.WaitFor(kListening);
    ASSERT_FALSE(port.empty()) << peer.Output();
    platform::Sockets sockets;
    TestLoop loop(sockets);
    // Another machine (127.0.0.2) opens every place it can and registers each.
    std::vector<SOCKET> taken;
    SOCKET udp = DatagramSocketAt(sockets, 2);
    for (int i = 0; i < PeerLink::PeerCount; ++i) {
        SOCKET s = ConnectFrom(sockets, 2, std::stoi(port));
        taken.push_back(s);
        std::uint8_t greeting[4] = {};
        int got = -1;
        loop.RunUntil([&] {
            got = sockets.recv(s, greeting, sizeof greeting, 0);
            return got != -1;
        }, 2000);
        if (got == 4) {
            const std::uint8_t registration[4] = {0xFE, 0xFF, greeting[2], greeting[3]};
            sockets.sendto(udp, registration, 4, 0, Loopback(std::stoi(port)));
        }
    }
    Installation installation(std::stoi(port));
    EXPECT_TRUE(installation.loop.RunUntil([&] { return installation.link.HasFrame(); }, 5000)) << peer.Output();
    EXPECT_FALSE(peer.WaitFor("closed a connection from [^ ]*127\\.0\\.0\\.2.*already holds 2 places").empty())
        << peer.Output();
    for (SOCKET s : taken) sockets.closesocket(s);
    sockets.closesocket(udp);
}
