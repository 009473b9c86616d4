// The status file: the health snapshot as JSON, rewritten once a second so
// that an operator (or a script) can read the installation's state from
// outside. Each write goes to a temporary file in the same folder that is
// then renamed over the old one, so a reader sees a whole file or the
// previous whole file, never a half-written one. The temporary file is made
// with O_EXCL under a name no one can guess, mode 0600, so a link or file
// planted by another user is never written through.
// Threads: the step loop only.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>

#include <nlohmann/json_fwd.hpp>

#include "operator/Health.h"

class StatusFile {
public:
    // $XDG_RUNTIME_DIR/solvane, else <temp folder>/solvane-<uid>.
    static std::string DefaultFolder();
    // DefaultFolder()/status.json.
    static std::string DefaultPath();

    // The file the operator named; empty: the default path, in a folder
    // that must be ours: made 0700 when missing, refused with a line naming
    // its owner when it is someone else's (or a link).
    explicit StatusFile(const std::string& path);
    const std::string& Path() const { return path_; }

    // Writes when a second has passed since the last write (or never written).
    void WriteIfDue(const Health& health, std::chrono::steady_clock::time_point now);
    // Writes now; false with `error` set when the file cannot be written.
    bool Write(const Health& health, std::string& error);

private:
    std::string path_;
    bool ownFolder_ = false;
    std::chrono::steady_clock::time_point lastWrite_{};
    bool written_ = false;
    bool failing_ = false;  // a failure is logged once until a write works again
};

// `solvane --show-status [FILE]`: the status file in plain words, for an
// operator on a terminal.

// A file older than this means the installation is not running or is stuck.
constexpr double kStatusStaleSeconds = 5;

// The report of one status file's content, `ageSeconds` after it was written.
std::string DescribeStatus(const nlohmann::json& status, double ageSeconds);

// Prints the report of the file at `path` (empty: the default one, when its
// folder is ours) to `out`. Returns 0 for a current file of a running
// installation, 1 when it is missing, unreadable, not a regular file, stale
// or says the installation stopped (the report says which).
int ShowStatus(const std::string& path, std::FILE* out);
