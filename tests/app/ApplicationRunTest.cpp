// Whole-application runs on the recording device: the window is SDL's
// offscreen one, the clock is virtual (--fast), and the scene is stepped
// through the real message loop.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "app/Application.h"
#include "crystal/World.h"
#include "platform/d3d9/RecordingDevice.h"
#include "support/HeadlessRunTest.h"

namespace {

class ApplicationRun : public testsupport::HeadlessRunTest {};

TEST_F(ApplicationRun, RunsTheRequestedStepsAndEndsCleanly)
{
    options.steps = 70;
    Application app(options);
    app.SetDirect3DFactory(RecordingDirect3DCreate9);
    ASSERT_TRUE(app.Init(nullptr, 1)) << app.FailureReason();
    EXPECT_EQ(app.Run(), 0);
    EXPECT_EQ(app.StepCount(), 70u);
    EXPECT_FALSE(app.IsRunning());
    EXPECT_EQ(app.Statistics().Frames(), 70u);
}

TEST_F(ApplicationRun, EscapeDuringTheMainSceneClosesAfterTheClosingSequence)
{
    options.presses.push_back(KeyPress{VK_ESCAPE, 100, 100});
    Application app(options);
    app.SetDirect3DFactory(RecordingDirect3DCreate9);
    ASSERT_TRUE(app.Init(nullptr, 1)) << app.FailureReason();
    EXPECT_EQ(app.Run(), 0);
    // Escape in step 100 hands over at step 101; the closing sequence takes 97 steps.
    EXPECT_EQ(app.StepCount(), 197u);
    // The step that closed the window is in the statistics too.
    EXPECT_EQ(app.Statistics().Steps(), 197u);
    EXPECT_EQ(app.Statistics().Frames(), 197u);
}

TEST_F(ApplicationRun, MissingPictureFailsTheStartNamingTheFile)
{
    std::filesystem::path data = std::filesystem::temp_directory_path() / "solvane-app-missing-title";
    std::filesystem::remove_all(data);
    std::filesystem::create_directories(data);
    for (const auto& entry : std::filesystem::directory_iterator(options.dataDir))
        if (entry.path().filename() != "title.png") std::filesystem::copy(entry.path(), data / entry.path().filename());
    options.dataDir = data.string();
    Application app(options);
    app.SetDirect3DFactory(RecordingDirect3DCreate9);
    EXPECT_FALSE(app.Init(nullptr, 1));
    EXPECT_NE(app.FailureReason().find("title.png"), std::string::npos) << app.FailureReason();
    std::filesystem::remove_all(data);
}

TEST_F(ApplicationRun, CaptureBlocksReachTheWorldOnlyWithBothFlags)
{
    HWND__ record;
    Application app(options);
    app.AdoptWindow(&record);
    std::vector<std::int16_t> block(8000, 1234);
    WAVEHDR header;
    header.lpData = reinterpret_cast<char*>(block.data());
    header.dwBufferLength = 16000;
    World& world = TheWorld();
    world.recordingBuffer[0] = 0;

    header.dwFlags = WHDR_DONE;  // not prepared: ignored
    SendMessageA(&record, MM_WIM_DATA, 0, reinterpret_cast<LPARAM>(&header));
    EXPECT_EQ(world.recordingBuffer[0], 0);
    header.dwFlags = WHDR_PREPARED;  // not done: ignored
    SendMessageA(&record, MM_WIM_DATA, 0, reinterpret_cast<LPARAM>(&header));
    EXPECT_EQ(world.recordingBuffer[0], 0);

    header.dwFlags = WHDR_DONE | WHDR_PREPARED;
    SendMessageA(&record, MM_WIM_DATA, 0, reinterpret_cast<LPARAM>(&header));
    EXPECT_EQ(world.recordingBuffer[0], 1234);
    EXPECT_EQ(world.recordingBuffer[7999], 1234);
    EXPECT_EQ(world.recordingBuffer[8000], 0);  // the second half stays silent
    EXPECT_EQ(world.recordedLength, 16000u);
}

}  // namespace
