#include "platform/system/System.h"

#include <SDL.h>
#include <csignal>
#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

namespace platform {

namespace {

// NOTE: process-wide by nature: a signal handler can reach nothing else.
volatile std::sig_atomic_t stopSignal = 0;

extern "C" void NoteStopSignal(int number)
{
    if (stopSignal == 0) stopSignal = number;
}

}  // namespace

bool StartSystem(std::string& error)
{
    // SDL's own handlers turn both signals into one anonymous quit event;
    // ours keep which one it was.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    struct sigaction action {};
    action.sa_handler = NoteStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int number : {SIGINT, SIGTERM}) sigaction(number, &action, nullptr);
    // Subsystems (video, audio) are started by their users.
    if (SDL_Init(0) != 0) {
        error = std::string("cannot start SDL: ") + SDL_GetError();
        return false;
    }
    return true;
}

void StopSystem() { SDL_Quit(); }

int TakeStopSignal()
{
    const int number = stopSignal;
    stopSignal = 0;
    return number;
}

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

void LowestThisThreadPriority()
{
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 19);
}

}  // namespace platform
