// How the OpenGL device copes with a frame of immediate draws: 100 000
// two-triangle DrawPrimitiveUP fans under one state (about what sixteen
// full crystals send each frame), batched as the device does it, against
// the same calls each issued as its own GPU draw. Both run in the same
// program on the same offscreen window; each iteration ends with Present.
//
// Counters per iteration: gpu_draws (batched: must stay at or below 16);
// calls_cpu_ms, the calling thread's CPU time inside the 100 000 calls;
// submit_cpu_ms, its CPU time in EndScene and Present (where the batched
// device hands its batches over; Mesa's llvmpipe also transforms vertices
// on this thread there). Time and CPU are per frame of 100 000 calls.
#include <benchmark/benchmark.h>

#include <ctime>
#include <string>

#include "platform/gl/GlDevice.h"
#include "platform/system/OffscreenWindow.h"

namespace {

constexpr int kCalls = 100000;

struct Vertex {
    float x, y, z, rhw;
    DWORD colour;
    float u, v;
};

double ThreadCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

OffscreenWindow& Window()
{
    static OffscreenWindow window;
    return window;
}

IDirect3DDevice9* MakeDevice(bool batching, std::string& error)
{
    if (!Window().IsOpen() && !Window().Open(640, 480, &error)) return nullptr;
    IDirect3D9* d3d = GlDirect3DCreate9WithOptions(D3D_SDK_VERSION, GlDeviceOptions{batching});
    D3DPRESENT_PARAMETERS pp{};
    pp.BackBufferWidth = 640;
    pp.BackBufferHeight = 480;
    pp.BackBufferFormat = D3DFMT_X8R8G8B8;
    pp.SwapEffect = D3DSWAPEFFECT_COPY;
    pp.hDeviceWindow = Window().Handle();
    pp.EnableAutoDepthStencil = TRUE;
    pp.AutoDepthStencilFormat = D3DFMT_D16;
    IDirect3DDevice9* device = nullptr;
    if (FAILED(d3d->CreateDevice(0, D3DDEVTYPE_HAL, Window().Handle(), D3DCREATE_HARDWARE_VERTEXPROCESSING, &pp,
                                 &device)))
        error = "the OpenGL device could not be created";
    d3d->Release();
    return device;
}

void RunFrames(benchmark::State& state, bool batching)
{
    std::string error;
    IDirect3DDevice9* device = MakeDevice(batching, error);
    if (device == nullptr) {
        state.SkipWithError(error.c_str());
        return;
    }
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    device->SetFVF(D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1);
    Vertex quad[4] = {{0, 0, 0.5f, 1, 0xFFFFFFFF, 0, 0},
                      {2, 0, 0.5f, 1, 0xFFFFFFFF, 1, 0},
                      {2, 2, 0.5f, 1, 0xFFFFFFFF, 1, 1},
                      {0, 2, 0.5f, 1, 0xFFFFFFFF, 0, 1}};
    std::uint32_t draws = 0;
    double callsMs = 0.0, submitMs = 0.0;
    for (auto _ : state) {
        device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
        device->BeginScene();
        const double start = ThreadCpuMs();
        for (int i = 0; i < kCalls; ++i) {
            // Small squares spread over the screen, as crystal faces are.
            const float x = static_cast<float>((i * 7) % 636), y = static_cast<float>((i * 13) % 476);
            quad[0].x = quad[3].x = x;
            quad[1].x = quad[2].x = x + 3;
            quad[0].y = quad[1].y = y;
            quad[2].y = quad[3].y = y + 3;
            device->DrawPrimitiveUP(D3DPT_TRIANGLEFAN, 2, quad, sizeof(Vertex));
        }
        const double called = ThreadCpuMs();
        device->EndScene();
        device->Present(nullptr, nullptr, nullptr, nullptr);
        submitMs += ThreadCpuMs() - called;
        callsMs += called - start;
        draws = device->LastFrameStats().gpuDraws;
    }
    const double frames = static_cast<double>(state.iterations());
    state.counters["calls_cpu_ms"] = callsMs / frames;
    state.counters["submit_cpu_ms"] = submitMs / frames;
    state.counters["gpu_draws"] = draws;
    state.counters["calls"] = kCalls;
    if (batching && draws > 16) state.SkipWithError("more than 16 GPU draws for one state");
    device->Release();
}

void BM_BatchedFans(benchmark::State& state) { RunFrames(state, true); }
void BM_OneGpuDrawPerCall(benchmark::State& state) { RunFrames(state, false); }

}  // namespace

BENCHMARK(BM_BatchedFans)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
BENCHMARK(BM_OneGpuDrawPerCall)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

BENCHMARK_MAIN();
