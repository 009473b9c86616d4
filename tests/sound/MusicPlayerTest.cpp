// The music player: the loader's cache, segments that download and unload,
// the player's set-up and shutdown, and the echo of a stored voice heard
// through SDL's "disk" driver.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>

#include "SoundTestSupport.h"
#include "platform/files/WaveFile.h"
#include "sound/MusicPlayer.h"
#include "sound/MusicSegment.h"

using namespace soundtest;

namespace {

std::vector<std::int16_t> Tone(int rate, double hz, double seconds, double amplitude)
{
    std::vector<std::int16_t> samples(static_cast<std::size_t>(rate * seconds));
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<std::int16_t>(std::lround(amplitude * std::sin(2 * M_PI * hz * i / rate)));
    return samples;
}

class Music : public ::testing::Test {
protected:
    ScratchDir dir{"music"};
};

}  // namespace

TEST_F(Music, LoaderCachesByPathUntilCleared)
{
    std::string path = dir.File("a.wav");
    WritePcmWave(path, 160000, 1, std::vector<std::int16_t>(800, 5));
    MusicLoader loader;
    auto first = loader.LoadObjectFromFile(path);
    ASSERT_NE(nullptr, first);
    EXPECT_EQ(160000, first->rate);
    EXPECT_EQ(800u, first->samples.size());
    auto again = loader.LoadObjectFromFile(path);
    EXPECT_EQ(first.get(), again.get());
    EXPECT_EQ(1u, loader.DecodeCount());

    // The file changes under the same name: the cache still has the old one
    // until it is cleared.
    WritePcmWave(path, 160000, 1, std::vector<std::int16_t>(1600, 7));
    EXPECT_EQ(800u, loader.LoadObjectFromFile(path)->samples.size());
    loader.ClearCache();
    EXPECT_EQ(1600u, loader.LoadObjectFromFile(path)->samples.size());
    EXPECT_EQ(800u, first->samples.size());  // holders keep what they had
}

TEST_F(Music, CollectGarbageDropsOnlyWavesNobodyHolds)
{
    WritePcmWave(dir.File("held.wav"), 8000, 1, std::vector<std::int16_t>(10, 1));
    WritePcmWave(dir.File("loose.wav"), 8000, 1, std::vector<std::int16_t>(10, 2));
    MusicLoader loader;
    loader.SetSearchDirectory(dir.Path().string());
    auto held = loader.LoadObjectFromFile("held.wav");  // relative to the search folder
    ASSERT_NE(nullptr, held);
    ASSERT_NE(nullptr, loader.LoadObjectFromFile("loose.wav"));
    EXPECT_EQ(2u, loader.CachedCount());
    loader.CollectGarbage();
    EXPECT_EQ(1u, loader.CachedCount());
    loader.ReleaseObjectByUnknown(held.get());
    EXPECT_EQ(0u, loader.CachedCount());
}

TEST_F(Music, MissingOrBrokenFileLoadsNothing)
{
    MusicLoader loader;
    testing::internal::CaptureStderr();
    EXPECT_EQ(nullptr, loader.LoadObjectFromFile(dir.File("missing.wav")));
    std::ofstream(dir.File("broken.wav")) << "RIFF but not really";
    EXPECT_EQ(nullptr, loader.LoadObjectFromFile(dir.File("broken.wav")));
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(std::string::npos, err.find("solvane: music: "));
    EXPECT_EQ(0u, loader.CachedCount());
}

TEST_F(Music, SegmentDownloadsAndItsDestructionUnloads)
{
    std::string path = dir.File("voice.wav");
    WritePcmWave(path, 160000, 1, std::vector<std::int16_t>(16000, 3));
    MusicPlayer player;
    ASSERT_TRUE(player.Init(nullptr));
    {
        MusicSegment segment;
        ASSERT_TRUE(segment.Load(player.Performance(), player.Loader(), path, true));
        EXPECT_TRUE(segment.IsLoaded());
        EXPECT_EQ(16000, segment.Length());
        EXPECT_EQ(1u, player.Performance()->DownloadedCount());
        EXPECT_EQ(1u, player.Loader()->CachedCount());
    }
    EXPECT_EQ(0u, player.Performance()->DownloadedCount());
    EXPECT_EQ(0u, player.Loader()->CachedCount());

    MusicSegment missing;
    EXPECT_FALSE(missing.Load(player.Performance(), player.Loader(), dir.File("none.wav"), true));
    MusicSegment noLoader;
    EXPECT_FALSE(noLoader.Load(player.Performance(), nullptr, path, true));
    MusicSegment noPerformance;  // loaded but with nowhere to download: unloaded without it
    EXPECT_FALSE(noPerformance.Load(nullptr, player.Loader(), path, true));
}

TEST_F(Music, PlayerWithoutEchoIsSilentAndClosesTwice)
{
    MusicPlayer player;
    EXPECT_EQ(nullptr, player.Performance());
    EXPECT_EQ(nullptr, player.Loader());
    ASSERT_TRUE(player.Init(nullptr));
    ASSERT_NE(nullptr, player.Performance());
    EXPECT_TRUE(player.Performance()->IsSilent());  // nothing ever plays: no device is opened
    player.Close();
    player.Close();
    EXPECT_EQ(nullptr, player.Performance());
    EXPECT_EQ(nullptr, player.Loader());
}

TEST_F(Music, NoOutputDeviceIsOneNoticeNotAFailure)
{
    ScopedEnv driver("SDL_AUDIODRIVER", "no-such-driver");
    MusicPlayer player;
    player.SetEcho(true);
    testing::internal::CaptureStderr();
    EXPECT_TRUE(player.Init(nullptr));
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(player.Performance()->IsSilent());
    EXPECT_EQ(0u, err.find("solvane: music: ")) << err;
    EXPECT_EQ(1, std::count(err.begin(), err.end(), '\n')) << err;

    std::string path = dir.File("voice.wav");
    WritePcmWave(path, 160000, 1, std::vector<std::int16_t>(8000, 3));
    MusicSegment segment;
    EXPECT_TRUE(segment.Load(player.Performance(), player.Loader(), path, true));
    EXPECT_EQ(0u, player.Performance()->EchoCount());
}

TEST_F(Music, EchoIsHeardThroughTheDiskDriverAtTheDeviceRate)
{
    std::string played = dir.File("played.raw");
    ScopedEnv driver("SDL_AUDIODRIVER", "disk");
    ScopedEnv output("SDL_DISKAUDIOFILE", played);
    ScopedEnv delay("SDL_DISKAUDIODELAY", "2");

    // A quarter second of 1 kHz at the capture rate, as a stored voice is.
    std::vector<std::int16_t> voice = Tone(160000, 1000.0, 0.25, 12000.0);
    std::string path = dir.File("memory.wav");
    WritePcmWave(path, 160000, 1, voice);

    int rate = 0;
    {
        MusicPlayer player;
        player.SetEcho(true);
        ASSERT_TRUE(player.Init(nullptr));
        ASSERT_FALSE(player.Performance()->IsSilent());
        rate = player.Performance()->OutputRate();
        MusicSegment segment;
        ASSERT_TRUE(segment.Load(player.Performance(), player.Loader(), path, true));
        EXPECT_EQ(1u, player.Performance()->EchoCount());
        for (int i = 0; i < 500 && player.Performance()->QueuedSamples() > 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        player.Close();
    }
    ASSERT_GT(rate, 0);
    ASSERT_NE(160000, rate);

    auto bytes = ReadBytes(played);
    std::vector<std::int16_t> heard(bytes.size() / 2);
    std::memcpy(heard.data(), bytes.data(), heard.size() * 2);
    auto first = std::find_if(heard.begin(), heard.end(), [](std::int16_t s) { return s != 0; });
    ASSERT_NE(heard.end(), first) << "nothing was played";
    auto last = std::find_if(heard.rbegin(), heard.rend(), [](std::int16_t s) { return s != 0; }).base();

    // The same voice at the device's rate: as long, same tone, same level.
    std::vector<std::int16_t> expected;
    std::string error;
    ASSERT_TRUE(platform::ResampleMono(voice, 160000, rate, expected, error)) << error;
    std::vector<std::int16_t> sound(first, last);
    EXPECT_NEAR(static_cast<double>(expected.size()), static_cast<double>(sound.size()), rate * 0.002);
    int crossings = 0;
    int peak = 0;
    for (std::size_t i = 1; i < sound.size(); ++i) {
        if ((sound[i - 1] < 0) != (sound[i] < 0)) ++crossings;
        peak = std::max(peak, std::abs(static_cast<int>(sound[i])));
    }
    EXPECT_NEAR(500, crossings, 4);  // 250 periods of 1 kHz
    EXPECT_NEAR(12000, peak, 400);
    // Sample by sample it is the resampled voice (the first non-zero sample
    // may fall a little into the wave, where the tone starts at zero).
    auto offset = std::search(expected.begin(), expected.end(), sound.begin(), sound.begin() + 100);
    ASSERT_NE(expected.end(), offset);
    std::size_t compared = std::min(sound.size(), static_cast<std::size_t>(expected.end() - offset));
    EXPECT_TRUE(std::equal(sound.begin(), sound.begin() + static_cast<std::ptrdiff_t>(compared), offset));
}
