// A descriptor that an event source raises while it has work waiting, so
// that the loop's idle wait (which sleeps on descriptors) returns at once
// instead of sleeping until the next scene step.
#pragma once

#include "common/NonCopyable.h"

namespace platform {

class WakeSignal : NonCopyable {
public:
    WakeSignal();
    ~WakeSignal();

    // Readable while raised.
    void Raise(bool raised);
    // -1 when the system could not make one (the loop then just sleeps).
    int Descriptor() const { return fd_; }

private:
    int fd_ = -1;
    bool raised_ = false;
};

}  // namespace platform
