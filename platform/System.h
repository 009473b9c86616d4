// Process-wide start and stop of the platform libraries (SDL).
#pragma once

#include <string>

namespace platform {

bool StartSystem(std::string& error);
void StopSystem();

}  // namespace platform
