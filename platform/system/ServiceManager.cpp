#include "platform/system/ServiceManager.h"

#include <systemd/sd-daemon.h>

namespace platform {

bool NotifyServiceManager(const std::string& assignments)
{
    return sd_notify(0, assignments.c_str()) > 0;
}

std::uint64_t ServiceWatchdogMicroseconds()
{
    std::uint64_t usec = 0;
    return sd_watchdog_enabled(0, &usec) > 0 ? usec : 0;
}

}  // namespace platform
