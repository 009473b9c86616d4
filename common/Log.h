// One log call for the whole installation. Lines go to stderr and read
//   solvane: capture: device "USB Mic" opened at 48000 Hz
// The installation writes no log file.
//
// Every folder logs through these calls only; how lines are decorated
// (timestamps, the journal's priority prefixes) and where they go is set up
// once by the program (app/, through common/LogOutput.h), so the library
// behind it changes in one place. Until then lines are printed bare.
// Threads: any thread may log.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

enum class LogLevel { Debug, Info, Warning, Error };

// Info.
void LogLine(const char* subsystem, const char* format, ...) __attribute__((format(printf, 2, 3)));
void LogWarning(const char* subsystem, const char* format, ...) __attribute__((format(printf, 2, 3)));
void LogError(const char* subsystem, const char* format, ...) __attribute__((format(printf, 2, 3)));
void LogAt(LogLevel level, const char* subsystem, const char* format, ...) __attribute__((format(printf, 3, 4)));
void LogLineV(LogLevel level, const char* subsystem, const char* format, va_list args);

// The newest `count` lines (at most 200 are kept), oldest first, as printed.
std::vector<std::string> RecentLogLines(std::size_t count);

// Warnings and errors logged since the start, folded repeats included.
struct LogProblemCounts {
    std::uint64_t warnings = 0;
    std::uint64_t errors = 0;
};
LogProblemCounts CountedLogProblems();

// Repeats of a line within a minute are folded once the program has turned
// folding on (common/LogOutput.h). This prints the summaries of repeats whose
// minute is over; with `all`, every pending one (at the end of the run).
void FlushLogRepeats(bool all = false);
