#include "operator/StatusFile.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <type_traits>

#include <unistd.h>

#include <nlohmann/json.hpp>

#include "common/EscapedText.h"
#include "common/Log.h"
#include "common/PrivateFiles.h"
#include "common/RegularFile.h"
#include "operator/Health.h"

std::string StatusFile::DefaultFolder()
{
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] == '/') return (std::filesystem::path(runtime) / "solvane").string();
    // The temporary folder is shared with every user: a folder of our own
    // in it, so nobody else can plant or swap the file.
    std::error_code error;
    std::filesystem::path temp = std::filesystem::temp_directory_path(error);
    if (error) temp = "/tmp";
    return (temp / ("solvane-" + std::to_string(::geteuid()))).string();
}

std::string StatusFile::DefaultPath() { return (std::filesystem::path(DefaultFolder()) / "status.json").string(); }

StatusFile::StatusFile(const std::string& path) : path_(path.empty() ? DefaultPath() : path), ownFolder_(path.empty())
{
}

void StatusFile::WriteIfDue(const Health& health, std::chrono::steady_clock::time_point now)
{
    if (written_ && now - lastWrite_ < std::chrono::seconds(1)) return;
    lastWrite_ = now;
    written_ = true;
    std::string error;
    if (Write(health, error)) {
        if (failing_) LogLine("status", "writing \"%s\" again", path_.c_str());
        failing_ = false;
    } else if (!failing_) {
        failing_ = true;
        LogWarning("status", "%s", error.c_str());
    }
}

bool StatusFile::Write(const Health& health, std::string& error)
{
    std::filesystem::path path(path_);
    const std::string folder = path.has_parent_path() ? path.parent_path().string() : ".";
    std::string why;
    if (ownFolder_) {
        if (!PrepareOwnFolder(folder, ::geteuid(), why)) {
            error = "cannot write the status file \"" + path_ + "\": " + why;
            return false;
        }
    } else if (path.has_parent_path()) {
        // A folder named on the command line is the operator's choice; it is
        // made when missing.
        std::error_code ignored;
        std::filesystem::create_directories(path.parent_path(), ignored);
    }
    std::string temporary;
    const int fd = CreatePrivateTemporary(path_, temporary, why);
    if (fd < 0) {
        error = "cannot write the status file \"" + path_ + "\": " + why;
        return false;
    }
    const std::string text = ToJson(health).dump(2) + "\n";
    bool ok = WriteFully(fd, text);
    if (!ok) why = std::strerror(errno);
    ok = ::close(fd) == 0 && ok;
    if (ok && ::rename(temporary.c_str(), path_.c_str()) != 0) {
        why = std::strerror(errno);
        ok = false;
    }
    if (!ok) {
        ::unlink(temporary.c_str());
        error = "cannot write the status file \"" + path_ + "\"" + (why.empty() ? "" : ": " + why);
    }
    return ok;
}

// ---------------------------------------------------------------------------
// The reader: --show-status

namespace {

// Ten thousand years: more than any run, and far inside long long.
constexpr double kLongestDuration = 3.2e11;

std::string Duration(double seconds)
{
    auto total = static_cast<long long>(std::clamp(seconds, 0.0, kLongestDuration));
    char text[64];
    if (total >= 86400)
        std::snprintf(text, sizeof text, "%lld d %lld h", total / 86400, total % 86400 / 3600);
    else if (total >= 3600)
        std::snprintf(text, sizeof text, "%lld h %02lld min", total / 3600, total % 3600 / 60);
    else if (total >= 60)
        std::snprintf(text, sizeof text, "%lld min %02lld s", total / 60, total % 60);
    else
        std::snprintf(text, sizeof text, "%lld s", total);
    return text;
}

// The file may have been written by anyone who could write its folder, so
// every value is taken as a stranger's: numbers are held to what their type
// can hold (a conversion out of range is undefined behaviour) and text is
// escaped before it reaches the terminal.
template <typename T>
T Clamped(const nlohmann::json& value, T fallback)
{
    using Limits = std::numeric_limits<T>;
    if constexpr (std::is_integral_v<T>) {
        if (value.is_number_unsigned()) {
            const auto number = value.get<std::uint64_t>();
            return number > static_cast<std::uint64_t>(Limits::max()) ? Limits::max() : static_cast<T>(number);
        }
        if (value.is_number_integer()) {
            const auto number = value.get<std::int64_t>();
            if (number < 0 && std::is_unsigned_v<T>) return 0;
            if (number < 0)
                return number < static_cast<std::int64_t>(Limits::lowest()) ? Limits::lowest() : static_cast<T>(number);
            const auto positive = static_cast<std::uint64_t>(number);
            return positive > static_cast<std::uint64_t>(Limits::max()) ? Limits::max() : static_cast<T>(number);
        }
        const double number = value.get<double>();
        if (std::isnan(number)) return fallback;
        // Both bounds as doubles: max() rounds up to a power of two, so the
        // comparison is >=, and a value below it converts exactly.
        if (number <= static_cast<double>(Limits::lowest())) return Limits::lowest();
        if (number >= static_cast<double>(Limits::max())) return Limits::max();
        return static_cast<T>(number);
    } else {
        const double number = value.get<double>();
        if (!std::isfinite(number)) return fallback;
        // Far beyond any real figure, near enough to print in a line.
        return static_cast<T>(std::clamp(number, -1e12, 1e12));
    }
}

template <typename T>
T Get(const nlohmann::json& object, const char* key, T fallback)
{
    if (!object.is_object() || !object.contains(key)) return fallback;
    const nlohmann::json& value = object.at(key);
    if constexpr (std::is_same_v<T, std::string>) {
        return value.is_string() ? EscapeControlCharacters(value.get_ref<const std::string&>()) : fallback;
    } else {
        return value.is_number() ? Clamped<T>(value, fallback) : fallback;
    }
}

// A status file is a few KB; anything past this is not one.
constexpr std::uint64_t kStatusFileLimit = kTextFileLimit;

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...)
{
    // Sized to the whole line: a long forged string must not cut off the
    // line end and glue the next line to it.
    va_list args;
    va_start(args, format);
    va_list measure;
    va_copy(measure, args);
    const int length = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    std::string text(length > 0 ? static_cast<std::size_t>(length) : 0, '\0');
    if (length > 0) std::vsnprintf(text.data(), text.size() + 1, format, args);
    va_end(args);
    return text;
}

// The object under `key`, or an empty one (whatever else the file holds there).
nlohmann::json Member(const nlohmann::json& status, const char* key)
{
    if (!status.is_object()) return nlohmann::json::object();
    auto found = status.find(key);
    return found != status.end() && found->is_object() ? *found : nlohmann::json::object();
}

}  // namespace

std::string DescribeStatus(const nlohmann::json& status, double ageSeconds)
{
    std::string out;
    const bool stopped = Get<std::string>(status, "state", "running") == "stopped";
    if (stopped)
        out += Format("the installation stopped at %s: %s\n", Get<std::string>(status, "stopped_at", "?").c_str(),
                      Get<std::string>(status, "stop_reason", "?").c_str());
    out += Format("started %s, up %s, step %s (%.1f steps/s, step time p99 %.1f ms)\n",
                  Get<std::string>(status, "started_at", "?").c_str(),
                  Duration(Get<double>(status, "uptime_s", 0)).c_str(),
                  Grouped(Get<std::uint64_t>(status, "steps", 0)).c_str(), Get<double>(status, "steps_per_second", 0),
                  Get<double>(status, "step_ms_p99", 0));
    const nlohmann::json microphone = Member(status, "microphone");
    std::string device = Get<std::string>(microphone, "device", "");
    const int threshold = Get<int>(status, "threshold", 0);
    out += Format("microphone: %s%s%s; input peak %.1f dBFS, RMS %.1f dBFS; threshold %d (%.1f dBFS), gain %.1f dB\n",
                  Get<std::string>(microphone, "state", "?").c_str(), device.empty() ? "" : " ",
                  device.empty() ? "" : ("\"" + device + "\"").c_str(), Get<double>(status, "input_peak_dbfs", -120),
                  Get<double>(status, "input_rms_dbfs", -120), threshold, level::ThresholdToDbfs(threshold),
                  Get<double>(status, "gain_db", 0));
    std::string phases;
    const nlohmann::json crystals = Member(status, "crystals");
    for (const char* phase : Health::kPhaseNames) {
        auto count = Get<std::uint64_t>(crystals, phase, 0);
        if (count == 0) continue;
        phases += (phases.empty() ? "" : ", ") + std::to_string(count) + " " + phase;
    }
    out += Format("crystals: %s; %u sparks\n", phases.empty() ? "none" : phases.c_str(),
                  Get<unsigned>(status, "sparks", 0));
    const nlohmann::json peer = Member(status, "peer");
    std::string address = Get<std::string>(peer, "address", "");
    double contact = Get<double>(peer, "last_contact", -1);
    out += Format("peer: %s%s%s, %s; pictures: %s received, %u in flight\n",
                  Get<std::string>(peer, "state", "?").c_str(), address.empty() ? "" : " ", address.c_str(),
                  contact < 0 ? "no contact yet" : ("last contact " + Duration(contact) + " ago").c_str(),
                  Grouped(Get<std::uint64_t>(status, "pictures_received", 0)).c_str(),
                  Get<unsigned>(status, "pictures_in_flight", 0));
    const nlohmann::json voice = Member(status, "last_voice");
    std::string path = Get<std::string>(voice, "path", "");
    if (path.empty())
        out += "last voice: none stored yet\n";
    else
        out += Format("last voice: \"%s\", %u blocks, at %s\n", path.c_str(), Get<unsigned>(voice, "blocks", 0),
                      Get<std::string>(voice, "time", "?").c_str());
    const nlohmann::json osc = status.value("osc", nlohmann::json::object());
    if (osc.is_object() && osc.value("listening", false))
        out += Format("osc: %s commands heard, %s messages ignored, %s flashes skipped\n",
                      Grouped(Get<std::uint64_t>(osc, "heard", 0)).c_str(),
                      Grouped(Get<std::uint64_t>(osc, "ignored", 0)).c_str(),
                      Grouped(Get<std::uint64_t>(osc, "flashes_skipped", 0)).c_str());
    out += Format("log: %s warnings, %s errors\n", Grouped(Get<std::uint64_t>(status, "warnings", 0)).c_str(),
                  Grouped(Get<std::uint64_t>(status, "errors", 0)).c_str());
    if (!stopped && ageSeconds > kStatusStaleSeconds)
        out += "the file was last written " + Duration(ageSeconds) +
               " ago: the installation is not running or is stuck\n";
    return out;
}

int ShowStatus(const std::string& requested, std::FILE* out)
{
    const std::string path = requested.empty() ? StatusFile::DefaultPath() : requested;
    const std::string shown = EscapeControlCharacters(path);
    std::string why;
    // The default folder is trusted only when it is ours: anyone else's
    // could hold a forged report.
    std::error_code missing;
    const std::string folder = StatusFile::DefaultFolder();
    if (requested.empty() && std::filesystem::exists(std::filesystem::symlink_status(folder, missing)) &&
        !CheckOwnFolder(folder, ::geteuid(), why)) {
        std::fprintf(out, "the status file \"%s\" is not shown: %s\n", shown.c_str(),
                     EscapeControlCharacters(why).c_str());
        return 1;
    }
    std::string text;
    if (!ReadRegularFile(path, kStatusFileLimit, text, why)) {
        if (why == "missing")
            std::fprintf(out, "no status file \"%s\": the installation is not running, or writes it elsewhere "
                              "(--status-file)\n", shown.c_str());
        else
            std::fprintf(out, "cannot read the status file \"%s\": %s\n", shown.c_str(),
                         EscapeControlCharacters(why).c_str());
        return 1;
    }
    nlohmann::json status = nlohmann::json::parse(text, nullptr, false);
    if (status.is_discarded() || !status.is_object()) {
        std::fprintf(out, "the status file \"%s\" is not readable JSON\n", shown.c_str());
        return 1;
    }
    std::error_code error;
    auto written = std::filesystem::last_write_time(path, error);
    double age = error ? 0
                       : std::chrono::duration<double>(std::filesystem::file_time_type::clock::now() - written).count();
    std::fprintf(out, "status of the installation (\"%s\", written %.1f s ago)\n", shown.c_str(), std::max(0.0, age));
    std::fputs(DescribeStatus(status, age).c_str(), out);
    const bool stopped = Get<std::string>(status, "state", "running") == "stopped";
    return stopped || age > kStatusStaleSeconds ? 1 : 0;
}
