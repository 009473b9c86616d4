// The operator's settings file, solvane.toml: read once at start into
// Options, before the command line, which overrides it. Every key defaults to
// the behaviour of a run without the file:
//
//   [input]   device = "", gain_db = 0.0, threshold = 4000
//   [display] index = 0, fullscreen = true
//   [run]     data = "data", echo = false, log_level = "info",
//             status_file = "", show_problems = true, video = "",
//             video_max_minutes = 0
//   [osc]     send = "", listen = "", allow = "" (every sender)
//   [remote]  listen = "", token = "", hosts = ""
//   [link]    any_source = false
//
// An unknown key, a value of the wrong type or out of range, or broken TOML
// is an error that names the file, the line and the key; the start then
// fails. The peer's address stays in theStrings.ini.
#pragma once

#include <string>
#include <string_view>

#include "app/Options.h"

// The file to read: --config when given (it must then exist), else
// $XDG_CONFIG_HOME/solvane/solvane.toml (XDG's default ~/.config), else
// none. `exists` says whether the returned path is there to be read; when it
// is not, the path is where the calibration meter saves to.
struct SettingsLocation {
    std::string path;
    bool exists = false;
};
SettingsLocation FindSettingsFile(const std::string& configOption, const char* xdgConfigHome, const char* home);

// Fills the fields the file names; leaves the others as they are.
bool ReadSettingsFile(const std::string& path, Options& options, std::string& error);
// The same for text already in memory; `name` is the file's name in errors.
bool ReadSettingsText(std::string_view text, const std::string& name, Options& options, std::string& error);

// The settings text with the threshold and the gain written into [input],
// keeping every other key (and, where the file's layout allows, its
// comments); false with `error` naming `name` when `original` is broken TOML.
bool EditInputLevelsText(const std::string& original, const std::string& name, int threshold, double gainDb,
                         std::string& edited, std::string& error);

// Writes the threshold and the gain into [input] of the file, keeping every
// other key (and, where the file's layout allows, its comments), its mode
// and its owner; creates the file (0600) and its folder when missing.
bool SaveInputLevels(const std::string& path, int threshold, double gainDb, std::string& error);

// The whole start-up resolution: the command line, the settings file it
// points to (or the user's default one), then the command line again on top.
// Returns the exit status for a failed parse (2 for the command line, 1 for
// the settings file) or 0 to go on.
int ResolveOptions(int argc, const char* const* argv, const char* xdgConfigHome, const char* home, Options& options,
                   std::string& error);
