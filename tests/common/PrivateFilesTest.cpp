// What another user can plant or point us at: every reader refuses what is
// not a regular file of a fitting size without blocking or holding it, and
// what we write lands 0600 in a folder that is ours, never through a link.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/EscapedText.h"
#include "common/PrivateFiles.h"
#include "common/RegularFile.h"
#include "support/XFileWriter.h"

namespace {

namespace fs = std::filesystem;

class PlantedFiles : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(root.empty()); }
    std::string At(const std::string& name) const { return (root / name).string(); }
    static void Write(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }
    static std::string Read(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    static unsigned Mode(const std::string& path)
    {
        struct stat info {};
        ::lstat(path.c_str(), &info);
        return info.st_mode & 07777;
    }

    testsupport::TempFolder folder;
    const fs::path root{folder.Path()};
};

TEST_F(PlantedFiles, OnlyRegularFilesWithinTheLimitAreRead)
{
    Write(At("small"), "[IP]\nhost\n");
    fs::create_symlink(At("small"), At("link"));  // a link to a regular file is that file
    ASSERT_EQ(0, ::mkfifo(At("fifo").c_str(), 0600));
    fs::create_directory(At("folder"));
    {
        std::ofstream big(At("big"), std::ios::binary);
        big.seekp(static_cast<std::streamoff>(kTextFileLimit));
        big.put('x');  // one byte past the limit, sparse
    }
    std::string text, why;
    EXPECT_TRUE(ReadRegularFile(At("small"), kTextFileLimit, text, why));
    EXPECT_EQ("[IP]\nhost\n", text);
    EXPECT_TRUE(ReadRegularFile(At("link"), kTextFileLimit, text, why));

    struct Case {
        std::string path, reason;
    };
    const std::vector<Case> refused = {
        {At("fifo"), "not a regular file (a FIFO)"},
        {At("folder"), "not a regular file (a folder)"},
        {"/dev/zero", "not a regular file (a character device)"},
        {At("big"), "a file of 1048577 bytes is larger than the 1 MB it may hold"},
        {At("none"), "missing"},
    };
    const auto start = std::chrono::steady_clock::now();
    for (const Case& c : refused) {
        std::vector<std::uint8_t> bytes{1, 2, 3};
        EXPECT_FALSE(ReadRegularFile(c.path, kTextFileLimit, bytes, why)) << c.path;
        EXPECT_EQ(c.reason, why) << c.path;
        EXPECT_TRUE(bytes.empty()) << c.path;
    }
    // The FIFO has no writer: opening it must not have waited for one.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

TEST_F(PlantedFiles, ANewFileIsOursAloneAndNeverWrittenThroughALink)
{
    const mode_t oldMask = ::umask(0);  // the most open umask: the mode must not depend on it
    Write(At("victim"), "someone else's");
    fs::create_symlink(At("victim"), At("memory.wav.partial"));
    Write(At("status.json.partial"), "stale");
    ::chmod(At("status.json.partial").c_str(), 0666);
    std::string why;
    for (const std::string name : {"memory.wav.partial", "status.json.partial"}) {
        const int fd = CreatePrivateFile(At(name), why);
        ASSERT_GE(fd, 0) << name << ": " << why;
        ASSERT_EQ(3, ::write(fd, "new", 3));
        ::close(fd);
        EXPECT_EQ(0600u, Mode(At(name))) << name;
        EXPECT_EQ("new", Read(At(name))) << name;
    }
    EXPECT_EQ("someone else's", Read(At("victim")));
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(At("memory.wav.partial"))));

    std::string temporary;
    const int fd = CreatePrivateTemporary(At("status.json"), temporary, why);
    ASSERT_GE(fd, 0) << why;
    ::close(fd);
    EXPECT_EQ(0600u, Mode(temporary));
    EXPECT_EQ(At("status.json").size() + 7, temporary.size());  // status.json.XXXXXX
    ::umask(oldMask);
}

TEST_F(PlantedFiles, AFolderIsUsedOnlyWhenItIsOurs)
{
    std::string why;
    // Made 0700 when missing, whatever the umask.
    const mode_t oldMask = ::umask(0);
    ASSERT_TRUE(PrepareOwnFolder(At("made/solvane-1"), ::geteuid(), why)) << why;
    ::umask(oldMask);
    EXPECT_EQ(0700u, Mode(At("made/solvane-1")));
    // Ours but open to everyone: closed.
    fs::create_directory(At("open"));
    ::chmod(At("open").c_str(), 0777);
    ASSERT_TRUE(PrepareOwnFolder(At("open"), ::geteuid(), why)) << why;
    EXPECT_EQ(0700u, Mode(At("open")));

    // Someone else's: refused, naming the owner, and left as it was. The
    // test plays another user by claiming a uid that is not the folder's.
    const uid_t stranger = ::geteuid() + 4242;
    fs::create_directory(At("theirs"));
    ::chmod(At("theirs").c_str(), 0777);
    EXPECT_FALSE(PrepareOwnFolder(At("theirs"), stranger, why));
    EXPECT_NE(std::string::npos, why.find("belongs to " + DescribeOwner(::geteuid()))) << why;
    EXPECT_NE(std::string::npos, why.find("not to uid " + std::to_string(stranger))) << why;
    EXPECT_EQ(0777u, Mode(At("theirs")));
    EXPECT_FALSE(CheckOwnFolder(At("theirs"), stranger, why));

    // A link to a folder, even one of ours, is refused and not followed.
    fs::create_directory_symlink(At("open"), At("linked"));
    EXPECT_FALSE(PrepareOwnFolder(At("linked"), ::geteuid(), why));
    EXPECT_NE(std::string::npos, why.find("is a symbolic link that belongs to")) << why;
    EXPECT_FALSE(CheckOwnFolder(At("linked"), ::geteuid(), why));
    // A file where the folder should be.
    Write(At("plain"), "x");
    EXPECT_FALSE(PrepareOwnFolder(At("plain"), ::geteuid(), why));
    EXPECT_NE(std::string::npos, why.find("is not a folder")) << why;
}

TEST(EscapedText, ControlCharactersCannotForgeLinesOrReachTheTerminal)
{
    EXPECT_EQ("plain \xc3\xa9t\xc3\xa9 text", EscapeControlCharacters("plain \xc3\xa9t\xc3\xa9 text"));
    EXPECT_EQ("a\\x0aforged line\\x1b[31m\\x7f\\xc2\\x9b2J\\\\", EscapeControlCharacters("a\nforged line\x1b[31m\x7f\xc2\x9b" "2J\\"));
}

}  // namespace
