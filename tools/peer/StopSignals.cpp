#include "StopSignals.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

StopSignals::StopSignals()
{
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGTERM);
    sigaddset(&stops, SIGINT);
    if (sigprocmask(SIG_BLOCK, &stops, nullptr) != 0) return;
    fd_ = signalfd(-1, &stops, SFD_NONBLOCK | SFD_CLOEXEC);
    if (fd_ < 0) sigprocmask(SIG_UNBLOCK, &stops, nullptr);
}

StopSignals::~StopSignals()
{
    if (fd_ >= 0) close(fd_);
}

void StopSignals::CollectWaitDescriptors(std::vector<int>& fds) const
{
    if (fd_ >= 0) fds.push_back(fd_);
}

const char* StopSignals::Received()
{
    signalfd_siginfo info;
    while (received_ == nullptr && fd_ >= 0 && read(fd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info))
        received_ = info.ssi_signo == SIGINT ? "SIGINT" : "SIGTERM";
    return received_;
}
