// --video end to end: offline runs of the whole installation on the
// offscreen OpenGL window, the file read back through FFmpeg's decoders.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "app/Application.h"
#include "platform/files/PngFile.h"
#include "platform/system/System.h"
#include "platform/files/VideoFile.h"
#include "support/GlTestDevice.h"

namespace {

namespace fs = std::filesystem;

class VideoRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string reason;
        HWND probe = testsupport::OffscreenGlWindow(&reason);
        if (probe == nullptr) GTEST_SKIP() << "no OpenGL here: " << reason;
        folder = fs::temp_directory_path() / ("solvane-video-" + std::to_string(::getpid()));
        fs::remove_all(folder);
        fs::create_directories(folder);
        std::string error;
        ASSERT_TRUE(platform::StartSystem(error)) << error;
        options.headless = true;
        options.fast = true;
        options.demo = true;
        options.echo = true;
        options.seed = 3;
        options.steps = kSteps;
        options.dataDir = std::string(SOLVANE_SOURCE_DIR) + "/data";
        options.statusFile = (folder / "status.json").string();
    }
    void TearDown() override
    {
        platform::StopSystem();
        fs::remove_all(folder);
    }

    void RunOnce()
    {
        std::srand(*options.seed);
        Application app(options);
        ASSERT_TRUE(app.Init(nullptr, 1)) << app.FailureReason();
        EXPECT_EQ(app.Run(), 0);
        EXPECT_EQ(app.StepCount(), kSteps);
    }

    static std::string Bytes(const fs::path& path)
    {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    static constexpr std::uint32_t kSteps = 40;
    fs::path folder;
    Options options;
    std::string error_;
};

double Psnr(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b)
{
    double sum = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const double d = static_cast<double>(a[i]) - static_cast<double>(b[i]);
        sum += d * d;
    }
    const double mse = sum / static_cast<double>(a.size());
    return mse == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

TEST_F(VideoRun, OfflineFileHoldsEveryStepAndItsSoundAndIsTheSameOnEveryRun)
{
    options.video = (folder / "run.mp4").string();
    options.framesDir = (folder / "frames").string();
    RunOnce();
    const std::string first = Bytes(options.video);

    platform::VideoProbe probe;
    std::string error;
    const std::int64_t checked = kSteps - 5;
    ASSERT_TRUE(platform::ProbeVideo(options.video, checked, probe, error)) << error;
    EXPECT_EQ(probe.frames, kSteps);
    EXPECT_EQ(probe.width, 640);
    EXPECT_EQ(probe.height, 480);
    EXPECT_DOUBLE_EQ(probe.framesPerSecond, 20.0);
    ASSERT_EQ(probe.soundRate, 48000);
    // 50 ms of sound per step; the encoder's last frame may round up.
    EXPECT_NEAR(static_cast<double>(probe.soundSamples) / probe.soundRate, kSteps * 0.05, 0.025);

    // Video frame k is the picture --frames writes for step k + 1.
    unsigned width = 0, height = 0;
    std::vector<std::uint8_t> png;
    char name[32];
    std::snprintf(name, sizeof name, "frame-%06u.png", static_cast<unsigned>(checked + 1));
    ASSERT_TRUE(platform::ReadPng((folder / "frames" / name).string(), width, height, platform::PixelLayout::Rgb, png));
    ASSERT_EQ(probe.rgb.size(), png.size());
    const double psnr = Psnr(probe.rgb, png);
    EXPECT_GT(psnr, 30.0) << "frame " << checked;
    // Against the step before, the same comparison is clearly worse: the
    // pictures move, so the bound above tells the steps apart.
    std::snprintf(name, sizeof name, "frame-%06u.png", static_cast<unsigned>(checked));
    ASSERT_TRUE(platform::ReadPng((folder / "frames" / name).string(), width, height, platform::PixelLayout::Rgb, png));
    EXPECT_LT(Psnr(probe.rgb, png), psnr);

    // The same run again: the same bytes.
    fs::remove_all(folder / "frames");
    options.framesDir.clear();
    RunOnce();
    EXPECT_TRUE(Bytes(options.video) == first) << "the second run's file differs";

    // The status file says what was recorded.
    const std::string status = Bytes(options.statusFile);
    EXPECT_NE(status.find("\"video\""), std::string::npos) << status;
    EXPECT_NE(status.find("\"frames\": " + std::to_string(kSteps)), std::string::npos) << status;
}

TEST_F(VideoRun, NumberedFilesSplitTheRunAndABadNameFailsTheStart)
{
    options.video = (folder / "run.txt").string();
    {
        Application app(options);
        EXPECT_FALSE(app.Init(nullptr, 1));
        EXPECT_NE(app.FailureReason().find(".mp4 or .mkv"), std::string::npos) << app.FailureReason();
    }
    // A Matroska file, through the recorder's own split: a recorder that
    // starts a file every 15 steps.
    VideoRecorderSettings settings;
    settings.path = (folder / "part.mkv").string();
    settings.offline = true;
    settings.stepsPerFile = 15;
    {
        VideoRecorder recorder(settings);
        ASSERT_TRUE(recorder.Start(error_));
        std::vector<std::uint8_t> rgb(640 * 480 * 3);
        for (int step = 0; step < 40; ++step) {
            std::fill(rgb.begin(), rgb.end(), static_cast<std::uint8_t>(step * 6));
            recorder.AddStep(rgb, 640, 480, std::vector<std::int16_t>(8000, static_cast<std::int16_t>(step * 100)));
        }
        recorder.Finish();
        EXPECT_EQ(recorder.Counts().frames, 40u);
        EXPECT_EQ(recorder.Counts().dropped, 0u);
    }
    const std::int64_t expected[] = {15, 15, 10};
    for (std::uint32_t n = 1; n <= 3; ++n) {
        platform::VideoProbe probe;
        const std::string path = VideoRecorder::NumberedPath(settings.path, n);
        ASSERT_TRUE(platform::ProbeVideo(path, 0, probe, error_)) << error_;
        EXPECT_EQ(probe.frames, expected[n - 1]) << path;
        // Matroska keeps the AAC encoder's priming and last frame's padding
        // (two frames of 1024 samples) where MP4 trims them.
        EXPECT_NEAR(static_cast<double>(probe.soundSamples) / probe.soundRate, expected[n - 1] * 0.05, 0.045) << path;
        // Each file starts with its own first step's picture.
        ASSERT_FALSE(probe.rgb.empty());
        EXPECT_NEAR(probe.rgb[640 * 240 * 3], (n - 1) * 15 * 6, 3) << path;
    }
    EXPECT_FALSE(fs::exists(VideoRecorder::NumberedPath(settings.path, 4)));
}

}  // namespace
