// The status file as another user on the machine could meet it: written
// 0600 without a temporary left behind, refused in a folder that is not
// ours, and a forged one shown with its numbers held in range and its
// control characters escaped.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

#include "operator/Health.h"
#include "operator/StatusFile.h"
#include "support/XFileWriter.h"

namespace {

namespace fs = std::filesystem;

class StatusFolder : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(root.empty());
        const char* old = std::getenv("XDG_RUNTIME_DIR");
        hadRuntime = old != nullptr;
        if (hadRuntime) oldRuntime = old;
        ::setenv("XDG_RUNTIME_DIR", root.c_str(), 1);
    }
    void TearDown() override
    {
        if (hadRuntime) ::setenv("XDG_RUNTIME_DIR", oldRuntime.c_str(), 1);
        else ::unsetenv("XDG_RUNTIME_DIR");
    }
    static std::string Shown(const std::string& path, int& status)
    {
        std::FILE* out = std::tmpfile();
        status = ShowStatus(path, out);
        std::rewind(out);
        std::string text;
        for (int c = std::fgetc(out); c != EOF; c = std::fgetc(out)) text += static_cast<char>(c);
        std::fclose(out);
        return text;
    }

    testsupport::TempFolder folder;
    const fs::path root{folder.Path()};
    bool hadRuntime = false;
    std::string oldRuntime;
};

TEST_F(StatusFolder, WrittenOursAloneAndRefusedInAFolderThatIsNot)
{
    Health health;
    health.threshold = 4000;
    std::string error;
    const mode_t oldMask = ::umask(0);
    StatusFile file("");
    EXPECT_EQ((root / "solvane" / "status.json").string(), file.Path());
    ASSERT_TRUE(file.Write(health, error)) << error;
    ::umask(oldMask);
    struct stat info {};
    ASSERT_EQ(0, ::stat(file.Path().c_str(), &info));
    EXPECT_EQ(0600u, info.st_mode & 07777);
    ASSERT_EQ(0, ::stat((root / "solvane").c_str(), &info));
    EXPECT_EQ(0700u, info.st_mode & 07777);
    int entries = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(root / "solvane")) ++entries;
    EXPECT_EQ(1, entries) << "the temporary file was left";
    int status = 0;
    EXPECT_NE(std::string::npos, Shown("", status).find("threshold 4000"));

    // Someone swapped the folder for a link to a folder they fill: nothing
    // is written there, and --show-status does not trust what it holds.
    fs::remove_all(root / "solvane");
    fs::create_directory(root / "forged");
    std::ofstream(root / "forged" / "status.json") << R"({"threshold": 1})";
    fs::create_directory_symlink(root / "forged", root / "solvane");
    EXPECT_FALSE(file.Write(health, error));
    EXPECT_NE(std::string::npos, error.find("is a symbolic link that belongs to")) << error;
    const std::string shown = Shown("", status);
    EXPECT_EQ(1, status);
    EXPECT_NE(std::string::npos, shown.find("is not shown")) << shown;
    EXPECT_EQ(std::string::npos, shown.find("threshold 1")) << shown;
}

TEST_F(StatusFolder, AForgedFileIsShownEscapedAndInRange)
{
    const std::string path = (root / "forged.json").string();
    std::ofstream(path) << R"({"started_at": "\u001b[2J\u001b]0;owned\u0007", "uptime_s": 1e300, "steps": -5,
        "steps_per_second": -1e300, "threshold": 1e300, "gain_db": 1e300, "sparks": 1e30, "pictures_in_flight": -1,
        "pictures_received": 18446744073709551615, "warnings": 1.5e19, "errors": -1e300,
        "microphone": {"state": "ok\nforged: line", "device": "\u009b31m"},
        "crystals": {"listening": 1e300}, "peer": "not an object",
        "last_voice": {"path": "/tmp/x\r", "blocks": 1e10}})";
    int status = 0;
    const std::string shown = Shown(path, status);
    for (const char raw : {'\x1b', '\x07', '\r'}) EXPECT_EQ(std::string::npos, shown.find(raw)) << shown;
    EXPECT_EQ(std::string::npos, shown.find("\xc2\x9b")) << shown;
    EXPECT_EQ(std::string::npos, shown.find("\nforged: line")) << shown;
    EXPECT_NE(std::string::npos, shown.find("\\x1b[2J")) << shown;
    EXPECT_NE(std::string::npos, shown.find("threshold 2147483647 (")) << shown;
    EXPECT_NE(std::string::npos, shown.find("step 0 ")) << shown;
    EXPECT_NE(std::string::npos, shown.find("4294967295 sparks")) << shown;
    EXPECT_NE(std::string::npos, shown.find("18 446 744 073 709 551 615 received")) << shown;
    EXPECT_NE(std::string::npos, shown.find("log: 15 000 000 000 000 000 000 warnings, 0 errors")) << shown;
}

TEST_F(StatusFolder, ALongForgedStringKeepsEveryLineOfTheReport)
{
    const auto lines = [&](std::size_t length) {
        const std::string path = (root / "long.json").string();
        std::ofstream(path) << "{\"started_at\": \"" << std::string(length, '\x7f') << "\", \"steps\": 2650}";
        int status = 0;
        const std::string shown = Shown(path, status);
        EXPECT_NE(std::string::npos, shown.find("\nmicrophone: ")) << shown;
        return std::count(shown.begin(), shown.end(), '\n');
    };
    EXPECT_EQ(lines(1), lines(600));
}

}  // namespace
