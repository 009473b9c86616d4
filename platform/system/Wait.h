// Idle waiting for the message loop: sleeps until one of the descriptors is
// readable or writable, or the timeout passes.
#pragma once

#include <vector>

namespace platform {

void WaitForDescriptors(const std::vector<int>& fds, int timeoutMs);

}  // namespace platform
