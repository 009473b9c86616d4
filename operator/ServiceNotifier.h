// What the service manager (systemd, Type=notify) hears from the step loop:
// READY=1 once the first frame is on the screen, WATCHDOG=1 at least every
// quarter of the watchdog interval while the loop steps (so a hung loop is
// killed and restarted), a STATUS= line every few seconds from the health
// snapshot, and STOPPING=1 at the end. Without a service manager it does nothing.
// Threads: the step loop only.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "operator/Health.h"

class ServiceNotifier {
public:
    using Clock = std::chrono::steady_clock;
    using Send = std::function<void(const std::string&)>;

    // `watchdogMicroseconds` 0: no watchdog.
    ServiceNotifier(Send send, std::uint64_t watchdogMicroseconds);
    // The service manager of this process (NOTIFY_SOCKET, WATCHDOG_USEC).
    static ServiceNotifier ForThisProcess();

    void FramePresented(const Health& health);
    void Stepped(const Health& health, Clock::time_point now);
    void Stopping(const std::string& why);

    // "step 12 345, 20.0 steps/s, input −31 dBFS, 16 crystals listening, peer connected, 14 pictures/min"
    static std::string StatusLine(const Health& health, double picturesPerMinute);

private:
    double PicturesPerMinute(const Health& health, Clock::time_point now);

    static constexpr auto kStatusEvery = std::chrono::seconds(5);

    Send send_;
    Clock::duration watchdogEvery_{};
    bool ready_ = false;
    Clock::time_point lastWatchdog_{};
    Clock::time_point lastStatus_{};
    // pictures_received a minute ago, sampled at each status line
    struct Sample {
        Clock::time_point at;
        std::uint64_t pictures = 0;
    };
    Sample samples_[13]{};
    std::size_t nextSample_ = 0;
    std::size_t sampleCount_ = 0;
};
