// One log call for the whole installation. Lines go to stderr and read
//   solvane: capture: device "USB Mic" opened at 48000 Hz
// The installation writes no log file.
//
// Text from outside (OSC addresses, web requests, the peer, file names) is
// logged as it is given: every line is escaped here, once, so that a newline
// cannot start a forged line and an escape code cannot reach the terminal.
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
#include <string_view>
#include <vector>

enum class LogLevel { Debug, Info, Warning, Error };

// Info.
void LogLine(const char* subsystem, const char* format, ...) __attribute__((format(printf, 2, 3)));
void LogWarning(const char* subsystem, const char* format, ...) __attribute__((format(printf, 2, 3)));
void LogError(const char* subsystem, const char* format, ...) __attribute__((format(printf, 2, 3)));
void LogAt(LogLevel level, const char* subsystem, const char* format, ...) __attribute__((format(printf, 3, 4)));
void LogLineV(LogLevel level, const char* subsystem, const char* format, va_list args);

// A change to the show that someone made (by a key, OSC, the web view), or
// an event that outsiders can cause at any rate: never folded as a repeat,
// so that each change made at a person's pace is a line of its own. Lines of
// one `kind` (a name from the code, such as "threshold") are printed as they
// come up to kPacedLinesPerSecond in a second; the rest of that second is
// summed up once it is over, in one line: the last of them, with how many
// more there were ("... and 482 more in the last 1 s, this the last").
inline constexpr int kPacedLinesPerSecond = 4;
void LogPaced(LogLevel level, const char* subsystem, const char* kind, const char* format, ...)
    __attribute__((format(printf, 4, 5)));

// Text as a log line shows it: control characters, DEL, C1 controls and
// bytes that are not UTF-8 become \n, \t, \x1b, \u009b ...; a backslash
// stays one backslash. Every line goes through it; exposed for other places
// that print outside text.
std::string EscapeLogText(std::string_view text);

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
// minute is over, and of paced lines whose second is over; with `all`, every
// pending one (at the end of the run).
void FlushLogRepeats(bool all = false);
