#include "sound/Soundtrack.h"

#include <algorithm>

namespace {

// Live: what a step keeps in hand, what it may take beyond or short of a
// block (5 %: a change of pitch no visitor hears), how quickly the backlog
// is brought back (a sixteenth of the error per step), and the backlog past
// which the oldest sound is let go (after a stalled loop).
constexpr std::size_t kTarget = 16000;
constexpr long kMaxCorrection = 400;
constexpr long kCorrectionShare = 16;
constexpr std::size_t kMostHeld = 160000;
// The echo queue holds at most a minute.
constexpr std::size_t kMostEcho = 60 * 160000;

}  // namespace

void Soundtrack::Compact(std::vector<std::int16_t>& samples, std::size_t& start)
{
    if (start == 0 || start < samples.size() / 2) return;
    samples.erase(samples.begin(), samples.begin() + static_cast<std::ptrdiff_t>(start));
    start = 0;
}

void Soundtrack::AddHeard(const std::int16_t* samples, std::size_t count)
{
    Compact(heard_, heardStart_);
    heard_.insert(heard_.end(), samples, samples + count);
    const std::size_t limit = conform_ ? kMostHeld : 20 * kMostHeld;
    if (HeardBacklog() > limit) heardStart_ = heard_.size() - (conform_ ? kTarget : limit);
}

void Soundtrack::AddEcho(const std::int16_t* samples, std::size_t count)
{
    Compact(echo_, echoStart_);
    const std::size_t room = kMostEcho - std::min(kMostEcho, echo_.size() - echoStart_);
    echo_.insert(echo_.end(), samples, samples + std::min(count, room));
}

void Soundtrack::TakeStep(std::vector<std::int16_t>& out)
{
    out.assign(kStepSamples, 0);
    std::size_t take = kStepSamples;
    if (conform_) {
        const long error = static_cast<long>(HeardBacklog()) - static_cast<long>(kTarget);
        take = static_cast<std::size_t>(static_cast<long>(kStepSamples) +
                                        std::clamp(error / kCorrectionShare, -kMaxCorrection, kMaxCorrection));
    }
    const std::size_t have = std::min(take, HeardBacklog());
    const std::int16_t* in = heard_.data() + heardStart_;
    if (take == kStepSamples) {
        std::copy(in, in + have, out.begin());
    } else {
        // Linear interpolation: at 160 000 Hz the voice's band is far below
        // the rate, so this is as clean as any filter would be.
        for (std::size_t i = 0; i < kStepSamples; ++i) {
            const double at = static_cast<double>(i) * static_cast<double>(take) / kStepSamples;
            const std::size_t k = static_cast<std::size_t>(at);
            if (k >= have) break;
            const double next = k + 1 < have ? in[k + 1] : in[k];
            out[i] = static_cast<std::int16_t>(in[k] + (next - in[k]) * (at - static_cast<double>(k)));
        }
    }
    heardStart_ += have;

    const std::size_t echoed = std::min(kStepSamples, echo_.size() - echoStart_);
    for (std::size_t i = 0; i < echoed; ++i) {
        const int sum = out[i] + echo_[echoStart_ + i];
        out[i] = static_cast<std::int16_t>(std::clamp(sum, -32768, 32767));
    }
    echoStart_ += echoed;
}
