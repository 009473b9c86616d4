// Process-wide start and stop of the platform libraries (SDL).
#pragma once

#include <string>

namespace platform {

bool StartSystem(std::string& error);
void StopSystem();

// True when standard error is a terminal (progress lines are only drawn there).
bool ErrorOutputIsTerminal();

}  // namespace platform
