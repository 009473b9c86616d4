// The last presented frame for the web view. The step loop reads the back
// buffer back at most once a second and hands the pixels over; readers on
// other threads get them as PNG, encoded on their own thread and only once
// per new frame, so a step never waits for an encoder or a slow client.
//
// Threads: Due and Offer are called by the step loop only; Png from any
// thread. Offer holds the lock only to swap a pointer.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class FrameSnapshot {
public:
    using Clock = std::chrono::steady_clock;

    // Pictures larger than this are scaled down (a phone needs no more).
    static constexpr unsigned kMaxWidth = 640;
    static constexpr unsigned kMaxHeight = 480;

    explicit FrameSnapshot(std::chrono::milliseconds interval = std::chrono::seconds(1)) : interval_(interval) {}

    // True when the last hand-over is at least the interval old.
    bool Due(Clock::time_point now) const { return !offered_ || now - lastOffer_ >= interval_; }
    // Takes rows of RGB pixels, top first.
    void Offer(std::vector<std::uint8_t> rgb, unsigned width, unsigned height, Clock::time_point now);

    // The newest frame as PNG and its serial (counting from 1); null before
    // the first frame or when it cannot be encoded.
    std::shared_ptr<const std::string> Png(std::uint64_t* serial = nullptr);

private:
    struct Frame {
        std::vector<std::uint8_t> rgb;
        unsigned width = 0;
        unsigned height = 0;
        std::uint64_t serial = 0;
    };

    // Step loop only.
    const std::chrono::milliseconds interval_;
    bool offered_ = false;
    Clock::time_point lastOffer_;
    std::uint64_t nextSerial_ = 1;

    std::mutex frameMutex_;  // guards frame_
    std::shared_ptr<const Frame> frame_;

    // Serialises encoders, so concurrent requests for a new frame encode it once.
    std::mutex encodeMutex_;
    std::shared_ptr<const std::string> png_;
    std::uint64_t pngSerial_ = 0;
};
