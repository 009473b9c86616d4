#include "app/StatusFile.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include <unistd.h>

#include "app/HealthJson.h"
#include "common/Log.h"

std::string StatusFile::DefaultPath()
{
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    std::filesystem::path folder;
    if (runtime != nullptr && runtime[0] == '/') {
        folder = runtime;
    } else {
        std::error_code error;
        folder = std::filesystem::temp_directory_path(error);
        if (error) folder = "/tmp";
    }
    return (folder / "solvane" / "status.json").string();
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
    std::error_code fsError;
    if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path(), fsError);
    std::string temporary = path_ + ".tmp." + std::to_string(getpid());
    std::string text = ToJson(health).dump(2) + "\n";
    std::FILE* file = std::fopen(temporary.c_str(), "wb");
    if (file == nullptr) {
        error = "cannot write the status file \"" + path_ + "\"";
        return false;
    }
    bool ok = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    ok = std::fclose(file) == 0 && ok;
    if (ok) ok = std::rename(temporary.c_str(), path_.c_str()) == 0;
    if (!ok) {
        std::remove(temporary.c_str());
        error = "cannot write the status file \"" + path_ + "\"";
    }
    return ok;
}
