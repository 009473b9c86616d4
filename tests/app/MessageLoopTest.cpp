#include <gtest/gtest.h>

#include <vector>

#include "app/Application.h"
#include "app/MainWindow.h"
#include "platform/system/messages.h"

namespace {

// A window whose Tick counts calls and ends the loop after a few idle passes.
class CountingWindow : public MainWindow {
public:
    int ticks = 0;
    int quitAfterTicks = 5;
    std::vector<UINT> seen;

protected:
    void Tick() override
    {
        ++ticks;
        if (ticks == quitAfterTicks) PostQuitMessage(Handle(), 7);
    }
    LRESULT WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) override
    {
        seen.push_back(msg);
        return MainWindow::WindowProc(hwnd, msg, wParam, lParam);
    }
};

TEST(MessageLoop, TicksOnIdlePassesAndReturnsTheQuitCode)
{
    HWND__ record;
    CountingWindow window;
    window.AdoptWindow(&record);
    EXPECT_EQ(window.Run(), 7);
    // The queue held only the activation; the other passes were idle, and each one ticked.
    EXPECT_EQ(window.ticks, 5);
    EXPECT_EQ(window.seen, (std::vector<UINT>{WM_ACTIVATE}));
    EXPECT_TRUE(window.IsActive());
}

TEST(MessageLoop, TicksAfterEveryMessage)
{
    HWND__ record;
    CountingWindow window;
    window.quitAfterTicks = 4;
    window.AdoptWindow(&record);
    PostMessageA(&record, WM_USER, 0, 0);
    PostMessageA(&record, WM_USER + 1, 0, 0);
    window.Run();
    // Two posted messages and the activation, one tick after each, then the quit.
    EXPECT_EQ(window.seen, (std::vector<UINT>{WM_USER, WM_USER + 1, WM_ACTIVATE}));
}

TEST(MessageLoop, DestroyPostsQuitAndMessagesBeforeBindingAreNotSeen)
{
    HWND__ record;
    platform::MessageQueue queue;
    record.queue = &queue;
    record.proc = &MainWindow::StaticWindowProc;
    // Not bound yet: only DefWindowProcA sees it.
    SendMessageA(&record, WM_USER, 0, 0);

    CountingWindow window;
    window.quitAfterTicks = 1000;
    window.AdoptWindow(&record);
    EXPECT_TRUE(window.seen.empty());
    PostMessageA(&record, WM_CLOSE, 0, 0);  // DefWindowProcA destroys, WM_DESTROY quits
    EXPECT_EQ(window.Run(), 0);
    EXPECT_EQ(window.seen, (std::vector<UINT>{WM_CLOSE, WM_DESTROY}));
}

TEST(Application, ActivationFollowsTheWholeWParam)
{
    HWND__ record;
    Options options;
    Application app(options);
    app.AdoptWindow(&record);
    SendMessageA(&record, WM_ACTIVATE, 0x00010000, 0);  // inactive in the low word, minimised flag above
    EXPECT_TRUE(app.IsActive());
    SendMessageA(&record, WM_ACTIVATEAPP, 0, 0);
    EXPECT_FALSE(app.IsActive());
    SendMessageA(&record, WM_ACTIVATE, 2, 0);
    EXPECT_TRUE(app.IsActive());
}

TEST(Application, TeardownIsSafeTwiceAndStopsTheScene)
{
    Options options;
    Application app(options);
    EXPECT_TRUE(app.IsRunning());
    app.Teardown();
    app.Teardown();
    EXPECT_FALSE(app.IsRunning());
}

TEST(Application, StepsEvery51MillisecondsOfItsClock)
{
    HWND__ record;
    Options options;
    Application app(options);
    app.AdoptWindow(&record);
    auto clock = std::make_unique<platform::ManualClock>(0xFFFFFF00u);  // wraps during the run
    platform::ManualClock* time = clock.get();
    app.SetClock(std::move(clock));
    app.Tick();
    EXPECT_EQ(app.StepCount(), 0u);
    for (int i = 0; i < 1000; ++i) {
        time->Advance(1);
        app.Tick();
    }
    EXPECT_EQ(app.StepCount(), 1000u / 51u);
}

}  // namespace
