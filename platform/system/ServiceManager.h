// The service manager's notification channel (systemd's sd_notify): state
// lines such as "READY=1", "WATCHDOG=1" or "STATUS=...". Outside a
// Type=notify service (no NOTIFY_SOCKET) every call does nothing.
// Threads: any thread.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// Sends newline-separated assignments; false when nobody listens or it failed.
bool NotifyServiceManager(const std::string& assignments);

// The watchdog interval the service manager expects pings within, in
// microseconds; 0 when there is no watchdog.
std::uint64_t ServiceWatchdogMicroseconds();

}  // namespace platform
