#include "platform/system/Clock.h"

#include <chrono>

namespace platform {

static unsigned long long SteadyMilliseconds()
{
    using namespace std::chrono;
    return static_cast<unsigned long long>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

SystemClock::SystemClock(DWORD start) : start_(start), origin_(SteadyMilliseconds()) {}

DWORD SystemClock::Milliseconds()
{
    return static_cast<DWORD>(start_ + (SteadyMilliseconds() - origin_));
}

}  // namespace platform
