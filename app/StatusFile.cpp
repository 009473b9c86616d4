#include "app/StatusFile.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include <unistd.h>

#include "app/HealthJson.h"
#include "common/Log.h"
#include "common/PrivateFiles.h"

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
