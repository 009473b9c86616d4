// `solvane --show-status [FILE]`: the status file in plain words, for an
// operator on a terminal.
#pragma once

#include <cstdio>
#include <string>

#include <nlohmann/json.hpp>

// A file older than this means the installation is not running or is stuck.
constexpr double kStatusStaleSeconds = 5;

// The report of one status file's content, `ageSeconds` after it was written.
std::string DescribeStatus(const nlohmann::json& status, double ageSeconds);

// Prints the report of the file at `path` (empty: the default one, when its
// folder is ours) to `out`. Returns 0 for a current file of a running
// installation, 1 when it is missing, unreadable, not a regular file, stale
// or says the installation stopped (the report says which).
int ShowStatus(const std::string& path, std::FILE* out);
