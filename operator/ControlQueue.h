// Requests that steer the running installation, from every source (keys,
// OSC, the web view, the calibration meter): one small set of commands,
// placed on one queue and applied by the step loop between steps, so the
// scene is touched by one thread only.
//
// Threads: Post may be called from any thread; Drain only from the step loop.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

struct ControlRequest {
    enum class Kind : std::uint8_t {
        SetThreshold,  // value: dBFS of full scale (the same limits as the settings file)
        SetGain,       // value: dB
        TogglePanel,   // value unused
        ShowPanel,     // value: 0 hides, 1 shows
        Turn,          // value: -1 ... 1, the arrow keys' turn (0 ends it)
        Flash,         // value unused
        Close,         // the closing sequence, as Escape
    };
    Kind kind = Kind::Close;
    double value = 0;
    // Who asked, as the log names them: "by OSC from 10.0.0.5:53000", "by
    // the web view from 10.0.0.7"; empty for the operator's keys.
    std::string source = {};
};

class ControlQueue {
public:
    // Bounded, so a flood from a sender cannot grow memory: past the limit
    // new requests are dropped and Post returns false.
    static constexpr std::size_t kLimit = 256;

    bool Post(const ControlRequest& request)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (pending_.size() >= kLimit) return false;
        pending_.push_back(request);
        return true;
    }

    // Everything posted since the last call, oldest first.
    std::vector<ControlRequest> Drain()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<ControlRequest> taken;
        taken.swap(pending_);
        return taken;
    }

private:
    std::mutex mutex_;
    std::vector<ControlRequest> pending_;
};
