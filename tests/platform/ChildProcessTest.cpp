// Code run in a child process: its result comes back, and a crash, a
// sanitizer's stop or a hang there leaves this process running with the reason.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <thread>
#include <vector>

#include "platform/system/ChildProcess.h"

namespace {

using std::chrono::milliseconds;

TEST(ChildProcess, ResultsComeBackAndFailuresAreReportedNotShared)
{
    int touched = 0;
    const platform::ChildResult finished = platform::RunInChildProcess(
        [&touched] {
            touched = 1;  // the child's copy only
            return 7;
        },
        milliseconds(5000));
    ASSERT_EQ(finished.outcome, platform::ChildResult::Finished) << finished.whyNot;
    EXPECT_EQ(finished.value, 7);
    EXPECT_EQ(touched, 0);

    const platform::ChildResult crashed = platform::RunInChildProcess(
        [] {
            std::raise(SIGSEGV);
            return 0;
        },
        milliseconds(5000));
    EXPECT_EQ(crashed.outcome, platform::ChildResult::Failed);
    EXPECT_NE(crashed.whyNot.find("crashed"), std::string::npos) << crashed.whyNot;

    const platform::ChildResult aborted = platform::RunInChildProcess(
        [] {
            std::abort();
            return 0;
        },
        milliseconds(5000));
    EXPECT_EQ(aborted.outcome, platform::ChildResult::Failed);

    // A status the body cannot return (what a sanitizer's report exits with).
    const platform::ChildResult stopped = platform::RunInChildProcess([] { return 200; }, milliseconds(5000));
    EXPECT_EQ(stopped.outcome, platform::ChildResult::Failed);
    EXPECT_NE(stopped.whyNot.find("exit status"), std::string::npos) << stopped.whyNot;

    const auto start = std::chrono::steady_clock::now();
    const platform::ChildResult stuck = platform::RunInChildProcess(
        [] {
            std::this_thread::sleep_for(std::chrono::seconds(60));
            return 0;
        },
        milliseconds(200));
    EXPECT_EQ(stuck.outcome, platform::ChildResult::Failed);
    EXPECT_NE(stuck.whyNot.find("200 ms"), std::string::npos) << stuck.whyNot;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

}  // namespace
