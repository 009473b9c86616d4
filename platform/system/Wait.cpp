#include "platform/system/Wait.h"

#include <poll.h>

#include <thread>

namespace platform {

void WaitForDescriptors(const std::vector<int>& fds, int timeoutMs)
{
    if (timeoutMs <= 0) return;
    std::vector<pollfd> polled;
    polled.reserve(fds.size());
    for (int fd : fds) polled.push_back(pollfd{fd, POLLIN | POLLOUT, 0});
    // POLLOUT would wake at once on a writable socket; only readiness for
    // reading and errors matter to an idle loop.
    for (pollfd& p : polled) p.events = POLLIN;
    if (polled.empty()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
        return;
    }
    poll(polled.data(), polled.size(), timeoutMs);
}

}  // namespace platform
