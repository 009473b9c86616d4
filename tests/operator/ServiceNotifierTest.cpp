// What the service manager hears: readiness once, the watchdog often enough
// for its interval, and a status line an operator can read.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "operator/Health.h"
#include "operator/ServiceNotifier.h"

namespace {

using namespace std::chrono_literals;

Health Sample()
{
    Health health;
    health.steps = 12345;
    health.steps_per_second = 20.0;
    health.input_peak_dbfs = -31.2;
    health.crystals = {16, 0, 0, 0, 0, 0};
    health.peer.state = "connected";
    return health;
}

TEST(ServiceNotifier, StatusLineReadsAsTheOperatorExpects)
{
    EXPECT_EQ(ServiceNotifier::StatusLine(Sample(), 14),
              "step 12 345, 20.0 steps/s, input \xE2\x88\x92" "31 dBFS, 16 crystals listening, peer connected, "
              "14 pictures/min");
    Health mixed = Sample();
    mixed.crystals = {10, 6, 0, 0, 0, 0};
    mixed.steps = 7;
    EXPECT_NE(ServiceNotifier::StatusLine(mixed, 0).find("step 7, "), std::string::npos);
    EXPECT_NE(ServiceNotifier::StatusLine(mixed, 0).find("10 crystals listening, 6 recording"), std::string::npos);
}

TEST(ServiceNotifier, ReadyOnceWatchdogWithinHalfTheIntervalStatusEveryFewSeconds)
{
    std::vector<std::pair<double, std::string>> sent;
    auto start = ServiceNotifier::Clock::now();
    double now = 0;
    ServiceNotifier notifier([&](const std::string& line) { sent.emplace_back(now, line); }, 2000000);
    Health health = Sample();
    for (int step = 0; step < 400; ++step, now += 0.05) {
        auto at = start + std::chrono::duration_cast<ServiceNotifier::Clock::duration>(
                              std::chrono::duration<double>(now));
        if (step >= 3) notifier.FramePresented(health);
        notifier.Stepped(health, at);
    }
    int ready = 0, status = 0;
    double lastWatchdog = -1, longestGap = 0;
    for (const auto& [time, line] : sent) {
        if (line.rfind("READY=1", 0) == 0) ++ready;
        if (line.find("STATUS=step ") != std::string::npos) ++status;
        if (line == "WATCHDOG=1") {
            if (lastWatchdog >= 0) longestGap = std::max(longestGap, time - lastWatchdog);
            lastWatchdog = time;
        }
    }
    EXPECT_EQ(ready, 1);
    EXPECT_GT(lastWatchdog, 19.0);
    EXPECT_LE(longestGap, 1.0);  // half of the 2 s interval
    EXPECT_GE(status, 4);        // 20 s of steps
    EXPECT_LE(status, 6);
}

TEST(HealthJson, EveryReportedFigureHasItsSharedName)
{
    nlohmann::json json = ToJson(Sample());
    for (const char* name : {"steps", "steps_per_second", "step_ms_p99", "input_peak_dbfs", "input_rms_dbfs",
                             "threshold", "gain_db", "crystals", "sparks", "pictures_in_flight", "pictures_received",
                             "peer", "microphone", "last_voice", "warnings", "errors", "uptime_s", "started_at"})
        EXPECT_TRUE(json.contains(name)) << name;
    EXPECT_EQ(json["crystals"]["listening"], 16);
    EXPECT_EQ(json["peer"]["state"], "connected");
    EXPECT_TRUE(json["peer"].contains("last_contact"));
    EXPECT_TRUE(json["microphone"].contains("device"));
    for (const char* name : {"path", "blocks", "time"}) EXPECT_TRUE(json["last_voice"].contains(name)) << name;
}

}  // namespace
