#include "operator/OscReporter.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "common/Level.h"
#include "operator/Health.h"

namespace {

constexpr std::uint32_t kHeartbeatMs = 1000;
// Phases as numbered in Health::kPhaseNames (the scene's life-cycle order).
constexpr std::int32_t kRecording = 1;
constexpr std::int32_t kRevealing = 2;
// A step sends at most this many messages: every crystal changing phase,
// a voice, a flash, the pictures of one step and the heartbeat.
constexpr std::size_t kMaxPerStep = OscReporter::kMaxCrystals + 4 + 48;

std::int32_t ClampToInt32(std::uint64_t value)
{
    return static_cast<std::int32_t>(std::min<std::uint64_t>(value, std::numeric_limits<std::int32_t>::max()));
}

platform::OscOutgoing Message(const char* path, const char* types)
{
    platform::OscOutgoing message;
    message.path = path;
    for (std::size_t k = 0; k + 1 < sizeof message.types && types[k] != '\0'; ++k) message.types[k] = types[k];
    return message;
}

}  // namespace

void OscReporter::OnBlock(const std::int16_t* samples, std::size_t count)
{
    if (samples == nullptr || count == 0) return;
    // NOTE: whole numbers, so that the loop vectorises: a block's squares
    // (at most 2^30 each) sum far below 2^63.
    int peak = 0;
    std::int64_t squares = 0;
    for (std::size_t k = 0; k < count; ++k) {
        const int sample = samples[k];
        peak = std::max(peak, std::abs(sample));
        squares += static_cast<std::int64_t>(sample) * sample;
    }
    const double rms = std::sqrt(static_cast<double>(squares) / static_cast<double>(count));
    platform::OscOutgoing message = Message("/solvane/level", "ff");
    message.f[0] = static_cast<float>(level::SampleToDbfs(peak));
    message.f[1] = static_cast<float>(level::SampleToDbfs(rms));
    sink_.Post(&message, 1);
}

void OscReporter::AfterStep(const OscStepView& view)
{
    std::array<platform::OscOutgoing, kMaxPerStep> out;
    std::size_t used = 0;
    const std::size_t crystals = view.phases != nullptr ? std::min(view.crystals, kMaxCrystals) : 0;

    if (!seenStep_) {
        // The first step is the reference: nothing has changed yet.
        seenStep_ = true;
        for (std::size_t k = 0; k < crystals; ++k) phases_[k] = view.phases[k];
        flightsStarted_ = view.flightsStarted;
        beatClockMs_ = view.clockMs;
        beatSteps_ = view.steps;
        return;
    }

    bool voiceStored = false;
    for (std::size_t k = 0; k < crystals; ++k) {
        const std::int32_t before = phases_[k];
        const std::int32_t now = view.phases[k];
        phases_[k] = now;
        if (now == before || now < 0 || now >= static_cast<std::int32_t>(Health::kPhaseNames.size())) continue;
        platform::OscOutgoing change = Message("/solvane/crystal", "is");
        change.i = static_cast<std::int32_t>(k);
        change.s = Health::kPhaseNames[static_cast<std::size_t>(now)];
        out[used++] = change;
        // A recording ends in the step that stores the voice, for every
        // crystal that took part at once: one voice.
        if (before == kRecording && now == kRevealing) voiceStored = true;
    }
    if (voiceStored) {
        platform::OscOutgoing voice = Message("/solvane/voice", "if");
        voice.i = static_cast<std::int32_t>(view.recordedBlocks);
        voice.f[0] = static_cast<float>(view.recordedBlocks * kBlockSeconds);
        out[used++] = voice;
    }
    // A request lights the flash fully, and only a request makes it rise.
    if (view.flashAlphaAfter > view.flashAlphaBefore) out[used++] = Message("/solvane/flash", "");
    const std::uint64_t flights = view.flightsStarted >= flightsStarted_ ? view.flightsStarted - flightsStarted_ : 0;
    flightsStarted_ = view.flightsStarted;
    for (std::uint64_t k = 0; k < flights && used < out.size() - 1; ++k) out[used++] = Message("/solvane/picture", "");

    const std::uint32_t elapsed = view.clockMs - beatClockMs_;  // unsigned: survives the clock's wrap
    if (elapsed >= kHeartbeatMs) {
        platform::OscOutgoing beat = Message("/solvane/heartbeat", "if");
        beat.i = ClampToInt32(view.steps);
        beat.f[0] = static_cast<float>(static_cast<double>(view.steps - beatSteps_) * 1000.0 / elapsed);
        out[used++] = beat;
        beatClockMs_ = view.clockMs;
        beatSteps_ = view.steps;
    }
    sink_.Post(out.data(), used);
}
