// The wake signal as a Linux eventfd: readable while its counter is non-zero.
#include "platform/system/WakeSignal.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

namespace platform {

WakeSignal::WakeSignal() { fd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC); }

WakeSignal::~WakeSignal()
{
    if (fd_ >= 0) close(fd_);
}

void WakeSignal::Raise(bool raised)
{
    if (fd_ < 0 || raised == raised_) return;
    std::uint64_t value = 1;
    if (raised) {
        if (write(fd_, &value, sizeof value) == static_cast<ssize_t>(sizeof value)) raised_ = true;
    } else {
        if (read(fd_, &value, sizeof value) == static_cast<ssize_t>(sizeof value)) raised_ = false;
    }
}

}  // namespace platform
