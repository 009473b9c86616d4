#include "app/Settings.h"
#include "common/InstalledData.h"

#include <toml++/toml.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <sstream>
#include <system_error>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "app/CommandLine.h"
#include "common/Level.h"
#include "common/PrivateFiles.h"
#include "common/RegularFile.h"
#include "operator/OscAllowList.h"

namespace {

namespace fs = std::filesystem;

enum class ValueType { String, Bool, Integer, Number };

// One key of the file: where it lives, what it holds, and how it lands in
// Options. `apply` returns an empty string or why the value is out of range.
struct KeyRule {
    const char* table;
    const char* key;
    ValueType type;
    std::function<std::string(const toml::node&, Options&)> apply;
};

std::string TypeName(ValueType type)
{
    switch (type) {
    case ValueType::String: return "a string";
    case ValueType::Bool: return "true or false";
    case ValueType::Integer: return "a whole number";
    case ValueType::Number: return "a number";
    }
    return "a value";
}

std::string NodeTypeName(const toml::node& node)
{
    switch (node.type()) {
    case toml::node_type::string: return "a string";
    case toml::node_type::boolean: return "a boolean";
    case toml::node_type::integer: return "a whole number";
    case toml::node_type::floating_point: return "a number";
    case toml::node_type::table: return "a table";
    case toml::node_type::array: return "an array";
    default: return "a date or time";
    }
}

bool HasType(const toml::node& node, ValueType type)
{
    switch (type) {
    case ValueType::String: return node.is_string();
    case ValueType::Bool: return node.is_boolean();
    case ValueType::Integer: return node.is_integer();
    case ValueType::Number: return node.is_integer() || node.is_floating_point();
    }
    return false;
}

std::string Text(const toml::node& node) { return node.value<std::string>().value_or(""); }

std::string SetString(std::string& field, const toml::node& node)
{
    field = Text(node);
    return {};
}

std::string SetBool(bool& field, const toml::node& node)
{
    field = node.value<bool>().value_or(field);
    return {};
}

const std::vector<KeyRule>& Rules()
{
    static const std::vector<KeyRule> rules{
        {"input", "device", ValueType::String, [](const toml::node& n, Options& o) { return SetString(o.inputDevice, n); }},
        {"input", "gain_db", ValueType::Number,
         [](const toml::node& n, Options& o) -> std::string {
             double gain = n.value<double>().value_or(0);
             if (!level::IsValidGainDb(gain)) return "must be from -40 to 40 (dB)";
             o.gainDb = gain;
             return {};
         }},
        {"input", "threshold", ValueType::Integer,
         [](const toml::node& n, Options& o) -> std::string {
             long long threshold = n.value<long long>().value_or(0);
             if (!level::IsValidThreshold(threshold)) return "must be from 1 to 32767 (16-bit sample units)";
             o.threshold = static_cast<int>(threshold);
             return {};
         }},
        {"display", "index", ValueType::Integer,
         [](const toml::node& n, Options& o) -> std::string {
             long long index = n.value<long long>().value_or(-1);
             if (index < 0 || index > 63) return "must be from 0 to 63";
             o.displayIndex = static_cast<int>(index);
             return {};
         }},
        {"display", "fullscreen", ValueType::Bool,
         [](const toml::node& n, Options& o) -> std::string {
             o.windowed = !n.value<bool>().value_or(true);
             return {};
         }},
        {"run", "data", ValueType::String,
         [](const toml::node& n, Options& o) -> std::string {
             if (Text(n).empty()) return "must name a folder";
             return SetString(o.dataDir, n);
         }},
        {"run", "echo", ValueType::Bool, [](const toml::node& n, Options& o) { return SetBool(o.echo, n); }},
        {"run", "log_level", ValueType::String,
         [](const toml::node& n, Options& o) -> std::string {
             if (!IsLogLevelName(Text(n))) return std::string("must be one of ") + LogLevelNames();
             return SetString(o.logLevel, n);
         }},
        {"run", "status_file", ValueType::String, [](const toml::node& n, Options& o) { return SetString(o.statusFile, n); }},
        {"run", "video", ValueType::String,
         [](const toml::node& n, Options& o) -> std::string {
             if (!Text(n).empty() && !IsVideoFileName(Text(n))) return "must name a .mp4 or .mkv file";
             return SetString(o.video, n);
         }},
        {"run", "video_max_minutes", ValueType::Integer,
         [](const toml::node& n, Options& o) -> std::string {
             long long minutes = n.value<long long>().value_or(-1);
             if (minutes < 0 || minutes > 10080) return "must be from 0 (one file) to 10080";
             o.videoMaxMinutes = static_cast<std::uint32_t>(minutes);
             return {};
         }},
        {"run", "show_problems", ValueType::Bool, [](const toml::node& n, Options& o) { return SetBool(o.showProblems, n); }},
        {"osc", "send", ValueType::String, [](const toml::node& n, Options& o) { return SetString(o.oscSend, n); }},
        {"osc", "listen", ValueType::String, [](const toml::node& n, Options& o) { return SetString(o.oscListen, n); }},
        {"osc", "allow", ValueType::String,
         [](const toml::node& n, Options& o) -> std::string {
             OscAllowList list;
             std::string why;
             if (!OscAllowList::Parse(Text(n), list, why)) return why;
             return SetString(o.oscAllow, n);
         }},
        {"remote", "listen", ValueType::String, [](const toml::node& n, Options& o) { return SetString(o.httpListen, n); }},
        {"remote", "token", ValueType::String, [](const toml::node& n, Options& o) { return SetString(o.httpToken, n); }},
        {"remote", "hosts", ValueType::String, [](const toml::node& n, Options& o) { return SetString(o.httpHosts, n); }},
        {"link", "any_source", ValueType::Bool, [](const toml::node& n, Options& o) { return SetBool(o.linkAnySource, n); }},
    };
    return rules;
}

const KeyRule* FindRule(std::string_view table, std::string_view key)
{
    for (const KeyRule& rule : Rules())
        if (table == rule.table && key == rule.key) return &rule;
    return nullptr;
}

bool IsKnownTable(std::string_view table)
{
    for (const KeyRule& rule : Rules())
        if (table == rule.table) return true;
    return false;
}

// The line of a node, or of its key where the node has none (a table made
// implicitly by a dotted key).
std::uint32_t LineOf(const toml::key& key, const toml::node& node)
{
    if (node.source().begin.line != 0) return node.source().begin.line;
    return key.source().begin.line;
}

std::string Problem(const std::string& name, std::uint32_t line, const std::string& key, const std::string& why)
{
    std::string text = "settings file \"" + name + "\"";
    if (line != 0) text += " line " + std::to_string(line);
    if (!key.empty()) text += ", key " + key;
    return text + ": " + why;
}

bool ApplyTable(const toml::table& root, const std::string& name, Options& options, std::string& error)
{
    Options result = options;
    for (auto&& [tableKey, tableNode] : root) {
        std::string tableName(tableKey.str());
        if (!IsKnownTable(tableName)) {
            error = Problem(name, LineOf(tableKey, tableNode), tableName, "unknown key");
            return false;
        }
        const toml::table* table = tableNode.as_table();
        if (table == nullptr) {
            error = Problem(name, LineOf(tableKey, tableNode), tableName,
                            "needs to be a table ([" + tableName + "]), got " + NodeTypeName(tableNode));
            return false;
        }
        for (auto&& [key, node] : *table) {
            std::string fullKey = tableName + "." + std::string(key.str());
            std::uint32_t line = LineOf(key, node);
            const KeyRule* rule = FindRule(tableName, key.str());
            if (rule == nullptr) {
                error = Problem(name, line, fullKey, "unknown key");
                return false;
            }
            if (!HasType(node, rule->type)) {
                error = Problem(name, line, fullKey, "needs " + TypeName(rule->type) + ", got " + NodeTypeName(node));
                return false;
            }
            std::string why = rule->apply(node, result);
            if (!why.empty()) {
                error = Problem(name, line, fullKey, why);
                return false;
            }
        }
    }
    options = result;
    return true;
}

std::string FormatGain(double gainDb)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", gainDb);
    return text;
}

bool IsSectionHeader(const std::string& line, std::string& name)
{
    std::size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line[start] != '[') return false;
    std::size_t end = line.find(']', start);
    if (end == std::string::npos) return false;
    name = line.substr(start + 1, end - start - 1);
    // Trim blanks inside the brackets; "[[x]]" keeps its inner bracket and so matches nothing we use.
    std::size_t first = name.find_first_not_of(" \t");
    std::size_t last = name.find_last_not_of(" \t");
    name = first == std::string::npos ? "" : name.substr(first, last - first + 1);
    return true;
}

bool IsAssignmentOf(const std::string& line, const std::string& key)
{
    std::size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line.compare(start, key.size(), key) != 0) return false;
    std::size_t after = line.find_first_not_of(" \t", start + key.size());
    return after != std::string::npos && line[after] == '=';
}

// Rewrites the two lines in place (or adds them to [input], or adds
// [input]), so the operator's comments and order survive.
std::string EditInputLevels(const std::string& text, int threshold, double gainDb)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    const std::string thresholdLine = "threshold = " + std::to_string(threshold);
    const std::string gainLine = "gain_db = " + FormatGain(gainDb);
    std::string section;
    bool sawInput = false, wroteThreshold = false, wroteGain = false;
    std::size_t inputEnd = lines.size();
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::string name;
        if (IsSectionHeader(lines[i], name)) {
            if (section == "input" && inputEnd == lines.size()) inputEnd = i;
            section = name;
            if (name == "input") sawInput = true;
            continue;
        }
        if (section != "input") continue;
        // Both values are numbers, so a '#' on their line starts its comment, which stays.
        const std::size_t hash = lines[i].find('#');
        const std::string comment = hash == std::string::npos ? "" : " " + lines[i].substr(hash);
        if (IsAssignmentOf(lines[i], "threshold")) {
            lines[i] = thresholdLine + comment;
            wroteThreshold = true;
        } else if (IsAssignmentOf(lines[i], "gain_db")) {
            lines[i] = gainLine + comment;
            wroteGain = true;
        }
    }
    if (!sawInput) {
        if (!lines.empty() && !lines.back().empty()) lines.push_back("");
        lines.push_back("[input]");
        inputEnd = lines.size();
    }
    // Insert right after the last non-blank line of [input].
    std::size_t at = inputEnd;
    while (at > 0 && lines[at - 1].find_first_not_of(" \t\r") == std::string::npos) --at;
    std::vector<std::string> added;
    if (!wroteThreshold) added.push_back(thresholdLine);
    if (!wroteGain) added.push_back(gainLine);
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), added.begin(), added.end());
    std::string out;
    for (const std::string& line : lines) out += line + "\n";
    return out;
}

// Replaces the file by a new one renamed over it, so a failure leaves the
// old one whole. The new file gets the old one's mode and owner before it
// takes its place: a 0600 file holding the web view's token stays 0600. A
// file that did not exist is made 0600.
bool WriteWhole(const std::string& path, const std::string& text, std::string& error)
{
    std::error_code code;
    fs::path target(path);
    if (target.has_parent_path()) fs::create_directories(target.parent_path(), code);
    struct stat old {};
    const bool existed = ::stat(path.c_str(), &old) == 0;
    std::string temporary, why;
    const int fd = CreatePrivateTemporary(path, temporary, why);
    if (fd < 0) {
        error = "cannot write beside \"" + path + "\": " + why;
        return false;
    }
    bool ok = true;
    if (existed) {
        // The owner first: changing it may clear set-id bits that the mode
        // then puts back.
        if ((old.st_uid != ::geteuid() || old.st_gid != ::getegid()) && ::fchown(fd, old.st_uid, old.st_gid) != 0) {
            error = "cannot save into \"" + path + "\" as it is: it belongs to " + DescribeOwner(old.st_uid) +
                    " and a new file would be ours (" + std::strerror(errno) + ")";
            ok = false;
        } else if (::fchmod(fd, old.st_mode & 07777) != 0) {
            error = "cannot give the new \"" + path + "\" the old one's mode: " + std::strerror(errno);
            ok = false;
        }
    }
    if (ok && !(WriteFully(fd, text) && ::fsync(fd) == 0)) {
        error = "cannot write \"" + temporary + "\": " + std::strerror(errno);
        ok = false;
    }
    if (::close(fd) != 0 && ok) {
        error = "cannot write \"" + temporary + "\": " + std::strerror(errno);
        ok = false;
    }
    if (ok) {
        fs::rename(temporary, target, code);
        if (code) {
            error = "cannot replace \"" + path + "\": " + code.message();
            ok = false;
        }
    }
    if (!ok) ::unlink(temporary.c_str());
    return ok;
}

}  // namespace

bool EditInputLevelsText(const std::string& original, const std::string& name, int threshold, double gainDb,
                         std::string& edited, std::string& error)
{
    edited = EditInputLevels(original, threshold, gainDb);
    // The line edit cannot see every layout TOML allows (an inline [input]
    // table, dotted keys); when its result does not read back as asked, the
    // whole table is written out instead: the keys survive, comments do not.
    Options check;
    std::string why;
    bool editHolds = ReadSettingsText(edited, name, check, why) && check.threshold == threshold &&
                     std::fabs(check.gainDb - std::stod(FormatGain(gainDb))) < 1e-9;
    if (editHolds) return true;
    try {
        toml::table root = original.empty() ? toml::table{} : toml::parse(original, name);
        toml::table* input = root["input"].as_table();
        if (input == nullptr) {
            root.insert_or_assign("input", toml::table{});
            input = root["input"].as_table();
        }
        input->insert_or_assign("threshold", static_cast<std::int64_t>(threshold));
        input->insert_or_assign("gain_db", std::stod(FormatGain(gainDb)));
        std::ostringstream out;
        out << root << "\n";
        edited = out.str();
    } catch (const toml::parse_error& failure) {
        error = Problem(name, failure.source().begin.line, "", std::string(failure.description()));
        return false;
    }
    return true;
}

SettingsLocation FindSettingsFile(const std::string& configOption, const char* xdgConfigHome, const char* home)
{
    std::error_code code;
    if (!configOption.empty()) return {configOption, fs::exists(configOption, code)};
    std::string base;
    // XDG: a relative $XDG_CONFIG_HOME is invalid and is ignored.
    if (xdgConfigHome != nullptr && xdgConfigHome[0] == '/') base = xdgConfigHome;
    else if (home != nullptr && home[0] != '\0') base = std::string(home) + "/.config";
    else return {};
    std::string path = base + "/solvane/solvane.toml";
    // Whatever is there is read, so that a folder or a FIFO in its place is
    // refused with a line rather than passed over in silence.
    return {path, fs::exists(path, code)};
}

bool ReadSettingsText(std::string_view text, const std::string& name, Options& options, std::string& error)
{
    try {
        toml::table root = toml::parse(text, name);
        return ApplyTable(root, name, options, error);
    } catch (const toml::parse_error& failure) {
        error = Problem(name, failure.source().begin.line, "", std::string(failure.description()));
        return false;
    }
}

bool ReadSettingsFile(const std::string& path, Options& options, std::string& error)
{
    std::string text, why;
    if (!ReadRegularFile(path, kTextFileLimit, text, why)) {
        error = "cannot read the settings file \"" + path + "\": " + why;
        return false;
    }
    return ReadSettingsText(text, path, options, error);
}

bool SaveInputLevels(const std::string& path, int threshold, double gainDb, std::string& error)
{
    std::string original, why;
    if (!ReadRegularFile(path, kTextFileLimit, original, why) && why != "missing") {
        error = "cannot save into the settings file \"" + path + "\": " + why;
        return false;
    }
    std::string edited;
    if (!EditInputLevelsText(original, path, threshold, gainDb, edited, error)) return false;
    return WriteWhole(path, edited, error);
}

int ResolveOptions(int argc, const char* const* argv, const char* xdgConfigHome, const char* home, Options& options,
                   std::string& error)
{
    Options first;
    if (!ParseCommandLine(argc, argv, first, error)) return 2;
    if (first.showHelp || first.showVersion) {
        options = first;
        return 0;
    }
    SettingsLocation location = FindSettingsFile(first.configFile, xdgConfigHome, home);
    if (!first.configFile.empty() && !location.exists) {
        error = "cannot start: the settings file \"" + first.configFile + "\" does not exist";
        return 1;
    }
    Options merged;
    if (location.exists && !ReadSettingsFile(location.path, merged, error)) {
        error = "cannot start: " + error;
        return 1;
    }
    if (!ParseCommandLine(argc, argv, merged, error)) return 2;
    // Neither the settings nor the command line named a data folder: an
    // installed program started outside a checkout uses its own.
    if (merged.dataDir == Options{}.dataDir) merged.dataDir = DefaultDataFolder();
    merged.configFile = location.path;
    const std::string userSettings = FindSettingsFile("", xdgConfigHome, home).path;
    if (!userSettings.empty()) merged.userPeerFile = (fs::path(userSettings).parent_path() / "theStrings.ini").string();
    options = merged;
    return 0;
}
