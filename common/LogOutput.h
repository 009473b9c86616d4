// Where log lines go and how they look: set up once by the program (app/),
// never by a subsystem. The only header outside Log.cpp that names spdlog.
// Threads: any thread; the set-up calls are meant for the start and the end.
#pragma once

#include <memory>

#include <spdlog/sinks/sink.h>

#include "common/Log.h"

// Replaces the printer of lines (bare lines on stderr until then). The ring
// of recent lines stays as it is.
void SetLogConsole(std::shared_ptr<spdlog::sinks::sink> console);
// Lines below `level` are dropped (they are still counted when warnings or errors).
void SetLogThreshold(LogLevel level);
// On: a line repeated within a minute is printed once, then summed up as
// "... repeated N times in the last S s" when its minute is over. Off by
// default, so that a test sees every line it causes.
void SetLogFolding(bool on);
