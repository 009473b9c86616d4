#include "app/RunStatistics.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

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

void RunStatistics::AddStep(const StepSample& sample, double wallMilliseconds)
{
    steps_.push_back(sample);
    if (!sample.presented) return;
    ++frames_;
    if (lastPresentAt_ >= 0) frameIntervals_.push_back(wallMilliseconds - lastPresentAt_);
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
    std::vector<double> stepTimes, draws, calls, triangles, uploads, binds, sparks, pictures;
    std::array<std::uint64_t, 6> phaseSteps{};
    std::uint32_t maxSparks = 0, maxPictures = 0;
    for (const StepSample& s : steps_) {
        stepTimes.push_back(s.stepMilliseconds);
        if (s.presented) {
            draws.push_back(s.gpuDraws);
            calls.push_back(s.immediateCalls);
            triangles.push_back(s.triangles);
            uploads.push_back(s.uploadBytes);
            binds.push_back(s.textureBinds);
        }
        sparks.push_back(s.liveSparks);
        pictures.push_back(s.picturesInFlight);
        maxSparks = std::max(maxSparks, s.liveSparks);
        maxPictures = std::max(maxPictures, s.picturesInFlight);
        for (std::size_t p = 0; p < phaseSteps.size(); ++p) phaseSteps[p] += s.crystalsInPhase[p];
    }
    std::string out = "{\n";
    char text[200];
    std::snprintf(text, sizeof text, "  \"steps\": %u,\n  \"frames\": %u,\n  \"frames_written\": %u,\n  ",
                  Steps(), frames_, framesWritten_);
    out += text;
    AppendSummary(out, "step_ms", Summarise(stepTimes));
    out += ",\n  ";
    AppendSummary(out, "frame_interval_ms", Summarise(frameIntervals_));
    out += ",\n  ";
    AppendSummary(out, "draw_calls_per_frame", Summarise(draws));
    out += ",\n  ";
    AppendSummary(out, "immediate_calls_per_frame", Summarise(calls));
    out += ",\n  ";
    AppendSummary(out, "triangles_per_frame", Summarise(triangles));
    out += ",\n  ";
    AppendSummary(out, "upload_bytes_per_frame", Summarise(uploads));
    out += ",\n  ";
    AppendSummary(out, "texture_binds_per_frame", Summarise(binds));
    out += ",\n  ";
    AppendSummary(out, "live_sparks", Summarise(sparks));
    out += ",\n  ";
    AppendSummary(out, "pictures_in_flight", Summarise(pictures));
    static const char* kPhaseNames[6] = {"listening", "recording", "revealing", "showing", "dissolving", "resting"};
    out += ",\n  \"crystal_steps_by_phase\": {";
    for (std::size_t p = 0; p < phaseSteps.size(); ++p) {
        std::snprintf(text, sizeof text, "%s\"%s\": %llu", p == 0 ? "" : ", ", kPhaseNames[p],
                      static_cast<unsigned long long>(phaseSteps[p]));
        out += text;
    }
    out += "}\n}\n";
    return out;
}

std::string RunStatistics::SummaryLine() const
{
    std::vector<double> stepTimes, draws;
    std::uint32_t maxSparks = 0;
    for (const StepSample& s : steps_) {
        stepTimes.push_back(s.stepMilliseconds);
        if (s.presented) draws.push_back(s.gpuDraws);
        maxSparks = std::max(maxSparks, s.liveSparks);
    }
    Summary step = Summarise(stepTimes);
    Summary draw = Summarise(draws);
    char text[256];
    std::snprintf(text, sizeof text,
                  "%u steps, %u frames; step %.2f ms median, %.2f ms p99, %.2f ms max; %.0f draw calls per frame "
                  "(max %.0f); up to %u sparks",
                  Steps(), frames_, step.median, step.p99, step.max, draw.median, draw.max, maxSparks);
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
