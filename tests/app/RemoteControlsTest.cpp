// Requests from the operator's remote tools reach the scene only through the
// step loop. (Apart from the web view's test, whose HTTP library and the
// sockets header cannot share a file.)
#include <gtest/gtest.h>

#include "app/Application.h"
#include "common/Level.h"
#include "platform/d3d9/RecordingDevice.h"
#include "platform/system/System.h"

namespace {

// The step loop applies queued requests between steps: the health snapshot
// shows the new threshold, gain and overlay, and a close runs the closing
// sequence (during the title it ends at once) with status 0.
TEST(RemoteControls, TheStepLoopAppliesQueuedRequests)
{
    std::string error;
    ASSERT_TRUE(platform::StartSystem(error)) << error;
    Options options;
    options.headless = true;
    options.fast = true;
    options.dataDir = std::string(SOLVANE_SOURCE_DIR) + "/data";
    options.steps = 400;
    {
        Application app(options);
        app.SetDirect3DFactory(RecordingDirect3DCreate9);
        ASSERT_TRUE(app.Init(nullptr, 1)) << app.FailureReason();
        app.Controls().Post({ControlRequest::Kind::SetThreshold, -30});
        app.Controls().Post({ControlRequest::Kind::SetGain, 6});
        app.Controls().Post({ControlRequest::Kind::TogglePanel, 0});
        app.Controls().Post({ControlRequest::Kind::Close, 0});
        EXPECT_EQ(app.Run(), 0);
        EXPECT_LT(app.StepCount(), 400u) << "close ends the run";
        Health health = app.Board().Latest();
        EXPECT_EQ(health.threshold, level::DbfsToThreshold(-30));
        EXPECT_EQ(health.threshold, 1036);
        EXPECT_DOUBLE_EQ(health.gain_db, 6);
        EXPECT_TRUE(health.panel_visible);
    }
    platform::StopSystem();
}

}  // namespace
