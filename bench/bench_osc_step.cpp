// What OSC costs the step thread: the work a step does for the reporter (the
// level of one 8000-sample block, the comparison of the crystals' phases,
// putting the messages on the sender's queue), with a real sender thread
// sending them over loopback, against the same step without OSC (nothing:
// Application skips the reporter entirely when nothing is sent).
//
//   typical: one level message and nothing changed (almost every step)
//   busiest: all sixteen crystals change phase, a voice, a flash, a picture
//
// Counters: sent and dropped messages per step (a step loop runs one step
// per 50 ms; here steps come back to back, so the queue may overflow).
// Compare the times with a scene step's median in --stats (milliseconds).
#include <benchmark/benchmark.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "operator/OscReporter.h"
#include "operator/OscSender.h"
#include "platform/sockets/OscTransport.h"

namespace {

std::vector<std::int16_t> Block()
{
    std::vector<std::int16_t> block(8000);
    for (std::size_t k = 0; k < block.size(); ++k)
        block[k] = static_cast<std::int16_t>(std::lround(9000.0 * std::sin(0.05 * static_cast<double>(k))));
    return block;
}

void OscStep(benchmark::State& state, bool busiest)
{
    platform::OscReceiveSocket receiver;  // holds the port; nobody reads, as with a desk that is off
    std::string error;
    if (!receiver.Open("127.0.0.1", 0, error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    OscSender sender;
    sender.Start("127.0.0.1", std::to_string(receiver.Port()));
    OscReporter reporter(sender);
    const std::vector<std::int16_t> block = Block();
    std::array<std::int32_t, 16> phases{};
    OscStepView view;
    view.phases = phases.data();
    view.crystals = phases.size();
    for (auto _ : state) {
        view.steps += 1;
        view.clockMs += 51;
        if (busiest) {
            phases.fill(view.steps % 2 == 0 ? 1 : 2);  // recording, then revealing: a voice too
            view.flashAlphaBefore = 0;
            view.flashAlphaAfter = 247;
            view.flightsStarted += 1;
            view.recordedBlocks = 40;
        }
        reporter.OnBlock(block.data(), block.size());
        reporter.AfterStep(view);
    }
    const double steps = static_cast<double>(state.iterations());
    state.counters["sent_per_step"] = static_cast<double>(sender.Sent()) / steps;
    state.counters["dropped_per_step"] = static_cast<double>(sender.Dropped()) / steps;
}

void BM_OscStepTypical(benchmark::State& state) { OscStep(state, false); }
void BM_OscStepBusiest(benchmark::State& state) { OscStep(state, true); }

// The same block's level without anything sent: what the step pays for the
// figures alone.
void BM_BlockLevelOnly(benchmark::State& state)
{
    struct NullSink : OscSink {
        void Post(const platform::OscOutgoing*, std::size_t) override {}
    } sink;
    OscReporter reporter(sink);
    const std::vector<std::int16_t> block = Block();
    for (auto _ : state) reporter.OnBlock(block.data(), block.size());
}

}  // namespace

BENCHMARK(BM_OscStepTypical)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_OscStepBusiest)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BlockLevelOnly)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
