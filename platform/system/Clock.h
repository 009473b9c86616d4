// The millisecond clock that paces the scene. Like timeGetTime it is an
// unsigned 32-bit counter that wraps after about 49.7 days, so everything
// that compares readings uses unsigned differences.
#pragma once

#include "platform/system/win32types.h"

namespace platform {

class Clock {
public:
    virtual ~Clock() = default;
    virtual DWORD Milliseconds() = 0;
};

// Wall-clock time since the clock was made, plus an offset (tests start it
// just before the wrap).
class SystemClock : public Clock {
public:
    explicit SystemClock(DWORD start = 0);
    DWORD Milliseconds() override;

private:
    DWORD start_;
    unsigned long long origin_;
};

// Time that moves only when told: --fast runs and tests.
class ManualClock : public Clock {
public:
    explicit ManualClock(DWORD start = 0) : now_(start) {}
    DWORD Milliseconds() override { return now_; }
    void Advance(DWORD ms) { now_ += ms; }  // wraps like the real counter
    void Set(DWORD ms) { now_ = ms; }

private:
    DWORD now_;
};

// Sleeps the calling thread.

}  // namespace platform
