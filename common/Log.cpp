// The log call on spdlog. Every line passes through one logger with two
// sinks: the console (set up by the program) and a ring of recent lines for
// the operator's views. Repeats are folded here, in front of both sinks, so
// that a flood fills neither the journal nor the ring. Paced lines (the
// operator's changes, outsiders' requests) are never folded: they are summed
// per second instead, so a change made by hand always shows at once.
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
constexpr auto kPaceWindow = std::chrono::seconds(1);
// Kinds of paced lines watched at once (they are names from the code, a
// few dozen at most); the oldest makes room.
constexpr std::size_t kWatchedKinds = 64;

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

// A kind of paced line within its current second.
struct Pace {
    LogLevel level;
    std::string kind;
    Clock::time_point since;
    int printed = 0;
    std::uint64_t more = 0;  // lines not printed since `since`
    std::string last;        // the latest of them
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
        Clock::time_point now;
        if (!AdmitLocked(level, now)) return;
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

    // Counts every warning and error, shown or not; true when the line is
    // to be shown, with `now` set and finished repeats and paces summarised.
    bool AdmitLocked(LogLevel level, Clock::time_point& now)
    {
        if (level == LogLevel::Warning) ++counts_.warnings;
        if (level == LogLevel::Error) ++counts_.errors;
        if (level < threshold_) return false;
        now = Clock::now();
        SweepLocked(now, false);
        return true;
    }

    void LogPaced(LogLevel level, const std::string& kind, std::string line)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        Clock::time_point now;
        if (!AdmitLocked(level, now)) return;
        auto pace = std::find_if(paces_.begin(), paces_.end(), [&](const Pace& p) { return p.kind == kind; });
        if (pace == paces_.end()) {
            if (paces_.size() >= kWatchedKinds) {
                SummarisePaceLocked(paces_.front(), now);
                paces_.erase(paces_.begin());
            }
            paces_.push_back(Pace{level, kind, now, 0, 0, {}});
            pace = paces_.end() - 1;
        }
        if (pace->printed < kPacedLinesPerSecond) {
            ++pace->printed;
            logger_.log(ToSpd(level), line);
            return;
        }
        ++pace->more;
        pace->level = std::max(pace->level, level);
        pace->last = std::move(line);
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
        auto paceOver = [&](const Pace& p) { return all || now - p.since >= kPaceWindow; };
        for (const Pace& p : paces_)
            if (paceOver(p)) SummarisePaceLocked(p, now);
        paces_.erase(std::remove_if(paces_.begin(), paces_.end(), paceOver), paces_.end());
    }

    void SummarisePaceLocked(const Pace& pace, Clock::time_point now)
    {
        if (pace.more == 0) return;
        const double seconds =
            std::chrono::duration<double>(std::min<Clock::duration>(now - pace.since, kPaceWindow)).count();
        char tail[96];
        std::snprintf(tail, sizeof tail, " \xE2\x80\xA6 and %llu more in the last %.1f s, this the last",
                      static_cast<unsigned long long>(pace.more), seconds);
        logger_.log(ToSpd(pace.level), pace.last + tail);
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
    std::vector<Pace> paces_;
    LogProblemCounts counts_;
};

// NOTE: never destroyed, so that lines logged from static destructors at
// exit still have somewhere to go.
Logger& TheLogger()
{
    static Logger* logger = new Logger;
    return *logger;
}

// The length of the UTF-8 sequence that starts `text`, or 0 when it is not
// one (a stray continuation byte, an overlong form, a surrogate, a cut end).
std::size_t Utf8Length(std::string_view text)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char first = byte(0);
    std::size_t length = first >= 0xF0 ? 4 : first >= 0xE0 ? 3 : 2;
    if (first < 0xC2 || first > 0xF4 || text.size() < length) return 0;
    for (std::size_t i = 1; i < length; ++i)
        if ((byte(i) & 0xC0) != 0x80) return 0;
    if (first == 0xE0 && byte(1) < 0xA0) return 0;  // overlong
    if (first == 0xED && byte(1) >= 0xA0) return 0; // surrogates
    if (first == 0xF0 && byte(1) < 0x90) return 0;  // overlong
    if (first == 0xF4 && byte(1) >= 0x90) return 0; // past U+10FFFF
    return length;
}

std::string LineOf(const char* subsystem, const char* format, va_list args)
{
    char text[1024];
    std::vsnprintf(text, sizeof text, format, args);
    std::string line = "solvane: ";
    if (subsystem != nullptr && subsystem[0] != '\0') {
        line += subsystem;
        line += ": ";
    }
    line += EscapeLogText(text);
    return line;
}

}  // namespace

std::string EscapeLogText(std::string_view text)
{
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
            ++i;
            continue;
        }
        if (c == '\n') { out += "\\n"; ++i; continue; }
        if (c == '\r') { out += "\\r"; ++i; continue; }
        if (c == '\t') { out += "\\t"; ++i; continue; }
        const std::size_t length = c >= 0x80 ? Utf8Length(text.substr(i)) : 0;
        if (length == 0) {
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 0xF];
            ++i;
            continue;
        }
        // U+0080 ... U+009F: the C1 controls, which some terminals obey.
        if (c == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0) {
            const auto second = static_cast<unsigned char>(text[i + 1]);
            out += "\\u00";
            out += kHex[second >> 4];
            out += kHex[second & 0xF];
        } else {
            out.append(text.substr(i, length));
        }
        i += length;
    }
    return out;
}

void LogLineV(LogLevel level, const char* subsystem, const char* format, va_list args)
{
    TheLogger().Log(level, LineOf(subsystem, format, args));
}

void LogPaced(LogLevel level, const char* subsystem, const char* kind, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::string line = LineOf(subsystem, format, args);
    va_end(args);
    TheLogger().LogPaced(level, kind, std::move(line));
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
