#include "operator/FrameSnapshot.h"

#include <algorithm>

#include "common/Log.h"
#include "platform/files/PngFile.h"

namespace {

// Nearest-pixel reduction by a whole factor, enough to fit the limits; the
// back buffer is 640x480 today, so this only guards a larger one.
std::vector<std::uint8_t> Reduce(const std::vector<std::uint8_t>& rgb, unsigned& width, unsigned& height)
{
    unsigned factor = std::max((width + FrameSnapshot::kMaxWidth - 1) / FrameSnapshot::kMaxWidth,
                               (height + FrameSnapshot::kMaxHeight - 1) / FrameSnapshot::kMaxHeight);
    unsigned outWidth = std::max(1u, width / factor);
    unsigned outHeight = std::max(1u, height / factor);
    std::vector<std::uint8_t> out(static_cast<std::size_t>(outWidth) * outHeight * 3);
    for (unsigned y = 0; y < outHeight; ++y)
        for (unsigned x = 0; x < outWidth; ++x)
            std::copy_n(&rgb[(static_cast<std::size_t>(y) * factor * width + x * factor) * 3], 3,
                        &out[(static_cast<std::size_t>(y) * outWidth + x) * 3]);
    width = outWidth;
    height = outHeight;
    return out;
}

}  // namespace

void FrameSnapshot::Offer(std::vector<std::uint8_t> rgb, unsigned width, unsigned height, Clock::time_point now)
{
    offered_ = true;
    lastOffer_ = now;
    if (width == 0 || height == 0 || rgb.size() != static_cast<std::size_t>(width) * height * 3) return;
    auto frame = std::make_shared<Frame>();
    frame->rgb = std::move(rgb);
    frame->width = width;
    frame->height = height;
    frame->serial = nextSerial_++;
    std::lock_guard<std::mutex> lock(frameMutex_);
    frame_ = std::move(frame);
}

std::shared_ptr<const std::string> FrameSnapshot::Png(std::uint64_t* serial)
{
    std::lock_guard<std::mutex> encodeLock(encodeMutex_);
    std::shared_ptr<const Frame> frame;
    {
        std::lock_guard<std::mutex> lock(frameMutex_);
        frame = frame_;
    }
    if (frame && frame->serial != pngSerial_) {
        unsigned width = frame->width;
        unsigned height = frame->height;
        std::vector<std::uint8_t> reduced;
        const std::uint8_t* pixels = frame->rgb.data();
        if (width > kMaxWidth || height > kMaxHeight) {
            reduced = Reduce(frame->rgb, width, height);
            pixels = reduced.data();
        }
        std::vector<std::uint8_t> encoded;
        std::string error;
        if (platform::EncodePng(width, height, platform::PixelLayout::Rgb, pixels, encoded, &error)) {
            png_ = std::make_shared<const std::string>(encoded.begin(), encoded.end());
        } else {
            LogWarning("web", "cannot encode the frame: %s", error.c_str());
            png_.reset();
        }
        pngSerial_ = frame->serial;
    }
    if (serial != nullptr) *serial = pngSerial_;
    return png_;
}
