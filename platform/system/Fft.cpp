// The FFT wrapper on KissFFT (float build, pkg-config kissfft-float).
#include "platform/system/Fft.h"

#include <cstring>
#include <vector>

#include <kissfft/kiss_fft.h>

static_assert(sizeof(kiss_fft_cpx) == 2 * sizeof(float), "KissFFT must be built for single precision");

struct Fft::Plan {
    kiss_fft_cfg config = nullptr;
    // NOTE: KissFFT allocates a scratch buffer on every in-place call; a
    // separate output buffer keeps Transform free of allocations.
    std::vector<kiss_fft_cpx> output;
    ~Plan() { kiss_fft_free(config); }
};

Fft::Fft() = default;
Fft::~Fft() = default;

bool Fft::Init(int points)
{
    plan_.reset();
    points_ = 0;
    if (points < 1) return false;
    auto plan = std::make_unique<Plan>();
    plan->config = kiss_fft_alloc(points, 0, nullptr, nullptr);
    if (plan->config == nullptr) return false;
    plan->output.resize(static_cast<std::size_t>(points));
    plan_ = std::move(plan);
    points_ = points;
    return true;
}

void Fft::Transform(float* data)
{
    if (!plan_) return;
    kiss_fft(plan_->config, reinterpret_cast<const kiss_fft_cpx*>(data), plan_->output.data());
    std::memcpy(data, plan_->output.data(), sizeof(kiss_fft_cpx) * static_cast<std::size_t>(points_));
}
