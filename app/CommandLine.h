// Parsing of the installation's command line into Options.
#pragma once

#include <string>

#include "app/Options.h"

// Returns false with a message for an unknown option or a bad value.
bool ParseCommandLine(int argc, const char* const* argv, Options& options, std::string& error);
const char* UsageText();
// The log levels --log-level and the settings file accept.
bool IsLogLevelName(const std::string& name);
const char* LogLevelNames();
// A name --video accepts: .mp4 or .mkv.
bool IsVideoFileName(const std::string& path);
