#include "common/InstalledData.h"

#include <filesystem>
#include <system_error>

#ifndef SOLVANE_INSTALLED_DATA
#define SOLVANE_INSTALLED_DATA "/usr/local/share/solvane/data"
#endif

std::string InstalledDataFolder() { return SOLVANE_INSTALLED_DATA; }

std::string DefaultDataFolder()
{
    std::error_code error;
    if (std::filesystem::is_directory("data", error)) return "data";
    if (std::filesystem::is_directory(InstalledDataFolder(), error)) return InstalledDataFolder();
    return "data";
}

namespace {

// Where a folder's name leads, without a trailing separator; the folder need
// not exist.
std::filesystem::path Resolved(const std::string& folder, std::error_code& error)
{
    std::filesystem::path path = std::filesystem::weakly_canonical(folder.empty() ? "." : folder, error);
    if (!path.has_filename()) path = path.parent_path();
    return path;
}

}  // namespace

bool IsInstalledDataFolder(const std::string& folder)
{
    // Compared by where the names lead, so "/usr/share/solvane/data/" and a
    // link to it count.
    std::error_code error;
    const auto here = Resolved(folder, error);
    if (error) return false;
    const auto installed = Resolved(InstalledDataFolder(), error);
    return !error && here == installed;
}
