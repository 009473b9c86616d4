#include "platform/system/System.h"

#include <SDL.h>
#include <csignal>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/socket.h>
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

void IgnoreBrokenPipesOnThisThread()
{
    // NOTE: a blocked SIGPIPE raised by a write stays pending on this thread
    // and is never delivered; the write itself returns EPIPE.
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void LowerThisThreadPriority()
{
    // NOTE: on Linux a thread's nice value is its own, so this leaves the
    // rest of the process as it was.
    id_t thread = static_cast<id_t>(gettid());
    int nice = getpriority(PRIO_PROCESS, thread);
    setpriority(PRIO_PROCESS, thread, nice + 10 > 19 ? 19 : nice + 10);
}

void SetExclusiveListenOptions(int socket)
{
    int yes = 1;
    setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
}

}  // namespace platform
