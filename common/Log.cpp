#include "common/Log.h"

#include <cstdio>
#include <deque>
#include <mutex>

namespace {

constexpr std::size_t kKeptLines = 200;

std::mutex& HistoryMutex()
{
    static std::mutex mutex;
    return mutex;
}

std::deque<std::string>& History()
{
    static std::deque<std::string> lines;
    return lines;
}

}  // namespace

void LogLineV(LogLevel /*level*/, const char* subsystem, const char* format, va_list args)
{
    char text[1024];
    std::vsnprintf(text, sizeof text, format, args);
    char line[1100];
    if (subsystem != nullptr && subsystem[0] != '\0')
        std::snprintf(line, sizeof line, "solvane: %s: %s", subsystem, text);
    else
        std::snprintf(line, sizeof line, "solvane: %s", text);
    std::lock_guard<std::mutex> lock(HistoryMutex());
    std::fprintf(stderr, "%s\n", line);
    std::fflush(stderr);
    History().emplace_back(line);
    if (History().size() > kKeptLines) History().pop_front();
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

std::vector<std::string> RecentLogLines(std::size_t count)
{
    std::lock_guard<std::mutex> lock(HistoryMutex());
    const auto& lines = History();
    std::size_t first = lines.size() > count ? lines.size() - count : 0;
    return {lines.begin() + static_cast<std::ptrdiff_t>(first), lines.end()};
}
