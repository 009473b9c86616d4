// Requests from every source (keys, OSC, the web view) applied between
// steps, and the gain and threshold they steer, on the recording device.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>

#include "app/Application.h"
#include "common/Level.h"
#include "crystal/World.h"
#include "platform/d3d9/RecordingDevice.h"
#include "scene/SceneState.h"
#include "support/DeviceTestSupport.h"
#include "support/HeadlessRunTest.h"

namespace {

// Posts requests just before chosen steps, as a server thread might.
class ScriptedApplication : public Application {
public:
    using Application::Application;
    std::map<std::uint32_t, std::vector<ControlRequest>> script;
    std::function<void(ScriptedApplication&)> afterStep;

    void Tick() override
    {
        const std::uint32_t before = StepCount();
        auto due = script.find(before + 1);
        if (due != script.end()) {
            for (const ControlRequest& request : due->second) Controls().Post(request);
            script.erase(due);
        }
        Application::Tick();
        if (StepCount() != before && afterStep) afterStep(*this);
    }
};

class ControlRequests : public testsupport::HeadlessRunTest {};

using Kind = ControlRequest::Kind;

TEST_F(ControlRequests, LevelsAndThePanelFollowTheirRequests)
{
    struct Case {
        const char* what;
        ControlRequest request;
        int threshold;
        double gainDb;
        bool panel;
    };
    const std::vector<Case> cases = {
        {"threshold in dBFS", {Kind::SetThreshold, -12.0}, 8231, 0.0, false},
        {"threshold above full scale stays within it", {Kind::SetThreshold, 3.0}, 32767, 0.0, false},
        {"threshold far below", {Kind::SetThreshold, -150.0}, 1, 0.0, false},
        {"gain", {Kind::SetGain, 12.0}, 4000, 12.0, false},
        {"gain past the limit", {Kind::SetGain, 60.0}, 4000, 40.0, false},
        {"panel toggled", {Kind::TogglePanel, 0}, 4000, 0.0, true},
        {"panel shown", {Kind::ShowPanel, 1}, 4000, 0.0, true},
        {"panel hidden", {Kind::ShowPanel, 0}, 4000, 0.0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        options.steps = 4;
        ScriptedApplication app(options);
        app.SetDirect3DFactory(RecordingDirect3DCreate9);
        ASSERT_TRUE(app.Init(nullptr, 1)) << app.FailureReason();
        app.script[3] = {c.request};
        app.Run();
        EXPECT_EQ(c.threshold, app.Threshold());
        EXPECT_DOUBLE_EQ(c.gainDb, app.GainDb());
        EXPECT_EQ(c.panel, app.PanelVisible());
        // The scene and every reporter see what the request set.
        EXPECT_EQ(c.threshold, TheWorld().loudThreshold);
        const Health health = app.Board().Latest();
        EXPECT_EQ(c.threshold, health.threshold);
        EXPECT_DOUBLE_EQ(c.gainDb, health.gain_db);
        EXPECT_EQ(c.panel, health.panel_visible);
    }
}

TEST_F(ControlRequests, SettingsReachTheWorldAndTheHealthAtTheStart)
{
    options.steps = 2;
    options.threshold = 12000;
    options.gainDb = -6.0;
    Application app(options);
    app.SetDirect3DFactory(RecordingDirect3DCreate9);
    ASSERT_TRUE(app.Init(nullptr, 1)) << app.FailureReason();
    EXPECT_EQ(12000, TheWorld().loudThreshold);
    app.Run();
    EXPECT_EQ(12000, app.Board().Latest().threshold);
    EXPECT_DOUBLE_EQ(-6.0, app.Board().Latest().gain_db);
}

TEST_F(ControlRequests, TurnHoldsAnArrowUntilItEnds)
{
    options.steps = 6;
    ScriptedApplication app(options);
    app.SetDirect3DFactory(RecordingDirect3DCreate9);
    ASSERT_TRUE(app.Init(nullptr, 1)) << app.FailureReason();
    app.script[2] = {{Kind::Turn, -1}};
    app.script[4] = {{Kind::Turn, 0.7}};
    app.script[6] = {{Kind::Turn, 0}};
    std::vector<std::pair<bool, bool>> held;  // left, right after each step
    app.afterStep = [&](ScriptedApplication& a) {
        held.emplace_back(a.GetAsyncKeyState(VK_LEFT) != 0, a.GetAsyncKeyState(VK_RIGHT) != 0);
    };
    app.Run();
    const std::vector<std::pair<bool, bool>> expected = {{false, false}, {true, false}, {true, false},
                                                         {false, true},  {false, true}, {false, false}};
    EXPECT_EQ(expected, held);
}

TEST_F(ControlRequests, FlashLightsTheScreenAsTheCrystalsDo)
{
    options.steps = 3;
    ScriptedApplication app(options);
    app.SetDirect3DFactory(RecordingDirect3DCreate9);
    ASSERT_TRUE(app.Init(nullptr, 1)) << app.FailureReason();
    FlashAlpha = 0;
    app.script[3] = {{Kind::Flash, 0}};
    app.Run();
    EXPECT_GT(FlashAlpha, 200);
    FlashAlpha = 0;
}

TEST_F(ControlRequests, CloseRunsEscapesClosingSequence)
{
    // In the main scene a close starts the closing sequence, as Escape does:
    // the request at step 100 hands over at step 101, and the sequence takes
    // 97 steps. The step limit only guards against a hang.
    options.steps = 400;
    ScriptedApplication app(options);
    app.SetDirect3DFactory(RecordingDirect3DCreate9);
    ASSERT_TRUE(app.Init(nullptr, 1)) << app.FailureReason();
    app.script[100] = {{Kind::Close, 0}};
    app.Run();
    EXPECT_EQ(197u, app.StepCount());
}

TEST_F(ControlRequests, F1TogglesThePanelWhichIsDrawnLastAndOnlyOnScreen)
{
    struct Case {
        const char* what;
        std::string framesDir;
        bool framesOverlay;
        bool drawn;
    };
    const std::string frames = testsupport::TempDir() + "/panel-frames";
    const std::vector<Case> cases = {
        {"on screen", "", false, true},
        {"into --frames without --frames-overlay", frames, false, false},
        {"into --frames with --frames-overlay", frames, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Options run = options;
        run.steps = 3;
        run.framesDir = c.framesDir;
        run.framesOverlay = c.framesOverlay;
        run.presses.push_back(KeyPress{VK_F1, 3, 3});
        ScriptedApplication app(run);
        app.SetDirect3DFactory(RecordingDirect3DCreate9);
        ASSERT_TRUE(app.Init(nullptr, 1)) << app.FailureReason();
        auto* device = static_cast<RecordingDevice*>(app.Renderer().Device());
        std::vector<RecordedDraw> lastFrame;
        app.afterStep = [&](ScriptedApplication&) {
            lastFrame = device->Draws();
            device->ClearDraws();
        };
        app.Run();
        EXPECT_TRUE(app.PanelVisible());
        ASSERT_FALSE(lastFrame.empty());
        const RecordedDraw& last = lastFrame.back();
        const bool panelLast = !last.indices.empty() && last.fvf == (D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1) &&
                               last.state->RenderState(D3DRS_ZENABLE) == D3DZB_FALSE;
        EXPECT_EQ(c.drawn, panelLast);
    }
}

TEST_F(ControlRequests, NoMicrophoneForTenSecondsIsNoticedOnScreenOnly)
{
    struct Case {
        const char* what;
        bool demo;
        bool showProblems;
        std::string framesDir;
        bool noticed;
        bool drawn;
    };
    const std::string frames = testsupport::TempDir() + "/problem-frames";
    const std::vector<Case> cases = {
        {"no input", false, true, "", true, true},
        {"no input, notice turned off", false, false, "", true, false},
        {"no input, a normal --frames run", false, true, frames, true, false},
        {"the demo voice", true, true, "", false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Options run = options;
        run.demo = c.demo;
        run.showProblems = c.showProblems;
        run.framesDir = c.framesDir;
        // 10 s are 196 steps of 51 ms.
        run.steps = 200;
        run.voiceFile.clear();
        run.inputDevice = "no such device";
        ScriptedApplication app(run);
        app.SetDirect3DFactory(RecordingDirect3DCreate9);
        ASSERT_TRUE(app.Init(nullptr, 1)) << app.FailureReason();
        auto* device = static_cast<RecordingDevice*>(app.Renderer().Device());
        std::vector<std::vector<std::string>> problems;
        bool overlayDrawn = false;
        app.afterStep = [&](ScriptedApplication& a) {
            problems.push_back(a.CurrentProblems());
            for (const RecordedDraw& draw : device->Draws())
                if (!draw.indices.empty() && draw.state->RenderState(D3DRS_ZENABLE) == D3DZB_FALSE) overlayDrawn = true;
            device->ClearDraws();
        };
        app.Run();
        ASSERT_EQ(200u, problems.size());
        EXPECT_TRUE(problems[150].empty());
        EXPECT_EQ(c.noticed, problems[199] == std::vector<std::string>{"no microphone"});
        EXPECT_EQ(c.drawn, overlayDrawn);
    }
}

TEST_F(ControlRequests, AnUnreachablePeerIsNoticedAfterTenSeconds)
{
    namespace fs = std::filesystem;
    const fs::path data = fs::path(testsupport::TempDir()) / "data";
    fs::remove_all(data);
    fs::copy(options.dataDir, data, fs::copy_options::recursive);
    // Nothing listens on the discard port of loopback.
    std::ofstream(data / "theStrings.ini") << "[IP]\n127.0.0.1\n[Port]\n9\n";
    Options run = options;
    run.dataDir = data.string();
    run.steps = 200;
    ScriptedApplication app(run);
    app.SetDirect3DFactory(RecordingDirect3DCreate9);
    ASSERT_TRUE(app.Init(nullptr, 1)) << app.FailureReason();
    std::vector<std::vector<std::string>> problems;
    app.afterStep = [&](ScriptedApplication& a) { problems.push_back(a.CurrentProblems()); };
    app.Run();
    ASSERT_EQ(200u, problems.size());
    auto saysPeer = [](const std::vector<std::string>& said) {
        return std::find(said.begin(), said.end(), "peer 127.0.0.1 unreachable") != said.end();
    };
    EXPECT_FALSE(saysPeer(problems[100]));
    EXPECT_TRUE(saysPeer(problems[199]));
    EXPECT_EQ("127.0.0.1:9", app.Board().Latest().peer.address);
    fs::remove_all(data);
}

TEST_F(ControlRequests, GainActsOnEachBlockBeforeTheWorldAndTheMeter)
{
    struct Case {
        double gainDb;
        std::int16_t in;
        std::int16_t out;
    };
    const std::vector<Case> cases = {{0.0, 1234, 1234}, {6.0, 1000, 1995}, {-6.0, 1000, 501}, {40.0, 1234, 32767},
                                     {40.0, -1234, -32768}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.gainDb);
        Options run = options;
        run.gainDb = c.gainDb;
        HWND__ record;
        Application app(run);
        app.AdoptWindow(&record);
        std::vector<std::int16_t> block(8000, c.in);
        WAVEHDR header;
        header.lpData = reinterpret_cast<char*>(block.data());
        header.dwBufferLength = 16000;
        header.dwFlags = WHDR_DONE | WHDR_PREPARED;
        SendMessageA(&record, MM_WIM_DATA, 0, reinterpret_cast<LPARAM>(&header));
        EXPECT_EQ(c.out, TheWorld().recordingBuffer[0]);
        EXPECT_EQ(c.out, TheWorld().recordingBuffer[7999]);
        EXPECT_EQ(0, TheWorld().recordingBuffer[8000]);
        EXPECT_EQ(std::max<int>(0, c.out), app.Meter().LatestPeak());
        // The capture buffer itself is handed back untouched.
        EXPECT_EQ(c.in, block[0]);
    }
}

}  // namespace
