// The world's stored voice: blocks counted as they arrive, the recording list
// written to memory.wav in the data folder (or the user data folder when the
// data folder refuses it) and loaded into the music player, and everything
// released by Shutdown.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

#include <unistd.h>

#include "crystal/CrystalCluster.h"
#include "crystal/World.h"
#include "sound/MusicPlayer.h"
#include "sound/MusicSegment.h"
#include "sound/RecordingList.h"
#include "support/SceneTestHost.h"

namespace fs = std::filesystem;

namespace {

class HostWithMusic : public SceneTestHost {
public:
    MusicPlayer* GetMusicPlayer() override { return withPlayer ? &player : nullptr; }
    MusicPlayer player;
    bool withPlayer = true;
};

class WorldVoice : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(host.Start());
        ASSERT_TRUE(host.player.Init(nullptr));
        const char* xdg = std::getenv("XDG_DATA_HOME");
        if (xdg != nullptr) oldXdg = xdg;
        userData = fs::path(SOLVANE_BINARY_DIR) / "test-data" / ("world-voice-user-" + std::to_string(getpid()));
        fs::remove_all(userData);
        setenv("XDG_DATA_HOME", userData.c_str(), 1);
    }
    void TearDown() override
    {
        world.Shutdown();
        if (oldXdg.empty())
            unsetenv("XDG_DATA_HOME");
        else
            setenv("XDG_DATA_HOME", oldXdg.c_str(), 1);
        fs::remove_all(userData);
        if (!madeData.empty()) fs::remove_all(madeData);
    }
    void InitWorld(const std::string& name)
    {
        host.options.dataDir = MakeDataFolder(name + "-" + std::to_string(getpid()), EveryDataFile());
        madeData = host.options.dataDir;
        ASSERT_TRUE(world.Init(&host, 640, 480)) << world.LastError();
    }
    // One microphone block arrives and every recording crystal offers it.
    void Record(std::int16_t value, int crystals = 16)
    {
        std::vector<std::int16_t> block(8000, value);
        world.StoreBlock(block.data(), 16000);
        for (int c = 0; c < crystals; ++c) world.recordingList->AppendBlock(world.recordingBuffer, world.blockSerial);
    }

    HostWithMusic host;
    World world;
    fs::path userData;
    std::string oldXdg;
    std::string madeData;
};

}  // namespace

TEST_F(WorldVoice, BeforeInitThereIsNothingToStore)
{
    EXPECT_TRUE(world.StoreVoice());
    EXPECT_EQ(nullptr, world.segment);
}

TEST_F(WorldVoice, EveryBlockIsCountedAndRecordedOnce)
{
    ASSERT_NO_FATAL_FAILURE(InitWorld("world-voice-count"));
    ASSERT_TRUE(world.recordingList);
    ASSERT_TRUE(world.segment);
    std::uint32_t before = world.blockSerial;
    Record(100);
    Record(200);
    EXPECT_EQ(before + 2, world.blockSerial);
    ASSERT_EQ(2, world.recordingList->Count());
    EXPECT_EQ(200, world.recordingList->At(1)->samples[7999]);
}

TEST_F(WorldVoice, BlocksArrivingWhileACrystalRecordsAreKeptEvenBetweenSteps)
{
    ASSERT_NO_FATAL_FAILURE(InitWorld("world-voice-between-steps"));
    std::vector<std::int16_t> block(8000, 5000);
    world.StoreBlock(block.data(), 16000);  // nobody records yet: not kept
    EXPECT_EQ(0, world.recordingList->Count());
    world.crystals->crystals[3]->phase = Recording;
    block.assign(8000, 6000);
    world.StoreBlock(block.data(), 16000);
    block.assign(8000, 7000);
    world.StoreBlock(block.data(), 16000);  // two blocks before the next step
    world.recordingList->AppendBlock(world.recordingBuffer, world.blockSerial);  // the step's offer: kept already
    ASSERT_EQ(2, world.recordingList->Count());
    EXPECT_EQ(6000, world.recordingList->At(0)->samples[0]);
    EXPECT_EQ(7000, world.recordingList->At(1)->samples[0]);
}

TEST_F(WorldVoice, StoreVoiceWritesTheDataFolderAndLoadsIt)
{
    ASSERT_NO_FATAL_FAILURE(InitWorld("world-voice-store"));
    Record(1000);
    Record(2000);
    Record(3000);
    testing::internal::CaptureStderr();
    for (int crystal = 0; crystal < 16; ++crystal) EXPECT_TRUE(world.StoreVoice());
    EXPECT_TRUE(world.FinishVoiceStore());
    std::string err = testing::internal::GetCapturedStderr();
    std::string path = host.options.dataDir + "/memory.wav";
    EXPECT_EQ(46u + 48000u, fs::file_size(path));
    ASSERT_TRUE(world.segment->IsLoaded());
    EXPECT_EQ(24000, world.segment->Length());
    EXPECT_EQ(3000, world.segment->Wave()->samples[23999]);
    // Sixteen stores of one unchanged recording: one write, one line.
    EXPECT_EQ(1, std::count(err.begin(), err.end(), '\n')) << err;
    EXPECT_EQ(1u, host.player.Performance()->DownloadedCount());
}

TEST_F(WorldVoice, ARefusingDataFolderSendsTheVoiceToTheUserDataFolder)
{
    ASSERT_NO_FATAL_FAILURE(InitWorld("world-voice-refused"));
    fs::create_directory(host.options.dataDir + "/memory.wav");  // refused whatever the rights
    Record(500);
    testing::internal::CaptureStderr();
    EXPECT_TRUE(world.StoreVoice());
    EXPECT_TRUE(world.FinishVoiceStore());
    testing::internal::GetCapturedStderr();
    fs::path stored = userData / "solvane" / "memory.wav";
    EXPECT_EQ(46u + 16000u, fs::file_size(stored));
    ASSERT_TRUE(world.segment->IsLoaded());
    EXPECT_EQ(stored.lexically_normal().string(), world.segment->Wave()->path);
}

TEST_F(WorldVoice, WithoutAMusicPlayerTheVoiceIsWrittenButNotLoaded)
{
    host.withPlayer = false;
    ASSERT_NO_FATAL_FAILURE(InitWorld("world-voice-no-player"));
    Record(9);
    testing::internal::CaptureStderr();
    EXPECT_TRUE(world.StoreVoice());
    EXPECT_FALSE(world.FinishVoiceStore());
    testing::internal::GetCapturedStderr();
    EXPECT_TRUE(fs::exists(host.options.dataDir + "/memory.wav"));
}

TEST_F(WorldVoice, ShutdownFreesTheBlocksAndUnloadsTheVoice)
{
    ASSERT_NO_FATAL_FAILURE(InitWorld("world-voice-shutdown"));
    Record(7);
    testing::internal::CaptureStderr();
    world.StoreVoice();
    testing::internal::GetCapturedStderr();
    Record(8);  // still in the list at shutdown: freed, not leaked
    world.Shutdown();
    EXPECT_FALSE(world.recordingList);
    EXPECT_FALSE(world.segment);
    EXPECT_EQ(0u, host.player.Performance()->DownloadedCount());
    EXPECT_TRUE(world.StoreVoice());
}
