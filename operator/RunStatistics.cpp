#include "operator/RunStatistics.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

#include "operator/Health.h"

Summary RunStatistics::Summarise(std::vector<double> values)
{
    Summary summary;
    if (values.empty()) return summary;
    std::sort(values.begin(), values.end());
    std::size_t n = values.size();
    summary.median = n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
    // Nearest-rank percentile: the smallest value with at least 99% of the samples at or below it.
    std::size_t rank = static_cast<std::size_t>(std::ceil(0.99 * static_cast<double>(n)));
    summary.p99 = values[std::max<std::size_t>(rank, 1) - 1];
    summary.max = values.back();
    return summary;
}

namespace {

// Half a percent: small counts (below a hundred) come out exact.
constexpr double kRelativeError = 0.005;

QuantileSketch Milliseconds() { return QuantileSketch(kRelativeError, 1e-3, 1e7); }
QuantileSketch Counts() { return QuantileSketch(kRelativeError, 0.5, 1e10, true); }

}  // namespace

RunStatistics::RunStatistics()
    : stepTimes_(Milliseconds()), stepCpu_(Milliseconds()), frameIntervals_(Milliseconds()), draws_(Counts()),
      calls_(Counts()), triangles_(Counts()), uploads_(Counts()), binds_(Counts()), stateCalls_(Counts()),
      sparks_(Counts()), pictures_(Counts())
{
}

Summary RunStatistics::Summarise(const QuantileSketch& sketch)
{
    return Summary{sketch.Quantile(0.5), sketch.Quantile(0.99), sketch.Max()};
}

void RunStatistics::AddStep(const StepSample& sample, double wallMilliseconds)
{
    ++steps_;
    stepTimes_.Add(sample.stepMilliseconds);
    sparks_.Add(sample.liveSparks);
    pictures_.Add(sample.picturesInFlight);
    for (std::size_t p = 0; p < phaseSteps_.size(); ++p) phaseSteps_[p] += sample.crystalsInPhase[p];
    if (!sample.presented) return;
    ++frames_;
    draws_.Add(sample.gpuDraws);
    calls_.Add(sample.immediateCalls);
    triangles_.Add(sample.triangles);
    uploads_.Add(sample.uploadBytes);
    binds_.Add(sample.textureBinds);
    stateCalls_.Add(sample.stateCalls);
    if (lastPresentAt_ >= 0) frameIntervals_.Add(wallMilliseconds - lastPresentAt_);
    lastPresentAt_ = wallMilliseconds;
}

namespace {

void AppendSummary(std::string& out, const char* name, const Summary& s)
{
    char text[160];
    std::snprintf(text, sizeof text, "\"%s\": {\"median\": %.3f, \"p99\": %.3f, \"max\": %.3f}", name, s.median, s.p99,
                  s.max);
    out += text;
}

}  // namespace

std::string RunStatistics::ToJson() const
{
    std::string out = "{\n";
    char text[200];
    std::snprintf(text, sizeof text, "  \"steps\": %u,\n  \"frames\": %u,\n  \"frames_written\": %u,\n  ",
                  Steps(), frames_, framesWritten_);
    out += text;
    const std::pair<const char*, const QuantileSketch*> sketches[] = {
        {"step_ms", &stepTimes_}, {"step_cpu_ms", &stepCpu_}, {"frame_interval_ms", &frameIntervals_},
        {"draw_calls_per_frame", &draws_}, {"immediate_calls_per_frame", &calls_},
        {"triangles_per_frame", &triangles_}, {"upload_bytes_per_frame", &uploads_},
        {"texture_binds_per_frame", &binds_}, {"state_calls_per_frame", &stateCalls_},
        {"live_sparks", &sparks_}, {"pictures_in_flight", &pictures_}};
    for (const auto& [name, sketch] : sketches) {
        AppendSummary(out, name, Summarise(*sketch));
        out += ",\n  ";
    }
    out += "\"crystal_steps_by_phase\": {";
    for (std::size_t p = 0; p < phaseSteps_.size(); ++p) {
        std::snprintf(text, sizeof text, "%s\"%s\": %llu", p == 0 ? "" : ", ", Health::kPhaseNames[p],
                      static_cast<unsigned long long>(phaseSteps_[p]));
        out += text;
    }
    out += "}\n}\n";
    return out;
}

std::string RunStatistics::SummaryLine() const
{
    Summary step = Summarise(stepTimes_);
    Summary draw = Summarise(draws_);
    char text[256];
    std::snprintf(text, sizeof text,
                  "%u steps, %u frames; step %.2f ms median, %.2f ms p99, %.2f ms max; %.0f draw calls per frame "
                  "(max %.0f); up to %.0f sparks",
                  Steps(), frames_, step.median, step.p99, step.max, draw.median, draw.max, sparks_.Max());
    return text;
}

bool RunStatistics::WriteJson(const std::string& path, std::string& error) const
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        error = "cannot write \"" + path + "\"";
        return false;
    }
    std::string json = ToJson();
    bool ok = std::fwrite(json.data(), 1, json.size(), file) == json.size();
    ok = std::fclose(file) == 0 && ok;
    if (!ok) error = "short write to \"" + path + "\"";
    return ok;
}
