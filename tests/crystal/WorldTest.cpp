// The world container: filling, emptying, the recording buffer, and start-up
// failures that name the missing file.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "common/Log.h"

#include "support/SceneTestHost.h"
#include "crystal/World.h"
#include "render/ScreenFade.h"
#include "scenery/CopyrightOverlay.h"
#include "scenery/Ground.h"
#include "scenery/LogoMesh.h"
#include "scenery/TitleOverlay.h"

namespace {

class WorldTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(host.Start()); }

    // Init from `folder` fails, and the failure names `named`.
    ::testing::AssertionResult InitFailsNaming(World& world, const std::string& folder, const std::string& named)
    {
        host.options.dataDir = folder;
        if (world.Init(&host, 640, 480)) return ::testing::AssertionFailure() << "it started from " << folder;
        if (world.LastError().find(named) == std::string::npos)
            return ::testing::AssertionFailure() << "the failure does not name " << named << ": " << world.LastError();
        return ::testing::AssertionSuccess();
    }

    // Init from a data folder with every file but `missing` fails, naming it.
    ::testing::AssertionResult InitFailsWithout(World& world, const std::string& missing)
    {
        std::vector<std::string> files = EveryDataFile();
        std::erase(files, missing);
        return InitFailsNaming(world, MakeDataFolder("world-no-" + missing, files), missing);
    }

    SceneTestHost host;
};

// A data folder with every file, `broken` holding `contents` instead.
std::string DataFolderBreaking(const std::string& name, const std::string& broken, const std::string& contents)
{
    std::string folder = MakeDataFolder(name, EveryDataFile());
    std::ofstream file(folder + "/" + broken, std::ios::binary | std::ios::trunc);
    file << contents;
    EXPECT_TRUE(file.flush()) << "cannot write " << folder << "/" << broken;
    return folder;
}

TEST_F(WorldTest, ShutdownBeforeInitAndTwiceIsHarmless)
{
    World world;
    world.Shutdown();
    world.Shutdown();
    host.options.dataDir = MakeDataFolder("world-complete", EveryDataFile());
    ASSERT_TRUE(world.Init(&host, 640, 480)) << world.LastError();
    EXPECT_TRUE(world.ground);
    EXPECT_TRUE(world.logo);
    EXPECT_TRUE(world.lights);
    EXPECT_TRUE(world.recordingList);
    EXPECT_TRUE(world.analyser);
    EXPECT_TRUE(world.crystals);
    EXPECT_TRUE(world.title);
    EXPECT_TRUE(world.copyright);
    EXPECT_TRUE(world.fade);
    world.Shutdown();
    EXPECT_FALSE(world.ground);
    EXPECT_FALSE(world.logo);
    EXPECT_FALSE(world.lights);
    EXPECT_FALSE(world.recordingList);
    EXPECT_FALSE(world.analyser);
    EXPECT_FALSE(world.crystals);
    EXPECT_FALSE(world.title);
    EXPECT_FALSE(world.copyright);
    EXPECT_FALSE(world.fade);
    world.Shutdown();
}

TEST_F(WorldTest, MissingSphereMapFailsNamingTheFile)
{
    World world;
    EXPECT_TRUE(InitFailsWithout(world, "spheremap.bmp"));
    // The lights were made before the crystals and stay for Shutdown.
    EXPECT_TRUE(world.lights);
    EXPECT_FALSE(world.title);
    world.Shutdown();
}

TEST_F(WorldTest, MissingTitleFailsNamingTheFile)
{
    World world;
    EXPECT_TRUE(InitFailsWithout(world, "title.png"));
    EXPECT_NE(world.LastError().find(host.options.dataDir), std::string::npos) << world.LastError();
    world.Shutdown();
}

TEST_F(WorldTest, MissingCopyrightFailsNamingTheFile)
{
    World world;
    EXPECT_TRUE(InitFailsWithout(world, "CopyRight.png"));
    // What was made before the failure stays for Shutdown.
    EXPECT_TRUE(world.title);
    world.Shutdown();
    EXPECT_FALSE(world.title);
}

TEST_F(WorldTest, UnreadablePictureFailsNamingTheFile)
{
    World world;
    EXPECT_TRUE(InitFailsNaming(world, DataFolderBreaking("world-broken-title", "title.png", "not a picture"), "title.png"));
    EXPECT_EQ(world.LastError().find("missing"), std::string::npos) << world.LastError();
}

// A 210-byte BMP that claims 100 000 x 100 000 pixels: refused from its
// header, and the failure names the file that is broken, not its neighbour,
// in the one line the start prints (the loaders themselves say nothing).
TEST_F(WorldTest, BrokenPictureFailsOnceNamingThatFile)
{
    std::vector<std::uint8_t> hostile = {'B', 'M', 210, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0, 0, 0,
                                         0xA0, 0x86, 0x01, 0, 0xA0, 0x86, 0x01, 0, 1, 0, 24, 0};
    hostile.resize(210, 0x40);
    for (const char* broken : {"light1.bmp", "light2.bmp", "spheremap.bmp", "title.png"}) {
        std::string folder = DataFolderBreaking("world-hostile", broken, std::string(hostile.begin(), hostile.end()));
        const std::vector<std::string> before = RecentLogLines(200);
        World world;
        EXPECT_TRUE(InitFailsNaming(world, folder, "\"" + folder + "/" + broken + "\""));
        EXPECT_NE(world.LastError().find("100000 x 100000"), std::string::npos) << broken << ": " << world.LastError();
        EXPECT_EQ(RecentLogLines(200), before) << broken << ": the loader logged a line of its own";
        world.Shutdown();
    }
}

TEST_F(WorldTest, GroundPictureIsOptionalAndTheLogoIsLoaded)
{
    World world;
    host.options.dataDir = MakeDataFolder("world-logo", {"light1.bmp", "light2.bmp", "spheremap.bmp", "title.png", "CopyRight.png", "logo.x", "logo.bmp"});
    ASSERT_TRUE(world.Init(&host, 640, 480)) << world.LastError();
    EXPECT_EQ(world.ground->texture, nullptr) << "no ground.bmp in this folder";
    EXPECT_FLOAT_EQ(world.ground->corners[1].x, 100.0f);
    EXPECT_EQ(world.logo->faceCount, 48u);
    EXPECT_EQ(world.logo->triangleVertices.size(), 144u);
    EXPECT_NE(world.logo->logoTexture.texture, nullptr);
    world.Shutdown();
}

TEST_F(WorldTest, MissingOrBrokenLogoFailsNamingTheFile)
{
    {
        World world;
        EXPECT_TRUE(InitFailsWithout(world, "logo.x"));
        EXPECT_NE(world.LastError().find(host.options.dataDir + "/logo.x"), std::string::npos) << world.LastError();
        EXPECT_NE(world.LastError().find("missing"), std::string::npos) << world.LastError();
        EXPECT_FALSE(world.copyright) << "nothing after the logo is made";
    }
    for (const char* broken : {"", "xof 0303txt 0032\nMesh {\n 3;\n 0;0;0;,\n", "not an x file at all"}) {
        World world;
        EXPECT_TRUE(InitFailsNaming(world, DataFolderBreaking("world-broken-logo", "logo.x", broken), "logo.x"));
        EXPECT_EQ(world.LastError().find("missing"), std::string::npos) << world.LastError();
    }
}

TEST_F(WorldTest, SecondHalfOfTheRecordingBufferStaysSilent)
{
    World world;
    for (std::int16_t s : world.recordingBuffer) ASSERT_EQ(s, 0);
    EXPECT_EQ(world.recordedLength, 0u);

    std::vector<std::int16_t> block(8000, 1234);
    world.StoreBlock(block.data(), 16000);
    EXPECT_EQ(world.recordedLength, 16000u);
    EXPECT_EQ(world.recordingBuffer[0], 1234);
    EXPECT_EQ(world.recordingBuffer[7999], 1234);
    for (std::size_t i = 8000; i < World::kRecordingSamples; ++i) ASSERT_EQ(world.recordingBuffer[i], 0) << i;

    // A header announcing more than one block cannot reach the second half.
    std::vector<std::int16_t> oversized(16000, -777);
    world.StoreBlock(oversized.data(), 32000);
    EXPECT_EQ(world.recordedLength, 16000u);
    EXPECT_EQ(world.recordingBuffer[7999], -777);
    for (std::size_t i = 8000; i < World::kRecordingSamples; ++i) ASSERT_EQ(world.recordingBuffer[i], 0) << i;
}

}  // namespace
