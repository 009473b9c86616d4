// The worst frame of the installation on the OpenGL device (offscreen):
// sixteen crystals of 514 rings, 40 960 live sparks and 48 pictures in
// flight; one scene step plus the frame's submission (clear, draw, present).
//
// Run three times in one program: with the device's batching, with one GPU
// draw per immediate call, and with every GL state call of a changed drawing
// state re-issued (state_calls shows what skipping unchanged state saves).
// Counters per frame: gpu_draws and immediate_calls (from the device after
// Present), upload_bytes, texture_binds, state_calls (GL state calls for
// draws); process_cpu_ms, the whole process's CPU time per frame (Mesa's llvmpipe
// threads included); step_cpu_ms, calls_cpu_ms and
// submit_cpu_ms, the calling thread's CPU time in the scene step, in the
// drawing calls, and in EndScene + Present (where the batched device hands
// its batches over and Mesa's llvmpipe shades vertices on this thread).
// The last line gives the CPU-time ratio of the two variants.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "crystal/CrystalCluster.h"
#include "crystal/World.h"
#include "platform/gl/GlDevice.h"
#include "platform/system/OffscreenWindow.h"
#include "render/RenderDevice.h"
#include "scenery/IncomingImages.h"
#include "scenery/LightSet.h"
#include "sound/RecordingList.h"
#include "sound/SpectrumAnalyser.h"

namespace {

double ProcessCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

double ThreadCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

// The calling thread's CPU time in the three parts of a frame.
struct FrameCpu {
    double step = 0.0;    // the scene step
    double calls = 0.0;   // the drawing calls between BeginScene and EndScene
    double submit = 0.0;  // EndScene and Present
    double process = 0.0; // every thread of the process, the whole frame
};

IDirect3D9* UnbatchedDirect3DCreate9(UINT sdkVersion)
{
    GlDeviceOptions options;
    options.batching = false;
    return GlDirect3DCreate9WithOptions(sdkVersion, options);
}

IDirect3D9* EveryStateCallDirect3DCreate9(UINT sdkVersion)
{
    GlDeviceOptions options;
    options.skipUnchangedState = false;
    return GlDirect3DCreate9WithOptions(sdkVersion, options);
}

// Everything one frame touches, built once per device variant.
class WorstFrame {
public:
    bool Build(OffscreenWindow& window, Direct3DCreate9Function factory, std::string& error)
    {
        renderer_.SetDirect3DFactory(factory);
        if (!renderer_.CreateDevice(window.Handle(), 640, 480, true)) return Fail(error, "no graphics device");
        device_ = renderer_.Device();

        world_.lights = std::make_unique<LightSet>();
        if (!world_.lights->Create(device_, "data")) return Fail(error, "no light textures");
        world_.analyser = std::make_unique<SpectrumAnalyser>();
        world_.analyser->Init(4096);
        world_.recordingList = std::make_unique<RecordingList>();
        world_.crystals = std::make_unique<CrystalCluster>();
        if (!world_.crystals->Create(&world_, device_)) return Fail(error, "no crystals");

        // Sixteen crystals of 514 rings, bending every way, standing still.
        for (auto& crystal : world_.crystals->crystals) {
            for (int ring = 1; ring < 514; ++ring)
                crystal->body->GrowStep(ring % 3 == 0 ? 0.5f : 0.8f, 10.0f, static_cast<float>((ring * 45) % 360), 1.2f,
                                        1, 9000);
            crystal->phase = Showing;
        }
        // Every spark slot busy for longer than the run.
        for (int i = 0; i < LightSet::Capacity; ++i) {
            const float x = static_cast<float>(i % 640), y = static_cast<float>((i / 640) % 480);
            world_.lights->Emit(SparkRecord{x, y, 4.0f, 1000000, 1000000, 0.001f, 0.001f});
        }
        // 48 pictures in flight.
        HDC context = nullptr;
        if (renderer_.BackBuffer() != nullptr) renderer_.BackBuffer()->GetDC(&context);
        if (!images_.Create(context, &renderer_, 640, 480)) return Fail(error, "no picture pool");
        if (renderer_.BackBuffer() != nullptr) renderer_.BackBuffer()->ReleaseDC(context);
        std::vector<std::uint8_t> picture(128 * 128 * 3);
        for (std::size_t i = 0; i < picture.size(); ++i) picture[i] = static_cast<std::uint8_t>(i * 7);
        for (int request = 0; request < IncomingImages::kCount * IncomingImages::kLaunchEvery; ++request)
            images_.Launch(device_, picture.data());
        return true;
    }

    // One scene step and one frame, as the main scene does them.
    void Run(FrameCpu& cpu)
    {
        // The crystals keep showing: the worst frame stays the worst frame.
        for (auto& crystal : world_.crystals->crystals) crystal->quietFrames = 0;
        const Matrix4 identity = MatrixIdentity();
        const double processStart = ProcessCpuMs();
        const double start = ThreadCpuMs();
        world_.lights->UpdateParticles(device_, identity);
        world_.crystals->Update(device_, rotation_);
        images_.Step();
        const double stepped = ThreadCpuMs();

        device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000u, 1.0f, 0);
        double called = stepped;
        if (SUCCEEDED(device_->BeginScene())) {
            device_->SetRenderState(D3DRS_FOGENABLE, TRUE);
            images_.Draw(device_);
            world_.crystals->Draw(device_, rotation_);
            world_.lights->DrawParticles(device_, identity);
            called = ThreadCpuMs();
            device_->EndScene();
        }
        device_->Present(nullptr, nullptr, nullptr, nullptr);
        const double presented = ThreadCpuMs();
        cpu.step += stepped - start;
        cpu.calls += called - stepped;
        cpu.submit += presented - called;
        cpu.process += ProcessCpuMs() - processStart;
    }

    DeviceFrameStats Stats() const { return device_->LastFrameStats(); }
    int PicturesInFlight() const { return images_.InFlight(); }
    int LiveSparks() const { return world_.lights->LiveCount(); }

    ~WorstFrame()
    {
        world_.Shutdown();
        renderer_.ReleaseAll();
    }

private:
    static bool Fail(std::string& error, const char* what)
    {
        error = what;
        return false;
    }

    RenderDevice renderer_;
    IDirect3DDevice9* device_ = nullptr;
    World world_;
    IncomingImages images_;
    Matrix4 rotation_ = MatrixIdentity();
};

OffscreenWindow& Window()
{
    static OffscreenWindow window;
    return window;
}

void RunWorstFrame(benchmark::State& state, Direct3DCreate9Function factory)
{
    std::string error;
    if (!Window().IsOpen() && !Window().Open(640, 480, &error)) {
        state.SkipWithError(("no OpenGL window: " + error).c_str());
        return;
    }
    WorstFrame frame;
    if (!frame.Build(Window(), factory, error)) {
        state.SkipWithError(("cannot build the scene: " + error).c_str());
        return;
    }
    FrameCpu cpu;
    frame.Run(cpu);  // warm: textures uploaded, buffers sized
    cpu = FrameCpu{};
    for (auto _ : state) frame.Run(cpu);
    const DeviceFrameStats stats = frame.Stats();
    const double frames = static_cast<double>(state.iterations());
    state.counters["step_cpu_ms"] = cpu.step / frames;
    state.counters["calls_cpu_ms"] = cpu.calls / frames;
    state.counters["submit_cpu_ms"] = cpu.submit / frames;
    state.counters["process_cpu_ms"] = cpu.process / frames;
    state.counters["upload_bytes"] = stats.uploadBytes;
    state.counters["texture_binds"] = stats.textureBinds;
    state.counters["state_calls"] = stats.stateCalls;
    state.counters["gpu_draws"] = stats.gpuDraws;
    state.counters["immediate_calls"] = stats.immediateCalls;
    state.counters["triangles"] = stats.triangles;
    state.counters["live_sparks"] = frame.LiveSparks();
    state.counters["pictures"] = frame.PicturesInFlight();
}

void BM_WorstFrameBatched(benchmark::State& state) { RunWorstFrame(state, GlDirect3DCreate9); }
void BM_WorstFrameOneDrawPerCall(benchmark::State& state) { RunWorstFrame(state, UnbatchedDirect3DCreate9); }
void BM_WorstFrameEveryStateCall(benchmark::State& state) { RunWorstFrame(state, EveryStateCallDirect3DCreate9); }

BENCHMARK(BM_WorstFrameBatched)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_WorstFrameOneDrawPerCall)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_WorstFrameEveryStateCall)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// Prints the CPU-time ratio of the two variants after the usual report.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred || run.iterations == 0) continue;
            const double cpu = run.GetAdjustedCPUTime();
            if (run.benchmark_name().find("Batched") != std::string::npos) batched_ = cpu;
            if (run.benchmark_name().find("OneDrawPerCall") != std::string::npos) unbatched_ = cpu;
        }
    }
    void Finalize() override
    {
        ConsoleReporter::Finalize();
        if (batched_ > 0.0 && unbatched_ > 0.0)
            std::printf("CPU time per frame: batched %.2f ms, one draw per call %.2f ms, ratio %.1f\n", batched_,
                        unbatched_, unbatched_ / batched_);
    }

private:
    double batched_ = 0.0;
    double unbatched_ = 0.0;
};

}  // namespace

int main(int argc, char** argv)
{
    // The data files are found relative to the source tree. (__FILE__ would
    // not do: a compiler cache may make it relative to the build folder.)
    std::error_code ignored;
    std::filesystem::current_path(SOLVANE_SOURCE_DIR, ignored);
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
