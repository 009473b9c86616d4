// Forking, waiting with a limit, and telling a result from a crash; see
// ChildProcess.h.
#include "platform/system/ChildProcess.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <thread>

#if defined(__unix__) || defined(__APPLE__)
#include <sys/wait.h>
#include <unistd.h>
#define SOLVANE_HAS_FORK 1

// Present only in a sanitized build: a report in the child must not run the
// handlers a fuzzer or a test harness registered for the whole process.
extern "C" void __sanitizer_set_death_callback(void (*callback)(void)) __attribute__((weak));
#endif

namespace platform {

namespace {

// A child's own results are 64 + value, so that any other status (a
// sanitizer's report exits with 1) reads as a failure.
constexpr int kResultBase = 64;
constexpr int kMaxValue = 15;

}  // namespace

ChildResult RunInChildProcess(const std::function<int()>& body, std::chrono::milliseconds limit)
{
    ChildResult result;
#ifdef SOLVANE_HAS_FORK
    // Buffered output would otherwise be written twice.
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child < 0) {
        result.whyNot = std::string("cannot start a child process: ") + std::strerror(errno);
        return result;
    }
    if (child == 0) {
        // A crash ends the child quietly, with its signal, whatever handlers the parent installed.
        for (int sig : {SIGSEGV, SIGBUS, SIGABRT, SIGFPE, SIGILL}) std::signal(sig, SIG_DFL);
        if (__sanitizer_set_death_callback != nullptr) __sanitizer_set_death_callback(nullptr);
        const int value = body();
        _exit(value >= 0 && value <= kMaxValue ? kResultBase + value : 1);
    }
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    for (;;) {
        const pid_t done = waitpid(child, &status, WNOHANG);
        if (done == child) break;
        if (done < 0 && errno != EINTR) {
            result.outcome = ChildResult::Failed;
            result.whyNot = std::string("lost the child process: ") + std::strerror(errno);
            return result;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            kill(child, SIGKILL);
            while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
            }
            result.outcome = ChildResult::Failed;
            result.whyNot = "did not finish within " + std::to_string(limit.count()) + " ms";
            return result;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) >= kResultBase && WEXITSTATUS(status) <= kResultBase + kMaxValue) {
        result.outcome = ChildResult::Finished;
        result.value = WEXITSTATUS(status) - kResultBase;
        return result;
    }
    result.outcome = ChildResult::Failed;
    if (WIFSIGNALED(status))
        result.whyNot = std::string("crashed (") + strsignal(WTERMSIG(status)) + ")";
    else
        result.whyNot = "stopped with exit status " + std::to_string(WEXITSTATUS(status));
#else
    (void)body;
    (void)limit;
    result.whyNot = "no child processes on this system";
#endif
    return result;
}

}  // namespace platform
