// The status file: the health snapshot as JSON, rewritten once a second so
// that an operator (or a script) can read the installation's state from
// outside. Each write goes to a temporary file in the same folder that is
// then renamed over the old one, so a reader sees a whole file or the
// previous whole file, never a half-written one.
// Threads: the step loop only.
#pragma once

#include <chrono>
#include <string>

#include "app/Health.h"

class StatusFile {
public:
    // $XDG_RUNTIME_DIR/solvane/status.json, else <temp folder>/solvane/status.json.
    static std::string DefaultPath();

    explicit StatusFile(std::string path) : path_(std::move(path)) {}
    const std::string& Path() const { return path_; }

    // Writes when a second has passed since the last write (or never written).
    void WriteIfDue(const Health& health, std::chrono::steady_clock::time_point now);
    // Writes now; false with `error` set when the file cannot be written.
    bool Write(const Health& health, std::string& error);

private:
    std::string path_;
    std::chrono::steady_clock::time_point lastWrite_{};
    bool written_ = false;
    bool failing_ = false;  // a failure is logged once until a write works again
};
