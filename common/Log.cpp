// The log call on spdlog. Every line passes through one logger with two
// sinks: the console (set up by the program) and a ring of recent lines for
// the operator's views. Repeats are folded here, in front of both sinks, so
// that a flood fills neither the journal nor the ring.
#include "common/Log.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <mutex>

#include <spdlog/logger.h>
#include <spdlog/sinks/ringbuffer_sink.h>
#include <spdlog/sinks/stdout_sinks.h>

#include "common/LogOutput.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kKeptLines = 200;
constexpr auto kFoldWindow = std::chrono::seconds(60);
// Distinct lines watched for repeats at once; the oldest makes room.
constexpr std::size_t kWatchedLines = 64;

spdlog::level::level_enum ToSpd(LogLevel level)
{
    switch (level) {
    case LogLevel::Debug: return spdlog::level::debug;
    case LogLevel::Info: return spdlog::level::info;
    case LogLevel::Warning: return spdlog::level::warn;
    case LogLevel::Error: return spdlog::level::err;
    }
    return spdlog::level::info;
}

struct Repeat {
    LogLevel level;
    std::string line;
    Clock::time_point since;
    std::uint64_t count = 0;  // repeats not printed since `since`
};

class Logger {
public:
    Logger()
        : ring_(std::make_shared<spdlog::sinks::ringbuffer_sink_mt>(kKeptLines)),
          logger_("solvane", {std::make_shared<spdlog::sinks::stderr_sink_mt>(), ring_})
    {
        logger_.sinks()[0]->set_pattern("%v");
        ring_->set_pattern("%Y-%m-%d %H:%M:%S.%e %v");
        logger_.set_level(spdlog::level::trace);
        logger_.flush_on(spdlog::level::trace);
    }

    void Log(LogLevel level, std::string line)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (level == LogLevel::Warning) ++counts_.warnings;
        if (level == LogLevel::Error) ++counts_.errors;
        if (level < threshold_) return;
        Clock::time_point now = Clock::now();
        SweepLocked(now, false);
        if (folding_) {
            auto same = std::find_if(repeats_.begin(), repeats_.end(),
                                     [&](const Repeat& r) { return r.level == level && r.line == line; });
            if (same != repeats_.end()) {
                ++same->count;
                return;
            }
            if (repeats_.size() >= kWatchedLines) {
                SummariseLocked(repeats_.front(), now);
                repeats_.erase(repeats_.begin());
            }
            repeats_.push_back(Repeat{level, line, now, 0});
        }
        logger_.log(ToSpd(level), line);
    }

    void SetConsole(std::shared_ptr<spdlog::sinks::sink> console)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        logger_.sinks()[0] = std::move(console);
    }
    void SetThreshold(LogLevel level)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        threshold_ = level;
    }
    void SetFolding(bool on)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!on) SweepLocked(Clock::now(), true);
        folding_ = on;
    }
    void Flush(bool all)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        SweepLocked(Clock::now(), all);
    }

    std::vector<std::string> Recent(std::size_t count)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<std::string> lines = ring_->last_formatted(count);
        for (std::string& line : lines)
            while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
        return lines;
    }
    LogProblemCounts Counts()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return counts_;
    }

private:
    void SweepLocked(Clock::time_point now, bool all)
    {
        auto over = [&](const Repeat& r) { return all || now - r.since >= kFoldWindow; };
        for (const Repeat& r : repeats_)
            if (over(r)) SummariseLocked(r, now);
        repeats_.erase(std::remove_if(repeats_.begin(), repeats_.end(), over), repeats_.end());
    }

    void SummariseLocked(const Repeat& repeat, Clock::time_point now)
    {
        if (repeat.count == 0) return;
        auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
            std::min<Clock::duration>(now - repeat.since, kFoldWindow) + std::chrono::milliseconds(500));
        char tail[96];
        std::snprintf(tail, sizeof tail, " \xE2\x80\xA6 repeated %llu time%s in the last %lld s",
                      static_cast<unsigned long long>(repeat.count), repeat.count == 1 ? "" : "s",
                      static_cast<long long>(std::max<std::chrono::seconds::rep>(seconds.count(), 1)));
        logger_.log(ToSpd(repeat.level), repeat.line + tail);
    }

    std::mutex mutex_;
    std::shared_ptr<spdlog::sinks::ringbuffer_sink_mt> ring_;
    spdlog::logger logger_;
    LogLevel threshold_ = LogLevel::Info;
    bool folding_ = false;
    std::vector<Repeat> repeats_;
    LogProblemCounts counts_;
};

// NOTE: never destroyed, so that lines logged from static destructors at
// exit still have somewhere to go.
Logger& TheLogger()
{
    static Logger* logger = new Logger;
    return *logger;
}

}  // namespace

void LogLineV(LogLevel level, const char* subsystem, const char* format, va_list args)
{
    char text[1024];
    std::vsnprintf(text, sizeof text, format, args);
    std::string line = "solvane: ";
    if (subsystem != nullptr && subsystem[0] != '\0') {
        line += subsystem;
        line += ": ";
    }
    line += text;
    TheLogger().Log(level, std::move(line));
}

#define SOLVANE_LOG_BODY(level)                 \
    va_list args;                               \
    va_start(args, format);                     \
    LogLineV(level, subsystem, format, args);   \
    va_end(args)

void LogLine(const char* subsystem, const char* format, ...) { SOLVANE_LOG_BODY(LogLevel::Info); }
void LogWarning(const char* subsystem, const char* format, ...) { SOLVANE_LOG_BODY(LogLevel::Warning); }
void LogError(const char* subsystem, const char* format, ...) { SOLVANE_LOG_BODY(LogLevel::Error); }
void LogAt(LogLevel level, const char* subsystem, const char* format, ...) { SOLVANE_LOG_BODY(level); }

std::vector<std::string> RecentLogLines(std::size_t count) { return TheLogger().Recent(count); }
LogProblemCounts CountedLogProblems() { return TheLogger().Counts(); }

void SetLogConsole(std::shared_ptr<spdlog::sinks::sink> console) { TheLogger().SetConsole(std::move(console)); }
void SetLogThreshold(LogLevel level) { TheLogger().SetThreshold(level); }
void SetLogFolding(bool on) { TheLogger().SetFolding(on); }
void FlushLogRepeats(bool all) { TheLogger().Flush(all); }
