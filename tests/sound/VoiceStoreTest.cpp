// Storing the voice: the three places in order, the cache cleared before a
// rewrite, an unchanged list not written twice, and a disk that fills up.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <algorithm>

#include <sys/stat.h>
#include <unistd.h>

#include "SoundTestSupport.h"
#include "common/InstalledData.h"
#include "sound/MusicPlayer.h"
#include "sound/MusicSegment.h"
#include "sound/RecordingList.h"
#include "sound/VoiceStore.h"
#include "sound/WaveFileWriter.h"

using namespace soundtest;
namespace fs = std::filesystem;

namespace {

// Accepts only `capacity` bytes per file at the paths it is told to starve.
class FillingDiskSink : public FileSink {
public:
    FillingDiskSink(std::string fullPath, std::size_t capacity) : fullPath_(std::move(fullPath)), capacity_(capacity) {}
    bool Open(const std::string& path) override
    {
        used_ = 0;
        starving_ = path == fullPath_;
        return inner_.Open(path);
    }
    std::size_t Write(const void* data, std::size_t size) override
    {
        std::size_t n = starving_ ? std::min(size, capacity_ - used_) : size;
        used_ += n;
        return inner_.Write(data, n) == n ? n : 0;
    }
    bool Flush() override { return inner_.Flush(); }
    bool Close() override { return inner_.Close(); }
    std::string LastError() const override { return "No space left on device"; }

private:
    StdioFileSink inner_;
    std::string fullPath_;
    std::size_t capacity_;
    std::size_t used_ = 0;
    bool starving_ = false;
};

class Store : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::create_directories(dir.Path() / "data");
        paths = {dir.File("data/memory.wav"), dir.File("xdg/solvane/memory.wav"), dir.File("tmp/solvane-memory.wav")};
        fs::create_directories(dir.Path() / "tmp");
        ASSERT_TRUE(player.Init(nullptr));
        segment = std::make_unique<MusicSegment>();
    }
    void TearDown() override
    {
        segment.reset();
        list.FreeAll();
    }
    void Append(int count, std::int16_t value)
    {
        static std::uint32_t serial = 0;
        std::vector<std::int16_t> block(16000, value);
        for (int i = 0; i < count; ++i) list.AppendBlock(block.data(), ++serial);
    }

    // `store` stores the list's voice, loading it into `to`; what it logs goes
    // to `log`, or nowhere, instead of the test's output.
    bool StoreLogged(VoiceStore& store, MusicPlayer* to, std::string* log = nullptr)
    {
        testing::internal::CaptureStderr();
        const bool stored = store.Store(list, segment, to);
        std::string captured = testing::internal::GetCapturedStderr();
        if (log != nullptr) *log = std::move(captured);
        return stored;
    }

    ScratchDir dir{"store"};
    std::vector<std::string> paths;
    MusicPlayer player;
    RecordingList list;
    std::unique_ptr<MusicSegment> segment;
};

}  // namespace

TEST_F(Store, WritesTheDataFolderAndLoadsTheRecordedBlocks)
{
    Append(3, 1234);
    VoiceStore store(paths);
    ASSERT_TRUE(store.Store(list, segment, &player));
    EXPECT_EQ(paths[0], store.LastPath());
    EXPECT_EQ(46u + 48000u, fs::file_size(paths[0]));
    ASSERT_TRUE(segment->IsLoaded());
    EXPECT_EQ(24000, segment->Length());
    EXPECT_EQ(1234, segment->Wave()->samples[23999]);
    EXPECT_FALSE(fs::exists(paths[1]));
}

TEST_F(Store, WithoutASegmentNothingHappens)
{
    VoiceStore store(paths);
    segment.reset();
    EXPECT_TRUE(store.Store(list, segment, &player));
    EXPECT_EQ(nullptr, segment);
    EXPECT_FALSE(fs::exists(paths[0]));
}

TEST_F(Store, AnUnchangedListIsWrittenOnce)
{
    Append(2, 50);
    VoiceStore store(paths);
    for (int crystal = 0; crystal < 16; ++crystal) EXPECT_TRUE(store.Store(list, segment, &player));
    EXPECT_EQ(1u, store.Writes());
    EXPECT_EQ(1u, player.Performance()->DownloadedCount());

    Append(1, 60);  // the list grew: the next store writes again
    EXPECT_TRUE(store.Store(list, segment, &player));
    EXPECT_EQ(2u, store.Writes());
    EXPECT_EQ(24000, segment->Length());

    fs::remove(paths[0]);  // someone removed the file: it is written again
    EXPECT_TRUE(store.Store(list, segment, &player));
    EXPECT_EQ(3u, store.Writes());
    EXPECT_TRUE(fs::exists(paths[0]));
}

TEST_F(Store, TheCacheIsClearedBeforeTheRewriteSoTheNewVoiceLoads)
{
    VoiceStore store(paths);
    Append(1, 100);
    ASSERT_TRUE(store.Store(list, segment, &player));
    EXPECT_EQ(100, segment->Wave()->samples[0]);
    list.FreeAll();
    Append(2, 200);
    ASSERT_TRUE(store.Store(list, segment, &player));
    EXPECT_EQ(16000, segment->Length());
    EXPECT_EQ(200, segment->Wave()->samples[0]);
    EXPECT_EQ(2u, player.Loader()->DecodeCount());
    EXPECT_EQ(1u, player.Performance()->DownloadedCount());  // the old voice was unloaded
}

TEST_F(Store, AnUnwritableDataFolderSendsTheVoiceToTheUserDataFolder)
{
    // A folder where the file should be: refused whatever the test's rights.
    fs::create_directories(paths[0]);
    Append(1, 7);
    VoiceStore store(paths);
    std::string err;
    EXPECT_TRUE(StoreLogged(store, &player, &err));
    EXPECT_EQ(paths[1], store.LastPath());
    EXPECT_EQ(46u + 16000u, fs::file_size(paths[1]));  // its folder was made
    ASSERT_TRUE(segment->IsLoaded());
    EXPECT_EQ(fs::path(paths[1]).lexically_normal().string(), segment->Wave()->path);
    EXPECT_NE(std::string::npos, err.find("cannot write \"" + paths[0] + "\"")) << err;
}

TEST_F(Store, AFullDiskLeavesNoPartialFileAndMovesOn)
{
    Append(4, 9);
    FillingDiskSink sink(paths[0] + ".partial", 46 + 20000);
    VoiceStore store(paths);
    store.UseFileSink(&sink);
    std::string err;
    EXPECT_TRUE(StoreLogged(store, &player, &err));
    EXPECT_FALSE(fs::exists(paths[0]));
    EXPECT_FALSE(fs::exists(paths[0] + ".partial"));
    EXPECT_EQ(46u + 64000u, fs::file_size(paths[1]));
    EXPECT_FALSE(fs::exists(paths[1] + ".partial"));
    EXPECT_EQ(paths[1], store.LastPath());
    EXPECT_EQ(32000, segment->Length());
    // One line for the store, naming the place that refused.
    EXPECT_EQ(1, std::count(err.begin(), err.end(), '\n')) << err;
    EXPECT_NE(std::string::npos, err.find("cannot write \"" + paths[0] + "\": No space left on device")) << err;
}

// A full disk in the data folder: the previous voice stays, whole, and no
// partial file is left beside it.
TEST_F(Store, AFailedRewriteKeepsThePreviousVoiceWhole)
{
    Append(2, 5);
    VoiceStore first(paths);
    ASSERT_TRUE(StoreLogged(first, &player));
    Append(3, 6);
    FillingDiskSink sink(paths[0] + ".partial", 46 + 20000);
    VoiceStore second({paths[0]});
    second.UseFileSink(&sink);
    EXPECT_FALSE(StoreLogged(second, &player));
    EXPECT_EQ(46u + 32000u, fs::file_size(paths[0]));
    EXPECT_FALSE(fs::exists(paths[0] + ".partial"));
    ASSERT_TRUE(segment->IsLoaded()) << "the previous voice stays loaded";
    EXPECT_EQ(16000, segment->Length());
}

// Every place fails: the next store waits 10 s, then 20, 40 ... at most
// 10 minutes, and each failure is one line.
TEST_F(Store, AfterAFailureTheNextTryWaitsLongerEachTime)
{
    for (auto& path : paths) fs::create_directories(path);  // refused whatever the rights
    std::uint64_t now = 0;
    VoiceStore store(paths);
    store.UseClock([&now] { return now; });
    testing::internal::CaptureStderr();
    std::vector<std::uint64_t> pauses;
    std::uint64_t lastTry = 0;
    int tries = 0;
    for (int step = 0; step < 20000 && tries < 10; ++step) {
        now = static_cast<std::uint64_t>(step) * 1000;  // a store asked for every second
        Append(1, 1);                                     // always a changed list
        const std::uint32_t deferredBefore = store.Deferred();
        store.Store(list, segment, &player);
        if (store.Deferred() == deferredBefore) {
            if (tries > 0) pauses.push_back(now - lastTry);
            lastTry = now;
            ++tries;
        }
    }
    std::string err = testing::internal::GetCapturedStderr();
    const std::vector<std::uint64_t> expected = {10000, 20000, 40000, 80000, 160000, 320000, 600000, 600000, 600000};
    EXPECT_EQ(expected, pauses);
    EXPECT_EQ(10, std::count(err.begin(), err.end(), '\n')) << err;
    EXPECT_NE(std::string::npos, err.find("next try in 600 s")) << err;
}

TEST_F(Store, WhenEveryPlaceFailsTheLastIsStillLoaded)
{
    for (auto& path : paths) fs::create_directories(path);
    Append(1, 3);
    VoiceStore store(paths);
    std::string err;
    EXPECT_FALSE(StoreLogged(store, &player, &err));
    EXPECT_EQ(paths[2], store.LastPath());
    ASSERT_NE(nullptr, segment);
    EXPECT_FALSE(segment->IsLoaded());
    EXPECT_NE(std::string::npos, err.find("the voice is not stored")) << err;
}

TEST(StorePaths, DataFolderThenXdgDataHomeThenTemp)
{
    ScopedEnv xdg("XDG_DATA_HOME", "/srv/share");
    ScopedEnv tmp("TMPDIR", "/var/tmp");
    auto paths = VoiceStore::DefaultPaths("somewhere/data");
    ASSERT_EQ(3u, paths.size());
    EXPECT_EQ("somewhere/data/memory.wav", paths[0]);
    EXPECT_EQ("/srv/share/solvane/memory.wav", paths[1]);
    EXPECT_EQ("/var/tmp/solvane-" + std::to_string(::geteuid()) + "/memory.wav", paths[2]);
}

TEST(StorePaths, TheInstalledDataFolderIsNeverWrittenTo)
{
    ScopedEnv xdg("XDG_DATA_HOME", "/srv/share");
    for (const std::string& installed : {InstalledDataFolder(), InstalledDataFolder() + "/", InstalledDataFolder() + "/."}) {
        auto paths = VoiceStore::DefaultPaths(installed);
        ASSERT_EQ(2u, paths.size()) << installed;
        EXPECT_EQ("/srv/share/solvane/memory.wav", paths[0]) << installed;
    }
}

TEST(StorePaths, WithoutXdgDataHomeTheHomeFolderIsUsed)
{
    ScopedEnv xdg("XDG_DATA_HOME", nullptr);
    ScopedEnv home("HOME", "/home/gallery");
    EXPECT_EQ("/home/gallery/.local/share/solvane/memory.wav", VoiceStore::DefaultPaths("data")[1]);
    ScopedEnv relative("XDG_DATA_HOME", "not/absolute");  // ignored, as the XDG rules say
    EXPECT_EQ("/home/gallery/.local/share/solvane/memory.wav", VoiceStore::DefaultPaths("data")[1]);
}

TEST_F(Store, WithoutAPlayerTheFileIsWrittenButNothingLoads)
{
    Append(1, 5);
    VoiceStore store(paths);
    EXPECT_FALSE(StoreLogged(store, nullptr));
    EXPECT_EQ(46u + 16000u, fs::file_size(paths[0]));
    ASSERT_NE(nullptr, segment);
    EXPECT_FALSE(segment->IsLoaded());
}

// Another user on the machine plants a link where the partial file goes in
// the temporary fallback, and leaves the folder open: the link's target is
// untouched, the voice is 0600 in a folder closed to others. A folder that
// is someone else's is refused with a line naming its owner.
TEST_F(Store, WhatAStrangerPlantsInTheFallbackChangesNothingOfOurs)
{
    fs::create_directories(paths[0]);  // the data folder refuses
    const fs::path own = dir.Path() / "tmp" / "solvane-own";
    const std::vector<std::string> places = {paths[0], (own / "memory.wav").string()};
    std::ofstream(dir.File("victim")) << "not the voice";
    Append(2, 11);
    VoiceStore store(places);
    fs::create_directories(own);
    fs::permissions(own, fs::perms::all);
    fs::create_symlink(dir.File("victim"), places[1] + ".partial");
    EXPECT_TRUE(StoreLogged(store, &player));
    std::ifstream victim(dir.File("victim"));
    EXPECT_EQ("not the voice", std::string(std::istreambuf_iterator<char>(victim), {}));
    EXPECT_EQ(places[1], store.LastPath());
    EXPECT_EQ(46u + 32000u, fs::file_size(places[1]));
    struct stat file {}, folder {};
    ASSERT_EQ(0, ::lstat(places[1].c_str(), &file));
    ASSERT_EQ(0, ::stat(own.c_str(), &folder));
    EXPECT_EQ(0600u, file.st_mode & 07777);
    EXPECT_EQ(0700u, folder.st_mode & 07777);
    EXPECT_FALSE(fs::exists(fs::symlink_status(places[1] + ".partial")));

    // A stranger's folder: only root can make one here for the test.
    if (::geteuid() != 0) GTEST_SKIP() << "giving the folder to another user needs root";
    ASSERT_EQ(0, ::chown(own.c_str(), 4242, 4242));
    Append(1, 12);
    std::string err;
    EXPECT_FALSE(StoreLogged(store, &player, &err));
    EXPECT_NE(std::string::npos, err.find("belongs to uid 4242")) << err;
    EXPECT_EQ(46u + 32000u, fs::file_size(places[1])) << "nothing is written into it";
}
