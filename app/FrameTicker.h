// The pacing rule of the scene: a step is due when strictly more than the
// frame interval has passed since the previous step, measured as an unsigned
// 32-bit difference so that the wrap of the millisecond counter does not
// stall the steps. The first reading only sets the origin. There is no
// catch-up: a late call makes one step and the next one counts from it.
#pragma once

#include "platform/system/win32types.h"

class FrameTicker {
public:
    explicit FrameTicker(DWORD interval = 50) : interval_(interval) {}

    bool StepDue(DWORD now)
    {
        if (!started_) {
            started_ = true;
            lastStep_ = now;
            return false;
        }
        if (static_cast<DWORD>(now - lastStep_) > interval_) {
            lastStep_ = now;
            return true;
        }
        return false;
    }

    // Milliseconds until a step is due (0 when due now); the loop sleeps this long.
    DWORD MillisecondsUntilDue(DWORD now) const
    {
        if (!started_) return 0;
        DWORD elapsed = now - lastStep_;
        return elapsed > interval_ ? 0 : interval_ + 1 - elapsed;
    }

    void SetInterval(DWORD interval) { interval_ = interval; }

private:
    DWORD interval_;
    DWORD lastStep_ = 0;
    bool started_ = false;
};
