// SIGTERM and SIGINT as a descriptor the peer's loop waits on with its
// sockets, so that a stop asked for by a service manager or Ctrl-C ends the
// loop between two passes and the program exits 0 after its last summary.
#pragma once

#include <vector>

#include "common/NonCopyable.h"

class StopSignals : NonCopyable {
public:
    // Blocks the two signals for the process and opens the descriptor; a
    // failure leaves the default action (the process ends at once).
    StopSignals();
    ~StopSignals();

    void CollectWaitDescriptors(std::vector<int>& fds) const;
    // The signal's name once one has come ("SIGTERM", "SIGINT"), else null.
    const char* Received();

private:
    int fd_ = -1;
    const char* received_ = nullptr;
};
