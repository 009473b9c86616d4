#include "operator/ServiceNotifier.h"

#include <cmath>
#include <cstdio>

#include "platform/system/ServiceManager.h"

ServiceNotifier::ServiceNotifier(Send send, std::uint64_t watchdogMicroseconds) : send_(std::move(send))
{
    // A quarter of the interval: a slow step or two still leaves a margin.
    if (watchdogMicroseconds > 0)
        watchdogEvery_ = std::chrono::duration_cast<Clock::duration>(
            std::chrono::microseconds(watchdogMicroseconds) / 4);
}

ServiceNotifier ServiceNotifier::ForThisProcess()
{
    return ServiceNotifier([](const std::string& line) { platform::NotifyServiceManager(line); },
                           platform::ServiceWatchdogMicroseconds());
}

void ServiceNotifier::FramePresented(const Health& health)
{
    if (ready_) return;
    ready_ = true;
    Clock::time_point now = Clock::now();
    lastStatus_ = now;
    send_("READY=1\nSTATUS=" + StatusLine(health, 0));
}

void ServiceNotifier::Stepped(const Health& health, Clock::time_point now)
{
    if (watchdogEvery_ > Clock::duration::zero() && now - lastWatchdog_ >= watchdogEvery_) {
        lastWatchdog_ = now;
        send_("WATCHDOG=1");
    }
    if (ready_ && now - lastStatus_ >= kStatusEvery) {
        lastStatus_ = now;
        send_("STATUS=" + StatusLine(health, PicturesPerMinute(health, now)));
    }
}

void ServiceNotifier::Stopping(const std::string& why) { send_("STOPPING=1\nSTATUS=stopping: " + why); }

double ServiceNotifier::PicturesPerMinute(const Health& health, Clock::time_point now)
{
    samples_[nextSample_] = Sample{now, health.pictures_received};
    nextSample_ = (nextSample_ + 1) % std::size(samples_);
    if (sampleCount_ < std::size(samples_)) ++sampleCount_;
    // The oldest sample kept: about a minute ago once the ring is full.
    const Sample& oldest = samples_[sampleCount_ < std::size(samples_) ? 0 : nextSample_];
    double minutes = std::chrono::duration<double>(now - oldest.at).count() / 60.0;
    if (minutes <= 0) return 0;
    return static_cast<double>(health.pictures_received - oldest.pictures) / minutes;
}

std::string ServiceNotifier::StatusLine(const Health& health, double picturesPerMinute)
{
    // "16 crystals listening" or "10 crystals listening, 6 recording"
    std::string crystals;
    for (std::size_t p = 0; p < Health::kPhaseNames.size(); ++p) {
        std::uint32_t count = health.crystals[p];
        if (count == 0) continue;
        crystals += ", " + std::to_string(count);
        if (crystals.find("crystal") == std::string::npos) crystals += count == 1 ? " crystal" : " crystals";
        crystals += std::string(" ") + Health::kPhaseNames[p];
    }
    char input[48];
    double level = std::round(health.input_peak_dbfs);
    // The typographic minus, as the operator reads it in `systemctl status`.
    std::snprintf(input, sizeof input, "input %s%.0f dBFS", level < 0 ? "\xE2\x88\x92" : "", std::fabs(level));
    char text[256];
    std::snprintf(text, sizeof text, "step %s, %.1f steps/s, %s%s, peer %s, %.0f pictures/min",
                  Grouped(health.steps).c_str(), health.steps_per_second, input, crystals.c_str(),
                  health.peer.state.c_str(), picturesPerMinute);
    return text;
}
