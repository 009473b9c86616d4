#include "platform/System.h"

#include <SDL.h>
#include <unistd.h>

namespace platform {

bool StartSystem(std::string& error)
{
    // Subsystems (video, audio) are started by their users.
    if (SDL_Init(0) != 0) {
        error = std::string("cannot start SDL: ") + SDL_GetError();
        return false;
    }
    return true;
}

void StopSystem() { SDL_Quit(); }

bool ErrorOutputIsTerminal() { return isatty(STDERR_FILENO) == 1; }

}  // namespace platform
