// The log's folding of repeats, its counts and its ring of recent lines,
// seen as an operator sees them: the lines that come out.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/Log.h"
#include "common/LogOutput.h"

namespace {

std::vector<std::string> LinesContaining(const std::string& text)
{
    std::vector<std::string> found;
    for (const std::string& line : RecentLogLines(200))
        if (line.find(text) != std::string::npos) found.push_back(line);
    return found;
}

class LogFolding : public ::testing::Test {
protected:
    void SetUp() override { SetLogFolding(true); }
    void TearDown() override { SetLogFolding(false); }
};

TEST_F(LogFolding, ARepeatedLineIsPrintedOnceThenSummedUp)
{
    testing::internal::CaptureStderr();
    for (int i = 0; i < 240; ++i) LogWarning("net", "peer 10.0.0.2:47000 unreachable");
    LogLine("net", "a different line in between");
    FlushLogRepeats(true);
    std::string printed = testing::internal::GetCapturedStderr();

    std::vector<std::string> lines = LinesContaining("peer 10.0.0.2:47000 unreachable");
    ASSERT_EQ(lines.size(), 2u) << printed;
    EXPECT_EQ(lines[0].find("repeated"), std::string::npos);
    EXPECT_NE(lines[1].find("solvane: net: peer 10.0.0.2:47000 unreachable \xE2\x80\xA6 repeated 239 times in the last"),
              std::string::npos)
        << lines[1];
    // The console saw the same two lines, and the one in between.
    EXPECT_NE(printed.find("a different line in between"), std::string::npos);
    EXPECT_EQ(printed.find("unreachable\nsolvane: net: peer"), std::string::npos) << printed;
}

TEST_F(LogFolding, EveryRepeatIsCountedAsAWarningOrError)
{
    LogProblemCounts before = CountedLogProblems();
    testing::internal::CaptureStderr();
    for (int i = 0; i < 10; ++i) LogWarning("capture", "device lost");
    for (int i = 0; i < 3; ++i) LogError("memory", "disk full");
    LogLine("capture", "an information line counts as neither");
    FlushLogRepeats(true);
    testing::internal::GetCapturedStderr();
    LogProblemCounts after = CountedLogProblems();
    EXPECT_EQ(after.warnings - before.warnings, 10u);
    EXPECT_EQ(after.errors - before.errors, 3u);
}

TEST(Log, LinesBelowTheThresholdAreDroppedButStillCounted)
{
    SetLogThreshold(LogLevel::Error);
    LogProblemCounts before = CountedLogProblems();
    testing::internal::CaptureStderr();
    LogWarning("test", "a quiet warning");
    LogLine("test", "a quiet line");
    LogError("test", "a loud error");
    std::string printed = testing::internal::GetCapturedStderr();
    SetLogThreshold(LogLevel::Info);
    EXPECT_EQ(printed, "solvane: test: a loud error\n");
    EXPECT_EQ(CountedLogProblems().warnings - before.warnings, 1u);
    EXPECT_TRUE(LinesContaining("a quiet").empty());
}

// Outside text cannot forge a line or reach the terminal as a command.
TEST(Log, ControlCharactersInOutsideTextAreEscaped)
{
    testing::internal::CaptureStderr();
    LogWarning("osc", "ignored %s", "/x\nsolvane: web: control from 1.2.3.4: close\x1b[31m\xc2\x9b\xff \xE2\x80\xA6");
    std::string printed = testing::internal::GetCapturedStderr();
    EXPECT_EQ(printed, "solvane: osc: ignored /x\\nsolvane: web: control from 1.2.3.4: close\\x1b[31m\\u009b\\xff \xE2\x80\xA6\n");
    EXPECT_EQ(EscapeLogText("tab\there"), "tab\\there");
}

// Changes at a person's pace are each a line; a flood is a few lines and a
// sum with the last value, and never folded away.
TEST_F(LogFolding, PacedLinesShowEachChangeAndSumAFlood)
{
    testing::internal::CaptureStderr();
    LogPaced(LogLevel::Info, "tuning", "threshold key", "threshold 4000 by key");
    LogPaced(LogLevel::Info, "tuning", "threshold key", "threshold 4000 by key");
    for (int i = 0; i < 1000; ++i) LogPaced(LogLevel::Info, "tuning", "gain osc", "gain %d dB by OSC", i % 40);
    FlushLogRepeats(true);
    std::string printed = testing::internal::GetCapturedStderr();
    EXPECT_EQ(LinesContaining("threshold 4000 by key").size(), 2u) << printed;
    std::vector<std::string> gains = LinesContaining("by OSC");
    ASSERT_EQ(gains.size(), static_cast<std::size_t>(kPacedLinesPerSecond) + 1) << printed;
    EXPECT_NE(gains.back().find("gain 39 dB by OSC \xE2\x80\xA6 and 996 more in the last"), std::string::npos)
        << gains.back();
}

TEST(Log, TheRingKeepsTheNewest200LinesWithTheirTime)
{
    testing::internal::CaptureStderr();
    for (int i = 0; i < 250; ++i) LogLine("ring", "line %d", i);
    testing::internal::GetCapturedStderr();
    std::vector<std::string> lines = RecentLogLines(1000);
    ASSERT_EQ(lines.size(), 200u);
    EXPECT_NE(lines.front().find("solvane: ring: line 50"), std::string::npos) << lines.front();
    EXPECT_NE(lines.back().find("solvane: ring: line 249"), std::string::npos) << lines.back();
    // "2026-03-14 09:26:53.589 solvane: ..."
    EXPECT_EQ(lines.back()[4], '-');
    EXPECT_EQ(lines.back()[19], '.');
    EXPECT_EQ(RecentLogLines(3).size(), 3u);
}

}  // namespace
