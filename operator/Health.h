// The installation's health at the end of the latest step: one plain value
// that the step loop fills once per step and every reporter reads a copy of
// (the log, the status file, the service manager's STATUS line, the
// diagnostics panel, the OSC heartbeat, the web view). None of them reaches
// into the scene.
//
// Threads: written by the step loop only. Reporters on other threads read it
// through HealthBoard (a copy taken under a mutex), never this struct directly.
// The field names are the ones used in the status JSON, on the web page, over
// OSC and on the panel.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <string>

#include <nlohmann/json_fwd.hpp>

#include "common/Level.h"

struct Health {
    // Phase names in life-cycle order, as they appear in every report.
    static constexpr std::array<const char*, 6> kPhaseNames{
        "listening", "recording", "revealing", "showing", "dissolving", "resting"};

    std::string state = "running";   // "stopped" in the last snapshot of a clean stop
    std::string stop_reason;         // why it stopped; empty while running
    std::string stopped_at;          // local time, ISO 8601; empty while running
    std::string started_at;          // local time, ISO 8601
    double uptime_s = 0;
    std::uint64_t steps = 0;
    double steps_per_second = 0;     // over the last 10 s
    double step_ms_p99 = 0;          // over the last minute
    double input_peak_dbfs = -120;   // latest block
    double input_rms_dbfs = -120;
    int threshold = level::kDefaultThreshold;  // block peak (16-bit sample units) above which a block is loud
    double gain_db = 0;
    std::array<std::uint32_t, 6> crystals{};  // count per phase, see kPhaseNames
    std::uint32_t sparks = 0;
    std::uint32_t pictures_in_flight = 0;
    std::uint64_t pictures_received = 0;
    struct Peer {
        std::string state = "none";  // none, connecting, connected, lost
        std::string address;         // host:port, empty without a peer
        double last_contact = -1;    // seconds since the last packet, -1: never
    } peer;
    struct Microphone {
        std::string state = "none";  // recording, lost, none, file
        std::string device;
    } microphone;
    struct Voice {
        std::string path;            // empty: none stored yet
        std::uint32_t blocks = 0;
        std::string time;            // local time, ISO 8601
    } last_voice;
    struct Osc {
        bool listening = false;
        std::uint64_t heard = 0;            // commands taken
        std::uint64_t ignored = 0;          // messages refused (unknown, malformed, strangers, ...)
        std::uint64_t flashes_skipped = 0;  // flashes asked for faster than a show needs
    } osc;
    std::uint64_t warnings = 0;
    std::uint64_t errors = 0;
    bool panel_visible = false;
    struct Video {
        std::string state = "off";   // off, recording, stopped
        std::string file;            // the file being written, or the last one
        std::uint64_t frames = 0;    // pictures in the files so far
        std::uint64_t dropped = 0;   // pictures dropped while the encoder was behind
    } video;
};

// The latest snapshot, shared between the step loop and reporter threads.
class HealthBoard {
public:
    void Publish(const Health& health)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        latest_ = health;
    }
    Health Latest() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return latest_;
    }

private:
    mutable std::mutex mutex_;
    Health latest_;
};

// The snapshot as JSON, with the field names every report uses (the status
// file, the web view). The one place that spells them.
nlohmann::json ToJson(const Health& health);

// 12345 -> "12 345", as every report writes large counts.
std::string Grouped(std::uint64_t value);
