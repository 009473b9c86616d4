// Where an installed copy of the program keeps its data. The folder is fixed
// when the program is built (the install prefix); a build that was never
// installed finds nothing there and behaves as a checkout always did.
#pragma once

#include <string>

// The installed data folder, e.g. /usr/share/solvane/data.
std::string InstalledDataFolder();

// The data folder of a run that named none: ./data when it exists, else the
// installed folder when that exists, else "data" (whose absence the start
// then reports).
std::string DefaultDataFolder();

// True when `folder` is the installed data folder: nothing is written there.
bool IsInstalledDataFolder(const std::string& folder);
