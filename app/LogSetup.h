// How the installation's log lines look, decided once at start:
//  - stderr is the journal (JOURNAL_STREAM set, as systemd does for a
//    service): each line starts with the journal's priority, "<4>" for a
//    warning, so that `journalctl -p warning` finds it; the journal adds the time.
//  - otherwise (a terminal, a file, a pipe): each line starts with the local
//    time to the millisecond, "2026-03-14 09:26:53.589 ".
// Repeats are folded from then on.
#pragma once

#include <optional>
#include <string>

#include "common/Log.h"

enum class LogDecoration { Timestamp, JournalPriority };

// Reads JOURNAL_STREAM.
LogDecoration DecorationForThisProcess();

// The lowest level printed, by the settings' names: "trace" and "debug"
// (Debug), "info", "warn" (also "warning"), "error" and "critical" (Error).
// Nothing for "off" or an unknown name.
std::optional<LogLevel> ParseLogLevel(const std::string& name);

// Sets up the console line format, the threshold and folding. "off" prints
// nothing (the ring of recent lines still keeps them); an unknown level name
// keeps "info" and says so.
void SetUpLogging(LogDecoration decoration, const std::string& levelName);
