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

bool IsInstalledDataFolder(const std::string& folder)
{
    // Compared by where the names lead, so "/usr/share/solvane/data/" and a
    // link to it count; the folder need not exist.
    std::error_code error;
    const auto here = std::filesystem::weakly_canonical(folder.empty() ? "." : folder, error);
    if (error) return false;
    const auto installed = std::filesystem::weakly_canonical(InstalledDataFolder(), error);
    return !error && here == installed;
}
