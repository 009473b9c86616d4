// What storing the voice costs the step that triggers it. A recording of
// `blocks` 50 ms blocks (1024 is the longest a crystal grows) is handed to the
// voice store: the step pays for Begin only (a snapshot of shared blocks);
// the write, the flush to disk, the rename and the read-back run on the
// store's thread. The whole store, as one call, is measured beside it.
//   build/bench/bench_voice_store [--benchmark_filter=...]
#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

#include "common/Log.h"
#include "sound/MusicPlayer.h"
#include "sound/MusicSegment.h"
#include "sound/RecordingList.h"
#include "sound/VoiceStore.h"

namespace {

namespace fs = std::filesystem;

struct Scene {
    explicit Scene(int blocks)
    {
        folder = fs::temp_directory_path() / ("bench-voice-store-" + std::to_string(getpid()));
        fs::create_directories(folder);
        std::vector<std::int16_t> block(8000, 3000);
        for (int i = 0; i < blocks; ++i) list.AppendBlock(block.data(), static_cast<std::uint32_t>(i + 1));
        player.Init(nullptr);
        segment = std::make_unique<MusicSegment>();
    }
    ~Scene()
    {
        segment.reset();
        list.FreeAll();
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }
    // One more block, under a serial number not used before.
    void AppendBlock() { list.AppendBlock(nextBlock.data(), ++serial); }

    fs::path folder;
    RecordingList list;
    MusicPlayer player;
    std::unique_ptr<MusicSegment> segment;
    std::vector<std::int16_t> nextBlock = std::vector<std::int16_t>(8000, 100);
    std::uint32_t serial = 1u << 20;
};

// The step's share: Begin with a changed list (one more block each time).
void StepThatTriggersAStore(benchmark::State& state)
{
    Scene scene(static_cast<int>(state.range(0)));
    VoiceStore store({(scene.folder / "memory.wav").string()});
    for (auto _ : state) {
        state.PauseTiming();
        store.Finish(scene.segment, &scene.player);  // the previous store is done
        scene.AppendBlock();
        state.ResumeTiming();
        store.Begin(scene.list, scene.segment);
        state.PauseTiming();
        store.Finish(scene.segment, &scene.player);
        state.ResumeTiming();
    }
}

// The whole store (write, flush, rename, read back, load), on one thread.
void WholeStore(benchmark::State& state)
{
    Scene scene(static_cast<int>(state.range(0)));
    VoiceStore store({(scene.folder / "memory.wav").string()});
    for (auto _ : state) {
        scene.AppendBlock();
        store.Store(scene.list, scene.segment, &scene.player);
    }
}

}  // namespace

BENCHMARK(StepThatTriggersAStore)->Arg(100)->Arg(1024)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(WholeStore)->Arg(100)->Arg(1024)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_MAIN();
